#include "engine/effects/defocus_matte16.h"

#include <algorithm>
#include <cstring>

#include "engine/effects/defocus_lines.h"

namespace vantrelo {

std::size_t matte16ScratchFloats(const Matte16Defocus& job) {
    const auto rows = static_cast<std::size_t>(job.padWidth()) * kDefocusLanes;
    const auto columns = static_cast<std::size_t>(job.padHeight()) * kDefocusRunLanes;
    return std::max(rows, columns) * 2;
}

void defocusMatte16EdgeRows(const Matte16Defocus& job, float* scratch) {
    constexpr int L = kDefocusLanes;
    const std::ptrdiff_t w = job.width, h = job.height, r = job.radius, pw = job.padWidth();
    if (r == 0) return;
    // Lane 0 is every row above the image, lane 1 every row below it.
    float* x = scratch;
    float* f = scratch + pw * L;
    std::fill(x, x + pw * L, 0.0f);
    const std::uint16_t* first = job.image + 3;
    const std::uint16_t* last = job.image + (h - 1) * w * 4 + 3;
    for (std::ptrdiff_t i = 0; i < w; ++i) {
        x[(r + i) * L] = first[i * 4];
        x[(r + i) * L + 1] = last[i * 4];
    }
    filterDefocusBlock<L>(x, f, pw, job.radius, job.kernel);
    std::uint16_t* above = job.plane;
    std::uint16_t* below = job.plane + (r + h) * pw;
    for (std::ptrdiff_t i = 0; i < pw; ++i) {
        storeDefocused(above[i], f[i * L]);
        storeDefocused(below[i], f[i * L + 1]);
    }
    for (std::ptrdiff_t y = 1; y < r; ++y) {
        std::memcpy(above + y * pw, above, static_cast<std::size_t>(pw) * sizeof(std::uint16_t));
        std::memcpy(below + y * pw, below, static_cast<std::size_t>(pw) * sizeof(std::uint16_t));
    }
}

void defocusMatte16Rows(const Matte16Defocus& job, std::ptrdiff_t first, std::ptrdiff_t count, float* scratch) {
    constexpr int L = kDefocusLanes;
    const std::ptrdiff_t w = job.width, r = job.radius, pw = job.padWidth();
    float* x = scratch;
    float* f = scratch + pw * L;
    for (std::ptrdiff_t y0 = first; y0 < first + count; y0 += L) {
        const int lanes = static_cast<int>(std::min<std::ptrdiff_t>(L, first + count - y0));
        const std::uint16_t* pixels[L];
        std::uint16_t* out[L];
        for (int c = 0; c < lanes; ++c) {
            pixels[c] = job.image + (y0 + c) * w * 4;
            out[c] = job.plane + (r + y0 + c) * pw;
        }
        // The padding columns repeat the row's first and last pixel.
        for (int c = 0; c < lanes; ++c) {
            const float left = pixels[c][3], right = pixels[c][(w - 1) * 4 + 3];
            for (std::ptrdiff_t i = 0; i < r; ++i) {
                x[i * L + c] = left;
                x[(r + w + i) * L + c] = right;
            }
        }
        std::ptrdiff_t loaded = 0, stored = 0;
#if defined(__SSE2__)
        if (lanes == L) {
            loaded = w - w % 8;
            for (std::ptrdiff_t i0 = 0; i0 < loaded; i0 += 8) loadAlphaBlock16(pixels, i0, x + r * L);
        }
#endif
        for (int c = 0; c < lanes; ++c)
            for (std::ptrdiff_t i = loaded; i < w; ++i) x[(r + i) * L + c] = pixels[c][i * 4 + 3];
        filterDefocusBlock<L>(x, f, pw, job.radius, job.kernel);
#if defined(__SSE2__)
        if (lanes == L) {
            stored = pw - pw % 8;
            for (std::ptrdiff_t i0 = 0; i0 < stored; i0 += 8) storeRowBlock16(out, i0, f);
        }
#endif
        for (int c = 0; c < lanes; ++c)
            for (std::ptrdiff_t i = stored; i < pw; ++i) storeDefocused(out[c][i], f[i * L + c]);
    }
}

void defocusMatte16Columns(const Matte16Defocus& job, std::ptrdiff_t first, std::ptrdiff_t count,
                           float* scratch) {
    constexpr int R = kDefocusRunLanes;
    const std::ptrdiff_t w = job.width, h = job.height, r = job.radius, pw = job.padWidth(),
                         ph = job.padHeight();
    float* x = scratch;
    float* f = scratch + ph * R;
    for (std::ptrdiff_t x0 = first; x0 < first + count; x0 += R) {
        const int lanes = static_cast<int>(std::min<std::ptrdiff_t>(R, first + count - x0));
        const std::uint16_t* column = job.plane + r + x0;
        if (lanes == R) {
            for (std::ptrdiff_t i = 0; i < ph; ++i)
                for (int c = 0; c < R; ++c) x[i * R + c] = column[i * pw + c];
        } else {
            // Lanes past the last column keep stale finite values that are filtered and dropped.
            for (std::ptrdiff_t i = 0; i < ph; ++i)
                for (int c = 0; c < lanes; ++c) x[i * R + c] = column[i * pw + c];
        }
        filterDefocusBlock<R>(x, f, ph, job.radius, job.kernel);
        // Only the rows of the image are kept; they go back into the plane, whose lines the
        // block has just read.
        std::uint16_t* kept = job.plane + r * pw + r + x0;
        if (lanes == R) {
            for (std::ptrdiff_t y = 0; y < h; ++y)
                for (int c = 0; c < R; ++c) storeDefocused(kept[y * pw + c], f[(r + y) * R + c]);
        } else {
            for (std::ptrdiff_t y = 0; y < h; ++y)
                for (int c = 0; c < lanes; ++c) storeDefocused(kept[y * pw + c], f[(r + y) * R + c]);
        }
    }
    // The band's columns then go into the image row by row, re-levelled: runs along the rows
    // stream through memory, where a walk down the image's columns would not.
    for (std::ptrdiff_t y = 0; y < h; ++y) {
        const std::uint16_t* in = job.plane + (r + y) * pw + r + first;
        std::uint16_t* out = job.image + (y * w + first) * 4 + 3;
        if (job.level)
            for (std::ptrdiff_t i = 0; i < count; ++i) out[i * 4] = job.level[in[i]];
        else
            for (std::ptrdiff_t i = 0; i < count; ++i) out[i * 4] = in[i];
    }
}

}  // namespace vantrelo
