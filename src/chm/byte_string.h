#pragma once
// Little-endian numbers appended to, or written into, strings of bytes.

#include "chm/format.h"

#include <cstdint>
#include <string>

namespace tbx::chm {

inline void AppendLe(std::string& out, int size, std::uint64_t value) {
    std::uint8_t bytes[8];
    PutLe(bytes, size, value);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

inline void PutLeAt(std::string& out, std::size_t at, int size, std::uint64_t value) {
    PutLe(reinterpret_cast<std::uint8_t*>(out.data() + at), size, value);
}

} // namespace tbx::chm
