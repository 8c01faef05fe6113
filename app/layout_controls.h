#pragma once
// The controls that the main window's and the floating windows' layouts are made of, created the
// same way in both: each is a child of `parent` with the id, size and toolkit name its layout
// gives, its text field empty, its slider at 0 in 0..100 until it is bound.

#include <wx/defs.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

#include <utility>

class wxArrayString;
class wxBitmapButton;
class wxBitmapToggleButton;
class wxCheckBox;
class wxChoice;
class wxSlider;
class wxStaticText;
class wxTextCtrl;
class wxWindow;

namespace layout_controls {

// A control whose content fills it.  GTK's theme pads every button by several pixels on each
// side: a 40-pixel picture on a 40- or 50-pixel button would lose its edges, and the 15- and
// 19-pixel buttons are smaller than the padding alone (GTK then complains on every layout).
template <class Control>
class Compact : public Control {
public:
    template <class... Args>
    explicit Compact(Args&&... args) : Control(std::forward<Args>(args)...) {
#ifdef __WXGTK3__
        this->GTKApplyCssStyle("* { padding: 0; min-width: 0; min-height: 0; }");
#endif
    }
};

wxStaticText* caption(wxWindow* parent, wxWindowID id, const wxString& label);
// A number field `width` wide, or wider where `widest`, the longest text it will show, needs more
// room at the toolkit's font: a field cut at its width shows "100.00" as "100.0".
wxTextCtrl* numberField(wxWindow* parent, wxWindowID id, int width, const wxString& widest);
wxSlider* slider(wxWindow* parent, wxWindowID id, int width);
wxCheckBox* checkBox(wxWindow* parent, wxWindowID id, const wxString& label);
// A choice 100 wide, or as wide as its longest item needs ("spill defocus background" would
// otherwise read "spill co...").
wxChoice* choice(wxWindow* parent, wxWindowID id, const wxArrayString& items);
// Buttons showing tool picture `picture` (app/tool_images.h), compact.
wxBitmapButton* pictureButton(wxWindow* parent, wxWindowID id, int picture, wxSize size);
wxBitmapToggleButton* pictureToggle(wxWindow* parent, wxWindowID id, int picture, wxSize size);

}  // namespace layout_controls
