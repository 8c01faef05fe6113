// The program's entry: the toolkit's assertion dialogs are off and its log shows information
// messages; the application object does the rest (app/vantrelo_app.h).

#include <wx/app.h>
#include <wx/log.h>

#include "app/vantrelo_app.h"

wxIMPLEMENT_APP_NO_MAIN(VantreloApp);

int main(int argc, char** argv) {
    wxSetAssertHandler(nullptr);
    wxLog::SetLogLevel(wxLOG_Info);
    return wxEntry(argc, argv);
}
