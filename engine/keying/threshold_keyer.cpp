#include "engine/keying/threshold_keyer.h"
#include "engine/keying/numeric.h"

#include <cmath>

namespace vantrelo {

using namespace keyer_detail;

namespace {

constexpr int kInner = 0, kMiddle = 1, kOuter = 2;

// One ramp of the compile: value = slope * d + offset, 0 at the lower threshold and 65535 at the
// upper one.  A span at or below 1e-7 (or not a number) becomes the hard step
// 268435456 * (d - 65535) whatever the thresholds are, so that a tiny change of a sample never
// turns the step around or leaves a NaN offset (an inner threshold of 0 would give inf * 0).
void compileRamp(float lower, float upper, float* slope, float* offset16) {
    const float span = upper - lower;
    const bool fixed = !(std::fabs(span) > 1e-7f);
    if (fixed) {
        toFixed16(slope, 4096.0f, true);
        float offset = 0.0f;
        toFixed16(&offset, -4096.0f, true);
        *offset16 = offset * 65535.0f;
        return;
    }
    const float k = 1.0f / span;
    const float o = -(k * lower);
    toFixed16(slope, k, false);
    float offset = 0.0f;
    toFixed16(&offset, o, false);
    *offset16 = offset * 65535.0f;
}

}  // namespace

void VantreloRT::setBackdrop(float r, float g, float b, KeyState* state) {
    if (!state) return;
    storeBackdrop(r, g, b, state);
    float t = 0.0f;
    if (mode == KeyerModeChromatic)
        t = backdropChromaOf(state);
    else if (mode == KeyerModeDarkGrey)
        t = static_cast<float>((1.0 - static_cast<double>(g) / 65535.0) * 1.732);
    else
        t = static_cast<float>((static_cast<double>(g) / 65535.0) * 1.732);
    state->thresholds[kInner] = 0.05f;
    state->thresholds[kMiddle] = t;
    state->thresholds[kOuter] = t;
}

float VantreloRT::lowestDistance(const std::uint16_t* samples, std::ptrdiff_t count) const {
    float m = 6400.0f;
    if (!samples) return m;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* s = samples + 4 * i;
        float o1, o2, o3;
        chromaMetric(s[0] * kUnit16, s[1] * kUnit16, s[2] * kUnit16, &o1, &o2, &o3);
        if (o3 < m) m = o3;
    }
    if (count >= 1 && m < 0.0f) m = 0.0f;
    return m;
}

float VantreloRT::highestDistance(const std::uint16_t* samples, std::ptrdiff_t count) const {
    if (count < 1 || !samples) return 0.0f;
    float m = -6400.0f;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* s = samples + 4 * i;
        float o1, o2, o3;
        chromaMetric(s[0] * kUnit16, s[1] * kUnit16, s[2] * kUnit16, &o1, &o2, &o3);
        if (o3 > m) m = o3;
    }
    return m < 0.0f ? 0.0f : m;
}

void VantreloRT::shrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = lowestDistance(samples, count);
    if (m < state->thresholds[kMiddle]) state->thresholds[kMiddle] = m;
    nestFromMiddle(state);
}

void VantreloRT::shrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = lowestDistance(samples, count);
    if (m < state->thresholds[kInner]) state->thresholds[kInner] = m;
}

void VantreloRT::shrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = lowestDistance(samples, count);
    if (m < state->thresholds[kOuter]) state->thresholds[kOuter] = m;
    nestFromOuter(state);
}

void VantreloRT::growOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = highestDistance(samples, count);
    if (m > state->thresholds[kOuter]) state->thresholds[kOuter] = m;
}

void VantreloRT::growOuterStep(const std::uint16_t*, std::ptrdiff_t, KeyState* state) {
    if (!state) return;
    float t = state->thresholds[kOuter] + static_cast<float>(rtOuterStep) * 0.01f;
    if (t > 1.0f) t = 1.0f;
    state->thresholds[kOuter] = t;
}

void VantreloRT::growInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = highestDistance(samples, count);
    if (m > state->thresholds[kInner]) state->thresholds[kInner] = m;
}

void VantreloRT::growMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (!state) return;
    compile(state);
    const float m = highestDistance(samples, count);
    if (m > state->thresholds[kMiddle]) state->thresholds[kMiddle] = m;
    nestFromMiddle(state);
}

void VantreloRT::nest(KeyState* state) { nestFromInner(state); }

void VantreloRT::nestFromInner(KeyState* state) {
    if (state) nestTripleFromInner(state->thresholds);
}

void VantreloRT::nestFromMiddle(KeyState* state) {
    if (state) nestTripleFromMiddle(state->thresholds);
}

void VantreloRT::nestFromOuter(KeyState* state) {
    if (state) nestTripleFromOuter(state->thresholds);
}

void VantreloRT::compile(const KeyState* state) {
    if (!state) return;
    classifyBackdrop(state);
    // The threshold keyer measures in the chromatic frame whatever the backdrop; only the tools'
    // chromaMetric reads the mode.
    buildChromaticFrame(state);
    for (int c = 0; c < 3; ++c) toFixed16(&alongRow16[c], alongRow[c], false);
    alongOffset16 = backdropChroma * 65535.0f;
    const float* t = state->thresholds;
    compileRamp(t[kInner], t[kMiddle], &matteSlope, &matteOffset16);
    compileRamp(t[kInner], t[kOuter], &spillSlope, &spillOffset16);
    if (isBlackBackdrop(state)) {
        // A black backdrop keys nothing away: every pixel opaque, the spill term at most one unit.
        spillSlope = 0.0f;
        spillOffset16 = 65535.0f;
        matteSlope = 0.0f;
        matteOffset16 = 65535.0f;
    }
}

void VantreloRT::keyPixelUnlimited(const float* pixel, const float* key, const float* spill, float* out,
                                   const KeyState* state) const {
    if (!pixel || !out || !state) return;
    if (!key) key = pixel;
    const float* k = state->backdrop;
    float d = 0.0f, a = 0.0f;
    auto transparent = [&](const float* c, float threshold) {
        d = distance(c[0], c[1], c[2]);
        a = matteSlope * d + matteOffset16;
        const bool nearBackdrop = std::fabs(c[0] - k[0]) < threshold && std::fabs(c[1] - k[1]) < threshold &&
                                  std::fabs(c[2] - k[2]) < threshold;
        return nearBackdrop || a == 0.0f;
    };
    if (transparent(key, state->backdropTolerance16) || (key != pixel && transparent(pixel, 1.0f))) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        return;
    }
    const float s = spillSlope * d + spillOffset16;
    const float f = limit16(65536.0f - s);
    const float fraction = static_cast<float>(static_cast<double>(f) * (1.0 / 65535.0));
    const bool fromReplacement =
        (state->flags & (KeyFlagSpillComplement | KeyFlagSpillSolid)) != 0 || spill == nullptr;
    float r[3];
    for (int c = 0; c < 3; ++c)
        r[c] = fromReplacement ? static_cast<float>(state->replacementColour[c]) : spill[c];
    for (int c = 0; c < 3; ++c) out[c] = pixel[c] + (r[c] - k[c]) * fraction;
    out[3] = a;
}

template <bool Masked>
void VantreloRT::keyRun(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                        const std::uint16_t* mask, std::uint16_t* out, const KeyState* state,
                        std::ptrdiff_t count, std::uint32_t flags) const {
    if (!colour || !out || !state || count < 1) return;
    if (!key) key = colour;
    const float* k = state->backdrop;
    const float tolerance = state->backdropTolerance16;
    const bool sameRun = key == colour;
    const bool fromReplacement = (flags & (KeyFlagSpillComplement | KeyFlagSpillSolid)) != 0 || spill == nullptr;
    const float replacement[3] = {static_cast<float>(state->replacementColour[0]),
                                  static_cast<float>(state->replacementColour[1]),
                                  static_cast<float>(state->replacementColour[2])};
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::uint16_t* p = colour + 4 * i;
        const std::uint16_t* q = key + 4 * i;
        std::uint16_t* o = out + 4 * i;
        float d = 0.0f, a = 0.0f;
        // The alpha is limited before the zero test, so every pixel on the backdrop side of the
        // inner threshold keys transparent.
        auto transparent = [&](const std::uint16_t* c, float threshold) {
            const float cr = c[0], cg = c[1], cb = c[2];
            d = distance(cr, cg, cb);
            a = limit16(matteSlope * d + matteOffset16);
            const bool nearBackdrop = std::fabs(cr - k[0]) < threshold && std::fabs(cg - k[1]) < threshold &&
                                      std::fabs(cb - k[2]) < threshold;
            return nearBackdrop || a == 0.0f;
        };
        if (transparent(q, tolerance) || (!sameRun && transparent(p, 1.0f))) {
            o[0] = o[1] = o[2] = o[3] = 0;
            continue;
        }
        const float s = spillSlope * d + spillOffset16;
        const float f = limit16(65536.0f - s);
        float sourceColour[3];
        const float* r = replacement;
        if (!fromReplacement) {
            const std::uint16_t* b = spill + 4 * i;
            sourceColour[0] = b[0];
            sourceColour[1] = b[1];
            sourceColour[2] = b[2];
            r = sourceColour;
        }
        if constexpr (Masked) {
            const float fraction = f * kUnit16;
            for (int c = 0; c < 3; ++c) o[c] = truncToUint16(static_cast<float>(p[c]) + (r[c] - k[c]) * fraction);
            const float m = mask[4 * i + 1];
            o[3] = truncToUint16((65535.0f - m) * kUnit16 * a);
        } else {
            const double fraction = static_cast<double>(f) * (1.0 / 65535.0);
            for (int c = 0; c < 3; ++c)
                o[c] = truncToUint16(static_cast<double>(p[c]) + static_cast<double>(r[c] - k[c]) * fraction);
            o[3] = truncToUint16(a);
        }
    }
}

void VantreloRT::keyPixels(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                           std::uint16_t* out, const KeyState* state, std::ptrdiff_t count,
                           std::uint32_t flags) const {
    keyRun<false>(colour, key, spill, nullptr, out, state, count, flags);
}

void VantreloRT::keyPixelsMasked(const std::uint16_t* colour, const std::uint16_t* key,
                                 const std::uint16_t* spill, const std::uint16_t* mask, std::uint16_t* out,
                                 const KeyState* state, std::ptrdiff_t count, std::uint32_t flags) const {
    if (!mask)
        keyRun<false>(colour, key, spill, nullptr, out, state, count, flags);
    else
        keyRun<true>(colour, key, spill, mask, out, state, count, flags);
}

void VantreloRT::keySpan(const std::uint16_t* pixel, const std::uint16_t* key, const std::uint16_t* spill,
                         std::uint16_t* out, const KeyState* state) const {
    if (!state) return;
    keyPixels(pixel, key, spill, out, state, 1, state->flags);
}

void VantreloRT::interpolate(KeyState* out, const KeyState* a, const KeyState* b, float t) {
    if (!out || !a || !b) return;
    for (int i = 0; i < 3; ++i) out->thresholds[i] = (1.0f - t) * a->thresholds[i] + t * b->thresholds[i];
}

std::int32_t VantreloRT::stepBy(std::ptrdiff_t count, KeyState* state, int which, double step, bool floorAtZero,
                               NestRule nest) {
    if (count < 1 || !state) return -1;
    double v = static_cast<double>(state->thresholds[which]) + step;
    if (floorAtZero && v < 0.0) v = 0.0;
    state->thresholds[which] = static_cast<float>(v);
    if (nest) (this->*nest)(state);
    return 1;
}

std::int32_t VantreloRT::growOuterBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kOuter, 0.04, false, nullptr);
}

std::int32_t VantreloRT::shrinkOuterBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kOuter, -0.04, false, &VantreloRT::nestFromMiddle);
}

std::int32_t VantreloRT::growMiddleBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kMiddle, 0.04, false, &VantreloRT::nestFromMiddle);
}

std::int32_t VantreloRT::shrinkMiddleBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kMiddle, -0.04, false, &VantreloRT::nestFromInner);
}

std::int32_t VantreloRT::growInnerBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kInner, 0.04, false, &VantreloRT::nestFromInner);
}

std::int32_t VantreloRT::shrinkInnerBy(const std::uint16_t*, std::ptrdiff_t count, KeyState* state) {
    return stepBy(count, state, kInner, -0.04, true, nullptr);
}

std::int32_t VantreloRT::beginFineTune(const std::uint16_t*, KeyState* state) {
    if (!state) return 1;
    snapshotThresholds(state);
    return 1;
}

void VantreloRT::fineTuneOuter(float v, KeyState* state) {
    if (!state) return;
    const float t = (v - 0.5f) + snapshot[kOuter];
    state->thresholds[kOuter] = t < 0.0f ? 0.0f : t;
    nestFromMiddle(state);
}

void VantreloRT::fineTuneMiddle(float v, KeyState* state) {
    if (!state) return;
    const float t = (v - 0.5f) + snapshot[kMiddle];
    state->thresholds[kMiddle] = t < 0.0f ? 0.0f : t;
    nestFromInner(state);
}

void VantreloRT::fineTuneInner(float v, KeyState* state) {
    if (!state) return;
    const float t = (v - 0.5f) + snapshot[kInner];
    state->thresholds[kInner] = t < 0.0f ? 0.0f : t;
    nestFromMiddle(state);
}

void VantreloRT::snapshotThresholds(const KeyState* state) {
    if (!state) return;
    for (int i = 0; i < 3; ++i) snapshot[i] = state->thresholds[i];
}

}  // namespace vantrelo
