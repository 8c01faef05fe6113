#include "plugin/vantrelo_wrapper.h"

#include <cstdlib>

#include "engine/effects/defocus.h"
#include "engine/keying/keying_workers.h"
#include "engine/keying/numeric.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/processing.h"
#include "engine/keying/vant_thread.h"
#include "host/system/exceptions.h"
#include "plugin/blend16_rows.h"
#include "plugin/engine_status.h"
#include "plugin/parameter_schema.h"

namespace vantrelo {

void* allocWithHook(int size) {
    // A negative size would be sign-extended into a request the allocator can only refuse.
    if (size < 0) return nullptr;
    return std::malloc(static_cast<std::size_t>(size));
}

void freeWithHook(void* block) { std::free(block); }

VantreloWrapper::VantreloWrapper() {
    initPolyhedronTables();
    resetSettings();
}

VantreloWrapper::~VantreloWrapper() = default;

void VantreloWrapper::resetSettings() {
    keyStates.reset();
    floatMaximum = 1.0f;
    autoMaskEnabled = 0;
    autoMaskJustEnabled = 0;
    fitEnabled = 0;
    fitJustEnabled = 0;
    // On the parameter's own 0..100 scale: undo records a pull, and before the first push a pull
    // must give the parameter its default, not a radius a hundred times too small.
    autoMaskRadius = static_cast<float>(keyerSchema()[kParamAutoMaskRadius].defaultValue[0]);
    lightWrapRadius = 0.0f;
    lightWrapBrightness = 1.0f;
}

namespace {

// Calls of at least this many pixels (whole-image runs: the lighting correction, the hybrid key)
// spread their per-pixel pass after the keying over the engine's workers, as the keying itself
// is; row-by-row calls come from band workers already.  The 16-bit pass over 2^18 pixels takes
// about 0.1 ms on one thread, about what starting the workers costs.
constexpr std::ptrdiff_t kWorkerPixels = std::ptrdiff_t{1} << 18;

// body(first pixel, pixel count) over `count` pixels, on the engine's workers for large counts.
template <class Body>
void overPixels(std::ptrdiff_t count, Body body) {
    if (count >= kWorkerPixels && keyingBandCount() > 1 && runSpanWorkers(keyingBandCount(), count, body)) return;
    // runSpanWorkers fails only when its workers could not be made, before any band ran.
    body(std::ptrdiff_t{0}, count);
}

}  // namespace

void VantreloWrapper::keyPixels16(const std::uint16_t* source, const std::uint16_t* background,
                                  std::uint16_t* destination, std::ptrdiff_t width, std::ptrdiff_t rows) const {
    if (width <= 0 || rows <= 0) return;
    keyStates.processPixels16(source, destination, background, nullptr, width, rows);
    overPixels(width * rows, [&](std::ptrdiff_t first, std::ptrdiff_t count) {
        blend16::multiplyAlphaRow(destination + 4 * first, source + 4 * first, count);
    });
}

void VantreloWrapper::keyPixelsFloat(float* source, float* background, float* destination, std::ptrdiff_t width,
                                     std::ptrdiff_t rows) const {
    if (width <= 0 || rows <= 0) return;
    throwOnEngineFailure(processImageFloat(floatMaximum, source, destination, background, nullptr, width, rows,
                                           &keyStates.keyState, &keyStates.keyingInset));
    overPixels(width * rows, [&](std::ptrdiff_t first, std::ptrdiff_t count) {
        for (std::ptrdiff_t i = first; i < first + count; ++i) {
            float* pixel = destination + 4 * i;
            // The engine leaves the matte on 0..65535; the source's own alpha brings it to 0..1.
            pixel[3] = source[4 * i + 3] * pixel[3] / 65535.0f;
            for (int c = 0; c < 4; ++c)
                if (pixel[c] < 0.0f) pixel[c] = 0.0f;
        }
    });
}

CVantreloBridge::CVantreloBridge() {
    keyStates.keyState.flags &= ~std::uint32_t{KeyFlagSimulatedForeground};
    keyStates.shareKeyFlags();
    samplePending = 0;
}

CVantreloBridge::~CVantreloBridge() = default;

void* CVantreloBridge::allocate(int size) { return allocWithHook(size); }

void CVantreloBridge::release(void** block) {
    if (!block) return;
    freeWithHook(*block);
    *block = nullptr;
}

void* CVantreloBridge::passThrough(void* pointer) { return pointer; }

namespace {

int scaledSoftenRadius(int softenRadius, float scale) {
    return truncToInt32(static_cast<float>(softenRadius) * scale + 0.5f);
}

}  // namespace

void CVantreloBridge::defocusMatte16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                                     float scale) const {
    const int radius = scaledSoftenRadius(keyStates.softenRadius, scale);
    if (radius <= 0 || !image || width <= 0 || height <= 0) return;
    // With usable arguments the engine fails only when it could not get its scratch buffer.
    if (!vantrelo::defocusMatte16(image, width, height, radius, keyStates.blurInward, keyStates.shrinkAmount))
        Mav::Host::System::throwBadAllocation();
}

void CVantreloBridge::defocusMatteFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height,
                                        float scale) const {
    const int radius = scaledSoftenRadius(keyStates.softenRadius, scale);
    if (radius <= 0 || !image || width <= 0 || height <= 0) return;
    if (!vantrelo::defocusMatteFloat(floatMaximum, image, width, height, radius, keyStates.blurInward,
                                     keyStates.shrinkAmount))
        Mav::Host::System::throwBadAllocation();
}

}  // namespace vantrelo
