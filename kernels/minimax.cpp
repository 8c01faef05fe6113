#include "kernels/minimax.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/system/aligned_buffer.h"
#include "host/system/thread.h"
#include "kernels/band_job.h"
#include "kernels/kernel_checks.h"

namespace vantrelo {

namespace {

// One RGBA pixel, and two, as vectors of 16-bit channels: aligned(2) because image rows promise no
// more, may_alias because they are read from and written to plain 16-bit channel arrays.
typedef std::uint16_t Pixel __attribute__((vector_size(8), aligned(2), may_alias));
typedef std::uint16_t PixelPair __attribute__((vector_size(16), aligned(2), may_alias));

struct MinOp {
    static constexpr std::uint16_t kIdentity = 65535;  // leaves every minimum unchanged
    template <class V>
    static V op(V a, V b) {
        return a < b ? a : b;
    }
};

struct MaxOp {
    static constexpr std::uint16_t kIdentity = 0;
    template <class V>
    static V op(V a, V b) {
        return a > b ? a : b;
    }
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

inline const Pixel* pixelAt(const void* base, std::ptrdiff_t rowBytes, std::int64_t x,
                            std::int64_t y) {
    return reinterpret_cast<const Pixel*>(static_cast<const std::uint8_t*>(base) + y * rowBytes +
                                          x * kPixelBytes);
}

inline Pixel* pixelAt(void* base, std::ptrdiff_t rowBytes, std::int64_t x, std::int64_t y) {
    return reinterpret_cast<Pixel*>(static_cast<std::uint8_t*>(base) + y * rowBytes +
                                    x * kPixelBytes);
}

template <class Op>
constexpr Pixel identityPixel() {
    return Pixel{Op::kIdentity, Op::kIdentity, Op::kIdentity, Op::kIdentity};
}

// out[i] = op(a[i], b[i]) over `count` pixels, two at a time; out may be a or b.
template <class Op>
inline void combine(Pixel* out, const Pixel* a, const Pixel* b, std::ptrdiff_t count) {
    std::ptrdiff_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const PixelPair pa = *reinterpret_cast<const PixelPair*>(a + i);
        const PixelPair pb = *reinterpret_cast<const PixelPair*>(b + i);
        *reinterpret_cast<PixelPair*>(out + i) = Op::op(pa, pb);
    }
    if (i < count) out[i] = Op::op(a[i], b[i]);
}

// Running extremes of a padded line t of `length` pixels over windows of s: out[i] is the extreme
// of t[i .. i + s - 1] for i < count (count + s - 1 = length).  Within each block of s pixels the
// prefix extremes (forward) and suffix extremes (backward) are kept; a window spans the end of
// one block and the start of the next, so it is one suffix combined with one prefix.
template <class Op>
void runningLine(const Pixel* t, Pixel* prefix, Pixel* suffix, std::ptrdiff_t length,
                 std::ptrdiff_t s, Pixel* out, std::ptrdiff_t count) {
    for (std::ptrdiff_t start = 0; start < length; start += s) {
        const std::ptrdiff_t end = std::min(start + s, length);
        prefix[start] = t[start];
        for (std::ptrdiff_t j = start + 1; j < end; ++j) prefix[j] = Op::op(prefix[j - 1], t[j]);
        suffix[end - 1] = t[end - 1];
        for (std::ptrdiff_t j = end - 2; j >= start; --j) suffix[j] = Op::op(suffix[j + 1], t[j]);
    }
    for (std::ptrdiff_t i = 0; i < count; ++i) out[i] = Op::op(suffix[i], prefix[i + s - 1]);
}

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
    buffer.resize(static_cast<std::uint64_t>(3 * length * kPixelBytes));
    Pixel* line = reinterpret_cast<Pixel*>(buffer.pointer());
    Pixel* prefix = line + length;
    Pixel* suffix = prefix + length;

    // Line position i holds source column area.x0 - a + i; positions outside the limits keep the
    // operation's identity, which leaves them out of every extreme.
    const std::int64_t firstColumn = p.area.x0 - p.reachBeforeX;
    const std::ptrdiff_t inside0 = std::max<std::int64_t>(0, p.limits.x0 - firstColumn);
    const std::ptrdiff_t inside1 = std::min<std::int64_t>(length, p.limits.x1 - firstColumn);
    std::fill(line, line + length, identityPixel<Op>());
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y) {
        std::memcpy(line + inside0, pixelAt(f.source, f.sourceRowBytes, firstColumn + inside0, y),
                    static_cast<std::size_t>((inside1 - inside0) * kPixelBytes));
        runningLine<Op>(line, prefix, suffix, length, s,
                        pixelAt(f.scratch, p.scratchRowBytes, p.area.x0, y), width);
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
    Mav::Host::System::AlignedBuffer buffer;
    buffer.resize(static_cast<std::uint64_t>((s + 2) * strip * kPixelBytes));
    Pixel* suffix = reinterpret_cast<Pixel*>(buffer.pointer());
    Pixel* prefix = suffix + s * strip;
    Pixel* outside = prefix + strip;
    std::fill(outside, outside + strip, identityPixel<Op>());

    for (std::int64_t x = p.area.x0; x < p.area.x1; x += strip) {
        const std::ptrdiff_t w = std::min<std::int64_t>(strip, p.area.x1 - x);
        auto row = [&](std::ptrdiff_t position) -> const Pixel* {
            const std::int64_t y = firstRow + position;
            if (y < p.limits.y0 || y >= p.limits.y1) return outside;
            return pixelAt(f.scratch, p.scratchRowBytes, x, y);
        };
        auto output = [&](std::ptrdiff_t i) {
            return pixelAt(f.destination, f.destinationRowBytes, x, rows.begin + i);
        };
        // Block by block of s outputs: output i takes positions i .. i + s - 1, the suffix of its
        // block from i on and the prefix of the next block up to i + s - 1.
        for (std::ptrdiff_t start = 0; start < outputs; start += s) {
            const std::ptrdiff_t last = std::min(start + s - 1, length - 1);
            std::memcpy(suffix + (last - start) * strip, row(last),
                        static_cast<std::size_t>(w * kPixelBytes));
            for (std::ptrdiff_t t = last - 1; t >= start; --t)
                combine<Op>(suffix + (t - start) * strip, row(t), suffix + (t + 1 - start) * strip,
                            w);
            std::memcpy(output(start), suffix, static_cast<std::size_t>(w * kPixelBytes));
            std::fill(prefix, prefix + w, identityPixel<Op>());
            for (std::ptrdiff_t d = 1; d < s && start + d < outputs; ++d) {
                combine<Op>(prefix, prefix, row(start + s - 1 + d), w);
                combine<Op>(output(start + d), suffix + d * strip, prefix, w);
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
