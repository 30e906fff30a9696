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

} // namespace
} // namespace tbx
