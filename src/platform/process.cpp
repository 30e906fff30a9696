#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tbx {
namespace {

// Enough of standard error to say what went wrong, not a whole log.
constexpr std::size_t kErrorOutputLimit = 4096;

} // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGTERM);
        Wait();
    }
    if (errPipe_ >= 0)
        ::close(errPipe_);
}

pid_t SpawnHidden(const std::string& program, const std::vector<std::string>& args, int errFd,
                  std::string& error, int outFd) {
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
    const int err =
        searchPath ? ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                   : ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        error = std::strerror(err);
        return -1;
    }
    return pid;
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        outcome_.error = std::strerror(errno);
        return false;
    }
    const pid_t pid = SpawnHidden(program, args, fds[1], outcome_.error);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    std::lock_guard lock(mutex_);
    pid_ = pid;
    errPipe_ = fds[0];
    outcome_.started = true;
    return true;
}

ProcessOutcome ChildProcess::Wait() {
    if (pid_ <= 0 || reaped_)
        return outcome_;
    std::string tail;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(errPipe_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        tail.append(buffer, static_cast<std::size_t>(n));
        if (tail.size() > kErrorOutputLimit)
            tail.erase(0, tail.size() - kErrorOutputLimit);
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    reaped_ = true;
    outcome_.errorOutput = std::move(tail);
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
