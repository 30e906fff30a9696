#include "chm/interval_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tbx::chm {
namespace {

unsigned Workers(std::size_t count, unsigned threads) {
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::size_t>(threads, count));
}

bool Stopped(const IntervalTasks& tasks) {
    return tasks.stop && *tasks.stop;
}

bool RunInTurn(const IntervalTasks& tasks) {
    const SlotWorker worker = tasks.makeWorker();
    for (std::size_t task = 0; task < tasks.count; ++task) {
        if (Stopped(tasks))
            return false;
        tasks.load(0, task);
        worker(0, task);
        tasks.deliver(0, task);
    }
    return true;
}

} // namespace

std::size_t IntervalSlots(std::size_t count, unsigned threads) {
    const unsigned workers = Workers(count, threads);
    return workers > 1 ? 2 * std::size_t{workers} : 1;
}

bool RunIntervalTasks(const IntervalTasks& tasks) {
    const unsigned workers = Workers(tasks.count, tasks.threads);
    if (workers <= 1)
        return RunInTurn(tasks);

    const std::size_t slots = IntervalSlots(tasks.count, tasks.threads);
    std::vector<char> done(slots, 0);
    std::deque<std::size_t> ready; // loaded, for a worker to take
    bool closing = false;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable changed;

    const auto work = [&] {
        try {
            const SlotWorker worker = tasks.makeWorker();
            for (;;) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return closing || !ready.empty(); });
                if (closing)
                    return;
                const std::size_t task = ready.front();
                ready.pop_front();
                lock.unlock();
                worker(task % slots, task);
                lock.lock();
                done[task % slots] = 1;
                changed.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failure)
                failure = std::current_exception();
            closing = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    // Whatever ends this function, the workers end first.
    struct Join {
        std::vector<std::thread>& pool;
        std::mutex& mutex;
        bool& closing;
        std::condition_variable& changed;
        ~Join() {
            {
                const std::lock_guard lock(mutex);
                closing = true;
            }
            changed.notify_all();
            for (std::thread& thread : pool)
                thread.join();
        }
    } join{pool, mutex, closing, changed};
    try {
        for (unsigned i = 0; i < workers; ++i)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Out of threads: the ones started do the work, or this one does.
        if (pool.empty())
            return RunInTurn(tasks);
    }

    std::size_t loaded = 0;
    for (std::size_t delivered = 0; delivered < tasks.count; ++delivered) {
        for (; loaded < tasks.count && loaded - delivered < slots; ++loaded) {
            if (Stopped(tasks))
                return false;
            tasks.load(loaded % slots, loaded);
            const std::lock_guard lock(mutex);
            done[loaded % slots] = 0;
            ready.push_back(loaded);
            changed.notify_one();
        }
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return failure || done[delivered % slots]; });
            if (failure)
                std::rethrow_exception(failure);
        }
        tasks.deliver(delivered % slots, delivered);
    }
    return true;
}

} // namespace tbx::chm
