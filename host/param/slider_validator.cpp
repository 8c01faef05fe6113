#include "host/param/slider_validator.h"

#include <wx/slider.h>

#include "host/param/param_events.h"
#include "host/param/param_validator.h"

namespace Mav::Host::Param {

wxBEGIN_EVENT_TABLE(SliderValidator, wxValidator)
    EVT_SCROLL(SliderValidator::onScroll)
wxEND_EVENT_TABLE()

SliderValidator::SliderValidator(const SliderValidator& other)
    : wxValidator(),
      partner_(other.partner_) {
    wxValidator::Copy(other);
}

SliderValidator::~SliderValidator() {
    if (partner_ && partner_->sliderPartner_ == this) partner_->sliderPartner_ = nullptr;
}

wxObject* SliderValidator::Clone() const {
    return new SliderValidator(*this);
}

bool SliderValidator::Validate(wxWindow*) {
    return true;
}

bool SliderValidator::TransferToWindow() {
    return true;
}

bool SliderValidator::TransferFromWindow() {
    return true;
}

void SliderValidator::onScroll(wxScrollEvent& event) {
    event.Skip();
    auto* slider = dynamic_cast<wxSlider*>(GetWindow());
    if (!slider || !partner_) return;
    const int position = slider->GetValue();
    wxEventType type = EVT_PARAM_CHANGED;
    if (event.GetEventType() == wxEVT_SCROLL_THUMBTRACK) {
        dragging_ = true;
        type = EVT_PARAM_CHANGED_LIVE;
    } else if (dragging_) {
        // The end of a drag is reported even where it started, so the window that followed the
        // live events hears that the drag is over.
        dragging_ = false;
        partner_->applySliderPosition(position, EVT_PARAM_CHANGED, 1);
        return;
    }
    // Compared with the value the parameter holds now, not with the slider's last event: typing
    // in the field, undo or a spring-back move the slider without a scroll event, and a move back
    // to the earlier position must still count.
    if (position == partner_->sliderPositionOfValue()) return;
    partner_->applySliderPosition(position, type, 0);
}

}  // namespace Mav::Host::Param
