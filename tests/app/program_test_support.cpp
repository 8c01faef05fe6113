// Pictures for the program's window tests, written and read with FreeImage, not with the code
// under test.

#include "tests/app/program_test_support.h"

#include <wx/log.h>

// After the toolkit's headers: FreeImage declares Windows names that the toolkit would take for a
// Windows build.
#include <FreeImage.h>

namespace program_test {

bool writePicture(const std::filesystem::path& path, PictureFormat kind, int width, int height,
                  const std::function<Rgb16(int x, int y)>& colourAt) {
    const FREE_IMAGE_FORMAT format = kind == PictureFormat::Png    ? FIF_PNG
                                     : kind == PictureFormat::Jpeg ? FIF_JPEG
                                                                   : FIF_TIFF;
    const bool deep = format == FIF_TIFF;
    FIBITMAP* dib = deep ? FreeImage_AllocateT(FIT_RGB16, width, height)
                         : FreeImage_Allocate(width, height, 24);
    if (!dib) return false;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const Rgb16 c = colourAt(x, y);
            if (deep) {
                auto* p = reinterpret_cast<FIRGB16*>(line) + x;
                p->red = c.r;
                p->green = c.g;
                p->blue = c.b;
            } else {
                BYTE* p = line + 3 * x;
                p[FI_RGBA_RED] = static_cast<BYTE>(c.r >> 8);
                p[FI_RGBA_GREEN] = static_cast<BYTE>(c.g >> 8);
                p[FI_RGBA_BLUE] = static_cast<BYTE>(c.b >> 8);
            }
        }
    }
    const int flags = format == FIF_JPEG ? JPEG_QUALITYSUPERB : 0;
    const bool saved = FreeImage_Save(format, dib, path.c_str(), flags);
    FreeImage_Unload(dib);
    return saved;
}

std::optional<Picture> readPicture(const std::filesystem::path& path) {
    // The toolkit's TIFF handler routes the TIFF library's messages (about EXIF tags it does not
    // know) into the toolkit's log.
    wxLogNull quiet;
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN) return std::nullopt;
    FIBITMAP* dib = FreeImage_Load(format, path.c_str(), 0);
    if (!dib) return std::nullopt;
    Picture p;
    p.format = format == FIF_PNG    ? PictureFormat::Png
               : format == FIF_JPEG ? PictureFormat::Jpeg
               : format == FIF_TIFF ? PictureFormat::Tiff
                                    : PictureFormat::Other;
    p.width = static_cast<int>(FreeImage_GetWidth(dib));
    p.height = static_cast<int>(FreeImage_GetHeight(dib));
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    const unsigned bpp = FreeImage_GetBPP(dib);
    if (type == FIT_RGB16 || type == FIT_RGBA16) {
        p.bitsPerChannel = 16;
        p.channels = type == FIT_RGB16 ? 3 : 4;
    } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
        p.bitsPerChannel = 8;
        p.channels = bpp / 8;
    } else {
        FreeImage_Unload(dib);
        return std::nullopt;
    }
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height * p.channels);
    for (int y = 0; y < p.height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(dib, p.height - 1 - y);
        for (int x = 0; x < p.width; ++x) {
            std::uint16_t* out =
                &p.pixels[(static_cast<std::size_t>(y) * p.width + x) * p.channels];
            if (p.bitsPerChannel == 16) {
                const auto* in = reinterpret_cast<const WORD*>(line) + x * p.channels;
                for (int c = 0; c < p.channels; ++c) out[c] = in[c];
            } else {
                const BYTE* in = line + x * p.channels;
                out[0] = static_cast<std::uint16_t>(in[FI_RGBA_RED] * 257);
                out[1] = static_cast<std::uint16_t>(in[FI_RGBA_GREEN] * 257);
                out[2] = static_cast<std::uint16_t>(in[FI_RGBA_BLUE] * 257);
                if (p.channels == 4) out[3] = static_cast<std::uint16_t>(in[FI_RGBA_ALPHA] * 257);
            }
        }
    }
    FreeImage_Unload(dib);
    return p;
}

}  // namespace program_test
