#pragma once
// Separable box blur of packed three-channel (R, G, B) images, the blur of the grain filter.
//
// The window of each pass is 2 r + 1 samples with r = trunc(float((size >> 1) - 1) x factor)
// along that axis; samples beyond an edge repeat the edge sample.  Integer images keep exact
// running sums and store trunc(sum x w) with w = 1 / (2 r + 1) in double precision, so a uniform
// value can come out one lower; float images keep single-precision running sums.  When the
// horizontal radius is 0 nothing is blurred at all, whatever the height.
//
// Source and destination may be the same buffer.  Each returns true when the destination holds
// the result and false, with the destination untouched, for unusable arguments (a null buffer
// with a non-empty size, a negative size) or when its scratch rows could not be had from the
// engine allocator.  The factor is clamped to [0, 1] (NaN gives 0).

#include <cstddef>
#include <cstdint>

namespace vantrelo {

bool boxBlurRgb16(float factor, const std::uint16_t* source, std::uint16_t* destination, std::ptrdiff_t width,
                  std::ptrdiff_t height);
bool boxBlurRgbFloat(float factor, const float* source, float* destination, std::ptrdiff_t width,
                     std::ptrdiff_t height);
bool boxBlurRgb8(float factor, const std::uint8_t* source, std::uint8_t* destination, std::ptrdiff_t width,
                 std::ptrdiff_t height);

// The pass radius for an axis of `size` pixels.
std::ptrdiff_t boxBlurRadius(float factor, std::ptrdiff_t size);

}  // namespace vantrelo
