#include "engine/effects/defocus_workers.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"

namespace vantrelo {

namespace {

template <class Worker>
bool launchDefocusPass(const Matte16Defocus& job) {
    const int bandCount = std::max<std::int32_t>(workerThreadCount(), 1);
    // One cleared block holds the scratch of every band, obtained before any band starts so that a
    // shortage leaves the image untouched.
    const std::size_t floats = matte16ScratchFloats(job);
    const auto bands = static_cast<std::size_t>(bandCount);
    EngineBlock scratch;
    if (floats > SIZE_MAX / bands || !scratch.allocate<float>(floats * bands, true)) return false;
    std::vector<std::unique_ptr<VantThread>> workers;
    try {
        workers.reserve(bands);
        for (int i = 0; i < bandCount; ++i)
            workers.push_back(std::make_unique<Worker>(i, bandCount, job,
                                                       scratch.as<float>() + static_cast<std::size_t>(i) * floats));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return runWorkers(workers);
}

}  // namespace

doDefocusMaskX_VantThread::doDefocusMaskX_VantThread(int index, int bandCount, const Matte16Defocus& job,
                                                     float* scratch)
    : VantThread(bandOf(index, bandCount, job.height).start, bandOf(index, bandCount, job.height).count,
                 job.padWidth(), bandOf(index, bandCount, job.height).count, true, true),
      job_(job), scratch_(scratch) {}

unsigned doDefocusMaskX_VantThread::run() {
    defocusMatte16Rows(job_, bandStart(), bandCount(), scratch_);
    return 0;
}

doDefocusMaskY_VantThread::doDefocusMaskY_VantThread(int index, int bandCount, const Matte16Defocus& job,
                                                     float* scratch)
    : VantThread(bandOf(index, bandCount, job.width).start, bandOf(index, bandCount, job.width).count,
                 bandOf(index, bandCount, job.width).count, job.padHeight(), true, false),
      job_(job), scratch_(scratch) {}

unsigned doDefocusMaskY_VantThread::run() {
    defocusMatte16Columns(job_, bandStart(), bandCount(), scratch_);
    return 0;
}

bool runDefocusXWorker(const Matte16Defocus& job) { return launchDefocusPass<doDefocusMaskX_VantThread>(job); }

bool runDefocusYWorker(const Matte16Defocus& job) { return launchDefocusPass<doDefocusMaskY_VantThread>(job); }

}  // namespace vantrelo
