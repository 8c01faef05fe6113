#pragma once
// The framework's only mutual exclusion.  Sections are re-entrant: the host lock is taken again by
// the thread that already holds it (flushing messages while a progress report waits), so a plain
// mutex would deadlock.

#include <mutex>

namespace Mav::Host::System {

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() { mutex_.lock(); }
    // False when another thread holds the section; never waits.
    bool tryEnter() { return mutex_.try_lock(); }
    void leave() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a section for a scope, so it is left on every path, exceptions included.
class LockGuard {
public:
    explicit LockGuard(CriticalSection& section) : section_(section) { section_.enter(); }
    ~LockGuard() { section_.leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace Mav::Host::System
