// Image kernels on a 6000 x 4000 16-bit RGBA image in memory: the recursive Gaussian blur at sigma
// 2, 10 and 50 (whole image into a second image, the intermediate allocated by each run as in the
// render), the foreground warp through a rotation-and-scale transform, an 8-bit backdrop layer
// drawn twice enlarged, and the min/max filters with windows 3, 21 and 101.  Each on 1 band and on
// one band per processor; items are pixels of the destination.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>

#include "host/system/image_buffer.h"
#include "host/system/system_host.h"
#include "kernels/kernels.h"

namespace {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

constexpr std::int32_t kWidth = 6000, kHeight = 4000;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;

class BenchHost : public Mav::Host::System::Host {
public:
    bool isPreviewMode() const override { return false; }
};

BenchHost& host() {
    static BenchHost h;
    return h;
}

std::uint64_t allBands() {
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

void oneAndAll(benchmark::internal::Benchmark* b) {
    b->ArgName("bands")
        ->Arg(1)
        ->Arg(static_cast<std::int64_t>(allBands()))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

// A photograph-like image: smooth gradients with some noise, every channel different.
ImageBuffer& sourceImage() {
    static std::unique_ptr<ImageBuffer> image = [] {
        auto im = std::make_unique<ImageBuffer>(&host());
        im->allocateSize(kWidth, kHeight, 16);
        std::uint32_t noise = 2463534242u;
        for (std::int32_t y = 0; y < kHeight; ++y) {
            auto* p = reinterpret_cast<std::uint16_t*>(im->pixelAddress(0, y));
            for (std::int32_t x = 0; x < kWidth; ++x, p += 4) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                p[0] = static_cast<std::uint16_t>(x * 10 + (noise & 1023));
                p[1] = static_cast<std::uint16_t>(y * 15 + ((noise >> 10) & 1023));
                p[2] = static_cast<std::uint16_t>(30000 + 20000 * std::sin(x * 0.003 + y * 0.002));
                p[3] = static_cast<std::uint16_t>(((x / 400 + y / 400) & 1) ? 65535 : (noise >> 16));
            }
        }
        return im;
    }();
    return *image;
}

// A cleared 16-bit RGBA image of the benchmark's size.  Written once here, so the first measured
// case does not pay the first write of every page.
std::unique_ptr<ImageBuffer> clearedImage() {
    auto im = std::make_unique<ImageBuffer>(&host());
    im->allocateSize(kWidth, kHeight, 16);
    im->clearRect(im->bounds);
    return im;
}

ImageBuffer& destinationImage() {
    static std::unique_ptr<ImageBuffer> image = clearedImage();
    return *image;
}

void BM_GaussianBlur16(benchmark::State& state) {
    const float sigma = static_cast<float>(state.range(0));
    ImageBuffer& source = sourceImage();
    ImageBuffer& destination = destinationImage();
    for (auto _ : state) {
        vantrelo::RecursiveGaussianBlur blur(host(), source, destination, sigma, sigma);
        blur.reportProgress = false;
        blur.bandCount = static_cast<std::uint64_t>(state.range(1));
        blur.run();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_GaussianBlur16)
    ->ArgNames({"sigma", "bands"})
    ->ArgsProduct({{2, 10, 50}, {1, static_cast<std::int64_t>(allBands())}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Rotation by 15 degrees and scale 1.1 about the image centre, the foreground warp of the 16-bit
// render; the cleared destination is drawn wherever the turned image covers it.
void BM_WarpForegroundRgba16(benchmark::State& state) {
    ImageBuffer& source = sourceImage();
    ImageBuffer& destination = destinationImage();
    const double a = 15.0 * M_PI / 180.0, s = 1.1;
    vantrelo::Matrix3 m;
    m.m = {s * std::cos(a), -s * std::sin(a), 0, s * std::sin(a), s * std::cos(a), 0, 0, 0, 1};
    const double cx = kWidth / 2.0, cy = kHeight / 2.0;
    m.m[2] = cx - (m.m[0] * cx + m.m[1] * cy);
    m.m[5] = cy - (m.m[3] * cx + m.m[4] * cy);
    vantrelo::WarpJob job{&host(), &destination, &source, &m};
    const auto bands = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) {
        vantrelo::runBands(host(), vantrelo::warpForegroundRgba16Band, &job, bands);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_WarpForegroundRgba16)->Apply(oneAndAll);

// An opaque 3000 x 2000 8-bit photograph drawn twice enlarged over the 16-bit image: the backdrop
// layer of a render over a backdrop image (opaque layers take the premultiplied variant).
void BM_WarpLayerPremultiplied16(benchmark::State& state) {
    static std::unique_ptr<ImageBuffer> layer = [] {
        auto im = std::make_unique<ImageBuffer>(&host());
        im->allocateSize(kWidth / 2, kHeight / 2, 8);
        for (std::int32_t y = 0; y < kHeight / 2; ++y) {
            std::uint8_t* p = im->pixelAddress(0, y);
            for (std::int32_t x = 0; x < kWidth / 2; ++x, p += 4) {
                p[0] = static_cast<std::uint8_t>(x * 255 / (kWidth / 2));
                p[1] = static_cast<std::uint8_t>(y * 255 / (kHeight / 2));
                p[2] = static_cast<std::uint8_t>((x + y) & 255);
                p[3] = 255;
            }
        }
        return im;
    }();
    ImageBuffer& destination = destinationImage();
    vantrelo::Matrix3 m;
    m.m = {2, 0, 0, 0, 2, 0, 0, 0, 1};
    vantrelo::WarpJob job{&host(), &destination, layer.get(), &m};
    const auto bands = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) {
        vantrelo::runBands(host(), vantrelo::warpLayerPremultiplied16Band, &job, bands);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}
BENCHMARK(BM_WarpLayerPremultiplied16)->Apply(oneAndAll);

void minMax(benchmark::State& state, bool maximum) {
    ImageBuffer& source = sourceImage();
    ImageBuffer& destination = destinationImage();
    static std::unique_ptr<ImageBuffer> scratch = clearedImage();
    const vantrelo::SpanRect whole{0, kWidth, 0, kHeight};
    vantrelo::Quelt_Minimax f;
    f.environment.bandCount = static_cast<std::uint64_t>(state.range(1));
    f.source = reinterpret_cast<const std::uint16_t*>(source.firstPixel);
    f.destination = reinterpret_cast<std::uint16_t*>(destination.firstPixel);
    f.scratch = reinterpret_cast<std::uint16_t*>(scratch->firstPixel);
    f.sourceRowBytes = source.rowBytes;
    f.destinationRowBytes = destination.rowBytes;
    f.scratchRowBytes = scratch->rowBytes;
    f.limits = f.area = &whole;
    f.windowWidth = f.windowHeight = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (maximum)
            vantrelo::Quelt_Minimax::applyMax(f);
        else
            vantrelo::Quelt_Minimax::apply(f);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_MinFilter16(benchmark::State& state) { minMax(state, false); }
void BM_MaxFilter16(benchmark::State& state) { minMax(state, true); }
BENCHMARK(BM_MinFilter16)
    ->ArgNames({"window", "bands"})
    ->ArgsProduct({{3, 21, 101}, {1, static_cast<std::int64_t>(allBands())}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_MaxFilter16)
    ->ArgNames({"window", "bands"})
    ->ArgsProduct({{3, 21, 101}, {1, static_cast<std::int64_t>(allBands())}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
