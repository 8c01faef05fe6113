// Writing a rendered buffer over its subject image file, in that file's own format.

#include <FreeImage.h>
#include <lcms2.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

#include "host/app/image_io.h"
#include "host/app/image_io_support.h"
#include "host/system/file_store.h"

namespace Mav::Host::App {

using System::ImageBuffer;
using System::ReplacementFile;
using namespace ImageIo;

namespace {

unsigned DLL_CALLCONV readOutput(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(static_cast<ReplacementFile*>(handle)->read(buffer, size, count));
}

unsigned DLL_CALLCONV writeOutput(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(static_cast<ReplacementFile*>(handle)->write(buffer, size, count));
}

int DLL_CALLCONV seekOutput(fi_handle handle, long offset, int origin) {
    return static_cast<ReplacementFile*>(handle)->seek(offset, origin);
}

long DLL_CALLCONV tellOutput(fi_handle handle) {
    return static_cast<ReplacementFile*>(handle)->tell();
}

const std::uint8_t* bufferRow(const ImageBuffer& buffer, std::ptrdiff_t row) {
    return buffer.firstPixel + row * buffer.rowBytes;
}

// Buffer rows [first, last) into the bitmap; buffer rows are top-down, bitmap rows bottom-up.
template <class Channel>
void copyThreeChannels(const ImageBuffer& buffer, FIBITMAP* target, std::ptrdiff_t first,
                       std::ptrdiff_t last) {
    const std::ptrdiff_t width = buffer.bounds.width();
    const std::ptrdiff_t height = buffer.bounds.height();
    for (std::ptrdiff_t y = first; y < last; ++y) {
        const auto* from = reinterpret_cast<const Channel*>(bufferRow(buffer, y));
        auto* to = reinterpret_cast<Channel*>(
            FreeImage_GetScanLine(target, static_cast<int>(height - 1 - y)));
        for (std::ptrdiff_t x = 0; x < width; ++x, from += 4, to += 3) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
}

// Into 8-bit bitmap pixels of `Step` bytes (3 or 4, colours in FreeImage's byte order); alpha
// only where there is a fourth byte.
template <std::ptrdiff_t Step>
void copyBytes(const ImageBuffer& buffer, FIBITMAP* target, std::ptrdiff_t first,
               std::ptrdiff_t last) {
    const std::ptrdiff_t width = buffer.bounds.width();
    const std::ptrdiff_t height = buffer.bounds.height();
    for (std::ptrdiff_t y = first; y < last; ++y) {
        const std::uint8_t* from = bufferRow(buffer, y);
        BYTE* to = FreeImage_GetScanLine(target, static_cast<int>(height - 1 - y));
        for (std::ptrdiff_t x = 0; x < width; ++x, from += 4, to += Step) {
            to[FI_RGBA_RED] = from[0];
            to[FI_RGBA_GREEN] = from[1];
            to[FI_RGBA_BLUE] = from[2];
            if constexpr (Step == 4) to[FI_RGBA_ALPHA] = from[3];
        }
    }
}

void copyRows(const ImageBuffer& buffer, FIBITMAP* target, int targetBits, std::ptrdiff_t first,
              std::ptrdiff_t last) {
    const std::ptrdiff_t width = buffer.bounds.width();
    const std::ptrdiff_t height = buffer.bounds.height();
    if (buffer.bitsPerChannel == 8) {
        if (targetBits == 32)
            copyBytes<4>(buffer, target, first, last);
        else
            copyBytes<3>(buffer, target, first, last);
    } else if (targetBits == 64 || targetBits == 128) {
        const std::size_t length = static_cast<std::size_t>(width * buffer.bytesPerPixel());
        for (std::ptrdiff_t y = first; y < last; ++y)
            std::memcpy(FreeImage_GetScanLine(target, static_cast<int>(height - 1 - y)),
                        bufferRow(buffer, y), length);
    } else if (buffer.bitsPerChannel == 16) {
        copyThreeChannels<std::uint16_t>(buffer, target, first, last);
    } else {
        copyThreeChannels<float>(buffer, target, first, last);
    }
}

// Copies the buffer into the bitmap; with `consumed` (the buffer itself, which is not read again)
// each run of rows goes back to the system once it is copied.
void copyPixels(const ImageBuffer& buffer, FIBITMAP* target, int targetBits,
                ImageBuffer* consumed) {
    forEachRowRun(0, buffer.bounds.height(), [&](std::ptrdiff_t first, std::ptrdiff_t last) {
        copyRows(buffer, target, targetBits, first, last);
        if (consumed) consumed->discardRows(buffer.bounds.y0 + first, buffer.bounds.y0 + last);
    });
}

// FreeImage turns colour into grey when it reduces a picture to a palette, so palette depths
// are reached by colour quantisation instead.
FIBITMAP* toBitDepth(FIBITMAP* bitmap, int bits) {
    switch (bits) {
    case 32: return FreeImage_ConvertTo32Bits(bitmap);
    case 24: return FreeImage_ConvertTo24Bits(bitmap);
    case 16: return FreeImage_ConvertTo16Bits565(bitmap);
    case 8: {
        const Bitmap colour(FreeImage_ConvertTo24Bits(bitmap));
        return colour ? FreeImage_ColorQuantize(colour.get(), FIQ_WUQUANT) : nullptr;
    }
    default: return nullptr;
    }
}

// Whether the WebP file holds a lossless picture: its first image chunk is "VP8L" rather than
// "VP8 ".  The extended layout puts other chunks (features, profile, alpha) before it.
bool isLosslessWebp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[12];
    if (!in.read(header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WEBP", 4) != 0)
        return false;
    unsigned char chunk[8];
    while (in.read(reinterpret_cast<char*>(chunk), sizeof chunk)) {
        if (std::memcmp(chunk, "VP8L", 4) == 0) return true;
        if (std::memcmp(chunk, "VP8 ", 4) == 0) return false;
        const std::uint32_t size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 |
                                   static_cast<std::uint32_t>(chunk[7]) << 24;
        in.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
    }
    return false;
}

// The library's defaults would cost the picture on every OK: JPEG (also inside JNG) and WebP at
// quality 75 and JPEG 2000 at a 16:1 rate.  Lossy files are written at quality 95 (the low bits
// of the flags), a lossless WebP stays lossless and JPEG 2000 at a rate of 1 is lossless.
int saveFlags(FREE_IMAGE_FORMAT format, const std::string& path) {
    constexpr int kLossyQuality = 95;
    switch (format) {
    case FIF_TIFF: return TIFF_LZW;
    case FIF_JPEG:
    case FIF_JNG: return kLossyQuality;
    case FIF_WEBP: return isLosslessWebp(path) ? WEBP_LOSSLESS : kLossyQuality;
    case FIF_J2K:
    case FIF_JP2: return 1;
    default: return 0;
    }
}

// The checks made before any work is done for a file, shared with writeBackRefusal so that a
// refusal told when an image is opened is the one OK gives: the format the file is written in, and
// the replacement beside it opened.  FIF_UNKNOWN with the message otherwise.
FREE_IMAGE_FORMAT openReplacement(const std::string& path, ReplacementFile& output,
                                  std::string& message) {
    std::string reason;
    FREE_IMAGE_FORMAT format = identifyFormat(path, false, reason);
    if (format != FIF_UNKNOWN && !FreeImage_FIFSupportsWriting(format)) {
        format = FIF_UNKNOWN;
        reason = "this image type cannot be written";
    }
    // Refuses a file that must not be replaced.
    if (format != FIF_UNKNOWN && !output.open(path, reason)) format = FIF_UNKNOWN;
    if (format == FIF_UNKNOWN) message = writeFailure(path, reason);
    return format;
}

}  // namespace

std::string writeBackRefusal(const std::string& path) {
    std::string reason;
    const FREE_IMAGE_FORMAT read = subjectFormat(path, reason);
    if (read == FIF_UNKNOWN) return readFailure(path, reason);
    std::string message;
    ReplacementFile output;
    const FREE_IMAGE_FORMAT format = openReplacement(path, output, message);
    if (format == FIF_UNKNOWN) return message;
    output.discard();
    // A file whose pictures cannot be counted is damaged, which the read tells.
    if (pageCount(path, format) > 1) return severalPages(path);
    return {};
}

namespace {

// A bitmap of the given shape whose pixels live in a block of our own: the one `kept` holds when it
// has the size needed, else one that nothing has written yet (then held by `kept`).  FreeImage
// zeroes the block it allocates, which puts every page of it in place before the copy begins: the
// writer then holds the encoder's whole copy beside the whole result, and pays a pass over the
// block that the copy makes again.  A new block here gets its pages as the copy reaches them,
// while the copy gives the result's rows back.  The bytes past each row's pixels are zero, as in
// a bitmap FreeImage allocates; the copy writes all others.
Bitmap encoderBitmap(FREE_IMAGE_TYPE type, int width, int height, int bits, EncoderBlock* kept) {
    const std::uint64_t pixelBytes =
        (static_cast<std::uint64_t>(width) * static_cast<unsigned>(bits) + 7) / 8;
    const std::uint64_t pitch = (pixelBytes + 3) / 4 * 4;  // FreeImage's rows end on 4 bytes
    if (pitch > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ||
        pitch > std::numeric_limits<std::size_t>::max() / static_cast<std::uint64_t>(height))
        return {};
    const auto bytes = static_cast<std::size_t>(pitch * static_cast<std::uint64_t>(height));

    std::shared_ptr<void> memory;
    if (kept && kept->memory && kept->bytes == bytes && kept->memory.use_count() == 1) {
        memory = kept->memory;
        auto* rows = static_cast<std::uint8_t*>(memory.get());
        if (pitch > pixelBytes)
            for (int y = 0; y < height; ++y)
                std::memset(rows + static_cast<std::uint64_t>(y) * pitch + pixelBytes, 0,
                            static_cast<std::size_t>(pitch - pixelBytes));
    } else {
        if (kept) *kept = {};  // never two blocks at once
        void* block =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return {};
        memory.reset(block, [bytes](void* at) { ::munmap(at, bytes); });
        if (kept) *kept = {memory, bytes};
    }
    const bool masks = type == FIT_BITMAP;
    Bitmap bitmap(FreeImage_ConvertFromRawBitsEx(
        FALSE, static_cast<BYTE*>(memory.get()), type, width, height, static_cast<int>(pitch),
        static_cast<unsigned>(bits), masks ? FI_RGBA_RED_MASK : 0u,
        masks ? FI_RGBA_GREEN_MASK : 0u, masks ? FI_RGBA_BLUE_MASK : 0u, FALSE));
    if (!bitmap || FreeImage_GetPitch(bitmap.get()) != pitch) return {};
    bitmap.get_deleter().pixelMemory = std::move(memory);
    return bitmap;
}

bool writeImage(const ImageBuffer& buffer, const std::string& path, std::string& message,
                const std::function<void()>& pixelsTaken, ImageBuffer* consumed,
                EncoderBlock* kept) {
    auto fail = [&](const std::string& reason) {
        message = writeFailure(path, reason);
        return false;
    };

    const std::int32_t bits = buffer.bitsPerChannel;
    if (!buffer.firstPixel || buffer.bounds.empty() || buffer.channels != 4 ||
        (bits != 8 && bits != 16 && bits != 32))
        return fail("there is no rendered image to write");
    constexpr std::ptrdiff_t kLargestSide = std::numeric_limits<int>::max();
    if (buffer.bounds.width() > kLargestSide || buffer.bounds.height() > kLargestSide)
        return fail("the image is too large");
    const int width = static_cast<int>(buffer.bounds.width());
    const int height = static_cast<int>(buffer.bounds.height());

    ReplacementFile output;
    const FREE_IMAGE_FORMAT format = openReplacement(path, output, message);
    if (format == FIF_UNKNOWN) return false;

    // The old file gives the metadata and the colour profile.  It is read without pixels where
    // the format allows.  A file that is there but cannot be read as its own format is not
    // replaced: it may be a picture this program does not understand.
    Bitmap old;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && FreeImage_FIFSupportsReading(format)) {
        Decoded decoded = decode(path, format, FIF_LOAD_NOPIXELS | cmykLoadFlag(format));
        if (!decoded.bitmap) return fail("the existing file cannot be read as its own type");
        // Only the first page or frame was read and rendered; writing the result would lose the
        // others for good, so a file of several pictures keeps all of them, unchanged.
        const int pages = pageCount(path, format);
        if (pages < 1) return fail("the existing file cannot be read as its own type");
        if (pages > 1) {
            message = severalPages(path);
            return false;
        }
        old = std::move(decoded.bitmap);
    }

    // The type and depth the buffer is laid out in, then what the format will store.
    FREE_IMAGE_TYPE workType = FIT_BITMAP;
    int workBits = 24;
    if (bits == 16) {
        const bool rgba = buffer.hasAlpha && FreeImage_FIFSupportsExportType(format, FIT_RGBA16);
        workType = rgba ? FIT_RGBA16 : FIT_RGB16;
        workBits = rgba ? 64 : 48;
    } else if (bits == 32) {
        const bool rgba = buffer.hasAlpha && FreeImage_FIFSupportsExportType(format, FIT_RGBAF);
        workType = rgba ? FIT_RGBAF : FIT_RGBF;
        workBits = rgba ? 128 : 96;
    } else {
        workBits = buffer.hasAlpha && FreeImage_FIFSupportsExportBPP(format, 32) ? 32 : 24;
    }
    FREE_IMAGE_TYPE saveType = workType;
    int saveBits = workBits;
    if (!FreeImage_FIFSupportsExportType(format, workType)) {
        if (!FreeImage_FIFSupportsExportType(format, FIT_BITMAP))
            return fail("this image type cannot store the result's pixels");
        saveType = FIT_BITMAP;
        saveBits = buffer.hasAlpha ? 32 : 24;
    }
    if (saveType == FIT_BITMAP && !FreeImage_FIFSupportsExportBPP(format, saveBits)) {
        saveBits = 0;
        for (int candidate : {32, 24, 16, 8})
            if (FreeImage_FIFSupportsExportBPP(format, candidate)) {
                saveBits = candidate;
                break;
            }
        // Four bits and less cannot hold a colour result; FreeImage would only make it grey.
        if (saveBits == 0) return fail("this image type cannot store a colour result");
    }

    // A full old bitmap of exactly the result's shape is reused with all it carries; otherwise
    // a fresh bitmap takes the old metadata below.
    Bitmap target;
    if (old && FreeImage_HasPixels(old.get()) &&
        FreeImage_GetWidth(old.get()) == static_cast<unsigned>(width) &&
        FreeImage_GetHeight(old.get()) == static_cast<unsigned>(height) &&
        FreeImage_GetImageType(old.get()) == workType &&
        FreeImage_GetColorType(old.get()) != FIC_CMYK &&
        FreeImage_GetBPP(old.get()) == static_cast<unsigned>(workBits))
        target.reset(FreeImage_Clone(old.get()));
    if (!target) {
        target = encoderBitmap(workType, width, height, workBits, kept);
        if (!target) return fail("there is not enough memory for the image");
    }
    copyPixels(buffer, target.get(), workBits, consumed);
    if (pixelsTaken) pixelsTaken();

    if (saveType != workType) {
        Bitmap converted(FreeImage_ConvertToType(target.get(), saveType, TRUE));
        if (!converted) return fail("the result cannot be converted for this image type");
        target = std::move(converted);
    }
    if (saveType == FIT_BITMAP &&
        FreeImage_GetBPP(target.get()) != static_cast<unsigned>(saveBits)) {
        Bitmap converted(toBitDepth(target.get(), saveBits));
        if (!converted) return fail("the result cannot be converted for this image type");
        target = std::move(converted);
    }

    // Metadata of the old file, without the EXIF copy of its old profile, which would contradict
    // the profile chosen below.
    if (old) FreeImage_CloneMetadata(target.get(), old.get());
    FreeImage_SetMetadata(FIMD_EXIF_MAIN, target.get(), "InterColorProfile", nullptr);

    // The profile: the working profile only for pixels that were converted into it when read,
    // which the reader does for CMYK files alone; otherwise the old file's RGB profile; a profile
    // of another colour space does not describe RGB pixels and is dropped.
    FreeImage_DestroyICCProfile(target.get());
    if (old && FreeImage_FIFSupportsICCProfiles(format)) {
        const FIICCPROFILE* icc = FreeImage_GetICCProfile(old.get());
        ProfileHandle oldProfile;
        if (icc && icc->data && icc->size > 0)
            oldProfile = openProfile(icc->data, static_cast<std::size_t>(icc->size));
        const bool cmyk = (icc && (icc->flags & FIICC_COLOR_IS_CMYK)) ||
                          FreeImage_GetColorType(old.get()) == FIC_CMYK ||
                          (oldProfile && cmsGetColorSpace(oldProfile.get()) == cmsSigCmykData);
        if (cmyk) {
            const std::vector<std::uint8_t>& working = workingProfileBytes();
            if (working.empty()) return fail("the working colour profile cannot be made");
            if (!FreeImage_CreateICCProfile(target.get(), const_cast<std::uint8_t*>(working.data()),
                                            static_cast<long>(working.size())))
                return fail("there is not enough memory for the colour profile");
        } else if (oldProfile && cmsGetColorSpace(oldProfile.get()) == cmsSigRgbData) {
            if (!FreeImage_CreateICCProfile(target.get(), icc->data, icc->size))
                return fail("there is not enough memory for the colour profile");
        }
    }

    const int flags = saveFlags(format, path);
    FreeImageIO io{readOutput, writeOutput, seekOutput, tellOutput};
    FreeImageMessages messages;
    if (!FreeImage_SaveToHandle(format, target.get(), &io, &output, flags)) {
        output.discard();
        std::string what = "the image cannot be encoded";
        if (messages.any()) what += " (" + messages.text() + ")";
        return fail(what);
    }
    if (std::string reason; !output.commit(reason)) return fail(reason);
    return true;
}

}  // namespace

bool writeSubjectImage(const ImageBuffer& buffer, const std::string& path, std::string& message) {
    return writeImage(buffer, path, message, {}, nullptr, nullptr);
}

bool writeConsumedImage(ImageBuffer& buffer, const std::string& path, std::string& message,
                        const std::function<void()>& pixelsTaken, EncoderBlock* kept) {
    return writeImage(buffer, path, message, pixelsTaken, &buffer, kept);
}

}  // namespace Mav::Host::App

namespace Mav::Host::System {

bool ImageBuffer::writeImageFile(std::string* error) const {
    auto report = [&](std::string text) {
        if (error) *error = std::move(text);
        return false;
    };
    auto* host = dynamic_cast<App::SubjectImageHost*>(owner);
    if (!host) return report("Cannot write the image: no application host supplies its file.");
    const std::size_t index = host->subjectCurrentInput();
    if (index >= host->subjectInputCount())
        return report("Cannot write the image: no input image is selected.");
    std::string message;
    if (!App::writeSubjectImage(*this, host->subjectInputPath(index), message))
        return report(std::move(message));
    return true;
}

bool ImageBuffer::saveResult(std::string* error) const {
    const App::QuietLogScope quiet;
    return writeImageFile(error);
}

}  // namespace Mav::Host::System
