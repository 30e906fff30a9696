#include "text/text_case.h"

#include <gtest/gtest.h>

namespace tbx {
namespace {

TEST(TextCase, LettersOfEveryScriptWeListFoldAndOtherBytesStayThemselves) {
    EXPECT_TRUE(EqualNoCase("Blue.CSS", "blue.css"));
    EXPECT_TRUE(EqualNoCase("ÉTÉ", "été"));
    EXPECT_TRUE(EqualNoCase("СТИЛЬ.css", "стиль.CSS"));
    EXPECT_TRUE(EqualNoCase("ЁЖ", "ёж"));
    EXPECT_FALSE(EqualNoCase("е", "ё"));
    EXPECT_FALSE(EqualNoCase("\xC0", "\xE0")); // bytes, not Latin-1 letters
    EXPECT_TRUE(StartsWithNoCase("Светлый.css", "свет"));
    EXPECT_FALSE(StartsWithNoCase("св", "свет"));
    EXPECT_TRUE(EndsWithNoCase("Index.HTML", ".html"));
    EXPECT_FALSE(EndsWithNoCase("css", ".css"));
    EXPECT_EQ(ToLowerCase("ГЛАВА Ё.HTM Été \xC0"), "глава ё.htm été \xC0");
    EXPECT_TRUE(!LessNoCase("Ёж", "ёж") && !LessNoCase("ёж", "Ёж") && LessNoCase("еж", "ёж"));
    // "ё" between "е" and "ж", whatever the case.
    EXPECT_TRUE(NameLess("Ежи", "ёж") && NameLess("ЁЖ", "жук"));
}

// Patterns as Windows matches them against a folder's names.
TEST(TextCase, FilePatternsMatchWholeNamesWithoutRegardToCase) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.gif", "Pic.GIF", true}, {"*.gif", "pic.gif.bak", false},
        {"*.gif", ".gif", true},    {"?.htm", "а.htm", true}, // one letter, two bytes
        {"?.htm", "ab.htm", false}, {"Глава*.HTM", "глава 2 (черновик).htm", true},
        {"*a*b", "aXbYaab", true},  {"*a*b", "aXbYa", false},
        {"*.*", "README", true},    {"a*.*", "abc.txt", true},
        {"*.*", "", true},          {"[a].htm", "a.htm", false}, // no bracket classes
        {"ё*", "Ёж", true},         {"е*", "ёж", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesNoCase(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

} // namespace
} // namespace tbx
