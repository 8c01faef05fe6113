#pragma once
// A thread that lives for one band of a fork-join call, started on a stack that outlives it.
//
// Both the engine and the host start their band threads per call and keep no pool of threads;
// an OK on a shoot starts a few hundred of them per photograph.  A stack the C library maps for
// a thread is mapped, guarded and, when the thread ends, handed back to the system; each of
// those changes to the address space interrupts every processor the program runs on (their
// address translations must be flushed), which the render's bands on those processors pay for.
// So the stacks are kept: a band thread takes a stack of the usual size from a process-wide
// cache, with a guard page below it that is mapped once, and gives it back when it is joined.
// Only the memory is kept; each band still gets a thread of its own.
//
// A thread that cannot be started (the system refuses it, or no stack can be mapped) reports it
// from start(), and the caller runs the band itself.  Throws nothing.

#include <pthread.h>

#include <cstddef>

namespace vantrelo::base {

class BandThread {
public:
    BandThread() = default;
    ~BandThread() { join(); }
    BandThread(const BandThread&) = delete;
    BandThread& operator=(const BandThread&) = delete;

    // Runs entry(argument) on a new thread; false when none could be started (nothing runs).
    // A thread started before must have been joined.
    bool start(void (*entry)(void*), void* argument) noexcept;
    // Waits for the thread and keeps its stack for the next one; at once when none runs.
    void join() noexcept;
    bool running() const { return stack_ != nullptr; }

    // The bytes of each kept stack, the C library's default for a thread; and how many the cache
    // keeps at most (more at once are unmapped when their threads are joined).
    static std::size_t stackBytes();
    static std::size_t keptStacks();

private:
    static void* threadEntry(void* self) noexcept;

    pthread_t thread_{};
    void* stack_ = nullptr;  // the cache's block: guard page, then the stack
    void (*entry_)(void*) = nullptr;
    void* argument_ = nullptr;
};

}  // namespace vantrelo::base
