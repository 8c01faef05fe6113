#include "engine/keying/autodetect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/effects/auto_key.h"
#include "engine/effects/dominant_colours.h"
#include "engine/effects/hue_histogram.h"
#include "engine/effects/simulated_foreground.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/processing.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using Pixels = std::vector<std::uint16_t>;
using testing_keys::TestAllocator;

class Autodetect : public testing_keys::CountedAllocations {
protected:
    Autodetect() : CountedAllocations(2) {}
};

constexpr int kWidth = 96, kHeight = 72;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;

enum Region { Backdrop, Subject, Edge };

const float kWhiteShirt[3] = {60000, 60000, 58000};

// A studio portrait: a backdrop lit unevenly (from `dark` at the left to `bright` at the right), a
// head of dark hair over skin and a shirt, with sensor noise.  `region` receives what each pixel
// shows.
Pixels portrait(const float* backdrop, unsigned seed, std::vector<Region>* region = nullptr, float dark = 0.97f,
                float bright = 1.03f, const float* shirt = kWhiteShirt) {
    Pixels p(4 * kPixels);
    if (region) region->assign(kPixels, Backdrop);
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 250.0f);
    const float hair[3] = {9000, 6000, 4000}, skin[3] = {52000, 38000, 30000};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float dx = (x - kWidth * 0.5f) / (kWidth * 0.18f), dy = (y - kHeight * 0.4f) / (kHeight * 0.3f);
            const float head = dx * dx + dy * dy;
            const bool body = y > kHeight * 0.72f && std::fabs(x - kWidth * 0.5f) < kWidth * 0.3f;
            const float* colour = nullptr;
            if (head < 1.0f)
                colour = dy < -0.4f ? hair : skin;
            else if (body)
                colour = shirt;
            const float light = dark + (bright - dark) * float(x) / float(kWidth - 1);
            std::uint16_t* q = p.data() + 4 * (std::size_t(y) * kWidth + x);
            for (int c = 0; c < 3; ++c) {
                const float v = (colour ? colour[c] : backdrop[c] * light) + noise(random);
                q[c] = std::uint16_t(std::clamp(v, 0.0f, 65535.0f));
            }
            q[3] = 65535;
            if (region) {
                const bool nearHead = std::fabs(head - 1.0f) < 0.25f;
                (*region)[std::size_t(y) * kWidth + x] = colour ? (nearHead ? Edge : Subject)
                                                                : (nearHead || body ? Edge : Backdrop);
            }
        }
    return p;
}

float hueDegrees(const float* rgb) {
    float h = 0, s = 0, v = 0;
    rgbToHsv(rgb[0] * kUnit16, rgb[1] * kUnit16, rgb[2] * kUnit16, &h, &s, &v);
    return h * 60.0f;
}

// Mean matte (0..1) of the backdrop pixels and share of the subject pixels keyed fully opaque by
// the state.
void keyShares(KeyState state, const Pixels& image, const std::vector<Region>& region, double* backdropMatte,
               double* solid) {
    Pixels out(image.size());
    testing_keys::Compiled compiled(&state);
    ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &state, nullptr),
              ProcessStatus::Done);
    std::int64_t backdrop = 0, subject = 0, matte = 0, opaque = 0;
    for (std::size_t i = 0; i < kPixels; ++i) {
        if (region[i] == Backdrop) ++backdrop, matte += out[4 * i + 3];
        if (region[i] == Subject) ++subject, opaque += out[4 * i + 3] == 65535;
    }
    *backdropMatte = double(matte) / 65535.0 / double(backdrop);
    *solid = double(opaque) / double(subject);
}

// Backdrop colour and radii: what shaping a key changes.
bool sameKey(const KeyState& a, const KeyState& b) {
    return std::memcmp(a.backdrop, b.backdrop, sizeof a.backdrop) == 0 &&
           std::memcmp(a.innerRadii, b.innerRadii, sizeof a.innerRadii) == 0 &&
           std::memcmp(a.middleRadii, b.middleRadii, sizeof a.middleRadii) == 0 &&
           std::memcmp(a.outerRadii, b.outerRadii, sizeof a.outerRadii) == 0;
}

const float kGreen[3] = {10000, 42000, 14000};
const float kBlue[3] = {8000, 20000, 50000};

// The backdrop colour is found within a few degrees of hue on green and blue photographs, and the
// key made from it clears the backdrop and keeps the subject.
TEST_F(Autodetect, FindsTheBackdropOfGreenAndBluePhotographs) {
    for (const float* backdrop : {kGreen, kBlue}) {
        SCOPED_TRACE(backdrop == kGreen ? "green" : "blue");
        std::vector<Region> region;
        const Pixels image = portrait(backdrop, 7, &region);
        KeyState state = testing_keys::blankState();
        state.flags = KeyFlagSpillComplement;
        std::uint16_t found[4] = {0, 0, 0, 1234};
        ASSERT_EQ(autodetectBackdrop(image.data(), kWidth, kHeight, found, nullptr, &state, 0.0f, 0.0f, true, false,
                                     1.0f, nullptr, nullptr, 1.0f),
                  1);
        const float foundRgb[3] = {float(found[0]), float(found[1]), float(found[2])};
        EXPECT_NEAR(hueDegrees(foundRgb), hueDegrees(backdrop), 3.0f);
        EXPECT_EQ(found[3], 1234) << "only R, G and B are written";
        for (int c = 0; c < 3; ++c) EXPECT_EQ(state.backdrop[c], foundRgb[c]);
        EXPECT_EQ(state.flags, std::uint32_t(KeyFlagSpillComplement));
        EXPECT_FALSE(state.faceTable) << "the key is left released";
        double backdropMatte = 1, solid = 0;
        keyShares(state, image, region, &backdropMatte, &solid);
        EXPECT_LT(backdropMatte, 0.05);
        EXPECT_GT(solid, 0.95);

        // The simple form: select, no regions, dominance 1.02.
        KeyState simple = testing_keys::blankState();
        simple.flags = KeyFlagSpillComplement;
        ASSERT_EQ(autodetectBackdropSimple(image.data(), kWidth, kHeight, found, nullptr, &simple, 0.0f, 0.0f, false),
                  1);
        EXPECT_NEAR(hueDegrees(foundRgb), hueDegrees(backdrop), 3.0f);
    }
}

// No backdrop: the failure line on standard output, -1, and the key as it was.  Both outputs
// missing: -1 at once, silently.
TEST_F(Autodetect, ReportsAnImageWithoutBackdrop) {
    Pixels grey(4 * kPixels);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> level(5000, 60000), tint(-800, 800);
    for (std::size_t i = 0; i < kPixels; ++i) {
        const int v = level(random);
        for (int c = 0; c < 3; ++c) grey[4 * i + c] = std::uint16_t(std::clamp(v + tint(random), 0, 65535));
        grey[4 * i + 3] = 65535;
    }
    KeyState state = testing_keys::blankState();
    const std::uint16_t blue[4] = {8000, 20000, 50000, 65535};
    setBackdropColour(blue, &state);
    const KeyState before = state;
    std::uint16_t found[4] = {1, 2, 3, 4};
    testing::internal::CaptureStdout();
    EXPECT_EQ(autodetectBackdrop(grey.data(), kWidth, kHeight, found, nullptr, &state, 0.0f, 0.0f, true, false, 1.0f,
                                 nullptr, nullptr, 1.0f),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "vantrelo error: autodetection failed\n");
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
    EXPECT_EQ(found[0], 1);

    const Pixels image = portrait(kGreen, 12);
    testing::internal::CaptureStdout();
    EXPECT_EQ(autodetectBackdrop(image.data(), kWidth, kHeight, nullptr, nullptr, &state, 0.0f, 0.0f, true, false,
                                 1.0f, nullptr, nullptr, 1.0f),
              -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

// Without an out colour, a request lets the histogram key run around the detected colour while the
// key keeps its own backdrop colour.
TEST_F(Autodetect, RequestWithoutOutColourKeepsTheBackdropColour) {
    const Pixels image = portrait(kGreen, 13);
    KeyState state = testing_keys::blankState();
    const std::uint16_t green[4] = {9000, 40000, 15000, 65535};
    setBackdropColour(green, &state);
    const KeyState before = state;
    const int request = 1;
    ASSERT_EQ(autodetectBackdrop(image.data(), kWidth, kHeight, nullptr, &request, &state, 0.0f, 0.0f, true, false,
                                 1.0f, nullptr, nullptr, 1.0f),
              1);
    EXPECT_EQ(std::memcmp(state.backdrop, before.backdrop, sizeof state.backdrop), 0);
    for (float r : state.innerRadii) EXPECT_LE(r, 2550.0f);
    EXPECT_NE(std::memcmp(state.outerRadii, before.outerRadii, sizeof state.outerRadii), 0);
}

// With the simulated foreground the histogram key reads the corrected image (the same key as the
// correction and the histogram key run by hand); a grid number of 0 corrects nothing, so the key
// is the one made without the flag.
TEST_F(Autodetect, SimulatedForegroundFeedsTheHistogramKey) {
    // Strongly uneven light: the dim side of the backdrop changes the bands unless corrected.
    const Pixels image = portrait(kBlue, 14, nullptr, 0.2f, 1.2f);
    auto detect = [&](std::uint32_t flags, std::int32_t grid) {
        KeyState state = testing_keys::blankState();
        state.flags = flags;
        state.simGridSize = grid;
        std::uint16_t found[4];
        EXPECT_EQ(autodetectBackdrop(image.data(), kWidth, kHeight, found, nullptr, &state, 0.0f, 0.5f, true, true,
                                     1.0f, nullptr, nullptr, 1.0f),
                  1);
        EXPECT_EQ(state.flags, flags);
        return state;
    };
    const KeyState plain = detect(0, 12), gridZero = detect(KeyFlagSimulatedForeground, 0),
                   corrected = detect(KeyFlagSimulatedForeground, 6);
    EXPECT_TRUE(sameKey(plain, gridZero));
    EXPECT_FALSE(sameKey(plain, corrected));

    KeyState byHand = testing_keys::blankState();
    byHand.flags = KeyFlagSimulatedForeground;
    byHand.simGridSize = 6;
    std::uint16_t colour[4] = {0, 0, 0, 65535};
    ASSERT_EQ(detectBackdropColour(image.data(), kWidth, kHeight, colour, nullptr, nullptr), 1);
    selectBackdropColour(colour, &byHand);
    Pixels lit(image.size());
    ASSERT_TRUE(simulateForegroundMode0(image.data(), lit.data(), kWidth, kHeight, &byHand, nullptr));
    for (float& r : byHand.innerRadii) r = 2550.0f;
    autoKeyFromHistogramSampled(colour[0], colour[1], colour[2], lit.data(), kWidth, kHeight, &byHand, false, true,
                                0.0f, 0.5f, true, true, 1, 1, 1.0f, 1.0f);
    EXPECT_TRUE(sameKey(byHand, corrected));
}

// The pipeline: steps 0 keys once and shapes nothing; autodetection alone is the autodetection
// with its fixed settings; the refinements run, and a matte shrink of 1 works as 0.99.
TEST_F(Autodetect, PipelineSteps) {
    const Pixels image = portrait(kGreen, 15);
    const std::uint16_t start[4] = {10000, 42000, 14000, 65535};
    KeyState base = testing_keys::blankState();
    base.flags = KeyFlagSpillComplement;
    setBackdropColour(start, &base);

    KeyState state = base;
    std::uint16_t found[4];
    EXPECT_EQ(autoKeyPipeline(image.data(), kWidth, kHeight, found, nullptr, &state, 0.0f, 0.0f, 10, 0.5f, 0.5f, 0),
              1);
    EXPECT_TRUE(sameKey(state, base)) << "steps 0: keyed once, nothing shaped";
    EXPECT_FALSE(state.faceTable) << "and released";

    KeyState viaPipeline = base, direct = base;
    std::uint16_t found2[4];
    EXPECT_EQ(autoKeyPipeline(image.data(), kWidth, kHeight, found, nullptr, &viaPipeline, 0.1f, 0.2f, 10, 0.5f, 0.5f,
                              1),
              1);
    EXPECT_EQ(autodetectBackdrop(image.data(), kWidth, kHeight, found2, nullptr, &direct, 0.1f, 0.2f, true, false,
                                 1.0f, nullptr, nullptr, 1.0f),
              1);
    EXPECT_TRUE(sameKey(viaPipeline, direct));

    KeyState one = base, almost = base;
    EXPECT_EQ(autoKeyPipeline(image.data(), kWidth, kHeight, found, nullptr, &one, 0.0f, 0.0f, 6, 1.0f, 0.2f, 7), 1);
    EXPECT_EQ(autoKeyPipeline(image.data(), kWidth, kHeight, found, nullptr, &almost, 0.0f, 0.0f, 6, 0.99f, 0.2f, 7),
              1);
    EXPECT_TRUE(sameKey(one, almost));
    EXPECT_NE(std::memcmp(one.outerRadii, direct.outerRadii, sizeof one.outerRadii), 0) << "the refinements shape";
    EXPECT_FALSE(one.faceTable);
}

// A white backdrop: the key starts from white and shrinks away from the darker dominant colours and
// from what the first pass found opaque; light colours alone leave the out sample unwritten.
TEST_F(Autodetect, KeyFromDominantColours) {
    const float white[3] = {62000, 62000, 62000}, navy[3] = {5000, 8000, 30000};
    std::vector<Region> region;
    const Pixels image = portrait(white, 16, &region, 0.97f, 1.03f, navy);
    KeyState state = testing_keys::blankState();
    state.flags = KeyFlagSpillComplement;
    std::uint16_t colour[4] = {1, 1, 1, 77}, sample[4] = {1, 2, 3, 4};
    ASSERT_EQ(autoKeyFromDominantColours(image.data(), kWidth, kHeight, colour, sample, &state), 1);
    EXPECT_EQ(colour[0], 65535);
    EXPECT_EQ(colour[1], 65535);
    EXPECT_EQ(colour[2], 65535);
    EXPECT_EQ(colour[3], 77);
    for (float c : state.backdrop) EXPECT_EQ(c, 65535.0f);
    // Every filled colour of both lists is tested, the first list first: the out sample is the last
    // of them darker than near-white.
    std::uint16_t lists[2][40] = {};
    std::int32_t filled[2] = {0, 0};
    ASSERT_EQ(findDominantColours16(image.data(), kWidth, kHeight, 10, 10, lists[0], lists[1], &filled[0], &filled[1]),
              0);
    const std::uint16_t* last = nullptr;
    for (int list = 0; list < 2; ++list)
        for (int k = 0; k < filled[list]; ++k) {
            const std::uint16_t* c = lists[list] + 4 * k;
            const double luma = 0.299 * double(c[0] * kUnit16) + 0.5864 * double(c[1] * kUnit16) +
                                0.1146 * double(c[2] * kUnit16);
            if (luma < double(0.9f)) last = c;
        }
    ASSERT_TRUE(last);
    EXPECT_EQ(std::memcmp(sample, last, sizeof sample), 0);
    EXPECT_GT(filled[1], 0) << "the fixture fills the second list too";
    EXPECT_FALSE(state.faceTable);
    double backdropMatte = 1, solid = 0;
    keyShares(state, image, region, &backdropMatte, &solid);
    EXPECT_GT(solid, 0.9) << "the subject's darker colours are keyed opaque";
    EXPECT_LT(backdropMatte, 0.3);

    // Light everywhere: nothing is darker than near-white.
    Pixels light(4 * kPixels);
    for (std::size_t i = 0; i < kPixels; ++i) {
        const bool pale = (i % kWidth) > kWidth / 2;
        light[4 * i] = 65000;
        light[4 * i + 1] = pale ? 64000 : 65000;
        light[4 * i + 2] = pale ? 60000 : 65000;
        light[4 * i + 3] = 65535;
    }
    const std::uint16_t untouched[4] = {1, 2, 3, 4};
    std::memcpy(sample, untouched, sizeof sample);
    KeyState pale = testing_keys::blankState();
    ASSERT_EQ(autoKeyFromDominantColours(light.data(), kWidth, kHeight, nullptr, sample, &pale), 1);
    EXPECT_EQ(std::memcmp(sample, untouched, sizeof sample), 0);

    const KeyState before = pale;
    EXPECT_EQ(autoKeyFromDominantColours(light.data(), kWidth, kHeight, nullptr, nullptr, &pale), -1);
    EXPECT_EQ(std::memcmp(&before, &pale, sizeof pale), 0);
}

// Memory refused to the autodetection before its key starts (the hue bins and histogram, then the
// starting cloud) is -2 with nothing printed: the key and the out colour stay as they were, as
// after "autodetection failed", but the caller learns that the photograph was never judged.
TEST_F(Autodetect, RefusedMemoryBeforeTheKeyStartsLeavesItAsItWas) {
    const Pixels image = portrait(kBlue, 18);
    KeyState before = testing_keys::blankState();
    before.flags = KeyFlagSpillComplement;
    const std::uint16_t green[4] = {9000, 40000, 15000, 65535};
    ASSERT_TRUE(setBackdropColour(green, &before));
    std::uint16_t colour[4] = {0, 0, 0, 65535};
    TestAllocator::calls = 0;
    ASSERT_EQ(detectBackdropColour(image.data(), kWidth, kHeight, colour, nullptr, nullptr), 1);
    // The detection's own blocks, then the cloud: the first allocation after them.
    const int cloud = TestAllocator::calls;
    for (bool select : {true, false})
        for (int i = 0; i <= cloud; ++i) {
            SCOPED_TRACE(testing::Message() << (select ? "select" : "set") << ", allocation " << i);
            KeyState state = before;
            std::uint16_t found[4] = {1, 2, 3, 4};
            TestAllocator::calls = 0;
            TestAllocator::refuse = i;
            testing::internal::CaptureStdout();
            const int result = autodetectBackdrop(image.data(), kWidth, kHeight, found, nullptr, &state, 0.0f, 0.0f,
                                                  select, false, 1.0f, nullptr, nullptr, 1.0f);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
            TestAllocator::refuse = -1;
            EXPECT_EQ(result, -2);
            EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
            EXPECT_EQ(found[0], 1);
            EXPECT_EQ(found[3], 4);
        }

    // The dominant-colour key's start from white, refused: -2 and the key as it was.
    std::uint16_t sample[4];
    TestAllocator::calls = 0;
    KeyState state = before;
    ASSERT_EQ(autoKeyFromDominantColours(image.data(), kWidth, kHeight, colour, sample, &state), 1);
    state = before;
    std::uint16_t lists[2][40] = {};
    std::int32_t filled[2] = {0, 0};
    TestAllocator::calls = 0;
    EngineBlock softened;
    ASSERT_TRUE(softened.allocate<std::uint16_t>(4 * kPixels, false));
    ASSERT_EQ(findDominantColours16(image.data(), kWidth, kHeight, 10, 10, lists[0], lists[1], &filled[0], &filled[1]),
              0);
    const int white = TestAllocator::calls;  // the working image, the segmentation's blocks, then the cloud
    softened.release();
    TestAllocator::calls = 0;
    TestAllocator::refuse = white;
    EXPECT_EQ(autoKeyFromDominantColours(image.data(), kWidth, kHeight, colour, sample, &state), -2);
    TestAllocator::refuse = -1;
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

// A refused working image is reported as -2, never as a finished key; the pipeline's own images
// are had before the key is touched, so refusing them leaves it as it was.
TEST_F(Autodetect, FailuresAreReported) {
    const Pixels image = portrait(kGreen, 17);
    KeyState base = testing_keys::blankState();
    base.flags = KeyFlagSpillComplement;
    std::uint16_t found[4], sample[4];
    auto pipeline = [&](KeyState& s) {
        return autoKeyPipeline(image.data(), kWidth, kHeight, found, nullptr, &s, 0.0f, 0.0f, 4, 0.5f, 0.3f, 7);
    };
    auto dominant = [&](KeyState& s) {
        return autoKeyFromDominantColours(image.data(), kWidth, kHeight, found, sample, &s);
    };
    for (int run = 0; run < 2; ++run) {
        KeyState state = base;
        TestAllocator::refuse = 0;
        TestAllocator::calls = 0;
        EXPECT_EQ(run == 0 ? pipeline(state) : dominant(state), -2);
        EXPECT_EQ(std::memcmp(&state, &base, sizeof state), 0);
        TestAllocator::refuse = -1;
        TestAllocator::calls = 0;
        EXPECT_EQ(run == 0 ? pipeline(state) : dominant(state), 1);
        const int needed = TestAllocator::calls;
        const KeyState finished = state;
        for (int i = 0; i < needed; ++i) {
            state = base;
            TestAllocator::calls = 0;
            TestAllocator::refuse = i;
            testing::internal::CaptureStdout();
            const int result = run == 0 ? pipeline(state) : dominant(state);
            const std::string said = testing::internal::GetCapturedStdout();
            EXPECT_TRUE(result == 1 || result == -2) << result;
            // A step that could do without the block: success means the finished key.
            if (result == 1) {
                EXPECT_TRUE(sameKey(state, finished)) << "allocation " << i;
            }
            // The photograph has a backdrop: refused memory is never reported as not finding it.
            EXPECT_EQ(said.find("autodetection failed"), std::string::npos) << "allocation " << i;
            EXPECT_FALSE(state.faceTable) << "released on every path";
            EXPECT_EQ(TestAllocator::live, 0);
        }
        TestAllocator::refuse = -1;
    }
    KeyState state = base;
    EXPECT_EQ(autodetectBackdrop(nullptr, kWidth, kHeight, found, nullptr, &state, 0, 0, true, false, 1, nullptr,
                                 nullptr, 1),
              -2);
    EXPECT_EQ(autoKeyPipeline(image.data(), -1, kHeight, found, nullptr, &state, 0, 0, 4, 0.5f, 0.3f, 7), -2);
    EXPECT_EQ(autoKeyFromDominantColours(image.data(), kWidth, kHeight, found, sample, nullptr), -2);
}

}  // namespace
}  // namespace vantrelo
