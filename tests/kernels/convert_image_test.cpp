#include "kernels/convert_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel_test_support.h"

namespace vantrelo {
namespace {

using kernel_test::at;
using kernel_test::makeImage;
using kernel_test::TestHost;

TEST(FloatPixelToRgba16, ClampsScalesAndTruncates) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float in;
        std::uint16_t out;
    } cases[] = {{-0.2f, 0},        {0.0f, 0},     {0.5f, 32767},
                 {0.99999f, 65534}, {1.0f, 65535}, {1.7f, 65535},
                 {nan, 0},          {-nan, 0},     {std::numeric_limits<float>::infinity(), 65535}};
    for (const auto& c : cases) {
        const float in[4] = {c.in, c.in, c.in, c.in};
        std::uint16_t out[4] = {1, 1, 1, 1};
        floatPixelToRgba16(out, in);
        for (std::uint16_t v : out) EXPECT_EQ(v, c.out) << c.in;
    }
}

// Every source format through convertImageTo16, with distinct channel values so that a swapped or
// dropped channel shows.
TEST(ConvertImageTo16, EachSourceFormatGivesTheWorkingFormatValues) {
    TestHost host;
    const Rect r{0, 0, 3, 2};
    struct Case {
        int bits, channels, destinationBits;
        double in[4];
        double out[4];
    };
    const Case cases[] = {
        {8, 4, 16, {0, 128, 255, 7}, {0, 32896, 65535, 1799}},
        {8, 3, 16, {255, 1, 128, 0}, {65535, 257, 32896, 65535}},
        {16, 4, 16, {1, 65535, 300, 40000}, {1, 65535, 300, 40000}},
        {16, 3, 16, {9, 8, 7, 0}, {9, 8, 7, 65535}},
        {32, 4, 16, {-0.2, 0.5, 0.99999, 2.0}, {0, 32767, 65534, 65535}},
        {32, 3, 16, {1.7, 0.25, 0.0, 0}, {65535, 16383, 0, 65535}},
        {32, 4, 32, {-0.2, 1.7, 0.3, 2.0}, {-0.2f, 1.7f, 0.3f, 2.0f}},  // kept as they are
        {32, 3, 32, {-1.5, 0.5, 3.0, 0}, {-1.5f, 0.5f, 3.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " channels");
        auto source = makeImage(&host, r, c.bits, c.channels, 5);
        for (std::int32_t y = r.y0; y < r.y1; ++y)
            for (std::int32_t x = r.x0; x < r.x1; ++x)
                for (int ch = 0; ch < c.channels; ++ch) {
                    if (c.bits == 8)
                        at<std::uint8_t>(*source, x, y)[ch] = static_cast<std::uint8_t>(c.in[ch]);
                    else if (c.bits == 16)
                        at<std::uint16_t>(*source, x, y)[ch] = static_cast<std::uint16_t>(c.in[ch]);
                    else
                        at<float>(*source, x, y)[ch] = static_cast<float>(c.in[ch]);
                }
        auto destination = makeImage(&host, r, c.destinationBits, 4);
        convertImageTo16(host, *source, *destination);
        for (std::int32_t y = r.y0; y < r.y1; ++y)
            for (std::int32_t x = r.x0; x < r.x1; ++x)
                for (int ch = 0; ch < 4; ++ch)
                    EXPECT_EQ(kernel_test::sample(*destination, x, y, ch), c.out[ch])
                        << "pixel " << x << "," << y << " channel " << ch;
    }
}

TEST(ConvertImageTo16, FloatIntoFloatKeepsEveryBitPattern) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 1, 1}, 32, 4);
    const std::uint32_t patterns[4] = {0x7fc01234u, 0x80000000u, 0x7f800000u, 0x00000001u};
    std::memcpy(source->firstPixel, patterns, sizeof patterns);
    auto destination = makeImage(&host, Rect{0, 0, 1, 1}, 32, 4);
    convertImageTo16(host, *source, *destination);
    EXPECT_EQ(std::memcmp(destination->firstPixel, patterns, sizeof patterns), 0);
}

// A destination inside the source at an offset takes exactly the pixels at its own coordinates;
// the source's fifth channel is not read.
TEST(ConvertImageTo16, ConvertsTheOverlapAtTheSameCoordinates) {
    TestHost host;
    auto source = makeImage(&host, Rect{-3, 5, 40, 31}, 16, 5, 6);
    kernel_test::fillRandom(*source, 11);
    const Rect inner{2, 9, 37, 30};
    auto destination = makeImage(&host, inner, 16, 4, 8);
    convertImageTo16(host, *source, *destination);
    for (std::int32_t y = inner.y0; y < inner.y1; ++y)
        for (std::int32_t x = inner.x0; x < inner.x1; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(at<std::uint16_t>(*destination, x, y)[c],
                          at<std::uint16_t>(*source, x, y)[c]);
}

TEST(ConvertImageTo16, RefusesImagesThatDoNotFit) {
    TestHost host;
    auto rgba8 = makeImage(&host, Rect{0, 0, 4, 4}, 8, 4);
    auto rgba16 = makeImage(&host, Rect{0, 0, 4, 4}, 16, 4);
    auto rgbaFloat = makeImage(&host, Rect{0, 0, 4, 4}, 32, 4);
    auto small = makeImage(&host, Rect{1, 0, 4, 4}, 16, 4);
    auto twoChannels = makeImage(&host, Rect{0, 0, 4, 4}, 16, 2);
    auto rgb16 = makeImage(&host, Rect{0, 0, 4, 4}, 16, 3);
    EXPECT_THROW(convertImageTo16(host, *small, *rgba16), Mav::Exception);     // not covered
    EXPECT_THROW(convertImageTo16(host, *rgba16, *rgba8), Mav::Exception);     // 8-bit target
    EXPECT_THROW(convertImageTo16(host, *rgba8, *rgbaFloat), Mav::Exception);  // 8 into float
    EXPECT_THROW(convertImageTo16(host, *twoChannels, *rgba16), Mav::Exception);
    EXPECT_THROW(convertImageTo16(host, *rgba16, *rgb16), Mav::Exception);  // 3-channel target
    auto oddPitch = makeImage(&host, Rect{0, 0, 4, 4}, 16, 4, 1);
    oddPitch->rowBytes -= 1;  // rows that do not start on a 16-bit sample
    EXPECT_THROW(convertImageTo16(host, *oddPitch, *rgba16), Mav::Exception);
    rgba16->firstPixel = nullptr;
    EXPECT_THROW(convertImageTo16(host, *rgba8, *rgba16), Mav::Exception);
    // An empty destination is nothing to do, whatever the source.
    ImageBuffer empty(&host);
    EXPECT_NO_THROW(convertImageTo16(host, *small, empty));
}

}  // namespace
}  // namespace vantrelo
