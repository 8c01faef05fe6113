#include "app/fine_tune_frame.h"

#include <wx/dc.h>
#include <wx/dcclient.h>
#include <wx/slider.h>
#include <wx/tglbtn.h>

#include "app/floating_layouts.h"
#include "app/main_layout.h"
#include "app/main_window.h"
#include "app/vant_image_preview.h"
#include "host/param/param_binding.h"
#include "host/param/param_events.h"
#include "host/param/undo.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"
#include "plugin/vantrelo_wrapper.h"

using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGED_LIVE;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using Mav::Host::Param::ParamRecord;
using Mav::Host::Param::Parameters;

// ---- FineTuneViewer.

wxBEGIN_EVENT_TABLE(FineTuneViewer, wxWindow)
    EVT_PAINT(FineTuneViewer::onPaint)
    EVT_ERASE_BACKGROUND(FineTuneViewer::onEraseBackground)
wxEND_EVENT_TABLE()

FineTuneViewer::FineTuneViewer(wxWindow* parent, wxWindowID id, const wxSize& size, long style,
                               const wxString& name)
    : wxWindow(parent, id, wxDefaultPosition, size, style, name) {}

FineTuneViewer::Colours FineTuneViewer::swatchColours(const std::array<std::uint16_t, 4>& probe) {
    const int r8 = probe[0] / 256;
    const int g8 = probe[1] / 256;
    const int b8 = probe[2] / 256;
    const double h = probe[3] / 65535.0;
    const double l = 1.0 - h;
    // Every blend lies in 0..255 (h + l = 1), so the truncating conversions are defined.
    auto over = [&](double grey) {
        return wxColour(static_cast<unsigned char>(r8 * h + grey * l),
                        static_cast<unsigned char>(g8 * h + grey * l),
                        static_cast<unsigned char>(b8 * h + grey * l), 255);
    };
    return {over(128.0), over(192.0),
            wxColour(static_cast<unsigned char>(r8), static_cast<unsigned char>(g8),
                     static_cast<unsigned char>(b8), 255)};
}

void FineTuneViewer::refresh() { Refresh(true); }

void FineTuneViewer::drawSwatch(wxDC& dc) {
    const Colours colours = swatchColours(probe);
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            const wxColour& colour = (i + j) % 2 ? colours.dark : colours.light;
            dc.SetPen(wxPen(colour, 1, wxPENSTYLE_SOLID));
            dc.SetBrush(wxBrush(colour, wxBRUSHSTYLE_SOLID));
            dc.DrawRectangle(10 * i, 10 * j, 10, 10);
        }
    }
    const wxSize size = GetClientSize();
    dc.SetPen(wxPen(colours.opaque, 1, wxPENSTYLE_SOLID));
    dc.SetBrush(wxBrush(colours.opaque, wxBRUSHSTYLE_SOLID));
    dc.DrawRectangle(80, 0, size.x - 80, size.y);
}

void FineTuneViewer::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    drawSwatch(dc);
}

void FineTuneViewer::onEraseBackground(wxEraseEvent&) {}

// ---- FineTuneFrame.

wxBEGIN_EVENT_TABLE(FineTuneFrame, Mav::Host::Param::ParamSubFrame)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGING, FineTuneFrame::onParamChanging)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGED_LIVE, FineTuneFrame::onParamChangedLive)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGED, FineTuneFrame::onParamChanged)
    EVT_CLOSE(FineTuneFrame::onClose)
wxEND_EVENT_TABLE()

namespace {

ParamRecord sliderRecord(const char* name) {
    ParamRecord record(Mav::Host::Param::ParamFloat, name, 0, 0, 0);
    using namespace Mav::Host::Param;
    record.slots[SlotValue].setDouble(0.0);
    record.slots[SlotDefault].setDouble(0.0);
    for (ParamSlot low : {SlotSliderMin, SlotMin}) record.slots[low].setDouble(-100.0);
    for (ParamSlot high : {SlotSliderMax, SlotMax}) record.slots[high].setDouble(100.0);
    return record;
}

struct SliderRow {
    std::uint64_t index;
    int field;
    int slider;
};
// By kind (vantrelo::FineTuneKind).
constexpr SliderRow kRows[3] = {
    {FineTuneFrame::kRemoveSpillIndex, kFineTuneRemoveSpillTextId, kFineTuneRemoveSpillSliderId},
    {FineTuneFrame::kTransparencyIndex, kFineTuneTransparencyTextId,
     kFineTuneTransparencySliderId},
    {FineTuneFrame::kRestoreDetailsIndex, kFineTuneRestoreDetailsTextId,
     kFineTuneRestoreDetailsSliderId},
};

}  // namespace

FineTuneFrame::FineTuneFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size,
                             long style)
    : FloatingSettingsFrame(set, parent, id, title, pos, size, style,
                            &VantreloUIBase::fineTuneFrame),
      records_{sliderRecord("Remove Spill"), sliderRecord("Transparency"),
               sliderRecord("Restore Details")} {
    buildFineTuneLayout(this, true, true,
                        [](wxWindow* window, wxWindowID swatchId, const wxSize& swatchSize,
                           long swatchStyle, const wxString& name) -> wxWindow* {
                            return new FineTuneViewer(window, swatchId, swatchSize, swatchStyle,
                                                      name);
                        });
    for (int kind = 0; kind < 3; ++kind) {
        wxWindow* field = FindWindow(kRows[kind].field);
        auto* slider = dynamic_cast<wxSlider*>(FindWindow(kRows[kind].slider));
        if (field) Mav::Host::Param::bindParameter(&records_[kind], kRows[kind].index, field, slider);
    }
    swatch_ = dynamic_cast<FineTuneViewer*>(FindWindow(kFineTuneSwatchId));
    copyMainWindowAccelerators();

    if (auto* ui = dynamic_cast<VantreloUI*>(mainWindow()))
        currentImage_ = [ui] { return ui->host ? ui->host->currentInput() : 0; };
    else
        currentImage_ = [] { return std::uint64_t{0}; };
}

FineTuneFrame::~FineTuneFrame() = default;

int FineTuneFrame::kindOf(std::uint64_t index) {
    for (int kind = 0; kind < 3; ++kind)
        if (kRows[kind].index == index) return kind;
    return -1;
}

bool FineTuneFrame::pickedOnCurrentImage() const {
    return pickedImage_ && *pickedImage_ == currentImage_();
}

FineTuneAmounts FineTuneFrame::amounts() const {
    FineTuneAmounts a{};
    for (int kind = 0; kind < 3; ++kind)
        a[kind] = fineTuneAmount(records_[kind].value().getDouble());
    return a;
}

void FineTuneFrame::announceKeyData(wxEventType type) {
    VantreloUIBase* main = mainWindow();
    Parameters* set = parameters();
    if (!main || !set) return;
    Mav::Host::Param::beginChange(*set);
    Mav::Host::Param::endChangeGuard group(*set);
    for (std::size_t index : {vantrelo::kParamKeyData, vantrelo::kParamEdgeData,
                              vantrelo::kParamBodyData})
        Mav::Host::Param::sendParamEvent(main, type, index, nullptr, 0);
}

void FineTuneFrame::probeSwatch() {
    VantreloUIBase* main = mainWindow();
    if (!swatch_ || !main || !main->bridge) return;
    const vantrelo::Sample16 probed = main->bridge->probePixel();
    for (int c = 0; c < 4; ++c) swatch_->probe[c] = probed.rgba[c];
    swatch_->refresh();
}

void FineTuneFrame::resetOffsets() {
    offsets_.reset();
    pickedImage_ = currentImage_();
    probeSwatch();
}

void FineTuneFrame::springBack() {
    for (ParamRecord& record : records_) record.value().setDouble(0.0);
    TransferDataToWindow();
}

void FineTuneFrame::onParamChanging(wxCommandEvent& event) {
    if (kindOf(Mav::Host::Param::paramEventIndex(event)) < 0) {
        event.Skip();
        return;
    }
    if (!pickedOnCurrentImage()) return;
    // The main window records the three key-data texts, taken from the engine, in one step.
    announceKeyData(EVT_PARAM_CHANGING);
}

void FineTuneFrame::onParamChangedLive(wxCommandEvent& event) {
    if (kindOf(Mav::Host::Param::paramEventIndex(event)) < 0) {
        event.Skip();
        return;
    }
    VantreloUIBase* main = mainWindow();
    if (!pickedOnCurrentImage() || !main || !main->bridge) return;
    offsets_.apply(*main->bridge, amounts());
    probeSwatch();
    // The main window renders nothing for these: while a slider is dragged only the swatch follows.
    announceKeyData(EVT_PARAM_CHANGED_LIVE);
}

void FineTuneFrame::onParamChanged(wxCommandEvent& event) {
    if (kindOf(Mav::Host::Param::paramEventIndex(event)) < 0) {
        event.Skip();
        return;
    }
    VantreloUIBase* main = mainWindow();
    const bool acts = pickedOnCurrentImage() && main && main->bridge;
    const FineTuneAmounts released = amounts();
    if (acts) {
        offsets_.apply(*main->bridge, released);
        offsets_.accumulate(released);
    }
    springBack();
    if (!acts) return;
    probeSwatch();
    announceKeyData(EVT_PARAM_CHANGED);
}

void FineTuneFrame::onClose(wxCloseEvent& event) {
    if (VantreloUIBase* main = mainWindow()) {
        // Neither button sends an event, and the tool value is set without an undo record; the
        // preview takes its sample mode from the tool at the next stroke.
        if (main->fineTuneToolButton) main->fineTuneToolButton->SetValue(false);
        if (VantImagePreview* preview = main->previewPanel()) {
            preview->currentControl.value().setInt(kToolSelect);
            preview->updateCursor();
        }
        if (main->selectToolButton) main->selectToolButton->SetValue(true);
    }
    // No position is recorded: the fine tune window's position is kept at tool changes only.
    forgetInMainWindow();
    Destroy();
    event.Skip();
}
