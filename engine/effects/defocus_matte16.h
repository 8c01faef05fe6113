#pragma once
// The 16-bit matte defocus as two band bodies, internal to the effects (callers use defocus.h).
//
// The result is that of the padded buffer, the X pass over every padded row, the Y pass over every
// padded column and the re-level of the centre, but with the copying folded into the passes: the
// X pass reads the image's matte through the padding rules straight into its lane blocks, and
// each band of the Y pass re-levels its own columns into the image when it is done.  Only the
// matte is padded (a plane of 16-bit samples), and the Y pass skips the padding columns, whose
// results the driver would discard.  Every padded sample still goes through the X pass, is stored
// as 16-bit and is read back by the Y pass, so the values are exactly those of the literal route.
//
// Rows of the X pass and columns of the Y pass are independent, so both can be split into bands
// (defocus_workers.h) with bit-identical results.

#include <cstddef>
#include <cstdint>

#include "engine/effects/defocus.h"

namespace vantrelo {

struct Matte16Defocus {
    std::uint16_t* image;  // RGBA pixels; the matte is read and written at +3
    std::ptrdiff_t width, height;
    int radius;
    DefocusKernel kernel;
    std::uint16_t* plane;        // (width + 2 radius) x (height + 2 radius) samples
    const std::uint16_t* level;  // re-level of every 16-bit value, or null for none

    std::ptrdiff_t padWidth() const { return width + 2 * static_cast<std::ptrdiff_t>(radius); }
    std::ptrdiff_t padHeight() const { return height + 2 * static_cast<std::ptrdiff_t>(radius); }
};

// Floats of scratch that one band of either pass needs.
std::size_t matte16ScratchFloats(const Matte16Defocus& job);

// X pass of the padded rows above and below the image (all alike: zero corners around a copy of
// the first or last image row).  Runs once, before the bands of the X pass.
void defocusMatte16EdgeRows(const Matte16Defocus& job, float* scratch);
// X pass of the padded rows of image rows first .. first + count - 1.
void defocusMatte16Rows(const Matte16Defocus& job, std::ptrdiff_t first, std::ptrdiff_t count, float* scratch);
// Y pass of the padded columns of image columns first .. first + count - 1, re-levelled into the
// image's matte.
void defocusMatte16Columns(const Matte16Defocus& job, std::ptrdiff_t first, std::ptrdiff_t count,
                           float* scratch);

}  // namespace vantrelo
