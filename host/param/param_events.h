#pragma once
// The parameter events: how a control announces that it changes a parameter.
//
// Every event is a plain command event:
//   id           the parameter index in its set (indices at or above the set's size name records
//                that live outside it, such as the viewer's zoom record at 1000000);
//   client data  the ParamRecord, or null when the sender holds no record;
//   extra long   1 for the EVT_PARAM_CHANGED that ends a slider drag, otherwise 0 (the same
//                value is also in the event's integer, GetInt);
//   event object the sending window.
//
// One edit of one control sends, in this order:
//   EVT_PARAM_CHANGING      once, before the first store, while the record still holds the old
//                           value (the frame records undo here);
//   EVT_PARAM_CHANGED_LIVE  for every changed position while a slider is dragged;
//   EVT_PARAM_CHANGED       when the edit ends (Enter, focus lost, release, a click).
// Nothing is sent when an edit leaves the value as it was.  EVT_COLOUR_CHANGED is sent by a colour
// button after its dialog ended with OK; the frame then transfers the colour into the parameter,
// which sends the two events above.
//
// The events are processed at once, on the user-interface thread, and travel up the parent chain
// like any command event (a floating frame hands them on to its parent window).  A window handles
// them in its static event table with the toolkit's EVT_COMMAND(id, type, handler) entry, e.g.
//   EVT_COMMAND(wxID_ANY, Mav::Host::Param::EVT_PARAM_CHANGED, MyFrame::onChanged)
// or with Bind(Mav::Host::Param::EVT_PARAM_CHANGED, ...).

#include <wx/event.h>
#include <wx/string.h>

#include <cstdint>
#include <string>

class wxWindow;

namespace Mav::Host::Param {

struct ParamRecord;

wxDECLARE_EVENT(EVT_COLOUR_CHANGED, wxCommandEvent);
wxDECLARE_EVENT(EVT_PARAM_CHANGING, wxCommandEvent);
wxDECLARE_EVENT(EVT_PARAM_CHANGED, wxCommandEvent);
wxDECLARE_EVENT(EVT_PARAM_CHANGED_LIVE, wxCommandEvent);

// Builds the event for `window` and has the window's own event handler process it before
// returning, so the handlers of EVT_PARAM_CHANGING have finished before the caller stores.
// Returns whether a handler processed it.
bool sendParamEvent(wxWindow* window, wxEventType type, std::uint64_t index, ParamRecord* record,
                    long extra = 0);

// The parameter index an event carries (its id).
std::uint64_t paramEventIndex(const wxCommandEvent& event);
// The record an event carries as client data, or null.
ParamRecord* paramEventRecord(const wxCommandEvent& event);

// Control text into a record (UTF-8) and back.  Records hold UTF-8 only.
std::string toStdString(const wxString& text);
wxString fromStdString(const std::string& text);

}  // namespace Mav::Host::Param
