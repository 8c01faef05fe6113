#pragma once
// The modal parts of the backdrop and overlay list commands: the layer file dialog and the lists'
// right-click menu.  Each can be answered by a hook instead (tests), which receives the built
// dialog or menu and gives the answer the user would have given.

#include <wx/string.h>

#include <functional>
#include <optional>

class wxFileDialog;
class wxMenu;
class wxWindow;

// "Image Files " followed by the toolkit's wildcard of every registered image handler: one filter
// entry, "(*.bmp;*.png;...)|*.bmp;*.png;...".
wxString layerFileWildcard();

// The "Choose Image" dialog (open, existing file, preview; one file) starting in `folder` with
// `fileName` filled in.  The chosen full path, or nothing when the dialog was not left with OK.
std::optional<wxString> chooseLayerFile(wxWindow* parent, const wxString& folder,
                                        const wxString& fileName);

// Receives the built dialog in place of its modal run: returns the toolkit's answer and, for
// wxID_OK, the chosen path.  An empty hook (the default) shows the dialog.  Returns the previous
// hook.
using LayerFileDialogHook = std::function<int(wxFileDialog& dialog, wxString& path)>;
LayerFileDialogHook setLayerFileDialogHook(LayerFileDialogHook hook);

// Pops `menu` up over `window` at the pointer and returns the chosen item's id, or wxID_NONE.
int chooseFromPopupMenu(wxWindow* window, wxMenu& menu);

// Receives the menu in place of the popup and returns the id of the chosen item (wxID_NONE: none).
using PopupMenuHook = std::function<int(wxMenu& menu)>;
PopupMenuHook setPopupMenuHook(PopupMenuHook hook);
