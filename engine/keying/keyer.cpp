#include "engine/keying/keyer.h"

#include <cmath>
#include <new>

#include "engine/keying/hexagon_keyer.h"
#include "engine/keying/numeric.h"
#include "engine/keying/threshold_keyer.h"

namespace vantrelo {

using namespace keyer_detail;

namespace {

// Engine-wide instances.  They are created on the calling thread by the first operation that needs
// them (initKeyState, tools, compile), before any threaded work; a failed allocation is retried on
// the next use.
VantreloRTPlus* g_hexagonKeyer = nullptr;
VantreloRT* g_thresholdKeyer = nullptr;
std::int32_t g_creations = 0;

}  // namespace

// ---- Shared single-pixel operations ----

void VantreloBase::keyPixel(const float* pixel, const float* key, const float* spill, float* out,
                            const KeyState* state) const {
    keyPixelUnlimited(pixel, key, spill, out, state);
    // The single-pixel path stores its alpha in an output pixel: outside 0..65535 it has no meaning.
    out[3] = limit16(out[3]);
}

void VantreloBase::keyPixelClamped(const float* pixel, const float* key, const float* spill, float* out,
                                   const KeyState* state) const {
    keyPixel(pixel, key, spill, out, state);
    for (int c = 0; c < 3; ++c) out[c] = limit16(out[c]);
}

std::int32_t VantreloBase::keyPixelAlpha(const float* pixel, const float* key, const float* spill, float* out,
                                         const KeyState* state) const {
    // Classified on the keyer's own alpha, before any limit: a far-outside ramp value is neither
    // transparent nor opaque here, which is what this three-zone view has always shown.
    keyPixelUnlimited(pixel, key, spill, out, state);
    for (int c = 0; c < 3; ++c) out[c] = limit16(out[c]);
    const std::int32_t a = truncToInt32(out[3]);
    if (a == 0) {
        out[0] = out[1] = out[2] = 0.0f;
        return 0;
    }
    if (a == 65535) {
        out[0] = out[1] = out[2] = 65535.0f;
        return 65535;
    }
    out[0] = 0.0f;
    out[1] = 0.0f;
    out[2] = static_cast<float>(a);
    return 0;
}

// ---- Tool entry points ----

std::int32_t VantreloBase::applyGrowInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    growInner(samples, count, state);
    nestFromInner(state);
    return 1;
}

std::int32_t VantreloBase::applyShrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    shrinkOuter(samples, count, state);
    nestFromOuter(state);
    return 1;
}

std::int32_t VantreloBase::applyShrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count,
                                             KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    shrinkMiddle(samples, count, state);
    nestFromMiddle(state);
    return 1;
}

std::int32_t VantreloBase::applyShrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    shrinkInner(samples, count, state);
    return 1;
}

std::int32_t VantreloBase::applyGrowMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    growMiddle(samples, count, state);
    return 1;
}

std::int32_t VantreloBase::applyGrowOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    growOuter(samples, count, state);
    return 1;
}

std::int32_t VantreloBase::applyGrowOuterStep(const std::uint16_t* samples, std::ptrdiff_t count,
                                              KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    double sum[3] = {0.0, 0.0, 0.0};
    for (std::ptrdiff_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += samples[4 * i + c];
    std::uint16_t mean[4] = {0, 0, 0, 0};
    for (int c = 0; c < 3; ++c) mean[c] = truncToUint16(sum[c] / static_cast<double>(count));
    growOuterStep(mean, 1, state);
    return 1;
}

std::int32_t VantreloBase::initFromSamples(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) {
    if (count < 1 || !samples || !state) return -1;
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (std::ptrdiff_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += samples[4 * i + c];
    const float scale = 1.0f / static_cast<float>(count);
    setBackdrop(sum[0] * scale, sum[1] * scale, sum[2] * scale, state);
    growInner(samples, count, state);
    return 1;
}

void VantreloBase::initFromState(KeyState* state) {
    if (!state) return;
    setBackdrop(state->backdrop[0], state->backdrop[1], state->backdrop[2], state);
    compile(state);
}

// ---- Colour frame ----

float VantreloBase::backdropChromaOf(const KeyState* state) {
    const float r = state->backdrop[0] * kUnit16;
    const float g = state->backdrop[1] * kUnit16;
    const float b = state->backdrop[2] * kUnit16;
    const float u = (b - g) * kInvRoot2;
    const float v = (g + b - 2.0f * r) * kInvRoot6;
    return std::sqrt(u * u + v * v);
}

void VantreloBase::storeBackdrop(float r, float g, float b, KeyState* state) {
    state->backdrop[0] = r;
    state->backdrop[1] = g;
    state->backdrop[2] = b;
    classifyBackdrop(state);
}

void VantreloBase::classifyBackdrop(const KeyState* state) {
    if (!state) return;
    const float h = backdropChromaOf(state);
    if (static_cast<double>(h) > 0.05)
        mode = KeyerModeChromatic;
    else
        mode = state->backdrop[1] * kUnit16 >= 0.5f ? KeyerModeLightGrey : KeyerModeDarkGrey;
}

void VantreloBase::buildChromaticFrame(const KeyState* state) {
    const float r = state->backdrop[0] * kUnit16;
    const float g = state->backdrop[1] * kUnit16;
    const float b = state->backdrop[2] * kUnit16;
    const float u = (b - g) * kInvRoot2;
    const float v = (g + b - 2.0f * r) * kInvRoot6;
    const float h = std::sqrt(u * u + v * v);
    float dx = 0.0f, dy = 0.0f;
    if (std::fabs(static_cast<double>(h)) >= 1e-5) {  // a NaN chroma keeps (0, 0) too
        dx = u / h;
        dy = v / h;
    }
    lumaScale = kInvRoot3;
    lumaOffset = -((r + g + b) * kInvRoot3);
    perpendicularRow[0] = 2.0f * kInvRoot6 * dx;
    perpendicularRow[1] = -dy * kInvRoot2 - dx * kInvRoot6;
    perpendicularRow[2] = dy * kInvRoot2 - dx * kInvRoot6;
    alongRow[0] = 2.0f * kInvRoot6 * dy;
    alongRow[1] = dx * kInvRoot2 - dy * kInvRoot6;
    alongRow[2] = -dx * kInvRoot2 - dy * kInvRoot6;
    backdropChroma = h;
}

void VantreloBase::chromaMetric(float r, float g, float b, float* o1, float* o2, float* o3) const {
    const float l = lumaScale * (r + g + b) + lumaOffset;
    const float p = perpendicularRow[0] * r + perpendicularRow[1] * g + perpendicularRow[2] * b;
    const float a = alongRow[0] * r + alongRow[1] * g + alongRow[2] * b + backdropChroma;
    if (mode == KeyerModeChromatic) {
        *o1 = 0.5f * l;
        *o2 = 0.5f * p;
        *o3 = a;
    } else {
        *o1 = 0.5f * a;
        *o2 = 0.5f * p;
        *o3 = l;
    }
}

void toFixed16(float* out, float x, bool fixed) {
    if (!out) return;
    if (!fixed) {
        *out = x;
        return;
    }
    const float sign = x >= 0.0f ? 1.0f : -1.0f;
    float magnitude = std::fabs(x);
    if (!(magnitude <= 4096.0f)) magnitude = 4096.0f;  // also NaN
    // At most 2^28 in magnitude: the truncation to an integer is exact and in range.
    *out = static_cast<float>(static_cast<std::int32_t>(magnitude * 65536.0f * sign));
}

// ---- Engine-wide instances ----

VantreloBase* engineHexagonKeyer() {
    if (!g_hexagonKeyer) {
        g_hexagonKeyer = new (std::nothrow) VantreloRTPlus();
        if (g_hexagonKeyer) ++g_creations;
    }
    return g_hexagonKeyer;
}

VantreloBase* engineThresholdKeyer() {
    if (!g_thresholdKeyer) {
        g_thresholdKeyer = new (std::nothrow) VantreloRT();
        if (g_thresholdKeyer) ++g_creations;
    }
    return g_thresholdKeyer;
}

std::int32_t engineKeyerCreationCount() { return g_creations; }

// ---- Compilation ----

VantreloBase* createCompiledKeyer(KeyState* state) {
    if (!state) return nullptr;
    if ((state->flags & KeyFlagUseRTPlus) && (state->flags & KeyFlagUseRT)) state->flags &= ~KeyFlagUseRT;
    VantreloBase* keyer = nullptr;
    if (state->flags & KeyFlagUseRTPlus) {
        if (VantreloBase* shared = engineHexagonKeyer()) shared->compile(state);
        keyer = new (std::nothrow) VantreloRTPlus();
    } else if (state->flags & KeyFlagUseRT) {
        if (VantreloBase* shared = engineThresholdKeyer()) shared->compile(state);
        keyer = new (std::nothrow) VantreloRT();
    }
    if (keyer) keyer->compile(state);
    return keyer;
}

void destroyKeyer(VantreloBase* keyer) { delete keyer; }

// ---- Run keying ----

bool keyRunRT(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
              std::uint16_t* out, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    const auto* keyer = state ? dynamic_cast<const VantreloRT*>(state->keyer) : nullptr;
    if (!keyer || !colour || !out) return false;
    keyer->keyPixels(colour, key, spill, out, state, count, flags);
    return true;
}

bool keyRunRTMasked(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                    const std::uint16_t* mask, std::uint16_t* out, std::ptrdiff_t count, const KeyState* state,
                    std::uint32_t flags) {
    const auto* keyer = state ? dynamic_cast<const VantreloRT*>(state->keyer) : nullptr;
    if (!keyer || !colour || !out) return false;
    keyer->keyPixelsMasked(colour, key, spill, mask, out, state, count, flags);
    return true;
}

bool keyRunRTPlus(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                  const std::uint16_t* mask, std::uint16_t* out, std::ptrdiff_t count, const KeyState* state,
                  std::uint32_t flags) {
    const auto* keyer = state ? dynamic_cast<const VantreloRTPlus*>(state->keyer) : nullptr;
    if (!keyer || !colour || !out) return false;
    keyer->keyPixels(colour, key, spill, mask, out, state, count, flags);
    return true;
}

}  // namespace vantrelo
