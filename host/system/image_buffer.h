#pragma once
// The one pixel container of the host and of everything built on it: subject images, rendered
// results, tiles, display proxies and scratch images.
//
// A buffer either owns 32-byte-aligned storage or is a view into another buffer's pixels.  Pixels
// are interleaved R, G, B, A (every buffer the system allocates has 4 channels) of 8 bits (0..255),
// 16 bits (0..65535) or 32-bit float (nominally 0..1).  Pixel (x, y) of the held region `bounds`
// lies at firstPixel + (y - bounds.y0) x rowBytes + (x - bounds.x0) x bytesPerPixel(), formed in
// 64-bit arithmetic.  Rows are packed unless `rowAligned` is set before an allocation; every pixel
// loop steps by rowBytes.
//
// Ownership: storage is freed on destruction, on reset and before every new allocation.  A view owns
// nothing and must be dropped before its source is reset, reallocated, swapped or destroyed.
// Buffers are not copied; they are exchanged with swap.
//
// Concurrency: no lock.  Band workers write disjoint rows of one buffer at once; allocation, reset,
// swap and bounds changes happen on one thread while no band runs.
//
// Failures: exhausted memory throws std::bad_alloc ("bad allocation"); afterwards the buffer holds
// no pixels (firstPixel null) although its bounds and format describe the requested image.  Empty
// rectangles are never an error: they leave the pixel operations without effect.
//
// The toolkit conversions at the end are defined with the toolkit, in host/app; code below the
// toolkit layer uses the rest without linking it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/system/aligned_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"

class wxImage;

namespace Mav::Host::System {

class ImageBuffer {
public:
    // Bound to `owner` for life (it may be null: such a buffer is never in preview mode).
    explicit ImageBuffer(Host* owner);
    ~ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;

    // Frees owned pixels and clears firstPixel, bounds and domain; scale, format and flags stay.
    void reset();
    // bounds = domain = rect, the given depth, 4 channels, hasAlpha false; pixels not cleared; the
    // scale is not touched.  The channel-count argument is accepted for callers that pass one and
    // is not used.
    void allocate(Rect rect, std::int32_t bitsPerChannel, std::int32_t unusedChannelCount = 4);
    void allocateSize(std::int32_t width, std::int32_t height, std::int32_t bitsPerChannel,
                      std::int32_t unusedChannelCount = 4);
    // bounds = rect; domain, scale, depth, channels and hasAlpha from `other`; hasAlpha forced on
    // when the owner host is in preview mode.
    void allocateLike(const ImageBuffer& other, Rect rect);
    void allocateSameAs(const ImageBuffer& other);
    // Exchanges everything but the owner.
    void swap(ImageBuffer& other) noexcept;
    // Changes the held region, keeping the pixels both regions share at their image coordinates;
    // the rest of the new region is unset.  The domain does not change.  A view becomes an owning
    // buffer.  The old pixels are freed also when the allocation throws.
    void setBounds(Rect rect);
    // Frees owned pixels and becomes a view of `source` (another buffer) over the intersection of
    // rect and the source's bounds; an empty intersection gives a view without pixels.
    void makeView(const ImageBuffer& source, Rect rect);

    // Zeroes every byte of the pixels inside bounds and rect.
    void clearRect(Rect rect);
    // Gives the memory of rows [first, last) (image coordinates, held ones only) back to the
    // system for a buffer that owns its pixels and will not read those rows again: they read as
    // zeros afterwards.  Only whole memory pages go, so rows that share one with rows kept stay.
    // A view gives nothing back.
    void discardRows(std::int64_t first, std::int64_t last);
    // Copies the source's pixels over the intersection of both bounds, at the same coordinates.
    // Buffers of different depth or channel count copy nothing.
    void copyOverlap(const ImageBuffer& source);
    // 255 for 8 bits per channel, 65535 for 16, 1 for float.
    std::int32_t maxChannelValue() const;
    // R = 0, G = 1, B = 2, A = 3; always true.
    bool channelOrder(std::int32_t& r, std::int32_t& g, std::int32_t& b, std::int32_t& a) const;

    std::ptrdiff_t bytesPerPixel() const;
    // Address of pixel (x, y), which must lie inside bounds of a buffer that holds pixels.
    std::uint8_t* pixelAddress(std::int32_t x, std::int32_t y) const {
        return firstPixel + (std::ptrdiff_t{y} - bounds.y0) * rowBytes +
               (std::ptrdiff_t{x} - bounds.x0) * bytesPerPixel();
    }

    // Toolkit images (host/app/image_buffer_wx.cpp).
    //
    // Writes the bounds into an 8-bit RGB image (created the size of the bounds when not valid)
    // with an alpha array when hasAlpha; 16-bit channels become v x 255 / 65535, float channels
    // are clamped to [0, 1] and scaled by 255, both truncated.  Only the part that fits a smaller
    // image is written.
    void toWxImage(wxImage& image) const;
    // Fills this allocated 8-bit buffer from the image's top-left corner; A from the image's alpha
    // when hasAlpha and the image has one, else 255.  Parts the image does not cover stay as they
    // are; a buffer of another depth is left unchanged.
    void fromWxImage(const wxImage& image);
    // Becomes an opaque 8-bit copy of the source, scaled so that the source's domain maps onto
    // `domain`, holding `rect`; resampled as the toolkit's high-quality scaling does (a reduction
    // on both sides, its box average, is formed here on every processor, to the same values).  A
    // source without pixels for the region gives opaque black.
    void resampleDisplay(const ImageBuffer& source, Rect rect, Rect domain);
    // resampleDisplay onto the source's domain scaled by factor (Rect::scale).
    void resampleScaled(const ImageBuffer& source, Rect rect, float factor);

    // Subject image files (host/app/image_io.h describes them; defined in host/app).  The owner
    // must also be a Mav::Host::App::SubjectImageHost, which supplies the input list.  Each
    // returns false when it failed and then leaves the buffer (or the file) as it was; the reason,
    // naming the file, goes to *error when error is given.
    //
    // source: 0 and 1 the host's current input, s >= 2 input s - 2.  Records the image's size in
    // the host and reduces it to an 8-bit proxy when scale or the host's preview needs one.
    bool loadInput(std::uint64_t source, Rect rect, float scale, bool loadPixels,
                   std::string* error = nullptr);
    // One file into this buffer; without loadPixels only size and depth are learned.
    bool readImageFile(std::uint64_t source, bool loadPixels, std::string* error = nullptr);
    // This buffer over the current input's file, in that file's format, through a temporary file
    // and a rename; the toolkit's logging is lowered meanwhile.
    bool saveResult(std::string* error = nullptr) const;
    bool writeImageFile(std::string* error = nullptr) const;

    Host* const owner;
    AlignedBuffer storage;               // empty for a view
    std::uint8_t* firstPixel = nullptr;  // pixel (bounds.x0, bounds.y0); null without pixels
    Rect bounds;                         // held region, image coordinates at this scale
    Rect domain;                         // the full image at this scale
    float scale = 1.0f;                  // relative to the full-resolution image
    std::ptrdiff_t rowBytes = 0;
    std::int32_t bitsPerChannel = 0;     // 8, 16 or 32 (float); 0 before the first allocation
    std::int32_t channels = 0;           // 4 for every allocated buffer; 0 before
    bool hasAlpha = false;
    bool rowAligned = false;             // rows raised to a multiple of 32 bytes at allocation

private:
    // rowBytes from bounds and format, then fresh storage for the bounds.
    void allocatePixels();
};

}  // namespace Mav::Host::System
