#include "engine/effects/colour_correction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"
#include "engine/keying/keying_workers.h"
#include "engine/keying/numeric.h"

namespace vantrelo {
namespace {

constexpr float kInv255 = 0.003921569f;

// Luma / colour-difference matrix: (R, G, B) -> (Y, R - Y, B - Y).
constexpr float kLumaMatrix[9] = {0.3f, 0.59f, 0.11f, 0.7f, -0.59f, -0.11f, -0.3f, -0.59f, 0.89f};

// 1 / gamma, with the IEEE result for a gamma of 0 (an infinite exponent of that sign) formed
// without dividing by zero.
template <class T>
T exponentOf(T gamma) {
    if (gamma == T(0)) return std::copysign(std::numeric_limits<T>::infinity(), gamma);
    return T(1) / gamma;
}

const float* correctionSet(std::int32_t which, const KeyState* state) {
    return which == 0 ? state->correctionSet1 : state->correctionSet2;
}

bool isIdentitySet(const float* set) {
    return set[1] == 1.0f && set[0] == 0.0f && set[2] == 1.0f && set[3] == 0.0f && set[4] == 0.0f &&
           set[5] == 0.0f && set[6] == 1.0f && set[7] == 1.0f && set[8] == 1.0f && set[9] == 1.0f &&
           set[10] == 1.0f && set[11] == 1.0f;
}

bool correctWithSet16(const float* set, std::uint16_t* destination, const std::uint16_t* source,
                      std::ptrdiff_t count) {
    if (count <= 0) return true;
    if (!destination || !source) return false;
    if (isIdentitySet(set)) {
        if (destination != source)
            std::memmove(destination, source, static_cast<std::size_t>(count) * 4 * sizeof(std::uint16_t));
        return true;
    }
    auto level = [](float fraction) { return truncToInt32(static_cast<double>(fraction * 65535.0f)); };
    return colourCorrectSpan16(destination, source, count, set[0], set[2], set[1], level(set[3]), level(set[4]),
                               level(set[5]), level(set[6]), level(set[7]), level(set[8]), set[9], set[10],
                               set[11]);
}

void correctWithSet8(const float* set, std::uint8_t* destination, const std::uint8_t* source,
                     std::ptrdiff_t count) {
    auto level = [](float fraction) { return truncToInt32(static_cast<double>(fraction * 255.0f)); };
    colourCorrect8(destination, source, count, set[0], set[2], set[1], level(set[3]), level(set[4]), level(set[5]),
                   level(set[6]), level(set[7]), level(set[8]), set[9], set[10], set[11]);
}

}  // namespace

void multiplyColourMatrix(float out[9], const float a[9], const float b[9]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i * 3 + j] = (a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j]) + a[i * 3 + 2] * b[6 + j];
}

void invertColourMatrix(float m[9]) {
    for (int i = 0; i < 3; ++i) {
        const float p = m[i * 4];
        const float d = 1.0f / p;
        for (int j = 0; j < 3; ++j) m[i * 3 + j] *= d;
        m[i * 4] = d;
        for (int k = 0; k < 3; ++k) {
            if (k == i) continue;
            const float f = m[k * 3 + i];
            for (int j = 0; j < 3; ++j)
                if (j != i) m[k * 3 + j] -= f * m[i * 3 + j];
            m[k * 3 + i] = (-1.0f / p) * f;
        }
    }
}

void identityMatrix3(float m[9]) {
    for (int i = 0; i < 9; ++i) m[i] = (i % 4 == 0) ? 1.0f : 0.0f;
}

void makeHueSatValueMatrix(float out[9], float hue, float saturation, float value) {
    const float c = std::cos(hue);
    const float s = std::sin(hue);
    float identity[9], scaleValue[9], scaleSat[9], rotation[9], step1[9], step2[9];
    identityMatrix3(identity);
    identityMatrix3(scaleValue);
    scaleValue[0] = value;
    identityMatrix3(scaleSat);
    scaleSat[4] = saturation;
    scaleSat[8] = saturation;
    const float r[9] = {1.0f, 0.0f, 0.0f, 0.0f, c, s, 0.0f, -s, c};
    std::copy(r, r + 9, rotation);
    multiplyColourMatrix(step1, identity, scaleValue);
    multiplyColourMatrix(step2, step1, scaleSat);
    multiplyColourMatrix(out, step2, rotation);
}

void makeColourCorrectionMatrix(float out[9], float hue, float saturation, float value) {
    float inverse[9];
    std::copy(kLumaMatrix, kLumaMatrix + 9, inverse);
    invertColourMatrix(inverse);
    float h[9], left[9];
    makeHueSatValueMatrix(h, hue, saturation, value);
    multiplyColourMatrix(left, inverse, h);
    multiplyColourMatrix(out, left, kLumaMatrix);
}

void makeLevelsGammaTable16(std::int32_t black, std::int32_t white, float gamma, std::uint16_t table[65536]) {
    if (!table) return;
    // The difference of two arbitrary ints needs 33 bits.
    const float step = static_cast<float>(static_cast<std::int64_t>(white) - black) * kUnit16;
    const float e = exponentOf(gamma);
    const float base = static_cast<float>(black);
    for (std::int32_t i = 0; i < 65536; ++i) {
        float v = static_cast<float>(i) * step + base;
        if (v >= 65535.0f)
            v = 65535.0f;
        else if (!(v > 0.0f))
            v = 0.0f;
        table[i] = truncToUint16(std::pow(v * kUnit16, e) * 65535.0f);
    }
}

void makeLevelsGammaTable8(std::int32_t black, std::int32_t white, float gamma, std::uint8_t table[256]) {
    if (!table) return;
    const float step = static_cast<float>(static_cast<std::int64_t>(white) - black) * kInv255;
    const double e = exponentOf(static_cast<double>(gamma));
    const float base = static_cast<float>(black);
    for (std::int32_t i = 0; i < 256; ++i) {
        // Truncation toward zero followed by the clamp to 0..255 is the clamp of the float itself.
        const int v = truncToUint8(static_cast<double>(static_cast<float>(i) * step + base));
        const float scaled = static_cast<float>(v) * kInv255;
        table[i] = truncToUint8(std::pow(static_cast<double>(scaled), e) * 255.0);
    }
}

void makeLevelsGammaTables16(std::int32_t blackR, std::int32_t blackG, std::int32_t blackB,
                             std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB, float gammaR,
                             float gammaG, float gammaB, std::uint16_t* tableR, std::uint16_t* tableG,
                             std::uint16_t* tableB) {
    makeLevelsGammaTable16(blackR, whiteR, gammaR, tableR);
    makeLevelsGammaTable16(blackG, whiteG, gammaG, tableG);
    makeLevelsGammaTable16(blackB, whiteB, gammaB, tableB);
}

void makeLevelsGammaTables8(std::int32_t blackR, std::int32_t blackG, std::int32_t blackB,
                            std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB, float gammaR,
                            float gammaG, float gammaB, std::uint8_t* tableR, std::uint8_t* tableG,
                            std::uint8_t* tableB) {
    makeLevelsGammaTable8(blackR, whiteR, gammaR, tableR);
    makeLevelsGammaTable8(blackG, whiteG, gammaG, tableG);
    makeLevelsGammaTable8(blackB, whiteB, gammaB, tableB);
}

void makeMatrixTables8(float hue, float saturation, float value, std::int32_t tables[9][256]) {
    if (!tables) return;
    float m[9];
    makeColourCorrectionMatrix(m, hue, saturation, value);
    for (int k = 0; k < 9; ++k)
        for (int i = 0; i < 256; ++i) tables[k][i] = truncToInt32(static_cast<double>(static_cast<float>(i) * m[k]));
}

void ccxloop16(std::ptrdiff_t count, std::uint16_t* destination, const std::uint16_t* source,
               const float matrix[9], const std::uint16_t* tableR, const std::uint16_t* tableG,
               const std::uint16_t* tableB) {
    const std::uint16_t* tables[3] = {tableR, tableG, tableB};
    for (std::ptrdiff_t p = 0; p < count; ++p) {
        const std::uint16_t* in = source + p * 4;
        std::uint16_t* out = destination + p * 4;
        const float r = in[0], g = in[1], b = in[2];
        const std::uint16_t alpha = in[3];
        std::uint16_t result[3];
        for (int k = 0; k < 3; ++k) {
            const float x = (r * matrix[k * 3] + g * matrix[k * 3 + 1]) + b * matrix[k * 3 + 2];
            result[k] = tables[k][truncToUint16(x)];
        }
        out[0] = result[0];
        out[1] = result[1];
        out[2] = result[2];
        out[3] = alpha;
    }
}

ccxloop16_VantThread::ccxloop16_VantThread(int index, int bandCount, std::ptrdiff_t total,
                                           std::uint16_t* destination, const std::uint16_t* source,
                                           const float* matrix, const std::uint16_t* tableR,
                                           const std::uint16_t* tableG, const std::uint16_t* tableB)
    : VantThread(index, bandCount, total),
      destination_(bandOffset8(destination)),
      source_(bandOffset8(source)),
      matrix_(matrix),
      tableR_(tableR),
      tableG_(tableG),
      tableB_(tableB) {}

unsigned ccxloop16_VantThread::run() {
    ccxloop16(bandCount(), destination_, source_, matrix_, tableR_, tableG_, tableB_);
    return 0;
}

bool runColourCorrectWorkers(std::ptrdiff_t count, std::uint16_t* destination, const std::uint16_t* source,
                             const float matrix[9], const std::uint16_t* tableR,
                             const std::uint16_t* tableG, const std::uint16_t* tableB) {
    const int n = keyingBandCount();
    std::vector<std::unique_ptr<VantThread>> workers;
    try {
        workers.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            workers.push_back(std::make_unique<ccxloop16_VantThread>(i, n, count, destination, source, matrix,
                                                                     tableR, tableG, tableB));
    } catch (const std::bad_alloc&) {
        // No band has run yet, so the whole span can still be corrected here, even in place.
        workers.clear();
        ccxloop16(count, destination, source, matrix, tableR, tableG, tableB);
        return true;
    }
    return runWorkers(workers);
}

bool colourCorrectSpan16(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                         float hue, float saturation, float value, std::int32_t blackR, std::int32_t blackG,
                         std::int32_t blackB, std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB,
                         float gammaR, float gammaG, float gammaB) {
    if (count <= 0) return true;
    if (!destination || !source) return false;
    float matrix[9];
    makeColourCorrectionMatrix(matrix, hue, saturation, value);
    EngineBlock tables;
    if (!tables.allocate<std::uint16_t>(3 * 65536, false)) return false;
    std::uint16_t* tableR = tables.as<std::uint16_t>();
    std::uint16_t* tableG = tableR + 65536;
    std::uint16_t* tableB = tableG + 65536;
    makeLevelsGammaTables16(blackR, blackG, blackB, whiteR, whiteG, whiteB, gammaR, gammaG, gammaB, tableR, tableG,
                            tableB);
    if (workerThreadCount() >= 2 && count >= 100)
        return runColourCorrectWorkers(count, destination, source, matrix, tableR, tableG, tableB);
    ccxloop16(count, destination, source, matrix, tableR, tableG, tableB);
    return true;
}

bool colourCorrectFirstSet(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                           const KeyState* state) {
    if (!state) return false;
    return correctWithSet16(state->correctionSet1, destination, source, count);
}

bool colourCorrectSecondSet(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                            const KeyState* state) {
    if (!state) return false;
    return correctWithSet16(state->correctionSet2, destination, source, count);
}

void colourCorrect8(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count, float hue,
                    float saturation, float value, std::int32_t blackR, std::int32_t blackG,
                    std::int32_t blackB, std::int32_t whiteR, std::int32_t whiteG, std::int32_t whiteB,
                    float gammaR, float gammaG, float gammaB) {
    if (count <= 0 || !destination || !source) return;
    std::int32_t t[9][256];
    makeMatrixTables8(hue, saturation, value, t);
    std::uint8_t levels[3][256];
    makeLevelsGammaTables8(blackR, blackG, blackB, whiteR, whiteG, whiteB, gammaR, gammaG, gammaB, levels[0],
                           levels[1], levels[2]);
    // Table entries may be as large as an int32 for extreme settings, so the sums are 64-bit.
    auto clampSum = [](std::int64_t sum) { return static_cast<int>(std::clamp<std::int64_t>(sum, 0, 255)); };
    for (std::ptrdiff_t p = 0; p < count; ++p) {
        const std::uint8_t* in = source + p * 4;
        std::uint8_t* out = destination + p * 4;
        const int r = in[3], g = in[2], b = in[1];
        const std::uint8_t keep = in[0];
        const std::uint8_t rOut =
            levels[0][clampSum(static_cast<std::int64_t>(t[0][r]) + t[1][g] + t[2][b])];
        const std::uint8_t gOut =
            levels[1][clampSum(static_cast<std::int64_t>(t[3][r]) + t[4][g] + t[5][b])];
        const std::uint8_t bOut =
            levels[2][clampSum(static_cast<std::int64_t>(t[6][r]) + t[7][g] + t[8][b])];
        out[3] = rOut;
        out[2] = gOut;
        out[1] = bOut;
        out[0] = keep;
    }
}

void colourCorrect8FirstSet(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count,
                            const KeyState* state) {
    if (state) correctWithSet8(state->correctionSet1, destination, source, count);
}

void colourCorrect8SecondSet(std::uint8_t* destination, const std::uint8_t* source, std::ptrdiff_t count,
                             const KeyState* state) {
    if (state) correctWithSet8(state->correctionSet2, destination, source, count);
}

bool isColourCorrectionIdentity(std::int32_t which, const KeyState* state) {
    if (!state) return false;
    return isIdentitySet(correctionSet(which, state));
}

void pushAwayFromBackdrop16(std::uint16_t* destination, const std::uint16_t* source, std::ptrdiff_t count,
                            const float colour[3]) {
    if (count <= 0 || !destination || !source || !colour) return;
    auto copyColour = [&](std::ptrdiff_t p) {
        std::memmove(destination + p * 4, source + p * 4, 3 * sizeof(std::uint16_t));
    };
    int cls = 0;
    if (std::isfinite(colour[0]) && std::isfinite(colour[1]) && std::isfinite(colour[2])) {
        float h, s, v;
        rgbToHsv(colour[0] * kUnit16, colour[1] * kUnit16, colour[2] * kUnit16, &h, &s, &v);
        cls = classifyColourHsv(h, s, v);
    }
    int dominant;
    switch (cls) {
        case ColourClassBlue: dominant = 2; break;
        case ColourClassGreen: dominant = 1; break;
        case ColourClassRed: dominant = 0; break;
        default:
            for (std::ptrdiff_t p = 0; p < count; ++p) copyColour(p);
            return;
    }
    const int x = dominant == 0 ? 1 : 0;
    const int y = dominant == 2 ? 1 : 2;
    const float toX = colour[dominant] - colour[x];
    const float toY = colour[dominant] - colour[y];
    for (std::ptrdiff_t p = 0; p < count; ++p) {
        const std::uint16_t* in = source + p * 4;
        const float d[3] = {in[0] - colour[0], in[1] - colour[1], in[2] - colour[2]};
        const float lengthSquared = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        if (lengthSquared == 0.0f) {  // the colour itself has no direction to push along
            copyColour(p);
            continue;
        }
        const float inverse = 1.0f / std::sqrt(lengthSquared);
        const float u[3] = {d[0] * inverse, d[1] * inverse, d[2] * inverse};
        const float a = u[x] - u[dominant];
        const float b = u[y] - u[dominant];
        if ((a > -1.0f && a < 1.0f) || (b > -1.0f && b < 1.0f)) {
            copyColour(p);
            continue;
        }
        const float t = std::max(toX / a, toY / b) + 2550.0f;
        std::uint16_t* out = destination + p * 4;
        for (int c = 0; c < 3; ++c) out[c] = truncToUint16(colour[c] + t * u[c]);
    }
}

}  // namespace vantrelo
