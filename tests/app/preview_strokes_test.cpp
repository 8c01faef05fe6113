// Sampling strokes in the interactive preview, in a real window: which events a stroke sends,
// which pixels they were read from, box blocks, and presses that pan instead of sampling.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/vant_image_preview.h"
#include "kernels/matrix3.h"
#include "tests/app/preview_test_support.h"

namespace {

using namespace preview_test;
using vantrelo::Matrix3;

Rgb16 colourOf(const SampleRecord& r) { return r.colour; }

// Every keying tool sets its own sample mode on press; a point stroke sends phase 0 with the
// colour under the press, phase 1 per motion with the colour under the pointer, and one phase 2.
TEST(PreviewStroke, PointStrokeOfEveryKeyingToolSendsTheColoursUnderThePointer) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    ASSERT_FLOAT_EQ(w.viewer->zoom, 1.0f);
    const struct {
        std::int32_t tool;
        int mode;
    } cases[] = {{kToolSelect, vantrelo::SampleSelect},
                 {kToolCleanBg, vantrelo::SampleCleanBg},
                 {kToolCleanFg, vantrelo::SampleCleanFg},
                 {kToolSpillMinus, vantrelo::SampleSpillMinus},
                 {kToolSpillSponge, vantrelo::SampleSpillSponge},
                 {kToolRestoreDetail, vantrelo::SampleRestoreDetail},
                 {kToolMakeTrans, vantrelo::SampleMakeTrans},
                 {kToolMatteSponge, vantrelo::SampleMatteSponge},
                 {kToolFineTunePick, vantrelo::SampleFineTunePick}};
    // Pixels of the fixture the stroke passes; none on a diagonal, so rows and columns differ.
    const wxPoint path[] = {{12, 7}, {40, 9}, {41, 60}, {150, 101}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        w.setTool(c.tool);
        w.setSelection(kSelectPoint);
        w.bridge.sampleMode = -1;
        w.forget();
        w.realPress(w.windowOf(path[0].x, path[0].y));
        EXPECT_EQ(w.bridge.sampleMode, c.mode);
        for (int k = 1; k < 4; ++k) w.realMove(w.windowOf(path[k].x, path[k].y));
        w.realRelease();

        ASSERT_EQ(w.samples.size(), 5u);
        EXPECT_EQ(w.samples[0].phase, 0);
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(w.samples[k].phase, k == 0 ? 0 : 1);
            EXPECT_TRUE(w.samples[k].valid);
            EXPECT_FALSE(w.samples[k].hasBlock);
            EXPECT_EQ(colourOf(w.samples[k]), fixtureSample(path[k].x, path[k].y));
            // The stroke point of that sample is stored image-relative.
            ASSERT_EQ(w.samples[k].strokeAtSend.size(), std::size_t(k + 1));
            EXPECT_EQ(w.samples[k].strokeAtSend.back(),
                      (VantImagePreview::Point{path[k].x, path[k].y}));
        }
        EXPECT_EQ(w.samples[4].phase, 2);
        EXPECT_FALSE(w.samples[4].valid);
        EXPECT_EQ(colourOf(w.samples[4]), (Rgb16{{0, 0, 0, 0}}));
        EXPECT_TRUE(w.preview->strokePoints.empty());
        EXPECT_FALSE(w.preview->HasCapture());
        EXPECT_FALSE(w.preview->dragging);
        EXPECT_TRUE(w.params.empty());
    }
}

TEST(PreviewStroke, ClickWithoutMotionSendsStartAndEndOnly) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.realPress(w.windowOf(100, 3));
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 2u);
    EXPECT_EQ(w.samples[0].phase, 0);
    EXPECT_TRUE(w.samples[0].valid);
    EXPECT_EQ(colourOf(w.samples[0]), fixtureSample(100, 3));
    EXPECT_EQ(w.samples[1].phase, 2);
}

// The second of two quick clicks reaches the window as a double click: it is a stroke too.
TEST(PreviewStroke, QuickSecondClickSamplesAgain) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.realPress(w.windowOf(70, 20));
    w.realRelease();
    w.realPress(w.windowOf(70, 20));
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 4u);
    EXPECT_EQ(w.samples[2].phase, 0);
    EXPECT_EQ(colourOf(w.samples[2]), fixtureSample(70, 20));
    EXPECT_EQ(w.samples[3].phase, 2);
}

// Off the picture nothing can be read: the stroke goes on with invalid zero colours.
TEST(PreviewStroke, PointsOffThePictureAreSentInvalidAndZero) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanFg);
    w.realPress(w.windowOf(-5, 10));
    w.realMove(w.windowOf(5, 10));
    w.realMove(w.windowOf(kImageWidth, 10));
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 4u);
    EXPECT_FALSE(w.samples[0].valid);
    EXPECT_EQ(colourOf(w.samples[0]), (Rgb16{{0, 0, 0, 0}}));
    EXPECT_TRUE(w.samples[1].valid);
    EXPECT_EQ(colourOf(w.samples[1]), fixtureSample(5, 10));
    EXPECT_FALSE(w.samples[2].valid);
    EXPECT_EQ(colourOf(w.samples[2]), (Rgb16{{0, 0, 0, 0}}));
    EXPECT_EQ(w.samples[3].phase, 2);
}

// A box covers columns x .. x + w - 1 and rows y .. y + h - 1 of the two corners, and goes as one
// block between a start and an end event.
TEST(PreviewStroke, BoxSendsItsColumnsAndRowsAsOneBlock) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolSelect);
    w.setSelection(kSelectBox);
    // Dragged up and to the left: the top-left is the smaller of each coordinate.
    w.realPress(w.windowOf(57, 33));
    w.realMove(w.windowOf(50, 30));
    EXPECT_TRUE(w.samples.empty());
    w.realRelease();

    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[0].phase, 0);
    EXPECT_FALSE(w.samples[0].valid);
    EXPECT_FALSE(w.samples[0].hasBlock);
    const SampleRecord& b = w.samples[1];
    EXPECT_EQ(b.phase, 1);
    EXPECT_TRUE(b.valid);
    ASSERT_TRUE(b.hasBlock);
    ASSERT_EQ(b.blockWidth, 7);
    ASSERT_EQ(b.blockHeight, 3);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(b.block[j * 7 + i], fixtureSample(50 + i, 30 + j)) << i << ", " << j;
    EXPECT_EQ(w.samples[2].phase, 2);
    EXPECT_FALSE(w.samples[2].hasBlock);
    EXPECT_EQ(w.preview->boxCorners[0], (VantImagePreview::Point{}));
    EXPECT_EQ(w.preview->boxCorners[1], (VantImagePreview::Point{}));
}

// The same box over a corner of the picture is trimmed to the pixels that can be read; boxes that
// are one pixel high or wide, lie over one column of the picture, or have no extent send nothing.
TEST(PreviewStroke, BoxIsTrimmedToThePictureAndThinBoxesSendNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.setSelection(kSelectBox);
    const struct {
        wxPoint from, to;  // fixture coordinates of the two corners
        int cols, rows;    // 0: nothing sent
        wxPoint first;     // fixture pixel of the block's first element
    } cases[] = {
        {{kImageWidth - 4, kImageHeight - 3}, {kImageWidth + 20, kImageHeight + 9}, 4, 3,
         {kImageWidth - 4, kImageHeight - 3}},
        {{-6, -2}, {3, 2}, 3, 2, {0, 0}},
        {{10, 10}, {12, 12}, 2, 2, {10, 10}},
        {{10, 10}, {30, 11}, 0, 0, {}},
        {{10, 10}, {11, 40}, 0, 0, {}},
        {{kImageWidth - 1, 5}, {kImageWidth + 30, 25}, 0, 0, {}},
        {{60, 60}, {60, 60}, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from.x << "," << c.from.y << " - " << c.to.x << ","
                                          << c.to.y);
        w.forget();
        w.press(w.windowOf(c.from.x, c.from.y));
        w.drag(w.windowOf(c.to.x, c.to.y));
        w.release(w.windowOf(c.to.x, c.to.y));
        if (c.cols == 0) {
            EXPECT_TRUE(w.samples.empty());
            continue;
        }
        ASSERT_EQ(w.samples.size(), 3u);
        ASSERT_EQ(w.samples[1].blockWidth, c.cols);
        ASSERT_EQ(w.samples[1].blockHeight, c.rows);
        for (int j = 0; j < c.rows; ++j)
            for (int i = 0; i < c.cols; ++i)
                EXPECT_EQ(w.samples[1].block[j * c.cols + i],
                          fixtureSample(c.first.x + i, c.first.y + j));
    }
}

// The box is the press's: switching to box selection during a point stroke samples no box from
// the corners' resting place (0, 0), and a box begun as such ends as a box.
TEST(PreviewStroke, SelectionChangedDuringAStrokeKeepsTheStrokeItBegan) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.press(w.windowOf(30, 30));
    w.setSelection(kSelectBox);
    w.drag(w.windowOf(40, 35));
    w.release(w.windowOf(40, 35));
    ASSERT_EQ(w.samples.size(), 3u);
    for (const SampleRecord& r : w.samples) EXPECT_FALSE(r.hasBlock);
    EXPECT_EQ(w.samples[1].colour, fixtureSample(40, 35));
    EXPECT_EQ(w.samples[2].phase, 2);

    w.forget();
    w.press(w.windowOf(30, 30));
    w.setSelection(kSelectPoint);
    w.drag(w.windowOf(33, 32));
    w.release(w.windowOf(33, 32));
    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[1].blockWidth, 3);
    EXPECT_EQ(w.samples[1].blockHeight, 2);
    EXPECT_EQ(w.samples[1].block[0], fixtureSample(30, 30));
}

// A press made as a pan never becomes a stroke, even when the space bar is let go on the way.
TEST(PreviewStroke, PressWithTheSpaceBarHeldPansWithoutAnySample) {
    VANTRELO_REQUIRE_TOOLKIT();
    for (std::int32_t selection : {kSelectPoint, kSelectBox}) {
        SCOPED_TRACE(selection);
        PreviewWindow w;
        w.setTool(kToolCleanBg);
        w.setSelection(selection);
        const std::int32_t panX = w.viewer->panX;
        const std::int32_t panY = w.viewer->panY;
        const wxPoint start = w.windowOf(20, 20);
        w.spaceDown();
        w.realPress(start);
        w.realMove(start + wxPoint(15, 8));
        EXPECT_EQ(w.viewer->panX, panX + 15);
        EXPECT_EQ(w.viewer->panY, panY + 8);
        w.spaceUp();
        w.realMove(start + wxPoint(25, -4));
        EXPECT_EQ(w.viewer->panX, panX + 25);
        EXPECT_EQ(w.viewer->panY, panY - 4);
        w.realRelease();
        EXPECT_TRUE(w.samples.empty());
        EXPECT_TRUE(w.params.empty());
        EXPECT_TRUE(w.preview->strokePoints.empty());
        EXPECT_FALSE(w.preview->HasCapture());
    }
}

// Space pressed during a real stroke pans for the motions it is held; the stroke still ends.
TEST(PreviewStroke, SpaceDuringAStrokePansAndTheStrokeStillEnds) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolMakeTrans);
    const std::int32_t panX = w.viewer->panX;
    const wxPoint start = w.windowOf(20, 20);
    w.realPress(start);
    w.realMove(w.windowOf(30, 20));
    w.spaceDown();
    w.realMove(start + wxPoint(40, 0));
    EXPECT_EQ(w.viewer->panX, panX + 40);
    w.spaceUp();
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[0].phase, 0);
    EXPECT_EQ(w.samples[1].phase, 1);
    EXPECT_EQ(colourOf(w.samples[1]), fixtureSample(30, 20));
    EXPECT_EQ(w.samples[2].phase, 2);
}

TEST(PreviewStroke, PanToolDragsTheViewAndSamplesNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolPanView);
    w.bridge.sampleMode = vantrelo::SampleMakeTrans;
    const std::int32_t panX = w.viewer->panX;
    const std::int32_t panY = w.viewer->panY;
    w.realPress(w.windowOf(50, 50));
    w.realMove(w.windowOf(50, 50) + wxPoint(-30, 12));
    w.realRelease();
    EXPECT_EQ(w.viewer->panX, panX - 30);
    EXPECT_EQ(w.viewer->panY, panY + 12);
    EXPECT_TRUE(w.samples.empty());
    EXPECT_TRUE(w.params.empty());
    EXPECT_EQ(w.bridge.sampleMode, vantrelo::SampleMakeTrans);
}

// After a pan the stroke points stay on the picture: they are image-relative.
TEST(PreviewStroke, SamplesFollowThePanOffset) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.viewer->setPanOffset(w.viewer->panX + 17, w.viewer->panY - 9);
    w.settle();
    w.setTool(kToolCleanBg);
    w.realPress(w.windowOf(33, 44));
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 2u);
    EXPECT_EQ(colourOf(w.samples[0]), fixtureSample(33, 44));
    EXPECT_EQ(w.samples[0].strokeAtSend.front(), (VantImagePreview::Point{33, 44}));
}

// Losing the capture ends the drag as a release would: the point stroke ends, the box is sampled.
TEST(PreviewStroke, LosingTheCaptureEndsTheStroke) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.press(w.windowOf(10, 10));
    w.drag(w.windowOf(11, 12));
    wxMouseCaptureLostEvent lost(w.preview->GetId());
    lost.SetEventObject(w.preview);
    if (w.preview->HasCapture()) w.preview->ReleaseMouse();
    w.preview->GetEventHandler()->ProcessEvent(lost);
    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[2].phase, 2);
    EXPECT_FALSE(w.preview->dragging);
    EXPECT_TRUE(w.preview->strokePoints.empty());

    w.forget();
    w.setSelection(kSelectBox);
    w.press(w.windowOf(10, 10));
    w.drag(w.windowOf(13, 12));
    if (w.preview->HasCapture()) w.preview->ReleaseMouse();
    w.preview->GetEventHandler()->ProcessEvent(lost);
    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[1].blockWidth, 3);
    EXPECT_EQ(w.samples[1].blockHeight, 2);
    // A later motion with the button still down is no drag of this panel any more.
    w.forget();
    w.drag(w.windowOf(20, 20));
    EXPECT_TRUE(w.samples.empty());
}

}  // namespace
