#pragma once
// Band jobs: how every band-parallel loop of the kernels and of the render is handed to the host's
// fork-join runner.  The kernel contract is in kernels/kernels.h.

#include <cstddef>
#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"

namespace vantrelo {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;
using SystemHost = Mav::Host::System::Host;

// The job record of a band worker over a rectangular area.  It lives on the caller's stack for one
// run; workers only read it.
struct BandJob {
    SystemHost* host = nullptr;          // whose runner runs the job; conversions do not read it
    ImageBuffer* destination = nullptr;  // written: the worker's own rows of `area` only
    const void* source = nullptr;        // an ImageBuffer, or a colour for the fill workers
    const Rect* area = nullptr;          // {x0, y0, x1, y1}, right and bottom exclusive
};

// worker(job, band index, band count, progress key): processes band `index` of `count` of the job.
// The job pointer is whatever record the worker expects (a BandJob, a WarpJob, a blur object...).
using BandWorker = void (*)(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

struct BoundTask {
    void* job = nullptr;
    BandWorker worker = nullptr;
};

// The task function handed with a BoundTask to Mav::Host::System::Thread::thread: calls the task's
// worker with (job, index, count, key).
void runBoundTask(std::uint64_t index, std::uint64_t count, std::uint64_t key, void* task);

// Runs worker on `count` bands of the host's runner (0: one band per processor) and returns when
// all have finished; band 0 runs on the calling thread.  A failure of any band is rethrown here
// after the join (std::bad_alloc, Mav::Interrupted or Mav::Exception).
void runBands(SystemHost& host, BandWorker worker, void* job, std::uint64_t count = 0);

// Rows (or any other line range) of band k of n: first + (span x k) / n up to, not including,
// first + (span x (k + 1)) / n, in 64-bit arithmetic.  The bands partition [first, end) without gap
// or overlap; with more bands than lines some bands are empty (begin >= end).
struct BandRange {
    std::ptrdiff_t begin = 0;
    std::ptrdiff_t end = 0;
    bool empty() const { return begin >= end; }
};
BandRange bandRange(std::ptrdiff_t first, std::ptrdiff_t end, std::uint64_t index,
                    std::uint64_t count);

}  // namespace vantrelo
