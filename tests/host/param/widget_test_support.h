#pragma once
// Windows and records for the tests of the parameter widgets: a settings frame that logs every
// parameter event its controls send together with the record's value at that moment, record
// makers, and input driven through the toolkit's UI action simulator (real pointer and key events
// on the Xvfb display).

#include <gtest/gtest.h>

#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>
#include <wx/window.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/param/param_events.h"
#include "host/param/param_frame.h"
#include "host/param/param_record.h"
#include "tests/support/gui_support.h"
#include "tests/support/ui_input.h"

namespace widget_test {

using namespace Mav::Host::Param;

struct SeenEvent {
    wxEventType type = wxEVT_NULL;
    std::uint64_t index = 0;
    const ParamRecord* record = nullptr;
    long extra = 0;
    ParamValue valueThen;  // the record's value while the event was processed
};

inline const char* eventName(wxEventType type) {
    if (type == EVT_PARAM_CHANGING) return "changing";
    if (type == EVT_PARAM_CHANGED) return "changed";
    if (type == EVT_PARAM_CHANGED_LIVE) return "live";
    if (type == EVT_COLOUR_CHANGED) return "colour";
    return "other";
}

// The sequence of event kinds, for compact expectations: "changing changed".
inline std::string eventKinds(const std::vector<SeenEvent>& events) {
    std::string text;
    for (const SeenEvent& event : events) {
        if (!text.empty()) text += ' ';
        text += eventName(event.type);
    }
    return text;
}

// A floating settings frame (it transfers its controls' changes) that logs the parameter events.
class LoggingFrame : public ParamSubFrame {
public:
    explicit LoggingFrame(Parameters* set = nullptr, wxWindow* parent = nullptr)
        : ParamSubFrame(set, parent, wxID_ANY, "widgets", wxPoint(30, 30), wxSize(480, 360)) {
        panel = new wxPanel(this);
        sizer = new wxBoxSizer(wxVERTICAL);
        panel->SetSizer(sizer);
        Bind(EVT_PARAM_CHANGING, &LoggingFrame::log, this);
        Bind(EVT_PARAM_CHANGED, &LoggingFrame::log, this);
        Bind(EVT_PARAM_CHANGED_LIVE, &LoggingFrame::log, this);
        Bind(EVT_COLOUR_CHANGED, &LoggingFrame::log, this);
    }

    void updateEnables() override { ++enableUpdates; }

    // Adds a control made by the test to the layout.
    template <class Control>
    Control* add(Control* control) {
        sizer->Add(control, 0, wxALL | wxEXPAND, 4);
        return control;
    }
    void layoutAndShow() {
        panel->Layout();
        Show();
        Raise();
        settle();
    }
    void settle() {
        for (int i = 0; i < 5; ++i) {
            vantrelo_test::pumpToolkit();
            wxMilliSleep(10);
            wxYield();
        }
    }

    wxPanel* panel = nullptr;
    wxBoxSizer* sizer = nullptr;
    std::vector<SeenEvent> events;
    int enableUpdates = 0;

private:
    void log(wxCommandEvent& event) {
        event.Skip();
        SeenEvent seen;
        seen.type = event.GetEventType();
        seen.index = paramEventIndex(event);
        seen.record = paramEventRecord(event);
        seen.extra = event.GetExtraLong();
        if (seen.record) seen.valueThen = seen.record->value();
        events.push_back(seen);
    }
};

inline ParamRecord floatRecord(const std::string& name, double value, double low, double high,
                               double defaultValue, double sliderLow, double sliderHigh) {
    ParamRecord record(ParamFloat, name, fourCharCode("pFlt"), 0, 0);
    record.slots[SlotValue].setDouble(value);
    record.slots[SlotDefault].setDouble(defaultValue);
    record.slots[SlotSliderMin].setDouble(sliderLow);
    record.slots[SlotSliderMax].setDouble(sliderHigh);
    record.slots[SlotMin].setDouble(low);
    record.slots[SlotMax].setDouble(high);
    return record;
}

inline ParamRecord intRecord(ParamKind kind, const std::string& name, std::int32_t value,
                             std::int32_t low, std::int32_t high, std::int32_t defaultValue) {
    ParamRecord record(kind, name, fourCharCode("pInt"), 0, 0);
    record.slots[SlotValue].setInt(value);
    record.slots[SlotDefault].setInt(defaultValue);
    record.slots[SlotSliderMin].setInt(low);
    record.slots[SlotSliderMax].setInt(high);
    record.slots[SlotMin].setInt(low);
    record.slots[SlotMax].setInt(high);
    return record;
}

inline ParamRecord boolRecord(const std::string& name, bool value) {
    ParamRecord record(ParamBool, name, fourCharCode("pBol"), 0, 0);
    record.slots[SlotValue].setBool(value);
    return record;
}

inline ParamRecord textRecord(ParamKind kind, const std::string& name, const std::string& text) {
    ParamRecord record(kind, name, fourCharCode("pTxt"), 0, 0);
    record.slots[SlotValue].text = text;
    record.slots[SlotDefault].text = text;
    return record;
}

inline ParamRecord colourRecord(const std::string& name, double r, double g, double b) {
    ParamRecord record(ParamColour, name, fourCharCode("pCol"), 0, 0);
    record.slots[SlotValue].setDouble(r, 0);
    record.slots[SlotValue].setDouble(g, 1);
    record.slots[SlotValue].setDouble(b, 2);
    record.slots[SlotDefault] = record.slots[SlotValue];
    return record;
}

// Real input on the display.
using vantrelo_test::click;
using vantrelo_test::clickAt;
using vantrelo_test::moveTo;
using vantrelo_test::settleInput;

// Focuses a text field by a click, selects its text and types `text` over it.
inline void typeInto(wxWindow* field, const std::string& text) {
    click(field);
    wxUIActionSimulator sim;
    sim.Char('A', wxMOD_CONTROL);  // select all
    settleInput();
    sim.Text(text.c_str());
    settleInput();
}

inline void pressEnter() {
    wxUIActionSimulator sim;
    sim.Char(WXK_RETURN);
    settleInput();
}

}  // namespace widget_test
