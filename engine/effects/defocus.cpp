#include "engine/effects/defocus.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/effects/defocus_lines.h"
#include "engine/effects/defocus_matte16.h"
#include "engine/effects/defocus_workers.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/key_state.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

float clampShrink(float shrink) {
    if (!(shrink > 0.0f)) return 0.0f;  // also NaN
    return std::min(shrink, 1.0f);
}

// Float clamp to [0, 65535] with NaN to 0.
float clampFull(float value) {
    if (!(value > 0.0f)) return 0.0f;
    return std::min(value, 65535.0f);
}

// Runs one pass over `lines` with a scratch block of its own.
template <class T>
bool runPass(const DefocusLines<T>& lines, std::ptrdiff_t lineCount, int radius) {
    if (lines.length <= 0 || lineCount <= 0 || radius <= 0) return true;
    EngineBlock scratch;
    if (!scratch.allocate<float>(defocusScratchFloats(lines.length), true)) return false;
    filterDefocusLines(lines, 0, lineCount, radius, defocusKernel(radius), scratch.as<float>());
    return true;
}

// Pass over channel `channel` of pixels of `channels` samples: rowCount rows of rowLength pixels.
template <class T>
bool passX(T* pixels, int channels, int channel, std::ptrdiff_t rowLength, std::ptrdiff_t rowCount,
           int radius) {
    return runPass(DefocusLines<T>{pixels + channel, channels, rowLength * channels, rowLength}, rowCount,
                   radius);
}

// Pass over channel `channel` down columnCount columns of columnLength pixels.
template <class T>
bool passY(T* pixels, int channels, int channel, std::ptrdiff_t columnCount, std::ptrdiff_t columnLength,
           int radius) {
    return runPass(DefocusLines<T>{pixels + channel, columnCount * channels, channels, columnLength},
                   columnCount, radius);
}

// Checks shared by the public passes: true in `done` when there is nothing to do.
bool passArguments(const void* pixels, std::ptrdiff_t a, std::ptrdiff_t b, std::ptrdiff_t c,
                   std::ptrdiff_t d, int radius, bool& done) {
    done = true;
    if (a < 0 || b < 0 || c < 0 || d < 0) return false;
    if (a == 0 || b == 0 || c == 0 || d == 0 || radius <= 0) return true;
    if (!pixels) return false;
    done = false;
    return true;
}

// The padded copy of the drivers, reduced to the channels a driver filters: PC samples per pixel
// taken from channels srcFirst.. of an image of SC samples per pixel.  (width + 2r) x
// (height + 2r) pixels: image row y at padded row r + y, each such row extended by r copies of
// its first and last pixel, the first and last image rows repeated r times above and below, and
// the four r x r corners zero.  Every element is written, so the block needs no clearing.
template <int PC, int SC, class T>
void fillPadded(T* pad, const T* image, int srcFirst, std::ptrdiff_t width, std::ptrdiff_t height,
                std::ptrdiff_t r) {
    const std::ptrdiff_t rowElements = (width + 2 * r) * PC;
    const std::ptrdiff_t sideElements = r * PC;
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        T* row = pad + (r + y) * rowElements;
        T* centre = row + sideElements;
        const T* src = image + y * width * SC + srcFirst;
        for (std::ptrdiff_t x = 0; x < width; ++x)
            for (int c = 0; c < PC; ++c) centre[x * PC + c] = src[x * SC + c];
        for (std::ptrdiff_t x = 0; x < r; ++x)
            for (int c = 0; c < PC; ++c) {
                row[x * PC + c] = centre[c];
                centre[(width + x) * PC + c] = centre[(width - 1) * PC + c];
            }
    }
    const T* firstRow = pad + r * rowElements;
    const T* lastRow = pad + (r + height - 1) * rowElements;
    for (std::ptrdiff_t y = 0; y < r; ++y) {
        T* above = pad + y * rowElements;
        T* below = pad + (r + height + y) * rowElements;
        std::fill(above, above + sideElements, T{0});
        std::copy(firstRow + sideElements, firstRow + rowElements - sideElements, above + sideElements);
        std::fill(above + rowElements - sideElements, above + rowElements, T{0});
        std::fill(below, below + sideElements, T{0});
        std::copy(lastRow + sideElements, lastRow + rowElements - sideElements, below + sideElements);
        std::fill(below + rowElements - sideElements, below + rowElements, T{0});
    }
}

// Runs both passes over every channel of a padded plane on the calling thread.
template <class T>
bool blurPlane(T* pad, int channels, std::ptrdiff_t padWidth, std::ptrdiff_t padHeight, int radius) {
    for (int c = 0; c < channels; ++c)
        if (!passX(pad, channels, c, padWidth, padHeight, radius)) return false;
    for (int c = 0; c < channels; ++c)
        if (!passY(pad, channels, c, padWidth, padHeight, radius)) return false;
    return true;
}

// Padded sizes and their sample count, or false when they do not fit the address space (the
// engine block refuses a count whose bytes do not).
bool paddedSize(std::ptrdiff_t width, std::ptrdiff_t height, int radius, std::size_t channels,
                std::ptrdiff_t& padWidth, std::ptrdiff_t& padHeight, std::size_t& count) {
    constexpr std::ptrdiff_t kMax = std::numeric_limits<std::ptrdiff_t>::max() / 4;
    const std::ptrdiff_t r = radius;
    if (width > kMax - 2 * r || height > kMax - 2 * r) return false;
    padWidth = width + 2 * r;
    padHeight = height + 2 * r;
    return imageElements(padWidth, padHeight, channels, count);
}

// Re-levelling of the 16-bit matte after the blur: push the softened edge inward by r x 0.05 of
// its distance from full scale, and/or shrink by remapping g .. 65535 onto 0 .. 65535.
struct Relevel16 {
    enum Mode { None, Push, PushShrink, Shrink } mode = None;
    float o = 0.0f, g = 0.0f, h = 0.0f;

    Relevel16(int radius, int blurInward, float shrink) {
        o = static_cast<float>(radius) * 0.05f;
        g = shrink * 65535.0f;
        const float room = 65536.0f - g;
        h = room == 0.0f ? 0.0f : 65536.0f / room;
        if (radius > 0 && blurInward != 0)
            mode = shrink == 0.0f ? Push : PushShrink;
        else if (shrink != 0.0f)
            mode = Shrink;
    }

    std::uint16_t operator()(std::uint16_t v) const {
        const float below = static_cast<float>(static_cast<int>(v) - 65535);
        switch (mode) {
        case Push:
            return truncToUint16(static_cast<float>(v + static_cast<double>(std::trunc(below * o))));
        case PushShrink: {
            const float u = static_cast<float>(v + static_cast<double>(std::trunc(below * o + 0.5f)));
            return truncToUint16((u - g) * h + 0.5f);
        }
        case Shrink:
            return truncToUint16((static_cast<float>(v) - g) * h + 0.5f);
        case None:
            break;
        }
        return v;
    }
};

// The float matte's re-level works on values scaled to 0..65535 and truncates without adding 0.5.
struct RelevelFloat {
    Relevel16::Mode mode;
    float o, g, h, toFull, fromFull;

    RelevelFloat(float maxValue, int radius, int blurInward, float shrink) {
        const Relevel16 base(radius, blurInward, shrink);
        mode = base.mode;
        o = base.o;
        g = base.g;
        h = base.h;
        toFull = (1.0f / maxValue) * 65535.0f;
        fromFull = maxValue * kUnit16;
    }

    float operator()(float v) const {
        const float b = v * toFull;
        float levelled;
        switch (mode) {
        case Relevel16::Push:
            levelled = b + (b - 65535.0f) * o;
            break;
        case Relevel16::PushShrink:
            levelled = std::trunc((std::trunc((b - 65535.0f) * o) + b - g) * h);
            break;
        case Relevel16::Shrink:
            levelled = std::trunc((b - g) * h);
            break;
        default:
            return v;
        }
        return clampFull(levelled) * fromFull;
    }
};

// The 8-bit matte applies its push and its shrink as two separately clamped steps.
std::uint8_t relevel8(std::uint8_t v, int radius, int blurInward, float shrink) {
    int value = v;
    if (blurInward != 0) {
        const auto product = static_cast<long long>(value - 255) * radius;
        const float push = std::trunc(static_cast<float>(product) * 0.05f);
        value = truncToUint8(static_cast<float>(value + static_cast<double>(push)));
    }
    if (shrink != 0.0f) {
        const float g = shrink * 255.0f;
        const float room = 256.0f - g;  // at least 1 with the shrink clamped to [0, 1]
        value = room == 0.0f ? 0 : truncToUint8((static_cast<float>(value) - g) * 256.0f / room);
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

DefocusKernel defocusKernel(int radius) {
    DefocusKernel k{};
    if (radius <= 0) return k;
    k.base = static_cast<float>(std::pow(0.04, 1.0 / radius));
    k.tailWeight = static_cast<float>(std::pow(static_cast<double>(k.base), radius + 1.0));
    double power = 1.0;
    for (int i = 1; i <= radius; ++i) {
        power *= static_cast<double>(k.base);
        k.sum += power;
    }
    k.normaliser = 1.0f / static_cast<float>(2.0 * k.sum);
    return k;
}

// ---- passes ----

namespace {

// The public passes: their shared checks, then channels first .. first + count - 1 of pixels of
// `channels` samples.  `third` is the argument whose 0 means nothing to do besides the width.
template <class T>
bool checkedPassX(T* pixels, int channels, int first, int count, std::ptrdiff_t width, std::ptrdiff_t third,
                  std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius) {
    bool done;
    if (!passArguments(pixels, width, third, rowLength, rowCount, radius, done)) return false;
    for (int c = first; c < first + count && !done; ++c)
        if (!passX(pixels, channels, c, rowLength, rowCount, radius)) return false;
    return true;
}

template <class T>
bool checkedPassY(T* pixels, int channels, int first, int count, std::ptrdiff_t width, std::ptrdiff_t height,
                  std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    bool done;
    if (!passArguments(pixels, width, height, columnCount, columnLength, radius, done)) return false;
    for (int c = first; c < first + count && !done; ++c)
        if (!passY(pixels, channels, c, columnCount, columnLength, radius)) return false;
    return true;
}

}  // namespace

bool doDefocusMaskX(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius) {
    return checkedPassX(pixels, 4, 3, 1, width, height, rowLength, rowCount, radius);
}
bool doDefocusMaskY(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(pixels, 4, 3, 1, width, height, columnCount, columnLength, radius);
}
bool defocusMaskXFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t rowLength,
                       std::ptrdiff_t rowCount, int radius) {
    return checkedPassX(pixels, 4, 3, 1, width, height, rowLength, rowCount, radius);
}
bool defocusMaskYFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(pixels, 4, 3, 1, width, height, columnCount, columnLength, radius);
}
bool defocusMaskX8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t rowCount, std::ptrdiff_t rowLength,
                   int radius) {
    return checkedPassX(matte, 1, 0, 1, width, rowCount, rowLength, rowCount, radius);
}
bool defocusMaskY8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t height,
                   std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(matte, 1, 0, 1, width, height, columnCount, columnLength, radius);
}

bool defocusColourX16(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                      std::ptrdiff_t rowLength, int radius) {
    return checkedPassX(pixels, 4, 0, 3, width, rowCount, rowLength, rowCount, radius);
}
bool defocusColourY16(std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                      std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(pixels, 4, 0, 3, width, height, columnCount, columnLength, radius);
}
bool defocusColourXFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount, std::ptrdiff_t rowLength,
                         int radius) {
    return checkedPassX(pixels, 4, 0, 3, width, rowCount, rowLength, rowCount, radius);
}
bool defocusColourYFloat(float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                         std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(pixels, 4, 0, 3, width, height, columnCount, columnLength, radius);
}
bool defocusColourX8(std::uint8_t* pixels, std::ptrdiff_t width, std::ptrdiff_t rowCount,
                     std::ptrdiff_t rowLength, int radius) {
    return checkedPassX(pixels, 3, 0, 3, width, rowCount, rowLength, rowCount, radius);
}
bool defocusColourY8(std::uint8_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                     std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius) {
    return checkedPassY(pixels, 3, 0, 3, width, height, columnCount, columnLength, radius);
}

// ---- matte drivers ----
//
// The drivers pad only the channels they filter (the matte alone, or R, G and B): the others are
// never changed by the passes, so the result is that of a padded copy of whole pixels, with a
// quarter (or three quarters) of the memory traffic.

bool defocusMatte16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius,
                    int blurInward, float shrink) {
    if (!usableImage(image, width, height)) return false;
    radius = std::max(radius, 0);
    shrink = clampShrink(shrink);
    if (width == 0 || height == 0 || (radius == 0 && shrink == 0.0f)) return true;
    // The re-level depends on the value alone: one table of all 65536 results, one look-up per
    // pixel.
    const Relevel16 relevel(radius, blurInward, shrink);
    EngineBlock table;
    std::uint16_t* level = nullptr;
    if (relevel.mode != Relevel16::None) {
        if (!table.allocate<std::uint16_t>(65536, false)) return false;
        level = table.as<std::uint16_t>();
        for (int v = 0; v < 65536; ++v) level[v] = relevel(static_cast<std::uint16_t>(v));
    }
    if (radius == 0) {
        for (std::ptrdiff_t i = 0; i < width * height; ++i) image[i * 4 + 3] = level[image[i * 4 + 3]];
        return true;
    }
    // Every block is obtained before the image is touched; from then on nothing can fail.  The
    // passes write every sample of the plane, so it is not cleared.
    std::ptrdiff_t padWidth, padHeight;
    std::size_t count;
    EngineBlock plane, scratch;
    if (!paddedSize(width, height, radius, 1, padWidth, padHeight, count) ||
        !plane.allocate<std::uint16_t>(count, false))
        return false;
    const Matte16Defocus job{image, width, height, radius, defocusKernel(radius), plane.as<std::uint16_t>(), level};
    if (!scratch.allocate<float>(matte16ScratchFloats(job), true)) return false;

    // Passes whose workers cannot be had run on this thread instead.
    const bool threaded = workerThreadCount() >= 2 && padWidth >= 10 && padHeight >= 10;
    defocusMatte16EdgeRows(job, scratch.as<float>());
    if (!(threaded && runDefocusXWorker(job))) defocusMatte16Rows(job, 0, height, scratch.as<float>());
    if (!(threaded && runDefocusYWorker(job))) defocusMatte16Columns(job, 0, width, scratch.as<float>());
    return true;
}

bool defocusMatteFloat(float maxValue, float* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius,
                       int blurInward, float shrink) {
    if (!usableImage(image, width, height) || !(maxValue > 0.0f) || !std::isfinite(maxValue)) return false;
    radius = std::max(radius, 0);
    shrink = clampShrink(shrink);
    if (width == 0 || height == 0 || (radius == 0 && shrink == 0.0f)) return true;
    const RelevelFloat relevel(maxValue, radius, blurInward, shrink);
    const std::ptrdiff_t pixels = width * height;
    if (radius == 0) {
        for (std::ptrdiff_t i = 0; i < pixels; ++i) image[i * 4 + 3] = relevel(image[i * 4 + 3]);
        return true;
    }
    std::ptrdiff_t padWidth, padHeight;
    std::size_t count;
    EngineBlock pad;
    if (!paddedSize(width, height, radius, 1, padWidth, padHeight, count) ||
        !pad.allocate<float>(count, false))
        return false;
    auto* plane = pad.as<float>();
    fillPadded<1, 4>(plane, image, 3, width, height, radius);
    if (!blurPlane(plane, 1, padWidth, padHeight, radius)) return false;
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const float* in = plane + (y + radius) * padWidth + radius;
        float* out = image + y * width * 4 + 3;
        for (std::ptrdiff_t x = 0; x < width; ++x) out[x * 4] = relevel(in[x]);
    }
    return true;
}

bool defocusMatte8(std::uint8_t* matte, std::ptrdiff_t width, std::ptrdiff_t height, int radius, int blurInward,
                   float shrink) {
    if (!usableImage(matte, width, height)) return false;
    radius = std::max(radius, 0);
    shrink = clampShrink(shrink);
    if (width == 0 || height == 0 || (radius == 0 && shrink == 0.0f)) return true;
    // The re-level depends on the value alone: a table of all 256 results, one look-up per pixel
    // in place of the shrink's division.
    std::uint8_t level[256];
    for (int v = 0; v < 256; ++v) level[v] = relevel8(static_cast<std::uint8_t>(v), radius, blurInward, shrink);
    const std::ptrdiff_t pixels = width * height;
    if (radius == 0) {
        for (std::ptrdiff_t i = 0; i < pixels; ++i) matte[i] = level[matte[i]];
        return true;
    }
    std::ptrdiff_t padWidth, padHeight;
    std::size_t count;
    EngineBlock pad;
    if (!paddedSize(width, height, radius, 1, padWidth, padHeight, count) ||
        !pad.allocate<std::uint8_t>(count, false))
        return false;
    auto* plane = pad.as<std::uint8_t>();
    fillPadded<1, 1>(plane, matte, 0, width, height, radius);
    if (!blurPlane(plane, 1, padWidth, padHeight, radius)) return false;
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const std::uint8_t* in = plane + (y + radius) * padWidth + radius;
        std::uint8_t* out = matte + y * width;
        for (std::ptrdiff_t x = 0; x < width; ++x) out[x] = level[in[x]];
    }
    return true;
}

// ---- colour drivers ----

namespace {

// R, G and B each get a padded plane of their own, so that every pass walks single-channel lines.
template <class T>
bool defocusColour(T* image, int channels, std::ptrdiff_t width, std::ptrdiff_t height, int radius) {
    if (!usableImage(image, width, height)) return false;
    if (width == 0 || height == 0 || radius <= 0) return true;
    std::ptrdiff_t padWidth, padHeight;
    std::size_t count;
    EngineBlock pad;
    if (!paddedSize(width, height, radius, 3, padWidth, padHeight, count) ||
        !pad.allocate<T>(count, false))
        return false;
    const std::ptrdiff_t planeSize = padWidth * padHeight;
    for (int c = 0; c < 3; ++c) {
        T* plane = pad.as<T>() + c * planeSize;
        if (channels == 4)
            fillPadded<1, 4>(plane, image, c, width, height, radius);
        else
            fillPadded<1, 3>(plane, image, c, width, height, radius);
        if (!blurPlane(plane, 1, padWidth, padHeight, radius)) return false;
    }
    for (int c = 0; c < 3; ++c) {
        const T* plane = pad.as<T>() + c * planeSize;
        for (std::ptrdiff_t y = 0; y < height; ++y) {
            const T* in = plane + (y + radius) * padWidth + radius;
            T* out = image + y * width * channels + c;
            for (std::ptrdiff_t x = 0; x < width; ++x) out[x * channels] = in[x];
        }
    }
    return true;
}

}  // namespace

bool defocusColour16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius) {
    return defocusColour(image, 4, width, height, radius);
}
bool defocusColourFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius) {
    return defocusColour(image, 4, width, height, radius);
}
bool defocusColour8(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, int radius) {
    return defocusColour(image, 3, width, height, radius);
}

}  // namespace vantrelo
