// The stroke and box overlays on screen: drawn inverted over the rendered preview while the
// button is down, at the pan offset plus the image-relative points, and gone after the release.

#include <gtest/gtest.h>

#include <wx/image.h>

#include <cstdlib>

#include "app/vant_image_preview.h"
#include "tests/app/preview_test_support.h"

namespace {

using namespace preview_test;

wxColour at(const wxImage& image, wxPoint p) {
    return wxColour(image.GetRed(p.x, p.y), image.GetGreen(p.x, p.y), image.GetBlue(p.x, p.y));
}

bool inverted(const wxImage& before, const wxImage& after, wxPoint p) {
    const wxColour a = at(before, p);
    const wxColour b = at(after, p);
    return b.Red() == 255 - a.Red() && b.Green() == 255 - a.Green() && b.Blue() == 255 - a.Blue();
}

bool unchanged(const wxImage& before, const wxImage& after, wxPoint p) {
    return at(before, p) == at(after, p);
}

// The background must be one the inversion changes, or the test proves nothing.
void expectMidGrey(const wxImage& image, wxPoint p) {
    const wxColour c = at(image, p);
    ASSERT_NE(c.Red(), 255 - c.Red());
}

TEST(PreviewOverlay, OnePointStrokeInvertsOnePixel) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.paintNow();
    const wxImage before = w.screenshot();
    const wxPoint p = w.windowOf(40, 30);
    expectMidGrey(before, p);
    w.press(p);
    w.paintNow();
    const wxImage during = w.screenshot();
    EXPECT_TRUE(inverted(before, during, p));
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (dx != 0 || dy != 0) {
                EXPECT_TRUE(unchanged(before, during, p + wxPoint(dx, dy))) << dx << ", " << dy;
            }
    w.release(p);
    w.paintNow();
    const wxImage after = w.screenshot();
    EXPECT_TRUE(unchanged(before, after, p));
}

// A drawn stroke in real pointer motion: a line through the points, each pixel inverted once.
TEST(PreviewOverlay, StrokeLineIsDrawnInverted) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolSelect);
    w.paintNow();
    const wxImage before = w.screenshot();
    const wxPoint a = w.windowOf(20, 50);
    const wxPoint b = w.windowOf(90, 50);
    const wxPoint c = w.windowOf(90, 100);
    w.realPress(a);
    w.realMove(b);
    w.realMove(c);
    w.paintNow();
    const wxImage during = w.screenshot();
    for (int x = a.x + 1; x < b.x; ++x)
        EXPECT_TRUE(inverted(before, during, {x, a.y})) << "x " << x;
    for (int y = b.y + 1; y < c.y; ++y)
        EXPECT_TRUE(inverted(before, during, {b.x, y})) << "y " << y;
    // The corner where the two segments meet is inverted, not inverted twice.
    EXPECT_TRUE(inverted(before, during, b));
    for (const wxPoint off : {wxPoint(50, 48), wxPoint(50, 52), wxPoint(88, 75), wxPoint(92, 75)})
        EXPECT_TRUE(unchanged(before, during, w.windowOf(off.x, off.y))) << off.x << ", " << off.y;
    w.realRelease();
    w.paintNow();
    const wxImage after = w.screenshot();
    for (int x = a.x + 1; x < b.x; ++x) ASSERT_TRUE(unchanged(before, after, {x, a.y})) << x;
}

// The box shows inverted as a whole: columns x .. x + w - 1 and rows y .. y + h - 1.
TEST(PreviewOverlay, BoxIsDrawnInvertedAsAWhole) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanFg);
    w.setSelection(kSelectBox);
    w.paintNow();
    const wxImage before = w.screenshot();
    const wxPoint a = w.windowOf(60, 45);
    const wxPoint b = w.windowOf(30, 30);
    w.press(a);
    w.drag(b);
    w.paintNow();
    const wxImage during = w.screenshot();
    for (int y = b.y - 2; y < a.y + 2; ++y)
        for (int x = b.x - 2; x < a.x + 2; ++x) {
            const bool inside = x >= b.x && x < a.x && y >= b.y && y < a.y;
            if (inside)
                ASSERT_TRUE(inverted(before, during, {x, y})) << x << ", " << y;
            else
                ASSERT_TRUE(unchanged(before, during, {x, y})) << x << ", " << y;
        }
    w.release(b);
    w.paintNow();
    const wxImage after = w.screenshot();
    EXPECT_TRUE(unchanged(before, after, {b.x + 5, b.y + 5}));
}

}  // namespace
