#pragma once
// The slider beside a number field.  The field's ParamValidator does every transfer; the slider
// only turns its movements into values of that validator's parameter:
//   a drag (thumb-track events)  EVT_PARAM_CHANGING before the first changed value,
//                                EVT_PARAM_CHANGED_LIVE for every changed position, and at the
//                                release one EVT_PARAM_CHANGED with extra 1 (the end of a drag is
//                                reported even at an unchanged position, but only when an edit was
//                                opened);
//   a click on the track or a key  EVT_PARAM_CHANGING and EVT_PARAM_CHANGED at once.
// Events at the position of the parameter's current value send nothing.
//
// Link it to the field's validator with bindParameter (host/param/param_binding.h); each side
// clears the other's link when it is destroyed.

#include <wx/validate.h>

#include <cstdint>

class wxScrollEvent;

namespace Mav::Host::Param {

class ParamValidator;

class SliderValidator : public wxValidator {
public:
    SliderValidator() = default;
    // Copies the partner; the copy is not dragging.
    SliderValidator(const SliderValidator& other);
    SliderValidator& operator=(const SliderValidator&) = delete;
    ~SliderValidator() override;
    wxObject* Clone() const override;

    // The field's validator does the transfers; these do nothing.
    bool Validate(wxWindow* parent) override;
    bool TransferToWindow() override;
    bool TransferFromWindow() override;

    void setPartner(ParamValidator* partner) { partner_ = partner; }
    ParamValidator* partner() const { return partner_; }
    bool dragging() const { return dragging_; }

protected:
    void onScroll(wxScrollEvent& event);

private:
    friend class ParamValidator;

    ParamValidator* partner_ = nullptr;
    bool dragging_ = false;

    wxDECLARE_EVENT_TABLE();
};

}  // namespace Mav::Host::Param
