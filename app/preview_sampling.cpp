// Reading colours from the preview: one pixel, one pixel through the inverse subject transform, and
// the box of a box selection.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "app/vant_image_preview.h"
#include "engine/keying/numeric.h"
#include "host/param/viewer_base.h"
#include "host/system/rect.h"
#include "plugin/vantrelo_wrapper.h"

using vantrelo::Matrix3;

namespace {

// Mapped points farther out than this are refused before they are rounded: no picture is that
// large, and the image-to-window step can then neither overflow nor wrap onto the picture.
constexpr double kMappedLimit = 1073741824.0;  // 2^30

struct HookFree {
    void operator()(std::uint16_t* block) const { vantrelo::freeWithHook(block); }
};

// The viewer counts positions from the drawing rectangle's corner, inset from the window's by the
// panel's frame: a window position goes to the viewer less that corner, or the pixel read would lie
// that many screen pixels right of and below the one drawn under the pointer.
struct ViewerPoint {
    std::int32_t x;
    std::int32_t y;
};
ViewerPoint toViewer(const Mav::Host::Param::ViewerBase& viewer, int x, int y) {
    return {vantrelo::saturateToInt32(std::int64_t{x} - viewer.originX),
            vantrelo::saturateToInt32(std::int64_t{y} - viewer.originY)};
}

// The colour at a position in the viewer's coordinates.
bool readPixel(Mav::Host::Param::ViewerBase& viewer, int x, int y, std::uint16_t colour[4]) {
    float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!viewer.pixelAt(v, x, y)) {
        colour[0] = colour[1] = colour[2] = colour[3] = 0;
        return false;
    }
    for (int c = 0; c < 4; ++c) {
        // Clamped to [0, 1] (NaN to 0), scaled in single precision and truncated: 0.5 gives 32767.
        const float clamped = v[c] > 1.0f ? 1.0f : v[c];
        colour[c] = vantrelo::truncToUint16(clamped * 65535.0f);
    }
    return true;
}

}  // namespace

bool VantImagePreview::samplePixel(int x, int y, std::uint16_t colour[4]) {
    if (!viewer) {
        colour[0] = colour[1] = colour[2] = colour[3] = 0;
        return false;
    }
    const ViewerPoint at = toViewer(*viewer, x, y);
    return readPixel(*viewer, at.x, at.y, colour);
}

bool VantImagePreview::samplePixelTransformed(int x, int y, const Matrix3& m,
                                              std::uint16_t colour[4]) {
    colour[0] = colour[1] = colour[2] = colour[3] = 0;
    if (!viewer) return false;
    int ix = 0, iy = 0;
    const ViewerPoint at = toViewer(*viewer, x, y);
    viewer->viewToImage(at.x, at.y, ix, iy, false);
    const double px = ix, py = iy;
    const double w = m.at(2, 0) * px + m.at(2, 1) * py + m.at(2, 2);
    if (w == 0.0 || !std::isfinite(w)) return false;
    const double mx = (m.at(0, 0) * px + m.at(0, 1) * py + m.at(0, 2)) / w;
    const double my = (m.at(1, 0) * px + m.at(1, 1) * py + m.at(1, 2)) / w;
    // !(|v| <= limit) also refuses NaN.
    if (!(std::abs(mx) <= kMappedLimit) || !(std::abs(my) <= kMappedLimit)) return false;
    const int rx = static_cast<int>(std::floor(mx + 0.5));
    const int ry = static_cast<int>(std::floor(my + 0.5));
    int vx = 0, vy = 0;
    viewer->viewToImage(rx, ry, vx, vy, true);
    return readPixel(*viewer, vx, vy, colour);
}

Matrix3 VantImagePreview::subjectViewMatrix() {
    // The matrix the render warps the subject with (VantreloPlugin::foregroundMatrix): the stored
    // transform acts on full-resolution pixels about the picture's centre, and the preview renders
    // at s = min(zoom, 1) and only magnifies above that, so image coordinates from viewToImage are
    // pixels at scale s.
    Matrix3 m;
    if (!viewer || !bridge) return m;
    const float z = viewer->zoom;
    const double s = z > 0.0f && std::isfinite(z) ? std::min(static_cast<double>(z), 1.0) : 1.0;
    const double w = static_cast<double>(viewer->imageWidth());
    const double h = static_cast<double>(viewer->imageHeight());
    m.at(0, 0) = 1.0 / s;
    m.at(1, 1) = 1.0 / s;
    Matrix3 toCentre;
    toCentre.at(0, 2) = -w / (2.0 * s);
    toCentre.at(1, 2) = -h / (2.0 * s);
    vantrelo::premultiplyMatrix3(m, toCentre);
    vantrelo::premultiplyMatrix3(m, bridge->foregroundTransform);
    Matrix3 fromCentre;
    fromCentre.at(0, 2) = w / (2.0 * s);
    fromCentre.at(1, 2) = h / (2.0 * s);
    vantrelo::premultiplyMatrix3(m, fromCentre);
    Matrix3 up;
    up.at(0, 0) = s;
    up.at(1, 1) = s;
    vantrelo::premultiplyMatrix3(m, up);
    return m;
}

bool VantImagePreview::sampleAt(int x, int y, std::uint16_t colour[4]) {
    if (bridge && !bridge->foregroundTransform.isIdentity())
        return samplePixelTransformed(x, y, vantrelo::invertMatrix3(subjectViewMatrix()), colour);
    return samplePixel(x, y, colour);
}

void VantImagePreview::sampleBox(int x, int y, int width, int height) {
    if (!viewer || width <= 0 || height <= 0) return;
    const Point o = imageOrigin();
    const std::int64_t left = std::int64_t{x} + o.x;
    const std::int64_t top = std::int64_t{y} + o.y;

    // The reading path is chosen once for the whole box.
    const bool transformed = bridge && !bridge->foregroundTransform.isIdentity();
    const Matrix3 inverse = transformed ? vantrelo::invertMatrix3(subjectViewMatrix()) : Matrix3{};
    auto read = [&](std::int64_t i, std::int64_t j, std::uint16_t colour[4]) {
        const int wx = vantrelo::saturateToInt32(left + i);
        const int wy = vantrelo::saturateToInt32(top + j);
        return transformed ? samplePixelTransformed(wx, wy, inverse, colour)
                           : samplePixel(wx, wy, colour);
    };

    // The readable pixels' bounding rectangle, and how many of them there are.
    std::int64_t minI = std::int64_t{width} + 1, minJ = std::int64_t{height} + 1;
    std::int64_t maxI = -1, maxJ = -1;
    std::int64_t readable = 0;
    std::uint16_t colour[4];
    for (std::int64_t j = 0; j < height; ++j) {
        for (std::int64_t i = 0; i < width; ++i) {
            if (!read(i, j, colour)) continue;
            ++readable;
            minI = std::min(minI, i);
            minJ = std::min(minJ, j);
            maxI = std::max(maxI, i);
            maxJ = std::max(maxJ, j);
        }
    }
    if (!(minI < maxI && minJ < maxJ)) return;

    // A pixel that cannot be read is no sample: a fully readable rectangle goes as its block,
    // otherwise (a transformed subject leaves holes) the readable colours go as one row.
    const std::int64_t cols = maxI - minI + 1;
    const std::int64_t rows = maxJ - minJ + 1;
    const bool whole = readable == cols * rows;
    const std::int64_t blockWidth = whole ? cols : readable;
    const std::int64_t blockHeight = whole ? rows : 1;
    const std::int64_t bytes = blockWidth * blockHeight * 8;
    if (bytes > std::numeric_limits<int>::max()) return;
    // Allocated before anything is sent, so a refused block leaves no stroke half begun.
    const std::unique_ptr<std::uint16_t, HookFree> owner(
        static_cast<std::uint16_t*>(vantrelo::allocWithHook(static_cast<int>(bytes))));
    std::uint16_t* const block = owner.get();
    if (!block) return;

    std::int64_t filled = 0;
    for (std::int64_t j = 0; j < rows && filled < blockWidth * blockHeight; ++j) {
        for (std::int64_t i = 0; i < cols && filled < blockWidth * blockHeight; ++i) {
            std::uint16_t* out = block + 4 * filled;
            if (read(minI + i, minJ + j, out)) {
                ++filled;
            } else if (whole) {
                // The picture changed between the two passes; the element stays zero.
                ++filled;
            }
        }
    }
    for (std::int64_t k = filled; k < blockWidth * blockHeight; ++k)
        block[4 * k] = block[4 * k + 1] = block[4 * k + 2] = block[4 * k + 3] = 0;

    sendSample(0, nullptr, false);
    sendSample(1, nullptr, true, block, blockWidth, blockHeight);
    sendSample(2, nullptr, false);
}
