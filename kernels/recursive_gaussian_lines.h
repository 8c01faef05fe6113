#pragma once
// The line filter of kernels/recursive_gaussian_filter.h, as templates over the sample type:
// - filterLine: one line, one channel (scalar) or the four channels of an RGBA pixel (a vector of
//   four doubles);
// - filterStrip: many lines side by side whose samples are adjacent in memory (a strip of image
//   columns, all channels of each pixel), four lanes per vector.
// Every lane runs the same double-precision arithmetic in the same order (the recurrence
// functions below), so each lane computes bit for bit what filterLine computes for that channel;
// only the final rounding differs between the one-channel and the four-channel outputs.
//
// Everything here is forced inline, so that the kernels compiled for AVX (lineKernel and
// stripKernel below) contain all of it: nothing compiled for
// AVX is ever left out of line where code for older processors could call it.  Without fused
// multiply-adds the AVX code computes the same values as the two-double code.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kernels/recursive_gaussian_filter.h"

namespace vantrelo::gaussian_detail {

// Four doubles; the compiler maps the operations onto pairs of two-double vector instructions.
// aligned(8): scratch and samples need not be 32-byte aligned.  The helpers below pass these
// vectors by reference only: passing one by value would depend on whether AVX is enabled.
typedef double Double4 __attribute__((vector_size(32), aligned(8), may_alias));
typedef float Float4 __attribute__((vector_size(16), aligned(4)));
typedef std::int32_t Int4 __attribute__((vector_size(16), aligned(4)));

template <class T>
constexpr double sampleMaximum() {
    return sizeof(T) == 1 ? 255.0 : 65535.0;
}

// The two recurrences, in the order recursive_gaussian_filter.h states: the feedback of the newest
// output comes last, so each step waits on the previous one for one multiplication and one
// subtraction only.  V is double or Double4.
template <class V>
[[gnu::always_inline]] inline void causalStep(V& y, const V& x0, const V& x1, const V& x2,
                                              const V& x3, const V& y1, const V& y2, const V& y3,
                                              const V& y4, const RecursiveGaussianFilter& f) {
    y = f.N0 * x0 + f.N1 * x1 + f.N2 * x2 + f.N3 * x3 - f.D4 * y4 - f.D3 * y3 - f.D2 * y2 -
        f.D1 * y1;
}

template <class V>
[[gnu::always_inline]] inline void antiCausalStep(V& z, const V& a1, const V& a2, const V& a3,
                                                  const V& a4, const V& z1, const V& z2,
                                                  const V& z3, const V& z4,
                                                  const RecursiveGaussianFilter& f) {
    z = f.M1 * a1 + f.M2 * a2 + f.M3 * a3 + f.M4 * a4 - f.D4 * z4 - f.D3 * z3 - f.D2 * z2 -
        f.D1 * z1;
}

// Output of one sample in the one-channel rounding: float unclamped; integers v + 0.5 held to
// 0..max (NaN gives 0) and truncated, so halves go up.
template <class T>
[[gnu::always_inline]] inline T roundHalfUp(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        double q = v + 0.5;
        if (!(q > 0.0)) q = 0.0;  // also NaN
        if (q > sampleMaximum<T>()) q = sampleMaximum<T>();
        return static_cast<T>(q);
    }
}

// Output of four adjacent samples.  TiesEven (the four-channel rounding): through single
// precision, nearest integer with ties to even, held to 0..max (NaN gives 0).  Otherwise each as
// roundHalfUp.  Float samples are the single-precision values in both.
template <class T, bool TiesEven>
[[gnu::always_inline]] inline void store4(T* p, const Double4& v) {
    if constexpr (std::is_floating_point_v<T>) {
        const Float4 f = __builtin_convertvector(v, Float4);
        std::memcpy(p, &f, sizeof f);
    } else if constexpr (TiesEven) {
        Float4 f = __builtin_convertvector(v, Float4);
        const Float4 zero = {0, 0, 0, 0};
        constexpr float kMax = static_cast<float>(sampleMaximum<T>());
        const Float4 top = {kMax, kMax, kMax, kMax};
        f = f > zero ? f : zero;  // also NaN
        f = f < top ? f : top;
        // Adding and taking away 2^23 rounds a value in [0, 2^23) to the nearest integer, ties to
        // even, as the processor's default rounding does; the conversion is then exact.
        const Float4 magic = {8388608.0f, 8388608.0f, 8388608.0f, 8388608.0f};
        f = (f + magic) - magic;
        const Int4 i = __builtin_convertvector(f, Int4);
        p[0] = static_cast<T>(i[0]);
        p[1] = static_cast<T>(i[1]);
        p[2] = static_cast<T>(i[2]);
        p[3] = static_cast<T>(i[3]);
    } else {
        const Double4 half = {0.5, 0.5, 0.5, 0.5}, zero = {0, 0, 0, 0};
        constexpr double kMax = sampleMaximum<T>();
        const Double4 top = {kMax, kMax, kMax, kMax};
        Double4 q = v + half;
        q = q > zero ? q : zero;  // also NaN
        q = q < top ? q : top;
        const Int4 i = __builtin_convertvector(q, Int4);
        p[0] = static_cast<T>(i[0]);
        p[1] = static_cast<T>(i[1]);
        p[2] = static_cast<T>(i[2]);
        p[3] = static_cast<T>(i[3]);
    }
}

template <class T>
[[gnu::always_inline]] inline void load4(Double4& out, const T* p) {
    out = Double4{static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2]),
                  static_cast<double>(p[3])};
}

// Lanes of filterLine: one channel (scalar), or four (one vector).
template <class T, bool Four>
struct Lanes;

template <class T>
struct Lanes<T, false> {
    using V = double;
    static constexpr std::ptrdiff_t kWidth = 1;
    [[gnu::always_inline]] static void load(V& out, const T* p) { out = static_cast<double>(*p); }
    [[gnu::always_inline]] static void splat(V& out, double d) { out = d; }
    [[gnu::always_inline]] static void loadScratch(V& out, const double* s) { out = *s; }
    [[gnu::always_inline]] static void storeScratch(double* s, const V& v) { *s = v; }
    [[gnu::always_inline]] static void store(T* p, const V& v) { *p = roundHalfUp<T>(v); }
};

template <class T>
struct Lanes<T, true> {
    using V = Double4;
    static constexpr std::ptrdiff_t kWidth = 4;
    [[gnu::always_inline]] static void load(V& out, const T* p) { load4(out, p); }
    [[gnu::always_inline]] static void splat(V& out, double d) { out = V{d, d, d, d}; }
    [[gnu::always_inline]] static void loadScratch(V& out, const double* s) {
        out = *reinterpret_cast<const V*>(s);
    }
    [[gnu::always_inline]] static void storeScratch(double* s, const V& v) {
        *reinterpret_cast<V*>(s) = v;
    }
    [[gnu::always_inline]] static void store(T* p, const V& v) { store4<T, true>(p, v); }
};

// The filter of one line (one channel or four), arguments as for recursiveGaussianLine.
template <class T, bool Four>
[[gnu::always_inline]] inline void filterLine(const T* source, T* destination, double* scratch,
                                              std::ptrdiff_t length, std::ptrdiff_t count,
                                              std::ptrdiff_t sourceStride,
                                              std::ptrdiff_t destinationStride,
                                              std::ptrdiff_t first,
                                              const RecursiveGaussianFilter& f) {
    using L = Lanes<T, Four>;
    using V = typename L::V;
    constexpr std::ptrdiff_t W = L::kWidth;
    if (length <= 0) return;

    // Edge means over the first and the last K samples.
    const std::ptrdiff_t taps = std::min(static_cast<std::ptrdiff_t>(f.taps.size()), length);
    double tapSum = 0.0;
    V sumLeft, sumRight, x;
    L::splat(sumLeft, 0.0);
    L::splat(sumRight, 0.0);
    for (std::ptrdiff_t j = 0; j < taps; ++j) {
        const double t = f.taps[static_cast<std::size_t>(j)];
        L::load(x, source + j * sourceStride);
        sumLeft = sumLeft + t * x;
        L::load(x, source + (length - 1 - j) * sourceStride);
        sumRight = sumRight + t * x;
        tapSum += t;
    }
    const V meanLeft = tapSum != 0.0 ? sumLeft / tapSum : sumLeft;
    const V meanRight = tapSum != 0.0 ? sumRight / tapSum : sumRight;
    const double settled = 1.0 / f.scale + f.N0;
    const V startLeft = settled * meanLeft * 0.5;
    const V startRight = settled * meanRight * 0.5;  // the same factor, as for the left edge

    // Causal pass into the scratch.
    V x1 = meanLeft, x2 = meanLeft, x3 = meanLeft;
    V y1 = startLeft, y2 = startLeft, y3 = startLeft, y4 = startLeft;
    const T* s = source;
    for (std::ptrdiff_t k = 0; k < length; ++k, s += sourceStride) {
        V x0, y;
        L::load(x0, s);
        causalStep(y, x0, x1, x2, x3, y1, y2, y3, y4, f);
        L::storeScratch(scratch + k * W, y);
        x3 = x2;
        x2 = x1;
        x1 = x0;
        y4 = y3;
        y3 = y2;
        y2 = y1;
        y1 = y;
    }

    // Anti-causal pass, added to the causal part and written out on the way.  Sample k is read
    // before output k is written, so a line filtered in place reads only its original values.
    V a1 = meanRight, a2 = meanRight, a3 = meanRight, a4 = meanRight;
    V z1 = startRight, z2 = startRight, z3 = startRight, z4 = startRight;
    const double scale = f.scale;
    const std::ptrdiff_t outputEnd = first + count;
    for (std::ptrdiff_t k = length - 1; k >= first; --k) {
        V z, xk, causal;
        antiCausalStep(z, a1, a2, a3, a4, z1, z2, z3, z4, f);
        L::load(xk, source + k * sourceStride);
        if (k < outputEnd) {
            L::loadScratch(causal, scratch + k * W);
            const V v = (causal + z) * scale;
            L::store(destination + (k - first) * destinationStride, v);
        }
        a4 = a3;
        a3 = a2;
        a2 = a1;
        a1 = xk;
        z4 = z3;
        z3 = z2;
        z2 = z1;
        z1 = z;
    }
}

// Doubles of work memory filterStrip needs for `lanes` lanes of `length` samples.
inline std::ptrdiff_t stripWorkSize(std::ptrdiff_t lanes, std::ptrdiff_t length) {
    return (length + 4 + 3 * 4 + 4) * lanes;
}

// `lanes` lines side by side (a multiple of 4): position k of lane j is source[k x sourceStride +
// j], output position k of lane j goes to destination[(k - first) x destinationStride + j].  The
// same arithmetic per lane as filterLine; rounding as store4<T, TiesEven>.  Going along all lanes
// at each position keeps memory access in rows (a strip of image columns is read row by row) and
// gives the processor many independent recurrences at once.  The history of each lane lives in
// `work` (stripWorkSize doubles): the causal outputs with four rows of start values before them,
// and rings of the last four inputs and anti-causal outputs.  In place is allowed as for
// filterLine.
template <class T, bool TiesEven>
[[gnu::always_inline]] inline void filterStrip(const T* source, T* destination, double* work,
                                               std::ptrdiff_t lanes, std::ptrdiff_t length,
                                               std::ptrdiff_t count, std::ptrdiff_t sourceStride,
                                               std::ptrdiff_t destinationStride,
                                               std::ptrdiff_t first,
                                               const RecursiveGaussianFilter& f) {
    if (length <= 0 || lanes <= 0) return;
    double* const causal = work;  // rows -4 .. length - 1
    double* const inputs = causal + (length + 4) * lanes;
    double* const outputs = inputs + 4 * lanes;
    double* const means = outputs + 4 * lanes;  // left, right
    auto row = [lanes](double* base, std::ptrdiff_t k) __attribute__((always_inline)) {
        return base + (k & 3) * lanes;
    };
    auto at = [](double* p) __attribute__((always_inline))->Double4& {
        return *reinterpret_cast<Double4*>(p);
    };

    const std::ptrdiff_t taps = std::min(static_cast<std::ptrdiff_t>(f.taps.size()), length);
    double tapSum = 0.0;
    for (std::ptrdiff_t j = 0; j < taps; ++j) tapSum += f.taps[static_cast<std::size_t>(j)];
    const double settled = 1.0 / f.scale + f.N0;
    for (std::ptrdiff_t lane = 0; lane < lanes; lane += 4) {
        Double4 sumLeft = {0, 0, 0, 0}, sumRight = {0, 0, 0, 0}, x;
        for (std::ptrdiff_t j = 0; j < taps; ++j) {
            const double t = f.taps[static_cast<std::size_t>(j)];
            load4(x, source + j * sourceStride + lane);
            sumLeft = sumLeft + t * x;
            load4(x, source + (length - 1 - j) * sourceStride + lane);
            sumRight = sumRight + t * x;
        }
        const Double4 meanLeft = tapSum != 0.0 ? sumLeft / tapSum : sumLeft;
        const Double4 meanRight = tapSum != 0.0 ? sumRight / tapSum : sumRight;
        const Double4 startLeft = settled * meanLeft * 0.5;
        for (std::ptrdiff_t k = -4; k < 0; ++k) at(causal + (k + 4) * lanes + lane) = startLeft;
        for (std::ptrdiff_t k = 1; k <= 3; ++k) at(row(inputs, -k) + lane) = meanLeft;
        at(means + lane) = meanRight;
    }

    // Rows of a strip lie a whole image row apart, so the processor's prefetcher, which stays
    // within a page, does not fetch them ahead; the loops ask for the row kAhead steps on.
    constexpr std::ptrdiff_t kAhead = 12;
    const std::ptrdiff_t rowBytes = lanes * static_cast<std::ptrdiff_t>(sizeof(T));
    auto prefetch = [rowBytes](const T* p, int write) __attribute__((always_inline)) {
        const char* c = reinterpret_cast<const char*>(p);
        for (std::ptrdiff_t b = 0; b < rowBytes; b += 64)
            write ? __builtin_prefetch(c + b, 1) : __builtin_prefetch(c + b, 0);
    };
    for (std::ptrdiff_t k = 0; k < length; ++k) {
        const T* s = source + k * sourceStride;
        if (k + kAhead < length) prefetch(s + kAhead * sourceStride, 0);
        double* y0 = causal + (k + 4) * lanes;
        double* x0 = row(inputs, k);
        double* x1 = row(inputs, k - 1);
        double* x2 = row(inputs, k - 2);
        double* x3 = row(inputs, k - 3);
        for (std::ptrdiff_t lane = 0; lane < lanes; lane += 4) {
            Double4 x, y;
            load4(x, s + lane);
            causalStep(y, x, at(x1 + lane), at(x2 + lane), at(x3 + lane), at(y0 - lanes + lane),
                       at(y0 - 2 * lanes + lane), at(y0 - 3 * lanes + lane),
                       at(y0 - 4 * lanes + lane), f);
            at(x0 + lane) = x;
            at(y0 + lane) = y;
        }
    }

    for (std::ptrdiff_t lane = 0; lane < lanes; lane += 4) {
        const Double4 meanRight = at(means + lane);
        const Double4 startRight = settled * meanRight * 0.5;
        for (std::ptrdiff_t k = 0; k < 4; ++k) {
            at(inputs + k * lanes + lane) = meanRight;
            at(outputs + k * lanes + lane) = startRight;
        }
    }
    const Double4 scale = {f.scale, f.scale, f.scale, f.scale};
    const std::ptrdiff_t outputEnd = first + count;
    for (std::ptrdiff_t k = length - 1; k >= first; --k) {
        const T* s = source + k * sourceStride;
        T* d = destination + (k - first) * destinationStride;
        if (k - kAhead >= first) {
            prefetch(s - kAhead * sourceStride, 0);
            if (k - kAhead < outputEnd) prefetch(d - kAhead * destinationStride, 1);
        }
        const double* y = causal + (k + 4) * lanes;
        double* a1 = row(inputs, k + 1);
        double* a2 = row(inputs, k + 2);
        double* a3 = row(inputs, k + 3);
        double* a4 = row(inputs, k + 4);  // the slot sample k takes over
        double* z1 = row(outputs, k + 1);
        double* z2 = row(outputs, k + 2);
        double* z3 = row(outputs, k + 3);
        double* z4 = row(outputs, k + 4);
        const bool output = k < outputEnd;
        for (std::ptrdiff_t lane = 0; lane < lanes; lane += 4) {
            Double4 z, x;
            antiCausalStep(z, at(a1 + lane), at(a2 + lane), at(a3 + lane), at(a4 + lane),
                           at(z1 + lane), at(z2 + lane), at(z3 + lane), at(z4 + lane), f);
            load4(x, s + lane);
            if (output) {
                const Double4 v = (*reinterpret_cast<const Double4*>(y + lane) + z) * scale;
                store4<T, TiesEven>(d + lane, v);
            }
            at(a4 + lane) = x;
            at(z4 + lane) = z;
        }
    }
}

// The kernels compiled for AVX (measured about twice as fast on both passes: four doubles per
// instruction instead of two) or for the base instruction set.  Callers pass processorHasAvx();
// tests ask for both and compare.
template <class T, bool Four>
using LineKernel = void (*)(const T* source, T* destination, double* scratch, std::ptrdiff_t length,
                            std::ptrdiff_t count, std::ptrdiff_t sourceStride,
                            std::ptrdiff_t destinationStride, std::ptrdiff_t first,
                            const RecursiveGaussianFilter& f);
template <class T, bool TiesEven>
using StripKernel = void (*)(const T* source, T* destination, double* work, std::ptrdiff_t lanes,
                             std::ptrdiff_t length, std::ptrdiff_t count,
                             std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                             std::ptrdiff_t first, const RecursiveGaussianFilter& f);
bool processorHasAvx();
template <class T, bool Four>
LineKernel<T, Four> lineKernel(bool avx);
template <class T, bool TiesEven>
StripKernel<T, TiesEven> stripKernel(bool avx);

}  // namespace vantrelo::gaussian_detail
