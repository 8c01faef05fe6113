#include "host/param/param_frame.h"

#include <wx/bookctrl.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/choicebk.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/radiobox.h>
#include <wx/radiobut.h>
#include <wx/tglbtn.h>
#include <wx/toplevel.h>

#include "host/param/param_events.h"
#include "host/param/undo.h"
#include "host/param/viewer_base.h"
#include "host/param/viewer_panel.h"

namespace Mav::Host::Param {

wxIMPLEMENT_ABSTRACT_CLASS(ParamFrame, wxFrame);
wxIMPLEMENT_ABSTRACT_CLASS(ParamSubFrame, wxFrame);

// The control events after which a validator transfers the control's value.
#define VANTRELO_CONTROL_CHANGE_ENTRIES(Frame)                                                   \
    EVT_COMMAND(wxID_ANY, EVT_COLOUR_CHANGED, Frame::onControlChanged)                           \
    wx__DECLARE_EVT1(wxEVT_CHOICEBOOK_PAGE_CHANGED, wxID_ANY,                                    \
                     wxCommandEventHandler(Frame::onControlChanged))                             \
    wx__DECLARE_EVT1(wxEVT_NOTEBOOK_PAGE_CHANGED, wxID_ANY,                                      \
                     wxCommandEventHandler(Frame::onControlChanged))                             \
    wx__DECLARE_EVT1(wxEVT_LIST_ITEM_SELECTED, wxID_ANY,                                         \
                     wxCommandEventHandler(Frame::onControlChanged))                             \
    EVT_CHECKBOX(wxID_ANY, Frame::onControlChanged)                                              \
    EVT_CHOICE(wxID_ANY, Frame::onControlChanged)                                                \
    EVT_COMBOBOX(wxID_ANY, Frame::onControlChanged)                                              \
    EVT_LISTBOX(wxID_ANY, Frame::onControlChanged)                                               \
    EVT_RADIOBOX(wxID_ANY, Frame::onControlChanged)                                              \
    EVT_RADIOBUTTON(wxID_ANY, Frame::onControlChanged)                                           \
    EVT_TOGGLEBUTTON(wxID_ANY, Frame::onControlChanged)

// A command that is both a button and a menu item.
#define VANTRELO_COMMAND_ENTRY(id, handler) EVT_BUTTON(id, handler) EVT_MENU(id, handler)

wxBEGIN_EVENT_TABLE(ParamFrame, wxFrame)
    EVT_UPDATE_UI(wxID_ANY, ParamFrame::onUpdateControls)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGING, ParamFrame::onParamChanging)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGED, ParamFrame::onParamChanged)
    VANTRELO_CONTROL_CHANGE_ENTRIES(ParamFrame)
    VANTRELO_COMMAND_ENTRY(kCmdResetParameters, ParamFrame::onReset)
    VANTRELO_COMMAND_ENTRY(kCmdResetView, ParamFrame::onResetView)
    VANTRELO_COMMAND_ENTRY(kCmdZoomIn, ParamFrame::onZoomIn)
    VANTRELO_COMMAND_ENTRY(kCmdZoomOut, ParamFrame::onZoomOut)
    VANTRELO_COMMAND_ENTRY(kCmdUndo, ParamFrame::onUndo)
    VANTRELO_COMMAND_ENTRY(kCmdRedo, ParamFrame::onRedo)
    VANTRELO_COMMAND_ENTRY(kCmdSetCheckpoint, ParamFrame::onSetCheckpoint)
    VANTRELO_COMMAND_ENTRY(kCmdRevertToCheckpoint, ParamFrame::onRevertToCheckpoint)
    EVT_MENU(kCmdShowOriginal, ParamFrame::onShowOriginal)
    EVT_MENU(kCmdFullScreen, ParamFrame::onFullScreen)
wxEND_EVENT_TABLE()

wxBEGIN_EVENT_TABLE(ParamSubFrame, wxFrame)
    EVT_UPDATE_UI(wxID_ANY, ParamSubFrame::onUpdateControls)
    VANTRELO_CONTROL_CHANGE_ENTRIES(ParamSubFrame)
wxEND_EVENT_TABLE()

namespace {

constexpr long kFrameExtraStyle = wxWS_EX_VALIDATE_RECURSIVELY | wxWS_EX_PROCESS_UI_UPDATES;

void requestUpdatePass(wxWindow& frame) {
    frame.SetExtraStyle(frame.GetExtraStyle() | wxWS_EX_PROCESS_UI_UPDATES);
}

// Runs `update` once per update-UI pass of the frame itself.  The frame also receives the
// update-UI events of its menu items and, in the toolkit's process-all mode, of its children;
// those are passed on untouched.
template <class Update>
void updateControls(wxFrame& frame, wxUpdateUIEvent& event, Update update) {
    event.Skip();
    if (event.GetEventObject() != &frame) return;
    update();
    frame.SetExtraStyle(frame.GetExtraStyle() & ~wxWS_EX_PROCESS_UI_UPDATES);
}

void controlChanged(wxFrame& frame, wxCommandEvent& event) {
    event.Skip();
    auto* control = dynamic_cast<wxWindow*>(event.GetEventObject());
    // The controls of a floating frame are its own business; their events pass through the main
    // frame only on their way up the parent chain.
    if (!control || wxGetTopLevelParent(control) != &frame) return;
    if (wxValidator* validator = control->GetValidator()) {
        if (validator->Validate(control->GetParent())) validator->TransferFromWindow();
    }
    requestUpdatePass(frame);
}

// The toolkit's init-dialog step transfers every validator's record into its control and runs one
// update-UI pass.
void initBeforeShow(wxFrame& frame, bool show) {
    if (show) frame.InitDialog();
}

}  // namespace

ParamFrame::ParamFrame(Parameters* set, wxWindow* parent, wxWindowID id, const wxString& title,
                       const wxPoint& pos, const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style, wxASCII_STR("frame")), set_(set) {
    SetExtraStyle(GetExtraStyle() | kFrameExtraStyle);
}

ParamFrame::~ParamFrame() = default;

bool ParamFrame::Show(bool show) {
    initBeforeShow(*this, show);
    return wxFrame::Show(show);
}

void ParamFrame::updateEnables() {}

void ParamFrame::onUpdateControls(wxUpdateUIEvent& event) {
    updateControls(*this, event, [this] { updateEnables(); });
}

void ParamFrame::onControlChanged(wxCommandEvent& event) {
    controlChanged(*this, event);
}

void ParamFrame::onParamChanging(wxCommandEvent& event) {
    const std::uint64_t index = paramEventIndex(event);
    // Records outside the set (the viewer's zoom record) have no undo.
    if (!set_ || index >= set_->count()) return;
    if (set_->linksParameters() && set_->record(index).hasFlag(ParamAffectsAll)) {
        beginChange(*set_);
        endChangeGuard group(*set_);
        recordAll(*set_);
    } else {
        recordChange(*set_, index);
    }
}

void ParamFrame::onParamChanged(wxCommandEvent& event) {
    const std::uint64_t index = paramEventIndex(event);
    const bool inSet = set_ && index < set_->count();
    ParamRecord* record = inSet ? &set_->record(index) : paramEventRecord(event);
    if (inSet && set_->linksParameters() && record->hasFlag(ParamAffectsAll)) {
        set_->updateLinkedParameters(index);
        TransferDataToWindow();
        UpdateWindowUI(wxUPDATE_UI_NONE);
    }
    if (!record || !record->hasFlag(ParamNoRender)) renderAfterChange();
    requestUpdatePass(*this);
}

void ParamFrame::renderAfterChange() {
    if (ViewerBase* shown = viewer()) shown->forceRender();
}

void ParamFrame::onReset(wxCommandEvent&) {
    if (!set_) return;
    recordAll(*set_);
    set_->resetToDefaults();
    if (ViewerBase* shown = viewer()) shown->resetView();
    renderAfterChange();
    TransferDataToWindow();
    updateEnables();
}

void ParamFrame::onFullScreen(wxCommandEvent&) {
    ViewerBase* shown = viewer();
    if (!shown || !shown->panel) return;
    if (shown->panel->fullScreenState || IsFullScreen())
        shown->panel->exitFullScreen();
    else
        shown->panel->enterFullScreen(this);
}

void ParamFrame::onResetView(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->resetView();
}

void ParamFrame::onZoomIn(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->zoomIn();
}

void ParamFrame::onZoomOut(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->zoomOut();
}

void ParamFrame::onUndo(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->undo();
}

void ParamFrame::onRedo(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->redo();
}

void ParamFrame::onSetCheckpoint(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->setUndoCheckpoint();
}

void ParamFrame::onRevertToCheckpoint(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->revertToCheckpoint();
}

void ParamFrame::onShowOriginal(wxCommandEvent&) {
    if (ViewerBase* shown = viewer()) shown->setShowOriginal(!shown->showOriginal);
}

ParamSubFrame::ParamSubFrame(Parameters* set, wxWindow* parent, wxWindowID id,
                             const wxString& title, const wxPoint& pos, const wxSize& size,
                             long style)
    : wxFrame(parent, id, title, pos, size, style, wxASCII_STR("frame")), set_(set) {
    SetExtraStyle(GetExtraStyle() | kFrameExtraStyle);
}

ParamSubFrame::~ParamSubFrame() = default;

bool ParamSubFrame::Show(bool show) {
    initBeforeShow(*this, show);
    return wxFrame::Show(show);
}

void ParamSubFrame::updateEnables() {}

void ParamSubFrame::onUpdateControls(wxUpdateUIEvent& event) {
    updateControls(*this, event, [this] { updateEnables(); });
}

void ParamSubFrame::onControlChanged(wxCommandEvent& event) {
    controlChanged(*this, event);
}

}  // namespace Mav::Host::Param
