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

}  // namespace
