// A person using the program, with real pointer and keyboard input under a window manager: two
// pictures, a select click and a clean-background stroke on the backdrop, Ctrl-Z, ">" and back, a
// Shift move of the backdrop, OK; then a second run that cancels.  Screenshots check the inverted
// stroke, the keyed preview and the "<" and ">" buttons.

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/tglbtn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/main_window.h"
#include "app/vant_image_preview.h"
#include "host/app/startup_services.h"
#include "host/param/viewer_base.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;

constexpr int kWidth = 240;
constexpr int kHeight = 160;
// "BG color": levels 200, 60 and 140, exact in 8 and 16 bits.
constexpr double kBackdropColour[3] = {200 / 255.0, 60 / 255.0, 140 / 255.0};
constexpr int kBackdropLevels[3] = {200, 60, 140};

struct Rgb8 {
    int r, g, b;
};

Rgb8 pixel(const wxImage& image, wxPoint at) {
    return {image.GetRed(at.x, at.y), image.GetGreen(at.x, at.y), image.GetBlue(at.x, at.y)};
}

int luminance(Rgb8 c) { return (c.r * 30 + c.g * 59 + c.b * 11) / 100; }

// The darkest pixel inside a control: its label's glyph.
int darkest(wxWindow* control) {
    const wxImage shot = screenshot(control);
    int least = 255;
    for (int y = 0; y < shot.GetHeight(); ++y)
        for (int x = 0; x < shot.GetWidth(); ++x)
            least = std::min(least, luminance(pixel(shot, wxPoint(x, y))));
    return least;
}

class ProgramScenario : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        home = std::make_unique<ScratchHome>();
        first = home->home() / "first.png";
        second = home->home() / "second.tif";
        // A backdrop that varies a little, as a lit backdrop does, so that a stroke over it has
        // colours to add to the key.
        auto subject = [](int x, int y) {
            Rgb16 c = subjectOnGreen(x, y, kWidth, kHeight);
            if (c.g == kBackdropGreen.g) {
                c.g = static_cast<std::uint16_t>(c.g + (x % 7) * 700 - (y % 5) * 600);
                c.r = static_cast<std::uint16_t>(c.r + (y % 3) * 500);
            }
            return c;
        };
        ASSERT_TRUE(writePicture(first, PictureFormat::Png, kWidth, kHeight, subject));
        ASSERT_TRUE(writePicture(second, PictureFormat::Tiff, kWidth, kHeight, subject));
        // Without the automatic key the first picture shows the user's key alone.  The backdrop
        // colour's channels all differ, so a channel swapped on the way into the written files
        // shows, and an inverted stroke stands far from the plain picture under it.
        {
            ProgramWindow seed({});
            seed.set().setBool(false, kParamEnableAutoMask);
            seed.set().setColour(kBackdropColour, kParamBGColor);
            seed.set().saveToRegistry(kRegistryRoot);
        }
        vantrelo_test::takeRecordedBoxes();
    }
    void TearDown() override {
        program.reset();
        windowManager.reset();
        home.reset();
    }

    // The panel position where picture pixel (x, y) is drawn.
    wxPoint drawnAt(int x, int y) {
        auto& viewer = program->viewer();
        const float z = viewer.zoom;
        return wxPoint(viewer.originX + viewer.panX + static_cast<int>(x * z),
                       viewer.originY + viewer.panY + static_cast<int>(y * z));
    }
    // The panel position whose sample is picture pixel (x, y).
    wxPoint sampledAt(int x, int y) {
        int wx = 0, wy = 0;
        program->viewer().viewToImage(x, y, wx, wy, true);
        return wxPoint(wx, wy);
    }
    void clickTool(int id) { click(program->control(id)); }
    std::string key() { return keyTexts(program->host->bridge, program->set()); }

    std::unique_ptr<ScratchHome> home;
    std::unique_ptr<WindowManager> windowManager = std::make_unique<WindowManager>();
    std::filesystem::path first, second;
    std::unique_ptr<ProgramWindow> program;
};

TEST_F(ProgramScenario, KeyStepMoveAndFinishWithOkThenCancelASecondRun) {
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{first, second});
    VantreloUIApp* window = program->window;
    ASSERT_NE(window, nullptr);
    runEvents(30);
    EXPECT_TRUE(window->IsMaximized());
    EXPECT_EQ(window->GetTitle(), "Vantrelo");
    VantImagePreview* preview = program->preview();
    program->renderNow();
    for (auto& b : vantrelo_test::takeRecordedBoxes()) ADD_FAILURE() << b.caption << ": " << b.text;
    const wxPoint backdropSpot = drawnAt(12, 12);
    const wxPoint subjectSpot = drawnAt(kWidth / 2, kHeight / 2);
    wxImage shot = screenshot(preview);
    const Rgb8 greenBefore = pixel(shot, backdropSpot);
    EXPECT_GT(greenBefore.g, greenBefore.r + 80) << "the picture is shown";

    // The "<" and ">" buttons: on the first picture "<" is disabled (a paler label) and ">" not.
    auto* previous = program->control<wxButton>(Mav::Host::App::kPreviousInputButtonId);
    auto* next = program->control<wxButton>(Mav::Host::App::kNextInputButtonId);
    ASSERT_NE(previous, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_LT(darkest(next) + 40, darkest(previous));

    // A select click on the backdrop makes the key from its colour: the backdrop goes, the
    // subject stays.
    clickTool(kSelectToolId);
    clickAt(preview, sampledAt(20, 20));
    program->renderNow();
    shot = screenshot(preview);
    const Rgb8 keyedBackdrop = pixel(shot, backdropSpot);
    EXPECT_LT(keyedBackdrop.g, greenBefore.g - 60) << "the backdrop is keyed out";
    const Rgb8 subject = pixel(shot, subjectSpot);
    EXPECT_GT(subject.r, subject.g + 40) << "the subject stays";
    const std::string keyAfterSelect = key();
    const std::size_t stepsAfterSelect = program->set().undoSteps().size();

    // A clean-background stroke over the backdrop: while the button is down the stroke shows
    // inverted over the picture.
    clickTool(kCleanBackgroundToolId);
    const std::vector<wxPoint> strokePoints = {sampledAt(10, 30), sampledAt(30, 30),
                                               sampledAt(50, 30), sampledAt(50, 50)};
    wxUIActionSimulator sim;
    sim.MouseMove(preview->ClientToScreen(strokePoints[0]));
    settleInput();
    const wxImage beforeStroke = screenshot(preview);
    sim.MouseDown();
    settleInput();
    for (std::size_t i = 1; i < strokePoints.size(); ++i) {
        sim.MouseMove(preview->ClientToScreen(strokePoints[i]));
        settleInput(4);
    }
    preview->Update();
    runEvents(3);
    const wxImage duringStroke = screenshot(preview);
    const wxPoint onStroke((strokePoints[0].x + strokePoints[1].x) / 2, strokePoints[0].y);
    const Rgb8 plain = pixel(beforeStroke, onStroke);
    const Rgb8 inverted = pixel(duringStroke, onStroke);
    EXPECT_NEAR(inverted.r, 255 - plain.r, 2);
    EXPECT_NEAR(inverted.g, 255 - plain.g, 2);
    EXPECT_NEAR(inverted.b, 255 - plain.b, 2);
    sim.MouseUp();
    settleInput();
    program->renderNow();
    EXPECT_NE(key(), keyAfterSelect);
    EXPECT_EQ(program->set().undoSteps().size(), stepsAfterSelect + 1);
    // The stroke is gone from the screen after the release.
    const Rgb8 afterRelease = pixel(screenshot(preview), onStroke);
    EXPECT_NEAR(afterRelease.g, plain.g, 30);

    // Ctrl-Z undoes the whole stroke in one step.
    window->Raise();
    preview->SetFocus();
    settleInput();
    pressKey('z', wxMOD_CONTROL);
    program->renderNow();
    EXPECT_EQ(key(), keyAfterSelect);
    EXPECT_EQ(program->set().undoSteps().size(), stepsAfterSelect);

    // ">" and back: each picture keeps its own values.
    auto* spill = program->control<wxChoice>(kSpillModeId);
    click(next);
    EXPECT_EQ(program->host->currentInput(), 1u);
    // A first visit starts from what was shown, with automatic masking of its own.
    EXPECT_TRUE(program->set().getBool(kParamEnableAutoMask));
    EXPECT_GT(darkest(next), darkest(previous) + 40) << "now \">\" is the disabled one";
    spill->SetSelection(kSpillSolid);
    wxCommandEvent chosen(wxEVT_CHOICE, kSpillModeId);
    chosen.SetEventObject(spill);
    spill->GetEventHandler()->ProcessEvent(chosen);
    clickTool(kSelectToolId);
    clickAt(preview, sampledAt(kWidth - 10, kHeight - 10));
    const std::string secondKey = key();
    click(previous);
    EXPECT_EQ(program->host->currentInput(), 0u);
    EXPECT_EQ(key(), keyAfterSelect);
    EXPECT_EQ(spill->GetSelection(), kSpillComplement);
    click(next);
    EXPECT_EQ(key(), secondKey);
    EXPECT_EQ(spill->GetSelection(), kSpillSolid);
    click(previous);

    // Move the backdrop with Shift held: the larger component of the drag only.
    clickTool(kMoveToolId);
    click(program->control(kTransformBackdropId));
    ASSERT_TRUE(preview->transformBackdrop.value().getBool());
    ASSERT_TRUE(program->set().getBool(kParamScaleToFit));
    const wxPoint from = sampledAt(kWidth / 2, kHeight / 2);
    drag(preview, {from, from + wxPoint(10, 2), from + wxPoint(30, 6), from + wxPoint(40, 8)},
         wxMOD_SHIFT);
    const Matrix3 moved = program->host->bridge.backdropTransform;
    const float zoom = program->viewer().zoom;
    EXPECT_NEAR(moved.at(0, 2), 40 / zoom, 0.01);
    EXPECT_EQ(moved.at(1, 2), 0.0);
    EXPECT_FALSE(program->set().getBool(kParamScaleToFit));
    EXPECT_FALSE(program->control<wxToggleButton>(kScaleToFitId)->GetValue());

    // OK: both pictures written, each in its own format, the backdrop keyed out of both.
    const std::string storeBefore = home->storeBytes();
    click(program->control(wxID_OK));
    runEvents(30);
    EXPECT_TRUE(program->windowGone());
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
    const auto firstOut = readPicture(first);
    const auto secondOut = readPicture(second);
    ASSERT_TRUE(firstOut && secondOut);
    EXPECT_EQ(firstOut->format, PictureFormat::Png);
    EXPECT_EQ(firstOut->bitsPerChannel, 8);
    EXPECT_EQ(secondOut->format, PictureFormat::Tiff);
    EXPECT_EQ(secondOut->bitsPerChannel, 16);
    for (const Picture* out : {&*firstOut, &*secondOut}) {
        EXPECT_EQ(out->width, kWidth);
        EXPECT_EQ(out->height, kHeight);
        // The green backdrop gives way to the backdrop colour; the subject stays.
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(out->level(5, 5, c), kBackdropLevels[c], 4) << c;
        EXPECT_GT(out->level(kWidth / 2, kHeight / 2, 0),
                  out->level(kWidth / 2, kHeight / 2, 1) + 80);
    }
    EXPECT_NE(home->storeBytes(), storeBefore) << "OK stores the settings";
    program.reset();

    // A second run that cancels after a stroke leaves both files and the store as they were.
    const std::string firstBytes = fileBytes(first);
    const std::string secondBytes = fileBytes(second);
    const std::string storeBytes = home->storeBytes();
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{first, second});
    preview = program->preview();
    program->renderNow();
    clickTool(kCleanBackgroundToolId);
    drag(preview, {sampledAt(10, 10), sampledAt(40, 20)});
    click(program->control(wxID_CANCEL));
    runEvents(20);
    EXPECT_TRUE(program->windowGone());
    program.reset();
    EXPECT_EQ(fileBytes(first), firstBytes);
    EXPECT_EQ(fileBytes(second), secondBytes);
    EXPECT_EQ(home->storeBytes(), storeBytes);
}

}  // namespace
