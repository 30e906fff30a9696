#pragma once
// Windows language ids (LCID): what a project's "Language" names, and the
// ANSI code page a help file stores that language's texts in.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tbx::text {

struct Language {
    std::uint32_t lcid;
    std::string_view tag;  // "fr-FR": for the collator
    std::string_view name; // "French (France)"
    int codePage;          // ANSI code page; 0: the language has none
};

// A project that names no language is taken as English (United States).
inline constexpr std::uint32_t kDefaultLanguage = 0x409;

// The language of an id, or nullptr for an id Windows does not assign.
const Language* FindLanguage(std::uint32_t lcid);

// The code page help files of that language store their texts in. A
// language without an ANSI code page, or an unknown id, gets Windows-1252,
// as the viewer's own Western default.
int AnsiCodePage(std::uint32_t lcid);

// The id of a language named in English or by its tag, in any case:
// "English (United States)", "en-US", or a language alone ("English",
// "Russian"), which means the country Windows lists it with first.
std::optional<std::uint32_t> FindLanguageByName(std::string_view name);

// "0x409", "0x0409", "1033", or any of them followed by a name
// ("0x419 Russian"), or a name alone (FindLanguageByName); nothing when
// the value starts with no number of 1 to 0xFFFF and is no such name.
std::optional<std::uint32_t> ParseLanguageValue(std::string_view value);

} // namespace tbx::text
