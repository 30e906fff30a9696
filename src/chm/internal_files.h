#pragma once
// The help-level files a compiled help file carries besides the site's own:
// #SYSTEM, #WINDOWS, #STRINGS, #ITBITS, #TOPICS, #URLTBL, #URLSTR, #IDXHDR
// and #IVB, built
// from a plain model. Pure functions: no file system, no clock.
//
// Every text of the model is UTF-8; the files hold it in the ANSI code page
// of the model's language (text::AnsiCodePage: Windows-1251 for Russian), as
// the viewers read it; a character the code page lacks takes its nearest form.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

struct WindowRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const WindowRect&) const = default;
};

// One help window as a project's [WINDOWS] line defines it, field by field
// in the order of the definition. A field the definition leaves empty stays
// empty (an empty text, or no number).
struct HelpWindow {
    std::string name;                        // the key of the line
    std::string caption;                     // 1
    std::string contentsFile;                // 2
    std::string indexFile;                   // 3
    std::string defaultFile;                 // 4
    std::string homeFile;                    // 5
    std::string jump1Url;                    // 6
    std::string jump1Text;                   // 7
    std::string jump2Url;                    // 8
    std::string jump2Text;                   // 9
    std::optional<std::int64_t> properties;  // 10: navigation pane style bits
    std::optional<std::int64_t> navWidth;    // 11
    std::optional<std::int64_t> buttons;     // 12: toolbar button bits
    std::optional<WindowRect> rect;          // 13
    std::optional<std::int64_t> styles;      // 14
    std::optional<std::int64_t> exStyles;    // 15
    std::optional<std::int64_t> showState;   // 16
    std::optional<std::int64_t> navClosed;   // 17
    std::optional<std::int64_t> defaultTab;  // 18
    std::optional<std::int64_t> tabPosition; // 19
    std::optional<std::int64_t> notifyId;    // 20

    bool operator==(const HelpWindow&) const = default;
};

struct HelpTopic {
    std::string name;                 // stored name, "/dir/page.htm"
    std::optional<std::string> title; // none: the topic has no title
    bool inContents = true;
};

// What the contents sitemap's "text/site properties" say of the tree's
// look, which #IDXHDR records; a field not given stays empty.
struct SitemapProperties {
    std::string imageList;
    bool folderImages = false; // ImageType=Folder
    std::optional<std::uint32_t> background, foreground;
    std::string font;
    std::optional<std::uint32_t> windowStyles, exWindowStyles;
    std::string frameName, windowName;
};

// A context id and the file it opens, as [ALIAS] names it.
struct HelpContextId {
    std::uint32_t id = 0;
    std::string target;
};

struct HelpModel {
    std::string title;
    std::string defaultTopic;       // stored name of the start page
    std::string defaultWindow;      // name of one of windows, or empty
    std::string compiledFile;       // path or name of the .chm; its stem is recorded
    std::uint32_t language = 0x419; // Windows language id
    bool fullTextSearch = false;
    std::string contentsFile; // stored names, empty when there is none
    std::string indexFile;
    // The binary keyword index is written ($WWKeywordLinks): #SYSTEM names
    // the index file it was made from (code 7). KLinks/ALinks: it holds
    // keywords / there are associative keywords.
    bool binaryIndex = false;
    bool keywordLinks = false;
    bool associativeLinks = false;
    std::string defaultFont; // e.g. "Arial,8,204"; empty: none recorded
    std::string compilerVersion = "HHA Version 4.74.8702";
    std::int64_t timestamp = 0; // seconds since 1970
    std::vector<HelpWindow> windows;
    std::vector<HelpTopic> topics;
    std::vector<HelpContextId> contextIds; // in the order the project lists them
    std::vector<std::string> mergeFiles;   // [MERGE FILES] as written
    SitemapProperties contentsProperties;
};

// The bytes of each file, ready to be stored under its name ("/#SYSTEM" ...).
struct HelpFiles {
    std::string system;
    std::string windows;
    std::string strings;
    std::string itbits;
    std::string topics;
    std::string urltbl;
    std::string urlstr;
    std::string idxhdr; // also in #SYSTEM (code 13)
    std::string ivb;    // empty when there are no context ids: not stored then
};

HelpFiles BuildHelpFiles(const HelpModel& model);

// One record of a #SYSTEM file as stored: its code and its bytes.
struct SystemRecord {
    std::uint16_t code = 0;
    std::string_view data;
};

// The #SYSTEM record codes a reader of help files asks for.
constexpr std::uint16_t kSystemDefaultTopic = 2;
constexpr std::uint16_t kSystemTitle = 3;
constexpr std::uint16_t kSystemSettings = 4; // language id first

// The records of a #SYSTEM file (after its version), in order; a record cut
// short by the end of the bytes ends the list.
std::vector<SystemRecord> ReadSystemRecords(std::string_view system);

// The hash #URLTBL is sorted by, of a stored name without its leading "/".
std::uint32_t UrlHash(std::string_view url);

// Sizes of the fixed records, for readers and tests.
constexpr std::size_t kWindowRecordSize = 196;
constexpr std::size_t kTopicEntrySize = 16;
constexpr std::size_t kUrlTableEntrySize = 12;
constexpr std::size_t kStringBlockSize = 0x1000;
constexpr std::size_t kIdxHdrSize = 0x1000;
// #IDXHDR has room for this many merged files' names.
constexpr std::size_t kMaxMergeFiles = (kIdxHdrSize - 0x50) / 4;

// #TOPICS flag values: listed in the contents or not.
constexpr std::uint16_t kTopicInContents = 6;
constexpr std::uint16_t kTopicNotInContents = 2;

} // namespace tbx::chm
