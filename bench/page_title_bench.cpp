// Title extraction over a folder of ordinary pages and over one very large
// page. Prints figures; the pages live in a temporary folder removed at exit.

#include "text/page_title.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kPageCount = 10'000;
constexpr std::size_t kPageSize = 20 * 1024;
constexpr std::size_t kBigPageSize = 50 * 1024 * 1024;

std::vector<std::string> g_pages;
std::string g_bigPage;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// A page the way an editor leaves it: a head with the title near the top,
// then a body of paragraphs filling it up to the wanted size.
std::string MakePage(int number, std::size_t size) {
    std::string page = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                       "<link rel=\"stylesheet\" href=\"style.css\">\n<title>Глава " +
                       std::to_string(number) + ": Introduction</title>\n</head>\n<body>\n";
    const std::string paragraph =
        "<p>Lorem ipsum dolor sit amet, <b>consectetur</b> adipiscing elit, sed do "
        "eiusmod tempor incididunt ut labore et dolore magna aliqua.</p>\n";
    while (page.size() + paragraph.size() < size)
        page += paragraph;
    page += "</body>\n</html>\n";
    return page;
}

fs::path CreatePages() {
    std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    const fs::path root = pattern;
    fs::create_directory(root / "pages");
    for (int i = 0; i < kPageCount; ++i) {
        g_pages.push_back((root / "pages" / ("page" + std::to_string(i) + ".htm")).string());
        Write(g_pages.back(), MakePage(i, kPageSize));
    }
    g_bigPage = (root / "big.htm").string();
    Write(g_bigPage, MakePage(0, kBigPageSize));
    return root;
}

void BM_FolderOfPages(benchmark::State& state) {
    std::size_t titled = 0;
    for (auto _ : state) {
        for (const std::string& page : g_pages) {
            const std::string title = tbx::GetPageTitle(page);
            titled += title.size();
            benchmark::DoNotOptimize(title.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPageCount);
    state.counters["title_bytes"] = static_cast<double>(titled / state.iterations());
}
BENCHMARK(BM_FolderOfPages)->Unit(benchmark::kMillisecond);

void BM_BigPage(benchmark::State& state) {
    for (auto _ : state) {
        const std::string title = tbx::GetPageTitle(g_bigPage);
        benchmark::DoNotOptimize(title.data());
    }
}
BENCHMARK(BM_BigPage)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const fs::path root = CreatePages();
    // A sanity check, so a broken extractor cannot post fast figures.
    if (tbx::GetPageTitle(g_pages[7]) != "Глава 7: Introduction" ||
        tbx::GetPageTitle(g_bigPage) != "Глава 0: Introduction") {
        std::fprintf(stderr, "unexpected title\n");
        fs::remove_all(root);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
