#pragma once
// What the tests of the list commands, the floating settings windows and the fine tune window
// share: the program's main window over a real keyer host with a window manager on the test's
// display, a scratch home with two subject pictures, and ways to read the key and the undo history.

#include <gtest/gtest.h>

#include <wx/event.h>
#include <wx/window.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "host/param/param_record.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"
#include "tests/app/program_test_support.h"

namespace floating_test {

using namespace program_test;

// The engine's three key states as their key-data texts, less the replacement-colour line, which
// the text carries truncated.
inline std::string keyTexts(const vantrelo::CVantreloBridge& bridge,
                            const Mav::Host::Param::Parameters& set) {
    constexpr int kReplacementColourLine = 73;
    std::string texts;
    for (std::size_t index :
         {vantrelo::kParamKeyData, vantrelo::kParamEdgeData, vantrelo::kParamBodyData}) {
        Mav::Host::Param::ParamRecord record = set.record(index);
        vantrelo::syncParamFromBridge(bridge, record);
        std::istringstream lines(record.value().text);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number)
            if (number != kReplacementColourLine) texts += line + "\n";
        texts += "--\n";
    }
    return texts;
}

// The indices recorded in the newest undo step.
inline std::set<std::size_t> newestStep(const Mav::Host::Param::Parameters& set) {
    std::set<std::size_t> indices;
    if (set.undoSteps().empty()) return indices;
    for (const auto& [index, value] : set.undoSteps().back()) indices.insert(index);
    return indices;
}

inline void sendMenu(wxWindow* window, int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(event);
}

class ProgramFixture : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        home = std::make_unique<ScratchHome>();
        first = home->home() / "first.png";
        second = home->home() / "second.tif";
        ASSERT_TRUE(writePicture(first, PictureFormat::Png, 96, 64,
                                 [](int x, int y) { return subjectOnGreen(x, y, 96, 64); }));
        ASSERT_TRUE(writePicture(second, PictureFormat::Tiff, 80, 72,
                                 [](int x, int y) { return subjectOnGreen(x, y, 80, 72); }));
        manager = std::make_unique<WindowManager>();
        vantrelo_test::takeRecordedBoxes();
    }
    void TearDown() override {
        program.reset();
        vantrelo_test::takeRecordedBoxes();
        manager.reset();
        home.reset();
    }

public:
    void start(const std::vector<std::filesystem::path>& inputs) {
        program = std::make_unique<ProgramWindow>(inputs);
        ASSERT_NE(program->window, nullptr);
        // The window manager maximises the window; its placement settles first.
        runEvents(20);
    }
    VantreloUIApp* window() { return program->window; }
    Mav::Host::App::Parameters& set() { return program->set(); }
    vantrelo::CVantreloBridge& bridge() { return program->host->bridge; }
    std::string key() { return keyTexts(bridge(), set()); }

    std::unique_ptr<ScratchHome> home;
    std::filesystem::path first, second;
    std::unique_ptr<WindowManager> manager;
    std::unique_ptr<ProgramWindow> program;
};

}  // namespace floating_test
