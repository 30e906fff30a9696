#pragma once
// The title a page shows in the index and the build window.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tbx {

inline constexpr const char* kNoTitle = "---NoTitle---";

// No real title comes near this: titles run to tens of characters, a few
// hundred at most, and a window caption shows far fewer. A page whose title
// would be longer gets its file title, so a hostile page cannot make the
// reader read on or hold more than this.
inline constexpr std::size_t kMaxTitleBytes = 64 * 1024;

enum class TitleSource {
    Tag,        // the text between the first "<title>" and the "</title>" after it
    FileTitle,  // the page has no such pair: its file name
    Unreadable, // the page could not be read
};

struct PageTitle {
    std::string text; // UTF-8
    TitleSource source = TitleSource::Unreadable;
};

// Reads only as far as it needs: the start of the page, more only while the
// title is not complete in what was read. The tag text is decoded in the
// page's charset (text::DecidePageCharset, Windows-1251 when it declares
// none), references left as written.
PageTitle ExtractPageTitle(const std::string& path);

// The content of the first <title> element, as the markup reader finds it,
// in a page held in memory (which ends at its first zero byte); nothing
// when the page has no title with its end tag or the text is longer than
// kMaxTitleBytes.
std::optional<std::string_view> TitleTagText(std::string_view page);

// The tag text, else the file title, else "---NoTitle---".
std::string GetPageTitle(const std::string& path);

// The name the user sees for a file: its name with extension, without folder.
std::string FileTitle(const std::string& path);

} // namespace tbx
