// The colour button with a scripted colour dialog, and the list box of file paths.

#include <gtest/gtest.h>

#include <wx/colordlg.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>

#include <cmath>
#include <limits>
#include <optional>

#include "host/param/color_button.h"
#include "host/param/list_box_validator.h"
#include "host/param/param_binding.h"
#include "tests/host/param/widget_test_support.h"

namespace {

using namespace widget_test;

// Answers the colour dialog: records the colour it opened with and picks `answer`, or cancels.
class ScriptedColourDialog {
public:
    explicit ScriptedColourDialog(std::optional<wxColour> answer) : answer_(answer) {
        previous_ = setColourDialogHook([this](wxColourDialog& dialog) {
            ++shown;
            opened = dialog.GetColourData().GetColour();
            if (!answer_) return int(wxID_CANCEL);
            dialog.GetColourData().SetColour(*answer_);
            return int(wxID_OK);
        });
    }
    ~ScriptedColourDialog() { setColourDialogHook(previous_); }

    int shown = 0;
    wxColour opened;

private:
    std::optional<wxColour> answer_;
    ColourDialogHook previous_;
};

wxColour pixelOf(const wxBitmap& bitmap, int x, int y) {
    wxMemoryDC dc(const_cast<wxBitmap&>(bitmap));
    wxColour colour;
    dc.GetPixel(x, y, &colour);
    return colour;
}

class ColourAndListWidgets : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        frame = new LoggingFrame(&set);
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        vantrelo_test::pumpToolkit();
    }

    Parameters set;
    LoggingFrame* frame = nullptr;
};

TEST_F(ColourAndListWidgets, AChosenColourIsStoredWithTheChangeEvents) {
    set.records().push_back(colourRecord("Spill colour", 0.5, 0.25, 1.0));
    auto* button = frame->add(new ColorButton(frame->panel, wxID_ANY, wxDefaultPosition,
                                              wxSize(80, 40)));
    bindParameter(&set.record(0), 0, button);
    frame->layoutAndShow();
    EXPECT_EQ(button->red, 0.5);
    EXPECT_EQ(button->green, 0.25);
    EXPECT_EQ(button->blue, 1.0);

    ScriptedColourDialog dialog(wxColour(255, 0, 51));
    click(button);
    ASSERT_EQ(dialog.shown, 1);
    EXPECT_EQ(dialog.opened, wxColour(127, 63, 255));

    EXPECT_EQ(button->red, 1.0);
    EXPECT_EQ(button->green, 0.0);
    EXPECT_EQ(button->blue, 0.2);
    double stored[3];
    set.getColour(stored, 0);
    EXPECT_EQ(stored[0], 1.0);
    EXPECT_EQ(stored[1], 0.0);
    EXPECT_EQ(stored[2], 0.2);
    ASSERT_EQ(eventKinds(frame->events), "colour changing changed");
    EXPECT_EQ(frame->events[0].index, 0u);
    EXPECT_EQ(frame->events[0].record, nullptr);
    EXPECT_EQ(frame->events[1].valueThen.getDouble(0), 0.5) << "announced before the store";
    EXPECT_EQ(frame->events[2].valueThen.getDouble(2), 0.2);

    // The swatch shows the new colour, on the button's bitmap and on the screen.
    const wxBitmap swatch = button->GetBitmap();
    ASSERT_TRUE(swatch.IsOk());
    EXPECT_EQ(pixelOf(swatch, swatch.GetWidth() / 2, swatch.GetHeight() / 2),
              wxColour(255, 0, 51));
    frame->settle();
    wxScreenDC screen;
    wxColour onScreen;
    const wxPoint centre = button->ClientToScreen(
        wxPoint(button->GetClientSize().x / 2, button->GetClientSize().y / 2));
    screen.GetPixel(centre, &onScreen);
    EXPECT_EQ(onScreen, wxColour(255, 0, 51));
}

TEST_F(ColourAndListWidgets, CancellingTheColourDialogChangesNothing) {
    set.records().push_back(colourRecord("Spill colour", 0.1, 0.2, 0.3));
    auto* button = frame->add(new ColorButton(frame->panel, wxID_ANY));
    bindParameter(&set.record(0), 0, button);
    frame->layoutAndShow();
    ScriptedColourDialog dialog(std::nullopt);
    EXPECT_FALSE(button->chooseColour());
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(button->red, 0.1);
    EXPECT_EQ(set.record(0).value().getDouble(0), 0.1);
    EXPECT_TRUE(frame->events.empty());
}

TEST_F(ColourAndListWidgets, ColourComponentsAreLimitedBeforeTheyBecomeBytes) {
    struct Case {
        double component;
        int byte;
    };
    const Case cases[] = {{0.5, 127},   {1.0, 255},  {1.7, 255}, {-0.2, 0},
                          {0.999, 254}, {1e300, 255}, {std::numeric_limits<double>::quiet_NaN(), 0},
                          {-std::numeric_limits<double>::infinity(), 0}};
    for (const Case& c : cases) EXPECT_EQ(ColorButton::componentByte(c.component), c.byte) << c.component;

    // A damaged record (NaN, beyond 1) still gives a sane swatch and dialog start.
    set.records().push_back(colourRecord("Spill colour", std::nan(""), 4.0, -1.0));
    auto* button = frame->add(new ColorButton(frame->panel, wxID_ANY, wxBitmap(),
                                              wxDefaultPosition, wxSize(60, 36)));
    bindParameter(&set.record(0), 0, button);
    frame->layoutAndShow();
    const wxBitmap swatch = button->GetBitmap();
    EXPECT_EQ(pixelOf(swatch, 2, 2), wxColour(0, 255, 0));
    ScriptedColourDialog dialog(std::nullopt);
    button->chooseColour();
    EXPECT_EQ(dialog.opened, wxColour(0, 255, 0));
}

TEST_F(ColourAndListWidgets, AColourButtonCanBeCreatedByName) {
    wxObject* made = wxCreateDynamicObject("ColorButton");
    auto* button = dynamic_cast<ColorButton*>(made);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->IsKindOf(wxCLASSINFO(wxButton)));
    ASSERT_TRUE(button->Create(frame->panel, wxID_ANY));
    EXPECT_EQ(button->red, 1.0);
    EXPECT_EQ(button->GetLabel(), "");
    EXPECT_EQ(pixelOf(button->GetBitmap(), 1, 1), wxColour(255, 255, 255));
}

TEST_F(ColourAndListWidgets, TheListBoxShowsFileNamesAndWritesTheQuotedList) {
    const std::string text = "\"/photos/a b/it\\'s.png\" \"/x/back\\\\slash.jpg\" plain.tif ";
    set.records().push_back(textRecord(ParamText, "Backdrop files", text));
    auto* list = frame->add(new wxListBox(frame->panel, wxID_ANY));
    list->SetValidator(ListBoxParamValidator(&set.record(0), 0));
    frame->layoutAndShow();
    auto* validator = static_cast<ListBoxParamValidator*>(list->GetValidator());

    ASSERT_EQ(list->GetCount(), 4u);
    EXPECT_EQ(list->GetString(0), "it's.png");
    EXPECT_EQ(list->GetString(1), "back\\slash.jpg");
    EXPECT_EQ(list->GetString(2), "plain.tif");
    EXPECT_EQ(list->GetString(3), "") << "the trailing blank gives an empty entry";
    ASSERT_EQ(validator->paths.size(), 4u);
    EXPECT_EQ(validator->paths[0], "/photos/a b/it's.png");
    EXPECT_EQ(validator->paths[1], "/x/back\\slash.jpg");

    // A hand-written list is written back in the quoted form once; then nothing changes.
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(set.getString(0),
              "\"/photos/a b/it\\'s.png\" \"/x/back\\\\slash.jpg\" \"plain.tif\" \"\"");
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[0].valueThen.text, text);
    EXPECT_EQ(frame->events[0].record, &set.record(0));
    frame->events.clear();
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_TRUE(frame->events.empty());

    validator->paths.erase(validator->paths.begin() + 2, validator->paths.end());
    validator->paths.push_back(wxString::FromUTF8("/bilder/Grün \"neu\".png"));
    list->Delete(3);
    list->Delete(2);
    list->Append(wxString::FromUTF8("Grün \"neu\".png"));
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(set.getString(0),
              "\"/photos/a b/it\\'s.png\" \"/x/back\\\\slash.jpg\" \"/bilder/Grün \\\"neu\\\".png\"");
    EXPECT_EQ(eventKinds(frame->events), "changing changed");

    // Read back, the written text gives the same paths.
    EXPECT_TRUE(validator->TransferToWindow());
    ASSERT_EQ(validator->paths.size(), 3u);
    EXPECT_EQ(validator->paths[2], wxString::FromUTF8("/bilder/Grün \"neu\".png"));
    EXPECT_EQ(list->GetString(2), wxString::FromUTF8("Grün \"neu\".png"));

    validator->paths.clear();
    EXPECT_TRUE(validator->TransferFromWindow());
    EXPECT_EQ(set.getString(0), "");
}

TEST_F(ColourAndListWidgets, TheListValidatorNeedsAListBox) {
    set.records().push_back(textRecord(ParamText, "Overlay files", "\"a.png\""));
    auto* notAList = frame->add(new wxTextCtrl(frame->panel, wxID_ANY));
    notAList->SetValidator(ListBoxParamValidator(&set.record(0), 0));
    EXPECT_FALSE(notAList->GetValidator()->TransferToWindow());
    EXPECT_FALSE(notAList->GetValidator()->TransferFromWindow());

    // A copy starts with an empty path list and fills it at its first transfer.
    auto* list = frame->add(new wxListBox(frame->panel, wxID_ANY));
    ListBoxParamValidator original(&set.record(0), 0);
    original.paths.push_back("stale");
    list->SetValidator(original);
    auto* attached = static_cast<ListBoxParamValidator*>(list->GetValidator());
    EXPECT_TRUE(attached->paths.empty());
    list->Disable();
    EXPECT_TRUE(attached->TransferFromWindow());
    EXPECT_EQ(set.getString(0), "\"a.png\"");
}

}  // namespace
