#pragma once
// The chroma-hexagon keyer: the threshold keyer's ramps with thresholds that vary over a hexagon of
// chroma coordinates.  The state's `hexagonRadii` hold seven triples T0..T6 (inner, middle, outer
// each, 0..1 units of the key distance): T0 at the hexagon's centre, T1..T6 at its vertices.  A
// colour's thresholds are interpolated over the hexagon triangle (sector) it falls in.
//
// Key coordinates (16-bit units): X across and Y along the hexagon, D the key distance.  The
// vertices lie at T1 (2·65535, 0), T2 (65535, 2·65535), T3 (-65535, 2·65535), T4 (-2·65535, 0),
// T5 (-65535, -2·65535), T6 (65535, -2·65535); divided by 2·65535 these are the Hexagon points.

#include <cstddef>
#include <cstdint>

#include "engine/keying/keyer.h"

namespace vantrelo {

class VantreloRTPlus final : public VantreloBase {
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
    // A diagnostic colour for the sector of a colour (16-bit units) in the chromatic coordinates:
    // sectors 0..5 give red, green, blue, yellow, magenta, cyan; out[3] = 65535.
    void sectorColour(float r, float g, float b, float* out) const;

    // Run keying of `count` 16-bit RGBA pixels (colour, key, spill source, optional mask run; the key
    // run may be the colour run).  `flags` is the effective flag word of the call.
    void keyPixels(const std::uint16_t* colour, const std::uint16_t* key, const std::uint16_t* spill,
                   const std::uint16_t* mask, std::uint16_t* out, const KeyState* state, std::ptrdiff_t count,
                   std::uint32_t flags) const;
    // Weights of the seven triples for the mean colour of the samples, from the last compiled frame:
    // near the centre only T0 (1.0); elsewhere T0 0.3 and the two vertices of the colour's sector 1.0.
    void computeVertexWeights(const std::uint16_t* samples, std::ptrdiff_t count);
    // Set one value of triple k (0..6); 1, or -1 and nothing changed for another k.
    std::int32_t setInnerAt(float value, std::int32_t k, KeyState* state);
    std::int32_t setMiddleAt(float value, std::int32_t k, KeyState* state);
    std::int32_t setOuterAt(float value, std::int32_t k, KeyState* state);

    // Sector of key coordinates (any common scale).
    static int sectorOf(float x, float y) {
        if (y > 0.0f) return 2.0f * x > y ? 0 : (-2.0f * x >= y ? 2 : 1);
        return 2.0f * x < y ? 5 : (-2.0f * x > y ? 4 : 3);
    }

    // Coefficient rows of sectorCoefficients.
    enum Coefficient {
        XSign, XShift, YSign, YShift,
        MatteCu, MatteCw, MatteCd, MatteC0, MatteKuw, MatteKu, MatteKw, MatteK0,
        SpillCu, SpillCw, SpillCd, SpillC0, SpillKuw, SpillKu, SpillKw, SpillK0,
        CoefficientCount
    };

    float frame16[9] = {};  // lumaScale, lumaOffset·65535, perpendicularRow, alongRow, backdropChroma·65535
    float sectorCoefficients[CoefficientCount][6] = {};
    float vertexWeights[7] = {};
    float snapshot[21] = {};  // inner values of T0..T6, then the middle values, then the outer values

protected:
    void keyPixelUnlimited(const float* pixel, const float* key, const float* spill, float* out,
                           const KeyState* state) const override;

private:
    void keyCoordinates(float r, float g, float b, float* x, float* y, float* d) const;
    void surfaceTool(int group, std::int32_t fitMode, const std::uint16_t* samples, std::ptrdiff_t count,
                     KeyState* state);
    // One of the ±0.04 operations: the weights of the samples' mean colour, every value of the group
    // moved by step x weight (in double precision; floored at 0 when asked), then the operation's
    // nesting rule unless it has none.
    using NestRule = void (VantreloRTPlus::*)(KeyState*);
    std::int32_t stepBy(const std::uint16_t* samples, std::ptrdiff_t count, KeyState* state, int group, double step,
                        bool floorAtZero, NestRule nest);
    void fineTuneGroup(int group, float v, KeyState* state);
};

}  // namespace vantrelo
