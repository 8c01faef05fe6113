#include "host/app/host.h"

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/log.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "host/app/message_box.h"
#include "host/app/progress.h"

namespace Mav::Host {

ProxyProgress::~ProxyProgress() = default;

namespace App {

namespace fs = std::filesystem;
using System::LockGuard;

Host::Host() : uiThread_(std::this_thread::get_id()) {}

Host::~Host() {
    if (colourProfile_) cmsCloseProfile(colourProfile_);
    // The sets go through their virtual destructors with the vector; the input list and the
    // message text with their members.
}

// ---- Plug-in interface defaults.

bool Host::usePerceptualIntent() const { return true; }

std::unique_ptr<Parameters> Host::cloneParameters(const Parameters& set) {
    return std::make_unique<Parameters>(set);
}

std::unique_ptr<Parameters> Host::createParameters() { return std::make_unique<Parameters>(this); }

void Host::invalidateCaches() {}

void Host::prepare(Parameters&, const Rect&) {}

void Host::analyse(Parameters&, const Rect&) {}

void Host::renderRect(Parameters& set, ImageBuffer& input, ImageBuffer& output,
                      ImageBuffer& scratch, ImageList* extraInputs) {
    if (output.bounds.empty()) return;
    prepare(set, output.bounds);
    analyse(set, output.bounds);
    render(set, input, output, scratch, extraInputs);
}

void Host::spareHookA() {}

Rect Host::requiredInputRect(Parameters&, const Rect& output, const Rect&, InputRequestList&) {
    return output;
}

Rect Host::spareRectHook(Parameters&, const Rect& rect, const Rect&, InputRequestList&) {
    return rect;
}

const char* Host::vendorId() const { return "com.mavrendel"; }

const char* Host::vendorName() const { return "Mavrendel"; }

int Host::spareQueryA() const { return 0; }

int Host::spareQueryB() const { return 0; }

int Host::spareQueryC() const { return 0; }

void Host::spareHookB() {}

int Host::spareQueryD() const { return 0; }

const char* Host::nameSuffix() const { return "_LR"; }

bool Host::supportsHighBitDepth() const { return true; }

bool Host::supportsMultipleInputs() const { return true; }

bool Host::perInputParameters() const { return false; }

bool Host::isPreviewMode() const { return false; }

bool Host::wantsTiles(const Rect&, std::int32_t&, std::int32_t&) { return true; }

void Host::tileSize(const Rect& rect, std::int32_t& tileWidth, std::int32_t& tileHeight) {
    if (wantsTiles(rect, tileWidth, tileHeight)) return;
    tileWidth = static_cast<std::int32_t>(rect.width());
    tileHeight = static_cast<std::int32_t>(rect.height());
}

bool Host::linksParameters() const { return false; }

void Host::updateLinkedParameters(Parameters&, std::size_t) {}

// ---- State.

void Host::reset() {
    pixelScale_ = 1.0f;
    messageParent_ = nullptr;
    currentInput_ = 0;
    boundsValid_ = false;
    previewFlag_ = false;
    abortFlag_ = false;
    proxyProgress_ = nullptr;
    currentBounds_ = Rect{};
    uiThread_ = std::this_thread::get_id();
    LockGuard lock(hostLock_);
    progressWindow_ = nullptr;
    done_ = 0;
    total_ = 0;
}

// ---- Inputs and parameter sets.

std::uint64_t Host::setSlots() const { return std::max<std::uint64_t>(1, inputs_.size()); }

void Host::growSets() {
    if (sets_.size() < setSlots()) sets_.resize(setSlots());
}

namespace {

// What an input path names: the file it reaches, or, when there is none that can be examined,
// the absolute path with its links resolved as far as they exist.
struct FileIdentity {
    bool examined = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    explicit FileIdentity(const wxString& input) {
        const std::string utf8 = input.utf8_string();
        struct stat status {};
        if (::stat(utf8.c_str(), &status) == 0) {
            examined = true;
            device = status.st_dev;
            inode = status.st_ino;
            return;
        }
        std::error_code error;
        const fs::path canonical = fs::weakly_canonical(utf8, error);
        path = error ? fs::absolute(utf8, error).lexically_normal().string() : canonical.string();
        if (path.empty()) path = utf8;
    }
    bool operator==(const FileIdentity& other) const {
        if (examined != other.examined) return false;
        return examined ? device == other.device && inode == other.inode : path == other.path;
    }
};

}  // namespace

std::uint64_t Host::addInputFiles(const wxArrayString& paths) {
    std::vector<FileIdentity> listed;
    listed.reserve(inputs_.size() + paths.size());
    for (const wxString& input : inputs_) listed.emplace_back(input);
    const std::size_t before = inputs_.size();
    for (const wxString& path : paths) {
        FileIdentity identity(path);
        if (std::find(listed.begin(), listed.end(), identity) != listed.end()) continue;
        listed.push_back(std::move(identity));
        inputs_.Add(path);
    }
    growSets();
    return inputs_.size() - before;
}

bool Host::addInputFile(const wxString& path) {
    return addInputFiles(wxArrayString(1, &path)) == 1;
}

std::string Host::inputPath(std::uint64_t index) const {
    if (index >= inputs_.size()) return {};
    const wxScopedCharBuffer utf8 = inputs_[index].utf8_str();
    return std::string(utf8.data(), utf8.length());
}

void Host::initInputs() {
    {
        // Handlers registered before are kept; the toolkit only notes the duplicates.
        wxLogNull quiet;
        wxInitAllImageHandlers();
    }
    growSets();
    selectInput(currentInput_);
}

std::uint64_t Host::setIndex(std::uint64_t inputIndex) const {
    return perInputParameters() ? inputIndex : 0;
}

Parameters* Host::parameters(std::uint64_t index) const {
    if (index >= setSlots()) return nullptr;
    const std::uint64_t i = setIndex(index);
    return i < sets_.size() ? sets_[i].get() : nullptr;
}

void Host::ensureParameters(std::uint64_t index) {
    if (index >= setSlots()) return;
    growSets();
    const std::uint64_t i = setIndex(index);
    if (sets_[i]) return;
    std::unique_ptr<Parameters> set = createParameters();
    describeParameters(*set);
    if (registryRoot_) set->loadFromRegistry(registryRoot_);
    // An input visited for the first time starts from what the user has on screen, not from the
    // store.
    if (i != currentInput_ && perInputParameters() && currentInput_ < sets_.size() &&
        sets_[currentInput_])
        set->assign(*sets_[currentInput_]);
    sets_[i] = std::move(set);
}

void Host::selectInput(std::uint64_t index) {
    if (index >= setSlots()) return;
    growSets();
    const bool perInput = perInputParameters();
    if (perInput && currentInput_ < sets_.size() && sets_[currentInput_])
        sets_[currentInput_]->refreshAll();
    ensureParameters(index);
    if (index == currentInput_ || !supportsMultipleInputs()) return;
    if (perInput && currentInput_ < sets_.size() && sets_[currentInput_]) {
        // The live object keeps its identity (the windows hold it) and takes the new input's
        // values; the old values move into a fresh copy that becomes the old input's set.
        Parameters& live = *sets_[currentInput_];
        std::unique_ptr<Parameters> copy = cloneParameters(live);
        Parameters& incoming = *sets_[index];
        try {
            live.Param::Parameters::assign(incoming);
        } catch (...) {
            // Put back what the user had, so the live set is never half one input and half the
            // other.
            try {
                live.Param::Parameters::assign(*copy);
            } catch (...) {
            }
            throw;
        }
        live.host = incoming.host;
        std::unique_ptr<Parameters> liveOwner = std::move(sets_[currentInput_]);
        sets_[currentInput_] = std::move(copy);
        sets_[index] = std::move(liveOwner);  // deletes the incoming set's old object
    }
    currentInput_ = index;
    boundsValid_ = false;
    if (perInput) sets_[index]->applyAll();
    invalidateCaches();
}

bool Host::stepInputSelect(std::uint64_t index, wxWindow* previous, wxWindow* next) {
    if (index == currentInput_) return false;
    selectInput(index);
    if (previous) previous->Enable(index != 0);
    if (next) next->Enable(index + 1 < inputs_.size());
    return true;
}

// ---- Bounds.

void Host::recordBounds(const Rect& rect, std::uint64_t index) {
    if (index != currentInput_) return;
    currentBounds_ = rect;
    boundsValid_ = true;
}

Rect Host::currentBounds() {
    if (!boundsValid_) {
        if (currentInput_ < inputs_.size()) probeInput(currentInput_);
        if (!boundsValid_) {
            currentBounds_ = Rect{};
            boundsValid_ = true;
        }
    }
    return currentBounds_;
}

void Host::probeInput(std::uint64_t index) {
    // Only the size recorded in the host lasts; a file that cannot be read leaves it stale, and
    // the reason is dropped (the read that needs the pixels reports it).
    ImageBuffer scratch(this);
    scratch.loadInput(index + 2, Rect{}, 1.0f, false);
}

float Host::fitScale(const Rect& rect) {
    const Rect b = currentBounds();
    const float sx = b.width() >= 1 ? static_cast<float>(rect.width()) / b.width() : 1.0f;
    const float sy = b.height() >= 1 ? static_cast<float>(rect.height()) / b.height() : 1.0f;
    return std::min(sx, sy);
}

void Host::setColourProfile(cmsHPROFILE profile) {
    if (colourProfile_ == profile) return;
    if (colourProfile_) cmsCloseProfile(colourProfile_);
    colourProfile_ = profile;
}

// ---- Main window.

bool Host::attachUi(wxFrame* frame) {
    mainFrame_ = frame;
    if (!frame) return false;
    frame->Maximize();
    messageParent_ = frame;
    return frame->Show();
}

void Host::closeUi() {
    messageParent_ = nullptr;
    if (mainFrame_) {
        mainFrame_->Destroy();
        mainFrame_ = nullptr;
    }
}

// ---- Messages.

bool Host::mayShowBoxes() {
    if (!onUiThread()) return false;
    LockGuard lock(hostLock_);
    return progressWindow_ == nullptr;
}

int Host::showMessage(const std::string& text, const std::string& caption, int flags) {
    if (!mayShowBoxes()) {
        queueMessage(text);
        return 0;
    }
    return showMessageBox(messageParent_, text, caption, flags);
}

void Host::queueMessage(const std::string& text) {
    LockGuard lock(hostLock_);
    if (!queuedMessages_.empty()) queuedMessages_ += '\n';
    queuedMessages_ += text;
}

void Host::flushMessages() {
    // The box is shown outside the lock: nothing the batch thread waits for is held across a
    // modal loop.
    const std::string text = takeMessages();
    if (text.empty()) return;
    showMessage(text, wxGetTranslation("Error").utf8_string(), kMessageOk);
}

std::string Host::takeMessages() {
    LockGuard lock(hostLock_);
    return std::exchange(queuedMessages_, std::string());
}

// ---- Subject image files.

std::size_t Host::subjectInputCount() const { return inputs_.size(); }

std::string Host::subjectInputPath(std::size_t index) const { return inputPath(index); }

std::size_t Host::subjectCurrentInput() const { return currentInput_; }

void Host::subjectRecordBounds(System::Rect bounds, std::size_t index) {
    recordBounds(bounds, index);
}

System::Rect Host::subjectCurrentBounds() { return currentBounds(); }

bool Host::subjectPreviewFlag() const { return previewFlag_; }

bool Host::subjectHighBitDepth() const { return supportsHighBitDepth(); }

bool Host::subjectPerceptualIntent() const { return usePerceptualIntent(); }

void Host::subjectTakeProfile(ProfileHandle profile) { setColourProfile(profile.release()); }

}  // namespace App
}  // namespace Mav::Host
