#include "engine/keying/key_compile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/keyer.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::blankState;
using testing_keys::Compiled;
using testing_keys::shapedKey;

TEST(KeyCompile, ToleranceFollowsGrainLevelAndAmount) {
    struct Case {
        std::int32_t level;
        float amount;
        float tolerance16;
        std::int32_t tolerance16Int;
        float tolerance8;
        std::int32_t tolerance8Int;
    };
    const Case cases[] = {
        {0, 0.0f, 1.0f, 1, 1.0f, 1},
        {0, 0.7f, 1.0f, 1, 1.0f, 1},  // grain off: the amount does not count
        {2, 0.01f, 0.01f * 65535.0f + 1.0f, 656, 0.01f * 255.0f + 1.0f, 3},
        {1, 0.0f, 1.0f, 1, 1.0f, 1},
        {3, 1.0f, 65536.0f, 65536, 256.0f, 256},
        {1, std::nanf(""), std::nanf(""), 0, std::nanf(""), 0},  // NaN never becomes an undefined integer
    };
    for (const Case& c : cases) {
        KeyState state = shapedKey(0);
        state.grainLevel = c.level;
        state.grainAmount = c.amount;
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        if (std::isnan(c.tolerance16)) {
            EXPECT_TRUE(std::isnan(state.backdropTolerance16));
            EXPECT_TRUE(std::isnan(state.backdropTolerance8));
        } else {
            EXPECT_EQ(state.backdropTolerance16, c.tolerance16) << c.level << " " << c.amount;
            EXPECT_EQ(state.backdropTolerance8, c.tolerance8) << c.level << " " << c.amount;
        }
        EXPECT_EQ(state.backdropTolerance16Int, c.tolerance16Int) << c.level << " " << c.amount;
        EXPECT_EQ(state.backdropTolerance8Int, c.tolerance8Int) << c.level << " " << c.amount;
    }
    // The documented figures: 656.35 and 3.55 in single precision.
    KeyState state = shapedKey(0);
    state.grainLevel = 2;
    state.grainAmount = 0.01f;
    Compiled compiled(&state);
    EXPECT_NEAR(state.backdropTolerance16, 656.35f, 1e-3f);
    EXPECT_NEAR(state.backdropTolerance8, 3.55f, 1e-5f);
}

TEST(KeyCompile, FlagsSelectTheSpanCallbacks) {
    struct Case {
        std::uint32_t flags;
        KeySpan16Fn span16;
        KeySpan8Fn span8;
    };
    const std::uint32_t mask = KeyFlagGarbageMask, direct = KeyFlagDirectCallbacks;
    const std::uint32_t complement = KeyFlagSpillComplement, solid = KeyFlagSpillSolid;
    const Case cases[] = {
        {KeyFlagUseRTPlus, keySpan16RTPlus, nullptr},
        {KeyFlagUseRTPlus | mask, keySpan16RTPlusMasked, nullptr},
        {KeyFlagUseRTPlus | complement | direct, keySpan16RTPlus, nullptr},
        {KeyFlagUseRT, keySpan16RT, nullptr},
        {KeyFlagUseRT | mask | solid, keySpan16RTMasked, nullptr},
        {KeyFlagUseRT | KeyFlagUseRTPlus, keySpan16RTPlus, nullptr},  // normalised to the hexagon keyer
        {complement | direct, keySpan16Complement, keySpan8Complement},
        {complement | mask | direct, keySpan16ComplementMasked, keySpan8ComplementMasked},
        {complement | solid | direct, keySpan16Complement, keySpan8Complement},
        {complement, forwardKeySpan16Complement, forwardKeySpan8Complement},
        {complement | mask, forwardKeySpan16ComplementMasked, forwardKeySpan8ComplementMasked},
        {direct, keySpan16Spill, keySpan8Spill},
        {solid | direct, keySpan16Spill, keySpan8Spill},
        {mask | direct, keySpan16SpillMasked, keySpan8SpillMasked},
        {0, forwardKeySpan16Spill, forwardKeySpan8Spill},
        {solid | mask, forwardKeySpan16SpillMasked, forwardKeySpan8SpillMasked},
    };
    for (const Case& c : cases) {
        KeyState state = shapedKey(c.flags);
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1) << std::hex << c.flags;
        EXPECT_EQ(state.keySpan16Callback, c.span16) << std::hex << c.flags;
        EXPECT_EQ(state.keySpan8Callback, c.span8) << std::hex << c.flags;
        const bool alternative = c.flags & (KeyFlagUseRT | KeyFlagUseRTPlus);
        EXPECT_EQ(state.keyer != nullptr, alternative) << std::hex << c.flags;
        EXPECT_NE(state.faceTable, nullptr);
    }
}

TEST(KeyCompile, FaceTableColumnsFollowTheRadiiRules) {
    struct Case {
        std::uint32_t flags;
        int innerFrom, middleFrom, outerFrom;  // 0 inner, 1 middle, 2 outer radii
    };
    const Case cases[] = {
        {0, 0, 1, 2},
        {KeyFlagMiddleOnly, 1, 1, 1},
        {KeyFlagOuterFromMiddle, 0, 1, 1},
        {KeyFlagMiddleOnly | KeyFlagOuterFromMiddle, 1, 1, 1},
    };
    for (const Case& c : cases) {
        KeyState state = shapedKey(c.flags);
        // The reference: each surface compiled on its own from the radii it should come from.
        KeyState sources[3];
        for (int which = 0; which < 3; ++which) {
            sources[which] = shapedKey(0);
            const float* radii = which == 0 ? state.innerRadii : which == 1 ? state.middleRadii : state.outerRadii;
            for (int v = 0; v < kVertexCount; ++v)
                sources[which].innerRadii[v] = sources[which].middleRadii[v] = sources[which].outerRadii[v] =
                    radii[v];
        }
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(state.faceTable) % 16, 0u);
        for (int which = 0; which < 3; ++which) {
            Compiled reference(&sources[which]);
            ASSERT_EQ(reference.result, 1);
        }
        const int from[3] = {c.innerFrom, c.outerFrom, c.middleFrom};  // table columns: inner, outer, middle
        const float(*stateEquations[3])[4] = {state.innerEquations, state.outerEquations, state.middleEquations};
        const float* stateReach[3] = {state.innerReach, state.outerReach, state.middleReach};
        const float* stateDot[3] = {state.innerBackdropDot, state.outerBackdropDot, state.middleBackdropDot};
        for (int face = 0; face < kFaceCount; ++face) {
            const float* record = state.faceTable + face * kFaceTableStride;
            for (int column = 0; column < 3; ++column) {
                const KeyState& source = sources[from[column]];
                for (int axis = 0; axis < 3; ++axis) {
                    EXPECT_EQ(record[axis * 4 + column], source.innerEquations[face][axis]);
                    EXPECT_EQ(record[axis * 4 + column], stateEquations[column][face][axis]);
                }
                EXPECT_EQ(record[FaceRowBackdropDot * 4 + column], source.innerBackdropDot[face]);
                EXPECT_EQ(record[FaceRowReach * 4 + column], source.innerReach[face]);
                EXPECT_EQ(record[FaceRowBackdropDot * 4 + column], stateDot[column][face]);
                EXPECT_EQ(record[FaceRowReach * 4 + column], stateReach[column][face]);
            }
            for (int row = 0; row < 5; ++row) EXPECT_EQ(record[row * 4 + 3], 1.0f);
        }
        for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(state.compiledBackdrop[axis], state.backdrop[axis]);
    }
}

TEST(KeyCompile, ReleaseClearsWhatCompilationMade) {
    KeyState state = shapedKey(KeyFlagUseRT | KeyFlagGarbageMask);
    ASSERT_EQ(compileKey(&state), 1);
    ASSERT_NE(state.keyer, nullptr);
    EXPECT_EQ(releaseKey(&state), 1);
    EXPECT_EQ(state.keyer, nullptr);
    EXPECT_EQ(state.faceTable, nullptr);
    EXPECT_EQ(state.keySpan16Callback, nullptr);
    EXPECT_EQ(state.keySpan8Callback, nullptr);

    // Never compiled: nothing changes, byte for byte.
    KeyState fresh = blankState();
    KeyState before;
    std::memcpy(&before, &fresh, sizeof fresh);
    EXPECT_EQ(releaseKey(&fresh), 1);
    EXPECT_EQ(std::memcmp(&before, &fresh, sizeof fresh), 0);
}

TEST(KeyCompile, CopyOfAReleasedRecordCompilesOnItsOwn) {
    KeyState source = shapedKey(KeyFlagSpillComplement);
    ASSERT_EQ(compileKey(&source), 1);
    releaseKey(&source);
    KeyState copy;
    copyKeyState(&copy, &source);
    ASSERT_EQ(compileKey(&copy), 1);
    ASSERT_EQ(compileKey(&source), 1);
    EXPECT_NE(copy.faceTable, source.faceTable);
    EXPECT_EQ(std::memcmp(copy.faceTable, source.faceTable, sizeof(float) * kFaceCount * kFaceTableStride), 0);
    releaseKey(&copy);
    // The source still keys after the copy's release.
    const std::uint16_t pixel[4] = {20000, 20000, 20000, 0};
    std::uint16_t out[4];
    vantproc(pixel, pixel, nullptr, nullptr, out, 1, &source);
    EXPECT_EQ(out[3], 65535);
    releaseKey(&source);
}

}  // namespace
}  // namespace vantrelo
