#pragma once
// The last step of a render, writing the keyed image into the output, and the colour fills that lay
// the solid backdrop colour into the output before the subject goes over it.
//
// Every member is a band worker (job, band index, band count, progress key) over a BandJob
// (kernels/band_job.h) run with runBands: destination = the output image, source = the keyed image
// (an ImageBuffer of four channels, float RGBA for a float output, 16-bit RGBA for 16- and 8-bit
// outputs) or, for the fills, a pointer to four 16-bit values R, G, B, A; area = the rectangle to
// write (band k of n takes its rows as bandRange says).  Images are addressed at their global
// coordinates, so the keyed image only has to cover the area.  The output advances by its own
// channel count; the "x3" / "3" members write R, G, B only and are taken for outputs with fewer
// than four channels, the others need four.  Nothing is checked or reported: the render chooses
// the member by view mode, transparency, depth and channel count, and guarantees the coverage.
//
// Per pixel, s the keyed pixel, o the output pixel, a = s.A; integer arithmetic in unsigned 32 bits
// with truncating quotients:
//   copy        o = s (8-bit: each value shifted right by 8)
//   matte grey  o.R = o.G = o.B = a (8-bit: a >> 8); o.A = the channel maximum
//   over float  o.c = a s.c + (1 - a) o.c; o.A = (1 - a) o.A + a
//   over 16     blendRgba16Over16 (plugin/keying_pass.h); x3: the same colour formula
//   over 8      o.c = ((s.c a >> 8) + o.c (65535 - a)) / 65535; o.A = (o.A (65535 - a) + 255 a) / 65535
//               (the keyed value stays 16-bit until the one division: opaque 65535 gives 255)
//   fill        o = colour (8-bit: the high byte of each value; float: value / 65535 in single
//               precision, so 65535 is exactly 1 and 32768 is 0.50000763)
//   over colour the fill, then over, in one pass that never reads the output: the source is a
//               KeyedOverColour (the keyed image and the four fill values), so a render over a
//               solid colour writes its output once instead of filling it and blending over it
//   over image  the backdrop image's pixel (all its channels), then over, in one pass that never
//               reads the output: the source is a KeyedOverImage (the keyed image and a backdrop
//               image of the output's format covering the area), in place of copying the backdrop
//               image into the output and blending over it

#include <cstdint>

#include "host/system/image_buffer.h"

namespace vantrelo {

// The source of the "over colour" members.
struct KeyedOverColour {
    const Mav::Host::System::ImageBuffer* keyed = nullptr;
    const std::uint16_t* colour = nullptr;  // R, G, B, A as the fills take them
};

// The source of the "over image" members.
struct KeyedOverImage {
    const Mav::Host::System::ImageBuffer* keyed = nullptr;
    const Mav::Host::System::ImageBuffer* backdrop = nullptr;
};

// Float outputs (their colour fills, fillColorRows4 and fillColorRows3, are in plugin/keying_pass.h).
void copyKeyedRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// 16-bit outputs.
void fillColorRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// 8-bit outputs (the keyed image is 16-bit).
void fillColorRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void copyKeyedRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void matteGreyRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverColourRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void compositeOverImageRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

}  // namespace vantrelo
