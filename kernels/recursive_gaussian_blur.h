#pragma once
// A separable Gaussian blur of an image rectangle: a horizontal and a vertical pass of the
// recursive Gaussian filter (kernels/recursive_gaussian_filter.h), each split into bands that run
// on every processor of the host.  Built, run once and destroyed by its caller.
//
// The destination's bounds are the rectangle produced.  The source must have the destination's
// depth and channel count and cover that rectangle; it is read with a margin of ceil(3.5 sigma)
// around it wherever it has pixels there, so that the ends of the filtered lines, where the filter
// starts from an edge mean, fall outside the output except at the source's own border (where the
// image is continued by the half-Gaussian-weighted mean of its border samples).  Source and
// destination may be the same buffer, a blur in place (then without margin).
//
// Passes: a filter with fewer than two taps (sigma up to 2/7) is the identity, so its pass is
// skipped; with both tiny the vertical pass still runs, as a copy.  When both passes run, the
// horizontal one writes an intermediate image of the destination's depth (so 8- and 16-bit
// results are rounded between the passes) over the margin rows and the destination's columns.
// Four-channel images filter a whole pixel at once and round ties to even; other channel counts go
// channel by channel and round halves up (see the filter).
//
// Progress: every band reports after each line (row, then column) whose coordinate is a multiple
// of 32, margin lines included, with its band index as the key: with reportProgress off (every
// render turns it off) a tick, otherwise the position within both passes.  Mav::Interrupted from
// the host ends the blur after all bands have stopped, with the destination partly written.
//
// Failures: Mav::Exception from the constructor for images that do not fit together or a sigma
// that is not a number or above RecursiveGaussianFilter::kMaxSigma (a negative sigma counts as 0);
// std::bad_alloc from the constructor (intermediate) or from run (a band's line scratch).

#include <cstdint>

#include "kernels/band_job.h"
#include "kernels/recursive_gaussian_filter.h"

namespace vantrelo {

class RecursiveGaussianBlur {
public:
    // Filter types are 0, the Gaussian, in every use.
    RecursiveGaussianBlur(SystemHost& host, const ImageBuffer& source, ImageBuffer& destination,
                          float sigmaX, float sigmaY, int typeX = 0, int typeY = 0);
    RecursiveGaussianBlur(const RecursiveGaussianBlur&) = delete;
    RecursiveGaussianBlur& operator=(const RecursiveGaussianBlur&) = delete;

    // Writes the blurred rectangle into the destination; returns when both passes are done.
    void run();

    // Progress positions instead of ticks (on after construction).
    bool reportProgress = true;
    // Bands of each pass: 0 (the render's choice) one per processor of the host; tests and
    // benchmarks set other counts, which give the same result.
    std::uint64_t bandCount = 0;

    // What the blur set up, for callers and tests.
    const RecursiveGaussianFilter& filterX() const { return filterX_; }
    const RecursiveGaussianFilter& filterY() const { return filterY_; }
    const ImageBuffer& paddedView() const { return view_; }
    const ImageBuffer& intermediate() const { return intermediate_; }

private:
    static void blurRows(void* self, std::uint64_t index, std::uint64_t count, std::uint64_t key);
    static void blurColumns(void* self, std::uint64_t index, std::uint64_t count,
                            std::uint64_t key);
    static void blurRowsRgba(void* self, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
    static void blurColumnsRgba(void* self, std::uint64_t index, std::uint64_t count,
                                std::uint64_t key);
    template <bool Four>
    void horizontalBand(std::uint64_t index, std::uint64_t count, std::uint64_t key);
    template <bool Four>
    void verticalBand(std::uint64_t index, std::uint64_t count, std::uint64_t key);
    void progress(std::uint64_t key, std::uint64_t done, std::uint64_t total);

    SystemHost& host_;
    const ImageBuffer& source_;
    ImageBuffer& destination_;
    RecursiveGaussianFilter filterX_;
    RecursiveGaussianFilter filterY_;
    ImageBuffer view_;          // the source over the destination plus margins; owns nothing
    ImageBuffer intermediate_;  // between the passes, when both run
};

}  // namespace vantrelo
