#pragma once
// ASCII character classes and case, as markup and labels use them: only the
// 26 letters fold, so every other byte keeps its place and meaning.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace tbx::text {

constexpr bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool IsAsciiAlnum(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// White space as HTML has it.
constexpr bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// The value of a hexadecimal digit, -1 for any other character.
constexpr int HexDigitValue(char c) {
    c = AsciiLower(c);
    return IsAsciiDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// lower is in lower case.
constexpr bool EqualsAsciiNoCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (AsciiLower(text[i]) != lower[i])
            return false;
    }
    return true;
}

// Whether text holds lower (in lower case) at at.
constexpr bool HasAsciiNoCaseAt(std::string_view text, std::size_t at, std::string_view lower) {
    return at <= text.size() && text.size() - at >= lower.size() &&
           EqualsAsciiNoCase(text.substr(at, lower.size()), lower);
}

constexpr std::string_view TrimHtmlSpace(std::string_view text) {
    while (!text.empty() && IsHtmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsHtmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// The first place of lower (in lower case, starting with a character that
// has no case) in text at or after from.
inline std::size_t FindAsciiNoCase(std::string_view text, std::string_view lower,
                                   std::size_t from) {
    while (from < text.size()) {
        const void* hit = std::memchr(text.data() + from, lower[0], text.size() - from);
        // Needles start with a character that has no case.
        if (!hit)
            return std::string_view::npos;
        from = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (HasAsciiNoCaseAt(text, from, lower))
            return from;
        ++from;
    }
    return std::string_view::npos;
}

// The next place of a needle at or after a position, remembered. Scanning
// only moves forward, so a needle that is missing or far ahead is looked
// for once, not once per tag: a page full of unclosed quotes or comments
// still costs linear time.
class NextMatch {
public:
    NextMatch(std::string_view text, std::string_view lowerNeedle)
        : text_(text), needle_(lowerNeedle) {}

    std::size_t From(std::size_t pos) {
        if (!searched_ || pos < from_ || (at_ != std::string_view::npos && pos > at_)) {
            at_ = FindAsciiNoCase(text_, needle_, pos);
            from_ = pos;
            searched_ = true;
        }
        return at_;
    }

private:
    std::string_view text_, needle_;
    bool searched_ = false;
    std::size_t from_ = 0, at_ = std::string_view::npos;
};

// A whole number in decimal or, after "0x" or "0X", hexadecimal, as project
// files and C headers write them; nothing for any other text or a number
// past 32 bits.
inline std::optional<std::uint32_t> ParseUnsigned32(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace tbx::text
