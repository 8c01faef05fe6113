#include "plugin/lighting.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "engine/effects/simulated_foreground.h"
#include "engine/keying/numeric.h"
#include "host/system/exceptions.h"
#include "kernels/convert_image.h"
#include "kernels/pixel_maths.h"
#include "plugin/band_rows.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

namespace {

// The bytes of a key state that define the key.  compileKey rewrites the compiled block (face
// equations, reaches, tolerances, callbacks) on every keying, so a byte comparison of whole
// records would call every compiled key "changed" once and recompute the cache a second time.
constexpr std::size_t kCompiledBegin = offsetof(KeyState, innerReach);
constexpr std::size_t kCompiledEnd = offsetof(KeyState, correctionSet1);

bool sameKeyDefinition(const KeyState& a, const KeyState& b) {
    const auto* pa = reinterpret_cast<const unsigned char*>(&a);
    const auto* pb = reinterpret_cast<const unsigned char*>(&b);
    return std::memcmp(pa, pb, kCompiledBegin) == 0 &&
           std::memcmp(pa + kCompiledEnd, pb + kCompiledEnd, sizeof(KeyState) - kCompiledEnd) == 0;
}

// The records the cache depends on: key, body, edge; zero records for body and edge without
// hybrid keying.
std::array<KeyState, 3> currentStates(const CVantreloBridge& bridge) {
    std::array<KeyState, 3> states{};
    states[0] = bridge.keyStates.keyState;
    if (bridge.keyStates.hybrid) {
        states[1] = bridge.keyStates.bodyState;
        states[2] = bridge.keyStates.edgeState;
    }
    return states;
}

[[noreturn]] void refuse(const char* entry, const std::string& why) {
    throw Mav::Exception(std::string(entry) + ": " + why);
}

void checkInput(const char* entry, const ImageBuffer& input, const Rect& region, bool floatOnly) {
    if (!input.firstPixel || !Mav::Host::System::rectContains(input.bounds, region))
        refuse(entry, "the input does not hold the region");
    if (input.channels < 3) refuse(entry, "the input has fewer than three channels");
    const std::int32_t bits = input.bitsPerChannel;
    if (floatOnly ? bits != 32 : (bits != 8 && bits != 16 && bits != 32))
        refuse(entry, "the input's depth is not one the correction reads");
}

// A packed RGBA image over `rect` owned by the host: 16-bit, or float when `asFloat`.
void allocatePacked(ImageBuffer& image, const Rect& rect, bool asFloat) {
    image.rowAligned = false;
    image.allocate(rect, asFloat ? 32 : 16);
}

enum class Estimate { CorrectedImage, Backdrop };

// Brings the cache to the engine's estimate of `from` (mode 0: the corrected image, mode 1: the
// backdrop), unless it already holds it for the same key.
void ensureCache(LightingContext& context, const ImageBuffer& from, Estimate estimate) {
    const LightingCacheContent wanted = estimate == Estimate::CorrectedImage
                                            ? LightingCacheContent::CorrectedInput
                                            : LightingCacheContent::SimulatedBackdrop;
    ImageBuffer& cache = *context.cache;
    const std::array<KeyState, 3> states = currentStates(*context.bridge);
    bool fits = cache.firstPixel && *context.content == wanted && cache.bounds == from.bounds;
    for (int i = 0; fits && i < 3; ++i) fits = sameKeyDefinition(states[i], (*context.states)[i]);
    if (fits) return;

    *context.content = LightingCacheContent::Empty;
    cache.reset();
    ImageBuffer scratch(context.host);
    allocatePacked(scratch, from.bounds, false);
    convertImageTo16(*context.host, from, scratch);
    allocatePacked(cache, from.bounds, false);
    cache.domain = from.domain;
    cache.scale = from.scale;

    const KeyState& key = context.bridge->keyStates.keyState;
    const std::ptrdiff_t width = from.bounds.width();
    const std::ptrdiff_t height = from.bounds.height();
    const std::size_t bytes = static_cast<std::size_t>(width * height) * 8;
    // The engine writes nothing for a grid number of 0; the cache then means "no correction": the
    // image itself, or the key's own backdrop colour as the estimate.
    bool made;
    if (estimate == Estimate::CorrectedImage) {
        std::memcpy(cache.firstPixel, scratch.firstPixel, bytes);
        made = simulateForegroundMode0(reinterpret_cast<const std::uint16_t*>(scratch.firstPixel),
                                       reinterpret_cast<std::uint16_t*>(cache.firstPixel), width, height, &key,
                                       nullptr);
    } else {
        std::uint16_t colour[4] = {0, 0, 0, 65535};
        for (int c = 0; c < 3; ++c) colour[c] = truncToUint16(key.backdrop[c]);
        auto* pixel = reinterpret_cast<std::uint16_t*>(cache.firstPixel);
        for (std::ptrdiff_t i = 0; i < width * height; ++i, pixel += 4) std::memcpy(pixel, colour, sizeof colour);
        made = simulateForegroundMode1(reinterpret_cast<const std::uint16_t*>(scratch.firstPixel),
                                       reinterpret_cast<std::uint16_t*>(cache.firstPixel), width, height, &key,
                                       nullptr);
    }
    // The engine's only failure with arguments like these is memory its allocator refused.
    if (!made) {
        cache.reset();
        Mav::Host::System::throwBadAllocation();
    }
    *context.states = states;
    *context.content = wanted;
}

// Where each column (or row) of the input falls in the cache: the two neighbouring cache
// columns and the weight of the second.  Pixel centres are mapped, so an input at the cache's own
// scale reads its pixels exactly (weight 0).
struct Tap {
    std::int32_t first;
    std::int32_t second;
    float weight;
};

std::vector<Tap> taps(std::int32_t from, std::int32_t to, const Rect& inputDomain, const Rect& cacheDomain,
                      std::int32_t cacheFirst, std::int32_t cacheEnd, bool horizontal) {
    const double inputSize = static_cast<double>(horizontal ? inputDomain.width() : inputDomain.height());
    const double cacheSize = static_cast<double>(horizontal ? cacheDomain.width() : cacheDomain.height());
    const double inputOrigin = horizontal ? inputDomain.x0 : inputDomain.y0;
    const double cacheOrigin = horizontal ? cacheDomain.x0 : cacheDomain.y0;
    const double ratio = inputSize > 0.0 ? cacheSize / inputSize : 1.0;
    std::vector<Tap> result;
    result.reserve(static_cast<std::size_t>(std::max(0, to - from)));
    for (std::int32_t i = from; i < to; ++i) {
        double u = (static_cast<double>(i) - inputOrigin + 0.5) * ratio - 0.5 + cacheOrigin;
        u = std::clamp(u, static_cast<double>(cacheFirst), static_cast<double>(cacheEnd - 1));
        const auto first = static_cast<std::int32_t>(std::floor(u));
        const std::int32_t second = std::min(first + 1, cacheEnd - 1);
        result.push_back({first, second, static_cast<float>(u - first)});
    }
    return result;
}

// The estimate between four cache pixels, rounded to the nearest unit: a uniform neighbourhood
// gives its own value exactly, so where the estimate equals the key's colour nothing moves.
inline void sampleEstimate(std::uint16_t* out, const ImageBuffer& cache, const Tap& column, const Tap& row) {
    const auto* p00 = reinterpret_cast<const std::uint16_t*>(cache.pixelAddress(column.first, row.first));
    const auto* p10 = reinterpret_cast<const std::uint16_t*>(cache.pixelAddress(column.second, row.first));
    const auto* p01 = reinterpret_cast<const std::uint16_t*>(cache.pixelAddress(column.first, row.second));
    const auto* p11 = reinterpret_cast<const std::uint16_t*>(cache.pixelAddress(column.second, row.second));
    for (int c = 0; c < 4; ++c) {
        const float top = p00[c] + (static_cast<float>(p10[c]) - p00[c]) * column.weight;
        const float bottom = p01[c] + (static_cast<float>(p11[c]) - p01[c]) * column.weight;
        out[c] = truncToUint16(top + (bottom - top) * row.weight + 0.5f);
    }
}

// The correction of the partial path: the region of the input keyed once, then each pixel moved
// by the estimate sampled from the cache.  Pixel is std::uint16_t or float.
template <class Pixel>
void correctFromBackdrop(LightingContext& context, const ImageBuffer& input, const Rect& region, Pixel* output) {
    constexpr bool isFloat = sizeof(Pixel) == 4;
    SystemHost& host = *context.host;
    const std::ptrdiff_t width = region.width();
    const std::ptrdiff_t height = region.height();

    ImageBuffer subject(&host);
    allocatePacked(subject, region, isFloat);
    const ImageBuffer* proxy = context.sourceProxy;
    if (!proxy || !proxy->firstPixel || proxy->bounds.empty()) {
        convertImageTo16(host, input, subject);
        std::memcpy(output, subject.firstPixel, static_cast<std::size_t>(width * height) * 4 * sizeof(Pixel));
        return;
    }
    ensureCache(context, *proxy, Estimate::Backdrop);
    convertImageTo16(host, input, subject);

    ImageBuffer matte(&host);
    allocatePacked(matte, region, isFloat);
    {
        CompiledKeyGuard compiled(&context.bridge->keyStates);
        if constexpr (isFloat) {
            // The engine scales what it keys to 16-bit units in place: it gets a copy.
            ImageBuffer keyedCopy(&host);
            allocatePacked(keyedCopy, region, true);
            std::memcpy(keyedCopy.firstPixel, subject.firstPixel, static_cast<std::size_t>(width * height) * 16);
            context.bridge->keyPixelsFloat(reinterpret_cast<float*>(keyedCopy.firstPixel), nullptr,
                                           reinterpret_cast<float*>(matte.firstPixel), width, height);
        } else {
            context.bridge->keyPixels16(reinterpret_cast<const std::uint16_t*>(subject.firstPixel), nullptr,
                                        reinterpret_cast<std::uint16_t*>(matte.firstPixel), width, height);
        }
    }

    const ImageBuffer& cache = *context.cache;
    const float* reference = context.bridge->keyStates.keyState.backdrop;
    const std::vector<Tap> columns =
        taps(region.x0, region.x1, input.domain, cache.domain, cache.bounds.x0, cache.bounds.x1, true);
    const std::vector<Tap> rows =
        taps(region.y0, region.y1, input.domain, cache.domain, cache.bounds.y0, cache.bounds.y1, false);
    const auto* k = reinterpret_cast<const Pixel*>(subject.firstPixel);
    const auto* m = reinterpret_cast<const Pixel*>(matte.firstPixel);
    inRowBands(host, height, [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
        for (std::ptrdiff_t y = y0; y < y1; ++y) {
            const Tap& row = rows[static_cast<std::size_t>(y)];
            const std::ptrdiff_t first = y * width * 4;
            for (std::ptrdiff_t x = 0; x < width; ++x) {
                const std::ptrdiff_t i = first + x * 4;
                std::uint16_t estimate[4];
                sampleEstimate(estimate, cache, columns[static_cast<std::size_t>(x)], row);
                if constexpr (isFloat)
                    applyLightingPixelFloat(output + i, estimate, k + i, m + i, reference);
                else
                    applyLightingPixel16(output + i, estimate, k + i, m + i, reference);
            }
        }
    });
}

}  // namespace

LightingContext lightingContext(VantreloPlugin& plugin) {
    LightingContext context;
    context.host = &plugin;
    context.bridge = &plugin.bridge;
    context.cache = &plugin.lightingCache;
    context.states = &plugin.lightingStates;
    context.content = &plugin.lightingCacheContent;
    context.sourceProxy = &plugin.sourceProxy;
    return context;
}

void applyLighting16(LightingContext& context, const ImageBuffer& input, const Rect& region, std::uint16_t* output) {
    if (region.empty()) return;
    checkInput("applyLighting16", input, region, false);
    if (input.bounds.width() != input.domain.width() || input.bounds.height() != input.domain.height()) {
        applyLightingScaled16(context, input, region, output);
        return;
    }
    ensureCache(context, input, Estimate::CorrectedImage);
    const ImageBuffer& cache = *context.cache;
    const std::size_t rowBytes = static_cast<std::size_t>(region.width()) * 8;
    for (std::int32_t y = region.y0; y < region.y1; ++y, output += region.width() * 4)
        std::memcpy(output, cache.pixelAddress(region.x0, y), rowBytes);
}

void applyLightingScaled16(LightingContext& context, const ImageBuffer& input, const Rect& region,
                           std::uint16_t* output) {
    if (region.empty()) return;
    checkInput("applyLightingScaled16", input, region, false);
    correctFromBackdrop(context, input, region, output);
}

void applyLightingFloat(LightingContext& context, const ImageBuffer& input, const Rect& region, float* output) {
    if (region.empty()) return;
    checkInput("applyLightingFloat", input, region, true);
    correctFromBackdrop(context, input, region, output);
}

void applyLighting16(VantreloPlugin& plugin, const ImageBuffer& input, const Rect& region, std::uint16_t* output) {
    LightingContext context = lightingContext(plugin);
    applyLighting16(context, input, region, output);
}

void applyLightingScaled16(VantreloPlugin& plugin, const ImageBuffer& input, const Rect& region,
                           std::uint16_t* output) {
    LightingContext context = lightingContext(plugin);
    applyLightingScaled16(context, input, region, output);
}

void applyLightingFloat(VantreloPlugin& plugin, const ImageBuffer& input, const Rect& region, float* output) {
    LightingContext context = lightingContext(plugin);
    applyLightingFloat(context, input, region, output);
}

}  // namespace vantrelo
