// How much the compile job adds to chmcmd run by hand on the same site:
// a generated site of 2,000 pages of about 20 KB, built through the job
// (checks, project, hhc, chmcmd) and by chmcmd directly.

#include "build/compile_job.h"
#include "build/help_project.h"
#include "generated_site.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "settings/opt_store.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using tbx::bench::MakeSite;
using tbx::bench::WriteText;

constexpr int kPages = 2000;

class SilentHost : public tbx::IJobHost {
public:
    std::map<int, std::string> fields;
    std::string last;
    std::string ReadField(int id) override { return fields[id]; }
    void ShowMessage(const std::string& text) override { last = text; }
    void ShowProgress(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void StartBusy() override {}
    void StopBusy() override {}
    void EndDialog(int) override {}
    tbx::ScreenSize Screen() override { return {1280, 1024}; }
};

class NoShell : public tbx::IShell {
public:
    int Open(const std::string&) override { return tbx::kLaunchOk; }
};

struct Site {
    Site() {
        std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        root = pattern;
        page = MakeSite(root / "site", kPages);
        fs::create_directories(root / "store");
        tbx::WriteFirstRunDefaults(tbx::RegHive(root / "store"));
    }
    ~Site() { fs::remove_all(root); }
    fs::path root;
    fs::path page;
};

// CPU seconds of finished child processes (hhc, chmcmd): steadier than wall
// time on a busy machine.
double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Site& TheSite() {
    static Site site;
    return site;
}

void BM_CompileJob(benchmark::State& state) {
    Site& site = TheSite();
    SilentHost host;
    NoShell shell;
    tbx::RegHive hive(site.root / "store");
    host.fields[tbx::kIdPageEdit] = site.page.string();
    host.fields[tbx::kIdOutputEdit] = (site.root / "job.chm").string();
    tbx::CompileJobs jobs(host, shell, hive, TOMEBOX_TOOLS_DIR "/");
    const double cpuBefore = ChildCpuSeconds();
    for (auto _ : state) {
        fs::remove(site.root / "job.chm");
        jobs.CompileThreadProc();
    }
    state.counters["child_cpu_s"] = ChildCpuSeconds() - cpuBefore;
    if (!fs::exists(site.root / "job.chm"))
        state.SkipWithError(("no help file: " + host.last).c_str());
}

void BM_ChmcmdByHand(benchmark::State& state) {
    Site& site = TheSite();
    const fs::path project = site.page.parent_path() / "hand.hhp";
    // The project the job writes, with the page relative to the project as
    // chmcmd needs it.
    const std::string window = tbx::BuildWindowDefinition(
        tbx::RegHive(site.root / "store"), "", TOMEBOX_TOOLS_DIR "/about.htm", {1280, 1024});
    WriteText(project, "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=" +
                           (site.root / "hand.chm").string() +
                           "\r\nDefault Window=Tomebox\r\nDefault topic=index.htm\r\n"
                           "Display compile progress=Yes\r\nFull-text search=No\r\n"
                           "Language=0x419 Russian\r\n\r\n[FILES]\r\nindex.htm\r\n"
                           "\r\n[WINDOWS]\r\nTomebox=" +
                           window + "\r\n");
    const double cpuBefore = ChildCpuSeconds();
    for (auto _ : state) {
        fs::remove(site.root / "hand.chm");
        const tbx::ProcessOutcome run = tbx::RunProcess("chmcmd", {project.string()});
        if (!run.started || run.exitCode != 0)
            state.SkipWithError("chmcmd failed");
    }
    state.counters["child_cpu_s"] = ChildCpuSeconds() - cpuBefore;
    fs::remove(project);
}

BENCHMARK(BM_ChmcmdByHand)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_CompileJob)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
