#include "chm/writer.h"

#include "chm/format.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "res/cp1251.h"

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

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

void AppendLe(std::string& out, std::uint64_t value, int size) {
    std::uint8_t bytes[8];
    PutLe(bytes, size, value);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

void AppendEncInt(std::string& out, std::uint64_t value) {
    std::uint8_t bytes[kMaxEncIntBytes];
    out.append(reinterpret_cast<const char*>(bytes), PutEncInt(bytes, value));
}

void AppendUtf16(std::string& out, std::string_view ascii) {
    for (const char c : ascii)
        AppendLe(out, static_cast<unsigned char>(c), 2);
}

// ---- Directory ----------------------------------------------------------------

struct DirEntry {
    std::string name;
    std::uint64_t section;
    std::uint64_t offset;
    std::uint64_t length;
};

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
    AppendLe(out, 0, 4); // free space, below
    if (listing) {
        AppendLe(out, 0, 4);
        AppendLe(out, previous, 4);
        AppendLe(out, next, 4);
    }
    std::vector<std::size_t> offsets;
    for (std::size_t i = first; i < last; ++i) {
        offsets.push_back(out.size() - start - headerSize);
        out += encoded[i];
    }
    const std::size_t freeSpace = kChunkSize - (out.size() - start);
    out.resize(start + kChunkSize, '\0');
    auto* chunk = reinterpret_cast<std::uint8_t*>(out.data() + start);
    PutLe(chunk + 4, 4, freeSpace);
    // Quickref k, counted back from the entry count at the end, gives where
    // entry k * 5 starts.
    PutLe(chunk + kChunkSize - 2, 2, offsets.size());
    for (std::size_t k = 1; k * kQuickrefSpacing < offsets.size(); ++k)
        PutLe(chunk + kChunkSize - 2 - 2 * k, 2, offsets[k * kQuickrefSpacing]);
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
    AppendLe(out, 30, 2); // length of the whole stream in 16-bit units
    AppendLe(out, 2, 2);
    for (const std::string_view name : {"Uncompressed", "MSCompressed"}) {
        AppendLe(out, name.size(), 2);
        AppendUtf16(out, name);
        AppendLe(out, 0, 2);
    }
    return out;
}

std::string ControlData(unsigned windowBits) {
    // Sizes in 32 KiB units; the reset interval is one window. The last
    // field makes a reader that counts in half windows reset as often.
    const std::uint32_t window = (1u << windowBits) / kLzxFrameSize;
    std::string out;
    AppendLe(out, 6, 4);
    out += "LZXC";
    AppendLe(out, 2, 4);
    AppendLe(out, window, 4);
    AppendLe(out, window, 4);
    AppendLe(out, window / 2, 4);
    AppendLe(out, 0, 4);
    return out;
}

std::string ResetTable(const LzxStream& stream, std::uint64_t uncompressed) {
    std::string out;
    AppendLe(out, 2, 4);
    AppendLe(out, stream.frameOffsets.size(), 4);
    AppendLe(out, 8, 4);
    AppendLe(out, 0x28, 4);
    AppendLe(out, uncompressed, 8);
    AppendLe(out, stream.bytes.size(), 8);
    AppendLe(out, kLzxFrameSize, 8);
    for (const std::uint64_t offset : stream.frameOffsets)
        AppendLe(out, offset, 8);
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

} // namespace

std::string Writer::Refusal(std::string_view name) {
    std::string refusal = RefusalOf(name);
    if (refusal.empty() && !names_.emplace(name).second)
        refusal = Tr("a file of that name was already added");
    if (!refusal.empty())
        return Format(Tr("cannot add \"%s\" to the help file: %s"), std::string(name), refusal);
    return {};
}

std::string Writer::AddLater(std::string_view name, std::function<std::string()> bytes) {
    std::string refusal = Refusal(name);
    if (refusal.empty())
        later_.push_back({std::string(name), std::move(bytes)});
    return refusal;
}

std::string Writer::Add(std::string_view name, std::string_view bytes, Storage storage) {
    if (std::string refusal = Refusal(name); !refusal.empty())
        return refusal;
    if (storage == Storage::Compressed) {
        entries_.push_back({std::string(name), storage, compressed_.size(), bytes.size()});
        compressed_.insert(compressed_.end(), bytes.begin(), bytes.end());
    } else {
        entries_.push_back({std::string(name), storage, stored_.size(), bytes.size()});
        stored_ += bytes;
    }
    return {};
}

std::string Writer::Finish(const std::string& path, const WriteOptions& options) const {
    if (!LzxWindowSupported(options.windowBits))
        return Format(Tr("cannot write %s: unsupported LZX window of 2^%d bytes"), path,
                      static_cast<int>(options.windowBits));
    try {
        std::vector<std::uint64_t> ends;
        for (const Entry& entry : entries_)
            if (entry.storage == Storage::Compressed)
                ends.push_back(entry.offset + entry.length);
        FileProgress progress(std::move(ends), options);
        const LzxStream content = LzxCompress(
            compressed_, options.windowBits, options.threads,
            [&](std::uint64_t bytes) { progress.BytesDone(bytes); }, options.stop);
        const auto stopped = [&] { return options.stop && *options.stop; };
        if (stopped())
            return std::string(kStopped);
        progress.AllDone();
        // The files made meanwhile follow the other stored ones.
        std::vector<std::string> later;
        std::uint64_t laterSize = 0;
        for (const Later& file : later_) {
            later.push_back(file.bytes());
            laterSize += later.back().size();
        }

        // Section 0: the name list first, the content blob last.
        std::vector<DirEntry> dir;
        std::string section0;
        const auto addStream = [&](std::string_view name, const std::string& bytes) {
            dir.push_back({std::string(name), kUncompressedSection, section0.size(), bytes.size()});
            section0 += bytes;
        };
        addStream(kNameList, NameList());
        addStream(kControlData, ControlData(options.windowBits));
        std::string spanInfo;
        AppendLe(spanInfo, compressed_.size(), 8);
        addStream(kSpanInfo, spanInfo);
        std::string transforms;
        AppendUtf16(transforms, "{7FC28940-9D31-11D0");
        addStream(kTransformList, transforms);
        addStream(kResetTable, ResetTable(content, compressed_.size()));
        const std::uint64_t storedBase = section0.size();
        dir.push_back({std::string(kContent), kUncompressedSection,
                       storedBase + stored_.size() + laterSize, content.bytes.size()});
        for (const Entry& entry : entries_)
            dir.push_back(
                {entry.name,
                 entry.storage == Storage::Compressed ? kCompressedSection : kUncompressedSection,
                 entry.storage == Storage::Compressed ? entry.offset : storedBase + entry.offset,
                 entry.length});
        std::uint64_t laterOffset = storedBase + stored_.size();
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
        const Directory directory = BuildDirectory(dir);

        std::string itsp;
        itsp += "ITSP";
        for (const std::uint64_t value :
             {std::uint64_t{1}, std::uint64_t{kItspHeaderSize}, std::uint64_t{0x0A},
              std::uint64_t{kChunkSize}, std::uint64_t{kQuickrefDensity},
              std::uint64_t{directory.depth}, std::uint64_t{directory.root}, std::uint64_t{0},
              std::uint64_t{directory.listingChunks - 1}, std::uint64_t{kNoChunk},
              std::uint64_t{directory.chunkCount}, std::uint64_t{options.lcid}})
            AppendLe(itsp, value, 4);
        itsp.append(reinterpret_cast<const char*>(kItspGuid.data()), kItspGuid.size());
        for (const std::uint64_t value : {std::uint64_t{kItspHeaderSize}, std::uint64_t{kNoChunk},
                                          std::uint64_t{kNoChunk}, std::uint64_t{kNoChunk}})
            AppendLe(itsp, value, 4);

        const std::uint64_t directoryOffset = kItsfHeaderSize + kHeaderSection0Size;
        const std::uint64_t directoryLength = itsp.size() + directory.chunks.size();
        const std::uint64_t contentOffset = directoryOffset + directoryLength;
        const std::uint64_t fileSize =
            contentOffset + section0.size() + stored_.size() + laterSize + content.bytes.size();

        std::string header;
        header += "ITSF";
        AppendLe(header, kItsfVersion, 4);
        AppendLe(header, kItsfHeaderSize, 4);
        AppendLe(header, 1, 4);
        AppendLe(header, 0, 4); // time stamp: none, so that the output is reproducible
        AppendLe(header, options.lcid, 4);
        header.append(reinterpret_cast<const char*>(kItsfGuid1.data()), kItsfGuid1.size());
        header.append(reinterpret_cast<const char*>(kItsfGuid2.data()), kItsfGuid2.size());
        AppendLe(header, kItsfHeaderSize, 8);
        AppendLe(header, kHeaderSection0Size, 8);
        AppendLe(header, directoryOffset, 8);
        AppendLe(header, directoryLength, 8);
        AppendLe(header, contentOffset, 8);
        AppendLe(header, kHeaderSection0Tag, 4);
        AppendLe(header, 0, 4);
        AppendLe(header, fileSize, 8);
        AppendLe(header, 0, 8);

        std::vector<std::string_view> pieces = {header, itsp, directory.chunks, section0, stored_};
        pieces.insert(pieces.end(), later.begin(), later.end());
        pieces.emplace_back(reinterpret_cast<const char*>(content.bytes.data()),
                            content.bytes.size());
        // The last chance to stop: past it the file is written whole.
        if (stopped())
            return std::string(kStopped);
        const std::string error = WriteFileAtomically(path, pieces);
        if (!error.empty())
            return Format(Tr("cannot write %s: %s"), path, error);
        return {};
    } catch (const std::bad_alloc&) {
        return Format(Tr("cannot write %s: %s"), path, Tr("not enough memory"));
    } catch (const std::exception& e) {
        return Format(Tr("cannot write %s: %s"), path, e.what());
    }
}

} // namespace tbx::chm
