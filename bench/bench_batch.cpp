// The OK batch over a shoot: six 6000 x 4000 photographs as 16-bit LZW TIFFs, and six and twelve
// as JPEGs (quality 75; a longer shoot spreads the first read and the last write, which nothing
// overlaps, over more photographs), each keyed with the auto-mask on and written back over its
// file, the batch running on a thread of its own as behind the progress window.  In the same
// run, one of the photographs read and written alone, the time the batch per image is measured
// against.
//
// Counters: s_per_image (wall seconds of the batch over the number of photographs), read_write_s
// (reading plus writing one photograph alone), ratio (the two over each other), peak_rss_MB and
// base_rss_MB (the process's peak during the batch and its size before it), decoded_MB (one
// photograph's decoded image in the host's RGBA buffer) and peak_over_decoded ((peak - base) over
// decoded), each the mean of three runs that start from the files as written.  The files live in
// a temporary folder that is removed at exit.

#include <benchmark/benchmark.h>

#include <wx/string.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/bench_photo.h"
#include "host/system/image_buffer.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

// Last: FreeImage defines the Windows header guard, after which a toolkit header would take this
// for Windows.
#include <FreeImage.h>

namespace {

namespace fs = std::filesystem;
using namespace vantrelo;
using bench_photo::kHeight;
using bench_photo::kWidth;
using Mav::Host::System::ImageBuffer;

constexpr int kPhotos = 6;
constexpr int kJpegs = 12;

struct Shoot {
    std::vector<fs::path> tiff;
    std::vector<fs::path> jpeg;
};

fs::path& shootFolder() {
    static fs::path folder;
    return folder;
}

// The file as the shoot was written, before any run wrote over it.
fs::path pristine(const fs::path& file) { return fs::path(file.string() + ".original"); }

void restoreShoot(const std::vector<fs::path>& files) {
    for (const fs::path& file : files)
        fs::copy_file(pristine(file), file, fs::copy_options::overwrite_existing);
}

// Photograph i: the scene with noise of its own, so no two files are alike.
FIBITMAP* photograph(std::uint32_t seed) {
    FIBITMAP* bitmap = FreeImage_AllocateT(FIT_RGB16, kWidth, kHeight, 48);
    if (!bitmap) return nullptr;
    std::uint32_t noise = seed;
    for (std::int32_t y = 0; y < kHeight; ++y)
        bench_photo::photoRow(y, noise,
                              reinterpret_cast<std::uint16_t*>(
                                  FreeImage_GetScanLine(bitmap, kHeight - 1 - y)));
    return bitmap;
}

// Written once, each photograph on a thread of its own; removed at exit.
const Shoot& shoot() {
    static const Shoot files = [] {
        Shoot made;
        shootFolder() = fs::temp_directory_path() / ("vantrelo-bench-batch-" + std::to_string(::getpid()));
        fs::create_directories(shootFolder());
        for (int i = 0; i < kJpegs; ++i) {
            if (i < kPhotos)
                made.tiff.push_back(shootFolder() / ("photo" + std::to_string(i) + ".tif"));
            made.jpeg.push_back(shootFolder() / ("photo" + std::to_string(i) + ".jpg"));
        }
        std::vector<std::thread> writers;
        for (int i = 0; i < kJpegs; ++i)
            writers.emplace_back([&made, i] {
                FIBITMAP* bitmap = photograph(7u + 1000u * static_cast<std::uint32_t>(i));
                if (!bitmap) return;
                if (i < kPhotos) FreeImage_Save(FIF_TIFF, bitmap, made.tiff[i].c_str(), TIFF_LZW);
                if (FIBITMAP* bytes = FreeImage_ConvertTo24Bits(bitmap)) {
                    FreeImage_Save(FIF_JPEG, bytes, made.jpeg[i].c_str(), JPEG_DEFAULT);
                    FreeImage_Unload(bytes);
                }
                FreeImage_Unload(bitmap);
            });
        for (std::thread& writer : writers) writer.join();
        // Each run writes over the files; every run starts from these copies.
        for (const auto* list : {&made.tiff, &made.jpeg})
            for (const fs::path& file : *list) fs::copy_file(file, pristine(file));
        return made;
    }();
    static const int removal = std::atexit([] {
        std::error_code ignored;
        fs::remove_all(shootFolder(), ignored);
    });
    static_cast<void>(removal);
    return files;
}

// A field of /proc/self/status in MiB ("VmRSS", "VmHWM").
double statusMiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024.0;
    return 0.0;
}

// Starts the peak (VmHWM) afresh at the present size.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The keyer over the files, every input's set at the defaults with the auto-mask on.
std::unique_ptr<VantreloPluginApp> keyerOver(const std::vector<fs::path>& files) {
    auto plugin = std::make_unique<VantreloPluginApp>();
    for (const fs::path& file : files) plugin->addInputFile(wxString::FromUTF8(file.string()));
    plugin->initInputs();
    for (std::uint64_t i = 0; i < files.size(); ++i) {
        plugin->ensureParameters(i);
        plugin->parameters(i)->setBool(true, kParamEnableAutoMask);
    }
    plugin->parameters(plugin->currentInput())->applyAll();
    return plugin;
}

void batch(benchmark::State& state, const std::vector<fs::path>& files, double decodedMiB) {
    double perImage = 0.0, readWrite = 0.0, peak = 0.0, base = 0.0;
    for (auto _ : state) {
        restoreShoot(files);
        // One photograph read and written alone, as the batch reads and writes it.
        {
            auto plugin = keyerOver(files);
            const auto start = std::chrono::steady_clock::now();
            ImageBuffer image(plugin.get());
            std::string error;
            if (!image.loadInput(0, {}, 1.0f, true, &error) || !image.saveResult(&error)) {
                state.SkipWithError(error.c_str());
                return;
            }
            readWrite += secondsSince(start);
        }

        restoreShoot(files);
        auto plugin = keyerOver(files);
        base += statusMiB("VmRSS");
        resetPeak();
        const auto start = std::chrono::steady_clock::now();
        std::thread worker([&] { plugin->processInputs(); });
        worker.join();
        const double wall = secondsSince(start);
        peak += statusMiB("VmHWM");
        const std::string messages = plugin->takeMessages();
        if (!messages.empty()) {
            state.SkipWithError(messages.c_str());
            return;
        }
        state.SetIterationTime(wall);
        perImage += wall / static_cast<double>(files.size());
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["s_per_image"] = perImage / runs;
    state.counters["read_write_s"] = readWrite / runs;
    state.counters["ratio"] = perImage / readWrite;
    state.counters["peak_rss_MB"] = peak / runs;
    state.counters["base_rss_MB"] = base / runs;
    state.counters["decoded_MB"] = decodedMiB;
    state.counters["peak_over_decoded"] = (peak - base) / runs / decodedMiB;
}

constexpr double kPixelsMiB = double(kWidth) * kHeight / (1024.0 * 1024.0);

void tiffShoot(benchmark::State& state) { batch(state, shoot().tiff, kPixelsMiB * 8.0); }
void jpegShoot(benchmark::State& state) {
    const std::vector<fs::path>& all = shoot().jpeg;
    batch(state, {all.begin(), all.begin() + state.range(0)}, kPixelsMiB * 4.0);
}

// Cancel pressed at several moments of a shoot's batch: the seconds from the press until the
// batch has stopped (the reads and the write under way are finished, nothing else begins).
void cancelled(benchmark::State& state, const std::vector<fs::path>& files) {
    double worst = 0.0, total = 0.0;
    int presses = 0;
    for (auto _ : state) {
        double stopping = 0.0;
        for (const double after : {0.1, 0.6, 1.2, 2.0, 3.5}) {
            restoreShoot(files);
            auto plugin = keyerOver(files);
            std::thread worker([&] { plugin->processInputs(); });
            std::this_thread::sleep_for(std::chrono::duration<double>(after));
            const auto pressed = std::chrono::steady_clock::now();
            plugin->requestAbort();
            worker.join();
            const double seconds = secondsSince(pressed);
            plugin->takeMessages();
            worst = std::max(worst, seconds);
            total += seconds;
            stopping += seconds;
            ++presses;
        }
        state.SetIterationTime(stopping);
    }
    state.counters["worst_stop_s"] = worst;
    state.counters["mean_stop_s"] = total / presses;
}

void tiffCancel(benchmark::State& state) { cancelled(state, shoot().tiff); }
void jpegCancel(benchmark::State& state) {
    const std::vector<fs::path>& all = shoot().jpeg;
    cancelled(state, {all.begin(), all.begin() + kPhotos});
}

BENCHMARK(tiffShoot)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(tiffCancel)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(jpegCancel)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(jpegShoot)
    ->ArgName("photos")
    ->Arg(kPhotos)
    ->Arg(kJpegs)
    ->UseManualTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
