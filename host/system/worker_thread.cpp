#include "host/system/worker_thread.h"

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "host/system/exceptions.h"

namespace Mav::Host::System {

namespace {

void workerEntry(WorkerFunction function, void* argument) noexcept {
    try {
        function(argument);
    } catch (...) {
        // The starter is not told; the function reports its own failures.
    }
}

std::uint32_t nextWorkerId() {
    static std::atomic<std::uint32_t> counter{0};
    std::uint32_t id = ++counter;
    while (id == 0) id = ++counter;  // 0 means "no thread"
    return id;
}

}  // namespace

WorkerThread::WorkerThread(WorkerFunction function, void* argument) { start(function, argument); }

WorkerThread::~WorkerThread() { join(); }

std::uint32_t WorkerThread::start(WorkerFunction function, void* argument) {
    join();
    function_ = function;
    argument_ = argument;
    try {
        thread_ = std::thread(workerEntry, function, argument);
    } catch (const std::bad_alloc&) {
        throwBadAllocation();
    } catch (const std::exception& e) {
        throw Mav::Exception(std::string("Mav::Host::System::WorkerThread::start: ") +
                             "Unable to start a thread (" + e.what() + ").");
    }
    id_ = nextWorkerId();
    running_ = true;
    return id_;
}

void WorkerThread::join() {
    if (!running_) return;
    thread_.join();
    running_ = false;
}

}  // namespace Mav::Host::System
