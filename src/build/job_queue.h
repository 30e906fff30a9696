#pragma once
// The jobs of one window: each press of its button runs one job on a worker
// thread of its own; the jobs queue on the window's job lock, so one external
// program runs at a time, and a closing window stops them all.

#include "build/job_host.h"
#include "platform/process.h"

#include <condition_variable>
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
    bool Idle() const override;
    void Join() override;

protected:
    // A derived queue calls Shutdown and Join in its own destructor, while
    // what its jobs use still exists.
    ~JobQueue() override = default;

    // One job, run on its worker thread.
    virtual void RunJob() = 0;

    // Takes the job lock; when another job holds it, shows busyMessage and
    // waits. False when the window closed before the lock came free.
    bool TakeLock(const std::string& busyMessage);
    void ReleaseLock();
    bool Cancelled() const;
    // Runs a program hidden and waits for it; a closing window stops it.
    ProcessOutcome RunChild(const std::string& program, const std::vector<std::string>& args);

    IJobHost& host_;

private:
    mutable std::mutex mutex_;
    std::condition_variable lockFreed_;
    bool locked_ = false;
    bool cancelled_ = false;
    int running_ = 0;
    std::set<ChildProcess*> children_;
    std::vector<std::thread> threads_;
};

// The log pane's text for a program that could not start (notStartedId,
// with the program and the reason) or failed (failedId, with the last line
// it wrote to standard error); empty when it ran and exited with 0.
std::string ProgramFailure(const ProcessOutcome& run, const std::string& program, int notStartedId,
                           int failedId);

} // namespace tbx
