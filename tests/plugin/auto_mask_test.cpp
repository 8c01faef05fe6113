// The auto-mask: the colour tests and seed fills that find the backdrop, the detection on a
// synthetic green-screen photograph (backdrop colour, sure regions, the key they shape), its
// failures, and when the plug-in's analysis step runs it.

#include <gtest/gtest.h>

#include <wx/image.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/effects/auto_key.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/processing.h"
#include "engine/keying/sampling_tools.h"
#include "kernels/convert_image.h"
#include "plugin/auto_mask.h"
#include "plugin/key_state_set.h"
#include "tests/plugin/adapter_test_support.h"
#include "tests/plugin/plugin_test_support.h"

namespace vantrelo::plugin_test {
namespace {

namespace fs = std::filesystem;

using Colour = std::array<std::uint16_t, 4>;

// ---- Colour tests ----

TEST(AutoMaskColour, NearGreyIsASpreadUnderATwentiethOfTheBrightestChannel) {
    struct Case {
        Colour colour;
        bool grey;
    };
    const Case cases[] = {
        {{30000, 30500, 31000, 0}, true},   // spread 1000 < 1550
        {{100, 104, 100, 0}, true},         // 4 < 104 / 20 = 5
        {{100, 105, 100, 0}, false},        // 5 < 105 / 20 = 5 fails: integer division
        {{1053, 1000, 1000, 0}, false},     // red brightest
        {{1000, 1000, 1051, 65535}, true},  // 51 < 52; alpha is not a channel of the test
        {{0, 0, 0, 65535}, false},          // black: 0 < 0 is false
        {{9000, 41000, 15000, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.colour));
        EXPECT_EQ(isNearGrey(c.colour.data()), c.grey);
    }
}

TEST(AutoMaskColour, SeedMatchIsCloseInHueAndBrightnessWithoutWrapAround) {
    struct Case {
        Colour seed;
        Colour pixel;
        bool match;
    };
    const Case cases[] = {
        // Pure green has hue 1/3; blue b moves it by b / 240000, the limit 1/36 lies at 6666.7.
        {{0, 40000, 0, 0}, {0, 40000, 6666, 0}, true},
        {{0, 40000, 0, 0}, {0, 40000, 6667, 0}, false},
        // Brightness within 6553.5 of the seed's.
        {{10000, 40000, 12000, 0}, {10000, 46553, 12000, 0}, true},
        {{10000, 40000, 12000, 0}, {10000, 46554, 12000, 0}, false},
        {{10000, 40000, 12000, 0}, {10000, 33447, 12000, 0}, true},
        // A red of hue 0.99 is far from a red of hue 0.01: no wrap-around at the ends.
        {{60000, 0, 3600, 0}, {60000, 3600, 0, 0}, false},
        {{60000, 0, 3600, 0}, {60000, 0, 3000, 0}, true},
        // Black: hue 0 and brightness 0; dark reds and near-black greys join, dark greens do not.
        {{0, 0, 0, 0}, {5000, 0, 0, 0}, true},
        {{0, 0, 0, 0}, {100, 100, 100, 0}, true},
        {{0, 0, 0, 0}, {6554, 0, 0, 0}, false},
        {{0, 0, 0, 0}, {0, 5000, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.seed) + " " + testing::PrintToString(c.pixel));
        std::uint16_t list[4] = {1, 2, 3, 4};
        AutoMaskAccumulator accumulator;
        accumulator.samples = list;
        EXPECT_EQ(matchesSeedColour(accumulator, c.seed.data(), c.pixel.data()), c.match);
        EXPECT_EQ(accumulator.count, c.match ? 1u : 0u);
        if (c.match) {
            EXPECT_EQ(std::memcmp(list, c.pixel.data(), sizeof list), 0);
        }
    }
}

TEST(AutoMaskColour, MatchesAddAllFourChannelsToTheSumsAndTheList) {
    const Colour seed{9000, 41000, 15000, 100};
    const Colour a{9100, 41200, 15050, 60001};
    const Colour b{8900, 40800, 14900, 3};
    std::uint16_t list[8] = {};
    AutoMaskAccumulator accumulator;
    accumulator.samples = list;
    ASSERT_TRUE(matchesSeedColour(accumulator, seed.data(), a.data()));
    ASSERT_TRUE(matchesSeedColour(accumulator, seed.data(), b.data()));
    EXPECT_EQ(accumulator.count, 2u);
    EXPECT_EQ(accumulator.sum[0], 18000.0);
    EXPECT_EQ(accumulator.sum[1], 82000.0);
    EXPECT_EQ(accumulator.sum[2], 29950.0);
    EXPECT_EQ(accumulator.sum[3], 60004.0);
    const std::uint16_t expected[8] = {9100, 41200, 15050, 60001, 8900, 40800, 14900, 3};
    EXPECT_EQ(std::memcmp(list, expected, sizeof list), 0);
}

// ---- Seed fills ----

// An image drawn from text: '#' and 'x' a green of the backdrop, '.' an orange; every pixel's
// channels differ a little with its position, all within the fill's tolerance.
struct TextImage {
    explicit TextImage(const std::vector<std::string>& rows)
        : width(static_cast<int>(rows[0].size())), height(static_cast<int>(rows.size())),
          pixels(static_cast<std::size_t>(width * height) * 4) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint16_t* p = at(x, y);
                const bool green = rows[y][x] != '.';
                p[0] = static_cast<std::uint16_t>((green ? 9000 : 52000) + 11 * x + 3 * y);
                p[1] = static_cast<std::uint16_t>((green ? 41000 : 31000) + 17 * x + 29 * y);
                p[2] = static_cast<std::uint16_t>((green ? 15000 : 21000) + 5 * x + 19 * y);
                p[3] = static_cast<std::uint16_t>(1000 + 7 * x + 13 * y);
            }
    }
    std::uint16_t* at(int x, int y) { return pixels.data() + 4 * (y * width + x); }

    int width;
    int height;
    std::vector<std::uint16_t> pixels;
};

bool maskBit(const std::vector<std::uint8_t>& mask, std::ptrdiff_t rowBytes, int x, int y) {
    return (mask[y * rowBytes + x / 8] & (0x80 >> (x % 8))) != 0;
}

TEST(AutoMaskSeedFill, FillsTheFourWayConnectedRegionOfTheSeedsColour) {
    // A snake that the fill can only follow with forward and backward sweeps; the x pixels have
    // the seed's colour but touch the snake at most diagonally.
    const std::vector<std::string> rows = {
        "#######...x",
        "......#..x.",
        ".######....",
        ".#.....x...",
        ".#.........",
        ".#####.....",
    };
    TextImage image(rows);
    const std::ptrdiff_t maskRowBytes = 3;  // one byte more than a row of 11 pixels needs
    std::vector<std::uint8_t> mask(maskRowBytes * image.height, 0xaa);
    std::vector<std::uint16_t> list(image.pixels.size() * 2);
    AutoMaskAccumulator accumulator;
    accumulator.samples = list.data();
    seedFillMask(mask.data(), maskRowBytes, image.pixels.data(), 8 * image.width,
                 SpanRect{0, image.width, 0, image.height}, 0, 0, accumulator);

    double sums[4] = {0, 0, 0, 0};
    std::uint64_t count = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            SCOPED_TRACE(testing::Message() << x << ", " << y);
            const bool inside = rows[y][x] == '#';
            EXPECT_EQ(maskBit(mask, maskRowBytes, x, y), inside);
            if (inside && (x != 0 || y != 0)) {  // the seed is the reference, not a sample
                ++count;
                for (int c = 0; c < 4; ++c) sums[c] += image.at(x, y)[c];
            }
        }
        // The padding bits of the row are cleared, the byte past the row is not touched.
        EXPECT_EQ(mask[y * maskRowBytes + 1] & 0x1f, 0);
        EXPECT_EQ(mask[y * maskRowBytes + 2], 0xaa);
    }
    EXPECT_EQ(accumulator.count, 20u);
    EXPECT_EQ(accumulator.count, count);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(accumulator.sum[c], sums[c]) << c;
}

TEST(AutoMaskSeedFill, PixelsJoinInTheOrderOfTheSweeps) {
    // Which pixels the thinning keeps depends on this order: forward sweeps reach right and down
    // from the seed, backward sweeps left and up.
    TextImage image({"#####", "#####", "#####", "#####"});
    std::vector<std::uint8_t> mask(image.height, 0);
    std::vector<std::uint16_t> list(image.pixels.size() * 2);
    AutoMaskAccumulator accumulator;
    accumulator.samples = list.data();
    seedFillMask(mask.data(), 1, image.pixels.data(), 8 * image.width,
                 SpanRect{0, image.width, 0, image.height}, 2, 1, accumulator);
    const int order[][2] = {{3, 1}, {4, 1}, {2, 2}, {3, 2}, {4, 2}, {2, 3}, {3, 3},
                            {4, 3}, {1, 3}, {0, 3}, {1, 2}, {0, 2}, {1, 1}, {0, 1},
                            {4, 0}, {3, 0}, {2, 0}, {1, 0}, {0, 0}};
    ASSERT_EQ(accumulator.count, std::size(order));
    for (std::size_t i = 0; i < std::size(order); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::memcmp(list.data() + 4 * i, image.at(order[i][0], order[i][1]), 8), 0);
    }
}

// A model of the fill: every row swept forward, then backward, until a pair sets nothing.
void modelSeedFill(const std::vector<std::uint16_t>& pixels, std::int64_t width, SpanRect rect,
                   std::int64_t seedX, std::int64_t seedY, std::vector<bool>& filled,
                   std::vector<std::uint16_t>& order) {
    const auto at = [&](std::int64_t x, std::int64_t y) {
        return pixels.data() + 4 * (y * width + x);
    };
    const auto index = [&](std::int64_t x, std::int64_t y) {
        return static_cast<std::size_t>((y - rect.y0) * (rect.x1 - rect.x0) + (x - rect.x0));
    };
    filled.assign(static_cast<std::size_t>((rect.x1 - rect.x0) * (rect.y1 - rect.y0)), false);
    filled[index(seedX, seedY)] = true;
    AutoMaskAccumulator probe;
    std::vector<std::uint16_t> scratch(4);
    auto tryJoin = [&](std::int64_t x, std::int64_t y, bool reached) {
        probe.samples = scratch.data();
        probe.count = 0;
        if (filled[index(x, y)] || !reached ||
            !matchesSeedColour(probe, at(seedX, seedY), at(x, y)))
            return false;
        filled[index(x, y)] = true;
        order.insert(order.end(), at(x, y), at(x, y) + 4);
        return true;
    };
    for (bool changed = true; changed;) {
        changed = false;
        for (std::int64_t y = rect.y0; y < rect.y1; ++y)
            for (std::int64_t x = rect.x0; x < rect.x1; ++x)
                changed |= tryJoin(x, y, (x > rect.x0 && filled[index(x - 1, y)]) ||
                                             (y > rect.y0 && filled[index(x, y - 1)]));
        for (std::int64_t y = rect.y1 - 1; y >= rect.y0; --y)
            for (std::int64_t x = rect.x1 - 1; x >= rect.x0; --x)
                changed |= tryJoin(x, y, (x < rect.x1 - 1 && filled[index(x + 1, y)]) ||
                                             (y < rect.y1 - 1 && filled[index(x, y + 1)]));
    }
}

TEST(AutoMaskSeedFill, AWindingRegionInsideAnOffsetRectangleFillsAsRowByRowSweepsWould) {
    // Random walls, most of them thin, so the fill winds back and forth and needs many sweeps;
    // the matching colours vary a little around the seed's, and the rectangle leaves a margin.
    const std::int64_t width = 61, height = 43;
    const SpanRect rect{3, 58, 2, 40};
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(4 * width * height));
    std::uint32_t noise = 99;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return noise >> 9;
    };
    for (std::int64_t y = 0; y < height; ++y)
        for (std::int64_t x = 0; x < width; ++x) {
            std::uint16_t* p = pixels.data() + 4 * (y * width + x);
            const bool wall = (y % 4 == 1 && x % 17 != (y / 4 * 7) % 17) || next() % 7 == 0;
            const Colour colour = wall ? Colour{41000, 9000, 15000, 65535}
                                       : Colour{9000, 41000, 15000, 65535};
            for (int c = 0; c < 4; ++c)
                p[c] = static_cast<std::uint16_t>(colour[c] - (c < 3 ? next() % 900 : 0));
        }
    const std::int64_t seedX = 31, seedY = 22;
    std::vector<bool> expected;
    std::vector<std::uint16_t> expectedOrder;
    modelSeedFill(pixels, width, rect, seedX, seedY, expected, expectedOrder);
    ASSERT_GT(expectedOrder.size(), 4u * 400u);

    const std::ptrdiff_t maskRowBytes = (rect.x1 - rect.x0 + 7) / 8;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskRowBytes * (rect.y1 - rect.y0)));
    std::vector<std::uint16_t> list(pixels.size());
    AutoMaskAccumulator accumulator;
    accumulator.samples = list.data();
    seedFillMask(mask.data(), maskRowBytes, pixels.data(), 8 * width, rect, seedX, seedY,
                 accumulator);
    ASSERT_EQ(4 * accumulator.count, expectedOrder.size());
    EXPECT_TRUE(std::equal(expectedOrder.begin(), expectedOrder.end(), list.begin()));
    for (std::int64_t y = rect.y0; y < rect.y1; ++y)
        for (std::int64_t x = rect.x0; x < rect.x1; ++x)
            ASSERT_EQ(maskBit(mask, maskRowBytes, static_cast<int>(x - rect.x0),
                              static_cast<int>(y - rect.y0)),
                      expected[static_cast<std::size_t>((y - rect.y0) * (rect.x1 - rect.x0) +
                                                        (x - rect.x0))])
                << x << ", " << y;
}

TEST(AutoMaskSeedFill, EveryFillStartsFromAClearMaskAndASeedOutsideFillsNothing) {
    TextImage image({"##.##", "##.##", "##.##"});
    const SpanRect all{0, image.width, 0, image.height};
    std::vector<std::uint8_t> mask(image.height, 0xff);
    std::vector<std::uint16_t> list(image.pixels.size() * 2);
    AutoMaskAccumulator accumulator;
    accumulator.samples = list.data();

    seedFillMask(mask.data(), 1, image.pixels.data(), 8 * image.width, all, 5, 0, accumulator);
    EXPECT_EQ(mask, std::vector<std::uint8_t>(3, 0));
    EXPECT_EQ(accumulator.count, 0u);

    // Left half, then the right half with the same accumulator: the mask shows only the second.
    seedFillMask(mask.data(), 1, image.pixels.data(), 8 * image.width, all, 0, 0, accumulator);
    EXPECT_EQ(mask, std::vector<std::uint8_t>(3, 0xc0));
    seedFillMask(mask.data(), 1, image.pixels.data(), 8 * image.width, all, 4, 2, accumulator);
    EXPECT_EQ(mask, std::vector<std::uint8_t>(3, 0x18));
    EXPECT_EQ(accumulator.count, 10u);
}

// ---- The steps of the detection ----

TEST(AutoMaskSteps, FirstKeyStartsFromTheColourAndTakesEverySixteenthFillSample) {
    initPolyhedronTables();
    KeyStateSet states;
    states.reset();
    // A grey colour gets the engine's grey start, any other the start by its hue.
    for (const Colour& colour :
         {Colour{30000, 30500, 31000, 65535}, Colour{9000, 41000, 15000, 65535}}) {
        SCOPED_TRACE(testing::PrintToString(colour));
        std::vector<std::uint16_t> fill;
        for (int i = 0; i < 40; ++i)
            for (int v : {colour[0] + 40 * i - 700, colour[1] + 35 * i - 600,
                          colour[2] - 30 * i + 500, 1000 + i})
                fill.push_back(static_cast<std::uint16_t>(v));
        // One sample far out, beyond the fresh key's middle polyhedron: the inner one grows past
        // it there and the nesting must take the middle and outer ones along.
        fill[4 * 16 + 0] = static_cast<std::uint16_t>(colour[0] - 5000);
        fill[4 * 16 + 1] = static_cast<std::uint16_t>(colour[1] + 20000);
        fill[4 * 16 + 2] = static_cast<std::uint16_t>(colour[2] - 9000);
        const std::vector<std::uint16_t> original = fill;

        KeyState state = states.keyState;
        startFirstKey(colour.data(), fill.data(), 40, &state);

        KeyState expected = states.keyState;
        if (isNearGrey(colour.data())) {
            ASSERT_TRUE(setBackdropColour(colour.data(), &expected));
        } else {
            ASSERT_TRUE(selectBackdropColour(colour.data(), &expected));
        }
        std::vector<std::uint16_t> thinned;
        for (int i : {0, 16, 32})
            thinned.insert(thinned.end(), &original[4 * i], &original[4 * i + 4]);
        EXPECT_TRUE(std::equal(thinned.begin(), thinned.end(), fill.begin()));
        growInnerToSamples(thinned.data(), 3, 1, &expected);
        enforceNesting(0, &expected);
        EXPECT_EQ(std::memcmp(&state, &expected, sizeof state), 0);
    }
}

TEST(AutoMaskSteps, SubjectCandidatesAreFarInHueOrOpaqueAndFarInBrightness) {
    // Backdrop (9000, 41000, 15000): hue 0.364583, V 41000.
    const Colour backdrop{9000, 41000, 15000, 65535};
    struct Case {
        Colour pixel;
        std::uint16_t alpha;
        bool candidate;
    };
    const Case cases[] = {
        // Hue (2 - R / G) / 6 for G the largest and B = 0: 1/6 away at R / G = 0.8125.
        {{32600, 40000, 0, 0}, 0, true},
        {{32400, 40000, 0, 0}, 65535, false},
        // The backdrop's hue at half its brightness: a candidate only where the matte is opaque.
        {{4500, 20500, 7500, 0}, 16384, true},
        {{4500, 20500, 7500, 0}, 16383, false},
        // Brightness 16384 from the backdrop's is more than 16383.75, 16383 is not.
        {{5000, 24616, 8000, 0}, 65535, true},
        {{5000, 24617, 8000, 0}, 65535, false},
        {{9000, 41000, 15000, 0}, 65535, false},
    };
    // Six rounds of the cases, told apart by their alpha: 18 candidates, of which the 1st and the
    // 17th are kept.
    std::vector<std::uint16_t> pixels, matte, expected;
    int candidates = 0;
    for (int round = 0; round < 6; ++round)
        for (std::size_t k = 0; k < std::size(cases); ++k) {
            Colour p = cases[k].pixel;
            p[3] = static_cast<std::uint16_t>(round * 10 + k);
            pixels.insert(pixels.end(), p.begin(), p.end());
            matte.insert(matte.end(), {1, 2, 3, cases[k].alpha});
            if (cases[k].candidate && candidates++ % 16 == 0)
                expected.insert(expected.end(), p.begin(), p.end());
        }
    std::vector<std::uint16_t> samples(pixels.size(), 0xdead);
    const int n = subjectCandidates(pixels.data(), matte.data(), pixels.size() / 4, backdrop.data(),
                                    samples.data());
    ASSERT_EQ(candidates, 18);
    ASSERT_EQ(n, 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), samples.begin()));
    EXPECT_EQ(samples[8], 0xdead);
}

TEST(AutoMaskSteps, SureRegionWindowIsATenthOfTheSmallerSideAtTheDefaultRadius) {
    struct Case {
        std::ptrdiff_t width, height;
        float radius;
        int window;
    };
    const Case cases[] = {
        {1000, 600, 0.4f, 63},  // r = trunc(600 x 0.4 / 4 + 0.5) = 60
        {600, 1000, 0.4f, 63},
        {1000, 600, 0.0f, 4},   // r = 0 is raised to 1
        {1000, 600, 1.0f, 153}, // 150.5
        {72, 48, 0.4f, 8},      // 5.3
        {72, 48, 0.0625f, 4},   // 1.25
        {16, 16, std::nanf(""), 4},
        {1000, 600, -1.0f, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " radius " << c.radius);
        EXPECT_EQ(sureRegionWindow(c.width, c.height, c.radius), c.window);
    }
}

// The sure regions against a direct computation of the filters: every window of the matte's alpha
// searched pixel by pixel, cut at the image's edges.
struct MatteFixture {
    static constexpr int kWidth = 23, kHeight = 17;
    MatteFixture() : pixels(kWidth * kHeight * 4), matte(kWidth * kHeight * 4) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::uint16_t* p = &pixels[4 * (y * kWidth + x)];
                p[0] = static_cast<std::uint16_t>(1000 * x + 7);
                p[1] = static_cast<std::uint16_t>(1000 * y + 11);
                p[2] = static_cast<std::uint16_t>(x * y + 3);
                p[3] = static_cast<std::uint16_t>(x + 23 * y);
                // Clear on the left, opaque on the right, a soft band between, and specks.
                std::uint16_t alpha =
                    x < 8 ? 0 : x < 14 ? static_cast<std::uint16_t>(20000 + 97 * x * y) : 65535;
                if ((x == 3 && y == 5) || (x == 11 && y == 2)) alpha = 65535;
                if ((x == 5 && y == 12) || (x == 19 && y == 8)) alpha = 0;
                if (x == 2 && y == 14) alpha = 30000;
                std::uint16_t* m = &matte[4 * (y * kWidth + x)];
                m[0] = static_cast<std::uint16_t>(65535 - alpha);
                m[1] = static_cast<std::uint16_t>(x * 100);
                m[2] = static_cast<std::uint16_t>(y * 100);
                m[3] = alpha;
            }
    }
    std::uint16_t alpha(int x, int y) const { return matte[4 * (y * kWidth + x) + 3]; }

    // The extreme of `a` over the window of size s around (x, y).
    template <class A>
    static std::uint16_t extreme(const A& a, int x, int y, int s, bool maximum) {
        std::uint16_t best = maximum ? 0 : 65535;
        for (int j = y - s / 2; j <= y + s - 1 - s / 2; ++j)
            for (int i = x - s / 2; i <= x + s - 1 - s / 2; ++i)
                if (i >= 0 && i < kWidth && j >= 0 && j < kHeight)
                    best = maximum ? std::max(best, a(i, j)) : std::min(best, a(i, j));
        return best;
    }

    std::vector<std::uint16_t> expectedSamples(bool subject, int window) const {
        std::vector<std::uint16_t> first(kWidth * kHeight);
        auto matteAlpha = [&](int x, int y) { return alpha(x, y); };
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                first[y * kWidth + x] = extreme(matteAlpha, x, y, 3, subject);
        auto firstAlpha = [&](int x, int y) { return first[y * kWidth + x]; };
        std::vector<std::uint16_t> list;
        int seen = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (extreme(firstAlpha, x, y, window, !subject) == (subject ? 65535 : 0) &&
                    seen++ % 16 == 0)
                    list.insert(list.end(), &pixels[4 * (y * kWidth + x)],
                                &pixels[4 * (y * kWidth + x) + 4]);
        return list;
    }

    std::vector<std::uint16_t> pixels;
    std::vector<std::uint16_t> matte;
};

TEST(AutoMaskSteps, SureRegionsAreTheMatteOpenedOrClosedByTheWindow) {
    const MatteFixture f;
    for (bool subject : {false, true})
        for (int window : {4, 7, 8})
            for (std::uint64_t bands : {1u, 0u}) {
                SCOPED_TRACE(testing::Message() << "subject " << subject << " window " << window
                                                << " bands " << bands);
                const std::vector<std::uint16_t> expected = f.expectedSamples(subject, window);
                ASSERT_FALSE(expected.empty());
                std::vector<std::uint16_t> morphology(f.matte.size());
                std::vector<std::uint16_t> samples(2 * f.matte.size());
                Quelt_Environ environment;
                environment.bandCount = bands;
                const int n = sureRegionSamples(environment, subject, f.pixels.data(),
                                                f.matte.data(), morphology.data(), samples.data(),
                                                f.kWidth, f.kHeight, window);
                ASSERT_EQ(std::size_t(n), expected.size() / 4);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), samples.begin()));
            }
}

// ---- The detection ----

// A green-screen photograph: a subject of two colours, far from green in hue, over
// [24, 50) x [18, 40), on a backdrop with a slight gradient whose two rings of pixels around the
// subject mix it with the subject (half and a quarter), as a lens blurs an edge.  When `striped`,
// the backdrop is rows of two greens instead and the edge is sharp.  Every channel differs.
constexpr int kPhotoWidth = 72;
constexpr int kPhotoHeight = 48;
constexpr int kSubjectX0 = 24, kSubjectX1 = 50, kSubjectY0 = 18, kSubjectY1 = 40;

bool inSubject(int x, int y) {
    return x >= kSubjectX0 && x < kSubjectX1 && y >= kSubjectY0 && y < kSubjectY1;
}

// 0 inside the subject, 1 and 2 on the rings around it, 3 and more beyond.
int ringOf(int x, int y) {
    const int dx = std::max({kSubjectX0 - x, x - (kSubjectX1 - 1), 0});
    const int dy = std::max({kSubjectY0 - y, y - (kSubjectY1 - 1), 0});
    return std::max(dx, dy);
}

void photoPixel(int x, int y, bool striped, std::uint16_t* p) {
    const bool left = x < 37;
    const std::uint16_t subject[4] = {static_cast<std::uint16_t>(left ? 52000 : 47000),
                                      static_cast<std::uint16_t>(left ? 31000 : 12000),
                                      static_cast<std::uint16_t>(left ? 21000 : 33000), 65535};
    if (inSubject(x, y)) {
        std::memcpy(p, subject, sizeof subject);
        return;
    }
    if (striped) {
        const bool odd = y % 2 != 0;
        p[0] = odd ? 9600 : 9000;
        p[1] = odd ? 40200 : 41000;
        p[2] = odd ? 15900 : 15000;
        p[3] = 65535;
        return;
    }
    p[0] = static_cast<std::uint16_t>(9000 + 7 * x + 3 * y);
    p[1] = static_cast<std::uint16_t>(41000 + 13 * y - 11 * x);
    p[2] = static_cast<std::uint16_t>(15000 + 5 * x - 9 * y);
    p[3] = static_cast<std::uint16_t>(60000 + 17 * x + 5 * y);
    const int ring = ringOf(x, y);
    if (ring <= 2) {
        const int share = ring == 1 ? 2 : 1;  // quarters of subject
        for (int c = 0; c < 4; ++c)
            p[c] = static_cast<std::uint16_t>((share * subject[c] + (4 - share) * p[c]) / 4);
    }
}

std::vector<std::uint16_t> photo(bool striped) {
    std::vector<std::uint16_t> pixels(std::size_t{kPhotoWidth} * kPhotoHeight * 4);
    for (int y = 0; y < kPhotoHeight; ++y)
        for (int x = 0; x < kPhotoWidth; ++x)
            photoPixel(x, y, striped, pixels.data() + 4 * (y * kPhotoWidth + x));
    return pixels;
}

class AutoMaskDetection : public testing::Test {
protected:
    void SetUp() override {
        initPolyhedronTables();
        states.reset();
    }

    // The mattes of the photo keyed with `key`.
    std::vector<std::uint16_t> key(const std::vector<std::uint16_t>& pixels, KeyState state) {
        std::vector<std::uint16_t> out(pixels.size());
        compileKey(&state);
        const ProcessStatus status = processImage(pixels.data(), out.data(), pixels.data(), nullptr,
                                                  kPhotoWidth, kPhotoHeight, &state, nullptr);
        releaseKey(&state);
        EXPECT_EQ(status, ProcessStatus::Done);
        return out;
    }

    KeyStateSet states;
};

using adapter_test::sameBytes;
using adapter_test::sameStates;
using adapter_test::StatesSnapshot;

// The average of both corner fills of the photo: the whole backdrop joins each, and each fill's
// own seed is its reference, not a sample.
Colour cornerAverage(const std::vector<std::uint16_t>& pixels) {
    double sums[4] = {0, 0, 0, 0};
    std::uint64_t count = 0;
    for (int y = 0; y < kPhotoHeight; ++y)
        for (int x = 0; x < kPhotoWidth; ++x) {
            if (ringOf(x, y) <= 2) continue;  // too far from the seeds' colour
            const std::uint16_t* p = pixels.data() + 4 * (y * kPhotoWidth + x);
            const int times = 2 - (x == 10 && y == 10) - (x == kPhotoWidth - 10 && y == 10);
            for (int c = 0; c < 4; ++c) sums[c] += times * double(p[c]);
            count += times;
        }
    Colour average;
    for (int c = 0; c < 4; ++c) average[c] = static_cast<std::uint16_t>(sums[c] / double(count));
    return average;
}

TEST_F(AutoMaskDetection, BackdropColourIsTheAverageOfBothCornerFills) {
    const std::vector<std::uint16_t> pixels = photo(false);
    KeyState state = states.keyState;
    Colour colour{1, 2, 3, 4};
    ASSERT_TRUE(autoMask(pixels.data(), kPhotoWidth, kPhotoHeight, colour.data(), &state, 0.4f));
    EXPECT_EQ(colour, cornerAverage(pixels));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(state.backdrop[c], float(colour[c])) << c;

    // The key it built separates the two: the backdrop clear (the gradient's far ends barely
    // above 0), the subject opaque.
    const std::vector<std::uint16_t> mattes = key(pixels, state);
    std::uint16_t backdropMost = 0, subjectLeast = 65535;
    for (int y = 0; y < kPhotoHeight; ++y)
        for (int x = 0; x < kPhotoWidth; ++x) {
            const std::uint16_t alpha = mattes[4 * (y * kPhotoWidth + x) + 3];
            if (inSubject(x, y))
                subjectLeast = std::min(subjectLeast, alpha);
            else if (ringOf(x, y) > 2)
                backdropMost = std::max(backdropMost, alpha);
        }
    EXPECT_EQ(subjectLeast, 65535);
    EXPECT_LE(backdropMost, 256);
}

// Window of size s: position p covers p - s / 2 to p + s - 1 - s / 2.
struct Window {
    int before;
    int after;
    explicit Window(int s) : before(s / 2), after(s - 1 - s / 2) {}
};

struct RegionCase {
    float radius;
    int r;  // trunc(min(72, 48) x radius / 4 + 0.5), at least 1
};

class AutoMaskRegions : public AutoMaskDetection, public testing::WithParamInterface<RegionCase> {};

// The key is the fresh key of the colour with its inner polyhedron grown to the sure backdrop and
// its outer polyhedron shrunk from the sure subject.  With a clean matte of the rectangular subject
// these regions follow from the rectangle: the sure backdrop lies outside the 3 x 3 erosion dilated
// by the wide window, the sure subject inside the 3 x 3 dilation eroded by it.
TEST_P(AutoMaskRegions, SureRegionsFollowFromTheMatteByTheRadiusWindow) {
    const RegionCase& c = GetParam();
    const std::vector<std::uint16_t> pixels = photo(true);
    KeyState state = states.keyState;
    Colour colour{};
    ASSERT_TRUE(autoMask(pixels.data(), kPhotoWidth, kPhotoHeight, colour.data(), &state,
                         c.radius));
    EXPECT_EQ(colour, cornerAverage(pixels));

    const Window wide(c.r + 3);
    auto sureBackdrop = [&](int x, int y) {
        // Dilated erosion: [x0 + 1 - after, x1 - 1 + before).
        return !(x >= kSubjectX0 + 1 - wide.after && x < kSubjectX1 - 1 + wide.before &&
                 y >= kSubjectY0 + 1 - wide.after && y < kSubjectY1 - 1 + wide.before);
    };
    auto sureSubject = [&](int x, int y) {
        // Eroded dilation: [x0 - 1 + before, x1 + 1 - after).
        return x >= kSubjectX0 - 1 + wide.before && x < kSubjectX1 + 1 - wide.after &&
               y >= kSubjectY0 - 1 + wide.before && y < kSubjectY1 + 1 - wide.after;
    };
    auto thinned = [&](auto&& qualifies) {
        std::vector<std::uint16_t> list;
        int seen = 0;
        for (int y = 0; y < kPhotoHeight; ++y)
            for (int x = 0; x < kPhotoWidth; ++x)
                if (qualifies(x, y) && seen++ % 16 == 0) {
                    const std::uint16_t* p = pixels.data() + 4 * (y * kPhotoWidth + x);
                    list.insert(list.end(), p, p + 4);
                }
        return list;
    };
    const std::vector<std::uint16_t> backdropSamples = thinned(sureBackdrop);
    const std::vector<std::uint16_t> subjectSamples = thinned(sureSubject);
    ASSERT_FALSE(subjectSamples.empty());

    KeyState fresh = states.keyState;
    ASSERT_TRUE(selectBackdropColour(colour.data(), &fresh));
    KeyState expected = fresh;
    growInnerToSamples(backdropSamples.data(), int(backdropSamples.size() / 4), 1, &expected);
    enforceNesting(0, &expected);
    shrinkOuterFromSamples(subjectSamples.data(), int(subjectSamples.size() / 4), 1, &expected);
    enforceNesting(2, &expected);

    EXPECT_EQ(std::memcmp(state.backdrop, expected.backdrop, sizeof state.backdrop), 0);
    bool innerGrew = false, outerShrank = false;
    for (int v = 0; v < kVertexCount; ++v) {
        SCOPED_TRACE(v);
        EXPECT_EQ(state.innerRadii[v], expected.innerRadii[v]);
        EXPECT_EQ(state.middleRadii[v], expected.middleRadii[v]);
        EXPECT_EQ(state.outerRadii[v], expected.outerRadii[v]);
        // Grown and shrunk from the fresh key of the colour, never the other way.
        EXPECT_GE(state.innerRadii[v], fresh.innerRadii[v]);
        EXPECT_LE(state.outerRadii[v], fresh.outerRadii[v]);
        innerGrew |= state.innerRadii[v] > fresh.innerRadii[v];
        outerShrank |= state.outerRadii[v] < fresh.outerRadii[v];
    }
    EXPECT_TRUE(innerGrew);
    EXPECT_TRUE(outerShrank);
}

INSTANTIATE_TEST_SUITE_P(Radii, AutoMaskRegions,
                         testing::Values(RegionCase{0.0f, 1},     // windows 3 and 4
                                         RegionCase{0.4f, 5},     // the default: 8
                                         RegionCase{1.0f, 12}));  // 15

TEST_F(AutoMaskDetection, ResultDoesNotDependOnTheThreadCounts) {
    const std::vector<std::uint16_t> pixels = photo(false);
    const std::int32_t workers = workerThreadCount();
    KeyState results[2];
    Colour colours[2];
    for (int run = 0; run < 2; ++run) {
        setWorkerThreadCount(run == 0 ? 1 : 8);
        Quelt_Environ environment;
        environment.bandCount = run == 0 ? 1 : 5;
        results[run] = states.keyState;
        ASSERT_TRUE(analyseAutoMask(environment, pixels.data(), kPhotoWidth, kPhotoHeight,
                                    colours[run].data(), &results[run], 0.4f));
    }
    setWorkerThreadCount(workers);
    EXPECT_EQ(colours[0], colours[1]);
    EXPECT_TRUE(sameBytes(results[0], results[1]));
}

TEST_F(AutoMaskDetection, ImagesItCannotUseLeaveTheKeyAndTheColourAlone) {
    const KeyState before = states.keyState;
    const Colour untouched{1, 2, 3, 4};

    // Under 16 pixels on a side.
    for (const auto& [width, height] : {std::pair{15, 400}, std::pair{400, 15}}) {
        std::vector<std::uint16_t> pixels(std::size_t(width) * height * 4, 30000);
        KeyState state = before;
        Colour colour = untouched;
        EXPECT_FALSE(autoMask(pixels.data(), width, height, colour.data(), &state, 0.4f));
        EXPECT_TRUE(sameBytes(state, before));
        EXPECT_EQ(colour, untouched);
    }

    // Corners whose seeds match none of their neighbours: alternating red and blue pixels.
    std::vector<std::uint16_t> checker(std::size_t{40} * 20 * 4);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            std::uint16_t* p = checker.data() + 4 * (y * 40 + x);
            const bool red = (x + y) % 2 == 0;
            p[0] = red ? 50000 : 3000;
            p[1] = 7000;
            p[2] = red ? 2000 : 48000;
            p[3] = 65535;
        }
    KeyState state = before;
    Colour colour = untouched;
    EXPECT_FALSE(autoMask(checker.data(), 40, 20, colour.data(), &state, 0.4f));
    EXPECT_TRUE(sameBytes(state, before));
    EXPECT_EQ(colour, untouched);
}

// Engine allocations refused from the n-th on.
std::atomic<int> g_allocationsLeft{0};
void* refusingAllocate(std::size_t size) {
    return g_allocationsLeft.fetch_sub(1) > 0 ? std::malloc(size) : nullptr;
}

class RefusedAllocations {
public:
    explicit RefusedAllocations(int granted)
        : saved_(allocatorHooks()), workers_(workerThreadCount()) {
        // One thread, so that the allocations come in the same order every time.
        setWorkerThreadCount(1);
        g_allocationsLeft = granted;
        const AllocatorHooks hooks{refusingAllocate, std::free};
        setAllocatorHooks(&hooks);
    }
    ~RefusedAllocations() {
        setAllocatorHooks(&saved_);
        setWorkerThreadCount(workers_);
    }

private:
    AllocatorHooks saved_;
    std::int32_t workers_;
};

TEST_F(AutoMaskDetection, RefusedAllocationsLeaveTheKeyAsItWas) {
    const std::vector<std::uint16_t> pixels = photo(false);
    const KeyState before = states.keyState;
    int failures = 0;
    bool succeeded = false;
    for (int granted = 0; granted < 400 && !succeeded; ++granted) {
        SCOPED_TRACE(granted);
        KeyState state = before;
        Colour colour{1, 2, 3, 4};
        RefusedAllocations refuse(granted);
        try {
            succeeded = autoMask(pixels.data(), kPhotoWidth, kPhotoHeight, colour.data(), &state,
                                 0.4f);
            EXPECT_TRUE(succeeded);
        } catch (const std::bad_alloc& e) {
            ++failures;
            EXPECT_STREQ(e.what(), "bad allocation");
            EXPECT_TRUE(sameBytes(state, before));
            EXPECT_EQ(colour, (Colour{1, 2, 3, 4}));
        }
    }
    EXPECT_TRUE(succeeded);
    // At least the three work buffers and the sample clouds of the two fresh keys.
    EXPECT_GE(failures, 5);
}

TEST_F(AutoMaskDetection, RefinementIsSkippedForAGreyColourAndRefusedMemoryIsReported) {
    const std::vector<std::uint16_t> pixels = photo(false);
    const Colour grey{30000, 30500, 31000, 65535};
    Colour green{};
    KeyState state = states.keyState;
    ASSERT_TRUE(autoMask(pixels.data(), kPhotoWidth, kPhotoHeight, green.data(), &state, 0.4f));
    const KeyState started = state;
    {
        // The engine cannot run at all: a grey colour does not reach it, the green one fails.
        RefusedAllocations refuse(0);
        EXPECT_TRUE(refineAutoMask(pixels.data(), kPhotoWidth, kPhotoHeight, grey.data(), &state,
                                   0, 0, 0.75f, 2.0f));
        EXPECT_TRUE(sameBytes(state, started));
        EXPECT_THROW(refineAutoMask(pixels.data(), kPhotoWidth, kPhotoHeight, green.data(), &state,
                                    0, 0, 0.75f, 2.0f),
                     std::bad_alloc);
        EXPECT_TRUE(sameBytes(state, started));
    }
    // The edge rings of the photo hold colours that count as backdrop-like at a dominance of 0.5
    // ("automask color correction" 150): the refinement takes the outer polyhedron out to them.
    EXPECT_TRUE(refineAutoMask(pixels.data(), kPhotoWidth, kPhotoHeight, green.data(), &state, 0, 0,
                               0.75f, 0.5f));
    EXPECT_FALSE(sameBytes(state, started));
    EXPECT_FALSE(refineAutoMask(nullptr, kPhotoWidth, kPhotoHeight, green.data(), &state, 0, 0,
                                0.75f, 2.0f));
}

// ---- The analysis step of the plug-in ----

class AutoMaskStep : public testing::Test {
protected:
    fs::path input(int width = kPhotoWidth, int height = kPhotoHeight) {
        const fs::path path = folder.path() / "photo.tif";
        writeImage(path, FIF_TIFF, FIT_RGBA16, 64, width, height, [&](int x, int y, double v[4]) {
            std::uint16_t p[4];
            photoPixel(x * kPhotoWidth / width, y * kPhotoHeight / height, false, p);
            for (int c = 0; c < 4; ++c) v[c] = p[c] / 65535.0;
        });
        return path;
    }

    // What the step should make of the key `start` on the plug-in's proxy.
    static KeyState expectedKey(VantreloPlugin& plugin, KeyState start, float radius, float ease,
                                float correction) {
        ImageBuffer work(nullptr);
        work.allocate(plugin.sourceProxy.bounds, 16);
        convertImageTo16(plugin, plugin.sourceProxy, work);
        const auto* pixels = reinterpret_cast<const std::uint16_t*>(work.firstPixel);
        Colour colour{};
        const auto w = work.bounds.width(), h = work.bounds.height();
        EXPECT_TRUE(autoMask(pixels, w, h, colour.data(), &start, radius));
        if (ease > 0) {
            EXPECT_TRUE(
                refineAutoMask(pixels, w, h, colour.data(), &start, 0, 0, ease, correction));
        }
        return start;
    }

    static void expectStates(const VantreloPlugin& plugin, const KeyState& key) {
        const KeyStateSet& s = plugin.bridge.keyStates;
        EXPECT_TRUE(sameBytes(s.keyState, key));
        EXPECT_TRUE(sameBytes(s.edgeState, key));
        EXPECT_TRUE(sameBytes(s.bodyState, key));
    }

    // A key no detection makes, so that a detection shows.
    static void scramble(VantreloPlugin& plugin) {
        KeyStateSet& s = plugin.bridge.keyStates;
        fillRadii(77, 0, &s.keyState);
        s.edgeState = s.keyState;
        s.bodyState = s.keyState;
    }

    static void prepare(PluginHarness& h) {
        h.plugin.prepare(h.set(), h.plugin.currentBounds());
    }
    static void analyse(PluginHarness& h) {
        h.plugin.analyse(h.set(), h.plugin.currentBounds());
    }

    test_store::ScratchFolder folder{"vantrelo-automask", test_store::ScratchFolder::ConfigHome};
};

TEST_F(AutoMaskStep, BatchDetectsOncePerPrepareWhenSwitchedOn) {
    PluginHarness h({input()}, false);
    h.set().setBool(true, kParamEnableAutoMask);
    prepare(h);  // pushes the whole set and arms the detection
    scramble(h.plugin);
    KeyState start = h.plugin.bridge.keyStates.keyState;
    analyse(h);
    // Defaults: radius 40, ease 75, colour correction 0.
    const KeyState expected = expectedKey(h.plugin, start, 0.4f, 0.75f, 2.0f);
    expectStates(h.plugin, expected);
    EXPECT_EQ(h.plugin.bridge.autoMaskJustEnabled, 0);
    EXPECT_EQ(h.plugin.lastAutoMaskRadius, 40.0);
    EXPECT_EQ(h.plugin.lastAutoMaskEase, 75.0);
    EXPECT_EQ(h.plugin.lastAutoMaskCorrection, 0.0);

    // Another tile's analysis of the same image does not redo it...
    scramble(h.plugin);
    start = h.plugin.bridge.keyStates.keyState;
    analyse(h);
    expectStates(h.plugin, start);
    // ...the next image's prepare re-arms it.
    prepare(h);
    start = h.plugin.bridge.keyStates.keyState;
    analyse(h);
    expectStates(h.plugin, expectedKey(h.plugin, start, 0.4f, 0.75f, 2.0f));

    // Switched off: neither the key nor the edge and body states are touched.
    PluginHarness off({input()}, false);
    off.set().setBool(false, kParamEnableAutoMask);
    prepare(off);
    KeyStateSet& s = off.plugin.bridge.keyStates;
    fillRadii(55, 2, &s.edgeState);
    const StatesSnapshot before(s);
    analyse(off);
    EXPECT_TRUE(sameStates(s, before));
}

TEST_F(AutoMaskStep, PreviewRerunsWhenOneOfItsSettingsChanges) {
    PluginHarness h({input()}, true);
    h.setDouble(kParamAutoMaskRadius, 40.0);  // the adapter holds what the set pushed
    h.setBool(kParamEnableAutoMask, true);
    scramble(h.plugin);
    KeyState start = h.plugin.bridge.keyStates.keyState;
    prepare(h);
    analyse(h);
    expectStates(h.plugin, expectedKey(h.plugin, start, 0.4f, 0.75f, 2.0f));

    // A render with nothing changed keeps the key (and any sampling on it).
    scramble(h.plugin);
    start = h.plugin.bridge.keyStates.keyState;
    prepare(h);
    analyse(h);
    expectStates(h.plugin, start);

    struct Change {
        std::size_t index;
        double value;
        float radius, ease, correction;
    };
    const Change changes[] = {
        {kParamAutoMaskEaseBleach, 30.0, 0.4f, 0.3f, 2.0f},
        {kParamAutoMaskRadius, 70.0, 0.7f, 0.3f, 2.0f},
        {kParamAutoMaskColorCorrection, 150.0, 0.7f, 0.3f, 0.5f},
        {kParamAutoMaskEaseBleach, 0.0, 0.7f, 0.0f, 0.5f},  // no refinement
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.index);
        scramble(h.plugin);
        start = h.plugin.bridge.keyStates.keyState;
        h.setDouble(c.index, c.value);
        prepare(h);
        analyse(h);
        expectStates(h.plugin, expectedKey(h.plugin, start, c.radius, c.ease, c.correction));
    }

    // Switched off, the sliders no longer rerun it; the "AutoMask" button's trigger does, once.
    h.setBool(kParamEnableAutoMask, false);
    scramble(h.plugin);
    start = h.plugin.bridge.keyStates.keyState;
    h.setDouble(kParamAutoMaskEaseBleach, 60.0);
    prepare(h);
    analyse(h);
    expectStates(h.plugin, start);
    h.plugin.bridge.autoMaskJustEnabled = 1;
    prepare(h);
    analyse(h);
    expectStates(h.plugin, expectedKey(h.plugin, start, 0.7f, 0.6f, 0.5f));
    scramble(h.plugin);
    start = h.plugin.bridge.keyStates.keyState;
    prepare(h);
    analyse(h);
    expectStates(h.plugin, start);
}

TEST_F(AutoMaskStep, ASmallProxyKeepsTheKeyAndSharesIt) {
    PluginHarness h({input(15, 400)}, false);
    h.set().setBool(true, kParamEnableAutoMask);
    prepare(h);
    KeyStateSet& s = h.plugin.bridge.keyStates;
    fillRadii(55, 2, &s.edgeState);
    fillRadii(66, 0, &s.bodyState);
    const KeyState key = s.keyState;
    analyse(h);
    // No detection, but the edge and body states now key as the key state does.
    expectStates(h.plugin, key);
    EXPECT_EQ(h.plugin.bridge.autoMaskJustEnabled, 0);
}

TEST_F(AutoMaskStep, NoProxyLeavesEverythingAndKeepsTheTriggerArmed) {
    PluginHarness h({input()}, false);
    h.set().setBool(true, kParamEnableAutoMask);
    prepare(h);
    h.plugin.sourceProxy.reset();
    KeyStateSet& s = h.plugin.bridge.keyStates;
    fillRadii(55, 2, &s.edgeState);
    const StatesSnapshot before(s);
    analyse(h);
    EXPECT_TRUE(sameStates(s, before));
    EXPECT_EQ(h.plugin.bridge.autoMaskJustEnabled, 1);
}

TEST_F(AutoMaskStep, RefusedMemoryLeavesAllThreeStates) {
    PluginHarness h({input()}, false);
    h.set().setBool(true, kParamEnableAutoMask);
    prepare(h);
    KeyStateSet& s = h.plugin.bridge.keyStates;
    fillRadii(55, 2, &s.edgeState);
    const StatesSnapshot before(s);
    int failures = 0;
    bool succeeded = false;
    // Every engine allocation refused in turn, the refinement's included.
    for (int granted = 0; granted < 400 && !succeeded; ++granted) {
        SCOPED_TRACE(granted);
        h.plugin.bridge.autoMaskJustEnabled = 1;
        RefusedAllocations refuse(granted);
        try {
            analyse(h);
            succeeded = true;
        } catch (const std::bad_alloc&) {
            ++failures;
            EXPECT_TRUE(sameStates(s, before));
        }
    }
    EXPECT_TRUE(succeeded);
    EXPECT_GE(failures, 6);
    EXPECT_FALSE(sameBytes(s.keyState, before.key));
}

}  // namespace
}  // namespace vantrelo::plugin_test
