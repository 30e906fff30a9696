#pragma once
// Starting a program hidden and waiting for it: an argument vector, no shell.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tbx {

struct ProcessOutcome {
    bool started = false;    // false: error says why it could not start
    bool exited = false;     // ended by itself (else killed by a signal)
    int exitCode = -1;       // exit status, or the signal number when !exited
    std::string error;       // why it could not start
    std::string errorOutput; // the tail of what it wrote to standard error
    // The first kFirstErrorLines non-blank lines of standard error, and how
    // many non-blank lines it had in all: a long run of errors is told by
    // its start, its end (the tail) and its length.
    std::vector<std::string> firstErrorLines;
    std::size_t errorLines = 0;
};

inline constexpr std::size_t kFirstErrorLines = 3;

// Changes to the environment a child gets: "NAME=value" sets NAME, and an
// empty value counts as unset for the locale variables.
using EnvironmentChanges = std::vector<std::string>;

// Receives each line a child writes to standard output, without its line break.
using OutputLineSink = std::function<void(std::string_view line)>;

// One child process. Terminate may be called from another thread while Wait runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts program with args (the program name is added as argv[0]) in
    // this process's environment with changes. Standard input comes from
    // /dev/null; standard output and error are read by Wait.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const EnvironmentChanges& changes = {});
    // Waits for the end while reading the child's output: each line of
    // standard output goes to onOutputLine as it arrives (a line longer than
    // 4 KiB is dropped), and each line of standard error to onErrorLine; the
    // tail of standard error is also kept for the outcome. Returns at once
    // when Start failed.
    ProcessOutcome Wait(const OutputLineSink& onOutputLine = {},
                        const OutputLineSink& onErrorLine = {});
    // Asks the process to end (SIGTERM); nothing when it has already ended.
    void Terminate();

private:
    std::mutex mutex_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int outPipe_ = -1;
    int errPipe_ = -1;
    ProcessOutcome outcome_;
};

// Starts program (searched on PATH when the name has no "/") with standard
// input on /dev/null, standard output on outFd and standard error on errFd
// (-1: /dev/null). Returns the pid, or -1 with error set.
pid_t SpawnHidden(const std::string& program, const std::vector<std::string>& args, int errFd,
                  std::string& error, int outFd = -1, const EnvironmentChanges& changes = {});

// Runs program and returns what it wrote to standard output (at most
// maxBytes); empty when it could not start or failed.
std::string RunForOutput(const std::string& program, const std::vector<std::string>& args,
                         std::size_t maxBytes = 65536);

// Convenience: Start and Wait.
ProcessOutcome RunProcess(const std::string& program, const std::vector<std::string>& args);

} // namespace tbx
