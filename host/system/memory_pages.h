#pragma once
// Handing memory back to the system: while it stays allocated, for large images whose rows are
// done with before the block is freed; and as soon as a large block is freed.

#include <malloc.h>
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

// From now on every block of a mebibyte or more is mapped for itself and goes back to the system
// as soon as it is freed.  The C library would otherwise raise that threshold to the largest block
// freed so far (up to 32 MiB) and then keep such blocks in its per-thread arenas after they are
// freed: the scratch rows and reduced copies of a batch's inputs, freed on one thread and
// allocated on another, held more than a third of an image beside the three the batch allows.
inline void returnLargeBlocksWhenFreed() noexcept { ::mallopt(M_MMAP_THRESHOLD, 1 << 20); }

}  // namespace Mav::Host::System
