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

} // namespace tbx
