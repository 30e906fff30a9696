// The compressor's two levels against the size references, on each data
// set in turn:
//   - the generated 2,000-page Russian site;
//   - a folder given on the command line (the Python docs), copied first
//     without the symbolic links in it;
//   - "doxygen:DIR": the HTML and HTML Help output Doxygen writes for the
//     sources in DIR, made at bench time.
// Without arguments: the generated site, the Python 3 docs of Debian's
// python3-doc when installed, and Doxygen over this program's src/.
// For each:
//   - hhc at its default level (best of TOMEBOX_BENCH_REPEAT runs, 3
//     unless set) and with --best, and chmcmd, on a project that lists
//     every file and names a contents and an index file: wall time, CPU
//     time, help-file bytes per site byte, and how many times hhc's wall
//     and CPU time chmcmd takes. The contents and index are Doxygen's own,
//     else the ones hhc makes for a project without them (taken out of a
//     first build with hh), so that every compiler stores the same files:
//     chmcmd makes none of its own;
//   - wimlib-imagex capture at LZX:50 and LZX:100 in 64 KiB chunks on a
//     tar of the site, and our encoder at both levels on the same tar
//     bytes, one stream of 64 KiB reset intervals on two threads: the
//     sizes to compare, since both code the same bytes in the same
//     independent 64 KiB pieces.
// The load average is printed first: on a busy machine the ratios, not the
// times, are what carry over. TOMEBOX_BENCH_KEEP=1 leaves the files.
// Build in Release and run by hand: bin/bench_compressor_levels [SET...]

#include "chm/lzx_encoder.h"
#include "run_cost.h"
#include "support/generated_site.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tbx::bench::Run;
using tbx::bench::RunCost;

const std::string kHhc = TOMEBOX_TOOLS_DIR "/hhc";
const std::string kHh = TOMEBOX_TOOLS_DIR "/hh";

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::uint64_t FileBytes(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void PrintRow(const char* name, const RunCost& cost, std::uint64_t out, std::uint64_t in) {
    if (!cost.ok) {
        std::printf("%-34s failed or not installed\n", name);
        return;
    }
    std::printf("%-34s wall %7.2f s  CPU %7.2f s  %11llu bytes  %.4f per byte\n", name, cost.wallS,
                cost.cpuS, static_cast<unsigned long long>(out),
                static_cast<double>(out) / static_cast<double>(in));
}

double LoadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void RunSet(const fs::path& root, const std::string& set) {
    const fs::path site = root / "site";
    const bool generated = set == "generated";
    std::vector<std::string> sitemaps; // contents, index
    const std::string doxygenPrefix = "doxygen:";
    if (generated) {
        tbx::bench::MakeSite(site, 2000);
    } else if (set.rfind(doxygenPrefix, 0) == 0) {
        // Doxygen's own help project is left out of the site: every
        // compiler gets the same project that lists every file (its
        // contents and index files among them).
        const fs::path out = root / "doxygen";
        fs::create_directories(out);
        tbx::bench::WriteText(out / "Doxyfile",
                              "PROJECT_NAME=Sources\nINPUT=" + set.substr(doxygenPrefix.size()) +
                                  "\nRECURSIVE=YES\nOUTPUT_DIRECTORY=" + out.string() +
                                  "\nGENERATE_HTML=YES\nGENERATE_HTMLHELP=YES\n"
                                  "GENERATE_LATEX=NO\nHAVE_DOT=NO\nEXTRACT_ALL=YES\n"
                                  "SOURCE_BROWSER=YES\nQUIET=YES\nWARNINGS=NO\n");
        if (!Run("doxygen", {(out / "Doxyfile").string()}).ok) {
            std::printf("%s: doxygen failed or not installed\n", set.c_str());
            return;
        }
        fs::rename(out / "html", site);
        fs::remove(site / "index.hhp");
        sitemaps = {"index.hhc", "index.hhk"};
    } else {
        fs::copy(fs::canonical(set), site,
                 fs::copy_options::recursive | fs::copy_options::skip_symlinks);
    }

    std::vector<std::string> names;
    std::uint64_t siteBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(site))
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), site).string());
            siteBytes += entry.file_size();
        }
    std::sort(names.begin(), names.end());
    std::printf("\nsite: %s, %zu files, %llu bytes (load average %.2f)\n",
                generated ? "generated, 2000 pages" : set.c_str(), names.size(),
                static_cast<unsigned long long>(siteBytes), LoadAverage());

    // The tar first, before the projects go into the site.
    fs::create_directories(root / "tar");
    const fs::path tar = root / "tar" / "site.tar";
    if (!Run("tar", {"cf", tar.string(), "-C", site.string(), "."}).ok) {
        std::fprintf(stderr, "tar failed\n");
        return;
    }
    const std::uint64_t tarBytes = FileBytes(tar);

    const auto project = [&](const std::string& name) {
        const fs::path path = site / (name + ".hhp");
        const auto index = std::find_if(names.begin(), names.end(), [](const std::string& n) {
            return n == "index.htm" || n == "index.html";
        });
        std::string text = "[OPTIONS]\r\nCompatibility=1.1 or later\r\nCompiled file=" +
                           (root / (name + ".chm")).string() +
                           "\r\nDefault topic=" + (index != names.end() ? *index : names.front()) +
                           "\r\nFull-text search=No\r\nLanguage=" +
                           (generated ? "0x419 Russian" : "0x409 English") + "\r\n";
        if (!sitemaps.empty())
            text += "Contents file=" + sitemaps[0] + "\r\nIndex file=" + sitemaps[1] + "\r\n";
        text += "\r\n[FILES]\r\n";
        for (const std::string& file : names)
            text += file + "\r\n";
        tbx::bench::WriteText(path, text);
        return path.string();
    };
    const auto compile = [&](const char* label, const std::string& program,
                             std::vector<std::string> args, const std::string& name, int runs) {
        args.push_back(project(name));
        RunCost best;
        for (int i = 0; i < runs; ++i) {
            const RunCost cost = Run(program, args);
            if (!cost.ok)
                return cost;
            best.ok = true;
            best.wallS = i == 0 ? cost.wallS : std::min(best.wallS, cost.wallS);
            best.cpuS = i == 0 ? cost.cpuS : std::min(best.cpuS, cost.cpuS);
        }
        PrintRow(label, best, FileBytes(root / (name + ".chm")), siteBytes);
        return best;
    };
    if (sitemaps.empty()) {
        const fs::path made = root / "made";
        fs::create_directories(made);
        if (!Run(kHhc, {project("made")}).ok ||
            !Run(kHh, {"-decompile", made.string() + "/", (root / "made.chm").string()}).ok) {
            std::fprintf(stderr, "the first hhc build or its extraction failed\n");
            return;
        }
        fs::remove(site / "made.hhp");
        for (const auto& [from, to] :
             {std::pair{"Tomebox.hhc", "contents.hhc"}, std::pair{"Tomebox.hhk", "keywords.hhk"}}) {
            fs::copy_file(made / from, site / to);
            siteBytes += FileBytes(site / to);
            names.push_back(to);
            sitemaps.push_back(to);
        }
        std::printf("with the contents and index hhc makes, %llu bytes of site in all\n",
                    static_cast<unsigned long long>(siteBytes));
    }
    const char* repeat = std::getenv("TOMEBOX_BENCH_REPEAT");
    const int runs = std::max(1, repeat ? std::atoi(repeat) : 3);
    const RunCost hhc = compile("hhc", kHhc, {}, "hhc", runs);
    compile("hhc --best", kHhc, {"--best"}, "best", 1);
    const RunCost chmcmd = compile("chmcmd", "chmcmd", {}, "chmcmd", 1);
    if (hhc.ok && chmcmd.ok)
        std::printf("chmcmd takes %.1f times hhc's wall time, %.1f times its CPU time\n",
                    chmcmd.wallS / hhc.wallS, chmcmd.cpuS / hhc.cpuS);

    std::printf("on the tar, %llu bytes:\n", static_cast<unsigned long long>(tarBytes));
    for (const char* level : {"LZX:50", "LZX:100"}) {
        const fs::path wim = root / "site.wim";
        fs::remove(wim);
        const RunCost cost =
            Run("wimlib-imagex", {"capture", (root / "tar").string(), wim.string(),
                                  std::string("--compress=") + level, "--chunk-size=65536"});
        PrintRow((std::string("wimlib-imagex ") + level).c_str(), cost, FileBytes(wim), tarBytes);
    }
    const std::vector<std::uint8_t> bytes = ReadAll(tar);
    for (const auto level : {tbx::chm::LzxLevel::Default, tbx::chm::LzxLevel::Best}) {
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const tbx::chm::LzxStream stream =
            tbx::chm::LzxCompress(bytes, tbx::chm::kDefaultWindowBits, 2, {}, nullptr, level);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        PrintRow(level == tbx::chm::LzxLevel::Best ? "our LZX, best" : "our LZX, default",
                 {true, wall.count(), CpuSeconds() - cpu, 0}, stream.bytes.size(), tarBytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rows as they come, into a file too
    std::vector<std::string> sets(argv + 1, argv + argc);
    if (sets.empty()) {
        sets.push_back("generated");
        for (const char* docs : {"/usr/share/doc/python3.11/html", "/usr/share/doc/python3/html"})
            if (fs::is_directory(docs)) {
                sets.push_back(docs);
                break;
            }
        sets.push_back("doxygen:" TOMEBOX_SOURCE_DIR "/src");
    }
    for (const std::string& set : sets) {
        const fs::path root = tbx::bench::MakeTempRoot();
        RunSet(root, set);
        if (std::getenv("TOMEBOX_BENCH_KEEP"))
            std::printf("kept in %s\n", root.c_str());
        else
            fs::remove_all(root);
    }
    return 0;
}
