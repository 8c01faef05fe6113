// The adapter's state and its keying and softening calls.  Keying results are checked against the
// engine's own entry points on copies of the same state ("two routes agree"), so these tests catch
// a wrong state, argument order, alpha rule or radius rule in the adapter, not the keying itself.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/effects/defocus.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/processing.h"
#include "engine/keying/two_key.h"
#include "host/system/exceptions.h"
#include "plugin/vantrelo_wrapper.h"
#include "tests/plugin/adapter_test_support.h"

namespace vantrelo {
namespace {

using adapter_test::sameBytes;
using adapter_test::shapeSet;

constexpr std::uint32_t kSpillBits = KeyFlagSpillComplement | KeyFlagSpillSolid;

TEST(EngineAdapter, StartsWithEqualResetStatesAndDefaultSettings) {
    CVantreloBridge bridge;
    const KeyStateSet& set = bridge.keyStates;
    for (const KeyState* state : {&set.keyState, &set.edgeState, &set.bodyState}) {
        EXPECT_EQ(state->flags, std::uint32_t{KeyFlagSpillComplement | KeyFlagDirectCallbacks});
        EXPECT_EQ(state->replacementColour[0], 32767);
        EXPECT_EQ(state->replacementColour[1], 32767);
        EXPECT_EQ(state->replacementColour[2], 32767);
        EXPECT_EQ(state->replacementColour[3], 65535);
        EXPECT_EQ(state->label1[0], '\0');
        EXPECT_EQ(state->label2[0], '\0');
        EXPECT_EQ(state->auxValue2, 5);
        EXPECT_EQ(state->simGridSize, 12);
    }
    EXPECT_EQ(set.keyState.extShapes, set.extShapeLayers);
    EXPECT_EQ(set.keyState.obeyShapes, set.obeyShapeLayers);
    EXPECT_EQ(set.extShapeLayers[0], nullptr);
    EXPECT_EQ(set.hybrid, 0);
    EXPECT_EQ(set.softenRadius, 0);
    EXPECT_EQ(set.shrinkAmount, 0.0f);
    EXPECT_EQ(set.blurInward, 0);
    EXPECT_EQ(set.keyingInset.left | set.keyingInset.right | set.keyingInset.top | set.keyingInset.bottom, 0);

    EXPECT_EQ(bridge.floatMaximum, 1.0f);
    EXPECT_EQ(bridge.autoMaskRadius, 40.0f);
    EXPECT_EQ(bridge.lightWrapBrightness, 1.0f);
    EXPECT_EQ(bridge.lightWrapRadius, 0.0f);
    EXPECT_EQ(bridge.lightWrapOn, 0);
    EXPECT_EQ(bridge.autoMaskEnabled | bridge.autoMaskJustEnabled | bridge.fitEnabled | bridge.fitJustEnabled, 0);
    EXPECT_TRUE(bridge.backdropTransform.isIdentity());
    EXPECT_TRUE(bridge.foregroundTransform.isIdentity());
    EXPECT_TRUE(bridge.overlayTransform.isIdentity());
    EXPECT_EQ(bridge.averageColour[0] | bridge.averageColour[1] | bridge.averageColour[2], 0);
    EXPECT_EQ(bridge.samplePending, 0);
    EXPECT_EQ(bridge.sampleMode, SampleSelect);
}

TEST(EngineAdapter, ResetSettingsRestoresEverythingButLightWrapOn) {
    CVantreloBridge bridge;
    shapeSet(bridge.keyStates);
    bridge.keyStates.softenRadius = 7;
    bridge.keyStates.hybrid = 1;
    bridge.keyStates.keyState.flags |= KeyFlagGrainFilter;
    std::strcpy(bridge.keyStates.bodyState.label1, "body");
    bridge.autoMaskEnabled = bridge.autoMaskJustEnabled = bridge.fitEnabled = bridge.fitJustEnabled = 1;
    bridge.autoMaskRadius = 55.0f;
    bridge.lightWrapOn = 1;
    bridge.lightWrapRadius = 12.0f;
    bridge.lightWrapBrightness = 80.0f;

    bridge.resetSettings();

    CVantreloBridge fresh;
    EXPECT_TRUE(sameBytes(bridge.keyStates.edgeState, fresh.keyStates.edgeState));
    EXPECT_TRUE(sameBytes(bridge.keyStates.bodyState, fresh.keyStates.bodyState));
    EXPECT_EQ(bridge.keyStates.softenRadius, 0);
    EXPECT_EQ(bridge.keyStates.hybrid, 0);
    EXPECT_EQ(bridge.autoMaskEnabled | bridge.autoMaskJustEnabled | bridge.fitEnabled | bridge.fitJustEnabled, 0);
    EXPECT_EQ(bridge.autoMaskRadius, 40.0f);
    EXPECT_EQ(bridge.lightWrapRadius, 0.0f);
    EXPECT_EQ(bridge.lightWrapBrightness, 1.0f);
    EXPECT_EQ(bridge.lightWrapOn, 1);
}

TEST(EngineAdapter, SpillModesSetTheirBitsAndShareTheKeyFlagWord) {
    struct Case {
        int first, second;
        std::uint32_t spillBits;
    };
    const Case cases[] = {
        {0, 1, KeyFlagSpillSolid},
        {1, 0, kSpillBits},  // complement wins where both are set
        {0, 2, 0},
        {1, 2, 0},
        {2, 0, KeyFlagSpillComplement},
        {1, 7, KeyFlagSpillSolid},  // an unknown mode changes no bit
        {2, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
        KeyStateSet set;
        set.reset();
        set.setSpillMode(c.first);
        set.edgeState.flags = 0xdead0000;  // must be replaced even by an unknown mode
        set.bodyState.flags = 0x0000beef;
        set.setSpillMode(c.second);
        EXPECT_EQ(set.keyState.flags & kSpillBits, c.spillBits);
        EXPECT_EQ(set.keyState.flags & ~kSpillBits, std::uint32_t{KeyFlagDirectCallbacks});
        EXPECT_EQ(set.edgeState.flags, set.keyState.flags);
        EXPECT_EQ(set.bodyState.flags, set.keyState.flags);
    }
}

TEST(EngineAdapter, GrainTypeSetsTheKeyLevelAndTheFilterFlagInAllThree) {
    KeyStateSet set;
    set.reset();
    set.edgeState.grainLevel = 3;
    set.bodyState.grainLevel = 1;
    set.setGrainType(2);
    EXPECT_EQ(set.keyState.grainLevel, 2);
    for (const KeyState* state : {&set.keyState, &set.edgeState, &set.bodyState})
        EXPECT_TRUE(state->flags & KeyFlagGrainFilter);
    set.setGrainType(0);
    EXPECT_EQ(set.keyState.grainLevel, 0);
    for (const KeyState* state : {&set.keyState, &set.edgeState, &set.bodyState})
        EXPECT_FALSE(state->flags & KeyFlagGrainFilter);
    EXPECT_EQ(set.edgeState.grainLevel, 3);
    EXPECT_EQ(set.bodyState.grainLevel, 1);
}

TEST(EngineAdapter, SimulatedForegroundStartsClearedInAllThree) {
    CVantreloBridge bridge;
    for (const KeyState* state : {&bridge.keyStates.keyState, &bridge.keyStates.edgeState, &bridge.keyStates.bodyState})
        EXPECT_FALSE(state->flags & KeyFlagSimulatedForeground);
}

TEST(EngineAdapter, CopiedSetPointsAtItsOwnShapeLists) {
    auto original = std::make_unique<KeyStateSet>();
    original->reset();
    original->edgeState.extShapes = original->extShapeLayers;  // as after a whole-state copy
    KeyStateSet copy(*original);
    EXPECT_EQ(copy.keyState.extShapes, copy.extShapeLayers);
    EXPECT_EQ(copy.keyState.obeyShapes, copy.obeyShapeLayers);
    EXPECT_EQ(copy.edgeState.extShapes, copy.extShapeLayers);
    EXPECT_EQ(copy.bodyState.extShapes, nullptr);
    original.reset();
    KeyStateSet assigned;
    assigned = copy;
    EXPECT_EQ(assigned.keyState.extShapes, assigned.extShapeLayers);
}

// A 3 x 2 run of colours from the backdrop outward, with alphas 65535, 32768 and 0.
std::vector<std::uint16_t> subjectRun() {
    std::vector<std::uint16_t> run = adapter_test::samplesAtDistances({0, 2500, 6000, 12000, 30000, 9000});
    const std::uint16_t alphas[] = {65535, 32768, 0, 65535, 32768, 65535};
    for (int i = 0; i < 6; ++i) run[4 * i + 3] = alphas[i];
    return run;
}

struct CompiledBridge {
    CompiledBridge() {
        shapeSet(bridge.keyStates);
        bridge.keyStates.setSpillMode(1);
        bridge.keyStates.keyState.replacementColour[0] = 1000;
        bridge.keyStates.keyState.replacementColour[1] = 20000;
        bridge.keyStates.keyState.replacementColour[2] = 45000;
    }
    CVantreloBridge bridge;
};

TEST(EngineAdapter, Keying16BitMultipliesTheKeyedMatteBySubjectAlpha) {
    CompiledBridge fixture;
    const std::vector<std::uint16_t> source = subjectRun();
    std::vector<std::uint16_t> keyed(source.size()), engine(source.size());
    {
        CompiledKeyGuard compiled(&fixture.bridge.keyStates);
        fixture.bridge.keyPixels16(source.data(), nullptr, keyed.data(), 3, 2);
        ASSERT_EQ(processImage(source.data(), engine.data(), nullptr, nullptr, 3, 2, &fixture.bridge.keyStates.keyState,
                               nullptr),
                  ProcessStatus::Done);
    }
    bool sawOpaque = false, sawTransparent = false;
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(keyed[4 * i + c], engine[4 * i + c]);
        EXPECT_EQ(keyed[4 * i + 3], std::uint32_t{engine[4 * i + 3]} * source[4 * i + 3] / 65535u);
        sawOpaque |= engine[4 * i + 3] == 65535;
        sawTransparent |= engine[4 * i + 3] == 0;
    }
    // The run must cover both ends of the key, or the alpha rule would be tested on one value only.
    EXPECT_TRUE(sawOpaque);
    EXPECT_TRUE(sawTransparent);
    EXPECT_EQ(keyed[4 * 4 + 3], 32768);  // opaque key x subject alpha 32768
    EXPECT_EQ(keyed[4 * 2 + 3], 0);      // subject alpha 0
    // The compiled data went with the guard.
    EXPECT_EQ(fixture.bridge.keyStates.keyState.faceTable, nullptr);
    EXPECT_EQ(fixture.bridge.keyStates.keyState.keySpan16Callback, nullptr);
}

// A whole-image call (the lighting correction's, the hybrid key's) spreads the alpha product over
// the engine's workers and forms it with vector arithmetic: every pixel must get what the scalar
// rule gives, at the ends of each worker's share and the run's odd last pixel included.  Subject
// alphas cover the whole range and every colour differs, so a lane or share mixed up shows.
TEST(EngineAdapter, LargeRunsGetTheScalarAlphaProductOnEveryPixel) {
    const std::int32_t savedWorkers = workerThreadCount();
    setWorkerThreadCount(5);
    CompiledBridge fixture;
    const std::ptrdiff_t width = 1021, rows = 263;  // 268 523 pixels: above the workers' threshold
    const std::vector<std::uint16_t> pattern = subjectRun();
    std::vector<std::uint16_t> source(static_cast<std::size_t>(4 * width * rows));
    for (std::size_t i = 0; i < source.size() / 4; ++i) {
        for (int c = 0; c < 3; ++c) source[4 * i + c] = pattern[4 * (i % 6) + c];
        source[4 * i + 3] = static_cast<std::uint16_t>(i % 11 == 0 ? 65535 : (i * 40503u) & 0xffff);
    }
    std::vector<std::uint16_t> keyed(source.size()), engine(source.size());
    {
        CompiledKeyGuard compiled(&fixture.bridge.keyStates);
        fixture.bridge.keyPixels16(source.data(), nullptr, keyed.data(), width, rows);
        ASSERT_EQ(processImage(source.data(), engine.data(), nullptr, nullptr, width, rows,
                               &fixture.bridge.keyStates.keyState, nullptr),
                  ProcessStatus::Done);
    }
    setWorkerThreadCount(savedWorkers);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < source.size() / 4; ++i) {
        for (int c = 0; c < 3; ++c) wrong += keyed[4 * i + c] != engine[4 * i + c];
        wrong += keyed[4 * i + 3] != std::uint32_t{engine[4 * i + 3]} * source[4 * i + 3] / 65535u;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(EngineAdapter, KeyingDoesNotWriteTheSet) {
    CompiledBridge fixture;
    const std::vector<std::uint16_t> source = subjectRun();
    std::vector<std::uint16_t> keyed(source.size());
    CompiledKeyGuard compiled(&fixture.bridge.keyStates);
    const adapter_test::StatesSnapshot before(fixture.bridge.keyStates);
    fixture.bridge.keyPixels16(source.data(), source.data(), keyed.data(), 3, 2);
    fixture.bridge.keyStates.hybrid = 1;
    fixture.bridge.keyPixels16(source.data(), source.data(), keyed.data(), 3, 2);
    fixture.bridge.keyStates.hybrid = 0;
    EXPECT_TRUE(adapter_test::sameStates(fixture.bridge.keyStates, before));
}

TEST(EngineAdapter, HybridKeyingMergesEdgeAndBodyStates) {
    CompiledBridge fixture;
    KeyStateSet& set = fixture.bridge.keyStates;
    set.hybrid = 1;
    set.keyingInset = CropInsets{1, 0, 0, 0};
    const std::vector<std::uint16_t> source = subjectRun();
    std::vector<std::uint16_t> keyed(source.size()), engine(source.size());
    fixture.bridge.keyPixels16(source.data(), nullptr, keyed.data(), 3, 2);
    KeyState edge = set.edgeState, body = set.bodyState;
    ASSERT_EQ(mergeTwoKeys16(source.data(), engine.data(), nullptr, nullptr, 3, 2, &edge, &body, &set.keyingInset, 20,
                             0.5f),
              ProcessStatus::Done);
    for (int i = 0; i < 6; ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(keyed[4 * i + c], engine[4 * i + c]) << i;
        EXPECT_EQ(keyed[4 * i + 3], std::uint32_t{engine[4 * i + 3]} * source[4 * i + 3] / 65535u) << i;
    }
}

TEST(EngineAdapter, FloatKeyingGivesAlphaOnTheUnitScaleAndNoNegativeChannel) {
    CompiledBridge fixture;
    const std::vector<std::uint16_t> run16 = subjectRun();
    std::vector<float> source(run16.size());
    for (std::size_t i = 0; i < run16.size(); ++i) source[i] = run16[i] / 65535.0f;
    std::vector<float> background(source.size());
    for (std::size_t i = 0; i < background.size(); ++i) background[i] = 0.1f + 0.13f * static_cast<float>(i % 7);
    // Spill replacement from the background, so the background argument matters.
    fixture.bridge.keyStates.setSpillMode(2);

    std::vector<float> keyed(source.size()), engine(source.size());
    std::vector<float> sourceCopy = source, backgroundCopy = background;
    {
        CompiledKeyGuard compiled(&fixture.bridge.keyStates);
        fixture.bridge.keyPixelsFloat(source.data(), background.data(), keyed.data(), 3, 2);
        ASSERT_EQ(processImageFloat(1.0f, sourceCopy.data(), engine.data(), backgroundCopy.data(), nullptr, 3, 2,
                                    &fixture.bridge.keyStates.keyState, nullptr),
                  ProcessStatus::Done);
    }
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(keyed[4 * i + c], std::max(engine[4 * i + c], 0.0f));
        const float alpha = std::max(sourceCopy[4 * i + 3] * engine[4 * i + 3] / 65535.0f, 0.0f);
        EXPECT_FLOAT_EQ(keyed[4 * i + 3], alpha);
        EXPECT_LE(keyed[4 * i + 3], 1.0f);
    }
    EXPECT_FLOAT_EQ(keyed[4 * 4 + 3], 32768.0f / 65535.0f);
}

TEST(EngineAdapter, KeyingFailureIsThrownNotReturned) {
    // A key that selects the threshold keyer but was never compiled has no keyer object to key with.
    CompiledBridge fixture;
    fixture.bridge.keyStates.keyState.flags |= KeyFlagUseRT;
    const std::vector<std::uint16_t> source = subjectRun();
    std::vector<std::uint16_t> keyed(source.size());
    EXPECT_THROW(fixture.bridge.keyPixels16(source.data(), nullptr, keyed.data(), 3, 2), Mav::Exception);
    // An empty run has nothing to key and cannot fail.
    EXPECT_NO_THROW(fixture.bridge.keyPixels16(nullptr, nullptr, nullptr, 0, 5));
}

// A 5 x 3 matte with a hard edge, every channel different.
std::vector<std::uint16_t> matteImage() {
    std::vector<std::uint16_t> image;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            image.insert(image.end(), {static_cast<std::uint16_t>(100 * x + 7), static_cast<std::uint16_t>(300 + y),
                                       static_cast<std::uint16_t>(9000 - x),
                                       static_cast<std::uint16_t>(x >= 2 ? 65535 : 0)});
        }
    return image;
}

TEST(EngineAdapter, MatteDefocusRadiusIsTheScaledSoftenRadiusRoundedHalfUp) {
    struct Case {
        int softenRadius;
        float scale;
        int radius;  // 0 = unchanged
    };
    const Case cases[] = {{1, 0.4f, 0}, {1, 0.5f, 1}, {3, 1.0f, 3}, {5, 0.5f, 3}, {0, 1.0f, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.softenRadius << " x " << c.scale);
        CVantreloBridge bridge;
        bridge.keyStates.softenRadius = c.softenRadius;
        bridge.keyStates.blurInward = 1;
        bridge.keyStates.shrinkAmount = 0.25f;
        std::vector<std::uint16_t> image = matteImage(), expected = matteImage();
        bridge.defocusMatte16(image.data(), 5, 3, c.scale);
        if (c.radius > 0) {
            ASSERT_TRUE(defocusMatte16(expected.data(), 5, 3, c.radius, 1, 0.25f));
        }
        EXPECT_EQ(image, expected);

        std::vector<float> imageF, expectedF;
        for (std::uint16_t v : matteImage()) imageF.push_back(v / 65535.0f);
        expectedF = imageF;
        bridge.defocusMatteFloat(imageF.data(), 5, 3, c.scale);
        if (c.radius > 0) {
            ASSERT_TRUE(defocusMatteFloat(1.0f, expectedF.data(), 5, 3, c.radius, 1, 0.25f));
        }
        EXPECT_EQ(imageF, expectedF);
    }
}

TEST(EngineAdapter, AllocationPairRefusesNegativeSizesAndReleasesThroughThePointer) {
    EXPECT_EQ(allocWithHook(-1), nullptr);
    CVantreloBridge bridge;
    void* block = bridge.allocate(64);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5a, 64);
    bridge.release(&block);
    EXPECT_EQ(block, nullptr);
    int marker = 0;
    EXPECT_EQ(bridge.passThrough(&marker), &marker);
    EXPECT_TRUE(bridge.isAvailable());
    freeWithHook(nullptr);
}

}  // namespace
}  // namespace vantrelo
