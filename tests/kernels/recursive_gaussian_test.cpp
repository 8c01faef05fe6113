#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel_test_support.h"
#include "kernels/recursive_gaussian_blur.h"
#include "kernels/recursive_gaussian_filter.h"
#include "kernels/recursive_gaussian_lines.h"

namespace vantrelo {
namespace {

using kernel_test::at;
using kernel_test::makeImage;
using kernel_test::TestHost;

// The line filter written out plainly in double precision, from the filter's fields:
// edge means, the causal pass from the left edge's settled value, the anti-causal pass from the
// right edge's value (the same factor), and their scaled sum.  Returns the unrounded outputs of
// positions first .. first + count - 1.
std::vector<double> referenceLine(const std::vector<double>& x, std::ptrdiff_t first,
                                  std::ptrdiff_t count, const RecursiveGaussianFilter& f) {
    const std::ptrdiff_t L = static_cast<std::ptrdiff_t>(x.size());
    const std::ptrdiff_t K = std::min<std::ptrdiff_t>(f.taps.size(), L);
    double tapSum = 0, left = 0, right = 0;
    for (std::ptrdiff_t j = 0; j < K; ++j) {
        left += f.taps[j] * x[j];
        right += f.taps[j] * x[L - 1 - j];
        tapSum += f.taps[j];
    }
    if (tapSum != 0) left /= tapSum, right /= tapSum;
    const double pL = (1 / f.scale + f.N0) * left * 0.5;
    const double pR = (1 / f.scale + f.N0) * right * 0.5;
    auto xs = [&](std::ptrdiff_t k) { return k < 0 ? left : k >= L ? right : x[k]; };
    std::vector<double> y(L + 4), z(L + 4);  // y[k + 4], z[k]
    for (int k = -4; k < 0; ++k) y[k + 4] = pL;
    for (std::ptrdiff_t k = 0; k < L; ++k)
        y[k + 4] = f.N0 * xs(k) + f.N1 * xs(k - 1) + f.N2 * xs(k - 2) + f.N3 * xs(k - 3) -
                   f.D4 * y[k] - f.D3 * y[k + 1] - f.D2 * y[k + 2] - f.D1 * y[k + 3];
    for (std::ptrdiff_t k = L; k < L + 4; ++k) z[k] = pR;
    for (std::ptrdiff_t k = L - 1; k >= 0; --k)
        z[k] = f.M1 * xs(k + 1) + f.M2 * xs(k + 2) + f.M3 * xs(k + 3) + f.M4 * xs(k + 4) -
               f.D4 * z[k + 4] - f.D3 * z[k + 3] - f.D2 * z[k + 2] - f.D1 * z[k + 1];
    std::vector<double> out(count);
    for (std::ptrdiff_t j = 0; j < count; ++j) out[j] = (y[first + j + 4] + z[first + j]) * f.scale;
    return out;
}

// The two roundings of integer outputs, each limited to 0..top: half up, and to the nearest
// (ties to even) after single precision.
double halfUp(double v, double top) {
    double q = v + 0.5;
    if (!(q > 0)) q = 0;
    if (q > top) q = top;
    return std::trunc(q);
}
double tiesToEven(double v, double top) {
    const float f = static_cast<float>(v);
    const double r = std::nearbyint(static_cast<double>(f));
    return r < 0 ? 0 : r > top ? top : r;
}

TEST(RecursiveGaussianFilter, TapCountsAndNormalisation) {
    const struct {
        double sigma;
        std::size_t taps;
    } cases[] = {{1, 4}, {5, 18}, {0, 1}, {-3, 1}, {2.0 / 7.0, 1}, {0.3, 2}, {10, 35}};
    for (const auto& c : cases) {
        RecursiveGaussianFilter f;
        f.setup(c.sigma);
        EXPECT_EQ(f.taps.size(), c.taps) << c.sigma;
        double sum = 0;
        for (double t : f.taps) sum += t;
        EXPECT_NEAR(sum, 1.0, 1e-12);
        for (std::size_t j = 1; j < f.taps.size(); ++j) EXPECT_LT(f.taps[j], f.taps[j - 1]);
    }
    RecursiveGaussianFilter f;
    EXPECT_THROW(f.setup(std::numeric_limits<double>::quiet_NaN()), Mav::Exception);
    EXPECT_THROW(f.setup(RecursiveGaussianFilter::kMaxSigma * 2), Mav::Exception);
    EXPECT_THROW(f.setup(std::numeric_limits<double>::infinity()), Mav::Exception);
}

// The coefficients approximate a Gaussian: the response to an impulse in the middle of a long line
// is the normal density of that sigma within a fraction of a percent of its peak.
TEST(RecursiveGaussianFilter, ImpulseResponseIsTheGaussianOfItsSigma) {
    for (double sigma : {1.0, 2.5, 10.0, 50.0}) {
        RecursiveGaussianFilter f;
        f.setup(sigma);
        const int L = 1200;
        std::vector<float> line(L, 0.0f), out(L);
        line[L / 2] = 1.0f;
        std::vector<double> scratch(L);
        recursiveGaussianLineFloat(line.data(), out.data(), scratch.data(), L, L, 1, 1, 0, f);
        const double peak = 1 / (sigma * std::sqrt(2 * M_PI));
        for (int k = 0; k < L; ++k) {
            const double x = k - L / 2;
            EXPECT_NEAR(out[k], peak * std::exp(-x * x / (2 * sigma * sigma)), 2e-3 * peak)
                << sigma << " at " << x;
        }
    }
}

// Lines of every depth and both channel layouts against the plain evaluation: one-channel outputs
// round halves up, four-channel outputs go through single precision and round ties to even.  The
// input is four channels and a spare sample a pixel (stride 5), the four-channel output six.
template <class T>
void checkLines(double sigma, std::ptrdiff_t L, std::mt19937& random) {
    RecursiveGaussianFilter f;
    f.setup(sigma);
    const int bits = sizeof(T) == 4 ? 32 : sizeof(T) * 8;
    const double top = bits == 8 ? 255 : 65535;
    const std::ptrdiff_t first = L > 10 ? 4 : 0, count = L > 10 ? L - 9 : L;
    std::vector<T> in(L * 5);
    for (T& v : in)
        v = bits == 32 ? static_cast<T>((random() % 30000) / 20000.0 - 0.2)
                       : static_cast<T>(random() % (static_cast<int>(top) + 1));
    std::vector<double> scratch(4 * L);
    std::vector<T> one(count * 5), four(count * 6);
    recursiveGaussianLineRgba(in.data(), four.data(), scratch.data(), bits, L, count, 5, 6, first,
                              f);
    for (int c = 0; c < 4; ++c) {
        recursiveGaussianLine(in.data() + c, one.data() + c, scratch.data(), bits, L, count, 5, 5,
                              first, f);
        std::vector<double> x(L);
        for (std::ptrdiff_t k = 0; k < L; ++k) x[k] = in[k * 5 + c];
        const std::vector<double> expected = referenceLine(x, first, count, f);
        for (std::ptrdiff_t j = 0; j < count; ++j) {
            if (bits == 32) {
                ASSERT_EQ(one[j * 5 + c], static_cast<float>(expected[j])) << j;
                ASSERT_EQ(four[j * 6 + c], static_cast<float>(expected[j])) << j;
            } else {
                ASSERT_EQ(one[j * 5 + c], halfUp(expected[j], top)) << j << " channel " << c;
                ASSERT_EQ(four[j * 6 + c], tiesToEven(expected[j], top)) << j << " channel " << c;
            }
        }
    }
    // In place, the whole line: every sample is read before it is overwritten.
    std::vector<T> whole(L * 5), separate(L * 5);
    recursiveGaussianLineRgba(in.data(), separate.data(), scratch.data(), bits, L, L, 5, 5, 0, f);
    whole = in;
    recursiveGaussianLineRgba(whole.data(), whole.data(), scratch.data(), bits, L, L, 5, 5, 0, f);
    for (std::ptrdiff_t k = 0; k < L; ++k)
        for (int c = 0; c < 4; ++c) ASSERT_EQ(whole[k * 5 + c], separate[k * 5 + c]);
    whole = in;
    recursiveGaussianLine(in.data() + 2, separate.data() + 2, scratch.data(), bits, L, L, 5, 5, 0,
                          f);
    recursiveGaussianLine(whole.data() + 2, whole.data() + 2, scratch.data(), bits, L, L, 5, 5, 0,
                          f);
    for (std::ptrdiff_t k = 0; k < L; ++k) ASSERT_EQ(whole[k * 5 + 2], separate[k * 5 + 2]);
}

TEST(RecursiveGaussianFilter, LinesMatchThePlainEvaluation) {
    std::mt19937 random(17);
    for (double sigma : {0.0, 0.7, 3.0, 12.0})
        for (std::ptrdiff_t L : {1, 3, 25, 160}) {  // shorter and longer than the tap count
            SCOPED_TRACE(testing::Message() << "sigma " << sigma << ", " << L << " samples");
            checkLines<std::uint8_t>(sigma, L, random);
            checkLines<std::uint16_t>(sigma, L, random);
            checkLines<float>(sigma, L, random);
        }
}

// The blur filters column strips side by side and uses AVX where the processor has it; every
// route must give what the plain one-line filter for the base instruction set gives, bit for bit.
template <class T>
void checkRoutesAgree(std::mt19937& random) {
    using namespace gaussian_detail;
    RecursiveGaussianFilter f;
    f.setup(4.5);
    const std::ptrdiff_t L = 90, lanes = 24, first = 7, count = 70;  // 6 RGBA pixels a row
    std::vector<T> in(L * lanes);
    for (T& v : in)
        v = sizeof(T) == 4 ? static_cast<T>((random() % 40000) / 30000.0 - 0.1)
                           : static_cast<T>(random() % (sizeof(T) == 1 ? 256 : 65536));
    std::vector<double> work(stripWorkSize(lanes, L));
    for (bool four : {true, false}) {
        // The reference: the base line kernel, pixel by pixel (four) or lane by lane (one).
        std::vector<T> expected(count * lanes);
        for (std::ptrdiff_t j = 0; j < lanes; j += four ? 4 : 1) {
            if (four)
                lineKernel<T, true>(false)(in.data() + j, expected.data() + j, work.data(), L,
                                           count, lanes, lanes, first, f);
            else
                lineKernel<T, false>(false)(in.data() + j, expected.data() + j, work.data(), L,
                                            count, lanes, lanes, first, f);
        }
        for (bool avx : {false, true}) {
            if (avx && !processorHasAvx()) continue;
            SCOPED_TRACE(testing::Message() << (four ? "four" : "one") << " channel rounding, "
                                            << (avx ? "AVX" : "base"));
            std::vector<T> strip(count * lanes), line(count * lanes);
            if (four)
                stripKernel<T, true>(avx)(in.data(), strip.data(), work.data(), lanes, L, count,
                                          lanes, lanes, first, f);
            else
                stripKernel<T, false>(avx)(in.data(), strip.data(), work.data(), lanes, L, count,
                                           lanes, lanes, first, f);
            EXPECT_EQ(strip, expected);
            for (std::ptrdiff_t j = 0; j < lanes; j += four ? 4 : 1) {
                if (four)
                    lineKernel<T, true>(avx)(in.data() + j, line.data() + j, work.data(), L, count,
                                             lanes, lanes, first, f);
                else
                    lineKernel<T, false>(avx)(in.data() + j, line.data() + j, work.data(), L, count,
                                              lanes, lanes, first, f);
            }
            EXPECT_EQ(line, expected);
        }
    }
}

TEST(RecursiveGaussianFilter, StripsAndInstructionSetsGiveTheSameValues) {
    std::mt19937 random(23);
    checkRoutesAgree<std::uint8_t>(random);
    checkRoutesAgree<std::uint16_t>(random);
    checkRoutesAgree<float>(random);
}

TEST(RecursiveGaussianFilter, TinySigmaGivesTheLineBack) {
    RecursiveGaussianFilter f;
    f.setup(0.0);
    const std::uint16_t in[6] = {0, 1, 65535, 32768, 12345, 7};
    std::uint16_t out[6];
    double scratch[24];
    recursiveGaussianLine16(in, out, scratch, 6, 6, 1, 1, 0, f);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], in[i]);
    const std::uint8_t rgba[8] = {0, 255, 128, 3, 9, 200, 1, 254};
    std::uint8_t rgbaOut[8];
    recursiveGaussianLineRgba8(rgba, rgbaOut, scratch, 2, 2, 4, 4, 0, f);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rgbaOut[i], rgba[i]);
}

// The right end of a line starts from (1 / scale + N0) x mean / 2, the left end's factor: a
// constant line keeps its level at the left end and rises near the right end.  16-bit results
// above the range are held at 65535 on both paths; float results are never clamped.
TEST(RecursiveGaussianFilter, ConstantLinesRiseAtTheirRightEnd) {
    RecursiveGaussianFilter f;
    f.setup(2.0);
    const int L = 60;
    std::vector<float> flat(L, 1.0f), out(L);
    std::vector<double> scratch(4 * L);
    recursiveGaussianLineFloat(flat.data(), out.data(), scratch.data(), L, L, 1, 1, 0, f);
    EXPECT_NEAR(out[0], 1.0, 1e-3);
    EXPECT_NEAR(out[L / 2], 1.0, 1e-3);
    EXPECT_GT(out[L - 1], 1.1f);  // about 1.143 for sigma 2, not clamped
    std::vector<std::uint16_t> high(4 * L, 64000), high1(L), high4(4 * L);
    recursiveGaussianLine16(high.data(), high1.data(), scratch.data(), L, L, 4, 1, 0, f);
    recursiveGaussianLineRgba16(high.data(), high4.data(), scratch.data(), L, L, 4, 4, 0, f);
    EXPECT_EQ(high1[L - 1], 65535);
    EXPECT_EQ(high4[4 * L - 1], 65535);
    EXPECT_NEAR(high1[L / 2], 64000 * 0.9997, 3);  // the level sits a hair below the input
}

// ---- The blur.

// The blur from the plain line evaluation: margins of ceil(3.5 sigma) cut to the
// source, an intermediate of the image's depth between the passes, the four-channel rounding for
// four-channel images.
std::unique_ptr<ImageBuffer> referenceBlur(TestHost& host, const ImageBuffer& source, const Rect& d,
                                           double sx, double sy) {
    RecursiveGaussianFilter fx, fy;
    fx.setup(sx);
    fy.setup(sy);
    const int mx = std::max(0, int(std::ceil(3.5 * sx))),
              my = std::max(0, int(std::ceil(3.5 * sy)));
    const Rect view = Mav::Host::System::intersectRect(
        Rect{d.x0 - mx, d.y0 - my, d.x1 + mx, d.y1 + my}, source.bounds);
    const int bits = source.bitsPerChannel, channels = source.channels;
    const double top = bits == 8 ? 255 : 65535;
    auto round = [&](double v) {
        if (bits == 32) return double(static_cast<float>(v));
        return channels == 4 ? tiesToEven(v, top) : halfUp(v, top);
    };
    auto set = [&](ImageBuffer& image, std::int32_t x, std::int32_t y, int c, double v) {
        if (bits == 8) at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v);
        if (bits == 16) at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(v);
        if (bits == 32) at<float>(image, x, y)[c] = static_cast<float>(v);
    };
    const bool horizontal = fx.taps.size() >= 2, vertical = !horizontal || fy.taps.size() >= 2;
    // Stage 1: rows of the view (or of the destination) filtered horizontally, or the view.
    const Rect stage1Rect = horizontal && vertical ? Rect{d.x0, view.y0, d.x1, view.y1}
                            : horizontal           ? d
                                                   : view;
    auto stage1 = makeImage(&host, stage1Rect, bits, channels);
    for (std::int32_t y = stage1Rect.y0; y < stage1Rect.y1; ++y)
        for (int c = 0; c < channels; ++c) {
            std::vector<double> x;
            for (std::int32_t i = view.x0; i < view.x1; ++i)
                x.push_back(kernel_test::sample(source, i, y, c));
            if (!horizontal) {
                for (std::int32_t i = view.x0; i < view.x1; ++i)
                    set(*stage1, i, y, c, x[i - view.x0]);
                continue;
            }
            const std::vector<double> out =
                referenceLine(x, stage1Rect.x0 - view.x0, stage1Rect.width(), fx);
            for (std::int32_t i = stage1Rect.x0; i < stage1Rect.x1; ++i)
                set(*stage1, i, y, c, round(out[i - stage1Rect.x0]));
        }
    if (!vertical) return stage1;
    auto result = makeImage(&host, d, bits, channels);
    for (std::int32_t i = d.x0; i < d.x1; ++i)
        for (int c = 0; c < channels; ++c) {
            std::vector<double> x;
            for (std::int32_t y = stage1Rect.y0; y < stage1Rect.y1; ++y)
                x.push_back(kernel_test::sample(*stage1, i, y, c));
            const std::vector<double> out = referenceLine(x, d.y0 - stage1Rect.y0, d.height(), fy);
            for (std::int32_t y = d.y0; y < d.y1; ++y) set(*result, i, y, c, round(out[y - d.y0]));
        }
    return result;
}

struct BlurCase {
    const char* name;
    int bits, channels;
    float sx, sy;
    Rect source, destination;
};

TEST(RecursiveGaussianBlur, MatchesThePlainEvaluationOfBothPasses) {
    const BlurCase cases[] = {
        {"16-bit, both passes, margins", 16, 4, 3.0f, 2.2f, {-20, -10, 90, 70}, {5, 8, 61, 49}},
        {"16-bit, at the image border", 16, 4, 4.0f, 4.0f, {0, 0, 70, 50}, {0, 0, 40, 50}},
        {"16-bit, no margin at all", 16, 4, 2.0f, 5.0f, {3, 3, 60, 45}, {3, 3, 60, 45}},
        {"vertical only (sigma x 0)", 16, 4, 0.0f, 5.0f, {0, 0, 40, 90}, {4, 30, 36, 60}},
        {"horizontal only (sigma y 0.2)", 16, 4, 5.0f, 0.2f, {0, 0, 90, 20}, {30, 2, 60, 18}},
        {"both tiny: a copy", 16, 4, 0.0f, 0.0f, {0, 0, 30, 20}, {2, 2, 28, 19}},
        {"8-bit", 8, 4, 2.5f, 1.5f, {0, 0, 64, 48}, {10, 6, 50, 40}},
        {"float", 32, 4, 6.0f, 3.0f, {0, 0, 80, 60}, {12, 9, 70, 50}},
        {"three channels, one at a time", 16, 3, 3.5f, 2.0f, {0, 0, 60, 44}, {7, 5, 52, 39}},
        {"three channels, 8-bit", 8, 3, 1.0f, 4.0f, {0, 0, 50, 60}, {0, 10, 40, 60}},
    };
    TestHost host;
    for (const BlurCase& bc : cases) {
        SCOPED_TRACE(bc.name);
        auto source = makeImage(&host, bc.source, bc.bits, bc.channels, 12);
        kernel_test::fillRandom(*source, 99);
        auto destination = makeImage(&host, bc.destination, bc.bits, bc.channels, 4);
        RecursiveGaussianBlur blur(host, *source, *destination, bc.sx, bc.sy);
        blur.reportProgress = false;
        blur.run();
        auto expected = referenceBlur(host, *source, bc.destination, bc.sx, bc.sy);
        const Rect d = bc.destination;
        for (std::int32_t y = d.y0; y < d.y1; ++y)
            for (std::int32_t x = d.x0; x < d.x1; ++x)
                for (int c = 0; c < bc.channels; ++c)
                    ASSERT_EQ(kernel_test::sample(*destination, x, y, c),
                              kernel_test::sample(*expected, x, y, c))
                        << x << "," << y << " channel " << c;
    }
}

TEST(RecursiveGaussianBlur, BothTinySigmasCopyTheSourceExactly) {
    TestHost host;
    for (int bits : {8, 16}) {
        auto source = makeImage(&host, Rect{0, 0, 33, 21}, bits, 4);
        kernel_test::fillRandom(*source, 4);
        auto destination = makeImage(&host, Rect{3, 2, 30, 20}, bits, 4);
        RecursiveGaussianBlur blur(host, *source, *destination, 0.0f, 0.0f);
        blur.run();
        for (std::int32_t y = 2; y < 20; ++y)
            for (std::int32_t x = 3; x < 30; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(kernel_test::sample(*destination, x, y, c),
                              kernel_test::sample(*source, x, y, c));
    }
}

// A flat image keeps the level the normalisation gives (a hair below the input), everywhere the
// margin keeps the line ends away; at the true right and bottom border the ends rise.
TEST(RecursiveGaussianBlur, FlatImagesKeepTheirLevelAwayFromTheRightAndBottomBorder) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 120, 100}, 16, 4);
    for (std::int32_t y = 0; y < 100; ++y)
        for (std::int32_t x = 0; x < 120; ++x)
            for (int c = 0; c < 4; ++c) at<std::uint16_t>(*source, x, y)[c] = 10000 * (c + 1);
    auto inner = makeImage(&host, Rect{30, 25, 90, 75}, 16, 4);
    RecursiveGaussianBlur blur(host, *source, *inner, 5.0f, 5.0f);
    blur.run();
    const RecursiveGaussianFilter& f = blur.filterX();
    const double gain = f.scale * (f.N0 + f.N1 + f.N2 + f.N3 + f.M1 + f.M2 + f.M3 + f.M4) /
                        (1 + f.D1 + f.D2 + f.D3 + f.D4);
    EXPECT_NEAR(gain, 1.0, 3e-4);
    for (std::int32_t y = 25; y < 75; ++y)
        for (std::int32_t x = 30; x < 90; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(at<std::uint16_t>(*inner, x, y)[c], 10000 * (c + 1) * gain * gain, 3)
                    << x << "," << y;

    auto whole = makeImage(&host, source->bounds, 16, 4);
    RecursiveGaussianBlur border(host, *source, *whole, 5.0f, 5.0f);
    border.run();
    EXPECT_NEAR(at<std::uint16_t>(*whole, 0, 50)[1], 20000, 10);     // left end settled
    EXPECT_GT(at<std::uint16_t>(*whole, 119, 50)[1], 20000 * 1.05);  // right end rises
    EXPECT_GT(at<std::uint16_t>(*whole, 60, 99)[1], 20000 * 1.05);   // and so does the bottom
}

TEST(RecursiveGaussianBlur, InPlaceEqualsIntoAnotherBuffer) {
    TestHost host;
    for (auto sigmas : {std::pair{3.0f, 4.0f}, std::pair{0.0f, 6.0f}, std::pair{6.0f, 0.0f}}) {
        auto image = makeImage(&host, Rect{-5, 4, 70, 52}, 16, 4);
        kernel_test::fillRandom(*image, 8);
        auto separate = makeImage(&host, image->bounds, 16, 4);
        RecursiveGaussianBlur(host, *image, *separate, sigmas.first, sigmas.second).run();
        RecursiveGaussianBlur(host, *image, *image, sigmas.first, sigmas.second).run();
        EXPECT_TRUE(kernel_test::samePixels(*image, *separate)) << sigmas.first;
    }
}

TEST(RecursiveGaussianBlur, BandCountsGiveTheSameImage) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 97, 61}, 16, 4);
    kernel_test::fillRandom(*source, 12);
    auto reference = makeImage(&host, Rect{6, 3, 91, 58}, 16, 4);
    RecursiveGaussianBlur one(host, *source, *reference, 4.0f, 3.0f);
    one.bandCount = 1;
    one.run();
    for (std::uint64_t n : {2u, 3u, 7u, 0u}) {
        auto other = makeImage(&host, reference->bounds, 16, 4);
        RecursiveGaussianBlur blur(host, *source, *other, 4.0f, 3.0f);
        blur.bandCount = n;
        blur.run();
        EXPECT_TRUE(kernel_test::samePixels(*reference, *other)) << n;
    }
}

// Ticks after every row and column whose coordinate is a multiple of 32, margin lines included;
// with progress reporting on, positions through both passes instead.
TEST(RecursiveGaussianBlur, ReportsProgressPerLineOfBothPasses) {
    TestHost host;
    auto source = makeImage(&host, Rect{-100, -100, 100, 100}, 16, 4);
    auto destination = makeImage(&host, Rect{-40, -70, 50, 30}, 16, 4);
    {
        RecursiveGaussianBlur blur(host, *source, *destination, 3.0f, 3.0f);  // margins 11
        blur.reportProgress = false;
        blur.bandCount = 1;
        blur.run();
        // Rows -81 .. 40: -64, -32, 0, 32; columns -40 .. 49: -32, 0, 32.
        EXPECT_EQ(host.totalTicks, 7);
        EXPECT_TRUE(host.reports.empty());
    }
    host.totalTicks = 0;
    RecursiveGaussianBlur blur(host, *source, *destination, 3.0f, 3.0f);
    blur.bandCount = 1;
    blur.run();
    EXPECT_EQ(host.totalTicks, 0);
    ASSERT_EQ(host.reports.size(), 7u);
    // Horizontal pass over the 122 intermediate rows: done = row - (-81), total = 90 + 122.
    EXPECT_EQ(host.reports[0].done, 17u);
    EXPECT_EQ(host.reports[0].total, 212u);
    // Vertical pass continues the count: done = 122 + column - (-40), total = 122 + 90.
    EXPECT_EQ(host.reports[4].done, 122u + 8);
    EXPECT_EQ(host.reports[4].total, 212u);
}

TEST(RecursiveGaussianBlur, InterruptionAndBadArgumentsReachTheCaller) {
    TestHost host;
    auto source = makeImage(&host, Rect{0, 0, 64, 300}, 16, 4);
    auto destination = makeImage(&host, Rect{0, 0, 64, 300}, 16, 4);
    host.interruptAfter = 1;
    RecursiveGaussianBlur blur(host, *source, *destination, 2.0f, 2.0f);
    blur.reportProgress = false;
    EXPECT_THROW(blur.run(), Mav::Interrupted);

    auto other8 = makeImage(&host, Rect{0, 0, 64, 300}, 8, 4);
    auto rgb = makeImage(&host, Rect{0, 0, 64, 300}, 16, 3);
    auto larger = makeImage(&host, Rect{0, 0, 65, 300}, 16, 4);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_THROW(RecursiveGaussianBlur(host, *other8, *destination, 1, 1), Mav::Exception);
    EXPECT_THROW(RecursiveGaussianBlur(host, *rgb, *destination, 1, 1), Mav::Exception);
    EXPECT_THROW(RecursiveGaussianBlur(host, *source, *larger, 1, 1), Mav::Exception);
    EXPECT_THROW(RecursiveGaussianBlur(host, *source, *destination, nan, 1), Mav::Exception);
    EXPECT_THROW(RecursiveGaussianBlur(host, *source, *destination, 1, 2e6f), Mav::Exception);
    // A negative sigma is no blur and no margin.
    host.interruptAfter = -1;
    kernel_test::fillRandom(*source, 2);
    RecursiveGaussianBlur negative(host, *source, *destination, -4.0f, -1.0f);
    EXPECT_EQ(negative.paddedView().bounds, destination->bounds);
    negative.run();
    EXPECT_TRUE(kernel_test::samePixels(*source, *destination));
}

}  // namespace
}  // namespace vantrelo
