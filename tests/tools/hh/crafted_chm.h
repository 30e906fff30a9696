#pragma once
// Help files written field by field, for what no compiler writes: names
// tens of kilobytes long, and sizes far beyond the bytes that follow them,
// kept small on disk as sparse files.

#include "chm/format.h"
#include "support/chm_bytes.h"

#include <cstdint>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace tbx::test {

struct CraftedEntry {
    std::string name;
    std::uint64_t section = 0, offset = 0, length = 0;
};

// The LZX section of a crafted file: streams that describe it, and its
// content, all claimed, none of it real.
struct CraftedLzx {
    std::uint64_t resetFrames = 2;        // frames of 32 KiB per reset interval
    std::uint64_t contentLength = 0;      // compressed bytes claimed
    std::uint64_t uncompressedLength = 0; // as the reset table says
};

struct CraftedChm {
    std::vector<CraftedEntry> entries; // one listing chunk, in this order
    std::size_t chunkSize = chm::kChunkSize;
    std::uint32_t claimedChunks = 0; // more than the one written: the rest is a hole
    bool noFreeSpace = false;        // the chunk claims no free space: zeros after the entries
    std::string section0;            // the uncompressed section
    const CraftedLzx* lzx = nullptr;

    // Writes the file at path, sparse where it claims more than it holds:
    // chunks beyond the first and the compressed content are holes.
    void WriteTo(const std::string& path) const {
        std::string data = section0;
        std::vector<CraftedEntry> all = entries;
        if (lzx) {
            std::string control(0x1C, '\0');
            Put(control, 0x00, 4, 6);
            control.replace(4, 4, "LZXC");
            Put(control, 0x08, 4, 2);
            Put(control, 0x0C, 4, lzx->resetFrames);
            Put(control, 0x10, 4, 2); // a window of 64 KiB
            Put(control, 0x14, 4, 1);
            std::string table(0x30, '\0');
            Put(table, 0x00, 4, 2);
            Put(table, 0x04, 4, 1);
            Put(table, 0x08, 4, 8);
            Put(table, 0x0C, 4, 0x28);
            Put(table, 0x10, 8, lzx->uncompressedLength);
            Put(table, 0x18, 8, lzx->contentLength);
            Put(table, 0x20, 8, chm::kLzxFrameSize);
            all.push_back({std::string(chm::kControlData), 0, data.size(), control.size()});
            data += control;
            all.push_back({std::string(chm::kResetTable), 0, data.size(), table.size()});
            data += table;
            all.push_back({std::string(chm::kContent), 0, data.size(), lzx->contentLength});
        }
        std::string chunk(chunkSize, '\0');
        chunk.replace(0, 4, "PMGL");
        Put(chunk, 0x0C, 4, chm::kNoChunk);
        Put(chunk, 0x10, 4, chm::kNoChunk);
        std::size_t at = chm::kPmglHeaderSize;
        for (const CraftedEntry& entry : all) {
            std::string body = Enc(entry.name.size()) + entry.name + Enc(entry.section) +
                               Enc(entry.offset) + Enc(entry.length);
            if (at + body.size() > chunkSize)
                throw std::runtime_error("the entries do not fit the chunk");
            chunk.replace(at, body.size(), body);
            at += body.size();
        }
        Put(chunk, 0x04, 4, noFreeSpace ? 0 : chunkSize - at);
        const std::uint64_t chunks = claimedChunks ? claimedChunks : 1;

        std::string itsp(chm::kItspHeaderSize, '\0');
        itsp.replace(0, 4, "ITSP");
        Put(itsp, 0x04, 4, 1);
        Put(itsp, 0x08, 4, chm::kItspHeaderSize);
        Put(itsp, 0x0C, 4, 0x0A);
        Put(itsp, 0x10, 4, chunkSize);
        Put(itsp, 0x14, 4, 2);
        Put(itsp, 0x18, 4, 1);
        Put(itsp, 0x1C, 4, chm::kNoChunk);
        Put(itsp, 0x28, 4, chm::kNoChunk);
        Put(itsp, 0x2C, 4, chunks);
        const std::uint64_t directoryLength = itsp.size() + chunks * chunkSize;

        std::string header(chm::kItsfHeaderSize, '\0');
        header.replace(0, 4, "ITSF");
        Put(header, 0x04, 4, 3);
        Put(header, 0x08, 4, chm::kItsfHeaderSize);
        Put(header, 0x48, 8, header.size());
        Put(header, 0x50, 8, directoryLength);
        const std::uint64_t section0At = header.size() + directoryLength;
        Put(header, 0x58, 8, section0At);

        const std::string head = header + itsp + chunk;
        const std::uint64_t size = section0At + data.size() + (lzx ? lzx->contentLength : 0);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written =
            fd >= 0 &&
            ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
            ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(section0At)) ==
                static_cast<ssize_t>(data.size()) &&
            ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!written)
            throw std::runtime_error("cannot write " + path);
    }

private:
    static void Put(std::string& bytes, std::size_t at, int size, std::uint64_t value) {
        WriteLe(bytes, at, size, value);
    }
    static std::string Enc(std::uint64_t value) { return EncInt(value); }
};

} // namespace tbx::test
