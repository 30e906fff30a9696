#include "res/cp1251.h"

#include <array>
#include <cstdint>

namespace tbx {
namespace {

constexpr char32_t kUnassigned = 0xFFFD;
// Stands for a byte that is not valid UTF-8: beyond every code point, so it
// cannot be mistaken for a U+FFFD that the text really holds.
constexpr char32_t kInvalidByte = 0x110000;

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char32_t, 64> kHigh = {
    0x0402,      0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC,      0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    kUnassigned, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0,      0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401,      0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0,      0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451,      0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

char32_t ByteToCodePoint(unsigned char byte) {
    if (byte < 0x80)
        return byte;
    if (byte >= 0xC0)
        return 0x0410 + (byte - 0xC0);
    return kHigh[byte - 0x80];
}

// The byte for a code point, or -1 when Windows-1251 has none.
int CodePointToByte(char32_t cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<int>(0xC0 + (cp - 0x0410));
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == cp && cp != kUnassigned)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

} // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// Decodes one UTF-8 sequence at pos. On success returns its length and sets
// cp; returns 0 for an invalid sequence (overlong, surrogate, out of range,
// truncated).
std::size_t Utf8Length(std::string_view s, std::size_t pos, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    std::size_t len;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2, min = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3, min = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + len > s.size())
        return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const auto c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// Encodes; calls onUnmappable(out, cp) for each character without a byte
// (cp is kInvalidByte for an invalid byte) and stops when it returns false.
template <typename F> bool Encode(std::string_view utf8, std::string& out, F onUnmappable) {
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        std::size_t len = Utf8Length(utf8, pos, cp);
        int byte = -1;
        if (len == 0) {
            len = 1;
            cp = kInvalidByte;
        } else {
            byte = CodePointToByte(cp);
        }
        if (byte >= 0)
            out += static_cast<char>(byte);
        else if (!onUnmappable(out, cp))
            return false;
        pos += len;
    }
    return true;
}

} // namespace

std::string EncodeCp1251(std::string_view utf8, Unmappable policy) {
    std::string out;
    Encode(utf8, out, [policy](std::string& o, char32_t cp) {
        if (policy == Unmappable::CharRef && cp != kInvalidByte)
            o += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
        else
            o += '?';
        return true;
    });
    return out;
}

std::optional<std::string> EncodeCp1251Exact(std::string_view utf8) {
    std::string out;
    if (!Encode(utf8, out, [](std::string&, char32_t) { return false; }))
        return std::nullopt;
    return out;
}

std::string DecodeCp1251(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(c)));
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        char32_t cp;
        const std::size_t len = Utf8Length(bytes, pos, cp);
        if (len == 0)
            return false;
        pos += len;
    }
    return true;
}

std::string DecodeLegacyText(std::string_view bytes) {
    return IsValidUtf8(bytes) ? std::string(bytes) : DecodeCp1251(bytes);
}

bool NextUtf8(std::string_view text, std::size_t& pos, char32_t& cp) {
    const std::size_t len = Utf8Length(text, pos, cp);
    pos += len == 0 ? 1 : len;
    return len != 0;
}

} // namespace tbx
