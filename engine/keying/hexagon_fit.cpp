#include "engine/keying/hexagon_fit.h"

#include <cmath>
#include <utility>

namespace vantrelo {

namespace {

constexpr Hexagon::Point kPoints[7] = {{0.0, 0.0, 0.0},  {1.0, 0.0, 0.0},   {0.5, 1.0, 0.0},  {-0.5, 1.0, 0.0},
                                       {-1.0, 0.0, 0.0}, {-0.5, -1.0, 0.0}, {0.5, -1.0, 0.0}};

bool validPoint(std::int32_t k) { return static_cast<std::uint32_t>(k) <= 6u; }

// Second and third corner of triangle m.
int cornerA(int m) { return m + 1; }
int cornerB(int m) { return m + 2 == 7 ? 1 : m + 2; }

double limitUnit(double v) {
    if (!(v > 0.0)) return 0.0;  // also NaN
    return v > 1.0 ? 1.0 : v;
}

}  // namespace

Hexagon::Hexagon() : dirty(0) {
    for (int k = 0; k < 7; ++k) {
        points[k] = kPoints[k];
        pending[k] = 0.0;
    }
}

std::uint8_t Hexagon::trianglesTouching(std::int32_t k) {
    if (k == 0) return 63;
    if (k == 1) return (1u << 0) | (1u << 5);
    if (k >= 2 && k <= 6) return static_cast<std::uint8_t>((1u << (k - 2)) | (1u << (k - 1)));
    return 0;
}

void Hexagon::commit() {
    dirty = 0;
    for (int k = 0; k < 7; ++k) points[k].value = pending[k];
}

void Hexagon::setValue(std::int32_t k, double v) {
    v = limitUnit(v);
    if (validPoint(k)) {
        pending[k] = v;
        dirty |= trianglesTouching(k);
    }
    commit();
}

void Hexagon::setPending(std::int32_t k, double v) {
    if (!validPoint(k)) return;
    pending[k] = v;
    if (k == 0)
        dirty = 63;
    else
        dirty |= trianglesTouching(k);
}

void Hexagon::saveValues() {
    dirty = 0;
    for (int k = 0; k < 7; ++k) pending[k] = points[k].value;
}

void Hexagon::restoreValues() { commit(); }

double Hexagon::valueAt(std::int32_t k) const { return validPoint(k) ? points[k].value : 0.0; }

Hexagon::Point Hexagon::vertexAt(std::int32_t k) const { return validPoint(k) ? points[k] : Point{0.0, 0.0, 0.0}; }

double Hexagon::triangleVolume(double a, double b, double c) {
    // Sorting network; a NaN just ends up somewhere and propagates.
    if (b < a) std::swap(a, b);
    if (c < b) std::swap(b, c);
    if (b < a) std::swap(a, b);
    const double lo = a, mid = b, hi = c;
    const double d = hi - lo;
    if (d > 0.0) return 0.5 * (((mid - lo) / d + 1.0) * d * 0.33333333 + lo);
    return 0.5 * lo;
}

double Hexagon::volumeChange() const {
    double sum = 0.0;
    for (int m = 0; m < 6; ++m) {
        if (!(dirty & (1u << m))) continue;
        const int j = cornerA(m), k = cornerB(m);
        sum += triangleVolume(pending[0], pending[j], pending[k]) -
               triangleVolume(points[0].value, points[j].value, points[k].value);
    }
    return std::fabs(sum);
}

void Hexagon::flatSlope(std::int32_t m, double a, double b, double c, double* s1, double* s2) const {
    if (static_cast<std::uint32_t>(m) > 5u) {
        *s1 = 0.0;
        *s2 = 0.0;
        return;
    }
    const int j = cornerA(m), k = cornerB(m);
    const double djx = points[j].x - points[0].x, djy = points[j].y - points[0].y;
    const double dkx = points[k].x - points[0].x, dky = points[k].y - points[0].y;
    const double det = dky * djx - dkx * djy;
    *s1 = ((c - a) * djy - dky * (b - a)) / det;
    *s2 = (dkx * (b - a) - (c - a) * djx) / det;
}

void Hexagon::fit(double x, double y, double z, std::int32_t mode) {
    if (mode != 0 && mode != 1) return;
    const bool growing = mode == 0;
    int m;
    if (y > 0.0)
        m = y < 2.0 * x ? 0 : (y > -2.0 * x ? 1 : 2);
    else
        m = y > 2.0 * x ? 3 : (y < -2.0 * x ? 4 : 5);
    const int ia = cornerA(m), ib = cornerB(m);
    const Point& c0 = points[0];
    const Point& pa = points[ia];
    const Point& pb = points[ib];

    double s1 = 0.0, s2 = 0.0;
    flatSlope(m, c0.value, pa.value, pb.value, &s1, &s2);
    const double height = c0.value - (s1 * (x - c0.x) + s2 * (y - c0.y));
    const double l = height - z;
    if ((-0.001 < l && l < 0.001) || (growing && l > 0.0) || (!growing && l <= 0.0)) return;

    s1 = 0.0;
    s2 = 0.0;
    double f = 0.0, fa = 0.0, fb = 0.0;
    // Pending values of the centre and the two corners for the flat through (x, y, z) with slopes
    // -p1, -p2; the other four points keep pending = value throughout.
    auto probe = [&](double p1, double p2) {
        pending[0] = z - (p1 * (c0.x - x) + p2 * (c0.y - y));
        dirty = 63;
        setPending(ia, z - (p1 * (pa.x - x) + p2 * (pa.y - y)));
        setPending(ib, z - (p1 * (pb.x - x) + p2 * (pb.y - y)));
        return volumeChange();
    };
    for (int iteration = 0; iteration < 500; ++iteration) {
        f = z - ((c0.x - x) * s1 + (c0.y - y) * s2);
        fa = z - ((pa.x - x) * s1 + (pa.y - y) * s2);
        fb = z - ((pb.x - x) * s1 + (pb.y - y) * s2);
        const bool inside = f >= 0.0 && f <= 1.0 && fa >= 0.0 && fa <= 1.0 && fb >= 0.0 && fb <= 1.0;
        if (inside) {
            // Points may only move in the tool's direction.
            if (growing) {
                f = std::fmax(f, c0.value);
                fa = std::fmax(fa, pa.value);
                fb = std::fmax(fb, pb.value);
            } else {
                f = std::fmin(f, c0.value);
                fa = std::fmin(fa, pa.value);
                fb = std::fmin(fb, pb.value);
            }
            double t1 = 0.0, t2 = 0.0;
            flatSlope(m, f, fa, fb, &t1, &t2);
            const double v1 = probe(t1 - 0.017, t2);
            const double v2 = probe(t1 + 0.017, t2);
            const double v3 = probe(t1, t2 - 0.017);
            const double v4 = probe(t1, t2 + 0.017);
            s1 = t1 + (v1 - v2);
            s2 = t2 + (v3 - v4);
        } else {
            f = limitUnit(f);
            fa = limitUnit(fa);
            fb = limitUnit(fb);
            flatSlope(m, f, fa, fb, &s1, &s2);
        }
    }
    setPending(0, f);
    setPending(ia, fa);
    setPending(ib, fb);
    commit();
}

}  // namespace vantrelo
