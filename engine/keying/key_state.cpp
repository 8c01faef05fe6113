#include "engine/keying/key_state.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "engine/keying/keyer_defaults.h"

namespace vantrelo {

namespace {

AllocatorHooks g_hooks{std::malloc, std::free};
std::int32_t g_workerCount = 1;

constexpr float kIdentityCorrection[12] = {0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1};
constexpr std::int32_t kDefaultAuxInts[12] = {-1, -1, -1, -1, -1, -1, 999999, 999999, -1, -1, -1, -1};

}  // namespace

const float kInvSqrt2 = 1.0f / std::sqrt(2.0f);

void initKeyState(KeyState* state) {
    if (!state) return;
    std::fill(std::begin(state->backdrop), std::end(state->backdrop), 0.0f);
    state->flags = 0;
    state->auxValue1 = 0;
    state->auxValue2 = 5;
    std::fill(std::begin(state->replacementColour), std::begin(state->replacementColour) + 3,
              std::uint16_t{0});
    std::fill(std::begin(state->innerRadii), std::end(state->innerRadii), 0.0f);
    std::fill(std::begin(state->middleRadii), std::end(state->middleRadii), 0.0f);
    std::fill(std::begin(state->outerRadii), std::end(state->outerRadii), 0.0f);
    applyAlternativeKeyerDefaults(state);
    state->extShapes = nullptr;
    state->obeyShapes = nullptr;
    state->keyer = nullptr;
    state->grainLevel = 0;
    state->grainAmount = 0.0f;
    state->simGridSize = 12;
    state->simInnerRadius = 2550;
}

void resetAuxInts(KeyState* state) {
    if (state) std::copy(std::begin(kDefaultAuxInts), std::end(kDefaultAuxInts), state->auxInts);
}

void resetCorrectionSet1(KeyState* state) {
    if (state)
        std::copy(std::begin(kIdentityCorrection), std::end(kIdentityCorrection), state->correctionSet1);
}

void resetCorrectionSet2(KeyState* state) {
    if (state)
        std::copy(std::begin(kIdentityCorrection), std::end(kIdentityCorrection), state->correctionSet2);
}

void resetKeyState(KeyState* state) {
    if (!state) return;
    initKeyState(state);
    resetAuxInts(state);
    resetCorrectionSet1(state);
    resetCorrectionSet2(state);
}

void fillRadii(std::int32_t value, std::int32_t which, KeyState* state) {
    if (!state) return;
    float* radii = which == 0 ? state->innerRadii : which == 1 ? state->middleRadii : state->outerRadii;
    std::fill(radii, radii + kVertexCount, static_cast<float>(value));
}

void copyKeyState(KeyState* destination, const KeyState* source) {
    if (destination && source && destination != source) std::memcpy(destination, source, sizeof(KeyState));
}

void setAllocatorHooks(const AllocatorHooks* hooks) {
    if (hooks && hooks->allocate && hooks->release)
        g_hooks = *hooks;
    else
        g_hooks = AllocatorHooks{std::malloc, std::free};
}

const AllocatorHooks& allocatorHooks() { return g_hooks; }

void* engineAllocate(std::size_t size) { return g_hooks.allocate(size); }

void engineRelease(void* block) {
    if (block) g_hooks.release(block);
}

void setWorkerThreadCount(std::int32_t count) { g_workerCount = std::min<std::int32_t>(count, 32); }

std::int32_t workerThreadCount() { return g_workerCount; }

void clearWords9(std::uint32_t* words) {
    if (words) std::fill(words, words + 9, 0u);
}

void copyWords9(std::uint32_t* destination, const std::uint32_t* source) {
    if (destination && source) std::copy(source, source + 9, destination);
}

}  // namespace vantrelo
