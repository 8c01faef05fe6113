#pragma once
// Integer rectangles of image coordinates.  x1 and y1 are exclusive.  A rectangle with x1 <= x0 or
// y1 <= y0 is empty; intersections may come out inverted (x1 < x0), which is just as empty: its
// width and height count as 0, so no size or stride derived from it is ever negative.

#include <cstddef>
#include <cstdint>

namespace Mav::Host::System {

struct Rect {
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;

    bool empty() const { return x1 <= x0 || y1 <= y0; }
    std::ptrdiff_t width() const {
        return x1 > x0 ? std::ptrdiff_t{x1} - std::ptrdiff_t{x0} : 0;
    }
    std::ptrdiff_t height() const {
        return y1 > y0 ? std::ptrdiff_t{y1} - std::ptrdiff_t{y0} : 0;
    }

    // Each coordinate times factor in single precision, truncated toward zero (and held to the
    // 32-bit range; NaN gives 0).
    void scale(float factor);

    bool operator==(const Rect&) const = default;
};

// {max x0, max y0, min x1, min y1}; may be empty or inverted.
Rect intersectRect(const Rect& a, const Rect& b);
// The bounding box of both when a is not empty (b taken as it comes, even when empty); else b.
Rect unionRect(const Rect& a, const Rect& b);
// True when the intersection of outer and inner equals inner, field by field.
bool rectContains(const Rect& outer, const Rect& inner);

// A real coordinate truncated toward zero into the 32-bit range; NaN gives 0.
std::int32_t truncateToInt32(double value);

}  // namespace Mav::Host::System
