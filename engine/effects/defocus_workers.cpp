#include "engine/effects/defocus_workers.h"

#include <cstdint>
#include <memory>

#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"
#include "engine/keying/keying_workers.h"

namespace vantrelo {

namespace {

template <class Worker>
bool launchDefocusPass(const Matte16Defocus& job) {
    const int bandCount = keyingBandCount();
    // One cleared block holds the scratch of every band, obtained before any band starts so that a
    // shortage leaves the image untouched.
    const std::size_t floats = matte16ScratchFloats(job);
    const auto bands = static_cast<std::size_t>(bandCount);
    EngineBlock scratch;
    if (floats > SIZE_MAX / bands || !scratch.allocate<float>(floats * bands, true)) return false;
    return launchWorkers(bandCount, [&](int i, int n) {
        return std::make_unique<Worker>(i, n, job, scratch.as<float>() + static_cast<std::size_t>(i) * floats);
    });
}

}  // namespace

doDefocusMaskX_VantThread::doDefocusMaskX_VantThread(int index, int bandCount, const Matte16Defocus& job,
                                                     float* scratch)
    : VantThread(index, bandCount, job.padWidth(), job.height, true), job_(job), scratch_(scratch) {}

unsigned doDefocusMaskX_VantThread::run() {
    defocusMatte16Rows(job_, bandStart(), bandCount(), scratch_);
    return 0;
}

doDefocusMaskY_VantThread::doDefocusMaskY_VantThread(int index, int bandCount, const Matte16Defocus& job,
                                                     float* scratch)
    : VantThread(index, bandCount, job.width, job.padHeight(), false), job_(job), scratch_(scratch) {}

unsigned doDefocusMaskY_VantThread::run() {
    defocusMatte16Columns(job_, bandStart(), bandCount(), scratch_);
    return 0;
}

bool runDefocusXWorker(const Matte16Defocus& job) { return launchDefocusPass<doDefocusMaskX_VantThread>(job); }

bool runDefocusYWorker(const Matte16Defocus& job) { return launchDefocusPass<doDefocusMaskY_VantThread>(job); }

}  // namespace vantrelo
