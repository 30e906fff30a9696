// hh -decompile DIR FILE: writes every file of the help file FILE into the
// existing folder DIR, keeping its sub-folders. Progress goes to standard
// output as lines "files extracted: K of M". Exit status 0 when every file
// was written; 1 with messages on standard error when the help file is
// damaged, a stored name was refused or a file could not be written; 2 for
// a wrong command line; 128 + the signal when stopped.

#include "hh_extract.h"
#include "hh_messages.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "protocol/tool_output.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <new>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// The refer right came with Landlock ABI 2, truncate with ABI 3; older
// kernel headers lack them.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace {

const char* Help() {
    return tbx::Tr("Usage: hh -decompile DIR FILE\n"
                   "Writes every file of the compiled help file FILE into the existing folder\n"
                   "DIR, keeping its sub-folders; the help file's own internal streams are left\n"
                   "out. Nothing is written outside DIR. Progress goes to standard output as\n"
                   "lines \"files extracted: K of M\"; problems go to standard error.\n"
                   "\n"
                   "  -decompile   extract the files (the one thing hh does)\n"
                   "  -h, --help   show this text\n"
                   "  --version    show the version\n"
                   "\n"
                   "Exit status: 0 every file written; 1 the help file is damaged, a name was\n"
                   "refused or a file could not be written; 2 wrong command line; 128+N stopped\n"
                   "by signal N.\n");
}

// Set by the stop signals; the extraction looks at it between two pieces.
volatile std::sig_atomic_t g_stop = 0;

void OnStop(int signal) {
    g_stop = signal;
}

void InstallStopHandlers() {
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &stop, nullptr);
    // Progress lines are for whoever reads them; a reader that went away
    // must not end hh halfway through a file.
    std::signal(SIGPIPE, SIG_IGN);
}

// A help file is outside input. Its reader checks every size and offset,
// and as a second wall, where the kernel offers Landlock, this process can
// from here on create, write, rename or remove nothing outside dir. Landlock
// does not cover changes of a file's attributes (mode, owner, times); before
// its ABI 3 it does not cover truncate(2) either, which is restricted too
// where the running kernel has it. Without Landlock the name checks still
// hold.
void RestrictWritesTo(const char* dir) {
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return;
    __u64 writes = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                   LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                   LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                   LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                   LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    // Moving a folder within dir, as deep chains of folders are made, needs
    // the refer right, handled from ABI 2 on; before it no folder moves.
    if (abi >= 2)
        writes |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        writes |= LANDLOCK_ACCESS_FS_TRUNCATE;
    landlock_ruleset_attr ruleset{};
    ruleset.handled_access_fs = writes;
    const int rules =
        static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
    if (rules < 0)
        return;
    landlock_path_beneath_attr below{};
    below.allowed_access = writes;
    below.parent_fd = ::open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (below.parent_fd >= 0 &&
        ::syscall(SYS_landlock_add_rule, rules, LANDLOCK_RULE_PATH_BENEATH, &below, 0) == 0 &&
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0)
        ::syscall(SYS_landlock_restrict_self, rules, 0);
    if (below.parent_fd >= 0)
        ::close(below.parent_fd);
    ::close(rules);
}

// Progress lines for the decompile job: at most about ten a second while
// the files are written, and the final count once at the end.
class ProgressLines {
public:
    void Show(std::size_t written, std::size_t total) {
        if (pacer_.Due())
            Print(written, total);
    }

    static void Print(std::size_t written, std::size_t total) {
        const std::string line =
            tbx::FormatProgressLine({tbx::ProgressKind::FilesExtracted, written, total});
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    tbx::ProgressPacer pacer_;
};

void Problem(const std::string& problem) {
    std::fprintf(stderr, "hh: %s\n", problem.c_str());
}

} // namespace

int main(int argc, char* argv[]) {
    tbx::UseMessageCatalogue(tbx::ProgramFolder());
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(Help(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("hh (Tomebox!) %s\n", TOMEBOX_VERSION);
        return 0;
    }
    if (argc != 4 || std::strcmp(argv[1], "-decompile") != 0) {
        std::fprintf(stderr, "%s\n",
                     tbx::Tr("Usage: hh -decompile DIR FILE (hh --help tells more)"));
        return 2;
    }
    InstallStopHandlers();
    RestrictWritesTo(argv[2]);
    ProgressLines progress;
    hh::ExtractListener listener;
    listener.problem = Problem;
    listener.progress = [&](std::size_t written, std::size_t total) {
        progress.Show(written, total);
    };
    // Out of memory is a message and a failure status, never an abort.
    hh::ExtractResult result;
    try {
        result = hh::Decompile(argv[2], argv[3], listener, &g_stop);
    } catch (const std::bad_alloc&) {
        result.fatal = hh::msg::OutOfMemory();
    }
    const std::string file = tbx::EscapeForLine(argv[3]);
    if (result.headerChainEntries > 0)
        Problem(hh::msg::HeaderChainShort(
            file, static_cast<unsigned long long>(result.headerChainEntries)));
    if (!result.fatal.empty()) {
        Problem(result.fatal);
        return 1;
    }
    ProgressLines::Print(result.files, result.toWrite);
    if (result.stopSignal) {
        Problem(hh::msg::Stopped(result.files));
        return 128 + result.stopSignal;
    }
    if (!result.Ok()) {
        Problem(hh::msg::Lost(file, result.files, result.toWrite, result.refused, result.failures));
        return 1;
    }
    return 0;
}
