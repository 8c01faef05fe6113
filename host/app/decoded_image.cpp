#include "host/app/decoded_image.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/system/memory_pages.h"

// Exported by FreeImage 3.18 but missing from the header Debian ships: a bitmap without pixels,
// as a FIF_LOAD_NOPIXELS load gives.
extern "C" FIBITMAP* DLL_CALLCONV FreeImage_AllocateHeaderT(BOOL header_only, FREE_IMAGE_TYPE type,
                                                          int width, int height, int bpp,
                                                          unsigned red_mask, unsigned green_mask,
                                                          unsigned blue_mask);

namespace Mav::Host::App::ImageIo {

namespace {

constexpr char kMagic[8] = {'V', 'N', 'T', 'D', 'E', 'C', '0', '1'};
// Rows of the pixel block start on a cache line, as FreeImage's own do.
constexpr std::uint64_t kPixelAlignment = 64;
constexpr int kLastModel = FIMD_EXIF_RAW;

class Block {
public:
    template <class T>
    void put(T value) {
        putBytes(&value, sizeof value);
    }
    void putBytes(const void* data, std::size_t length) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + length);
    }
    void putText(const char* text) {
        const std::size_t length = text ? std::strlen(text) : 0;
        put(static_cast<std::uint32_t>(length));
        putBytes(text, length);
    }
    template <class T>
    void patch(std::size_t at, T value) {
        std::memcpy(bytes_.data() + at, &value, sizeof value);
    }
    std::size_t size() const { return bytes_.size(); }
    const unsigned char* data() const { return bytes_.data(); }

private:
    std::vector<unsigned char> bytes_;
};

class Reader {
public:
    Reader(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}
    template <class T>
    bool get(T& value) {
        return getBytes(&value, sizeof value);
    }
    bool getBytes(void* to, std::uint64_t length) {
        const unsigned char* from = take(length);
        if (!from) return false;
        if (length > 0) std::memcpy(to, from, length);
        return true;
    }
    // `length` bytes in place; null when the block is shorter.
    const unsigned char* take(std::uint64_t length) {
        if (length > size_ - at_) return nullptr;
        const unsigned char* from = data_ + at_;
        at_ += length;
        return from;
    }
    bool getText(std::string& text) {
        std::uint32_t length = 0;
        if (!get(length)) return false;
        const unsigned char* from = take(length);
        if (!from) return false;
        text.assign(reinterpret_cast<const char*>(from), length);
        return true;
    }

private:
    const unsigned char* data_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

bool writeAll(int fd, const void* data, std::uint64_t length, std::uint64_t offset) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 30));
        const ssize_t written = ::pwrite(fd, bytes, chunk, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        length -= static_cast<std::uint64_t>(written);
    }
    return true;
}

void putMetadata(Block& block, FIBITMAP* bitmap) {
    std::uint32_t count = 0;
    const std::size_t countAt = block.size();
    block.put(count);
    for (int model = FIMD_COMMENTS; model <= kLastModel; ++model) {
        const auto fiModel = static_cast<FREE_IMAGE_MDMODEL>(model);
        // FreeImage hands out a dangling first tag for a model that was made but holds none.
        if (FreeImage_GetMetadataCount(fiModel, bitmap) == 0) continue;
        FITAG* tag = nullptr;
        FIMETADATA* search = FreeImage_FindFirstMetadata(fiModel, bitmap, &tag);
        if (!search) continue;
        do {
            const void* value = FreeImage_GetTagValue(tag);
            const DWORD length = value ? FreeImage_GetTagLength(tag) : 0;
            block.put(static_cast<std::int32_t>(model));
            block.putText(FreeImage_GetTagKey(tag));
            block.putText(FreeImage_GetTagDescription(tag));
            block.put(static_cast<std::uint16_t>(FreeImage_GetTagID(tag)));
            block.put(static_cast<std::uint16_t>(FreeImage_GetTagType(tag)));
            block.put(static_cast<std::uint32_t>(FreeImage_GetTagCount(tag)));
            block.put(static_cast<std::uint32_t>(length));
            block.putBytes(value, length);
            ++count;
        } while (FreeImage_FindNextMetadata(search, &tag));
        FreeImage_FindCloseMetadata(search);
    }
    block.patch(countAt, count);
}

struct TagDeleter {
    void operator()(FITAG* tag) const noexcept { FreeImage_DeleteTag(tag); }
};

bool getMetadata(Reader& reader, FIBITMAP* bitmap) {
    std::uint32_t count = 0;
    if (!reader.get(count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t model = 0;
        std::string key, description;
        std::uint16_t id = 0, type = 0;
        std::uint32_t values = 0, length = 0;
        if (!reader.get(model) || !reader.getText(key) || !reader.getText(description) ||
            !reader.get(id) || !reader.get(type) || !reader.get(values) || !reader.get(length))
            return false;
        const unsigned char* value = reader.take(length);
        if (!value || model < FIMD_COMMENTS || model > kLastModel) return false;
        // A tag FreeImage itself would not take (its length does not match its count and type,
        // or it has no value) is left out, as FreeImage leaves it out of a copy.
        const std::unique_ptr<FITAG, TagDeleter> tag(FreeImage_CreateTag());
        if (!tag) return false;
        if (length == 0 || !FreeImage_SetTagKey(tag.get(), key.c_str()) ||
            !FreeImage_SetTagDescription(tag.get(), description.c_str()) ||
            !FreeImage_SetTagID(tag.get(), id) ||
            !FreeImage_SetTagType(tag.get(), static_cast<FREE_IMAGE_MDTYPE>(type)) ||
            !FreeImage_SetTagCount(tag.get(), values) || !FreeImage_SetTagLength(tag.get(), length) ||
            !FreeImage_SetTagValue(tag.get(), value))
            continue;
        FreeImage_SetMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), bitmap, key.c_str(),
                              tag.get());
    }
    return true;
}

struct Mapping {
    void* address;
    std::size_t length;
};

}  // namespace

void releaseDecodedRows(const Bitmap& bitmap, int first, int last) {
    if (!bitmap || !bitmap.get_deleter().pixelMemory || first >= last || first < 0 ||
        last > static_cast<int>(FreeImage_GetHeight(bitmap.get())))
        return;
    System::releaseWholePages(FreeImage_GetScanLine(bitmap.get(), first),
                              FreeImage_GetScanLine(bitmap.get(), last - 1) +
                                  FreeImage_GetPitch(bitmap.get()),
                              MADV_REMOVE);
}

bool storeDecoded(int fd, const Decoded& decoded, int pages) {
    Block block;
    block.putBytes(kMagic, sizeof kMagic);
    const std::size_t pixelsAt = block.size();
    block.put(std::uint64_t{0});  // offset of the pixels, patched below
    block.put(std::uint64_t{0});  // their length
    block.put(static_cast<std::int32_t>(pages));
    block.putText(decoded.problem.c_str());
    FIBITMAP* bitmap = decoded.bitmap.get();
    block.put(static_cast<std::uint8_t>(bitmap != nullptr));
    std::uint64_t pixelLength = 0;
    if (bitmap) {
        const bool pixels = FreeImage_HasPixels(bitmap) != 0;
        const std::uint64_t pitch = FreeImage_GetPitch(bitmap);
        pixelLength = pixels ? pitch * FreeImage_GetHeight(bitmap) : 0;
        block.put(static_cast<std::int32_t>(FreeImage_GetImageType(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetWidth(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetHeight(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetBPP(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetRedMask(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetGreenMask(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetBlueMask(bitmap)));
        block.put(static_cast<std::uint8_t>(pixels));
        block.put(pitch);

        const RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        const std::uint32_t colours = palette ? FreeImage_GetColorsUsed(bitmap) : 0;
        block.put(colours);
        block.putBytes(palette, colours * sizeof(RGBQUAD));

        const std::uint32_t transparency = FreeImage_GetTransparencyCount(bitmap);
        block.put(transparency);
        block.putBytes(FreeImage_GetTransparencyTable(bitmap), transparency);
        block.put(static_cast<std::uint8_t>(FreeImage_IsTransparent(bitmap) != 0));

        RGBQUAD background{};
        const bool hasBackground = FreeImage_GetBackgroundColor(bitmap, &background) != 0;
        block.put(static_cast<std::uint8_t>(hasBackground));
        block.put(background);
        block.put(static_cast<std::uint32_t>(FreeImage_GetDotsPerMeterX(bitmap)));
        block.put(static_cast<std::uint32_t>(FreeImage_GetDotsPerMeterY(bitmap)));

        const FIICCPROFILE* icc = FreeImage_GetICCProfile(bitmap);
        const std::uint32_t iccSize =
            icc && icc->data && icc->size > 0 ? static_cast<std::uint32_t>(icc->size) : 0;
        block.put(static_cast<std::uint16_t>(icc ? icc->flags : 0));
        block.put(iccSize);
        block.putBytes(iccSize ? icc->data : nullptr, iccSize);

        putMetadata(block, bitmap);
    }
    const std::uint64_t pixelOffset =
        (block.size() + kPixelAlignment - 1) / kPixelAlignment * kPixelAlignment;
    block.patch(pixelsAt, pixelOffset);
    block.patch(pixelsAt + sizeof(std::uint64_t), pixelLength);
    if (!writeAll(fd, block.data(), block.size(), 0)) return false;
    if (pixelLength > 0 && !writeAll(fd, FreeImage_GetBits(bitmap), pixelLength, pixelOffset))
        return false;
    return ::ftruncate(fd, static_cast<off_t>(pixelOffset + pixelLength)) == 0;
}

bool loadDecoded(int fd, Decoded& decoded, int& pages) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::size_t>::max())
        return false;
    const auto size = static_cast<std::size_t>(status.st_size);
    // Faulted in as the rows are read: read faults on shared memory map several pages at once,
    // and populating the whole mapping up front measured slower.  Nothing writes into a decoded
    // bitmap's pixels (the writer clones before it changes one); the mapping is writable only so
    // that rows already copied can be handed back (releaseDecodedRows).
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return false;
    const std::shared_ptr<const void> memory(address, [size](const void* at) {
        ::munmap(const_cast<void*>(at), size);
    });
    const auto* base = static_cast<const unsigned char*>(address);
    Reader reader(base, size);

    char magic[sizeof kMagic];
    std::uint64_t pixelOffset = 0, pixelLength = 0;
    std::int32_t pageCount = 0;
    std::string problem;
    std::uint8_t hasBitmap = 0;
    if (!reader.getBytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
        !reader.get(pixelOffset) || !reader.get(pixelLength) || !reader.get(pageCount) ||
        !reader.getText(problem) || !reader.get(hasBitmap))
        return false;
    if (pixelOffset > size || pixelLength > size - pixelOffset) return false;

    Bitmap bitmap;
    if (hasBitmap) {
        std::int32_t type = 0;
        std::uint32_t width = 0, height = 0, bpp = 0, red = 0, green = 0, blue = 0;
        std::uint8_t pixels = 0;
        std::uint64_t pitch = 0;
        if (!reader.get(type) || !reader.get(width) || !reader.get(height) || !reader.get(bpp) ||
            !reader.get(red) || !reader.get(green) || !reader.get(blue) || !reader.get(pixels) ||
            !reader.get(pitch))
            return false;
        constexpr std::uint32_t kLargest = std::numeric_limits<int>::max();
        if (type < FIT_BITMAP || type > FIT_RGBAF || width == 0 || height == 0 ||
            width > kLargest || height > kLargest || bpp == 0 || bpp > 128)
            return false;
        const auto fiType = static_cast<FREE_IMAGE_TYPE>(type);
        if (pixels) {
            // Rows of at least the width's bytes, exactly as many as the height, inside the block.
            const std::uint64_t line = (std::uint64_t{width} * bpp + 7) / 8;
            if (pitch < line || pitch > kLargest || pitch * height != pixelLength) return false;
            bitmap.reset(FreeImage_ConvertFromRawBitsEx(
                FALSE, const_cast<BYTE*>(base + pixelOffset), fiType, static_cast<int>(width),
                static_cast<int>(height), static_cast<int>(pitch), bpp, red, green, blue, FALSE));
            bitmap.get_deleter().pixelMemory = memory;
        } else {
            if (pixelLength != 0) return false;
            bitmap.reset(FreeImage_AllocateHeaderT(TRUE, fiType, static_cast<int>(width),
                                                   static_cast<int>(height),
                                                   static_cast<int>(bpp), red, green, blue));
        }
        // FreeImage takes the depth of every type but FIT_BITMAP from the type, and replaces a
        // depth FIT_BITMAP does not have by 8: a block whose depth disagrees with its type would
        // give rows longer than the pitch checked above.
        if (!bitmap || FreeImage_GetBPP(bitmap.get()) != bpp) return false;

        std::uint32_t colours = 0;
        if (!reader.get(colours)) return false;
        const unsigned char* palette = reader.take(std::uint64_t{colours} * sizeof(RGBQUAD));
        if (!palette) return false;
        if (colours > 0) {
            RGBQUAD* own = FreeImage_GetPalette(bitmap.get());
            if (!own || FreeImage_GetColorsUsed(bitmap.get()) != colours) return false;
            std::memcpy(own, palette, colours * sizeof(RGBQUAD));
        }

        std::uint32_t transparency = 0;
        if (!reader.get(transparency) || transparency > 256) return false;
        const unsigned char* table = reader.take(transparency);
        std::uint8_t transparent = 0;
        if (!table || !reader.get(transparent)) return false;
        if (transparency > 0)
            FreeImage_SetTransparencyTable(bitmap.get(), const_cast<BYTE*>(table),
                                           static_cast<int>(transparency));
        FreeImage_SetTransparent(bitmap.get(), transparent ? TRUE : FALSE);

        std::uint8_t hasBackground = 0;
        RGBQUAD background{};
        std::uint32_t dotsX = 0, dotsY = 0;
        if (!reader.get(hasBackground) || !reader.get(background) || !reader.get(dotsX) ||
            !reader.get(dotsY))
            return false;
        if (hasBackground) FreeImage_SetBackgroundColor(bitmap.get(), &background);
        FreeImage_SetDotsPerMeterX(bitmap.get(), dotsX);
        FreeImage_SetDotsPerMeterY(bitmap.get(), dotsY);

        std::uint16_t iccFlags = 0;
        std::uint32_t iccSize = 0;
        if (!reader.get(iccFlags) || !reader.get(iccSize)) return false;
        const unsigned char* icc = reader.take(iccSize);
        if (!icc || iccSize > static_cast<std::uint32_t>(std::numeric_limits<long>::max()))
            return false;
        if (iccSize > 0) {
            FIICCPROFILE* profile = FreeImage_CreateICCProfile(
                bitmap.get(), const_cast<unsigned char*>(icc), static_cast<long>(iccSize));
            if (!profile) return false;
        }
        FreeImage_GetICCProfile(bitmap.get())->flags = iccFlags;

        if (!getMetadata(reader, bitmap.get())) return false;
    }

    decoded.bitmap = std::move(bitmap);
    decoded.problem = std::move(problem);
    pages = pageCount;
    return true;
}

}  // namespace Mav::Host::App::ImageIo
