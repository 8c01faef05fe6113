#pragma once
// Row bands for the plug-in's per-pixel loops that are not band workers of their own (the light
// wrap's source rows and blend, the lighting correction's pixel rule): rows(first, end) runs for
// each band of [0, height) on the host's fork-join runner, band 0 on the calling thread.  Only for
// loops where every output row depends on its own input rows alone, so the bands change nothing
// but the time.  A failure in a band is rethrown after all bands have stopped.

#include <cstddef>
#include <cstdint>

#include "host/system/system_host.h"
#include "kernels/band_job.h"

namespace vantrelo {

template <class Rows>
void inRowBands(Mav::Host::System::Host& host, std::ptrdiff_t height, Rows rows) {
    struct Job {
        Rows* rows;
        std::ptrdiff_t height;
    } job{&rows, height};
    runBands(
        host,
        [](void* pointer, std::uint64_t index, std::uint64_t count, std::uint64_t) {
            const Job& j = *static_cast<const Job*>(pointer);
            const BandRange band = bandRange(0, j.height, index, count);
            if (!band.empty()) (*j.rows)(band.begin, band.end);
        },
        &job);
}

}  // namespace vantrelo
