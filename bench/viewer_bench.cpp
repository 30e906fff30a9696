// The viewer: time from the start of a process that opens a help file, as
// `tomebox FILE.chm` does, to its first page shown; and resident memory with
// the file open, the viewer's own and its WebEngine helper processes'. The
// generated 2,000- and 20,000-page sites are compiled by our hhc first.
// Run under a display (xvfb-run works); each start is a fresh process.
//   bench_viewer [PAGES ...]

#include "compiled_site.h"
#include "platform/shell.h"
#include "process_clock.h"
#include "viewer/help_document.h"
#include "viewer/help_scheme.h"
#include "viewer/viewer_window.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 5;

using tbx::bench::SecondsSinceProcessStart;

// Resident kilobytes of a process and, with children, of every process below it.
long Resident(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

long ResidentOfChildren(pid_t parent) {
    long total = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent)
            total += Resident(pid) + ResidentOfChildren(pid);
    }
    if (proc)
        closedir(proc);
    return total;
}

// One start: prints "<seconds to first page> <seconds to the window laid
// out> <own KB> <helpers' KB>".
int MeasureOneStart(int argc, char* argv[], const std::string& file) {
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    tbx::viewer::RegisterHelpSchemes();
    QApplication app(argc, argv);
    tbx::DesktopShell shell;
    tbx::ViewerWindow window(shell);
    double shown = -1, laidOut = -1;
    QObject::connect(&window, &tbx::ViewerWindow::Opened,
                     [&] { laidOut = SecondsSinceProcessStart(); });
    QObject::connect(&window, &tbx::ViewerWindow::TopicShown, [&](bool ok) {
        if (shown >= 0 || !ok)
            return;
        shown = SecondsSinceProcessStart();
        QTimer::singleShot(1000, &app, &QApplication::quit);
    });
    window.OpenHelpFile(QString::fromStdString(file));
    window.show();
    QTimer::singleShot(60000, &app, &QApplication::quit);
    app.exec();
    std::printf("%.3f %.3f %ld %ld\n", shown, laidOut, Resident(getpid()),
                ResidentOfChildren(getpid()));
    return shown < 0 ? 1 : 0;
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 2 && std::string(argv[1]) == "--once")
        return MeasureOneStart(argc, argv, argv[2]);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {2000, 20000};
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    for (const int pages : sizes) {
        const auto compileStart = std::chrono::steady_clock::now();
        tbx::bench::CompiledSite site(pages);
        const double compiled =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - compileStart).count();
        // What the viewer reads before the window can show: the directory,
        // the navigation files and the contents.
        std::string error;
        const auto openStart = std::chrono::steady_clock::now();
        const auto document = tbx::viewer::HelpDocument::Open(site.Chm().string(), error);
        const double read =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - openStart).count();
        std::vector<double> seconds, laidOut;
        std::vector<long> own, helpers;
        for (int run = 0; run < kRuns; ++run) {
            const std::string out = (site.Root() / "viewer.out").string();
            const std::string command =
                std::string("'") + self + "' --once '" + site.Chm().string() + "' > '" + out + "'";
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "a start failed (is there a display?)\n");
                return 1;
            }
            std::ifstream result(out);
            double s = 0, l = 0;
            long mine = 0, theirs = 0;
            result >> s >> l >> mine >> theirs;
            seconds.push_back(s);
            laidOut.push_back(l);
            own.push_back(mine);
            helpers.push_back(theirs);
        }
        std::printf("%d pages: help file %.1f MB (compiled in %.1f s), %zu contents entries; "
                    "reading it %.3f s\n",
                    pages, static_cast<double>(std::filesystem::file_size(site.Chm())) / 1e6,
                    compiled, document ? document->Contents().size() : 0, read);
        std::printf(
            "  start to first page shown: median %.3f s, min %.3f s, max %.3f s (%d starts)\n",
            Median(seconds), *std::min_element(seconds.begin(), seconds.end()),
            *std::max_element(seconds.begin(), seconds.end()), kRuns);
        std::printf("  of which start to the window laid out (file read): median %.3f s\n",
                    Median(laidOut));
        std::printf("  resident with the file open: viewer %.1f MB, WebEngine helpers %.1f MB\n",
                    static_cast<double>(Median(own)) / 1024.0,
                    static_cast<double>(Median(helpers)) / 1024.0);
    }
    return 0;
}
