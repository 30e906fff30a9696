#include "text/charset.h"
#include "text/search_alphabet.h"

#include <gtest/gtest.h>

namespace tbx::text {
namespace {

// The byte a character folds to, as UTF-8 again; "" for no word byte.
std::string Folded(int codePage, std::string_view utf8) {
    const std::optional<std::string> bytes = EncodeExact(utf8, codePage);
    if (!bytes || bytes->size() != 1)
        return "not in the code page";
    const unsigned char folded = FoldSearchByte(codePage, static_cast<unsigned char>((*bytes)[0]));
    return folded
               ? Decode(std::string(1, static_cast<char>(folded)), Charset::ForCodePage(codePage))
               : "";
}

TEST(SearchAlphabetTest, LettersFoldAsTheViewerLooksThemUp) {
    const struct {
        int codePage;
        const char* character;
        const char* folded;
    } cases[] = {
        // Latin letters lose case and diacritics, in every code page.
        {1252, "A", "a"},
        {1252, "É", "e"},
        {1252, "ÿ", "y"},
        {1252, "Ÿ", "y"},
        {1252, "ß", "ß"},
        {1252, "Æ", "æ"},
        {1252, "7", "7"},
        {1250, "Č", "c"},
        {1250, "ł", "ł"},
        {1250, "Ł", "ł"},
        {1250, "Đ", "đ"},
        {1254, "İ", "i"},
        {1254, "ı", "ı"},
        {1254, "Ş", "s"},
        {1257, "Õ", "o"},
        {1258, "Ư", "u"},
        {1258, "Đ", "đ"},
        {1251, "Z", "z"},
        // Cyrillic keeps every letter apart; other scripts keep their marks.
        {1251, "Ё", "ё"},
        {1251, "ё", "ё"},
        {1251, "Й", "й"},
        {1251, "Ў", "ў"},
        {1251, "Ґ", "ґ"},
        {1253, "Ά", "ά"},
        {1253, "Σ", "σ"},
        {1253, "ς", "ς"},
        {1255, "ש", "ש"},
        {1256, "ك", "ك"},
        {874, "ก", "ก"},
        {874, "ั", "ั"},
        {874, "๓", "๓"},
        // Symbols, punctuation and the ordinal signs belong to no word.
        {1252, "_", ""},
        {1252, "ª", ""},
        {1252, "µ", ""},
        {1252, "¼", ""},
        {1251, "№", ""},
        {1252, "-", ""},
        {1256, "،", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Folded(c.codePage, c.character), c.folded) << c.codePage << " " << c.character;
}

// A stored word folded again stays as it is, so the viewer finds it;
// soft hyphens and combining marks leave words whole; double-byte code
// pages have no alphabet at all.
TEST(SearchAlphabetTest, FoldingIsStableAndOnlySingleByteCodePagesHaveIt) {
    for (const int codePage : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
        const SearchAlphabet* alphabet = FindSearchAlphabet(codePage);
        ASSERT_NE(alphabet, nullptr) << codePage;
        for (unsigned byte = 0; byte < 256; ++byte) {
            const unsigned char folded = alphabet->fold[byte];
            if (folded) {
                EXPECT_EQ(alphabet->fold[folded], folded) << codePage << " " << byte;
            }
            EXPECT_FALSE(folded && alphabet->ignorable[byte]) << codePage << " " << byte;
        }
        EXPECT_EQ(alphabet->fold[0], 0) << codePage;
        EXPECT_TRUE(alphabet->IgnorableCodePoint(0xAD)) << codePage;  // soft hyphen
        EXPECT_TRUE(alphabet->IgnorableCodePoint(0x301)) << codePage; // combining acute
        EXPECT_EQ(alphabet->FoldCodePoint(U'é'), 'e') << codePage;    // held or not
        EXPECT_EQ(alphabet->FoldCodePoint(U'\x4E2D'), 0) << codePage; // beyond the table
    }
    EXPECT_TRUE(FindSearchAlphabet(1258)->ignorable[0xEC]); // combining acute in 1258
    for (const int codePage : {932, 936, 949, 950, 65001, 0}) {
        EXPECT_EQ(FindSearchAlphabet(codePage), nullptr) << codePage;
        EXPECT_EQ(FoldSearchByte(codePage, 'A'), 0) << codePage;
    }
}

} // namespace
} // namespace tbx::text
