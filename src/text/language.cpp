#include "text/language.h"

#include "text/ascii.h"

#include <algorithm>
#include <iterator>

namespace tbx::text {
namespace {

constexpr Language kLanguages[] = {
#include "text/language_table.inc"
};

static_assert(std::is_sorted(std::begin(kLanguages), std::end(kLanguages),
                             [](const Language& a, const Language& b) { return a.lcid < b.lcid; }));

} // namespace

const Language* FindLanguage(std::uint32_t lcid) {
    const auto* at = std::lower_bound(
        std::begin(kLanguages), std::end(kLanguages), lcid,
        [](const Language& language, std::uint32_t id) { return language.lcid < id; });
    return at != std::end(kLanguages) && at->lcid == lcid ? at : nullptr;
}

int AnsiCodePage(std::uint32_t lcid) {
    const Language* language = FindLanguage(lcid);
    return language && language->codePage != 0 ? language->codePage : 1252;
}

std::optional<std::uint32_t> FindLanguageByName(std::string_view name) {
    name = TrimHtmlSpace(name);
    const auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(),
                          [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
    };
    const Language* alone = nullptr;
    for (const Language& language : kLanguages) {
        if (same(name, language.name) || same(name, language.tag))
            return language.lcid;
        // "English" of "English (United States)"; the primary sublanguage
        // (1, the top six bits of the id) is the one Windows lists first.
        const std::string_view primary = language.name.substr(0, language.name.find(" ("));
        if (same(name, primary) &&
            (!alone || ((language.lcid >> 10) == 1 && (alone->lcid >> 10) != 1)))
            alone = &language;
    }
    return alone ? std::optional(alone->lcid) : std::nullopt;
}

std::optional<std::uint32_t> ParseLanguageValue(std::string_view value) {
    value = TrimHtmlSpace(value);
    if (!value.empty() && !IsAsciiDigit(value[0]))
        return FindLanguageByName(value);
    const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    if (hex)
        value.remove_prefix(2);
    std::uint32_t number = 0;
    std::size_t digits = 0;
    for (; digits < value.size(); ++digits) {
        const int digit = hex                           ? HexDigitValue(value[digits])
                          : IsAsciiDigit(value[digits]) ? value[digits] - '0'
                                                        : -1;
        if (digit < 0)
            break;
        number = number * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        if (number > 0xFFFF)
            return std::nullopt;
    }
    // The number ends the value or a space follows it: "0x419 Russian".
    if (digits == 0 || number == 0 || (digits < value.size() && !IsHtmlSpace(value[digits])))
        return std::nullopt;
    return number;
}

} // namespace tbx::text
