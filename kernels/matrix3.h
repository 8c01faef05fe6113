#pragma once
// 3x3 transforms of the render and the preview.
//
// Nine doubles row by row; m[3r + c] is row r, column c.  A matrix maps column vectors,
// (x', y', w) = M (x, y, 1), and the image point is (x'/w, y'/w).  Pixel (i, j) is the point (i, j),
// no half-pixel offset; a matrix handed to a warp maps source pixels to destination pixels.
// multiplyMatrix3(a, b) is b . a: apply a first, then b.

#include <array>

namespace vantrelo {

struct Matrix3 {
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};

    double& at(int row, int column) { return m[3 * row + column]; }
    double at(int row, int column) const { return m[3 * row + column]; }
    // Exact equality with the identity; a NaN element makes it differ.
    bool isIdentity() const;
    bool operator==(const Matrix3&) const = default;
};

// x' = x cos a + y sin a, y' = -x sin a + y cos a (radians): with rows growing downwards a positive
// angle turns the picture counter-clockwise on the screen.
Matrix3 rotationMatrix(double angle);
// b . a.
Matrix3 multiplyMatrix3(const Matrix3& a, const Matrix3& b);
// a := b . a; a and b may be the same matrix.
void premultiplyMatrix3(Matrix3& a, const Matrix3& b);
// The inverse, or the identity when the matrix is singular or its inverse would overflow.  Callers
// are not told: a singular transform then behaves as none.
Matrix3 invertMatrix3(const Matrix3& a);

}  // namespace vantrelo
