#pragma once
// Keying of float RGBA and 8-bit pixels with the key model of the 16-bit path, and the 3 x 3
// median by luma that the sampling tools use to smooth a sampled block.
//
// Float pixels are four floats R, G, B, A on the 16-bit scale (0..65535); nothing is clamped, so a
// pushed colour may exceed 65535.  8-bit pixels are three bytes B, G, R; the matte of an 8-bit
// output goes to a separate array of one byte per pixel; an 8-bit mask pixel is three bytes whose
// middle one is the mask value.  8 to 16 bits is c * 257, 16 to 8 bits the high byte, and the 8-bit
// backdrop colour is trunc(K) >> 8.
//
// As in the 16-bit path, `flags` is the call's effective flag word and no call writes the state.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// One float pixel: the face and ratios come from the key colour rounded to 16 bits; the colour is
// pushed and blended in float around compiledBackdrop.  S null counts as black.
void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state);
void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state,
                   std::uint32_t flags);

// keyPixelFloat per pixel; with the garbage mask the matte is then scaled by (65535 - M.G) / 65535.
// The float path has no compiled callback.  A state that selects an alternative keyer but has no
// keyer object gives (0, 0, 0, 0) everywhere.  Returns 1.
int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O,
                   std::ptrdiff_t count, const KeyState* state);
int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O,
                   std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);

// Through the state's 8-bit callback when it has one, else keyPixel16 on widened pixels (the path
// of the alternative keyers).  Returns 1.
int vantproc_8(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
               std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state);
int vantproc_8(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
               std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
               std::uint32_t flags);

// 8-bit span loops and mask passes (the compiled 8-bit callbacks).  A pixel whose mask byte is 255
// gets what the matching mask pass writes there, so every output pixel is written.
void keySpan8Complement(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                        std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                        std::uint32_t flags);
void keySpan8Spill(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                   std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                   std::uint32_t flags);
void applyMask8Complement(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                          const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                          const KeyState* state, std::uint32_t flags);
void applyMask8Spill(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                     std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                     std::uint32_t flags);
void keySpan8ComplementMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                              const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                              const KeyState* state, std::uint32_t flags);
void keySpan8SpillMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                         const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                         const KeyState* state, std::uint32_t flags);
void forwardKeySpan8Complement(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                               const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                               const KeyState* state, std::uint32_t flags);
void forwardKeySpan8Spill(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                          const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                          const KeyState* state, std::uint32_t flags);
void forwardKeySpan8ComplementMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                                     const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA,
                                     std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
void forwardKeySpan8SpillMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                                const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                                const KeyState* state, std::uint32_t flags);

// Median by luma of a 3 x 3 block of nine 16-bit RGBA pixels (row by row).  Each pixel's A channel
// receives its luma trunc(0.5864 G + 0.299 R + 0.1146 B); a fixed network of 20 compare-exchanges
// reorders the block; the result points at pixel 1 of the block, which then holds a pixel of median
// luma.
std::uint16_t* prefilterSamples(std::uint16_t* block);
// The same on float pixels (luma stored unclamped; a NaN luma exchanges); pixel 1 is copied to
// `out`.
void prefilterSamplesFloat(float* out, float* block);

}  // namespace vantrelo
