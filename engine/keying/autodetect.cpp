#include "engine/keying/autodetect.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/effects/auto_key.h"
#include "engine/effects/defocus.h"
#include "engine/effects/dominant_colours.h"
#include "engine/effects/hue_histogram.h"
#include "engine/effects/simulated_foreground.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/processing.h"
#include "engine/keying/sampling_tools.h"
#include "engine/keying/engine_block.h"

namespace vantrelo {

namespace {

constexpr int kFailed = -2;

bool usableImage(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, std::size_t& elements) {
    if (!imageElements(width, height, 4, elements)) return false;
    return image || elements == 0;
}

// One keying pass of the whole image into `out`, the state compiled for it and released after.
bool keyWhole(const std::uint16_t* image, std::uint16_t* out, std::ptrdiff_t width, std::ptrdiff_t height,
              KeyState* state) {
    const bool compiled = compileKey(state) == 1;
    const bool keyed =
        compiled && processImage(image, out, nullptr, nullptr, width, height, state, nullptr) == ProcessStatus::Done;
    releaseKey(state);
    return keyed;
}

}  // namespace

int autodetectBackdrop(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                       float outerWidening, bool select, bool shrinkMiddle, float boundaryScale,
                       const std::int32_t* firstRegion, const std::int32_t* secondRegion, float dominance) {
    if (!outColour && !request) return -1;
    std::size_t elements = 0;
    if (!state || !usableImage(image, width, height, elements)) return kFailed;

    std::uint16_t colour[4] = {0, 0, 0, 65535};
    const int detected = detectBackdropColour(image, width, height, colour, firstRegion, secondRegion);
    // Only an image that was examined and shows no backdrop is the user's "autodetection failed";
    // refused memory is this call's failure, not a finding about the photograph.
    if (detected == -1) {
        std::fputs("vantrelo error: autodetection failed\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    if (detected != 1) return kFailed;

    // The corrected image is made before the key is touched, so that a refused buffer leaves the
    // state as it was.
    const bool simulate = keyUsesSimulatedForeground(state, width * height);
    EngineBlock corrected;
    if (simulate && !corrected.allocate<std::uint16_t>(elements, false)) return kFailed;

    if (outColour) {
        // A start whose cloud was refused changed nothing: the key and outColour stay as they were.
        if (!(select ? selectBackdropColour(colour, state) : setBackdropColour(colour, state))) return kFailed;
        std::memcpy(outColour, colour, 3 * sizeof(std::uint16_t));
    }

    const std::uint16_t* pixels = image;
    if (simulate) {
        if (!simulateForegroundMode0(image, corrected.as<std::uint16_t>(), width, height, state, nullptr))
            return kFailed;
        pixels = corrected.as<std::uint16_t>();
    }

    for (float& r : state->innerRadii) r = 2550.0f;
    bool failed = false;
    autoKeyFromHistogramSampled(colour[0], colour[1], colour[2], pixels, width, height, state, false, true,
                                innerWidening, outerWidening, simulate, shrinkMiddle, 1, 1, boundaryScale, dominance,
                                &failed);
    return failed ? kFailed : 1;
}

int autodetectSelectBackdrop(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                             std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                             float outerWidening, bool shrinkMiddle, float boundaryScale, float dominance,
                             const std::int32_t* firstRegion, const std::int32_t* secondRegion) {
    return autodetectBackdrop(image, width, height, outColour, request, state, innerWidening, outerWidening, true,
                              shrinkMiddle, boundaryScale, firstRegion, secondRegion, dominance);
}

int autodetectBackdropSimple(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                             std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                             float outerWidening, bool shrinkMiddle) {
    return autodetectBackdrop(image, width, height, outColour, request, state, innerWidening, outerWidening, true,
                              shrinkMiddle, 1.0f, nullptr, nullptr, 1.02f);
}

int autoKeyPipeline(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                    float outerWidening, int matteRadius, float matteShrink, float threshold, int steps) {
    std::size_t elements = 0;
    if (!state || !usableImage(image, width, height, elements)) return kFailed;
    // Both working images first: a refused buffer leaves the key untouched.
    EngineBlock softened, raw;
    if (!softened.allocate<std::uint16_t>(elements, false) || !raw.allocate<std::uint16_t>(elements, false))
        return kFailed;

    if ((steps & 1) && autodetectBackdrop(image, width, height, outColour, request, state, innerWidening,
                                          outerWidening, true, false, 1.0f, nullptr, nullptr, 1.0f) == kFailed)
        return kFailed;

    std::uint16_t* s = softened.as<std::uint16_t>();
    std::uint16_t* u = raw.as<std::uint16_t>();
    if (!keyWhole(image, s, width, height, state)) return kFailed;
    if (elements) std::memcpy(u, s, elements * sizeof(std::uint16_t));

    const float shrink = matteShrink > 0.99f ? 0.99f : matteShrink;
    const std::ptrdiff_t n = width * height;
    if (steps & 2) {
        if (!defocusMatte16(s, width, height, matteRadius, 1, shrink)) return kFailed;
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            const float rawMatte = float(u[4 * i + 3]) * kUnit16, soft = float(s[4 * i + 3]) * kUnit16;
            if (rawMatte > threshold && soft > rawMatte) {
                shrinkOuterFromSamples(image + 4 * i, 1, 1, state);
                enforceNesting(2, state);
            }
        }
    }
    if (steps & 4) {
        if (!defocusMatte16(s, width, height, matteRadius, 0, shrink)) return kFailed;
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            const float rawMatte = float(u[4 * i + 3]) * kUnit16, soft = float(s[4 * i + 3]) * kUnit16;
            if (rawMatte > 1.0f - threshold && soft < rawMatte) {
                growInnerToSamples(image + 4 * i, 1, 1, state);
                enforceNesting(0, state);
            }
        }
    }
    return 1;
}

int autoKeyFromDominantColours(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                               std::uint16_t* outColour, std::uint16_t* outSample, KeyState* state) {
    if (!outColour && !outSample) return -1;
    std::size_t elements = 0;
    if (!state || !usableImage(image, width, height, elements)) return kFailed;
    EngineBlock softened;
    if (!softened.allocate<std::uint16_t>(elements, false)) return kFailed;

    constexpr int kColours = 10;
    std::uint16_t lists[2][4 * kColours] = {};
    std::int32_t filled[2] = {0, 0};
    if (findDominantColours16(image, width, height, kColours, kColours, lists[0], lists[1], &filled[0],
                              &filled[1]) != 0)
        return kFailed;

    const std::uint16_t white[4] = {65535, 65535, 65535, 65535};
    if (!setBackdropColour(white, state)) return kFailed;

    for (int list = 0; list < 2; ++list)
        for (int k = 0; k < filled[list] && k < kColours; ++k) {
            const std::uint16_t* colour = lists[list] + 4 * k;
            const double luma = 0.299 * double(float(colour[0]) * kUnit16) +
                                0.5864 * double(float(colour[1]) * kUnit16) +
                                0.1146 * double(float(colour[2]) * kUnit16);
            if (!(luma < double(0.9f))) continue;
            shrinkOuterFromSamples(colour, 1, 1, state);
            enforceNesting(2, state);
            if (outSample) std::memcpy(outSample, colour, 4 * sizeof(std::uint16_t));
        }
    if (outColour) std::fill(outColour, outColour + 3, std::uint16_t(65535));

    std::uint16_t* s = softened.as<std::uint16_t>();
    if (!keyWhole(image, s, width, height, state)) return kFailed;
    if (!defocusMatte16(s, width, height, 30, 1, 0.0f)) return kFailed;
    const std::ptrdiff_t n = width * height;
    for (std::ptrdiff_t i = 0; i < n; ++i)
        if (float(s[4 * i + 3]) * kUnit16 > 0.8f) {
            shrinkOuterFromSamples(image + 4 * i, 1, 1, state);
            enforceNesting(2, state);
        }
    return 1;
}

}  // namespace vantrelo
