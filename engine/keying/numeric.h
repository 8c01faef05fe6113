#pragma once
// Float-to-integer conversion that is never undefined: NaN gives 0 and everything else is limited
// to the int32 range before truncation toward zero.  Shared by every engine step that turns a
// computed value into a wide integer intermediate.

#include <cstdint>
#include <limits>

namespace vantrelo {

template <class Float>
inline std::int32_t truncToInt32(Float v) {
    if (!(v == v)) return 0;
    // For float the upper bound rounds to 2^31, so both branches test "at least 2^31".
    if (v >= static_cast<Float>(2147483647.0)) return std::numeric_limits<std::int32_t>::max();
    if (v <= static_cast<Float>(-2147483648.0)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace vantrelo
