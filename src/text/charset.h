#pragma once
// Charsets of pages and projects, and the ANSI code pages help files store
// their texts in. Conversions go through the C library's iconv.

#include "text/utf8.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tbx::text {

// One charset a page or project can be in, known by its browser name.
class Charset {
public:
    // The charset a browser means by a label ("latin1", "Shift_JIS", " koi8-r "):
    // letter case and surrounding white space do not matter. Nothing for a
    // label browsers do not know.
    static std::optional<Charset> ForLabel(std::string_view label);
    // The charset of a Windows ANSI code page (1252, 932 ...), or of 1252
    // when the code page is not one a help file can have.
    static Charset ForCodePage(int codePage);
    static Charset Utf8();

    std::string_view Name() const;  // the browser name: "windows-1252", "Shift_JIS"
    std::string_view Iconv() const; // the name iconv knows it by
    bool IsUtf8() const;
    bool IsUtf16() const;
    // Bytes below 0x80 are ASCII, in every position: markup can be read from
    // the bytes as they stand.
    bool AsciiCompatible() const;

    bool operator==(const Charset&) const = default;

private:
    friend std::string Decode(std::string_view bytes, Charset charset);
    explicit Charset(std::uint8_t index) : index_(index) {}
    std::uint8_t index_;
};

// The bytes in UTF-8; a byte or sequence the charset does not assign
// becomes U+FFFD.
std::string Decode(std::string_view bytes, Charset charset);

// What an encoder writes for a character the code page cannot hold.
enum class Unmappable {
    Nearest, // its nearest form ("é" -> "e" in Windows-1251), else '?'
    CharRef, // a numeric character reference such as "&#8776;" (HTML)
};

// UTF-8 in a Windows ANSI code page. Bytes that are not valid UTF-8 become '?'.
std::string Encode(std::string_view utf8, int codePage, Unmappable policy);
// The same, or nothing when any character cannot be held as it is.
std::optional<std::string> EncodeExact(std::string_view utf8, int codePage);

// How a page's charset was decided, in the order that counts: a byte order
// mark, a <meta charset>, a <meta http-equiv="Content-Type">, the XML
// declaration; failing all of them, the fallback (the project's code page),
// unless the bytes hold text that is valid UTF-8, which legacy text hardly
// ever is.
struct CharsetDeclarations {
    std::string_view metaCharset;   // the value of the first <meta charset>
    std::string_view httpEquivType; // the charset of the first http-equiv Content-Type
};
Charset DecidePageCharset(std::string_view bytes, const CharsetDeclarations& declared,
                          Charset fallback);

// The number of bytes a byte order mark takes at the start, 0 without one.
std::size_t ByteOrderMarkSize(std::string_view bytes);

// Text in UTF-8 when it is valid UTF-8, else in the fallback charset: file
// names and old texts that do not say what they are.
std::string DecodeLegacyText(std::string_view bytes, Charset fallback);

} // namespace tbx::text

namespace tbx {

// The code page of the projects and index pages the program writes itself:
// they are for Russian readers.
inline constexpr int kProgramCodePage = 1251;

using text::Unmappable;

inline std::string EncodeCp1251(std::string_view utf8, Unmappable policy) {
    return text::Encode(utf8, kProgramCodePage, policy);
}
inline std::optional<std::string> EncodeCp1251Exact(std::string_view utf8) {
    return text::EncodeExact(utf8, kProgramCodePage);
}
inline std::string DecodeCp1251(std::string_view bytes) {
    return text::Decode(bytes, text::Charset::ForCodePage(kProgramCodePage));
}
// UTF-8 when valid, else Windows-1251: names the program's Russian users gave.
inline std::string DecodeLegacyText(std::string_view bytes) {
    return text::DecodeLegacyText(bytes, text::Charset::ForCodePage(kProgramCodePage));
}

} // namespace tbx
