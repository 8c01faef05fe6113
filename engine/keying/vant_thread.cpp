#include "engine/keying/vant_thread.h"

namespace vantrelo {

Band bandOf(int index, int bandCount, std::ptrdiff_t total) {
    if (bandCount < 1) return Band{0, total};
    const std::ptrdiff_t size = total / bandCount;
    const std::ptrdiff_t start = index * size;
    const std::ptrdiff_t count = index == bandCount - 1 ? total - size * (bandCount - 1) : size;
    return Band{start, count};
}

VantThread::VantThread(std::ptrdiff_t bandStart, std::ptrdiff_t bandCount, std::ptrdiff_t width,
                       std::ptrdiff_t height, bool twoDimensional, bool byRows)
    : bandStart_(bandStart), bandCount_(bandCount), width_(width), height_(height),
      twoDimensional_(twoDimensional), byRows_(byRows) {}

VantThread::VantThread(int index, int bandCount, std::ptrdiff_t total)
    : VantThread(bandOf(index, bandCount, total), 1, false, false) {}

VantThread::VantThread(int index, int bandCount, std::ptrdiff_t width, std::ptrdiff_t height, bool byRows)
    : VantThread(bandOf(index, bandCount, byRows ? height : width), byRows ? width : height, true, byRows) {}

VantThread::VantThread(Band band, std::ptrdiff_t across, bool twoDimensional, bool byRows)
    : VantThread(band.start, band.count, twoDimensional && !byRows ? band.count : across,
                 twoDimensional && !byRows ? across : band.count, twoDimensional, byRows) {}

VantThread::~VantThread() { join(); }

void VantThread::runGuarded() noexcept {
    try {
        run();
    } catch (...) {
        failed_ = true;
    }
}

void VantThread::start() noexcept {
    if (!thread_.start([](void* self) { static_cast<VantThread*>(self)->runGuarded(); }, this))
        runGuarded();
}

void VantThread::join() { thread_.join(); }

bool runWorkers(std::vector<std::unique_ptr<VantThread>>& workers) {
    for (auto& worker : workers) worker->start();
    bool ok = true;
    for (auto& worker : workers) {
        worker->join();
        ok = ok && !worker->failed();
    }
    workers.clear();
    return ok;
}

}  // namespace vantrelo
