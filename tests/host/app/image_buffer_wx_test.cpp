#include <gtest/gtest.h>

#include <wx/image.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host/system/image_buffer.h"

namespace {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

template <class Channel>
void setPixel(ImageBuffer& buffer, std::int32_t x, std::int32_t y, Channel r, Channel g, Channel b,
              Channel a) {
    auto* p = reinterpret_cast<Channel*>(buffer.pixelAddress(x, y));
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

template <class Channel>
void fillWith(ImageBuffer& buffer, Channel r, Channel g, Channel b, Channel a) {
    for (std::int32_t y = buffer.bounds.y0; y < buffer.bounds.y1; ++y)
        for (std::int32_t x = buffer.bounds.x0; x < buffer.bounds.x1; ++x)
            setPixel(buffer, x, y, r, g, b, a);
}

TEST(ImageBufferToolkit, DeepChannelsAreScaledDownTruncatedAndClamped) {
    struct Case {
        int bits;
        const char* name;
        unsigned char r, g, b, a;
    } cases[] = {
        {16, "16-bit (65535, 32768, 0, 65535)", 255, 127, 0, 255},
        {32, "float (1.5, -0.2, 0.5, 1.0)", 255, 0, 127, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageBuffer buffer(nullptr);
        buffer.allocate({3, 4, 5, 5}, c.bits);  // two pixels; bounds away from the origin
        buffer.hasAlpha = true;
        if (c.bits == 16) {
            fillWith<std::uint16_t>(buffer, 65535, 32768, 0, 65535);
        } else {
            fillWith<float>(buffer, 1.5f, -0.2f, 0.5f, 1.0f);
            setPixel<float>(buffer, 4, 4, std::numeric_limits<float>::quiet_NaN(), 0.999f, 2.0f,
                            0.0f);
        }
        wxImage image;
        buffer.toWxImage(image);
        ASSERT_TRUE(image.IsOk());
        ASSERT_EQ(image.GetWidth(), 2);
        ASSERT_EQ(image.GetHeight(), 1);
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(image.GetRed(0, 0), c.r);
        EXPECT_EQ(image.GetGreen(0, 0), c.g);
        EXPECT_EQ(image.GetBlue(0, 0), c.b);
        EXPECT_EQ(image.GetAlpha(0, 0), c.a);
        if (c.bits == 32) {  // NaN gives 0; 0.999 x 255 = 254.7 truncates
            EXPECT_EQ(image.GetRed(1, 0), 0);
            EXPECT_EQ(image.GetGreen(1, 0), 254);
            EXPECT_EQ(image.GetBlue(1, 0), 255);
            EXPECT_EQ(image.GetAlpha(1, 0), 0);
        }
    }
}

TEST(ImageBufferToolkit, EightBitRoundTripWithAndWithoutAlpha) {
    ImageBuffer buffer(nullptr);
    buffer.allocate({0, 0, 3, 2}, 8);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 3; ++x)
            setPixel<std::uint8_t>(buffer, x, y, static_cast<std::uint8_t>(10 * x + y),
                                   static_cast<std::uint8_t>(50 + x), static_cast<std::uint8_t>(90 + y),
                                   static_cast<std::uint8_t>(7 * x + 3 * y));

    wxImage opaque;
    buffer.toWxImage(opaque);
    EXPECT_FALSE(opaque.HasAlpha()) << "no alpha array without hasAlpha";

    buffer.hasAlpha = true;
    wxImage image;
    buffer.toWxImage(image);
    ASSERT_TRUE(image.HasAlpha());

    ImageBuffer back(nullptr);
    back.allocate({0, 0, 3, 2}, 8);
    back.hasAlpha = true;
    back.fromWxImage(image);
    EXPECT_EQ(std::memcmp(back.firstPixel, buffer.firstPixel, back.storage.size()), 0);

    back.hasAlpha = false;  // alpha becomes opaque
    back.fromWxImage(image);
    EXPECT_EQ(back.pixelAddress(2, 1)[3], 255);
    EXPECT_EQ(back.pixelAddress(2, 1)[0], 21);
}

// A valid image smaller than the bounds takes only what fits, and a smaller image fills only the
// part of the buffer it covers (checked for overruns under AddressSanitizer).
TEST(ImageBufferToolkit, MismatchedSizesStayInsideBothImages) {
    ImageBuffer buffer(nullptr);
    buffer.allocate({0, 0, 6, 5}, 8);
    buffer.hasAlpha = true;
    fillWith<std::uint8_t>(buffer, 1, 2, 3, 4);
    wxImage small(2, 3, true);
    buffer.toWxImage(small);
    EXPECT_EQ(small.GetRed(1, 2), 1);
    EXPECT_EQ(small.GetAlpha(1, 2), 4);

    small.SetRGB(0, 0, 200, 201, 202);
    buffer.fromWxImage(small);
    EXPECT_EQ(buffer.pixelAddress(0, 0)[0], 200);
    EXPECT_EQ(buffer.pixelAddress(5, 4)[0], 1) << "outside the image: unchanged";
}

TEST(ImageBufferToolkit, DisplayProxyIsOpaqueEightBitOverTheRequestedRegion) {
    ImageBuffer source(nullptr);
    source.allocate({0, 0, 8, 6}, 16);
    source.hasAlpha = true;
    fillWith<std::uint16_t>(source, 65535, 32768, 0, 0);  // fully transparent

    // Same scale: a straight conversion of the region, alpha made opaque.
    ImageBuffer proxy(nullptr);
    proxy.resampleDisplay(source, {2, 1, 5, 4}, source.domain);
    EXPECT_EQ(proxy.bitsPerChannel, 8);
    EXPECT_EQ(proxy.bounds, (Rect{2, 1, 5, 4}));
    EXPECT_EQ(proxy.domain, source.domain);
    EXPECT_FALSE(proxy.hasAlpha);
    for (std::int32_t y = 1; y < 4; ++y)
        for (std::int32_t x = 2; x < 5; ++x) {
            const std::uint8_t* p = proxy.pixelAddress(x, y);
            ASSERT_EQ(p[0], 255);
            ASSERT_EQ(p[1], 127);
            ASSERT_EQ(p[2], 0);
            ASSERT_EQ(p[3], 255);
        }

    // Half scale: the domain halves, the whole proxy comes from the toolkit's scaling.  (The
    // toolkit weights colours by alpha when it scales, so this source is made opaque.)
    fillWith<std::uint16_t>(source, 65535, 32768, 0, 65535);
    ImageBuffer half(nullptr);
    half.resampleScaled(source, {0, 0, 4, 3}, 0.5f);
    EXPECT_EQ(half.domain, (Rect{0, 0, 4, 3}));
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 4; ++x) {
            const std::uint8_t* p = half.pixelAddress(x, y);
            ASSERT_NEAR(p[0], 255, 1);
            ASSERT_NEAR(p[1], 127, 1);
            ASSERT_NEAR(p[2], 0, 1);
            ASSERT_EQ(p[3], 255);
        }

    // A buffer may be resampled from itself.
    half.resampleScaled(half, {0, 0, 2, 1}, 0.5f);
    EXPECT_EQ(half.bounds, (Rect{0, 0, 2, 1}));
    EXPECT_NEAR(half.pixelAddress(1, 0)[0], 255, 1);
}

// A reduced copy is the toolkit's box average of the source's 8-bit conversion, for every depth,
// with and without alpha (which weighs the colours), for reductions by whole and by broken factors
// on non-square images; the toolkit's own scaling of the converted source is the reference.
TEST(ImageBufferToolkit, ReducedCopyIsTheToolkitsBoxAverageOfEveryDepth) {
    struct Size {
        std::int32_t width, height;
    };
    const Size sources[] = {{97, 61}, {40, 70}};
    const Size targets[] = {{19, 12}, {48, 60}, {1, 1}, {96, 2}, {13, 35}};
    std::uint32_t noise = 12345;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return noise >> 8;
    };
    for (const int bits : {8, 16, 32})
        for (const bool alpha : {false, true})
            for (const Size& from : sources) {
                ImageBuffer source(nullptr);
                source.allocate({0, 0, from.width, from.height}, bits);
                source.hasAlpha = alpha;
                for (std::int32_t y = source.bounds.y0; y < source.bounds.y1; ++y)
                    for (std::int32_t x = source.bounds.x0; x < source.bounds.x1; ++x) {
                        // Every channel its own value; some pixels fully transparent, and a
                        // corner whole boxes of which are.
                        const bool clear = (x < 12 && y < 12) || next() % 5 == 0;
                        const std::uint32_t v[4] = {next() % 65536, next() % 65536,
                                                    next() % 65536, clear ? 0 : next() % 65536};
                        if (bits == 8)
                            setPixel<std::uint8_t>(source, x, y, v[0] >> 8, v[1] >> 8, v[2] >> 8,
                                                   v[3] >> 8);
                        else if (bits == 16)
                            setPixel<std::uint16_t>(source, x, y, v[0], v[1], v[2], v[3]);
                        else
                            setPixel<float>(source, x, y, v[0] / 60000.0f - 0.05f,
                                            v[1] / 65535.0f, v[2] / 65535.0f, v[3] / 65535.0f);
                    }
                for (const Size& to : targets) {
                    if (to.width >= from.width || to.height >= from.height) continue;
                    SCOPED_TRACE(testing::Message()
                                 << bits << " bits, alpha " << alpha << ", " << from.width << "x"
                                 << from.height << " to " << to.width << "x" << to.height);
                    const Rect rect{0, 0, to.width, to.height};
                    ImageBuffer reduced(nullptr);
                    reduced.resampleDisplay(source, rect, rect);
                    ASSERT_NE(reduced.firstPixel, nullptr);

                    wxImage image;
                    source.toWxImage(image);
                    image = image.Scale(to.width, to.height, wxIMAGE_QUALITY_HIGH);
                    ImageBuffer expected(nullptr);
                    expected.allocate(rect, 8);
                    expected.fromWxImage(image);
                    for (std::int32_t y = 0; y < to.height; ++y)
                        for (std::int32_t x = 0; x < to.width; ++x)
                            for (int c = 0; c < 4; ++c)
                                ASSERT_EQ(reduced.pixelAddress(x, y)[c],
                                          expected.pixelAddress(x, y)[c])
                                    << "pixel " << x << ", " << y << " channel " << c;
                }
            }
}

TEST(ImageBufferToolkit, DisplayProxyOfNothingIsOpaqueBlack) {
    ImageBuffer empty(nullptr);  // no pixels and an empty domain
    ImageBuffer proxy(nullptr);
    proxy.resampleDisplay(empty, {0, 0, 3, 2}, {0, 0, 3, 2});
    ASSERT_NE(proxy.firstPixel, nullptr);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 3; ++x) {
            const std::uint8_t* p = proxy.pixelAddress(x, y);
            ASSERT_EQ(p[0] + p[1] + p[2], 0);
            ASSERT_EQ(p[3], 255);
        }
    proxy.resampleDisplay(empty, {0, 0, 0, 0}, {0, 0, 3, 2});
    EXPECT_EQ(proxy.firstPixel, nullptr);
}

}  // namespace
