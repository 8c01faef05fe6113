#pragma once
// Services the application calls around start-up and from its file commands, all on the
// user-interface thread: command-line images, the open dialog for subject images, the box that
// names opened images OK could not write back, the "<" and ">" buttons that step through several
// inputs, and the offer to install the external-editor preset into Adobe Lightroom's preset
// folder.

#include <wx/arrstr.h>
#include <wx/string.h>

#include <cstdint>
#include <functional>

class wxFileDialog;
class wxSizer;
class wxWindow;

namespace Mav::Host::App {

class Host;

// Ids of the navigation buttons and of the parameter frame's reset button, beside which they go.
inline constexpr int kPreviousInputButtonId = 6006;
inline constexpr int kNextInputButtonId = 6007;
inline constexpr int kResetButtonId = 5111;

// The image files of the command line (what the parser collected as "image files": neither the
// program's name nor an option), in order, become inputs of the host; a file already in the list
// is not added again, and nothing is opened.
void addCommandLineFiles(const wxArrayString& imageFiles, Host& host);

// Names, in one box owned by the host's window, every input from `first` on that OK could not
// write back, each with the message OK would give (writeBackRefusal).  They stay in the list: the
// user may still mend a permission before OK.  Nothing is shown when there is none.
void reportUnwritableInputs(Host& host, std::uint64_t first);

// The open dialog's filter: all images first, then one entry per type the program keys (the
// types FreeImage reads and writes back), each with FreeImage's extensions for it.
wxString imageFileFilter();

// Shows the multi-select open dialog for subject images.  `paths` is emptied and, when the user
// confirms, receives the full paths of the chosen files; the caller adds them to the input list.
wxArrayString& chooseImageFiles(wxArrayString& paths, wxWindow* parent, const wxString& message,
                                const wxString& defaultFolder, const wxString& defaultFile);

// Receives the built dialog in place of its modal run (tests): returns the toolkit's answer and,
// for wxID_OK, the chosen paths.  An empty hook (the default) shows the dialog.  Returns the
// previous hook.
using FileDialogHook = std::function<int(wxFileDialog& dialog, wxArrayString& paths)>;
FileDialogHook setFileDialogHook(FileDialogHook hook);

// With at least two inputs, puts a "<" and a ">" button (ids 6006 and 6007, children of `parent`)
// at the front of `sizer`, or, without one, of the sizer that holds the parent's reset button
// (id 5111); "<" is enabled unless the first input is current, ">" unless the last is.  Does
// nothing with fewer than two inputs or when there is no sizer to put them in.
void addNavigationButtons(Host& host, wxWindow* parent, wxSizer* sizer);

// The preset offer, once per start after the main window is shown: when the "External Editor
// Presets" folder of Lightroom exists below the application-data folder, the stored answer
// "Install Lightroom" (below the host's registry root, true until "Never" was chosen) is still
// true and the preset is not yet there, asks whether to install it.  Yes copies `presetName`
// from the program's folder into the preset folder (a failure is reported, and the question comes
// back next time); "Never" stores false; No changes nothing.  Boxes are owned by `parent`.
void offerLightroomPreset(Host& host, wxWindow* parent, const wxString& presetName);

}  // namespace Mav::Host::App
