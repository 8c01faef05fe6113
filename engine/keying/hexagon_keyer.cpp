#include "engine/keying/hexagon_keyer.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/keying/hexagon_fit.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

using namespace keyer_detail;

namespace {

constexpr int kInner = 0, kMiddle = 1, kOuter = 2;

// Corners (P, Q, R) of each sector and its local frame u = X·xSign + xShift, w = Y·ySign + yShift,
// in which P lies at (0, 0), Q at (2·65535, 0) and R at (65535, 2·65535).
constexpr int kSectorCorners[6][3] = {{0, 1, 2}, {3, 2, 0}, {0, 4, 3}, {0, 1, 6}, {5, 6, 0}, {0, 4, 5}};
constexpr float kSectorFrame[6][4] = {{1, 0, 1, 0},       {1, 65535, -1, 131070}, {-1, 0, 1, 0},
                                      {1, 0, -1, 0},      {1, 65535, 1, 131070},  {-1, 0, -1, 0}};
// The two vertex triples of each sector.
constexpr int kSectorVertices[6][2] = {{1, 2}, {2, 3}, {3, 4}, {1, 6}, {5, 6}, {4, 5}};

float spanLimit(float x) { return x >= 1.0f / 64.0f ? x : 1.0f / 64.0f; }  // NaN gives 1/64 too

}  // namespace

void VantreloRTPlus::setBackdrop(float r, float g, float b, KeyState* state) {
    if (!state) return;
    storeBackdrop(r, g, b, state);
    const double gUnit = static_cast<double>(g) / 65535.0;
    float centre = 0.0f, vertex = 0.0f;
    if (mode == KeyerModeChromatic) {
        centre = vertex = backdropChromaOf(state);
    } else if (mode == KeyerModeDarkGrey) {
        centre = static_cast<float>((1.0 - gUnit) * 1.732);
        vertex = static_cast<float>((0.5 - gUnit) * 1.732);
    } else {
        centre = static_cast<float>(gUnit * 1.732);
        vertex = static_cast<float>((gUnit - 0.5) * 1.732);
    }
    for (int k = 0; k < 7; ++k) {
        float* triple = state->hexagonRadii + 3 * k;
        triple[kInner] = 0.05f;
        triple[kMiddle] = triple[kOuter] = k == 0 ? centre : vertex;
    }
}

void VantreloRTPlus::surfaceTool(int group, std::int32_t fitMode, const std::uint16_t* samples,
                                 std::ptrdiff_t count, KeyState* state) {
    Hexagon hexagon;
    for (int k = 0; k < 7; ++k) hexagon.setValue(k, state->hexagonRadii[3 * k + group]);
    compile(state);
    if (samples) {
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const std::uint16_t* s = samples + 4 * i;
            float o1, o2, o3;
            chromaMetric(s[0] * kUnit16, s[1] * kUnit16, s[2] * kUnit16, &o1, &o2, &o3);
            hexagon.fit(o1, o2, o3, fitMode);
        }
    }
    for (int k = 0; k < 7; ++k) state->hexagonRadii[3 * k + group] = static_cast<float>(hexagon.valueAt(k));
}

void VantreloRTPlus::shrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kMiddle, 1, samples, count, state);
    nestFromMiddle(state);
}

void VantreloRTPlus::shrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kInner, 1, samples, count, state);
    nestFromInner(state);
}

void VantreloRTPlus::shrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kOuter, 1, samples, count, state);
    nestFromOuter(state);
}

void VantreloRTPlus::growOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kOuter, 0, samples, count, state);
    nestFromOuter(state);
}

void VantreloRTPlus::growOuterStep(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    growOuter(samples, count, state);
}

void VantreloRTPlus::growInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kInner, 0, samples, count, state);
    nestFromInner(state);
}

void VantreloRTPlus::growMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    surfaceTool(kMiddle, 0, samples, count, state);
    nestFromMiddle(state);
}

void VantreloRTPlus::nest(KeyState* state) { nestFromInner(state); }

void VantreloRTPlus::nestFromInner(KeyState* state) {
    if (state)
        for (int k = 0; k < 7; ++k) nestTripleFromInner(state->hexagonRadii + 3 * k);
}

void VantreloRTPlus::nestFromMiddle(KeyState* state) {
    if (state)
        for (int k = 0; k < 7; ++k) nestTripleFromMiddle(state->hexagonRadii + 3 * k);
}

void VantreloRTPlus::nestFromOuter(KeyState* state) {
    if (state)
        for (int k = 0; k < 7; ++k) nestTripleFromOuter(state->hexagonRadii + 3 * k);
}

void VantreloRTPlus::compile(const KeyState* state) {
    if (!state) return;
    classifyBackdrop(state);
    if (mode == KeyerModeChromatic) {
        buildChromaticFrame(state);
    } else {
        // Grey backdrops measure along the grey axis: from black (dark) or from white (light).
        const bool light = mode == KeyerModeLightGrey;
        lumaScale = light ? -kInvRoot3 : kInvRoot3;
        lumaOffset = light ? static_cast<float>(1.0 / static_cast<double>(kInvRoot3)) : 0.0f;
        perpendicularRow[0] = -2.0f * kInvRoot6;
        perpendicularRow[1] = kInvRoot6;
        perpendicularRow[2] = kInvRoot6;
        alongRow[0] = 0.0f;
        alongRow[1] = kInvRoot2;
        alongRow[2] = -kInvRoot2;
        backdropChroma = 0.0f;
    }
    frame16[0] = lumaScale;
    frame16[1] = lumaOffset * 65535.0f;
    for (int c = 0; c < 3; ++c) {
        frame16[2 + c] = perpendicularRow[c];
        frame16[5 + c] = alongRow[c];
    }
    frame16[8] = backdropChroma * 65535.0f;

    const float* t = state->hexagonRadii;
    for (int s = 0; s < 6; ++s) {
        const float* p = t + 3 * kSectorCorners[s][0];
        const float* q = t + 3 * kSectorCorners[s][1];
        const float* r = t + 3 * kSectorCorners[s][2];
        float values[CoefficientCount];
        for (int i = 0; i < 4; ++i) values[XSign + i] = kSectorFrame[s][i];
        const float cu = (p[kInner] - q[kInner]) * 0.5f;
        const float cw = (r[kInner] - (p[kInner] + q[kInner]) * 0.5f) * -0.5f;
        const float c0 = -p[kInner] * 65535.0f;
        // The slope over one span (middle: the matte, outer: the spill): 65535 over (b - a) at each
        // corner, interpolated along u and bent along w so that it meets the third corner.
        auto slopes = [&](int upper, int first) {
            const float l = spanLimit(p[upper] - p[kInner]);
            const float m = spanLimit(q[upper] - q[kInner]);
            const float n = spanLimit(r[upper] - r[kInner]);
            const float g = m * l / ((m + l) * n) - 0.5f;
            values[first + 0] = cu;
            values[first + 1] = cw;
            values[first + 2] = 1.0f;
            values[first + 3] = c0;
            values[first + 4] = (1.0f / m - 1.0f / l) * 0.5f * g;
            values[first + 5] = (1.0f / m - 1.0f / l) * 0.5f;
            values[first + 6] = (1.0f / l) * g;
            values[first + 7] = 65535.0f / l;
        };
        slopes(kMiddle, MatteCu);
        slopes(kOuter, SpillCu);
        for (int i = 0; i < CoefficientCount; ++i) toFixed16(&sectorCoefficients[i][s], values[i], false);
    }
    if (isBlackBackdrop(state)) mode = KeyerModeBlack;
}

void VantreloRTPlus::keyCoordinates(float r, float g, float b, float* x, float* y, float* d) const {
    const float luma = frame16[0] * (r + g + b) + frame16[1];
    const float across = frame16[2] * r + frame16[3] * g + frame16[4] * b;
    const float along = frame16[5] * r + frame16[6] * g + frame16[7] * b;
    *y = across;
    if (mode == KeyerModeChromatic) {
        *x = luma;
        *d = along + frame16[8];
    } else {
        *x = along;
        *d = luma;
    }
}

void VantreloRTPlus::keyPixelUnlimited(const float* pixel, const float* key, const float* spill, float* out,
                                       const KeyState* state) const {
    if (!pixel || !out || !state) return;
    if (!key) key = pixel;
    if (mode == KeyerModeBlack) {
        out[0] = pixel[0];
        out[1] = pixel[1];
        out[2] = pixel[2];
        out[3] = 65535.0f;
        return;
    }
    const float* k = state->backdrop;
    double alpha = 0.0, spillValue = 0.0;
    auto evaluate = [&](const float* c) {
        float x, y, d;
        keyCoordinates(c[0], c[1], c[2], &x, &y, &d);
        const int s = sectorOf(x, y);
        const auto& cf = sectorCoefficients;
        const double u = static_cast<double>(x * cf[XSign][s] + cf[XShift][s]);
        const double w = static_cast<double>(y * cf[YSign][s] + cf[YShift][s]);
        auto ramp = [&](int first) {
            const double slope = double(cf[first + 4][s]) * u * w / 65535.0 + double(cf[first + 5][s]) * u +
                                 double(cf[first + 6][s]) * w + double(cf[first + 7][s]);
            const double level = double(cf[first + 0][s]) * u + double(cf[first + 1][s]) * w +
                                 double(cf[first + 2][s] * d) + double(cf[first + 3][s]);
            const double v = slope * level / 65535.0;
            return !(v > 0.0) ? 0.0 : (v > 65535.0 ? 65535.0 : v);
        };
        alpha = ramp(MatteCu);
        spillValue = ramp(SpillCu);
    };
    auto transparent = [&](const float* c, float threshold) {
        evaluate(c);
        const bool nearBackdrop = std::fabs(c[0] - k[0]) < threshold && std::fabs(c[1] - k[1]) < threshold &&
                                  std::fabs(c[2] - k[2]) < threshold;
        return nearBackdrop || static_cast<float>(alpha) == 0.0f;
    };
    if (transparent(key, state->backdropTolerance16) || (key != pixel && transparent(pixel, 1.0f))) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        return;
    }
    const float fraction = 1.0f - static_cast<float>(spillValue / 65535.0);
    const bool fromReplacement =
        (state->flags & (KeyFlagSpillComplement | KeyFlagSpillSolid)) != 0 || spill == nullptr;
    for (int c = 0; c < 3; ++c) {
        float r = fromReplacement ? static_cast<float>(state->replacementColour[c]) : spill[c];
        if (mode != KeyerModeDarkGrey) r -= k[c];
        out[c] = pixel[c] + r * fraction;
    }
    out[3] = static_cast<float>(alpha);
}

void VantreloRTPlus::keyPixels(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                               const std::uint16_t* mask, std::uint16_t* out, const KeyState* state,
                               std::ptrdiff_t count, std::uint32_t flags) const {
    if (!colour || !out || !state || count < 1) return;
    if (!key) key = colour;
    auto maskedAlpha = [&](std::ptrdiff_t i, float alpha) {
        if (!mask) return truncToUint16(alpha);
        const float m = mask[4 * i + 1];
        return truncToUint16((65535.0f - m) * kUnit16 * alpha);
    };
    if (mode == KeyerModeBlack) {
        // Nothing is keyed away from a black backdrop; a garbage mask still removes what it covers.
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            for (int c = 0; c < 3; ++c) out[4 * i + c] = colour[4 * i + c];
            out[4 * i + 3] = maskedAlpha(i, 65535.0f);
        }
        return;
    }
    const float* k = state->backdrop;
    const float tolerance = state->backdropTolerance16;
    const bool sameRun = key == colour;
    const bool fromReplacement = (flags & (KeyFlagSpillComplement | KeyFlagSpillSolid)) != 0 || spill == nullptr;
    const float base[3] = {mode == KeyerModeDarkGrey ? 0.0f : k[0], mode == KeyerModeDarkGrey ? 0.0f : k[1],
                           mode == KeyerModeDarkGrey ? 0.0f : k[2]};
    const auto& cf = sectorCoefficients;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* p = colour + 4 * i;
        const std::uint16_t* q = key + 4 * i;
        std::uint16_t* o = out + 4 * i;
        float alpha = 0.0f, spillValue = 0.0f;
        auto transparent = [&](const std::uint16_t* c, float threshold) {
            const float cr = c[0], cg = c[1], cb = c[2];
            float x, y, d;
            keyCoordinates(cr, cg, cb, &x, &y, &d);
            const int s = sectorOf(x, y);
            const float u = x * cf[XSign][s] + cf[XShift][s];
            const float w = y * cf[YSign][s] + cf[YShift][s];
            auto ramp = [&](int first) {
                const float slope =
                    cf[first + 4][s] * u * w / 65535.0f + cf[first + 5][s] * u + cf[first + 6][s] * w + cf[first + 7][s];
                const float level = cf[first + 0][s] * u + cf[first + 1][s] * w + cf[first + 2][s] * d + cf[first + 3][s];
                return slope * level / 65535.0f;
            };
            alpha = ramp(MatteCu);
            spillValue = ramp(SpillCu);
            const bool nearBackdrop = std::fabs(cr - k[0]) < threshold && std::fabs(cg - k[1]) < threshold &&
                                      std::fabs(cb - k[2]) < threshold;
            return nearBackdrop || !(alpha > 0.0f);  // a NaN alpha keys transparent too
        };
        if (transparent(q, tolerance) || (!sameRun && transparent(p, 1.0f))) {
            o[0] = o[1] = o[2] = o[3] = 0;
            continue;
        }
        if (alpha > 65535.0f) alpha = 65535.0f;
        float r[3];
        for (int c = 0; c < 3; ++c)
            r[c] = fromReplacement ? static_cast<float>(state->replacementColour[c])
                                   : static_cast<float>(spill[4 * i + c]);
        if (spillValue >= 65535.0f) {
            for (int c = 0; c < 3; ++c) o[c] = p[c];
        } else if (spillValue > 0.0f) {
            const float fraction = 1.0f - spillValue / 65535.0f;
            for (int c = 0; c < 3; ++c) o[c] = truncToUint16(static_cast<float>(p[c]) + (r[c] - base[c]) * fraction);
        } else {
            for (int c = 0; c < 3; ++c) o[c] = truncToUint16(static_cast<float>(p[c]) + (r[c] - base[c]));
        }
        o[3] = maskedAlpha(i, alpha);
    }
}

void VantreloRTPlus::keySpan(const std::uint16_t* pixel, const std::uint16_t* key, const std::uint16_t* spill,
                             std::uint16_t* out, const KeyState* state) const {
    if (!state) return;
    keyPixels(pixel, key, spill, nullptr, out, state, 1, state->flags);
}

void VantreloRTPlus::interpolate(KeyState* out, const KeyState* a, const KeyState* b, float t) {
    if (!out || !a || !b) return;
    for (int i = 0; i < 21; ++i) out->hexagonRadii[i] = (1.0f - t) * a->hexagonRadii[i] + t * b->hexagonRadii[i];
}

void VantreloRTPlus::computeVertexWeights(const std::uint16_t* samples, std::ptrdiff_t count) {
    std::fill(std::begin(vertexWeights), std::end(vertexWeights), 0.0f);
    if (!samples || count < 1) return;
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (std::ptrdiff_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += samples[4 * i + c];
    const float inverse = 1.0f / static_cast<float>(count);
    const float r = sum[0] * inverse * kUnit16, g = sum[1] * inverse * kUnit16, b = sum[2] * inverse * kUnit16;
    const float x = lumaScale * (r + g + b) + lumaOffset;
    const float y = perpendicularRow[0] * r + perpendicularRow[1] * g + perpendicularRow[2] * b;
    if (static_cast<double>(x * x + y * y) >= 0.04) {
        vertexWeights[0] = 0.3f;
        const int s = sectorOf(x, y);
        vertexWeights[kSectorVertices[s][0]] = 1.0f;
        vertexWeights[kSectorVertices[s][1]] = 1.0f;
    } else {
        vertexWeights[0] = 1.0f;
    }
}

std::int32_t VantreloRTPlus::stepBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state, int group,
                                   double step, bool floorAtZero, NestRule nest) {
    if (count < 1 || !samples || !state) return -1;
    computeVertexWeights(samples, count);
    for (int k = 0; k < 7; ++k) {
        float& value = state->hexagonRadii[3 * k + group];
        double v = static_cast<double>(value) + step * static_cast<double>(vertexWeights[k]);
        if (floorAtZero && v < 0.0) v = 0.0;
        value = static_cast<float>(v);
    }
    if (nest) (this->*nest)(state);
    return 1;
}

std::int32_t VantreloRTPlus::growOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kOuter, 0.04, false, nullptr);
}

std::int32_t VantreloRTPlus::shrinkOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kOuter, -0.04, false, &VantreloRTPlus::nestFromMiddle);
}

std::int32_t VantreloRTPlus::growMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kMiddle, 0.04, false, &VantreloRTPlus::nestFromMiddle);
}

std::int32_t VantreloRTPlus::shrinkMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kMiddle, -0.04, false, &VantreloRTPlus::nestFromInner);
}

std::int32_t VantreloRTPlus::growInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kInner, 0.04, false, &VantreloRTPlus::nestFromInner);
}

std::int32_t VantreloRTPlus::shrinkInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    return stepBy(samples, count, state, kInner, -0.04, true, nullptr);
}

std::int32_t VantreloRTPlus::beginFineTune(const std::uint16_t* sample, KeyState* state) {
    computeVertexWeights(sample, sample ? 1 : 0);
    if (state) snapshotThresholds(state);
    return 1;
}

void VantreloRTPlus::fineTuneGroup(int group, float v, KeyState* state) {
    for (int k = 0; k < 7; ++k) {
        const float x = (v - 0.5f) * vertexWeights[k] + snapshot[7 * group + k];
        state->hexagonRadii[3 * k + group] = x < 0.0f ? 0.0f : x;
    }
}

void VantreloRTPlus::fineTuneOuter(float v, KeyState* state) {
    if (!state) return;
    fineTuneGroup(kOuter, v, state);
    nestFromMiddle(state);
}

void VantreloRTPlus::fineTuneMiddle(float v, KeyState* state) {
    if (!state) return;
    fineTuneGroup(kMiddle, v, state);
    nestFromInner(state);
}

void VantreloRTPlus::fineTuneInner(float v, KeyState* state) {
    if (!state) return;
    fineTuneGroup(kInner, v, state);
    nestFromMiddle(state);
}

void VantreloRTPlus::snapshotThresholds(const KeyState* state) {
    if (!state) return;
    for (int group = 0; group < 3; ++group)
        for (int k = 0; k < 7; ++k) snapshot[7 * group + k] = state->hexagonRadii[3 * k + group];
}

void VantreloRTPlus::sectorColour(float r, float g, float b, float* out) const {
    if (!out) return;
    static constexpr float kColours[6][3] = {{65535, 0, 0},     {0, 65535, 0},     {0, 0, 65535},
                                             {65535, 65535, 0}, {65535, 0, 65535}, {0, 65535, 65535}};
    const float x = frame16[0] * (r + g + b) + frame16[1];
    const float y = frame16[2] * r + frame16[3] * g + frame16[4] * b;
    const int s = sectorOf(x, y);
    for (int c = 0; c < 3; ++c) out[c] = kColours[s][c];
    out[3] = 65535.0f;
}

std::int32_t VantreloRTPlus::setInnerAt(float value, std::int32_t k, KeyState* state) {
    if (!state || static_cast<std::uint32_t>(k) > 6u) return -1;
    state->hexagonRadii[3 * k + kInner] = value;
    return 1;
}

std::int32_t VantreloRTPlus::setMiddleAt(float value, std::int32_t k, KeyState* state) {
    if (!state || static_cast<std::uint32_t>(k) > 6u) return -1;
    state->hexagonRadii[3 * k + kMiddle] = value;
    return 1;
}

std::int32_t VantreloRTPlus::setOuterAt(float value, std::int32_t k, KeyState* state) {
    if (!state || static_cast<std::uint32_t>(k) > 6u) return -1;
    state->hexagonRadii[3 * k + kOuter] = value;
    return 1;
}

}  // namespace vantrelo
