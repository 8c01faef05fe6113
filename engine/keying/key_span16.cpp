// The 16-bit span loops: the hot path of every keying pass.
//
// Per pixel: one face lookup made of sign tests and sum comparisons (no branch on the octant, which
// changes from pixel to pixel on a noisy backdrop), one four-wide evaluation of the face record for
// the three surfaces at once, one division, and no call.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/keying/generated_polyhedron.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelo {

namespace span_detail {

namespace {

int faceOf(const SpanSetup& setup, float dr, float dg, float db, std::int32_t r, std::int32_t g, std::int32_t b) {
    if (setup.generated) return generatedFace(setup, r, g, b);
    return faceOfDifference(dr, dg, db);
}

}  // namespace

int generatedFace(const SpanSetup& setup, std::int32_t r, std::int32_t g, std::int32_t b) {
    return getsegment1(r, g, b, setup.state);
}

SpanSetup makeSpanSetup(const KeyState* state, std::uint32_t flags, bool spill, bool eightBit) {
    SpanSetup setup{};
    for (int c = 0; c < 3; ++c) {
        setup.backdrop[c] = state->backdrop[c];
        const std::int32_t truncated = truncToInt32(state->backdrop[c]);
        setup.backdropTrunc[c] = float(truncated);
        setup.backdrop8[c] = float(truncated >> 8);
    }
    setup.tolerance = eightBit ? state->backdropTolerance8 : state->backdropTolerance16;
    setup.table = state->faceTable;
    setup.state = state;
    setup.spill = spill;
    setup.complementNow = flags & KeyFlagSpillComplement;
    setup.solid = spill && (flags & KeyFlagSpillSolid) && !(flags & KeyFlagSpillComplement);
    // The lookup follows the faces the state was compiled over, whatever the call's flag word.
    setup.generated = state->flags & KeyFlagGeneratedPolyhedron;
    for (int c = 0; c < 3; ++c) {
        const std::uint16_t value = state->replacementColour[c];
        setup.solidColour[c] = eightBit ? float(value >> 8) : float(value);
    }
    return setup;
}

void keySpan16Reference(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y,
                        const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count) {
    const float* K = setup.backdrop;
    const bool twoColours = X != Y;
    const bool spillTransparent = setup.spill && !setup.complementNow;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* x = X + 4 * i;
        const std::uint16_t* y = Y + 4 * i;
        std::uint16_t* o = O + 4 * i;
        float sc[3] = {0.0f, 0.0f, 0.0f};
        if (setup.solid) {
            for (int c = 0; c < 3; ++c) sc[c] = setup.solidColour[c];
        } else if (setup.spill && S) {
            for (int c = 0; c < 3; ++c) sc[c] = S[4 * i + c];
        }
        auto transparent = [&] {
            for (int c = 0; c < 3; ++c) o[c] = spillTransparent ? std::uint16_t(sc[c]) : 0;
            o[3] = 0;
        };
        if (M && M[4 * i + 1] == 65535) {
            transparent();
            continue;
        }
        float d[3] = {float(y[0]) - K[0], float(y[1]) - K[1], float(y[2]) - K[2]};
        if (std::fabs(d[0]) < setup.tolerance && std::fabs(d[1]) < setup.tolerance &&
            std::fabs(d[2]) < setup.tolerance) {
            transparent();
            continue;
        }
        const float* record = setup.table + kFaceTableStride * faceOf(setup, d[0], d[1], d[2], y[0], y[1], y[2]);
        float tIn = faceRatio<false>(record, 0, y[0], y[1], y[2]);
        float tOut = faceRatio<false>(record, 1, y[0], y[1], y[2]);
        float tMid = faceRatio<false>(record, 2, y[0], y[1], y[2]);
        if (tIn >= 1.0f) {
            transparent();
            continue;
        }
        if (twoColours) {
            for (int c = 0; c < 3; ++c) d[c] = float(x[c]) - K[c];
            if (std::fabs(d[0]) < 1.0f && std::fabs(d[1]) < 1.0f && std::fabs(d[2]) < 1.0f) {
                transparent();
                continue;
            }
            record = setup.table + kFaceTableStride * faceOf(setup, d[0], d[1], d[2], x[0], x[1], x[2]);
            tIn = faceRatio<false>(record, 0, x[0], x[1], x[2]);
            tOut = faceRatio<false>(record, 1, x[0], x[1], x[2]);
            tMid = faceRatio<false>(record, 2, x[0], x[1], x[2]);
            if (tIn >= 1.0f) {
                transparent();
                continue;
            }
        }
        if (tOut > 1.0f) {
            std::int32_t alpha = 65535;
            if (tMid > 1.0f) alpha = clampTrunc((1.0f - tIn) / (tMid - tIn) * 65535.0f, 65535.0f);
            if (spillTransparent && alpha == 0) {
                transparent();
                continue;
            }
            if (setup.spill) {
                const float w = (1.0f - tIn) / (tOut - tIn);
                for (int c = 0; c < 3; ++c) {
                    float p = d[c] * tOut + K[c];
                    p = p > 0.0f ? p : 0.0f;
                    o[c] = std::uint16_t(clampTrunc((p - sc[c]) * w + sc[c], 65535.0f));
                }
            } else {
                for (int c = 0; c < 3; ++c) o[c] = std::uint16_t(clampTrunc(d[c] * tOut + K[c], 65535.0f));
            }
            o[3] = std::uint16_t(alpha);
        } else {
            o[0] = x[0];
            o[1] = x[1];
            o[2] = x[2];
            o[3] = 65535;
        }
    }
}

#if defined(__SSE2__)

namespace {

inline __m128 loadPixel16(const std::uint16_t* p) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, _mm_setzero_si128()));
}

// Limited to 0..limit (NaN gives 0) and truncated, four lanes.
inline __m128i clampTruncVector(__m128 v, __m128 limit) {
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), limit));
}

// Four int32 lanes of 0..65535 packed into four uint16 (low 64 bits).
inline __m128i packUnsigned16(__m128i v) {
    const __m128i bias = _mm_set1_epi32(32768);
    const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(v, bias), _mm_setzero_si128());
    return _mm_xor_si128(packed, _mm_set1_epi16(std::int16_t(-32768)));
}

inline void store64(std::uint16_t* o, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(o), v); }

template <bool Spill, bool TwoColours, bool Generated>
void span16Vector(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                  const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count) {
    const __m128 K = _mm_setr_ps(setup.backdrop[0], setup.backdrop[1], setup.backdrop[2], 0.0f);
    const __m128 tolerance = _mm_set1_ps(setup.tolerance);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 limit = _mm_set1_ps(65535.0f);
    const __m128 zero = _mm_setzero_ps();
    const bool spillTransparent = Spill && !setup.complementNow;
    const __m128 solid = _mm_setr_ps(setup.solidColour[0], setup.solidColour[1], setup.solidColour[2], 0.0f);
    const __m128i opaqueAlpha = _mm_set_epi32(0, 0, std::int32_t(0xffff0000u), 0);
    const float* table = setup.table;

    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* x = X + 4 * i;
        const std::uint16_t* y = Y + 4 * i;
        std::uint16_t* o = O + 4 * i;
        __m128 sc = zero;
        if (Spill) {
            if (setup.solid)
                sc = solid;
            else if (S)
                sc = loadPixel16(S + 4 * i);
        }
        // (SC, 0) or (0, 0, 0, 0); the SC lanes hold whole numbers, so truncation is exact.
        const __m128i transparentValue =
            spillTransparent ? _mm_insert_epi16(packUnsigned16(_mm_cvttps_epi32(sc)), 0, 3) : _mm_setzero_si128();
        if (M && M[4 * i + 1] == 65535) {
            store64(o, transparentValue);
            continue;
        }
        const __m128 colourY = loadPixel16(y);
        __m128 d = _mm_sub_ps(colourY, K);
        if (allBelow(d, tolerance)) {
            store64(o, transparentValue);
            continue;
        }
        int face = Generated ? generatedFace(setup, y[0], y[1], y[2]) : faceOfVector(d);
        __m128 t = faceRatios<false>(table + kFaceTableStride * face, colourY);
        float tIn = lane0(t);
        if (tIn >= 1.0f) {
            store64(o, transparentValue);
            continue;
        }
        if (TwoColours) {
            const __m128 colourX = loadPixel16(x);
            d = _mm_sub_ps(colourX, K);
            if (allBelow(d, one)) {
                store64(o, transparentValue);
                continue;
            }
            face = Generated ? generatedFace(setup, x[0], x[1], x[2]) : faceOfVector(d);
            t = faceRatios<false>(table + kFaceTableStride * face, colourX);
            tIn = lane0(t);
            if (tIn >= 1.0f) {
                store64(o, transparentValue);
                continue;
            }
        }
        const float tOut = lane1(t);
        if (tOut > 1.0f) {
            const float tMid = lane2(t);
            std::int32_t alpha = 65535;
            if (tMid > 1.0f) alpha = clampTrunc((1.0f - tIn) / (tMid - tIn) * 65535.0f, 65535.0f);
            if (spillTransparent && alpha == 0) {
                store64(o, transparentValue);
                continue;
            }
            __m128 p = _mm_add_ps(_mm_mul_ps(d, _mm_set1_ps(tOut)), K);
            if (Spill) {
                const __m128 w = _mm_set1_ps((1.0f - tIn) / (tOut - tIn));
                p = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_max_ps(p, zero), sc), w), sc);
            }
            store64(o, _mm_insert_epi16(packUnsigned16(clampTruncVector(p, limit)), alpha, 3));
        } else {
            const __m128i colour = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x));
            store64(o, _mm_or_si128(colour, opaqueAlpha));
        }
    }
}

}  // namespace

void keySpan16Vector(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y,
                     const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count) {
    const bool two = X != Y;
    if (setup.generated) {
        if (setup.spill)
            two ? span16Vector<true, true, true>(setup, X, Y, S, M, O, count)
                : span16Vector<true, false, true>(setup, X, Y, S, M, O, count);
        else
            two ? span16Vector<false, true, true>(setup, X, Y, S, M, O, count)
                : span16Vector<false, false, true>(setup, X, Y, S, M, O, count);
        return;
    }
    if (setup.spill)
        two ? span16Vector<true, true, false>(setup, X, Y, S, M, O, count)
            : span16Vector<true, false, false>(setup, X, Y, S, M, O, count);
    else
        two ? span16Vector<false, true, false>(setup, X, Y, S, M, O, count)
            : span16Vector<false, false, false>(setup, X, Y, S, M, O, count);
}

#else

void keySpan16Vector(const SpanSetup& setup, const std::uint16_t* X, const std::uint16_t* Y,
                     const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count) {
    keySpan16Reference(setup, X, Y, S, M, O, count);
}

#endif

}  // namespace span_detail

namespace {

using span_detail::SpanSetup;

// Spans are keyed and masked in chunks, so the pass finds the chunk's output still in cache.
constexpr std::ptrdiff_t kMaskChunk = 2048;

void runSpan16(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
               std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags, bool spill) {
    if (count <= 0 || !state) return;
    if (!state->faceTable) {
        // Not compiled: nothing to key with, but no output pixel keeps what was there.
        std::memset(O, 0, sizeof(std::uint16_t) * 4 * std::size_t(count));
        return;
    }
    const SpanSetup setup = span_detail::makeSpanSetup(state, flags, spill, false);
    span_detail::keySpan16Vector(setup, X, Y, S, M, O, count);
}

// The spill colour of pixel i for the mask pass.
void spillColour16(const KeyState* state, std::uint32_t flags, const std::uint16_t* S, std::ptrdiff_t i,
                   std::uint16_t* sc) {
    if ((flags & KeyFlagSpillSolid) && !(flags & KeyFlagSpillComplement)) {
        for (int c = 0; c < 3; ++c) sc[c] = state->replacementColour[c];
    } else if (S) {
        for (int c = 0; c < 3; ++c) sc[c] = S[4 * i + c];
    } else {
        sc[0] = sc[1] = sc[2] = 0;
    }
}

constexpr float kInv65535 = 1.0f / 65535.0f;

std::uint16_t scaledMatte16(std::uint16_t m, std::uint16_t alpha) {
    return std::uint16_t(float(65535 - m) * kInv65535 * float(alpha));
}

}  // namespace

void keySpan16Complement(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t*,
                         const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                         std::uint32_t flags) {
    runSpan16(X, Y, nullptr, M, O, count, state, flags, false);
}

void keySpan16Spill(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
                    std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    runSpan16(X, Y, S, M, O, count, state, flags, true);
}

void applyMask16Complement(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, const std::uint16_t* M,
                           std::uint16_t* O, std::ptrdiff_t count, const KeyState*, std::uint32_t) {
    if (!M) return;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t m = M[4 * i + 1];
        std::uint16_t* o = O + 4 * i;
        if (m == 0) continue;
        if (m == 65535) {
            o[0] = o[1] = o[2] = o[3] = 0;
            continue;
        }
        o[3] = scaledMatte16(m, o[3]);
    }
}

void applyMask16Spill(const std::uint16_t*, const std::uint16_t*, const std::uint16_t* S, const std::uint16_t* M,
                      std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    if (!M || !state) return;
    const bool complement = flags & KeyFlagSpillComplement;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t m = M[4 * i + 1];
        std::uint16_t* o = O + 4 * i;
        if (m == 0) continue;
        o[3] = m == 65535 ? 0 : scaledMatte16(m, o[3]);
        if (o[3] == 0 && !complement) spillColour16(state, flags, S, i, o);
    }
}

void keySpan16ComplementMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t*,
                               const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                               const KeyState* state, std::uint32_t flags) {
    for (std::ptrdiff_t start = 0; start < count; start += kMaskChunk) {
        const std::ptrdiff_t n = std::min(kMaskChunk, count - start);
        const std::uint16_t* m = M ? M + 4 * start : nullptr;
        keySpan16Complement(X + 4 * start, Y + 4 * start, nullptr, m, O + 4 * start, n, state, flags);
        applyMask16Complement(nullptr, nullptr, nullptr, m, O + 4 * start, n, state, flags);
    }
}

void keySpan16SpillMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                          const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                          std::uint32_t flags) {
    for (std::ptrdiff_t start = 0; start < count; start += kMaskChunk) {
        const std::ptrdiff_t n = std::min(kMaskChunk, count - start);
        const std::uint16_t* m = M ? M + 4 * start : nullptr;
        const std::uint16_t* s = S ? S + 4 * start : nullptr;
        keySpan16Spill(X + 4 * start, Y + 4 * start, s, m, O + 4 * start, n, state, flags);
        applyMask16Spill(nullptr, nullptr, s, m, O + 4 * start, n, state, flags);
    }
}

void forwardKeySpan16Complement(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t*,
                                const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                const KeyState* state, std::uint32_t flags) {
    keySpan16Complement(X, Y, nullptr, M, O, count, state, flags);
}

void forwardKeySpan16Spill(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                           const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                           std::uint32_t flags) {
    keySpan16Spill(X, Y, S, M, O, count, state, flags);
}

void forwardKeySpan16ComplementMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t*,
                                      const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                      const KeyState* state, std::uint32_t flags) {
    keySpan16ComplementMasked(X, Y, nullptr, M, O, count, state, flags);
}

void forwardKeySpan16SpillMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                                 const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                                 const KeyState* state, std::uint32_t flags) {
    keySpan16SpillMasked(X, Y, S, M, O, count, state, flags);
}

}  // namespace vantrelo
