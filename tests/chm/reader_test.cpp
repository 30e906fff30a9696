// The reader on a help file our writer makes from generated files of every
// awkward size and kind, thousands of them in nested Cyrillic folders:
// every file byte for byte against its source and against chmlib's
// reading; and on damaged copies, which fail with a reason.

#include "chm/format.h"
#include "chm/reader.h"
#include "chm/writer.h"
#include "support/chm_bytes.h"
#include "support/chm_reader.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <thread>

namespace tbx::chm {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

std::string Random(std::mt19937& random, std::size_t size, unsigned alphabet) {
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(alphabet == 256 ? random() : 'a' + random() % alphabet);
    return bytes;
}

// The generated site and its help file, made once for all tests.
class Site {
public:
    Site() {
        std::mt19937 random(2024);
        files_["empty.htm"] = "";
        files_["one byte.htm"] = "x";
        for (const std::size_t size : {32767, 32768, 32769, 65535, 65536, 65537})
            files_["size " + std::to_string(size) + ".htm"] = Random(random, size, 12);
        files_["noise.bin"] = Random(random, 300'000, 256);
        std::string calls = Random(random, 200'000, 256);
        for (std::size_t i = 0; i < calls.size(); i += 1 + random() % 9)
            calls[i] = '\xE8';
        files_["calls.exe"] = calls;
        files_["runs.htm"] = std::string(100'000, 'a') + std::string(70'000, '\0') + "end";
        std::string prose;
        while (prose.size() < 3'000'000)
            prose += Random(random, 2 + random() % 8, 26) + (random() % 9 ? " " : ".\n");
        files_["large prose.htm"] = prose;
        for (int i = 0; i < 2100; ++i)
            files_["раздел " + std::to_string(i % 7) + "/глава " + std::to_string(i % 13) +
                   "/страница " + std::to_string(i) + ".htm"] =
                "<p>" + std::to_string(i) + Random(random, random() % 300, 20);
        chm::Writer writer;
        bool added = writer.Add("/#SYSTEM", "system", Storage::Uncompressed).empty();
        for (const auto& [name, bytes] : files_)
            added = writer.Add("/" + name, bytes).empty() && added;
        compiled_ = added && writer.Finish(Help()).empty();
    }

    bool Compiled() const { return compiled_; }
    std::string Help() const { return dir_ / "site.chm"; }
    const std::map<std::string, std::string>& Files() const { return files_; }

private:
    test::TempDir dir_;
    std::map<std::string, std::string> files_;
    bool compiled_ = false;
};

const Site& TheSite() {
    static const Site site;
    return site;
}

std::unique_ptr<ChmFile> OpenOrFail(const std::string& path) {
    std::string error;
    std::unique_ptr<ChmFile> file = ChmFile::Open(path, error);
    EXPECT_TRUE(file) << error;
    return file;
}

// The whole entry, or "!" and why it could not be read.
std::string ReadWhole(ChmCursor& cursor, const ChmEntry& entry) {
    std::string bytes(static_cast<std::size_t>(entry.length), '\0');
    const std::string error =
        cursor.Read(entry, 0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
    return error.empty() ? bytes : "!" + error;
}

class ChmReader : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TheSite().Compiled())
            GTEST_FAIL() << "the test site could not be written";
        file = OpenOrFail(TheSite().Help());
        ASSERT_TRUE(file);
    }
    std::unique_ptr<ChmFile> file;
};

TEST_F(ChmReader, EveryFileComesBackAsWrittenAndAsChmlibReadsIt) {
    ChmCursor cursor(*file);
    for (const auto& [name, bytes] : TheSite().Files()) {
        const std::optional<std::size_t> index = file->Find("/" + name);
        ASSERT_TRUE(index) << name;
        EXPECT_TRUE(ReadWhole(cursor, file->Entry(*index)) == bytes) << name;
    }
    // Internal streams too, and chmlib agrees on every entry it can reach.
    std::vector<std::string> names;
    for (std::size_t i = 0; i < file->Count(); ++i)
        if (!file->Entry(i).name.ends_with('/'))
            names.emplace_back(file->Entry(i).name);
    const std::vector<std::optional<std::string>> chmlib =
        test::ReadChmObjects(TheSite().Help(), names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(chmlib[i]) << names[i];
        EXPECT_TRUE(ReadWhole(cursor, file->Entry(*file->Find(names[i]))) == *chmlib[i])
            << names[i];
    }
    EXPECT_GT(names.size(), 2100u);
}

// Names are found whatever the case of their ASCII letters; pieces read
// out of order, backwards through the compressed section, are the same
// bytes.
TEST_F(ChmReader, FindsNamesAndReadsPiecesInAnyOrder) {
    // Only ASCII letters fold, as in chmlib's lookup.
    EXPECT_EQ(file->Find("/INDEX.HTM"), file->Find("/index.htm"));
    EXPECT_TRUE(file->Find("/раздел 1/глава 2/страница 15.HTM"));
    EXPECT_EQ(file->Find("/Раздел 1/глава 2/страница 15.htm"), std::nullopt);
    EXPECT_FALSE(file->Find("/index.ht"));

    const std::string& prose = TheSite().Files().at("large prose.htm");
    const ChmEntry entry = file->Entry(*file->Find("/large prose.htm"));
    ChmCursor cursor(*file);
    std::string piece(70'000, '\0');
    for (std::uint64_t from = prose.size() - piece.size(); from > 0;
         from -= std::min<std::uint64_t>(from, 250'001)) {
        ASSERT_EQ(
            cursor.Read(entry, from, {reinterpret_cast<std::uint8_t*>(piece.data()), piece.size()}),
            "");
        EXPECT_TRUE(piece == prose.substr(from, piece.size())) << from;
    }
    EXPECT_EQ(
        cursor.Read(entry, prose.size() - 10, {reinterpret_cast<std::uint8_t*>(piece.data()), 11}),
        "read beyond the end of the entry");
}

// A header whose first-listing field skips the first chunk, as some
// compilers write it: every entry is still listed. Two threads read one
// opened file, each with its own cursor, in content order as hh does.
TEST_F(ChmReader, ListsEveryChunkAndReadsFromTwoThreads) {
    EXPECT_EQ(file->HeaderChainEntries(), 0u); // our writer's chain reaches every chunk
    std::string bytes = ReadFile(TheSite().Help());
    const std::uint64_t directory = test::ReadLe(bytes, 0x48, 8);
    test::WriteLe(bytes, directory + 0x20, 4, 1);
    test::TempDir dir;
    WriteFile(dir / "skipping.chm", bytes);
    std::unique_ptr<ChmFile> skipping = OpenOrFail(dir / "skipping.chm");
    ASSERT_TRUE(skipping);
    EXPECT_EQ(skipping->Count(), file->Count());
    EXPECT_GT(file->Count(), 2100u);
    EXPECT_GT(skipping->HeaderChainEntries(), 0u);
    EXPECT_LT(skipping->HeaderChainEntries(), skipping->Count());
    EXPECT_LT(test::ChmObjectNames(dir / "skipping.chm").size(), skipping->Count());
    EXPECT_TRUE(skipping->Damage().empty());
    file = std::move(skipping);

    std::vector<std::size_t> order(file->Count());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::pair(file->Entry(a).section, file->Entry(a).offset) <
               std::pair(file->Entry(b).section, file->Entry(b).offset);
    });
    std::vector<std::string> wrong[2];
    const auto read = [&](int half) {
        ChmCursor cursor(*file);
        for (std::size_t i = half * order.size() / 2; i < (half + 1) * order.size() / 2; ++i) {
            const ChmEntry entry = file->Entry(order[i]);
            const auto source = TheSite().Files().find(std::string(entry.name.substr(1)));
            if (source != TheSite().Files().end() && ReadWhole(cursor, entry) != source->second)
                wrong[half].emplace_back(entry.name);
        }
    };
    std::thread other(read, 1);
    read(0);
    other.join();
    EXPECT_TRUE(wrong[0].empty() && wrong[1].empty()) << wrong[0].size() + wrong[1].size();
}

// Damaged copies: the header's faults stop the open, the compressed
// section's faults stop only its entries, each with a reason.
TEST_F(ChmReader, DamagedFilesGiveReasons) {
    const std::string good = ReadFile(TheSite().Help());
    const auto offsetOf = [&](std::string_view name) {
        const ChmEntry entry = file->Entry(*file->Find(name));
        return test::ReadLe(good, 0x58, 8) + entry.offset;
    };
    const auto patched = [&](std::uint64_t at, std::uint64_t value, int size) {
        std::string bytes = good;
        test::WriteLe(bytes, at, size, value);
        return bytes;
    };
    // Where the prose's compressed interval starts (a reset every two
    // frames), so that the damage lies on its way.
    const std::uint64_t content = offsetOf(kContent);
    const std::uint64_t proseReset =
        offsetOf(kResetTable) + 0x28 +
        8 * (file->Entry(*file->Find("/large prose.htm")).offset / kLzxFrameSize / 2 * 2);
    const std::uint64_t proseStream = content + test::ReadLe(good, proseReset, 8);
    struct Case {
        std::string name;
        std::string bytes;
        std::string openError;  // expected from Open, or
        std::string compressed; // from reading a compressed entry
    };
    const std::vector<Case> cases = {
        {"empty", "", "not a help file, or its header is damaged", ""},
        {"version 4", patched(4, 4, 4), "not a help file, or its header is damaged", ""},
        {"directory beyond the end", patched(0x48, good.size() - 10, 8),
         "the directory header is missing or damaged", ""},
        {"huge chunk count", patched(test::ReadLe(good, 0x48, 8) + 0x2C, 0xFFFFFF, 4),
         "the directory header is damaged", ""},
        {"control data not LZXC", patched(offsetOf(kControlData) + 4, 0, 4), "",
         "the compressed section's control data is damaged"},
        {"window of 3 frames", patched(offsetOf(kControlData) + 0x10, 3, 4), "",
         "the compressed section's control data is damaged"},
        {"reset table frame size", patched(offsetOf(kResetTable) + 0x20, 0x4000, 8), "",
         "the compressed section's reset table is damaged"},
        {"reset point beyond the stream", patched(proseReset, 1u << 30, 8), "",
         "the compressed section's reset table is damaged"},
        {"stream spoilt", patched(proseStream + 100, 0xFFFFFFFFFFFFFFFFull, 8), "",
         "damaged compressed content: "},
    };
    test::TempDir dir;
    for (const Case& test : cases) {
        WriteFile(dir / "damaged.chm", test.bytes);
        std::string error;
        const std::unique_ptr<ChmFile> damaged = ChmFile::Open(dir / "damaged.chm", error);
        if (!test.openError.empty()) {
            EXPECT_FALSE(damaged) << test.name;
            EXPECT_EQ(error, test.openError) << test.name;
            continue;
        }
        ASSERT_TRUE(damaged) << test.name << ": " << error;
        ChmCursor cursor(*damaged);
        // Files of the uncompressed section stay readable.
        EXPECT_EQ(ReadWhole(cursor, damaged->Entry(*damaged->Find("/#SYSTEM"))),
                  *test::ReadChmObject(TheSite().Help(), "/#SYSTEM"))
            << test.name;
        std::string failure;
        for (const char* name : {"/size 65537.htm", "/large prose.htm"}) {
            const std::string read = ReadWhole(cursor, damaged->Entry(*damaged->Find(name)));
            if (read.starts_with("!"))
                failure = read.substr(1);
        }
        EXPECT_TRUE(failure.starts_with(test.compressed)) << test.name << ": " << failure;
    }
}

} // namespace
} // namespace tbx::chm

namespace tbx::chm {
namespace {

// Reset intervals of 2 MiB that do not compress are read in bounded pieces
// of input: every byte comes back, read whole and read backwards in pieces
// that cross the places where the input is read on.
TEST(ChmReaderIntervals, IntervalsLargerThanAPieceOfInputComeBackWhole) {
    std::mt19937 random(77);
    const std::string noise = Random(random, 5'000'000, 256);
    test::TempDir dir;
    Writer writer;
    ASSERT_EQ(writer.Add("/noise.bin", noise), "");
    WriteOptions options;
    options.windowBits = 21;
    ASSERT_EQ(writer.Finish(dir / "wide.chm", options), "");
    const std::unique_ptr<ChmFile> file = OpenOrFail(dir / "wide.chm");
    ASSERT_TRUE(file);
    const ChmEntry entry = file->Entry(*file->Find("/noise.bin"));
    ChmCursor cursor(*file);
    EXPECT_TRUE(ReadWhole(cursor, entry) == noise);
    std::string piece(300'001, '\0');
    for (std::uint64_t from = noise.size() - piece.size(); from > piece.size();
         from -= piece.size()) {
        ASSERT_EQ(
            cursor.Read(entry, from, {reinterpret_cast<std::uint8_t*>(piece.data()), piece.size()}),
            "");
        ASSERT_TRUE(piece == noise.substr(from, piece.size())) << from;
    }
}

} // namespace
} // namespace tbx::chm
