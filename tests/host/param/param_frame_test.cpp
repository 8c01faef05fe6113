// Parameter frames in a real window, around a stand-in viewer that counts render requests: undo
// records per edit, renders, linked parameters, reset, the once-per-change enabling pass, floating
// frames, the viewer commands and full screen.

#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/colordlg.h>
#include <wx/slider.h>
#include <wx/textctrl.h>

#include <memory>

#include "host/param/color_button.h"
#include "host/param/param_binding.h"
#include "host/param/param_frame.h"
#include "host/param/undo.h"
#include "host/param/viewer_base.h"
#include "host/param/viewer_panel.h"
#include "tests/host/param/widget_test_support.h"

namespace {

using namespace widget_test;

class StandInViewer : public ViewerBase {
public:
    using ViewerBase::ViewerBase;
    void beforeUpdate() override {}
    void reservedHook() override {}
    void renderRect(wxRect&) override {}
    void drawRect(wxRect& rect, wxDC&, int& status) override {
        rect = wxRect();
        status = kDrawResult;
    }
    std::int64_t imageWidth() override { return 64; }
    std::int64_t imageHeight() override { return 48; }
    bool pixelAt(float out[4], int, int) override {
        for (int i = 0; i < 4; ++i) out[i] = 0.0f;
        return false;
    }
    void viewToImage(int x, int y, int& outX, int& outY, bool) override {
        outX = x;
        outY = y;
    }
    void flushHostMessages() override {}
    bool isThreaded() override { return false; }
    bool hasPendingRequests() override { return false; }
    void postRenderRequest() override { ++renderRequests; }
    void waitIdle() override {}
    bool pollProgress() override { return false; }
    void setPanOffset(int, int) override {}

    int renderRequests = 0;
};

// A set whose "Scale" (index 0, ParamAffectsAll) drives "Twice" (index 1) when linking is on.
class LinkedSet : public Parameters {
public:
    bool linksParameters() const override { return links; }
    void updateLinkedParameters(std::size_t index) override {
        ++linkedUpdates;
        if (index == 0) record(1).value().setInt(2 * record(0).value().getInt());
    }
    bool links = false;
    int linkedUpdates = 0;
};

// The window a keyer would derive: controls in a row above the viewer panel, a status line below.
class EditorFrame : public ParamFrame {
public:
    explicit EditorFrame(Parameters* set)
        : ParamFrame(set, nullptr, wxID_ANY, "editor", wxPoint(20, 20), wxSize(640, 480)) {
        auto* column = new wxBoxSizer(wxVERTICAL);
        controls = new wxBoxSizer(wxHORIZONTAL);
        column->Add(controls, 0, wxALL | wxEXPAND, 5);
        auto* middle = new wxBoxSizer(wxHORIZONTAL);
        side = new wxTextCtrl(this, wxID_ANY, "side");
        middle->Add(side, 0, wxALL, 3);
        panel = new ViewerPanel(this, wxID_ANY, wxDefaultPosition, wxSize(300, 200));
        middle->Add(panel, 1, wxALL | wxEXPAND, 7);
        column->Add(middle, 1, wxEXPAND | wxLEFT, 9);
        hiddenNote = new wxTextCtrl(this, wxID_ANY, "hidden");
        column->Add(hiddenNote, 0, wxALL, 2);
        column->Hide(hiddenNote);
        status = new wxTextCtrl(this, wxID_ANY, "status");
        column->Add(status, 0, wxALL | wxEXPAND, 4);
        SetSizer(column);
        shownViewer = std::make_unique<StandInViewer>(*set, panel);
        panel->viewer = shownViewer.get();
    }
    ~EditorFrame() override { panel->viewer = nullptr; }

    template <class Control>
    Control* add(Control* control) {
        controls->Add(control, 0, wxALL, 4);
        return control;
    }
    void showAndSettle() {
        Layout();
        Show();
        settle();
    }
    static void settle() { settleInput(); }

    ViewerBase* viewer() override { return shownViewer.get(); }
    void updateEnables() override { ++enableUpdates; }

    // A command as a menu or button would send it.
    void command(int id, wxEventType type = wxEVT_MENU) {
        wxCommandEvent event(type, id);
        event.SetEventObject(this);
        GetEventHandler()->ProcessEvent(event);
    }

    wxBoxSizer* controls = nullptr;
    wxTextCtrl* side = nullptr;
    wxTextCtrl* hiddenNote = nullptr;
    wxTextCtrl* status = nullptr;
    ViewerPanel* panel = nullptr;
    std::unique_ptr<StandInViewer> shownViewer;
    int enableUpdates = 0;
};

class ParamFrameWindow : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        vantrelo_test::takeRecordedBoxes();
        wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
        set.records().push_back(intRecord(ParamInt, "Scale", 3, 0, 50, 1));
        set.record(0).flags |= ParamAffectsAll;
        set.records().push_back(intRecord(ParamInt, "Twice", 6, 0, 100, 2));
        set.records().push_back(boolRecord("Invert", false));
        set.records().push_back(boolRecord("Window shown", false));
        set.record(3).flags |= ParamNoRender | ParamNoUndo;
        set.records().push_back(floatRecord("Softness", 20, 0, 100, 0, 0, 100));
        set.records().push_back(colourRecord("Spill colour", 0.2, 0.4, 0.6));
        set.record(5).slots[SlotDefault].setDouble(0.9, 0);
        frame = new EditorFrame(&set);
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        vantrelo_test::pumpToolkit();
        wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_ALL);
    }

    StandInViewer& viewer() { return *frame->shownViewer; }
    // The render requests since the last call; view 0 counts as rendered again.
    int takeRenders() {
        const int n = viewer().renderRequests;
        viewer().renderRequests = 0;
        viewer().views[0].needsRender = false;
        return n;
    }

    LinkedSet set;
    EditorFrame* frame = nullptr;
};

TEST_F(ParamFrameWindow, ShowingTransfersEveryRecordBeforeTheFrameAppears) {
    auto* scale = frame->add(new wxTextCtrl(frame, wxID_ANY));
    auto* invert = frame->add(new wxCheckBox(frame, wxID_ANY, "Invert"));
    bindParameter(&set.record(0), 0, scale);
    bindParameter(&set.record(2), 2, invert);
    set.record(2).value().setBool(true);
    bool shownWhenFilled = true;
    scale->Bind(wxEVT_TEXT, [&](wxCommandEvent& event) {
        event.Skip();
        shownWhenFilled = frame->IsShown();
    });
    EXPECT_EQ(scale->GetValue(), "");
    frame->showAndSettle();
    EXPECT_EQ(scale->GetValue(), "3");
    EXPECT_TRUE(invert->GetValue());
    EXPECT_FALSE(shownWhenFilled);
    EXPECT_GE(frame->enableUpdates, 1);
    EXPECT_EQ(frame->GetName(), "frame");
    EXPECT_NE(frame->GetExtraStyle() & wxWS_EX_PROCESS_UI_UPDATES, wxWS_EX_PROCESS_UI_UPDATES)
        << "the first update pass has cleared the request";
}

TEST_F(ParamFrameWindow, EachEditIsOneUndoStepAndOneRender) {
    auto* invert = frame->add(new wxCheckBox(frame, wxID_ANY, "Invert"));
    auto* softness = frame->add(new wxTextCtrl(frame, wxID_ANY));
    auto* slider = frame->add(new wxSlider(frame, wxID_ANY, 0, 0, 100));
    auto* colour = frame->add(new ColorButton(frame, wxID_ANY, wxDefaultPosition, wxSize(60, 30)));
    bindParameter(&set.record(2), 2, invert);
    bindParameter(&set.record(4), 4, softness, slider);
    bindParameter(&set.record(5), 5, colour);
    frame->showAndSettle();
    takeRenders();

    click(invert);
    ASSERT_EQ(set.undoSteps().size(), 1u);
    EXPECT_FALSE(set.undoSteps().back().at(2).getBool());
    EXPECT_EQ(takeRenders(), 1);

    typeInto(softness, "35.5");
    pressEnter();
    EXPECT_EQ(set.getDouble(4), 35.5);
    ASSERT_EQ(set.undoSteps().size(), 2u);
    EXPECT_EQ(set.undoSteps().back().at(4).getDouble(), 20.0);
    EXPECT_EQ(takeRenders(), 1);

    // A whole drag is one step; the live positions render nothing by themselves.
    for (int p : {40, 45, 50}) {
        slider->SetValue(p);
        wxScrollEvent track(wxEVT_SCROLL_THUMBTRACK, slider->GetId(), p);
        track.SetEventObject(slider);
        slider->GetEventHandler()->ProcessEvent(track);
    }
    EXPECT_EQ(takeRenders(), 0);
    wxScrollEvent release(wxEVT_SCROLL_THUMBRELEASE, slider->GetId(), 50);
    release.SetEventObject(slider);
    slider->GetEventHandler()->ProcessEvent(release);
    EXPECT_EQ(set.getDouble(4), 50.0);
    ASSERT_EQ(set.undoSteps().size(), 3u);
    EXPECT_EQ(set.undoSteps().back().at(4).getDouble(), 35.5);
    EXPECT_EQ(takeRenders(), 1);

    const ColourDialogHook previous = setColourDialogHook([](wxColourDialog& dialog) {
        dialog.GetColourData().SetColour(wxColour(255, 128, 0));
        return int(wxID_OK);
    });
    click(colour);
    setColourDialogHook(previous);
    ASSERT_EQ(set.undoSteps().size(), 4u);
    EXPECT_EQ(set.undoSteps().back().at(5).getDouble(0), 0.2);
    EXPECT_EQ(set.record(5).value().getDouble(1), 128 / 255.0);
    EXPECT_EQ(takeRenders(), 1);

    // Undo by command brings the colour back into the button.
    frame->command(kCmdUndo, wxEVT_BUTTON);
    EXPECT_EQ(set.record(5).value().getDouble(0), 0.2);
    EXPECT_EQ(colour->red, 0.2);
    frame->command(kCmdUndo);
    EXPECT_EQ(set.getDouble(4), 35.5);
    EXPECT_EQ(softness->GetValue(), "35.50");
    frame->command(kCmdRedo);
    EXPECT_EQ(set.getDouble(4), 50.0);
    EXPECT_EQ(slider->GetValue(), 50);
}

TEST_F(ParamFrameWindow, RecordsOutsideTheSetAndSilentRecordsRecordNoUndo) {
    auto* zoomField = frame->add(new wxTextCtrl(frame, wxID_ANY));
    auto* zoomSlider = frame->add(new wxSlider(frame, wxID_ANY, 0, 0, 100));
    auto* shown = frame->add(new wxCheckBox(frame, wxID_ANY, "shown"));
    bindSlider(viewer(), zoomField, zoomSlider);
    bindParameter(&set.record(3), 3, shown);
    EXPECT_EQ(viewer().zoomText, zoomField);
    EXPECT_EQ(viewer().zoomSlider, zoomSlider);
    frame->showAndSettle();
    EXPECT_EQ(zoomField->GetValue(), "100.00");
    EXPECT_EQ(zoomSlider->GetMin(), 1);
    EXPECT_EQ(zoomSlider->GetMax(), 400);
    takeRenders();

    std::vector<std::uint64_t> indices;
    frame->Bind(EVT_PARAM_CHANGED, [&](wxCommandEvent& event) {
        event.Skip();
        indices.push_back(paramEventIndex(event));
    });
    typeInto(zoomField, "200");
    pressEnter();
    EXPECT_EQ(viewer().zoomRecord.value().getDouble(), 200.0);
    EXPECT_EQ(indices, std::vector<std::uint64_t>{kZoomParamIndex});
    EXPECT_TRUE(set.undoSteps().empty());
    EXPECT_EQ(takeRenders(), 1) << "the zoom record renders unless it says otherwise";

    viewer().zoomRecord.flags |= ParamNoRender;
    typeInto(zoomField, "300");
    pressEnter();
    EXPECT_EQ(takeRenders(), 0);

    // The window-position kind of record: no undo, no render.
    click(shown);
    EXPECT_TRUE(set.getBool(3));
    EXPECT_TRUE(set.undoSteps().empty());
    EXPECT_EQ(takeRenders(), 0);
}

TEST_F(ParamFrameWindow, LinkedRecordsAreRecordedTogetherAndShownAfterTheUpdate) {
    auto* scale = frame->add(new wxTextCtrl(frame, wxID_ANY));
    auto* twice = frame->add(new wxTextCtrl(frame, wxID_ANY));
    bindParameter(&set.record(0), 0, scale);
    bindParameter(&set.record(1), 1, twice);
    frame->showAndSettle();

    // Without linking the record is recorded alone.
    typeInto(scale, "4");
    pressEnter();
    ASSERT_EQ(set.undoSteps().size(), 1u);
    EXPECT_EQ(set.undoSteps().back().size(), 1u);
    EXPECT_EQ(set.linkedUpdates, 0);
    EXPECT_EQ(twice->GetValue(), "6");

    set.links = true;
    typeInto(scale, "5");
    pressEnter();
    ASSERT_EQ(set.undoSteps().size(), 2u);
    EXPECT_EQ(set.undoSteps().back().size(), set.count() - 1) << "every record but the NoUndo one";
    EXPECT_EQ(set.linkedUpdates, 1);
    EXPECT_EQ(set.getInt(1), 10);
    EXPECT_EQ(twice->GetValue(), "10");

    // Undo restores both.
    frame->command(kCmdUndo);
    EXPECT_EQ(set.getInt(0), 4);
    EXPECT_EQ(set.getInt(1), 6);
    EXPECT_EQ(twice->GetValue(), "6");
}

TEST_F(ParamFrameWindow, ResetIsOneUndoStepOverEveryRecordedParameter) {
    auto* scale = frame->add(new wxTextCtrl(frame, wxID_ANY));
    auto* reset = frame->add(new wxButton(frame, kCmdResetParameters, "Reset"));
    bindParameter(&set.record(0), 0, scale);
    set.record(2).value().setBool(true);
    set.record(3).value().setBool(true);
    frame->showAndSettle();
    takeRenders();
    frame->enableUpdates = 0;

    click(reset);
    EXPECT_EQ(set.getInt(0), 1);
    EXPECT_EQ(set.getInt(1), 2);
    EXPECT_FALSE(set.getBool(2));
    EXPECT_EQ(set.record(5).value().getDouble(0), 0.9);
    EXPECT_EQ(scale->GetValue(), "1");
    ASSERT_EQ(set.undoSteps().size(), 1u);
    EXPECT_EQ(set.undoSteps().back().size(), set.count() - 1);
    EXPECT_EQ(set.undoSteps().back().count(3), 0u);
    EXPECT_EQ(takeRenders(), 1);
    EXPECT_GE(frame->enableUpdates, 1);

    frame->command(kCmdUndo);
    EXPECT_EQ(set.getInt(0), 3);
    EXPECT_EQ(set.getInt(1), 6);
    EXPECT_TRUE(set.getBool(2));
    EXPECT_EQ(set.record(5).value().getDouble(0), 0.2);
    EXPECT_EQ(scale->GetValue(), "3");
}

TEST_F(ParamFrameWindow, ChangesBeforeTheNextIdleTimeEnableControlsOnce) {
    auto* invert = frame->add(new wxCheckBox(frame, wxID_ANY, "Invert"));
    bindParameter(&set.record(2), 2, invert);
    frame->showAndSettle();
    frame->enableUpdates = 0;
    for (bool state : {true, false}) {
        invert->SetValue(state);
        wxCommandEvent toggled(wxEVT_CHECKBOX, invert->GetId());
        toggled.SetEventObject(invert);
        toggled.SetInt(state);
        invert->GetEventHandler()->ProcessEvent(toggled);
    }
    EXPECT_EQ(set.undoSteps().size(), 2u);
    EXPECT_EQ(frame->enableUpdates, 0);
    frame->settle();
    EXPECT_EQ(frame->enableUpdates, 1);
    frame->settle();
    EXPECT_EQ(frame->enableUpdates, 1) << "idle time alone runs no further pass";
}

TEST_F(ParamFrameWindow, AFloatingFrameTransfersItsControlsAndTheMainFrameRecords) {
    auto* floating = new LoggingFrame(&set, frame);
    auto* invert = floating->add(new wxCheckBox(floating->panel, wxID_ANY, "Invert"));
    bindParameter(&set.record(2), 2, invert);
    frame->showAndSettle();
    floating->layoutAndShow();
    takeRenders();
    floating->enableUpdates = 0;
    frame->enableUpdates = 0;

    click(invert);
    EXPECT_TRUE(set.getBool(2));
    EXPECT_EQ(eventKinds(floating->events), "changing changed") << "transferred once";
    ASSERT_EQ(set.undoSteps().size(), 1u);
    EXPECT_EQ(takeRenders(), 1);
    floating->settle();
    EXPECT_EQ(floating->enableUpdates, 1);
}

TEST_F(ParamFrameWindow, ViewerCommandsAndFullScreen) {
    frame->showAndSettle();
    viewer().showOriginal = false;
    frame->command(kCmdShowOriginal);
    EXPECT_TRUE(viewer().showOriginal);
    frame->command(kCmdShowOriginal);
    EXPECT_FALSE(viewer().showOriginal);

    const float zoom = viewer().zoom;
    frame->command(kCmdZoomIn, wxEVT_BUTTON);
    EXPECT_GT(viewer().zoom, zoom);
    frame->command(kCmdZoomOut);
    EXPECT_EQ(viewer().zoom, zoom);

    set.record(2).value().setBool(true);
    recordChange(set, 2);
    set.record(2).value().setBool(false);
    frame->command(kCmdSetCheckpoint);
    EXPECT_EQ(set.undoCheckpoint(), 2u);
    frame->command(kCmdUndo);
    EXPECT_TRUE(set.getBool(2));
    frame->command(kCmdRevertToCheckpoint, wxEVT_BUTTON);
    EXPECT_FALSE(set.getBool(2));

    wxSizer* column = frame->GetSizer();
    frame->command(kCmdFullScreen);
    ASSERT_TRUE(frame->panel->fullScreenState);
    EXPECT_FALSE(column->IsShown(frame->status));
    EXPECT_FALSE(frame->side->IsShown());
    EXPECT_TRUE(frame->panel->IsShown());
    EXPECT_EQ(column->GetItem(frame->status)->GetBorder(), 0);
    frame->command(kCmdFullScreen);
    EXPECT_FALSE(frame->panel->fullScreenState);
    EXPECT_TRUE(frame->status->IsShown());
    EXPECT_TRUE(frame->side->IsShown());
    EXPECT_FALSE(frame->hiddenNote->IsShown()) << "what was hidden before stays hidden";
    EXPECT_EQ(column->GetItem(frame->status)->GetBorder(), 4);
    EXPECT_EQ(frame->panel->GetContainingSizer()->GetItem(frame->panel)->GetBorder(), 7);
}

}  // namespace
