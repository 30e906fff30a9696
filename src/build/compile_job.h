#pragma once
// The compile job: one worker thread per press of the build button, queued
// on the window's compile lock, that checks the paths, writes the help
// project, runs hhc from the program folder and carries out the
// after-compile options.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "build/job_host.h"
#include "platform/registry.h"

namespace tbx {

class ChildProcess;
class IShell;

// Edit controls of the build window that the job reads.
inline constexpr int kIdPageEdit = 1009;
inline constexpr int kIdOutputEdit = 1010;
inline constexpr int kIdTitleEdit = 1011;

class CompileJobs : public IJobSet {
public:
    // programFolder ends with "/" and holds hhc.
    CompileJobs(IJobHost& host, IShell& shell, RegHive hive, std::string programFolder);
    // Waits for every job thread; call Shutdown first so that none waits long.
    ~CompileJobs() override;
    CompileJobs(const CompileJobs&) = delete;
    CompileJobs& operator=(const CompileJobs&) = delete;

    // Starts one job on a new worker thread and returns at once.
    void Start();

    void Shutdown() override;
    bool Idle() const override;
    void Join() override;

    // The job itself, run on its worker thread; also callable directly.
    int CompileThreadProc();

private:
    void RunCompiler(const std::string& compiler, const std::string& project,
                     const std::string& output);
    bool TakeLock();
    void ReleaseLock();
    bool Cancelled() const;

    IJobHost& host_;
    IShell& shell_;
    RegHive hive_;
    std::string programFolder_;
    std::string m_strOutFolder;

    // The compile lock: held from the checks until the compiler has ended.
    mutable std::mutex mutex_;
    std::condition_variable lockFreed_;
    bool locked_ = false;
    bool cancelled_ = false;
    int running_ = 0;
    std::set<ChildProcess*> compilers_;
    std::vector<std::thread> threads_;
};

} // namespace tbx
