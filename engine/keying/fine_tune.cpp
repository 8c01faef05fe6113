#include "engine/keying/fine_tune.h"

#include "engine/keying/keyer.h"

namespace vantrelo {

namespace {

struct FineTuneAnchor {
    bool valid = false;
    int face[3] = {0, 0, 0};
    float weights[3] = {0.0f, 0.0f, 0.0f};
    float remembered[3][3] = {};  // [inner, middle, outer][vertex of the face]
    // Whether each engine-wide keyer has taken a snapshot through a successful pick: a keyer slider
    // before that would move the keyer values from an empty snapshot.
    bool hexagonAnchored = false;
    bool thresholdAnchored = false;
};

FineTuneAnchor g_anchor;

enum Shell { Inner = 0, Middle = 1, Outer = 2 };

float* radiiOf(KeyState* state, Shell shell) {
    return shell == Inner ? state->innerRadii : shell == Middle ? state->middleRadii : state->outerRadii;
}

using KeyerSlider = void (VantreloBase::*)(float, KeyState*);

void moveSlider(float value, KeyState* state, int apply, Shell shell, KeyerSlider keyerSlider, int nestingMode) {
    if (!state) return;
    const std::uint32_t flags = state->flags;
    if ((flags & KeyFlagUseRTPlus) && g_anchor.hexagonAnchored)
        if (VantreloBase* keyer = engineHexagonKeyer()) (keyer->*keyerSlider)(value, state);
    if ((flags & KeyFlagUseRT) && g_anchor.thresholdAnchored)
        if (VantreloBase* keyer = engineThresholdKeyer()) (keyer->*keyerSlider)(value, state);
    if (apply != 1 || !g_anchor.valid) return;

    const float d = (value - 0.5f) * 2.0f * 65535.0f;
    float* radii = radiiOf(state, shell);
    for (int k = 0; k < 3; ++k) {
        float& radius = radii[g_anchor.face[k]];
        radius = g_anchor.weights[k] * d + g_anchor.remembered[shell][k];
        if (!(radius > 1.0f)) radius = 1.0f;  // NaN too
    }
    enforceNesting(nestingMode, state);
}

}  // namespace

int beginFineTune(Sample16 colour, KeyState* state) {
    if (!state) return -1;
    // The face comes first: a pick that fails must leave every anchor, the keyers' snapshots included,
    // as it was.
    int face[3];
    float weights[3];
    if (intersectFace(colour.rgba, face, weights, state) < 0) return -1;

    const std::uint32_t flags = state->flags;
    if (flags & KeyFlagUseRTPlus)
        if (VantreloBase* keyer = engineHexagonKeyer())
            if (keyer->beginFineTune(colour.rgba, state) == 1) g_anchor.hexagonAnchored = true;
    if (flags & KeyFlagUseRT)
        if (VantreloBase* keyer = engineThresholdKeyer())
            if (keyer->beginFineTune(colour.rgba, state) == 1) g_anchor.thresholdAnchored = true;

    for (int k = 0; k < 3; ++k) {
        g_anchor.face[k] = face[k];
        g_anchor.weights[k] = weights[k];
        g_anchor.remembered[Inner][k] = state->innerRadii[face[k]];
        g_anchor.remembered[Middle][k] = state->middleRadii[face[k]];
        g_anchor.remembered[Outer][k] = state->outerRadii[face[k]];
    }
    g_anchor.valid = true;
    return 1;
}

void fineTuneOuter(float value, KeyState* state, int apply) {
    moveSlider(value, state, apply, Outer, &VantreloBase::fineTuneOuter, 1);
}

void fineTuneMiddle(float value, KeyState* state, int apply) {
    moveSlider(value, state, apply, Middle, &VantreloBase::fineTuneMiddle, 1);
}

void fineTuneInner(float value, KeyState* state, int apply) {
    moveSlider(value, state, apply, Inner, &VantreloBase::fineTuneInner, 0);
}

}  // namespace vantrelo
