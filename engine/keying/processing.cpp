#include "engine/keying/processing.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "engine/effects/defocus.h"
#include "engine/effects/grain_filter.h"
#include "engine/effects/shape_layer.h"
#include "engine/effects/shape_rasteriser.h"
#include "engine/effects/simulated_foreground.h"
#include "engine/keying/caught_status.h"
#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/keying_workers.h"
#include "engine/keying/engine_block.h"

namespace vantrelo {

namespace {

// Radius of the blur that turns the background into the spill source.
constexpr int kSpillBlurRadius = 30;

bool insetsAskForRect(const CropInsets* insets) {
    return insets && (insets->left != 0 || insets->right != 0 || insets->top != 0 || insets->bottom != 0);
}

// The rectangle path needs a real rectangle; a line image keys whole.
bool keysRect(const CropInsets* insets, std::ptrdiff_t width, std::ptrdiff_t height) {
    return insetsAskForRect(insets) && width > 1 && height > 1;
}

bool usesWorkers(std::ptrdiff_t width, std::ptrdiff_t height) {
    return workerThreadCount() >= 2 && width >= 10 && height >= 10;
}

// A key that selects the threshold or hexagon keyer keys through its keyer object.  Without one
// (compileKey never ran, or could not create it) the 16-bit and float keying leave the output
// unwritten and the 8-bit keying writes black, so such a key is refused before anything is done.
ProcessStatus checkKeyer(const KeyState* state, std::uint32_t flags) {
    const bool alternative = flags & (KeyFlagUseRT | KeyFlagUseRTPlus);
    return alternative && !state->keyer ? ProcessStatus::Failed : ProcessStatus::Done;
}

template <class T>
const T* offsetOrNull(const T* p, std::ptrdiff_t elements) {
    return p ? p + elements : nullptr;
}

// The rectangle path: the output (`elements` values) is first the background, or zeros without
// one; then each row of the kept rectangle is keyed on the calling thread by keyRow(index of the
// row's first pixel, columns).
template <class T, class KeyRow>
void keyRectangle(const T* background, T* output, std::size_t elements, const CropInsets* insets,
                  std::ptrdiff_t width, std::ptrdiff_t height, KeyRow keyRow) {
    if (background)
        std::memcpy(output, background, elements * sizeof(T));
    else
        std::memset(output, 0, elements * sizeof(T));
    const KeptRect r = keptRect(insets, width, height);
    const std::ptrdiff_t columns = r.x1 - r.x0 + 1;
    if (columns > 0)
        for (std::ptrdiff_t y = r.y0; y <= r.y1; ++y) keyRow(y * width + r.x0, columns);
}

// Every transparent pixel of an RGBA output takes the colour of the spill source, or black without
// one: then a single zero pixel is read with stride 0, so the loop does not test the source per
// pixel.
template <class T>
void fillTransparent(T* output, const T* spill, std::ptrdiff_t n) {
    const T zero[4] = {};
    const T* from = spill ? spill : zero;
    const std::ptrdiff_t stride = spill ? 4 : 0;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        T* o = output + 4 * i;
        if (o[3] != T(0)) continue;
        for (int c = 0; c < 3; ++c) o[c] = from[stride * i + c];
    }
}

// Checks shared by the entry points.  `elements` receives width x height x channels; a result of
// Done with elements 0 means there is nothing to do.
ProcessStatus checkImage(const void* image, const void* output, std::ptrdiff_t width, std::ptrdiff_t height,
                         const KeyState* state, std::size_t channels, std::size_t& elements) {
    if (!state || !imageElements(width, height, channels, elements)) return ProcessStatus::BadArguments;
    if (elements == 0) return ProcessStatus::Done;
    if (!image || !output) return ProcessStatus::BadArguments;
    return ProcessStatus::Done;
}

// ---- 16-bit ----

ProcessStatus process16(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                        const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                        const KeyState* state, const CropInsets* insets, std::uint32_t flags) {
    std::size_t elements = 0;
    if (ProcessStatus s = checkImage(image, output, width, height, state, 4, elements); s != ProcessStatus::Done)
        return s;
    if (elements == 0) return ProcessStatus::Done;
    if (!(flags & KeyFlagSimulatedForegroundOutput))
        if (ProcessStatus s = checkKeyer(state, flags); s != ProcessStatus::Done) return s;
    const std::ptrdiff_t n = width * height;

    // The lighting-corrected image (or, for its output mode, the estimated backdrop) takes the
    // place of the image from here on.
    const std::uint16_t* source = image;
    EngineBlock simulated;
    if (keyUsesSimulatedForeground(state, n)) {
        if (!simulated.allocate<std::uint16_t>(elements, false)) return ProcessStatus::OutOfMemory;
        std::uint16_t* corrected = simulated.as<std::uint16_t>();
        const bool done = (flags & KeyFlagSimulatedForegroundOutput)
                              ? simulateForegroundMode1(image, corrected, width, height, state, nullptr)
                              : simulateForegroundMode0(image, corrected, width, height, state, nullptr);
        if (!done) return ProcessStatus::Failed;
        source = corrected;
    }

    if (flags & KeyFlagSimulatedForegroundOutput) {
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            std::memcpy(output + 4 * i, source + 4 * i, 3 * sizeof(std::uint16_t));
            output[4 * i + 3] = 65535;
        }
        return ProcessStatus::Done;
    }

    // The mask takes part only when it was given and the key asks for it; then the EXTSHAPE
    // layers are drawn over a copy of it.  A shape mask that the keying would not read is not
    // drawn at all, and a key whose layer list is empty keys as if it had none.
    if (!mask) flags &= ~std::uint32_t(KeyFlagGarbageMask);
    const std::uint16_t* keyMask = mask;
    EngineBlock shapeMask;
    if ((flags & KeyFlagExtShapes) && (flags & KeyFlagGarbageMask)) {
        const std::ptrdiff_t layers = countShapeLayers(state->extShapes);
        if (layers > 0) {
            if (!shapeMask.copyOf(mask, elements)) return ProcessStatus::OutOfMemory;
            if (!rasteriseShapeMask(shapeMask.as<std::uint16_t>(), width, height, state->extShapes, layers, false,
                                    nullptr))
                return ProcessStatus::Failed;
            keyMask = shapeMask.as<std::uint16_t>();
        }
    }

    // Without a background the spill source is black: the keying reads a missing spill source as
    // black, so no cleared buffer is needed.
    const bool backgroundSpill = !(flags & (KeyFlagSpillComplement | KeyFlagSpillSolid));
    EngineBlock blurred;
    const std::uint16_t* spill = nullptr;
    if (backgroundSpill && background) {
        if (!blurred.copyOf(background, elements)) return ProcessStatus::OutOfMemory;
        if (!defocusColour16(blurred.as<std::uint16_t>(), width, height, kSpillBlurRadius))
            return ProcessStatus::Failed;
        spill = blurred.as<std::uint16_t>();
    }

    const std::uint16_t* keyColours = source;
    EngineBlock grain;
    if ((flags & KeyFlagGrainFilter) && width > 1 && height > 1) {
        if (!grain.copyOf(source, elements)) return ProcessStatus::OutOfMemory;
        if (!removeGrain16(grain.as<std::uint16_t>(), width, height, state, insets)) return ProcessStatus::Failed;
        keyColours = grain.as<std::uint16_t>();
    }

    if (keysRect(insets, width, height)) {
        keyRectangle(background, output, elements, insets, width, height,
                     [&](std::ptrdiff_t pixel, std::ptrdiff_t columns) {
                         const std::ptrdiff_t at = 4 * pixel;
                         vantproc(source + at, keyColours + at, offsetOrNull(spill, at), offsetOrNull(keyMask, at),
                                  output + at, columns, state, flags);
                     });
    } else if (usesWorkers(width, height)) {
        if (!runVantprocWorkers(source, keyColours, spill, keyMask, output, n, state, flags))
            return ProcessStatus::Failed;
    } else {
        vantproc(source, keyColours, spill, keyMask, output, n, state, flags);
    }

    if (backgroundSpill) fillTransparent(output, spill, n);
    return ProcessStatus::Done;
}

// ---- float ----

ProcessStatus processFloat(float fullScale, const float* image, float* output, const float* background,
                           const float* mask, std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                           const CropInsets* insets) {
    std::uint32_t flags = state->flags;
    const std::size_t elements = std::size_t(width) * std::size_t(height) * 4;
    const std::ptrdiff_t n = width * height;
    const float* source = image;
    EngineBlock simulated;
    if (keyUsesSimulatedForeground(state, n)) {
        if (!simulated.allocate<float>(elements, false)) return ProcessStatus::OutOfMemory;
        float* corrected = simulated.as<float>();
        const bool done =
            (flags & KeyFlagSimulatedForegroundOutput)
                ? simulateForegroundFloatMode1(65535.0f, image, corrected, width, height, state, nullptr)
                : simulateForegroundFloatMode0(65535.0f, image, corrected, width, height, state, nullptr);
        if (!done) return ProcessStatus::Failed;
        source = corrected;
    }

    if (flags & KeyFlagSimulatedForegroundOutput) {
        const float back = fullScale / 65535.0f;
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            for (int c = 0; c < 3; ++c) output[4 * i + c] = source[4 * i + c] * back;
            output[4 * i + 3] = 65535.0f;
        }
        return ProcessStatus::Done;
    }

    if (!mask) flags &= ~std::uint32_t(KeyFlagGarbageMask);

    const bool complement = flags & KeyFlagSpillComplement;
    const bool solid = !complement && (flags & KeyFlagSpillSolid);
    EngineBlock spillImage;
    const float* spill = nullptr;
    if (!complement && !solid && background) {
        if (!spillImage.copyOf(background, elements)) return ProcessStatus::OutOfMemory;
        if (!defocusColourFloat(spillImage.as<float>(), width, height, kSpillBlurRadius))
            return ProcessStatus::Failed;
        spill = spillImage.as<float>();
    } else if (solid) {
        // The float keying blends toward its spill source, so solid spill needs the colour there.
        if (!spillImage.allocate<float>(elements, false)) return ProcessStatus::OutOfMemory;
        float* p = spillImage.as<float>();
        const float colour[4] = {float(state->replacementColour[0]), float(state->replacementColour[1]),
                                 float(state->replacementColour[2]), float(state->replacementColour[3])};
        for (std::ptrdiff_t i = 0; i < n; ++i) std::memcpy(p + 4 * i, colour, sizeof colour);
        spill = p;
    }

    const float* keyColours = source;
    EngineBlock grain;
    if ((flags & KeyFlagGrainFilter) && width > 1 && height > 1) {
        if (!grain.copyOf(source, elements)) return ProcessStatus::OutOfMemory;
        if (!removeGrainFloat(grain.as<float>(), width, height, state, insets)) return ProcessStatus::Failed;
        keyColours = grain.as<float>();
    }

    if (keysRect(insets, width, height)) {
        keyRectangle(background, output, elements, insets, width, height,
                     [&](std::ptrdiff_t pixel, std::ptrdiff_t columns) {
                         const std::ptrdiff_t at = 4 * pixel;
                         super_vantproc(source + at, keyColours + at, offsetOrNull(spill, at), offsetOrNull(mask, at),
                                        output + at, columns, state, flags);
                     });
    } else if (usesWorkers(width, height)) {
        if (!runFloatKeyWorkers(source, keyColours, spill, mask, output, n, state, flags))
            return ProcessStatus::Failed;
    } else {
        super_vantproc(source, keyColours, spill, mask, output, n, state, flags);
    }

    if (!complement) fillTransparent(output, spill, n);

    if (fullScale != 65535.0f) {
        const float back = fullScale * (1.0f / 65535.0f);
        for (std::ptrdiff_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) output[4 * i + c] *= back;
    }
    return ProcessStatus::Done;
}

ProcessStatus checkFloat(float fullScale, const float* image, const float* output, std::ptrdiff_t width,
                         std::ptrdiff_t height, const KeyState* state, std::size_t& elements) {
    if (!(fullScale > 0.0f) || !(fullScale <= std::numeric_limits<float>::max()))
        return ProcessStatus::BadArguments;
    const ProcessStatus s = checkImage(image, output, width, height, state, 4, elements);
    if (s != ProcessStatus::Done || elements == 0 || (state->flags & KeyFlagSimulatedForegroundOutput)) return s;
    // Before the inputs are scaled, so that a refused key leaves them as they were.
    return checkKeyer(state, state->flags);
}

// ---- 8-bit ----

ProcessStatus process8(const std::uint8_t* image, const std::uint8_t* background, const std::uint8_t* mask,
                       std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state, const CropInsets* insets,
                       int matteRadius, int mattePush, float matteShrink, std::uint8_t* outColour,
                       std::uint8_t* outMatte) {
    std::size_t elements = 0;
    if (ProcessStatus s = checkImage(image, outColour, width, height, state, 3, elements); s != ProcessStatus::Done)
        return s;
    if (elements == 0) return ProcessStatus::Done;
    if (!outMatte) return ProcessStatus::BadArguments;
    const std::ptrdiff_t n = width * height;

    std::uint32_t flags = state->flags;
    if (!mask) flags &= ~std::uint32_t(KeyFlagGarbageMask);
    if (ProcessStatus s = checkKeyer(state, flags); s != ProcessStatus::Done) return s;

    const bool complement = flags & KeyFlagSpillComplement;
    const bool solid = !complement && (flags & KeyFlagSpillSolid);
    // The 8-bit span loops take the solid colour from the key itself; only the alternative keyers
    // read it from the spill source.
    const bool keyerReadsSolid = flags & (KeyFlagUseRT | KeyFlagUseRTPlus);
    bool fillTransparent = !complement && (!solid || keyerReadsSolid);
    EngineBlock spillImage;
    const std::uint8_t* spill = nullptr;
    if (!complement && !solid && background) {
        if (!spillImage.copyOf(background, elements)) return ProcessStatus::OutOfMemory;
        if (!defocusColour8(spillImage.as<std::uint8_t>(), width, height, kSpillBlurRadius))
            return ProcessStatus::Failed;
        spill = spillImage.as<std::uint8_t>();
    } else if (solid && keyerReadsSolid) {
        if (!spillImage.allocate<std::uint8_t>(elements, false)) return ProcessStatus::OutOfMemory;
        std::uint8_t* p = spillImage.as<std::uint8_t>();
        const std::uint8_t bgr[3] = {std::uint8_t(state->replacementColour[2] >> 8),
                                     std::uint8_t(state->replacementColour[1] >> 8),
                                     std::uint8_t(state->replacementColour[0] >> 8)};
        for (std::ptrdiff_t i = 0; i < n; ++i) std::memcpy(p + 3 * i, bgr, 3);
        spill = p;
    }

    const std::uint8_t* keyColours = image;
    EngineBlock grain;
    if ((flags & KeyFlagGrainFilter) && width > 1 && height > 1) {
        if (!grain.copyOf(image, elements)) return ProcessStatus::OutOfMemory;
        if (!removeGrain8(grain.as<std::uint8_t>(), width, height, state, insets)) return ProcessStatus::Failed;
        keyColours = grain.as<std::uint8_t>();
    }

    if (keysRect(insets, width, height)) {
        keyRectangle(background, outColour, elements, insets, width, height,
                     [&](std::ptrdiff_t pixel, std::ptrdiff_t columns) {
                         const std::ptrdiff_t at = 3 * pixel;
                         vantproc_8(image + at, keyColours + at, offsetOrNull(spill, at), offsetOrNull(mask, at),
                                    outColour + at, outMatte + pixel, columns, state, flags);
                     });
    } else if (usesWorkers(width, height)) {
        if (!runVantproc8Workers(image, keyColours, spill, mask, outColour, outMatte, n, state, flags))
            return ProcessStatus::Failed;
    } else {
        vantproc_8(image, keyColours, spill, mask, outColour, outMatte, n, state, flags);
    }

    if (fillTransparent)
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            if (outMatte[i] != 0) continue;
            for (int c = 0; c < 3; ++c) outColour[3 * i + c] = spill ? spill[3 * i + c] : 0;
        }

    grain.release();
    spillImage.release();
    if (!defocusMatte8(outMatte, width, height, matteRadius, mattePush, matteShrink)) return ProcessStatus::Failed;
    return ProcessStatus::Done;
}

// ---- shapes ----

struct ListDeleter {
    void operator()(ShapeLayerList* list) const { freeShapeLayerList(list); }
};

std::int32_t clampInset(std::ptrdiff_t v) {
    return std::int32_t(std::clamp<std::ptrdiff_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
}

ProcessStatus processMasked(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                            std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                            const CropInsets* insets) {
    std::size_t elements = 0;
    if (ProcessStatus s = checkImage(image, output, width, height, state, 4, elements); s != ProcessStatus::Done)
        return s;
    const std::uint32_t flags = state->flags & ~std::uint32_t(KeyFlagExtShapes);
    const std::ptrdiff_t layers = countShapeLayers(state->extShapes);
    if (layers == 0 || elements == 0)
        return process16(image, output, background, nullptr, width, height, state, insets, flags);

    EngineBlock keyed, shapeMask;
    if (!keyed.allocate<std::uint16_t>(elements, true) || !shapeMask.allocate<std::uint16_t>(elements, true))
        return ProcessStatus::OutOfMemory;
    std::unique_ptr<ShapeLayerList, ListDeleter> list(newShapeLayerList(double(width), double(height)));
    if (!list) return ProcessStatus::OutOfMemory;
    for (std::ptrdiff_t i = 0; i < layers; ++i)
        if (!addShapeLayerToList(list.get(), state->extShapes[i])) return ProcessStatus::OutOfMemory;
    if (!renderShapeLayers(list.get(), shapeMask.as<std::uint16_t>(), width, height, width * 8))
        return ProcessStatus::Failed;
    ShapeBounds bounds = kEmptyShapeBounds;
    getShapeLayerListBounds(list.get(), &bounds);
    list.reset();
    // Nothing drawn: nothing of the output is to be keyed.
    if (bounds.x0 > bounds.x1 || bounds.y0 > bounds.y1) return ProcessStatus::Done;

    std::ptrdiff_t left = 0, right = 0, top = 0, bottom = 0;
    if (insets) left = insets->left, right = insets->right, top = insets->top, bottom = insets->bottom;
    left = std::max<std::ptrdiff_t>(left, bounds.x0);
    if (bounds.x1 < width - right - 1) right = width - bounds.x1 - 1;
    top = std::max<std::ptrdiff_t>(top, bounds.y0);
    if (bounds.y1 < height - bottom - 1) bottom = height - bounds.y1 - 1;
    const CropInsets tight{clampInset(left), clampInset(right), clampInset(top), clampInset(bottom)};

    if (ProcessStatus s = process16(image, keyed.as<std::uint16_t>(), background, nullptr, width, height, state,
                                    &tight, flags);
        s != ProcessStatus::Done)
        return s;
    mixByMaskInRect16(keyed.as<std::uint16_t>(), output, shapeMask.as<std::uint16_t>(), width, height, &bounds);
    return ProcessStatus::Done;
}

}  // namespace

std::ptrdiff_t countShapeLayers(ShapeLayer* const* layers) {
    std::ptrdiff_t count = 0;
    if (layers)
        while (layers[count]) ++count;
    return count;
}

ProcessStatus processImage(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                           const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                           const KeyState* state, const CropInsets* insets) {
    try {
        if (!state) return ProcessStatus::BadArguments;
        return process16(image, output, background, mask, width, height, state, insets, state->flags);
    } catch (...) {
        return caughtStatus();
    }
}

ProcessStatus processImageFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                                const CropInsets* insets) {
    try {
        std::size_t elements = 0;
        if (ProcessStatus s = checkFloat(fullScale, image, output, width, height, state, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        if (fullScale != 65535.0f) {
            const float up = 65535.0f / fullScale;
            const auto scaleColour = [&](float* pixels) {
                for (std::size_t i = 0; i < elements; i += 4)
                    for (int c = 0; c < 3; ++c) pixels[i + c] *= up;
            };
            scaleColour(image);
            if (background) scaleColour(background);
            if (mask)
                for (std::size_t i = 0; i < elements; ++i) mask[i] *= up;
        }
        return processFloat(fullScale, image, output, background, mask, width, height, state, insets);
    } catch (...) {
        return caughtStatus();
    }
}

ProcessStatus processImageFloatPrescaled(float fullScale, const float* image, float* output,
                                         const float* background, const float* mask, std::ptrdiff_t width,
                                         std::ptrdiff_t height, const KeyState* state, const CropInsets* insets) {
    try {
        std::size_t elements = 0;
        if (ProcessStatus s = checkFloat(fullScale, image, output, width, height, state, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        return processFloat(fullScale, image, output, background, mask, width, height, state, insets);
    } catch (...) {
        return caughtStatus();
    }
}

ProcessStatus processImage8(const std::uint8_t* image, const std::uint8_t* background, const std::uint8_t* mask,
                            std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                            const CropInsets* insets, int matteRadius, int mattePush, float matteShrink,
                            std::uint8_t* outColour, std::uint8_t* outMatte) {
    try {
        return process8(image, background, mask, width, height, state, insets, matteRadius, mattePush, matteShrink,
                        outColour, outMatte);
    } catch (...) {
        return caughtStatus();
    }
}

ProcessStatus processImageMasked(const std::uint16_t* image, std::uint16_t* output,
                                 const std::uint16_t* background, const void*, std::ptrdiff_t width,
                                 std::ptrdiff_t height, const KeyState* state, const CropInsets* insets) {
    try {
        return processMasked(image, output, background, width, height, state, insets);
    } catch (...) {
        return caughtStatus();
    }
}

ProcessStatus compositeOver16(std::uint16_t* foreground, const std::uint16_t* background, std::ptrdiff_t count) {
    try {
        if (count <= 0) return ProcessStatus::Done;
        if (!foreground || !background) return ProcessStatus::BadArguments;
        if (workerThreadCount() < 2 || count < 100) {
            vantcompositeLoop(foreground, background, count);
            return ProcessStatus::Done;
        }
        return runCompositeLoopWorkers(foreground, background, count) ? ProcessStatus::Done : ProcessStatus::Failed;
    } catch (...) {
        return caughtStatus();
    }
}

}  // namespace vantrelo
