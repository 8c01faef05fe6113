#include "engine/effects/grain_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/effects/box_blur.h"
#include "engine/effects/crop_insets.h"
#include "engine/keying/key_state.h"
#include "matte_test_support.h"

namespace vantrelo {
namespace {

using matte_test::CountingAllocator;
using matte_test::randomSamples;

class GrainFilter : public matte_test::EngineSettings {};

KeyState stateWith(int level, float r, float g, float b) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    state.grainLevel = level;
    state.backdrop[0] = r;
    state.backdrop[1] = g;
    state.backdrop[2] = b;
    return state;
}

// The box blur as a plain window sum at every position (edge samples repeated), one pass after
// the other: the oracle for the running sums.  Integer sums are exact either way, and so are
// float sums of small whole numbers, so both routes must agree to the bit.
template <class T>
std::vector<T> referenceBlur(const std::vector<T>& src, std::ptrdiff_t w, std::ptrdiff_t h, std::ptrdiff_t rh,
                             std::ptrdiff_t rv) {
    if (rh == 0) return src;
    auto pass = [&](const std::vector<T>& in, std::ptrdiff_t r, bool horizontal) {
        std::vector<T> out(in.size());
        const double weight = 1.0 / static_cast<double>(2 * r + 1);
        for (std::ptrdiff_t y = 0; y < h; ++y)
            for (std::ptrdiff_t x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (std::ptrdiff_t k = -r; k <= r; ++k) {
                        const std::ptrdiff_t sx = horizontal ? std::clamp<std::ptrdiff_t>(x + k, 0, w - 1) : x;
                        const std::ptrdiff_t sy = horizontal ? y : std::clamp<std::ptrdiff_t>(y + k, 0, h - 1);
                        sum += static_cast<double>(in[(sy * w + sx) * 3 + c]);
                    }
                    const double v = sum * weight;
                    out[(y * w + x) * 3 + c] =
                        std::is_floating_point_v<T> ? static_cast<T>(v) : static_cast<T>(static_cast<std::int64_t>(v));
                }
        return out;
    };
    auto result = pass(src, rh, true);
    return rv == 0 ? result : pass(result, rv, false);
}

TEST_F(GrainFilter, RadiiFollowTheImageSize) {
    struct Case {
        int level;
        std::ptrdiff_t size, radius;
    };
    const Case cases[] = {
        {3, 640, 9},  {3, 480, 7}, {3, 4000, 59}, {3, 3000, 44}, {1, 201, 0}, {1, 202, 1},
        {2, 101, 0},  {2, 102, 1}, {3, 69, 0},    {3, 70, 1},    {3, 1, 0},   {3, 0, 0},
        {9, 640, 9},  {-1, 640, 0},  // levels outside 0..3 are clamped
    };
    for (const Case& c : cases)
        EXPECT_EQ(boxBlurRadius(grainFactor(c.level), c.size), c.radius) << c.level << " " << c.size;
    EXPECT_EQ(boxBlurRadius(1.0f, 50), 24);
    EXPECT_EQ(boxBlurRadius(std::numeric_limits<float>::quiet_NaN(), 500), 0);
}

TEST_F(GrainFilter, BoxBlurAgreesWithWindowSums) {
    struct Case {
        float factor;
        std::ptrdiff_t w, h;
    };
    for (const Case c : {Case{0.03f, 640, 7}, Case{1.0f, 7, 9}, Case{0.5f, 1203, 3}, Case{0.2f, 31, 1100},
                         Case{1.0f, 3, 3}, Case{1.0f, 2, 40}}) {
        const std::size_t n = static_cast<std::size_t>(c.w * c.h * 3);
        const auto source = randomSamples<std::uint16_t>(n, 21, 0, 65535);
        const auto expected = referenceBlur(source, c.w, c.h, boxBlurRadius(c.factor, c.w),
                                            boxBlurRadius(c.factor, c.h));
        std::vector<std::uint16_t> out(n);
        ASSERT_TRUE(boxBlurRgb16(c.factor, source.data(), out.data(), c.w, c.h));
        EXPECT_EQ(out, expected) << c.w << "x" << c.h;
        auto inPlace = source;
        ASSERT_TRUE(boxBlurRgb16(c.factor, inPlace.data(), inPlace.data(), c.w, c.h));
        EXPECT_EQ(inPlace, out) << "one buffer as source and destination";

        const auto source8 = randomSamples<std::uint8_t>(n, 22, 0, 255);
        std::vector<std::uint8_t> out8(n);
        ASSERT_TRUE(boxBlurRgb8(c.factor, source8.data(), out8.data(), c.w, c.h));
        EXPECT_EQ(out8, referenceBlur(source8, c.w, c.h, boxBlurRadius(c.factor, c.w), boxBlurRadius(c.factor, c.h)));

        std::vector<float> sourceF(n);
        for (std::size_t i = 0; i < n; ++i) sourceF[i] = static_cast<float>(source8[i]);
        std::vector<float> outF(n);
        ASSERT_TRUE(boxBlurRgbFloat(c.factor, sourceF.data(), outF.data(), c.w, c.h));
        // Float sums of the vertical pass round in single precision: close, not bit-equal.
        const auto expectedF =
            referenceBlur(sourceF, c.w, c.h, boxBlurRadius(c.factor, c.w), boxBlurRadius(c.factor, c.h));
        for (std::size_t i = 0; i < n; ++i) ASSERT_NEAR(outF[i], expectedF[i], 1e-3f) << i;
    }
}

TEST_F(GrainFilter, UniformImagesStayUniform) {
    // Replicated edges add no darkening at the borders; truncation may lower the value as a whole.
    const std::ptrdiff_t w = 640, h = 480;
    std::vector<std::uint16_t> image(static_cast<std::size_t>(w * h * 4), 1000);
    KeyState state = stateWith(3, 0, 0, 0);
    ASSERT_TRUE(removeGrain16(image.data(), w, h, &state, nullptr));
    const std::uint16_t v = image[0];
    EXPECT_GE(v, 998);
    for (std::ptrdiff_t i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(image[i * 4 + c], v) << i;

    std::vector<std::uint16_t> ones(50 * 3, 1);
    ASSERT_TRUE(boxBlurRgb16(1.0f, ones.data(), ones.data(), 50, 1));
    EXPECT_EQ(ones, std::vector<std::uint16_t>(50 * 3, 0)) << "trunc(49 x (1/49)) is 0";
}

TEST_F(GrainFilter, LevelZeroChangesNothing) {
    auto image = randomSamples<std::uint16_t>(300 * 20 * 4, 2, 0, 65535);
    const auto before = image;
    const CropInsets insets{10, 10, 2, 2};
    for (int level : {0, -4}) {
        KeyState state = stateWith(level, 100, 200, 300);
        ASSERT_TRUE(removeGrain16(image.data(), 300, 20, &state, &insets));
        EXPECT_EQ(image, before) << level;
    }
    EXPECT_EQ(CountingAllocator::allocations, 0);
}

// Narrower than 202 pixels at level 1 the horizontal radius is 0, and then there is no blur at
// all, however tall the image; the fill and the opaque alpha still happen.
TEST_F(GrainFilter, NarrowImageIsFilledButNotBlurred) {
    const std::ptrdiff_t w = 201, h = 400;
    auto image = randomSamples<std::uint16_t>(static_cast<std::size_t>(w * h * 4), 3, 0, 65535);
    const auto before = image;
    KeyState state = stateWith(1, 1234.9f, 5678.2f, 9.99f);
    const CropInsets insets{1, 2, 3, 4};
    ASSERT_TRUE(removeGrain16(image.data(), w, h, &state, &insets));
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x) {
            const std::uint16_t* p = &image[(y * w + x) * 4];
            const std::uint16_t* q = &before[(y * w + x) * 4];
            const bool kept = x >= 1 && x <= w - 3 && y >= 3 && y <= h - 5;
            ASSERT_EQ(p[0], kept ? q[0] : 1234) << x << "," << y;
            ASSERT_EQ(p[1], kept ? q[1] : 5678);
            ASSERT_EQ(p[2], kept ? q[2] : 9);
            ASSERT_EQ(p[3], 65535);
        }
    EXPECT_EQ(CountingAllocator::allocations, 0) << "nothing to blur, nothing allocated";
}

// Insets {10, 10, 10, 10} at level 3 on 100 x 100 (radii 1): the frame takes the backdrop colour
// before the blur, which then mixes it one pixel further inward.
TEST_F(GrainFilter, InsetFrameIsFilledThenBlurred) {
    const std::ptrdiff_t w = 100, h = 100;
    std::vector<std::uint16_t> image(static_cast<std::size_t>(w * h * 4));
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = i % 4 == 3 ? 7 : 40000;
    KeyState state = stateWith(3, 1000, 2000, 3000);
    const CropInsets insets{10, 10, 10, 10};
    ASSERT_TRUE(removeGrain16(image.data(), w, h, &state, &insets));

    std::vector<std::uint16_t> filled(static_cast<std::size_t>(w * h * 3), 40000);
    for (std::ptrdiff_t y = 0; y < h; ++y)
        for (std::ptrdiff_t x = 0; x < w; ++x)
            if (x < 10 || x > 89 || y < 10 || y > 89)
                for (int c = 0; c < 3; ++c) filled[(y * w + x) * 3 + c] = static_cast<std::uint16_t>(1000 * (c + 1));
    const auto expected = referenceBlur(filled, w, h, 1, 1);
    for (std::ptrdiff_t i = 0; i < w * h; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(image[i * 4 + c], expected[i * 3 + c]) << i;
        ASSERT_EQ(image[i * 4 + 3], 65535);
    }
    const auto at = [&](std::ptrdiff_t x, std::ptrdiff_t y) { return image[(y * w + x) * 4]; };
    EXPECT_EQ(at(11, 50), at(50, 50)) << "two pixels in, the backdrop does not reach";
    EXPECT_LT(at(10, 50), at(50, 50)) << "the edge of the kept rectangle is mixed";
    EXPECT_GT(at(9, 50), 1000);
    EXPECT_EQ(at(3, 50), 1000);
}

// Insets that reach past the image are clipped to it: an inset as wide as the image fills it all,
// negative insets keep everything, and {0, 0, 0, 0} is the same as no record.
TEST_F(GrainFilter, InsetsAreClippedToTheImage) {
    const std::ptrdiff_t w = 300, h = 12;
    const auto source = randomSamples<std::uint16_t>(static_cast<std::size_t>(w * h * 4), 4, 0, 65535);
    KeyState state = stateWith(1, 500, 600, 700);
    auto none = source;
    ASSERT_TRUE(removeGrain16(none.data(), w, h, &state, nullptr));
    for (const CropInsets insets : {CropInsets{0, 0, 0, 0}, CropInsets{-5, -7, -100, -1}}) {
        auto image = source;
        ASSERT_TRUE(removeGrain16(image.data(), w, h, &state, &insets));
        EXPECT_EQ(image, none);
    }
    for (const CropInsets insets : {CropInsets{-5, 5000, 2, 2}, CropInsets{200, 200, 0, 0},
                                    CropInsets{0, 0, 7, 2147483647}}) {
        auto image = source;
        ASSERT_TRUE(removeGrain16(image.data(), w, h, &state, &insets));
        for (std::ptrdiff_t i = 0; i < w * h; ++i) ASSERT_EQ(image[i * 4 + 1], 600) << i;
    }
}

TEST_F(GrainFilter, FloatAndByteVariants) {
    const std::ptrdiff_t w = 80, h = 6;
    KeyState state = stateWith(3, 65535.0f * 0.5f, 258.9f, 70000.0f);
    const CropInsets insets{1, 0, 0, 3};

    std::vector<float> image(static_cast<std::size_t>(w * h * 4), 123.0f);
    ASSERT_TRUE(removeGrainFloat(image.data(), w, h, &state, &insets));
    EXPECT_EQ(image[3], 65535.0f);
    EXPECT_EQ(image[(5 * w + 40) * 4 + 0], 32767.5f) << "float fill keeps the backdrop as it is";
    EXPECT_EQ(image[(5 * w + 40) * 4 + 2], 70000.0f);
    EXPECT_FLOAT_EQ(image[(1 * w + 1) * 4 + 0], (32767.5f + 2 * 123.0f) / 3) << "the fill column mixes in";
    EXPECT_EQ(image[(2 * w + 40) * 4 + 0], 123.0f) << "six rows are too few for a vertical pass";

    // Bytes: blue first, the high byte of each truncated (and clamped) channel.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h * 3), 9);
    ASSERT_TRUE(removeGrain8(bytes.data(), w, h, &state, &insets));
    const std::uint8_t* last = &bytes[(5 * w + 40) * 3];
    EXPECT_EQ(last[0], 255);
    EXPECT_EQ(last[1], 1);
    EXPECT_EQ(last[2], 127);
}

TEST_F(GrainFilter, FailedAllocationLeavesTheImageUntouched) {
    const std::ptrdiff_t w = 400, h = 30;
    const auto source = randomSamples<std::uint16_t>(static_cast<std::size_t>(w * h * 4), 5, 0, 65535);
    KeyState state = stateWith(2, 1, 2, 3);
    const CropInsets insets{10, 10, 5, 5};
    auto image = source;
    failAllocationsFrom(0);
    EXPECT_FALSE(removeGrain16(image.data(), w, h, &state, &insets));
    EXPECT_EQ(image, source);
    std::vector<float> floats(source.begin(), source.end());
    const auto floatsBefore = floats;
    EXPECT_FALSE(removeGrainFloat(floats.data(), w, h, &state, &insets));
    EXPECT_EQ(floats, floatsBefore);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h * 3), 77);
    EXPECT_FALSE(removeGrain8(bytes.data(), w, h, &state, &insets));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(bytes.size(), 77));
    std::vector<std::uint16_t> packed(static_cast<std::size_t>(w * h * 3), 5), out(packed.size(), 9);
    EXPECT_FALSE(boxBlurRgb16(0.5f, packed.data(), out.data(), w, h));
    EXPECT_EQ(out, std::vector<std::uint16_t>(packed.size(), 9));
    allowAllocations();

    EXPECT_FALSE(removeGrain16(image.data(), w, h, nullptr, nullptr));
    EXPECT_FALSE(removeGrain16(nullptr, w, h, &state, nullptr));
    EXPECT_TRUE(removeGrain16(nullptr, 0, 0, &state, nullptr));
}

TEST_F(GrainFilter, FillOutsideRectangle) {
    const std::ptrdiff_t w = 9, h = 7;
    const std::array<std::uint16_t, 4> fill{1, 2, 3, 4};
    struct Case {
        std::ptrdiff_t x0, x1, y0, y1;
        int kept;
    };
    for (const Case c : {Case{2, 5, 1, 3, 12}, Case{0, 8, 0, 6, 63}, Case{5, 4, 0, 6, 0}, Case{-3, 20, -1, 100, 63},
                         Case{4, 4, 6, 6, 1}}) {
        std::vector<std::uint16_t> image(static_cast<std::size_t>(w * h * 4), 0);
        ASSERT_TRUE(fillOutsideRect16(image.data(), fill, c.x0, c.x1, c.y0, c.y1, w, h));
        int kept = 0;
        for (std::ptrdiff_t i = 0; i < w * h; ++i) {
            const bool untouched = image[i * 4] == 0;
            kept += untouched;
            if (!untouched) {
                for (int ch = 0; ch < 4; ++ch) ASSERT_EQ(image[i * 4 + ch], fill[ch]);
            }
        }
        EXPECT_EQ(kept, c.kept) << c.x0 << " " << c.x1 << " " << c.y0 << " " << c.y1;
    }
}

}  // namespace
}  // namespace vantrelo
