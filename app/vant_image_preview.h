#pragma once
// The interactive preview of the main keying window.
//
// VantImagePreview is the viewer panel (host/param/viewer_panel.h) with the keying tools added:
// eight samplers and the fine-tune pick turn pointer strokes into EVT_PREVIEW_SAMPLE events, the
// move, rotate and scale tools write the engine adapter's layer matrices directly and announce
// parameters 27 to 29, and the pan and zoom tools drag the view.  Its own settings live in five
// local records that the main window binds to its buttons under the pseudo-indices n .. n + 4
// (n = the number of records in the parameter set, 39).
//
// Wiring (the main window): set `viewer` to the embedded viewer and `bridge` to the plug-in's
// adapter; bind the five records; call updateCursor when the tool or a target changes; handle
// EVT_PREVIEW_SAMPLE.  While `viewer` is null every handler returns at once.
//
// A stroke: press (phase 0 for a point stroke), motion (phase 1 per point; the box follows the
// pointer), release (phase 2, or the box's 0 / 1 with a block / 2).  The second of two quick
// presses, which GTK delivers as a double click, is a press like any other.  A press that starts
// as a hand gesture with the space bar (or with the pan tool) stays a pan until it is released:
// it samples nothing, starts no box and sends no end of stroke; space pressed during a real
// stroke pans only for the motions it is held.  When the panel loses the mouse capture the drag
// ends as the left button's release would.
//
// Coordinates.  Window: the pointer in the panel.  Pan offset (ox, oy): the viewer's pan offset
// over its content scale, truncated.  Stroke points and box corners are image-relative (window
// minus pan offset), so they stay on the picture while the view pans.  Colours are read through
// Viewer::pixelAt at window positions.
//
// User-interface thread only; every event is processed before the sending call returns.

#include <wx/event.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/param/param_record.h"
#include "host/param/viewer_panel.h"
#include "kernels/matrix3.h"

namespace vantrelo {
class CVantreloBridge;
}

// The client data of EVT_PREVIEW_SAMPLE.  It lives in the sender for one synchronous send: the
// receiver copies what it keeps.
struct PreviewSample {
    std::uint16_t colour[4] = {0, 0, 0, 0};  // R, G, B, A, 0..65535; zero when nothing was read
    std::int32_t phase = 0;                  // 0 start of a stroke, 1 continuation, 2 end
    bool valid = false;                      // colour read from the picture; true with a block
    // The box's phase-1 event: blockWidth x blockHeight colours of four channels, row by row from
    // the top; null otherwise.  Owned by the sender.
    const std::uint16_t* block = nullptr;
    std::int64_t blockWidth = 0;
    std::int64_t blockHeight = 0;
};

// A command event built as sendParamEvent builds a parameter event: id (parameter index) 0, the
// PreviewSample as client data, extra 0, the panel as event object.  Processed at once by the
// panel's handler and, unhandled there, passed up to the main window.
wxDECLARE_EVENT(EVT_PREVIEW_SAMPLE, wxCommandEvent);

// Values of "Current Control" (what the tool buttons write).
enum PreviewTool : std::int32_t {
    kToolSelect = 0,         // sample mode 0
    kToolCleanBg = 1,        // sample mode 1
    kToolCleanFg = 2,        // sample mode 2
    kToolSpillMinus = 3,     // sample mode 8
    kToolSpillSponge = 4,    // sample mode 4
    kToolRestoreDetail = 5,  // sample mode 7
    kToolMakeTrans = 6,      // sample mode 6
    kToolMatteSponge = 7,    // sample mode 5
    kToolMoveLayers = 8,     // move the selected layers (a hand gesture when a target is selected)
    kToolRotateLayers = 9,
    kToolScaleLayers = 10,
    kToolPanView = 11,
    kToolZoomView = 12,
    kToolFineTunePick = 13,  // sample mode 3
};

// Values of "Selection Control".
enum PreviewSelection : std::int32_t { kSelectPoint = 0, kSelectBox = 1 };

// The local records' pseudo-indices are n + these offsets.
inline constexpr std::size_t kPreviewToolOffset = 0;             // "Current Control"
inline constexpr std::size_t kPreviewSelectionOffset = 1;        // "Selection Control"
inline constexpr std::size_t kPreviewTransformBackdropOffset = 2;  // target: parameter 27
inline constexpr std::size_t kPreviewTransformSubjectOffset = 3;   // target: parameter 28
inline constexpr std::size_t kPreviewTransformOverlayOffset = 4;   // target: parameter 29
inline constexpr std::size_t kPreviewRecordCount = 5;

// The sample mode a tool sets on press, or -1 for the layer and view tools (8 to 12) and values
// that are no tool.
int sampleModeOfTool(std::int32_t tool);

class VantImagePreview : public Mav::Host::Param::ViewerPanel {
public:
    struct Point {
        std::int32_t x = 0;
        std::int32_t y = 0;
        bool operator==(const Point&) const = default;
    };

    VantImagePreview(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                     const wxSize& size = wxDefaultSize, long style = 0,
                     const wxString& name = wxASCII_STR("panel"));
    ~VantImagePreview() override;

    // The rendered preview, then the stroke (point selection) or the box over it, inverted.
    void paint(wxDC& dc) override;

    // Tool value outside 8 to 12.
    bool isSamplingTool() const;
    // Tool 8 with a target selected; tool 11; any other tool with the space bar held.
    bool isHandGesture() const;
    // Open hand for a hand gesture, else the tool cursor; nothing while the mouse is captured.
    void updateCursor();

    // The colour of the subject pixel drawn at a window position, 0..65535 per channel; false and
    // zeros outside the picture.
    bool samplePixel(int x, int y, std::uint16_t colour[4]);
    // The same after carrying the position through `m` in preview-image coordinates.  False
    // (zeros) when the mapped point is not finite, w is 0, or it lies beyond +-2^30.
    bool samplePixelTransformed(int x, int y, const vantrelo::Matrix3& m, std::uint16_t colour[4]);
    // The subject transform the render applies at the viewer's render scale s = min(zoom, 1):
    // S(s) T(c) F T(-c) S(1/s), F the adapter's foregroundTransform, c the picture's centre in
    // full-resolution pixels.  Sampling uses its inverse.
    vantrelo::Matrix3 subjectViewMatrix();
    // Reads one colour at a window position: directly while the subject is untransformed, else
    // through the inverse of subjectViewMatrix.
    bool sampleAt(int x, int y, std::uint16_t colour[4]);
    // Samples the box (image-relative top-left, width, height) and sends its events: nothing when
    // fewer than two columns or rows are readable; else phase 0, one phase-1 block (cols x rows
    // when every pixel of the readable span reads, otherwise the readable colours as one row), 2.
    void sampleBox(int x, int y, int width, int height);

    // The viewer's pan offset in window pixels: where the picture's corner lies from the drawing
    // rectangle's corner.  Pan drags anchor on it.
    Point panOffset() const;
    // The window position of the picture's top-left pixel: the drawing rectangle's corner (the
    // panel's frame inset) plus the pan offset.  Image-relative coordinates count from it.
    Point imageOrigin() const;
    std::int32_t tool() const { return currentControl.value().getInt(); }
    std::int32_t selection() const { return selectionControl.value().getInt(); }
    bool anyTarget() const;

    // ---- State.

    std::vector<Point> strokePoints;  // image-relative
    Point pointerDown;                // window position of the last press
    Point boxCorners[2];              // image-relative; [0] set on press, [1] follows the pointer
    vantrelo::Matrix3 startMatrices[3];  // backdrop, subject, overlay at the last press
    float zoomAtPress = 1.0f;
    vantrelo::CVantreloBridge* bridge = nullptr;  // not owned; set by the main window

    // The local records (pseudo-indices n .. n + 4); flags ParamNoRender, codes 0, never saved.
    Mav::Host::Param::ParamRecord currentControl;     // popup 0..10 labels, value any tool 0..13
    Mav::Host::Param::ParamRecord selectionControl;   // popup "point", "box"
    Mav::Host::Param::ParamRecord transformBackdrop;  // bool
    Mav::Host::Param::ParamRecord transformSubject;   // bool
    Mav::Host::Param::ParamRecord transformOverlay;   // bool

    bool spaceHeld = false;

private:
    void onToolKeyDown(wxKeyEvent& event);
    void onToolKeyUp(wxKeyEvent& event);
    void onToolLeftDown(wxMouseEvent& event);
    void onToolLeftUp(wxMouseEvent& event);
    void onToolMotion(wxMouseEvent& event);
    void onToolCaptureLost(wxMouseCaptureLostEvent& event);

    // The release: ends the stroke (when the capture was held), the layer change and the drag.
    void endStroke(bool hadCapture);
    void sendSample(std::int32_t phase, const std::uint16_t colour[4], bool valid,
                    const std::uint16_t* block = nullptr, std::int64_t width = 0,
                    std::int64_t height = 0);
    // EVT_PARAM_CHANGING / _CHANGED_LIVE / _CHANGED for the selected targets in one change group.
    void announceTargets(wxEventType type);
    void dragLayers(const wxMouseEvent& event);
    void dragZoom(int x);
    bool shiftOnly(const wxMouseEvent& event) const;

    // What the last press started; its release (or the loss of the capture) ends that and nothing
    // else, so a box is only sampled from a corner its own press set.
    enum class Stroke { None, Points, Box };
    Stroke stroke_ = Stroke::None;
    bool layerChange_ = false;  // tools 8 to 10 announced EVT_PARAM_CHANGING for the targets
    bool panPress_ = false;     // the press began as a pan: it stays one until released

    wxDECLARE_EVENT_TABLE();
};
