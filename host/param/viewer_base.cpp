#include "host/param/viewer_base.h"

#include <wx/intl.h>
#include <wx/slider.h>
#include <wx/textctrl.h>
#include <wx/validate.h>
#include <wx/window.h>

#include <cmath>
#include <memory>
#include <utility>

#include "host/app/message_box.h"
#include "host/param/viewer_panel.h"
#include "host/system/rect.h"

namespace Mav::Host::Param {

bool floatsNearlyEqual(float a, float b) {
    return std::fabs(a - b) <= std::fmax(std::fabs(a), std::fabs(b)) * 1.1920929e-7f;
}

// ---- ViewRecord.

ViewRecord::ViewRecord(Parameters* set, bool borrowed)
    : params(borrowed ? set : new Parameters(*set)), borrowed(borrowed) {}

ViewRecord::ViewRecord(const ViewRecord& other)
    : params(other.borrowed ? other.params : new Parameters(*other.params)),
      borrowed(other.borrowed) {}

ViewRecord& ViewRecord::operator=(const ViewRecord& other) {
    if (this == &other) return *this;
    ViewRecord copy(other);
    std::swap(params, copy.params);
    std::swap(borrowed, copy.borrowed);
    displayStale = true;
    needsRender = true;
    return *this;
}

ViewRecord::~ViewRecord() {
    if (!borrowed) delete params;
}

// ---- ViewerBase.

ViewerBase::ViewerBase(Parameters& set, ViewerPanel* panel)
    : panel(panel), zoomRecord(ParamFloat, "Zoom", 0, 0, ParamUnscaledPoint) {
    zoomRecord.slots[SlotValue].setDouble(100.0);
    zoomRecord.slots[SlotDefault].setDouble(100.0);
    zoomRecord.slots[SlotSliderMin].setDouble(1.0);
    zoomRecord.slots[SlotSliderMax].setDouble(400.0);
    zoomRecord.slots[SlotMin].setDouble(1.0);
    zoomRecord.slots[SlotMax].setDouble(800.0);
    views.emplace_back(&set, true);
}

ViewerBase::~ViewerBase() = default;

double ViewerBase::contentScale() {
    // GTK reports 2 on high-density screens, but its windows, events and drawing already work in
    // logical pixels; one picture pixel per logical pixel is the factor between them.
    return 1.0;
}

int ViewerBase::renderState() {
    System::LockGuard lock(stateLock);
    return renderState_;
}

void ViewerBase::setRenderState(int state) {
    System::LockGuard lock(stateLock);
    renderState_ = state;
}

void ViewerBase::raiseRenderState(int state) {
    System::LockGuard lock(stateLock);
    if (state > renderState_) renderState_ = state;
}

bool ViewerBase::isBusy() {
    if (!viewerLock.tryEnter()) return true;
    viewerLock.leave();
    return hasPendingRequests();
}

bool ViewerBase::needsRender() {
    if (isBusy()) return false;
    return renderState() != 0;
}

void ViewerBase::serveRenderState(const wxRect& rect) {
    if (renderState() == 2) {
        if (capsLockDown()) {
            postRenderRequest();
        } else if (!isBusy()) {
            wxRect r = rect;
            renderRect(r);
        }
        System::LockGuard lock(stateLock);
        if (renderState_ == 2) renderState_ = 1;
    }
    if (renderState() == 3 && !isBusy()) {
        cacheValid = false;
        wxRect r = rect;
        renderRect(r);
        setRenderState(1);
    }
    if (renderState() == 1 && !isBusy()) {
        setRenderState(0);
        if (panel) panel->Refresh(true);
    }
}

void ViewerBase::requestRefresh(bool fromZoom) {
    if (!panel) return;
    if (isThreaded()) {
        if (capsLockDown()) {
            postRenderRequest();
        } else if (!fromZoom && currentView < views.size() && views[currentView].needsRender) {
            if (views[0].params->changeDepth() > 0) {
                raiseRenderState(2);
                return;
            }
            int width = 0, height = 0;
            panel->viewSize(width, height);
            wxRect r(2, 2, width - 4, height - 4);
            renderRect(r);
            return;
        }
    }
    // A paint in progress draws the state it has just set itself; asking again would only
    // queue a second, identical paint.
    if (rendering && panel->painting) return;
    panel->Refresh(true);
}

void ViewerBase::resetView() {
    failed = false;
    showOriginal = false;
    fitPending = true;
    requestRefresh(false);
}

void ViewerBase::resetViewForInput() {
    resetView();
    cacheValid = false;
}

void ViewerBase::setShowOriginal(bool show) {
    if (show == showOriginal) return;
    showOriginal = show;
    requestRefresh(false);
}

void ViewerBase::setZoom(float factor) {
    // NaN (an unreadable zoom field, a fit of nothing) is refused before any conversion.
    if (std::isnan(factor)) return;
    const float minimum = static_cast<float>(zoomRecord.slots[SlotMin].getDouble());
    const float maximum = static_cast<float>(zoomRecord.slots[SlotMax].getDouble());
    float z = factor;
    if (minimum > z * 100.0f) z = minimum / 100.0f;
    if (z * 100.0f > maximum) z = maximum / 100.0f;
    if (floatsNearlyEqual(zoom, z)) return;

    // The pan offset counts from the drawing rectangle's corner, so the pivot does too; the
    // centre in client pixels would shift the picture by the corner's offset times the change.
    const float pivotX = static_cast<float>(centreX - originX);
    const float pivotY = static_cast<float>(centreY - originY);
    panX = System::truncateToInt32(pivotX + std::trunc((static_cast<float>(panX) - pivotX) / zoom * z));
    panY = System::truncateToInt32(pivotY + std::trunc((static_cast<float>(panY) - pivotY) / zoom * z));
    if (zoom < 1.0f || z < 1.0f) {
        failed = false;
        zoomDirty = true;
    }
    zoom = z;
    zoomRecord.slots[SlotValue].setDouble(static_cast<double>(z) * 100.0);
    requestRefresh(true);
    for (wxWindow* control : {static_cast<wxWindow*>(zoomText), static_cast<wxWindow*>(zoomSlider)}) {
        if (control && control->GetValidator()) control->GetValidator()->TransferToWindow();
    }
}

void ViewerBase::zoomIn() {
    if (zoom >= 1.0f) {
        setZoom(std::floor(zoom + 0.5f) + 1.0f);
        return;
    }
    const float n = std::floor(1.0f / zoom + 0.5f) - 1.0f;
    setZoom(n > 0.5f ? 1.0f / n : 1.0f / 0.5f);
}

void ViewerBase::zoomOut() {
    if (zoom > 1.0f) {
        const float n = std::floor(zoom + 0.5f) - 1.0f;
        setZoom(n > 0.5f ? n : 0.5f);
        return;
    }
    setZoom(1.0f / (std::floor(1.0f / zoom + 0.5f) + 1.0f));
}

std::uint64_t ViewerBase::zoomedWidth() {
    const std::int64_t width = imageWidth();
    if (width <= 0) return 0;
    if (!(zoom > 1.0f)) return static_cast<std::uint64_t>(width);
    return static_cast<std::uint64_t>(static_cast<double>(width) * zoom);
}

std::uint64_t ViewerBase::zoomedHeight() {
    const std::int64_t height = imageHeight();
    if (height <= 0) return 0;
    if (!(zoom > 1.0f)) return static_cast<std::uint64_t>(height);
    return static_cast<std::uint64_t>(static_cast<double>(height) * zoom);
}

void ViewerBase::setUndoCheckpoint() {
    Parameters& set = *views[0].params;
    set.setUndoCheckpoint(set.undoSteps().size() + 1);
}

bool ViewerBase::canUndo() const { return !views[0].params->undoSteps().empty(); }

bool ViewerBase::canRedo() const { return !views[0].params->redoSteps().empty(); }

bool ViewerBase::undo() {
    if (!views[0].params->undo()) return false;
    forceRender();
    return transferToWindow();
}

bool ViewerBase::redo() {
    if (!views[0].params->redo()) return false;
    forceRender();
    return transferToWindow();
}

bool ViewerBase::revertToCheckpoint() {
    if (!views[0].params->revertToCheckpoint()) return false;
    forceRender();
    return transferToWindow();
}

void ViewerBase::forceRender() {
    failed = false;
    if (!views[0].needsRender) postRenderRequest();
    views[0].needsRender = true;
    requestRefresh(false);
}

bool ViewerBase::transferToWindow() {
    wxWindow* window = panel;
    if (!window) return false;
    while (!window->IsTopLevel() && window->GetParent()) window = window->GetParent();
    const bool transferred = window->TransferDataToWindow();
    window->SetExtraStyle(window->GetExtraStyle() | wxWS_EX_PROCESS_UI_UPDATES);
    return transferred;
}

void ViewerBase::queueViewerError(const std::string& text) {
    if (text.empty()) return;
    if (!viewerErrors_.empty()) viewerErrors_ += "\n";
    viewerErrors_ += text;
}

void ViewerBase::showViewerErrors() {
    const std::string text = std::exchange(viewerErrors_, std::string());
    if (text.empty()) return;
    // The box runs a nested event loop; paints of the panel wait until it is closed.
    const bool wasRendering = std::exchange(rendering, true);
    App::showMessageBox(panel, text, wxGetTranslation("Viewer Error").utf8_string(),
                        App::kMessageOk);
    rendering = wasRendering;
    if (panel) panel->Refresh(true);
}

}  // namespace Mav::Host::Param
