#pragma once
// The alternative keyers: the interface shared by the threshold keyer (VantreloRT) and the
// chroma-hexagon keyer (VantreloRTPlus), the engine-wide instances that the sampling tools and
// fine tune drive, and the state-owned objects that compileKey creates for keying.
//
// A keyer keeps none of the key: its adjustable values live in the KeyState (`thresholds`,
// `hexagonRadii`).  The object holds only what compile derived from a state, the fine-tune
// snapshot and (hexagon keyer) the vertex weights of its last local operation.
//
// Keying (keyPixel, keyPixelClamped, keyPixelAlpha, keySpan and the run routines below) only reads
// the compiled object and the state, so any number of threads may key with one compiled object at
// once.  Tools, fine tune and compile change the object and the state and run on one thread.
//
// Colour units: sample lists and 16-bit runs are four unsigned 16-bit channels per pixel (R, G, B,
// A; A is never read).  Single-pixel records are floats in 16-bit units: a colour is R, G, B; an
// output record is R, G, B, alpha.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/keying/colour_model.h"
#include "engine/keying/key_state.h"

namespace vantrelo {

// How compile classified the backdrop colour.
enum KeyerMode : std::int32_t {
    KeyerModeChromatic = 0,
    KeyerModeDarkGrey = 1,
    KeyerModeLightGrey = 2,
    KeyerModeBlack = 3,  // exactly (0, 0, 0); set only by the hexagon keyer's compile
};

class VantreloBase {
public:
    VantreloBase() = default;
    VantreloBase(const VantreloBase&) = delete;
    VantreloBase& operator=(const VantreloBase&) = delete;
    virtual ~VantreloBase() = default;

    // ---- Virtual operations, in dispatch order ----
    // Store the colour as the state's backdrop, classify it and set the keyer's values in the state
    // to their starting values for that colour.
    virtual void setBackdrop(float r, float g, float b, KeyState* state) = 0;
    // Sample-driven tools: each compiles with the state first.
    virtual void shrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void shrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void shrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void growOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void growOuterStep(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void growInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual void growMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    // Nesting keeps inner <= middle <= outer in every value group.
    virtual void nest(KeyState* state) = 0;
    virtual void nestFromInner(KeyState* state) = 0;   // middle = max(inner, middle); outer = max(outer, middle)
    virtual void nestFromMiddle(KeyState* state) = 0;  // inner = min(inner, middle); outer = max(middle, outer)
    virtual void nestFromOuter(KeyState* state) = 0;   // middle = min(middle, outer); inner = min(inner, middle)
    virtual void compile(const KeyState* state) = 0;
    // Three-zone view of the matte: (0, 0, 0) transparent, (65535, 65535, 65535) opaque, else
    // (0, 0, alpha).  Returns 0, 65535 or 0 accordingly; out[3] keeps the raw alpha.
    virtual std::int32_t keyPixelAlpha(const float* pixel, const float* key, const float* spill, float* out,
                                       const KeyState* state) const;
    // One 16-bit RGBA pixel through the keyer's run routine (spill mode from the state's flags).
    virtual void keySpan(const std::uint16_t* pixel, const std::uint16_t* key, const std::uint16_t* spill,
                         std::uint16_t* out, const KeyState* state) const = 0;
    // keyPixel, then R, G, B clamped to 0..65535 (NaN gives 0).
    virtual void keyPixelClamped(const float* pixel, const float* key, const float* spill, float* out,
                                 const KeyState* state) const;
    // Alpha and spill-corrected colour of one pixel.  `key` may be the same record as `pixel`;
    // `spill` is read only when the state has neither KeyFlagSpillSolid nor KeyFlagSpillComplement.
    // The alpha stored in out[3] is limited to 0..65535 (NaN gives 0); the colour is not clamped.
    virtual void keyPixel(const float* pixel, const float* key, const float* spill, float* out,
                          const KeyState* state) const;
    // Every keyer value of `out` = (1 - t) A + t B.
    virtual void interpolate(KeyState* out, const KeyState* a, const KeyState* b, float t) = 0;
    // Fixed steps near the samples; -1 and nothing done when count < 1, else 1.
    virtual std::int32_t growOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual std::int32_t shrinkOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual std::int32_t growMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual std::int32_t shrinkMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual std::int32_t growInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    virtual std::int32_t shrinkInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) = 0;
    // Fine tune: remember the state's values (and, hexagon keyer, the weights of the sample); the
    // sliders then move the values from that snapshot.  `sample` is one 16-bit RGBA pixel.
    virtual std::int32_t beginFineTune(const std::uint16_t* sample, KeyState* state) = 0;
    virtual void fineTuneOuter(float v, KeyState* state) = 0;
    virtual void fineTuneMiddle(float v, KeyState* state) = 0;
    virtual void fineTuneInner(float v, KeyState* state) = 0;

    // ---- Entry points of the sampling tools: -1 and nothing done when count < 1, else 1 ----
    std::int32_t applyGrowInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    std::int32_t applyShrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    std::int32_t applyShrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    std::int32_t applyShrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    std::int32_t applyGrowMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    std::int32_t applyGrowOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    // growOuterStep with a one-sample list of the mean colour.
    std::int32_t applyGrowOuterStep(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    // setBackdrop with the mean colour, then growInner with the samples.
    std::int32_t initFromSamples(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state);
    // setBackdrop with the state's own backdrop, then compile.
    void initFromState(KeyState* state);

    // ---- Shared operations ----
    void classifyBackdrop(const KeyState* state);
    // The keyer's measure of a colour given in 0..1 units: (o1, o2) place it in the hexagon, o3 is
    // the key distance that thresholds and hexagon values are measured in.
    void chromaMetric(float r, float g, float b, float* o1, float* o2, float* o3) const;

    // ---- Compiled frame (written by compile and classifyBackdrop) ----
    std::int32_t mode = KeyerModeChromatic;
    float lumaScale = 0.0f;
    float lumaOffset = 0.0f;
    float perpendicularRow[3] = {0.0f, 0.0f, 0.0f};
    float alongRow[3] = {0.0f, 0.0f, 0.0f};
    float backdropChroma = 0.0f;

protected:
    // The keyer's own single-pixel rule, alpha unlimited (it may lie below 0 or above 65535):
    // keyPixel limits it, keyPixelAlpha classifies it as it is.
    virtual void keyPixelUnlimited(const float* pixel, const float* key, const float* spill, float* out,
                                   const KeyState* state) const = 0;
    // The chromatic frame of the state's backdrop colour (0..1 units).
    void buildChromaticFrame(const KeyState* state);
    // Chroma h of the state's backdrop colour, single precision.
    static float backdropChromaOf(const KeyState* state);
    // The head of every setBackdrop: the colour becomes the state's backdrop and is classified.
    void storeBackdrop(float r, float g, float b, KeyState* state);
    // The backdrop colour is exactly (0, 0, 0): nothing is keyed away from it.
    static bool isBlackBackdrop(const KeyState* state) {
        return state->backdrop[0] == 0.0f && state->backdrop[1] == 0.0f && state->backdrop[2] == 0.0f;
    }
};

namespace keyer_detail {
// Single-precision constants of the colour frame: 1 / sqrtf(2), 1 / sqrtf(3) and their product
// (sqrt(6) is never formed; the keys were tuned with this product), written out so that they are
// ready before any static initialiser runs.  A test checks them against the computation.
inline constexpr float kInvRoot2 = 0x1.6a09e6p-1f;
inline constexpr float kInvRoot3 = 0x1.279a74p-1f;
inline constexpr float kInvRoot6 = 0x1.a20bd6p-2f;

// Limited to 0..65535, NaN gives 0.
inline float limit16(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 65535.0f ? 65535.0f : v;
}

// The nesting rules on one (inner, middle, outer) triple.  Each compares and writes in this order,
// the second comparison reading the value just written.
inline void nestTripleFromInner(float* t) {
    t[1] = std::max(t[0], t[1]);
    t[2] = std::max(t[2], t[1]);
}
inline void nestTripleFromMiddle(float* t) {
    t[0] = std::min(t[0], t[1]);
    t[2] = std::max(t[1], t[2]);
}
inline void nestTripleFromOuter(float* t) {
    t[1] = std::min(t[1], t[2]);
    t[0] = std::min(t[0], t[1]);
}
}  // namespace keyer_detail

// The coefficient store of compile: with `fixed` false x unchanged; otherwise x as a 16.16 fixed-point
// number held in a float, |x| limited to 4096 (NaN counts as -4096).
void toFixed16(float* out, float x, bool fixed);

// ---- Engine-wide instances ----
// Created on first use and kept for the process; null only when the allocation fails.  The sampling
// tools, fine tune, initKeyState and interpolation drive these.
VantreloBase* engineHexagonKeyer();    // the VantreloRTPlus instance
VantreloBase* engineThresholdKeyer();  // the VantreloRT instance
// How many engine-wide instances have been created so far (at most 2 for the process).
std::int32_t engineKeyerCreationCount();

// ---- Compilation (called by compileKey) ----
// Compiles the engine-wide instance of the keyer the state selects, then returns a new object of that
// class compiled with the state, owned by the state (store it in `keyer`, free it with destroyKeyer).
// A state with both KeyFlagUseRTPlus and KeyFlagUseRT is normalised to the hexagon keyer: KeyFlagUseRT
// is cleared, so span callbacks and keyer object agree.  Null when no keyer flag is set or the
// allocation fails.
VantreloBase* createCompiledKeyer(KeyState* state);
void destroyKeyer(VantreloBase* keyer);

// ---- Run keying for the span callbacks ----
// They key `count` 16-bit RGBA pixels with the state's own compiled object (state->keyer), never an
// engine-wide instance.  `flags` is the call's effective flag word (its spill bits decide the spill
// source; the record is not read for them).  `key` may be the same array as `colour` or null (the
// colour run is then its own key run); `spill` is read only without KeyFlagSpillSolid and
// KeyFlagSpillComplement (a null `spill` then falls back to the replacement colour); `mask` (second
// channel) may be null.  Each returns false and writes nothing when the state holds no keyer of
// that class.
bool keyRunRT(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
              std::uint16_t* out, std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
// With a mask run: out alpha scaled by (65535 - m) / 65535; without one, as keyRunRT.
bool keyRunRTMasked(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                    const std::uint16_t* mask, std::uint16_t* out, std::ptrdiff_t count, const KeyState* state,
                    std::uint32_t flags);
bool keyRunRTPlus(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                  const std::uint16_t* mask, std::uint16_t* out, std::ptrdiff_t count, const KeyState* state,
                  std::uint32_t flags);

}  // namespace vantrelo
