// The viewer in a real window: fit, zoom about the centre, panning by drag, strip renders after a
// pan, render failures and their boxes, the screen-to-image mapping, transparency over the
// checkerboard, and the Caps Lock hold.  Screenshots read the panel's pixels from the screen.

#include <gtest/gtest.h>

#include <wx/msgdlg.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

#include "host/app/message_box.h"
#include "tests/host/app/viewer_test_support.h"

namespace vantrelo_test {
namespace {

using Mav::Host::Param::ViewerBase;

// The conversion from the file's profile to sRGB may move a channel by a step or two.
constexpr int kColourTolerance = 3;

::testing::AssertionResult nearColour(const wxColour& seen, int r, int g, int b) {
    if (std::abs(seen.Red() - r) <= kColourTolerance &&
        std::abs(seen.Green() - g) <= kColourTolerance &&
        std::abs(seen.Blue() - b) <= kColourTolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "saw (" << int(seen.Red()) << ", " << int(seen.Green()) << ", " << int(seen.Blue())
           << "), expected (" << r << ", " << g << ", " << b << ")";
}

// The render-scale image pixel that the viewer's state puts at a client position.
struct ImagePoint {
    int x;
    int y;
};
ImagePoint imageUnder(const ViewerBase& viewer, int clientX, int clientY) {
    const double k = viewer.zoom > 1.0f ? viewer.zoom : 1.0;
    return {int(std::floor((clientX - viewer.originX - viewer.panX) / k)),
            int(std::floor((clientY - viewer.originY - viewer.panY) / k))};
}

// The drawn pixel at a client position is the rendered mark of the image pixel there.
::testing::AssertionResult showsImagePixel(const Screenshot& shot, const ViewerBase& viewer,
                                           int clientX, int clientY) {
    const ImagePoint p = imageUnder(viewer, clientX, clientY);
    return nearColour(shot.at(clientX, clientY), markRed(p.x), markGreen(p.y), kMarkBlue);
}

TEST(ViewerWindow, FirstPaintFitsAndCentresTheWholePicture) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    // The inset client area is 416 x 316: the width decides.
    EXPECT_NEAR(viewer.zoom, 416.0f / 600.0f, 1e-6f);
    EXPECT_FALSE(viewer.fitPending);
    Rect domain{0, 0, 600, 300};
    domain.scale(viewer.zoom);
    ASSERT_EQ(window.host.renderRects.size(), 1u);
    EXPECT_EQ(window.host.renderRects[0], domain);
    EXPECT_EQ(viewer.panX, 0);
    EXPECT_EQ(viewer.panY, (316 - domain.y1) / 2);
    EXPECT_TRUE(window.host.inputCoveredOutput);

    const Screenshot shot = window.screenshot();
    EXPECT_TRUE(showsImagePixel(shot, viewer, 210, 160));
    EXPECT_TRUE(showsImagePixel(shot, viewer, 3, 2 + viewer.panY));
    // Above the picture the margin is black; the frame runs two pixels outside the picture.
    EXPECT_TRUE(nearColour(shot.at(210, 20), 0, 0, 0));
    EXPECT_FALSE(nearColour(shot.at(210, viewer.panY), 0, 0, 0)) << "the grey frame";
}

TEST(ViewerWindow, ZoomKeepsThePointAtTheCentreOfTheClientAreaInPlace) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    const int cx = 210, cy = 160;  // centre of the client area, the pivot
    // The full-resolution image point under the centre, which every zoom must keep there.
    const auto fullResolutionUnder = [&] {
        return std::pair{(cx - viewer.originX - viewer.panX) / double(viewer.zoom),
                         (cy - viewer.originY - viewer.panY) / double(viewer.zoom)};
    };
    const std::vector<std::pair<bool, float>> steps = {
        {true, 2.0f}, {true, 3.0f}, {true, 4.0f}, {false, 3.0f}, {false, 2.0f},
        {false, 1.0f}, {false, 0.5f}, {true, 1.0f}};
    for (const auto& [in, expected] : steps) {
        const auto before = fullResolutionUnder();
        if (in)
            viewer.zoomIn();
        else
            viewer.zoomOut();
        window.paintNow();
        ASSERT_FLOAT_EQ(viewer.zoom, expected);
        // The pan offset is whole client pixels: the point moves by less than one of them.
        const auto now = fullResolutionUnder();
        EXPECT_NEAR(now.first, before.first, 1.0 / expected) << "zoom " << expected;
        EXPECT_NEAR(now.second, before.second, 1.0 / expected) << "zoom " << expected;
        EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, cx, cy)) << "zoom " << expected;
    }
}

TEST(ViewerWindow, PanDragKeepsThePixelUnderThePointer) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    viewer.setZoom(2.0f);
    window.paintNow();
    const Screenshot before = window.screenshot();
    const wxColour grabbed = before.at(150, 120);
    const ImagePoint grabbedPixel = imageUnder(viewer, 150, 120);

    wxUIActionSimulator sim;
    const wxPoint from = window.panel->ClientToScreen(wxPoint(150, 120));
    sim.MouseMove(from);
    ViewerWindow::runEvents(3);
    sim.MouseDown();
    ViewerWindow::runEvents(3);
    EXPECT_TRUE(window.panel->dragging);
    for (int step = 1; step <= 4; ++step) {
        sim.MouseMove(from + wxSize(15 * step, 10 * step));
        ViewerWindow::runEvents(3);
    }
    sim.MouseUp();
    ViewerWindow::runEvents(5);
    EXPECT_FALSE(window.panel->dragging);

    const ImagePoint now = imageUnder(viewer, 210, 160);
    EXPECT_EQ(now.x, grabbedPixel.x);
    EXPECT_EQ(now.y, grabbedPixel.y);
    window.paintNow();
    const wxColour seen = window.screenshot().at(210, 160);
    EXPECT_TRUE(nearColour(seen, grabbed.Red(), grabbed.Green(), grabbed.Blue()));
}

TEST(ViewerWindow, PanRendersOnlyTheExposedStrips) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(1000, 700);
    auto& viewer = *window.viewer;
    viewer.setZoom(1.0f);
    // The view shows the middle of the picture, so the 256-pixel margin fits on every side.
    viewer.setPanOffset(-292, -192);
    window.paintNow();
    const Rect cached{36, 0, 964, 700};  // visible 292..708 x 192..508, widened by 256, clipped
    ASSERT_FALSE(window.host.renderRects.empty());
    EXPECT_EQ(window.host.renderRects.back(), cached);
    window.host.forgetCalls();

    // A small pan stays inside the cached margin: nothing is rendered.
    viewer.setPanOffset(-302, -182);
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 0);

    // Further right: one strip on the right, the rows of the cached result.
    viewer.setPanOffset(-592, -182);
    window.paintNow();
    ASSERT_EQ(window.host.renderRects.size(), 1u);
    EXPECT_EQ(window.host.renderRects[0], (Rect{964, 0, 1000, 700}));
    EXPECT_EQ(window.host.prepareCalls, 1);
    EXPECT_EQ(window.host.analyseCalls, 1);
    EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 400, 100));
    window.host.forgetCalls();

    // Back left by more than the margin: the left strip only; the right part stays cached.
    viewer.setPanOffset(-20, -182);
    window.paintNow();
    ASSERT_EQ(window.host.renderRects.size(), 1u);
    EXPECT_EQ(window.host.renderRects[0], (Rect{0, 0, 336, 700}));
    const Screenshot shot = window.screenshot();
    EXPECT_TRUE(showsImagePixel(shot, viewer, 10, 100));
    EXPECT_TRUE(showsImagePixel(shot, viewer, 400, 300));
}

TEST(ViewerWindow, DiagonalPanRendersOneStripPerExposedSide) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(2000, 1600);
    auto& viewer = *window.viewer;
    viewer.setZoom(1.0f);
    viewer.setPanOffset(-800, -600);
    window.paintNow();
    // Visible 800..1216 x 600..916; cached 544..1472 x 344..1172.
    window.host.forgetCalls();
    viewer.setPanOffset(-1100, -900);  // visible 1100..1516 x 900..1216
    window.paintNow();
    // New request 844..1772 x 644..1472: a bottom strip over the full new width and a right
    // strip over the rows both share.
    ASSERT_EQ(window.host.renderRects.size(), 2u);
    EXPECT_EQ(window.host.renderRects[0], (Rect{1472, 644, 1772, 1172}));
    EXPECT_EQ(window.host.renderRects[1], (Rect{844, 1172, 1772, 1472}));
    EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 405, 305));
}

// However far the picture is pushed, a pixel of it stays in view on every side.
TEST(ViewerWindow, PanLimitsKeepPartOfThePictureInView) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    viewer.setZoom(2.0f);  // picture 1200 x 600 in a view of 416 x 316
    const struct {
        int x, y, limitedX, limitedY;
    } cases[] = {{-5000, -5000, 1 - 1200, 1 - 600}, {5000, 5000, 415, 315}, {-30, 40, -30, 40}};
    for (const auto& c : cases) {
        viewer.setPanOffset(c.x, c.y);
        window.paintNow();
        EXPECT_EQ(viewer.panX, c.limitedX);
        EXPECT_EQ(viewer.panY, c.limitedY);
        EXPECT_FALSE(viewer.failed);
    }
    // At the far right the picture's last column is the view's first.
    viewer.setPanOffset(-5000, 0);
    window.paintNow();
    EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 2, 100));
}

// A render that throws: the panel draws the failure, one "Viewer Error" box (for an exception
// with a text) is shown after the paint has returned, and "Render Failed" stays until the next
// change.
TEST(ViewerWindow, RenderFailureShowsRenderFailedUntilTheNextChange) {
    VANTRELO_REQUIRE_TOOLKIT();
    const std::vector<std::tuple<ViewerHost::Throw, const char*>> cases = {
        {ViewerHost::Throw::StdException, "the keyer ran out of backdrop"},
        {ViewerHost::Throw::Text, "the key data is damaged"},
        {ViewerHost::Throw::Other, nullptr},
    };
    for (const auto& [kind, text] : cases) {
        SCOPED_TRACE(text ? text : "not an exception with a text");
        ViewerWindow window(600, 300);
        auto& viewer = *window.viewer;
        struct Box {
            std::string text, caption;
            bool duringPaint;
        };
        std::vector<Box> boxes;
        CountingPanel* panel = window.panel;
        const auto previous = Mav::Host::App::setMessageBoxHook([&](wxMessageDialog& dialog) {
            boxes.push_back({dialog.GetMessage().utf8_string(), dialog.GetTitle().utf8_string(),
                             panel->painting});
            return wxID_OK;
        });
        window.host.throwKind = kind;
        window.host.forgetCalls();
        viewer.forceRender();
        window.paintNow();
        EXPECT_EQ(window.host.renderCalls, 1);
        EXPECT_TRUE(viewer.failed);
        if (text) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, text);
            EXPECT_EQ(boxes[0].caption, "Viewer Error");
            EXPECT_FALSE(boxes[0].duringPaint);
        } else {
            EXPECT_TRUE(boxes.empty());
        }

        // Later paints show the notice and render nothing, however often they come.
        window.host.throwKind = ViewerHost::Throw::Nothing;
        window.paintNow();
        window.paintNow();
        EXPECT_EQ(window.host.renderCalls, 1);
        const Screenshot notice = window.screenshot();
        EXPECT_TRUE(nearColour(notice.at(5, 5), 0, 0, 0));
        bool red = false;
        for (int x = 100; x < 320 && !red; ++x)
            for (int y = 145; y < 175 && !red; ++y) red = notice.at(x, y).Red() > 150;
        EXPECT_TRUE(red) << "\"Render Failed\" in red";

        // The next change renders again.
        viewer.forceRender();
        window.paintNow();
        EXPECT_FALSE(viewer.failed);
        EXPECT_EQ(window.host.renderCalls, 2);
        EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 210, 160));
        EXPECT_EQ(boxes.size(), text ? 1u : 0u);
        Mav::Host::App::setMessageBoxHook(previous);
    }
}

TEST(ViewerWindow, HostMessagesOfARenderShowInOneViewerErrorBox) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    takeRecordedBoxes();
    window.host.queuedDuringRender = "backdrop.png cannot be read";
    window.viewer->forceRender();
    window.paintNow();
    const auto boxes = takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Viewer Error");
    EXPECT_EQ(boxes[0].text, "backdrop.png cannot be read");
    EXPECT_TRUE(boxes[0].hasParent);
    EXPECT_FALSE(window.viewer->failed);
}

// pixelAt reads the source at the position viewToImage names; at zoom 1 and below a client
// position survives the way to the image and back exactly, above it within one image pixel.
TEST(ViewerWindow, ScreenToImageMappingRoundTrips) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(500, 400);
    auto& viewer = *window.viewer;
    const Picture picture = patternPicture(500, 400, 1);
    for (const float zoom : {1.0f, 0.5f, 0.37f, 0.01f, 2.0f, 2.5f, 3.0f, 8.0f}) {
        SCOPED_TRACE(zoom);
        viewer.setZoom(zoom);
        window.paintNow();
        ASSERT_FLOAT_EQ(viewer.zoom, zoom);
        for (int x = -30; x < 460; x += 37) {
            for (int y = -20; y < 340; y += 29) {
                int ix = 0, iy = 0, bx = 0, by = 0;
                viewer.viewToImage(x, y, ix, iy, false);
                viewer.viewToImage(ix, iy, bx, by, true);
                if (zoom <= 1.0f) {
                    EXPECT_EQ(bx, x);
                    EXPECT_EQ(by, y);
                } else {
                    EXPECT_LE(x - bx, int(std::ceil(zoom)) - 1);
                    EXPECT_GE(x - bx, 0);
                    EXPECT_LE(y - by, int(std::ceil(zoom)) - 1);
                    EXPECT_GE(y - by, 0);
                }
                float rgba[4] = {-1, -1, -1, -1};
                const bool inside = viewer.pixelAt(rgba, x, y);
                const auto& source = viewer.fullSet.source;
                ASSERT_EQ(inside, ix >= 0 && iy >= 0 && ix < source.bounds.x1 &&
                                      iy < source.bounds.y1);
                if (!inside) {
                    EXPECT_EQ(rgba[0] + rgba[1] + rgba[2] + rgba[3], 0.0f);
                } else if (zoom >= 1.0f) {
                    // At scale 1 the source is the file's pixels unchanged.
                    const std::uint8_t* px = &picture.rgb[(std::size_t(iy) * 500 + ix) * 3];
                    EXPECT_FLOAT_EQ(rgba[0], px[0] / 255.0f);
                    EXPECT_FLOAT_EQ(rgba[1], px[1] / 255.0f);
                    EXPECT_FLOAT_EQ(rgba[2], px[2] / 255.0f);
                    EXPECT_FLOAT_EQ(rgba[3], 1.0f);
                }
            }
        }
    }
}

// Zoomed in with the picture panned right and down, the window shows area left of and above it:
// the client column (row) just before the picture maps to -1 and reads nothing, not to the first
// column (row), and the picture's first and last columns (rows) read their own pixels.  At 250 %
// the position just outside divides to -0.4, so only a floor keeps it outside.
TEST(ViewerWindow, ZoomedInPositionsJustOutsideThePictureReadNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    constexpr int kWidth = 50, kHeight = 30;  // whole client pixels at both zooms
    constexpr int kPanX = 37, kPanY = 23;
    ViewerWindow window(kWidth, kHeight);
    auto& viewer = *window.viewer;
    const Picture picture = patternPicture(kWidth, kHeight, 1);
    struct Probe {
        const char* edge;
        int clientX, clientY;  // relative to the pan origin
        int imageX, imageY;
    };
    const struct {
        float zoom;
        std::vector<Probe> probes;
    } cases[] = {
        {2.0f,
         {{"left, outside", -1, 30, -1, 15},
          {"left, inside", 0, 30, 0, 15},
          {"top, outside", 41, -1, 20, -1},
          {"top, inside", 41, 0, 20, 0},
          {"right, inside", 99, 30, 49, 15},
          {"right, outside", 100, 30, 50, 15},
          {"bottom, inside", 41, 59, 20, 29},
          {"bottom, outside", 41, 60, 20, 30}}},
        {2.5f,
         {{"left, outside", -1, 30, -1, 12},
          {"left, inside", 0, 30, 0, 12},
          {"top, outside", 41, -1, 16, -1},
          {"top, inside", 41, 0, 16, 0},
          {"right, inside", 124, 30, 49, 12},
          {"right, outside", 125, 30, 50, 12},
          {"bottom, inside", 41, 74, 16, 29},
          {"bottom, outside", 41, 75, 16, 30}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zoom);
        viewer.setZoom(c.zoom);
        viewer.setPanOffset(kPanX, kPanY);
        window.paintNow();
        ASSERT_FLOAT_EQ(viewer.zoom, c.zoom);
        ASSERT_EQ(viewer.panX, kPanX);
        ASSERT_EQ(viewer.panY, kPanY);
        for (const Probe& p : c.probes) {
            SCOPED_TRACE(p.edge);
            int ix = 0, iy = 0;
            viewer.viewToImage(kPanX + p.clientX, kPanY + p.clientY, ix, iy, false);
            EXPECT_EQ(ix, p.imageX);
            EXPECT_EQ(iy, p.imageY);
            float rgba[4] = {-1, -1, -1, -1};
            const bool inside = p.imageX >= 0 && p.imageX < kWidth && p.imageY >= 0 &&
                                p.imageY < kHeight;
            const bool read = viewer.pixelAt(rgba, kPanX + p.clientX, kPanY + p.clientY);
            EXPECT_EQ(read, inside);
            if (!inside) {
                EXPECT_EQ(rgba[0], 0.0f);
                EXPECT_EQ(rgba[1], 0.0f);
                EXPECT_EQ(rgba[2], 0.0f);
                EXPECT_EQ(rgba[3], 0.0f);
                continue;
            }
            if (!read) continue;
            const std::uint8_t* px = &picture.rgb[(std::size_t(p.imageY) * kWidth + p.imageX) * 3];
            EXPECT_FLOAT_EQ(rgba[0], px[0] / 255.0f);
            EXPECT_FLOAT_EQ(rgba[1], px[1] / 255.0f);
            EXPECT_FLOAT_EQ(rgba[2], px[2] / 255.0f);
            EXPECT_FLOAT_EQ(rgba[3], 1.0f);
        }
    }
}

// A result with alpha 128 shows the grey checkerboard through it, below and above 100%: squares
// of 64 picture pixels (client pixels above 100%), 64 and 192, anchored at the picture's corner.
TEST(ViewerWindow, HalfTransparentResultShowsTheCheckerboardAtEveryZoom) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(700, 500);
    auto& viewer = *window.viewer;
    window.host.alpha = 128;
    window.host.flatColour = true;
    const auto blended = [](int grey, int colour) { return (grey * 127 + colour * 128) / 255; };
    for (const float zoom : {0.5f, 4.0f}) {
        SCOPED_TRACE(zoom);
        viewer.setZoom(zoom);
        viewer.forceRender();
        window.paintNow();
        const Screenshot shot = window.screenshot();
        int checked = 0;
        for (int x = 10; x < 410; x += 23) {
            for (int y = 10; y < 310; y += 19) {
                const int px = x - viewer.originX - viewer.panX;
                const int py = y - viewer.originY - viewer.panY;
                const int w = int(viewer.zoomedWidth()), h = int(viewer.zoomedHeight());
                // Points near a square's edge or outside the picture say nothing.
                if (px < 2 || py < 2 || px >= w - 2 || py >= h - 2) continue;
                if (px % 64 < 2 || px % 64 > 61 || py % 64 < 2 || py % 64 > 61) continue;
                const int grey = ((px / 64) ^ (py / 64)) & 1 ? 192 : 64;
                EXPECT_TRUE(nearColour(shot.at(x, y), blended(grey, 200), blended(grey, 40),
                                       blended(grey, 120)))
                    << "client (" << x << ", " << y << ")";
                ++checked;
            }
        }
        EXPECT_GT(checked, 40);
    }
}

TEST(ViewerWindow, CapsLockHoldsTheRenderAndItsReleaseRepaints) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    static bool capsLock = true;
    const auto previous = Mav::Host::Param::setCapsLockProbe([] { return capsLock; });
    capsLock = true;
    window.host.forgetCalls();
    viewer.forceRender();
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 0);
    EXPECT_TRUE(window.panel->capsNoticeShown);
    const Screenshot held = window.screenshot();
    EXPECT_TRUE(nearColour(held.at(5, 5), 0, 0, 0));
    EXPECT_TRUE(nearColour(held.at(210, 60), 0, 0, 0)) << "no picture";

    capsLock = false;
    ViewerWindow::runEvents();
    EXPECT_FALSE(window.panel->capsNoticeShown);
    EXPECT_EQ(window.host.renderCalls, 1);
    EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 210, 160));
    Mav::Host::Param::setCapsLockProbe(previous);
}

// With the real keyboard: the Caps Lock key held down holds the render; let go, the preview renders
// again although the lock it switched on stays on.
TEST(ViewerWindow, CapsLockHoldsTheRenderOnlyWhileTheKeyIsHeld) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    ASSERT_FALSE(wxGetKeyState(WXK_CAPITAL)) << "the lock must start off";
    wxUIActionSimulator keyboard;

    keyboard.KeyDown(WXK_CAPITAL);
    ViewerWindow::runEvents();
    window.host.forgetCalls();
    viewer.forceRender();
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 0);
    EXPECT_TRUE(window.panel->capsNoticeShown);
    EXPECT_TRUE(nearColour(window.screenshot().at(210, 60), 0, 0, 0)) << "no picture";

    keyboard.KeyUp(WXK_CAPITAL);
    ViewerWindow::runEvents();
    EXPECT_TRUE(wxGetKeyState(WXK_CAPITAL)) << "the lock is on";
    EXPECT_FALSE(window.panel->capsNoticeShown);
    EXPECT_EQ(window.host.renderCalls, 1);
    EXPECT_TRUE(showsImagePixel(window.screenshot(), viewer, 210, 160));
    // Later changes render too while the lock stays on.
    viewer.forceRender();
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 2);
    EXPECT_FALSE(window.panel->capsNoticeShown);

    // The lock goes off again for the tests after this one.
    keyboard.KeyDown(WXK_CAPITAL);
    keyboard.KeyUp(WXK_CAPITAL);
    ViewerWindow::runEvents();
    EXPECT_FALSE(wxGetKeyState(WXK_CAPITAL));
}

TEST(ViewerWindow, OriginalShowsTheSourceWithoutRendering) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(500, 400);
    auto& viewer = *window.viewer;
    viewer.setZoom(1.0f);
    window.paintNow();
    window.host.forgetCalls();
    const int refreshes = window.panel->refreshes;
    viewer.setShowOriginal(true);
    viewer.setShowOriginal(true);
    EXPECT_EQ(window.panel->refreshes, refreshes + 1);
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 0);
    const Picture picture = patternPicture(500, 400, 1);
    const ImagePoint p = imageUnder(viewer, 200, 150);
    const std::uint8_t* px = &picture.rgb[(std::size_t(p.y) * 500 + p.x) * 3];
    EXPECT_TRUE(nearColour(window.screenshot().at(200, 150), px[0], px[1], px[2]));
}

TEST(ViewerWindow, APanelTooSmallPaintsBlackAndRendersNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300, wxSize(15, 200), false);
    EXPECT_EQ(window.panel->GetClientSize(), wxSize(15, 200));
    EXPECT_EQ(window.host.renderCalls, 0);
    const Screenshot shot = window.screenshot();
    for (int y = 0; y < 200; y += 13) EXPECT_TRUE(nearColour(shot.at(7, y), 0, 0, 0));
}

}  // namespace
}  // namespace vantrelo_test
