// Strokes, boxes and the fourteen sample modes.  Each mode is checked against the engine tools run by
// hand on copies of the three states: which states change, with which tool, and how they are nested
// afterwards.  The states start different from each other, so a tool run on the wrong state, run
// twice, or nested in the wrong mode changes bytes that the oracle does not.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "engine/keying/fine_tune.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/sampling_tools.h"
#include "plugin/vantrelo_wrapper.h"
#include "tests/plugin/adapter_test_support.h"

namespace vantrelo {
namespace {

using adapter_test::mixedSamples;
using adapter_test::sameBytes;
using adapter_test::shapeSet;

enum StateBit { Key = 1, Edge = 2, Body = 4 };
constexpr int kNoNesting = -1;

using GridTool = std::function<void(std::vector<std::uint16_t>&, int, int, KeyState*)>;
using PointTool = void (*)(Sample16, KeyState*);

struct ModeRow {
    int mode;
    GridTool grid;    // or
    PointTool point;  // or neither: no state changes
    int states;
    int nesting;
};

GridTool grid(void (*tool)(const std::uint16_t*, int, int, KeyState*)) {
    return [tool](std::vector<std::uint16_t>& s, int w, int h, KeyState* state) { tool(s.data(), w, h, state); };
}

const std::vector<ModeRow>& modeTable() {
    static const std::vector<ModeRow> rows = {
        {1, grid(growInnerToSamples), nullptr, Key | Edge, 0},
        {2, grid(shrinkOuterFromSamples), nullptr, Key | Body, 2},
        {3, nullptr, nullptr, 0, kNoNesting},
        // The outer grow pushes its list outward in place; each state is grown from the original
        // colours (a fresh copy per state).
        {4, [](std::vector<std::uint16_t>& s, int w, int h, KeyState* state) { growOuterToSamples(s.data(), w, h, state); },
         nullptr, Key | Body, kNoNesting},
        {5, grid(shrinkMiddleFromSamples), nullptr, Key | Edge | Body, 1},
        {6, grid(growMiddleToSamples), nullptr, Key | Edge | Body, 1},
        {7, grid(shrinkInnerFromSamples), nullptr, Key | Edge, 0},
        {8, nullptr, growOuterAtColour, Key | Body, kNoNesting},
        {9, nullptr, shrinkOuterAtColour, Key | Body, 2},
        {10, nullptr, growMiddleAtColour, Key | Edge | Body, 1},
        {11, nullptr, shrinkMiddleAtColour, Key | Edge | Body, 1},
        {12, nullptr, growInnerAtColour, Key | Edge, 0},
        {13, nullptr, shrinkInnerAtColour, Key | Edge, kNoNesting},
        {14, nullptr, nullptr, 0, kNoNesting},
        {-1, nullptr, nullptr, 0, kNoNesting},
    };
    return rows;
}

// What the row says the states become.
void applyRowByHand(const ModeRow& row, const std::vector<std::uint16_t>& samples, int columns, int rows,
                    adapter_test::StatesSnapshot& set) {
    KeyState* states[] = {&set.key, &set.edge, &set.body};
    for (int k = 0; k < 3; ++k) {
        if (!(row.states & (1 << k))) continue;
        KeyState* state = states[k];
        if (row.grid) {
            std::vector<std::uint16_t> copy = samples;
            row.grid(copy, columns, rows, state);
            if (row.nesting != kNoNesting) enforceNesting(row.nesting, state);
        } else {
            for (std::size_t i = 0; i < samples.size() / 4; ++i) {
                row.point(Sample16{{samples[4 * i], samples[4 * i + 1], samples[4 * i + 2], samples[4 * i + 3]}}, state);
                if (row.nesting != kNoNesting) enforceNesting(row.nesting, state);
            }
        }
    }
}

TEST(SampleModes, EachModeChangesTheStatesOfItsRowAndNoOther) {
    const std::vector<std::uint16_t> samples = mixedSamples();
    for (const ModeRow& row : modeTable()) {
        SCOPED_TRACE(testing::Message() << "mode " << row.mode);
        CVantreloBridge bridge;
        shapeSet(bridge.keyStates);
        const adapter_test::StatesSnapshot before(bridge.keyStates);
        adapter_test::StatesSnapshot expected = before;
        applyRowByHand(row, samples, 3, 2, expected);

        std::vector<std::uint16_t> block = samples;
        bridge.sampleMode = row.mode;
        bridge.applySampleBlock(block.data(), 3, 2);

        EXPECT_EQ(block, samples) << "the caller's block is only read";
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "state " << k);
            const KeyState& got = adapter_test::stateOf(bridge.keyStates, k);
            EXPECT_TRUE(sameBytes(got, expected[k]));
            // The fixture must make every listed tool change its states, or the row is not tested.
            EXPECT_EQ(!sameBytes(got, before[k]), (row.states & (1 << k)) != 0);
        }
    }
}

TEST(SampleModes, StrokeAppliesTheSameAsABlockOfItsColours) {
    // Per-colour modes run in list order and grid modes see one row: a stroke is a 1 x n block.
    const std::vector<std::uint16_t> samples = mixedSamples();
    for (int mode : {1, 5, 8, 11}) {
        SCOPED_TRACE(mode);
        CVantreloBridge stroke, block;
        shapeSet(stroke.keyStates);
        shapeSet(block.keyStates);
        stroke.sampleMode = block.sampleMode = mode;
        for (std::size_t i = 0; i < samples.size() / 4; ++i)
            stroke.collectSample(i == 0 ? 0 : 1, Sample16{{samples[4 * i], samples[4 * i + 1], samples[4 * i + 2],
                                                           samples[4 * i + 3]}});
        EXPECT_EQ(stroke.sampleColumns, 6);
        EXPECT_EQ(stroke.sampleRows, 1);
        EXPECT_TRUE(stroke.samplePending);
        stroke.collectSample(2, Sample16{{0, 0, 0, 0}});  // the end event's colour is not added
        EXPECT_FALSE(stroke.samplePending);
        EXPECT_EQ(stroke.sampleColumns, 6);
        block.applySampleBlock(samples.data(), 6, 1);
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(adapter_test::sameContent(adapter_test::stateOf(stroke.keyStates, k),
                                                  adapter_test::stateOf(block.keyStates, k)))
                << k;
    }
}

TEST(SampleModes, AStrokeKeepsItsFirstThousandColours) {
    CVantreloBridge stroke, block;
    shapeSet(stroke.keyStates);
    shapeSet(block.keyStates);
    stroke.sampleMode = block.sampleMode = SampleSpillMinus;
    std::vector<std::uint16_t> colours;
    for (int i = 0; i < 1200; ++i) {
        const Sample16 colour{{static_cast<std::uint16_t>(20000 + 17 * i), static_cast<std::uint16_t>(30000 - 9 * i),
                               static_cast<std::uint16_t>(5000 + 23 * i), 65535}};
        stroke.collectSample(i == 0 ? 0 : 1, colour);
        if (i < 1000) colours.insert(colours.end(), colour.rgba, colour.rgba + 4);
    }
    EXPECT_EQ(stroke.sampleColumns, 1000);
    EXPECT_EQ(stroke.sampleBuffer[999][0], 20000 + 17 * 999);
    stroke.collectSample(2, Sample16{});
    block.applySampleBlock(colours.data(), 1000, 1);
    EXPECT_TRUE(adapter_test::sameContent(stroke.keyStates.keyState, block.keyStates.keyState));
    EXPECT_TRUE(adapter_test::sameContent(stroke.keyStates.bodyState, block.keyStates.bodyState));
}

TEST(SampleModes, NothingPendingAppliesNothing) {
    CVantreloBridge bridge;
    shapeSet(bridge.keyStates);
    const adapter_test::StatesSnapshot before(bridge.keyStates);
    bridge.sampleMode = SampleCleanBg;
    // A box: phase 0 without a colour clears, the block applies, the end finds nothing pending.
    bridge.clearSamples();
    bridge.collectSample(2, Sample16{{1, 2, 3, 4}});
    bridge.collectSample(7, Sample16{{1, 2, 3, 4}});  // unknown phases add nothing
    bridge.collectSample(2, Sample16{{1, 2, 3, 4}});
    EXPECT_TRUE(adapter_test::sameStates(bridge.keyStates, before));
    EXPECT_EQ(bridge.sampleColumns, 0);
}

TEST(SampleModes, AStrokeEndAfterABlockNeverReadsTheBlock) {
    CVantreloBridge bridge;
    shapeSet(bridge.keyStates);
    bridge.sampleMode = SampleMakeTrans;
    bridge.collectSample(0, Sample16{{20000, 30000, 40000, 65535}});
    {
        // 40 x 30 = 1200 colours, more than the stroke buffer holds.
        std::vector<std::uint16_t> block(40 * 30 * 4, 12345);
        bridge.applySampleBlock(block.data(), 40, 30);
    }
    const adapter_test::StatesSnapshot afterBlock(bridge.keyStates);
    EXPECT_EQ(bridge.samples, &bridge.sampleBuffer[0][0]);
    bridge.collectSample(2, Sample16{});
    EXPECT_TRUE(adapter_test::sameStates(bridge.keyStates, afterBlock));
}

TEST(SampleModes, SelectStartsANewKeyFromTheTruncatedAverageInAllThree) {
    CVantreloBridge bridge;
    shapeSet(bridge.keyStates);
    bridge.sampleMode = SampleSelect;
    const std::uint16_t block[] = {1000, 2000, 3000, 65535, 1001, 2001, 3001, 0};
    bridge.applySampleBlock(block, 2, 1);
    KeyState expected = bridge.keyStates.keyState;
    const std::uint16_t average[4] = {1000, 2000, 3000, 65535};
    ASSERT_TRUE(selectBackdropColour(average, &expected));
    EXPECT_EQ(bridge.keyStates.keyState.backdrop[0], 1000.0f);
    EXPECT_EQ(bridge.keyStates.keyState.backdrop[1], 2000.0f);
    EXPECT_EQ(bridge.keyStates.keyState.backdrop[2], 3000.0f);
    EXPECT_TRUE(sameBytes(bridge.keyStates.keyState, expected));
    EXPECT_TRUE(sameBytes(bridge.keyStates.edgeState, bridge.keyStates.keyState));
    EXPECT_TRUE(sameBytes(bridge.keyStates.bodyState, bridge.keyStates.keyState));
}

TEST(SampleModes, EmptyListChangesNothing) {
    for (int mode = 0; mode < 14; ++mode) {
        CVantreloBridge bridge;
        shapeSet(bridge.keyStates);
        const adapter_test::StatesSnapshot before(bridge.keyStates);
        bridge.sampleMode = mode;
        const std::uint16_t colour[4] = {1, 2, 3, 4};
        bridge.applySampleBlock(colour, 0, 3);
        bridge.applySampleBlock(colour, 3, 0);
        bridge.applySampleBlock(nullptr, 2, 2);
        EXPECT_TRUE(adapter_test::sameStates(bridge.keyStates, before)) << mode;
    }
}

// The picked face's vertices: those whose radii a slider move changes.
std::vector<int> changedVertices(const float* a, const float* b) {
    std::vector<int> vertices;
    for (int v = 0; v < kVertexCount; ++v)
        if (a[v] != b[v]) vertices.push_back(v);
    return vertices;
}

struct PickedBridge {
    PickedBridge() : atPick(pick(bridge)) {}
    static const KeyStateSet& pick(CVantreloBridge& bridge) {
        shapeSet(bridge.keyStates);
        bridge.sampleMode = SampleFineTunePick;
        const std::vector<std::uint16_t> colours = adapter_test::samplesAtDistances({5000, 5000});
        bridge.applySampleBlock(colours.data(), 2, 1);
        return bridge.keyStates;
    }
    CVantreloBridge bridge;
    adapter_test::StatesSnapshot atPick;
};

TEST(FineTune, PickRemembersTheAverageAndChangesNoState) {
    CVantreloBridge bridge;
    shapeSet(bridge.keyStates);
    const adapter_test::StatesSnapshot before(bridge.keyStates);
    bridge.sampleMode = SampleFineTunePick;
    bridge.collectSample(0, Sample16{{20000, 30001, 14000, 100}});
    bridge.collectSample(1, Sample16{{20003, 30000, 14001, 200}});
    bridge.collectSample(2, Sample16{});
    EXPECT_EQ(bridge.averageColour[0], 20001);
    EXPECT_EQ(bridge.averageColour[1], 30000);
    EXPECT_EQ(bridge.averageColour[2], 14000);
    EXPECT_EQ(bridge.keyStates.pickColour[0], 20001);
    EXPECT_EQ(bridge.keyStates.pickColour[2], 14000);
    EXPECT_TRUE(adapter_test::sameStates(bridge.keyStates, before));
}

TEST(FineTune, EachSliderMovesItsSurfaceInItsStates) {
    struct Case {
        int kind;
        int states;
        int surface;  // 0 inner, 1 middle, 2 outer
    };
    const Case cases[] = {{FineTuneRemoveSpill, Key | Body, 2},
                          {FineTuneTransparency, Key | Edge | Body, 1},
                          {FineTuneRestoreDetails, Key | Edge, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        PickedBridge fixture;
        ASSERT_TRUE(fixture.bridge.setFineTune(c.kind, 0.6f));
        const KeyState* got[] = {&fixture.bridge.keyStates.keyState, &fixture.bridge.keyStates.edgeState,
                                 &fixture.bridge.keyStates.bodyState};
        const KeyState* old[] = {&fixture.atPick.key, &fixture.atPick.edge, &fixture.atPick.body};
        for (int k = 0; k < 3; ++k) {
            auto surface = [&](const KeyState* s) {
                return c.surface == 0 ? s->innerRadii : c.surface == 1 ? s->middleRadii : s->outerRadii;
            };
            const std::vector<int> moved = changedVertices(surface(got[k]), surface(old[k]));
            if (c.states & (1 << k))
                EXPECT_FALSE(moved.empty()) << "state " << k;
            else
                EXPECT_TRUE(sameBytes(*got[k], *old[k])) << "state " << k;
        }
    }
}

TEST(FineTune, CentredTransparencyGivesEveryStateTheKeyRadiiAtThePick) {
    PickedBridge fixture;
    ASSERT_TRUE(fixture.bridge.setFineTune(FineTuneTransparency, 0.7f));
    const std::vector<int> face = changedVertices(fixture.bridge.keyStates.keyState.middleRadii,
                                                  fixture.atPick.key.middleRadii);
    ASSERT_EQ(face.size(), 3u);
    ASSERT_TRUE(fixture.bridge.setFineTune(FineTuneTransparency, 0.0f));
    for (const KeyState* state : {&fixture.bridge.keyStates.keyState, &fixture.bridge.keyStates.edgeState,
                                  &fixture.bridge.keyStates.bodyState})
        for (int v : face) EXPECT_EQ(state->middleRadii[v], fixture.atPick.key.middleRadii[v]) << v;
}

TEST(FineTune, RefusedMovesChangeNothing) {
    const std::pair<int, float> refused[] = {{1, 1.5f},
                                             {1, -1.0001f},
                                             {3, 0.5f},
                                             {-1, 0.0f},
                                             {0, std::numeric_limits<float>::quiet_NaN()}};
    for (const auto& [kind, value] : refused) {
        PickedBridge fixture;
        EXPECT_FALSE(fixture.bridge.setFineTune(kind, value)) << kind << " " << value;
        EXPECT_TRUE(adapter_test::sameStates(fixture.bridge.keyStates, fixture.atPick));
    }
    PickedBridge fixture;
    EXPECT_TRUE(fixture.bridge.setFineTune(0, 1.0f));
    EXPECT_TRUE(fixture.bridge.setFineTune(2, -1.0f));
}

TEST(Probe, ShowsThePickedColourKeyedAndPremultiplied) {
    struct Case {
        float distance;
        const char* what;
    };
    for (const Case& c : {Case{0, "backdrop"}, Case{9000, "edge"}, Case{30000, "subject"}}) {
        SCOPED_TRACE(c.what);
        CVantreloBridge bridge;
        shapeSet(bridge.keyStates);
        bridge.keyStates.setSpillMode(1);
        bridge.keyStates.keyState.replacementColour[0] = 3000;
        bridge.keyStates.keyState.replacementColour[1] = 21000;
        bridge.keyStates.keyState.replacementColour[2] = 47000;
        const std::vector<std::uint16_t> colour = adapter_test::samplesAtDistances({c.distance});
        bridge.sampleMode = SampleFineTunePick;
        bridge.applySampleBlock(colour.data(), 1, 1);

        const Sample16 probe = bridge.probePixel();
        EXPECT_EQ(bridge.keyStates.keyState.faceTable, nullptr) << "released after the probe";

        const std::uint16_t pixel[4] = {colour[0], colour[1], colour[2], 65535};
        std::uint16_t keyed[4];
        {
            CompiledKeyGuard compiled(&bridge.keyStates);
            bridge.keyPixels16(pixel, nullptr, keyed, 1, 1);
        }
        EXPECT_EQ(probe.rgba[3], keyed[3]);
        for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(probe.rgba[ch], std::uint32_t{keyed[ch]} * keyed[3] / 65535u);
        if (c.distance == 0) {
            for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(probe.rgba[ch], 0);
        }
        if (c.distance == 30000) {
            EXPECT_EQ(probe.rgba[3], 65535);
            for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(probe.rgba[ch], keyed[ch]);
        }
    }
}

}  // namespace
}  // namespace vantrelo
