#pragma once
// The grain filter: paints everything outside the crop rectangle with the key's backdrop colour,
// then box-blurs R, G and B by a small fraction of the image size (box_blur.h).  The engine runs
// it on a copy of its input before keying.
//
// The level is the key's grainLevel: 0 is off, 1, 2 and 3 blur by 0.01, 0.02 and 0.03 of half
// the image size along each axis; levels outside 0..3 are clamped.  An image narrower than
// 202 pixels (level 1; 102 at level 2, 70 at level 3) gets no blur, but still gets the fill and,
// in 16-bit and float, opaque alpha.  Insets are clipped to the image (crop_insets.h); no record
// keeps the whole image.
//
// Each returns true when the image holds the result (level 0 included: it leaves the image
// untouched, alpha too) and false, with the image untouched, when the arguments cannot be used
// (no key state, a null image with a non-empty size, a negative size) or its scratch rows could
// not be had from the engine allocator.  Every call runs on the calling thread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/effects/crop_insets.h"

namespace vantrelo {

struct KeyState;

// 16-bit RGBA; alpha becomes 65535.
bool removeGrain16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                   const CropInsets* insets);
// Float RGBA on the engine's 0..65535 scale; alpha becomes 65535.0.
bool removeGrainFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                      const CropInsets* insets);
// Three-byte B, G, R pixels; there is no alpha.
bool removeGrain8(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                  const CropInsets* insets);

// The blur factor of a grain level (clamped to 0..3).
float grainFactor(std::int32_t level);

// Write the fill pixel to every pixel outside columns x0..x1 and rows y0..y1 (inclusive), all of
// its channels.  The bounds are clipped to the image; an empty rectangle fills everything.
bool fillOutsideRect16(std::uint16_t* image, std::array<std::uint16_t, 4> fill, std::ptrdiff_t x0,
                       std::ptrdiff_t x1, std::ptrdiff_t y0, std::ptrdiff_t y1, std::ptrdiff_t width,
                       std::ptrdiff_t height);
bool fillOutsideRectFloat(float* image, const float* fill, std::ptrdiff_t x0, std::ptrdiff_t x1,
                          std::ptrdiff_t y0, std::ptrdiff_t y1, std::ptrdiff_t width, std::ptrdiff_t height);
// fill is three bytes, blue first.
bool fillOutsideRect8(std::uint8_t* image, const std::uint8_t* fill, std::ptrdiff_t x0, std::ptrdiff_t x1,
                      std::ptrdiff_t y0, std::ptrdiff_t y1, std::ptrdiff_t width, std::ptrdiff_t height);

}  // namespace vantrelo
