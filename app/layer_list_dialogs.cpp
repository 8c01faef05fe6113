#include "app/layer_list_dialogs.h"

#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/menu.h>
#include <wx/window.h>

#include <utility>

namespace {

LayerFileDialogHook& fileDialogHook() {
    static LayerFileDialogHook hook;
    return hook;
}

PopupMenuHook& popupMenuHook() {
    static PopupMenuHook hook;
    return hook;
}

}  // namespace

wxString layerFileWildcard() { return _("Image Files ") + wxImage::GetImageExtWildcard(); }

std::optional<wxString> chooseLayerFile(wxWindow* parent, const wxString& folder,
                                        const wxString& fileName) {
    wxFileDialog dialog(parent, _("Choose Image"), folder, fileName, layerFileWildcard(),
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_PREVIEW, wxDefaultPosition,
                        wxDefaultSize, wxASCII_STR(wxFileDialogNameStr));
    wxString path;
    int answer;
    if (const LayerFileDialogHook& hook = fileDialogHook()) {
        answer = hook(dialog, path);
    } else {
        answer = dialog.ShowModal();
        if (answer == wxID_OK) path = dialog.GetPath();
    }
    if (answer != wxID_OK) return std::nullopt;
    return path;
}

LayerFileDialogHook setLayerFileDialogHook(LayerFileDialogHook hook) {
    return std::exchange(fileDialogHook(), std::move(hook));
}

int chooseFromPopupMenu(wxWindow* window, wxMenu& menu) {
    if (const PopupMenuHook& hook = popupMenuHook()) return hook(menu);
    if (!window) return wxID_NONE;
    return window->GetPopupMenuSelectionFromUser(menu);
}

PopupMenuHook setPopupMenuHook(PopupMenuHook hook) {
    return std::exchange(popupMenuHook(), std::move(hook));
}
