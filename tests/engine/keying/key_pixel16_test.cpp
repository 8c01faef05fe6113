#include "engine/keying/key_pixel16.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_float8.h"
#include "engine/keying/keyer.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/span_kernels.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::Compiled;
using testing_keys::pixelsAround;
using testing_keys::setReplacementColour;
using testing_keys::shapedKey;
using testing_keys::uniformKey;

using Pixel = std::array<std::uint16_t, 4>;

// Keys one pixel through the state's compiled callback (X = Y unless a key pixel is given).
Pixel spanKey(const KeyState& state, Pixel x, const Pixel* y = nullptr, const Pixel* s = nullptr,
              const Pixel* m = nullptr, std::uint32_t flags = ~0u) {
    Pixel out{0xabcd, 0xabcd, 0xabcd, 0xabcd};
    vantproc(x.data(), y ? y->data() : x.data(), s ? s->data() : nullptr, m ? m->data() : nullptr, out.data(), 1,
             &state, flags == ~0u ? state.flags : flags);
    return out;
}

Pixel referenceKey(const KeyState& state, Pixel x, const Pixel* y = nullptr, const Pixel* s = nullptr) {
    Pixel out{0xabcd, 0xabcd, 0xabcd, 0xabcd};
    keyPixel16(x.data(), y ? y->data() : x.data(), s ? s->data() : nullptr, out.data(), &state);
    return out;
}

void expectNear(const Pixel& actual, const Pixel& expected, int tolerance, const char* what) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(actual[c], expected[c], tolerance) << what << " channel " << c;
}

TEST(KeyPixel16, ColourBetweenTheSurfacesOnTheGreenVertexKeysHalfOpaque) {
    // Backdrop (200, 400, 200), radii 100 / 200 / 300; (200, 550, 200) lies 150 out along +G:
    // t_in = 2/3, t_mid = 4/3, t_out = 2, matte 1/2, spill weight 1/4.
    const Pixel colour{200, 550, 200, 0};
    for (std::uint32_t direct : {0u, std::uint32_t(KeyFlagDirectCallbacks)}) {
        KeyState complement = uniformKey(200, 400, 200, 100, 200, 300, KeyFlagSpillComplement | direct);
        Compiled c1(&complement);
        expectNear(referenceKey(complement, colour), {200, 700, 200, 32767}, 1, "reference complement");
        expectNear(spanKey(complement, colour), {200, 700, 200, 32767}, 1, "span complement");
        EXPECT_EQ(spanKey(complement, colour)[3], 32767);

        KeyState solid = uniformKey(200, 400, 200, 100, 200, 300, KeyFlagSpillSolid | direct);
        setReplacementColour(solid, 300, 300, 300);
        Compiled c2(&solid);
        const Pixel spill{300, 300, 300, 0};
        expectNear(spanKey(solid, colour), {275, 400, 275, 32767}, 1, "span solid spill");
        expectNear(referenceKey(solid, colour, nullptr, &spill), {275, 400, 275, 32767}, 1, "reference spill");
        Pixel against;
        keyPixelAgainstReplacement16(colour.data(), against.data(), &solid);
        EXPECT_EQ(against, referenceKey(solid, colour, nullptr, &spill));
    }
}

// Uniform key around (20000, 30000, 25000), radii 1000 / 2000 / 4000, colours along +R.
struct AxisCase {
    int distance;
    bool transparent, opaque;
    double tIn, tMid, tOut;
};

TEST(KeyPixel16, ColoursInsideBetweenAndBeyondTheSurfacesInEverySpillMode) {
    const AxisCase cases[] = {
        {500, true, false, 2.0, 4.0, 8.0},       // inside the inner surface
        {1500, false, false, 2.0 / 3, 4.0 / 3, 8.0 / 3},  // between inner and middle
        {3000, false, false, 1.0 / 3, 2.0 / 3, 4.0 / 3},  // between middle and outer
        {6000, false, true, 1.0 / 6, 1.0 / 3, 2.0 / 3},   // beyond the outer surface
        {20000, false, true, 0.05, 0.1, 0.2},
    };
    const double K[3] = {20000, 30000, 25000};
    const Pixel spillSource{1000, 50000, 7000, 0};
    struct Mode {
        std::uint32_t flags;
        const char* name;
    };
    const Mode modes[] = {{KeyFlagSpillComplement, "complement"},
                          {KeyFlagSpillSolid, "solid"},
                          {0, "background"},
                          {KeyFlagSpillComplement | KeyFlagSpillSolid, "complement over solid"}};
    for (const Mode& mode : modes) {
        KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, mode.flags);
        setReplacementColour(state, 60000, 100, 30000);
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        const bool complement = mode.flags & KeyFlagSpillComplement;
        const bool solid = (mode.flags & KeyFlagSpillSolid) && !complement;
        const double sc[3] = {solid ? 60000.0 : spillSource[0], solid ? 100.0 : spillSource[1],
                              solid ? 30000.0 : spillSource[2]};
        for (const AxisCase& c : cases) {
            const Pixel colour{std::uint16_t(20000 + c.distance), 30000, 25000, 123};
            Pixel expected;
            if (c.transparent) {
                expected = complement ? Pixel{0, 0, 0, 0}
                                      : Pixel{std::uint16_t(sc[0]), std::uint16_t(sc[1]), std::uint16_t(sc[2]), 0};
            } else if (c.opaque) {
                expected = {colour[0], colour[1], colour[2], 65535};
            } else {
                const double a = c.tMid > 1 ? (1 - c.tIn) / (c.tMid - c.tIn) : 1.0;
                const double w = (1 - c.tIn) / (c.tOut - c.tIn);
                for (int ch = 0; ch < 3; ++ch) {
                    const double p = (colour[ch] - K[ch]) * c.tOut + K[ch];
                    const double v = complement ? p : (p - sc[ch]) * w + sc[ch];
                    expected[ch] = std::uint16_t(std::floor(std::min(std::max(v, 0.0), 65535.0)));
                }
                expected[3] = std::uint16_t(std::floor(a * 65535));
            }
            const Pixel span = spanKey(state, colour, nullptr, &spillSource);
            expectNear(span, expected, 1, mode.name);
            // The reference differs only in its transparent pixels (always zero) and its spill
            // source (always S); on this axis it otherwise agrees to the unit.
            const Pixel reference = referenceKey(state, colour, nullptr, solid ? nullptr : &spillSource);
            if (c.transparent) {
                EXPECT_EQ(reference, (Pixel{0, 0, 0, 0})) << mode.name;
            } else if (!solid) {
                expectNear(reference, expected, 1, mode.name);
            }
        }
    }
}

// The reference truncates the pushed colour to a 32-bit integer and only clamps after the blend, so
// a pushed colour beyond 65535 still pulls the blend up by its full value, and one beyond the 32-bit
// range by that range's end.  Colour 1500 out along +R from (20000, 30000, 25000), inner radius 1000,
// middle 2000: t_in = 2/3, matte 1/2; black spill source, so the red channel is P.R x w.
TEST(KeyPixel16, PushedColourIsBlendedBeforeItIsClamped) {
    struct Case {
        float outer;
        double pushedRed;  // P.R as the reference holds it
    };
    const Case cases[] = {
        {60000.0f, 80000.0},            // beyond 16 bits: clamping first would give 555
        {3.0e9f, 2147483647.0},         // beyond 32 bits: the int32 range's end, not 3.00002e9
    };
    for (const Case& c : cases) {
        KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, c.outer, 0);
        Compiled compiled(&state);
        const Pixel colour{21500, 30000, 25000, 0};
        const Pixel black{0, 0, 0, 0};
        const double tIn = 2.0 / 3.0, tOut = double(c.outer) / 1500.0;
        const double w = (1.0 - tIn) / (tOut - tIn);
        const Pixel out = referenceKey(state, colour, nullptr, &black);
        EXPECT_NEAR(out[0], std::floor(c.pushedRed * w), 1) << c.outer;
        EXPECT_NEAR(out[3], 32767, 1) << c.outer;
    }
}

TEST(KeyPixel16, MatteAtTheMiddleSurfaceAndJustInside) {
    // Vertex 0 of every surface sits exactly on the +R axis; a colour there is on the middle surface.
    KeyState state = uniformKey(10000, 10000, 10000, 1000, 2000, 4000, KeyFlagSpillComplement);
    Compiled compiled(&state);
    const Pixel onMiddle{12000, 10000, 10000, 0};
    const Pixel inside{11990, 10000, 10000, 0};
    EXPECT_EQ(spanKey(state, onMiddle)[3], 65535);
    EXPECT_EQ(referenceKey(state, onMiddle)[3], 65535);
    EXPECT_LT(spanKey(state, inside)[3], 65535);
    EXPECT_LT(referenceKey(state, inside)[3], 65535);
    // The backdrop colour itself and one unit off it (tolerance 1 keys the latter normally).
    const Pixel backdrop{10000, 10000, 10000, 0};
    EXPECT_EQ(spanKey(state, backdrop), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(referenceKey(state, backdrop), (Pixel{0, 0, 0, 0}));
    KeyState thin = uniformKey(10000, 10000, 10000, 0, 0.5f, 4000, KeyFlagSpillComplement);
    Compiled compiledThin(&thin);
    const Pixel oneOff{10001, 10000, 10000, 0};
    EXPECT_GT(spanKey(thin, oneOff)[3], 0);
    EXPECT_GT(referenceKey(thin, oneOff)[3], 0);
}

TEST(KeyPixel16, SpanLoopsMatchTheScalarReferenceBitForBit) {
    const std::uint32_t modes[] = {0, KeyFlagSpillSolid, KeyFlagSpillComplement,
                                   KeyFlagSpillComplement | KeyFlagSpillSolid,
                                   KeyFlagSpillComplement | KeyFlagGeneratedPolyhedron};
    const std::size_t count = 6000;
    for (std::uint32_t flags : modes)
        for (int variant = 0; variant < 4; ++variant) {
            KeyState state = shapedKey(flags, 17 + variant);
            Compiled compiled(&state);
            const bool twoColours = variant & 1, masked = variant & 2;
            const std::vector<std::uint16_t> x = pixelsAround(state, count, 100 + variant);
            const std::vector<std::uint16_t> y = twoColours ? pixelsAround(state, count, 200 + variant) : x;
            const std::vector<std::uint16_t> s = pixelsAround(state, count, 300 + variant);
            std::vector<std::uint16_t> m(4 * count);
            for (std::size_t i = 0; i < count; ++i) m[4 * i + 1] = i % 3 == 0 ? 65535 : std::uint16_t(i * 77);
            const std::uint16_t* Y = twoColours ? y.data() : x.data();
            for (bool spill : {false, true}) {
                const span_detail::SpanSetup setup = span_detail::makeSpanSetup(&state, flags, spill, false);
                std::vector<std::uint16_t> reference(4 * count, 0xaaaa), vector(4 * count, 0x5555);
                span_detail::keySpan16Reference(setup, x.data(), Y, s.data(), masked ? m.data() : nullptr,
                                                reference.data(), count);
                span_detail::keySpan16Vector(setup, x.data(), Y, s.data(), masked ? m.data() : nullptr,
                                             vector.data(), count);
                ASSERT_EQ(std::memcmp(reference.data(), vector.data(), reference.size() * 2), 0)
                    << std::hex << flags << " variant " << variant << " spill " << spill;
            }
        }
}

TEST(KeyPixel16, GeneratedPolyhedronKeysLikeTheFixedMesh) {
    // The generated mesh has the same triangles under other face numbers: with its lookup and face
    // data compiled over its faces, keying agrees with the fixed mesh up to rounding, except where
    // its coarse grid sends a direction on a face edge to a neighbouring face (small differences
    // from the backdrop, a few pixels in a hundred).  Face data that did not match the lookup would
    // spoil nearly every pixel.
    for (std::uint32_t flags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid)}) {
        KeyState fixed = shapedKey(flags);
        KeyState generated = shapedKey(flags | KeyFlagGeneratedPolyhedron);
        Compiled c1(&fixed);
        Compiled c2(&generated);
        ASSERT_EQ(c2.result, 1);
        const std::size_t count = 20000;
        const std::vector<std::uint16_t> x = pixelsAround(fixed, count, 61);
        std::vector<std::uint16_t> a(4 * count), b(4 * count), reference(4 * count);
        vantproc(x.data(), x.data(), nullptr, nullptr, a.data(), count, &fixed);
        vantproc(x.data(), x.data(), nullptr, nullptr, b.data(), count, &generated);
        auto differing = [&](const std::vector<std::uint16_t>& p, const std::vector<std::uint16_t>& q) {
            int pixels = 0;
            for (std::size_t i = 0; i < count; ++i) {
                bool differs = false;
                for (int c = 0; c < 4; ++c) differs |= std::abs(int(p[4 * i + c]) - int(q[4 * i + c])) > 2;
                pixels += differs;
            }
            return pixels;
        };
        EXPECT_LT(differing(a, b), int(count / 50)) << std::hex << flags;
        // The reference rule takes the same generated faces (spill complement, where the two forms
        // differ only near the backdrop).
        if (!(flags & KeyFlagSpillComplement)) continue;
        KeyState perPixel = generated;
        perPixel.keySpan16Callback = nullptr;
        vantproc(x.data(), x.data(), nullptr, nullptr, reference.data(), count, &perPixel);
        EXPECT_LT(differing(reference, b), int(count / 100)) << std::hex << flags;
    }
}

TEST(KeyPixel16, KeyingNeverWritesTheRecord) {
    for (std::uint32_t flags : {0u, std::uint32_t(KeyFlagSpillComplement | KeyFlagGarbageMask),
                                std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus | KeyFlagGarbageMask)}) {
        KeyState state = shapedKey(flags);
        Compiled compiled(&state);
        KeyState before;
        std::memcpy(&before, &state, sizeof state);
        const std::size_t count = 500;
        const std::vector<std::uint16_t> x = pixelsAround(state, count, 9);
        std::vector<std::uint16_t> out(4 * count), mattes(4 * count);
        vantproc(x.data(), x.data(), x.data(), x.data(), out.data(), count, &state);
        keySpanComplement16(x.data(), out.data(), count, &state);
        keySpanMattes16(x.data(), out.data(), count, &state);
        keySpanAgainstReplacement16(x.data(), out.data(), count, &state);
        keyPixelAndMattes16(x.data(), out.data(), mattes.data(), &state);
        EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0) << std::hex << flags;
    }
}

// ---- Every difference between keyPixel16 and the span loops, one test each ----

TEST(KeyPixel16Differences, NearBackdropTestIsIntegerInTheReferenceAndFloatInTheLoops) {
    // Grain level 2, amount 0.01: tolerance 656.35 in the loops, 656 in the reference.  A key
    // colour 656 away in one channel is backdrop for the loops only.
    KeyState state = uniformKey(20000, 20000, 20000, 100, 200, 300, KeyFlagSpillComplement);
    state.grainLevel = 2;
    state.grainAmount = 0.01f;
    Compiled compiled(&state);
    const Pixel colour{20656, 20000, 20000, 0};
    EXPECT_EQ(spanKey(state, colour), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(referenceKey(state, colour), (Pixel{20656, 20000, 20000, 65535}));
}

TEST(KeyPixel16Differences, SecondColourTestUsesTheTruncatedBackdropInTheReference) {
    // All radii 0: every colour away from the backdrop is opaque.  The colour pixel lies half a unit
    // from the fractional backdrop (backdrop for the loops) but one unit from its truncation.
    KeyState state = uniformKey(1000.5f, 1000.5f, 1000.5f, 0, 0, 0, KeyFlagSpillComplement);
    Compiled compiled(&state);
    const Pixel colour{1001, 1000, 1000, 0};
    const Pixel key{30000, 30000, 30000, 0};
    EXPECT_EQ(spanKey(state, colour, &key), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(referenceKey(state, colour, &key), (Pixel{1001, 1000, 1000, 65535}));
}

TEST(KeyPixel16Differences, FaceLookupUsesIntegerDifferencesInTheReference) {
    // Backdrop red 1000.7: for the colour (1001, 1003, 1000) the reference sees differences
    // (1, 3, 0), the loops (0.3, 3, 0); they fall on different faces.
    KeyState state = shapedKey(KeyFlagSpillComplement);
    state.backdrop[0] = 1000.7f;
    state.backdrop[1] = 1000.0f;
    state.backdrop[2] = 1000.0f;
    const std::uint16_t colour[3] = {1001, 1003, 1000};
    const int referenceFace = findHitFace(colour, &state);
    const int loopFace = faceOfDifference(1001.0f - 1000.7f, 3.0f, 0.0f);
    EXPECT_NE(referenceFace, loopFace);
    EXPECT_EQ(referenceFace, faceOfDifference(std::int64_t{1}, std::int64_t{3}, std::int64_t{0}));
}

TEST(KeyPixel16Differences, SpillBlendTruncatesOnceInTheLoops) {
    // Background spill.  The reference truncates the pushed colour before the blend, the loops only
    // after it; find a colour where that changes the result and check each path on its own formula.
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, 0);
    Compiled compiled(&state);
    const Pixel spill{0, 0, 0, 0};
    bool found = false;
    for (int step = 0; step < 400 && !found; ++step) {
        const Pixel colour{std::uint16_t(21100 + step), std::uint16_t(30300 + step % 7), 25000, 0};
        const SurfaceRatios r = surfaceRatiosMid16(colour.data(), findHitFace(colour.data(), &state), &state);
        if (!(r.inner < 1.0f && r.outer > 1.0f)) continue;
        const float w = (1.0f - r.inner) / (r.outer - r.inner);
        Pixel once, twice;
        for (int c = 0; c < 3; ++c) {
            const float p = (float(colour[c]) - state.backdrop[c]) * r.outer + state.backdrop[c];
            once[c] = std::uint16_t(span_detail::clampTrunc(p * w, 65535.0f));
            twice[c] = std::uint16_t(span_detail::clampTrunc(std::trunc(p) * w, 65535.0f));
        }
        if (once[0] == twice[0] && once[1] == twice[1]) continue;
        found = true;
        const Pixel span = spanKey(state, colour, nullptr, &spill);
        const Pixel reference = referenceKey(state, colour, nullptr, &spill);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(span[c], once[c]) << c;
            EXPECT_EQ(reference[c], twice[c]) << c;
        }
    }
    EXPECT_TRUE(found);
}

TEST(KeyPixel16Differences, TransparentPixelsTakeTheSpillColourOnlyInTheSpillLoop) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, KeyFlagSpillSolid);
    setReplacementColour(state, 111, 222, 333);
    Compiled compiled(&state);
    const Pixel backdrop{20000, 30000, 25000, 0};
    const Pixel inside{20300, 30000, 25000, 0};
    EXPECT_EQ(spanKey(state, backdrop), (Pixel{111, 222, 333, 0}));
    EXPECT_EQ(spanKey(state, inside), (Pixel{111, 222, 333, 0}));
    EXPECT_EQ(referenceKey(state, backdrop, nullptr, &backdrop), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(referenceKey(state, inside, nullptr, &backdrop), (Pixel{0, 0, 0, 0}));
}

TEST(KeyPixel16Differences, AMatteThatTruncatesToZeroGivesTheSpillColourInTheLoop) {
    // One unit outside the inner surface with the middle surface far away: a < 1/65535.
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 100000, 200000, KeyFlagSpillSolid);
    setReplacementColour(state, 5000, 6000, 7000);
    Compiled compiled(&state);
    const Pixel colour{21001, 30000, 25000, 0};
    EXPECT_EQ(spanKey(state, colour), (Pixel{5000, 6000, 7000, 0}));
    const Pixel spill{5000, 6000, 7000, 0};
    const Pixel reference = referenceKey(state, colour, nullptr, &spill);
    EXPECT_EQ(reference[3], 0);
    EXPECT_NE(reference[0], 5000);  // blended: the pushed colour still pulls the red up
}

TEST(KeyPixel16Differences, SolidSpillIsTheReplacementColourInTheLoopAndSInTheReference) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, KeyFlagSpillSolid);
    setReplacementColour(state, 40000, 40000, 40000);
    Compiled compiled(&state);
    const Pixel colour{21500, 30000, 25000, 0};
    const Pixel other{0, 0, 0, 0};
    const Pixel replacement{40000, 40000, 40000, 0};
    const Pixel span = spanKey(state, colour, nullptr, &other);
    EXPECT_EQ(span, spanKey(state, colour, nullptr, &replacement));
    expectNear(referenceKey(state, colour, nullptr, &replacement), span, 1, "toward the replacement");
    EXPECT_NE(referenceKey(state, colour, nullptr, &other)[1], span[1]);
}

TEST(KeyPixel16Differences, FullMaskGivesZeroPerPixelAndTheSpillColourInTheSpillPass) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, KeyFlagSpillSolid | KeyFlagGarbageMask);
    setReplacementColour(state, 9, 8, 7);
    Compiled compiled(&state);
    const Pixel colour{50000, 1000, 1000, 0};
    const Pixel mask{0, 65535, 0, 0};
    EXPECT_EQ(spanKey(state, colour, nullptr, nullptr, &mask), (Pixel{9, 8, 7, 0}));
    KeyState perPixel = state;
    perPixel.keySpan16Callback = nullptr;  // vantproc's own loop
    EXPECT_EQ(spanKey(perPixel, colour, nullptr, nullptr, &mask), (Pixel{0, 0, 0, 0}));
}

// The reference rule and the installed span loops over many random keys, pixels, spill modes and
// masks.  With an integer backdrop and the default tolerance the differences above that hang on
// trunc(K) cannot arise, so what is left must be exactly the listed ones: spill complement agrees
// bit for bit; with spill, a zero matte is (SC, 0) in the loops (the reference's colour is then
// free), otherwise the matte agrees exactly and the colour to one unit (truncation before or after
// the blend).
TEST(KeyPixel16Differences, RandomisedReferenceAndLoopsDifferOnlyInTheListedWays) {
    std::mt19937 random(2024);
    const std::uint32_t spillModes[] = {KeyFlagSpillComplement, KeyFlagSpillSolid, 0};
    const std::size_t count = 800;
    int checked = 0;
    for (int trial = 0; trial < 48; ++trial) {
        const std::uint32_t spillMode = spillModes[trial % 3];
        std::uint32_t flags = spillMode;
        if (trial & 4) flags |= KeyFlagDirectCallbacks;
        if (trial & 8) flags |= KeyFlagGarbageMask;
        if (trial % 5 == 0) flags |= KeyFlagGeneratedPolyhedron;
        if (trial % 7 == 0) flags |= KeyFlagOuterFromMiddle;
        KeyState state = shapedKey(flags, 1000 + trial);
        for (int c = 0; c < 3; ++c) state.backdrop[c] = float(std::uniform_int_distribution<int>(0, 65535)(random));
        if (trial % 11 == 0) state.grainLevel = 1;  // amount 0: the same tolerance 1
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        const bool twoColours = trial & 16;
        const std::vector<std::uint16_t> x = pixelsAround(state, count, 3 * trial + 1);
        const std::vector<std::uint16_t> y = twoColours ? pixelsAround(state, count, 3 * trial + 2) : x;
        const std::vector<std::uint16_t> s = pixelsAround(state, count, 3 * trial + 3);
        std::vector<std::uint16_t> m(4 * count);
        for (std::size_t i = 0; i < count; ++i)
            m[4 * i + 1] = i % 5 == 0 ? 65535 : i % 5 == 1 ? 0 : std::uint16_t(random());
        const std::uint16_t* Y = twoColours ? y.data() : x.data();
        const bool complement = spillMode & KeyFlagSpillComplement;
        const bool solid = spillMode & KeyFlagSpillSolid;
        // The reference blends toward S: hand it the replacement colour where the loops use it.
        std::vector<std::uint16_t> referenceSpill = s;
        if (solid)
            for (std::size_t i = 0; i < count; ++i)
                for (int c = 0; c < 3; ++c) referenceSpill[4 * i + c] = state.replacementColour[c];
        std::vector<std::uint16_t> span(4 * count, 0x5555), reference(4 * count, 0xaaaa);
        vantproc(x.data(), Y, s.data(), m.data(), span.data(), count, &state);
        KeyState perPixel = state;
        perPixel.keySpan16Callback = nullptr;
        vantproc(x.data(), Y, referenceSpill.data(), m.data(), reference.data(), count, &perPixel);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint16_t* o = span.data() + 4 * i;
            const std::uint16_t* r = reference.data() + 4 * i;
            const std::uint16_t* sc = referenceSpill.data() + 4 * i;
            SCOPED_TRACE(::testing::Message() << "trial " << trial << " flags " << std::hex << flags << std::dec
                                              << " pixel " << i);
            if (complement) {
                ASSERT_EQ(std::memcmp(o, r, 8), 0)
                    << o[0] << " " << o[1] << " " << o[2] << " " << o[3] << " vs " << r[0] << " " << r[1] << " "
                    << r[2] << " " << r[3];
            } else if (o[3] == 0) {
                ASSERT_EQ(r[3], 0);
                for (int c = 0; c < 3; ++c) ASSERT_EQ(o[c], sc[c]) << c;
            } else {
                ASSERT_EQ(o[3], r[3]);
                for (int c = 0; c < 3; ++c) ASSERT_LE(std::abs(int(o[c]) - int(r[c])), 1) << c;
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, 48 * int(count));
}

// ---- Garbage mask ----

TEST(KeyPixel16, MaskValuesScaleOrRemoveThePixel) {
    struct Case {
        std::uint16_t mask;
        bool removed;
    };
    const Case cases[] = {{0, false}, {32768, false}, {1, false}, {65534, false}, {65535, true}};
    for (std::uint32_t spillFlags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid)})
        for (std::uint32_t direct : {0u, std::uint32_t(KeyFlagDirectCallbacks)}) {
            KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, spillFlags | direct);
            setReplacementColour(state, 1, 2, 3);
            KeyState masked = state;
            masked.flags |= KeyFlagGarbageMask;
            Compiled c1(&state);
            Compiled c2(&masked);
            const Pixel colour{21500, 30000, 25000, 0};  // between the surfaces: matte about 1/2
            const Pixel unmasked = spanKey(state, colour);
            KeyState perPixel = masked;
            perPixel.keySpan16Callback = nullptr;
            for (const Case& c : cases) {
                const Pixel m{0, c.mask, 0, 0};
                const Pixel span = spanKey(masked, colour, nullptr, nullptr, &m);
                const Pixel single = spanKey(perPixel, colour, nullptr, nullptr, &m);
                if (c.removed) {
                    const bool complement = spillFlags & KeyFlagSpillComplement;
                    EXPECT_EQ(span, (complement ? Pixel{0, 0, 0, 0} : Pixel{1, 2, 3, 0}));
                    EXPECT_EQ(single, (Pixel{0, 0, 0, 0}));
                    continue;
                }
                const auto scaled = std::uint16_t(float(65535 - c.mask) * (1.0f / 65535.0f) * float(unmasked[3]));
                EXPECT_EQ(span[3], scaled) << c.mask;
                // A matte scaled down to 0 takes the spill colour in the spill pass.
                const bool toSpill = scaled == 0 && !(spillFlags & KeyFlagSpillComplement);
                EXPECT_EQ(span[0], toSpill ? 1 : unmasked[0]) << c.mask;
                EXPECT_EQ(single[3], scaled) << c.mask;
            }
            // 32768 scales the matte by 32767 / 65535, truncated.
            const Pixel half{0, 32768, 0, 0};
            EXPECT_EQ(spanKey(masked, colour, nullptr, nullptr, &half)[3],
                      std::uint16_t(32767.0f * (1.0f / 65535.0f) * float(unmasked[3])));
            // Without the flag in the call's flags the mask takes no part.
            EXPECT_EQ(spanKey(masked, colour, nullptr, nullptr, &half, masked.flags & ~KeyFlagGarbageMask), unmasked);
        }
}

TEST(KeyPixel16, LoopsWriteFullyMaskedPixelsEvenWithoutAMaskPass) {
    // Compiled without the mask flag, so no pass is installed; the loops still settle every pixel.
    for (std::uint32_t flags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid), 0u}) {
        KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, flags | KeyFlagDirectCallbacks);
        setReplacementColour(state, 4, 5, 6);
        Compiled compiled(&state);
        const Pixel colour{50000, 1000, 1000, 0};
        const Pixel m{0, 65535, 0, 0};
        const Pixel s{7, 8, 9, 0};
        Pixel out{0xabcd, 0xabcd, 0xabcd, 0xabcd};
        state.keySpan16Callback(colour.data(), colour.data(), s.data(), m.data(), out.data(), 1, &state, state.flags);
        const Pixel expected = (flags & KeyFlagSpillComplement) ? Pixel{0, 0, 0, 0}
                               : (flags & KeyFlagSpillSolid)   ? Pixel{4, 5, 6, 0}
                                                               : Pixel{7, 8, 9, 0};
        EXPECT_EQ(out, expected) << std::hex << flags;
    }
}

// ---- Alternative keyers ----

// The selected keyer's starting values for the state's backdrop colour.
void startAlternativeKeyer(KeyState* state) {
    VantreloBase* keyer = (state->flags & KeyFlagUseRTPlus) ? engineHexagonKeyer() : engineThresholdKeyer();
    ASSERT_NE(keyer, nullptr);
    keyer->initFromState(state);
}

TEST(KeyPixel16, AlternativeKeyersKeyWithTheStatesOwnObject) {
    for (std::uint32_t keyerFlag : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus)}) {
        KeyState first = shapedKey(keyerFlag | KeyFlagSpillComplement);
        startAlternativeKeyer(&first);
        KeyState second = first;
        Compiled c1(&first);
        ASSERT_EQ(c1.result, 1);
        const std::size_t count = 3000;
        const std::vector<std::uint16_t> x = pixelsAround(first, count, 41);
        std::vector<std::uint16_t> alone(4 * count), afterOther(4 * count), perPixel(4 * count);
        vantproc(x.data(), x.data(), nullptr, nullptr, alone.data(), count, &first);
        // A second state with a very different key compiles the engine-wide instances last.
        second.backdrop[0] = 50000.0f;
        second.backdrop[1] = 3000.0f;
        second.backdrop[2] = 3000.0f;
        startAlternativeKeyer(&second);
        Compiled c2(&second);
        ASSERT_EQ(c2.result, 1);
        vantproc(x.data(), x.data(), nullptr, nullptr, afterOther.data(), count, &first);
        EXPECT_EQ(alone, afterOther) << std::hex << keyerFlag;
        // The per-pixel path hands each pixel to the same object: the same results.
        KeyState perPixelState = first;
        perPixelState.keySpan16Callback = nullptr;
        vantproc(x.data(), x.data(), nullptr, nullptr, perPixel.data(), count, &perPixelState);
        EXPECT_EQ(alone, perPixel) << std::hex << keyerFlag;
        // And the keys are not trivial.
        int transparent = 0, opaque = 0;
        for (std::size_t i = 0; i < count; ++i) {
            transparent += alone[4 * i + 3] == 0;
            opaque += alone[4 * i + 3] == 65535;
        }
        EXPECT_GT(transparent, 0);
        EXPECT_GT(opaque, 0);
    }
}

TEST(KeyPixel16, AlternativeKeyerWithMaskRemovesFullyMaskedPixels) {
    for (std::uint32_t keyerFlag : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus)}) {
        KeyState state = shapedKey(keyerFlag | KeyFlagSpillComplement | KeyFlagGarbageMask);
        startAlternativeKeyer(&state);
        Compiled compiled(&state);
        const Pixel colour{60000, 1000, 1000, 0};
        const Pixel none{0, 0, 0, 0};
        const Pixel full{0, 65535, 0, 0};
        EXPECT_EQ(spanKey(state, colour, nullptr, nullptr, &none)[3], 65535);
        EXPECT_EQ(spanKey(state, colour, nullptr, nullptr, &full)[3], 0);
    }
}

// A key that selects an alternative keyer but has no keyer object (never compiled, or its keyer
// could not be made) has nothing to key with; its runs come out transparent black in every depth,
// never with what the output buffer held before (which the mask would then go on to scale).
TEST(KeyPixel16, RunsOfAKeyWithoutItsKeyerObjectAreTransparentBlack) {
    for (std::uint32_t keyerFlag : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus)}) {
        const KeyState state = shapedKey(keyerFlag | KeyFlagGarbageMask);
        ASSERT_EQ(state.keyer, nullptr);
        ASSERT_EQ(state.keySpan16Callback, nullptr);
        const std::size_t count = 5;
        const std::vector<std::uint16_t> x = pixelsAround(state, count, 4);
        std::vector<std::uint16_t> m(4 * count, 1000);
        std::vector<std::uint16_t> out(4 * count, 0xabcd);
        vantproc(x.data(), x.data(), x.data(), m.data(), out.data(), count, &state);
        EXPECT_EQ(out, std::vector<std::uint16_t>(4 * count, 0)) << std::hex << keyerFlag;
        const std::vector<float> xf(x.begin(), x.end()), mf(m.begin(), m.end());
        std::vector<float> outF(4 * count, 1234.5f);
        super_vantproc(xf.data(), xf.data(), xf.data(), mf.data(), outF.data(), count, &state);
        EXPECT_EQ(outF, std::vector<float>(4 * count, 0.0f)) << std::hex << keyerFlag;
        std::vector<std::uint8_t> x8(3 * count, 200), m8(3 * count, 4), out8(3 * count, 0xab), matte(count, 0xab);
        vantproc_8(x8.data(), x8.data(), x8.data(), m8.data(), out8.data(), matte.data(), count, &state);
        EXPECT_EQ(out8, std::vector<std::uint8_t>(3 * count, 0)) << std::hex << keyerFlag;
        EXPECT_EQ(matte, std::vector<std::uint8_t>(count, 0)) << std::hex << keyerFlag;
    }
}

// ---- Variants ----

TEST(KeyPixel16, MattesOfOnePixel) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, 0);
    Compiled compiled(&state);
    struct Case {
        int distance;
        Pixel mattes;  // from keyPixelMattes16, +-1 on the computed ones
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0}},
        {500, {0, 0, 0, 0}},
        {1500, {0, 0, std::uint16_t(65535 / 6), 32767}},  // w = 1/6, a = 1/2
        {3000, {0, 0, std::uint16_t(65535 * 2 / 3), 65535}},
        {6000, {0, 65535, 65535, 65535}},
    };
    for (const Case& c : cases) {
        const Pixel colour{std::uint16_t(20000 + c.distance), 30000, 25000, 0};
        Pixel mattes;
        keyPixelMattes16(colour.data(), mattes.data(), &state);
        expectNear(mattes, c.mattes, 1, "mattes");
        Pixel out, matte{0xaaaa, 0xbbbb, 0xcccc, 0xdddd};
        keyPixelAndMattes16(colour.data(), out.data(), matte.data(), &state);
        EXPECT_EQ(matte[0], 0);
        EXPECT_EQ(matte[1], 0xbbbb);  // G is never written
        EXPECT_EQ(matte[3], out[3]);
        EXPECT_NEAR(matte[2], c.distance == 6000 ? 65535 : c.mattes[2], 1);
        EXPECT_NEAR(out[3], c.mattes[3], 1);
    }
    std::vector<std::uint16_t> span(8), one(4);
    const Pixel two[2] = {{21500, 30000, 25000, 0}, {26000, 30000, 25000, 0}};
    keySpanMattes16(two[0].data(), span.data(), 2, &state);
    keyPixelMattes16(two[1].data(), one.data(), &state);
    EXPECT_TRUE(std::equal(one.begin(), one.end(), span.begin() + 4));
}

TEST(KeyPixel16, ComplementSpanKeysAsSpillComplementWithoutTouchingTheState) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, KeyFlagSpillSolid);
    state.replacementColour[0] = 7;
    Compiled compiled(&state);
    KeyState before;
    std::memcpy(&before, &state, sizeof state);
    const Pixel pixels[3] = {{20100, 30000, 25000, 0}, {21500, 30000, 25000, 0}, {60000, 30000, 25000, 0}};
    Pixel out[3];
    keySpanComplement16(pixels[0].data(), out[0].data(), 3, &state);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
    EXPECT_EQ(out[0], (Pixel{0, 0, 0, 0}));  // transparent stays zero: complement at keying time
    EXPECT_EQ(out[2], (Pixel{60000, 30000, 25000, 65535}));
    EXPECT_NEAR(out[1][3], 32767, 1);
}

TEST(KeyPixel16, NearBackdropUsesTheFloatTolerance) {
    KeyState state = uniformKey(100.5f, 200, 300, 10, 20, 30, 0);
    state.grainLevel = 1;
    state.grainAmount = 0.0f;  // tolerance 1
    Compiled compiled(&state);
    const std::uint16_t near[3] = {101, 200, 300}, far[3] = {102, 200, 300};
    EXPECT_EQ(nearBackdrop16(near, &state), 1);
    EXPECT_EQ(nearBackdrop16(far, &state), 0);
    const float nearFloat[3] = {101.4f, 200.9f, 299.1f}, farFloat[3] = {100.5f, 201.0f, 300.0f};
    EXPECT_EQ(nearBackdropFloat(nearFloat, &state), 1);
    EXPECT_EQ(nearBackdropFloat(farFloat, &state), 0);
}

TEST(KeyPixel16, CompositeLoopBlendsByTheForegroundMatte) {
    struct Case {
        Pixel f, b, expected;
    };
    const Case cases[] = {
        {{1234, 65535, 0, 65535}, {9, 9, 9, 9}, {1234, 65535, 0, 65535}},
        {{1234, 65535, 0, 0}, {9, 60000, 65535, 3}, {9, 60000, 65535, 0}},
        {{65535, 0, 40000, 32768}, {0, 65535, 20000, 0},
         {std::uint16_t((65535u * 32769u) >> 16), std::uint16_t((65535u * 32768u) >> 16),
          std::uint16_t((40000u * 32769u + 20000u * 32768u) >> 16), 32768}},
    };
    for (const Case& c : cases) {
        Pixel f = c.f;
        vantcompositeLoop(f.data(), c.b.data(), 1);
        EXPECT_EQ(f, c.expected);
    }
}

}  // namespace
}  // namespace vantrelo
