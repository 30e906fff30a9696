#pragma once
// Windows-1251, the code page of the files the program writes and of old pages.

#include <optional>
#include <string>
#include <string_view>

namespace tbx {

// What the encoder does with a character Windows-1251 cannot hold.
enum class Unmappable {
    Question, // write '?'
    CharRef,  // write a numeric character reference such as "&#8776;" (HTML pages)
};

// UTF-8 to Windows-1251. Bytes that are not valid UTF-8 count as unmappable.
std::string EncodeCp1251(std::string_view utf8, Unmappable policy);

// UTF-8 to Windows-1251, or nothing when any character cannot be held.
std::optional<std::string> EncodeCp1251Exact(std::string_view utf8);

// Windows-1251 to UTF-8. The one unassigned byte (0x98) becomes U+FFFD.
std::string DecodeCp1251(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// Decodes the UTF-8 sequence at s[pos]: returns its length and sets cp, or
// returns 0 when the bytes there are no valid sequence (overlong, surrogate,
// out of range, truncated).
std::size_t NextUtf8(std::string_view s, std::size_t pos, char32_t& cp);

// UTF-8 when the bytes are valid UTF-8, otherwise decoded as Windows-1251.
std::string DecodeLegacyText(std::string_view bytes);

} // namespace tbx
