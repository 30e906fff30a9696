// The compressor's two levels against the size references, on one site:
// the generated 2,000-page Russian site, or a folder given on the command
// line (the Python docs, a Doxygen tree), copied first without the
// symbolic links in it.
//   - hhc at its default level and with --best, and chmcmd, on a project
//     that lists every file: wall time, CPU time, help-file bytes per site
//     byte;
//   - wimlib-imagex capture at LZX:50 and LZX:100 in 64 KiB chunks on a
//     tar of the site, and our encoder at both levels on the same tar
//     bytes, one stream of 64 KiB reset intervals on two threads: the
//     sizes to compare, since both code the same bytes in the same
//     independent 64 KiB pieces.
// Build in Release and run by hand: bin/bench_compressor_levels [FOLDER]

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
#include <vector>

namespace {

namespace fs = std::filesystem;
using tbx::bench::Run;
using tbx::bench::RunCost;

const std::string kHhc = TOMEBOX_TOOLS_DIR "/hhc";

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

} // namespace

int main(int argc, char** argv) {
    const fs::path root = tbx::bench::MakeTempRoot();
    const fs::path site = root / "site";
    const bool generated = argc < 2;
    if (generated)
        tbx::bench::MakeSite(site, 2000);
    else
        fs::copy(fs::canonical(argv[1]), site,
                 fs::copy_options::recursive | fs::copy_options::skip_symlinks);

    std::vector<std::string> names;
    std::uint64_t siteBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(site))
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), site).string());
            siteBytes += entry.file_size();
        }
    std::sort(names.begin(), names.end());
    std::printf("site: %s, %zu files, %llu bytes\n", generated ? "generated, 2000 pages" : argv[1],
                names.size(), static_cast<unsigned long long>(siteBytes));

    // The tar first, before the projects go into the site.
    fs::create_directories(root / "tar");
    const fs::path tar = root / "tar" / "site.tar";
    if (!Run("tar", {"cf", tar.string(), "-C", site.string(), "."}).ok) {
        std::fprintf(stderr, "tar failed\n");
        return 1;
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
                           (generated ? "0x419 Russian" : "0x409 English") + "\r\n\r\n[FILES]\r\n";
        for (const std::string& file : names)
            text += file + "\r\n";
        tbx::bench::WriteText(path, text);
        return path.string();
    };
    const auto compile = [&](const char* label, const std::string& program,
                             std::vector<std::string> args, const std::string& name) {
        args.push_back(project(name));
        const RunCost cost = Run(program, args);
        PrintRow(label, cost, FileBytes(root / (name + ".chm")), siteBytes);
    };
    compile("hhc", kHhc, {}, "hhc");
    compile("hhc --best", kHhc, {"--best"}, "best");
    compile("chmcmd", "chmcmd", {}, "chmcmd");

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
    // TOMEBOX_BENCH_KEEP=1 leaves the site and the help files for a look at them.
    if (std::getenv("TOMEBOX_BENCH_KEEP"))
        std::printf("kept in %s\n", root.c_str());
    else
        fs::remove_all(root);
    return 0;
}
