#include "engine/keying/polyhedron.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::Compiled;
using testing_keys::zeroedState;

int lattice(int vertex, int axis) { return kVertexLattice[vertex][axis]; }

// Sign of det(a, b, c) for integer-valued vectors held in doubles (exact).
double det(const double* a, const double* b, const double* c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
           a[2] * (b[0] * c[1] - b[1] * c[0]);
}

// True when the direction d lies in the closed cone of the face's three lattice vectors (the flat
// triangle of the face, seen from the backdrop).
bool faceContains(int face, const double* d) {
    double v[3][3];
    for (int corner = 0; corner < 3; ++corner)
        for (int axis = 0; axis < 3; ++axis) v[corner][axis] = lattice(kFaceVertices[face][corner], axis);
    const double whole = det(v[0], v[1], v[2]);
    const double s0 = det(d, v[1], v[2]) * whole;
    const double s1 = det(v[0], d, v[2]) * whole;
    const double s2 = det(v[0], v[1], d) * whole;
    // d must also point into the triangle's side of the origin, not the opposite cone.
    const double along = d[0] * (v[0][0] + v[1][0] + v[2][0]) + d[1] * (v[0][1] + v[1][1] + v[2][1]) +
                         d[2] * (v[0][2] + v[1][2] + v[2][2]);
    return s0 >= 0 && s1 >= 0 && s2 >= 0 && along > 0;
}

TEST(Polyhedron, DirectionsAreTheNormalisedLatticePointsOfNormFour) {
    initPolyhedronTables();
    std::set<std::vector<int>> points;
    for (int v = 0; v < kVertexCount; ++v) {
        const int i = lattice(v, 0), j = lattice(v, 1), k = lattice(v, 2);
        EXPECT_EQ(std::abs(i) + std::abs(j) + std::abs(k), 4) << v;
        points.insert({i, j, k});
        const float* d = vertexDirection(v);
        const double length = std::sqrt(double(i) * i + double(j) * j + double(k) * k);
        EXPECT_NEAR(d[0], i / length, 1e-7) << v;
        EXPECT_NEAR(d[1], j / length, 1e-7) << v;
        EXPECT_NEAR(d[2], k / length, 1e-7) << v;
        EXPECT_NEAR(vec3Length(d), 1.0f, 1e-6f) << v;
    }
    // 66 distinct points: all there are with |i| + |j| + |k| = 4.
    EXPECT_EQ(points.size(), 66u);
    // The axes first: +R, +G, +B, then -R, -G, -B.
    const float axes[6][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    for (int v = 0; v < 6; ++v)
        for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(vertexDirection(v)[axis], axes[v][axis]);
}

TEST(Polyhedron, FacesAreDistinctUnitTrianglesInTheOctantOfTheirCode) {
    std::set<std::vector<int>> distinct;
    int perOctant[8] = {};
    for (int face = 0; face < kFaceCount; ++face) {
        std::vector<int> corners(kFaceVertices[face], kFaceVertices[face] + 3);
        std::sort(corners.begin(), corners.end());
        distinct.insert(corners);
        const int octant = face & 7;
        ++perOctant[octant];
        for (int corner = 0; corner < 3; ++corner)
            for (int axis = 0; axis < 3; ++axis) {
                const int value = lattice(kFaceVertices[face][corner], axis);
                if ((octant >> axis) & 1)
                    EXPECT_GE(value, 0) << "face " << face;
                else
                    EXPECT_LE(value, 0) << "face " << face;
            }
        // Neighbouring lattice points differ by e_i - e_j: L1 distance 2.
        for (int p = 0; p < 3; ++p) {
            const int q = (p + 1) % 3;
            int l1 = 0;
            for (int axis = 0; axis < 3; ++axis)
                l1 += std::abs(lattice(kFaceVertices[face][p], axis) - lattice(kFaceVertices[face][q], axis));
            EXPECT_EQ(l1, 2) << "face " << face;
        }
    }
    EXPECT_EQ(distinct.size(), 128u);
    for (int octant = 0; octant < 8; ++octant) EXPECT_EQ(perOctant[octant], 16) << octant;
}

TEST(Polyhedron, AxisVerticesLieOnFourFacesAndTheOthersOnSix) {
    int total = 0;
    for (int v = 0; v < kVertexCount; ++v) {
        int faces[6] = {-1, -1, -1, -1, -1, -1};
        const int count = facesOfVertex(v, faces);
        EXPECT_EQ(count, v < 6 ? 4 : 6) << v;
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                EXPECT_LT(faces[i - 1], faces[i]) << v;
            }
            int corners[3];
            faceVertexIndices(faces[i], corners);
            EXPECT_TRUE(corners[0] == v || corners[1] == v || corners[2] == v) << v;
        }
        total += count;
    }
    EXPECT_EQ(total, 3 * kFaceCount);
}

TEST(Polyhedron, EveryFaceNormalPointsInward) {
    // Unequal radii so that the check does not rest on a symmetric shape.
    float radii[kVertexCount];
    for (int v = 0; v < kVertexCount; ++v) radii[v] = 1000.0f + 37.0f * float(v % 7);
    const float backdrop[3] = {20000.0f, 30000.0f, 10000.0f};
    for (int face = 0; face < kFaceCount; ++face) {
        float points[3][3], equation[4];
        facePositions(points, face, radii, backdrop);
        faceEquation(points, equation);
        float centroid[3];
        for (int axis = 0; axis < 3; ++axis)
            centroid[axis] = (points[0][axis] + points[1][axis] + points[2][axis]) / 3.0f - backdrop[axis];
        EXPECT_LT(vec3Dot(equation, centroid), 0.0f) << "face " << face;
        // So the reach n . (P0 - K) of every face is negative, and the ratios stay positive.
        EXPECT_LT(negatedEquationValue(equation, backdrop), 0.0f) << "face " << face;
    }
}

// The two-level rules written out independently of the library's cell table: which corner of the
// octant triangle (0 red, 1 green, 2 blue, 3 centre) the first level picks, and which corner of
// that triangle the second level picks (3 centre; otherwise the corner named by the axis whose
// comparison fired).
struct Regions {
    int first;
    int second;
};
Regions explicitRules(double a, double b, double c) {
    const double m[3] = {a, b, c};
    const double s[3] = {b + c, a + c, a + b};
    for (int axis = 0; axis < 3; ++axis)
        if (m[axis] > s[axis]) {
            // Corner triangle of `axis`: its own corner, the two side corners, or its centre.
            if (m[axis] > 3 * s[axis]) return {axis, axis};
            for (int other = 0; other < 3; ++other)
                if (other != axis && 3 * m[other] > s[other]) return {axis, other};
            return {axis, 3};
        }
    // Centre triangle: a small component picks the corner opposite its axis.
    for (int axis = 0; axis < 3; ++axis)
        if (3 * m[axis] <= s[axis]) return {3, axis};
    return {3, 3};
}

TEST(Polyhedron, SubFaceCodesFollowTheTwoLevelRulesInEveryOctant) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.02, 1.0);
    // first-level region and second-level region seen for every (octant, bits 3-4) and code.
    int firstOf[8][4];
    int secondOf[kFaceCount];
    std::fill(&firstOf[0][0], &firstOf[0][0] + 32, -1);
    std::fill(secondOf, secondOf + kFaceCount, -1);
    for (int face = 0; face < kFaceCount; ++face) {
        const int octant = face & 7, sub1 = (face >> 3) & 3, sub2 = (face >> 5) & 3;
        for (int sample = 0; sample < 40; ++sample) {
            // A point strictly inside the face's flat triangle, as octant magnitudes.
            double w[3] = {unit(random), unit(random), unit(random)};
            const double sum = w[0] + w[1] + w[2];
            double magnitude[3] = {0, 0, 0};
            for (int corner = 0; corner < 3; ++corner)
                for (int axis = 0; axis < 3; ++axis)
                    magnitude[axis] += w[corner] / sum * std::abs(lattice(kFaceVertices[face][corner], axis));
            const Regions regions = explicitRules(magnitude[0], magnitude[1], magnitude[2]);
            // Centre children carry sub-index 3 on both levels.
            EXPECT_EQ(regions.first == 3, sub1 == 3) << "face " << face;
            EXPECT_EQ(regions.second == 3, sub2 == 3) << "face " << face;
            if (firstOf[octant][sub1] < 0) firstOf[octant][sub1] = regions.first;
            EXPECT_EQ(firstOf[octant][sub1], regions.first) << "face " << face;
            if (secondOf[face] < 0) secondOf[face] = regions.second;
            EXPECT_EQ(secondOf[face], regions.second) << "face " << face;
            // And the library lookup agrees on the same direction.
            const float d[3] = {float(magnitude[0] * ((octant & 1) ? 1 : -1)),
                                float(magnitude[1] * ((octant & 2) ? 1 : -1)),
                                float(magnitude[2] * ((octant & 4) ? 1 : -1))};
            EXPECT_EQ(faceOfDifference(d[0] * 1000.0f, d[1] * 1000.0f, d[2] * 1000.0f), face);
        }
    }
    // Within an octant the four first-level sub-indices name four different regions, and within a
    // first-level triangle the four second-level sub-indices name four different corners.
    for (int octant = 0; octant < 8; ++octant) {
        std::set<int> firsts(firstOf[octant], firstOf[octant] + 4);
        EXPECT_EQ(firsts.size(), 4u) << octant;
        for (int sub1 = 0; sub1 < 4; ++sub1) {
            std::set<int> seconds;
            for (int sub2 = 0; sub2 < 4; ++sub2) seconds.insert(secondOf[octant | sub1 << 3 | sub2 << 5]);
            EXPECT_EQ(seconds.size(), 4u) << octant << " " << sub1;
        }
    }
}

TEST(Polyhedron, FindHitFaceReturnsAFaceContainingTheDirection) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> channel(0, 65535);
    std::uniform_int_distribution<int> small(-6, 6);
    KeyState state = zeroedState();
    for (int trial = 0; trial < 20000; ++trial) {
        state.backdrop[0] = float(channel(random));
        state.backdrop[1] = float(channel(random));
        state.backdrop[2] = float(channel(random));
        std::uint16_t colour[4];
        if (trial % 2 == 0) {
            for (int axis = 0; axis < 3; ++axis) colour[axis] = std::uint16_t(channel(random));
        } else {
            // Small differences land on edges and vertices of the mesh far more often.
            for (int axis = 0; axis < 3; ++axis)
                colour[axis] = std::uint16_t(std::clamp(int(state.backdrop[axis]) + small(random), 0, 65535));
        }
        const int face = findHitFace(colour, &state);
        ASSERT_GE(face, 0);
        ASSERT_LT(face, kFaceCount);
        const double d[3] = {colour[0] - double(state.backdrop[0]), colour[1] - double(state.backdrop[1]),
                             colour[2] - double(state.backdrop[2])};
        if (d[0] == 0 && d[1] == 0 && d[2] == 0) {
            EXPECT_EQ(face, 120);
            continue;
        }
        EXPECT_TRUE(faceContains(face, d)) << d[0] << " " << d[1] << " " << d[2] << " -> " << face;
        // With an integer backdrop the float lookup sees the same differences.
        const float colourFloat[3] = {float(colour[0]), float(colour[1]), float(colour[2])};
        EXPECT_EQ(findHitFaceFloat(colourFloat, &state), face);
    }
}

TEST(Polyhedron, FaceLookupCornerCases) {
    KeyState state = zeroedState();
    state.backdrop[0] = state.backdrop[1] = state.backdrop[2] = 1000.0f;
    struct Case {
        int dr, dg, db;
        int face;  // -1: any face containing `vertex`
        int vertex;
    };
    const Case cases[] = {
        {1, 1, 1, 127, -1},      {-1, -1, -1, 120, -1},   {0, 0, 0, 120, -1},     {500, 500, 500, 127, -1},
        {1, 0, 0, -1, 0},        {0, 7, 0, -1, 1},        {0, 0, 9, -1, 2},       {-3, 0, 0, -1, 3},
        {0, -3, 0, -1, 4},       {0, 0, -3, -1, 5},       {10, 10, 0, -1, 6},     {-20, 20, 0, -1, 8},
        {30, 10, 0, -1, 19},     {20, 10, 10, -1, 51},    {-10, -20, -10, -1, 58},
    };
    for (const Case& c : cases) {
        const std::uint16_t colour[3] = {std::uint16_t(1000 + c.dr), std::uint16_t(1000 + c.dg),
                                         std::uint16_t(1000 + c.db)};
        const int face = findHitFace(colour, &state);
        if (c.face >= 0) {
            EXPECT_EQ(face, c.face) << c.dr << " " << c.dg << " " << c.db;
        } else {
            int corners[3];
            faceVertexIndices(face, corners);
            EXPECT_TRUE(corners[0] == c.vertex || corners[1] == c.vertex || corners[2] == c.vertex)
                << c.dr << " " << c.dg << " " << c.db << " -> " << face;
        }
    }
}

TEST(Polyhedron, SixteenBitLookupClampsAnUnusableBackdrop) {
    KeyState state = zeroedState();
    const std::uint16_t colour[3] = {100, 200, 300};
    const float unusable[] = {std::nanf(""), 1e30f, -1e30f, INFINITY, -INFINITY};
    for (float value : unusable) {
        state.backdrop[0] = state.backdrop[1] = state.backdrop[2] = value;
        const int face = findHitFace(colour, &state);
        EXPECT_GE(face, 0);
        EXPECT_LT(face, kFaceCount);
    }
    // NaN counts as 0: the colour's own direction from black.
    state.backdrop[0] = state.backdrop[1] = state.backdrop[2] = std::nanf("");
    KeyState black = zeroedState();
    EXPECT_EQ(findHitFace(colour, &state), findHitFace(colour, &black));
}

TEST(Polyhedron, SurfaceRatiosPlaceColoursAgainstTheThreeSurfaces) {
    KeyState state = zeroedState();
    state.backdrop[0] = 1000.0f;
    state.backdrop[1] = 1000.0f;
    state.backdrop[2] = 1000.0f;
    fillRadii(100, 0, &state);
    fillRadii(200, 1, &state);
    fillRadii(400, 2, &state);
    const Compiled compiled(&state);
    ASSERT_EQ(compiled.result, 1);

    // The backdrop colour itself: every denominator is 0.
    const std::uint16_t backdrop[3] = {1000, 1000, 1000};
    const SurfaceRatios atBackdrop = surfaceRatiosMid16(backdrop, findHitFace(backdrop, &state), &state);
    EXPECT_EQ(atBackdrop.inner, 0.0f);
    EXPECT_EQ(atBackdrop.outer, 0.0f);
    EXPECT_EQ(atBackdrop.middle, 0.0f);
    EXPECT_EQ(atBackdrop.insideMiddle, 1);

    // Vertex 0 on the middle surface, measured on face 45 whose first stored vertex it is: exactly 1.
    const std::uint16_t onMiddle[3] = {1200, 1000, 1000};
    const SurfaceRatios middle = surfaceRatiosMid16(onMiddle, 45, &state);
    EXPECT_EQ(middle.middle, 1.0f);
    EXPECT_EQ(middle.insideMiddle, 0);
    EXPECT_NEAR(middle.inner, 0.5f, 1e-5f);
    EXPECT_NEAR(middle.outer, 2.0f, 1e-5f);

    // Just inside the middle surface along the same axis.
    const std::uint16_t inside[3] = {1199, 1000, 1000};
    const SurfaceRatios in = surfaceRatiosMid16(inside, findHitFace(inside, &state), &state);
    EXPECT_GT(in.middle, 1.0f);
    EXPECT_EQ(in.insideMiddle, 1);

    // Float and 16-bit ratios agree for integer colours; the plain form gives the same ratios.
    std::mt19937 random(3);
    std::uniform_int_distribution<int> channel(500, 1500);
    for (int trial = 0; trial < 500; ++trial) {
        const std::uint16_t colour[3] = {std::uint16_t(channel(random)), std::uint16_t(channel(random)),
                                         std::uint16_t(channel(random))};
        const float colourFloat[3] = {float(colour[0]), float(colour[1]), float(colour[2])};
        const int face = findHitFace(colour, &state);
        const SurfaceRatios a = surfaceRatiosMid16(colour, face, &state);
        const SurfaceRatios b = surfaceRatiosFloat(colourFloat, findHitFaceFloat(colourFloat, &state), &state);
        const SurfaceRatios c = surfaceRatios16(colour, face, &state);
        EXPECT_EQ(a.inner, b.inner);
        EXPECT_EQ(a.outer, b.outer);
        EXPECT_EQ(a.middle, b.middle);
        EXPECT_EQ(a.insideMiddle, b.insideMiddle);
        EXPECT_EQ(a.middle, c.middle);
        // Uniform radii 100, 200, 400: the ratios scale with the radii.
        if (a.inner != 0.0f) {
            EXPECT_LT(a.inner, a.middle);
            EXPECT_LT(a.middle, a.outer);
            EXPECT_NEAR(a.middle / a.inner, 2.0f, 1e-4f);
        }
    }
}

TEST(Polyhedron, SharedEdgesGiveTheSameRatioFromEitherFace) {
    KeyState state = zeroedState();
    state.backdrop[0] = 30000.0f;
    state.backdrop[1] = 20000.0f;
    state.backdrop[2] = 25000.0f;
    for (int v = 0; v < kVertexCount; ++v) {
        state.innerRadii[v] = 500.0f + 11.0f * float(v);
        state.middleRadii[v] = 1000.0f + 13.0f * float(v);
        state.outerRadii[v] = 2000.0f + 17.0f * float(v);
    }
    const Compiled compiled(&state);
    ASSERT_EQ(compiled.result, 1);
    // Every pair of faces that share an edge: at a point of that edge both planes give one ratio.
    int compared = 0;
    for (int f = 0; f < kFaceCount; ++f)
        for (int g = f + 1; g < kFaceCount; ++g) {
            int shared[2], count = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    if (kFaceVertices[f][i] == kFaceVertices[g][j] && count < 2) shared[count++] = kFaceVertices[f][i];
            if (count != 2) continue;
            // Point on the middle surface's edge, halfway.
            float p0[3], p1[3], point[3];
            vertexPosition(state.middleRadii, shared[0], p0, state.backdrop);
            vertexPosition(state.middleRadii, shared[1], p1, state.backdrop);
            for (int axis = 0; axis < 3; ++axis) point[axis] = (p0[axis] + p1[axis]) * 0.5f;
            const SurfaceRatios a = surfaceRatiosFloat(point, f, &state);
            const SurfaceRatios b = surfaceRatiosFloat(point, g, &state);
            EXPECT_NEAR(a.middle, 1.0f, 1e-4f);
            EXPECT_NEAR(a.middle, b.middle, 1e-4f) << f << " " << g;
            EXPECT_NEAR(a.inner, b.inner, 1e-4f) << f << " " << g;
            EXPECT_NEAR(a.outer, b.outer, 1e-4f) << f << " " << g;
            ++compared;
        }
    EXPECT_EQ(compared, 192);  // every edge of the closed mesh: 3 * 128 / 2
}

// Start-up may initialise the tables more than once: the later calls keep the one table (same
// storage, so pointers handed out stay good) and its values, each direction the lattice point
// divided by its length.
TEST(Polyhedron, TablesAreStableAcrossInitialisations) {
    initPolyhedronTables();
    const float* first = vertexDirection(0);
    initPolyhedronTables();
    EXPECT_EQ(vertexDirection(0), first);
    for (int v = 0; v < kVertexCount; ++v) {
        const double length = std::sqrt(double(lattice(v, 0) * lattice(v, 0) + lattice(v, 1) * lattice(v, 1) +
                                               lattice(v, 2) * lattice(v, 2)));
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_NEAR(vertexDirection(v)[axis], lattice(v, axis) / length, 1e-7) << v << " " << axis;
    }
}

TEST(Polyhedron, VectorHelpers) {
    const float a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
    float cross[3];
    vec3Cross(a, b, cross);
    EXPECT_EQ(cross[0], -3.0f);
    EXPECT_EQ(cross[1], 6.0f);
    EXPECT_EQ(cross[2], -3.0f);
    EXPECT_EQ(vec3Dot(a, b), 32.0f);
    float points[3][3] = {{0, 0, 0}, {2, 4, 6}, {0, 2, 0}};
    vec3Midpoint(points, 0, 1, 2);
    EXPECT_EQ(points[0][0], 1.0f);
    EXPECT_EQ(points[0][1], 3.0f);
    EXPECT_EQ(points[0][2], 3.0f);
    const float v[3] = {3, 0, 4};
    float unit[3];
    vec3Normalize(v, unit);
    EXPECT_FLOAT_EQ(unit[0], 0.6f);
    EXPECT_FLOAT_EQ(unit[2], 0.8f);
}

}  // namespace
}  // namespace vantrelo
