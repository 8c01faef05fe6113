// The layouts of the floating settings windows, built in real windows: each control's id, kind,
// translated label, toolkit name, size and starting value, the sizer tree, and fitting.

#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/app.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/floating_layouts.h"
#include "app/tool_images.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_catalog.h"

namespace {

using namespace vantrelo_test;

enum class Kind { Check, Caption, Field, Slider, Choice, Toggle, Swatch };

struct Control {
    int id;  // wxID_ANY: found by its label
    Kind kind;
    const char* label;  // check boxes and captions; null for the others
    int width = -1;     // the size asked for at creation; -1: the toolkit's
    int height = -1;
    int picture = -1;   // toggles
};

struct Layout {
    const char* name;
    std::function<wxSizer*(wxWindow*, bool, bool)> build;
    std::vector<Control> controls;
    const char* tree;  // describe() of the returned sizer
    std::vector<const char*> choiceItems;
};

// The sizer tree in a line: "grid3[...]", "h[...]" and "v[...]" for sizers, the toolkit name for
// windows, WxH for spacers; an item whose flags differ from the usual centred ones with a border
// of 5 carries "/p1" for proportion 1, "/v" for vertical centring only, "/x" for expansion.
std::string describe(wxSizer* sizer) {
    std::string text;
    if (auto* grid = dynamic_cast<wxFlexGridSizer*>(sizer)) {
        text = "grid" + std::to_string(grid->GetCols());
        EXPECT_EQ(grid->GetVGap(), 0);
        EXPECT_EQ(grid->GetHGap(), 0);
        const int cols = grid->GetCols();
        const int rows = (int(grid->GetItemCount()) + cols - 1) / cols;
        for (int i = 0; i < cols; ++i) EXPECT_FALSE(grid->IsColGrowable(i));
        for (int i = 0; i < rows; ++i) EXPECT_FALSE(grid->IsRowGrowable(i));
    } else if (auto* box = dynamic_cast<wxBoxSizer*>(sizer)) {
        text = box->GetOrientation() == wxHORIZONTAL ? "h" : "v";
    }
    text += "[";
    bool first = true;
    for (wxSizerItem* item : sizer->GetChildren()) {
        if (!first) text += ",";
        first = false;
        if (item->IsWindow())
            text += item->GetWindow()->GetName().utf8_string();
        else if (item->IsSizer())
            text += describe(item->GetSizer());
        else
            text += std::to_string(item->GetSpacer().x) + "x" + std::to_string(item->GetSpacer().y);
        EXPECT_EQ(item->GetBorder(), 5) << text;
        const int flags = item->GetFlag();
        if (item->GetProportion() == 1) text += "/p1";
        if (flags == (wxALL | wxALIGN_CENTER_VERTICAL))
            text += "/v";
        else if (flags == (wxALL | wxEXPAND))
            text += "/x";
        else
            EXPECT_EQ(flags, wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL) << text;
    }
    return text + "]";
}

const char* nameOf(Kind kind) {
    switch (kind) {
    case Kind::Check:
    case Kind::Toggle:
        return "check";
    case Kind::Caption:
        return "staticText";
    case Kind::Field:
        return "text";
    case Kind::Slider:
        return "slider";
    case Kind::Choice:
        return "choice";
    case Kind::Swatch:
        return "Fine Tune Viewer";
    }
    return "";
}

// Captions, fields and sliders of one settings row.
void row(std::vector<Control>& out, int captionId, const char* label, int fieldId, int sliderId,
         int fieldWidth = 80) {
    out.push_back({captionId, Kind::Caption, label});
    out.push_back({fieldId, Kind::Field, nullptr, fieldWidth});
    out.push_back({sliderId, Kind::Slider, nullptr, 100});
}

std::vector<Layout> layouts() {
    std::vector<Layout> all;
    {
        Layout l{"auto-mask", buildAutoMaskLayout, {}, nullptr, {}};
        l.controls.push_back({kAutoMaskAlwaysOnId, Kind::Check, "Always On"});
        row(l.controls, kAutoMaskRadiusCaptionId, "Radius", kAutoMaskRadiusTextId,
            kAutoMaskRadiusSliderId);
        row(l.controls, kAutoMaskSpillCaptionId, "Spill Suppression", kAutoMaskSpillTextId,
            kAutoMaskSpillSliderId);
        row(l.controls, kAutoMaskColourCaptionId, "Color Correction", kAutoMaskColourTextId,
            kAutoMaskColourSliderId);
        l.tree = "grid3[check,20x20,20x20,staticText,text,slider,staticText,text,slider,"
                 "staticText,text,slider]";
        all.push_back(l);
    }
    {
        Layout l{"fine tune",
                 [](wxWindow* w, bool fit, bool set) { return buildFineTuneLayout(w, fit, set); },
                 {}, nullptr, {}};
        row(l.controls, wxID_ANY, "Transparency", kFineTuneTransparencyTextId,
            kFineTuneTransparencySliderId);
        row(l.controls, wxID_ANY, "Remove Spill", kFineTuneRemoveSpillTextId,
            kFineTuneRemoveSpillSliderId);
        row(l.controls, wxID_ANY, "Restore Details", kFineTuneRestoreDetailsTextId,
            kFineTuneRestoreDetailsSliderId);
        l.controls.push_back({kFineTuneSwatchId, Kind::Swatch, nullptr, 160, 80});
        l.tree = "h[grid3[staticText/v,text,slider,staticText/v,text,slider,staticText/v,text,"
                 "slider],v[Fine Tune Viewer]]";
        all.push_back(l);
    }
    {
        Layout l{"remove noise", buildRemoveNoiseLayout, {}, nullptr, {}};
        row(l.controls, kToleranceCaptionId, "Tolerance", kToleranceTextId, kToleranceSliderId);
        l.controls.push_back({kGrainOffId, Kind::Toggle, nullptr, 40, 40, 24});
        l.controls.push_back({kGrainSmallId, Kind::Toggle, nullptr, 50, 40, 25});
        l.controls.push_back({kGrainMediumId, Kind::Toggle, nullptr, 50, 40, 26});
        l.controls.push_back({kGrainLargeId, Kind::Toggle, nullptr, 50, 40, 27});
        l.tree = "v[h[staticText,text,slider],h[check,check,check,check]]";
        all.push_back(l);
    }
    {
        Layout l{"soften matte", buildSoftenMatteLayout, {}, nullptr, {}};
        row(l.controls, kSoftenCaptionId, "Soften Matte", kSoftenTextId, kSoftenSliderId);
        row(l.controls, kShrinkCaptionId, "Shrink Matte", kShrinkTextId, kShrinkSliderId);
        l.controls.push_back({kInOnlyId, Kind::Check, "In Only"});
        l.tree = "grid2[v[h[staticText,text,slider],h[staticText,text,slider]],check]";
        all.push_back(l);
    }
    {
        Layout l{"light wrap", buildLightWrapLayout, {}, nullptr, {}};
        row(l.controls, kLightWrapRadiusCaptionId, "Radius", kLightWrapRadiusTextId,
            kLightWrapRadiusSliderId);
        row(l.controls, kLightWrapBrightnessCaptionId, "Brightness", kLightWrapBrightnessTextId,
            kLightWrapBrightnessSliderId, 100);
        l.controls.push_back({kLightWrapBlendCaptionId, Kind::Caption, "Blend Mode"});
        l.controls.push_back({kLightWrapBlendChoiceId, Kind::Choice, nullptr, 100});
        l.tree = "grid3[staticText/p1/v,text/x,slider,staticText/p1/v,text/x,slider,"
                 "staticText/v,choice]";
        l.choiceItems = {"Soft Light", "Overlay", "Add", "Multiply", "Screen", "Color"};
        all.push_back(l);
    }
    return all;
}

// Every label of every layout, for the test catalog.
TestCatalog* makeCatalog() {
    return new TestCatalog({"Always On", "Radius", "Spill Suppression", "Color Correction",
                            "Transparency", "Remove Spill", "Restore Details", "Tolerance",
                            "Soften Matte", "Shrink Matte", "In Only", "Brightness",
                            "Blend Mode", "Soft Light", "Overlay", "Add", "Multiply", "Screen",
                            "Color"});
}

wxWindow* findControl(wxWindow* parent, const Control& c) {
    if (c.id != wxID_ANY) return parent->FindWindow(c.id);
    for (wxWindow* child : parent->GetChildren())
        if (child->GetLabel() == bracketed(c.label)) return child;
    return nullptr;
}

void checkControl(wxWindow* frame, const Control& c) {
    SCOPED_TRACE(testing::Message() << "control " << c.id << " " << (c.label ? c.label : ""));
    wxWindow* w = findControl(frame, c);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->GetParent(), frame);
    EXPECT_EQ(w->GetName(), nameOf(c.kind));
    const wxSize asked = w->GetMinSize();
    // Fields and choices grow beyond their asked width where their texts need it.
    if (c.width >= 0 && (c.kind == Kind::Field || c.kind == Kind::Choice)) {
        EXPECT_GE(asked.x, c.width);
    } else if (c.width >= 0) {
        EXPECT_EQ(asked.x, c.width);
    }
    if (c.height >= 0) {
        EXPECT_EQ(asked.y, c.height);
    }
    switch (c.kind) {
    case Kind::Check: {
        auto* check = dynamic_cast<wxCheckBox*>(w);
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(check->GetLabel(), bracketed(c.label));
        EXPECT_FALSE(check->GetValue());
        break;
    }
    case Kind::Caption:
        ASSERT_NE(dynamic_cast<wxStaticText*>(w), nullptr);
        EXPECT_EQ(w->GetLabel(), bracketed(c.label));
        break;
    case Kind::Field: {
        auto* field = dynamic_cast<wxTextCtrl*>(w);
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(field->GetValue().empty());
        // The longest texts the fields show: a fine tune offset, a colour correction.
        for (const char* widest : {"-100.00", "200.00"})
            EXPECT_GE(asked.x, field->GetSizeFromTextSize(field->GetTextExtent(widest).x).x)
                << widest;
        break;
    }
    case Kind::Slider: {
        auto* slider = dynamic_cast<wxSlider*>(w);
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->GetMin(), 0);
        EXPECT_EQ(slider->GetMax(), 100);
        EXPECT_EQ(slider->GetValue(), 0);
        break;
    }
    case Kind::Choice: {
        auto* choice = dynamic_cast<wxChoice*>(w);
        ASSERT_NE(choice, nullptr);
        // Every item whole: "Soft Light" read "Soft Li..." in 100 pixels.
        for (unsigned i = 0; i < choice->GetCount(); ++i)
            EXPECT_GT(asked.x, choice->GetTextExtent(choice->GetString(i)).x) << i;
        EXPECT_GE(asked.x, choice->GetBestSize().x);
        break;
    }
    case Kind::Toggle: {
        auto* toggle = dynamic_cast<wxBitmapToggleButton*>(w);
        ASSERT_NE(toggle, nullptr);
        EXPECT_FALSE(toggle->GetValue());
        const wxBitmap bitmap = toggle->GetBitmapLabel();
        ASSERT_TRUE(bitmap.IsOk());
        const ToolPicture* picture = toolPicture(c.picture);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(bitmap.GetSize(), wxSize(picture->width, picture->height));
        // The button's copy shows the picture's alpha.
        const wxImage image = bitmap.ConvertToImage();
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(std::memcmp(image.GetAlpha(), picture->alpha,
                              std::size_t(picture->width) * picture->height),
                  0);
        break;
    }
    case Kind::Swatch:
        EXPECT_EQ(wxString(w->GetClassInfo()->GetClassName()), "wxWindow");
        break;
    }
}

// Each layout in a frame of its own: every control is there as described, and nothing else.
TEST(FloatingLayouts, ControlsIdsKindsLabelsAndTree) {
    VANTRELO_REQUIRE_TOOLKIT();
    std::unique_ptr<TestCatalog> catalog(makeCatalog());
    for (const Layout& layout : layouts()) {
        SCOPED_TRACE(layout.name);
        auto* frame = new wxFrame(nullptr, wxID_ANY, layout.name);
        wxSizer* top = layout.build(frame, true, true);
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(frame->GetSizer(), top);
        EXPECT_EQ(frame->GetChildren().size(), layout.controls.size());
        for (const Control& c : layout.controls) checkControl(frame, c);
        EXPECT_EQ(describe(top), layout.tree);
        if (!layout.choiceItems.empty()) {
            auto* choice = dynamic_cast<wxChoice*>(frame->FindWindow(kLightWrapBlendChoiceId));
            ASSERT_NE(choice, nullptr);
            ASSERT_EQ(choice->GetCount(), layout.choiceItems.size());
            for (unsigned i = 0; i < choice->GetCount(); ++i)
                EXPECT_EQ(choice->GetString(i), bracketed(layout.choiceItems[i]));
            EXPECT_EQ(choice->GetSelection(), wxNOT_FOUND);
        }
        frame->Destroy();
        pumpToolkit();
    }
}

// With fit the window can shrink no further than its controls need, and starts at that size;
// without setSizer the window is left alone and the caller owns the tree.
TEST(FloatingLayouts, FitAndSetSizerFlags) {
    VANTRELO_REQUIRE_TOOLKIT();
    for (const Layout& layout : layouts()) {
        SCOPED_TRACE(layout.name);
        {
            auto* frame = new wxFrame(nullptr, wxID_ANY, layout.name, wxDefaultPosition,
                                      wxSize(700, 500));
            wxSizer* top = layout.build(frame, true, true);
            const wxSize fitting = top->ComputeFittingClientSize(frame);
            EXPECT_EQ(frame->GetClientSize(), fitting);
            EXPECT_EQ(frame->GetMinClientSize(), fitting);
            // Every control lies inside the client area.
            for (wxWindow* child : frame->GetChildren()) {
                const wxRect r = child->GetRect();
                EXPECT_GE(r.x, 0);
                EXPECT_GE(r.y, 0);
                EXPECT_LE(r.GetRight(), fitting.x) << child->GetName();
                EXPECT_LE(r.GetBottom(), fitting.y) << child->GetName();
            }
            frame->Destroy();
        }
        {
            auto* frame = new wxFrame(nullptr, wxID_ANY, layout.name, wxDefaultPosition,
                                      wxSize(700, 500));
            wxSizer* top = layout.build(frame, false, true);
            EXPECT_EQ(frame->GetSizer(), top);
            EXPECT_EQ(frame->GetMinClientSize(), wxDefaultSize);
            frame->Destroy();
        }
        {
            auto* frame = new wxFrame(nullptr, wxID_ANY, layout.name, wxDefaultPosition,
                                      wxSize(700, 500));
            const wxSize before = frame->GetClientSize();
            std::unique_ptr<wxSizer> top(layout.build(frame, true, false));
            EXPECT_EQ(frame->GetSizer(), nullptr);
            EXPECT_EQ(frame->GetClientSize(), before);
            EXPECT_EQ(frame->GetChildren().size(), layout.controls.size());
            top.reset();  // the controls stay, the window destroys them
            frame->Destroy();
        }
        pumpToolkit();
    }
}

// The fine tune window makes its own swatch class; the layout gives it the swatch's place.
TEST(FloatingLayouts, FineTuneSwatchComesFromTheWindowsFactory) {
    VANTRELO_REQUIRE_TOOLKIT();
    class Swatch : public wxWindow {
    public:
        using wxWindow::wxWindow;
    };
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Fine Tune");
    int made = 0;
    Swatch* swatch = nullptr;
    wxSizer* top = buildFineTuneLayout(
        frame, true, true,
        [&](wxWindow* parent, wxWindowID id, const wxSize& size, long style,
            const wxString& name) -> wxWindow* {
            ++made;
            EXPECT_EQ(parent, frame);
            EXPECT_EQ(id, kFineTuneSwatchId);
            EXPECT_EQ(size, wxSize(160, 80));
            EXPECT_EQ(style, 0);
            EXPECT_EQ(name, "Fine Tune Viewer");
            swatch = new Swatch(parent, id, wxDefaultPosition, size, style, name);
            return swatch;
        });
    EXPECT_EQ(made, 1);
    EXPECT_EQ(frame->FindWindow(kFineTuneSwatchId), swatch);
    EXPECT_NE(top->GetItem(swatch, true), nullptr);
    EXPECT_GE(swatch->GetSize().x, 160);
    frame->Destroy();
    pumpToolkit();
}

// A picture toggle shows its whole picture: the theme's padding must not crop it.  Picture 27 of
// the "large grain" button is a black disc from column 3 and "LARGE" up to column 36 over rows 6 to
// 13, centred in its 50 x 40 button; the dark columns on screen must reach both ends.
TEST(FloatingLayouts, GrainButtonsShowTheirWholePicture) {
    VANTRELO_REQUIRE_TOOLKIT();
    // Away from where other windows usually appear, in case the display is shared.
    const wxSize display = wxGetDisplaySize();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Remove Noise",
                              wxPoint(20, std::max(0, display.y - 260)));
    buildRemoveNoiseLayout(frame, true, true);
    frame->Show();
    wxWindow* button = frame->FindWindow(kGrainLargeId);
    ASSERT_NE(button, nullptr);
    int first = -1, last = -1;
    for (int attempt = 0; attempt < 5 && first < 0; ++attempt) {
        frame->Raise();
        for (int i = 0; i < 30; ++i) {
            wxTheApp->Yield(true);
            pumpToolkit();
            wxMilliSleep(10);
        }
        const wxSize size = button->GetSize();
        wxBitmap shot(size);
        {
            wxMemoryDC memory(shot);
            wxClientDC client(button);
            memory.Blit(0, 0, size.x, size.y, &client, 0, 0);
        }
        const wxImage image = shot.ConvertToImage();
        const int left = (size.x - 40) / 2, top = (size.y - 20) / 2;
        for (int x = 0; x < size.x; ++x)
            for (int y = top + 6; y <= top + 13; ++y) {
                const int luminance = (image.GetRed(x, y) * 30 + image.GetGreen(x, y) * 59 +
                                       image.GetBlue(x, y) * 11) / 100;
                if (luminance >= 100) continue;
                if (first < 0) first = x - left;
                last = x - left;
            }
    }
    EXPECT_LE(first, 4) << "the disc's left edge";
    EXPECT_GE(last, 35) << "the E's right edge";
    frame->Destroy();
    pumpToolkit();
}

}  // namespace
