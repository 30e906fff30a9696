#pragma once
// The threads that compress a stream's reset intervals side by side. The
// intervals share nothing, so each thread takes the next task until none
// is left; the tasks finish in any order and are reported in order.

#include <atomic>
#include <cstddef>
#include <functional>

namespace tbx::chm {

// Does one task after another on one thread, keeping its buffers between
// them.
using TaskWorker = std::function<void(std::size_t task)>;

// Runs tasks [0, count) on up to `threads` threads (0: one per core), each
// with a worker of its own from makeWorker, called on that thread.
// finished is called on the calling thread with the number of leading
// tasks done, each time it grows. Once *stop (when given) is true no
// further task is begun, and the result is false. The first exception a
// worker throws ends the run and is rethrown once every thread has ended.
// With no thread to be had, the calling thread does the work.
bool RunIntervalTasks(std::size_t count, unsigned threads,
                      const std::function<TaskWorker()>& makeWorker,
                      const std::function<void(std::size_t)>& finished,
                      const std::atomic<bool>* stop);

} // namespace tbx::chm
