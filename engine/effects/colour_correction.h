#pragma once
// Two-stage colour correction of 16-bit RGBA and 8-bit four-byte pixels, and the push away from a
// backdrop colour.
//
// Stage one is a 3 x 3 matrix that scales luma and rotates and scales the colour-difference pair
// (R - Y, B - Y); stage two maps each channel through a levels and gamma lookup table, so no power
// function runs per pixel.  Matrices are nine floats stored row by row and applied to column
// vectors (R, G, B).  A correction set is twelve floats:
//   hue (radians), value, saturation, black R G B, white R G B (fractions of full scale),
//   gamma R G B.
// Destination and source spans may be the same memory.  Nothing here throws.

#include <cstddef>
#include <cstdint>

#include "engine/keying/vant_thread.h"

namespace vantrelo {

struct KeyState;

// out = a x b; out must not be a or b.
void multiplyColourMatrix(float out[9], const float a[9], const float b[9]);
// Gauss-Jordan without pivoting; a zero pivot is outside the contract (the luma matrix has none).
void invertColourMatrix(float m[9]);
void identityMatrix3(float m[9]);
void makeHueSatValueMatrix(float out[9], float hue, float saturation, float value);
// RGB -> (Y, R - Y, B - Y), hue/saturation/value there, and back to RGB.
void makeColourCorrectionMatrix(float out[9], float hue, float saturation, float value);

// Levels map input 0 to `black` and full scale to `white` (both on the channel's full scale),
// followed by the gamma curve.  Every entry is clamped to the channel's range; a gamma of 0, a
// negative or a NaN gamma still gives a fully defined table.
void makeLevelsGammaTable16(std::int32_t black, std::int32_t white, float gamma, std::uint16_t table[65536]);
void makeLevelsGammaTable8(std::int32_t black, std::int32_t white, float gamma, std::uint8_t table[256]);
void makeLevelsGammaTables16(std::int32_t blackR, std::int32_t blackG, std::int32_t blackB,
                             std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB, float gammaR,
                             float gammaG, float gammaB, std::uint16_t* tableR, std::uint16_t* tableG,
                             std::uint16_t* tableB);
void makeLevelsGammaTables8(std::int32_t blackR, std::int32_t blackG, std::int32_t blackB,
                            std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB, float gammaR,
                            float gammaG, float gammaB, std::uint8_t* tableR, std::uint8_t* tableG,
                            std::uint8_t* tableB);
// tables[k][i] = trunc(i x m_k) for matrix entry k in row order.
void makeMatrixTables8(float hue, float saturation, float value, std::int32_t tables[9][256]);

// Band body: corrects `count` RGBA pixels; alpha is copied.
void ccxloop16(std::ptrdiff_t count, std::uint16_t* destination, const std::uint16_t* source,
               const float matrix[9], const std::uint16_t* tableR, const std::uint16_t* tableG,
               const std::uint16_t* tableB);

// Worker running ccxloop16 over band `index` of `bandCount` of a span of `total` pixels.
class ccxloop16_VantThread final : public VantThread {
public:
    ccxloop16_VantThread(int index, int bandCount, std::ptrdiff_t total, std::uint16_t* destination,
                         const std::uint16_t* source, const float* matrix, const std::uint16_t* tableR,
                         const std::uint16_t* tableG, const std::uint16_t* tableB);
    unsigned run() override;

private:
    std::uint16_t* destination_;
    const std::uint16_t* source_;
    const float* matrix_;
    const std::uint16_t* tableR_;
    const std::uint16_t* tableG_;
    const std::uint16_t* tableB_;
};

// Runs ccxloop16 on the engine's workers (workerThreadCount() bands).  When the workers cannot be
// created the span is corrected on the calling thread.  Returns false only when a band failed.
bool runColourCorrectWorkers(std::ptrdiff_t count, std::uint16_t* destination, const std::uint16_t* source,
                             const float matrix[9], const std::uint16_t* tableR,
                             const std::uint16_t* tableG, const std::uint16_t* tableB);

// The 16-bit entry points return true when the destination holds the corrected span (count 0
// included) and false when a span is missing or the tables could not be allocated; in that case
// the destination is left as it was.
bool colourCorrectSpan16(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                         float hue, float saturation, float value, std::int32_t blackR, std::int32_t blackG,
                         std::int32_t blackB, std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB,
                         float gammaR, float gammaG, float gammaB);
bool colourCorrectFirstSet(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                           const KeyState* state);
bool colourCorrectSecondSet(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                            const KeyState* state);

// 8-bit pixels: byte 0 passes through, bytes 3, 2, 1 hold R, G, B.
void colourCorrect8(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count, float hue,
                    float saturation, float value, std::int32_t blackR, std::int32_t blackG,
                    std::int32_t blackB, std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB,
                    float gammaR, float gammaG, float gammaB);
void colourCorrect8FirstSet(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count,
                            const KeyState* state);
void colourCorrect8SecondSet(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count,
                             const KeyState* state);

// which: 0 = correctionSet1, otherwise correctionSet2.  Exact comparison with the identity set.
bool isColourCorrectionIdentity(std::int32_t which, const KeyState* state);

// Moves pixels whose direction from `colour` (R, G, B on the 0..65535 scale) leaves the region
// where the colour's dominant channel dominates, to 2550 units beyond that crossing.  Only blue,
// green and red colours push; every other colour, a pixel equal to the colour and a pixel whose
// direction stays in the region get their R, G, B copied.  Results are clamped to 0..65535.  The
// destination's alpha is never written.
void pushAwayFromBackdrop16(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                            const float colour[3]);

}  // namespace vantrelo
