#include "kernels/pixel_maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantrelo {
namespace {

TEST(ApplyLightingPixel16, MovesByTheBackdropDifferenceInProportionToOneMinusMatte) {
    const float reference[3] = {1000, 1000, 1000};
    const std::uint16_t a[4] = {900, 1000, 1100, 0};
    const std::uint16_t b[4] = {1000, 1000, 1000, 4321};
    std::uint16_t out[4];
    const std::uint16_t backdrop[4] = {0, 0, 0, 0};
    applyLightingPixel16(out, a, b, backdrop, reference);
    EXPECT_EQ(out[0], 1100);
    EXPECT_EQ(out[1], 1000);
    EXPECT_EQ(out[2], 900);
    EXPECT_EQ(out[3], 4321);  // alpha of b

    const std::uint16_t subject[4] = {0, 0, 0, 65535};
    applyLightingPixel16(out, a, b, subject, reference);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(out[2], 1000);

    // Half matte: (1000 - 900) x (1 - 32768 / 65535) + 1000 = 1049.99..., truncated.
    const std::uint16_t half[4] = {0, 0, 0, 32768};
    applyLightingPixel16(out, a, b, half, reference);
    EXPECT_EQ(out[0], 1049);
    EXPECT_EQ(out[2], 950);

    // Results beyond the range are held to it.
    const float far[3] = {70000, -5000, 65535};
    const std::uint16_t bright[4] = {65000, 100, 65535, 7};
    applyLightingPixel16(out, a, bright, backdrop, far);
    EXPECT_EQ(out[0], 65535);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 65535);
}

TEST(ApplyLightingPixelFloat, RaisesNegativesToZeroAndNeverClampsAbove) {
    const float reference[3] = {30000, 0, 1000};
    const std::uint16_t a[4] = {0, 60000, 1000, 0};
    const float b[4] = {0.9f, 0.2f, 0.4f, 0.75f};
    const float m[4] = {0, 0, 0, 0};
    float out[4];
    applyLightingPixelFloat(out, a, b, m, reference);
    EXPECT_FLOAT_EQ(out[0], 0.9f + 30000.0f / 65535.0f);  // about 1.3578, not clamped
    EXPECT_EQ(out[1], 0.0f);                              // 0.2 - 0.9155 < 0
    EXPECT_FLOAT_EQ(out[2], 0.4f);
    EXPECT_EQ(out[3], 0.75f);
    const float opaque[4] = {0, 0, 0, 1};
    applyLightingPixelFloat(out, a, b, opaque, reference);
    EXPECT_FLOAT_EQ(out[0], 0.9f);
}

TEST(SoftLight, FloatAndIntegerBlendsGiveHandComputedValues) {
    EXPECT_FLOAT_EQ(softLightFloat(0.5f, 0.25f), 0.375f);
    EXPECT_FLOAT_EQ(softLightFloat(0.25f, 1.0f), 0.5f);
    for (float x : {0.0f, 0.1f, 0.6f, 1.0f}) EXPECT_FLOAT_EQ(softLightFloat(x, 0.5f), x);
    EXPECT_TRUE(std::isnan(softLightFloat(-0.5f, 0.9f)));  // the formula's value

    EXPECT_EQ(softLight16(65535, 0), 65535);
    EXPECT_EQ(softLight16(32768, 16384), 24576);
    EXPECT_EQ(softLight16(65535, 65535), 65535);
    EXPECT_EQ(softLight16(65535, 32768), 65535);
    for (int b : {0, 1, 32767, 32768, 65535}) EXPECT_EQ(softLight16(0, b), 0) << b;
    // The integer blend follows the float one to within a unit or two everywhere.
    for (int a = 0; a <= 65535; a += 4099)
        for (int b = 0; b <= 65535; b += 3079) {
            const double expected = softLightFloat(a / 65535.0f, b / 65535.0f) * 65535.0;
            EXPECT_NEAR(softLight16(a, b), expected, 2.0) << a << " " << b;
        }
}

TEST(RgbToHsl, GivesHueSaturationAndLightness) {
    struct Case {
        float r, g, b, hue, saturation, lightness;
    };
    const Case cases[] = {
        {1, 0, 0, 0, 1, 0.5f},
        {0, 1, 0, 1.0f / 3.0f, 1, 0.5f},
        {0, 0, 1, 2.0f / 3.0f, 1, 0.5f},
        {0.4f, 0.4f, 0.4f, 0, 0, 0.4f},
        {1, 0, 1, 5.0f / 6.0f, 1, 0.5f},               // magenta: the hue wraps below 0
        {1, 1, 0, 1.0f / 6.0f, 1, 0.5f},               // red wins the tie with green
        {0.8f, 0.6f, 0.4f, 1.0f / 12.0f, 0.5f, 0.6f},  // lightness above 0.5
    };
    for (const Case& c : cases) {
        float h = -1, s = -1, l = -1;
        rgbToHsl(c.r, c.g, c.b, h, s, l);
        EXPECT_NEAR(h, c.hue, 1e-6) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(s, c.saturation, 1e-6);
        EXPECT_NEAR(l, c.lightness, 1e-6);
    }
}

TEST(RgbToHsl, AZeroSaturationDenominatorGivesZeroNotInfinity) {
    float h, s, l;
    rgbToHsl(-0.5f, 0.5f, 0.0f, h, s, l);  // max + min = 0 with lightness below 0.5
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(l, 0.0f);
    EXPECT_TRUE(std::isfinite(h));
    rgbToHsl(1.5f, 0.5f, 1.0f, h, s, l);  // 2 - max - min = 0
    EXPECT_EQ(s, 0.0f);
    EXPECT_TRUE(std::isfinite(h));
    rgbToHsl(1.2f, 0.0f, 0.0f, h, s, l);  // other out-of-range inputs give the formula's value
    EXPECT_FLOAT_EQ(s, 1.5f);
}

TEST(HueToRgb, WrapsTheHueOnceAndFollowsTheFourPieces) {
    EXPECT_FLOAT_EQ(hueToRgb(0, 1, 1.2f), 1.0f);   // hue 0.2: 6h >= 1, 2h < 1
    EXPECT_FLOAT_EQ(hueToRgb(0, 1, -0.1f), 0.0f);  // hue 0.9
    EXPECT_FLOAT_EQ(hueToRgb(0.2f, 0.8f, 0.1f), 0.2f + 0.6f * 0.6f);
    EXPECT_FLOAT_EQ(hueToRgb(0.2f, 0.8f, 0.5f), 0.2f + 0.6f * (2.0f / 3.0f - 0.5f) * 6.0f);
    // HSL back to RGB reproduces the colour.
    float h, s, l;
    rgbToHsl(0.8f, 0.3f, 0.55f, h, s, l);
    const float m2 = l <= 0.5f ? l * (1 + s) : l + s - l * s;
    const float m1 = 2 * l - m2;
    EXPECT_NEAR(hueToRgb(m1, m2, h + 1.0f / 3.0f), 0.8f, 1e-5);
    EXPECT_NEAR(hueToRgb(m1, m2, h), 0.3f, 1e-5);
    EXPECT_NEAR(hueToRgb(m1, m2, h - 1.0f / 3.0f), 0.55f, 1e-5);
}

}  // namespace
}  // namespace vantrelo
