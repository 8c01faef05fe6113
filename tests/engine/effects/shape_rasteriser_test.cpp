#include "engine/effects/shape_rasteriser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/keying/key_state.h"

namespace vantrelo {
namespace {

struct Point {
    float x, y;
    int type;
};

ShapeLayer layerOf(std::vector<Point> points, float opacity = 1.0f, float feather = 0.0f, int mode = 0,
                   bool invert = false) {
    ShapeLayer layer;
    for (const Point& p : points) {
        layer.x.push_back(p.x);
        layer.y.push_back(p.y);
        layer.pointType.push_back(p.type);
        layer.pointFlag.push_back(false);
    }
    layer.opacity = opacity;
    layer.feather = feather;
    layer.mode = mode;
    layer.invert = invert;
    return layer;
}

// Axis-aligned rectangle in pixels on a size x size mask, clockwise on screen like the frame of an
// inverted layer; `type` for all four points.
ShapeLayer rectangle(double x0, double y0, double x1, double y1, double size, int type = ShapePointCorner) {
    const auto f = [size](double v) { return static_cast<float>(v / size); };
    return layerOf({{f(x0), f(y0), type}, {f(x1), f(y0), type}, {f(x1), f(y1), type}, {f(x0), f(y1), type}});
}

// 16-bit RGBA mask.
struct Mask {
    int width, height;
    std::vector<std::uint16_t> pixels;
    Mask(int w, int h, std::uint16_t fill = 0) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 4, fill) {}
    std::uint16_t at(int x, int y, int channel = 0) const {
        return pixels[(static_cast<std::size_t>(y) * width + x) * 4 + channel];
    }
    std::uint16_t* data() { return pixels.data(); }
};

bool render(Mask& mask, std::vector<ShapeLayer*> layers, bool clear = true, ShapeBounds* box = nullptr) {
    return rasteriseShapeMask(mask.data(), mask.width, mask.height, layers.data(),
                              static_cast<std::ptrdiff_t>(layers.size()), clear, box);
}

// A corner point repeated three times makes the outline pass through it, a doubled point pulls it
// near, a smooth point leaves the outline well inside: on the square 16..48 of a 64-pixel mask the
// corner pixel and the middle of the top edge show it.
TEST(ShapeRasteriser, PointTypesShapeTheOutline) {
    struct Case {
        int type;
        std::uint16_t cornerPixel;  // (16, 16); 1 means "partly covered"
        std::uint16_t topEdge;      // (32, 16)
        std::uint16_t belowTopEdge; // (32, 17)
    };
    const Case cases[] = {
        {ShapePointCorner, 65535, 65535, 65535},
        {ShapePointDoubled, 1, 65535, 65535},  // corner rounded within a pixel, edges straight
        {ShapePointSmooth, 0, 0, 1},           // the B-spline edge runs at y = 17.33 there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Mask mask(64, 64);
        ShapeLayer square = rectangle(16, 16, 48, 48, 64, c.type);
        ASSERT_TRUE(render(mask, {&square}));
        const auto expect = [](std::uint16_t got, std::uint16_t want) {
            if (want == 1) {
                EXPECT_GT(got, 0);
                EXPECT_LT(got, 65535);
            } else {
                EXPECT_EQ(got, want);
            }
        };
        expect(mask.at(16, 16), c.cornerPixel);
        expect(mask.at(32, 16), c.topEdge);
        expect(mask.at(32, 17), c.belowTopEdge);
        EXPECT_EQ(mask.at(32, 32), 65535);  // inside
        EXPECT_EQ(mask.at(15, 32), 0);       // outside
        EXPECT_EQ(mask.at(48, 32), 0);
        EXPECT_EQ(mask.at(2, 2), 0);
    }
}

TEST(ShapeRasteriser, EdgesAreAntiAliasedAndChannelsEqual) {
    Mask mask(32, 32);
    ShapeLayer square = rectangle(8.5, 8.5, 20.5, 20.5, 32);
    ShapeBounds box{};
    ASSERT_TRUE(render(mask, {&square}, true, &box));
    const auto near = [](int got, int want) { EXPECT_NEAR(got, want, 300); };
    near(mask.at(8, 12), 32768);   // half a pixel covered
    near(mask.at(20, 12), 32768);
    near(mask.at(12, 8), 32768);
    near(mask.at(8, 8), 16384);    // a quarter at the corner
    EXPECT_EQ(mask.at(9, 9), 65535);
    EXPECT_EQ(mask.at(7, 12), 0);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(mask.at(8, 12, k), mask.at(8, 12, 0));
    // The box is the truncated extent of the outline.
    EXPECT_EQ(box.x0, 8);
    EXPECT_EQ(box.y0, 8);
    EXPECT_EQ(box.x1, 20);
    EXPECT_EQ(box.y1, 20);
}

TEST(ShapeRasteriser, OpacityIsLimitedBeforeItBecomesCoverage) {
    struct Case {
        float opacity;
        int inside;
    };
    const Case cases[] = {{0.5f, 32768}, {1.0f, 65535}, {1.7f, 65535}, {-0.3f, 0}, {std::nanf(""), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opacity);
        Mask mask(16, 16, 7);
        ShapeLayer square = rectangle(4, 4, 12, 12, 16);
        square.opacity = c.opacity;
        ASSERT_TRUE(render(mask, {&square}));
        EXPECT_NEAR(mask.at(8, 8), c.inside, 1);
        EXPECT_EQ(mask.at(1, 1), 0);
    }
}

TEST(ShapeRasteriser, FeatherRadius) {
    EXPECT_EQ(shapeFeatherRadius(0.05f, 1000.0), 5);
    EXPECT_EQ(shapeFeatherRadius(1.0f, 640.0), 64);
    EXPECT_EQ(shapeFeatherRadius(0.0f, 1000.0), 0);
    EXPECT_EQ(shapeFeatherRadius(-2.0f, 1000.0), 0);  // a negative feather is none
    EXPECT_EQ(shapeFeatherRadius(std::nanf(""), 1000.0), 0);
    EXPECT_EQ(shapeFeatherRadius(1e30f, 1000.0), std::numeric_limits<int>::max());
}

// A feather of radius r spreads the edge exactly r pixels each way and widens the box by r.
TEST(ShapeRasteriser, FeatherBlursByTheRadius) {
    Mask mask(100, 40);
    ShapeLayer band = layerOf({{0.25f, -1.0f, 3}, {0.75f, -1.0f, 3}, {0.75f, 2.0f, 3}, {0.25f, 2.0f, 3}});
    band.feather = 0.5f;  // radius (int)(0.5 x 100 x 0.1 + 0.5) = 5
    ShapeBounds box{};
    ASSERT_TRUE(render(mask, {&band}, true, &box));
    const int y = 20;
    EXPECT_EQ(mask.at(19, y), 0);   // edge at x = 25: nothing beyond 5 pixels out
    EXPECT_GT(mask.at(20, y), 0);
    EXPECT_LT(mask.at(29, y), 65535);
    EXPECT_EQ(mask.at(30, y), 65535);
    EXPECT_EQ(mask.at(50, y), 65535);
    EXPECT_EQ(box.x0, 20);
    EXPECT_EQ(box.x1, 80);
    // The profile across the edge rises monotonically.
    for (int x = 20; x < 30; ++x) EXPECT_LE(mask.at(x, y), mask.at(x + 1, y)) << x;
}

// AGG's stack blur sums 65535 x (r + 1)^2; with 32-bit sums that overflows from r = 255 on and the
// 32-bit divisor wraps from r = 65535 on.  A fully covered mask must stay fully covered.
TEST(ShapeRasteriser, LargeFeatherDoesNotOverflow) {
    struct Case {
        int width;
        float feather;  // radius = feather x width x 0.1
    };
    const Case cases[] = {{200, 20.0f}, {10, 70000.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feather);
        Mask mask(c.width, 8);
        ShapeLayer cover = layerOf({{-1.0f, -1.0f, 3}, {2.0f, -1.0f, 3}, {2.0f, 2.0f, 3}, {-1.0f, 2.0f, 3}});
        cover.feather = c.feather;
        ASSERT_TRUE(render(mask, {&cover}));
        for (int y = 0; y < mask.height; ++y)
            for (int x = 0; x < mask.width; ++x) ASSERT_EQ(mask.at(x, y), 65535) << x << "," << y;
    }
    // Half covered: the blur keeps every value within range and symmetric about the edge.
    Mask half(200, 4);
    ShapeLayer left = layerOf({{-1.0f, -1.0f, 3}, {0.5f, -1.0f, 3}, {0.5f, 2.0f, 3}, {-1.0f, 2.0f, 3}});
    left.feather = 20.0f;  // radius 400
    ASSERT_TRUE(render(half, {&left}));
    EXPECT_GT(half.at(0, 1), half.at(199, 1));
    EXPECT_NEAR(half.at(0, 1) + half.at(199, 1), 65535, 2);
}

// A radius whose sums would not fit 64 bits is refused, not capped, and nothing changes.
TEST(ShapeRasteriser, RadiusBeyondTheBlurIsRefused) {
    Mask mask(100, 4, 9);
    ShapeLayer square = rectangle(10, 0, 50, 4, 100);
    square.feather = 1677722.0f;  // radius 16777220
    EXPECT_FALSE(render(mask, {&square}));
    for (std::uint16_t v : mask.pixels) ASSERT_EQ(v, 9);
}

// Layer A covers columns 0..15, layer B (opacity 0.5) columns 8..23 and rows 8..23 of a 32 x 32
// mask; B is combined inside its box 8..24 x 8..24 by its mode.
TEST(ShapeRasteriser, CombineModes) {
    Mask single(32, 32);
    ShapeLayer b = rectangle(8, 8, 24, 24, 32);
    b.opacity = 0.5f;
    ASSERT_TRUE(render(single, {&b}));
    const int half = single.at(12, 12);
    ASSERT_NEAR(half, 32768, 1);

    struct Case {
        int mode;
        int both, onlyB, inBoxOnlyA;
    };
    const Case cases[] = {
        {ShapeModeSubtract, 65535 - half, 0, 65535},
        {ShapeModeMinimum, half, 0, 0},
        {ShapeModeMaximum, 65535, half, 65535},
        {0, 65535, half, 65535},  // add, saturating
        {9, 65535, half, 65535},  // any other mode adds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Mask mask(32, 32);
        ShapeLayer a = rectangle(0, 0, 16, 32, 32);
        a.mode = ShapeModeMinimum;  // the first layer copies whatever its mode
        b.mode = c.mode;
        ASSERT_TRUE(render(mask, {&a, &b}));
        EXPECT_EQ(mask.at(4, 16), 65535);       // A only, outside B's box
        EXPECT_EQ(mask.at(12, 16), c.both);
        EXPECT_EQ(mask.at(20, 16), c.onlyB);
        EXPECT_EQ(mask.at(12, 24), c.inBoxOnlyA);  // in B's box, B's coverage 0
        EXPECT_EQ(mask.at(28, 16), 0);
    }
    // A single subtracting layer still copies its coverage.
    Mask mask(32, 32, 1000);
    b.mode = ShapeModeSubtract;
    ASSERT_TRUE(render(mask, {&b}, false));
    EXPECT_EQ(mask.at(12, 12), half);
    EXPECT_EQ(mask.at(2, 2), 1000);  // outside every box: kept (no clear)
}

// Non-zero winding: an inverted layer running against the frame leaves a hole, one running with it
// covers everything.
TEST(ShapeRasteriser, InvertFollowsTheWindingRule) {
    Mask against(32, 32);
    ShapeLayer reversed = layerOf({{0.25f, 0.25f, 3}, {0.25f, 0.75f, 3}, {0.75f, 0.75f, 3}, {0.75f, 0.25f, 3}});
    reversed.invert = true;
    ShapeBounds box{};
    ASSERT_TRUE(render(against, {&reversed}, true, &box));
    EXPECT_EQ(against.at(16, 16), 0);
    EXPECT_EQ(against.at(2, 2), 65535);
    EXPECT_EQ(against.at(31, 31), 65535);
    EXPECT_EQ(box.x0, 0);
    EXPECT_EQ(box.x1, 31);
    EXPECT_EQ(box.y1, 31);

    Mask with(32, 32);
    ShapeLayer same = rectangle(8, 8, 24, 24, 32);
    same.invert = true;
    ASSERT_TRUE(render(with, {&same}));
    EXPECT_EQ(with.at(16, 16), 65535);
    EXPECT_EQ(with.at(2, 2), 65535);
}

TEST(ShapeRasteriser, LayersWithoutAnOutline) {
    ShapeLayer two = layerOf({{0.2f, 0.2f, 3}, {0.8f, 0.8f, 3}});
    {  // no effect on the pixels; non-empty bounds grow to include (1, 1)
        Mask mask(16, 16, 5);
        ShapeLayer square = rectangle(8, 8, 12, 12, 16);
        ShapeBounds box{};
        ASSERT_TRUE(render(mask, {&square, &two}, false, &box));
        EXPECT_EQ(mask.at(3, 3), 5);
        EXPECT_EQ(box.x0, 1);
        EXPECT_EQ(box.y0, 1);
        EXPECT_EQ(box.x1, 12);
    }
    {  // feathered: its box is (0, 0)..(r, r), into which it copies zero coverage
        Mask mask(16, 16, 5);
        ShapeLayer feathered = two;
        feathered.feather = 2.0f;  // radius 3
        ShapeBounds box{};
        ASSERT_TRUE(render(mask, {&feathered}, false, &box));
        EXPECT_EQ(mask.at(3, 3), 0);
        EXPECT_EQ(mask.at(4, 3), 5);
        EXPECT_EQ(box.x1, 3);
        EXPECT_EQ(box.y1, 3);
    }
    {  // inverted: the whole mask at its opacity
        Mask mask(16, 16);
        ShapeLayer inverted = two;
        inverted.invert = true;
        inverted.opacity = 0.5f;
        ASSERT_TRUE(render(mask, {&inverted}));
        EXPECT_NEAR(mask.at(0, 0), 32768, 1);
        EXPECT_NEAR(mask.at(15, 15), 32768, 1);
    }
}

TEST(ShapeRasteriser, NothingToDrawAndNullLayers) {
    Mask mask(8, 8, 3);
    ShapeBounds box{1, 1, 1, 1};
    EXPECT_TRUE(rasteriseShapeMask(mask.data(), 8, 8, nullptr, 0, false, &box));
    EXPECT_EQ(mask.at(4, 4), 3);
    EXPECT_EQ(box.x1, -1);
    EXPECT_TRUE(rasteriseShapeMask(mask.data(), 8, 8, nullptr, 0, true, nullptr));
    EXPECT_EQ(mask.at(4, 4), 0);
    std::vector<ShapeLayer*> none{nullptr, nullptr};
    EXPECT_TRUE(render(mask, none, false, &box));
    EXPECT_EQ(box.x1, -1);
    EXPECT_FALSE(rasteriseShapeMask(nullptr, 8, 8, none.data(), 2, true, nullptr));
}

// The list driver and the array driver draw the same mask.
TEST(ShapeRasteriser, ListAndArrayDriversAgree) {
    ShapeLayer a = rectangle(3, 5, 20, 17, 24, ShapePointSmooth);
    ShapeLayer b = rectangle(10, 2, 22, 22, 24, ShapePointDoubled);
    b.mode = ShapeModeMaximum;
    b.feather = 0.3f;
    Mask viaArray(24, 24);
    ShapeBounds arrayBox{};
    ASSERT_TRUE(render(viaArray, {&a, &b}, true, &arrayBox));
    Mask viaList(24, 24);
    ShapeLayerList* list = newShapeLayerList(24, 24);
    addShapeLayerToList(list, &a);
    addShapeLayerToList(list, &b);
    ASSERT_TRUE(renderShapeLayers(list, viaList.data(), 24, 24, 24 * 8));
    ShapeBounds listBox{};
    getShapeLayerListBounds(list, &listBox);
    EXPECT_EQ(viaList.pixels, viaArray.pixels);
    EXPECT_EQ(std::memcmp(&listBox, &arrayBox, sizeof listBox), 0);
    // A list larger than the target is refused.
    EXPECT_FALSE(renderShapeLayers(list, viaList.data(), 20, 24, 20 * 8));
    freeShapeLayerList(list);
}

// Outlines from a damaged file: non-finite and enormous coordinates are drawn without undefined
// behaviour (the sanitizer build runs this) and without touching memory outside the mask.
TEST(ShapeRasteriser, HostileOutlines) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
    const std::vector<std::vector<Point>> outlines = {
        {{nan, 0.5f, 1}, {0.5f, nan, 3}, {0.9f, 0.9f, 2}},
        {{-inf, -inf, 3}, {inf, -inf, 3}, {inf, inf, 3}, {-inf, inf, 3}},
        {{-1e30f, 0.2f, 1}, {1e30f, 0.3f, 1}, {0.5f, 1e30f, 1}},
        {{-3000.0f, -3000.0f, 3}, {3000.0f, -2000.0f, 2}, {2500.0f, 3500.0f, 1}, {0.1f, 0.1f, 7}},
        {{0.5f, 0.5f, 3}, {0.5f, 0.5f, 3}, {0.5f, 0.5f, 3}},
        // Corners far out on both sides: single edges run from one coordinate limit to the other,
        // across the mask, where AGG's clipper takes their difference in int.
        {{-1e30f, 0.5f, 3}, {1e30f, 0.5f, 3}, {1e30f, 0.6f, 3}, {-1e30f, 0.6f, 3}},
        {{0.5f, -1e30f, 3}, {0.5f, 1e30f, 3}, {0.6f, 1e30f, 3}, {0.6f, -1e30f, 3}},
    };
    for (std::size_t i = 0; i < outlines.size(); ++i) {
        SCOPED_TRACE(i);
        for (bool invert : {false, true}) {
            Mask mask(16, 12);
            ShapeLayer layer = layerOf(outlines[i], 0.8f, 0.4f, 1, invert);
            ShapeLayer second = layerOf(outlines[i], 1.0f, -5.0f, 0, !invert);
            ShapeBounds box{};
            ASSERT_TRUE(render(mask, {&layer, &second}, true, &box));
            if (box.x0 <= box.x1 && box.y0 <= box.y1) {
                EXPECT_GE(box.x0, 0);
                EXPECT_GE(box.y0, 0);
                EXPECT_LE(box.x1, 15);
                EXPECT_LE(box.y1, 11);
            }
        }
    }
}

void* failingAllocate(std::size_t) { return nullptr; }

// With no memory for the coverage nothing changes, not even the requested clearing.
TEST(ShapeRasteriser, FailedAllocationLeavesTheMask) {
    const AllocatorHooks saved = allocatorHooks();
    const AllocatorHooks failing{failingAllocate, saved.release};
    Mask mask(16, 16, 77);
    ShapeLayer square = rectangle(4, 4, 12, 12, 16);
    setAllocatorHooks(&failing);
    const bool done = render(mask, {&square}, true);
    setAllocatorHooks(&saved);
    EXPECT_FALSE(done);
    for (std::uint16_t v : mask.pixels) ASSERT_EQ(v, 77);
}

TEST(MixByMaskInRect16, WeightsByTheMaskAlpha) {
    const int w = 4, h = 2;
    std::vector<std::uint16_t> source(w * h * 4), destination(w * h * 4), mask(w * h * 4, 0);
    for (int i = 0; i < w * h; ++i) {
        for (int k = 0; k < 4; ++k) {
            source[i * 4 + k] = 60000;
            destination[i * 4 + k] = 10000;
        }
    }
    mask[(0 * w + 1) * 4 + 3] = 65535;
    mask[(0 * w + 2) * 4 + 3] = 32768;
    mask[(1 * w + 2) * 4 + 3] = 65535;  // outside the box
    const ShapeBounds box{0, 0, 10, 0};  // clipped to the image
    mixByMaskInRect16(source.data(), destination.data(), mask.data(), w, h, &box);
    EXPECT_EQ(destination[(0 * w + 0) * 4 + 0], 10000);  // m = 0 keeps
    EXPECT_EQ(destination[(0 * w + 1) * 4 + 3], 60000);  // m = 65535 copies all four
    const float f = 32768 * 1.5259022e-05f;
    const auto mixed = static_cast<std::uint16_t>(60000.0f * f + 10000.0f * (1.0f - f));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(destination[(0 * w + 2) * 4 + k], mixed);
    EXPECT_EQ(destination[(1 * w + 2) * 4 + 0], 10000);
    const ShapeBounds empty{2, 0, 1, 1};
    mixByMaskInRect16(source.data(), destination.data(), mask.data(), w, h, &empty);
    mixByMaskInRect16(source.data(), destination.data(), mask.data(), w, h, nullptr);
    EXPECT_EQ(destination[(0 * w + 0) * 4 + 0], 10000);
}

TEST(ApplyObeyShapeMask, MixesTwoImagesInsideTheShapes) {
    const int w = 16, h = 16;
    std::vector<std::uint16_t> a(w * h * 4, 1000), b(w * h * 4, 2000), out(w * h * 4, 7);
    ShapeLayer square = rectangle(4, 4, 8, 8, 16);
    ShapeLayer* layers[] = {&square, nullptr};
    KeyState state;
    std::memset(&state, 0, sizeof state);
    state.obeyShapes = layers;

    // Without the flag nothing happens.
    EXPECT_TRUE(applyObeyShapeMask(&state, a.data(), b.data(), out.data(), w, h));
    EXPECT_EQ(out[0], 7);

    state.flags = KeyFlagObeyShapes;
    ASSERT_TRUE(applyObeyShapeMask(&state, a.data(), b.data(), out.data(), w, h));
    const auto px = [&](int x, int y) { return out[(static_cast<std::size_t>(y) * w + x) * 4]; };
    EXPECT_EQ(px(5, 5), 1000);  // inside the shape: a
    EXPECT_EQ(px(8, 8), 2000);  // in the box (4..8), outside the shape: b
    EXPECT_EQ(px(9, 5), 7);     // outside the box: untouched
    EXPECT_EQ(px(0, 0), 7);
}

}  // namespace
}  // namespace vantrelo
