#include "kernels/minimax.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/system/aligned_buffer.h"
#include "host/system/thread.h"
#include "kernels/band_job.h"
#include "kernels/kernel_checks.h"

namespace vantrelo {

namespace {

// The four 16-bit channels of a pixel are lanes of a 128-bit vector holding two pixels (or one
// in its low half): the extremes of all channels of two pixels in one instruction pair.
#if defined(__SSE2__)
using Vec = __m128i;
inline Vec loadOne(const std::uint16_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline Vec loadTwo(const std::uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void storeOne(std::uint16_t* p, Vec v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
inline void storeTwo(std::uint16_t* p, Vec v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline Vec join(Vec low, Vec high) { return _mm_unpacklo_epi64(low, high); }
inline Vec upperHalf(Vec v) { return _mm_unpackhi_epi64(v, v); }
inline Vec splat(std::uint16_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
// Unsigned 16-bit extremes from the saturating difference (the base instruction set has no
// unsigned 16-bit minimum): a - max(a - b, 0) and b + max(a - b, 0).
inline Vec minimum(Vec a, Vec b) { return _mm_sub_epi16(a, _mm_subs_epu16(a, b)); }
inline Vec maximum(Vec a, Vec b) { return _mm_add_epi16(b, _mm_subs_epu16(a, b)); }
#else
struct Vec {
    std::uint16_t v[8];
};
inline Vec loadOne(const std::uint16_t* p) {
    Vec r{};
    std::memcpy(r.v, p, 8);
    return r;
}
inline Vec loadTwo(const std::uint16_t* p) {
    Vec r;
    std::memcpy(r.v, p, 16);
    return r;
}
inline void storeOne(std::uint16_t* p, Vec v) { std::memcpy(p, v.v, 8); }
inline void storeTwo(std::uint16_t* p, Vec v) { std::memcpy(p, v.v, 16); }
inline Vec join(Vec low, Vec high) {
    std::memcpy(low.v + 4, high.v, 8);
    return low;
}
inline Vec upperHalf(Vec v) {
    std::memcpy(v.v, v.v + 4, 8);
    return v;
}
inline Vec splat(std::uint16_t x) {
    Vec r;
    std::fill(r.v, r.v + 8, x);
    return r;
}
inline Vec minimum(Vec a, Vec b) {
    for (int i = 0; i < 8; ++i) a.v[i] = std::min(a.v[i], b.v[i]);
    return a;
}
inline Vec maximum(Vec a, Vec b) {
    for (int i = 0; i < 8; ++i) a.v[i] = std::max(a.v[i], b.v[i]);
    return a;
}
#endif

struct MinOp {
    static constexpr std::uint16_t kIdentity = 65535;  // leaves every minimum unchanged
    static Vec op(Vec a, Vec b) { return minimum(a, b); }
};

struct MaxOp {
    static constexpr std::uint16_t kIdentity = 0;
    static Vec op(Vec a, Vec b) { return maximum(a, b); }
};

constexpr std::int64_t kMaxWindow = std::int64_t{1} << 20;
constexpr std::int64_t kMaxSide = std::int64_t{1} << 31;
constexpr std::ptrdiff_t kPixelBytes = 8;

// What both passes share, worked out once by apply.
struct Passes {
    const Quelt_Minimax* filter = nullptr;
    SpanRect area;
    SpanRect limits;
    std::int64_t reachBeforeX = 0, reachAfterX = 0;  // a and b of the window width
    std::int64_t reachBeforeY = 0, reachAfterY = 0;  // of the window height
    std::ptrdiff_t scratchRowBytes = 0;
    std::int64_t scratchY0 = 0, scratchY1 = 0;  // rows the horizontal pass writes
};

inline const std::uint16_t* pixelAt(const void* base, std::ptrdiff_t rowBytes, std::int64_t x,
                                    std::int64_t y) {
    return reinterpret_cast<const std::uint16_t*>(static_cast<const std::uint8_t*>(base) +
                                                  y * rowBytes + x * kPixelBytes);
}

inline std::uint16_t* pixelAt(void* base, std::ptrdiff_t rowBytes, std::int64_t x, std::int64_t y) {
    return reinterpret_cast<std::uint16_t*>(static_cast<std::uint8_t*>(base) + y * rowBytes +
                                            x * kPixelBytes);
}

// out[i] = op(a[i], b[i]) over `count` pixels, two at a time; out may be a or b.
template <class Op>
inline void combine(std::uint16_t* out, const std::uint16_t* a, const std::uint16_t* b,
                    std::ptrdiff_t count) {
    std::ptrdiff_t i = 0;
    for (; i + 2 <= count; i += 2)
        storeTwo(out + 4 * i, Op::op(loadTwo(a + 4 * i), loadTwo(b + 4 * i)));
    if (i < count) storeOne(out + 4 * i, Op::op(loadOne(a + 4 * i), loadOne(b + 4 * i)));
}

// Running extremes of a padded line t of `length` entries over windows of s: out[i] is the
// extreme of t[i .. i + s - 1] for i < count (count + s - 1 = length).  Within each block of s
// entries the prefix extremes (forward) and suffix extremes (backward) are kept; a window spans
// the end of one block and the start of the next, so it is one suffix combined with one prefix.
template <class Op>
void runningLine(const Vec* t, Vec* prefix, Vec* suffix, std::ptrdiff_t length, std::ptrdiff_t s,
                 Vec* out, std::ptrdiff_t count) {
    for (std::ptrdiff_t start = 0; start < length; start += s) {
        const std::ptrdiff_t end = std::min(start + s, length);
        prefix[start] = t[start];
        for (std::ptrdiff_t j = start + 1; j < end; ++j) prefix[j] = Op::op(prefix[j - 1], t[j]);
        suffix[end - 1] = t[end - 1];
        for (std::ptrdiff_t j = end - 2; j >= start; --j) suffix[j] = Op::op(suffix[j + 1], t[j]);
    }
    for (std::ptrdiff_t i = 0; i < count; ++i) out[i] = Op::op(suffix[i], prefix[i + s - 1]);
}

// Rows go two at a time, one in each half of the vectors, so the prefix and suffix chains of two
// rows run side by side.
template <class Op>
void horizontalBand(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const Passes& p = *static_cast<const Passes*>(job);
    const Quelt_Minimax& f = *p.filter;
    const BandRange rows = bandRange(p.scratchY0, p.scratchY1, index, count);
    if (rows.empty()) return;
    const std::ptrdiff_t width = p.area.x1 - p.area.x0;
    const std::ptrdiff_t s = f.windowWidth;
    const std::ptrdiff_t length = width + s - 1;

    Mav::Host::System::AlignedBuffer buffer;
    buffer.resize(static_cast<std::uint64_t>(4 * length) * sizeof(Vec));
    Vec* line = reinterpret_cast<Vec*>(buffer.pointer());
    Vec* prefix = line + length;
    Vec* suffix = prefix + length;
    Vec* out = suffix + length;

    // Line position i holds source column area.x0 - a + i; positions outside the limits keep the
    // operation's identity, which leaves them out of every extreme.
    const std::int64_t firstColumn = p.area.x0 - p.reachBeforeX;
    const std::ptrdiff_t inside0 = std::max<std::int64_t>(0, p.limits.x0 - firstColumn);
    const std::ptrdiff_t inside1 = std::min<std::int64_t>(length, p.limits.x1 - firstColumn);
    std::fill(line, line + length, splat(Op::kIdentity));
    for (std::ptrdiff_t y = rows.begin; y < rows.end; y += 2) {
        const bool pair = y + 1 < rows.end;
        const std::uint16_t* a = pixelAt(f.source, f.sourceRowBytes, firstColumn, y);
        const std::uint16_t* b = pair ? pixelAt(f.source, f.sourceRowBytes, firstColumn, y + 1) : a;
        for (std::ptrdiff_t i = inside0; i < inside1; ++i)
            line[i] = join(loadOne(a + 4 * i), loadOne(b + 4 * i));
        runningLine<Op>(line, prefix, suffix, length, s, out, width);
        std::uint16_t* toA = pixelAt(f.scratch, p.scratchRowBytes, p.area.x0, y);
        for (std::ptrdiff_t i = 0; i < width; ++i) storeOne(toA + 4 * i, out[i]);
        if (pair) {
            std::uint16_t* toB = pixelAt(f.scratch, p.scratchRowBytes, p.area.x0, y + 1);
            for (std::ptrdiff_t i = 0; i < width; ++i) storeOne(toB + 4 * i, upperHalf(out[i]));
        }
    }
}

template <class Op>
void verticalBand(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const Passes& p = *static_cast<const Passes*>(job);
    const Quelt_Minimax& f = *p.filter;
    const BandRange rows = bandRange(p.area.y0, p.area.y1, index, count);
    if (rows.empty()) return;
    const std::ptrdiff_t outputs = rows.end - rows.begin;
    const std::ptrdiff_t s = f.windowHeight;
    const std::ptrdiff_t length = outputs + s - 1;
    const std::int64_t firstRow = rows.begin - p.reachBeforeY;  // of position 0
    const std::ptrdiff_t width = p.area.x1 - p.area.x0;

    // Columns go in strips narrow enough for the s suffix rows of a strip to stay in the
    // processor's second-level cache (256 KiB).
    const std::ptrdiff_t strip =
        std::min<std::ptrdiff_t>(std::max<std::ptrdiff_t>(32768 / s, 16), width);
    const std::ptrdiff_t stripSamples = 4 * strip;
    Mav::Host::System::AlignedBuffer buffer;
    buffer.resize(static_cast<std::uint64_t>((s + 2) * strip * kPixelBytes));
    std::uint16_t* suffix = reinterpret_cast<std::uint16_t*>(buffer.pointer());
    std::uint16_t* prefix = suffix + s * stripSamples;
    std::uint16_t* outside = prefix + stripSamples;
    std::fill(outside, outside + stripSamples, Op::kIdentity);

    for (std::int64_t x = p.area.x0; x < p.area.x1; x += strip) {
        const std::ptrdiff_t w = std::min<std::int64_t>(strip, p.area.x1 - x);
        const std::size_t rowSize = static_cast<std::size_t>(w * kPixelBytes);
        auto row = [&](std::ptrdiff_t position) -> const std::uint16_t* {
            const std::int64_t y = firstRow + position;
            if (y < p.limits.y0 || y >= p.limits.y1) return outside;
            return pixelAt(f.scratch, p.scratchRowBytes, x, y);
        };
        auto output = [&](std::ptrdiff_t i) {
            return pixelAt(f.destination, f.destinationRowBytes, x, rows.begin + i);
        };
        auto suffixRow = [&](std::ptrdiff_t d) { return suffix + d * stripSamples; };
        // Block by block of s outputs: output i takes positions i .. i + s - 1, the suffix of its
        // block from i on and the prefix of the next block up to i + s - 1.
        for (std::ptrdiff_t start = 0; start < outputs; start += s) {
            const std::ptrdiff_t last = std::min(start + s - 1, length - 1);
            std::memcpy(suffixRow(last - start), row(last), rowSize);
            for (std::ptrdiff_t t = last - 1; t >= start; --t)
                combine<Op>(suffixRow(t - start), row(t), suffixRow(t + 1 - start), w);
            std::memcpy(output(start), suffix, rowSize);
            std::fill(prefix, prefix + 4 * w, Op::kIdentity);
            for (std::ptrdiff_t d = 1; d < s && start + d < outputs; ++d) {
                combine<Op>(prefix, prefix, row(start + s - 1 + d), w);
                combine<Op>(output(start + d), suffixRow(d), prefix, w);
            }
        }
    }
}

void check(const Quelt_Minimax& f) {
    static constexpr const char* kWhere = "Quelt_Minimax";
    if (f.windowWidth < 1 || f.windowHeight < 1 || f.windowWidth > kMaxWindow ||
        f.windowHeight > kMaxWindow)
        kernelFailure(kWhere, "window sizes must lie between 1 and 1048576.");
    if (!f.limits || !f.area) kernelFailure(kWhere, "the limits and the area must be given.");
    const SpanRect& a = *f.area;
    const SpanRect& l = *f.limits;
    if (a.empty()) return;
    if (a.x0 < l.x0 || a.x1 > l.x1 || a.y0 < l.y0 || a.y1 > l.y1)
        kernelFailure(kWhere, "the area must lie inside the limits.");
    if (l.x1 - l.x0 >= kMaxSide || l.y1 - l.y0 >= kMaxSide)
        kernelFailure(kWhere, "the limits are too large.");
    if (!f.source || !f.destination || !f.scratch)
        kernelFailure(kWhere, "the source, destination and scratch images must be given.");
    if (f.scratch == f.source || f.scratch == f.destination)
        kernelFailure(kWhere, "the scratch image must be a third image.");
}

template <class Op>
void run(const Quelt_Minimax& f) {
    check(f);
    if (f.area->empty()) return;
    Passes p;
    p.filter = &f;
    p.area = *f.area;
    p.limits = *f.limits;
    p.reachBeforeX = f.windowWidth / 2;
    p.reachAfterX = f.windowWidth - 1 - p.reachBeforeX;
    p.reachBeforeY = f.windowHeight / 2;
    p.reachAfterY = f.windowHeight - 1 - p.reachBeforeY;
    p.scratchRowBytes = f.scratchRowBytes != 0
                            ? f.scratchRowBytes
                            : std::min(std::abs(f.sourceRowBytes), std::abs(f.destinationRowBytes));
    // Every scratch row the vertical pass reads, so none is read unwritten.
    p.scratchY0 = std::max(p.area.y0 - p.reachBeforeY, p.limits.y0);
    p.scratchY1 = std::min(p.area.y1 + p.reachAfterY, p.limits.y1);

    Mav::Host::System::Thread runner;
    BoundTask rowsTask{&p, horizontalBand<Op>};
    runner.thread(runBoundTask, &rowsTask, f.environment.bandCount);
    BoundTask columnsTask{&p, verticalBand<Op>};
    runner.thread(runBoundTask, &columnsTask, f.environment.bandCount);
}

}  // namespace

void Quelt_Minimax::apply(const Quelt_Minimax& filter) { run<MinOp>(filter); }

void Quelt_Minimax::applyMax(const Quelt_Minimax& filter) { run<MaxOp>(filter); }

}  // namespace vantrelo
