#pragma once
// Keying of 16-bit RGBA pixels into a matte and a spill-corrected colour.
//
// Arguments of a keying call, arrays of 16-bit RGBA pixels of one length:
//   X  colour pixels: the image; their R, G, B give the foreground colour;
//   Y  key pixels: decide transparency and face (a grain-filtered copy of X, or X itself);
//   S  spill-source pixels: the colour spill is blended toward (a blurred background); not read
//      with spill complement or solid spill in the span loops; null counts as black;
//   M  mask pixels: with the garbage mask, the mask value is the G channel: 0 keeps the pixel,
//      65535 removes it, values between scale its matte by (65535 - m) / 65535; may be null;
//   O  output: R, G, B foreground colour and A matte.
//
// Geometry per pixel, for the face f the pixel's direction from the backdrop K crosses: the ratios
// t_in, t_out, t_mid of the three surfaces (t > 1 inside).  t_in >= 1 is backdrop (transparent);
// t_out <= 1 is foreground (opaque, unchanged); between, the matte is a = (1 - t_in) / (t_mid -
// t_in) up to the middle surface and 1 beyond it, the colour is pushed out to the outer surface
// (P = K + (X - K) t_out) and, unless spill complement, blended toward the spill colour by
// w = (1 - t_in) / (t_out - t_in).
//
// Two forms keep that geometry: the reference keyPixel16 (and vantproc's per-pixel loop), and the
// span loops that compileKey installs.  They differ where noted below; nothing else.
//   - Near-backdrop test: keyPixel16 compares |Y - trunc(K)| < backdropTolerance16Int on integers,
//     the span loops |Y - K| < backdropTolerance16 in float.
//   - Second colour (X not Y): keyPixel16 tests |X - trunc(K)| < 1, the span loops |X - K| < 1.
//   - Face lookup: keyPixel16 on the integer differences Y - trunc(K), the span loops on the float
//     differences Y - K.
//   - Spill blend: keyPixel16 truncates the pushed colour before blending; the span loops truncate
//     once, after the blend.
//   - Transparent pixels: keyPixel16 gives (0, 0, 0, 0); keySpan16Spill gives (SC, 0) unless spill
//     complement, and also (SC, 0) when the matte truncates to 0.
//   - Solid spill: the span loops blend toward replacementColour; keyPixel16 always toward S.
//   - Mask 65535: vantproc's per-pixel loop gives (0, 0, 0, 0); the spill mask pass (SC, 0).
//
// Every keying call only reads the state; `flags` is the call's effective flag word (the state's
// own unless a caller keys with, say, KeyFlagGarbageMask cleared), so no call writes the record and
// many threads may key one state at once.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// Keys `count` pixels: through the state's compiled span callback when it has one, otherwise
// keyPixel16 per pixel (with the garbage mask applied after it).  A state that selects an
// alternative keyer but has no keyer object gives (0, 0, 0, 0) everywhere.  Returns 1.
int vantproc(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
             std::uint16_t* O, std::ptrdiff_t count, const KeyState* state);
int vantproc(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
             std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);

// The reference rule for one pixel.  X and Y may be the same pixel.  With an alternative keyer the
// pixel goes to the state's keyer object (left unchanged without one).
void keyPixel16(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, std::uint16_t* O,
                const KeyState* state);
void keyPixel16(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, std::uint16_t* O,
                const KeyState* state, std::uint32_t flags);

// Span loops (the compiled callbacks).  A pixel whose mask value is 65535 gets what the matching
// mask pass writes there, whether or not a pass was installed, so every output pixel is written.
void keySpan16Complement(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                         const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                         std::uint32_t flags);
void keySpan16Spill(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
                    std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
// Mask passes over the output of the matching loop; nothing without M.
void applyMask16Complement(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                           const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                           std::uint32_t flags);
void applyMask16Spill(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                      const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                      std::uint32_t flags);
// Loop followed by its pass (the entries installed with the garbage mask and direct callbacks).
void keySpan16ComplementMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                               const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                               const KeyState* state, std::uint32_t flags);
void keySpan16SpillMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                          const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                          std::uint32_t flags);
// Forwarding entries installed without KeyFlagDirectCallbacks; same results.  The complement ones
// pass no spill source.
void forwardKeySpan16Complement(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                                const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                const KeyState* state, std::uint32_t flags);
void forwardKeySpan16Spill(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                           const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                           std::uint32_t flags);
void forwardKeySpan16ComplementMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                                      const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                      const KeyState* state, std::uint32_t flags);
void forwardKeySpan16SpillMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                                 const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                 const KeyState* state, std::uint32_t flags);

// Callbacks of the alternative keyers: the run keying of the state's own keyer object
// (state->keyer).  Without a keyer object of the right class every output pixel is (0, 0, 0, 0).
void keySpan16RT(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
                 std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
void keySpan16RTMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                       const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                       std::uint32_t flags);
void keySpan16RTPlus(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                     const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                     std::uint32_t flags);
void keySpan16RTPlusMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                           const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                           std::uint32_t flags);

// Single-pixel and span variants.
// S := the pixel itself with spill complement, else replacementColour; keyPixel16(X, X, S, O).
void keyPixelAgainstReplacement16(const std::uint16_t* X, std::uint16_t* O, const KeyState* state);
void keySpanAgainstReplacement16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count,
                                 const KeyState* state);
// vantproc(X, X, X, no mask, O) keyed as spill complement alone (the installed callback still runs).
void keySpanComplement16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state);
// Mattes of one pixel: (0, 0, 0, 0) transparent, (0, 0, w, a) between, (0, 65535, 65535, 65535)
// opaque; with an alternative keyer the keyer's three-zone view.
void keyPixelMattes16(const std::uint16_t* X, std::uint16_t* O, const KeyState* state);
void keySpanMattes16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state);
// Pushed colour and matte into O, and the matte (A, also in B; R = 0; G untouched) with the spill
// weight (B) between the surfaces into `matte`.
void keyPixelAndMattes16(const std::uint16_t* X, std::uint16_t* O, std::uint16_t* matte, const KeyState* state);

// 1 when every channel lies within backdropTolerance16 of the backdrop colour.
int nearBackdrop16(const std::uint16_t* colour, const KeyState* state);
int nearBackdropFloat(const float* colour, const KeyState* state);

// F := F over B by F's alpha: (F (A + 1) + B (65536 - A)) >> 16 per colour channel; F.A kept.
void vantcompositeLoop(std::uint16_t* F, const std::uint16_t* B, std::ptrdiff_t count);

}  // namespace vantrelo
