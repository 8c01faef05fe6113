#pragma once
// The validator that ties one control to one parameter record: it shows the record's value in the
// control, writes the control's value back into the record, checks typed numbers and announces
// every change with the parameter events (host/param/param_events.h).
//
// Controls by kind:
//   ParamInt, ParamPopup, ParamIndex  choice, slider, spin control, radio box, text field (the
//                                     number is read and checked), choice book or notebook (the
//                                     page number), list control (the selected item number);
//   ParamFloat                        a text field only, shown with "%.2f";
//   ParamBool                         check box, radio button, toggle button;
//   ParamText, ParamString            text field, combo box, choice (by text), choice book or
//                                     notebook (by page title), list control (by first column);
//   ParamColour                       a ColorButton (host/param/color_button.h).
//
// When events are sent:
//   text field  typing sends nothing (only a slider partner follows); Enter or leaving the field
//               checks the entry and, when the value differs, sends EVT_PARAM_CHANGING before the
//               store and EVT_PARAM_CHANGED after it;
//   other controls  the frame's control-change handler transfers from the control, with the same
//               two events around a store that changes the value;
//   slider      EVT_PARAM_CHANGING at the first changed position, EVT_PARAM_CHANGED_LIVE for each
//               changed position of a drag, EVT_PARAM_CHANGED at the end (SliderValidator).
// A transfer to the window ends an open edit without an event.
//
// Bad entries are never refused: Validate replaces a number that does not read by the default and
// one beyond the limits by the nearest limit, rewrites the field and tells the user in a box
// captioned "Input error".  The box goes through Mav::Host::App::showMessageBox, whose hook lets
// tests answer it.
//
// The validator never owns its record; records and validators live on the user-interface thread.

#include <wx/string.h>
#include <wx/valgen.h>

#include <cstdint>

#include "host/param/param_record.h"

class wxCommandEvent;
class wxFocusEvent;
class wxKeyEvent;

namespace Mav::Host::Param {

class SliderValidator;

class ParamValidator : public wxGenericValidator {
public:
    ParamValidator(ParamRecord* record, std::uint64_t index);
    // Copies the slider partner, record, index and step; the edit is closed and the buffers are
    // the copy's own, filled afresh from the record.  The toolkit copies a validator when it is
    // attached to a control, so links are made between attached copies (bindParameter).
    ParamValidator(const ParamValidator& other);
    ParamValidator& operator=(const ParamValidator&) = delete;
    // Clears the slider partner's link back to this validator.
    ~ParamValidator() override;
    wxObject* Clone() const override;

    bool TransferToWindow() override;
    bool TransferFromWindow() override;
    // Corrects a bad number entry in the field (never in the record) and tells the user; always
    // true.
    bool Validate(wxWindow* parent) override;

    // Opens an edit: sends EVT_PARAM_CHANGING unless one is open.  Called before the first store,
    // while the record still holds the old value.
    void beginEdit();
    // Only while an edit is open: sends `type` with `extra`; the edit stays open after
    // EVT_PARAM_CHANGED_LIVE and is closed after any other type.
    void endEdit(wxEventType type, long extra);

    // Links the slider of the same parameter (or unlinks with null).  Linking sets the slider's
    // range: slots 2..3 for ParamInt, slots 2..3 in slider steps for ParamFloat.
    void setSliderPartner(SliderValidator* partner);
    SliderValidator* sliderPartner() const { return sliderPartner_; }
    // A slider position into the field and the record, then endEdit(type, extra).
    void applySliderPosition(int position, wxEventType type, long extra);
    // The slider position that stands for the record's current value.
    int sliderPositionOfValue() const;

    ParamRecord* record() const { return record_; }
    std::uint64_t index() const { return index_; }
    double sliderStep() const { return sliderStep_; }
    bool editOpen() const { return editOpen_; }

protected:
    // Ends an open edit without an event (a transfer to the window).
    void closeEdit() { editOpen_ = false; }

    void onChar(wxKeyEvent& event);
    void onText(wxCommandEvent& event);
    void onTextEnter(wxCommandEvent& event);
    void onKillFocus(wxFocusEvent& event);
    void onSetFocus(wxFocusEvent& event);

private:
    friend class SliderValidator;
    void bindBuffer();
    // Enter or focus lost in a text field: check, transfer, end the edit.
    void commit();

    SliderValidator* sliderPartner_ = nullptr;
    ParamRecord* record_ = nullptr;
    std::uint64_t index_ = 0;
    int intBuffer_ = 0;
    bool boolBuffer_ = false;
    wxString textBuffer_;
    double sliderStep_ = 1.0;
    bool editOpen_ = false;

    wxDECLARE_EVENT_TABLE();
};

// Reads a number typed for a ParamInt, ParamPopup or ParamFloat record (other kinds: false,
// nothing changed) and stores it into `record` when it differs; through `validator`'s edit
// (beginEdit first) when `record` is the validator's own record.
//
// With `report` off, a text that does not read or a number beyond the limits (slots 4 and 5) gives
// false and stores nothing.  With `report` on, they are replaced by the default (slot 1) or the
// nearest limit, `message` gets the matching text and the validator's text field is rewritten
// with the record's value.  A float whose "%.2f" form equals the shown value is not stored, so
// committing an unchanged display keeps the hidden digits.  Returns true when a number was read
// or replaced.
bool checkNumberEntry(ParamValidator* validator, ParamRecord& record, const wxString& text,
                      wxString& message, bool report);

}  // namespace Mav::Host::Param
