#pragma once
// The auto-mask: a complete key built from the image itself.  The backdrop colour comes from seed
// fills at the two top corners; a first key's matte, eroded and dilated by min/max filters, shows
// where the image is surely backdrop and surely subject, and their colours grow the inner and
// shrink the outer polyhedron.  It runs as the plug-in's analysis step
// (VantreloPlugin::updateAutoMask) on the source proxy, only when it is switched on and one of its
// inputs changed.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"
#include "kernels/minimax.h"

namespace vantrelo {

// The state of the seed fills.
struct AutoMaskAccumulator {
    double sum[4] = {0, 0, 0, 0};
    std::uint64_t count = 0;
    std::uint16_t* samples = nullptr;  // RGBA16 list, room for every pixel twice
};

// pixels: width x height packed RGBA16.  outColour receives the backdrop colour found; the key
// state is changed only on success.  False for an image under 16 x 16 or corners that found
// nothing.
bool autoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
              std::uint16_t outColour[4], KeyState* state, float radius);
bool analyseAutoMask(const Quelt_Environ& environment, const std::uint16_t* pixels,
                     std::ptrdiff_t width, std::ptrdiff_t height, std::uint16_t outColour[4],
                     KeyState* state, float radius);
// The engine's histogram refinement unless the colour counts as grey; always true.
bool refineAutoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    const std::uint16_t colour[4], KeyState* state, int unusedA, int unusedB,
                    float ease, float correction);
// max - min < max / 20 over R, G, B.
bool isNearGrey(const std::uint16_t colour[4]);

// Sets the mask bits of the region connected to the seed whose colour matches the seed's, and
// accumulates their colours (mask: one bit a pixel, leftmost in the most significant bit).
void seedFillMask(std::uint8_t* mask, std::ptrdiff_t maskRowBytes, const std::uint16_t* pixels,
                  std::ptrdiff_t pixelRowBytes, const SpanRect& rect, std::int64_t seedX,
                  std::int64_t seedY, AutoMaskAccumulator& accumulator);
bool matchesSeedColour(AutoMaskAccumulator& accumulator, const std::uint16_t* seed,
                       const std::uint16_t* pixel);

}  // namespace vantrelo
