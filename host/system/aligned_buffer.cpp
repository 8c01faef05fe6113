#include "host/system/aligned_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "host/system/exceptions.h"
#include "host/system/memory_pages.h"

namespace Mav::Host::System {

void AlignedBuffer::resize(std::uint64_t size) {
    release();
    if (size == 0) return;
    // Rounding a size this close to the top of the range would wrap to a tiny block.
    if (size > std::numeric_limits<std::uint64_t>::max() - (kStorageAlignment - 1) ||
        size > std::numeric_limits<std::size_t>::max() - (kStorageAlignment - 1))
        throwBadAllocation();
    for (;;) {
        const std::size_t blockSize = static_cast<std::size_t>(roundUp(size, kStorageAlignment));
        if (void* block = std::aligned_alloc(kStorageAlignment, blockSize)) {
            pointer_ = static_cast<std::uint8_t*>(block);
            size_ = size;
            return;
        }
        // As operator new does: give the new-handler a chance to free memory, then try again.
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throwBadAllocation();
        handler();
    }
}

void AlignedBuffer::release() noexcept {
    if (!pointer_) return;
    std::free(pointer_);
    pointer_ = nullptr;
    size_ = 0;
}

void AlignedBuffer::discard(std::uint64_t offset, std::uint64_t length) noexcept {
    if (!pointer_ || offset >= size_) return;
    length = std::min(length, size_ - offset);
    releaseWholePages(pointer_ + offset, pointer_ + offset + length, MADV_DONTNEED);
}

void AlignedBuffer::swap(AlignedBuffer& other) noexcept {
    std::swap(pointer_, other.pointer_);
    std::swap(size_, other.size_);
}

void releaseAlignedBuffer(AlignedBuffer& buffer) noexcept { buffer.release(); }

}  // namespace Mav::Host::System
