#include "engine/keying/keyer.h"

#include <cmath>

namespace vantrelo {

std::int32_t VantreloBase::keyPixelAlpha(const float*, const float*, const float*, float* out,
                                         const KeyState*) const {
    if (out) out[0] = out[1] = out[2] = out[3] = 0.0f;
    return 0;
}

std::int32_t VantreloBase::applyGrowInner(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyShrinkOuter(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyShrinkMiddle(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyShrinkInner(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyGrowMiddle(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyGrowOuter(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::applyGrowOuterStep(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
std::int32_t VantreloBase::initFromSamples(const std::uint16_t*, std::ptrdiff_t, KeyState*) { return -1; }
void VantreloBase::initFromState(KeyState*) {}
void VantreloBase::classifyBackdrop(const KeyState*) {}
void VantreloBase::chromaMetric(float, float, float, float* o1, float* o2, float* o3) const {
    *o1 = *o2 = *o3 = 0.0f;
}
void VantreloBase::buildChromaticFrame(const KeyState*) {}

void toFixed16(float* out, float x, bool) { *out = x; }

VantreloBase* engineHexagonKeyer() { return nullptr; }
VantreloBase* engineThresholdKeyer() { return nullptr; }
std::int32_t engineKeyerCreationCount() { return 0; }

VantreloBase* createCompiledKeyer(KeyState*) { return nullptr; }
void destroyKeyer(VantreloBase* keyer) { delete keyer; }

bool keyRunRT(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, std::uint16_t*, std::ptrdiff_t,
              const KeyState*, std::uint32_t) {
    return false;
}
bool keyRunRTMasked(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, const std::uint16_t*,
                    std::uint16_t*, std::ptrdiff_t, const KeyState*, std::uint32_t) {
    return false;
}
bool keyRunRTPlus(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, const std::uint16_t*,
                  std::uint16_t*, std::ptrdiff_t, const KeyState*, std::uint32_t) {
    return false;
}

}  // namespace vantrelo
