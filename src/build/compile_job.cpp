#include "build/compile_job.h"

#include <sys/stat.h>

#include "controls/path_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "res/strings.h"
#include "settings/opt_store.h"

namespace tbx {
namespace {

// What identifies one version of a file, to tell whether the compiler wrote it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    off_t size = 0;

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && device == o.device && inode == o.inode &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               size == o.size;
    }
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        stamp = {true, st.st_dev, st.st_ino, st.st_mtim, st.st_size};
    return stamp;
}

// The last non-empty line of what a program wrote to standard error.
std::string LastLine(const std::string& text) {
    std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos)
        return {};
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The log pane's text for a finished compiler run.
std::string CompilerVerdict(const ProcessOutcome& run, const std::string& compiler,
                            const std::string& output, bool produced) {
    if (!run.started)
        return LoadString(kMsgCompilerNotStarted) + "\n" + compiler + " (" + run.error + ")";
    if (!run.exited || run.exitCode != 0) {
        const std::string detail = LastLine(run.errorOutput);
        return LoadString(kMsgCompilerFailed) + (detail.empty() ? "" : "\n" + detail);
    }
    if (!produced)
        return LoadString(kMsgNoHelpFile) + "\n" + output;
    return LoadString(111);
}

} // namespace

CompileJobs::CompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder)
    : host_(host), shell_(shell), hive_(std::move(hive)), programFolder_(std::move(programFolder)) {}

CompileJobs::~CompileJobs() {
    Shutdown();
    Join();
}

void CompileJobs::Start() {
    std::lock_guard lock(mutex_);
    if (cancelled_)
        return;
    ++running_;
    threads_.emplace_back([this] {
        CompileThreadProc();
        std::lock_guard done(mutex_);
        --running_;
    });
}

void CompileJobs::Shutdown() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    for (ChildProcess* compiler : compilers_)
        compiler->Terminate();
    lockFreed_.notify_all();
}

bool CompileJobs::Idle() const {
    std::lock_guard lock(mutex_);
    return running_ == 0;
}

void CompileJobs::Join() {
    for (std::thread& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
    threads_.clear();
}

bool CompileJobs::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool CompileJobs::TakeLock() {
    std::unique_lock lock(mutex_);
    if (cancelled_)
        return false;
    if (locked_) {
        // Never call the host while holding the mutex: the window may be
        // waiting for it in Shutdown.
        lock.unlock();
        host_.ShowMessage(LoadString(113));
        lock.lock();
        lockFreed_.wait(lock, [this] { return !locked_ || cancelled_; });
        if (cancelled_)
            return false;
    }
    locked_ = true;
    return true;
}

void CompileJobs::ReleaseLock() {
    std::lock_guard lock(mutex_);
    locked_ = false;
    lockFreed_.notify_one();
}

int CompileJobs::CompileThreadProc() {
    if (!TakeLock())
        return 0;
    const std::string output = host_.ReadField(kIdOutputEdit);
    if (!PathExists(output)) {
        // A relative output would land in whatever folder the program runs in.
        AssignFolderPath(m_strOutFolder, output);
        if (!output.starts_with('/') || (!IsFolder(m_strOutFolder) && !CreateDirPath(m_strOutFolder))) {
            host_.ShowMessage(LoadString(114));
            ReleaseLock();
            return 0;
        }
    } else if (IsFolder(output)) {
        host_.ShowMessage(LoadString(115));
        ReleaseLock();
        return 0;
    } else if (GetOptFlag(hive_, "ConsentOnRewrite", 1, kCmnOptsKey) &&
               !host_.AskYesNo(LoadString(109))) {
        ReleaseLock();
        return 0;
    }

    // A folder is no page either: the compiler could only fail on it.
    const std::string page = host_.ReadField(kIdPageEdit);
    if (!PathExists(page) || IsFolder(page)) {
        host_.ShowMessage(LoadString(110));
        ReleaseLock();
        return 0;
    }

    // A window that closed during the checks gets nothing written beside the page.
    if (Cancelled()) {
        ReleaseLock();
        return 0;
    }
    host_.StartBusy();
    host_.ShowMessage(LoadString(112));
    const HelpProjectInput input{page, output, host_.ReadField(kIdTitleEdit), host_.Screen(),
                                 programFolder_};
    const HelpProjectResult project = WriteHelpProject(hive_, input);
    if (!project.Ok()) {
        host_.ShowMessage(project.error);
        ReleaseLock();
        host_.StopBusy();
        return 0;
    }
    RunCompiler(programFolder_ + "hhc", project.projectPath, output);
    return 0;
}

void CompileJobs::RunCompiler(const std::string& compiler, const std::string& project,
                              const std::string& output) {
    const FileStamp before = StampOf(output);
    ChildProcess child;
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_ && child.Start(compiler, {project}))
            compilers_.insert(&child);
    }
    const ProcessOutcome run = child.Wait();
    {
        std::lock_guard lock(mutex_);
        compilers_.erase(&child);
    }
    RemoveFile(project);

    const FileStamp after = StampOf(output);
    const bool produced = after.exists && !(after == before);
    const bool succeeded = run.started && run.exited && run.exitCode == 0 && produced;
    const bool cancelled = Cancelled();
    // A window that is closing shows nothing and starts nothing more.
    if (!cancelled)
        host_.ShowMessage(CompilerVerdict(run, compiler, output, produced));
    ReleaseLock();
    host_.StopBusy();
    if (!succeeded || cancelled)
        return;
    if (GetOptFlag(hive_, "OpenAfterCompile", 1, kCmnOptsKey))
        shell_.Open(output);
    if (GetOptFlag(hive_, "QuitAfterCompile", 1, kCmnOptsKey))
        host_.EndDialog(1);
}

} // namespace tbx
