#pragma once
// The table-of-contents page "index_tbx.html" that the index window writes
// into the folder it lists, and its hand-off to the build window.

#include "platform/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tbx {

inline constexpr const char* kIndexPageName = "index_tbx.html";
inline constexpr const char* kIndexChmName = "index_tbx.chm";
inline constexpr const char* kIndexPageTitle = "Tomebox! ==СОДЕРЖАНИЕ==";

// What the index window hands to the build window: the written page, the
// help file to build from it and the page's title. Empty unless a hand-off
// is waiting; used on the user-interface thread only.
extern std::string g_strIndexPage;
extern std::string g_strIndexChm;
extern std::string g_strIndexTitle;

// One row of the index window's list, in list order.
struct IndexRow {
    std::string title; // UTF-8, HTML as the page's title tag holds it
    std::string file;  // the file name as stored on disk (raw bytes)
};

// The page's bytes, gathered line by line and put on disk in one step.
class CIndexPageFile {
public:
    // Appends a, b and c and a CR LF, in Windows-1251; characters it cannot
    // hold become numeric character references.
    void WriteHtmlLine(std::string_view a, std::string_view b, std::string_view c);
    void Clear() { bytes_.clear(); }
    const std::string& Bytes() const { return bytes_; }
    // Writes the bytes to path through a temporary file, so a failure leaves
    // an earlier page whole. Empty on success, else the system's description.
    std::string Commit(const std::string& path) const;

private:
    std::string bytes_;
};

// The link target for a file beside the page: characters that would end the
// path ("#", "?") or start an escape ("%") are percent-encoded, as are bytes
// of a name that is not UTF-8 so the link still names the file on disk.
std::string LinkTarget(std::string_view fileName);

// Writes the whole page into file: head, the style-sheet line when
// cssReference is not empty, one numbered entry per row, closing line.
void WriteIndexPage(CIndexPageFile& file, const std::vector<IndexRow>& rows,
                    const std::string& cssReference);

// The style sheet chosen in the index options ("Software/Tomebox/IndOpts").
struct StyleSheetChoice {
    std::string reference; // what the page links; empty for none
    std::string copyFrom;  // when not empty, copy this file ...
    std::string copyTo;    // ... to this path beside the page
};

// Resolves CSSPath, CSSStyle and CopyCSS: "default" in any case stands for
// programFolder + "css_dir/"; an empty style or "nocss" means no style sheet.
// An options key that cannot be opened means no style sheet.
StyleSheetChoice ChooseStyleSheet(const RegHive& hive, const std::string& programFolder,
                                  const std::string& pageFolder);

// Copies the style sheet atomically, replacing an older copy. Empty on
// success (or when source and destination are one file), else the reason.
std::string CopyStyleSheet(const std::string& from, const std::string& to);

enum class IndexStatus {
    Written,
    NoFolder,    // no absolute folder to write into: nothing written
    WriteFailed, // the page could not be written: an earlier page is intact
};

struct IndexOutcome {
    IndexStatus status = IndexStatus::Written;
    std::string pagePath;
    std::string error;        // WriteFailed: the system's description
    std::string cssCopyError; // Written, but the style sheet copy failed
    std::string cssCopyFrom;
};

// Everything "Индексировать!" writes: the page into folder (ending with "/")
// and, when the options ask for it, a copy of the style sheet beside it. A
// folder that is not absolute is refused, so nothing lands in whatever the
// process's current folder happens to be.
IndexOutcome WriteIndex(CIndexPageFile& file, const RegHive& hive, const std::string& programFolder,
                        const std::string& folder, const std::vector<IndexRow>& rows);

// Fills the hand-off texts for the page written into folder; the title is
// read back from the page itself.
void HandOffIndexPage(const std::string& folder);

// Empties the three hand-off texts.
void ClearIndexHandOff();

} // namespace tbx
