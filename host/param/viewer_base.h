#pragma once
// The core of the preview viewer: zoom and pan, the views (parameter sets) it previews, the render
// state shared with a background renderer, and the commands that frames, the context menu and the
// accelerators route to it.
//
// How pictures are made is left to the derived viewer (host/app/viewer.h): rendering, drawing and
// the image queries are virtual.  The window that shows the viewer is a ViewerPanel
// (host/param/viewer_panel.h); the viewer knows it but never owns it.
//
// Coordinates.  `zoom` is client pixels per image pixel.  (panX, panY) is where the image's
// top-left corner lies, in client pixels, relative to the top-left corner of the drawing rectangle
// (the panel's client area inset by 2 pixels).  (centreX, centreY) is the centre of the last
// drawing rectangle; zoom changes keep the image point under it in place.
//
// Render state (0..3, read and written under stateLock): 0 nothing pending; 1 a deferred render
// ran and the panel has not repainted since; 2 a render is due (skipped while busy, or held back
// while a change group was open); 3 the cached sources must be reloaded and a render is due.  It
// only ever rises until serveRenderState brings it down.  No background renderer runs in this
// program, so viewerLock never fails on the user-interface thread and the state stays 0; the
// machinery is kept so the render path behaves the same with one.
//
// User-interface thread only.

#include <wx/gdicmn.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/param/param_record.h"
#include "host/param/parameters.h"
#include "host/system/critical_section.h"

class wxDC;
class wxSlider;
class wxTextCtrl;

namespace Mav::Host::Param {

class ViewerPanel;

// The parameter index under which the viewer's zoom record is bound to its controls; outside every
// parameter set, so frames record no undo for it.
inline constexpr std::size_t kZoomParamIndex = 1000000;

// Commands routed to the viewer (menus, buttons, accelerators).
inline constexpr int kCmdUndo = 5007;
inline constexpr int kCmdRedo = 5008;
inline constexpr int kCmdResetView = 5136;
inline constexpr int kCmdZoomIn = 5137;
inline constexpr int kCmdZoomOut = 5138;
inline constexpr int kCmdShowOriginal = 6001;
inline constexpr int kCmdSetCheckpoint = 6002;
inline constexpr int kCmdRevertToCheckpoint = 6003;
inline constexpr int kCmdFullScreen = 6005;

// Status of a drawRect, for the frame the panel draws around the picture.
inline constexpr int kDrawResult = 0;    // the rendered result was drawn
inline constexpr int kDrawSource = 1;    // the source was drawn (original shown, or no result)
inline constexpr int kDrawOtherView = 2; // a view other than view 0 is current
inline constexpr int kDrawFailed = 3;    // the render failed
inline constexpr int kDrawNothing = 4;   // there is no picture (no input): no frame either

// |a - b| <= max(|a|, |b|) x 2^-23.
bool floatsNearlyEqual(float a, float b);

// One parameter set the viewer can show.
class ViewRecord {
public:
    // Borrowed: the caller keeps the set alive.  Owned: the record keeps a copy of `set`.
    ViewRecord(Parameters* set, bool borrowed);
    // A borrowed source gives a record sharing its set, an owned one a record with a fresh copy;
    // both flags start true again.
    ViewRecord(const ViewRecord& other);
    ViewRecord& operator=(const ViewRecord& other);
    ~ViewRecord();

    Parameters* params = nullptr;
    bool borrowed = true;
    bool displayStale = true;  // the display copies of this view's result must be refreshed
    bool needsRender = true;   // the cached result is out of date: render it again in full
};

class ViewerBase {
public:
    // View 0 is a borrowed record over `set`; `panel` may be null and set later.
    ViewerBase(Parameters& set, ViewerPanel* panel);
    virtual ~ViewerBase();
    ViewerBase(const ViewerBase&) = delete;
    ViewerBase& operator=(const ViewerBase&) = delete;

    // ---- Virtual operations (the derived viewer defines them).

    // Called at the start of every render and of every idle pass of the panel.
    virtual void beforeUpdate() = 0;
    virtual void reservedHook() = 0;
    // Renders the client rectangle (x, y, width, height) without drawing; the rectangle is
    // written back.
    virtual void renderRect(wxRect& rect) = 0;
    // Renders as needed and draws into `dc`; `rect` becomes the rectangle the picture covers
    // and `status` one of kDraw*.
    virtual void drawRect(wxRect& rect, wxDC& dc, int& status) = 0;
    // Size of the picture at the render scale.
    virtual std::int64_t imageWidth() = 0;
    virtual std::int64_t imageHeight() = 0;
    // The panel's content scale when useContentScale is set, else 1.
    virtual double contentScale();
    // The source colour (R, G, B, A, nominally 0..1) under a client position; false and zeros
    // outside the picture.
    virtual bool pixelAt(float out[4], int x, int y) = 0;
    // Image position to client position (toView) or back.
    virtual void viewToImage(int x, int y, int& outX, int& outY, bool toView) = 0;
    // Shows messages the host queued outside a render.
    virtual void flushHostMessages() = 0;
    virtual bool isThreaded() = 0;
    virtual bool hasPendingRequests() = 0;
    // Drops queued background work so a fresh render can start.
    virtual void postRenderRequest() = 0;
    virtual void waitIdle() = 0;
    // True when the panel's progress gauge must be brought up to date.
    virtual bool pollProgress() = 0;
    // New pan offset from a client offset (before the content scale); refreshes when it changed.
    virtual void setPanOffset(int x, int y) = 0;

    // ---- Render state.

    int renderState();
    void setRenderState(int state);
    // Raises the state to `state`; never lowers it.
    void raiseRenderState(int state);
    // viewerLock cannot be entered at once, or background requests are pending.
    bool isBusy();
    // Not busy and a render is pending.
    bool needsRender();
    // Runs a deferred render into the client rectangle (x, y, width, height) (the panel's idle).
    void serveRenderState(const wxRect& rect);
    // Brings the picture up to date: here always a repaint of the panel, which renders.
    void requestRefresh(bool fromZoom);

    // ---- Commands.

    void resetView();
    // resetView and a reload of the sources: the current input changed.
    void resetViewForInput();
    void setShowOriginal(bool show);
    // Clamps to the zoom record's limits / 100 (0.01..8); NaN is ignored.  Keeps the image point
    // under (centreX, centreY) in place.
    void setZoom(float factor);
    void zoomIn();
    void zoomOut();
    // Picture size in client pixels (image size times zoom when zoom > 1).
    std::uint64_t zoomedWidth();
    std::uint64_t zoomedHeight();
    void setUndoCheckpoint();
    bool canUndo() const;
    bool canRedo() const;
    // Each returns false, doing nothing else, when the set refuses; otherwise forces a render and
    // returns the result of transferToWindow.
    bool undo();
    bool redo();
    bool revertToCheckpoint();
    // The forced render after a change of view 0's values: clears `failed`, drops queued work,
    // marks view 0 for a full render and refreshes.
    void forceRender();
    // Shows every parameter's value in the controls of the panel's top-level window and asks for
    // one update-UI pass there.
    bool transferToWindow();

    // ---- Render errors.

    // Render errors are shown in a "Viewer Error" box, but never from inside a paint handler:
    // the render queues the text here and the panel shows it once its paint has returned.
    void queueViewerError(const std::string& text);
    bool hasViewerErrors() const { return !viewerErrors_.empty(); }
    // Shows the queued texts in one box (caption "Viewer Error", OK, the panel as parent).
    void showViewerErrors();

    // ---- State (read and written by the panel, the frames and the derived viewer).

    std::vector<ViewRecord> views;
    ViewerPanel* panel = nullptr;
    wxTextCtrl* zoomText = nullptr;  // bound to zoomRecord by the owner (bindSlider)
    wxSlider* zoomSlider = nullptr;
    ParamRecord zoomRecord;          // "Zoom" in percent: 100, slider 1..400, limits 1..800
    float zoom = 1.0f;
    std::int32_t panX = 0;
    std::int32_t panY = 0;
    std::int32_t centreX = 0;
    std::int32_t centreY = 0;
    // Top-left corner of the last drawing rectangle (2, 2): the pan offset is relative to it.
    std::int32_t originX = 2;
    std::int32_t originY = 2;
    std::uint64_t progressDone = 0;  // the figures the panel's gauge shows
    std::uint64_t progressTotal = 0;
    std::uint64_t currentView = 0;
    System::CriticalSection viewerLock;  // only ever try-entered by the viewer itself
    System::CriticalSection stateLock;   // guards the render state
    bool failed = false;       // the last render threw; the panel shows "Render Failed"
    bool zoomDirty = false;    // the render scale changed: the caches must be rebuilt
    bool fitPending = true;    // the next render fits the picture into the client area
    bool cacheValid = false;   // the cached sources and results belong to the render scale
    bool blankMode = false;    // render nothing; newly exposed parts are cleared
    bool showOriginal = false; // show the source instead of the rendered result
    bool busyCursor = false;   // show the busy cursor while rendering on this thread
    bool rendering = false;    // a render is in progress; the panel ignores paints meanwhile
    bool useContentScale = true;
    std::int32_t originalSource = 0;  // input shown as the original (0: the current input)

private:
    int renderState_ = 0;
    std::string viewerErrors_;
};

}  // namespace Mav::Host::Param
