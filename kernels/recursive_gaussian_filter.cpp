#include "kernels/recursive_gaussian_filter.h"

#include <cmath>
#include <cstdio>

#include "host/system/exceptions.h"
#include "kernels/recursive_gaussian_lines.h"

namespace vantrelo {

namespace {

// The published Gaussian coefficient set.
constexpr double a0 = 1.68, a1 = 3.735, b0 = 1.783, b1 = 1.723;
constexpr double c0 = -0.6803, c1 = -0.2598, w0 = 0.6318, w1 = 1.997;

// The line kernel for this processor.
template <class T, bool Four>
void filterWith(const T* source, T* destination, double* scratch, std::ptrdiff_t length,
                std::ptrdiff_t count, std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    gaussian_detail::lineKernel<T, Four>(gaussian_detail::processorHasAvx())(
        source, destination, scratch, length, count, sourceStride, destinationStride, first,
        filter);
}

}  // namespace

void RecursiveGaussianFilter::setup(double sigma, int filterType) {
    if (!(sigma <= kMaxSigma)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "RecursiveGaussianFilter: sigma %g is not a number of at most %g.", sigma,
                      kMaxSigma);
        throw Mav::Exception(text);
    }
    const double s = sigma < 0.001 ? 0.001 : sigma;
    type = filterType;
    auto E = [s](double x) { return std::exp(x / s); };
    const double cw0 = std::cos(w0 / s), sw0 = std::sin(w0 / s);
    const double cw1 = std::cos(w1 / s), sw1 = std::sin(w1 / s);

    N0 = a0 + c0;
    N1 = (a1 * sw0 - (2 * c0 + a0) * cw0) * E(-b0) + (c1 * sw1 - (2 * a0 + c0) * cw1) * E(-b1);
    N2 = 2 * E(-b0 - b1) * ((a0 + c0) * cw1 * cw0 - cw1 * a1 * sw0 - cw0 * c1 * sw1) +
         c0 * E(-2 * b0) + a0 * E(-2 * b1);
    N3 = (a1 * sw0 - a0 * cw0) * E(-b0 - 2 * b1) + (c1 * sw1 - c0 * cw1) * E(-b1 - 2 * b0);
    D1 = -2 * cw1 * E(-b1) - 2 * cw0 * E(-b0);
    D2 = 4 * cw1 * cw0 * E(-b0 - b1) + E(-2 * b1) + E(-2 * b0);
    D3 = -2 * cw0 * E(-b0 - 2 * b1) - 2 * cw1 * E(-b1 - 2 * b0);
    D4 = E(-2 * b0 - 2 * b1);
    M1 = N1 - D1 * N0;
    M2 = N2 - D2 * N0;
    M3 = N3 - D3 * N0;
    M4 = -D4 * N0;

    // Gain of both passes together: twice the causal impulse response's absolute sum, with the
    // centre counted once.
    double x[4] = {1, 0, 0, 0};     // x[k], x[k-1], x[k-2], x[k-3]
    double h[5] = {0, 0, 0, 0, 0};  // h[k], h[k-1] .. h[k-4]
    double sum = 0.0;
    for (int k = 0; k < 1024; ++k) {
        const double hk = N0 * x[0] + N1 * x[1] + N2 * x[2] + N3 * x[3] - D1 * h[1] - D2 * h[2] -
                          D3 * h[3] - D4 * h[4];
        if (std::fabs(hk) < 1e-5) break;
        sum += std::fabs(hk);
        for (int j = 4; j > 1; --j) h[j] = h[j - 1];
        h[1] = hk;
        x[3] = x[2];
        x[2] = x[1];
        x[1] = x[0];
        x[0] = 0;
    }
    const double total = 2 * sum - N0;
    scale = total == 0.0 ? 1.0 : 1.0 / total;

    // s <= kMaxSigma keeps the count far inside the size range.
    const auto tapCount = static_cast<std::size_t>(std::ceil(3.5 * s));
    taps.assign(tapCount, 0.0);
    double tapSum = 0.0;
    for (std::size_t j = 0; j < tapCount; ++j) {
        const double r = static_cast<double>(j) / s;
        taps[j] = std::exp(-0.5 * r * r);
        tapSum += taps[j];
    }
    if (tapSum > 0.0)
        for (double& t : taps) t /= tapSum;
}

void recursiveGaussianLineFloat(const float* source, float* destination, double* scratch,
                                std::ptrdiff_t length, std::ptrdiff_t count,
                                std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<float, false>(source, destination, scratch, length, count, sourceStride,
                             destinationStride, first, filter);
}

void recursiveGaussianLine16(const std::uint16_t* source, std::uint16_t* destination,
                             double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                             std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                             std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<std::uint16_t, false>(source, destination, scratch, length, count, sourceStride,
                                     destinationStride, first, filter);
}

void recursiveGaussianLine8(const std::uint8_t* source, std::uint8_t* destination, double* scratch,
                            std::ptrdiff_t length, std::ptrdiff_t count,
                            std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                            std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<std::uint8_t, false>(source, destination, scratch, length, count, sourceStride,
                                    destinationStride, first, filter);
}

void recursiveGaussianLine(const void* source, void* destination, double* scratch, int bits,
                           std::ptrdiff_t length, std::ptrdiff_t count, std::ptrdiff_t sourceStride,
                           std::ptrdiff_t destinationStride, std::ptrdiff_t first,
                           const RecursiveGaussianFilter& filter) {
    if (bits == 32)
        recursiveGaussianLineFloat(static_cast<const float*>(source),
                                   static_cast<float*>(destination), scratch, length, count,
                                   sourceStride, destinationStride, first, filter);
    else if (bits == 16)
        recursiveGaussianLine16(static_cast<const std::uint16_t*>(source),
                                static_cast<std::uint16_t*>(destination), scratch, length, count,
                                sourceStride, destinationStride, first, filter);
    else
        recursiveGaussianLine8(static_cast<const std::uint8_t*>(source),
                               static_cast<std::uint8_t*>(destination), scratch, length, count,
                               sourceStride, destinationStride, first, filter);
}

void recursiveGaussianLineRgbaFloat(const float* source, float* destination, double* scratch,
                                    std::ptrdiff_t length, std::ptrdiff_t count,
                                    std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                    std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<float, true>(source, destination, scratch, length, count, sourceStride,
                            destinationStride, first, filter);
}

void recursiveGaussianLineRgba16(const std::uint16_t* source, std::uint16_t* destination,
                                 double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                                 std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                 std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<std::uint16_t, true>(source, destination, scratch, length, count, sourceStride,
                                    destinationStride, first, filter);
}

void recursiveGaussianLineRgba8(const std::uint8_t* source, std::uint8_t* destination,
                                double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                                std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    filterWith<std::uint8_t, true>(source, destination, scratch, length, count, sourceStride,
                                   destinationStride, first, filter);
}

void recursiveGaussianLineRgba(const void* source, void* destination, double* scratch, int bits,
                               std::ptrdiff_t length, std::ptrdiff_t count,
                               std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                               std::ptrdiff_t first, const RecursiveGaussianFilter& filter) {
    if (bits == 32)
        recursiveGaussianLineRgbaFloat(static_cast<const float*>(source),
                                       static_cast<float*>(destination), scratch, length, count,
                                       sourceStride, destinationStride, first, filter);
    else if (bits == 16)
        recursiveGaussianLineRgba16(static_cast<const std::uint16_t*>(source),
                                    static_cast<std::uint16_t*>(destination), scratch, length,
                                    count, sourceStride, destinationStride, first, filter);
    else
        recursiveGaussianLineRgba8(static_cast<const std::uint8_t*>(source),
                                   static_cast<std::uint8_t*>(destination), scratch, length, count,
                                   sourceStride, destinationStride, first, filter);
}

}  // namespace vantrelo
