#include "engine/keying/generated_polyhedron.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

constexpr int kA = kGeneratedSubdivision;
constexpr int kSlots = 6;

// The tables live for the whole process; the build fills them once.
struct GeneratedTables {
    float directions[kVertexCount][3];
    std::int32_t vertexCount;
    std::int32_t faces[kFaceCount][3];
    std::int32_t faceCount;
    std::int32_t neighbours[kVertexCount][kSlots];
    std::int32_t vertexFaces[kVertexCount][kSlots];
    std::int32_t grid[kA * kA * kA];
    std::int32_t fixedVertex[kVertexCount];
};

GeneratedTables g_tables;
std::once_flag g_buildOnce;
std::atomic<bool> g_built{false};

void ensureBuilt() {
    if (!g_built.load(std::memory_order_acquire)) buildGeneratedPolyhedron();
}

int vertexIndex(std::int32_t v) { return v >= 0 && v < g_tables.vertexCount ? v : 0; }
int faceIndex(std::int32_t f) { return f >= 0 && f < g_tables.faceCount ? f : 0; }

void cellOf(std::uint32_t mr, std::uint32_t mg, std::uint32_t mb, std::int32_t* cell) {
    const std::uint32_t s = mr + mg + mb;
    if (s == 0) {
        cell[0] = cell[1] = cell[2] = 0;
        return;
    }
    std::uint32_t f[3] = {((mr * 65536u) / s) & 0xffffu, ((mg * 65536u) / s) & 0xffffu,
                          ((mb * 65536u) / s) & 0xffffu};
    // A direction exactly on the lattice of quarter fractions is nudged off it, so that it falls in
    // a cell instead of on a corner of several.
    if (f[0] % 16384u == 0 && f[1] % 16384u == 0 && f[2] % 16384u == 0) f[0] = f[0] != 0 ? f[0] - 8192u : 8192u;
    for (int c = 0; c < 3; ++c) {
        std::int32_t v = static_cast<std::int32_t>((f[c] / 16384u) & 3u);
        if (v == kA) v = kA - 1;
        cell[c] = v;
    }
}

int gridIndex(const std::int32_t* cell) { return (cell[0] * kA + cell[1]) * kA + cell[2]; }

std::int32_t findOrAddVertex(const float* v) {
    for (std::int32_t i = 0; i < g_tables.vertexCount; ++i) {
        const float* d = g_tables.directions[i];
        if (d[0] == v[0] && d[1] == v[1] && d[2] == v[2]) return i;
    }
    if (g_tables.vertexCount < kVertexCount) {
        const std::int32_t i = g_tables.vertexCount++;
        for (int c = 0; c < 3; ++c) g_tables.directions[i][c] = v[c];
        return i;
    }
    // Adjacent octants produce bit-identical shared vertices, so the list never overflows; should a
    // direction differ all the same, it joins the stored vertex nearest to it.
    std::int32_t best = 0;
    float bestDot = -2.0f;
    for (std::int32_t i = 0; i < g_tables.vertexCount; ++i) {
        const float dot = vec3Dot(g_tables.directions[i], v);
        if (dot > bestDot) {
            bestDot = dot;
            best = i;
        }
    }
    return best;
}

void addNeighbours(std::int32_t v, std::int32_t m1, std::int32_t m2) {
    bool found1 = false, found2 = false;
    for (std::int32_t& slot : g_tables.neighbours[v]) {
        if (slot == m1) {
            found1 = true;
        } else if (slot == m2) {
            found2 = true;
        } else if (slot == -1) {
            if (!found1) {
                slot = m1;
                found1 = true;
            } else if (!found2) {
                slot = m2;
                found2 = true;
            } else {
                break;
            }
        }
    }
}

void addVertexFace(std::int32_t v, std::int32_t f) {
    bool found = false;
    for (std::int32_t& slot : g_tables.vertexFaces[v]) {
        if (slot == f) found = true;
        if (slot == -1) {
            if (!found) slot = f;
            break;
        }
    }
}

void addGeneratedFace(const float* p, const float* q, const float* r) {
    if (g_tables.faceCount >= kFaceCount) return;
    const std::int32_t i = findOrAddVertex(p);
    const float pq[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
    const float pr[3] = {r[0] - p[0], r[1] - p[1], r[2] - p[2]};
    float cross[3];
    vec3Cross(pq, pr, cross);
    std::int32_t j, k;
    if (vec3Dot(p, cross) >= 0.0f) {
        j = findOrAddVertex(q);
        k = findOrAddVertex(r);
    } else {
        j = findOrAddVertex(r);
        k = findOrAddVertex(q);
    }
    const std::int32_t f = g_tables.faceCount;
    g_tables.faces[f][0] = i;
    g_tables.faces[f][1] = j;
    g_tables.faces[f][2] = k;
    addNeighbours(i, j, k);
    addNeighbours(j, k, i);
    addNeighbours(k, i, j);
    addVertexFace(i, f);
    addVertexFace(j, f);
    addVertexFace(k, f);
    ++g_tables.faceCount;
}

void normalise(const float* v, float* out) {
    const float inverse = 1.0f / std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int c = 0; c < 3; ++c) out[c] = v[c] * inverse;
}

void subdivideOctant(const float* p, const float* q, const float* r) {
    auto along = [](const float* from, const float* to, float t, float* out) {
        for (int c = 0; c < 3; ++c) out[c] = (to[c] - from[c]) * t + from[c];
    };
    for (int j = 0; j < kA; ++j) {
        const float h = static_cast<float>(j) / static_cast<float>(kA);
        const float rr = static_cast<float>(j + 1) / static_cast<float>(kA);
        float pqTop[3], prTop[3], pqBottom[3], prBottom[3];
        along(p, q, h, pqTop);
        along(p, r, h, prTop);
        along(p, q, rr, pqBottom);
        along(p, r, rr, prBottom);
        auto top = [&](float c, float* out) { along(pqTop, prTop, c, out); };
        auto bottom = [&](float c, float* out) { along(pqBottom, prBottom, c, out); };
        const float topSteps = static_cast<float>(j);
        const float bottomSteps = static_cast<float>(j + 1);
        for (int n = 0; n < 2 * j + 1; ++n) {
            const int t = n / 2;
            float corners[3][3];
            if (n % 2 == 0) {  // up
                top(j == 0 ? 0.0f : static_cast<float>(t) / topSteps, corners[0]);
                bottom(static_cast<float>(t) / bottomSteps, corners[1]);
                bottom(static_cast<float>(t + 1) / bottomSteps, corners[2]);
            } else {  // down
                top(static_cast<float>(t) / topSteps, corners[0]);
                top(static_cast<float>(t + 1) / topSteps, corners[1]);
                bottom(static_cast<float>(t + 1) / bottomSteps, corners[2]);
            }
            float centroid[3];
            for (int c = 0; c < 3; ++c)
                centroid[c] = (corners[0][c] + corners[1][c] + corners[2][c]) * 0.33333334f;
            if (centroid[0] > 0.0f && centroid[1] > 0.0f && centroid[2] > 0.0f) {
                std::int32_t cell[3];
                cellOf(truncToUint16(centroid[0] * 65535.0f), truncToUint16(centroid[1] * 65535.0f),
                       truncToUint16(centroid[2] * 65535.0f), cell);
                g_tables.grid[gridIndex(cell)] = g_tables.faceCount % 16;
            }
            float unit[3][3];
            for (int k = 0; k < 3; ++k) normalise(corners[k], unit[k]);
            addGeneratedFace(unit[0], unit[1], unit[2]);
        }
    }
}

// Radii lists are in the fixed vertex order: find the fixed vertex of each generated direction
// through its lattice point (the direction scaled to |i| + |j| + |k| = 4).
void matchFixedVertices() {
    for (std::int32_t v = 0; v < g_tables.vertexCount; ++v) {
        const float* d = g_tables.directions[v];
        const float sum = std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]);
        int lattice[3];
        for (int c = 0; c < 3; ++c) lattice[c] = static_cast<int>(std::lround(4.0f * d[c] / sum));
        std::int32_t match = 0;
        float bestDot = -2.0f;
        for (std::int32_t f = 0; f < kVertexCount; ++f) {
            const std::int8_t* l = kVertexLattice[f];
            if (l[0] == lattice[0] && l[1] == lattice[1] && l[2] == lattice[2]) {
                match = f;
                break;
            }
            const float dot = vec3Dot(vertexDirection(f), d);
            if (dot > bestDot) {
                bestDot = dot;
                match = f;
            }
        }
        g_tables.fixedVertex[v] = match;
    }
}

void build() {
    g_tables.vertexCount = 0;
    g_tables.faceCount = 0;
    for (auto& cell : g_tables.grid) cell = -1;
    for (int v = 0; v < kVertexCount; ++v) {
        for (int s = 0; s < kSlots; ++s) g_tables.neighbours[v][s] = g_tables.vertexFaces[v][s] = -1;
        g_tables.fixedVertex[v] = 0;
    }
    for (int octant = 0; octant < 8; ++octant) {
        const float p[3] = {octant & 1 ? -1.0f : 1.0f, 0.0f, 0.0f};
        const float q[3] = {0.0f, octant & 2 ? -1.0f : 1.0f, 0.0f};
        const float r[3] = {0.0f, 0.0f, octant & 4 ? -1.0f : 1.0f};
        subdivideOctant(p, q, r);
    }
    matchFixedVertices();
}

}  // namespace

void buildGeneratedPolyhedron() {
    std::call_once(g_buildOnce, [] {
        build();
        g_built.store(true, std::memory_order_release);
    });
}

void generatedGridCell(std::uint32_t mr, std::uint32_t mg, std::uint32_t mb, std::int32_t* cell) {
    if (!cell) return;
    cellOf(mr > 65535u ? 65535u : mr, mg > 65535u ? 65535u : mg, mb > 65535u ? 65535u : mb, cell);
}

std::int32_t generatedGridEntry(std::int32_t cr, std::int32_t cg, std::int32_t cb) {
    if (static_cast<std::uint32_t>(cr) >= kA || static_cast<std::uint32_t>(cg) >= kA ||
        static_cast<std::uint32_t>(cb) >= kA)
        return -1;
    ensureBuilt();
    const std::int32_t cell[3] = {cr, cg, cb};
    return g_tables.grid[gridIndex(cell)];
}

std::int32_t getsegment1(std::int32_t r, std::int32_t g, std::int32_t b, const KeyState* state) {
    ensureBuilt();
    const float colour[3] = {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b)};
    std::uint32_t magnitude[3];
    int octant = 0;
    for (int c = 0; c < 3; ++c) {
        const float backdrop = state->backdrop[c];
        if (colour[c] > backdrop) {
            magnitude[c] = truncToUint16(colour[c] - backdrop);
        } else {
            magnitude[c] = truncToUint16(backdrop - colour[c]);
            octant |= 1 << c;
        }
    }
    std::int32_t cell[3];
    cellOf(magnitude[0], magnitude[1], magnitude[2], cell);
    const std::int32_t face = 16 * octant + g_tables.grid[gridIndex(cell)];
    if (static_cast<std::uint32_t>(face) > 127u) {
        std::fputs("Vantrelo: internal error at getsegment1\n", stderr);
        return 0;
    }
    return face;
}

std::int32_t getsegment1OfPixel16(const std::uint16_t* pixel, const KeyState* state) {
    return getsegment1(pixel[0], pixel[1], pixel[2], state);
}

std::int32_t getsegment1OfFloats(float r, float g, float b, const KeyState* state) {
    return getsegment1(truncToInt32(r), truncToInt32(g), truncToInt32(b), state);
}

std::int32_t getsegment1OfVector(const float* colour, const KeyState* state) {
    return getsegment1OfFloats(colour[0], colour[1], colour[2], state);
}

std::int32_t compileGeneratedFaces(KeyState* state) {
    if (!state) return 1;
    ensureBuilt();
    const float* inner = state->innerRadii;
    const float* middle = state->middleRadii;
    const float* outer = state->outerRadii;
    if (state->flags & KeyFlagMiddleOnly) {
        inner = outer = middle;
    } else if (state->flags & KeyFlagOuterFromMiddle) {
        outer = middle;
    }
    auto compileSurface = [state](const float* radii, float (*equations)[4], float* backdropDot, float* reach) {
        for (std::int32_t face = 0; face < kFaceCount; ++face) {
            float points[3][3];
            generatedFacePositions(points, face, radii, state->backdrop);
            faceEquation(points, equations[face]);
            backdropDot[face] = vec3Dot(equations[face], state->backdrop);
            reach[face] = -(backdropDot[face] + equations[face][3]);
        }
    };
    compileSurface(inner, state->innerEquations, state->innerBackdropDot, state->innerReach);
    compileSurface(middle, state->middleEquations, state->middleBackdropDot, state->middleReach);
    compileSurface(outer, state->outerEquations, state->outerBackdropDot, state->outerReach);
    return 1;
}

std::int32_t generatedVertexCount() {
    ensureBuilt();
    return g_tables.vertexCount;
}

std::int32_t generatedFaceCount() {
    ensureBuilt();
    return g_tables.faceCount;
}

const float* generatedDirection(std::int32_t vertex) {
    ensureBuilt();
    return g_tables.directions[vertexIndex(vertex)];
}

std::int32_t generatedFixedVertex(std::int32_t vertex) {
    ensureBuilt();
    return g_tables.fixedVertex[vertexIndex(vertex)];
}

const std::int32_t* generatedNeighbours(std::int32_t vertex) {
    ensureBuilt();
    return g_tables.neighbours[vertexIndex(vertex)];
}

const std::int32_t* generatedVertexFaces(std::int32_t vertex) {
    ensureBuilt();
    return g_tables.vertexFaces[vertexIndex(vertex)];
}

void generatedVertexPosition(const float* radii, std::int32_t vertex, float* point, const float* backdrop) {
    ensureBuilt();
    const int v = vertexIndex(vertex);
    const float radius = radii[g_tables.fixedVertex[v]];
    for (int c = 0; c < 3; ++c) point[c] = g_tables.directions[v][c] * radius + backdrop[c];
}

void generatedFaceIndices(std::int32_t face, std::int32_t* indices) {
    ensureBuilt();
    const int f = faceIndex(face);
    for (int c = 0; c < 3; ++c) indices[c] = g_tables.faces[f][c];
}

void generatedFacePositions(float (*points)[3], std::int32_t face, const float* radii, const float* backdrop) {
    ensureBuilt();
    generatedFacePositions(points, g_tables.faces[faceIndex(face)], radii, backdrop);
}

void generatedFacePositions(float (*points)[3], const std::int32_t* vertices, const float* radii,
                            const float* backdrop) {
    for (int k = 0; k < 3; ++k) generatedVertexPosition(radii, vertices[k], points[k], backdrop);
}

}  // namespace vantrelo
