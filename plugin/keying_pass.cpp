#include "plugin/keying_pass.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "host/system/aligned_buffer.h"
#include "host/system/exceptions.h"
#include "kernels/band_job.h"
#include "kernels/convert_image.h"
#include "kernels/warp.h"
#include "plugin/lighting.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

using Mav::Host::System::AlignedBuffer;
using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

namespace {

template <class T>
constexpr std::int32_t kBits = sizeof(T) * 8;

// The channel maximum of a work value: 65535, or 1.0 in float.
template <class Work>
constexpr Work kOpaque = sizeof(Work) == 4 ? Work(1) : Work(65535);

// A value of the render's depth in the work format: 8-bit v becomes (v x 65535) / 255 = v x 257,
// 16-bit and float values are copied.
template <class Work, class Source>
inline Work widen(Source v) {
    if constexpr (sizeof(Source) == 1)
        return static_cast<Work>(std::uint32_t{v} * 257u);  // = v x 65535 / 255 exactly
    else
        return static_cast<Work>(v);
}

// Row y, columns area.x0 .. area.x1 - 1, of `image` into `row` (four work channels per pixel):
// pixels outside the image's bounds become (0, 0, 0, 0); a three-channel image gets opaque alpha.
template <class Source, class Work>
void copyRow(const ImageBuffer& image, std::int32_t y, const Rect& area, Work* row) {
    const std::ptrdiff_t width = area.width();
    const std::int32_t x0 = std::clamp(image.bounds.x0, area.x0, area.x1);
    const std::int32_t x1 = std::clamp(image.bounds.x1, x0, area.x1);
    if (!image.firstPixel || y < image.bounds.y0 || y >= image.bounds.y1 || x1 <= x0) {
        std::memset(row, 0, static_cast<std::size_t>(width) * 4 * sizeof(Work));
        return;
    }
    std::memset(row, 0, static_cast<std::size_t>(x0 - area.x0) * 4 * sizeof(Work));
    std::memset(row + (x1 - area.x0) * 4, 0, static_cast<std::size_t>(area.x1 - x1) * 4 * sizeof(Work));
    const auto* p = reinterpret_cast<const Source*>(image.pixelAddress(x0, y));
    Work* w = row + (x0 - area.x0) * 4;
    const std::ptrdiff_t step = image.channels;
    if (step == 4) {
        // The common case, with a constant stride so that the loop runs on vectors.
        const std::ptrdiff_t values = static_cast<std::ptrdiff_t>(x1 - x0) * 4;
        for (std::ptrdiff_t i = 0; i < values; ++i) w[i] = widen<Work>(p[i]);
    } else if (step > 4) {
        for (std::int32_t x = x0; x < x1; ++x, p += step, w += 4)
            for (int c = 0; c < 4; ++c) w[c] = widen<Work>(p[c]);
    } else {
        for (std::int32_t x = x0; x < x1; ++x, p += step, w += 4) {
            for (int c = 0; c < 3; ++c) w[c] = widen<Work>(p[c]);
            w[3] = kOpaque<Work>;
        }
    }
}

// The background behind row y: the fill colour without a backdrop image, else the image's row.
template <class Source, class Work>
void backgroundRow(const KeyRowsJob& job, const Work* fill, std::int32_t y, Work* row) {
    if (job.backdrop) {
        copyRow<Source>(*job.backdrop, y, job.area, row);
        return;
    }
    const std::ptrdiff_t width = job.area.width();
    for (std::ptrdiff_t x = 0; x < width; ++x, row += 4) std::memcpy(row, fill, 4 * sizeof(Work));
}

template <class Work>
void fillColour(const KeyRowsJob& job, Work* fill) {
    if (!job.plainColour) {
        std::fill(fill, fill + 4, Work(0));
        return;
    }
    const std::uint16_t* colour = job.adapter->keyStates.keyState.replacementColour;
    for (int c = 0; c < 3; ++c) {
        if constexpr (sizeof(Work) == 4)
            fill[c] = static_cast<float>(colour[c]) / 65535.0f;
        else
            fill[c] = colour[c];
    }
    fill[3] = kOpaque<Work>;
}

// One engine call over `rows` packed rows.  The engine may scale the float work and background
// pixels in place: both are scratch.  The 16-bit call only reads them.
inline void keyRun(const CVantreloBridge& adapter, const std::uint16_t* work, const std::uint16_t* background,
                   std::uint16_t* keyed, std::ptrdiff_t width, std::ptrdiff_t rows) {
    adapter.keyPixels16(work, background, keyed, width, rows);
}
inline void keyRun(const CVantreloBridge& adapter, float* work, float* background, float* keyed,
                   std::ptrdiff_t width, std::ptrdiff_t rows) {
    adapter.keyPixelsFloat(work, background, keyed, width, rows);
}

// Row y of the area lies in `image` as the engine reads it: four 16-bit channels, packed, every
// column present.
bool holdsRow(const ImageBuffer& image, std::int32_t y, const Rect& area) {
    return image.firstPixel && image.channels == 4 && y >= image.bounds.y0 && y < image.bounds.y1 &&
           image.bounds.x0 <= area.x0 && area.x1 <= image.bounds.x1;
}

template <class Source, class Work>
void keyRows(void* jobPointer, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    const KeyRowsJob& job = *static_cast<const KeyRowsJob*>(jobPointer);
    const Rect& area = job.area;
    const BandRange band = bandRange(area.y0, area.y1, index, count);
    const std::ptrdiff_t width = area.width();
    if (band.empty() || width == 0) return;

    const ImageBuffer& subject =
        job.transformed && job.warpedForeground && job.warpedForeground->firstPixel ? *job.warpedForeground
                                                                                     : *job.input;
    Work fill[4];
    fillColour(job, fill);
    const std::ptrdiff_t rowValues = width * 4;
    auto* work = static_cast<Work*>(job.workPixels);
    auto* wholeBackground = static_cast<Work*>(job.backgroundPixels);

    // The 16-bit engine call only reads its rows, so the colour backdrop's row is laid once for
    // the band, and a 16-bit four-channel subject or backdrop row is keyed where it lies: copying
    // them cost 10% of a render over a colour.  The float call scales its rows in place, so they
    // are copies, laid again for every row.
    constexpr bool kReadOnly = sizeof(Work) == 2;
    constexpr bool kReadsInPlace = kReadOnly && sizeof(Source) == 2;
    using RowPointer = std::conditional_t<kReadOnly, const Work*, Work*>;

    // Row by row: the band's own work row (unless the work image is ready) and background row,
    // and with a row step its keyed row.
    AlignedBuffer ownRows;
    Work* workRow = nullptr;
    Work* backgroundOfRow = nullptr;
    Work* keyedRow = nullptr;
    if (!wholeBackground) {
        const std::uint64_t rows = 1 + (work ? 0 : 1) + (job.rowStep ? 1 : 0);
        ownRows.resize(static_cast<std::uint64_t>(rowValues) * sizeof(Work) * rows);
        backgroundOfRow = reinterpret_cast<Work*>(ownRows.pointer());
        Work* next = backgroundOfRow + rowValues;
        if (!work) {
            workRow = next;
            next += rowValues;
        }
        if (job.rowStep) keyedRow = next;
    }
    bool colourLaid = false;

    const std::uint64_t total = static_cast<std::uint64_t>(band.end - band.begin);
    for (std::ptrdiff_t u = band.begin; u < band.end; ++u) {
        const auto y = static_cast<std::int32_t>(u);
        const std::ptrdiff_t offset = (u - area.y0) * rowValues;
        if (wholeBackground) {
            if (!job.workReady) copyRow<Source>(subject, y, area, work + offset);
            backgroundRow<Source>(job, fill, y, wholeBackground + offset);
        } else {
            RowPointer subjectRow = work ? work + offset : workRow;
            if (work) {
                if (!job.workReady) copyRow<Source>(subject, y, area, work + offset);
            } else if (kReadsInPlace && holdsRow(subject, y, area)) {
                subjectRow = reinterpret_cast<RowPointer>(subject.pixelAddress(area.x0, y));
            } else {
                copyRow<Source>(subject, y, area, workRow);
            }
            RowPointer background = backgroundOfRow;
            if (kReadsInPlace && job.backdrop && holdsRow(*job.backdrop, y, area)) {
                background = reinterpret_cast<RowPointer>(job.backdrop->pixelAddress(area.x0, y));
            } else if (!kReadOnly || job.backdrop || !colourLaid) {
                backgroundRow<Source>(job, fill, y, backgroundOfRow);
                colourLaid = !job.backdrop;
            }
            if (keyedRow) {
                keyRun(*job.adapter, subjectRow, background, keyedRow, width, 1);
                job.rowStep->run(job.rowStep->context, y, keyedRow);
            } else {
                keyRun(*job.adapter, subjectRow, background,
                       reinterpret_cast<Work*>(job.keyed->pixelAddress(area.x0, y)), width, 1);
            }
        }
        if (u % 32 == 0) job.host->reportProgress(key, static_cast<std::uint64_t>(u - band.begin), total);
    }
}

[[noreturn]] void refuse(const char* pass, const char* why) { throw Mav::Exception(std::string(pass) + ": " + why); }

bool fitsDepth(const ImageBuffer& image, std::int32_t bits) {
    return image.bitsPerChannel == bits && image.channels >= 3;
}

inline void correctLighting(LightingContext& lighting, const ImageBuffer& input, const Rect& region,
                            std::uint16_t* out) {
    applyLighting16(lighting, input, region, out);
}
inline void correctLighting(LightingContext& lighting, const ImageBuffer& input, const Rect& region, float* out) {
    applyLightingFloat(lighting, input, region, out);
}

inline void warpSubject(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix, std::uint16_t*) {
    warpForegroundRgba16(host, destination, source, matrix);
}
inline void warpSubject(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix, float*) {
    warpForegroundRgbaFloat(host, destination, source, matrix);
}

template <class Source, class Work>
void keyPass(const char* name, BandWorker worker, const KeyPassContext& context, const ImageBuffer& input,
             const ImageBuffer& warpedForeground, const ImageBuffer* backdrop, ImageBuffer& keyed,
             const Rect& keyingRect, bool plainColour, bool transformed, bool lighting) {
    // Checked before anything is touched: the bands and the engine address these images blindly.
    if (!context.host || !context.adapter) refuse(name, "no host or adapter");
    if (lighting && !context.lighting) refuse(name, "lighting correction without its cache");
    if (keyingRect.empty()) return;
    const bool wholeRun = lighting || context.adapter->keyStates.hybrid;
    if (context.rowStep && wholeRun)
        refuse(name, "a keyed-row step needs row-by-row keying, not one run over the area");
    if (!context.rowStep &&
        (keyed.bitsPerChannel != kBits<Work> || keyed.channels != 4 || keyed.bounds != keyingRect ||
         !keyed.firstPixel || keyed.rowBytes != keyingRect.width() * 4 * std::ptrdiff_t{sizeof(Work)}))
        refuse(name, "the keyed image is not a packed four-channel image over the keying rectangle");
    if (!input.firstPixel || !fitsDepth(input, kBits<Source>))
        refuse(name, "the input does not have the render's depth");
    if (warpedForeground.firstPixel && !fitsDepth(warpedForeground, kBits<Source>))
        refuse(name, "the warped foreground does not have the render's depth");
    if (backdrop && backdrop->firstPixel && !fitsDepth(*backdrop, kBits<Source>))
        refuse(name, "the backdrop image does not have the render's depth");

    SystemHost& host = *context.host;
    const std::ptrdiff_t width = keyingRect.width();
    const std::ptrdiff_t height = keyingRect.height();
    const bool drawsSubject = transformed && !warpedForeground.firstPixel;
    const bool workReady = lighting || drawsSubject;

    ImageBuffer work(&host);
    work.rowAligned = false;
    if (workReady || wholeRun) work.allocate(keyingRect, kBits<Work>);
    if (workReady) {
        // The subject over the rectangle it is drawn from: the keying rectangle, or with a
        // transform the whole input, which the warp below draws into the rectangle.
        const Rect from = transformed ? input.bounds : keyingRect;
        if (transformed) work.allocate(from, kBits<Work>);
        if (lighting)
            correctLighting(*context.lighting, input, from, reinterpret_cast<Work*>(work.firstPixel));
        else
            convertImageTo16(host, input, work);
        if (transformed) {
            ImageBuffer drawn(&host);
            drawn.rowAligned = false;
            drawn.allocate(keyingRect, kBits<Work>);
            drawn.clearRect(keyingRect);
            warpSubject(host, drawn, work, context.foreground, static_cast<Work*>(nullptr));
            work.swap(drawn);
        }
    }
    ImageBuffer background(&host);
    background.rowAligned = false;
    if (wholeRun) background.allocate(keyingRect, kBits<Work>);

    KeyRowsJob job;
    job.host = &host;
    job.workPixels = work.firstPixel;
    job.backgroundPixels = wholeRun ? background.firstPixel : nullptr;
    job.adapter = context.adapter;
    job.input = &input;
    job.warpedForeground = &warpedForeground;
    job.backdrop = backdrop && backdrop->firstPixel ? backdrop : nullptr;
    job.keyed = &keyed;
    job.area = keyingRect;
    job.plainColour = plainColour;
    job.transformed = transformed;
    job.lighting = lighting;
    job.workReady = workReady;
    job.rowStep = context.rowStep;

    CompiledKeyGuard compiled(&context.adapter->keyStates);
    runBands(host, worker, &job, context.bandCount);
    if (wholeRun)
        keyRun(*context.adapter, reinterpret_cast<Work*>(work.firstPixel),
               reinterpret_cast<Work*>(background.firstPixel), reinterpret_cast<Work*>(keyed.firstPixel), width,
               height);
    compiled.release();
}

}  // namespace

void keyRowsFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    keyRows<float, float>(job, index, count, key);
}

void keyRows16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    keyRows<std::uint16_t, std::uint16_t>(job, index, count, key);
}

void keyRows8(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    keyRows<std::uint8_t, std::uint16_t>(job, index, count, key);
}

void keyPassFloat(const KeyPassContext& context, const ImageBuffer& input, const ImageBuffer& warpedForeground,
                  const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, bool plainColour,
                  bool transformed, bool lighting) {
    keyPass<float, float>("keyPassFloat", keyRowsFloat, context, input, warpedForeground, backdrop, keyed,
                          keyingRect, plainColour, transformed, lighting);
}

void keyPass16(const KeyPassContext& context, const ImageBuffer& input, const ImageBuffer& warpedForeground,
               const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, bool plainColour,
               bool transformed, bool lighting) {
    keyPass<std::uint16_t, std::uint16_t>("keyPass16", keyRows16, context, input, warpedForeground, backdrop,
                                          keyed, keyingRect, plainColour, transformed, lighting);
}

void keyPass8(const KeyPassContext& context, const ImageBuffer& input, const ImageBuffer& warpedForeground,
              const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, bool plainColour,
              bool transformed, bool lighting) {
    keyPass<std::uint8_t, std::uint16_t>("keyPass8", keyRows8, context, input, warpedForeground, backdrop, keyed,
                                         keyingRect, plainColour, transformed, lighting);
}

}  // namespace vantrelo
