// hh against chmlib's own extractor on the same help file: a generated site
// of 2,000 pages of about 20 KB, compiled once by chmcmd, then extracted by
// "hh -decompile" and by extract_chmLib into a fresh folder each time.
// Figures per page matter as well: extract_chmLib misses the pages of the
// listing chunks that the header skips, so it writes fewer files.

#include "generated_site.h"
#include "platform/process.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tbx::bench::MakeSite;
using tbx::bench::WriteText;

constexpr int kPages = 2000;

struct HelpFile {
    HelpFile() {
        std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        root = pattern;
        MakeSite(root / "site", kPages);
        chm = root / "site.chm";
        WriteText(root / "site/site.hhp",
                  "[OPTIONS]\r\nCompiled file=" + chm.string() +
                      "\r\nDefault topic=index.htm\r\n\r\n[FILES]\r\nindex.htm\r\n");
        fs::current_path(root / "site");
        const tbx::ProcessOutcome run = tbx::RunProcess("chmcmd", {"--html-scan", "site.hhp"});
        if (!run.started || run.exitCode != 0 || !fs::exists(chm))
            throw std::runtime_error("chmcmd failed");
    }
    ~HelpFile() { fs::remove_all(root); }
    fs::path root;
    fs::path chm;
};

HelpFile& TheHelpFile() {
    static HelpFile help;
    return help;
}

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
    HelpFile& help = TheHelpFile();
    const fs::path out = help.root / "out";
    const double cpuBefore = ChildCpuSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        // Every run starts with the deletions of the last one on disk.
        ::sync();
        state.ResumeTiming();
        const tbx::ProcessOutcome run = tbx::RunProcess(program, args(out, help.chm));
        if (!run.started || run.exitCode != 0)
            state.SkipWithError((program + " failed: " + run.errorOutput).c_str());
    }
    state.counters["child_cpu_ms"] = benchmark::Counter((ChildCpuSeconds() - cpuBefore) * 1000.0 /
                                                        static_cast<double>(state.iterations()));
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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
