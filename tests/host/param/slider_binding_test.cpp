// A number field with a slider beside it: ranges, live events during a drag, and the field and
// slider following each other.

#include <gtest/gtest.h>

#include <wx/slider.h>
#include <wx/textctrl.h>

#include "host/param/param_binding.h"
#include "host/param/param_validator.h"
#include "host/param/slider_validator.h"
#include "tests/host/param/widget_test_support.h"

namespace {

using namespace widget_test;

class SliderBinding : public ::testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        vantrelo_test::takeRecordedBoxes();
        frame = new LoggingFrame();
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        vantrelo_test::pumpToolkit();
    }

    void bindPair(ParamRecord& record, std::uint64_t index) {
        field = frame->add(new wxTextCtrl(frame->panel, wxID_ANY));
        // Windows create their sliders with the range 0..100; the binding gives the real one.
        slider = frame->add(new wxSlider(frame->panel, wxID_ANY, 0, 0, 100, wxDefaultPosition,
                                         wxSize(300, -1)));
        bindParameter(&record, index, field, slider);
        frame->layoutAndShow();
    }

    // A scroll event of the slider at position p, as the toolkit sends it.
    void scroll(wxEventType type, int position) {
        slider->SetValue(position);
        wxScrollEvent event(type, slider->GetId(), position, wxHORIZONTAL);
        event.SetEventObject(slider);
        slider->GetEventHandler()->ProcessEvent(event);
    }

    LoggingFrame* frame = nullptr;
    wxTextCtrl* field = nullptr;
    wxSlider* slider = nullptr;
};

TEST_F(SliderBinding, RangesFollowTheRecordAndItsStep) {
    struct Case {
        double sliderLow, sliderHigh;
        int first, last;
    };
    const Case cases[] = {
        {0, 1, 0, 100},        // step 0.01
        {0, 2.3, 0, 230},      // 2.3 / 0.01 is 229.99999999999997 in doubles
        {0, 0.379, 0, 379},    // step 0.001
        {-50, 50, -500, 500},  // step 0.1
        {0, 200, 0, 200},      // step 1
        {0, 0, 0, 1},          // no range: the step falls back to 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sliderHigh);
        ParamRecord record = floatRecord("Amount", 0, -1000, 1000, 0, c.sliderLow, c.sliderHigh);
        bindPair(record, 0);
        EXPECT_EQ(slider->GetMin(), c.first);
        if (c.last > c.first) {
            EXPECT_EQ(slider->GetMax(), c.last);
        }
        field->Destroy();
        slider->Destroy();
    }
    ParamRecord whole = intRecord(ParamInt, "Count", 7, 2, 40, 5);
    bindPair(whole, 0);
    EXPECT_EQ(slider->GetMin(), 2);
    EXPECT_EQ(slider->GetMax(), 40);
    EXPECT_EQ(slider->GetValue(), 7);
    EXPECT_EQ(field->GetValue(), "7");
}

TEST_F(SliderBinding, ADragSendsLiveEventsAndEndsWithTheDragFlag) {
    ParamRecord record = floatRecord("Amount", 20, 0, 100, 0, 0, 100);
    bindPair(record, 4);
    EXPECT_EQ(slider->GetValue(), 20);

    for (int p : {20, 21, 22, 22, 23}) scroll(wxEVT_SCROLL_THUMBTRACK, p);
    scroll(wxEVT_SCROLL_THUMBRELEASE, 23);
    scroll(wxEVT_SCROLL_CHANGED, 23);

    ASSERT_EQ(eventKinds(frame->events), "changing live live live changed");
    EXPECT_EQ(frame->events[0].valueThen.getDouble(), 20.0);
    EXPECT_EQ(frame->events[1].valueThen.getDouble(), 21.0);
    EXPECT_EQ(frame->events[2].valueThen.getDouble(), 22.0);
    EXPECT_EQ(frame->events[3].valueThen.getDouble(), 23.0);
    EXPECT_EQ(frame->events[4].extra, 1);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(frame->events[i].extra, 0);
    for (const SeenEvent& e : frame->events) EXPECT_EQ(e.index, 4u);
    EXPECT_EQ(field->GetValue(), "23.00");
    EXPECT_EQ(record.value().getDouble(), 23.0);
}

TEST_F(SliderBinding, ADragBackToItsStartSendsNothing) {
    ParamRecord record = floatRecord("Amount", 20, 0, 100, 0, 0, 100);
    bindPair(record, 0);
    scroll(wxEVT_SCROLL_THUMBTRACK, 20);
    scroll(wxEVT_SCROLL_THUMBRELEASE, 20);
    scroll(wxEVT_SCROLL_CHANGED, 20);
    EXPECT_TRUE(frame->events.empty());
}

TEST_F(SliderBinding, ATransferDuringADragEndsTheEditWithoutAnEvent) {
    ParamRecord record = floatRecord("Amount", 20, 0, 100, 0, 0, 100);
    bindPair(record, 0);
    scroll(wxEVT_SCROLL_THUMBTRACK, 30);
    EXPECT_EQ(eventKinds(frame->events), "changing live");
    frame->TransferDataToWindow();
    EXPECT_FALSE(static_cast<ParamValidator*>(field->GetValidator())->editOpen());
    scroll(wxEVT_SCROLL_THUMBRELEASE, 30);
    EXPECT_EQ(eventKinds(frame->events), "changing live");
    // The next drag opens a new edit.
    scroll(wxEVT_SCROLL_THUMBTRACK, 31);
    EXPECT_EQ(eventKinds(frame->events), "changing live changing live");
}

TEST_F(SliderBinding, PositionsBecomeStepMultiplesWithinTheSliderRange) {
    ParamRecord fraction = floatRecord("Fraction", 0, 0, 1, 0, 0, 1);
    bindPair(fraction, 0);
    scroll(wxEVT_SCROLL_LINEDOWN, 37);
    EXPECT_EQ(fraction.value().getDouble(), 0.37);
    EXPECT_EQ(field->GetValue(), "0.37");
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
    EXPECT_EQ(frame->events[1].extra, 0);
    field->Destroy();
    slider->Destroy();

    // Slider range 0.015..1: position 1 stands for 0.01, below the range, so 0.015 is stored.
    ParamRecord narrow = floatRecord("Narrow", 0.5, 0, 1, 0.5, 0.015, 1);
    bindPair(narrow, 0);
    EXPECT_EQ(slider->GetMin(), 1);
    scroll(wxEVT_SCROLL_PAGEUP, 1);
    EXPECT_EQ(narrow.value().getDouble(), 0.015);
    EXPECT_EQ(field->GetValue(), "0.01");  // 0.015 is a hair below it in binary

    // Integer pairs store the position itself.
    field->Destroy();
    slider->Destroy();
    ParamRecord whole = intRecord(ParamInt, "Count", 7, 2, 40, 5);
    bindPair(whole, 0);
    frame->events.clear();
    scroll(wxEVT_SCROLL_BOTTOM, 40);
    scroll(wxEVT_SCROLL_CHANGED, 40);
    EXPECT_EQ(whole.value().getInt(), 40);
    EXPECT_EQ(field->GetValue(), "40");
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
}

TEST_F(SliderBinding, TypingMovesTheSliderBeforeTheValueIsCommitted) {
    ParamRecord record = floatRecord("Amount", 20, 0, 100, 0, 0, 100);
    bindPair(record, 0);
    typeInto(field, "55");
    EXPECT_EQ(field->GetValue(), "55");
    EXPECT_EQ(slider->GetValue(), 55);
    EXPECT_EQ(record.value().getDouble(), 20.0);
    EXPECT_TRUE(frame->events.empty());
    // Each key moves the slider: "2", "25", then "250" is beyond the limits and leaves it at 25
    // until the entry is corrected.
    typeInto(field, "250");
    EXPECT_EQ(slider->GetValue(), 25);
    pressEnter();
    EXPECT_EQ(record.value().getDouble(), 100.0);
    EXPECT_EQ(slider->GetValue(), 100);
    EXPECT_EQ(vantrelo_test::takeRecordedBoxes().size(), 1u);
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
}

TEST_F(SliderBinding, AMoveBackToAnEarlierPositionCountsAfterTheValueChangedElsewhere) {
    ParamRecord record = floatRecord("Amount", 20, 0, 100, 0, 0, 100);
    bindPair(record, 0);
    scroll(wxEVT_SCROLL_LINEDOWN, 30);
    ASSERT_EQ(record.value().getDouble(), 30.0);
    // A typed value moves the slider without a scroll event.
    typeInto(field, "55");
    pressEnter();
    ASSERT_EQ(record.value().getDouble(), 55.0);
    frame->events.clear();
    scroll(wxEVT_SCROLL_LINEUP, 30);
    EXPECT_EQ(record.value().getDouble(), 30.0);
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
    // So does a transfer (undo, a spring-back).
    record.value().setDouble(70.0);
    frame->TransferDataToWindow();
    frame->events.clear();
    scroll(wxEVT_SCROLL_LINEUP, 30);
    EXPECT_EQ(record.value().getDouble(), 30.0);
    EXPECT_EQ(eventKinds(frame->events), "changing changed");
}

// The slider driven by the pointer: press on the thumb, drag, release.
TEST_F(SliderBinding, APointerDragOfTheThumb) {
    ParamRecord record = floatRecord("Amount", 0, 0, 100, 0, 0, 100);
    bindPair(record, 2);
    const wxSize size = slider->GetClientSize();
    wxUIActionSimulator sim;
    // At value 0 the thumb sits at the left end of the trough.
    moveTo(slider, wxPoint(8, size.y / 2));
    sim.MouseDown();
    settleInput();
    for (int x = 20; x <= size.x / 2; x += 20) moveTo(slider, wxPoint(x, size.y / 2));
    sim.MouseUp();
    settleInput();

    ASSERT_GE(frame->events.size(), 3u) << eventKinds(frame->events);
    EXPECT_EQ(eventName(frame->events.front().type), std::string("changing"));
    EXPECT_EQ(eventName(frame->events.back().type), std::string("changed"));
    EXPECT_EQ(frame->events.back().extra, 1);
    for (std::size_t i = 1; i + 1 < frame->events.size(); ++i)
        EXPECT_EQ(eventName(frame->events[i].type), std::string("live")) << i;
    EXPECT_GT(slider->GetValue(), 20);
    EXPECT_EQ(record.value().getDouble(), double(slider->GetValue()));
    EXPECT_EQ(field->GetValue(), wxString::Format("%d.00", slider->GetValue()));
}

}  // namespace
