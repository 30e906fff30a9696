#pragma once
// Where a link of a help page, or a target of its contents and index,
// leads: to a file stored in the help file shown, into another help file,
// or out to the web. Standard C++ only.

#include <string>
#include <string_view>

namespace tbx::viewer {

// The scheme the viewer's pages are served under; "ms-its:" and
// "mk:@MSITStore:" links are served too, as the help pages write them.
inline constexpr std::string_view kHelpScheme = "tomebox-help";
// One host for every page, so that frames of one help file share an origin
// and may script each other.
inline constexpr std::string_view kHelpHost = "chm";
inline constexpr std::string_view kItsScheme = "ms-its";
inline constexpr std::string_view kMkScheme = "mk";

struct HelpLink {
    enum class Kind {
        Stored,    // stored in the help file shown: stored
        OtherFile, // stored in another help file: helpFile, stored
        Web,       // http, https, ftp, mailto: for the desktop's browser
        Invalid,   // leads nowhere the viewer may go (outside the file, javascript:)
    };
    Kind kind = Kind::Invalid;
    std::string helpFile; // OtherFile: the help file's name as the link gives it
    std::string stored;   // "/dir/page.htm", percent-escapes decoded
    std::string fragment; // without "#"
};

// A link as written on the page stored under base ("/dir/page.htm"), or in
// a sitemap (base "/"). A relative link counts from base's folder; "..",
// "." and doubled slashes are resolved, and a link above the root leads
// nowhere. "ms-its:" and "mk:@MSITStore:" links name a help file before
// "::"; one named as the file shown (shownFile, its file name) stays in it.
HelpLink ResolveLink(std::string_view link, std::string_view base, std::string_view shownFile);

// The stored name of a path inside the file: leading "/", no "." or ".."
// steps, no doubled "/". Empty when it climbs above the root.
std::string NormalStoredName(std::string_view path);

// %XX escapes decoded (bytes as they stand; a malformed escape stays).
std::string PercentDecoded(std::string_view text);

// The address the viewer serves a stored name under, with its fragment:
// "tomebox-help://chm/dir/page.htm#part", non-ASCII bytes and spaces escaped.
std::string HelpAddress(std::string_view stored, std::string_view fragment = {});

} // namespace tbx::viewer
