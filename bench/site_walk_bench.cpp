// The walk over the generated 2,000-page Windows-1251 site: every page
// read, its links scanned and resolved, the style sheet and images taken;
// then the contents and keyword sitemaps made from that walk and written.
// The site lives in a temporary folder removed at exit.

#include "site/site_walk.h"
#include "site/sitemap.h"
#include "support/generated_site.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 2000;

fs::path g_root;
fs::path g_start;

tbx::site::SiteWalk Walk() {
    tbx::site::WalkOptions options;
    options.root = g_root.string() + "/";
    options.starts = {g_start.string()};
    return tbx::site::WalkSite(options);
}

void BM_WalkGeneratedSite(benchmark::State& state) {
    std::size_t files = 0, bytes = 0;
    for (auto _ : state) {
        const tbx::site::SiteWalk walk = Walk();
        files = walk.files.size();
        bytes = 0;
        for (const tbx::site::SiteFile& file : walk.files)
            bytes += file.bytes.size();
        benchmark::DoNotOptimize(walk.files.data());
    }
    state.counters["files"] = static_cast<double>(files);
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WalkGeneratedSite)->Unit(benchmark::kMillisecond)->UseRealTime();

std::size_t CountEntries(const std::vector<tbx::site::SitemapEntry>& entries) {
    std::size_t count = entries.size();
    for (const tbx::site::SitemapEntry& entry : entries)
        count += CountEntries(entry.children);
    return count;
}

void BM_SitemapsOfGeneratedSite(benchmark::State& state) {
    const tbx::site::SiteWalk walk = Walk();
    std::size_t entries = 0, bytes = 0;
    for (auto _ : state) {
        const auto contents = tbx::site::ContentsFromPage(walk, walk.startNames.front());
        const auto keywords = tbx::site::KeywordsFromPages(walk, 0x419);
        const std::string hhc = tbx::site::WriteSitemap(contents, 0x419);
        const std::string hhk = tbx::site::WriteSitemap(keywords, 0x419);
        entries = CountEntries(contents) + keywords.size();
        bytes = hhc.size() + hhk.size();
        benchmark::DoNotOptimize(hhc.data());
        benchmark::DoNotOptimize(hhk.data());
    }
    // Ten headings of 200 pages each, and every page in the index.
    state.counters["entries"] = static_cast<double>(entries);
    state.counters["KB"] = static_cast<double>(bytes) / 1e3;
}
BENCHMARK(BM_SitemapsOfGeneratedSite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    g_root = fs::path(pattern) / "site";
    g_start = tbx::bench::MakeSite(g_root, kPages);
    // A sanity check, so a walk that misses pages cannot post fast figures:
    // every page, the start page and the style sheet at least, nothing refused.
    const tbx::site::SiteWalk walk = Walk();
    int status = 0;
    if (walk.files.size() < kPages + 2 || !walk.refusals.empty()) {
        std::fprintf(stderr, "the walk reached %zu files and refused %zu links\n",
                     walk.files.size(), walk.refusals.size());
        status = 1;
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(pattern, ec);
    return status;
}
