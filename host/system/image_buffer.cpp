#include "host/system/image_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <utility>

#include "host/system/exceptions.h"

namespace Mav::Host::System {

ImageBuffer::ImageBuffer(Host* owner) : owner(owner) {}

std::ptrdiff_t ImageBuffer::bytesPerPixel() const {
    if (bitsPerChannel <= 0 || channels <= 0) return 0;
    return std::ptrdiff_t{bitsPerChannel / 8} * channels;
}

void ImageBuffer::reset() {
    storage.release();
    firstPixel = nullptr;
    bounds = Rect{};
    domain = Rect{};
}

void ImageBuffer::allocatePixels() {
    firstPixel = nullptr;
    std::uint64_t row = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(bounds.width()),
                               static_cast<std::uint64_t>(bytesPerPixel()), &row))
        throwBadAllocation();
    if (rowAligned) row = roundUp(row, kStorageAlignment);
    std::uint64_t size = 0;
    if (__builtin_mul_overflow(row, static_cast<std::uint64_t>(bounds.height()), &size) ||
        size > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
        throwBadAllocation();
    rowBytes = static_cast<std::ptrdiff_t>(row);
    storage.resize(size);
    firstPixel = storage.pointer();
}

void ImageBuffer::allocate(Rect rect, std::int32_t bits, std::int32_t) {
    reset();
    bitsPerChannel = bits;
    channels = 4;
    hasAlpha = false;
    domain = bounds = rect;
    allocatePixels();
}

void ImageBuffer::allocateSize(std::int32_t width, std::int32_t height, std::int32_t bits,
                               std::int32_t) {
    allocate(Rect{0, 0, width, height}, bits);
}

void ImageBuffer::allocateLike(const ImageBuffer& other, Rect rect) {
    // Taken before reset, which would clear them when other is this buffer.
    const Rect otherDomain = other.domain;
    const float otherScale = other.scale;
    const std::int32_t otherBits = other.bitsPerChannel;
    const std::int32_t otherChannels = other.channels;
    const bool otherAlpha = other.hasAlpha;
    reset();
    bounds = rect;
    domain = otherDomain;
    scale = otherScale;
    bitsPerChannel = otherBits;
    channels = otherChannels;
    hasAlpha = otherAlpha || (owner && owner->isPreviewMode());
    allocatePixels();
}

void ImageBuffer::allocateSameAs(const ImageBuffer& other) { allocateLike(other, other.bounds); }

void ImageBuffer::swap(ImageBuffer& other) noexcept {
    storage.swap(other.storage);
    std::swap(firstPixel, other.firstPixel);
    std::swap(bounds, other.bounds);
    std::swap(domain, other.domain);
    std::swap(scale, other.scale);
    std::swap(rowBytes, other.rowBytes);
    std::swap(bitsPerChannel, other.bitsPerChannel);
    std::swap(channels, other.channels);
    std::swap(hasAlpha, other.hasAlpha);
    std::swap(rowAligned, other.rowAligned);
}

void ImageBuffer::setBounds(Rect rect) {
    if (rect == bounds) return;
    const Rect overlap = intersectRect(rect, bounds);
    // The old block stays alive in `old` until the copy is done, and is freed by its destructor
    // on every path, also when the new allocation throws.
    AlignedBuffer old;
    old.swap(storage);
    const std::uint8_t* const oldFirst = firstPixel;
    const Rect oldBounds = bounds;
    const std::ptrdiff_t oldRowBytes = rowBytes;

    bounds = rect;
    allocatePixels();
    if (overlap.empty() || !oldFirst || !firstPixel) return;
    const std::size_t length = static_cast<std::size_t>(overlap.width() * bytesPerPixel());
    const std::ptrdiff_t pixelBytes = bytesPerPixel();
    for (std::int32_t y = overlap.y0; y < overlap.y1; ++y) {
        const std::uint8_t* from = oldFirst + (std::ptrdiff_t{y} - oldBounds.y0) * oldRowBytes +
                                   (std::ptrdiff_t{overlap.x0} - oldBounds.x0) * pixelBytes;
        std::memcpy(pixelAddress(overlap.x0, y), from, length);
    }
}

void ImageBuffer::makeView(const ImageBuffer& source, Rect rect) {
    assert(&source != this && "a buffer cannot view itself");
    reset();
    domain = source.domain;
    scale = source.scale;
    rowBytes = source.rowBytes;
    bitsPerChannel = source.bitsPerChannel;
    channels = source.channels;
    hasAlpha = source.hasAlpha;
    bounds = intersectRect(rect, source.bounds);
    if (!bounds.empty() && source.firstPixel)
        firstPixel = source.pixelAddress(bounds.x0, bounds.y0);
}

void ImageBuffer::discardRows(std::int64_t first, std::int64_t last) {
    first = std::max<std::int64_t>(first, bounds.y0);
    last = std::min<std::int64_t>(last, bounds.y1);
    if (first >= last || !firstPixel || storage.empty()) return;
    const auto offset = static_cast<std::uint64_t>(firstPixel - storage.pointer());
    storage.discard(offset + static_cast<std::uint64_t>((first - bounds.y0) * rowBytes),
                    static_cast<std::uint64_t>((last - first) * rowBytes));
}

void ImageBuffer::clearRect(Rect rect) {
    const Rect area = intersectRect(bounds, rect);
    if (area.empty() || !firstPixel) return;
    const std::size_t length = static_cast<std::size_t>(area.width() * bytesPerPixel());
    for (std::int32_t y = area.y0; y < area.y1; ++y)
        std::memset(pixelAddress(area.x0, y), 0, length);
}

void ImageBuffer::copyOverlap(const ImageBuffer& source) {
    const Rect area = intersectRect(bounds, source.bounds);
    if (area.empty() || !firstPixel || !source.firstPixel) return;
    // Rows of a different format would be read past their end.
    if (source.bitsPerChannel != bitsPerChannel || source.channels != channels) return;
    const std::size_t length = static_cast<std::size_t>(area.width() * bytesPerPixel());
    for (std::int32_t y = area.y0; y < area.y1; ++y)  // memmove: a view may share the rows
        std::memmove(pixelAddress(area.x0, y), source.pixelAddress(area.x0, y), length);
}

std::int32_t ImageBuffer::maxChannelValue() const {
    if (bitsPerChannel == 8) return 255;
    if (bitsPerChannel == 16) return 65535;
    return 1;
}

bool ImageBuffer::channelOrder(std::int32_t& r, std::int32_t& g, std::int32_t& b,
                               std::int32_t& a) const {
    r = 0;
    g = 1;
    b = 2;
    a = 3;
    return true;
}

}  // namespace Mav::Host::System
