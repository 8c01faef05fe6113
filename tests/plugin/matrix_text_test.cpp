// Matrix text of the three layer transforms: the writer's six-digit "%g" numbers, the reader's
// stream rules (partial texts, the missing bracket, the comma that is no separator) and the refusal
// of matrices no layer transform can mean, in the C locale and under a decimal-comma locale.

#include "plugin/matrix_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <string>

#include "../comma_locale.h"

namespace {

using vantrelo::formatMatrixText;
using vantrelo::Matrix3;
using vantrelo::parseMatrixText;

Matrix3 matrixOf(std::array<double, 9> m) {
    Matrix3 result;
    result.m = m;
    return result;
}

TEST(MatrixText, WritesEachElementAsTheDefaultStreamDoes) {
    EXPECT_EQ(formatMatrixText(Matrix3{}), "[ 1 0 0 0 1 0 0 0 1 ]");
    EXPECT_EQ(formatMatrixText(matrixOf({0.123456789, -2.5, 1234567, 0.0001, 0.00001234, 100000,
                                         -0.0, 1e-300, 2.0 / 3.0})),
              "[ 0.123457 -2.5 1.23457e+06 0.0001 1.234e-05 100000 -0 1e-300 0.666667 ]");
}

TEST(MatrixText, ReadsByTheStreamRules) {
    struct Case {
        const char* text;
        bool result;
        std::array<double, 9> m;
    };
    const Case cases[] = {
        {"[ 1 2 3 4 5 6 7 8 9 ]", true, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"[1 2 3 4 5 6 7 8 9]", true, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"[\t+1\n-2.5e1 3. .5 5E-1 6 7 8 9 10 11", true, {1, -25, 3, 0.5, 0.5, 6, 7, 8, 9}},
        {"[ 2 0 5 0 2", true, {2, 0, 5, 0, 2, 0, 0, 0, 1}},
        {"[ 1, 2 ]", true, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"[ 3 1e999 4", true, {3, 0, 0, 0, 1, 0, 0, 0, 1}},  // out of range ends the reading
        {"[ 3 nan 4", true, {3, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"[ 1e9 -1e9 0 0 1 0 0 0 1 ]", true, {1e9, -1e9, 0, 0, 1, 0, 0, 0, 1}},
        {"[", true, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"", false, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"1 0 0 0 1 0 0 0 1", false, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {" [ 2 0 0 0 2 0 0 0 1 ]", false, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        // Beyond 1e9 the whole matrix is refused, not just the element.
        {"[ 2 0 5 0 2 0 0 0 1.0000001e9 ]", false, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"[ -3e12", false, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        Matrix3 m = matrixOf({9, 9, 9, 9, 9, 9, 9, 9, 9});  // the reader starts from the identity
        EXPECT_EQ(parseMatrixText(m, c.text), c.result) << c.text;
        EXPECT_EQ(m.m, c.m) << c.text;
    }
}

TEST(MatrixText, RoundTripKeepsSixSignificantDigits) {
    const Matrix3 original = matrixOf({0.123456789, 1.0 / 3.0, -98765.4321, 2.5e-7, 1, 0, 123456789,
                                       -1e-5, 0.999999951});
    const std::string text = formatMatrixText(original);
    Matrix3 back;
    ASSERT_TRUE(parseMatrixText(back, text));
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(back.m[i], original.m[i], std::fabs(original.m[i]) * 5e-6) << i;
    EXPECT_EQ(back.m[0], 0.123457);
    // The written text is a fixed point: a second pull writes the same text.
    EXPECT_EQ(formatMatrixText(back), text);
}

// Stored transforms are shared between users and machines: the user's decimal comma must neither
// appear in the text nor change how a stored point reads.
TEST(MatrixText, IgnoresADecimalCommaLocale) {
    if (!test_locale::selectCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const bool commaActive = std::string(probe) == "0,5";
    const std::string text = formatMatrixText(matrixOf({0.5, 1.25, 0, 0, 1, 0, 0, 0, 1}));
    Matrix3 back;
    const bool parsed = parseMatrixText(back, "[ 0.5 1.25 0 0 1 0 0 0 1 ]");
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(commaActive);
    EXPECT_EQ(text, "[ 0.5 1.25 0 0 1 0 0 0 1 ]");
    EXPECT_TRUE(parsed);
    EXPECT_EQ(back.m[0], 0.5);
    EXPECT_EQ(back.m[1], 1.25);
}

}  // namespace
