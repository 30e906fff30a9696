// The viewer's full-text search on the help files hhc compiles, with its
// search index, from the generated site of 2,000 and of 20,000 pages (about
// 41 MB and 410 MB of Windows-1251 Russian prose): opening the navigation
// data, and searching one word, common or rare, whole or as a prefix. Each
// search starts on a fresh reader, so nothing of the index is decoded yet.

#include "chm/help_reader.h"
#include "run_cost.h"
#include "support/generated_site.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <map>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using namespace tbx::chm;

class SearchableSite {
public:
    explicit SearchableSite(int pages) : root_(tbx::bench::MakeTempRoot()) {
        tbx::bench::MakeSite(root_ / "site", pages);
        const fs::path chm = root_ / "site.chm";
        tbx::bench::WriteText(root_ / "site/site.hhp",
                              "[OPTIONS]\r\nCompiled file=" + chm.string() +
                                  "\r\nDefault topic=index.htm\r\nLanguage=0x419 Russian\r\n"
                                  "Full-text search=Yes\r\n\r\n[FILES]\r\nindex.htm\r\n");
        const tbx::bench::RunCost run =
            tbx::bench::Run(TOMEBOX_TOOLS_DIR "/hhc", {(root_ / "site/site.hhp").string()});
        if (!run.ok)
            throw std::runtime_error("hhc failed");
        std::string error;
        file_ = ChmFile::Open(chm.string(), error);
        if (!file_)
            throw std::runtime_error(error);
    }
    ~SearchableSite() { fs::remove_all(root_); }
    const ChmFile& File() const { return *file_; }

private:
    fs::path root_;
    std::unique_ptr<ChmFile> file_;
};

const ChmFile& HelpFile(int pages) {
    static std::map<int, std::unique_ptr<SearchableSite>> sites;
    std::unique_ptr<SearchableSite>& site = sites[pages];
    if (!site)
        site = std::make_unique<SearchableSite>(pages);
    return site->File();
}

// #SYSTEM, #WINDOWS, #STRINGS and the topic tables, as the viewer reads
// them when it opens a help file.
void BM_OpenNavigation(benchmark::State& state) {
    const ChmFile& file = HelpFile(static_cast<int>(state.range(0)));
    std::size_t topics = 0;
    for (auto _ : state) {
        const HelpReader reader(file);
        topics = reader.TopicCount();
    }
    state.counters["topics"] = static_cast<double>(topics);
}

void Search(benchmark::State& state, const char* word, SearchMode mode) {
    const ChmFile& file = HelpFile(static_cast<int>(state.range(0)));
    std::size_t hits = 0;
    for (auto _ : state) {
        state.PauseTiming();
        HelpReader reader(file);
        state.ResumeTiming();
        const SearchResults results = reader.Search(word, mode);
        if (results.outcome != SearchOutcome::Found)
            state.SkipWithError("nothing found");
        hits = results.hits.size();
    }
    state.counters["hits"] = static_cast<double>(hits);
}

// "программа" stands on nearly every page; "версия" on fewer; "пользовател"
// begins two words of the vocabulary.
void BM_SearchCommonWord(benchmark::State& state) {
    Search(state, "программа", SearchMode::WholeWord);
}
void BM_SearchRarerWord(benchmark::State& state) {
    Search(state, "версия", SearchMode::WholeWord);
}
void BM_SearchPrefix(benchmark::State& state) {
    Search(state, "пользовател", SearchMode::Prefix);
}

} // namespace

BENCHMARK(BM_OpenNavigation)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchCommonWord)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchRarerWord)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchPrefix)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
