// The keying pass against the engine adapter run by hand on the rows the pass is meant to build:
// the subject (or transparent black where it has no pixels) before the backdrop image, the solid
// replacement colour or transparent black.  Spill from the background (spill mode 2) is on, so a
// wrong background shows in the colours and not only in the matte.  Also: the depths agree with
// each other, the band count and the engine's worker count change nothing, progress comes per 32
// rows, and the compiled key is released on every path.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/keying/key_state.h"
#include "host/system/exceptions.h"
#include "kernels/matrix3.h"
#include "kernels/warp.h"
#include "plugin/keying_pass.h"
#include "plugin/lighting.h"
#include "plugin/vantrelo_wrapper.h"
#include "tests/plugin/render_stage_support.h"

namespace vantrelo {
namespace {

using stage_test::at;
using stage_test::ImageBuffer;
using stage_test::makeImage;
using stage_test::makePacked;
using stage_test::Rect;
using stage_test::samePixels;
using stage_test::TestHost;

const Rect kInputBounds{-4, 2, 37, 41};
const Rect kArea{0, 5, 33, 39};
const Rect kBackdropBounds{5, 0, 40, 20};  // misses the area's first columns and last rows

template <class T>
void fillBackdrop(ImageBuffer& image) {
    const double top = sizeof(T) == 4 ? 1.0 : sizeof(T) == 2 ? 65535.0 : 255.0;
    for (std::int32_t y = image.bounds.y0; y < image.bounds.y1; ++y)
        for (std::int32_t x = image.bounds.x0; x < image.bounds.x1; ++x) {
            T* p = at<T>(image, x, y);
            p[0] = static_cast<T>(top * (0.2 + 0.02 * (x % 30)));
            p[1] = static_cast<T>(top * (0.9 - 0.015 * (y % 40)));
            p[2] = static_cast<T>(top * (0.35 + 0.01 * ((x + y) % 50)));
            if (image.channels > 3) p[3] = static_cast<T>(top * (0.6 + 0.01 * (x % 40)));
        }
}

struct PassFixture : ::testing::Test {
    TestHost host;
    CVantreloBridge bridge;

    void SetUp() override {
        stage_test::keyGreen(bridge);
        bridge.keyStates.setSpillMode(2);
        for (KeyState* state : {&bridge.keyStates.keyState, &bridge.keyStates.edgeState, &bridge.keyStates.bodyState}) {
            state->replacementColour[0] = 61000;
            state->replacementColour[1] = 23000;
            state->replacementColour[2] = 4000;
        }
    }

    KeyPassContext context(std::uint64_t bands = 0) {
        KeyPassContext c;
        c.host = &host;
        c.adapter = &bridge;
        c.bandCount = bands;
        return c;
    }

    // What the pass must produce: the subject and the background assembled row by row as the
    // rules say, keyed `rowsPerCall` rows at a time (all rows: one call over the area).
    std::unique_ptr<ImageBuffer> byHand16(const ImageBuffer& subject, const ImageBuffer* backdrop, bool plain,
                                          const Rect& area, std::ptrdiff_t rowsPerCall = 1) {
        const std::ptrdiff_t width = area.width();
        std::vector<std::uint16_t> work(static_cast<std::size_t>(width * area.height() * 4));
        std::vector<std::uint16_t> background(work.size());
        auto widen = [](const ImageBuffer& image, std::int32_t x, std::int32_t y, int c) -> std::uint16_t {
            if (c == 3 && image.channels < 4) return 65535;
            return image.bitsPerChannel == 8 ? at<std::uint8_t>(image, x, y)[c] * 257 : at<std::uint16_t>(image, x, y)[c];
        };
        auto inside = [](const ImageBuffer& image, std::int32_t x, std::int32_t y) {
            const Rect& b = image.bounds;
            return x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1;
        };
        const std::uint16_t* replacement = bridge.keyStates.keyState.replacementColour;
        for (std::int32_t y = area.y0; y < area.y1; ++y)
            for (std::int32_t x = area.x0; x < area.x1; ++x) {
                const std::size_t i = static_cast<std::size_t>(((y - area.y0) * width + (x - area.x0)) * 4);
                for (int c = 0; c < 4; ++c) {
                    work[i + c] = inside(subject, x, y) ? widen(subject, x, y, c) : 0;
                    if (backdrop)
                        background[i + c] = inside(*backdrop, x, y) ? widen(*backdrop, x, y, c) : 0;
                    else
                        background[i + c] = plain ? (c == 3 ? 65535 : replacement[c]) : 0;
                }
            }
        auto keyed = makePacked(&host, area, 16);
        CompiledKeyGuard compiled(&bridge.keyStates);
        for (std::ptrdiff_t row = 0; row < area.height(); row += rowsPerCall) {
            const std::ptrdiff_t rows = std::min(rowsPerCall, area.height() - row);
            const std::size_t offset = static_cast<std::size_t>(row * width * 4);
            bridge.keyPixels16(work.data() + offset, background.data() + offset,
                               reinterpret_cast<std::uint16_t*>(keyed->firstPixel) + offset, width, rows);
        }
        return keyed;
    }
};

TEST_F(PassFixture, SixteenBitPassKeysEachRowAgainstWhatStandsBehindIt) {
    auto input = makeImage(&host, kInputBounds, 16, 4, 6);
    stage_test::fillSubject(*input);
    auto backdrop = makeImage(&host, kBackdropBounds, 16, 3, 2);
    fillBackdrop<std::uint16_t>(*backdrop);
    ImageBuffer noWarp(&host);
    struct Case {
        const char* name;
        const ImageBuffer* backdrop;
        bool plain;
    };
    for (const Case& c : {Case{"backdrop image", backdrop.get(), false}, Case{"replacement colour", nullptr, true},
                          Case{"transparent black", nullptr, false}}) {
        SCOPED_TRACE(c.name);
        auto keyed = makePacked(&host, kArea, 16);
        keyPass16(context(), *input, noWarp, c.backdrop, *keyed, kArea, c.plain, false, false);
        EXPECT_TRUE(samePixels(*keyed, *byHand16(*input, c.backdrop, c.plain, kArea)));
    }
    // The three backgrounds really differ in what they give.
    auto againstImage = makePacked(&host, kArea, 16);
    auto againstBlack = makePacked(&host, kArea, 16);
    keyPass16(context(), *input, noWarp, backdrop.get(), *againstImage, kArea, false, false, false);
    keyPass16(context(), *input, noWarp, nullptr, *againstBlack, kArea, false, false, false);
    EXPECT_FALSE(samePixels(*againstImage, *againstBlack));
}

// The subject's edge inside the keying rectangle: what lies beyond it keys as transparent black.
TEST_F(PassFixture, PixelsBeyondTheSubjectKeyAsTransparentBlack) {
    auto input = makeImage(&host, {3, 8, 20, 30}, 16, 4);
    stage_test::fillSubject(*input);
    ImageBuffer noWarp(&host);
    auto keyed = makePacked(&host, kArea, 16);
    keyPass16(context(), *input, noWarp, nullptr, *keyed, kArea, true, false, false);
    EXPECT_TRUE(samePixels(*keyed, *byHand16(*input, nullptr, true, kArea)));
    EXPECT_EQ(at<std::uint16_t>(*keyed, 0, 5)[3], 0);
    EXPECT_EQ(at<std::uint16_t>(*keyed, 25, 35)[3], 0);
}

// 8-bit values enter as v x 257 (255 as 65535, 128 as 32896) and a three-channel subject as opaque:
// the 8-bit pass equals the 16-bit pass of the widened images.
TEST_F(PassFixture, EightBitPassEqualsTheSixteenBitPassOfTheWidenedImages) {
    for (int channels : {3, 4}) {
        SCOPED_TRACE(channels);
        auto input8 = makeImage(&host, kInputBounds, 8, channels, 5);
        stage_test::fillSubject(*input8);
        at<std::uint8_t>(*input8, 1, 6)[0] = 255;
        at<std::uint8_t>(*input8, 2, 6)[1] = 128;
        auto backdrop8 = makeImage(&host, kBackdropBounds, 8, 4);
        fillBackdrop<std::uint8_t>(*backdrop8);
        auto input16 = makeImage(&host, kInputBounds, 16, 4);
        auto backdrop16 = makeImage(&host, kBackdropBounds, 16, 4);
        for (auto [from, to] : {std::pair{input8.get(), input16.get()}, std::pair{backdrop8.get(), backdrop16.get()}})
            for (std::int32_t y = from->bounds.y0; y < from->bounds.y1; ++y)
                for (std::int32_t x = from->bounds.x0; x < from->bounds.x1; ++x)
                    for (int c = 0; c < 4; ++c)
                        at<std::uint16_t>(*to, x, y)[c] =
                            c < from->channels ? static_cast<std::uint16_t>(at<std::uint8_t>(*from, x, y)[c] * 257) : 65535;
        ImageBuffer noWarp(&host);
        auto keyed8 = makePacked(&host, kArea, 16);
        auto keyed16 = makePacked(&host, kArea, 16);
        keyPass8(context(), *input8, noWarp, backdrop8.get(), *keyed8, kArea, false, false, false);
        keyPass16(context(), *input16, noWarp, backdrop16.get(), *keyed16, kArea, false, false, false);
        EXPECT_TRUE(samePixels(*keyed8, *keyed16));
    }
}

TEST_F(PassFixture, FloatPassKeysEachRowAgainstTheColourAsFractions) {
    auto input = makeImage(&host, kInputBounds, 32, 3, 4);
    stage_test::fillSubject(*input);
    ImageBuffer noWarp(&host);
    auto keyed = makePacked(&host, kArea, 32);
    keyPassFloat(context(), *input, noWarp, nullptr, *keyed, kArea, true, false, false);

    const std::ptrdiff_t width = kArea.width();
    std::vector<float> work(static_cast<std::size_t>(width * 4));
    std::vector<float> background(work.size());
    std::vector<float> expected(work.size());
    const std::uint16_t* replacement = bridge.keyStates.keyState.replacementColour;
    CompiledKeyGuard compiled(&bridge.keyStates);
    for (std::int32_t y = kArea.y0; y < kArea.y1; ++y) {
        for (std::int32_t x = kArea.x0; x < kArea.x1; ++x) {
            const float* p = at<float>(*input, x, y);
            float* w = &work[static_cast<std::size_t>((x - kArea.x0) * 4)];
            float* b = &background[static_cast<std::size_t>((x - kArea.x0) * 4)];
            std::copy(p, p + 3, w);
            w[3] = 1.0f;
            for (int c = 0; c < 3; ++c) b[c] = static_cast<float>(replacement[c]) / 65535.0f;
            b[3] = 1.0f;
        }
        bridge.keyPixelsFloat(work.data(), background.data(), expected.data(), width, 1);
        EXPECT_EQ(std::memcmp(expected.data(), keyed->pixelAddress(kArea.x0, y), expected.size() * sizeof(float)), 0)
            << "row " << y;
    }
}

TEST_F(PassFixture, BandCountChangesNothingAndEachBandReportsEvery32Rows) {
    auto input = makeImage(&host, {0, 30, 25, 100}, 16, 4);
    stage_test::fillSubject(*input);
    auto backdrop = makeImage(&host, {0, 30, 25, 100}, 16, 4);
    fillBackdrop<std::uint16_t>(*backdrop);
    ImageBuffer noWarp(&host);
    const Rect area{0, 30, 25, 100};
    auto one = makePacked(&host, area, 16);
    keyPass16(context(1), *input, noWarp, backdrop.get(), *one, area, false, false, false);
    for (std::uint64_t bands : {3u, 7u, 90u}) {
        auto many = makePacked(&host, area, 16);
        keyPass16(context(bands), *input, noWarp, backdrop.get(), *many, area, false, false, false);
        EXPECT_TRUE(samePixels(*one, *many)) << bands << " bands";
    }
    // Two bands of 35 rows: rows 32 and 64 in band 0, row 96 in band 1.
    host.reports.clear();
    auto two = makePacked(&host, area, 16);
    keyPass16(context(2), *input, noWarp, backdrop.get(), *two, area, false, false, false);
    std::sort(host.reports.begin(), host.reports.end(),
              [](const auto& a, const auto& b) { return a.key != b.key ? a.key < b.key : a.done < b.done; });
    const std::vector<TestHost::Report> expected = {{0, 2, 35}, {0, 34, 35}, {1, 31, 35}};
    EXPECT_EQ(host.reports, expected);
}

TEST_F(PassFixture, KeyIsReleasedAfterThePassAndWhenProgressAbandonsIt) {
    auto input = makeImage(&host, kInputBounds, 16, 4);
    stage_test::fillSubject(*input);
    ImageBuffer noWarp(&host);
    auto keyed = makePacked(&host, kArea, 16);
    const KeyState& key = bridge.keyStates.keyState;
    keyPass16(context(), *input, noWarp, nullptr, *keyed, kArea, true, false, false);
    EXPECT_EQ(key.faceTable, nullptr);
    EXPECT_EQ(key.keySpan16Callback, nullptr);

    host.interruptAfter = 0;
    EXPECT_THROW(keyPass16(context(3), *input, noWarp, nullptr, *keyed, kArea, true, false, false),
                 Mav::Interrupted);
    EXPECT_EQ(key.faceTable, nullptr);
    EXPECT_EQ(key.keySpan16Callback, nullptr);
}

// The render's composite can take each keyed row from the band that keyed it: the step must get
// every row of the area once, with the pixels the keyed image would have held, whatever the band
// count; the keyed image is then left alone.  A pass that keys the area as one run refuses a step.
TEST_F(PassFixture, ARowStepGetsEveryKeyedRowOnceInPlaceOfTheKeyedImage) {
    auto input = makeImage(&host, kInputBounds, 16, 4, 6);
    stage_test::fillSubject(*input);
    auto backdrop = makeImage(&host, kBackdropBounds, 16, 3);
    fillBackdrop<std::uint16_t>(*backdrop);
    ImageBuffer noWarp(&host);
    auto expected = makePacked(&host, kArea, 16);
    keyPass16(context(), *input, noWarp, backdrop.get(), *expected, kArea, false, false, false);

    struct Rows {
        std::unique_ptr<ImageBuffer> keyed;
        std::vector<int> seen;
        std::mutex lock;
    };
    for (std::uint64_t bands : {1u, 3u, 90u}) {
        SCOPED_TRACE(testing::Message() << bands << " bands");
        Rows rows;
        rows.keyed = makePacked(&host, kArea, 16);
        rows.seen.assign(static_cast<std::size_t>(kArea.height()), 0);
        KeyedRowStep step;
        step.context = &rows;
        step.run = [](const void* context, std::int32_t y, const void* row) {
            auto& r = *static_cast<Rows*>(const_cast<void*>(context));
            std::memcpy(r.keyed->pixelAddress(kArea.x0, y), row,
                        static_cast<std::size_t>(kArea.width()) * 4 * sizeof(std::uint16_t));
            std::lock_guard<std::mutex> hold(r.lock);
            ++r.seen[static_cast<std::size_t>(y - kArea.y0)];
        };
        KeyPassContext c = context(bands);
        c.rowStep = &step;
        ImageBuffer untouched(&host);  // holds no pixels: the step takes the rows
        keyPass16(c, *input, noWarp, backdrop.get(), untouched, kArea, false, false, false);
        EXPECT_EQ(untouched.firstPixel, nullptr);
        EXPECT_EQ(rows.seen, std::vector<int>(rows.seen.size(), 1));
        EXPECT_TRUE(samePixels(*rows.keyed, *expected));
    }

    KeyedRowStep step;
    step.run = [](const void*, std::int32_t, const void*) {};
    KeyPassContext c = context();
    c.rowStep = &step;
    bridge.keyStates.hybrid = 1;
    auto keyed = makePacked(&host, kArea, 16);
    EXPECT_THROW(keyPass16(c, *input, noWarp, nullptr, *keyed, kArea, true, false, false), Mav::Exception);
    bridge.keyStates.hybrid = 0;
}

// Hybrid keying merges two keyings over a whole image: the pass hands the engine the whole area in
// one call, whatever the band count, and leaves the edge and body states as they were.
TEST_F(PassFixture, HybridKeyingKeysTheWholeAreaInOneRun) {
    bridge.keyStates.hybrid = 1;
    for (int v = 0; v < kVertexCount; v += 3) bridge.keyStates.bodyState.outerRadii[v] *= 1.3f;
    const KeyState edge = bridge.keyStates.edgeState;
    const KeyState body = bridge.keyStates.bodyState;
    auto input = makeImage(&host, kInputBounds, 16, 4);
    stage_test::fillSubject(*input);
    auto backdrop = makeImage(&host, kBackdropBounds, 16, 4);
    fillBackdrop<std::uint16_t>(*backdrop);
    ImageBuffer noWarp(&host);
    auto expected = byHand16(*input, backdrop.get(), false, kArea, kArea.height());
    for (std::uint64_t bands : {1u, 4u}) {
        auto keyed = makePacked(&host, kArea, 16);
        keyPass16(context(bands), *input, noWarp, backdrop.get(), *keyed, kArea, false, false, false);
        EXPECT_TRUE(samePixels(*keyed, *expected)) << bands << " bands";
    }
    EXPECT_EQ(std::memcmp(&edge, &bridge.keyStates.edgeState, sizeof edge), 0);
    EXPECT_EQ(std::memcmp(&body, &bridge.keyStates.bodyState, sizeof body), 0);
}

// With the foreground transformed and not drawn by the render, the pass draws the subject itself:
// the same as keying a foreground the render had drawn.
TEST_F(PassFixture, PassDrawsATransformedSubjectTheRenderDidNotDraw) {
    auto input = makeImage(&host, kInputBounds, 16, 4);
    stage_test::fillSubject(*input);
    KeyPassContext c = context();
    c.foreground.at(0, 2) = 3.5;
    c.foreground.at(1, 2) = -2.25;
    c.foreground.at(0, 1) = 0.1;
    ImageBuffer noWarp(&host);
    auto drawnByPass = makePacked(&host, kArea, 16);
    keyPass16(c, *input, noWarp, nullptr, *drawnByPass, kArea, true, true, false);

    auto warped = makePacked(&host, kArea, 16);
    warpForegroundRgba16(host, *warped, *input, c.foreground);
    auto drawnByRender = makePacked(&host, kArea, 16);
    keyPass16(c, *input, *warped, nullptr, *drawnByRender, kArea, true, true, false);
    EXPECT_TRUE(samePixels(*drawnByPass, *drawnByRender));
    EXPECT_TRUE(samePixels(*drawnByRender, *byHand16(*warped, nullptr, true, kArea)));
}

// With the lighting correction the corrected area goes to the engine as one run, so neither the
// band count nor the engine's own worker count can change the result.
TEST_F(PassFixture, LightingCorrectedAreaIsKeyedAsOneRunWhateverTheThreads) {
    auto input = makeImage(&host, {0, 0, 48, 40}, 16, 4);
    stage_test::fillSubject(*input);
    auto proxy = makePacked(&host, input->bounds, 16);
    proxy->copyOverlap(*input);
    ImageBuffer cache(&host);
    std::array<KeyState, 3> states{};
    LightingCacheContent content = LightingCacheContent::Empty;
    LightingContext lighting{&host, &bridge, &cache, &states, &content, proxy.get()};
    input->bounds = {0, 0, 48, 40};
    input->domain = {0, 0, 96, 80};  // a part of its image: the partial path
    const Rect area{2, 3, 45, 38};
    ImageBuffer noWarp(&host);
    KeyPassContext c = context(1);
    c.lighting = &lighting;

    const std::int32_t workers = workerThreadCount();
    setWorkerThreadCount(1);
    auto single = makePacked(&host, area, 16);
    keyPass16(c, *input, noWarp, nullptr, *single, area, true, false, true);
    setWorkerThreadCount(8);
    c.bandCount = 5;
    auto many = makePacked(&host, area, 16);
    keyPass16(c, *input, noWarp, nullptr, *many, area, true, false, true);
    setWorkerThreadCount(workers);
    EXPECT_TRUE(samePixels(*single, *many));

    // And it is the corrected subject that was keyed.
    auto corrected = makeImage(&host, area, 16, 4);
    applyLighting16(lighting, *input, area, reinterpret_cast<std::uint16_t*>(corrected->firstPixel));
    EXPECT_TRUE(samePixels(*single, *byHand16(*corrected, nullptr, true, area, area.height())));
}

TEST_F(PassFixture, ImagesThatDoNotFitAreRefusedBeforeAnythingIsTouched) {
    auto input = makeImage(&host, kInputBounds, 16, 4);
    ImageBuffer noWarp(&host);
    auto keyed = makePacked(&host, kArea, 16);
    at<std::uint16_t>(*keyed, 3, 7)[0] = 4321;
    auto wide = makePacked(&host, {0, 5, 40, 39}, 16);
    auto floatKeyed = makePacked(&host, kArea, 32);
    auto input8 = makeImage(&host, kInputBounds, 8, 4);
    EXPECT_THROW(keyPass16(context(), *input, noWarp, nullptr, *wide, kArea, true, false, false), Mav::Exception);
    EXPECT_THROW(keyPass16(context(), *input, noWarp, nullptr, *floatKeyed, kArea, true, false, false), Mav::Exception);
    EXPECT_THROW(keyPass16(context(), *input8, noWarp, nullptr, *keyed, kArea, true, false, false), Mav::Exception);
    EXPECT_THROW(keyPass16(context(), *input, noWarp, nullptr, *keyed, kArea, true, false, true), Mav::Exception);
    EXPECT_EQ(at<std::uint16_t>(*keyed, 3, 7)[0], 4321);
}

}  // namespace
}  // namespace vantrelo
