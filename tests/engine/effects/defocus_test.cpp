#include "engine/effects/defocus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/effects/defocus_workers.h"
#include "matte_test_support.h"

namespace vantrelo {
namespace {

using matte_test::CountingAllocator;
using matte_test::randomSamples;

class Defocus : public matte_test::EngineSettings {};

// The one-line filter written straight from its recurrences, with whole forward and backward
// arrays: the oracle for the blocked, multi-lane filter of the passes.
std::vector<float> referenceLine(const std::vector<float>& x, int r) {
    const DefocusKernel k = defocusKernel(r);
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(x.size());
    std::vector<float> f(x.size()), b(x.size()), y(x.size());
    f[0] = x[0] * k.base;
    for (std::ptrdiff_t i = 1; i < n; ++i) {
        f[i] = (x[i] + f[i - 1]) * k.base;
        if (i >= r + 1) f[i] = f[i] - x[i - r - 1] * k.tailWeight;
    }
    b[n - 1] = x[n - 1] * k.base;
    for (std::ptrdiff_t i = n - 2; i >= 0; --i) {
        b[i] = (x[i] + b[i + 1]) * k.base;
        if (i <= n - 2 - r) b[i] = b[i] - x[i + r + 1] * k.tailWeight;
    }
    for (std::ptrdiff_t i = 0; i < n; ++i) y[i] = (f[i] + b[i]) * k.normaliser;
    return y;
}

std::uint16_t store16(float y) {
    if (y >= 65535.0f) return 65535;
    return y > 0.0f ? static_cast<std::uint16_t>(y) : 0;
}

std::vector<std::uint16_t> rgba(std::ptrdiff_t pixels, std::uint16_t r, std::uint16_t g, std::uint16_t b,
                                std::uint16_t a) {
    std::vector<std::uint16_t> image(static_cast<std::size_t>(pixels) * 4);
    for (std::ptrdiff_t i = 0; i < pixels; ++i) {
        image[i * 4] = r;
        image[i * 4 + 1] = g;
        image[i * 4 + 2] = b;
        image[i * 4 + 3] = a;
    }
    return image;
}

std::uint16_t alphaAt(const std::vector<std::uint16_t>& image, std::ptrdiff_t width, std::ptrdiff_t x,
                      std::ptrdiff_t y) {
    return image[(y * width + x) * 4 + 3];
}

TEST_F(Defocus, KernelConstantsFollowTheRadiusAndGiveUnitGain) {
    const DefocusKernel k10 = defocusKernel(10);
    EXPECT_FLOAT_EQ(k10.base, 0.72477967f);
    EXPECT_FLOAT_EQ(k10.tailWeight, 0.028991187f);
    EXPECT_NEAR(k10.sum, 2.5281144, 1e-7);
    EXPECT_FLOAT_EQ(k10.normaliser, 0.19777587f);
    const DefocusKernel k30 = defocusKernel(30);
    EXPECT_FLOAT_EQ(k30.base, 0.89825988f);
    EXPECT_FLOAT_EQ(k30.tailWeight, 0.035930399f);
    EXPECT_FLOAT_EQ(k30.normaliser, 0.058991443f);
    // A constant line comes back as itself in the steady state.
    for (int r : {1, 3, 10, 30}) {
        const DefocusKernel k = defocusKernel(r);
        EXPECT_NEAR(2.0 * k.sum * k.normaliser, 1.0, 1e-6) << r;
    }
}

// The alpha of `after` holds the one-line filter of each line of `before`'s alpha: sample i of
// line j is pixel j x lineStep + i x sampleStep.
void expectLinesFiltered(const std::vector<std::uint16_t>& before, const std::vector<std::uint16_t>& after,
                         std::ptrdiff_t lines, std::ptrdiff_t length, std::ptrdiff_t lineStep,
                         std::ptrdiff_t sampleStep, int radius) {
    for (std::ptrdiff_t j = 0; j < lines; ++j) {
        std::vector<float> line(static_cast<std::size_t>(length));
        for (std::ptrdiff_t i = 0; i < length; ++i) line[i] = before[(j * lineStep + i * sampleStep) * 4 + 3];
        const auto expected = referenceLine(line, radius);
        for (std::ptrdiff_t i = 0; i < length; ++i)
            ASSERT_EQ(after[(j * lineStep + i * sampleStep) * 4 + 3], store16(expected[i]))
                << "line " << j << " sample " << i;
    }
}

// Rows and columns of every length relative to the radius, line counts that are not multiples of
// the lane block, and the alpha channel of RGBA pixels: the passes agree with the one-line filter
// sample for sample, padding included, and never touch R, G or B.
TEST_F(Defocus, PassesAgreeWithTheLineFilter) {
    struct Case {
        std::ptrdiff_t length, lines;
        int radius;
    };
    for (const Case c : {Case{37, 13, 5}, Case{3, 9, 5}, Case{1, 2, 4}, Case{64, 17, 30}, Case{12, 8, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.length << " x " << c.lines << " radius " << c.radius);
        auto image = randomSamples<std::uint16_t>(static_cast<std::size_t>(c.length * c.lines * 4), 7, 0, 65535);
        const auto before = image;
        ASSERT_TRUE(doDefocusMaskX(image.data(), c.length, c.lines, c.length, c.lines, c.radius));
        // Rows: c.lines lines of c.length consecutive pixels.
        expectLinesFiltered(before, image, c.lines, c.length, c.length, 1, c.radius);
        for (std::size_t i = 0; i < image.size(); ++i)
            if (i % 4 != 3) {
                ASSERT_EQ(image[i], before[i]);
            }

        // The image seen as c.length columns of c.lines samples, c.length pixels apart.
        const auto afterX = image;
        ASSERT_TRUE(doDefocusMaskY(image.data(), c.length, c.lines, c.length, c.lines, c.radius));
        expectLinesFiltered(afterX, image, c.length, c.lines, 1, c.length, c.radius);
    }
}

TEST_F(Defocus, FloatAndByteAndColourPassesStoreByTheirOwnRules) {
    const int r = 3;
    std::vector<float> floats = {-40000.0f, 90000.0f, 10.0f, 70000.0f, 0.0f, 65535.0f, 5.0f, -3.0f, 123.0f};
    std::vector<float> pixels(floats.size() * 4, 7.0f);
    for (std::size_t i = 0; i < floats.size(); ++i) pixels[i * 4 + 3] = floats[i];
    ASSERT_TRUE(defocusMaskXFloat(pixels.data(), 9, 1, 9, 1, r));
    const auto expected = referenceLine(floats, r);
    for (std::size_t i = 0; i < floats.size(); ++i) {
        EXPECT_EQ(pixels[i * 4 + 3], expected[i]) << "float results are stored unclamped";
        EXPECT_EQ(pixels[i * 4], 7.0f);
    }

    std::vector<std::uint8_t> bytes = {255, 0, 255, 0, 255, 255, 255, 0, 0, 0, 17};
    std::vector<float> asFloat(bytes.begin(), bytes.end());
    ASSERT_TRUE(defocusMaskX8(bytes.data(), 11, 1, 11, r));
    const auto expected8 = referenceLine(asFloat, r);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], static_cast<std::uint8_t>(std::clamp(expected8[i], 0.0f, 255.0f)));

    // Colour passes: each of R, G and B filtered as its own line; alpha untouched.
    auto image = randomSamples<std::uint16_t>(20 * 4, 3, 0, 65535);
    const auto before = image;
    ASSERT_TRUE(defocusColourX16(image.data(), 20, 1, 20, r));
    for (int ch = 0; ch < 4; ++ch) {
        std::vector<float> line(20);
        for (int i = 0; i < 20; ++i) line[i] = before[i * 4 + ch];
        const auto e = referenceLine(line, r);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(image[i * 4 + ch], ch == 3 ? before[i * 4 + 3] : store16(e[i])) << ch << " " << i;
    }
}

// A driver done literally: a padded copy of whole pixels (edges repeated, corners zero), the X pass
// over every padded row, the Y pass over every padded column, the centre copied back.
template <class T, class PassX, class PassY>
std::vector<T> literalDefocus(const std::vector<T>& image, int channels, std::ptrdiff_t w, std::ptrdiff_t h, int r,
                              PassX passX, PassY passY) {
    const std::ptrdiff_t pw = w + 2 * r, ph = h + 2 * r;
    std::vector<T> padded(static_cast<std::size_t>(pw * ph * channels), T{0});
    for (std::ptrdiff_t py = 0; py < ph; ++py)
        for (std::ptrdiff_t px = 0; px < pw; ++px) {
            const bool rowOutside = py < r || py >= r + h, columnOutside = px < r || px >= r + w;
            if (rowOutside && columnOutside) continue;
            const std::ptrdiff_t sy = std::clamp<std::ptrdiff_t>(py - r, 0, h - 1);
            const std::ptrdiff_t sx = std::clamp<std::ptrdiff_t>(px - r, 0, w - 1);
            for (int c = 0; c < channels; ++c)
                padded[(py * pw + px) * channels + c] = image[(sy * w + sx) * channels + c];
        }
    EXPECT_TRUE(passX(padded.data(), pw, ph));
    EXPECT_TRUE(passY(padded.data(), pw, ph));
    std::vector<T> out(image.size());
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                out[(y * w + x) * channels + c] = padded[((y + r) * pw + x + r) * channels + c];
    return out;
}

std::vector<std::uint16_t> literalDefocus(const std::vector<std::uint16_t>& image, std::ptrdiff_t w,
                                          std::ptrdiff_t h, int r) {
    return literalDefocus(
        image, 4, w, h, r, [&](std::uint16_t* p, auto pw, auto ph) { return doDefocusMaskX(p, w, h, pw, ph, r); },
        [&](std::uint16_t* p, auto pw, auto ph) { return doDefocusMaskY(p, w, h, pw, ph, r); });
}

// The driver's own route (a plane of the matte alone, rows moved in 8 x 8 blocks, columns in wide
// runs, bands on workers) gives what the literal route gives.
TEST_F(Defocus, DriverMatchesTheLiteralPaddedRoute) {
    struct Case {
        std::ptrdiff_t w, h;
        int r;
    };
    for (const Case c : {Case{37, 23, 4}, Case{50, 40, 9}, Case{5, 3, 6}, Case{64, 17, 1}, Case{1, 1, 5},
                         Case{130, 9, 12}}) {
        auto image = randomSamples<std::uint16_t>(static_cast<std::size_t>(c.w * c.h * 4), 13, 0, 65535);
        for (std::ptrdiff_t i = 0; i < c.w * c.h; i += 3) image[i * 4 + 3] = 65535;
        const auto expected = literalDefocus(image, c.w, c.h, c.r);
        for (int workers : {1, 4}) {
            setWorkerThreadCount(workers);
            auto actual = image;
            ASSERT_TRUE(defocusMatte16(actual.data(), c.w, c.h, c.r, 0, 0.0f));
            EXPECT_EQ(actual, expected) << c.w << "x" << c.h << " r " << c.r << " on " << workers;
        }
    }
}

TEST_F(Defocus, OtherDriversMatchTheLiteralPaddedRoute) {
    const std::ptrdiff_t w = 29, h = 21;
    const int r = 5;
    const auto image = randomSamples<std::uint16_t>(static_cast<std::size_t>(w * h * 4), 17, 0, 65535);
    auto colour = image;
    ASSERT_TRUE(defocusColour16(colour.data(), w, h, r));
    EXPECT_EQ(colour, literalDefocus(
                          image, 4, w, h, r,
                          [&](std::uint16_t* p, auto pw, auto ph) { return defocusColourX16(p, w, ph, pw, r); },
                          [&](std::uint16_t* p, auto pw, auto ph) { return defocusColourY16(p, w, h, pw, ph, r); }));

    const auto bytes = randomSamples<std::uint8_t>(static_cast<std::size_t>(w * h * 3), 18, 0, 255);
    auto colour8 = bytes;
    ASSERT_TRUE(defocusColour8(colour8.data(), w, h, r));
    EXPECT_EQ(colour8, literalDefocus(
                           bytes, 3, w, h, r,
                           [&](std::uint8_t* p, auto pw, auto ph) { return defocusColourX8(p, w, ph, pw, r); },
                           [&](std::uint8_t* p, auto pw, auto ph) { return defocusColourY8(p, w, h, pw, ph, r); }));
    std::vector<std::uint8_t> matte8(bytes.begin(), bytes.begin() + w * h);
    auto soft8 = matte8;
    ASSERT_TRUE(defocusMatte8(soft8.data(), w, h, r, 0, 0.0f));
    EXPECT_EQ(soft8, literalDefocus(
                         matte8, 1, w, h, r,
                         [&](std::uint8_t* p, auto pw, auto ph) { return defocusMaskX8(p, w, ph, pw, r); },
                         [&](std::uint8_t* p, auto pw, auto ph) { return defocusMaskY8(p, w, h, pw, ph, r); }));

    const auto floats = randomSamples<float>(static_cast<std::size_t>(w * h * 4), 19, -0.5f, 3.0f);
    auto softF = floats;
    ASSERT_TRUE(defocusMatteFloat(1.0f, softF.data(), w, h, r, 0, 0.0f));
    EXPECT_EQ(softF, literalDefocus(
                         floats, 4, w, h, r,
                         [&](float* p, auto pw, auto ph) { return defocusMaskXFloat(p, w, h, pw, ph, r); },
                         [&](float* p, auto pw, auto ph) { return defocusMaskYFloat(p, w, h, pw, ph, r); }));
    auto colourF = floats;
    ASSERT_TRUE(defocusColourFloat(colourF.data(), w, h, r));
    EXPECT_EQ(colourF, literalDefocus(
                           floats, 4, w, h, r,
                           [&](float* p, auto pw, auto ph) { return defocusColourXFloat(p, w, ph, pw, r); },
                           [&](float* p, auto pw, auto ph) { return defocusColourYFloat(p, w, h, pw, ph, r); }));
}

TEST_F(Defocus, NeutralSettingsLeaveTheImageAndAllocateNothing) {
    auto image = randomSamples<std::uint16_t>(6 * 5 * 4, 1, 0, 65535);
    const auto before = image;
    EXPECT_TRUE(defocusMatte16(image.data(), 6, 5, 0, 1, 0.0f));
    EXPECT_TRUE(defocusColour16(image.data(), 6, 5, 0));
    EXPECT_TRUE(defocusMatte16(image.data(), 0, 5, 8, 1, 0.5f));
    EXPECT_EQ(image, before);
    EXPECT_EQ(CountingAllocator::allocations, 0);
    EXPECT_FALSE(defocusMatte16(nullptr, 6, 5, 3, 0, 0.0f));
    EXPECT_FALSE(defocusMatte16(image.data(), -6, 5, 3, 0, 0.0f));
}

// The shrink remaps matte values one by one: g = shrink x 65535 and below becomes 0 and the rest
// is stretched by 65536 / (65536 - g).  It does not move an edge: every pixel's result depends on
// its own value only.
TEST_F(Defocus, ShrinkRemapsValuesNotPositions) {
    struct Case {
        float shrink;
        std::uint16_t in, out;
    };
    const Case cases[] = {
        {0.5f, 65535, 65534}, {0.5f, 32768, 1}, {0.5f, 32767, 0}, {0.5f, 0, 0},
        {1.0f, 65535, 0},     {1.0f, 100, 0},   {0.25f, 65535, 65535},
        {2.0f, 65535, 0},     {-0.5f, 0, 0},  // outside 0..1 the shrink is clamped to it
    };
    for (const Case& c : cases) {
        // The value sits in a sharp edge between 0 and full scale; after the shrink the edge is
        // still between the same two pixels.
        std::vector<std::uint16_t> image = rgba(4, 9, 8, 7, 0);
        image[1 * 4 + 3] = c.in;
        image[2 * 4 + 3] = 65535;
        image[3 * 4 + 3] = 65535;
        ASSERT_TRUE(defocusMatte16(image.data(), 4, 1, 0, 0, c.shrink));
        EXPECT_EQ(image[1 * 4 + 3], c.out) << "shrink " << c.shrink << " of " << c.in;
        EXPECT_EQ(image[0 * 4 + 3], 0);
        const std::uint16_t full = image[2 * 4 + 3];
        EXPECT_EQ(image[3 * 4 + 3], full);
        EXPECT_EQ(image[0], 9);
    }
}

// At radius 20 the push factor is 1: after the blur, v becomes 2v - 65535, 32767 and below 0.
TEST_F(Defocus, PushAtRadiusTwentyDoublesTheDistanceFromFullScale) {
    const std::ptrdiff_t w = 48, h = 30;
    std::vector<std::uint16_t> image = rgba(w * h, 1, 2, 3, 0);
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x) image[(y * w + x) * 4 + 3] = x < w / 2 ? 65535 : 0;
    auto blurred = image;
    ASSERT_TRUE(defocusMatte16(blurred.data(), w, h, 20, 0, 0.0f));
    ASSERT_TRUE(defocusMatte16(image.data(), w, h, 20, 1, 0.0f));
    int pushedValues = 0;
    for (std::ptrdiff_t i = 0; i < w * h; ++i) {
        const int v = blurred[i * 4 + 3];
        const int expected = std::max(0, 2 * v - 65535);
        ASSERT_EQ(image[i * 4 + 3], expected) << i;
        pushedValues += v > 32767 && v < 65535;
    }
    EXPECT_GT(pushedValues, 0) << "the edge has softened values to push";
}

TEST_F(Defocus, PushAndShrinkTogetherRoundOnceEach) {
    // r = 10: o = 0.5, g = 0.25 x 65535; u = v + trunc((v - 65535) o + 0.5), then
    // trunc((u - g) h + 0.5), one clamp at the end.
    const std::ptrdiff_t w = 41, h = 41;
    std::vector<std::uint16_t> image = rgba(w * h, 0, 0, 0, 0);
    for (std::ptrdiff_t i = 0; i < w * h; ++i) image[i * 4 + 3] = static_cast<std::uint16_t>(40000 + (i % 7) * 3000);
    auto blurred = image;
    ASSERT_TRUE(defocusMatte16(blurred.data(), w, h, 10, 0, 0.0f));
    ASSERT_TRUE(defocusMatte16(image.data(), w, h, 10, 1, 0.25f));
    const float g = 0.25f * 65535.0f, hh = 65536.0f / (65536.0f - g);
    for (std::ptrdiff_t i = 0; i < w * h; ++i) {
        const int v = blurred[i * 4 + 3];
        const int u = v + static_cast<int>(static_cast<float>(v - 65535) * 0.5f + 0.5f);
        const float x = (static_cast<float>(u) - g) * hh + 0.5f;
        ASSERT_EQ(image[i * 4 + 3], x <= 0.0f ? 0 : std::min(65535, static_cast<int>(x))) << i;
    }

    // Radius 20 and shrink 0.5 on an opaque matte: the push keeps u = 65535, and the shrink's
    // trunc((65535 - 32767.5) x 65536 / 32768.5 + 0.5) = trunc(65534.00003 + 0.5) is one below
    // full scale, as the shrink alone gives it; not a rounding fault.
    std::vector<std::uint16_t> opaque = rgba(w * h, 0, 0, 0, 65535);
    ASSERT_TRUE(defocusMatte16(opaque.data(), w, h, 20, 1, 0.5f));
    EXPECT_EQ(alphaAt(opaque, w, w / 2, h / 2), 65534);
}

// Repeated edges and zero corners: a uniform opaque matte keeps full scale in the middle of every
// edge, while its corner pixels sink, the further the larger the radius.
TEST_F(Defocus, CornersSinkAndEdgesHoldOnAnOpaqueMatte) {
    const std::ptrdiff_t w = 64, h = 48;
    int previousCorner = 65535;
    for (int r : {3, 8, 20}) {
        std::vector<std::uint16_t> image = rgba(w * h, 5, 6, 7, 65535);
        ASSERT_TRUE(defocusMatte16(image.data(), w, h, r, 0, 0.0f));
        EXPECT_EQ(alphaAt(image, w, w / 2, 0), 65535) << r;
        EXPECT_EQ(alphaAt(image, w, 0, h / 2), 65535) << r;
        EXPECT_EQ(alphaAt(image, w, w / 2, h / 2), 65535) << r;
        EXPECT_EQ(alphaAt(image, w, w - 1, h / 2), 65535) << r;
        const int corner = alphaAt(image, w, 0, 0);
        EXPECT_LT(corner, previousCorner) << r;
        EXPECT_EQ(alphaAt(image, w, w - 1, h - 1), corner) << "the padding is symmetric";
        previousCorner = corner;
        for (std::ptrdiff_t i = 0; i < w * h; ++i) ASSERT_EQ(image[i * 4 + 1], 6) << "colour is kept";
    }
}

TEST_F(Defocus, SinglePixelKeepsItsColour) {
    std::vector<std::uint16_t> image = {1000, 2000, 3000, 40000};
    ASSERT_TRUE(defocusMatte16(image.data(), 1, 1, 5, 0, 0.0f));
    EXPECT_EQ(image[0], 1000);
    EXPECT_EQ(image[1], 2000);
    EXPECT_EQ(image[2], 3000);
    EXPECT_LT(image[3], 40000) << "the zero corners of the 11 x 11 padding pull it down";
}

// The passes split over 2, 3 and 8 workers (bands of uneven size, bands of fewer lines than the
// lane block) give the single-threaded result bit for bit.
TEST_F(Defocus, WorkersGiveTheSingleThreadResult) {
    struct Case {
        std::ptrdiff_t w, h;
        int r, inward;
        float shrink;
    };
    for (const Case c : {Case{37, 23, 4, 1, 0.2f}, Case{9, 9, 1, 0, 0.0f}, Case{70, 11, 12, 0, 0.6f},
                         Case{2, 3, 6, 1, 0.0f}}) {
        auto source = randomSamples<std::uint16_t>(static_cast<std::size_t>(c.w * c.h * 4), 11, 0, 65535);
        for (std::ptrdiff_t i = 0; i < c.w * c.h / 3; ++i) source[i * 4 + 3] = 65535;  // an opaque part
        setWorkerThreadCount(1);
        auto single = source;
        ASSERT_TRUE(defocusMatte16(single.data(), c.w, c.h, c.r, c.inward, c.shrink));
        for (int workers : {2, 3, 8}) {
            setWorkerThreadCount(workers);
            auto threaded = source;
            ASSERT_TRUE(defocusMatte16(threaded.data(), c.w, c.h, c.r, c.inward, c.shrink));
            EXPECT_EQ(threaded, single) << c.w << "x" << c.h << " on " << workers;
        }
    }
}

TEST_F(Defocus, WorkersSplitRowsThenColumns) {
    std::vector<std::uint16_t> image(31 * 50 * 4), plane(61 * 80);
    const Matte16Defocus job{image.data(), 31, 50, 15, defocusKernel(15), plane.data(), nullptr};
    doDefocusMaskX_VantThread x(2, 3, job, nullptr);
    EXPECT_EQ(x.bandStart(), 32);
    EXPECT_EQ(x.bandCount(), 18);
    EXPECT_EQ(x.width(), 61);
    EXPECT_TRUE(x.byRows());
    doDefocusMaskY_VantThread y(0, 4, job, nullptr);
    EXPECT_EQ(y.bandStart(), 0);
    EXPECT_EQ(y.bandCount(), 7);
    EXPECT_EQ(y.height(), 80);
    EXPECT_FALSE(y.byRows());
}

// A scratch block that cannot be had leaves the image exactly as it was, on every allocation of
// every driver, threaded or not.
TEST_F(Defocus, FailedAllocationLeavesTheImageUntouched) {
    const std::ptrdiff_t w = 20, h = 14;
    const auto source = randomSamples<std::uint16_t>(static_cast<std::size_t>(w * h * 4), 9, 0, 65535);
    const auto source8 = randomSamples<std::uint8_t>(static_cast<std::size_t>(w * h * 3), 9, 0, 255);
    auto sourceF = randomSamples<float>(static_cast<std::size_t>(w * h * 4), 9, 0.0f, 1.0f);
    for (int workers : {1, 4}) {
        setWorkerThreadCount(workers);
        for (int failAt = 0; failAt < 12; ++failAt) {
            auto image = source;
            auto image8 = source8;
            auto imageF = sourceF;
            failAllocationsFrom(failAt);
            EXPECT_TRUE(defocusMatte16(image.data(), w, h, 4, 1, 0.3f) || image == source) << failAt;
            image = source;
            failAllocationsFrom(failAt);
            EXPECT_TRUE(defocusColour16(image.data(), w, h, 3) || image == source);
            failAllocationsFrom(failAt);
            EXPECT_TRUE(defocusMatte8(image8.data(), w, h, 3, 0, 0.1f) || image8 == source8);
            image8 = source8;
            failAllocationsFrom(failAt);
            EXPECT_TRUE(defocusColour8(image8.data(), w, h / 3, 3) || image8 == source8);
            failAllocationsFrom(failAt);
            EXPECT_TRUE(defocusMatteFloat(1.0f, imageF.data(), w, h, 3, 1, 0.1f) || imageF == sourceF);
            allowAllocations();
        }
    }
    // With workers, a pass whose band scratch is refused runs on the calling thread instead.
    setWorkerThreadCount(1);
    auto single = source;
    ASSERT_TRUE(defocusMatte16(single.data(), w, h, 4, 1, 0.3f));
    // Any one refused block either stops the call with the image untouched or, for the band
    // scratch of either pass, is recovered from on the calling thread.
    setWorkerThreadCount(4);
    int recovered = 0;
    for (int failAt = 0; failAt < 12; ++failAt) {
        auto threaded = source;
        failAllocation(failAt);
        if (defocusMatte16(threaded.data(), w, h, 4, 1, 0.3f)) {
            EXPECT_EQ(threaded, single) << failAt;
            ++recovered;
        } else {
            EXPECT_EQ(threaded, source) << failAt;
        }
    }
    EXPECT_GE(recovered, 12 - 3) << "only the re-level table, the padded plane and one scratch block are "
                                    "essential: the bands' scratch can be done without";
    failAllocationsFrom(0);
    auto image = source;
    EXPECT_FALSE(defocusMatte16(image.data(), w, h, 4, 0, 0.0f));
    EXPECT_FALSE(defocusColourFloat(sourceF.data(), w, h, 2));
    EXPECT_EQ(image, source);
}

TEST_F(Defocus, ColourBlurKeepsAlphaAndUniformColour) {
    const std::ptrdiff_t w = 40, h = 30;
    std::vector<std::uint16_t> image = rgba(w * h, 30000, 20000, 10000, 0);
    for (std::ptrdiff_t i = 0; i < w * h; ++i) image[i * 4 + 3] = static_cast<std::uint16_t>(i * 37);
    const auto before = image;
    ASSERT_TRUE(defocusColour16(image.data(), w, h, 5));
    for (std::ptrdiff_t i = 0; i < w * h; ++i) ASSERT_EQ(image[i * 4 + 3], before[i * 4 + 3]);
    // Away from the corners a uniform colour stays, give or take the truncation of each pass.
    EXPECT_NEAR(image[(15 * w + 20) * 4 + 0], 30000, 2);
    EXPECT_NEAR(image[(15 * w + 20) * 4 + 2], 10000, 2);
    EXPECT_LT(image[0], 29000) << "the zero corner pulls the corner pixel down";

    // 8-bit colour: three-byte pixels, every byte blurred.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h * 3), 200);
    ASSERT_TRUE(defocusColour8(bytes.data(), w, h, 4));
    EXPECT_NEAR(bytes[(15 * w + 20) * 3 + 1], 200, 2);
    EXPECT_LT(bytes[0], 195);
}

TEST_F(Defocus, FloatMatteRelevelsOnTheSixteenBitScale) {
    // maxValue 1: values are scaled to 0..65535, re-levelled without +0.5 terms, scaled back.
    const float toFloat = 1.0f * 1.5259022e-05f;
    std::vector<float> image = {0, 0, 0, 1.0f, 0, 0, 0, 0.75f, 0, 0, 0, 0.25f};
    ASSERT_TRUE(defocusMatteFloat(1.0f, image.data(), 3, 1, 0, 0, 0.5f));
    const float g = 0.5f * 65535.0f, hh = 65536.0f / (65536.0f - g);
    EXPECT_EQ(image[3], std::trunc((65535.0f - g) * hh) * toFloat);
    EXPECT_EQ(image[7], std::trunc((0.75f * 65535.0f - g) * hh) * toFloat);
    EXPECT_EQ(image[11], 0.0f);

    // The blur itself keeps a uniform float matte in the middle and stores no clamp.
    std::vector<float> uniform(24 * 24 * 4, 2.0f);
    ASSERT_TRUE(defocusMatteFloat(2.0f, uniform.data(), 24, 24, 3, 0, 0.0f));
    EXPECT_NEAR(uniform[(12 * 24 + 12) * 4 + 3], 2.0f, 1e-5f);
    EXPECT_FALSE(defocusMatteFloat(0.0f, uniform.data(), 24, 24, 3, 0, 0.0f));
}

TEST_F(Defocus, ByteMattePushesAndShrinksInTwoClampedSteps) {
    struct Case {
        int radius, inward;
        float shrink;
        std::uint8_t in, out;
    };
    const Case cases[] = {
        {0, 0, 0.5f, 255, 254},  // (255 - 127.5) x 256 / 128.5
        {0, 0, 0.5f, 200, 144},  {0, 0, 0.5f, 128, 0}, {0, 0, 1.0f, 255, 0},
        {0, 0, 3.0f, 255, 0},    // beyond full shrink: clamped, never a division by zero
        {0, 1, 0.0f, 77, 77},    // radius 0 and shrink 0: nothing to do, push or not
        {0, 1, 0.5f, 200, 144},  // radius 0 pushes by nothing
    };
    for (const Case& c : cases) {
        std::uint8_t matte[2] = {c.in, c.in};
        ASSERT_TRUE(defocusMatte8(matte, 2, 1, c.radius, c.inward, c.shrink));
        EXPECT_EQ(matte[0], c.out) << c.radius << " " << c.inward << " " << c.shrink << " " << int(c.in);
    }
    // At radius 20 the push alone maps v to 2v - 255 after the blur.
    std::vector<std::uint8_t> edge(40 * 20), blurred;
    for (int i = 0; i < 40 * 20; ++i) edge[i] = (i % 40) < 20 ? 255 : 0;
    blurred = edge;
    ASSERT_TRUE(defocusMatte8(blurred.data(), 40, 20, 20, 0, 0.0f));
    ASSERT_TRUE(defocusMatte8(edge.data(), 40, 20, 20, 1, 0.0f));
    for (int i = 0; i < 40 * 20; ++i) ASSERT_EQ(edge[i], std::max(0, 2 * blurred[i] - 255)) << i;
}

}  // namespace
}  // namespace vantrelo
