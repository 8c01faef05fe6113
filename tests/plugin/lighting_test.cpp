// The lighting correction against the engine's own estimate run by hand, and the cache's life:
// reused while the key and the image stay, recomputed once when either changes (the compiled
// fields that every keying rewrites do not count), and never mistaken for the other kind of
// content.  The partial path reads the estimate at the input's own scale, so a region cut in two
// gives what the whole region gives, and the float path corrects the input's own values.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/effects/simulated_foreground.h"
#include "engine/keying/key_state.h"
#include "host/system/exceptions.h"
#include "kernels/pixel_maths.h"
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
using stage_test::TestHost;

// A green backdrop lit from the left (darker) to the right (brighter), a red disc on it, and a
// few pixels whose alpha is not opaque.  16-bit units, scaled to the image's depth.
void fillScene(ImageBuffer& image, double scale = 1.0) {
    const Rect& b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x) {
            const double fx = x / scale;
            const double fy = y / scale;
            double v[4];
            const double light = 0.75 + 0.4 * fx / 64.0;
            for (int c = 0; c < 3; ++c) v[c] = std::min(65535.0, stage_test::kGreen[c] * light + 37 * c);
            if (std::hypot(fx - 40, fy - 20) < 10) {
                v[0] = 52000;
                v[1] = 7000 + 20 * fy;
                v[2] = 3000;
            }
            v[3] = (static_cast<int>(fx) % 13 == 5) ? 40000 : 65535;
            for (int c = 0; c < image.channels && c < 4; ++c) {
                if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v[c] / 257);
                else if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(v[c]);
                else
                    at<float>(image, x, y)[c] = static_cast<float>(v[c] / 65535.0);
            }
        }
}

struct LightingFixture : ::testing::Test {
    TestHost host;
    CVantreloBridge bridge;
    ImageBuffer cache{&host};
    std::array<KeyState, 3> states{};
    LightingCacheContent content = LightingCacheContent::Empty;
    std::unique_ptr<ImageBuffer> proxy;
    LightingContext context{&host, &bridge, &cache, &states, &content, nullptr};

    void SetUp() override { stage_test::keyGreen(bridge); }

    void setProxy(std::unique_ptr<ImageBuffer> image) {
        proxy = std::move(image);
        context.sourceProxy = proxy.get();
    }

    std::vector<std::uint16_t> correct16(const ImageBuffer& input, const Rect& region) {
        std::vector<std::uint16_t> out(static_cast<std::size_t>(region.width() * region.height() * 4));
        applyLighting16(context, input, region, out.data());
        return out;
    }
    std::vector<float> correctFloat(const ImageBuffer& input, const Rect& region) {
        std::vector<float> out(static_cast<std::size_t>(region.width() * region.height() * 4));
        applyLightingFloat(context, input, region, out.data());
        return out;
    }
    // Marks the cache: a reused cache keeps the mark, a recomputed one has lost it.
    void markCache() { at<std::uint16_t>(cache, cache.bounds.x0 + 1, cache.bounds.y0 + 2)[0] = 12345; }
    bool cacheMarked() const {
        return cache.firstPixel && at<std::uint16_t>(cache, cache.bounds.x0 + 1, cache.bounds.y0 + 2)[0] == 12345;
    }
};

// A whole input takes the engine's corrected image, alpha 65535 included, from the cache.
TEST_F(LightingFixture, WholeInputReadsTheCorrectedInputFromTheCache) {
    auto input = makeImage(&host, {0, 0, 64, 48}, 8, 3, 5);
    fillScene(*input);
    const Rect region{10, 7, 50, 31};
    const std::vector<std::uint16_t> out = correct16(*input, region);

    std::vector<std::uint16_t> scene(64 * 48 * 4), expected(scene.size());
    for (std::int32_t y = 0; y < 48; ++y)
        for (std::int32_t x = 0; x < 64; ++x)
            for (int c = 0; c < 4; ++c)
                scene[static_cast<std::size_t>((y * 64 + x) * 4 + c)] =
                    c < 3 ? static_cast<std::uint16_t>(at<std::uint8_t>(*input, x, y)[c] * 257) : 65535;
    ASSERT_TRUE(simulateForegroundMode0(scene.data(), expected.data(), 64, 48, &bridge.keyStates.keyState, nullptr));
    bool corrected = false;
    for (std::int32_t y = region.y0; y < region.y1; ++y)
        for (std::int32_t x = region.x0; x < region.x1; ++x)
            for (int c = 0; c < 4; ++c) {
                const std::uint16_t got = out[static_cast<std::size_t>(((y - region.y0) * region.width() + x - region.x0) * 4 + c)];
                const std::size_t i = static_cast<std::size_t>((y * 64 + x) * 4 + c);
                ASSERT_EQ(got, expected[i]) << x << "," << y << "/" << c;
                corrected |= got != scene[i];
            }
    EXPECT_TRUE(corrected) << "the fixture's lighting should need correcting";
    EXPECT_EQ(content, LightingCacheContent::CorrectedInput);
}

TEST_F(LightingFixture, CacheIsReusedUntilTheKeyChangesAndRecomputedOnce) {
    auto input = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    fillScene(*input);
    const Rect region{0, 0, 64, 48};
    correct16(*input, region);
    markCache();
    correct16(*input, region);
    EXPECT_TRUE(cacheMarked()) << "same key, same image: reused";

    bridge.keyStates.keyState.innerRadii[7] *= 1.01f;
    correct16(*input, region);
    EXPECT_FALSE(cacheMarked()) << "a changed key state recomputes";

    // Edge and body count only with hybrid keying: switching it on recomputes, a change of the
    // edge state then recomputes, and switching it off recomputes once more.
    markCache();
    bridge.keyStates.edgeState.middleRadii[3] *= 1.02f;
    correct16(*input, region);
    EXPECT_TRUE(cacheMarked()) << "without hybrid keying the edge state is not compared";
    bridge.keyStates.hybrid = 1;
    correct16(*input, region);
    EXPECT_FALSE(cacheMarked());
    markCache();
    bridge.keyStates.bodyState.outerRadii[9] *= 1.02f;
    correct16(*input, region);
    EXPECT_FALSE(cacheMarked()) << "with hybrid keying the body state counts";
    markCache();
    bridge.keyStates.hybrid = 0;
    correct16(*input, region);
    EXPECT_FALSE(cacheMarked()) << "zero records now stand for edge and body";
    markCache();
    correct16(*input, region);
    EXPECT_TRUE(cacheMarked());

    // Another image size recomputes.
    auto smaller = makeImage(&host, {0, 0, 60, 48}, 16, 4);
    fillScene(*smaller);
    correct16(*smaller, {0, 0, 60, 48});
    EXPECT_FALSE(cacheMarked());
}

// Every keying compiles the key, which rewrites its compiled fields; that is no change of key.
TEST_F(LightingFixture, CompilingTheKeyDoesNotCountAsAChange) {
    setProxy(makePacked(&host, {0, 0, 32, 24}, 16));
    fillScene(*proxy, 2.0);
    auto input = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    fillScene(*input);
    input->domain = {0, 0, 64, 96};  // the upper half of a taller image: the partial path
    correct16(*input, {4, 4, 40, 30});
    markCache();
    {
        CompiledKeyGuard compiled(&bridge.keyStates);
    }
    KeyPassContext pass{&host, &bridge, {}, &context};
    ImageBuffer none(&host);
    auto keyed = makePacked(&host, {0, 0, 64, 48}, 16);
    keyPass16(pass, *input, none, nullptr, *keyed, {0, 0, 64, 48}, true, false, true);
    correct16(*input, {4, 4, 40, 30});
    EXPECT_TRUE(cacheMarked());
}

// The whole-input path leaves the corrected input in the cache, the partial path the backdrop
// estimate: of the same size, the one is not taken for the other.
TEST_F(LightingFixture, CacheOfTheOtherKindIsNotReused) {
    auto whole = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    fillScene(*whole);
    setProxy(makePacked(&host, {0, 0, 64, 48}, 16));
    fillScene(*proxy);
    correct16(*whole, {0, 0, 64, 48});
    EXPECT_EQ(content, LightingCacheContent::CorrectedInput);
    markCache();
    auto part = makeImage(&host, {8, 8, 40, 40}, 16, 4);
    fillScene(*part);
    part->domain = {0, 0, 64, 48};
    correct16(*part, {8, 8, 40, 40});
    EXPECT_EQ(content, LightingCacheContent::SimulatedBackdrop);
    EXPECT_FALSE(cacheMarked());
}

// At the proxy's own scale the partial path is the engine's backdrop estimate A, the key's matte
// m of the region and the pixel rule: opaque pixels stay, backdrop pixels move by (key colour - A)
// x (1 - m), and every pixel keeps its alpha.
TEST_F(LightingFixture, PartialInputMovesPixelsByTheEstimateInProportionToTheirTransparency) {
    setProxy(makePacked(&host, {0, 0, 64, 48}, 16));
    fillScene(*proxy);
    auto input = makeImage(&host, {6, 5, 58, 44}, 16, 4, 8);
    fillScene(*input);
    input->domain = {0, 0, 64, 48};
    const Rect region{6, 5, 58, 44};
    const std::vector<std::uint16_t> out = correct16(*input, region);

    std::vector<std::uint16_t> estimate(64 * 48 * 4);
    ASSERT_TRUE(simulateForegroundMode1(reinterpret_cast<const std::uint16_t*>(proxy->firstPixel), estimate.data(), 64,
                                        48, &bridge.keyStates.keyState, nullptr));
    const std::ptrdiff_t width = region.width();
    std::vector<std::uint16_t> subject(static_cast<std::size_t>(width * region.height() * 4)), matte(subject.size());
    for (std::int32_t y = region.y0; y < region.y1; ++y)
        std::memcpy(&subject[static_cast<std::size_t>((y - region.y0) * width * 4)], input->pixelAddress(region.x0, y),
                    static_cast<std::size_t>(width * 8));
    {
        CompiledKeyGuard compiled(&bridge.keyStates);
        bridge.keyPixels16(subject.data(), nullptr, matte.data(), width, region.height());
    }
    int opaque = 0, backdrop = 0;
    for (std::int32_t y = region.y0; y < region.y1; ++y)
        for (std::int32_t x = region.x0; x < region.x1; ++x) {
            const std::size_t i = static_cast<std::size_t>(((y - region.y0) * width + x - region.x0) * 4);
            std::uint16_t want[4];
            applyLightingPixel16(want, &estimate[static_cast<std::size_t>((y * 64 + x) * 4)], &subject[i], &matte[i],
                                 bridge.keyStates.keyState.backdrop);
            for (int c = 0; c < 4; ++c) ASSERT_EQ(out[i + c], want[c]) << x << "," << y << "/" << c;
            EXPECT_EQ(out[i + 3], subject[i + 3]);
            if (matte[i + 3] == subject[i + 3] && subject[i + 3] == 65535) {
                ++opaque;
                for (int c = 0; c < 3; ++c) EXPECT_EQ(out[i + c], subject[i + c]);
            }
            if (matte[i + 3] < 32768 && !std::equal(&out[i], &out[i] + 3, &subject[i])) ++backdrop;
        }
    EXPECT_GT(opaque, 20);
    EXPECT_GT(backdrop, 200) << "backdrop pixels should move";
}

// The estimate is read at the input's scale pixel by pixel, so strips and tiles of a region agree
// with the region itself, in 16 bits and in float; a whole float input larger than the proxy reads
// the proxy's estimate at its own scale (and nothing past its end).
TEST_F(LightingFixture, RegionsCutAnywhereAgreeWithTheWholeRegion) {
    setProxy(makePacked(&host, {0, 0, 25, 19}, 16));
    fillScene(*proxy, 2.56);
    auto input = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    fillScene(*input);
    input->domain = {0, 0, 64, 49};
    const Rect region{3, 2, 61, 45};
    const std::vector<std::uint16_t> whole = correct16(*input, region);
    for (const Rect& part : {Rect{3, 2, 61, 20}, Rect{3, 20, 61, 45}, Rect{3, 2, 30, 45}, Rect{30, 2, 61, 45}}) {
        const std::vector<std::uint16_t> piece = correct16(*input, part);
        for (std::int32_t y = part.y0; y < part.y1; ++y)
            ASSERT_EQ(std::memcmp(&piece[static_cast<std::size_t>((y - part.y0) * part.width() * 4)],
                                  &whole[static_cast<std::size_t>(((y - region.y0) * region.width() + part.x0 - region.x0) * 4)],
                                  static_cast<std::size_t>(part.width() * 8)),
                      0)
                << "row " << y;
    }

    auto floatInput = makeImage(&host, {0, 0, 64, 48}, 32, 4);
    fillScene(*floatInput);
    const std::vector<float> floatWhole = correctFloat(*floatInput, floatInput->bounds);
    const std::vector<float> floatPart = correctFloat(*floatInput, {10, 30, 64, 48});
    for (std::int32_t y = 30; y < 48; ++y)
        EXPECT_EQ(std::memcmp(&floatPart[static_cast<std::size_t>((y - 30) * 54 * 4)],
                              &floatWhole[static_cast<std::size_t>((y * 64 + 10) * 4)], 54 * 16),
                  0)
            << "row " << y;
    for (float v : floatWhole) ASSERT_TRUE(std::isfinite(v));
}

// The engine scales what it keys to 16-bit units in place; the float path keys a copy, so a pixel
// the key leaves alone comes out as the input's own float value.
TEST_F(LightingFixture, FloatPathCorrectsTheInputsOwnValues) {
    setProxy(makePacked(&host, {0, 0, 64, 48}, 16));
    fillScene(*proxy);
    auto input = makeImage(&host, {0, 0, 64, 48}, 32, 4);
    fillScene(*input);
    const std::vector<float> out = correctFloat(*input, input->bounds);
    const float* red = at<float>(*input, 40, 20);
    const float* got = &out[static_cast<std::size_t>((20 * 64 + 40) * 4)];
    for (int c = 0; c < 4; ++c) EXPECT_EQ(got[c], red[c]) << c;
    const float* green = at<float>(*input, 3, 40);
    const float* moved = &out[static_cast<std::size_t>((40 * 64 + 3) * 4)];
    EXPECT_LT(moved[1], 1.5f);
    EXPECT_NE(moved[1], green[1]);
}

// Grid 0 makes the engine write nothing: the cache then means "no correction" instead of
// whatever the memory held.  Without a proxy there is no estimate either.
TEST_F(LightingFixture, NoEstimateLeavesTheInputUncorrected) {
    for (KeyState* state : {&bridge.keyStates.keyState, &bridge.keyStates.edgeState, &bridge.keyStates.bodyState}) {
        state->simGridSize = 0;
        for (float& c : state->backdrop) c = std::floor(c);
    }
    auto input = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    fillScene(*input);
    const auto wholeOut = correct16(*input, input->bounds);
    EXPECT_EQ(std::memcmp(wholeOut.data(), input->firstPixel, wholeOut.size() * 2), 0);

    input->domain = {0, 0, 64, 96};
    for (bool withProxy : {true, false}) {
        SCOPED_TRACE(withProxy);
        if (withProxy) {
            setProxy(makePacked(&host, {0, 0, 32, 48}, 16));
            fillScene(*proxy, 2.0);
        } else {
            setProxy(nullptr);
        }
        const auto partOut = correct16(*input, input->bounds);
        EXPECT_EQ(std::memcmp(partOut.data(), input->firstPixel, partOut.size() * 2), 0);
    }
}

TEST_F(LightingFixture, InputThatDoesNotHoldTheRegionIsRefused) {
    auto input = makeImage(&host, {0, 0, 64, 48}, 16, 4);
    std::vector<std::uint16_t> out(70 * 50 * 4, 7);
    EXPECT_THROW(applyLighting16(context, *input, {0, 0, 70, 48}, out.data()), Mav::Exception);
    std::vector<float> outFloat(64 * 48 * 4);
    EXPECT_THROW(applyLightingFloat(context, *input, {0, 0, 64, 48}, outFloat.data()), Mav::Exception);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(cache.firstPixel, nullptr);
}

}  // namespace
}  // namespace vantrelo
