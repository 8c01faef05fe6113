// The main window's layout, built in a real window: each control's id, kind, translated label or
// picture, toolkit name and size, the order the controls are made in, the sizer tree with its
// flags, and which controls grow with the window.

#include <gtest/gtest.h>

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/tool_images.h"
#include "app/vant_image_preview.h"
#include "host/param/color_button.h"
#include "tests/app/program_test_support.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_catalog.h"

namespace {

using namespace vantrelo_test;

enum class Kind {
    PictureButton,
    PictureToggle,
    Toggle,
    Button,
    Check,
    Choice,
    Field,
    Slider,
    List,
    Colour,
    Caption,
    Preview
};

struct Control {
    int id;             // wxID_ANY: a caption, found by its label
    Kind kind;
    const char* label;  // labels of buttons, toggles, check boxes and captions
    int width = -1;     // the size asked for; -1 the toolkit's
    int height = -1;
    int picture = -1;
};

// The controls in the order they are made.
const std::vector<Control>& controls() {
    static const std::vector<Control> table = {
        {5111, Kind::PictureButton, nullptr, 47, 40, 1},
        {6002, Kind::PictureButton, nullptr, 40, 40, 2},
        {6003, Kind::PictureButton, nullptr, 40, 40, 3},
        {10000, Kind::PictureToggle, nullptr, 40, 50, 10},
        {10001, Kind::PictureToggle, nullptr, 40, 50, 11},
        {10002, Kind::PictureToggle, nullptr, 40, 50, 12},
        {10003, Kind::PictureToggle, nullptr, 40, 50, 13},
        {10004, Kind::PictureToggle, nullptr, 40, 50, 9},
        {10005, Kind::Colour, nullptr, 15, 15},
        {10006, Kind::PictureToggle, nullptr, 40, 50, 8},
        {10007, Kind::PictureToggle, nullptr, 40, 20, 28},
        {10008, Kind::PictureToggle, nullptr, 40, 20, 29},
        {10009, Kind::Choice, nullptr, 100},
        {10010, Kind::PictureToggle, nullptr, 44, 52, 38},
        {10011, Kind::PictureToggle, nullptr, 44, 52, 7},
        {10012, Kind::Toggle, "Matte Settings"},
        {10013, Kind::Choice, nullptr, 100},
        {5100, Kind::Button, "OK"},
        {5101, Kind::Button, "Cancel"},
        {10014, Kind::Button, "AutoMask"},
        {10015, Kind::Toggle, "AM Settings"},
        {wxID_ANY, Kind::Caption, "3-Step Mask"},
        {10016, Kind::PictureToggle, nullptr, 85, 25, 15},
        {10017, Kind::PictureToggle, nullptr, 85, 25, 16},
        {10018, Kind::PictureToggle, nullptr, 85, 25, 17},
        {wxID_ANY, Kind::Caption, "Selection Tool"},
        {10019, Kind::PictureToggle, nullptr, 40, 20, 18},
        {10020, Kind::PictureToggle, nullptr, 40, 20, 19},
        {10021, Kind::PictureToggle, nullptr, 40, 40, 30},
        {10022, Kind::PictureToggle, nullptr, 40, 40, 37},
        {10023, Kind::Check, "Light Wrap"},
        {10024, Kind::Toggle, "LW Settings"},
        {10025, Kind::PictureToggle, nullptr, 85, 25, 23},
        {10026, Kind::PictureToggle, nullptr, 40, 40, 20},
        {10027, Kind::PictureToggle, nullptr, 40, 40, 22},
        {10028, Kind::PictureToggle, nullptr, 40, 40, 21},
        {10029, Kind::Toggle, "Fix Lighting"},
        {10030, Kind::Field, nullptr, 60},
        {10031, Kind::Slider, nullptr, 60},
        {10032, Kind::Preview, nullptr, 10, 170},
        {10033, Kind::PictureToggle, nullptr, 40, 40, 32},
        {10034, Kind::PictureToggle, nullptr, 40, 40, 36},
        {5138, Kind::PictureButton, nullptr, 19, 19, 6},
        {10035, Kind::Field, nullptr, 60},
        {5137, Kind::PictureButton, nullptr, 19, 19, 5},
        {10036, Kind::PictureToggle, nullptr, 40, 40, 33},
        {10037, Kind::PictureToggle, nullptr, 40, 40, 34},
        {10038, Kind::PictureToggle, nullptr, 40, 40, 35},
        {10039, Kind::PictureButton, nullptr, 40, 40, 31},
        {10040, Kind::Check, "Overlay"},
        {10041, Kind::Check, "Subject"},
        {10042, Kind::Check, "Backdrop"},
        {10043, Kind::Toggle, "Render BD"},
        {wxID_ANY, Kind::Caption, "Backdrops"},
        {10044, Kind::PictureButton, nullptr, 19, 19, 4},
        {10045, Kind::PictureButton, nullptr, 19, 19, 5},
        {10046, Kind::PictureButton, nullptr, 19, 19, 6},
        {10047, Kind::List, nullptr},
        {wxID_ANY, Kind::Caption, "Overlays"},
        {10048, Kind::PictureButton, nullptr, 19, 19, 4},
        {10049, Kind::PictureButton, nullptr, 19, 19, 5},
        {10050, Kind::PictureButton, nullptr, 19, 19, 6},
        {10051, Kind::List, nullptr},
        {10052, Kind::Toggle, "Scale BD to Fit"},
        {10053, Kind::Caption, "BD Blur"},
        {10054, Kind::Field, nullptr, 60},
        {10055, Kind::Slider, nullptr, 100},
    };
    return table;
}

const char* const kGroups[] = {"View Options", "Display Options", "Fix Matte", "Masking",
                               "Remove Spill", "Advanced Spill", "Move"};
const char* const kSpillModes[] = {"spill complement", "spill solid",
                                   "spill defocus background"};

TestCatalog* makeCatalog() {
    std::initializer_list<std::string> texts = {
        "Matte Settings", "OK", "Cancel", "AutoMask", "AM Settings", "3-Step Mask",
        "Selection Tool", "Light Wrap", "LW Settings", "Fix Lighting", "Overlay", "Subject",
        "Backdrop", "Render BD", "Backdrops", "Overlays", "Scale BD to Fit", "BD Blur",
        "View Options", "Display Options", "Fix Matte", "Masking", "Remove Spill",
        "Advanced Spill", "Move", "spill complement", "spill solid", "spill defocus background"};
    return new TestCatalog(texts);
}

const char* nameOf(Kind kind) {
    switch (kind) {
    case Kind::PictureButton:
    case Kind::Button:
        return "button";
    case Kind::PictureToggle:
    case Kind::Toggle:
    case Kind::Check:
        return "check";
    case Kind::Choice:
        return "choice";
    case Kind::Field:
        return "text";
    case Kind::Slider:
        return "slider";
    case Kind::List:
        return "listBox";
    case Kind::Colour:
        return "colorButton";
    case Kind::Caption:
        return "staticText";
    case Kind::Preview:
        return "panel";
    }
    return "";
}

bool hasKind(wxWindow* w, Kind kind) {
    switch (kind) {
    case Kind::PictureButton:
        return dynamic_cast<wxBitmapButton*>(w) != nullptr;
    case Kind::PictureToggle:
        return dynamic_cast<wxBitmapToggleButton*>(w) != nullptr;
    case Kind::Toggle:
        return dynamic_cast<wxToggleButton*>(w) && !dynamic_cast<wxBitmapToggleButton*>(w);
    case Kind::Button:
        return dynamic_cast<wxButton*>(w) && !dynamic_cast<wxBitmapButton*>(w) &&
               !dynamic_cast<Mav::Host::Param::ColorButton*>(w);
    case Kind::Check:
        return dynamic_cast<wxCheckBox*>(w) != nullptr;
    case Kind::Choice:
        return dynamic_cast<wxChoice*>(w) != nullptr;
    case Kind::Field:
        return dynamic_cast<wxTextCtrl*>(w) != nullptr;
    case Kind::Slider:
        return dynamic_cast<wxSlider*>(w) != nullptr;
    case Kind::List:
        return dynamic_cast<wxListBox*>(w) != nullptr;
    case Kind::Colour:
        return dynamic_cast<Mav::Host::Param::ColorButton*>(w) != nullptr;
    case Kind::Caption:
        return dynamic_cast<wxStaticText*>(w) != nullptr;
    case Kind::Preview:
        return dynamic_cast<VantImagePreview*>(w) != nullptr;
    }
    return false;
}

bool samePicture(const wxBitmap& shown, int picture) {
    const wxImage a = shown.ConvertToImage();
    const wxImage b = makeToolBitmap(picture).ConvertToImage();
    if (a.GetSize() != b.GetSize()) return false;
    const std::size_t bytes = static_cast<std::size_t>(a.GetWidth()) * a.GetHeight() * 3;
    if (std::memcmp(a.GetData(), b.GetData(), bytes) != 0) return false;
    if (a.HasAlpha() != b.HasAlpha()) return false;
    return !a.HasAlpha() ||
           std::memcmp(a.GetAlpha(), b.GetAlpha(), bytes / 3) == 0;
}

// The flags of an item in short: sides (a for all four), x expand, H and V centred, R right, B
// bottom; nothing for the usual wxALL | centred both ways, "/0" for no flag at all.
std::string flagText(const wxSizerItem* item) {
    const int f = item->GetFlag();
    if (f == (wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL)) return "";
    std::string s;
    if ((f & wxALL) == wxALL) {
        s += "a";
    } else {
        if (f & wxTOP) s += "t";
        if (f & wxBOTTOM) s += "b";
        if (f & wxLEFT) s += "l";
        if (f & wxRIGHT) s += "r";
    }
    if (f & wxEXPAND) s += "x";
    if (f & wxALIGN_CENTER_HORIZONTAL) s += "H";
    if (f & wxALIGN_CENTER_VERTICAL) s += "V";
    if (f & wxALIGN_RIGHT) s += "R";
    if (f & wxALIGN_BOTTOM) s += "B";
    return "/" + (s.empty() ? std::string("0") : s);
}

// The kind of a sizer: v and h for boxes, group(caption)v for static boxes, gridN for flexible
// grids and plainN for plain grids.
std::string sizerKind(wxSizer* sizer) {
    if (auto* group = dynamic_cast<wxStaticBoxSizer*>(sizer))
        return "group(" + group->GetStaticBox()->GetLabel().utf8_string() + ")" +
               (group->GetOrientation() == wxHORIZONTAL ? "h" : "v");
    if (auto* flex = dynamic_cast<wxFlexGridSizer*>(sizer)) {
        EXPECT_EQ(flex->GetVGap(), 0);
        EXPECT_EQ(flex->GetHGap(), 0);
        return "grid" + std::to_string(flex->GetCols());
    }
    if (auto* grid = dynamic_cast<wxGridSizer*>(sizer)) {
        EXPECT_EQ(grid->GetVGap(), 0);
        EXPECT_EQ(grid->GetHGap(), 0);
        return "plain" + std::to_string(grid->GetCols());
    }
    if (auto* box = dynamic_cast<wxBoxSizer*>(sizer))
        return box->GetOrientation() == wxHORIZONTAL ? "h" : "v";
    return "?";
}

// The items of a sizer in a line: each as its kind (the toolkit name of a window), then
// "/pN" for a proportion and its flags, then a sizer's own items in brackets.
std::string describeItems(wxSizer* sizer) {
    std::string text = "[";
    bool first = true;
    for (wxSizerItem* item : sizer->GetChildren()) {
        if (!first) text += ",";
        first = false;
        if (item->IsWindow())
            text += item->GetWindow()->GetName().utf8_string();
        else if (item->IsSizer())
            text += sizerKind(item->GetSizer());
        if (item->GetProportion() != 0) text += "/p" + std::to_string(item->GetProportion());
        text += flagText(item);
        if (item->IsSizer()) text += describeItems(item->GetSizer());
        // A side column is a window holding a tree of its own.
        if (item->IsWindow() && item->GetWindow()->GetSizer())
            text += "{" + sizerKind(item->GetWindow()->GetSizer()) +
                    describeItems(item->GetWindow()->GetSizer()) + "}";
        EXPECT_EQ(item->GetBorder(), 5) << text;
    }
    return text + "]";
}

std::string describe(wxSizer* sizer) { return sizerKind(sizer) + describeItems(sizer); }

class MainLayout : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        frame = new wxFrame(nullptr, wxID_ANY, "layout test");
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        pumpToolkit();
    }

    wxWindow* find(const Control& c) {
        if (c.id != wxID_ANY) return frame->FindWindow(c.id);
        for (wxWindow* child : descendants(frame))
            if (dynamic_cast<wxStaticText*>(child) &&
                child->GetLabel().utf8_string() == bracketed(c.label))
                return child;
        return nullptr;
    }

    // The two scrolling side columns, left then right.
    std::vector<wxScrolledWindow*> columns() {
        std::vector<wxScrolledWindow*> found;
        for (wxWindow* child : frame->GetChildren())
            if (auto* column = dynamic_cast<wxScrolledWindow*>(child)) found.push_back(column);
        return found;
    }

    wxFrame* frame = nullptr;
};

TEST_F(MainLayout, EveryControlHasItsIdKindNameLabelPictureAndSize) {
    std::unique_ptr<TestCatalog> catalog(makeCatalog());
    wxSizer* top = buildMainLayout(frame, true, true);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(frame->GetSizer(), top);

    const std::vector<wxScrolledWindow*> sides = columns();
    ASSERT_EQ(sides.size(), 2u);
    // The left column holds the controls from "AutoMask" to the lighting grid, the right one
    // those after the preview; the rest are the window's own.
    wxWindow* parent = frame;
    for (const Control& c : controls()) {
        SCOPED_TRACE(testing::Message() << "control " << c.id << " " << (c.label ? c.label : ""));
        if (c.id == kAutoMaskButtonId) parent = sides[0];
        if (c.id == kPreviewId) parent = frame;
        if (c.id == kPanToolId) parent = sides[1];
        wxWindow* w = find(c);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->GetParent(), parent);
        EXPECT_TRUE(hasKind(w, c.kind));
        EXPECT_EQ(w->GetName().utf8_string(), nameOf(c.kind));
        if (c.label) {
            EXPECT_EQ(w->GetLabel().utf8_string(), bracketed(c.label));
        }
        // Fields and choices grow beyond their asked width where their texts need it.
        if (c.width >= 0 && (c.kind == Kind::Field || c.kind == Kind::Choice)) {
            EXPECT_GE(w->GetMinSize().x, c.width);
        } else if (c.width >= 0) {
            EXPECT_EQ(w->GetMinSize().x, c.width);
        }
        if (c.height >= 0) {
            EXPECT_EQ(w->GetMinSize().y, c.height);
        }
        if (c.picture >= 0) {
            if (auto* button = dynamic_cast<wxBitmapButton*>(w)) {
                EXPECT_TRUE(samePicture(button->GetBitmapLabel(), c.picture));
                EXPECT_TRUE(button->GetWindowStyleFlag() & wxBU_AUTODRAW);
            } else if (auto* toggle = dynamic_cast<wxBitmapToggleButton*>(w)) {
                EXPECT_TRUE(samePicture(toggle->GetBitmapLabel(), c.picture));
                EXPECT_FALSE(toggle->GetValue());
            }
        }
        if (auto* field = dynamic_cast<wxTextCtrl*>(w)) {
            EXPECT_TRUE(field->GetValue().empty());
        }
        if (auto* slider = dynamic_cast<wxSlider*>(w)) {
            EXPECT_EQ(slider->GetValue(), 0);
            EXPECT_EQ(slider->GetMin(), 0);
            EXPECT_EQ(slider->GetMax(), 100);
        }
        if (auto* list = dynamic_cast<wxListBox*>(w)) {
            EXPECT_EQ(list->GetCount(), 0u);
            EXPECT_TRUE(list->GetWindowStyleFlag() & wxLB_EXTENDED);
        }
    }

    auto* spill = dynamic_cast<wxChoice*>(frame->FindWindow(kSpillModeId));
    ASSERT_NE(spill, nullptr);
    ASSERT_EQ(spill->GetCount(), 3u);
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(spill->GetString(i).utf8_string(), bracketed(kSpillModes[i]));
    EXPECT_EQ(dynamic_cast<wxChoice*>(frame->FindWindow(kLayerChoiceId))->GetCount(), 0u);
    EXPECT_TRUE(frame->FindWindow(kBackdropColourId)->GetWindowStyleFlag() & wxBU_AUTODRAW);

    // The groups: translated captions, no ids of their own; only "Move" has its own font.
    std::map<std::string, wxStaticBox*> groups;
    for (wxWindow* child : descendants(frame))
        if (auto* box = dynamic_cast<wxStaticBox*>(child)) {
            groups[box->GetLabel().utf8_string()] = box;
            EXPECT_EQ(box->GetName(), "groupBox");
            EXPECT_LT(box->GetId(), 0);
        }
    EXPECT_EQ(groups.size(), std::size(kGroups));
    for (const char* caption : kGroups) EXPECT_EQ(groups.count(bracketed(caption)), 1u) << caption;
    const wxFont move = groups[bracketed("Move")]->GetFont();
    EXPECT_EQ(move.GetPointSize(), 10);
    EXPECT_EQ(move.GetFamily(), wxFONTFAMILY_SWISS);
    EXPECT_EQ(move.GetStyle(), wxFONTSTYLE_NORMAL);
    EXPECT_EQ(move.GetWeight(), wxFONTWEIGHT_NORMAL);
    EXPECT_FALSE(move.GetUnderlined());
}

TEST_F(MainLayout, ControlsAreMadeInTableOrder) {
    std::unique_ptr<TestCatalog> catalog(makeCatalog());
    buildMainLayout(frame, true, true);
    std::vector<wxWindow*> made;
    for (wxWindow* child : descendants(frame))
        if (!dynamic_cast<wxStaticBox*>(child) && !dynamic_cast<wxScrolledWindow*>(child))
            made.push_back(child);
    ASSERT_EQ(made.size(), controls().size());
    for (std::size_t i = 0; i < made.size(); ++i) EXPECT_EQ(made[i], find(controls()[i])) << i;
}

TEST_F(MainLayout, SizerTreeHoldsEveryControlWithItsFlags) {
    std::unique_ptr<TestCatalog> catalog(makeCatalog());
    wxSizer* top = buildMainLayout(frame, true, true);
    const std::string groupsTree =
        "grid3/H[group([View Options])h/tbrxH[check,check,check,check],"
        "group([Display Options])h/axH[check,colorButton,check,v/HV[h/HV[check,check],choice/a]],"
        "group([Fix Matte])h/tblxH[h/HV[check,check,v/B[check/0,choice/tblHV]]]]";
    const std::string left =
        "column/x{v[group([Masking])v/ax[button,check,staticText,check,check,check,staticText,"
        "grid2/HV[check,check]],"
        "group([Remove Spill])v/ax[grid2/HV[check,check],check/lrHV,check],"
        "group([Advanced Spill])v[check,grid3/p1[check/tbrHV,check,check/tblHV]],"
        "check,h[text,slider]]}";
    const std::string layers = "v/p1/x[h/ax[staticText/p1/HV,button/HV,button/HV,button/HV],"
                               "listBox/p1/x]";
    const std::string right =
        "column/p1/ax{v[h/HV[check,check],h[button,text/aV,button],"
        "group([Move])v/HV[plain2/HV[check,check,check,button],check/a,check/a,check/a],check," +
        layers + "," + layers + ",check,h[staticText,text],slider]}";
    const std::string expected = "v[grid3/p1/x[v[h/R[button,button,button],h/HV[]]," +
                                 groupsTree + ",h/HV[v/HV[button,button]]," + left +
                                 ",panel/x," + right + "]]";
    EXPECT_EQ(describe(top), expected);

    auto* cells = dynamic_cast<wxFlexGridSizer*>(top->GetItem(std::size_t{0})->GetSizer());
    ASSERT_NE(cells, nullptr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cells->IsColGrowable(i), i == 1) << i;
        EXPECT_EQ(cells->IsRowGrowable(i), i == 1) << i;
    }
    // The navigation box is the empty box below the reset and checkpoint buttons.
    wxSizer* navigation = navigationSizer(top);
    ASSERT_NE(navigation, nullptr);
    EXPECT_EQ(navigation->GetItemCount(), 0u);
    EXPECT_EQ(navigation, top->GetItem(std::size_t{0})
                              ->GetSizer()
                              ->GetItem(std::size_t{0})
                              ->GetSizer()
                              ->GetItem(std::size_t{1})
                              ->GetSizer());
}

// The fitting size is the smallest window: short enough for a laptop screen (1366 x 768 less a
// title bar and a menu), since the side columns scroll instead of asking for their whole height.
// There every control of a column is reached by scrolling it.  Once the columns show everything,
// enlarging the window grows only the preview and the two lists, which share the added height.
TEST_F(MainLayout, FittingMakesTheTreeSizeTheSmallestWindowAndOnlyThePreviewAndListsGrow) {
    wxSizer* top = buildMainLayout(frame, true, true);
    const wxSize fitting = top->GetMinSize();
    EXPECT_EQ(frame->GetMinClientSize(), fitting);
    EXPECT_EQ(frame->GetClientSize(), fitting);
    EXPECT_LE(fitting.x, 1366);
    EXPECT_LE(fitting.y, 768 - 100);
    frame->Show();
    program_test::runEvents(5);

    const std::vector<wxScrolledWindow*> sides = columns();
    ASSERT_EQ(sides.size(), 2u);
    for (int last : {kLightingGridSliderId, kBackdropBlurSliderId}) {
        SCOPED_TRACE(last);
        wxWindow* control = frame->FindWindow(last);
        auto* column = dynamic_cast<wxScrolledWindow*>(control->GetParent());
        ASSERT_NE(column, nullptr);
        const wxRect visible(column->GetClientSize());
        EXPECT_FALSE(visible.Contains(control->GetRect())) << "the column does not scroll";
        column->Scroll(0, column->GetVirtualSize().y);
        program_test::runEvents(3);
        EXPECT_TRUE(visible.Contains(control->GetRect()));
        // No control of a column is cut at its sides: its width leaves room for a scroll bar.
        for (wxWindow* child : column->GetChildren())
            EXPECT_LE(child->GetRect().GetRight(), visible.GetRight()) << child->GetName();
        column->Scroll(0, 0);
    }

    // Shown, the number fields have measured their texts again and the smallest size follows.
    const wxSize shown = frame->GetMinClientSize();
    EXPECT_GE(shown.x, fitting.x);
    EXPECT_LE(shown.x, 1366);
    frame->SetClientSize(shown + wxSize(0, 600));
    frame->Layout();
    program_test::runEvents(5);
    std::map<int, wxSize> before;
    for (const Control& c : controls())
        if (c.id != wxID_ANY) before[c.id] = frame->FindWindow(c.id)->GetSize();
    frame->SetClientSize(shown + wxSize(300, 800));
    frame->Layout();
    program_test::runEvents(5);

    const wxSize preview = frame->FindWindow(kPreviewId)->GetSize();
    EXPECT_EQ(preview.x, before[kPreviewId].x + 300);
    EXPECT_EQ(preview.y, before[kPreviewId].y + 200);
    const int backdropGrowth = frame->FindWindow(kBackdropListId)->GetSize().y -
                               before[kBackdropListId].y;
    const int overlayGrowth = frame->FindWindow(kOverlayListId)->GetSize().y -
                              before[kOverlayListId].y;
    EXPECT_NEAR(backdropGrowth, 100, 1);
    EXPECT_NEAR(overlayGrowth, 100, 1);
    EXPECT_EQ(backdropGrowth + overlayGrowth, 200);
    for (const auto& [id, size] : before) {
        if (id == kPreviewId || id == kBackdropListId || id == kOverlayListId) continue;
        EXPECT_EQ(frame->FindWindow(id)->GetSize(), size) << id;
    }
}

// The number fields and the choices show their longest texts whole at the toolkit's font: the
// zoom field its 800 % ("100.00" lost its last digit in 60 pixels), the spill choice
// "spill defocus background" (it read "spill co...").
TEST_F(MainLayout, FieldsAndChoicesAreWideEnoughForTheirLongestTexts) {
    std::unique_ptr<TestCatalog> catalog(makeCatalog());
    buildMainLayout(frame, true, true);
    frame->Show();
    program_test::runEvents(5);
    const struct {
        int id;
        const char* widest;
    } fields[] = {{kLightingGridTextId, "100"}, {kZoomFieldId, "800.00"},
                  {kBackdropBlurTextId, "100.00"}};
    for (const auto& f : fields) {
        auto* field = dynamic_cast<wxTextCtrl*>(frame->FindWindow(f.id));
        ASSERT_NE(field, nullptr);
        const int textWidth = field->GetTextExtent(f.widest).x;
        EXPECT_GE(field->GetSize().x, field->GetSizeFromTextSize(textWidth).x) << f.id;
    }
    auto* spill = dynamic_cast<wxChoice*>(frame->FindWindow(kSpillModeId));
    ASSERT_NE(spill, nullptr);
    int longest = 0;
    for (const char* mode : kSpillModes)
        longest = std::max(longest, spill->GetTextExtent(bracketed(mode)).x);
    // The theme's arrow and padding come on top of the text; its natural width holds both.
    EXPECT_GT(spill->GetSize().x, longest);
    EXPECT_GE(spill->GetSize().x, spill->GetBestSize().x);
}

TEST_F(MainLayout, WithoutSetSizerTheTreeIsOnlyReturned) {
    wxSizer* top = buildMainLayout(frame, true, false);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(frame->GetSizer(), nullptr);
    EXPECT_NE(frame->FindWindow(kPreviewId), nullptr);
    delete top;
}

}  // namespace
