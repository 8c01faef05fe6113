#pragma once
// Float-to-integer conversion that is never undefined: NaN gives 0 and everything else is limited
// to the target's range before truncation toward zero.  Shared by every engine step that turns a
// computed value into an integer sample or a wide integer intermediate.

#include <algorithm>
#include <concepts>
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

namespace numeric_detail {
// 0 up to Unsigned's largest value (exact in float and double for 8 and 16 bits), then truncated.
template <class Unsigned, std::floating_point Float>
inline Unsigned clampTruncUnsigned(Float v) {
    constexpr Unsigned top = std::numeric_limits<Unsigned>::max();
    if (!(v > Float(0))) return 0;  // also NaN
    if (v >= static_cast<Float>(top)) return top;
    return static_cast<Unsigned>(v);
}
}  // namespace numeric_detail

// A computed channel stored as a 16-bit sample: limited to 0..65535 (NaN gives 0) and truncated.
// A float and the same value widened to double give the same sample.
template <std::floating_point Float>
inline std::uint16_t truncToUint16(Float v) {
    return numeric_detail::clampTruncUnsigned<std::uint16_t>(v);
}

// The same for an 8-bit sample: 0..255, NaN gives 0.
template <std::floating_point Float>
inline std::uint8_t truncToUint8(Float v) {
    return numeric_detail::clampTruncUnsigned<std::uint8_t>(v);
}

// A 64-bit intermediate stored in 32 bits: values outside the int32 range saturate.
inline std::int32_t saturateToInt32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

}  // namespace vantrelo
