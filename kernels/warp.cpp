#include "kernels/warp.h"

#include <string>

#include "kernels/kernel_checks.h"
#include "kernels/warp_band.h"

namespace vantrelo::warp_detail {

namespace {

// Beyond 2^24 single precision no longer holds every integer coordinate, and the sampling range
// test would let a block start outside the source.
constexpr std::int64_t kCoordinateLimit = std::int64_t{1} << 24;

bool withinLimit(const Rect& r) {
    auto ok = [](std::int32_t v) { return v >= -kCoordinateLimit && v <= kCoordinateLimit; };
    return ok(r.x0) && ok(r.y0) && ok(r.x1) && ok(r.y1);
}

}  // namespace

void checkWarp(const char* where, const ImageBuffer& destination, const ImageBuffer& source,
               int destinationBits, int sourceBits, int sourceChannels) {
    if (&destination == &source) kernelFailure(where, "the source is the destination.");
    if (destination.bitsPerChannel != destinationBits)
        kernelFailure(where, "the destination must have " + std::to_string(destinationBits) +
                                 " bits per channel.");
    if (destination.channels != 3 && destination.channels != 4)
        kernelFailure(where, "the destination must have 3 or 4 channels.");
    requirePixels(where, "destination", destination);
    if (source.bitsPerChannel != sourceBits || source.channels != sourceChannels)
        kernelFailure(where, "the source must have " + std::to_string(sourceChannels) +
                                 " channels of " + std::to_string(sourceBits) + " bits.");
    if (source.firstPixel) requirePixels(where, "source", source);
    if (!withinLimit(destination.bounds) || !withinLimit(source.bounds))
        kernelFailure(where, "image coordinates beyond 16777216 are not supported.");
}

}  // namespace vantrelo::warp_detail
