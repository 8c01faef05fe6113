#include "engine/keying/polyhedron.h"

#include <cmath>

#include "engine/keying/generated_polyhedron.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

struct DirectionTable {
    float direction[kVertexCount][3];
    DirectionTable() {
        // The subdivision takes plain midpoints and normalises at the end, so every position is
        // lattice / 4 exactly and its normalised form equals lattice * (1 / |lattice|) bit for bit.
        for (int v = 0; v < kVertexCount; ++v) {
            const float x = kVertexLattice[v][0], y = kVertexLattice[v][1], z = kVertexLattice[v][2];
            const float scale = 1.0f / std::sqrt(x * x + y * y + z * z);
            direction[v][0] = x * scale;
            direction[v][1] = y * scale;
            direction[v][2] = z * scale;
        }
    }
};

const DirectionTable& directions() {
    static const DirectionTable table;
    return table;
}

float ratio(float reach, float den) { return den != 0.0f ? reach / den : 0.0f; }

SurfaceRatios ratiosOf(float r, float g, float b, int face, const KeyState* state) {
    const float* ni = state->innerEquations[face];
    const float* no = state->outerEquations[face];
    const float* nm = state->middleEquations[face];
    const float denInner = ni[0] * r + ni[1] * g + ni[2] * b - state->innerBackdropDot[face];
    const float denOuter = no[0] * r + no[1] * g + no[2] * b - state->outerBackdropDot[face];
    const float denMiddle = nm[0] * r + nm[1] * g + nm[2] * b - state->middleBackdropDot[face];
    SurfaceRatios out;
    out.inner = ratio(state->innerReach[face], denInner);
    out.outer = ratio(state->outerReach[face], denOuter);
    out.middle = ratio(state->middleReach[face], denMiddle);
    out.insideMiddle = (out.middle > 1.0f || denMiddle == 0.0f) ? 1 : 0;
    return out;
}

int validFace(int face) { return face >= 0 && face < kFaceCount ? face : 0; }

}  // namespace

void initPolyhedronTables() {
    if (!allocatorHooks().allocate || !allocatorHooks().release) setAllocatorHooks(nullptr);
    directions();
    buildGeneratedPolyhedron();
}

const float* vertexDirection(int vertex) {
    if (vertex < 0 || vertex >= kVertexCount) vertex = 0;
    return directions().direction[vertex];
}

int findHitFaceWithFlags(const std::uint16_t* colour, const KeyState* state, std::uint32_t flags) {
    if (flags & KeyFlagGeneratedPolyhedron) return getsegment1(colour[0], colour[1], colour[2], state);
    return faceOfDifference(std::int64_t{colour[0]} - truncToInt32(state->backdrop[0]),
                            std::int64_t{colour[1]} - truncToInt32(state->backdrop[1]),
                            std::int64_t{colour[2]} - truncToInt32(state->backdrop[2]));
}

int findHitFace(const std::uint16_t* colour, const KeyState* state) {
    return findHitFaceWithFlags(colour, state, state->flags);
}

int findHitFaceFloat(const float* colour, const KeyState* state) {
    if (state->flags & KeyFlagGeneratedPolyhedron) return getsegment1OfFloats(colour[0], colour[1], colour[2], state);
    return faceOfDifference(colour[0] - state->backdrop[0], colour[1] - state->backdrop[1],
                            colour[2] - state->backdrop[2]);
}

SurfaceRatios surfaceRatios16(const std::uint16_t* colour, int face, const KeyState* state) {
    return ratiosOf(colour[0], colour[1], colour[2], validFace(face), state);
}

SurfaceRatios surfaceRatiosMid16(const std::uint16_t* colour, int face, const KeyState* state) {
    return ratiosOf(colour[0], colour[1], colour[2], validFace(face), state);
}

SurfaceRatios surfaceRatiosFloat(const float* colour, int face, const KeyState* state) {
    return ratiosOf(colour[0], colour[1], colour[2], validFace(face), state);
}

int facesOfVertex(int vertex, int* faces) {
    int count = 0;
    for (int face = 0; face < kFaceCount && count < 6; ++face)
        for (int corner = 0; corner < 3; ++corner)
            if (kFaceVertices[face][corner] == vertex) {
                faces[count++] = face;
                break;
            }
    return count;
}

void faceVertexIndices(int face, int* indices) {
    face = validFace(face);
    for (int corner = 0; corner < 3; ++corner) indices[corner] = kFaceVertices[face][corner];
}

void vertexPosition(const float* radii, int vertex, float* point, const float* backdrop) {
    if (vertex < 0 || vertex >= kVertexCount) vertex = 0;
    const float* d = directions().direction[vertex];
    for (int axis = 0; axis < 3; ++axis) point[axis] = backdrop[axis] + radii[vertex] * d[axis];
}

void vertexTriplePositions(const float* radii, const int* vertices, float (*points)[3], const float* backdrop) {
    for (int corner = 0; corner < 3; ++corner) vertexPosition(radii, vertices[corner], points[corner], backdrop);
}

void facePositions(float (*points)[3], int face, const float* radii, const float* backdrop) {
    face = validFace(face);
    vertexTriplePositions(radii, kFaceVertices[face], points, backdrop);
}

void faceNormal(float* normal, const float (*points)[3]) {
    float e2[3], e1[3];
    for (int axis = 0; axis < 3; ++axis) {
        e2[axis] = points[2][axis] - points[0][axis];
        e1[axis] = points[1][axis] - points[0][axis];
    }
    vec3Cross(e2, e1, normal);
}

void faceEquation(const float (*points)[3], float* equation) {
    faceNormal(equation, points);
    equation[3] = -vec3Dot(equation, points[0]);
}

float negatedEquationValue(const float* equation, const float* point) {
    return -(vec3Dot(equation, point) + equation[3]);
}

float vec3Length(const float* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

void vec3Normalize(const float* v, float* out) {
    const float scale = 1.0f / vec3Length(v);
    for (int axis = 0; axis < 3; ++axis) out[axis] = v[axis] * scale;
}

void vec3Midpoint(float (*points)[3], int i, int j, int k) {
    for (int axis = 0; axis < 3; ++axis) points[i][axis] = (points[j][axis] - points[k][axis]) * 0.5f + points[k][axis];
}

float vec3Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void vec3Cross(const float* a, const float* b, float* out) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

}  // namespace vantrelo
