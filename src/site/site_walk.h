#pragma once
// The walk from the start page: every file its links reach within the site
// root, read once, and every link that was not followed with the page it
// stands on and why.

#include "site/link_scanner.h"
#include "site/sitemap_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tbx::site {

enum class FileKind {
    Page,       // .htm, .html, .xhtml, .shtml: scanned, and a topic of the help file
    Sitemap,    // .hhc, .hhk: contents and index, scanned for their pages
    StyleSheet, // .css: scanned for url() and @import
    Other,      // images and everything else: stored as they are
};

struct ReachedFile {
    std::size_t offset; // of the link's text as written, in the linking file's bytes
    std::size_t file;   // the file it reached: an index into SiteWalk::files
};

struct SiteFile {
    std::string path; // on disk: the site folder's real path, then the names as found
    std::string name; // stored name below the root, UTF-8: "/dir/page.htm"
    // The whole file, held only for what later steps read again: sitemaps
    // and the start page. Every other file is read whole once while it is
    // scanned (pages, style sheets) and then again when the help file is
    // written (OpenSiteFile), so that the site is never held at once.
    std::string bytes;
    std::uint64_t size = 0;
    dev_t device = 0; // of the file the walk took
    ino_t inode = 0;
    std::int64_t modified = 0; // its modification time, in nanoseconds
    FileKind kind = FileKind::Other;
    std::string title;                 // pages: the title text (UTF-8), else the file's name
    Charset charset = Charset::Utf8(); // pages and sitemaps: how their bytes are read
    // Files whose bytes are held: each link in an HTML attribute that
    // reached a file, by where the link's text starts in bytes, in that
    // order (none for a UTF-16 page, whose links are read from its text in
    // UTF-8).
    std::vector<ReachedFile> reached;
    // Pages, when the walk was asked for them: the keywords of their KLink
    // and ALink objects, read while their bytes were at hand.
    PageKeywords keywords;
};

enum class RefusalReason {
    OutsideRoot,     // the link climbs out of the site root
    LinkOutsideRoot, // a symbolic link on its way resolves outside the root
    NotAFile,        // a folder, pipe, device or socket
    Missing,         // nothing of that name
    Backslash,       // nothing of that name with its backslashes taken as "/" or kept
    TooLong,         // a path longer than the system takes
    Unenterable,     // a folder on the way cannot be entered
    Unreadable,      // there, but could not be read (detail: the system's words)
    NameClash,       // differs only in letter case from a file taken (detail: its name)
    HelpFile,        // the help file being written
    DrivePath,       // a Windows drive path, which names nothing here
};

struct Refusal {
    std::string link; // as written, in UTF-8
    std::string page; // stored name of the page it stands on; empty: the project
    RefusalReason reason = RefusalReason::Missing;
    std::string detail;
};

// Why, in a few words for the compiler's output: "leaves the site root" ...
std::string_view DescribeRefusal(RefusalReason reason);

struct WalkOptions {
    std::string root;                // absolute folder
    std::vector<std::string> starts; // absolute paths: the start page first
    std::vector<std::string> skip;   // never taken, such as the help file being written
    // The project's code page: pages that declare no charset and file names
    // not in UTF-8 are read in it.
    Charset legacy = Charset::ForCodePage(kProgramCodePage);
    std::function<void(std::size_t filesRead)> progress; // after each file read
    bool pageKeywords = false;                           // fill SiteFile::keywords
};

// The site folder the walk held, for reading its files again.
struct SiteRoot;

struct SiteWalk {
    std::vector<SiteFile> files; // in the order reached
    std::vector<Refusal> refusals;
    // Stored name of each start, in the order given (the start page first);
    // empty for a start that was refused.
    std::vector<std::string> startNames;
    std::string error; // the root cannot be used, or memory ran out; nothing was walked
    std::shared_ptr<const SiteRoot> root;
};

SiteWalk WalkSite(const WalkOptions& options);

// Opens a file of the walk again for reading: the very file the walk took
// (its device, inode, size and modification time), found again below the
// site folder as the walk found it. The descriptor, or -1 with error saying
// why not.
int OpenSiteFile(const SiteWalk& walk, const SiteFile& file, std::string& error);

// The same file read whole into bytes. Empty, or why not ("... changed since
// the site was walked" for one of another size).
std::string ReadSiteFile(const SiteWalk& walk, const SiteFile& file, std::string& bytes);

} // namespace tbx::site
