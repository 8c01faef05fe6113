// The final composite rows and the colour fills: every member on a small fixture in every depth
// and channel count, values worked out by hand from the formulas; the area is a part of both
// images so that a worker writing outside it, or a 3-channel worker writing a fourth channel, shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/band_job.h"
#include "plugin/blend16_rows.h"
#include "plugin/composite_rows.h"
#include "plugin/keying_pass.h"
#include "tests/plugin/render_stage_support.h"

namespace vantrelo {
namespace {

using stage_test::at;
using stage_test::makeImage;
using stage_test::TestHost;

struct RowsCase {
    const char* name;
    BandWorker worker;
    int outputBits;
    int outputChannels;
    std::array<double, 4> keyed;     // the keyed pixel (float, or 16-bit values); fills: the colour
    std::array<double, 4> before;    // every output pixel before the run
    std::array<double, 4> expected;  // output pixels inside the area after it (first outputChannels)
    bool fill = false;
};

double read(const ImageBuffer& image, std::int32_t x, std::int32_t y, int c) {
    if (image.bitsPerChannel == 8) return at<std::uint8_t>(image, x, y)[c];
    if (image.bitsPerChannel == 16) return at<std::uint16_t>(image, x, y)[c];
    return at<float>(image, x, y)[c];
}

void write(ImageBuffer& image, std::int32_t x, std::int32_t y, int c, double v) {
    if (image.bitsPerChannel == 8)
        at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v);
    else if (image.bitsPerChannel == 16)
        at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(v);
    else
        at<float>(image, x, y)[c] = static_cast<float>(v);
}

constexpr std::array<double, 4> kKeyed16{40000, 1000, 32896, 30000};
constexpr std::array<double, 4> kBefore16{5000, 60000, 257, 12000};
constexpr std::array<double, 4> kBefore8{20, 240, 1, 47};
constexpr std::array<double, 4> kKeyedFloat{0.8, 0.1, 0.55, 0.3};
constexpr std::array<double, 4> kBeforeFloat{0.2, 0.9, 0.05, 0.6};
constexpr std::array<double, 4> kFillColour{65535, 32768, 255, 65535};

const std::vector<RowsCase>& rowsCases() {
    static const std::vector<RowsCase> cases = {
        // Float output, float keyed image.
        {"copyKeyedRowsFloat4", copyKeyedRowsFloat4, 32, 4, kKeyedFloat, kBeforeFloat, {0.8, 0.1, 0.55, 0.3}},
        {"copyKeyedRowsFloat3", copyKeyedRowsFloat3, 32, 3, kKeyedFloat, kBeforeFloat, {0.8, 0.1, 0.55}},
        {"matteGreyRowsFloat4", matteGreyRowsFloat4, 32, 4, kKeyedFloat, kBeforeFloat, {0.3, 0.3, 0.3, 1.0}},
        {"matteGreyRowsFloat3", matteGreyRowsFloat3, 32, 3, kKeyedFloat, kBeforeFloat, {0.3, 0.3, 0.3}},
        {"compositeOverRowsFloat4", compositeOverRowsFloat4, 32, 4, kKeyedFloat, kBeforeFloat,
         {0.38, 0.66, 0.2, 0.72}},
        {"compositeOverRowsFloat3", compositeOverRowsFloat3, 32, 3, kKeyedFloat, kBeforeFloat, {0.38, 0.66, 0.2}},
        {"compositeOverRowsFloat4, alpha 0", compositeOverRowsFloat4, 32, 4, {0.8, 0.1, 0.55, 0.0}, kBeforeFloat,
         kBeforeFloat},
        {"fillColorRows4", fillColorRows4, 32, 4, kFillColour, kBeforeFloat, {1.0, 0.50000763, 0.0038910506, 1.0},
         true},
        {"fillColorRows3", fillColorRows3, 32, 3, kFillColour, kBeforeFloat, {1.0, 0.50000763, 0.0038910506}, true},
        // 16-bit output.
        {"copyKeyedRows16x4", copyKeyedRows16x4, 16, 4, kKeyed16, kBefore16, kKeyed16},
        {"copyKeyedRows16x3", copyKeyedRows16x3, 16, 3, kKeyed16, kBefore16, {40000, 1000, 32896}},
        {"copyKeyedRows16x3, matte 0", copyKeyedRows16x3, 16, 3, {40000, 1000, 32896, 0}, kBefore16,
         {40000, 1000, 32896}},
        {"matteGreyRows16x4", matteGreyRows16x4, 16, 4, kKeyed16, kBefore16, {30000, 30000, 30000, 65535}},
        {"matteGreyRows16x3", matteGreyRows16x3, 16, 3, kKeyed16, kBefore16, {30000, 30000, 30000}},
        {"compositeOverRows16x4", compositeOverRows16x4, 16, 4, kKeyed16, kBefore16, {21021, 32990, 15197, 36506}},
        {"compositeOverRows16x3", compositeOverRows16x3, 16, 3, kKeyed16, kBefore16, {21021, 32990, 15197}},
        {"compositeOverRows16x4, alpha 0", compositeOverRows16x4, 16, 4, {40000, 1000, 32896, 0}, kBefore16,
         kBefore16},
        {"compositeOverRows16x4, opaque", compositeOverRows16x4, 16, 4, {40000, 1000, 32896, 65535}, kBefore16,
         {40000, 1000, 32896, 65535}},
        {"compositeOverRows16x3, alpha 0", compositeOverRows16x3, 16, 3, {40000, 1000, 32896, 0}, kBefore16,
         kBefore16},
        {"fillColorRows16x4", fillColorRows16x4, 16, 4, kFillColour, kBefore16, kFillColour, true},
        {"fillColorRows16x3", fillColorRows16x3, 16, 3, kFillColour, kBefore16, {65535, 32768, 255}, true},
        // 8-bit output, 16-bit keyed image.
        {"copyKeyedRows8x4", copyKeyedRows8x4, 8, 4, kKeyed16, kBefore8, {156, 3, 128, 117}},
        {"copyKeyedRows8x3", copyKeyedRows8x3, 8, 3, kKeyed16, kBefore8, {156, 3, 128}},
        {"copyKeyedRows8x4, 257 and 255", copyKeyedRows8x4, 8, 4, {257, 255, 65535, 256}, kBefore8, {1, 0, 255, 1}},
        {"matteGreyRows8x4", matteGreyRows8x4, 8, 4, kKeyed16, kBefore8, {117, 117, 117, 255}},
        {"matteGreyRows8x3", matteGreyRows8x3, 8, 3, kKeyed16, kBefore8, {117, 117, 117}},
        {"compositeOverRows8x4", compositeOverRows8x4, 8, 4, kKeyed16, kBefore8, {82, 131, 59, 142}},
        {"compositeOverRows8x3", compositeOverRows8x3, 8, 3, kKeyed16, kBefore8, {82, 131, 59}},
        {"compositeOverRows8x4, alpha 0", compositeOverRows8x4, 8, 4, {40000, 1000, 32896, 0}, kBefore8, kBefore8},
        // An opaque keyed pixel lands on its high byte: 65535 on 255, 32896 on 128, not one below.
        {"compositeOverRows8x4, opaque", compositeOverRows8x4, 8, 4, {65535, 32896, 257, 65535}, kBefore8,
         {255, 128, 1, 255}},
        {"compositeOverRows8x3, opaque", compositeOverRows8x3, 8, 3, {65535, 32896, 255, 65535}, kBefore8,
         {255, 128, 0}},
        {"fillColorRows8x4", fillColorRows8x4, 8, 4, kFillColour, kBefore8, {255, 128, 0, 255}, true},
        {"fillColorRows8x3", fillColorRows8x3, 8, 3, kFillColour, kBefore8, {255, 128, 0}, true},
    };
    return cases;
}

TEST(CompositeRows, EveryWorkerWritesItsFormulaInsideTheAreaAndNothingElse) {
    TestHost host;
    const Rect outputBounds{10, 20, 16, 25};
    const Rect keyedBounds{9, 19, 17, 26};
    const Rect area{11, 21, 14, 24};
    for (const RowsCase& c : rowsCases()) {
        SCOPED_TRACE(c.name);
        // A fourth channel beyond a 3-channel output's would be the next pixel's red: checked by
        // every pixel outside the area keeping its value.
        auto output = makeImage(&host, outputBounds, c.outputBits, c.outputChannels, 8);
        for (std::int32_t y = outputBounds.y0; y < outputBounds.y1; ++y)
            for (std::int32_t x = outputBounds.x0; x < outputBounds.x1; ++x)
                for (int ch = 0; ch < c.outputChannels; ++ch) write(*output, x, y, ch, c.before[ch]);
        auto keyed = makeImage(&host, keyedBounds, c.outputBits == 32 ? 32 : 16, 4, 4);
        for (std::int32_t y = keyedBounds.y0; y < keyedBounds.y1; ++y)
            for (std::int32_t x = keyedBounds.x0; x < keyedBounds.x1; ++x)
                for (int ch = 0; ch < 4; ++ch) write(*keyed, x, y, ch, c.keyed[ch]);
        const std::uint16_t colour[4] = {static_cast<std::uint16_t>(c.keyed[0]), static_cast<std::uint16_t>(c.keyed[1]),
                                         static_cast<std::uint16_t>(c.keyed[2]), static_cast<std::uint16_t>(c.keyed[3])};
        BandJob job{&host, output.get(), c.fill ? static_cast<const void*>(colour) : keyed.get(), &area};
        runBands(host, c.worker, &job, 2);

        for (std::int32_t y = outputBounds.y0; y < outputBounds.y1; ++y)
            for (std::int32_t x = outputBounds.x0; x < outputBounds.x1; ++x) {
                const bool inside = x >= area.x0 && x < area.x1 && y >= area.y0 && y < area.y1;
                for (int ch = 0; ch < c.outputChannels; ++ch) {
                    const double want = inside ? c.expected[ch] : c.before[ch];
                    if (c.outputBits == 32)
                        EXPECT_FLOAT_EQ(static_cast<float>(read(*output, x, y, ch)), static_cast<float>(want))
                            << x << "," << y << " channel " << ch;
                    else
                        EXPECT_EQ(read(*output, x, y, ch), want) << x << "," << y << " channel " << ch;
                }
            }
    }
}

// Bands of one run write disjoint rows: any band count, more bands than rows included, gives the
// same output as one band.
TEST(CompositeRows, ResultDoesNotDependOnTheBandCount) {
    TestHost host;
    const Rect bounds{-3, 5, 14, 12};
    auto keyed = makeImage(&host, bounds, 16, 4);
    for (std::int32_t y = bounds.y0; y < bounds.y1; ++y)
        for (std::int32_t x = bounds.x0; x < bounds.x1; ++x)
            for (int c = 0; c < 4; ++c)
                at<std::uint16_t>(*keyed, x, y)[c] = static_cast<std::uint16_t>((x * 7919 + y * 104729 + c * 3571) & 0xffff);
    for (BandWorker worker : {compositeOverRows16x4, compositeOverRows8x3}) {
        const int bits = worker == compositeOverRows16x4 ? 16 : 8;
        const int channels = worker == compositeOverRows16x4 ? 4 : 3;
        auto one = makeImage(&host, bounds, bits, channels);
        auto many = makeImage(&host, bounds, bits, channels);
        for (std::uint64_t bands : {1u, 3u, 11u}) {
            auto& target = bands == 1 ? one : many;
            for (std::int32_t y = bounds.y0; y < bounds.y1; ++y)
                for (std::int32_t x = bounds.x0; x < bounds.x1; ++x)
                    for (int c = 0; c < channels; ++c) write(*target, x, y, c, (x * 13 + y * 29 + c * 5) % 200);
            BandJob job{&host, target.get(), keyed.get(), &bounds};
            runBands(host, worker, &job, bands);
            if (bands != 1) {
                EXPECT_TRUE(stage_test::samePixels(*one, *many)) << bands << " bands";
            }
        }
    }
}

// A render over a plain colour lays the colour and blends the keyed image over it in one pass,
// and one over a backdrop image blends over the backdrop's pixels without copying them into the
// output first: each fused member must leave exactly what its two steps leave, in every depth and
// channel count.  The area is odd-sized inside all images, so the vector rows' ends and any write
// outside the area show; keyed alphas include 0, the maximum and values between.
TEST(CompositeRows, OverColourAndOverImageAreTheirTwoStepsInOne) {
    struct Members {
        const char* name;
        BandWorker fill, over, overColour, overImage;
        int bits, channels;
    };
    const Members members[] = {
        {"float x4", fillColorRows4, compositeOverRowsFloat4, compositeOverColourRowsFloat4,
         compositeOverImageRowsFloat4, 32, 4},
        {"float x3", fillColorRows3, compositeOverRowsFloat3, compositeOverColourRowsFloat3,
         compositeOverImageRowsFloat3, 32, 3},
        {"16 x4", fillColorRows16x4, compositeOverRows16x4, compositeOverColourRows16x4, compositeOverImageRows16x4,
         16, 4},
        {"16 x3", fillColorRows16x3, compositeOverRows16x3, compositeOverColourRows16x3, compositeOverImageRows16x3,
         16, 3},
        {"8 x4", fillColorRows8x4, compositeOverRows8x4, compositeOverColourRows8x4, compositeOverImageRows8x4, 8, 4},
        {"8 x3", fillColorRows8x3, compositeOverRows8x3, compositeOverColourRows8x3, compositeOverImageRows8x3, 8, 3},
    };
    TestHost host;
    const Rect bounds{-4, 3, 19, 14};
    const Rect area{-3, 4, 12, 13};  // 15 x 9
    const std::uint16_t colours[][4] = {{52000, 30000, 12000, 65535}, {0, 0, 0, 0}, {65535, 1, 257, 65535}};
    for (const Members& m : members) {
        SCOPED_TRACE(m.name);
        // Paddings of an odd number of samples: 16-bit rows then start 2 bytes off the pixel grid.
        const std::ptrdiff_t sample = m.bits / 8;
        auto keyed = makeImage(&host, bounds, m.bits == 32 ? 32 : 16, 4, 4);
        for (std::int32_t y = bounds.y0; y < bounds.y1; ++y)
            for (std::int32_t x = bounds.x0; x < bounds.x1; ++x)
                for (int c = 0; c < 4; ++c) {
                    const std::uint32_t v = (x * 7919u + y * 104729u + c * 3571u) & 0xffff;
                    const std::uint32_t a = (x + y) % 4 == 0 ? 0 : (x + y) % 4 == 1 ? 65535 : v;
                    const double value = c == 3 ? a : v;
                    write(*keyed, x, y, c, m.bits == 32 ? value / 65535.0 : value);
                }
        auto lay = [&](ImageBuffer& image, int seed) {
            for (std::int32_t y = image.bounds.y0; y < image.bounds.y1; ++y)
                for (std::int32_t x = image.bounds.x0; x < image.bounds.x1; ++x)
                    for (int c = 0; c < m.channels; ++c) {
                        const int v = (x * 13 + y * 29 + c * 5 + seed) % 200;
                        write(image, x, y, c, m.bits == 32 ? v / 199.0 : m.bits == 16 ? v * 300 : v);
                    }
        };
        for (const auto& colour : colours) {
            auto fused = makeImage(&host, bounds, m.bits, m.channels, 5 * sample);
            auto separate = makeImage(&host, bounds, m.bits, m.channels, 5 * sample);
            lay(*fused, 0);
            lay(*separate, 0);
            BandJob fill{&host, separate.get(), colour, &area};
            runBands(host, m.fill, &fill, 2);
            BandJob over{&host, separate.get(), keyed.get(), &area};
            runBands(host, m.over, &over, 3);
            const KeyedOverColour parts{keyed.get(), colour};
            BandJob both{&host, fused.get(), &parts, &area};
            runBands(host, m.overColour, &both, 4);
            EXPECT_TRUE(stage_test::samePixels(*fused, *separate)) << "colour " << colour[0];
        }
        // The backdrop image covers more than the area, with rows of its own length.
        auto backdrop = makeImage(&host, Rect{-5, 2, 16, 15}, m.bits, m.channels, 7 * sample);
        lay(*backdrop, 77);
        auto fused = makeImage(&host, bounds, m.bits, m.channels, 5 * sample);
        auto separate = makeImage(&host, bounds, m.bits, m.channels, 5 * sample);
        lay(*fused, 0);
        lay(*separate, 0);
        ImageBuffer region(&host);
        region.makeView(*separate, area);
        region.copyOverlap(*backdrop);
        BandJob over{&host, separate.get(), keyed.get(), &area};
        runBands(host, m.over, &over, 3);
        const KeyedOverImage parts{keyed.get(), backdrop.get()};
        BandJob both{&host, fused.get(), &parts, &area};
        runBands(host, m.overImage, &both, 4);
        EXPECT_TRUE(stage_test::samePixels(*fused, *separate)) << "over image";
    }
}

// The 8-bit blend over a colour runs two pixels a vector: against the fill and the over it fuses,
// on long rows of every kind of keyed value (alpha 0, 1, 255, 256, 32768, 65534, 65535 and random
// ones), for colours whose bytes all differ, and an odd width so the last pixel goes alone.
TEST(CompositeRows, EightBitOverAColourOnVectorsIsItsTwoSteps) {
    TestHost host;
    const Rect bounds{-2, 1, 4097, 4};  // 4099 x 3
    auto keyed = makeImage(&host, bounds, 16, 4);
    std::uint32_t seed = 2024;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 16;
    };
    const std::uint32_t special[] = {0, 1, 255, 256, 32768, 65534, 65535};
    int k = 0;
    for (std::int32_t y = bounds.y0; y < bounds.y1; ++y)
        for (std::int32_t x = bounds.x0; x < bounds.x1; ++x, ++k)
            for (int c = 0; c < 4; ++c)
                write(*keyed, x, y, c, k % 3 == 0 ? special[(k / 3 + c) % 7] : next());
    const std::uint16_t colours[][4] = {
        {52000, 30000, 12000, 65535}, {65535, 1, 257, 40000}, {0, 0, 0, 0}};
    for (const auto& colour : colours) {
        SCOPED_TRACE(colour[0]);
        auto fused = makeImage(&host, bounds, 8, 4);
        auto separate = makeImage(&host, bounds, 8, 4);
        BandJob fill{&host, separate.get(), colour, &bounds};
        runBands(host, fillColorRows8x4, &fill, 3);
        BandJob over{&host, separate.get(), keyed.get(), &bounds};
        runBands(host, compositeOverRows8x4, &over, 3);
        const KeyedOverColour parts{keyed.get(), colour};
        BandJob both{&host, fused.get(), &parts, &bounds};
        runBands(host, compositeOverColourRows8x4, &both, 2);
        EXPECT_TRUE(stage_test::samePixels(*fused, *separate));
    }
}

// The vector rows of the 16-bit blends against the scalar formulas, pixel for pixel, on every
// kind of value (alpha 0, 65535, 1, 32768, random) and an odd length so the scalar end runs too.
TEST(OverBlends, VectorRowsAreTheScalarFormulasBitForBit) {
    constexpr std::ptrdiff_t n = 4099;
    std::vector<std::uint16_t> s(4 * n), d(4 * n), source(4 * n);
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::uint16_t>(seed >> 16);
    };
    const std::uint16_t special[] = {0, 1, 32768, 65534, 65535};
    for (std::ptrdiff_t i = 0; i < 4 * n; ++i) {
        s[i] = i % 9 == 0 ? special[(i / 9) % 5] : next();
        d[i] = i % 7 == 0 ? special[(i / 7) % 5] : next();
        source[i] = i % 5 == 0 ? special[(i / 5) % 5] : next();
    }
    std::vector<std::uint16_t> vector = d, scalar = d;
    blend16::overRow(vector.data(), s.data(), n);
    for (std::ptrdiff_t i = 0; i < n; ++i) blendRgba16Over16(scalar.data() + 4 * i, s.data() + 4 * i);
    EXPECT_EQ(vector, scalar);

    const std::uint16_t colour[4] = {52000, 7, 65535, 40000};
    std::vector<std::uint16_t> laid(4 * n), expected(4 * n);
    blend16::overColourRow(laid.data(), s.data(), colour, n);
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        std::memcpy(expected.data() + 4 * i, colour, sizeof colour);
        blendRgba16Over16(expected.data() + 4 * i, s.data() + 4 * i);
    }
    EXPECT_EQ(laid, expected);

    std::vector<std::uint16_t> overImage(4 * n), overCopied = source;
    blend16::overImageRow(overImage.data(), s.data(), source.data(), n);
    for (std::ptrdiff_t i = 0; i < n; ++i) blendRgba16Over16(overCopied.data() + 4 * i, s.data() + 4 * i);
    EXPECT_EQ(overImage, overCopied);
    // An output row that does not start on a 16-byte boundary (the vectors' storage does) takes
    // its first pixel on its own before the streamed stores.
    std::vector<std::uint16_t> shifted(4 * n + 4), shiftedLaid(4 * n + 4);
    blend16::overImageRow(shifted.data() + 4, s.data(), source.data(), n - 1);
    blend16::overColourRow(shiftedLaid.data() + 4, s.data(), colour, n - 1);
    EXPECT_TRUE(std::equal(shifted.begin() + 4, shifted.begin() + 4 * n, overCopied.begin()));
    EXPECT_TRUE(std::equal(shiftedLaid.begin() + 4, shiftedLaid.begin() + 4 * n, expected.begin()));

    std::vector<std::uint16_t> multiplied = d, product = d;
    blend16::multiplyAlphaRow(multiplied.data(), source.data(), n);
    for (std::ptrdiff_t i = 0; i < n; ++i)
        product[4 * i + 3] = static_cast<std::uint16_t>(std::uint32_t{d[4 * i + 3]} * source[4 * i + 3] / 65535u);
    EXPECT_EQ(multiplied, product);
}

TEST(OverBlends, EightBitLayerOverSixteenBits) {
    struct Case {
        std::array<std::uint16_t, 4> d;
        std::array<std::uint8_t, 4> s;
        std::array<std::uint16_t, 4> expected;
    };
    const Case cases[] = {
        {{1000, 2000, 3000, 4000}, {200, 10, 99, 0}, {1000, 2000, 3000, 4000}},  // a = 0 keeps d
        {{1000, 2000, 3000, 4000}, {200, 10, 99, 255}, {51400, 2570, 25443, 65535}},  // a = 255: s x 257
        // (200 x 128 x 257 + 1000 x 127) / 255 = 26298, (30 x 127) / 255 = 14, ...
        {{1000, 30, 65535, 20000}, {200, 0, 255, 128}, {26298, 14, 65535, 42856}},
    };
    for (const Case& c : cases) {
        std::array<std::uint16_t, 4> d = c.d;
        blendRgba8Over16(d.data(), c.s.data());
        EXPECT_EQ(d, c.expected);
    }
}

TEST(OverBlends, SixteenBitOverSixteenBitsTruncatesEachTerm) {
    struct Case {
        std::array<std::uint16_t, 4> d;
        std::array<std::uint16_t, 4> s;
        std::array<std::uint16_t, 4> expected;
    };
    const Case cases[] = {
        {{1000, 2000, 3000, 4000}, {50000, 10, 99, 0}, {1000, 2000, 3000, 4000}},
        {{1000, 2000, 3000, 4000}, {50000, 10, 99, 65535}, {50000, 10, 99, 65535}},
        // 1 x 65534 / 65535 truncates to 0 and 0 x 1 / 65535 adds nothing.
        {{1, 2, 3, 0}, {0, 0, 0, 1}, {0, 1, 2, 1}},
        {{1, 2, 3, 0}, {0, 0, 0, 32768}, {0, 0, 1, 32768}},
    };
    for (const Case& c : cases) {
        std::array<std::uint16_t, 4> d = c.d;
        blendRgba16Over16(d.data(), c.s.data());
        EXPECT_EQ(d, c.expected);
    }
}

}  // namespace
}  // namespace vantrelo
