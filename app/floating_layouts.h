#pragma once
// The layouts of the five floating settings windows: each function creates its window's controls
// (children of the window, with the ids below), arranges them in sizers and returns the top sizer.
// With setSizer the tree becomes the window's sizer, and with fit as well the window's minimum
// client size and client size become the tree's fitting size, so the window opens exactly as big
// as its controls and cannot be made smaller.  The windows' constructors bind the controls
// afterwards, finding them by id.  Every label and choice item is translated.
//
// Sliders are made with range 0..100 and value 0 and take their real range from the record they
// are bound to; text fields start empty.

#include <wx/defs.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

#include <functional>

class wxSizer;
class wxWindow;

enum FloatingControlId : int {
    // Auto-mask window.
    kAutoMaskAlwaysOnId = 10056,         // check box "Always On"
    kAutoMaskRadiusCaptionId = 10057,
    kAutoMaskRadiusTextId = 10058,
    kAutoMaskRadiusSliderId = 10059,
    kAutoMaskSpillCaptionId = 10060,     // "Spill Suppression"
    kAutoMaskSpillTextId = 10061,
    kAutoMaskSpillSliderId = 10062,
    kAutoMaskColourCaptionId = 10063,    // "Color Correction"
    kAutoMaskColourTextId = 10064,
    kAutoMaskColourSliderId = 10065,
    // Fine tune window (its three captions have no id of their own).
    kFineTuneTransparencyTextId = 10066,
    kFineTuneTransparencySliderId = 10067,
    kFineTuneRemoveSpillTextId = 10068,
    kFineTuneRemoveSpillSliderId = 10069,
    kFineTuneRestoreDetailsTextId = 10070,
    kFineTuneRestoreDetailsSliderId = 10071,
    kFineTuneSwatchId = 10072,           // the colour swatch, 160 x 80
    // Remove-noise window.
    kToleranceCaptionId = 10073,
    kToleranceTextId = 10074,
    kToleranceSliderId = 10075,
    kGrainOffId = 10076,                 // toggles with pictures 24 to 27
    kGrainSmallId = 10077,
    kGrainMediumId = 10078,
    kGrainLargeId = 10079,
    // Soften-matte window.
    kSoftenCaptionId = 10080,
    kSoftenTextId = 10081,
    kSoftenSliderId = 10082,
    kShrinkCaptionId = 10083,
    kShrinkTextId = 10084,
    kShrinkSliderId = 10085,
    kInOnlyId = 10086,                   // check box "In Only"
    // Light-wrap window.
    kLightWrapRadiusCaptionId = 10087,
    kLightWrapRadiusTextId = 10088,
    kLightWrapRadiusSliderId = 10089,
    kLightWrapBrightnessCaptionId = 10090,
    kLightWrapBrightnessTextId = 10091,
    kLightWrapBrightnessSliderId = 10092,
    kLightWrapBlendCaptionId = 10093,
    kLightWrapBlendChoiceId = 10094,     // the six blend modes, selection index = value
};

wxSizer* buildAutoMaskLayout(wxWindow* parent, bool fit, bool setSizer);

// The swatch's class belongs to the fine tune window, which hands in how to make it; without a
// factory the swatch is a plain window.  Either way it gets the id, size, style and name given.
using SwatchFactory = std::function<wxWindow*(wxWindow* parent, wxWindowID id, const wxSize& size,
                                              long style, const wxString& name)>;
wxSizer* buildFineTuneLayout(wxWindow* parent, bool fit, bool setSizer,
                             const SwatchFactory& makeSwatch = {});

wxSizer* buildRemoveNoiseLayout(wxWindow* parent, bool fit, bool setSizer);
wxSizer* buildSoftenMatteLayout(wxWindow* parent, bool fit, bool setSizer);
wxSizer* buildLightWrapLayout(wxWindow* parent, bool fit, bool setSizer);
