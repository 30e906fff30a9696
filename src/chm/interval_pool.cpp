#include "chm/interval_pool.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tbx::chm {

bool RunIntervalTasks(std::size_t count, unsigned threads,
                      const std::function<TaskWorker()>& makeWorker,
                      const std::function<void(std::size_t)>& finished,
                      const std::atomic<bool>* stop) {
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min<std::size_t>(threads, count);

    std::vector<char> done(count, 0);
    std::atomic<std::size_t> nextTask{0};
    std::atomic<bool> failed{false};
    bool halted = false; // a worker saw the stop; guarded by mutex
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable changed;

    const auto work = [&] {
        try {
            const TaskWorker worker = makeWorker();
            for (std::size_t task; !failed && (task = nextTask++) < count;) {
                if (stop && *stop) {
                    const std::lock_guard lock(mutex);
                    halted = true;
                    changed.notify_one();
                    break;
                }
                worker(task);
                const std::lock_guard lock(mutex);
                done[task] = 1;
                changed.notify_one();
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failed)
                failure = std::current_exception();
            failed = true;
            changed.notify_one();
        }
    };
    std::vector<std::thread> pool;
    try {
        for (std::size_t i = 0; i < workers; ++i)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Out of threads: the ones started do the work, or this one does.
        if (pool.empty())
            work();
    }

    // Report the leading tasks as they complete, in order.
    for (std::size_t leading = 0; leading < count;) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return failed || halted || done[leading]; });
            if (failed || halted)
                break;
            while (leading < count && done[leading])
                ++leading;
        }
        finished(leading);
    }
    for (std::thread& thread : pool)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
    return !halted;
}

} // namespace tbx::chm
