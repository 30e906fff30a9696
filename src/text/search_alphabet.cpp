#include "text/search_alphabet.h"

#include "text/charset.h"

#include <map>
#include <memory>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

namespace tbx::text {
namespace {

constexpr int kSearchCodePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

bool IsThai(char32_t cp) {
    return cp >= 0xE00 && cp <= 0xE7F;
}

// Letters and digits make words. The ordinal indicators and the micro sign
// are letters to Unicode but symbols in running text, as the viewer has them.
bool IsWordCharacter(char32_t cp) {
    if (cp == 0xAA || cp == 0xBA || cp == 0xB5 || cp == 0x640)
        return false;
    switch (u_charType(static_cast<UChar32>(cp))) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER:
        return true;
    case U_NON_SPACING_MARK:
        return IsThai(cp); // Thai vowels and tone marks are part of the word
    default:
        return false;
    }
}

// Soft hyphens, joiners and direction marks, combining accents and vowel
// points, and the Arabic stretching stroke, leave a word whole.
bool IsIgnorable(char32_t cp) {
    const auto type = u_charType(static_cast<UChar32>(cp));
    return cp == 0x640 || type == U_FORMAT_CHAR || (type == U_NON_SPACING_MARK && !IsThai(cp));
}

// The first character of the canonical decomposition: the base letter of
// an accented one, or the character itself.
char32_t BaseLetter(char32_t cp) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed;
    if (U_FAILURE(status) || !nfd->getDecomposition(static_cast<UChar32>(cp), decomposed) ||
        decomposed.isEmpty())
        return cp;
    return static_cast<char32_t>(decomposed.char32At(0));
}

bool IsLatin(char32_t cp) {
    UErrorCode status = U_ZERO_ERROR;
    return uscript_getScript(static_cast<UChar32>(cp), &status) == USCRIPT_LATIN;
}

std::unique_ptr<SearchAlphabet> BuildAlphabet(int codePage) {
    auto alphabet = std::make_unique<SearchAlphabet>();
    alphabet->codePage = codePage;
    const Charset charset = Charset::ForCodePage(codePage);
    std::map<char32_t, unsigned char> byteOf;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const std::string utf8 = Decode(std::string(1, static_cast<char>(byte)), charset);
        std::size_t at = 0;
        char32_t cp = 0;
        if (!NextUtf8(utf8, at, cp) || cp == 0xFFFD || at != utf8.size())
            continue;
        alphabet->codePoint[byte] = cp;
        byteOf.emplace(cp, static_cast<unsigned char>(byte));
    }
    const auto byteFor = [&byteOf](char32_t cp) -> int {
        const auto found = byteOf.find(cp);
        return found == byteOf.end() ? -1 : found->second;
    };
    for (unsigned byte = 1; byte < 256; ++byte) {
        const char32_t cp = alphabet->codePoint[byte];
        if (cp == 0)
            continue;
        if (IsIgnorable(cp)) {
            alphabet->ignorable.set(byte);
            continue;
        }
        if (!IsWordCharacter(cp))
            continue;
        char32_t lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(cp)));
        if (byteFor(lower) < 0)
            lower = cp;
        if (IsLatin(lower)) {
            const char32_t base = BaseLetter(lower);
            if (base != lower && byteFor(base) >= 0 && IsWordCharacter(base))
                lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(base)));
        }
        alphabet->fold[byte] = static_cast<unsigned char>(byteFor(lower));
    }
    // A character of a UTF-8 page: its own byte's fold, or that of its lower
    // case or base letter when the code page lacks it.
    alphabet->foldOf.assign(kSearchCodePointEnd, 0);
    alphabet->ignorableOf.assign(kSearchCodePointEnd, false);
    for (char32_t cp = 1; cp < kSearchCodePointEnd; ++cp) {
        if (const int byte = byteFor(cp); byte >= 0) {
            alphabet->foldOf[cp] = alphabet->fold[byte];
            alphabet->ignorableOf[cp] = alphabet->ignorable[byte];
            continue;
        }
        if (IsIgnorable(cp)) {
            alphabet->ignorableOf[cp] = true;
            continue;
        }
        if (!IsWordCharacter(cp))
            continue;
        const char32_t lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(cp)));
        for (const char32_t candidate : {lower, BaseLetter(lower), BaseLetter(cp)}) {
            if (const int byte = byteFor(candidate); byte >= 0 && alphabet->fold[byte]) {
                alphabet->foldOf[cp] = alphabet->fold[byte];
                break;
            }
        }
    }
    return alphabet;
}

struct Alphabets {
    std::map<int, std::unique_ptr<SearchAlphabet>> byCodePage;
    Alphabets() {
        for (const int codePage : kSearchCodePages)
            byCodePage.emplace(codePage, BuildAlphabet(codePage));
    }
};

} // namespace

const SearchAlphabet* FindSearchAlphabet(int codePage) {
    static const Alphabets alphabets;
    const auto found = alphabets.byCodePage.find(codePage);
    return found == alphabets.byCodePage.end() ? nullptr : found->second.get();
}

unsigned char FoldSearchByte(int codePage, unsigned char byte) {
    const SearchAlphabet* alphabet = FindSearchAlphabet(codePage);
    return alphabet ? alphabet->fold[byte] : 0;
}

} // namespace tbx::text
