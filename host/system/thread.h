#pragma once
// The thread base of the host: it counts the processors once and caches the count.  The host
// derives from it; callers without a host construct one on the stack.

#include <cstdint>

namespace Mav::Host::System {

class Thread {
public:
    Thread() = default;

    // The number of processors, asked of the system on the first call and cached.  The first call
    // happens during start-up on the user-interface thread, before any other thread exists, so
    // the cache takes no lock.
    std::uint64_t processorCount();

private:
    std::uint64_t processorCount_ = 0;  // 0: not counted yet
};

}  // namespace Mav::Host::System
