#pragma once
// The box blur's passes over R, G and B of interleaved pixels, shared by the box blur and the
// grain filter.  Internal to the effects: callers use box_blur.h.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vantrelo {

// Running sums: exact 64-bit integers for integer samples (a 16-bit row of any length cannot
// overflow them), single precision for float samples.
template <class T>
using BoxSum = std::conditional_t<std::is_floating_point_v<T>, float, std::int64_t>;

template <class T>
inline T boxOutput(BoxSum<T> sum, double weight) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(static_cast<double>(sum) * weight);
    } else {
        // sum never exceeds (2 r + 1) x the largest sample, so the product stays in range.
        return static_cast<T>(static_cast<std::int64_t>(static_cast<double>(sum) * weight));
    }
}

// One row of n pixels, R, G and B at in[x * stride + c], into out[x * 3 + c], radius r
// (0 < r, 2 r < n).  Each channel's window starts centred on position -1 and moves one pixel per
// output, adding the sample that enters and removing the one that leaves (for float sums, their
// difference).
template <class T>
inline void boxRow(const T* in, int stride, std::ptrdiff_t n, std::ptrdiff_t r, double weight, T* out) {
    using Sum = BoxSum<T>;
    auto p = [&](std::ptrdiff_t x, int c) { return static_cast<Sum>(in[x * stride + c]); };
    Sum sum[3], first[3], last[3];
    for (int c = 0; c < 3; ++c) {
        first[c] = p(0, c);
        last[c] = p(n - 1, c);
        sum[c] = static_cast<Sum>(r + 2) * first[c];
        for (std::ptrdiff_t k = 1; k < r; ++k) sum[c] += p(k, c);
    }
    for (std::ptrdiff_t x = 0; x <= r; ++x)
        for (int c = 0; c < 3; ++c) {
            sum[c] += p(x + r, c) - first[c];
            out[x * 3 + c] = boxOutput<T>(sum[c], weight);
        }
    for (std::ptrdiff_t x = r + 1; x < n - r; ++x)
        for (int c = 0; c < 3; ++c) {
            sum[c] += p(x + r, c) - p(x - r - 1, c);
            out[x * 3 + c] = boxOutput<T>(sum[c], weight);
        }
    for (std::ptrdiff_t x = n - r; x < n; ++x)
        for (int c = 0; c < 3; ++c) {
            sum[c] += last[c] - p(x - r - 1, c);
            out[x * 3 + c] = boxOutput<T>(sum[c], weight);
        }
}

// Blurs R, G and B of `source` (srcChannels samples per pixel) into `destination` (dstChannels
// samples per pixel), through `scratch` of width x height x 3 samples, which the horizontal pass
// fills whole.  Requires rh >= 1 and 0 <= rv; source and destination may be the same buffer,
// because the horizontal pass writes only to the scratch image.  With four destination channels
// the fourth receives `alpha` on the way, saving a pass of its own.
template <class T>
void boxBlurPixels(const T* source, int srcChannels, T* destination, int dstChannels, std::ptrdiff_t width,
                   std::ptrdiff_t height, std::ptrdiff_t rh, std::ptrdiff_t rv, T* scratch, T alpha = T{}) {
    using Sum = BoxSum<T>;
    const double wh = 1.0 / static_cast<double>(2 * rh + 1);
    for (std::ptrdiff_t y = 0; y < height; ++y)
        boxRow(source + y * width * srcChannels, srcChannels, width, rh, wh, scratch + y * width * 3);
    if (rv == 0) {
        for (std::ptrdiff_t i = 0; i < width * height; ++i) {
            for (int c = 0; c < 3; ++c) destination[i * dstChannels + c] = scratch[i * 3 + c];
            if (dstChannels == 4) destination[i * 4 + 3] = alpha;
        }
        return;
    }
    // Columns go in blocks of up to 500 that walk down the image together, so that every row is
    // read as one run and the per-column state stays small.
    constexpr std::ptrdiff_t kBlock = 500;
    const double wv = 1.0 / static_cast<double>(2 * rv + 1);
    Sum sums[kBlock * 3];
    for (std::ptrdiff_t x0 = 0; x0 < width; x0 += kBlock) {
        const std::ptrdiff_t count = std::min(kBlock, width - x0) * 3;
        auto rowAt = [&](std::ptrdiff_t y) { return scratch + (y * width + x0) * 3; };
        const T* top = rowAt(0);
        for (std::ptrdiff_t i = 0; i < count; ++i) sums[i] = static_cast<Sum>(rv + 2) * static_cast<Sum>(top[i]);
        for (std::ptrdiff_t k = 1; k < rv; ++k) {
            const T* in = rowAt(k);
            for (std::ptrdiff_t i = 0; i < count; ++i) sums[i] += static_cast<Sum>(in[i]);
        }
        for (std::ptrdiff_t y = 0; y < height; ++y) {
            const T* enter = rowAt(std::min(y + rv, height - 1));
            const T* leave = rowAt(std::max<std::ptrdiff_t>(y - rv - 1, 0));
            T* out = destination + (y * width + x0) * dstChannels;
            for (std::ptrdiff_t i = 0; i < count; i += 3, out += dstChannels) {
                for (int c = 0; c < 3; ++c) {
                    sums[i + c] += static_cast<Sum>(enter[i + c]) - static_cast<Sum>(leave[i + c]);
                    out[c] = boxOutput<T>(sums[i + c], wv);
                }
                if (dstChannels == 4) out[3] = alpha;
            }
        }
    }
}

}  // namespace vantrelo
