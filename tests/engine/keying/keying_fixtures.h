#pragma once
// Small keys and pixel sets shared by the keying tests.

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_state.h"
#include "engine/keying/polyhedron.h"

namespace vantrelo::testing_keys {

inline KeyState blankState() {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    return state;
}

// A key with the same radius at every vertex: along any direction the ratios are radius / distance
// up to the flatness of the faces, and exact on the axis vertices.
inline KeyState uniformKey(float r, float g, float b, float inner, float middle, float outer,
                           std::uint32_t flags = 0) {
    KeyState state = blankState();
    state.backdrop[0] = r;
    state.backdrop[1] = g;
    state.backdrop[2] = b;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = inner;
        state.middleRadii[v] = middle;
        state.outerRadii[v] = outer;
    }
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
    state.replacementColour[0] = 0x3456;
    state.replacementColour[1] = 0x789a;
    state.replacementColour[2] = 0xbcde;
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

}  // namespace vantrelo::testing_keys
