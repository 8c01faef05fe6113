#include "host/app/startup_services.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/window.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "host/app/host.h"
#include "host/app/image_io.h"
#include "host/app/image_io_support.h"
#include "host/app/message_box.h"
#include "host/system/file_store.h"
#include "host/system/shell_folders.h"

namespace fs = std::filesystem;

namespace Mav::Host::App {

namespace {

FileDialogHook& fileDialogHook() {
    static FileDialogHook hook;
    return hook;
}

// The open dialog's styles: open, file must exist, several files, preview.
constexpr long kOpenDialogStyle = wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE | wxFD_PREVIEW;

// The record of the stored answer: a one-record set, so the answer persists like a parameter.
constexpr std::uint32_t kInstallLightroomCode = Param::fourCharCode("inLR");

fs::path pathOf(const wxString& text) { return fs::path(text.utf8_string()); }

// Copies the preset through a replacement file, so a failed copy never leaves half a preset for
// Lightroom to read.
bool copyPreset(const fs::path& source, const fs::path& target) {
    std::string bytes, error;
    if (System::readFile(source, bytes, error) != System::ReadStatus::Read) return false;
    return System::replaceFile(target, bytes, error);
}

}  // namespace

void addCommandLineFiles(const wxArrayString& imageFiles, Host& host) {
    host.addInputFiles(imageFiles);
}

void reportUnwritableInputs(Host& host, std::uint64_t first) {
    std::string refusals;
    for (std::uint64_t i = first; i < host.inputCount(); ++i) {
        const std::string refusal = writeBackRefusal(host.inputPath(i));
        if (!refusal.empty()) refusals += "\n" + refusal;
    }
    if (refusals.empty()) return;
    host.showMessage(
        _("These images stay in the list, but OK will not write them back:").utf8_string() +
            "\n" + refusals,
        _("Warning").utf8_string(), kMessageOk | kMessageWarning);
}

wxString imageFileFilter() {
    // Each type with the patterns of FreeImage's own extensions for it, so the dialog offers
    // exactly what the reader takes.
    wxString all;
    wxString entries;
    for (const ImageIo::SubjectType& type : ImageIo::subjectTypes()) {
        wxString patterns;
        for (const std::string& extension : ImageIo::subjectExtensions(type)) {
            if (!patterns.empty()) patterns += ';';
            patterns += "*." + extension;
        }
        if (!all.empty()) all += ';';
        all += patterns;
        // The descriptions are shown to the user; the pattern lists after them are not.
        entries += "|" + wxString::Format(_("%s files (%s)"), type.name, patterns) + "|" + patterns;
    }
    return wxString::Format(_("Image files (%s)"), all) + "|" + all + entries;
}

wxArrayString& chooseImageFiles(wxArrayString& paths, wxWindow* parent, const wxString& message,
                                const wxString& defaultFolder, const wxString& defaultFile) {
    wxFileDialog dialog(parent, message, defaultFolder, defaultFile, imageFileFilter(),
                        kOpenDialogStyle, wxDefaultPosition, wxDefaultSize, "filedlg");
    paths.Clear();
    wxArrayString chosen;
    const FileDialogHook& hook = fileDialogHook();
    int answer;
    if (hook) {
        answer = hook(dialog, chosen);
    } else {
        answer = dialog.ShowModal();
        if (answer == wxID_OK) dialog.GetPaths(chosen);
    }
    if (answer == wxID_OK) paths = std::move(chosen);
    return paths;
}

FileDialogHook setFileDialogHook(FileDialogHook hook) {
    return std::exchange(fileDialogHook(), std::move(hook));
}

void addNavigationButtons(Host& host, wxWindow* parent, wxSizer* sizer) {
    if (host.inputCount() < 2 || !parent) return;
    if (!sizer) {
        wxWindow* reset = parent->FindWindow(kResetButtonId);
        if (reset) sizer = reset->GetContainingSizer();
        // A window without the reset button has no place for the buttons: they would float
        // unmanaged over its other controls.
        if (!sizer) return;
    }
    auto* previous = new wxButton(parent, kPreviousInputButtonId, "<", wxDefaultPosition,
                                  wxDefaultSize, 0, wxDefaultValidator, "button");
    auto* next = new wxButton(parent, kNextInputButtonId, ">", wxDefaultPosition, wxDefaultSize,
                              0, wxDefaultValidator, "button");
    sizer->Insert(0, previous, 0, wxALL | wxALIGN_CENTER, 5);
    sizer->Insert(1, next, 0, wxALL | wxALIGN_CENTER, 5);
    previous->Enable(host.currentInput() != 0);
    next->Enable(host.currentInput() + 1 < host.inputCount());
}

void offerLightroomPreset(Host& host, wxWindow* parent, const wxString& presetName) {
    const fs::path appData = System::applicationDataFolder();
    if (appData.empty()) return;
    const fs::path presetFolder = appData / "Adobe" / "Lightroom" / "External Editor Presets";
    std::error_code error;
    if (!fs::is_directory(presetFolder, error)) return;  // no Lightroom: nothing asked or stored

    std::unique_ptr<Parameters> set = host.createParameters();
    Param::ParamRecord& record =
        set->records().emplace_back(Param::ParamBool, "Install Lightroom", kInstallLightroomCode,
                                    0, 0);
    for (Param::ParamSlot slot : {Param::SlotValue, Param::SlotDefault, Param::SlotSliderMax,
                                  Param::SlotMax})
        record.slots[slot].setBool(true);
    for (Param::ParamSlot slot : {Param::SlotSliderMin, Param::SlotMin})
        record.slots[slot].setBool(false);
    const char* root = host.registryRoot();
    if (root) set->loadFromRegistry(root);

    const std::string folder = System::programFolder();
    const fs::path target = presetFolder / pathOf(presetName);
    if (!record.value().getBool() || fs::exists(fs::symlink_status(target, error))) return;

    long style = wxYES_NO | wxCANCEL;
    if (!parent) style |= wxDIALOG_NO_PARENT;
    wxMessageDialog question(parent, _("Do you want to install an editor preset for Lightroom?"),
                             _("Lightroom"), style);
    question.SetYesNoCancelLabels(wxID_YES, wxID_NO, _("Never"));
    switch (runMessageDialog(question)) {
    case wxID_YES:
        // Without the program's folder there is no preset to copy.
        if (folder.empty() || !copyPreset(fs::path(folder) / pathOf(presetName), target))
            showMessageBox(parent, _("Unable to copy preset").utf8_string(),
                           _("Error").utf8_string(), kMessageOk);
        break;
    case wxID_CANCEL:  // "Never" (the toolkit also answers so for a box closed by Escape)
        record.value().setBool(false);
        break;
    default:  // No: nothing changes and the question comes back
        break;
    }
    if (!record.value().getBool() && root) set->saveToRegistry(root);
}

}  // namespace Mav::Host::App
