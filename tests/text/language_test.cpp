#include "text/charset.h"
#include "text/language.h"

#include <gtest/gtest.h>

namespace tbx::text {
namespace {

// Every id of the table has a code page iconv can write, and the ids the
// viewer's languages are known by map to the code pages Windows gives them.
TEST(LanguageTable, EveryLanguageHasItsAnsiCodePage) {
    const struct {
        std::uint32_t lcid;
        int codePage;
        std::string_view tag;
    } cases[] = {
        {0x409, 1252, "en-US"}, {0x40C, 1252, "fr-FR"},      {0x407, 1252, "de-DE"},
        {0x415, 1250, "pl-PL"}, {0x405, 1250, "cs-CZ"},      {0x408, 1253, "el-GR"},
        {0x41F, 1254, "tr-TR"}, {0x40D, 1255, "he-IL"},      {0x401, 1256, "ar-SA"},
        {0x427, 1257, "lt-LT"}, {0x42A, 1258, "vi-VN"},      {0x41E, 874, "th-TH"},
        {0x411, 932, "ja-JP"},  {0x412, 949, "ko-KR"},       {0x804, 936, "zh-CN"},
        {0x404, 950, "zh-TW"},  {0xC04, 950, "zh-HK"},       {0x419, 1251, "ru-RU"},
        {0x422, 1251, "uk-UA"}, {0xC1A, 1251, "sr-Cyrl-CS"}, {0x41A, 1250, "hr-HR"},
    };
    for (const auto& c : cases) {
        const Language* language = FindLanguage(c.lcid);
        ASSERT_NE(language, nullptr) << std::hex << c.lcid;
        EXPECT_EQ(language->codePage, c.codePage) << language->name;
        EXPECT_EQ(language->tag, c.tag);
        EXPECT_EQ(AnsiCodePage(c.lcid), c.codePage);
    }
    // Languages without an ANSI code page, and ids no language has, get 1252.
    EXPECT_EQ(AnsiCodePage(0x439), 1252); // Hindi
    EXPECT_EQ(FindLanguage(0x7777), nullptr);
    EXPECT_EQ(AnsiCodePage(0x7777), 1252);
    for (std::uint32_t lcid = 1; lcid <= 0xFFFF; ++lcid) {
        if (const Language* language = FindLanguage(lcid); language && language->codePage) {
            EXPECT_TRUE(EncodeExact("A", language->codePage)) << language->name;
            EXPECT_EQ(Charset::ForCodePage(language->codePage).Iconv().empty(), false);
        }
    }
}

TEST(LanguageTable, LanguageValuesAreReadInEverySpelling) {
    const struct {
        std::string_view value;
        std::optional<std::uint32_t> lcid;
    } cases[] = {
        {"0x409", 0x409},
        {"0x0409", 0x409},
        {"1033", 0x409},
        {" 0x419 Russian ", 0x419},
        {"0X40c\tFrench", 0x40C},
        {"1049 Russian (Russia)", 0x419},
        {"Russian", 0x419},
        {"english", 0x409},
        {"English (United Kingdom)", 0x809},
        {"en-GB", 0x809},
        {"Serbian", 0x81A},
        {"Klingon", std::nullopt},
        {"0x", std::nullopt},
        {"0x419Russian", std::nullopt},
        {"0x10000", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLanguageValue(c.value), c.lcid) << c.value;
}

} // namespace
} // namespace tbx::text
