#include "tests/support/gui_support.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/debug.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>
#include <wx/window.h>

#include <cstdlib>
#include <mutex>
#include <utility>

#include "host/app/message_box.h"

namespace vantrelo_test {

namespace {

std::mutex boxesMutex;
std::vector<RecordedBox> boxes;
bool startedHere = false;

int recordBox(wxMessageDialog& dialog) {
    RecordedBox box;
    box.text = dialog.GetMessage().utf8_string();
    box.caption = dialog.GetTitle().utf8_string();
    box.style = dialog.GetMessageDialogStyle();
    box.hasParent = dialog.GetParent() != nullptr;
    box.onMainThread = wxIsMainThread();
    std::lock_guard<std::mutex> lock(boxesMutex);
    boxes.push_back(std::move(box));
    return wxID_OK;
}

// The toolkit's own handler would open a dialog and wait; a failed toolkit check fails the test.
void failOnAssert(const wxString& file, int line, const wxString& function, const wxString& condition,
                  const wxString& message) {
    ADD_FAILURE_AT(file.utf8_string().c_str(), line)
        << "toolkit assertion in " << function.utf8_string() << ": " << condition.utf8_string()
        << " " << message.utf8_string();
}

bool startToolkit() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    if (wxTheApp) return true;  // another test started it
    static int argc = 1;
    static char name[] = "vantrelo_tests";
    static char* argv[] = {name, nullptr};
    wxSetAssertHandler(failOnAssert);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) return false;
    startedHere = true;
    // The toolkit's own log window would wait for a click; tests log to standard error.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    return true;
}

class ToolkitEnvironment : public ::testing::Environment {
public:
    void SetUp() override { Mav::Host::App::setMessageBoxHook(recordBox); }
    void TearDown() override {
        Mav::Host::App::setMessageBoxHook({});
        if (startedHere) {
            pumpToolkit();
            wxEntryCleanup();
            startedHere = false;
        }
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ToolkitEnvironment);

}  // namespace

bool toolkitReady() {
    static const bool ready = startToolkit();
    return ready;
}

std::vector<wxWindow*> descendants(wxWindow* window) {
    std::vector<wxWindow*> found;
    for (wxWindow* child : window->GetChildren()) {
        found.push_back(child);
        const std::vector<wxWindow*> below = descendants(child);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

void pumpToolkit() {
    if (!wxTheApp) return;
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessIdle();
}

std::vector<RecordedBox> takeRecordedBoxes() {
    std::lock_guard<std::mutex> lock(boxesMutex);
    return std::exchange(boxes, {});
}

}  // namespace vantrelo_test

// The desktop libraries under the toolkit keep caches for the life of the process (font
// configuration, the session bus, type registries) that they never free; the leak checker of the
// sanitizer build would report them at exit.  Leaks of our own code are still reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libatk-1.0.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libatspi.so\n"
           "leak:libharfbuzz.so\n";
}
