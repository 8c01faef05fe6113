// The floating settings windows in the program's main window, under a window manager: opening and
// closing through the toggles and the close box, where they open again, which positions are
// recorded when, their enabling rules, their edits going through the main window's undo and render,
// their values after undo and reset, and their end before the main window's.

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/fine_tune_frame.h"
#include "app/floating_layouts.h"
#include "app/floating_position.h"
#include "app/floating_windows.h"
#include "app/main_layout.h"
#include "host/param/param_events.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;
using Mav::Host::Param::ParamSubFrame;

struct Floating {
    const char* title;
    int toggle;
    ParamSubFrame* VantreloUIBase::*pointer;
    std::size_t position;
};

const Floating kFloating[] = {
    {"Auto Mask", kAutoMaskToggleId, &VantreloUIBase::autoMaskFrame, kParamAutoMaskWindow},
    {"Light Wrap", kLightWrapToggleId, &VantreloUIBase::lightWrapFrame, kParamLightWrapWindow},
    {"Remove Noise", kRemoveNoiseToggleId, &VantreloUIBase::removeNoiseFrame,
     kParamRemoveGrainWindow},
    {"Soften Matte", kMatteSettingsToggleId, &VantreloUIBase::softenMatteFrame,
     kParamSoftenMatteWindow},
};

std::string positionText(wxWindow* window) {
    const wxPoint at = window->GetScreenPosition();
    return formatWindowPosition({at.x, at.y});
}

class FloatingWindows : public ProgramFixture {
protected:
    ParamSubFrame* frame(const Floating& f) { return window()->*f.pointer; }
    wxToggleButton* toggle(const Floating& f) { return program->control<wxToggleButton>(f.toggle); }
    // Moves a shown window and waits until the window manager has placed it there.
    void moveWindow(wxWindow* w, wxPoint to) {
        w->Move(to);
        runEvents(10);
    }
    // The close box: the window manager's close request, as the toolkit delivers it.
    void closeBox(wxWindow* w) {
        w->Close();
        runEvents(5);
    }
    // Types into a field of the focused kind and commits with Enter.
    void typeInto(wxTextCtrl* field, const char* text) {
        click(field);
        field->SelectAll();
        wxUIActionSimulator sim;
        sim.Text(text);
        settleInput();
        sim.Char(WXK_RETURN);
        settleInput();
    }
};

TEST_F(FloatingWindows, EachOpensCentredAndReopensWhereItWasClosed) {
    start({first});
    for (const Floating& f : kFloating) {
        SCOPED_TRACE(f.title);
        ASSERT_EQ(set().getString(f.position), "");
        click(toggle(f));
        ParamSubFrame* opened = frame(f);
        ASSERT_NE(opened, nullptr);
        EXPECT_TRUE(opened->IsShown());
        EXPECT_EQ(opened->GetTitle(), f.title);
        EXPECT_EQ(opened->GetParent(), window());
        EXPECT_EQ(opened->GetWindowStyle() & kFloatingWindowStyle, kFloatingWindowStyle);
        EXPECT_EQ(opened->GetWindowStyle() & (wxRESIZE_BORDER | wxMINIMIZE_BOX | wxMAXIMIZE_BOX), 0);
        // Fresh: centred over the main window.
        const wxRect main = window()->GetScreenRect();
        const wxRect placed = opened->GetScreenRect();
        EXPECT_NEAR(placed.x + placed.width / 2, main.x + main.width / 2, 40);
        EXPECT_NEAR(placed.y + placed.height / 2, main.y + main.height / 2, 40);

        moveWindow(opened, wxPoint(137, 151));
        const std::string where = positionText(opened);
        closeBox(opened);
        EXPECT_EQ(frame(f), nullptr);
        EXPECT_FALSE(toggle(f)->GetValue());
        EXPECT_EQ(set().getString(f.position), where);

        // The next toggle opens a new window where the last one was closed.
        click(toggle(f));
        ASSERT_NE(frame(f), nullptr);
        runEvents(10);
        EXPECT_EQ(positionText(frame(f)), where);

        // Released: recorded and gone.
        moveWindow(frame(f), wxPoint(211, 233));
        const std::string later = positionText(frame(f));
        click(toggle(f));
        EXPECT_EQ(frame(f), nullptr);
        EXPECT_EQ(set().getString(f.position), later);
    }
    // Positions are no undo matter.
    EXPECT_TRUE(set().undoSteps().empty());
}

TEST_F(FloatingWindows, ClosingOneRecordsEveryShownWindowAndAPositionOnlyThen) {
    start({first});
    const Floating& autoMask = kFloating[0];
    const Floating& lightWrap = kFloating[1];
    click(toggle(autoMask));
    click(toggle(lightWrap));
    moveWindow(frame(autoMask), wxPoint(101, 111));
    moveWindow(frame(lightWrap), wxPoint(303, 313));
    const std::string autoMaskAt = positionText(frame(autoMask));
    closeBox(frame(lightWrap));
    EXPECT_EQ(set().getString(kParamAutoMaskWindow), autoMaskAt);
    EXPECT_NE(set().getString(kParamLightWrapWindow), "");

    // Moving an open window records nothing until the next occasion.
    moveWindow(frame(autoMask), wxPoint(155, 166));
    EXPECT_EQ(set().getString(kParamAutoMaskWindow), autoMaskAt);

    // Unreadable or unplaceable stored text centres the window.
    for (const char* stored : {"12x", "40000 5"}) {
        set().setString(stored, kParamLightWrapWindow);
        click(toggle(lightWrap));
        const wxRect main = window()->GetScreenRect();
        const wxRect placed = frame(lightWrap)->GetScreenRect();
        EXPECT_NEAR(placed.x + placed.width / 2, main.x + main.width / 2, 40) << stored;
        EXPECT_NEAR(placed.y + placed.height / 2, main.y + main.height / 2, 40) << stored;
        click(toggle(lightWrap));
    }
}

TEST_F(FloatingWindows, EnablingRulesFollowTheirSwitchAtTheNextUpdatePass) {
    start({first});
    set().setBool(false, kParamEnableLightWrap);
    set().setInt(kNoGrain, kParamGrainType);
    set().setBool(false, kParamEnableSoftenMatte);
    window()->TransferDataToWindow();
    // Opened side by side, so that a click reaches the window it is meant for.
    int x = 20;
    for (const Floating& f : kFloating) {
        click(toggle(f));
        moveWindow(frame(f), wxPoint(x, 700));
        x += frame(f)->GetSize().x + 30;
    }

    auto enabled = [&](const Floating& f, const std::vector<int>& ids) {
        std::vector<bool> states;
        for (int id : ids) {
            wxWindow* control = frame(f)->FindWindow(id);
            EXPECT_NE(control, nullptr) << id;
            states.push_back(control && control->IsEnabled());
        }
        return states;
    };
    const std::vector<int> lightWrapIds = {kLightWrapRadiusCaptionId, kLightWrapRadiusTextId,
                               kLightWrapRadiusSliderId,  kLightWrapBrightnessCaptionId,
                               kLightWrapBrightnessTextId, kLightWrapBrightnessSliderId,
                               kLightWrapBlendCaptionId,  kLightWrapBlendChoiceId};
    const std::vector<int> toleranceIds = {kToleranceCaptionId, kToleranceTextId, kToleranceSliderId};
    const std::vector<int> grainIds = {kGrainOffId, kGrainSmallId, kGrainMediumId, kGrainLargeId};
    const std::vector<int> softenIds = {kSoftenCaptionId, kSoftenTextId, kSoftenSliderId, kShrinkCaptionId,
                            kShrinkTextId,    kShrinkSliderId, kInOnlyId};
    EXPECT_EQ(enabled(kFloating[1], lightWrapIds), std::vector<bool>(8, false));
    EXPECT_EQ(enabled(kFloating[2], toleranceIds), std::vector<bool>(3, false));
    EXPECT_EQ(enabled(kFloating[2], grainIds), std::vector<bool>(4, true));
    EXPECT_EQ(enabled(kFloating[3], softenIds), std::vector<bool>(7, false));
    EXPECT_TRUE(frame(kFloating[0])->FindWindow(kAutoMaskRadiusTextId)->IsEnabled());

    // Switched on in the main window and in the remove-noise window itself.
    click(program->control(kLightWrapId));
    click(program->control(kSoftenMatteId));
    click(frame(kFloating[2])->FindWindow(kGrainMediumId));
    runEvents(10);
    EXPECT_TRUE(set().getBool(kParamEnableLightWrap));
    EXPECT_EQ(set().getInt(kParamGrainType), kMediumGrain);
    EXPECT_EQ(enabled(kFloating[1], lightWrapIds), std::vector<bool>(8, true));
    EXPECT_EQ(enabled(kFloating[2], toleranceIds), std::vector<bool>(3, true));
    EXPECT_EQ(enabled(kFloating[3], softenIds), std::vector<bool>(7, true));

    // The pressed grain button stays pressed and changes nothing.
    const std::size_t steps = set().undoSteps().size();
    click(frame(kFloating[2])->FindWindow(kGrainMediumId));
    EXPECT_EQ(set().getInt(kParamGrainType), kMediumGrain);
    EXPECT_TRUE(dynamic_cast<wxToggleButton*>(frame(kFloating[2])->FindWindow(kGrainMediumId))
                    ->GetValue());
    EXPECT_EQ(set().undoSteps().size(), steps);
}

TEST_F(FloatingWindows, EditsGoThroughTheMainWindowAndFollowUndoAndReset) {
    start({first});
    set().setBool(true, kParamEnableSoftenMatte);
    set().setBool(true, kParamEnableLightWrap);
    window()->TransferDataToWindow();
    click(toggle(kFloating[3]));
    moveWindow(frame(kFloating[3]), wxPoint(40, 700));
    click(toggle(kFloating[1]));
    moveWindow(frame(kFloating[1]), wxPoint(600, 700));
    auto* soften = dynamic_cast<wxTextCtrl*>(frame(kFloating[3])->FindWindow(kSoftenTextId));
    auto* softenSlider = dynamic_cast<wxSlider*>(frame(kFloating[3])->FindWindow(kSoftenSliderId));
    ASSERT_NE(soften, nullptr);
    const double before = set().getDouble(kParamSoftenMatte);

    program->renderNow();
    int renders = program->host->renders;
    typeInto(soften, "6");
    EXPECT_DOUBLE_EQ(set().getDouble(kParamSoftenMatte), 6.0);
    // 6 times the record's scale of 0.5.
    EXPECT_EQ(bridge().keyStates.softenRadius, 3);
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamSoftenMatte}));
    program->renderNow();
    EXPECT_GT(program->host->renders, renders);

    // The choice of the light-wrap window: "Add" stores 2.
    auto* blend = dynamic_cast<wxChoice*>(frame(kFloating[1])->FindWindow(kLightWrapBlendChoiceId));
    ASSERT_NE(blend, nullptr);
    blend->SetSelection(kBlendAdd);
    wxCommandEvent chosen(wxEVT_CHOICE, kLightWrapBlendChoiceId);
    chosen.SetEventObject(blend);
    chosen.SetInt(kBlendAdd);
    blend->GetEventHandler()->ProcessEvent(chosen);
    EXPECT_EQ(set().getInt(kParamLightWrapBlendMode), kBlendAdd);
    EXPECT_EQ(set().undoSteps().size(), 2u);

    // Undo reaches the floating windows' controls, not only the main window's: the field that
    // keeps the focus through a Ctrl-Z shows the old value and does not store 10 again when the
    // focus leaves it.
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(blend->GetSelection(), set().getInt(kParamLightWrapBlendMode));
    typeInto(soften, "10");
    ASSERT_EQ(set().undoSteps().size(), 2u);
    pressKey('Z', wxMOD_CONTROL);
    EXPECT_DOUBLE_EQ(set().getDouble(kParamSoftenMatte), 6.0);
    double shown = -1;
    ASSERT_TRUE(soften->GetValue().ToCDouble(&shown));
    EXPECT_DOUBLE_EQ(shown, 6.0);
    EXPECT_EQ(softenSlider->GetValue(), 6);
    click(program->control(kZoomFieldId));
    EXPECT_DOUBLE_EQ(set().getDouble(kParamSoftenMatte), 6.0);
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    ASSERT_TRUE(soften->GetValue().ToCDouble(&shown));
    EXPECT_DOUBLE_EQ(shown, before);

    // So does "Reset All".
    typeInto(soften, "11");
    click(program->control(kResetId));
    ASSERT_TRUE(soften->GetValue().ToCDouble(&shown));
    EXPECT_DOUBLE_EQ(shown, set().record(kParamSoftenMatte).defaultValue().getDouble());
    EXPECT_DOUBLE_EQ(set().getDouble(kParamSoftenMatte), shown);
}

TEST_F(FloatingWindows, ASliderRendersWhenLetGoNotWhileDragged) {
    start({first});
    set().setBool(true, kParamEnableSoftenMatte);
    click(toggle(kFloating[3]));
    runEvents(10);
    auto* slider = dynamic_cast<wxSlider*>(frame(kFloating[3])->FindWindow(kShrinkSliderId));
    ASSERT_NE(slider, nullptr);
    program->renderNow();
    const int renders = program->host->renders;

    // A real drag of the thumb from the left end.
    wxUIActionSimulator sim;
    const wxSize size = slider->GetClientSize();
    sim.MouseMove(slider->ClientToScreen(wxPoint(8, size.y / 2)));
    settleInput();
    sim.MouseDown();
    settleInput();
    for (int x = 16; x <= size.x / 2; x += 8) {
        sim.MouseMove(slider->ClientToScreen(wxPoint(x, size.y / 2)));
        settleInput(2);
    }
    program->renderNow();
    EXPECT_GT(set().getDouble(kParamShrinkMatte), 0.0);
    EXPECT_EQ(program->host->renders, renders);
    EXPECT_EQ(set().undoSteps().size(), 1u);
    sim.MouseUp();
    settleInput();
    program->renderNow();
    EXPECT_GT(program->host->renders, renders);
    EXPECT_EQ(set().undoSteps().size(), 1u);
}

// A subject whose edge fades into a backdrop that is not flat, so that the auto-mask's radius and
// spill suppression change the key it detects; the left half of the subject carries green spill.
Rgb16 softSubjectOnGreen(int x, int y) {
    const double distance = std::hypot(x - 64.0, y - 48.0);
    const double subject = std::clamp((34.0 - distance) / 14.0, 0.0, 1.0);
    const Rgb16 backdrop{static_cast<std::uint16_t>(6000 + 60 * x),
                         static_cast<std::uint16_t>(42000 + 50 * y),
                         static_cast<std::uint16_t>(12000 + 30 * x)};
    const Rgb16 colour{52000, static_cast<std::uint16_t>(x < 64 ? 38000 : 28000), 21000};
    auto mix = [&](std::uint16_t a, std::uint16_t b) {
        return static_cast<std::uint16_t>(a * subject + b * (1 - subject));
    };
    return {mix(colour.r, backdrop.r), mix(colour.g, backdrop.g), mix(colour.b, backdrop.b)};
}

// "AutoMask" detects the key once with "Always On" off; until the next stroke on the image every
// change in the "AM Settings" window detects it again, so the preview's matte follows the sliders
// and one undo brings back setting and key.  After a stroke a setting changes the key no more,
// unless "Always On" is ticked.
TEST_F(FloatingWindows, AutoMaskSettingsDetectAgainAfterTheButtonUntilTheNextStroke) {
    const std::filesystem::path soft = home->home() / "soft.png";
    ASSERT_TRUE(writePicture(soft, PictureFormat::Png, 128, 96, softSubjectOnGreen));
    start({soft});
    // The preview shows the matte.
    set().setInt(kMaskMask, kParamMaskMode);
    set().valueChanged(kParamMaskMode);
    click(toggle(kFloating[0]));
    moveWindow(frame(kFloating[0]), wxPoint(40, 600));
    ParamSubFrame* settings = frame(kFloating[0]);
    auto* alwaysOn = dynamic_cast<wxCheckBox*>(settings->FindWindow(kAutoMaskAlwaysOnId));
    auto* radius = dynamic_cast<wxTextCtrl*>(settings->FindWindow(kAutoMaskRadiusTextId));
    ASSERT_TRUE(alwaysOn && radius);
    ASSERT_TRUE(alwaysOn->GetValue());
    click(alwaysOn);
    ASSERT_FALSE(set().getBool(kParamEnableAutoMask));
    program->renderNow();
    const std::string atStart = key();
    typeInto(radius, "15");
    program->renderNow();
    ASSERT_TRUE(key() == atStart) << "before the button, a setting alone detects nothing";

    click(program->control(kAutoMaskButtonId));
    program->renderNow();
    const std::string detected = key();
    const wxImage detectedMatte = screenshot(program->preview());
    ASSERT_TRUE(detected != atStart) << "the button detected with radius 15";

    typeInto(radius, "40");
    program->renderNow();
    const std::string followed = key();
    EXPECT_TRUE(followed != detected) << "the radius detected the key again";
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamAutoMaskRadius, kParamKeyData,
                                                        kParamEdgeData, kParamBodyData}));
    const wxImage followedMatte = screenshot(program->preview());
    int changed = 0;
    for (int y = 0; y < followedMatte.GetHeight(); ++y)
        for (int x = 0; x < followedMatte.GetWidth(); ++x)
            changed += std::abs(followedMatte.GetRed(x, y) - detectedMatte.GetRed(x, y)) > 8;
    EXPECT_GT(changed, 20) << "the preview's matte follows";

    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    program->renderNow();
    EXPECT_TRUE(key() == detected) << "one undo brings back setting and key";
    EXPECT_EQ(set().getDouble(kParamAutoMaskRadius), 15);

    // A select click on the backdrop: a stroke.
    click(program->control(kSelectToolId));
    int x = 0, y = 0;
    program->viewer().viewToImage(6, 6, x, y, true);
    clickAt(program->preview(), wxPoint(x, y));
    program->renderNow();
    const std::string stroked = key();
    ASSERT_TRUE(stroked != detected) << "the click applied its sample";
    typeInto(radius, "25");
    program->renderNow();
    EXPECT_TRUE(key() == stroked) << "after a stroke a setting detects nothing";
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamAutoMaskRadius}));

    // Unless "Always On" is ticked.
    click(alwaysOn);
    ASSERT_TRUE(set().getBool(kParamEnableAutoMask));
    program->renderNow();
    const std::string always = key();
    EXPECT_TRUE(always != stroked);
    typeInto(radius, "40");
    program->renderNow();
    EXPECT_TRUE(key() != always);
}

TEST_F(FloatingWindows, TheyAreDestroyedBeforeTheMainWindowAndItsDestroyRecordsPositions) {
    start({first});
    for (const Floating& f : {kFloating[0], kFloating[2], kFloating[3]}) click(toggle(f));
    click(program->control(kFineTuneToolId));
    ASSERT_NE(window()->fineTuneFrame, nullptr);
    click(toggle(kFloating[2]));  // closed again: its text is emptied at the end
    set().setString("5 6", kParamRemoveGrainWindow);
    runEvents(10);

    VantreloUIApp* main = window();
    std::vector<ParamSubFrame*> open = {main->autoMaskFrame, main->fineTuneFrame,
                                        main->softenMatteFrame};
    const std::string autoMaskAt = positionText(main->autoMaskFrame);
    const std::string fineTuneAt = positionText(main->fineTuneFrame);
    // Each floating window, as it goes, sees the main window still waiting for its own turn.
    int destroyed = 0;
    int mainStillThere = 0;
    for (ParamSubFrame* frame : open) {
        frame->Bind(wxEVT_DESTROY, [&, frame](wxWindowDestroyEvent& event) {
            event.Skip();
            if (event.GetEventObject() != frame) return;
            ++destroyed;
            if (wxPendingDelete.Member(main)) ++mainStillThere;
        });
    }
    program->close();
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(mainStillThere, 3);
    EXPECT_TRUE(program->windowGone());
    EXPECT_EQ(set().getString(kParamAutoMaskWindow), autoMaskAt);
    EXPECT_EQ(set().getString(kParamFineTuneWindow), fineTuneAt);
    EXPECT_NE(set().getString(kParamSoftenMatteWindow), "");
    EXPECT_EQ(set().getString(kParamRemoveGrainWindow), "");
    EXPECT_EQ(set().getString(kParamLightWrapWindow), "");
}

}  // namespace
