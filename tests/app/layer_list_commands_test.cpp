// The backdrop and overlay list commands in the program's main window, with real clicks: what each
// does to the file-list text, the list box, "Render against BD", "Scale To Fit", the layer
// transforms and the undo history.  The file dialog and the right-click menu are answered by hooks.

#include <gtest/gtest.h>

#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/tglbtn.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/layer_list_dialogs.h"
#include "app/main_layout.h"
#include "app/vant_image_preview.h"
#include "host/param/file_list_text.h"
#include "host/param/param_events.h"
#include "plugin/matrix_text.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;
using namespace vantrelo;
using Mav::Host::Param::joinFileListText;

// What the layer dialog was shown with.
struct DialogSeen {
    wxString message, directory, fileName, wildcard;
    long style = 0;
};

struct MenuItemSeen {
    int id;
    wxString label;
    bool enabled, checkable, checked;
};

class LayerListCommands : public ProgramFixture {
protected:
    void SetUp() override {
        ProgramFixture::SetUp();
        if (IsSkipped()) return;
        layers = home->home() / "layers";
        std::filesystem::create_directories(layers);
        for (const char* name : {"sky.png", "wall.png", "sea.png", "moon.png", "sun.png"}) {
            ASSERT_TRUE(writePicture(layers / name, PictureFormat::Png, 40, 30, [](int x, int y) {
                return Rgb16{std::uint16_t(x * 1500), std::uint16_t(y * 2000), 31000};
            }));
        }
        previousDialogHook = setLayerFileDialogHook([this](wxFileDialog& dialog, wxString& path) {
            dialogs.push_back({dialog.GetMessage(), dialog.GetDirectory(), dialog.GetFilename(),
                               dialog.GetWildcard(), dialog.GetWindowStyle()});
            if (answers.empty()) return int(wxID_CANCEL);
            const std::optional<std::string> answer = answers.front();
            answers.pop_front();
            if (!answer) return int(wxID_CANCEL);
            path = wxString::FromUTF8(*answer);
            return int(wxID_OK);
        });
        previousMenuHook = setPopupMenuHook([this](wxMenu& menu) {
            menus.emplace_back();
            for (wxMenuItem* item : menu.GetMenuItems())
                menus.back().push_back({item->GetId(), item->GetItemLabelText(), item->IsEnabled(),
                                        item->IsCheckable(),
                                        item->IsCheckable() && item->IsChecked()});
            return menuAnswer;
        });
    }
    void TearDown() override {
        setLayerFileDialogHook(previousDialogHook);
        setPopupMenuHook(previousMenuHook);
        ProgramFixture::TearDown();
    }

    std::string layer(const char* name) { return (layers / name).string(); }
    wxListBox* list(int id) { return program->control<wxListBox>(id); }
    std::vector<std::string> shown(int id) {
        std::vector<std::string> items;
        for (unsigned i = 0; i < list(id)->GetCount(); ++i)
            items.push_back(list(id)->GetString(i).utf8_string());
        return items;
    }
    std::vector<int> selected(int id) {
        wxArrayInt selection;
        list(id)->GetSelections(selection);
        return {selection.begin(), selection.end()};
    }
    void select(int id, std::initializer_list<int> entries) {
        list(id)->SetSelection(wxNOT_FOUND);
        for (int entry : entries) list(id)->SetSelection(entry);
    }
    // A list's parameter holding `paths`, shown in the window, with no undo step.
    void fill(std::size_t index, const std::vector<std::string>& paths) {
        set().setString(joinFileListText(paths), index);
        window()->TransferDataToWindow();
    }

    std::filesystem::path layers;
    std::vector<DialogSeen> dialogs;
    std::deque<std::optional<std::string>> answers;  // nothing: Cancel
    std::vector<std::vector<MenuItemSeen>> menus;
    int menuAnswer = wxID_NONE;
    LayerFileDialogHook previousDialogHook;
    PopupMenuHook previousMenuHook;
};

TEST_F(LayerListCommands, AddingABackdropPutsItFirstPressesRenderBDAndIsOneUndoStep) {
    start({first});
    auto* renderBD = program->control<wxToggleButton>(kRenderAgainstBackdropId);
    ASSERT_FALSE(set().getBool(kParamRenderAgainstBD));
    const wxString startFolder = window()->lastImagePath();

    answers = {layer("sky.png")};
    click(program->control(kBackdropAddId));
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].message, "Choose Image");
    EXPECT_EQ(dialogs[0].directory, startFolder);
    EXPECT_EQ(dialogs[0].fileName, "");
    EXPECT_TRUE(dialogs[0].wildcard.StartsWith("Image Files (*.")) << dialogs[0].wildcard;
    EXPECT_TRUE(dialogs[0].wildcard.Contains("*.png")) << dialogs[0].wildcard;
    EXPECT_EQ(dialogs[0].style & (wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_PREVIEW | wxFD_MULTIPLE),
              wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_PREVIEW);

    EXPECT_EQ(set().getString(kParamBackdropFiles), joinFileListText({layer("sky.png")}));
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"sky.png"}));
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    EXPECT_TRUE(renderBD->GetValue());
    // The folder of the chosen file, without a final separator.
    EXPECT_EQ(window()->lastImagePath().utf8_string(), layers.string());
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamBackdropFiles, kParamRenderAgainstBD}));

    // With an entry selected the dialog starts in that entry's folder; the new one goes first and
    // the selection moves down with its entry.
    std::filesystem::create_directories(home->home() / "elsewhere");
    window()->setLastImagePath(wxString::FromUTF8((home->home() / "elsewhere").string()));
    select(kBackdropListId, {0});
    answers = {layer("wall.png")};
    click(program->control(kBackdropAddId));
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].directory.utf8_string(), layers.string());
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"wall.png", "sky.png"}));
    EXPECT_EQ(selected(kBackdropListId), (std::vector<int>{1}));
    EXPECT_EQ(set().undoSteps().size(), 2u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamBackdropFiles}));

    // One undo each.
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"sky.png"}));
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_TRUE(shown(kBackdropListId).empty());
    EXPECT_EQ(set().getString(kParamBackdropFiles), "");
    EXPECT_FALSE(set().getBool(kParamRenderAgainstBD));
    EXPECT_FALSE(renderBD->GetValue());

    // A dialog left with Cancel changes nothing, but the backdrop is fitted again at the next
    // render while "Scale To Fit" is on.
    ASSERT_TRUE(bridge().fitEnabled);
    bridge().fitJustEnabled = 0;
    answers = {std::nullopt};
    click(program->control(kBackdropAddId));
    EXPECT_EQ(dialogs.size(), 3u);
    EXPECT_TRUE(shown(kBackdropListId).empty());
    EXPECT_TRUE(set().undoSteps().empty());
    EXPECT_TRUE(bridge().fitJustEnabled);
}

TEST_F(LayerListCommands, AddingAnOverlayLeavesRenderAgainstBackdropAsItWas) {
    start({first});
    for (bool renderAgainst : {false, true}) {
        set().setBool(renderAgainst, kParamRenderAgainstBD);
        fill(kParamOverlayFiles, {layer("moon.png")});
        const std::size_t steps = set().undoSteps().size();
        answers = {layer("sun.png")};
        click(program->control(kOverlayAddId));
        EXPECT_EQ(shown(kOverlayListId), (std::vector<std::string>{"sun.png", "moon.png"}));
        EXPECT_EQ(set().getString(kParamOverlayFiles),
                  joinFileListText({layer("sun.png"), layer("moon.png")}));
        EXPECT_EQ(set().getBool(kParamRenderAgainstBD), renderAgainst);
        EXPECT_EQ(set().undoSteps().size(), steps + 1);
        EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamOverlayFiles}));
    }
}

TEST_F(LayerListCommands, DeletingEveryBackdropReleasesRenderBDInASecondUndoStep) {
    start({first});
    const std::vector<std::string> three = {layer("sky.png"), layer("wall.png"), layer("sea.png")};
    fill(kParamBackdropFiles, three);
    set().setBool(true, kParamRenderAgainstBD);
    window()->TransferDataToWindow();

    // Some: "Render against BD" stays.
    select(kBackdropListId, {0, 2});
    click(program->control(kBackdropDeleteId));
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"wall.png"}));
    EXPECT_EQ(set().getString(kParamBackdropFiles), joinFileListText({layer("wall.png")}));
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    ASSERT_EQ(set().undoSteps().size(), 1u);

    // All: two steps, the list's and then the switch's.
    select(kBackdropListId, {0});
    click(program->control(kBackdropDeleteId));
    EXPECT_TRUE(shown(kBackdropListId).empty());
    EXPECT_FALSE(set().getBool(kParamRenderAgainstBD));
    EXPECT_FALSE(program->control<wxToggleButton>(kRenderAgainstBackdropId)->GetValue());
    ASSERT_EQ(set().undoSteps().size(), 3u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamRenderAgainstBD}));

    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    EXPECT_TRUE(shown(kBackdropListId).empty());
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"wall.png"}));
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(set().getString(kParamBackdropFiles), joinFileListText(three));

    // Every overlay deleted: "Render against BD" is no business of the overlays.
    fill(kParamOverlayFiles, {layer("moon.png")});
    const std::size_t steps = set().undoSteps().size();
    select(kOverlayListId, {0});
    click(program->control(kOverlayDeleteId));
    EXPECT_TRUE(shown(kOverlayListId).empty());
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    EXPECT_EQ(set().undoSteps().size(), steps + 1);
}

TEST_F(LayerListCommands, MoveToFrontPutsTheSelectedFirstAndKeepsThemSelected) {
    start({first});
    const std::vector<std::string> four = {layer("sky.png"), layer("wall.png"), layer("sea.png"),
                                           layer("moon.png")};
    fill(kParamOverlayFiles, four);
    select(kOverlayListId, {1, 3});
    click(program->control(kOverlayToFrontId));
    EXPECT_EQ(set().getString(kParamOverlayFiles),
              joinFileListText({four[3], four[1], four[0], four[2]}));
    EXPECT_EQ(shown(kOverlayListId),
              (std::vector<std::string>{"moon.png", "wall.png", "sky.png", "sea.png"}));
    EXPECT_EQ(selected(kOverlayListId), (std::vector<int>{0, 1}));
    ASSERT_EQ(set().undoSteps().size(), 1u);

    // The first entry alone is already in front: no change, no step.
    select(kOverlayListId, {0});
    click(program->control(kOverlayToFrontId));
    EXPECT_EQ(set().undoSteps().size(), 1u);

    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(set().getString(kParamOverlayFiles), joinFileListText(four));
}

TEST_F(LayerListCommands, ReplaceChangesTheFirstSelectedEntryInItsPlace) {
    start({first});
    fill(kParamBackdropFiles, {layer("sky.png"), layer("wall.png"), layer("sea.png")});
    window()->setLastImagePath("/nowhere");

    // A real double click on the second entry.
    wxListBox* backdrops = list(kBackdropListId);
    const int itemHeight = backdrops->GetCharHeight() + 6;
    answers = {layer("moon.png")};
    const wxPoint at(20, itemHeight + itemHeight / 2);
    clickAt(backdrops, at);
    ASSERT_EQ(selected(kBackdropListId), (std::vector<int>{1}));
    wxUIActionSimulator sim;
    sim.MouseDblClick();
    settleInput(15);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].fileName, "wall.png");
    EXPECT_EQ(dialogs[0].directory.utf8_string(), layers.string());
    EXPECT_EQ(set().getString(kParamBackdropFiles),
              joinFileListText({layer("sky.png"), layer("moon.png"), layer("sea.png")}));
    EXPECT_EQ(shown(kBackdropListId), (std::vector<std::string>{"sky.png", "moon.png", "sea.png"}));
    EXPECT_EQ(selected(kBackdropListId), (std::vector<int>{1}));
    EXPECT_EQ(window()->lastImagePath().utf8_string(), layers.string());
    ASSERT_EQ(set().undoSteps().size(), 1u);

    // The same file again changes nothing and records nothing.
    answers = {layer("moon.png")};
    wxCommandEvent again(wxEVT_LISTBOX_DCLICK, kBackdropListId);
    again.SetEventObject(backdrops);
    backdrops->GetEventHandler()->ProcessEvent(again);
    EXPECT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(set().undoSteps().size(), 1u);
}

TEST_F(LayerListCommands, CommandsThatNeedASelectionDoNothingWithout) {
    start({first});
    const std::vector<std::string> two = {layer("sky.png"), layer("wall.png")};
    fill(kParamBackdropFiles, two);
    fill(kParamOverlayFiles, two);
    set().setBool(true, kParamRenderAgainstBD);
    for (int id : {kBackdropDeleteId, kBackdropToFrontId, kOverlayDeleteId, kOverlayToFrontId}) {
        select(kBackdropListId, {});
        select(kOverlayListId, {});
        click(program->control(id));
    }
    for (int id : {kBackdropListId, kOverlayListId}) {
        wxCommandEvent doubleClick(wxEVT_LISTBOX_DCLICK, id);
        doubleClick.SetEventObject(list(id));
        list(id)->GetEventHandler()->ProcessEvent(doubleClick);
    }
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(set().getString(kParamBackdropFiles), joinFileListText(two));
    EXPECT_EQ(set().getString(kParamOverlayFiles), joinFileListText(two));
    EXPECT_TRUE(set().getBool(kParamRenderAgainstBD));
    EXPECT_TRUE(set().undoSteps().empty());
}

TEST_F(LayerListCommands, RightClickMenuOffersMoveToFrontAndScaleToFitForTheBackdrop) {
    start({first});
    fill(kParamBackdropFiles, {layer("sky.png")});
    fill(kParamOverlayFiles, {layer("moon.png"), layer("sun.png")});
    ASSERT_TRUE(bridge().fitEnabled);

    auto rightClick = [&](int id) {
        wxWindow* target = list(id);
        wxUIActionSimulator sim;
        sim.MouseMove(target->ClientToScreen(wxPoint(10, 5)));
        settleInput();
        sim.MouseClick(wxMOUSE_BTN_RIGHT);
        settleInput(10);
    };

    // A backdrop list of one entry: "Move to Front" disabled; the check follows the adapter.
    rightClick(kBackdropListId);
    ASSERT_EQ(menus.size(), 1u);
    ASSERT_EQ(menus[0].size(), 2u);
    EXPECT_EQ(menus[0][0].id, kMenuBackdropToFrontId);
    EXPECT_EQ(menus[0][0].label, "Move to Front");
    EXPECT_FALSE(menus[0][0].enabled);
    EXPECT_EQ(menus[0][1].id, kMenuScaleToFitId);
    EXPECT_EQ(menus[0][1].label, "Scale to Fit");
    EXPECT_TRUE(menus[0][1].checkable);
    EXPECT_TRUE(menus[0][1].checked);

    // The overlay list's "Scale to Fit" acts on the backdrop: chosen twice it comes back, in two
    // undo steps.
    menuAnswer = kMenuScaleToFitId;
    rightClick(kOverlayListId);
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[1][0].id, kMenuOverlayToFrontId);
    EXPECT_TRUE(menus[1][0].enabled);
    EXPECT_TRUE(menus[1][1].checked);
    EXPECT_FALSE(bridge().fitEnabled);
    EXPECT_FALSE(set().getBool(kParamScaleToFit));
    EXPECT_FALSE(program->control<wxToggleButton>(kScaleToFitId)->GetValue());
    rightClick(kBackdropListId);
    EXPECT_FALSE(menus[2][1].checked);
    EXPECT_TRUE(bridge().fitEnabled);
    EXPECT_TRUE(bridge().fitJustEnabled);
    EXPECT_TRUE(set().getBool(kParamScaleToFit));
    EXPECT_EQ(set().undoSteps().size(), 2u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamScaleToFit}));
    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_FALSE(bridge().fitEnabled);

    // "Move to Front" from the menu moves the overlay list's selection.
    select(kOverlayListId, {1});
    menuAnswer = kMenuOverlayToFrontId;
    rightClick(kOverlayListId);
    EXPECT_EQ(shown(kOverlayListId), (std::vector<std::string>{"sun.png", "moon.png"}));
}

TEST_F(LayerListCommands, ResetTransformsResetsTheTickedLayerKindsOnly) {
    start({first});
    // Without "Scale To Fit", which would fit the backdrop afresh at every render.
    set().setBool(false, kParamScaleToFit);
    set().valueChanged(kParamScaleToFit);
    VantImagePreview* preview = program->preview();
    Matrix3 moved;
    moved.at(0, 2) = 12.5;
    moved.at(1, 2) = -7;
    Matrix3 turned;
    turned.at(0, 1) = 0.25;
    Matrix3 scaled;
    scaled.at(0, 0) = 1.5;
    bridge().backdropTransform = moved;
    bridge().foregroundTransform = turned;
    bridge().overlayTransform = scaled;

    // Only "Subject" ticked.
    preview->transformBackdrop.value().setBool(false);
    preview->transformSubject.value().setBool(true);
    preview->transformOverlay.value().setBool(false);
    click(program->control(kResetTransformsId));
    EXPECT_EQ(bridge().foregroundTransform, Matrix3());
    EXPECT_EQ(bridge().backdropTransform, moved);
    EXPECT_EQ(bridge().overlayTransform, scaled);
    ASSERT_EQ(set().undoSteps().size(), 1u);
    EXPECT_EQ(newestStep(set()), (std::set<std::size_t>{kParamForegroundTransform}));

    // Again: the subject is the identity already, so nothing is recorded.
    click(program->control(kResetTransformsId));
    EXPECT_EQ(set().undoSteps().size(), 1u);

    sendMenu(window(), Mav::Host::Param::kCmdUndo);
    EXPECT_EQ(bridge().foregroundTransform, turned);

    // Nothing ticked: a render follows, nothing changes.
    preview->transformSubject.value().setBool(false);
    program->renderNow();
    const int renders = program->host->renders;
    click(program->control(kResetTransformsId));
    program->renderNow();
    EXPECT_GT(program->host->renders, renders);
    EXPECT_EQ(bridge().foregroundTransform, turned);
    EXPECT_EQ(bridge().backdropTransform, moved);
    EXPECT_TRUE(set().undoSteps().empty());

    // Backdrop and overlay ticked: both in one step.
    preview->transformBackdrop.value().setBool(true);
    preview->transformOverlay.value().setBool(true);
    click(program->control(kResetTransformsId));
    EXPECT_EQ(bridge().backdropTransform, Matrix3());
    EXPECT_EQ(bridge().overlayTransform, Matrix3());
    EXPECT_EQ(bridge().foregroundTransform, turned);
    EXPECT_EQ(newestStep(set()),
              (std::set<std::size_t>{kParamBackdropTransform, kParamOverlayTransform}));
}

}  // namespace
