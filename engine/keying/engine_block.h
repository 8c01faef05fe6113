#pragma once
// Scratch blocks of the engine: the whole-image buffers of the processing pipelines and the tables,
// planes and lists of the effects.  Every block comes from the engine allocator, is checked, and
// goes back on every path out of the call, so an operation that stops half-way leaks nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/keying/key_state.h"

namespace vantrelo {

class EngineBlock {
public:
    EngineBlock() = default;
    ~EngineBlock() { engineRelease(block_); }
    EngineBlock(const EngineBlock&) = delete;
    EngineBlock& operator=(const EngineBlock&) = delete;

    // `elements` values of T, cleared unless the caller writes every byte itself; false when the
    // size overflows or the allocator has nothing.  A second call releases the first block.
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

// An image an operation can work on: non-negative sizes and, unless it is empty, a buffer.
inline bool usableImage(const void* data, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (width < 0 || height < 0) return false;
    return data || width == 0 || height == 0;
}

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
