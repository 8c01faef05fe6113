// The keyer's whole render as the batch runs it: a 6000 x 4000 16-bit photograph of a subject in
// front of a noisy, unevenly lit green backdrop, keyed from one backdrop sample, rendered in the
// batch's 1024-pixel tiles on every processor, over a colour backdrop and over a backdrop image
// (auto-mask off, light wrap and softening at their defaults).  Beside it: the engine's keying of
// the same pixels in one call (the cost the render is measured against), the frame preparation
// with the auto-mask's proxy, the auto-mask's analysis, reading and writing the file, and the
// preview render a slider change waits for: a 1920 x 1080 view at fit-to-window zoom (scale 0.27,
// an 8-bit proxy of 1620 x 1080) through prepare, analyse and render in preview mode, and its
// render alone.
//
// items_per_second is pixels per second; the render benchmarks also report `keying_ratio`, their
// time over the keying-only time, and `cpu_keying_ratio`, the same for the processor time of all
// threads.  A summary goes to standard error at the end.  For instruction counts run one benchmark
// under valgrind --tool=callgrind --instr-atstart=no: only the measured passes are counted.

#include <benchmark/benchmark.h>

#include <wx/image.h>
#include <wx/string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <time.h>
#include <unistd.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#endif

#include "bench/bench_photo.h"
#include "host/system/image_buffer.h"
#include "plugin/key_state_set.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_parameters.h"
#include "plugin/vantrelo_plugin.h"

// Last: FreeImage defines the Windows header guard, after which a toolkit header would take this
// for Windows.
#include <FreeImage.h>

namespace {

using namespace vantrelo;
using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

using bench_photo::kGreen;
using bench_photo::kHeight;
using bench_photo::kWidth;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;
const Rect kImage{0, 0, kWidth, kHeight};
constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;

std::map<std::string, double>& seconds() {
    static std::map<std::string, double> table;
    return table;
}

// The photograph as a 16-bit TIFF in a scratch folder, written once; removed at exit.
const std::filesystem::path& photoFile() {
    static const std::filesystem::path path = [] {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("vantrelo-bench-render-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const auto file = folder / "photo.tif";
        FIBITMAP* bitmap = FreeImage_AllocateT(FIT_RGB16, kWidth, kHeight, 48);
        std::uint32_t noise = 7;
        for (std::int32_t y = 0; y < kHeight; ++y)
            bench_photo::photoRow(y, noise,
                                  reinterpret_cast<std::uint16_t*>(
                                      FreeImage_GetScanLine(bitmap, kHeight - 1 - y)));
        FreeImage_Save(FIF_TIFF, bitmap, file.c_str(), TIFF_NONE);
        FreeImage_Unload(bitmap);
        return file;
    }();
    // Registered once the path is complete: a handler registered while it is being initialised
    // would run after the path is destroyed.
    static const int removal = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(photoFile().parent_path(), ignored);
    });
    static_cast<void>(removal);
    return path;
}

// The plug-in over the photograph with its parameter set at the defaults, auto-mask off, the key
// from one backdrop sample, not in preview mode.
struct Keyer {
    VantreloPluginApp plugin;
    std::unique_ptr<Mav::Host::App::Parameters> set;

    Keyer() {
        plugin.addInputFile(wxString::FromUTF8(photoFile().string()));
        set = plugin.createParameters();
        plugin.describeParameters(*set);
        set->setBool(false, kParamEnableAutoMask);
        set->applyAll();
        const std::uint16_t sample[4] = {kGreen[0], kGreen[1], kGreen[2], 65535};
        plugin.bridge.sampleMode = SampleSelect;
        plugin.bridge.applySampleBlock(sample, 1, 1);
        plugin.setPreviewFlag(false);
        plugin.setPixelScale(1.0f);
    }
};

Keyer& keyer() {
    static Keyer k;
    return k;
}

// The photograph read as the batch reads it: 16-bit RGBA, no alpha.
const ImageBuffer& photo() {
    static std::unique_ptr<ImageBuffer> image = [] {
        auto read = std::make_unique<ImageBuffer>(&keyer().plugin);
        if (!read->loadInput(0, kImage, 1.0f, true)) std::abort();
        return read;
    }();
    return *image;
}

// A 3000 x 2000 backdrop image (twice enlarged by the fit to cover the photograph).
LayerEntry backdropLayer() {
    auto image = std::make_shared<ImageBuffer>(nullptr);
    image->allocateSize(3000, 2000, 8);
    for (std::int32_t y = 0; y < 2000; ++y) {
        std::uint8_t* p = image->pixelAddress(0, y);
        for (std::int32_t x = 0; x < 3000; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(x * 255 / 3000);
            p[1] = static_cast<std::uint8_t>(y * 255 / 2000);
            p[2] = static_cast<std::uint8_t>((x + y) & 255);
            p[3] = 255;
        }
    }
    LayerEntry entry;
    entry.image = std::move(image);
    entry.fileName = "backdrop";
    return entry;
}

// One render of the whole photograph in the batch's tiles, as renderInTiles runs it.
void renderTiles(Keyer& k, ImageBuffer& result) {
    std::int32_t tileWidth = 256, tileHeight = 256;
    k.plugin.tileSize(kImage, tileWidth, tileHeight);
    ImageBuffer scratch(&k.plugin);
    const ImageBuffer& input = photo();
    for (std::int32_t y = 0; y < kHeight; y += tileHeight)
        for (std::int32_t x = 0; x < kWidth; x += tileWidth) {
            ImageBuffer view(&k.plugin);
            view.makeView(result, {x, y, std::min(x + tileWidth, kWidth), std::min(y + tileHeight, kHeight)});
            k.plugin.render(*k.set, const_cast<ImageBuffer&>(input), view, scratch, nullptr);
        }
}

// Processor time of the whole process (every thread) in seconds.  On a shared machine the wall
// time of a parallel pass swings with the other load; the processor time it takes does much less,
// so both are reported.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::map<std::string, double>& processorSeconds() {
    static std::map<std::string, double> table;
    return table;
}

// Under callgrind started with --instr-atstart=no, only the measured passes are counted, on
// every thread: instruction counts stay put on a busy machine where times do not.
#if __has_include(<valgrind/callgrind.h>)
void startInstrumentation() { CALLGRIND_START_INSTRUMENTATION; }
void stopInstrumentation() { CALLGRIND_STOP_INSTRUMENTATION; }
#else
void startInstrumentation() {}
void stopInstrumentation() {}
#endif

template <class Pass>
void timed(benchmark::State& state, const std::string& name, std::int64_t items, Pass pass) {
    double total = 0.0, processor = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double startProcessor = processSeconds();
        try {
            startInstrumentation();
            pass();
            stopInstrumentation();
        } catch (const std::exception& e) {
            stopInstrumentation();
            state.SkipWithError(e.what());
            return;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        processor += processSeconds() - startProcessor;
        total += s;
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * items);
    const double runs = double(state.iterations());
    seconds()[name] = total / runs;
    processorSeconds()[name] = processor / runs;
    state.counters["cpu_ms"] = processor / runs * 1000.0;
    if (name != "keying only" && seconds().count("keying only")) {
        state.counters["keying_ratio"] = seconds()[name] / seconds()["keying only"];
        state.counters["cpu_keying_ratio"] = processorSeconds()[name] / processorSeconds()["keying only"];
    }
}

void keyingOnly(benchmark::State& state) {
    Keyer& k = keyer();
    const ImageBuffer& input = photo();
    std::vector<std::uint16_t> keyed(4 * kPixels);
    const std::uint16_t* colour = k.plugin.bridge.keyStates.keyState.replacementColour;
    std::vector<std::uint16_t> background(4 * kPixels);
    for (std::int64_t i = 0; i < kPixels; ++i) {
        for (int c = 0; c < 3; ++c) background[4 * i + c] = colour[c];
        background[4 * i + 3] = 65535;
    }
    // The engine's keying of the whole image in one call on all its workers: what the compiled
    // keying benchmark measures, on this photograph.
    timed(state, "keying only", kPixels, [&] {
        CompiledKeyGuard compiled(&k.plugin.bridge.keyStates);
        k.plugin.bridge.keyStates.processPixels16(
            reinterpret_cast<const std::uint16_t*>(input.firstPixel), keyed.data(),
            background.data(), nullptr, kWidth, kHeight);
    });
}

// The render's output, its pages written once before timing as the keying-only output's are, so
// the first measured run does not pay for mapping them.
void allocateTouched(ImageBuffer& result) {
    result.allocateSameAs(photo());
    result.clearRect(result.bounds);
}

void renderOverColour(benchmark::State& state) {
    Keyer& k = keyer();
    k.set->setBool(false, kParamRenderAgainstBD);
    k.plugin.prepare(*k.set, kImage);
    ImageBuffer result(&k.plugin);
    allocateTouched(result);
    timed(state, "render over colour", kPixels, [&] { renderTiles(k, result); });
}

void renderOverImage(benchmark::State& state) {
    Keyer& k = keyer();
    k.set->setBool(true, kParamRenderAgainstBD);
    k.set->setInt(kBackgroundFile, kParamBackgroundMode);
    k.plugin.prepare(*k.set, kImage);
    k.plugin.backdropLayers.assign(1, backdropLayer());
    Matrix3 fit;
    fit.at(0, 0) = 2.0;
    fit.at(1, 1) = 2.0;
    k.plugin.bridge.backdropTransform = fit;
    ImageBuffer result(&k.plugin);
    allocateTouched(result);
    timed(state, "render over image", kPixels, [&] { renderTiles(k, result); });
    k.plugin.backdropLayers.clear();
    k.set->setBool(false, kParamRenderAgainstBD);
    k.set->setInt(kBackgroundColor, kParamBackgroundMode);
}

// The batch's prepare with the auto-mask on: the adapter pushed and the proxy read from the file.
void prepareWithAutoMask(benchmark::State& state) {
    Keyer& k = keyer();
    k.set->setBool(true, kParamEnableAutoMask);
    timed(state, "prepare", kPixels, [&] {
        k.plugin.releaseWorkImages();
        k.plugin.prepare(*k.set, kImage);
    });
}

void analyseAutoMask(benchmark::State& state) {
    Keyer& k = keyer();
    k.set->setBool(true, kParamEnableAutoMask);
    k.plugin.prepare(*k.set, kImage);
    const KeyStateSet keys = k.plugin.bridge.keyStates;
    timed(state, "analyse", kPixels, [&] {
        k.plugin.bridge.autoMaskJustEnabled = 1;
        k.plugin.analyse(*k.set, kImage);
    });
    k.plugin.bridge.keyStates = keys;
    k.set->setBool(false, kParamEnableAutoMask);
    k.plugin.bridge.autoMaskEnabled = 0;
    k.plugin.bridge.autoMaskJustEnabled = 0;
}

void readFile(benchmark::State& state) {
    Keyer& k = keyer();
    timed(state, "read file", kPixels, [&] {
        ImageBuffer image(&k.plugin);
        if (!image.loadInput(0, kImage, 1.0f, true)) state.SkipWithError("read failed");
    });
}

void writeFile(benchmark::State& state) {
    timed(state, "write file", kPixels, [&] {
        std::string error;
        if (!photo().saveResult(&error)) state.SkipWithError(error.c_str());
    });
}

// What a slider change waits for in the preview: prepare, analyse and render of the whole view.
void previewRender(benchmark::State& state) {
    Keyer& k = keyer();
    k.plugin.setPreviewFlag(true);
    const float scale = std::min(float(kViewWidth) / kWidth, float(kViewHeight) / kHeight);
    k.plugin.setPixelScale(scale);
    ImageBuffer source(&k.plugin);
    if (!source.loadInput(0, kImage, scale, true)) {
        state.SkipWithError("read failed");
        return;
    }
    ImageBuffer result(&k.plugin);
    ImageBuffer scratch(&k.plugin);
    result.allocateLike(source, source.bounds);
    timed(state, "preview", source.bounds.width() * source.bounds.height(), [&] {
        k.plugin.prepare(*k.set, source.domain);
        k.plugin.analyse(*k.set, source.domain);
        k.plugin.render(*k.set, source, result, scratch, nullptr);
    });
    if (seconds().count("preview")) state.counters["ms"] = seconds()["preview"] * 1000.0;
    k.plugin.setPreviewFlag(false);
    k.plugin.setPixelScale(1.0f);
}

// The render alone of that view, prepared and analysed once before: the part of a slider change
// that this render pipeline costs.
void previewRenderOnly(benchmark::State& state) {
    Keyer& k = keyer();
    k.plugin.setPreviewFlag(true);
    const float scale = std::min(float(kViewWidth) / kWidth, float(kViewHeight) / kHeight);
    k.plugin.setPixelScale(scale);
    ImageBuffer source(&k.plugin);
    if (!source.loadInput(0, kImage, scale, true)) {
        state.SkipWithError("read failed");
        return;
    }
    ImageBuffer result(&k.plugin);
    ImageBuffer scratch(&k.plugin);
    result.allocateLike(source, source.bounds);
    k.plugin.prepare(*k.set, source.domain);
    k.plugin.analyse(*k.set, source.domain);
    timed(state, "preview render only", source.bounds.width() * source.bounds.height(),
          [&] { k.plugin.render(*k.set, source, result, scratch, nullptr); });
    if (seconds().count("preview render only"))
        state.counters["ms"] = seconds()["preview render only"] * 1000.0;
    k.plugin.setPreviewFlag(false);
    k.plugin.setPixelScale(1.0f);
}

BENCHMARK(keyingOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(renderOverColour)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(renderOverImage)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(previewRender)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(previewRenderOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(prepareWithAutoMask)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(analyseAutoMask)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(readFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(writeFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    wxInitAllImageHandlers();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::fprintf(stderr, "\nSummary (seconds per run, 6000 x 4000 16-bit, all processors; wall and processor):\n");
    for (const auto& [name, s] : seconds())
        std::fprintf(stderr, "  %-20s %9.4f s %9.4f s\n", name.c_str(), s, processorSeconds()[name]);
    if (seconds().count("keying only"))
        for (const char* name : {"render over colour", "render over image"})
            if (seconds().count(name))
                std::fprintf(stderr, "  %s / keying only = %.2f (processor time %.2f)\n", name,
                             seconds()[name] / seconds()["keying only"],
                             processorSeconds()[name] / processorSeconds()["keying only"]);
    benchmark::Shutdown();
    return 0;
}
