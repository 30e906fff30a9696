#pragma once
// Reading a compiled help file: its directory, and the bytes of each entry
// from the uncompressed section or the LZX section. Standard C++ only.
//
// A ChmFile opens the file once, by one descriptor, reads the directory
// and then never changes, so threads may share it; each thread reads
// through its own ChmCursor. Every size, offset and count in the file is
// checked against the file before it is used, and the memory held grows
// with the directory, a few bytes an entry beyond its name.

#include "chm/bit_reader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tbx::chm {

class LzxDecoder;

struct ChmEntry {
    std::string_view name;     // as stored, valid as long as its ChmFile
    std::uint64_t section = 0; // 0: stored as is, 1: LZX-compressed, 2: any other
    std::uint64_t offset = 0;  // where its bytes start in the section
    std::uint64_t length = 0;
};

class ChmFile {
public:
    // Opens the help file at path and reads its directory. Null, with why
    // in error, when it cannot be opened, is no help file, or its header or
    // directory header is damaged. Damaged listing chunks only cost their
    // entries (see Damage).
    static std::unique_ptr<ChmFile> Open(const std::string& path, std::string& error);
    // The same on an open descriptor, which the ChmFile takes over: it is
    // closed with the ChmFile, or at once on failure.
    static std::unique_ptr<ChmFile> Open(int fd, std::string& error);

    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    // Entries in directory order: every listing chunk, in chunk order.
    std::size_t Count() const { return records_.size(); }
    ChmEntry Entry(std::size_t index) const;
    // The first entry named name, letters A-Z matching a-z.
    std::optional<std::size_t> Find(std::string_view name) const;

    // Listing chunks, or the rest of them, that could not be read, and
    // entries skipped, each with why; a run of damaged chunks is one line,
    // and past a hundred lines the rest is only counted.
    const std::vector<std::string>& Damage() const { return damage_; }
    // Entries whose fields could be read but whose name could not (blank,
    // or holding a zero byte): skipped, and counted here.
    std::uint64_t SkippedEntries() const { return skippedEntries_; }
    // Entries reached from the header's first listing chunk along the
    // chunks' links, when that chain misses listing chunks (some compilers
    // write such headers, and readers that trust them lose entries); 0 when
    // it reaches them all.
    std::uint64_t HeaderChainEntries() const { return headerChainEntries_; }

private:
    friend class ChmCursor;
    // One directory entry in 16 bytes. Offsets and lengths that need more
    // than 32 bits live in wide_, and offset then says where.
    struct Record {
        std::uint32_t name; // where the name starts in names_
        std::uint32_t offset;
        std::uint32_t length;
        std::uint16_t nameLength;
        std::uint8_t section;
        std::uint8_t wide;
    };
    struct Compressed;

    ChmFile(int fd, std::uint64_t size);
    std::string ReadDirectory();
    bool ReadListing(const std::uint8_t* chunk, std::size_t size, std::uint64_t number);
    void ChunkDamaged(std::uint64_t first, std::uint64_t count);
    void EndDamagedRun();
    void NoteDamage(std::string line);
    std::uint64_t HoleChunks(std::uint64_t chunksAt, std::uint64_t chunkSize, std::uint64_t first,
                             std::uint64_t chunks) const;
    void SetUpCompressed();
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) const;

    int fd_;
    std::uint64_t size_;
    std::uint64_t section0_ = 0; // where the uncompressed section starts
    std::vector<Record> records_;
    std::vector<std::uint64_t> wide_; // offsets and lengths that need 64 bits, in pairs
    std::string names_;
    bool sorted_ = true; // names in the order lookups binary-search by
    std::vector<std::string> damage_;
    std::uint64_t damagedRunFirst_ = 0, damagedRunCount_ = 0; // chunks damaged in a row
    std::uint64_t skippedEntries_ = 0;
    std::uint64_t moreDamage_ = 0; // damage beyond the lines kept
    std::uint64_t headerChainEntries_ = 0;
    std::unique_ptr<Compressed> lzx_;
};

// Reads entries of one ChmFile for one thread. Reading entries in the order
// of their content decodes every compressed interval once.
class ChmCursor {
public:
    explicit ChmCursor(const ChmFile& file);
    ~ChmCursor();
    ChmCursor(const ChmCursor&) = delete;
    ChmCursor& operator=(const ChmCursor&) = delete;

    // Copies out.size() bytes of entry, from byte from on, into out. Empty
    // on success; otherwise why not, and out holds nothing useful.
    std::string Read(const ChmEntry& entry, std::uint64_t from, std::span<std::uint8_t> out);

private:
    std::string ReadCompressed(std::uint64_t at, std::span<std::uint8_t> out);
    std::string Frame(std::uint64_t frame, std::span<const std::uint8_t>& bytes);
    std::string StartInterval(std::uint64_t interval);
    std::string MoreInput();

    const ChmFile& file_;
    std::unique_ptr<LzxDecoder> decoder_;
    // A bounded piece of the current interval's compressed bytes, from
    // inputAt_ on; the interval's bytes present in the file end at inputEnd_.
    std::vector<std::uint8_t> input_;
    std::uint64_t inputAt_ = 0, inputEnd_ = 0;
    bool cutShort_ = false;  // the file ends inside the interval
    std::uint64_t interval_; // which one that is; none after damage
    BitReader bits_;
};

} // namespace tbx::chm
