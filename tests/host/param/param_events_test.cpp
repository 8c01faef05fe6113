// What a parameter event carries, and that it is handled before sendParamEvent returns.

#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/panel.h>

#include "host/param/param_events.h"
#include "host/param/param_record.h"
#include "tests/support/gui_support.h"

namespace {

using namespace Mav::Host::Param;

TEST(ParamEvents, TheFourTypesAreDistinctAndMadeInTheirOrder) {
    EXPECT_LT(EVT_COLOUR_CHANGED, EVT_PARAM_CHANGING);
    EXPECT_LT(EVT_PARAM_CHANGING, EVT_PARAM_CHANGED);
    EXPECT_LT(EVT_PARAM_CHANGED, EVT_PARAM_CHANGED_LIVE);
}

TEST(ParamEvents, AnEventTravelsUpToTheFrameAtOnce) {
    VANTRELO_REQUIRE_TOOLKIT();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "events");
    auto* panel = new wxPanel(frame);
    auto* control = new wxPanel(panel, 4321);
    ParamRecord record(ParamFloat, "Größe", fourCharCode("pSiz"), 0, 0);

    int handled = 0;
    frame->Bind(EVT_PARAM_CHANGED, [&](wxCommandEvent& event) {
        ++handled;
        EXPECT_EQ(paramEventIndex(event), 1000000u);
        EXPECT_EQ(event.GetId(), 1000000);
        EXPECT_EQ(paramEventRecord(event), &record);
        EXPECT_EQ(event.GetExtraLong(), 1);
        EXPECT_EQ(event.GetInt(), 1);
        EXPECT_EQ(event.GetEventObject(), control);
    });
    EXPECT_TRUE(sendParamEvent(control, EVT_PARAM_CHANGED, 1000000, &record, 1));
    EXPECT_EQ(handled, 1);

    // Without a record and without a handler.
    frame->Bind(EVT_COLOUR_CHANGED, [&](wxCommandEvent& event) {
        EXPECT_EQ(paramEventRecord(event), nullptr);
        EXPECT_EQ(paramEventIndex(event), 0u);
        EXPECT_EQ(event.GetExtraLong(), 0);
        event.Skip();
    });
    EXPECT_FALSE(sendParamEvent(control, EVT_COLOUR_CHANGED, 0, nullptr));
    EXPECT_FALSE(sendParamEvent(nullptr, EVT_PARAM_CHANGED, 0, nullptr));
    frame->Destroy();
    vantrelo_test::pumpToolkit();
}

TEST(ParamEvents, TextCrossesIntoRecordsAsUtf8) {
    const std::string utf8 = "Größe – €";
    const wxString text = fromStdString(utf8);
    EXPECT_EQ(text.length(), 9u);
    EXPECT_EQ(toStdString(text), utf8);
    EXPECT_EQ(toStdString(wxString()), "");
}

}  // namespace
