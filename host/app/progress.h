#pragma once
// The modal progress window of the batch: "Rendering..." and a gauge of 1000 steps, with a Cancel
// button.
//
// The batch thread never touches the window: it posts the refresh command (postRefresh, through
// the toolkit's thread-safe event queue) and the window, on the user-interface thread, reads the
// host's counters and its own result under the host lock.  Closing or cancelling the window ends
// its modal loop and asks the host to abort, so the batch stops at its next progress report and
// writes no further file.

#include <wx/dialog.h>

#include <cstdint>

class wxGauge;

namespace Mav::Host::App {

class Host;

// The command identifier of the refresh event.
inline constexpr int kProgressRefreshCommand = 900001;

// The style the batch uses: caption, system menu and close box.
inline constexpr long kProgressDialogStyle = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

class ProgressDialog : public wxDialog {
public:
    ProgressDialog(Host* host, wxWindow* parent, wxWindowID id, const wxString& title,
                   const wxPoint& position = wxDefaultPosition,
                   const wxSize& size = wxDefaultSize, long style = kProgressDialogStyle);
    ~ProgressDialog() override;

    // Any thread: queues a refresh command to the window.
    void postRefresh();
    // Handler of the refresh command: ends the modal loop once the batch has a result, else
    // shows the host's counters.
    void update(wxCommandEvent& event);
    // Handler of the close box.
    void onClose(wxCloseEvent& event);
    // Handler of the Cancel button (and of Escape).
    void onCancel(wxCommandEvent& event);

    // 0 while the batch runs, 1 when it finished, -1 when it failed or was aborted; written by the
    // batch thread under the host lock.
    std::int32_t result() const { return result_; }
    void setResult(std::int32_t result) { result_ = result; }

    wxGauge* gauge() const { return gauge_; }
    std::uint64_t shownDone() const { return shownDone_; }
    std::uint64_t shownTotal() const { return shownTotal_; }

private:
    void endModalLoop(int code);

    Host* host_;
    wxGauge* gauge_ = nullptr;
    std::uint64_t shownDone_ = 0;
    std::uint64_t shownTotal_ = 0;
    std::int32_t result_ = 0;

    wxDECLARE_EVENT_TABLE();
};

}  // namespace Mav::Host::App
