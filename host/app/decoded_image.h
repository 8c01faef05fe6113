#pragma once
// A decode's outcome as the decoding helper hands it to the program: one block of shared memory
// (a memfd) that the helper fills and the program maps.  The block holds the problem text, the
// page count and the bitmap with everything the writer keeps of an old file: type, size, masks,
// palette, transparency, background colour, resolution, colour profile and the metadata of every
// model; the pixels follow, rows bottom-up as FreeImage holds them, and stay in the mapped memory
// (the bitmap wraps them, no copy).
//
// The helper is ours, but it ran a decoder on a file that may be damaged before it wrote the
// block, so the program checks every length and offset against the block before it trusts it.

#include "host/app/image_io_support.h"

namespace Mav::Host::App::ImageIo {

// How the helper ends.  Answered: the block is written (a file FreeImage refused is an answer
// too, its problem told in the block).  The others leave no usable block: a request it refuses
// (malformed, or of a type that is not a subject image's), a picture whose header promises more
// than the machine's memory or memory that cannot be had for the block, and a block that cannot
// be written for another reason (a file size limit the program was started under).
enum HelperExit : int { kAnswered = 0, kRefusedRequest = 2, kNoMemory = 3, kCannotAnswer = 4 };

// The descriptors the helper finds open: the block, and a pipe on which it tells the bytes of
// pixels a header promises (8 bytes, this machine's order) before it decodes them.
constexpr int kResultDescriptor = 3;
constexpr int kPromiseDescriptor = 4;

// Writes `decoded` and `pages` (-1 when they were not counted) into the file `fd` from its start.
// False, with errno set, when the memory for it cannot be had.
bool storeDecoded(int fd, const Decoded& decoded, int pages);

// Reads what storeDecoded wrote into `fd`.  False when the block is not a complete, consistent
// record; `decoded` and `pages` are then unchanged.
bool loadDecoded(int fd, Decoded& decoded, int& pages);

}  // namespace Mav::Host::App::ImageIo
