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

// glibc's own converter: an independent source for the decoding table.
class Iconv {
public:
    Iconv() : cd_(iconv_open("UTF-8", "CP1251")) {}
    ~Iconv() {
        if (Ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The UTF-8 of one byte, or nothing when the converter has no character for it.
    std::optional<std::string> Decode(unsigned char byte) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in[1] = {static_cast<char>(byte)};
        char out[8];
        char* inPtr = in;
        char* outPtr = out;
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        return std::string(out, static_cast<std::size_t>(outPtr - out));
    }

private:
    iconv_t cd_;
};

std::string Byte(int b) {
    return std::string(1, static_cast<char>(b));
}

TEST(Cp1251Test, DecodingTableAgreesWithGlibc) {
    Iconv glibc;
    ASSERT_TRUE(glibc.Ok()) << "glibc has no CP1251 converter: " << errno;
    int compared = 0;
    for (int b = 0; b <= 0xFF; ++b) {
        SCOPED_TRACE("byte " + std::to_string(b));
        const std::optional<std::string> expected = glibc.Decode(static_cast<unsigned char>(b));
        if (expected) {
            EXPECT_EQ(DecodeCp1251(Byte(b)), *expected);
            ++compared;
        } else {
            // Only the one unassigned byte may lack a character.
            EXPECT_EQ(b, 0x98);
            EXPECT_EQ(DecodeCp1251(Byte(b)), kReplacement);
        }
    }
    EXPECT_GE(compared, 255);
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
