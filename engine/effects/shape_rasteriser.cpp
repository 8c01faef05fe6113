#include "engine/effects/shape_rasteriser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "agg_basics.h"
#include "agg_renderer_base.h"  // before agg_blur.h, which uses it without including it
#include "agg_blur.h"
#include "agg_color_gray.h"
#include "agg_curves.h"
#include "agg_gamma_functions.h"
#include "agg_path_storage.h"
#include "agg_pixfmt_gray.h"
#include "agg_pixfmt_rgba.h"
#include "agg_rasterizer_scanline_aa.h"
#include "agg_renderer_scanline.h"
#include "agg_rendering_buffer.h"
#include "agg_scanline_u.h"
#include "engine/effects/matte_mix.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"

namespace vantrelo {

namespace {

// AGG's rasteriser turns coordinates into 24.8 fixed point before it clips, and its clipper then
// subtracts them in int: an edge from -c to +c pixels, or from -c to the far side s of the clip
// box, needs (c + max(c, s)) x 256 to fit an int.  Outline coordinates and mask sides are therefore
// both kept below 2^22 pixels (no real outline reaches a thousand image widths away): at 2^22
// itself an edge from one limit to the other overflows by exactly one.
constexpr double kCoordinateLimit = 4194303.0;
constexpr std::int64_t kMaxMaskSide = 4194303;

// The stack blur's weighted sum reaches 65535 (r + 1)^2, which 64-bit sums hold exactly up to
// r + 1 = 2^24.  A larger radius is refused rather than capped: a cap would change the feather.
constexpr std::int64_t kMaxBlurRadius = (std::int64_t{1} << 24) - 1;

double limitCoordinate(double v) {
    if (!(v == v)) return 0.0;
    return std::clamp(v, -kCoordinateLimit, kCoordinateLimit);
}

std::int64_t truncTo64(double v, std::int64_t low, std::int64_t high) {
    if (!(v == v)) return 0;
    if (v <= static_cast<double>(low)) return low;
    if (v >= static_cast<double>(high)) return high;
    return static_cast<std::int64_t>(v);
}

// Sum type handed to AGG's stack blur for 16-bit grey.  AGG's own default sums in 32 bits, which
// overflows from radius 255 on at full coverage, and it passes the divisor (r + 1)^2 as a 32-bit
// unsigned, which wraps from radius 65535 on; so the sums are 64-bit and the divisor is taken from
// `divisor`, which the caller sets for each pass on its own thread.
struct Gray64Sums {
    using value_type = std::uint64_t;
    value_type v;

    static thread_local std::uint64_t divisor;

    void clear() { v = 0; }
    template <class A>
    void add(const A& a) {
        v += static_cast<value_type>(a.v);
    }
    template <class A>
    void add(const A& a, unsigned k) {
        v += static_cast<value_type>(a.v) * k;
    }
    template <class A>
    void sub(const A& a) {
        v -= static_cast<value_type>(a.v);
    }
    template <class A>
    void calc_pix(A& a, unsigned /*wrapped divisor*/) {
        a.v = static_cast<typename A::value_type>(v / divisor);
    }
    template <class A>
    void calc_pix(A& a, unsigned /*mul*/, unsigned /*shr*/) {
        a.v = static_cast<typename A::value_type>(v / divisor);
    }
};
thread_local std::uint64_t Gray64Sums::divisor = 1;

// Rasterises the layers of one list into a target through AGG.  TargetFormat names the target's
// AGG pixel format (the target itself is addressed directly, channel by channel), CoverageColor and
// CoverageFormat the 16-bit grey coverage image, ChannelT the target's channel type.
//
// A rendering runs in two passes over the layers.  The first only builds each outline and its
// rasteriser cells, and checks the feather radii, so that every block AGG needs (path, cells,
// sorted cells, scan line, blur stacks) has reached its largest size before the first pixel of
// the target changes; the second draws.  AGG keeps its blocks between uses, so an allocation that
// fails does so in the first pass and the target stays as it was.
template <class TargetFormat, class CoverageColor, class CoverageFormat, class ChannelT>
class ShapeVisitorImpl final : public ShapeVisitor {
    static_assert(sizeof(typename TargetFormat::value_type) == sizeof(ChannelT));
    using CoverageValue = typename CoverageColor::value_type;
    using BaseRenderer = agg::renderer_base<CoverageFormat>;

public:
    ShapeVisitorImpl(ShapeLayerList* list, ChannelT* target, int channels)
        : list_(list),
          widthD_(list->width),
          heightD_(list->height),
          width_(static_cast<int>(truncTo64(list->width, 0, kMaxMaskSide + 1))),
          height_(static_cast<int>(truncTo64(list->height, 0, kMaxMaskSide + 1))),
          target_(target),
          channels_(channels == 4 || channels == 3 ? channels : 1),
          coverageFormat_(coverageBuffer_),
          base_(coverageFormat_),
          solid_(base_) {
        ras_.gamma(agg::gamma_power(1.0));
    }
    ~ShapeVisitorImpl() = default;

    bool sizeUsable() const { return width_ <= kMaxMaskSide && height_ <= kMaxMaskSide; }
    bool empty() const { return width_ < 1 || height_ < 1; }

    // Allocates the coverage and runs the first pass.  False when memory runs out or a feather
    // radius is beyond what the blur can sum.
    bool prepare() {
        if (!sizeUsable()) return false;
        if (empty()) return true;
        const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
        if (!coverage_.allocate<CoverageValue>(count, false)) return false;
        coverageBuffer_.attach(coverage_.as<agg::int8u>(), static_cast<unsigned>(width_),
                               static_cast<unsigned>(height_), width_ * static_cast<int>(sizeof(CoverageValue)));
        base_.attach(coverageFormat_);
        base_.clip_box(0, 0, width_ - 1, height_ - 1);
        ras_.clip_box(0.0, 0.0, static_cast<double>(width_), static_cast<double>(height_));
        try {
            dryRun_ = true;
            for (ShapeLayer* layer : list_->layers) {
                drawLayer(layer);
                if (refused_) return false;
            }
            dryRun_ = false;
            // Grow the scan line and the blur's line and stack buffers to their largest sizes.
            scanline_.reset(-1, width_ + 1);
            if (maxRadius_ > 0) {
                const int longest = std::max(width_, height_);
                std::memset(coverage_.as<CoverageValue>(), 0,
                            static_cast<std::size_t>(longest) * sizeof(CoverageValue));
                agg::rendering_buffer line(coverage_.as<agg::int8u>(), static_cast<unsigned>(longest), 1,
                                           longest * static_cast<int>(sizeof(CoverageValue)));
                CoverageFormat lineFormat(line);
                Gray64Sums::divisor = static_cast<std::uint64_t>(maxRadius_ + 1) * static_cast<std::uint64_t>(maxRadius_ + 1);
                blur_.blur_x(lineFormat, static_cast<unsigned>(maxRadius_));
            }
        } catch (...) {
            abandoned_ = true;
            return false;
        }
        prepared_ = true;
        return true;
    }

    // The second pass: draws every layer of the list into the target.
    bool draw() {
        if (empty()) return true;
        if (!prepared_) return false;
        combined_ = 0;
        try {
            for (ShapeLayer* layer : list_->layers) drawLayer(layer);
        } catch (...) {
            abandoned_ = true;  // not expected once prepare() has succeeded
            return false;
        }
        return true;
    }

    bool renderLayers() { return prepare() && draw(); }

    bool abandoned() const { return abandoned_; }
    void releaseCoverage() { coverage_.release(); }

    void beginShape() override {
        path_.remove_all();
        vertexCount_ = 0;
        invert_ = false;
        opacity_ = 1.0f;
    }

    void addVertex(double x, double y) override {
        const double px = limitCoordinate(x * widthD_), py = limitCoordinate(y * heightD_);
        if (vertexCount_ == 0)
            path_.move_to(px, py);
        else
            path_.line_to(px, py);
        ++vertexCount_;
    }

    void addBezier(double x1, double y1, double x2, double y2, double x3, double y3, double x4,
                   double y4) override {
        curve_.init(limitCoordinate(x1 * widthD_), limitCoordinate(y1 * heightD_), limitCoordinate(x2 * widthD_),
                    limitCoordinate(y2 * heightD_), limitCoordinate(x3 * widthD_), limitCoordinate(y3 * heightD_),
                    limitCoordinate(x4 * widthD_), limitCoordinate(y4 * heightD_));
        // join_path makes the first vertex a move-to only on an empty path and drops it when it
        // lies within 1e-14 of the path's last vertex.
        path_.join_path(curve_);
        ++vertexCount_;
    }

    void setInvert() override { invert_ = true; }
    void setOpacity(float opacity) override { opacity_ = opacity; }

    void endShape(int featherRadius, int mode) override {
        path_.close_polygon();
        if (invert_) {
            path_.move_to(0.0, 0.0);
            path_.line_to(limitCoordinate(widthD_), 0.0);
            path_.line_to(limitCoordinate(widthD_), limitCoordinate(heightD_));
            path_.line_to(0.0, limitCoordinate(heightD_));
            path_.close_polygon();
        }
        const int r = std::max(featherRadius, 0);
        if (r > kMaxBlurRadius) {
            refused_ = true;
            return;
        }
        ras_.reset();
        ras_.add_path(path_);
        if (dryRun_) {
            ras_.sort();
            maxRadius_ = std::max(maxRadius_, r);
            return;
        }

        // The opacity is limited to 0..1 before it becomes 16-bit coverage.
        const double opacity = opacity_ > 0.0f ? std::min(static_cast<double>(opacity_), 1.0) : 0.0;
        const auto alpha = static_cast<unsigned>(opacity * 65535.0 + 0.5);
        const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
        std::memset(coverage_.as<CoverageValue>(), 0, count * sizeof(CoverageValue));
        solid_.color(CoverageColor(65535u, alpha));
        agg::render_scanlines(ras_, scanline_, solid_);

        const ShapeBounds box = layerBox(r);
        ShapeBounds& bounds = list_->bounds;
        if (bounds.x0 > bounds.x1 || bounds.y0 > bounds.y1) {
            bounds = box;
        } else {
            bounds.x0 = std::min(bounds.x0, box.x0);
            bounds.y0 = std::min(bounds.y0, box.y0);
            bounds.x1 = std::max(bounds.x1, box.x1);
            bounds.y1 = std::max(bounds.y1, box.y1);
        }

        if (r > 0) {
            Gray64Sums::divisor = static_cast<std::uint64_t>(r + 1) * static_cast<std::uint64_t>(r + 1);
            blur_.blur_x(coverageFormat_, static_cast<unsigned>(r));
            blur_.blur_y(coverageFormat_, static_cast<unsigned>(r));
        }

        if (combined_ == 0)
            copyCoverage(box);
        else if (mode == ShapeModeSubtract)
            subtractCoverage(box);
        else if (mode == ShapeModeMinimum)
            minCoverage(box);
        else if (mode == ShapeModeMaximum)
            maxCoverage(box);
        else
            addCoverage(box);
        ++combined_;
    }

private:
    void drawLayer(const ShapeLayer* layer) {
        beginShape();
        layer->emitOutline(this);
        if (layer->invert) setInvert();
        setOpacity(layer->opacity);
        endShape(shapeFeatherRadius(layer->feather, widthD_), layer->mode);
    }

    // Smallest and largest vertex coordinates of the path (truncated), widened by the feather
    // radius and limited to the image on the far sides; a path without vertices gives (1, 1, 0, 0).
    ShapeBounds layerBox(int r) const {
        double minX = 0.0, minY = 0.0, maxX = 0.0, maxY = 0.0;
        bool any = false;
        for (unsigned i = 0; i < path_.total_vertices(); ++i) {
            double x = 0.0, y = 0.0;
            if (!agg::is_vertex(path_.vertex(i, &x, &y))) continue;
            if (!any) {
                minX = maxX = x;
                minY = maxY = y;
                any = true;
            } else {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
        std::int64_t x0 = 1, y0 = 1, x1 = 0, y1 = 0;
        if (any) {  // coordinates are limited, so the truncations are defined
            x0 = static_cast<std::int64_t>(minX);
            y0 = static_cast<std::int64_t>(minY);
            x1 = static_cast<std::int64_t>(maxX);
            y1 = static_cast<std::int64_t>(maxY);
        }
        x0 = std::max<std::int64_t>(x0 - r, 0);
        y0 = std::max<std::int64_t>(y0 - r, 0);
        x1 = std::min<std::int64_t>(x1 + r, width_ - 1);
        y1 = std::min<std::int64_t>(y1 + r, height_ - 1);
        return ShapeBounds{static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0), static_cast<std::int32_t>(x1),
                           static_cast<std::int32_t>(y1)};
    }

    // The combine operations: every pixel and channel of the inclusive box, target t and coverage c.
    void copyCoverage(const ShapeBounds& box) {
        combine(box, [](unsigned, unsigned c) { return c; });
    }
    void subtractCoverage(const ShapeBounds& box) {
        combine(box, [](unsigned t, unsigned c) { return t > c ? t - c : 0u; });
    }
    void minCoverage(const ShapeBounds& box) {
        combine(box, [](unsigned t, unsigned c) { return std::min(t, c); });
    }
    void maxCoverage(const ShapeBounds& box) {
        combine(box, [](unsigned t, unsigned c) { return std::max(t, c); });
    }
    void addCoverage(const ShapeBounds& box) {
        combine(box, [](unsigned t, unsigned c) { return std::min(65535u, t + c); });
    }

    template <class Op>
    void combine(const ShapeBounds& box, Op op) {
        if (box.x0 > box.x1 || box.y0 > box.y1) return;
        const auto* coverage = coverage_.as<const CoverageValue>();
        const std::ptrdiff_t w = width_;
        for (std::ptrdiff_t y = box.y0; y <= box.y1; ++y) {
            const CoverageValue* c = coverage + y * w;
            ChannelT* t = target_ + (y * w + box.x0) * channels_;
            for (std::ptrdiff_t x = box.x0; x <= box.x1; ++x) {
                const unsigned value = c[x];
                for (int k = 0; k < channels_; ++k, ++t) *t = static_cast<ChannelT>(std::min(op(*t, value), saturation_));
            }
        }
    }

    agg::path_storage path_;
    agg::curve4 curve_;
    agg::rasterizer_scanline_aa<> ras_;
    agg::scanline_u8 scanline_;
    ShapeLayerList* list_;
    int vertexCount_ = 0;
    bool invert_ = false;
    float opacity_ = 1.0f;
    int combined_ = 0;
    double widthD_, heightD_;
    int width_, height_;
    EngineBlock coverage_;
    agg::rendering_buffer coverageBuffer_;
    ChannelT* target_;
    int channels_;
    unsigned saturation_ = 65535u;
    CoverageFormat coverageFormat_;
    BaseRenderer base_;
    agg::renderer_scanline_aa_solid<BaseRenderer> solid_;
    agg::stack_blur<CoverageColor, Gray64Sums> blur_;
    bool dryRun_ = false;
    bool prepared_ = false;
    bool refused_ = false;
    bool abandoned_ = false;
    int maxRadius_ = 0;
};

// Holds a visitor for one rendering and destroys it unless it was abandoned (see above).
template <class Visitor>
class VisitorHolder {
public:
    template <class... Args>
    explicit VisitorHolder(Args&&... args) : visitor_(new (storage_) Visitor(std::forward<Args>(args)...)) {}
    ~VisitorHolder() {
        if (visitor_->abandoned())
            visitor_->releaseCoverage();
        else
            visitor_->~Visitor();
    }
    VisitorHolder(const VisitorHolder&) = delete;
    VisitorHolder& operator=(const VisitorHolder&) = delete;
    Visitor* operator->() const { return visitor_; }

private:
    alignas(Visitor) unsigned char storage_[sizeof(Visitor)];
    Visitor* visitor_;
};

// AGG's blender_gray for gray16, with its fixed-point arithmetic in 64 bits: gray16::multiply and
// gray16::lerp form the product of two 16-bit values in int, which overflows (undefined behaviour)
// once it passes 2^31, as it does for most partly covered edge pixels.  The formulas are AGG's.
struct CoverageBlender {
    using color_type = agg::gray16;
    using value_type = color_type::value_type;
    using calc_type = color_type::calc_type;
    using long_type = color_type::long_type;

    static value_type multiply(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t t = a * b + 0x8000u;
        return static_cast<value_type>(((t >> 16) + t) >> 16);
    }
    static void blend_pix(value_type* p, value_type cv, value_type alpha, agg::cover_type cover) {
        blend_pix(p, cv, multiply(alpha, (static_cast<std::uint64_t>(cover) << 8) | cover));
    }
    static void blend_pix(value_type* p, value_type cv, value_type alpha) {
        const std::int64_t t = (static_cast<std::int64_t>(cv) - *p) * alpha + 0x8000 - (*p > cv ? 1 : 0);
        *p = static_cast<value_type>(*p + (((t >> 16) + t) >> 16));
    }
};

using CoverageFormat16 = agg::pixfmt_alpha_blend_gray<CoverageBlender, agg::rendering_buffer, 1, 0>;
using MaskVisitor = ShapeVisitorImpl<agg::pixfmt_rgba64, agg::gray16, CoverageFormat16, unsigned short>;

bool usableSize(std::ptrdiff_t width, std::ptrdiff_t height) { return width >= 0 && height >= 0; }

bool clearMask(std::uint16_t* target, std::ptrdiff_t width, std::ptrdiff_t height) {
    std::size_t bytes;
    if (!imageElements(width, height, 8, bytes)) return false;
    if (bytes != 0) std::memset(target, 0, bytes);
    return true;
}

}  // namespace

void ShapeLayer::emitOutline(ShapeVisitor* visitor) const {
    if (!visitor) return;
    const std::size_t n = std::min({x.size(), y.size(), pointType.size()});
    if (n < 3) return;
    const auto copies = [this](std::size_t i) -> int {
        return pointType[i] == ShapePointCorner ? 3 : pointType[i] == ShapePointDoubled ? 2 : 1;
    };
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) m += static_cast<std::size_t>(copies(i));

    // Walks the expanded point sequence P[0..m-1] (each point repeated by its type) cyclically,
    // without building it.
    struct Cursor {
        std::size_t index = 0;
        int copy = 0;
    };
    const auto advance = [&](Cursor& c) {
        if (++c.copy == copies(c.index)) {
            c.copy = 0;
            c.index = c.index + 1 == n ? 0 : c.index + 1;
        }
    };
    struct Control {
        float x1, y1, x2, y2;  // C1 and C2 of one segment
    };
    const auto control = [&](std::size_t a, std::size_t b) {
        // Computed in double, stored as float.
        return Control{static_cast<float>(2.0 / 3.0 * x[a] + 1.0 / 3.0 * x[b]),
                       static_cast<float>(2.0 / 3.0 * y[a] + 1.0 / 3.0 * y[b]),
                       static_cast<float>(1.0 / 3.0 * x[a] + 2.0 / 3.0 * x[b]),
                       static_cast<float>(1.0 / 3.0 * y[a] + 2.0 / 3.0 * y[b])};
    };

    // P[m-1] is the last copy of the last point, so C[m-1] joins it to P[0].
    const Control last = control(n - 1, 0);
    Cursor at;      // P[k]
    Cursor next = at;
    advance(next);  // P[k+1]
    Control c = control(at.index, next.index);
    const float j0x = (last.x2 + c.x1) / 2.0f, j0y = (last.y2 + c.y1) / 2.0f;
    float jx = j0x, jy = j0y;
    for (std::size_t k = 0; k < m; ++k) {
        float nextJx = j0x, nextJy = j0y;
        Control following{};
        if (k + 1 < m) {
            Cursor after = next;
            advance(after);
            following = control(next.index, after.index);
            nextJx = (c.x2 + following.x1) / 2.0f;
            nextJy = (c.y2 + following.y1) / 2.0f;
        }
        visitor->addBezier(jx, jy, c.x1, c.y1, c.x2, c.y2, nextJx, nextJy);
        jx = nextJx;
        jy = nextJy;
        at = next;
        advance(next);
        c = following;
    }
}

int shapeFeatherRadius(float feather, double maskWidth) {
    // A negative feather is no feather.
    const double f = feather > 0.0f ? static_cast<double>(feather) : 0.0;
    const double r = f * maskWidth * 0.1 + 0.5;
    if (!(r > 0.0)) return 0;
    if (r >= 2147483647.0) return 2147483647;
    return static_cast<int>(r);
}

bool renderShapeLayers(ShapeLayerList* list, std::uint16_t* target, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::ptrdiff_t /*rowBytes*/) {
    if (!list || !usableSize(width, height)) return false;
    VisitorHolder<MaskVisitor> visitor(list, target, 4);
    if (visitor->empty()) return true;
    if (!target || !visitor->sizeUsable()) return false;
    // The list's size is what is drawn; it must fit the target.
    if (list->width >= static_cast<double>(width) + 1.0 || list->height >= static_cast<double>(height) + 1.0)
        return false;
    return visitor->renderLayers();
}

bool rasteriseShapeMask(std::uint16_t* target, std::ptrdiff_t width, std::ptrdiff_t height, ShapeLayer* const* layers,
                        std::ptrdiff_t count, bool clear, ShapeBounds* box) {
    if (!usableSize(width, height) || (!target && width > 0 && height > 0)) return false;
    if (width > kMaxMaskSide || height > kMaxMaskSide) return false;
    if (count < 1 || !layers) {
        if (clear && !clearMask(target, width, height)) return false;
        if (box) *box = kEmptyShapeBounds;
        return true;
    }
    ShapeLayerList list;
    list.width = static_cast<double>(width);
    list.height = static_cast<double>(height);
    try {
        list.layers.reserve(static_cast<std::size_t>(count));
    } catch (...) {
        return false;
    }
    for (std::ptrdiff_t i = 0; i < count; ++i)
        if (layers[i]) list.layers.push_back(layers[i]);  // within the reserved room

    VisitorHolder<MaskVisitor> visitor(&list, target, 4);
    if (!visitor->prepare()) return false;
    if (clear && !clearMask(target, width, height)) return false;
    if (!visitor->draw()) return false;
    if (box) *box = list.bounds;
    return true;
}

void mixByMaskInRect16(const std::uint16_t* source, std::uint16_t* destination, const std::uint16_t* mask,
                       std::ptrdiff_t width, std::ptrdiff_t height, const ShapeBounds* box) {
    if (!box || !source || !destination || !mask || width <= 0 || height <= 0) return;
    const std::ptrdiff_t x0 = std::max<std::ptrdiff_t>(box->x0, 0), y0 = std::max<std::ptrdiff_t>(box->y0, 0);
    const std::ptrdiff_t x1 = std::min<std::ptrdiff_t>(box->x1, width - 1);
    const std::ptrdiff_t y1 = std::min<std::ptrdiff_t>(box->y1, height - 1);
    if (x0 > x1 || y0 > y1) return;
    for (std::ptrdiff_t y = y0; y <= y1; ++y) {
        for (std::ptrdiff_t x = x0; x <= x1; ++x) {
            const std::ptrdiff_t i = (y * width + x) * 4;
            const unsigned m = mask[i + 3];
            if (m == 0) continue;
            if (m == 65535) {
                std::memcpy(destination + i, source + i, 4 * sizeof(std::uint16_t));
                continue;
            }
            const float w = static_cast<float>(m) * kUnit16;
            const float rest = 1.0f - w;
            for (int k = 0; k < 4; ++k) {
                const float v = static_cast<float>(source[i + k]) * w + static_cast<float>(destination[i + k]) * rest;
                destination[i + k] = static_cast<std::uint16_t>(std::min(v, 65535.0f));
            }
        }
    }
}

bool applyObeyShapeMask(const KeyState* state, const std::uint16_t* a, const std::uint16_t* b, std::uint16_t* out,
                        std::ptrdiff_t width, std::ptrdiff_t height) {
    if (!state || !(state->flags & KeyFlagObeyShapes) || !state->obeyShapes || !state->obeyShapes[0]) return true;
    if (!usableSize(width, height)) return false;
    if (width == 0 || height == 0) return true;
    if (!a || !b || !out) return false;
    std::ptrdiff_t count = 0;
    while (state->obeyShapes[count]) ++count;

    std::size_t samples;
    EngineBlock mask;
    if (!imageElements(width, height, 4, samples) || !mask.allocate<std::uint16_t>(samples, false)) return false;
    auto* pixels = mask.as<std::uint16_t>();
    ShapeBounds box = kEmptyShapeBounds;
    if (!rasteriseShapeMask(pixels, width, height, state->obeyShapes, count, true, &box)) return false;
    const MatteRect rect{box.x0, box.y0, box.x1, box.y1};
    return mixByMatteInRect16(a, b, out, pixels, width, &rect);
}

}  // namespace vantrelo
