// Work done ahead on threads of its own: the walk reads and scans the next
// files in its queue while it follows the links of the one in hand, so that
// the other cores shorten the walk instead of waiting for it.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace tbx::site {

// Jobs start in the order pushed, on up to `threads` threads, and their
// results are taken in that order. One caller thread pushes and takes; how
// far it lets the jobs run ahead is its own choice.
template <typename Result> class ReadAhead {
public:
    explicit ReadAhead(std::size_t threads) : threads_(threads < 1 ? 1 : threads) {}
    ~ReadAhead() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        queued_.notify_all();
        for (std::thread& thread : running_)
            thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    void Push(std::function<Result()> job) {
        {
            const std::lock_guard lock(mutex_);
            // A deque keeps its elements in place as it grows at the back.
            slots_.emplace_back();
            jobs_.push_back({std::move(job), &slots_.back()});
        }
        queued_.notify_one();
        // Started as the jobs come: a small site needs fewer.
        if (running_.size() < threads_ && running_.size() < slots_.size()) {
            try {
                running_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                // Out of threads: Take runs what none of them does.
            }
        }
    }

    // The oldest job's result, once it is done; what it threw is thrown here.
    Result Take() {
        std::unique_lock lock(mutex_);
        if (running_.empty() && !slots_.front().done)
            RunNext(lock);
        finished_.wait(lock, [this] { return slots_.front().done; });
        Slot slot = std::move(slots_.front());
        slots_.pop_front();
        lock.unlock();
        if (slot.error)
            std::rethrow_exception(slot.error);
        return std::move(*slot.result);
    }

private:
    struct Slot {
        std::optional<Result> result;
        std::exception_ptr error;
        bool done = false;
    };
    struct Job {
        std::function<Result()> run;
        Slot* slot;
    };

    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            queued_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            RunNext(lock);
        }
    }

    // Runs the oldest job not started, unlocked while it runs.
    void RunNext(std::unique_lock<std::mutex>& lock) {
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result.emplace(job.run());
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        job.slot->result = std::move(result);
        job.slot->error = error;
        job.slot->done = true;
        finished_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable queued_;   // for the threads: a job, or the end
    std::condition_variable finished_; // for the caller: a job done
    std::deque<Job> jobs_;
    std::deque<Slot> slots_;
    bool stopping_ = false;
    const std::size_t threads_;
    std::vector<std::thread> running_;
};

} // namespace tbx::site
