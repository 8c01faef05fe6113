#include "app/floating_layouts.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/window.h>

#include "app/layout_controls.h"

namespace {

using namespace layout_controls;

// How most items sit in their cell.
const int kCentred = wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
const int kCaption = wxALL | wxALIGN_CENTER_VERTICAL;
constexpr int kBorder = 5;
constexpr int kFieldWidth = 80;
constexpr int kSliderWidth = 100;
// Wider than any text of the fields: the settings run to 100 (the colour correction to 200), the
// fine tune offsets from -100.
const char* const kWidestNumber = "-100.00";

// A caption, its number field and the field's slider, each centred in its cell.
void addSliderRow(wxWindow* parent, wxSizer* sizer, wxWindowID captionId, const wxString& label,
                  wxWindowID fieldId, wxWindowID sliderId) {
    sizer->Add(caption(parent, captionId, label), 0, kCentred, kBorder);
    sizer->Add(numberField(parent, fieldId, kFieldWidth, kWidestNumber), 0, kCentred, kBorder);
    sizer->Add(slider(parent, sliderId, kSliderWidth), 0, kCentred, kBorder);
}

wxSizer* finish(wxWindow* parent, wxSizer* top, bool fit, bool setSizer) {
    if (setSizer) {
        parent->SetSizer(top);
        if (fit) top->SetSizeHints(parent);
    }
    return top;
}

}  // namespace

wxSizer* buildAutoMaskLayout(wxWindow* parent, bool fit, bool setSizer) {
    auto* grid = new wxFlexGridSizer(3, 0, 0);
    grid->Add(checkBox(parent, kAutoMaskAlwaysOnId, _("Always On")), 0, kCentred, kBorder);
    grid->Add(20, 20, 0, kCentred, kBorder);
    grid->Add(20, 20, 0, kCentred, kBorder);
    addSliderRow(parent, grid, kAutoMaskRadiusCaptionId, _("Radius"), kAutoMaskRadiusTextId,
                 kAutoMaskRadiusSliderId);
    addSliderRow(parent, grid, kAutoMaskSpillCaptionId, _("Spill Suppression"),
                 kAutoMaskSpillTextId, kAutoMaskSpillSliderId);
    addSliderRow(parent, grid, kAutoMaskColourCaptionId, _("Color Correction"),
                 kAutoMaskColourTextId, kAutoMaskColourSliderId);
    return finish(parent, grid, fit, setSizer);
}

wxSizer* buildFineTuneLayout(wxWindow* parent, bool fit, bool setSizer,
                             const SwatchFactory& makeSwatch) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* grid = new wxFlexGridSizer(3, 0, 0);
    const struct {
        const wxString label;
        wxWindowID field, slider;
    } rows[] = {
        {_("Transparency"), kFineTuneTransparencyTextId, kFineTuneTransparencySliderId},
        {_("Remove Spill"), kFineTuneRemoveSpillTextId, kFineTuneRemoveSpillSliderId},
        {_("Restore Details"), kFineTuneRestoreDetailsTextId, kFineTuneRestoreDetailsSliderId},
    };
    for (const auto& r : rows) {
        grid->Add(caption(parent, wxID_ANY, r.label), 0, kCaption, kBorder);
        grid->Add(numberField(parent, r.field, kFieldWidth, kWidestNumber), 0, kCentred, kBorder);
        grid->Add(slider(parent, r.slider, kSliderWidth), 0, kCentred, kBorder);
    }
    row->Add(grid, 0, kCentred, kBorder);

    auto* swatchColumn = new wxBoxSizer(wxVERTICAL);
    const wxSize swatchSize(160, 80);
    const wxString swatchName = "Fine Tune Viewer";
    wxWindow* swatch = makeSwatch
                           ? makeSwatch(parent, kFineTuneSwatchId, swatchSize, 0, swatchName)
                           : new wxWindow(parent, kFineTuneSwatchId, wxDefaultPosition, swatchSize,
                                          0, swatchName);
    swatchColumn->Add(swatch, 0, kCentred, kBorder);
    row->Add(swatchColumn, 0, kCentred, kBorder);
    return finish(parent, row, fit, setSizer);
}

wxSizer* buildRemoveNoiseLayout(wxWindow* parent, bool fit, bool setSizer) {
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto* toleranceRow = new wxBoxSizer(wxHORIZONTAL);
    addSliderRow(parent, toleranceRow, kToleranceCaptionId, _("Tolerance"), kToleranceTextId,
                 kToleranceSliderId);
    column->Add(toleranceRow, 0, kCentred, kBorder);

    auto* grainRow = new wxBoxSizer(wxHORIZONTAL);
    grainRow->Add(pictureToggle(parent, kGrainOffId, 24, wxSize(40, 40)), 0, kCentred, kBorder);
    grainRow->Add(pictureToggle(parent, kGrainSmallId, 25, wxSize(50, 40)), 0, kCentred, kBorder);
    grainRow->Add(pictureToggle(parent, kGrainMediumId, 26, wxSize(50, 40)), 0, kCentred,
                  kBorder);
    grainRow->Add(pictureToggle(parent, kGrainLargeId, 27, wxSize(50, 40)), 0, kCentred, kBorder);
    column->Add(grainRow, 0, kCentred, kBorder);
    return finish(parent, column, fit, setSizer);
}

wxSizer* buildSoftenMatteLayout(wxWindow* parent, bool fit, bool setSizer) {
    auto* grid = new wxFlexGridSizer(2, 0, 0);
    auto* rows = new wxBoxSizer(wxVERTICAL);
    auto* softenRow = new wxBoxSizer(wxHORIZONTAL);
    addSliderRow(parent, softenRow, kSoftenCaptionId, _("Soften Matte"), kSoftenTextId,
                 kSoftenSliderId);
    rows->Add(softenRow, 0, kCentred, kBorder);
    auto* shrinkRow = new wxBoxSizer(wxHORIZONTAL);
    addSliderRow(parent, shrinkRow, kShrinkCaptionId, _("Shrink Matte"), kShrinkTextId,
                 kShrinkSliderId);
    rows->Add(shrinkRow, 0, kCentred, kBorder);
    grid->Add(rows, 0, kCentred, kBorder);
    grid->Add(checkBox(parent, kInOnlyId, _("In Only")), 0, kCentred, kBorder);
    return finish(parent, grid, fit, setSizer);
}

wxSizer* buildLightWrapLayout(wxWindow* parent, bool fit, bool setSizer) {
    auto* grid = new wxFlexGridSizer(3, 0, 0);
    grid->Add(caption(parent, kLightWrapRadiusCaptionId, _("Radius")), 1, kCaption, kBorder);
    grid->Add(numberField(parent, kLightWrapRadiusTextId, kFieldWidth, kWidestNumber), 0,
              wxALL | wxEXPAND, kBorder);
    grid->Add(slider(parent, kLightWrapRadiusSliderId, kSliderWidth), 0, kCentred, kBorder);

    grid->Add(caption(parent, kLightWrapBrightnessCaptionId, _("Brightness")), 1, kCaption,
              kBorder);
    grid->Add(numberField(parent, kLightWrapBrightnessTextId, 100, kWidestNumber), 0,
              wxALL | wxEXPAND, kBorder);
    grid->Add(slider(parent, kLightWrapBrightnessSliderId, kSliderWidth), 0, kCentred,
              kBorder);

    grid->Add(caption(parent, kLightWrapBlendCaptionId, _("Blend Mode")), 0, kCaption, kBorder);
    // The items are the six choices of "lightwrap blend mode", in order: selection = value.
    wxArrayString modes;
    for (const wxString& mode : {_("Soft Light"), _("Overlay"), _("Add"), _("Multiply"),
                                 _("Screen"), _("Color")})
        modes.Add(mode);
    grid->Add(choice(parent, kLightWrapBlendChoiceId, modes), 0, kCentred, kBorder);
    // The third cell of this row stays empty.
    return finish(parent, grid, fit, setSizer);
}
