#pragma once
// Margins of the rectangle that the engine keys and the grain filter keeps.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace vantrelo {

// Pixel distances from the image's left, right, top and bottom edges.  All 0, or no record at
// all, mean the whole image.
struct CropInsets {
    std::int32_t left;
    std::int32_t right;
    std::int32_t top;
    std::int32_t bottom;
};

// The kept rectangle, both bounds inclusive: columns x0..x1, rows y0..y1.  It is empty when
// x1 < x0 or y1 < y0.
struct KeptRect {
    std::ptrdiff_t x0, x1, y0, y1;
};

// Each inset is clipped to 0..size of its axis, so the rectangle never reaches outside the image
// (x0 <= width, x1 >= -1), whatever the record holds.  Insets that overlap give an empty rectangle.
inline KeptRect keptRect(const CropInsets* insets, std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!insets) return KeptRect{0, width - 1, 0, height - 1};
    auto clip = [](std::int32_t inset, std::ptrdiff_t size) {
        return std::clamp<std::ptrdiff_t>(inset, 0, std::max<std::ptrdiff_t>(size, 0));
    };
    return KeptRect{clip(insets->left, width), width - clip(insets->right, width) - 1,
                    clip(insets->top, height), height - clip(insets->bottom, height) - 1};
}

}  // namespace vantrelo
