#pragma once
// UTF-8, the form every text takes inside the program.

#include <cstddef>
#include <string>
#include <string_view>

namespace tbx {

bool IsValidUtf8(std::string_view bytes);

// Decodes the UTF-8 sequence at pos into cp and moves pos past it. False,
// with pos moved past one byte, where the bytes are not valid UTF-8.
bool NextUtf8(std::string_view text, std::size_t& pos, char32_t& cp);

void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 code units of UTF-8 text, characters past U+FFFF as surrogate
// pairs; bytes that are not valid UTF-8 become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// And back; a surrogate without its other half becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

} // namespace tbx
