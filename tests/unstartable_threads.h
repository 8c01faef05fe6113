#pragma once
// Makes every new thread unstartable for the helper's lifetime, by a default stack far larger than
// any address space: for the tests that show a band whose thread cannot start still runs, on the
// calling thread.  Shared by the engine's band-worker and the host's fork-join tests; header-only.

#include <pthread.h>

#include <cstddef>

namespace test_threads {

class UnstartableThreads {
public:
    UnstartableThreads() {
        saved_ok_ = ::pthread_getattr_default_np(&saved_) == 0;
        if (!saved_ok_) return;  // nothing to put back, so nothing is changed
        pthread_attr_t huge;
        ::pthread_attr_init(&huge);
        ok_ = ::pthread_attr_setstacksize(&huge, std::size_t{1} << 60) == 0 &&
              ::pthread_setattr_default_np(&huge) == 0;
        ::pthread_attr_destroy(&huge);
    }
    ~UnstartableThreads() {
        if (!saved_ok_) return;
        ::pthread_setattr_default_np(&saved_);
        ::pthread_attr_destroy(&saved_);
    }
    UnstartableThreads(const UnstartableThreads&) = delete;
    UnstartableThreads& operator=(const UnstartableThreads&) = delete;
    // False when the default could not be changed; the test then has nothing to show.
    bool ok() const { return ok_; }

private:
    pthread_attr_t saved_{};
    bool saved_ok_ = false;
    bool ok_ = false;
};

}  // namespace test_threads
