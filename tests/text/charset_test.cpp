#include "text/charset.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <iconv.h>
#include <optional>
#include <string>
#include <vector>

namespace tbx {
namespace {

using namespace std::string_literals;

const std::string kReplacement = "\xEF\xBF\xBD"; // U+FFFD

std::string Byte(int b) {
    return std::string(1, static_cast<char>(b));
}

// Labels as pages write them, each with a byte its charset alone reads so.
TEST(CharsetTest, EveryLabelBrowsersKnowNamesItsCharset) {
    const struct {
        std::string_view label, name;
        std::string bytes, utf8;
    } cases[] = {
        {"utf-8", "UTF-8", "\xD0\xB6", "ж"},
        {" UTF8 ", "UTF-8", "\xE2\x82\xAC", "€"},
        {"unicode-1-1-utf-8", "UTF-8", "a", "a"},
        {"latin1", "windows-1252", "\x80\xE9", "€é"},
        {"ISO-8859-1", "windows-1252", "\x93q\x94", "“q”"},
        {"us-ascii", "windows-1252", "\x96", "–"},
        {"cp1252", "windows-1252", "\x9C", "œ"},
        {"windows-1250", "windows-1250", "\x9A", "š"},
        {"cp1251", "windows-1251", "\xB8", "ё"},
        {"x-cp1251", "windows-1251", "\xC6", "Ж"},
        {"windows-1253", "windows-1253", "\xE1", "α"},
        {"iso-8859-9", "windows-1254", "\xFD", "ı"},
        {"latin5", "windows-1254", "\xF0", "ğ"},
        {"windows-1255", "windows-1255", "\xF9", "ש"},
        {"cp1256", "windows-1256", "\xC7", "ا"},
        {"windows-1257", "windows-1257", "\xE0", "ą"},
        {"windows-1258", "windows-1258", "\xD0", "Đ"},
        {"iso-8859-2", "ISO-8859-2", "\xB3", "ł"},
        {"l2", "ISO-8859-2", "\xBC", "ź"},
        {"iso-8859-3", "ISO-8859-3", "\xFD", "ŭ"},
        {"iso-8859-4", "ISO-8859-4", "\xF3", "ķ"},
        {"iso-8859-5", "ISO-8859-5", "\xD6", "ж"},
        {"iso-8859-6", "ISO-8859-6", "\xC7", "ا"},
        {"greek", "ISO-8859-7", "\xE1", "α"},
        {"iso-8859-8", "ISO-8859-8", "\xF9", "ש"},
        {"iso-8859-8-i", "ISO-8859-8-I", "\xF9", "ש"},
        {"iso-8859-10", "ISO-8859-10", "\xBF", "ŋ"},
        {"iso-8859-11", "windows-874", "\xA1", "ก"},
        {"tis-620", "windows-874", "\xA1", "ก"},
        {"iso-8859-13", "ISO-8859-13", "\xE0", "ą"},
        {"iso-8859-14", "ISO-8859-14", "\xA1", "Ḃ"},
        {"iso-8859-15", "ISO-8859-15", "\xA4", "€"},
        {"iso-8859-16", "ISO-8859-16", "\xA1", "Ą"},
        {"koi8-r", "KOI8-R", "\xC1\xA3", "аё"},
        {"KOI8_R", "KOI8-R", "\xF6", "Ж"},
        {"koi8-u", "KOI8-U", "\xA4", "є"},
        {"cp866", "IBM866", "\xA0", "а"},
        {"866", "IBM866", "\xF1", "ё"},
        {"shift_jis", "Shift_JIS", "\x82\xA0", "あ"},
        {"sjis", "Shift_JIS", "\x93\xFA", "日"},
        {"euc-jp", "EUC-JP", "\xA4\xA2", "あ"},
        {"iso-2022-jp", "ISO-2022-JP", "\x1B$B$\"\x1B(B", "あ"},
        {"gb2312", "GBK", "\xC4\xE3", "你"},
        {"GBK", "GBK", "\x80", "€"},
        {"gb18030", "gb18030", "\xC4\xE3", "你"},
        {"big5", "Big5", "\xA4\xA4", "中"},
        {"euc-kr", "EUC-KR", "\xB0\xA1", "가"},
        {"ks_c_5601-1987", "EUC-KR", "\xC7\xD1", "한"},
        {"utf-16le", "UTF-16LE", std::string("\x36\x04", 2), "ж"},
        {"utf-16", "UTF-16LE", std::string("\xFF\xFE\x36\x04", 4), "ж"},
        {"utf-16be", "UTF-16BE", std::string("\x04\x36", 2), "ж"},
        {"x-mac-cyrillic", "x-mac-cyrillic", "\x80", "А"},
    };
    for (const auto& c : cases) {
        const std::optional<text::Charset> charset = text::Charset::ForLabel(c.label);
        ASSERT_TRUE(charset) << c.label;
        EXPECT_EQ(charset->Name(), c.name) << c.label;
        EXPECT_EQ(text::Decode(c.bytes, *charset), c.utf8) << c.label;
    }
    for (std::string_view unknown : {"", "koi9-r", "windows-1259", "utf-7", "latin-1"})
        EXPECT_FALSE(text::Charset::ForLabel(unknown)) << unknown;
    // Bytes a charset does not assign, and a sequence cut off at the end.
    EXPECT_EQ(text::Decode("a\x98z", *text::Charset::ForLabel("cp1251")), "a" + kReplacement + "z");
    EXPECT_EQ(text::Decode("a\x82", *text::Charset::ForLabel("shift_jis")), "a" + kReplacement);
    EXPECT_EQ(text::Decode("a\xFF"
                           "b",
                           text::Charset::Utf8()),
              "a" + kReplacement + "b");
}

// The one decision of a page's charset, in its order: byte order mark,
// <meta charset>, http-equiv, XML declaration, then the project's code page
// (UTF-8 for bytes that are valid UTF-8 and not ASCII).
TEST(CharsetTest, APagesCharsetIsDecidedInOneOrder) {
    const text::Charset project = text::Charset::ForCodePage(1250);
    const struct {
        std::string bytes;
        text::CharsetDeclarations declared;
        std::string_view expected;
    } cases[] = {
        {"\xEF\xBB\xBFtext", {"koi8-r", "windows-1251"}, "UTF-8"},
        {"\xFF\xFE<\0", {"koi8-r", ""}, "UTF-16LE"},
        {"\xFE\xFF\0<", {}, "UTF-16BE"},
        {"text", {"koi8-r", "windows-1251"}, "KOI8-R"},
        {"text", {"", "windows-1251"}, "windows-1251"},
        {"text", {"no such", "windows-1251"}, "windows-1251"},
        {"<?xml version=\"1.0\" encoding='iso-8859-2'?><p>", {}, "ISO-8859-2"},
        {"<?xml version=\"1.0\" encoding='iso-8859-2'?><p>", {"", "cp1253"}, "windows-1253"},
        {"text", {"utf-16", ""}, "UTF-8"},            // ASCII bytes cannot be UTF-16
        {"\xE9t\xE9", {"utf-8", ""}, "windows-1250"}, // declared UTF-8, but is not
        {"\xC3\xA9t\xC3\xA9", {}, "UTF-8"},
        {"\xE9t\xE9", {}, "windows-1250"},
        {"plain", {}, "windows-1250"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::DecidePageCharset(c.bytes, c.declared, project).Name(), c.expected)
            << c.bytes;
}

// What a code page cannot hold: the nearest form, else '?', or a reference.
TEST(CharsetTest, EncodingFollowsTheCodePageAndThePolicy) {
    EXPECT_EQ(text::Encode("Łódź €", 1250, Unmappable::Nearest), "\xA3\xF3"
                                                                 "d\x9F \x80");
    EXPECT_EQ(text::Encode("Łódź", 1252, Unmappable::Nearest), "L\xF3"
                                                               "dz");
    EXPECT_EQ(text::Encode("Łódź", 1252, Unmappable::CharRef), "&#321;\xF3"
                                                               "d&#378;");
    EXPECT_EQ(text::Encode("日本", 932, Unmappable::Nearest), "\x93\xFA\x96\x7B");
    EXPECT_EQ(text::Encode("日本", 1252, Unmappable::Nearest), "??");
    EXPECT_EQ(text::EncodeExact("日本", 1252), std::nullopt);
    EXPECT_EQ(text::Encode("שָׁלוֹם", 1255, Unmappable::Nearest).size(), 7u);
}

TEST(Cp1251Test, EveryAssignedByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 1; b <= 0xFF; ++b) {
        if (b == 0x98)
            continue;
        SCOPED_TRACE("byte " + std::to_string(b));
        all += Byte(b);
        const std::string utf8 = DecodeCp1251(Byte(b));
        EXPECT_TRUE(IsValidUtf8(utf8));
        EXPECT_EQ(EncodeCp1251Exact(utf8), Byte(b));
        EXPECT_EQ(EncodeCp1251(utf8, Unmappable::CharRef), Byte(b));
    }
    ASSERT_EQ(all.size(), 254u);
    EXPECT_EQ(EncodeCp1251Exact(DecodeCp1251(all)), all);
    EXPECT_EQ(DecodeCp1251("\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xEB\xEA\xE0! \xB9 5 \x96 \x88"),
              "Привет, ёлка! № 5 – €");
}

TEST(Cp1251Test, UnmappableCharactersFollowThePolicy) {
    const std::string almostEqual = "\xE2\x89\x88";  // U+2248
    const std::string grinning = "\xF0\x9F\x98\x80"; // U+1F600, four bytes
    const std::string text = "a" + almostEqual + "б" + grinning + "z";

    EXPECT_EQ(EncodeCp1251(text, Unmappable::Nearest), "a?\xE1?z");
    EXPECT_EQ(EncodeCp1251(text, Unmappable::CharRef), "a&#8776;\xE1&#128512;z");
    EXPECT_EQ(EncodeCp1251Exact(text), std::nullopt);
    EXPECT_EQ(EncodeCp1251Exact(almostEqual), std::nullopt);
    EXPECT_EQ(EncodeCp1251Exact(grinning), std::nullopt);
    // A replacement character is a character like any other.
    EXPECT_EQ(EncodeCp1251(kReplacement, Unmappable::CharRef), "&#65533;");
    EXPECT_EQ(EncodeCp1251(kReplacement, Unmappable::Nearest), "?");
    EXPECT_EQ(EncodeCp1251Exact(kReplacement), std::nullopt);
    EXPECT_EQ(EncodeCp1251Exact(""), "");
}

TEST(Cp1251Test, InvalidUtf8IsUnmappableButKeepsWhatFollows) {
    for (const std::string& bad : {"\xFF"s, "\x80"s, "\xC0\xAF"s, "\xED\xA0\x80"s, "\xD0"s}) {
        SCOPED_TRACE("input " + bad);
        const std::string question = EncodeCp1251("a" + bad + "b", Unmappable::Nearest);
        const std::string charRef = EncodeCp1251("a" + bad + "b", Unmappable::CharRef);
        // No code point to refer to: both policies write question marks.
        EXPECT_EQ(question, charRef);
        ASSERT_GE(question.size(), 3u);
        EXPECT_EQ(question.front(), 'a');
        EXPECT_EQ(question.back(), 'b');
        EXPECT_EQ(question.substr(1, question.size() - 2), std::string(question.size() - 2, '?'));
        EXPECT_EQ(EncodeCp1251Exact("a" + bad + "b"), std::nullopt);
    }
    // A broken sequence does not swallow the valid letter after it.
    EXPECT_EQ(EncodeCp1251("\xD0"
                           "\xD0\xB0",
                           Unmappable::Nearest),
              "?\xE0");
}

TEST(Cp1251Test, Utf8ValidationRejectsOverlongsSurrogatesAndTruncation) {
    const std::vector<std::string> valid = {
        ""s,
        "plain ASCII"s,
        "\0"s,
        "Привет"s,
        "\xC2\x80"s,
        "\xDF\xBF"s,
        "\xE0\xA0\x80"s,
        "\xED\x9F\xBF"s,
        "\xEE\x80\x80"s,
        "\xEF\xBF\xBF"s,
        "\xF0\x90\x80\x80"s,
        "\xF4\x8F\xBF\xBF"s,
    };
    for (const auto& bytes : valid)
        EXPECT_TRUE(IsValidUtf8(bytes)) << "bytes " << testing::PrintToString(bytes);

    const std::vector<std::string> invalid = {
        "\xC0\xAF"s,
        "\xC1\xBF"s,
        "\xE0\x80\xAF"s,
        "\xE0\x9F\xBF"s,
        "\xF0\x80\x80\xAF"s,
        "\xF0\x8F\xBF\xBF"s,
        "\xED\xA0\x80"s,
        "\xED\xBF\xBF"s,
        "\xF4\x90\x80\x80"s,
        "\xF5\x80\x80\x80"s,
        "\xD0"s,
        "\xE2\x82"s,
        "\xF0\x9F\x98"s,
        "ok\xF0\x9F\x98"s,
        "\x80"s,
        "\xBF"s,
        "\xFE"s,
        "\xFF"s,
        "\xD0\x41"s,
        "\xE2\x82\x41"s,
    };
    for (const auto& bytes : invalid)
        EXPECT_FALSE(IsValidUtf8(bytes)) << "bytes " << testing::PrintToString(bytes);
}

// UTF-16 as binary indexes store their texts: pairs past U+FFFF, U+FFFD for
// what stands for no character, and the way back.
TEST(Utf16Test, TextsGoToUtf16AndBack) {
    const struct {
        std::string utf8;
        std::u16string units;
        std::string back;
    } cases[] = {
        {"Печать", u"Печать", "Печать"},
        {"a\xF0\x9F\x98\x80", {u'a', 0xD83D, 0xDE00}, "a\xF0\x9F\x98\x80"},
        {"\xFF", {0xFFFD}, "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.units) << c.utf8;
        EXPECT_EQ(Utf16ToUtf8(c.units), c.back) << c.utf8;
    }
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', 0xD83D}), "x\xEF\xBF\xBD");
}

TEST(Cp1251Test, LegacyTextIsUtf8WhenValidElseWindows1251) {
    EXPECT_EQ(DecodeLegacyText("Привет"), "Привет");
    EXPECT_EQ(DecodeLegacyText("plain"), "plain");
    EXPECT_EQ(DecodeLegacyText(""), "");
    EXPECT_EQ(DecodeLegacyText("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
    // One stray Windows-1251 byte makes the whole text Windows-1251, so the
    // UTF-8 of "Да" before it reads as the four letters it is in that code page.
    EXPECT_EQ(DecodeLegacyText("Да \xE4\xE0"), "Р”Р° да");
}

} // namespace
} // namespace tbx
