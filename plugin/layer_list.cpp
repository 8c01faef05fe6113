// Backdrop and overlay layer lists: loading each entry's image from its file name.

#include "plugin/layer_list.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
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

    const std::ptrdiff_t width = read.GetWidth();
    const std::ptrdiff_t height = read.GetHeight();
    auto buffer = std::make_shared<ImageBuffer>(host);
    buffer->allocateSize(read.GetWidth(), read.GetHeight(), 8, 4);
    const unsigned char* rgb = read.GetData();
    const unsigned char* alpha = read.HasAlpha() ? read.GetAlpha() : nullptr;
    bool straight = false;
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        std::uint8_t* d = buffer->firstPixel + y * buffer->rowBytes;
        const unsigned char* c = rgb + y * width * 3;
        if (alpha) {
            const unsigned char* a = alpha + y * width;
            for (std::ptrdiff_t x = 0; x < width; ++x, d += 4, c += 3) {
                d[0] = c[0];
                d[1] = c[1];
                d[2] = c[2];
                d[3] = a[x];
                straight |= a[x] < c[0] || a[x] < c[1] || a[x] < c[2];
            }
        } else {
            for (std::ptrdiff_t x = 0; x < width; ++x, d += 4, c += 3) {
                d[0] = c[0];
                d[1] = c[1];
                d[2] = c[2];
                d[3] = 255;
            }
        }
    }
    premultiplied = !straight;
    setImage(std::move(buffer));
}

void loadLayerList(Mav::Host::System::Host* host, LayerList& list, std::string_view text) {
    const std::vector<std::string> names = Mav::Host::Param::splitFileListText(text);
    list.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) list[i].load(host, names[i]);
}

}  // namespace vantrelo
