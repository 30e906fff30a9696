#pragma once
// The decompile job: one worker thread per press of the decompile button,
// queued on the window's own job lock, that checks the output folder and the
// help file, runs hh from the program folder and carries out the
// after-decompile options.

#include "jobs/job_queue.h"
#include "platform/registry.h"

#include <atomic>
#include <string>

namespace tbx {

class IShell;

// Edit controls of the decompile window that the job reads.
inline constexpr int kIdDecInputEdit = 1050;
inline constexpr int kIdDecOutputEdit = 1051;

// Set to 1 by a job whose options ask to end the program; never reset. The
// build window looks at it when the decompile window has closed.
extern std::atomic<int> DecompileQuitFlag;

// The output folder as hh gets it: with a trailing "/" unless empty.
std::string NormaliseOutFolder(const std::string& folder);

class DecompileJobs final : public JobQueue {
public:
    // programFolder ends with "/" and holds hh.
    DecompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder);
    // Stops the jobs and waits for every job thread.
    ~DecompileJobs() override;

    // The job itself, run on its worker thread; also callable directly.
    int RunDecompileJob();

private:
    void RunJob() override { RunDecompileJob(); }
    // Runs hh and returns true when it extracted everything.
    bool RunViewer(const std::string& outFolder, const std::string& helpFile);
    void AfterSuccess(const std::string& outFolder);

    IShell& shell_;
    RegHive hive_;
    std::string programFolder_;
    // Output folder of the job that holds the lock; only touched under it.
    std::string m_strOutFolder;
};

} // namespace tbx
