#include "engine/keying/initial_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/keying/colour_model.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/sampling_tools.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using sampling_test::distanceFrom;
using sampling_test::makeState;
using sampling_test::nested;
using sampling_test::surfaceRatio;

const std::uint16_t kGrey[4] = {32768, 32768, 32768, 0};
const std::uint16_t kGreen[4] = {6000, 52000, 9000, 0};
const std::uint16_t kBlue[4] = {5000, 12000, 50000, 0};

bool sameRecord(const KeyState& a, const KeyState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A record as the application holds one: defaults, labels and a non-trivial flag word.
KeyState freshState(std::uint32_t flags = 0) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    resetKeyState(&state);
    std::strcpy(state.label1, "studio");
    state.flags = flags | KeyFlagSpillSolid;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = 77.0f;
        state.middleRadii[v] = 777.0f;
        state.outerRadii[v] = 7777.0f;
    }
    return state;
}

struct Cloud {
    std::vector<std::uint16_t> samples;
    int count = 0;
};

Cloud cloudByHue(const std::uint16_t* backdrop) {
    KeyState state = makeState(backdrop[0], backdrop[1], backdrop[2], 1, 1, 1);
    std::uint16_t* buffer = nullptr;
    Cloud cloud;
    cloud.count = makeInitialCloudByHue(&buffer, &state, 0.1f);
    if (buffer) cloud.samples.assign(buffer, buffer + 4 * kCloudSize);
    engineRelease(buffer);
    return cloud;
}

float hueOf(const std::uint16_t* c, float* saturation = nullptr) {
    float h, s, v;
    rgbToHsv(c[0] * kUnit16, c[1] * kUnit16, c[2] * kUnit16, &h, &s, &v);
    if (saturation) *saturation = s;
    return h;
}

// Circular distance of two hues in sextants, 0 to 3.
float hueDistance(float a, float b) {
    float d = std::fabs(a - b);
    if (d > 3.0f) d = 6.0f - d;
    return d;
}

class InitialKey : public ::testing::Test {
protected:
    void SetUp() override { initPolyhedronTables(); }
};

// The grid cloud lies on the other side of the hue circle: every coloured sample 2 to 4 sextants
// from the backdrop's hue; empty cells stay pure white.
TEST_F(InitialKey, CloudHuesLieOppositeTheBackdrop) {
    for (const std::uint16_t* backdrop : {kGreen, kBlue, kGrey}) {
        const float backdropHue = hueOf(backdrop);
        std::vector<std::uint16_t> buffer(4 * kCloudSize, 0xabcd);
        const KeyState state = makeState(backdrop[0], backdrop[1], backdrop[2], 1, 1, 1);
        float h, s, v;
        rgbToHsv(backdrop[0] * kUnit16, backdrop[1] * kUnit16, backdrop[2] * kUnit16, &h, &s, &v);
        ASSERT_EQ(makeSampleCloud(hueClass(h), buffer.data(), &state, 0.1f), kCloudSize);
        int white = 0, coloured = 0;
        for (int i = 0; i < kCloudSize; ++i) {
            const std::uint16_t* c = &buffer[4 * i];
            EXPECT_EQ(c[3], 0xabcd);  // the A channel is never written
            float saturation;
            const float hue = hueOf(c, &saturation);
            if (saturation == 0.0f) {
                EXPECT_TRUE((c[0] == 65535 && c[1] == 65535 && c[2] == 65535) || (c[0] + c[1] + c[2] == 0));
                white += c[0] == 65535;
                continue;
            }
            ++coloured;
            EXPECT_GE(hueDistance(hue, backdropHue), 2.0f - 0.01f) << i;
        }
        EXPECT_GT(white, 1000);
        EXPECT_GT(coloured, 4000);
    }
}

TEST_F(InitialKey, GreyCloudByHueIsTheUnrotatedGrid) {
    const Cloud cloud = cloudByHue(kGrey);
    ASSERT_EQ(cloud.count, kCloudSize);
    for (int i = 0; i < kCloudSize; ++i) {
        const std::uint16_t* c = &cloud.samples[4 * i];
        EXPECT_LE(c[0], std::min(c[1], c[2])) << i;  // red is the smallest channel of the grid
    }
    // The first cell of each half, worked by hand: Y = 25 x 1337.449, X = 50 x 661.9697.
    EXPECT_EQ(cloud.samples[0], 26544);
    EXPECT_EQ(cloud.samples[1], 33098);
    EXPECT_EQ(cloud.samples[2], 33436);
    EXPECT_EQ(cloud.samples[4 * 5000 + 1], 33436);
    EXPECT_EQ(cloud.samples[4 * 5000 + 2], 33098);
}

// A spread below what the backdrop's saturation calls for is raised: for a grey, to 0.1.
TEST_F(InitialKey, SpreadIsRaisedForUnsaturatedBackdrops) {
    auto cloudOf = [](const std::uint16_t* backdrop, float spread) {
        const KeyState state = makeState(backdrop[0], backdrop[1], backdrop[2], 1, 1, 1);
        std::vector<std::uint16_t> buffer(4 * kCloudSize, 0);
        makeSampleCloud(ColourClassRed, buffer.data(), &state, spread);
        return buffer;
    };
    EXPECT_EQ(cloudOf(kGrey, 0.0f), cloudOf(kGrey, 0.1f));
    const std::uint16_t red[4] = {65535, 0, 0, 0};
    EXPECT_NE(cloudOf(red, 0.0f), cloudOf(red, 0.1f));
}

TEST_F(InitialKey, SphereCloudKeepsThePointsInsideTheCube) {
    struct Case {
        std::uint16_t backdrop[4];
        bool whole;
    } cases[] = {{{32768, 32768, 32768, 0}, true}, {{0, 0, 0, 0}, false}, {{65535, 1000, 30000, 0}, false}};
    for (const Case& c : cases) {
        const KeyState state = makeState(c.backdrop[0], c.backdrop[1], c.backdrop[2], 1, 1, 1);
        std::vector<std::uint16_t> buffer(4 * kCloudSize, 0xabcd);
        const int n = makeSampleCloud(ColourClassGrey, buffer.data(), &state, 0.1f);
        if (c.whole)
            EXPECT_EQ(n, kCloudSize);
        else
            EXPECT_LT(n, kCloudSize);
        EXPECT_GT(n, 1000);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(distanceFrom(state, &buffer[4 * i]), 16383.75, 2.0) << i;
            EXPECT_EQ(buffer[4 * i + 3], 0xabcd);
        }
        for (int i = n; i < kCloudSize; ++i) EXPECT_EQ(buffer[4 * i], 0xabcd);
    }
}

TEST_F(InitialKey, GreyBackdropGetsSpheresWithoutACloud) {
    const std::uint16_t light[4] = {60000, 60000, 61000, 0};
    const std::uint16_t dark[4] = {3000, 2000, 2500, 0};
    for (const std::uint16_t* colour : {kGrey, light, dark}) {
        KeyState state = freshState();
        setBackdropColour(colour, &state);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(state.backdrop[c], float(colour[c]));
        for (int v = 0; v < kVertexCount; ++v) {
            EXPECT_EQ(state.innerRadii[v], 1.0f);
            EXPECT_EQ(state.middleRadii[v], 32640.0f);
            EXPECT_EQ(state.outerRadii[v], 32640.0f);
        }
        std::uint16_t* buffer = nullptr;
        EXPECT_EQ(makeInitialCloud(&buffer, &state), 0);
        EXPECT_NE(buffer, nullptr);
        engineRelease(buffer);
    }
}

// A chromatic backdrop: the outer polyhedron shrinks away from its cloud and keeps colours near the
// backdrop inside; the middle follows it down and the inner stays at its start.
TEST_F(InitialKey, ChromaticBackdropShrinksTheOuterPolyhedronAwayFromItsCloud) {
    struct Case {
        const std::uint16_t* colour;
        std::uint16_t near[4];  // a colour of the backdrop's own kind
        std::uint16_t far[4];   // a colour of the opposite hue
    } cases[] = {{kGreen, {9000, 48000, 11000, 0}, {50000, 10000, 40000, 0}},
                 {kBlue, {8000, 14000, 45000, 0}, {50000, 45000, 6000, 0}}};
    for (const Case& c : cases) {
        KeyState state = freshState();
        setBackdropColour(c.colour, &state);
        EXPECT_TRUE(nested(state));
        bool shrunk = false;
        for (int v = 0; v < kVertexCount; ++v) {
            EXPECT_EQ(state.innerRadii[v], std::min(1.0f, state.outerRadii[v]));
            EXPECT_EQ(state.middleRadii[v], state.outerRadii[v]);
            EXPECT_LE(state.outerRadii[v], 130560.0f);
            shrunk |= state.outerRadii[v] < 130560.0f;
        }
        EXPECT_TRUE(shrunk);
        EXPECT_GT(surfaceRatio(state.outerRadii, state, c.near), 1.0);
        EXPECT_LT(surfaceRatio(state.outerRadii, state, c.far), 1.0);

        // Every usable sample of the cloud now lies outside the outer surface (within the inward
        // bisection's tolerance).
        std::uint16_t* buffer = nullptr;
        ASSERT_EQ(makeInitialCloud(&buffer, &state), kCloudSize);
        for (int i = 0; i < kCloudSize; ++i) {
            const std::uint16_t* s = buffer + 4 * i;
            int face[3];
            float w[3];
            if (intersectFace(s, face, w, &state) != 1) continue;
            EXPECT_LE(surfaceRatio(state.outerRadii, state, s), 1.05) << i;
        }
        engineRelease(buffer);
    }
}

TEST_F(InitialKey, SelectBackdropColourAlwaysShrinksFromTheHueCloud) {
    KeyState state = freshState();
    selectBackdropColour(kGrey, &state);
    EXPECT_TRUE(nested(state));
    bool shrunk = false;
    for (int v = 0; v < kVertexCount; ++v) shrunk |= state.outerRadii[v] < 130560.0f;
    EXPECT_TRUE(shrunk);
    const Cloud cloud = cloudByHue(kGrey);
    for (int i = 0; i < kCloudSize; ++i) {
        const std::uint16_t* s = &cloud.samples[4 * i];
        int face[3];
        float w[3];
        if (intersectFace(s, face, w, &state) != 1) continue;
        EXPECT_LE(surfaceRatio(state.outerRadii, state, s), 1.05) << i;
    }
    // The same colour by setBackdropColour: no cloud at all.
    KeyState plain = freshState();
    setBackdropColour(kGrey, &plain);
    EXPECT_FALSE(sameRecord(plain, state));
}

TEST_F(InitialKey, GivenInnerRadiusIsNestedUnderTheOuter) {
    KeyState state = freshState();
    setBackdropColourWithRadius(kGreen, &state, 2550);
    bool kept = false;
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_EQ(state.innerRadii[v], std::min(2550.0f, state.outerRadii[v]));
        kept |= state.innerRadii[v] == 2550.0f;
    }
    EXPECT_TRUE(kept);
    EXPECT_TRUE(nested(state));
    KeyState grey = freshState();
    setBackdropColourWithRadius(kGrey, &grey, 2550);
    for (int v = 0; v < kVertexCount; ++v) EXPECT_EQ(grey.innerRadii[v], 2550.0f);

    // Apart from the inner start, the same key as setBackdropColour.
    KeyState plain = freshState();
    setBackdropColour(kGreen, &plain);
    EXPECT_EQ(std::memcmp(plain.outerRadii, state.outerRadii, sizeof plain.outerRadii), 0);
}

// A started key reports true; a missing colour or state starts nothing and says so.
TEST_F(InitialKey, OnlyBackdropRadiiAndKeyerValuesChange) {
    for (auto run : {+[](const std::uint16_t* c, KeyState* s) { return setBackdropColour(c, s); },
                     +[](const std::uint16_t* c, KeyState* s) { return selectBackdropColour(c, s); },
                     +[](const std::uint16_t* c, KeyState* s) { return setBackdropColourWithRadius(c, s, 300); }}) {
        KeyState state = freshState();
        const KeyState before = state;
        EXPECT_TRUE(run(kGreen, &state));
        KeyState expected = before;
        std::memcpy(expected.backdrop, state.backdrop, sizeof state.backdrop);
        std::memcpy(expected.innerRadii, state.innerRadii, 3 * sizeof state.innerRadii);
        EXPECT_TRUE(sameRecord(expected, state));

        const KeyState started = state;
        EXPECT_FALSE(run(nullptr, &state));
        EXPECT_TRUE(sameRecord(started, state));
        EXPECT_FALSE(run(kBlue, nullptr));
    }
}

// With a keyer flag the keyers start from the colour: their values come out as the keyer's own
// initFromSamples leaves them.  selectBackdropColour does not start them; its shrink drives them.
TEST_F(InitialKey, AlternativeKeyersStartFromTheColour) {
    const std::uint32_t flags = KeyFlagUseRT | KeyFlagUseRTPlus;
    KeyState state = freshState(flags);
    setBackdropColour(kGreen, &state);
    KeyState oracle = freshState(flags);
    for (int c = 0; c < 3; ++c) oracle.backdrop[c] = kGreen[c];
    engineHexagonKeyer()->initFromSamples(kGreen, 1, &oracle);
    engineThresholdKeyer()->initFromSamples(kGreen, 1, &oracle);
    EXPECT_EQ(std::memcmp(state.thresholds, oracle.thresholds, sizeof state.thresholds), 0);
    EXPECT_EQ(std::memcmp(state.hexagonRadii, oracle.hexagonRadii, sizeof state.hexagonRadii), 0);

    KeyState selected = freshState(flags);
    selectBackdropColour(kBlue, &selected);
    KeyState shrunk = freshState(flags);
    for (int c = 0; c < 3; ++c) shrunk.backdrop[c] = kBlue[c];
    const Cloud cloud = cloudByHue(kBlue);
    engineHexagonKeyer()->applyShrinkOuter(cloud.samples.data(), kCloudSize, &shrunk);
    engineThresholdKeyer()->applyShrinkOuter(cloud.samples.data(), kCloudSize, &shrunk);
    EXPECT_EQ(std::memcmp(selected.thresholds, shrunk.thresholds, sizeof shrunk.thresholds), 0);
    EXPECT_EQ(std::memcmp(selected.hexagonRadii, shrunk.hexagonRadii, sizeof shrunk.hexagonRadii), 0);
}

void* failingAllocate(std::size_t) { return nullptr; }

TEST_F(InitialKey, FailedCloudAllocationLeavesTheKeyAsItWas) {
    const AllocatorHooks saved = allocatorHooks();
    const AllocatorHooks failing = {failingAllocate, std::free};
    for (const std::uint16_t* colour : {kGreen, kGrey}) {
        KeyState state = freshState(KeyFlagUseRT | KeyFlagUseRTPlus);
        const KeyState before = state;
        setAllocatorHooks(&failing);
        // The refusal is reported, so no caller goes on shaping the old key as if it were new.
        const bool set = setBackdropColour(colour, &state);
        const bool selected = selectBackdropColour(colour, &state);
        const bool withRadius = setBackdropColourWithRadius(colour, &state, 2550);
        std::uint16_t* buffer = reinterpret_cast<std::uint16_t*>(&state);
        const int n = makeInitialCloud(&buffer, &state);
        setAllocatorHooks(&saved);
        EXPECT_FALSE(set);
        EXPECT_FALSE(selected);
        EXPECT_FALSE(withRadius);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(buffer, nullptr);
        EXPECT_TRUE(sameRecord(state, before));
    }
}

}  // namespace
}  // namespace vantrelo
