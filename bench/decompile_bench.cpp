// hh against chmlib's own extractor on the same help file: a generated site
// of 2,000 pages of about 20 KB, compiled once by hhc, then extracted by
// "hh -decompile" and by extract_chmLib into a fresh folder each time, in
// turn. Figures per page matter as well, should one of them write fewer
// files than the other.
//
// Then the memory hh needs for a 64 MB help file whose directory is full of
// tiny entries (crafted here): its peak resident size.
//
// Then hh's peak memory on sparse files claiming 16 GB of directory and a
// 32 GB reset interval, and its time for one entry 5,000 folders deep.
//
// Last, what the decompile job's check for files it would replace costs
// before hh runs: into an empty folder (only the names are looked at) and
// into a folder that already holds every file with the same bytes (each
// one read and compared).

#include "chm/format.h"
#include "compiled_site.h"
#include "decompile/extract_conflicts.h"
#include "platform/process.h"
#include "run_cost.h"
#include "tools/hh/crafted_chm.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace tbx::chm;
using tbx::bench::Run;
using tbx::bench::RunCost;

const tbx::bench::CompiledSite& TheHelpFile() {
    static const tbx::bench::CompiledSite help(2000);
    return help;
}

int PagesBelow(const fs::path& folder) {
    int pages = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        pages += entry.path().extension() == ".htm";
    return pages;
}

// Runs program with args into a fresh output folder per iteration.
void Extract(benchmark::State& state, const std::string& program,
             std::vector<std::string> (*args)(const fs::path& out, const fs::path& chm)) {
    const tbx::bench::CompiledSite& help = TheHelpFile();
    const fs::path out = help.Root() / "out";
    double peak = 0, cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        // Every run starts with the deletions of the last one on disk.
        ::sync();
        state.ResumeTiming();
        const RunCost cost = Run(program, args(out, help.Chm()));
        if (!cost.ok)
            state.SkipWithError((program + " failed").c_str());
        peak = std::max(peak, cost.peakMb);
        cpu += cost.cpuS * 1e3;
    }
    state.counters["child_cpu_ms"] = cpu / static_cast<double>(state.iterations());
    state.counters["peak_rss_mb"] = peak;
    state.counters["pages"] = PagesBelow(out);
}

void BM_Hh(benchmark::State& state) {
    Extract(state, TOMEBOX_TOOLS_DIR "/hh", [](const fs::path& out, const fs::path& chm) {
        return std::vector<std::string>{"-decompile", out.string() + "/", chm.string()};
    });
}

void BM_ExtractChmLib(benchmark::State& state) {
    Extract(state, "extract_chmLib", [](const fs::path& out, const fs::path& chm) {
        return std::vector<std::string>{chm.string(), out.string()};
    });
}

// A help file of 64 MB that is nearly all directory: listing chunks packed
// with 7-byte entries of the folder "/a/" (each one a task for hh, the
// costliest kind of entry), and every 4096th entry a small file of its own.
fs::path ManyEntriesFile() {
    const fs::path path = TheHelpFile().Root() / "many-entries.chm";
    if (fs::exists(path))
        return path;
    constexpr std::uint32_t kChunks = 64 * 256 - 1;
    constexpr std::size_t kDirectory = kItspHeaderSize + kChunks * kChunkSize;
    const std::string content = "tiny";
    std::vector<std::uint8_t> file(kItsfHeaderSize + kHeaderSection0Size + kDirectory);
    std::uint8_t* at = file.data();
    std::memcpy(at, "ITSF", 4);
    PutLe(at + 0x04, 4, 3);
    PutLe(at + 0x08, 4, kItsfHeaderSize);
    std::memcpy(at + 0x18, kItsfGuid1.data(), 16);
    std::memcpy(at + 0x28, kItsfGuid2.data(), 16);
    PutLe(at + 0x38, 8, kItsfHeaderSize);
    PutLe(at + 0x40, 8, kHeaderSection0Size);
    PutLe(at + 0x48, 8, kItsfHeaderSize + kHeaderSection0Size);
    PutLe(at + 0x50, 8, kDirectory);
    PutLe(at + 0x58, 8, file.size());
    at += kItsfHeaderSize;
    PutLe(at, 4, 0x1FE);
    PutLe(at + 0x08, 8, file.size() + content.size());
    at += kHeaderSection0Size;
    std::memcpy(at, "ITSP", 4);
    PutLe(at + 0x04, 4, 1);
    PutLe(at + 0x08, 4, kItspHeaderSize);
    PutLe(at + 0x10, 4, kChunkSize);
    PutLe(at + 0x18, 4, 1);
    PutLe(at + 0x1C, 4, kNoChunk);
    PutLe(at + 0x24, 4, kChunks - 1);
    PutLe(at + 0x2C, 4, kChunks);
    at += kItspHeaderSize;
    std::uint64_t entry = 0;
    for (std::uint32_t chunk = 0; chunk < kChunks; ++chunk, at += kChunkSize) {
        std::memcpy(at, "PMGL", 4);
        PutLe(at + 0x0C, 4, chunk == 0 ? kNoChunk : chunk - 1);
        PutLe(at + 0x10, 4, chunk + 1 == kChunks ? kNoChunk : chunk + 1);
        std::size_t used = kPmglHeaderSize;
        unsigned count = 0;
        for (;; ++entry, ++count) {
            const std::string name =
                entry % 4096 == 0 ? "/f/" + std::to_string(entry) + ".htm" : "/a/";
            const std::size_t size = 1 + name.size() + 3 + (entry % 4096 == 0);
            // Room for the entry count and a quickref every five entries.
            if (used + size + 2 * ((count + 1) / 5 + 1) > kChunkSize)
                break;
            used += PutEncInt(at + used, name.size());
            std::memcpy(at + used, name.data(), name.size());
            used += name.size();
            used += PutEncInt(at + used, kUncompressedSection);
            used += PutEncInt(at + used, 0);
            used += PutEncInt(at + used, entry % 4096 == 0 ? content.size() : 0);
        }
        PutLe(at + 0x04, 4, kChunkSize - used);
        PutLe(at + kChunkSize - 2, 2, count);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    out << content;
    return path;
}

void BM_HhManyEntries(benchmark::State& state) {
    const fs::path chm = ManyEntriesFile();
    const fs::path out = TheHelpFile().Root() / "many-out";
    RunCost cost;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        cost = Run(TOMEBOX_TOOLS_DIR "/hh", {"-decompile", out.string() + "/", chm.string()});
        if (!cost.ok)
            state.SkipWithError("hh failed");
    }
    state.counters["child_cpu_ms"] = cost.cpuS * 1e3;
    state.counters["peak_rss_mb"] = cost.peakMb;
    state.counters["file_mb"] = static_cast<double>(fs::file_size(chm)) / (1 << 20);
}

// Sparse files of a few kilobytes on disk that claim far more: a directory
// of 4 million chunks (16 GB), or one reset interval of 32 GB. hh fails on
// them with a message; what counts is its peak resident size.
void BM_HhHugeClaim(benchmark::State& state) {
    const bool interval = state.range(0) == 1;
    const fs::path chm = TheHelpFile().Root() / (interval ? "interval.chm" : "directory.chm");
    const fs::path out = TheHelpFile().Root() / "claim-out";
    constexpr std::uint64_t kInterval = std::uint64_t{32} << 30;
    tbx::test::CraftedChm help;
    help.section0 = "<html>page</html>";
    help.entries = {{"/page.htm", 0, 0, help.section0.size()}};
    const tbx::test::CraftedLzx lzx{kInterval / kLzxFrameSize, kInterval, kInterval};
    if (interval) {
        help.lzx = &lzx;
        help.entries.push_back({"/big.htm", 1, 0, 1 << 20});
    } else {
        help.claimedChunks = 4u << 20;
    }
    help.WriteTo(chm);
    RunCost cost;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        cost = Run(TOMEBOX_TOOLS_DIR "/hh", {"-decompile", out.string() + "/", chm.string()});
    }
    state.counters["peak_rss_mb"] = cost.peakMb;
    state.counters["claimed_gb"] = static_cast<double>(fs::file_size(chm)) / (1 << 30);
    fs::remove(chm);
}

// One entry 5,000 folders deep, extracted into a fresh folder on disk.
void BM_HhDeepEntry(benchmark::State& state) {
    const fs::path chm = TheHelpFile().Root() / "deep.chm";
    std::string name = "/";
    for (int i = 0; i < 5000; ++i)
        name += "d/";
    tbx::test::CraftedChm help;
    help.chunkSize = 0x4000;
    help.section0 = "deep";
    help.entries = {{name + "page.htm", 0, 0, 4}};
    help.WriteTo(chm);
    RunCost cost;
    int run = 0;
    double cpu = 0;
    for (auto _ : state) {
        const fs::path out = TheHelpFile().Root() / ("deep-out-" + std::to_string(run++));
        fs::create_directories(out);
        cost = Run(TOMEBOX_TOOLS_DIR "/hh", {"-decompile", out.string() + "/", chm.string()});
        if (!cost.ok)
            state.SkipWithError("hh failed");
        cpu += cost.cpuS * 1e3;
    }
    state.counters["child_cpu_ms"] = cpu / static_cast<double>(state.iterations());
    state.counters["peak_rss_mb"] = cost.peakMb;
}

void BM_ExtractCheck(benchmark::State& state) {
    const tbx::bench::CompiledSite& help = TheHelpFile();
    const fs::path out = help.Root() / "check-out";
    fs::remove_all(out);
    fs::create_directories(out);
    const bool filled = state.range(0) == 1;
    if (filled &&
        Run(TOMEBOX_TOOLS_DIR "/hh", {"-decompile", out.string() + "/", help.Chm().string()}).ok ==
            false)
        state.SkipWithError("hh failed");
    std::size_t conflicts = 0;
    for (auto _ : state)
        conflicts = tbx::FindExtractConflicts(help.Chm().string(), out.string() + "/").count;
    if (conflicts != 0)
        state.SkipWithError("the extracted files differ from the help file");
    state.counters["pages"] = PagesBelow(out);
}

} // namespace

// The two run in turns: file creation slows down as deleted inodes pile up
// over the whole run, which would otherwise count against the later one.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int round = 0; round < 5; ++round) {
        benchmark::RegisterBenchmark("BM_ExtractChmLib", BM_ExtractChmLib)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(10);
        benchmark::RegisterBenchmark("BM_Hh", BM_Hh)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(10);
    }
    benchmark::RegisterBenchmark("BM_ExtractCheck", BM_ExtractCheck)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark("BM_HhManyEntries", BM_HhManyEntries)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("BM_HhHugeClaim", BM_HhHugeClaim)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_HhDeepEntry", BM_HhDeepEntry)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
