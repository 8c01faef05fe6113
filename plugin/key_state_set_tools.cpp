// The sampling tools as they act on the three key states: the inner polyhedron is shaped on the key
// and edge states, the outer on the key and body states, the middle on all three.  Each state is
// nested right after its tool, in the mode that keeps the surface just moved.

#include <vector>

#include "engine/keying/fine_tune.h"
#include "engine/keying/sampling_tools.h"
#include "plugin/key_state_set.h"

namespace vantrelo {

namespace {

constexpr int kNestFromInner = 0;
constexpr int kNestFromMiddle = 1;
constexpr int kNestFromOuter = 2;
constexpr int kApply = 1;

}  // namespace

void KeyStateSet::applyCleanBg(const std::uint16_t* samples, int x0, int y0, int x1, int y1) {
    for (KeyState* state : {&keyState, &edgeState}) {
        growInnerToSamples(samples, x1 - x0 + 1, y1 - y0 + 1, state);
        enforceNesting(kNestFromInner, state);
    }
}

void KeyStateSet::applyCleanFg(const std::uint16_t* samples, int columns, int rows) {
    for (KeyState* state : {&keyState, &bodyState}) {
        shrinkOuterFromSamples(samples, columns, rows, state);
        enforceNesting(kNestFromOuter, state);
    }
}

void KeyStateSet::applySpillSponge(const std::uint16_t* samples, int columns, int rows) {
    // The engine pushes the samples outward in the list it is given.  Each state gets its own copy, so
    // the body state grows to the same colours as the key state and the caller's samples stay as
    // they were.
    if (!samples || columns <= 0 || rows <= 0) return;
    const std::size_t count = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows) * 4;
    std::vector<std::uint16_t> pushed;
    for (KeyState* state : {&keyState, &bodyState}) {
        pushed.assign(samples, samples + count);
        growOuterToSamples(pushed.data(), columns, rows, state);
    }
}

void KeyStateSet::applyMatteSponge(const std::uint16_t* samples, int columns, int rows) {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        shrinkMiddleFromSamples(samples, columns, rows, state);
        enforceNesting(kNestFromMiddle, state);
    }
}

void KeyStateSet::applyMakeTrans(const std::uint16_t* samples, int columns, int rows) {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        growMiddleToSamples(samples, columns, rows, state);
        enforceNesting(kNestFromMiddle, state);
    }
}

void KeyStateSet::applyDetailTool(const std::uint16_t* samples, int x0, int y0, int x1, int y1) {
    for (KeyState* state : {&keyState, &edgeState}) {
        shrinkInnerFromSamples(samples, x1 - x0 + 1, y1 - y0 + 1, state);
        enforceNesting(kNestFromInner, state);
    }
}

void KeyStateSet::applyPointSpillMinus(Sample16 colour) {
    growOuterAtColour(colour, &keyState);
    growOuterAtColour(colour, &bodyState);
}

void KeyStateSet::applyPointCleanFg(Sample16 colour) {
    for (KeyState* state : {&keyState, &bodyState}) {
        shrinkOuterAtColour(colour, state);
        enforceNesting(kNestFromOuter, state);
    }
}

void KeyStateSet::applyPointMakeTrans(Sample16 colour) {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        growMiddleAtColour(colour, state);
        enforceNesting(kNestFromMiddle, state);
    }
}

void KeyStateSet::applyPointMatteSponge(Sample16 colour) {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) {
        shrinkMiddleAtColour(colour, state);
        enforceNesting(kNestFromMiddle, state);
    }
}

void KeyStateSet::applyPointCleanBg(Sample16 colour) {
    for (KeyState* state : {&keyState, &edgeState}) {
        growInnerAtColour(colour, state);
        enforceNesting(kNestFromInner, state);
    }
}

void KeyStateSet::applyPointRestoreDetail(Sample16 colour) {
    shrinkInnerAtColour(colour, &keyState);
    shrinkInnerAtColour(colour, &edgeState);
}

void KeyStateSet::fineTuneOuterStates(float position) {
    fineTuneOuter(position, &keyState, kApply);
    fineTuneOuter(position, &bodyState, kApply);
}

void KeyStateSet::fineTuneMiddleStates(float position) {
    for (KeyState* state : {&keyState, &edgeState, &bodyState}) fineTuneMiddle(position, state, kApply);
}

void KeyStateSet::fineTuneInnerStates(float position) {
    fineTuneInner(position, &keyState, kApply);
    fineTuneInner(position, &edgeState, kApply);
}

}  // namespace vantrelo
