// The full-text index on the generated 2,000-page site (generated_site.h),
// in Russian (Windows-1251) and in Latin letters (Windows-1252):
//   - the index built from the pages in memory: its time and size;
//   - hhc without and with search, in turn: the extra build time and how
//     much larger the help file grows;
//   - the index of a 20,000-page site built page by page, each page read
//     and dropped in turn: the builder's own peak memory;
//   - hhc without and with search on that site: time and peak memory;
//   - the references Microsoft's compiler built (../shared/references/
//     microsoft, skipped when absent), compiled by hhc: both files' sizes
//     and the sizes of both search indexes.
// The machine's load average is reported with each, since it is shared.

#include "chm/reader.h"
#include "chm/search_index.h"
#include "run_cost.h"
#include "support/generated_site.h"
#include "text/page_title.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tbx::bench::MakeSite;
using tbx::bench::PageName;
using tbx::bench::Run;
using tbx::bench::RunCost;
using tbx::bench::Script;
using tbx::bench::WriteText;

constexpr int kPages = 2000;
const std::string kHhc = TOMEBOX_TOOLS_DIR "/hhc";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Page {
    std::string html;
    std::string title;
};

// One language's site on disk, with its pages also in memory.
struct Site {
    Site(Script script, int codePage, std::string language)
        : codePage(codePage), language(std::move(language)) {
        root = tbx::bench::MakeTempRoot();
        start = MakeSite(root / "site", kPages, 20261207, script);
        std::vector<std::string> names = {"index.htm"};
        for (int i = 0; i < kPages; ++i)
            names.push_back(PageName(i));
        for (const std::string& name : names) {
            const fs::path path = root / "site" / name;
            pages.push_back({ReadText(path), tbx::GetPageTitle(path.string())});
        }
    }
    ~Site() { fs::remove_all(root); }

    fs::path Project(const std::string& name, bool search) const {
        const fs::path project = root / "site" / (name + ".hhp");
        WriteText(project, "[OPTIONS]\r\nCompiled file=" + Output(name).string() +
                               "\r\nDefault topic=index.htm\r\nFull-text search=" +
                               (search ? "Yes" : "No") + "\r\nLanguage=" + language + "\r\n");
        return project;
    }
    fs::path Output(const std::string& name) const { return root / (name + ".chm"); }

    int codePage;
    std::string language;
    fs::path root, start;
    std::vector<Page> pages;
};

Site& Russian() {
    static Site site(Script::Cyrillic, 1251, "0x419 Russian");
    return site;
}

Site& Latin() {
    static Site site(Script::Latin, 1252, "0x409 English");
    return site;
}

std::uint32_t HeaderField(const std::string& index, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(index[offset + i]);
    return value;
}

void ReportLoad(benchmark::State& state) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        state.counters["load_1min"] = load[0];
}

double FileBytes(const fs::path& path) {
    std::error_code ec;
    return static_cast<double>(fs::file_size(path, ec));
}

// The stored length of a file in a help file, 0 when it has none.
double StoredLength(const fs::path& help, const std::string& name) {
    std::string error;
    const auto file = tbx::chm::ChmFile::Open(help.string(), error);
    const auto entry = file ? file->Find(name) : std::nullopt;
    return entry ? static_cast<double>(file->Entry(*entry).length) : 0;
}

void IndexPages(benchmark::State& state, const Site& site) {
    const tbx::text::Charset charset = tbx::text::Charset::ForCodePage(site.codePage);
    std::vector<tbx::chm::SearchTopic> topics;
    std::size_t bytes = 0;
    for (const Page& page : site.pages) {
        topics.push_back(
            {static_cast<std::uint32_t>(topics.size()), page.html, charset, page.title});
        bytes += page.html.size();
    }
    const tbx::text::SearchAlphabet& alphabet = *tbx::text::FindSearchAlphabet(site.codePage);
    std::string index;
    for (auto _ : state) {
        index = tbx::chm::BuildFullTextIndex(topics, alphabet, 0x409);
        benchmark::DoNotOptimize(index.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
    state.counters["index_bytes"] = static_cast<double>(index.size());
    state.counters["occurrences"] = HeaderField(index, 0x42);
    state.counters["entries"] = HeaderField(index, 0x46);
    state.counters["leaves"] = HeaderField(index, 0x10);
}

void BM_IndexRussianSite(benchmark::State& state) {
    IndexPages(state, Russian());
}

void BM_IndexLatinSite(benchmark::State& state) {
    IndexPages(state, Latin());
}

// hhc without search and with it, in turn.
void SearchCost(benchmark::State& state, const Site& site) {
    const fs::path plain = site.Project("plain", false);
    const fs::path search = site.Project("search", true);
    RunCost without, with;
    for (auto _ : state) {
        const RunCost a = Run(kHhc, {plain.string()});
        const RunCost b = Run(kHhc, {search.string()});
        if (!a.ok || !b.ok)
            return state.SkipWithError("hhc failed");
        without.wallS += a.wallS;
        without.cpuS += a.cpuS;
        without.peakMb = std::max(without.peakMb, a.peakMb);
        with.peakMb = std::max(with.peakMb, b.peakMb);
        with.wallS += b.wallS;
        with.cpuS += b.cpuS;
        state.SetIterationTime(b.wallS);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["plain_wall_s"] = without.wallS / n;
    state.counters["search_wall_s"] = with.wallS / n;
    state.counters["extra_wall_pct"] = 100 * (with.wallS / without.wallS - 1);
    state.counters["extra_cpu_pct"] = 100 * (with.cpuS / without.cpuS - 1);
    state.counters["plain_cpu_s"] = without.cpuS / n;
    state.counters["search_cpu_s"] = with.cpuS / n;
    state.counters["plain_peak_MB"] = without.peakMb;
    state.counters["search_peak_MB"] = with.peakMb;
    const double plainBytes = FileBytes(site.Output("plain"));
    const double searchBytes = FileBytes(site.Output("search"));
    state.counters["plain_MB"] = plainBytes / 1e6;
    state.counters["search_MB"] = searchBytes / 1e6;
    state.counters["growth_pct"] = 100 * (searchBytes / plainBytes - 1);
    state.counters["index_MB"] = StoredLength(site.Output("search"), "/$FIftiMain") / 1e6;
    ReportLoad(state);
}

void BM_SearchCostRussian(benchmark::State& state) {
    SearchCost(state, Russian());
}

void BM_SearchCostLatin(benchmark::State& state) {
    SearchCost(state, Latin());
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// The large site, made once: its pages are read from disk as they are
// indexed, so that the process holds one page at a time.
struct LargeSite {
    static constexpr int kLargePages = 20000;
    LargeSite() : root(tbx::bench::MakeTempRoot()) {
        MakeSite(root / "site", kLargePages, 20261207, Script::Cyrillic);
        names = {"index.htm"};
        for (int i = 0; i < kLargePages; ++i)
            names.push_back(PageName(i));
    }
    ~LargeSite() { fs::remove_all(root); }
    fs::path root;
    std::vector<std::string> names;
};

LargeSite& Large() {
    static LargeSite site;
    return site;
}

void BM_IndexLargeSitePageByPage(benchmark::State& state) {
    const LargeSite& site = Large();
    const tbx::text::Charset charset = tbx::text::Charset::ForCodePage(1251);
    const tbx::text::SearchAlphabet& alphabet = *tbx::text::FindSearchAlphabet(1251);
    const double before = PeakRssMb();
    std::size_t bytes = 0, indexBytes = 0;
    for (auto _ : state) {
        tbx::chm::SearchIndexBuilder builder(alphabet, 0x419);
        for (std::uint32_t i = 0; i < site.names.size(); ++i) {
            const fs::path path = site.root / "site" / site.names[i];
            const std::string html = ReadText(path);
            const std::string title = tbx::GetPageTitle(path.string());
            builder.AddTopic({i, html, charset, title});
            bytes += html.size();
        }
        indexBytes = builder.Finish().size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["index_MB"] = static_cast<double>(indexBytes) / 1e6;
    state.counters["builder_peak_MB"] = PeakRssMb() - before;
    ReportLoad(state);
}

// hhc on the large site, without search and with it.
void BM_SearchCostLargeSite(benchmark::State& state) {
    const LargeSite& site = Large();
    const auto project = [&](const std::string& name, bool search) {
        const fs::path path = site.root / "site" / (name + ".hhp");
        WriteText(path, "[OPTIONS]\r\nCompiled file=" + (site.root / (name + ".chm")).string() +
                            "\r\nDefault topic=index.htm\r\nFull-text search=" +
                            (search ? "Yes" : "No") + "\r\nLanguage=0x419 Russian\r\n");
        return path.string();
    };
    const std::string plain = project("plain", false), search = project("search", true);
    for (auto _ : state) {
        const RunCost a = Run(kHhc, {plain});
        const RunCost b = Run(kHhc, {search});
        if (!a.ok || !b.ok)
            return state.SkipWithError("hhc failed");
        state.counters["plain_wall_s"] = a.wallS;
        state.counters["search_wall_s"] = b.wallS;
        state.counters["plain_cpu_s"] = a.cpuS;
        state.counters["search_cpu_s"] = b.cpuS;
        state.counters["plain_peak_MB"] = a.peakMb;
        state.counters["search_peak_MB"] = b.peakMb;
        state.SetIterationTime(b.wallS);
    }
    state.counters["plain_MB"] = FileBytes(site.root / "plain.chm") / 1e6;
    state.counters["search_MB"] = FileBytes(site.root / "search.chm") / 1e6;
    ReportLoad(state);
}

// A reference project compiled by hhc in a copy of its folder, against the
// file Microsoft's compiler built from it.
void Reference(benchmark::State& state, const std::string& folder, const std::string& project,
               const std::string& theirs) {
    const fs::path source = fs::path(TOMEBOX_REFERENCES_DIR) / folder;
    if (!fs::exists(source))
        return state.SkipWithError("the references are not at hand");
    const fs::path root = tbx::bench::MakeTempRoot();
    fs::copy(source, root / folder, fs::copy_options::recursive);
    const fs::path microsoft = root / "microsoft.chm";
    fs::rename(root / folder / theirs, microsoft);
    for (auto _ : state) {
        if (!Run(kHhc, {(root / folder / project).string()}).ok) {
            fs::remove_all(root);
            return state.SkipWithError("hhc failed");
        }
    }
    const fs::path ours = root / folder / theirs;
    state.counters["ours_bytes"] = FileBytes(ours);
    state.counters["microsoft_bytes"] = FileBytes(microsoft);
    state.counters["ours_index_bytes"] = StoredLength(ours, "/$FIftiMain");
    state.counters["microsoft_index_bytes"] = StoredLength(microsoft, "/$FIftiMain");
    fs::remove_all(root);
}

void BM_ReferenceHelptest(benchmark::State& state) {
    Reference(state, "helptest", "HTML Help Project/Test Help.hhp",
              "HTML Help Project/Test Help.chm");
}

void BM_ReferenceMonuments(benchmark::State& state) {
    Reference(state, "monuments", "Help/Help.hhp", "Help/Help.chm");
}

BENCHMARK(BM_IndexRussianSite)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_IndexLatinSite)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_SearchCostRussian)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_SearchCostLatin)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_IndexLargeSitePageByPage)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SearchCostLargeSite)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK(BM_ReferenceHelptest)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReferenceMonuments)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
