#pragma once
// The toolkit for tests that need real windows (they run under Xvfb).  The toolkit is started on
// first use, on the test's (main) thread, and shut down after the last test; a program that is
// only asked to list its tests never touches the display.  While it runs, message boxes never
// block: they are recorded and answered with OK, unless a test installs its own hook.

#include <string>
#include <vector>

class wxWindow;

namespace vantrelo_test {

// True when the toolkit runs with a display; tests that need windows skip otherwise.
bool toolkitReady();

// Runs queued toolkit events and deletes windows whose destruction is pending.
void pumpToolkit();

// Every window below `window`, depth first, each before its own children, in the order each
// parent made them.
std::vector<wxWindow*> descendants(wxWindow* window);

struct RecordedBox {
    std::string text;
    std::string caption;
    long style = 0;
    bool hasParent = false;
    bool onMainThread = false;
};
// The boxes the default hook has answered since the last call, which empties the record.
std::vector<RecordedBox> takeRecordedBoxes();

}  // namespace vantrelo_test

#define VANTRELO_REQUIRE_TOOLKIT()                                                  \
    do {                                                                           \
        if (!vantrelo_test::toolkitReady()) GTEST_SKIP() << "no display for the toolkit"; \
    } while (0)
