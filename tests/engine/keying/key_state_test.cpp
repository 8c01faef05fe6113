#include "engine/keying/key_state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vantrelo {
namespace {

KeyState freshState() {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    return state;
}

TEST(KeyState, InitSetsDefaultsAndKeepsLabels) {
    KeyState state = freshState();
    std::strcpy(state.label1, "studio A");
    state.auxValue2 = 77;
    state.simInnerRadius = 1;
    state.innerRadii[10] = 5.0f;
    initKeyState(&state);
    EXPECT_EQ(state.auxValue1, 0);
    EXPECT_EQ(state.auxValue2, 5);
    EXPECT_EQ(state.simGridSize, 12);
    EXPECT_EQ(state.simInnerRadius, 2550);
    EXPECT_EQ(state.innerRadii[10], 0.0f);
    EXPECT_STREQ(state.label1, "studio A");
    EXPECT_EQ(state.keyer, nullptr);
    EXPECT_EQ(state.extShapes, nullptr);
}

TEST(KeyState, ResetRestoresIdentityCorrectionAndAuxInts) {
    KeyState state = freshState();
    for (float& v : state.correctionSet1) v = 7.0f;
    for (float& v : state.correctionSet2) v = -2.0f;
    resetKeyState(&state);
    const float identity[12] = {0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    const int aux[12] = {-1, -1, -1, -1, -1, -1, 999999, 999999, -1, -1, -1, -1};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(state.correctionSet1[i], identity[i]) << i;
        EXPECT_EQ(state.correctionSet2[i], identity[i]) << i;
        EXPECT_EQ(state.auxInts[i], aux[i]) << i;
    }
}

TEST(KeyState, FillRadiiSelectsThePolyhedron) {
    KeyState state = freshState();
    fillRadii(100, 7, &state);
    fillRadii(-3, 0, &state);
    fillRadii(42, 1, &state);
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_EQ(state.outerRadii[v], 100.0f);
        EXPECT_EQ(state.innerRadii[v], -3.0f);
        EXPECT_EQ(state.middleRadii[v], 42.0f);
    }
}

TEST(KeyState, CopyIsWholeRecord) {
    KeyState a = freshState();
    resetKeyState(&a);
    std::strcpy(a.label2, "copied");
    a.flags = KeyFlagSpillSolid | KeyFlagGrainFilter;
    a.outerRadii[65] = 1234.5f;
    KeyState b = freshState();
    copyKeyState(&b, &a);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(KeyState, WorkerCountIsCappedAt32WithNoLowerBound) {
    const int cases[][2] = {{40, 32}, {32, 32}, {7, 7}, {0, 0}, {-5, -5}};
    for (const auto& c : cases) {
        setWorkerThreadCount(c[0]);
        EXPECT_EQ(workerThreadCount(), c[1]) << c[0];
    }
    setWorkerThreadCount(1);
}

int g_allocs = 0;
void* countingAllocate(std::size_t n) { ++g_allocs; return std::malloc(n); }
void countingRelease(void* p) { --g_allocs; std::free(p); }

TEST(KeyState, AllocatorHooksAreInstalledAsAPair) {
    AllocatorHooks custom{countingAllocate, countingRelease};
    setAllocatorHooks(&custom);
    void* p = engineAllocate(16);
    EXPECT_EQ(g_allocs, 1);
    engineRelease(p);
    EXPECT_EQ(g_allocs, 0);
    // Half a pair must not leave the custom release beside the runtime's allocate.
    AllocatorHooks half{nullptr, countingRelease};
    setAllocatorHooks(&half);
    EXPECT_EQ(allocatorHooks().allocate, &std::malloc);
    EXPECT_EQ(allocatorHooks().release, &std::free);
    setAllocatorHooks(nullptr);
}

}  // namespace
}  // namespace vantrelo
