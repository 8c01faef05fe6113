#pragma once
// The box blur's passes over R, G and B of interleaved pixels, shared by the box blur and the
// grain filter.  Internal to the effects: callers use box_blur.h.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/keying/engine_block.h"

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

// Scratch of one blur from the engine allocator: a ring of 2 rv + 2 horizontally blurred rows of
// width x 3 samples and width x 3 vertical running sums.  The caller has checked that the image
// itself fits, which bounds both (2 rv + 2 <= height).
template <class T>
class BoxScratch {
public:
    bool allocate(std::ptrdiff_t width, std::ptrdiff_t rv) {
        const auto w = static_cast<std::size_t>(width) * 3;
        return ring_.allocate<T>(w * static_cast<std::size_t>(2 * rv + 2), false) &&
               sums_.allocate<BoxSum<T>>(w, false);
    }
    T* ring() const { return ring_.as<T>(); }
    BoxSum<T>* sums() const { return sums_.as<BoxSum<T>>(); }

private:
    EngineBlock ring_, sums_;
};

// Blurs R, G and B of `source` (srcChannels samples per pixel) into `destination` (dstChannels
// samples per pixel).  Requires rh >= 1 and 0 <= rv, 2 rv < height.
//
// The vertical pass needs only the horizontally blurred rows y - rv - 1 .. y + rv for output row
// y, so those rows live in a ring of 2 rv + 2 rows that the horizontal pass fills just ahead of
// it, instead of in a whole-image scratch: the scratch stays in cache and a 24-Mpixel image needs
// a few megabytes, not a hundred and more.  Each column still gets exactly the operations of a
// column-by-column pass, in the same order.  Source row y + rv is read before destination row y
// is written, so source and destination may be the same buffer.  With four destination channels
// the fourth receives `alpha` on the way, saving a pass of its own.
template <class T>
void boxBlurPixels(const T* source, int srcChannels, T* destination, int dstChannels, std::ptrdiff_t width,
                   std::ptrdiff_t height, std::ptrdiff_t rh, std::ptrdiff_t rv, T* ring, BoxSum<T>* sums,
                   T alpha = T{}) {
    using Sum = BoxSum<T>;
    const std::ptrdiff_t rowSamples = width * 3;
    const std::ptrdiff_t slots = 2 * rv + 2;
    const double wh = 1.0 / static_cast<double>(2 * rh + 1);
    const double wv = 1.0 / static_cast<double>(2 * rv + 1);
    auto blurred = [&](std::ptrdiff_t y) { return ring + (y % slots) * rowSamples; };
    auto blurRow = [&](std::ptrdiff_t y) {
        boxRow(source + y * width * srcChannels, srcChannels, width, rh, wh, blurred(y));
    };
    if (rv == 0) {
        for (std::ptrdiff_t y = 0; y < height; ++y) {
            blurRow(y);
            const T* in = blurred(y);
            T* out = destination + y * width * dstChannels;
            for (std::ptrdiff_t x = 0; x < width; ++x, out += dstChannels) {
                for (int c = 0; c < 3; ++c) out[c] = in[x * 3 + c];
                if (dstChannels == 4) out[3] = alpha;
            }
        }
        return;
    }
    for (std::ptrdiff_t y = 0; y < rv; ++y) blurRow(y);
    // The window of row y runs from y - rv to y + rv; it starts centred on row -1.
    const T* top = blurred(0);
    for (std::ptrdiff_t i = 0; i < rowSamples; ++i) sums[i] = static_cast<Sum>(rv + 2) * static_cast<Sum>(top[i]);
    for (std::ptrdiff_t k = 1; k < rv; ++k) {
        const T* in = blurred(k);
        for (std::ptrdiff_t i = 0; i < rowSamples; ++i) sums[i] += static_cast<Sum>(in[i]);
    }
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        if (y + rv < height) blurRow(y + rv);
        const T* enter = blurred(std::min(y + rv, height - 1));
        const T* leave = blurred(std::max<std::ptrdiff_t>(y - rv - 1, 0));
        T* out = destination + y * width * dstChannels;
        for (std::ptrdiff_t i = 0; i < rowSamples; i += 3, out += dstChannels) {
            for (int c = 0; c < 3; ++c) {
                sums[i + c] += static_cast<Sum>(enter[i + c]) - static_cast<Sum>(leave[i + c]);
                out[c] = boxOutput<T>(sums[i + c], wv);
            }
            if (dstChannels == 4) out[3] = alpha;
        }
    }
}

}  // namespace vantrelo
