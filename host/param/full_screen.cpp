#include "host/param/full_screen.h"

#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/toplevel.h>

namespace Mav::Host::Param {

FullScreenState::FullScreenState(wxTopLevelWindow* window, wxWindow* panel) : window(window) {
    dialog = dynamic_cast<wxDialog*>(window);
    if (dialog) {
        savedAffirmativeId = dialog->GetAffirmativeId();
        savedEscapeId = dialog->GetEscapeId();
        dialog->SetAffirmativeId(wxID_NONE);
        dialog->SetEscapeId(wxID_NONE);
    }
    if (wxSizer* sizer = window->GetSizer()) hideAround(sizer, panel);
    window->ShowFullScreen(true, wxFULLSCREEN_ALL);
    window->Layout();
    if (panel) panel->SetFocus();
}

bool FullScreenState::hideAround(wxSizer* sizer, wxWindow* panel) {
    bool containsPanel = false;
    const std::size_t count = sizer->GetItemCount();
    for (std::size_t index = 0; index < count; ++index) {
        wxSizerItem* item = sizer->GetItem(index);
        if (!item || !item->IsShown()) continue;
        bool holdsPanel = false;
        if (item->IsSizer()) {
            holdsPanel = hideAround(item->GetSizer(), panel);
        } else if (wxWindow* child = item->GetWindow()) {
            // A window that has the panel among its children stays, or the panel would vanish
            // with it.
            holdsPanel = child == panel || (panel && child->IsDescendant(panel));
        }
        savedItems.push_back({sizer, index, item->GetBorder()});
        // A sub-sizer's items were handled one by one above; hiding the sizer item itself would
        // also hide what the walk kept.  A group's box is no item of its sizer: it is hidden
        // here, or its caption and frame would stay on the screen around the picture.
        if (!holdsPanel && !item->IsSizer()) item->Show(false);
        if (!holdsPanel) showGroupBox(item, false);
        item->SetBorder(0);
        containsPanel = containsPanel || holdsPanel;
    }
    return containsPanel;
}

void FullScreenState::showGroupBox(wxSizerItem* item, bool show) {
    if (auto* group = dynamic_cast<wxStaticBoxSizer*>(item->GetSizer()))
        group->GetStaticBox()->Show(show);
}

bool FullScreenState::active() const { return window && window->IsFullScreen(); }

void FullScreenState::restore() {
    if (!window) return;
    window->ShowFullScreen(false, wxFULLSCREEN_ALL);
    if (dialog) {
        dialog->SetAffirmativeId(savedAffirmativeId);
        dialog->SetEscapeId(savedEscapeId);
    }
    for (const SavedItem& saved : savedItems) {
        wxSizerItem* item = saved.sizer->GetItem(saved.index);
        if (!item) continue;
        item->SetBorder(saved.border);
        // Showing a sub-sizer would show every item in it, also those hidden before full screen;
        // its shown items are in the list themselves.
        if (!item->IsSizer()) item->Show(true);
        showGroupBox(item, true);
    }
    window->Layout();
}

}  // namespace Mav::Host::Param
