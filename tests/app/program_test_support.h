#pragma once
// What the program's window tests share: a scratch home (HOME and XDG_CONFIG_HOME, so the settings
// store and the Lightroom folder are the test's own), subject pictures written and read through
// FreeImage (not through the code under test), the program's main window started as the program
// starts it, and real pointer and keyboard input through the toolkit's input simulator.

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/main_window.h"
#include "app/vant_image_preview.h"
#include "app/vantrelo_app.h"
#include "host/app/startup_services.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"
#include "tests/support/gui_support.h"
#include "tests/support/ui_input.h"

extern char** environ;

namespace program_test {

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A fresh folder: XDG_CONFIG_HOME is its "config" folder and HOME its "home" folder until the
// end of the scope (then both are restored); removed with its content.
class ScratchHome {
public:
    ScratchHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantrelo-program-XXXXXX").string();
        if (::mkdtemp(pattern.data())) root_ = pattern;
        std::filesystem::create_directories(config());
        std::filesystem::create_directories(home());
        save("HOME", home_);
        save("XDG_CONFIG_HOME", config_);
        ::setenv("HOME", home().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
    }
    ~ScratchHome() {
        restore("HOME", home_);
        restore("XDG_CONFIG_HOME", config_);
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    std::filesystem::path root() const { return root_; }
    std::filesystem::path config() const { return root_ / "config"; }
    std::filesystem::path home() const { return root_ / "home"; }
    // The settings store of the program.
    std::filesystem::path store() const { return config() / "vantrelo" / "registry"; }
    std::string storeBytes() const {
        return std::filesystem::exists(store()) ? fileBytes(store()) : std::string("<none>");
    }

private:
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* value = std::getenv(name)) into = value;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

    std::filesystem::path root_;
    std::optional<std::string> home_;
    std::optional<std::string> config_;
};

// ---- Pictures.

struct Rgb16 {
    std::uint16_t r = 0, g = 0, b = 0;
};

// A decoded picture: 16-bit channels (8-bit files scaled by 257), and what the file was.
enum class PictureFormat { Unknown, Png, Jpeg, Tiff, Other };

struct Picture {
    PictureFormat format = PictureFormat::Unknown;
    int bitsPerChannel = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;  // channels per pixel, rows from the top

    std::uint16_t at(int x, int y, int c) const {
        return pixels[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
    // The 8-bit level of a channel (the high byte).
    int level(int x, int y, int c) const { return at(x, y, c) >> 8; }
};

// Writes an RGB picture: 8 bits per channel for JPEG (quality 100) and PNG, 16 for TIFF.
bool writePicture(const std::filesystem::path& path, PictureFormat format, int width, int height,
                  const std::function<Rgb16(int x, int y)>& colourAt);
// Reads an RGB or RGBA picture of 8 or 16 bits per channel.
std::optional<Picture> readPicture(const std::filesystem::path& path);

// A subject on a uniform backdrop: a reddish-brown disc (the subject) in the middle of a green
// field, every channel different so a swapped channel shows.
inline constexpr Rgb16 kBackdropGreen{9000, 47000, 15000};
inline constexpr Rgb16 kSubjectColour{52000, 30000, 21000};
inline Rgb16 subjectOnGreen(int x, int y, int width, int height) {
    const double dx = x - width / 2.0;
    const double dy = y - height / 2.0;
    const double radius = (width < height ? width : height) / 4.0;
    return dx * dx + dy * dy <= radius * radius ? kSubjectColour : kBackdropGreen;
}

// ---- Toolkit.

// Runs the display server's events, the toolkit's queued events and idle passes, a few rounds.
inline void runEvents(int rounds = 10) {
    for (int i = 0; i < rounds; ++i) {
        if (wxTheApp) wxTheApp->Yield(true);
        vantrelo_test::pumpToolkit();
        wxMilliSleep(10);
    }
}

// The keyer host of the program, counting the renders it is asked for (each begins with a
// prepare).
class CountingHost : public vantrelo::VantreloPluginApp {
public:
    void prepare(Parameters& set, const Rect& output) override {
        ++renders;
        vantrelo::VantreloPluginApp::prepare(set, output);
    }
    int renders = 0;
};

// The program's main window as VantreloApp::OnInit makes it, over a host of the test.
class ProgramWindow {
public:
    explicit ProgramWindow(const std::vector<std::filesystem::path>& inputs)
        : host(std::make_unique<CountingHost>()) {
        host->reset();
        wxArrayString imageFiles;
        for (const auto& path : inputs) imageFiles.Add(wxString::FromUTF8(path.string()));
        window = startProgram(*host, imageFiles);
        runEvents(40);
    }
    ~ProgramWindow() { close(); }
    ProgramWindow(const ProgramWindow&) = delete;
    ProgramWindow& operator=(const ProgramWindow&) = delete;

    // Destroys the window (as Cancel does) unless it is gone already.
    void close() {
        if (host && host->mainFrame()) {
            window->embeddedViewer().stop(false);
            host->closeUi();
        }
        runEvents(5);
        window = nullptr;
    }
    bool windowGone() const { return host->mainFrame() == nullptr; }

    Mav::Host::App::Parameters& set() { return *host->currentParameters(); }
    VantImagePreview* preview() { return window->previewPanel(); }
    Mav::Host::App::Viewer& viewer() { return window->embeddedViewer(); }
    template <class Control = wxWindow>
    Control* control(int id) {
        return dynamic_cast<Control*>(window->FindWindow(id));
    }

    // A repaint of the preview (the render happens in the paint) and what it queued.
    void renderNow() {
        if (!window) return;
        preview()->Refresh(true);
        preview()->Update();
        runEvents();
    }

    std::unique_ptr<CountingHost> host;
    VantreloUIApp* window = nullptr;
};

// What the engine's three key states hold, as the key-data texts the parameters keep, less the
// replacement-colour line: the text carries it truncated (32767 comes back as 32766), and the
// "BG color" parameter sets it again whenever the whole set is pushed.
inline std::string keyTexts(const vantrelo::CVantreloBridge& bridge,
                            const Mav::Host::App::Parameters& set) {
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

// A menu command at the window, as the toolkit delivers a chosen item.
inline void sendMenu(wxWindow* window, int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(event);
}

// A screenshot of a window's client area.
inline wxImage screenshot(wxWindow* window) {
    const wxSize size = window->GetClientSize();
    wxBitmap bitmap(size);
    {
        wxMemoryDC memory(bitmap);
        wxClientDC client(window);
        memory.Blit(0, 0, size.GetWidth(), size.GetHeight(), &client, 0, 0);
    }
    return bitmap.ConvertToImage();
}

// Answers the program's file dialogs with `hook` while it lives, then gives the old answerer back
// (also when an assertion leaves the test early).
class ScopedFileDialogHook {
public:
    explicit ScopedFileDialogHook(Mav::Host::App::FileDialogHook hook)
        : previous_(Mav::Host::App::setFileDialogHook(std::move(hook))) {}
    ~ScopedFileDialogHook() { Mav::Host::App::setFileDialogHook(std::move(previous_)); }
    ScopedFileDialogHook(const ScopedFileDialogHook&) = delete;
    ScopedFileDialogHook& operator=(const ScopedFileDialogHook&) = delete;

private:
    Mav::Host::App::FileDialogHook previous_;
};

// A window manager on the test's display while it lives (focus, activation and maximising need
// one); it is ended by its own process id.
class WindowManager {
public:
    WindowManager() {
        char name[] = "openbox";
        char* argv[] = {name, nullptr};
        if (::posix_spawnp(&pid_, "openbox", nullptr, nullptr, argv, environ) != 0) pid_ = 0;
        // It takes over the display within a moment; windows made earlier are managed too.
        runEvents(50);
    }
    ~WindowManager() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = 0;
};

// ---- Real input.

using vantrelo_test::click;
using vantrelo_test::clickAt;
using vantrelo_test::moveTo;
using vantrelo_test::settleInput;

// A left-button drag through the points (client coordinates of `window`), with the modifier keys
// held from before the press to after the release.
inline void drag(wxWindow* window, const std::vector<wxPoint>& points, int modifiers = 0) {
    if (points.empty()) return;
    wxUIActionSimulator sim;
    sim.MouseMove(window->ClientToScreen(points.front()));
    settleInput();
    if (modifiers & wxMOD_SHIFT) sim.KeyDown(WXK_SHIFT);
    settleInput(2);
    sim.MouseDown();
    settleInput();
    for (std::size_t i = 1; i < points.size(); ++i) {
        sim.MouseMove(window->ClientToScreen(points[i]));
        settleInput(3);
    }
    sim.MouseUp();
    settleInput();
    if (modifiers & wxMOD_SHIFT) sim.KeyUp(WXK_SHIFT);
    settleInput();
}

// A key with modifiers, sent to the window that has the focus.
inline void pressKey(int key, int modifiers = 0) {
    wxUIActionSimulator sim;
    sim.Char(key, modifiers);
    settleInput();
}

// The program's main window over a scratch home with two subject pictures of different sizes and
// formats ("first.png" 96 x 64, "second.tif" 80 x 72), with a window manager on the test's
// display unless the test asks for none.
class ProgramFixture : public ::testing::Test {
protected:
    explicit ProgramFixture(bool withWindowManager = true)
        : withWindowManager_(withWindowManager) {}

    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        home = std::make_unique<ScratchHome>();
        first = home->home() / "first.png";
        second = home->home() / "second.tif";
        ASSERT_TRUE(writePicture(first, PictureFormat::Png, 96, 64,
                                 [](int x, int y) { return subjectOnGreen(x, y, 96, 64); }));
        ASSERT_TRUE(writePicture(second, PictureFormat::Tiff, 80, 72,
                                 [](int x, int y) { return subjectOnGreen(x, y, 80, 72); }));
        if (withWindowManager_) manager = std::make_unique<WindowManager>();
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
        if (manager) runEvents(20);
    }
    VantreloUIApp* window() { return program->window; }
    Mav::Host::App::Parameters& set() { return program->set(); }
    vantrelo::CVantreloBridge& bridge() { return program->host->bridge; }
    std::string key() { return keyTexts(bridge(), set()); }

    std::unique_ptr<ScratchHome> home;
    std::filesystem::path first, second;
    std::unique_ptr<WindowManager> manager;
    std::unique_ptr<ProgramWindow> program;

private:
    bool withWindowManager_;
};

}  // namespace program_test
