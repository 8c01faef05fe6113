#include "host/param/viewer_panel.h"

#include <wx/dcclient.h>
#include <wx/gauge.h>
#include <wx/intl.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/toplevel.h>

#include "host/param/viewer_base.h"
#include "host/system/rect.h"

namespace Mav::Host::Param {

wxIMPLEMENT_DYNAMIC_CLASS(ViewerPanel, wxWindow);

wxBEGIN_EVENT_TABLE(ViewerPanel, wxWindow)
    EVT_PAINT(ViewerPanel::onPaintEvent)
    EVT_IDLE(ViewerPanel::onIdle)
    EVT_ERASE_BACKGROUND(ViewerPanel::onEraseBackground)
    EVT_KEY_DOWN(ViewerPanel::onKeyDown)
    EVT_LEFT_DOWN(ViewerPanel::onLeftDown)
    EVT_LEFT_UP(ViewerPanel::onLeftUp)
    EVT_RIGHT_DOWN(ViewerPanel::onRightDown)
    EVT_MOTION(ViewerPanel::onMouseDrag)
    EVT_MOUSE_CAPTURE_LOST(ViewerPanel::onCaptureLost)
wxEND_EVENT_TABLE()

ViewerPanel::ViewerPanel() { resetCursor(); }

ViewerPanel::ViewerPanel(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                         long style, const wxString& name) {
    resetCursor();
    Create(parent, id, pos, size, style, name);
}

ViewerPanel::~ViewerPanel() {
    // A frame that is destroyed in full screen takes its state with it; nothing to restore.
    if (fullScreenState) fullScreenState->window = nullptr;
}

void ViewerPanel::resetCursor() {
    viewer = nullptr;
    dragStartX = 0;
    dragStartY = 0;
    fullScreenState.reset();
    gauge = nullptr;
    painting = false;
    capsNoticeShown = false;
    dragging = false;
    SetCursor(makeOpenHandCursor());
}

void ViewerPanel::viewSize(int& width, int& height) {
    if (gauge) {
        if (wxSizer* sizer = GetContainingSizer()) {
            const wxSize size = sizer->GetSize();
            width = size.GetWidth();
            height = size.GetHeight();
            return;
        }
    }
    GetClientSize(&width, &height);
}

std::uint64_t ViewerPanel::scaledWidth() { return viewer ? viewer->zoomedWidth() : 0; }

std::uint64_t ViewerPanel::scaledHeight() { return viewer ? viewer->zoomedHeight() : 0; }

bool ViewerPanel::isDragEvent(const wxMouseEvent& event) const {
    return dragging && event.Dragging() && event.LeftIsDown();
}

// ---- Painting.

namespace {

void fillBlack(wxDC& dc, int width, int height) {
    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxBLACK_BRUSH);
    dc.DrawRectangle(0, 0, width, height);
}

void drawNotice(wxDC& dc, int width, int height, const wxString& text) {
    fillBlack(dc, width, height);
    dc.SetTextBackground(*wxBLACK);
    dc.SetTextForeground(*wxRED);
    wxCoord textWidth = 0, textHeight = 0;
    dc.GetTextExtent(text, &textWidth, &textHeight);
    dc.DrawText(text, (width - textWidth) / 2, (height - textHeight) / 2);
}

}  // namespace

void ViewerPanel::paint(wxDC& dc) {
    int w = 0, h = 0;
    viewSize(w, h);
    if (w < 16 || h < 16) {
        capsNoticeShown = false;
        fillBlack(dc, w, h);
        return;
    }
    if (capsLockDown()) {
        capsNoticeShown = true;
        drawNotice(dc, w, h, wxGetTranslation("Refresh Disabled (release Caps Lock to refresh)"));
        return;
    }
    capsNoticeShown = false;
    if (viewer->failed) {
        drawNotice(dc, w, h, wxGetTranslation("Render Failed"));
        return;
    }

    wxRect r(2, 2, w - 4, h - 4);
    int status = kDrawResult;
    viewer->drawRect(r, dc, status);

    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxBLACK_BRUSH);
    dc.DrawRectangle(0, 0, w, r.y);
    dc.DrawRectangle(0, r.y, r.x, r.height);
    dc.DrawRectangle(r.x + r.width, r.y, w - r.x - r.width, r.height);
    dc.DrawRectangle(0, r.y + r.height, w, h - r.height - r.y);

    switch (status) {
        case kDrawNothing:
            return;  // no frame either
        case kDrawSource: {
            dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
            dc.SetTextForeground(wxColour(255, 255, 0));
            const wxString label = wxGetTranslation("Original");
            wxCoord textWidth = 0, textHeight = 0;
            dc.GetTextExtent(label, &textWidth, &textHeight);
            dc.DrawText(label, w - textWidth - 8, 8);
            dc.SetPen(wxPen(wxColour(255, 255, 0), 1, wxPENSTYLE_SOLID));
            break;
        }
        case kDrawOtherView:
            dc.SetPen(*wxCYAN_PEN);
            break;
        case kDrawFailed:
            dc.SetPen(*wxRED_PEN);
            break;
        default:
            dc.SetPen(*wxGREY_PEN);
            break;
    }
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(r.x - 2, r.y - 2, r.width + 4, r.height + 4);
}

void ViewerPanel::onPaintEvent(wxPaintEvent&) {
    // The paint context is made on every paint event, drawn into or not: the toolkit expects it.
    {
        wxPaintDC dc(this);
        if (viewer && !painting && !viewer->rendering) {
            painting = true;
            try {
                paint(dc);
            } catch (...) {
                painting = false;
                throw;
            }
            painting = false;
        }
    }
    scheduleViewerErrors();
}

void ViewerPanel::onEraseBackground(wxEraseEvent&) {}

void ViewerPanel::scheduleViewerErrors() {
    if (!viewer || !viewer->hasViewerErrors() || errorsScheduled_) return;
    errorsScheduled_ = true;
    CallAfter([this] {
        errorsScheduled_ = false;
        if (viewer) viewer->showViewerErrors();
    });
}

// ---- Idle time: deferred renders, the gauge and queued messages.

void ViewerPanel::onIdle(wxIdleEvent& event) {
    event.Skip();
    if (viewer) viewer->beforeUpdate();
    if (capsNoticeShown && !capsLockDown()) {
        Refresh(true);
    } else if (viewer && viewer->needsRender() && !capsNoticeShown && !capsLockDown() &&
               !viewer->failed) {
        int w = 0, h = 0;
        viewSize(w, h);
        const wxRect r(2, 2, w - 4, h - 4);
        if (updateGauge())
            event.RequestMore();
        else
            viewer->serveRenderState(r);
    }
    updateGauge();
    if (viewer) viewer->flushHostMessages();
    scheduleViewerErrors();
}

bool ViewerPanel::updateGauge() {
    if (!viewer || !viewer->pollProgress()) return false;
    const std::uint64_t done = viewer->progressDone;
    const std::uint64_t total = viewer->progressTotal;
    float fraction = 0.0f;
    if (done > 0 && total == 0) {
        fraction = -1.0f;
    } else if (total > 0 && done < total) {
        fraction = static_cast<float>(done) / static_cast<float>(total);
    } else {
        if (gauge && gauge->IsShown()) {
            wxSizer* sizer = gauge->GetContainingSizer();
            if (sizer) {
                sizer->Show(gauge, false);
                sizer->Layout();
            } else {
                gauge->Hide();
            }
            return true;
        }
        return false;
    }

    bool changed = false;
    if (!gauge) {
        wxWindow* parent = GetParent();
        if (!parent) return false;
        auto* column = new wxBoxSizer(wxVERTICAL);
        gauge = new wxGauge(parent, wxID_ANY, 1000, wxDefaultPosition, wxSize(100, -1),
                            wxGA_HORIZONTAL, wxDefaultValidator, wxASCII_STR("gauge"));
        const wxPoint position = GetPosition();
        const wxSize size = GetSize();
        if (wxSizer* holder = GetContainingSizer()) {
            // The new column takes the panel's place, with the panel's settings.
            wxSizerItem* item = holder->GetItem(this);
            int index = 0;
            for (wxSizerItemList::compatibility_iterator node = holder->GetChildren().GetFirst();
                 node && node->GetData() != item; node = node->GetNext())
                ++index;
            holder->Insert(index, column, item->GetProportion(), item->GetFlag(),
                           item->GetBorder());
            holder->Detach(this);
        }
        column->Add(this, 1, wxEXPAND | wxALIGN_CENTRE_HORIZONTAL);
        column->Add(gauge, 0, wxEXPAND | wxALIGN_CENTRE_HORIZONTAL);
        column->SetDimension(position, size);
        column->Layout();
        changed = true;
    } else if (!gauge->IsShown()) {
        if (wxSizer* sizer = gauge->GetContainingSizer()) {
            sizer->Show(gauge, true);
            sizer->Layout();
        } else {
            gauge->Show();
        }
        changed = true;
    }
    if (fraction < 0.0f)
        gauge->Pulse();
    else
        gauge->SetValue(static_cast<int>(fraction * 1000.0f));
    return changed;
}

// ---- Keys, full screen and the context menu.

void ViewerPanel::onKeyDown(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(wxGetTopLevelParent(this));
        if (top && top->IsFullScreen()) {
            exitFullScreen();
            return;
        }
    }
    event.Skip();
}

void ViewerPanel::enterFullScreen(wxTopLevelWindow* frame) {
    if (fullScreenState || !frame) return;
    fullScreenState = std::make_unique<FullScreenState>(frame, this);
}

void ViewerPanel::exitFullScreen() {
    if (!fullScreenState) return;
    fullScreenState->restore();
    fullScreenState.reset();
}

bool ViewerPanel::inFullScreen() const { return fullScreenState && fullScreenState->active(); }

void ViewerPanel::onContextMenu(wxMenu& menu) {
    menu.Append(kCmdZoomIn, wxGetTranslation("Zoom In\tCtrl++"), wxString());
    menu.Append(kCmdZoomOut, wxGetTranslation("Zoom Out\tCtrl+-"), wxString());
    menu.Append(kCmdResetView, wxGetTranslation("Reset Viewer\tCtrl+R"), wxString());
    menu.AppendCheckItem(kCmdShowOriginal, wxGetTranslation("Show Original\tCtrl+G"), wxString());
    menu.Check(kCmdShowOriginal, viewer && viewer->showOriginal);
    menu.AppendCheckItem(kCmdUndo, wxGetTranslation("Undo\tCtrl+Z"), wxString());
    menu.Enable(kCmdUndo, viewer && viewer->canUndo());
    menu.AppendCheckItem(kCmdRedo, wxGetTranslation("Redo\tCtrl+Y"), wxString());
    menu.Enable(kCmdRedo, viewer && viewer->canRedo());
    menu.Append(kCmdFullScreen,
                inFullScreen() ? wxGetTranslation("Exit Fullscreen\tCtrl+F")
                               : wxGetTranslation("View Fullscreen\tCtrl+F"),
                wxString());
}

int ViewerPanel::acceleratorEntries(wxAcceleratorEntry* entries) {
    static constexpr struct {
        int key;
        int command;
    } kTable[kViewerAcceleratorCount] = {
        // No Ctrl+O: it is the program's Open, and this table would take it from the menu.
        {'i', kCmdZoomIn},     {'=', kCmdZoomIn},
        {'+', kCmdZoomIn},     {'-', kCmdZoomOut},      {WXK_ADD, kCmdZoomIn},
        {WXK_SUBTRACT, kCmdZoomOut}, {WXK_NUMPAD_ADD, kCmdZoomIn},
        {WXK_NUMPAD_SUBTRACT, kCmdZoomOut}, {'r', kCmdResetView},
        {'g', kCmdShowOriginal}, {'y', kCmdRedo},      {'z', kCmdUndo},
        {'f', kCmdFullScreen},
    };
    for (int i = 0; i < kViewerAcceleratorCount; ++i)
        entries[i].Set(wxACCEL_CTRL, kTable[i].key, kTable[i].command);
    return kViewerAcceleratorCount;
}

void ViewerPanel::onRightDown(wxMouseEvent& event) {
    wxMenu menu;
    onContextMenu(menu);
    PopupMenu(&menu, event.GetPosition());
}

// ---- Panning.

void ViewerPanel::onLeftDown(wxMouseEvent& event) {
    event.Skip();
    if (!viewer) return;
    const double s = viewer->useContentScale ? viewer->contentScale() : 1.0;
    dragStartX = event.GetX() - System::truncateToInt32(viewer->panX / s);
    dragStartY = event.GetY() - System::truncateToInt32(viewer->panY / s);
    dragging = true;
    SetCursor(makeClosedHandCursor());
    if (!HasCapture()) CaptureMouse();
}

void ViewerPanel::onMouseDrag(wxMouseEvent& event) {
    event.Skip();
    if (viewer && isDragEvent(event))
        viewer->setPanOffset(event.GetX() - dragStartX, event.GetY() - dragStartY);
}

void ViewerPanel::onLeftUp(wxMouseEvent& event) {
    event.Skip();
    endDrag();
}

void ViewerPanel::onCaptureLost(wxMouseCaptureLostEvent&) {
    // The capture is gone already (another window took the pointer); end the drag as the
    // button's release would, or the next motion with a button down would go on panning.
    SetCursor(makeOpenHandCursor());
    dragging = false;
}

void ViewerPanel::endDrag() {
    if (HasCapture()) {
        ReleaseMouse();
        SetCursor(makeOpenHandCursor());
    }
    dragging = false;
}

}  // namespace Mav::Host::Param
