#pragma once
// The threshold keyer: one colour distance (how much less chroma a colour has than the backdrop,
// along the backdrop's own chroma direction) and three thresholds in 0..1 units of it, the state's
// `thresholds` (inner <= middle <= outer).  The matte rises from 0 at the inner threshold to full
// at the middle one; the spill correction fades from full at the inner threshold to none at the
// outer one.

#include <cstddef>
#include <cstdint>

#include "engine/keying/keyer.h"

namespace vantrelo {

// What growOuterStep adds to the outer threshold, in hundredths.
inline constexpr std::int32_t rtOuterStep = 6;

class VantreloRT final : public VantreloBase {
public:
    void setBackdrop(float r, float g, float b, KeyState* state) override;
    void shrinkMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void shrinkInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void shrinkOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void growOuter(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void growOuterStep(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void growInner(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void growMiddle(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    void nest(KeyState* state) override;
    void nestFromInner(KeyState* state) override;
    void nestFromMiddle(KeyState* state) override;
    void nestFromOuter(KeyState* state) override;
    void compile(const KeyState* state) override;
    void keySpan(const std::uint16_t* pixel, const std::uint16_t* key, const std::uint16_t* spill,
                 std::uint16_t* out, const KeyState* state) const override;
    void interpolate(KeyState* out, const KeyState* a, const KeyState* b, float t) override;
    std::int32_t growOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t shrinkOuterBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t growMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t shrinkMiddleBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t growInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t shrinkInnerBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state) override;
    std::int32_t beginFineTune(const std::uint16_t* sample, KeyState* state) override;
    void fineTuneOuter(float v, KeyState* state) override;
    void fineTuneMiddle(float v, KeyState* state) override;
    void fineTuneInner(float v, KeyState* state) override;

    void snapshotThresholds(const KeyState* state);

    // Run keying of `count` 16-bit RGBA pixels (P colour, Q key, B spill source; Q may be P).
    // `flags` is the effective flag word of the call.
    void keyPixels(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                   std::uint16_t* out, const KeyState* state, std::ptrdiff_t count, std::uint32_t flags) const;
    // The same with a garbage-mask run: alpha scaled by (65535 - m) / 65535, m the mask's green.
    void keyPixelsMasked(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                         const std::uint16_t* mask, std::uint16_t* out, const KeyState* state,
                         std::ptrdiff_t count, std::uint32_t flags) const;

    // Compiled coefficients, for colours in 16-bit units.
    float alongRow16[3] = {0.0f, 0.0f, 0.0f};
    float alongOffset16 = 0.0f;
    float spillSlope = 0.0f;
    float spillOffset16 = 0.0f;
    float matteSlope = 0.0f;
    float matteOffset16 = 0.0f;
    float snapshot[3] = {0.0f, 0.0f, 0.0f};

protected:
    void keyPixelUnlimited(const float* pixel, const float* key, const float* spill, float* out,
                           const KeyState* state) const override;

private:
    template <bool Masked>
    void keyRun(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                const std::uint16_t* mask, std::uint16_t* out, const KeyState* state, std::ptrdiff_t count,
                std::uint32_t flags) const;
    float distance(float r, float g, float b) const {
        return alongRow16[0] * r + alongRow16[1] * g + alongRow16[2] * b + alongOffset16;
    }
    float lowestDistance(const std::uint16_t* samples, std::ptrdiff_t count) const;
    float highestDistance(const std::uint16_t* samples, std::ptrdiff_t count) const;
    // One of the ±0.04 operations: only the count is tested; threshold `which` moves by step (the sum
    // in double precision; floored at 0 when asked), then the operation's nesting rule unless it has
    // none.
    using NestRule = void (VantreloRT::*)(KeyState*);
    std::int32_t stepBy(std::ptrdiff_t count, KeyState* state, int which, double step, bool floorAtZero,
                        NestRule nest);
};

}  // namespace vantrelo
