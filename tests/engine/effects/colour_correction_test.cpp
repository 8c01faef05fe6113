#include "engine/effects/colour_correction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/keying/key_state.h"

namespace vantrelo {
namespace {

KeyState identityState() {
    KeyState state;
    std::memset(&state, 0, sizeof state);
    resetKeyState(&state);
    return state;
}

// Restores the engine-wide worker count whatever a test sets.
class WorkerCountGuard {
public:
    WorkerCountGuard() : saved_(workerThreadCount()) {}
    ~WorkerCountGuard() { setWorkerThreadCount(saved_); }

private:
    std::int32_t saved_;
};

std::vector<std::uint16_t> randomPixels16(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> channel(0, 65535);
    std::vector<std::uint16_t> pixels(count * 4);
    for (auto& c : pixels) c = static_cast<std::uint16_t>(channel(rng));
    return pixels;
}

TEST(ColourCorrectionTables, SixteenBitIdentityTableIsLowInExactly512Entries) {
    // 1/65535 is not exact in single precision, so the identity levels table loses one unit in a
    // few entries; callers that compare against a plain copy must expect that.
    std::vector<std::uint16_t> table(65536);
    makeLevelsGammaTable16(0, 65535, 1.0f, table.data());
    int differing = 0;
    for (int i = 0; i < 65536; ++i) {
        if (table[i] != i) {
            ++differing;
            EXPECT_EQ(table[i], i - 1) << i;
        }
    }
    EXPECT_EQ(differing, 512);
    EXPECT_EQ(table[257], 256);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[65535], 65535);
}

TEST(ColourCorrectionTables, GammaAndLevelsShapeTheCurve) {
    std::vector<std::uint16_t> table(65536);
    makeLevelsGammaTable16(0, 65535, 2.0f, table.data());
    // Square root: a quarter of full scale gives just under half.
    EXPECT_GE(table[16384], 32760);
    EXPECT_LT(table[16384], 32768);

    makeLevelsGammaTable16(6553, 58981, 1.0f, table.data());
    EXPECT_NEAR(table[0], 6553, 1);
    EXPECT_NEAR(table[65535], 58981, 1);
    EXPECT_NEAR(table[32768], (6553 + 58981) / 2, 2);

    std::uint8_t table8[256];
    makeLevelsGammaTable8(0, 255, 1.0f, table8);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(table8[i], i) << i;
    makeLevelsGammaTable8(25, 229, 1.0f, table8);
    EXPECT_EQ(table8[0], 25);
    EXPECT_NEAR(table8[255], 229, 1);
}

TEST(ColourCorrectionTables, DegenerateGammasGiveDefinedClampedTables) {
    // A gamma of 0 makes the exponent infinite and NaN makes it NaN; entries must still be the
    // clamped, defined results (NaN gives 0), never an undefined conversion.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<std::uint16_t> table(65536);
    makeLevelsGammaTable16(0, 65535, 0.0f, table.data());
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[30000], 0);
    makeLevelsGammaTable16(0, 65535, nan, table.data());
    EXPECT_EQ(table[1], 0);
    EXPECT_EQ(table[40000], 0);
    // Tiny gammas push the near-1 top entry far above full scale before the clamp.
    makeLevelsGammaTable16(0, 65535, 0.001f, table.data());
    EXPECT_EQ(table[65535], 65535);
    makeLevelsGammaTable16(0, 65535, -1.0f, table.data());
    EXPECT_EQ(table[0], 65535);  // 0 to a negative power is infinite: clamped to full scale

    std::uint8_t table8[256];
    makeLevelsGammaTable8(0, 255, 0.0f, table8);
    EXPECT_EQ(table8[100], 0);
    makeLevelsGammaTable8(0, 255, nan, table8);
    EXPECT_EQ(table8[100], 0);
    makeLevelsGammaTable8(0, 255, -2.0f, table8);
    EXPECT_EQ(table8[0], 255);
    // Levels far outside the channel range stay clamped.
    makeLevelsGammaTable8(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                          1.0f, table8);
    EXPECT_EQ(table8[0], 0);
    EXPECT_EQ(table8[255], 255);
}

TEST(ColourCorrectionMatrix, LumaMatrixRoundTripsAndIdentityIsClose) {
    const float t[9] = {0.3f, 0.59f, 0.11f, 0.7f, -0.59f, -0.11f, -0.3f, -0.59f, 0.89f};
    float inverse[9];
    std::memcpy(inverse, t, sizeof t);
    invertColourMatrix(inverse);
    float product[9];
    multiplyColourMatrix(product, inverse, t);
    float identity[9];
    identityMatrix3(identity);
    float m[9];
    makeColourCorrectionMatrix(m, 0.0f, 1.0f, 1.0f);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(product[i], identity[i], 1e-6f) << i;
        EXPECT_NEAR(m[i], identity[i], 1e-6f) << i;
    }
    float h[9];
    makeHueSatValueMatrix(h, 0.5f, 2.0f, 3.0f);
    const float expected[9] = {3.0f, 0.0f, 0.0f, 0.0f, 2.0f * std::cos(0.5f), 2.0f * std::sin(0.5f),
                               0.0f, -2.0f * std::sin(0.5f), 2.0f * std::cos(0.5f)};
    for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(h[i], expected[i]) << i;
}

// One case of the behaviour shared by both correction sets and both depths.
struct SetCase {
    const char* name;
    float set[12];
};

enum class Route { First16, Second16, First8, Second8 };

// Runs one set through one route on the given RGB triples; returns RGB triples and checks that
// the pass-through channel survives.
std::vector<int> correct(Route route, const float* set, const std::vector<int>& rgb) {
    KeyState state = identityState();
    float* target = (route == Route::First16 || route == Route::First8) ? state.correctionSet1 : state.correctionSet2;
    std::memcpy(target, set, 12 * sizeof(float));
    const std::size_t n = rgb.size() / 3;
    std::vector<int> result(rgb.size());
    if (route == Route::First16 || route == Route::Second16) {
        std::vector<std::uint16_t> src(n * 4), dst(n * 4, 0);
        for (std::size_t p = 0; p < n; ++p) {
            for (int c = 0; c < 3; ++c) src[p * 4 + c] = static_cast<std::uint16_t>(rgb[p * 3 + c]);
            src[p * 4 + 3] = static_cast<std::uint16_t>(1000 + p);
        }
        const bool ok = route == Route::First16 ? colourCorrectFirstSet(dst.data(), src.data(), n, &state)
                                                : colourCorrectSecondSet(dst.data(), src.data(), n, &state);
        EXPECT_TRUE(ok);
        for (std::size_t p = 0; p < n; ++p) {
            for (int c = 0; c < 3; ++c) result[p * 3 + c] = dst[p * 4 + c];
            EXPECT_EQ(dst[p * 4 + 3], 1000 + p);
        }
    } else {
        std::vector<std::uint8_t> src(n * 4), dst(n * 4, 0);
        for (std::size_t p = 0; p < n; ++p) {
            src[p * 4 + 3] = static_cast<std::uint8_t>(rgb[p * 3]);
            src[p * 4 + 2] = static_cast<std::uint8_t>(rgb[p * 3 + 1]);
            src[p * 4 + 1] = static_cast<std::uint8_t>(rgb[p * 3 + 2]);
            src[p * 4] = static_cast<std::uint8_t>(17 + p);
        }
        if (route == Route::First8)
            colourCorrect8FirstSet(dst.data(), src.data(), n, &state);
        else
            colourCorrect8SecondSet(dst.data(), src.data(), n, &state);
        for (std::size_t p = 0; p < n; ++p) {
            result[p * 3] = dst[p * 4 + 3];
            result[p * 3 + 1] = dst[p * 4 + 2];
            result[p * 3 + 2] = dst[p * 4 + 1];
            EXPECT_EQ(dst[p * 4], 17 + p);
        }
    }
    return result;
}

class ColourCorrectionSets : public ::testing::TestWithParam<Route> {
protected:
    bool sixteen() const { return GetParam() == Route::First16 || GetParam() == Route::Second16; }
    int full() const { return sixteen() ? 65535 : 255; }
    // Sample colours on the route's own scale.
    std::vector<int> samples() const {
        const std::vector<double> fractions = {0, 0, 0, 1, 1, 1, 0.2, 0.5, 0.9, 0.8, 0.1, 0.3, 0.5, 0.5, 0.5};
        std::vector<int> rgb;
        for (double f : fractions) rgb.push_back(static_cast<int>(f * full()));
        return rgb;
    }
};

// 16-bit copies; the 8-bit path has no shortcut and truncates each matrix product, yet the identity
// matrix's diagonal is at least 1 and its other entries are below half a unit in size, so every
// value comes back exactly, the top of the scale and the values just below it included.
TEST_P(ColourCorrectionSets, IdentitySetKeepsColoursExactly) {
    const float identity[12] = {0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    std::vector<int> in = samples();
    for (const int top : {full(), full() - 1, full() - 2})
        for (const int other : {0, 1, full() / 3}) in.insert(in.end(), {top, other, top - 1});
    const auto out = correct(GetParam(), identity, in);
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], in[i]) << i;
}

// Value and saturation of 1.5 scale every channel by 1.5: whatever goes past the top of the scale
// ends exactly at it, not a unit below, and black stays black.
TEST_P(ColourCorrectionSets, ValuesDrivenPastTheTopEndExactlyAtIt) {
    const float brighter[12] = {0, 1.5f, 1.5f, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    const auto scaled = [this](double f) { return static_cast<int>(f * full()); };
    const std::vector<int> in = {full(),       full(),       full(),       scaled(0.7), scaled(0.8),  full(),
                                 scaled(0.75), scaled(0.9),  scaled(0.69), 0,           0,            0};
    const auto out = correct(GetParam(), brighter, in);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(out[i], full()) << i;
    for (std::size_t i = 9; i < 12; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_P(ColourCorrectionSets, ZeroValueAndSaturationGiveBlack) {
    const float set[12] = {0.7f, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    for (int v : correct(GetParam(), set, samples())) EXPECT_EQ(v, 0);
}

TEST_P(ColourCorrectionSets, ZeroSaturationGivesLuma) {
    const float set[12] = {0, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    const auto in = samples();
    const auto out = correct(GetParam(), set, in);
    // The 8-bit path truncates three products, so it may lose up to three units.
    const int tolerance = sixteen() ? 2 : 3;
    for (std::size_t p = 0; p < in.size() / 3; ++p) {
        const double luma = 0.3 * in[p * 3] + 0.59 * in[p * 3 + 1] + 0.11 * in[p * 3 + 2];
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[p * 3 + c], luma, tolerance) << p << " " << c;
        EXPECT_NEAR(out[p * 3], out[p * 3 + 1], 1);
        EXPECT_NEAR(out[p * 3 + 1], out[p * 3 + 2], 1);
    }
}

TEST_P(ColourCorrectionSets, LevelsMapBlackAndWhite) {
    const float set[12] = {0, 1, 1, 0.1f, 0.1f, 0.1f, 0.9f, 0.9f, 0.9f, 1, 1, 1};
    const std::vector<int> in = {0, 0, 0, full(), full(), full(), full() / 2, full() / 2, full() / 2};
    const auto out = correct(GetParam(), set, in);
    const int black = static_cast<int>(0.1f * static_cast<float>(full()));
    const int white = static_cast<int>(0.9f * static_cast<float>(full()));
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(out[c], black, 2) << c;
        EXPECT_NEAR(out[3 + c], white, 2) << c;
        EXPECT_NEAR(out[6 + c], (black + white) / 2, sixteen() ? 4 : 2) << c;
    }
}

TEST_P(ColourCorrectionSets, HueRotationSwapsColourDifferences) {
    // Half a turn negates both colour differences around the luma: a grey stays grey and a colour
    // moves to the other side of it.
    const float set[12] = {3.14159265f, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1};
    const int half = full() / 2;
    const std::vector<int> in = {half, half, half, half + full() / 10, half, half};
    const auto out = correct(GetParam(), set, in);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], half, 2) << c;
    EXPECT_LT(out[3], half);   // red above grey now below it
    EXPECT_GT(out[4], half);
}

INSTANTIATE_TEST_SUITE_P(BothSetsBothDepths, ColourCorrectionSets,
                         ::testing::Values(Route::First16, Route::Second16, Route::First8, Route::Second8),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Route::First16: return "First16";
                                 case Route::Second16: return "Second16";
                                 case Route::First8: return "First8";
                                 default: return "Second8";
                             }
                         });

TEST(ColourCorrection, EachSetDriverReadsItsOwnSet) {
    KeyState state = identityState();
    state.correctionSet2[1] = 0.0f;  // value 0 in the second set only
    state.correctionSet2[2] = 0.0f;
    std::vector<std::uint16_t> src = {40000, 30000, 20000, 7}, dst(4, 1);
    ASSERT_TRUE(colourCorrectFirstSet(dst.data(), src.data(), 1, &state));
    EXPECT_EQ(dst, src);
    ASSERT_TRUE(colourCorrectSecondSet(dst.data(), src.data(), 1, &state));
    EXPECT_EQ(dst, (std::vector<std::uint16_t>{0, 0, 0, 7}));
    EXPECT_TRUE(isColourCorrectionIdentity(0, &state));
    EXPECT_FALSE(isColourCorrectionIdentity(1, &state));
    EXPECT_FALSE(isColourCorrectionIdentity(5, &state));

    // In place with the identity set leaves the data untouched.
    std::vector<std::uint16_t> same = src;
    ASSERT_TRUE(colourCorrectFirstSet(same.data(), same.data(), 1, &state));
    EXPECT_EQ(same, src);
    EXPECT_FALSE(colourCorrectFirstSet(nullptr, src.data(), 1, &state));
    EXPECT_TRUE(colourCorrectFirstSet(nullptr, nullptr, 0, &state));
}

TEST(ColourCorrection, ThreadedEqualsSingleThreadedAndInPlace) {
    WorkerCountGuard guard;
    const float hue = 0.4f, saturation = 1.3f, value = 0.9f;
    auto run = [&](int workers, std::size_t count, bool inPlace) {
        setWorkerThreadCount(workers);
        auto src = randomPixels16(count, 7);
        std::vector<std::uint16_t> dst(src.size(), 0);
        std::uint16_t* out = inPlace ? src.data() : dst.data();
        EXPECT_TRUE(colourCorrectSpan16(out, src.data(), static_cast<std::ptrdiff_t>(count), hue, saturation, value,
                                        3000, 0, 1000, 60000, 65535, 50000, 1.2f, 0.8f, 1.0f));
        return inPlace ? src : dst;
    };
    for (std::size_t count : {std::size_t{99}, std::size_t{100}, std::size_t{1003}}) {
        const auto single = run(1, count, false);
        EXPECT_EQ(run(4, count, false), single) << count;
        EXPECT_EQ(run(3, count, true), single) << count;
        EXPECT_EQ(run(32, count, false), single) << count;
    }
}

TEST(ColourCorrection, WorkersCoverTheirBands) {
    // 10 pixels over 4 workers: bands of 2, 2, 2 and 4 starting at 0, 2, 4 and 6.
    float m[9];
    identityMatrix3(m);
    std::vector<std::uint16_t> table(65536);
    for (int i = 0; i < 65536; ++i) table[i] = static_cast<std::uint16_t>(65535 - i);
    std::vector<std::uint16_t> src(40, 100), dst(40, 0);
    const std::ptrdiff_t starts[4] = {0, 2, 4, 6}, counts[4] = {2, 2, 2, 4};
    for (int i = 0; i < 4; ++i) {
        ccxloop16_VantThread worker(i, 4, 10, dst.data(), src.data(), m, table.data(), table.data(), table.data());
        EXPECT_EQ(worker.bandStart(), starts[i]);
        EXPECT_EQ(worker.bandCount(), counts[i]);
        worker.start();
        worker.join();
        EXPECT_FALSE(worker.failed());
    }
    for (int p = 0; p < 10; ++p) {
        EXPECT_EQ(dst[p * 4], 65435) << p;
        EXPECT_EQ(dst[p * 4 + 3], 100) << p;
    }
}

struct PushCase {
    const char* name;
    float backdrop[3];
    std::uint16_t pixel[3];
    int expected[3];
    int tolerance;
};

TEST(PushAwayFromBackdrop, PushesPastWhereTheBackdropStopsDominatingOrCopies) {
    const PushCase cases[] = {
        // Straight above a blue backdrop: a = b = -1 is not strictly inside (-1, 1), so the pixel
        // moves to 2550 past the (negative) crossing distance: B = 50000 - 30000 + 2550.
        {"straight up", {10000, 20000, 50000}, {10000, 20000, 60000}, {10000, 20000, 22550}, 0},
        // Across the grey axis: 2550 units beyond the point where blue stops dominating.
        {"across grey", {10000, 10000, 50000}, {30000, 30000, 30000}, {31472, 31472, 28527}, 1},
        // Direction still inside the blue region: copied.
        {"inside", {10000, 10000, 50000}, {20000, 20000, 50000}, {20000, 20000, 50000}, 0},
        // Truncation would leave the range on either side: results are clamped.
        {"below zero", {1000, 2000, 20000}, {1000, 2000, 5000}, {1000, 2000, 0}, 0},
        {"above full scale", {30000, 0, 65535}, {62400, 17000, 30535}, {65535, 22281, 19662}, 1},
        // The backdrop colour itself has no direction: copied.
        {"equal to backdrop", {10000, 20000, 50000}, {10000, 20000, 50000}, {10000, 20000, 50000}, 0},
        // Grey, dark and light backdrops never push.
        {"grey backdrop", {30000, 30000, 30000}, {0, 0, 65535}, {0, 0, 65535}, 0},
        {"dark backdrop", {1000, 1000, 1200}, {60000, 0, 0}, {60000, 0, 0}, 0},
        // Green backdrop: pixel straight toward magenta crosses to the other side.
        {"green across", {10000, 50000, 10000}, {30000, 30000, 30000}, {31472, 28527, 31472}, 1},
        // Red backdrop, straight down in red.
        {"red straight down", {50000, 10000, 20000}, {30000, 10000, 20000}, {7450, 10000, 20000}, 0},
    };
    for (const auto& c : cases) {
        std::uint16_t src[8] = {c.pixel[0], c.pixel[1], c.pixel[2], 9, c.pixel[0], c.pixel[1], c.pixel[2], 9};
        std::uint16_t dst[8] = {0, 0, 0, 4321, 0, 0, 0, 4321};
        pushAwayFromBackdrop16(dst, src, 2, c.backdrop);
        for (int p = 0; p < 2; ++p) {
            for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(dst[p * 4 + ch], c.expected[ch], c.tolerance) << c.name << " " << ch;
            EXPECT_EQ(dst[p * 4 + 3], 4321) << c.name;  // alpha is never written
        }
        // In place gives the same.
        pushAwayFromBackdrop16(src, src, 2, c.backdrop);
        for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(src[ch], dst[ch]) << c.name;
    }
}

}  // namespace
}  // namespace vantrelo
