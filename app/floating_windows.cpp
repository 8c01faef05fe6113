#include "app/floating_windows.h"

#include <wx/accel.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "app/floating_layouts.h"
#include "app/main_layout.h"
#include "app/main_window.h"
#include "host/param/param_binding.h"
#include "host/param/param_events.h"
#include "plugin/parameter_schema.h"

using Mav::Host::Param::Parameters;
using Mav::Host::Param::ParamSubFrame;

namespace {

template <class Control>
Control* child(wxWindow* window, int id) {
    return dynamic_cast<Control*>(window->FindWindow(id));
}

// The set when it holds the keyer's parameters; the windows bind nothing to any other set.
Parameters* keyerSet(Parameters* set) {
    return set && set->count() >= vantrelo::kKeyerParamCount ? set : nullptr;
}

void bindField(Parameters* set, std::size_t index, wxWindow* window, int fieldId,
               int sliderId = 0) {
    wxWindow* field = window->FindWindow(fieldId);
    if (!set || !field) return;
    Mav::Host::Param::bindParameter(&set->record(index), index, field,
                                    sliderId ? child<wxSlider>(window, sliderId) : nullptr);
}

void enableAll(bool enable, std::initializer_list<wxWindow*> controls) {
    for (wxWindow* control : controls)
        if (control) control->Enable(enable);
}

}  // namespace

// ---- FloatingSettingsFrame.

FloatingSettingsFrame::FloatingSettingsFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                             const wxString& title, const wxPoint& pos,
                                             const wxSize& size, long style, Slot slot)
    : ParamSubFrame(set, parent, id, title, pos, size, style),
      main_(dynamic_cast<VantreloUIBase*>(parent)),
      slot_(slot) {}

FloatingSettingsFrame::~FloatingSettingsFrame() { forgetInMainWindow(); }

void FloatingSettingsFrame::routeParamEventsToMainWindow() {
    if (!main_) return;
    Bind(Mav::Host::Param::EVT_PARAM_CHANGING, &VantreloUIBase::onParamChanging, main_);
    Bind(Mav::Host::Param::EVT_PARAM_CHANGED, &VantreloUIBase::onParamChanged, main_);
}

void FloatingSettingsFrame::copyMainWindowAccelerators() {
    wxWindow* parent = GetParent();
    if (!parent) return;
    if (const wxAcceleratorTable* table = parent->GetAcceleratorTable(); table && table->IsOk())
        SetAcceleratorTable(*table);
}

void FloatingSettingsFrame::forgetInMainWindow() {
    if (main_ && slot_ && main_->*slot_ == this) main_->*slot_ = nullptr;
}

void FloatingSettingsFrame::closeFromCloseBox(wxCloseEvent& event, int toggleId) {
    if (main_) {
        // SetValue sends no toggle event, so the main window's toggle handler stays out of it.
        if (auto* toggle = child<wxToggleButtonBase>(main_, toggleId)) toggle->SetValue(false);
        main_->saveSubFramePositions(false);
    }
    forgetInMainWindow();
    Destroy();
    event.Skip();
}

// ---- AutoMaskFrame.

wxBEGIN_EVENT_TABLE(AutoMaskFrame, ParamSubFrame)
    EVT_CLOSE(AutoMaskFrame::onClose)
wxEND_EVENT_TABLE()

AutoMaskFrame::AutoMaskFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size,
                             long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::autoMaskFrame) {
    using namespace vantrelo;
    buildAutoMaskLayout(this, true, true);
    Parameters* keyer = keyerSet(set);
    bindField(keyer, kParamAutoMaskRadius, this, kAutoMaskRadiusTextId, kAutoMaskRadiusSliderId);
    bindField(keyer, kParamEnableAutoMask, this, kAutoMaskAlwaysOnId);
    bindField(keyer, kParamAutoMaskEaseBleach, this, kAutoMaskSpillTextId, kAutoMaskSpillSliderId);
    bindField(keyer, kParamAutoMaskColorCorrection, this, kAutoMaskColourTextId,
              kAutoMaskColourSliderId);
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

void AutoMaskFrame::onClose(wxCloseEvent& event) { closeFromCloseBox(event, kAutoMaskToggleId); }

// ---- LightWrapFrame.

wxBEGIN_EVENT_TABLE(LightWrapFrame, ParamSubFrame)
    EVT_CLOSE(LightWrapFrame::onClose)
wxEND_EVENT_TABLE()

LightWrapFrame::LightWrapFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                               const wxString& title, const wxPoint& pos, const wxSize& size,
                               long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::lightWrapFrame) {
    using namespace vantrelo;
    buildLightWrapLayout(this, true, true);
    Parameters* keyer = keyerSet(set);
    bindField(keyer, kParamLightWrapRadius, this, kLightWrapRadiusTextId,
              kLightWrapRadiusSliderId);
    bindField(keyer, kParamLightWrapBrightness, this, kLightWrapBrightnessTextId,
              kLightWrapBrightnessSliderId);
    bindField(keyer, kParamLightWrapBlendMode, this, kLightWrapBlendChoiceId);
    radiusCaption_ = child<wxStaticText>(this, kLightWrapRadiusCaptionId);
    radiusText_ = child<wxTextCtrl>(this, kLightWrapRadiusTextId);
    radiusSlider_ = child<wxSlider>(this, kLightWrapRadiusSliderId);
    brightnessCaption_ = child<wxStaticText>(this, kLightWrapBrightnessCaptionId);
    brightnessText_ = child<wxTextCtrl>(this, kLightWrapBrightnessTextId);
    brightnessSlider_ = child<wxSlider>(this, kLightWrapBrightnessSliderId);
    blendCaption_ = child<wxStaticText>(this, kLightWrapBlendCaptionId);
    blendChoice_ = child<wxChoice>(this, kLightWrapBlendChoiceId);
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

void LightWrapFrame::updateEnables() {
    Parameters* set = keyerSet(parameters());
    if (!set) return;
    enableAll(set->getBool(vantrelo::kParamEnableLightWrap),
              {radiusCaption_, radiusText_, radiusSlider_, brightnessCaption_, brightnessText_,
               brightnessSlider_, blendCaption_, blendChoice_});
}

void LightWrapFrame::onClose(wxCloseEvent& event) { closeFromCloseBox(event, kLightWrapToggleId); }

// ---- RemoveNoiseFrame.

wxBEGIN_EVENT_TABLE(RemoveNoiseFrame, ParamSubFrame)
    EVT_CLOSE(RemoveNoiseFrame::onClose)
wxEND_EVENT_TABLE()

RemoveNoiseFrame::RemoveNoiseFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                   const wxString& title, const wxPoint& pos, const wxSize& size,
                                   long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::removeNoiseFrame) {
    using namespace vantrelo;
    buildRemoveNoiseLayout(this, true, true);
    if (Parameters* keyer = keyerSet(set)) {
        bindField(keyer, kParamGrainTolerance, this, kToleranceTextId, kToleranceSliderId);
        Mav::Host::Param::bindRadioGroupByIndex(
            *keyer, kParamGrainType, FindWindow(kGrainOffId), FindWindow(kGrainSmallId),
            FindWindow(kGrainMediumId), FindWindow(kGrainLargeId), nullptr);
    }
    toleranceCaption_ = child<wxStaticText>(this, kToleranceCaptionId);
    toleranceText_ = child<wxTextCtrl>(this, kToleranceTextId);
    toleranceSlider_ = child<wxSlider>(this, kToleranceSliderId);
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

void RemoveNoiseFrame::updateEnables() {
    Parameters* set = keyerSet(parameters());
    if (!set) return;
    // The grain buttons stay usable: they are how the row gets enabled.
    enableAll(set->getInt(vantrelo::kParamGrainType) != vantrelo::kNoGrain,
              {toleranceCaption_, toleranceText_, toleranceSlider_});
}

void RemoveNoiseFrame::onClose(wxCloseEvent& event) {
    closeFromCloseBox(event, kRemoveNoiseToggleId);
}

// ---- SoftenMatteFrame.

wxBEGIN_EVENT_TABLE(SoftenMatteFrame, ParamSubFrame)
    EVT_CLOSE(SoftenMatteFrame::onClose)
wxEND_EVENT_TABLE()

SoftenMatteFrame::SoftenMatteFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                   const wxString& title, const wxPoint& pos, const wxSize& size,
                                   long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::softenMatteFrame) {
    using namespace vantrelo;
    buildSoftenMatteLayout(this, true, true);
    Parameters* keyer = keyerSet(set);
    bindField(keyer, kParamSoftenMatte, this, kSoftenTextId, kSoftenSliderId);
    bindField(keyer, kParamShrinkMatte, this, kShrinkTextId, kShrinkSliderId);
    bindField(keyer, kParamBlurInward, this, kInOnlyId);
    softenCaption_ = child<wxStaticText>(this, kSoftenCaptionId);
    softenText_ = child<wxTextCtrl>(this, kSoftenTextId);
    softenSlider_ = child<wxSlider>(this, kSoftenSliderId);
    shrinkCaption_ = child<wxStaticText>(this, kShrinkCaptionId);
    shrinkText_ = child<wxTextCtrl>(this, kShrinkTextId);
    shrinkSlider_ = child<wxSlider>(this, kShrinkSliderId);
    inOnly_ = child<wxCheckBox>(this, kInOnlyId);
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

void SoftenMatteFrame::updateEnables() {
    Parameters* set = keyerSet(parameters());
    if (!set) return;
    enableAll(set->getBool(vantrelo::kParamEnableSoftenMatte),
              {softenCaption_, softenText_, softenSlider_, shrinkCaption_, shrinkText_,
               shrinkSlider_, inOnly_});
}

void SoftenMatteFrame::onClose(wxCloseEvent& event) {
    closeFromCloseBox(event, kMatteSettingsToggleId);
}
