#include "engine/keying/fine_tune.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/sampling_tools.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using sampling_test::makeState;
using sampling_test::nested;

using Slider = void (*)(float, KeyState*, int);

bool sameRecord(const KeyState& a, const KeyState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A nested key with room between the shells, and per-vertex differences so a wrong vertex shows.
KeyState tunedState(std::uint32_t flags = 0) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    state.backdrop[0] = 20000, state.backdrop[1] = 45000, state.backdrop[2] = 15000;
    state.flags = flags;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = 2000.0f + v;
        state.middleRadii[v] = 20000.0f + 2 * v;
        state.outerRadii[v] = 60000.0f + 3 * v;
    }
    return state;
}

const Sample16 kPick = {{31000, 41000, 17000, 0}};  // crosses a face with three positive weights
const Sample16 kOtherPick = {{9000, 30000, 40000, 0}};
const Sample16 kBackdrop = {{20000, 45000, 15000, 0}};  // no direction: the pick fails

float* radiiOf(KeyState& state, int shell) {
    return shell == 0 ? state.innerRadii : shell == 1 ? state.middleRadii : state.outerRadii;
}

// The process starts with no anchor.  Run in a fresh process (the threadsafe death-test style
// re-executes the test binary for this test alone), since other tests pick colours.
TEST(FineTuneBeforeAnyPick, SlidersChangeNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            initPolyhedronTables();
            KeyState state = tunedState(KeyFlagUseRT | KeyFlagUseRTPlus);
            const KeyState before = state;
            bool same = true;
            for (Slider slider : {fineTuneOuter, fineTuneMiddle, fineTuneInner})
                for (float value : {0.0f, 0.3f, 1.0f}) {
                    slider(value, &state, 1);
                    slider(value, &state, 0);
                }
            same &= sameRecord(state, before);
            // A failed pick does not make an anchor either.
            same &= beginFineTune(kBackdrop, &state) == -1;
            fineTuneOuter(0.0f, &state, 1);
            fineTuneInner(1.0f, &state, 1);
            same &= sameRecord(state, before);
            std::exit(same ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

class FineTune : public ::testing::Test {
protected:
    void SetUp() override { initPolyhedronTables(); }
};

// Each slider sets the anchored radii of its shell to remembered + (value - 0.5) x 2 x 65535 x w_k,
// floored at 1, and leaves every other vertex alone.
TEST_F(FineTune, SlidersMoveTheAnchoredVerticesByTheirWeights) {
    struct Case {
        Slider slider;
        int shell;
    } sliders[] = {{fineTuneInner, 0}, {fineTuneMiddle, 1}, {fineTuneOuter, 2}};
    const KeyState start = tunedState();
    int face[3];
    float w[3];
    ASSERT_EQ(intersectFace(kPick.rgba, face, w, &start), 1);
    for (int k = 0; k < 3; ++k) ASSERT_GT(w[k], 0.05f);

    for (const Case& c : sliders) {
        for (float value : {0.55f, 0.45f, 0.5f, 0.52f}) {
            KeyState state = start;
            ASSERT_EQ(beginFineTune(kPick, &state), 1);
            c.slider(value, &state, 1);
            KeyState expected = start;
            const float d = (value - 0.5f) * 2.0f * 65535.0f;
            for (int k = 0; k < 3; ++k) {
                float& radius = radiiOf(expected, c.shell)[face[k]];
                radius = std::max(1.0f, w[k] * d + radius);
            }
            EXPECT_TRUE(sameRecord(state, expected)) << "shell " << c.shell << " value " << value;
            EXPECT_TRUE(nested(state));
        }
        // The full throws: +65535 w_k at 1.0; at 0.0 each radius floors at 1 (inner, far from the
        // others) or nests (middle and outer).
        KeyState state = start;
        ASSERT_EQ(beginFineTune(kPick, &state), 1);
        c.slider(1.0f, &state, 1);
        KeyState reference = start;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(radiiOf(state, c.shell)[face[k]], w[k] * 65535.0f + radiiOf(reference, c.shell)[face[k]]);
        EXPECT_TRUE(nested(state));
    }
}

TEST_F(FineTune, SliderMovesDoNotAccumulate) {
    KeyState direct = tunedState(), wandering = tunedState();
    ASSERT_EQ(beginFineTune(kPick, &direct), 1);
    fineTuneMiddle(0.6f, &direct, 1);
    fineTuneOuter(0.58f, &direct, 1);
    ASSERT_EQ(beginFineTune(kPick, &wandering), 1);
    // Values that keep each shell clear of its neighbours, so no nesting step moves another shell.
    for (float value : {0.9f, 0.4f, 0.7f, 0.6f}) fineTuneMiddle(value, &wandering, 1);
    for (float value : {0.95f, 0.3f, 0.58f, 0.58f}) fineTuneOuter(value, &wandering, 1);
    EXPECT_TRUE(sameRecord(direct, wandering));

    // Back to the centre restores the remembered radii.
    KeyState state = tunedState();
    const KeyState start = state;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneOuter(0.8f, &state, 1);
    fineTuneInner(0.6f, &state, 1);
    fineTuneOuter(0.5f, &state, 1);
    fineTuneInner(0.5f, &state, 1);
    EXPECT_TRUE(sameRecord(state, start));
}

TEST_F(FineTune, FloorAndNestingAtTheExtremes) {
    const KeyState start = tunedState();
    int face[3];
    float w[3];
    ASSERT_EQ(intersectFace(kPick.rgba, face, w, &start), 1);

    KeyState state = start;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneInner(0.0f, &state, 1);  // 2000 - 65535 w_k is below 1 for these weights
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(state.innerRadii[face[k]], std::max(1.0f, w[k] * -65535.0f + start.innerRadii[face[k]]));

    // A result between 0 and 1 is floored as well: radii never fall below 1.0.
    state = start;
    for (int k = 0; k < 3; ++k) state.innerRadii[face[k]] = w[k] * 65535.0f + 0.5f;
    const KeyState lowered = state;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneInner(0.0f, &state, 1);
    for (int k = 0; k < 3; ++k) {
        ASSERT_GT(w[k] * -65535.0f + lowered.innerRadii[face[k]], 0.0f);
        EXPECT_EQ(state.innerRadii[face[k]], 1.0f) << k;
    }

    // The outer slider at 0 pulls the outer radii below the middle ones; nesting from the middle
    // raises them back and the middle shell never moves.
    state = start;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneOuter(0.0f, &state, 1);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(state.middleRadii[face[k]], start.middleRadii[face[k]]);
        EXPECT_EQ(state.outerRadii[face[k]],
                  std::max(state.middleRadii[face[k]], w[k] * -65535.0f + start.outerRadii[face[k]]));
    }

    // The middle slider at 0 takes the middle radii below the inner ones: nesting from the middle
    // lowers the inner radii to them and leaves the middle where the slider put it.
    state = start;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneMiddle(0.0f, &state, 1);
    bool crossed = false;
    for (int k = 0; k < 3; ++k) {
        const float middle = std::max(1.0f, w[k] * -65535.0f + start.middleRadii[face[k]]);
        EXPECT_EQ(state.middleRadii[face[k]], middle);
        EXPECT_EQ(state.innerRadii[face[k]], std::min(middle, start.innerRadii[face[k]]));
        EXPECT_EQ(state.outerRadii[face[k]], start.outerRadii[face[k]]);
        crossed |= middle < start.innerRadii[face[k]];
    }
    EXPECT_TRUE(crossed);

    // The inner slider above the centre pushes the middle and outer radii out with it.
    state = start;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    fineTuneInner(1.0f, &state, 1);
    bool pushed = false;
    for (int k = 0; k < 3; ++k) {
        const float inner = w[k] * 65535.0f + start.innerRadii[face[k]];
        EXPECT_EQ(state.innerRadii[face[k]], inner);
        EXPECT_EQ(state.middleRadii[face[k]], std::max(inner, start.middleRadii[face[k]]));
        EXPECT_EQ(state.outerRadii[face[k]], std::max(inner, start.outerRadii[face[k]]));
        pushed |= inner > start.middleRadii[face[k]];
    }
    EXPECT_TRUE(pushed);
    EXPECT_TRUE(nested(state));
    // Picked on a vertex direction, the whole throw lands on one vertex and passes the outer radius.
    const int vertex = 52;
    Sample16 pick = {{0, 0, 0, 0}};
    for (int c = 0; c < 3; ++c) pick.rgba[c] = std::uint16_t(start.backdrop[c] + 2000 * kVertexLattice[vertex][c]);
    state = start;
    ASSERT_EQ(beginFineTune(pick, &state), 1);
    fineTuneInner(1.0f, &state, 1);
    const float inner = start.innerRadii[vertex] + 65535.0f;
    EXPECT_GT(inner, start.outerRadii[vertex]);
    EXPECT_EQ(state.middleRadii[vertex], inner);
    EXPECT_EQ(state.outerRadii[vertex], inner);
}

TEST_F(FineTune, PickOnAVertexDirectionMovesOnlyThatVertex) {
    KeyState state = tunedState();
    const KeyState start = state;
    const int vertex = 52;  // lattice (1, 2, 1)
    Sample16 pick = {{0, 0, 0, 0}};
    for (int c = 0; c < 3; ++c) pick.rgba[c] = std::uint16_t(start.backdrop[c] + 2000 * kVertexLattice[vertex][c]);
    ASSERT_EQ(beginFineTune(pick, &state), 1);
    fineTuneOuter(0.75f, &state, 1);
    KeyState expected = start;
    expected.outerRadii[vertex] += 0.5f * 65535.0f;
    EXPECT_TRUE(sameRecord(state, expected));
}

TEST_F(FineTune, ApplyZeroLeavesThePolyhedraAndDrivesOnlyTheKeyers) {
    KeyState state = tunedState(KeyFlagUseRT);
    KeyState oracle = state;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    for (Slider slider : {fineTuneOuter, fineTuneMiddle, fineTuneInner}) slider(0.8f, &state, 0);
    EXPECT_EQ(std::memcmp(state.innerRadii, oracle.innerRadii, 3 * sizeof state.innerRadii), 0);

    VantreloBase* keyer = engineThresholdKeyer();
    keyer->beginFineTune(kPick.rgba, &oracle);
    keyer->fineTuneOuter(0.8f, &oracle);
    keyer->fineTuneMiddle(0.8f, &oracle);
    keyer->fineTuneInner(0.8f, &oracle);
    EXPECT_EQ(std::memcmp(state.thresholds, oracle.thresholds, sizeof state.thresholds), 0);
    EXPECT_NE(std::memcmp(state.thresholds, tunedState().thresholds, sizeof state.thresholds), 0);
}

TEST_F(FineTune, KeyersFollowThePickAndTheSliders) {
    for (std::uint32_t flags : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus),
                                std::uint32_t(KeyFlagUseRT | KeyFlagUseRTPlus)}) {
        KeyState state = tunedState(flags);
        KeyState oracle = state;
        ASSERT_EQ(beginFineTune(kPick, &state), 1);
        fineTuneMiddle(0.7f, &state, 1);
        fineTuneOuter(0.2f, &state, 1);
        std::vector<VantreloBase*> keyers;
        if (flags & KeyFlagUseRTPlus) keyers.push_back(engineHexagonKeyer());
        if (flags & KeyFlagUseRT) keyers.push_back(engineThresholdKeyer());
        for (VantreloBase* keyer : keyers) keyer->beginFineTune(kPick.rgba, &oracle);
        for (VantreloBase* keyer : keyers) keyer->fineTuneMiddle(0.7f, &oracle);
        for (VantreloBase* keyer : keyers) keyer->fineTuneOuter(0.2f, &oracle);
        EXPECT_EQ(std::memcmp(state.thresholds, oracle.thresholds, sizeof state.thresholds), 0) << flags;
        EXPECT_EQ(std::memcmp(state.hexagonRadii, oracle.hexagonRadii, sizeof state.hexagonRadii), 0) << flags;
    }
}

// A failed pick keeps the previous anchor: the sliders still move the first pick's face from its
// remembered radii, and the keyers still start from their first snapshot.
TEST_F(FineTune, FailedPickKeepsThePreviousAnchor) {
    KeyState state = tunedState(KeyFlagUseRT);
    const KeyState start = state;
    ASSERT_EQ(beginFineTune(kPick, &state), 1);
    KeyState expected = state;
    fineTuneOuter(0.6f, &expected, 1);
    fineTuneInner(0.5f, &expected, 1);

    // Change the key after the pick, then fail a pick: the anchor must not take these values in.
    for (int v = 0; v < kVertexCount; ++v) state.outerRadii[v] += 10.0f;
    state.thresholds[0] += 0.01f, state.thresholds[2] += 0.03f;
    EXPECT_EQ(beginFineTune(kBackdrop, &state), -1);
    fineTuneOuter(0.6f, &state, 1);
    fineTuneInner(0.5f, &state, 1);
    int face[3];
    float w[3];
    ASSERT_EQ(intersectFace(kPick.rgba, face, w, &start), 1);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(state.outerRadii[face[k]], expected.outerRadii[face[k]]);
    EXPECT_EQ(std::memcmp(state.thresholds, expected.thresholds, sizeof state.thresholds), 0);

    // A later successful pick replaces the anchor.
    ASSERT_EQ(beginFineTune(kOtherPick, &state), 1);
    const KeyState repicked = state;
    fineTuneOuter(0.5f, &state, 1);
    EXPECT_TRUE(sameRecord(state, repicked));
}

// The anchor belongs to the engine, not to a state: one pick moves the same face of several states,
// each from the radii remembered at the pick.
TEST_F(FineTune, OneAnchorMovesSeveralStates) {
    KeyState first = tunedState(), second = tunedState();
    for (int v = 0; v < kVertexCount; ++v) second.outerRadii[v] += 5000.0f;
    const KeyState secondStart = second;
    ASSERT_EQ(beginFineTune(kPick, &first), 1);
    fineTuneOuter(0.5f, &second, 1);
    int face[3];
    float w[3];
    ASSERT_EQ(intersectFace(kPick.rgba, face, w, &first), 1);
    KeyState expected = secondStart;
    for (int k = 0; k < 3; ++k) expected.outerRadii[face[k]] = first.outerRadii[face[k]];
    EXPECT_TRUE(sameRecord(second, expected));
}

}  // namespace
}  // namespace vantrelo
