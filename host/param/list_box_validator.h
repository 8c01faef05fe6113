#pragma once
// Binds a list box to a text parameter that holds a list of file paths in the file-list text
// (host/param/file_list_text.h).  The list box shows the file names; the validator keeps the full
// paths, in the order of the list box items, in its public `paths`.  The window's add, remove and
// reorder commands edit `paths` and the items in step and then call TransferFromWindow, which
// writes the list into the parameter with EVT_PARAM_CHANGING before and EVT_PARAM_CHANGED after
// the store, or sends nothing when the text is unchanged.

#include <wx/string.h>
#include <wx/valgen.h>

#include <cstdint>
#include <vector>

#include "host/param/param_record.h"

namespace Mav::Host::Param {

class ListBoxParamValidator : public wxGenericValidator {
public:
    ListBoxParamValidator(ParamRecord* record, std::uint64_t index);
    // Copies the record and index; the copy's path list starts empty and is filled by its first
    // transfer to the window.
    ListBoxParamValidator(const ListBoxParamValidator& other);
    ListBoxParamValidator& operator=(const ListBoxParamValidator&) = delete;
    wxObject* Clone() const override;

    bool Validate(wxWindow* parent) override;
    // Reads the record's text into `paths` and shows one item per path: the file name with its
    // extension, without the folder.  False unless the control is a wxListBox.
    bool TransferToWindow() override;
    // Writes `paths` into the record's text when it differs.  A disabled list box transfers
    // nothing; false unless the control is a wxListBox.
    bool TransferFromWindow() override;

    ParamRecord* record() const { return record_; }
    std::uint64_t index() const { return index_; }

    // Full paths, parallel to the list box items.
    std::vector<wxString> paths;

private:
    ParamRecord* record_ = nullptr;
    std::uint64_t index_ = 0;
};

}  // namespace Mav::Host::Param
