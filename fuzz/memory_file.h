#pragma once
// The fuzz input as an open file, for readers that take a descriptor.

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace tbx::fuzz {

// A descriptor of an unnamed file in memory holding the bytes, or -1.
inline int MemoryFile(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("help", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote = ::write(fd, data + done, size - done);
        if (wrote <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return fd;
}

} // namespace tbx::fuzz
