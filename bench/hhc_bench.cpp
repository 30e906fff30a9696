// hhc on the generated site of 2,000 pages of about 20 KB of Russian prose
// in Windows-1251 (generated_site.h), with the project the compile job
// writes:
//   - against chmcmd, run in turn on the same project in each iteration
//     when chmcmd is installed (skipped otherwise): wall and CPU time, peak
//     memory and the size of the help file;
//   - the cost of full-text search: hhc without and with it, in turn, and
//     the size of the search index;
//   - the whole compile job around hhc.
// The machine's load average is reported with each, since it is shared.

#include "chm/reader.h"
#include "compile/compile_job.h"
#include "compile/help_project.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "run_cost.h"
#include "settings/opt_store.h"
#include "support/generated_site.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using tbx::bench::MakeSite;
using tbx::bench::Run;
using tbx::bench::RunCost;
using tbx::bench::WriteText;

constexpr int kPages = 2000;
const std::string kHhc = TOMEBOX_TOOLS_DIR "/hhc";

struct Site {
    Site() {
        root = tbx::bench::MakeTempRoot();
        page = MakeSite(root / "site", kPages);
        fs::create_directories(root / "store");
        tbx::WriteFirstRunDefaults(tbx::RegHive(root / "store"));
    }
    ~Site() { fs::remove_all(root); }

    // The job's project, beside the site with the start page named
    // relative to it, as chmcmd needs it; hhc reads it the same way.
    fs::path Project(const std::string& name, bool search) const {
        const fs::path project = page.parent_path() / (name + ".hhp");
        const std::string window = tbx::BuildWindowDefinition(
            tbx::RegHive(root / "store"), "", TOMEBOX_TOOLS_DIR "/about.htm", {1280, 1024});
        WriteText(project, "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=" +
                               Output(name).string() +
                               "\r\nDefault Window=Tomebox\r\nDefault topic=index.htm\r\n"
                               "Display compile progress=Yes\r\nFull-text search=" +
                               (search ? "Yes" : "No") +
                               "\r\nLanguage=0x419 Russian\r\n\r\n[FILES]\r\nindex.htm\r\n"
                               "\r\n[WINDOWS]\r\nTomebox=" +
                               window + "\r\n");
        return project;
    }
    fs::path Output(const std::string& name) const { return root / (name + ".chm"); }

    fs::path root;
    fs::path page;
};

Site& TheSite() {
    static Site site;
    return site;
}

// Sums of several runs, reported as means per iteration.
struct Totals {
    RunCost sum;
    void Add(const RunCost& cost) {
        sum.wallS += cost.wallS;
        sum.cpuS += cost.cpuS;
        sum.peakMb = std::max(sum.peakMb, cost.peakMb);
    }
    void Report(benchmark::State& state, const std::string& prefix) const {
        const double n = static_cast<double>(state.iterations());
        state.counters[prefix + "_wall_s"] = sum.wallS / n;
        state.counters[prefix + "_cpu_s"] = sum.cpuS / n;
        state.counters[prefix + "_peak_MB"] = sum.peakMb;
    }
};

double FileMb(const fs::path& path) {
    std::error_code ec;
    return static_cast<double>(fs::file_size(path, ec)) / 1e6;
}

void ReportLoad(benchmark::State& state) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        state.counters["load_1min"] = load[0];
}

void BM_HhcAgainstChmcmd(benchmark::State& state) {
    const Site& site = TheSite();
    const fs::path ours = site.Project("hhc", false);
    const fs::path theirs = site.Project("chmcmd", false);
    Totals hhc, chmcmd;
    bool chmcmdRan = true;
    for (auto _ : state) {
        fs::remove(site.Output("hhc"));
        const RunCost cost = Run(kHhc, {ours.string()});
        if (!cost.ok)
            return state.SkipWithError("hhc failed");
        hhc.Add(cost);
        state.SetIterationTime(cost.wallS);
        if (chmcmdRan) {
            fs::remove(site.Output("chmcmd"));
            const RunCost other = Run("chmcmd", {theirs.string()});
            chmcmdRan = other.ok;
            chmcmd.Add(other);
        }
    }
    hhc.Report(state, "hhc");
    state.counters["hhc_MB"] = FileMb(site.Output("hhc"));
    if (chmcmdRan) {
        chmcmd.Report(state, "chmcmd");
        state.counters["chmcmd_MB"] = FileMb(site.Output("chmcmd"));
        state.counters["wall_chmcmd_over_hhc"] = chmcmd.sum.wallS / hhc.sum.wallS;
        state.counters["size_hhc_over_chmcmd"] =
            FileMb(site.Output("hhc")) / FileMb(site.Output("chmcmd"));
    } else {
        state.counters["chmcmd_skipped"] = 1;
    }
    ReportLoad(state);
}

void BM_FullTextSearchCost(benchmark::State& state) {
    const Site& site = TheSite();
    const fs::path plain = site.Project("plain", false);
    const fs::path search = site.Project("search", true);
    Totals without, with;
    for (auto _ : state) {
        const RunCost a = Run(kHhc, {plain.string()});
        const RunCost b = Run(kHhc, {search.string()});
        if (!a.ok || !b.ok)
            return state.SkipWithError("hhc failed");
        without.Add(a);
        with.Add(b);
        state.SetIterationTime(b.wallS);
    }
    without.Report(state, "plain");
    with.Report(state, "search");
    state.counters["extra_wall"] = with.sum.wallS / without.sum.wallS - 1;
    state.counters["extra_cpu"] = with.sum.cpuS / without.sum.cpuS - 1;
    std::string error;
    const auto file = tbx::chm::ChmFile::Open(site.Output("search").string(), error);
    const auto index = file ? file->Find("/$FIftiMain") : std::nullopt;
    if (!index)
        return state.SkipWithError(("no search index: " + error).c_str());
    state.counters["index_MB"] = static_cast<double>(file->Entry(*index).length) / 1e6;
    state.counters["size_extra_MB"] = FileMb(site.Output("search")) - FileMb(site.Output("plain"));
    ReportLoad(state);
}

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

// The compile job around hhc: its checks, the project, reading hhc's lines.
void BM_CompileJob(benchmark::State& state) {
    Site& site = TheSite();
    SilentHost host;
    NoShell shell;
    host.fields[tbx::kIdPageEdit] = site.page.string();
    host.fields[tbx::kIdOutputEdit] = site.Output("job").string();
    tbx::CompileJobs jobs(host, shell, tbx::RegHive(site.root / "store"), TOMEBOX_TOOLS_DIR "/");
    for (auto _ : state) {
        fs::remove(site.Output("job"));
        jobs.CompileThreadProc();
    }
    if (!fs::exists(site.Output("job")))
        state.SkipWithError(("no help file: " + host.last).c_str());
    ReportLoad(state);
}

// The time shown is hhc's wall time, with search in the second.
BENCHMARK(BM_HhcAgainstChmcmd)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_FullTextSearchCost)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_CompileJob)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
