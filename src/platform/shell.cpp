#include "platform/shell.h"

#include <cerrno>
#include <chrono>
#include <sys/wait.h>
#include <thread>

#include "platform/process.h"

namespace tbx {
namespace {

// How long xdg-open may take to tell whether it found a handler.
constexpr auto kVerdictWait = std::chrono::seconds(2);

// xdg-open's exit statuses onto launch results.
int LaunchResultOfExit(int status) {
    if (status == 0)
        return kLaunchOk;
    return status == 2 ? kLaunchFileNotFound : kLaunchNoAssociation;
}

} // namespace

int DesktopShell::Open(const std::string& target) {
    std::string error;
    const pid_t pid = SpawnHidden("xdg-open", {target}, -1, error);
    if (pid < 0)
        return kLaunchNoAssociation;
    const auto deadline = std::chrono::steady_clock::now() + kVerdictWait;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? LaunchResultOfExit(WEXITSTATUS(status))
                                     : kLaunchNoAssociation;
        if (done < 0 && errno != EINTR)
            return kLaunchOk;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Still running: some handlers keep xdg-open in the foreground. Reap it later.
    std::thread([pid] {
        int ignored;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return kLaunchOk;
}

} // namespace tbx
