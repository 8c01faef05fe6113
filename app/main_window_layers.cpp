// The main window's backdrop and overlay list commands: add, delete, move to front, replace, the
// lists' right-click menu, "Scale to Fit" and the reset of the layer transforms.  The list edits
// themselves are in app/layer_list_edit.h; here they meet the list boxes, the validators, the
// parameter set and the engine adapter.
//
// Undo.  The list validator announces the list parameter around its store and only when the text
// changes, so a command that leaves the list as it was records nothing.  Add is one step with
// "Render against BD" (backdrops); deleting every backdrop releases "Render against BD" in a step
// of its own after the list's, so undo brings back the switch first and the list second.

#include "app/main_window.h"

#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>

#include <optional>
#include <string>
#include <vector>

#include "app/layer_list_dialogs.h"
#include "app/layer_list_edit.h"
#include "app/main_layout.h"
#include "app/vant_image_preview.h"
#include "host/param/list_box_validator.h"
#include "host/param/param_events.h"
#include "host/param/undo.h"
#include "plugin/matrix_text.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_wrapper.h"

using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using Mav::Host::Param::ListBoxParamValidator;
using Mav::Host::Param::Parameters;
using Mav::Host::Param::sendParamEvent;

namespace {

enum class LayerKind { Backdrop, Overlay };

// One list with its validator, as a command found it.
struct LayerListSide {
    LayerKind kind;
    wxListBox* list = nullptr;
    ListBoxParamValidator* validator = nullptr;

    std::vector<std::string> paths() const {
        std::vector<std::string> utf8;
        for (const wxString& path : validator->paths) utf8.push_back(path.utf8_string());
        return utf8;
    }
    // The selected entries that have a path, ascending.
    std::vector<std::size_t> selection() const {
        wxArrayInt selected;
        list->GetSelections(selected);
        return validSelection(std::vector<int>(selected.begin(), selected.end()),
                              validator->paths.size());
    }
};

std::optional<LayerListSide> sideOf(wxListBox* list, LayerKind kind) {
    if (!list) return std::nullopt;
    auto* validator = dynamic_cast<ListBoxParamValidator*>(list->GetValidator());
    if (!validator) return std::nullopt;
    return LayerListSide{kind, list, validator};
}

// Writes the paths into the list's parameter; the validator announces the change when the text
// differs.
void storePaths(const LayerListSide& side, const std::vector<std::string>& paths) {
    side.validator->paths.clear();
    for (const std::string& path : paths) side.validator->paths.push_back(wxString::FromUTF8(path));
    side.validator->TransferFromWindow();
}

// The entries rebuilt from the parameter's text, then the selection.
void showPaths(const LayerListSide& side, const std::vector<std::size_t>& selection) {
    side.validator->TransferToWindow();
    side.list->SetSelection(wxNOT_FOUND);
    for (std::size_t index : selection)
        if (index < side.list->GetCount()) side.list->SetSelection(static_cast<int>(index));
}

// The folder a dialog starts in for an entry: the folder of its full path (the list shows bare file
// names, which have none), else the last image path.
wxString startingFolder(const LayerListSide& side, const std::vector<std::size_t>& selection,
                        const wxString& lastImagePath) {
    if (selection.empty()) return lastImagePath;
    const std::string folder = folderOfPath(side.validator->paths[selection.front()].utf8_string());
    return folder.empty() ? lastImagePath : wxString::FromUTF8(folder);
}

// Which list an id names (a list, its buttons or its menu command); nothing for any other id.
std::optional<LayerListSide> listForCommand(VantreloUIBase& window, int id) {
    switch (id) {
    case kBackdropToFrontId:
    case kMenuBackdropToFrontId:
    case kBackdropAddId:
    case kBackdropDeleteId:
    case kBackdropListId:
        return sideOf(window.backdropList, LayerKind::Backdrop);
    case kOverlayToFrontId:
    case kMenuOverlayToFrontId:
    case kOverlayAddId:
    case kOverlayDeleteId:
    case kOverlayListId:
        return sideOf(window.overlayList, LayerKind::Overlay);
    default:
        return std::nullopt;
    }
}

// "Render against BD" set to `on` as an announced change, shown in its button.
void setRenderAgainstBackdrop(VantreloUIBase& window, Parameters& set, bool on) {
    sendParamEvent(&window, EVT_PARAM_CHANGING, vantrelo::kParamRenderAgainstBD, nullptr, 0);
    set.setBool(on, vantrelo::kParamRenderAgainstBD);
    window.TransferDataToWindow();
    sendParamEvent(&window, EVT_PARAM_CHANGED, vantrelo::kParamRenderAgainstBD, nullptr, 0);
}

// The list a command names, or nothing (the event skipped).  Any list command may change the
// backdrop, so with "Scale To Fit" on it is fitted again at the next render, whatever follows.
std::optional<LayerListSide> startListCommand(VantreloUIBase& window, wxCommandEvent& event) {
    if (window.bridge) window.bridge->fitJustEnabled = window.bridge->fitEnabled;
    std::optional<LayerListSide> side = listForCommand(window, event.GetId());
    if (!side) event.Skip();
    return side;
}

}  // namespace

void VantreloUIBase::onAddLayer(wxCommandEvent& event) {
    const std::optional<LayerListSide> side = startListCommand(*this, event);
    Parameters* set = parameters();
    if (!side || !set) return;
    const std::vector<std::size_t> selection = side->selection();
    const std::optional<wxString> chosen =
        chooseLayerFile(this, startingFolder(*side, selection, lastImagePath()), wxString());
    if (!chosen) return;

    Mav::Host::Param::beginChange(*set);
    Mav::Host::Param::endChangeGuard group(*set);
    const std::string path = chosen->utf8_string();
    setLastImagePath(wxString::FromUTF8(folderOfPath(path)));
    const LayerListEdit edit = addLayerAtFront(side->paths(), selection, path);
    storePaths(*side, edit.paths);
    if (side->kind == LayerKind::Backdrop && !set->getBool(vantrelo::kParamRenderAgainstBD))
        setRenderAgainstBackdrop(*this, *set, true);
    showPaths(*side, edit.selection);
}

void VantreloUIBase::onDeleteLayers(wxCommandEvent& event) {
    const std::optional<LayerListSide> side = startListCommand(*this, event);
    Parameters* set = parameters();
    if (!side || !set) return;
    const std::vector<std::size_t> selection = side->selection();
    if (selection.empty()) return;
    const std::vector<std::string> paths = side->paths();
    const bool all =
        side->kind == LayerKind::Backdrop && selectsEveryEntry(paths.size(), selection);
    // No change group: the list and "Render against BD" are two undo steps.
    storePaths(*side, deleteLayers(paths, selection).paths);
    if (all && set->getBool(vantrelo::kParamRenderAgainstBD))
        setRenderAgainstBackdrop(*this, *set, false);
    showPaths(*side, {});
}

void VantreloUIBase::onMoveLayersToFront(wxCommandEvent& event) {
    const std::optional<LayerListSide> side = startListCommand(*this, event);
    if (!side) return;
    const std::vector<std::size_t> selection = side->selection();
    if (selection.empty()) return;
    const LayerListEdit edit = moveLayersToFront(side->paths(), selection);
    storePaths(*side, edit.paths);
    showPaths(*side, edit.selection);
}

void VantreloUIBase::onReplaceLayer(wxCommandEvent& event) {
    const std::optional<LayerListSide> side = startListCommand(*this, event);
    if (!side) return;
    const std::vector<std::size_t> selection = side->selection();
    if (selection.empty()) return;
    const wxString shown = side->list->GetString(static_cast<unsigned>(selection.front()));
    const std::optional<wxString> chosen =
        chooseLayerFile(this, startingFolder(*side, selection, lastImagePath()),
                        wxString::FromUTF8(fileNameOfPath(shown.utf8_string())));
    if (!chosen) return;
    const std::string path = chosen->utf8_string();
    setLastImagePath(wxString::FromUTF8(folderOfPath(path)));
    const LayerListEdit edit = replaceLayer(side->paths(), selection, path);
    storePaths(*side, edit.paths);
    showPaths(*side, edit.selection);
}

void VantreloUIBase::onLayerListRightClick(wxMouseEvent& event) {
    auto* window = dynamic_cast<wxWindow*>(event.GetEventObject());
    const std::optional<LayerListSide> side =
        listForCommand(*this, window ? window->GetId() : wxID_NONE);
    if (!side) {
        event.Skip();
        return;
    }
    const int moveId =
        side->kind == LayerKind::Backdrop ? kMenuBackdropToFrontId : kMenuOverlayToFrontId;
    wxMenu menu;
    menu.Append(moveId, _("Move to Front"), wxString());
    // The overlay list's menu carries it too; it acts on the backdrop.
    menu.AppendCheckItem(kMenuScaleToFitId, _("Scale to Fit"), wxString());
    menu.Enable(moveId, side->list->GetCount() > 1);
    menu.Check(kMenuScaleToFitId, bridge && bridge->fitEnabled);
    const int chosen = chooseFromPopupMenu(this, menu);
    if (chosen == wxID_NONE || !menu.IsEnabled(chosen)) return;
    // As the toolkit delivers a chosen item: a menu command at this window.
    wxCommandEvent command(wxEVT_MENU, chosen);
    command.SetEventObject(this);
    GetEventHandler()->ProcessEvent(command);
}

void VantreloUIBase::onScaleToFit(wxCommandEvent&) {
    Parameters* set = parameters();
    if (!set || !bridge) return;
    Mav::Host::Param::beginChange(*set);
    Mav::Host::Param::endChangeGuard group(*set);
    sendParamEvent(this, EVT_PARAM_CHANGING, vantrelo::kParamScaleToFit, nullptr, 0);
    bridge->fitEnabled = !bridge->fitEnabled;
    bridge->fitJustEnabled = bridge->fitEnabled;
    set->refreshValue(vantrelo::kParamScaleToFit);
    TransferDataToWindow();
    sendParamEvent(this, EVT_PARAM_CHANGED, vantrelo::kParamScaleToFit, nullptr, 0);
}

void VantreloUIBase::onResetTransforms(wxCommandEvent&) {
    Parameters* set = parameters();
    if (!set || set->count() < vantrelo::kKeyerParamCount) return;
    Mav::Host::Param::beginChange(*set);
    Mav::Host::Param::endChangeGuard group(*set);
    if (VantImagePreview* preview = previewPanel()) {
        const struct {
            const Mav::Host::Param::ParamRecord& target;
            std::size_t index;
        } kinds[] = {{preview->transformBackdrop, vantrelo::kParamBackdropTransform},
                     {preview->transformSubject, vantrelo::kParamForegroundTransform},
                     {preview->transformOverlay, vantrelo::kParamOverlayTransform}};
        for (const auto& kind : kinds) {
            if (!kind.target.value().getBool()) continue;
            // The text is taken from the adapter first; a transform that already is the default
            // (the identity) records nothing.
            set->refreshValue(kind.index);
            Mav::Host::Param::ParamRecord& record = set->record(kind.index);
            vantrelo::Matrix3 reset;
            vantrelo::parseMatrixText(reset, record.defaultValue().text);
            if (record.value().text == vantrelo::formatMatrixText(reset)) continue;
            Mav::Host::Param::recordChange(*set, kind.index);
            record.value() = record.defaultValue();
            set->valueChanged(kind.index);
        }
    }
    renderAfterChange();
    TransferDataToWindow();
    updateEnables();
}
