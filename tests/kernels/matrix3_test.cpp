#include "kernels/matrix3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantrelo {
namespace {

Matrix3 make(std::array<double, 9> m) {
    Matrix3 r;
    r.m = m;
    return r;
}

void apply(const Matrix3& t, double x, double y, double& ox, double& oy) {
    const double w = t.at(2, 0) * x + t.at(2, 1) * y + t.at(2, 2);
    ox = (t.at(0, 0) * x + t.at(0, 1) * y + t.at(0, 2)) / w;
    oy = (t.at(1, 0) * x + t.at(1, 1) * y + t.at(1, 2)) / w;
}

TEST(Matrix3, ProductAppliesTheFirstOperandFirst) {
    Matrix3 shift;
    shift.at(0, 2) = 1;
    double x, y;
    apply(multiplyMatrix3(shift, rotationMatrix(M_PI / 2)), 0, 0, x, y);
    EXPECT_NEAR(x, 0.0, 1e-15);
    EXPECT_NEAR(y, -1.0, 1e-15);
    // Hand-computed product of two general matrices: b . a.
    const Matrix3 a = make({1, 2, 3, 4, 5, 6, 7, 8, 10});
    const Matrix3 b = make({2, 0, 1, -1, 3, 0, 0, 1, 1});
    EXPECT_EQ(multiplyMatrix3(a, b), make({9, 12, 16, 11, 13, 15, 11, 13, 16}));
}

TEST(Matrix3, PremultiplyMayTakeTheSameMatrixTwice) {
    Matrix3 a = make({1, 2, 0, 3, 4, 0, 0, 0, 1});
    premultiplyMatrix3(a, a);
    EXPECT_EQ(a, make({7, 10, 0, 15, 22, 0, 0, 0, 1}));
}

TEST(Matrix3, InverseOfRotationWithTranslationIsTheOppositeRotation) {
    const double angle = 0.7;
    Matrix3 m = rotationMatrix(angle);
    m.at(0, 2) = 12.5;
    m.at(1, 2) = -3.25;
    const Matrix3 inv = invertMatrix3(m);
    const Matrix3 back = rotationMatrix(-angle);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_NEAR(inv.at(r, c), back.at(r, c), 1e-15);
    // -(R^-1 t)
    EXPECT_NEAR(inv.at(0, 2), -(back.at(0, 0) * 12.5 + back.at(0, 1) * -3.25), 1e-13);
    EXPECT_NEAR(inv.at(1, 2), -(back.at(1, 0) * 12.5 + back.at(1, 1) * -3.25), 1e-13);
    EXPECT_EQ(inv.at(2, 0), 0.0);
    EXPECT_EQ(inv.at(2, 2), 1.0);
}

TEST(Matrix3, InverseOfProjectiveMatrixUndoesIt) {
    const Matrix3 m = make({1.5, 0.2, 30, -0.1, 0.9, 12, 0.001, -0.002, 1.5});
    const Matrix3 p = multiplyMatrix3(m, invertMatrix3(m));
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p.at(r, c), r == c ? 1.0 : 0.0, 1e-12);
    // The general path divides by the determinant: m^-1 of diag(2, 4, 0.5) is diag(0.5, 0.25, 2).
    EXPECT_EQ(invertMatrix3(make({2, 0, 0, 0, 4, 0, 0, 0, 0.5})), make({0.5, 0, 0, 0, 0.25, 0, 0, 0, 2}));
}

TEST(Matrix3, TinyDeterminantInvertsWhileNoElementOverflows) {
    const Matrix3 inv = invertMatrix3(make({1e-10, 0, 0, 0, 1e-10, 0, 0, 0, 1}));
    EXPECT_DOUBLE_EQ(inv.at(0, 0), 1e10);
    EXPECT_DOUBLE_EQ(inv.at(1, 1), 1e10);
    EXPECT_EQ(inv.at(0, 1), 0.0);
}

TEST(Matrix3, SingularOrNaNMatricesInvertToIdentity) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Matrix3 cases[] = {
        make({0, 0, 0, 0, 0, 0, 0, 0, 0}),
        make({0, 0, 0, 0, 2, 0, 0, 0, 1}),
        make({nan, 0, 0, 0, 1, 0, 0, 0, 1}),
        make({1, 0, 0, 0, 1, 0, 0, nan, 1}),
        make({1, 2, 0, 2, 4, 0, 0, 0, 1.5}),
        // The inverse's 1e310 would overflow.
        make({1, 0, 0, 0, 1e-310, 0, 0, 0, 1}),
    };
    for (const Matrix3& m : cases) EXPECT_TRUE(invertMatrix3(m).isIdentity());
    // A NaN only in the translation passes into the result's translation (NaN times 0 is NaN, so
    // into both of its elements) while the linear part inverts.
    const Matrix3 inv = invertMatrix3(make({2, 0, nan, 0, 4, 1, 0, 0, 1}));
    EXPECT_EQ(inv.at(0, 0), 0.5);
    EXPECT_EQ(inv.at(1, 1), 0.25);
    EXPECT_TRUE(std::isnan(inv.at(0, 2)));
    EXPECT_TRUE(std::isnan(inv.at(1, 2)));
}

TEST(Matrix3, IdentityTestIsExact) {
    EXPECT_TRUE(Matrix3{}.isIdentity());
    EXPECT_TRUE(invertMatrix3(Matrix3{}).isIdentity());
    Matrix3 m;
    m.at(0, 1) = 1e-300;
    EXPECT_FALSE(m.isIdentity());
    m = Matrix3{};
    m.at(2, 2) = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(m.isIdentity());
}

}  // namespace
}  // namespace vantrelo
