#include "host/param/radio_validator.h"

#include <wx/tglbtn.h>

#include <algorithm>

#include "host/param/param_events.h"

namespace Mav::Host::Param {

wxBEGIN_EVENT_TABLE(RadioValidator, ParamValidator)
    EVT_TOGGLEBUTTON(wxID_ANY, RadioValidator::onSelect)
wxEND_EVENT_TABLE()

namespace {

// wxBitmapToggleButton derives from wxToggleButton on this toolkit.
wxToggleButton* toggleButton(wxWindow* window) {
    return dynamic_cast<wxToggleButton*>(window);
}

}  // namespace

RadioValidator::RadioValidator(ParamRecord* record, std::uint64_t index, std::int32_t position)
    : ParamValidator(record, index), position_(position) {}

RadioValidator::RadioValidator(const RadioValidator& other)
    : ParamValidator(other),
      group_(other.group_),
      position_(other.position_),
      releaseValue_(other.releaseValue_),
      hasReleaseValue_(other.hasReleaseValue_) {}

RadioValidator::~RadioValidator() {
    wxWindow* self = GetWindow();
    if (!self) return;  // an unattached copy is in no one's list
    for (RadioValidator* other : others()) {
        auto& list = other->group_;
        list.erase(std::remove(list.begin(), list.end(), self), list.end());
    }
}

wxObject* RadioValidator::Clone() const {
    return new RadioValidator(*this);
}

std::vector<RadioValidator*> RadioValidator::others() const {
    std::vector<RadioValidator*> validators;
    for (wxWindow* button : group_) {
        if (!button) continue;
        if (auto* validator = dynamic_cast<RadioValidator*>(button->GetValidator()))
            validators.push_back(validator);
    }
    return validators;
}

bool RadioValidator::TransferToWindow() {
    closeEdit();
    wxToggleButton* button = toggleButton(GetWindow());
    if (!button || !record()) return false;
    button->SetValue(record()->value().getInt() == position_);
    return true;
}

bool RadioValidator::TransferFromWindow() {
    wxWindow* window = GetWindow();
    if (!window || !record()) return false;
    if (!window->IsEnabled()) return true;
    wxToggleButton* button = toggleButton(window);
    if (!button) return false;
    ParamValue& value = record()->value();
    if (button->GetValue()) {
        if (value.getInt() != position_) {
            beginEdit();
            value.setInt(position_);
        }
        for (RadioValidator* other : others()) other->TransferToWindow();
    } else if (hasReleaseValue_ && value.getInt() == position_) {
        // A sibling pressed meanwhile stores its own position first.
        for (RadioValidator* other : others()) other->TransferFromWindow();
        if (value.getInt() == position_) {
            beginEdit();
            value.setInt(releaseValue_);
            // The release value may be a sibling's position: show it pressed.
            for (RadioValidator* other : others()) other->TransferToWindow();
        }
    }
    endEdit(EVT_PARAM_CHANGED, 0);
    return true;
}

void RadioValidator::setPosition(std::int32_t releaseValue, bool wholeGroup) {
    if (hasReleaseValue_ && releaseValue_ == releaseValue) return;
    releaseValue_ = releaseValue;
    hasReleaseValue_ = true;
    if (!wholeGroup) return;
    for (RadioValidator* other : others()) other->setPosition(releaseValue, false);
}

void RadioValidator::onSelect(wxCommandEvent& event) {
    event.Skip();
    if (hasReleaseValue_ || event.GetEventObject() != GetWindow()) return;
    // Without a release value the pressed button of a group stays pressed.
    if (wxToggleButton* button = toggleButton(GetWindow())) button->SetValue(true);
}

}  // namespace Mav::Host::Param
