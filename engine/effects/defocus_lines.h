#pragma once
// The exponential-window line filter of the defocus, shared by its passes and its band workers.
// Internal to the effects: callers use defocus.h.
//
// A pass is a set of lines (padded rows or padded columns).  Lines are filtered kDefocusLanes at a
// time, sample i of lane c at scratch[i * kDefocusLanes + c], so that the recurrences run across
// lanes and vectorise.  Every lane does exactly the single-precision operations of the one-line
// filter in the same order, so a line's result does not depend on which block, lane or band
// filtered it: splitting a pass over workers is bit-identical to running it whole.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/effects/defocus.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelo {

constexpr int kDefocusLanes = 8;
// Lines side by side in memory (the columns of a plane) go kDefocusRunLanes at a time, so that
// every visit to a row reads a whole cache line.
constexpr int kDefocusRunLanes = 16;

// Sample i of line j is origin[j * lineStep + i * sampleStep]; every line has `length` samples.
template <class T>
struct DefocusLines {
    T* origin;
    std::ptrdiff_t sampleStep;
    std::ptrdiff_t lineStep;
    std::ptrdiff_t length;
};

// Floats per scratch block of one worker: the loaded samples and the forward sums of a block.
inline std::size_t defocusScratchFloats(std::ptrdiff_t length) {
    return static_cast<std::size_t>(length) * kDefocusRunLanes * 2;
}

// Pass results go back into the buffer's own type: 16-bit and 8-bit clamp to their range and
// truncate (NaN gives 0), float stores unclamped.  Written without branches so that whole blocks
// convert at once.
inline void storeDefocused(std::uint16_t& out, float y) {
    float c = y > 0.0f ? y : 0.0f;
    c = c < 65535.0f ? c : 65535.0f;
    out = static_cast<std::uint16_t>(static_cast<std::int32_t>(c));
}
inline void storeDefocused(float& out, float y) { out = y; }
inline void storeDefocused(std::uint8_t& out, float y) {
    float c = y > 0.0f ? y : 0.0f;
    c = c < 255.0f ? c : 255.0f;
    out = static_cast<std::uint8_t>(static_cast<std::int32_t>(c));
}

// Filters one block of L lanes: x holds the samples, f receives the results.
template <int L>
inline void filterDefocusBlock(const float* __restrict x, float* __restrict f, std::ptrdiff_t n, int radius,
                               const DefocusKernel& kernel) {
    const float base = kernel.base, tail = kernel.tailWeight, norm = kernel.normaliser;
    const std::ptrdiff_t r = radius;
    for (int c = 0; c < L; ++c) f[c] = x[c] * base;
    const std::ptrdiff_t headEnd = std::min(r, n - 1);
    for (std::ptrdiff_t i = 1; i <= headEnd; ++i) {
        const float* xi = x + i * L;
        float* fi = f + i * L;
        for (int c = 0; c < L; ++c) fi[c] = (xi[c] + fi[c - L]) * base;
    }
    for (std::ptrdiff_t i = r + 1; i < n; ++i) {
        const float* xi = x + i * L;
        const float* xo = x + (i - r - 1) * L;
        float* fi = f + i * L;
        for (int c = 0; c < L; ++c) fi[c] = (xi[c] + fi[c - L]) * base - xo[c] * tail;
    }
    // The backward sum is a running value; f[i] turns into the result once B[i] is known, and is
    // never read again.
    float b[L];
    {
        const float* xi = x + (n - 1) * L;
        float* fi = f + (n - 1) * L;
        for (int c = 0; c < L; ++c) {
            b[c] = xi[c] * base;
            fi[c] = (fi[c] + b[c]) * norm;
        }
    }
    const std::ptrdiff_t noTailFrom = std::max<std::ptrdiff_t>(n - 1 - r, 0);
    std::ptrdiff_t i = n - 2;
    for (; i >= noTailFrom; --i) {
        const float* xi = x + i * L;
        float* fi = f + i * L;
        for (int c = 0; c < L; ++c) {
            b[c] = (xi[c] + b[c]) * base;
            fi[c] = (fi[c] + b[c]) * norm;
        }
    }
    for (; i >= 0; --i) {
        const float* xi = x + i * L;
        const float* xo = x + (i + r + 1) * L;
        float* fi = f + i * L;
        for (int c = 0; c < L; ++c) {
            b[c] = (xi[c] + b[c]) * base - xo[c] * tail;
            fi[c] = (fi[c] + b[c]) * norm;
        }
    }
}

#if defined(__SSE2__)
// Rows of 16-bit samples meet the lane layout through 8 x 8 transposes: eight rows of eight
// samples in, eight samples of eight lanes out (and back).  Only data moves and exact conversions
// happen here, so the results are those of the scalar loops.
inline void transpose8x16(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Eight rows of eight samples (one vector per row) into lanes of samples i0 .. i0 + 7.
inline void lanesFromRows16(__m128i r[8], std::ptrdiff_t i0, float* x) {
    static_assert(kDefocusLanes == 8);
    transpose8x16(r);
    const __m128i zero = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        float* xi = x + (i0 + k) * 8;
        _mm_storeu_ps(xi, _mm_cvtepi32_ps(_mm_unpacklo_epi16(r[k], zero)));
        _mm_storeu_ps(xi + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(r[k], zero)));
    }
}

// Samples i0 .. i0 + 7 of eight rows into lanes.
inline void loadRowBlock16(const std::uint16_t* const rows[8], std::ptrdiff_t i0, float* x) {
    __m128i r[8];
    for (int c = 0; c < 8; ++c) r[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[c] + i0));
    lanesFromRows16(r, i0, x);
}

// The alpha of pixels i0 .. i0 + 7 of eight rows of RGBA pixels into lanes.
inline void loadAlphaBlock16(const std::uint16_t* const pixelRows[8], std::ptrdiff_t i0, float* x) {
    __m128i r[8];
    for (int c = 0; c < 8; ++c) {
        const auto* p = reinterpret_cast<const __m128i*>(pixelRows[c] + i0 * 4);
        const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
        const __m128i cc = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
        // r0 r2 g0 g2 b0 b2 a0 a2 / r1 r3 g1 g3 b1 b3 a1 a3, then b0..b3 a0..a3, then a0..a7.
        const __m128i t0 = _mm_unpacklo_epi16(a, b), t1 = _mm_unpackhi_epi16(a, b);
        const __m128i t2 = _mm_unpacklo_epi16(cc, d), t3 = _mm_unpackhi_epi16(cc, d);
        r[c] = _mm_unpackhi_epi64(_mm_unpackhi_epi16(t0, t1), _mm_unpackhi_epi16(t2, t3));
    }
    lanesFromRows16(r, i0, x);
}

// Lanes of samples i0 .. i0 + 7 back into eight rows, clamped and truncated like storeDefocused.
inline void storeRowBlock16(std::uint16_t* const rows[8], std::ptrdiff_t i0, const float* f) {
    const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(65535.0f);
    const __m128i bias = _mm_set1_epi32(32768), flip = _mm_set1_epi16(static_cast<short>(0x8000));
    __m128i r[8];
    for (int k = 0; k < 8; ++k) {
        const float* fi = f + (i0 + k) * 8;
        // max returns its second operand for NaN, so NaN gives 0.
        const __m128 lo = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(fi), zero), top);
        const __m128 hi = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(fi + 4), zero), top);
        // 0..65535 through the signed pack: shift down by 32768, pack, flip the top bit back.
        const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(_mm_cvttps_epi32(lo), bias),
                                               _mm_sub_epi32(_mm_cvttps_epi32(hi), bias));
        r[k] = _mm_xor_si128(packed, flip);
    }
    transpose8x16(r);
    for (int c = 0; c < 8; ++c) _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[c] + i0), r[c]);
}
#endif

// Filters lines first .. first + count - 1.  scratch holds defocusScratchFloats(length) floats,
// cleared once by its owner (lanes past the last line of a short block keep stale finite values
// that are computed and never stored).
template <class T>
void filterDefocusLines(const DefocusLines<T>& lines, std::ptrdiff_t first, std::ptrdiff_t count,
                        int radius, const DefocusKernel& kernel, float* scratch) {
    constexpr int L = kDefocusLanes;
    const std::ptrdiff_t n = lines.length;
    if (n <= 0) return;
    float* x = scratch;
    float* f = scratch + n * L;
    const std::ptrdiff_t step = lines.sampleStep, laneStep = lines.lineStep;
    for (std::ptrdiff_t j = first; j < first + count; j += L) {
        const int lanes = static_cast<int>(std::min<std::ptrdiff_t>(L, first + count - j));
        T* start = lines.origin + j * laneStep;
        constexpr int R = kDefocusRunLanes;
        if (laneStep == 1 && first + count - j >= R) {
            // Neighbouring lines side by side (columns of a plane): whole blocks load and store
            // as runs.
            float* xr = scratch;
            float* fr = scratch + n * R;
            for (std::ptrdiff_t i = 0; i < n; ++i)
                for (int c = 0; c < R; ++c) xr[i * R + c] = static_cast<float>(start[i * step + c]);
            filterDefocusBlock<R>(xr, fr, n, radius, kernel);
            for (std::ptrdiff_t i = 0; i < n; ++i)
                for (int c = 0; c < R; ++c) storeDefocused(start[i * step + c], fr[i * R + c]);
            j += R - L;
            continue;
        }
        // Lines apart from each other (rows of a plane): whole 8 x 8 blocks where the samples
        // of each line are consecutive, single samples for the rest.
        std::ptrdiff_t blocked = 0;
#if defined(__SSE2__)
        std::uint16_t* rows[L];
        if constexpr (std::is_same_v<T, std::uint16_t>) {
            if (lanes == L && step == 1) {
                blocked = n - n % 8;
                for (int c = 0; c < L; ++c) rows[c] = start + c * laneStep;
                for (std::ptrdiff_t i0 = 0; i0 < blocked; i0 += 8) loadRowBlock16(rows, i0, x);
            }
        }
#endif
        for (int c = 0; c < lanes; ++c) {
            const T* in = start + c * laneStep;
            for (std::ptrdiff_t i = blocked; i < n; ++i) x[i * L + c] = static_cast<float>(in[i * step]);
        }
        filterDefocusBlock<L>(x, f, n, radius, kernel);
#if defined(__SSE2__)
        if constexpr (std::is_same_v<T, std::uint16_t>)
            for (std::ptrdiff_t i0 = 0; i0 < blocked; i0 += 8) storeRowBlock16(rows, i0, f);
#endif
        for (int c = 0; c < lanes; ++c) {
            T* out = start + c * laneStep;
            for (std::ptrdiff_t i = blocked; i < n; ++i) storeDefocused(out[i * step], f[i * L + c]);
        }
    }
}

}  // namespace vantrelo
