#include "engine/keying/two_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "engine/effects/defocus.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/sampling_tools.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using Pixels = std::vector<std::uint16_t>;
using testing_keys::sameRadii;
using testing_keys::TestAllocator;

class TwoKeys : public testing_keys::CountedAllocations {
protected:
    TwoKeys() : CountedAllocations(2) {}
};

constexpr int kWidth = 128, kHeight = 48;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;
const std::uint16_t kGreen[4] = {9000, 41000, 12000, 65535};

// A key around the green backdrop colour: its noise inside the inner surface, the subject beyond
// the outer one, the ramp between them across the three surfaces.
KeyState greenKey(std::uint32_t flags) {
    return testing_keys::uniformKey(kGreen[0], kGreen[1], kGreen[2], 3000.0f, 15000.0f, 25000.0f, flags);
}

// Green backdrop, a warm subject, and between them a ramp that mixes the two, so that the mattes
// take every value from transparent to opaque.
Pixels photo() {
    Pixels p(4 * kPixels);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-200, 200);
    const float subject[3] = {50000.0f, 32000.0f, 24000.0f};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float t = std::clamp((float(x) - 20.0f) / 20.0f, 0.0f, 1.0f);
            std::uint16_t* q = p.data() + 4 * (std::size_t(y) * kWidth + x);
            for (int c = 0; c < 3; ++c)
                q[c] = std::uint16_t(
                    std::clamp(float(kGreen[c]) * (1 - t) + subject[c] * t + float(noise(random)), 0.0f, 65535.0f));
            q[3] = 65535;
        }
    return p;
}

Pixels maskOf(unsigned seed) {
    Pixels m(4 * kPixels, 0);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < kPixels; ++i)
        if (random() % 5 == 0)
            for (int c = 0; c < 4; ++c) m[4 * i + c] = std::uint16_t(random() % 2 ? 65535 : 30000);
    return m;
}

bool released(const KeyState& s) { return !s.faceTable && !s.keyer && !s.keySpan16Callback; }

// One key's keying of the photo, compiled and released around it.
Pixels keyed(KeyState state, const Pixels& image, const Pixels* background, const Pixels* mask) {
    Pixels out(image.size());
    testing_keys::Compiled compiled(&state);
    EXPECT_EQ(processImage(image.data(), out.data(), background ? background->data() : nullptr,
                           mask ? mask->data() : nullptr, kWidth, kHeight, &state, nullptr),
              ProcessStatus::Done);
    return out;
}

// The float twin of keyed() at full scale 65535.
std::vector<float> keyedFloat(KeyState state, const std::vector<float>& image, const std::vector<float>* mask) {
    std::vector<float> in = image, m = mask ? *mask : std::vector<float>(), out(image.size());
    testing_keys::Compiled compiled(&state);
    EXPECT_EQ(processImageFloat(65535.0f, in.data(), out.data(), nullptr, mask ? m.data() : nullptr, kWidth, kHeight,
                                &state, nullptr),
              ProcessStatus::Done);
    return out;
}

// The float merge worked in double precision from the two keyings: the softened second matte
// decides by its integer part a; between 0 and 65535 colour and matte are the mix with weight
// a / 65535.  `branches` counts the pixels that took the first key's pixel, the second key's and
// the mix.
std::vector<double> floatMergeInDouble(const KeyState& first, const KeyState& second, const std::vector<float>& image,
                                       int radius, float shrink, int branches[3]) {
    std::vector<float> t = keyedFloat(second, image, nullptr);
    EXPECT_TRUE(defocusMatteFloat(65535.0f, t.data(), kWidth, kHeight, radius, 1, shrink));
    std::vector<float> m(image.size(), 0.0f);
    for (std::size_t i = 0; i < kPixels; ++i)
        if (t[4 * i + 3] == 65535.0f) std::fill(m.begin() + 4 * i, m.begin() + 4 * i + 4, 65535.0f);
    const std::vector<float> first16 = keyedFloat(first, image, &m);
    std::vector<double> o(first16.begin(), first16.end());
    for (std::size_t i = 0; i < kPixels; ++i) {
        double* op = &o[4 * i];
        const float* tp = &t[4 * i];
        const double a = std::floor(std::clamp(double(tp[3]), 0.0, 65535.0));
        if (a == 0.0) {
            ++branches[0];
        } else if (a == 65535.0) {
            ++branches[1];
            std::copy(tp, tp + 3, op);
            op[3] = 65535.0;
        } else {
            ++branches[2];
            const double f = a / 65535.0;
            for (int c = 0; c < 3; ++c) op[c] = tp[c] * f + op[c] * (1.0 - f);
            op[3] = std::min(op[3] * (1.0 - f) + tp[3], 65535.0);
        }
    }
    return o;
}

// Single precision carries about seven digits: on the 0..65535 scale a hundredth of a unit.
void expectNearMerge(const std::vector<float>& got, const std::vector<double>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], expected[i], 0.01) << i;
}

// The merge against the two keyings done apart: where the softened second matte is opaque the
// second key's pixel, where it is clear the first key's (keyed with the second key's opaque pixels
// masked out), and the weighted mix between.  At the application's settings (radius 20, shrink
// 0.5) the shrink leaves no matte at full scale, so a second setting without shrink shows the
// opaque case.
TEST_F(TwoKeys, MergeTakesTheSecondKeyWhereItsSoftenedMatteIsOpaque) {
    const Pixels image = photo();
    Pixels background(image.size());
    for (std::size_t i = 0; i < background.size(); ++i) background[i] = std::uint16_t(i * 37 % 65536);
    const Pixels mask = maskOf(5);
    struct Setting {
        int radius;
        float shrink;
    };
    for (const Setting setting : {Setting{20, 0.5f}, Setting{4, 0.0f}})
    for (std::uint32_t firstFlags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagGarbageMask)}) {
        for (bool withMask : {false, true}) {
            SCOPED_TRACE(testing::Message() << "radius " << setting.radius << " first flags " << firstFlags
                                            << " mask " << withMask);
            KeyState first = greenKey(firstFlags), second = greenKey(KeyFlagSpillComplement);
            for (float& r : second.outerRadii) r *= 0.8f;  // different keys: no automatic shaping
            for (float& r : second.middleRadii) r *= 0.8f;
            enforceNesting(2, &second);
            const KeyState firstBefore = first, secondBefore = second;

            Pixels t = keyed(second, image, &background, withMask ? &mask : nullptr);
            ASSERT_TRUE(defocusMatte16(t.data(), kWidth, kHeight, setting.radius, 1, setting.shrink));
            Pixels m = withMask ? mask : Pixels(image.size(), 0);
            for (std::size_t i = 0; i < kPixels; ++i)
                if (t[4 * i + 3] == 65535)
                    for (int c = 0; c < 4; ++c) m[4 * i + c] = 65535;
            const Pixels o = keyed(first, image, &background, &m);

            Pixels out(image.size(), 0x5a5a);
            ASSERT_EQ(mergeTwoKeys16(image.data(), out.data(), background.data(), withMask ? mask.data() : nullptr,
                                     kWidth, kHeight, &first, &second, nullptr, setting.radius, setting.shrink),
                      ProcessStatus::Done);
            EXPECT_TRUE(released(first) && released(second));
            EXPECT_TRUE(sameRadii(first, firstBefore) && sameRadii(second, secondBefore));

            int opaque = 0, clear = 0, between = 0;
            for (std::size_t i = 0; i < kPixels; ++i) {
                const std::uint16_t* tp = &t[4 * i];
                const std::uint16_t* op = &o[4 * i];
                const std::uint16_t* got = &out[4 * i];
                const std::uint32_t a = tp[3];
                if (a == 0) {
                    ++clear;
                    for (int c = 0; c < 4; ++c) ASSERT_EQ(got[c], op[c]) << i;
                } else if (a == 65535) {
                    ++opaque;
                    for (int c = 0; c < 3; ++c) ASSERT_EQ(got[c], tp[c]) << i;
                    ASSERT_EQ(got[3], 65535);
                } else {
                    // The mix with weight a / 65535, worked in double precision and truncated:
                    // single precision may land a hundredth of a unit either side first.
                    ++between;
                    const double f = a / 65535.0;
                    const auto expectTruncated = [i](std::uint16_t value, double exact) {
                        ASSERT_GT(value, exact - 1.01) << i;
                        ASSERT_LE(value, exact + 0.01) << i;
                    };
                    for (int c = 0; c < 3; ++c) expectTruncated(got[c], tp[c] * f + op[c] * (1.0 - f));
                    expectTruncated(got[3], std::min(op[3] * (1.0 - f) + a, 65535.0));
                }
            }
            EXPECT_EQ(opaque > 0, setting.shrink == 0.0f);
            EXPECT_GT(clear, 0);
            EXPECT_GT(between, 0);
        }
    }
}

// Two keys with the same radii: the second is shaped from the image first; one radius apart: not.
// The first key's radii never change, and both keys end released.
TEST_F(TwoKeys, SecondKeyIsShapedOnlyWhenBothKeysAreTheSame) {
    const Pixels image = photo();
    Pixels out(image.size());
    // Outer and middle surfaces well beyond the subject: the automatic shaping pulls them in.
    KeyState first = testing_keys::uniformKey(kGreen[0], kGreen[1], kGreen[2], 3000.0f, 50000.0f, 60000.0f,
                                              KeyFlagSpillComplement);
    KeyState second = first;
    const KeyState firstBefore = first, secondBefore = second;
    ASSERT_EQ(mergeTwoKeys16(image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &first, &second, nullptr,
                             20, 0.5f),
              ProcessStatus::Done);
    EXPECT_TRUE(sameRadii(first, firstBefore));
    EXPECT_FALSE(sameRadii(second, secondBefore)) << "identical keys: the second is reshaped";
    EXPECT_TRUE(released(first) && released(second));

    KeyState apart = secondBefore;
    apart.outerRadii[7] += 1.0f;
    const KeyState apartBefore = apart;
    ASSERT_EQ(mergeTwoKeys16(image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &first, &apart, nullptr,
                             20, 0.5f),
              ProcessStatus::Done);
    EXPECT_TRUE(sameRadii(apart, apartBefore));

    // The matte display shapes the same way and shows the softened matte as grey.
    KeyState display = secondBefore;
    Pixels grey(image.size());
    ASSERT_EQ(secondKeyMatte16(image.data(), grey.data(), nullptr, nullptr, kWidth, kHeight, &firstBefore, &display,
                               nullptr, 20, 0.5f),
              ProcessStatus::Done);
    EXPECT_TRUE(sameRadii(display, second));
    EXPECT_TRUE(released(display));
    Pixels t = keyed(second, image, nullptr, nullptr);
    ASSERT_TRUE(defocusMatte16(t.data(), kWidth, kHeight, 20, 1, 0.5f));
    for (std::size_t i = 0; i < kPixels; ++i)
        for (int c = 0; c < 4; ++c) ASSERT_EQ(grey[4 * i + c], t[4 * i + 3]) << i;
}

// Float: at full scale 65535 the float merge of the two keyings done apart; at another full scale
// the inputs are brought to the 16-bit scale once (not once per key), so both keys see the same
// numbers and the result only differs by the scale of its colour.
TEST_F(TwoKeys, FloatScalesItsInputsOnce) {
    const Pixels image16 = photo();
    KeyState first = greenKey(KeyFlagSpillComplement), second = greenKey(KeyFlagSpillComplement);
    for (float& r : second.outerRadii) r *= 0.8f;
    enforceNesting(2, &second);
    const KeyState firstStart = first, secondStart = second;

    std::vector<float> image(image16.begin(), image16.end()), out(4 * kPixels);
    ASSERT_EQ(mergeTwoKeysFloat(65535.0f, image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &first,
                                &second, nullptr, 20, 0.5f),
              ProcessStatus::Done);
    EXPECT_TRUE(released(first) && released(second));
    int branches[3] = {0, 0, 0};
    expectNearMerge(out, floatMergeInDouble(firstStart, secondStart, image, 20, 0.5f, branches));
    EXPECT_GT(branches[0], 0);
    EXPECT_GT(branches[2], 0);

    // Without shrink the softened matte reaches full scale, and the first key reads the mask of the
    // second key's opaque pixels.
    {
        KeyState masked = greenKey(KeyFlagSpillComplement | KeyFlagGarbageMask), body = secondStart;
        const KeyState maskedStart = masked;
        std::vector<float> in = image, merged(4 * kPixels);
        ASSERT_EQ(mergeTwoKeysFloat(65535.0f, in.data(), merged.data(), nullptr, nullptr, kWidth, kHeight, &masked,
                                    &body, nullptr, 4, 0.0f),
                  ProcessStatus::Done);
        int all[3] = {0, 0, 0};
        expectNearMerge(merged, floatMergeInDouble(maskedStart, secondStart, image, 4, 0.0f, all));
        EXPECT_GT(all[0], 0);
        EXPECT_GT(all[1], 0);
        EXPECT_GT(all[2], 0);
    }

    const float fullScale = 4.0f * 65535.0f;
    std::vector<float> scaled(image16.begin(), image16.end()), outScaled(4 * kPixels);
    for (std::size_t i = 0; i < kPixels; ++i)
        for (int c = 0; c < 3; ++c) scaled[4 * i + c] *= 4.0f;
    first = firstStart;
    second = secondStart;
    ASSERT_EQ(mergeTwoKeysFloat(fullScale, scaled.data(), outScaled.data(), nullptr, nullptr, kWidth, kHeight,
                                &first, &second, nullptr, 20, 0.5f),
              ProcessStatus::Done);
    for (std::size_t i = 0; i < 4 * kPixels; ++i) {
        ASSERT_EQ(scaled[i], float(image16[i])) << "scaled once, to the 16-bit scale: " << i;
        if (i % 4 == 3)
            ASSERT_EQ(outScaled[i], out[i]) << i;
        else
            ASSERT_NEAR(outScaled[i], out[i] * 4.0f, 1e-4f * std::fabs(out[i] * 4.0f) + 1e-3f) << i;
    }

    // The matte display: grey from the softened matte, on the matte's own scale.
    std::vector<float> grey(4 * kPixels);
    std::vector<float> again(image16.begin(), image16.end());
    second = secondStart;
    ASSERT_EQ(secondKeyMatteFloat(65535.0f, again.data(), grey.data(), nullptr, nullptr, kWidth, kHeight, &firstStart,
                                  &second, nullptr, 20, 0.5f),
              ProcessStatus::Done);
    bool partial = false;
    for (std::size_t i = 0; i < kPixels; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(grey[4 * i + c], grey[4 * i + 3]);
        partial |= grey[4 * i + 3] > 0.0f && grey[4 * i + 3] < 65535.0f;
    }
    EXPECT_TRUE(partial);
}

// A refused working image anywhere in the chain is reported (or, where an effect can do without
// it, the result is still the right one), and both keys still end released.
TEST_F(TwoKeys, FailuresAreReportedAndBothKeysReleased) {
    const Pixels image = photo();
    const KeyState start = greenKey(KeyFlagSpillComplement | KeyFlagGrainFilter);
    Pixels out(image.size());
    auto run = [&](KeyState& first, KeyState& second) {
        std::fill(out.begin(), out.end(), std::uint16_t(0x5a5a));
        return mergeTwoKeys16(image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &first, &second, nullptr,
                              20, 0.5f);
    };
    KeyState first = start, second = start;
    TestAllocator::calls = 0;
    ASSERT_EQ(run(first, second), ProcessStatus::Done);
    const Pixels expected = out;
    const int needed = TestAllocator::calls;
    ASSERT_GE(needed, 4);
    int reported = 0;
    for (int i = 0; i < needed; ++i) {
        first = start;
        second = start;
        TestAllocator::calls = 0;
        TestAllocator::refuse = i;
        if (run(first, second) == ProcessStatus::Done)
            EXPECT_EQ(out, expected) << "allocation " << i << ": success means the right result";
        else
            ++reported;
        EXPECT_TRUE(released(first) && released(second)) << "allocation " << i;
        EXPECT_EQ(TestAllocator::live, 0);
    }
    EXPECT_GE(reported, 4) << "the working images of the merge itself";
    TestAllocator::refuse = -1;
    KeyState a = start, b = start;
    EXPECT_EQ(mergeTwoKeys16(nullptr, out.data(), nullptr, nullptr, kWidth, kHeight, &a, &b, nullptr, 20, 0.5f),
              ProcessStatus::BadArguments);
    EXPECT_EQ(mergeTwoKeys16(image.data(), out.data(), nullptr, nullptr, kWidth, kHeight, &a, nullptr, nullptr, 20,
                             0.5f),
              ProcessStatus::BadArguments);
    std::vector<float> f(4 * kPixels), fo(4 * kPixels);
    EXPECT_EQ(mergeTwoKeysFloat(0.0f, f.data(), fo.data(), nullptr, nullptr, kWidth, kHeight, &a, &b, nullptr, 20,
                                0.5f),
              ProcessStatus::BadArguments);
}

}  // namespace
}  // namespace vantrelo
