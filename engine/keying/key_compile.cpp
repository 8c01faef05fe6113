#include "engine/keying/key_compile.h"

#include <cstdlib>

#include "engine/keying/generated_polyhedron.h"
#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

constexpr std::size_t kFaceTableBytes = sizeof(float) * kFaceCount * kFaceTableStride;
static_assert(kFaceTableBytes % 16 == 0, "aligned_alloc needs a multiple of the alignment");

void compileTolerances(KeyState* state) {
    if (state->grainLevel == 0) {
        state->backdropTolerance16 = 1.0f;
        state->backdropTolerance16Int = 1;
        state->backdropTolerance8 = 1.0f;
        state->backdropTolerance8Int = 1;
        return;
    }
    state->backdropTolerance16 = state->grainAmount * 65535.0f + 1.0f;
    state->backdropTolerance16Int = truncToInt32(state->backdropTolerance16);
    state->backdropTolerance8 = state->grainAmount * 255.0f + 1.0f;
    state->backdropTolerance8Int = truncToInt32(state->backdropTolerance8);
}

// Equation, backdrop dot and reach of every face of one surface.
void compileSurface(const float* radii, const float* backdrop, float (*equations)[4], float* backdropDot,
                    float* reach) {
    for (int face = 0; face < kFaceCount; ++face) {
        float points[3][3];
        facePositions(points, face, radii, backdrop);
        faceEquation(points, equations[face]);
        backdropDot[face] = vec3Dot(equations[face], backdrop);
        reach[face] = -(backdropDot[face] + equations[face][3]);
    }
}

void compileFaceData(KeyState* state) {
    const std::uint32_t flags = state->flags;
    const float* inner = state->innerRadii;
    const float* middle = state->middleRadii;
    const float* outer = state->outerRadii;
    if (flags & KeyFlagMiddleOnly) {
        inner = outer = middle;
    } else if (flags & KeyFlagOuterFromMiddle) {
        outer = middle;
    }
    compileSurface(inner, state->backdrop, state->innerEquations, state->innerBackdropDot, state->innerReach);
    compileSurface(middle, state->backdrop, state->middleEquations, state->middleBackdropDot, state->middleReach);
    compileSurface(outer, state->backdrop, state->outerEquations, state->outerBackdropDot, state->outerReach);
    // The generated polyhedron numbers its faces its own way: its lookup must meet face data
    // compiled over its faces, in the arrays and in the table filled from them.
    if (flags & KeyFlagGeneratedPolyhedron) compileGeneratedFaces(state);
}

void fillFaceTable(const KeyState* state, float* table) {
    for (int face = 0; face < kFaceCount; ++face) {
        float* record = table + face * kFaceTableStride;
        const float* columns[3] = {state->innerEquations[face], state->outerEquations[face],
                                   state->middleEquations[face]};
        const float dots[3] = {state->innerBackdropDot[face], state->outerBackdropDot[face],
                               state->middleBackdropDot[face]};
        const float reaches[3] = {state->innerReach[face], state->outerReach[face], state->middleReach[face]};
        for (int column = 0; column < 3; ++column) {
            record[FaceRowNx * 4 + column] = columns[column][0];
            record[FaceRowNy * 4 + column] = columns[column][1];
            record[FaceRowNz * 4 + column] = columns[column][2];
            record[FaceRowBackdropDot * 4 + column] = dots[column];
            record[FaceRowReach * 4 + column] = reaches[column];
        }
        for (int row = 0; row < 5; ++row) record[row * 4 + 3] = 1.0f;
    }
}

void selectCallbacks(KeyState* state) {
    const std::uint32_t flags = state->flags;
    const bool masked = flags & KeyFlagGarbageMask;
    const bool direct = flags & KeyFlagDirectCallbacks;
    if (flags & KeyFlagUseRTPlus) {
        state->keySpan16Callback = masked ? keySpan16RTPlusMasked : keySpan16RTPlus;
        return;
    }
    if (flags & KeyFlagUseRT) {
        state->keySpan16Callback = masked ? keySpan16RTMasked : keySpan16RT;
        return;
    }
    if (flags & KeyFlagSpillComplement) {
        if (direct) {
            state->keySpan16Callback = masked ? keySpan16ComplementMasked : keySpan16Complement;
            state->keySpan8Callback = masked ? keySpan8ComplementMasked : keySpan8Complement;
        } else {
            state->keySpan16Callback = masked ? forwardKeySpan16ComplementMasked : forwardKeySpan16Complement;
            state->keySpan8Callback = masked ? forwardKeySpan8ComplementMasked : forwardKeySpan8Complement;
        }
        return;
    }
    if (direct) {
        state->keySpan16Callback = masked ? keySpan16SpillMasked : keySpan16Spill;
        state->keySpan8Callback = masked ? keySpan8SpillMasked : keySpan8Spill;
    } else {
        state->keySpan16Callback = masked ? forwardKeySpan16SpillMasked : forwardKeySpan16Spill;
        state->keySpan8Callback = masked ? forwardKeySpan8SpillMasked : forwardKeySpan8Spill;
    }
}

}  // namespace

int compileKey(KeyState* state) {
    if (!state) return 0;
    initPolyhedronTables();
    // The previous keyer and table are not freed here: a copy of this record may still own them.
    state->keyer = nullptr;
    state->faceTable = nullptr;
    state->keySpan16Callback = nullptr;
    state->keySpan8Callback = nullptr;
    compileTolerances(state);
    for (int axis = 0; axis < 3; ++axis) state->compiledBackdrop[axis] = state->backdrop[axis];
    compileFaceData(state);

    float* table = static_cast<float*>(std::aligned_alloc(16, kFaceTableBytes));
    if (!table) return 0;
    fillFaceTable(state, table);
    state->faceTable = table;

    if (state->flags & (KeyFlagUseRTPlus | KeyFlagUseRT)) {
        VantreloBase* keyer = nullptr;
        try {
            keyer = createCompiledKeyer(state);
        } catch (...) {
            keyer = nullptr;
        }
        if (!keyer) return 0;
        state->keyer = keyer;
    }
    selectCallbacks(state);
    return 1;
}

int releaseKey(KeyState* state) {
    if (!state) return 1;
    state->keySpan16Callback = nullptr;
    state->keySpan8Callback = nullptr;
    if (state->keyer) {
        destroyKeyer(state->keyer);
        state->keyer = nullptr;
    }
    if (state->faceTable) {
        std::free(state->faceTable);
        state->faceTable = nullptr;
    }
    return 1;
}

}  // namespace vantrelo
