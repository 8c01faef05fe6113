#pragma once
// The status an engine entry point reports for an exception that reached it: the engine throws
// nothing to its callers, so memory that the C++ library could not have becomes OutOfMemory and
// anything else Failed.

#include <new>

#include "engine/keying/processing.h"

namespace vantrelo {

// The status of the exception being handled; call it only inside a catch block.
inline ProcessStatus caughtStatus() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return ProcessStatus::OutOfMemory;
    } catch (...) {
        return ProcessStatus::Failed;
    }
}

// body()'s status, or the status of what it threw.
template <class Body>
ProcessStatus guardedStatus(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return caughtStatus();
    }
}

}  // namespace vantrelo
