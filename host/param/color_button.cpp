#include "host/param/color_button.h"

#include <wx/colordlg.h>
#include <wx/dcmemory.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "host/param/param_events.h"

namespace Mav::Host::Param {

wxIMPLEMENT_DYNAMIC_CLASS(ColorButton, wxButton);

wxBEGIN_EVENT_TABLE(ColorButton, wxButton)
    EVT_BUTTON(wxID_ANY, ColorButton::onClick)
wxEND_EVENT_TABLE()

namespace {

ColourDialogHook& hookSlot() {
    static ColourDialogHook hook;
    return hook;
}

}  // namespace

ColorButton::ColorButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                         long style, const wxValidator& validator, const wxString& name) {
    Create(parent, id, pos, size, style, validator, name);
}

ColorButton::ColorButton(wxWindow* parent, wxWindowID id, const wxBitmap&, const wxPoint& pos,
                         const wxSize& size, long style, const wxValidator& validator,
                         const wxString& name) {
    Create(parent, id, pos, size, style, validator, name);
}

bool ColorButton::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                         long style, const wxValidator& validator, const wxString& name) {
    if (!wxButton::Create(parent, id, wxString(), pos, size, style, validator, name)) return false;
    drawSwatch();
    return true;
}

std::uint8_t ColorButton::componentByte(double component) {
    if (!(component > 0.0)) return 0;  // also NaN
    if (component >= 1.0) return 255;
    return static_cast<std::uint8_t>(component * 255.0);
}

void ColorButton::drawSwatch() {
    if (!GetHandle()) return;
    // The swatch fills the button inside its frame; the frame of a theme button takes about six
    // pixels on each side.
    const wxSize size = GetClientSize();
    const int width = std::max(8, size.GetWidth() - 12);
    const int height = std::max(8, size.GetHeight() - 12);
    wxBitmap swatch(width, height, 24);
    {
        wxMemoryDC dc(swatch);
        dc.SetBackground(wxBrush(wxColour(componentByte(red), componentByte(green),
                                          componentByte(blue))));
        dc.Clear();
    }
    SetBitmap(swatch);
}

bool ColorButton::chooseColour() {
    wxColourData data;
    data.SetColour(wxColour(componentByte(red), componentByte(green), componentByte(blue)));
    wxColourDialog dialog(this, &data);
    const ColourDialogHook& hook = hookSlot();
    const int answer = hook ? hook(dialog) : dialog.ShowModal();
    if (answer != wxID_OK) return false;
    const wxColour chosen = dialog.GetColourData().GetColour();
    red = chosen.Red() / 255.0;
    green = chosen.Green() / 255.0;
    blue = chosen.Blue() / 255.0;
    drawSwatch();
    sendParamEvent(this, EVT_COLOUR_CHANGED, 0, nullptr, 0);
    return true;
}

void ColorButton::onClick(wxCommandEvent&) {
    chooseColour();
}

ColourDialogHook setColourDialogHook(ColourDialogHook hook) {
    return std::exchange(hookSlot(), std::move(hook));
}

}  // namespace Mav::Host::Param
