#include "kernels/warp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "kernel_test_support.h"
#include "kernels/band_job.h"
#include "kernels/bilinear.h"
#include "kernels/warp_variants.h"

namespace vantrelo {
namespace {

using kernel_test::at;
using kernel_test::makeImage;
using kernel_test::TestHost;

Matrix3 make(std::array<double, 9> m) {
    Matrix3 r;
    r.m = m;
    return r;
}
Matrix3 translation(double tx, double ty) { return make({1, 0, tx, 0, 1, ty, 0, 0, 1}); }

// A source whose channels are a + b x + c y + d x y with integer coefficients, different per
// channel: integer at every pixel, and reproduced exactly by bilinear interpolation, so the value
// a warp should produce at a source point (u, v) is known in closed form.
double field(double u, double v, int c) {
    static const double a[4] = {20000, 25000, 30000, 35000};
    static const double b[4] = {97, 66, 35, 4};
    static const double cy[4] = {41, 64, 87, 110};
    static const double d[4] = {1, -2, 3, -4};
    return a[c] + b[c] * u + cy[c] * v + d[c] * u * v;
}

void fillField(ImageBuffer& image) {
    const Rect b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x)
            for (int c = 0; c < image.channels; ++c) {
                const double v = field(x, y, c);
                if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(v);
                else if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v / 257);
                else
                    at<float>(image, x, y)[c] = static_cast<float>(v / 65535);
            }
}

// Marks every destination pixel, so untouched ones can be told from drawn ones.
constexpr double kUntouched[4] = {11111, 22222, 33333, 44444};
void fillUntouched(ImageBuffer& image) {
    const Rect b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x)
            for (int c = 0; c < image.channels; ++c) {
                if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(kUntouched[c]);
                else if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] =
                        static_cast<std::uint8_t>(kUntouched[c] / 257);
                else
                    at<float>(image, x, y)[c] = static_cast<float>(kUntouched[c] / 65535);
            }
}

bool untouched(const ImageBuffer& image, std::int32_t x, std::int32_t y) {
    for (int c = 0; c < image.channels; ++c) {
        const double v = kernel_test::sample(image, x, y, c);
        const double expected = image.bitsPerChannel == 16 ? kUntouched[c]
                                : image.bitsPerChannel == 8
                                    ? std::floor(kUntouched[c] / 257)
                                    : static_cast<float>(kUntouched[c] / 65535);
        if (v != expected) return false;
    }
    return true;
}

// The scan conversion the warp follows, evaluated in double precision: on row r the outline's
// edges are cut by the row, source coordinates run linearly along each edge (in destination y)
// and then linearly along the row; the row draws columns [ceil(left X), trunc(right X)) whose
// source point lies in [x0, x1 - 1] x [y0, y1 - 1].
struct Reference {
    struct Point {
        bool drawn = false;
        bool borderline = true;  // too close to a span end or the sampling range to call
        double u = 0, v = 0;
    };

    Reference(const Matrix3& m, const Rect& source) : source(source) {
        const double cx[4] = {double(source.x0), double(source.x1), double(source.x1),
                              double(source.x0)};
        const double cy[4] = {double(source.y0), double(source.y0), double(source.y1),
                              double(source.y1)};
        for (int i = 0; i < 4; ++i) {
            const double w = m.m[6] * cx[i] + m.m[7] * cy[i] + m.m[8];
            X[i] = (m.m[0] * cx[i] + m.m[1] * cy[i] + m.m[2]) / w;
            Y[i] = (m.m[3] * cx[i] + m.m[4] * cy[i] + m.m[5]) / w;
            U[i] = cx[i];
            V[i] = cy[i];
        }
    }

    Point at(std::int32_t k, std::int32_t r) const {
        Point p;
        double lx = 1e300, rx = -1e300, lu = 0, lv = 0, ru = 0, rv = 0;
        for (int i = 0; i < 4; ++i) {
            const int j = (i + 1) % 4;
            if (Y[i] == Y[j] || r < std::min(Y[i], Y[j]) || r > std::max(Y[i], Y[j])) continue;
            const double t = (r - Y[i]) / (Y[j] - Y[i]);
            const double x = X[i] + t * (X[j] - X[i]);
            const double u = U[i] + t * (U[j] - U[i]);
            const double v = V[i] + t * (V[j] - V[i]);
            if (x < lx) lx = x, lu = u, lv = v;
            if (x > rx) rx = x, ru = u, rv = v;
        }
        if (lx > rx) {  // the row misses the outline
            p.borderline = false;
            return p;
        }
        const double eps = 1e-3;
        // The rows through the top and the bottom corner, and columns at a span end, may fall
        // either way in single precision.
        const double top = std::min({Y[0], Y[1], Y[2], Y[3]});
        const double bottom = std::max({Y[0], Y[1], Y[2], Y[3]});
        const bool nearRowEnd = std::fabs(r - top) < eps || std::fabs(r - bottom) < eps;
        const bool nearSpanEnd =
            std::fabs(k - lx) < eps || std::fabs(k - rx) < eps || std::fabs(k + 1 - rx) < eps;
        const double first = std::ceil(lx), end = std::trunc(rx);
        if (k < first || k >= end) {
            p.borderline = nearRowEnd || nearSpanEnd;
            return p;
        }
        const double t = rx == lx ? 0 : (k - lx) / (rx - lx);
        p.u = lu + t * (ru - lu);
        p.v = lv + t * (rv - lv);
        const double hu = source.x1 - 1, hv = source.y1 - 1;
        p.drawn = p.u >= source.x0 && p.u <= hu && p.v >= source.y0 && p.v <= hv;
        p.borderline = nearRowEnd || nearSpanEnd || std::fabs(p.u - source.x0) < eps ||
                       std::fabs(p.u - hu) < eps || std::fabs(p.v - source.y0) < eps ||
                       std::fabs(p.v - hv) < eps;
        return p;
    }

    Rect source;
    double X[4], Y[4], U[4], V[4];
};

// Every pixel of a 16-bit RGBA foreground warp against the reference: drawn pixels carry the
// field at their source point (within the sampler's truncation and single-precision drift),
// others are untouched.  Returns the number of pixels drawn.
int expectMatchesReference(const ImageBuffer& destination, const Matrix3& m, const Rect& source,
                           double tolerance = 1.5) {
    const Reference reference(m, source);
    int drawn = 0;
    const Rect b = destination.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x) {
            const Reference::Point p = reference.at(x, y);
            if (p.borderline) continue;
            if (!p.drawn) {
                EXPECT_TRUE(untouched(destination, x, y)) << "pixel " << x << "," << y;
                continue;
            }
            ++drawn;
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(kernel_test::sample(destination, x, y, c), field(p.u, p.v, c),
                            tolerance)
                    << "pixel " << x << "," << y << " channel " << c << " source " << p.u << ","
                    << p.v;
        }
    return drawn;
}

struct WarpCase {
    const char* name;
    Matrix3 matrix;
    Rect source;
    Rect destination;
};

// The Part's model covers affine maps exactly and projective ones as linear interpolation between
// the projected corners.
TEST(Warp, ForegroundFollowsTheScanConversionRule) {
    const double c = std::cos(0.5), s = std::sin(0.5);
    const WarpCase cases[] = {
        {"whole-pixel translation", translation(7, -3), {0, 0, 40, 30}, {0, 0, 60, 45}},
        {"fractional translation", translation(23.3, 17.3), {0, 0, 40, 30}, {0, 0, 80, 60}},
        {"half-pixel translation", translation(0.5, 0), {-5, 2, 35, 27}, {-8, 0, 40, 30}},
        {"90-degree rotation", make({0, -1, 40, 1, 0, 3, 0, 0, 1}), {0, 0, 37, 29}, {0, 0, 45, 45}},
        {"scale up", make({2, 0, 1, 0, 2.5, -2, 0, 0, 1}), {0, 0, 23, 17}, {0, 0, 50, 45}},
        {"scale down", make({0.7, 0, 20, 0, 0.6, 20, 0, 0, 1}), {0, 0, 41, 33}, {0, 0, 55, 45}},
        {"rotation and scale",
         make({1.3 * c, -1.3 * s, 30, 1.3 * s, 1.3 * c, 2, 0, 0, 1}),
         {0, 0, 40, 30},
         {0, 0, 70, 70}},
        {"perspective",
         make({1.1, 0.1, 5, -0.05, 0.9, 8, 0.004, 0.002, 1}),
         {0, 0, 40, 30},
         {0, 0, 60, 50}},
        {"negative w everywhere",
         make({-1, 0, -5, 0, -1, -4, 0, 0, -1}),
         {0, 0, 40, 30},
         {0, 0, 50, 40}},
        // Both top edges lean right; the steeper-in-x one is nearer in x at its end, which must
        // not make the chains swap (the sheared layer would vanish).
        {"sheared", make({1, 1.5, 10, 0.05, 1, 5, 0, 0, 1}), {0, 0, 40, 30}, {0, 0, 100, 45}},
    };
    TestHost host;
    for (const WarpCase& w : cases) {
        SCOPED_TRACE(w.name);
        auto source = makeImage(&host, w.source, 16, 4, 24);
        fillField(*source);
        auto destination = makeImage(&host, w.destination, 16, 4, 16);
        fillUntouched(*destination);
        warpForegroundRgba16(host, *destination, *source, w.matrix);
        EXPECT_GT(expectMatchesReference(*destination, w.matrix, w.source), 300);
    }
}

TEST(Warp, WholePixelTranslationCopiesEverySourcePixelExactly) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 19, 13}, 16, 4);
    kernel_test::fillRandom(*source, 3);
    auto destination = makeImage(&host, Rect{0, 0, 40, 30}, 16, 4);
    fillUntouched(*destination);
    warpForegroundRgba16(host, *destination, *source, translation(9, 6));
    for (std::int32_t y = 0; y < 30; ++y)
        for (std::int32_t x = 0; x < 40; ++x) {
            const bool inside = x >= 9 && x < 28 && y >= 6 && y < 19;
            if (!inside) {
                EXPECT_TRUE(untouched(*destination, x, y)) << x << "," << y;
                continue;
            }
            for (int c = 0; c < 4; ++c)  // the last column and row included (fx or fy = 1)
                ASSERT_EQ(at<std::uint16_t>(*destination, x, y)[c],
                          at<std::uint16_t>(*source, x - 9, y - 6)[c])
                    << x << "," << y;
        }
}

TEST(Warp, SpanEndsAreCeilingAndTruncation) {
    TestHost host;
    // Translation (0.5, 0): column k samples k - 0.5, so the first column drawn is x0 + 1 and the
    // last is x1 - 1.
    auto source = makeImage(&host, Rect{0, 0, 10, 4}, 16, 4);
    fillField(*source);
    auto destination = makeImage(&host, Rect{0, 0, 16, 4}, 16, 4);
    fillUntouched(*destination);
    warpForegroundRgba16(host, *destination, *source, translation(0.5, 0));
    for (std::int32_t y = 0; y < 4; ++y) {
        EXPECT_TRUE(untouched(*destination, 0, y));
        EXPECT_FALSE(untouched(*destination, 1, y));
        EXPECT_FALSE(untouched(*destination, 9, y));
        EXPECT_TRUE(untouched(*destination, 10, y));
        EXPECT_NEAR(at<std::uint16_t>(*destination, 9, y)[0], field(8.5, y, 0), 1.0);
    }

    // Scale 0.7 and translation (20, 20) of a source 17 wide: the right end lies at x = 31.9, so
    // column 31 is not drawn although its source point (15.71) lies inside the sampling range.
    auto narrow = makeImage(&host, Rect{0, 0, 17, 10}, 16, 4);
    fillField(*narrow);
    auto target = makeImage(&host, Rect{0, 0, 40, 30}, 16, 4);
    fillUntouched(*target);
    warpForegroundRgba16(host, *target, *narrow, make({0.7, 0, 20, 0, 0.7, 20, 0, 0, 1}));
    EXPECT_FALSE(untouched(*target, 30, 24));
    EXPECT_TRUE(untouched(*target, 31, 24));
}

TEST(Warp, IdentityTakesTheUnresampledPathAndNaNDrawsNothing) {
    TestHost host;
    auto source = makeImage(&host, Rect{3, 2, 20, 12}, 32, 4);
    kernel_test::fillRandom(*source, 5);
    at<float>(*source, 5, 5)[1] = std::numeric_limits<float>::quiet_NaN();
    at<float>(*source, 6, 5)[2] = 7.5f;  // float values are never clamped
    auto destination = makeImage(&host, Rect{0, 0, 16, 100}, 32, 4);
    fillUntouched(*destination);

    // -0 equals 0: the identity path, which visits only the source's rows (one tick, row 0 not
    // among them: rows 2 to 11) and copies the overlap bit for bit.
    Matrix3 identity = make({1, -0.0, 0, 0, 1, -0.0, 0, 0, 1});
    WarpJob job{&host, destination.get(), source.get(), &identity};
    warpForegroundRgbaFloatBand(&job, 0, 1, 0);
    EXPECT_EQ(host.totalTicks, 0);
    for (std::int32_t y = 0; y < 100; ++y)
        for (std::int32_t x = 0; x < 16; ++x) {
            if (x < 3 || y < 2 || y >= 12) {
                EXPECT_TRUE(untouched(*destination, x, y));
                continue;
            }
            ASSERT_EQ(std::memcmp(at<float>(*destination, x, y), at<float>(*source, x, y), 16), 0);
        }

    // A general matrix visits every row below the outline's top: ticks after rows 32, 64, 96.
    host.totalTicks = 0;
    Matrix3 shifted = translation(0.25, 0);
    WarpJob general{&host, destination.get(), source.get(), &shifted};
    warpForegroundRgbaFloatBand(&general, 0, 1, 0);
    EXPECT_EQ(host.totalTicks, 3);

    // A NaN element is not the identity, and its outline cannot be drawn.
    auto untouchedCopy = makeImage(&host, destination->bounds, 32, 4);
    fillUntouched(*untouchedCopy);
    Matrix3 broken = make({1, 0, 0, 0, 1, 0, 0, 0, std::numeric_limits<double>::quiet_NaN()});
    warpForegroundRgbaFloat(host, *untouchedCopy, *source, broken);
    for (std::int32_t y = 0; y < 100; ++y)
        for (std::int32_t x = 0; x < 16; ++x) ASSERT_TRUE(untouched(*untouchedCopy, x, y));
}

TEST(Warp, BandsTickAfterRowsThatAreMultiplesOf32) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 30, 300}, 16, 4);
    auto destination = makeImage(&host, Rect{0, -40, 30, 100}, 16, 4);
    const Matrix3 m = translation(0.5, -50);
    WarpJob job{&host, destination.get(), source.get(), &m};
    warpForegroundRgba16Band(&job, 1, 2, 7);  // rows 30 to 99
    EXPECT_EQ(host.ticks[7], 3);              // 32, 64, 96
    host.ticks.clear();
    warpForegroundRgba16Band(&job, 0, 2, 3);  // rows -40 to 29: -32 and 0 count too
    EXPECT_EQ(host.ticks[3], 2);

    // A band wholly above the outline's top visits no row: no tick, nothing drawn.
    host.ticks.clear();
    const Matrix3 low = translation(0, 80);
    auto small = makeImage(&host, Rect{0, 0, 30, 10}, 16, 4);
    WarpJob above{&host, destination.get(), small.get(), &low};
    fillUntouched(*destination);
    warpForegroundRgba16Band(&above, 0, 4, 0);  // rows -40 to -6
    EXPECT_TRUE(host.ticks.empty());
    for (std::int32_t y = -40; y < 100; ++y) ASSERT_TRUE(untouched(*destination, 5, y));
}

// Band k of n starts its first row with the walker values the rows above it would have given, so
// any band count gives the same image, bit for bit.
TEST(Warp, EveryBandCountGivesTheSameImage) {
    TestHost host;
    auto source = makeImage(&host, Rect{-4, 3, 57, 44}, 16, 4);
    kernel_test::fillRandom(*source, 9);
    const double c = std::cos(1.1), s = std::sin(1.1);
    const Matrix3 matrices[] = {
        make({0.83 * c, -0.83 * s, 47.3, 0.91 * s, 0.91 * c, -3.7, 0, 0, 1}),
        make({1.1, 0.1, 5, -0.05, 0.9, 8, 0.004, 0.002, 1}),
    };
    for (const Matrix3& m : matrices) {
        auto reference = makeImage(&host, Rect{-3, -5, 83, 87}, 16, 4);
        fillUntouched(*reference);
        WarpJob job{&host, reference.get(), source.get(), &m};
        warpForegroundRgba16Band(&job, 0, 1, 0);
        for (std::uint64_t n = 2; n <= 9; ++n) {
            auto banded = makeImage(&host, reference->bounds, 16, 4);
            fillUntouched(*banded);
            WarpJob bandJob{&host, banded.get(), source.get(), &m};
            for (std::uint64_t k = n; k-- > 0;) warpForegroundRgba16Band(&bandJob, k, n, k);
            EXPECT_TRUE(kernel_test::samePixels(*reference, *banded)) << n << " bands";
        }
        auto threaded = makeImage(&host, reference->bounds, 16, 4);
        fillUntouched(*threaded);
        warpForegroundRgba16(host, *threaded, *source, m);
        EXPECT_TRUE(kernel_test::samePixels(*reference, *threaded));
    }
}

// Tiles of a destination drawn one by one agree with the whole image within one unit away from
// the outline's edges; near them a pixel may fall on either side in one and not the other.
TEST(Warp, TilesAgreeWithTheWholeImage) {
    TestHost host;
    const double c = std::cos(-0.4), s = std::sin(-0.4);
    const Matrix3 m = make({1.7 * c, -1.7 * s, 12.6, 1.7 * s, 1.7 * c, 41.2, 0, 0, 1});
    const Rect whole{0, 0, 150, 140};
    for (int bits : {16, 32}) {
        SCOPED_TRACE(bits);
        auto source = makeImage(&host, Rect{0, 0, 64, 48}, bits, 4);
        fillField(*source);
        auto warp = bits == 16 ? warpForegroundRgba16 : warpForegroundRgbaFloat;
        auto full = makeImage(&host, whole, bits, 4);
        fillUntouched(*full);
        warp(host, *full, *source, m);
        const Reference reference(m, source->bounds);
        const double tolerance = bits == 16 ? 1.0 : 1e-5;
        int compared = 0;
        for (std::int32_t ty = 0; ty < whole.y1; ty += 23)
            for (std::int32_t tx = 0; tx < whole.x1; tx += 37) {
                const Rect tileRect{tx, ty, std::min(tx + 37, whole.x1),
                                    std::min(ty + 23, whole.y1)};
                auto tile = makeImage(&host, tileRect, bits, 4);
                fillUntouched(*tile);
                warp(host, *tile, *source, m);
                for (std::int32_t y = tileRect.y0; y < tileRect.y1; ++y)
                    for (std::int32_t x = tileRect.x0; x < tileRect.x1; ++x) {
                        if (reference.at(x, y).borderline) continue;
                        ++compared;
                        for (int ch = 0; ch < 4; ++ch)
                            ASSERT_NEAR(kernel_test::sample(*tile, x, y, ch),
                                        kernel_test::sample(*full, x, y, ch), tolerance)
                                << x << "," << y;
                    }
            }
        EXPECT_GT(compared, 15000);
    }
}

// A tile that begins inside a turned outline gets the very pixels the whole image gets there: each
// row's edges and each pixel's source point come from the row and column numbers, not from steps
// added since the tile's first row or column (which drifted by up to a few hundredths of a pixel
// over a few hundred pixels and moved pixels along the outline).  The turn is 15 degrees with
// scale 1.1, which no binary fraction holds exactly; tiles are odd-sized, each drawn in 3 bands.
TEST(Warp, TurnedTilesGetTheWholeImagesPixelsBitForBit) {
    TestHost host;
    const double a = 15.0 * M_PI / 180.0, s = 1.1;
    const Matrix3 m =
        make({s * std::cos(a), -s * std::sin(a), 180.4, s * std::sin(a), s * std::cos(a), -37.7,
              0, 0, 1});
    const Rect whole{-20, -15, 880, 690};
    struct Member {
        const char* name;
        void (*launch)(SystemHost&, ImageBuffer&, const ImageBuffer&, const Matrix3&);
        BandWorker band;
        int sourceBits, sourceChannels, bits;
    };
    const Member members[] = {
        {"16-bit foreground", warpForegroundRgba16, warpForegroundRgba16Band, 16, 4, 16},
        {"float foreground", warpForegroundRgbaFloat, warpForegroundRgbaFloatBand, 32, 4, 32},
        {"8-bit layer over 16 bits", warpLayerStraight16, warpLayerStraight16Band, 8, 4, 16},
    };
    for (const Member& member : members) {
        SCOPED_TRACE(member.name);
        auto source = makeImage(&host, Rect{0, 0, 700, 520}, member.sourceBits,
                                member.sourceChannels);
        if (member.sourceBits == 8)
            kernel_test::fillRandom(*source, 17);
        else
            fillField(*source);
        auto full = makeImage(&host, whole, member.bits, 4);
        fillUntouched(*full);
        member.launch(host, *full, *source, m);
        int tiles = 0, differing = 0;
        double worst = 0;
        for (std::int32_t ty = whole.y0; ty < whole.y1; ty += 157)
            for (std::int32_t tx = whole.x0; tx < whole.x1; tx += 211) {
                const Rect tileRect{tx, ty, std::min(tx + 211, whole.x1),
                                    std::min(ty + 157, whole.y1)};
                auto tile = makeImage(&host, tileRect, member.bits, 4, 3);
                fillUntouched(*tile);
                WarpJob job{&host, tile.get(), source.get(), &m};
                for (std::uint64_t k = 0; k < 3; ++k) member.band(&job, k, 3, k);
                ++tiles;
                for (std::int32_t y = tileRect.y0; y < tileRect.y1; ++y)
                    for (std::int32_t x = tileRect.x0; x < tileRect.x1; ++x)
                        for (int c = 0; c < 4; ++c) {
                            const double d = std::fabs(kernel_test::sample(*tile, x, y, c) -
                                                       kernel_test::sample(*full, x, y, c));
                            differing += d != 0;
                            worst = std::max(worst, d);
                        }
            }
        EXPECT_EQ(tiles, 25);
        EXPECT_EQ(differing, 0) << "largest difference " << worst;
        // The turned image covers most of the frame, so the comparison is not of untouched pixels.
        int drawn = 0;
        for (std::int32_t y = whole.y0; y < whole.y1; y += 7)
            for (std::int32_t x = whole.x0; x < whole.x1; x += 7) drawn += !untouched(*full, x, y);
        EXPECT_GT(drawn, 6000);
    }
}

// A projective matrix places the corners exactly, but the inside follows the linear
// interpolation between them, not the true inverse of the matrix.
TEST(Warp, PerspectiveInsideIsInterpolatedLinearly) {
    TestHost host;
    const Matrix3 m = make({1.1, 0.1, 5, -0.05, 0.9, 8, 0.004, 0.002, 1});
    auto source = makeImage(&host, Rect{0, 0, 40, 30}, 16, 4);
    fillField(*source);
    auto destination = makeImage(&host, Rect{0, 0, 60, 50}, 16, 4);
    fillUntouched(*destination);
    warpForegroundRgba16(host, *destination, *source, m);
    const Matrix3 inverse = invertMatrix3(m);
    int farFromTrue = 0;
    for (std::int32_t y = 10; y < 26; ++y)
        for (std::int32_t x = 12; x < 40; ++x) {
            ASSERT_FALSE(untouched(*destination, x, y)) << x << "," << y;
            const double w = inverse.m[6] * x + inverse.m[7] * y + inverse.m[8];
            const double u = (inverse.m[0] * x + inverse.m[1] * y + inverse.m[2]) / w;
            const double v = (inverse.m[3] * x + inverse.m[4] * y + inverse.m[5]) / w;
            farFromTrue +=
                std::fabs(at<std::uint16_t>(*destination, x, y)[0] - field(u, v, 0)) > 20;
        }
    EXPECT_GT(farFromTrue, 200);  // of 448: the linear inside is off by more than 20 units there
}

TEST(Warp, OutlinesThatCannotBeDrawnDrawNothingAndReturn) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 20, 20}, 16, 4);
    kernel_test::fillRandom(*source, 1);
    const double huge = 1e30, inf = std::numeric_limits<double>::infinity();
    const Matrix3 nothing[] = {
        make({1, 0, 0, 0, 1, 0, 0.1, 0, 0}),          // w = 0 at the corner (0, y)
        make({1, 0, 0, 0, 1, 0, -0.1, 0, 1}),         // w from 1 down to -1: mixed signs
        make({1, 0, 0, 0, 1, 0, 1e-300, 0, 1e-300}),  // w rounds to 0 in single precision
        make({1, 0, inf, 0, 1, 0, 0, 0, 1}),
        make({1, 0, huge, 0, 1, huge, 0, 0, 1}),    // far outside: no row visited
        make({1e300, 0, 0, 0, 1e300, 0, 0, 0, 1}),  // corners overflow single precision
    };
    for (const Matrix3& m : nothing) {
        auto destination = makeImage(&host, Rect{0, 0, 30, 30}, 16, 4);
        fillUntouched(*destination);
        warpForegroundRgba16(host, *destination, *source, m);
        for (std::int32_t y = 0; y < 30; ++y)
            for (std::int32_t x = 0; x < 30; ++x) ASSERT_TRUE(untouched(*destination, x, y));
    }
    // Huge but finite spans are cut at the frame: the warp stays inside the destination (the
    // sanitizer build checks the writes) and returns.
    const Matrix3 stretched[] = {
        make({1, 0, 0, 0, 1e30, -1e31, 0, 0, 1}),
        make({1e20, 1e-20, -3e20, 1e-20, 1e20, -7e20, 0, 0, 1}),
        make({1e-30, 0, 10, 0, 1e-30, 10, 0, 0, 1}),
    };
    for (const Matrix3& m : stretched) {
        auto destination = makeImage(&host, Rect{0, 0, 30, 30}, 16, 4);
        warpForegroundRgba16(host, *destination, *source, m);
    }
}

// A source one pixel wide (or high) takes its one column (row) for both columns (rows) of the
// block; the poisoned neighbour beside it in memory is never read.
TEST(Warp, ASourceOnePixelWideOrHighIsNeverReadPastItsEdge) {
    TestHost host;
    auto backing = makeImage(&host, Rect{0, 0, 8, 8}, 16, 4);
    for (std::int32_t y = 0; y < 8; ++y)
        for (std::int32_t x = 0; x < 8; ++x)
            for (int c = 0; c < 4; ++c) at<std::uint16_t>(*backing, x, y)[c] = 65535;
    for (std::int32_t y = 0; y < 8; ++y)
        for (int c = 0; c < 4; ++c)
            at<std::uint16_t>(*backing, 3, y)[c] = static_cast<std::uint16_t>(1000 * (c + 1) + y);
    ImageBuffer column(&host);
    column.makeView(*backing, Rect{3, 0, 4, 8});
    auto destination = makeImage(&host, Rect{0, 0, 30, 30}, 16, 4);
    fillUntouched(*destination);
    warpForegroundRgba16(host, *destination, column, make({5.3, 0, 0.2, 0, 2.5, 0.4, 0, 0, 1}));
    int drawn = 0;
    for (std::int32_t y = 0; y < 30; ++y)
        for (std::int32_t x = 0; x < 30; ++x) {
            if (untouched(*destination, x, y)) continue;
            ++drawn;
            const double v = (y - 0.4) / 2.5;  // source row
            EXPECT_NEAR(at<std::uint16_t>(*destination, x, y)[0], 1000 + v, 1.0) << x << "," << y;
            EXPECT_NEAR(at<std::uint16_t>(*destination, x, y)[3], 4000 + v, 1.0);
        }
    EXPECT_GT(drawn, 40);

    ImageBuffer row(&host);
    row.makeView(*backing, Rect{0, 3, 8, 4});
    for (std::int32_t x = 0; x < 8; ++x)
        for (int c = 0; c < 4; ++c) at<std::uint16_t>(*backing, x, 3)[c] = 500;
    fillUntouched(*destination);
    warpForegroundRgba16(host, *destination, row, make({2.2, 0, 0.5, 0, 4.1, -3.3, 0, 0, 1}));
    drawn = 0;
    for (std::int32_t y = 0; y < 30; ++y)
        for (std::int32_t x = 0; x < 30; ++x)
            if (!untouched(*destination, x, y)) {
                ++drawn;
                EXPECT_NEAR(at<std::uint16_t>(*destination, x, y)[1], 500, 1.0);
            }
    EXPECT_GT(drawn, 40);
}

// ---- The twelve variants: pixel operations, exact on the identity path and on whole-pixel
// translations (where every sample is one source pixel).

using Launcher = void (*)(SystemHost&, ImageBuffer&, const ImageBuffer&, const Matrix3&);

struct LayerCase {
    const char* name;
    Launcher launch;
    int bits;
    bool premultiplied;
};

// The layer-over formulas of each depth, written here independently of the kernels.
double layerOver(int bits, bool premultiplied, double d, int c, int a, bool alphaChannel) {
    if (bits == 32) {
        const float A = static_cast<float>(a) / 255.0f, k = 1.0f - A;
        const float cf = static_cast<float>(c) / 255.0f;
        if (alphaChannel) return k * static_cast<float>(d) + A;
        return premultiplied ? cf + k * static_cast<float>(d) : cf * A + k * static_cast<float>(d);
    }
    const std::uint32_t D = static_cast<std::uint32_t>(d), C = c, A = a;
    const std::uint32_t top = bits == 16 ? 65535 : 255;
    if (alphaChannel) return (D * (255 - A) + A * top) / 255;
    if (bits == 16)
        return premultiplied ? std::min<std::uint32_t>((D * (255 - A) + C * 65535) / 255, 65535)
                             : (C * A * 257 + D * (255 - A)) / 255;
    return premultiplied ? std::min<std::uint32_t>((D * (255 - A) + C * 255) / 255, 255)
                         : (C * A + D * (255 - A)) / 255;
}

TEST(WarpVariants, LayersCompositeOverByTheirAlphaMode) {
    const LayerCase cases[] = {
        {"premultiplied float", warpLayerPremultipliedFloat, 32, true},
        {"straight float", warpLayerStraightFloat, 32, false},
        {"premultiplied 16", warpLayerPremultiplied16, 16, true},
        {"straight 16", warpLayerStraight16, 16, false},
        {"premultiplied 8", warpLayerPremultiplied8, 8, true},
        {"straight 8", warpLayerStraight8, 8, false},
    };
    // Layer pixels (R, G, B, A) of every kind: transparent, opaque, half, colour below alpha.
    const int layer[][4] = {{200, 10, 99, 0},   {200, 10, 99, 255}, {64, 30, 128, 128},
                            {200, 7, 150, 128}, {60, 100, 0, 100},  {255, 255, 255, 255},
                            {0, 0, 0, 255},     {90, 90, 90, 91}};
    constexpr int kPixels = sizeof layer / sizeof layer[0];
    TestHost host;
    for (const LayerCase& lc : cases) {
        for (int channels : {4, 3}) {
            for (bool identityPath : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << lc.name << ", " << channels << " destination channels, "
                             << (identityPath ? "identity" : "translation"));
                auto source = makeImage(&host, Rect{0, 0, kPixels, 2}, 8, 4);
                for (int i = 0; i < kPixels; ++i)
                    for (int y = 0; y < 2; ++y)
                        for (int c = 0; c < 4; ++c)
                            at<std::uint8_t>(*source, i, y)[c] =
                                static_cast<std::uint8_t>(layer[i][c]);
                const int dx = identityPath ? 0 : 3, dy = identityPath ? 0 : 1;
                auto destination = makeImage(&host, Rect{0, 0, kPixels + 3, 3}, lc.bits, channels);
                // Destination values per channel, including the extremes.
                const double top = lc.bits == 16 ? 65535 : lc.bits == 8 ? 255 : 1;
                const double before[4] = {top, 0.3 * top, 0.0, 0.5 * top};
                for (std::int32_t y = 0; y < 3; ++y)
                    for (std::int32_t x = 0; x < kPixels + 3; ++x)
                        for (int c = 0; c < channels; ++c) {
                            double v = before[c];
                            if (lc.bits != 32) v = std::floor(v);
                            if (lc.bits == 16) at<std::uint16_t>(*destination, x, y)[c] = v;
                            if (lc.bits == 8) at<std::uint8_t>(*destination, x, y)[c] = v;
                            if (lc.bits == 32) at<float>(*destination, x, y)[c] = v;
                        }
                lc.launch(host, *destination, *source, translation(dx, dy));
                for (int i = 0; i < kPixels; ++i)
                    for (int c = 0; c < channels; ++c) {
                        const double d =
                            lc.bits == 32 ? static_cast<float>(before[c]) : std::floor(before[c]);
                        const double expected =
                            layerOver(lc.bits, lc.premultiplied, d, c < 3 ? layer[i][c] : 0,
                                      layer[i][3], c == 3);
                        const double got = kernel_test::sample(*destination, i + dx, dy, c);
                        if (lc.bits == 32)
                            EXPECT_FLOAT_EQ(got, expected) << "pixel " << i << " channel " << c;
                        else
                            EXPECT_EQ(got, expected) << "pixel " << i << " channel " << c;
                    }
                // Pixels outside the layer stay as they were.
                EXPECT_EQ(kernel_test::sample(*destination, 0, 2, 0),
                          lc.bits == 32 ? top : std::floor(top));
            }
        }
    }
}

TEST(WarpVariants, LayerOverGivesHandComputedValuesAtEachDepth) {
    // 16-bit premultiplied (64, A 128) over 65535: 127 x 257 kept plus 64 x 257 added.
    EXPECT_EQ(layerOver(16, true, 65535, 64, 128, false), 191 * 257);
    EXPECT_EQ(layerOver(16, false, 1000, 200, 128, false), (200 * 128 * 257 + 1000 * 127) / 255);
    EXPECT_EQ(layerOver(8, false, 50, 200, 100, false), 108);
    EXPECT_EQ(layerOver(8, true, 50, 60, 100, false), 90);
    EXPECT_EQ(layerOver(16, false, 0, 0, 128, true), 32896);
    // The kernel itself for the first: one opaque-destination pixel.
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 1, 1}, 8, 4);
    const std::uint8_t px[4] = {64, 64, 64, 128};
    std::memcpy(source->firstPixel, px, 4);
    auto destination = makeImage(&host, Rect{0, 0, 1, 1}, 16, 4);
    for (int c = 0; c < 4; ++c) at<std::uint16_t>(*destination, 0, 0)[c] = c == 3 ? 0 : 65535;
    warpLayerPremultiplied16(host, *destination, *source, Matrix3{});
    EXPECT_EQ(at<std::uint16_t>(*destination, 0, 0)[0], 191 * 257);
    EXPECT_EQ(at<std::uint16_t>(*destination, 0, 0)[3], 32896);
}

struct ForegroundCase {
    const char* name;
    Launcher launch;
    int bits;
    int sourceChannels;
};

TEST(WarpVariants, ForegroundsAreWrittenWithTheirAlphaOrFullAlpha) {
    const ForegroundCase cases[] = {
        {"RGBA float", warpForegroundRgbaFloat, 32, 4},
        {"RGB float", warpForegroundRgbFloat, 32, 3},
        {"RGBA 16", warpForegroundRgba16, 16, 4},
        {"RGB 16", warpForegroundRgb16, 16, 3},
        {"RGBA 8", warpForegroundRgba8, 8, 4},
        {"RGB 8", warpForegroundRgb8, 8, 3},
    };
    TestHost host;
    for (const ForegroundCase& fc : cases)
        for (int channels : {4, 3})
            for (bool identityPath : {true, false}) {
                SCOPED_TRACE(testing::Message() << fc.name << " into " << channels << " channels, "
                                                << (identityPath ? "identity" : "translation"));
                auto source = makeImage(&host, Rect{0, 0, 7, 5}, fc.bits, fc.sourceChannels, 3);
                kernel_test::fillRandom(*source, 21);
                if (fc.bits == 32) at<float>(*source, 6, 4)[0] = 3.25f;  // kept above 1
                const int dx = identityPath ? 0 : 2, dy = identityPath ? 0 : 1;
                // A destination one pixel wider than needed on each side, with a padded row, so
                // writes past a pixel's channels would show in its neighbour.
                auto destination = makeImage(&host, Rect{-1, 0, 10, 6}, fc.bits, channels, 5);
                fillUntouched(*destination);
                fc.launch(host, *destination, *source, translation(dx, dy));
                const double full = fc.bits == 32 ? 1.0 : fc.bits == 16 ? 65535 : 255;
                for (std::int32_t y = 0; y < 6; ++y)
                    for (std::int32_t x = -1; x < 10; ++x) {
                        const std::int32_t sx = x - dx, sy = y - dy;
                        if (sx < 0 || sx >= 7 || sy < 0 || sy >= 5) {
                            ASSERT_TRUE(untouched(*destination, x, y)) << x << "," << y;
                            continue;
                        }
                        for (int c = 0; c < channels; ++c) {
                            const double expected = c < 3 || fc.sourceChannels == 4
                                                        ? kernel_test::sample(*source, sx, sy, c)
                                                        : full;
                            ASSERT_EQ(kernel_test::sample(*destination, x, y, c), expected)
                                << x << "," << y << " channel " << c;
                        }
                    }
            }
}

TEST(WarpVariants, FractionalSamplesOfEveryDepthFollowTheField) {
    TestHost host;
    const Matrix3 m = make({1.2, 0.3, 4.6, -0.25, 1.1, 9.3, 0, 0, 1});
    const Rect sourceRect{0, 0, 21, 15};
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        auto source = makeImage(&host, sourceRect, bits, 3);
        fillField(*source);
        auto destination = makeImage(&host, Rect{0, 0, 40, 35}, bits, 4);
        fillUntouched(*destination);
        if (bits == 8) warpForegroundRgb8(host, *destination, *source, m);
        if (bits == 16) warpForegroundRgb16(host, *destination, *source, m);
        if (bits == 32) warpForegroundRgbFloat(host, *destination, *source, m);
        const Reference reference(m, sourceRect);
        const double unit = bits == 8 ? 257 : bits == 16 ? 1 : 65535;
        int drawn = 0;
        for (std::int32_t y = 0; y < 35; ++y)
            for (std::int32_t x = 0; x < 40; ++x) {
                const Reference::Point p = reference.at(x, y);
                if (p.borderline || !p.drawn) continue;
                ++drawn;
                for (int c = 0; c < 3; ++c) {
                    // 8-bit pixels hold the field / 257 truncated: up to one unit below before
                    // the sample's own truncation.
                    const double tolerance = bits == 8 ? 2.0 : bits == 16 ? 1.5 : 1e-5;
                    EXPECT_NEAR(kernel_test::sample(*destination, x, y, c),
                                field(p.u, p.v, c) / unit - (bits == 8 ? 0.5 : 0), tolerance)
                        << x << "," << y << " channel " << c;
                }
                EXPECT_EQ(kernel_test::sample(*destination, x, y, 3), bits == 8    ? 255
                                                                      : bits == 16 ? 65535
                                                                                   : 1.0);
            }
        EXPECT_GT(drawn, 200);
    }
}

// The warps sample four-channel blocks with vector arithmetic; each lane must be bit for bit the
// scalar sampler's channel, for weights formed as the warp forms them, the block's ends (fx or fy
// 0 and 1) and values at the top of the range included.
TEST(Bilinear, VectorSamplesAreTheScalarSamplersBitForBit) {
    std::mt19937 random(77);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    int differing = 0;
    for (int i = 0; i < 200000; ++i) {
        float fx = static_cast<float>(fraction(random)), fy = static_cast<float>(fraction(random));
        if (i % 7 == 0) fx = float(i % 2);
        if (i % 11 == 0) fy = float(i % 3 == 0);
        const float w00 = (1.0f - fy) * (1.0f - fx), w10 = (1.0f - fy) * fx,
                    w01 = fy * (1.0f - fx), w11 = fy * fx;
        std::uint8_t b[4][4];
        std::uint16_t h[4][4];
        float f[4][4];
        for (int p = 0; p < 4; ++p)
            for (int c = 0; c < 4; ++c) {
                const std::uint32_t r = random();
                b[p][c] = i % 5 == 0 ? 255 : static_cast<std::uint8_t>(r);
                h[p][c] = i % 5 == 0 ? 65535 : static_cast<std::uint16_t>(r >> 8);
                f[p][c] = static_cast<float>(r) / 3e9f - 0.2f;
            }
        std::uint8_t scalar8[4], vector8[4];
        bilinearRgba8(scalar8, b[0], b[1], b[2], b[3], w00, w10, w01, w11);
        warp_detail::sampleRgba8(vector8, b[0], b[1], b[2], b[3], w00, w10, w01, w11);
        differing += std::memcmp(scalar8, vector8, 4) != 0;
        std::uint16_t scalar16[4], vector16[4];
        bilinearRgba16(scalar16, h[0], h[1], h[2], h[3], w00, w10, w01, w11);
        warp_detail::sampleRgba16(vector16, h[0], h[1], h[2], h[3], w00, w10, w01, w11);
        differing += std::memcmp(scalar16, vector16, 8) != 0;
        float vectorFloat[4];
        _mm_storeu_ps(vectorFloat,
                      warp_detail::weightedSum(f[0], f[1], f[2], f[3], w00, w10, w01, w11));
        for (int c = 0; c < 4; ++c) {
            const float scalar =
                ((f[0][c] * w00 + f[1][c] * w10) + f[2][c] * w01) + f[3][c] * w11;
            differing += std::memcmp(&scalar, &vectorFloat[c], 4) != 0;
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(Bilinear, SamplersTruncateAndStayWithinTheBlock) {
    const float fx = 0.1f, fy = 0.1f;
    const float w00 = (1 - fy) * (1 - fx), w10 = (1 - fy) * fx, w01 = fy * (1 - fx), w11 = fy * fx;
    const std::uint8_t white8[4] = {255, 255, 255, 255};
    std::uint8_t out8[4];
    bilinearRgba8(out8, white8, white8, white8, white8, w00, w10, w01, w11);
    EXPECT_EQ(out8[0], 254);
    const std::uint16_t white16[4] = {65535, 65535, 65535, 65535};
    std::uint16_t out16[4];
    bilinearRgba16(out16, white16, white16, white16, white16, w00, w10, w01, w11);
    EXPECT_EQ(out16[3], 65534);
    // Each channel is interpolated from its own channel of the four pixels.
    const std::uint16_t p00[3] = {0, 100, 1000}, p10[3] = {100, 300, 1000},
                        p01[3] = {200, 100, 3000}, p11[3] = {300, 300, 3000};
    std::uint16_t rgb[3];
    bilinearRgb16(rgb, p00, p10, p01, p11, 0.25f, 0.25f, 0.25f, 0.25f);
    EXPECT_EQ(rgb[0], 150);
    EXPECT_EQ(rgb[1], 200);
    EXPECT_EQ(rgb[2], 2000);
    const std::uint8_t q00[3] = {10, 20, 30}, q10[3] = {20, 40, 60};
    std::uint8_t rgb8[3];
    bilinearRgb8(rgb8, q00, q10, q00, q10, 0.5f, 0.5f, 0.0f, 0.0f);
    EXPECT_EQ(rgb8[0], 15);
    EXPECT_EQ(rgb8[2], 45);
}

TEST(WarpVariants, RefuseImagesThatDoNotFit) {
    TestHost host;
    auto rgba16 = makeImage(&host, Rect{0, 0, 8, 8}, 16, 4);
    auto other16 = makeImage(&host, Rect{0, 0, 8, 8}, 16, 4);
    auto rgb16 = makeImage(&host, Rect{0, 0, 8, 8}, 16, 3);
    auto layer = makeImage(&host, Rect{0, 0, 8, 8}, 8, 4);
    auto twoChannels = makeImage(&host, Rect{0, 0, 8, 8}, 16, 2);
    auto far = makeImage(&host, Rect{20000000, 0, 20000008, 8}, 16, 4);
    const Matrix3 m = translation(0.5, 0.5);
    EXPECT_THROW(warpForegroundRgba16(host, *rgba16, *rgba16, m), Mav::Exception);  // same
    EXPECT_THROW(warpForegroundRgba16(host, *rgba16, *rgb16, m), Mav::Exception);   // 3 for 4
    EXPECT_THROW(warpForegroundRgb16(host, *rgba16, *other16, m), Mav::Exception);  // 4 for 3
    EXPECT_THROW(warpForegroundRgba8(host, *rgba16, *layer, m), Mav::Exception);    // depth
    EXPECT_THROW(warpLayerStraight16(host, *rgba16, *other16, m), Mav::Exception);  // not 8-bit
    EXPECT_THROW(warpForegroundRgba16(host, *twoChannels, *rgba16, m), Mav::Exception);
    EXPECT_THROW(warpForegroundRgba16(host, *rgba16, *far, m), Mav::Exception);
    // A source without pixels draws nothing.
    ImageBuffer none(&host);
    none.bitsPerChannel = 16;
    none.channels = 4;
    none.bounds = Rect{0, 0, 8, 8};
    fillUntouched(*rgba16);
    EXPECT_NO_THROW(warpForegroundRgba16(host, *rgba16, none, m));
    EXPECT_TRUE(untouched(*rgba16, 3, 3));
}

TEST(Warp, AnInterruptedWarpStopsAndReachesTheCaller) {
    TestHost host;
    host.interruptAfter = 2;
    auto source = makeImage(&host, Rect{0, 0, 50, 400}, 16, 4);
    auto destination = makeImage(&host, Rect{0, 0, 50, 400}, 16, 4);
    EXPECT_THROW(warpForegroundRgba16(host, *destination, *source, translation(0.5, 0.5)),
                 Mav::Interrupted);
}

}  // namespace
}  // namespace vantrelo
