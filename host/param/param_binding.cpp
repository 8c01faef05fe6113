#include "host/param/param_binding.h"

#include <wx/slider.h>
#include <wx/textctrl.h>

#include "host/param/param_validator.h"
#include "host/param/parameters.h"
#include "host/param/radio_validator.h"
#include "host/param/slider_validator.h"
#include "host/param/viewer_base.h"

namespace Mav::Host::Param {

void bindParameter(ParamRecord* record, std::uint64_t index, wxWindow* control, wxSlider* slider) {
    if (!control || !record) return;
    if (dynamic_cast<wxTextCtrl*>(control))
        control->SetWindowStyleFlag(control->GetWindowStyleFlag() | wxTE_PROCESS_ENTER);
    control->SetValidator(ParamValidator(record, index));
    if (!slider) return;
    slider->SetValidator(SliderValidator());
    auto* field = static_cast<ParamValidator*>(control->GetValidator());
    auto* partner = static_cast<SliderValidator*>(slider->GetValidator());
    field->setSliderPartner(partner);
    partner->setPartner(field);
}

void bindRadioGroup(ParamRecord* record, std::uint64_t index,
                    const std::vector<wxWindow*>& buttons) {
    if (!record) return;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i])
            buttons[i]->SetValidator(RadioValidator(record, index, static_cast<std::int32_t>(i)));
    }
    for (wxWindow* button : buttons) {
        if (!button) continue;
        auto* validator = static_cast<RadioValidator*>(button->GetValidator());
        for (wxWindow* other : buttons) {
            if (other && other != button) validator->group().push_back(other);
        }
    }
}

void bindRadioGroupByIndexList(Parameters& set, std::uint64_t index,
                               const std::vector<wxWindow*>& buttons) {
    if (index >= set.count()) return;
    bindRadioGroup(&set.record(index), index, buttons);
}

void bindSlider(ViewerBase& viewer, wxTextCtrl* field, wxSlider* slider) {
    viewer.zoomText = field;
    viewer.zoomSlider = slider;
    bindParameter(&viewer.zoomRecord, kZoomParamIndex, field, slider);
}

}  // namespace Mav::Host::Param
