// hhc: compiles a help project as the compile job writes it into the
// compiled help file it names, by handing the work to chmcmd.
//
// chmcmd wants paths relative to the project and UTF-8 file names, reports
// some failures with exit status 0 and leaves an empty or partial file behind
// when it fails; so hhc gives it a converted copy of the project, lets it
// write to a temporary file and only then puts the result in place.

#include "hhc/hhc_project.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace hhc = tbx::hhc;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Set by the termination handler; the main line cleans up when it sees it.
volatile sig_atomic_t g_signal = 0;
// The running chmcmd, so the handler can pass the termination on.
volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_forwarded = 0;

const int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnTerminationSignal(int signal) {
    const int savedErrno = errno;
    if (g_signal == 0)
        g_signal = signal;
    if (const pid_t child = g_child; child > 0) {
        // A second request means the first one was not enough.
        const bool first = g_forwarded == 0;
        g_forwarded = 1;
        kill(child, first ? SIGTERM : SIGKILL);
    }
    errno = savedErrno;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    // One handler at a time, so a second signal sees the first one's marks.
    sigemptyset(&action.sa_mask);
    for (int signal : kTerminationSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : kTerminationSignals) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        // Whoever started us with a hang-up or interrupt ignored (nohup, a
        // background job) meant it; termination is always ours to handle.
        if (signal != SIGTERM && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
        sigaddset(&handled, signal);
    }
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    // The caller may stop reading our standard error before we are done;
    // a write there must fail, not kill us before the clean-up.
    std::signal(SIGPIPE, SIG_IGN);
}

int Fail(const std::string& message) {
    std::cerr << "hhc: " << message << std::endl;
    return kExitFailure;
}

std::string SystemError(int error) {
    return std::strerror(error);
}

// A file of ours, created under a fresh hidden name, removed unless kept.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0)
            close(fd_);
        if (!path_.empty())
            unlink(path_.c_str());
    }

    // Creates folder/.hhc-XXXXXX<suffix> exclusively; empty text on success.
    std::string Create(const fs::path& folder, const std::string& suffix) {
        std::string name = (folder / (".hhc-XXXXXX" + suffix)).string();
        fd_ = mkstemps(name.data(), static_cast<int>(suffix.size()));
        if (fd_ < 0)
            return "cannot create a temporary file in " + folder.string() + ": " +
                   SystemError(errno);
        path_ = name;
        return {};
    }

    // Writes the whole text and closes the file; empty text on success.
    std::string WriteAndClose(std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = write(fd_, text.data(), text.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return "cannot write " + path_ + ": " + SystemError(errno);
            text.remove_prefix(static_cast<std::size_t>(written));
        }
        return Close();
    }

    std::string Close() {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0)
            return "cannot write " + path_ + ": " + SystemError(errno);
        return {};
    }

    // The file stays: it has been renamed to its final name.
    void Keep() { path_.clear(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = SystemError(errno);
            close(fd);
            return false;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return true;
}

// The executable name in the folders of PATH, as a shell would find it
// (empty entries, which would mean the current folder, are skipped).
std::string FindOnPath(const std::string& name) {
    const char* value = std::getenv("PATH");
    const std::string folders = value ? value : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        if (end > start) {
            const std::string candidate = folders.substr(start, end - start) + "/" + name;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

struct CompilerRun {
    std::string error; // could not be started or waited for
    int status = 0;    // wait status when it ran
};

// Runs chmcmd on the project with its output on our standard error (our
// caller discards standard output) and waits for it.
CompilerRun RunCompiler(const std::string& program, const std::string& project) {
    CompilerRun run;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, STDERR_FILENO, STDOUT_FILENO);

    // The child starts with nothing blocked, so that a forwarded SIGTERM
    // ends it. Our handlers do not survive the exec; the SIGPIPE we ignore
    // for our own sake would, so it gets its default back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = {program, "--html-scan", project};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawnError =
        posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0) {
        run.error = "cannot start " + program + ": " + SystemError(spawnError);
        return run;
    }

    g_child = pid;
    // A termination that came before the handler could see the child.
    if (g_signal != 0 && g_forwarded == 0) {
        g_forwarded = 1;
        kill(pid, SIGTERM);
    }

    // Wait without reaping first, so the handler never signals a process id
    // that has been freed and perhaps reused.
    siginfo_t info{};
    while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    g_child = 0;
    while (waitpid(pid, &run.status, 0) < 0) {
        if (errno != EINTR) {
            run.error = "cannot wait for " + program + ": " + SystemError(errno);
            break;
        }
    }
    return run;
}

int Stopped() {
    std::cerr << "hhc: stopped by signal " << g_signal << "; nothing was written" << std::endl;
    return 128 + g_signal;
}

int Compile(const std::string& argument) {
    std::error_code ec;
    const fs::path projectPath = fs::absolute(fs::path(argument), ec).lexically_normal();
    std::string project, readError;
    if (argument.empty() || ec || !ReadWholeFile(projectPath.string(), project, readError))
        return Fail("cannot read the project " + argument + ": " +
                    (readError.empty() ? SystemError(ENOENT) : readError));
    const std::string projectFolder = projectPath.parent_path().string();

    const std::string output = hhc::CompiledFileOf(project, projectFolder);
    if (output.empty())
        return Fail("the project " + projectPath.string() +
                    " names no compiled file (\"Compiled file\" in [OPTIONS])");

    const std::string compiler = FindOnPath("chmcmd");
    if (compiler.empty())
        return Fail("chmcmd was not found on PATH; install the package fp-utils");

    // Both temporary files are made before chmcmd starts, under names no one
    // else holds; their destructors remove them on every way out.
    TempFile compiled;
    if (std::string error = compiled.Create(fs::path(output).parent_path(), ".chm"); !error.empty())
        return Fail(error);
    if (std::string error = compiled.Close(); !error.empty())
        return Fail(error);

    const hhc::ProjectConversion converted =
        hhc::ConvertProject(project, projectFolder, compiled.Path());
    if (!converted.Ok())
        return Fail(converted.error);
    TempFile workProject;
    if (std::string error = workProject.Create(projectFolder, ".hhp"); !error.empty())
        return Fail(error);
    if (std::string error = workProject.WriteAndClose(converted.text); !error.empty())
        return Fail(error);

    if (g_signal != 0)
        return Stopped();
    const CompilerRun run = RunCompiler(compiler, workProject.Path());
    if (g_signal != 0)
        return Stopped();
    if (!run.error.empty())
        return Fail(run.error);
    if (WIFSIGNALED(run.status))
        return Fail("chmcmd was killed by signal " + std::to_string(WTERMSIG(run.status)));
    if (WEXITSTATUS(run.status) != 0)
        return Fail("chmcmd failed with exit status " + std::to_string(WEXITSTATUS(run.status)));

    // chmcmd says nothing through its status when it cannot read the
    // project: only a file it actually wrote counts.
    struct stat info {};
    if (stat(compiled.Path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0)
        return Fail("chmcmd did not produce the compiled file " + output);

    // The temporary file was created for our eyes only; the help file gets
    // the permissions any new file of the user would get.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(compiled.Path().c_str(), 0666 & ~mask);
    if (rename(compiled.Path().c_str(), output.c_str()) != 0)
        return Fail("cannot put the compiled file in place at " + output + ": " +
                    SystemError(errno));
    compiled.Keep();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: hhc PROJECT.hhp\n"
                     "Compiles the help project into the compiled help file it names.\n";
        return kExitUsage;
    }
    InstallSignalHandlers();
    return Compile(argv[1]);
}
