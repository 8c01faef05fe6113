// Start-up services: command-line inputs, the open dialog, the "<" and ">" buttons and the
// Lightroom preset offer.  Dialogs are answered by scripted hooks; the offer's folders live in a
// scratch HOME and XDG_CONFIG_HOME.

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/app/image_io_support.h"
#include "host/app/message_box.h"
#include "host/app/startup_services.h"
#include "host/system/registry_store.h"
#include "host/system/shell_folders.h"
#include "tests/host/app/test_plugin.h"
#include "tests/host/system/store_test_support.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_catalog.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrelo_test;
using namespace Mav::Host::App;
using test_store::ScratchFolder;

// ---- Command line.

TEST(StartupCommandLine, TheImageFilesBecomeInputsInOrder) {
    struct Case {
        std::vector<const char*> files;
        std::vector<const char*> inputs;
    } cases[] = {
        {{}, {}},
        {{"b.png", "/x/a.tif", "missing.jpg", "/x/a.tif"}, {"b.png", "/x/a.tif", "missing.jpg"}},
    };
    for (const Case& c : cases) {
        TestPlugin host;
        wxArrayString files;
        for (const char* file : c.files) files.Add(file);
        addCommandLineFiles(files, host);
        ASSERT_EQ(host.inputCount(), c.inputs.size());
        for (std::size_t i = 0; i < c.inputs.size(); ++i)
            EXPECT_EQ(host.inputFiles()[i], c.inputs[i]);
    }
}

// ---- Open dialog.

// The types the program keys, with FreeImage's extensions for each.
const char* const kAllPatterns =
    "*.bmp;*.exr;*.gif;*.hdr;*.ico;*.jng;*.jpg;*.jif;*.jpeg;*.jpe;*.j2k;*.j2c;*.jp2;*.pfm;*.png;"
    "*.pbm;*.pgm;*.ppm;*.psd;*.psb;*.tga;*.targa;*.tif;*.tiff;*.wap;*.wbmp;*.wbm;*.webp;*.xpm";

TEST(StartupOpenDialog, FilterOffersAllImagesThenOneEntryPerTypeTheProgramKeys) {
    EXPECT_EQ(imageFileFilter(),
              wxString("Image files (") + kAllPatterns + ")|" + kAllPatterns +
                  "|BMP files (*.bmp)|*.bmp|EXR files (*.exr)|*.exr|GIF files (*.gif)|*.gif"
                  "|HDR files (*.hdr)|*.hdr|ICO files (*.ico)|*.ico|JNG files (*.jng)|*.jng"
                  "|JPEG files (*.jpg;*.jif;*.jpeg;*.jpe)|*.jpg;*.jif;*.jpeg;*.jpe"
                  "|JPEG 2000 files (*.j2k;*.j2c;*.jp2)|*.j2k;*.j2c;*.jp2"
                  "|PFM files (*.pfm)|*.pfm|PNG files (*.png)|*.png"
                  "|PNM files (*.pbm;*.pgm;*.ppm)|*.pbm;*.pgm;*.ppm"
                  "|PSD files (*.psd;*.psb)|*.psd;*.psb|Targa files (*.tga;*.targa)|*.tga;*.targa"
                  "|TIFF files (*.tif;*.tiff)|*.tif;*.tiff"
                  "|WBMP files (*.wap;*.wbmp;*.wbm)|*.wap;*.wbmp;*.wbm"
                  "|WebP files (*.webp)|*.webp|XPM files (*.xpm)|*.xpm");
}

// The dialog and the reader agree: every extension FreeImage knows is offered exactly when the
// reader keys a file of that name (one whose content tells nothing, so the name decides), and
// then by one entry of its own besides the first.
TEST(StartupOpenDialog, TheFilterOffersExactlyTheFilesTheReaderKeys) {
    const wxArrayString parts = wxSplit(imageFileFilter(), '|', 0);
    ASSERT_EQ(parts.size() % 2, 0u);
    const auto accepts = [](const wxString& list, const wxString& file) {
        for (const wxString& pattern : wxSplit(list, ';', 0))
            if (wxMatchWild(pattern, file, false)) return true;
        return false;
    };
    const ScratchFolder folder("vantrelo-filter");
    std::set<wxString> offered;  // an extension may belong to two formats (PBM and raw PBM)
    for (int f = 0; f < FreeImage_GetFIFCount(); ++f) {
        const char* list = FreeImage_GetFIFExtensionList(static_cast<FREE_IMAGE_FORMAT>(f));
        for (const wxString& extension : wxSplit(list ? list : "", ',', 0)) {
            const wxString name = "probe." + extension;
            const fs::path path = folder.path() / name.utf8_string();
            std::ofstream(path).put('\n');
            std::string reason;
            const bool keyed = ImageIo::subjectFormat(path.string(), reason) != FIF_UNKNOWN;
            SCOPED_TRACE(name + ": " + reason);
            EXPECT_EQ(accepts(parts[1], name), keyed);
            int entries = 0;
            for (std::size_t i = 3; i < parts.size(); i += 2) entries += accepts(parts[i], name);
            EXPECT_EQ(entries, keyed ? 1 : 0);
            if (keyed) offered.insert(extension);
        }
    }
    EXPECT_EQ(offered.size(), wxSplit(kAllPatterns, ';', 0).size());
    for (const char* refused : {"a.iff", "a.pcx", "a.jxr", "a.txt"})
        EXPECT_FALSE(accepts(parts[1], refused)) << refused;
}

TEST(StartupOpenDialog, FilterDescriptionsAreTranslated) {
    VANTRELO_REQUIRE_TOOLKIT();
    TestCatalog catalog({"Image files (%s)", "%s files (%s)"});
    const wxArrayString parts = wxSplit(imageFileFilter(), '|', 0);
    ASSERT_EQ(parts.size(), 36u);
    EXPECT_EQ(parts[0], wxString("[Image files (") + kAllPatterns + ")]");
    EXPECT_EQ(parts[1], kAllPatterns);
    EXPECT_EQ(parts[2], "[BMP files (*.bmp)]");
    EXPECT_EQ(parts[3], "*.bmp");
}

TEST(StartupOpenDialog, ChosenPathsReplaceTheOutputOnlyWhenConfirmed) {
    VANTRELO_REQUIRE_TOOLKIT();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
    struct Case {
        int answer;
        std::vector<const char*> expected;
    } cases[] = {{wxID_OK, {"/p/one.png", "/p/two.tif"}}, {wxID_CANCEL, {}}};
    for (const Case& c : cases) {
        int shown = 0;
        setFileDialogHook([&](wxFileDialog& dialog, wxArrayString& paths) {
            ++shown;
            EXPECT_EQ(dialog.GetMessage(), "Open images");
            EXPECT_EQ(dialog.GetDirectory(), "/p");
            EXPECT_EQ(dialog.GetWildcard(), imageFileFilter());
            const long styles = wxFD_OPEN | wxFD_SAVE | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE |
                                wxFD_PREVIEW | wxFD_CHANGE_DIR;
            EXPECT_EQ(dialog.GetWindowStyleFlag() & styles,
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE | wxFD_PREVIEW);
            paths.Add("/p/one.png");
            paths.Add("/p/two.tif");
            return c.answer;
        });
        wxArrayString out;
        out.Add("/stale/left-over.png");  // emptied whatever the answer
        wxArrayString& result = chooseImageFiles(out, frame, "Open images", "/p", "one.png");
        setFileDialogHook({});
        EXPECT_EQ(&result, &out);
        EXPECT_EQ(shown, 1);
        ASSERT_EQ(out.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(out[i], c.expected[i]);
    }
    frame->Destroy();
    pumpToolkit();
}

// ---- Navigation buttons.

// A frame whose row holds the reset button, as the main window's top strip does.
struct NavigationFrame {
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
    wxBoxSizer* row = new wxBoxSizer(wxHORIZONTAL);
    wxButton* reset = new wxButton(frame, kResetButtonId, "Reset");
    NavigationFrame() {
        row->Add(reset, 0, wxALL, 5);
        auto* column = new wxBoxSizer(wxVERTICAL);
        column->Add(row);
        frame->SetSizer(column);
    }
    ~NavigationFrame() {
        frame->Destroy();
        pumpToolkit();
    }
};

TEST(StartupNavigation, ButtonsGoFirstInTheResetButtonsRowAndFollowTheInput) {
    VANTRELO_REQUIRE_TOOLKIT();
    struct Case {
        int inputs;
        std::uint64_t current;
        bool previousEnabled, nextEnabled;
    } cases[] = {{3, 0, false, true}, {3, 1, true, true}, {3, 2, true, false}, {2, 1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputs << " inputs, input " << c.current);
        TestPlugin host;
        for (int i = 0; i < c.inputs; ++i) host.addInputFile(wxString::Format("/n/%d.png", i));
        host.initInputs();
        host.selectInput(c.current);
        NavigationFrame window;
        addNavigationButtons(host, window.frame, nullptr);

        wxWindow* frame = window.frame;
        auto* previous = dynamic_cast<wxButton*>(frame->FindWindow(kPreviousInputButtonId));
        auto* next = dynamic_cast<wxButton*>(frame->FindWindow(kNextInputButtonId));
        ASSERT_TRUE(previous && next);
        EXPECT_EQ(previous->GetLabel(), "<");
        EXPECT_EQ(next->GetLabel(), ">");
        EXPECT_EQ(previous->GetName(), "button");
        EXPECT_EQ(previous->GetParent(), window.frame);
        EXPECT_EQ(previous->IsEnabled(), c.previousEnabled);
        EXPECT_EQ(next->IsEnabled(), c.nextEnabled);
        ASSERT_EQ(window.row->GetItemCount(), 3u);
        EXPECT_EQ(window.row->GetItem(size_t{0})->GetWindow(), previous);
        EXPECT_EQ(window.row->GetItem(size_t{1})->GetWindow(), next);
        EXPECT_EQ(window.row->GetItem(size_t{2})->GetWindow(), window.reset);
        for (wxWindow* button : {static_cast<wxWindow*>(previous), static_cast<wxWindow*>(next)}) {
            wxSizerItem* item = window.row->GetItem(button);
            EXPECT_EQ(item->GetProportion(), 0);
            EXPECT_EQ(item->GetBorder(), 5);
            EXPECT_EQ(item->GetFlag() & (wxALL | wxALIGN_CENTER), wxALL | wxALIGN_CENTER);
        }
    }
}

TEST(StartupNavigation, NothingIsAddedForOneInputOrWithoutAPlace) {
    VANTRELO_REQUIRE_TOOLKIT();
    {
        TestPlugin host;
        host.addInputFile("/n/only.png");
        host.initInputs();
        NavigationFrame window;
        addNavigationButtons(host, window.frame, nullptr);
        EXPECT_EQ(window.frame->FindWindow(kPreviousInputButtonId), nullptr);
        EXPECT_EQ(window.row->GetItemCount(), 1u);
    }
    {
        // No reset button and no sizer: the buttons would have no place.
        TestPlugin host;
        host.addInputFile("/n/a.png");
        host.addInputFile("/n/b.png");
        host.initInputs();
        auto* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
        addNavigationButtons(host, frame, nullptr);
        EXPECT_EQ(frame->FindWindow(kPreviousInputButtonId), nullptr);
        // A sizer given explicitly is used as it is.
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        frame->SetSizer(row);
        addNavigationButtons(host, frame, row);
        EXPECT_EQ(row->GetItemCount(), 2u);
        EXPECT_NE(frame->FindWindow(kNextInputButtonId), nullptr);
        frame->Destroy();
        pumpToolkit();
    }
}

// ---- The Lightroom preset offer.

// A scratch folder: XDG_CONFIG_HOME points at it and HOME into it (both restored afterwards), and
// a preset file of a name of its own lies in the test program's folder, where the offer copies it
// from.
class LightroomOffer : public testing::Test {
protected:
    static constexpr const char* kRoot = "Software\\Mavrendel\\VantreloTest\\";

    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        saveVariable("HOME", savedHome_);
        ::setenv("HOME", (scratch_.path() / "home").c_str(), 1);
        fs::create_directories(scratch_.path() / "home");
        configHome_ = scratch_.path();  // the scratch folder is XDG_CONFIG_HOME
        presetFolder_ = configHome_ / "Adobe" / "Lightroom" / "External Editor Presets";
        presetName_ = "vantrelo-test-" + std::to_string(::getpid()) + ".lrtemplate";
        source_ = fs::path(Mav::Host::System::programFolder()) / presetName_;
        host_.setRegistryRoot(kRoot);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(source_, ignored);
        if (savedHome_)
            ::setenv("HOME", savedHome_->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    static void saveVariable(const char* name, std::optional<std::string>& saved) {
        if (const char* value = std::getenv(name)) saved = value;
    }

    void writeSource(const std::string& text) { test_store::writeText(source_, text); }
    fs::path target() const { return presetFolder_ / presetName_; }
    fs::path storeFile() const { return configHome_ / "vantrelo" / "registry"; }

    // Runs the offer, answering the question (if asked) with `answer`; returns how often it was
    // asked.  Other boxes are recorded and answered with OK.
    int offer(int answer, wxWindow* parent = nullptr) {
        int asked = 0;
        const MessageBoxHook previous = setMessageBoxHook([&](wxMessageDialog& dialog) {
            RecordedBox box{dialog.GetMessage().utf8_string(), dialog.GetTitle().utf8_string(),
                            dialog.GetMessageDialogStyle(), dialog.GetParent() != nullptr, true};
            if (box.caption != "Lightroom" && box.caption != bracketed("Lightroom")) {
                otherBoxes_.push_back(box);
                return int(wxID_OK);
            }
            ++asked;
            lastQuestion_ = box;
            lastLabels_ = {dialog.GetYesLabel().utf8_string(), dialog.GetNoLabel().utf8_string(),
                           dialog.GetCancelLabel().utf8_string()};
            return answer;
        });
        offerLightroomPreset(host_, parent, presetName_);
        setMessageBoxHook(previous);
        return asked;
    }

    ScratchFolder scratch_{"vantrelo-lightroom", ScratchFolder::ConfigHome};
    std::optional<std::string> savedHome_;
    fs::path configHome_, presetFolder_, source_;
    std::string presetName_;
    TestPlugin host_;
    RecordedBox lastQuestion_;
    std::vector<std::string> lastLabels_;
    std::vector<RecordedBox> otherBoxes_;
};

TEST_F(LightroomOffer, WithoutTheLightroomFolderNothingIsAskedOrStored) {
    VANTRELO_REQUIRE_TOOLKIT();
    writeSource("preset");
    fs::create_directories(configHome_ / "Adobe" / "Lightroom");  // but no preset folder
    EXPECT_EQ(offer(wxID_YES), 0);
    EXPECT_FALSE(fs::exists(storeFile()));
    // A preset folder under the home folder's .config does not count while XDG_CONFIG_HOME is
    // set elsewhere.
    fs::create_directories(scratch_.path() / "home" / ".config" / "Adobe" / "Lightroom" /
                           "External Editor Presets");
    EXPECT_EQ(offer(wxID_YES), 0);
    EXPECT_TRUE(otherBoxes_.empty());
}

TEST_F(LightroomOffer, WithoutXdgConfigHomeTheFolderIsFoundUnderHome) {
    VANTRELO_REQUIRE_TOOLKIT();
    writeSource("preset text\n");
    ::unsetenv("XDG_CONFIG_HOME");
    const fs::path folder = scratch_.path() / "home" / ".config" / "Adobe" / "Lightroom" /
                            "External Editor Presets";
    fs::create_directories(folder);
    EXPECT_EQ(offer(wxID_YES), 1);
    EXPECT_EQ(test_store::fileText(folder / presetName_), "preset text\n");
}

TEST_F(LightroomOffer, YesCopiesThePresetFromTheProgramFolderAndAsksNoMore) {
    VANTRELO_REQUIRE_TOOLKIT();
    const std::string content = "s = {\n\ttitle = \"Vantrelo\",\n}\n";
    writeSource(content);
    fs::create_directories(presetFolder_);
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Vantrelo");
    frame->Show();  // the toolkit gives a dialog no owner that is hidden
    EXPECT_EQ(offer(wxID_YES, frame), 1);
    EXPECT_EQ(lastQuestion_.text, "Do you want to install an editor preset for Lightroom?");
    EXPECT_EQ(lastQuestion_.caption, "Lightroom");
    EXPECT_EQ(lastQuestion_.style & (wxYES_NO | wxCANCEL | wxOK), wxYES_NO | wxCANCEL);
    EXPECT_TRUE(lastQuestion_.hasParent);
    ASSERT_EQ(lastLabels_.size(), 3u);
    EXPECT_EQ(lastLabels_[2], "Never");
    EXPECT_EQ(test_store::fileText(target()), content);
    EXPECT_TRUE(otherBoxes_.empty());
    EXPECT_FALSE(fs::exists(storeFile()));  // a Yes is not stored: the file's presence answers
    EXPECT_EQ(scratch_.names(presetFolder_), std::vector<std::string>{presetName_});

    // The preset is there now: nothing is asked, whatever the stored answer.
    EXPECT_EQ(offer(wxID_YES, frame), 0);
    frame->Destroy();
    pumpToolkit();
}

TEST_F(LightroomOffer, AFailedCopyIsReportedAndTheQuestionComesBack) {
    VANTRELO_REQUIRE_TOOLKIT();
    fs::create_directories(presetFolder_);  // and no preset beside the program
    EXPECT_EQ(offer(wxID_YES), 1);
    ASSERT_EQ(otherBoxes_.size(), 1u);
    EXPECT_EQ(otherBoxes_[0].text, "Unable to copy preset");
    EXPECT_EQ(otherBoxes_[0].caption, "Error");
    EXPECT_EQ(otherBoxes_[0].style & (wxOK | wxCANCEL | wxYES_NO | wxCENTRE), wxOK | wxCENTRE);
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_TRUE(scratch_.names(presetFolder_).empty());  // no temporary file left behind
    EXPECT_FALSE(fs::exists(storeFile()));
    EXPECT_EQ(offer(wxID_YES), 1);
}

TEST_F(LightroomOffer, NeverIsStoredAndEndsTheQuestionWhileNoChangesNothing) {
    VANTRELO_REQUIRE_TOOLKIT();
    writeSource("preset");
    fs::create_directories(presetFolder_);

    EXPECT_EQ(offer(wxID_NO), 1);
    EXPECT_FALSE(fs::exists(storeFile()));
    EXPECT_FALSE(fs::exists(target()));
    EXPECT_EQ(offer(wxID_NO), 1);  // asked again next time

    EXPECT_EQ(offer(wxID_CANCEL), 1);  // "Never"
    EXPECT_FALSE(fs::exists(target()));
    Mav::Host::System::RegistryStore store;
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.file(), storeFile());
    const auto* stored = store.value(std::string(kRoot) + "Install Lightroom");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(*stored, Mav::Host::System::StoreValue::ofInteger(0));
    EXPECT_EQ(offer(wxID_YES), 0);
    EXPECT_FALSE(fs::exists(target()));

    // Without a registry root the answer cannot be read, so the question comes back.
    host_.setRegistryRoot(nullptr);
    EXPECT_EQ(offer(wxID_CANCEL), 1);
}

TEST_F(LightroomOffer, QuestionAndErrorAreTranslated) {
    VANTRELO_REQUIRE_TOOLKIT();
    TestCatalog catalog({"Do you want to install an editor preset for Lightroom?", "Lightroom",
                         "Never", "Unable to copy preset", "Error"});
    fs::create_directories(presetFolder_);
    EXPECT_EQ(offer(wxID_YES), 1);
    EXPECT_EQ(lastQuestion_.text,
              bracketed("Do you want to install an editor preset for Lightroom?"));
    EXPECT_EQ(lastQuestion_.caption, bracketed("Lightroom"));
    ASSERT_EQ(lastLabels_.size(), 3u);
    EXPECT_EQ(lastLabels_[2], bracketed("Never"));
    ASSERT_EQ(otherBoxes_.size(), 1u);
    EXPECT_EQ(otherBoxes_[0].text, bracketed("Unable to copy preset"));
    EXPECT_EQ(otherBoxes_[0].caption, bracketed("Error"));
}

}  // namespace
