#include "kernels/band_job.h"

namespace vantrelo {

void runBoundTask(std::uint64_t index, std::uint64_t count, std::uint64_t key, void* task) {
    const BoundTask* bound = static_cast<const BoundTask*>(task);
    bound->worker(bound->job, index, count, key);
}

void runBands(SystemHost& host, BandWorker worker, void* job, std::uint64_t count) {
    BoundTask task{job, worker};
    host.thread(runBoundTask, &task, count);
}

BandRange bandRange(std::ptrdiff_t first, std::ptrdiff_t end, std::uint64_t index,
                    std::uint64_t count) {
    if (end <= first || count == 0) return {first, first};
    if (index >= count) return {end, end};
    // 128-bit products: a span of 2^32 lines times any band count stays exact.
    const auto span = static_cast<unsigned __int128>(end - first);
    return {first + static_cast<std::ptrdiff_t>(span * index / count),
            first + static_cast<std::ptrdiff_t>(span * (index + 1) / count)};
}

}  // namespace vantrelo
