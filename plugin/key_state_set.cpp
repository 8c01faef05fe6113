#include "plugin/key_state_set.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/keying/key_compile.h"
#include "engine/keying/processing.h"
#include "engine/keying/two_key.h"
#include "plugin/engine_status.h"

namespace vantrelo {

namespace {

// Matte settings of the second key in the hybrid merge.
constexpr int kHybridMatteRadius = 20;
constexpr float kHybridMatteShrink = 0.5f;

constexpr std::uint16_t kResetReplacement = 32767;

void repointShapeList(ShapeLayer**& list, ShapeLayer* const* oldList, ShapeLayer** newList) {
    if (list == oldList) list = newList;
}

}  // namespace

KeyStateSet::KeyStateSet(const KeyStateSet& other) { *this = other; }

KeyStateSet& KeyStateSet::operator=(const KeyStateSet& other) {
    if (this == &other) return *this;
    std::memcpy(pickColour, other.pickColour, sizeof pickColour);
    softenRadius = other.softenRadius;
    shrinkAmount = other.shrinkAmount;
    blurInward = other.blurInward;
    keyingInset = other.keyingInset;
    hybrid = other.hybrid;
    std::copy(std::begin(other.extShapeLayers), std::end(other.extShapeLayers), extShapeLayers);
    std::copy(std::begin(other.obeyShapeLayers), std::end(other.obeyShapeLayers), obeyShapeLayers);
    extShapeCount = other.extShapeCount;
    obeyShapeCount = other.obeyShapeCount;
    keyState = other.keyState;
    edgeState = other.edgeState;
    bodyState = other.bodyState;
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        repointShapeList(state->extShapes, other.extShapeLayers, extShapeLayers);
        repointShapeList(state->obeyShapes, other.obeyShapeLayers, obeyShapeLayers);
    }
    return *this;
}

void KeyStateSet::reset() {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        resetKeyState(state);
        state->flags |= KeyFlagDirectCallbacks;
        std::fill(state->replacementColour, state->replacementColour + 3, kResetReplacement);
        state->replacementColour[3] = 65535;
        std::fill(std::begin(state->label1), std::end(state->label1), '\0');
        std::fill(std::begin(state->label2), std::end(state->label2), '\0');
    }
    setSpillMode(0);
    hybrid = 0;
    softenRadius = 0;
    shrinkAmount = 0.0f;
    blurInward = 0;
    keyingInset = CropInsets{0, 0, 0, 0};
    std::fill(std::begin(extShapeLayers), std::end(extShapeLayers), nullptr);
    std::fill(std::begin(obeyShapeLayers), std::end(obeyShapeLayers), nullptr);
    extShapeCount = 0;
    obeyShapeCount = 0;
    keyState.extShapes = extShapeLayers;
    keyState.obeyShapes = obeyShapeLayers;
}

void KeyStateSet::shareKeyFlags() {
    edgeState.flags = keyState.flags;
    bodyState.flags = keyState.flags;
}

void KeyStateSet::setSpillMode(int mode) {
    switch (mode) {
    case 0:
        keyState.flags |= KeyFlagSpillComplement;
        break;
    case 1:
        keyState.flags = (keyState.flags & ~std::uint32_t{KeyFlagSpillComplement}) | KeyFlagSpillSolid;
        break;
    case 2:
        keyState.flags &= ~std::uint32_t{KeyFlagSpillComplement | KeyFlagSpillSolid};
        break;
    default:
        break;
    }
    shareKeyFlags();
}

void KeyStateSet::setGrainType(int level) {
    keyState.grainLevel = level;
    if (level != 0)
        keyState.flags |= KeyFlagGrainFilter;
    else
        keyState.flags &= ~std::uint32_t{KeyFlagGrainFilter};
    shareKeyFlags();
}

void KeyStateSet::processPixels16(const std::uint16_t* source, std::uint16_t* destination,
                                  const std::uint16_t* background, const std::uint16_t* mask,
                                  std::ptrdiff_t width, std::ptrdiff_t rows) const {
    if (width <= 0 || rows <= 0) return;
    if (!hybrid) {
        throwOnEngineFailure(
            processImage(source, destination, background, mask, width, rows, &keyState, &keyingInset));
        return;
    }
    // The merge compiles both states and may reshape the second from the image.  Keying must not
    // write the set (other threads may be keying it), so it works on private, uncompiled copies.
    KeyState edge = edgeState;
    KeyState body = bodyState;
    for (KeyState* copy : {&edge, &body}) {
        copy->keySpan16Callback = nullptr;
        copy->keySpan8Callback = nullptr;
        copy->keyer = nullptr;
        copy->faceTable = nullptr;
    }
    throwOnEngineFailure(mergeTwoKeys16(source, destination, background, mask, width, rows, &edge, &body,
                                        &keyingInset, kHybridMatteRadius, kHybridMatteShrink));
}

void releaseCompiledKey(KeyStateSet* set) {
    if (set) releaseKey(&set->keyState);
}

CompiledKeyGuard::CompiledKeyGuard(KeyStateSet* set)
    : CompiledKeyGuard(set ? &set->keyState : nullptr) {}

CompiledKeyGuard::CompiledKeyGuard(KeyState* state) : state_(state) {
    if (state_) compileKey(state_);
}

CompiledKeyGuard::~CompiledKeyGuard() { release(); }

void CompiledKeyGuard::release() {
    if (state_) releaseKey(state_);
    state_ = nullptr;
}

}  // namespace vantrelo
