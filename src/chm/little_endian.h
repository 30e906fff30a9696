#pragma once
// Little-endian numbers of the help file's structures, one function for
// each width: the width is in the name and the value's type, so a swapped
// or forgotten argument does not compile.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tbx::chm {

namespace detail {

template <typename T> void PutLe(std::uint8_t* at, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i, value = static_cast<T>(value >> 8))
        at[i] = static_cast<std::uint8_t>(value & 0xFF);
}

template <typename T> T GetLe(const std::uint8_t* at) {
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        value = static_cast<T>(value << 8 | at[i]);
    return value;
}

template <typename T> void AppendLe(std::string& out, T value) {
    std::uint8_t bytes[sizeof(T)];
    PutLe(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

} // namespace detail

// Appended to the end of out.
inline void AppendLe16(std::string& out, std::uint16_t value) {
    detail::AppendLe(out, value);
}
inline void AppendLe32(std::string& out, std::uint32_t value) {
    detail::AppendLe(out, value);
}
inline void AppendLe64(std::string& out, std::uint64_t value) {
    detail::AppendLe(out, value);
}

// Written over the bytes at out[at].
inline void PutLe16At(std::string& out, std::size_t at, std::uint16_t value) {
    detail::PutLe(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}
inline void PutLe32At(std::string& out, std::size_t at, std::uint32_t value) {
    detail::PutLe(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}
inline void PutLe64At(std::string& out, std::size_t at, std::uint64_t value) {
    detail::PutLe(reinterpret_cast<std::uint8_t*>(out.data() + at), value);
}

inline std::uint16_t GetLe16(const std::uint8_t* at) {
    return detail::GetLe<std::uint16_t>(at);
}
inline std::uint32_t GetLe32(const std::uint8_t* at) {
    return detail::GetLe<std::uint32_t>(at);
}
inline std::uint64_t GetLe64(const std::uint8_t* at) {
    return detail::GetLe<std::uint64_t>(at);
}

} // namespace tbx::chm
