#include "tests/host/app/test_plugin.h"

#include <wx/image.h>

#include <algorithm>

namespace vantrelo_test {

Picture patternPicture(int width, int height, int seed) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &p.rgb[(std::size_t(y) * width + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 7 + y * 3 + seed * 50);
            px[1] = static_cast<std::uint8_t>(x * 11 + y * 5 + seed);
            px[2] = static_cast<std::uint8_t>(x * 13 + y * 17 + seed * 3);
        }
    return p;
}

Picture renderedPicture(const Picture& input) {
    Picture out = input;
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x) {
            const std::size_t at = (std::size_t(y) * input.width + x) * 3;
            const std::uint8_t in[4] = {input.rgb[at], input.rgb[at + 1], input.rgb[at + 2], 255};
            std::uint8_t px[4];
            renderedPixel(in, x, y, px);
            out.rgb[at] = px[0];
            out.rgb[at + 1] = px[1];
            out.rgb[at + 2] = px[2];
        }
    return out;
}

wxString toolkitPath(const std::filesystem::path& path) {
    return wxString::FromUTF8(path.string());
}

void writePng(const std::filesystem::path& path, const Picture& picture) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxImage image(picture.width, picture.height, false);
    std::copy(picture.rgb.begin(), picture.rgb.end(), image.GetData());
    image.SaveFile(toolkitPath(path), wxBITMAP_TYPE_PNG);
}

Picture readPng(const std::filesystem::path& path) {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxImage image;
    if (!std::filesystem::exists(path) || !image.LoadFile(toolkitPath(path), wxBITMAP_TYPE_PNG))
        return {};
    Picture p{image.GetWidth(), image.GetHeight(), {}};
    p.rgb.assign(image.GetData(), image.GetData() + std::size_t(p.width) * p.height * 3);
    return p;
}

}  // namespace vantrelo_test
