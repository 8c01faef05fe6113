// The main window's side of the floating settings windows and of the fine tune window: the toggles
// and the tool button that open them, the hooks the parameter and sample handlers call, their
// values after undo, redo and the like, and their end before the main window's.

#include "app/main_window.h"

#include <wx/intl.h>
#include <wx/tglbtn.h>

#include "app/fine_tune_frame.h"
#include "app/floating_windows.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"
#include "plugin/vantrelo_wrapper.h"

using Mav::Host::Param::Parameters;
using Mav::Host::Param::ParamSubFrame;

namespace {

// The toggle handler that the four settings windows share.  The event carries the toggle's new
// state.
template <class Frame>
void toggleFloatingWindow(VantreloUIBase& window, wxCommandEvent& event, ParamSubFrame*& pointer,
                          const wxString& title, std::size_t positionIndex) {
    Parameters* set = window.parameters();
    const bool pressed = event.IsChecked();
    if (pressed && !pointer && set) {
        pointer = new Frame(set, &window, wxID_ANY, title, wxDefaultPosition, wxDefaultSize,
                            kFloatingWindowStyle);
        window.placeSubFrame(pointer, wxString::FromUTF8(set->getString(positionIndex)));
    } else if (!pressed && pointer) {
        window.saveSubFramePositions(false);
        ParamSubFrame* closing = pointer;
        pointer = nullptr;
        closing->Destroy();
    }
    // Showing transfers every value to its control and runs one update pass first, so the
    // enabling rule holds from the first frame.
    if (pointer && pressed) pointer->Show(true);
}

}  // namespace

void VantreloUIBase::onAutoMaskToggle(wxCommandEvent& event) {
    toggleFloatingWindow<AutoMaskFrame>(*this, event, autoMaskFrame, _("Auto Mask"),
                                        vantrelo::kParamAutoMaskWindow);
}

void VantreloUIBase::onLightWrapToggle(wxCommandEvent& event) {
    toggleFloatingWindow<LightWrapFrame>(*this, event, lightWrapFrame, _("Light Wrap"),
                                         vantrelo::kParamLightWrapWindow);
}

void VantreloUIBase::onRemoveNoiseToggle(wxCommandEvent& event) {
    toggleFloatingWindow<RemoveNoiseFrame>(*this, event, removeNoiseFrame, _("Remove Noise"),
                                           vantrelo::kParamRemoveGrainWindow);
}

void VantreloUIBase::onSoftenMatteToggle(wxCommandEvent& event) {
    toggleFloatingWindow<SoftenMatteFrame>(*this, event, softenMatteFrame, _("Soften Matte"),
                                           vantrelo::kParamSoftenMatteWindow);
}

void VantreloUIBase::onFineTuneTool(wxCommandEvent& event) {
    if (bridge) bridge->sampleMode = vantrelo::SampleFineTunePick;
    Parameters* set = parameters();
    if (!fineTuneFrame && set) {
        fineTuneFrame = new FineTuneFrame(set, this, wxID_ANY, _("Fine Tune"), wxDefaultPosition,
                                          wxDefaultSize, kFloatingWindowStyle);
        placeSubFrame(fineTuneFrame,
                      wxString::FromUTF8(set->getString(vantrelo::kParamFineTuneWindow)));
    }
    if (fineTuneFrame) fineTuneFrame->Show(true);
    // The tool group's binding stores tool 13 and announces it; this window then keeps the fine
    // tune window open.
    event.Skip();
}

void VantreloUIBase::refreshFineTuneSwatch() {
    if (auto* frame = dynamic_cast<FineTuneFrame*>(fineTuneFrame); frame && frame->swatch())
        frame->swatch()->refresh();
}

void VantreloUIBase::resetFineTuneOffsets() {
    if (auto* frame = dynamic_cast<FineTuneFrame*>(fineTuneFrame)) frame->resetOffsets();
}

std::uint64_t VantreloUIBase::shownImage() const {
    const auto* ui = dynamic_cast<const VantreloUI*>(this);
    return ui && ui->host ? ui->host->currentInput() : 0;
}

bool VantreloUIBase::autoMaskSettingRedetects(std::uint64_t index) const {
    using namespace vantrelo;
    const bool setting = index == kParamAutoMaskRadius || index == kParamAutoMaskEaseBleach ||
                         index == kParamAutoMaskColorCorrection;
    return setting && bridge && autoMaskFollowsSettings_.count(shownImage()) != 0;
}

void VantreloUIBase::followAutoMaskSettings(bool follow) {
    if (follow)
        autoMaskFollowsSettings_.insert(shownImage());
    else
        autoMaskFollowsSettings_.erase(shownImage());
}

bool VantreloUIBase::TransferDataToWindow() {
    const bool transferred = ParamFrame::TransferDataToWindow();
    // The toolkit's transfer stops at top-level windows: an open floating window would otherwise
    // keep showing, and commit on losing the focus, a value that undo, redo, revert or a reset has
    // replaced.
    for (ParamSubFrame* frame :
         {autoMaskFrame, fineTuneFrame, lightWrapFrame, removeNoiseFrame, softenMatteFrame}) {
        if (frame) frame->TransferDataToWindow();
    }
    return transferred;
}

void VantreloUIBase::destroyFloatingWindows() {
    for (ParamSubFrame** pointer :
         {&autoMaskFrame, &fineTuneFrame, &lightWrapFrame, &removeNoiseFrame, &softenMatteFrame}) {
        // Forgotten first: the window's destructor then finds no pointer of this window to clear,
        // whenever the toolkit gets to it.
        ParamSubFrame* frame = *pointer;
        *pointer = nullptr;
        if (frame) frame->Destroy();
    }
}
