#pragma once
// Reading and rewriting the directory of a help file's bytes, to damage it
// in known ways.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tbx::test {

struct ChmEntry {
    std::string name;
    std::uint64_t space = 0, start = 0, length = 0;
};

inline std::uint64_t ReadLe(const std::string& bytes, std::size_t at, int size) {
    if (at + size > bytes.size())
        throw std::runtime_error("help file too short");
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

inline void WriteLe(std::string& bytes, std::size_t at, int size, std::uint64_t value) {
    for (int i = 0; i < size; ++i, value >>= 8)
        bytes[at + i] = static_cast<char>(value & 0xFF);
}

inline std::uint64_t ReadEncInt(const std::string& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    unsigned char byte;
    do {
        byte = static_cast<unsigned char>(bytes.at(at++));
        value = value << 7 | (byte & 0x7F);
    } while (byte & 0x80);
    return value;
}

inline std::string EncInt(std::uint64_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return out;
}

// Where the directory's chunks lie.
struct ChmDirectory {
    std::size_t firstChunk = 0; // offset of chunk 0 in the file
    std::size_t chunkSize = 0;
    std::uint32_t chunks = 0;
    std::size_t headerFirstListing = 0; // offset of the header's "first listing chunk" field

    explicit ChmDirectory(const std::string& bytes) {
        const std::size_t dir = ReadLe(bytes, 0x48, 8);
        if (bytes.compare(dir, 4, "ITSP") != 0)
            throw std::runtime_error("no directory header");
        chunkSize = ReadLe(bytes, dir + 0x10, 4);
        chunks = static_cast<std::uint32_t>(ReadLe(bytes, dir + 0x2C, 4));
        headerFirstListing = dir + 0x20;
        firstChunk = dir + ReadLe(bytes, dir + 0x08, 4);
    }
    std::size_t Chunk(std::uint32_t index) const { return firstChunk + index * chunkSize; }
    bool IsListing(const std::string& bytes, std::uint32_t index) const {
        return bytes.compare(Chunk(index), 4, "PMGL") == 0;
    }

    std::vector<ChmEntry> Entries(const std::string& bytes, std::uint32_t index) const {
        const std::size_t chunk = Chunk(index);
        const std::size_t end = chunk + chunkSize - ReadLe(bytes, chunk + 4, 4);
        std::vector<ChmEntry> entries;
        for (std::size_t at = chunk + 20; at < end;) {
            ChmEntry entry;
            const std::uint64_t length = ReadEncInt(bytes, at);
            entry.name = bytes.substr(at, length);
            at += length;
            entry.space = ReadEncInt(bytes, at);
            entry.start = ReadEncInt(bytes, at);
            entry.length = ReadEncInt(bytes, at);
            entries.push_back(entry);
        }
        return entries;
    }

    // Writes entries as the whole content of listing chunk index.
    void Rewrite(std::string& bytes, std::uint32_t index,
                 const std::vector<ChmEntry>& entries) const {
        std::string body;
        for (const ChmEntry& entry : entries)
            body += EncInt(entry.name.size()) + entry.name + EncInt(entry.space) +
                    EncInt(entry.start) + EncInt(entry.length);
        if (20 + body.size() > chunkSize)
            throw std::runtime_error("entries do not fit the chunk");
        const std::size_t chunk = Chunk(index);
        bytes.replace(chunk + 20, body.size(), body);
        WriteLe(bytes, chunk + 4, 4, chunkSize - 20 - body.size());
    }
};

} // namespace tbx::test
