#include "host/system/thread.h"

#include "host/system/system_info.h"

namespace Mav::Host::System {

std::uint64_t Thread::processorCount() {
    if (processorCount_ == 0) processorCount_ = systemProcessorCount();
    return processorCount_;
}

}  // namespace Mav::Host::System
