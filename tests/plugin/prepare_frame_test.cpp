// Frame preparation and the render entry: the batch's push of the whole set, the source proxy's
// scale and reuse, which layer lists are loaded, cleared or kept, the scale-to-fit transform, and
// inputs that cannot be rendered.

#include <gtest/gtest.h>

#include <wx/image.h>

#include <cmath>
#include <fstream>
#include <string>

#include "host/param/file_list_text.h"
#include "host/system/exceptions.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/gui_support.h"

namespace vantrelo::plugin_test {
namespace {

namespace fs = std::filesystem;

class PrepareFrame : public testing::Test {
protected:
    fs::path input(int width, int height, const char* name = "input.png") {
        const fs::path path = folder.path() / name;
        writePng(path, width, height, patternPixel, false);
        return path;
    }
    fs::path layer(const char* name, int width, int height) {
        const fs::path path = folder.path() / name;
        writePng(path, width, height, patternPixel, true);
        return path;
    }

    test_store::ScratchFolder folder{"vantrelo-prepare"};
};

struct ProxyCase {
    int width;
    int height;
    bool preview;
    float pixelScale;
    float scale;
};

class ProxyScale : public PrepareFrame, public testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyScale, HoldsAtMostAMegapixelAndIsNeverFinerThanTheRender) {
    const ProxyCase& c = GetParam();
    PluginHarness h({input(c.width, c.height)}, c.preview);
    h.setBool(kParamAdjustLighting, true);
    h.plugin.setPixelScale(c.pixelScale);
    h.plugin.prepare(h.set(), {0, 0, c.width, c.height});
    const ImageBuffer& proxy = h.plugin.sourceProxy;
    ASSERT_NE(proxy.firstPixel, nullptr);
    EXPECT_FLOAT_EQ(proxy.scale, c.scale);
    EXPECT_EQ(proxy.bounds.width(), static_cast<std::int64_t>(float(c.width) * c.scale));
    EXPECT_EQ(proxy.bounds.height(), static_cast<std::int64_t>(float(c.height) * c.scale));
    EXPECT_LE(proxy.bounds.width() * proxy.bounds.height(), 1048576);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProxyScale,
    testing::Values(ProxyCase{2000, 1000, false, 1.0f, std::sqrt(1048576.0f / 2000000.0f)},
                    ProxyCase{800, 600, false, 1.0f, 1.0f},
                    ProxyCase{1000, 1000, true, 0.25f, 0.25f}));

TEST_F(PrepareFrame, ProxyIsKeptWhileItsScaleHoldsAndMadeOnlyWhenNeeded) {
    PluginHarness h({input(300, 200)}, true);
    const Rect frame{0, 0, 300, 200};
    // Neither the auto-mask nor the lighting correction: no proxy.
    h.plugin.prepare(h.set(), frame);
    EXPECT_EQ(h.plugin.sourceProxy.firstPixel, nullptr);

    h.setBool(kParamAdjustLighting, true);
    h.plugin.prepare(h.set(), frame);
    const std::uint8_t* first = h.plugin.sourceProxy.firstPixel;
    ASSERT_NE(first, nullptr);
    h.plugin.prepare(h.set(), frame);
    EXPECT_EQ(h.plugin.sourceProxy.firstPixel, first);

    h.plugin.setPixelScale(0.5f);
    h.plugin.prepare(h.set(), frame);
    EXPECT_FLOAT_EQ(h.plugin.sourceProxy.scale, 0.5f);
    EXPECT_EQ(h.plugin.sourceProxy.bounds, (Rect{0, 0, 150, 100}));

    // The auto-mask alone needs it too, in the preview while it is on.
    PluginHarness automask({input(300, 200, "second.png")}, true);
    automask.setBool(kParamEnableAutoMask, true);
    automask.plugin.bridge.autoMaskJustEnabled = 0;
    automask.plugin.prepare(automask.set(), frame);
    EXPECT_NE(automask.plugin.sourceProxy.firstPixel, nullptr);
}

TEST_F(PrepareFrame, TheBatchPushesTheWholeSetAndRearmsTheTriggers) {
    PluginHarness h({input(40, 30)}, false);
    // Values stored without an edit's push, as a set parked for a later input holds them.
    h.set().setBool(true, kParamEnableSoftenMatte);
    h.set().setDouble(20.0, kParamSoftenMatte);
    h.set().setBool(true, kParamScaleToFit);
    h.plugin.bridge.keyStates.softenRadius = 0;
    h.plugin.bridge.fitEnabled = 0;
    h.plugin.bridge.fitJustEnabled = 0;

    h.plugin.prepare(h.set(), {0, 0, 40, 30});

    EXPECT_EQ(h.plugin.bridge.keyStates.softenRadius, 10);  // trunc(20 x 0.5 + 0.5)
    EXPECT_EQ(h.plugin.bridge.fitEnabled, 1);
    // No backdrop image: the fit found nothing to fit and stays armed.
    EXPECT_EQ(h.plugin.bridge.fitJustEnabled, 1);

    // The preview pushes nothing: edits keep the adapter current.
    PluginHarness preview({input(40, 30, "second.png")}, true);
    preview.set().setBool(true, kParamEnableSoftenMatte);
    preview.set().setDouble(20.0, kParamSoftenMatte);
    preview.plugin.bridge.keyStates.softenRadius = 0;
    preview.plugin.prepare(preview.set(), {0, 0, 40, 30});
    EXPECT_EQ(preview.plugin.bridge.keyStates.softenRadius, 0);
}

// What the prepare does with the backdrop and overlay lists.
enum ListOutcome { Loaded, Cleared, Kept };

struct ListCase {
    bool preview;
    bool againstBackdrop;
    int maskMode;
    ListOutcome backdrops;
    ListOutcome overlays;
};

class LayerLists : public PrepareFrame, public testing::WithParamInterface<ListCase> {};

TEST_P(LayerLists, AreLoadedWhereTheViewShowsThem) {
    VANTRELO_REQUIRE_TOOLKIT();
    const ListCase& c = GetParam();
    PluginHarness h({input(40, 30)}, c.preview);
    const fs::path backdrop = layer("backdrop.png", 8, 6);
    const fs::path overlay = layer("overlay.png", 4, 4);
    h.set().setString(Mav::Host::Param::joinFileListText({backdrop.string()}),
                      kParamBackdropFiles);
    h.set().setString(Mav::Host::Param::joinFileListText({overlay.string()}), kParamOverlayFiles);
    h.set().setBool(c.againstBackdrop, kParamRenderAgainstBD);
    h.set().setInt(c.maskMode, kParamMaskMode);
    h.plugin.backdropLayers.assign(1, LayerEntry{nullptr, true, "kept"});
    h.plugin.overlayLayers.assign(1, LayerEntry{nullptr, true, "kept"});

    h.plugin.prepare(h.set(), {0, 0, 40, 30});

    const auto check = [](const LayerList& list, ListOutcome outcome, int width) {
        switch (outcome) {
            case Loaded:
                ASSERT_EQ(list.size(), 1u);
                ASSERT_TRUE(list[0].image);
                EXPECT_EQ(list[0].image->bounds.width(), width);
                break;
            case Cleared:
                EXPECT_TRUE(list.empty());
                break;
            case Kept:
                ASSERT_EQ(list.size(), 1u);
                EXPECT_EQ(list[0].fileName, "kept");
                break;
        }
    };
    {
        SCOPED_TRACE("backdrop list");
        check(h.plugin.backdropLayers, c.backdrops, 8);
    }
    {
        SCOPED_TRACE("overlay list");
        check(h.plugin.overlayLayers, c.overlays, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LayerLists,
                         testing::Values(ListCase{true, true, 0, Loaded, Loaded},
                                         ListCase{true, true, 3, Loaded, Kept},
                                         ListCase{true, true, 1, Kept, Kept},
                                         ListCase{true, true, 2, Kept, Kept},
                                         ListCase{false, true, 1, Loaded, Kept},
                                         ListCase{false, true, 2, Loaded, Kept},
                                         ListCase{true, false, 0, Cleared, Loaded},
                                         ListCase{false, false, 3, Cleared, Kept}));

TEST_F(PrepareFrame, ScaleToFitCoversTheInputWithTheFirstBackdrop) {
    VANTRELO_REQUIRE_TOOLKIT();
    PluginHarness h({input(400, 300)}, true);
    h.set().setString(Mav::Host::Param::joinFileListText({layer("wide.png", 200, 100).string()}),
                      kParamBackdropFiles);
    h.set().setBool(true, kParamRenderAgainstBD);
    h.setBool(kParamScaleToFit, true);
    EXPECT_EQ(h.plugin.bridge.fitJustEnabled, 1);

    h.plugin.prepare(h.set(), {0, 0, 400, 300});

    Matrix3 expected;
    expected.at(0, 0) = 3.0;  // max(400 / 200, 300 / 100)
    expected.at(1, 1) = 3.0;
    EXPECT_EQ(h.plugin.bridge.backdropTransform, expected);
    EXPECT_EQ(h.plugin.bridge.fitJustEnabled, 0);

    // While the switch is on, the preview fits again over any other transform.
    h.plugin.bridge.backdropTransform.at(0, 2) = 17.0;
    h.plugin.prepare(h.set(), {0, 0, 400, 300});
    EXPECT_EQ(h.plugin.bridge.backdropTransform, expected);

    // Without a backdrop image the fit is the identity and waits for one.
    h.set().setString(Mav::Host::Param::joinFileListText({(folder.path() / "none.png").string()}),
                      kParamBackdropFiles);
    h.plugin.bridge.fitJustEnabled = 1;
    h.plugin.prepare(h.set(), {0, 0, 400, 300});
    EXPECT_EQ(h.plugin.bridge.backdropTransform, Matrix3{});
    EXPECT_EQ(h.plugin.bridge.fitJustEnabled, 1);
}

TEST_F(PrepareFrame, AnInputThatCannotBeReadMakesEverySlotReturn) {
    const fs::path broken = folder.path() / "broken.png";
    {
        std::ofstream out(broken, std::ios::binary);
        out << "\x89PNG\r\n\x1a\n not really";
    }
    for (const fs::path& path : {broken, folder.path() / "missing.png"}) {
        SCOPED_TRACE(path.string());
        PluginHarness h({path}, false);
        h.set().setBool(true, kParamEnableSoftenMatte);
        h.set().setDouble(20.0, kParamSoftenMatte);
        h.set().setBool(true, kParamAdjustLighting);
        h.set().setBool(true, kParamEnableAutoMask);
        h.plugin.bridge.keyStates.softenRadius = 0;
        h.plugin.prepare(h.set(), {0, 0, 10, 10});
        EXPECT_EQ(h.plugin.bridge.keyStates.softenRadius, 0);
        EXPECT_EQ(h.plugin.sourceProxy.firstPixel, nullptr);
        // The auto-mask is not reached (it would have nothing to work on).
        EXPECT_NO_THROW(h.plugin.analyse(h.set(), {0, 0, 10, 10}));

        ImageBuffer in(&h.plugin), out(&h.plugin), scratch(&h.plugin);
        fillBuffer(in, {0, 0, 4, 4}, {0, 0, 4, 4}, 16, patternPixel);
        out.allocate({0, 0, 4, 4}, 16);
        std::memset(out.firstPixel, 0x5a, static_cast<std::size_t>(out.rowBytes * 4));
        EXPECT_FALSE(h.plugin.render(h.set(), in, out, scratch, nullptr));
        EXPECT_EQ(out.firstPixel[0], 0x5a);
    }
}

// The preview's input view: the render entry copies the input, and the pipeline redraws it
// through the foreground transform when there is one.
TEST_F(PrepareFrame, InputViewShowsTheInputThroughTheForegroundTransform) {
    PluginHarness h({input(60, 40)}, true);
    h.set().setInt(kMaskFront, kParamMaskMode);
    const Rect domain{0, 0, 60, 40};
    ImageBuffer in(&h.plugin), out(&h.plugin), scratch(&h.plugin);
    fillBuffer(in, domain, domain, 16, [](int x, int y, double v[4]) {
        patternPixel(x, y, v);
        v[3] = ((x * 3 + y) % 50) / 49.0;
    });
    const Rect region{7, 5, 45, 33};
    out.allocate(region, 16);
    out.domain = domain;
    EXPECT_TRUE(h.plugin.render(h.set(), in, out, scratch, nullptr));
    for (int y = region.y0; y < region.y1; ++y)
        for (int x = region.x0; x < region.x1; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(channel(out, x, y, c), channel(in, x, y, c));

    // Moved by (3, -2) at full resolution, seen at render scale 1: pixel (x, y) shows the input
    // at (x - 3, y + 2); where no input lands the output is cleared.
    Matrix3 move;
    move.at(0, 2) = 3.0;
    move.at(1, 2) = -2.0;
    h.plugin.bridge.foregroundTransform = move;
    EXPECT_TRUE(h.plugin.render(h.set(), in, out, scratch, nullptr));
    for (int y = region.y0; y < region.y1; ++y)
        for (int x = region.x0; x < region.x1; ++x)
            for (int c = 0; c < 4; ++c) {
                const bool inside = x - 3 >= 0 && y + 2 < 40;
                ASSERT_EQ(channel(out, x, y, c), inside ? channel(in, x - 3, y + 2, c) : 0.0)
                    << x << "," << y << "," << c;
            }
}

TEST_F(PrepareFrame, RenderRefusesAnInputOfAnotherDepth) {
    PluginHarness h({input(8, 8)}, true);
    h.set().setInt(kMaskFront, kParamMaskMode);
    ImageBuffer in(&h.plugin), out(&h.plugin), scratch(&h.plugin);
    fillBuffer(in, {0, 0, 8, 8}, {0, 0, 8, 8}, 8, patternPixel);
    out.allocate({0, 0, 8, 8}, 16);
    EXPECT_THROW(h.plugin.render(h.set(), in, out, scratch, nullptr), Mav::Exception);
}

}  // namespace
}  // namespace vantrelo::plugin_test
