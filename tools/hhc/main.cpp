// hhc: compiles a help project into the compiled help file it names, with
// our own site walk and help-file writer. See Usage for the command line,
// the output and the exit status. Started as hhc.exe (a second name of the
// same program) it answers with the exit statuses of Microsoft's compiler,
// which Doxygen and many build scripts take for success and failure.

#include "hhc/hhc_compile.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "protocol/tool_output.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Microsoft's compiler: 1 when the help file was written, 0 otherwise.
constexpr int kMicrosoftSuccess = 1;
constexpr int kMicrosoftFailure = 0;

const int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

void PrintUsage(std::FILE* to) {
    // The line forms are the same in every language: programs read them.
    std::fprintf(
        to,
        tbx::Tr("Usage: hhc [--strict] [--best] PROJECT.hhp\n"
                "  or:  hhc --help | --version\n"
                "\n"
                "Compiles the help project into the compiled help file (.chm) it names\n"
                "with \"Compiled file\" (else the project's name with .chm): the start\n"
                "page (\"Default topic\", else the first of [FILES]), the files of [FILES]\n"
                "and every file their links reach inside the site folder.\n"
                "\n"
                "  --strict   fail, writing nothing, when any link is not followed\n"
                "  --best     compress harder: a smaller file, several times slower\n"
                "             (the project's \"Compression=best\" does the same)\n"
                "  --help     show this text\n"
                "  --version  show the version\n"
                "\n"
                "Standard output, one line each:\n"
                "%.*s"
                "\n"
                "Errors and warnings go to standard error. Exit status: 0 when the help\n"
                "file was written, 1 on any failure, 2 for a wrong command line, 128 +\n"
                "the signal when stopped by SIGTERM, SIGINT or SIGHUP. On failure or stop\n"
                "an earlier help file of that name stays as it was and nothing else is\n"
                "left behind. A symbolic link there stays: the file it names is replaced.\n"
                "A help file that would replace a file the build reads, or anything but\n"
                "a regular file, is refused. Started as hhc.exe, it answers as\n"
                "Microsoft's compiler does: 1 when the help file was written, else 0.\n"),
        static_cast<int>(tbx::kCompilerLineForms.size()), tbx::kCompilerLineForms.data());
}

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "hhc: %s\n", problem.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

// Termination signals are taken by one thread of ours, never delivered
// asynchronously: the first asks the compiler to stop (it then writes
// nothing, or finishes the file it is already writing), a second ends the
// process at once. Whatever a killed write leaves is removed by the next
// write into that folder.
class StopOnSignal {
public:
    StopOnSignal() {
        sigemptyset(&signals_);
        for (int signal : kTerminationSignals) {
            struct sigaction previous {};
            sigaction(signal, nullptr, &previous);
            // Whoever started us with a hang-up or interrupt ignored (nohup,
            // a background job) meant it; termination is always ours.
            if (signal != SIGTERM && previous.sa_handler == SIG_IGN)
                continue;
            sigaddset(&signals_, signal);
        }
        // Blocked before any other thread starts, so that every thread
        // inherits the mask and only the waiting one takes the signals.
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        thread_ = std::thread([this] { Wait(); });
    }
    // The waiting thread is woken by a signal of its own, which it then
    // knows from done_: a timed wait kept every run up to its tick longer.
    ~StopOnSignal() {
        done_ = true;
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

    const std::atomic<bool>* Flag() const { return &stop_; }
    int Signal() const { return signal_; }

private:
    void Wait() {
        for (;;) {
            const int signal = sigwaitinfo(&signals_, nullptr);
            if (done_)
                return;
            if (signal <= 0)
                continue;
            if (stop_)
                _exit(128 + signal);
            signal_ = signal;
            stop_ = true;
        }
    }

    sigset_t signals_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> signal_{0};
    std::thread thread_;
};

// malloc's memory in transparent huge pages, where the system leaves them
// to the program (the common "madvise" setting): a compile touches over a
// hundred MB once, and with 4 KiB pages page faults and TLB misses cost it
// about a fifth of its time. glibc reads this only at start-up, so hhc
// starts itself once more with it; a setting the user made stays, and when
// the restart cannot be done hhc goes on as it is.
void RestartWithHugePages(char** argv) {
    const char* given = std::getenv("GLIBC_TUNABLES");
    std::string tunables = given ? given : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos)
        return;
    tunables += (tunables.empty() ? "" : ":") + std::string("glibc.malloc.hugetlb=1");
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) == 0)
        ::execv("/proc/self/exe", argv);
}

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // Read line by line by a job while we run.
    std::fflush(stdout);
}

// The exit status of hhc, in the sense of the name it was started by.
int AnswerAs(bool microsoft, int status) {
    if (!microsoft)
        return status;
    return status == 0 ? kMicrosoftSuccess : kMicrosoftFailure;
}

int Main(int argc, char** argv) {
    tbx::hhc::CompileOptions options;
    std::string project;
    bool haveProject = false;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnd && (arg == "--help" || arg == "-h")) {
            PrintUsage(stdout);
            return 0;
        }
        if (!optionsEnd && arg == "--version") {
            std::printf("hhc (Tomebox) %s\n", TOMEBOX_VERSION);
            return 0;
        }
        if (!optionsEnd && arg == "--strict") {
            options.strict = true;
        } else if (!optionsEnd && arg == "--best") {
            options.best = true;
        } else if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg.starts_with('-') && arg.size() > 1) {
            return UsageError(tbx::Format(tbx::Tr("unknown option %s"), std::string(arg)));
        } else if (haveProject) {
            return UsageError(tbx::Tr("one project only"));
        } else {
            project = arg;
            haveProject = true;
        }
    }
    if (!haveProject || project.empty())
        return UsageError(tbx::Tr("no project given"));
    RestartWithHugePages(argv);

    // A reader of our output that goes away must not end us halfway.
    std::signal(SIGPIPE, SIG_IGN);
    StopOnSignal stop;
    options.stop = stop.Flag();
    const tbx::hhc::CompileResult result = tbx::hhc::Compile(project, options, PrintLine);
    for (const std::string& warning : result.warnings)
        std::fprintf(stderr, "hhc: %s\n", tbx::Format(tbx::Tr("warning: %s"), warning).c_str());
    if (result.stopped) {
        std::fprintf(
            stderr, "hhc: %s\n",
            tbx::Format(tbx::Tr("stopped by signal %d; nothing was written"), stop.Signal())
                .c_str());
        return 128 + stop.Signal();
    }
    if (!result.error.empty()) {
        std::fprintf(stderr, "hhc: %s\n", result.error.c_str());
        return kExitFailure;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    tbx::UseMessageCatalogue(tbx::ProgramFolder());
    const std::string_view name = argc > 0 ? argv[0] : "";
    const bool microsoft = name.substr(name.rfind('/') + 1) == "hhc.exe";
    return AnswerAs(microsoft, Main(argc, argv));
}
