// The plug-in object: its slots, the input region a render needs, the foreground matrix at the
// render scale, and the release of the work images when the input changes.

#include <gtest/gtest.h>

#include <wx/msgdlg.h>

#include <cmath>
#include <limits>

#include "tests/plugin/plugin_test_support.h"
#include "tests/support/gui_support.h"

namespace vantrelo::plugin_test {
namespace {

const Rect kFrame{0, 0, 1000, 800};
const Rect kOutput{100, 100, 200, 200};

Rect region(PluginHarness& h, const Rect& output, const Rect& frame, const Rect& limit,
            bool blur, bool transform, bool wide,
            int viewMode = VantreloPlugin::kViewModeOfSet) {
    return h.plugin.computeInputRegion(h.set(), output, frame, limit, blur, transform, wide,
                                       viewMode);
}

using Mav::Host::System::intersectRect;

Rect grownBy(const Rect& r, int m) { return {r.x0 - m, r.y0 - m, r.x1 + m, r.y1 + m}; }

TEST(PluginObject, SlotsAnswerForTheKeyer) {
    PluginHarness h;
    std::int32_t width = 256, height = 256;
    h.plugin.tileSize(kFrame, width, height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 1024);
    EXPECT_TRUE(h.plugin.perInputParameters());
    h.plugin.setPreviewFlag(true);
    EXPECT_TRUE(h.plugin.isPreviewMode());
    h.plugin.setPreviewFlag(false);
    EXPECT_FALSE(h.plugin.isPreviewMode());

    // Sets made by the plug-in are keyer sets bound to its adapter, with the 39 parameters.
    auto made = h.plugin.createParameters();
    auto* keyer = dynamic_cast<VantreloParameters*>(made.get());
    ASSERT_NE(keyer, nullptr);
    EXPECT_EQ(keyer->bridge, &h.plugin.bridge);
    EXPECT_EQ(keyer->count(), 0u);
    h.plugin.describeParameters(*keyer);
    ASSERT_EQ(keyer->count(), std::size_t{kKeyerParamCount});
    keyer->setInt(3, kParamMaskMode);
    auto clone = h.plugin.cloneParameters(*keyer);
    auto* copy = dynamic_cast<VantreloParameters*>(clone.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->bridge, &h.plugin.bridge);
    EXPECT_EQ(copy->getInt(kParamMaskMode), 3);
}

TEST(PluginObject, AboutBoxIsAnInformationBoxWithTheCaption) {
    VANTRELO_REQUIRE_TOOLKIT();
    vantrelo_test::takeRecordedBoxes();
    PluginHarness h;
    h.plugin.showAbout();
    const auto boxes = vantrelo_test::takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Vantrelo Chromakey");
    EXPECT_EQ(boxes[0].text.rfind("Vantrelo Chromakey ", 0), 0u) << boxes[0].text;
    EXPECT_TRUE(boxes[0].style & wxOK);
    EXPECT_TRUE(boxes[0].style & wxICON_INFORMATION);
    EXPECT_FALSE(boxes[0].style & wxCANCEL);
}

TEST(PluginObject, ReleasingWorkImagesRearmsTheAutoMaskAndTheFit) {
    PluginHarness h;
    h.plugin.sourceProxy.allocate({0, 0, 4, 3}, 16);
    h.plugin.lightingCache.allocate({0, 0, 4, 3}, 16);
    h.plugin.lightingCacheContent = LightingCacheContent::SimulatedBackdrop;
    h.plugin.bridge.autoMaskEnabled = 1;
    h.plugin.bridge.autoMaskJustEnabled = 0;
    h.plugin.bridge.fitEnabled = 0;
    h.plugin.bridge.fitJustEnabled = 1;

    h.plugin.invalidateCaches();

    EXPECT_EQ(h.plugin.sourceProxy.firstPixel, nullptr);
    EXPECT_EQ(h.plugin.lightingCache.firstPixel, nullptr);
    EXPECT_EQ(h.plugin.lightingCacheContent, LightingCacheContent::Empty);
    EXPECT_EQ(h.plugin.bridge.autoMaskJustEnabled, 1);
    EXPECT_EQ(h.plugin.bridge.fitJustEnabled, 0);
}

// The margin around the output is 2 x trunc((radius + light wrap) x 2.5 + 0.5): five radii of
// the widest blur that reads the keyed image, so that a tile sees what the whole image sees.
struct MarginCase {
    const char* what;
    bool preview;
    int softenRadius;
    bool lightWrap;
    int maskMode;
    float pixelScale;
    int viewMode;
    int margin;
};

class InputRegionMargin : public testing::TestWithParam<MarginCase> {};

TEST_P(InputRegionMargin, GrowsTheOutputByTheActiveMargins) {
    const MarginCase& c = GetParam();
    PluginHarness h({}, c.preview);
    h.plugin.bridge.keyStates.softenRadius = c.softenRadius;
    h.plugin.bridge.lightWrapOn = c.lightWrap;
    h.plugin.bridge.lightWrapRadius = 30.0f;  // "lightwrap radius" 20
    h.plugin.setPixelScale(c.pixelScale);
    h.set().setInt(c.maskMode, kParamMaskMode);
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, false, false, c.viewMode),
              intersectRect(grownBy(kOutput, c.margin), kFrame));
    // The wide region without a backdrop blur grows by the light wrap once more.
    const int lightWrapMargin =
        c.margin == 26 || !c.lightWrap ? 0 : 2 * static_cast<int>(30.0f * c.pixelScale * 2.5 + 0.5);
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, false, true, c.viewMode),
              intersectRect(grownBy(kOutput, c.margin + lightWrapMargin), kFrame));
}

constexpr int kOwn = VantreloPlugin::kViewModeOfSet;

INSTANTIATE_TEST_SUITE_P(
    Cases, InputRegionMargin,
    testing::Values(MarginCase{"soften below five counts as five", true, 0, false, 0, 1, kOwn, 26},
                    MarginCase{"soften radius", true, 12, false, 0, 1, kOwn, 60},
                    MarginCase{"light wrap in the composite", true, 3, true, 0, 1, kOwn, 176},
                    MarginCase{"light wrap at the render scale", true, 0, true, 0, 0.5f, kOwn, 100},
                    MarginCase{"no light wrap in the matte view", true, 0, true, 1, 1, kOwn, 26},
                    MarginCase{"no light wrap over the backdrop view", true, 0, true, 3, 1, kOwn,
                               26},
                    MarginCase{"the batch takes the widest view", false, 0, true, 1, 1, kOwn, 176},
                    MarginCase{"a render's own matte view", false, 0, true, 0, 1, 1, 26},
                    MarginCase{"a render's own composite", false, 0, true, 1, 1, 0, 176}));

TEST(PluginObject, InputRegionIsClippedToTheFrameAndTheWideOneToTheLimit) {
    PluginHarness h;
    // Near the corner: both regions stop at their rectangles.
    EXPECT_EQ(region(h, {10, 20, 50, 60}, kFrame, kFrame, false, false, false),
              (Rect{0, 0, 76, 86}));
    // The backdrop blur margin comes from the limit's width: 1 x 1000 x 0.1 / 100 = 1, so
    // 2 x trunc(1 x 2.5 + 0.5) = 6 more on each side of the narrow region.
    h.set().setDouble(1.0, kParamBackdropBlur);
    const Rect limit{0, 0, 1000, 1000};
    EXPECT_EQ(region(h, kOutput, kFrame, limit, true, false, true), grownBy(kOutput, 32));
    EXPECT_EQ(region(h, kOutput, kFrame, limit, true, false, false), grownBy(kOutput, 26));
    // The narrow region is clipped to the frame, the wide one only to the limit.
    const Rect smallFrame{0, 0, 150, 150};
    EXPECT_EQ(region(h, kOutput, smallFrame, limit, true, false, true), grownBy(kOutput, 32));
    EXPECT_EQ(region(h, kOutput, smallFrame, limit, true, false, false), (Rect{74, 74, 150, 150}));
    // "backdrop blur" 100 on a limit 2000 wide: sigma 200, margin 2 x 500 on top of 26.
    h.set().setDouble(100.0, kParamBackdropBlur);
    EXPECT_EQ(region(h, {1000, 1000, 1001, 1001}, {0, 0, 4000, 4000}, {0, 0, 2000, 4000}, true,
                     false, true),
              (Rect{0, 0, 2000, 2027}));
}

TEST(PluginObject, ForegroundMatrixWorksAboutTheCentreAtFullResolution) {
    PluginHarness h;
    // A stored scaling by 2 about the centre, seen at render scale 0.5 in a 400 x 300 frame: the
    // centre stays, the corner (0, 0) moves to (-200, -150).
    Matrix3 scale;
    scale.at(0, 0) = 2.0;
    scale.at(1, 1) = 2.0;
    h.plugin.bridge.foregroundTransform = scale;
    h.plugin.setPixelScale(0.5f);
    const Matrix3 m = h.plugin.foregroundMatrix({0, 0, 400, 300});
    const auto map = [&](double x, double y, double& u, double& v) {
        const double w = m.at(2, 0) * x + m.at(2, 1) * y + m.at(2, 2);
        u = (m.at(0, 0) * x + m.at(0, 1) * y + m.at(0, 2)) / w;
        v = (m.at(1, 0) * x + m.at(1, 1) * y + m.at(1, 2)) / w;
    };
    double u, v;
    map(200, 150, u, v);
    EXPECT_DOUBLE_EQ(u, 200);
    EXPECT_DOUBLE_EQ(v, 150);
    map(0, 0, u, v);
    EXPECT_DOUBLE_EQ(u, -200);
    EXPECT_DOUBLE_EQ(v, -150);

    // A stored move of 10 full-resolution pixels is 5 at half scale.
    Matrix3 move;
    move.at(0, 2) = 10.0;
    move.at(1, 2) = -4.0;
    h.plugin.bridge.foregroundTransform = move;
    const Matrix3 moved = h.plugin.foregroundMatrix({0, 0, 400, 300});
    EXPECT_DOUBLE_EQ(moved.at(0, 2), 5.0);
    EXPECT_DOUBLE_EQ(moved.at(1, 2), -2.0);
}

TEST(PluginObject, InputRegionFollowsTheForegroundTransformBack) {
    PluginHarness h;
    // Any difference from the identity, however small, maps the corners (one more pixel out).
    Matrix3 almost;
    almost.at(0, 1) = 1e-300;
    h.plugin.bridge.foregroundTransform = almost;
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, true, false), (Rect{73, 73, 227, 227}));
    // Only when asked for.
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, false, false), grownBy(kOutput, 26));

    // The subject moved right by 30: the output needs the input 30 to the left.
    Matrix3 move;
    move.at(0, 2) = 30.0;
    h.plugin.bridge.foregroundTransform = move;
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, true, false), (Rect{43, 73, 197, 227}));
    // The slot asks for exactly that.
    Mav::Host::App::InputRequestList extra;
    EXPECT_EQ(h.plugin.requiredInputRect(h.set(), kOutput, kFrame, extra), (Rect{43, 73, 197, 227}));
    EXPECT_TRUE(extra.empty());

    // A singular transform inverts to the identity: the region is as for a transform that
    // changes nothing.
    Matrix3 singular;
    singular.at(0, 0) = 0.0;
    h.plugin.bridge.foregroundTransform = singular;
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, true, false), (Rect{73, 73, 227, 227}));
}

TEST(PluginObject, ExtremeTransformsGiveTheFrameInsteadOfOverflowing) {
    PluginHarness h;
    // A tiny subject: the inverse throws the output's corners far beyond the integer range, all
    // to the upper left of the input, so the output needs none of it.
    Matrix3 tiny;
    tiny.at(0, 0) = 1e-12;
    tiny.at(1, 1) = 1e-12;
    h.plugin.bridge.foregroundTransform = tiny;
    EXPECT_TRUE(region(h, kOutput, kFrame, kFrame, false, true, false).empty());
    // A huge one: the whole output shows the pixels around the centre.
    Matrix3 huge;
    huge.at(0, 0) = 1e12;
    huge.at(1, 1) = 1e12;
    h.plugin.bridge.foregroundTransform = huge;
    EXPECT_EQ(region(h, kOutput, kFrame, kFrame, false, true, false), (Rect{498, 398, 501, 401}));

    // A perspective that puts a mapped corner on the horizon (w = 0 on the left edge of the
    // narrow region, x = 74, about the centre 500).
    Matrix3 horizon;
    horizon.at(2, 0) = -1.0 / 426.0;
    h.plugin.bridge.foregroundTransform = horizon;
    const Rect r = region(h, kOutput, kFrame, kFrame, false, true, false);
    EXPECT_TRUE(Mav::Host::System::rectContains(kFrame, r));
    EXPECT_FALSE(r.empty());

    // A transform with an element that is not a number counts as a transform; its corners are
    // not numbers, so the whole frame is needed.
    Matrix3 broken;
    broken.at(0, 0) = std::numeric_limits<double>::quiet_NaN();
    h.plugin.bridge.foregroundTransform = broken;
    const Rect b = region(h, kOutput, kFrame, kFrame, false, true, false);
    EXPECT_TRUE(Mav::Host::System::rectContains(kFrame, b));
}

}  // namespace
}  // namespace vantrelo::plugin_test
