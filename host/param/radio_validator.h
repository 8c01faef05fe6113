#pragma once
// A group of toggle buttons that together choose one value of an integer or choice parameter: the
// button for value k is pressed exactly when the parameter holds k.
//
// Pressing a button stores its value (when it differs) and releases the others.  Clicking the
// pressed button keeps it pressed, unless the group has a release value (setPosition): then the
// button is released and the parameter takes the release value.
//
// Each button carries one RadioValidator that lists the other buttons of its group; destroying a
// button removes it from the lists of the others.  Bind groups with bindRadioGroup
// (host/param/param_binding.h).

#include <cstdint>
#include <vector>

#include "host/param/param_validator.h"

namespace Mav::Host::Param {

class RadioValidator : public ParamValidator {
public:
    RadioValidator(ParamRecord* record, std::uint64_t index, std::int32_t position);
    // Copies the group list, the position and the release value.
    RadioValidator(const RadioValidator& other);
    RadioValidator& operator=(const RadioValidator&) = delete;
    // Removes this validator's button from the groups of the other buttons.
    ~RadioValidator() override;
    wxObject* Clone() const override;

    // Presses the button exactly when the record holds its position.  Only toggle buttons
    // (including bitmap toggle buttons); other controls give false.
    bool TransferToWindow() override;
    bool TransferFromWindow() override;

    // Gives the group a release value; once set to a value, setting the same value again does
    // nothing.  With `wholeGroup` every other button gets it too.
    void setPosition(std::int32_t releaseValue, bool wholeGroup);

    // The other buttons of the group.
    std::vector<wxWindow*>& group() { return group_; }
    const std::vector<wxWindow*>& group() const { return group_; }
    std::int32_t position() const { return position_; }
    bool hasReleaseValue() const { return hasReleaseValue_; }
    std::int32_t releaseValue() const { return releaseValue_; }

protected:
    void onSelect(wxCommandEvent& event);

private:
    // The radio validators of the other buttons (those still carrying one).
    std::vector<RadioValidator*> others() const;

    std::vector<wxWindow*> group_;
    std::int32_t position_ = 0;
    std::int32_t releaseValue_ = 0;
    bool hasReleaseValue_ = false;

    wxDECLARE_EVENT_TABLE();
};

}  // namespace Mav::Host::Param
