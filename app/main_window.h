#pragma once
// The main keying window, in three layers:
//
//   VantreloUIBase  the parameter frame: the layout (app/main_layout.h), the bindings of its
//                   controls to the current input's parameter set, the five floating windows'
//                   pointers, and the handlers that turn parameter events, preview samples and the
//                   "AutoMask" button into engine changes, undo records and renders;
//   VantreloUI      adds the embedded viewer and wires it to the preview panel;
//   VantreloUIApp   the program's window: icon, menus, "<" and ">", Open, OK, Cancel, Exit and
//                   About.
//
// The window stays bound to one parameter set object for its whole life; switching inputs copies
// the other input's values into that object (host/app/host.h).  Every handler runs on the
// user-interface thread.
//
// Events handled here (ids as in app/main_layout.h; everything else reaches ParamFrame):
//   EVT_PARAM_CHANGING / _CHANGED_LIVE / _CHANGED (any id)   onParamChanging, onParamChangedLive,
//                                                           onParamChanged
//   EVT_PREVIEW_SAMPLE (any id)                              onPreviewSample
//   button 10014 "AutoMask"                                  onAutoKeyButton
//   list commands (10039, 10044-10051, menu 7000-7002)       onResetTransforms, onAddLayer, ...
//   floating-window toggles (10010, 10012, 10015, 10024)     onRemoveNoiseToggle, ...
//   fine-tune tool 10025                                     onFineTuneTool
// and in VantreloUIApp: 6006 "<", 6007 ">", 5100 OK, 5101 Cancel, the close box, menu 5000 Open,
// 5006 Exit (Ctrl-X), 5014 About.
//
// The floating windows route their parameter events to onParamChanging and onParamChanged of this
// window.  Each floating window's destructor clears its pointer here.

#include <wx/defs.h>

#include <cstdint>
#include <set>

#include "host/app/viewer.h"
#include "host/param/param_frame.h"

class wxBitmapToggleButton;
class wxChoice;
class wxCloseEvent;
class wxKeyEvent;
class wxListBox;
class wxMouseEvent;
class wxSizer;
class wxSlider;
class wxTextCtrl;
class VantImagePreview;

namespace Mav::Host::Param {
class ColorButton;
}
namespace Mav::Host::App {
class Parameters;
}
namespace vantrelo {
class CVantreloBridge;
class VantreloPluginApp;
}  // namespace vantrelo

// Menu commands of the main window (the toolkit's standard ids) and of the layer lists' menu.
inline constexpr int kMenuOpenId = wxID_OPEN;    // 5000 "&Open\tCtrl-O"
inline constexpr int kMenuExitId = wxID_EXIT;    // 5006 "E&xit\tCtrl-X"
inline constexpr int kMenuAboutId = wxID_ABOUT;  // 5014 "&About"
inline constexpr int kMenuBackdropToFrontId = 7000;
inline constexpr int kMenuOverlayToFrontId = 7001;
inline constexpr int kMenuScaleToFitId = 7002;

class VantreloUIBase : public Mav::Host::Param::ParamFrame {
public:
    // Builds the layout, binds every control to `set` (and the preview's own records), installs the
    // preview's Ctrl accelerators and, when "last image path" is empty, starts it at the user's
    // Pictures folder.  `set` must outlive the window.
    VantreloUIBase(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                   const wxString& title, const wxPoint& pos = wxDefaultPosition,
                   const wxSize& size = wxDefaultSize, long style = wxDEFAULT_FRAME_STYLE);
    ~VantreloUIBase() override;

    // Records the floating windows' positions (closed ones cleared), destroys the open floating
    // windows, then the toolkit's Destroy.
    bool Destroy() override;
    // Every bound value to its control, also in the open floating windows
    // (app/main_window_floating.cpp).
    bool TransferDataToWindow() override;
    // The lighting-grid controls follow "adjust lighting", the colour button "background mode" 0,
    // the layer choice "background mode" 2 (with items, so never); then the open floating windows.
    void updateEnables() override;

    // The preview (child 10032), looked up each time.
    VantImagePreview* previewPanel() const;

    // ---- Parameter events, samples and the automatic key.
    void onParamChanging(wxCommandEvent& event);
    void onParamChangedLive(wxCommandEvent& event);
    void onParamChanged(wxCommandEvent& event);
    void onPreviewSample(wxCommandEvent& event);
    void onAutoKeyButton(wxCommandEvent& event);

    // ---- Backdrop and overlay list commands.
    void onReplaceLayer(wxCommandEvent& event);
    void onResetTransforms(wxCommandEvent& event);
    void onMoveLayersToFront(wxCommandEvent& event);
    void onAddLayer(wxCommandEvent& event);
    void onDeleteLayers(wxCommandEvent& event);
    void onLayerListRightClick(wxMouseEvent& event);
    void onScaleToFit(wxCommandEvent& event);
    // Parameter 38 "last image path" (a folder); set without an event or an undo record.
    wxString lastImagePath() const;
    void setLastImagePath(const wxString& folder);

    // ---- Floating windows.
    void onAutoMaskToggle(wxCommandEvent& event);
    void onLightWrapToggle(wxCommandEvent& event);
    void onRemoveNoiseToggle(wxCommandEvent& event);
    void onSoftenMatteToggle(wxCommandEvent& event);
    void onFineTuneTool(wxCommandEvent& event);
    // Moves a floating window to the "%d %d" position in `text`, or centres it on this window.
    void placeSubFrame(wxWindow* window, const wxString& text);
    // Writes a shown window's screen position into parameter `index` ("%d %d"); a closed or hidden
    // one empties it when clearClosed, else leaves it.  No event, no undo record.
    void saveSubFramePosition(wxWindow* window, std::size_t index, bool clearClosed);
    // The five windows in the order auto-mask (33), fine-tune, light-wrap, remove-noise,
    // soften-matte (37).
    void saveSubFramePositions(bool clearClosed);
    // The fine-tune window's swatch shows the picked colour through the current key again.
    void refreshFineTuneSwatch();
    // A new fine-tune pick was made: the window's slider offsets start from 0.
    void resetFineTuneOffsets();
    // Destroys the open floating windows and forgets them (the toolkit deletes them before this
    // window, which goes after them).
    void destroyFloatingWindows();

    // ---- State (non-owning).
    vantrelo::CVantreloBridge* bridge = nullptr;  // set by VantreloUI
    wxBitmapToggleButton* fineTuneToolButton = nullptr;
    wxBitmapToggleButton* selectToolButton = nullptr;
    // The floating windows; null while closed.
    Mav::Host::Param::ParamSubFrame* autoMaskFrame = nullptr;
    Mav::Host::Param::ParamSubFrame* fineTuneFrame = nullptr;
    Mav::Host::Param::ParamSubFrame* lightWrapFrame = nullptr;
    Mav::Host::Param::ParamSubFrame* removeNoiseFrame = nullptr;
    Mav::Host::Param::ParamSubFrame* softenMatteFrame = nullptr;
    wxListBox* backdropList = nullptr;
    wxListBox* overlayList = nullptr;
    wxTextCtrl* lightingGridText = nullptr;
    wxSlider* lightingGridSlider = nullptr;
    Mav::Host::Param::ColorButton* backdropColourButton = nullptr;
    wxChoice* layerChoice = nullptr;

private:
    void bindControls();
    // Announces parameters 0, 1 and 2 (the three key-data texts) with `type`.
    void announceKeyData(wxEventType type);
    // Switches "enable automask" off as an announced change; the auto-mask window shows it.
    void switchAutoMaskOff();

    // Whether the stroke in progress has applied samples to the key (or made a fine-tune pick):
    // only such a stroke switches the auto-mask off, records undo and is announced.
    bool strokeApplied_ = false;

    // The images (by input index) on which "AutoMask" was pressed and no stroke has been applied
    // since.  There a change of an auto-mask setting detects the key again, so that the preview
    // follows the "AM Settings" window also while "Always On" is off
    // (app/main_window_floating.cpp).
    std::set<std::uint64_t> autoMaskFollowsSettings_;
    std::uint64_t shownImage() const;
    bool autoMaskSettingRedetects(std::uint64_t index) const;
    void followAutoMaskSettings(bool follow);

    wxDECLARE_EVENT_TABLE();
};

class VantreloUI : public VantreloUIBase {
public:
    // The base, then the viewer over `host` and `set`, wired to the preview; the zoom field
    // (10035) shows the viewer's zoom.
    VantreloUI(Mav::Host::App::Parameters* set, vantrelo::VantreloPluginApp* host,
               wxWindow* parent, wxWindowID id, const wxString& title,
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
               long style = wxDEFAULT_FRAME_STYLE);
    ~VantreloUI() override;

    Mav::Host::Param::ViewerBase* viewer() override { return &viewer_; }
    Mav::Host::App::Viewer& embeddedViewer() { return viewer_; }

    vantrelo::VantreloPluginApp* host;

private:
    Mav::Host::App::Viewer viewer_;
};

class VantreloUIApp : public VantreloUI {
public:
    // The window, the navigation buttons when there are several inputs, the icon and the menus.
    VantreloUIApp(Mav::Host::App::Parameters* set, vantrelo::VantreloPluginApp* host,
                  wxWindow* parent, wxWindowID id, const wxString& title,
                  const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                  long style = wxDEFAULT_FRAME_STYLE);

    void onPreviousImage(wxCommandEvent& event);
    void onNextImage(wxCommandEvent& event);
    void onOk(wxCommandEvent& event);
    void onCancel(wxCommandEvent& event);
    // The close box, and Exit through it: as Cancel; never vetoed.
    void onClose(wxCloseEvent& event);
    void onOpen(wxCommandEvent& event);
    void onExit(wxCommandEvent& event);
    void onAbout(wxCommandEvent& event);
    // Ctrl-O (Open) wherever the focus is; Ctrl-X (Exit) too but in a text field (which cuts).
    void onCharHook(wxKeyEvent& event);
    // After inputs were appended (Open): creates "<" and ">" once there are two inputs, shows the
    // first image when there was none, and enables the buttons for the current input.
    void updateImageNavigation(std::uint64_t previousCount);

    // The box below the reset and checkpoint buttons that holds "<" and ">".
    wxSizer* navigationBox() const { return navigationBox_; }

private:
    // Moves to input `index` after writing the engine state into the current input's set.
    void stepTo(std::uint64_t index);
    // Ends preview rendering and destroys the window without saving anything.
    void cancel();

    wxSizer* navigationBox_ = nullptr;

    wxDECLARE_EVENT_TABLE();
};
