#pragma once
// The jobs of one window: each press of its button runs one job on a worker
// thread of its own; the jobs queue on the window's job lock, so one external
// program runs at a time, and a closing window stops them all.

#include "jobs/job_host.h"
#include "platform/process.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tbx {

class JobQueue : public IJobSet {
public:
    explicit JobQueue(IJobHost& host) : host_(host) {}
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // Starts one job on a new worker thread and returns at once; nothing
    // once the window is closing.
    void Start();

    void Shutdown() override;
    void Stop() override;
    bool Idle() const override;
    void Join() override;

protected:
    // A derived queue calls Shutdown and Join in its own destructor, while
    // what its jobs use still exists.
    ~JobQueue() override = default;

    // One job, run on its worker thread.
    virtual void RunJob() = 0;

    // Takes the job lock; when another job holds it, shows busyMessage and
    // waits. False when the job was cancelled before the lock came free.
    bool TakeLock(const std::string& busyMessage);
    void ReleaseLock();
    // True once the window is closing or the user stopped this job.
    bool Cancelled() const;
    // True when the user stopped this job while the window stays open: the
    // job then says that it stopped.
    bool StoppedByUser() const;
    // Runs a program hidden, its messages in Russian, and waits for it; a
    // closing window or a stop ends it. Each progress line it prints is shown under headline while
    // it runs; every other line of its output goes to onOtherLine.
    ProcessOutcome RunChild(const std::string& program, const std::vector<std::string>& args,
                            const std::string& headline, const OutputLineSink& onOtherLine = {});

    IJobHost& host_;

private:
    // Jobs are numbered in the order they were pressed; a stop cancels every
    // job numbered below stopBelow_. A job finds its number by its thread.
    struct JobRecord {
        std::uint64_t number = 0;
        bool direct = false; // run by a direct call, not through Start
    };
    bool CancelledLocked() const;
    bool StoppedLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable lockFreed_;
    bool locked_ = false;
    bool shutdown_ = false;
    std::uint64_t nextJob_ = 0;
    std::uint64_t stopBelow_ = 0;
    std::map<std::thread::id, JobRecord> jobs_;
    int running_ = 0;
    std::set<ChildProcess*> children_;
    std::vector<std::thread> threads_;
};

// The log pane's text for a program that could not start (notStartedId,
// with the program and the reason) or failed (failedId, with what it wrote
// to standard error, a long run of errors cut short); empty when it ran and
// exited with 0.
std::string ProgramFailure(const ProcessOutcome& run, const std::string& program, int notStartedId,
                           int failedId);

} // namespace tbx
