#include "host/param/param_validator.h"

#include <wx/bookctrl.h>
#include <wx/choicebk.h>
#include <wx/intl.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/slider.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "host/app/message_box.h"
#include "host/param/color_button.h"
#include "host/param/param_events.h"
#include "host/param/param_number_text.h"
#include "host/param/slider_validator.h"

namespace Mav::Host::Param {

wxBEGIN_EVENT_TABLE(ParamValidator, wxGenericValidator)
    EVT_CHAR(ParamValidator::onChar)
    EVT_TEXT(wxID_ANY, ParamValidator::onText)
    EVT_TEXT_ENTER(wxID_ANY, ParamValidator::onTextEnter)
    EVT_SET_FOCUS(ParamValidator::onSetFocus)
    EVT_KILL_FOCUS(ParamValidator::onKillFocus)
wxEND_EVENT_TABLE()

// Controls are told apart with dynamic_cast throughout: the toolkit's wxDynamicCast casts down
// before it checks, which is undefined for a window of another class (the sanitizer build says so).

namespace {

bool isIntegerKind(ParamKind kind) {
    return kind == ParamInt || kind == ParamPopup || kind == ParamIndex;
}

bool isTextKind(ParamKind kind) {
    return kind == ParamText || kind == ParamString;
}

// The page controls whose page number (or title) is the value.
wxBookCtrlBase* pageControl(wxWindow* window) {
    if (auto* book = dynamic_cast<wxChoicebook*>(window)) return book;
    if (auto* book = dynamic_cast<wxNotebook*>(window)) return book;
    return nullptr;
}

long firstSelectedItem(wxListCtrl* list) {
    return list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

void selectItem(wxListCtrl* list, long item) {
    if (item >= 0 && item < list->GetItemCount())
        list->SetItemState(item, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

void selectPage(wxBookCtrlBase* book, int page) {
    // ChangeSelection: a transfer to the window is no user action and sends no page events.
    if (page >= 0 && static_cast<std::size_t>(page) < book->GetPageCount())
        book->ChangeSelection(static_cast<std::size_t>(page));
}

}  // namespace

ParamValidator::ParamValidator(ParamRecord* record, std::uint64_t index)
    : wxGenericValidator(static_cast<bool*>(nullptr)), record_(record), index_(index) {
    if (record_ && record_->kind == ParamFloat)
        sliderStep_ = floatSliderStep(record_->slots[SlotSliderMin].getDouble(),
                                      record_->slots[SlotSliderMax].getDouble());
    bindBuffer();
}

ParamValidator::ParamValidator(const ParamValidator& other)
    : wxGenericValidator(static_cast<bool*>(nullptr)),
      sliderPartner_(other.sliderPartner_),
      record_(other.record_),
      index_(other.index_),
      sliderStep_(other.sliderStep_) {
    wxValidator::Copy(other);
    bindBuffer();
}

ParamValidator::~ParamValidator() {
    // A copy may carry a partner pointer whose link leads to another validator: only our own link
    // is cleared.
    if (sliderPartner_ && sliderPartner_->partner_ == this) sliderPartner_->partner_ = nullptr;
}

wxObject* ParamValidator::Clone() const {
    return new ParamValidator(*this);
}

void ParamValidator::bindBuffer() {
    m_pBool = nullptr;
    m_pInt = nullptr;
    m_pString = nullptr;
    if (!record_) return;
    const ParamKind kind = record_->kind;
    if (isIntegerKind(kind)) {
        intBuffer_ = record_->value().getInt();
        m_pInt = &intBuffer_;
    } else if (kind == ParamBool) {
        // A buffer of our own instead of the record's byte: the store then goes through beginEdit
        // with the old value still in the record.
        boolBuffer_ = record_->value().getBool();
        m_pBool = &boolBuffer_;
    } else if (isTextKind(kind)) {
        textBuffer_ = fromStdString(record_->value().text);
        m_pString = &textBuffer_;
    }
}

void ParamValidator::beginEdit() {
    if (editOpen_) return;
    editOpen_ = true;
    sendParamEvent(GetWindow(), EVT_PARAM_CHANGING, index_, record_, 0);
}

void ParamValidator::endEdit(wxEventType type, long extra) {
    if (!editOpen_) return;
    // Closed before sending: a handler may transfer to this window, which must find it closed.
    if (type != EVT_PARAM_CHANGED_LIVE) editOpen_ = false;
    sendParamEvent(GetWindow(), type, index_, record_, extra);
}

bool ParamValidator::TransferToWindow() {
    editOpen_ = false;
    wxWindow* window = GetWindow();
    if (!window || !record_) return false;
    const ParamKind kind = record_->kind;
    ParamValue& value = record_->value();

    if (isIntegerKind(kind)) {
        if (wxBookCtrlBase* book = pageControl(window)) {
            selectPage(book, value.getInt());
            return true;
        }
        if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
            selectItem(list, value.getInt());
            return true;
        }
        intBuffer_ = value.getInt();
        return wxGenericValidator::TransferToWindow();
    }
    if (kind == ParamFloat) {
        auto* field = dynamic_cast<wxTextCtrl*>(window);
        if (!field) return true;
        const double exact = value.getDouble();
        const std::string shown = formatFloatText(exact);
        double typed = 0.0;
        double shownValue = 0.0;
        // A field that shows the same number in another form ("5" for 5.00) keeps its text.
        const bool keep = readFloatText(toStdString(field->GetValue()), typed) &&
                          ((readFloatText(shown, shownValue) && approxEqual(typed, shownValue)) ||
                           approxEqual(typed, exact));
        if (!keep) field->SetValue(wxString::FromAscii(shown.c_str()));
        return true;
    }
    if (kind == ParamBool) {
        boolBuffer_ = value.getBool();
        return wxGenericValidator::TransferToWindow();
    }
    if (isTextKind(kind)) {
        const wxString text = fromStdString(value.text);
        if (wxBookCtrlBase* book = pageControl(window)) {
            for (std::size_t page = 0; page < book->GetPageCount(); ++page) {
                if (book->GetPageText(page) == text) {
                    book->ChangeSelection(page);
                    break;
                }
            }
            return true;
        }
        if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
            for (long item = 0; item < list->GetItemCount(); ++item) {
                if (list->GetItemText(item, 0) == text) {
                    selectItem(list, item);
                    break;
                }
            }
            return true;
        }
        textBuffer_ = text;
        return wxGenericValidator::TransferToWindow();
    }
    if (kind == ParamColour) {
        auto* button = dynamic_cast<ColorButton*>(window);
        if (!button) return false;
        button->red = value.getDouble(0);
        button->green = value.getDouble(1);
        button->blue = value.getDouble(2);
        button->drawSwatch();
        return true;
    }
    // Points and the kinds up to 13 have no control; kinds beyond are left to the generic base.
    if (kind > 13) return wxGenericValidator::TransferToWindow();
    return false;
}

bool ParamValidator::TransferFromWindow() {
    wxWindow* window = GetWindow();
    if (!window || !record_) return false;
    if (!window->IsEnabled()) return true;
    const ParamKind kind = record_->kind;
    ParamValue& value = record_->value();
    bool result = false;

    if (isIntegerKind(kind)) {
        auto* field = dynamic_cast<wxTextCtrl*>(window);
        if (field) {
            wxString message;
            result = checkNumberEntry(this, *record_, field->GetValue(), message, false);
        } else {
            int newValue = 0;
            result = true;
            if (wxBookCtrlBase* book = pageControl(window)) {
                newValue = book->GetSelection();
            } else if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
                newValue = static_cast<int>(firstSelectedItem(list));
            } else {
                intBuffer_ = value.getInt();
                result = wxGenericValidator::TransferFromWindow();
                newValue = intBuffer_;
            }
            if (result && newValue != value.getInt()) {
                beginEdit();
                value.setInt(newValue);
            }
        }
    } else if (kind == ParamFloat) {
        if (auto* field = dynamic_cast<wxTextCtrl*>(window)) {
            wxString message;
            result = checkNumberEntry(this, *record_, field->GetValue(), message, false);
        }
    } else if (kind == ParamBool) {
        boolBuffer_ = value.getBool();
        result = wxGenericValidator::TransferFromWindow();
        if (result && boolBuffer_ != value.getBool()) {
            const bool newState = boolBuffer_;
            beginEdit();
            value.setBool(newState);
        }
    } else if (isTextKind(kind)) {
        bool have = false;
        wxString text;
        if (wxBookCtrlBase* book = pageControl(window)) {
            // No selected page leaves the record as it is.
            const int page = book->GetSelection();
            if (page != wxNOT_FOUND) {
                text = book->GetPageText(static_cast<std::size_t>(page));
                have = true;
            }
            result = true;
        } else if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
            const long item = firstSelectedItem(list);
            if (item >= 0) {
                text = list->GetItemText(item, 0);
                have = true;
            }
            result = true;
        } else {
            textBuffer_ = fromStdString(value.text);
            result = wxGenericValidator::TransferFromWindow();
            text = textBuffer_;
            have = result;
        }
        if (have) {
            std::string newText = toStdString(text);
            if (newText != value.text) {
                beginEdit();
                value.text = std::move(newText);
            }
        }
    } else if (kind == ParamColour) {
        if (auto* button = dynamic_cast<ColorButton*>(window)) {
            // != also counts a NaN on either side as a change.
            if (button->red != value.getDouble(0) || button->green != value.getDouble(1) ||
                button->blue != value.getDouble(2)) {
                beginEdit();
                value.setDouble(button->red, 0);
                value.setDouble(button->green, 1);
                value.setDouble(button->blue, 2);
            }
            result = true;
        }
    }
    endEdit(EVT_PARAM_CHANGED, 0);
    return result;
}

bool ParamValidator::Validate(wxWindow* parent) {
    wxWindow* window = GetWindow();
    if (!window || !record_ || !window->IsEnabled()) return true;
    auto* field = dynamic_cast<wxTextCtrl*>(window);
    const ParamKind kind = record_->kind;
    if (!field || !(kind == ParamInt || kind == ParamPopup || kind == ParamFloat)) return true;
    // Against a copy: the field is corrected, while the record and the undo history wait for the
    // transfer of the corrected text.
    ParamRecord copy = *record_;
    wxString message;
    checkNumberEntry(this, copy, field->GetValue(), message, true);
    if (!message.empty())
        App::showMessageBox(parent, toStdString(message), toStdString(_("Input error")),
                            App::kMessageOk | App::kMessageWarning);
    return true;
}

void ParamValidator::setSliderPartner(SliderValidator* partner) {
    sliderPartner_ = partner;
    if (!partner || !record_) return;
    auto* slider = dynamic_cast<wxSlider*>(partner->GetWindow());
    if (!slider) return;
    if (record_->kind == ParamInt) {
        slider->SetRange(record_->slots[SlotSliderMin].getInt(),
                         record_->slots[SlotSliderMax].getInt());
    } else if (record_->kind == ParamFloat) {
        slider->SetRange(sliderPositionFor(record_->slots[SlotSliderMin].getDouble(), sliderStep_),
                         sliderPositionFor(record_->slots[SlotSliderMax].getDouble(), sliderStep_));
    }
}

int ParamValidator::sliderPositionOfValue() const {
    if (!record_) return 0;
    const ParamValue& value = record_->value();
    if (record_->kind == ParamFloat) return sliderPositionFor(value.getDouble(), sliderStep_);
    return value.getInt();
}

void ParamValidator::applySliderPosition(int position, wxEventType type, long extra) {
    if (!record_) return;
    auto* field = dynamic_cast<wxTextCtrl*>(GetWindow());
    ParamValue& value = record_->value();
    if (record_->kind == ParamInt) {
        if (field) field->ChangeValue(wxString::FromAscii(formatIntText(position).c_str()));
        if (position != value.getInt()) {
            beginEdit();
            value.setInt(position);
        }
    } else if (record_->kind == ParamFloat) {
        const double low = record_->slots[SlotSliderMin].getDouble();
        const double high = record_->slots[SlotSliderMax].getDouble();
        double v = position * sliderStep_;
        if (v < low) v = low;
        if (v > high) v = high;
        if (field) field->ChangeValue(wxString::FromAscii(formatFloatText(v).c_str()));
        if (!approxEqual(v, value.getDouble())) {
            beginEdit();
            value.setDouble(v);
        }
    }
    endEdit(type, extra);
}

void ParamValidator::commit() {
    wxWindow* window = GetWindow();
    // Focus also leaves a field whose window is on its way out; its record may be gone already.
    if (!window || window->IsBeingDeleted() || !dynamic_cast<wxTextCtrl*>(window)) return;
    Validate(window->GetParent());
    TransferFromWindow();
    endEdit(EVT_PARAM_CHANGED, 0);
}

void ParamValidator::onTextEnter(wxCommandEvent& event) {
    event.Skip();
    if (event.GetEventObject() == GetWindow()) commit();
}

void ParamValidator::onKillFocus(wxFocusEvent& event) {
    event.Skip();
    commit();
}

void ParamValidator::onSetFocus(wxFocusEvent& event) {
    event.Skip();
    if (!record_ || isTextKind(record_->kind)) return;
    if (auto* field = dynamic_cast<wxTextCtrl*>(GetWindow())) field->SelectAll();
}

void ParamValidator::onText(wxCommandEvent& event) {
    event.Skip();
    if (!sliderPartner_ || !record_ || event.GetEventObject() != GetWindow()) return;
    auto* slider = dynamic_cast<wxSlider*>(sliderPartner_->GetWindow());
    if (!slider) return;
    ParamRecord copy = *record_;
    wxString message;
    if (!checkNumberEntry(this, copy, event.GetString(), message, false)) return;
    // SetValue of a slider sends no scroll events.
    if (copy.kind == ParamFloat)
        slider->SetValue(sliderPositionFor(copy.value().getDouble(), sliderStep_));
    else
        slider->SetValue(copy.value().getInt());
}

void ParamValidator::onChar(wxKeyEvent& event) {
    const int code = event.GetKeyCode();
    const ParamKind kind = record_ ? record_->kind : 0;
    if ((kind == ParamInt || kind == ParamFloat) && code > 31 && code != 127 && code <= 300 &&
        !(code >= '0' && code <= '9')) {
        const bool accepted = code == '+' || code == ',' || code == '-' ||
                              (kind == ParamFloat && (code == '.' || code == 'e' || code == 'E'));
        if (!accepted) {
            if (!wxValidator::IsSilent()) wxBell();
            return;  // swallowed
        }
    }
    event.Skip();
}

bool checkNumberEntry(ParamValidator* validator, ParamRecord& record, const wxString& text,
                      wxString& message, bool report) {
    const ParamKind kind = record.kind;
    if (kind != ParamInt && kind != ParamPopup && kind != ParamFloat) return false;
    message.clear();
    const std::string name = toStdString(wxGetTranslation(fromStdString(record.name)));
    const std::string typed = toStdString(text);
    const bool own = validator && validator->record() == &record;
    std::string produced;
    ParamValue& value = record.value();

    if (kind != ParamFloat) {
        const std::int64_t low = record.slots[SlotMin].getInt();
        const std::int64_t high = record.slots[SlotMax].getInt();
        std::int64_t number = 0;
        if (!readIntegerText(typed, number)) {
            if (!report) return false;
            produced = fillRangeMessage(
                toStdString(_("\"%s\": Invalid numeric entry.  A number between %d and %d is "
                              "required.  Default value inserted.")),
                name, double(low), double(high));
            number = record.slots[SlotDefault].getInt();
        }
        // Checked in 64 bits, so a typed number beyond the 32-bit range is clamped, not wrapped.
        std::int64_t clamped = number < low ? low : number;
        if (clamped > high) clamped = high;
        if (clamped != number) {
            if (!report) return false;
            produced = fillRangeMessage(
                toStdString(_("\"%s\": A number between %d and %d is required.  Closest value "
                              "inserted.")),
                name, double(low), double(high));
        }
        const auto stored = static_cast<std::int32_t>(clamped);
        if (stored != value.getInt()) {
            if (own) validator->beginEdit();
            value.setInt(stored);
        }
    } else {
        const double low = record.slots[SlotMin].getDouble();
        const double high = record.slots[SlotMax].getDouble();
        double number = 0.0;
        if (!readFloatText(typed, number)) {
            if (!report) return false;
            produced = fillRangeMessage(
                toStdString(_("\"%s\": Invalid numeric entry.  A number between %.2f and %.2f is "
                              "required.  Default value inserted.")),
                name, low, high);
            number = record.slots[SlotDefault].getDouble();
        }
        double clamped = number < low ? low : number;
        if (clamped > high) clamped = high;
        if (clamped != number) {
            if (!report) return false;
            produced = fillRangeMessage(
                toStdString(_("\"%s\": A number between %.2f and %.2f is required.  Closest "
                              "value inserted.")),
                name, low, high);
        }
        double shown = 0.0;
        const bool unchangedDisplay = readFloatText(formatFloatText(value.getDouble()), shown) &&
                                      approxEqual(shown, clamped);
        if (!unchangedDisplay && !approxEqual(value.getDouble(), clamped)) {
            if (own) validator->beginEdit();
            value.setDouble(clamped);
        }
    }

    if (!produced.empty()) {
        message = fromStdString(produced);
        if (validator) {
            if (auto* field = dynamic_cast<wxTextCtrl*>(validator->GetWindow())) {
                const std::string shownText = kind == ParamFloat
                                                  ? formatFloatText(value.getDouble())
                                                  : formatIntText(value.getInt());
                field->SetValue(wxString::FromAscii(shownText.c_str()));
            }
        }
    }
    return true;
}

}  // namespace Mav::Host::Param
