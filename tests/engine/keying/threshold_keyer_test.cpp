// The threshold keyer, checked against the geometry it measures: for the cyan backdrop
// (0, 32768, 32768) and colours (R, 32768, 32768) the backdrop distance is 2R / sqrt(6) in 16-bit
// units, so the expected matte and spill follow from the thresholds alone.
#include "engine/keying/threshold_keyer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

constexpr float kCyan[3] = {0.0f, 32768.0f, 32768.0f};
const double kRoot6 = std::sqrt(6.0);

KeyState cyanState(float inner, float middle, float outer, std::uint32_t flags) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    std::copy(kCyan, kCyan + 3, state.backdrop);
    state.thresholds[0] = inner;
    state.thresholds[1] = middle;
    state.thresholds[2] = outer;
    state.flags = flags;
    state.backdropTolerance16 = 1.0f;
    testing_keys::setReplacementColour(state, 1000, 2000, 3000);
    return state;
}

double distanceOf(double red) { return 2.0 * red / kRoot6; }  // 16-bit units

struct Expected {
    double alpha;     // unlimited
    double fraction;  // share of (spill colour - backdrop) added
};

Expected expectedFor(double red, const KeyState& state) {
    const double d = distanceOf(red);
    const double ti = state.thresholds[0], tm = state.thresholds[1], to = state.thresholds[2];
    const double alpha = (d - 65535.0 * ti) / (tm - ti);
    const double s = (d - 65535.0 * ti) / (to - ti);
    const double f = std::clamp(65536.0 - s, 0.0, 65535.0);
    return {alpha, f / 65535.0};
}

TEST(ThresholdKeyer, StartingValuesFollowTheBackdrop) {
    struct Case {
        float r, g, b;
        std::int32_t mode;
        float middleAndOuter;
    };
    const Case cases[] = {
        {0, 65535, 0, KeyerModeChromatic, 0.8164966f},  // sqrt(1/2 + 1/6)
        {0, 0, 0, KeyerModeDarkGrey, 1.732f},
        {10000, 10000, 10000, KeyerModeDarkGrey, float((1.0 - 10000.0 / 65535.0) * 1.732)},
        {40000, 40000, 40000, KeyerModeLightGrey, float((40000.0 / 65535.0) * 1.732)},
    };
    for (const Case& c : cases) {
        KeyState state = cyanState(0, 0, 0, 0);
        VantreloRT keyer;
        keyer.setBackdrop(c.r, c.g, c.b, &state);
        EXPECT_EQ(keyer.mode, c.mode);
        EXPECT_EQ(state.backdrop[1], c.g);
        EXPECT_EQ(state.thresholds[0], 0.05f);
        EXPECT_NEAR(state.thresholds[1], c.middleAndOuter, 1e-6f);
        EXPECT_EQ(state.thresholds[2], state.thresholds[1]);
    }
}

TEST(ThresholdKeyer, RunKeyingInsideOnAndOutsideTheThresholds) {
    const std::uint16_t reds[] = {0,     1000,  4013,  4014,  8000, 12040,
                                  16055, 20000, 24000, 28090, 36110, 50000};
    for (const std::uint32_t flags : {std::uint32_t{KeyFlagSpillSolid}, std::uint32_t{0}}) {
        KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | flags);
        VantreloRT keyer;
        keyer.compile(&state);
        const std::uint16_t background[4] = {20000, 10000, 5000, 0};
        for (std::uint16_t red : reds) {
            const std::uint16_t pixel[4] = {red, 32768, 32768, 65535};
            std::uint16_t spill[4];
            std::copy(background, background + 4, spill);
            std::uint16_t out[4];
            keyer.keyPixels(pixel, pixel, spill, out, &state, 1, state.flags);
            const Expected e = expectedFor(red, state);
            if (e.alpha <= 0.0) {
                for (int c = 0; c < 4; ++c) EXPECT_EQ(out[c], 0) << red;
                continue;
            }
            EXPECT_NEAR(out[3], std::min(e.alpha, 65535.0), 1.0) << red;
            const double source[3] = {flags ? 1000.0 : 20000.0, flags ? 2000.0 : 10000.0, flags ? 3000.0 : 5000.0};
            for (int c = 0; c < 3; ++c) {
                const double v = std::clamp(pixel[c] + (source[c] - kCyan[c]) * e.fraction, 0.0, 65535.0);
                EXPECT_NEAR(out[c], v, 1.0) << red << " channel " << c;
            }
        }
    }
}

TEST(ThresholdKeyer, HalfwayBetweenInnerAndMiddleIsHalfTheMatte) {
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
    VantreloRT keyer;
    keyer.compile(&state);
    // Distance 0.15 of full scale: R = 0.15 * sqrt(6) / 2 * 65535.
    const float red = float(0.15 * kRoot6 / 2.0 * 65535.0);
    const float pixel[3] = {red, 32768, 32768};
    float out[4];
    keyer.keyPixel(pixel, pixel, nullptr, out, &state);
    EXPECT_NEAR(out[3], 32767.5f, 0.5f);
    // Spill: a quarter of the way from inner to outer, three quarters of the correction remain.
    EXPECT_NEAR(out[0], red + 1000.0f * 0.75f, 0.5f);
    EXPECT_NEAR(out[1], 32768.0f + (2000.0f - 32768.0f) * 0.75f, 0.5f);
}

TEST(ThresholdKeyer, SinglePixelPathMatchesTheRunAndLimitsOnlyTheStoredAlpha) {
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
    VantreloRT keyer;
    keyer.compile(&state);
    for (std::uint16_t red : {8000, 12040, 28090, 50000, 65535}) {
        const std::uint16_t pixel16[4] = {red, 32768, 32768, 0};
        std::uint16_t out16[4];
        keyer.keySpan(pixel16, pixel16, nullptr, out16, &state);
        const float pixel[3] = {float(red), 32768, 32768};
        float out[4];
        keyer.keyPixel(pixel, pixel, nullptr, out, &state);
        EXPECT_GE(out[3], 0.0f);
        EXPECT_LE(out[3], 65535.0f);
        EXPECT_NEAR(out[3], out16[3], 1.0f) << red;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], out16[c], 1.0f) << red;
        // The three-zone view sees the raw alpha: beyond the middle threshold it exceeds 65535.
        float view[4];
        const std::int32_t zone = keyer.keyPixelAlpha(pixel, pixel, nullptr, view, &state);
        if (expectedFor(red, state).alpha > 65536.0) {
            EXPECT_EQ(zone, 0);
            EXPECT_GT(view[2], 65535.0f);
        }
    }
}

TEST(ThresholdKeyer, MaskedRunScalesTheMatteAndKeepsTheCorrectedColour) {
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid | KeyFlagGarbageMask);
    VantreloRT keyer;
    keyer.compile(&state);
    const std::uint16_t pixel[4] = {28090, 32768, 32768, 0};
    std::uint16_t plain[4];
    keyer.keyPixels(pixel, pixel, nullptr, plain, &state, 1, state.flags);
    ASSERT_EQ(plain[3], 65535);
    struct Case {
        std::uint16_t mask;
        std::uint16_t alpha;
    };
    const Case cases[] = {{0, 65535}, {32768, 32766}, {65535, 0}};
    for (const Case& c : cases) {
        const std::uint16_t mask[4] = {0, c.mask, 0, 0};
        std::uint16_t out[4];
        keyer.keyPixelsMasked(pixel, pixel, nullptr, mask, out, &state, 1, state.flags);
        EXPECT_NEAR(out[3], c.alpha, 1) << c.mask;
        for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(out[ch], plain[ch], 1) << c.mask;
    }
    std::uint16_t out[4];
    keyer.keyPixelsMasked(pixel, pixel, nullptr, nullptr, out, &state, 1, state.flags);
    EXPECT_EQ(std::memcmp(out, plain, sizeof out), 0);
}

TEST(ThresholdKeyer, SeparateKeyPixelDecidesTransparencyFirst) {
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
    state.backdropTolerance16 = 656.0f;
    VantreloRT keyer;
    keyer.compile(&state);
    const std::uint16_t colour[4] = {28090, 32768, 32768, 0};
    const std::uint16_t nearBackdrop[4] = {300, 32900, 32500, 0};  // within the tolerance of 656
    const std::uint16_t farKey[4] = {28090, 32768, 32768, 0};
    std::uint16_t out[4];
    keyer.keyPixels(colour, nearBackdrop, nullptr, out, &state, 1, state.flags);
    EXPECT_EQ(out[3], 0);
    keyer.keyPixels(colour, farKey, nullptr, out, &state, 1, state.flags);
    EXPECT_EQ(out[3], 65535);
    // A colour one unit from the backdrop in every channel keys transparent on its own test.
    const std::uint16_t almostBackdrop[4] = {0, 32768, 32768, 0};
    keyer.keyPixels(almostBackdrop, farKey, nullptr, out, &state, 1, state.flags);
    EXPECT_EQ(out[3], 0);
}

TEST(ThresholdKeyer, DegenerateRampsAreTheStepAtOneFullUnit) {
    struct Case {
        float inner, middle;
    };
    const Case cases[] = {{0.2f, 0.2f}, {0.0f, 0.0f}, {0.2f, 0.19999995f}, {0.3f, 0.30000004f}, {0.0f, 5e-8f}};
    for (const Case& c : cases) {
        KeyState state = cyanState(c.inner, c.middle, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
        VantreloRT keyer;
        keyer.compile(&state);
        EXPECT_EQ(keyer.matteSlope, 268435456.0f) << c.inner << " " << c.middle;
        EXPECT_EQ(keyer.matteOffset16, -268435456.0f * 65535.0f);
        // Only colours a whole unit beyond the backdrop's chroma survive: saturated red does, a
        // strongly red-shifted cyan does not.
        const std::uint16_t pixels[8] = {60000, 32768, 32768, 0, 65535, 0, 0, 0};
        std::uint16_t out[8];
        keyer.keyPixels(pixels, pixels, nullptr, out, &state, 2, state.flags);
        EXPECT_EQ(out[3], 0);
        EXPECT_EQ(out[7], 65535);
    }
    // A span a few times the bound is an ordinary, very steep ramp at the inner threshold.
    KeyState steep = cyanState(0.2f, 0.2000005f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
    VantreloRT keyer;
    keyer.compile(&steep);
    const float span = steep.thresholds[1] - steep.thresholds[0];
    ASSERT_GT(span, 1e-7f);
    EXPECT_EQ(keyer.matteSlope, 1.0f / span);
    const std::uint16_t pixel[4] = {16055, 32768, 32768, 0};  // two units past the inner threshold
    std::uint16_t out[4];
    keyer.keyPixels(pixel, pixel, nullptr, out, &steep, 1, steep.flags);
    EXPECT_EQ(out[3], 65535);
}

// Below a chroma of 1e-5 the backdrop has no direction and every colour measures the same distance;
// just above it the direction counts, however small the chroma.
TEST(ThresholdKeyer, BackdropDirectionNeedsAChromaOfAtLeast1e5) {
    struct Case {
        float green;    // backdrop (30000, green, 30000): chroma 0.8165 x (green - 30000) / 65535
        bool magentaKept;
    };
    const Case cases[] = {{30000.0f, false}, {30000.5f, false}, {30002.0f, true}, {30010.0f, true}};
    for (const Case& c : cases) {
        KeyState state = cyanState(0, 0, 0, KeyFlagUseRT | KeyFlagSpillSolid);
        VantreloRT keyer;
        keyer.setBackdrop(30000.0f, c.green, 30000.0f, &state);
        keyer.compile(&state);
        const std::uint16_t magenta[4] = {65535, 0, 65535, 0};
        std::uint16_t out[4];
        keyer.keyPixels(magenta, magenta, nullptr, out, &state, 1, state.flags);
        EXPECT_EQ(out[3] > 0, c.magentaKept) << c.green;
    }
}

TEST(ThresholdKeyer, GreyBackdropKeysEverythingTransparent) {
    KeyState state = cyanState(0, 0, 0, KeyFlagUseRT | KeyFlagSpillSolid);
    VantreloRT keyer;
    keyer.setBackdrop(30000, 30000, 30000, &state);
    keyer.compile(&state);
    const std::uint16_t pixels[12] = {65535, 0, 0, 0, 0, 65535, 0, 0, 5000, 60000, 20000, 0};
    std::uint16_t out[12];
    keyer.keyPixels(pixels, pixels, nullptr, out, &state, 3, state.flags);
    for (std::uint16_t v : out) EXPECT_EQ(v, 0);
}

TEST(ThresholdKeyer, BlackBackdropKeepsEveryOtherPixel) {
    KeyState state = cyanState(0, 0, 0, KeyFlagUseRT | KeyFlagSpillSolid);
    testing_keys::setReplacementColour(state, 0, 0, 0);
    VantreloRT keyer;
    keyer.setBackdrop(0, 0, 0, &state);
    EXPECT_EQ(state.thresholds[1], 1.732f);
    keyer.compile(&state);
    const std::uint16_t pixels[12] = {0, 0, 0, 0, 0, 0, 1, 0, 30000, 200, 7, 0};
    std::uint16_t out[12];
    keyer.keyPixels(pixels, pixels, nullptr, out, &state, 3, state.flags);
    const std::uint16_t expected[12] = {0, 0, 0, 0, 0, 0, 1, 65535, 30000, 200, 7, 65535};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(ThresholdKeyer, SampleToolsMoveTheThresholdsToTheSamples) {
    // Sample (R, 32768, 32768) lies at distance 2R / sqrt(6) / 65535 of full scale.
    auto d = [](double red) { return float(distanceOf(red) / 65535.0); };
    using Tool = void (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    struct Case {
        Tool tool;
        std::uint16_t red;
        float inner, middle, outer;
    };
    const Case cases[] = {
        {&VantreloBase::growInner, 8000, d(8000), 0.25f, 0.45f},
        {&VantreloBase::growInner, 1000, 0.05f, 0.25f, 0.45f},  // already inside
        {&VantreloBase::growOuter, 40000, 0.05f, 0.25f, d(40000)},
        {&VantreloBase::growMiddle, 30000, 0.05f, d(30000), 0.45f},
        {&VantreloBase::growMiddle, 40000, 0.05f, d(40000), d(40000)},
        {&VantreloBase::shrinkOuter, 16055, 0.05f, d(16055), d(16055)},
        {&VantreloBase::shrinkInner, 2000, d(2000), 0.25f, 0.45f},
        {&VantreloBase::shrinkMiddle, 500, d(500), d(500), 0.45f},  // nesting lowers the inner value
        {&VantreloBase::shrinkMiddle, 30000, 0.05f, 0.25f, 0.45f},  // beyond: nothing
    };
    for (const Case& c : cases) {
        KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT);
        VantreloRT keyer;
        const std::uint16_t samples[8] = {c.red, 32768, 32768, 0, 0, 32768, 32768, 0};
        // The second sample is the backdrop (distance 0): it decides the shrink tools' lowest value
        // only when listed, so pass it to the grow tools alone.
        const bool growing = c.tool == &VantreloBase::growInner || c.tool == &VantreloBase::growOuter ||
                             c.tool == &VantreloBase::growMiddle;
        (keyer.*c.tool)(samples, growing ? 2 : 1, &state);
        EXPECT_NEAR(state.thresholds[0], c.inner, 2e-6f) << c.red;
        EXPECT_NEAR(state.thresholds[1], c.middle, 2e-6f) << c.red;
        EXPECT_NEAR(state.thresholds[2], c.outer, 2e-6f) << c.red;
    }
    // A sample beyond the backdrop's own chroma measures below 0 and counts as 0.
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT);
    VantreloRT keyer;
    const std::uint16_t deepCyan[4] = {0, 50000, 50000, 0};
    keyer.shrinkInner(deepCyan, 1, &state);
    EXPECT_EQ(state.thresholds[0], 0.0f);
}

TEST(ThresholdKeyer, ShrinkingTheMiddleBelowTheInnerMakesTheHardStep) {
    KeyState state = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT | KeyFlagSpillSolid);
    VantreloRT keyer;
    const std::uint16_t sample[4] = {1000, 32768, 32768, 0};
    keyer.applyShrinkMiddle(sample, 1, &state);
    EXPECT_EQ(state.thresholds[0], state.thresholds[1]);
    EXPECT_GT(state.thresholds[0], 0.0f);
    keyer.compile(&state);
    const std::uint16_t pixels[8] = {50000, 32768, 32768, 0, 65535, 0, 0, 0};
    std::uint16_t out[8];
    keyer.keyPixels(pixels, pixels, nullptr, out, &state, 2, state.flags);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[7], 65535);
}

// Each rule compares and writes in its order, the second comparison reading the value just written.
TEST(ThresholdKeyer, NestingRules) {
    using Rule = void (VantreloBase::*)(KeyState*);
    struct Case {
        Rule rule;
        float before[3];
        float after[3];
    };
    const Case cases[] = {
        {&VantreloBase::nestFromInner, {0.5f, 0.3f, 0.4f}, {0.5f, 0.5f, 0.5f}},
        {&VantreloBase::nest, {0.5f, 0.3f, 0.4f}, {0.5f, 0.5f, 0.5f}},
        {&VantreloBase::nestFromMiddle, {0.5f, 0.3f, 0.1f}, {0.3f, 0.3f, 0.3f}},
        {&VantreloBase::nestFromOuter, {0.4f, 0.5f, 0.3f}, {0.3f, 0.3f, 0.3f}},
        {&VantreloBase::nestFromOuter, {0.1f, 0.2f, 0.3f}, {0.1f, 0.2f, 0.3f}},
    };
    for (const Case& c : cases) {
        KeyState state = cyanState(c.before[0], c.before[1], c.before[2], KeyFlagUseRT);
        VantreloRT keyer;
        (keyer.*c.rule)(&state);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(state.thresholds[i], c.after[i]) << i;
    }
}

TEST(ThresholdKeyer, StepsFineTuneAndInterpolation) {
    using Step = std::int32_t (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    struct Case {
        Step step;
        float before[3];
        float after[3];
    };
    const Case cases[] = {
        {&VantreloBase::growOuterBy, {0.05f, 0.25f, 0.99f}, {0.05f, 0.25f, 1.03f}},  // no upper bound
        {&VantreloBase::shrinkOuterBy, {0.05f, 0.25f, 0.27f}, {0.05f, 0.25f, 0.25f}},  // nested up again
        {&VantreloBase::growMiddleBy, {0.05f, 0.25f, 0.27f}, {0.05f, 0.29f, 0.29f}},
        {&VantreloBase::shrinkMiddleBy, {0.05f, 0.08f, 0.45f}, {0.05f, 0.05f, 0.45f}},
        {&VantreloBase::growInnerBy, {0.24f, 0.25f, 0.45f}, {0.28f, 0.28f, 0.45f}},
        {&VantreloBase::shrinkInnerBy, {0.03f, 0.25f, 0.45f}, {0.0f, 0.25f, 0.45f}},
    };
    const std::uint16_t sample[4] = {1, 2, 3, 0};
    for (const Case& c : cases) {
        KeyState state = cyanState(c.before[0], c.before[1], c.before[2], KeyFlagUseRT);
        VantreloRT keyer;
        EXPECT_EQ((keyer.*c.step)(sample, 1, &state), 1);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(state.thresholds[i], c.after[i], 1e-6f) << i;
    }

    KeyState state = cyanState(0.5f, 0.5f, 0.97f, KeyFlagUseRT);
    VantreloRT keyer;
    keyer.growOuterStep(nullptr, 0, &state);
    EXPECT_EQ(state.thresholds[2], 1.0f);
    state.thresholds[2] = 0.5f;
    keyer.applyGrowOuterStep(sample, 1, &state);
    EXPECT_FLOAT_EQ(state.thresholds[2], 0.56f);

    KeyState tuned = cyanState(0.05f, 0.25f, 0.45f, KeyFlagUseRT);
    EXPECT_EQ(keyer.beginFineTune(sample, &tuned), 1);
    keyer.fineTuneOuter(0.7f, &tuned);
    EXPECT_NEAR(tuned.thresholds[2], 0.65f, 1e-6f);
    keyer.fineTuneOuter(0.5f, &tuned);  // the snapshot is unchanged by the sliders
    EXPECT_NEAR(tuned.thresholds[2], 0.45f, 1e-6f);
    keyer.fineTuneMiddle(0.6f, &tuned);
    EXPECT_NEAR(tuned.thresholds[1], 0.35f, 1e-6f);
    keyer.fineTuneMiddle(0.3f, &tuned);  // 0.05, then nested from the inner value
    EXPECT_NEAR(tuned.thresholds[1], 0.05f, 1e-6f);
    keyer.fineTuneInner(0.0f, &tuned);
    EXPECT_EQ(tuned.thresholds[0], 0.0f);

    KeyState a = cyanState(0.0f, 0.2f, 0.4f, KeyFlagUseRT), b = cyanState(0.4f, 0.6f, 0.8f, KeyFlagUseRT);
    KeyState out = cyanState(9, 9, 9, 0);
    keyer.interpolate(&out, &a, &b, 0.25f);
    EXPECT_FLOAT_EQ(out.thresholds[0], 0.1f);
    EXPECT_FLOAT_EQ(out.thresholds[1], 0.3f);
    EXPECT_FLOAT_EQ(out.thresholds[2], 0.5f);
}

}  // namespace
}  // namespace vantrelo
