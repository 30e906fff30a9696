#pragma once
// The threads that compress a stream's reset intervals side by side. The
// intervals share nothing, so each task can go to any thread; the calling
// thread loads the tasks ahead in order and takes their results back in
// order, so the bytes are the same on any number of threads and only a few
// tasks are held at once.

#include <atomic>
#include <cstddef>
#include <functional>

namespace tbx::chm {

// Works one loaded task on one thread, keeping its buffers between tasks.
using SlotWorker = std::function<void(std::size_t slot, std::size_t task)>;

struct IntervalTasks {
    std::size_t count = 0; // tasks [0, count)
    unsigned threads = 0;  // 0: one per core
    // Called on each working thread for a worker of its own.
    std::function<SlotWorker()> makeWorker;
    // Called on the calling thread: fill slot for task, before it is worked...
    std::function<void(std::size_t slot, std::size_t task)> load;
    // ...and take its result, in task order.
    std::function<void(std::size_t slot, std::size_t task)> deliver;
    // Once true, no further task is loaded and the run ends false.
    const std::atomic<bool>* stop = nullptr;
};

// How many slots the caller keeps for a run of `count` tasks on `threads`:
// two a worker, so that one is loaded while the other is worked; one when
// the calling thread does the work alone.
std::size_t IntervalSlots(std::size_t count, unsigned threads);

// Runs the tasks. The first exception a worker, load or deliver throws ends
// the run and is rethrown once every thread has ended. With no thread to
// be had, the calling thread does the work.
bool RunIntervalTasks(const IntervalTasks& tasks);

} // namespace tbx::chm
