#pragma once
// Owned 32-byte-aligned memory for pixel storage, so that rows can be processed with aligned vector
// loads.  The block actually allocated is the requested size raised to a multiple of 32 bytes; the
// recorded size is the requested one.

#include <cstddef>
#include <cstdint>

namespace Mav::Host::System {

inline constexpr std::uint64_t kStorageAlignment = 32;

// multiple x ceil(value / multiple); callers pass non-negative values and a multiple of at least 1.
constexpr std::uint64_t roundUp(std::uint64_t value, std::uint64_t multiple) {
    return multiple * ((value + multiple - 1) / multiple);
}

class AlignedBuffer {
public:
    AlignedBuffer() = default;
    ~AlignedBuffer() { release(); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    // Always frees the current block first, so the old content is gone even for an equal size.
    // The new block is not cleared.  When memory runs out the new-handler is called for as long as
    // one is installed; without one BadAllocation ("bad allocation") is thrown and the buffer is
    // left empty (null pointer, size 0).
    void resize(std::uint64_t size);
    void release() noexcept;
    void swap(AlignedBuffer& other) noexcept;
    // Gives the memory of the whole pages inside [offset, offset + length) of the block back to
    // the system while the block stays allocated; those bytes read as zeros afterwards.  For parts
    // whose content nothing reads again before the block is freed.
    void discard(std::uint64_t offset, std::uint64_t length) noexcept;

    std::uint8_t* pointer() const { return pointer_; }
    std::uint64_t size() const { return size_; }
    bool empty() const { return pointer_ == nullptr; }

private:
    std::uint8_t* pointer_ = nullptr;
    std::uint64_t size_ = 0;
};

// The same as AlignedBuffer::release, out of line, for unwinding paths.
void releaseAlignedBuffer(AlignedBuffer& buffer) noexcept;

}  // namespace Mav::Host::System
