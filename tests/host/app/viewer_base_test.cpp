// The viewer's zoom ladder and clamp, the pivot of zoom changes, the undo commands and the view
// records.  No picture is needed: the viewer runs without a window except where a repaint or a
// transfer to the controls is counted.

#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include <cmath>
#include <limits>

#include "host/param/undo.h"
#include "tests/host/app/viewer_test_support.h"

namespace vantrelo_test {
namespace {

using Mav::Host::Param::floatsNearlyEqual;
using Mav::Host::Param::ViewRecord;

struct Headless {
    Headless() {
        host.initInputs();
        viewer = std::make_unique<Mav::Host::App::Viewer>(host, *host.currentParameters());
    }
    ViewerHost host;
    std::unique_ptr<Mav::Host::App::Viewer> viewer;
};

TEST(ViewerZoom, LadderStepsFromTheNearestStep) {
    Headless h;
    auto& viewer = *h.viewer;
    // {start, after zoom in, after zoom out}
    const struct {
        float start, in, out;
    } cases[] = {
        {1.0f, 2.0f, 0.5f},        {2.0f, 3.0f, 1.0f},       {0.5f, 1.0f, 1.0f / 3.0f},
        {0.8f, 2.0f, 0.5f},        {1.2f, 2.0f, 0.5f},       {1.0f / 3.0f, 0.5f, 0.25f},
        {7.6f, 8.0f, 7.0f},        {0.3f, 0.5f, 0.25f},      {1.0f / 99.0f, 1.0f / 98.0f, 0.01f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        viewer.zoom = c.start;
        viewer.zoomIn();
        EXPECT_FLOAT_EQ(viewer.zoom, c.in);
        viewer.zoom = c.start;
        viewer.zoomOut();
        EXPECT_FLOAT_EQ(viewer.zoom, c.out);
    }
}

TEST(ViewerZoom, ClampsToTheRecordLimitsAndRefusesNaN) {
    Headless h;
    auto& viewer = *h.viewer;
    const struct {
        float asked, zoom, percent;
    } cases[] = {
        {0.001f, 0.01f, 1.0f},
        {20.0f, 8.0f, 800.0f},
        {-3.0f, 0.01f, 1.0f},
        {std::numeric_limits<float>::infinity(), 8.0f, 800.0f},
        {2.5f, 2.5f, 250.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        viewer.zoom = 1.0f;
        viewer.setZoom(c.asked);
        EXPECT_FLOAT_EQ(viewer.zoom, c.zoom);
        EXPECT_FLOAT_EQ(static_cast<float>(viewer.zoomRecord.value().getDouble()), c.percent);
    }
    viewer.setZoom(std::nanf(""));
    EXPECT_FLOAT_EQ(viewer.zoom, 2.5f);
    EXPECT_DOUBLE_EQ(viewer.zoomRecord.value().getDouble(), 250.0);

    // At the ends of the ladder a further step clamps to where the viewer is: nothing changes.
    viewer.setZoom(8.0f);
    viewer.panX = 17;
    viewer.zoomDirty = false;
    viewer.zoomIn();
    EXPECT_FLOAT_EQ(viewer.zoom, 8.0f);
    EXPECT_EQ(viewer.panX, 17);
    viewer.setZoom(0.01f);
    viewer.panX = 17;
    viewer.zoomOut();
    EXPECT_FLOAT_EQ(viewer.zoom, 0.01f);
    EXPECT_EQ(viewer.panX, 17);
}

TEST(ViewerZoom, PivotIsTheCentreOfTheDrawingRectangle) {
    Headless h;
    auto& viewer = *h.viewer;
    // Drawing rectangle from (2, 2): centre 100 is 98 from its corner.
    viewer.centreX = 100;
    viewer.centreY = 60;
    viewer.panX = 40;
    viewer.panY = -10;
    viewer.setZoom(2.0f);
    EXPECT_EQ(viewer.panX, 98 + (40 - 98) * 2);
    EXPECT_EQ(viewer.panY, 58 + (-10 - 58) * 2);
}

TEST(ViewerZoom, OnlyChangesAtOrBelowOneRebuildTheCache) {
    Headless h;
    auto& viewer = *h.viewer;
    const struct {
        float from, to;
        bool rebuilds;
    } cases[] = {{2.0f, 3.0f, false}, {1.0f, 0.5f, true}, {0.5f, 1.0f, true}, {1.0f, 4.0f, false},
                 {0.25f, 0.5f, true}};
    for (const auto& c : cases) {
        viewer.zoom = c.from;
        viewer.failed = true;
        viewer.zoomDirty = false;
        viewer.setZoom(c.to);
        EXPECT_EQ(viewer.zoomDirty, c.rebuilds) << c.from << " -> " << c.to;
        EXPECT_EQ(viewer.failed, !c.rebuilds) << c.from << " -> " << c.to;
    }
}

TEST(ViewerZoom, FloatsNearlyEqualWithinOneUnitOfTheLastPlace) {
    EXPECT_TRUE(floatsNearlyEqual(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(floatsNearlyEqual(1.0f, std::nextafter(std::nextafter(1.0f, 2.0f), 2.0f)));
    EXPECT_TRUE(floatsNearlyEqual(0.0f, 0.0f));
    EXPECT_FALSE(floatsNearlyEqual(0.0f, 1e-30f));
}

TEST(ViewerCommands, UndoWithoutStepsDoesNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(300, 200);
    auto& viewer = *window.viewer;
    const int refreshes = window.panel->refreshes;
    viewer.views[0].needsRender = false;
    viewer.failed = true;
    EXPECT_FALSE(viewer.canUndo());
    EXPECT_FALSE(viewer.undo());
    EXPECT_FALSE(viewer.redo());
    EXPECT_FALSE(viewer.revertToCheckpoint());
    EXPECT_EQ(window.panel->refreshes, refreshes);
    EXPECT_TRUE(viewer.failed);
    EXPECT_FALSE(viewer.views[0].needsRender);
}

// Undo, redo and revert apply the set's history, force a full render and show the restored
// values in the window's controls.
TEST(ViewerCommands, UndoRedoAndRevertForceARenderAndTransferToTheControls) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(300, 200);
    auto& viewer = *window.viewer;
    auto& set = *window.host.currentParameters();
    double shown = -1.0;
    // A control of the frame whose validator reports what it is shown.
    struct Probe : wxValidator {
        Probe(Mav::Host::Param::Parameters& set, double& shown) : set(set), shown(shown) {}
        wxObject* Clone() const override { return new Probe(set, shown); }
        bool TransferToWindow() override {
            shown = set.getDouble(0);
            return true;
        }
        bool TransferFromWindow() override { return true; }
        bool Validate(wxWindow*) override { return true; }
        Mav::Host::Param::Parameters& set;
        double& shown;
    };
    auto* control = new wxTextCtrl(window.frame, wxID_ANY);
    control->SetValidator(Probe(set, shown));

    viewer.setUndoCheckpoint();
    EXPECT_EQ(set.undoCheckpoint(), 1u);
    for (double value : {2.0, 3.0}) {
        Mav::Host::Param::recordChange(set, 0);
        set.setDouble(value, 0);
    }
    ASSERT_TRUE(viewer.canUndo());
    EXPECT_FALSE(viewer.canRedo());

    window.host.forgetCalls();
    viewer.failed = true;
    viewer.views[0].needsRender = false;
    window.frame->SetExtraStyle(0);
    EXPECT_TRUE(viewer.undo());
    EXPECT_DOUBLE_EQ(set.getDouble(0), 2.0);
    EXPECT_DOUBLE_EQ(shown, 2.0);
    EXPECT_FALSE(viewer.failed);
    EXPECT_TRUE(viewer.views[0].needsRender);
    EXPECT_TRUE(window.frame->GetExtraStyle() & wxWS_EX_PROCESS_UI_UPDATES);
    window.paintNow();
    EXPECT_EQ(window.host.renderCalls, 1) << "a full render after the undo";

    EXPECT_TRUE(viewer.redo());
    EXPECT_DOUBLE_EQ(shown, 3.0);
    EXPECT_TRUE(viewer.revertToCheckpoint());
    EXPECT_DOUBLE_EQ(set.getDouble(0), 1.0);
    EXPECT_DOUBLE_EQ(shown, 1.0);
}

TEST(ViewRecords, BorrowedRecordsShareTheSetOwnedOnesCopyIt) {
    Mav::Host::Param::Parameters set;
    set.records().emplace_back(Mav::Host::Param::ParamFloat, "a", 0, 0, 0);
    ViewRecord borrowed(&set, true);
    borrowed.needsRender = false;
    borrowed.displayStale = false;
    const ViewRecord borrowedCopy(borrowed);
    EXPECT_EQ(borrowedCopy.params, &set);
    EXPECT_TRUE(borrowedCopy.needsRender);
    EXPECT_TRUE(borrowedCopy.displayStale);

    ViewRecord owned(&set, false);
    EXPECT_NE(owned.params, &set);
    ASSERT_EQ(owned.params->count(), 1u);
    const ViewRecord ownedCopy(owned);
    EXPECT_NE(ownedCopy.params, owned.params);
    EXPECT_EQ(ownedCopy.params->count(), 1u);
}

TEST(ViewerRefresh, WithoutAPanelNothingHappens) {
    Headless h;
    h.viewer->requestRefresh(false);
    h.viewer->resetView();
    EXPECT_TRUE(h.viewer->fitPending);
    EXPECT_FALSE(h.viewer->transferToWindow());
}

}  // namespace
}  // namespace vantrelo_test
