// Conversions between image buffers and the toolkit's images, and the display proxies built on
// them.  They belong to the buffer but need the toolkit, so they are defined here rather than with
// the rest of the buffer below the toolkit layer.

#include <wx/image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "host/system/image_buffer.h"
#include "host/system/thread.h"

namespace Mav::Host::System {

namespace {

std::uint8_t to8Bits(std::uint8_t value) { return value; }
std::uint8_t to8Bits(std::uint16_t value) {
    return static_cast<std::uint8_t>(std::uint32_t{value} * 255u / 65535u);
}
std::uint8_t to8Bits(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value > 1.0f) value = 1.0f;
    return static_cast<std::uint8_t>(static_cast<double>(value) * 255.0);
}

template <class Channel>
void writeRows(const ImageBuffer& buffer, std::ptrdiff_t columns, std::ptrdiff_t rows,
               bool withAlpha, unsigned char* data, std::ptrdiff_t dataStride,
               unsigned char* alpha, std::ptrdiff_t alphaStride) {
    const std::ptrdiff_t step = buffer.channels;
    for (std::ptrdiff_t y = 0; y < rows; ++y) {
        const auto* row = reinterpret_cast<const Channel*>(buffer.firstPixel + y * buffer.rowBytes);
        const Channel* pixel = row;
        unsigned char* rgb = data + y * dataStride;
        for (std::ptrdiff_t x = 0; x < columns; ++x, pixel += step, rgb += 3) {
            rgb[0] = to8Bits(pixel[0]);
            rgb[1] = to8Bits(pixel[1]);
            rgb[2] = to8Bits(pixel[2]);
        }
        // Alpha in a second pass over the row, so the colour loop carries no alpha test.
        if (withAlpha) {
            unsigned char* a = alpha + y * alphaStride;
            for (std::ptrdiff_t x = 0; x < columns; ++x) a[x] = to8Bits(row[x * step + 3]);
        }
    }
}

constexpr std::ptrdiff_t kLargestToolkitSide = std::numeric_limits<int>::max();

// What a display proxy shows where the source has nothing to give.
void fillOpaqueBlack(ImageBuffer& buffer) {
    if (!buffer.firstPixel) return;
    const std::ptrdiff_t width = buffer.bounds.width();
    for (std::ptrdiff_t y = 0; y < buffer.bounds.height(); ++y) {
        std::uint8_t* pixel = buffer.firstPixel + y * buffer.rowBytes;
        for (std::ptrdiff_t x = 0; x < width; ++x, pixel += 4) {
            pixel[0] = pixel[1] = pixel[2] = 0;
            pixel[3] = 255;
        }
    }
}

// The source rows and columns that output pixel p of a reduction from `from` to `to` pixels
// averages: those whose centres fall inside its box, a centre on the box's far edge left to the
// next pixel.  These are the toolkit's boxes (its box average, which its high-quality scaling uses
// when both sides shrink), so that a reduced copy is the same whichever of the two made it.
struct Span {
    std::int64_t first;
    std::int64_t last;
};
std::vector<Span> boxSpans(std::int64_t from, std::int64_t to) {
    std::vector<Span> spans(static_cast<std::size_t>(to));
    for (std::int64_t p = 0; p < to; ++p) {
        const std::int64_t end = from * (p + 1);
        spans[static_cast<std::size_t>(p)] = {from * p / to,
                                              end % to != 0 ? end / to : end / to - 1};
    }
    return spans;
}

struct BoxReduction {
    const ImageBuffer* source;
    ImageBuffer* target;
    std::vector<Span> columns;
    std::vector<Span> rows;
};

// Output rows of band `index`: each row's boxes summed down their source rows into one line of
// column sums, then across.  Sums are whole numbers, so the integer quotient is the truncated one
// the toolkit's floating-point quotient gives.  With `Weighted` the source's alpha weighs its
// colours, as the toolkit's alpha does.
template <class Channel, bool Weighted>
void reduceBand(std::uint64_t index, std::uint64_t count, std::uint64_t, void* data) {
    const BoxReduction& job = *static_cast<const BoxReduction*>(data);
    const ImageBuffer& source = *job.source;
    ImageBuffer& target = *job.target;
    const auto height = static_cast<std::int64_t>(job.rows.size());
    const auto band = static_cast<std::int64_t>(index);
    const auto bands = static_cast<std::int64_t>(count);
    const std::int64_t y0 = band * height / bands;
    const std::int64_t y1 = (band + 1) * height / bands;
    const std::int64_t sourceWidth = source.bounds.width();
    const std::ptrdiff_t step = source.channels;
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(sourceWidth) * 4);
    for (std::int64_t y = y0; y < y1; ++y) {
        const Span rows = job.rows[static_cast<std::size_t>(y)];
        std::fill(sums.begin(), sums.end(), 0);
        for (std::int64_t j = rows.first; j <= rows.last; ++j) {
            const auto* pixel =
                reinterpret_cast<const Channel*>(source.firstPixel + j * source.rowBytes);
            std::uint64_t* sum = sums.data();
            for (std::int64_t i = 0; i < sourceWidth; ++i, pixel += step, sum += 4) {
                const std::uint64_t a = Weighted ? to8Bits(pixel[3]) : 1;
                sum[0] += to8Bits(pixel[0]) * a;
                sum[1] += to8Bits(pixel[1]) * a;
                sum[2] += to8Bits(pixel[2]) * a;
                sum[3] += a;
            }
        }
        std::uint8_t* out = target.firstPixel + y * target.rowBytes;
        for (const Span& box : job.columns) {
            std::uint64_t total[4] = {0, 0, 0, 0};
            for (std::int64_t i = box.first; i <= box.last; ++i)
                for (int c = 0; c < 4; ++c) total[c] += sums[static_cast<std::size_t>(4 * i + c)];
            // Without alpha total[3] counts the pixels; with it, a box with no cover is black.
            for (int c = 0; c < 3; ++c)
                out[c] = total[3] == 0 ? 0 : static_cast<std::uint8_t>(total[c] / total[3]);
            out[3] = 255;
            out += 4;
        }
    }
}

// Reduces the source onto the allocated 8-bit target, which is smaller on both sides.
void boxReduce(const ImageBuffer& source, ImageBuffer& target) {
    BoxReduction job{&source, &target, boxSpans(source.bounds.width(), target.bounds.width()),
                     boxSpans(source.bounds.height(), target.bounds.height())};
    const bool weighted = source.hasAlpha && source.channels >= 4;
    TaskFunction band = nullptr;
    switch (source.bitsPerChannel) {
        case 8:
            band = weighted ? &reduceBand<std::uint8_t, true> : &reduceBand<std::uint8_t, false>;
            break;
        case 16:
            band = weighted ? &reduceBand<std::uint16_t, true> : &reduceBand<std::uint16_t, false>;
            break;
        default:
            band = weighted ? &reduceBand<float, true> : &reduceBand<float, false>;
            break;
    }
    Thread runner;
    runner.thread(band, &job,
                  std::min<std::uint64_t>(runner.processorCount(),
                                          static_cast<std::uint64_t>(target.bounds.height())));
}

}  // namespace

void ImageBuffer::toWxImage(wxImage& image) const {
    const std::ptrdiff_t width = bounds.width();
    const std::ptrdiff_t height = bounds.height();
    if (!firstPixel || width == 0 || height == 0 || channels < 3) return;
    if (bitsPerChannel != 8 && bitsPerChannel != 16 && bitsPerChannel != 32) return;
    if (!image.IsOk()) {
        if (width > kLargestToolkitSide || height > kLargestToolkitSide) return;
        if (!image.Create(static_cast<int>(width), static_cast<int>(height), true)) return;
    }
    if (hasAlpha && !image.HasAlpha()) image.InitAlpha();

    // An image smaller than the bounds takes only what fits.
    const std::ptrdiff_t imageWidth = image.GetWidth();
    const std::ptrdiff_t columns = std::min(width, imageWidth);
    const std::ptrdiff_t rows = std::min<std::ptrdiff_t>(height, image.GetHeight());
    const bool withAlpha = hasAlpha && channels >= 4 && image.HasAlpha();
    unsigned char* const data = image.GetData();
    unsigned char* const alpha = image.GetAlpha();
    switch (bitsPerChannel) {
        case 8:
            writeRows<std::uint8_t>(*this, columns, rows, withAlpha, data, 3 * imageWidth, alpha,
                                    imageWidth);
            break;
        case 16:
            writeRows<std::uint16_t>(*this, columns, rows, withAlpha, data, 3 * imageWidth, alpha,
                                     imageWidth);
            break;
        default:
            writeRows<float>(*this, columns, rows, withAlpha, data, 3 * imageWidth, alpha,
                             imageWidth);
            break;
    }
}

void ImageBuffer::fromWxImage(const wxImage& image) {
    if (!firstPixel || bitsPerChannel != 8 || channels < 3 || !image.IsOk()) return;
    const std::ptrdiff_t imageWidth = image.GetWidth();
    const std::ptrdiff_t columns = std::min(bounds.width(), imageWidth);
    const std::ptrdiff_t rows = std::min<std::ptrdiff_t>(bounds.height(), image.GetHeight());
    const unsigned char* const data = image.GetData();
    const unsigned char* const alpha = image.GetAlpha();
    const bool withAlpha = hasAlpha && alpha && channels >= 4;
    const bool opaque = !withAlpha && channels >= 4;
    for (std::ptrdiff_t y = 0; y < rows; ++y) {
        std::uint8_t* const row = firstPixel + y * rowBytes;
        std::uint8_t* pixel = row;
        const unsigned char* rgb = data + y * 3 * imageWidth;
        for (std::ptrdiff_t x = 0; x < columns; ++x, pixel += channels, rgb += 3) {
            pixel[0] = rgb[0];
            pixel[1] = rgb[1];
            pixel[2] = rgb[2];
        }
        // Alpha in a second pass over the row, so the colour loop carries no alpha test.
        if (withAlpha) {
            const unsigned char* a = alpha + y * imageWidth;
            for (std::ptrdiff_t x = 0; x < columns; ++x) row[x * channels + 3] = a[x];
        } else if (opaque) {
            for (std::ptrdiff_t x = 0; x < columns; ++x) row[x * channels + 3] = 255;
        }
    }
}

void ImageBuffer::resampleDisplay(const ImageBuffer& source, Rect rect, Rect targetDomain) {
    if (&source == this) {
        // Allocating would free the source first; keep its pixels alive in a holder.
        ImageBuffer held(owner);
        held.swap(*this);
        resampleDisplay(held, rect, targetDomain);
        return;
    }
    allocate(rect, 8);
    domain = targetDomain;
    const std::ptrdiff_t width = bounds.width();
    const std::ptrdiff_t height = bounds.height();
    if (!firstPixel) return;

    const float sx = static_cast<float>(targetDomain.width()) / static_cast<float>(source.domain.width());
    const float sy =
        static_cast<float>(targetDomain.height()) / static_cast<float>(source.domain.height());
    if (!(sx > 0.0f) || !(sy > 0.0f) || !std::isfinite(sx) || !std::isfinite(sy)) {
        fillOpaqueBlack(*this);
        return;
    }
    const auto down = [](std::int32_t v, float s) {
        return truncateToInt32(std::floor(static_cast<float>(v) / s));
    };
    const auto up = [](std::int32_t v, float s) {
        return truncateToInt32(std::ceil(static_cast<float>(v) / s));
    };
    const Rect needed{down(rect.x0, sx), down(rect.y0, sy), up(rect.x1, sx), up(rect.y1, sy)};

    ImageBuffer view(source.owner);
    view.makeView(source, needed);
    if (view.firstPixel && view.channels >= 3 && width < view.bounds.width() &&
        height < view.bounds.height() &&
        (view.bitsPerChannel == 8 || view.bitsPerChannel == 16 || view.bitsPerChannel == 32)) {
        boxReduce(view, *this);
        return;
    }
    wxImage image;
    view.toWxImage(image);
    if (!image.IsOk() || width > kLargestToolkitSide || height > kLargestToolkitSide) {
        fillOpaqueBlack(*this);
        return;
    }
    if (image.GetWidth() != width || image.GetHeight() != height)
        image = image.Scale(static_cast<int>(width), static_cast<int>(height), wxIMAGE_QUALITY_HIGH);
    if (!image.IsOk()) {
        fillOpaqueBlack(*this);
        return;
    }
    fromWxImage(image);
}

void ImageBuffer::resampleScaled(const ImageBuffer& source, Rect rect, float factor) {
    Rect scaledDomain = source.domain;
    scaledDomain.scale(factor);
    resampleDisplay(source, rect, scaledDomain);
}

}  // namespace Mav::Host::System
