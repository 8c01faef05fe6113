// The viewer panel's commands and input handling: the context menu, the accelerator table, full
// screen with Esc, the end of a drag on a lost capture, and motion without a drag.

#include <gtest/gtest.h>

#include <wx/menu.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "tests/host/app/viewer_test_support.h"

namespace vantrelo_test {
namespace {

using namespace Mav::Host::Param;

TEST(ViewerPanel, ContextMenuOffersTheViewerCommandsInState) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(300, 200);
    auto& viewer = *window.viewer;
    {
        wxMenu menu;
        window.panel->onContextMenu(menu);
        ASSERT_EQ(menu.GetMenuItemCount(), 7u);
        const int ids[] = {kCmdZoomIn, kCmdZoomOut, kCmdResetView, kCmdShowOriginal,
                           kCmdUndo,   kCmdRedo,    kCmdFullScreen};
        for (std::size_t i = 0; i < 7; ++i)
            EXPECT_EQ(menu.FindItemByPosition(i)->GetId(), ids[i]) << i;
        EXPECT_EQ(menu.FindItem(kCmdZoomIn)->GetItemLabel(), "Zoom In\tCtrl++");
        EXPECT_TRUE(menu.FindItem(kCmdShowOriginal)->IsCheckable());
        EXPECT_FALSE(menu.IsChecked(kCmdShowOriginal));
        EXPECT_TRUE(menu.FindItem(kCmdUndo)->IsCheckable());
        EXPECT_FALSE(menu.IsEnabled(kCmdUndo));
        EXPECT_FALSE(menu.IsEnabled(kCmdRedo));
        EXPECT_EQ(menu.FindItem(kCmdFullScreen)->GetItemLabel(), "View Fullscreen\tCtrl+F");
    }
    viewer.setShowOriginal(true);
    auto& set = *window.host.currentParameters();
    recordChange(set, 0);
    set.setDouble(4.0, 0);
    {
        wxMenu menu;
        window.panel->onContextMenu(menu);
        EXPECT_TRUE(menu.IsChecked(kCmdShowOriginal));
        EXPECT_TRUE(menu.IsEnabled(kCmdUndo));
        EXPECT_FALSE(menu.IsChecked(kCmdUndo));
        EXPECT_FALSE(menu.IsEnabled(kCmdRedo));
    }
}

TEST(ViewerPanel, AcceleratorsCoverTheViewerCommandsWithCtrl) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(300, 200);
    wxAcceleratorEntry entries[64];
    // Ctrl+O is left to the program's Open; zoom out keeps Ctrl+- and the subtract keys.
    ASSERT_EQ(window.panel->acceleratorEntries(entries), 13);
    const int expected[13][2] = {{'i', kCmdZoomIn},  {'=', kCmdZoomIn},
                                 {'+', kCmdZoomIn},  {'-', kCmdZoomOut}, {335, kCmdZoomIn},
                                 {337, kCmdZoomOut}, {388, kCmdZoomIn},  {390, kCmdZoomOut},
                                 {'r', kCmdResetView}, {'g', kCmdShowOriginal}, {'y', kCmdRedo},
                                 {'z', kCmdUndo},    {'f', kCmdFullScreen}};
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(entries[i].GetFlags(), wxACCEL_CTRL) << i;
        EXPECT_EQ(entries[i].GetKeyCode(), expected[i][0]) << i;
        EXPECT_EQ(entries[i].GetCommand(), expected[i][1]) << i;
    }
}

// Full screen hides everything but the panel's branch, a group's box with its controls, and zeroes
// the borders of what stays, so the panel covers the window; Esc leaves it and is consumed, and
// every item comes back as it was; a hidden item or group stays hidden.
TEST(ViewerPanel, FullScreenHidesTheRestAndEscRestoresIt) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(300, 200);
    wxFrame* frame = window.frame;
    wxSizer* outer = frame->GetSizer();
    auto* label = new wxStaticText(frame, wxID_ANY, "label");
    auto* hidden = new wxStaticText(frame, wxID_ANY, "hidden");
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* side = new wxStaticText(frame, wxID_ANY, "side");
    auto* group = new wxStaticBoxSizer(wxVERTICAL, frame, "group");
    auto* inGroup = new wxStaticText(frame, wxID_ANY, "in group");
    group->Add(inGroup, 0, wxALL, 5);
    auto* hiddenGroup = new wxStaticBoxSizer(wxVERTICAL, frame, "hidden group");
    hiddenGroup->Add(new wxStaticText(frame, wxID_ANY, "in hidden group"), 0, wxALL, 5);
    // Move the panel into a row beside another control and a group, with a border of 5.
    outer->Detach(window.panel);
    row->Add(side, 0, wxALL, 3);
    row->Add(group, 0, wxALL, 5);
    row->Add(window.panel, 1, wxEXPAND | wxALL, 5);
    outer->Add(label, 0, wxALL, 4);
    outer->Add(row, 1, wxEXPAND | wxALL, 6);
    outer->Add(hidden, 0, wxALL, 2);
    outer->Add(hiddenGroup, 0, wxALL, 2);
    outer->Hide(hidden);
    outer->Hide(hiddenGroup);
    frame->Layout();
    ViewerWindow::runEvents(3);

    window.panel->enterFullScreen(frame);
    ViewerWindow::runEvents(3);
    EXPECT_TRUE(frame->IsFullScreen());
    EXPECT_TRUE(window.panel->inFullScreen());
    EXPECT_FALSE(label->IsShown());
    EXPECT_FALSE(side->IsShown());
    EXPECT_FALSE(hidden->IsShown());
    EXPECT_FALSE(inGroup->IsShown());
    EXPECT_FALSE(group->GetStaticBox()->IsShown());
    EXPECT_FALSE(hiddenGroup->GetStaticBox()->IsShown());
    EXPECT_TRUE(window.panel->IsShown());
    EXPECT_EQ(window.panel->GetRect(), wxRect(frame->GetClientSize()));
    EXPECT_EQ(row->GetItem(window.panel)->GetBorder(), 0);
    EXPECT_EQ(outer->GetItem(row)->GetBorder(), 0);
    {
        wxMenu menu;
        window.panel->onContextMenu(menu);
        EXPECT_EQ(menu.FindItem(kCmdFullScreen)->GetItemLabel(), "Exit Fullscreen\tCtrl+F");
    }

    bool reachedFrame = false;
    frame->Bind(wxEVT_KEY_DOWN, [&](wxKeyEvent&) { reachedFrame = true; });
    wxKeyEvent escape(wxEVT_KEY_DOWN);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(window.panel);
    window.panel->GetEventHandler()->ProcessEvent(escape);
    ViewerWindow::runEvents(3);
    EXPECT_FALSE(frame->IsFullScreen());
    EXPECT_FALSE(window.panel->fullScreenState);
    EXPECT_FALSE(escape.GetSkipped());
    EXPECT_TRUE(label->IsShown());
    EXPECT_TRUE(side->IsShown());
    EXPECT_TRUE(inGroup->IsShown());
    EXPECT_TRUE(group->GetStaticBox()->IsShown());
    EXPECT_FALSE(hidden->IsShown());
    EXPECT_FALSE(hiddenGroup->GetStaticBox()->IsShown());
    EXPECT_EQ(row->GetItem(window.panel)->GetBorder(), 5);
    EXPECT_EQ(row->GetItem(side)->GetBorder(), 3);
    EXPECT_EQ(outer->GetItem(label)->GetBorder(), 4);
    EXPECT_EQ(outer->GetItem(row)->GetBorder(), 6);

    // Outside full screen Esc is passed on.
    wxKeyEvent again(wxEVT_KEY_DOWN);
    again.m_keyCode = WXK_ESCAPE;
    window.panel->GetEventHandler()->ProcessEvent(again);
    EXPECT_TRUE(again.GetSkipped());
}

TEST(ViewerPanel, LostCaptureEndsTheDragAndMotionWithoutADragDoesNotPan) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    viewer.setZoom(2.0f);
    window.paintNow();
    const int panX = viewer.panX, panY = viewer.panY;

    // Motion with the left button down but no drag of this panel (it began elsewhere).
    wxMouseEvent motion(wxEVT_MOTION);
    motion.m_leftDown = true;
    motion.m_x = 50;
    motion.m_y = 60;
    window.panel->GetEventHandler()->ProcessEvent(motion);
    EXPECT_EQ(viewer.panX, panX);
    EXPECT_EQ(viewer.panY, panY);

    wxMouseEvent down(wxEVT_LEFT_DOWN);
    down.m_leftDown = true;
    down.m_x = 100;
    down.m_y = 100;
    window.panel->GetEventHandler()->ProcessEvent(down);
    EXPECT_TRUE(window.panel->dragging);
    EXPECT_EQ(window.panel->dragStartX, 100 - panX);
    EXPECT_TRUE(window.panel->HasCapture());

    wxMouseEvent drag(wxEVT_MOTION);
    drag.m_leftDown = true;
    drag.m_x = 130;
    drag.m_y = 90;
    window.panel->GetEventHandler()->ProcessEvent(drag);
    EXPECT_EQ(viewer.panX, panX + 30);
    EXPECT_EQ(viewer.panY, panY - 10);

    // Another window takes the pointer: the drag ends as a release would end it.
    window.panel->ReleaseMouse();
    wxMouseCaptureLostEvent lost(window.panel->GetId());
    lost.SetEventObject(window.panel);
    window.panel->GetEventHandler()->ProcessEvent(lost);
    EXPECT_FALSE(window.panel->dragging);
    drag.m_x = 160;
    window.panel->GetEventHandler()->ProcessEvent(drag);
    EXPECT_EQ(viewer.panX, panX + 30);
}

TEST(ViewerPanel, ClickWithoutMotionLeavesThePanAlone) {
    VANTRELO_REQUIRE_TOOLKIT();
    ViewerWindow window(600, 300);
    auto& viewer = *window.viewer;
    const int panX = viewer.panX, panY = viewer.panY;
    wxMouseEvent down(wxEVT_LEFT_DOWN);
    down.m_leftDown = true;
    down.m_x = 80;
    down.m_y = 70;
    window.panel->GetEventHandler()->ProcessEvent(down);
    EXPECT_TRUE(window.panel->dragging);
    wxMouseEvent up(wxEVT_LEFT_UP);
    up.m_x = 80;
    up.m_y = 70;
    window.panel->GetEventHandler()->ProcessEvent(up);
    EXPECT_FALSE(window.panel->dragging);
    EXPECT_FALSE(window.panel->HasCapture());
    EXPECT_EQ(viewer.panX, panX);
    EXPECT_EQ(viewer.panY, panY);
}

TEST(ViewerPanel, IsCreatedByItsClassName) {
    VANTRELO_REQUIRE_TOOLKIT();
    wxObject* made = wxCreateDynamicObject("ViewerPanel");
    ASSERT_NE(made, nullptr);
    auto* panel = wxDynamicCast(made, ViewerPanel);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->viewer, nullptr);
    EXPECT_FALSE(panel->dragging);
    delete panel;
}

}  // namespace
}  // namespace vantrelo_test
