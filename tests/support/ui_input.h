#pragma once
// Real pointer input for window tests: the toolkit's input simulator moves the X pointer and
// presses its buttons on the test's display, and each step waits until the display server's and
// the toolkit's events it caused have been handled.

#include <wx/app.h>
#include <wx/gdicmn.h>
#include <wx/scrolwin.h>
#include <wx/uiaction.h>
#include <wx/utils.h>
#include <wx/window.h>

#include "tests/support/gui_support.h"

namespace vantrelo_test {

inline void settleInput(int rounds = 8) {
    for (int i = 0; i < rounds; ++i) {
        wxMilliSleep(15);
        if (wxTheApp) wxTheApp->Yield(true);
        pumpToolkit();
    }
}

// A control in a scrolling window (a side column of the main window on a short screen) is first
// scrolled into view, as a user would, unless all of it shows already.
inline void bringIntoView(wxWindow* window) {
    auto* scrolled = dynamic_cast<wxScrolledWindow*>(window->GetParent());
    if (!scrolled || wxRect(scrolled->GetClientSize()).Contains(window->GetRect())) return;
    int unitX = 0, unitY = 0;
    scrolled->GetScrollPixelsPerUnit(&unitX, &unitY);
    if (unitY <= 0) return;
    scrolled->Scroll(-1, scrolled->CalcUnscrolledPosition(window->GetPosition()).y / unitY);
    settleInput(2);
}

inline void moveTo(wxWindow* window, wxPoint client) {
    bringIntoView(window);
    wxUIActionSimulator sim;
    sim.MouseMove(window->ClientToScreen(client));
    settleInput();
}

inline void clickAt(wxWindow* window, wxPoint client) {
    moveTo(window, client);
    wxUIActionSimulator sim;
    sim.MouseClick();
    settleInput();
}

// A click in the middle of the window.
inline void click(wxWindow* window) {
    const wxSize size = window->GetClientSize();
    clickAt(window, wxPoint(size.x / 2, size.y / 2));
}

}  // namespace vantrelo_test
