#pragma once
// Photographs in miniature for the automatic-key and lighting tests: a blue backdrop with a little
// noise, optionally lit unevenly from left to right, and a warm rectangular subject.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/keying/key_state.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo::autokey_test {

struct Rect {
    int x0, y0, x1, y1;  // exclusive right and bottom
    bool contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

inline constexpr std::uint16_t kBlue[3] = {8000, 14000, 52000};
inline constexpr std::uint16_t kSkin[3] = {50000, 36000, 28000};

struct Photo {
    int width, height;
    Rect subject;
    std::vector<std::uint16_t> pixels;
    const std::uint16_t* at(int x, int y) const {
        return pixels.data() + 4 * (static_cast<std::size_t>(y) * width + x);
    }
};

// lightLeft / lightRight scale the backdrop at the left and right edges (1 = even lighting).
inline Photo bluePhoto(int width, int height, Rect subject, float lightLeft = 1.0f, float lightRight = 1.0f,
                       int noise = 1200, unsigned seed = 3, const std::uint16_t* backdrop = kBlue) {
    Photo photo{width, height, subject, std::vector<std::uint16_t>(static_cast<std::size_t>(width) * height * 4)};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint16_t* p = photo.pixels.data() + 4 * (static_cast<std::size_t>(y) * width + x);
            const float light = width > 1 ? lightLeft + (lightRight - lightLeft) * x / (width - 1) : lightLeft;
            for (int c = 0; c < 3; ++c) {
                const int base = subject.contains(x, y) ? kSkin[c] : static_cast<int>(backdrop[c] * light);
                p[c] = static_cast<std::uint16_t>(std::clamp(base + jitter(rng), 0, 65535));
            }
            p[3] = 65535;
        }
    return photo;
}

inline KeyState keyAround(const std::uint16_t* backdrop, float inner, float middle, float outer) {
    return testing_keys::uniformKey(backdrop[0], backdrop[1], backdrop[2], inner, middle, outer);
}

// Everything but the radii compares equal byte for byte.
inline bool sameApartFromRadii(const KeyState& a, const KeyState& b) {
    KeyState x = a, y = b;
    for (KeyState* s : {&x, &y}) {
        std::memset(s->innerRadii, 0, sizeof s->innerRadii);
        std::memset(s->middleRadii, 0, sizeof s->middleRadii);
        std::memset(s->outerRadii, 0, sizeof s->outerRadii);
    }
    return std::memcmp(&x, &y, sizeof x) == 0;
}

inline bool sameBytes(const KeyState& a, const KeyState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace vantrelo::autokey_test
