// The generated polyhedron: its build, the one-read face lookup and face data compiled over it.
#include "engine/keying/generated_polyhedron.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

namespace vantrelo {
namespace {

KeyState stateAt(float r, float g, float b) {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    initKeyState(&state);
    state.backdrop[0] = r;
    state.backdrop[1] = g;
    state.backdrop[2] = b;
    return state;
}

int slotsUsed(const std::int32_t* slots) {
    int n = 0;
    for (int s = 0; s < 6; ++s) n += slots[s] >= 0;
    return n;
}

// Coefficients (alpha, beta, gamma) of d = alpha p + beta q + gamma r.
void coneCoordinates(const float* p, const float* q, const float* r, const double* d, double* out) {
    const double m[3][3] = {{p[0], q[0], r[0]}, {p[1], q[1], r[1]}, {p[2], q[2], r[2]}};
    auto det3 = [](const double (&a)[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double det = det3(m);
    for (int col = 0; col < 3; ++col) {
        double a[3][3];
        std::memcpy(a, m, sizeof a);
        for (int row = 0; row < 3; ++row) a[row][col] = d[row];
        out[col] = det3(a) / det;
    }
}

TEST(GeneratedPolyhedron, BuildMakesTheSubdividedOctahedron) {
    buildGeneratedPolyhedron();
    buildGeneratedPolyhedron();  // idempotent
    ASSERT_EQ(generatedVertexCount(), 66);
    ASSERT_EQ(generatedFaceCount(), 128);
    std::set<int> fixed;
    int axisVertices = 0;
    for (int v = 0; v < 66; ++v) {
        const float* d = generatedDirection(v);
        EXPECT_NEAR(vec3Length(d), 1.0f, 1e-6f);
        const int f = generatedFixedVertex(v);
        fixed.insert(f);
        EXPECT_NEAR(vec3Dot(d, vertexDirection(f)), 1.0f, 1e-6f) << v;
        const int neighbours = slotsUsed(generatedNeighbours(v));
        const int faces = slotsUsed(generatedVertexFaces(v));
        const bool axis = f < 6;
        axisVertices += axis;
        EXPECT_EQ(neighbours, axis ? 4 : 6) << v;
        EXPECT_EQ(faces, axis ? 4 : 6) << v;
    }
    EXPECT_EQ(fixed.size(), 66u);
    EXPECT_EQ(axisVertices, 6);
    for (int f = 0; f < 128; ++f) {
        std::int32_t v[3];
        generatedFaceIndices(f, v);
        const int octant = f / 16;
        float centre[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const float* d = generatedDirection(v[k]);
            for (int c = 0; c < 3; ++c) {
                centre[c] += d[c];
                const bool negative = (octant >> c) & 1;
                EXPECT_TRUE(negative ? d[c] <= 0.0f : d[c] >= 0.0f) << "face " << f;
            }
        }
        // Counter-clockwise seen from outside: the normal (q - p) x (r - p) points away from the centre.
        const float* p = generatedDirection(v[0]);
        const float* q = generatedDirection(v[1]);
        const float* r = generatedDirection(v[2]);
        const float pq[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
        const float pr[3] = {r[0] - p[0], r[1] - p[1], r[2] - p[2]};
        float normal[3];
        vec3Cross(pq, pr, normal);
        EXPECT_GT(vec3Dot(normal, centre), 0.0f) << "face " << f;
    }
}

TEST(GeneratedPolyhedron, GridHoldsTheSixteenPositionsOfOctantZero) {
    const int filled[16][3] = {{3, 0, 0}, {2, 1, 0}, {2, 0, 0}, {2, 0, 1}, {1, 2, 0}, {1, 1, 0},
                               {1, 1, 1}, {1, 0, 1}, {1, 0, 2}, {0, 3, 0}, {0, 2, 0}, {0, 2, 1},
                               {0, 1, 1}, {0, 1, 2}, {0, 0, 2}, {0, 0, 3}};
    int count = 0;
    for (int r = 0; r < 4; ++r)
        for (int g = 0; g < 4; ++g)
            for (int b = 0; b < 4; ++b) count += generatedGridEntry(r, g, b) >= 0;
    EXPECT_EQ(count, 16);
    for (int position = 0; position < 16; ++position)
        EXPECT_EQ(generatedGridEntry(filled[position][0], filled[position][1], filled[position][2]), position);
    EXPECT_EQ(generatedGridEntry(0, 0, 0), -1);
    EXPECT_EQ(generatedGridEntry(4, 0, 0), -1);
    EXPECT_EQ(generatedGridEntry(-1, 0, 0), -1);

    struct Cell {
        std::uint32_t m[3];
        std::int32_t cell[3];
    };
    const Cell cells[] = {
        {{0, 0, 0}, {0, 0, 0}},       {{1000, 1000, 0}, {1, 2, 0}},  {{1000, 1000, 1000}, {1, 1, 1}},
        {{0, 1, 1}, {0, 2, 2}},       {{7, 0, 0}, {0, 0, 0}},        {{3000, 1000, 500}, {2, 0, 0}},
        {{65535, 65535, 0}, {1, 2, 0}},
    };
    for (const Cell& c : cells) {
        std::int32_t cell[3];
        generatedGridCell(c.m[0], c.m[1], c.m[2], cell);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(cell[i], c.cell[i]) << c.m[0] << " " << c.m[1] << " " << c.m[2];
    }
}

TEST(GeneratedPolyhedron, LookupFollowsTheGridEmptyCellsIncluded) {
    struct Case {
        float backdrop[3];
        std::int32_t colour[3];
        std::int32_t face;
        bool message;
    };
    const Case cases[] = {
        {{32768, 32768, 32768}, {32768, 32768, 32768}, 111, false},  // the backdrop: octant 7, empty cell
        {{32768, 32768, 32768}, {33768, 33768, 33768}, 6, false},
        {{32768, 32768, 32768}, {33768, 33768, 32768}, 68, false},
        {{32768, 32768, 32768}, {31768, 31768, 31768}, 118, false},
        {{32768, 32768, 32768}, {40000, 32768, 32768}, 95, false},    // on the +R axis: octant 6, empty cell
        {{100.5f, 100, 100}, {101, 101, 101}, 0, true},               // octant 0, empty cell (0, 2, 2)
        {{0, 0, 0}, {65535, 100, 100}, 0, false},
        {{0, 0, 0}, {100, 100, 65535}, 15, false},
    };
    for (const Case& c : cases) {
        KeyState state = stateAt(c.backdrop[0], c.backdrop[1], c.backdrop[2]);
        testing::internal::CaptureStderr();
        const std::int32_t face = getsegment1(c.colour[0], c.colour[1], c.colour[2], &state);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(face, c.face) << c.colour[0] << " " << c.colour[1] << " " << c.colour[2];
        EXPECT_EQ(err, c.message ? "Vantrelo: internal error at getsegment1\n" : "");
    }
}

TEST(GeneratedPolyhedron, ArgumentFormsAgree) {
    KeyState state = stateAt(20000, 30000, 40000);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> channel(0, 65535);
    for (int i = 0; i < 200; ++i) {
        const std::uint16_t pixel[4] = {std::uint16_t(channel(random)), std::uint16_t(channel(random)),
                                        std::uint16_t(channel(random)), 0};
        const std::int32_t face = getsegment1(pixel[0], pixel[1], pixel[2], &state);
        EXPECT_EQ(getsegment1OfPixel16(pixel, &state), face);
        EXPECT_EQ(getsegment1OfFloats(pixel[0] + 0.9f, pixel[1] + 0.5f, pixel[2] + 0.25f, &state), face);
        const float vector[3] = {float(pixel[0]), float(pixel[1]), float(pixel[2])};
        EXPECT_EQ(getsegment1OfVector(vector, &state), face);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(getsegment1OfFloats(nan, 1e30f, -1e30f, &state), getsegment1(0, 2147483647, -2147483647 - 1, &state));
}

TEST(GeneratedPolyhedron, LookupMatchesBruteForceAwayFromEdges) {
    const KeyState state = stateAt(32768, 32768, 32768);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> offset(-32000, 32000);
    int checked = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::int32_t colour[3] = {32768 + offset(random), 32768 + offset(random), 32768 + offset(random)};
        const double d[3] = {colour[0] - 32768.0, colour[1] - 32768.0, colour[2] - 32768.0};
        if (std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]) < 3000) continue;
        int brute = -1;
        double margin = 0.0;
        for (int f = 0; f < 128; ++f) {
            std::int32_t v[3];
            generatedFaceIndices(f, v);
            double w[3];
            coneCoordinates(generatedDirection(v[0]), generatedDirection(v[1]), generatedDirection(v[2]), d, w);
            const double low = std::min({w[0], w[1], w[2]});
            if (low <= 0.0) continue;
            if (low / (w[0] + w[1] + w[2]) > margin) {
                margin = low / (w[0] + w[1] + w[2]);
                brute = f;
            }
        }
        if (margin < 0.01) continue;  // near an edge or a vertex of the subdivision
        ++checked;
        EXPECT_EQ(getsegment1(colour[0], colour[1], colour[2], &state), brute)
            << colour[0] << " " << colour[1] << " " << colour[2];
    }
    EXPECT_GT(checked, 2000);
}

// Surface ratio t = reach / (n . X - n . K) of a colour on a face of compiled arrays.
float ratioOf(const float (*equations)[4], const float* backdropDot, const float* reach, int face, const float* x) {
    const float den = vec3Dot(equations[face], x) - backdropDot[face];
    return den == 0.0f ? 0.0f : reach[face] / den;
}

TEST(GeneratedPolyhedron, CompiledFacesDescribeTheKeysOwnPolyhedron) {
    // Radii lists are in the fixed vertex order: the generated faces must give the same surface as
    // the fixed mesh along every direction, whatever the radii.
    KeyState state = stateAt(30000, 35000, 28000);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> radius(2000.0f, 9000.0f);
    for (int v = 0; v < 66; ++v) {
        state.innerRadii[v] = radius(random);
        state.middleRadii[v] = state.innerRadii[v] + radius(random);
        state.outerRadii[v] = state.middleRadii[v] + radius(random);
    }
    state.flags = KeyFlagGeneratedPolyhedron;
    EXPECT_EQ(compileGeneratedFaces(&state), 1);

    std::uniform_int_distribution<int> offset(-20000, 20000);
    for (int i = 0; i < 500; ++i) {
        const float x[3] = {30000.0f + offset(random), 35000.0f + offset(random), 28000.0f + offset(random)};
        const int generatedFace = getsegment1OfVector(x, &state);
        const int fixedFace = faceOfDifference(x[0] - 30000.0f, x[1] - 35000.0f, x[2] - 28000.0f);
        float points[3][3], equation[4];
        facePositions(points, fixedFace, state.middleRadii, state.backdrop);
        faceEquation(points, equation);
        const float dot = vec3Dot(equation, state.backdrop);
        const float fixedRatio = -(dot + equation[3]) / (vec3Dot(equation, x) - dot);
        const float generatedRatio =
            ratioOf(state.middleEquations, state.middleBackdropDot, state.middleReach, generatedFace, x);
        EXPECT_NEAR(generatedRatio, fixedRatio, 2e-3f * fixedRatio) << i;
    }
    // The centroid of each face's corners lies on that face: ratio 1 on all three surfaces.
    for (int f = 0; f < 128; ++f) {
        const float* radii[3] = {state.innerRadii, state.middleRadii, state.outerRadii};
        const float (*equations[3])[4] = {state.innerEquations, state.middleEquations, state.outerEquations};
        const float* dots[3] = {state.innerBackdropDot, state.middleBackdropDot, state.outerBackdropDot};
        const float* reaches[3] = {state.innerReach, state.middleReach, state.outerReach};
        for (int s = 0; s < 3; ++s) {
            float points[3][3];
            generatedFacePositions(points, f, radii[s], state.backdrop);
            float centroid[3];
            for (int c = 0; c < 3; ++c) centroid[c] = (points[0][c] + points[1][c] + points[2][c]) / 3.0f;
            EXPECT_EQ(getsegment1OfVector(centroid, &state), f);
            EXPECT_NEAR(ratioOf(equations[s], dots[s], reaches[s], f, centroid), 1.0f, 1e-4f) << f << " " << s;
        }
    }
}

TEST(GeneratedPolyhedron, CompileFollowsTheSurfaceSourceFlags) {
    KeyState state = stateAt(30000, 35000, 28000);
    for (int v = 0; v < 66; ++v) {
        state.innerRadii[v] = 1000.0f + v;
        state.middleRadii[v] = 3000.0f + 2 * v;
        state.outerRadii[v] = 6000.0f + 3 * v;
    }
    const std::size_t bytes = sizeof state.innerEquations;
    state.flags = KeyFlagGeneratedPolyhedron | KeyFlagMiddleOnly | KeyFlagOuterFromMiddle;
    compileGeneratedFaces(&state);
    EXPECT_EQ(std::memcmp(state.innerEquations, state.middleEquations, bytes), 0);
    EXPECT_EQ(std::memcmp(state.outerEquations, state.middleEquations, bytes), 0);
    EXPECT_EQ(std::memcmp(state.innerReach, state.middleReach, sizeof state.innerReach), 0);
    state.flags = KeyFlagGeneratedPolyhedron | KeyFlagOuterFromMiddle;
    compileGeneratedFaces(&state);
    EXPECT_NE(std::memcmp(state.innerEquations, state.middleEquations, bytes), 0);
    EXPECT_EQ(std::memcmp(state.outerEquations, state.middleEquations, bytes), 0);
    EXPECT_EQ(std::memcmp(state.outerBackdropDot, state.middleBackdropDot, sizeof state.outerBackdropDot), 0);
    state.flags = KeyFlagGeneratedPolyhedron;
    const KeyState before = state;
    compileGeneratedFaces(&state);
    EXPECT_NE(std::memcmp(state.outerEquations, state.middleEquations, bytes), 0);
    // Nothing outside the per-face arrays changes.
    EXPECT_EQ(std::memcmp(&state.compiledBackdrop, &before.compiledBackdrop,
                          sizeof(KeyState) - offsetof(KeyState, compiledBackdrop)),
              0);
    EXPECT_EQ(std::memcmp(&state, &before, offsetof(KeyState, innerReach)), 0);
}

}  // namespace
}  // namespace vantrelo
