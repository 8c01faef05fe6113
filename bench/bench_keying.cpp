// Keying speed on a 6000 x 4000 photograph of a detailed subject in front of a noisy green
// backdrop, in 16-bit RGBA, float RGBA and 8-bit, on one worker and on all of them, beside a plain
// copy pass over the same buffers as the memory-bandwidth baseline.
//
// items_per_second is pixels per second.  Each keying benchmark also reports `copy_ratio`: its
// pixel rate divided by the copy pass's rate for the same buffers and worker count, and a summary
// of all figures is printed to standard error at the end (standard output stays valid JSON with
// --benchmark_format=json).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/keying/key_compile.h"
#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "engine/keying/key_state.h"
#include "engine/keying/keying_workers.h"
#include "engine/keying/polyhedron.h"
#include "engine/keying/vant_thread.h"

namespace {

using namespace vantrelo;

constexpr std::ptrdiff_t kWidth = 6000;
constexpr std::ptrdiff_t kHeight = 4000;
constexpr std::ptrdiff_t kPixels = kWidth * kHeight;
constexpr float kBackdrop[3] = {9000.0f, 41000.0f, 12000.0f};

int allWorkers() { return std::clamp<int>(int(std::thread::hardware_concurrency()), 1, 32); }

// Physical cores (distinct package and core ids of the processors the system lists), for the
// scaling target; the processor count when the topology cannot be read.
int physicalCores() {
    std::vector<std::pair<long, long>> cores;
    for (int cpu = 0; cpu < 4096; ++cpu) {
        const std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        long package = -1, core = -1;
        std::FILE* p = std::fopen((base + "physical_package_id").c_str(), "r");
        std::FILE* c = std::fopen((base + "core_id").c_str(), "r");
        const bool read = p && c && std::fscanf(p, "%ld", &package) == 1 && std::fscanf(c, "%ld", &core) == 1;
        if (p) std::fclose(p);
        if (c) std::fclose(c);
        if (!read) break;
        cores.emplace_back(package, core);
    }
    std::sort(cores.begin(), cores.end());
    cores.erase(std::unique(cores.begin(), cores.end()), cores.end());
    return cores.empty() ? int(std::max(1u, std::thread::hardware_concurrency())) : int(cores.size());
}

// The test photograph, made once.  Backdrop: green with per-channel noise of about 700 units, so the
// direction from the backdrop colour, and with it the octant, changes from pixel to pixel.  Subject:
// a textured body with a soft edge and a fringe of thin anti-aliased strands (hair) reaching into
// the backdrop, so every zone of the key (transparent, edge, opaque) is well represented.
struct Photograph {
    std::vector<std::uint16_t> rgba16;
    std::vector<std::uint16_t> spill16;
    std::vector<float> rgbaFloat;
    std::vector<std::uint8_t> bgr8;
    std::vector<std::uint8_t> spill8;

    Photograph() : rgba16(4 * kPixels), spill16(4 * kPixels), rgbaFloat(4 * kPixels), bgr8(3 * kPixels),
                   spill8(3 * kPixels) {
        const int bands = allWorkers();
        runSpanWorkers(bands, kHeight, [this](std::ptrdiff_t y0, std::ptrdiff_t rows) {
            std::mt19937 random(std::uint32_t(y0 * 7919 + 1));
            std::normal_distribution<float> noise(0.0f, 700.0f);
            for (std::ptrdiff_t y = y0; y < y0 + rows; ++y)
                for (std::ptrdiff_t x = 0; x < kWidth; ++x) fill(x, y, random, noise);
        });
    }

    void fill(std::ptrdiff_t x, std::ptrdiff_t y, std::mt19937& random, std::normal_distribution<float>& noise) {
        const float cx = float(x) - 3000.0f, cy = float(y) - 2300.0f;
        const float radius = std::sqrt((cx / 1900.0f) * (cx / 1900.0f) + (cy / 1500.0f) * (cy / 1500.0f));
        // Coverage of the subject: the body with a 4-pixel soft edge, and strands around it.
        float cover = std::clamp((1.0f - radius) * 1500.0f / 4.0f + 0.5f, 0.0f, 1.0f);
        if (radius > 0.9f && radius < 1.35f) {
            const float angle = std::atan2(cy, cx);
            const float strand = std::sin(angle * 900.0f + radius * 40.0f);
            const float hair = std::clamp((strand - 0.85f) * 6.0f, 0.0f, 1.0f) * (1.35f - radius) / 0.45f;
            cover = std::max(cover, hair);
        }
        const float texture = 0.5f + 0.5f * std::sin(float(x) * 0.031f) * std::cos(float(y) * 0.017f);
        const float subject[3] = {38000.0f + 20000.0f * texture, 22000.0f + 9000.0f * texture,
                                  15000.0f + 25000.0f * (1.0f - texture)};
        const std::size_t i = std::size_t(y * kWidth + x);
        float pixel[3];
        for (int c = 0; c < 3; ++c) {
            const float backdrop = kBackdrop[c] + noise(random);
            pixel[c] = std::clamp(backdrop + (subject[c] - backdrop) * cover, 0.0f, 65535.0f);
            rgba16[4 * i + c] = std::uint16_t(pixel[c]);
            rgbaFloat[4 * i + c] = float(rgba16[4 * i + c]);
            bgr8[3 * i + 2 - c] = std::uint8_t(rgba16[4 * i + c] >> 8);
            const float blurred = 20000.0f + 10000.0f * std::sin(float(x + 3 * c) * 0.001f);
            spill16[4 * i + c] = std::uint16_t(blurred);
            spill8[3 * i + 2 - c] = std::uint8_t(spill16[4 * i + c] >> 8);
        }
        rgba16[4 * i + 3] = 65535;
        rgbaFloat[4 * i + 3] = 65535.0f;
    }
};

const Photograph& photograph() {
    static const Photograph photo;
    return photo;
}

// A key for the backdrop: radii that vary a little from vertex to vertex, as a shaped key does.
struct Key {
    KeyState state;
    explicit Key(std::uint32_t flags) {
        std::memset(&state, 0, sizeof state);
        initPolyhedronTables();
        initKeyState(&state);
        for (int c = 0; c < 3; ++c) state.backdrop[c] = kBackdrop[c];
        std::mt19937 random(3);
        std::uniform_real_distribution<float> spread(0.85f, 1.2f);
        for (int v = 0; v < kVertexCount; ++v) {
            state.innerRadii[v] = 3200.0f * spread(random);
            state.middleRadii[v] = state.innerRadii[v] + 6000.0f * spread(random);
            state.outerRadii[v] = state.middleRadii[v] + 15000.0f * spread(random);
        }
        state.replacementColour[0] = 30000;
        state.replacementColour[1] = 30000;
        state.replacementColour[2] = 30000;
        state.flags = flags | KeyFlagDirectCallbacks;
        compileKey(&state);
    }
    ~Key() { releaseKey(&state); }
};

// Pixel rates measured so far, by name, for the ratios and the closing summary.
std::map<std::string, double>& rates() {
    static std::map<std::string, double> table;
    return table;
}

std::string label(const char* what, int workers) { return std::string(what) + "/" + std::to_string(workers); }

// Runs `pass` once per iteration, timing it, and records the pixel rate under `name`.
template <class Pass>
void measure(benchmark::State& state, const std::string& name, const std::string& copyName, Pass pass) {
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
    const double rate = double(state.iterations()) * double(kPixels) / seconds;
    rates()[name] = rate;
    if (!copyName.empty() && rates().count(copyName)) state.counters["copy_ratio"] = rate / rates()[copyName];
}

int workersOf(const benchmark::State& state) { return state.range(0) == 0 ? allWorkers() : int(state.range(0)); }

// Splits a pass over the pixels among `workers` bands, as the keying launchers do.
template <class Body>
void bands(int workers, Body body) {
    if (workers < 2) {
        body(0, kPixels);
        return;
    }
    runSpanWorkers(workers, kPixels, body);
}

void copy16(benchmark::State& state) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    std::vector<std::uint16_t> out(4 * kPixels);
    measure(state, label("copy16", workers), "", [&] {
        bands(workers, [&](std::ptrdiff_t start, std::ptrdiff_t count) {
            std::memcpy(out.data() + 4 * start, photo.rgba16.data() + 4 * start, 8 * std::size_t(count));
        });
    });
}

void copyFloat(benchmark::State& state) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    std::vector<float> out(4 * kPixels);
    measure(state, label("copyFloat", workers), "", [&] {
        bands(workers, [&](std::ptrdiff_t start, std::ptrdiff_t count) {
            std::memcpy(out.data() + 4 * start, photo.rgbaFloat.data() + 4 * start, 16 * std::size_t(count));
        });
    });
}

void copy8(benchmark::State& state) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    std::vector<std::uint8_t> out(3 * kPixels), matte(kPixels);
    measure(state, label("copy8", workers), "", [&] {
        bands(workers, [&](std::ptrdiff_t start, std::ptrdiff_t count) {
            std::memcpy(out.data() + 3 * start, photo.bgr8.data() + 3 * start, 3 * std::size_t(count));
            std::memset(matte.data() + start, 255, std::size_t(count));
        });
    });
}

void key16(benchmark::State& state, std::uint32_t flags, const char* name) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    const Key key(flags);
    std::vector<std::uint16_t> out(4 * kPixels);
    setWorkerThreadCount(workers);
    const std::uint16_t* spill = (flags & (KeyFlagSpillComplement | KeyFlagSpillSolid)) ? nullptr : photo.spill16.data();
    measure(state, label(name, workers), label("copy16", workers), [&] {
        if (workers < 2)
            vantproc(photo.rgba16.data(), photo.rgba16.data(), spill, nullptr, out.data(), kPixels, &key.state);
        else
            runVantprocWorkers(photo.rgba16.data(), photo.rgba16.data(), spill, nullptr, out.data(), kPixels,
                               &key.state, key.state.flags);
    });
}

void key16Complement(benchmark::State& state) { key16(state, KeyFlagSpillComplement, "key16Complement"); }
void key16Spill(benchmark::State& state) { key16(state, 0, "key16Spill"); }

void keyFloat(benchmark::State& state) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    const Key key(KeyFlagSpillComplement);
    std::vector<float> out(4 * kPixels);
    setWorkerThreadCount(workers);
    measure(state, label("keyFloat", workers), label("copyFloat", workers), [&] {
        if (workers < 2)
            super_vantproc(photo.rgbaFloat.data(), photo.rgbaFloat.data(), nullptr, nullptr, out.data(), kPixels,
                           &key.state);
        else
            runFloatKeyWorkers(photo.rgbaFloat.data(), photo.rgbaFloat.data(), nullptr, nullptr, out.data(),
                               kPixels, &key.state, key.state.flags);
    });
}

void key8(benchmark::State& state) {
    const int workers = workersOf(state);
    const Photograph& photo = photograph();
    const Key key(KeyFlagSpillComplement);
    std::vector<std::uint8_t> out(3 * kPixels), matte(kPixels);
    setWorkerThreadCount(workers);
    measure(state, label("key8", workers), label("copy8", workers), [&] {
        if (workers < 2)
            vantproc_8(photo.bgr8.data(), photo.bgr8.data(), nullptr, nullptr, out.data(), matte.data(), kPixels,
                       &key.state);
        else
            runVantproc8Workers(photo.bgr8.data(), photo.bgr8.data(), nullptr, nullptr, out.data(), matte.data(),
                                kPixels, &key.state, key.state.flags);
    });
}

// Argument 1: one worker; 0: all workers.  Copies run first so the keying passes find their rates.
void oneAndAll(benchmark::internal::Benchmark* b) { b->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime(); }

BENCHMARK(copy16)->Apply(oneAndAll);
BENCHMARK(copyFloat)->Apply(oneAndAll);
BENCHMARK(copy8)->Apply(oneAndAll);
BENCHMARK(key16Complement)->Apply(oneAndAll);
BENCHMARK(key16Spill)->Apply(oneAndAll);
BENCHMARK(keyFloat)->Apply(oneAndAll);
BENCHMARK(key8)->Apply(oneAndAll);

void printSummary() {
    const int all = allWorkers();
    const int cores = physicalCores();
    std::fprintf(stderr,
                 "\nKeying of %td x %td pixels (Mpixel/s; ratio to the copy pass; all = %d workers on %d physical "
                 "cores; target on all of them 0.7 x min(cores, 32) x the one-worker rate)\n",
                 kWidth, kHeight, all, cores);
    const char* rows[][2] = {{"key16Complement", "copy16"}, {"key16Spill", "copy16"}, {"keyFloat", "copyFloat"},
                             {"key8", "copy8"}};
    for (const auto& row : rows)
        for (int workers : {1, all}) {
            const std::string name = label(row[0], workers), copy = label(row[1], workers);
            if (!rates().count(name)) continue;
            const double rate = rates()[name], copyRate = rates().count(copy) ? rates()[copy] : 0.0;
            std::fprintf(stderr, "  %-18s %2d workers: %8.1f Mpx/s   copy %8.1f Mpx/s   ratio %.3f", row[0], workers,
                         rate / 1e6, copyRate / 1e6, copyRate > 0 ? rate / copyRate : 0.0);
            if (workers == all && rates().count(label(row[0], 1)))
                std::fprintf(stderr, "   scaling %.2f x one worker (target %.2f)", rate / rates()[label(row[0], 1)],
                             0.7 * std::min(cores, 32));
            std::fprintf(stderr, "\n");
        }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
