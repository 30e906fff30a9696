#include "chm/format.h"
#include "chm/reader.h"
#include "chm/writer.h"
#include "chm_test_data.h"
#include "platform/process.h"
#include "support/chm_bytes.h"
#include "support/chm_reader.h"
#include "support/mspack_reader.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <stdexcept>
#include <sys/resource.h>

namespace tbx::chm {
namespace {

namespace fs = std::filesystem;

struct File {
    std::string name;
    std::string bytes;
    Storage storage = Storage::Compressed;
    bool later = false;  // added by AddLater (then stored uncompressed)
    bool source = false; // added by AddFrom, read in pieces of odd sizes
};

// Gives bytes a few at a time, as a file read may; a length other than
// the one added stands for a file that changed.
class PiecesSource final : public FileSource {
public:
    explicit PiecesSource(std::string_view bytes) : bytes_(bytes) {}
    std::size_t Read(std::span<std::uint8_t> into) override {
        const std::size_t n = std::min({into.size(), bytes_.size(), std::size_t{7777}});
        std::copy_n(bytes_.data(), n, into.data());
        bytes_.remove_prefix(n);
        return n;
    }

private:
    std::string_view bytes_;
};

const std::vector<std::string_view> kStreams = {kNameList, kControlData,   kSpanInfo,
                                                kContent,  kTransformList, kResetTable};

std::string Write(const std::string& path, const std::vector<File>& files,
                  const WriteOptions& options = {}) {
    Writer writer;
    for (const File& file : files) {
        const auto open = [&file] { return std::make_unique<PiecesSource>(file.bytes); };
        const std::string error = file.later
                                      ? writer.AddLater(file.name, [&file] { return file.bytes; })
                                  : file.source ? writer.AddFrom(file.name, file.bytes.size(), open)
                                                : writer.Add(file.name, file.bytes, file.storage);
        if (!error.empty())
            return error;
    }
    return writer.Finish(path, options);
}

// Empty when equal; otherwise where they first differ, without printing
// megabytes.
std::string Difference(const std::optional<std::string>& got, const std::string& want) {
    if (!got)
        return "not read";
    if (*got == want)
        return {};
    const auto at = std::mismatch(got->begin(), got->end(), want.begin(), want.end()).first;
    return "got " + std::to_string(got->size()) + " bytes, want " + std::to_string(want.size()) +
           ", first difference at " + std::to_string(at - got->begin());
}

// Names in one list and not the other, and names listed twice; empty when
// the lists hold the same names once each.
std::string NameDifference(const std::vector<std::string>& got, const std::set<std::string>& want) {
    std::string text;
    std::set<std::string> seen;
    for (const std::string& name : got) {
        if (!want.count(name))
            text += " extra " + name;
        if (!seen.insert(name).second)
            text += " twice " + name;
    }
    for (const std::string& name : want)
        if (!seen.count(name))
            text += " missing " + name;
    return text;
}

std::string Folded(std::string name) {
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::vector<std::string> FoldersOf(const std::string& name) {
    std::vector<std::string> folders;
    for (std::size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
        folders.push_back(name.substr(0, slash + 1));
    return folders;
}

// ---- The fields not every reader checks, read from the bytes -------------------

struct Listed {
    std::uint64_t section, offset, length;
};

class LayoutCheck {
public:
    explicit LayoutCheck(std::string bytes) : b_(std::move(bytes)) {}

    // What is wrong with the file; empty when nothing.
    std::vector<std::string> Faults(const std::vector<File>& files) {
        Header();
        if (faults_.empty())
            Directory();
        if (faults_.empty())
            Contents(files);
        return faults_;
    }
    std::uint32_t Depth() const { return depth_; }

private:
    void Fault(const std::string& text) { faults_.push_back(text); }
    std::uint64_t Le(std::size_t at, int size) {
        if (at + size > b_.size()) {
            Fault("field at " + std::to_string(at) + " past the end");
            return 0;
        }
        return test::ReadLe(b_, at, size);
    }
    void Expect(bool ok, const std::string& what) {
        if (!ok)
            Fault(what);
    }
    bool Bytes(std::size_t at, std::string_view want) {
        return at + want.size() <= b_.size() && b_.compare(at, want.size(), want) == 0;
    }
    static std::string_view View(const std::array<std::uint8_t, 16>& guid) {
        return {reinterpret_cast<const char*>(guid.data()), guid.size()};
    }

    void Header() {
        Expect(Bytes(0, std::string_view("ITSF\3\0\0\0\x60\0\0\0", 12)), "ITSF signature");
        Expect(Bytes(0x18, View(kItsfGuid1)), "first ITSF GUID");
        Expect(Bytes(0x28, View(kItsfGuid2)), "second ITSF GUID");
        Expect(Le(0x38, 8) == 0x60 && Le(0x40, 8) == 0x18, "header section 0 place");
        dirOffset_ = Le(0x48, 8);
        const std::uint64_t dirLength = Le(0x50, 8);
        contentOffset_ = Le(0x58, 8);
        Expect(dirOffset_ == 0x78 && contentOffset_ == dirOffset_ + dirLength, "section places");
        Expect(Le(0x60, 4) == 0x1FE, "header section 0 tag");
        Expect(Le(0x68, 8) == b_.size(), "file size in header section 0");
        Expect(Bytes(dirOffset_, "ITSP") && Le(dirOffset_ + 4, 4) == 1 &&
                   Le(dirOffset_ + 8, 4) == 0x54,
               "ITSP signature");
        Expect(Le(dirOffset_ + 0x10, 4) == kChunkSize && Le(dirOffset_ + 0x14, 4) == 2,
               "chunk size or quickref density");
        Expect(Bytes(dirOffset_ + 0x34, View(kItspGuid)), "ITSP GUID");
        depthField_ = static_cast<std::uint32_t>(Le(dirOffset_ + 0x18, 4));
        root_ = static_cast<std::uint32_t>(Le(dirOffset_ + 0x1C, 4));
        Expect(Le(dirOffset_ + 0x20, 4) == 0, "first listing chunk is not 0");
        lastListing_ = static_cast<std::uint32_t>(Le(dirOffset_ + 0x24, 4));
        chunks_ = static_cast<std::uint32_t>(Le(dirOffset_ + 0x2C, 4));
        Expect(dirLength == 0x54 + std::uint64_t{chunks_} * kChunkSize, "directory length");
    }

    std::size_t Chunk(std::uint32_t n) const { return dirOffset_ + 0x54 + n * kChunkSize; }

    // Entries of one chunk, checked against its count, free space and
    // quickrefs; each as its name and the rest of its bytes.
    std::vector<std::pair<std::string, std::vector<std::uint64_t>>> Entries(std::uint32_t n,
                                                                            bool listing) {
        const std::size_t start = Chunk(n);
        const std::size_t header = listing ? kPmglHeaderSize : kPmgiHeaderSize;
        const std::string where = "chunk " + std::to_string(n) + ": ";
        std::vector<std::pair<std::string, std::vector<std::uint64_t>>> entries;
        if (!Bytes(start, listing ? "PMGL" : "PMGI")) {
            Fault(where + "signature");
            return entries;
        }
        const std::uint64_t freeSpace = Le(start + 4, 4);
        const auto* chunk = reinterpret_cast<const std::uint8_t*>(b_.data()) + start;
        const std::uint8_t* at = chunk + header;
        const std::uint8_t* end = chunk + kChunkSize - freeSpace;
        std::vector<std::size_t> offsets;
        while (at < end) {
            offsets.push_back(static_cast<std::size_t>(at - chunk) - header);
            std::uint64_t nameLength = 0, value = 0;
            if (!GetEncInt(at, end, nameLength) || nameLength > std::size_t(end - at)) {
                Fault(where + "entry runs past the free space");
                return entries;
            }
            std::pair<std::string, std::vector<std::uint64_t>> entry;
            entry.first.assign(reinterpret_cast<const char*>(at), nameLength);
            at += nameLength;
            for (int i = 0; i < (listing ? 3 : 1); ++i) {
                if (!GetEncInt(at, end, value)) {
                    Fault(where + "entry runs past the free space");
                    return entries;
                }
                entry.second.push_back(value);
            }
            entries.push_back(std::move(entry));
        }
        Expect(at == end, where + "free space does not end at the last entry");
        const std::uint64_t count = Le(start + kChunkSize - 2, 2);
        Expect(count == entries.size(), where + "entry count");
        const std::size_t quickrefs = (entries.size() + 4) / 5 - 1;
        Expect(freeSpace >= 2 * (quickrefs + 1), where + "no room for the quickrefs");
        for (std::size_t k = 1; k <= quickrefs; ++k)
            Expect(Le(start + kChunkSize - 2 - 2 * k, 2) == offsets[5 * k],
                   where + "quickref " + std::to_string(k));
        return entries;
    }

    void Directory() {
        std::int64_t previous = -1;
        std::uint32_t listings = 0;
        for (std::uint32_t n = 0; n != kNoChunk && listings <= chunks_; ++listings) {
            Expect(Le(Chunk(n) + 0x0C, 4) == static_cast<std::uint32_t>(previous),
                   "chunk " + std::to_string(n) + ": previous link");
            for (auto& [name, fields] : Entries(n, true)) {
                if (!names_.empty() && CompareNames(names_.back(), name) >= 0)
                    Fault("not sorted: " + names_.back() + " then " + name);
                names_.push_back(name);
                firstNames_[n] = firstNames_.count(n) ? firstNames_[n] : name;
                listed_[name] = {fields[0], fields[1], fields[2]};
            }
            previous = n;
            n = static_cast<std::uint32_t>(Le(Chunk(n) + 0x10, 4));
            Expect(n == kNoChunk || n == previous + 1, "next link");
        }
        Expect(previous == lastListing_ && listings == lastListing_ + 1, "last listing chunk");
        depth_ = 1;
        if (chunks_ == listings) {
            Expect(root_ == kNoChunk && depthField_ == 1, "index root without index chunks");
            return;
        }
        Expect(root_ == chunks_ - 1, "index root is not the last chunk");
        for (std::uint32_t n = listings; n < chunks_; ++n)
            for (const auto& [name, fields] : Entries(n, false)) {
                const auto child = static_cast<std::uint32_t>(fields[0]);
                Expect(child < n && firstNames_.count(child) && firstNames_[child] == name,
                       "index entry " + name + " does not lead to its chunk");
                firstNames_[n] = firstNames_.count(n) ? firstNames_[n] : name;
            }
        for (std::uint32_t n = root_; n >= listings && depth_ <= chunks_; ++depth_) {
            const auto first = Entries(n, false);
            if (first.empty())
                break;
            n = static_cast<std::uint32_t>(first[0].second[0]);
        }
        Expect(depth_ == depthField_, "index depth field");
    }

    std::string Stream(std::string_view name) {
        const auto it = listed_.find(std::string(name));
        if (it == listed_.end() || it->second.section != 0 ||
            contentOffset_ + it->second.offset + it->second.length > b_.size()) {
            Fault("stream " + std::string(name));
            return {};
        }
        return b_.substr(contentOffset_ + it->second.offset, it->second.length);
    }

    // Where the streams of section 0 are, and the fields of the reset table
    // that only some readers use.
    void Contents(const std::vector<File>& files) {
        std::uint64_t span = 0;
        for (const File& file : files)
            span += file.storage == Storage::Compressed ? file.bytes.size() : 0;
        Expect(listed_[std::string(kNameList)].offset == 0 && Stream(kNameList).size() == 60,
               "name list first");
        const Listed content = listed_[std::string(kContent)];
        Expect(contentOffset_ + content.offset + content.length == b_.size(), "content last");
        Expect(Stream(kControlData).size() == 28, "control data");
        Expect(Stream(kSpanInfo) == std::string(reinterpret_cast<const char*>(&span), 8),
               "span info");
        const std::string reset = Stream(kResetTable);
        const auto field = [&](std::size_t at, int size) -> std::uint64_t {
            return at + size <= reset.size() ? test::ReadLe(reset, at, size) : ~0ull;
        };
        const std::uint64_t frames = (span + 1) / 0x8000 + 1;
        Expect(field(0, 4) == 2 && field(4, 4) == frames && field(8, 4) == 8 &&
                   field(12, 4) == 0x28 && field(16, 8) == span && field(24, 8) == content.length &&
                   field(32, 8) == 0x8000 && reset.size() == 0x28 + 8 * frames,
               "reset table header");
        for (std::uint64_t f = 0; f < frames; ++f) {
            const std::uint64_t at = field(0x28 + 8 * f, 8);
            const std::uint64_t next = f + 1 < frames ? field(0x30 + 8 * f, 8) : content.length;
            Expect(f == 0 ? at == 0 : at < next, "reset table entry " + std::to_string(f));
        }
    }

    const std::string b_;
    std::vector<std::string> faults_;
    std::size_t dirOffset_ = 0, contentOffset_ = 0;
    std::uint32_t depthField_ = 0, root_ = 0, lastListing_ = 0, chunks_ = 0, depth_ = 0;
    std::vector<std::string> names_;
    std::map<std::uint32_t, std::string> firstNames_;
    std::map<std::string, Listed> listed_;
};

// ---- Reading back with our own reader and the independent ones ---------------------

// Every name our reader lists, and an entry's bytes by name through its lookup.
class OurReader {
public:
    explicit OurReader(const std::string& path) : file_(ChmFile::Open(path, error_)) {}
    const std::string& Error() const { return error_; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (std::size_t i = 0; file_ && i < file_->Count(); ++i)
            names.emplace_back(file_->Entry(i).name);
        return names;
    }
    std::optional<std::string> Read(const std::string& name) const {
        const std::optional<std::size_t> index = file_ ? file_->Find(name) : std::nullopt;
        if (!index)
            return std::nullopt;
        const ChmEntry entry = file_->Entry(*index);
        std::string bytes(entry.length, '\0');
        ChmCursor cursor(*file_);
        const std::span out(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
        if (!cursor.Read(entry, 0, out).empty())
            return std::nullopt;
        return bytes;
    }

private:
    std::string error_;
    std::unique_ptr<ChmFile> file_;
};

void ExpectReadBack(const test::TempDir& dir, const std::string& path,
                    const std::vector<File>& files) {
    std::set<std::string> wanted(kStreams.begin(), kStreams.end());
    for (const File& file : files)
        wanted.insert(file.name);
    // One folder entry for each folder, in the spelling met first.
    std::set<std::string> withFolders = wanted;
    std::set<std::string> folded;
    for (const std::string_view stream : kStreams)
        for (const std::string& folder : FoldersOf(std::string(stream)))
            withFolders.insert(folder);
    for (const File& file : files)
        for (const std::string& folder : FoldersOf(file.name))
            if (folded.insert(Folded(folder)).second)
                withFolders.insert(folder);

    const OurReader ours(path);
    ASSERT_EQ(ours.Error(), "");
    EXPECT_EQ(NameDifference(ours.Names(), withFolders), "") << "our reader";
    for (const File& file : files)
        EXPECT_EQ(Difference(ours.Read(file.name), file.bytes), "") << "our reader " << file.name;

    test::MspackReader mspack(path);
    ASSERT_TRUE(mspack.Opened());
    EXPECT_EQ(NameDifference(mspack.Names(), wanted), "") << "libmspack";
    for (const File& file : files) {
        EXPECT_EQ(Difference(mspack.Read(file.name), file.bytes), "") << "libmspack " << file.name;
        EXPECT_EQ(Difference(mspack.FindAndRead(file.name), file.bytes), "")
            << "libmspack lookup of " << file.name;
    }
    for (const std::string_view stream : kStreams)
        EXPECT_TRUE(mspack.FindAndRead(std::string(stream))) << "libmspack lookup of " << stream;
    EXPECT_EQ(mspack.Messages(), std::vector<std::string>{});

    EXPECT_EQ(NameDifference(test::ChmObjectNames(path), withFolders), "") << "chmlib";
    for (const File& file : files)
        EXPECT_EQ(Difference(test::ReadChmObject(path, file.name), file.bytes), "")
            << "chmlib " << file.name;

    const std::string out = dir / "7z";
    const ProcessOutcome run = RunProcess("7z", {"x", "-y", "-o" + out, path});
    ASSERT_TRUE(run.started && run.exited && run.exitCode == 0) << run.errorOutput;
    for (const File& file : files) {
        if (file.name.starts_with('/')) {
            EXPECT_EQ(Difference(test::ReadFile(out + file.name), file.bytes), "")
                << "7-Zip " << file.name;
        }
    }
}

std::vector<File> NestedCyrillicFiles() {
    std::vector<File> files = {{"/#SYSTEM", test::Prose(7, 300), Storage::Uncompressed},
                               {"/#ITBITS", "", Storage::Uncompressed},
                               {"/index.htm", test::Prose(8, 5000)},
                               {"/Docs/read me.txt", "upper-case folder"},
                               {"/docs/другой.txt", "the same folder in another case"}};
    test::Random random(9);
    for (int i = 0; i < 300; ++i) {
        const std::string name = "/разделы/глава" + std::to_string(i % 7) + "/подраздел" +
                                 std::to_string(i % 3) + "/страница_" + std::to_string(i) + ".htm";
        files.push_back({name, test::Prose(100 + i, random.Below(3000))});
    }
    files.push_back({"/разделы/пусто.htm", ""});
    return files;
}

struct RoundTrip {
    std::string name;
    std::vector<File> files;
    unsigned windowBits = kDefaultWindowBits;
    LzxLevel level = LzxLevel::Default;
};

// Every file written comes back byte for byte through libmspack (listing,
// extraction and lookup), chmlib and 7-Zip, and the header fields hold.
TEST(ChmWriter, ReadersReadEveryFileBackByteForByte) {
    const std::vector<RoundTrip> cases = {
        {"empty file", {{"/empty.htm", ""}}},
        {"one byte", {{"/a", "x"}}},
        {"32 KiB - 1", {{"/a.htm", test::Prose(1, 32767)}}},
        {"32 KiB", {{"/a.htm", test::Prose(2, 32768)}}},
        {"32 KiB + 1", {{"/a.htm", test::Prose(3, 32769)}}},
        {"64 KiB - 1", {{"/a.htm", test::Prose(4, 65535)}}},
        {"64 KiB", {{"/a.htm", test::Prose(5, 65536)}}},
        {"64 KiB + 1", {{"/a.htm", test::Prose(6, 65537)}}},
        {"a few MB in several files",
         {{"/1.htm", test::Prose(10, 1'800'000)},
          {"/2.htm", test::Prose(11, 1'300'001)},
          {"/3.htm", test::Prose(12, 77)}}},
        {"incompressible", {{"/noise.png", test::RandomBytes(13, 300'000)}}},
        {"a stored frame, then a compressed one", {{"/noise.png", test::RandomBytes(5, 45'000)}}},
        {"incompressible between text",
         {{"/a.htm", test::Prose(14, 40'000)},
          {"/b.png", test::RandomBytes(15, 50'000)},
          {"/c.htm", test::Prose(16, 40'000)}}},
        {"E8-rich", {{"/program.exe", test::E8Rich(17, 250'000)}}},
        {"aligned offsets", {{"/table.bin", test::Records(21, 300'000)}}},
        {"long runs",
         {{"/runs.bin", test::Runs(18, 600'000)}, {"/zeros", std::string(200'000, '\0')}}},
        {"nested Cyrillic folders", NestedCyrillicFiles()},
        {"only stored files", {{"/#SYSTEM", "abc", Storage::Uncompressed}}},
        {"stored files made later",
         {{"/#SYSTEM", "abc", Storage::Uncompressed},
          {"/$FIftiMain", test::Prose(22, 100'000), Storage::Uncompressed, true},
          {"/a.htm", test::Prose(23, 70'000)},
          {"/$OBJINST", "", Storage::Uncompressed, true}}},
        {"name of 512 bytes",
         {{"/" + std::string(250, 'n') + "/" + std::string(250, 'm') + "/" + std::string(5, 'o') +
               ".htm",
           "long"}}},
        {"window of 128 KiB", {{"/a.htm", test::Prose(19, 400'000)}}, 17},
        {"window of 2 MiB", {{"/a.htm", test::Prose(20, 3'000'000)}}, 21},
        {"best: 64 KiB + 1", {{"/a.htm", test::Prose(6, 65537)}}, 16, LzxLevel::Best},
        {"best: mixed files",
         {{"/a.htm", test::Prose(14, 40'000)},
          {"/b.png", test::RandomBytes(15, 50'000)},
          {"/program.exe", test::E8Rich(17, 100'000)},
          {"/table.bin", test::Records(21, 100'000)},
          {"/runs.bin", test::Runs(18, 100'000)}},
         16,
         LzxLevel::Best},
        {"best: window of 2 MiB", {{"/a.htm", test::Prose(20, 2'200'000)}}, 21, LzxLevel::Best},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir / "out.chm";
        WriteOptions options;
        options.windowBits = c.windowBits;
        options.level = c.level;
        ASSERT_EQ(Write(path, c.files, options), "");
        EXPECT_EQ(LayoutCheck(test::ReadFile(path)).Faults(c.files), std::vector<std::string>{});
        ExpectReadBack(dir, path, c.files);
    }
}

// Thousands of entries fill many listing chunks; long names make the index
// chunks fill too, so the index has several levels.
TEST(ChmWriter, ManyEntriesGetListingAndIndexChunks) {
    std::vector<File> files;
    test::Random random(5);
    for (int i = 0; i < 2100; ++i) {
        // Folders of 90 bytes keep every part of a long name within what a
        // file system takes.
        std::string name = "/f" + std::to_string(i % 13) + "/";
        const std::size_t length = 20 + random.Below(400);
        while (name.size() + 100 < length)
            name += "folder" + std::to_string(i % 7) + "_" + std::string(81, 'x') + "/";
        name += "Page_" + std::to_string(i) + "_";
        name.resize(std::max(name.size(), length), static_cast<char>('a' + i % 26));
        files.push_back({name, test::Prose(i, random.Below(200)),
                         i % 50 == 0 ? Storage::Uncompressed : Storage::Compressed});
    }
    test::TempDir dir;
    const std::string path = dir / "many.chm";
    ASSERT_EQ(Write(path, files), "");
    LayoutCheck layout(test::ReadFile(path));
    EXPECT_EQ(layout.Faults(files), std::vector<std::string>{});
    EXPECT_GE(layout.Depth(), 3u);
    ExpectReadBack(dir, path, files);
}

// The file must not depend on the number of threads; progress counts
// whole compressed files, in order, up to all of them.
// The same bytes whatever the threads, whether files are held or read from
// a source as they are compressed, and whether the compressed bytes stay
// in memory or go to a file meanwhile.
TEST(ChmWriter, SameFileOnAnyThreadCountWithProgress) {
    std::vector<File> files = {{"/#SYSTEM", "sys", Storage::Uncompressed}};
    for (int i = 0; i < 40; ++i)
        files.push_back({"/p" + std::to_string(i) + ".htm", test::Prose(i, 20'000 + 1000 * i)});
    files.push_back({"/last-empty.htm", ""});
    test::TempDir dir;
    std::string first;
    const struct {
        unsigned threads;
        bool sources;
        std::uint64_t memoryLimit;
    } cases[] = {{1, false, WriteOptions{}.memoryLimit},
                 {2, false, 0},
                 {5, true, 0},
                 {2, true, 100'000},
                 {1, true, WriteOptions{}.memoryLimit}};
    for (const auto& [threads, sources, limit] : cases) {
        for (std::size_t i = 1; i < files.size(); ++i)
            files[i].source = sources && i % 3 != 0;
        WriteOptions options;
        options.threads = threads;
        options.memoryLimit = limit;
        std::vector<std::pair<std::size_t, std::size_t>> calls;
        options.progress = [&](std::size_t done, std::size_t all) {
            calls.emplace_back(done, all);
        };
        const std::string path = dir / "t.chm";
        ASSERT_EQ(Write(path, files, options), "");
        const std::string bytes = test::ReadFile(path);
        if (first.empty())
            first = bytes;
        EXPECT_TRUE(bytes == first) << threads << " threads, sources " << sources << ", " << limit;
        EXPECT_EQ(fs::directory_iterator(dir.Path())->path(), path) << "nothing else left";
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), std::make_pair(files.size() - 1, files.size() - 1));
        for (std::size_t i = 1; i < calls.size(); ++i)
            EXPECT_GT(calls[i].first, calls[i - 1].first);
    }
}

TEST(ChmWriter, RefusesBadNames) {
    Writer writer;
    ASSERT_EQ(writer.Add("/Page.htm", "x"), "");
    ASSERT_EQ(writer.Add("::Extra/stream", "x", Storage::Uncompressed), "");
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "empty"},
        {"/" + std::string(512, 'a'), "longer than 512"},
        {"page.htm", "neither"},
        {":x", "neither"},
        {"/folder/", "ends with"},
        {std::string("/a\0b", 4), "zero byte"},
        {"/\xC3", "UTF-8"},
        {"/\xC0\xAF", "UTF-8"},
        {"/\xED\xA0\x80", "UTF-8"},
        {"::DataSpace/NameList", "::DataSpace"},
        {"::dataspace/Storage/x", "::DataSpace"},
        {"/page.HTM", "already added"},
    };
    for (const auto& [name, reason] : refused) {
        const std::string error = writer.Add(name, "y");
        EXPECT_NE(error.find(reason), std::string::npos) << name << ": " << error;
    }
    // Refused names leave no trace.
    test::TempDir dir;
    ASSERT_EQ(writer.Finish(dir / "ok.chm"), "");
    test::MspackReader mspack(dir / "ok.chm");
    EXPECT_EQ(mspack.Names().size(), kStreams.size() + 2);
}

// A failed or stopped write leaves no temporary file and no change to what
// was there.
TEST(ChmWriter, FailedWriteLeavesNothingBehind) {
    test::TempDir dir;
    const std::vector<File> files = {{"/a.htm", test::Prose(1, 300'000)}};
    const auto entries = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.Path()))
            names.insert(e.path().filename().string());
        return names;
    };

    EXPECT_NE(Write(dir / "missing/out.chm", files), "");
    fs::create_directory(dir.Path() / "folder");
    test::WriteFile(dir.Path() / "folder" / "keep", "k");
    EXPECT_NE(Write(dir / "folder", files), "");
    EXPECT_EQ(test::ReadFile(dir.Path() / "folder" / "keep"), "k");

    test::WriteFile(dir.Path() / "old.chm", "earlier file");
    // A file-size limit makes the write fail halfway, as a full disk would.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string error = Write(dir / "old.chm", files);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(error, "");
    EXPECT_EQ(test::ReadFile(dir.Path() / "old.chm"), "earlier file");
    EXPECT_EQ(entries(), (std::set<std::string>{"folder", "old.chm"}));

    // Stopped as soon as the first file is compressed: nothing is written.
    std::vector<File> many;
    for (int i = 0; i < 20; ++i)
        many.push_back({"/p" + std::to_string(i) + ".htm", test::Prose(i, 300'000)});
    std::atomic<bool> stop{false};
    WriteOptions stopping;
    stopping.threads = 1;
    stopping.stop = &stop;
    std::size_t reported = 0;
    stopping.progress = [&](std::size_t done, std::size_t) {
        reported = done;
        stop = true;
    };
    EXPECT_EQ(Write(dir / "old.chm", many, stopping), kStopped);
    EXPECT_LT(reported, many.size());
    EXPECT_EQ(test::ReadFile(dir.Path() / "old.chm"), "earlier file");
    EXPECT_EQ(entries(), (std::set<std::string>{"folder", "old.chm"}));

    // A file made later that cannot be made fails the write.
    Writer failing;
    ASSERT_EQ(failing.Add("/a.htm", files[0].bytes), "");
    ASSERT_EQ(failing.AddLater("/$FIftiMain",
                               []() -> std::string { throw std::runtime_error("no index"); }),
              "");
    EXPECT_NE(failing.Finish(dir / "old.chm").find("no index"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir.Path() / "old.chm"), "earlier file");
    EXPECT_EQ(entries(), (std::set<std::string>{"folder", "old.chm"}));

    // A file read as it is compressed that proves shorter, longer or unreadable.
    const struct {
        std::uint64_t length;
        std::function<std::unique_ptr<FileSource>()> open;
        std::string error;
    } sources[] = {
        {files[0].bytes.size() + 1, [&] { return std::make_unique<PiecesSource>(files[0].bytes); },
         "\"/b.htm\" changed while the help file was being written"},
        {files[0].bytes.size() - 1, [&] { return std::make_unique<PiecesSource>(files[0].bytes); },
         "\"/b.htm\" changed while the help file was being written"},
        {10, []() -> std::unique_ptr<FileSource> { throw std::runtime_error("gone"); }, "gone"},
    };
    for (const auto& source : sources) {
        Writer reading;
        ASSERT_EQ(reading.AddFrom("/b.htm", source.length, source.open), "");
        ASSERT_EQ(reading.Add("/c.htm", "after"), "");
        WriteOptions spilling;
        spilling.memoryLimit = 0;
        EXPECT_EQ(reading.Finish(dir / "old.chm", spilling),
                  "cannot write " + dir / "old.chm" + ": " + source.error);
        EXPECT_EQ(test::ReadFile(dir.Path() / "old.chm"), "earlier file");
        EXPECT_EQ(entries(), (std::set<std::string>{"folder", "old.chm"}));
    }

    ASSERT_EQ(Write(dir / "old.chm", files), "");
    EXPECT_EQ(test::ReadChmObject(dir / "old.chm", "/a.htm"), files[0].bytes);
    EXPECT_EQ(entries(), (std::set<std::string>{"folder", "old.chm"}));
}

} // namespace
} // namespace tbx::chm
