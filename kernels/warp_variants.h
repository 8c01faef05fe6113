#pragma once
// The pixel operations of the warp variants (formulas in kernels/warp.h), as the variant records
// that kernels/warp_band.h instantiates.

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "kernels/bilinear.h"
#include "kernels/warp_band.h"

namespace vantrelo::warp_detail {

// ---- Bilinear samples of four-channel blocks with SSE2 (the x86-64 base set): the four channels
// of a pixel are the four lanes, and the sum is formed in the samplers' order,
// ((p00 w00 + p10 w10) + p01 w01) + p11 w11, in single precision without contraction, then
// truncated; so each lane is bit for bit what kernels/bilinear.h gives for its channel.  The warp
// of an 8-bit layer through a scale spent most of its time in the scalar sampler's conversions.
// Three-channel blocks keep the scalar samplers, which never read past a pixel's last channel.

inline __m128 channelLanes(const std::uint8_t* p) {
    std::int32_t bytes;
    std::memcpy(&bytes, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
}

inline __m128 channelLanes(const std::uint16_t* p) {
    const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128()));
}

inline __m128 channelLanes(const float* p) { return _mm_loadu_ps(p); }

template <class T>
inline __m128 weightedSum(const T* p00, const T* p10, const T* p01, const T* p11, float w00,
                          float w10, float w01, float w11) {
    const __m128 near = _mm_add_ps(_mm_mul_ps(channelLanes(p00), _mm_set1_ps(w00)),
                                   _mm_mul_ps(channelLanes(p10), _mm_set1_ps(w10)));
    return _mm_add_ps(_mm_add_ps(near, _mm_mul_ps(channelLanes(p01), _mm_set1_ps(w01))),
                      _mm_mul_ps(channelLanes(p11), _mm_set1_ps(w11)));
}

// The truncated sample of an 8-bit RGBA block (bilinearRgba8).  A sample never exceeds its
// block's largest value, so the saturating packs keep every lane as it is.
inline void sampleRgba8(std::uint8_t* out, const std::uint8_t* p00, const std::uint8_t* p10,
                        const std::uint8_t* p01, const std::uint8_t* p11, float w00, float w10,
                        float w01, float w11) {
    const __m128i v = _mm_cvttps_epi32(weightedSum(p00, p10, p01, p11, w00, w10, w01, w11));
    const __m128i words = _mm_packs_epi32(v, v);
    const std::int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(out, &bytes, 4);
}

// The truncated sample of a 16-bit RGBA block (bilinearRgba16): SSE2 packs 32-bit lanes only with
// signed saturation, so the lanes are moved down by 32768 before and back after.
inline void sampleRgba16(std::uint16_t* out, const std::uint16_t* p00, const std::uint16_t* p10,
                         const std::uint16_t* p01, const std::uint16_t* p11, float w00, float w10,
                         float w01, float w11) {
    const __m128i v = _mm_cvttps_epi32(weightedSum(p00, p10, p01, p11, w00, w10, w01, w11));
    const __m128i half = _mm_set1_epi32(32768);
    const __m128i words = _mm_packs_epi32(_mm_sub_epi32(v, half), _mm_sub_epi32(v, half));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                     _mm_xor_si128(words, _mm_set1_epi16(static_cast<short>(0x8000))));
}

// ---- Layer over, one overload per destination type.  s is an 8-bit RGBA layer pixel.

// An opaque layer pixel (a = 255, k = 0) gives c x 65535 / 255 = c x 257 and alpha 65535 in both
// alpha modes: the common case of a photograph as the backdrop, taken without the divisions.
template <int DC>
inline bool overOpaque(std::uint16_t* d, const std::uint8_t* s) {
    if (s[3] != 255) return false;
    for (int c = 0; c < DC; ++c) d[c] = static_cast<std::uint16_t>(s[c] * 257u);
    return true;
}

template <int DC>
inline bool overOpaque(std::uint8_t* d, const std::uint8_t* s) {
    if (s[3] != 255) return false;
    for (int c = 0; c < DC; ++c) d[c] = s[c];
    return true;
}

template <int DC>
inline void overPremultiplied(std::uint16_t* d, const std::uint8_t* s) {
    if (overOpaque<DC>(d, s)) return;
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = (d[c] * k + s[c] * 65535u) / 255;
        d[c] = static_cast<std::uint16_t>(v < 65535 ? v : 65535);
    }
    if constexpr (DC == 4) d[3] = static_cast<std::uint16_t>((d[3] * k + a * 65535u) / 255);
}

template <int DC>
inline void overStraight(std::uint16_t* d, const std::uint8_t* s) {
    if (overOpaque<DC>(d, s)) return;
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint16_t>((s[c] * a * 257u + d[c] * k) / 255);
    if constexpr (DC == 4) d[3] = static_cast<std::uint16_t>((d[3] * k + a * 65535u) / 255);
}

template <int DC>
inline void overPremultiplied(std::uint8_t* d, const std::uint8_t* s) {
    if (overOpaque<DC>(d, s)) return;
    const std::uint32_t a = s[3], k = 255 - a;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = (d[c] * k + s[c] * 255u) / 255;
        d[c] = static_cast<std::uint8_t>(v < 255 ? v : 255);
    }
    if constexpr (DC == 4) d[3] = static_cast<std::uint8_t>((d[3] * k + a * 255u) / 255);
}

template <int DC>
inline void overStraight(std::uint8_t* d, const std::uint8_t* s) {
    if (overOpaque<DC>(d, s)) return;
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
        if constexpr (sizeof(D) == 2) {
            // The opaque case straight from the vector lanes (c x 257, alpha 65535, as overOpaque):
            // a round trip of the sample through memory to test its alpha cost a tenth of the warp.
            const __m128i v = _mm_cvttps_epi32(weightedSum(p00, p10, p01, p11, w00, w10, w01, w11));
            const __m128i words = _mm_packs_epi32(v, v);
            if (_mm_extract_epi16(words, 3) == 255) {
                const __m128i wide = _mm_mullo_epi16(words, _mm_set1_epi16(257));
                if constexpr (DC == 4) {
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(d), wide);
                } else {
                    std::uint16_t lanes[4];
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(lanes), wide);
                    std::memcpy(d, lanes, 3 * sizeof(std::uint16_t));
                }
                return;
            }
            const std::int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
            std::uint8_t s[4];
            std::memcpy(s, &bytes, 4);
            identity<DC>(d, s);
        } else {
            std::uint8_t s[4];
            sampleRgba8(s, p00, p10, p01, p11, w00, w10, w01, w11);
            identity<DC>(d, s);
        }
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
        // Four channels into four: the sample goes straight into place (through a copy and
        // four channel stores the 16-bit warp took a fifth longer).
        if constexpr (DC == 4 && SourceChannels == 4) {
            if constexpr (sizeof(D) == 1)
                sampleRgba8(d, p00, p10, p01, p11, w00, w10, w01, w11);
            else if constexpr (sizeof(D) == 2)
                sampleRgba16(d, p00, p10, p01, p11, w00, w10, w01, w11);
            else
                _mm_storeu_ps(d, weightedSum(p00, p10, p01, p11, w00, w10, w01, w11));
            return;
        }
        D s[4];
        if constexpr (sizeof(D) == 4) {
            // Float samples are the same weighted sum, kept unrounded.
            if constexpr (SourceChannels == 4) {
                _mm_storeu_ps(s, weightedSum(p00, p10, p01, p11, w00, w10, w01, w11));
            } else {
                for (int c = 0; c < SourceChannels; ++c)
                    s[c] = ((p00[c] * w00 + p10[c] * w10) + p01[c] * w01) + p11[c] * w11;
            }
        } else if constexpr (sizeof(D) == 2) {
            if constexpr (SourceChannels == 4)
                sampleRgba16(s, p00, p10, p01, p11, w00, w10, w01, w11);
            else
                bilinearRgb16(s, p00, p10, p01, p11, w00, w10, w01, w11);
        } else {
            if constexpr (SourceChannels == 4)
                sampleRgba8(s, p00, p10, p01, p11, w00, w10, w01, w11);
            else
                bilinearRgb8(s, p00, p10, p01, p11, w00, w10, w01, w11);
        }
        identity<DC>(d, s);
    }
};

}  // namespace vantrelo::warp_detail
