// The viewer's display conversion, its magnification, the strips of an incremental render and the
// immediate paths of the render worker, on small buffers with exact values.

#include <gtest/gtest.h>

#include <wx/dcmemory.h>
#include <wx/graphics.h>

#include "host/app/viewer_display.h"
#include "host/system/exceptions.h"
#include "tests/host/app/viewer_test_support.h"

namespace vantrelo_test {
namespace {

using Mav::Host::App::displayBitmap;
using Mav::Host::App::drawImage;
using Mav::Host::App::magnifyImage;
using Mav::Host::Param::BackgroundProgress;
using Mav::Host::Param::Viewer;

// An 8-bit buffer whose pixel (x, y) is (x, y, 90, alpha(x, y)).
void fill(ImageBuffer& image, Rect bounds, bool withAlpha, int (*alpha)(int, int)) {
    image.allocate(bounds, 8);
    image.hasAlpha = withAlpha;
    for (int y = bounds.y0; y < bounds.y1; ++y)
        for (int x = bounds.x0; x < bounds.x1; ++x) {
            std::uint8_t* p = image.pixelAddress(x, y);
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(y);
            p[2] = 90;
            p[3] = std::uint8_t(alpha(x, y));
        }
}

wxColour colourOf(const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// Without a working profile the bytes are copied; transparent pixels show the checkerboard of
// 64-pixel squares anchored at the domain's origin, opaque ones their colour.
TEST(ViewerDisplay, TransparentPixelsShowTheCheckerboardAnchoredAtTheDomain) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerHost host;  // no image read: no working profile
    ImageBuffer image(&host);
    fill(image, Rect{0, 0, 200, 70}, true, [](int x, int) { return x < 100 ? 0 : 255; });
    const wxBitmap bitmap = displayBitmap(1.0, host, Rect{0, 0, 200, 70}, image);
    ASSERT_TRUE(bitmap.IsOk());
    const wxImage shown = bitmap.ConvertToImage();
    EXPECT_EQ(colourOf(shown, 10, 10), wxColour(64, 64, 64));    // square (0, 0)
    EXPECT_EQ(colourOf(shown, 70, 10), wxColour(192, 192, 192)); // square (1, 0)
    EXPECT_EQ(colourOf(shown, 10, 66), wxColour(192, 192, 192)); // square (0, 1)
    EXPECT_EQ(colourOf(shown, 150, 20), wxColour(150, 20, 90));  // opaque: its colour

    // A region starting inside the image keeps the squares where the domain puts them.
    const wxImage part = displayBitmap(1.0, host, Rect{60, 0, 100, 10}, image).ConvertToImage();
    EXPECT_EQ(colourOf(part, 0, 0), wxColour(64, 64, 64));     // x = 60
    EXPECT_EQ(colourOf(part, 4, 0), wxColour(192, 192, 192));  // x = 64
}

TEST(ViewerDisplay, PartialAlphaBlendsOverTheSquareGrey) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerHost host;
    ImageBuffer image(&host);
    fill(image, Rect{0, 0, 80, 3}, true, [](int, int) { return 128; });
    const wxImage shown = displayBitmap(1.0, host, Rect{0, 0, 80, 3}, image).ConvertToImage();
    const auto blend = [](int grey, int c) { return (grey * 127 + c * 128) / 255; };
    EXPECT_EQ(colourOf(shown, 10, 1), wxColour(blend(64, 10), blend(64, 1), blend(64, 90)));
    EXPECT_EQ(colourOf(shown, 70, 2), wxColour(blend(192, 70), blend(192, 2), blend(192, 90)));
}

TEST(ViewerDisplay, WithoutAlphaNoCheckerboard) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerHost host;
    ImageBuffer image(&host);
    fill(image, Rect{0, 0, 20, 5}, false, [](int, int) { return 0; });
    const wxImage shown = displayBitmap(1.0, host, Rect{0, 0, 20, 5}, image).ConvertToImage();
    EXPECT_EQ(colourOf(shown, 7, 3), wxColour(7, 3, 90));
}

// A region reaching past the image is clipped to it; what is drawn keeps its place.
TEST(ViewerDisplay, DrawImageReadsOnlyInsideTheImage) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerHost host;
    ImageBuffer image(&host);
    fill(image, Rect{10, 20, 30, 35}, false, [](int, int) { return 255; });
    wxBitmap canvas(60, 60);
    {
        wxMemoryDC dc(canvas);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
        Rect r{};
        drawImage(1.0, host, r, Rect{0, 0, 40, 40}, Rect{5, 5, 45, 45}, image, gc.get());
        EXPECT_EQ(r, (Rect{5, 5, 45, 45}));
    }
    const wxImage shown = canvas.ConvertToImage();
    // Image pixel (x, y) of the region lands at (5 + x, 5 + y).
    EXPECT_EQ(colourOf(shown, 15, 25), wxColour(10, 20, 90));
    EXPECT_EQ(colourOf(shown, 34, 39), wxColour(29, 34, 90));
    EXPECT_EQ(colourOf(shown, 14, 25), wxColour(255, 255, 255));  // left of the image
    EXPECT_EQ(colourOf(shown, 15, 40), wxColour(255, 255, 255));  // below it
}

// The viewer's own magnification keeps alpha and interpolates between pixel centres.
TEST(ViewerDisplay, MagnificationKeepsAlphaAndInterpolates) {
    ViewerHost host;
    ImageBuffer source(&host);
    fill(source, Rect{0, 0, 4, 3}, true, [](int x, int) { return x * 60; });
    ImageBuffer target(&host);
    magnifyImage(target, source, Rect{0, 0, 16, 12}, 4.0f);
    EXPECT_EQ(target.bounds, (Rect{0, 0, 16, 12}));
    EXPECT_EQ(target.domain, (Rect{0, 0, 16, 12}));
    EXPECT_TRUE(target.hasAlpha);
    // Target pixel 1 is source position 0.5 / 4 - 0.5 + 0.5 = -0.125: held at the edge pixel 0.
    EXPECT_EQ(target.pixelAddress(1, 0)[0], 0);
    // Target pixel 6 is source 1.125: 7/8 of pixel 1, 1/8 of pixel 2.
    EXPECT_EQ(target.pixelAddress(6, 5)[0], 1);  // 1.125 rounds to 1
    EXPECT_EQ(target.pixelAddress(6, 5)[3], 68); // 60 x 1.125 = 67.5
    EXPECT_EQ(target.pixelAddress(15, 11)[3], 180);
    EXPECT_EQ(target.pixelAddress(15, 11)[2], 90);

    // A part of the magnified picture, away from the origin, samples the same positions.
    ImageBuffer part(&host);
    magnifyImage(part, source, Rect{5, 4, 9, 8}, 4.0f);
    for (int y = 4; y < 8; ++y)
        for (int x = 5; x < 9; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(part.pixelAddress(x, y)[c], target.pixelAddress(x, y)[c]);

    // Without alpha the colours are the same and every pixel is opaque.
    source.hasAlpha = false;
    ImageBuffer opaque(&host);
    magnifyImage(opaque, source, Rect{0, 0, 16, 12}, 4.0f);
    EXPECT_FALSE(opaque.hasAlpha);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(opaque.pixelAddress(x, y)[c], target.pixelAddress(x, y)[c]);
            EXPECT_EQ(opaque.pixelAddress(x, y)[3], 255);
        }
}

TEST(ViewerStrips, ExposedStripsCoverTheNewRegionOutsideTheOldOnce) {
    const struct {
        Rect target, old;
        std::vector<Rect> strips;
    } cases[] = {
        {{0, 0, 10, 10}, {0, 0, 10, 10}, {}},
        {{5, 0, 15, 10}, {0, 0, 10, 10}, {{10, 0, 15, 10}}},
        {{0, -3, 10, 7}, {0, 0, 10, 10}, {{0, -3, 10, 0}}},
        {{2, 2, 12, 12}, {0, 0, 10, 10}, {{10, 2, 12, 10}, {2, 10, 12, 12}}},
        {{-2, -2, 8, 8}, {0, 0, 10, 10}, {{-2, -2, 8, 0}, {-2, 0, 0, 8}}},
        // The old region far away: the strips stay inside the target and cover it whole.
        {{0, 0, 10, 10}, {50, 50, 60, 60}, {{0, 0, 10, 10}}},
        {{0, 0, 10, 10}, {20, 2, 30, 8}, {{0, 0, 10, 2}, {0, 2, 10, 8}, {0, 8, 10, 10}}},
    };
    for (const auto& c : cases) {
        const std::vector<Rect> strips = Viewer::exposedStrips(c.target, c.old);
        EXPECT_EQ(strips, c.strips) << ::testing::PrintToString(c.target) << " after "
                                    << ::testing::PrintToString(c.old);
    }
}

TEST(ViewerWorker, ImmediateRequestsRenderAtOnceAndSkipEmptyOutputs) {
    ViewerHost host;
    host.initInputs();
    Mav::Host::App::Viewer viewer(host, *host.currentParameters());
    auto& worker = viewer.worker;
    auto& set = *host.currentParameters();
    ImageBuffer input(&host), output(&host), scratch(&host);
    fill(input, Rect{0, 0, 12, 8}, true, [](int, int) { return 255; });
    output.allocate(Rect{0, 0, 12, 8}, 8);
    std::fill(output.firstPixel, output.firstPixel + output.rowBytes * 8, std::uint8_t{7});

    worker.requestRenderRect(set, input, output, scratch, nullptr, Rect{3, 2, 3, 6});
    worker.requestRenderRect(set, input, output, scratch, nullptr, Rect{30, 20, 40, 30});
    EXPECT_EQ(host.renderCalls, 0) << "empty strips never reach the render";

    worker.requestRenderRect(set, input, output, scratch, nullptr, Rect{3, 2, 7, 5});
    ASSERT_EQ(host.renderRects.size(), 1u);
    EXPECT_EQ(host.renderRects[0], (Rect{3, 2, 7, 5}));
    EXPECT_EQ(output.pixelAddress(4, 3)[0], markRed(4));
    EXPECT_EQ(output.pixelAddress(2, 3)[0], 7) << "outside the rectangle stays";
    EXPECT_EQ(output.pixelAddress(7, 4)[1], 7);

    ImageBuffer empty(&host);
    worker.requestRender(set, input, empty, scratch, nullptr);
    EXPECT_EQ(host.renderCalls, 1);
    worker.requestAnalyse(set, Rect{0, 0, 12, 8});
    EXPECT_EQ(host.analyseCalls, 1);

    EXPECT_FALSE(viewer.isThreaded());
    EXPECT_FALSE(viewer.hasPendingRequests());
    viewer.postRenderRequest();
    viewer.waitIdle();
    EXPECT_TRUE(worker.queue.empty());
    EXPECT_EQ(viewer.renderState(), 0);
    EXPECT_FALSE(viewer.isBusy());
}

TEST(ViewerWorker, ProgressSinkCountsReportsAndCancels) {
    BackgroundProgress sink;
    sink.tick(0);
    sink.tick(0);
    sink.tick(3);
    EXPECT_EQ(sink.done.load(), 2u);
    EXPECT_TRUE(sink.wakePosted);
    sink.report(0, 5, 9);
    sink.tick(0);  // a total is known: ticks no longer count
    EXPECT_EQ(sink.done.load(), 5u);
    EXPECT_EQ(sink.total.load(), 9u);
    sink.report(1, 7, 8);
    EXPECT_EQ(sink.done.load(), 5u);
    sink.cancelled = true;
    EXPECT_THROW(sink.tick(1), Mav::Interrupted);
    EXPECT_THROW(sink.report(1, 0, 0), Mav::Interrupted);
    sink.clear();
    EXPECT_FALSE(sink.cancelled);
    EXPECT_EQ(sink.done.load(), 0u);
}

TEST(ViewerWorker, PollProgressReportsAChangeOnceAndStopClearsThePanelLink) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerHost host;
    host.initInputs();
    Mav::Host::App::Viewer viewer(host, *host.currentParameters());
    EXPECT_FALSE(viewer.pollProgress());
    viewer.progressDone = 3;
    EXPECT_TRUE(viewer.pollProgress()) << "not busy: figures back to zero";
    EXPECT_EQ(viewer.progressDone, 0u);
    EXPECT_FALSE(viewer.pollProgress());

    ViewerPanel panel;
    viewer.panel = &panel;
    panel.viewer = &viewer;
    EXPECT_EQ(viewer.stop(true), &panel);
    EXPECT_EQ(panel.viewer, &viewer);
    EXPECT_TRUE(viewer.results.empty());
    viewer.stop(false);
    EXPECT_EQ(panel.viewer, nullptr);
    viewer.panel = nullptr;
}

}  // namespace
}  // namespace vantrelo_test
