#pragma once
// How many inputs the batch may hold at once: each input in the batch holds its decoded image and
// its result, and the batch reads one ahead and writes one behind the one it renders only while
// the machine's memory holds them all.

#include <cstdint>
#include <vector>

namespace Mav::Host::App {

// Whether an input whose source and result take `footprint` bytes may join the inputs held now
// (their footprints in `held`), with at most `depth` inputs at once and `available` bytes of
// memory (0: not known, no limit).  With nothing held every input may start; an input that takes
// more than a third of the memory is held alone, and nothing joins it.
bool batchMayHold(const std::vector<std::uint64_t>& held, std::uint64_t footprint, int depth,
                  std::uint64_t available);

}  // namespace Mav::Host::App
