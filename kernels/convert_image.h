#pragma once
// Bringing an image of any depth (8-bit, 16-bit, float) and of three or more channels into the
// keyer's working format: 16-bit RGBA, or float RGBA when a float image goes into a float buffer.

#include <cstdint>

#include "kernels/band_job.h"

namespace vantrelo {

// Converts the source's pixels over the destination's bounds into the destination, on all
// processors of the host.  The destination must be an allocated 4-channel buffer, 16-bit unless
// both images are float; the source must have 3 or more channels of 8, 16 or 32 bits and cover
// the destination's bounds (its own bounds, row bytes and channel count may differ).  A
// destination with empty bounds is left alone.  Anything else throws Mav::Exception before a pixel
// is touched.
//
// Per channel: 8-bit v becomes v x 257; 16-bit is copied; float into float is copied bit for bit
// (values outside 0..1 kept); float into 16-bit goes through floatPixelToRgba16.  A 3-channel
// source gets an opaque alpha (65535 or 1.0); of a source with more than four channels the first
// four are read.
void convertImageTo16(SystemHost& host, const ImageBuffer& source, ImageBuffer& destination);

// One float RGBA pixel to 16-bit RGBA: each channel clamped to [0, 1] (NaN gives 0), times 65535 in
// single precision, truncated.  1.0 gives 65535, 0.99999 gives 65534, 0.5 gives 32767.
void floatPixelToRgba16(std::uint16_t* destination, const float* source);

// The band workers of convertImageTo16, each over a BandJob whose source and destination are
// image buffers; one per pair of formats, so the pixel loop carries no format test.  "Rgba"
// sources are read as the first four of their channels.
void copyRowsRgbaFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyRowsRgba16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void convertRowsRgba8To16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void convertRowsRgbToRgbaFloat(void* job, std::uint64_t index, std::uint64_t count,
                               std::uint64_t key);
void convertRowsRgb16ToRgba16(void* job, std::uint64_t index, std::uint64_t count,
                              std::uint64_t key);
void convertRowsRgb8ToRgba16(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
void convertRowsRgbaFloatTo16(void* job, std::uint64_t index, std::uint64_t count,
                              std::uint64_t key);
void convertRowsRgbFloatToRgba16(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t key);

}  // namespace vantrelo
