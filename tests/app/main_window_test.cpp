// The main keying window over the real keyer host: what each control is bound to, how parameter
// events, preview samples and the "AutoMask" button become engine changes, undo steps and renders,
// the enabling rules, the floating-window bookkeeping, stepping between inputs, Open, the Ctrl keys
// that depend on the focus, and that every way out but OK leaves files and stored settings as they
// were.

#include <gtest/gtest.h>

#include <wx/bmpbuttn.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/floating_layouts.h"
#include "app/main_layout.h"
#include "app/main_window.h"
#include "app/vant_image_preview.h"
#include "engine/keying/key_state.h"
#include "host/app/startup_services.h"
#include "host/param/color_button.h"
#include "host/param/param_events.h"
#include "host/param/undo.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;
using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGED_LIVE;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using Mav::Host::Param::sendParamEvent;

// Without a window manager: these tests drive the window's handlers, not its placement.
class MainWindow : public ProgramFixture {
protected:
    MainWindow() : ProgramFixture(false) {}

public:
    std::size_t n() { return set().count(); }
    void sample(std::int32_t phase, bool valid, std::uint16_t r = 0, std::uint16_t g = 0,
                std::uint16_t b = 0, const std::vector<std::uint16_t>* block = nullptr,
                std::int64_t width = 0, std::int64_t height = 0) {
        PreviewSample s;
        s.colour[0] = r;
        s.colour[1] = g;
        s.colour[2] = b;
        s.colour[3] = valid ? 65535 : 0;
        s.phase = phase;
        s.valid = valid;
        if (block) {
            s.block = block->data();
            s.blockWidth = width;
            s.blockHeight = height;
        }
        wxCommandEvent event(EVT_PREVIEW_SAMPLE, 0);
        event.SetEventObject(program->preview());
        event.SetClientData(&s);
        program->preview()->GetEventHandler()->ProcessEvent(event);
    }
};

TEST_F(MainWindow, ControlsShowTheirParametersAndPreviewRecords) {
    start({first});
    const std::size_t count = n();
    ASSERT_EQ(count, kKeyerParamCount);
    set().setBool(true, kParamScaleToFit);
    set().setBool(true, kParamAdjustLighting);
    set().setInt(37, kParamAdjustLightingGrid);
    set().setBool(true, kParamEnableLightWrap);
    set().setDouble(42, kParamBackdropBlur);
    set().setInt(kSpillDefocusBackground, kParamSpillMode);
    const double colour[3] = {1.0, 0.5, 0.25};
    set().setColour(colour, kParamBGColor);
    set().setBool(true, kParamRenderAgainstBD);
    set().setBool(false, kParamEnableSoftenMatte);
    set().setInt(kMaskBack, kParamMaskMode);
    set().setInt(kBackgroundLayer, kParamBackgroundMode);
    set().setInt(kTransparencySplit, kParamTransparencyMode);
    set().setString("\"/pictures/a.png\" \"/other/b b.jpg\"", kParamBackdropFiles);
    set().setString("\"/x/over.png\"", kParamOverlayFiles);
    VantImagePreview* preview = program->preview();
    preview->currentControl.value().setInt(kToolScaleLayers);
    preview->selectionControl.value().setInt(kSelectBox);
    preview->transformBackdrop.value().setBool(true);
    preview->transformOverlay.value().setBool(true);
    program->window->TransferDataToWindow();

    auto pressed = [&](int id) { return program->control<wxToggleButton>(id)->GetValue(); };
    auto checked = [&](int id) { return program->control<wxCheckBox>(id)->GetValue(); };
    EXPECT_TRUE(pressed(kScaleToFitId));
    EXPECT_TRUE(pressed(kFixLightingId));
    EXPECT_EQ(program->control<wxTextCtrl>(kLightingGridTextId)->GetValue(), "37");
    EXPECT_EQ(program->control<wxSlider>(kLightingGridSliderId)->GetValue(), 37);
    EXPECT_EQ(program->control<wxSlider>(kLightingGridSliderId)->GetMax(), 100);
    EXPECT_TRUE(checked(kLightWrapId));
    EXPECT_EQ(program->control<wxTextCtrl>(kBackdropBlurTextId)->GetValue(), "42.00");
    EXPECT_EQ(program->control<wxChoice>(kSpillModeId)->GetSelection(), 2);
    auto* colourButton = program->control<Mav::Host::Param::ColorButton>(kBackdropColourId);
    EXPECT_EQ(colourButton->red, 1.0);
    EXPECT_EQ(colourButton->green, 0.5);
    EXPECT_EQ(colourButton->blue, 0.25);
    EXPECT_TRUE(pressed(kRenderAgainstBackdropId));
    EXPECT_FALSE(pressed(kSoftenMatteId));
    for (int id : {kViewForegroundId, kViewMaskId, kViewFrontId, kViewBackId})
        EXPECT_EQ(pressed(id), id == kViewBackId) << id;
    EXPECT_FALSE(pressed(kBackdropColourModeId));
    EXPECT_TRUE(pressed(kBackdropLayerModeId));
    EXPECT_FALSE(pressed(kTransparentId));
    EXPECT_TRUE(pressed(kSplitId));
    const int tools[] = {kSelectToolId,        kCleanBackgroundToolId, kCleanForegroundToolId,
                         kSpillMinusToolId,    kSpillSpongeToolId,     kRestoreDetailToolId,
                         kMakeTransparentToolId, kMatteSpongeToolId,   kMoveToolId,
                         kRotateToolId,        kScaleToolId,           kPanToolId,
                         kZoomToolId,          kFineTuneToolId};
    for (int value = 0; value < 14; ++value)
        EXPECT_EQ(pressed(tools[value]), value == kToolScaleLayers) << value;
    EXPECT_TRUE(pressed(kBoxSelectionId));
    EXPECT_FALSE(pressed(kPointSelectionId));
    EXPECT_TRUE(checked(kTransformBackdropId));
    EXPECT_FALSE(checked(kTransformSubjectId));
    EXPECT_TRUE(checked(kTransformOverlayId));
    auto* backdrops = program->control<wxListBox>(kBackdropListId);
    ASSERT_EQ(backdrops->GetCount(), 2u);
    EXPECT_EQ(backdrops->GetString(0), "a.png");
    EXPECT_EQ(backdrops->GetString(1), "b b.jpg");
    ASSERT_EQ(program->control<wxListBox>(kOverlayListId)->GetCount(), 1u);
    EXPECT_EQ(program->control<wxTextCtrl>(kZoomFieldId)->GetValue(),
              wxString::Format("%.2f", program->viewer().zoomRecord.value().getDouble()));

    // "background file" has no button: neither of the two shows pressed.
    set().setInt(kBackgroundFile, kParamBackgroundMode);
    program->window->TransferDataToWindow();
    EXPECT_FALSE(pressed(kBackdropColourModeId));
    EXPECT_FALSE(pressed(kBackdropLayerModeId));
}

TEST_F(MainWindow, ClicksStoreRadioValuesAndReleaseValues) {
    start({first});
    VantImagePreview* preview = program->preview();
    clickAt(program->window, program->control(kTransparentId)->GetPosition() + wxPoint(5, 5));
    EXPECT_EQ(set().getInt(kParamTransparencyMode), kTransparencyTransparent);
    click(program->control(kSplitId));
    EXPECT_EQ(set().getInt(kParamTransparencyMode), kTransparencySplit);
    EXPECT_FALSE(program->control<wxToggleButton>(kTransparentId)->GetValue());
    // Pressing the pressed one releases it: the picture is opaque again.
    click(program->control(kSplitId));
    EXPECT_EQ(set().getInt(kParamTransparencyMode), kTransparencyOpaque);
    EXPECT_FALSE(program->control<wxToggleButton>(kSplitId)->GetValue());
    EXPECT_FALSE(program->control<wxToggleButton>(kTransparentId)->GetValue());

    // The mask-mode group has no release value: its pressed button stays pressed.
    click(program->control(kViewMaskId));
    EXPECT_EQ(set().getInt(kParamMaskMode), kMaskMask);
    click(program->control(kViewMaskId));
    EXPECT_EQ(set().getInt(kParamMaskMode), kMaskMask);
    EXPECT_TRUE(program->control<wxToggleButton>(kViewMaskId)->GetValue());

    click(program->control(kCleanForegroundToolId));
    EXPECT_EQ(preview->tool(), kToolCleanFg);
    click(program->control(kBoxSelectionId));
    EXPECT_EQ(preview->selection(), kSelectBox);
    click(program->control(kTransformSubjectId));
    EXPECT_TRUE(preview->transformSubject.value().getBool());
    // The preview's records are not parameters: no undo step for them.
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamMaskMode}));
}

TEST_F(MainWindow, ParameterEditBecomesEngineChangeOneUndoStepAndARender) {
    start({first});
    auto* spill = program->control<wxChoice>(kSpillModeId);
    ASSERT_EQ(spill->GetSelection(), kSpillComplement);
    program->renderNow();
    const int rendersBefore = program->host->renders;

    spill->SetSelection(kSpillSolid);
    wxCommandEvent chosen(wxEVT_CHOICE, kSpillModeId);
    chosen.SetEventObject(spill);
    chosen.SetInt(kSpillSolid);
    spill->GetEventHandler()->ProcessEvent(chosen);
    program->renderNow();

    EXPECT_EQ(set().getInt(kParamSpillMode), kSpillSolid);
    EXPECT_NE(bridge().keyStates.keyState.flags & KeyFlagSpillSolid, 0u);
    EXPECT_EQ(bridge().keyStates.keyState.flags & KeyFlagSpillComplement, 0u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamSpillMode}));
    EXPECT_GT(program->host->renders, rendersBefore);

    // Undo through the viewer's Ctrl shortcut command: the value, the control and the engine.
    sendMenu(program->window, Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(set().getInt(kParamSpillMode), kSpillComplement);
    EXPECT_EQ(spill->GetSelection(), kSpillComplement);
    EXPECT_NE(bridge().keyStates.keyState.flags & KeyFlagSpillComplement, 0u);
}

TEST_F(MainWindow, ASliderDragRendersOnlyWhenLetGoAndALayerDragOnEveryMotion) {
    start({first});
    program->renderNow();
    int renders = program->host->renders;
    // A live edit of an ordinary parameter renders nothing.
    sendParamEvent(program->control(kBackdropBlurSliderId), EVT_PARAM_CHANGED_LIVE,
                   kParamBackdropBlur, &set().record(kParamBackdropBlur), 0);
    program->renderNow();
    EXPECT_EQ(program->host->renders, renders);
    // A live layer move does.
    sendParamEvent(program->preview(), EVT_PARAM_CHANGED_LIVE, kParamForegroundTransform,
                   nullptr, 0);
    program->renderNow();
    EXPECT_GT(program->host->renders, renders);
}

TEST_F(MainWindow, MovingTheBackdropSwitchesScaleToFitOffAndOneUndoBringsBothBack) {
    start({first});
    ASSERT_TRUE(set().getBool(kParamScaleToFit));
    ASSERT_TRUE(bridge().fitEnabled);
    program->window->TransferDataToWindow();
    VantImagePreview* preview = program->preview();
    const Matrix3 start = bridge().backdropTransform;

    Mav::Host::Param::beginChange(set());
    sendParamEvent(preview, EVT_PARAM_CHANGING, kParamBackdropTransform, nullptr, 0);
    Mav::Host::Param::endChange(set());
    Matrix3 moved = start;
    moved.at(0, 2) += 25;
    bridge().backdropTransform = moved;
    sendParamEvent(preview, EVT_PARAM_CHANGED_LIVE, kParamBackdropTransform, nullptr, 0);
    EXPECT_FALSE(set().getBool(kParamScaleToFit));
    EXPECT_FALSE(bridge().fitEnabled);
    sendParamEvent(preview, EVT_PARAM_CHANGED, kParamBackdropTransform, nullptr, 0);
    EXPECT_FALSE(program->control<wxToggleButton>(kScaleToFitId)->GetValue());
    EXPECT_EQ(newestStep(set()),
              (std::set<std::size_t>{kParamBackdropTransform, kParamScaleToFit}));
    ASSERT_EQ(set().undoSteps().size(), 1u);

    sendMenu(program->window, Mav::Host::Param::kCmdUndo);
    EXPECT_TRUE(set().getBool(kParamScaleToFit));
    EXPECT_TRUE(bridge().fitEnabled);
    EXPECT_EQ(bridge().backdropTransform, start);
}

TEST_F(MainWindow, AStrokeAppliesItsSamplesOnceAndOneUndoBringsBackKeyAndAutoMask) {
    start({first});
    ASSERT_TRUE(set().getBool(kParamEnableAutoMask));
    const std::string before = key();
    bridge().sampleMode = SampleSelect;
    // The start and the middle of the stroke change nothing yet.
    sample(0, true, 9000, 47000, 15000);
    sample(1, true, 9100, 46800, 15100);
    EXPECT_EQ(key(), before);
    EXPECT_TRUE(set().undoSteps().empty());
    EXPECT_TRUE(set().getBool(kParamEnableAutoMask));
    sample(2, false);

    const std::string keyed = key();
    EXPECT_NE(keyed, before);
    EXPECT_NEAR(bridge().keyStates.keyState.backdrop[1], 46900, 2);
    EXPECT_FALSE(set().getBool(kParamEnableAutoMask));
    EXPECT_FALSE(bridge().autoMaskEnabled);
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamKeyData, kParamEdgeData,
                                                        kParamBodyData, kParamEnableAutoMask}));

    sendMenu(program->window, Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(key(), before);
    EXPECT_TRUE(set().getBool(kParamEnableAutoMask));
    sendMenu(program->window, Mav::Host::Param::kCmdRedo);
    EXPECT_EQ(key(), keyed);
    EXPECT_FALSE(set().getBool(kParamEnableAutoMask));
}

TEST_F(MainWindow, StrokesThatApplyNothingLeaveNoUndoStepAndKeepTheAutoMask) {
    start({first});
    const std::string before = key();
    struct Case {
        const char* name;
        int mode;
        std::function<void(MainWindow&)> stroke;
    };
    const std::vector<Case> cases = {
        {"point stroke off the picture", SampleCleanBg,
         [](MainWindow& t) {
             t.sample(0, false);
             t.sample(1, false);
             t.sample(2, false);
         }},
        {"box with an invalid block", SampleCleanBg,
         [](MainWindow& t) {
             const std::vector<std::uint16_t> block(4 * 4, 0);
             t.sample(0, false);
             t.sample(1, false, 0, 0, 0, &block, 2, 2);
             t.sample(2, false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bridge().sampleMode = c.mode;
        c.stroke(*this);
        EXPECT_EQ(key(), before);
        EXPECT_TRUE(set().undoSteps().empty());
        EXPECT_TRUE(set().getBool(kParamEnableAutoMask));
    }
}

TEST_F(MainWindow, BoxSamplesAreAppliedAsOneStepAndTheFineTunePickRecordsNoKey) {
    start({first});
    const std::string before = key();
    bridge().sampleMode = SampleSelect;
    const std::vector<std::uint16_t> block = {9000, 47000, 15000, 65535, 9200, 47200, 15200, 65535,
                                              9400, 46800, 15400, 65535, 9600, 47400, 14800, 65535,
                                              9000, 47000, 15000, 65535, 9000, 47000, 15000, 65535};
    sample(0, false);
    sample(1, true, 0, 0, 0, &block, 3, 2);
    sample(2, false);
    EXPECT_NE(key(), before);
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()).count(kParamKeyData), 1u);

    // The fine-tune pick remembers a colour and changes no key: no key data in its undo step.
    const std::string keyed = key();
    bridge().sampleMode = SampleFineTunePick;
    sample(0, true, 30000, 20000, 10000);
    sample(2, false);
    EXPECT_EQ(key(), keyed);
    EXPECT_EQ(bridge().averageColour[0], 30000);
    EXPECT_EQ(bridge().averageColour[2], 10000);
    EXPECT_EQ(set().undoSteps().size(), 1u);
}

TEST_F(MainWindow, AutoMaskButtonArmsOneDetectionAndLeavesTheSwitchesAlone) {
    start({first});
    set().setBool(false, kParamEnableAutoMask);
    set().valueChanged(kParamEnableAutoMask);
    ASSERT_FALSE(bridge().autoMaskEnabled);
    bridge().autoMaskJustEnabled = 0;
    // The button's event, checked before any render could use the trigger up.
    wxCommandEvent pressed(wxEVT_BUTTON, kAutoMaskButtonId);
    pressed.SetEventObject(program->control(kAutoMaskButtonId));
    program->window->GetEventHandler()->ProcessEvent(pressed);
    EXPECT_TRUE(bridge().autoMaskJustEnabled);
    EXPECT_FALSE(bridge().autoMaskEnabled);
    EXPECT_FALSE(set().getBool(kParamEnableAutoMask));
    EXPECT_EQ(newestStep(set()),
              (std::set<std::size_t>{kParamKeyData, kParamEdgeData, kParamBodyData}));
}

TEST_F(MainWindow, EnablingFollowsLightingAndBackgroundMode) {
    start({first});
    auto enabled = [&](int id) { return program->control(id)->IsEnabled(); };
    struct Case {
        bool lighting;
        int background;
    };
    for (const Case c : {Case{false, kBackgroundColor}, Case{true, kBackgroundFile},
                         Case{false, kBackgroundLayer}, Case{true, kBackgroundColor}}) {
        SCOPED_TRACE(testing::Message() << c.lighting << " " << c.background);
        set().setBool(c.lighting, kParamAdjustLighting);
        set().setInt(c.background, kParamBackgroundMode);
        program->window->updateEnables();
        EXPECT_EQ(enabled(kLightingGridTextId), c.lighting);
        EXPECT_EQ(enabled(kLightingGridSliderId), c.lighting);
        EXPECT_EQ(enabled(kBackdropColourId), c.background == kBackgroundColor);
        EXPECT_FALSE(enabled(kLayerChoiceId));
    }
    // A click on "Fix Lighting" enables the grid controls in the next update pass.
    set().setBool(false, kParamAdjustLighting);
    program->window->updateEnables();
    click(program->control(kFixLightingId));
    runEvents();
    EXPECT_TRUE(set().getBool(kParamAdjustLighting));
    EXPECT_TRUE(enabled(kLightingGridTextId));
}

// A floating window standing in for the fine-tune window.
class StandInFrame : public Mav::Host::Param::ParamSubFrame {
public:
    StandInFrame(Mav::Host::Param::Parameters* set, VantreloUIBase* owner,
                 Mav::Host::Param::ParamSubFrame** pointer)
        : ParamSubFrame(set, owner, wxID_ANY, "stand-in", wxPoint(140, 160), wxSize(120, 80),
                        wxCAPTION | wxFRAME_TOOL_WINDOW | wxFRAME_FLOAT_ON_PARENT),
          pointer_(pointer) {}
    ~StandInFrame() override {
        if (*pointer_ == this) *pointer_ = nullptr;
        ++destroyed;
    }
    void updateEnables() override { ++enablingPasses; }
    static inline int destroyed = 0;
    int enablingPasses = 0;

private:
    Mav::Host::Param::ParamSubFrame** pointer_;
};

TEST_F(MainWindow, AnotherToolClosesTheFineTuneWindowAfterRecordingPositions) {
    start({first});
    VantreloUIApp* window = program->window;
    StandInFrame::destroyed = 0;
    auto* fineTune = new StandInFrame(&set(), window, &window->fineTuneFrame);
    window->fineTuneFrame = fineTune;
    fineTune->Show();
    auto* autoMask = new StandInFrame(&set(), window, &window->autoMaskFrame);
    window->autoMaskFrame = autoMask;
    autoMask->Show();
    runEvents(20);
    const int fineTunePasses = fineTune->enablingPasses;
    const int autoMaskPasses = autoMask->enablingPasses;
    window->updateEnables();
    EXPECT_EQ(fineTune->enablingPasses, fineTunePasses + 1);
    EXPECT_EQ(autoMask->enablingPasses, autoMaskPasses + 1);

    // The pick tool keeps it open.
    click(program->control(kFineTuneToolId));
    EXPECT_EQ(program->preview()->tool(), kToolFineTunePick);
    EXPECT_EQ(bridge().sampleMode, SampleFineTunePick);
    EXPECT_EQ(window->fineTuneFrame, fineTune);

    const wxPoint fineTuneAt = fineTune->GetScreenPosition();
    const wxPoint autoMaskAt = autoMask->GetScreenPosition();
    click(program->control(kCleanBackgroundToolId));
    runEvents();
    EXPECT_EQ(window->fineTuneFrame, nullptr);
    EXPECT_EQ(StandInFrame::destroyed, 1);
    EXPECT_EQ(set().getString(kParamFineTuneWindow),
              std::to_string(fineTuneAt.x) + " " + std::to_string(fineTuneAt.y));
    EXPECT_EQ(set().getString(kParamAutoMaskWindow),
              std::to_string(autoMaskAt.x) + " " + std::to_string(autoMaskAt.y));
    // No undo for positions.
    EXPECT_TRUE(set().undoSteps().empty());

    // The main window going records the open ones and empties the closed ones' texts.
    set().setString("7 8", kParamLightWrapWindow);
    const wxPoint autoMaskLast = autoMask->GetScreenPosition();
    program->close();
    EXPECT_EQ(StandInFrame::destroyed, 2);
    EXPECT_EQ(set().getString(kParamLightWrapWindow), "");
    EXPECT_EQ(set().getString(kParamFineTuneWindow), "");
    EXPECT_EQ(set().getString(kParamAutoMaskWindow),
              std::to_string(autoMaskLast.x) + " " + std::to_string(autoMaskLast.y));
}

TEST_F(MainWindow, PlaceSubFrameUsesTheStoredPositionOrCentres) {
    start({first});
    VantreloUIApp* window = program->window;
    auto* frame = new wxFrame(window, wxID_ANY, "floating", wxDefaultPosition, wxSize(100, 60),
                              wxCAPTION | wxFRAME_TOOL_WINDOW | wxFRAME_FLOAT_ON_PARENT);
    window->placeSubFrame(frame, "123 145 and more");
    EXPECT_EQ(frame->GetPosition(), wxPoint(123, 145));
    window->placeSubFrame(frame, "12x");
    const wxRect parent = window->GetRect();
    const wxRect placed = frame->GetRect();
    EXPECT_NEAR(placed.x + placed.width / 2, parent.x + parent.width / 2, 2);
    EXPECT_NEAR(placed.y + placed.height / 2, parent.y + parent.height / 2, 2);

    frame->Show();
    runEvents(10);
    frame->Move(61, 73);
    runEvents(10);
    set().setString("old", kParamRemoveGrainWindow);
    window->saveSubFramePosition(frame, kParamRemoveGrainWindow, false);
    const wxPoint at = frame->GetScreenPosition();
    EXPECT_EQ(set().getString(kParamRemoveGrainWindow),
              std::to_string(at.x) + " " + std::to_string(at.y));
    window->saveSubFramePosition(nullptr, kParamRemoveGrainWindow, false);
    EXPECT_NE(set().getString(kParamRemoveGrainWindow), "");
    window->saveSubFramePosition(nullptr, kParamRemoveGrainWindow, true);
    EXPECT_EQ(set().getString(kParamRemoveGrainWindow), "");
    frame->Destroy();
}

TEST_F(MainWindow, StepsBetweenInputsKeepingEachInputsOwnValues) {
    start({first, second});
    auto* previous = program->control<wxButton>(Mav::Host::App::kPreviousInputButtonId);
    auto* next = program->control<wxButton>(Mav::Host::App::kNextInputButtonId);
    ASSERT_NE(previous, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(previous->IsEnabled());
    EXPECT_TRUE(next->IsEnabled());
    // The buttons sit in front of the navigation box's items.
    EXPECT_EQ(program->window->navigationBox()->GetItem(std::size_t{0})->GetWindow(), previous);
    EXPECT_EQ(program->window->navigationBox()->GetItem(std::size_t{1})->GetWindow(), next);

    auto* spill = program->control<wxChoice>(kSpillModeId);
    auto chooseSpill = [&](int mode) {
        spill->SetSelection(mode);
        wxCommandEvent chosen(wxEVT_CHOICE, kSpillModeId);
        chosen.SetEventObject(spill);
        spill->GetEventHandler()->ProcessEvent(chosen);
    };
    chooseSpill(kSpillSolid);
    set().setString("\"/first/backdrop.png\"", kParamBackdropFiles);
    program->window->TransferDataToWindow();
    bridge().sampleMode = SampleSelect;
    sample(0, true, 9000, 47000, 15000);
    sample(2, false);
    const std::string firstKey = key();

    // A picture visited for the first time starts from what was on screen, with automatic
    // masking of its own.
    click(next);
    EXPECT_EQ(program->host->currentInput(), 1u);
    EXPECT_TRUE(previous->IsEnabled());
    EXPECT_FALSE(next->IsEnabled());
    EXPECT_EQ(spill->GetSelection(), kSpillSolid);
    EXPECT_TRUE(set().getBool(kParamEnableAutoMask));
    // Then it goes its own way.
    chooseSpill(kSpillDefocusBackground);
    set().setString("", kParamBackdropFiles);
    program->window->TransferDataToWindow();
    sample(0, true, 12000, 40000, 20000);
    sample(2, false);
    const std::string secondKey = key();
    ASSERT_NE(secondKey, firstKey);

    click(previous);
    EXPECT_EQ(program->host->currentInput(), 0u);
    EXPECT_FALSE(previous->IsEnabled());
    EXPECT_EQ(spill->GetSelection(), kSpillSolid);
    EXPECT_EQ(set().getInt(kParamSpillMode), kSpillSolid);
    ASSERT_EQ(program->control<wxListBox>(kBackdropListId)->GetCount(), 1u);
    EXPECT_EQ(key(), firstKey);

    click(next);
    EXPECT_EQ(spill->GetSelection(), kSpillDefocusBackground);
    EXPECT_EQ(program->control<wxListBox>(kBackdropListId)->GetCount(), 0u);
    EXPECT_EQ(key(), secondKey);
}

TEST_F(MainWindow, OpenAppendsInputsAndCreatesTheNavigationButtonsWhenThereAreTwo) {
    struct Case {
        std::vector<std::filesystem::path> atStart;
        std::vector<std::filesystem::path> opened;
        bool buttons;
    };
    const std::filesystem::path third = home->home() / "third.png";
    ASSERT_TRUE(
        writePicture(third, PictureFormat::Png, 30, 20, [](int, int) { return kBackdropGreen; }));
    for (const Case& c : {Case{{first}, {second, third}, true}, Case{{}, {second}, false},
                          Case{{}, {second, third}, true}, Case{{first}, {}, false}}) {
        SCOPED_TRACE(testing::Message() << c.atStart.size() << " + " << c.opened.size());
        start(c.atStart);
        wxArrayString chosen;
        for (const auto& path : c.opened) chosen.Add(wxString::FromUTF8(path.string()));
        wxString message;
        {
            const ScopedFileDialogHook answer([&](wxFileDialog& dialog, wxArrayString& paths) {
                message = dialog.GetMessage();
                paths = chosen;
                return chosen.empty() ? wxID_CANCEL : wxID_OK;
            });
            sendMenu(program->window, kMenuOpenId);
        }
        runEvents();

        EXPECT_EQ(message, "Open images");
        EXPECT_EQ(program->host->inputCount(), c.atStart.size() + c.opened.size());
        EXPECT_EQ(program->host->currentInput(), 0u);
        auto* previous = program->control(Mav::Host::App::kPreviousInputButtonId);
        auto* next = program->control(Mav::Host::App::kNextInputButtonId);
        EXPECT_EQ(previous != nullptr, c.buttons);
        EXPECT_EQ(next != nullptr, c.buttons);
        if (c.buttons) {
            EXPECT_FALSE(previous->IsEnabled());
            EXPECT_TRUE(next->IsEnabled());
            // Laid out at once: the buttons have a place and a size.
            EXPECT_GT(previous->GetSize().x, 1);
            EXPECT_NE(previous->GetPosition(), next->GetPosition());
        }
        if (c.atStart.empty() && !c.opened.empty()) {
            // The first opened picture is shown at once.
            const auto bounds = program->host->currentBounds();
            EXPECT_EQ(bounds.width(), 80);
            EXPECT_EQ(bounds.height(), 72);
        }
        program.reset();
    }
}

TEST_F(MainWindow, CancelCloseExitAndCtrlXLeaveFilesAndStoredSettingsAsTheyWere) {
    const std::string firstBytes = fileBytes(first);
    const std::string secondBytes = fileBytes(second);
    // A store with a value in it, so both "absent" and "present" stay as they were.
    {
        ProgramWindow seed({first});
        seed.set().setInt(kSpillSolid, kParamSpillMode);
        seed.set().saveToRegistry(kRegistryRoot);
    }
    const std::string storeBytes = home->storeBytes();
    ASSERT_NE(storeBytes, "<none>");

    struct Way {
        const char* name;
        std::function<void(ProgramWindow&)> leave;
    };
    WindowManager windowManager;  // for the keyboard focus
    const std::vector<Way> ways = {
        {"Cancel", [](ProgramWindow& p) { click(p.control(wxID_CANCEL)); }},
        {"close box", [](ProgramWindow& p) { p.window->Close(); }},
        {"Exit", [](ProgramWindow& p) { sendMenu(p.window, kMenuExitId); }},
        {"Ctrl-X",
         [](ProgramWindow& p) {
             p.window->Raise();
             p.preview()->SetFocus();
             settleInput();
             pressKey('x', wxMOD_CONTROL);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        start({first, second});
        EXPECT_EQ(set().getInt(kParamSpillMode), kSpillSolid);
        // Changes of every kind: a parameter, a stroke, a position, the last image path.
        set().setInt(kSpillDefocusBackground, kParamSpillMode);
        set().valueChanged(kParamSpillMode);
        bridge().sampleMode = SampleCleanBg;
        sample(0, true, 9000, 47000, 15000);
        sample(2, false);
        program->window->setLastImagePath("/somewhere/else/");
        way.leave(*program);
        runEvents(20);
        EXPECT_TRUE(program->windowGone());
        program.reset();
        EXPECT_EQ(fileBytes(first), firstBytes);
        EXPECT_EQ(fileBytes(second), secondBytes);
        EXPECT_EQ(home->storeBytes(), storeBytes);
    }
}

void typeText(const char* text) {
    wxUIActionSimulator sim;
    sim.Text(text);
    settleInput();
}

// With a window manager: the keyboard focus decides where a key goes.
class MainWindowKeys : public ProgramFixture {
public:
    // The "AM Settings" window, opened by its button.
    wxFrame* openAutoMaskWindow() {
        click(program->control(kAutoMaskToggleId));
        runEvents(20);
        return program->window->autoMaskFrame;
    }
    // Gives a control the keyboard focus, its window raised.
    void focus(wxWindow* control) {
        wxGetTopLevelParent(control)->Raise();
        control->SetFocus();
        settleInput();
        ASSERT_EQ(wxWindow::FindFocus(), control);
    }
    // In the focused field: its text replaced by "12.5", cut (the program goes on and the field
    // is empty) and pasted back.
    void expectCutAndPaste(wxTextCtrl* field) {
        pressKey('a', wxMOD_CONTROL);
        typeText("12.5");
        ASSERT_EQ(field->GetValue(), "12.5");
        pressKey('a', wxMOD_CONTROL);
        pressKey('x', wxMOD_CONTROL);
        runEvents(20);
        ASSERT_FALSE(program->windowGone());
        EXPECT_EQ(field->GetValue(), "");
        pressKey('v', wxMOD_CONTROL);
        EXPECT_EQ(field->GetValue(), "12.5");
    }
};

// A text field keeps its own Ctrl keys: select all, copy, paste and cut edit the field, and
// cutting its text leaves the program running.
TEST_F(MainWindowKeys, CtrlKeysInATextFieldEditTheFieldAndCtrlXCutsWithoutExiting) {
    start({first});
    auto* field = program->control<wxTextCtrl>(kBackdropBlurTextId);
    ASSERT_NE(field, nullptr);
    ASSERT_NO_FATAL_FAILURE(focus(field));
    pressKey('a', wxMOD_CONTROL);
    typeText("7");
    pressKey('a', wxMOD_CONTROL);
    pressKey('c', wxMOD_CONTROL);
    pressKey('v', wxMOD_CONTROL);
    pressKey('v', wxMOD_CONTROL);
    EXPECT_EQ(field->GetValue(), "77");
    ASSERT_NO_FATAL_FAILURE(expectCutAndPaste(field));
}

// The same in a floating window, whose keys the main window sees too.
TEST_F(MainWindowKeys, CtrlXInAFloatingWindowsTextFieldCutsWithoutExiting) {
    start({first});
    wxFrame* settings = openAutoMaskWindow();
    ASSERT_NE(settings, nullptr);
    auto* field = dynamic_cast<wxTextCtrl*>(settings->FindWindow(kAutoMaskRadiusTextId));
    ASSERT_NE(field, nullptr);
    ASSERT_NO_FATAL_FAILURE(focus(field));
    ASSERT_NO_FATAL_FAILURE(expectCutAndPaste(field));
}

// Ctrl+O is Open wherever the focus is, the preview and the floating windows included, and zooms
// nothing; the viewer's other zoom-out keys still zoom out.
TEST_F(MainWindowKeys, CtrlOOpensImagesWhereverTheFocusIsAndCtrlMinusStillZoomsOut) {
    start({first});
    wxFrame* settings = openAutoMaskWindow();
    ASSERT_NE(settings, nullptr);
    int dialogs = 0;
    wxString message;
    const ScopedFileDialogHook answer([&](wxFileDialog& dialog, wxArrayString&) {
        ++dialogs;
        message = dialog.GetMessage();
        return wxID_CANCEL;
    });
    Mav::Host::App::Viewer& viewer = program->viewer();
    const struct {
        const char* name;
        wxWindow* control;
    } places[] = {{"preview", program->preview()},
                  {"text field", program->control(kBackdropBlurTextId)},
                  {"button", program->control(kResetTransformsId)},
                  {"floating window", settings->FindWindow(kAutoMaskAlwaysOnId)}};
    for (const auto& place : places) {
        SCOPED_TRACE(place.name);
        ASSERT_NE(place.control, nullptr);
        ASSERT_NO_FATAL_FAILURE(focus(place.control));
        const float zoom = viewer.zoom;
        dialogs = 0;
        pressKey('o', wxMOD_CONTROL);
        runEvents();
        EXPECT_EQ(dialogs, 1);
        EXPECT_EQ(message, "Open images");
        EXPECT_FLOAT_EQ(viewer.zoom, zoom);
    }

    ASSERT_NO_FATAL_FAILURE(focus(program->preview()));
    const float zoom = viewer.zoom;
    dialogs = 0;
    pressKey('-', wxMOD_CONTROL);
    runEvents();
    EXPECT_LT(viewer.zoom, zoom);
    EXPECT_EQ(dialogs, 0);
}

}  // namespace
