#include "host/app/message_box.h"

#include <wx/msgdlg.h>

#include <utility>

namespace Mav::Host::App {

namespace {

MessageBoxHook& hookSlot() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

long messageBoxStyle(int flags) {
    long style = 0;
    if (flags & kMessageOk) {
        style = wxOK;
        if (flags & kMessageCancel) style |= wxCANCEL;
    } else if (flags & kMessageYesNo) {
        style = wxYES_NO;
        if (flags & kMessageCancel) style |= wxCANCEL;
        if (flags & kMessageSecondDefault) style |= wxNO_DEFAULT;
    } else {
        style = wxOK;
    }
    // Without an explicit icon the toolkit picks one of its own (a question mark for Yes and No).
    if (flags & kMessageWarning)
        style |= wxICON_WARNING;
    else if (flags & kMessageError)
        style |= wxICON_ERROR;
    else if (flags & kMessageInformation)
        style |= wxICON_INFORMATION;
    else if (flags & kMessageQuestion)
        style |= wxICON_QUESTION;
    else
        style |= wxICON_NONE;
    return style;
}

int messageBoxResult(int toolkitAnswer) {
    switch (toolkitAnswer) {
    case wxID_CANCEL:
        return kMessageResultCancel;
    case wxID_NO:
        return kMessageResultNo;
    default:
        return kMessageResultOk;
    }
}

int showMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                   int flags) {
    long style = messageBoxStyle(flags) | wxCENTRE;
    // A missing owner must not be replaced by whatever top-level window the toolkit finds (it may
    // be the main window on its way out): the box then stands alone, modal for the application.
    if (!parent) style |= wxDIALOG_NO_PARENT;
    wxMessageDialog dialog(parent, wxString::FromUTF8(text.data(), text.size()),
                           wxString::FromUTF8(caption.data(), caption.size()), style);
    return messageBoxResult(runMessageDialog(dialog));
}

int runMessageDialog(wxMessageDialog& dialog) {
    const MessageBoxHook& hook = hookSlot();
    return hook ? hook(dialog) : dialog.ShowModal();
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(hookSlot(), std::move(hook));
}

}  // namespace Mav::Host::App
