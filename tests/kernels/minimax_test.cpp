#include "kernels/minimax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "host/system/exceptions.h"

namespace vantrelo {
namespace {

// A 16-bit RGBA image of w x h pixels, coordinates from (0, 0), with `pad` spare pixels a row.
struct Image {
    Image(std::int64_t w, std::int64_t h, std::int64_t pad = 0, std::uint16_t fill = 0)
        : width(w), height(h), stride((w + pad) * 4), pixels(stride * h, fill) {}
    std::uint16_t* at(std::int64_t x, std::int64_t y) { return &pixels[y * stride + x * 4]; }
    const std::uint16_t* at(std::int64_t x, std::int64_t y) const {
        return &pixels[y * stride + x * 4];
    }
    std::ptrdiff_t rowBytes() const { return stride * 2; }
    void randomise(std::uint32_t seed, int levels = 65536) {
        std::mt19937 random(seed);
        for (std::uint16_t& v : pixels) v = static_cast<std::uint16_t>(random() % levels);
    }
    std::int64_t width, height, stride;
    std::vector<std::uint16_t> pixels;
};

// The extreme over the window's pixels that lie inside the limits, one pixel at a time.
std::uint16_t bruteForce(const Image& source, const SpanRect& limits, std::int64_t x,
                         std::int64_t y, int c, int w, int h, bool maximum) {
    const int a = w / 2, b = w - 1 - a, ah = h / 2, bh = h - 1 - ah;
    std::uint16_t best = maximum ? 0 : 65535;
    for (std::int64_t j = y - ah; j <= y + bh; ++j)
        for (std::int64_t i = x - a; i <= x + b; ++i) {
            if (i < limits.x0 || i >= limits.x1 || j < limits.y0 || j >= limits.y1) continue;
            const std::uint16_t v = source.at(i, j)[c];
            best = maximum ? std::max(best, v) : std::min(best, v);
        }
    return best;
}

void applyFilter(bool maximum, const Image& source, Image& destination, Image& scratch,
                 const SpanRect& limits, const SpanRect& area, int w, int h,
                 std::uint64_t bands = 0) {
    Quelt_Minimax f;
    f.environment.bandCount = bands;
    f.source = source.pixels.data();
    f.destination = destination.pixels.data();
    f.scratch = scratch.pixels.data();
    f.sourceRowBytes = source.rowBytes();
    f.destinationRowBytes = destination.rowBytes();
    f.scratchRowBytes = scratch.rowBytes();
    f.limits = &limits;
    f.area = &area;
    f.windowWidth = w;
    f.windowHeight = h;
    if (maximum)
        Quelt_Minimax::applyMax(f);
    else
        Quelt_Minimax::apply(f);
}

// Random images against brute force, for windows odd and even, flat and tall, and larger than
// the image.  The area lies inside wider limits, so the vertical pass needs scratch rows outside
// the area: the scratch starts out holding the value that would win every comparison (0 for the
// minimum, 65535 for the maximum), so a row read before it was written shows.
TEST(MinMaxFilter, MatchesBruteForceForEveryWindow) {
    const int windows[][2] = {{1, 1},  {2, 3}, {3, 3}, {4, 4},   {7, 2},
                              {21, 5}, {1, 9}, {6, 1}, {50, 41}, {101, 3}};
    const SpanRect limits{0, 37, 0, 29};
    const SpanRect areas[] = {{0, 37, 0, 29}, {5, 30, 4, 23}, {36, 37, 0, 29}};
    Image source(37, 29, 3);
    source.randomise(5);
    for (bool maximum : {false, true})
        for (const auto& window : windows)
            for (const SpanRect& area : areas) {
                SCOPED_TRACE(testing::Message() << (maximum ? "max " : "min ") << window[0] << "x"
                                                << window[1] << " area " << area.x0 << ".."
                                                << area.x1 << "," << area.y0 << ".." << area.y1);
                Image destination(37, 29, 1, 4321);
                Image scratch(37, 29, 2, maximum ? 65535 : 0);
                applyFilter(maximum, source, destination, scratch, limits, area, window[0],
                            window[1]);
                for (std::int64_t y = 0; y < 29; ++y)
                    for (std::int64_t x = 0; x < 37; ++x)
                        for (int c = 0; c < 4; ++c) {
                            const bool inArea =
                                x >= area.x0 && x < area.x1 && y >= area.y0 && y < area.y1;
                            const std::uint16_t expected =
                                inArea ? bruteForce(source, limits, x, y, c, window[0], window[1],
                                                    maximum)
                                       : 4321;
                            ASSERT_EQ(destination.at(x, y)[c], expected)
                                << x << "," << y << " channel " << c;
                        }
            }
}

TEST(MinMaxFilter, InPlaceAndAnyBandCountGiveTheSameResult) {
    Image source(83, 61, 0);
    source.randomise(9, 9);  // few levels: many ties
    const SpanRect limits{0, 83, 0, 61};
    for (bool maximum : {false, true}) {
        Image reference(83, 61), scratch(83, 61);
        applyFilter(maximum, source, reference, scratch, limits, limits, 9, 14, 1);
        for (std::uint64_t bands : {2u, 5u, 64u, 0u}) {
            Image other(83, 61);
            applyFilter(maximum, source, other, scratch, limits, limits, 9, 14, bands);
            EXPECT_EQ(other.pixels, reference.pixels) << bands << " bands";
        }
        Image inPlace = source;
        applyFilter(maximum, inPlace, inPlace, scratch, limits, limits, 9, 14);
        EXPECT_EQ(inPlace.pixels, reference.pixels);
    }
}

TEST(MinMaxFilter, ErosionAndDilationOfSinglePixels) {
    const SpanRect limits{0, 20, 0, 16};
    Image scratch(20, 16);
    // 3 x 3 minimum: a hole in an opaque alpha grows to its eight neighbours.
    Image matte(20, 16, 0, 65535);
    matte.at(7, 5)[3] = 0;
    Image eroded(20, 16);
    applyFilter(false, matte, eroded, scratch, limits, limits, 3, 3);
    for (std::int64_t y = 0; y < 16; ++y)
        for (std::int64_t x = 0; x < 20; ++x) {
            const bool near = std::abs(x - 7) <= 1 && std::abs(y - 5) <= 1;
            EXPECT_EQ(eroded.at(x, y)[3], near ? 0 : 65535) << x << "," << y;
            EXPECT_EQ(eroded.at(x, y)[0], 65535);
        }
    // 4 x 4 maximum: a bright pixel at (10, 10) covers x and y 9 to 12 (two before the window
    // position, one after, so a pixel reaches the outputs from p - 1 to p + 2).
    Image dark(20, 16, 0, 0);
    dark.at(10, 10)[1] = 50000;
    Image dilated(20, 16);
    applyFilter(true, dark, dilated, scratch, limits, limits, 4, 4);
    for (std::int64_t y = 0; y < 16; ++y)
        for (std::int64_t x = 0; x < 20; ++x) {
            const bool covered = x >= 9 && x <= 12 && y >= 9 && y <= 12;
            EXPECT_EQ(dilated.at(x, y)[1], covered ? 50000 : 0) << x << "," << y;
        }
    // At the border the window is cut: the 3 x 3 minimum at (0, 0) takes (0..1, 0..1) only.
    Image corner(20, 16, 0, 60000);
    corner.at(1, 1)[2] = 10;
    corner.at(2, 2)[2] = 5;
    Image cut(20, 16);
    applyFilter(false, corner, cut, scratch, limits, limits, 3, 3);
    EXPECT_EQ(cut.at(0, 0)[2], 10);
}

// Without a scratch pitch the scratch rows are the smaller of the source's and the destination's
// apart: here 8000 bytes, so a scratch image of exactly that pitch suffices (the sanitizer build
// would report a write past it).
TEST(MinMaxFilter, ScratchPitchDefaultsToTheSmallerImagePitch) {
    Image source(1000, 6);
    source.randomise(3);
    Image destination(1000, 6, 24);  // 8192 bytes a row
    std::vector<std::uint16_t> scratch(1000 * 4 * 6);
    const SpanRect limits{0, 1000, 0, 6};
    Quelt_Minimax f;
    f.source = source.pixels.data();
    f.destination = destination.pixels.data();
    f.scratch = scratch.data();
    f.sourceRowBytes = 8000;
    f.destinationRowBytes = destination.rowBytes();
    f.limits = f.area = &limits;
    f.windowWidth = 5;
    f.windowHeight = 3;
    Quelt_Minimax::apply(f);
    for (std::int64_t y = 0; y < 6; ++y)
        for (std::int64_t x = 0; x < 1000; x += 37)
            ASSERT_EQ(destination.at(x, y)[3], bruteForce(source, limits, x, y, 3, 5, 3, false));
}

TEST(MinMaxFilter, RefusesFilterObjectsItCannotRun) {
    Image a(10, 10), b(10, 10), s(10, 10);
    const SpanRect limits{0, 10, 0, 10}, outside{5, 11, 0, 10}, empty{3, 3, 0, 10};
    auto attempt = [&](auto change) {
        Quelt_Minimax f;
        f.source = a.pixels.data();
        f.destination = b.pixels.data();
        f.scratch = s.pixels.data();
        f.sourceRowBytes = f.destinationRowBytes = f.scratchRowBytes = a.rowBytes();
        f.limits = f.area = &limits;
        f.windowWidth = f.windowHeight = 3;
        change(f);
        Quelt_Minimax::apply(f);
    };
    EXPECT_THROW(attempt([](Quelt_Minimax& f) { f.windowWidth = 0; }), Mav::Exception);
    EXPECT_THROW(attempt([](Quelt_Minimax& f) { f.windowHeight = -2; }), Mav::Exception);
    EXPECT_THROW(attempt([&](Quelt_Minimax& f) { f.area = &outside; }), Mav::Exception);
    EXPECT_THROW(attempt([](Quelt_Minimax& f) { f.limits = nullptr; }), Mav::Exception);
    EXPECT_THROW(attempt([](Quelt_Minimax& f) { f.scratch = nullptr; }), Mav::Exception);
    EXPECT_THROW(attempt([&](Quelt_Minimax& f) { f.scratch = b.pixels.data(); }), Mav::Exception);
    EXPECT_NO_THROW(attempt([&](Quelt_Minimax& f) { f.area = &empty; }));
}

}  // namespace
}  // namespace vantrelo
