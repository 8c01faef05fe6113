#include "engine/effects/auto_key.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/keying_workers.h"
#include "engine/keying/sampling_tools.h"
#include "engine/keying/numeric.h"

namespace vantrelo {
namespace {

constexpr int kBinCount = 256;
constexpr std::ptrdiff_t kSampledListCap = 10000;

void report(bool* failed, bool value) {
    if (failed) *failed = value;
}

// The pixels a call visits: every stepX-th column of every stepY-th row, in row order.
struct PixelSampling {
    const std::uint16_t* pixels;
    std::ptrdiff_t width, height, stepX, stepY;

    std::ptrdiff_t columns() const { return width == 0 ? 0 : (width - 1) / stepX + 1; }
    std::ptrdiff_t rows() const { return height == 0 ? 0 : (height - 1) / stepY + 1; }
    std::ptrdiff_t count() const { return columns() * rows(); }

    // body(k, pixel) for the k-th visited pixel.
    template <class Body>
    void forEach(Body body) const {
        forEachInRows(0, rows(), body);
    }
    // The same over the visited rows first .. first + count - 1 only.
    template <class Body>
    void forEachInRows(std::ptrdiff_t first, std::ptrdiff_t count, Body body) const {
        std::ptrdiff_t k = first * columns();
        for (std::ptrdiff_t r = first; r < first + count; ++r) {
            const std::uint16_t* row = pixels + 4 * r * stepY * width;
            for (std::ptrdiff_t x = 0; x < width; x += stepX) body(k++, row + 4 * x);
        }
    }
};

// body(slot, firstRow, rowCount) over the visited rows, split into `bands` bands (runSpanWorkers)
// when there are two or more; each band has a slot of its own, 0 .. bands - 1, for its partial
// results.  Passes whose bands write only their own part of the results, and whose partial results
// are whole numbers that add up the same in any order, give what one pass in order gives.  False
// when a band could not be run.
template <class Body>
bool forRowBands(const PixelSampling& sampling, int bands, Body body) {
    if (bands <= 1) {
        body(0, std::ptrdiff_t{0}, sampling.rows());
        return true;
    }
    std::atomic<int> nextSlot{0};
    return runSpanWorkers(bands, sampling.rows(), [&](std::ptrdiff_t first, std::ptrdiff_t count) {
        body(nextSlot++, first, count);
    });
}

// The engine's workers for a pass over `sampling`: one for a small image.
int rowBandsFor(const PixelSampling& sampling) {
    return sampling.count() >= 65536 ? std::max(1, keyingBandCount()) : 1;
}

bool usableSampling(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t stepX,
                    std::ptrdiff_t stepY) {
    std::size_t elements = 0;
    return usableImage(pixels, width, height) && imageElements(width, height, 4, elements) && stepX >= 1 && stepY >= 1;
}

bool inBand(std::int32_t bin, std::int32_t low, std::int32_t high) { return low <= bin && bin <= high; }

// Collects the samples of one list.  With the cap of the sampled variant, a list that would hold
// more than 10000 samples keeps entry k := sample k x s (s = number / 10000) for k < 9999 and
// its own sample 9999 as entry 9999; `number` is how many samples the gathering will offer.
class SampleList {
public:
    SampleList(std::uint16_t* storage, std::ptrdiff_t number, bool cap)
        : list_(storage), cut_(cap && number > kSampledListCap), stride_(cut_ ? number / kSampledListCap : 1) {}

    std::ptrdiff_t length() const { return cut_ ? kSampledListCap : gathered_; }
    std::ptrdiff_t gathered() const { return gathered_; }
    std::uint16_t* data() const { return list_; }

    // make(slot) writes one sample into each slot the next offered sample occupies.
    template <class Make>
    void offer(Make make) {
        const std::ptrdiff_t i = gathered_++;
        if (!cut_) {
            make(list_ + 4 * i);
            return;
        }
        if (i % stride_ == 0 && i / stride_ < kSampledListCap - 1) make(list_ + 4 * (i / stride_));
        if (i == kSampledListCap - 1) make(list_ + 4 * i);
    }

private:
    std::uint16_t* list_;
    bool cut_;
    std::ptrdiff_t stride_;
    std::ptrdiff_t gathered_ = 0;
};

// Runs a list tool over the gathered list, then enforceNesting mode 2, and returns how many samples
// were gathered (nothing runs for none).  The list tools take an int length; a longer list is fed
// in consecutive pieces, which the tools treat exactly as one list (each sample is fitted against
// the radii the ones before it left).
template <class Tool>
std::ptrdiff_t applyList(Tool tool, const SampleList& list, KeyState* state) {
    if (list.gathered() == 0) return 0;
    std::uint16_t* samples = list.data();
    for (std::ptrdiff_t length = list.length(); length > 0;) {
        const int piece = static_cast<int>(std::min<std::ptrdiff_t>(length, std::numeric_limits<int>::max()));
        tool(samples, piece, 1, state);
        samples += 4 * static_cast<std::ptrdiff_t>(piece);
        length -= piece;
    }
    enforceNesting(2, state);
    return list.gathered();
}

struct AutoKeySettings {
    bool growInner, shrinkOuter, growOuter;
    float innerWidening, outerWidening;
    bool skipInnerGrowth, shrinkMiddle;
    float boundaryScale, dominance;
    bool capLists;
};

bool runAutoKey(const std::uint16_t* backdrop, const PixelSampling& sampling, KeyState* state,
                const AutoKeySettings& settings, bool* failed) {
    report(failed, false);
    const std::ptrdiff_t n = sampling.count();
    if (n < 1) return false;

    float along[4], across[4];
    backdropChromaAxes(backdrop[0], backdrop[1], backdrop[2], along, across);
    ChromaDirection direction{};
    if (!meanChromaDirection(sampling.pixels, sampling.width, sampling.height, sampling.stepX, sampling.stepY, along,
                             across, &direction)) {
        report(failed, true);
        return false;
    }

    // Each pixel's bin, kept so that the band tests below need no second projection.  Bins lie
    // between about -700 and 128, well inside 16 bits.
    EngineBlock binBlock;
    Histogram counts(kBinCount);
    if (!binBlock.allocate<std::int16_t>(static_cast<std::size_t>(n), false) || counts.count() != kBinCount) {
        report(failed, true);
        return false;
    }
    std::int16_t* bins = binBlock.as<std::int16_t>();
    // Each band counts into a histogram of its own; the counts add up to those of one pass.
    const int binBands = rowBandsFor(sampling);
    std::vector<std::int64_t> bandCounts;
    try {
        bandCounts.assign(static_cast<std::size_t>(binBands) * kBinCount, 0);
    } catch (const std::bad_alloc&) {
        report(failed, true);
        return false;
    }
    if (!forRowBands(sampling, binBands, [&](int slot, std::ptrdiff_t first, std::ptrdiff_t count) {
            std::int64_t* own = bandCounts.data() + static_cast<std::size_t>(slot) * kBinCount;
            sampling.forEachInRows(first, count, [&](std::ptrdiff_t k, const std::uint16_t* pixel) {
                const std::int32_t bin = chromaBin(chromaCoordinates(pixel, along, across),
                                                   direction.dAlong, direction.dAcross);
                bins[k] = static_cast<std::int16_t>(std::clamp<std::int32_t>(bin, -32768, 32767));
                if (bin >= 0 && bin < kBinCount) ++own[bin];
            });
        })) {
        report(failed, true);
        return false;
    }
    for (int bin = 0; bin < kBinCount; ++bin) {
        std::int64_t total = 0;
        for (int band = 0; band < binBands; ++band)
            total += bandCounts[static_cast<std::size_t>(band) * kBinCount + static_cast<std::size_t>(bin)];
        counts[bin] = saturateToInt32(total);
    }

    const std::int32_t greyBin =
        chromaBin(ChromaCoordinates{0, truncToInt32(along[3])}, direction.dAlong, direction.dAcross);
    AutoKeyBands bands{};
    if (!findAutoKeyBands(counts, greyBin, settings.growInner, settings.shrinkOuter, settings.growOuter,
                          settings.innerWidening, settings.outerWidening, &bands)) {
        report(failed, true);
        return false;
    }
    const std::int32_t V = bands.innerLow, U = bands.innerHigh, W = bands.valley, Lo = bands.subjectLow;
    const std::int32_t G = bands.greyBin, N = bands.innerStart;
    const std::int32_t outerHigh = std::min(W, G);  // W'
    const std::int32_t boundaryHigh = (G + N) / 2;
    const bool growInner = bands.growInner, shrinkOuter = bands.shrinkOuter, growOuter = bands.growOuter;
    const bool middleStep = shrinkOuter && settings.shrinkMiddle;

    // Count every list before the first tool runs, so that the one list buffer is had up front and
    // a refusal leaves the key as it was.
    std::ptrdiff_t middleNumber = 0, outerNumber = 0, boundaryNumber = 0;
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        middleNumber += inBand(bins[k], Lo, W);
        outerNumber += inBand(bins[k], Lo, outerHigh);
        boundaryNumber += inBand(bins[k], outerHigh, boundaryHigh);
    }
    if (growOuter && settings.capLists && boundaryNumber > kSampledListCap) {
        // The cut depends on how many samples the list will be offered: only backdrop-like ones.
        boundaryNumber = 0;
        sampling.forEach([&](std::ptrdiff_t k, const std::uint16_t* pixel) {
            boundaryNumber +=
                inBand(bins[k], outerHigh, boundaryHigh) && isBackdropLike(pixel, backdrop, settings.dominance);
        });
    }
    std::ptrdiff_t capacity = 0;
    if (middleStep) capacity = std::max(capacity, middleNumber);
    if (shrinkOuter) capacity = std::max(capacity, outerNumber);
    if (growOuter) capacity = std::max(capacity, boundaryNumber);
    if (settings.capLists) capacity = std::min(capacity, kSampledListCap);
    EngineBlock listBlock;
    if (capacity > 0 && !listBlock.allocate<std::uint16_t>(4 * static_cast<std::size_t>(capacity), false)) {
        report(failed, true);
        return false;
    }
    std::uint16_t* const storage = listBlock.as<std::uint16_t>();

    std::ptrdiff_t used = 0;
    // a. Inner: one pixel at a time, each fitted against the radii the ones before it left.
    if (growInner && !settings.skipInnerGrowth) {
        sampling.forEach([&](std::ptrdiff_t k, const std::uint16_t* pixel) {
            if (!inBand(bins[k], V, U)) return;
            growInnerToSamples(pixel, 1, 1, state);
            enforceNesting(0, state);
            ++used;
        });
    }
    auto gatherPixels = [&](SampleList& list, std::int32_t low, std::int32_t high) {
        sampling.forEach([&](std::ptrdiff_t k, const std::uint16_t* pixel) {
            if (inBand(bins[k], low, high))
                list.offer([pixel](std::uint16_t* slot) { std::memcpy(slot, pixel, 4 * sizeof(std::uint16_t)); });
        });
    };
    // b. Middle shrink from the subject band.
    if (middleStep) {
        SampleList list(storage, middleNumber, settings.capLists);
        gatherPixels(list, Lo, W);
        used += applyList(shrinkMiddleFromSamples, list, state);
    }
    // c. Outer shrink from the subject band short of grey; its pixels count also for the growth alone.
    if (shrinkOuter) {
        SampleList list(storage, outerNumber, settings.capLists);
        gatherPixels(list, Lo, outerHigh);
        used += applyList(shrinkOuterFromSamples, list, state);
    } else if (growOuter) {
        used += outerNumber;
    }
    // d. Outer growth to the boundary colours of backdrop-like pixels of the transition band.
    if (growOuter) {
        SampleList list(storage, boundaryNumber, settings.capLists);
        sampling.forEach([&](std::ptrdiff_t k, const std::uint16_t* pixel) {
            if (!inBand(bins[k], outerHigh, boundaryHigh) || !isBackdropLike(pixel, backdrop, settings.dominance))
                return;
            list.offer([&](std::uint16_t* slot) {
                findBackdropBoundary(pixel, backdrop, slot, settings.boundaryScale, settings.dominance);
                slot[3] = 0;
            });
        });
        used += applyList(growOuterToSamples, list, state);
    }
    return used > 0;
}

}  // namespace

void backdropChromaAxes(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB, float along[4],
                        float across[4]) {
    const float invSqrt2 = 1.0f / std::sqrt(2.0f);
    const float invSqrt3 = 1.0f / std::sqrt(3.0f);
    const float invSqrt6 = invSqrt2 * invSqrt3;
    const float twoInvSqrt6 = 2.0f * invSqrt6;
    const float r = static_cast<float>(backdropR) * kUnit16;
    const float g = static_cast<float>(backdropG) * kUnit16;
    const float b = static_cast<float>(backdropB) * kUnit16;
    const float bu = (b - g) * invSqrt2;
    const float bv = (g + b) * invSqrt6 - r * twoInvSqrt6;
    const float f = std::sqrt(bu * bu + bv * bv);
    float a = 1.0f, c = 0.0f;
    if (std::fabs(static_cast<double>(f)) >= 1e-5) {
        a = -bu / f;
        c = -bv / f;
    }
    along[0] = -2.0f * c * invSqrt6;
    along[1] = c * invSqrt6 - a * invSqrt2;
    along[2] = c * invSqrt6 + a * invSqrt2;
    along[3] = 65535.0f * f;
    across[0] = -2.0f * a * invSqrt6;
    across[1] = a * invSqrt6 + c * invSqrt2;
    across[2] = a * invSqrt6 - c * invSqrt2;
    across[3] = 0.0f;
}

ChromaCoordinates chromaCoordinates(const std::uint16_t* pixel, const float along[4], const float across[4]) {
    const float R = pixel[0], G = pixel[1], B = pixel[2];
    return ChromaCoordinates{truncToInt32(across[0] * R + across[1] * G + across[2] * B + across[3]),
                             truncToInt32(along[0] * R + along[1] * G + along[2] * B + along[3])};
}

bool meanChromaDirection(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t stepX,
                         std::ptrdiff_t stepY, const float along[4], const float across[4], ChromaDirection* out) {
    if (!out || !along || !across || !usableSampling(pixels, width, height, stepX, stepY)) return false;
    const PixelSampling sampling{pixels, width, height, stepX, stepY};
    // Exact sums: a single-precision running sum stalls once it is large against each addend and
    // leaves the mean of a 24-Mpixel photograph far off.  Whole numbers, so the bands' sums add up
    // to the sum in order.
    const int bands = rowBandsFor(sampling);
    std::array<std::int64_t, 2 * kMostKeyingBands> sums{};
    if (!forRowBands(sampling, bands, [&](int slot, std::ptrdiff_t first, std::ptrdiff_t count) {
            std::int64_t bandAcross = 0, bandAlong = 0;
            sampling.forEachInRows(first, count, [&](std::ptrdiff_t, const std::uint16_t* pixel) {
                const ChromaCoordinates c = chromaCoordinates(pixel, along, across);
                bandAcross += c.across;
                bandAlong += c.along;
            });
            sums[2 * static_cast<std::size_t>(slot)] = bandAcross;
            sums[2 * static_cast<std::size_t>(slot) + 1] = bandAlong;
        }))
        return false;
    std::int64_t sumAcross = 0, sumAlong = 0;
    for (int band = 0; band < bands; ++band) {
        sumAcross += sums[2 * static_cast<std::size_t>(band)];
        sumAlong += sums[2 * static_cast<std::size_t>(band) + 1];
    }
    const std::ptrdiff_t n = sampling.count();
    const std::int32_t meanAcross = n > 0 ? static_cast<std::int32_t>(sumAcross / n) : 0;
    const std::int32_t meanAlong = n > 0 ? static_cast<std::int32_t>(sumAlong / n) : 0;
    const double length =
        std::sqrt(static_cast<double>(meanAlong) * meanAlong + static_cast<double>(meanAcross) * meanAcross);
    ChromaDirection d{meanAcross, meanAlong, 1.0f, 0.0f};
    if (length >= 1e-5) {
        d.dAlong = static_cast<float>(meanAlong / length);
        d.dAcross = static_cast<float>(meanAcross / length);
    }
    *out = d;
    return true;
}

std::int32_t chromaBin(ChromaCoordinates coordinates, float dAlong, float dAcross) {
    std::int32_t p =
        truncToInt32(static_cast<float>(coordinates.along) * dAlong + static_cast<float>(coordinates.across) * dAcross);
    if (p <= 0) p = 0;
    return (1024 - (p >> 6)) >> 3;
}

bool findAutoKeyBands(Histogram& counts, std::int32_t greyBin, bool growInner, bool shrinkOuter, bool growOuter,
                      float innerWidening, float outerWidening, AutoKeyBands* bands) {
    if (!bands || counts.count() != kBinCount) return false;
    Histogram derivative(kBinCount);
    if (derivative.count() != kBinCount) return false;

    counts.normalise();
    const std::int32_t N = 132 - (132 - greyBin) / 2;
    for (int i = 0; i < 4; ++i) counts.smooth();
    const std::int32_t E = counts.extent().first;
    derivative.assign(counts);
    derivative.differentiate();

    std::int32_t V = derivative.nextPeak(N);
    if (V < 0) V = N;
    std::int32_t U = 131;
    std::int32_t W = derivative.previousValley(N);
    if (W < 0) W = N;
    std::int32_t Lo = derivative.nextPeak(E);
    if (Lo < 0) Lo = E;

    if (growInner && V <= 131 && innerWidening != 0.0f) {
        const float e = (static_cast<float>(131 - V) + 1.0f) * innerWidening;
        U = truncToInt32(e + 131.0f);
        V = truncToInt32(static_cast<float>(V) - e);
        if (V > U) growInner = false;
    }
    if ((shrinkOuter || growOuter) && Lo <= W && outerWidening != 0.0f) {
        const float o = (static_cast<float>(W - Lo) + 1.0f) * outerWidening;
        W = truncToInt32(static_cast<float>(W) + o);
        Lo = truncToInt32(static_cast<float>(Lo) - o);
        if (Lo > W) shrinkOuter = growOuter = false;
    }
    if (growInner && shrinkOuter && W >= V) shrinkOuter = growOuter = false;

    *bands = AutoKeyBands{greyBin, N, E, V, U, W, Lo, growInner, shrinkOuter, growOuter};
    return true;
}

bool isBackdropLike(const std::uint16_t* colour, const std::uint16_t* backdrop, float dominance) {
    const std::int32_t R = colour[0], G = colour[1], B = colour[2];
    const std::int32_t Rb = backdrop[0], Gb = backdrop[1], Bb = backdrop[2];
    if (R + G + B < 30720) return false;
    const float x = dominance;
    if (Bb > Gb && Bb > Rb)
        return static_cast<float>(B) > x * static_cast<float>(G) && static_cast<float>(B) > x * static_cast<float>(R);
    if (Gb > Bb && Gb > Rb) {
        if (G > 2 * B) return 1.2 * G > static_cast<double>(R);
        return static_cast<float>(G) > x * static_cast<float>(B) && static_cast<float>(G) > x * static_cast<float>(R);
    }
    return R > B && R > G;
}

void findBackdropBoundary(const std::uint16_t* pixel, const std::uint16_t* backdrop, std::uint16_t* out,
                          float boundaryScale, float dominance) {
    float d[3];
    for (int c = 0; c < 3; ++c) d[c] = static_cast<float>(pixel[c]) - static_cast<float>(backdrop[c]);
    const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0.0f)) {
        // No ray leaves the backdrop colour itself; the pixel is its own boundary.
        for (int c = 0; c < 3; ++c) out[c] = pixel[c];
        return;
    }
    for (float& v : d) v /= length;

    std::int32_t Q[3] = {pixel[0], pixel[1], pixel[2]};
    float sign = 1.0f;
    std::int32_t step = 32768;
    for (int i = 0; i < 15; ++i) {
        bool inCube = true;
        for (int c = 0; c < 3; ++c) {
            Q[c] = truncToInt32(static_cast<float>(step) * d[c] * sign + static_cast<float>(Q[c]));
            inCube = inCube && Q[c] >= 0 && Q[c] <= 65535;
        }
        if (!inCube) {
            sign = -1.0f;
        } else {
            const std::uint16_t q[3] = {static_cast<std::uint16_t>(Q[0]), static_cast<std::uint16_t>(Q[1]),
                                        static_cast<std::uint16_t>(Q[2])};
            sign = isBackdropLike(q, backdrop, dominance) ? 1.0f : -1.0f;
        }
        step /= 2;
    }
    for (int c = 0; c < 3; ++c)
        out[c] = truncToUint16(static_cast<float>(Q[c] - pixel[c]) * boundaryScale + static_cast<float>(pixel[c]));
}

bool autoKeyFromHistogram(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB,
                          const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, KeyState* state,
                          bool growInner, bool shrinkOuter, bool growOuter, float innerWidening, float outerWidening,
                          bool skipInnerGrowth, bool shrinkMiddle, float boundaryScale, float dominance, bool* failed) {
    if (!state || !usableSampling(pixels, width, height, 1, 1)) {
        report(failed, true);
        return false;
    }
    const std::uint16_t backdrop[3] = {backdropR, backdropG, backdropB};
    const AutoKeySettings settings{growInner,       shrinkOuter,  growOuter,     innerWidening, outerWidening,
                                   skipInnerGrowth, shrinkMiddle, boundaryScale, dominance,     false};
    return runAutoKey(backdrop, PixelSampling{pixels, width, height, 1, 1}, state, settings, failed);
}

bool autoKeyFromHistogramSampled(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB,
                                 const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                                 KeyState* state, bool growInner, bool outer, float innerWidening, float outerWidening,
                                 bool skipInnerGrowth, bool shrinkMiddle, std::ptrdiff_t stepX, std::ptrdiff_t stepY,
                                 float boundaryScale, float dominance, bool* failed) {
    if (!state || !usableSampling(pixels, width, height, stepX, stepY)) {
        report(failed, true);
        return false;
    }
    const std::uint16_t backdrop[3] = {backdropR, backdropG, backdropB};
    const AutoKeySettings settings{growInner,       outer,        outer,         innerWidening, outerWidening,
                                   skipInnerGrowth, shrinkMiddle, boundaryScale, dominance,     true};
    return runAutoKey(backdrop, PixelSampling{pixels, width, height, stepX, stepY}, state, settings, failed);
}

bool makeAutoKeyMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::uint16_t backdropR,
                     std::uint16_t backdropG, std::uint16_t backdropB, KeyState* state, float innerWidening,
                     float outerWidening, float boundaryScale, float dominance) {
    bool failed = false;
    autoKeyFromHistogram(backdropR, backdropG, backdropB, pixels, width, height, state, false, false, true,
                         innerWidening, outerWidening, false, false, boundaryScale, dominance, &failed);
    return !failed;
}

bool autoKeyMaskFromBackdrop(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, KeyState* state,
                             bool skipInnerGrowth, bool* failed) {
    if (!state) {
        report(failed, true);
        return false;
    }
    const float outerWidening = (state->flags & KeyFlagSimulatedForeground) ? 1.0f : 0.0f;
    return autoKeyFromHistogram(truncToUint16(state->backdrop[0]), truncToUint16(state->backdrop[1]),
                                truncToUint16(state->backdrop[2]), pixels, width, height, state, false, true, false,
                                0.0f, outerWidening, skipInnerGrowth, true, 1.0f, 1.0f, failed);
}

bool autoKeyMaskFromBackdropFloat(float maximum, const float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                                  KeyState* state, bool skipInnerGrowth, bool* failed) {
    std::size_t elements = 0;
    if (!state || !usableImage(pixels, width, height) || !imageElements(width, height, 4, elements) ||
        !(maximum > 0.0f) || !std::isfinite(maximum)) {
        report(failed, true);
        return false;
    }
    EngineBlock scratch;
    if (elements > 0 && !scratch.allocate<std::uint16_t>(elements, false)) {
        report(failed, true);
        return false;
    }
    std::uint16_t* converted = scratch.as<std::uint16_t>();
    const float scale = 65535.0f / maximum;
    for (std::size_t i = 0; i < elements; ++i) converted[i] = truncToUint16(pixels[i] * scale);
    return autoKeyMaskFromBackdrop(converted, width, height, state, skipInnerGrowth, failed);
}

}  // namespace vantrelo
