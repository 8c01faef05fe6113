#pragma once
// Matte defocus and shrink: a separable exponential-window blur of the matte (or of R, G and B),
// followed, for the matte, by an optional push of the softened edge inward and a shrink.
//
// Pixels belong to the caller; every driver works in place.  Images are packed rows of 16-bit
// RGBA, float RGBA (matte on 0..maxValue) or, for the 8-bit members, three-byte B, G, R pixels
// with the matte in a separate byte array.
//
// Each operation returns true when the data holds its result, which includes the cases with
// nothing to do (an empty image, radius 0 and shrink 0).  It returns false, with the data left
// exactly as it was, when its arguments cannot be used (a null buffer with a non-empty size, a
// negative size, a float maximum that is not a positive finite number) or a scratch buffer could
// not be had from the engine allocator.
//
// Every driver blurs inside a padded copy of the image, r pixels wider on each side: edge pixels
// are repeated outward and the four r x r corners stay zero, which lowers the softened matte near
// the image corners.  That treatment is part of the result callers see and is kept as it is.

#include <cstddef>
#include <cstdint>

namespace vantrelo {

// Constants of the line filter for radius r >= 1: a sample at distance d <= r weighs base^(d+1),
// and the window sum is normalised by 1 / (2 sum).
struct DefocusKernel {
    float base;        // single-precision 0.04^(1/r)
    float tailWeight;  // single-precision base^(r+1)
    double sum;        // base^1 + ... + base^r, in double precision
    float normaliser;  // 1 / float(2 sum)
};
DefocusKernel defocusKernel(int radius);

// Matte drivers.  A negative radius counts as 0; the shrink is clamped to [0, 1] (NaN gives 0).
// The 16-bit driver splits its two passes over the engine's workers when there are at least two
// and the padded image is at least 10 x 10; the result is identical either way.
bool defocusMatte16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius,
                    int blurInward, float shrink);
bool defocusMatteFloat(float maxValue, float* image, std::ptrdiff_t width, std::ptrdiff_t height,
                       int radius, int blurInward, float shrink);
bool defocusMatte8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t height, int radius,
                   int blurInward, float shrink);

// Colour drivers: blur R, G and B; alpha (16-bit, float) is never touched.  Calling thread only.
bool defocusColour16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius);
bool defocusColourFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius);
bool defocusColour8(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius);

// Single passes over a padded buffer, in place.  An X pass filters rowCount rows of rowLength
// pixels; a Y pass filters columnCount columns of columnLength pixels, consecutive samples of a
// column being columnCount pixels apart.  Every sample of every line is stored, padding included.
// A pass does nothing (and succeeds) when its width or its third argument is 0.
bool doDefocusMaskX(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius);
bool doDefocusMaskY(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);
bool defocusMaskXFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius);
bool defocusMaskYFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);
bool defocusMaskX8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                   std::ptrdiff_t rowLength, int radius);
bool defocusMaskY8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t height,
                   std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);

bool defocusColourX16(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                      std::ptrdiff_t rowLength, int radius);
bool defocusColourY16(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                      std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);
bool defocusColourXFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                         std::ptrdiff_t rowLength, int radius);
bool defocusColourYFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                         std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);
bool defocusColourX8(std::uint8_t* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                     std::ptrdiff_t rowLength, int radius);
bool defocusColourY8(std::uint8_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                     std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius);

}  // namespace vantrelo
