// The help-file reader and the LZX decoder on a whole file: opened from
// memory as a file, listed, every name looked up and classified, every
// entry read.

#include "chm/reader.h"
#include "chm/stored_name.h"
#include "memory_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = tbx::fuzz::MemoryFile(data, size);
    if (fd < 0)
        return 0;
    std::string error;
    const std::unique_ptr<tbx::chm::ChmFile> file = tbx::chm::ChmFile::Open(fd, error);
    if (!file)
        return 0;
    tbx::chm::ChmCursor cursor(*file);
    std::vector<std::uint8_t> buffer;
    // Damaged lengths may claim terabytes: read a bounded head and tail of
    // each entry, within a budget for the whole file.
    std::uint64_t budget = 8 << 20;
    for (std::size_t i = 0; i < file->Count() && budget > 0; ++i) {
        const tbx::chm::ChmEntry entry = file->Entry(i);
        file->Find(entry.name);
        // A name that may be written below a folder never climbs out of it.
        const tbx::chm::StoredName stored = tbx::chm::ClassifyStoredName(entry.name);
        for (const std::string& part : stored.parts) {
            if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos)
                __builtin_trap();
        }
        const std::size_t head =
            static_cast<std::size_t>(std::min<std::uint64_t>({entry.length, 256 << 10, budget}));
        buffer.resize(head);
        cursor.Read(entry, 0, buffer);
        if (entry.length > head)
            cursor.Read(entry, entry.length - std::min<std::uint64_t>(entry.length, 100),
                        {buffer.data(), std::min<std::size_t>(head, 100)});
        budget -= head;
    }
    return 0;
}
