#pragma once
// Inner kernels of the span loops, shared by the 16-bit and 8-bit loops and exposed for the tests
// that hold the vector kernels to the scalar reference bit for bit.
//
// The scalar reference follows the loop rules step by step in single precision.  The vector kernels
// evaluate the same expressions in the same order (one face record row group per pixel for the
// three surfaces at once, -ffp-contract=off keeps every product and sum rounded on its own), so
// their results are identical, and the tests check that on random and edge-case pixels.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo::span_detail {

// Everything a span loop reads from the state and the flag word, gathered once per call.
struct SpanSetup {
    float backdrop[3];        // K
    float tolerance;          // near-backdrop tolerance (16-bit: backdropTolerance16; 8-bit: ...8)
    const float* table;       // compiled face table
    const KeyState* state;
    bool spill;               // the spill loop (else the complement loop)
    bool complementNow;       // KeyFlagSpillComplement in the call's flags
    bool solid;               // solid spill colour instead of the spill-source pixels
    bool generated;           // faces from the generated polyhedron's lookup
    float solidColour[3];     // R, G, B of the solid spill colour, in the loop's units
    // 8-bit only: trunc(K) >> 8 and trunc(K) as floats.
    float backdrop8[3];
    float backdropTrunc[3];
};

SpanSetup makeSpanSetup(const KeyState* state, std::uint32_t flags, bool spill, bool eightBit);

// 16-bit loop over `count` pixels; the mask pass is not part of it.
void keySpan16Reference(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y,
                        const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count);
void keySpan16Vector(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y,
                     const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count);

void keySpan8Reference(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y,
                       const std::uint8_t* S, const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA,
                       std::ptrdiff_t count);
void keySpan8Vector(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                    const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count);

// Float value limited to 0..limit (NaN gives 0), then truncated.
inline std::int32_t clampTrunc(float v, float limit) {
    if (!(v > 0.0f)) return 0;
    if (!(v < limit)) return static_cast<std::int32_t>(limit);
    return static_cast<std::int32_t>(v);
}

// Face of the direction with the given differences from the backdrop: the fixed mesh's lookup, or
// with the generated polyhedron its lookup of the colour (r, g, b) on the 16-bit scale.
int generatedFace(const SpanSetup& setup, std::int32_t r, std::int32_t g, std::int32_t b);

}  // namespace vantrelo::span_detail
