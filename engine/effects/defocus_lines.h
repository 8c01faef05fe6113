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

#include "engine/effects/defocus.h"

namespace vantrelo {

constexpr int kDefocusLanes = 8;

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
    return static_cast<std::size_t>(length) * kDefocusLanes * 2;
}

inline void storeDefocused(std::uint16_t& out, float y) {
    // NaN fails both tests and gives 0.
    out = y >= 65535.0f ? std::uint16_t{65535} : y > 0.0f ? static_cast<std::uint16_t>(y) : std::uint16_t{0};
}
inline void storeDefocused(float& out, float y) { out = y; }
inline void storeDefocused(std::uint8_t& out, float y) {
    out = y > 255.0f ? std::uint8_t{255} : y >= 0.0f ? static_cast<std::uint8_t>(y) : std::uint8_t{0};
}

// Filters one block in place: x holds the samples, f receives the results.
inline void filterDefocusBlock(const float* x, float* f, std::ptrdiff_t n, int radius,
                               const DefocusKernel& kernel) {
    constexpr int L = kDefocusLanes;
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
    for (std::ptrdiff_t j = first; j < first + count; j += L) {
        const int lanes = static_cast<int>(std::min<std::ptrdiff_t>(L, first + count - j));
        T* start = lines.origin + j * lines.lineStep;
        const std::ptrdiff_t step = lines.sampleStep, laneStep = lines.lineStep;
        if (lanes == L) {
            for (std::ptrdiff_t i = 0; i < n; ++i)
                for (int c = 0; c < L; ++c) x[i * L + c] = static_cast<float>(start[c * laneStep + i * step]);
        } else {
            for (std::ptrdiff_t i = 0; i < n; ++i)
                for (int c = 0; c < lanes; ++c)
                    x[i * L + c] = static_cast<float>(start[c * laneStep + i * step]);
        }
        filterDefocusBlock(x, f, n, radius, kernel);
        for (std::ptrdiff_t i = 0; i < n; ++i)
            for (int c = 0; c < lanes; ++c) storeDefocused(start[c * laneStep + i * step], f[i * L + c]);
    }
}

}  // namespace vantrelo
