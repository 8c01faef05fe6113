// The interface shared by the alternative keyers: frame, classification, the 16.16 store, the
// three-zone matte view, the tool entry points, the engine-wide instances and compiled objects.
#include "engine/keying/keyer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/keying/fine_tune.h"
#include "engine/keying/hexagon_keyer.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/sampling_tools.h"
#include "engine/keying/threshold_keyer.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

KeyState freshState() {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    state.backdropTolerance16 = 1.0f;
    return state;
}

// A keyer that records what the base class asks of it and keys every pixel with a fixed alpha, so
// that the base's own operations can be watched in isolation.
class RecordingKeyer final : public VantreloBase {
public:
    std::vector<std::string> calls;
    std::vector<std::uint16_t> lastSamples;
    float backdropSet[3] = {-1, -1, -1};
    float alpha = 0.0f;
    float colour = 100.0f;

    void setBackdrop(float r, float g, float b, KeyState*) override {
        calls.push_back("setBackdrop");
        backdropSet[0] = r;
        backdropSet[1] = g;
        backdropSet[2] = b;
    }
    void record(const char* name, const std::uint16_t* s, std::ptrdiff_t n) {
        calls.push_back(name);
        lastSamples.assign(s, s + 4 * n);
    }
    void shrinkMiddle(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("shrinkMiddle", s, n); }
    void shrinkInner(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("shrinkInner", s, n); }
    void shrinkOuter(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("shrinkOuter", s, n); }
    void growOuter(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("growOuter", s, n); }
    void growOuterStep(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("growOuterStep", s, n); }
    void growInner(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("growInner", s, n); }
    void growMiddle(const std::uint16_t* s, std::ptrdiff_t n, KeyState*) override { record("growMiddle", s, n); }
    void nest(KeyState*) override { calls.push_back("nest"); }
    void nestFromInner(KeyState*) override { calls.push_back("nestFromInner"); }
    void nestFromMiddle(KeyState*) override { calls.push_back("nestFromMiddle"); }
    void nestFromOuter(KeyState*) override { calls.push_back("nestFromOuter"); }
    void compile(const KeyState*) override { calls.push_back("compile"); }
    void keySpan(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, std::uint16_t*,
                 const KeyState*) const override {}
    void interpolate(KeyState*, const KeyState*, const KeyState*, float) override {}
    std::int32_t growOuterBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t shrinkOuterBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t growMiddleBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t shrinkMiddleBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t growInnerBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t shrinkInnerBy(const std::uint16_t*, std::ptrdiff_t, KeyState*) override { return 1; }
    std::int32_t beginFineTune(const std::uint16_t*, KeyState*) override { return 1; }
    void fineTuneOuter(float, KeyState*) override {}
    void fineTuneMiddle(float, KeyState*) override {}
    void fineTuneInner(float, KeyState*) override {}

protected:
    void keyPixelUnlimited(const float*, const float*, const float*, float* out, const KeyState*) const override {
        out[0] = -colour;  // below the range: keyPixelClamped must lift it to 0
        out[1] = colour;
        out[2] = 70000.0f;  // above the range
        out[3] = alpha;
    }
};

TEST(KeyerFrame, BackdropClassification) {
    struct Case {
        float r, g, b;
        std::int32_t mode;
    };
    const Case cases[] = {
        {32768, 32768, 32768, KeyerModeLightGrey},
        {32767, 32767, 32767, KeyerModeDarkGrey},
        {0, 0, 0, KeyerModeDarkGrey},
        {65535, 65535, 65535, KeyerModeLightGrey},
        {0, 65535, 0, KeyerModeChromatic},
        {30000, 32000, 30000, KeyerModeDarkGrey},  // chroma about 0.025: still grey
        {20000, 30000, 20000, KeyerModeChromatic},
        // Chroma is 0.8165 x (G - R) / 65535 here: 0.055 and 0.045 on either side of the 0.05 bound.
        {30000, 34415, 30000, KeyerModeChromatic},
        {30000, 33612, 30000, KeyerModeLightGrey},
    };
    RecordingKeyer keyer;
    for (const Case& c : cases) {
        KeyState state = freshState();
        state.backdrop[0] = c.r;
        state.backdrop[1] = c.g;
        state.backdrop[2] = c.b;
        keyer.classifyBackdrop(&state);
        EXPECT_EQ(keyer.mode, c.mode) << c.r << " " << c.g << " " << c.b;
    }
}

TEST(KeyerFrame, ChromaticFrameMeasuresAgainstTheBackdrop) {
    // The threshold keyer compiles the chromatic frame in every mode; read it back through
    // chromaMetric: the backdrop has distance 0, any grey the backdrop's chroma h, and the frame's
    // rows are orthonormal, so a colour's distance grows one for one along the backdrop direction.
    VantreloRT keyer;
    KeyState state = freshState();
    keyer.setBackdrop(10000, 50000, 20000, &state);
    keyer.compile(&state);
    ASSERT_EQ(keyer.mode, KeyerModeChromatic);
    const float k = 1.0f / 65535.0f;
    float o1, o2, o3;
    keyer.chromaMetric(10000 * k, 50000 * k, 20000 * k, &o1, &o2, &o3);
    EXPECT_NEAR(o1, 0.0f, 1e-6f);
    EXPECT_NEAR(o2, 0.0f, 1e-6f);
    EXPECT_NEAR(o3, 0.0f, 1e-6f);
    const double u = (20000.0 - 50000.0) / 65535.0 / std::sqrt(2.0);
    const double v = (50000.0 + 20000.0 - 20000.0) / 65535.0 / std::sqrt(6.0);
    const double h = std::sqrt(u * u + v * v);
    EXPECT_NEAR(keyer.backdropChroma, h, 1e-6);
    keyer.chromaMetric(0.3f, 0.3f, 0.3f, &o1, &o2, &o3);
    EXPECT_NEAR(o3, h, 1e-6);
    EXPECT_NEAR(o2, 0.0f, 1e-6f);  // greys lie on the backdrop's own chroma line
    // Luma: o1 is half the distance along the grey axis from the backdrop's level.
    keyer.chromaMetric((10000 + 600) * k, (50000 + 600) * k, (20000 + 600) * k, &o1, &o2, &o3);
    EXPECT_NEAR(o1, 0.5 * std::sqrt(3.0) * 600 / 65535.0, 1e-6);
    EXPECT_NEAR(o3, 0.0f, 1e-6f);
}

TEST(KeyerFrame, FrameConstantsAreTheSinglePrecisionComputation) {
    volatile float two = 2.0f, three = 3.0f;  // computed at run time, not folded
    const float root2 = 1.0f / std::sqrt(static_cast<float>(two));
    const float root3 = 1.0f / std::sqrt(static_cast<float>(three));
    EXPECT_EQ(keyer_detail::kInvRoot2, root2);
    EXPECT_EQ(keyer_detail::kInvRoot3, root3);
    EXPECT_EQ(keyer_detail::kInvRoot6, root2 * root3);
}

TEST(KeyerFrame, ToFixed16) {
    struct Case {
        float x;
        bool fixed;
        float expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {1.0f, true, 65536.0f},         {-0.5f, true, -32768.0f},       {10000.0f, true, 268435456.0f},
        {-10000.0f, true, -268435456.0f}, {nan, true, -268435456.0f},  {1.5e-5f, true, 0.0f},
        {1.0f, false, 1.0f},            {10000.0f, false, 10000.0f},    {-0.123f, false, -0.123f},
    };
    for (const Case& c : cases) {
        float out = 0.0f;
        toFixed16(&out, c.x, c.fixed);
        EXPECT_EQ(out, c.expected) << c.x << " " << c.fixed;
    }
    float out = 0.0f;
    toFixed16(&out, nan, false);
    EXPECT_TRUE(std::isnan(out));
}

TEST(KeyerInterface, KeyPixelAlphaClassifiesTheRawAlpha) {
    struct Case {
        float alpha;
        std::int32_t result;
        float rgb[3];
        float storedAlpha;  // what keyPixel itself stores
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {65535.5f, 65535, {65535, 65535, 65535}, 65535.0f},
        {0.9f, 0, {0, 0, 0}, 0.9f},
        {30000.7f, 0, {0, 0, 30000}, 30000.7f},
        {70000.0f, 0, {0, 0, 70000}, 65535.0f},  // raw alpha above full scale: the edge zone
        {-5.0f, 0, {0, 0, -5}, 0.0f},
        {nan, 0, {0, 0, 0}, 0.0f},
        {1e30f, 0, {0, 0, 2147483647.0f}, 65535.0f},
    };
    KeyState state = freshState();
    const float pixel[3] = {1, 2, 3};
    for (const Case& c : cases) {
        RecordingKeyer keyer;
        keyer.alpha = c.alpha;
        float out[4];
        EXPECT_EQ(keyer.keyPixelAlpha(pixel, pixel, nullptr, out, &state), c.result) << c.alpha;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], c.rgb[i]) << c.alpha << " channel " << i;
        if (!std::isnan(c.alpha)) {
            EXPECT_EQ(out[3], c.alpha);
        }
        keyer.keyPixel(pixel, pixel, nullptr, out, &state);
        EXPECT_EQ(out[3], c.storedAlpha) << c.alpha;
        keyer.keyPixelClamped(pixel, pixel, nullptr, out, &state);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 100.0f);
        EXPECT_EQ(out[2], 65535.0f);
    }
}

// With a separate key colour the pixel itself is tested too, against a threshold of one unit: a
// pixel on the backdrop colour is transparent however opaque its key colour is.  Both keyers, the
// single-pixel rule and the run keying.
TEST(KeyerInterface, APixelOnTheBackdropIsTransparentWhateverItsKeyColour) {
    KeyState state = freshState();
    state.backdrop[0] = 0.0f, state.backdrop[1] = 32768.0f, state.backdrop[2] = 32768.0f;
    state.flags = KeyFlagSpillSolid;
    const float values[3] = {0.05f, 0.25f, 0.45f};
    for (int i = 0; i < 3; ++i) state.thresholds[i] = values[i];
    for (int k = 0; k < 7; ++k)
        for (int i = 0; i < 3; ++i) state.hexagonRadii[3 * k + i] = values[i];
    VantreloRT threshold;
    VantreloRTPlus hexagon;
    for (VantreloBase* keyer : {static_cast<VantreloBase*>(&threshold), static_cast<VantreloBase*>(&hexagon)}) {
        keyer->compile(&state);
        const float key[3] = {65535.0f, 0.0f, 0.0f};
        float out[4];
        keyer->keyPixel(key, key, nullptr, out, &state);
        ASSERT_EQ(out[3], 65535.0f);  // the key colour alone is opaque
        const float nearBackdrop[3] = {0.4f, 32768.6f, 32767.5f};
        keyer->keyPixel(nearBackdrop, key, nullptr, out, &state);
        for (float v : out) EXPECT_EQ(v, 0.0f);

        const std::uint16_t key16[4] = {65535, 0, 0, 0}, backdrop16[4] = {0, 32768, 32768, 0};
        std::uint16_t out16[4];
        keyer->keySpan(key16, key16, nullptr, out16, &state);
        ASSERT_EQ(out16[3], 65535);
        keyer->keySpan(backdrop16, key16, nullptr, out16, &state);
        for (std::uint16_t v : out16) EXPECT_EQ(v, 0);
    }
}

TEST(KeyerInterface, ToolEntryPointsCallTheirOperationsAndNesting) {
    using Entry = std::int32_t (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    struct Case {
        Entry entry;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {&VantreloBase::applyGrowInner, {"growInner", "nestFromInner"}},
        {&VantreloBase::applyShrinkOuter, {"shrinkOuter", "nestFromOuter"}},
        {&VantreloBase::applyShrinkMiddle, {"shrinkMiddle", "nestFromMiddle"}},
        {&VantreloBase::applyShrinkInner, {"shrinkInner"}},
        {&VantreloBase::applyGrowMiddle, {"growMiddle"}},
        {&VantreloBase::applyGrowOuter, {"growOuter"}},
        {&VantreloBase::applyGrowOuterStep, {"growOuterStep"}},
        {&VantreloBase::initFromSamples, {"setBackdrop", "growInner"}},
    };
    const std::uint16_t samples[8] = {1, 2, 3, 0, 2, 3, 4, 0};
    for (const Case& c : cases) {
        KeyState state = freshState();
        RecordingKeyer keyer;
        EXPECT_EQ((keyer.*c.entry)(samples, 0, &state), -1);
        EXPECT_TRUE(keyer.calls.empty());
        EXPECT_EQ((keyer.*c.entry)(samples, 2, &state), 1);
        EXPECT_EQ(keyer.calls, c.calls);
    }
}

TEST(KeyerInterface, MeanSampleOfTheOuterStepAndTheInitialBackdrop) {
    KeyState state = freshState();
    RecordingKeyer keyer;
    const std::uint16_t samples[8] = {1, 2, 3, 9, 2, 3, 4, 9};
    keyer.applyGrowOuterStep(samples, 2, &state);
    ASSERT_EQ(keyer.lastSamples.size(), 4u);  // one sample
    EXPECT_EQ(keyer.lastSamples[0], 1);        // 1.5 truncated
    EXPECT_EQ(keyer.lastSamples[1], 2);
    EXPECT_EQ(keyer.lastSamples[2], 3);
    keyer.initFromSamples(samples, 2, &state);
    EXPECT_EQ(keyer.backdropSet[0], 1.5f);  // not truncated
    EXPECT_EQ(keyer.backdropSet[1], 2.5f);
    EXPECT_EQ(keyer.backdropSet[2], 3.5f);
    EXPECT_EQ(keyer.lastSamples.size(), 8u);  // growInner sees the whole list
}

TEST(KeyerInterface, RealKeyersIgnoreEmptyToolCalls) {
    // count 0 neither compiles nor changes the state.
    VantreloBase* keyers[] = {engineThresholdKeyer(), engineHexagonKeyer()};
    using Entry = std::int32_t (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    const Entry entries[] = {&VantreloBase::applyGrowInner,   &VantreloBase::applyShrinkOuter,
                             &VantreloBase::applyShrinkMiddle, &VantreloBase::applyShrinkInner,
                             &VantreloBase::applyGrowMiddle,   &VantreloBase::applyGrowOuter,
                             &VantreloBase::applyGrowOuterStep, &VantreloBase::initFromSamples,
                             &VantreloBase::growOuterBy,        &VantreloBase::shrinkOuterBy,
                             &VantreloBase::growMiddleBy,       &VantreloBase::shrinkMiddleBy,
                             &VantreloBase::growInnerBy,        &VantreloBase::shrinkInnerBy};
    const std::uint16_t sample[4] = {1000, 2000, 3000, 0};
    for (VantreloBase* keyer : keyers) {
        ASSERT_NE(keyer, nullptr);
        KeyState state = freshState();
        state.backdrop[1] = 40000.0f;
        const float frameBefore = keyer->lumaOffset;
        const KeyState before = state;
        for (Entry entry : entries) EXPECT_EQ((keyer->*entry)(sample, 0, &state), -1);
        EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
        EXPECT_EQ(keyer->lumaOffset, frameBefore);
    }
}

TEST(EngineKeyers, InitKeyStateCreatesEachInstanceOnce) {
    KeyState a;
    std::memset(&a, 0, sizeof a);
    initKeyState(&a);
    const std::int32_t created = engineKeyerCreationCount();
    VantreloBase* hexagon = engineHexagonKeyer();
    VantreloBase* threshold = engineThresholdKeyer();
    KeyState b;
    std::memset(&b, 0, sizeof b);
    initKeyState(&b);
    initKeyState(&a);
    EXPECT_EQ(created, 2);
    EXPECT_EQ(engineKeyerCreationCount(), 2);
    EXPECT_EQ(engineHexagonKeyer(), hexagon);
    EXPECT_EQ(engineThresholdKeyer(), threshold);
    EXPECT_NE(dynamic_cast<VantreloRTPlus*>(hexagon), nullptr);
    EXPECT_NE(dynamic_cast<VantreloRT*>(threshold), nullptr);
}

TEST(EngineKeyers, FreshRecordsCarryBothKeyersDefaults) {
    // initKeyState starts from the black backdrop: dark-grey starting values.
    KeyState state;
    std::memset(&state, 0xab, sizeof state);
    initKeyState(&state);
    EXPECT_EQ(state.thresholds[0], 0.05f);
    EXPECT_EQ(state.thresholds[1], 1.732f);
    EXPECT_EQ(state.thresholds[2], 1.732f);
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(state.hexagonRadii[3 * k], 0.05f) << k;
        const float expected = k == 0 ? 1.732f : 0.866f;
        EXPECT_EQ(state.hexagonRadii[3 * k + 1], expected) << k;
        EXPECT_EQ(state.hexagonRadii[3 * k + 2], expected) << k;
    }
    EXPECT_EQ(state.backdrop[0], 0.0f);
}

TEST(CompiledKeyers, SelectionFollowsTheFlagsAndBothFlagsMeanTheHexagonKeyer) {
    struct Case {
        std::uint32_t flags;
        bool threshold, hexagon;
        std::uint32_t flagsAfter;
    };
    const Case cases[] = {
        {0, false, false, 0},
        {KeyFlagSpillSolid, false, false, KeyFlagSpillSolid},
        {KeyFlagUseRT, true, false, KeyFlagUseRT},
        {KeyFlagUseRTPlus | KeyFlagGarbageMask, false, true, KeyFlagUseRTPlus | KeyFlagGarbageMask},
        {KeyFlagUseRTPlus | KeyFlagUseRT, false, true, KeyFlagUseRTPlus},
    };
    for (const Case& c : cases) {
        KeyState state = freshState();
        state.flags = c.flags;
        VantreloBase* keyer = createCompiledKeyer(&state);
        EXPECT_EQ(dynamic_cast<VantreloRT*>(keyer) != nullptr, c.threshold) << c.flags;
        EXPECT_EQ(dynamic_cast<VantreloRTPlus*>(keyer) != nullptr, c.hexagon) << c.flags;
        EXPECT_EQ(state.flags, c.flagsAfter);
        EXPECT_NE(keyer, engineHexagonKeyer());
        EXPECT_NE(keyer, engineThresholdKeyer());
        destroyKeyer(keyer);
    }
}

TEST(CompiledKeyers, RunKeyingUsesTheStatesOwnObject) {
    // Two states with different backdrops compiled one after the other: each keys with its own
    // coefficients, whatever the engine-wide instance was compiled with last.
    KeyState green = freshState(), blue = freshState();
    green.flags = blue.flags = KeyFlagUseRT | KeyFlagSpillSolid;
    engineThresholdKeyer()->setBackdrop(0, 40000, 0, &green);
    engineThresholdKeyer()->setBackdrop(0, 0, 40000, &blue);
    green.keyer = createCompiledKeyer(&green);
    blue.keyer = createCompiledKeyer(&blue);
    const std::uint16_t pixels[8] = {0, 40000, 0, 65535, 0, 0, 40000, 65535};
    std::uint16_t outGreen[8], outBlue[8];
    ASSERT_TRUE(keyRunRT(pixels, pixels, nullptr, outGreen, 2, &green, green.flags));
    ASSERT_TRUE(keyRunRTMasked(pixels, pixels, nullptr, nullptr, outBlue, 2, &blue, blue.flags));
    EXPECT_EQ(outGreen[3], 0);      // green keyed away by the green key
    EXPECT_EQ(outGreen[7], 65535);  // blue kept
    EXPECT_EQ(outBlue[3], 65535);
    EXPECT_EQ(outBlue[7], 0);
    // A mask run scales the matte by (65535 - its green) / 65535 and leaves the colour.
    const std::uint16_t mask[8] = {0, 0, 0, 0, 0, 32768, 0, 0};
    std::uint16_t masked[8];
    ASSERT_TRUE(keyRunRTMasked(pixels, nullptr, nullptr, mask, masked, 2, &green, green.flags));
    EXPECT_EQ(masked[3], 0);
    EXPECT_NEAR(masked[7], 32767, 1);
    for (int c = 4; c < 7; ++c) EXPECT_EQ(masked[c], outGreen[c]) << c;
    // The wrong class or no object: nothing written.
    std::uint16_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(keyRunRTPlus(pixels, pixels, nullptr, nullptr, untouched, 2, &green, green.flags));
    KeyState none = freshState();
    EXPECT_FALSE(keyRunRT(pixels, pixels, nullptr, untouched, 2, &none, 0));
    for (std::uint16_t v : untouched) EXPECT_EQ(v, 7);
    destroyKeyer(green.keyer);
    destroyKeyer(blue.keyer);
}

// Backdrop distance of a colour in 0..1 units, worked in double precision from the colour frame's
// definition: the backdrop's chroma minus the colour's chroma along the backdrop's direction.
double backdropDistance(const float* backdrop, const std::uint16_t* colour) {
    auto chroma = [](double r, double g, double b, double* u, double* v) {
        *u = (b - g) / 65535.0 / std::sqrt(2.0);
        *v = (g + b - 2.0 * r) / 65535.0 / std::sqrt(6.0);
    };
    double uB, vB, u, v;
    chroma(backdrop[0], backdrop[1], backdrop[2], &uB, &vB);
    chroma(colour[0], colour[1], colour[2], &u, &v);
    const double h = std::hypot(uB, vB);
    return h - (uB * u + vB * v) / h;
}

// The whole road of a threshold key through the engine: started from the backdrop colour, shaped by
// a list tool, a step tool and a fine-tune slider, compiled, and keyed by the installed span
// callback.  The thresholds and the matte and spill of pixels inside, between and beyond them
// follow from the samples alone.
TEST(AlternativeKeyerRoad, ThresholdKeyFromBackdropToKeyedPixels) {
    initPolyhedronTables();
    KeyState state = freshState();
    state.flags = KeyFlagUseRT | KeyFlagSpillSolid;
    testing_keys::setReplacementColour(state, 40000, 30000, 20000);
    const std::uint16_t green[4] = {6000, 52000, 9000, 0};
    setBackdropColour(green, &state);
    const double h = backdropDistance(state.backdrop, std::array<std::uint16_t, 4>{32768, 32768, 32768, 0}.data());
    EXPECT_NEAR(state.thresholds[0], 0.05, 1e-7);
    EXPECT_NEAR(state.thresholds[1], h, 1e-6);
    EXPECT_NEAR(state.thresholds[2], h, 1e-6);

    // Sampled near-backdrop colours raise the inner threshold to the farthest of them.
    const std::uint16_t samples[12] = {9000, 47000, 12000, 0, 7000, 50000, 14000, 0, 12000, 46000, 9000, 0};
    double farthest = 0.0;
    for (int i = 0; i < 3; ++i) farthest = std::max(farthest, backdropDistance(state.backdrop, samples + 4 * i));
    ASSERT_GT(farthest, 0.05);
    growInnerToSamples(samples, 3, 1, &state);
    EXPECT_NEAR(state.thresholds[0], farthest, 1e-6);
    // A step widens the spill zone; the middle slider then moves the middle threshold from its
    // value at the pick, and nesting carries the outer one along.
    const Sample16 pick = {{30000, 20000, 40000, 0}};
    growOuterAtColour(pick, &state);
    EXPECT_NEAR(state.thresholds[2], h + 0.04, 1e-6);
    ASSERT_EQ(beginFineTune(pick, &state), 1);
    fineTuneMiddle(0.55f, &state, 1);
    EXPECT_NEAR(state.thresholds[1], h + 0.05, 1e-6);
    EXPECT_NEAR(state.thresholds[2], h + 0.05, 1e-6);

    ASSERT_EQ(compileKey(&state), 1);
    ASSERT_NE(state.keySpan16Callback, nullptr);
    const double ti = state.thresholds[0], tm = state.thresholds[1], to = state.thresholds[2];
    std::vector<std::uint16_t> pixels;
    for (double t : {0.0, 0.05, 0.15, 0.3, 0.45, 0.6, 0.75, 0.9, 1.0}) {  // from the backdrop towards magenta
        const double target[3] = {60000, 5000, 60000};
        for (int c = 0; c < 3; ++c) pixels.push_back(std::uint16_t(std::lround(green[c] + t * (target[c] - green[c]))));
        pixels.push_back(65535);
    }
    const std::ptrdiff_t n = std::ptrdiff_t(pixels.size() / 4);
    std::vector<std::uint16_t> out(pixels.size());
    state.keySpan16Callback(pixels.data(), pixels.data(), nullptr, nullptr, out.data(), n, &state, state.flags);
    int transparent = 0, partial = 0, opaque = 0;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        const std::uint16_t* p = &pixels[4 * i];
        const std::uint16_t* o = &out[4 * i];
        const double d = backdropDistance(state.backdrop, p) * 65535.0;
        const double alpha = std::clamp((d - 65535.0 * ti) / (tm - ti), 0.0, 65535.0);
        if (alpha < 1.0 || (p[0] == green[0] && p[1] == green[1] && p[2] == green[2])) {
            ++transparent;
            for (int c = 0; c < 4; ++c) EXPECT_EQ(o[c], 0) << "pixel " << i;
            continue;
        }
        alpha < 65534.0 ? ++partial : ++opaque;
        EXPECT_NEAR(o[3], alpha, 2.0) << "pixel " << i;
        const double s = (d - 65535.0 * ti) / (to - ti);
        const double fraction = std::clamp(65536.0 - s, 0.0, 65535.0) / 65535.0;
        for (int c = 0; c < 3; ++c) {
            const double v = std::clamp(p[c] + (state.replacementColour[c] - double(state.backdrop[c])) * fraction, 0.0, 65535.0);
            EXPECT_NEAR(o[c], v, 2.0) << "pixel " << i << " channel " << c;
        }
    }
    EXPECT_GE(transparent, 2);
    EXPECT_GE(partial, 2);
    EXPECT_GE(opaque, 2);
    releaseKey(&state);
}

// The same road for the hexagon keyer, where the thresholds vary over the hexagon: sampled colours
// end inside the inner surface, a far colour stays opaque, the fine-tuned triples stay nested, and
// the installed callback keys with the state's own object.
TEST(AlternativeKeyerRoad, HexagonKeyFromBackdropToKeyedPixels) {
    initPolyhedronTables();
    KeyState state = freshState();
    state.flags = KeyFlagUseRTPlus | KeyFlagSpillSolid;
    const std::uint16_t green[4] = {6000, 52000, 9000, 0};
    setBackdropColour(green, &state);
    const std::uint16_t samples[12] = {9000, 47000, 12000, 0, 7000, 50000, 14000, 0, 12000, 46000, 9000, 0};
    growInnerToSamples(samples, 3, 1, &state);
    const Sample16 pick = {{30000, 20000, 40000, 0}};
    growOuterAtColour(pick, &state);
    ASSERT_EQ(beginFineTune(pick, &state), 1);
    fineTuneMiddle(0.55f, &state, 1);
    for (int k = 0; k < 7; ++k) {
        const float* t = state.hexagonRadii + 3 * k;
        EXPECT_LE(t[0], t[1]) << k;
        EXPECT_LE(t[1], t[2]) << k;
    }

    ASSERT_EQ(compileKey(&state), 1);
    ASSERT_NE(state.keySpan16Callback, nullptr);
    std::vector<std::uint16_t> pixels(samples, samples + 12);
    const std::uint16_t far[8] = {60000, 5000, 60000, 0, 50000, 20000, 30000, 0};
    pixels.insert(pixels.end(), far, far + 8);
    for (double t : {0.2, 0.3, 0.4, 0.5}) {  // from the backdrop towards magenta: the edge zone
        const double target[3] = {60000, 5000, 60000};
        for (int c = 0; c < 3; ++c) pixels.push_back(std::uint16_t(std::lround(green[c] + t * (target[c] - green[c]))));
        pixels.push_back(0);
    }
    const std::ptrdiff_t n = std::ptrdiff_t(pixels.size() / 4);
    std::vector<std::uint16_t> out(pixels.size()), own(pixels.size());
    state.keySpan16Callback(pixels.data(), pixels.data(), nullptr, nullptr, out.data(), n, &state, state.flags);
    for (std::ptrdiff_t i = 0; i < n; ++i) state.keyer->keySpan(&pixels[4 * i], &pixels[4 * i], nullptr, &own[4 * i], &state);
    EXPECT_EQ(out, own);
    for (int i = 0; i < 3; ++i) EXPECT_LT(out[4 * i + 3], 0.02 * 65535) << "sample " << i;
    EXPECT_EQ(out[4 * 3 + 3], 65535);
    EXPECT_EQ(out[4 * 4 + 3], 65535);
    int partial = 0;
    for (std::ptrdiff_t i = 5; i < n; ++i) partial += out[4 * i + 3] > 0 && out[4 * i + 3] < 65535;
    EXPECT_GE(partial, 1);
    releaseKey(&state);
}

}  // namespace
}  // namespace vantrelo
