#pragma once
// One plain background thread that runs a function once (the batch render).  The function has to
// report its own failures: whatever it throws is dropped at the end of the thread.

#include <cstdint>
#include <thread>

namespace Mav::Host::System {

using WorkerFunction = void (*)(void* argument);

class WorkerThread {
public:
    // A record that holds no thread.
    WorkerThread() = default;
    // Starts the thread at once.
    WorkerThread(WorkerFunction function, void* argument);
    // Joins a thread that is still running, so the record never outlives its thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Joins a thread that is still recorded as running, then starts a new one and returns its
    // identifier (never 0).  When no thread can be started, throws Mav::Exception and the record
    // stays idle.
    std::uint32_t start(WorkerFunction function, void* argument);
    // Waits for the thread without a time limit; does nothing when none is running.
    void join();

    bool running() const { return running_; }
    std::uint32_t id() const { return id_; }

private:
    std::thread thread_;
    std::uint32_t id_ = 0;
    WorkerFunction function_ = nullptr;
    void* argument_ = nullptr;
    bool running_ = false;
};

}  // namespace Mav::Host::System
