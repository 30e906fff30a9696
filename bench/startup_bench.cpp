// Start-up: time from the process's start to the build window shown on
// screen, and resident memory once the window sits idle. Runs itself as a
// fresh process several times, since a start is only cold once per process.
// Run it under the display to measure (xvfb-run works).

#include "app/build_dlg.h"
#include "controls/dialogs.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/shell.h"
#include "process_clock.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 7;

using tbx::bench::SecondsSinceProcessStart;

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// One start: prints "<seconds to shown> <resident KB after 1 s idle>".
int MeasureOneStart(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const std::string store =
        std::filesystem::temp_directory_path() / ("tomebox-startup-" + std::to_string(getpid()));
    tbx::InstanceLock lock(std::filesystem::temp_directory_path());
    lock.Acquire();
    tbx::QtDialogs dialogs;
    tbx::DesktopShell shell;
    tbx::CBuildDlg dialog(tbx::RegHive(store), dialogs, shell, tbx::ProgramFolder());
    dialog.show();
    double shown = -1;
    // The window counts as shown once the display has exposed it.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (shown < 0 && dialog.windowHandle() && dialog.windowHandle()->isExposed()) {
            shown = SecondsSinceProcessStart();
            QTimer::singleShot(1000, &app, &QApplication::quit);
        }
    });
    poll.start(1);
    app.exec();
    std::printf("%.3f %ld\n", shown, ResidentKilobytes());
    std::filesystem::remove_all(store);
    return shown < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::string(argv[1]) == "--once")
        return MeasureOneStart(argc, argv);

    std::vector<double> seconds;
    std::vector<long> kilobytes;
    for (int i = 0; i < kRuns; ++i) {
        char path[4096];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
        const std::string out = std::filesystem::temp_directory_path() / "tomebox-startup.out";
        const std::string command = std::string("'") + path + "' --once > '" + out + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "a start failed (is there a display?)\n");
            return 1;
        }
        std::ifstream result(out);
        double s;
        long kb;
        result >> s >> kb;
        seconds.push_back(s);
        kilobytes.push_back(kb);
        std::filesystem::remove(out);
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(kilobytes.begin(), kilobytes.end());
    std::printf("starts: %d\n", kRuns);
    std::printf("start to window shown: median %.3f s, min %.3f s, max %.3f s\n",
                seconds[kRuns / 2], seconds.front(), seconds.back());
    std::printf("resident memory idle: median %.1f MB, max %.1f MB\n",
                kilobytes[kRuns / 2] / 1024.0, kilobytes.back() / 1024.0);
    return 0;
}
