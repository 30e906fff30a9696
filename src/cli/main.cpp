// tomebox-cli: builds, extracts and indexes from the command line; see
// RunCli and "tomebox-cli --help".

#include "cli/cli.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/registry.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// The stop signals are taken by one thread of their own, which ends the
// running tool (it removes its unfinished files) so that the run can clean
// up and end with the signal's status. They are blocked before any other
// thread starts, so every thread inherits the block.
void WatchStopSignals(tbx::cli::StopSwitch& stop) {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, &stop] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0)
                stop.Stop(signal);
        }
    }).detach();
}

std::string CurrentFolder() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

} // namespace

int main(int argc, char* argv[]) {
    tbx::UseMessageCatalogue(tbx::ProgramFolder());
    // Lives as long as the process: the watching thread is never joined.
    static tbx::cli::StopSwitch stop;
    WatchStopSignals(stop);
    tbx::cli::Environment env{CurrentFolder(),
                              tbx::ProgramFolder(),
                              tbx::RegHive::DefaultRoot(),
                              std::cout,
                              std::cerr,
                              ::isatty(STDERR_FILENO) == 1,
                              stop};
    const int status = tbx::cli::RunCli({argv + 1, argv + argc}, env);
    std::cout.flush();
    return std::cout ? status : tbx::cli::kExitFailed;
}
