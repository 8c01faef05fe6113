// Light wrap: the six blends in each depth on pixels chosen to reach every branch (light with and
// without unpremultiplying, overlay's dark and light halves, saturating adds, no light at all), the
// source rows, and the whole step: only the rectangle it owns changes, a far interior is left as
// it is, the solid colour comes through as the light, and a tile with the light-wrap margin agrees
// with the whole image.  Expected values were worked out from the formulas in single precision.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "host/system/exceptions.h"
#include "plugin/light_wrap.h"
#include "tests/plugin/render_stage_support.h"

namespace vantrelo {
namespace {

using stage_test::at;
using stage_test::ImageBuffer;
using stage_test::Rect;
using stage_test::makeImage;
using stage_test::TestHost;

using Pixel16 = std::array<std::uint16_t, 4>;
using PixelF = std::array<float, 4>;

// Four pixels in a 2 x 2 block (rows padded differently in every image) through the 16-bit
// dispatch, F blended in place.
struct Block16 {
    TestHost host;
    std::unique_ptr<ImageBuffer> f = makeImage(&host, {3, 4, 5, 6}, 16, 4, 6);
    std::unique_ptr<ImageBuffer> w = makeImage(&host, {3, 4, 5, 6}, 16, 4, 10);
    std::unique_ptr<ImageBuffer> s = makeImage(&host, {3, 4, 5, 6}, 16, 4, 2);

    void set(int i, Pixel16 fPixel, Pixel16 wPixel, std::uint16_t sAlpha) {
        const int x = 3 + i % 2;
        const int y = 4 + i / 2;
        for (int c = 0; c < 4; ++c) {
            at<std::uint16_t>(*f, x, y)[c] = fPixel[c];
            at<std::uint16_t>(*w, x, y)[c] = wPixel[c];
            // S's colour is never read by the blend: a value that would show if it were.
            at<std::uint16_t>(*s, x, y)[c] = c == 3 ? sAlpha : 65535;
        }
    }
    Pixel16 get(int i) const {
        const auto* p = at<std::uint16_t>(*f, 3 + i % 2, 4 + i / 2);
        return {p[0], p[1], p[2], p[3]};
    }
    void blend(float brightness, int mode) {
        auto* fp = reinterpret_cast<std::uint16_t*>(f->firstPixel);
        lightWrapBlend16(fp, reinterpret_cast<const std::uint16_t*>(w->firstPixel),
                         reinterpret_cast<const std::uint16_t*>(s->firstPixel), fp, f->rowBytes, w->rowBytes,
                         s->rowBytes, f->rowBytes, 2, 2, brightness, mode);
    }
};

void fillBlock16(Block16& b) {
    // W.A above its colours: L = W x 65535 / W.A.  Below its red: L = W.  W.A = 0: no light.
    b.set(0, {20000, 40000, 50000, 50000}, {30000, 12000, 6000, 45000}, 10000);
    b.set(1, {60000, 1000, 32767, 65535}, {50000, 20000, 3000, 40000}, 0);
    b.set(2, {12345, 54321, 777, 30000}, {0, 0, 0, 0}, 20000);
    b.set(3, {32768, 32767, 65535, 20000}, {9000, 41000, 12000, 65535}, 0);
}

TEST(LightWrapBlend, SixteenBitModesFollowTheirFormulas) {
    const std::array<std::array<Pixel16, 4>, 6> expected = {{
        {{{22513, 36614, 45953, 50000}, {60694, 812, 25499, 65535}, {12345, 54321, 777, 30000}, {23260, 35494, 65535, 20000}}},
        {{{23102, 34453, 44697, 50000}, {61421, 809, 18231, 65535}, {12345, 54321, 777, 30000}, {13754, 39352, 65535, 20000}}},
        {{{40337, 48134, 54067, 65535}, {65535, 10765, 34231, 65535}, {12345, 54321, 777, 30000}, {39968, 65535, 65535, 65535}}},
        {{{16896, 26345, 29828, 50000}, {53055, 660, 17499, 65535}, {12345, 54321, 777, 30000}, {10153, 22952, 22707, 20000}}},
        {{{34131, 43170, 50965, 57232}, {62062, 10616, 33500, 65535}, {12345, 54321, 777, 30000}, {36368, 49168, 65535, 56428}}},
        {{{36457, 32934, 33541, 50000}, {58802, 11751, 18452, 65535}, {12345, 54321, 777, 30000}, {37485, 54262, 45611, 20000}}},
    }};
    for (int mode = 0; mode < 6; ++mode) {
        SCOPED_TRACE(mode);
        Block16 b;
        fillBlock16(b);
        b.blend(0.8f, mode);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(b.get(i), expected[mode][i]) << "pixel " << i;
    }
}

TEST(LightWrapBlend, EightBitLightImagesGiveSixteenBitLight) {
    TestHost host;
    // 1 x 3 strip; F and the output are 16-bit, W and S 8-bit.
    const std::array<Pixel16, 3> f = {{{20000, 40000, 50000, 50000}, {60000, 1000, 32767, 65535}, {32768, 32767, 65535, 20000}}};
    const std::array<std::array<std::uint8_t, 4>, 3> w = {{{120, 50, 20, 170}, {200, 80, 10, 150}, {35, 160, 47, 255}}};
    const std::array<std::uint8_t, 3> sAlpha = {40, 0, 0};
    const std::array<std::array<Pixel16, 3>, 6> expected = {{
        {{{22999, 37114, 45924, 50000}, {60723, 827, 25661, 65535}, {23258, 35534, 65535, 20000}}},
        {{{23703, 35272, 44658, 50000}, {61481, 824, 18556, 65535}, {13751, 39448, 65535, 20000}}},
        {{{40801, 48667, 53466, 65535}, {65535, 10675, 33976, 65535}, {39964, 65535, 65535, 65535}}},
        {{{17354, 27303, 30161, 50000}, {53909, 676, 17951, 65535}, {10151, 23000, 22770, 20000}}},
        {{{34453, 43378, 50822, 56986}, {62043, 10528, 33372, 65535}, {36366, 49216, 65535, 56428}}},
        {{{36552, 33828, 33447, 50000}, {59103, 11464, 18713, 65535}, {37472, 54275, 45638, 20000}}},
    }};
    for (int mode = 0; mode < 6; ++mode) {
        SCOPED_TRACE(mode);
        std::array<std::uint16_t, 12> fs{};
        std::array<std::uint8_t, 12> ws{}, ss{};
        for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 4; ++c) {
                fs[4 * i + c] = f[i][c];
                ws[4 * i + c] = w[i][c];
                ss[4 * i + c] = c == 3 ? sAlpha[i] : 255;
            }
        // A separate output: F itself stays as it was.
        std::array<std::uint16_t, 12> out{};
        lightWrapBlend8(fs.data(), ws.data(), ss.data(), out.data(), 24, 12, 12, 24, 3, 1, 0.8f, mode);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ((Pixel16{out[4 * i], out[4 * i + 1], out[4 * i + 2], out[4 * i + 3]}), expected[mode][i])
                << "pixel " << i;
            EXPECT_EQ(fs[4 * i], f[i][0]);
        }
    }
}

TEST(LightWrapBlend, FloatModesFollowTheirFormulasAndAddIsNotClamped) {
    const std::array<PixelF, 3> f = {{{0.3f, 0.6f, 0.75f, 0.8f}, {0.9f, 0.05f, 0.5f, 1.0f}, {0.2f, 0.7f, 0.4f, 0.5f}}};
    const std::array<PixelF, 3> w = {{{0.4f, 0.2f, 0.1f, 0.7f}, {0.8f, 0.3f, 0.05f, 0.6f}, {0.14f, 0.63f, 0.18f, 1.0f}}};
    const std::array<float, 3> sAlpha = {0.15f, 0.0f, 0.25f};
    const std::array<std::array<PixelF, 3>, 6> expected = {{
        {{{0.316845119f, 0.551039994f, 0.686249971f, 0.8f}, {0.914020777f, 0.0408800021f, 0.39200002f, 1.0f},
          {0.130879998f, 0.72131896f, 0.30783999f, 0.5f}}},
        {{{0.3204f, 0.518400013f, 0.664999962f, 0.8f}, {0.928800046f, 0.0403999984f, 0.283999979f, 1.0f},
          {0.113600001f, 0.746799946f, 0.246399999f, 0.5f}}},
        {{{0.572000027f, 0.736000061f, 0.818000019f, 1.27600002f}, {1.28400004f, 0.194000006f, 0.523999989f, 1.48000002f},
          {0.284000009f, 1.07800007f, 0.508000016f, 1.10000002f}}},
        {{{0.238799989f, 0.395999968f, 0.443999946f, 0.8f}, {0.813599944f, 0.0331999995f, 0.271999985f, 1.0f},
          {0.0967999995f, 0.54460001f, 0.203199998f, 0.5f}}},
        {{{0.490400016f, 0.654400051f, 0.76700002f, 0.895200014f}, {0.93840003f, 0.186800003f, 0.511999965f, 1.0f},
          {0.267199993f, 0.81340003f, 0.4648f, 0.800000012f}}},
        {{{0.542760015f, 0.519079924f, 0.507239938f, 0.8f}, {0.897176385f, 0.186941251f, 0.286823541f, 1.0f},
          {0.178181797f, 0.721818209f, 0.286233753f, 0.5f}}},
    }};
    for (int mode = 0; mode < 6; ++mode) {
        SCOPED_TRACE(mode);
        std::array<float, 12> fs{}, ws{}, ss{};
        for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 4; ++c) {
                fs[4 * i + c] = f[i][c];
                ws[4 * i + c] = w[i][c];
                ss[4 * i + c] = c == 3 ? sAlpha[i] : 1.0f;
            }
        lightWrapBlendFloat(fs.data(), ws.data(), ss.data(), fs.data(), 48, 48, 48, 48, 3, 1, 0.8f, mode);
        for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(fs[4 * i + c], expected[mode][i][c]) << i << "/" << c;
    }
}

TEST(LightWrapBlend, NoBrightnessOrAnUnknownModeChangesNothing) {
    for (const auto& [brightness, mode] : std::vector<std::pair<float, int>>{
             {0.0f, 0}, {0.0f, 1}, {0.0f, 2}, {0.0f, 3}, {0.0f, 4}, {0.0f, 5}, {1.0f, 6}, {1.0f, -1}}) {
        SCOPED_TRACE(mode);
        Block16 b;
        fillBlock16(b);
        b.blend(brightness, mode);
        EXPECT_EQ(b.get(0), (Pixel16{20000, 40000, 50000, 50000}));
        EXPECT_EQ(b.get(1), (Pixel16{60000, 1000, 32767, 65535}));
        EXPECT_EQ(b.get(3), (Pixel16{32768, 32767, 65535, 20000}));
    }
}

// Add on a black, transparent F writes k into alpha: the weight at its ends.
TEST(LightWrapBlend, WeightReachesItsFullRangeInBothIntegerForms) {
    std::array<std::uint16_t, 4> f{};
    const std::array<std::uint16_t, 4> w16 = {0, 0, 0, 65535};
    const std::array<std::uint16_t, 4> s16 = {0, 0, 0, 0};
    lightWrapBlend16(f.data(), w16.data(), s16.data(), f.data(), 8, 8, 8, 8, 1, 1, 0.5f, 2);
    EXPECT_EQ(f[3], 32767);
    f = {};
    lightWrapBlend16(f.data(), w16.data(), s16.data(), f.data(), 8, 8, 8, 8, 1, 1, 1.0f, 2);
    EXPECT_EQ(f[3], 65535);
    f = {};
    const std::array<std::uint8_t, 4> w8 = {0, 0, 0, 255};
    const std::array<std::uint8_t, 4> s8 = {0, 0, 0, 0};
    lightWrapBlend8(f.data(), w8.data(), s8.data(), f.data(), 8, 4, 4, 8, 1, 1, 1.0f, 2);
    EXPECT_EQ(f[3], 65535);
}

TEST(LightWrapBlend, ColorWithAGreyLightTakesTheSubjectsOwnLightness) {
    std::array<float, 4> f = {0.2f, 0.7f, 0.4f, 0.5f};
    const std::array<float, 4> w = {0.5f, 0.5f, 0.5f, 1.0f};
    const std::array<float, 4> s = {0.0f, 0.0f, 0.0f, 0.0f};
    lightWrapBlendFloat(f.data(), w.data(), s.data(), f.data(), 16, 16, 16, 16, 1, 1, 1.0f, 5);
    for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(f[c], 0.45f);
    EXPECT_FLOAT_EQ(f[3], 0.5f);
}

// S = backdrop x (1 - F.A), alpha 1 - F.A: from an image (stepping by its own channel count) or
// from one colour (steps 0).
TEST(LightWrapSource, RowsPremultiplyTheBackdropByWhatTheSubjectLeavesOpen) {
    const std::array<std::uint16_t, 4> alphas16 = {0, 65535, 16384, 40000};
    std::array<std::uint16_t, 16> f16{};
    for (int i = 0; i < 4; ++i) f16[4 * i + 3] = alphas16[i];
    {
        const std::array<std::uint16_t, 3> colour = {50000, 12345, 65535};
        std::array<std::uint16_t, 16> s{};
        lightWrapSourceRows16(f16.data(), colour.data(), s.data(), 16, 0, 0, 16, 2, 2);
        const std::array<Pixel16, 4> expected = {
            {{50000, 12345, 65535, 65535}, {0, 0, 0, 0}, {37499, 9258, 49151, 49151}, {19481, 4810, 25535, 25535}}};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ((Pixel16{s[4 * i], s[4 * i + 1], s[4 * i + 2], s[4 * i + 3]}), expected[i]) << i;
    }
    {
        // A three-channel 8-bit backdrop image, two pixels a row with a padded row.
        const std::array<std::uint8_t, 14> image = {200, 48, 255, 200, 48, 255, 9, 200, 48, 255, 200, 48, 255, 9};
        std::array<std::uint8_t, 16> s{};
        lightWrapSourceRows8(f16.data(), image.data(), s.data(), 16, 3, 7, 8, 2, 2);
        const std::array<std::array<std::uint8_t, 4>, 4> expected = {
            {{200, 48, 255, 255}, {0, 0, 0, 0}, {149, 35, 191, 191}, {77, 18, 99, 99}}};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ((std::array<std::uint8_t, 4>{s[4 * i], s[4 * i + 1], s[4 * i + 2], s[4 * i + 3]}), expected[i]);
    }
    {
        std::array<float, 16> f{};
        const std::array<float, 4> alphas = {0.0f, 1.0f, 0.25f, 0.6f};
        for (int i = 0; i < 4; ++i) f[4 * i + 3] = alphas[i];
        const std::array<float, 3> colour = {0.76f, 0.19f, 1.0f};
        std::array<float, 16> s{};
        lightWrapSourceRowsFloat(f.data(), colour.data(), s.data(), 32, 0, 0, 32, 2, 2);
        const std::array<PixelF, 4> expected = {{{0.75999999f, 0.189999998f, 1.0f, 1.0f},
                                                 {0.0f, 0.0f, 0.0f, 0.0f},
                                                 {0.569999993f, 0.142499998f, 0.75f, 0.75f},
                                                 {0.30399999f, 0.0759999976f, 0.399999976f, 0.399999976f}}};
        for (int i = 0; i < 4; ++i)
            for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(s[4 * i + c], expected[i][c]) << i << "/" << c;
    }
}

// ---- The whole step ----

// A keyed image over `bounds`: an opaque disc of the given radius about `centre`, colour different
// per channel, transparent black around it, with a soft rim.
template <class T>
void drawDisc(ImageBuffer& keyed, double cx, double cy, double radius) {
    const double top = sizeof(T) == 4 ? 1.0 : 65535.0;
    for (std::int32_t y = keyed.bounds.y0; y < keyed.bounds.y1; ++y)
        for (std::int32_t x = keyed.bounds.x0; x < keyed.bounds.x1; ++x) {
            const double d = std::hypot(x - cx, y - cy);
            const double a = std::clamp(radius - d, 0.0, 1.0);
            T* p = at<T>(keyed, x, y);
            const double colour[3] = {0.62, 0.31, 0.17};
            for (int c = 0; c < 3; ++c) p[c] = static_cast<T>(colour[c] * top * (a > 0 ? 1 : 0));
            p[3] = static_cast<T>(a * top);
        }
}

template <class T>
void drawBackdrop(ImageBuffer& image) {
    const double top = sizeof(T) == 4 ? 1.0 : sizeof(T) == 2 ? 65535.0 : 255.0;
    for (std::int32_t y = image.bounds.y0; y < image.bounds.y1; ++y)
        for (std::int32_t x = image.bounds.x0; x < image.bounds.x1; ++x) {
            T* p = at<T>(image, x, y);
            p[0] = static_cast<T>(top * (0.5 + 0.45 * std::sin(x * 0.05)));
            p[1] = static_cast<T>(top * (0.5 + 0.45 * std::cos(y * 0.07)));
            p[2] = static_cast<T>(top * 0.8);
            if (image.channels > 3) p[3] = static_cast<T>(top);
        }
}

TEST(LightWrapStep, ChangesOnlyTheOverlapWithTheBackdropAndNotAFarInterior) {
    TestHost host;
    auto keyed = stage_test::makePacked(&host, {0, 0, 120, 80}, 16);
    drawDisc<std::uint16_t>(*keyed, 60, 40, 35);
    auto before = stage_test::makePacked(&host, keyed->bounds, 16);
    before->copyOverlap(*keyed);
    auto backdrop = makeImage(&host, {20, -10, 140, 70}, 16, 3, 4);
    drawBackdrop<std::uint16_t>(*backdrop);
    const std::uint16_t colour[4] = {1, 2, 3, 65535};
    lightWrapStep16(host, *keyed, backdrop.get(), colour, 3.0f, 1.0f, 4);

    int changedAtRim = 0;
    for (std::int32_t y = 0; y < 80; ++y)
        for (std::int32_t x = 0; x < 120; ++x) {
            const bool inR = x >= 20 && y < 70;
            const auto* now = at<std::uint16_t>(*keyed, x, y);
            const auto* was = at<std::uint16_t>(*before, x, y);
            const bool same = std::equal(now, now + 4, was);
            if (!inR) {
                EXPECT_TRUE(same) << "outside the overlap " << x << "," << y;
            }
            // 20 pixels inside the rim the blurred light is gone.
            if (std::hypot(x - 60, y - 40) < 15) {
                EXPECT_TRUE(same) << "interior " << x << "," << y;
            }
            if (inR && !same) ++changedAtRim;
        }
    EXPECT_GT(changedAtRim, 50);
}

// Without a backdrop image the light is the solid colour: Add on a black subject of alpha a0
// writes out.c = L.c k and out.A = a0 + k, so out.c / (out.A - a0) is the light.
TEST(LightWrapStep, SolidColourIsTheLightWithoutABackdropImage) {
    TestHost host;
    auto keyed = stage_test::makePacked(&host, {-5, 3, 45, 33}, 32);
    const float a0 = 0.25f;
    for (std::int32_t y = 3; y < 33; ++y)
        for (std::int32_t x = -5; x < 45; ++x) {
            float* p = at<float>(*keyed, x, y);
            p[0] = p[1] = p[2] = 0.0f;
            p[3] = x < 20 ? 0.0f : a0;
        }
    const std::uint16_t colour[4] = {52000, 13000, 30000, 65535};
    lightWrapStepFloat(host, *keyed, nullptr, colour, 2.5f, 1.0f, 2);
    int checked = 0;
    for (std::int32_t y = 3; y < 33; ++y)
        for (std::int32_t x = 20; x < 45; ++x) {
            const float* p = at<float>(*keyed, x, y);
            const float k = p[3] - a0;
            if (k < 1e-3f) continue;
            ++checked;
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c] / k, colour[c] / 65535.0f, 2e-3f) << x << "," << y;
        }
    EXPECT_GT(checked, 30);
}

// A tile of a larger render holds the keyed image over the output grown by the light-wrap margin
// (5 sigma and more); its result inside the output agrees with the step run on the whole image.
TEST(LightWrapStep, TileWithItsMarginAgreesWithTheWholeImage) {
    TestHost host;
    const Rect domain{0, 0, 300, 200};
    const float sigma = 4.0f;
    const Rect tile{120, 80, 170, 120};
    const int margin = 2 * static_cast<int>((5 + sigma) * 2.5 + 0.5);
    const Rect tileKeyed{tile.x0 - margin, tile.y0 - margin, tile.x1 + margin, tile.y1 + margin};
    const Rect tileBackdrop{tileKeyed.x0 - 30, tileKeyed.y0 - 30, tileKeyed.x1 + 30, tileKeyed.y1 + 30};
    for (int mode = 0; mode < 6; ++mode) {
        SCOPED_TRACE(mode);
        auto whole = stage_test::makePacked(&host, domain, 16);
        drawDisc<std::uint16_t>(*whole, 140, 95, 30);
        auto part = stage_test::makePacked(&host, tileKeyed, 16);
        part->copyOverlap(*whole);
        auto backdrop = makeImage(&host, domain, 16, 4);
        drawBackdrop<std::uint16_t>(*backdrop);
        auto partBackdrop = makeImage(&host, tileBackdrop, 16, 4);
        partBackdrop->copyOverlap(*backdrop);
        const std::uint16_t colour[4] = {0, 0, 0, 65535};
        lightWrapStep16(host, *whole, backdrop.get(), colour, sigma, 0.9f, mode);
        lightWrapStep16(host, *part, partBackdrop.get(), colour, sigma, 0.9f, mode);
        int largest = 0;
        for (std::int32_t y = tile.y0; y < tile.y1; ++y)
            for (std::int32_t x = tile.x0; x < tile.x1; ++x)
                for (int c = 0; c < 4; ++c)
                    largest = std::max(largest, std::abs(at<std::uint16_t>(*whole, x, y)[c] -
                                                         at<std::uint16_t>(*part, x, y)[c]));
        EXPECT_LE(largest, 1);
    }
}

TEST(LightWrapStep, EightBitRenderLightsTheRimFromItsBackdropImage) {
    TestHost host;
    auto keyed = stage_test::makePacked(&host, {0, 0, 90, 70}, 16);
    drawDisc<std::uint16_t>(*keyed, 45, 35, 25);
    auto before = stage_test::makePacked(&host, keyed->bounds, 16);
    before->copyOverlap(*keyed);
    auto backdrop = makeImage(&host, {0, 0, 90, 70}, 8, 4);
    drawBackdrop<std::uint8_t>(*backdrop);
    const std::uint16_t colour[4] = {0, 0, 0, 65535};
    lightWrapStep8(host, *keyed, backdrop.get(), colour, 3.0f, 1.0f, 4);
    // Screen only brightens; the rim is lit, the centre and the transparent surround are not.
    const auto* rim = at<std::uint16_t>(*keyed, 45 + 24, 35);
    const auto* rimBefore = at<std::uint16_t>(*before, 45 + 24, 35);
    for (int c = 0; c < 3; ++c) EXPECT_GT(rim[c], rimBefore[c]) << c;
    EXPECT_TRUE(std::equal(at<std::uint16_t>(*keyed, 45, 35), at<std::uint16_t>(*keyed, 45, 35) + 4,
                           at<std::uint16_t>(*before, 45, 35)));
}

TEST(LightWrapStep, NeutralSettingsLeaveTheImageAndBadFormatsAreRefused) {
    TestHost host;
    auto keyed = stage_test::makePacked(&host, {0, 0, 30, 20}, 16);
    drawDisc<std::uint16_t>(*keyed, 15, 10, 6);
    auto before = stage_test::makePacked(&host, keyed->bounds, 16);
    before->copyOverlap(*keyed);
    const std::uint16_t colour[4] = {60000, 60000, 60000, 65535};
    lightWrapStep16(host, *keyed, nullptr, colour, 0.0f, 1.0f, 2);
    lightWrapStep16(host, *keyed, nullptr, colour, std::nanf(""), 1.0f, 2);
    lightWrapStep16(host, *keyed, nullptr, colour, 3.0f, 0.0f, 2);
    lightWrapStep16(host, *keyed, nullptr, colour, 3.0f, 1.0f, 6);
    EXPECT_TRUE(stage_test::samePixels(*keyed, *before));

    auto floatKeyed = stage_test::makePacked(&host, {0, 0, 30, 20}, 32);
    EXPECT_THROW(lightWrapStep16(host, *floatKeyed, nullptr, colour, 3.0f, 1.0f, 2), Mav::Exception);
    auto backdrop8 = makeImage(&host, {0, 0, 30, 20}, 8, 4);
    EXPECT_THROW(lightWrapStep16(host, *keyed, backdrop8.get(), colour, 3.0f, 1.0f, 2), Mav::Exception);
    EXPECT_TRUE(stage_test::samePixels(*keyed, *before));
}

}  // namespace
}  // namespace vantrelo
