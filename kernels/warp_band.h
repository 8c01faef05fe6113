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

// An edge walker: its current edge (start and end corner numbers) and its position on the current
// row, with the per-row increments.
struct Walker {
    int start = 0;
    int end = 0;
    float x = 0;
    float u = 0;
    float v = 0;
    float dx = 0;
    float du = 0;
    float dv = 0;
};

// v held to [lo, hi] in floating point before any conversion; NaN gives lo.
inline float clampToFrame(float v, float lo, float hi) {
    v = v > lo ? v : lo;
    return v < hi ? v : hi;
}

inline int cornerMod4(int c) { return ((c % 4) + 4) % 4; }

inline void setEdge(Walker& w, const Vertex* corners, int start, int end) {
    w.start = start;
    w.end = end;
    const Vertex& s = corners[start];
    const Vertex& e = corners[end];
    if (s.y == e.y) {
        w.dx = w.du = w.dv = 0.0f;
        return;
    }
    const float dy = s.y - e.y;
    w.dx = (s.x - e.x) / dy;
    w.du = static_cast<float>(s.sx - e.sx) / dy;
    w.dv = static_cast<float>(s.sy - e.sy) / dy;
}

// The walker's position on row p, stepped from its start vertex.
inline void stepFromStart(Walker& w, const Vertex* corners, float p) {
    const Vertex& s = corners[w.start];
    const float g = p - s.y;
    w.x = s.x + w.dx * g;
    w.u = static_cast<float>(s.sx) + w.du * g;
    w.v = static_cast<float>(s.sy) + w.dv * g;
}

// Moves the walker onto the edges that row p has reached.  It keeps its edge when it has come
// round to where it started, when the next vertex lies above the row, or when the outline turns
// upward (the bottom vertex).  At most three edges are taken, so the loop ends.
inline void advance(Walker& w, const Vertex* corners, float p) {
    if (!(p >= corners[w.end].y)) return;
    const int first = w.start;
    for (;;) {
        const int e = w.end;
        const int n = cornerMod4(2 * e - w.start);
        if (e == first || p > corners[n].y || corners[e].y > corners[n].y) return;
        setEdge(w, corners, e, n);
        stepFromStart(w, corners, p);
        if (!(p >= corners[n].y)) return;
    }
}

inline void addIncrements(Walker& w) {
    w.x += w.dx;
    w.u += w.du;
    w.v += w.dv;
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

    // Every integer conversion below works on values first held to the destination's frame plus
    // one pixel, so huge or infinite coordinates neither overflow nor make the warp visit rows
    // outside the frame.
    const float frameX0 = static_cast<float>(db.x0) - 1.0f,
                frameX1 = static_cast<float>(db.x1) + 1.0f;
    const float frameY0 = static_cast<float>(db.y0) - 1.0f,
                frameY1 = static_cast<float>(db.y1) + 1.0f;
    auto r = static_cast<std::ptrdiff_t>(std::ceil(clampToFrame(corners[top].y, frameY0, frameY1)));
    {
        const float f = static_cast<float>(r) - corners[top].y;
        for (Walker* w : {&left, &right}) {
            w->x = corners[top].x + w->dx * f;
            w->u = static_cast<float>(corners[top].sx) + w->du * f;
            w->v = static_cast<float>(corners[top].sy) + w->dv * f;
        }
    }
    // Rows above the band are stepped exactly as the band above would draw them, one increment per
    // row, so every band starts its first row with the values a single band would have there and
    // the result does not depend on the band count.
    for (; r < b0; ++r) {
        const float p = static_cast<float>(r);
        advance(left, corners, p);
        advance(right, corners, p);
        addIncrements(left);
        addIncrements(right);
    }

    // The sampling range and the 2 x 2 block: a source one pixel wide (high) takes its one column
    // (row) as both columns (rows) of the block, over [x0, x0 + 1].
    const std::int64_t lastBlockX = sb.x1 - 2 > sb.x0 ? sb.x1 - 2 : sb.x0;
    const std::int64_t lastBlockY = sb.y1 - 2 > sb.y0 ? sb.y1 - 2 : sb.y0;
    const float uLow = static_cast<float>(sb.x0);
    const float vLow = static_cast<float>(sb.y0);
    const float uHigh = static_cast<float>(lastBlockX + 1);
    const float vHigh = static_cast<float>(lastBlockY + 1);
    const std::ptrdiff_t pixelBytes = kSourcePixel * std::ptrdiff_t{sizeof(S)};
    const std::ptrdiff_t nextColumn = sb.width() > 1 ? pixelBytes : 0;
    const std::ptrdiff_t nextRow = sb.height() > 1 ? source.rowBytes : 0;
    const std::uint8_t* const sourceFirst = source.firstPixel;

    for (; r < b1; ++r) {
        const float p = static_cast<float>(r);
        advance(left, corners, p);
        advance(right, corners, p);
        if (left.x != right.x) {
            const float width = right.x - left.x;
            const float dudx = (right.u - left.u) / width;
            const float dvdx = (right.v - left.v) / width;
            std::ptrdiff_t k0 =
                static_cast<std::ptrdiff_t>(std::ceil(clampToFrame(left.x, frameX0, frameX1)));
            std::ptrdiff_t k1 =
                static_cast<std::ptrdiff_t>(std::trunc(clampToFrame(right.x, frameX0, frameX1)));
            if (k0 < db.x0) k0 = db.x0;
            if (k1 > db.x1) k1 = db.x1;
            if (k0 < k1) {
                float u = left.u + (static_cast<float>(k0) - left.x) * dudx;
                float v = left.v + (static_cast<float>(k0) - left.x) * dvdx;
                D* d = reinterpret_cast<D*>(destination.pixelAddress(static_cast<std::int32_t>(k0),
                                                                     static_cast<std::int32_t>(r)));
                for (std::ptrdiff_t k = k0; k < k1; ++k, d += DC, u += dudx, v += dvdx) {
                    // The range test also turns NaN away, and leaves u and v small enough for the
                    // conversions below.
                    if (!(u >= uLow && u <= uHigh && v >= vLow && v <= vHigh)) continue;
                    std::int64_t sx = static_cast<std::int64_t>(u);
                    sx -= static_cast<float>(sx) > u;  // floor
                    std::int64_t sy = static_cast<std::int64_t>(v);
                    sy -= static_cast<float>(sy) > v;
                    if (sx > lastBlockX) sx = lastBlockX;
                    if (sy > lastBlockY) sy = lastBlockY;
                    const float fx = u - static_cast<float>(sx);
                    const float fy = v - static_cast<float>(sy);
                    const std::uint8_t* p00 =
                        sourceFirst + (sy - sb.y0) * source.rowBytes + (sx - sb.x0) * pixelBytes;
                    const std::uint8_t* p01 = p00 + nextRow;
                    Variant::template sample<DC>(d, reinterpret_cast<const S*>(p00),
                                                 reinterpret_cast<const S*>(p00 + nextColumn),
                                                 reinterpret_cast<const S*>(p01),
                                                 reinterpret_cast<const S*>(p01 + nextColumn),
                                                 (1.0f - fy) * (1.0f - fx), (1.0f - fy) * fx,
                                                 fy * (1.0f - fx), fy * fx);
                }
            }
        }
        addIncrements(left);
        addIncrements(right);
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
