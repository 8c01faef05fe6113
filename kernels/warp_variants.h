#pragma once
// The pixel operations of the warp variants (formulas in kernels/warp.h), as the variant records
// that kernels/warp_band.h instantiates.

#include <cstdint>

#include "kernels/bilinear.h"
#include "kernels/warp_band.h"

namespace vantrelo::warp_detail {

// ---- Layer over, one overload per destination type.  s is an 8-bit RGBA layer pixel.

template <int DC>
inline void overPremultiplied(std::uint16_t* d, const std::uint8_t* s) {
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = (d[c] * k + s[c] * 65535u) / 255;
        d[c] = static_cast<std::uint16_t>(v < 65535 ? v : 65535);
    }
    if constexpr (DC == 4) d[3] = static_cast<std::uint16_t>((d[3] * k + a * 65535u) / 255);
}

template <int DC>
inline void overStraight(std::uint16_t* d, const std::uint8_t* s) {
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint16_t>((s[c] * a * 257u + d[c] * k) / 255);
    if constexpr (DC == 4) d[3] = static_cast<std::uint16_t>((d[3] * k + a * 65535u) / 255);
}

template <int DC>
inline void overPremultiplied(std::uint8_t* d, const std::uint8_t* s) {
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = (d[c] * k + s[c] * 255u) / 255;
        d[c] = static_cast<std::uint8_t>(v < 255 ? v : 255);
    }
    if constexpr (DC == 4) d[3] = static_cast<std::uint8_t>((d[3] * k + a * 255u) / 255);
}

template <int DC>
inline void overStraight(std::uint8_t* d, const std::uint8_t* s) {
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>((s[c] * a + d[c] * k) / 255);
    if constexpr (DC == 4) d[3] = static_cast<std::uint8_t>((d[3] * k + a * 255u) / 255);
}

template <int DC>
inline void overPremultiplied(float* d, const std::uint8_t* s) {
    const float alpha = static_cast<float>(s[3]) / 255.0f, k = 1.0f - alpha;
    for (int c = 0; c < 3; ++c) d[c] = static_cast<float>(s[c]) / 255.0f + k * d[c];
    if constexpr (DC == 4) d[3] = k * d[3] + alpha;
}

template <int DC>
inline void overStraight(float* d, const std::uint8_t* s) {
    const float alpha = static_cast<float>(s[3]) / 255.0f, k = 1.0f - alpha;
    for (int c = 0; c < 3; ++c) d[c] = (static_cast<float>(s[c]) / 255.0f) * alpha + k * d[c];
    if constexpr (DC == 4) d[3] = k * d[3] + alpha;
}

template <class D, bool Premultiplied>
struct LayerOver {
    using Destination = D;
    using Source = std::uint8_t;
    static constexpr int kSourceChannels = 4;

    template <int DC>
    static void identity(D* d, const std::uint8_t* s) {
        if constexpr (Premultiplied)
            overPremultiplied<DC>(d, s);
        else
            overStraight<DC>(d, s);
    }
    template <int DC>
    static void sample(D* d, const std::uint8_t* p00, const std::uint8_t* p10,
                       const std::uint8_t* p01, const std::uint8_t* p11, float w00, float w10,
                       float w01, float w11) {
        std::uint8_t s[4];
        bilinearRgba8(s, p00, p10, p01, p11, w00, w10, w01, w11);
        identity<DC>(d, s);
    }
};

// ---- Foreground write: a source of the destination's own type with 4 or 3 channels.

template <class T>
constexpr T channelMaximum() {
    if constexpr (sizeof(T) == 1)
        return T{255};
    else if constexpr (sizeof(T) == 2)
        return T{65535};
    else
        return T{1};
}

template <class D, int SourceChannels>
struct ForegroundWrite {
    using Destination = D;
    using Source = D;
    static constexpr int kSourceChannels = SourceChannels;

    template <int DC>
    static void identity(D* d, const D* s) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        if constexpr (DC == 4) d[3] = SourceChannels == 4 ? s[3] : channelMaximum<D>();
    }
    template <int DC>
    static void sample(D* d, const D* p00, const D* p10, const D* p01, const D* p11, float w00,
                       float w10, float w01, float w11) {
        D s[4];
        if constexpr (sizeof(D) == 4) {
            // Float samples are the same weighted sum, kept unrounded.
            for (int c = 0; c < SourceChannels; ++c)
                s[c] = ((p00[c] * w00 + p10[c] * w10) + p01[c] * w01) + p11[c] * w11;
        } else if constexpr (sizeof(D) == 2) {
            if constexpr (SourceChannels == 4)
                bilinearRgba16(s, p00, p10, p01, p11, w00, w10, w01, w11);
            else
                bilinearRgb16(s, p00, p10, p01, p11, w00, w10, w01, w11);
        } else {
            if constexpr (SourceChannels == 4)
                bilinearRgba8(s, p00, p10, p01, p11, w00, w10, w01, w11);
            else
                bilinearRgb8(s, p00, p10, p01, p11, w00, w10, w01, w11);
        }
        identity<DC>(d, s);
    }
};

}  // namespace vantrelo::warp_detail
