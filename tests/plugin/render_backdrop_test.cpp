// The render's backdrop, seen alone in the preview's backdrop view: the colour fill, the backdrop
// layers placed through their matrix and drawn last to first, and the backdrop blur, in every depth
// and with fewer than four channels.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "kernels/recursive_gaussian_blur.h"
#include "tests/plugin/plugin_test_support.h"

namespace vantrelo::plugin_test {
namespace {

// An 8-bit RGBA layer image of the given size; colour from `pixel`.
std::shared_ptr<const ImageBuffer> layerImage(int width, int height, const PixelFunction& pixel) {
    auto image = std::make_shared<ImageBuffer>(nullptr);
    fillBuffer(*image, {0, 0, width, height}, {0, 0, width, height}, 8, pixel);
    return image;
}

LayerEntry layerEntry(std::shared_ptr<const ImageBuffer> image, bool premultiplied = false) {
    LayerEntry entry;
    entry.image = std::move(image);
    entry.premultiplied = premultiplied;
    entry.fileName = "in memory";
    return entry;
}

class RenderBackdrop : public testing::Test {
protected:
    RenderBackdrop() : folder("vantrelo-backdrop"), harness(inputFile(), true) {
        harness.set().setInt(kMaskBack, kParamMaskMode);
        const double grey[3] = {0.25, 0.5, 0.75};
        harness.set().setColour(grey, kParamBGColor);
        harness.set().applyToEngine(kParamBGColor);
    }

    std::vector<std::filesystem::path> inputFile() {
        const auto path = folder.path() / "input.png";
        writePng(path, 16, 16, patternPixel, false);
        return {path};
    }

    // Renders `region` of an output over `domain` at the given depth and channel count.
    std::unique_ptr<ImageBuffer> render(int bits, const Rect& domain, const Rect& region,
                                        int channels = 4) {
        ImageBuffer input(&harness.plugin), scratch(&harness.plugin);
        fillBuffer(input, domain, domain, bits, patternPixel);
        auto output = std::make_unique<ImageBuffer>(&harness.plugin);
        output->allocate(region, bits);
        output->domain = domain;
        output->channels = channels;  // rows keep their four-channel length
        output->hasAlpha = true;
        EXPECT_TRUE(harness.plugin.render(harness.set(), input, *output, scratch, nullptr));
        return output;
    }

    test_store::ScratchFolder folder;
    PluginHarness harness;
};

TEST_F(RenderBackdrop, PlainColourFillsWithTheReplacementColourInEveryDepth) {
    // trunc(0.25 x 65535) = 16383, trunc(0.5 x 65535) = 32767, trunc(0.75 x 65535) = 49151.
    const Rect domain{0, 0, 7, 5};
    const auto o16 = render(16, domain, domain);
    const auto o8 = render(8, domain, domain);
    const auto oF = render(32, domain, domain);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(channel(*o16, x, y, 0), 16383);
            EXPECT_EQ(channel(*o16, x, y, 1), 32767);
            EXPECT_EQ(channel(*o16, x, y, 2), 49151);
            EXPECT_EQ(channel(*o16, x, y, 3), 65535);
            EXPECT_EQ(channel(*o8, x, y, 0), 63);
            EXPECT_EQ(channel(*o8, x, y, 1), 127);
            EXPECT_EQ(channel(*o8, x, y, 2), 191);
            EXPECT_EQ(channel(*o8, x, y, 3), 255);
            EXPECT_FLOAT_EQ(channel(*oF, x, y, 0), 16383.0f / 65535.0f);
            EXPECT_FLOAT_EQ(channel(*oF, x, y, 2), 49151.0f / 65535.0f);
            EXPECT_FLOAT_EQ(channel(*oF, x, y, 3), 1.0f);
        }

    // "background file" without a backdrop image: transparent black.
    harness.set().setInt(kBackgroundFile, kParamBackgroundMode);
    const auto none = render(16, domain, domain);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(channel(*none, 3, 2, c), 0);
}

TEST_F(RenderBackdrop, ThreeChannelOutputsReceiveNoAlpha) {
    const Rect domain{0, 0, 6, 4};
    const auto out = render(16, domain, domain, 3);
    // Pixels step by three channels: a four-channel fill would have shifted every later pixel.
    const auto* row = reinterpret_cast<const std::uint16_t*>(out->pixelAddress(0, 1));
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(row[3 * x + 0], 16383);
        EXPECT_EQ(row[3 * x + 1], 32767);
        EXPECT_EQ(row[3 * x + 2], 49151);
    }
}

TEST_F(RenderBackdrop, LayerIsCentredOnTheDomainOverTransparentBlack) {
    // 200 x 100 layer, identity transform, scale 1, domain 1000 x 800: top-left at (400, 350).
    harness.plugin.backdropLayers.push_back(layerEntry(layerImage(200, 100, patternPixel)));
    const Rect domain{0, 0, 1000, 800};
    const Rect region{390, 340, 610, 460};
    const auto out = render(16, domain, region);
    LayerEntry& layer = harness.plugin.backdropLayers[0];
    for (int y = region.y0; y < region.y1; ++y)
        for (int x = region.x0; x < region.x1; ++x) {
            const bool inside = x >= 400 && x < 600 && y >= 350 && y < 450;
            for (int c = 0; c < 4; ++c) {
                // An opaque straight layer over transparent black: each 8-bit value times 257.
                const double expected = inside ? channel(*layer.image, x - 400, y - 350, c) * 257 : 0;
                ASSERT_EQ(channel(*out, x, y, c), expected) << x << "," << y << "," << c;
            }
        }
}

TEST_F(RenderBackdrop, LayersScaleWithTheRenderAndTheFirstEntryEndsOnTop) {
    const auto solid = [](double r, double g, double b) {
        return [r, g, b](int, int, double v[4]) {
            v[0] = r;
            v[1] = g;
            v[2] = b;
            v[3] = 1.0;
        };
    };
    harness.plugin.backdropLayers.push_back(layerEntry(layerImage(20, 20, solid(1, 0, 0)), true));
    harness.plugin.backdropLayers.push_back(layerEntry(layerImage(60, 40, solid(0, 1, 0.2))));
    LayerEntry noImage;
    noImage.fileName = "missing.png";
    harness.plugin.backdropLayers.push_back(noImage);  // skipped
    // Scale 0.5 on a domain of 100 x 80: the green layer covers 30 x 20 about (50, 40), the red
    // one on top 10 x 10.
    harness.plugin.setPixelScale(0.5f);
    const Rect domain{0, 0, 100, 80};
    const auto out = render(8, domain, domain);
    EXPECT_EQ(channel(*out, 50, 40, 0), 255);
    EXPECT_EQ(channel(*out, 50, 40, 1), 0);
    EXPECT_EQ(channel(*out, 40, 32, 1), 255);  // green only
    EXPECT_EQ(channel(*out, 40, 32, 2), 51);
    EXPECT_EQ(channel(*out, 40, 32, 0), 0);
    EXPECT_EQ(channel(*out, 34, 40, 3), 0);    // outside both: transparent
    EXPECT_EQ(channel(*out, 36, 40, 3), 255);

    // The backdrop transform moves layers in full-resolution pixels: 20 to the right is 10 here.
    harness.plugin.bridge.backdropTransform.at(0, 2) = 20.0;
    const auto moved = render(8, domain, domain);
    EXPECT_EQ(channel(*moved, 60, 40, 0), 255);
    EXPECT_EQ(channel(*moved, 50, 40, 0), 0);
    EXPECT_EQ(channel(*moved, 50, 40, 1), 255);
}

TEST_F(RenderBackdrop, BackdropBlurIsTheGaussianOfTheDrawnLayers) {
    harness.plugin.backdropLayers.push_back(layerEntry(layerImage(40, 30, patternPixel)));
    const Rect domain{0, 0, 90, 70};
    const auto sharp = render(16, domain, domain);

    // 2 x 90 x 0.1 / 100 = 0.18 ... too small; 20 gives sigma 1.8.
    harness.set().setDouble(20.0, kParamBackdropBlur);
    const auto blurred = render(16, domain, domain);
    ImageBuffer expected(&harness.plugin);
    expected.allocateSameAs(*sharp);
    const float sigma = static_cast<float>(20.0 * 90.0 * static_cast<double>(0.1f) / 100.0);
    RecursiveGaussianBlur blur(harness.plugin, *sharp, expected, sigma, sigma, 0, 0);
    blur.reportProgress = false;
    blur.run();
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(channel(*blurred, x, y, c), channel(expected, x, y, c))
                    << x << "," << y << "," << c;
    EXPECT_NE(channel(*blurred, 25, 20, 0), channel(*sharp, 25, 20, 0));

    // A transparent output keeps its backdrop sharp.
    harness.set().setInt(kTransparencyTransparent, kParamTransparencyMode);
    const auto transparent = render(16, domain, domain);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_EQ(channel(*transparent, x, y, 1), channel(*sharp, x, y, 1));
}

TEST_F(RenderBackdrop, TilesOfTheBlurredBackdropAgreeWithTheWhole) {
    harness.plugin.backdropLayers.push_back(layerEntry(layerImage(150, 110, patternPixel)));
    harness.set().setDouble(30.0, kParamBackdropBlur);  // sigma 6 on a domain 200 wide
    const Rect domain{0, 0, 200, 140};
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        const auto whole = render(bits, domain, domain);
        const double tolerance = bits == 32 ? 1e-5 : 1.0;
        for (int ty = 0; ty < 140; ty += 47)
            for (int tx = 0; tx < 200; tx += 64) {
                const Rect tile{tx, ty, std::min(tx + 64, 200), std::min(ty + 47, 140)};
                const auto part = render(bits, domain, tile);
                for (int y = tile.y0; y < tile.y1; ++y)
                    for (int x = tile.x0; x < tile.x1; ++x)
                        for (int c = 0; c < 4; ++c)
                            ASSERT_NEAR(channel(*part, x, y, c), channel(*whole, x, y, c), tolerance)
                                << x << "," << y << "," << c;
            }
    }
}

}  // namespace
}  // namespace vantrelo::plugin_test
