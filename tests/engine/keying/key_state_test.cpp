#include "engine/keying/key_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/keying/processing.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::zeroedState;

TEST(KeyState, InitSetsDefaultsAndKeepsLabels) {
    KeyState state = zeroedState();
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

// initKeyState writes the fields it names, with the values it names, and not one byte more: the
// labels, the fourth replacement value, the compiled part, the correction sets and auxInts keep
// what they held.
TEST(KeyState, InitWritesExactlyItsFields) {
    KeyState state;
    std::memset(&state, 0x5a, sizeof state);
    KeyState before;
    std::memcpy(&before, &state, sizeof state);
    initKeyState(&state);
    struct Field {
        std::size_t offset, size;
    };
#define VANTRELO_FIELD(name) Field{offsetof(KeyState, name), sizeof(KeyState::name)}
    const Field written[] = {
        VANTRELO_FIELD(backdrop),     VANTRELO_FIELD(flags),        VANTRELO_FIELD(auxValue1),
        VANTRELO_FIELD(auxValue2),    {offsetof(KeyState, replacementColour), 3 * sizeof(std::uint16_t)},
        VANTRELO_FIELD(innerRadii),   VANTRELO_FIELD(middleRadii),  VANTRELO_FIELD(outerRadii),
        VANTRELO_FIELD(keyer),        VANTRELO_FIELD(thresholds),   VANTRELO_FIELD(hexagonRadii),
        VANTRELO_FIELD(grainLevel),   VANTRELO_FIELD(grainAmount),  VANTRELO_FIELD(extShapes),
        VANTRELO_FIELD(obeyShapes),   VANTRELO_FIELD(simGridSize),  VANTRELO_FIELD(simInnerRadius),
    };
#undef VANTRELO_FIELD
    std::vector<bool> mayChange(sizeof state, false);
    for (const Field& f : written)
        for (std::size_t i = 0; i < f.size; ++i) mayChange[f.offset + i] = true;
    const auto* a = reinterpret_cast<const unsigned char*>(&before);
    const auto* b = reinterpret_cast<const unsigned char*>(&state);
    for (std::size_t i = 0; i < sizeof state; ++i) {
        if (!mayChange[i]) {
            ASSERT_EQ(a[i], b[i]) << "byte " << i << " changed";
        }
    }
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(state.backdrop[c], 0.0f);
        EXPECT_EQ(state.replacementColour[c], 0);
    }
    EXPECT_EQ(state.flags, 0u);
    EXPECT_EQ(state.auxValue1, 0);
    EXPECT_EQ(state.auxValue2, 5);
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_EQ(state.innerRadii[v], 0.0f);
        EXPECT_EQ(state.middleRadii[v], 0.0f);
        EXPECT_EQ(state.outerRadii[v], 0.0f);
    }
    EXPECT_EQ(state.keyer, nullptr);
    EXPECT_EQ(state.extShapes, nullptr);
    EXPECT_EQ(state.obeyShapes, nullptr);
    EXPECT_EQ(state.grainLevel, 0);
    EXPECT_EQ(state.grainAmount, 0.0f);
    EXPECT_EQ(state.simGridSize, 12);
    EXPECT_EQ(state.simInnerRadius, 2550);
    // The keyers' defaults for a black backdrop are plain numbers, no leftover bytes.
    for (float t : state.thresholds) EXPECT_TRUE(std::isfinite(t));
    for (float h : state.hexagonRadii) EXPECT_TRUE(std::isfinite(h));
    KeyState zeroed;
    std::memset(&zeroed, 0, sizeof zeroed);
    initKeyState(&zeroed);
    EXPECT_EQ(std::memcmp(zeroed.thresholds, state.thresholds, sizeof state.thresholds), 0);
    EXPECT_EQ(std::memcmp(zeroed.hexagonRadii, state.hexagonRadii, sizeof state.hexagonRadii), 0);
}

TEST(KeyState, ResetRestoresIdentityCorrectionAndAuxInts) {
    KeyState state = zeroedState();
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
    KeyState state = zeroedState();
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
    KeyState a = zeroedState();
    resetKeyState(&a);
    std::strcpy(a.label2, "copied");
    a.flags = KeyFlagSpillSolid | KeyFlagGrainFilter;
    a.outerRadii[65] = 1234.5f;
    KeyState b = zeroedState();
    copyKeyState(&b, &a);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

// The span callback of the test below records the length of every band it is called for.
std::mutex g_bandsMutex;
std::vector<std::ptrdiff_t> g_bands;
void recordBand(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, const std::uint16_t*,
                std::uint16_t* out, std::ptrdiff_t count, const KeyState*, std::uint32_t) {
    std::fill(out, out + 4 * count, std::uint16_t(0));
    const std::lock_guard<std::mutex> lock(g_bandsMutex);
    g_bands.push_back(count);
}

// The count set is the count the engine keys with: an image is keyed in that many bands (each
// band one call of the span callback), more than 32 are cut to 32, and a count below 2 keys the
// whole image in one call.  The count itself is kept as set, without a lower bound.
TEST(KeyState, WorkerCountSetsTheBandsAnImageIsKeyedIn) {
    const std::int32_t saved = workerThreadCount();
    KeyState state = testing_keys::shapedKey(KeyFlagSpillComplement);
    testing_keys::Compiled compiled(&state);
    state.keySpan16Callback = recordBand;
    constexpr std::ptrdiff_t width = 37, height = 23;
    const std::vector<std::uint16_t> image = testing_keys::pixelsAround(state, std::size_t(width * height), 3);
    std::vector<std::uint16_t> out(image.size());
    struct Case {
        std::int32_t set, stored, bands;
    } cases[] = {{40, 32, 32}, {32, 32, 32}, {7, 7, 7}, {2, 2, 2}, {1, 1, 1}, {0, 0, 1}, {-5, -5, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        setWorkerThreadCount(c.set);
        EXPECT_EQ(workerThreadCount(), c.stored);
        g_bands.clear();
        ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, width, height, &state, nullptr),
                  ProcessStatus::Done);
        std::vector<std::ptrdiff_t> bands = g_bands;
        std::sort(bands.begin(), bands.end());
        ASSERT_EQ(bands.size(), std::size_t(c.bands));
        // Even bands, the last one taking what is left over.
        const std::ptrdiff_t each = width * height / c.bands;
        EXPECT_EQ(bands.front(), each);
        EXPECT_EQ(bands.back(), width * height - (c.bands - 1) * each);
    }
    setWorkerThreadCount(saved);
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
