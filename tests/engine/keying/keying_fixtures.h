#pragma once
// Shared by the keying tests: small keys and pixel sets, the geometry checks of the sampling-tool,
// initial-key and fine-tune tests, and an allocator fixture for the processing pipelines.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_state.h"
#include "engine/keying/polyhedron.h"

namespace vantrelo::testing_keys {

// The backdrop colour and the same radius of each surface at every vertex.
inline void setUniformRadii(KeyState& state, float r, float g, float b, float inner, float middle, float outer) {
    state.backdrop[0] = r;
    state.backdrop[1] = g;
    state.backdrop[2] = b;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = inner;
        state.middleRadii[v] = middle;
        state.outerRadii[v] = outer;
    }
}

// The three polyhedra bit for bit: what shaping a key changes.
inline bool sameRadii(const KeyState& a, const KeyState& b) {
    return std::memcmp(a.innerRadii, b.innerRadii, sizeof a.innerRadii) == 0 &&
           std::memcmp(a.middleRadii, b.middleRadii, sizeof a.middleRadii) == 0 &&
           std::memcmp(a.outerRadii, b.outerRadii, sizeof a.outerRadii) == 0;
}

// R, G, B of the solid spill colour.
inline void setReplacementColour(KeyState& state, std::uint16_t r, std::uint16_t g, std::uint16_t b) {
    state.replacementColour[0] = r;
    state.replacementColour[1] = g;
    state.replacementColour[2] = b;
}

// A record as its owner makes it before the first initKeyState: every byte zero.
inline KeyState zeroedState() {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    return state;
}

inline KeyState blankState() {
    KeyState state = zeroedState();
    initKeyState(&state);
    return state;
}

// A key with the same radius at every vertex: along any direction the ratios are radius / distance
// up to the flatness of the faces, and exact on the axis vertices.
inline KeyState uniformKey(float r, float g, float b, float inner, float middle, float outer,
                           std::uint32_t flags = 0) {
    KeyState state = blankState();
    setUniformRadii(state, r, g, b, inner, middle, outer);
    state.flags = flags;
    return state;
}

// A green-screen key with radii that differ from vertex to vertex, so that faces are tilted.
inline KeyState shapedKey(std::uint32_t flags, std::uint32_t seed = 5) {
    KeyState state = blankState();
    state.backdrop[0] = 9000.5f;
    state.backdrop[1] = 41000.25f;
    state.backdrop[2] = 12000.0f;
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> spread(0.8f, 1.25f);
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = 3000.0f * spread(random);
        state.middleRadii[v] = state.innerRadii[v] + 4000.0f * spread(random);
        state.outerRadii[v] = state.middleRadii[v] + 9000.0f * spread(random);
    }
    setReplacementColour(state, 0x3456, 0x789a, 0xbcde);
    state.flags = flags;
    return state;
}

// Random 16-bit RGBA pixels around a backdrop colour: a mix of near-backdrop noise, colours across
// the three surfaces and far foreground, so every branch of the rule is taken.
inline std::vector<std::uint16_t> pixelsAround(const KeyState& state, std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> kind(0, 3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_int_distribution<int> any(0, 65535);
    std::vector<std::uint16_t> pixels(4 * count);
    const float scales[4] = {3.0f, 2500.0f, 7000.0f, 0.0f};
    for (std::size_t i = 0; i < count; ++i) {
        const int k = kind(random);
        for (int c = 0; c < 3; ++c) {
            float v = k == 3 ? float(any(random)) : state.backdrop[c] + scales[k] * noise(random);
            v = v < 0.0f ? 0.0f : v > 65535.0f ? 65535.0f : v;
            pixels[4 * i + c] = std::uint16_t(v);
        }
        pixels[4 * i + 3] = std::uint16_t(any(random));
    }
    return pixels;
}

// RAII compilation for a test: releases what compileKey made.
struct Compiled {
    KeyState* state;
    int result;
    explicit Compiled(KeyState* s) : state(s), result(compileKey(s)) {}
    ~Compiled() { releaseKey(state); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
};

// An allocator that counts live blocks and can refuse one request, to show that every failure is
// reported and nothing leaks.
struct TestAllocator {
    static inline int calls = 0;
    static inline int live = 0;
    static inline int refuse = -1;
    static void* allocate(std::size_t size) {
        if (calls++ == refuse) return nullptr;
        ++live;
        return std::malloc(size);
    }
    static void release(void* block) {
        --live;
        std::free(block);
    }
};

// Installs TestAllocator and the given worker count for each test, and restores both after it
// once every block has gone back.
class CountedAllocations : public ::testing::Test {
protected:
    explicit CountedAllocations(std::int32_t workers) : workers_(workers) {}
    void SetUp() override {
        TestAllocator::calls = TestAllocator::live = 0;
        TestAllocator::refuse = -1;
        const AllocatorHooks hooks{TestAllocator::allocate, TestAllocator::release};
        setAllocatorHooks(&hooks);
        saved_ = workerThreadCount();
        setWorkerThreadCount(workers_);
    }
    void TearDown() override {
        EXPECT_EQ(TestAllocator::live, 0) << "every working buffer goes back";
        setAllocatorHooks(nullptr);
        setWorkerThreadCount(saved_);
    }

private:
    std::int32_t workers_;
    std::int32_t saved_ = 1;
};

}  // namespace vantrelo::testing_keys

namespace vantrelo::sampling_test {

// A zero-filled record with the given backdrop colour and uniform radii.
inline KeyState makeState(float r, float g, float b, float inner, float middle, float outer) {
    KeyState state = testing_keys::zeroedState();
    testing_keys::setUniformRadii(state, r, g, b, inner, middle, outer);
    return state;
}

// Surface ratio of a colour against one polyhedron (66 radii), worked out in double precision
// independently of the tools: above 1 the colour lies inside, below 1 outside.  `radiusBias` is
// added to the three radii of the crossed face, so a caller can allow a small tolerance.
inline double surfaceRatio(const float* radii, const KeyState& state, const std::uint16_t* colour,
                           double radiusBias = 0.0) {
    const int face = findHitFace(colour, &state);
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
        const int v = kFaceVertices[face][k];
        const std::int8_t* lattice = kVertexLattice[v];
        const double len = std::sqrt(double(lattice[0] * lattice[0] + lattice[1] * lattice[1] +
                                            lattice[2] * lattice[2]));
        for (int c = 0; c < 3; ++c) p[k][c] = (radii[v] + radiusBias) * lattice[c] / len;
    }
    const double e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double n[3] = {e2[1] * e1[2] - e2[2] * e1[1], e2[2] * e1[0] - e2[0] * e1[2],
                         e2[0] * e1[1] - e2[1] * e1[0]};
    double s[3];
    for (int c = 0; c < 3; ++c) s[c] = double(colour[c]) - double(state.backdrop[c]);
    const double den = n[0] * s[0] + n[1] * s[1] + n[2] * s[2];
    return (n[0] * p[0][0] + n[1] * p[0][1] + n[2] * p[0][2]) / den;
}

inline double distanceFrom(const KeyState& state, const std::uint16_t* colour) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double d = double(colour[c]) - double(state.backdrop[c]);
        sum += d * d;
    }
    return std::sqrt(sum);
}

// Samples (RGBA, A = 0) at distances between minDistance and maxDistance from the backdrop colour,
// inside the 16-bit cube, from a fixed generator so the cases are the same on every run.
inline std::vector<std::uint16_t> samplesAround(const KeyState& state, int count, double minDistance,
                                                double maxDistance, std::uint32_t seed) {
    std::vector<std::uint16_t> out;
    std::uint32_t x = seed ? seed : 1;
    auto next = [&x]() {  // xorshift32: fixed sequence on every platform
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    while (static_cast<int>(out.size()) < 4 * count) {
        std::uint16_t c[4] = {std::uint16_t(next() & 0xffff), std::uint16_t(next() & 0xffff),
                              std::uint16_t(next() & 0xffff), 0};
        const double d = distanceFrom(state, c);
        if (d < minDistance || d > maxDistance) continue;
        out.insert(out.end(), c, c + 4);
    }
    return out;
}

inline bool nested(const KeyState& state) {
    for (int v = 0; v < kVertexCount; ++v)
        if (!(state.innerRadii[v] <= state.middleRadii[v] && state.middleRadii[v] <= state.outerRadii[v]))
            return false;
    return true;
}

}  // namespace vantrelo::sampling_test
