// The keyer's parameter set against a live engine adapter: what a push writes into the engine, what
// a pull writes back, and the host's hooks (reset, undo, copying a set for a newly visited image)
// that reach the engine through them.

#include "plugin/vantrelo_parameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/param/undo.h"
#include "host/system/registry_store.h"
#include "plugin/key_data_text.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "tests/host/system/store_test_support.h"
#include "tests/plugin/adapter_test_support.h"

namespace {

using namespace vantrelo;
using namespace Mav::Host::Param;

using vantrelo::adapter_test::sameBytes;

class KeyerParameterSet : public ::testing::Test {
protected:
    KeyerParameterSet() : set(nullptr, &bridge) { describeKeyerParameters(set); }

    void setDouble(std::size_t index, double value) { set.record(index).value().setDouble(value); }
    void setInt(std::size_t index, std::int32_t value) { set.record(index).value().setInt(value); }
    void setBool(std::size_t index, bool value) { set.record(index).value().setBool(value); }
    void setText(std::size_t index, const std::string& text) { set.record(index).value().text = text; }
    void setColour(std::size_t index, double r, double g, double b) {
        ParamValue& v = set.record(index).value();
        v.setDouble(r, 0);
        v.setDouble(g, 1);
        v.setDouble(b, 2);
    }
    void push(std::size_t index) { applyParamToBridge(bridge, set, set.record(index)); }
    void pull(std::size_t index) { syncParamFromBridge(bridge, set.record(index)); }
    const ParamValue& value(std::size_t index) const { return set.record(index).value(); }
    KeyStateSet& states() { return bridge.keyStates; }

    // A key state with recognisable radii and backdrop, rewritten once through the text so that
    // its text is what a pull writes for it.  The colour's channels are 0 or 65535, the values that
    // come back unchanged from the text (others lose a unit to truncation).
    std::string keyText(float radiusBase, std::uint32_t flags, const std::uint16_t colour[3]) {
        KeyState state = states().keyState;
        state.backdrop[0] = 1200;
        state.backdrop[1] = 9000;
        state.backdrop[2] = 30000;
        state.flags = flags;
        for (int c = 0; c < 3; ++c) state.replacementColour[c] = colour[c];
        for (int v = 0; v < kVertexCount; ++v) {
            state.innerRadii[v] = radiusBase + 10 * v;
            state.middleRadii[v] = radiusBase + 1000 + 7 * v;
            state.outerRadii[v] = radiusBase + 2000 + 13 * v;
        }
        KeyState reread = states().keyState;
        EXPECT_TRUE(readKeyDataText(writeKeyDataText(state), reread));
        return writeKeyDataText(reread);
    }

    CVantreloBridge bridge;
    VantreloParameters set;
};

// The engine rounds half the value to whole pixels; a pull gives back the value set, not twice
// the radius, unless the engine's radius changed on its own.
TEST_F(KeyerParameterSet, SoftenRadiusRoundsHalfTheValueAndPullsBackTheValueSet) {
    struct Case {
        double soften;
        int radius;
        double pulled;
    };
    const Case cases[] = {{5, 3, 5}, {4, 2, 4}, {1, 1, 1}, {0.9, 0, 0.9}, {0, 0, 0}, {7.5, 4, 7.5},
                          {100, 50, 100},
                          // out of the record's limits or NaN: clamped, NaN is the default 0
                          {1000, 50, 100}, {-7, 0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0, 0}};
    for (const Case& c : cases) {
        setDouble(kParamSoftenMatte, c.soften);
        push(kParamSoftenMatte);
        EXPECT_EQ(states().softenRadius, c.radius) << c.soften;
        pull(kParamSoftenMatte);
        EXPECT_EQ(value(kParamSoftenMatte).getDouble(), c.pulled) << c.soften;
    }
    setDouble(kParamSoftenMatte, 5);
    states().softenRadius = 4;
    pull(kParamSoftenMatte);
    EXPECT_EQ(value(kParamSoftenMatte).getDouble(), 8) << "the engine's own radius is pulled";
}

// Odd and even values, and values the engine keeps as floats, come back as they were set after
// every way a value travels: push and pull (OK, "<", ">"), the store and a new set (a restart),
// undo and redo.  The store still holds the value times the record's scale, so a text an earlier
// run left gives the engine what it gave then.
TEST_F(KeyerParameterSet, NumbersReadBackAsSetThroughPullStoreUndoAndRedo) {
    const test_store::ScratchFolder home("vantrelo-keyer", test_store::ScratchFolder::ConfigHome);
    ASSERT_FALSE(home.path().empty());
    const std::string root = "Software\\Test\\Keyer\\";
    struct Case {
        std::size_t index;
        double value;
        const char* storedText;
    } cases[] = {
        {kParamSoftenMatte, 5, "2.500000"},         {kParamSoftenMatte, 6, "3.000000"},
        {kParamSoftenMatte, 1, "0.500000"},         {kParamSoftenMatte, 99, "49.500000"},
        {kParamShrinkMatte, 7, "7.000000"},         {kParamShrinkMatte, 33.3, "33.300000"},
        {kParamGrainTolerance, 29, "29.000000"},    {kParamAutoMaskRadius, 12.3, "12.300000"},
        {kParamLightWrapRadius, 41, "61.500000"},   {kParamLightWrapRadius, 3.3, "4.950000"},
        {kParamLightWrapBrightness, 77.7, "77.700000"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(set.record(k.index).name + " " + std::to_string(k.value));
        setBool(kParamEnableSoftenMatte, true);
        recordChange(set, k.index);
        setDouble(k.index, k.value);
        set.applyToEngine(k.index);
        const KeyStateSet pushedStates = states();
        const float pushedLightWrap = bridge.lightWrapRadius;

        syncAllParamsFromBridge(bridge, set);
        EXPECT_EQ(value(k.index).getDouble(), k.value) << "push and pull";

        ASSERT_TRUE(set.saveToRegistry(root));
        Mav::Host::System::RegistryStore store;
        ASSERT_TRUE(store.load());
        ASSERT_NE(store.value(root + set.record(k.index).name), nullptr);
        EXPECT_EQ(store.value(root + set.record(k.index).name)->text, k.storedText);
        CVantreloBridge restarted;
        VantreloParameters reloaded(nullptr, &restarted);
        describeKeyerParameters(reloaded);
        ASSERT_TRUE(reloaded.loadFromRegistry(root));
        applyAllParamsToBridge(restarted, reloaded);
        EXPECT_EQ(restarted.keyStates.softenRadius, pushedStates.softenRadius);
        EXPECT_EQ(restarted.keyStates.shrinkAmount, pushedStates.shrinkAmount);
        EXPECT_EQ(restarted.lightWrapRadius, pushedLightWrap);
        syncAllParamsFromBridge(restarted, reloaded);
        EXPECT_NEAR(reloaded.record(k.index).value().getDouble(), k.value, 1e-9) << "a restart";

        // Undo through the pull the host makes before recording, then redo.
        const double before = value(k.index).getDouble();
        const double next = k.value > 50 ? k.value - 1 : k.value + 1;
        recordChange(set, k.index);
        setDouble(k.index, next);
        set.applyToEngine(k.index);
        ASSERT_TRUE(set.undo());
        EXPECT_EQ(value(k.index).getDouble(), before) << "undo";
        ASSERT_TRUE(set.redo());
        EXPECT_EQ(value(k.index).getDouble(), next) << "redo";
        syncAllParamsFromBridge(bridge, set);
        EXPECT_EQ(value(k.index).getDouble(), next);
    }

    // "3" is what a pull of 5 stored before: it loads as 6, whose radius is the 3 that 5 gives.
    Mav::Host::System::RegistryStore older;
    ASSERT_TRUE(older.load());
    older.setText(root + "Soften Matte", "3.000000");
    ASSERT_TRUE(older.commit());
    CVantreloBridge restarted;
    VantreloParameters reloaded(nullptr, &restarted);
    describeKeyerParameters(reloaded);
    ASSERT_TRUE(reloaded.loadFromRegistry(root));
    applyAllParamsToBridge(restarted, reloaded);
    EXPECT_EQ(restarted.keyStates.softenRadius, 3);
}

TEST_F(KeyerParameterSet, SofteningOffHoldsRadiusAndShrinkAtZeroUntilSwitchedOn) {
    setBool(kParamEnableSoftenMatte, false);
    setDouble(kParamSoftenMatte, 9);
    setDouble(kParamShrinkMatte, 25);
    for (std::size_t index : {kParamEnableSoftenMatte, kParamSoftenMatte, kParamShrinkMatte}) {
        push(index);
        EXPECT_EQ(states().softenRadius, 0);
        EXPECT_EQ(states().shrinkAmount, 0.0f);
    }
    // The engine's zeros while softening is off leave both sliders as they were set.
    pull(kParamSoftenMatte);
    pull(kParamShrinkMatte);
    EXPECT_EQ(value(kParamSoftenMatte).getDouble(), 9);
    EXPECT_EQ(value(kParamShrinkMatte).getDouble(), 25);

    setBool(kParamEnableSoftenMatte, true);
    push(kParamEnableSoftenMatte);  // one push brings both
    EXPECT_EQ(states().softenRadius, 5);
    EXPECT_EQ(states().shrinkAmount, 0.25f);
    pull(kParamShrinkMatte);
    EXPECT_NEAR(value(kParamShrinkMatte).getDouble(), 25, 1e-5);
}

TEST_F(KeyerParameterSet, ColourTruncatesToSixteenBitsInAllThreeStatesAndPullsBackAsSet) {
    setColour(kParamBGColor, 1.0, 0.5, 0.0);
    push(kParamBGColor);
    for (const KeyState* s : {&states().keyState, &states().edgeState, &states().bodyState}) {
        EXPECT_EQ(s->replacementColour[0], 65535);
        EXPECT_EQ(s->replacementColour[1], 32767);
        EXPECT_EQ(s->replacementColour[2], 0);
        EXPECT_EQ(s->replacementColour[3], 65535);
    }
    pull(kParamBGColor);
    EXPECT_EQ(value(kParamBGColor).getDouble(0), 1.0);
    EXPECT_EQ(value(kParamBGColor).getDouble(1), 0.5) << "not the engine's 32767 / 65535";
    EXPECT_EQ(value(kParamBGColor).getDouble(2), 0.0);
    // A colour the engine holds otherwise is pulled.
    states().keyState.replacementColour[1] = 13107;
    pull(kParamBGColor);
    EXPECT_EQ(value(kParamBGColor).getDouble(1), 0.2);

    // Damaged colours are limited to 0..1 before the conversion; NaN counts as 0.  A pull
    // replaces them with what the engine holds.
    setColour(kParamBGColor, -0.5, std::numeric_limits<double>::quiet_NaN(), 7.0);
    push(kParamBGColor);
    EXPECT_EQ(states().bodyState.replacementColour[0], 0);
    EXPECT_EQ(states().bodyState.replacementColour[1], 0);
    EXPECT_EQ(states().bodyState.replacementColour[2], 65535);
    pull(kParamBGColor);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(value(kParamBGColor).getDouble(c), c == 2 ? 1.0 : 0.0);
}

TEST_F(KeyerParameterSet, SpillModePushesBitsAndPullsTheFirstOneSet) {
    struct Step {
        std::int32_t mode;
        std::uint32_t spillBits;
        std::int32_t pulled;
    };
    // 0 after 1 leaves both bits set, which reads back as complement.
    const Step steps[] = {{1, KeyFlagSpillSolid, 1},
                          {0, KeyFlagSpillSolid | KeyFlagSpillComplement, 0},
                          {2, 0, 2},
                          {9, 0, 2}};  // beyond the choices: the last choice
    for (const Step& s : steps) {
        setInt(kParamSpillMode, s.mode);
        push(kParamSpillMode);
        for (const KeyState* st : {&states().keyState, &states().edgeState, &states().bodyState})
            EXPECT_EQ(st->flags & (KeyFlagSpillSolid | KeyFlagSpillComplement), s.spillBits) << s.mode;
        pull(kParamSpillMode);
        EXPECT_EQ(value(kParamSpillMode).getInt(), s.pulled) << s.mode;
    }
}

TEST_F(KeyerParameterSet, AdjustLightingClearsTheEngineFlagAndSharesTheKeyFlags) {
    for (bool on : {true, false}) {
        states().keyState.flags |= KeyFlagSimulatedForeground | KeyFlagMiddleOnly;
        states().edgeState.flags = KeyFlagUseRT;
        states().bodyState.flags = KeyFlagSimulatedForeground;
        const std::uint32_t expected = states().keyState.flags & ~std::uint32_t(KeyFlagSimulatedForeground);
        setBool(kParamAdjustLighting, on);
        push(kParamAdjustLighting);
        EXPECT_EQ(states().keyState.flags, expected);
        EXPECT_EQ(states().edgeState.flags, expected);
        EXPECT_EQ(states().bodyState.flags, expected);
    }
    // The grid goes to the key state only.
    states().edgeState.simGridSize = 7;
    states().bodyState.simGridSize = 8;
    setInt(kParamAdjustLightingGrid, 33);
    push(kParamAdjustLightingGrid);
    EXPECT_EQ(states().keyState.simGridSize, 33);
    EXPECT_EQ(states().edgeState.simGridSize, 7);
    EXPECT_EQ(states().bodyState.simGridSize, 8);
    setInt(kParamAdjustLightingGrid, 1000);
    push(kParamAdjustLightingGrid);
    EXPECT_EQ(states().keyState.simGridSize, 100);
}

TEST_F(KeyerParameterSet, GrainPushesLevelToKeyAndAmountToAllStates) {
    states().edgeState.grainLevel = 5;
    setInt(kParamGrainType, 2);
    setDouble(kParamGrainTolerance, 30);
    push(kParamGrainType);
    push(kParamGrainTolerance);
    EXPECT_EQ(states().keyState.grainLevel, 2);
    EXPECT_EQ(states().edgeState.grainLevel, 5);
    for (const KeyState* s : {&states().keyState, &states().edgeState, &states().bodyState}) {
        EXPECT_TRUE(s->flags & KeyFlagGrainFilter);
        EXPECT_EQ(s->grainAmount, 0.3f);
    }
    setDouble(kParamGrainTolerance, 0);
    setInt(kParamGrainType, 0);
    push(kParamGrainType);
    EXPECT_FALSE(states().bodyState.flags & KeyFlagGrainFilter);
}

TEST_F(KeyerParameterSet, SwitchTriggersArmOnlyOnAChangeFromOffToOn) {
    struct Switch {
        std::size_t index;
        std::uint8_t CVantreloBridge::*enabled;
        std::uint8_t CVantreloBridge::*just;
    };
    const Switch switches[] = {
        {kParamEnableAutoMask, &CVantreloBridge::autoMaskEnabled, &CVantreloBridge::autoMaskJustEnabled},
        {kParamScaleToFit, &CVantreloBridge::fitEnabled, &CVantreloBridge::fitJustEnabled}};
    for (const Switch& s : switches) {
        bridge.*s.enabled = 0;
        bridge.*s.just = 0;
        // value pushed, then the expected enabled and just-enabled; "consume" clears just-enabled as
        // the auto-mask and the prepare step do.
        struct Step {
            bool value;
            bool consume;
            std::uint8_t enabled, just;
        };
        const Step steps[] = {{true, false, 1, 1}, {true, false, 1, 1}, {true, true, 1, 0},
                              {true, false, 1, 0}, {false, false, 0, 0}, {true, false, 1, 1},
                              {false, false, 0, 0}, {false, false, 0, 0}};
        int n = 0;
        for (const Step& step : steps) {
            if (step.consume) bridge.*s.just = 0;
            setBool(s.index, step.value);
            push(s.index);
            EXPECT_EQ(bridge.*s.enabled, step.enabled) << set.record(s.index).name << " step " << n;
            EXPECT_EQ(bridge.*s.just, step.just) << set.record(s.index).name << " step " << n;
            pull(s.index);
            EXPECT_EQ(value(s.index).getBool(), step.enabled != 0);
            ++n;
        }
    }
}

TEST_F(KeyerParameterSet, KeyDataTextsFeedTheStatesAndEmptyTextsStandForKeyData) {
    const KeyState before = states().keyState;
    push(kParamKeyData);  // empty: the key state stays as it is
    EXPECT_TRUE(sameBytes(states().keyState, before));

    const std::uint16_t colour[3] = {0, 65535, 0};
    const std::string key = keyText(3000, states().keyState.flags, colour);
    setText(kParamKeyData, key);
    push(kParamKeyData);
    push(kParamEdgeData);  // empty: follows "key data"
    EXPECT_EQ(writeKeyDataText(states().keyState), key);
    EXPECT_EQ(writeKeyDataText(states().edgeState), key);
    EXPECT_EQ(states().edgeState.innerRadii[5], states().keyState.innerRadii[5]);

    const std::string body = keyText(5000, states().keyState.flags, colour);
    setText(kParamBodyData, body);
    push(kParamBodyData);
    EXPECT_EQ(writeKeyDataText(states().bodyState), body);

    // Pulls: the edge state writes the key's text, so "edge data" is stored empty.
    setText(kParamEdgeData, "stale");
    pull(kParamKeyData);
    pull(kParamEdgeData);
    pull(kParamBodyData);
    EXPECT_EQ(value(kParamKeyData).text, key);
    EXPECT_EQ(value(kParamEdgeData).text, "");
    EXPECT_EQ(value(kParamBodyData).text, body);
}

TEST_F(KeyerParameterSet, TransformsTravelAsMatrixText) {
    setText(kParamBackdropTransform, "[ 2 0 5 0 2");
    setText(kParamForegroundTransform, "[ 0.123456789 1 0 0 1 0 0 0 1 ]");
    setText(kParamOverlayTransform, "no bracket");
    bridge.overlayTransform.m[4] = 3;
    for (std::size_t i : {kParamBackdropTransform, kParamForegroundTransform, kParamOverlayTransform}) push(i);
    EXPECT_EQ(bridge.backdropTransform.m, (std::array<double, 9>{2, 0, 5, 0, 2, 0, 0, 0, 1}));
    EXPECT_EQ(bridge.foregroundTransform.m[0], 0.123456789);
    EXPECT_TRUE(bridge.overlayTransform.isIdentity());

    for (std::size_t i : {kParamBackdropTransform, kParamForegroundTransform, kParamOverlayTransform}) pull(i);
    EXPECT_EQ(value(kParamBackdropTransform).text, "[ 2 0 5 0 2 0 0 0 1 ]");
    EXPECT_EQ(value(kParamForegroundTransform).text, "[ 0.123457 1 0 0 1 0 0 0 1 ]");
    EXPECT_EQ(value(kParamOverlayTransform).text, "[ 1 0 0 0 1 0 0 0 1 ]");
    push(kParamForegroundTransform);
    EXPECT_EQ(bridge.foregroundTransform.m[0], 0.123457);
}

// Every parameter set to something other than its default, pushed whole and pulled whole: the
// mapped records come back as they went in (up to float rounding), the records that are not pulled
// or not mapped keep their values untouched.
TEST_F(KeyerParameterSet, PushAllThenPullAllKeepsEveryValue) {
    const std::uint16_t colour[3] = {13107, 52428, 65535};  // 0.2, 0.8, 1.0 exactly
    const std::uint32_t flags = KeyFlagSpillSolid | KeyFlagDirectCallbacks | KeyFlagGrainFilter;
    setText(kParamKeyData, keyText(4000, flags, colour));
    setText(kParamEdgeData, keyText(6000, flags, colour));
    setText(kParamBodyData, "");
    setInt(kParamSpillMode, kSpillSolid);
    setColour(kParamBGColor, 13107 / 65535.0, 52428 / 65535.0, 1.0);
    setBool(kParamEnableSoftenMatte, true);
    setDouble(kParamSoftenMatte, 14);
    setDouble(kParamShrinkMatte, 37);
    setInt(kParamBackgroundLayer, 123456);
    setInt(kParamBackgroundMode, kBackgroundLayer);
    setInt(kParamMaskMode, kMaskBack);
    setBool(kParamBlurInward, false);
    setInt(kParamGrainType, kLargeGrain);
    setDouble(kParamGrainTolerance, 63);
    setBool(kParamAdjustLighting, true);
    setInt(kParamAdjustLightingGrid, 57);
    setBool(kParamEnableAutoMask, false);
    setDouble(kParamAutoMaskRadius, 12.5);
    setDouble(kParamAutoMaskEaseBleach, 33);
    setDouble(kParamAutoMaskColorCorrection, 150);
    setBool(kParamEnableLightWrap, true);
    setDouble(kParamLightWrapRadius, 41);
    setDouble(kParamLightWrapBrightness, 77.25);
    setInt(kParamLightWrapBlendMode, kBlendColor);
    setBool(kParamRenderAgainstBD, true);
    setInt(kParamTransparencyMode, kTransparencySplit);
    setDouble(kParamBackdropBlur, 9.5);
    setText(kParamBackdropTransform, "[ 1.5 0 -20 0 1.5 30.25 0 0 1 ]");
    setText(kParamForegroundTransform, "[ 0.866025 0.5 0 -0.5 0.866025 0 0 0 1 ]");
    setText(kParamOverlayTransform, "[ 1 0 0 0 1 0 0.001 0 1 ]");
    setBool(kParamScaleToFit, false);
    setText(kParamBackdropFiles, "\"/a b/c.png\"");
    setText(kParamOverlayFiles, "\"/o.png\" \"/p.png\"");
    for (std::size_t i = kParamAutoMaskWindow; i <= kParamSoftenMatteWindow; ++i) setText(i, "12 34");
    setText(kParamLastImagePath, "/home/someone/Pictures");

    const std::vector<ParamRecord> pushed = set.records();
    applyAllParamsToBridge(bridge, set);
    EXPECT_EQ(states().softenRadius, 7);
    EXPECT_EQ(states().shrinkAmount, 0.37f);
    EXPECT_EQ(bridge.lightWrapRadius, 61.5f);
    EXPECT_EQ(bridge.lightWrapOn, 1);
    EXPECT_EQ(bridge.autoMaskRadius, 12.5f);
    EXPECT_EQ(bridge.backdropTransform.m[5], 30.25);
    EXPECT_EQ(states().keyState.simGridSize, 57);
    EXPECT_EQ(states().keyState.grainLevel, 3);

    // The pull starts from scrambled values, so a record it forgets to write shows.
    for (ParamRecord& r : set.records()) {
        if (r.kind == ParamText) r.value().text = "scrambled";
        else r.value().cells = {0x11, 0x22, 0x33};
    }
    const std::vector<ParamRecord> scrambled = set.records();
    syncAllParamsFromBridge(bridge, set);

    const std::vector<std::size_t> notPulled = {
        kParamEnableSoftenMatte, kParamBackgroundLayer, kParamBackgroundMode, kParamMaskMode,
        kParamAdjustLighting, kParamAdjustLightingGrid, kParamAutoMaskEaseBleach,
        kParamAutoMaskColorCorrection, kParamLightWrapBlendMode, kParamRenderAgainstBD,
        kParamTransparencyMode, kParamBackdropBlur, kParamBackdropFiles, kParamOverlayFiles,
        kParamAutoMaskWindow, kParamFineTuneWindow, kParamLightWrapWindow, kParamRemoveGrainWindow,
        kParamSoftenMatteWindow, kParamLastImagePath};
    for (std::size_t i = 0; i < set.count(); ++i) {
        const ParamRecord& r = set.record(i);
        SCOPED_TRACE(r.name);
        if (std::find(notPulled.begin(), notPulled.end(), i) != notPulled.end()) {
            EXPECT_EQ(r.value(), scrambled[i].value());
            continue;
        }
        const ParamValue& want = pushed[i].value();
        switch (r.kind) {
            case ParamText: EXPECT_EQ(r.value().text, want.text); break;
            case ParamFloat: EXPECT_NEAR(r.value().getDouble(), want.getDouble(), 1e-5); break;
            case ParamColour:
                for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(r.value().getDouble(c), want.getDouble(c));
                break;
            case ParamBool: EXPECT_EQ(r.value().getBool(), want.getBool()); break;
            default: EXPECT_EQ(r.value().getInt(), want.getInt()); break;
        }
    }
}

// Undo records what a pull gives; before the first push that must be the radius on the record's
// own 0..100 scale, where the auto-mask divides it by 100.
TEST_F(KeyerParameterSet, AFreshAdapterPullsTheAutoMaskRadiusDefault) {
    setDouble(kParamAutoMaskRadius, 71);
    pull(kParamAutoMaskRadius);
    EXPECT_EQ(value(kParamAutoMaskRadius).getDouble(), 40.0);
    EXPECT_EQ(value(kParamAutoMaskRadius).getDouble(),
              set.record(kParamAutoMaskRadius).defaultValue().getDouble());
}

TEST_F(KeyerParameterSet, UnknownCodesChangeNothingEitherWay) {
    ParamRecord stranger(ParamFloat, "stranger", fourCharCode("zzzz"), 0, 0);
    stranger.value().setDouble(3);
    states().softenRadius = 3;
    const KeyState before = states().keyState;
    applyParamToBridge(bridge, set, stranger);
    syncParamFromBridge(bridge, stranger);
    EXPECT_TRUE(sameBytes(states().keyState, before));
    EXPECT_EQ(states().softenRadius, 3);
    EXPECT_EQ(stranger.value().getDouble(), 3);
}

TEST_F(KeyerParameterSet, ResetPushesDefaultsAndArmsTheSwitchedOnTriggers) {
    setDouble(kParamSoftenMatte, 40);
    setText(kParamBackdropTransform, "[ 3 0 0 0 3 0 0 0 1 ]");
    set.applyAll();
    ASSERT_EQ(states().softenRadius, 20);
    bridge.autoMaskJustEnabled = 0;
    bridge.fitJustEnabled = 0;
    set.resetToDefaults();
    EXPECT_EQ(value(kParamSoftenMatte).getDouble(), 0);
    EXPECT_EQ(states().softenRadius, 0);
    EXPECT_TRUE(bridge.backdropTransform.isIdentity());
    // Both switches default to on; a reset arms them again although they were on before.
    EXPECT_EQ(bridge.autoMaskEnabled, 1);
    EXPECT_EQ(bridge.autoMaskJustEnabled, 1);
    EXPECT_EQ(bridge.fitEnabled, 1);
    EXPECT_EQ(bridge.fitJustEnabled, 1);
}

// Undo asks the set for the engine's value before recording and pushes the restored value after.
TEST_F(KeyerParameterSet, UndoRecordsTheEngineStateAndPushesWhatItRestores) {
    states().softenRadius = 4;  // changed in the engine, not yet in the record
    recordChange(set, kParamSoftenMatte);
    EXPECT_EQ(value(kParamSoftenMatte).getDouble(), 8);
    setDouble(kParamSoftenMatte, 30);
    push(kParamSoftenMatte);
    ASSERT_EQ(states().softenRadius, 15);
    ASSERT_TRUE(set.undo());
    EXPECT_EQ(value(kParamSoftenMatte).getDouble(), 8);
    EXPECT_EQ(states().softenRadius, 4);
}

TEST_F(KeyerParameterSet, CopyForANewImageCarriesSettingsButRestartsTheAutoMask) {
    CVantreloBridge other;
    VantreloParameters target(nullptr, &other);
    describeKeyerParameters(target);
    setBool(kParamEnableAutoMask, false);
    setDouble(kParamAutoMaskRadius, 3);
    setDouble(kParamAutoMaskEaseBleach, 4);
    setDouble(kParamAutoMaskColorCorrection, 5);
    setDouble(kParamSoftenMatte, 22);
    setText(kParamOverlayFiles, "\"x\"");
    target.assign(set);
    EXPECT_EQ(target.bridge, &other);
    EXPECT_TRUE(target.getBool(kParamEnableAutoMask));
    EXPECT_EQ(target.getDouble(kParamAutoMaskRadius), 40);
    EXPECT_EQ(target.getDouble(kParamAutoMaskEaseBleach), 75);
    EXPECT_EQ(target.getDouble(kParamAutoMaskColorCorrection), 0);
    EXPECT_EQ(target.getDouble(kParamSoftenMatte), 22);
    EXPECT_EQ(target.getString(kParamOverlayFiles), "\"x\"");

    // The host's clone is a plain copy: same values, same adapter.
    const VantreloParameters clone(set);
    EXPECT_EQ(clone.bridge, &bridge);
    EXPECT_FALSE(clone.getBool(kParamEnableAutoMask));
    EXPECT_EQ(clone.getDouble(kParamAutoMaskRadius), 3);
}

}  // namespace
