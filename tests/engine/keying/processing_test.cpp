#include "engine/keying/processing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/effects/defocus.h"
#include "engine/effects/grain_filter.h"
#include "engine/effects/shape_layer.h"
#include "engine/effects/shape_rasteriser.h"
#include "engine/effects/simulated_foreground.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "tests/engine/keying/keying_fixtures.h"

namespace vantrelo {
namespace {

using testing_keys::pixelsAround;
using testing_keys::shapedKey;
using Pixels = std::vector<std::uint16_t>;
using testing_keys::TestAllocator;

class Processing : public testing_keys::CountedAllocations {
protected:
    Processing() : CountedAllocations(1) {}
};

// A compiled green-screen key; released at the end of the test.
struct Key {
    KeyState state;
    explicit Key(std::uint32_t flags, std::int32_t grainLevel = 0) : state(shapedKey(flags)) {
        state.grainLevel = grainLevel;
        state.grainAmount = grainLevel ? 0.01f : 0.0f;
        recompile();
    }
    ~Key() { releaseKey(&state); }
    void recompile() {
        releaseKey(&state);
        EXPECT_EQ(compileKey(&state), 1);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

Pixels randomImage(std::size_t pixels, unsigned seed, bool opaque = true) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> any(0, 65535);
    Pixels p(4 * pixels);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = std::uint16_t(any(random));
    if (opaque)
        for (std::size_t i = 0; i < pixels; ++i) p[4 * i + 3] = 65535;
    return p;
}

// A mask whose G channel holds the three kinds of value the keying treats apart: 0, 65535 and
// values between.
Pixels maskImage(std::size_t pixels, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> kind(0, 2), any(1, 65534);
    Pixels m(4 * pixels, 0);
    for (std::size_t i = 0; i < pixels; ++i) {
        const int k = kind(random);
        const std::uint16_t v = k == 0 ? 0 : k == 1 ? 65535 : std::uint16_t(any(random));
        for (int c = 0; c < 4; ++c) m[4 * i + c] = v;
    }
    return m;
}

// The pipeline put together from the effects by hand, on one thread: the route processImage must
// agree with.
Pixels reference16(const Pixels& image, const Pixels* background, const Pixels* mask, int w, int h,
                   const KeyState& state) {
    const std::size_t n = std::size_t(w) * h;
    std::uint32_t flags = state.flags;
    if (!mask) flags &= ~std::uint32_t(KeyFlagGarbageMask);
    Pixels grain = image;
    const std::uint16_t* key = image.data();
    if (flags & KeyFlagGrainFilter) {
        EXPECT_TRUE(removeGrain16(grain.data(), w, h, &state, nullptr));
        key = grain.data();
    }
    const bool backgroundSpill = !(flags & (KeyFlagSpillComplement | KeyFlagSpillSolid));
    Pixels spill;
    if (backgroundSpill && background) {
        spill = *background;
        EXPECT_TRUE(defocusColour16(spill.data(), w, h, 30));
    }
    Pixels out(4 * n, 0);
    vantproc(image.data(), key, spill.empty() ? nullptr : spill.data(), mask ? mask->data() : nullptr, out.data(),
             std::ptrdiff_t(n), &state, flags);
    if (backgroundSpill)
        for (std::size_t i = 0; i < n; ++i)
            if (out[4 * i + 3] == 0)
                for (int c = 0; c < 3; ++c) out[4 * i + c] = spill.empty() ? 0 : spill[4 * i + c];
    return out;
}

std::string flagText(std::uint32_t flags) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", unsigned(flags));
    return text;
}

// Each optional step, on and off, gives what its effect and the keying give by hand; the caller's
// key record is never written, even when the garbage-mask bit has to be ignored.
TEST_F(Processing, EachStepAgreesWithItsEffect) {
    const int w = 80, h = 24;  // wide enough for the level-3 grain blur
    struct Case {
        std::uint32_t flags;
        bool background, mask;
        std::int32_t grain;
    };
    const Case cases[] = {
        {KeyFlagSpillComplement, false, false, 0},
        {KeyFlagSpillSolid, false, false, 0},
        {0, true, false, 0},   // background spill: transparent pixels show the blurred background
        {0, false, false, 0},  // background spill without a background: black
        {KeyFlagSpillComplement | KeyFlagGrainFilter, false, false, 3},
        {KeyFlagGrainFilter, true, false, 3},
        {KeyFlagGarbageMask, true, true, 0},
        {KeyFlagGarbageMask | KeyFlagSpillComplement, false, true, 0},
        {KeyFlagGarbageMask, true, false, 0},  // no mask: keyed without it
        {KeyFlagSpillSolid, false, true, 0},   // a mask without the flag is not read
        {KeyFlagSpillComplement | KeyFlagDirectCallbacks | KeyFlagGarbageMask, false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(flagText(c.flags));
        Key key(c.flags, c.grain);
        const Pixels image = pixelsAround(key.state, std::size_t(w) * h, 3);
        const Pixels background = randomImage(std::size_t(w) * h, 4);
        const Pixels mask = maskImage(std::size_t(w) * h, 5);
        const KeyState before = key.state;
        const Pixels expected = reference16(image, c.background ? &background : nullptr, c.mask ? &mask : nullptr,
                                            w, h, key.state);
        for (int workers : {1, 4}) {
            setWorkerThreadCount(workers);
            Pixels out(image.size(), 0x5a5a);
            ASSERT_EQ(processImage(image.data(), out.data(), c.background ? background.data() : nullptr,
                                   c.mask ? mask.data() : nullptr, w, h, &key.state, nullptr),
                      ProcessStatus::Done);
            EXPECT_EQ(out, expected) << workers << " workers";
            EXPECT_EQ(std::memcmp(&before, &key.state, sizeof before), 0) << "the key record is only read";
        }
    }
}

// A masked pixel (mask 65535) is settled as the mask pass settles it on every route: transparent,
// with the spill colour, or black with spill complement.
TEST_F(Processing, MaskedPixelsAreRemovedOnEveryRoute) {
    const int w = 16, h = 12;
    for (std::uint32_t spill : {std::uint32_t(0), std::uint32_t(KeyFlagSpillSolid), std::uint32_t(KeyFlagSpillComplement)}) {
        Key key(KeyFlagGarbageMask | spill);
        const Pixels image = pixelsAround(key.state, std::size_t(w) * h, 9);
        const Pixels background = randomImage(std::size_t(w) * h, 10);
        Pixels mask(image.size(), 0);
        for (std::size_t i = 0; i < mask.size(); i += 4)
            for (int c = 0; c < 4; ++c) mask[i + c] = 65535;
        const CropInsets none{0, 0, 0, 0}, inset{2, 1, 1, 3};
        for (const CropInsets* insets : {&none, &inset})
            for (int workers : {1, 4}) {
                setWorkerThreadCount(workers);
                Pixels out(image.size(), 0x5a5a);
                ASSERT_EQ(processImage(image.data(), out.data(), background.data(), mask.data(), w, h, &key.state,
                                       insets),
                          ProcessStatus::Done);
                const KeptRect r = keptRect(insets, w, h);
                for (std::ptrdiff_t y = r.y0; y <= r.y1; ++y)
                    for (std::ptrdiff_t x = r.x0; x <= r.x1; ++x) {
                        const std::size_t i = 4 * std::size_t(y * w + x);
                        EXPECT_EQ(out[i + 3], 0) << flagText(spill) << " at " << x << "," << y;
                        for (int c = 0; c < 3; ++c) {
                            if (spill == KeyFlagSpillComplement) {
                                EXPECT_EQ(out[i + c], 0);
                            } else if (spill == KeyFlagSpillSolid) {
                                EXPECT_EQ(out[i + c], key.state.replacementColour[c]);
                            }
                        }
                    }
            }
    }
}

// A green backdrop lit unevenly (brighter to the right) with a warm subject in the middle.
Pixels unevenBackdrop(int w, int h) {
    Pixels p(4 * std::size_t(w) * h);
    std::mt19937 random(17);
    std::uniform_int_distribution<int> noise(-300, 300);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint16_t* q = p.data() + 4 * (std::size_t(y) * w + x);
            const bool subject = x > w / 3 && x < 2 * w / 3 && y > h / 4 && y < 3 * h / 4;
            const float light = 0.75f + 0.5f * float(x) / float(w - 1);
            const float rgb[3] = {subject ? 52000.0f : 9000.0f * light, subject ? 30000.0f : 41000.0f * light,
                                  subject ? 21000.0f : 12000.0f * light};
            for (int c = 0; c < 3; ++c) q[c] = std::uint16_t(std::clamp(rgb[c] + float(noise(random)), 0.0f, 65535.0f));
            q[3] = 65535;
        }
    return p;
}

// With the simulated foreground the keying reads the lighting-corrected image; in its output mode
// the estimated backdrop itself comes out; a grid number of 0 corrects nothing.
TEST_F(Processing, SimulatedForegroundFeedsTheKeying) {
    const int w = 40, h = 30;
    const std::size_t n = std::size_t(w) * h;
    Key key(KeyFlagSpillComplement | KeyFlagSimulatedForeground);
    key.state.simGridSize = 4;
    const Pixels image = unevenBackdrop(w, h);
    Pixels corrected(4 * n), estimate(4 * n);
    ASSERT_TRUE(simulateForegroundMode0(image.data(), corrected.data(), w, h, &key.state, nullptr));
    ASSERT_TRUE(simulateForegroundMode1(image.data(), estimate.data(), w, h, &key.state, nullptr));
    ASSERT_NE(corrected, image) << "the fixture needs correcting";
    const Pixels expected = reference16(corrected, nullptr, nullptr, w, h, key.state);
    for (int workers : {1, 4}) {
        setWorkerThreadCount(workers);
        Pixels out(4 * n, 0x5a5a);
        ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
                  ProcessStatus::Done);
        EXPECT_EQ(out, expected) << workers << " workers";
    }

    key.state.flags |= KeyFlagSimulatedForegroundOutput;
    Pixels out(4 * n);
    ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(out[4 * i + c], estimate[4 * i + c]) << i;
        ASSERT_EQ(out[4 * i + 3], 65535);
    }

    key.state.flags &= ~std::uint32_t(KeyFlagSimulatedForegroundOutput);
    key.state.simGridSize = 0;
    ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(out, reference16(image, nullptr, nullptr, w, h, key.state));

    // Float: the float correction on the 16-bit scale, then the float keying.
    key.state.simGridSize = 4;
    std::vector<float> imageF(image.begin(), image.end()), correctedF(4 * n), expectedF(4 * n), outF(4 * n);
    ASSERT_TRUE(simulateForegroundFloatMode0(65535.0f, imageF.data(), correctedF.data(), w, h, &key.state, nullptr));
    super_vantproc(correctedF.data(), correctedF.data(), nullptr, nullptr, expectedF.data(), std::ptrdiff_t(n),
                   &key.state, key.state.flags);
    ASSERT_EQ(processImageFloat(65535.0f, imageF.data(), outF.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(outF, expectedF);
}

TEST_F(Processing, SimulatedForegroundOutputAloneCopiesTheImage) {
    Key key(KeyFlagSimulatedForegroundOutput | KeyFlagSpillComplement);
    const int w = 9, h = 7;
    const Pixels image = randomImage(std::size_t(w) * h, 12, false);
    Pixels out(image.size(), 1);
    ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    for (std::size_t i = 0; i < out.size(); i += 4) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(out[i + c], image[i + c]);
        EXPECT_EQ(out[i + 3], 65535);
    }
}

ShapeLayer squareLayer(float from, float to) {
    ShapeLayer layer;
    const float xs[4] = {from, to, to, from}, ys[4] = {from, from, to, to};
    for (int i = 0; i < 4; ++i) {
        layer.x.push_back(xs[i]);
        layer.y.push_back(ys[i]);
        layer.pointType.push_back(ShapePointCorner);
        layer.pointFlag.push_back(false);
    }
    return layer;
}

// A key that asks for EXTSHAPE layers but has none keys as if it did not ask; with layers, they
// are drawn over a copy of the caller's mask, which the caller keeps.
TEST_F(Processing, ShapeLayersJoinTheMask) {
    const int w = 32, h = 24;
    const Pixels background = randomImage(std::size_t(w) * h, 14);
    const Pixels mask = maskImage(std::size_t(w) * h, 15);
    ShapeLayer square = squareLayer(0.25f, 0.75f);
    ShapeLayer* none[1] = {nullptr};
    ShapeLayer* one[2] = {&square, nullptr};

    Key plain(KeyFlagGarbageMask);
    const Pixels image = pixelsAround(plain.state, std::size_t(w) * h, 13);
    Pixels withoutShapes(image.size());
    ASSERT_EQ(processImage(image.data(), withoutShapes.data(), background.data(), mask.data(), w, h, &plain.state,
                           nullptr),
              ProcessStatus::Done);

    for (ShapeLayer** list : {static_cast<ShapeLayer**>(nullptr), none}) {
        Key key(KeyFlagGarbageMask | KeyFlagExtShapes);
        key.state.extShapes = list;
        Pixels out(image.size(), 0x5a5a);
        ASSERT_EQ(processImage(image.data(), out.data(), background.data(), mask.data(), w, h, &key.state, nullptr),
                  ProcessStatus::Done);
        EXPECT_EQ(out, withoutShapes) << "empty layer list: the output is written all the same";
    }

    Key key(KeyFlagGarbageMask | KeyFlagExtShapes);
    key.state.extShapes = one;
    Pixels drawn = mask;
    ASSERT_TRUE(rasteriseShapeMask(drawn.data(), w, h, one, 1, false, nullptr));
    ASSERT_NE(drawn, mask);
    const Pixels expected = reference16(image, &background, &drawn, w, h, key.state);
    const Pixels maskBefore = mask;
    Pixels out(image.size());
    ASSERT_EQ(processImage(image.data(), out.data(), background.data(), mask.data(), w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(mask, maskBefore);
    // Without a mask the keying reads none, so the layers change nothing.
    ASSERT_EQ(processImage(image.data(), out.data(), background.data(), nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(out, reference16(image, &background, nullptr, w, h, key.state));
}

// Keying a crop rectangle gives, inside it, exactly what keying the whole image gives there; the
// rest of the output is the background (or zeros).  Insets reaching past the image are clipped.
TEST_F(Processing, RectangleAgreesWithTheWholeImage) {
    const int w = 100, h = 100;
    for (std::uint32_t flags : {std::uint32_t(0), std::uint32_t(KeyFlagSpillComplement),
                                std::uint32_t(KeyFlagSpillSolid | KeyFlagGarbageMask)}) {
        SCOPED_TRACE(flagText(flags));
        Key key(flags);
        const Pixels image = pixelsAround(key.state, std::size_t(w) * h, 21);
        const Pixels background = randomImage(std::size_t(w) * h, 22);
        const Pixels mask = maskImage(std::size_t(w) * h, 23);
        for (bool withBackground : {true, false}) {
            const std::uint16_t* bg = withBackground ? background.data() : nullptr;
            setWorkerThreadCount(4);
            Pixels whole(image.size());
            ASSERT_EQ(processImage(image.data(), whole.data(), bg, mask.data(), w, h, &key.state, nullptr),
                      ProcessStatus::Done);
            setWorkerThreadCount(1);
            struct Inset {
                CropInsets insets;
                int x0, x1, y0, y1;  // kept rectangle, inclusive; x1 < x0 when empty
            };
            const Inset insets[] = {
                {{10, 10, 10, 10}, 10, 89, 10, 89},
                {{0, 0, 0, 1}, 0, 99, 0, 98},
                {{-7, 3, -1, 95}, 0, 96, 0, 4},
                {{60, 60, 0, 0}, 60, 39, 0, 99},      // overlapping insets: nothing keyed
                {{200, 0, 0, 500}, 100, 99, 0, -401},  // beyond the image: clipped
            };
            for (const Inset& r : insets) {
                Pixels out(image.size(), 0x5a5a);
                ASSERT_EQ(processImage(image.data(), out.data(), bg, mask.data(), w, h, &key.state, &r.insets),
                          ProcessStatus::Done);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const std::size_t i = 4 * (std::size_t(y) * w + x);
                        const bool inside = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
                        for (int c = 0; c < 4; ++c) {
                            const std::uint16_t want = inside ? whole[i + c] : bg ? background[i + c] : 0;
                            ASSERT_EQ(out[i + c], want) << x << "," << y << " channel " << c << " insets "
                                                        << r.insets.left << " " << r.insets.right;
                        }
                    }
            }
        }
    }
}

// Float keying: the route through processImageFloat agrees with the float keying by hand, on
// every thread count, and a full scale other than 65535 only rescales.
TEST_F(Processing, FloatAgreesWithItsKeyingAndRescales) {
    const int w = 20, h = 15;
    const std::size_t n = std::size_t(w) * h;
    for (std::uint32_t flags : {std::uint32_t(KeyFlagSpillComplement), std::uint32_t(KeyFlagSpillSolid),
                                std::uint32_t(KeyFlagGarbageMask), std::uint32_t(KeyFlagGrainFilter)}) {
        SCOPED_TRACE(flagText(flags));
        Key key(flags, flags & KeyFlagGrainFilter ? 3 : 0);
        const Pixels image16 = pixelsAround(key.state, n, 31);
        const Pixels background16 = randomImage(n, 32);
        const Pixels mask16 = maskImage(n, 33);
        const std::vector<float> image(image16.begin(), image16.end());
        const std::vector<float> background(background16.begin(), background16.end());
        const std::vector<float> mask(mask16.begin(), mask16.end());

        // By hand.
        const bool complement = flags & KeyFlagSpillComplement, solid = !complement && (flags & KeyFlagSpillSolid);
        std::vector<float> spill = background;
        if (solid) {
            for (std::size_t i = 0; i < n; ++i)
                for (int c = 0; c < 4; ++c) spill[4 * i + c] = key.state.replacementColour[c];
        } else if (!complement) {
            ASSERT_TRUE(defocusColourFloat(spill.data(), w, h, 30));
        }
        std::vector<float> grain = image;
        if (flags & KeyFlagGrainFilter) {
            ASSERT_TRUE(removeGrainFloat(grain.data(), w, h, &key.state, nullptr));
        }
        std::vector<float> expected(4 * n);
        super_vantproc(image.data(), (flags & KeyFlagGrainFilter) ? grain.data() : image.data(),
                       complement ? nullptr : spill.data(), mask.data(), expected.data(), std::ptrdiff_t(n),
                       &key.state, key.state.flags);
        if (!complement)
            for (std::size_t i = 0; i < n; ++i)
                if (expected[4 * i + 3] == 0.0f)
                    for (int c = 0; c < 3; ++c) expected[4 * i + c] = spill[4 * i + c];

        for (int workers : {1, 4}) {
            setWorkerThreadCount(workers);
            std::vector<float> in = image, bg = background, m = mask, out(4 * n, -1.0f);
            ASSERT_EQ(processImageFloat(65535.0f, in.data(), out.data(), bg.data(), m.data(), w, h, &key.state,
                                        nullptr),
                      ProcessStatus::Done);
            EXPECT_EQ(out, expected) << workers << " workers";
        }

        // Four times the 16-bit scale scales by exactly 1/4 on the way in, so the keying sees the
        // same numbers; colour comes back times the full scale / 65535, the matte stays 16-bit.
        const float fullScale = 4.0f * 65535.0f;
        std::vector<float> in = image, bg = background, m = mask, out(4 * n);
        for (float& v : in) v *= 4.0f;
        for (float& v : bg) v *= 4.0f;
        for (float& v : m) v *= 4.0f;
        for (std::size_t i = 0; i < n; ++i) in[4 * i + 3] = image[4 * i + 3];
        ASSERT_EQ(processImageFloat(fullScale, in.data(), out.data(), bg.data(), m.data(), w, h, &key.state, nullptr),
                  ProcessStatus::Done);
        const float back = fullScale * (1.0f / 65535.0f);
        for (std::size_t i = 0; i < 4 * n; ++i) {
            const float want = i % 4 == 3 ? expected[i] : expected[i] * back;
            ASSERT_EQ(out[i], want) << i;
        }
        for (std::size_t i = 0; i < 4 * n; ++i) ASSERT_EQ(in[i], image[i]) << "the input stays on the 16-bit scale";
    }
}

// At full scale 1 the image is brought to the 16-bit scale in place, keyed as at full scale 65535,
// and the colour comes back divided by 65535 (to single precision), the matte on its 16-bit scale.
TEST_F(Processing, FloatAtFullScaleOneKeysAsAtTheSixteenBitScale) {
    const int w = 12, h = 10;
    const std::size_t n = std::size_t(w) * h;
    Key key(KeyFlagSpillComplement);
    const Pixels image16 = pixelsAround(key.state, n, 41);
    std::vector<float> image(4 * n);
    for (std::size_t i = 0; i < 4 * n; ++i) image[i] = float(image16[i]) / 65535.0f;
    const std::vector<float> original = image;
    std::vector<float> out(4 * n);
    ASSERT_EQ(processImageFloat(1.0f, image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    std::vector<float> sixteen = image, keyed(4 * n);
    ASSERT_EQ(processImageFloat(65535.0f, sixteen.data(), keyed.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    bool someOpaque = false, someTransparent = false, somePartial = false;
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(image[4 * i + c], original[4 * i + c] * 65535.0f);
        EXPECT_EQ(image[4 * i + 3], original[4 * i + 3]);
        for (int c = 0; c < 3; ++c) {
            const double want = double(keyed[4 * i + c]) / 65535.0;
            ASSERT_NEAR(out[4 * i + c], want, 2e-7 * std::fabs(want) + 1e-12) << i << " channel " << c;
        }
        ASSERT_EQ(out[4 * i + 3], keyed[4 * i + 3]) << i;
        someOpaque |= out[4 * i + 3] == 65535.0f;
        someTransparent |= out[4 * i + 3] == 0.0f;
        somePartial |= out[4 * i + 3] > 0.0f && out[4 * i + 3] < 65535.0f;
    }
    EXPECT_TRUE(someOpaque && someTransparent && somePartial);
}

// 8-bit keying: the route through processImage8 agrees with the 8-bit keying, the fill and the
// matte defocus by hand; with insets the caller's matte outside the rectangle stays.
TEST_F(Processing, EightBitAgreesWithItsKeying) {
    const int w = 24, h = 16;
    const std::size_t n = std::size_t(w) * h;
    for (std::uint32_t flags : {std::uint32_t(0), std::uint32_t(KeyFlagSpillComplement),
                                std::uint32_t(KeyFlagSpillSolid), std::uint32_t(KeyFlagGarbageMask)}) {
        SCOPED_TRACE(flagText(flags));
        Key key(flags);
        const Pixels wide = pixelsAround(key.state, n, 51);
        std::vector<std::uint8_t> image(3 * n), background(3 * n), mask(3 * n);
        std::mt19937 random(52);
        for (std::size_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) {
                image[3 * i + c] = std::uint8_t(wide[4 * i + 2 - c] >> 8);
                background[3 * i + c] = std::uint8_t(random());
                mask[3 * i + c] = std::uint8_t(i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 100);
            }
        const bool complement = flags & KeyFlagSpillComplement;
        const bool solid = !complement && (flags & KeyFlagSpillSolid);
        std::vector<std::uint8_t> spill = background;
        if (!complement && !solid) {
            ASSERT_TRUE(defocusColour8(spill.data(), w, h, 30));
        }
        std::vector<std::uint8_t> colour(3 * n), matte(n);
        vantproc_8(image.data(), image.data(), spill.data(), mask.data(), colour.data(), matte.data(),
                   std::ptrdiff_t(n), &key.state, key.state.flags);
        if (!complement && !solid)
            for (std::size_t i = 0; i < n; ++i)
                if (matte[i] == 0)
                    for (int c = 0; c < 3; ++c) colour[3 * i + c] = spill[3 * i + c];
        std::vector<std::uint8_t> keyedMatte = matte;
        ASSERT_TRUE(defocusMatte8(matte.data(), w, h, 3, 1, 0.25f));

        for (int workers : {1, 4}) {
            setWorkerThreadCount(workers);
            std::vector<std::uint8_t> outColour(3 * n, 7), outMatte(n, 7);
            ASSERT_EQ(processImage8(image.data(), background.data(), mask.data(), w, h, &key.state, nullptr, 3, 1,
                                    0.25f, outColour.data(), outMatte.data()),
                      ProcessStatus::Done);
            EXPECT_EQ(outColour, colour);
            EXPECT_EQ(outMatte, matte);
        }

        // Rectangle, without softening so the matte can be compared pixel by pixel.
        const CropInsets insets{3, 4, 2, 5};
        std::vector<std::uint8_t> outColour(3 * n, 7), outMatte(n, 77);
        ASSERT_EQ(processImage8(image.data(), background.data(), mask.data(), w, h, &key.state, &insets, 0, 0, 0.0f,
                                outColour.data(), outMatte.data()),
                  ProcessStatus::Done);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::size_t i = std::size_t(y) * w + x;
                const bool inside = x >= 3 && x < w - 4 && y >= 2 && y < h - 5;
                ASSERT_EQ(outMatte[i], inside ? keyedMatte[i] : 77) << x << "," << y;
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(outColour[3 * i + c], inside ? colour[3 * i + c] : background[3 * i + c]);
            }
    }
}

// Keyed only inside the shapes: outside the layers' box the output keeps its pixels, where the
// mask is full the output is the keyed image; without layers it is plain processing.
TEST_F(Processing, MaskedProcessingKeysInsideTheShapes) {
    const int w = 40, h = 30;
    const std::size_t n = std::size_t(w) * h;
    Key key(KeyFlagSpillComplement | KeyFlagExtShapes);
    const Pixels image = pixelsAround(key.state, n, 61);
    const Pixels previous = randomImage(n, 62);

    Pixels plain(4 * n), out(4 * n);
    ASSERT_EQ(processImage(image.data(), plain.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    ASSERT_EQ(processImageMasked(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(out, plain) << "no layers";

    ShapeLayer square = squareLayer(0.25f, 0.75f);
    ShapeLayer* layers[2] = {&square, nullptr};
    key.state.extShapes = layers;
    const KeyState before = key.state;
    Pixels drawn(4 * n, 0);
    ShapeBounds box{};
    ASSERT_TRUE(rasteriseShapeMask(drawn.data(), w, h, layers, 1, true, &box));
    out = previous;
    ASSERT_EQ(processImageMasked(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
              ProcessStatus::Done);
    EXPECT_EQ(std::memcmp(&before, &key.state, sizeof before), 0);
    int full = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = 4 * (std::size_t(y) * w + x);
            const bool inBox = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1;
            for (int c = 0; c < 4; ++c) {
                if (!inBox || drawn[i + 3] == 0) {
                    ASSERT_EQ(out[i + c], previous[i + c]) << x << "," << y;
                } else if (drawn[i + 3] == 65535) {
                    ASSERT_EQ(out[i + c], plain[i + c]) << x << "," << y;
                }
            }
            full += inBox && drawn[i + 3] == 65535;
        }
    EXPECT_GT(full, 50);
}

TEST_F(Processing, CompositeOverAgreesOnEveryThreadCount) {
    const std::size_t n = 1000;
    const Pixels foreground = randomImage(n, 71, false), background = randomImage(n, 72);
    Pixels expected = foreground;
    vantcompositeLoop(expected.data(), background.data(), std::ptrdiff_t(n));
    for (int workers : {1, 3, 8})
        for (std::ptrdiff_t count : {std::ptrdiff_t(99), std::ptrdiff_t(n)}) {
            setWorkerThreadCount(workers);
            Pixels f = foreground;
            ASSERT_EQ(compositeOver16(f.data(), background.data(), count), ProcessStatus::Done);
            for (std::ptrdiff_t i = 0; i < 4 * std::ptrdiff_t(n); ++i)
                ASSERT_EQ(f[i], i < 4 * count ? expected[i] : foreground[i]) << workers << " " << i;
        }
}

TEST_F(Processing, UnusableArgumentsAreRefused) {
    Key key(KeyFlagSpillComplement);
    Pixels image(4 * 16, 100), out(4 * 16, 0);
    std::vector<float> imageF(4 * 16, 100.0f), outF(4 * 16, 0.0f);
    EXPECT_EQ(processImage(nullptr, out.data(), nullptr, nullptr, 4, 4, &key.state, nullptr),
              ProcessStatus::BadArguments);
    EXPECT_EQ(processImage(image.data(), nullptr, nullptr, nullptr, 4, 4, &key.state, nullptr),
              ProcessStatus::BadArguments);
    EXPECT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, -4, 4, &key.state, nullptr),
              ProcessStatus::BadArguments);
    EXPECT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, 4, 4, nullptr, nullptr),
              ProcessStatus::BadArguments);
    EXPECT_EQ(processImage(nullptr, nullptr, nullptr, nullptr, 0, 4, &key.state, nullptr), ProcessStatus::Done);
    for (float scale : {0.0f, -1.0f, NAN, INFINITY})
        EXPECT_EQ(processImageFloat(scale, imageF.data(), outF.data(), nullptr, nullptr, 4, 4, &key.state, nullptr),
                  ProcessStatus::BadArguments);
    EXPECT_EQ(imageF[0], 100.0f) << "nothing scaled before the arguments are checked";
    std::vector<std::uint8_t> image8(3 * 16), colour8(3 * 16);
    EXPECT_EQ(processImage8(image8.data(), nullptr, nullptr, 4, 4, &key.state, nullptr, 0, 0, 0.0f, colour8.data(),
                            nullptr),
              ProcessStatus::BadArguments);
    EXPECT_EQ(compositeOver16(out.data(), nullptr, 16), ProcessStatus::BadArguments);
}

// A key that selects the threshold or hexagon keyer but has no keyer object (as compileKey leaves
// it when the keyer cannot be created) would leave the output unwritten, or black in 8 bits: every
// entry point refuses it before touching anything.  The simulated-foreground output keys nothing
// and still runs.
TEST_F(Processing, AKeyWithoutItsKeyerIsRefused) {
    const int w = 12, h = 10;
    const std::size_t n = std::size_t(w) * h;
    for (std::uint32_t keyer : {std::uint32_t(KeyFlagUseRT), std::uint32_t(KeyFlagUseRTPlus)}) {
        SCOPED_TRACE(flagText(keyer));
        Key key(keyer | KeyFlagSpillComplement);
        ASSERT_TRUE(key.state.keyer);
        const Pixels image = pixelsAround(key.state, n, 91);
        Pixels out(4 * n, 0x5a5a);
        ASSERT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &key.state, nullptr),
                  ProcessStatus::Done);

        KeyState broken = key.state;
        broken.keyer = nullptr;
        broken.keySpan16Callback = nullptr;
        broken.keySpan8Callback = nullptr;
        const Pixels untouched(4 * n, 0x5a5a);
        out = untouched;
        EXPECT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &broken, nullptr),
                  ProcessStatus::Failed);
        EXPECT_EQ(out, untouched);
        ShapeLayer square = squareLayer(0.25f, 0.75f);
        ShapeLayer* layers[2] = {&square, nullptr};
        broken.extShapes = layers;
        EXPECT_EQ(processImageMasked(image.data(), out.data(), nullptr, nullptr, w, h, &broken, nullptr),
                  ProcessStatus::Failed);
        EXPECT_EQ(out, untouched);
        broken.extShapes = nullptr;

        std::vector<float> imageF(image.begin(), image.end()), outF(4 * n, -1.0f);
        const std::vector<float> imageBefore = imageF, outBefore = outF;
        EXPECT_EQ(processImageFloat(1.0f, imageF.data(), outF.data(), nullptr, nullptr, w, h, &broken, nullptr),
                  ProcessStatus::Failed);
        EXPECT_EQ(imageF, imageBefore) << "refused before the inputs are scaled";
        EXPECT_EQ(outF, outBefore);

        std::vector<std::uint8_t> image8(3 * n, 90), colour8(3 * n, 7), matte8(n, 7);
        EXPECT_EQ(processImage8(image8.data(), nullptr, nullptr, w, h, &broken, nullptr, 0, 0, 0.0f, colour8.data(),
                                matte8.data()),
                  ProcessStatus::Failed);
        EXPECT_EQ(colour8, std::vector<std::uint8_t>(3 * n, 7));
        EXPECT_EQ(matte8, std::vector<std::uint8_t>(n, 7));

        broken.flags |= KeyFlagSimulatedForegroundOutput;
        EXPECT_EQ(processImage(image.data(), out.data(), nullptr, nullptr, w, h, &broken, nullptr),
                  ProcessStatus::Done);
        EXPECT_EQ(out[3], 65535);
    }
}

// Every working buffer the pipeline takes, and every effect that takes one of its own, can fail:
// each failure comes back as a status, never as a wrong output reported as done, and nothing leaks.
TEST_F(Processing, EveryFailureIsReported) {
    const int w = 80, h = 12;
    const std::size_t n = std::size_t(w) * h;
    ShapeLayer square = squareLayer(0.2f, 0.6f);
    ShapeLayer* layers[2] = {&square, nullptr};
    Key key(KeyFlagGarbageMask | KeyFlagExtShapes | KeyFlagGrainFilter, 3);
    key.state.extShapes = layers;
    const Pixels image = pixelsAround(key.state, n, 81), background = randomImage(n, 82), mask = maskImage(n, 83);
    const std::vector<float> imageF(image.begin(), image.end()), backgroundF(background.begin(), background.end());
    const std::vector<std::uint8_t> image8(3 * n, 90), background8(3 * n, 30);

    // Each run leaves its output's bytes in `bytes`.
    auto bytesOf = [](const auto& v, std::vector<std::uint8_t>& bytes) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(v.data());
        bytes.assign(p, p + v.size() * sizeof(v[0]));
    };
    auto run16 = [&](std::vector<std::uint8_t>& bytes) {
        Pixels out(4 * n);
        const ProcessStatus s =
            processImage(image.data(), out.data(), background.data(), mask.data(), w, h, &key.state, nullptr);
        bytesOf(out, bytes);
        return s;
    };
    auto runMasked = [&](std::vector<std::uint8_t>& bytes) {
        Pixels out(4 * n);
        const ProcessStatus s =
            processImageMasked(image.data(), out.data(), background.data(), nullptr, w, h, &key.state, nullptr);
        bytesOf(out, bytes);
        return s;
    };
    auto runFloat = [&](std::vector<std::uint8_t>& bytes) {
        std::vector<float> in = imageF, bg = backgroundF, out(4 * n);
        const ProcessStatus s =
            processImageFloat(65535.0f, in.data(), out.data(), bg.data(), nullptr, w, h, &key.state, nullptr);
        bytesOf(out, bytes);
        return s;
    };
    auto run8 = [&](std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> colour(3 * n), matte(n);
        const ProcessStatus s = processImage8(image8.data(), background8.data(), nullptr, w, h, &key.state, nullptr,
                                              4, 1, 0.1f, colour.data(), matte.data());
        bytes = colour;
        bytes.insert(bytes.end(), matte.begin(), matte.end());
        return s;
    };
    const std::function<ProcessStatus(std::vector<std::uint8_t>&)> runs[] = {run16, runMasked, runFloat, run8};
    for (std::size_t r = 0; r < std::size(runs); ++r) {
        TestAllocator::calls = 0;
        TestAllocator::refuse = -1;
        std::vector<std::uint8_t> expected, out;
        ASSERT_EQ(runs[r](expected), ProcessStatus::Done) << "run " << r;
        const int needed = TestAllocator::calls;
        EXPECT_GE(needed, 3) << "run " << r;
        int reported = 0;
        for (int i = 0; i < needed; ++i) {
            TestAllocator::calls = 0;
            TestAllocator::refuse = i;
            const ProcessStatus s = runs[r](out);
            if (s == ProcessStatus::Done)  // an effect that could do without the block
                EXPECT_EQ(out, expected) << "run " << r << " allocation " << i;
            else
                EXPECT_TRUE(s == ProcessStatus::OutOfMemory || s == ProcessStatus::Failed) << int(s);
            reported += s != ProcessStatus::Done;
            EXPECT_EQ(TestAllocator::live, 0);
        }
        EXPECT_GE(reported, 2) << "run " << r << ": the pipeline's own working buffers";
        TestAllocator::refuse = -1;
    }
}

}  // namespace
}  // namespace vantrelo
