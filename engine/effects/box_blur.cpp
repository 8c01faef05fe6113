#include "engine/effects/box_blur.h"

#include <cmath>
#include <cstring>

#include "engine/effects/box_blur_lines.h"
#include "engine/keying/engine_block.h"

namespace vantrelo {

namespace {

template <class T>
bool boxBlurRgb(float factor, const T* source, T* destination, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!usableImage(source, width, height) || !usableImage(destination, width, height)) return false;
    std::size_t count;
    if (!imageElements(width, height, 3, count)) return false;
    if (count == 0) return true;
    const std::ptrdiff_t rh = boxBlurRadius(factor, width);
    if (rh == 0) {
        if (source != destination) std::memmove(destination, source, count * sizeof(T));
        return true;
    }
    const std::ptrdiff_t rv = boxBlurRadius(factor, height);
    BoxScratch<T> scratch;
    if (!scratch.allocate(width, rv)) return false;
    boxBlurPixels(source, 3, destination, 3, width, height, rh, rv, scratch.ring(), scratch.sums());
    return true;
}

}  // namespace

std::ptrdiff_t boxBlurRadius(float factor, std::ptrdiff_t size) {
    if (!(factor > 0.0f)) return 0;  // also NaN
    factor = std::fmin(factor, 1.0f);
    const float radius = std::trunc(static_cast<float>((size >> 1) - 1) * factor);
    return radius > 0.0f ? static_cast<std::ptrdiff_t>(radius) : 0;
}

bool boxBlurRgb16(float factor, const std::uint16_t* source, std::uint16_t* destination, std::ptrdiff_t width,
                  std::ptrdiff_t height) {
    return boxBlurRgb(factor, source, destination, width, height);
}

bool boxBlurRgbFloat(float factor, const float* source, float* destination, std::ptrdiff_t width,
                     std::ptrdiff_t height) {
    return boxBlurRgb(factor, source, destination, width, height);
}

bool boxBlurRgb8(float factor, const std::uint8_t* source, std::uint8_t* destination, std::ptrdiff_t width,
                 std::ptrdiff_t height) {
    return boxBlurRgb(factor, source, destination, width, height);
}

}  // namespace vantrelo
