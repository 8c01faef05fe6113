#include "host/system/semaphore.h"

#include <algorithm>

namespace Mav::Host::System {

Semaphore::Semaphore(std::int64_t initialCount, std::int64_t maximumCount)
    : count_(std::clamp<std::int64_t>(initialCount, 0, std::max<std::int64_t>(maximumCount, 0))),
      maximum_(std::max<std::int64_t>(maximumCount, 0)) {}

bool Semaphore::release(std::int64_t count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count < 1 || count > maximum_ - count_) return false;
        count_ += count;
    }
    if (count == 1)
        available_.notify_one();
    else
        available_.notify_all();
    return true;
}

void Semaphore::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    available_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore::tryAcquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == 0) return false;
    --count_;
    return true;
}

}  // namespace Mav::Host::System
