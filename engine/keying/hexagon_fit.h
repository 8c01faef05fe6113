#pragma once
// A height surface over a hexagon in the hexagon keyer's two chroma coordinates: seven points (the
// centre and six vertices), each with a value in 0..1, and the six flat triangles between the centre
// and neighbouring vertices.  The keyer's tools load one value group into a Hexagon, grow or shrink
// the surface through each sample point, and write the seven values back.
//
// The hexagon is not regular: its vertices are (1, 0), (0.5, 1), (-0.5, 1), (-1, 0), (-0.5, -1),
// (0.5, -1), so that they match the keyer's sector corners.  Triangle m (0..5) is (centre, point m+1,
// point m+2), point 7 meaning point 1.

#include <cstdint>

namespace vantrelo {

class Hexagon {
public:
    struct Point {
        double x;
        double y;
        double value;
    };

    Hexagon();
    virtual ~Hexagon() = default;

    // Loads a value, limited to 0..1 (NaN gives 0), and commits every pending value.  k outside 0..6
    // stores nothing but still commits.
    void setValue(std::int32_t k, double v);
    // A candidate value, not limited; flags the triangles touching k.  k outside 0..6 is ignored.
    void setPending(std::int32_t k, double v);
    void saveValues();     // pending := values
    void restoreValues();  // values := pending
    // 0 (and a zero record) for k outside 0..6.
    double valueAt(std::int32_t k) const;
    Point vertexAt(std::int32_t k) const;

    // Volume under one triangle of area 0.5 with corner heights a, b, c.  The factor is the decimal
    // 0.33333333 the fit was tuned with, not 1/3.
    static double triangleVolume(double a, double b, double c);
    // |sum over flagged triangles of (volume of pending values - volume of current values)|.
    double volumeChange() const;
    // Minus the x and y slope of the flat over triangle m with value a at the centre, b at point m+1
    // and c at point m+2.  m outside 0..5 gives (0, 0).
    void flatSlope(std::int32_t m, double a, double b, double c, double* s1, double* s2) const;
    // Moves the surface through (x, y, z): mode 0 grows (only raises a surface below the point), 1
    // shrinks (only lowers one above it); the flat through the point that changes the volume least is
    // found by 500 finite-difference iterations.  Other modes change nothing.
    void fit(double x, double y, double z, std::int32_t mode);
    void grow(double x, double y, double z) { fit(x, y, z, 0); }
    void shrink(double x, double y, double z) { fit(x, y, z, 1); }

    Point points[7];
    double pending[7];
    std::uint8_t dirty;

private:
    static std::uint8_t trianglesTouching(std::int32_t k);
    void commit();
};

}  // namespace vantrelo
