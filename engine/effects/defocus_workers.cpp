#include "engine/effects/defocus_workers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/keying/key_state.h"

namespace vantrelo {

namespace {

// One cleared scratch block per band, all obtained before any band starts so that a shortage
// leaves the image untouched.
class BandScratch {
public:
    ~BandScratch() {
        for (float* block : blocks_) engineRelease(block);
    }
    bool allocate(int bandCount, std::size_t floats) {
        if (floats > SIZE_MAX / sizeof(float)) return false;
        try {
            blocks_.reserve(static_cast<std::size_t>(bandCount));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int i = 0; i < bandCount; ++i) {
            auto* block = static_cast<float*>(engineAllocate(floats * sizeof(float)));
            if (!block) return false;
            std::memset(block, 0, floats * sizeof(float));
            blocks_.push_back(block);
        }
        return true;
    }
    float* operator[](int i) const { return blocks_[static_cast<std::size_t>(i)]; }

private:
    std::vector<float*> blocks_;
};

template <class Worker>
bool launchDefocusPass(const Matte16Defocus& job) {
    const int bandCount = std::max<std::int32_t>(workerThreadCount(), 1);
    BandScratch scratch;
    if (!scratch.allocate(bandCount, matte16ScratchFloats(job))) return false;
    std::vector<std::unique_ptr<VantThread>> workers;
    try {
        workers.reserve(static_cast<std::size_t>(bandCount));
        for (int i = 0; i < bandCount; ++i) workers.push_back(std::make_unique<Worker>(i, bandCount, job, scratch[i]));
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
