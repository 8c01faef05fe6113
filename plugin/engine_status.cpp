#include "plugin/engine_status.h"

#include "host/system/exceptions.h"

namespace vantrelo {

void throwOnEngineFailure(ProcessStatus status) {
    switch (status) {
    case ProcessStatus::Done:
        return;
    case ProcessStatus::OutOfMemory:
        Mav::Host::System::throwBadAllocation();
    case ProcessStatus::BadArguments:
    case ProcessStatus::Failed:
        break;
    }
    throw Mav::Exception("Keying failed.");
}

}  // namespace vantrelo
