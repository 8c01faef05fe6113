// The application host: input list, per-input parameter sets, bounds, messages and nested
// progress.  Windows appear only where a test says so (under Xvfb).

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "host/app/message_box.h"
#include "host/app/progress.h"
#include "host/system/exceptions.h"
#include "tests/support/gui_support.h"
#include "tests/host/app/test_plugin.h"

namespace {

using namespace vantrelo_test;
using Mav::Host::App::kInputLevel;
using Mav::Host::App::kTileLevel;
using Mav::Host::App::ProgressDialog;

// Three inputs whose files need not exist: switching never reads them.
void addThreeInputs(TestPlugin& host) {
    host.addInputFile("/nonexistent/one.png");
    host.addInputFile("/nonexistent/two.png");
    host.addInputFile("/nonexistent/three.png");
}

// ---- Per-input parameter sets.

TEST(AppHostSets, SwitchingKeepsTheLiveObjectAndEachInputsValues) {
    TestPlugin host;
    addThreeInputs(host);
    host.initInputs();
    ASSERT_EQ(host.parameterSetCount(), 3u);
    Parameters* live = host.currentParameters();
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(host.parameters(1), nullptr);  // not made before it is needed

    host.engineGain = 2.5;  // the user works on input 0
    host.selectInput(2);
    // The first visit starts from what input 0 had on screen, in the same object.
    EXPECT_EQ(host.currentParameters(), live);
    EXPECT_EQ(host.currentInput(), 2u);
    EXPECT_DOUBLE_EQ(live->getDouble(0), 2.5);
    ASSERT_NE(host.parameters(0), nullptr);
    EXPECT_NE(host.parameters(0), live);
    EXPECT_DOUBLE_EQ(host.parameters(0)->getDouble(0), 2.5);
    EXPECT_EQ(host.parameters(1), nullptr);

    host.engineGain = 7.0;  // and then on input 2
    host.selectInput(0);
    EXPECT_EQ(host.currentParameters(), live);
    EXPECT_DOUBLE_EQ(host.engineGain, 2.5);  // input 0's values pushed back into the engine
    EXPECT_DOUBLE_EQ(live->getDouble(0), 2.5);
    EXPECT_DOUBLE_EQ(host.parameters(2)->getDouble(0), 7.0);

    host.selectInput(2);
    EXPECT_EQ(host.currentParameters(), live);
    EXPECT_DOUBLE_EQ(host.engineGain, 7.0);
    EXPECT_EQ(static_cast<TestParameters*>(live)->host, &host);
}

TEST(AppHostSets, ReselectingOrSwitchingForbiddenOnlyEnsuresSets) {
    struct Case {
        const char* name;
        bool multipleInputs;
        std::uint64_t target;
    } cases[] = {{"the current input again", true, 0}, {"switching forbidden", false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin host;
        host.multipleInputs = c.multipleInputs;
        addThreeInputs(host);
        host.initInputs();
        Parameters* live = host.currentParameters();
        host.engineGain = 3.0;
        const int refreshes = host.refreshAllCount;
        const int applies = host.applyCount;
        const int invalidations = host.invalidateCount;
        host.selectInput(c.target);
        EXPECT_EQ(host.currentInput(), 0u);
        EXPECT_EQ(host.currentParameters(), live);
        EXPECT_GT(host.refreshAllCount, refreshes);  // the live state is saved
        EXPECT_DOUBLE_EQ(live->getDouble(0), 3.0);
        EXPECT_EQ(host.applyCount, applies);
        EXPECT_EQ(host.invalidateCount, invalidations);
        EXPECT_NE(host.parameters(c.target), nullptr);
    }
}

TEST(AppHostSets, WithoutPerInputSetsEveryInputSharesSetZero) {
    TestPlugin host;
    host.perInput = false;
    addThreeInputs(host);
    host.initInputs();
    Parameters* shared = host.currentParameters();
    ASSERT_NE(shared, nullptr);
    host.selectInput(2);
    EXPECT_EQ(host.currentInput(), 2u);
    for (std::uint64_t i = 0; i < 3; ++i) EXPECT_EQ(host.parameters(i), shared);
    EXPECT_EQ(host.applyCount, 0);  // nothing to swap
    EXPECT_EQ(host.invalidateCount, 1);
}

// Inputs may be added after the sets were sized; no index may read past the list of sets.
TEST(AppHostSets, SetsGrowWithTheInputListAndIndicesPastItAreIgnored) {
    TestPlugin host;
    host.initInputs();  // no inputs: the preview still has its set
    EXPECT_EQ(host.parameterSetCount(), 1u);
    EXPECT_NE(host.parameters(0), nullptr);
    EXPECT_EQ(host.currentBounds(), (Rect{0, 0, 0, 0}));

    host.addInputFile("/nonexistent/one.png");
    EXPECT_EQ(host.parameterSetCount(), 1u);
    wxArrayString more;
    more.Add("/nonexistent/two.png");
    more.Add("/nonexistent/three.png");
    host.addInputFiles(more);
    EXPECT_EQ(host.parameterSetCount(), 3u);
    EXPECT_EQ(host.inputPath(2), "/nonexistent/three.png");

    host.selectInput(2);
    EXPECT_EQ(host.currentInput(), 2u);
    EXPECT_NE(host.parameters(2), nullptr);
    host.selectInput(3);
    host.ensureParameters(7);
    EXPECT_EQ(host.currentInput(), 2u);
    EXPECT_EQ(host.parameterSetCount(), 3u);
    EXPECT_EQ(host.parameters(3), nullptr);
    EXPECT_EQ(host.inputPath(3), "");
}

// A file listed twice would be rendered and written twice (the second time over the first
// result).  Whatever names it again, another spelling or a link, is dropped; files of the same
// content are not the same file.
TEST(AppHostInputs, AFileAlreadyListedIsNotAddedAgain) {
    const ScratchFolder folder("vantrelo-apphost");
    const std::filesystem::path& dir = folder.path();
    const std::filesystem::path a = dir / "a.png";
    const std::filesystem::path copy = dir / "copy.png";
    std::ofstream(a) << "picture";
    std::ofstream(copy) << "picture";
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_symlink(a, dir / "sub" / "link.png");
    std::filesystem::create_hard_link(a, dir / "hard.png");

    struct Case {
        const char* name;
        std::vector<wxString> paths;
        std::vector<std::size_t> kept;  // indices into paths
    } cases[] = {
        {"the same path twice", {toolkitPath(a), toolkitPath(a)}, {0}},
        {"another spelling", {toolkitPath(a), toolkitPath(dir / "sub" / ".." / "." / "a.png")},
         {0}},
        {"a symbolic and a hard link",
         {toolkitPath(dir / "sub" / "link.png"), toolkitPath(a), toolkitPath(dir / "hard.png")},
         {0}},
        {"a file of the same content",
         {toolkitPath(a), toolkitPath(copy), toolkitPath(copy)},
         {0, 1}},
        {"missing files by their resolved path",
         {toolkitPath(dir / "gone.png"), toolkitPath(dir / "sub" / ".." / "gone.png"),
          toolkitPath(dir / "other.png")},
         {0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // One call (the open dialog), and one path at a time onto a list that has the first.
        for (const bool oneByOne : {false, true}) {
            TestPlugin host;
            std::uint64_t added = 0;
            if (oneByOne) {
                for (const wxString& path : c.paths) added += host.addInputFile(path) ? 1 : 0;
            } else {
                wxArrayString paths;
                for (const wxString& path : c.paths) paths.Add(path);
                added = host.addInputFiles(paths);
            }
            ASSERT_EQ(host.inputCount(), c.kept.size());
            EXPECT_EQ(added, c.kept.size());
            EXPECT_EQ(host.parameterSetCount(), c.kept.size());
            for (std::size_t i = 0; i < c.kept.size(); ++i)
                EXPECT_EQ(host.inputFiles()[i], c.paths[c.kept[i]]) << "the first spelling stays";
        }
    }
}

TEST(AppHostSets, NewSetsReadTheStoreButLaterInputsStartFromTheCurrentValues) {
    const ScratchFolder store("vantrelo-apphost", ScratchFolder::ConfigHome);
    const char* root = "Software\\Mavrendel\\VantreloTest\\";
    {
        TestPlugin writer;
        writer.setRegistryRoot(root);
        writer.initInputs();
        writer.currentParameters()->setDouble(4.0, 0);
        ASSERT_TRUE(writer.currentParameters()->saveToRegistry(root));
    }
    TestPlugin host;
    host.setRegistryRoot(root);
    addThreeInputs(host);
    host.initInputs();
    EXPECT_DOUBLE_EQ(host.currentParameters()->getDouble(0), 4.0);
    host.engineGain = 6.0;
    host.selectInput(1);
    EXPECT_DOUBLE_EQ(host.currentParameters()->getDouble(0), 6.0);
}

// The "<" and ">" buttons follow the input, and the viewer starts afresh on it.
TEST(AppHostSets, SteppingEnablesTheButtonsAndResetsTheViewer) {
    VANTRELO_REQUIRE_TOOLKIT();
    struct FakeViewer {
        int resets = 0;
        void resetViewForInput() { ++resets; }
    } viewer;
    TestPlugin host;
    addThreeInputs(host);
    host.initInputs();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
    auto* previous = new wxButton(frame, 6006, "<");
    auto* next = new wxButton(frame, 6007, ">");
    previous->Disable();
    host.stepInput(&viewer, 1, previous, next);
    EXPECT_EQ(host.currentInput(), 1u);
    EXPECT_TRUE(previous->IsEnabled());
    EXPECT_TRUE(next->IsEnabled());
    host.stepInput(&viewer, 2, previous, nullptr);
    EXPECT_EQ(host.currentInput(), 2u);
    host.stepInput(&viewer, 2, previous, next);  // already there: nothing at all
    EXPECT_TRUE(next->IsEnabled());
    EXPECT_EQ(viewer.resets, 2);
    host.stepInput(&viewer, 0, previous, next);
    EXPECT_FALSE(previous->IsEnabled());
    EXPECT_TRUE(next->IsEnabled());
    // Without a viewer a step still selects the input and sets the buttons.
    host.stepInput<FakeViewer>(nullptr, 2, previous, next);
    EXPECT_EQ(host.currentInput(), 2u);
    EXPECT_TRUE(previous->IsEnabled());
    EXPECT_FALSE(next->IsEnabled());
    EXPECT_EQ(viewer.resets, 3);
    frame->Destroy();
    pumpToolkit();
}

// ---- The host's answers to its parameter sets.

class MinimalHost : public Mav::Host::App::Host {
public:
    void describeParameters(Parameters& set) override {
        set.records().emplace_back(Mav::Host::Param::ParamPoint, "spot", 0, 0, 0);
    }
    bool render(Parameters&, ImageBuffer&, ImageBuffer&, ImageBuffer&, ImageList*) override {
        return true;
    }
};

TEST(AppHostParameters, SetsAskTheirHostForScaleAndLinks) {
    TestPlugin host;
    host.initInputs();
    Parameters& set = *host.currentParameters();
    host.setPixelScale(0.5f);
    const double point[2] = {10.0, 20.0};
    set.setPoint(point, 1);
    EXPECT_DOUBLE_EQ(set.record(1).value().getDouble(0), 20.0);
    EXPECT_DOUBLE_EQ(set.record(1).value().getDouble(1), 40.0);
    double seen[2] = {};
    set.getPoint(seen, 1);
    EXPECT_DOUBLE_EQ(seen[0], 10.0);
    EXPECT_DOUBLE_EQ(seen[1], 20.0);
    EXPECT_TRUE(set.linksParameters());
    set.updateLinkedParameters(0);
    EXPECT_EQ(host.linkedUpdates.load(), 1);

    Parameters orphan(nullptr);
    float sx = 0, sy = 0;
    orphan.pixelScale(sx, sy);
    EXPECT_EQ(sx, 1.0f);
    EXPECT_EQ(sy, 1.0f);
    EXPECT_FALSE(orphan.linksParameters());
    orphan.updateLinkedParameters(0);  // nothing to ask
}

TEST(AppHostParameters, DefaultSetsAreBoundToTheHostAndCopiesKeepIt) {
    MinimalHost host;
    std::unique_ptr<Parameters> made = host.createParameters();
    EXPECT_EQ(made->host, &host);
    host.describeParameters(*made);
    const double point[2] = {3.0, 4.0};
    made->setPoint(point, 0);
    std::unique_ptr<Parameters> copy = host.cloneParameters(*made);
    EXPECT_EQ(copy->host, &host);
    EXPECT_EQ(copy->records()[0].value(), made->records()[0].value());

    std::int32_t w = 256, h = 256;
    host.tileSize(Rect{0, 0, 5000, 3000}, w, h);
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 256);
    TestPlugin whole;
    whole.tiles = false;
    whole.tileSize(Rect{10, 20, 5000, 3000}, w, h);
    EXPECT_EQ(w, 4990);
    EXPECT_EQ(h, 2980);
}

// ---- Bounds.

TEST(AppHostBounds, FitScaleAndProbedSizes) {
    TestPlugin host;
    host.recordBounds(Rect{0, 0, 1000, 2000}, 0);
    EXPECT_FLOAT_EQ(host.fitScale(Rect{0, 0, 500, 500}), 0.25f);
    host.recordBounds(Rect{0, 0, 10, 10}, 1);  // not the current input: ignored
    EXPECT_EQ(host.currentBounds(), (Rect{0, 0, 1000, 2000}));

    const ScratchFolder folder("vantrelo-apphost");
    writePng(folder.path() / "twelve.png", patternPicture(12, 7, 1));
    std::ofstream(folder.path() / "garbage.png") << "not an image at all";
    host.addInputFile(toolkitPath(folder.path() / "twelve.png"));
    host.addInputFile(toolkitPath(folder.path() / "garbage.png"));
    host.initInputs();
    host.invalidateBounds();
    EXPECT_EQ(host.currentBounds(), (Rect{0, 0, 12, 7}));
    host.selectInput(1);  // bounds are stale after a switch
    EXPECT_EQ(host.currentBounds(), (Rect{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(host.fitScale(Rect{0, 0, 500, 500}), 1.0f);
}

// ---- Messages.

TEST(AppHostMessages, FlagsChooseButtonsDefaultAndIcon) {
    using namespace Mav::Host::App;
    struct Case {
        int flags;
        long style;
    } cases[] = {
        {0, wxOK | wxICON_NONE},
        {kMessageOk, wxOK | wxICON_NONE},
        {kMessageOk | kMessageYesNo, wxOK | wxICON_NONE},  // OK wins
        {kMessageOk | kMessageCancel, wxOK | wxCANCEL | wxICON_NONE},
        {kMessageYesNo | kMessageCancel, wxYES_NO | wxCANCEL | wxICON_NONE},
        {0x2022, wxYES_NO | wxNO_DEFAULT | wxICON_ERROR},
        {kMessageOk | kMessageSecondDefault, wxOK | wxICON_NONE},
        {0x8001, wxOK | wxICON_INFORMATION},
        {0x4002, wxYES_NO | wxICON_QUESTION},
        {kMessageOk | kMessageWarning | kMessageError, wxOK | wxICON_WARNING},
        {kMessageOk | kMessageError | kMessageQuestion, wxOK | wxICON_ERROR},
        {kMessageOk | kMessageInformation | kMessageQuestion, wxOK | wxICON_INFORMATION},
    };
    for (const Case& c : cases) EXPECT_EQ(messageBoxStyle(c.flags), c.style) << c.flags;
    EXPECT_EQ(messageBoxResult(wxID_OK), 1);
    EXPECT_EQ(messageBoxResult(wxID_YES), 1);
    EXPECT_EQ(messageBoxResult(wxID_CANCEL), 2);
    EXPECT_EQ(messageBoxResult(wxID_NO), 3);
    EXPECT_EQ(messageBoxResult(wxID_HELP), 1);
}

TEST(AppHostMessages, BoxesBelongToTheMainWindowOrStandAlone) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    TestPlugin host;
    EXPECT_EQ(host.showMessage("alone", "Caption", 0x2001), 1);
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
    EXPECT_TRUE(host.attachUi(frame));
    EXPECT_EQ(host.messageParent(), frame);
    EXPECT_TRUE(frame->IsShown());
    host.showMessage("owned", "Caption", 0x8001);
    host.closeUi();
    EXPECT_EQ(host.mainFrame(), nullptr);
    EXPECT_EQ(host.messageParent(), nullptr);
    pumpToolkit();

    const std::vector<RecordedBox> boxes = takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "alone");
    EXPECT_EQ(boxes[0].caption, "Caption");
    EXPECT_FALSE(boxes[0].hasParent);
    EXPECT_TRUE(boxes[0].style & wxDIALOG_NO_PARENT);
    EXPECT_TRUE(boxes[0].style & wxICON_ERROR);
    EXPECT_TRUE(boxes[1].hasParent);
    EXPECT_FALSE(boxes[1].style & wxDIALOG_NO_PARENT);
    EXPECT_TRUE(boxes[1].style & wxICON_INFORMATION);
}

TEST(AppHostMessages, QueuedTextIsShownTogetherInOneErrorBox) {
    VANTRELO_REQUIRE_TOOLKIT();
    takeRecordedBoxes();
    TestPlugin host;
    host.queueMessage("first");
    // Any other thread queues instead of opening a box.
    int fromThread = -1;
    std::thread other([&] { fromThread = host.showMessage("second", "Ignored", 0x2001); });
    other.join();
    EXPECT_EQ(fromThread, 0);
    EXPECT_TRUE(takeRecordedBoxes().empty());

    host.flushMessages();
    const std::vector<RecordedBox> boxes = takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "first\nsecond");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].style & (wxOK | wxCANCEL | wxYES_NO | wxICON_MASK), wxOK | wxICON_NONE);
    EXPECT_EQ(host.takeMessages(), "");
    host.flushMessages();  // nothing queued: no box
    EXPECT_TRUE(takeRecordedBoxes().empty());
}

// ---- Nested progress.

class RecordingSink : public Mav::Host::ProxyProgress {
public:
    void tick(std::uint64_t key) override { ticks.push_back(key); }
    void report(std::uint64_t key, std::uint64_t done, std::uint64_t total) override {
        reports.push_back({key, done, total});
    }
    std::vector<std::uint64_t> ticks;
    std::vector<std::array<std::uint64_t, 3>> reports;
};

TEST(AppHostProgress, ReportsFoldThroughTheLevels) {
    using Level = Mav::Host::App::ProgressLevel;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        const char* name;
        Level levels[4];
        std::uint64_t done, total;
        std::uint64_t expectDone, expectTotal;
    } cases[] = {
        {"transparent levels", {}, 5, 10, 5, 10},
        {"no total", {}, 5, 0, 0, 1},
        // Three inputs of 2 x 2 tiles: the second tile of the second input.
        {"tiles in inputs", {{}, {}, {1, 4, 1}, {1, 3, 1}}, 1, 1, 1500, 3000},
        {"level done", {{}, {}, {}, {3, 3, 1}}, 1, 2, 3000, 3000},
        {"inner levels", {{}, {2, 10, 1}, {}, {0, 2, 1}}, 1, 2, 250, 2000},
        {"step", {{}, {}, {}, {1, 4, 2}}, 1, 4, 1500, 4000},
        // Counts near the 64-bit limit are not wrapped around.
        {"huge counts", {{}, {}, {}, {0, 2, 1}}, kMax / 2, kMax, 499, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlugin host;
        for (int i = 0; i < 4; ++i) host.progressLevel(i) = c.levels[i];
        host.reportProgress(0, c.done, c.total);
        std::uint64_t done = 0, total = 0;
        host.progressCounters(done, total);
        EXPECT_EQ(done, c.expectDone);
        EXPECT_EQ(total, c.expectTotal);
    }
}

TEST(AppHostProgress, KeysAbortPreviewAndTicks) {
    TestPlugin host;
    std::uint64_t done = 0, total = 0;
    // Only band 0 moves the counters.
    host.reportProgress(3, 4, 8);
    host.progressCounters(done, total);
    EXPECT_EQ(total, 0u);
    // Ticks count while no total is known, and only then.
    host.tickProgress(0);
    host.tickProgress(0);
    host.tickProgress(1);
    host.progressCounters(done, total);
    EXPECT_EQ(done, 2u);
    host.reportProgress(0, 1, 8);
    host.tickProgress(0);
    host.progressCounters(done, total);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(total, 8u);

    // An abort reaches every band, not just band 0.
    host.requestAbort();
    EXPECT_THROW(host.reportProgress(3, 2, 8), Mav::Interrupted);
    EXPECT_THROW(host.tickProgress(2), Mav::Interrupted);
    EXPECT_THROW(host.throwIfAborted(), Mav::Interrupted);
    host.progressCounters(done, total);
    EXPECT_EQ(done, 1u);

    // In preview mode reports go to the sink, or nowhere, and never throw.
    host.setPreviewFlag(true);
    EXPECT_NO_THROW(host.reportProgress(0, 7, 8));
    EXPECT_NO_THROW(host.tickProgress(0));
    EXPECT_NO_THROW(host.throwIfAborted());
    RecordingSink sink;
    host.setProxyProgress(&sink);
    host.progressLevel(kInputLevel) = {1, 2, 1};
    host.reportProgress(2, 1, 4);
    host.tickProgress(5);
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.reports[0], (std::array<std::uint64_t, 3>{2, 1250, 2000}));
    EXPECT_EQ(sink.ticks, std::vector<std::uint64_t>{5});
    host.progressCounters(done, total);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(total, 8u);
}

TEST(AppHostProgress, WindowShowsTheCountersAndCancelAborts) {
    VANTRELO_REQUIRE_TOOLKIT();
    TestPlugin host;
    ProgressDialog window(&host, nullptr, wxID_ANY, "Progress");
    EXPECT_EQ(window.GetTitle(), "Progress");
    EXPECT_EQ(window.GetName(), "dialog");
    ASSERT_NE(window.gauge(), nullptr);
    EXPECT_EQ(window.gauge()->GetRange(), 1000);
    EXPECT_EQ(window.gauge()->GetName(), "gauge");
    auto* text = dynamic_cast<wxStaticText*>(window.FindWindow("staticText"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetLabel(), "Rendering...");
    auto* cancel = dynamic_cast<wxButton*>(window.FindWindow(wxID_CANCEL));
    ASSERT_NE(cancel, nullptr);

    host.progressLevel(kTileLevel) = {1, 4, 1};
    host.progressLevel(kInputLevel) = {1, 3, 1};
    host.reportProgress(0, 1, 1);
    wxCommandEvent refresh(wxEVT_MENU, Mav::Host::App::kProgressRefreshCommand);
    window.update(refresh);
    EXPECT_EQ(window.gauge()->GetValue(), 500);
    EXPECT_EQ(window.shownDone(), 1500u);
    EXPECT_EQ(window.shownTotal(), 3000u);

    // The posted refresh reaches the window through the event queue.
    host.reportProgress(0, 1, 1);  // same pair: no change
    host.progressLevel(kTileLevel) = {3, 4, 1};
    host.reportProgress(0, 1, 1);  // 2000 of 3000
    window.postRefresh();
    pumpToolkit();
    EXPECT_EQ(window.gauge()->GetValue(), 666);

    EXPECT_FALSE(host.abortRequested());
    wxCommandEvent click(wxEVT_BUTTON, wxID_CANCEL);
    click.SetEventObject(cancel);
    cancel->GetEventHandler()->ProcessEvent(click);
    EXPECT_TRUE(host.abortRequested());
}

}  // namespace
