// The LZX encoder and the help-file writer on the generated 2,000-page
// site of Russian prose in Windows-1251 (about 41 MB):
//   - encoder speed per core, from CPU time on one thread and on two;
//   - wall time on two threads against one;
//   - compressed size against chmcmd's on the same files (skipped when
//     chmcmd is not installed).
// Build in Release and run by hand: bin/bench_chm_writer

#include "chm/lzx_encoder.h"
#include "chm/writer.h"
#include "platform/process.h"
#include "run_cost.h"
#include "support/generated_site.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chm_lib.h>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 2000;

struct Site {
    Site() {
        root = tbx::bench::MakeTempRoot();
        tbx::bench::MakeSite(root / "site", kPages);
        for (const auto& entry : fs::recursive_directory_iterator(root / "site"))
            if (entry.is_regular_file())
                names.push_back(fs::relative(entry.path(), root / "site").string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::ifstream in(root / "site" / name, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            files.push_back(bytes.str());
            joined.insert(joined.end(), files.back().begin(), files.back().end());
        }
    }
    ~Site() { fs::remove_all(root); }

    fs::path root;
    std::vector<std::string> names; // relative to the site, sorted
    std::vector<std::string> files;
    std::vector<std::uint8_t> joined;
};

Site& TheSite() {
    static Site site;
    return site;
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Encoder speed at each level: input MB per second of wall time, and per
// CPU second (the speed of one core whatever the thread count).
void BM_LzxCompress(benchmark::State& state) {
    const Site& site = TheSite();
    const auto threads = static_cast<unsigned>(state.range(0));
    const auto level = static_cast<tbx::chm::LzxLevel>(state.range(1));
    std::size_t compressed = 0;
    const double cpuBefore = CpuSeconds();
    for (auto _ : state) {
        const tbx::chm::LzxStream stream = tbx::chm::LzxCompress(
            site.joined, tbx::chm::kDefaultWindowBits, threads, {}, nullptr, level);
        compressed = stream.bytes.size();
        benchmark::DoNotOptimize(stream.bytes.data());
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const double input =
        static_cast<double>(site.joined.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(input));
    state.counters["input_MB"] = static_cast<double>(site.joined.size()) / 1e6;
    state.counters["output_MB"] = static_cast<double>(compressed) / 1e6;
    state.counters["MB_per_cpu_s"] = input / 1e6 / cpu;
    state.counters["out_per_in"] =
        static_cast<double>(compressed) / static_cast<double>(site.joined.size());
}

// Wall time of the same work on two threads over one thread, measured
// back to back so that both see the same load on the machine.
void BM_TwoThreadsOverOne(benchmark::State& state) {
    const Site& site = TheSite();
    double one = 0, two = 0;
    for (auto _ : state) {
        for (const unsigned threads : {1u, 2u}) {
            const double start = WallSeconds();
            benchmark::DoNotOptimize(
                tbx::chm::LzxCompress(site.joined, tbx::chm::kDefaultWindowBits, threads)
                    .bytes.size());
            (threads == 1 ? one : two) += WallSeconds() - start;
        }
    }
    state.counters["wall_1_thread_s"] = one / static_cast<double>(state.iterations());
    state.counters["wall_2_threads_s"] = two / static_cast<double>(state.iterations());
    state.counters["ratio"] = two / one;
}

// Length of a stored stream, read with chmlib; 0 when missing.
std::uint64_t StreamLength(const std::string& chm, const char* name) {
    chmFile* file = chm_open(chm.c_str());
    if (!file)
        return 0;
    chmUnitInfo unit{};
    const bool found = chm_resolve_object(file, name, &unit) == CHM_RESOLVE_SUCCESS;
    chm_close(file);
    return found ? unit.length : 0;
}

std::uint64_t SpanOf(const std::string& chm) {
    chmFile* file = chm_open(chm.c_str());
    if (!file)
        return 0;
    chmUnitInfo unit{};
    std::uint64_t span = 0;
    if (chm_resolve_object(file, "::DataSpace/Storage/MSCompressed/SpanInfo", &unit) ==
        CHM_RESOLVE_SUCCESS)
        chm_retrieve_object(file, &unit, reinterpret_cast<unsigned char*>(&span), 0, 8);
    chm_close(file);
    return span;
}

// The whole writer on two threads, and the compressed section against
// chmcmd's for the same files. chmcmd also puts its own topic and URL
// tables into the section, so the figure per input byte is given too.
void BM_WriterAgainstChmcmd(benchmark::State& state) {
    const Site& site = TheSite();
    const std::string ours = (site.root / "ours.chm").string();
    for (auto _ : state) {
        tbx::chm::Writer writer;
        for (std::size_t i = 0; i < site.names.size(); ++i)
            writer.Add("/" + site.names[i], site.files[i]);
        tbx::chm::WriteOptions options;
        options.threads = 2;
        const std::string error = writer.Finish(ours, options);
        if (!error.empty())
            state.SkipWithError(error.c_str());
    }
    const char* content = "::DataSpace/Storage/MSCompressed/Content";
    const double ourContent = static_cast<double>(StreamLength(ours, content));
    state.counters["ours_content_MB"] = ourContent / 1e6;
    state.counters["ours_span_MB"] = static_cast<double>(SpanOf(ours)) / 1e6;

    const fs::path project = site.root / "site" / "bench.hhp";
    const std::string theirs = (site.root / "chmcmd.chm").string();
    std::string text = "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=" + theirs +
                       "\r\nDefault topic=index.htm\r\nFull-text search=No\r\n"
                       "Binary TOC=No\r\nBinary Index=No\r\nLanguage=0x419 Russian\r\n\r\n"
                       "[FILES]\r\n";
    for (const std::string& name : site.names)
        text += name + "\r\n";
    tbx::bench::WriteText(project, text);
    const tbx::ProcessOutcome run = tbx::RunProcess("chmcmd", {project.string()});
    if (!run.started) {
        state.counters["chmcmd_skipped"] = 1;
        return;
    }
    const double theirContent = static_cast<double>(StreamLength(theirs, content));
    const double theirSpan = static_cast<double>(SpanOf(theirs));
    state.counters["chmcmd_content_MB"] = theirContent / 1e6;
    state.counters["chmcmd_span_MB"] = theirSpan / 1e6;
    state.counters["size_ours_over_chmcmd"] = ourContent / theirContent;
    state.counters["per_byte_ours_over_chmcmd"] =
        (ourContent / static_cast<double>(SpanOf(ours))) / (theirContent / theirSpan);
}

BENCHMARK(BM_LzxCompress)
    ->ArgsProduct({{1, 2},
                   {static_cast<int>(tbx::chm::LzxLevel::Default),
                    static_cast<int>(tbx::chm::LzxLevel::Best)}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK(BM_TwoThreadsOverOne)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WriterAgainstChmcmd)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
