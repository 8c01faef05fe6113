#pragma once
// The application object and the program's start-up.
//
// VantreloApp owns the keyer host object (plug-in and application host in one) for the whole run.
// OnInit parses the command line, then startProgram brings the system up in a fixed order and
// opens the main window; the toolkit's event loop runs until the main window is gone (after OK's
// batch, Cancel, the close box or Exit), and the application object's destructor deletes the host.

#include <wx/app.h>
#include <wx/arrstr.h>

class VantreloUIApp;
class wxCmdLineParser;

namespace vantrelo {
class VantreloPluginApp;
}

// The text in front of every parameter name in the per-user store.
inline constexpr const char* kRegistryRoot = "Software\\Mavrendel\\Vantrelo\\";
// The Lightroom external-editor preset installed beside the program.
inline constexpr const char* kLightroomPresetName = "Vantrelo.lrtemplate";

class VantreloApp : public wxApp {
public:
    // The toolkit part, then the host object, reset (this thread becomes the user-interface
    // thread).
    VantreloApp();
    ~VantreloApp() override;

    // The toolkit's help and verbose switches and any number of "image files".
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    // Keeps the image files the parser collected, then lets the toolkit take its own switches.
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;
    // False (the program ends without a window) when the command line is refused (an unknown
    // option shows the usage) or help was asked for.
    bool OnInit() override;

    vantrelo::VantreloPluginApp* host;
    wxArrayString imageFiles;
};

// Start-up after the command line was parsed: image handlers, the application name, the image
// files as inputs (each file once; nothing read), update-UI events only for windows that ask, the
// registry root, preview mode, input 0's parameter set read from the store and pushed into the
// engine, the main window maximised and shown, one box naming the inputs OK could not write back,
// the Lightroom offer.  Returns the main window.
VantreloUIApp* startProgram(vantrelo::VantreloPluginApp& host, const wxArrayString& imageFiles);
