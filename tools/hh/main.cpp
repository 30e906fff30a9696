// hh -decompile DIR FILE: writes every file of the help file FILE into the
// existing folder DIR, keeping its sub-folders. Exit status 0 when every
// file was written; 1 with messages on standard error when the help file is
// damaged, a stored name was refused or a file could not be written; 2 for
// a wrong command line; 128 + the signal when stopped.

#include "hh_extract.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Set by the stop signals; the extraction looks at it between two pieces.
volatile std::sig_atomic_t g_stop = 0;

void OnStop(int signal) {
    g_stop = signal;
}

// chmlib reads damaged files with little checking. Should it fault anyway,
// say so and end with a failure instead of a crash report.
void OnFault(int) {
    hh::RemovePartialFile();
    static const char kMessage[] = "hh: the help file is damaged (reading it failed)\n";
    ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    ::_exit(3);
}

void InstallHandlers() {
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigemptyset(&stop.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &stop, nullptr);
    struct sigaction fault {};
    fault.sa_handler = OnFault;
    sigemptyset(&fault.sa_mask);
    fault.sa_flags = SA_RESETHAND;
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(signal, &fault, nullptr);
}

// chmlib's decoder does not check damaged compressed data against its
// buffers, so a crafted help file could make this process write where it
// should not. Where the kernel offers Landlock, nothing outside dir can be
// created, changed or removed from here on, whatever happens inside chmlib.
// Without it the name checks still hold.
void RestrictWritesTo(const char* dir) {
    const __u64 writes = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                         LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                         LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                         LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                         LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
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

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4 || std::strcmp(argv[1], "-decompile") != 0) {
        std::fprintf(stderr, "usage: hh -decompile DIR FILE\n");
        return 2;
    }
    InstallHandlers();
    RestrictWritesTo(argv[2]);
    const hh::ExtractResult result = hh::Decompile(argv[2], argv[3], &g_stop);

    for (const std::string& name : result.refused)
        std::fprintf(stderr, "hh: refused, would land outside the output folder: %s\n",
                     name.c_str());
    for (const std::string& failure : result.failures)
        std::fprintf(stderr, "hh: %s\n", failure.c_str());
    if (result.headerChainEntries > 0)
        std::fprintf(stderr,
                     "hh: %s: the header's directory chain lists only %d entries; every "
                     "listing chunk was read instead\n",
                     argv[3], result.headerChainEntries);
    if (!result.fatal.empty())
        std::fprintf(stderr, "hh: %s\n", result.fatal.c_str());
    if (result.stopSignal) {
        std::fprintf(stderr, "hh: stopped after %d files\n", result.files);
        return 128 + result.stopSignal;
    }
    if (!result.Ok()) {
        std::fprintf(stderr, "hh: %s: %d files written; %zu names refused, %zu entries failed\n",
                     argv[3], result.files, result.refused.size(), result.failures.size());
        return 1;
    }
    return 0;
}
