// The cost of decoding subject images in the helper program (vantrelo-decode) beside decoding
// them in the program itself: a 6000 x 4000 (24-Mpixel) 16-bit RGB TIFF, LZW-compressed as the
// program writes it and uncompressed (the cheapest decode, where the helper weighs most), read
// both ways and its rows copied out as the reader copies them into the image buffer (the helper's
// pixels are mapped lazily, so the copy is where they arrive); and a header read, which is
// almost all start-up of the helper.  Real time, since the helper's work is not the calling
// thread's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/app/image_io_support.h"

namespace {

using namespace Mav::Host::App::ImageIo;

constexpr int kWidth = 6000, kHeight = 4000;

// A smooth picture with grain, so that LZW finds about as much to do as in a photograph.
std::string writeFixture(int flags, const char* name) {
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("vantrelo-bench-decode-" + std::to_string(::getpid()) + "-" + name + ".tif"))
            .string();
    Bitmap bitmap(FreeImage_AllocateT(FIT_RGB16, kWidth, kHeight, 48));
    std::uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(bitmap.get(), y));
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            row[x].red = static_cast<WORD>(x * 10 + (noise >> 26));
            row[x].green = static_cast<WORD>(y * 16 + (noise >> 27));
            row[x].blue = static_cast<WORD>((x + y) * 6 + (noise >> 28));
        }
    }
    if (!FreeImage_Save(FIF_TIFF, bitmap.get(), path.c_str(), flags)) std::abort();
    return path;
}

const std::string& fixture(bool compressed) {
    static const std::string lzw = writeFixture(TIFF_LZW, "lzw");
    static const std::string plain = writeFixture(TIFF_NONE, "plain");
    static const struct Cleanup {
        ~Cleanup() {
            std::filesystem::remove(lzw);
            std::filesystem::remove(plain);
        }
    } cleanup;
    return compressed ? lzw : plain;
}

void check(const Decoded& decoded, benchmark::State& state) {
    if (!decoded.bitmap || !decoded.problem.empty()) state.SkipWithError(decoded.problem.c_str());
}

// Copies every row out, as the reader does.
void copyRows(const Decoded& decoded, benchmark::State& state) {
    check(decoded, state);
    if (!decoded.bitmap) return;
    FIBITMAP* bitmap = decoded.bitmap.get();
    const std::size_t line = FreeImage_GetLine(bitmap);
    static std::vector<BYTE> rows(static_cast<std::size_t>(kWidth) * kHeight * 6);
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(rows.data() + static_cast<std::size_t>(y) * line,
                    FreeImage_GetScanLine(bitmap, y), line);
    benchmark::DoNotOptimize(rows.data());
}

void BM_DecodeInProcess(benchmark::State& state) {
    const std::string& path = fixture(state.range(0) != 0);
    for (auto _ : state) copyRows(decodeHere(path, FIF_TIFF, TIFF_CMYK), state);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_DecodeThroughHelper(benchmark::State& state) {
    const std::string& path = fixture(state.range(0) != 0);
    for (auto _ : state) copyRows(decode(path, FIF_TIFF, TIFF_CMYK), state);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_HeaderThroughHelper(benchmark::State& state) {
    const std::string& path = fixture(true);
    for (auto _ : state) check(decode(path, FIF_TIFF, TIFF_CMYK | FIF_LOAD_NOPIXELS), state);
}

void BM_HeaderInProcess(benchmark::State& state) {
    const std::string& path = fixture(true);
    for (auto _ : state) check(decodeHere(path, FIF_TIFF, TIFF_CMYK | FIF_LOAD_NOPIXELS), state);
}

void compression(benchmark::internal::Benchmark* b) {
    b->ArgName("lzw")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_DecodeInProcess)->Apply(compression);
BENCHMARK(BM_DecodeThroughHelper)->Apply(compression);
BENCHMARK(BM_HeaderInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HeaderThroughHelper)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
