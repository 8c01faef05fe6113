#include "kernels/matrix3.h"

#include <cmath>
#include <limits>

namespace vantrelo {

bool Matrix3::isIdentity() const {
    return *this == Matrix3{};
}

Matrix3 rotationMatrix(double angle) {
    Matrix3 r;
    const double c = std::cos(angle), s = std::sin(angle);
    r.at(0, 0) = c;
    r.at(0, 1) = s;
    r.at(1, 0) = -s;
    r.at(1, 1) = c;
    return r;
}

Matrix3 multiplyMatrix3(const Matrix3& a, const Matrix3& b) {
    Matrix3 p;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            p.at(r, c) = b.at(r, 0) * a.at(0, c) + b.at(r, 1) * a.at(1, c) + b.at(r, 2) * a.at(2, c);
    return p;
}

void premultiplyMatrix3(Matrix3& a, const Matrix3& b) {
    const Matrix3 p = multiplyMatrix3(a, b);
    a = p;
}

namespace {

// Divides the elements in row order as long as none of them would overflow: |d| times 2^1022 is
// the largest magnitude an element may have for element / d to stay finite.  A zero or NaN
// determinant fails at the first element.
bool divideWithoutOverflow(Matrix3& s, double d, const int* elements, int count) {
    if (std::fabs(d) >= 1.0) {
        for (int k = 0; k < count; ++k) s.m[elements[k]] /= d;
        return true;
    }
    const double limit = std::fabs(d) / std::numeric_limits<double>::min();
    for (int k = 0; k < count; ++k) {
        double& e = s.m[elements[k]];
        if (!(limit > std::fabs(e))) return false;
        e /= d;
    }
    return true;
}

}  // namespace

Matrix3 invertMatrix3(const Matrix3& a) {
    Matrix3 s;
    if (a.at(2, 0) == 0 && a.at(2, 1) == 0 && a.at(2, 2) == 1) {
        s.at(0, 0) = a.at(1, 1);
        s.at(0, 1) = -a.at(0, 1);
        s.at(1, 0) = -a.at(1, 0);
        s.at(1, 1) = a.at(0, 0);
        const double d = a.at(0, 0) * a.at(1, 1) - a.at(0, 1) * a.at(1, 0);
        static constexpr int linear[] = {0, 1, 3, 4};
        if (!divideWithoutOverflow(s, d, linear, 4)) return Matrix3{};
        s.at(0, 2) = -(a.at(0, 2) * s.at(0, 0)) - a.at(1, 2) * s.at(0, 1);
        s.at(1, 2) = -(a.at(0, 2) * s.at(1, 0)) - a.at(1, 2) * s.at(1, 1);
        return s;
    }
    const auto& m = a;
    s.at(0, 0) = m.at(1, 1) * m.at(2, 2) - m.at(1, 2) * m.at(2, 1);
    s.at(0, 1) = m.at(0, 2) * m.at(2, 1) - m.at(0, 1) * m.at(2, 2);
    s.at(0, 2) = m.at(0, 1) * m.at(1, 2) - m.at(0, 2) * m.at(1, 1);
    s.at(1, 0) = m.at(1, 2) * m.at(2, 0) - m.at(1, 0) * m.at(2, 2);
    s.at(1, 1) = m.at(0, 0) * m.at(2, 2) - m.at(0, 2) * m.at(2, 0);
    s.at(1, 2) = m.at(0, 2) * m.at(1, 0) - m.at(0, 0) * m.at(1, 2);
    s.at(2, 0) = m.at(1, 0) * m.at(2, 1) - m.at(1, 1) * m.at(2, 0);
    s.at(2, 1) = m.at(0, 1) * m.at(2, 0) - m.at(0, 0) * m.at(2, 1);
    s.at(2, 2) = m.at(0, 0) * m.at(1, 1) - m.at(0, 1) * m.at(1, 0);
    const double d = m.at(0, 0) * s.at(0, 0) + m.at(1, 0) * s.at(0, 1) + m.at(2, 0) * s.at(0, 2);
    static constexpr int all[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    if (!divideWithoutOverflow(s, d, all, 9)) return Matrix3{};
    return s;
}

}  // namespace vantrelo
