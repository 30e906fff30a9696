// How hhc's cost grows with the site: the generated site (generated_site.h)
// at 2,000 and 20,000 pages of about 20 KB, and at 200,000 small pages of
// about 1 KB, each compiled with and without full-text search. For each run:
// wall and CPU time, peak resident memory (wait4) and the help file's bytes
// per byte of the site; then how 20,000 pages compare with 2,000.
//
// The sites take about 40 MB, 400 MB and 300 MB; they are written once
// below /tmp/tomebox-site-scale and reused by later runs (remove the folder
// to have them written again).
//
//   bench_site_scale [--hhc PATH]... [--pages 2000,20000,200000] [--repeat N]
//
// Several --hhc run in turn on each case, back to back, so that two builds
// are compared under the same load. The 200,000-page case runs once
// whatever --repeat says.

#include "run_cost.h"
#include "support/generated_site.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tbx::bench::RunCost;

constexpr int kSmallFrom = 100000; // sites this large get small pages
constexpr std::size_t kSmallPage = 1000;

struct Case {
    int pages;
    bool search;
};

fs::path SiteFolder(int pages) {
    return fs::path("/tmp/tomebox-site-scale") / ("pages" + std::to_string(pages));
}

// The site's folder, written unless a finished one is there.
fs::path EnsureSite(int pages) {
    const fs::path folder = SiteFolder(pages);
    const fs::path done = folder / "written";
    if (!fs::exists(done)) {
        fs::remove_all(folder);
        std::fprintf(stderr, "writing %d pages below %s\n", pages, folder.c_str());
        tbx::bench::MakeSite(folder / "site", pages, 20261207, tbx::bench::Script::Cyrillic,
                             pages >= kSmallFrom ? kSmallPage : 19000);
        tbx::bench::WriteText(done, "");
    }
    return folder;
}

std::uint64_t FolderBytes(const fs::path& folder) {
    std::uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            bytes += entry.file_size();
    }
    return bytes;
}

fs::path Project(const fs::path& folder, bool search) {
    const std::string name = search ? "search" : "plain";
    const fs::path project = folder / "site" / (name + ".hhp");
    tbx::bench::WriteText(
        project, "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=" +
                     (folder / (name + ".chm")).string() +
                     "\r\nDefault topic=index.htm\r\nFull-text search=" + (search ? "Yes" : "No") +
                     "\r\nLanguage=0x419 Russian\r\n\r\n[FILES]\r\n"
                     "index.htm\r\n");
    return project;
}

std::vector<int> ParseList(const std::string& text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(std::stoi(item));
    return values;
}

struct Result {
    double wallS = 0, cpuS = 0, peakMb = 0; // means, peak the largest
    int runs = 0;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> hhcs;
    std::vector<int> sizes = {2000, 20000, 200000};
    int repeat = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--hhc")
            hhcs.push_back(argv[i + 1]);
        else if (flag == "--pages")
            sizes = ParseList(argv[i + 1]);
        else if (flag == "--repeat")
            repeat = std::max(1, std::atoi(argv[i + 1]));
        else
            return std::fprintf(stderr, "unknown option %s\n", flag.c_str()), 2;
    }
    if (hhcs.empty())
        hhcs.push_back(TOMEBOX_TOOLS_DIR "/hhc");

    std::map<std::pair<std::string, int>, std::map<bool, Result>> results;
    std::printf("%-28s %7s %6s %8s %8s %9s %8s\n", "hhc", "pages", "search", "wall_s", "cpu_s",
                "peak_MB", "out/in");
    for (const int pages : sizes) {
        const fs::path folder = EnsureSite(pages);
        const double inBytes = static_cast<double>(FolderBytes(folder / "site"));
        std::printf("# %d pages, %.1f MB of site\n", pages, inBytes / 1e6);
        for (const bool search : {false, true}) {
            const fs::path project = Project(folder, search);
            const fs::path output = folder / (search ? "search.chm" : "plain.chm");
            const int runs = pages >= kSmallFrom ? 1 : repeat;
            for (int run = 0; run < runs; ++run) {
                for (const std::string& hhc : hhcs) {
                    fs::remove(output);
                    const RunCost cost = tbx::bench::Run(hhc, {project.string()});
                    if (!cost.ok) {
                        std::fprintf(stderr, "%s failed on %s\n", hhc.c_str(), project.c_str());
                        return 1;
                    }
                    const double out = static_cast<double>(fs::file_size(output));
                    std::printf("%-28s %7d %6s %8.2f %8.2f %9.1f %8.4f\n",
                                hhc.substr(hhc.size() > 28 ? hhc.size() - 28 : 0).c_str(), pages,
                                search ? "yes" : "no", cost.wallS, cost.cpuS, cost.peakMb,
                                out / inBytes);
                    std::fflush(stdout);
                    Result& result = results[{hhc, pages}][search];
                    result.wallS += cost.wallS;
                    result.cpuS += cost.cpuS;
                    result.peakMb = std::max(result.peakMb, cost.peakMb);
                    ++result.runs;
                }
            }
        }
    }

    // Linear growth: the cost of ten times the pages over ten.
    for (const std::string& hhc : hhcs) {
        const auto small = results.find({hhc, 2000});
        const auto large = results.find({hhc, 20000});
        if (small == results.end() || large == results.end())
            continue;
        for (const bool search : {false, true}) {
            const Result& a = small->second[search];
            const Result& b = large->second[search];
            std::printf("%s, search %s: 20,000 pages over 2,000: wall %.2fx, cpu %.2fx\n",
                        hhc.c_str(), search ? "yes" : "no", (b.wallS / b.runs) / (a.wallS / a.runs),
                        (b.cpuS / b.runs) / (a.cpuS / a.runs));
        }
    }
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
