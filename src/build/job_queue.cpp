#include "build/job_queue.h"

#include "res/strings.h"

namespace tbx {
namespace {

// The last non-empty line of what a program wrote to standard error.
std::string LastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos)
        return {};
    const std::size_t newline = text.find_last_of('\n', end);
    const std::size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, end - start + 1);
}

} // namespace

void JobQueue::Start() {
    std::lock_guard lock(mutex_);
    if (cancelled_)
        return;
    ++running_;
    threads_.emplace_back([this] {
        RunJob();
        std::lock_guard done(mutex_);
        --running_;
    });
}

void JobQueue::Shutdown() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    for (ChildProcess* child : children_)
        child->Terminate();
    lockFreed_.notify_all();
}

bool JobQueue::Idle() const {
    std::lock_guard lock(mutex_);
    return running_ == 0;
}

void JobQueue::Join() {
    for (std::thread& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
    threads_.clear();
}

bool JobQueue::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool JobQueue::TakeLock(const std::string& busyMessage) {
    std::unique_lock lock(mutex_);
    if (cancelled_)
        return false;
    if (locked_) {
        // Never call the host while holding the mutex: the window may be
        // waiting for it in Shutdown.
        lock.unlock();
        host_.ShowMessage(busyMessage);
        lock.lock();
        lockFreed_.wait(lock, [this] { return !locked_ || cancelled_; });
        if (cancelled_)
            return false;
    }
    locked_ = true;
    return true;
}

void JobQueue::ReleaseLock() {
    std::lock_guard lock(mutex_);
    locked_ = false;
    lockFreed_.notify_one();
}

ProcessOutcome JobQueue::RunChild(const std::string& program,
                                  const std::vector<std::string>& args) {
    ChildProcess child;
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_ && child.Start(program, args))
            children_.insert(&child);
    }
    const ProcessOutcome run = child.Wait();
    std::lock_guard lock(mutex_);
    children_.erase(&child);
    return run;
}

std::string ProgramFailure(const ProcessOutcome& run, const std::string& program, int notStartedId,
                           int failedId) {
    if (!run.started)
        return LoadString(notStartedId) + "\n" + program + " (" + run.error + ")";
    if (!run.exited || run.exitCode != 0) {
        const std::string detail = LastLine(run.errorOutput);
        return LoadString(failedId) + (detail.empty() ? "" : "\n" + detail);
    }
    return {};
}

} // namespace tbx
