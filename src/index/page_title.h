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

// Reads only as far as it needs: up to the first zero byte, the end of
// "</title>", or kMaxTitleBytes past "<title>". Tag text is decoded as
// UTF-8 when valid, else as Windows-1251.
PageTitle ExtractPageTitle(const std::string& path);

// The bytes between the first "<title>" and the "</title>" after it, in a
// page held in memory (which ends at its first zero byte); nothing when the
// page has no such pair or the text is longer than kMaxTitleBytes.
std::optional<std::string_view> TitleTagText(std::string_view page);

// The tag text, else the file title, else "---NoTitle---".
std::string GetPageTitle(const std::string& path);

// The name the user sees for a file: its name with extension, without folder.
std::string FileTitle(const std::string& path);

} // namespace tbx
