#include "app/vantrelo_app.h"

#include <wx/cmdline.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/log.h>

#include "app/main_window.h"
#include "host/app/startup_services.h"
#include "plugin/param_mapping.h"
#include "plugin/vantrelo_plugin.h"

VantreloApp::VantreloApp() : host(new vantrelo::VantreloPluginApp) { host->reset(); }

VantreloApp::~VantreloApp() { delete host; }

void VantreloApp::OnInitCmdLine(wxCmdLineParser& parser) {
    wxApp::OnInitCmdLine(parser);
    parser.AddParam(_("image files"), wxCMD_LINE_VAL_STRING,
                    wxCMD_LINE_PARAM_OPTIONAL | wxCMD_LINE_PARAM_MULTIPLE);
}

bool VantreloApp::OnCmdLineParsed(wxCmdLineParser& parser) {
    // Only the parser's "image files" are inputs: an option is never taken for a picture, and a
    // file whose name starts with '-' is named after "--".
    imageFiles.Clear();
    for (std::size_t i = 0; i < parser.GetParamCount(); ++i) imageFiles.Add(parser.GetParam(i));
    return wxApp::OnCmdLineParsed(parser);
}

bool VantreloApp::OnInit() {
    if (!wxApp::OnInit()) return false;
    return startProgram(*host, imageFiles) != nullptr;
}

VantreloUIApp* startProgram(vantrelo::VantreloPluginApp& host, const wxArrayString& imageFiles) {
    {
        // Backdrop and overlay images are read through the toolkit's handlers.  Handlers
        // registered before are kept; the toolkit only notes the duplicates.
        wxLogNull quiet;
        wxInitAllImageHandlers();
    }
    if (wxTheApp) wxTheApp->SetAppName("Vantrelo Vudez");
    Mav::Host::App::addCommandLineFiles(imageFiles, host);
    // The parameter frames ask for update-UI events themselves, once after each change.
    wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
    host.setRegistryRoot(kRegistryRoot);
    host.setPreviewFlag(true);
    host.initInputs();
    Mav::Host::App::Parameters* set = host.currentParameters();
    if (!set) return nullptr;
    vantrelo::applyAllParamsToBridge(host.bridge, *set);

    auto* window = new VantreloUIApp(set, &host, nullptr, wxID_ANY, _("Vantrelo"));
    host.attachUi(window);
    Mav::Host::App::reportUnwritableInputs(host, 0);
    Mav::Host::App::offerLightroomPreset(host, window, kLightroomPresetName);
    return window;
}
