#pragma once
// Shared helpers of the sampling-tool, initial-key and fine-tune tests.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/keying/key_state.h"
#include "engine/keying/polyhedron.h"

namespace vantrelo::sampling_test {

// A zero-filled record with the given backdrop colour and uniform radii.
inline KeyState makeState(float r, float g, float b, float inner, float middle, float outer) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    state.backdrop[0] = r;
    state.backdrop[1] = g;
    state.backdrop[2] = b;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = inner;
        state.middleRadii[v] = middle;
        state.outerRadii[v] = outer;
    }
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
