// 8-bit keying: the compiled span loops on B, G, R bytes with a separate matte, their mask passes,
// and vantproc_8's per-pixel path through the 16-bit reference rule.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelo {

namespace span_detail {

namespace {

int face8(const SpanSetup& setup, const float* colour) {
    const float dr = colour[0] * 257.0f - setup.backdropTrunc[0];
    const float dg = colour[1] * 257.0f - setup.backdropTrunc[1];
    const float db = colour[2] * 257.0f - setup.backdropTrunc[2];
    if (setup.generated)
        return generatedFace(setup, std::int32_t(colour[0]) * 257, std::int32_t(colour[1]) * 257,
                             std::int32_t(colour[2]) * 257);
    return faceOfDifference(dr, dg, db);
}

}  // namespace

void keySpan8Reference(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                       const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count) {
    const float* K8 = setup.backdrop8;
    const bool twoColours = X != Y;
    const bool spillTransparent = setup.spill && !setup.complementNow;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint8_t* x = X + 3 * i;
        const std::uint8_t* y = Y + 3 * i;
        std::uint8_t* o = O + 3 * i;
        float sc[3] = {0.0f, 0.0f, 0.0f};  // R, G, B
        if (setup.solid) {
            for (int c = 0; c < 3; ++c) sc[c] = setup.solidColour[c];
        } else if (setup.spill && S) {
            for (int c = 0; c < 3; ++c) sc[c] = S[3 * i + 2 - c];
        }
        auto transparent = [&] {
            for (int c = 0; c < 3; ++c) o[2 - c] = spillTransparent ? std::uint8_t(sc[c]) : 0;
            OA[i] = 0;
        };
        if (M && M[3 * i + 1] == 255) {
            transparent();
            continue;
        }
        const float colourY[3] = {float(y[2]), float(y[1]), float(y[0])};
        if (std::fabs(colourY[0] - K8[0]) < setup.tolerance && std::fabs(colourY[1] - K8[1]) < setup.tolerance &&
            std::fabs(colourY[2] - K8[2]) < setup.tolerance) {
            transparent();
            continue;
        }
        const float* record = setup.table + kFaceTableStride * face8(setup, colourY);
        float tIn = faceRatio<true>(record, 0, colourY[0], colourY[1], colourY[2]);
        float tOut = faceRatio<true>(record, 1, colourY[0], colourY[1], colourY[2]);
        float tMid = faceRatio<true>(record, 2, colourY[0], colourY[1], colourY[2]);
        if (tIn >= 1.0f) {
            transparent();
            continue;
        }
        const float colourX[3] = {float(x[2]), float(x[1]), float(x[0])};
        if (twoColours) {
            if (std::fabs(colourX[0] - K8[0]) < 1.0f && std::fabs(colourX[1] - K8[1]) < 1.0f &&
                std::fabs(colourX[2] - K8[2]) < 1.0f) {
                transparent();
                continue;
            }
            record = setup.table + kFaceTableStride * face8(setup, colourX);
            tIn = faceRatio<true>(record, 0, colourX[0], colourX[1], colourX[2]);
            tOut = faceRatio<true>(record, 1, colourX[0], colourX[1], colourX[2]);
            tMid = faceRatio<true>(record, 2, colourX[0], colourX[1], colourX[2]);
            if (tIn >= 1.0f) {
                transparent();
                continue;
            }
        }
        if (tOut > 1.0f) {
            std::int32_t alpha = 255;
            if (tMid > 1.0f) alpha = clampTrunc((1.0f - tIn) / (tMid - tIn) * 255.0f, 255.0f);
            if (spillTransparent && alpha == 0) {
                transparent();
                continue;
            }
            const float w = (1.0f - tIn) / (tOut - tIn);
            for (int c = 0; c < 3; ++c) {
                float p = (colourX[c] - K8[c]) * tOut + K8[c];
                if (setup.spill) {
                    p = p > 0.0f ? p : 0.0f;
                    p = (p - sc[c]) * w + sc[c];
                }
                o[2 - c] = std::uint8_t(clampTrunc(p, 255.0f));
            }
            OA[i] = std::uint8_t(alpha);
        } else {
            o[0] = x[0];
            o[1] = x[1];
            o[2] = x[2];
            OA[i] = 255;
        }
    }
}

#if defined(__SSE2__)

namespace {

// B, G, R bytes as floats R, G, B, 0.
inline __m128 loadPixel8(const std::uint8_t* p) {
    const __m128i bytes = _mm_cvtsi32_si128(p[0] | p[1] << 8 | p[2] << 16);
    const __m128i zero = _mm_setzero_si128();
    const __m128 bgr = _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
    return _mm_shuffle_ps(bgr, bgr, _MM_SHUFFLE(3, 0, 1, 2));
}

inline void storeBgr(std::uint8_t* o, __m128i rgb) {
    alignas(16) std::int32_t v[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(v), rgb);
    o[0] = std::uint8_t(v[2]);
    o[1] = std::uint8_t(v[1]);
    o[2] = std::uint8_t(v[0]);
}

template <bool Spill, bool TwoColours, bool Generated>
void span8Vector(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                 const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count) {
    const __m128 K8 = _mm_setr_ps(setup.backdrop8[0], setup.backdrop8[1], setup.backdrop8[2], 0.0f);
    const __m128 Kt = _mm_setr_ps(setup.backdropTrunc[0], setup.backdropTrunc[1], setup.backdropTrunc[2], 0.0f);
    const __m128 widen = _mm_set1_ps(257.0f);
    const __m128 tolerance = _mm_set1_ps(setup.tolerance);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 limit = _mm_set1_ps(255.0f);
    const __m128 zero = _mm_setzero_ps();
    const bool spillTransparent = Spill && !setup.complementNow;
    const __m128 solid = _mm_setr_ps(setup.solidColour[0], setup.solidColour[1], setup.solidColour[2], 0.0f);
    const float* table = setup.table;

    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint8_t* x = X + 3 * i;
        const std::uint8_t* y = Y + 3 * i;
        std::uint8_t* o = O + 3 * i;
        __m128 sc = zero;
        if (Spill) {
            if (setup.solid)
                sc = solid;
            else if (S)
                sc = loadPixel8(S + 3 * i);
        }
        auto transparent = [&] {
            if (spillTransparent)
                storeBgr(o, _mm_cvttps_epi32(sc));
            else
                o[0] = o[1] = o[2] = 0;
            OA[i] = 0;
        };
        if (M && M[3 * i + 1] == 255) {
            transparent();
            continue;
        }
        const __m128 colourY = loadPixel8(y);
        if (allBelow(_mm_sub_ps(colourY, K8), tolerance)) {
            transparent();
            continue;
        }
        int face = Generated ? generatedFace(setup, y[2] * 257, y[1] * 257, y[0] * 257)
                             : faceOfVector(_mm_sub_ps(_mm_mul_ps(colourY, widen), Kt));
        __m128 t = faceRatios<true>(table + kFaceTableStride * face, colourY);
        float tIn = lane0(t);
        if (tIn >= 1.0f) {
            transparent();
            continue;
        }
        __m128 colourX = colourY;
        if (TwoColours) {
            colourX = loadPixel8(x);
            if (allBelow(_mm_sub_ps(colourX, K8), one)) {
                transparent();
                continue;
            }
            face = Generated ? generatedFace(setup, x[2] * 257, x[1] * 257, x[0] * 257)
                             : faceOfVector(_mm_sub_ps(_mm_mul_ps(colourX, widen), Kt));
            t = faceRatios<true>(table + kFaceTableStride * face, colourX);
            tIn = lane0(t);
            if (tIn >= 1.0f) {
                transparent();
                continue;
            }
        }
        const float tOut = lane1(t);
        if (tOut > 1.0f) {
            const float tMid = lane2(t);
            std::int32_t alpha = 255;
            if (tMid > 1.0f) alpha = clampTrunc((1.0f - tIn) / (tMid - tIn) * 255.0f, 255.0f);
            if (spillTransparent && alpha == 0) {
                transparent();
                continue;
            }
            __m128 p = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(colourX, K8), _mm_set1_ps(tOut)), K8);
            if (Spill) {
                const __m128 w = _mm_set1_ps((1.0f - tIn) / (tOut - tIn));
                p = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_max_ps(p, zero), sc), w), sc);
            }
            storeBgr(o, _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(p, zero), limit)));
            OA[i] = std::uint8_t(alpha);
        } else {
            o[0] = x[0];
            o[1] = x[1];
            o[2] = x[2];
            OA[i] = 255;
        }
    }
}

}  // namespace

void keySpan8Vector(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                    const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count) {
    const bool two = X != Y;
    if (setup.generated) {
        if (setup.spill)
            two ? span8Vector<true, true, true>(setup, X, Y, S, M, O, OA, count)
                : span8Vector<true, false, true>(setup, X, Y, S, M, O, OA, count);
        else
            two ? span8Vector<false, true, true>(setup, X, Y, S, M, O, OA, count)
                : span8Vector<false, false, true>(setup, X, Y, S, M, O, OA, count);
        return;
    }
    if (setup.spill)
        two ? span8Vector<true, true, false>(setup, X, Y, S, M, O, OA, count)
            : span8Vector<true, false, false>(setup, X, Y, S, M, O, OA, count);
    else
        two ? span8Vector<false, true, false>(setup, X, Y, S, M, O, OA, count)
            : span8Vector<false, false, false>(setup, X, Y, S, M, O, OA, count);
}

#else

void keySpan8Vector(const SpanSetup& setup, const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                    const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count) {
    keySpan8Reference(setup, X, Y, S, M, O, OA, count);
}

#endif

}  // namespace span_detail

namespace {

constexpr std::ptrdiff_t kMaskChunk = 2048;
constexpr float kInv255 = 1.0f / 255.0f;

void runSpan8(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
              std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags,
              bool spill) {
    if (count <= 0 || !state) return;
    if (!state->faceTable) {
        std::memset(O, 0, 3 * std::size_t(count));
        std::memset(OA, 0, std::size_t(count));
        return;
    }
    const span_detail::SpanSetup setup = span_detail::makeSpanSetup(state, flags, spill, true);
    span_detail::keySpan8Vector(setup, X, Y, S, M, O, OA, count);
}

std::uint8_t scaledMatte8(std::uint8_t m, std::uint8_t alpha) {
    return std::uint8_t(float(255 - m) * kInv255 * float(alpha));
}

}  // namespace

void keySpan8Complement(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t*, const std::uint8_t* M,
                        std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                        std::uint32_t flags) {
    runSpan8(X, Y, nullptr, M, O, OA, count, state, flags, false);
}

void keySpan8Spill(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                   std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                   std::uint32_t flags) {
    runSpan8(X, Y, S, M, O, OA, count, state, flags, true);
}

void applyMask8Complement(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, const std::uint8_t* M,
                          std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState*, std::uint32_t) {
    if (!M) return;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint8_t m = M[3 * i + 1];
        if (m == 0) continue;
        if (m == 255) {
            O[3 * i] = O[3 * i + 1] = O[3 * i + 2] = 0;
            OA[i] = 0;
            continue;
        }
        OA[i] = scaledMatte8(m, OA[i]);
    }
}

void applyMask8Spill(const std::uint8_t*, const std::uint8_t*, const std::uint8_t* S, const std::uint8_t* M,
                     std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                     std::uint32_t flags) {
    if (!M || !state) return;
    const bool complement = flags & KeyFlagSpillComplement;
    const bool solid = (flags & KeyFlagSpillSolid) && !complement;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint8_t m = M[3 * i + 1];
        if (m == 0) continue;
        OA[i] = m == 255 ? 0 : scaledMatte8(m, OA[i]);
        if (OA[i] != 0 || complement) continue;
        std::uint8_t* o = O + 3 * i;
        for (int c = 0; c < 3; ++c) {
            // c counts R, G, B; the bytes are B, G, R.
            const std::uint8_t value =
                solid ? std::uint8_t(state->replacementColour[c] >> 8) : (S ? S[3 * i + 2 - c] : 0);
            o[2 - c] = value;
        }
    }
}

void keySpan8ComplementMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t*,
                              const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                              const KeyState* state, std::uint32_t flags) {
    for (std::ptrdiff_t start = 0; start < count; start += kMaskChunk) {
        const std::ptrdiff_t n = std::min(kMaskChunk, count - start);
        const std::uint8_t* m = M ? M + 3 * start : nullptr;
        keySpan8Complement(X + 3 * start, Y + 3 * start, nullptr, m, O + 3 * start, OA + start, n, state, flags);
        applyMask8Complement(nullptr, nullptr, nullptr, m, O + 3 * start, OA + start, n, state, flags);
    }
}

void keySpan8SpillMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                         std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                         std::uint32_t flags) {
    for (std::ptrdiff_t start = 0; start < count; start += kMaskChunk) {
        const std::ptrdiff_t n = std::min(kMaskChunk, count - start);
        const std::uint8_t* m = M ? M + 3 * start : nullptr;
        const std::uint8_t* s = S ? S + 3 * start : nullptr;
        keySpan8Spill(X + 3 * start, Y + 3 * start, s, m, O + 3 * start, OA + start, n, state, flags);
        applyMask8Spill(nullptr, nullptr, s, m, O + 3 * start, OA + start, n, state, flags);
    }
}

void forwardKeySpan8Complement(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t*,
                               const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                               const KeyState* state, std::uint32_t flags) {
    keySpan8Complement(X, Y, nullptr, M, O, OA, count, state, flags);
}

void forwardKeySpan8Spill(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
                          std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                          std::uint32_t flags) {
    keySpan8Spill(X, Y, S, M, O, OA, count, state, flags);
}

void forwardKeySpan8ComplementMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t*,
                                     const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA,
                                     std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    keySpan8ComplementMasked(X, Y, nullptr, M, O, OA, count, state, flags);
}

void forwardKeySpan8SpillMasked(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                                const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                                const KeyState* state, std::uint32_t flags) {
    keySpan8SpillMasked(X, Y, S, M, O, OA, count, state, flags);
}

int vantproc_8(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
               std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
               std::uint32_t flags) {
    if (!state || count <= 0) return 1;
    const std::uint8_t* mask = (flags & KeyFlagGarbageMask) ? M : nullptr;
    if (state->keySpan8Callback) {
        state->keySpan8Callback(X, Y, S, mask, O, OA, count, state, flags);
        return 1;
    }
    auto widen = [](const std::uint8_t* p, std::uint16_t* out) {
        out[0] = std::uint16_t(p[2] * 257);
        out[1] = std::uint16_t(p[1] * 257);
        out[2] = std::uint16_t(p[0] * 257);
        out[3] = 65535;
    };
    const bool samePixel = X == Y;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        std::uint16_t x16[4], y16[4], s16[4], o16[4] = {0, 0, 0, 0};
        widen(X + 3 * i, x16);
        if (!samePixel) widen(Y + 3 * i, y16);
        if (S) widen(S + 3 * i, s16);
        keyPixel16(x16, samePixel ? x16 : y16, S ? s16 : nullptr, o16, state, flags);
        std::uint8_t* o = O + 3 * i;
        o[0] = std::uint8_t(o16[2] >> 8);
        o[1] = std::uint8_t(o16[1] >> 8);
        o[2] = std::uint8_t(o16[0] >> 8);
        const std::uint8_t matte = std::uint8_t(o16[3] >> 8);
        OA[i] = mask ? scaledMatte8(mask[3 * i + 1], matte) : matte;
    }
    return 1;
}

int vantproc_8(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S, const std::uint8_t* M,
               std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state) {
    return state ? vantproc_8(X, Y, S, M, O, OA, count, state, state->flags) : 1;
}

}  // namespace vantrelo
