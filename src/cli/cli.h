#pragma once
// tomebox-cli: the program's three jobs from the command line, for scripts
// and pipelines with no display. Each command uses the same code as its
// window: the help project writer and hhc, the extraction check and hh, the
// page list and the index page writer.

#include "platform/process.h"

#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tbx::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Ends the tool that is running when the run is to stop (a signal came),
// and keeps any further tool from starting. Stop may be called from another
// thread.
class StopSwitch {
public:
    void Stop(int signal);
    // The signal that stopped the run, or 0.
    int Signal() const;
    // Runs program like ChildProcess, unless the run has been stopped.
    ProcessOutcome Run(const std::string& program, const std::vector<std::string>& args,
                       const OutputLineSink& onOutputLine, const OutputLineSink& onErrorLine);

private:
    mutable std::mutex mutex_;
    ChildProcess* child_ = nullptr;
    int signal_ = 0;
};

// What a run takes from its surroundings, so tests can run it in process.
struct Environment {
    std::string cwd;                    // relative paths start here
    std::string programFolder;          // holds hhc, hh and css_dir/; ends with "/"
    std::filesystem::path settingsRoot; // the user's saved options
    std::ostream& out;                  // what a command made: one path a line
    std::ostream& err;                  // messages, progress, links not followed
    bool errIsTerminal = false;         // progress is shown only on a terminal
    StopSwitch& stop;
};

// Runs the command line args (without the program name) and returns the
// exit status: kExitDone, kExitFailed, kExitUsage, or 128 + the signal that
// stopped it.
int RunCli(const std::vector<std::string>& args, Environment& env);

} // namespace tbx::cli
