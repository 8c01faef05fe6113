#include "engine/effects/hue_histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

struct Rgb {
    int r, g, b;
};

// A photo-like fixture: a noisy backdrop with rectangles of other colours painted over it.
struct Region {
    int x0, y0, x1, y1;
    Rgb colour;
};

std::vector<std::uint16_t> photo(int width, int height, Rgb backdrop, int noise, std::initializer_list<Region> regions,
                                 unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb c = backdrop;
            for (const auto& r : regions)
                if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1) c = r.colour;
            std::uint16_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            const int v[3] = {c.r, c.g, c.b};
            for (int k = 0; k < 3; ++k) p[k] = static_cast<std::uint16_t>(std::clamp(v[k] + jitter(rng), 0, 65535));
            p[3] = 65535;
        }
    }
    return pixels;
}

// Hue of a colour in degrees, to compare detected colours the way a user would.
double hueDegrees(double r, double g, double b) {
    return std::atan2(std::sqrt(3.0) * (g - b), 2 * r - g - b) * 180.0 / std::numbers::pi;
}

TEST(DetectBackdropColour, FindsGreenAndBlueBackdrops) {
    const Rgb subject{52000, 38000, 30000};  // skin: its hue lies outside the searched bins
    const Rgb shirt{20000, 20000, 22000};    // nearly grey: not coloured
    for (Rgb backdrop : {Rgb{8000, 42000, 12000}, Rgb{6000, 14000, 47000}, Rgb{15000, 50000, 45000}}) {
        const auto pixels = photo(80, 60, backdrop, 1500, {{25, 10, 55, 60, subject}, {30, 35, 50, 60, shirt}});
        std::uint16_t found[3] = {0, 0, 0};
        ASSERT_EQ(detectBackdropColour(pixels.data(), 80, 60, found, nullptr, nullptr), 1);
        EXPECT_NEAR(found[0], backdrop.r, 200);
        EXPECT_NEAR(found[1], backdrop.g, 200);
        EXPECT_NEAR(found[2], backdrop.b, 200);
        EXPECT_NEAR(hueDegrees(found[0], found[1], found[2]), hueDegrees(backdrop.r, backdrop.g, backdrop.b), 1.0);
    }
}

TEST(DetectBackdropColour, RefusesImagesWithoutABackdrop) {
    std::uint16_t found[3] = {7, 7, 7};
    // Grey, weakly coloured (chroma at most 3000), and hues outside bins 24..100 (red, yellow,
    // magenta) never qualify.
    const std::vector<Rgb> none = {{30000, 30000, 30000}, {30000, 32000, 30500}, {50000, 8000, 8000},
                                   {50000, 50000, 6000}, {50000, 6000, 50000}};
    for (Rgb c : none) {
        const auto pixels = photo(32, 24, c, 200, {});
        EXPECT_EQ(detectBackdropColour(pixels.data(), 32, 24, found, nullptr, nullptr), -1)
            << c.r << " " << c.g << " " << c.b;
    }
    // A backdrop covering no more than 5 % of the image is not one.
    const auto small = photo(40, 40, {30000, 30000, 30000}, 0, {{0, 0, 3, 20, {5000, 45000, 8000}}});
    EXPECT_EQ(detectBackdropColour(small.data(), 40, 40, found, nullptr, nullptr), -1);
    EXPECT_EQ(detectBackdropColour(nullptr, 40, 40, found, nullptr, nullptr), -1);
    EXPECT_EQ(detectBackdropColour(small.data(), 0, 40, found, nullptr, nullptr), -1);
    EXPECT_EQ(detectBackdropColour(small.data(), 40, 40, nullptr, nullptr, nullptr), -1);
}

TEST(DetectBackdropColour, ScoreNotSizeChoosesAndBoundsReject) {
    // Pale blue covers 60 % of the image, saturated green 30 %: green's chroma outweighs its size.
    const Rgb paleBlue{30000, 31000, 38000};
    const Rgb green{5000, 50000, 8000};
    const auto pixels = photo(50, 40, paleBlue, 300, {{0, 0, 50, 12, green}, {0, 12, 5, 40, {30000, 30000, 30000}}});
    std::uint16_t found[3] = {0, 0, 0};
    ASSERT_EQ(detectBackdropColour(pixels.data(), 50, 40, found, nullptr, nullptr), 1);
    EXPECT_NEAR(found[1], green.g, 100);

    // An upper bound on green rejects it; the blue peak is chosen next.
    const std::int32_t upper[3] = {65535, 40000, 65535};
    ASSERT_EQ(detectBackdropColour(pixels.data(), 50, 40, found, nullptr, upper), 1);
    EXPECT_NEAR(found[2], paleBlue.b, 100);

    // Bounds that reject both give -1; the colour holds the last rejected mean.
    const std::int32_t lower[3] = {40000, 0, 0};
    EXPECT_EQ(detectBackdropColour(pixels.data(), 50, 40, found, lower, upper), -1);
    EXPECT_NEAR(found[2], paleBlue.b, 100);
}

class DetectBackdropMemory : public testing_keys::CountedAllocations {
protected:
    DetectBackdropMemory() : CountedAllocations(1) {}
};

// A photograph that could not be examined is -2, never the -1 of "no backdrop": every block the
// detection asks for is refused in turn, on an image whose backdrop it otherwise finds.
TEST_F(DetectBackdropMemory, RefusedMemoryIsNotNoBackdrop) {
    using testing_keys::TestAllocator;
    const auto pixels = photo(40, 30, {8000, 42000, 12000}, 500, {{10, 10, 30, 30, {52000, 38000, 30000}}});
    std::uint16_t found[3] = {0, 0, 0};
    ASSERT_EQ(detectBackdropColour(pixels.data(), 40, 30, found, nullptr, nullptr), 1);
    const int needed = TestAllocator::calls;
    ASSERT_GT(needed, 0);
    for (int i = 0; i < needed; ++i) {
        TestAllocator::calls = 0;
        TestAllocator::refuse = i;
        std::uint16_t untouched[3] = {7, 8, 9};
        EXPECT_EQ(detectBackdropColour(pixels.data(), 40, 30, untouched, nullptr, nullptr), -2) << "allocation " << i;
        EXPECT_EQ(untouched[0], 7);
        EXPECT_EQ(untouched[1], 8);
        EXPECT_EQ(untouched[2], 9);
    }
    TestAllocator::refuse = -1;
    // Too large to hold its hue bins at all: the same answer, without reading a pixel.
    const std::ptrdiff_t huge = std::numeric_limits<std::ptrdiff_t>::max() / 4;
    EXPECT_EQ(detectBackdropColour(pixels.data(), huge, 2, found, nullptr, nullptr), -2);
}

TEST(ChromaSpread, TightClustersScoreOne) {
    const std::int32_t along[] = {6000, 6000, 0, 0};
    const std::int32_t across[] = {8000, 8000, -1000, 1000};
    float mean = -1.0f;
    EXPECT_FLOAT_EQ(chromaSpread(along, across, 2, &mean), 1.0f);
    EXPECT_NEAR(mean, 10000.0 / 65535.0, 1e-6);
    EXPECT_NEAR(chromaSpread(along + 2, across + 2, 2, &mean), (65535.0 - 1000.0) / 65535.0, 1e-6);
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(chromaSpread(along, across, 0, &mean), 0.0f);
    EXPECT_EQ(mean, 0.0f);
}

}  // namespace
}  // namespace vantrelo
