#pragma once
// The four floating settings windows that the main window opens from its toggles: auto-mask,
// light wrap, remove noise and soften matte.  The fine tune window (app/fine_tune_frame.h) follows
// the same rules for its life and placement.
//
// Each window is a ParamSubFrame bound to the main window's parameter set, with the main window as
// parent; its layout comes from app/floating_layouts.h and its controls are bound right after.
// Its parameter events (EVT_PARAM_CHANGING, EVT_PARAM_CHANGED) are handled by the main window's
// own handlers, so undo, the engine update and the render happen as for the main window's
// controls; it also takes over the main window's accelerators, so the viewer's Ctrl shortcuts work
// while it has the focus.
//
// Life: the main window holds one pointer per window, null exactly while it is closed.
//   - Its toggle pressed: created, placed at its saved position (or centred) and shown.
//   - Its toggle released: positions recorded, destroyed, pointer cleared.
//   - Its close box: the toggle is released (without an event), every shown floating window's
//     position is recorded, the pointer is cleared and the window destroyed.
//   - The main window going: the main window destroys it first (VantreloUIBase::Destroy).
// A window's destructor clears the main window's pointer only while that pointer still refers to
// it, since a new window may already have taken the place of one whose destruction was deferred.
//
// Enabling: the light-wrap controls follow "enable LightWrap", the remove-noise tolerance row
// follows "grain type" not being "no grain", the soften-matte controls follow "enable soften
// matte"; the auto-mask window enables everything.  The rules run in the window's own update pass
// after each change and from the main window's updateEnables.

#include <wx/string.h>

#include <functional>
#include <vector>

#include "host/param/param_frame.h"

class VantreloUIBase;
class wxCloseEvent;

// Caption, system menu, close box, clipped children, no taskbar button, kept above the main
// window; no resizable border and no minimise or maximise box.
inline constexpr long kFloatingWindowStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX |
                                             wxCLIP_CHILDREN | wxFRAME_TOOL_WINDOW |
                                             wxFRAME_FLOAT_ON_PARENT;

// What the five windows share: the main window they belong to, which of its pointers is theirs,
// and for the four settings windows the toggle that opens them and their enabling rule.
class FloatingSettingsFrame : public Mav::Host::Param::ParamSubFrame {
public:
    using Slot = Mav::Host::Param::ParamSubFrame* VantreloUIBase::*;
    using EnablingRule = std::function<bool(const Mav::Host::Param::Parameters& keyer)>;

    // `slot` names the main window's pointer for this window; a parent that is not the main window
    // (a test's stand-in) leaves the window without one.  With a `toggleId`, the close box
    // releases that toggle of the main window and records the positions (closeFromCloseBox).
    FloatingSettingsFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                          const wxString& title, const wxPoint& pos, const wxSize& size, long style,
                          Slot slot, int toggleId = 0);
    ~FloatingSettingsFrame() override;

    // The main window, or null.
    VantreloUIBase* mainWindow() const { return main_; }

    // Enables the rule's controls when it holds for the keyer's parameters, disables them when
    // not; a window without a rule enables everything.
    void updateEnables() override;

protected:
    // The set when it holds the keyer's parameters; the windows bind nothing to any other set.
    Mav::Host::Param::Parameters* keyerParameters() const;
    // Binds the control `fieldId` (and the slider `sliderId` beside it) to keyer parameter
    // `index`; nothing without the keyer's set or the control.
    void bindField(std::size_t index, int fieldId, int sliderId = 0);
    // The controls `ids` follow `rule`.
    void setEnablingRule(EnablingRule rule, std::vector<int> ids);
    // The main window's parameter handlers receive this window's parameter events.
    void routeParamEventsToMainWindow();
    // The main window's accelerators, also while this window has the focus.
    void copyMainWindowAccelerators();
    // The main window no longer points here (when it still did).
    void forgetInMainWindow();

private:
    // The close box of the four settings windows: releases the toggle of the main window, records
    // the positions, forgets and destroys this window.
    void closeFromCloseBox(wxCloseEvent& event);

    VantreloUIBase* main_ = nullptr;
    Slot slot_ = nullptr;
    int toggleId_ = 0;
    EnablingRule rule_;
    std::vector<int> ruled_;
};

// The four settings windows: each constructor builds its layout, binds its controls and states its
// enabling rule.
class AutoMaskFrame : public FloatingSettingsFrame {
public:
    AutoMaskFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                  const wxString& title, const wxPoint& pos = wxDefaultPosition,
                  const wxSize& size = wxDefaultSize, long style = kFloatingWindowStyle);
};

class LightWrapFrame : public FloatingSettingsFrame {
public:
    LightWrapFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                   const wxString& title, const wxPoint& pos = wxDefaultPosition,
                   const wxSize& size = wxDefaultSize, long style = kFloatingWindowStyle);
};

class RemoveNoiseFrame : public FloatingSettingsFrame {
public:
    RemoveNoiseFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                     const wxString& title, const wxPoint& pos = wxDefaultPosition,
                     const wxSize& size = wxDefaultSize, long style = kFloatingWindowStyle);
};

class SoftenMatteFrame : public FloatingSettingsFrame {
public:
    SoftenMatteFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                     const wxString& title, const wxPoint& pos = wxDefaultPosition,
                     const wxSize& size = wxDefaultSize, long style = kFloatingWindowStyle);
};
