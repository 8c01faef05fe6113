#pragma once
// Bilinear samples of a 2 x 2 block of integer pixels.  For every channel the value is
// ((p00 w00 + p10 w10) + p01 w01) + p11 w11 in single precision, truncated toward zero into the
// channel's width: no rounding and no clamping.  The weights (each 0..1, summing to 1 within
// single-precision rounding) keep the sum inside the block's range, so a sample never exceeds the
// largest of its four pixels; truncation can leave a uniform block one unit below its value.

#include <cstdint>

namespace vantrelo {

namespace bilinear_detail {
template <class T, int Channels>
inline void sample(T* out, const T* p00, const T* p10, const T* p01, const T* p11, float w00,
                   float w10, float w01, float w11) {
    for (int c = 0; c < Channels; ++c) {
        const float v = ((static_cast<float>(p00[c]) * w00 + static_cast<float>(p10[c]) * w10) +
                         static_cast<float>(p01[c]) * w01) +
                        static_cast<float>(p11[c]) * w11;
        out[c] = static_cast<T>(static_cast<std::int32_t>(v));
    }
}
}  // namespace bilinear_detail

inline void bilinearRgba8(std::uint8_t* out, const std::uint8_t* p00, const std::uint8_t* p10,
                          const std::uint8_t* p01, const std::uint8_t* p11, float w00, float w10,
                          float w01, float w11) {
    bilinear_detail::sample<std::uint8_t, 4>(out, p00, p10, p01, p11, w00, w10, w01, w11);
}

inline void bilinearRgb8(std::uint8_t* out, const std::uint8_t* p00, const std::uint8_t* p10,
                         const std::uint8_t* p01, const std::uint8_t* p11, float w00, float w10,
                         float w01, float w11) {
    bilinear_detail::sample<std::uint8_t, 3>(out, p00, p10, p01, p11, w00, w10, w01, w11);
}

inline void bilinearRgba16(std::uint16_t* out, const std::uint16_t* p00, const std::uint16_t* p10,
                           const std::uint16_t* p01, const std::uint16_t* p11, float w00, float w10,
                           float w01, float w11) {
    bilinear_detail::sample<std::uint16_t, 4>(out, p00, p10, p01, p11, w00, w10, w01, w11);
}

inline void bilinearRgb16(std::uint16_t* out, const std::uint16_t* p00, const std::uint16_t* p10,
                          const std::uint16_t* p01, const std::uint16_t* p11, float w00, float w10,
                          float w01, float w11) {
    bilinear_detail::sample<std::uint16_t, 3>(out, p00, p10, p01, p11, w00, w10, w01, w11);
}

}  // namespace vantrelo
