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
    bool allocate(int bandCount, std::ptrdiff_t lineLength) {
        const std::size_t floats = defocusScratchFloats(lineLength);
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

// first and second are the worker's two size arguments; lineLength is the length of one filtered
// line.
template <class Worker>
bool launchDefocusPass(std::uint16_t* alpha, std::ptrdiff_t sampleStep, std::ptrdiff_t first,
                       std::ptrdiff_t second, std::ptrdiff_t lineLength, int radius) {
    const int bandCount = std::max<std::int32_t>(workerThreadCount(), 1);
    BandScratch scratch;
    if (!scratch.allocate(bandCount, lineLength)) return false;
    const DefocusKernel kernel = defocusKernel(radius);
    std::vector<std::unique_ptr<VantThread>> workers;
    try {
        workers.reserve(static_cast<std::size_t>(bandCount));
        for (int i = 0; i < bandCount; ++i)
            workers.push_back(std::make_unique<Worker>(i, bandCount, alpha, sampleStep, first, second, radius,
                                                       kernel, scratch[i]));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return runWorkers(workers);
}

}  // namespace

doDefocusMaskX_VantThread::doDefocusMaskX_VantThread(int index, int bandCount, std::uint16_t* alpha,
                                                     std::ptrdiff_t sampleStep, std::ptrdiff_t rowLength,
                                                     std::ptrdiff_t rowCount, int radius,
                                                     const DefocusKernel& kernel, float* scratch)
    : VantThread(bandOf(index, bandCount, rowCount).start, bandOf(index, bandCount, rowCount).count,
                 rowLength, bandOf(index, bandCount, rowCount).count, true, true),
      lines_{alpha, sampleStep, rowLength * sampleStep, rowLength}, radius_(radius), kernel_(kernel),
      scratch_(scratch) {}

unsigned doDefocusMaskX_VantThread::run() {
    filterDefocusLines(lines_, bandStart(), bandCount(), radius_, kernel_, scratch_);
    return 0;
}

doDefocusMaskY_VantThread::doDefocusMaskY_VantThread(int index, int bandCount, std::uint16_t* alpha,
                                                     std::ptrdiff_t sampleStep, std::ptrdiff_t columnCount,
                                                     std::ptrdiff_t columnLength, int radius,
                                                     const DefocusKernel& kernel, float* scratch)
    : VantThread(bandOf(index, bandCount, columnCount).start, bandOf(index, bandCount, columnCount).count,
                 bandOf(index, bandCount, columnCount).count, columnLength, true, false),
      lines_{alpha, columnCount * sampleStep, sampleStep, columnLength}, radius_(radius), kernel_(kernel),
      scratch_(scratch) {}

unsigned doDefocusMaskY_VantThread::run() {
    filterDefocusLines(lines_, bandStart(), bandCount(), radius_, kernel_, scratch_);
    return 0;
}

bool runDefocusXWorker(std::uint16_t* alpha, std::ptrdiff_t sampleStep, std::ptrdiff_t width,
                       std::ptrdiff_t height, std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius) {
    if (width <= 0 || height <= 0 || rowLength <= 0 || rowCount <= 0 || radius <= 0) return true;
    if (!alpha || sampleStep <= 0) return false;
    return launchDefocusPass<doDefocusMaskX_VantThread>(alpha, sampleStep, rowLength, rowCount, rowLength,
                                                        radius);
}

bool runDefocusYWorker(std::uint16_t* alpha, std::ptrdiff_t sampleStep, std::ptrdiff_t width,
                       std::ptrdiff_t height, std::ptrdiff_t columnCount, std::ptrdiff_t columnLength,
                       int radius) {
    if (width <= 0 || height <= 0 || columnCount <= 0 || columnLength <= 0 || radius <= 0) return true;
    if (!alpha || sampleStep <= 0) return false;
    return launchDefocusPass<doDefocusMaskY_VantThread>(alpha, sampleStep, columnCount, columnLength,
                                                        columnLength, radius);
}

}  // namespace vantrelo
