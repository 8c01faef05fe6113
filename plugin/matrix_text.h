#pragma once
// The text form of a 3x3 transform in the parameters "Backdrop transform", "Foreground transform"
// and "Overlay transform": "[ a b c d e f g h i ]", the elements row by row, each after one blank,
// then " ]".  The identity is "[ 1 0 0 0 1 0 0 0 1 ]".
//
// Numbers are written as a default-state stream writes a double ("%g", six significant digits), so
// a round trip keeps six significant digits, and read as a stream extracts a double.  Both ignore
// the process locale: a transform stored under one locale reads the same under another.

#include <string>
#include <string_view>

#include "kernels/matrix3.h"

namespace vantrelo {

// Elements beyond this size (or not finite) make no sense as a layer transform; such a text is
// refused whole, so the render never sees a transform that would overflow its arithmetic.
inline constexpr double kMatrixTextLimit = 1e9;

// Sets `matrix` from matrix text.  The matrix starts as the identity.  A text that does not begin
// with "[" gives the identity and false.  Otherwise up to nine numbers are read in row order; the
// first one that cannot be read (a character that cannot start a number, the end of the text, a
// value out of range) ends the reading, and it and the later elements keep their identity values;
// what follows the ninth number is not examined.  A matrix with an element beyond
// kMatrixTextLimit in size is refused: identity and false.  Otherwise true.
bool parseMatrixText(Matrix3& matrix, std::string_view text);

// The matrix text of `matrix`.
std::string formatMatrixText(const Matrix3& matrix);

}  // namespace vantrelo
