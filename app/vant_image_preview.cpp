#include "app/vant_image_preview.h"

#include <wx/event.h>
#include <wx/window.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "engine/keying/numeric.h"
#include "host/param/param_events.h"
#include "host/param/undo.h"
#include "host/param/viewer_base.h"
#include "host/system/rect.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_wrapper.h"

using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGED_LIVE;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using Mav::Host::Param::ParamRecord;
using Mav::Host::Param::Parameters;
using vantrelo::Matrix3;

wxDEFINE_EVENT(EVT_PREVIEW_SAMPLE, wxCommandEvent);

wxBEGIN_EVENT_TABLE(VantImagePreview, Mav::Host::Param::ViewerPanel)
    EVT_KEY_DOWN(VantImagePreview::onToolKeyDown)
    EVT_KEY_UP(VantImagePreview::onToolKeyUp)
    EVT_LEFT_DOWN(VantImagePreview::onToolLeftDown)
    // GTK turns the second of two quick presses into a double click and sends no press for it;
    // it starts a stroke like any press.
    EVT_LEFT_DCLICK(VantImagePreview::onToolLeftDown)
    EVT_LEFT_UP(VantImagePreview::onToolLeftUp)
    EVT_MOTION(VantImagePreview::onToolMotion)
    EVT_MOUSE_CAPTURE_LOST(VantImagePreview::onToolCaptureLost)
wxEND_EVENT_TABLE()

namespace {

// The layer parameters the three transform targets change, in announcement order.
constexpr std::size_t kTargetParams[3] = {vantrelo::kParamBackdropTransform,
                                          vantrelo::kParamForegroundTransform,
                                          vantrelo::kParamOverlayTransform};

ParamRecord makePopup(const char* name, std::initializer_list<const char*> labels) {
    ParamRecord r(Mav::Host::Param::ParamPopup, name, 0, 0, Mav::Host::Param::ParamNoRender);
    for (const char* label : labels) {
        r.choiceCodes.push_back(0);
        r.choiceLabels.emplace_back(label);
    }
    const auto last = static_cast<std::int32_t>(labels.size()) - 1;
    r.slots[Mav::Host::Param::SlotSliderMax].setInt(last);
    r.slots[Mav::Host::Param::SlotMax].setInt(last);
    return r;
}

ParamRecord makeSwitch(const char* name) {
    ParamRecord r(Mav::Host::Param::ParamBool, name, 0, 0, Mav::Host::Param::ParamNoRender);
    r.slots[Mav::Host::Param::SlotSliderMax].setInt(1);
    r.slots[Mav::Host::Param::SlotMax].setInt(1);
    return r;
}

// The receivers of one handler's announcements record them as one undo step.
class ChangeGroup {
public:
    explicit ChangeGroup(Parameters* set) : set_(set) {
        if (set_) Mav::Host::Param::beginChange(*set_);
    }
    ~ChangeGroup() {
        if (set_) Mav::Host::Param::endChange(*set_);
    }
    ChangeGroup(const ChangeGroup&) = delete;
    ChangeGroup& operator=(const ChangeGroup&) = delete;

private:
    Parameters* set_;
};

}  // namespace

int sampleModeOfTool(std::int32_t tool) {
    switch (tool) {
        case kToolSelect: return vantrelo::SampleSelect;
        case kToolCleanBg: return vantrelo::SampleCleanBg;
        case kToolCleanFg: return vantrelo::SampleCleanFg;
        case kToolSpillMinus: return vantrelo::SampleSpillMinus;
        case kToolSpillSponge: return vantrelo::SampleSpillSponge;
        case kToolRestoreDetail: return vantrelo::SampleRestoreDetail;
        case kToolMakeTrans: return vantrelo::SampleMakeTrans;
        case kToolMatteSponge: return vantrelo::SampleMatteSponge;
        case kToolFineTunePick: return vantrelo::SampleFineTunePick;
        default: return -1;
    }
}

VantImagePreview::VantImagePreview(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                   const wxSize& size, long style, const wxString& name)
    : currentControl(makePopup("Current Control",
                               {"select", "cleanBG", "cleanFG", "spillMinus", "spillSponge",
                                "restoreDetail", "makeTrans", "matteSponge", "pan", "zoom",
                                "fineTune"})),
      selectionControl(makePopup("Selection Control", {"point", "box"})),
      transformBackdrop(makeSwitch("Transform Backdrop")),
      transformSubject(makeSwitch("Transform Subject")),
      transformOverlay(makeSwitch("Transform Overlay")) {
    Create(parent, id, pos, size, style, name);
    SetCursor(Mav::Host::Param::makeToolCursor());
}

VantImagePreview::~VantImagePreview() = default;

bool VantImagePreview::isSamplingTool() const {
    const std::int32_t t = tool();
    return t < kToolMoveLayers || t > kToolZoomView;
}

bool VantImagePreview::anyTarget() const {
    return transformBackdrop.value().getBool() || transformSubject.value().getBool() ||
           transformOverlay.value().getBool();
}

bool VantImagePreview::isHandGesture() const {
    switch (tool()) {
        case kToolMoveLayers: return anyTarget();
        case kToolPanView: return true;
        default: return spaceHeld;
    }
}

void VantImagePreview::updateCursor() {
    if (HasCapture()) return;
    SetCursor(isHandGesture() ? Mav::Host::Param::makeOpenHandCursor()
                              : Mav::Host::Param::makeToolCursor());
}

VantImagePreview::Point VantImagePreview::panOffset() const {
    if (!viewer) return {};
    const double s = viewer->useContentScale ? viewer->contentScale() : 1.0;
    return {Mav::Host::System::truncateToInt32(viewer->panX / s),
            Mav::Host::System::truncateToInt32(viewer->panY / s)};
}

VantImagePreview::Point VantImagePreview::imageOrigin() const {
    if (!viewer) return {};
    const Point o = panOffset();
    return {vantrelo::saturateToInt32(std::int64_t{viewer->originX} + o.x),
            vantrelo::saturateToInt32(std::int64_t{viewer->originY} + o.y)};
}

// ---- Events out.

void VantImagePreview::sendSample(std::int32_t phase, const std::uint16_t colour[4], bool valid,
                                  const std::uint16_t* block, std::int64_t width,
                                  std::int64_t height) {
    PreviewSample sample;
    for (int c = 0; c < 4; ++c) sample.colour[c] = colour ? colour[c] : 0;
    sample.phase = phase;
    sample.valid = valid;
    sample.block = block;
    sample.blockWidth = block ? width : 0;
    sample.blockHeight = block ? height : 0;
    // As sendParamEvent builds a parameter event (index 0, extra 0), with the sample as client
    // data; processed at once and passed up to the main window.
    wxCommandEvent event(EVT_PREVIEW_SAMPLE, 0);
    event.SetEventObject(this);
    event.SetExtraLong(0);
    event.SetInt(0);
    event.SetClientData(&sample);
    GetEventHandler()->ProcessEvent(event);
}

void VantImagePreview::announceTargets(wxEventType type) {
    const bool selected[3] = {transformBackdrop.value().getBool(),
                              transformSubject.value().getBool(),
                              transformOverlay.value().getBool()};
    ChangeGroup group(viewer ? viewer->views[0].params : nullptr);
    for (int k = 0; k < 3; ++k)
        if (selected[k])
            Mav::Host::Param::sendParamEvent(this, type, kTargetParams[k], nullptr, 0);
}

// ---- Keys.

void VantImagePreview::onToolKeyDown(wxKeyEvent& event) {
    if (!viewer) return;
    if (event.GetKeyCode() != WXK_SPACE) {
        event.Skip();
        return;
    }
    spaceHeld = true;
    updateCursor();
}

void VantImagePreview::onToolKeyUp(wxKeyEvent& event) {
    if (!viewer) return;
    if (event.GetKeyCode() != WXK_SPACE) {
        event.Skip();
        return;
    }
    spaceHeld = false;
    updateCursor();
}

// ---- Press.

void VantImagePreview::onToolLeftDown(wxMouseEvent& event) {
    if (!viewer) return;
    SetFocus();
    const int x = event.GetX();
    const int y = event.GetY();
    pointerDown = {x, y};
    if (bridge) {
        startMatrices[0] = bridge->backdropTransform;
        startMatrices[1] = bridge->foregroundTransform;
        startMatrices[2] = bridge->overlayTransform;
    }
    zoomAtPress = viewer->zoom;
    const Point o = panOffset();
    dragStartX = x - o.x;
    dragStartY = y - o.y;
    const Point corner = imageOrigin();

    stroke_ = Stroke::None;
    layerChange_ = false;
    // A press with the space bar held, or with the pan tool, pans until it is released: it is
    // no stroke, whatever the space bar does meanwhile.
    panPress_ = spaceHeld || tool() == kToolPanView;

    if (isHandGesture()) {
        SetCursor(Mav::Host::Param::makeClosedHandCursor());
    } else {
        const int mode = sampleModeOfTool(tool());
        if (mode >= 0 && bridge) bridge->sampleMode = mode;
        if (isSamplingTool()) {
            const Point p{x - corner.x, y - corner.y};
            if (selection() == kSelectPoint) {
                stroke_ = Stroke::Points;
                strokePoints.clear();
                strokePoints.push_back(p);
                std::uint16_t colour[4];
                const bool valid = sampleAt(x, y, colour);
                sendSample(0, colour, valid);
            } else if (selection() == kSelectBox) {
                stroke_ = Stroke::Box;
                boxCorners[0] = p;
                boxCorners[1] = p;
            }
        }
    }

    const std::int32_t t = tool();
    if (!panPress_ && t >= kToolMoveLayers && t <= kToolScaleLayers) {
        layerChange_ = true;
        announceTargets(EVT_PARAM_CHANGING);
    }

    dragging = true;
    if (!HasCapture()) CaptureMouse();
}

// ---- Motion.

bool VantImagePreview::shiftOnly(const wxMouseEvent& event) const {
    return event.GetModifiers() == wxMOD_SHIFT;
}

void VantImagePreview::onToolMotion(wxMouseEvent& event) {
    if (!viewer) return;
    SetFocus();
    if (!isDragEvent(event)) {
        event.Skip();
        return;
    }
    const int x = event.GetX();
    const int y = event.GetY();
    if (panPress_ || spaceHeld || tool() == kToolPanView) {
        viewer->setPanOffset(x - dragStartX, y - dragStartY);
        return;
    }

    const std::int32_t t = tool();
    if (t >= kToolMoveLayers && t <= kToolScaleLayers) {
        if (layerChange_) dragLayers(event);
        return;
    }
    if (t == kToolZoomView) {
        ChangeGroup group(viewer->views[0].params);
        dragZoom(x);
        return;
    }

    ChangeGroup group(viewer->views[0].params);
    const Point corner = imageOrigin();
    const Point p{x - corner.x, y - corner.y};
    if (stroke_ == Stroke::Points) {
        strokePoints.push_back(p);
        std::uint16_t colour[4];
        const bool valid = sampleAt(x, y, colour);
        sendSample(1, colour, valid);
        Refresh(true);
    } else if (stroke_ == Stroke::Box) {
        boxCorners[1] = p;
        Refresh(true);
    }
}

void VantImagePreview::dragZoom(int x) {
    // One step per 40 pixels: right zooms out, left zooms in.
    const int k = (x - pointerDown.x) / 40;
    const float factor = k > 0 ? std::pow(0.9f, static_cast<float>(k))
                               : std::pow(1.1111112f, static_cast<float>(-k));
    viewer->setZoom(factor * zoomAtPress);
}

void VantImagePreview::dragLayers(const wxMouseEvent& event) {
    const int x = event.GetX();
    const int y = event.GetY();
    const int x0 = pointerDown.x;
    const int y0 = pointerDown.y;
    const bool shift = shiftOnly(event);
    Matrix3 delta;
    switch (tool()) {
        case kToolMoveLayers: {
            // The matrices work in full-resolution pixels; the pointer moves in zoomed ones.
            const float zoom = viewer->zoom;
            float dx = static_cast<float>(x - x0) / zoom;
            float dy = static_cast<float>(y - y0) / zoom;
            if (shift) {
                if (std::abs(dx) > std::abs(dy))
                    dy = 0.0f;
                else
                    dx = 0.0f;
            }
            delta.at(0, 2) = dx;
            delta.at(1, 2) = dy;
            break;
        }
        case kToolRotateLayers:
        case kToolScaleLayers: {
            const Point o = imageOrigin();
            const auto halfWidth = static_cast<std::int64_t>(scaledWidth() / 2);
            const auto halfHeight = static_cast<std::int64_t>(scaledHeight() / 2);
            const std::int64_t cx = std::int64_t{o.x} + halfWidth;
            const std::int64_t cy = std::int64_t{o.y} + halfHeight;
            const std::int64_t dx0 = x0 - cx, dy0 = y0 - cy;
            const std::int64_t dx = x - cx, dy = y - cy;
            if (tool() == kToolRotateLayers) {
                double a = -(std::atan2(static_cast<double>(dy), static_cast<double>(dx)) -
                             std::atan2(static_cast<double>(dy0), static_cast<double>(dx0)));
                if (shift) {
                    constexpr double step = std::numbers::pi / 4.0;
                    a = std::floor(a / step + 0.5) * step;
                }
                delta = vantrelo::rotationMatrix(a);
            } else if (!shift) {
                delta.at(0, 0) =
                    dx0 != 0 ? static_cast<double>(dx) / static_cast<double>(dx0) : 1.0;
                delta.at(1, 1) =
                    dy0 != 0 ? static_cast<double>(dy) / static_cast<double>(dy0) : 1.0;
            } else if (dx0 != 0 || dy0 != 0) {
                double s = std::sqrt(static_cast<double>(dx * dx + dy * dy)) /
                           std::sqrt(static_cast<double>(dx0 * dx0 + dy0 * dy0));
                if (dx0 * dx + dy0 * dy < 0) s = -s;
                delta.at(0, 0) = s;
                delta.at(1, 1) = s;
            }
            break;
        }
        default:
            return;
    }

    if (!bridge || !anyTarget()) return;
    Matrix3* const targets[3] = {&bridge->backdropTransform, &bridge->foregroundTransform,
                                 &bridge->overlayTransform};
    const bool selected[3] = {transformBackdrop.value().getBool(),
                              transformSubject.value().getBool(),
                              transformOverlay.value().getBool()};
    // Every motion applies the whole drag since the press to the matrices of the press.
    ChangeGroup group(viewer->views[0].params);
    for (int k = 0; k < 3; ++k) {
        if (!selected[k]) continue;
        *targets[k] = vantrelo::multiplyMatrix3(startMatrices[k], delta);
        Mav::Host::Param::sendParamEvent(this, EVT_PARAM_CHANGED_LIVE, kTargetParams[k], nullptr,
                                         0);
    }
}

// ---- Release.

void VantImagePreview::onToolLeftUp(wxMouseEvent&) {
    if (!viewer) return;
    endStroke(HasCapture());
}

void VantImagePreview::onToolCaptureLost(wxMouseCaptureLostEvent&) {
    // Another window took the pointer: the drag ends as the button's release would have ended it,
    // so a stroke is not left open and a layer change is announced as finished.
    if (!viewer) {
        dragging = false;
        return;
    }
    if (dragging) endStroke(true);
}

void VantImagePreview::endStroke(bool hadCapture) {
    if (hadCapture) {
        if (HasCapture()) ReleaseMouse();
        updateCursor();
        if (!panPress_) {
            if (stroke_ == Stroke::Points) {
                sendSample(2, nullptr, false);
            } else if (stroke_ == Stroke::Box) {
                const Point a = boxCorners[0];
                const Point b = boxCorners[1];
                const std::int64_t w = std::abs(std::int64_t{b.x} - a.x);
                const std::int64_t h = std::abs(std::int64_t{b.y} - a.y);
                sampleBox(std::min(a.x, b.x), std::min(a.y, b.y), vantrelo::saturateToInt32(w),
                          vantrelo::saturateToInt32(h));
            }
        }
        strokePoints.clear();
        boxCorners[0] = boxCorners[1] = Point{};
        // A receiver may have stopped the viewer meanwhile.
        if (viewer) viewer->forceRender();
    }
    if (layerChange_ && viewer) announceTargets(EVT_PARAM_CHANGED);
    stroke_ = Stroke::None;
    layerChange_ = false;
    panPress_ = false;
    dragging = false;
}
