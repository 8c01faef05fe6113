// The auto-mask's analysis: the backdrop colour from the two top corners, a first key and its
// matte, and the sure backdrop and sure subject regions that shape the final key.

#include "plugin/auto_mask.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/effects/auto_key.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/numeric.h"
#include "engine/keying/processing.h"
#include "engine/keying/sampling_tools.h"
#include "host/system/exceptions.h"
#include "host/system/system_info.h"
#include "host/system/thread.h"
#include "kernels/band_job.h"
#include "plugin/engine_status.h"
#include "plugin/key_state_set.h"

namespace vantrelo {

namespace {

using Mav::Host::System::throwBadAllocation;

// The corner seeds lie this far inside the top-left and top-right corners, off the vignetting and
// the frame edge that photographs often have.
constexpr std::int64_t kSeedInset = 10;
constexpr std::ptrdiff_t kMinimumSide = 16;
// Every 16th qualifying pixel reaches the engine's tools: a megapixel proxy would otherwise hand
// them hundreds of thousands of samples, nearly all of them repeats of the same few colours.
constexpr std::uint64_t kThinning = 16;
constexpr float kSeedHueTolerance = 1.0f / 36.0f;
constexpr float kSeedValueTolerance = 6553.5f;
constexpr float kForegroundHueDistance = 1.0f / 6.0f;
constexpr float kForegroundValueDistance = 16383.75f;
constexpr std::uint16_t kForegroundAlpha = 16383;
constexpr int kCleanupWindow = 3;
// The filters take windows up to 2^20; the sure-region window is r + 3.
constexpr std::int64_t kLargestRadius = (std::int64_t{1} << 20) - 3;
// Beyond this the sample counts would not fit the engine tools' int counts (and no such buffers
// could be had anyway).
constexpr std::uint64_t kLargestImage = std::uint64_t{1} << 32;
constexpr std::size_t kBufferAlignment = 16;

struct HueValue {
    float hue;
    float value;
};

HueValue hueValue(const std::uint16_t* pixel) {
    const float r = pixel[0];
    const float g = pixel[1];
    const float b = pixel[2];
    const float high = std::max(r, std::max(g, b));
    const float low = std::min(r, std::min(g, b));
    const float d = high - low;
    if (d == 0.0f) return {0.0f, high};
    float h;
    if (r == high)
        h = (g - b) / d;
    else if (g == high)
        h = (b - r) / d + 2.0f;
    else
        h = (r - g) / d + 4.0f;
    h /= 6.0f;
    if (h < 0.0f) h += 1.0f;
    return {h, high};
}

bool closeToSeed(const HueValue& seed, const std::uint16_t* pixel) {
    const HueValue p = hueValue(pixel);
    return std::fabs(seed.hue - p.hue) < kSeedHueTolerance &&
           std::fabs(seed.value - p.value) < kSeedValueTolerance;
}

// Appends the pixel (all four channels) to the list and adds it to the sums.
void accumulate(AutoMaskAccumulator& accumulator, const std::uint16_t* pixel) {
    std::uint16_t* slot = accumulator.samples + 4 * accumulator.count;
    for (int c = 0; c < 4; ++c) {
        slot[c] = pixel[c];
        accumulator.sum[c] += pixel[c];
    }
    ++accumulator.count;
}

bool matchesSeed(AutoMaskAccumulator& accumulator, const HueValue& seed,
                 const std::uint16_t* pixel) {
    if (!closeToSeed(seed, pixel)) return false;
    accumulate(accumulator, pixel);
    return true;
}

// The image keyed against itself as spill source; only the matte is read afterwards.  A keying the
// engine did not finish would leave the matte partly unwritten, so it fails the detection.
void keyImage(const std::uint16_t* pixels, std::uint16_t* matte, std::ptrdiff_t width,
              std::ptrdiff_t height, KeyState* state) {
    CompiledKeyGuard compiled(state);
    throwOnEngineFailure(
        processImage(pixels, matte, pixels, nullptr, width, height, state, nullptr));
}

// Every 16th of the first `count` samples, moved to the front in order.
int thinSamples(std::uint16_t* samples, std::uint64_t count) {
    std::uint64_t kept = 0;
    for (std::uint64_t i = 0; i < count; i += kThinning, ++kept)
        std::memmove(samples + 4 * kept, samples + 4 * i, 4 * sizeof(std::uint16_t));
    return static_cast<int>(kept);
}

// Appends pixel i to the thinned list when it is the 1st, 17th, 33rd... qualifying pixel.
struct Thinner {
    std::uint16_t* samples;
    std::uint64_t seen = 0;
    int kept = 0;

    void offer(const std::uint16_t* pixel) {
        if (seen++ % kThinning == 0) {
            std::memcpy(samples + 4 * static_cast<std::size_t>(kept), pixel,
                        4 * sizeof(std::uint16_t));
            ++kept;
        }
    }
};

struct Filters {
    const Quelt_Environ* environment;
    std::uint16_t* scratch;
    SpanRect all;
    std::ptrdiff_t rowBytes;

    void run(bool maximum, const std::uint16_t* source, std::uint16_t* destination,
             int window) const {
        Quelt_Minimax filter;
        filter.environment = *environment;
        filter.source = source;
        filter.destination = destination;
        filter.scratch = scratch;
        filter.sourceRowBytes = rowBytes;
        filter.destinationRowBytes = rowBytes;
        filter.scratchRowBytes = rowBytes;
        filter.limits = &all;
        filter.area = &all;
        filter.windowWidth = window;
        filter.windowHeight = window;
        if (maximum)
            Quelt_Minimax::applyMax(filter);
        else
            Quelt_Minimax::apply(filter);
    }
};

}  // namespace

AutoMaskBuffer::~AutoMaskBuffer() { releaseWorkBuffer(*this); }

void allocateWorkBuffer(AutoMaskBuffer& holder, std::size_t bytes) {
    releaseWorkBuffer(holder);
    if (bytes > std::numeric_limits<std::size_t>::max() - kBufferAlignment) throwBadAllocation();
    // The engine allocator promises no alignment; the pixels start at the first 16-byte boundary.
    holder.block = engineAllocate(bytes + kBufferAlignment);
    if (!holder.block) throwBadAllocation();
    const auto address = reinterpret_cast<std::uintptr_t>(holder.block);
    holder.pixels = reinterpret_cast<std::uint16_t*>((address + kBufferAlignment - 1) &
                                                     ~std::uintptr_t{kBufferAlignment - 1});
}

void releaseWorkBuffer(AutoMaskBuffer& holder) noexcept {
    engineRelease(holder.block);
    holder.block = nullptr;
    holder.pixels = nullptr;
}

bool isNearGrey(const std::uint16_t colour[4]) {
    const int high = std::max<int>(colour[0], std::max<int>(colour[1], colour[2]));
    const int low = std::min<int>(colour[0], std::min<int>(colour[1], colour[2]));
    return high - low < high / 20;
}

bool matchesSeedColour(AutoMaskAccumulator& accumulator, const std::uint16_t* seed,
                       const std::uint16_t* pixel) {
    return matchesSeed(accumulator, hueValue(seed), pixel);
}

namespace {

// What the seed fill knows of each pixel of its rectangle.
enum : std::uint8_t { kOther = 0, kOpen = 1, kFilled = 2 };

struct MatchJob {
    const std::uint8_t* pixels;  // pixel (x0, y0)
    std::ptrdiff_t pixelRowBytes;
    std::int64_t width;
    std::int64_t height;
    HueValue seed;
    std::uint8_t* state;
    std::int64_t* open;  // per row, its pixels that match but are not filled
};

// Band `index` of the rows: which pixels match the seed.
void matchBand(std::uint64_t index, std::uint64_t count, std::uint64_t, void* data) {
    const MatchJob& job = *static_cast<const MatchJob*>(data);
    const BandRange band = bandRange(0, job.height, index, count);
    for (std::ptrdiff_t y = band.begin; y < band.end; ++y) {
        const auto* pixel =
            reinterpret_cast<const std::uint16_t*>(job.pixels + y * job.pixelRowBytes);
        std::uint8_t* row = job.state + y * job.width;
        std::int64_t open = 0;
        for (std::int64_t x = 0; x < job.width; ++x, pixel += 4) {
            const bool matches = closeToSeed(job.seed, pixel);
            row[x] = matches ? kOpen : kOther;
            open += matches;
        }
        job.open[y] = open;
    }
}

}  // namespace

void seedFillMask(std::uint8_t* mask, std::ptrdiff_t maskRowBytes, const std::uint16_t* pixels,
                  std::ptrdiff_t pixelRowBytes, const SpanRect& rect, std::int64_t seedX,
                  std::int64_t seedY, AutoMaskAccumulator& accumulator) {
    if (!mask || rect.empty()) return;
    const std::int64_t x0 = rect.x0, x1 = rect.x1, y0 = rect.y0, y1 = rect.y1;
    const auto rowBytes = static_cast<std::size_t>((x1 - x0 + 7) / 8);
    for (std::int64_t y = y0; y < y1; ++y) std::memset(mask + (y - y0) * maskRowBytes, 0, rowBytes);
    if (!pixels || !accumulator.samples || seedX < x0 || seedX >= x1 || seedY < y0 || seedY >= y1)
        return;

    const std::int64_t width = x1 - x0;
    const std::int64_t height = y1 - y0;
    const auto* base = reinterpret_cast<const std::uint8_t*>(pixels) + y0 * pixelRowBytes + x0 * 8;
    auto pixelAt = [&](std::int64_t x, std::int64_t y) {
        return reinterpret_cast<const std::uint16_t*>(base + y * pixelRowBytes + x * 8);
    };
    const auto at = [width](std::int64_t x, std::int64_t y) {
        return static_cast<std::size_t>(y * width + x);
    };

    // Whether a pixel matches depends on the pixel alone, so it is decided once for every pixel,
    // on every processor, instead of at each sweep that reaches it; the sweeps then only carry the
    // fill's front along.
    std::vector<std::uint8_t> state(at(0, height));
    std::vector<std::int64_t> open(static_cast<std::size_t>(height));
    MatchJob match{base,   pixelRowBytes, width, height, hueValue(pixelAt(seedX - x0, seedY - y0)),
                   state.data(), open.data()};
    Mav::Host::System::Thread runner;
    runner.thread(&matchBand, &match,
                  std::min<std::uint64_t>(runner.processorCount(),
                                          static_cast<std::uint64_t>(height)));

    // Each row's count of changes, and the counts of the row and of the row the sweep comes from
    // when the row was last swept in each direction.  A row whose two counts are as they were
    // then would join nothing, so it is passed over: the fill joins exactly the pixels, in exactly
    // the order, of sweeping every row every time.
    std::vector<std::uint64_t> changes(static_cast<std::size_t>(height), 1);
    struct Seen {
        std::uint64_t row = 0, from = 0;
    };
    std::vector<Seen> forward(static_cast<std::size_t>(height));
    std::vector<Seen> backward(static_cast<std::size_t>(height));
    auto join = [&](std::int64_t x, std::int64_t y) {
        state[at(x, y)] = kFilled;
        --open[static_cast<std::size_t>(y)];
        ++changes[static_cast<std::size_t>(y)];
        accumulate(accumulator, pixelAt(x, y));
    };
    // The seed is the reference: filled, not accumulated.
    std::uint8_t& seed = state[at(seedX - x0, seedY - y0)];
    if (seed == kOpen) --open[static_cast<std::size_t>(seedY - y0)];
    seed = kFilled;

    // Whether row y is to be swept now, coming from row `from` (none at the image's edge).
    auto due = [&](std::vector<Seen>& seen, std::int64_t y, std::int64_t from) {
        const auto row = static_cast<std::size_t>(y);
        if (open[row] == 0) return false;
        const Seen now{changes[row], from >= 0 && from < height
                                         ? changes[static_cast<std::size_t>(from)]
                                         : 0};
        if (seen[row].row == now.row && seen[row].from == now.from) return false;
        seen[row] = now;
        return true;
    };
    // Only open pixels can join, and nothing else in a row changes as a sweep goes along it, so a
    // sweep looks at the open ones alone: the first at or after x (width: none), the last before
    // x (-1: none).
    const auto nextOpen = [width](const std::uint8_t* row, std::int64_t x) -> std::int64_t {
        const void* open = std::memchr(row + x, kOpen, static_cast<std::size_t>(width - x));
        return open ? static_cast<const std::uint8_t*>(open) - row : width;
    };
    const auto previousOpen = [](const std::uint8_t* row, std::int64_t x) -> std::int64_t {
        const void* open = ::memrchr(row, kOpen, static_cast<std::size_t>(x));
        return open ? static_cast<const std::uint8_t*>(open) - row : -1;
    };
    // Sweeps instead of a stack of open pixels: the memory stays small, and the order in which
    // pixels join (which the thinning of the list depends on) is fixed by the image alone.
    for (bool changed = true; changed;) {
        changed = false;
        for (std::int64_t y = 0; y < height; ++y) {
            if (!due(forward, y, y - 1)) continue;
            std::uint8_t* row = state.data() + at(0, y);
            const std::uint8_t* above = y > 0 ? row - width : nullptr;
            for (std::int64_t x = nextOpen(row, 0); x < width; x = nextOpen(row, x + 1)) {
                if ((x > 0 && row[x - 1] == kFilled) || (above && above[x] == kFilled)) {
                    join(x, y);
                    changed = true;
                }
            }
            forward[static_cast<std::size_t>(y)].row = changes[static_cast<std::size_t>(y)];
        }
        for (std::int64_t y = height - 1; y >= 0; --y) {
            if (!due(backward, y, y + 1)) continue;
            std::uint8_t* row = state.data() + at(0, y);
            const std::uint8_t* below = y < height - 1 ? row + width : nullptr;
            for (std::int64_t x = previousOpen(row, width); x >= 0; x = previousOpen(row, x)) {
                if ((x < width - 1 && row[x + 1] == kFilled) || (below && below[x] == kFilled)) {
                    join(x, y);
                    changed = true;
                }
            }
            backward[static_cast<std::size_t>(y)].row = changes[static_cast<std::size_t>(y)];
        }
    }
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* row = state.data() + at(0, y);
        std::uint8_t* bits = mask + y * maskRowBytes;
        for (std::int64_t x = 0; x < width; ++x)
            if (row[x] == kFilled) bits[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
}

bool refineAutoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    const std::uint16_t colour[4], KeyState* state, float innerWidening,
                    float outerWidening, float ease, float correction) {
    if (!pixels || !colour || !state || width < 1 || height < 1) return false;
    // A grey backdrop has no chroma axis for the histogram to run along.
    if (isNearGrey(colour)) return true;
    // The engine leaves the state as it was when it fails; with usable arguments that means its
    // scratch memory was refused.
    if (!makeAutoKeyMask(pixels, width, height, colour[0], colour[1], colour[2], state,
                         innerWidening, outerWidening, ease, correction))
        throwBadAllocation();
    return true;
}

void startFirstKey(const std::uint16_t colour[4], std::uint16_t* fillSamples,
                   std::uint64_t count, KeyState* state) {
    // The engine starts no key only when it could not have its sample cloud.
    if (!(isNearGrey(colour) ? setBackdropColour(colour, state)
                             : selectBackdropColour(colour, state)))
        throwBadAllocation();
    growInnerToSamples(fillSamples, thinSamples(fillSamples, count), 1, state);
    enforceNesting(0, state);
}

int subjectCandidates(const std::uint16_t* pixels, const std::uint16_t* matte,
                      std::uint64_t count, const std::uint16_t colour[4],
                      std::uint16_t* samples) {
    const HueValue backdrop = hueValue(colour);
    Thinner subject{samples};
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint16_t* p = pixels + 4 * i;
        const HueValue v = hueValue(p);
        if (std::fabs(v.hue - backdrop.hue) > kForegroundHueDistance ||
            (matte[4 * i + 3] > kForegroundAlpha &&
             std::fabs(v.value - backdrop.value) > kForegroundValueDistance))
            subject.offer(p);
    }
    return subject.kept;
}

int sureRegionSamples(const Quelt_Environ& environment, bool subject,
                      const std::uint16_t* pixels, const std::uint16_t* matte,
                      std::uint16_t* morphology, std::uint16_t* samples, std::ptrdiff_t width,
                      std::ptrdiff_t height, int window) {
    const Filters filters{&environment, samples, SpanRect{0, width, 0, height}, 8 * width};
    // The 3 x 3 pass first drops specks of noise that would otherwise grow by the wide window.
    filters.run(subject, matte, morphology, kCleanupWindow);
    filters.run(!subject, morphology, morphology, window);
    const std::uint16_t sure = subject ? 65535 : 0;
    Thinner kept{samples};
    const std::uint64_t count =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    for (std::uint64_t i = 0; i < count; ++i)
        if (morphology[4 * i + 3] == sure) kept.offer(pixels + 4 * i);
    return kept.kept;
}

bool autoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
              std::uint16_t outColour[4], KeyState* state, float radius) {
    Quelt_Environ environment;
    environment.features = Mav::Host::System::cpuFeatures();
    // One band per processor: the batch waits for the detection of every image.
    environment.bandCount = 0;
    return analyseAutoMask(environment, pixels, width, height, outColour, state, radius);
}

int sureRegionWindow(std::ptrdiff_t width, std::ptrdiff_t height, float radius) {
    // r is a tenth of the smaller side at the default radius 0.4.
    const std::int64_t r =
        truncToInt32(static_cast<float>(std::min(width, height)) * radius * 0.25f + 0.5f);
    return static_cast<int>(std::clamp<std::int64_t>(r, 1, kLargestRadius) + kCleanupWindow);
}

bool analyseAutoMask(const Quelt_Environ& environment, const std::uint16_t* pixels,
                     std::ptrdiff_t width, std::ptrdiff_t height, std::uint16_t outColour[4],
                     KeyState* state, float radius) {
    if (width < kMinimumSide || height < kMinimumSide) return false;
    if (!pixels || !outColour || !state) return false;
    if (static_cast<std::uint64_t>(width) > kLargestImage / static_cast<std::uint64_t>(height))
        throwBadAllocation();
    const std::uint64_t count =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (count > kLargestImage) throwBadAllocation();

    // Matte (first the fill mask, then the keyed image), morphology and samples (two fills of
    // every pixel, or the filters' scratch image).  Freed in reverse order on every path out.
    AutoMaskBuffer matte, morphology, samples;
    allocateWorkBuffer(matte, count * 8);
    allocateWorkBuffer(morphology, count * 8);
    allocateWorkBuffer(samples, count * 16);

    // Backdrop colour: both top corners, ten pixels in.  A backdrop that covers the whole top
    // enters twice, which leaves its average as it is.  The two fills run at once, each with a
    // mask of its own (nothing reads the masks afterwards) and the right one's samples in the
    // second half of the list; they are then appended to the left one's, in the order one fill
    // after the other gives, and the sums (whole numbers) add up to the same.
    AutoMaskAccumulator accumulator;
    accumulator.samples = samples.pixels;
    AutoMaskAccumulator right;
    right.samples = samples.pixels + 4 * count;
    struct CornerFills {
        const std::uint16_t* pixels;
        std::ptrdiff_t width;
        SpanRect all;
        std::uint8_t* masks[2];
        AutoMaskAccumulator* accumulators[2];
    } fills{pixels,
            width,
            SpanRect{0, width, 0, height},
            {reinterpret_cast<std::uint8_t*>(matte.pixels),
             reinterpret_cast<std::uint8_t*>(morphology.pixels)},
            {&accumulator, &right}};
    Mav::Host::System::Thread runner;
    runner.thread(
        [](std::uint64_t index, std::uint64_t, std::uint64_t, void* data) {
            const CornerFills& job = *static_cast<const CornerFills*>(data);
            const std::int64_t seedX = index == 0 ? kSeedInset : job.width - kSeedInset;
            seedFillMask(job.masks[index], (job.width + 7) / 8, job.pixels, 8 * job.width,
                         job.all, seedX, kSeedInset, *job.accumulators[index]);
        },
        &fills, 2);
    std::memmove(accumulator.samples + 4 * accumulator.count, right.samples,
                 4 * sizeof(std::uint16_t) * right.count);
    accumulator.count += right.count;
    for (int c = 0; c < 4; ++c) accumulator.sum[c] += right.sum[c];
    if (accumulator.count == 0) return false;
    assert(accumulator.count <= 2 * count);
    std::uint16_t colour[4];
    for (int c = 0; c < 4; ++c)
        colour[c] = truncToUint16(
            std::trunc(accumulator.sum[c] / static_cast<double>(accumulator.count)));

    // Every step works on a copy: the caller's key changes only when all of them succeeded.
    KeyState key = *state;
    startFirstKey(colour, samples.pixels, accumulator.count, &key);
    keyImage(pixels, matte.pixels, width, height, &key);
    shrinkOuterFromSamples(samples.pixels,
                           subjectCandidates(pixels, matte.pixels, count, colour, samples.pixels),
                           1, &key);
    enforceNesting(2, &key);
    keyImage(pixels, matte.pixels, width, height, &key);

    // The first key served only to make this matte; the final key starts afresh from the colour.
    if (!selectBackdropColour(colour, &key)) throwBadAllocation();
    const int wide = sureRegionWindow(width, height, radius);
    growInnerToSamples(samples.pixels,
                       sureRegionSamples(environment, false, pixels, matte.pixels,
                                         morphology.pixels, samples.pixels, width, height, wide),
                       1, &key);
    enforceNesting(0, &key);
    shrinkOuterFromSamples(samples.pixels,
                           sureRegionSamples(environment, true, pixels, matte.pixels,
                                             morphology.pixels, samples.pixels, width, height,
                                             wide),
                           1, &key);
    enforceNesting(2, &key);

    *state = key;
    std::memcpy(outColour, colour, sizeof colour);
    return true;
}

}  // namespace vantrelo
