#include "chm/reader.h"

#include "chm/format.h"
#include "chm/lzx_decoder.h"
#include "platform/messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tbx::chm {
namespace {

constexpr std::uint64_t kNone = ~std::uint64_t{0};
constexpr std::size_t kItsfVersion2HeaderSize = 0x58;
constexpr std::size_t kResetTableHeaderSize = 0x28;
constexpr std::size_t kControlDataMinSize = 0x18;
// Chunk sizes beyond this cannot be addressed by the chunks' own 16-bit
// fields; real files use 4 KiB.
constexpr std::uint64_t kMaxChunkSize = 0x10000;
// Lines of damage said of one directory; the rest only counted.
constexpr std::size_t kDamageLines = 100;
// Directory chunks read with one call.
constexpr std::size_t kChunksAtOnce = 64;
// Compressed bytes are read this much at a time, whatever an interval
// claims.
constexpr std::size_t kInputPiece = std::size_t{1} << 20;
// Input kept ahead of each frame. An undamaged frame takes little more than
// its 32 KiB; one that would take more than this is damaged.
constexpr std::size_t kFrameInput = std::size_t{256} << 10;

std::uint64_t Le32(const std::uint8_t* at) {
    return GetLe32(at);
}

// True when [offset, offset + length) lies within [0, size).
bool Within(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

} // namespace

// How the LZX section is laid out, or why it cannot be read.
struct ChmFile::Compressed {
    std::string error;
    std::uint64_t contentAt = 0; // file offset of the compressed stream
    std::uint64_t contentLength = 0;
    std::uint64_t contentPresent = 0; // what the file holds of it, less when cut short
    std::uint64_t length = 0;         // uncompressed bytes
    unsigned windowBits = 0;
    std::uint64_t resetFrames = 0; // frames from one reset point to the next
    std::uint64_t tableAt = 0;     // file offset of the reset table's entries
    std::uint64_t tableEntries = 0;
    unsigned entrySize = 0;
};

ChmFile::ChmFile(int fd, std::uint64_t size)
    : fd_(fd), size_(size), lzx_(std::make_unique<Compressed>()) {}

ChmFile::~ChmFile() {
    ::close(fd_);
}

std::unique_ptr<ChmFile> ChmFile::Open(const std::string& path, std::string& error) {
    // Not blocking: a FIFO named like a help file must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return Open(fd, error);
}

std::unique_ptr<ChmFile> ChmFile::Open(int fd, std::string& error) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        error = Tr("not a file");
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<ChmFile> file(new ChmFile(fd, static_cast<std::uint64_t>(st.st_size)));
    error = file->ReadDirectory();
    if (!error.empty())
        return nullptr;
    file->SetUpCompressed();
    return file;
}

bool ChmFile::ReadAt(std::uint64_t offset, void* out, std::size_t size) const {
    if (!Within(offset, size, size_))
        return false;
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (size > 0) {
        const ssize_t got = ::pread(fd_, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

ChmEntry ChmFile::Entry(std::size_t index) const {
    const Record& record = records_[index];
    ChmEntry entry;
    entry.name = std::string_view(names_).substr(record.name, record.nameLength);
    entry.section = record.section;
    if (record.wide) {
        entry.offset = wide_[record.offset];
        entry.length = wide_[record.offset + 1];
    } else {
        entry.offset = record.offset;
        entry.length = record.length;
    }
    return entry;
}

std::optional<std::size_t> ChmFile::Find(std::string_view name) const {
    const auto nameOf = [this](const Record& record) {
        return std::string_view(names_).substr(record.name, record.nameLength);
    };
    if (sorted_) {
        const auto it = std::lower_bound(records_.begin(), records_.end(), name,
                                         [&](const Record& record, std::string_view wanted) {
                                             return CompareNames(nameOf(record), wanted) < 0;
                                         });
        if (it != records_.end() && CompareNames(nameOf(*it), name) == 0)
            return static_cast<std::size_t>(it - records_.begin());
        return std::nullopt;
    }
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (CompareNames(nameOf(records_[i]), name) == 0)
            return i;
    return std::nullopt;
}

// The entries of one listing chunk. An entry whose name is blank or holds a
// zero byte is skipped and the chunk read on, as other readers do; when the
// fields themselves cannot be read, the entries before stay and the rest of
// the chunk is lost. False then.
bool ChmFile::ReadListing(const std::uint8_t* chunk, std::size_t size, std::uint64_t number) {
    const auto chunkNumber = static_cast<unsigned long long>(number);
    // The entries end where the free space at the chunk's end begins.
    const std::uint64_t freeSpace = Le32(chunk + 4);
    if (freeSpace > size - kPmglHeaderSize) {
        ChunkDamaged(number, 1);
        return false;
    }
    EndDamagedRun();
    const std::uint8_t* at = chunk + kPmglHeaderSize;
    const std::uint8_t* const end = chunk + size - freeSpace;
    for (std::size_t read = 0; at < end; ++read) {
        const auto lost = [&](const char* why) {
            NoteDamage(Format(Tr("directory chunk %llu is damaged after its entry %zu (%s); the "
                                 "rest of it is lost"),
                              chunkNumber, read, Tr(why)));
            return false;
        };
        const std::uint8_t* const entry = at;
        std::uint64_t nameLength = 0, section = 0, offset = 0, length = 0;
        if (!GetEncInt(at, end, nameLength) || nameLength > static_cast<std::uint64_t>(end - at))
            return lost(N_("a name longer than the chunk"));
        const std::uint8_t* const name = at;
        at += nameLength;
        if (!GetEncInt(at, end, section) || !GetEncInt(at, end, offset) ||
            !GetEncInt(at, end, length))
            return lost(N_("an entry cut off"));
        // Zero bytes to the end of the entries are no entries: the chunk's
        // free space is wrong.
        if (nameLength == 0 && std::all_of(entry, end, [](std::uint8_t b) { return b == 0; })) {
            NoteDamage(Format(Tr("directory chunk %llu is damaged after its entry %zu (zero bytes "
                                 "where its entries go on)"),
                              chunkNumber, read));
            return false;
        }
        // A zero byte would cut the name short wherever it is used as a path.
        if (nameLength == 0 || std::memchr(name, '\0', nameLength)) {
            ++skippedEntries_;
            NoteDamage(Format(nameLength == 0
                                  ? Tr("directory chunk %llu: entry %zu skipped, its name is blank")
                                  : Tr("directory chunk %llu: entry %zu skipped, its name holds a "
                                       "zero byte"),
                              chunkNumber, read));
            continue;
        }
        if (names_.size() > std::numeric_limits<std::uint32_t>::max() - nameLength)
            return lost(N_("the directory is too large"));
        Record record{};
        record.name = static_cast<std::uint32_t>(names_.size());
        record.nameLength = static_cast<std::uint16_t>(nameLength);
        record.section = static_cast<std::uint8_t>(std::min<std::uint64_t>(section, 2));
        if (offset > std::numeric_limits<std::uint32_t>::max() ||
            length > std::numeric_limits<std::uint32_t>::max()) {
            record.wide = 1;
            record.offset = static_cast<std::uint32_t>(wide_.size());
            wide_.push_back(offset);
            wide_.push_back(length);
        } else {
            record.offset = static_cast<std::uint32_t>(offset);
            record.length = static_cast<std::uint32_t>(length);
        }
        names_.append(reinterpret_cast<const char*>(name), nameLength);
        records_.push_back(record);
    }
    return true;
}

// Chunks damaged one after another are reported as one run.
void ChmFile::ChunkDamaged(std::uint64_t first, std::uint64_t count) {
    if (damagedRunCount_ > 0 && damagedRunFirst_ + damagedRunCount_ == first) {
        damagedRunCount_ += count;
        return;
    }
    EndDamagedRun();
    damagedRunFirst_ = first;
    damagedRunCount_ = count;
}

void ChmFile::EndDamagedRun() {
    if (damagedRunCount_ == 1)
        NoteDamage(Format(Tr("directory chunk %llu is damaged"),
                          static_cast<unsigned long long>(damagedRunFirst_)));
    else if (damagedRunCount_ > 1)
        NoteDamage(Format(Tr("directory chunks %llu to %llu are damaged (%llu chunks)"),
                          static_cast<unsigned long long>(damagedRunFirst_),
                          static_cast<unsigned long long>(damagedRunFirst_ + damagedRunCount_ - 1),
                          static_cast<unsigned long long>(damagedRunCount_)));
    damagedRunCount_ = 0;
}

// However damaged the directory, the lines that say so stay few.
void ChmFile::NoteDamage(std::string line) {
    if (damage_.size() < kDamageLines)
        damage_.push_back(std::move(line));
    else
        ++moreDamage_;
}

// How many chunks from chunk first on lie wholly in a hole of a sparse
// file, where every byte is zero, found without reading them.
std::uint64_t ChmFile::HoleChunks(std::uint64_t chunksAt, std::uint64_t chunkSize,
                                  std::uint64_t first, std::uint64_t chunks) const {
    const off_t data = ::lseek(fd_, static_cast<off_t>(chunksAt + first * chunkSize), SEEK_DATA);
    if (data < 0)
        return errno == ENXIO ? chunks - first : 0; // ENXIO: no data up to the end
    return std::min(chunks, (static_cast<std::uint64_t>(data) - chunksAt) / chunkSize) - first;
}

std::string ChmFile::ReadDirectory() {
    std::uint8_t header[kItsfHeaderSize] = {};
    if (!ReadAt(0, header, kItsfVersion2HeaderSize) || std::memcmp(header, "ITSF", 4) != 0)
        return Tr("not a help file, or its header is damaged");
    // Version 3 adds where the uncompressed section starts; version 2 puts
    // it right after the directory. The header GUIDs are not checked: some
    // compilers write a wrong one.
    const std::uint64_t version = Le32(header + 0x04);
    if ((version != 2 && version != 3) || (version == 3 && !ReadAt(0, header, kItsfHeaderSize)))
        return Tr("not a help file, or its header is damaged");
    const std::uint64_t dirOffset = GetLe64(header + 0x48);
    const std::uint64_t dirLength = GetLe64(header + 0x50);
    std::uint8_t itsp[kItspHeaderSize];
    if (!Within(dirOffset, dirLength, size_) || dirLength < kItspHeaderSize ||
        !ReadAt(dirOffset, itsp, sizeof itsp) || std::memcmp(itsp, "ITSP", 4) != 0)
        return Tr("the directory header is missing or damaged");
    section0_ = version == 3 ? GetLe64(header + 0x58) : dirOffset + dirLength;
    const std::uint64_t headerLength = Le32(itsp + 0x08);
    const std::uint64_t chunkSize = Le32(itsp + 0x10);
    const std::uint64_t firstListing = Le32(itsp + 0x20);
    const std::uint64_t chunks = Le32(itsp + 0x2C);
    if (section0_ > size_ || headerLength < kItspHeaderSize || headerLength > dirLength ||
        chunkSize <= kPmglHeaderSize || chunkSize > kMaxChunkSize ||
        chunks > (dirLength - headerLength) / chunkSize)
        return Tr("the directory header is damaged");

    // Nothing is reserved by what the header claims: the chunks are checked
    // against the file's size, but a sparse file is large and costs nothing.
    // What each listing chunk holds and links to, for the header's chain:
    // kept for the listing chunks read, so that chunks claimed but not
    // there cost nothing.
    struct Listing {
        std::uint64_t number;
        std::uint64_t entries;
        std::uint64_t next;
    };
    std::vector<Listing> listings;
    std::vector<std::uint8_t> batch;
    const std::uint64_t chunksAt = dirOffset + headerLength;
    for (std::uint64_t first = 0; first < chunks;) {
        // Zero bytes are no chunk: the chunks wholly inside a hole are
        // damage, known without a read.
        const std::uint64_t holed = HoleChunks(chunksAt, chunkSize, first, chunks);
        if (holed > 0) {
            ChunkDamaged(first, holed);
            first += holed;
            continue;
        }
        const std::uint64_t count = std::min<std::uint64_t>(kChunksAtOnce, chunks - first);
        batch.resize(static_cast<std::size_t>(count * chunkSize));
        if (!ReadAt(chunksAt + first * chunkSize, batch.data(), batch.size()))
            return Tr("the directory cannot be read");
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* chunk = batch.data() + i * chunkSize;
            const std::uint64_t number = first + i;
            if (std::memcmp(chunk, "PMGI", 4) == 0) {
                EndDamagedRun();
                continue;
            }
            if (std::memcmp(chunk, "PMGL", 4) != 0) {
                ChunkDamaged(number, 1);
                continue;
            }
            const std::size_t before = records_.size();
            if (!ReadListing(chunk, static_cast<std::size_t>(chunkSize), number) &&
                records_.size() == before)
                continue;
            listings.push_back({number, records_.size() - before, Le32(chunk + 0x10)});
        }
        first += count;
    }
    EndDamagedRun();
    if (moreDamage_ > 0)
        damage_.push_back(Format(Tr("and %llu more damaged places in the directory"),
                                 static_cast<unsigned long long>(moreDamage_)));

    // Along the chain from the header's first listing chunk; a chain longer
    // than the listing chunks has a loop.
    std::uint64_t reached = 0, chainEntries = 0;
    for (std::uint64_t at = firstListing; reached < listings.size();) {
        const auto it = std::lower_bound(
            listings.begin(), listings.end(), at,
            [](const Listing& listing, std::uint64_t number) { return listing.number < number; });
        if (it == listings.end() || it->number != at)
            break;
        chainEntries += it->entries;
        ++reached;
        at = it->next;
    }
    headerChainEntries_ = reached == listings.size() ? 0 : chainEntries;

    for (std::size_t i = 1; i < records_.size() && sorted_; ++i)
        sorted_ = CompareNames(Entry(i - 1).name, Entry(i).name) <= 0;
    return {};
}

// Finds and checks the streams that describe the LZX section. Any fault
// leaves the reason in lzx_->error: then only that section is unreadable.
void ChmFile::SetUpCompressed() {
    Compressed& lzx = *lzx_;
    // The content may be cut short, as in a file that was not copied whole:
    // every interval that is there can still be read.
    const auto stream = [this](std::string_view name, bool whole) -> std::optional<ChmEntry> {
        const std::optional<std::size_t> index = Find(name);
        if (!index)
            return std::nullopt;
        const ChmEntry entry = Entry(*index);
        if (entry.section != kUncompressedSection ||
            !Within(entry.offset, whole ? entry.length : 0, size_ - section0_))
            return std::nullopt;
        return entry;
    };
    const std::optional<ChmEntry> control = stream(kControlData, true);
    const std::optional<ChmEntry> table = stream(kResetTable, true);
    const std::optional<ChmEntry> content = stream(kContent, false);
    if (!control || !table || !content) {
        lzx.error = Tr("the compressed section's description is missing or damaged");
        return;
    }

    std::uint8_t data[kControlDataMinSize];
    if (control->length < sizeof data || !ReadAt(section0_ + control->offset, data, sizeof data) ||
        std::memcmp(data + 4, "LZXC", 4) != 0) {
        lzx.error = Tr("the compressed section's control data is damaged");
        return;
    }
    const std::uint64_t version = Le32(data + 0x08);
    const std::uint64_t unit = version == 2 ? kLzxFrameSize : 1;
    const std::uint64_t resetInterval = Le32(data + 0x0C) * unit;
    const std::uint64_t windowSize = Le32(data + 0x10) * unit;
    unsigned windowBits = kLzxMinWindowBits;
    while (windowBits < kLzxMaxWindowBits && (std::uint64_t{1} << windowBits) < windowSize)
        ++windowBits;
    if ((version != 1 && version != 2) || windowSize != std::uint64_t{1} << windowBits ||
        resetInterval == 0 || resetInterval % kLzxFrameSize != 0) {
        lzx.error = Tr("the compressed section's control data is damaged");
        return;
    }

    std::uint8_t reset[kResetTableHeaderSize];
    if (table->length < sizeof reset || !ReadAt(section0_ + table->offset, reset, sizeof reset)) {
        lzx.error = Tr("the compressed section's reset table is damaged");
        return;
    }
    const std::uint64_t entries = Le32(reset + 0x04);
    const std::uint64_t entrySize = Le32(reset + 0x08);
    const std::uint64_t tableOffset = Le32(reset + 0x0C);
    if ((entrySize != 4 && entrySize != 8) || GetLe64(reset + 0x20) != kLzxFrameSize ||
        tableOffset > table->length || entries > (table->length - tableOffset) / entrySize) {
        lzx.error = Tr("the compressed section's reset table is damaged");
        return;
    }
    lzx.contentAt = section0_ + content->offset;
    lzx.contentLength = content->length;
    lzx.contentPresent = std::min(content->length, size_ - lzx.contentAt);
    lzx.length = GetLe64(reset + 0x10);
    lzx.windowBits = windowBits;
    lzx.resetFrames = resetInterval / kLzxFrameSize;
    lzx.tableAt = section0_ + table->offset + tableOffset;
    lzx.tableEntries = entries;
    lzx.entrySize = static_cast<unsigned>(entrySize);
}

ChmCursor::ChmCursor(const ChmFile& file) : file_(file), interval_(kNone) {}

ChmCursor::~ChmCursor() = default;

std::string ChmCursor::Read(const ChmEntry& entry, std::uint64_t from,
                            std::span<std::uint8_t> out) {
    if (!Within(from, out.size(), entry.length))
        return Tr("read beyond the end of the entry");
    if (entry.section == kUncompressedSection) {
        if (!Within(entry.offset, entry.length, file_.size_ - file_.section0_))
            return Tr("content beyond the end of the file");
        if (!file_.ReadAt(file_.section0_ + entry.offset + from, out.data(), out.size()))
            return Tr("the help file cannot be read");
        return {};
    }
    if (entry.section != kCompressedSection)
        return Tr("content in an unknown section");
    const ChmFile::Compressed& lzx = *file_.lzx_;
    if (!lzx.error.empty())
        return lzx.error;
    if (!Within(entry.offset, entry.length, lzx.length))
        return Tr("content beyond the end of the compressed section");
    return ReadCompressed(entry.offset + from, out);
}

std::string ChmCursor::ReadCompressed(std::uint64_t at, std::span<std::uint8_t> out) {
    while (!out.empty()) {
        std::span<const std::uint8_t> frame;
        if (std::string error = Frame(at / kLzxFrameSize, frame); !error.empty())
            return error;
        const std::size_t within = static_cast<std::size_t>(at % kLzxFrameSize);
        const std::size_t count = std::min(out.size(), frame.size() - within);
        std::memcpy(out.data(), frame.data() + within, count);
        out = out.subspan(count);
        at += count;
    }
    return {};
}

// The decoded bytes of one frame of the section: from the window when it
// still holds them, else decoded onwards from the current position or from
// the reset point at or before the frame.
std::string ChmCursor::Frame(std::uint64_t frame, std::span<const std::uint8_t>& bytes) {
    const ChmFile::Compressed& lzx = *file_.lzx_;
    const std::uint64_t interval = frame / lzx.resetFrames;
    const std::uint64_t local = frame % lzx.resetFrames;
    if (interval == interval_) {
        bytes = decoder_->HeldFrame(local);
        if (!bytes.empty())
            return {};
    }
    if (interval != interval_ || local < decoder_->FramesDecoded()) {
        if (std::string error = StartInterval(interval); !error.empty())
            return error;
    }
    while (decoder_->FramesDecoded() <= local) {
        if (std::string error = MoreInput(); !error.empty()) {
            interval_ = kNone;
            return error;
        }
        const LzxDecoder::Result result = decoder_->DecodeFrame(bits_);
        if (result.error) {
            interval_ = kNone;
            if (cutShort_ && bits_.Overrun())
                return Tr("the help file is cut short inside this content");
            return Format(Tr("damaged compressed content: %s"), result.error);
        }
        bytes = result.frame;
    }
    return {};
}

std::string ChmCursor::StartInterval(std::uint64_t interval) {
    const ChmFile::Compressed& lzx = *file_.lzx_;
    interval_ = kNone;
    const auto tableEntry = [&](std::uint64_t index, std::uint64_t& value) {
        std::uint8_t bytes[8];
        if (!file_.ReadAt(lzx.tableAt + index * lzx.entrySize, bytes, lzx.entrySize))
            return false;
        value = lzx.entrySize == 4 ? GetLe32(bytes) : GetLe64(bytes);
        return true;
    };
    // The interval's compressed bytes run to the next reset point, or to
    // the end of the stream for the last one.
    const std::uint64_t first = interval * lzx.resetFrames;
    const std::uint64_t frames = lzx.length / kLzxFrameSize + (lzx.length % kLzxFrameSize != 0);
    std::uint64_t start = 0, end = lzx.contentLength;
    const std::uint64_t next = first + lzx.resetFrames;
    if (first >= lzx.tableEntries || !tableEntry(first, start) ||
        (next < frames && next < lzx.tableEntries && !tableEntry(next, end)) || start > end ||
        end > lzx.contentLength)
        return Tr("the compressed section's reset table is damaged");
    if (start >= lzx.contentPresent)
        return Tr("the help file is cut short before this content");
    inputAt_ = start;
    inputEnd_ = std::min(end, lzx.contentPresent);
    cutShort_ = end > inputEnd_;
    input_.clear();
    bits_ = BitReader(input_);
    if (std::string error = MoreInput(); !error.empty())
        return error;
    if (!decoder_ || decoder_->WindowBits() != lzx.windowBits)
        decoder_ = std::make_unique<LzxDecoder>(lzx.windowBits);
    decoder_->Reset();
    interval_ = interval;
    return {};
}

// Before each frame: the next piece of the interval, once less than a
// frame's worth of input is left in the one held.
std::string ChmCursor::MoreInput() {
    const std::size_t loaded = bits_.Loaded();
    const std::uint64_t next = inputAt_ + loaded;
    if (input_.size() - loaded >= kFrameInput || inputAt_ + input_.size() >= inputEnd_)
        return {};
    const ChmFile::Compressed& lzx = *file_.lzx_;
    input_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kInputPiece, inputEnd_ - next)));
    if (!file_.ReadAt(lzx.contentAt + next, input_.data(), input_.size()))
        return Tr("the help file cannot be read");
    inputAt_ = next;
    bits_.Continue(input_);
    return {};
}

} // namespace tbx::chm
