#pragma once
// Full-screen mode of a viewer panel's top-level window: every sizer item outside the branch that
// holds the panel is hidden and every shown item loses its border, so the picture fills the
// screen; leaving restores exactly what was shown before, with its borders.
//
// The viewer panel owns the state while full screen is on (ViewerPanel::enterFullScreen and
// ViewerPanel::exitFullScreen).

#include <cstddef>
#include <cstdint>
#include <vector>

class wxDialog;
class wxSizer;
class wxSizerItem;
class wxTopLevelWindow;
class wxWindow;

namespace Mav::Host::Param {

class FullScreenState {
public:
    struct SavedItem {
        wxSizer* sizer = nullptr;
        std::size_t index = 0;
        std::int32_t border = 0;
    };

    // Hides everything of the window's sizers but the panel's branch, zeroes the borders of the
    // shown items, switches the window to full screen (every decoration hidden), lays it out and
    // gives the panel the keyboard focus.  A dialog also loses its affirmative and escape
    // identifiers meanwhile, so Enter and Esc cannot end it.
    FullScreenState(wxTopLevelWindow* window, wxWindow* panel);
    FullScreenState(const FullScreenState&) = delete;
    FullScreenState& operator=(const FullScreenState&) = delete;

    // Leaves full screen and shows the saved items again with their borders, in the saved order.
    void restore();
    // The window is in full-screen mode now.
    bool active() const;

    wxDialog* dialog = nullptr;
    wxTopLevelWindow* window = nullptr;
    std::int32_t savedAffirmativeId = 0;
    std::int32_t savedEscapeId = 0;
    std::vector<SavedItem> savedItems;

private:
    // Depth first over the shown items of `sizer`; true when the panel is inside it.
    bool hideAround(wxSizer* sizer, wxWindow* panel);
    // Shows or hides the box of a group (a static box sizer's item); other items are left alone.
    static void showGroupBox(wxSizerItem* item, bool show);
};

}  // namespace Mav::Host::Param
