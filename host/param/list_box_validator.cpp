#include "host/param/list_box_validator.h"

#include <wx/arrstr.h>
#include <wx/filename.h>
#include <wx/listbox.h>

#include <string>

#include "host/param/file_list_text.h"
#include "host/param/param_events.h"

namespace Mav::Host::Param {

ListBoxParamValidator::ListBoxParamValidator(ParamRecord* record, std::uint64_t index)
    : wxGenericValidator(static_cast<bool*>(nullptr)), record_(record), index_(index) {}

ListBoxParamValidator::ListBoxParamValidator(const ListBoxParamValidator& other)
    : wxGenericValidator(static_cast<bool*>(nullptr)),
      record_(other.record_),
      index_(other.index_) {
    wxValidator::Copy(other);
}

wxObject* ListBoxParamValidator::Clone() const {
    return new ListBoxParamValidator(*this);
}

bool ListBoxParamValidator::Validate(wxWindow*) {
    return true;
}

bool ListBoxParamValidator::TransferToWindow() {
    auto* list = dynamic_cast<wxListBox*>(GetWindow());
    if (!list || !record_) return false;
    paths.clear();
    wxArrayString names;
    for (const std::string& path : splitFileListText(record_->value().text)) {
        paths.push_back(fromStdString(path));
        names.Add(wxFileName(paths.back()).GetFullName());
    }
    list->Set(names);
    return true;
}

bool ListBoxParamValidator::TransferFromWindow() {
    wxWindow* window = GetWindow();
    if (window && !window->IsEnabled()) return true;
    if (!dynamic_cast<wxListBox*>(window) || !record_) return false;
    std::vector<std::string> utf8;
    utf8.reserve(paths.size());
    for (const wxString& path : paths) utf8.push_back(toStdString(path));
    std::string text = joinFileListText(utf8);
    if (text == record_->value().text) return true;
    sendParamEvent(window, EVT_PARAM_CHANGING, index_, record_, 0);
    record_->value().text = std::move(text);
    sendParamEvent(window, EVT_PARAM_CHANGED, index_, record_, 0);
    return true;
}

}  // namespace Mav::Host::Param
