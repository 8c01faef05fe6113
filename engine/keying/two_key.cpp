#include "engine/keying/two_key.h"

#include <algorithm>
#include <limits>

#include "engine/effects/auto_key.h"
#include "engine/effects/defocus.h"
#include "engine/effects/simulated_foreground.h"
#include "engine/keying/caught_status.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

// One keying step with the state compiled for it; the state is released on every path out of it.
// A key without its face table or keyer object would key wrongly, not just slowly, so a failed
// compilation stops the step.
template <class Step>
ProcessStatus keyCompiled(KeyState* state, Step step) {
    struct Release {
        KeyState* state;
        ~Release() { releaseKey(state); }
    } release{state};
    if (compileKey(state) != 1) return ProcessStatus::OutOfMemory;
    return step();
}

// Checks shared by the operations; elements receives width x height x 4.
ProcessStatus checkArguments(const void* image, const void* output, std::ptrdiff_t width, std::ptrdiff_t height,
                             const KeyState* first, const KeyState* second, std::size_t& elements) {
    if (!first || !second || !imageElements(width, height, 4, elements)) return ProcessStatus::BadArguments;
    if (elements != 0 && (!image || !output)) return ProcessStatus::BadArguments;
    return ProcessStatus::Done;
}

bool validFullScale(float fullScale) {
    return fullScale > 0.0f && fullScale <= std::numeric_limits<float>::max();
}

// Steps shared by the merge and the matte display: the second key, shaped automatically when its
// radii are the first key's, keyed into `keyed` and its matte softened with the edge pushed inward.
ProcessStatus keySecond16(const std::uint16_t* image, std::uint16_t* keyed, const std::uint16_t* background,
                          const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                          const KeyState* first, KeyState* second, const CropInsets* insets, int matteRadius,
                          float matteShrink) {
    if (sameKeyRadii(first, second)) {
        bool failed = false;
        autoKeyMaskFromBackdrop(image, width, height, second, true, &failed);
        if (failed) return ProcessStatus::OutOfMemory;
    }
    const ProcessStatus s = keyCompiled(second, [&] {
        return processImage(image, keyed, background, mask, width, height, second, insets);
    });
    if (s != ProcessStatus::Done) return s;
    return defocusMatte16(keyed, width, height, matteRadius, 1, matteShrink) ? ProcessStatus::Done
                                                                             : ProcessStatus::Failed;
}

// The float twin.  The first keying brings image, background and mask to the 16-bit scale in
// place.  The keyed matte is on 0..65535 whatever the full scale, so it is softened on that scale.
ProcessStatus keySecondFloat(float fullScale, float* image, float* keyed, float* background, float* mask,
                             std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* first, KeyState* second,
                             const CropInsets* insets, int matteRadius, float matteShrink) {
    if (sameKeyRadii(first, second)) {
        bool failed = false;
        autoKeyMaskFromBackdropFloat(fullScale, image, width, height, second, true, &failed);
        if (failed) return ProcessStatus::OutOfMemory;
    }
    const ProcessStatus s = keyCompiled(second, [&] {
        return processImageFloat(fullScale, image, keyed, background, mask, width, height, second, insets);
    });
    if (s != ProcessStatus::Done) return s;
    return defocusMatteFloat(65535.0f, keyed, width, height, matteRadius, 1, matteShrink) ? ProcessStatus::Done
                                                                                          : ProcessStatus::Failed;
}

// The first key's mask: the caller's (or none) with every pixel that the second key made fully
// opaque masked out.
template <class T>
bool firstKeyMask(EngineBlock& m, const T* mask, const T* keyed, std::size_t elements) {
    if (!(mask ? m.copyOf(mask, elements) : m.allocate<T>(elements, true))) return false;
    T* p = m.as<T>();
    constexpr T full = T(65535);
    for (std::size_t i = 0; i < elements; i += 4)
        if (keyed[i + 3] == full) std::fill(p + i, p + i + 4, full);
    return true;
}

void merge16(const std::uint16_t* second, std::uint16_t* out, std::size_t elements) {
    for (std::size_t i = 0; i < elements; i += 4) {
        const std::uint16_t a = second[i + 3];
        if (a == 0) continue;
        if (a == 65535) {
            std::copy(second + i, second + i + 3, out + i);
            out[i + 3] = 65535;
            continue;
        }
        const float f = float(a) * kUnit16, g = 1.0f - f;
        for (int c = 0; c < 3; ++c) out[i + c] = truncToUint16(float(second[i + c]) * f + float(out[i + c]) * g);
        out[i + 3] = truncToUint16(float(out[i + 3]) * g + float(a));
    }
}

void mergeFloat(const float* second, float* out, std::size_t elements) {
    for (std::size_t i = 0; i < elements; i += 4) {
        const float alpha = second[i + 3];
        // The matte decides by its integer part; NaN counts as transparent.
        const int a = alpha > 0.0f ? (alpha >= 65535.0f ? 65535 : int(alpha)) : 0;
        if (a == 0) continue;
        if (a == 65535) {
            std::copy(second + i, second + i + 3, out + i);
            out[i + 3] = 65535.0f;
            continue;
        }
        const float f = float(a) * kUnit16, g = 1.0f - f;
        for (int c = 0; c < 3; ++c) out[i + c] = second[i + c] * f + out[i + c] * g;
        out[i + 3] = std::min(out[i + 3] * g + alpha, 65535.0f);
    }
}

}  // namespace

ProcessStatus mergeTwoKeys16(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                             const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                             KeyState* first, KeyState* second, const CropInsets* insets, int matteRadius,
                             float matteShrink) {
    return guardedStatus([&] {
        std::size_t elements = 0;
        if (ProcessStatus s = checkArguments(image, output, width, height, first, second, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        EngineBlock keyed;
        if (!keyed.allocate<std::uint16_t>(elements, false)) return ProcessStatus::OutOfMemory;
        std::uint16_t* t = keyed.as<std::uint16_t>();
        if (ProcessStatus s =
                keySecond16(image, t, background, mask, width, height, first, second, insets, matteRadius, matteShrink);
            s != ProcessStatus::Done)
            return s;
        {
            EngineBlock m;
            if (!firstKeyMask(m, mask, t, elements)) return ProcessStatus::OutOfMemory;
            const ProcessStatus s = keyCompiled(first, [&] {
                return processImage(image, output, background, m.as<std::uint16_t>(), width, height, first, insets);
            });
            if (s != ProcessStatus::Done) return s;
        }
        merge16(t, output, elements);
        return ProcessStatus::Done;
    });
}

ProcessStatus mergeTwoKeysFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                std::ptrdiff_t width, std::ptrdiff_t height, KeyState* first, KeyState* second,
                                const CropInsets* insets, int matteRadius, float matteShrink) {
    return guardedStatus([&] {
        std::size_t elements = 0;
        if (!validFullScale(fullScale)) return ProcessStatus::BadArguments;
        if (ProcessStatus s = checkArguments(image, output, width, height, first, second, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        EngineBlock keyed;
        if (!keyed.allocate<float>(elements, false)) return ProcessStatus::OutOfMemory;
        float* t = keyed.as<float>();
        if (ProcessStatus s = keySecondFloat(fullScale, image, t, background, mask, width, height, first, second,
                                             insets, matteRadius, matteShrink);
            s != ProcessStatus::Done)
            return s;
        {
            // The inputs are on the 16-bit scale now; the first key reads them as they are.
            EngineBlock m;
            if (!firstKeyMask(m, static_cast<const float*>(mask), static_cast<const float*>(t), elements))
                return ProcessStatus::OutOfMemory;
            const ProcessStatus s = keyCompiled(first, [&] {
                return processImageFloatPrescaled(fullScale, image, output, background, m.as<float>(), width, height,
                                                  first, insets);
            });
            if (s != ProcessStatus::Done) return s;
        }
        mergeFloat(t, output, elements);
        return ProcessStatus::Done;
    });
}

ProcessStatus secondKeyMatte16(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                               const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                               const KeyState* first, KeyState* second, const CropInsets* insets, int matteRadius,
                               float matteShrink) {
    return guardedStatus([&] {
        std::size_t elements = 0;
        if (ProcessStatus s = checkArguments(image, output, width, height, first, second, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        if (ProcessStatus s = keySecond16(image, output, background, mask, width, height, first, second, insets,
                                          matteRadius, matteShrink);
            s != ProcessStatus::Done)
            return s;
        for (std::size_t i = 0; i < elements; i += 4) std::fill(output + i, output + i + 3, output[i + 3]);
        return ProcessStatus::Done;
    });
}

ProcessStatus secondKeyMatteFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                  std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* first,
                                  KeyState* second, const CropInsets* insets, int matteRadius, float matteShrink) {
    return guardedStatus([&] {
        std::size_t elements = 0;
        if (!validFullScale(fullScale)) return ProcessStatus::BadArguments;
        if (ProcessStatus s = checkArguments(image, output, width, height, first, second, elements);
            s != ProcessStatus::Done || elements == 0)
            return s;
        if (ProcessStatus s = keySecondFloat(fullScale, image, output, background, mask, width, height, first,
                                             second, insets, matteRadius, matteShrink);
            s != ProcessStatus::Done)
            return s;
        for (std::size_t i = 0; i < elements; i += 4) std::fill(output + i, output + i + 3, output[i + 3]);
        return ProcessStatus::Done;
    });
}

}  // namespace vantrelo
