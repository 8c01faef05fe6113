// The automatic key: projection facts (the backdrop's chroma in bin 128), the band search on the
// histogram, the colour tests, the key it shapes on a small photograph, the agreement of the
// sampled variant with the core operation, refused memory, and exact means on a 24-Mpixel image.

#include "engine/effects/auto_key.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/sampling_tools.h"
#include "tests/engine/effects/auto_key_test_support.h"
#include "tests/engine/effects/matte_test_support.h"

namespace vantrelo {
namespace {

using autokey_test::bluePhoto;
using autokey_test::kBlue;
using autokey_test::keyAround;
using autokey_test::kSkin;
using autokey_test::Photo;
using sampling_test::nested;
using testing_keys::sameRadii;

// Bins of every pixel and the counted histogram, from the building blocks.
struct Projection {
    std::vector<std::int32_t> bins;
    Histogram counts{256};
    std::int32_t greyBin = 0;
};
Projection project(const Photo& photo, const std::uint16_t* backdrop) {
    float along[4], across[4];
    backdropChromaAxes(backdrop[0], backdrop[1], backdrop[2], along, across);
    ChromaDirection d{};
    EXPECT_TRUE(meanChromaDirection(photo.pixels.data(), photo.width, photo.height, 1, 1, along, across, &d));
    Projection p;
    for (std::size_t i = 0; i < photo.pixels.size() / 4; ++i) {
        p.bins.push_back(chromaBin(chromaCoordinates(photo.pixels.data() + 4 * i, along, across), d.dAlong, d.dAcross));
        p.counts.add(p.bins.back());
    }
    p.greyBin = chromaBin(ChromaCoordinates{0, static_cast<std::int32_t>(along[3])}, d.dAlong, d.dAcross);
    return p;
}

// ---- Projection ----

TEST(AutoKeyProjection, BackdropChromaLandsInBin128AndGreyOnTheAlongAxis) {
    const std::uint16_t backdrops[][3] = {
        {8000, 14000, 52000}, {9000, 41000, 12000}, {50000, 9000, 7000}, {30000, 30000, 30000}, {0, 0, 0}};
    for (const auto& k : backdrops) {
        SCOPED_TRACE(::testing::Message() << k[0] << " " << k[1] << " " << k[2]);
        float along[4], across[4];
        backdropChromaAxes(k[0], k[1], k[2], along, across);
        const std::uint16_t backdrop[4] = {k[0], k[1], k[2], 65535};
        const ChromaCoordinates atBackdrop = chromaCoordinates(backdrop, along, across);
        EXPECT_LE(std::abs(atBackdrop.along), 1);
        EXPECT_LE(std::abs(atBackdrop.across), 1);
        // Whatever the mean direction, the backdrop's own chroma projects to 0: bin 128.
        for (float angle : {0.0f, 0.7f, 2.0f, -1.3f})
            EXPECT_EQ(chromaBin(atBackdrop, std::cos(angle), std::sin(angle)), 128);
        // Grey lies 65535 f along, nothing across.
        const std::uint16_t grey[4] = {20000, 20000, 20000, 0};
        const ChromaCoordinates atGrey = chromaCoordinates(grey, along, across);
        EXPECT_NEAR(atGrey.along, along[3], 1.0f);
        EXPECT_LE(std::abs(atGrey.across), 1);
    }
    // A backdrop without chroma takes the fixed axis a = 1, c = 0.
    float along[4], across[4];
    backdropChromaAxes(30000, 30000, 30000, along, across);
    const float s2 = 1.0f / std::sqrt(2.0f), s6 = s2 * (1.0f / std::sqrt(3.0f));
    EXPECT_FLOAT_EQ(along[0], 0.0f);
    EXPECT_FLOAT_EQ(along[1], -s2);
    EXPECT_FLOAT_EQ(along[2], s2);
    EXPECT_FLOAT_EQ(along[3], 0.0f);
    EXPECT_FLOAT_EQ(across[0], -2.0f * s6);
    EXPECT_FLOAT_EQ(across[1], s6);
    EXPECT_FLOAT_EQ(across[2], s6);
}

TEST(AutoKeyProjection, BinsFallTowardZeroAndStopCountingPastIt) {
    const struct {
        std::int32_t p, bin;
    } cases[] = {{-5000, 128}, {0, 128},   {63, 128},   {64, 127},     {4096, 120},
                 {32768, 64},  {65599, 0}, {65600, -1}, {200000, -263}};
    for (const auto& c : cases) EXPECT_EQ(chromaBin(ChromaCoordinates{0, c.p}, 1.0f, 0.0f), c.bin) << c.p;
    // The across coordinate counts through the direction.
    EXPECT_EQ(chromaBin(ChromaCoordinates{64, 0}, 0.0f, 1.0f), 127);
}

TEST(AutoKeyProjection, MeanDirectionTruncatesTowardZeroAndFallsBackToAlong) {
    float along[4], across[4];
    backdropChromaAxes(kBlue[0], kBlue[1], kBlue[2], along, across);
    // A skin pixel between two backdrop pixels.
    std::vector<std::uint16_t> pixels = {kBlue[0], kBlue[1], kBlue[2], 0,        kSkin[0], kSkin[1],
                                         kSkin[2], 0,        kBlue[0], kBlue[1], kBlue[2], 0};
    const ChromaCoordinates skin = chromaCoordinates(pixels.data() + 4, along, across);
    const ChromaCoordinates blue = chromaCoordinates(pixels.data(), along, across);
    ChromaDirection d{};
    ASSERT_TRUE(meanChromaDirection(pixels.data(), 3, 1, 1, 1, along, across, &d));
    EXPECT_EQ(d.meanAlong, (2 * blue.along + skin.along) / 3);
    EXPECT_EQ(d.meanAcross, (2 * blue.across + skin.across) / 3);
    const double length = std::hypot(d.meanAlong, d.meanAcross);
    EXPECT_FLOAT_EQ(d.dAlong, static_cast<float>(d.meanAlong / length));
    EXPECT_FLOAT_EQ(d.dAcross, static_cast<float>(d.meanAcross / length));
    // Every other pixel of the row: only the backdrop pixels at 0 and 2.
    ASSERT_TRUE(meanChromaDirection(pixels.data(), 3, 1, 2, 1, along, across, &d));
    EXPECT_EQ(d.meanAlong, blue.along);
    EXPECT_EQ(d.meanAcross, blue.across);
    // No pixels: a mean of length 0 gives the along direction.
    ASSERT_TRUE(meanChromaDirection(pixels.data(), 0, 1, 1, 1, along, across, &d));
    EXPECT_EQ(d.dAlong, 1.0f);
    EXPECT_EQ(d.dAcross, 0.0f);
    // Unusable arguments.
    EXPECT_FALSE(meanChromaDirection(nullptr, 2, 1, 1, 1, along, across, &d));
    EXPECT_FALSE(meanChromaDirection(pixels.data(), 2, 1, 0, 1, along, across, &d));
    EXPECT_FALSE(meanChromaDirection(pixels.data(), -2, 1, 1, 1, along, across, &d));
}

// The only 24-Mpixel case of the suite: a single-precision running sum stalls on an image this
// size and gives a mean far off; the exact sums give the truncated mean to the unit.
TEST(AutoKeyProjection, MeansDoNotDriftOnA24MegapixelPhoto) {
    const std::ptrdiff_t width = 6000, height = 4000;
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width * height * 4));
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const std::uint16_t* colour = y % 4 == 0 ? kSkin : kBlue;
        std::uint16_t* row = pixels.data() + 4 * y * width;
        for (std::ptrdiff_t x = 0; x < width; ++x) std::memcpy(row + 4 * x, colour, 3 * sizeof(std::uint16_t));
    }
    float along[4], across[4];
    backdropChromaAxes(kBlue[0], kBlue[1], kBlue[2], along, across);
    const std::uint16_t skinPixel[4] = {kSkin[0], kSkin[1], kSkin[2], 0};
    const std::uint16_t bluePixel[4] = {kBlue[0], kBlue[1], kBlue[2], 0};
    const ChromaCoordinates skin = chromaCoordinates(skinPixel, along, across);
    const ChromaCoordinates blue = chromaCoordinates(bluePixel, along, across);
    const std::int64_t n = width * height, skinCount = width * (height / 4);
    const std::int64_t sumAlong = skinCount * skin.along + (n - skinCount) * blue.along;
    const std::int64_t sumAcross = skinCount * skin.across + (n - skinCount) * blue.across;

    ChromaDirection d{};
    ASSERT_TRUE(meanChromaDirection(pixels.data(), width, height, 1, 1, along, across, &d));
    EXPECT_EQ(d.meanAlong, sumAlong / n);
    EXPECT_EQ(d.meanAcross, sumAcross / n);
    ASSERT_GT(d.meanAlong, 1000);  // the image has a real mean to lose

    // What a float accumulator makes of the same numbers: off by hundreds of units.
    float floatSum = 0.0f;
    for (std::int64_t y = 0; y < height; ++y)
        for (std::int64_t x = 0; x < width; ++x) floatSum += static_cast<float>(y % 4 == 0 ? skin.along : blue.along);
    EXPECT_GT(std::fabs(floatSum / static_cast<float>(n) - static_cast<float>(d.meanAlong)), 100.0f);
}

// ---- Bands ----

TEST(AutoKeyBands, BackdropAndSubjectBandsOfAPhoto) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    Projection p = project(photo, kBlue);
    AutoKeyBands b{};
    ASSERT_TRUE(findAutoKeyBands(p.counts, p.greyBin, true, true, false, 0.0f, 0.0f, &b));
    EXPECT_EQ(b.greyBin, p.greyBin);
    EXPECT_EQ(b.innerStart, 132 - (132 - p.greyBin) / 2);
    EXPECT_EQ(b.innerHigh, 131);
    // Subject band below the grey bin, backdrop band next to 128, the valley between them.
    std::int32_t subjectLow = 255, subjectHigh = 0, backdropLow = 255;
    for (std::size_t i = 0; i < p.bins.size(); ++i) {
        const bool subject = photo.subject.contains(static_cast<int>(i % 64), static_cast<int>(i / 64));
        if (subject) {
            subjectLow = std::min(subjectLow, p.bins[i]);
            subjectHigh = std::max(subjectHigh, p.bins[i]);
        } else {
            backdropLow = std::min(backdropLow, p.bins[i]);
        }
    }
    EXPECT_LE(b.firstBin, subjectLow);
    EXPECT_GE(b.subjectLow, subjectLow);
    EXPECT_LE(b.subjectLow, subjectHigh);
    EXPECT_GE(b.valley, b.subjectLow);
    EXPECT_LT(b.valley, b.innerStart);
    EXPECT_GE(b.innerLow, backdropLow - 2);
    EXPECT_LE(b.innerLow, 128);
    EXPECT_TRUE(b.growInner);
    EXPECT_TRUE(b.shrinkOuter);
    EXPECT_FALSE(b.growOuter);
}

TEST(AutoKeyBands, WideningsMoveTheBandEdgesAndCanDropSteps) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    const Projection p = project(photo, kBlue);
    auto bandsWith = [&](bool growInner, bool shrinkOuter, bool growOuter, float inner, float outer) {
        Histogram counts(256);
        counts.assign(p.counts);
        AutoKeyBands b{};
        EXPECT_TRUE(findAutoKeyBands(counts, p.greyBin, growInner, shrinkOuter, growOuter, inner, outer, &b));
        return b;
    };
    const AutoKeyBands plain = bandsWith(true, true, false, 0.0f, 0.0f);

    const AutoKeyBands inner = bandsWith(true, true, false, 0.5f, 0.0f);
    const float e = (static_cast<float>(131 - plain.innerLow) + 1.0f) * 0.5f;
    EXPECT_EQ(inner.innerHigh, static_cast<std::int32_t>(e + 131.0f));
    EXPECT_EQ(inner.innerLow, static_cast<std::int32_t>(static_cast<float>(plain.innerLow) - e));
    EXPECT_TRUE(inner.growInner);

    const AutoKeyBands outer = bandsWith(false, true, false, 0.0f, 0.25f);
    const float o = (static_cast<float>(plain.valley - plain.subjectLow) + 1.0f) * 0.25f;
    EXPECT_EQ(outer.valley, static_cast<std::int32_t>(static_cast<float>(plain.valley) + o));
    EXPECT_EQ(outer.subjectLow, static_cast<std::int32_t>(static_cast<float>(plain.subjectLow) - o));
    EXPECT_TRUE(outer.shrinkOuter);

    // Narrowing past nothing drops the step; a valley widened up to the inner band drops the outer steps.
    EXPECT_FALSE(bandsWith(true, false, false, -2.0f, 0.0f).growInner);
    const AutoKeyBands narrowed = bandsWith(false, true, true, 0.0f, -2.0f);
    EXPECT_FALSE(narrowed.shrinkOuter);
    EXPECT_FALSE(narrowed.growOuter);
    const AutoKeyBands crossing = bandsWith(true, true, true, 0.0f, 40.0f);
    EXPECT_FALSE(crossing.shrinkOuter);
    EXPECT_FALSE(crossing.growOuter);
    EXPECT_TRUE(crossing.growInner);
    // Widening is not applied to a step that is off.
    EXPECT_EQ(bandsWith(false, true, false, 3.0f, 0.0f).innerHigh, 131);
}

TEST(AutoKeyBands, EmptyHistogramStaysEmptyAndBandsFallBackToTheirStarts) {
    Histogram counts(256);
    AutoKeyBands b{};
    ASSERT_TRUE(findAutoKeyBands(counts, 70, true, true, true, 0.0f, 0.0f, &b));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(counts[i], 0);
    EXPECT_EQ(b.innerStart, 101);
    EXPECT_EQ(b.firstBin, 255);
    EXPECT_EQ(b.innerLow, 101);
    EXPECT_EQ(b.valley, 101);
    EXPECT_EQ(b.subjectLow, 255);
    Histogram wrongSize(100);
    EXPECT_FALSE(findAutoKeyBands(wrongSize, 70, true, true, true, 0.0f, 0.0f, &b));
}

// ---- Colour tests ----

TEST(AutoKeyColours, IsBackdropLikeByDominantChannel) {
    const std::uint16_t blue[3] = {8000, 14000, 52000}, green[3] = {9000, 41000, 12000}, red[3] = {50000, 9000, 7000},
                        tie[3] = {30000, 30000, 10000};
    const struct {
        const std::uint16_t* backdrop;
        std::uint16_t colour[3];
        float dominance;
        bool expected;
    } cases[] = {
        {blue, {5000, 5000, 20000}, 1.0f, false},   // sum below 30720
        {blue, {10000, 10000, 10720}, 1.0f, true},  // sum exactly 30720
        {blue, {10000, 20000, 30000}, 1.0f, true},
        {blue, {10000, 20000, 30000}, 1.6f, false},  // B > 1.6 G fails
        {blue, {31000, 20000, 30000}, 1.0f, false},
        {green, {30000, 40000, 19000}, 5.0f, true},   // G > 2 B: only 1.2 G > R counts
        {green, {49000, 40000, 19000}, 1.0f, false},  // 1.2 G = 48000 < R
        {green, {20000, 40000, 25000}, 1.5f, true},   // G > 1.5 B and G > 1.5 R
        {green, {20000, 40000, 30000}, 1.5f, false},  // G < 1.5 B
        {red, {40000, 20000, 30000}, 9.0f, true},     // plain test, no factor
        {red, {40000, 40000, 30000}, 1.0f, false},
        {tie, {40000, 20000, 30000}, 1.0f, true},  // a tie counts as "any other backdrop"
    };
    for (const auto& c : cases)
        EXPECT_EQ(isBackdropLike(c.colour, c.backdrop, c.dominance), c.expected)
            << c.colour[0] << " " << c.colour[1] << " " << c.colour[2] << " x " << c.dominance;
}

TEST(AutoKeyColours, BoundaryLiesWhereTheBackdropTestChanges) {
    const std::uint16_t backdrop[3] = {0, 0, 65535};
    const std::uint16_t pixel[3] = {10000, 10000, 50000};
    // Along the ray from the backdrop through the pixel, blue stays dominant until B = G.
    std::uint16_t boundary[3];
    findBackdropBoundary(pixel, backdrop, boundary, 1.0f, 1.0f);
    EXPECT_LE(std::abs(boundary[2] - boundary[1]), 3);
    EXPECT_EQ(boundary[0], boundary[1]);
    EXPECT_GT(boundary[1], pixel[1]);
    // The scale goes part of the way; 0 stays on the pixel.
    std::uint16_t half[3], none[3];
    findBackdropBoundary(pixel, backdrop, half, 0.5f, 1.0f);
    findBackdropBoundary(pixel, backdrop, none, 0.0f, 1.0f);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(half[c], (pixel[c] + boundary[c]) / 2.0, 1.0);
        EXPECT_EQ(none[c], pixel[c]);
    }
    // A large scale is limited to the cube.
    std::uint16_t far[3];
    findBackdropBoundary(pixel, backdrop, far, 100.0f, 1.0f);
    EXPECT_EQ(far[2], 0);
    EXPECT_EQ(far[1], 65535);
    // The backdrop colour itself has no ray: it is its own boundary, never a NaN direction.
    const std::uint16_t same[3] = {0, 0, 65535};
    std::uint16_t out[3] = {1, 2, 3};
    findBackdropBoundary(same, backdrop, out, 1.0f, 1.0f);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 65535);
}

// ---- The key it shapes ----

class AutoKey : public matte_test::EngineSettings {};

// Alpha of every pixel of the photo keyed with the state; the counts of opaque subject and
// transparent backdrop pixels.
std::pair<int, int> keyedCounts(const Photo& photo, KeyState state) {
    EXPECT_EQ(compileKey(&state), 1);
    std::vector<std::uint16_t> out(photo.pixels.size());
    vantproc(photo.pixels.data(), photo.pixels.data(), nullptr, nullptr, out.data(),
             static_cast<std::ptrdiff_t>(photo.pixels.size() / 4), &state);
    releaseKey(&state);
    int opaqueSubject = 0, clearBackdrop = 0;
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x) {
            const std::uint16_t a = out[4 * (static_cast<std::size_t>(y) * photo.width + x) + 3];
            if (photo.subject.contains(x, y))
                opaqueSubject += a == 65535;
            else
                clearBackdrop += a == 0;
        }
    return {opaqueSubject, clearBackdrop};
}

TEST_F(AutoKey, GrowsTheInnerKeyToTheBackdropAndShrinksTheOuterFromTheSubject) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    const int subject = 24 * 30, backdrop = 64 * 48 - subject;
    const KeyState before = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
    const auto [opaqueBefore, clearBefore] = keyedCounts(photo, before);
    EXPECT_EQ(opaqueBefore, 0);
    EXPECT_EQ(clearBefore, 0);

    KeyState state = before;
    bool failed = true;
    EXPECT_TRUE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &state, true, true,
                                     false, 0.0f, 0.0f, false, true, 1.0f, 1.0f, &failed));
    EXPECT_FALSE(failed);
    EXPECT_TRUE(autokey_test::sameApartFromRadii(state, before)) << "only the radii change";
    EXPECT_TRUE(nested(state));
    const auto [opaque, clear] = keyedCounts(photo, state);
    EXPECT_EQ(opaque, subject);
    EXPECT_GE(clear, backdrop * 99 / 100);

    // The same with the inner growth skipped: the inner key keeps its radius.
    KeyState skipped = before;
    EXPECT_TRUE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &skipped, true, true,
                                     false, 0.0f, 0.0f, true, true, 1.0f, 1.0f, &failed));
    for (int v = 0; v < kVertexCount; ++v) EXPECT_EQ(skipped.innerRadii[v], 1.0f);
    EXPECT_EQ(keyedCounts(photo, skipped).first, subject);
}

TEST_F(AutoKey, StepsThatFindNothingLeaveTheKeyAndReportNoSamples) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    const KeyState before = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
    bool failed = true;
    // No pixels: not a failure, nothing used.
    KeyState state = before;
    EXPECT_FALSE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 0, 48, &state, true, true,
                                      true, 0.0f, 0.0f, false, true, 1.0f, 1.0f, &failed));
    EXPECT_FALSE(failed);
    EXPECT_TRUE(autokey_test::sameBytes(state, before));
    // A subject band narrowed away drops both outer steps; with no inner step nothing is used.
    EXPECT_FALSE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &state, false, true,
                                      true, 0.0f, -2.0f, false, true, 1.0f, 1.0f, &failed));
    EXPECT_FALSE(failed);
    EXPECT_TRUE(autokey_test::sameBytes(state, before));
    // Unusable arguments are failures.
    EXPECT_FALSE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], nullptr, 64, 48, &state, true, true, true, 0.0f,
                                      0.0f, false, true, 1.0f, 1.0f, &failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, nullptr, true, true,
                                      true, 0.0f, 0.0f, false, true, 1.0f, 1.0f, &failed));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(autoKeyFromHistogramSampled(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &state, false,
                                             true, 0.0f, 0.0f, false, true, 0, 1, 1.0f, 1.0f, &failed));
    EXPECT_TRUE(failed);
    EXPECT_TRUE(autokey_test::sameBytes(state, before));
}

TEST_F(AutoKey, MaskOnlyGrowsTheOuterKeyAndAlwaysReportsTrue) {
    // A ring of greyish blue around the subject gives backdrop-like pixels between grey and the
    // backdrop band, where the boundary step looks.
    Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    for (int y = 6; y < 44; ++y)
        for (int x = 16; x < 48; ++x)
            if (!photo.subject.contains(x, y)) {
                std::uint16_t* p = photo.pixels.data() + 4 * (y * 64 + x);
                p[0] = 26000, p[1] = 27500, p[2] = 33000;
            }
    KeyState state = keyAround(kBlue, 1.0f, 12000.0f, 12000.0f);
    const KeyState before = state;
    EXPECT_TRUE(
        makeAutoKeyMask(photo.pixels.data(), 64, 48, kBlue[0], kBlue[1], kBlue[2], &state, 0.0f, 0.0f, 1.0f, 1.0f));
    bool grew = false;
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_GE(state.outerRadii[v], before.outerRadii[v]);
        EXPECT_EQ(state.innerRadii[v], before.innerRadii[v]);
        grew = grew || state.outerRadii[v] > before.outerRadii[v];
    }
    EXPECT_TRUE(grew);
    // Without pixels it still reports true; only a failure gives false.
    EXPECT_TRUE(
        makeAutoKeyMask(photo.pixels.data(), 0, 0, kBlue[0], kBlue[1], kBlue[2], &state, 0.0f, 0.0f, 1.0f, 1.0f));
    EXPECT_FALSE(
        makeAutoKeyMask(photo.pixels.data(), 64, 48, kBlue[0], kBlue[1], kBlue[2], nullptr, 0.0f, 0.0f, 1.0f, 1.0f));
}

TEST_F(AutoKey, DriversPassTheStateBackdropAndTheirSettings) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    for (std::uint32_t flags : {0u, static_cast<std::uint32_t>(KeyFlagSimulatedForeground)}) {
        KeyState base = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
        base.backdrop[0] += 0.75f;  // truncated by the driver
        base.flags = flags;
        KeyState viaDriver = base, direct = base, viaFloat = base;
        bool failed = true;
        const bool used = autoKeyMaskFromBackdrop(photo.pixels.data(), 64, 48, &viaDriver, true, &failed);
        EXPECT_FALSE(failed);
        const float outerWidening = flags ? 1.0f : 0.0f;
        EXPECT_EQ(used, autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &direct, false,
                                             true, false, 0.0f, outerWidening, true, true, 1.0f, 1.0f));
        EXPECT_TRUE(sameRadii(viaDriver, direct));
        // Float pixels on 0..65535 convert exactly.
        std::vector<float> floats(photo.pixels.begin(), photo.pixels.end());
        EXPECT_EQ(autoKeyMaskFromBackdropFloat(65535.0f, floats.data(), 64, 48, &viaFloat, true, &failed), used);
        EXPECT_FALSE(failed);
        EXPECT_TRUE(sameRadii(viaFloat, direct));
    }
    // On 0..1 the conversion scales by 65535 and limits out-of-range values.
    KeyState a = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f), b = a;
    std::vector<float> unit(photo.pixels.size());
    std::vector<std::uint16_t> expected(photo.pixels.size());
    for (std::size_t i = 0; i < unit.size(); ++i) {
        unit[i] = (i % 7 == 0) ? 1.5f : (i % 11 == 0 ? -0.5f : photo.pixels[i] / 65535.0f);
        const float v = unit[i] * (65535.0f / 1.0f);
        expected[i] = v >= 65535.0f ? 65535 : v > 0.0f ? static_cast<std::uint16_t>(v) : 0;
    }
    bool failed = true;
    autoKeyMaskFromBackdropFloat(1.0f, unit.data(), 64, 48, &a, false, &failed);
    EXPECT_FALSE(failed);
    autoKeyMaskFromBackdrop(expected.data(), 64, 48, &b, false);
    EXPECT_TRUE(sameRadii(a, b));
    for (float bad : {0.0f, -1.0f, NAN, INFINITY}) {
        EXPECT_FALSE(autoKeyMaskFromBackdropFloat(bad, unit.data(), 64, 48, &a, false, &failed));
        EXPECT_TRUE(failed) << bad;
    }
}

// The sampled variant visits a sub-grid of pixels; with lists below the cap it is the core
// operation run on the decimated image.
TEST_F(AutoKey, SampledVariantEqualsTheCoreOnTheDecimatedImage) {
    const Photo photo = bluePhoto(90, 60, {30, 14, 62, 50});
    for (std::ptrdiff_t step : {1, 2, 3}) {
        SCOPED_TRACE(step);
        Photo decimated{
            static_cast<int>((90 - 1) / step + 1), static_cast<int>((60 - 1) / step + 1), photo.subject, {}};
        for (int y = 0; y < 60; y += static_cast<int>(step))
            for (int x = 0; x < 90; x += static_cast<int>(step))
                decimated.pixels.insert(decimated.pixels.end(), photo.at(x, y), photo.at(x, y) + 4);
        for (bool growInner : {false, true}) {
            KeyState sampled = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f), core = sampled;
            bool failed = true;
            const bool usedSampled =
                autoKeyFromHistogramSampled(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 90, 60, &sampled,
                                            growInner, true, 0.2f, 0.1f, false, true, step, step, 1.0f, 1.0f, &failed);
            EXPECT_FALSE(failed);
            const bool usedCore = autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], decimated.pixels.data(),
                                                       decimated.width, decimated.height, &core, growInner, true, true,
                                                       0.2f, 0.1f, false, true, 1.0f, 1.0f);
            EXPECT_EQ(usedSampled, usedCore);
            EXPECT_TRUE(usedCore);
            EXPECT_TRUE(sameRadii(sampled, core));
        }
    }
}

// On a photograph large enough for the engine's workers, the mean, the bins and the counts are
// worked out in bands of rows; whatever the number of workers, the key is the one a single pass in
// order shapes.
TEST_F(AutoKey, AnyNumberOfWorkersShapesTheKeyOnePassShapes) {
    const Photo photo = bluePhoto(331, 217, {90, 40, 250, 217}, 1.0f, 0.8f, 2500, 17);
    ASSERT_GE(photo.width * photo.height, 65536);
    float along[4], across[4];
    backdropChromaAxes(kBlue[0], kBlue[1], kBlue[2], along, across);
    const auto run = [&](int workers, bool mask, KeyState& key, ChromaDirection& direction) {
        setWorkerThreadCount(workers);
        EXPECT_TRUE(meanChromaDirection(photo.pixels.data(), photo.width, photo.height, 1, 1, along, across,
                                        &direction));
        key = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
        if (mask)
            return makeAutoKeyMask(photo.pixels.data(), photo.width, photo.height, kBlue[0], kBlue[1], kBlue[2], &key,
                                   0.1f, 0.2f, 0.9f, 1.1f);
        return autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), photo.width, photo.height,
                                    &key, true, true, false, 0.2f, 0.1f, false, true, 1.0f, 1.0f);
    };
    for (bool mask : {false, true}) {
        SCOPED_TRACE(mask ? "mask" : "full key");
        KeyState alone{};
        ChromaDirection inOrder{};
        const bool used = run(1, mask, alone, inOrder);
        ASSERT_TRUE(used);
        for (int workers : {2, 3, 8}) {
            SCOPED_TRACE(workers);
            KeyState banded{};
            ChromaDirection direction{};
            EXPECT_EQ(run(workers, mask, banded, direction), used);
            EXPECT_TRUE(sameRadii(banded, alone));
            EXPECT_EQ(direction.meanAlong, inOrder.meanAlong);
            EXPECT_EQ(direction.meanAcross, inOrder.meanAcross);
        }
    }
}

// A list of more than 10000 samples keeps every s-th sample (s = number / 10000) in its first
// 9999 entries and its own sample 9999 in the last.
TEST_F(AutoKey, SampledListsAreCutToTenThousandEntries) {
    const Photo photo = bluePhoto(240, 160, {0, 0, 220, 160}, 1.0f, 1.0f, 3000, 11);
    const Projection p = project(photo, kBlue);
    Histogram counts(256);
    counts.assign(p.counts);
    AutoKeyBands b{};
    ASSERT_TRUE(findAutoKeyBands(counts, p.greyBin, false, true, true, 0.0f, 0.0f, &b));
    ASSERT_TRUE(b.shrinkOuter);
    const std::int32_t outerHigh = std::min(b.valley, b.greyBin), boundaryHigh = (b.greyBin + b.innerStart) / 2;
    std::vector<std::uint16_t> list;
    for (std::size_t i = 0; i < p.bins.size(); ++i) {
        const std::uint16_t* pixel = photo.pixels.data() + 4 * i;
        if (p.bins[i] >= b.subjectLow && p.bins[i] <= outerHigh) list.insert(list.end(), pixel, pixel + 4);
        // The boundary step finds nothing here, so the outer shrink is all that runs.
        ASSERT_FALSE(p.bins[i] >= outerHigh && p.bins[i] <= boundaryHigh && isBackdropLike(pixel, kBlue, 1.0f));
    }
    const std::size_t number = list.size() / 4, s = number / 10000;
    ASSERT_GE(s, 2u) << number;
    std::vector<std::uint16_t> cut(4 * 10000), firstOnes(list.begin(), list.begin() + 4 * 10000);
    for (std::size_t k = 0; k < 9999; ++k) std::memcpy(&cut[4 * k], &list[4 * k * s], 8);
    std::memcpy(&cut[4 * 9999], &list[4 * 9999], 8);

    const KeyState start = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
    KeyState expected = start, uncut = start, actual = start;
    shrinkOuterFromSamples(cut.data(), 10000, 1, &expected);
    enforceNesting(2, &expected);
    shrinkOuterFromSamples(firstOnes.data(), 10000, 1, &uncut);
    enforceNesting(2, &uncut);
    ASSERT_FALSE(sameRadii(expected, uncut)) << "the fixture tells the two cuts apart";

    EXPECT_TRUE(autoKeyFromHistogramSampled(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 240, 160, &actual, false,
                                            true, 0.0f, 0.0f, false, false, 1, 1, 1.0f, 1.0f));
    EXPECT_TRUE(sameRadii(actual, expected));
}

// Every scratch block is had before the first tool runs: a refusal anywhere leaves the key as it
// was and is reported; every block goes back.
TEST_F(AutoKey, RefusedMemoryIsReportedWithTheKeyUnchanged) {
    const Photo photo = bluePhoto(64, 48, {20, 10, 44, 40});
    const KeyState before = keyAround(kBlue, 1.0f, 90000.0f, 90000.0f);
    KeyState reference = before;
    autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &reference, true, true, true, 0.0f,
                         0.0f, false, true, 1.0f, 1.0f);
    int failures = 0;
    for (int index = 0; index < 12; ++index) {
        KeyState state = before;
        bool failed = false;
        failAllocation(index);
        autoKeyFromHistogram(kBlue[0], kBlue[1], kBlue[2], photo.pixels.data(), 64, 48, &state, true, true, true, 0.0f,
                             0.0f, false, true, 1.0f, 1.0f, &failed);
        allowAllocations();
        if (failed) {
            ++failures;
            EXPECT_TRUE(autokey_test::sameBytes(state, before)) << index;
        } else {
            EXPECT_TRUE(sameRadii(state, reference)) << index;
        }
    }
    EXPECT_GE(failures, 3);  // bins, histogram, derivative, list
}

}  // namespace
}  // namespace vantrelo
