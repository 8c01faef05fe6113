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

VantThread::~VantThread() { join(); }

void VantThread::runGuarded() noexcept {
    try {
        run();
    } catch (...) {
        failed_ = true;
    }
}

void VantThread::start() noexcept {
    // std::thread reports a refused thread as std::system_error, but it also allocates the
    // thread's start record and so may throw std::bad_alloc; either way no thread runs the band.
    try {
        thread_ = std::thread([this] { runGuarded(); });
    } catch (...) {
        runGuarded();
    }
}

void VantThread::join() {
    if (thread_.joinable()) thread_.join();
}

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
