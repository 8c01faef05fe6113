// The batch output does not depend on tiling: an image rendered whole and in the batch's tiles of
// 1024 x 1024 pixels agrees within one unit, in every depth, view mode and transparency mode,
// spill modes 0 and 1, with everything that reads beyond a tile switched on: matte softening,
// light wrap, a blurred backdrop layer, an overlay and a foreground transform.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "tests/plugin/render_test_support.h"

namespace vantrelo::plugin_test {
namespace {

constexpr int kWidth = 1300;
constexpr int kHeight = 1100;

std::shared_ptr<const ImageBuffer> layerImage(int width, int height, int seed) {
    auto image = std::make_shared<ImageBuffer>(nullptr);
    fillBuffer(*image, {0, 0, width, height}, {0, 0, width, height}, 8,
               [seed](int x, int y, double v[4]) {
                   v[0] = ((x * 3 + y + seed) % 200) / 255.0;
                   v[1] = ((x + y * 5 + 2 * seed) % 230) / 255.0;
                   v[2] = ((x * 7 + 3 * y) % 250) / 255.0;
                   v[3] = 1.0;
               });
    return image;
}

struct TileCase {
    bool preview;
    int viewMode;      // "mask mode"
    int transparency;  // preview only
    bool againstBackdrop;
    bool alpha;
    int spill;
    bool lighting;

    std::string name() const {
        std::ostringstream out;
        out << (preview ? "preview" : "batch") << "_mask" << viewMode << "_transparency"
            << transparency << (againstBackdrop ? "_againstBD" : "") << (alpha ? "_alpha" : "")
            << "_spill" << spill << (lighting ? "_lighting" : "");
        return out.str();
    }
};

class TileInvariance : public testing::TestWithParam<TileCase> {
protected:
    static void SetUpTestSuite() { scene_ = new KeyedScene(kWidth, kHeight); }
    static void TearDownTestSuite() {
        delete scene_;
        scene_ = nullptr;
    }

    void configure(const TileCase& c) {
        PluginHarness& h = scene_->harness;
        h.plugin.setPreviewFlag(c.preview);
        h.setInt(kParamMaskMode, c.viewMode);
        h.setInt(kParamTransparencyMode, c.transparency);
        h.setBool(kParamRenderAgainstBD, c.againstBackdrop);
        h.setInt(kParamSpillMode, c.spill);
        h.setBool(kParamAdjustLighting, c.lighting);
        h.setBool(kParamEnableSoftenMatte, true);
        h.setDouble(kParamSoftenMatte, 12.0);  // radius 6
        h.setBool(kParamEnableLightWrap, true);
        h.setDouble(kParamLightWrapRadius, 8.0);  // sigma 12
        h.setDouble(kParamLightWrapBrightness, 80.0);
        h.setInt(kParamLightWrapBlendMode, kBlendScreen);
        h.setDouble(kParamBackdropBlur, 0.5);  // sigma 0.65 on 1300 pixels
        h.setInt(kParamBackgroundMode, kBackgroundFile);
        // Enlarged about the centre and moved by half a pixel and more: the subject reaches past
        // the frame, so the keying reads pixels outside the domain.
        Matrix3 transform;
        transform.at(0, 0) = 2.0;
        transform.at(1, 1) = 2.0;
        transform.at(0, 2) = 7.5;
        transform.at(1, 2) = -3.0;
        h.plugin.bridge.foregroundTransform = transform;
        h.plugin.backdropLayers.clear();
        LayerEntry backdrop;
        backdrop.image = layerImage(700, 600, 1);
        backdrop.fileName = "backdrop";
        h.plugin.backdropLayers.push_back(backdrop);
        h.plugin.overlayLayers.clear();
        LayerEntry overlay;
        overlay.image = layerImage(90, 60, 2);
        overlay.fileName = "overlay";
        overlay.premultiplied = true;
        h.plugin.overlayLayers.push_back(overlay);
        if (c.lighting) {
            // The lighting correction reads the source proxy that the prepare makes; the layer
            // lists the prepare would load from their texts are set again afterwards.
            LayerList backdrops = h.plugin.backdropLayers, overlays = h.plugin.overlayLayers;
            h.plugin.prepare(h.set(), scene_->domain);
            h.plugin.backdropLayers = backdrops;
            h.plugin.overlayLayers = overlays;
        }
    }

    void expectTilesAgree(const TileCase& c);

    static KeyedScene* scene_;
};

KeyedScene* TileInvariance::scene_ = nullptr;

TEST_P(TileInvariance, TilesAgreeWithTheWholeImage) {
    const TileCase& c = GetParam();
    configure(c);
    expectTilesAgree(c);
}

// A turned subject: a tile that begins inside the turned outline must sample the source where the
// whole image does, to the bit, along the outline as well (a warp that stepped its source point
// from the tile's first row and column drifted by up to 891 units of 16 bits here).
TEST_F(TileInvariance, TilesAgreeUnderATurnedForeground) {
    const TileCase c{false, 0, 0, true, true, 0, false};
    configure(c);
    Matrix3 turn;
    turn.at(0, 0) = 0.98;
    turn.at(0, 1) = 0.05;
    turn.at(1, 0) = -0.05;
    turn.at(1, 1) = 0.98;
    turn.at(0, 2) = 7.5;
    scene_->harness.plugin.bridge.foregroundTransform = turn;
    expectTilesAgree(c);
}

// Without softening and light wrap a tile keys its own region only (for spill modes 0 and 1,
// where each keyed pixel depends on its own pixels alone), and draws its backdrop image over its
// own region only when the backdrop is not blurred either; over a backdrop image, blurred and not,
// and over a plain colour, whose fill the composite lays in its own pass.
TEST_F(TileInvariance, TilesAgreeWithNothingReadingPastTheRegion) {
    enum Backdrop { kBlurredImage, kSharpImage, kColour };
    for (int spill : {0, 1})
        for (Backdrop backdrop : {kBlurredImage, kSharpImage, kColour}) {
            SCOPED_TRACE(testing::Message() << "spill " << spill << ", backdrop " << backdrop);
            const TileCase c{false, 0, 0, true, true, spill, false};
            configure(c);
            PluginHarness& h = scene_->harness;
            h.setBool(kParamEnableSoftenMatte, false);
            h.setBool(kParamEnableLightWrap, false);
            if (backdrop == kSharpImage) h.setDouble(kParamBackdropBlur, 0.0);
            if (backdrop == kColour) {
                h.setInt(kParamBackgroundMode, kBackgroundColor);
                h.plugin.backdropLayers.clear();
            }
            expectTilesAgree(c);
        }
}

void TileInvariance::expectTilesAgree(const TileCase& c) {
    PluginHarness& h = scene_->harness;
    const Rect domain = scene_->domain;
    for (int bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        const auto in = scene_->input(bits);
        const auto whole = scene_->render(*in, domain, 4, c.alpha);

        ImageBuffer tiled(&h.plugin);
        tiled.allocate(domain, bits);
        tiled.domain = domain;
        tiled.hasAlpha = c.alpha;
        ImageBuffer scratch(&h.plugin);
        std::int32_t tileWidth = 256, tileHeight = 256;
        h.plugin.tileSize(domain, tileWidth, tileHeight);
        for (int y = 0; y < kHeight; y += tileHeight)
            for (int x = 0; x < kWidth; x += tileWidth) {
                ImageBuffer view(&h.plugin);
                view.makeView(tiled, {x, y, std::min(x + tileWidth, kWidth),
                                      std::min(y + tileHeight, kHeight)});
                h.plugin.render(h.set(), *in, view, scratch, nullptr);
            }

        // Float results agree to a unit of 16 bits; integer ones within one step.
        const double tolerance = bits == 32 ? 1.0 / 65535.0 : 1.0;
        double worst = 0.0;
        int beyond = 0, firstX = -1, firstY = -1;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int ch = 0; ch < 4; ++ch) {
                    const double a = channel(*whole, x, y, ch), b = channel(tiled, x, y, ch);
                    const double d = std::isnan(a) || std::isnan(b) ? INFINITY : std::fabs(a - b);
                    worst = std::max(worst, d);
                    if (d > tolerance && beyond++ == 0) {
                        firstX = x;
                        firstY = y;
                    }
                }
        EXPECT_EQ(beyond, 0) << "largest difference " << worst << ", first at (" << firstX << ", "
                             << firstY << ")";
    }
}

std::vector<TileCase> tileCases() {
    std::vector<TileCase> cases;
    for (int spill : {0, 1}) {
        for (int view = 0; view < 4; ++view)
            for (int transparency = 0; transparency < 3; ++transparency)
                cases.push_back({true, view, transparency, true, true, spill, false});
        // The batch: against the backdrop, transparent with the matte or the subject, opaque.
        cases.push_back({false, 0, 0, true, true, spill, false});
        cases.push_back({false, 1, 0, false, true, spill, false});
        cases.push_back({false, 0, 0, false, true, spill, false});
        cases.push_back({false, 1, 0, false, false, spill, false});
    }
    cases.push_back({true, 0, 0, true, true, 0, true});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, TileInvariance, testing::ValuesIn(tileCases()),
                         [](const testing::TestParamInfo<TileCase>& info) {
                             return info.param.name();
                         });

}  // namespace
}  // namespace vantrelo::plugin_test
