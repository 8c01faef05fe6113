#pragma once
// The keyer plug-in under test: a plug-in object over input files written into a scratch folder,
// with the current input's parameter set at hand, and image fixtures written with FreeImage whose
// every channel differs, so that a swapped channel or a flipped row shows.

#include <gtest/gtest.h>

#include <wx/string.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_parameters.h"
#include "plugin/vantrelo_plugin.h"
#include "tests/host/system/store_test_support.h"

// Last: FreeImage defines the Windows header guard, after which a toolkit header would take this
// for Windows.  Files that include this header include the toolkit's headers before it.
#include <FreeImage.h>

namespace vantrelo::plugin_test {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

// R, G, B, A of pixel (x, y), each 0..1.
using PixelFunction = std::function<void(int x, int y, double rgba[4])>;

// Different in every channel and along both axes.
inline void patternPixel(int x, int y, double rgba[4]) {
    rgba[0] = ((x * 37 + y * 11) % 251) / 250.0;
    rgba[1] = ((x * 5 + y * 41 + 90) % 241) / 240.0;
    rgba[2] = ((x * 13 + y * 7 + 170) % 239) / 238.0;
    rgba[3] = 1.0;
}

struct FreeImageBitmap {
    explicit FreeImageBitmap(FIBITMAP* b) : bitmap(b) {}
    ~FreeImageBitmap() {
        if (bitmap) FreeImage_Unload(bitmap);
    }
    FreeImageBitmap(const FreeImageBitmap&) = delete;
    FreeImageBitmap& operator=(const FreeImageBitmap&) = delete;
    FIBITMAP* bitmap;
};

// Writes an image file: 8-bit RGB(A) for PNG and JPEG (bits 24 or 32), FIT_RGBA16 or FIT_RGBAF
// (and their three-channel forms) for TIFF.  Row 0 is the top row.
inline void writeImage(const std::filesystem::path& path, FREE_IMAGE_FORMAT format,
                       FREE_IMAGE_TYPE type, int bitsPerPixel, int width, int height,
                       const PixelFunction& pixel, int flags = 0) {
    FreeImageBitmap image(type == FIT_BITMAP
                              ? FreeImage_Allocate(width, height, bitsPerPixel, FI_RGBA_RED_MASK,
                                                   FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK)
                              : FreeImage_AllocateT(type, width, height, bitsPerPixel));
    ASSERT_NE(image.bitmap, nullptr);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(image.bitmap, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            double v[4];
            pixel(x, y, v);
            switch (type) {
                case FIT_BITMAP: {
                    BYTE* p = line + x * (bitsPerPixel / 8);
                    p[FI_RGBA_RED] = static_cast<BYTE>(v[0] * 255 + 0.5);
                    p[FI_RGBA_GREEN] = static_cast<BYTE>(v[1] * 255 + 0.5);
                    p[FI_RGBA_BLUE] = static_cast<BYTE>(v[2] * 255 + 0.5);
                    if (bitsPerPixel == 32) p[FI_RGBA_ALPHA] = static_cast<BYTE>(v[3] * 255 + 0.5);
                    break;
                }
                case FIT_RGBA16: {
                    auto* p = reinterpret_cast<FIRGBA16*>(line) + x;
                    p->red = static_cast<WORD>(v[0] * 65535 + 0.5);
                    p->green = static_cast<WORD>(v[1] * 65535 + 0.5);
                    p->blue = static_cast<WORD>(v[2] * 65535 + 0.5);
                    p->alpha = static_cast<WORD>(v[3] * 65535 + 0.5);
                    break;
                }
                case FIT_RGB16: {
                    auto* p = reinterpret_cast<FIRGB16*>(line) + x;
                    p->red = static_cast<WORD>(v[0] * 65535 + 0.5);
                    p->green = static_cast<WORD>(v[1] * 65535 + 0.5);
                    p->blue = static_cast<WORD>(v[2] * 65535 + 0.5);
                    break;
                }
                case FIT_RGBAF: {
                    auto* p = reinterpret_cast<FIRGBAF*>(line) + x;
                    p->red = static_cast<float>(v[0]);
                    p->green = static_cast<float>(v[1]);
                    p->blue = static_cast<float>(v[2]);
                    p->alpha = static_cast<float>(v[3]);
                    break;
                }
                case FIT_RGBF: {
                    auto* p = reinterpret_cast<FIRGBF*>(line) + x;
                    p->red = static_cast<float>(v[0]);
                    p->green = static_cast<float>(v[1]);
                    p->blue = static_cast<float>(v[2]);
                    break;
                }
                default:
                    FAIL() << "unsupported fixture type";
            }
        }
    }
    ASSERT_TRUE(FreeImage_Save(format, image.bitmap, path.c_str(), flags)) << path;
}

inline void writePng(const std::filesystem::path& path, int width, int height,
                     const PixelFunction& pixel, bool alpha) {
    writeImage(path, FIF_PNG, FIT_BITMAP, alpha ? 32 : 24, width, height, pixel);
}

// Channel c of pixel (x, y) in the buffer's own units.
inline double channel(const ImageBuffer& buffer, int x, int y, int c) {
    const std::uint8_t* p = buffer.pixelAddress(x, y);
    switch (buffer.bitsPerChannel) {
        case 8:
            return p[c];
        case 16:
            return reinterpret_cast<const std::uint16_t*>(p)[c];
        default:
            return reinterpret_cast<const float*>(p)[c];
    }
}

inline void setChannel(ImageBuffer& buffer, int x, int y, int c, double value) {
    std::uint8_t* p = buffer.pixelAddress(x, y);
    switch (buffer.bitsPerChannel) {
        case 8:
            p[c] = static_cast<std::uint8_t>(value);
            break;
        case 16:
            reinterpret_cast<std::uint16_t*>(p)[c] = static_cast<std::uint16_t>(value);
            break;
        default:
            reinterpret_cast<float*>(p)[c] = static_cast<float>(value);
            break;
    }
}

// A buffer over `rect` (domain `domain`) of the given depth, every pixel from `pixel` (0..1 scaled
// to the depth's maximum, truncated after adding a half).
inline void fillBuffer(ImageBuffer& buffer, const Rect& rect, const Rect& domain, int bits,
                       const PixelFunction& pixel) {
    buffer.allocate(rect, bits);
    buffer.domain = domain;
    const double top = bits == 8 ? 255.0 : bits == 16 ? 65535.0 : 1.0;
    for (int y = rect.y0; y < rect.y1; ++y)
        for (int x = rect.x0; x < rect.x1; ++x) {
            double v[4];
            pixel(x, y, v);
            for (int c = 0; c < 4; ++c)
                setChannel(buffer, x, y, c, bits == 32 ? v[c] * top : v[c] * top + 0.5);
        }
}

// The plug-in over the given input files (none: no input), its current set made the way the
// application makes it.  Not in preview mode unless asked.
class PluginHarness {
public:
    explicit PluginHarness(const std::vector<std::filesystem::path>& inputs = {},
                           bool preview = false) {
        for (const auto& path : inputs) plugin.addInputFile(wxString::FromUTF8(path.string()));
        plugin.setPreviewFlag(preview);
        plugin.initInputs();
    }

    VantreloParameters& set() {
        return *static_cast<VantreloParameters*>(plugin.currentParameters());
    }
    // Stores a value and pushes it into the adapter, as an edit does.
    void setInt(std::size_t index, std::int32_t value) {
        set().setInt(value, index);
        set().applyToEngine(index);
    }
    void setBool(std::size_t index, bool value) {
        set().setBool(value, index);
        set().applyToEngine(index);
    }
    void setDouble(std::size_t index, double value) {
        set().setDouble(value, index);
        set().applyToEngine(index);
    }
    void setString(std::size_t index, const std::string& value) {
        set().setString(value, index);
        set().applyToEngine(index);
    }

    VantreloPluginApp plugin;
};

}  // namespace vantrelo::plugin_test
