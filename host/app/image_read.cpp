// Reading a subject image file into an image buffer.

#include <FreeImage.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "host/app/image_io.h"
#include "host/app/image_io_support.h"
#include "host/system/thread.h"

namespace Mav::Host::App {

using System::ImageBuffer;
using System::Rect;
using namespace ImageIo;

namespace {

// How the loaded bitmap becomes a buffer.
struct Layout {
    std::int32_t depth = 0;     // bits per channel of the buffer
    std::int32_t channels = 0;  // channels of the bitmap as it is copied: 3 or 4
    bool alpha = false;         // the file has a real alpha channel
    enum Conversion { None, To32Bits, ToRGBA16, ToRGBAF } conversion = None;
};

bool layoutOf(FREE_IMAGE_TYPE type, unsigned bitsPerPixel, Layout& layout) {
    switch (type) {
    case FIT_BITMAP:
        layout.depth = 8;
        layout.channels = bitsPerPixel == 24 ? 3 : 4;
        // Palette, grey and 16-bit pixels are widened to 32 bits; the fourth channel then is a
        // transparency table or nothing, not an alpha channel of the picture.
        layout.alpha = bitsPerPixel == 32;
        if (bitsPerPixel < 24) layout.conversion = Layout::To32Bits;
        return bitsPerPixel <= 32;
    case FIT_UINT16:
    case FIT_INT16: layout = {16, 4, false, Layout::ToRGBA16}; return true;
    case FIT_FLOAT: layout = {32, 4, false, Layout::ToRGBAF}; return true;
    case FIT_RGB16: layout = {16, 3, false, Layout::None}; return true;
    case FIT_RGBA16: layout = {16, 4, true, Layout::None}; return true;
    case FIT_RGBF: layout = {32, 3, false, Layout::None}; return true;
    case FIT_RGBAF: layout = {32, 4, true, Layout::None}; return true;
    default:
        // 32-bit integers, doubles, complex numbers, and anything FreeImage may add: their
        // pixels cannot be copied as colour channels.
        return false;
    }
}

FIBITMAP* convert(FIBITMAP* bitmap, Layout::Conversion conversion) {
    switch (conversion) {
    case Layout::To32Bits: return FreeImage_ConvertTo32Bits(bitmap);
    case Layout::ToRGBA16: return FreeImage_ConvertToRGBA16(bitmap);
    case Layout::ToRGBAF: return FreeImage_ConvertToRGBAF(bitmap);
    case Layout::None: break;
    }
    return nullptr;
}

std::uint8_t* bufferRow(ImageBuffer& buffer, std::ptrdiff_t row) {
    return buffer.firstPixel + row * buffer.rowBytes;
}

// FreeImage keeps rows bottom-up, the buffer top-down: bitmap row i is buffer row height-1-i.
std::uint8_t* flippedRow(ImageBuffer& buffer, std::ptrdiff_t bitmapRow) {
    return bufferRow(buffer, buffer.bounds.height() - 1 - bitmapRow);
}

// The bitmap rows [first, last) of a plain bitmap (in `Layout`) into the buffer.
struct PlainCopy {
    const Bitmap* bitmap;
    const Layout* layout;
    ImageBuffer* buffer;
};

template <class Channel>
void copyThreeChannels(const PlainCopy& job, std::ptrdiff_t first, std::ptrdiff_t last,
                       Channel full) {
    const std::ptrdiff_t width = job.buffer->bounds.width();
    for (std::ptrdiff_t i = first; i < last; ++i) {
        const auto* from = reinterpret_cast<const Channel*>(
            FreeImage_GetScanLine(job.bitmap->get(), static_cast<int>(i)));
        auto* to = reinterpret_cast<Channel*>(flippedRow(*job.buffer, i));
        for (std::ptrdiff_t x = 0; x < width; ++x, from += 3, to += 4) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            to[3] = full;
        }
    }
}

// 8-bit bitmap pixels of `Step` bytes (3 or 4, colours in FreeImage's byte order); a bitmap
// without a fourth byte gives opaque pixels.
template <std::ptrdiff_t Step>
void copyBytes(const PlainCopy& job, std::ptrdiff_t first, std::ptrdiff_t last) {
    const std::ptrdiff_t width = job.buffer->bounds.width();
    for (std::ptrdiff_t i = first; i < last; ++i) {
        const BYTE* from = FreeImage_GetScanLine(job.bitmap->get(), static_cast<int>(i));
        std::uint8_t* to = flippedRow(*job.buffer, i);
        for (std::ptrdiff_t x = 0; x < width; ++x, from += Step, to += 4) {
            to[0] = from[FI_RGBA_RED];
            to[1] = from[FI_RGBA_GREEN];
            to[2] = from[FI_RGBA_BLUE];
            to[3] = Step == 4 ? from[FI_RGBA_ALPHA] : 255;
        }
    }
}

void copyPlainRows(const PlainCopy& job, std::ptrdiff_t first, std::ptrdiff_t last) {
    const Layout& layout = *job.layout;
    if (layout.depth == 8) {
        if (layout.channels == 4)
            copyBytes<4>(job, first, last);
        else
            copyBytes<3>(job, first, last);
    } else if (layout.channels == 4) {
        const auto length =
            static_cast<std::size_t>(job.buffer->bounds.width() * job.buffer->bytesPerPixel());
        for (std::ptrdiff_t i = first; i < last; ++i)
            std::memcpy(flippedRow(*job.buffer, i),
                        FreeImage_GetScanLine(job.bitmap->get(), static_cast<int>(i)), length);
    } else if (layout.depth == 16) {
        copyThreeChannels<std::uint16_t>(job, first, last, 65535);
    } else {
        copyThreeChannels<float>(job, first, last, 1.0f);
    }
}

void copyPlainBand(std::uint64_t index, std::uint64_t count, std::uint64_t, void* data) {
    const PlainCopy& job = *static_cast<const PlainCopy*>(data);
    const auto height = static_cast<std::uint64_t>(job.buffer->bounds.height());
    const auto first = static_cast<std::ptrdiff_t>(index * height / count);
    const auto last = static_cast<std::ptrdiff_t>((index + 1) * height / count);
    forEachRowRun(first, last, [&job](std::ptrdiff_t run, std::ptrdiff_t end) {
        copyPlainRows(job, run, end);
        releaseDecodedRows(*job.bitmap, static_cast<int>(run), static_cast<int>(end));
    });
}

// The copy takes a fair share of a read: it runs on every processor.  Rows the decoder's shared
// memory held are handed back as they are copied (nothing reads them afterwards).
void copyPlain(const Bitmap& bitmap, const Layout& layout, ImageBuffer& buffer) {
    PlainCopy job{&bitmap, &layout, &buffer};
    System::Thread runner;
    runner.thread(&copyPlainBand, &job,
                  std::min<std::uint64_t>(runner.processorCount(),
                                          static_cast<std::uint64_t>(buffer.bounds.height())));
}

template <class Channel>
void fillAlphaWith(ImageBuffer& buffer, Channel full) {
    const std::ptrdiff_t width = buffer.bounds.width();
    for (std::ptrdiff_t y = 0; y < buffer.bounds.height(); ++y) {
        auto* row = reinterpret_cast<Channel*>(bufferRow(buffer, y));
        for (std::ptrdiff_t x = 0; x < width; ++x) row[x * 4 + 3] = full;
    }
}

void fillAlpha(ImageBuffer& buffer) {
    switch (buffer.bitsPerChannel) {
    case 8: fillAlphaWith<std::uint8_t>(buffer, 255); break;
    case 16: fillAlphaWith<std::uint16_t>(buffer, 65535); break;
    default: fillAlphaWith<float>(buffer, 1.0f); break;
    }
}

template <class Channel>
Channel scaledAlpha(float unit, float full) {
    if (!(unit > 0.0f)) return Channel{0};  // NaN too
    if (unit >= 1.0f) return static_cast<Channel>(full);
    return static_cast<Channel>(unit * full);
}

// An alpha value of one depth in another: equal depths copy, a deeper alpha into 8 bits takes the
// high byte (16 bits) or is clamped and scaled (float), a narrower alpha is scaled up.
template <class To, class From>
To alphaAs(From alpha) {
    if constexpr (std::is_same_v<To, From>) {
        return alpha;
    } else if constexpr (std::is_same_v<To, float>) {
        return static_cast<float>(alpha) / (sizeof(From) == 1 ? 255.0f : 65535.0f);
    } else if constexpr (std::is_same_v<From, float>) {
        return scaledAlpha<To>(alpha, sizeof(To) == 1 ? 255.0f : 65535.0f);
    } else if constexpr (sizeof(To) == 1) {
        return static_cast<To>(alpha >> 8);
    } else {
        return static_cast<To>(alpha * 257u);
    }
}

// Copies the alpha of a bitmap whose pixels are four `From` values, alpha at `alphaIndex`, into
// the buffer's fourth channel of type `To`.
template <class To, class From>
void copyAlphaAs(FIBITMAP* alphaBitmap, ImageBuffer& buffer, std::ptrdiff_t alphaIndex) {
    const std::ptrdiff_t width = buffer.bounds.width();
    for (std::ptrdiff_t i = 0; i < buffer.bounds.height(); ++i) {
        const auto* from =
            reinterpret_cast<const From*>(FreeImage_GetScanLine(alphaBitmap, static_cast<int>(i)));
        auto* to = reinterpret_cast<To*>(flippedRow(buffer, i));
        for (std::ptrdiff_t x = 0; x < width; ++x)
            to[x * 4 + 3] = alphaAs<To>(from[x * 4 + alphaIndex]);
    }
}

template <class To>
void copyAlphaTo(FIBITMAP* alphaBitmap, ImageBuffer& buffer) {
    switch (FreeImage_GetImageType(alphaBitmap)) {
    case FIT_BITMAP: copyAlphaAs<To, BYTE>(alphaBitmap, buffer, FI_RGBA_ALPHA); break;
    case FIT_RGBA16: copyAlphaAs<To, WORD>(alphaBitmap, buffer, 3); break;
    default: copyAlphaAs<To, float>(alphaBitmap, buffer, 3); break;
    }
}

// Copies the alpha of `alphaBitmap` (32-bit bitmap, RGBA16 or RGBAF) into the buffer's fourth
// channel.
void copyAlpha(FIBITMAP* alphaBitmap, ImageBuffer& buffer) {
    switch (buffer.bitsPerChannel) {
    case 8: copyAlphaTo<std::uint8_t>(alphaBitmap, buffer); break;
    case 16: copyAlphaTo<std::uint16_t>(alphaBitmap, buffer); break;
    default: copyAlphaTo<float>(alphaBitmap, buffer); break;
    }
}

bool carriesAlpha(FIBITMAP* bitmap) {
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap);
    return (type == FIT_BITMAP && FreeImage_GetBPP(bitmap) == 32) || type == FIT_RGBA16 ||
           type == FIT_RGBAF;
}

// The CMYK image's own alpha, if it has one: its fourth channel was K, so the file is read again
// with the colours converted by FreeImage, which keeps an alpha channel when there is one.
// Returns whether alpha was copied; a file that will not load again simply has none.
bool readCmykAlpha(const std::string& path, FREE_IMAGE_FORMAT format, ImageBuffer& buffer) {
    const auto cleanWithAlpha = [](const Decoded& decoded) {
        return decoded.bitmap && decoded.problem.empty() && carriesAlpha(decoded.bitmap.get());
    };
    const bool headerFirst = FreeImage_FIFSupportsNoPixels(format);
    Decoded second = decode(path, format, headerFirst ? FIF_LOAD_NOPIXELS : 0);
    if (!cleanWithAlpha(second)) return false;
    if (!FreeImage_HasPixels(second.bitmap.get())) {
        second = decode(path, format, 0);
        if (!cleanWithAlpha(second)) return false;
    }
    if (static_cast<std::ptrdiff_t>(FreeImage_GetWidth(second.bitmap.get())) !=
            buffer.bounds.width() ||
        static_cast<std::ptrdiff_t>(FreeImage_GetHeight(second.bitmap.get())) !=
            buffer.bounds.height())
        return false;
    copyAlpha(second.bitmap.get(), buffer);
    return true;
}

}  // namespace

ReadResult readSubjectImage(ImageBuffer& buffer, const std::string& path,
                            const ReadOptions& options) {
    ReadResult result;
    auto fail = [&](const std::string& reason) {
        result.message = readFailure(path, reason);
        return std::move(result);
    };

    std::string reason;
    const FREE_IMAGE_FORMAT format = subjectFormat(path, reason);
    if (format == FIF_UNKNOWN) return fail(reason);

    // CMYK files arrive as CMYK so that they are converted through their own profile below
    // rather than by FreeImage's naive formula.
    int flags = cmykLoadFlag(format);
    if (!options.loadPixels && FreeImage_FIFSupportsNoPixels(format)) flags |= FIF_LOAD_NOPIXELS;
    Decoded decoded = decode(path, format, flags);
    if (!decoded.problem.empty()) return fail(decoded.problem);
    Bitmap bitmap = std::move(decoded.bitmap);

    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap.get());
    const unsigned width = FreeImage_GetWidth(bitmap.get());
    const unsigned height = FreeImage_GetHeight(bitmap.get());
    const unsigned bitsPerPixel = FreeImage_GetBPP(bitmap.get());
    constexpr unsigned kLargestSide =
        static_cast<unsigned>(std::numeric_limits<std::int32_t>::max());
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide)
        return fail("its size is not supported");
    Layout layout;
    if (!layoutOf(type, bitsPerPixel, layout)) return fail("its pixel type is not supported");

    const FIICCPROFILE* icc = FreeImage_GetICCProfile(bitmap.get());
    const bool cmyk = icc && (icc->flags & FIICC_COLOR_IS_CMYK) != 0;
    const Rect size{0, 0, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};

    if (!options.loadPixels) {
        // Learns size and depth only.  Formats that cannot skip their pixels decoded them all the
        // same; they are dropped.  The domain belongs to the caller and stays.
        const Rect domain = buffer.domain;
        buffer.reset();
        buffer.domain = domain;
        buffer.bounds = size;
        buffer.rowBytes = 0;
        buffer.bitsPerChannel = layout.depth;
        buffer.channels = 4;
        buffer.scale = 1.0f;
        buffer.hasAlpha = (layout.alpha && !cmyk) || options.previewMode;
        result.ok = true;
        return result;
    }
    if (!FreeImage_HasPixels(bitmap.get())) return fail("the file is damaged or incomplete");

    // Built aside and swapped in at the end, so a failure leaves the caller's buffer as it was.
    ImageBuffer image(buffer.owner);
    image.rowAligned = buffer.rowAligned;

    if (cmyk) {
        const bool eightBit = type == FIT_BITMAP && bitsPerPixel == 32;
        if (!eightBit && type != FIT_RGBA16) return fail("its CMYK pixel type is not supported");
        if (!icc->data || icc->size <= 0)
            return fail("it is a CMYK image without an embedded colour profile");
        const ProfileHandle embedded = openProfile(icc->data, static_cast<std::size_t>(icc->size));
        if (!embedded || cmsGetColorSpace(embedded.get()) != cmsSigCmykData)
            return fail("its embedded colour profile cannot be used");
        ProfileHandle working = openWorkingProfile();
        if (!working) return fail("the working colour profile cannot be opened");

        std::int32_t outputDepth = 8;
        if (!options.previewFlag && options.highBitDepth) outputDepth = layout.depth;
        const cmsUInt32Number inputFormat = eightBit ? TYPE_CMYK_8 : TYPE_CMYK_16;
        const cmsUInt32Number outputFormat = outputDepth == 16 ? TYPE_RGBA_16 : TYPE_RGBA_8;
        const cmsUInt32Number intent =
            options.perceptualIntent ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC;
        const TransformHandle transform(cmsCreateTransform(embedded.get(), inputFormat,
                                                           working.get(), outputFormat, intent, 0));
        if (!transform) return fail("its embedded colour profile cannot be used");

        image.allocateSize(size.x1, size.y1, outputDepth);
        // Little CMS leaves the fourth output channel alone; it is opaque unless the file's own
        // alpha is found below.
        fillAlpha(image);
        for (unsigned i = 0; i < height; ++i)
            cmsDoTransform(transform.get(),
                           FreeImage_GetScanLine(bitmap.get(), static_cast<int>(i)),
                           flippedRow(image, i), width);
        bitmap.reset();
        image.hasAlpha = readCmykAlpha(path, format, image) || options.previewMode;
        result.profile = std::move(working);
        result.converted = true;
    } else {
        // Opened before the conversion below, which unloads the bitmap that holds the bytes.
        ProfileHandle own;
        if (icc && icc->data && icc->size > 0)
            own = openProfile(icc->data, static_cast<std::size_t>(icc->size));
        // A profile of another colour space (grey, Lab) does not describe the RGB pixels the
        // buffer holds; such pixels, like untagged ones, are taken as sRGB.
        if (own && cmsGetColorSpace(own.get()) != cmsSigRgbData) own.reset();
        if (layout.conversion != Layout::None) {
            Bitmap converted(convert(bitmap.get(), layout.conversion));
            if (!converted) return fail("its pixels cannot be converted");
            bitmap = std::move(converted);
        }
        image.allocateSize(size.x1, size.y1, layout.depth);
        copyPlain(bitmap, layout, image);
        image.hasAlpha = layout.alpha || options.previewMode;
        result.profile = own ? std::move(own) : openWorkingProfile();
    }

    buffer.swap(image);
    buffer.scale = 1.0f;
    result.ok = true;
    return result;
}

}  // namespace Mav::Host::App
