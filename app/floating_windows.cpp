#include "app/floating_windows.h"

#include <wx/accel.h>
#include <wx/slider.h>
#include <wx/tglbtn.h>

#include <utility>

#include "app/floating_layouts.h"
#include "app/main_layout.h"
#include "app/main_window.h"
#include "host/param/param_binding.h"
#include "host/param/param_events.h"
#include "plugin/parameter_schema.h"

using Mav::Host::Param::Parameters;

// ---- FloatingSettingsFrame.

FloatingSettingsFrame::FloatingSettingsFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                             const wxString& title, const wxPoint& pos,
                                             const wxSize& size, long style, Slot slot,
                                             int toggleId)
    : ParamSubFrame(set, parent, id, title, pos, size, style),
      main_(dynamic_cast<VantreloUIBase*>(parent)),
      slot_(slot),
      toggleId_(toggleId) {
    // Bound, not in a table: the fine tune window has a close box of its own and no toggle.
    if (toggleId_) Bind(wxEVT_CLOSE_WINDOW, &FloatingSettingsFrame::closeFromCloseBox, this);
}

FloatingSettingsFrame::~FloatingSettingsFrame() { forgetInMainWindow(); }

Parameters* FloatingSettingsFrame::keyerParameters() const {
    Parameters* set = parameters();
    return set && set->count() >= vantrelo::kKeyerParamCount ? set : nullptr;
}

void FloatingSettingsFrame::bindField(std::size_t index, int fieldId, int sliderId) {
    Parameters* set = keyerParameters();
    wxWindow* field = FindWindow(fieldId);
    if (!set || !field) return;
    auto* slider = sliderId ? dynamic_cast<wxSlider*>(FindWindow(sliderId)) : nullptr;
    Mav::Host::Param::bindParameter(&set->record(index), index, field, slider);
}

void FloatingSettingsFrame::setEnablingRule(EnablingRule rule, std::vector<int> ids) {
    rule_ = std::move(rule);
    ruled_ = std::move(ids);
}

void FloatingSettingsFrame::updateEnables() {
    const Parameters* set = keyerParameters();
    if (!set || !rule_) return;
    const bool enable = rule_(*set);
    for (int id : ruled_)
        if (wxWindow* control = FindWindow(id)) control->Enable(enable);
}

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

void FloatingSettingsFrame::closeFromCloseBox(wxCloseEvent& event) {
    if (main_) {
        // SetValue sends no toggle event, so the main window's toggle handler stays out of it.
        if (auto* toggle = dynamic_cast<wxToggleButtonBase*>(main_->FindWindow(toggleId_)))
            toggle->SetValue(false);
        main_->saveSubFramePositions(false);
    }
    forgetInMainWindow();
    Destroy();
    event.Skip();
}

// ---- The four settings windows.

AutoMaskFrame::AutoMaskFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size,
                             long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::autoMaskFrame, kAutoMaskToggleId) {
    using namespace vantrelo;
    buildAutoMaskLayout(this, true, true);
    bindField(kParamAutoMaskRadius, kAutoMaskRadiusTextId, kAutoMaskRadiusSliderId);
    bindField(kParamEnableAutoMask, kAutoMaskAlwaysOnId);
    bindField(kParamAutoMaskEaseBleach, kAutoMaskSpillTextId, kAutoMaskSpillSliderId);
    bindField(kParamAutoMaskColorCorrection, kAutoMaskColourTextId, kAutoMaskColourSliderId);
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

LightWrapFrame::LightWrapFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                               const wxString& title, const wxPoint& pos, const wxSize& size,
                               long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::lightWrapFrame, kLightWrapToggleId) {
    using namespace vantrelo;
    buildLightWrapLayout(this, true, true);
    bindField(kParamLightWrapRadius, kLightWrapRadiusTextId, kLightWrapRadiusSliderId);
    bindField(kParamLightWrapBrightness, kLightWrapBrightnessTextId,
              kLightWrapBrightnessSliderId);
    bindField(kParamLightWrapBlendMode, kLightWrapBlendChoiceId);
    setEnablingRule([](const Parameters& keyer) { return keyer.getBool(kParamEnableLightWrap); },
                    {kLightWrapRadiusCaptionId, kLightWrapRadiusTextId, kLightWrapRadiusSliderId,
                     kLightWrapBrightnessCaptionId, kLightWrapBrightnessTextId,
                     kLightWrapBrightnessSliderId, kLightWrapBlendCaptionId,
                     kLightWrapBlendChoiceId});
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

RemoveNoiseFrame::RemoveNoiseFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                   const wxString& title, const wxPoint& pos, const wxSize& size,
                                   long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::removeNoiseFrame, kRemoveNoiseToggleId) {
    using namespace vantrelo;
    buildRemoveNoiseLayout(this, true, true);
    bindField(kParamGrainTolerance, kToleranceTextId, kToleranceSliderId);
    if (Parameters* keyer = keyerParameters())
        Mav::Host::Param::bindRadioGroupByIndex(
            *keyer, kParamGrainType, FindWindow(kGrainOffId), FindWindow(kGrainSmallId),
            FindWindow(kGrainMediumId), FindWindow(kGrainLargeId), nullptr);
    // The grain buttons stay usable: they are how the row gets enabled.
    setEnablingRule(
        [](const Parameters& keyer) { return keyer.getInt(kParamGrainType) != kNoGrain; },
        {kToleranceCaptionId, kToleranceTextId, kToleranceSliderId});
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}

SoftenMatteFrame::SoftenMatteFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                                   const wxString& title, const wxPoint& pos, const wxSize& size,
                                   long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::softenMatteFrame, kMatteSettingsToggleId) {
    using namespace vantrelo;
    buildSoftenMatteLayout(this, true, true);
    bindField(kParamSoftenMatte, kSoftenTextId, kSoftenSliderId);
    bindField(kParamShrinkMatte, kShrinkTextId, kShrinkSliderId);
    bindField(kParamBlurInward, kInOnlyId);
    setEnablingRule([](const Parameters& keyer) { return keyer.getBool(kParamEnableSoftenMatte); },
                    {kSoftenCaptionId, kSoftenTextId, kSoftenSliderId, kShrinkCaptionId,
                     kShrinkTextId, kShrinkSliderId, kInOnlyId});
    routeParamEventsToMainWindow();
    copyMainWindowAccelerators();
}
