#include "host/param/param_events.h"

#include <wx/window.h>

#include "host/param/param_record.h"

namespace Mav::Host::Param {

// Created once, in this order, when the program starts.
wxDEFINE_EVENT(EVT_COLOUR_CHANGED, wxCommandEvent);
wxDEFINE_EVENT(EVT_PARAM_CHANGING, wxCommandEvent);
wxDEFINE_EVENT(EVT_PARAM_CHANGED, wxCommandEvent);
wxDEFINE_EVENT(EVT_PARAM_CHANGED_LIVE, wxCommandEvent);

bool sendParamEvent(wxWindow* window, wxEventType type, std::uint64_t index, ParamRecord* record,
                    long extra) {
    if (!window) return false;
    wxCommandEvent event(type, window->GetId());
    event.SetEventObject(window);
    event.SetExtraLong(extra);
    // Mirrored in the integer, where handlers that read a command event's number look first.
    event.SetInt(static_cast<int>(extra));
    // Indices are far below the range of a window id; the id is what handlers read the index from.
    event.SetId(static_cast<int>(index));
    event.SetClientData(record);
    return window->GetEventHandler()->ProcessEvent(event);
}

std::uint64_t paramEventIndex(const wxCommandEvent& event) {
    const int id = event.GetId();
    return id < 0 ? std::uint64_t(-1) : std::uint64_t(id);
}

ParamRecord* paramEventRecord(const wxCommandEvent& event) {
    return static_cast<ParamRecord*>(event.GetClientData());
}

std::string toStdString(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxString fromStdString(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

}  // namespace Mav::Host::Param
