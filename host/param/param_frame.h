#pragma once
// The top-level windows that parameter editors are built on.
//
// ParamFrame is bound to one parameter set for its whole life.  It turns the parameter events of
// its controls (host/param/param_events.h) into undo records and renders of its viewer, runs the
// standard commands and keeps the enabled state of its controls up to date.  A derived window
// supplies:
//   viewer()         the viewer it embeds (may be null until it is built; commands then do
//                    nothing);
//   updateEnables()  optional: enables and disables its controls from the current values; it
//                    runs once after each change, in the next idle time, not at every idle.
// The application sets wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED), so the frames get
// update-UI events only while their wxWS_EX_PROCESS_UI_UPDATES extra style is set; a change sets
// it, the next update-UI pass clears it.
//
// Events of ParamFrame (a derived window's own table entries come first; EVT_PARAM_CHANGED_LIVE
// has no entry: a window that wants live updates handles it and calls onParamChanged itself):
//   update UI                          onUpdateControls
//   EVT_PARAM_CHANGING                 onParamChanging: undo record (indices outside the set are
//                                      ignored)
//   EVT_PARAM_CHANGED                  onParamChanged: linked update, render
//   EVT_COLOUR_CHANGED, page changed (choice book, notebook), list item selected, check box,
//   choice, combo box, list box, radio box, radio button, toggle button
//                                      onControlChanged: validate and transfer from the control
//   button or menu 5111 reset every parameter (undoable), 5136 view reset, 5137 zoom in,
//   5138 zoom out, 5007 undo, 5008 redo, 6002 set the undo checkpoint, 6003 revert to it;
//   menu only 6001 show the input instead of the result (toggle), 6005 full screen (toggle).
//
// ParamSubFrame is the floating settings window: it transfers its controls' changes and keeps
// their enabled state; the parameter events travel on to its parent, the main window, which
// records and renders.
//
// Showing either frame first transfers every bound record into its control and runs one
// update-UI pass.

#include <wx/frame.h>

#include "host/param/parameters.h"

class wxUpdateUIEvent;

namespace Mav::Host::Param {

class ViewerBase;

inline constexpr int kCmdResetParameters = 5111;

class ParamFrame : public wxFrame {
public:
    // `set` is not owned and must outlive the frame.
    ParamFrame(Parameters* set, wxWindow* parent, wxWindowID id, const wxString& title,
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
               long style = wxDEFAULT_FRAME_STYLE);
    ~ParamFrame() override;

    bool Show(bool show = true) override;

    virtual void updateEnables();
    virtual ViewerBase* viewer() = 0;

    Parameters* parameters() const { return set_; }

    void onUpdateControls(wxUpdateUIEvent& event);
    void onParamChanging(wxCommandEvent& event);
    void onParamChanged(wxCommandEvent& event);
    void onControlChanged(wxCommandEvent& event);
    void onReset(wxCommandEvent& event);
    void onFullScreen(wxCommandEvent& event);

protected:
    // Clears the render failure, asks for a render unless one is pending and repaints.
    void renderAfterChange();

private:
    void onResetView(wxCommandEvent& event);
    void onZoomIn(wxCommandEvent& event);
    void onZoomOut(wxCommandEvent& event);
    void onUndo(wxCommandEvent& event);
    void onRedo(wxCommandEvent& event);
    void onSetCheckpoint(wxCommandEvent& event);
    void onRevertToCheckpoint(wxCommandEvent& event);
    void onShowOriginal(wxCommandEvent& event);

    Parameters* const set_;

    wxDECLARE_ABSTRACT_CLASS(ParamFrame);
    wxDECLARE_EVENT_TABLE();
};

class ParamSubFrame : public wxFrame {
public:
    ParamSubFrame(Parameters* set, wxWindow* parent, wxWindowID id, const wxString& title,
                  const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                  long style = wxDEFAULT_FRAME_STYLE);
    ~ParamSubFrame() override;

    bool Show(bool show = true) override;

    virtual void updateEnables();

    Parameters* parameters() const { return set_; }

    void onUpdateControls(wxUpdateUIEvent& event);
    void onControlChanged(wxCommandEvent& event);

private:
    Parameters* const set_;

    wxDECLARE_ABSTRACT_CLASS(ParamSubFrame);
    wxDECLARE_EVENT_TABLE();
};

}  // namespace Mav::Host::Param
