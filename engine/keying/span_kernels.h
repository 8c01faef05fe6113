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
#include <cstdlib>

#include "engine/keying/key_state.h"
#include "engine/keying/polyhedron.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/keying/numeric.h"

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

// The flags that hand keying to the state's threshold or hexagon keyer.
inline constexpr std::uint32_t kAlternativeKeyers = KeyFlagUseRTPlus | KeyFlagUseRT;

// |colour.c - trunc(K.c)| < tolerance in all three channels, in integers: the near-backdrop test
// of the reference rule and of float keying.
inline bool nearTruncatedBackdrop(const std::uint16_t* colour, const KeyState* state, std::int64_t tolerance) {
    for (int c = 0; c < 3; ++c)
        if (std::llabs(std::int64_t{colour[c]} - truncToInt32(state->backdrop[c])) >= tolerance) return false;
    return true;
}

// Face of the direction with the given differences from the backdrop: the fixed mesh's lookup, or
// with the generated polyhedron its lookup of the colour (r, g, b) on the 16-bit scale.
int generatedFace(const SpanSetup& setup, std::int32_t r, std::int32_t g, std::int32_t b);

// Surface ratio of one column of a face record (0 inner, 1 outer, 2 middle) for the colour
// (r, g, b): reach / (n . colour - backdrop dot), 0 where the denominator is 0.  Widened: the
// colour is in 8-bit units and n . colour is scaled by 257 before the backdrop dot is taken off.
template <bool Widened>
inline float faceRatio(const float* record, int column, float r, float g, float b) {
    float dot = record[0 + column] * r + record[4 + column] * g + record[8 + column] * b;
    if (Widened) dot *= 257.0f;
    const float den = dot - record[12 + column];
    return den != 0.0f ? record[16 + column] / den : 0.0f;
}

#if defined(__SSE2__)

// Four-wide helpers of the vector loops (16-bit, 8-bit and float); lanes 0-2 hold R, G, B.
inline float lane0(__m128 v) { return _mm_cvtss_f32(v); }
inline float lane1(__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1))); }
inline float lane2(__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2))); }

// Face code of the differences in lanes 0-2, the same comparisons as faceOfDifference: sign tests
// and sum comparisons, no branch on the octant.
inline int faceOfVector(__m128 d) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 three = _mm_set1_ps(3.0f);
    const __m128 a = _mm_and_ps(d, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
    const __m128 s = _mm_add_ps(_mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 0, 2, 1)), _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 1, 0, 2)));
    const int octant = _mm_movemask_ps(_mm_cmpgt_ps(d, zero)) & 7;
    const int m1 = _mm_movemask_ps(_mm_cmpgt_ps(_mm_mul_ps(a, three), s)) & 7;
    const int m2 = _mm_movemask_ps(_mm_cmpgt_ps(a, s)) & 7;
    const int m3 = _mm_movemask_ps(_mm_cmpgt_ps(a, _mm_mul_ps(s, three))) & 7;
    return polyhedron_detail::kMaskLookup[octant | m1 << 3 | m2 << 6 | m3 << 9];
}

// faceRatio for the three columns at once: inner, outer, middle in lanes 0-2 (the colour's R, G, B
// in lanes 0-2).
template <bool Widened>
inline __m128 faceRatios(const float* record, __m128 colour) {
    const __m128 r = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 g = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 b = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(2, 2, 2, 2));
    __m128 dot = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(record), r), _mm_mul_ps(_mm_load_ps(record + 4), g)),
                            _mm_mul_ps(_mm_load_ps(record + 8), b));
    if (Widened) dot = _mm_mul_ps(dot, _mm_set1_ps(257.0f));
    const __m128 den = _mm_sub_ps(dot, _mm_load_ps(record + 12));
    const __m128 quotient = _mm_div_ps(_mm_load_ps(record + 16), den);
    return _mm_and_ps(quotient, _mm_cmpneq_ps(den, _mm_setzero_ps()));
}

// |d| below the tolerance in lanes 0-2.
inline bool allBelow(__m128 d, __m128 tolerance) {
    const __m128 a = _mm_and_ps(d, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
    return (_mm_movemask_ps(_mm_cmplt_ps(a, tolerance)) & 7) == 7;
}

#endif

}  // namespace vantrelo::span_detail
