#include "engine/effects/matte_mix.h"

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"
#include "engine/keying/keying_workers.h"

namespace vantrelo {

namespace {

// The mixed channel: both products and their sum in single precision, truncated.  The sum of two
// non-negative weights of at most one stays within 0..65535 (the clamp only guards rounding).
inline std::uint16_t mixChannel(std::uint16_t first, std::uint16_t second, float f) {
    const float value = static_cast<float>(second) * (1.0f - f) + static_cast<float>(first) * f;
    return value >= 65535.0f ? std::uint16_t{65535} : static_cast<std::uint16_t>(value);
}

inline void mixPixel(const std::uint16_t* first, const std::uint16_t* second, std::uint16_t* out,
                     std::uint16_t m) {
    if (m == 0) {
        std::copy(second, second + 4, out);
    } else if (m == 65535) {
        std::copy(first, first + 4, out);
    } else {
        const float f = static_cast<float>(m) * kUnit16;
        for (int c = 0; c < 3; ++c) out[c] = mixChannel(first[c], second[c], f);
    }
}

bool usableAll(std::ptrdiff_t width, std::ptrdiff_t height, std::initializer_list<const void*> images) {
    for (const void* image : images)
        if (!usableImage(image, width, height)) return false;
    return true;
}

}  // namespace

bool mixByMatte16(const std::uint16_t* first, const std::uint16_t* second, std::uint16_t* out,
                  const std::uint16_t* matte, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!usableAll(width, height, {first, second, out, matte})) return false;
    const std::ptrdiff_t pixels = width * height;
    for (std::ptrdiff_t i = 0; i < pixels; ++i)
        mixPixel(first + i * 4, second + i * 4, out + i * 4, matte[i * 4 + 3]);
    return true;
}

bool mixByMatteInRect16(const std::uint16_t* first, const std::uint16_t* second, std::uint16_t* out,
                        const std::uint16_t* matte, std::ptrdiff_t rowLength, const MatteRect* bounds) {
    if (!bounds || bounds->x0 > bounds->x1 || bounds->y0 > bounds->y1) return true;
    if (rowLength < 0) return false;
    const std::ptrdiff_t x0 = std::max<std::ptrdiff_t>(bounds->x0, 0);
    const std::ptrdiff_t x1 = std::min<std::ptrdiff_t>(bounds->x1, rowLength - 1);
    const std::ptrdiff_t y0 = std::max<std::ptrdiff_t>(bounds->y0, 0);
    const std::ptrdiff_t y1 = bounds->y1;
    if (x0 > x1 || y0 > y1) return true;
    if (!first || !second || !out || !matte) return false;
    for (std::ptrdiff_t y = y0; y <= y1; ++y)
        for (std::ptrdiff_t x = x0; x <= x1; ++x) {
            const std::ptrdiff_t i = (y * rowLength + x) * 4;
            mixPixel(first + i, second + i, out + i, matte[i + 3]);
        }
    return true;
}

bool doComposite(const std::uint16_t* foreground, const std::uint16_t* background, std::uint16_t* out,
                 std::uint16_t* matteOut, std::ptrdiff_t width, std::ptrdiff_t rowCount) {
    if (!usableAll(width, rowCount, {foreground, background, out, matteOut})) return false;
    const std::ptrdiff_t pixels = width * rowCount;
    for (std::ptrdiff_t i = 0; i < pixels; ++i) {
        const std::uint16_t m = foreground[i * 4 + 3];
        mixPixel(foreground + i * 4, background + i * 4, out + i * 4, m);
        std::fill(matteOut + i * 4, matteOut + i * 4 + 3, m);
    }
    return true;
}

doComposite_VantThread::doComposite_VantThread(int index, int bandCount, const std::uint16_t* foreground,
                                               const std::uint16_t* background, std::uint16_t* out,
                                               std::uint16_t* matteOut, std::ptrdiff_t width,
                                               std::ptrdiff_t height)
    : VantThread(index, bandCount, width, height, true),
      foreground_(bandOffset8(foreground)),
      background_(bandOffset8(background)),
      out_(bandOffset8(out)),
      matteOut_(bandOffset8(matteOut)) {}

unsigned doComposite_VantThread::run() {
    doComposite(foreground_, background_, out_, matteOut_, width(), bandCount());
    return 0;
}

bool runCompositeWorkers(const std::uint16_t* foreground, const std::uint16_t* background, std::uint16_t* out,
                         std::uint16_t* matteOut, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!usableAll(width, height, {foreground, background, out, matteOut})) return false;
    if (width == 0 || height == 0) return true;
    return launchWorkers(keyingBandCount(), [&](int i, int n) {
        return std::make_unique<doComposite_VantThread>(i, n, foreground, background, out, matteOut, width, height);
    });
}

bool compositeWithMatte16(const std::uint16_t* foreground, const std::uint16_t* background,
                          std::uint16_t* out, std::uint16_t* matteOut, std::ptrdiff_t width,
                          std::ptrdiff_t height) {
    if (!usableAll(width, height, {foreground, background, out, matteOut})) return false;
    // Workers that cannot be created leave everything unwritten; the calling thread then does it.
    if (workerThreadCount() >= 2 && width >= 10 && height >= 10 &&
        runCompositeWorkers(foreground, background, out, matteOut, width, height))
        return true;
    return doComposite(foreground, background, out, matteOut, width, height);
}

}  // namespace vantrelo
