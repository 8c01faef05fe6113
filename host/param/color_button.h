#pragma once
// A button that shows a colour parameter (ParamColour) as a swatch and lets the user choose a new
// colour in the system colour dialog.
//
// The swatch is a bitmap on the button: GTK draws buttons from the theme and ignores a
// background colour.  The components are doubles nominally 0..1; before they become bytes they
// are limited to [0, 1] (NaN gives 0) and multiplied by 255, truncated.
//
// After the dialog ends with OK the button sends EVT_COLOUR_CHANGED (index 0, no record); the
// frame's control-change handler then transfers the colour into the parameter through the
// button's ParamValidator, which sends EVT_PARAM_CHANGING and EVT_PARAM_CHANGED.  Cancel changes
// and sends nothing.
//
// Registered with the toolkit's class information as "ColorButton" (base wxButton), so it can be
// created by name: an empty, white button.

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/validate.h>

#include <cstdint>
#include <functional>

class wxColourDialog;

namespace Mav::Host::Param {

class ColorButton : public wxButton {
public:
    // The button part only; Create makes the native window.
    ColorButton() = default;
    // A button without a label; the colour is white.
    ColorButton(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize, long style = 0,
                const wxValidator& validator = wxDefaultValidator,
                const wxString& name = wxASCII_STR("ColorButton"));
    // The form that takes a bitmap; the bitmap is not used (the swatch is drawn from the colour).
    ColorButton(wxWindow* parent, wxWindowID id, const wxBitmap& unused,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                long style = 0, const wxValidator& validator = wxDefaultValidator,
                const wxString& name = wxASCII_STR("ColorButton"));

    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize, long style = 0,
                const wxValidator& validator = wxDefaultValidator,
                const wxString& name = wxASCII_STR("ColorButton"));

    // Redraws the swatch from red, green and blue.
    void drawSwatch();
    // Runs the colour dialog from the current colour; on OK takes the chosen colour, redraws and
    // sends EVT_COLOUR_CHANGED.  Returns whether the colour was taken.
    bool chooseColour();

    // The three components as bytes, as the dialog and the swatch get them.
    static std::uint8_t componentByte(double component);

    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;

protected:
    void onClick(wxCommandEvent& event);

private:
    wxDECLARE_DYNAMIC_CLASS(ColorButton);
    wxDECLARE_EVENT_TABLE();
};

// Receives the built colour dialog in place of its modal run and returns the toolkit's answer
// (wxID_OK or wxID_CANCEL); a stand-in sets the chosen colour in dialog.GetColourData().  An empty
// hook (the default) shows the dialog.  Returns the previous hook.
using ColourDialogHook = std::function<int(wxColourDialog& dialog)>;
ColourDialogHook setColourDialogHook(ColourDialogHook hook);

}  // namespace Mav::Host::Param
