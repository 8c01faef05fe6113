#include "app/layout_controls.h"

#include <wx/bmpbuttn.h>
#include <wx/checkbox.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "app/tool_images.h"

namespace layout_controls {

wxStaticText* caption(wxWindow* parent, wxWindowID id, const wxString& label) {
    return new wxStaticText(parent, id, label, wxDefaultPosition, wxDefaultSize, 0, "staticText");
}

wxTextCtrl* numberField(wxWindow* parent, wxWindowID id, int width) {
    return new wxTextCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxSize(width, -1), 0,
                          wxDefaultValidator, "text");
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
