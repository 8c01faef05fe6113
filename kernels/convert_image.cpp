#include "kernels/convert_image.h"

#include <cstring>
#include <string>

#include "host/system/exceptions.h"
#include "kernels/kernel_checks.h"

namespace vantrelo {

namespace {

inline std::uint16_t widen8(std::uint8_t v) { return static_cast<std::uint16_t>((v << 8) | v); }

inline std::uint16_t floatChannelTo16(float v) {
    // Written so that NaN fails both tests and ends at 0.
    float c = v > 1.0f ? 1.0f : v;
    c = c >= 0.0f ? c : 0.0f;
    return static_cast<std::uint16_t>(c * 65535.0f);
}

// Float channels are moved as their 32-bit patterns so that every value, NaN payloads included,
// arrives bit for bit.
struct CopyRgbaFloat {
    using Source = std::uint32_t;
    using Destination = std::uint32_t;
    static void pixel(std::uint32_t* d, const std::uint32_t* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = s[3];
    }
};

struct CopyRgba16 {
    using Source = std::uint16_t;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const std::uint16_t* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = s[3];
    }
};

struct Rgba8To16 {
    using Source = std::uint8_t;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const std::uint8_t* s) {
        d[0] = widen8(s[0]);
        d[1] = widen8(s[1]);
        d[2] = widen8(s[2]);
        d[3] = widen8(s[3]);
    }
};

struct RgbToRgbaFloat {
    using Source = std::uint32_t;
    using Destination = std::uint32_t;
    static constexpr std::uint32_t kOne = 0x3f800000u;  // 1.0f
    static void pixel(std::uint32_t* d, const std::uint32_t* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = kOne;
    }
};

struct Rgb16ToRgba16 {
    using Source = std::uint16_t;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const std::uint16_t* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 65535;
    }
};

struct Rgb8ToRgba16 {
    using Source = std::uint8_t;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const std::uint8_t* s) {
        d[0] = widen8(s[0]);
        d[1] = widen8(s[1]);
        d[2] = widen8(s[2]);
        d[3] = 65535;
    }
};

struct RgbaFloatTo16 {
    using Source = float;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const float* s) { floatPixelToRgba16(d, s); }
};

struct RgbFloatToRgba16 {
    using Source = float;
    using Destination = std::uint16_t;
    static void pixel(std::uint16_t* d, const float* s) {
        d[0] = floatChannelTo16(s[0]);
        d[1] = floatChannelTo16(s[1]);
        d[2] = floatChannelTo16(s[2]);
        d[3] = 65535;
    }
};

template <class Op>
void convertRows(void* jobPointer, std::uint64_t index, std::uint64_t count) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const ImageBuffer& source = *static_cast<const ImageBuffer*>(job.source);
    ImageBuffer& destination = *job.destination;
    const Rect& area = *job.area;
    const BandRange rows = bandRange(area.y0, area.y1, index, count);
    if (rows.empty() || area.x1 <= area.x0) return;
    const std::ptrdiff_t width = area.width();
    const std::ptrdiff_t sourceStep = source.channels;
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y) {
        const auto* s = reinterpret_cast<const typename Op::Source*>(
            source.pixelAddress(area.x0, static_cast<std::int32_t>(y)));
        auto* d = reinterpret_cast<typename Op::Destination*>(
            destination.pixelAddress(area.x0, static_cast<std::int32_t>(y)));
        for (std::ptrdiff_t x = 0; x < width; ++x, s += sourceStep, d += 4) Op::pixel(d, s);
    }
}

}  // namespace

void floatPixelToRgba16(std::uint16_t* destination, const float* source) {
    destination[0] = floatChannelTo16(source[0]);
    destination[1] = floatChannelTo16(source[1]);
    destination[2] = floatChannelTo16(source[2]);
    destination[3] = floatChannelTo16(source[3]);
}

void copyRowsRgbaFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<CopyRgbaFloat>(job, index, count);
}
void copyRowsRgba16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<CopyRgba16>(job, index, count);
}
void convertRowsRgba8To16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<Rgba8To16>(job, index, count);
}
void convertRowsRgbToRgbaFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<RgbToRgbaFloat>(job, index, count);
}
void convertRowsRgb16ToRgba16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<Rgb16ToRgba16>(job, index, count);
}
void convertRowsRgb8ToRgba16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<Rgb8ToRgba16>(job, index, count);
}
void convertRowsRgbaFloatTo16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    convertRows<RgbaFloatTo16>(job, index, count);
}
void convertRowsRgbFloatToRgba16(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t) {
    convertRows<RgbFloatToRgba16>(job, index, count);
}

void convertImageTo16(SystemHost& host, const ImageBuffer& source, ImageBuffer& destination) {
    static constexpr const char* kWhere = "convertImageTo16";
    const Rect area = destination.bounds;
    if (area.empty()) return;
    requirePixels(kWhere, "destination", destination);
    requirePixels(kWhere, "source", source);
    if (destination.channels != 4)
        throw Mav::Exception(std::string(kWhere) + ": the destination must have 4 channels.");
    if (source.channels < 3)
        throw Mav::Exception(std::string(kWhere) + ": the source must have 3 or more channels.");
    requireDepth(kWhere, "source", source);
    const bool floatToFloat = source.bitsPerChannel == 32 && destination.bitsPerChannel == 32;
    if (!floatToFloat && destination.bitsPerChannel != 16)
        throw Mav::Exception(std::string(kWhere) +
                             ": the destination must be 16-bit, or float for a float source.");
    requireCovers(kWhere, source, area);

    const bool rgba = source.channels > 3;
    BandWorker worker = nullptr;
    switch (source.bitsPerChannel) {
        case 16:
            worker = rgba ? copyRowsRgba16 : convertRowsRgb16ToRgba16;
            break;
        case 32:
            if (floatToFloat)
                worker = rgba ? copyRowsRgbaFloat : convertRowsRgbToRgbaFloat;
            else
                worker = rgba ? convertRowsRgbaFloatTo16 : convertRowsRgbFloatToRgba16;
            break;
        default:
            worker = rgba ? convertRowsRgba8To16 : convertRowsRgb8ToRgba16;
            break;
    }
    BandJob job{&host, &destination, &source, &area};
    runBands(host, worker, &job);
}

}  // namespace vantrelo
