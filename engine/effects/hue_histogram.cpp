#include "engine/effects/hue_histogram.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/effects/auto_key.h"
#include "engine/effects/histogram.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"

namespace vantrelo {
namespace {

constexpr std::uint8_t kNotColoured = 255;  // hue bins only reach 128
constexpr int kMaxPeaks = 20;
constexpr int kPeakReach = 3;  // a peak gathers the pixels within 3 bins of it
constexpr int kNotExamined = -2;  // refused memory: not the same answer as "no backdrop"

// Chroma coordinates against the grey axis: the chroma axes of a black backdrop, whose chroma
// direction is undefined and falls back to the fixed axis (its offsets are 0).
struct GreyAxes {
    float along[4];
    float across[4];
    GreyAxes() { backdropChromaAxes(0, 0, 0, along, across); }
};

// chromaCoordinates for these axes, kept inline for the per-pixel passes over the photograph.
// Both coordinates stay within +-65535 x 1.23, so the truncations are defined.
inline void chromaOf(const GreyAxes& axes, const std::uint16_t* p, std::int32_t* along, std::int32_t* across) {
    const float r = p[0], g = p[1], b = p[2];
    *along = static_cast<std::int32_t>((axes.along[0] * r + axes.along[1] * g) + axes.along[2] * b);
    *across = static_cast<std::int32_t>((axes.across[0] * r + axes.across[1] * g) + axes.across[2] * b);
}

// Hue bin of a coloured pixel (0..128), or kNotColoured.
inline std::uint8_t hueBinOf(std::int32_t along, std::int32_t across) {
    const std::int64_t squares = static_cast<std::int64_t>(along) * along + static_cast<std::int64_t>(across) * across;
    if (!(std::sqrt(static_cast<float>(squares)) > 3000.0f)) return kNotColoured;
    float h = static_cast<float>(static_cast<double>(std::atan2(static_cast<float>(across), static_cast<float>(along))) +
                                 1.5708);
    if (h < 0.0f) h = static_cast<float>(static_cast<double>(h) + 6.2832);
    const int bin = static_cast<int>(static_cast<double>(h) * 0.15915457091927682 * 128.0);
    return (bin >= 0 && bin < kNotColoured) ? static_cast<std::uint8_t>(bin) : kNotColoured;
}

// Means of a cluster's coordinates and its spread score; the sums are exact 64-bit integers and
// the distances are summed in double, in element order.
struct SpreadSums {
    std::int64_t count = 0;
    std::int64_t along = 0;
    std::int64_t across = 0;
    double distance = 0.0;
    float meanAlong = 0.0f;
    float meanAcross = 0.0f;

    void addPoint(std::int32_t a, std::int32_t c) {
        ++count;
        along += a;
        across += c;
    }
    void finishMeans() {
        if (count == 0) return;
        const double inverse = 1.0 / static_cast<double>(count);
        meanAlong = static_cast<float>(static_cast<double>(along) * inverse);
        meanAcross = static_cast<float>(static_cast<double>(across) * inverse);
    }
    void addDistance(std::int32_t a, std::int32_t c) {
        const float da = static_cast<float>(a) - meanAlong;
        const float dc = static_cast<float>(c) - meanAcross;
        distance += std::sqrt(da * da + dc * dc);
    }
    float score(float* meanChroma) const {
        if (count == 0) {
            if (meanChroma) *meanChroma = 0.0f;
            return 0.0f;
        }
        if (meanChroma) *meanChroma = std::sqrt(meanAcross * meanAcross + meanAlong * meanAlong) * kUnit16;
        return static_cast<float>(65535.0 - distance / static_cast<double>(count)) * kUnit16;
    }
};

struct Peak {
    int bin = 0;
    SpreadSums sums;
    std::uint64_t rgb[3] = {0, 0, 0};
    float fraction = 0.0f;
    float product = 0.0f;
};

}  // namespace

float chromaSpread(const std::int32_t* along, const std::int32_t* across, std::ptrdiff_t count, float* meanChroma) {
    SpreadSums sums;
    if (along && across && count > 0) {
        for (std::ptrdiff_t k = 0; k < count; ++k) sums.addPoint(along[k], across[k]);
        sums.finishMeans();
        for (std::ptrdiff_t k = 0; k < count; ++k) sums.addDistance(along[k], across[k]);
    }
    return sums.score(meanChroma);
}

int detectBackdropColour(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                         std::uint16_t* outColour, const std::int32_t* lowerBounds,
                         const std::int32_t* upperBounds) {
    if (!pixels || !outColour || width < 1 || height < 1) return -1;
    if (width > std::numeric_limits<std::ptrdiff_t>::max() / 8 / height) return kNotExamined;
    const std::ptrdiff_t total = width * height;
    const GreyAxes axes;

    // One byte per pixel keeps the hue bins for the peak passes; the coordinates are recomputed
    // from the pixels, which is cheaper than holding two ints per pixel of a 24-Mpixel photo.
    EngineBlock binBlock;
    const bool haveBins = binBlock.allocate<std::uint8_t>(static_cast<std::size_t>(total), false);
    std::uint8_t* const binsOfPixels = binBlock.as<std::uint8_t>();
    Histogram histogram(256);
    if (!haveBins || histogram.count() != 256) return kNotExamined;
    for (std::ptrdiff_t k = 0; k < total; ++k) {
        std::int32_t along, across;
        chromaOf(axes, pixels + k * 4, &along, &across);
        const std::uint8_t bin = hueBinOf(along, across);
        binsOfPixels[k] = bin;
        if (bin != kNotColoured) histogram.add(bin);
    }
    for (int pass = 0; pass < 4; ++pass) histogram.smooth();

    std::array<Peak, kMaxPeaks> peaks;
    int peakCount = 0;
    for (std::int32_t i = histogram.nextLocalMax(24); i != -1 && i <= 100 && peakCount < kMaxPeaks;
         i = histogram.nextLocalMax(i + 1))
        peaks[static_cast<std::size_t>(peakCount++)].bin = i;
    if (peakCount == 0) return -1;

    // The peaks whose window holds each bin; windows of distinct peaks overlap at most 7 deep.
    std::array<std::array<std::int8_t, 2 * kPeakReach + 2>, 256> owners{};
    for (auto& list : owners) list.fill(-1);
    for (int p = 0; p < peakCount; ++p) {
        for (int b = peaks[p].bin - kPeakReach; b <= peaks[p].bin + kPeakReach; ++b) {
            if (b < 0 || b > 255) continue;
            for (auto& slot : owners[b])
                if (slot < 0) {
                    slot = static_cast<std::int8_t>(p);
                    break;
                }
        }
    }

    // Two passes gather every peak's pixels in pixel order: sums first, then distances from the
    // peak's mean.
    for (std::ptrdiff_t k = 0; k < total; ++k) {
        const std::uint8_t bin = binsOfPixels[k];
        if (bin == kNotColoured || owners[bin][0] < 0) continue;
        const std::uint16_t* px = pixels + k * 4;
        std::int32_t along, across;
        chromaOf(axes, px, &along, &across);
        for (std::int8_t p : owners[bin]) {
            if (p < 0) break;
            Peak& peak = peaks[static_cast<std::size_t>(p)];
            peak.sums.addPoint(along, across);
            for (int c = 0; c < 3; ++c) peak.rgb[c] += px[c];
        }
    }
    for (int p = 0; p < peakCount; ++p) peaks[p].sums.finishMeans();
    for (std::ptrdiff_t k = 0; k < total; ++k) {
        const std::uint8_t bin = binsOfPixels[k];
        if (bin == kNotColoured || owners[bin][0] < 0) continue;
        std::int32_t along, across;
        chromaOf(axes, pixels + k * 4, &along, &across);
        for (std::int8_t p : owners[bin]) {
            if (p < 0) break;
            peaks[static_cast<std::size_t>(p)].sums.addDistance(along, across);
        }
    }
    for (int p = 0; p < peakCount; ++p) {
        Peak& peak = peaks[p];
        float meanChroma = 0.0f;
        const float spread = peak.sums.score(&meanChroma);
        peak.fraction = static_cast<float>(static_cast<double>(peak.sums.count) / static_cast<double>(total));
        peak.product = peak.fraction * spread * meanChroma;
    }

    for (;;) {
        int best = -1;
        for (int p = 0; p < peakCount; ++p)
            if (static_cast<double>(peaks[p].fraction) > 0.05 && (best < 0 || peaks[p].product > peaks[best].product))
                best = p;
        if (best < 0) return -1;
        Peak& chosen = peaks[best];
        // Every pixel of the chosen peak was gathered, so the count is at least 5 % of the image.
        const double inverse = 1.0 / static_cast<double>(chosen.sums.count);
        std::int32_t colour[3];
        for (int c = 0; c < 3; ++c) {
            const double mean = static_cast<double>(chosen.rgb[c]) * inverse;
            colour[c] = mean >= 65535.0 ? 65535 : static_cast<std::int32_t>(mean);
            outColour[c] = static_cast<std::uint16_t>(colour[c]);
        }
        if (lowerBounds && !(colour[0] > lowerBounds[0] && colour[1] > lowerBounds[1] && colour[2] > lowerBounds[2]))
            chosen.fraction = 0.0f;
        if (upperBounds && !(colour[0] < upperBounds[0] && colour[1] < upperBounds[1] && colour[2] < upperBounds[2]))
            chosen.fraction = 0.0f;
        if (static_cast<double>(chosen.fraction) > 0.05) return 1;
    }
}

}  // namespace vantrelo
