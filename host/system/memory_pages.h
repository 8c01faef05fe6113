#pragma once
// Handing memory back to the system while it stays allocated, for large images whose rows are
// done with before the block is freed.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace Mav::Host::System {

// Gives the whole pages inside [begin, end) back with `advice`: MADV_DONTNEED for private memory,
// MADV_REMOVE for shared memory whose backing goes too.  The bytes there read as zeros afterwards;
// the partial pages at either end are kept.  A refusal only keeps the memory until it is freed.
inline void releaseWholePages(const void* begin, const void* end, int advice) noexcept {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0) return;
    const auto size = static_cast<std::uintptr_t>(page);
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + size - 1) / size * size;
    const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(end) / size * size;
    if (from < to) ::madvise(reinterpret_cast<void*>(from), to - from, advice);
}

}  // namespace Mav::Host::System
