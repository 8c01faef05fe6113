// The built program itself, started as a user starts it, on the test's display with a window
// manager, HOME and XDG_CONFIG_HOME in a scratch folder: the help switch and an unknown option,
// options and "--" before the image files, and leaving with Ctrl-X or the window manager's close,
// which change no file and no stored setting.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/vantrelo_app.h"
#include "plugin/parameter_schema.h"
#include "tests/app/program_test_support.h"

#ifdef VANTRELO_PROGRAM_PATH

namespace {

using namespace program_test;

// The desktop libraries under the toolkit keep caches for the life of the process that they never
// free; in the sanitizer build the program's leak check is told so (as the test programs' is, in
// tests/support/gui_support.cpp), so that it still reports leaks of the program's own code.
const char* const kLeakSuppressions =
    "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n"
    "leak:libgio-2.0.so\nleak:libgtk-3.so\nleak:libgdk-3.so\nleak:libpango-1.0.so\n"
    "leak:libpangoft2-1.0.so\nleak:libcairo.so\nleak:libatk-1.0.so\nleak:libatk-bridge-2.0.so\n"
    "leak:libatspi.so\nleak:libharfbuzz.so\n"
    // The toolkit hands GTK copies of the arguments and loses the copy of one GTK takes out of
    // them (a "--" before a name that starts with '-').
    "leak:wxApp::Initialize\n";

// A started process; ended by its own process id when the test did not see it end.
class Process {
public:
    Process(const std::vector<std::string>& arguments, const std::filesystem::path& output) {
        std::vector<char*> argv;
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::filesystem::path suppressions = output.parent_path() / "leak-suppressions.txt";
        std::ofstream(suppressions) << kLeakSuppressions;
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry)
            if (std::string(*entry).rfind("LSAN_OPTIONS=", 0) != 0) environment.push_back(*entry);
        environment.push_back("LSAN_OPTIONS=suppressions=" + suppressions.string());
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    // The exit status once the process ended within the time, else nothing.
    std::optional<int> waitExit(std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = 0;
};

// Runs a shell command (xdotool) and returns its output.
std::string shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        ::pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
    return output;
}

// The first visible window whose title is `title`, or "" when none shows within the time. xdotool's
// own --sync wait gives up for good when a window it walks goes away under it (an X error while the
// toolkit maps and unmaps its own windows at start), so the search is repeated instead.
std::string findWindow(const std::string& title, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::string found =
            shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null | head -1");
        if (!found.empty() || std::chrono::steady_clock::now() >= end) return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

class ProgramBinary : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        if (shell("command -v xdotool").empty()) GTEST_SKIP() << "xdotool is not installed";
        home = std::make_unique<ScratchHome>();
        first = home->home() / "first.png";
        second = home->home() / "second.jpg";
        auto subject = [](int x, int y) { return subjectOnGreen(x, y, 120, 80); };
        ASSERT_TRUE(writePicture(first, PictureFormat::Png, 120, 80, subject));
        ASSERT_TRUE(writePicture(second, PictureFormat::Jpeg, 120, 80, subject));
        output = home->root() / "output.txt";
    }
    void TearDown() override { home.reset(); }

    std::unique_ptr<ScratchHome> home;
    std::filesystem::path first, second, output;
};

// Help, and an option the parser does not know (never read as a picture), show the usage and end
// the program before any window opens.
TEST_F(ProgramBinary, HelpAndAnUnknownOptionShowTheUsageAndOpenNoWindow) {
    const std::string firstBytes = fileBytes(first);
    struct Case {
        std::vector<std::string> arguments;
        const char* said;  // besides the usage
    } cases[] = {
        {{VANTRELO_PROGRAM_PATH, "--help"}, "--verbose"},
        {{VANTRELO_PROGRAM_PATH, "--frobnicate", first.string()}, "frobnicate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        Process program(c.arguments, output);
        ASSERT_TRUE(program.started());
        const auto status = program.waitExit(std::chrono::seconds(30));
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        EXPECT_NE(*status, 0);
        const std::string text = fileBytes(output);
        EXPECT_NE(text.find("image files"), std::string::npos) << text;
        EXPECT_NE(text.find(c.said), std::string::npos) << text;
        EXPECT_EQ(fileBytes(first), firstBytes);
        EXPECT_EQ(home->storeBytes(), "<none>");
    }
}

TEST_F(ProgramBinary, CtrlXAndTheWindowManagersCloseLeaveFilesAndSettingsAsTheyWere) {
    WindowManager windowManager;
    const std::string firstBytes = fileBytes(first);
    const std::string secondBytes = fileBytes(second);
    for (const char* keys : {"ctrl+x", "alt+F4"}) {
        SCOPED_TRACE(keys);
        Process program({VANTRELO_PROGRAM_PATH, first.string(), second.string()}, output);
        ASSERT_TRUE(program.started());
        const std::string window =
            findWindow("Vantrelo", std::chrono::seconds(30));
        ASSERT_FALSE(window.empty()) << fileBytes(output);
        // The window opens maximised: as big as the screen less the window manager's title.
        const std::string geometry = shell("xdotool getwindowgeometry " + window);
        EXPECT_NE(geometry.find("Geometry: 1600x"), std::string::npos) << geometry;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        shell("xdotool windowactivate --sync " + window + " key --clearmodifiers " + keys);
        const auto status = program.waitExit(std::chrono::seconds(30));
        ASSERT_TRUE(status.has_value()) << "the program did not end";
        EXPECT_EQ(*status, 0) << fileBytes(output);
        EXPECT_EQ(fileBytes(first), firstBytes);
        EXPECT_EQ(fileBytes(second), secondBytes);
        EXPECT_EQ(home->storeBytes(), "<none>");
    }
}

// The toolkit's own switch is taken as the switch, not as a picture to read (which would fail and
// show a "Viewer Error" box for input 0); a picture whose name starts with '-' follows "--".  That
// one is read-only, so its opening is seen in the box that names it.
TEST_F(ProgramBinary, OptionsAreNoImagesAndANameWithADashFollowsTheDoubleDash) {
    WindowManager windowManager;
    const std::filesystem::path dashed = home->home() / "-locked.png";
    std::filesystem::copy_file(first, dashed);
    std::filesystem::permissions(dashed, std::filesystem::perms::owner_read);
    const std::string dashedBytes = fileBytes(dashed);
    Process program({VANTRELO_PROGRAM_PATH, "--verbose", "--", dashed.string()}, output);
    ASSERT_TRUE(program.started());
    const std::string warning =
        findWindow("Warning", std::chrono::seconds(30));
    ASSERT_FALSE(warning.empty()) << fileBytes(output);
    shell("xdotool windowactivate --sync " + warning + " key --clearmodifiers Return");
    const std::string window =
        findWindow("Vantrelo", std::chrono::seconds(30));
    ASSERT_FALSE(window.empty()) << fileBytes(output);
    // The first paint reads input 0; a failed read would show its box within this time.
    EXPECT_EQ(findWindow("Viewer Error", std::chrono::seconds(4)), "");
    shell("xdotool windowactivate --sync " + window + " key --clearmodifiers alt+F4");
    const auto status = program.waitExit(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_EQ(*status, 0) << fileBytes(output);
    EXPECT_EQ(fileBytes(dashed), dashedBytes);
}

}  // namespace

#endif
