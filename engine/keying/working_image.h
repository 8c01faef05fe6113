#pragma once
// Whole-image scratch buffers of the processing pipelines (processing, two-key keying, automatic
// keys).  Every block comes from the engine allocator and goes back on every path out of the call,
// so a pipeline that stops half-way leaks nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/keying/key_state.h"

namespace vantrelo {

class WorkingImage {
public:
    WorkingImage() = default;
    ~WorkingImage() { engineRelease(block_); }
    WorkingImage(const WorkingImage&) = delete;
    WorkingImage& operator=(const WorkingImage&) = delete;

    // `elements` values of T, cleared when asked; false when the size overflows or the allocator
    // has nothing.  A second call releases the first block.
    template <class T>
    bool allocate(std::size_t elements, bool clear) {
        release();
        if (elements > std::numeric_limits<std::size_t>::max() / sizeof(T)) return false;
        const std::size_t bytes = elements * sizeof(T);
        block_ = engineAllocate(bytes == 0 ? 1 : bytes);
        if (!block_) return false;
        if (clear) std::memset(block_, 0, bytes);
        return true;
    }
    // A copy of `elements` values of T from source.
    template <class T>
    bool copyOf(const T* source, std::size_t elements) {
        if (!allocate<T>(elements, false)) return false;
        if (elements) std::memcpy(block_, source, elements * sizeof(T));
        return true;
    }
    void release() {
        engineRelease(block_);
        block_ = nullptr;
    }
    template <class T>
    T* as() const {
        return static_cast<T*>(block_);
    }

private:
    void* block_ = nullptr;
};

// width x height x channels as a count of elements; false for a negative size or one that does
// not fit a size_t.
inline bool imageElements(std::ptrdiff_t width, std::ptrdiff_t height, std::size_t channels, std::size_t& count) {
    if (width < 0 || height < 0) return false;
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t limit = std::numeric_limits<std::size_t>::max() / channels;
    if (h != 0 && w > limit / h) return false;
    count = w * h * channels;
    return true;
}

}  // namespace vantrelo
