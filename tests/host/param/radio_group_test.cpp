// Toggle buttons bound as a radio group over one integer parameter, clicked with the pointer.

#include <gtest/gtest.h>

#include <wx/tglbtn.h>

#include "host/param/param_binding.h"
#include "host/param/radio_validator.h"
#include "tests/host/param/widget_test_support.h"

namespace {

using namespace widget_test;

class RadioGroup : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        frame = new LoggingFrame(&set);
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        vantrelo_test::pumpToolkit();
    }

    wxToggleButton* addButton(const char* label) {
        return frame->add(new wxToggleButton(frame->panel, wxID_ANY, label));
    }
    // Which buttons are pressed, as a string of 0 and 1.
    static std::string pressed(const std::vector<wxToggleButton*>& buttons) {
        std::string text;
        for (wxToggleButton* b : buttons) text += b->GetValue() ? '1' : '0';
        return text;
    }
    static RadioValidator* radio(wxWindow* button) {
        return static_cast<RadioValidator*>(button->GetValidator());
    }

    Parameters set;
    LoggingFrame* frame = nullptr;
};

TEST_F(RadioGroup, PressingAButtonStoresItsValueAndReleasesTheOthers) {
    set.records().push_back(intRecord(ParamPopup, "Tool", 0, 0, 3, 0));
    std::vector<wxToggleButton*> buttons;
    for (const char* label : {"A", "B", "C", "D"}) buttons.push_back(addButton(label));
    bindRadioGroupByIndex(set, 0, buttons[0], buttons[1], buttons[2], buttons[3], nullptr);
    frame->layoutAndShow();
    EXPECT_EQ(pressed(buttons), "1000");

    click(buttons[2]);
    EXPECT_EQ(set.getInt(0), 2);
    EXPECT_EQ(pressed(buttons), "0010");
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[0].valueThen.getInt(), 0);
    EXPECT_EQ(frame->events[0].index, 0u);

    // Without a release value the pressed button stays pressed.
    frame->events.clear();
    click(buttons[2]);
    EXPECT_EQ(pressed(buttons), "0010");
    EXPECT_EQ(set.getInt(0), 2);
    EXPECT_TRUE(frame->events.empty());

    set.record(0).value().setInt(1);
    frame->TransferDataToWindow();
    EXPECT_EQ(pressed(buttons), "0100");
}

TEST_F(RadioGroup, ReleasingThePressedButtonStoresTheReleaseValue) {
    set.records().push_back(intRecord(ParamInt, "Mode", 1, 0, 1, 0));
    std::vector<wxToggleButton*> buttons{addButton("off"), addButton("on")};
    bindRadioGroupByRecord(&set.record(0), 0, buttons[0], buttons[1], nullptr);
    radio(buttons[1])->setPosition(0, true);
    EXPECT_TRUE(radio(buttons[0])->hasReleaseValue());
    frame->layoutAndShow();
    EXPECT_EQ(pressed(buttons), "01");

    click(buttons[1]);
    EXPECT_EQ(set.getInt(0), 0);
    EXPECT_EQ(pressed(buttons), "10") << "the release value's button shows pressed";
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[0].valueThen.getInt(), 1);

    frame->events.clear();
    click(buttons[1]);
    EXPECT_EQ(set.getInt(0), 1);
    EXPECT_EQ(pressed(buttons), "01");
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
}

TEST_F(RadioGroup, EmptyEntriesHoldValuesWithoutButtons) {
    set.records().push_back(intRecord(ParamInt, "Side", 0, 0, 3, 0));
    std::vector<wxToggleButton*> buttons{addButton("one"), addButton("three")};
    bindRadioGroup(&set.record(0), 0, {nullptr, buttons[0], nullptr, buttons[1]});
    EXPECT_EQ(radio(buttons[0])->position(), 1);
    EXPECT_EQ(radio(buttons[1])->position(), 3);
    frame->layoutAndShow();
    EXPECT_EQ(pressed(buttons), "00");
    click(buttons[1]);
    EXPECT_EQ(set.getInt(0), 3);
    click(buttons[0]);
    EXPECT_EQ(set.getInt(0), 1);
    EXPECT_EQ(pressed(buttons), "10");
}

TEST_F(RadioGroup, ADestroyedButtonLeavesTheOtherGroups) {
    set.records().push_back(intRecord(ParamInt, "Tool", 0, 0, 2, 0));
    std::vector<wxToggleButton*> buttons{addButton("a"), addButton("b"), addButton("c")};
    bindRadioGroupByIndex(set, 0, buttons[0], buttons[1], buttons[2], nullptr);
    ASSERT_EQ(radio(buttons[0])->group().size(), 2u);
    buttons[1]->Destroy();
    EXPECT_EQ(radio(buttons[0])->group(), std::vector<wxWindow*>{buttons[2]});
    EXPECT_EQ(radio(buttons[2])->group(), std::vector<wxWindow*>{buttons[0]});
    frame->layoutAndShow();
    click(buttons[2]);  // releasing the others must not touch the destroyed button
    EXPECT_EQ(set.getInt(0), 2);
    EXPECT_FALSE(buttons[0]->GetValue());
}

}  // namespace
