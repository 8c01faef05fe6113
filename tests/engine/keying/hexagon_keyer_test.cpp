// The chroma-hexagon keyer.  Colours are placed by their key coordinates: for a chromatic backdrop
// K the frame's rows are orthonormal, so K + X n_luma + Y n_across + D n_along has luma difference
// X, cross coordinate Y and key distance D (16-bit units).
#include "engine/keying/hexagon_keyer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "engine/keying/threshold_keyer.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

constexpr float kBackdrop[3] = {10000.0f, 50000.0f, 20000.0f};

KeyState stateWith(const float (&triples)[7][3], std::uint32_t flags) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    std::copy(kBackdrop, kBackdrop + 3, state.backdrop);
    for (int k = 0; k < 7; ++k)
        for (int i = 0; i < 3; ++i) state.hexagonRadii[3 * k + i] = triples[k][i];
    state.flags = flags;
    state.backdropTolerance16 = 1.0f;
    testing_keys::setReplacementColour(state, 30000, 1000, 40000);
    return state;
}

KeyState uniformState(float a, float b, float c, std::uint32_t flags) {
    float triples[7][3];
    for (auto& t : triples) {
        t[0] = a;
        t[1] = b;
        t[2] = c;
    }
    return stateWith(triples, flags);
}

void colourAt(const VantreloRTPlus& keyer, const KeyState& state, double x, double y, double d, float* out) {
    for (int c = 0; c < 3; ++c)
        out[c] = float(state.backdrop[c] + x * keyer.lumaScale + y * keyer.perpendicularRow[c] + d * keyer.alongRow[c]);
}

TEST(HexagonKeyer, SectorsOfTheKeyCoordinates) {
    struct Case {
        float x, y;
        int sector;
    };
    const Case cases[] = {{1, 1, 0},  {1, 2, 1},  {0, 1, 1},   {-1, 2, 2},  {-1, 1, 2}, {0, 0, 3}, {1, 0, 3},
                          {1, -1, 3}, {1, -2, 3}, {0, -1, 4},  {-1, -2, 4}, {-1, -1, 5}, {-1, 0, 5}};
    for (const Case& c : cases) EXPECT_EQ(VantreloRTPlus::sectorOf(c.x, c.y), c.sector) << c.x << " " << c.y;
}

TEST(HexagonKeyer, StartingValuesFollowTheBackdrop) {
    struct Case {
        float g;
        float rb;
        std::int32_t mode;
        float centre, vertex;
    };
    const double h = std::sqrt(0.5 + 1.0 / 6.0);
    const Case cases[] = {
        {65535, 0, KeyerModeChromatic, float(h), float(h)},
        {0, 0, KeyerModeDarkGrey, 1.732f, 0.866f},
        {10000, 10000, KeyerModeDarkGrey, float((1 - 10000 / 65535.0) * 1.732), float((0.5 - 10000 / 65535.0) * 1.732)},
        {50000, 50000, KeyerModeLightGrey, float(50000 / 65535.0 * 1.732), float((50000 / 65535.0 - 0.5) * 1.732)},
    };
    for (const Case& c : cases) {
        KeyState state = uniformState(0, 0, 0, 0);
        VantreloRTPlus keyer;
        keyer.setBackdrop(c.rb, c.g, c.rb, &state);
        EXPECT_EQ(keyer.mode, c.mode);
        for (int k = 0; k < 7; ++k) {
            EXPECT_EQ(state.hexagonRadii[3 * k], 0.05f);
            EXPECT_NEAR(state.hexagonRadii[3 * k + 1], k == 0 ? c.centre : c.vertex, 1e-6f) << c.g << " " << k;
            EXPECT_EQ(state.hexagonRadii[3 * k + 2], state.hexagonRadii[3 * k + 1]);
        }
    }
}

TEST(HexagonKeyer, UniformHexagonKeysLikeTheThresholdKeyer) {
    // Equal triples everywhere reduce the hexagon keyer to the threshold keyer's ramps.
    for (std::uint32_t mask : {0u, std::uint32_t{KeyFlagGarbageMask}}) {
        KeyState state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagSpillSolid | mask);
        state.thresholds[0] = 0.05f;
        state.thresholds[1] = 0.25f;
        state.thresholds[2] = 0.45f;
        VantreloRTPlus hexagon;
        VantreloRT threshold;
        hexagon.compile(&state);
        threshold.compile(&state);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> channel(0, 65535);
        constexpr int kCount = 400;
        std::uint16_t pixels[4 * kCount], masks[4 * kCount], a[4 * kCount], b[4 * kCount];
        for (int i = 0; i < kCount; ++i) {
            // Half the pixels near the backdrop, so that every zone is visited.
            for (int c = 0; c < 3; ++c) {
                const int spread = i % 2 ? 65535 : 12000;
                pixels[4 * i + c] = std::uint16_t(std::clamp(int(kBackdrop[c]) + channel(random) % spread - spread / 2, 0, 65535));
            }
            pixels[4 * i + 3] = 65535;
            masks[4 * i + 1] = std::uint16_t(channel(random));
        }
        hexagon.keyPixels(pixels, pixels, nullptr, mask ? masks : nullptr, a, &state, kCount, state.flags);
        if (mask)
            threshold.keyPixelsMasked(pixels, pixels, nullptr, masks, b, &state, kCount, state.flags);
        else
            threshold.keyPixels(pixels, pixels, nullptr, b, &state, kCount, state.flags);
        int partial = 0;
        for (int i = 0; i < kCount; ++i) {
            EXPECT_NEAR(a[4 * i + 3], b[4 * i + 3], 2) << i;
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[4 * i + c], b[4 * i + c], 2) << i << " channel " << c;
            if (b[4 * i + 3] > 0 && b[4 * i + 3] < 65535) ++partial;
        }
        EXPECT_GT(partial, 10);
    }
}

TEST(HexagonKeyer, EveryCornerKeysWithItsOwnTriple) {
    // At hexagon point k the inner value is T_k's and the matte slope 65535 over T_k's middle span;
    // the spill value likewise over its outer span.  Distinct triples catch any mix-up of sectors.
    const float triples[7][3] = {{0.05f, 0.25f, 0.45f}, {0.10f, 0.40f, 0.50f}, {0.02f, 0.30f, 0.70f},
                                 {0.20f, 0.35f, 0.60f}, {0.08f, 0.18f, 0.28f}, {0.15f, 0.65f, 0.90f},
                                 {0.01f, 0.11f, 0.61f}};
    const double corners[7][2] = {{0, 0},       {131070, 0},       {65535, 131070}, {-65535, 131070},
                                  {-131070, 0}, {-65535, -131070}, {65535, -131070}};
    KeyState state = stateWith(triples, KeyFlagSpillSolid);
    VantreloRTPlus keyer;
    keyer.compile(&state);
    ASSERT_EQ(keyer.mode, KeyerModeChromatic);
    for (int k = 0; k < 7; ++k) {
        const double a = triples[k][0], b = triples[k][1], c = triples[k][2];
        for (double share : {0.25, 0.5, 0.9}) {
            const double d = 65535.0 * (a + share * (b - a));
            float pixel[3], out[4];
            colourAt(keyer, state, corners[k][0], corners[k][1], d, pixel);
            keyer.keyPixel(pixel, pixel, nullptr, out, &state);
            EXPECT_NEAR(out[3], share * 65535.0, 2.0) << "corner " << k << " share " << share;
            const double s = share * (b - a) / (c - a);
            const double fraction = 1.0 - s;
            EXPECT_NEAR(out[1], pixel[1] + (1000.0 - kBackdrop[1]) * fraction, 2.0) << "corner " << k;
        }
        float pixel[3], out[4];
        colourAt(keyer, state, corners[k][0], corners[k][1], 65535.0 * a - 200.0, pixel);
        keyer.keyPixel(pixel, pixel, nullptr, out, &state);
        EXPECT_EQ(out[3], 0.0f) << "corner " << k;
    }
}

TEST(HexagonKeyer, InnerValueIsInterpolatedAcrossSectorBoundaries) {
    // The matte starts where D reaches 65535 times the inner surface: halfway along an edge that is
    // the mean of its two end values, from whichever side the colour comes.
    const float triples[7][3] = {{0.05f, 0.25f, 0.45f}, {0.15f, 0.55f, 0.80f}, {0.09f, 0.30f, 0.70f},
                                 {0.30f, 0.50f, 0.60f}, {0.08f, 0.18f, 0.28f}, {0.12f, 0.65f, 0.90f},
                                 {0.01f, 0.11f, 0.61f}};
    KeyState state = stateWith(triples, KeyFlagSpillSolid);
    VantreloRTPlus keyer;
    keyer.compile(&state);
    struct Case {
        double x, y;
        double inner;
    };
    const Case cases[] = {
        {65535, 0, (0.05 + 0.15) / 2},       {65535, 3, (0.05 + 0.15) / 2},     // T0-T1, sectors 3 and 0
        {32767.5, 65535, (0.05 + 0.09) / 2}, {32767.4, 65535, (0.05 + 0.09) / 2},  // T0-T2, sectors 1 and 0
        {-65535, -1, (0.05 + 0.08) / 2},     {0, 131070, (0.09 + 0.30) / 2},    // T0-T4; T2-T3
    };
    for (const Case& c : cases) {
        float below[3], above[3], out[4];
        colourAt(keyer, state, c.x, c.y, 65535.0 * c.inner - 40.0, below);
        colourAt(keyer, state, c.x, c.y, 65535.0 * c.inner + 40.0, above);
        keyer.keyPixel(below, below, nullptr, out, &state);
        EXPECT_EQ(out[3], 0.0f) << c.x << " " << c.y;
        keyer.keyPixel(above, above, nullptr, out, &state);
        EXPECT_GT(out[3], 0.0f) << c.x << " " << c.y;
    }
}

TEST(HexagonKeyer, NarrowSpansKeyWithTheMinimumSpan) {
    for (float middle : {0.1f, 0.105f, 0.05f}) {  // span 0, below 1/64, negative
        KeyState state = uniformState(0.1f, middle, 0.5f, KeyFlagSpillSolid);
        VantreloRTPlus keyer;
        keyer.compile(&state);
        float pixel[3], out[4];
        colourAt(keyer, state, 0, 0, 65535.0 * 0.1 + 100.0, pixel);
        keyer.keyPixel(pixel, pixel, nullptr, out, &state);
        EXPECT_NEAR(out[3], 6400.0f, 1.0f) << middle;
    }
}

TEST(HexagonKeyer, GreyBackdropsMeasureAlongTheGreyAxis) {
    struct Case {
        float backdrop;
        float grey;  // pixel (grey, grey, grey)
        std::int32_t mode;
    };
    const Case cases[] = {{10000, 30000, KeyerModeDarkGrey}, {50000, 20000, KeyerModeLightGrey}};
    for (const Case& c : cases) {
        KeyState state = uniformState(0, 0, 0, KeyFlagSpillSolid);
        testing_keys::setReplacementColour(state, 1000, 1000, 1000);
        VantreloRTPlus keyer;
        keyer.setBackdrop(c.backdrop, c.backdrop, c.backdrop, &state);
        keyer.compile(&state);
        ASSERT_EQ(keyer.mode, c.mode);
        const double distance = c.mode == KeyerModeDarkGrey ? 3.0 * c.grey / std::sqrt(3.0)
                                                            : std::sqrt(3.0) * (65535.0 - c.grey);
        const double a = state.hexagonRadii[0], b = state.hexagonRadii[1];
        const double alpha = std::clamp((distance - 65535.0 * a) / (b - a), 0.0, 65535.0);
        const std::uint16_t pixel[4] = {std::uint16_t(c.grey), std::uint16_t(c.grey), std::uint16_t(c.grey), 0};
        std::uint16_t out[4];
        keyer.keyPixels(pixel, pixel, nullptr, nullptr, out, &state, 1, state.flags);
        EXPECT_NEAR(out[3], alpha, 2.0);
        // Dark grey adds the spill colour itself, light grey its difference from the backdrop.
        const double fraction = 1.0 - alpha / 65535.0;  // outer = middle
        const double added = c.mode == KeyerModeDarkGrey ? 1000.0 : 1000.0 - c.backdrop;
        EXPECT_NEAR(out[0], std::clamp(c.grey + added * fraction, 0.0, 65535.0), 2.0);
    }
}

TEST(HexagonKeyer, BlackBackdropKeysEveryPixelOpaque) {
    KeyState state = uniformState(0, 0, 0, KeyFlagSpillSolid);
    VantreloRTPlus keyer;
    keyer.setBackdrop(0, 0, 0, &state);
    EXPECT_EQ(keyer.mode, KeyerModeDarkGrey);
    keyer.compile(&state);
    EXPECT_EQ(keyer.mode, KeyerModeBlack);
    const std::uint16_t pixels[8] = {0, 0, 0, 5, 1200, 30000, 65535, 5};
    std::uint16_t out[8];
    keyer.keyPixels(pixels, pixels, nullptr, nullptr, out, &state, 2, state.flags);
    const std::uint16_t expected[8] = {0, 0, 0, 65535, 1200, 30000, 65535, 65535};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]) << i;
    const float black[3] = {0, 0, 0};
    float single[4];
    keyer.keyPixel(black, black, nullptr, single, &state);
    EXPECT_EQ(single[3], 65535.0f);
    // The garbage mask still removes what it covers.
    const std::uint16_t mask[8] = {0, 65535, 0, 0, 0, 32768, 0, 0};
    keyer.keyPixels(pixels, pixels, nullptr, mask, out, &state, 2, state.flags);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[7], 32767);
    EXPECT_EQ(out[4], 1200);
}

TEST(HexagonKeyer, SurfaceToolsFitTheirValueGroupThroughTheSample) {
    // Sample at o1 = 0.15, o2 = 0.05: hexagon triangle 0 (T0, T1, T2) with barycentric weights
    // 0.825, 0.125, 0.05.
    using Tool = void (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    struct Case {
        Tool tool;
        int group;
        bool grow;
        double distance;
    };
    const Case cases[] = {
        {&VantreloBase::growInner, 0, true, 0.15},   {&VantreloBase::growMiddle, 1, true, 0.35},
        {&VantreloBase::growOuter, 2, true, 0.6},    {&VantreloBase::growOuterStep, 2, true, 0.6},
        {&VantreloBase::shrinkInner, 0, false, 0.02}, {&VantreloBase::shrinkMiddle, 1, false, 0.15},
        {&VantreloBase::shrinkOuter, 2, false, 0.35},
    };
    for (const Case& c : cases) {
        KeyState state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
        VantreloRTPlus keyer;
        keyer.compile(&state);
        float colour[3];
        colourAt(keyer, state, 0.3 * 65535, 0.1 * 65535, c.distance * 65535, colour);
        std::uint16_t sample[4];
        for (int i = 0; i < 3; ++i) sample[i] = std::uint16_t(std::lround(colour[i]));
        sample[3] = 0;
        const KeyState before = state;
        (keyer.*c.tool)(sample, 1, &state);
        // The surface's value under the sample: T0, T1 and T2 weighted by the barycentric weights.
        const double weights[3] = {0.825, 0.125, 0.05};
        double value = 0.0;
        for (int k = 0; k < 3; ++k) value += weights[k] * state.hexagonRadii[3 * k + c.group];
        if (c.grow)
            EXPECT_GE(value, c.distance - 2e-3) << c.group;
        else
            EXPECT_LE(value, c.distance + 2e-3) << c.group;
        for (int k = 0; k < 7; ++k) {
            const float* t = state.hexagonRadii + 3 * k;
            EXPECT_LE(t[0], t[1]) << k;
            EXPECT_LE(t[1], t[2]) << k;
            if (k >= 3) {
                EXPECT_EQ(t[c.group], before.hexagonRadii[3 * k + c.group]) << k;
            }
        }
    }
}

// The tools place a sample with chromaMetric, the keying with its key coordinates; the two must
// name the same point of the hexagon in every frame, or a grown inner surface would rise away from
// the sample.  Off-centre samples make the corners' share matter; the grey frames are the only
// place where chromaMetric's grey branch meets the keying.
TEST(HexagonKeyer, SurfaceToolsMoveTheSurfaceWhereTheKeyingMeasures) {
    struct Case {
        float backdrop[3];
        float middle;
        std::uint16_t sample[4];
        std::int32_t mode;
    };
    const Case cases[] = {
        {{10000, 50000, 20000}, 0.6f, {47832, 53408, 24164, 0}, KeyerModeChromatic},
        {{10000, 10000, 10000}, 0.95f, {20000, 60000, 4000, 0}, KeyerModeDarkGrey},
        {{10000, 10000, 10000}, 0.95f, {5000, 50000, 45000, 0}, KeyerModeDarkGrey},
        {{50000, 50000, 50000}, 0.98f, {60000, 65000, 20000, 0}, KeyerModeLightGrey},
    };
    for (const Case& c : cases) {
        KeyState state = uniformState(0.05f, c.middle, 1.0f, KeyFlagSpillSolid);
        std::copy(c.backdrop, c.backdrop + 3, state.backdrop);
        VantreloRTPlus keyer;
        keyer.compile(&state);
        ASSERT_EQ(keyer.mode, c.mode);
        const float pixel[3] = {float(c.sample[0]), float(c.sample[1]), float(c.sample[2])};
        float out[4];
        keyer.keyPixel(pixel, pixel, nullptr, out, &state);
        ASSERT_GT(out[3], 0.1f * 65535.0f) << c.sample[0];  // an edge pixel to start with
        ASSERT_LT(out[3], 0.95f * 65535.0f) << c.sample[0];

        KeyState grown = state;
        keyer.growInner(c.sample, 1, &grown);
        keyer.compile(&grown);
        keyer.keyPixel(pixel, pixel, nullptr, out, &grown);
        EXPECT_LT(out[3], 0.02f * 65535.0f) << "grown inner, sample " << c.sample[0];

        KeyState shrunk = state;
        keyer.shrinkMiddle(c.sample, 1, &shrunk);
        keyer.compile(&shrunk);
        keyer.keyPixel(pixel, pixel, nullptr, out, &shrunk);
        EXPECT_GT(out[3], 0.98f * 65535.0f) << "shrunk middle, sample " << c.sample[0];
    }
}

// Two routes agree: the single-pixel rule (double precision) and the run keying (single
// precision) give the same matte and colour for a spill-source pixel, in each frame and with
// triples that differ from corner to corner.  The grey frames differ in how the spill source is
// taken: its difference from the backdrop (light grey) or the colour itself (dark grey).
TEST(HexagonKeyer, SinglePixelRuleAndRunKeyingAgreeInEveryFrame) {
    const float triples[7][3] = {{0.05f, 0.45f, 0.7f}, {0.1f, 0.5f, 0.8f}, {0.02f, 0.4f, 0.9f}, {0.2f, 0.55f, 0.6f},
                                 {0.08f, 0.38f, 0.68f}, {0.15f, 0.65f, 0.9f}, {0.01f, 0.31f, 0.71f}};
    struct Case {
        float backdrop[3];
        std::int32_t mode;
    };
    const Case cases[] = {{{10000, 50000, 20000}, KeyerModeChromatic},
                          {{12000, 12000, 12000}, KeyerModeDarkGrey},
                          {{52000, 52000, 52000}, KeyerModeLightGrey}};
    std::mt19937 random(13);
    std::uniform_int_distribution<int> channel(0, 65535);
    for (const Case& c : cases) {
        KeyState state = stateWith(triples, 0);
        std::copy(c.backdrop, c.backdrop + 3, state.backdrop);
        VantreloRTPlus keyer;
        keyer.compile(&state);
        ASSERT_EQ(keyer.mode, c.mode);
        int partial = 0;
        for (int i = 0; i < 600; ++i) {
            std::uint16_t pixel[4], spill[4], out[4];
            for (int ch = 0; ch < 3; ++ch) {
                pixel[ch] = std::uint16_t(channel(random));
                spill[ch] = std::uint16_t(channel(random));
            }
            pixel[3] = spill[3] = 0;
            keyer.keyPixels(pixel, pixel, spill, nullptr, out, &state, 1, state.flags);
            const float p[3] = {float(pixel[0]), float(pixel[1]), float(pixel[2])};
            const float b[3] = {float(spill[0]), float(spill[1]), float(spill[2])};
            float single[4];
            keyer.keyPixelClamped(p, p, b, single, &state);
            for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(single[ch], out[ch], 1.5f) << "mode " << c.mode << " channel " << ch;
            partial += out[3] > 0 && out[3] < 65535;
        }
        EXPECT_GT(partial, 30) << "mode " << c.mode;
    }
}

// Each surface tool ends with its own nesting rule, applied to every triple: a triple far from the
// sample shows which one ran.
TEST(HexagonKeyer, SurfaceToolsNestEveryTripleByTheirRule) {
    using Tool = void (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    enum Rule { FromInner, FromMiddle, FromOuter };
    struct Case {
        Tool tool;
        Rule rule;
    };
    const Case cases[] = {
        {&VantreloBase::shrinkMiddle, FromMiddle}, {&VantreloBase::shrinkInner, FromInner},
        {&VantreloBase::shrinkOuter, FromOuter},   {&VantreloBase::growOuter, FromOuter},
        {&VantreloBase::growOuterStep, FromOuter}, {&VantreloBase::growInner, FromInner},
        {&VantreloBase::growMiddle, FromMiddle},
    };
    const float expected[3] = {0.5f, 0.3f, 0.1f};  // T4 after nesting from the inner, middle, outer value
    for (const Case& c : cases) {
        KeyState state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
        float* t4 = state.hexagonRadii + 3 * 4;
        t4[0] = 0.5f, t4[1] = 0.3f, t4[2] = 0.1f;  // upside down, and away from the sample's triangle
        VantreloRTPlus keyer;
        keyer.compile(&state);
        float colour[3];
        colourAt(keyer, state, 0.3 * 65535, 0.1 * 65535, 0.3 * 65535, colour);
        std::uint16_t sample[4] = {0, 0, 0, 0};
        for (int i = 0; i < 3; ++i) sample[i] = std::uint16_t(std::lround(colour[i]));
        (keyer.*c.tool)(sample, 1, &state);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(t4[i], expected[c.rule]) << "rule " << c.rule << " value " << i;
    }
}

TEST(HexagonKeyer, VertexWeightsFollowTheSectorOfTheMeanColour) {
    // Key coordinates (X, Y) in 0..1 units, one point per sector and one near the centre.
    struct Case {
        double x, y;
        float weights[7];
    };
    const Case cases[] = {
        {0.25, 0.1, {0.3f, 1, 1, 0, 0, 0, 0}},   {0.0, 0.25, {0.3f, 0, 1, 1, 0, 0, 0}},
        {-0.25, 0.1, {0.3f, 0, 0, 1, 1, 0, 0}},  {0.25, -0.1, {0.3f, 1, 0, 0, 0, 0, 1}},
        {0.0, -0.25, {0.3f, 0, 0, 0, 0, 1, 1}},  {-0.25, -0.1, {0.3f, 0, 0, 0, 1, 1, 0}},
        {0.1, 0.1, {1.0f, 0, 0, 0, 0, 0, 0}},
    };
    KeyState state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
    const float backdrop[3] = {32768.0f, 40000.0f, 30000.0f};
    std::copy(backdrop, backdrop + 3, state.backdrop);
    VantreloRTPlus keyer;
    keyer.compile(&state);
    ASSERT_EQ(keyer.mode, KeyerModeChromatic);
    for (const Case& c : cases) {
        float colour[3];
        colourAt(keyer, state, c.x * 65535.0, c.y * 65535.0, 0.0, colour);
        std::uint16_t sample[4] = {0, 0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            ASSERT_GE(colour[i], 0.0f);
            ASSERT_LE(colour[i], 65535.0f);
            sample[i] = std::uint16_t(std::lround(colour[i]));
        }
        keyer.computeVertexWeights(sample, 1);
        for (int k = 0; k < 7; ++k) EXPECT_EQ(keyer.vertexWeights[k], c.weights[k]) << c.x << " " << c.y << " W" << k;
    }
}

TEST(HexagonKeyer, OuterStepIsTheOuterGrowth) {
    KeyState a = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus), b = a;
    const std::uint16_t samples[8] = {30000, 20000, 50000, 0, 34000, 21000, 48000, 0};
    VantreloRTPlus one, two;
    one.growOuter(samples, 2, &a);
    two.growOuterStep(samples, 2, &b);
    EXPECT_EQ(std::memcmp(a.hexagonRadii, b.hexagonRadii, sizeof a.hexagonRadii), 0);
    EXPECT_NE(std::memcmp(a.hexagonRadii, uniformState(0.05f, 0.25f, 0.45f, 0).hexagonRadii, sizeof a.hexagonRadii), 0);
}

TEST(HexagonKeyer, LocalStepsAndFineTuneMoveTheWeightedTriples) {
    KeyState state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
    VantreloRTPlus keyer;
    keyer.compile(&state);
    float nearColour[3], farColour[3];
    colourAt(keyer, state, 0.05 * 65535, 0.05 * 65535, 0.1 * 65535, nearColour);
    colourAt(keyer, state, 0.3 * 65535, 0.1 * 65535, 0.1 * 65535, farColour);  // sector 0
    std::uint16_t nearSample[4], farSample[4];
    for (int i = 0; i < 3; ++i) {
        nearSample[i] = std::uint16_t(std::lround(nearColour[i]));
        farSample[i] = std::uint16_t(std::lround(farColour[i]));
    }
    nearSample[3] = farSample[3] = 0;

    EXPECT_EQ(keyer.growOuterBy(nearSample, 1, &state), 1);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k + 2], k == 0 ? 0.49f : 0.45f, 1e-6f) << k;

    state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
    keyer.growMiddleBy(farSample, 1, &state);
    const float weights[7] = {0.3f, 1, 1, 0, 0, 0, 0};
    for (int k = 0; k < 7; ++k) {
        EXPECT_NEAR(state.hexagonRadii[3 * k + 1], 0.25f + 0.04f * weights[k], 1e-6f) << k;
        EXPECT_NEAR(state.hexagonRadii[3 * k + 2], std::max(0.45f, 0.25f + 0.04f * weights[k]), 1e-6f) << k;
    }
    keyer.shrinkInnerBy(farSample, 1, &state);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k], std::max(0.0f, 0.05f - 0.04f * weights[k]), 1e-6f);
    keyer.shrinkInnerBy(farSample, 1, &state);  // 0.01 - 0.04 stops at 0
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k], std::max(0.0f, 0.05f - 0.08f * weights[k]), 1e-6f);
    EXPECT_EQ(keyer.shrinkInnerBy(farSample, 0, &state), -1);

    state = uniformState(0.05f, 0.25f, 0.45f, KeyFlagUseRTPlus);
    EXPECT_EQ(keyer.beginFineTune(farSample, &state), 1);
    keyer.fineTuneOuter(0.7f, &state);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k + 2], 0.45f + 0.2f * weights[k], 1e-6f) << k;
    keyer.fineTuneOuter(0.5f, &state);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k + 2], 0.45f, 1e-6f) << k;
    keyer.fineTuneInner(0.0f, &state);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(state.hexagonRadii[3 * k], std::max(0.0f, 0.05f - 0.5f * weights[k]), 1e-6f);
    keyer.fineTuneMiddle(1.0f, &state);
    for (int k = 0; k < 7; ++k) {
        EXPECT_NEAR(state.hexagonRadii[3 * k + 1], 0.25f + 0.5f * weights[k], 1e-6f);
        EXPECT_GE(state.hexagonRadii[3 * k + 2], state.hexagonRadii[3 * k + 1]);
    }
}

TEST(HexagonKeyer, SmallOperations) {
    KeyState a = uniformState(0.0f, 0.2f, 0.4f, 0), b = uniformState(0.4f, 0.6f, 0.8f, 0);
    KeyState out = uniformState(9, 9, 9, 0);
    VantreloRTPlus keyer;
    keyer.interpolate(&out, &a, &b, 0.25f);
    for (int k = 0; k < 7; ++k) {
        EXPECT_FLOAT_EQ(out.hexagonRadii[3 * k], 0.1f);
        EXPECT_FLOAT_EQ(out.hexagonRadii[3 * k + 1], 0.3f);
        EXPECT_FLOAT_EQ(out.hexagonRadii[3 * k + 2], 0.5f);
    }
    EXPECT_EQ(keyer.setInnerAt(0.3f, 6, &out), 1);
    EXPECT_EQ(out.hexagonRadii[18], 0.3f);
    EXPECT_EQ(keyer.setMiddleAt(0.3f, 7, &out), -1);
    EXPECT_EQ(keyer.setOuterAt(0.3f, -1, &out), -1);
    EXPECT_EQ(keyer.setOuterAt(0.7f, 0, &out), 1);
    EXPECT_EQ(out.hexagonRadii[2], 0.7f);

    keyer.compile(&a);
    const double points[6][2] = {{0.3, 0.1}, {0.0, 0.3}, {-0.3, 0.1}, {0.3, -0.1}, {0.0, -0.3}, {-0.3, -0.1}};
    const float colours[6][3] = {{65535, 0, 0},     {0, 65535, 0},     {0, 0, 65535},
                                 {65535, 65535, 0}, {65535, 0, 65535}, {0, 65535, 65535}};
    for (int s = 0; s < 6; ++s) {
        float pixel[3], colour[4];
        colourAt(keyer, a, points[s][0] * 65535, points[s][1] * 65535, 0, pixel);
        keyer.sectorColour(pixel[0], pixel[1], pixel[2], colour);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(colour[c], colours[s][c]) << s;
        EXPECT_EQ(colour[3], 65535.0f);
    }
}

}  // namespace
}  // namespace vantrelo
