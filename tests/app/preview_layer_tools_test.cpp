// The preview's layer and view tools in a real window: move, rotate and scale drags write the
// selected layers' matrices in the engine adapter and announce parameters 27 to 29; the zoom tool
// zooms by steps of 40 pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "app/vant_image_preview.h"
#include "host/param/param_events.h"
#include "kernels/matrix3.h"
#include "tests/app/preview_test_support.h"

namespace {

using namespace preview_test;
using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGED_LIVE;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using vantrelo::Matrix3;

Matrix3 translation(double tx, double ty) {
    Matrix3 m;
    m.at(0, 2) = tx;
    m.at(1, 2) = ty;
    return m;
}

Matrix3 scaling(double sx, double sy) {
    Matrix3 m;
    m.at(0, 0) = sx;
    m.at(1, 1) = sy;
    return m;
}

// A start matrix that is not the identity, so a delta written over it instead of composed with
// it shows.
Matrix3 startMatrix() {
    Matrix3 m = scaling(1.5, 0.75);
    m.at(0, 2) = 4.0;
    m.at(1, 2) = -3.0;
    return m;
}

void expectNear(const Matrix3& actual, const Matrix3& expected, double tolerance = 1e-12) {
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

// The window position of the displayed picture's centre, around which rotate and scale work.
wxPoint centreOf(PreviewWindow& w) {
    const VantImagePreview::Point o = w.preview->imageOrigin();
    return {o.x + static_cast<int>(w.preview->scaledWidth() / 2),
            o.y + static_cast<int>(w.preview->scaledHeight() / 2)};
}

struct Announced {
    wxEventType type;
    std::uint64_t index;
    bool operator==(const Announced&) const = default;
};

std::vector<Announced> announced(const PreviewWindow& w) {
    std::vector<Announced> out;
    for (const ParamEventRecord& r : w.params) out.push_back({r.type, r.index});
    return out;
}

void PrintTo(const Announced& a, std::ostream* out) {
    const char* name = a.type == EVT_PARAM_CHANGING       ? "changing"
                       : a.type == EVT_PARAM_CHANGED_LIVE ? "live"
                       : a.type == EVT_PARAM_CHANGED      ? "changed"
                                                          : "other";
    *out << name << " " << a.index;
}

// Moving with real pointer input: each motion applies the whole drag since the press to the
// matrices of the press, in full-resolution pixels (the pointer's way divided by the zoom).
TEST(PreviewLayerTools, MoveComposesTheDragWithTheMatricesOfThePress) {
    VANTRELO_REQUIRE_TOOLKIT();
    const struct {
        float zoom;
        bool backdrop, subject, overlay;
    } cases[] = {{1.0f, false, true, false}, {0.5f, true, false, true}, {2.0f, true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "zoom " << c.zoom << " targets " << c.backdrop
                                          << c.subject << c.overlay);
        PreviewWindow w;
        w.viewer->setZoom(c.zoom);
        w.settle();
        ASSERT_FLOAT_EQ(w.viewer->zoom, c.zoom);
        w.setTool(kToolMoveLayers);
        w.setTargets(c.backdrop, c.subject, c.overlay);
        const Matrix3 start = startMatrix();
        w.bridge.backdropTransform = start;
        w.bridge.foregroundTransform = start;
        w.bridge.overlayTransform = start;
        w.bridge.sampleMode = vantrelo::SampleCleanBg;

        const wxPoint p = w.windowOf(40, 30);
        w.realPress(p);
        w.realMove(p + wxPoint(10, 5));
        w.realMove(p + wxPoint(24, -6));
        const Matrix3 moved =
            vantrelo::multiplyMatrix3(start, translation(24 / c.zoom, -6 / c.zoom));
        expectNear(w.bridge.backdropTransform, c.backdrop ? moved : start);
        expectNear(w.bridge.foregroundTransform, c.subject ? moved : start);
        expectNear(w.bridge.overlayTransform, c.overlay ? moved : start);
        w.realRelease();

        std::vector<std::uint64_t> targets;
        if (c.backdrop) targets.push_back(27);
        if (c.subject) targets.push_back(28);
        if (c.overlay) targets.push_back(29);
        std::vector<Announced> expected;
        for (std::uint64_t t : targets) expected.push_back({EVT_PARAM_CHANGING, t});
        for (int motion = 0; motion < 2; ++motion)
            for (std::uint64_t t : targets) expected.push_back({EVT_PARAM_CHANGED_LIVE, t});
        for (std::uint64_t t : targets) expected.push_back({EVT_PARAM_CHANGED, t});
        EXPECT_EQ(announced(w), expected);
        // Every announcement is made inside a change group of the viewer's set.
        for (const ParamEventRecord& r : w.params) EXPECT_GT(r.depth, 0);
        EXPECT_EQ(w.host.currentParameters()->changeDepth(), 0);
        EXPECT_TRUE(w.samples.empty());
        EXPECT_EQ(w.bridge.sampleMode, vantrelo::SampleCleanBg);
    }
}

// With Shift alone only the larger component of the move is kept (a tie keeps the vertical one);
// with another modifier as well the move is free.
TEST(PreviewLayerTools, ShiftConstrainsTheMoveToOneAxis) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolMoveLayers);
    w.setTargets(false, true, false);
    const struct {
        wxPoint by;
        int modifiers;
        double tx, ty;
    } cases[] = {{{30, -30}, wxMOD_SHIFT, 0, -30},
                 {{31, -30}, wxMOD_SHIFT, 31, 0},
                 {{-5, 12}, wxMOD_SHIFT, 0, 12},
                 {{31, -30}, wxMOD_SHIFT | wxMOD_CONTROL, 31, -30},
                 {{31, -30}, 0, 31, -30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.by.x << "," << c.by.y << " modifiers " << c.modifiers);
        w.bridge.foregroundTransform = Matrix3{};
        const wxPoint p = w.windowOf(50, 50);
        w.press(p);
        w.drag(p + c.by, c.modifiers);
        w.release(p + c.by);
        expectNear(w.bridge.foregroundTransform, translation(c.tx, c.ty));
    }
}

// Rotation follows the pointer around the picture's centre: a quarter turn of the pointer
// clockwise on the screen turns the layer a quarter turn clockwise.  With Shift it snaps to 45
// degrees.
TEST(PreviewLayerTools, RotateFollowsThePointerAroundThePictureCentre) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolRotateLayers);
    w.setTargets(false, false, true);
    const wxPoint c = centreOf(w);
    const struct {
        wxPoint from, to;
        int modifiers;
        double degrees;  // counter-clockwise on the screen, as rotationMatrix counts
    } cases[] = {{{100, 0}, {0, 100}, 0, -90},
                 {{0, -50}, {50, 0}, 0, -90},
                 {{100, 0}, {94, -34}, wxMOD_SHIFT, 0},
                 {{100, 0}, {90, -44}, wxMOD_SHIFT, 45},
                 {{100, 0}, {-100, 1}, wxMOD_SHIFT, -180},
                 {{100, 0}, {94, -34}, 0, std::atan2(34.0, 94.0) * 180 / std::numbers::pi}};
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::Message()
                     << k.to.x << "," << k.to.y << " modifiers " << k.modifiers);
        w.bridge.overlayTransform = Matrix3{};
        w.press(c + k.from);
        w.drag(c + k.to, k.modifiers);
        w.release(c + k.to);
        expectNear(w.bridge.overlayTransform,
                   vantrelo::rotationMatrix(k.degrees * std::numbers::pi / 180));
    }
    // The quarter turn, seen on a point: right of the origin goes below it (rows grow downwards).
    w.bridge.overlayTransform = Matrix3{};
    w.press(c + wxPoint(100, 0));
    w.drag(c + wxPoint(0, 100));
    w.release(c + wxPoint(0, 100));
    const Matrix3& m = w.bridge.overlayTransform;
    EXPECT_NEAR(m.at(0, 0) * 1 + m.at(0, 1) * 0, 0.0, 1e-12);
    EXPECT_NEAR(m.at(1, 0) * 1 + m.at(1, 1) * 0, 1.0, 1e-12);
}

// Scaling divides the pointer's offset from the centre by the press's, per axis (1 on an axis the
// press lay on) or, with Shift, by length; crossing the centre mirrors.
TEST(PreviewLayerTools, ScaleDividesThePointerOffsetByThePressOffset) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolScaleLayers);
    w.setTargets(true, false, false);
    const wxPoint c = centreOf(w);
    const struct {
        wxPoint from, to;
        int modifiers;
        double sx, sy;
    } cases[] = {{{40, 20}, {80, 10}, 0, 2.0, 0.5},
                 {{0, 20}, {30, 40}, 0, 1.0, 2.0},
                 {{40, 0}, {-20, 30}, 0, -0.5, 1.0},
                 {{40, 20}, {-20, 20}, 0, -0.5, 1.0},
                 {{30, 40}, {60, 80}, wxMOD_SHIFT, 2.0, 2.0},
                 {{30, 40}, {-3, -4}, wxMOD_SHIFT, -0.1, -0.1},
                 {{0, 0}, {60, 80}, wxMOD_SHIFT, 1.0, 1.0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.from.x << "," << k.from.y << " to " << k.to.x << ","
                                          << k.to.y << " modifiers " << k.modifiers);
        w.bridge.backdropTransform = Matrix3{};
        w.press(c + k.from);
        w.drag(c + k.to, k.modifiers);
        w.release(c + k.to);
        expectNear(w.bridge.backdropTransform, scaling(k.sx, k.sy));
    }
}

// A press and release without motion still opens and closes the change of every target.
TEST(PreviewLayerTools, ClickWithALayerToolAnnouncesTheTargetsAndChangesNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    for (std::int32_t tool : {kToolRotateLayers, kToolScaleLayers}) {
        SCOPED_TRACE(tool);
        w.forget();
        w.setTool(tool);
        w.setTargets(true, false, true);
        w.bridge.backdropTransform = startMatrix();
        w.realPress(w.windowOf(10, 10));
        w.realRelease();
        EXPECT_EQ(announced(w), (std::vector<Announced>{{EVT_PARAM_CHANGING, 27},
                                                         {EVT_PARAM_CHANGING, 29},
                                                         {EVT_PARAM_CHANGED, 27},
                                                         {EVT_PARAM_CHANGED, 29}}));
        EXPECT_EQ(w.bridge.backdropTransform, startMatrix());
        EXPECT_TRUE(w.bridge.overlayTransform.isIdentity());
        w.settle();  // the next press is no double click
    }
}

// Without a target the move tool neither announces nor changes anything; with the space bar it
// pans.  A layer tool's press made with the space bar held pans too, and changes no layer.
TEST(PreviewLayerTools, PressesThatAreNoLayerChangeLeaveTheMatrices) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolMoveLayers);
    w.setTargets(false, false, false);
    w.press(w.windowOf(20, 20));
    w.drag(w.windowOf(60, 40));
    w.release(w.windowOf(60, 40));
    EXPECT_TRUE(w.params.empty());
    EXPECT_TRUE(w.bridge.backdropTransform.isIdentity());
    EXPECT_TRUE(w.bridge.foregroundTransform.isIdentity());
    EXPECT_TRUE(w.bridge.overlayTransform.isIdentity());

    for (std::int32_t tool : {kToolMoveLayers, kToolRotateLayers, kToolScaleLayers}) {
        SCOPED_TRACE(tool);
        w.setTool(tool);
        w.setTargets(tool != kToolMoveLayers, true, false);
        const std::int32_t panX = w.viewer->panX;
        const std::int32_t panY = w.viewer->panY;
        w.spaceDown();
        const wxPoint p = w.windowOf(20, 20);
        w.press(p);
        w.drag(p + wxPoint(9, 4));
        w.release(p + wxPoint(9, 4));
        w.spaceUp();
        EXPECT_EQ(w.viewer->panX, panX + 9);
        EXPECT_EQ(w.viewer->panY, panY + 4);
        EXPECT_TRUE(w.params.empty());
        EXPECT_TRUE(w.bridge.foregroundTransform.isIdentity());
        EXPECT_TRUE(w.bridge.backdropTransform.isIdentity());
    }
}

// The zoom tool: one step per 40 pixels from the press, right zooms out, left zooms in.
TEST(PreviewLayerTools, ZoomToolStepsByFortyPixels) {
    VANTRELO_REQUIRE_TOOLKIT();
    const struct {
        int dx;
        float factor;
    } cases[] = {{39, 1.0f}, {40, 0.9f}, {79, 0.9f}, {80, 0.9f * 0.9f}, {-39, 1.0f},
                 {-40, 1.1111112f}, {-80, 1.1111112f * 1.1111112f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dx);
        PreviewWindow w;
        w.setTool(kToolZoomView);
        w.viewer->setZoom(0.5f);
        w.settle();
        const wxPoint p = w.windowOf(60, 40);
        w.realPress(p);
        w.realMove(p + wxPoint(c.dx, 7));
        EXPECT_FLOAT_EQ(w.viewer->zoom, 0.5f * c.factor);
        w.realRelease();
        EXPECT_TRUE(w.samples.empty());
        EXPECT_TRUE(w.params.empty());
    }
}

}  // namespace
