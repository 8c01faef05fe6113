#include "engine/keying/initial_key.h"

#include <cmath>
#include <cstddef>

#include "engine/keying/colour_model.h"
#include "engine/keying/keyer.h"
#include "engine/keying/numeric.h"
#include "engine/keying/sampling_tools.h"

namespace vantrelo {

namespace {

constexpr float kStartRadius = 130560.0f;     // 2 x 65280
constexpr float kFallbackRadius = 32640.0f;   // the sphere of a backdrop without a cloud
constexpr float kSphereRadius = 16383.75f;

// channel * 65535 truncated to 16 bits; out-of-range and NaN values are limited first.
std::uint16_t toChannel16(float unit) { return truncToUint16(unit * 65535.0f); }

void backdropHsv(const KeyState* state, float* h, float* s, float* v) {
    rgbToHsv(state->backdrop[0] * kUnit16, state->backdrop[1] * kUnit16, state->backdrop[2] * kUnit16, h, s, v);
}

int sphereCloud(std::uint16_t* buffer, const KeyState* state) {
    const float* b = state->backdrop;
    int n = 0;
    for (int j = 0; j < 100; ++j) {
        const float phi = static_cast<float>(j) * 0.03141593f - 1.5707964f;
        const float cosPhi = std::cos(phi), sinPhi = std::sin(phi);
        for (int k = 0; k < 100; ++k) {
            const float theta = static_cast<float>(k) * 0.06283186f;
            const float x = b[0] + kSphereRadius * cosPhi * std::cos(theta);
            const float y = b[1] + kSphereRadius * cosPhi * std::sin(theta);
            const float z = b[2] + kSphereRadius * sinPhi;
            const float point[3] = {x, y, z};
            if (colourInRange(point) != 1) continue;
            std::uint16_t* out = buffer + 4 * n++;
            out[0] = static_cast<std::uint16_t>(x);
            out[1] = static_cast<std::uint16_t>(y);
            out[2] = static_cast<std::uint16_t>(z);
        }
    }
    return n;
}

// Two halves of a 50 x 100 grid whose coloured cells have the smallest red channel (hues 2 to 4
// sextants before the rotation), then every sample turned by the backdrop's hue, which puts the
// coloured cells opposite the backdrop on the hue circle.
int gridCloud(std::uint16_t* buffer, const KeyState* state, float spread) {
    const float redCut = 65535.0f * spread;
    std::uint16_t* out = buffer;
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 50; ++i) {
            const float Y = static_cast<float>(i < 25 ? 25 + i : 49 - i) * 1337.449f;
            for (int c = 0; c < 100; ++c, out += 4) {
                const float X = static_cast<float>(c < 50 ? 50 + c : 99 - c) * 661.9697f;
                if (Y >= X) {
                    out[0] = truncToUint16(X - redCut);  // max(X - cut, 0)
                    out[1] = truncToUint16(half == 0 ? X : Y);
                    out[2] = truncToUint16(half == 0 ? Y : X);
                } else {
                    out[0] = out[1] = out[2] = 65535;
                }
            }
        }
    }
    float backdropHue, unusedS, unusedV;
    backdropHsv(state, &backdropHue, &unusedS, &unusedV);
    for (int n = 0; n < kCloudSize; ++n) {
        std::uint16_t* sample = buffer + 4 * n;
        float h, s, v, r, g, b;
        rgbToHsv(sample[0] * kUnit16, sample[1] * kUnit16, sample[2] * kUnit16, &h, &s, &v);
        hsvToRgb(h + backdropHue, s, v, &r, &g, &b);
        sample[0] = toChannel16(r);
        sample[1] = toChannel16(g);
        sample[2] = toChannel16(b);
    }
    return kCloudSize;
}

std::uint16_t* allocateCloud() {
    return static_cast<std::uint16_t*>(engineAllocate(std::size_t(kCloudSize) * 4 * sizeof(std::uint16_t)));
}

void setStartRadii(KeyState* state, float inner, float middleAndOuter) {
    for (int v = 0; v < kVertexCount; ++v) {
        state->innerRadii[v] = inner;
        state->middleRadii[v] = middleAndOuter;
        state->outerRadii[v] = middleAndOuter;
    }
}

enum class CloudChoice { ByClass, ByHue };

// The common course of the three operations.  The cloud is allocated before anything else changes,
// so a failed allocation leaves the key exactly as it was (false).
bool startKey(const std::uint16_t* colour, KeyState* state, float innerRadius, CloudChoice choice,
              bool startKeyers) {
    if (!colour || !state) return false;
    const float previous[3] = {state->backdrop[0], state->backdrop[1], state->backdrop[2]};
    for (int c = 0; c < 3; ++c) state->backdrop[c] = static_cast<float>(colour[c]);

    std::uint16_t* cloud = nullptr;
    const int n = choice == CloudChoice::ByHue ? makeInitialCloudByHue(&cloud, state, 0.1f)
                                               : makeInitialCloud(&cloud, state);
    if (!cloud) {
        for (int c = 0; c < 3; ++c) state->backdrop[c] = previous[c];
        return false;
    }
    setStartRadii(state, innerRadius, kStartRadius);
    if (n > 0)
        shrinkOuterFromSamples(cloud, n, 1, state);
    else
        setStartRadii(state, innerRadius, kFallbackRadius);
    engineRelease(cloud);
    enforceNesting(2, state);

    if (!startKeyers) return true;
    const std::uint32_t flags = state->flags;
    if (flags & KeyFlagUseRTPlus)
        if (VantreloBase* keyer = engineHexagonKeyer()) keyer->initFromSamples(colour, 1, state);
    if (flags & KeyFlagUseRT)
        if (VantreloBase* keyer = engineThresholdKeyer()) keyer->initFromSamples(colour, 1, state);
    return true;
}

}  // namespace

int makeSampleCloud(int colourClass, std::uint16_t* buffer, const KeyState* state, float spread) {
    if (!buffer || !state) return 0;
    float h, s, v, r, g, b;
    backdropHsv(state, &h, &s, &v);
    hsvToRgb(0.0f, s, v, &r, &g, &b);
    const double rg = static_cast<double>(r) - g, rb = static_cast<double>(r) - b;
    const double least = 0.1 - (rg < rb ? rg : rb);
    if (least > spread) spread = static_cast<float>(least);
    if (colourClass == ColourClassDark || colourClass == ColourClassLight || colourClass == ColourClassGrey)
        return sphereCloud(buffer, state);
    return gridCloud(buffer, state, spread);
}

int makeInitialCloud(std::uint16_t** out, const KeyState* state) {
    if (!out) return 0;
    *out = nullptr;
    if (!state) return 0;
    *out = allocateCloud();
    if (!*out) return 0;
    float h, s, v;
    backdropHsv(state, &h, &s, &v);
    const int colourClass = classifyColourHsv(h, s, v);
    if (colourClass == ColourClassDark || colourClass == ColourClassLight || colourClass == ColourClassGrey)
        return 0;
    return makeSampleCloud(colourClass, *out, state, 0.1f);
}

int makeInitialCloudByHue(std::uint16_t** out, const KeyState* state, float spread) {
    if (!out) return 0;
    *out = nullptr;
    if (!state) return 0;
    *out = allocateCloud();
    if (!*out) return 0;
    float h, s, v;
    backdropHsv(state, &h, &s, &v);
    const int colourClass = (v == 0.0f || s == 0.0f) ? ColourClassRed : hueClass(h);
    return makeSampleCloud(colourClass, *out, state, spread);
}

bool setBackdropColour(const std::uint16_t* colour, KeyState* state) {
    return startKey(colour, state, 1.0f, CloudChoice::ByClass, true);
}

bool selectBackdropColour(const std::uint16_t* colour, KeyState* state) {
    return startKey(colour, state, 1.0f, CloudChoice::ByHue, false);
}

bool setBackdropColourWithRadius(const std::uint16_t* colour, KeyState* state, int innerRadius) {
    return startKey(colour, state, static_cast<float>(innerRadius), CloudChoice::ByClass, true);
}

}  // namespace vantrelo
