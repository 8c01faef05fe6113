#pragma once
// Two-key keying: one image keyed with two keys and the results merged.  The second key's matte,
// softened with its edge pushed inward, decides where the result is the second key's alone (where
// it is fully opaque) and how much of it covers the first key's result elsewhere; the first key is
// keyed with the second key's fully opaque pixels masked out.  So one key can give the solid body
// of the subject and the other its edges.
//
// Images are those of the processing entry points (processing.h).  Unlike those, these operations
// compile and release both states themselves: neither may be compiled when the call starts, and
// both end it released, whatever the result.  When the two keys have the same radii, the second is
// first shaped automatically from the image (middle and outer shrink around its backdrop colour);
// the first key's radii are never changed.
//
// Results are those of the processing entry points: anything but Done means the output must not be
// used.

#include <cstddef>
#include <cstdint>

#include "engine/effects/crop_insets.h"
#include "engine/keying/key_state.h"
#include "engine/keying/processing.h"

namespace vantrelo {

// 16-bit RGBA.  The merge, per pixel with a the softened second matte: a = 0 keeps the first
// key's pixel; a = 65535 takes the second key's colour with matte 65535; otherwise, with
// f = a / 65535, colour trunc(second f + first (1 - f)) and matte min(trunc(first (1 - f) + a),
// 65535).
ProcessStatus mergeTwoKeys16(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                             const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                             KeyState* first, KeyState* second, const CropInsets* insets, int matteRadius,
                             float matteShrink);

// Float RGBA on fullScale (see processImageFloat).  Image, background and mask are brought to the
// 16-bit scale once, in place, and both keys key the same scaled image; the output's colour comes
// back on fullScale, its matte on 0..65535.  The merge works in float without truncation.
ProcessStatus mergeTwoKeysFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                std::ptrdiff_t width, std::ptrdiff_t height, KeyState* first, KeyState* second,
                                const CropInsets* insets, int matteRadius, float matteShrink);

// The second key's softened matte alone, as a grey image: every output pixel has R = G = B = A.
// The first key is only compared with the second, never keyed.
ProcessStatus secondKeyMatte16(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                               const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                               const KeyState* first, KeyState* second, const CropInsets* insets, int matteRadius,
                               float matteShrink);
ProcessStatus secondKeyMatteFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                  std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* first,
                                  KeyState* second, const CropInsets* insets, int matteRadius, float matteShrink);

}  // namespace vantrelo
