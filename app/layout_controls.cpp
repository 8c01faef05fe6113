#include "app/layout_controls.h"

#include <wx/bmpbuttn.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/toplevel.h>

#include <algorithm>

#include "app/tool_images.h"

namespace layout_controls {

wxStaticText* caption(wxWindow* parent, wxWindowID id, const wxString& label) {
    return new wxStaticText(parent, id, label, wxDefaultPosition, wxDefaultSize, 0, "staticText");
}

namespace {

// Widens `field` to show `widest` with the theme's padding and frame around it, then lets its
// window make room: a larger minimum, a larger client area where the window is smaller, a new
// layout.
void fitFieldToText(wxTextCtrl* field, const wxString& widest) {
    const int needed = field->GetSizeFromTextSize(field->GetTextExtent(widest).x).x;
    if (needed <= field->GetMinSize().x) return;
    field->SetMinSize(wxSize(needed, -1));
    wxWindow* top = wxGetTopLevelParent(field);
    wxSizer* sizer = top ? top->GetSizer() : nullptr;
    if (!sizer) return;
    const wxSize fitting = sizer->ComputeFittingClientSize(top);
    top->SetMinClientSize(fitting);
    const wxSize client = top->GetClientSize();
    if (client.x < fitting.x || client.y < fitting.y)
        top->SetClientSize(wxSize(std::max(client.x, fitting.x), std::max(client.y, fitting.y)));
    top->Layout();
}

}  // namespace

wxTextCtrl* numberField(wxWindow* parent, wxWindowID id, int width, const wxString& widest) {
    auto* field = new wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxSize(width, -1),
                                 0, wxDefaultValidator, "text");
    fitFieldToText(field, widest);
    // GTK gives an entry its theme's whole padding only once it is realized: measured before, a
    // 60-pixel field seemed wide enough for "100.00" and showed "100.0" and half a digit.  So the
    // width is measured again when the field is realized.
    field->Bind(wxEVT_CREATE, [field, widest](wxWindowCreateEvent& event) {
        event.Skip();
        if (event.GetWindow() == field) fitFieldToText(field, widest);
    });
    return field;
}

wxChoice* choice(wxWindow* parent, wxWindowID id, const wxArrayString& items) {
    auto* control = new wxChoice(parent, id, wxDefaultPosition, wxDefaultSize, items, 0,
                                 wxDefaultValidator, "choice");
    control->SetMinSize(wxSize(std::max(100, control->GetBestSize().x), -1));
    return control;
}

wxSlider* slider(wxWindow* parent, wxWindowID id, int width) {
    return new wxSlider(parent, id, 0, 0, 100, wxDefaultPosition, wxSize(width, -1), 0,
                        wxDefaultValidator, "slider");
}

wxCheckBox* checkBox(wxWindow* parent, wxWindowID id, const wxString& label) {
    return new wxCheckBox(parent, id, label, wxDefaultPosition, wxDefaultSize, 0,
                          wxDefaultValidator, "check");
}

wxBitmapButton* pictureButton(wxWindow* parent, wxWindowID id, int picture, wxSize size) {
    return new Compact<wxBitmapButton>(parent, id, makeToolBitmap(picture), wxDefaultPosition,
                                       size, wxBU_AUTODRAW, wxDefaultValidator, "button");
}

wxBitmapToggleButton* pictureToggle(wxWindow* parent, wxWindowID id, int picture, wxSize size) {
    return new Compact<wxBitmapToggleButton>(parent, id, makeToolBitmap(picture),
                                             wxDefaultPosition, size, 0, wxDefaultValidator,
                                             "check");
}

}  // namespace layout_controls
