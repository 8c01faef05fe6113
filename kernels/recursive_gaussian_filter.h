#pragma once
// The one-dimensional recursive Gaussian: a fourth-order infinite impulse response approximation
// of a Gaussian of standard deviation sigma (Deriche's scheme, published in 1993 as "Recursively
// implementing the Gaussian and its derivatives", with its Gaussian coefficient set).  A line is
// filtered by a causal pass (left to right) and an anti-causal pass (right to left) whose sum is
// normalised to unit gain; the cost per sample does not depend on sigma.  Each pass starts from the
// half-Gaussian-weighted mean of the samples at its end of the line, as if the line went on with
// that value.  (The right end starts from (1 / scale + N0) x mean / 2, the same factor as the left
// end, which leaves the last few sigma of a constant line slightly off its value; the blur's margin
// keeps that outside its output except at the true image border.)
//
// All arithmetic is double precision.  The recurrences are evaluated left to right as written
// here, the feedback of the newest output last:
//   y[k] = N0 x[k] + N1 x[k-1] + N2 x[k-2] + N3 x[k-3] - D4 y[k-4] - D3 y[k-3] - D2 y[k-2]
//          - D1 y[k-1]
//   z[k] = M1 x[k+1] + M2 x[k+2] + M3 x[k+3] + M4 x[k+4] - D4 z[k+4] - D3 z[k+3] - D2 z[k+2]
//          - D1 z[k+1]
// and the output is (y[k] + z[k]) x scale.  Outputs:
// - float: the value in single precision, never clamped;
// - one channel, 8 and 16 bits: value + 0.5, held to 0..max (NaN gives 0), truncated (halves go
// up);
// - four channels, 8 and 16 bits: the value in single precision rounded to the nearest integer
//   (ties to even), held to 0..max (NaN gives 0).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrelo {

class RecursiveGaussianFilter {
public:
    // Sigmas beyond this are refused: their edge taps alone would take hundreds of megabytes.
    static constexpr double kMaxSigma = 1.0e6;

    // Computes every field for sigma (raised to 0.001 when smaller).  type 0 is the Gaussian, the
    // only filter the system uses.  Throws Mav::Exception for a sigma that is not a number or above
    // kMaxSigma; std::bad_alloc when the taps cannot be allocated.
    void setup(double sigma, int type = 0);

    // ceil(3.5 s) half-Gaussian weights for the edge means, summing to 1.
    std::vector<double> taps;
    double N0 = 0, N1 = 0, N2 = 0, N3 = 0;  // causal numerator
    double M1 = 0, M2 = 0, M3 = 0, M4 = 0;  // anti-causal numerator
    double D1 = 0, D2 = 0, D3 = 0, D4 = 0;  // feedback, both passes
    double scale = 1;                       // brings the summed passes to unit gain
    int type = 0;
};

// Filters one channel of one line.  The line has `length` samples, the k-th at
// source[k x sourceStride]; the outputs are the filtered samples first .. first + count - 1, the
// j-th written to destination[j x destinationStride] (strides count samples, not bytes).  first +
// count must not exceed length.  scratch holds `length` doubles.  Source and destination have
// the same depth: `bits` 32 is float, 16 is 16-bit, anything else 8-bit.  The destination may be
// the source (same stride, first 0): every sample is read before it is written.
void recursiveGaussianLine(const void* source, void* destination, double* scratch, int bits,
                           std::ptrdiff_t length, std::ptrdiff_t count, std::ptrdiff_t sourceStride,
                           std::ptrdiff_t destinationStride, std::ptrdiff_t first,
                           const RecursiveGaussianFilter& filter);
void recursiveGaussianLineFloat(const float* source, float* destination, double* scratch,
                                std::ptrdiff_t length, std::ptrdiff_t count,
                                std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                std::ptrdiff_t first, const RecursiveGaussianFilter& filter);
void recursiveGaussianLine16(const std::uint16_t* source, std::uint16_t* destination,
                             double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                             std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                             std::ptrdiff_t first, const RecursiveGaussianFilter& filter);
void recursiveGaussianLine8(const std::uint8_t* source, std::uint8_t* destination, double* scratch,
                            std::ptrdiff_t length, std::ptrdiff_t count,
                            std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                            std::ptrdiff_t first, const RecursiveGaussianFilter& filter);

// The same for four interleaved channels (R, G, B, A) at once, each filtered on its own: the
// strides step from pixel to pixel (in samples), scratch holds 4 x length doubles.
void recursiveGaussianLineRgba(const void* source, void* destination, double* scratch, int bits,
                               std::ptrdiff_t length, std::ptrdiff_t count,
                               std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                               std::ptrdiff_t first, const RecursiveGaussianFilter& filter);
void recursiveGaussianLineRgbaFloat(const float* source, float* destination, double* scratch,
                                    std::ptrdiff_t length, std::ptrdiff_t count,
                                    std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                    std::ptrdiff_t first, const RecursiveGaussianFilter& filter);
void recursiveGaussianLineRgba16(const std::uint16_t* source, std::uint16_t* destination,
                                 double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                                 std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                 std::ptrdiff_t first, const RecursiveGaussianFilter& filter);
void recursiveGaussianLineRgba8(const std::uint8_t* source, std::uint8_t* destination,
                                double* scratch, std::ptrdiff_t length, std::ptrdiff_t count,
                                std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
                                std::ptrdiff_t first, const RecursiveGaussianFilter& filter);

}  // namespace vantrelo
