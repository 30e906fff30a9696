#include "chm/writer.h"

#include "chm/format.h"
#include "chm/interval_pool.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/charset.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

namespace tbx::chm {
namespace {

constexpr std::string_view kDataSpace = "::DataSpace/";
constexpr std::uint32_t kItsfVersion = 3;
constexpr std::uint32_t kHeaderSection0Tag = 0x1FE;

std::string RefusalOf(std::string_view name) {
    if (name.empty())
        return Tr("the name is empty");
    if (name.size() > kMaxNameLength)
        return Format(Tr("the name is longer than %zu bytes"), kMaxNameLength);
    if (!name.starts_with('/') && !name.starts_with("::"))
        return Tr("the name starts with neither \"/\" nor \"::\"");
    if (name.ends_with('/'))
        return Tr("the name ends with \"/\", as only folders do");
    if (name.find('\0') != std::string_view::npos)
        return Tr("the name holds a zero byte");
    // The readers compare names by their characters.
    if (!IsValidUtf8(name))
        return Tr("the name is not UTF-8");
    if (CompareNames(name.substr(0, kDataSpace.size()), kDataSpace) == 0)
        return Tr("names in ::DataSpace/ belong to the help file itself");
    return {};
}

void AppendEncInt(std::string& out, std::uint64_t value) {
    std::uint8_t bytes[kMaxEncIntBytes];
    out.append(reinterpret_cast<const char*>(bytes), PutEncInt(bytes, value));
}

void AppendUtf16(std::string& out, std::string_view ascii) {
    for (const char c : ascii)
        AppendLe16(out, static_cast<unsigned char>(c));
}

} // namespace

struct DirEntry {
    std::string name;
    std::uint64_t section;
    std::uint64_t offset;
    std::uint64_t length;
};

namespace {

// ---- Directory ----------------------------------------------------------------

struct Directory {
    std::string chunks;
    std::uint32_t chunkCount = 0;
    std::uint32_t listingChunks = 0;
    std::uint32_t depth = 1;
    std::uint32_t root = kNoChunk;
};

constexpr std::size_t kQuickrefSpacing = 1 + (1u << kQuickrefDensity);

// Bytes the entry count and quickrefs of a chunk of count entries take.
std::size_t QuickrefAreaSize(std::size_t count) {
    return 2 * ((count + kQuickrefSpacing - 1) / kQuickrefSpacing);
}

// Cuts encoded entries into runs that each fit one chunk after a header of
// headerSize bytes; returns the index where each run starts.
std::vector<std::size_t> SplitIntoChunks(const std::vector<std::string>& encoded,
                                         std::size_t headerSize) {
    std::vector<std::size_t> starts;
    std::size_t used = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (starts.empty() ||
            headerSize + used + encoded[i].size() + QuickrefAreaSize(count + 1) > kChunkSize) {
            starts.push_back(i);
            used = 0;
            count = 0;
        }
        used += encoded[i].size();
        ++count;
    }
    return starts;
}

// Appends one chunk holding encoded[first, last). A listing chunk carries
// the numbers of its neighbours.
void AppendChunk(std::string& out, bool listing, const std::vector<std::string>& encoded,
                 std::size_t first, std::size_t last, std::uint32_t previous, std::uint32_t next) {
    const std::size_t start = out.size();
    const std::size_t headerSize = listing ? kPmglHeaderSize : kPmgiHeaderSize;
    out.append(listing ? "PMGL" : "PMGI");
    AppendLe32(out, 0); // free space, below
    if (listing) {
        AppendLe32(out, 0);
        AppendLe32(out, previous);
        AppendLe32(out, next);
    }
    std::vector<std::size_t> offsets;
    for (std::size_t i = first; i < last; ++i) {
        offsets.push_back(out.size() - start - headerSize);
        out += encoded[i];
    }
    const std::size_t freeSpace = kChunkSize - (out.size() - start);
    out.resize(start + kChunkSize, '\0');
    auto* chunk = reinterpret_cast<std::uint8_t*>(out.data() + start);
    PutLe32(chunk + 4, freeSpace);
    // Quickref k, counted back from the entry count at the end, gives where
    // entry k * 5 starts.
    PutLe16(chunk + kChunkSize - 2, static_cast<std::uint16_t>(offsets.size()));
    for (std::size_t k = 1; k * kQuickrefSpacing < offsets.size(); ++k)
        PutLe16(chunk + kChunkSize - 2 - 2 * k,
                static_cast<std::uint16_t>(offsets[k * kQuickrefSpacing]));
}

// Listing chunks first, then each level of index chunks, the root last.
Directory BuildDirectory(const std::vector<DirEntry>& sorted) {
    Directory dir;
    std::vector<std::string> encoded;
    for (const DirEntry& entry : sorted) {
        std::string e;
        AppendEncInt(e, entry.name.size());
        e += entry.name;
        AppendEncInt(e, entry.section);
        AppendEncInt(e, entry.offset);
        AppendEncInt(e, entry.length);
        encoded.push_back(std::move(e));
    }
    std::vector<std::size_t> starts = SplitIntoChunks(encoded, kPmglHeaderSize);
    dir.listingChunks = static_cast<std::uint32_t>(starts.size());
    // The children of the next index level: their first names and numbers.
    std::vector<std::pair<std::string_view, std::uint32_t>> children;
    for (std::size_t c = 0; c < starts.size(); ++c) {
        const std::size_t last = c + 1 < starts.size() ? starts[c + 1] : encoded.size();
        const auto previous = c == 0 ? kNoChunk : static_cast<std::uint32_t>(c - 1);
        const auto next = c + 1 == starts.size() ? kNoChunk : static_cast<std::uint32_t>(c + 1);
        AppendChunk(dir.chunks, true, encoded, starts[c], last, previous, next);
        children.emplace_back(sorted[starts[c]].name, static_cast<std::uint32_t>(c));
    }
    dir.chunkCount = dir.listingChunks;

    while (children.size() > 1) {
        encoded.clear();
        for (const auto& [name, chunk] : children) {
            std::string e;
            AppendEncInt(e, name.size());
            e += name;
            AppendEncInt(e, chunk);
            encoded.push_back(std::move(e));
        }
        starts = SplitIntoChunks(encoded, kPmgiHeaderSize);
        std::vector<std::pair<std::string_view, std::uint32_t>> parents;
        for (std::size_t c = 0; c < starts.size(); ++c) {
            const std::size_t last = c + 1 < starts.size() ? starts[c + 1] : encoded.size();
            AppendChunk(dir.chunks, false, encoded, starts[c], last, kNoChunk, kNoChunk);
            parents.emplace_back(children[starts[c]].first, dir.chunkCount++);
        }
        children = std::move(parents);
        ++dir.depth;
        dir.root = children.front().second;
    }
    return dir;
}

// ---- The streams that describe the compressed section ----------------------------

std::string NameList() {
    std::string out;
    AppendLe16(out, 30); // length of the whole stream in 16-bit units
    AppendLe16(out, 2);
    for (const std::string_view name : {"Uncompressed", "MSCompressed"}) {
        AppendLe16(out, name.size());
        AppendUtf16(out, name);
        AppendLe16(out, 0);
    }
    return out;
}

std::string ControlData(unsigned windowBits) {
    // Sizes in 32 KiB units; the reset interval is one window. The last
    // field makes a reader that counts in half windows reset as often.
    const std::uint32_t window = (1u << windowBits) / kLzxFrameSize;
    std::string out;
    AppendLe32(out, 6);
    out += "LZXC";
    AppendLe32(out, 2);
    AppendLe32(out, window);
    AppendLe32(out, window);
    AppendLe32(out, window / 2);
    AppendLe32(out, 0);
    return out;
}

std::string ResetTable(const std::vector<std::uint64_t>& frameOffsets, std::uint64_t uncompressed,
                       std::uint64_t compressed) {
    std::string out;
    AppendLe32(out, 2);
    AppendLe32(out, frameOffsets.size());
    AppendLe32(out, 8);
    AppendLe32(out, 0x28);
    AppendLe64(out, uncompressed);
    AppendLe64(out, compressed);
    AppendLe64(out, kLzxFrameSize);
    for (const std::uint64_t offset : frameOffsets)
        AppendLe64(out, offset);
    return out;
}

// Calls progress as the compressed prefix covers more whole files.
class FileProgress {
public:
    FileProgress(std::vector<std::uint64_t> ends, const WriteOptions& options)
        : ends_(std::move(ends)), progress_(options.progress) {}

    void BytesDone(std::uint64_t bytes) {
        const auto complete = static_cast<std::size_t>(
            std::upper_bound(ends_.begin(), ends_.end(), bytes) - ends_.begin());
        Report(complete);
    }
    void Report(std::size_t complete) {
        if (progress_ && complete > reported_) {
            reported_ = complete;
            progress_(complete, ends_.size());
        }
    }
    void AllDone() { Report(ends_.size()); }

private:
    std::vector<std::uint64_t> ends_;
    const std::function<void(std::size_t, std::size_t)>& progress_;
    std::size_t reported_ = 0;
};

// ---- Compression ------------------------------------------------------------------

// A task is a few reset intervals: enough to keep every thread busy to the end.
constexpr std::size_t kIntervalsPerTask = 4;

// The next bytes of the section into a buffer; fewer only at its end.
using SectionFill = std::function<std::size_t(std::uint8_t* into, std::size_t size)>;

// One task's part of the section and its compressed form.
struct Task {
    std::vector<std::uint8_t> input; // the section's bytes, zeros after its end not held
    std::size_t coded = 0;           // bytes coded, the zeros after the end included
    LzxStream output;
};

// Compresses the section task by task, each task's reset intervals
// independent of all others, so the bytes are the same on any number of
// threads; at most two tasks a thread are held at once.
class SectionCompressor {
public:
    SectionCompressor(const SectionFill& fill, std::uint64_t size, const WriteOptions& options,
                      FileProgress& progress, SpillBuffer& out,
                      std::vector<std::uint64_t>& frameOffsets)
        : fill_(fill), size_(size), options_(options), progress_(progress), out_(out),
          frameOffsets_(frameOffsets), interval_(std::size_t{1} << options.windowBits),
          span_(kIntervalsPerTask * interval_), coded_(LzxFrameCount(size) * kLzxFrameSize),
          tasks_((coded_ + span_ - 1) / span_) {}

    // False when stopped.
    bool Run() {
        std::vector<Task> slots(IntervalSlots(tasks_, options_.threads));
        IntervalTasks run;
        run.count = tasks_;
        run.threads = options_.threads;
        run.stop = options_.stop;
        run.makeWorker = [&]() -> SlotWorker {
            // Shared, as a worker must be copyable and an encoder is not copied here.
            auto encoder =
                std::make_shared<LzxIntervalEncoder>(options_.windowBits, options_.level);
            return [&, encoder](std::size_t slot, std::size_t) { Encode(*encoder, slots[slot]); };
        };
        run.load = [&](std::size_t slot, std::size_t task) { Load(slots[slot], task); };
        run.deliver = [&](std::size_t slot, std::size_t task) { Deliver(slots[slot], task); };
        return RunIntervalTasks(run);
    }

private:
    void Load(Task& task, std::uint64_t index) const {
        const std::uint64_t begin = index * span_;
        task.coded = static_cast<std::size_t>(std::min<std::uint64_t>(span_, coded_ - begin));
        task.input.resize(
            begin < size_ ? static_cast<std::size_t>(std::min<std::uint64_t>(span_, size_ - begin))
                          : 0);
        if (fill_(task.input.data(), task.input.size()) != task.input.size())
            throw std::runtime_error("the files added came to fewer bytes than they were");
    }

    void Encode(LzxIntervalEncoder& encoder, Task& task) const {
        task.output.bytes.clear();
        task.output.frameOffsets.clear();
        const std::size_t data = task.input.size();
        for (std::size_t at = 0; at < task.coded; at += interval_) {
            const std::size_t length = std::min(interval_, task.coded - at);
            const std::size_t from = std::min(at, data);
            encoder.Encode(std::span(task.input.data() + from, std::min(length, data - from)),
                           length, task.output);
        }
    }

    void Deliver(const Task& task, std::uint64_t index) {
        const std::uint64_t base = out_.Size();
        for (const std::uint64_t offset : task.output.frameOffsets)
            frameOffsets_.push_back(base + offset);
        out_.Append(task.output.bytes.data(), task.output.bytes.size());
        progress_.BytesDone(std::min(size_, (index + 1) * span_));
    }

    const SectionFill& fill_;
    const std::uint64_t size_;
    const WriteOptions& options_;
    FileProgress& progress_;
    SpillBuffer& out_;
    std::vector<std::uint64_t>& frameOffsets_;
    const std::size_t interval_;
    const std::size_t span_;
    const std::uint64_t coded_;
    const std::uint64_t tasks_;
};

// ---- Headers ------------------------------------------------------------------------

std::string ItspHeader(const Directory& directory, std::uint32_t lcid) {
    std::string itsp;
    itsp += "ITSP";
    for (const std::uint64_t value :
         {std::uint64_t{1}, std::uint64_t{kItspHeaderSize}, std::uint64_t{0x0A},
          std::uint64_t{kChunkSize}, std::uint64_t{kQuickrefDensity},
          std::uint64_t{directory.depth}, std::uint64_t{directory.root}, std::uint64_t{0},
          std::uint64_t{directory.listingChunks - 1}, std::uint64_t{kNoChunk},
          std::uint64_t{directory.chunkCount}, std::uint64_t{lcid}})
        AppendLe32(itsp, value);
    itsp.append(reinterpret_cast<const char*>(kItspGuid.data()), kItspGuid.size());
    for (const std::uint64_t value : {std::uint64_t{kItspHeaderSize}, std::uint64_t{kNoChunk},
                                      std::uint64_t{kNoChunk}, std::uint64_t{kNoChunk}})
        AppendLe32(itsp, value);
    return itsp;
}

std::string ItsfHeader(std::uint64_t directoryLength, std::uint64_t contentOffset,
                       std::uint64_t fileSize, std::uint32_t lcid) {
    const std::uint64_t directoryOffset = kItsfHeaderSize + kHeaderSection0Size;
    std::string header;
    header += "ITSF";
    AppendLe32(header, kItsfVersion);
    AppendLe32(header, kItsfHeaderSize);
    AppendLe32(header, 1);
    AppendLe32(header, 0); // time stamp: none, so that the output is reproducible
    AppendLe32(header, lcid);
    header.append(reinterpret_cast<const char*>(kItsfGuid1.data()), kItsfGuid1.size());
    header.append(reinterpret_cast<const char*>(kItsfGuid2.data()), kItsfGuid2.size());
    AppendLe64(header, kItsfHeaderSize);
    AppendLe64(header, kHeaderSection0Size);
    AppendLe64(header, directoryOffset);
    AppendLe64(header, directoryLength);
    AppendLe64(header, contentOffset);
    AppendLe32(header, kHeaderSection0Tag);
    AppendLe32(header, 0);
    AppendLe64(header, fileSize);
    AppendLe64(header, 0);
    return header;
}

} // namespace

// ---- Writer -------------------------------------------------------------------------

// The streams of section 0 before the stored files: the name list first.
struct Writer::Section0 {
    std::string bytes;
    std::vector<DirEntry> entries;

    void Add(std::string_view name, const std::string& stream) {
        entries.push_back({std::string(name), kUncompressedSection, bytes.size(), stream.size()});
        bytes += stream;
    }

    // The streams describing a compressed section of that many bytes.
    static Section0 Describing(unsigned windowBits, std::uint64_t uncompressed,
                               const std::vector<std::uint64_t>& frameOffsets,
                               std::uint64_t compressed) {
        Section0 section0;
        section0.Add(kNameList, NameList());
        section0.Add(kControlData, ControlData(windowBits));
        std::string spanInfo;
        AppendLe64(spanInfo, uncompressed);
        section0.Add(kSpanInfo, spanInfo);
        std::string transforms;
        AppendUtf16(transforms, "{7FC28940-9D31-11D0");
        section0.Add(kTransformList, transforms);
        section0.Add(kResetTable, ResetTable(frameOffsets, uncompressed, compressed));
        return section0;
    }
};

// The compressed files' bytes one after another, each source opened when
// reached and let go once read.
class Writer::SectionReader {
public:
    explicit SectionReader(const Writer& writer) : writer_(writer) {}

    std::size_t Fill(std::uint8_t* into, std::size_t size) {
        std::size_t filled = 0;
        while (filled < size && piece_ < writer_.pieces_.size()) {
            const Piece& piece = writer_.pieces_[piece_];
            const Entry& entry = writer_.entries_[piece.entry];
            if (done_ == entry.length) {
                EndPiece(entry);
                continue;
            }
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(size - filled, entry.length - done_));
            std::size_t got = want;
            if (!piece.open) {
                std::memcpy(into + filled, piece.held.data() + done_, want);
            } else {
                if (!source_)
                    source_ = piece.open();
                got = source_->Read({into + filled, want});
                if (got == 0)
                    throw Changed(entry);
            }
            filled += got;
            done_ += got;
        }
        return filled;
    }

private:
    static std::runtime_error Changed(const Entry& entry) {
        return std::runtime_error("\"" + entry.name +
                                  "\" changed while the help file was being written");
    }

    void EndPiece(const Entry& entry) {
        if (source_) {
            std::uint8_t more = 0;
            if (source_->Read({&more, 1}) != 0)
                throw Changed(entry);
            source_.reset();
        }
        ++piece_;
        done_ = 0;
    }

    const Writer& writer_;
    std::size_t piece_ = 0;
    std::uint64_t done_ = 0; // of the piece at piece_
    std::unique_ptr<FileSource> source_;
};

std::string Writer::NameRefusal(std::string_view name) const {
    std::string refusal = RefusalOf(name);
    if (refusal.empty() && names_.contains(name))
        refusal = Tr("a file of that name was already added");
    return refusal;
}

std::string Writer::Refusal(std::string_view name) {
    if (std::string refusal = NameRefusal(name); !refusal.empty())
        return Format(Tr("cannot add \"%s\" to the help file: %s"), std::string(name), refusal);
    names_.emplace(name);
    return {};
}

std::string Writer::AddLater(std::string_view name, std::function<std::string()> bytes) {
    std::string refusal = Refusal(name);
    if (refusal.empty())
        later_.push_back({std::string(name), std::move(bytes)});
    return refusal;
}

std::string Writer::AddFrom(std::string_view name, std::uint64_t length, SourceOpener open) {
    if (std::string refusal = Refusal(name); !refusal.empty())
        return refusal;
    pieces_.push_back({entries_.size(), {}, std::move(open)});
    entries_.push_back({std::string(name), Storage::Compressed, compressedSize_, length});
    compressedSize_ += length;
    return {};
}

std::string Writer::Add(std::string_view name, std::string_view bytes, Storage storage) {
    return Adopt(name, std::string(bytes), storage);
}

std::string Writer::Adopt(std::string_view name, std::string&& bytes, Storage storage) {
    if (std::string refusal = Refusal(name); !refusal.empty())
        return refusal;
    if (storage == Storage::Compressed) {
        entries_.push_back({std::string(name), storage, compressedSize_, bytes.size()});
        compressedSize_ += bytes.size();
        pieces_.push_back({entries_.size() - 1, std::move(bytes), {}});
    } else {
        entries_.push_back({std::string(name), storage, stored_.size(), bytes.size()});
        stored_ += bytes;
    }
    return {};
}

bool Writer::Compress(SpillBuffer& content, std::vector<std::uint64_t>& frameOffsets,
                      const WriteOptions& options) const {
    std::vector<std::uint64_t> ends;
    for (const Entry& entry : entries_) {
        if (entry.storage == Storage::Compressed)
            ends.push_back(entry.offset + entry.length);
    }
    FileProgress progress(std::move(ends), options);
    SectionReader reader(*this);
    const SectionFill fill = [&](std::uint8_t* into, std::size_t size) {
        return reader.Fill(into, size);
    };
    if (!SectionCompressor(fill, compressedSize_, options, progress, content, frameOffsets).Run())
        return false;
    progress.AllDone();
    return true;
}

std::vector<DirEntry> Writer::DirectoryEntries(const Section0& section0,
                                               const std::vector<std::string>& later,
                                               std::uint64_t contentSize) const {
    std::vector<DirEntry> dir = section0.entries;
    const std::uint64_t storedBase = section0.bytes.size();
    std::uint64_t laterOffset = storedBase + stored_.size();
    std::uint64_t laterSize = 0;
    for (const std::string& bytes : later)
        laterSize += bytes.size();
    dir.push_back(
        {std::string(kContent), kUncompressedSection, laterOffset + laterSize, contentSize});
    for (const Entry& entry : entries_) {
        const bool compressed = entry.storage == Storage::Compressed;
        dir.push_back({entry.name, compressed ? kCompressedSection : kUncompressedSection,
                       compressed ? entry.offset : storedBase + entry.offset, entry.length});
    }
    for (std::size_t i = 0; i < later.size(); ++i) {
        dir.push_back({later_[i].name, kUncompressedSection, laterOffset, later[i].size()});
        laterOffset += later[i].size();
    }
    // A folder entry for every folder on the way to a name, once in any
    // letter case.
    std::set<std::string, NameOrder> folders;
    const std::size_t files = dir.size();
    for (std::size_t i = 0; i < files; ++i) {
        const std::string name = dir[i].name;
        for (std::size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            const std::string folder = name.substr(0, slash + 1);
            if (folders.insert(folder).second)
                dir.push_back({folder, kUncompressedSection, 0, 0});
        }
    }
    std::sort(dir.begin(), dir.end(), [](const DirEntry& a, const DirEntry& b) {
        return CompareNames(a.name, b.name) < 0;
    });
    return dir;
}

std::string Writer::Write(const std::string& path, const WriteOptions& options) const {
    SpillBuffer content(path, options.memoryLimit);
    std::vector<std::uint64_t> frameOffsets;
    if (!Compress(content, frameOffsets, options))
        return std::string(kStopped);
    // The files made meanwhile follow the other stored ones.
    std::vector<std::string> later;
    for (const Later& file : later_)
        later.push_back(file.bytes());

    const Section0 section0 =
        Section0::Describing(options.windowBits, compressedSize_, frameOffsets, content.Size());
    const Directory directory = BuildDirectory(DirectoryEntries(section0, later, content.Size()));
    const std::string itsp = ItspHeader(directory, options.lcid);
    const std::uint64_t directoryLength = itsp.size() + directory.chunks.size();
    const std::uint64_t contentOffset = kItsfHeaderSize + kHeaderSection0Size + directoryLength;
    std::uint64_t fileSize =
        contentOffset + section0.bytes.size() + stored_.size() + content.Size();
    for (const std::string& bytes : later)
        fileSize += bytes.size();
    const std::string header = ItsfHeader(directoryLength, contentOffset, fileSize, options.lcid);

    std::vector<std::string_view> pieces = {header, itsp, directory.chunks, section0.bytes,
                                            stored_};
    pieces.insert(pieces.end(), later.begin(), later.end());
    // The last chance to stop: past it the file is written whole.
    if (options.stop && *options.stop)
        return std::string(kStopped);
    return WriteFileAtomically(path, pieces, &content);
}

std::string Writer::Finish(const std::string& path, const WriteOptions& options) const {
    const auto failed = [&](const std::string& why) {
        return Format(Tr("cannot write %s: %s"), path, why);
    };
    if (!LzxWindowSupported(options.windowBits))
        return failed(Format(Tr("unsupported LZX window of 2^%u bytes"), options.windowBits));
    const OutputFile output = ResolveOutputFile(path);
    if (!output.error.empty())
        return failed(output.error);
    try {
        const std::string error = Write(output.path, options);
        return error.empty() || error == kStopped ? error : failed(error);
    } catch (const std::bad_alloc&) {
        return failed(Tr("not enough memory"));
    } catch (const std::exception& e) {
        return failed(e.what());
    }
}

} // namespace tbx::chm
