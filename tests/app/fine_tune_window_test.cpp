// The fine tune window in the program's main window, under a window manager: the tool button that
// opens it and the tool change that closes it, its close box, and the relative sliders against a
// pick made with a real click in the preview: nothing before a pick on the current image, spring
// back and accumulation after one, refused sums, one undo step per release, renders only on
// release, and the swatch's picture.

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/slider.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <string>

#include "app/fine_tune_frame.h"
#include "app/floating_layouts.h"
#include "app/floating_position.h"
#include "app/main_layout.h"
#include "app/vant_image_preview.h"
#include "host/app/startup_services.h"
#include "host/param/param_events.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;

class FineTuneWindow : public ProgramFixture {
protected:
    FineTuneFrame* fineTune() { return dynamic_cast<FineTuneFrame*>(window()->fineTuneFrame); }
    wxTextCtrl* field(int id) { return dynamic_cast<wxTextCtrl*>(fineTune()->FindWindow(id)); }
    wxSlider* slider(int id) { return dynamic_cast<wxSlider*>(fineTune()->FindWindow(id)); }

    // The tool button, then the window out of the preview's way.  Automatic masking is off first:
    // a pick, like any stroke, would switch it off in an undo step of its own.
    void openFineTune() {
        set().setBool(false, kParamEnableAutoMask);
        set().valueChanged(kParamEnableAutoMask);
        click(program->control(kFineTuneToolId));
        ASSERT_NE(fineTune(), nullptr);
        fineTune()->Move(20, 1000);
        runEvents(10);
    }
    // A real click in the middle of the preview, on the subject, with the pick tool.
    void pick() {
        program->renderNow();
        click(program->preview());
        runEvents(5);
    }
    // A value typed into a slider's field and committed: the slider's release.
    void release(int fieldId, const char* percent) {
        wxTextCtrl* target = field(fieldId);
        click(target);
        target->SelectAll();
        wxUIActionSimulator sim;
        sim.Text(percent);
        settleInput();
        sim.Char(WXK_RETURN);
        settleInput();
    }
    // A thumb drag held at `position`, as the slider reports it.
    void dragTo(int sliderId, int position) {
        wxSlider* target = slider(sliderId);
        target->SetValue(position);
        wxScrollEvent event(wxEVT_SCROLL_THUMBTRACK, sliderId, position, wxHORIZONTAL);
        event.SetEventObject(target);
        target->GetEventHandler()->ProcessEvent(event);
    }
    void letGo(int sliderId) {
        wxSlider* target = slider(sliderId);
        wxScrollEvent event(wxEVT_SCROLL_THUMBRELEASE, sliderId, target->GetValue(), wxHORIZONTAL);
        event.SetEventObject(target);
        target->GetEventHandler()->ProcessEvent(event);
    }
    // The key the engine would hold after the sliders' totals were applied to `picked`.
    std::string keyAfter(const KeyStateSet& picked, FineTuneAmounts totals) {
        CVantreloBridge reference;
        reference.keyStates = picked;
        for (int kind = 0; kind < 3; ++kind) reference.setFineTune(kind, totals[kind]);
        return keyTexts(reference, set());
    }
    void expectSprungBack() {
        for (int id : {kFineTuneRemoveSpillTextId, kFineTuneTransparencyTextId,
                       kFineTuneRestoreDetailsTextId}) {
            double shown = -1;
            EXPECT_TRUE(field(id)->GetValue().ToCDouble(&shown)) << id;
            EXPECT_EQ(shown, 0.0) << id;
        }
        for (int id : {kFineTuneRemoveSpillSliderId, kFineTuneTransparencySliderId,
                       kFineTuneRestoreDetailsSliderId})
            EXPECT_EQ(slider(id)->GetValue(), 0) << id;
        for (int kind = 0; kind < 3; ++kind)
            EXPECT_EQ(fineTune()->record(kind).value().getDouble(), 0.0);
    }
};

TEST_F(FineTuneWindow, TheToolOpensItAndItReopensWhereItWasAtTheLastToolChange) {
    start({first});
    click(program->control(kFineTuneToolId));
    ASSERT_NE(fineTune(), nullptr);
    EXPECT_EQ(bridge().sampleMode, SampleFineTunePick);
    EXPECT_EQ(program->preview()->tool(), kToolFineTunePick);
    EXPECT_TRUE(fineTune()->IsShown());
    EXPECT_EQ(fineTune()->GetTitle(), "Fine Tune");
    const wxRect main = window()->GetScreenRect();
    const wxRect placed = fineTune()->GetScreenRect();
    EXPECT_NEAR(placed.x + placed.width / 2, main.x + main.width / 2, 40);
    EXPECT_NEAR(placed.y + placed.height / 2, main.y + main.height / 2, 40);
    // The sliders run from -100 to 100 and start at 0; the swatch is the window's own.
    EXPECT_EQ(slider(kFineTuneTransparencySliderId)->GetMin(), -100);
    EXPECT_EQ(slider(kFineTuneTransparencySliderId)->GetMax(), 100);
    ASSERT_NE(fineTune()->swatch(), nullptr);
    EXPECT_EQ(fineTune()->swatch()->GetName(), "Fine Tune Viewer");

    // The button again keeps the same window open.
    FineTuneFrame* opened = fineTune();
    click(program->control(kFineTuneToolId));
    EXPECT_EQ(fineTune(), opened);
    EXPECT_TRUE(opened->IsShown());

    // Another tool closes it and records where it was; the pick tool opens it there again.
    fineTune()->Move(250, 260);
    runEvents(10);
    const wxPoint at = fineTune()->GetScreenPosition();
    click(program->control(kCleanBackgroundToolId));
    runEvents(5);
    EXPECT_EQ(window()->fineTuneFrame, nullptr);
    EXPECT_EQ(set().getString(kParamFineTuneWindow), formatWindowPosition({at.x, at.y}));
    click(program->control(kFineTuneToolId));
    ASSERT_NE(fineTune(), nullptr);
    runEvents(10);
    EXPECT_EQ(fineTune()->GetScreenPosition(), at);

    // Its close box selects the select tool and records nothing.
    fineTune()->Move(400, 420);
    runEvents(10);
    fineTune()->Close();
    runEvents(5);
    EXPECT_EQ(window()->fineTuneFrame, nullptr);
    EXPECT_EQ(program->preview()->tool(), kToolSelect);
    EXPECT_TRUE(window()->selectToolButton->GetValue());
    EXPECT_FALSE(window()->fineTuneToolButton->GetValue());
    EXPECT_EQ(set().getString(kParamFineTuneWindow), formatWindowPosition({at.x, at.y}));
    EXPECT_TRUE(set().undoSteps().empty());
}

TEST_F(FineTuneWindow, SlidersWaitForAPickThenSpringBackAndAccumulate) {
    start({first});
    openFineTune();
    const std::string untouched = key();

    // Before a pick: no change, no undo step, and the slider is back at 0.
    release(kFineTuneTransparencyTextId, "50");
    EXPECT_EQ(key(), untouched);
    EXPECT_TRUE(set().undoSteps().empty());
    expectSprungBack();
    EXPECT_EQ(fineTune()->offsets().base, (FineTuneAmounts{0, 0, 0}));

    // A pick on the subject.
    pick();
    ASSERT_TRUE(fineTune()->pickedOnCurrentImage());
    EXPECT_NEAR(bridge().averageColour[0], kSubjectColour.r, 300);
    EXPECT_NEAR(bridge().averageColour[1], kSubjectColour.g, 300);
    EXPECT_NEAR(bridge().averageColour[2], kSubjectColour.b, 300);
    EXPECT_EQ(key(), untouched);  // the pick itself changes no key and records no step
    EXPECT_TRUE(set().undoSteps().empty());
    const KeyStateSet picked = bridge().keyStates;

    // +50, then +30: the engine gets 0.8 for "Transparency", 0 for the other two.
    program->renderNow();
    int renders = program->host->renders;
    release(kFineTuneTransparencyTextId, "50");
    EXPECT_EQ(key(), keyAfter(picked, {0.0f, 0.5f, 0.0f}));
    EXPECT_NE(key(), untouched);
    expectSprungBack();
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()),
              (std::set<std::size_t>{kParamKeyData, kParamEdgeData, kParamBodyData}));
    program->renderNow();
    EXPECT_GT(program->host->renders, renders);
    release(kFineTuneTransparencyTextId, "30");
    const std::string at08 = key();
    EXPECT_EQ(at08, keyAfter(picked, {0.0f, 0.5f + 0.3f, 0.0f}));
    EXPECT_EQ(fineTune()->offsets().base[FineTuneTransparency], 0.5f + 0.3f);
    expectSprungBack();
    EXPECT_EQ(set().undoSteps().size(), 2u);

    // Dragging to +30 would make 1.1: refused, the key stays; only the swatch would follow, and
    // nothing renders while the slider is held.
    program->renderNow();
    renders = program->host->renders;
    dragTo(kFineTuneTransparencySliderId, 30);
    EXPECT_EQ(key(), at08);
    program->renderNow();
    EXPECT_EQ(program->host->renders, renders);
    letGo(kFineTuneTransparencySliderId);
    EXPECT_EQ(key(), at08);
    EXPECT_FLOAT_EQ(fineTune()->offsets().base[FineTuneTransparency], 1.1f);
    expectSprungBack();
    // Back inside the range with -20: 0.9.
    release(kFineTuneTransparencyTextId, "-20");
    const float transparency = 0.5f + 0.3f + 0.3f + -0.2f;
    EXPECT_EQ(key(), keyAfter(picked, {0.0f, transparency, 0.0f}));

    // A drag of another slider applies it with the other kinds at their bases, and the swatch
    // follows the key while it is held.
    dragTo(kFineTuneRemoveSpillSliderId, -40);
    EXPECT_EQ(key(), keyAfter(picked, {-0.4f, transparency, 0.0f}));
    CVantreloBridge reference;
    reference.keyStates = bridge().keyStates;
    std::copy(bridge().averageColour, bridge().averageColour + 3, reference.averageColour);
    const Sample16 probed = reference.probePixel();
    EXPECT_EQ(fineTune()->swatch()->probe,
              (std::array<std::uint16_t, 4>{probed.rgba[0], probed.rgba[1], probed.rgba[2],
                                            probed.rgba[3]}));
    letGo(kFineTuneRemoveSpillSliderId);
    expectSprungBack();

    // One undo per release brings the key back step by step.
    const std::size_t steps = set().undoSteps().size();
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(key(), keyAfter(picked, {0.0f, transparency, 0.0f}));
    for (std::size_t i = 1; i < steps; ++i) sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(key(), untouched);

    // A click on the track moves the slider without a drag; the same click again after the
    // spring-back counts again.
    const float details = fineTune()->offsets().base[FineTuneRestoreDetails];
    for (int i = 0; i < 2; ++i) {
        wxSlider* target = slider(kFineTuneRestoreDetailsSliderId);
        target->SetValue(10);
        wxScrollEvent event(wxEVT_SCROLL_CHANGED, target->GetId(), 10, wxHORIZONTAL);
        event.SetEventObject(target);
        target->GetEventHandler()->ProcessEvent(event);
        expectSprungBack();
    }
    EXPECT_FLOAT_EQ(fineTune()->offsets().base[FineTuneRestoreDetails], details + 0.2f);

    // A new pick starts the bases at 0 again.
    pick();
    EXPECT_EQ(fineTune()->offsets().base, (FineTuneAmounts{0, 0, 0}));
}

TEST_F(FineTuneWindow, AnotherImageNeedsItsOwnPick) {
    start({first, second});
    openFineTune();
    pick();
    release(kFineTuneRestoreDetailsTextId, "25");
    ASSERT_EQ(set().undoSteps().size(), 1u);

    click(program->control(Mav::Host::App::kNextInputButtonId));
    runEvents(10);
    ASSERT_EQ(program->host->currentInput(), 1u);
    ASSERT_NE(fineTune(), nullptr);
    EXPECT_FALSE(fineTune()->pickedOnCurrentImage());
    const std::string secondKey = key();
    const std::size_t steps = set().undoSteps().size();
    release(kFineTuneRestoreDetailsTextId, "25");
    EXPECT_EQ(key(), secondKey);
    EXPECT_EQ(set().undoSteps().size(), steps);
    expectSprungBack();

    // (This input's own set still has automatic masking on; the pick switches it off.)
    pick();
    EXPECT_TRUE(fineTune()->pickedOnCurrentImage());
    const std::size_t afterPick = set().undoSteps().size();
    release(kFineTuneRestoreDetailsTextId, "25");
    EXPECT_NE(key(), secondKey);
    EXPECT_EQ(set().undoSteps().size(), afterPick + 1);
}

TEST_F(FineTuneWindow, TheSwatchShowsTheProbeOverGreysBesideItAlone) {
    start({first});
    openFineTune();
    FineTuneViewer* swatch = fineTune()->swatch();
    ASSERT_EQ(swatch->GetClientSize(), wxSize(160, 80));
    auto shownAt = [&](std::array<std::uint16_t, 4> probe, std::initializer_list<wxPoint> points) {
        swatch->probe = probe;
        swatch->refresh();
        swatch->Update();
        runEvents(5);
        const wxImage picture = screenshot(swatch);
        std::vector<std::array<int, 3>> colours;
        for (wxPoint p : points)
            colours.push_back({picture.GetRed(p.x, p.y), picture.GetGreen(p.x, p.y),
                               picture.GetBlue(p.x, p.y)});
        return colours;
    };
    using Colours = std::vector<std::array<int, 3>>;
    const std::initializer_list<wxPoint> points = {{5, 5}, {15, 5}, {15, 15}, {75, 72},
                                                   {120, 40}, {159, 79}};
    // Opaque: the checkerboard is the colour throughout and matches the right half.
    EXPECT_EQ(shownAt({0x3412, 0x9a78, 0xdcba, 65535}, points),
              Colours(6, std::array<int, 3>{0x34, 0x9a, 0xdc}));
    // Transparent: the greys 192 (the top-left square) and 128, and black beside them.
    EXPECT_EQ(shownAt({0x3412, 0x9a78, 0xdcba, 0}, points),
              (Colours{{192, 192, 192}, {128, 128, 128}, {192, 192, 192}, {192, 192, 192},
                       {0x34, 0x9a, 0xdc}, {0x34, 0x9a, 0xdc}}));
    // Half: each channel's high byte blended over the grey and truncated.
    const double h = 32768 / 65535.0;
    auto over = [&](int value, int grey) { return static_cast<int>(value * h + grey * (1 - h)); };
    EXPECT_EQ(shownAt({0x3412, 0x9a78, 0xdcba, 32768}, {{5, 5}, {15, 5}}),
              (Colours{{over(0x34, 192), over(0x9a, 192), over(0xdc, 192)},
                       {over(0x34, 128), over(0x9a, 128), over(0xdc, 128)}}));
}

}  // namespace
