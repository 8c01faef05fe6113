#pragma once
// Backdrop colour detection from a hue histogram of a 16-bit RGBA image.
//
// Every clearly coloured pixel (chroma above 3000 units) is counted by hue into 256 bins (hues
// fill bins 0 to 128; blue lies near 42, cyan near 64, green near 85).  Peaks between bins 24 and
// 100 are scored by image coverage x tightness x mean chroma, and the mean colour of the best
// peak's pixels is the backdrop.  Sums over the image are 64-bit, so the result does not drift on
// large photographs.

#include <cstddef>
#include <cstdint>

namespace vantrelo {

// Writes the detected backdrop colour (R, G, B) to outColour and returns 1, or returns -1 when no
// peak qualifies (also for missing pixels or output or an empty image), or -2 when the image could
// not be examined: its working memory was refused (or its size is too large to hold any).  A -2
// says nothing about the image, so callers must not take it for "no backdrop".  With lowerBounds a
// colour passes only when each channel is above its bound; with upperBounds only when each is
// below it; a peak that fails is not chosen again.  When the result is -1 after a rejection,
// outColour holds the last rejected mean; after -2 it is unwritten.
int detectBackdropColour(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                         std::uint16_t* outColour, const std::int32_t* lowerBounds,
                         const std::int32_t* upperBounds);

// Tightness of a cluster of chroma coordinates: (65535 - mean distance from the cluster mean) /
// 65535, so 1 for a single point.  meanChroma receives the length of the mean / 65535.  An empty
// list scores 0 with mean chroma 0.
float chromaSpread(const std::int32_t* along, const std::int32_t* across, std::ptrdiff_t count, float* meanChroma);

}  // namespace vantrelo
