// The render stages after the backdrop, on a 6000 x 4000 16-bit RGBA subject in front of a green
// backdrop, on every processor: the keying pass (row by row against a colour, and as one run with
// the lighting correction from a cached estimate), the light wrap at a 30-pixel sigma, and the
// composite over rows.  Beside them, one call of the adapter's keying over the same pixels on all
// engine workers, the cost the stages are measured against.  items_per_second is pixels per
// second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/keying/initial_key.h"
#include "engine/keying/key_state.h"
#include "host/system/image_buffer.h"
#include "host/system/system_host.h"
#include "kernels/band_job.h"
#include "kernels/recursive_gaussian_blur.h"
#include "plugin/composite_rows.h"
#include "plugin/keying_pass.h"
#include "plugin/light_wrap.h"
#include "plugin/lighting.h"
#include "plugin/vantrelo_wrapper.h"

namespace {

using namespace vantrelo;
using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

constexpr std::int32_t kWidth = 6000;
constexpr std::int32_t kHeight = 4000;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;
const Rect kImage{0, 0, kWidth, kHeight};
constexpr std::uint16_t kGreen[4] = {9000, 41000, 12000, 65535};

class BenchHost : public Mav::Host::System::Host {
public:
    bool isPreviewMode() const override { return false; }
};

BenchHost& host() {
    static BenchHost h;
    return h;
}

std::unique_ptr<ImageBuffer> packed(const Rect& rect) {
    auto image = std::make_unique<ImageBuffer>(&host());
    image->rowAligned = false;
    image->allocate(rect, 16);
    return image;
}

// A subject disc with a noisy, unevenly lit green around it.
const ImageBuffer& subject() {
    static std::unique_ptr<ImageBuffer> image = [] {
        auto made = packed(kImage);
        std::uint32_t noise = 2024;
        for (std::int32_t y = 0; y < kHeight; ++y) {
            auto* p = reinterpret_cast<std::uint16_t*>(made->pixelAddress(0, y));
            for (std::int32_t x = 0; x < kWidth; ++x, p += 4) {
                noise = noise * 1664525u + 1013904223u;
                const double light = 0.8 + 0.3 * x / kWidth;
                const bool inside = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0) < 1400;
                p[0] = static_cast<std::uint16_t>(inside ? 50000 + (noise >> 22) : kGreen[0] * light + (noise >> 23));
                p[1] = static_cast<std::uint16_t>(inside ? 9000 + (noise >> 23) : kGreen[1] * light + (noise >> 22));
                p[2] = static_cast<std::uint16_t>(inside ? 6000 + (noise >> 24) : kGreen[2] * light + (noise >> 23));
                p[3] = 65535;
            }
        }
        return made;
    }();
    return *image;
}

CVantreloBridge& bridge() {
    static CVantreloBridge* b = [] {
        auto* made = new CVantreloBridge;
        for (KeyState* s : {&made->keyStates.keyState, &made->keyStates.edgeState, &made->keyStates.bodyState})
            setBackdropColour(kGreen, s);
        return made;
    }();
    return *b;
}

void setAllWorkers() {
    setWorkerThreadCount(std::clamp<std::int32_t>(static_cast<std::int32_t>(std::thread::hardware_concurrency()), 1, 32));
}

// The reference: the adapter keys the whole image in one call, split over the engine's workers.
void BM_AdapterKeying16(benchmark::State& state) {
    setAllWorkers();
    auto keyed = packed(kImage);
    auto work = packed(kImage);
    std::memcpy(work->firstPixel, subject().firstPixel, static_cast<std::size_t>(kPixels) * 8);
    for (auto _ : state) {
        CompiledKeyGuard compiled(&bridge().keyStates);
        bridge().keyPixels16(reinterpret_cast<const std::uint16_t*>(work->firstPixel), nullptr,
                             reinterpret_cast<std::uint16_t*>(keyed->firstPixel), kWidth, kHeight);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_KeyPass16AgainstColour(benchmark::State& state) {
    setAllWorkers();
    auto keyed = packed(kImage);
    ImageBuffer none(&host());
    KeyPassContext context;
    context.host = &host();
    context.adapter = &bridge();
    for (auto _ : state) keyPass16(context, subject(), none, nullptr, *keyed, kImage, true, false, false);
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// The estimate is made before the timing and cached: the figure is the pass with a warm cache.
void BM_KeyPass16WithLighting(benchmark::State& state) {
    setAllWorkers();
    auto keyed = packed(kImage);
    ImageBuffer none(&host());
    ImageBuffer cache(&host());
    std::array<KeyState, 3> states{};
    LightingCacheContent content = LightingCacheContent::Empty;
    LightingContext lighting{&host(), &bridge(), &cache, &states, &content, nullptr};
    KeyPassContext context;
    context.host = &host();
    context.adapter = &bridge();
    context.lighting = &lighting;
    keyPass16(context, subject(), none, nullptr, *keyed, kImage, true, false, true);
    for (auto _ : state) keyPass16(context, subject(), none, nullptr, *keyed, kImage, true, false, true);
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// The blur inside the light wrap, alone.
void BM_LightWrapBlurAlone16(benchmark::State& state) {
    auto blurred = packed(kImage);
    for (auto _ : state) {
        RecursiveGaussianBlur blur(host(), subject(), *blurred, 30.0f, 30.0f, 0, 0);
        blur.reportProgress = false;
        blur.run();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_LightWrapStep16(benchmark::State& state) {
    auto keyed = packed(kImage);
    const std::uint16_t colour[4] = {52000, 30000, 12000, 65535};
    for (auto _ : state) {
        state.PauseTiming();
        // A keyed image whose matte is the disc: light reaches its rim.
        for (std::int32_t y = 0; y < kHeight; ++y) {
            auto* p = reinterpret_cast<std::uint16_t*>(keyed->pixelAddress(0, y));
            const auto* s = reinterpret_cast<const std::uint16_t*>(subject().pixelAddress(0, y));
            for (std::int32_t x = 0; x < kWidth; ++x, p += 4, s += 4) {
                std::memcpy(p, s, 6);
                p[3] = s[0] > 40000 ? 65535 : 0;
            }
        }
        state.ResumeTiming();
        lightWrapStep16(host(), *keyed, nullptr, colour, 30.0f, 0.5f, static_cast<int>(state.range(0)));
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_CompositeOverRows16x4(benchmark::State& state) {
    auto output = packed(kImage);
    std::memset(output->firstPixel, 0x40, static_cast<std::size_t>(kPixels) * 8);
    BandJob job{&host(), output.get(), &subject(), &kImage};
    for (auto _ : state) runBands(host(), compositeOverRows16x4, &job);
    state.SetItemsProcessed(state.iterations() * kPixels);
}

BENCHMARK(BM_AdapterKeying16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeyPass16AgainstColour)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeyPass16WithLighting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LightWrapBlurAlone16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LightWrapStep16)->ArgName("mode")->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CompositeOverRows16x4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
