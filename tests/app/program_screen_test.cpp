// The program's window on a laptop's 1366 x 768 screen, maximised by a window manager with two
// photos open: the whole window is on the screen, every control is on it or is brought onto it by
// scrolling its side column, the preview takes the rest, and full screen shows the preview alone.
//
// The checks need a screen of that size, so each runs in a child of this test program on an X
// server of its own (through with_display.sh); run without that screen they are skipped.

#include <gtest/gtest.h>

#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/menu.h>
#include <wx/scrolwin.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;

constexpr const char* kLaptopScreen = "1366x768x24";

// The whole screen as it shows now.
wxImage screenImage() {
    const wxSize size = wxGetDisplaySize();
    wxBitmap bitmap(size);
    {
        wxMemoryDC memory(bitmap);
        wxScreenDC screen;
        memory.Blit(0, 0, size.x, size.y, &screen, 0, 0);
    }
    return bitmap.ConvertToImage();
}

// How many different colours `area` of the screen image holds (up to `enough`).
int coloursIn(const wxImage& image, const wxRect& area, int enough = 2) {
    std::vector<unsigned long> seen;
    for (int y = area.GetTop(); y <= area.GetBottom(); ++y)
        for (int x = area.GetLeft(); x <= area.GetRight(); ++x) {
            const unsigned long rgb = (static_cast<unsigned long>(image.GetRed(x, y)) << 16) |
                                      (image.GetGreen(x, y) << 8) | image.GetBlue(x, y);
            if (std::find(seen.begin(), seen.end(), rgb) == seen.end()) seen.push_back(rgb);
            if (static_cast<int>(seen.size()) >= enough) return enough;
        }
    return static_cast<int>(seen.size());
}

// Turns the mouse wheel down over `window` (real input through xdotool) until `control` lies
// inside the window's visible part, or a few dozen turns did not get it there.
void wheelUntilVisible(wxWindow* window, wxWindow* control) {
    // Beside the column's controls, in the border along its left edge: a list under the pointer
    // would take the wheel for itself.
    const wxRect area = window->GetScreenRect();
    const std::string move = "xdotool mousemove " + std::to_string(area.x + 2) + " " +
                             std::to_string(area.y + area.height / 2);
    std::system(move.c_str());
    for (int turn = 0; turn < 40; ++turn) {
        if (window->GetScreenRect().Contains(control->GetScreenRect())) return;
        std::system("xdotool click 5");
        runEvents(3);
    }
}

// The checks of this file, run only on the screen their child run was given.
class OnLaptopScreen : public ProgramFixture {
protected:
    void SetUp() override {
        const char* screen = std::getenv("VANTRELO_TEST_SCREEN");
        if (!screen || std::string(screen) != kLaptopScreen)
            GTEST_SKIP() << "runs in a child on a " << kLaptopScreen << " screen";
        ProgramFixture::SetUp();
        ASSERT_EQ(wxGetDisplaySize(), wxSize(1366, 768));
        start({first, second});
        program->renderNow();
    }

    wxRect screen() const { return wxRect(wxGetDisplaySize()); }
    wxRect clientOnScreen() const {
        return wxRect(program->window->ClientToScreen(wxPoint(0, 0)),
                      program->window->GetClientSize());
    }
    std::vector<wxScrolledWindow*> columns() {
        std::vector<wxScrolledWindow*> found;
        for (wxWindow* child : program->window->GetChildren())
            if (auto* column = dynamic_cast<wxScrolledWindow*>(child)) found.push_back(column);
        return found;
    }
};

TEST_F(OnLaptopScreen, TheWholeWindowIsOnTheScreenAndEveryControlIsReachable) {
    VantreloUIApp* frame = window();
    ASSERT_TRUE(frame->IsMaximized());
    EXPECT_TRUE(screen().Contains(clientOnScreen())) << "client area " << clientOnScreen().x
                                                     << "," << clientOnScreen().y << " "
                                                     << clientOnScreen().width << "x"
                                                     << clientOnScreen().height;
    const std::vector<wxScrolledWindow*> sides = columns();
    ASSERT_EQ(sides.size(), 2u);

    // The columns reach the bottom of the window, and the preview takes all the rest.
    const wxRect preview = program->preview()->GetRect();
    const wxRect left = sides[0]->GetRect(), right = sides[1]->GetRect();
    EXPECT_EQ(preview.GetBottom(), frame->GetClientSize().y - 1);
    EXPECT_EQ(left.GetBottom(), preview.GetBottom());
    EXPECT_GE(right.GetBottom(), preview.GetBottom() - 5);
    EXPECT_EQ(preview.GetLeft(), left.GetRight() + 1);
    EXPECT_EQ(right.GetLeft(), preview.GetRight() + 1 + 5);
    EXPECT_GE(preview.width, 800);
    EXPECT_GE(preview.height, 500);

    // The last control of each column, below the screen's edge at first, comes into view under
    // the mouse wheel and is drawn there.
    for (int last : {kLightingGridSliderId, kBackdropBlurSliderId}) {
        SCOPED_TRACE(last);
        wxWindow* control = frame->FindWindow(last);
        ASSERT_NE(control, nullptr);
        wheelUntilVisible(control->GetParent(), control);
        const wxRect shown = control->GetScreenRect();
        EXPECT_TRUE(control->GetParent()->GetScreenRect().Contains(shown));
        ASSERT_TRUE(screen().Contains(shown));
        EXPECT_GE(coloursIn(screenImage(), shown), 2) << "nothing drawn where the control is";
    }

    // Every control: on the screen, or (in a column) on it once the column shows it.
    for (wxWindow* control : vantrelo_test::descendants(frame)) {
        if (!control->IsShown() || dynamic_cast<wxScrolledWindow*>(control) ||
            dynamic_cast<wxMenuBar*>(control))
            continue;
        SCOPED_TRACE(testing::Message() << control->GetName() << " " << control->GetId() << " "
                                        << control->GetLabel());
        auto* column = dynamic_cast<wxScrolledWindow*>(control->GetParent());
        if (column) {
            vantrelo_test::bringIntoView(control);
            EXPECT_TRUE(column->GetScreenRect().Contains(control->GetScreenRect()));
        } else if (control->GetParent() == frame) {
            EXPECT_TRUE(clientOnScreen().Contains(control->GetScreenRect()));
        }
        EXPECT_TRUE(screen().Contains(control->GetScreenRect()));
    }

    // The layer lists show several lines each, not one.
    for (int list : {kBackdropListId, kOverlayListId})
        EXPECT_GE(frame->FindWindow(list)->GetSize().y, 3 * frame->GetCharHeight()) << list;

    // The zoom field shows its largest value whole.
    program->viewer().setZoom(8.0f);
    auto* zoom = program->control<wxTextCtrl>(kZoomFieldId);
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(zoom->GetValue(), "800.00");
    EXPECT_GE(zoom->GetSize().x, zoom->GetSizeFromTextSize(zoom->GetTextExtent("800.00").x).x);

    if (const char* folder = std::getenv("VANTRELO_SCREENSHOTS")) {
        program->viewer().setZoom(1.0f);
        for (wxScrolledWindow* column : sides) column->Scroll(0, 0);
        runEvents(10);
        screenImage().SaveFile(std::string(folder) + "/laptop-window.png", wxBITMAP_TYPE_PNG);
    }
}

TEST_F(OnLaptopScreen, FullScreenShowsThePreviewAloneAndCtrlFBringsTheRestBack) {
    VantreloUIApp* frame = window();
    frame->Raise();
    program->preview()->SetFocus();
    settleInput();
    pressKey('f', wxMOD_CONTROL);
    runEvents(20);
    ASSERT_TRUE(frame->IsFullScreen());

    // The preview covers the window, the window the screen; nothing else is shown.
    EXPECT_EQ(program->preview()->GetRect(), wxRect(frame->GetClientSize()));
    EXPECT_EQ(clientOnScreen(), screen());
    for (wxWindow* control : vantrelo_test::descendants(frame)) {
        if (control == program->preview() || control->GetParent() == program->preview() ||
            dynamic_cast<wxMenuBar*>(control))
            continue;
        EXPECT_FALSE(control->IsShownOnScreen())
            << control->GetName() << " " << control->GetId() << " " << control->GetLabel();
    }
    // Where the group captions and the side columns were, the screen shows the preview's plain
    // background once it is painted: the small photo sits inside.
    const wxRect bands[] = {wxRect(0, 0, 1366, 40), wxRect(0, 0, 220, 768),
                            wxRect(1366 - 220, 0, 220, 768), wxRect(0, 768 - 40, 1366, 40)};
    wxImage shot;
    const auto plain = [&shot](const wxRect& band) { return coloursIn(shot, band) == 1; };
    for (int attempt = 0; attempt < 20; ++attempt) {
        program->renderNow();
        shot = screenImage();
        if (std::all_of(std::begin(bands), std::end(bands), plain)) break;
    }
    if (const char* folder = std::getenv("VANTRELO_SCREENSHOTS"))
        shot.SaveFile(std::string(folder) + "/laptop-full-screen.png", wxBITMAP_TYPE_PNG);
    for (const wxRect& band : bands)
        EXPECT_TRUE(plain(band)) << band.x << "," << band.y << " " << band.width << "x"
                                 << band.height;

    pressKey('f', wxMOD_CONTROL);
    runEvents(20);
    EXPECT_FALSE(frame->IsFullScreen());
    for (int id : {kAutoMaskButtonId, kViewForegroundId, kBackdropBlurTextId, kPanToolId})
        EXPECT_TRUE(frame->FindWindow(id)->IsShown()) << id;
    int groups = 0;
    for (wxWindow* control : vantrelo_test::descendants(frame))
        groups += dynamic_cast<wxStaticBox*>(control) && control->IsShown();
    EXPECT_EQ(groups, 7);
}

// Runs the test `name` in a child of this program on an X server with the given screen; true when
// it ran and passed, with the child's output for the failure message.
bool passesOnScreen(const std::string& screen, const std::string& name, std::string& output) {
    const char* script = std::getenv("VANTRELO_WITH_DISPLAY");
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (!script || length <= 0) {
        output = "no with_display.sh to run the child through (VANTRELO_WITH_DISPLAY)";
        return false;
    }
    const std::string command = "VANTRELO_TEST_SCREEN=" + screen + " '" + script + "' '" +
                                std::string(self, static_cast<std::size_t>(length)) +
                                "' --gtest_filter='" + name + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = ::pclose(pipe);
    return status == 0 && output.find("[  PASSED  ] 1 test") != std::string::npos &&
           output.find("[  SKIPPED ]") == std::string::npos;
}

// The check `name` of OnLaptopScreen, run in a child on a screen of its size.
void expectPassesOnALaptopScreen(const std::string& name) {
    if (std::getenv("VANTRELO_TEST_SCREEN")) GTEST_SKIP() << "this is a child run";
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xdotool is not installed";
    std::string output;
    EXPECT_TRUE(passesOnScreen(kLaptopScreen, "OnLaptopScreen." + name, output)) << output;
}

TEST(ProgramOnALaptopScreen, TheWholeWindowFitsAndEveryControlIsReachable) {
    VANTRELO_REQUIRE_TOOLKIT();
    expectPassesOnALaptopScreen("TheWholeWindowIsOnTheScreenAndEveryControlIsReachable");
}

TEST(ProgramOnALaptopScreen, FullScreenShowsOnlyThePreview) {
    VANTRELO_REQUIRE_TOOLKIT();
    expectPassesOnALaptopScreen("FullScreenShowsThePreviewAloneAndCtrlFBringsTheRestBack");
}

}  // namespace
