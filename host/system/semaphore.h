#pragma once
// A counting semaphore with a maximum count, as the viewer's render worker uses it (initial count 0,
// maximum 10000).  Releasing past the maximum is refused and leaves the count as it was.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Mav::Host::System {

class Semaphore {
public:
    Semaphore(std::int64_t initialCount, std::int64_t maximumCount);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds `count`; false (and no change) when the count would pass the maximum or `count` < 1.
    bool release(std::int64_t count = 1);
    // Waits without a time limit until the count is positive, then takes one.
    void acquire();
    // Takes one when the count is positive; never waits.
    bool tryAcquire();

private:
    std::mutex mutex_;
    std::condition_variable available_;
    std::int64_t count_;
    const std::int64_t maximum_;
};

}  // namespace Mav::Host::System
