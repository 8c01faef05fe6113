#pragma once
// Message boxes of the host, shown with the toolkit's message dialog.
//
// Flags (a combination):
//   kMessageOk 0x1            an OK button; with kMessageCancel also Cancel
//   kMessageYesNo 0x2         Yes and No (when kMessageOk is not set); with kMessageCancel also
//                             Cancel; with kMessageSecondDefault No is the default button
//   kMessageWarning 0x1000, kMessageError 0x2000, kMessageInformation 0x8000,
//   kMessageQuestion 0x4000   the icon; the first of them in this order wins; none: no icon
// Neither button flag gives OK alone.  Results: 1 OK or Yes (and anything unexpected), 2 Cancel,
// 3 No.
//
// Only the user-interface thread may show a box.  Tests must never block on one: they install a
// hook that receives the fully built dialog instead of it being shown modally.

#include <functional>
#include <string>

class wxMessageDialog;
class wxWindow;

namespace Mav::Host::App {

inline constexpr int kMessageOk = 0x1;
inline constexpr int kMessageYesNo = 0x2;
inline constexpr int kMessageCancel = 0x4;
inline constexpr int kMessageSecondDefault = 0x20;
inline constexpr int kMessageWarning = 0x1000;
inline constexpr int kMessageError = 0x2000;
inline constexpr int kMessageQuestion = 0x4000;
inline constexpr int kMessageInformation = 0x8000;

inline constexpr int kMessageResultOk = 1;  // OK or Yes
inline constexpr int kMessageResultCancel = 2;
inline constexpr int kMessageResultNo = 3;

// The toolkit dialog style for host flags: buttons, default button and icon.
long messageBoxStyle(int flags);
// The host result for the toolkit's answer (wxID_OK, wxID_YES, wxID_NO, wxID_CANCEL, ...).
int messageBoxResult(int toolkitAnswer);

// Shows a modal box owned by `parent`; without a parent the box belongs to no window and is
// application-modal.  Text and caption are UTF-8.
int showMessageBox(wxWindow* parent, const std::string& text, const std::string& caption,
                   int flags);

// Runs a dialog the caller built itself (buttons relabelled, a style of its own) modally, or hands
// it to the hook below; returns the toolkit's answer (wxID_YES, wxID_NO, wxID_CANCEL, ...).
int runMessageDialog(wxMessageDialog& dialog);

// Receives the built dialog in place of its modal run and returns the toolkit's answer.  An empty
// hook (the default) shows the dialog.  Returns the previous hook.
using MessageBoxHook = std::function<int(wxMessageDialog& dialog)>;
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

}  // namespace Mav::Host::App
