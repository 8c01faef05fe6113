// Render geometry: the input region a render needs and the foreground transform at the render
// scale.  Every render step derives its rectangles from these two, so a tile and the whole image
// see the same margins.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/keying/numeric.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

namespace {

using Mav::Host::System::intersectRect;
using Mav::Host::System::Rect;

Rect grown(const Rect& r, std::int64_t by) {
    return {saturateToInt32(std::int64_t{r.x0} - by), saturateToInt32(std::int64_t{r.y0} - by),
            saturateToInt32(std::int64_t{r.x1} + by), saturateToInt32(std::int64_t{r.y1} + by)};
}

// 2 x trunc(extent x 2.5 + 0.5): a blur reaches about five of its radii; held to 2^30, so that a
// damaged setting cannot overflow the rectangles (NaN gives 0).
std::int64_t margin(float extent) {
    const double m = std::trunc(static_cast<double>(extent) * 2.5 + 0.5);
    if (!(m > 0.0)) return 0;
    return 2 * static_cast<std::int64_t>(std::min(m, 1073741824.0));
}

// The render scale, or 1 where the host holds none that can be divided by.
double usableScale(float s) { return s > 0.0f && std::isfinite(s) ? s : 1.0; }

}  // namespace

Rect VantreloPlugin::computeInputRegion(const Parameters& set, const Rect& output,
                                        const Rect& frame, const Rect& limit,
                                        bool withBackdropBlur, bool withForegroundTransform,
                                        bool returnWide, int viewMode) const {
    const int r = std::max(bridge.keyStates.softenRadius, 5);
    if (viewMode == kViewModeOfSet)
        viewMode = isPreviewMode() ? set.getInt(kParamMaskMode) : kMaskForeground;

    float g = 0.0f;
    if (viewMode == kMaskForeground && bridge.lightWrapOn)
        g = bridge.lightWrapRadius * pixelScale();
    float b = 0.0f;
    if (withBackdropBlur) {
        const double width = static_cast<double>(limit.x1) - static_cast<double>(limit.x0);
        b = static_cast<float>(set.getDouble(kParamBackdropBlur) * width *
                               static_cast<double>(0.1f) / 100.0);
    }
    const std::int64_t m1 = margin(static_cast<float>(r) + g);
    const std::int64_t m2 = margin(b + g);

    Rect narrow = grown(output, m1);
    const Rect wide = intersectRect(grown(narrow, m2), limit);

    if (withForegroundTransform && !bridge.foregroundTransform.isIdentity()) {
        const Matrix3 back = invertMatrix3(foregroundMatrix(frame));
        const double corners[4][2] = {{double(narrow.x0), double(narrow.y0)},
                                      {double(narrow.x1), double(narrow.y0)},
                                      {double(narrow.x0), double(narrow.y1)},
                                      {double(narrow.x1), double(narrow.y1)}};
        double minX = std::numeric_limits<double>::infinity(), minY = minX;
        double maxX = -minX, maxY = -minX;
        bool finite = true;
        for (const auto& c : corners) {
            const double w = back.at(2, 0) * c[0] + back.at(2, 1) * c[1] + back.at(2, 2);
            const double x = (back.at(0, 0) * c[0] + back.at(0, 1) * c[1] + back.at(0, 2)) / w;
            const double y = (back.at(1, 0) * c[0] + back.at(1, 1) * c[1] + back.at(1, 2)) / w;
            if (!std::isfinite(x) || !std::isfinite(y)) finite = false;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        if (!finite) {
            narrow = frame;
        } else {
            // Held to the frame plus one pixel before they become integers: a transform that
            // throws the region far away must not overflow, and nothing outside the frame is read.
            const auto holdX = [&](double v) {
                return std::clamp(v, double(frame.x0) - 1.0, double(frame.x1) + 1.0);
            };
            const auto holdY = [&](double v) {
                return std::clamp(v, double(frame.y0) - 1.0, double(frame.y1) + 1.0);
            };
            narrow = {saturateToInt32(static_cast<std::int64_t>(std::floor(holdX(minX))) - 1),
                      saturateToInt32(static_cast<std::int64_t>(std::floor(holdY(minY))) - 1),
                      saturateToInt32(static_cast<std::int64_t>(std::ceil(holdX(maxX))) + 1),
                      saturateToInt32(static_cast<std::int64_t>(std::ceil(holdY(maxY))) + 1)};
        }
    }
    narrow = intersectRect(narrow, frame);
    return returnWide ? wide : narrow;
}

Matrix3 VantreloPlugin::foregroundMatrix(const Rect& frame) const {
    const double s = usableScale(pixelScale());
    const double w = static_cast<double>(frame.x1) - static_cast<double>(frame.x0);
    const double h = static_cast<double>(frame.y1) - static_cast<double>(frame.y0);
    Matrix3 m;
    m.at(0, 0) = 1.0 / s;
    m.at(1, 1) = 1.0 / s;
    Matrix3 toCentre;
    toCentre.at(0, 2) = -w / (2.0 * s);
    toCentre.at(1, 2) = -h / (2.0 * s);
    premultiplyMatrix3(m, toCentre);
    premultiplyMatrix3(m, bridge.foregroundTransform);
    Matrix3 fromCentre;
    fromCentre.at(0, 2) = w / (2.0 * s);
    fromCentre.at(1, 2) = h / (2.0 * s);
    premultiplyMatrix3(m, fromCentre);
    Matrix3 up;
    up.at(0, 0) = s;
    up.at(1, 1) = s;
    premultiplyMatrix3(m, up);
    return m;
}

}  // namespace vantrelo
