// Opening images in the program's window: each file is listed once, the images OK could not write
// back are named as soon as they are opened (and stay in the list), and a start without images
// shows an empty preview without an error.

#include <gtest/gtest.h>

#include <wx/filedlg.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/main_window.h"
#include "host/app/startup_services.h"
#include "tests/app/program_test_support.h"
#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace program_test;
namespace fs = std::filesystem;

class ProgramInputs : public ProgramFixture {
protected:
    ProgramInputs() : ProgramFixture(false) {}

    // Chooses `paths` in the open dialog through the File menu's Open.
    void open(const std::vector<fs::path>& paths) {
        wxArrayString chosen;
        for (const auto& path : paths) chosen.Add(wxString::FromUTF8(path.string()));
        {
            const ScopedFileDialogHook answer([&](wxFileDialog&, wxArrayString& paths) {
                paths = chosen;
                return wxID_OK;
            });
            sendMenu(program->window, kMenuOpenId);
        }
        runEvents();
    }
    std::vector<std::string> inputs() {
        std::vector<std::string> paths;
        for (std::uint64_t i = 0; i < program->host->inputCount(); ++i)
            paths.push_back(program->host->inputPath(i));
        return paths;
    }
    // Whether every pixel of the preview is black.
    bool previewIsBlack() {
        program->renderNow();
        const wxImage shot = screenshot(program->preview());
        for (int y = 0; y < shot.GetHeight(); ++y)
            for (int x = 0; x < shot.GetWidth(); ++x)
                if (shot.GetRed(x, y) || shot.GetGreen(x, y) || shot.GetBlue(x, y)) return false;
        return true;
    }
};

// A read-only file, a file of two pages and a type FreeImage cannot write are keyed in full only
// to be refused by OK; they are named at once, each with OK's own words, in one box, whether they
// come from the command line or from Open.  A file named twice is listed once and named once.
TEST_F(ProgramInputs, ImagesOkCouldNotWriteBackAreNamedInOneBoxWhenOpened) {
    const fs::path locked = home->home() / "locked.png";
    fs::copy_file(first, locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
    const fs::path pages = home->home() / "pages.tif";
    {
        // The toolkit's TIFF handler would log FreeImage's harmless complaints.
        const Mav::Host::App::ImageIo::FreeImageMessages quiet;
        ImageIoTest::saveSeveralPages(FIF_TIFF, pages.string(), 24, 2);
    }
    const fs::path bitmap = home->home() / "mono.xbm";
    std::ofstream(bitmap) << "#define mono_width 8\n#define mono_height 2\n"
                             "static char mono_bits[] = {0x0f, 0xf0};\n";
    const std::string lockedBytes = fileBytes(locked);
    const std::string pagesBytes = fileBytes(pages);
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(home->home()))
            if (entry.is_regular_file()) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::string> files = names();
    const std::string expected =
        "These images stay in the list, but OK will not write them back:\n"
        "\nCannot write \"" + locked.string() + "\": the file is read-only."
        "\n\"" + pages.string() +
        "\" has several pages; Vantrelo keys only single images and left it unchanged."
        "\nCannot read \"" + bitmap.string() +
        "\": its image type (XBM) cannot be written back, so Vantrelo does not key it.";

    for (const bool fromOpen : {false, true}) {
        SCOPED_TRACE(fromOpen ? "Open" : "command line");
        const std::vector<fs::path> chosen{locked, second, pages, locked, bitmap};
        start(fromOpen ? std::vector<fs::path>{first} : chosen);
        if (fromOpen) {
            EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
            open(chosen);
        }
        std::vector<std::string> listed{locked.string(), second.string(), pages.string(),
                                        bitmap.string()};
        if (fromOpen) listed.insert(listed.begin(), first.string());
        EXPECT_EQ(inputs(), listed) << "all stay listed, each once";

        std::vector<vantrelo_test::RecordedBox> warnings;
        for (const auto& box : vantrelo_test::takeRecordedBoxes())
            if (box.caption == "Warning") warnings.push_back(box);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].text, expected);
        EXPECT_TRUE(warnings[0].hasParent);
        EXPECT_NE(warnings[0].style & wxICON_WARNING, 0);

        // Opening what is already listed, or only pictures OK can write, says nothing.
        open({first, second, locked});
        EXPECT_EQ(inputs().size(), listed.size() + (fromOpen ? 0 : 1));
        EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
        EXPECT_EQ(fileBytes(locked), lockedBytes);
        EXPECT_EQ(fileBytes(pages), pagesBytes);
        EXPECT_EQ(names(), files) << "no temporary file is left behind";
        program.reset();
    }
}

// A start without images is not an error: the window's preview is empty (black, without the
// "Original" caption or a frame) and no box is shown; the first image opened is drawn.
TEST_F(ProgramInputs, AStartWithoutImagesShowsAnEmptyPreviewAndNoError) {
    start({});
    program->renderNow();
    runEvents(20);
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
    EXPECT_TRUE(previewIsBlack());
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());

    open({first});
    EXPECT_FALSE(previewIsBlack()) << "the opened picture is drawn";
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
}

}  // namespace
