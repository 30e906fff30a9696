#pragma once
// The compile job: one worker thread per press of the build button, queued
// on the window's compile lock, that checks the paths, writes the help
// project, runs hhc from the program folder and carries out the
// after-compile options.

#include "jobs/job_queue.h"
#include "platform/registry.h"

#include <functional>
#include <mutex>
#include <string>

namespace tbx {

class IShell;

// Edit controls of the build window that the job reads.
inline constexpr int kIdPageEdit = 1009;
inline constexpr int kIdOutputEdit = 1010;
inline constexpr int kIdTitleEdit = 1011;

class CompileJobs final : public JobQueue {
public:
    // programFolder ends with "/" and holds hhc.
    CompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder);
    // Stops the jobs and waits for every job thread.
    ~CompileJobs() override;

    // The job itself, run on its worker thread; also callable directly.
    int CompileThreadProc();

    // Who shows a finished help file when OpenAfterCompile is set: called
    // on the job's thread. Without one, the desktop's program for it.
    using HelpViewer = std::function<void(const std::string& helpFile)>;
    void ShowHelpFilesWith(HelpViewer viewer);

private:
    void RunJob() override { CompileThreadProc(); }
    void RunCompiler(const std::string& compiler, const std::string& project,
                     const std::string& output);
    // Opens the help file with the desktop's program for it: empty when
    // that started, else why not, for the log pane.
    std::string ShowHelpFile(const std::string& output);

    IShell& shell_;
    RegHive hive_;
    std::string programFolder_;
    std::mutex viewerLock_;
    HelpViewer viewer_; // under viewerLock_
    // Output folder of the job that holds the lock; only touched under it.
    std::string m_strOutFolder;
};

} // namespace tbx
