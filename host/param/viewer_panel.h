#pragma once
// The window that shows a viewer (host/param/viewer_base.h).
//
// It paints the picture with a one-pixel frame and status texts, renders inside its paint handler
// and serves deferred renders from its idle handler, pans with the left button (open and closed
// hand cursors), offers the viewer's commands in a context menu and as Ctrl accelerators, leaves
// full screen on Esc and shows a progress gauge below itself while a background render reports
// progress.
//
// Contract for subclasses (the interactive preview): construct the panel part, create the native
// window (Create), set `viewer` through the owner, start and end drags of their own with
// dragStartX/dragStartY/dragging and isDragEvent, and override paint() calling this class's paint()
// first.  Events their own table does not handle fall through to this class's table.

#include <wx/accel.h>
#include <wx/cursor.h>
#include <wx/window.h>

#include <cstdint>
#include <memory>

#include "host/param/full_screen.h"

class wxDC;
class wxGauge;
class wxMenu;
class wxTopLevelWindow;

namespace Mav::Host::Param {

class ViewerBase;

// The number of entries acceleratorEntries writes.
inline constexpr int kViewerAcceleratorCount = 13;

// 16 x 16 cursors with the hot spot at (7, 7).
wxCursor makeToolCursor();
wxCursor makeOpenHandCursor();
wxCursor makeClosedHandCursor();

// The Caps Lock key is held down (its pressed state, not the lock's; false where the display server
// cannot tell).  While it is held the viewer does not render.
bool capsLockDown();
// Tests replace the keyboard query; null restores it.  Returns the previous probe.
using CapsLockProbe = bool (*)();
CapsLockProbe setCapsLockProbe(CapsLockProbe probe);

class ViewerPanel : public wxWindow {
public:
    // The window part only; the owner or subclass creates the native window with Create.
    ViewerPanel();
    // Constructs and creates the native window.
    ViewerPanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize, long style = 0,
                const wxString& name = wxASCII_STR("ViewerPanel"));
    ~ViewerPanel() override;

    // ---- Overridable.

    // Appends the viewer's commands: zoom in, zoom out, reset, show original (check), undo and
    // redo (check kind, never ticked, enabled when possible), full screen.
    virtual void onContextMenu(wxMenu& menu);
    // Writes the Ctrl accelerators of the viewer's commands; returns kViewerAcceleratorCount.
    // `entries` holds at least that many.
    virtual int acceleratorEntries(wxAcceleratorEntry* entries);
    // Paints the whole panel: black below 16 x 16, the Caps Lock notice, "Render Failed", or the
    // picture with its margins and frame.
    virtual void paint(wxDC& dc);

    // ---- Other operations.

    // Clears every field below and sets the open-hand cursor (constructors only).
    void resetCursor();
    // The size painted and rendered: the client size, or with a gauge the size of the sizer
    // holding the panel and the gauge.
    void viewSize(int& width, int& height);
    std::uint64_t scaledWidth();
    std::uint64_t scaledHeight();
    // A motion event with the left button down while a drag of this panel is in progress.
    bool isDragEvent(const wxMouseEvent& event) const;
    // Brings the gauge up to date with the viewer's progress; true when it was created, shown
    // or hidden.
    bool updateGauge();
    void enterFullScreen(wxTopLevelWindow* frame);
    void exitFullScreen();
    // The panel's top-level window is in full-screen mode through this panel.
    bool inFullScreen() const;

    // ---- State.

    ViewerBase* viewer = nullptr;  // not owned; set by the owner, cleared by Viewer::stop
    std::int32_t dragStartX = 0;   // pointer minus pan offset at the start of a pan drag
    std::int32_t dragStartY = 0;
    std::unique_ptr<FullScreenState> fullScreenState;
    wxGauge* gauge = nullptr;      // child of the panel's parent; created on first progress
    bool painting = false;
    bool capsNoticeShown = false;
    bool dragging = false;

protected:
    void onPaintEvent(wxPaintEvent& event);
    void onIdle(wxIdleEvent& event);
    void onEraseBackground(wxEraseEvent& event);
    void onKeyDown(wxKeyEvent& event);
    void onLeftDown(wxMouseEvent& event);
    void onLeftUp(wxMouseEvent& event);
    void onRightDown(wxMouseEvent& event);
    void onMouseDrag(wxMouseEvent& event);
    void onCaptureLost(wxMouseCaptureLostEvent& event);

private:
    // Ends a pan drag: releases the capture (when held) and restores the open hand.
    void endDrag();
    // Shows the render errors the viewer queued, once the paint handler has returned.
    void scheduleViewerErrors();

    bool errorsScheduled_ = false;

    wxDECLARE_DYNAMIC_CLASS(ViewerPanel);
    wxDECLARE_EVENT_TABLE();
};

}  // namespace Mav::Host::Param
