// Float keying and the 3 x 3 median by luma of sampled blocks.

#include <algorithm>
#include <utility>

#include "engine/keying/key_float8.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelo {

namespace {

using span_detail::kAlternativeKeyers;
using span_detail::nearTruncatedBackdrop;

constexpr float kInv65535 = 1.0f / 65535.0f;

// R, G, B rounded to 16 bits: + 0.5, truncated, limited to 0..65535 (NaN gives 0).
void round16(const float* colour, std::uint16_t* out) {
    for (int c = 0; c < 3; ++c) out[c] = std::uint16_t(span_detail::clampTrunc(colour[c] + 0.5f, 65535.0f));
}

void zeroFloat(float* o) { o[0] = o[1] = o[2] = o[3] = 0.0f; }

}  // namespace

void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state,
                   std::uint32_t flags) {
    static const float kBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!S) S = kBlack;
    if (flags & kAlternativeKeyers) {
        if (state->keyer) state->keyer->keyPixel(X, Y, S, O, state);
        return;
    }
    std::uint16_t y16[3];
    round16(Y, y16);
    if (nearTruncatedBackdrop(y16, state, state->backdropTolerance16Int)) {
        zeroFloat(O);
        return;
    }
    SurfaceRatios r = surfaceRatiosMid16(y16, findHitFace(y16, state), state);
    if (r.inner >= 1.0f) {
        zeroFloat(O);
        return;
    }
    if (X != Y) {
        std::uint16_t x16[3];
        round16(X, x16);
        if (nearTruncatedBackdrop(x16, state, state->backdropTolerance16Int)) {
            zeroFloat(O);
            return;
        }
        r = surfaceRatiosMid16(x16, findHitFace(x16, state), state);
        if (r.inner >= 1.0f) {
            zeroFloat(O);
            return;
        }
    }
    if (!(r.outer > 1.0f)) {
        O[0] = X[0];
        O[1] = X[1];
        O[2] = X[2];
        O[3] = 65535.0f;
        return;
    }
    const float* K = state->compiledBackdrop;
    if (flags & KeyFlagSpillComplement) {
        for (int c = 0; c < 3; ++c) O[c] = (X[c] - K[c]) * r.outer + K[c];
    } else {
        const float w = (1.0f - r.inner) / (r.outer - r.inner);
        for (int c = 0; c < 3; ++c) {
            const float p = (X[c] - K[c]) * r.outer + K[c];
            O[c] = (p - S[c]) * w + S[c];
        }
    }
    const float a = r.middle > 1.0f ? (1.0f - r.inner) / (r.middle - r.inner) : 1.0f;
    O[3] = r.insideMiddle ? a * 65535.0f : 65535.0f;
}

void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state) {
    keyPixelFloat(X, Y, S, O, state, state->flags);
}

#if defined(__SSE2__)

namespace {

using span_detail::faceOfVector;
using span_detail::lane0;
using span_detail::lane1;
using span_detail::lane2;

// keyPixelFloat over a span with the per-call work hoisted: the truncated backdrop, the face
// lookup on the exact integer differences done in float (exact while |trunc(K)| <= 2^20, see
// fastFloatKeying), and the three ratios from the compiled face table in one four-wide operation.
// Every expression is the one keyPixelFloat evaluates, in the same order, so the results are the
// same bit for bit (the tests compare them).
struct FloatSpan {
    __m128i backdropTrunc;
    __m128 backdrop;  // compiledBackdrop, for the pushed colour
    std::int32_t tolerance;
    const float* table;
    bool complement;
};

// span_detail::faceRatios that also hands out the denominators, for the inside-middle flag.  Kept
// apart: one shared form with an output argument changes the machine code GCC makes for either this
// loop or the 16-bit and 8-bit loops.
inline __m128 ratiosWithDen(const float* record, __m128 colour, __m128* den) {
    const __m128 r = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 g = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 b = _mm_shuffle_ps(colour, colour, _MM_SHUFFLE(2, 2, 2, 2));
    *den = _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(record), r), _mm_mul_ps(_mm_load_ps(record + 4), g)),
                                 _mm_mul_ps(_mm_load_ps(record + 8), b)),
                      _mm_load_ps(record + 12));
    const __m128 quotient = _mm_div_ps(_mm_load_ps(record + 16), *den);
    return _mm_and_ps(quotient, _mm_cmpneq_ps(*den, _mm_setzero_ps()));
}

// Where the rounded colour lies; false when it is transparent.  `t` gets the ratios, `insideMiddle`
// the middle flag.
inline bool placeRounded(const FloatSpan& span, const float* colour, __m128* t, bool* insideMiddle) {
    const __m128 rounded = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_loadu_ps(colour), _mm_set1_ps(0.5f)), _mm_setzero_ps()),
                                      _mm_set1_ps(65535.0f));
    const __m128i c16 = _mm_cvttps_epi32(rounded);
    const __m128i d = _mm_sub_epi32(c16, span.backdropTrunc);
    if (span.tolerance > 0) {
        const __m128i near = _mm_and_si128(_mm_cmpgt_epi32(d, _mm_set1_epi32(-span.tolerance)),
                                           _mm_cmplt_epi32(d, _mm_set1_epi32(span.tolerance)));
        if ((_mm_movemask_ps(_mm_castsi128_ps(near)) & 7) == 7) return false;
    }
    const int face = faceOfVector(_mm_cvtepi32_ps(d));
    __m128 den;
    *t = ratiosWithDen(span.table + kFaceTableStride * face, _mm_cvtepi32_ps(c16), &den);
    if (lane0(*t) >= 1.0f) return false;
    *insideMiddle = lane2(*t) > 1.0f || lane2(den) == 0.0f;
    return true;
}

void keyFloatSpan(const FloatSpan& span, const float* X, const float* Y, const float* S, const float* M, float* O,
                  std::ptrdiff_t count) {
    static const float kBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const bool twoColours = X != Y;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const float* x = X + 4 * i;
        float* o = O + 4 * i;
        __m128 t;
        bool insideMiddle = false;
        if (!placeRounded(span, Y + 4 * i, &t, &insideMiddle) ||
            (twoColours && !placeRounded(span, x, &t, &insideMiddle))) {
            _mm_storeu_ps(o, _mm_setzero_ps());
        } else {
            const float tIn = lane0(t);
            const float tOut = lane1(t);
            const float tMid = lane2(t);
            if (!(tOut > 1.0f)) {
                o[0] = x[0];
                o[1] = x[1];
                o[2] = x[2];
                o[3] = 65535.0f;
            } else {
                const float alpha = insideMiddle ? (tMid > 1.0f ? (1.0f - tIn) / (tMid - tIn) : 1.0f) * 65535.0f
                                                 : 65535.0f;
                __m128 p = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(x), span.backdrop), _mm_set1_ps(tOut)),
                                      span.backdrop);
                if (!span.complement) {
                    const __m128 s = _mm_loadu_ps(S ? S + 4 * i : kBlack);
                    p = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(p, s), _mm_set1_ps((1.0f - tIn) / (tOut - tIn))), s);
                }
                _mm_storeu_ps(o, p);
                o[3] = alpha;
            }
        }
        if (M) o[3] = (65535.0f - M[4 * i + 1]) * o[3] * kInv65535;
    }
}

// The span form applies when the face table exists, the fixed mesh is used, and the truncated
// backdrop is small enough for the float differences to be exact.
bool fastFloatKeying(const KeyState* state, std::uint32_t flags, FloatSpan* span) {
    if (!state->faceTable || (flags & kAlternativeKeyers) || (state->flags & KeyFlagGeneratedPolyhedron)) return false;
    std::int32_t truncated[3];
    for (int c = 0; c < 3; ++c) {
        truncated[c] = truncToInt32(state->backdrop[c]);
        if (truncated[c] > (1 << 20) || truncated[c] < -(1 << 20)) return false;
    }
    span->backdropTrunc = _mm_setr_epi32(truncated[0], truncated[1], truncated[2], 0);
    span->backdrop = _mm_setr_ps(state->compiledBackdrop[0], state->compiledBackdrop[1], state->compiledBackdrop[2], 0.0f);
    span->tolerance = state->backdropTolerance16Int;
    span->table = state->faceTable;
    span->complement = flags & KeyFlagSpillComplement;
    return true;
}

}  // namespace

#endif

int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O, std::ptrdiff_t count,
                   const KeyState* state, std::uint32_t flags) {
    if (!state || count <= 0) return 1;
    const float* mask = (flags & KeyFlagGarbageMask) ? M : nullptr;
#if defined(__SSE2__)
    FloatSpan span;
    if (fastFloatKeying(state, flags, &span)) {
        keyFloatSpan(span, X, Y, S, mask, O, count);
        return 1;
    }
#endif
    if ((flags & kAlternativeKeyers) && !state->keyer) {
        // As in the 16-bit loop: nothing to key with gives transparent black, never the buffer's
        // old contents (which the mask would otherwise go on to scale).
        std::fill(O, O + 4 * count, 0.0f);
        return 1;
    }
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        float* o = O + 4 * i;
        keyPixelFloat(X + 4 * i, Y + 4 * i, S ? S + 4 * i : nullptr, o, state, flags);
        if (mask) o[3] = (65535.0f - mask[4 * i + 1]) * o[3] * kInv65535;
    }
    return 1;
}

int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O, std::ptrdiff_t count,
                   const KeyState* state) {
    return state ? super_vantproc(X, Y, S, M, O, count, state, state->flags) : 1;
}

namespace {

// The compare-exchange network of the median, pixel pairs in order.
constexpr int kMedianNetwork[20][2] = {{0, 3}, {1, 4}, {2, 5}, {0, 1}, {0, 2}, {4, 5}, {3, 5}, {6, 1}, {2, 3}, {6, 2},
                                       {6, 4}, {3, 4}, {1, 4}, {7, 1}, {2, 3}, {7, 2}, {1, 3}, {1, 2}, {8, 2}, {8, 1}};

double lumaOf(double r, double g, double b) { return g * 0.5864 + r * 0.299 + b * 0.1146; }

}  // namespace

std::uint16_t* prefilterSamples(std::uint16_t* block) {
    for (int p = 0; p < 9; ++p) {
        std::uint16_t* pixel = block + 4 * p;
        const double luma = lumaOf(pixel[0], pixel[1], pixel[2]);
        pixel[3] = luma >= 65535.0 ? 65535 : luma > 0.0 ? std::uint16_t(luma) : 0;
    }
    for (const auto& pair : kMedianNetwork) {
        std::uint16_t* a = block + 4 * pair[0];
        std::uint16_t* b = block + 4 * pair[1];
        if (a[3] > b[3])
            for (int c = 0; c < 4; ++c) std::swap(a[c], b[c]);
    }
    return block + 4;
}

void prefilterSamplesFloat(float* out, float* block) {
    for (int p = 0; p < 9; ++p) {
        float* pixel = block + 4 * p;
        pixel[3] = float(lumaOf(pixel[0], pixel[1], pixel[2]));
    }
    for (const auto& pair : kMedianNetwork) {
        float* a = block + 4 * pair[0];
        float* b = block + 4 * pair[1];
        if (!(a[3] <= b[3]))
            for (int c = 0; c < 4; ++c) std::swap(a[c], b[c]);
    }
    for (int c = 0; c < 4; ++c) out[c] = block[4 + c];
}

}  // namespace vantrelo
