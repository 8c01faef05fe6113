#include "host/system/rect.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Mav::Host::System {

std::int32_t truncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

void Rect::scale(float factor) {
    // The product is rounded to single precision before truncation, as the preview scales expect.
    const auto scaled = [factor](std::int32_t coordinate) {
        const float product = static_cast<float>(coordinate) * factor;
        return truncateToInt32(static_cast<double>(product));
    };
    x0 = scaled(x0);
    y0 = scaled(y0);
    x1 = scaled(x1);
    y1 = scaled(y1);
}

Rect intersectRect(const Rect& a, const Rect& b) {
    return Rect{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1),
                std::min(a.y1, b.y1)};
}

Rect unionRect(const Rect& a, const Rect& b) {
    if (a.empty()) return b;
    return Rect{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                std::max(a.y1, b.y1)};
}

bool rectContains(const Rect& outer, const Rect& inner) {
    return intersectRect(outer, inner) == inner;
}

}  // namespace Mav::Host::System
