#pragma once
// Scratch memory of the effects, internal to them.  Every block comes from the engine allocator,
// is checked, and goes back on every path out of the effect.

#include <cstddef>
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

    // count elements of `size` bytes, cleared unless the caller writes every byte itself; false
    // when the size overflows or the allocator has nothing.
    bool allocate(std::size_t count, std::size_t size, bool clear = true) {
        if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return false;
        block_ = engineAllocate(count * size);
        if (!block_) return false;
        if (clear) std::memset(block_, 0, count * size);
        return true;
    }
    template <class T>
    T* as() const {
        return static_cast<T*>(block_);
    }

private:
    void* block_ = nullptr;
};

// An image the effects can work on: non-negative sizes and, unless it is empty, a buffer.
inline bool usableImage(const void* data, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (width < 0 || height < 0) return false;
    return data || width == 0 || height == 0;
}

// width x height x channels elements, or false when that does not fit a size_t.
inline bool elementCount(std::ptrdiff_t width, std::ptrdiff_t height, std::size_t channels, std::size_t& count) {
    if (width < 0 || height < 0) return false;
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t limit = std::numeric_limits<std::size_t>::max() / channels;
    if (h != 0 && w > limit / h) return false;
    count = w * h * channels;
    return true;
}

}  // namespace vantrelo
