#include "engine/effects/grain_filter.h"

#include <algorithm>

#include "engine/effects/box_blur.h"
#include "engine/effects/box_blur_lines.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

template <class T>
bool fillOutside(T* image, int channels, const T* fill, std::ptrdiff_t x0, std::ptrdiff_t x1, std::ptrdiff_t y0,
                 std::ptrdiff_t y1, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!usableImage(image, width, height) || !fill) return false;
    if (width == 0 || height == 0) return true;
    x0 = std::clamp<std::ptrdiff_t>(x0, 0, width);
    x1 = std::clamp<std::ptrdiff_t>(x1, -1, width - 1);
    y0 = std::clamp<std::ptrdiff_t>(y0, 0, height);
    y1 = std::clamp<std::ptrdiff_t>(y1, -1, height - 1);
    auto fillRun = [&](std::ptrdiff_t y, std::ptrdiff_t from, std::ptrdiff_t to) {
        T* p = image + (y * width + from) * channels;
        for (std::ptrdiff_t x = from; x < to; ++x, p += channels) std::copy(fill, fill + channels, p);
    };
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        if (y < y0 || y > y1) {
            fillRun(y, 0, width);
        } else {
            fillRun(y, 0, x0);
            fillRun(y, std::max<std::ptrdiff_t>(x1 + 1, 0), width);
        }
    }
    return true;
}

// The shared steps: fill, blur in place through one scratch image, set alpha.  The scratch image is
// obtained before anything is written, so a shortage leaves the image as it was.
template <class T>
bool removeGrain(T* image, int channels, const T* fill, T opaque, std::ptrdiff_t width, std::ptrdiff_t height,
                 const KeyState* state, const CropInsets* insets) {
    if (!state || !usableImage(image, width, height)) return false;
    const float factor = grainFactor(state->grainLevel);
    if (factor == 0.0f || width == 0 || height == 0) return true;
    // The image's own size bounds every scratch size below (2 rv + 2 <= height).
    std::size_t count;
    if (!imageElements(width, height, 4, count)) return false;
    const std::ptrdiff_t rh = boxBlurRadius(factor, width), rv = boxBlurRadius(factor, height);
    BoxScratch<T> scratch;
    if (rh > 0 && !scratch.allocate(width, rv)) return false;

    if (insets) {
        const KeptRect kept = keptRect(insets, width, height);
        fillOutside(image, channels, fill, kept.x0, kept.x1, kept.y0, kept.y1, width, height);
    }
    if (rh > 0)
        boxBlurPixels(image, channels, image, channels, width, height, rh, rv, scratch.ring(), scratch.sums(),
                      opaque);
    else if (channels == 4)
        for (std::ptrdiff_t i = 0; i < width * height; ++i) image[i * 4 + 3] = opaque;
    return true;
}

}  // namespace

float grainFactor(std::int32_t level) {
    static constexpr float kFactors[4] = {0.0f, 0.01f, 0.02f, 0.03f};
    return kFactors[std::clamp<std::int32_t>(level, 0, 3)];
}

bool removeGrain16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                   const CropInsets* insets) {
    if (!state) return false;
    const std::uint16_t fill[4] = {truncToUint16(state->backdrop[0]), truncToUint16(state->backdrop[1]),
                                   truncToUint16(state->backdrop[2]), 65535};
    return removeGrain(image, 4, fill, std::uint16_t{65535}, width, height, state, insets);
}

bool removeGrainFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                      const CropInsets* insets) {
    if (!state) return false;
    const float fill[4] = {state->backdrop[0], state->backdrop[1], state->backdrop[2], 65535.0f};
    return removeGrain(image, 4, fill, 65535.0f, width, height, state, insets);
}

bool removeGrain8(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                  const CropInsets* insets) {
    if (!state) return false;
    const std::uint8_t fill[3] = {static_cast<std::uint8_t>(truncToUint16(state->backdrop[2]) >> 8),
                                  static_cast<std::uint8_t>(truncToUint16(state->backdrop[1]) >> 8),
                                  static_cast<std::uint8_t>(truncToUint16(state->backdrop[0]) >> 8)};
    return removeGrain(image, 3, fill, std::uint8_t{0}, width, height, state, insets);
}

bool fillOutsideRect16(std::uint16_t* image, std::array<std::uint16_t, 4> fill, std::ptrdiff_t x0,
                       std::ptrdiff_t x1, std::ptrdiff_t y0, std::ptrdiff_t y1, std::ptrdiff_t width,
                       std::ptrdiff_t height) {
    return fillOutside(image, 4, fill.data(), x0, x1, y0, y1, width, height);
}

bool fillOutsideRectFloat(float* image, const float* fill, std::ptrdiff_t x0, std::ptrdiff_t x1, std::ptrdiff_t y0,
                          std::ptrdiff_t y1, std::ptrdiff_t width, std::ptrdiff_t height) {
    return fillOutside(image, 4, fill, x0, x1, y0, y1, width, height);
}

bool fillOutsideRect8(std::uint8_t* image, const std::uint8_t* fill, std::ptrdiff_t x0, std::ptrdiff_t x1,
                      std::ptrdiff_t y0, std::ptrdiff_t y1, std::ptrdiff_t width, std::ptrdiff_t height) {
    return fillOutside(image, 3, fill, x0, x1, y0, y1, width, height);
}

}  // namespace vantrelo
