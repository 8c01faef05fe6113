// The parameter validator in a real window: number fields, check boxes, choices and text, with
// the parameter events each edit sends and the "Input error" corrections.

#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include "host/param/param_binding.h"
#include "host/param/param_validator.h"
#include "tests/host/param/widget_test_support.h"

namespace {

using namespace widget_test;

class ParamValidatorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        vantrelo_test::takeRecordedBoxes();
        frame = new LoggingFrame();
        other = frame->add(new wxTextCtrl(frame->panel, wxID_ANY, "elsewhere"));
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        vantrelo_test::pumpToolkit();
    }

    wxTextCtrl* addField(ParamRecord& record, std::uint64_t index) {
        auto* field = frame->add(new wxTextCtrl(frame->panel, wxID_ANY));
        bindParameter(&record, index, field);
        return field;
    }

    LoggingFrame* frame = nullptr;
    wxTextCtrl* other = nullptr;
};

TEST_F(ParamValidatorWindow, TypingBeyondTheLimitInsertsTheClosestValue) {
    ParamRecord record = floatRecord("Blur Größe", 50, 0, 100, 10, 0, 100);
    wxTextCtrl* field = addField(record, 3);
    frame->layoutAndShow();
    EXPECT_EQ(field->GetValue(), "50.00");

    typeInto(field, "250");
    EXPECT_TRUE(frame->events.empty()) << "typing alone sends nothing";
    pressEnter();

    const auto boxes = vantrelo_test::takeRecordedBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Input error");
    EXPECT_EQ(boxes[0].text,
              "\"Blur Größe\": A number between 0.00 and 100.00 is required.  Closest value "
              "inserted.");
    EXPECT_TRUE(boxes[0].hasParent);
    EXPECT_EQ(field->GetValue(), "100.00");
    EXPECT_EQ(record.value().getDouble(), 100.0);
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[0].valueThen.getDouble(), 50.0) << "announced before the store";
    EXPECT_EQ(frame->events[0].index, 3u);
    EXPECT_EQ(frame->events[0].record, &record);
    EXPECT_EQ(frame->events[1].valueThen.getDouble(), 100.0);
    EXPECT_EQ(frame->events[1].extra, 0);
}

// Pasted text (letters, "nan", "inf" cannot be typed: the field swallows those keys) and numbers
// beyond the limits are replaced when the entry is committed; the user is told which and why.
TEST_F(ParamValidatorWindow, BadEntriesGetTheDefaultOrTheNearestLimit) {
    struct Case {
        ParamKind kind;
        const char* pasted;
        const char* message;  // "" for none
        const char* shown;
        double stored;
    };
    const char* kFloatInvalid =
        "\"Gain\": Invalid numeric entry.  A number between 0.00 and 100.00 is required.  Default "
        "value inserted.";
    const char* kFloatClosest =
        "\"Gain\": A number between 0.00 and 100.00 is required.  Closest value inserted.";
    const char* kIntInvalid =
        "\"Gain\": Invalid numeric entry.  A number between 2 and 100 is required.  Default value "
        "inserted.";
    const char* kIntClosest =
        "\"Gain\": A number between 2 and 100 is required.  Closest value inserted.";
    const Case cases[] = {
        {ParamFloat, "abc", kFloatInvalid, "10.00", 10},
        {ParamFloat, "nan", kFloatInvalid, "10.00", 10},
        {ParamFloat, "", kFloatInvalid, "10.00", 10},
        {ParamFloat, "inf", kFloatClosest, "100.00", 100},
        {ParamFloat, "-1e999", kFloatClosest, "0.00", 0},
        {ParamFloat, "-0.5", kFloatClosest, "0.00", 0},
        {ParamFloat, "75.125", "", "75.125", 75.125},
        {ParamInt, "1", kIntClosest, "2", 2},
        // 2^32 + 7 would be 7 after narrowing, inside the limits.
        {ParamInt, "4294967303", kIntClosest, "100", 100},
        {ParamInt, "-99999999999999999999", kIntClosest, "2", 2},
        {ParamInt, "seven", kIntInvalid, "5", 5},
        {ParamInt, "1.5", kIntInvalid, "5", 5},
        {ParamInt, "64", "", "64", 64},
        {ParamPopup, "0", kIntClosest, "2", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pasted) + " kind " + std::to_string(c.kind));
        ParamRecord record = c.kind == ParamFloat ? floatRecord("Gain", 50, 0, 100, 10, 0, 100)
                                                  : intRecord(c.kind, "Gain", 50, 2, 100, 5);
        wxTextCtrl* field = addField(record, 1);
        frame->layoutAndShow();
        frame->events.clear();
        click(field);
        field->SetValue(c.pasted);
        pressEnter();
        const auto boxes = vantrelo_test::takeRecordedBoxes();
        if (*c.message) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(boxes[0].caption, "Input error");
            EXPECT_NE(boxes[0].style & wxICON_WARNING, 0);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(field->GetValue(), c.shown);
        if (c.kind == ParamFloat)
            EXPECT_EQ(record.value().getDouble(), c.stored);
        else
            EXPECT_EQ(record.value().getInt(), c.stored);
        EXPECT_EQ(eventKinds(frame->events), "changing changed");
        field->Destroy();
    }
}

TEST_F(ParamValidatorWindow, CommittingAnUnchangedDisplayKeepsTheHiddenDigits) {
    ParamRecord record = floatRecord("Gamma", 12.3449, 0, 100, 1, 0, 100);
    wxTextCtrl* field = addField(record, 0);
    frame->layoutAndShow();
    EXPECT_EQ(field->GetValue(), "12.34");

    click(field);
    pressEnter();
    click(other);  // leaving the field commits once more
    EXPECT_TRUE(frame->events.empty());
    EXPECT_EQ(record.value().getDouble(), 12.3449);

    typeInto(field, "12.341");
    click(other);  // focus lost commits like Enter
    EXPECT_EQ(record.value().getDouble(), 12.341);
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());

    // A field that already shows the value in another form keeps its text.
    field->ChangeValue("12.3410");
    frame->TransferDataToWindow();
    EXPECT_EQ(field->GetValue(), "12.3410");
    record.value().setDouble(3);
    frame->TransferDataToWindow();
    EXPECT_EQ(field->GetValue(), "3.00");
}

TEST_F(ParamValidatorWindow, NumberFieldsSwallowKeysThatCannotBeNumbers) {
    ParamRecord real = floatRecord("Real", 0, -1000, 1000, 0, 0, 100);
    ParamRecord whole = intRecord(ParamInt, "Whole", 0, -1000, 1000, 0);
    ParamRecord name = textRecord(ParamString, "Name", "");
    wxTextCtrl* realField = addField(real, 0);
    wxTextCtrl* wholeField = addField(whole, 1);
    wxTextCtrl* nameField = addField(name, 2);
    frame->layoutAndShow();

    typeInto(realField, "-1.5e2x,E+");
    EXPECT_EQ(realField->GetValue(), "-1.5e2,E+");
    typeInto(wholeField, "-1.5e2x,+");
    EXPECT_EQ(wholeField->GetValue(), "-152,+");
    typeInto(nameField, "a.x 1");
    EXPECT_EQ(nameField->GetValue(), "a.x 1");
}

TEST_F(ParamValidatorWindow, ACheckBoxAnnouncesTheEditWhileTheOldStateIsStillStored) {
    ParamRecord record = boolRecord("Invert", false);
    auto* box = frame->add(new wxCheckBox(frame->panel, wxID_ANY, "Invert"));
    bindParameter(&record, 7, box);
    frame->layoutAndShow();
    EXPECT_FALSE(box->GetValue());

    click(box);
    EXPECT_TRUE(box->GetValue());
    EXPECT_TRUE(record.value().getBool());
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_FALSE(frame->events[0].valueThen.getBool());
    EXPECT_TRUE(frame->events[1].valueThen.getBool());
    EXPECT_EQ(frame->events[0].index, 7u);

    // A transfer that finds nothing changed sends nothing.
    frame->events.clear();
    box->GetValidator()->TransferFromWindow();
    EXPECT_TRUE(frame->events.empty());
}

TEST_F(ParamValidatorWindow, ChoicesAndTextsStoreWhatTheControlShows) {
    ParamRecord mode = intRecord(ParamPopup, "Mode", 1, 0, 3, 0);
    ParamRecord label = textRecord(ParamString, "Label", "Grün");
    auto* choice = frame->add(new wxChoice(frame->panel, wxID_ANY));
    for (const char* item : {"zero", "one", "two", "three"}) choice->Append(item);
    auto* field = frame->add(new wxTextCtrl(frame->panel, wxID_ANY));
    bindParameter(&mode, 0, choice);
    bindParameter(&label, 1, field);
    frame->layoutAndShow();
    EXPECT_EQ(choice->GetSelection(), 1);
    EXPECT_EQ(field->GetValue(), wxString::FromUTF8("Grün"));

    // The frame transfers after the choice's own event, as after a pick from its list.
    choice->SetSelection(3);
    wxCommandEvent picked(wxEVT_CHOICE, choice->GetId());
    picked.SetEventObject(choice);
    picked.SetInt(3);
    choice->GetEventHandler()->ProcessEvent(picked);
    EXPECT_EQ(mode.value().getInt(), 3);
    ASSERT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[0].valueThen.getInt(), 1);

    frame->events.clear();
    click(field);
    field->SetValue(wxString::FromUTF8("Blau – ß €"));
    pressEnter();
    EXPECT_EQ(label.value().text, "Blau – ß €");
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
}

TEST_F(ParamValidatorWindow, DisabledControlsTransferNothing) {
    ParamRecord record = floatRecord("Gain", 50, 0, 100, 10, 0, 100);
    wxTextCtrl* field = addField(record, 0);
    frame->layoutAndShow();
    field->ChangeValue("250");
    field->Disable();
    EXPECT_TRUE(field->GetValidator()->Validate(frame->panel));
    EXPECT_TRUE(field->GetValidator()->TransferFromWindow());
    EXPECT_EQ(record.value().getDouble(), 50.0);
    EXPECT_TRUE(frame->events.empty());
    EXPECT_TRUE(vantrelo_test::takeRecordedBoxes().empty());
}

}  // namespace
