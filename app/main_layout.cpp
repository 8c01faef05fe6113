#include "app/main_layout.h"

#include <wx/button.h>
#include <wx/bmpbuttn.h>
#include <wx/choice.h>
#include <wx/checkbox.h>
#include <wx/font.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <utility>

#include "app/layout_controls.h"
#include "app/vant_image_preview.h"
#include "host/param/color_button.h"

namespace {

using namespace layout_controls;

constexpr int kCentred = wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
constexpr int kUsual = wxALL | kCentred;
constexpr int kBorder = 5;
constexpr int kFieldWidth = 60;
// The widest texts of the number fields: the lighting grid runs to 100, the zoom to 800 %, the
// backdrop blur to 100.
const char* const kWidestGrid = "100";
const char* const kWidestZoom = "800.00";
const char* const kWidestBlur = "100.00";
// One turn of the mouse wheel or one arrow press in a side column.
constexpr int kColumnScrollStep = 10;

// The flags without those the toolkit asserts on for an item of `sizer`: in a box, alignment
// along its own direction (kept only as half of "centred both ways") and alignment across it
// beside wxEXPAND; in a grid, alignment both ways beside wxEXPAND.  What is dropped had no effect
// on the placement.
int acceptedFlags(const wxSizer* sizer, int flags) {
    constexpr int horizontal = wxALIGN_RIGHT | wxALIGN_CENTER_HORIZONTAL;
    constexpr int vertical = wxALIGN_BOTTOM | wxALIGN_CENTER_VERTICAL;
    if (const auto* box = dynamic_cast<const wxBoxSizer*>(sizer)) {
        const bool isVertical = box->GetOrientation() == wxVERTICAL;
        const int across = isVertical ? horizontal : vertical;
        const int along = isVertical ? vertical : horizontal;
        const int alongCentre = isVertical ? wxALIGN_CENTER_VERTICAL : wxALIGN_CENTER_HORIZONTAL;
        const int acrossCentre = isVertical ? wxALIGN_CENTER_HORIZONTAL : wxALIGN_CENTER_VERTICAL;
        if ((flags & wxEXPAND) && !(flags & wxSHAPED)) flags &= ~across;
        flags &= ~(along & ~alongCentre);
        if (!(flags & acrossCentre)) flags &= ~alongCentre;
    } else if (dynamic_cast<const wxGridSizer*>(sizer)) {
        if ((flags & wxEXPAND) && (flags & horizontal) && (flags & vertical)) flags &= ~wxEXPAND;
    }
    return flags;
}

wxSizerItem* add(wxSizer* sizer, wxWindow* window, int proportion = 0, int flags = kUsual) {
    return sizer->Add(window, proportion, acceptedFlags(sizer, flags), kBorder);
}

wxSizerItem* add(wxSizer* sizer, wxSizer* inner, int proportion = 0, int flags = kUsual) {
    return sizer->Add(inner, proportion, acceptedFlags(sizer, flags), kBorder);
}

wxToggleButton* toggle(wxWindow* parent, wxWindowID id, const wxString& label) {
    return new wxToggleButton(parent, id, label, wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "check");
}

wxButton* button(wxWindow* parent, wxWindowID id, const wxString& label) {
    return new wxButton(parent, id, label, wxDefaultPosition, wxDefaultSize, 0,
                        wxDefaultValidator, "button");
}

wxListBox* layerList(wxWindow* parent, wxWindowID id) {
    return new wxListBox(parent, id, wxDefaultPosition, wxDefaultSize, 0, nullptr, wxLB_EXTENDED,
                         wxDefaultValidator, "listBox");
}

wxStaticBoxSizer* group(wxWindow* parent, const wxString& label, int orientation) {
    auto* box = new wxStaticBox(parent, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, 0,
                                "groupBox");
    return new wxStaticBoxSizer(box, orientation);
}

// The strip along the top: the three groups of view, display and matte settings.
wxSizer* topGroups(wxWindow* parent) {
    auto* groups = new wxFlexGridSizer(3, 0, 0);

    wxStaticBoxSizer* view = group(parent, _("View Options"), wxHORIZONTAL);
    add(view, pictureToggle(parent, kViewForegroundId, 10, wxSize(40, 50)));
    add(view, pictureToggle(parent, kViewMaskId, 11, wxSize(40, 50)));
    add(view, pictureToggle(parent, kViewFrontId, 12, wxSize(40, 50)));
    add(view, pictureToggle(parent, kViewBackId, 13, wxSize(40, 50)));
    add(groups, view, 0, wxTOP | wxBOTTOM | wxRIGHT | wxEXPAND | wxALIGN_CENTER_HORIZONTAL);

    wxStaticBoxSizer* display = group(parent, _("Display Options"), wxHORIZONTAL);
    add(display, pictureToggle(parent, kBackdropColourModeId, 9, wxSize(40, 50)));
    add(display, new Compact<Mav::Host::Param::ColorButton>(
                     parent, kBackdropColourId, wxDefaultPosition, wxSize(15, 15), wxBU_AUTODRAW,
                     wxDefaultValidator, "colorButton"));
    add(display, pictureToggle(parent, kBackdropLayerModeId, 8, wxSize(40, 50)));
    auto* transparency = new wxBoxSizer(wxVERTICAL);
    auto* transparencyButtons = new wxBoxSizer(wxHORIZONTAL);
    add(transparencyButtons, pictureToggle(parent, kTransparentId, 28, wxSize(40, 20)));
    add(transparencyButtons, pictureToggle(parent, kSplitId, 29, wxSize(40, 20)));
    add(transparency, transparencyButtons, 0, kCentred);
    add(transparency, choice(parent, kLayerChoiceId, {}), 0, wxALL | wxALIGN_CENTER_VERTICAL);
    add(display, transparency, 0, kCentred);
    add(groups, display, 0, wxALL | wxEXPAND | wxALIGN_CENTER_HORIZONTAL);

    wxStaticBoxSizer* matte = group(parent, _("Fix Matte"), wxHORIZONTAL);
    auto* matteRow = new wxBoxSizer(wxHORIZONTAL);
    add(matteRow, pictureToggle(parent, kRemoveNoiseToggleId, 38, wxSize(44, 52)));
    add(matteRow, pictureToggle(parent, kSoftenMatteId, 7, wxSize(44, 52)));
    auto* matteColumn = new wxBoxSizer(wxVERTICAL);
    add(matteColumn, toggle(parent, kMatteSettingsToggleId, _("Matte Settings")), 0,
        wxALIGN_CENTER_VERTICAL);
    wxArrayString spillModes;
    spillModes.Add(_("spill complement"));
    spillModes.Add(_("spill solid"));
    spillModes.Add(_("spill defocus background"));
    add(matteColumn, choice(parent, kSpillModeId, spillModes), 0,
        wxTOP | wxBOTTOM | wxLEFT | kCentred);
    add(matteRow, matteColumn, 0, wxALIGN_BOTTOM | wxALIGN_CENTER_HORIZONTAL);
    add(matte, matteRow, 0, kCentred);
    add(groups, matte, 0, wxTOP | wxBOTTOM | wxLEFT | wxEXPAND | wxALIGN_CENTER_HORIZONTAL);
    return groups;
}

// The left column: automatic and manual keying tools, spill tools, lighting correction.
wxSizer* toolColumn(wxWindow* parent) {
    auto* column = new wxBoxSizer(wxVERTICAL);

    wxStaticBoxSizer* masking = group(parent, _("Masking"), wxVERTICAL);
    add(masking, button(parent, kAutoMaskButtonId, _("AutoMask")));
    add(masking, toggle(parent, kAutoMaskToggleId, _("AM Settings")));
    add(masking, caption(parent, wxID_ANY, _("3-Step Mask")));
    add(masking, pictureToggle(parent, kSelectToolId, 15, wxSize(85, 25)));
    add(masking, pictureToggle(parent, kCleanBackgroundToolId, 16, wxSize(85, 25)));
    add(masking, pictureToggle(parent, kCleanForegroundToolId, 17, wxSize(85, 25)));
    add(masking, caption(parent, wxID_ANY, _("Selection Tool")));
    auto* selection = new wxFlexGridSizer(2, 0, 0);
    add(selection, pictureToggle(parent, kBoxSelectionId, 18, wxSize(40, 20)));
    add(selection, pictureToggle(parent, kPointSelectionId, 19, wxSize(40, 20)));
    add(masking, selection, 0, kCentred);
    add(column, masking, 0, wxALL | wxEXPAND | wxALIGN_CENTER_VERTICAL);

    wxStaticBoxSizer* spill = group(parent, _("Remove Spill"), wxVERTICAL);
    auto* spillTools = new wxFlexGridSizer(2, 0, 0);
    add(spillTools, pictureToggle(parent, kSpillMinusToolId, 30, wxSize(40, 40)));
    add(spillTools, pictureToggle(parent, kSpillSpongeToolId, 37, wxSize(40, 40)));
    add(spill, spillTools, 0, kCentred);
    add(spill, checkBox(parent, kLightWrapId, _("Light Wrap")), 0, wxLEFT | wxRIGHT | kCentred);
    add(spill, toggle(parent, kLightWrapToggleId, _("LW Settings")));
    add(column, spill, 0, wxALL | wxEXPAND | wxALIGN_CENTER_VERTICAL);

    wxStaticBoxSizer* advanced = group(parent, _("Advanced Spill"), wxVERTICAL);
    add(advanced, pictureToggle(parent, kFineTuneToolId, 23, wxSize(85, 25)));
    auto* advancedTools = new wxFlexGridSizer(3, 0, 0);
    add(advancedTools, pictureToggle(parent, kRestoreDetailToolId, 20, wxSize(40, 40)), 0,
        wxTOP | wxBOTTOM | wxRIGHT | kCentred);
    add(advancedTools, pictureToggle(parent, kMakeTransparentToolId, 22, wxSize(40, 40)));
    add(advancedTools, pictureToggle(parent, kMatteSpongeToolId, 21, wxSize(40, 40)), 0,
        wxTOP | wxBOTTOM | wxLEFT | kCentred);
    add(advanced, advancedTools, 1);
    add(column, advanced);

    add(column, toggle(parent, kFixLightingId, _("Fix Lighting")));
    auto* grid = new wxBoxSizer(wxHORIZONTAL);
    add(grid, numberField(parent, kLightingGridTextId, kFieldWidth, kWidestGrid));
    add(grid, slider(parent, kLightingGridSliderId, 60));
    add(column, grid);
    return column;
}

// The list of one layer kind under its caption and its three buttons.
wxSizer* layerBlock(wxWindow* parent, const wxString& title, wxWindowID toFront, wxWindowID addId,
                    wxWindowID deleteId, wxWindowID listId) {
    auto* block = new wxBoxSizer(wxVERTICAL);
    auto* heading = new wxBoxSizer(wxHORIZONTAL);
    add(heading, caption(parent, wxID_ANY, title), 1, kCentred);
    add(heading, pictureButton(parent, toFront, 4, wxSize(19, 19)), 0, kCentred);
    add(heading, pictureButton(parent, addId, 5, wxSize(19, 19)), 0, kCentred);
    add(heading, pictureButton(parent, deleteId, 6, wxSize(19, 19)), 0, kCentred);
    add(block, heading, 0, wxALL | wxEXPAND | wxALIGN_CENTER_VERTICAL);
    add(block, layerList(parent, listId), 1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
    return block;
}

// The right column: view tools, the layer transforms and the layer lists.
wxSizer* layerColumn(wxWindow* parent) {
    auto* column = new wxBoxSizer(wxVERTICAL);

    auto* viewTools = new wxBoxSizer(wxHORIZONTAL);
    add(viewTools, pictureToggle(parent, kPanToolId, 32, wxSize(40, 40)));
    add(viewTools, pictureToggle(parent, kZoomToolId, 36, wxSize(40, 40)));
    add(column, viewTools, 0, kCentred);

    auto* zoom = new wxBoxSizer(wxHORIZONTAL);
    add(zoom, pictureButton(parent, kZoomOutId, 6, wxSize(19, 19)));
    add(zoom, numberField(parent, kZoomFieldId, kFieldWidth, kWidestZoom), 0,
        wxALL | wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL);
    add(zoom, pictureButton(parent, kZoomInId, 5, wxSize(19, 19)));
    add(column, zoom);

    wxStaticBoxSizer* move = group(parent, _("Move"), wxVERTICAL);
    move->GetStaticBox()->SetFont(
        wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false));
    auto* transformTools = new wxGridSizer(2, 0, 0);
    add(transformTools, pictureToggle(parent, kMoveToolId, 33, wxSize(40, 40)));
    add(transformTools, pictureToggle(parent, kRotateToolId, 34, wxSize(40, 40)));
    add(transformTools, pictureToggle(parent, kScaleToolId, 35, wxSize(40, 40)));
    add(transformTools, pictureButton(parent, kResetTransformsId, 31, wxSize(40, 40)));
    add(move, transformTools, 0, kCentred);
    add(move, checkBox(parent, kTransformOverlayId, _("Overlay")), 0,
        wxALL | wxALIGN_CENTER_VERTICAL);
    add(move, checkBox(parent, kTransformSubjectId, _("Subject")), 0,
        wxALL | wxALIGN_CENTER_VERTICAL);
    add(move, checkBox(parent, kTransformBackdropId, _("Backdrop")), 0,
        wxALL | wxALIGN_CENTER_VERTICAL);
    add(column, move, 0, kCentred);

    add(column, toggle(parent, kRenderAgainstBackdropId, _("Render BD")));
    add(column,
        layerBlock(parent, _("Backdrops"), kBackdropToFrontId, kBackdropAddId, kBackdropDeleteId,
                   kBackdropListId),
        1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
    add(column,
        layerBlock(parent, _("Overlays"), kOverlayToFrontId, kOverlayAddId, kOverlayDeleteId,
                   kOverlayListId),
        1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
    add(column, toggle(parent, kScaleToFitId, _("Scale BD to Fit")));
    auto* blur = new wxBoxSizer(wxHORIZONTAL);
    add(blur, caption(parent, kBackdropBlurCaptionId, _("BD Blur")));
    add(blur, numberField(parent, kBackdropBlurTextId, kFieldWidth, kWidestBlur));
    add(column, blur);
    add(column, slider(parent, kBackdropBlurSliderId, 100));
    return column;
}

// A side column in a window of its own that scrolls vertically: on a short screen the column's
// lower controls stay reachable while the preview keeps the height the window has.  It is as wide
// as its controls now (a field may widen once it is realized) and a scroll bar, so nothing is
// hidden sideways, and asks for no height.
class SideColumn : public wxScrolledWindow {
public:
    explicit SideColumn(wxWindow* parent)
        : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxVSCROLL,
                           "column") {
        SetScrollRate(0, kColumnScrollStep);
    }
    wxSize GetMinSize() const override {
        const int bar = std::max(0, wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this));
        return wxSize(GetSizer() ? GetSizer()->GetMinSize().x + bar : bar, 0);
    }
};

wxScrolledWindow* sideColumn(wxWindow* parent, wxSizer* (*fill)(wxWindow*)) {
    auto* column = new SideColumn(parent);
    column->SetSizer(fill(column));
    return column;
}

}  // namespace

wxSizer* buildMainLayout(wxWindow* parent, bool fit, bool setSizer) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* cells = new wxFlexGridSizer(3, 0, 0);
    cells->AddGrowableCol(1);
    cells->AddGrowableRow(1);

    auto* corner = new wxBoxSizer(wxVERTICAL);
    auto* history = new wxBoxSizer(wxHORIZONTAL);
    add(history, pictureButton(parent, kResetId, 1, wxSize(47, 40)));
    add(history, pictureButton(parent, kSetCheckpointId, 2, wxSize(40, 40)));
    add(history, pictureButton(parent, kRevertToCheckpointId, 3, wxSize(40, 40)));
    add(corner, history, 0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL);
    add(corner, new wxBoxSizer(wxHORIZONTAL), 0, kCentred);
    add(cells, corner);

    add(cells, topGroups(parent), 0, wxALIGN_CENTER_HORIZONTAL);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* okCancel = new wxBoxSizer(wxVERTICAL);
    add(okCancel, button(parent, wxID_OK, _("OK")));
    add(okCancel, button(parent, wxID_CANCEL, _("Cancel")));
    add(buttons, okCancel, 0, kCentred);
    add(cells, buttons, 0, kCentred);

    add(cells, sideColumn(parent, toolColumn), 0, wxEXPAND);
    add(cells,
        new VantImagePreview(parent, kPreviewId, wxDefaultPosition, wxSize(10, 170), 0, "panel"),
        0, wxEXPAND);
    add(cells, sideColumn(parent, layerColumn), 1, wxALL | wxEXPAND);

    add(top, cells, 1, wxEXPAND | wxALIGN_CENTER_VERTICAL);

    if (setSizer) {
        parent->SetSizer(top);
        if (fit) top->SetSizeHints(parent);
    }
    return top;
}

wxSizer* navigationSizer(wxSizer* top) {
    // top -> the grid of cells -> the corner cell -> its second item.
    auto sizerAt = [](wxSizer* sizer, std::size_t index) -> wxSizer* {
        if (!sizer || index >= sizer->GetItemCount()) return nullptr;
        return sizer->GetItem(index)->GetSizer();
    };
    return sizerAt(sizerAt(sizerAt(top, 0), 0), 1);
}
