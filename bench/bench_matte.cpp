// Matte effects on a 6000 x 4000 16-bit RGBA image: the defocus at radius 30 with push and shrink,
// and the grain filter, each on 1 engine worker and on one per processor (at most 32, the engine's
// limit).  Items are pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/effects/crop_insets.h"
#include "engine/effects/defocus.h"
#include "engine/effects/grain_filter.h"
#include "engine/keying/key_state.h"

namespace {

constexpr std::ptrdiff_t kWidth = 6000, kHeight = 4000;

int allWorkers() { return std::clamp<int>(static_cast<int>(std::thread::hardware_concurrency()), 1, 32); }

void oneAndAll(benchmark::internal::Benchmark* b) {
    b->ArgName("workers")->Arg(1)->Arg(allWorkers())->Unit(benchmark::kMillisecond)->UseRealTime();
}

// A soft-edged disc of subject over backdrop with some grain, so that every value range occurs.
std::vector<std::uint16_t> matteImage() {
    std::vector<std::uint16_t> image(static_cast<std::size_t>(kWidth * kHeight * 4));
    std::uint32_t noise = 12345;
    for (std::ptrdiff_t y = 0; y < kHeight; ++y)
        for (std::ptrdiff_t x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double d = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0) - 1500.0;
            const double a = std::clamp(0.5 - d / 40.0, 0.0, 1.0);
            std::uint16_t* p = &image[static_cast<std::size_t>((y * kWidth + x) * 4)];
            p[0] = static_cast<std::uint16_t>(20000 + (noise >> 20));
            p[1] = static_cast<std::uint16_t>(40000 + (noise >> 21));
            p[2] = static_cast<std::uint16_t>(10000 + (noise >> 22));
            p[3] = static_cast<std::uint16_t>(a * 65535.0);
        }
    return image;
}

std::vector<std::uint16_t>& sharedImage() {
    static std::vector<std::uint16_t> image = matteImage();
    return image;
}

// The defocus works in place; its cost does not depend on the values, so repeated runs on the
// same buffer measure the same work.
void BM_DefocusMatte16(benchmark::State& state) {
    vantrelo::setWorkerThreadCount(static_cast<std::int32_t>(state.range(0)));
    auto& image = sharedImage();
    for (auto _ : state) {
        const bool ok = vantrelo::defocusMatte16(image.data(), kWidth, kHeight, 30, 1, 0.1f);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_DefocusMatte16)->Apply(oneAndAll);

// The grain filter runs on the calling thread whatever the worker count.
void BM_RemoveGrain16(benchmark::State& state) {
    vantrelo::setWorkerThreadCount(static_cast<std::int32_t>(state.range(0)));
    vantrelo::KeyState key;
    std::memset(&key, 0, sizeof key);
    key.grainLevel = 3;
    key.backdrop[1] = 50000.0f;
    const vantrelo::CropInsets insets{40, 40, 30, 30};
    auto& image = sharedImage();
    for (auto _ : state) {
        const bool ok = vantrelo::removeGrain16(image.data(), kWidth, kHeight, &key, &insets);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RemoveGrain16)->Apply(oneAndAll);

}  // namespace

BENCHMARK_MAIN();
