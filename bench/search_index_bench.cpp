// The full-text index of the 2,000-page Russian site: the time to build it
// from the pages in memory, and its size. The same site with its letters
// spelt out in Latin measures our index against chmcmd's, which indexes
// Latin letters only (its run takes about 40 CPU seconds; it is skipped when
// chmcmd is not installed).

#include "chm/search_index.h"
#include "platform/process.h"
#include "run_cost.h"
#include "support/generated_site.h"
#include "text/page_title.h"

#include <benchmark/benchmark.h>
#include <chm_lib.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tbx::bench::MakeSite;
using tbx::bench::PageName;
using tbx::bench::WriteText;

constexpr int kPages = 2000;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Windows-1251 letters spelt out in Latin, one or two letters each, so
// that the words keep their number and nearly their length.
std::string Latinize(std::string_view text) {
    static const char* const kLower[32] = {
        "a", "b", "v", "g", "d", "e", "zh", "z",  "i",  "j",  "k", "l", "m", "n", "o",  "p",
        "r", "s", "t", "u", "f", "h", "c",  "ch", "sh", "sc", "q", "y", "x", "w", "yu", "ya"};
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0xC0) {
            std::string latin = kLower[(byte - 0xC0) % 32];
            if (byte < 0xE0)
                latin[0] = static_cast<char>(latin[0] - 'a' + 'A');
            out += latin;
        } else if (byte == 0xB8 || byte == 0xA8) {
            out += byte == 0xB8 ? "yo" : "Yo";
        } else {
            out += c;
        }
    }
    return out;
}

struct Page {
    std::string name;
    std::string html;
    std::string title;
};

struct Site {
    Site() {
        root = tbx::bench::MakeTempRoot();
        MakeSite(root / "site", kPages);
        std::vector<std::string> names = {"index.htm"};
        for (int i = 0; i < kPages; ++i)
            names.push_back(PageName(i));
        for (const std::string& name : names) {
            const fs::path path = root / "site" / name;
            pages.push_back({name, ReadText(path), tbx::GetPageTitle(path.string())});
            latin.push_back({name, Latinize(pages.back().html), Latinize(pages.back().title)});
        }
    }
    ~Site() { fs::remove_all(root); }
    fs::path root;
    std::vector<Page> pages, latin;
};

Site& TheSite() {
    static Site site;
    return site;
}

std::uint32_t HeaderField(const std::string& index, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(index[offset + i]);
    return value;
}

void IndexPages(benchmark::State& state, const std::vector<Page>& pages) {
    std::vector<tbx::chm::SearchTopic> topics;
    std::size_t bytes = 0;
    for (const Page& page : pages) {
        topics.push_back({static_cast<std::uint32_t>(topics.size()), page.html,
                          tbx::text::Charset::ForCodePage(1251), page.title});
        bytes += page.html.size();
    }
    std::string index;
    for (auto _ : state) {
        index = tbx::chm::BuildFullTextIndex(topics);
        benchmark::DoNotOptimize(index.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
    state.counters["index_bytes"] = static_cast<double>(index.size());
    state.counters["occurrences"] = HeaderField(index, 0x42);
    state.counters["entries"] = HeaderField(index, 0x46);
    state.counters["leaves"] = HeaderField(index, 0x10);
}

void BM_IndexRussianSite(benchmark::State& state) {
    IndexPages(state, TheSite().pages);
}

void BM_IndexLatinSite(benchmark::State& state) {
    IndexPages(state, TheSite().latin);
}

// chmcmd's own index of the Latin site, read back with chmlib.
void BM_ChmcmdLatinSite(benchmark::State& state) {
    Site& site = TheSite();
    const fs::path folder = site.root / "latin";
    std::string files;
    for (const Page& page : site.latin) {
        fs::create_directories((folder / page.name).parent_path());
        WriteText(folder / page.name, page.html);
        files += page.name + "\r\n";
    }
    const fs::path output = site.root / "latin.chm";
    WriteText(folder / "latin.hhp", "[OPTIONS]\r\nCompiled file=" + output.string() +
                                        "\r\nDefault topic=index.htm\r\nFull-text search=Yes\r\n"
                                        "Language=0x409 English\r\n\r\n[FILES]\r\n" +
                                        files);
    for (auto _ : state) {
        const tbx::ProcessOutcome run =
            tbx::RunProcess("chmcmd", {(folder / "latin.hhp").string()});
        if (!run.started || run.exitCode != 0)
            return state.SkipWithError("chmcmd failed or is not installed");
    }
    chmFile* file = chm_open(output.c_str());
    chmUnitInfo info{};
    if (!file || chm_resolve_object(file, "/$FIftiMain", &info) != CHM_RESOLVE_SUCCESS) {
        if (file)
            chm_close(file);
        return state.SkipWithError("no search index in chmcmd's help file");
    }
    state.counters["index_bytes"] = static_cast<double>(info.length);
    chm_close(file);
}

BENCHMARK(BM_IndexRussianSite)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_IndexLatinSite)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_ChmcmdLatinSite)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
