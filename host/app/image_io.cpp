// The host's side of reading subject images: which input a buffer reads, the size the host
// records, the colour profile it keeps, the preview proxy, and quiet logging meanwhile.

#include "host/app/image_io.h"

#include <wx/log.h>

#include <cmath>
#include <cstdint>

namespace Mav::Host::App {

SubjectImageHost::~SubjectImageHost() = default;

const System::ImageBuffer* SubjectImageHost::subjectDecodedImage(std::size_t) const {
    return nullptr;
}

ReadOptions subjectReadOptions(const SubjectImageHost& host, bool previewMode) {
    ReadOptions options;
    options.previewFlag = host.subjectPreviewFlag();
    options.previewMode = previewMode;
    options.highBitDepth = host.subjectHighBitDepth();
    options.perceptualIntent = host.subjectPerceptualIntent();
    return options;
}

unsigned long lowerLogLevel() {
    const unsigned long saved = wxLog::GetLogLevel();
    wxLog::SetLogLevel(wxLOG_Error);
    return saved;
}

void resetLogLevel(unsigned long saved) {
    wxLog::SetLogLevel(saved);
}

}  // namespace Mav::Host::App

namespace Mav::Host::System {

namespace {

using App::SubjectImageHost;

bool report(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

SubjectImageHost* subjectHost(const ImageBuffer& buffer) {
    return dynamic_cast<SubjectImageHost*>(buffer.owner);
}

// Selector 0 and 1: the current input; s >= 2: input s - 2.  False when it names no input.
bool inputIndex(const SubjectImageHost& host, std::uint64_t source, std::size_t& index) {
    const std::uint64_t count = host.subjectInputCount();
    const std::uint64_t wanted = source <= 1 ? host.subjectCurrentInput() : source - 2;
    if (wanted >= count) return false;
    index = static_cast<std::size_t>(wanted);
    return true;
}

std::string noInput(std::uint64_t source) {
    if (source <= 1) return "Cannot read the image: no input image is selected.";
    return "Cannot read input image " + std::to_string(source - 1) + ": there is no such input.";
}

void recordSize(SubjectImageHost& host, const Rect& bounds, std::size_t index) {
    host.subjectRecordBounds(
        Rect{0, 0, static_cast<std::int32_t>(bounds.width()), static_cast<std::int32_t>(bounds.height())},
        index);
}

}  // namespace

bool ImageBuffer::readImageFile(std::uint64_t source, bool loadPixels, std::string* error) {
    SubjectImageHost* host = subjectHost(*this);
    if (!host) return report(error, "Cannot read the image: no application host supplies it.");
    std::size_t index = 0;
    if (!inputIndex(*host, source, index)) return report(error, noInput(source));

    App::ReadOptions options = App::subjectReadOptions(*host, owner && owner->isPreviewMode());
    options.loadPixels = loadPixels;
    App::ReadResult result = App::readSubjectImage(*this, host->subjectInputPath(index), options);
    if (!result.ok) return report(error, std::move(result.message));
    if (result.profile) host->subjectTakeProfile(std::move(result.profile));
    return true;
}

bool ImageBuffer::loadInput(std::uint64_t source, Rect, float requestedScale, bool loadPixels,
                            std::string* error) {
    const App::QuietLogScope quiet;
    SubjectImageHost* host = subjectHost(*this);
    if (!host) return report(error, "Cannot read the image: no application host supplies it.");
    std::size_t index = 0;
    if (!inputIndex(*host, source, index)) return report(error, noInput(source));
    if (!(requestedScale > 0.0f) || !std::isfinite(requestedScale))
        return report(error, "Cannot read the image: the requested scale is not valid.");

    // An image the host already holds is not decoded again: the reduced copy made from it is the
    // one the file would give, as both start from the same full-resolution pixels.
    const ImageBuffer* full = loadPixels ? host->subjectDecodedImage(index) : nullptr;
    ImageBuffer read(owner);
    if (!full) {
        if (!readImageFile(source, loadPixels, error)) return false;
        if (!loadPixels) {
            recordSize(*host, bounds, index);
            return true;
        }
        read.swap(*this);
        full = &read;
    }
    recordSize(*host, full->bounds, index);

    const bool tooDeep =
        full->bitsPerChannel > 8 && (host->subjectPreviewFlag() || !host->subjectHighBitDepth());
    if (requestedScale != full->scale || tooDeep) {
        const Rect proxy{
            0, 0, truncateToInt32(static_cast<float>(full->bounds.width()) * requestedScale),
            truncateToInt32(static_cast<float>(full->bounds.height()) * requestedScale)};
        resampleScaled(*full, proxy, requestedScale);
        scale = requestedScale;
    } else if (full == &read) {
        swap(read);
    } else {
        allocateSameAs(*full);
        copyOverlap(*full);
    }
    Rect current = host->subjectCurrentBounds();
    current.scale(scale);
    domain = current;
    return true;
}

}  // namespace Mav::Host::System
