// The OK batch: every input rendered in tiles on the batch thread behind the real modal progress
// window (under Xvfb) and written over its own file; Cancel, failures and the messages shown after
// the batch thread has been joined.

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/toplevel.h>
#include <wx/thread.h>
#include <wx/window.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/app/batch_memory.h"
#include "host/app/message_box.h"
#include "host/app/progress.h"
#include "host/system/exceptions.h"
#include "tests/support/gui_support.h"
#include "tests/host/app/test_plugin.h"

namespace {

using namespace vantrelo_test;
using Mav::Host::App::ProgressDialog;

// Three small inputs of different sizes: 16-pixel tiles cut each into full and partial tiles.
struct ThreeInputs {
    ScratchFolder folder{"vantrelo-batch"};
    std::vector<std::filesystem::path> paths;
    std::vector<Picture> originals;
    std::vector<std::string> bytes;  // each file as written here

    ThreeInputs() {
        const int sizes[3][2] = {{40, 30}, {16, 16}, {21, 35}};
        for (int i = 0; i < 3; ++i) {
            paths.push_back(folder.path() / ("input" + std::to_string(i) + ".png"));
            originals.push_back(patternPicture(sizes[i][0], sizes[i][1], i + 1));
            writePng(paths.back(), originals.back());
            bytes.push_back(fileText(paths.back()));
        }
    }
    void addTo(TestPlugin& host) const {
        for (const auto& path : paths) host.addInputFile(toolkitPath(path));
    }
    // After a batch that ended at input 1: input 0 holds its render, inputs 1 and 2 are untouched.
    void expectOnlyTheFirstWritten() const {
        EXPECT_EQ(readPng(paths[0]), renderedPicture(originals[0]));
        EXPECT_EQ(fileText(paths[1]), bytes[1]);
        EXPECT_EQ(fileText(paths[2]), bytes[2]);
    }
};

// The host as the application leaves it before OK: inputs, sets, preview, an attached window.
void startInteractive(TestPlugin& host) {
    host.setPreviewFlag(true);
    host.initInputs();
    host.attachUi(new wxFrame(nullptr, wxID_ANY, "Vantrelo"));
}

// Presses the progress window's Cancel button, or its close box, from the user-interface thread.
void cancelFromTheUser(TestPlugin& host, bool closeBox) {
    wxTheApp->CallAfter([&host, closeBox] {
        ProgressDialog* window = host.progressWindow();
        ASSERT_NE(window, nullptr);
        if (closeBox) {
            window->Close();
            return;
        }
        wxWindow* cancel = window->FindWindow(wxID_CANCEL);
        ASSERT_NE(cancel, nullptr);
        wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
        click.SetEventObject(cancel);
        cancel->GetEventHandler()->ProcessEvent(click);
    });
}

bool waitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(Batch, TilesCoverEachInputAndEveryInputIsWrittenFromItsOwnFile) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    ThreeInputs inputs;
    TestPlugin host;
    inputs.addTo(host);
    startInteractive(host);

    host.commit();

    EXPECT_EQ(host.mainFrame(), nullptr);  // the batch ends the program's window
    EXPECT_FALSE(host.previewFlag());
    EXPECT_FALSE(host.batchRunning());
    EXPECT_TRUE(takeRecordedBoxes().empty());
    // Each result is what a whole-image render of its own file gives.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(readPng(inputs.paths[i]), renderedPicture(inputs.originals[i]));
    }

    // The tiles of each input are disjoint, at most 16 x 16, and their union is the image.
    for (std::uint64_t input = 0; input < 3; ++input) {
        SCOPED_TRACE(input);
        const Picture& picture = inputs.originals[input];
        std::vector<int> cover(std::size_t(picture.width) * picture.height, 0);
        int tiles = 0;
        for (const auto& call : host.renders) {
            if (call.input != input) continue;
            ++tiles;
            EXPECT_LE(call.tile.width(), 16);
            EXPECT_LE(call.tile.height(), 16);
            for (std::int32_t y = call.tile.y0; y < call.tile.y1; ++y)
                for (std::int32_t x = call.tile.x0; x < call.tile.x1; ++x)
                    ++cover[std::size_t(y) * picture.width + x];
        }
        const int expectedTiles = ((picture.width + 15) / 16) * ((picture.height + 15) / 16);
        EXPECT_EQ(tiles, expectedTiles);
        EXPECT_TRUE(std::all_of(cover.begin(), cover.end(), [](int n) { return n == 1; }));
    }

    // Progress: during the j-th tile of input i, the counters show the tiles before it.  Input
    // 0 has 3 x 2 tiles, input 1 one tile (its level is transparent), input 2 2 x 3 tiles.
    ASSERT_EQ(host.renders.size(), 13u);
    EXPECT_EQ(host.renders[1].done, 1000u / 6);  // after tile 1 of 6
    EXPECT_EQ(host.renders[1].total, 3000u);
    EXPECT_EQ(host.renders[6].done, 1000u);  // input 1: input 0 and the loop's report done
    EXPECT_EQ(host.renders[12].done, 5u * 1000 / 6 + 2000);
    std::uint64_t done = 0, total = 0;
    host.progressCounters(done, total);
    EXPECT_EQ(done, 3000u);
    EXPECT_EQ(total, 3000u);
    // Every input was prepared over its whole rectangle at full scale.
    ASSERT_EQ(host.prepares.size(), 3u);
    EXPECT_EQ(host.prepares[2], (std::pair<std::uint64_t, Rect>{2, Rect{0, 0, 21, 35}}));
    EXPECT_EQ(host.pixelScale(), 1.0f);
}

TEST(Batch, CancelAndTheCloseBoxStopBeforeTheNextFile) {
    VANTRELO_REQUIRE_TOOLKIT();
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        takeRecordedBoxes();
        ThreeInputs inputs;
        TestPlugin host;
        inputs.addTo(host);
        startInteractive(host);
        // The user cancels while input 1's only tile renders; that tile then completes, as a
        // render without any progress report of its own would.
        host.beforeTile = [&host, closeBox](std::uint64_t input, const Rect&) {
            if (input != 1 || host.abortRequested()) return;
            cancelFromTheUser(host, closeBox);
            ASSERT_TRUE(waitFor([&] { return host.abortRequested(); }));
        };

        host.commit();

        inputs.expectOnlyTheFirstWritten();
        for (const auto& call : host.renders) EXPECT_NE(call.input, 2u);
        EXPECT_TRUE(takeRecordedBoxes().empty());  // an abort says nothing
        EXPECT_EQ(host.mainFrame(), nullptr);
    }
}

// The render of input 1 (of 0, 1, 2) fails; the failure ends the batch.
TEST(Batch, AFailureEndsTheBatchAndIsShownAfterTheJoin) {
    VANTRELO_REQUIRE_TOOLKIT();
    struct Case {
        const char* name;
        std::function<void()> fail;
        const char* message;  // null: no box
    } cases[] = {
        {"out of memory", [] { throw std::bad_alloc(); }, "Out of memory"},
        {"host exception", [] { throw Mav::Exception("The key could not be compiled."); },
         "The key could not be compiled."},
        {"text", [] { throw std::string("A text thrown as it is."); }, "A text thrown as it is."},
        {"standard exception", [] { throw std::runtime_error("runtime"); }, "runtime"},
        {"anything else", [] { throw 7; }, "Unknown error"},
        {"interrupted", [] { throw Mav::Interrupted(); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        takeRecordedBoxes();
        ThreeInputs inputs;
        TestPlugin host;
        inputs.addTo(host);
        startInteractive(host);
        // The box must come after the join: by then the batch flag is down and no thread
        // but this one is left.
        bool shownAfterJoin = false;
        std::vector<std::string> texts;
        auto previous = Mav::Host::App::setMessageBoxHook([&](wxMessageDialog& dialog) {
            shownAfterJoin = wxIsMainThread() && !host.batchRunning() &&
                             host.progressWindow() == nullptr && dialog.GetParent() == nullptr;
            texts.push_back(dialog.GetMessage().utf8_string() + "|" +
                            dialog.GetTitle().utf8_string());
            return wxID_OK;
        });
        host.beforeTile = [&c](std::uint64_t input, const Rect&) {
            if (input == 1) c.fail();
        };

        host.commit();
        Mav::Host::App::setMessageBoxHook(previous);

        inputs.expectOnlyTheFirstWritten();
        if (c.message) {
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0], std::string(c.message) + "|Error");
            EXPECT_TRUE(shownAfterJoin);
        } else {
            EXPECT_TRUE(texts.empty());
        }
    }
}

// A real message box runs the toolkit's event loop while it is up, and with it the deletion of the
// main window that the batch closed.  No window of the batch may then still belong to it: the
// progress window lives on the batch's stack, and the main window would delete it a second time.
TEST(Batch, TheErrorBoxRunsTheEventLoopWithoutWindowsOfTheBatchLeft) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    ThreeInputs inputs;
    TestPlugin host;
    inputs.addTo(host);
    startInteractive(host);
    host.beforeTile = [](std::uint64_t input, const Rect&) {
        if (input == 1) throw std::runtime_error("The key could not be compiled.");
    };
    int boxes = 0;
    bool frameGone = false;
    auto previous = Mav::Host::App::setMessageBoxHook([&](wxMessageDialog&) {
        ++boxes;
        pumpToolkit();  // what the box's own modal loop does
        frameGone = wxTopLevelWindows.empty() ||
                    (wxTopLevelWindows.size() == 1 &&
                     dynamic_cast<wxMessageDialog*>(wxTopLevelWindows.front()) != nullptr);
        return wxID_OK;
    });

    host.commit();
    Mav::Host::App::setMessageBoxHook(previous);

    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(frameGone) << "the main window was deleted while the box was up";
    EXPECT_EQ(readPng(inputs.paths[0]), renderedPicture(inputs.originals[0]));
}

// Files that cannot be read or written do not stop the batch; their messages are shown together
// after it.
TEST(Batch, UnreadableAndUnwritableFilesAreReportedAndTheRestIsWritten) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    ThreeInputs inputs;
    {
        std::ofstream garbage(inputs.paths[0], std::ios::binary | std::ios::trunc);
        garbage << "this is not a picture";
    }
    const std::string garbage = fileText(inputs.paths[0]);
    // The owner may not write the second file: it is refused, not replaced.
    ::chmod(inputs.paths[1].c_str(), 0444);
    const std::string readOnly = fileText(inputs.paths[1]);
    TestPlugin host;
    inputs.addTo(host);
    startInteractive(host);

    host.commit();

    EXPECT_EQ(fileText(inputs.paths[0]), garbage);
    EXPECT_EQ(fileText(inputs.paths[1]), readOnly);
    EXPECT_EQ(readPng(inputs.paths[2]), renderedPicture(inputs.originals[2]));
    const std::vector<RecordedBox> boxes = takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_TRUE(boxes[0].onMainThread);
    EXPECT_FALSE(boxes[0].hasParent);
    // One line per failed file, in input order, each naming its file.
    const std::string& text = boxes[0].text;
    const std::size_t lineBreak = text.find('\n');
    ASSERT_NE(lineBreak, std::string::npos) << text;
    EXPECT_NE(text.substr(0, lineBreak).find("input0.png"), std::string::npos) << text;
    EXPECT_NE(text.substr(lineBreak + 1).find("input1.png"), std::string::npos) << text;
}

TEST(Batch, OneInputWhenSwitchingIsForbiddenAndNothingWithoutInputs) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    {
        ThreeInputs inputs;
        TestPlugin host;
        host.multipleInputs = false;
        host.tile = 0;  // the host's 256 x 256: one tile each
        inputs.addTo(host);
        startInteractive(host);
        host.commit();
        inputs.expectOnlyTheFirstWritten();
        EXPECT_EQ(host.renders.size(), 1u);
        std::uint64_t done = 0, total = 0;
        host.progressCounters(done, total);
        EXPECT_EQ(total, 0u);  // one input, one tile: no level counts, nothing reported
    }
    {
        // OK saves the current set to the store even when there is nothing to render.
        const ScratchFolder store("vantrelo-batch", ScratchFolder::ConfigHome);
        const char* root = "Software\\Mavrendel\\VantreloTest\\";
        TestPlugin host;
        host.setRegistryRoot(root);
        startInteractive(host);
        host.engineGain = 3.5;
        host.commit();
        EXPECT_TRUE(host.renders.empty());
        EXPECT_EQ(host.mainFrame(), nullptr);
        TestPlugin reader;
        reader.setRegistryRoot(root);
        reader.initInputs();
        EXPECT_DOUBLE_EQ(reader.currentParameters()->getDouble(0), 3.5);
    }
    pumpToolkit();
    EXPECT_TRUE(takeRecordedBoxes().empty());
}

// The file may change between the size probe and the read: the tiles cover what was read.
TEST(Batch, TilesFollowTheImageActuallyRead) {
    const ScratchFolder folder("vantrelo-batch");
    const auto path = folder.path() / "changed.png";
    const Picture original = patternPicture(30, 20, 4);
    writePng(path, original);
    TestPlugin host;
    host.addInputFile(toolkitPath(path));
    host.initInputs();
    host.recordBounds(Rect{0, 0, 12, 9}, 0);  // what an older header said
    host.renderInTiles(*host.currentParameters());
    EXPECT_EQ(readPng(path), renderedPicture(original));
    ASSERT_FALSE(host.prepares.empty());
    EXPECT_EQ(host.prepares.back().second, (Rect{0, 0, 30, 20}));
}

// The tile width and height the plug-in asks for are each kept in place: tiles 16 wide and 7 high
// cut a 37 x 18 image into columns of 16, 16 and 5 and rows of 7, 7 and 4, row by row.
TEST(Batch, TilesHaveTheWidthAndHeightThePlugInAsksFor) {
    const ScratchFolder folder("vantrelo-batch");
    const auto path = folder.path() / "wide.png";
    const Picture original = patternPicture(37, 18, 5);
    writePng(path, original);
    TestPlugin host;
    host.tile = 16;
    host.tileHeight = 7;
    host.addInputFile(toolkitPath(path));
    host.initInputs();
    host.renderInTiles(*host.currentParameters());
    EXPECT_EQ(readPng(path), renderedPicture(original));
    std::vector<Rect> expected;
    for (const std::int32_t y0 : {0, 7, 14})
        for (const std::int32_t x0 : {0, 16, 32})
            expected.push_back(Rect{x0, y0, std::min(x0 + 16, 37), std::min(y0 + 7, 18)});
    std::vector<Rect> seen;
    for (const auto& call : host.renders) seen.push_back(call.tile);
    EXPECT_EQ(seen, expected);
}

// Which input may join those the batch holds: at most the depth, and an input of more than a third
// of the available memory alone, whether it comes or is already there.
TEST(Batch, InputsAreHeldTogetherOnlyWhileTheMemoryHoldsThem) {
    constexpr std::uint64_t kMiB = 1u << 20;
    const struct {
        const char* name;
        std::vector<std::uint64_t> held;
        std::uint64_t footprint;
        int depth;
        std::uint64_t available;
        bool mayHold;
    } cases[] = {
        {"nothing held: even a huge input starts", {}, 4000 * kMiB, 3, 900 * kMiB, true},
        {"three small ones", {300 * kMiB, 300 * kMiB}, 300 * kMiB, 3, 900 * kMiB, true},
        {"a fourth never", {1, 1, 1}, 1, 3, 0, false},
        {"the depth bounds them", {1, 1}, 1, 2, 0, false},
        {"one at a time", {1}, 1, 1, 0, false},
        {"one byte over a third comes alone", {300 * kMiB}, 300 * kMiB + 1, 3, 900 * kMiB, false},
        {"nothing joins a large one", {300 * kMiB + 1}, 1, 3, 900 * kMiB, false},
        {"memory not known: no limit", {4000 * kMiB, 4000 * kMiB}, 4000 * kMiB, 3, 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Mav::Host::App::batchMayHold(c.held, c.footprint, c.depth, c.available),
                  c.mayHold)
            << c.name;
}

}  // namespace
