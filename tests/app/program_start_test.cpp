// Start-up of the program as its application object runs it: command-line images, the stored
// settings read and pushed into the engine, the main window with its title, icon, menus and
// navigation buttons, the Lightroom offer, and the About box.

#include <gtest/gtest.h>

#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/stdpaths.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/main_window.h"
#include "app/vantrelo_app.h"
#include "host/app/startup_services.h"
#include "plugin/parameter_schema.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;

class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        home = std::make_unique<ScratchHome>();
        vantrelo_test::takeRecordedBoxes();
    }
    void TearDown() override {
        program.reset();
        vantrelo_test::takeRecordedBoxes();
        home.reset();
    }
    std::filesystem::path picture(const std::string& name) {
        const std::filesystem::path path = home->home() / name;
        writePicture(path, PictureFormat::Png, 40, 30, [](int, int) { return kBackdropGreen; });
        return path;
    }

    std::unique_ptr<ScratchHome> home;
    std::unique_ptr<ProgramWindow> program;
};

TEST_F(ProgramStart, WithoutImagesTheWindowOpensMaximisedWithOneSetAndNoNavigation) {
    WindowManager windowManager;
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{});
    VantreloUIApp* window = program->window;
    ASSERT_NE(window, nullptr);
    runEvents(20);
    auto& host = *program->host;
    EXPECT_EQ(host.inputCount(), 0u);
    EXPECT_EQ(host.parameterSetCount(), 1u);
    ASSERT_NE(host.currentParameters(), nullptr);
    EXPECT_EQ(host.currentParameters()->count(), kKeyerParamCount);
    EXPECT_STREQ(host.registryRoot(), "Software\\Mavrendel\\Vantrelo\\");
    EXPECT_TRUE(host.previewFlag());
    EXPECT_EQ(host.mainFrame(), window);
    EXPECT_EQ(host.messageParent(), window);
    EXPECT_EQ(wxUpdateUIEvent::GetMode(), wxUPDATE_UI_PROCESS_SPECIFIED);
    EXPECT_EQ(wxTheApp->GetAppName(), "Vantrelo Vudez");

    EXPECT_TRUE(window->IsShown());
    EXPECT_TRUE(window->IsMaximized());
    EXPECT_EQ(window->GetTitle(), "Vantrelo");
    EXPECT_TRUE(window->GetIcon().IsOk());
    EXPECT_EQ(window->FindWindow(Mav::Host::App::kPreviousInputButtonId), nullptr);
    EXPECT_EQ(window->FindWindow(Mav::Host::App::kNextInputButtonId), nullptr);
    EXPECT_EQ(window->GetDefaultItem(), nullptr);
    // The preview is tied to the viewer and the adapter.
    EXPECT_EQ(program->preview()->viewer, &program->viewer());
    EXPECT_EQ(program->preview()->bridge, &host.bridge);
    EXPECT_EQ(program->viewer().panel, program->preview());
    EXPECT_TRUE(program->viewer().busyCursor);
    EXPECT_EQ(window->bridge, &host.bridge);

    // The menus: File (Open, Exit), an empty Edit, Help (About).
    wxMenuBar* bar = window->GetMenuBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetMenuCount(), 3u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&Edit");
    EXPECT_EQ(bar->GetMenuLabel(2), "&Help");
    EXPECT_EQ(bar->GetMenu(1)->GetMenuItemCount(), 0u);
    struct Item {
        int menu;
        int id;
        const char* text;
        const char* help;
    };
    for (const Item& item : {Item{0, 5000, "&Open\tCtrl-O", "Open images"},
                             Item{0, 5006, "E&xit\tCtrl-X", "Quit this program"},
                             Item{2, 5014, "&About", "Show about dialog"}}) {
        wxMenuItem* found = bar->GetMenu(item.menu)->FindItem(item.id);
        ASSERT_NE(found, nullptr) << item.id;
        EXPECT_EQ(found->GetItemLabel(), item.text) << item.id;
        EXPECT_EQ(found->GetHelp(), item.help);
        EXPECT_FALSE(found->IsCheckable());
    }
    EXPECT_EQ(bar->GetMenu(0)->GetMenuItemCount(), 2u);
    EXPECT_EQ(bar->GetMenu(2)->GetMenuItemCount(), 1u);
}

TEST_F(ProgramStart, ImageFilesBecomeInputsInTheirOrder) {
    const auto b = picture("b.png");
    const auto a = picture("a.png");
    const auto c = picture("c.png");
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{b, c, a});
    auto& host = *program->host;
    ASSERT_EQ(host.inputCount(), 3u);
    EXPECT_EQ(host.inputPath(0), b.string());
    EXPECT_EQ(host.inputPath(1), c.string());
    EXPECT_EQ(host.inputPath(2), a.string());
    EXPECT_EQ(host.currentInput(), 0u);
    EXPECT_EQ(host.parameterSetCount(), 3u);
    auto* previous = program->control(Mav::Host::App::kPreviousInputButtonId);
    auto* next = program->control(Mav::Host::App::kNextInputButtonId);
    ASSERT_NE(previous, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(previous->IsEnabled());
    EXPECT_TRUE(next->IsEnabled());

    // One input: no buttons.
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{a});
    EXPECT_EQ(program->control(Mav::Host::App::kPreviousInputButtonId), nullptr);
    EXPECT_EQ(program->control(Mav::Host::App::kNextInputButtonId), nullptr);
}

TEST_F(ProgramStart, StoredSettingsAreReadAndPushedIntoTheEngine) {
    {
        ProgramWindow seed({});
        seed.set().setInt(kSpillSolid, kParamSpillMode);
        const double colour[3] = {0.2, 0.4, 0.6};
        seed.set().setColour(colour, kParamBGColor);
        seed.set().setString("/stored/folder/", kParamLastImagePath);
        seed.set().setBool(false, kParamScaleToFit);
        seed.set().saveToRegistry(kRegistryRoot);
    }
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{picture("a.png")});
    auto& set = program->set();
    EXPECT_EQ(set.getInt(kParamSpillMode), kSpillSolid);
    EXPECT_EQ(program->control<wxChoice>(kSpillModeId)->GetSelection(), kSpillSolid);
    const KeyState& key = program->host->bridge.keyStates.keyState;
    EXPECT_NE(key.flags & KeyFlagSpillSolid, 0u);
    EXPECT_EQ(key.replacementColour[0], static_cast<std::uint16_t>(0.2 * 65535));
    EXPECT_EQ(key.replacementColour[2], static_cast<std::uint16_t>(0.6 * 65535));
    EXPECT_FALSE(program->host->bridge.fitEnabled);
    EXPECT_EQ(program->window->lastImagePath(), "/stored/folder/");
}

TEST_F(ProgramStart, AnEmptyLastImagePathStartsAtThePicturesFolder) {
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{});
    const wxString pictures = wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Pictures);
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(program->window->lastImagePath(), pictures + "/");
    // Held in the set only: nothing is stored before OK.
    EXPECT_EQ(home->storeBytes(), "<none>");
}

TEST_F(ProgramStart, TheLightroomPresetIsOfferedOnlyWhereLightroomKeepsItsPresets) {
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{});
    for (const auto& box : vantrelo_test::takeRecordedBoxes()) EXPECT_NE(box.caption, "Lightroom");
    program.reset();

    std::filesystem::create_directories(home->config() / "Adobe" / "Lightroom" /
                                        "External Editor Presets");
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{});
    int asked = 0;
    for (const auto& box : vantrelo_test::takeRecordedBoxes()) {
        if (box.caption != "Lightroom") continue;
        ++asked;
        EXPECT_EQ(box.text, "Do you want to install an editor preset for Lightroom?");
        EXPECT_TRUE(box.hasParent);
    }
    EXPECT_EQ(asked, 1);
}

TEST_F(ProgramStart, AboutShowsTheKeyersAboutBox) {
    program = std::make_unique<ProgramWindow>(std::vector<std::filesystem::path>{});
    vantrelo_test::takeRecordedBoxes();
    wxCommandEvent about(wxEVT_MENU, kMenuAboutId);
    program->window->GetEventHandler()->ProcessEvent(about);
    const auto boxes = vantrelo_test::takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Vantrelo Chromakey");
}

}  // namespace
