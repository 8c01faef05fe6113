#include "engine/effects/matte_mix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/keying/key_state.h"
#include "matte_test_support.h"

namespace vantrelo {
namespace {

using matte_test::randomSamples;

class MatteMix : public matte_test::EngineSettings {};

using Pixel = std::vector<std::uint16_t>;

// One pixel of each image through mixByMatte16.
Pixel mixOne(const Pixel& first, const Pixel& second, Pixel out, std::uint16_t m) {
    const Pixel matte = {0, 0, 0, m};
    EXPECT_TRUE(mixByMatte16(first.data(), second.data(), out.data(), matte.data(), 1, 1));
    return out;
}

TEST_F(MatteMix, MatteDecidesCopyOrMix) {
    const Pixel first = {65535, 1000, 30000, 111}, second = {0, 3000, 10000, 222}, out = {5, 5, 5, 999};
    EXPECT_EQ(mixOne(first, second, out, 0), second) << "0 copies the second image, alpha too";
    EXPECT_EQ(mixOne(first, second, out, 65535), first) << "full scale copies the first, alpha too";
    const Pixel half = mixOne(first, second, out, 32768);
    EXPECT_EQ(half[0], 32768);
    EXPECT_EQ(half[3], 999) << "a mixed pixel keeps out's alpha";
    EXPECT_EQ(half[1], 1999);
    EXPECT_EQ(half[2], 20000);
    // f = m x 1.5259022e-05 in single precision, trunc(second (1 - f) + first f).
    const float f = 1.0f * 1.5259022e-05f;
    EXPECT_EQ(mixOne(first, second, out, 1)[0], static_cast<std::uint16_t>(65535.0f * f));
    EXPECT_EQ(mixOne(first, second, out, 65534)[0], 65534);
}

TEST_F(MatteMix, WholeImagesAndRectangles) {
    const std::ptrdiff_t w = 12, h = 10;
    const auto first = randomSamples<std::uint16_t>(w * h * 4, 1, 0, 65535);
    const auto second = randomSamples<std::uint16_t>(w * h * 4, 2, 0, 65535);
    auto matte = randomSamples<std::uint16_t>(w * h * 4, 3, 0, 65535);
    matte[3] = 0;
    matte[7] = 65535;
    std::vector<std::uint16_t> whole(w * h * 4, 17);
    ASSERT_TRUE(mixByMatte16(first.data(), second.data(), whole.data(), matte.data(), w, h));

    // The rectangle variant mixes exactly its inclusive bounds and touches nothing else.
    struct Case {
        MatteRect bounds;
        int mixed;
    };
    for (const Case c : {Case{{5, 5, 4, 9}, 0}, Case{{0, 0, 0, 0}, 1}, Case{{2, 3, 6, 4}, 10},
                         Case{{0, 0, 11, 9}, 120}, Case{{-4, -2, 30, 1}, 24}}) {
        std::vector<std::uint16_t> out(w * h * 4, 17);
        ASSERT_TRUE(mixByMatteInRect16(first.data(), second.data(), out.data(), matte.data(), w, &c.bounds));
        int mixed = 0;
        for (std::ptrdiff_t y = 0; y < h; ++y)
            for (std::ptrdiff_t x = 0; x < w; ++x) {
                const bool inside = x >= c.bounds.x0 && x <= c.bounds.x1 && y >= c.bounds.y0 && y <= c.bounds.y1;
                mixed += inside;
                for (int ch = 0; ch < 4; ++ch)
                    ASSERT_EQ(out[(y * w + x) * 4 + ch], inside ? whole[(y * w + x) * 4 + ch] : 17) << x << "," << y;
            }
        EXPECT_EQ(mixed, c.mixed);
    }
    std::vector<std::uint16_t> out(w * h * 4, 17);
    EXPECT_TRUE(mixByMatteInRect16(first.data(), second.data(), out.data(), matte.data(), w, nullptr));
    EXPECT_EQ(out, std::vector<std::uint16_t>(w * h * 4, 17));
    EXPECT_FALSE(mixByMatte16(first.data(), nullptr, out.data(), matte.data(), w, h));
}

// The composite is the mix with the foreground's own alpha as matte, and writes that alpha as
// grey into matteOut everywhere, plain copies included, never touching matteOut's alpha.
TEST_F(MatteMix, CompositeWritesItsMatteAsGrey) {
    const std::ptrdiff_t w = 3, h = 2;
    std::vector<std::uint16_t> fg = randomSamples<std::uint16_t>(w * h * 4, 4, 0, 65535);
    fg[3] = 0;
    fg[7] = 65535;
    fg[11] = 32768;
    const auto bg = randomSamples<std::uint16_t>(w * h * 4, 5, 0, 65535);
    std::vector<std::uint16_t> out(w * h * 4, 9), matteOut(w * h * 4, 4321), mixed(w * h * 4, 9);
    ASSERT_TRUE(doComposite(fg.data(), bg.data(), out.data(), matteOut.data(), w, h));
    ASSERT_TRUE(mixByMatte16(fg.data(), bg.data(), mixed.data(), fg.data(), w, h));
    EXPECT_EQ(out, mixed);
    for (std::ptrdiff_t i = 0; i < w * h; ++i) {
        for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(matteOut[i * 4 + ch], fg[i * 4 + 3]) << i;
        EXPECT_EQ(matteOut[i * 4 + 3], 4321);
    }
}

TEST_F(MatteMix, CompositeWorkersGiveTheSingleThreadResult) {
    struct Case {
        std::ptrdiff_t w, h;
    };
    for (const Case c : {Case{100, 100}, Case{9, 100}, Case{17, 11}, Case{64, 10}}) {
        const std::size_t n = static_cast<std::size_t>(c.w * c.h * 4);
        const auto fg = randomSamples<std::uint16_t>(n, 6, 0, 65535);
        const auto bg = randomSamples<std::uint16_t>(n, 7, 0, 65535);
        std::vector<std::uint16_t> out(n, 1), matteOut(n, 2);
        setWorkerThreadCount(1);
        ASSERT_TRUE(compositeWithMatte16(fg.data(), bg.data(), out.data(), matteOut.data(), c.w, c.h));
        for (int workers : {3, 4, 32}) {
            setWorkerThreadCount(workers);
            std::vector<std::uint16_t> outN(n, 1), matteN(n, 2);
            ASSERT_TRUE(compositeWithMatte16(fg.data(), bg.data(), outN.data(), matteN.data(), c.w, c.h));
            EXPECT_EQ(outN, out) << c.w << "x" << c.h << " on " << workers;
            EXPECT_EQ(matteN, matteOut);
        }
    }
}

TEST_F(MatteMix, CompositeBandsSplitRows) {
    std::vector<std::uint16_t> image(100 * 100 * 4);
    std::uint16_t* p = image.data();
    struct Case {
        int bands, index;
        std::ptrdiff_t start, count;
    };
    for (const Case c : {Case{4, 0, 0, 25}, Case{4, 3, 75, 25}, Case{3, 1, 33, 33}, Case{3, 2, 66, 34}}) {
        doComposite_VantThread band(c.index, c.bands, p, p, p, p, 100, 100);
        EXPECT_EQ(band.bandStart(), c.start);
        EXPECT_EQ(band.bandCount(), c.count);
        EXPECT_EQ(band.width(), 100);
        EXPECT_TRUE(band.byRows());
    }
}

}  // namespace
}  // namespace vantrelo
