#pragma once
// The one band routine behind the twelve warp variants (kernels/warp.h describes the geometry).
// Included by the three files that instantiate it, once per destination depth.
//
// A variant supplies:
//   using Destination, Source                 channel types
//   static constexpr int kSourceChannels      3 or 4: the distance from p00 to p10 in channels
//   template <int DC> static void identity(Destination* d, const Source* s)
//   template <int DC> static void sample(Destination* d, const Source* p00, const Source* p10,
//                                        const Source* p01, const Source* p11,
//                                        float w00, float w10, float w01, float w11)
// where DC is the destination's channel count, 3 or 4, chosen once per band.
//
// Why positions are formed, not stepped: a walker that adds single-precision increments row after
// row, and a span that adds them pixel after pixel, carry a rounding error that depends on where
// the walk began.  A tile or band that begins inside the outline then samples the source up to a
// few hundredths of a pixel away from where the whole image does (891 units of 16 bits on a
// 1300-pixel scene turned by 3 degrees) and draws a different pixel along the outline.  Here every
// row's edge positions and every pixel's source point are formed in double precision from the row
// and column numbers and the current edge's start vertex, so they are the same whatever the band
// or tile, and the edge a walker is on at a row is found from the rows its vertices lie on, not
// from the rows the band happened to visit.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/warp.h"

namespace vantrelo::warp_detail {

// One projected corner of the source outline.
struct Vertex {
    float x = 0;  // destination
    float y = 0;
    std::int64_t sx = 0;  // source corner
    std::int64_t sy = 0;
};

// An edge walker: its current edge (start and end corner numbers), the per-row slopes of the
// destination x and the source point along it, and how far its walk round the outline has got.
struct Walker {
    int start = 0;
    int end = 0;
    double dx = 0;
    double du = 0;
    double dv = 0;
    double nextRow = 0;   // the first row at which the walker may take another edge
    int edgesTaken = 0;   // bounds the walk on outlines that are flat or degenerate
    bool settled = false; // keeps its edge for every later row
};

// A walk round four corners takes at most a few edges; an outline whose corners all lie on one
// row could otherwise go round forever on a row far beyond double precision's integers.
constexpr int kMostEdges = 8;

inline int cornerMod4(int c) { return ((c % 4) + 4) % 4; }

inline void setEdge(Walker& w, const Vertex* corners, int start, int end) {
    w.start = start;
    w.end = end;
    const Vertex& s = corners[start];
    const Vertex& e = corners[end];
    if (s.y == e.y) {
        w.dx = w.du = w.dv = 0.0;
        return;
    }
    const double dy = double{s.y} - double{e.y};
    w.dx = (double{s.x} - double{e.x}) / dy;
    w.du = static_cast<double>(s.sx - e.sx) / dy;
    w.dv = static_cast<double>(s.sy - e.sy) / dy;
}

// The walker's destination x and source point on row p.
struct EdgePoint {
    double x, u, v;
};
inline EdgePoint pointOnRow(const Walker& w, const Vertex* corners, double p) {
    const Vertex& s = corners[w.start];
    const double g = p - double{s.y};
    return {double{s.x} + w.dx * g, static_cast<double>(s.sx) + w.du * g,
            static_cast<double>(s.sy) + w.dv * g};
}

// Moves the walker onto the edges that row p has reached; true when it took one.  It keeps its
// edge when it has come round to where it started, when the next vertex lies above the row, or
// when the outline turns upward (the bottom vertex).  At most three edges are taken.
inline bool takeEdges(Walker& w, const Vertex* corners, double p) {
    if (!(p >= corners[w.end].y)) return false;
    const int first = w.start;
    bool taken = false;
    for (;;) {
        const int e = w.end;
        const int n = cornerMod4(2 * e - w.start);
        if (e == first || p > corners[n].y || corners[e].y > corners[n].y) return taken;
        setEdge(w, corners, e, n);
        taken = true;
        if (!(p >= corners[n].y)) return taken;
    }
}

// Brings the walker onto the edge it has on `row` when it is walked one row at a time from the
// outline's top: the edges change only on the first row at or below each end vertex, so those
// rows are visited and the rest skipped.  A walker that keeps its edge on such a row keeps it on
// every later one (the next vertex stays above the row, or the outline turns upward there).
inline void catchUp(Walker& w, const Vertex* corners, double row) {
    while (!w.settled) {
        const double p = std::max(w.nextRow, std::ceil(double{corners[w.end].y}));
        if (!(p <= row)) return;
        if (!takeEdges(w, corners, p) || ++w.edgesTaken >= kMostEdges) {
            w.settled = true;
            return;
        }
        w.nextRow = p + 1.0;
    }
}

// Projects the source corners; false when the outline is no convex quadrilateral that can be
// drawn (a corner at w = 0, w of mixed signs, a non-finite corner).
inline bool projectCorners(const Matrix3& m, const Rect& source, Vertex* corners) {
    const std::int64_t cx[4] = {source.x0, source.x1, source.x1, source.x0};
    const std::int64_t cy[4] = {source.y0, source.y0, source.y1, source.y1};
    int positive = 0;
    for (int c = 0; c < 4; ++c) {
        const double x = static_cast<float>(cx[c]);
        const double y = static_cast<float>(cy[c]);
        const float w = static_cast<float>((m.m[6] * x + m.m[7] * y) + m.m[8]);
        const float nx = static_cast<float>((m.m[0] * x + m.m[1] * y) + m.m[2]);
        const float ny = static_cast<float>((m.m[3] * x + m.m[4] * y) + m.m[5]);
        if (!std::isfinite(w) || w == 0.0f) return false;
        positive += w > 0.0f;
        corners[c].x = nx / w;
        corners[c].y = ny / w;
        corners[c].sx = cx[c];
        corners[c].sy = cy[c];
        if (!std::isfinite(corners[c].x) || !std::isfinite(corners[c].y)) return false;
    }
    return positive == 0 || positive == 4;
}

// The corner with the smallest destination y, ties to the smaller x, exact ties to the lower
// corner number (the first of a stable sort by y, then x).
inline int topCorner(const Vertex* corners) {
    int top = 0;
    for (int c = 1; c < 4; ++c) {
        const Vertex& a = corners[c];
        const Vertex& b = corners[top];
        if (a.y < b.y || (a.y == b.y && a.x < b.x)) top = c;
    }
    return top;
}

// Which neighbour of the top corner starts the left edge chain: the one whose edge leaves the top
// further to the left.  Comparing the edges' directions (not the neighbours' x alone) keeps a
// sheared outline, whose two top edges both lean the same way, from getting its chains swapped
// and drawing nothing.  Collinear edges fall back to the smaller x, then to corner top + 1.
inline int leftNeighbour(const Vertex* corners, int top) {
    const int a = cornerMod4(top + 1);
    const int b = cornerMod4(top + 3);
    const Vertex& t = corners[top];
    const double ax = double{corners[a].x} - t.x, ay = double{corners[a].y} - t.y;
    const double bx = double{corners[b].x} - t.x, by = double{corners[b].y} - t.y;
    const double cross = ax * by - bx * ay;
    if (cross < 0.0) return a;
    if (cross > 0.0) return b;
    return corners[a].x <= corners[b].x ? a : b;
}

// What a span needs of the source: the sampling range, the last 2 x 2 block and the addressing.
struct SampleArea {
    double uLow, uHigh, vLow, vHigh;
    std::int64_t x0, y0, lastBlockX, lastBlockY;
    const std::uint8_t* first;
    std::ptrdiff_t rowBytes, pixelBytes, nextColumn, nextRow;
};

// Columns k0 .. k1 - 1 of one row: each pixel's source point formed from its column number, the
// sample test, then the variant's sample operation.  Level: dvdx is 0, so v is the row's l.v.
template <class Variant, int DC, bool Level>
void drawSpan(typename Variant::Destination* d, std::ptrdiff_t k0, std::ptrdiff_t k1,
              const EdgePoint& l, double dudx, double dvdx, const SampleArea& a) {
    using S = typename Variant::Source;
    std::int64_t rowSy = 0;
    float rowFy = 0.0f;
    if constexpr (Level) {
        const double v = l.v;
        if (!(v >= a.vLow && v <= a.vHigh)) return;
        rowSy = static_cast<std::int64_t>(v);
        rowSy -= static_cast<double>(rowSy) > v;
        if (rowSy > a.lastBlockY) rowSy = a.lastBlockY;
        rowFy = static_cast<float>(v - static_cast<double>(rowSy));
    }
    for (std::ptrdiff_t k = k0; k < k1; ++k, d += DC) {
        const double t = static_cast<double>(k) - l.x;
        const double u = l.u + t * dudx;
        std::int64_t sy;
        float fy;
        if constexpr (Level) {
            // The range test also turns NaN away, and leaves u small enough for the conversion.
            if (!(u >= a.uLow && u <= a.uHigh)) continue;
            sy = rowSy;
            fy = rowFy;
        } else {
            const double v = l.v + t * dvdx;
            if (!(u >= a.uLow && u <= a.uHigh && v >= a.vLow && v <= a.vHigh)) continue;
            sy = static_cast<std::int64_t>(v);
            sy -= static_cast<double>(sy) > v;
            if (sy > a.lastBlockY) sy = a.lastBlockY;
            fy = static_cast<float>(v - static_cast<double>(sy));
        }
        std::int64_t sx = static_cast<std::int64_t>(u);
        sx -= static_cast<double>(sx) > u;  // floor
        if (sx > a.lastBlockX) sx = a.lastBlockX;
        const float fx = static_cast<float>(u - static_cast<double>(sx));
        const std::uint8_t* p00 = a.first + (sy - a.y0) * a.rowBytes + (sx - a.x0) * a.pixelBytes;
        const std::uint8_t* p01 = p00 + a.nextRow;
        Variant::template sample<DC>(d, reinterpret_cast<const S*>(p00),
                                     reinterpret_cast<const S*>(p00 + a.nextColumn),
                                     reinterpret_cast<const S*>(p01),
                                     reinterpret_cast<const S*>(p01 + a.nextColumn),
                                     (1.0f - fy) * (1.0f - fx), (1.0f - fy) * fx, fy * (1.0f - fx),
                                     fy * fx);
    }
}

template <class Variant, int DC>
void warpBandChannels(const WarpJob& job, std::uint64_t index, std::uint64_t count,
                      std::uint64_t key) {
    using D = typename Variant::Destination;
    using S = typename Variant::Source;
    const ImageBuffer& source = *job.source;
    ImageBuffer& destination = *job.destination;
    const Rect& sb = source.bounds;
    const Rect& db = destination.bounds;
    if (!source.firstPixel || sb.empty()) return;
    const BandRange band = bandRange(db.y0, db.y1, index, count);
    if (band.empty()) return;
    const std::ptrdiff_t b0 = band.begin, b1 = band.end;
    SystemHost& host = *job.host;
    constexpr std::ptrdiff_t kSourcePixel = Variant::kSourceChannels;  // in channels

    if (job.matrix->isIdentity()) {
        const std::ptrdiff_t y0 = b0 > sb.y0 ? b0 : sb.y0;
        const std::ptrdiff_t y1 = b1 < sb.y1 ? b1 : sb.y1;
        const std::int32_t x0 = db.x0 > sb.x0 ? db.x0 : sb.x0;
        const std::int32_t x1 = db.x1 < sb.x1 ? db.x1 : sb.x1;
        for (std::ptrdiff_t y = y0; y < y1; ++y) {
            if (x0 < x1) {
                const auto row = static_cast<std::int32_t>(y);
                const S* s = reinterpret_cast<const S*>(source.pixelAddress(x0, row));
                D* d = reinterpret_cast<D*>(destination.pixelAddress(x0, row));
                for (std::int32_t x = x0; x < x1; ++x, s += kSourcePixel, d += DC)
                    Variant::template identity<DC>(d, s);
            }
            if (y % 32 == 0) host.tickProgress(key);
        }
        return;
    }

    Vertex corners[4];
    if (!projectCorners(*job.matrix, sb, corners)) return;
    const int top = topCorner(corners);
    const int leftEnd = leftNeighbour(corners, top);
    const int rightEnd = leftEnd == cornerMod4(top + 1) ? cornerMod4(top + 3) : cornerMod4(top + 1);
    Walker left, right;
    setEdge(left, corners, top, leftEnd);
    setEdge(right, corners, top, rightEnd);

    // The rows visited: from the first row at or below the outline's top (none when the band lies
    // wholly above it) to the band's end.  Only in-frame row numbers become integers.
    const double firstRow = std::ceil(double{corners[top].y});
    if (!(firstRow < static_cast<double>(b1))) return;
    left.nextRow = right.nextRow = firstRow;
    std::ptrdiff_t r = firstRow > static_cast<double>(b0) ? static_cast<std::ptrdiff_t>(firstRow) : b0;

    // Span ends are held to the destination's frame plus one pixel in floating point before they
    // become integers, so huge coordinates neither overflow nor cost anything.
    const double frameX0 = static_cast<double>(db.x0) - 1.0;
    const double frameX1 = static_cast<double>(db.x1) + 1.0;

    // The sampling range and the 2 x 2 block: a source one pixel wide (high) takes its one column
    // (row) as both columns (rows) of the block, over [x0, x0 + 1].
    SampleArea area;
    area.lastBlockX = sb.x1 - 2 > sb.x0 ? sb.x1 - 2 : sb.x0;
    area.lastBlockY = sb.y1 - 2 > sb.y0 ? sb.y1 - 2 : sb.y0;
    area.x0 = sb.x0;
    area.y0 = sb.y0;
    area.uLow = static_cast<double>(sb.x0);
    area.vLow = static_cast<double>(sb.y0);
    area.uHigh = static_cast<double>(area.lastBlockX + 1);
    area.vHigh = static_cast<double>(area.lastBlockY + 1);
    area.first = source.firstPixel;
    area.rowBytes = source.rowBytes;
    area.pixelBytes = kSourcePixel * std::ptrdiff_t{sizeof(S)};
    area.nextColumn = sb.width() > 1 ? area.pixelBytes : 0;
    area.nextRow = sb.height() > 1 ? source.rowBytes : 0;

    for (; r < b1; ++r) {
        const double p = static_cast<double>(r);
        catchUp(left, corners, p);
        catchUp(right, corners, p);
        const EdgePoint l = pointOnRow(left, corners, p);
        const EdgePoint h = pointOnRow(right, corners, p);
        if (l.x != h.x) {
            const double width = h.x - l.x;
            const double dudx = (h.u - l.u) / width;
            const double dvdx = (h.v - l.v) / width;
            std::ptrdiff_t k0 =
                static_cast<std::ptrdiff_t>(std::ceil(std::clamp(l.x, frameX0, frameX1)));
            std::ptrdiff_t k1 =
                static_cast<std::ptrdiff_t>(std::trunc(std::clamp(h.x, frameX0, frameX1)));
            if (k0 < db.x0) k0 = db.x0;
            if (k1 > db.x1) k1 = db.x1;
            if (k0 < k1) {
                D* d = reinterpret_cast<D*>(destination.pixelAddress(static_cast<std::int32_t>(k0),
                                                                     static_cast<std::int32_t>(r)));
                // A row along which the source row does not change (any transform without a
                // turn or shear: v has the same value at both ends) takes its source row, the
                // row weights and the row test once; the values are those of the general loop.
                if (dvdx == 0.0)
                    drawSpan<Variant, DC, true>(d, k0, k1, l, dudx, dvdx, area);
                else
                    drawSpan<Variant, DC, false>(d, k0, k1, l, dudx, dvdx, area);
            }
        }
        if (r % 32 == 0) host.tickProgress(key);
    }
}

// The band worker of a variant: the destination's channel count chosen once.
template <class Variant>
void warpBand(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    const WarpJob& warp = *static_cast<const WarpJob*>(job);
    if (warp.destination->channels >= 4)
        warpBandChannels<Variant, 4>(warp, index, count, key);
    else
        warpBandChannels<Variant, 3>(warp, index, count, key);
}

// The launcher of a variant: checks, then every processor of the host.
void checkWarp(const char* where, const ImageBuffer& destination, const ImageBuffer& source,
               int destinationBits, int sourceBits, int sourceChannels);

template <class Variant>
void launchWarp(const char* where, SystemHost& host, ImageBuffer& destination,
                const ImageBuffer& source, const Matrix3& matrix, int destinationBits,
                int sourceBits) {
    checkWarp(where, destination, source, destinationBits, sourceBits, Variant::kSourceChannels);
    if (destination.bounds.empty()) return;
    WarpJob job{&host, &destination, &source, &matrix};
    runBands(host, warpBand<Variant>, &job);
}

}  // namespace vantrelo::warp_detail
