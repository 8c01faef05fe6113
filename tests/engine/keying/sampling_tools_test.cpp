#include "engine/keying/sampling_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/keying/key_float8.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using sampling_test::distanceFrom;
using sampling_test::makeState;
using sampling_test::nested;
using sampling_test::samplesAround;
using sampling_test::surfaceRatio;

using ListTool = void (*)(const std::uint16_t*, int, int, KeyState*);
using StepTool = void (*)(Sample16, KeyState*);

void growOuterConst(const std::uint16_t* samples, int width, int height, KeyState* state) {
    std::vector<std::uint16_t> copy(samples, samples + 4 * std::size_t(width) * std::size_t(height));
    growOuterToSamples(copy.data(), width, height, state);
}

float* radiiOf(KeyState& state, int which) {
    return which == 0 ? state.innerRadii : which == 1 ? state.middleRadii : state.outerRadii;
}

bool sameRecord(const KeyState& a, const KeyState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The crossed face's vertices and the colour's direction's barycentric weights on the flat
// triangle of their unit directions, worked in double precision from the lattice points: the point
// where the direction meets the triangle's plane, then the sub-triangle areas.
struct FaceWeights {
    int vertex[3];
    double weight[3];
};
FaceWeights weightsInDouble(const KeyState& state, const std::uint16_t* colour) {
    FaceWeights out{};
    const int code = findHitFace(colour, &state);
    double d[3][3];
    for (int k = 0; k < 3; ++k) {
        out.vertex[k] = kFaceVertices[code][k];
        const std::int8_t* lattice = kVertexLattice[out.vertex[k]];
        const double length = std::sqrt(double(lattice[0] * lattice[0] + lattice[1] * lattice[1] + lattice[2] * lattice[2]));
        for (int c = 0; c < 3; ++c) d[k][c] = lattice[c] / length;
    }
    using V = std::array<double, 3>;
    const auto minus = [](const V& a, const V& b) { return V{a[0] - b[0], a[1] - b[1], a[2] - b[2]}; };
    const auto cross = [](const V& a, const V& b) {
        return V{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    };
    const auto dot = [](const V& a, const V& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    const V d0{d[0][0], d[0][1], d[0][2]}, d1{d[1][0], d[1][1], d[1][2]}, d2{d[2][0], d[2][1], d[2][2]};
    V s;
    for (int c = 0; c < 3; ++c) s[c] = double(colour[c]) - double(state.backdrop[c]);
    const V normal = cross(minus(d1, d0), minus(d2, d0));
    const double t = dot(normal, d0) / dot(normal, s);
    const V x{t * s[0], t * s[1], t * s[2]};
    const double area = dot(normal, normal);
    out.weight[0] = dot(cross(minus(d1, x), minus(d2, x)), normal) / area;
    out.weight[1] = dot(cross(minus(d2, x), minus(d0, x)), normal) / area;
    out.weight[2] = dot(cross(minus(d0, x), minus(d1, x)), normal) / area;
    return out;
}

Sample16 sampleOf(const std::uint16_t* c) { return Sample16{{c[0], c[1], c[2], c[3]}}; }

class SamplingTools : public ::testing::Test {
protected:
    void SetUp() override { initPolyhedronTables(); }
};

// The weights are barycentric coordinates of the colour's direction on the flat triangle of the
// face's unit directions: they add up to 1, lie in [0, 1] and rebuild the direction.
TEST_F(SamplingTools, IntersectFaceWeightsRebuildTheColoursDirection) {
    const KeyState state = makeState(21000.5f, 40000.0f, 9000.0f, 1, 1, 1);
    const std::vector<std::uint16_t> samples = samplesAround(state, 2000, 2.0, 70000.0, 7);
    int failures = 0;
    for (std::size_t i = 0; i < samples.size(); i += 4) {
        const std::uint16_t* c = &samples[i];
        int face[3] = {-1, -1, -1};
        float w[3];
        if (intersectFace(c, face, w, &state) != 1) {
            ++failures;
            continue;
        }
        const int code = findHitFace(c, &state);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(face[k], kFaceVertices[code][k]);
        EXPECT_NEAR(w[0] + w[1] + w[2], 1.0f, 1e-5f);
        double rebuilt[3] = {0, 0, 0}, n[3];
        for (int k = 0; k < 3; ++k) {
            EXPECT_GE(w[k], 0.0f);
            EXPECT_LE(w[k], 1.0f);
            for (int a = 0; a < 3; ++a) rebuilt[a] += w[k] * vertexDirection(face[k])[a];
        }
        for (int a = 0; a < 3; ++a) n[a] = c[a] - double(state.backdrop[a]);
        const double cross[3] = {rebuilt[1] * n[2] - rebuilt[2] * n[1], rebuilt[2] * n[0] - rebuilt[0] * n[2],
                                 rebuilt[0] * n[1] - rebuilt[1] * n[0]};
        const double sine = std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]) /
                            (std::sqrt(rebuilt[0] * rebuilt[0] + rebuilt[1] * rebuilt[1] + rebuilt[2] * rebuilt[2]) *
                             distanceFrom(state, c));
        EXPECT_LT(sine, 1e-3) << "sample " << i / 4;
    }
    // Only directions within a few ten-thousandths of a radian of a vertex can fail.
    EXPECT_LE(failures, 2);
}

TEST_F(SamplingTools, IntersectFaceOnAVertexDirectionWeightsThatVertexAlone) {
    const KeyState state = makeState(30000, 30000, 30000, 1, 1, 1);
    for (int v = 0; v < kVertexCount; ++v) {
        std::uint16_t c[4];
        for (int a = 0; a < 3; ++a) c[a] = std::uint16_t(30000 + 2000 * kVertexLattice[v][a]);
        c[3] = 0;
        int face[3];
        float w[3];
        ASSERT_EQ(intersectFace(c, face, w, &state), 1) << "vertex " << v;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(w[k], face[k] == v ? 1.0f : 0.0f) << "vertex " << v;
    }
}

TEST_F(SamplingTools, IntersectFaceWithinDistanceOneOfTheBackdropFailsAndWritesNothing) {
    const KeyState state = makeState(1000.5f, 2000.0f, 3000.0f, 1, 1, 1);
    const std::uint16_t colours[][4] = {{1000, 2000, 3000, 0}, {1001, 2000, 3000, 0}, {1000, 2000, 3000, 9}};
    for (const auto& c : colours) {
        int face[3] = {-7, -7, -7};
        float w[3] = {-7, -7, -7};
        EXPECT_EQ(intersectFace(c, face, w, &state), -1);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(face[k], -7);
            EXPECT_EQ(w[k], -7.0f);
        }
    }
}

// A direction a little off the first vertex of its face leaves the plane through d0 and the colour
// almost parallel to the opposite edge: the colour is reported and skipped.
TEST_F(SamplingTools, DegenerateFaceIsReportedOnStandardErrorAndTheSampleSkipped) {
    KeyState state = makeState(20000, 20000, 20000, 100, 100, 100);
    const std::uint16_t c[4] = {29996, 19998, 20001, 0};
    int face[3];
    float w[3];
    testing::internal::CaptureStderr();
    EXPECT_EQ(intersectFace(c, face, w, &state), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error : Axis mis-definision (1)\n");

    const KeyState before = state;
    testing::internal::CaptureStderr();
    growInnerToSamples(c, 1, 1, &state);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error : Axis mis-definision (1)\n");
    EXPECT_TRUE(sameRecord(state, before));
}

// A direction on the rim of its looked-up face can cross the plane through d0 outside the opposite
// edge: that colour is skipped without a message, its weights unwritten.
TEST_F(SamplingTools, CrossingOutsideTheOppositeEdgeIsSkippedSilently) {
    KeyState state = makeState(30000, 30000, 30000, 100, 100, 100);
    const std::uint16_t c[4] = {31342, 29842, 31500, 0};
    int face[3] = {-7, -7, -7};
    float w[3] = {-7, -7, -7};
    testing::internal::CaptureStderr();
    EXPECT_EQ(intersectFace(c, face, w, &state), -3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const int code = findHitFace(c, &state);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(face[k], kFaceVertices[code][k]);  // the face is known by then
        EXPECT_EQ(w[k], -7.0f);
    }
    const KeyState before = state;
    growInnerToSamples(c, 1, 1, &state);
    shrinkOuterFromSamples(c, 1, 1, &state);
    growOuterAtColour(sampleOf(c), &state);
    EXPECT_TRUE(sameRecord(state, before));
}

TEST_F(SamplingTools, FaceSideOfSampleTellsInsideFromOutside) {
    const KeyState state = makeState(30000, 30000, 30000, 1, 1, 1);
    const float radii[3] = {1000, 1000, 1000};
    struct Case {
        std::uint16_t colour[4];
        int side;
    } cases[] = {
        {{30300, 30200, 30100, 0}, -1},  // well inside
        {{31200, 30500, 30100, 0}, 1},   // well outside
        {{30000, 30000, 30000, 0}, 1},   // the backdrop colour itself has no direction
        {{29000, 29500, 29900, 0}, 1},
        {{29800, 29900, 29950, 0}, -1},
    };
    for (const Case& c : cases) {
        const int face = findHitFace(c.colour, &state);
        EXPECT_EQ(faceSideOfSample(radii, kFaceVertices[face], c.colour, &state), c.side)
            << c.colour[0] << " " << c.colour[1] << " " << c.colour[2];
    }
}

// The list tools' central promise: after a grow every sample lies inside the grown surface (or
// within the bisection's last step, under one unit of radius), and no radius went down; near-vertex
// samples instead set their vertex from their distance.
TEST_F(SamplingTools, GrowListToolsEncloseEverySampleAndNeverLowerARadius) {
    struct Tool {
        const char* name;
        int which;
    } tools[] = {{"inner", 0}, {"middle", 1}, {"outer", 2}};
    for (const Tool& tool : tools) {
        KeyState state = makeState(20000, 45000, 15000, 50, 50, 50);
        std::vector<std::uint16_t> samples = samplesAround(state, 300, 500.0, 30000.0, 11 + tool.which);
        const int n = int(samples.size() / 4);
        const KeyState before = state;
        if (tool.which == 0) growInnerToSamples(samples.data(), n, 1, &state);
        if (tool.which == 1) growMiddleToSamples(samples.data(), n, 1, &state);
        if (tool.which == 2) growOuterToSamples(samples.data(), n, 1, &state);  // pushes `samples`

        const float* radii = radiiOf(state, tool.which);
        const float* old = radiiOf(const_cast<KeyState&>(before), tool.which);
        for (int v = 0; v < kVertexCount; ++v) EXPECT_GE(radii[v], old[v]) << tool.name << " vertex " << v;
        int skipped = 0;
        for (int i = 0; i < n; ++i) {
            const std::uint16_t* c = &samples[4 * i];
            int face[3];
            float w[3];
            if (intersectFace(c, face, w, &state) != 1) {
                ++skipped;
                continue;
            }
            const int k = int(std::max_element(w, w + 3) - w);
            if (w[k] > 0.999f) {
                EXPECT_GE(radii[face[k]], float(distanceFrom(state, c) * 1.01) * 0.9999f);
                continue;
            }
            EXPECT_GE(surfaceRatio(radii, state, c, 1.0), 1.0) << tool.name << " sample " << i;
        }
        EXPECT_LE(skipped, 2) << tool.name;
        // The tool changed only its own polyhedron.
        for (int which = 0; which < 3; ++which) {
            if (which == tool.which) continue;
            EXPECT_EQ(std::memcmp(radiiOf(state, which), radiiOf(const_cast<KeyState&>(before), which),
                                  sizeof state.innerRadii),
                      0);
        }
    }
}

TEST_F(SamplingTools, ShrinkListToolsExcludeEverySampleAndNeverRaiseARadius) {
    struct Tool {
        ListTool run;
        int which;
    } tools[] = {{shrinkInnerFromSamples, 0}, {shrinkMiddleFromSamples, 1}, {shrinkOuterFromSamples, 2}};
    for (const Tool& tool : tools) {
        KeyState state = makeState(20000, 45000, 15000, 60000, 60000, 60000);
        const std::vector<std::uint16_t> samples = samplesAround(state, 300, 500.0, 20000.0, 21 + tool.which);
        const int n = int(samples.size() / 4);
        const KeyState before = state;
        tool.run(samples.data(), n, 1, &state);
        const float* radii = radiiOf(state, tool.which);
        const float* old = radiiOf(const_cast<KeyState&>(before), tool.which);
        for (int v = 0; v < kVertexCount; ++v) EXPECT_LE(radii[v], old[v]) << "vertex " << v;
        int skipped = 0;
        for (int i = 0; i < n; ++i) {
            const std::uint16_t* c = &samples[4 * i];
            int face[3];
            float w[3];
            if (intersectFace(c, face, w, &state) != 1) {
                ++skipped;
                continue;
            }
            // The inward bisection stops within 0.1 of a scale that is at least 3 here, so the
            // surface may still reach a few percent past the sample.
            EXPECT_LE(surfaceRatio(radii, state, c), 1.035) << "sample " << i;
        }
        EXPECT_LE(skipped, 2);
    }
}

TEST_F(SamplingTools, NearVertexSampleSetsThatVertexFromItsDistance) {
    const float start = 100.0f;
    // Exactly on the +R axis and, found by its weights, just off vertex 0 of another face.
    std::vector<std::vector<std::uint16_t>> colours = {{30000, 20000, 20000, 0}};
    {
        const KeyState probe = makeState(20000, 20000, 20000, 1, 1, 1);
        bool found = false;
        for (int dy = 0; dy < 5 && !found; ++dy)
            for (int dz = -4; dz < 5 && !found; ++dz) {
                const std::uint16_t c[4] = {29996, std::uint16_t(19996 + dy), std::uint16_t(20000 + dz), 0};
                int face[3];
                float w[3];
                if (intersectFace(c, face, w, &probe) != 1) continue;
                const float top = *std::max_element(w, w + 3);
                if (top > 0.999f && top < 1.0f) {
                    colours.push_back({c[0], c[1], c[2], 0});
                    found = true;
                }
            }
        ASSERT_TRUE(found);
    }
    for (const auto& c : colours) {
        for (bool grow : {true, false}) {
            KeyState state = makeState(20000, 20000, 20000, start, start, grow ? start : 60000.0f);
            int face[3];
            float w[3];
            ASSERT_EQ(intersectFace(c.data(), face, w, &state), 1);
            const int k = int(std::max_element(w, w + 3) - w);
            const double d = distanceFrom(state, c.data());
            if (grow)
                growInnerToSamples(c.data(), 1, 1, &state);
            else
                shrinkOuterFromSamples(c.data(), 1, 1, &state);
            const float* radii = grow ? state.innerRadii : state.outerRadii;
            EXPECT_EQ(radii[face[k]], float(d * (grow ? 1.01 : 0.99)));
            for (int j = 0; j < 3; ++j) {
                if (j == k) continue;
                EXPECT_EQ(radii[face[j]], grow ? start : 60000.0f);
            }
        }
    }
    // Only if that moves the radius the right way: a larger radius stays.  Small neighbours keep the
    // just-off-vertex sample outside its face, so the fit runs.
    KeyState state = makeState(20000, 20000, 20000, 5, 5, 5);
    const std::uint16_t* c = colours[1].data();
    int face[3];
    float w[3];
    ASSERT_EQ(intersectFace(c, face, w, &state), 1);
    const int k = int(std::max_element(w, w + 3) - w);
    state.innerRadii[face[k]] = 20000.0f;
    ASSERT_GT(surfaceRatio(state.innerRadii, state, c), 0.0);
    ASSERT_LT(surfaceRatio(state.innerRadii, state, c), 1.0);
    growInnerToSamples(c, 1, 1, &state);
    EXPECT_EQ(state.innerRadii[face[k]], 20000.0f);
}

TEST_F(SamplingTools, SamplesAlreadyOnTheWantedSideChangeNothing) {
    KeyState state = makeState(20000, 45000, 15000, 5000, 5000, 5000);
    const std::uint16_t inside[4] = {21000, 44000, 15500, 0};
    const std::uint16_t outside[4] = {40000, 30000, 15500, 0};
    const KeyState before = state;
    growInnerToSamples(inside, 1, 1, &state);
    growMiddleToSamples(inside, 1, 1, &state);
    shrinkOuterFromSamples(outside, 1, 1, &state);
    shrinkInnerFromSamples(outside, 1, 1, &state);
    EXPECT_TRUE(sameRecord(state, before));
}

// Samples are fitted one after another: a list gives what the same samples one by one give.
TEST_F(SamplingTools, EachSampleIsFittedAgainstTheRadiiTheSamplesBeforeItLeft) {
    KeyState reference = makeState(20000, 45000, 15000, 50, 50, 60000);
    const std::vector<std::uint16_t> samples = samplesAround(reference, 40, 1000.0, 25000.0, 5);
    const std::vector<std::uint16_t> pair = {30000, 30000, 15000, 0, 31000, 29000, 15000, 0};  // one face
    for (const std::vector<std::uint16_t>* list : {&samples, &pair}) {
        KeyState together = reference, alone = reference;
        const int n = int(list->size() / 4);
        growInnerToSamples(list->data(), n, 1, &together);
        shrinkOuterFromSamples(list->data(), n, 1, &together);
        for (int i = 0; i < n; ++i) growInnerToSamples(list->data() + 4 * i, 1, 1, &alone);
        for (int i = 0; i < n; ++i) shrinkOuterFromSamples(list->data() + 4 * i, 1, 1, &alone);
        EXPECT_TRUE(sameRecord(together, alone));
        EXPECT_FALSE(sameRecord(together, reference));
    }
}

// The generated polyhedron numbers the faces of the same mesh differently; the tools fit the fixed
// mesh's radii, so the flag must not change which vertices they move.
TEST_F(SamplingTools, GeneratedPolyhedronFlagLeavesTheFittedFacesAlone) {
    KeyState plain = makeState(20000, 45000, 15000, 50, 5000, 60000);
    const std::vector<std::uint16_t> samples = samplesAround(plain, 60, 1000.0, 40000.0, 17);
    KeyState generated = plain;
    generated.flags = KeyFlagGeneratedPolyhedron;
    for (KeyState* state : {&plain, &generated}) {
        growInnerToSamples(samples.data(), 30, 1, state);
        shrinkOuterFromSamples(samples.data() + 120, 30, 1, state);
        growMiddleAtColour(sampleOf(samples.data()), state);
    }
    generated.flags = 0;
    EXPECT_TRUE(sameRecord(plain, generated));
}

TEST_F(SamplingTools, EmptyOrMissingListsChangeNothing) {
    KeyState state = testing_keys::blankState();  // with the keyers' starting values
    testing_keys::setUniformRadii(state, 20000, 45000, 15000, 50, 500, 5000);
    state.flags = KeyFlagUseRT | KeyFlagUseRTPlus | KeyFlagPrefilterSamples;
    std::uint16_t samples[4 * 4] = {60000, 1000, 1000, 0, 60000, 1000, 1000, 0, 60000, 1000, 1000, 0,
                                    60000, 1000, 1000, 0};
    const KeyState before = state;
    const int sizes[][2] = {{0, 1}, {1, 0}, {0, 0}, {-2, -2}, {-1, 4}};
    for (const auto& size : sizes) {
        growInnerToSamples(samples, size[0], size[1], &state);
        growOuterToSamples(samples, size[0], size[1], &state);
        shrinkMiddleFromSamples(samples, size[0], size[1], &state);
    }
    growInnerToSamples(nullptr, 2, 2, &state);
    growOuterToSamples(nullptr, 2, 2, &state);
    EXPECT_TRUE(sameRecord(state, before));
    EXPECT_EQ(samples[0], 60000);
}

TEST_F(SamplingTools, GrowOuterPushesTheCallersSamplesTenPercentOutwardInPlace) {
    KeyState state = makeState(10000, 20000, 30000, 1, 1, 1);
    std::uint16_t samples[] = {10100, 20200, 29000, 77, 65000, 20000, 30000, 5};
    growOuterToSamples(samples, 2, 1, &state);
    const std::uint16_t once[] = {10110, 20220, 28900, 77, 65535, 20000, 30000, 5};
    EXPECT_EQ(std::memcmp(samples, once, sizeof once), 0);
    growOuterToSamples(samples, 2, 1, &state);  // the second call sees the pushed list
    const std::uint16_t twice[] = {10121, 20242, 28790, 77, 65535, 20000, 30000, 5};
    EXPECT_EQ(std::memcmp(samples, twice, sizeof twice), 0);

    // With the pre-filter the tool works on its own copy and the caller's block stays.
    state.flags = KeyFlagPrefilterSamples;
    std::uint16_t block[9 * 4];
    for (int i = 0; i < 9; ++i) {
        block[4 * i] = std::uint16_t(12000 + 100 * i);
        block[4 * i + 1] = 20000;
        block[4 * i + 2] = 30000;
        block[4 * i + 3] = 0;
    }
    std::uint16_t copy[9 * 4];
    std::memcpy(copy, block, sizeof block);
    growOuterToSamples(block, 3, 3, &state);
    EXPECT_EQ(std::memcmp(copy, block, sizeof block), 0);
}

TEST_F(SamplingTools, PushSampleOutwardLimitsToTheSixteenBitRange) {
    const KeyState state = makeState(30000, 30000, 30000, 1, 1, 1);
    std::uint16_t s[4] = {65535, 0, 30001, 9};
    pushSampleOutward(s, &state);
    EXPECT_EQ(s[0], 65535);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 30001);  // 30001.1 truncated
    EXPECT_EQ(s[3], 9);
}

// The pre-filter gives each interior sample the median-by-luma of its neighbourhood; a tool on a
// pre-filtered block does exactly what it does on the list of those medians.
TEST_F(SamplingTools, PrefilterWorksOnMediansOfInteriorNeighbourhoods) {
    KeyState state = makeState(20000, 45000, 15000, 50, 50, 50);
    state.flags = KeyFlagPrefilterSamples;
    const int width = 4, height = 3;
    std::vector<std::uint16_t> block = samplesAround(state, width * height, 3000.0, 30000.0, 99);
    const std::vector<std::uint16_t> original = block;

    std::ptrdiff_t count = width * height;
    const std::uint16_t* list = gatherSamples(block.data(), width, height, &state, &count);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list, block.data());
    ASSERT_EQ(count, 2);
    EXPECT_EQ(block, original);
    auto luma = [](const std::uint16_t* p) { return std::int64_t(p[1] * 0.5864 + p[0] * 0.299 + p[2] * 0.1146); };
    for (int x = 1; x <= 2; ++x) {
        std::vector<const std::uint16_t*> around;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) around.push_back(&block[4 * ((1 + dy) * width + x + dx)]);
        std::sort(around.begin(), around.end(),
                  [&](const std::uint16_t* a, const std::uint16_t* b) { return luma(a) < luma(b); });
        ASSERT_NE(luma(around[3]), luma(around[4]));  // a unique median makes the check exact
        ASSERT_NE(luma(around[4]), luma(around[5]));
        for (int c = 0; c < 3; ++c) EXPECT_EQ(list[4 * (x - 1) + c], around[4][c]);
    }
    std::vector<std::uint16_t> medians(list, list + 4 * count);
    engineRelease(const_cast<std::uint16_t*>(list));

    KeyState filtered = state, direct = state;
    direct.flags = 0;
    growMiddleToSamples(block.data(), width, height, &filtered);
    growMiddleToSamples(medians.data(), 2, 1, &direct);
    direct.flags = filtered.flags;
    EXPECT_TRUE(sameRecord(filtered, direct));

    // Narrower or lower than three samples, or without the flag: the caller's list as it is.
    for (const auto& size : {std::pair{2, 3}, std::pair{4, 2}}) {
        count = 77;
        EXPECT_EQ(gatherSamples(block.data(), size.first, size.second, &state, &count), block.data());
        EXPECT_EQ(count, 77);
    }
    state.flags = 0;
    EXPECT_EQ(gatherSamples(block.data(), width, height, &state, &count), block.data());
}

void* failingAllocate(std::size_t) { return nullptr; }

TEST_F(SamplingTools, FailedScratchAllocationLeavesTheKeyAsItWas) {
    KeyState state = testing_keys::blankState();
    testing_keys::setUniformRadii(state, 20000, 45000, 15000, 50, 50, 60000);
    state.flags = KeyFlagPrefilterSamples | KeyFlagUseRT | KeyFlagUseRTPlus;
    std::vector<std::uint16_t> block = samplesAround(state, 9, 3000.0, 30000.0, 3);
    const std::vector<std::uint16_t> original = block;
    const KeyState before = state;

    const AllocatorHooks saved = allocatorHooks();
    const AllocatorHooks failing = {failingAllocate, std::free};
    setAllocatorHooks(&failing);
    growInnerToSamples(block.data(), 3, 3, &state);
    growOuterToSamples(block.data(), 3, 3, &state);
    shrinkOuterFromSamples(block.data(), 3, 3, &state);
    std::ptrdiff_t count = 9;
    EXPECT_EQ(gatherSamples(block.data(), 3, 3, &state, &count), nullptr);
    EXPECT_EQ(count, 9);
    setAllocatorHooks(&saved);

    EXPECT_TRUE(sameRecord(state, before));
    EXPECT_EQ(block, original);
}

TEST_F(SamplingTools, StepToolsScaleTheCrossedFaceByTheirStep) {
    struct Tool {
        StepTool run;
        int which;
        bool grow;
    } tools[] = {{growOuterAtColour, 2, true},   {growMiddleAtColour, 1, true},  {growInnerAtColour, 0, true},
                 {shrinkInnerAtColour, 0, false}, {shrinkMiddleAtColour, 1, false}, {shrinkOuterAtColour, 2, false}};
    const std::uint16_t colour[4] = {31000, 41000, 17000, 0};
    for (const Tool& tool : tools) {
        KeyState state = makeState(20000, 45000, 15000, 1000, 2000, 3000);
        for (int v = 0; v < kVertexCount; ++v) radiiOf(state, tool.which)[v] += float(v);
        const KeyState before = state;
        // Three clearly different weights, so a weight given to the wrong vertex shows.
        const FaceWeights face = weightsInDouble(state, colour);
        for (int k = 0; k < 3; ++k) {
            ASSERT_GT(face.weight[k], 0.05);
            ASSERT_GT(std::fabs(face.weight[k] - face.weight[(k + 1) % 3]), 0.05);
        }
        tool.run(sampleOf(colour), &state);

        // The three crossed vertices scaled by 1 + 0.07 w (grow) or 1 - 0.0654 w (shrink); single
        // precision keeps the radii within a hundredth of the double-precision value.
        KeyState expected = before;
        float* radii = radiiOf(expected, tool.which);
        for (int k = 0; k < 3; ++k) {
            const int v = face.vertex[k];
            const double scaled = radii[v] * (tool.grow ? 1.0 + 0.07 * face.weight[k] : 1.0 - 0.0654 * face.weight[k]);
            EXPECT_NEAR(radiiOf(state, tool.which)[v], scaled, 0.01) << "vertex " << v;
            radii[v] = radiiOf(state, tool.which)[v];
        }
        EXPECT_TRUE(sameRecord(state, expected)) << "only the crossed face's radii change";
        EXPECT_FALSE(sameRecord(state, before));

        // The backdrop colour itself has no direction: nothing moves.
        const std::uint16_t backdrop[4] = {20000, 45000, 15000, 0};
        tool.run(sampleOf(backdrop), &state);
        EXPECT_TRUE(sameRecord(state, expected));
    }
}

// The application follows most tools with a nesting step; with it inner <= middle <= outer holds
// on every vertex, and the tools themselves leave nesting to the caller.
TEST_F(SamplingTools, NestingHoldsAfterEachToolFollowedByItsNestingStep) {
    struct ListCase {
        const char* name;
        ListTool run;
        int mode;  // -1: the application takes no nesting step after this tool
    } listCases[] = {{"growInner", growInnerToSamples, 0},         {"growMiddle", growMiddleToSamples, 1},
                     {"growOuter", growOuterConst, -1},             {"shrinkOuter", shrinkOuterFromSamples, 2},
                     {"shrinkMiddle", shrinkMiddleFromSamples, 1}, {"shrinkInner", shrinkInnerFromSamples, 0}};
    struct StepCase {
        const char* name;
        StepTool run;
        int mode;
    } stepCases[] = {{"growOuterAt", growOuterAtColour, -1},     {"growMiddleAt", growMiddleAtColour, 1},
                     {"growInnerAt", growInnerAtColour, 0},      {"shrinkInnerAt", shrinkInnerAtColour, -1},
                     {"shrinkMiddleAt", shrinkMiddleAtColour, 1}, {"shrinkOuterAt", shrinkOuterAtColour, 2}};

    auto startState = [] {
        KeyState state = makeState(20000, 45000, 15000, 0, 0, 0);
        for (int v = 0; v < kVertexCount; ++v) {
            state.innerRadii[v] = 3000.0f + 40.0f * v;
            state.middleRadii[v] = 9000.0f + 30.0f * v;
            state.outerRadii[v] = 20000.0f + 20.0f * v;
        }
        return state;
    };
    const KeyState reference = startState();
    const std::vector<std::uint16_t> samples = samplesAround(reference, 200, 1000.0, 45000.0, 77);
    const int n = int(samples.size() / 4);
    bool innerPassedMiddle = false, outerFellBelowMiddle = false;
    for (const ListCase& c : listCases) {
        KeyState state = startState();
        c.run(samples.data(), n, 1, &state);
        for (int v = 0; v < kVertexCount; ++v) {
            innerPassedMiddle |= state.innerRadii[v] > state.middleRadii[v];
            outerFellBelowMiddle |= state.outerRadii[v] < state.middleRadii[v];
        }
        if (c.mode >= 0) enforceNesting(c.mode, &state);
        EXPECT_TRUE(nested(state)) << c.name;
    }
    EXPECT_TRUE(innerPassedMiddle);     // growInner did not nest on its own
    EXPECT_TRUE(outerFellBelowMiddle);  // nor did shrinkOuter
    for (const StepCase& c : stepCases) {
        KeyState state = startState();
        // Repeated steps drive the stepped polyhedron through its neighbours.
        for (int round = 0; round < 25; ++round)
            for (int i = 0; i < 40; ++i) {
                c.run(sampleOf(&samples[4 * i]), &state);
                if (c.mode >= 0) enforceNesting(c.mode, &state);
            }
        EXPECT_TRUE(nested(state)) << c.name;
    }
}

TEST_F(SamplingTools, EnforceNestingModes) {
    struct Case {
        int mode;
        float inner, middle, outer;
        float wantInner, wantMiddle, wantOuter;
    } cases[] = {
        {0, 5, 3, 1, 5, 5, 5},  {1, 5, 3, 1, 3, 3, 3}, {2, 5, 3, 1, 1, 1, 1},
        {0, 1, 3, 2, 1, 3, 3},  {2, 2, 1, 3, 1, 1, 3}, {7, 5, 3, 1, 5, 3, 1},
        {-1, 5, 3, 1, 5, 3, 1}, {1, 1, 2, 3, 1, 2, 3},
    };
    for (const Case& c : cases) {
        KeyState state = makeState(0, 0, 0, c.inner, c.middle, c.outer);
        enforceNesting(c.mode, &state);
        for (int v = 0; v < kVertexCount; ++v) {
            EXPECT_EQ(state.innerRadii[v], c.wantInner) << "mode " << c.mode;
            EXPECT_EQ(state.middleRadii[v], c.wantMiddle) << "mode " << c.mode;
            EXPECT_EQ(state.outerRadii[v], c.wantOuter) << "mode " << c.mode;
        }
    }
}

// With a keyer flag each tool drives the engine-wide keyer with the same samples: the keyer values
// come out as the keyer's own entry point leaves them.
TEST_F(SamplingTools, AlternativeKeyersFollowTheStrokes) {
    using Entry = std::int32_t (VantreloBase::*)(const std::uint16_t*, std::ptrdiff_t, KeyState*);
    struct Case {
        const char* name;
        ListTool list;
        StepTool step;
        Entry entry;
    } cases[] = {
        {"growInner", growInnerToSamples, nullptr, &VantreloBase::applyGrowInner},
        {"growMiddle", growMiddleToSamples, nullptr, &VantreloBase::applyGrowMiddle},
        {"growOuter", growOuterConst, nullptr, &VantreloBase::applyGrowOuterStep},
        {"shrinkOuter", shrinkOuterFromSamples, nullptr, &VantreloBase::applyShrinkOuter},
        {"shrinkMiddle", shrinkMiddleFromSamples, nullptr, &VantreloBase::applyShrinkMiddle},
        {"shrinkInner", shrinkInnerFromSamples, nullptr, &VantreloBase::applyShrinkInner},
        {"growOuterAt", nullptr, growOuterAtColour, &VantreloBase::growOuterBy},
        {"shrinkInnerAt", nullptr, shrinkInnerAtColour, &VantreloBase::shrinkInnerBy},
        {"growMiddleAt", nullptr, growMiddleAtColour, &VantreloBase::growMiddleBy},
    };
    const std::uint16_t samples[] = {30000, 50000, 12000, 0, 26000, 52000, 14000, 0, 40000, 30000, 20000, 0};
    int moved = 0, total = 0;
    for (std::uint32_t flags : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus),
                                std::uint32_t(KeyFlagUseRT | KeyFlagUseRTPlus)}) {
        for (const Case& c : cases) {
            KeyState state = testing_keys::blankState();
            state.backdrop[0] = 20000, state.backdrop[1] = 45000, state.backdrop[2] = 15000;
            state.flags = flags;
            KeyState oracle = state;
            const KeyState start = state;
            std::vector<VantreloBase*> keyers;
            if (flags & KeyFlagUseRTPlus) keyers.push_back(engineHexagonKeyer());
            if (flags & KeyFlagUseRT) keyers.push_back(engineThresholdKeyer());
            // The step operations measure with the instance's last compile, so both routes start
            // from the same one.
            for (VantreloBase* keyer : keyers) keyer->compile(&state);
            if (c.list)
                c.list(samples, 3, 1, &state);
            else
                c.step(sampleOf(samples), &state);
            for (VantreloBase* keyer : keyers) keyer->compile(&oracle);
            for (VantreloBase* keyer : keyers) (keyer->*c.entry)(samples, c.list ? 3 : 1, &oracle);
            EXPECT_EQ(std::memcmp(state.thresholds, oracle.thresholds, sizeof state.thresholds), 0) << c.name;
            EXPECT_EQ(std::memcmp(state.hexagonRadii, oracle.hexagonRadii, sizeof state.hexagonRadii), 0)
                << c.name;
            ++total;
            moved += std::memcmp(state.thresholds, start.thresholds, sizeof state.thresholds) != 0 ||
                     std::memcmp(state.hexagonRadii, start.hexagonRadii, sizeof state.hexagonRadii) != 0;
        }
    }
    EXPECT_GE(moved, total * 2 / 3);  // the comparison above is not between two untouched records
}

TEST_F(SamplingTools, ScaleHelpersSkipZeroWeights) {
    const float w[3] = {0.5f, 0.0f, 0.25f};
    float grown[3] = {100, 100, 100};
    growRadiiToScale(1000, w, grown);
    EXPECT_EQ(grown[0], 500.0f);
    EXPECT_EQ(grown[1], 100.0f);
    EXPECT_EQ(grown[2], 250.0f);
    float shrunk[3] = {1000, 1000, 1000};
    shrinkRadiiToScale(655.35f, w, shrunk);
    EXPECT_FLOAT_EQ(shrunk[0], 200.0f);
    EXPECT_EQ(shrunk[1], 1000.0f);
    EXPECT_FLOAT_EQ(shrunk[2], 400.0f);
    EXPECT_EQ(max3(1, 3, 2), 3.0f);
    EXPECT_EQ(min3(1, 3, -2), -2.0f);
    KeyState state = makeState(0, 0, 0, 7, 8, 9);
    resetRadiiToOne(&state);
    EXPECT_TRUE(nested(state));
    EXPECT_EQ(state.innerRadii[65] + state.middleRadii[0] + state.outerRadii[33], 3.0f);
}

}  // namespace
}  // namespace vantrelo
