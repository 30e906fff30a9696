#pragma once
// The letters and digits of the single-byte ANSI code pages, folded as the
// full-text search of a help file stores its words and as the viewer folds
// a query before looking it up: the compiler and the viewer's search call
// the same function, so the two never disagree.
//
// A word character folds to lower case in the code page's own mapping.
// Latin letters with diacritics also lose them, as Microsoft's compiler
// folds Western text ("É" and "é" to "e"); Cyrillic keeps every letter apart
// ("ё" is not "е", "й" is not "и"), and other scripts keep their marks.
// Built once from ICU and the program's code page tables.

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace tbx::text {

// Characters below this are the only ones a UTF-8 page's words are read
// from (Latin, Greek, Cyrillic, Hebrew, Arabic, Thai and Vietnamese letters).
inline constexpr char32_t kSearchCodePointEnd = 0x2000;

struct SearchAlphabet {
    int codePage = 0;
    // The folded byte of each byte of the code page, 0 for a byte that
    // belongs to no word.
    std::array<unsigned char, 256> fold{};
    // Bytes that vanish from a word without ending it: the soft hyphen and
    // the combining marks of Hebrew, Arabic and Vietnamese.
    std::bitset<256> ignorable;
    // What each byte stands for; 0 where the code page assigns nothing.
    std::array<char32_t, 256> codePoint{};

    // The folded byte a character gives in this code page, also for one the
    // code page cannot hold but whose base letter it has ("ế" in 1252 is
    // "e"); 0 for a character that belongs to no word.
    unsigned char FoldCodePoint(char32_t cp) const {
        return cp < kSearchCodePointEnd ? foldOf[cp] : 0;
    }
    // Vanishes from a word without ending it (soft hyphen, combining mark).
    bool IgnorableCodePoint(char32_t cp) const {
        return cp < kSearchCodePointEnd && ignorableOf[cp];
    }

    std::vector<unsigned char> foldOf; // by code point, kSearchCodePointEnd long
    std::vector<bool> ignorableOf;     // by code point
};

// The alphabet of a single-byte ANSI code page with full-text search (874,
// 1250 to 1258), or nullptr for any other code page.
const SearchAlphabet* FindSearchAlphabet(int codePage);

// The byte as the full-text search stores it and the viewer looks it up:
// folded, or 0 for a byte that belongs to no word (and for every byte of a
// code page without a search alphabet).
unsigned char FoldSearchByte(int codePage, unsigned char byte);

} // namespace tbx::text
