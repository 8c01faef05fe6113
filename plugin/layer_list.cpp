// Backdrop and overlay layer lists: loading each entry's image from its file name.

#include "plugin/layer_list.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "host/param/file_list_text.h"

namespace vantrelo {

namespace {

using Mav::Host::System::ImageBuffer;

// A path that names a regular file (a link is followed).  Directories, devices, pipes and missing
// paths are not layers: a pipe or a device could block the reader forever.
bool isRegularFile(const std::string& name) {
    if (name.empty()) return false;
    std::error_code error;
    const std::filesystem::path path(std::u8string(name.begin(), name.end()));
    return std::filesystem::is_regular_file(path, error) && !error;
}

// True when some pixel of the 8-bit RGBA image has a colour component above its alpha.
bool hasColourAboveAlpha(const ImageBuffer& image) {
    const std::ptrdiff_t width = image.bounds.width();
    const std::ptrdiff_t height = image.bounds.height();
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const std::uint8_t* p = image.firstPixel + y * image.rowBytes;
        for (std::ptrdiff_t x = 0; x < width; ++x, p += 4)
            if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]) return true;
    }
    return false;
}

}  // namespace

void LayerEntry::setImage(std::shared_ptr<const ImageBuffer> newImage) {
    image = std::move(newImage);
}

void LayerEntry::load(Mav::Host::System::Host* host, const std::string& name) {
    if (name == fileName) return;
    setImage(nullptr);
    fileName = name;
    if (!isRegularFile(name)) return;

    // A file no handler reads is simply no layer: the reader's messages are not the user's concern.
    const wxLogNull quiet;
    premultiplied = true;
    wxImage read;
    if (!read.LoadFile(wxString::FromUTF8(name.data(), name.size()), wxBITMAP_TYPE_ANY) ||
        !read.IsOk() || read.GetWidth() <= 0 || read.GetHeight() <= 0)
        return;

    auto buffer = std::make_shared<ImageBuffer>(host);
    buffer->allocateSize(read.GetWidth(), read.GetHeight(), 8, 4);
    // Without an alpha array the copy lays every alpha at 255.
    buffer->hasAlpha = read.HasAlpha();
    buffer->fromWxImage(read);
    premultiplied = !buffer->hasAlpha || !hasColourAboveAlpha(*buffer);
    setImage(std::move(buffer));
}

void loadLayerList(Mav::Host::System::Host* host, LayerList& list, std::string_view text) {
    const std::vector<std::string> names = Mav::Host::Param::splitFileListText(text);
    list.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) list[i].load(host, names[i]);
}

}  // namespace vantrelo
