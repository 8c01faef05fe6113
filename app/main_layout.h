#pragma once
// The layout of the main keying window: one function creates every control, arranges them in the
// sizer tree and returns the top sizer.  The window binds the controls afterwards, finding them by
// the ids below among its descendants.
//
// Along the top: the reset and checkpoint buttons above the navigation box (where "<" and ">" go
// when there are several inputs), the "View Options", "Display Options" and "Fix Matte" groups,
// OK and Cancel.  Left: the keying tools.  Middle: the preview, the one cell that grows.  Right:
// view tools, the "Move" group and the backdrop and overlay lists, which share the height that is
// left.  The two side columns are windows of their own (children of the main window, holding
// their controls) that scroll vertically, so the window fits a short screen: it needs no more
// height than the top strip and a small preview, and every control stays reachable.
//
// Sizer flags that the toolkit would reject (alignment along a box's own direction, alignment
// beside wxEXPAND) are dropped, so the tree places every control as the flags it keeps say.

#include <wx/defs.h>

class wxSizer;
class wxWindow;

enum MainControlId : int {
    kViewForegroundId = 10000,   // "mask mode" radio group, values 0 to 3
    kViewMaskId = 10001,
    kViewFrontId = 10002,
    kViewBackId = 10003,
    kBackdropColourModeId = 10004,  // "background mode" 0
    kBackdropColourId = 10005,      // colour button of "BG color"
    kBackdropLayerModeId = 10006,   // "background mode" 2
    kTransparentId = 10007,         // "transparency mode" 1
    kSplitId = 10008,               // "transparency mode" 2
    kLayerChoiceId = 10009,         // always empty and disabled
    kRemoveNoiseToggleId = 10010,   // opens the remove-noise window
    kSoftenMatteId = 10011,         // "enable soften matte"
    kMatteSettingsToggleId = 10012, // opens the soften-matte window
    kSpillModeId = 10013,
    kAutoMaskButtonId = 10014,      // "AutoMask": one automatic key
    kAutoMaskToggleId = 10015,      // opens the auto-mask window
    kSelectToolId = 10016,          // "Current Control" 0
    kCleanBackgroundToolId = 10017, // 1
    kCleanForegroundToolId = 10018, // 2
    kBoxSelectionId = 10019,        // "Selection Control" 1
    kPointSelectionId = 10020,      // "Selection Control" 0
    kSpillMinusToolId = 10021,      // 3
    kSpillSpongeToolId = 10022,     // 4
    kLightWrapId = 10023,           // "enable LightWrap"
    kLightWrapToggleId = 10024,     // opens the light-wrap window
    kFineTuneToolId = 10025,        // 13, and opens the fine-tune window
    kRestoreDetailToolId = 10026,   // 5
    kMakeTransparentToolId = 10027, // 6
    kMatteSpongeToolId = 10028,     // 7
    kFixLightingId = 10029,         // "adjust lighting"
    kLightingGridTextId = 10030,    // "adjust lighting grid"
    kLightingGridSliderId = 10031,
    kPreviewId = 10032,             // the interactive preview
    kPanToolId = 10033,             // 11
    kZoomToolId = 10034,            // 12
    kZoomFieldId = 10035,           // the viewer's zoom, in percent
    kMoveToolId = 10036,            // 8
    kRotateToolId = 10037,          // 9
    kScaleToolId = 10038,           // 10
    kResetTransformsId = 10039,
    kTransformOverlayId = 10040,
    kTransformSubjectId = 10041,
    kTransformBackdropId = 10042,
    kRenderAgainstBackdropId = 10043,
    kBackdropToFrontId = 10044,
    kBackdropAddId = 10045,
    kBackdropDeleteId = 10046,
    kBackdropListId = 10047,
    kOverlayToFrontId = 10048,
    kOverlayAddId = 10049,
    kOverlayDeleteId = 10050,
    kOverlayListId = 10051,
    kScaleToFitId = 10052,
    kBackdropBlurCaptionId = 10053,
    kBackdropBlurTextId = 10054,
    kBackdropBlurSliderId = 10055,
};

// The toolkit's command ids that the layout uses for its buttons.
inline constexpr int kResetId = wxID_RESET;          // 5111: every parameter to its default
inline constexpr int kSetCheckpointId = 6002;
inline constexpr int kRevertToCheckpointId = 6003;
inline constexpr int kZoomOutId = wxID_ZOOM_OUT;     // 5138
inline constexpr int kZoomInId = wxID_ZOOM_IN;       // 5137

// Creates the controls and the sizer tree.  With setSizer the tree becomes the window's sizer;
// with fit as well the window's minimum client size and client size become the tree's fitting
// size.
wxSizer* buildMainLayout(wxWindow* parent, bool fit, bool setSizer);

// The navigation box inside the tree a window got from buildMainLayout: the empty horizontal box
// below the reset and checkpoint buttons.  Null for any other tree.
wxSizer* navigationSizer(wxSizer* top);
