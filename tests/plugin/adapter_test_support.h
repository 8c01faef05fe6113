#pragma once
// Keys for the adapter tests: three states whose radii differ from vertex to vertex and from state to
// state, so that a tool applied to the wrong state, or not applied, shows in a byte comparison; and
// colours at known distances from the backdrop, so that every tool finds something to change.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "engine/keying/key_state.h"
#include "plugin/key_state_set.h"

namespace vantrelo::adapter_test {

inline constexpr float kBackdrop[3] = {9000.0f, 41000.0f, 12000.0f};

// Inner about 3000, middle and outer each 2% to 8% further out, varied per vertex by the seed.  The
// surfaces lie close together, so a tool step easily crosses the next surface and the nesting mode
// that follows it shows in the result.
inline void shapeState(KeyState& state, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> spread(0.85f, 1.2f);
    std::uniform_real_distribution<float> gap(1.02f, 1.08f);
    std::copy(std::begin(kBackdrop), std::end(kBackdrop), state.backdrop);
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = 3000.0f * spread(random);
        state.middleRadii[v] = state.innerRadii[v] * gap(random);
        state.outerRadii[v] = state.middleRadii[v] * gap(random);
    }
}

inline void shapeSet(KeyStateSet& set) {
    shapeState(set.keyState, 11);
    shapeState(set.edgeState, 23);
    shapeState(set.bodyState, 37);
}

// Backdrop + distance x direction, limited to the 16-bit range; alpha differs per sample.
inline std::vector<std::uint16_t> samplesAtDistances(const std::vector<float>& distances) {
    // Off the vertex directions, where a face lookup is degenerate.
    static const float directions[][3] = {{1, 0.2f, 0.1f},    {0.15f, -1, 0.3f}, {0.2f, 0.1f, 1},
                                          {1, -1, 0.9f},      {-1, 0.3f, 1},     {1, 0.8f, 0.1f},
                                          {-1, -0.7f, 0.2f},  {0.1f, -1, -0.8f}};
    std::vector<std::uint16_t> samples;
    for (std::size_t i = 0; i < distances.size(); ++i) {
        const float* d = directions[i % std::size(directions)];
        const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (int c = 0; c < 3; ++c) {
            const float v = kBackdrop[c] + distances[i] * d[c] / length;
            samples.push_back(static_cast<std::uint16_t>(std::clamp(v, 0.0f, 65535.0f)));
        }
        samples.push_back(static_cast<std::uint16_t>(60000 - 1000 * i));
    }
    return samples;
}

// A 3 x 2 grid: inside the inner surface, near and between the surfaces, and outside the outer one.
inline std::vector<std::uint16_t> mixedSamples() {
    return samplesAtDistances({1500, 3300, 5000, 25000, 3100, 3600});
}

inline bool sameBytes(const KeyState& a, const KeyState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Byte equality apart from the shape-list pointers, for states of two different sets.
inline bool sameContent(KeyState a, KeyState b) {
    a.extShapes = b.extShapes = nullptr;
    a.obeyShapes = b.obeyShapes = nullptr;
    return sameBytes(a, b);
}

// The three states of a set, copied as records.  (A copy of the whole set points its key state at
// the copy's own shape lists, so it would not compare byte for byte.)
struct StatesSnapshot {
    explicit StatesSnapshot(const KeyStateSet& set) : key(set.keyState), edge(set.edgeState), body(set.bodyState) {}
    const KeyState& operator[](int k) const { return k == 0 ? key : k == 1 ? edge : body; }
    KeyState key, edge, body;
};

inline const KeyState& stateOf(const KeyStateSet& set, int k) {
    return k == 0 ? set.keyState : k == 1 ? set.edgeState : set.bodyState;
}

inline bool sameStates(const KeyStateSet& set, const StatesSnapshot& snapshot) {
    return sameBytes(set.keyState, snapshot.key) && sameBytes(set.edgeState, snapshot.edge) &&
           sameBytes(set.bodyState, snapshot.body);
}

}  // namespace vantrelo::adapter_test
