#include "engine/keying/key_float8.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/keyer.h"
#include "engine/keying/span_kernels.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::Compiled;
using testing_keys::pixelsAround;
using testing_keys::setReplacementColour;
using testing_keys::shapedKey;
using testing_keys::uniformKey;

using FloatPixel = std::array<float, 4>;
using Bgr = std::array<std::uint8_t, 3>;

FloatPixel floatKey(const KeyState& state, FloatPixel x, const FloatPixel* y = nullptr,
                    const FloatPixel* s = nullptr, const FloatPixel* m = nullptr) {
    FloatPixel out{-1, -1, -1, -1};
    super_vantproc(x.data(), y ? y->data() : x.data(), s ? s->data() : nullptr, m ? m->data() : nullptr, out.data(),
                   1, &state);
    return out;
}

struct Keyed8 {
    Bgr colour;
    std::uint8_t matte;
};

Keyed8 key8(const KeyState& state, Bgr x, const Bgr* s = nullptr, const Bgr* m = nullptr) {
    Keyed8 out{{0xab, 0xab, 0xab}, 0xab};
    vantproc_8(x.data(), x.data(), s ? s->data() : nullptr, m ? m->data() : nullptr, out.colour.data(), &out.matte, 1,
               &state);
    return out;
}

// ---- Float ----

TEST(KeyFloat, PushedColourIsNotClampedInTheFloatPath) {
    // +G at distance 2000: t_in = 1/2, t_mid = 2, t_out = 10: pushed to 60000 + 20000.
    KeyState state = uniformKey(30000, 60000, 30000, 1000, 4000, 20000, KeyFlagSpillComplement);
    Compiled compiled(&state);
    const FloatPixel out = floatKey(state, {30000, 62000, 30000, 0});
    EXPECT_NEAR(out[1], 80000.0f, 2.0f);
    EXPECT_NEAR(out[0], 30000.0f, 0.01f);
    EXPECT_NEAR(out[3], 65535.0f / 3.0f, 1.0f);
    std::uint16_t x16[4] = {30000, 62000, 30000, 0}, o16[4];
    vantproc(x16, x16, nullptr, nullptr, o16, 1, &state);
    EXPECT_EQ(o16[1], 65535);
}

TEST(KeyFloat, ColourPixelNearTheBackdropIsTransparentWhateverTheKeyPixel) {
    KeyState state = uniformKey(30000, 30000, 30000, 10, 20, 40, KeyFlagSpillComplement);
    state.grainLevel = 1;
    state.grainAmount = 0.001f;  // integer tolerance 66
    Compiled compiled(&state);
    const FloatPixel colour{30040.0f, 29970.0f, 30000.4f, 0};
    const FloatPixel key{50000.0f, 1000.0f, 1000.0f, 0};
    EXPECT_EQ(floatKey(state, colour, &key), (FloatPixel{0, 0, 0, 0}));
    EXPECT_EQ(floatKey(state, key, &key), (FloatPixel{50000.0f, 1000.0f, 1000.0f, 65535.0f}));
}

TEST(KeyFloat, AgreesWithThe16BitReferenceForIntegerPixels) {
    // Integer backdrop, integer pixels, spill complement: the 16-bit reference truncates what the
    // float path keeps, as long as nothing is clamped.
    KeyState state = shapedKey(KeyFlagSpillComplement);
    state.backdrop[0] = 9000.0f;
    state.backdrop[1] = 41000.0f;
    Compiled compiled(&state);
    const std::size_t count = 4000;
    const std::vector<std::uint16_t> pixels = pixelsAround(state, count, 77);
    int between = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t* p = pixels.data() + 4 * i;
        std::uint16_t o16[4];
        keyPixel16(p, p, nullptr, o16, &state);
        const FloatPixel x{float(p[0]), float(p[1]), float(p[2]), float(p[3])};
        FloatPixel o;
        keyPixelFloat(x.data(), x.data(), nullptr, o.data(), &state);
        for (int c = 0; c < 4; ++c) {
            const float v = std::floor(o[c]);
            if (v < 0.0f || v > 65535.0f) continue;  // clamped in 16 bits only
            ASSERT_EQ(float(o16[c]), v) << i << " channel " << c;
        }
        between += o16[3] != 0 && o16[3] != 65535;
    }
    EXPECT_GT(between, 100);
}

TEST(KeyFloat, SpanLoopMatchesThePerPixelRuleBitForBit) {
    const std::size_t count = 5000;
    for (std::uint32_t flags : {0u, std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagGarbageMask)})
        for (int variant = 0; variant < 4; ++variant) {
            KeyState state = shapedKey(flags, 50 + variant);
            state.grainLevel = variant & 2;
            state.grainAmount = 0.003f;
            Compiled compiled(&state);
            auto floats = [&](std::uint32_t seed) {
                const std::vector<std::uint16_t> wide = pixelsAround(state, count, seed);
                std::vector<float> out(wide.size());
                for (std::size_t i = 0; i < wide.size(); ++i) out[i] = float(wide[i]) + float(i % 7) * 0.125f;
                return out;
            };
            const std::vector<float> x = floats(1 + variant), y = floats(2 + variant), s = floats(3 + variant),
                                     m = floats(4 + variant);
            const float* Y = (variant & 1) ? y.data() : x.data();
            std::vector<float> span(4 * count, -1.0f), single(4 * count, -2.0f);
            super_vantproc(x.data(), Y, s.data(), m.data(), span.data(), std::ptrdiff_t(count), &state);
            for (std::size_t i = 0; i < count; ++i) {
                float* o = single.data() + 4 * i;
                keyPixelFloat(x.data() + 4 * i, Y + 4 * i, s.data() + 4 * i, o, &state);
                if (flags & KeyFlagGarbageMask) o[3] = (65535.0f - m[4 * i + 1]) * o[3] * (1.0f / 65535.0f);
            }
            ASSERT_EQ(std::memcmp(span.data(), single.data(), span.size() * sizeof(float)), 0)
                << std::hex << flags << " variant " << variant;
        }
}

TEST(KeyFloat, GarbageMaskScalesTheMatteAndKeepsTheColour) {
    KeyState state = uniformKey(30000, 30000, 30000, 1000, 2000, 4000, KeyFlagSpillComplement | KeyFlagGarbageMask);
    Compiled compiled(&state);
    const FloatPixel colour{31500, 30000, 30000, 0};
    const FloatPixel none{0, 0, 0, 0}, full{0, 65535, 0, 0}, part{0, 16383.75f, 0, 0};
    const FloatPixel unmasked = floatKey(state, colour, nullptr, nullptr, &none);
    const FloatPixel removed = floatKey(state, colour, nullptr, nullptr, &full);
    EXPECT_EQ(removed[3], 0.0f);
    EXPECT_EQ(removed[0], unmasked[0]);
    EXPECT_EQ(floatKey(state, colour, nullptr, nullptr, &part)[3], (65535.0f - 16383.75f) * unmasked[3] * (1.0f / 65535.0f));
}

TEST(KeyFloat, SpillBlendsTowardTheSpillSource) {
    // Between the surfaces on +R: w = 1/6 toward S; beyond the outer surface the colour is kept.
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, 0);
    Compiled compiled(&state);
    const FloatPixel spill{0, 0, 60000, 0};
    const FloatPixel between = floatKey(state, {21500, 30000, 25000, 0}, nullptr, &spill);
    EXPECT_NEAR(between[0], 24000.0f / 6.0f, 2.0f);
    EXPECT_NEAR(between[2], 25000.0f / 6.0f + 60000.0f * 5.0f / 6.0f, 2.0f);
    EXPECT_NEAR(between[3], 32767.5f, 1.0f);
    EXPECT_EQ(floatKey(state, {60000, 30000, 25000, 5}, nullptr, &spill), (FloatPixel{60000, 30000, 25000, 65535}));
}

// ---- 8-bit ----

TEST(Key8, BlackBackdropAndTheEightBitBackdropColour) {
    KeyState black = uniformKey(0, 0, 0, 100, 200, 400, KeyFlagSpillComplement | KeyFlagDirectCallbacks);
    Compiled c1(&black);
    const Keyed8 a = key8(black, {0, 0, 0});
    EXPECT_EQ(a.matte, 0);
    EXPECT_EQ(a.colour, (Bgr{0, 0, 0}));
    // Backdrop red 300: trunc(300) >> 8 = 1, so (B, G, R) = (0, 0, 1) is the backdrop.
    KeyState red = uniformKey(300, 0, 0, 100, 200, 400, KeyFlagSpillComplement);
    Compiled c2(&red);
    EXPECT_EQ(key8(red, {0, 0, 1}).matte, 0);
    EXPECT_EQ(key8(red, {0, 200, 1}).matte, 255);
}

TEST(Key8, SolidSpillColourIsTheHighBytes) {
    KeyState state = uniformKey(20000, 30000, 25000, 1000, 2000, 4000, KeyFlagSpillSolid);
    setReplacementColour(state, 0x12ff, 0x3400, 0xffff);
    Compiled compiled(&state);
    const Bgr backdrop{25000 >> 8, 30000 >> 8, 20000 >> 8};
    const Keyed8 out = key8(state, backdrop);
    EXPECT_EQ(out.matte, 0);
    EXPECT_EQ(out.colour, (Bgr{0xff, 0x34, 0x12}));
}

TEST(Key8, LoopsFollowThe16BitKeyScaledToBytes) {
    // Backdrop a multiple of 257, so the widened 8-bit differences are exact 16-bit differences.
    for (std::uint32_t flags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid)}) {
        KeyState state = uniformKey(257 * 40, 257 * 160, 257 * 50, 6000, 12000, 30000, flags);
        setReplacementColour(state, 257 * 200, 257 * 10, 257 * 90);
        Compiled compiled(&state);
        int between = 0;
        for (int r = 0; r < 256; r += 5)
            for (int g = 0; g < 256; g += 9)
                for (int b = 0; b < 256; b += 11) {
                    const Bgr x{std::uint8_t(b), std::uint8_t(g), std::uint8_t(r)};
                    const Keyed8 out = key8(state, x);
                    std::uint16_t x16[4] = {std::uint16_t(r * 257), std::uint16_t(g * 257), std::uint16_t(b * 257), 0};
                    std::uint16_t o16[4];
                    vantproc(x16, x16, nullptr, nullptr, o16, 1, &state);
                    EXPECT_NEAR(out.matte, o16[3] >> 8, 1) << r << " " << g << " " << b;
                    EXPECT_NEAR(out.colour[2], o16[0] / 257, 1) << r << " " << g << " " << b;
                    EXPECT_NEAR(out.colour[1], o16[1] / 257, 1) << r << " " << g << " " << b;
                    EXPECT_NEAR(out.colour[0], o16[2] / 257, 1) << r << " " << g << " " << b;
                    between += out.matte != 0 && out.matte != 255;
                }
        EXPECT_GT(between, 50);
    }
}

TEST(Key8, VectorLoopMatchesTheScalarReferenceBitForBit) {
    const std::size_t count = 6000;
    for (std::uint32_t flags : {0u, std::uint32_t(KeyFlagSpillSolid), std::uint32_t(KeyFlagSpillComplement),
                                std::uint32_t(KeyFlagSpillSolid | KeyFlagGeneratedPolyhedron)})
        for (int variant = 0; variant < 4; ++variant) {
            KeyState state = shapedKey(flags, 31 + variant);
            state.grainLevel = variant;
            state.grainAmount = 0.004f;
            Compiled compiled(&state);
            const bool twoColours = variant & 1, masked = variant & 2;
            auto bytes = [&](std::uint32_t seed) {
                const std::vector<std::uint16_t> wide = pixelsAround(state, count, seed);
                std::vector<std::uint8_t> out(3 * count);
                for (std::size_t i = 0; i < count; ++i)
                    for (int c = 0; c < 3; ++c) out[3 * i + 2 - c] = std::uint8_t(wide[4 * i + c] >> 8);
                return out;
            };
            const std::vector<std::uint8_t> x = bytes(1 + variant), y = bytes(2 + variant), s = bytes(3 + variant);
            std::vector<std::uint8_t> m(3 * count);
            for (std::size_t i = 0; i < count; ++i) m[3 * i + 1] = i % 4 == 0 ? 255 : std::uint8_t(i);
            for (bool spill : {false, true}) {
                const span_detail::SpanSetup setup = span_detail::makeSpanSetup(&state, flags, spill, true);
                std::vector<std::uint8_t> ro(3 * count, 1), ra(count, 1), vo(3 * count, 2), va(count, 2);
                const std::uint8_t* Y = twoColours ? y.data() : x.data();
                const std::uint8_t* M = masked ? m.data() : nullptr;
                span_detail::keySpan8Reference(setup, x.data(), Y, s.data(), M, ro.data(), ra.data(), count);
                span_detail::keySpan8Vector(setup, x.data(), Y, s.data(), M, vo.data(), va.data(), count);
                ASSERT_EQ(ro, vo) << std::hex << flags << " " << variant << " " << spill;
                ASSERT_EQ(ra, va) << std::hex << flags << " " << variant << " " << spill;
            }
        }
}

TEST(Key8, MaskPassesInBytes) {
    for (std::uint32_t flags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid)}) {
        KeyState state = uniformKey(257 * 40, 257 * 160, 257 * 50, 6000, 12000, 30000, flags | KeyFlagGarbageMask);
        setReplacementColour(state, 0x0100, 0x0200, 0x0300);
        KeyState plain = state;
        plain.flags &= ~KeyFlagGarbageMask;
        Compiled c1(&state);
        Compiled c2(&plain);
        const Bgr colour{50, 160, 80};  // 40 red units out along +R: between the surfaces
        const Keyed8 unmasked = key8(plain, colour);
        ASSERT_GT(unmasked.matte, 0);
        ASSERT_LT(unmasked.matte, 255);
        for (std::uint8_t m : {std::uint8_t(0), std::uint8_t(128), std::uint8_t(254), std::uint8_t(255)}) {
            const Bgr mask{0, m, 0};
            const Keyed8 out = key8(state, colour, nullptr, &mask);
            const auto scaled = std::uint8_t(float(255 - m) * (1.0f / 255.0f) * float(unmasked.matte));
            if (m == 255) {
                EXPECT_EQ(out.matte, 0);
                EXPECT_EQ(out.colour, ((flags & KeyFlagSpillComplement) ? Bgr{0, 0, 0} : Bgr{3, 2, 1}));
            } else {
                EXPECT_EQ(out.matte, scaled) << int(m);
                const bool toSpill = scaled == 0 && !(flags & KeyFlagSpillComplement);
                EXPECT_EQ(out.colour, (toSpill ? Bgr{3, 2, 1} : unmasked.colour)) << int(m);
            }
        }
    }
}

TEST(Key8, PerPixelPathWithGarbageMaskKeysEveryPixel) {
    // No 8-bit callback (an alternative keyer): each pixel goes through the 16-bit rule; a mask byte
    // of 255 zeroes the matte and keeps the keyed colour.
    KeyState state = shapedKey(KeyFlagUseRT | KeyFlagSpillComplement | KeyFlagGarbageMask);
    engineThresholdKeyer()->initFromState(&state);
    Compiled compiled(&state);
    ASSERT_EQ(state.keySpan8Callback, nullptr);
    const Bgr colour{10, 10, 240};
    const Bgr none{0, 0, 0}, full{0, 255, 0};
    const Keyed8 kept = key8(state, colour, nullptr, &none);
    const Keyed8 removed = key8(state, colour, nullptr, &full);
    EXPECT_EQ(kept.matte, 255);
    EXPECT_EQ(removed.matte, 0);
    EXPECT_EQ(removed.colour, kept.colour);
    std::uint16_t x16[4] = {240 * 257, 10 * 257, 10 * 257, 65535}, o16[4];
    keyPixel16(x16, x16, nullptr, o16, &state);
    EXPECT_EQ(kept.colour, (Bgr{std::uint8_t(o16[2] >> 8), std::uint8_t(o16[1] >> 8), std::uint8_t(o16[0] >> 8)}));
}

// The alternative keyers have no 8-bit span: each pixel is widened to 16 bits (c x 257, from the
// blue, green, red bytes to R, G, B), keyed by the 16-bit rule and narrowed to its high bytes in
// blue, green, red order again.  The oracle widens and narrows by hand.  Every pixel's channels
// differ from one another, so a swap of two channels on the way in or out shows.
TEST(Key8, AlternativeKeyersWidenAndNarrowEveryChannelInItsPlace) {
    for (const std::uint32_t keyer : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus)}) {
        SCOPED_TRACE(keyer);
        KeyState state = shapedKey(keyer | KeyFlagSpillComplement);
        (keyer == KeyFlagUseRT ? engineThresholdKeyer() : engineHexagonKeyer())->initFromState(&state);
        Compiled compiled(&state);
        ASSERT_EQ(state.keySpan8Callback, nullptr);

        constexpr std::size_t count = 96;
        std::vector<std::uint8_t> x(3 * count), y(3 * count), s(3 * count);
        std::vector<std::uint16_t> around = pixelsAround(state, count, 11), keys = pixelsAround(state, count, 12);
        std::size_t partial = 0, changed = 0;
        for (std::size_t i = 0; i < count; ++i) {
            for (int c = 0; c < 3; ++c) {
                x[3 * i + 2 - c] = std::uint8_t(around[4 * i + c] >> 8);
                y[3 * i + 2 - c] = std::uint8_t(keys[4 * i + c] >> 8);
                s[3 * i + c] = std::uint8_t(40 + 70 * c + i);  // blue, green, red all different
            }
            // Channels made distinct where the generator gave two the same.
            if (x[3 * i] == x[3 * i + 1]) x[3 * i] ^= 1;
            if (x[3 * i + 2] == x[3 * i] || x[3 * i + 2] == x[3 * i + 1]) x[3 * i + 2] ^= 2;
        }
        for (const bool separateKey : {false, true})
            for (const bool spill : {false, true}) {
                SCOPED_TRACE(std::to_string(separateKey) + std::to_string(spill));
                const std::uint8_t* Y = separateKey ? y.data() : x.data();
                std::vector<std::uint8_t> out(3 * count, 0xab), matte(count, 0xab);
                vantproc_8(x.data(), Y, spill ? s.data() : nullptr, nullptr, out.data(), matte.data(), count, &state);
                for (std::size_t i = 0; i < count; ++i) {
                    const auto wide = [i](const std::uint8_t* bgr) {
                        const std::uint8_t* p = bgr + 3 * i;
                        return std::array<std::uint16_t, 4>{std::uint16_t(p[2] * 257), std::uint16_t(p[1] * 257),
                                                            std::uint16_t(p[0] * 257), 65535};
                    };
                    const auto x16 = wide(x.data()), y16 = wide(Y), s16 = wide(s.data());
                    std::uint16_t o16[4];
                    keyPixel16(x16.data(), y16.data(), spill ? s16.data() : nullptr, o16, &state);
                    const Bgr expected{std::uint8_t(o16[2] >> 8), std::uint8_t(o16[1] >> 8), std::uint8_t(o16[0] >> 8)};
                    ASSERT_EQ((Bgr{out[3 * i], out[3 * i + 1], out[3 * i + 2]}), expected) << i;
                    ASSERT_EQ(matte[i], o16[3] >> 8) << i;
                    partial += matte[i] > 0 && matte[i] < 255;
                    changed += std::memcmp(&out[3 * i], &x[3 * i], 3) != 0;
                }
            }
        // The pixels reach every part of the rule: some partly transparent, some colours changed.
        EXPECT_GT(partial, 0u);
        EXPECT_GT(changed, 0u);
    }
}

// ---- Median of sampled blocks ----

TEST(SampleMedian, NetworkReturnsThePixelOfMedianLuma) {
    std::uint16_t block[36];
    for (int p = 0; p < 9; ++p) {
        // Lumas falling in block order: green 9000 down to 1000.
        block[4 * p] = std::uint16_t(p);
        block[4 * p + 1] = std::uint16_t(9000 - 1000 * p);
        block[4 * p + 2] = 0;
        block[4 * p + 3] = 0;
    }
    const std::uint16_t* median = prefilterSamples(block);
    EXPECT_EQ(median, block + 4);
    EXPECT_EQ(median[1], 5000);
    EXPECT_EQ(median[0], 4);
    EXPECT_EQ(median[3], std::uint16_t(5000 * 0.5864 + 4 * 0.299));
    // Every pixel now carries its luma, and the block still holds the same nine pixels.
    int seen = 0;
    for (int p = 0; p < 9; ++p) seen |= 1 << block[4 * p];
    EXPECT_EQ(seen, 0x1ff);
}

TEST(SampleMedian, EqualLumasExchangeNothing) {
    // Different colours of one luma: the block stays in order and pixel 1 is returned.
    std::uint16_t block[36];
    for (int r = 0; r < 9; ++r) {
        const double g = std::ceil((2000.0 - r * 0.299) / 0.5864);
        block[4 * r] = std::uint16_t(r);
        block[4 * r + 1] = std::uint16_t(g);
        block[4 * r + 2] = 0;
        ASSERT_EQ(std::uint16_t(g * 0.5864 + r * 0.299), 2000) << r;
    }
    const std::uint16_t* median = prefilterSamples(block);
    for (int p = 0; p < 9; ++p) EXPECT_EQ(block[4 * p], p);
    EXPECT_EQ(median[0], 1);
    EXPECT_EQ(median[3], 2000);
}

TEST(SampleMedian, FloatBlockCopiesTheMedianOut) {
    float block[36];
    for (int p = 0; p < 9; ++p) {
        block[4 * p] = float(p);
        block[4 * p + 1] = 90000.0f - 10000.0f * float(p);  // above 65535 stays unclamped
        block[4 * p + 2] = 0.0f;
        block[4 * p + 3] = 0.0f;
    }
    float out[4];
    prefilterSamplesFloat(out, block);
    EXPECT_EQ(out[0], 4.0f);
    EXPECT_EQ(out[1], 50000.0f);
    EXPECT_EQ(out[3], float(50000.0 * 0.5864 + 4 * 0.299));
    EXPECT_EQ(std::memcmp(out, block + 4, sizeof out), 0);
    block[1] = 200000.0f;  // a luma above 65535 is kept as it is
    prefilterSamplesFloat(out, block);
    bool found = false;
    for (int p = 0; p < 9; ++p) found |= block[4 * p + 3] > 65535.0f;
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace vantrelo
