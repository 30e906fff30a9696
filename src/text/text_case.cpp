#include "text/text_case.h"

#include <algorithm>
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

char32_t LowerCodePoint(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) // Latin-1 capitals
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) // А..Я
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) // Ѐ..Џ, Ё among them
        return c + 0x50;
    return c;
}

// Sort key of a code point without its case. Keys are doubled so that "ё"
// fits between "е" and "ж".
char32_t FoldKey(char32_t c) {
    c = LowerCodePoint(c);
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

// Compared key by key without building the folded texts: lists of
// thousands of names are sorted with it.
int CompareFolded(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t ka = FoldKey(NextCodePoint(a, i));
        const char32_t kb = FoldKey(NextCodePoint(b, j));
        if (ka != kb)
            return ka < kb ? -1 : 1;
    }
    return (i < a.size()) - (j < b.size());
}

// ---- The order of an index ------------------------------------------------------

// Weights of the index order, in the order the groups sort.
constexpr char32_t kSeparatorWeight = 1;
constexpr char32_t kNumberWeight = 0x100; // + the count of significant digits
constexpr char32_t kCyrillicWeight = 0x10000;
constexpr char32_t kLatinWeight = 0x20000;
constexpr char32_t kOtherWeight = 0x30000; // + the code point

bool IsAsciiDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// Spaces, punctuation and symbols: what stands between words.
bool IsSeparator(char32_t c) {
    if (c < 0x80)
        return !IsAsciiDigit(c) && !(c >= U'a' && c <= U'z') && !(c >= U'A' && c <= U'Z');
    return c <= 0xBF || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) || c == 0x2116;
}

} // namespace

std::u32string RussianSortKey(std::string_view text) {
    std::u32string key;
    key.reserve(text.size());
    bool separated = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const char32_t c = NextCodePoint(text, at);
        if (IsSeparator(c)) {
            separated = true;
            continue;
        }
        if (separated && !key.empty())
            key.push_back(kSeparatorWeight);
        separated = false;
        if (IsAsciiDigit(c)) {
            std::size_t end = start;
            while (end < text.size() && IsAsciiDigit(static_cast<unsigned char>(text[end])))
                ++end;
            std::string_view digits = text.substr(start, end - start);
            digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
            const std::size_t cap = kCyrillicWeight - kNumberWeight - 1;
            key.push_back(kNumberWeight + static_cast<char32_t>(std::min(digits.size(), cap)));
            key.append(digits.begin(), digits.end());
            at = end;
            continue;
        }
        const char32_t lower = c < 0x110000 ? LowerCodePoint(c) : c;
        if (lower == 0x451) // ё
            key.push_back(kCyrillicWeight + (0x435 - 0x430));
        else if (lower >= 0x430 && lower <= 0x44F) // а..я
            key.push_back(kCyrillicWeight + (lower - 0x430));
        else if (lower >= 0x400 && lower <= 0x52F) // the other Cyrillic letters, after я
            key.push_back(kCyrillicWeight + lower);
        else if (lower >= U'a' && lower <= U'z')
            key.push_back(kLatinWeight + (lower - U'a'));
        else
            key.push_back(kOtherWeight + lower);
    }
    return key;
}

bool RussianLess(std::string_view a, std::string_view b) {
    const std::u32string ka = RussianSortKey(a), kb = RussianSortKey(b);
    return ka != kb ? ka < kb : NameLess(a, b);
}

bool NameLess(std::string_view a, std::string_view b) {
    const int folded = CompareFolded(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return CompareFolded(a, b) == 0;
}

namespace {

// "*" takes as little as it can; on a mismatch the last one takes one
// character more, which is enough since earlier ones need not grow.
bool MatchesFolded(const std::u32string& p, const std::u32string& n) {
    const char32_t any = FoldKey(U'*'), one = FoldKey(U'?');
    std::size_t i = 0, j = 0, star = std::u32string::npos, resume = 0;
    while (j < n.size()) {
        if (i < p.size() && p[i] == any) {
            star = i++;
            resume = j;
        } else if (i < p.size() && (p[i] == one || p[i] == n[j])) {
            ++i;
            ++j;
        } else if (star != std::u32string::npos) {
            i = star + 1;
            j = ++resume;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == any)
        ++i;
    return i == p.size();
}

} // namespace

bool MatchesNoCase(std::string_view pattern, std::string_view name) {
    const std::u32string n = Folded(name);
    return MatchesFolded(Folded(pattern), n) ||
           (pattern.ends_with(".*") &&
            MatchesFolded(Folded(pattern.substr(0, pattern.size() - 2)), n));
}

bool LessNoCase(std::string_view a, std::string_view b) {
    return CompareFolded(a, b) < 0;
}

std::string ToLowerCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const char32_t c = NextCodePoint(text, at);
        const char32_t lower = c < 0x110000 ? LowerCodePoint(c) : c;
        if (lower == c) {
            out.append(text.substr(start, at - start));
        } else if (lower < 0x80) {
            out += static_cast<char>(lower);
        } else { // every small letter above is two bytes long
            out += static_cast<char>(0xC0 | (lower >> 6));
            out += static_cast<char>(0x80 | (lower & 0x3F));
        }
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return Folded(text).starts_with(Folded(prefix));
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    return Folded(text).ends_with(Folded(tail));
}

} // namespace tbx
