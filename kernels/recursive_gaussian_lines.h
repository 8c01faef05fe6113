#pragma once
// The line filter of kernels/recursive_gaussian_filter.h as one template over the sample type and
// the lane count (one channel, or the four channels of an RGBA pixel in one vector of four
// doubles).  Every lane runs the same arithmetic in the same order, so a lane of the four-channel
// path computes bit for bit what the one-channel path computes for that channel; only the final
// rounding differs, as documented.

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

template <class T, bool Four>
struct Lanes;

template <class T>
struct Lanes<T, false> {
    using V = double;
    static constexpr std::ptrdiff_t kWidth = 1;
    static void load(V& out, const T* p) { out = static_cast<double>(*p); }
    static void splat(V& out, double d) { out = d; }
    static void loadScratch(V& out, const double* s) { out = *s; }
    static void storeScratch(double* s, const V& v) { *s = v; }
    static void store(T* p, const V& v) {
        if constexpr (std::is_floating_point_v<T>) {
            *p = static_cast<T>(v);
        } else {
            double q = v + 0.5;
            if (!(q > 0.0)) q = 0.0;  // also NaN
            if (q > sampleMaximum<T>()) q = sampleMaximum<T>();
            *p = static_cast<T>(q);
        }
    }
};

template <class T>
struct Lanes<T, true> {
    using V = Double4;
    static constexpr std::ptrdiff_t kWidth = 4;
    static void load(V& out, const T* p) {
        out = V{static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2]),
                static_cast<double>(p[3])};
    }
    static void splat(V& out, double d) { out = V{d, d, d, d}; }
    static void loadScratch(V& out, const double* s) { out = *reinterpret_cast<const V*>(s); }
    static void storeScratch(double* s, const V& v) { *reinterpret_cast<V*>(s) = v; }
    static void store(T* p, const V& v) {
        Float4 f = __builtin_convertvector(v, Float4);
        if constexpr (std::is_floating_point_v<T>) {
            std::memcpy(p, &f, sizeof f);
        } else {
            const Float4 zero = {0, 0, 0, 0};
            constexpr float kMax = static_cast<float>(sampleMaximum<T>());
            const Float4 top = {kMax, kMax, kMax, kMax};
            f = f > zero ? f : zero;  // also NaN
            f = f < top ? f : top;
            // Adding and taking away 2^23 rounds a value in [0, 2^23) to the nearest integer, ties
            // to even, as the processor's default rounding does; the conversion is then exact.
            const Float4 magic = {8388608.0f, 8388608.0f, 8388608.0f, 8388608.0f};
            f = (f + magic) - magic;
            const Int4 i = __builtin_convertvector(f, Int4);
            p[0] = static_cast<T>(i[0]);
            p[1] = static_cast<T>(i[1]);
            p[2] = static_cast<T>(i[2]);
            p[3] = static_cast<T>(i[3]);
        }
    }
};

// The filter of one line (one channel or four), arguments as for recursiveGaussianLine.
template <class T, bool Four>
void filterLine(const T* source, T* destination, double* scratch, std::ptrdiff_t length,
                std::ptrdiff_t count, std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                std::ptrdiff_t first, const RecursiveGaussianFilter& f) {
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

    const double n0 = f.N0, n1 = f.N1, n2 = f.N2, n3 = f.N3;
    const double m1 = f.M1, m2 = f.M2, m3 = f.M3, m4 = f.M4;
    const double d1 = f.D1, d2 = f.D2, d3 = f.D3, d4 = f.D4;

    // Causal pass into the scratch.
    V x1 = meanLeft, x2 = meanLeft, x3 = meanLeft;
    V y1 = startLeft, y2 = startLeft, y3 = startLeft, y4 = startLeft;
    const T* s = source;
    for (std::ptrdiff_t k = 0; k < length; ++k, s += sourceStride) {
        V x0;
        L::load(x0, s);
        const V y = n0 * x0 + n1 * x1 + n2 * x2 + n3 * x3 - d1 * y1 - d2 * y2 - d3 * y3 - d4 * y4;
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
        const V z = m1 * a1 + m2 * a2 + m3 * a3 + m4 * a4 - d1 * z1 - d2 * z2 - d3 * z3 - d4 * z4;
        V xk, causal;
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

}  // namespace vantrelo::gaussian_detail
