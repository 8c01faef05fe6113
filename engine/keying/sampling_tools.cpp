#include "engine/keying/sampling_tools.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/keying/key_float8.h"
#include "engine/keying/keyer.h"
#include "engine/keying/numeric.h"
#include "engine/keying/polyhedron.h"

namespace vantrelo {

namespace {

// The bisections search a scale in [0, 3 * 65535]: a radius scale beyond that would put the face
// outside any colour a 16-bit image can hold.
constexpr float kScaleLimit = 196605.0f;
// Weight above which a colour counts as lying on a vertex direction: the fit then sets that vertex
// alone from the colour's distance instead of bisecting.
constexpr double kOnVertexWeight = 0.999;

inline void sub3(const float* a, const float* b, float* out) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

// Larger and smaller of two radii; a NaN candidate leaves the current radius.
inline float larger(float current, float candidate) { return candidate > current ? candidate : current; }
inline float smaller(float current, float candidate) { return candidate < current ? candidate : current; }

double distanceFromBackdrop(const std::uint16_t* sample, const KeyState* state) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double d = static_cast<double>(sample[c]) - static_cast<double>(state->backdrop[c]);
        sum += d * d;
    }
    return std::sqrt(sum);
}

// The tools fit the radii of the fixed mesh, so they look faces up on the fixed mesh even when the
// state keys with the generated polyhedron, whose face numbers name other faces of the same mesh.
int fixedMeshFace(const std::uint16_t* colour, const KeyState* state) {
    return findHitFaceWithFlags(colour, state, state->flags & ~std::uint32_t(KeyFlagGeneratedPolyhedron));
}

using KeyerEntry = std::int32_t (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);

// The alternative keyers follow the same strokes: the hexagon keyer first, then the threshold keyer.
void driveKeyers(KeyerEntry entry, const std::uint16_t* list, std::ptrdiff_t count, KeyState* state) {
    const std::uint32_t flags = state->flags;
    if (flags & KeyFlagUseRTPlus)
        if (VantreloBase* keyer = engineHexagonKeyer()) (keyer->*entry)(list, count, state);
    if (flags & KeyFlagUseRT)
        if (VantreloBase* keyer = engineThresholdKeyer()) (keyer->*entry)(list, count, state);
}

// Fits one polyhedron's crossed face to one sample: grow makes the sample fall inside, shrink
// outside.  A sample already on that side, or one whose face cannot be fitted, changes nothing.
void fitOneSample(const std::uint16_t* sample, bool grow, float* radii, KeyState* state) {
    const int code = fixedMeshFace(sample, state);
    if (code < 0 || code >= kFaceCount) return;
    const int* lookedUp = kFaceVertices[code];
    const float current[3] = {radii[lookedUp[0]], radii[lookedUp[1]], radii[lookedUp[2]]};
    const int side = faceSideOfSample(current, lookedUp, sample, state);
    if (grow ? side == -1 : side == 1) return;

    int face[3];
    float weights[3];
    if (intersectFace(sample, face, weights, state) < 0) return;
    float fitted[3] = {radii[face[0]], radii[face[1]], radii[face[2]]};
    const int fit = grow ? fitRadiusOutward(sample, face, weights, fitted, state)
                         : fitRadiusInward(sample, face, weights, fitted, state);
    if (fit < 0) return;
    for (int k = 0; k < 3; ++k) {
        float& radius = radii[face[k]];
        radius = grow ? larger(radius, fitted[k]) : smaller(radius, fitted[k]);
    }
}

// The common frame of the list tools: gather (and possibly pre-filter) the samples, drive the
// keyers, fit every sample in order, release a gathered list.  A failed allocation of the gathered
// list leaves the key and the keyers as they were.
template <class FitEach>
void runListTool(const std::uint16_t* samples, int width, int height, KeyState* state, KeyerEntry entry,
                 FitEach&& fitEach) {
    if (!samples || !state || width <= 0 || height <= 0) return;
    std::ptrdiff_t count = static_cast<std::ptrdiff_t>(width) * height;
    const std::uint16_t* list = gatherSamples(samples, width, height, state, &count);
    if (!list) return;
    driveKeyers(entry, list, count, state);
    fitEach(list, count);
    if (list != samples) engineRelease(const_cast<std::uint16_t*>(list));
}

void listToolFitting(const std::uint16_t* samples, int width, int height, KeyState* state, KeyerEntry entry,
                     bool grow, float* radii) {
    runListTool(samples, width, height, state, entry, [&](const std::uint16_t* list, std::ptrdiff_t count) {
        for (std::ptrdiff_t i = 0; i < count; ++i) fitOneSample(list + 4 * i, grow, radii, state);
    });
}

void stepTool(Sample16 colour, KeyState* state, KeyerEntry entry, float* radii, bool grow) {
    if (!state) return;
    driveKeyers(entry, colour.rgba, 1, state);
    int face[3];
    float weights[3];
    if (intersectFace(colour.rgba, face, weights, state) < 0) return;
    for (int k = 0; k < 3; ++k) {
        const float factor = grow ? 1.0f + 0.07f * weights[k] : 1.0f - 0.0654f * weights[k];
        radii[face[k]] = radii[face[k]] * factor;
    }
}

}  // namespace

// ---- Building blocks ----

const std::uint16_t* gatherSamples(const std::uint16_t* samples, int width, int height, const KeyState* state,
                                   std::ptrdiff_t* count) {
    if (!samples || !state || !count) return samples;
    if (!(state->flags & KeyFlagPrefilterSamples) || width < 3 || height < 3) return samples;
    const std::ptrdiff_t columns = static_cast<std::ptrdiff_t>(width) - 2;
    const std::ptrdiff_t rows = static_cast<std::ptrdiff_t>(height) - 2;
    const std::size_t filtered = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    if (filtered > SIZE_MAX / (4 * sizeof(std::uint16_t))) return nullptr;
    auto* list = static_cast<std::uint16_t*>(engineAllocate(filtered * 4 * sizeof(std::uint16_t)));
    if (!list) return nullptr;
    // The median network reorders its block and writes lumas into it, so it works on a copy of each
    // neighbourhood; the caller's block stays as it was.
    std::uint16_t block[9 * 4];
    std::uint16_t* out = list;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
    for (std::ptrdiff_t y = 1; y <= rows; ++y) {
        for (std::ptrdiff_t x = 1; x <= columns; ++x) {
            for (int dy = -1; dy <= 1; ++dy)
                std::memcpy(block + (dy + 1) * 12, samples + (y + dy) * stride + (x - 1) * 4,
                            12 * sizeof(std::uint16_t));
            const std::uint16_t* median = prefilterSamples(block);
            std::memcpy(out, median, 4 * sizeof(std::uint16_t));
            out += 4;
        }
    }
    *count = static_cast<std::ptrdiff_t>(filtered);
    return list;
}

int intersectFace(const std::uint16_t* colour, int* face, float* weights, const KeyState* state) {
    if (!colour || !face || !weights || !state) return -1;
    float n[3];
    for (int c = 0; c < 3; ++c) n[c] = static_cast<float>(colour[c]) - state->backdrop[c];
    const float dist = vec3Length(n);
    if (!(dist >= 1.0f)) return -1;
    const int code = fixedMeshFace(colour, state);
    if (code < 0 || code >= kFaceCount) return -1;
    for (int k = 0; k < 3; ++k) face[k] = kFaceVertices[code][k];
    for (int c = 0; c < 3; ++c) n[c] = n[c] / dist;

    const float* d0 = vertexDirection(face[0]);
    const float* d1 = vertexDirection(face[1]);
    const float* d2 = vertexDirection(face[2]);
    float t[3];
    vec3Cross(n, d1, t);
    if (vec3Length(t) < 0.0001f) {
        weights[0] = 0.0f, weights[1] = 1.0f, weights[2] = 0.0f;
        return 1;
    }
    vec3Cross(n, d2, t);
    if (vec3Length(t) < 0.0001f) {
        weights[0] = 0.0f, weights[1] = 0.0f, weights[2] = 1.0f;
        return 1;
    }
    vec3Cross(n, d0, t);
    if (vec3Length(t) < 0.0001f) {
        weights[0] = 1.0f, weights[1] = 0.0f, weights[2] = 0.0f;
        return 1;
    }

    // The plane through d0 and the colour's direction crosses the opposite edge d1 d2 at P; the ray
    // then crosses the segment d0 P.
    float c[3], edge[3];
    vec3Cross(d0, n, c);
    sub3(d1, d2, edge);
    const float I = vec3Dot(c, edge);
    if (std::fabs(I) < 0.0001f) {
        std::fputs("Error : Axis mis-definision (1)\n", stderr);
        return -2;
    }
    const float J = vec3Dot(c, d1) / I;
    if (!(J >= 0.0f && J <= 1.0f)) return -3;
    float m[3];
    vec3Cross(n, c, m);
    if (vec3Length(m) < 0.00001f) {
        std::fputs("Error : Axis mis-definision (2)\n", stderr);
        return -4;
    }
    float P[3], toP[3];
    for (int i = 0; i < 3; ++i) P[i] = d1[i] - J * edge[i];
    sub3(d0, P, toP);
    const float K = vec3Dot(m, toP);
    if (std::fabs(K) < 0.00001f) {
        std::fputs("Error : Axis mis-definision (3)\n", stderr);
        return -5;
    }
    float R = vec3Dot(m, d0) / K;
    if (!(R >= 0.0f)) R = 0.0f;
    if (R > 1.0f) R = 1.0f;
    weights[0] = 1.0f - R;
    weights[1] = (1.0f - J) * R;
    weights[2] = J * R;
    return 1;
}

int faceSideOfSample(const float* radii, const int* face, const std::uint16_t* sample, const KeyState* state) {
    float points[3][3];
    faceVertexPoints(radii, face, points, state->backdrop);
    float N[3];
    faceNormal(N, points);
    float s[3], p0[3];
    for (int c = 0; c < 3; ++c) s[c] = static_cast<float>(sample[c]) - state->backdrop[c];
    const float F = vec3Dot(N, s);
    if (!(F != 0.0f)) return 1;
    sub3(points[0], state->backdrop, p0);
    const float t = vec3Dot(N, p0) / F;
    return t > 1.0f ? -1 : 1;
}

int fitRadiusOutward(const std::uint16_t* sample, const int* face, const float* weights, float* radii,
                     const KeyState* state) {
    for (int k = 0; k < 3; ++k) {
        if (static_cast<double>(weights[k]) > kOnVertexWeight) {
            radii[k] = static_cast<float>(distanceFromBackdrop(sample, state) * 1.01);
            return 1;
        }
    }
    float a = kScaleLimit, step = kScaleLimit;
    do {
        const int side = faceSideWithGrownRadii(a, weights, radii, face, sample, state);
        step *= 0.5f;
        a = side == 1 ? a + step : a - step;
        if (a > kScaleLimit || a < 0.0f) return -1;
    } while (step > 1.0f);
    growRadiiToScale(a, weights, radii);
    return 1;
}

int fitRadiusInward(const std::uint16_t* sample, const int* face, const float* weights, float* radii,
                    const KeyState* state) {
    for (int k = 0; k < 3; ++k) {
        if (static_cast<double>(weights[k]) > kOnVertexWeight) {
            radii[k] = static_cast<float>(distanceFromBackdrop(sample, state) * 0.99);
            return 1;
        }
    }
    // A larger scale means smaller radii.
    float a = kScaleLimit, step = kScaleLimit;
    do {
        step *= 0.5f;
        const int side = faceSideWithShrunkRadii(a, weights, radii, face, sample, state);
        a = side == 1 ? a - step : a + step;
        if (a > kScaleLimit || a < 0.0f) return -1;
    } while (static_cast<double>(step) > 0.1);
    shrinkRadiiToScale(a, weights, radii);
    return 1;
}

void pushSampleOutward(std::uint16_t* sample, const KeyState* state) {
    if (!sample || !state) return;
    for (int c = 0; c < 3; ++c) {
        const double b = state->backdrop[c];
        const double v = (static_cast<double>(sample[c]) - b) * 1.1 + b;
        sample[c] = truncToUint16(v);
    }
}

// ---- Small geometry operations ----

void pointOnDirection(float s, int vertex, float* out, const float* backdrop) {
    const float* d = vertexDirection(vertex);
    for (int c = 0; c < 3; ++c) out[c] = backdrop[c] + s * d[c];
}

void faceVertexPoints(const float* radii, const int* face, float (*points)[3], const float* backdrop) {
    for (int k = 0; k < 3; ++k) pointOnDirection(radii[k], face[k], points[k], backdrop);
}

int faceSideWithGrownRadii(float s, const float* weights, const float* radii, const int* face,
                           const std::uint16_t* sample, const KeyState* state) {
    float candidate[3] = {radii[0], radii[1], radii[2]};
    growRadiiToScale(s, weights, candidate);
    return faceSideOfSample(candidate, face, sample, state);
}

void growRadiiToScale(float s, const float* weights, float* radii) {
    for (int k = 0; k < 3; ++k) radii[k] = larger(radii[k], s * weights[k]);
}

int faceSideWithShrunkRadii(float s, const float* weights, const float* radii, const int* face,
                            const std::uint16_t* sample, const KeyState* state) {
    float candidate[3] = {radii[0], radii[1], radii[2]};
    shrinkRadiiToScale(s, weights, candidate);
    return faceSideOfSample(candidate, face, sample, state);
}

void shrinkRadiiToScale(float s, const float* weights, float* radii) {
    for (int k = 0; k < 3; ++k)
        if (weights[k] > 0.0f) radii[k] = smaller(radii[k], 65535.0f / (weights[k] * s));
}

float max3(float a, float b, float c) {
    const float ab = a > b ? a : b;
    return ab > c ? ab : c;
}

float min3(float a, float b, float c) {
    const float ab = a < b ? a : b;
    return ab < c ? ab : c;
}

void sampleToVector(const std::uint16_t* sample, float* out) {
    for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(sample[c]);
}

void resetRadiiToOne(KeyState* state) {
    if (!state) return;
    for (int v = 0; v < kVertexCount; ++v) {
        state->innerRadii[v] = 1.0f;
        state->middleRadii[v] = 1.0f;
        state->outerRadii[v] = 1.0f;
    }
}

// ---- List tools ----

void growInnerToSamples(const std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    listToolFitting(samples, width, height, state, &VantreloBase::applyGrowInner, true, state->innerRadii);
}

void growMiddleToSamples(const std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    listToolFitting(samples, width, height, state, &VantreloBase::applyGrowMiddle, true, state->middleRadii);
}

void growOuterToSamples(std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    // The keyer sees the mean of the unpushed samples: the push happens sample by sample below.
    runListTool(samples, width, height, state, &VantreloBase::applyGrowOuterStep,
                [&](const std::uint16_t* list, std::ptrdiff_t count) {
                    // `list` is either the caller's writable block or the gathered copy.
                    std::uint16_t* writable = const_cast<std::uint16_t*>(list);
                    for (std::ptrdiff_t i = 0; i < count; ++i) {
                        pushSampleOutward(writable + 4 * i, state);
                        fitOneSample(writable + 4 * i, true, state->outerRadii, state);
                    }
                });
}

void shrinkOuterFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    listToolFitting(samples, width, height, state, &VantreloBase::applyShrinkOuter, false, state->outerRadii);
}

void shrinkMiddleFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    listToolFitting(samples, width, height, state, &VantreloBase::applyShrinkMiddle, false, state->middleRadii);
}

void shrinkInnerFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state) {
    if (!state) return;
    listToolFitting(samples, width, height, state, &VantreloBase::applyShrinkInner, false, state->innerRadii);
}

// ---- Step tools ----

void growOuterAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::growOuterBy, state->outerRadii, true);
}

void growMiddleAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::growMiddleBy, state->middleRadii, true);
}

void growInnerAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::growInnerBy, state->innerRadii, true);
}

void shrinkInnerAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::shrinkInnerBy, state->innerRadii, false);
}

void shrinkMiddleAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::shrinkMiddleBy, state->middleRadii, false);
}

void shrinkOuterAtColour(Sample16 colour, KeyState* state) {
    if (state) stepTool(colour, state, &VantreloBase::shrinkOuterBy, state->outerRadii, false);
}

// ---- Nesting ----

void enforceNesting(int mode, KeyState* state) {
    if (!state) return;
    for (int v = 0; v < kVertexCount; ++v) {
        float& i = state->innerRadii[v];
        float& m = state->middleRadii[v];
        float& o = state->outerRadii[v];
        switch (mode) {
        case 0:
            if (m < i) m = i;
            if (m > o) o = m;
            break;
        case 1:
            if (m < i) i = m;
            if (m > o) o = m;
            break;
        case 2:
            if (m > o) m = o;
            if (m < i) i = m;
            break;
        default:
            return;
        }
    }
}

}  // namespace vantrelo
