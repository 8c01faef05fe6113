#include "host/app/progress.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "host/app/host.h"
#include "host/system/exceptions.h"

namespace Mav::Host::App {

using System::LockGuard;

// ---- Nested progress.

namespace {

// Products of unsigned 64-bit counts, kept exact in 128 bits and saturated on the way back.
std::uint64_t scaled(std::uint64_t a, std::uint64_t step, std::uint64_t b) {
    const unsigned __int128 wide = static_cast<unsigned __int128>(a) * step * 1000u / b;
    return wide > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(wide);
}

std::uint64_t saturatedAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::uint64_t thousandTimes(std::uint64_t value) {
    return value > UINT64_MAX / 1000u ? UINT64_MAX : value * 1000u;
}

}  // namespace

void Host::reportProgress(std::uint64_t key, std::uint64_t done, std::uint64_t total) {
    std::uint64_t a = done;
    std::uint64_t b = total;
    for (const ProgressLevel& level : levels_) {
        if (b == 0) {
            a = 0;
            b = 1;
        }
        if (level.total > 1) {
            if (level.done < level.total)
                a = saturatedAdd(scaled(a, level.step, b), thousandTimes(level.done));
            else
                a = thousandTimes(level.total);
            b = thousandTimes(level.total);
        }
    }
    if (previewFlag_) {
        if (ProxyProgress* sink = proxyProgress_) sink->report(key, a, b);
        return;
    }
    if (abortFlag_) throw Mav::Interrupted();
    if (key != 0) return;
    LockGuard lock(hostLock_);
    const bool changed = a != done_ || b != total_;
    done_ = a;
    total_ = b;
    if (changed) postRefreshLocked();
}

void Host::tickProgress(std::uint64_t key) {
    if (previewFlag_) {
        if (ProxyProgress* sink = proxyProgress_) sink->tick(key);
        return;
    }
    if (abortFlag_) throw Mav::Interrupted();
    if (key != 0) return;
    LockGuard lock(hostLock_);
    if (total_ == 0) {
        ++done_;
        postRefreshLocked();
    }
}

void Host::progressCounters(std::uint64_t& done, std::uint64_t& total) {
    LockGuard lock(hostLock_);
    done = done_;
    total = total_;
}

void Host::throwIfAborted() const {
    if (!previewFlag_ && abortFlag_) throw Mav::Interrupted();
}

ProgressDialog* Host::progressWindow() {
    LockGuard lock(hostLock_);
    return progressWindow_;
}

void Host::postRefreshLocked() {
    if (progressWindow_) progressWindow_->postRefresh();
}

// ---- The window.

wxBEGIN_EVENT_TABLE(ProgressDialog, wxDialog)
    EVT_CLOSE(ProgressDialog::onClose)
wxEND_EVENT_TABLE()

ProgressDialog::ProgressDialog(Host* host, wxWindow* parent, wxWindowID id,
                               const wxString& title, const wxPoint& position,
                               const wxSize& size, long style)
    : wxDialog(parent, id, title, position, size, style, wxDialogNameStr), host_(host) {
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    column->Add(row, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 5);
    if (wxStdDialogButtonSizer* buttons = CreateStdDialogButtonSizer(wxCANCEL))
        column->Add(buttons, 0, wxALL | wxALIGN_RIGHT, 5);

    row->Add(new wxStaticText(this, wxID_ANY, _("Rendering..."), wxDefaultPosition,
                              wxDefaultSize, 0, wxStaticTextNameStr),
             0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    gauge_ = new wxGauge(this, wxID_ANY, 1000, wxDefaultPosition, wxSize(100, -1),
                         wxGA_HORIZONTAL, wxDefaultValidator, wxGaugeNameStr);
    row->Add(gauge_, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);

    SetSizerAndFit(column);

    Bind(wxEVT_MENU, &ProgressDialog::update, this, kProgressRefreshCommand);
    Bind(wxEVT_BUTTON, &ProgressDialog::onCancel, this, wxID_CANCEL);
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::postRefresh() {
    wxQueueEvent(this, new wxCommandEvent(wxEVT_MENU, kProgressRefreshCommand));
}

void ProgressDialog::endModalLoop(int code) {
    // A refresh may arrive after the user has already ended the loop.
    if (IsModal())
        EndModal(code);
    else
        Hide();
}

void ProgressDialog::update(wxCommandEvent&) {
    LockGuard lock(host_->hostLock());
    if (result_ == -1) {
        endModalLoop(0);
        return;
    }
    if (result_ == 1) {
        endModalLoop(1);
        return;
    }
    std::uint64_t done = 0, total = 0;
    host_->progressCounters(done, total);
    if (done == shownDone_ && total == shownTotal_) return;
    shownDone_ = done;
    shownTotal_ = total;
    if (done != 0 && total == 0) {
        gauge_->Pulse();
    } else if (total != 0 && done < total) {
        const float fraction = static_cast<float>(done) / static_cast<float>(total);
        gauge_->SetValue(static_cast<int>(fraction * 1000.0f));
    }
}

void ProgressDialog::onClose(wxCloseEvent&) {
    host_->requestAbort();
    SetReturnCode(0);
    endModalLoop(0);
}

void ProgressDialog::onCancel(wxCommandEvent& event) {
    host_->requestAbort();
    event.Skip();  // the dialog's own Cancel handling ends the modal loop
}

}  // namespace Mav::Host::App
