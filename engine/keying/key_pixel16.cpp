// The reference rule for one 16-bit pixel, the per-pixel loop and the single-pixel variants.

#include "engine/keying/key_pixel16.h"

#include <cmath>
#include <cstring>

#include "engine/keying/keyer.h"
#include "engine/keying/numeric.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"

namespace vantrelo {

namespace {

using span_detail::kAlternativeKeyers;
using span_detail::nearTruncatedBackdrop;

constexpr float kInv65535 = 1.0f / 65535.0f;

// Where a colour lies: transparent (inside the inner surface or at the backdrop), between the
// surfaces, or opaque, with its ratios; the transparency tests of the reference rule.
struct Placement {
    bool transparent;
    SurfaceRatios ratios;
};

Placement place(const std::uint16_t* X, const std::uint16_t* Y, const KeyState* state) {
    Placement result{true, {}};
    if (nearTruncatedBackdrop(Y, state, state->backdropTolerance16Int)) return result;
    result.ratios = surfaceRatiosMid16(Y, findHitFace(Y, state), state);
    if (result.ratios.inner >= 1.0f) return result;
    if (X != Y) {
        if (nearTruncatedBackdrop(X, state, 1)) return result;
        result.ratios = surfaceRatiosMid16(X, findHitFace(X, state), state);
        if (result.ratios.inner >= 1.0f) return result;
    }
    result.transparent = false;
    return result;
}

// Matte between inner and middle surface: 1 from the middle surface on.
float matteOf(const SurfaceRatios& r) {
    return r.middle > 1.0f ? (1.0f - r.inner) / (r.middle - r.inner) : 1.0f;
}

float spillWeightOf(const SurfaceRatios& r) { return (1.0f - r.inner) / (r.outer - r.inner); }

void zero16(std::uint16_t* o) { o[0] = o[1] = o[2] = o[3] = 0; }

void zeroSpan16(std::uint16_t* O, std::ptrdiff_t count) {
    if (count > 0) std::memset(O, 0, sizeof(std::uint16_t) * 4 * std::size_t(count));
}

}  // namespace

void keyPixel16(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, std::uint16_t* O,
                const KeyState* state, std::uint32_t flags) {
    if (flags & kAlternativeKeyers) {
        if (state->keyer) state->keyer->keySpan(X, Y, S, O, state);
        return;
    }
    const Placement placement = place(X, Y, state);
    if (placement.transparent) {
        zero16(O);
        return;
    }
    const SurfaceRatios& r = placement.ratios;
    if (!(r.outer > 1.0f)) {
        O[0] = X[0];
        O[1] = X[1];
        O[2] = X[2];
        O[3] = 65535;
        return;
    }
    const float* K = state->backdrop;
    std::int32_t pushed[3];
    for (int c = 0; c < 3; ++c) pushed[c] = truncToInt32((float(X[c]) - K[c]) * r.outer + K[c]);
    if (flags & KeyFlagSpillComplement) {
        for (int c = 0; c < 3; ++c) O[c] = truncToUint16(float(pushed[c]));
    } else {
        const float w = spillWeightOf(r);
        for (int c = 0; c < 3; ++c) {
            const float spill = S ? float(S[c]) : 0.0f;
            const float p = float(pushed[c] > 0 ? pushed[c] : 0);
            O[c] = truncToUint16((p - spill) * w + spill);
        }
    }
    O[3] = r.insideMiddle ? truncToUint16(matteOf(r) * 65535.0f) : 65535;
}

void keyPixel16(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, std::uint16_t* O,
                const KeyState* state) {
    keyPixel16(X, Y, S, O, state, state->flags);
}

int vantproc(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
             std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    if (!state || count <= 0) return 1;
    // The mask takes part only when the call's flags ask for it, whichever path keys.
    const std::uint16_t* mask = (flags & KeyFlagGarbageMask) ? M : nullptr;
    if (state->keySpan16Callback) {
        state->keySpan16Callback(X, Y, S, mask, O, count, state, flags);
        return 1;
    }
    if ((flags & kAlternativeKeyers) && !state->keyer) {
        // keyPixel16 would leave every pixel as it was: a run keyed with nothing to key it is
        // transparent black rather than whatever the buffer held (the 8-bit loop writes the same).
        zeroSpan16(O, count);
        return 1;
    }
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        std::uint16_t* o = O + 4 * i;
        if (mask && mask[4 * i + 1] == 65535) {
            zero16(o);
            continue;
        }
        keyPixel16(X + 4 * i, Y + 4 * i, S ? S + 4 * i : nullptr, o, state, flags);
        if (mask) o[3] = std::uint16_t(float(65535 - mask[4 * i + 1]) * kInv65535 * float(o[3]));
    }
    return 1;
}

int vantproc(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t* M,
             std::uint16_t* O, std::ptrdiff_t count, const KeyState* state) {
    return state ? vantproc(X, Y, S, M, O, count, state, state->flags) : 1;
}

void keySpan16RT(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t*,
                 std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    if (!keyRunRT(X, Y, S, O, count, state, flags)) zeroSpan16(O, count);
}

void keySpan16RTMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                       const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                       std::uint32_t flags) {
    if (!keyRunRTMasked(X, Y, S, M, O, count, state, flags)) zeroSpan16(O, count);
}

void keySpan16RTPlus(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S, const std::uint16_t*,
                     std::uint16_t* O, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    if (!keyRunRTPlus(X, Y, S, nullptr, O, count, state, flags)) zeroSpan16(O, count);
}

void keySpan16RTPlusMasked(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                           const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                           std::uint32_t flags) {
    if (!keyRunRTPlus(X, Y, S, M, O, count, state, flags)) zeroSpan16(O, count);
}

void keyPixelAgainstReplacement16(const std::uint16_t* X, std::uint16_t* O, const KeyState* state) {
    const std::uint16_t replacement[4] = {state->replacementColour[0], state->replacementColour[1],
                                          state->replacementColour[2], 0};
    const std::uint16_t* S = (state->flags & KeyFlagSpillComplement) ? X : replacement;
    keyPixel16(X, X, S, O, state);
}

void keySpanAgainstReplacement16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count,
                                 const KeyState* state) {
    for (std::ptrdiff_t i = 0; i < count; ++i) keyPixelAgainstReplacement16(X + 4 * i, O + 4 * i, state);
}

void keySpanComplement16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state) {
    // Keyed as if the flag word were spill complement alone, without touching the record.
    vantproc(X, X, X, nullptr, O, count, state, KeyFlagSpillComplement);
}

namespace {

// The keyer's single-pixel operations take float records; the spill source, when the state's
// mode reads one, is the replacement colour (these operations have no spill-source pixel).
void keyerInputs(const std::uint16_t* X, const KeyState* state, float* pixel, float* spill) {
    for (int c = 0; c < 3; ++c) {
        pixel[c] = X[c];
        spill[c] = state->replacementColour[c];
    }
}

std::uint16_t roundedClamp16(float v) { return truncToUint16(v + 0.5f); }

}  // namespace

void keyPixelMattes16(const std::uint16_t* X, std::uint16_t* O, const KeyState* state) {
    if (state->flags & kAlternativeKeyers) {
        if (!state->keyer) return;
        float pixel[3], spill[3], out[4];
        keyerInputs(X, state, pixel, spill);
        state->keyer->keyPixelAlpha(pixel, pixel, spill, out, state);
        for (int c = 0; c < 4; ++c) O[c] = roundedClamp16(out[c]);
        return;
    }
    const Placement placement = place(X, X, state);
    if (placement.transparent) {
        zero16(O);
        return;
    }
    const SurfaceRatios& r = placement.ratios;
    if (r.outer > 1.0f) {
        O[0] = 0;
        O[1] = 0;
        O[2] = truncToUint16(spillWeightOf(r) * 65535.0f);
        O[3] = truncToUint16(matteOf(r) * 65535.0f);
        return;
    }
    O[0] = 0;
    O[1] = O[2] = O[3] = 65535;
}

void keySpanMattes16(const std::uint16_t* X, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state) {
    for (std::ptrdiff_t i = 0; i < count; ++i) keyPixelMattes16(X + 4 * i, O + 4 * i, state);
}

void keyPixelAndMattes16(const std::uint16_t* X, std::uint16_t* O, std::uint16_t* matte, const KeyState* state) {
    if (state->flags & kAlternativeKeyers) {
        if (!state->keyer) return;
        float pixel[3], spill[3], out[4];
        keyerInputs(X, state, pixel, spill);
        state->keyer->keyPixelClamped(pixel, pixel, spill, out, state);
        for (int c = 0; c < 4; ++c) O[c] = roundedClamp16(out[c]);
        matte[0] = 0;
        matte[2] = matte[3] = O[3];
        return;
    }
    matte[0] = 0;
    const Placement placement = place(X, X, state);
    if (placement.transparent) {
        zero16(O);
        matte[2] = matte[3] = 0;
        return;
    }
    const SurfaceRatios& r = placement.ratios;
    if (!(r.outer > 1.0f)) {
        O[0] = X[0];
        O[1] = X[1];
        O[2] = X[2];
        O[3] = 65535;
        matte[2] = matte[3] = 65535;
        return;
    }
    const float* K = state->backdrop;
    for (int c = 0; c < 3; ++c) O[c] = truncToUint16(float(truncToInt32((float(X[c]) - K[c]) * r.outer + K[c])));
    auto unit = [](float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; };
    O[3] = truncToUint16(unit((1.0f - r.inner) / (r.middle - r.inner)) * 65535.0f);
    matte[3] = O[3];
    matte[2] = truncToUint16(unit(spillWeightOf(r)) * 65535.0f);
}

int nearBackdrop16(const std::uint16_t* colour, const KeyState* state) {
    for (int c = 0; c < 3; ++c)
        if (!(std::fabs(float(colour[c]) - state->backdrop[c]) < state->backdropTolerance16)) return 0;
    return 1;
}

int nearBackdropFloat(const float* colour, const KeyState* state) {
    for (int c = 0; c < 3; ++c)
        if (!(std::fabs(colour[c] - state->backdrop[c]) < state->backdropTolerance16)) return 0;
    return 1;
}

void vantcompositeLoop(std::uint16_t* F, const std::uint16_t* B, std::ptrdiff_t count) {
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        std::uint16_t* f = F + 4 * i;
        const std::uint16_t* b = B + 4 * i;
        const std::uint32_t alpha = f[3];
        for (int c = 0; c < 3; ++c)
            f[c] = std::uint16_t((std::uint32_t{f[c]} * (alpha + 1) + std::uint32_t{b[c]} * (65536 - alpha)) >> 16);
    }
}

}  // namespace vantrelo
