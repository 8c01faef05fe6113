#pragma once
// The fine tune window: three relative sliders that move the key's shells around one colour picked
// in the preview, and a swatch that shows how that colour comes out of the current key.
//
// The main window opens it with the fine-tune tool (which also selects the engine's pick mode) and
// closes it when another tool is chosen; its close box selects the select tool.  Placement, style
// and the saved position ("finetune window") follow the other floating windows
// (app/floating_windows.h).
//
// The sliders ("Remove Spill", "Transparency", "Restore Details") are the window's own records,
// announced under the pseudo-indices 1700000, 1800000 and 1900000; they start at 0, and on release
// their amount joins a running base and they spring back to 0 (app/fine_tune_offsets.h gives the
// arithmetic).  While one is dragged only the swatch follows; its release renders the preview
// once.  Its edits are announced to the main window as changes of the three key-data parameters,
// in one change group per announcement, so one undo brings the key back to its state before the
// slider moved.
//
// The sliders do nothing until a colour has been picked on the current image while the window is
// open: the engine's pick anchor is global, and moving the radii it remembered from another image
// (or from a key that was since changed with other tools) would overwrite the current key there.
// Such a slider still springs back and records nothing.  A pick (resetOffsets, called by the main
// window when a pick stroke ends) sets the bases to 0.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include <wx/window.h>

#include "app/fine_tune_offsets.h"
#include "app/floating_windows.h"
#include "host/param/param_record.h"

class wxDC;
class wxEraseEvent;
class wxPaintEvent;

// The colour swatch (control 10072): a checkerboard of the probed colour over two greys on its
// left 80 x 80 pixels, the colour itself, opaque, on the rest.
class FineTuneViewer : public wxWindow {
public:
    FineTuneViewer(wxWindow* parent, wxWindowID id, const wxSize& size, long style,
                   const wxString& name);

    // The probed colour: the picked colour keyed with the current key, premultiplied; R, G, B, A
    // in 16-bit units.  All 0 until the first probe.
    std::array<std::uint16_t, 4> probe{0, 0, 0, 0};

    struct Colours {
        wxColour dark;    // the colour over grey 128 (odd squares)
        wxColour light;   // the colour over grey 192 (even squares, the top-left one among them)
        wxColour opaque;  // the colour alone
    };
    // High bytes of the probe's colour, blended over the greys by its alpha (truncated).
    static Colours swatchColours(const std::array<std::uint16_t, 4>& probe);

    // Repaints the whole window (its background is never erased).
    void refresh();
    void drawSwatch(wxDC& dc);

private:
    void onPaint(wxPaintEvent& event);
    void onEraseBackground(wxEraseEvent& event);

    wxDECLARE_EVENT_TABLE();
};

class FineTuneFrame : public FloatingSettingsFrame {
public:
    static constexpr std::uint64_t kRemoveSpillIndex = 1700000;
    static constexpr std::uint64_t kTransparencyIndex = 1800000;
    static constexpr std::uint64_t kRestoreDetailsIndex = 1900000;

    FineTuneFrame(Mav::Host::Param::Parameters* set, wxWindow* parent, wxWindowID id,
                  const wxString& title, const wxPoint& pos = wxDefaultPosition,
                  const wxSize& size = wxDefaultSize, long style = kFloatingWindowStyle);
    ~FineTuneFrame() override;

    // A pick ended: the bases return to 0, the pick counts for the current image and the swatch
    // shows the new colour.
    void resetOffsets();
    // The swatch probes the picked colour through the current key again and repaints.
    void probeSwatch();

    FineTuneViewer* swatch() const { return swatch_; }
    const FineTuneOffsets& offsets() const { return offsets_; }
    // The record of one kind (vantrelo::FineTuneKind: 0 "Remove Spill", 1 "Transparency",
    // 2 "Restore Details").
    Mav::Host::Param::ParamRecord& record(int kind) { return records_[kind]; }
    // Whether a pick was made on the image now shown since the window opened.
    bool pickedOnCurrentImage() const;

    void onParamChanging(wxCommandEvent& event);
    void onParamChangedLive(wxCommandEvent& event);
    void onParamChanged(wxCommandEvent& event);
    void onClose(wxCloseEvent& event);

private:
    // The kind a pseudo-index stands for, or -1.
    static int kindOf(std::uint64_t index);
    FineTuneAmounts amounts() const;
    // The three key-data parameters announced through the main window in one change group.
    void announceKeyData(wxEventType type);
    void springBack();

    FineTuneViewer* swatch_ = nullptr;
    std::array<Mav::Host::Param::ParamRecord, 3> records_;
    FineTuneOffsets offsets_;
    // Which image is shown (the main window's current input); the pick's image is remembered.
    std::function<std::uint64_t()> currentImage_;
    std::optional<std::uint64_t> pickedImage_;

    wxDECLARE_EVENT_TABLE();
};
