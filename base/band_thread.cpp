#include "base/band_thread.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <mutex>

namespace vantrelo::base {

namespace {

std::size_t pageBytes() {
    static const std::size_t page = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
    }();
    return page;
}

// More than the bands of the render and of the stage helpers' copies running at once, with
// room for nested calls.
constexpr std::size_t kKeptStacks = 128;

class StackCache {
public:
    void* take() noexcept {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (count_ > 0) return blocks_[--count_];
        }
        void* block = ::mmap(nullptr, blockBytes(), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (block == MAP_FAILED) return nullptr;
        // The lowest page stays unmapped for access, so that an overflowing band faults
        // instead of writing over another stack.
        if (::mprotect(block, pageBytes(), PROT_NONE) != 0) {
            ::munmap(block, blockBytes());
            return nullptr;
        }
        return block;
    }
    void give(void* block) noexcept {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (count_ < blocks_.size()) {
                blocks_[count_++] = block;
                return;
            }
        }
        ::munmap(block, blockBytes());
    }
    static std::size_t blockBytes() { return BandThread::stackBytes() + pageBytes(); }

private:
    std::mutex mutex_;
    std::array<void*, kKeptStacks> blocks_{};
    std::size_t count_ = 0;
};

// Never destroyed: a band may still be joined while static objects go at exit.
StackCache& stackCache() {
    static auto* cache = new StackCache;
    return *cache;
}

}  // namespace

std::size_t BandThread::stackBytes() {
    static const std::size_t bytes = [] {
        std::size_t size = 8u << 20;
        pthread_attr_t defaults;
        if (::pthread_getattr_default_np(&defaults) == 0) {
            std::size_t reported = 0;
            if (::pthread_attr_getstacksize(&defaults, &reported) == 0 && reported > 0)
                size = reported;
            ::pthread_attr_destroy(&defaults);
        }
        const std::size_t page = pageBytes();
        size = (size + page - 1) / page * page;
        const auto least = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        return size < least ? least : size;
    }();
    return bytes;
}

std::size_t BandThread::keptStacks() { return kKeptStacks; }

void* BandThread::threadEntry(void* self) noexcept {
    auto* thread = static_cast<BandThread*>(self);
    thread->entry_(thread->argument_);
    return nullptr;
}

bool BandThread::start(void (*entry)(void*), void* argument) noexcept {
    if (stack_) return false;
    void* block = stackCache().take();
    if (!block) return false;
    entry_ = entry;
    argument_ = argument;
    pthread_attr_t attributes;
    bool started = false;
    if (::pthread_attr_init(&attributes) == 0) {
        if (::pthread_attr_setstack(&attributes, static_cast<char*>(block) + pageBytes(),
                                    stackBytes()) == 0)
            started = ::pthread_create(&thread_, &attributes, &BandThread::threadEntry, this) == 0;
        ::pthread_attr_destroy(&attributes);
    }
    if (!started) {
        stackCache().give(block);
        return false;
    }
    stack_ = block;
    return true;
}

void BandThread::join() noexcept {
    if (!stack_) return;
    ::pthread_join(thread_, nullptr);
    // The thread has ended once it is joined: nothing runs on its stack any more.
    stackCache().give(stack_);
    stack_ = nullptr;
}

}  // namespace vantrelo::base
