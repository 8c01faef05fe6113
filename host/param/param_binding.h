#pragma once
// Binding controls to parameters.  A window's build function creates each control and binds it
// here in the same place, so the layout and the bindings are one list.
//
//   bindParameter(record, index, control, slider)   a control, and optionally the slider beside a
//                                                    number field;
//   bindRadioGroup(record, index, buttons)           toggle buttons that stand for the values 0,
//                                                    1, 2, ... in list order;
//   bindRadioGroupByRecord(record, index, b0, b1, ..., nullptr) and
//   bindRadioGroupByIndex(set, index, b0, b1, ..., nullptr)
//                                                    the same with the buttons as arguments, the
//                                                    null closing the list;
//   bindSlider(viewer, field, slider)                the viewer's zoom field and slider.
//
// The toolkit keeps its own copy of each validator; the links between validators are made between
// those attached copies.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/param/param_record.h"

class wxSlider;
class wxTextCtrl;
class wxWindow;

namespace Mav::Host::Param {

class Parameters;
class ViewerBase;

// Attaches a ParamValidator(record, index) to `control`; a text field first gets the style that
// makes Enter commit (wxTE_PROCESS_ENTER).  With a slider, attaches a SliderValidator to it and
// links the two, which gives the slider the record's range (slots 2..3; in slider steps for
// ParamFloat).  Nothing happens without a control or a record.
void bindParameter(ParamRecord* record, std::uint64_t index, wxWindow* control,
                   wxSlider* slider = nullptr);

// Attaches RadioValidator(record, index, i) to the button at list position i and gives each the
// other buttons as its group.  Empty entries hold a value without a button: a list that starts
// with an empty entry starts its buttons at value 1.
void bindRadioGroup(ParamRecord* record, std::uint64_t index,
                    const std::vector<wxWindow*>& buttons);

// The argument-list forms: the buttons up to the first null.
template <class... Buttons>
void bindRadioGroupByRecord(ParamRecord* record, std::uint64_t index, Buttons... buttons) {
    std::vector<wxWindow*> list;
    for (wxWindow* button : std::initializer_list<wxWindow*>{buttons...}) {
        if (!button) break;
        list.push_back(button);
    }
    bindRadioGroup(record, index, list);
}

void bindRadioGroupByIndexList(Parameters& set, std::uint64_t index,
                               const std::vector<wxWindow*>& buttons);

template <class... Buttons>
void bindRadioGroupByIndex(Parameters& set, std::uint64_t index, Buttons... buttons) {
    std::vector<wxWindow*> list;
    for (wxWindow* button : std::initializer_list<wxWindow*>{buttons...}) {
        if (!button) break;
        list.push_back(button);
    }
    bindRadioGroupByIndexList(set, index, list);
}

// Remembers the field and the slider in the viewer and binds the viewer's own zoom record to them
// under kZoomParamIndex (1000000), an index outside every parameter set.
void bindSlider(ViewerBase& viewer, wxTextCtrl* field, wxSlider* slider = nullptr);

}  // namespace Mav::Host::Param
