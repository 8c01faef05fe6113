// The render pipeline with the keying: the matte view, the transparent and the opaque composite,
// the split, the overlays, the foreground warp, the light wrap's place in the order, and the final
// render's choice of view by "Render against BD", "mask mode" and the image's alpha.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "tests/plugin/render_test_support.h"

namespace vantrelo::plugin_test {
namespace {

using Pixel16 = std::array<std::uint16_t, 4>;

Pixel16 pixel16(const ImageBuffer& image, int x, int y) {
    return {static_cast<std::uint16_t>(channel(image, x, y, 0)),
            static_cast<std::uint16_t>(channel(image, x, y, 1)),
            static_cast<std::uint16_t>(channel(image, x, y, 2)),
            static_cast<std::uint16_t>(channel(image, x, y, 3))};
}

Pixel16 over(Pixel16 base, const std::uint16_t* keyed) {
    blendRgba16Over16(base.data(), keyed);
    return base;
}

Pixel16 asPixel(const std::uint16_t* p) { return {p[0], p[1], p[2], p[3]}; }

class RenderPipeline : public testing::Test {
protected:
    KeyedScene scene{90, 70};
    void set(std::size_t index, std::int32_t value) { scene.harness.setInt(index, value); }
};

TEST_F(RenderPipeline, MatteViewShowsTheKeyedAlphaAsGrey) {
    set(kParamMaskMode, kMaskMask);
    for (int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        const auto in = scene.input(bits);
        const auto keyed = scene.keyed16(*in);
        const auto out = scene.render(*in);
        int partial = 0;
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 90; ++x) {
                const std::uint16_t a = scene.at(keyed, x, y)[3];
                const double grey = bits == 8 ? a >> 8 : a;
                for (int c = 0; c < 3; ++c) ASSERT_EQ(channel(*out, x, y, c), grey) << x << "," << y;
                ASSERT_EQ(channel(*out, x, y, 3), bits == 8 ? 255 : 65535);
                partial += a > 0 && a < 65535;
            }
        EXPECT_GT(partial, 20);  // the scene has a soft edge, so the matte has grey in it
    }
    // The key separates: backdrop nearly clear, subject nearly solid.
    const auto in = scene.input(16);
    const auto out = scene.render(*in);
    EXPECT_LT(channel(*out, 3, 3, 0), 2000);
    EXPECT_GT(channel(*out, 40, 38, 0), 50000);
}

TEST_F(RenderPipeline, TransparentCompositeIsTheKeyedSubjectAndOpaqueOneIsItOverTheFill) {
    const auto in = scene.input(16);
    const auto keyed = scene.keyed16(*in);
    set(kParamTransparencyMode, kTransparencyTransparent);
    const auto copied = scene.render(*in);
    set(kParamTransparencyMode, kTransparencyOpaque);
    const auto composited = scene.render(*in);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) {
            ASSERT_EQ(pixel16(*copied, x, y), asPixel(scene.at(keyed, x, y))) << x << "," << y;
            ASSERT_EQ(pixel16(*composited, x, y), over(scene.fill(), scene.at(keyed, x, y)))
                << x << "," << y;
        }

    // "background file" with no backdrop image: the subject goes over transparent black.
    set(kParamBackgroundMode, kBackgroundFile);
    const auto overNothing = scene.render(*in);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_EQ(pixel16(*overNothing, x, y), over({0, 0, 0, 0}, scene.at(keyed, x, y)));
}

TEST_F(RenderPipeline, SplitClearsTheBackdropAboveTheDiagonalOfTheDomain) {
    KeyedScene plain(100, 100);
    plain.harness.setInt(kParamTransparencyMode, kTransparencySplit);
    // Nothing but backdrop: the keyed image is clear everywhere and the output is the backdrop.
    const auto in = plain.input(16, [](int, int, double v[4]) {
        for (int c = 0; c < 3; ++c) v[c] = kBackdropColour[c];
        v[3] = 1.0;
    });
    const auto whole = plain.render(*in);
    const Pixel16 fill = plain.fill();
    const Pixel16 cleared{0, 0, 0, 0};
    for (int x = 0; x < 100; ++x) ASSERT_EQ(pixel16(*whole, x, 0), cleared) << x;
    for (int x = 0; x < 100; ++x) ASSERT_EQ(pixel16(*whole, x, 50), x < 50 ? fill : cleared) << x;
    for (int x = 0; x < 100; ++x) ASSERT_EQ(pixel16(*whole, x, 99), x < 99 ? fill : cleared) << x;
    // The diagonal belongs to the domain, not to the region rendered.
    const auto strip = plain.render(*in, {30, 40, 80, 60});
    for (int y = 40; y < 60; ++y)
        for (int x = 30; x < 80; ++x) ASSERT_EQ(pixel16(*strip, x, y), pixel16(*whole, x, y));
}

TEST_F(RenderPipeline, OverlaysGoOnTopOfTheCompositeOnly) {
    auto image = std::make_shared<ImageBuffer>(nullptr);
    fillBuffer(*image, {0, 0, 10, 8}, {0, 0, 10, 8}, 8, patternPixel);
    LayerEntry overlay;
    overlay.image = image;
    overlay.fileName = "overlay";
    scene.harness.plugin.overlayLayers.push_back(overlay);
    const auto in = scene.input(16);
    const auto out = scene.render(*in);
    // Centred on the 90 x 70 domain: top-left at (40, 31), over the subject.
    for (int y = 31; y < 39; ++y)
        for (int x = 40; x < 50; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(channel(*out, x, y, c), channel(*image, x - 40, y - 31, c) * 257);
    // The matte view shows the subject's matte, no overlay.
    set(kParamMaskMode, kMaskMask);
    const auto matte = scene.render(*in);
    scene.harness.plugin.overlayLayers.clear();
    const auto matteAlone = scene.render(*in);
    for (int y = 31; y < 39; ++y)
        for (int x = 40; x < 50; ++x) ASSERT_EQ(pixel16(*matte, x, y), pixel16(*matteAlone, x, y));
}

TEST_F(RenderPipeline, WarpedSubjectIsKeyedWhereItLands) {
    const auto in = scene.input(16);
    set(kParamTransparencyMode, kTransparencyTransparent);
    const auto still = scene.render(*in);
    Matrix3 move;
    move.at(0, 2) = 3.0;
    move.at(1, 2) = -2.0;
    scene.harness.plugin.bridge.foregroundTransform = move;
    const auto moved = scene.render(*in);
    for (int y = 0; y < 68; ++y)
        for (int x = 3; x < 90; ++x)
            ASSERT_EQ(pixel16(*moved, x, y), pixel16(*still, x - 3, y + 2)) << x << "," << y;
    // Where no subject lands nothing is keyed in: transparent.
    EXPECT_EQ(channel(*moved, 1, 30, 3), 0);
}

TEST_F(RenderPipeline, LightWrapLightsTheEdgesWithTheSolidColourWhateverTheFill) {
    const auto in = scene.input(16);
    set(kParamTransparencyMode, kTransparencyTransparent);
    const auto plain = scene.render(*in);
    scene.harness.setBool(kParamEnableLightWrap, true);
    scene.harness.setDouble(kParamLightWrapRadius, 4.0);
    scene.harness.setDouble(kParamLightWrapBrightness, 100.0);
    set(kParamLightWrapBlendMode, kBlendAdd);
    const auto wrapped = scene.render(*in);
    int lit = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) lit += pixel16(*wrapped, x, y) != pixel16(*plain, x, y);
    EXPECT_GT(lit, 20);
    // Without brightness no light arrives.
    scene.harness.setDouble(kParamLightWrapBrightness, 0.0);
    const auto dark = scene.render(*in);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) ASSERT_EQ(pixel16(*dark, x, y), pixel16(*plain, x, y));
    scene.harness.setDouble(kParamLightWrapBrightness, 100.0);

    // Without backdrop layers the light is the solid replacement colour, also when the fill is
    // transparent black.
    set(kParamBackgroundMode, kBackgroundFile);
    const auto overNothing = scene.render(*in);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_EQ(pixel16(*overNothing, x, y), pixel16(*wrapped, x, y)) << x << "," << y;

    // The matte view shows no light wrap.
    set(kParamMaskMode, kMaskMask);
    const auto matte = scene.render(*in);
    scene.harness.setBool(kParamEnableLightWrap, false);
    const auto matteWithout = scene.render(*in);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) ASSERT_EQ(pixel16(*matte, x, y), pixel16(*matteWithout, x, y));
}

// The final render: what it writes by "Render against BD", "mask mode" and the image's alpha.
enum class Final { Copy, Over, Grey };

struct FinalCase {
    bool alpha;
    bool againstBackdrop;
    int maskMode;
    Final result;
};

class FinalRender : public testing::TestWithParam<FinalCase> {};

TEST_P(FinalRender, ChoosesTheViewByAlphaAndBackdrop) {
    const FinalCase& c = GetParam();
    KeyedScene scene(48, 40, false);
    scene.harness.set().setInt(c.maskMode, kParamMaskMode);
    scene.harness.set().setBool(c.againstBackdrop, kParamRenderAgainstBD);
    // Preview settings the final render must not look at.
    scene.harness.set().setInt(kTransparencySplit, kParamTransparencyMode);
    const auto in = scene.input(16);
    const auto keyed = scene.keyed16(*in);
    const auto out = scene.render(*in, {}, 4, c.alpha);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48; ++x) {
            const std::uint16_t* k = scene.at(keyed, x, y);
            Pixel16 expected;
            switch (c.result) {
                case Final::Copy:
                    expected = asPixel(k);
                    break;
                case Final::Over:
                    expected = over(scene.fill(), k);
                    break;
                case Final::Grey:
                    expected = {k[3], k[3], k[3], 65535};
                    break;
            }
            ASSERT_EQ(pixel16(*out, x, y), expected) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Cases, FinalRender,
                         testing::Values(FinalCase{true, false, kMaskForeground, Final::Copy},
                                         FinalCase{true, false, kMaskMask, Final::Grey},
                                         FinalCase{true, false, kMaskFront, Final::Copy},
                                         FinalCase{true, false, kMaskBack, Final::Copy},
                                         FinalCase{false, false, kMaskMask, Final::Over},
                                         FinalCase{false, false, kMaskFront, Final::Over},
                                         FinalCase{true, true, kMaskMask, Final::Over},
                                         FinalCase{true, true, kMaskFront, Final::Over},
                                         FinalCase{true, true, kMaskBack, Final::Over}));

}  // namespace
}  // namespace vantrelo::plugin_test
