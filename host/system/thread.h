#pragma once
// The thread base of the host and its fork-join runner.
//
// The runner runs one band function on n threads at once: the calling thread takes band 0,
// n - 1 threads are started for the others, and the call returns only after every one of them
// has been joined.  No pool is kept; threads live for one call.  Nested use is allowed: a band may
// run the runner again.
//
// Contract for band functions:
// - band k of n works on its own share of the job and writes only what no other band writes
//   (callers split rows: band k takes y0 + k(y1 - y0)/n up to y0 + (k + 1)(y1 - y0)/n);
// - n copies run at once with the same data pointer, which they only read;
// - the key argument is the band number; it goes to the host's progress operations, where only
//   key 0 moves the progress window;
// - a band may throw.  With n >= 2 the caller receives, after the join, the failure of the
//   highest-numbered band that failed: std::bad_alloc ("bad allocation") and Mav::Interrupted keep
//   their kind, anything else becomes Mav::Exception with the text
//   "Mav::Host::System::Thread::thread: An unknown error occurred in a thread.".  Rows written
//   by bands that finished keep their values.  With n < 2 the band runs inline and its exception
//   passes unchanged.

#include <cstdint>

namespace Mav::Host::System {

// task(index, count, key, data): band index 0..count-1, band count, progress key, caller's data.
using TaskFunction = void (*)(std::uint64_t index, std::uint64_t count, std::uint64_t key,
                              void* data);

class Thread {
public:
    Thread() = default;

    // The number of processors, asked of the system on the first call and cached.  The first call
    // happens during start-up on the user-interface thread, before any other thread exists, so
    // the cache takes no lock.
    std::uint64_t processorCount();

    // Runs task on `count` bands (0: one per processor of this object) and waits for all of them.
    // A band whose thread cannot be started runs on the calling thread after band 0, so no band
    // is ever skipped.
    void thread(TaskFunction task, void* data, std::uint64_t count = 0);

private:
    std::uint64_t processorCount_ = 0;  // 0: not counted yet
};

}  // namespace Mav::Host::System
