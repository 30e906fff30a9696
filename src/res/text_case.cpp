#include "res/text_case.h"

#include <string>

namespace tbx {
namespace {

// Next code point of a UTF-8 text; a byte that does not start a valid
// sequence stands for itself, beyond every code point.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return 0x110000 + lead;
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return 0x110000 + lead;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return code;
}

// Sort key of a code point without its case. Keys are doubled so that "ё"
// fits between "е" and "ж".
char32_t FoldKey(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        c += 0x20;
    else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) // Latin-1 capitals
        c += 0x20;
    else if (c >= 0x410 && c <= 0x42F) // А..Я
        c += 0x20;
    else if (c >= 0x400 && c <= 0x40F) // Ѐ..Џ, Ё among them
        c += 0x50;
    if (c == 0x451) // ё
        return 0x435 * 2 + 1;
    return c * 2;
}

std::u32string Folded(std::string_view text) {
    std::u32string keys;
    keys.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
        keys.push_back(FoldKey(NextCodePoint(text, at)));
    return keys;
}

} // namespace

bool NameLess(std::string_view a, std::string_view b) {
    // Compared key by key without building the folded texts: lists of
    // thousands of names are sorted with it.
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ka = FoldKey(NextCodePoint(a, i));
        const char32_t kb = FoldKey(NextCodePoint(b, j));
        if (ka != kb)
            return ka < kb;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return Folded(a) == Folded(b);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return Folded(text).starts_with(Folded(prefix));
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return Folded(text).ends_with(Folded(tail));
}

} // namespace tbx
