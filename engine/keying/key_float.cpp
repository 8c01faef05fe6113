// Float keying and the 3 x 3 median by luma of sampled blocks.

#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine/keying/key_float8.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"

namespace vantrelo {

namespace {

constexpr std::uint32_t kAlternativeKeyers = KeyFlagUseRTPlus | KeyFlagUseRT;
constexpr float kInv65535 = 1.0f / 65535.0f;

std::int32_t truncInt32(float v) {
    if (!(v == v)) return 0;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// R, G, B rounded to 16 bits: + 0.5, truncated, limited to 0..65535 (NaN gives 0).
void round16(const float* colour, std::uint16_t* out) {
    for (int c = 0; c < 3; ++c) out[c] = std::uint16_t(span_detail::clampTrunc(colour[c] + 0.5f, 65535.0f));
}

bool nearTruncatedBackdrop(const std::uint16_t* colour, const KeyState* state) {
    const std::int64_t tolerance = state->backdropTolerance16Int;
    for (int c = 0; c < 3; ++c)
        if (std::llabs(std::int64_t{colour[c]} - truncInt32(state->backdrop[c])) >= tolerance) return false;
    return true;
}

void zeroFloat(float* o) { o[0] = o[1] = o[2] = o[3] = 0.0f; }

}  // namespace

void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state,
                   std::uint32_t flags) {
    static const float kBlack[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!S) S = kBlack;
    if (flags & kAlternativeKeyers) {
        if (state->keyer) state->keyer->keyPixel(X, Y, S, O, state);
        return;
    }
    std::uint16_t y16[3];
    round16(Y, y16);
    if (nearTruncatedBackdrop(y16, state)) {
        zeroFloat(O);
        return;
    }
    SurfaceRatios r = surfaceRatiosMid16(y16, findHitFaceWithFlags(y16, state, flags), state);
    if (r.inner >= 1.0f) {
        zeroFloat(O);
        return;
    }
    if (X != Y) {
        std::uint16_t x16[3];
        round16(X, x16);
        if (nearTruncatedBackdrop(x16, state)) {
            zeroFloat(O);
            return;
        }
        r = surfaceRatiosMid16(x16, findHitFaceWithFlags(x16, state, flags), state);
        if (r.inner >= 1.0f) {
            zeroFloat(O);
            return;
        }
    }
    if (!(r.outer > 1.0f)) {
        O[0] = X[0];
        O[1] = X[1];
        O[2] = X[2];
        O[3] = 65535.0f;
        return;
    }
    const float* K = state->compiledBackdrop;
    if (flags & KeyFlagSpillComplement) {
        for (int c = 0; c < 3; ++c) O[c] = (X[c] - K[c]) * r.outer + K[c];
    } else {
        const float w = (1.0f - r.inner) / (r.outer - r.inner);
        for (int c = 0; c < 3; ++c) {
            const float p = (X[c] - K[c]) * r.outer + K[c];
            O[c] = (p - S[c]) * w + S[c];
        }
    }
    const float a = r.middle > 1.0f ? (1.0f - r.inner) / (r.middle - r.inner) : 1.0f;
    O[3] = r.insideMiddle ? a * 65535.0f : 65535.0f;
}

void keyPixelFloat(const float* X, const float* Y, const float* S, float* O, const KeyState* state) {
    keyPixelFloat(X, Y, S, O, state, state->flags);
}

int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O, std::ptrdiff_t count,
                   const KeyState* state, std::uint32_t flags) {
    if (!state || count <= 0) return 1;
    const float* mask = (flags & KeyFlagGarbageMask) ? M : nullptr;
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        float* o = O + 4 * i;
        keyPixelFloat(X + 4 * i, Y + 4 * i, S ? S + 4 * i : nullptr, o, state, flags);
        if (mask) o[3] = (65535.0f - mask[4 * i + 1]) * o[3] * kInv65535;
    }
    return 1;
}

int super_vantproc(const float* X, const float* Y, const float* S, const float* M, float* O, std::ptrdiff_t count,
                   const KeyState* state) {
    return state ? super_vantproc(X, Y, S, M, O, count, state, state->flags) : 1;
}

namespace {

// The compare-exchange network of the median, pixel pairs in order.
constexpr int kMedianNetwork[20][2] = {{0, 3}, {1, 4}, {2, 5}, {0, 1}, {0, 2}, {4, 5}, {3, 5}, {6, 1}, {2, 3}, {6, 2},
                                       {6, 4}, {3, 4}, {1, 4}, {7, 1}, {2, 3}, {7, 2}, {1, 3}, {1, 2}, {8, 2}, {8, 1}};

double lumaOf(double r, double g, double b) { return g * 0.5864 + r * 0.299 + b * 0.1146; }

}  // namespace

std::uint16_t* prefilterSamples(std::uint16_t* block) {
    for (int p = 0; p < 9; ++p) {
        std::uint16_t* pixel = block + 4 * p;
        const double luma = lumaOf(pixel[0], pixel[1], pixel[2]);
        pixel[3] = luma >= 65535.0 ? 65535 : luma > 0.0 ? std::uint16_t(luma) : 0;
    }
    for (const auto& pair : kMedianNetwork) {
        std::uint16_t* a = block + 4 * pair[0];
        std::uint16_t* b = block + 4 * pair[1];
        if (a[3] > b[3])
            for (int c = 0; c < 4; ++c) std::swap(a[c], b[c]);
    }
    return block + 4;
}

void prefilterSamplesFloat(float* out, float* block) {
    for (int p = 0; p < 9; ++p) {
        float* pixel = block + 4 * p;
        pixel[3] = float(lumaOf(pixel[0], pixel[1], pixel[2]));
    }
    for (const auto& pair : kMedianNetwork) {
        float* a = block + 4 * pair[0];
        float* b = block + 4 * pair[1];
        if (!(a[3] <= b[3]))
            for (int c = 0; c < 4; ++c) std::swap(a[c], b[c]);
    }
    for (int c = 0; c < 4; ++c) out[c] = block[4 + c];
}

}  // namespace vantrelo
