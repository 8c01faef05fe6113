#pragma once
// The engine reports by status; the plug-in throws, so that a failed key or soften never reaches the
// picture a user sees or a file the batch writes.

#include "engine/keying/processing.h"

namespace vantrelo {

// Nothing for Done; std::bad_alloc for OutOfMemory; Mav::Exception ("Keying failed.") otherwise.
void throwOnEngineFailure(ProcessStatus status);

}  // namespace vantrelo
