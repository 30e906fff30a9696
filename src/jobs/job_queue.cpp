#include "jobs/job_queue.h"

#include "protocol/tool_output.h"
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

// The windows speak Russian, so the tools they start do too, whatever the
// user's locale: gettext honours LANGUAGE under any messages locale but "C",
// and C.UTF-8 is on every glibc system; its UTF-8 is what the job reads.
const EnvironmentChanges kRussianMessages = {"LC_ALL=", "LC_CTYPE=C.UTF-8", "LC_MESSAGES=C.UTF-8",
                                             "LANGUAGE=ru"};

// A line as the log pane shows it, without the "hh: " the tool starts it with.
std::string WithoutProgramName(const std::string& line, const std::string& program) {
    const std::string prefix = program.substr(program.rfind('/') + 1) + ": ";
    return line.starts_with(prefix) ? line.substr(prefix.size()) : line;
}

// What a failed program said, for the log pane: a few lines as they are, or
// for a long run of errors its last line (the tools end with a summary), its
// first lines and how many more there were.
std::string ErrorDigest(const ProcessOutcome& run, const std::string& program) {
    const std::size_t first = run.firstErrorLines.size();
    const bool cut = run.errorLines > first + 1;
    std::string text;
    const auto add = [&](const std::string& line) {
        text += "\n" + WithoutProgramName(line, program);
    };
    if (cut)
        add(LastLine(run.errorOutput));
    for (const std::string& line : run.firstErrorLines)
        add(line);
    if (run.errorLines == first + 1)
        add(LastLine(run.errorOutput));
    if (cut)
        text += "\n" + FillString(kMsgMoreLines, {std::to_string(run.errorLines - first - 1)});
    return text;
}

} // namespace

void JobQueue::Start() {
    std::lock_guard lock(mutex_);
    if (shutdown_)
        return;
    ++running_;
    const std::uint64_t number = nextJob_++;
    threads_.emplace_back([this, number] {
        {
            std::lock_guard registering(mutex_);
            jobs_[std::this_thread::get_id()] = {number, false};
        }
        RunJob();
        std::lock_guard done(mutex_);
        jobs_.erase(std::this_thread::get_id());
        --running_;
    });
}

void JobQueue::Shutdown() {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    for (ChildProcess* child : children_)
        child->Terminate();
    lockFreed_.notify_all();
}

void JobQueue::Stop() {
    std::lock_guard lock(mutex_);
    // Every child belongs to a job that exists now, so all of them go.
    stopBelow_ = nextJob_;
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

bool JobQueue::StoppedLocked() const {
    const auto job = jobs_.find(std::this_thread::get_id());
    return job != jobs_.end() && job->second.number < stopBelow_;
}

bool JobQueue::CancelledLocked() const {
    return shutdown_ || StoppedLocked();
}

bool JobQueue::Cancelled() const {
    std::lock_guard lock(mutex_);
    return CancelledLocked();
}

bool JobQueue::StoppedByUser() const {
    std::lock_guard lock(mutex_);
    return !shutdown_ && StoppedLocked();
}

bool JobQueue::TakeLock(const std::string& busyMessage) {
    std::unique_lock lock(mutex_);
    // A job called directly rather than through Start counts as pressed now.
    const auto job = jobs_.find(std::this_thread::get_id());
    if (job == jobs_.end() || job->second.direct)
        jobs_[std::this_thread::get_id()] = {nextJob_++, true};
    if (CancelledLocked())
        return false;
    if (locked_) {
        // Never call the host while holding the mutex: the window may be
        // waiting for it in Shutdown.
        lock.unlock();
        host_.ShowMessage(busyMessage);
        lock.lock();
        lockFreed_.wait(lock, [this] { return !locked_ || CancelledLocked(); });
        if (CancelledLocked())
            return false;
    }
    locked_ = true;
    return true;
}

void JobQueue::ReleaseLock() {
    std::lock_guard lock(mutex_);
    locked_ = false;
    // Every waiter looks: the first in line may have been stopped.
    lockFreed_.notify_all();
}

ProcessOutcome JobQueue::RunChild(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& headline, const OutputLineSink& onOtherLine) {
    ChildProcess child;
    {
        std::lock_guard lock(mutex_);
        if (!CancelledLocked() && child.Start(program, args, kRussianMessages))
            children_.insert(&child);
    }
    const ProcessOutcome run = child.Wait([&](std::string_view line) {
        if (const auto progress = ParseProgressLine(line))
            host_.ShowProgress(headline + "\n" + ProgressText(*progress));
        else if (onOtherLine)
            onOtherLine(line);
    });
    std::lock_guard lock(mutex_);
    children_.erase(&child);
    return run;
}

std::string ProgramFailure(const ProcessOutcome& run, const std::string& program, int notStartedId,
                           int failedId) {
    if (!run.started)
        return LoadString(notStartedId) + "\n" + program + " (" + run.error + ")";
    if (!run.exited || run.exitCode != 0)
        return LoadString(failedId) + ErrorDigest(run, program);
    return {};
}

} // namespace tbx
