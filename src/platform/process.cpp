#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tbx {
namespace {

// Enough of standard error to say what went wrong, not a whole log.
constexpr std::size_t kErrorOutputLimit = 4096;
// No line the tools print for us is longer; a longer one is not for us.
constexpr std::size_t kOutputLineLimit = 4096;

// Cuts standard output into lines and hands each whole line on.
class LineSplitter {
public:
    explicit LineSplitter(const OutputLineSink& sink) : sink_(sink) {}

    void Add(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t newline = bytes.find('\n');
            const std::string_view part = bytes.substr(0, newline);
            if (!overlong_) {
                line_.append(part);
                if (line_.size() > kOutputLineLimit) {
                    overlong_ = true;
                    line_.clear();
                }
            }
            if (newline == std::string_view::npos)
                return;
            EndLine();
            bytes.remove_prefix(newline + 1);
        }
    }

    // A last line without its line break still counts.
    void Finish() {
        if (!line_.empty())
            EndLine();
    }

private:
    void EndLine() {
        if (!overlong_ && sink_)
            sink_(line_);
        line_.clear();
        overlong_ = false;
    }

    const OutputLineSink& sink_;
    std::string line_;
    bool overlong_ = false;
};

// Reads what is there on fd into text; false at the end or on an error.
bool ReadSome(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.assign(buffer, static_cast<std::size_t>(n));
        return true;
    }
}

// This process's environment with changes, as the child's.
std::vector<char*> ChildEnvironment(const EnvironmentChanges& changes) {
    std::vector<char*> env;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view entry = *variable;
        const std::string_view name = entry.substr(0, entry.find('='));
        const bool changed = std::any_of(changes.begin(), changes.end(), [&](auto& change) {
            return change.size() > name.size() && change.starts_with(name) &&
                   change[name.size()] == '=';
        });
        if (!changed)
            env.push_back(*variable);
    }
    for (const std::string& change : changes)
        env.push_back(const_cast<char*>(change.c_str()));
    env.push_back(nullptr);
    return env;
}

} // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGTERM);
        Wait();
    }
    for (int fd : {outPipe_, errPipe_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

pid_t SpawnHidden(const std::string& program, const std::vector<std::string>& args, int errFd,
                  std::string& error, int outFd, const EnvironmentChanges& changes) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The child gets default signal handling, whatever this process has set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const bool searchPath = program.find('/') == std::string::npos;
    std::vector<char*> env = ChildEnvironment(changes);
    const int err =
        searchPath ? ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), env.data())
                   : ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        error = std::strerror(err);
        return -1;
    }
    return pid;
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const EnvironmentChanges& changes) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        outcome_.error = std::strerror(errno);
        return false;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        outcome_.error = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    const pid_t pid = SpawnHidden(program, args, err[1], outcome_.error, out[1], changes);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    std::lock_guard lock(mutex_);
    pid_ = pid;
    outPipe_ = out[0];
    errPipe_ = err[0];
    outcome_.started = true;
    return true;
}

ProcessOutcome ChildProcess::Wait(const OutputLineSink& onOutputLine,
                                  const OutputLineSink& onErrorLine) {
    if (pid_ <= 0 || reaped_)
        return outcome_;
    // Both pipes are read as data comes, so a child that fills one of them
    // never blocks, and its progress is seen while it runs.
    LineSplitter lines(onOutputLine);
    std::vector<std::string> firstErrorLines;
    std::size_t errorLineCount = 0;
    const OutputLineSink countErrorLine = [&](std::string_view line) {
        if (line.find_first_not_of(" \t\r") != std::string_view::npos &&
            errorLineCount++ < kFirstErrorLines)
            firstErrorLines.emplace_back(line.substr(0, line.find_last_not_of('\r') + 1));
        if (onErrorLine)
            onErrorLine(line);
    };
    LineSplitter errorLines(countErrorLine);
    std::string tail;
    std::string chunk;
    pollfd fds[2] = {{outPipe_, POLLIN, 0}, {errPipe_, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (pollfd& p : fds) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            if (!ReadSome(p.fd, chunk)) {
                p.fd = -1; // poll skips negative descriptors
                continue;
            }
            if (&p == &fds[0]) {
                lines.Add(chunk);
            } else {
                errorLines.Add(chunk);
                tail += chunk;
                if (tail.size() > kErrorOutputLimit)
                    tail.erase(0, tail.size() - kErrorOutputLimit);
            }
        }
    }
    lines.Finish();
    errorLines.Finish();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    reaped_ = true;
    outcome_.errorOutput = std::move(tail);
    outcome_.firstErrorLines = std::move(firstErrorLines);
    outcome_.errorLines = errorLineCount;
    if (WIFEXITED(status)) {
        outcome_.exited = true;
        outcome_.exitCode = WEXITSTATUS(status);
    } else {
        outcome_.exitCode = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }
    return outcome_;
}

void ChildProcess::Terminate() {
    // Under the lock the pid cannot have been reaped and reused meanwhile.
    std::lock_guard lock(mutex_);
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, SIGTERM);
}

std::string RunForOutput(const std::string& program, const std::vector<std::string>& args,
                         std::size_t maxBytes) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    std::string error;
    const pid_t pid = SpawnHidden(program, args, -1, error, fds[1]);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return {};
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (output.size() < maxBytes)
            output.append(buffer, std::min(static_cast<std::size_t>(n), maxBytes - output.size()));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? output : std::string();
}

ProcessOutcome RunProcess(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child;
    child.Start(program, args);
    return child.Wait();
}

} // namespace tbx
