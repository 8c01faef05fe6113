#include "engine/keying/key_compile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
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
    // Level 2 and amount 0.01 give 656.35 and 3.55 in single precision.
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

// One face of one surface worked in double precision from the lattice points: the vertices
// K + r d (d the unit lattice direction), the normal (P2 - P0) x (P1 - P0), the backdrop dot n . K
// and the reach n . (P0 - K).
struct FaceInDouble {
    double normal[3];
    double backdropDot;
    double reach;
    double scale;  // |n| (|K| + |P0|): the size single precision works at
};
FaceInDouble faceInDouble(const float* radii, const float* backdrop, int face) {
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
        const int v = kFaceVertices[face][k];
        const std::int8_t* lattice = kVertexLattice[v];
        const double length = std::sqrt(double(lattice[0] * lattice[0] + lattice[1] * lattice[1] + lattice[2] * lattice[2]));
        for (int c = 0; c < 3; ++c) p[k][c] = double(backdrop[c]) + double(radii[v]) * lattice[c] / length;
    }
    const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    FaceInDouble out{};
    out.normal[0] = e2[1] * e1[2] - e2[2] * e1[1];
    out.normal[1] = e2[2] * e1[0] - e2[0] * e1[2];
    out.normal[2] = e2[0] * e1[1] - e2[1] * e1[0];
    double k2 = 0, p2 = 0, n2 = 0;
    for (int c = 0; c < 3; ++c) {
        out.backdropDot += out.normal[c] * backdrop[c];
        out.reach += out.normal[c] * (p[0][c] - backdrop[c]);
        k2 += double(backdrop[c]) * backdrop[c];
        p2 += p[0][c] * p[0][c];
        n2 += out.normal[c] * out.normal[c];
    }
    out.scale = std::sqrt(n2) * (std::sqrt(k2) + std::sqrt(p2));
    return out;
}

// Every column of the face table, and the state's own per-surface arrays, hold the face data of
// the radii the flags choose for that surface, checked against the data worked in double
// precision (single precision is good to a few parts in a million of the sizes involved).
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
        SCOPED_TRACE(c.flags);
        KeyState state = shapedKey(c.flags);
        const float* radii[3] = {state.innerRadii, state.middleRadii, state.outerRadii};
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(state.faceTable) % 16, 0u);
        const int from[3] = {c.innerFrom, c.outerFrom, c.middleFrom};  // table columns: inner, outer, middle
        const float(*stateEquations[3])[4] = {state.innerEquations, state.outerEquations, state.middleEquations};
        const float* stateReach[3] = {state.innerReach, state.outerReach, state.middleReach};
        const float* stateDot[3] = {state.innerBackdropDot, state.outerBackdropDot, state.middleBackdropDot};
        for (int face = 0; face < kFaceCount; ++face) {
            const float* record = state.faceTable + face * kFaceTableStride;
            for (int column = 0; column < 3; ++column) {
                const FaceInDouble expected = faceInDouble(radii[from[column]], state.backdrop, face);
                const double tolerance = 1e-5 * expected.scale;
                for (int axis = 0; axis < 3; ++axis) {
                    ASSERT_NEAR(record[axis * 4 + column], expected.normal[axis], tolerance)
                        << "face " << face << " column " << column;
                    EXPECT_EQ(record[axis * 4 + column], stateEquations[column][face][axis]);
                }
                ASSERT_NEAR(record[FaceRowBackdropDot * 4 + column], expected.backdropDot, tolerance)
                    << "face " << face << " column " << column;
                ASSERT_NEAR(record[FaceRowReach * 4 + column], expected.reach, tolerance)
                    << "face " << face << " column " << column;
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
