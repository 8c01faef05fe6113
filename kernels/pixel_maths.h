#pragma once
// Per-pixel maths of the light wrap and the lighting correction: the lighting correction of one
// pixel, the soft-light blend, and RGB to hue, saturation and lightness with its inverse step.
// Pure functions without state, inline because the callers run them once per pixel or channel.
// Float arithmetic is single precision throughout; "truncated" is toward zero.  Inputs outside the
// stated ranges give the formula's value (rgbToHsl excepted, see there).

#include <cmath>
#include <cstdint>

namespace vantrelo {

namespace pixel_maths_detail {
inline std::uint16_t clampTruncate16(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v > 65535.0f) return 65535;
    return static_cast<std::uint16_t>(v);
}
}  // namespace pixel_maths_detail

// Moves a pixel by the difference between the reference colour (the backdrop colour, 16-bit units)
// and the simulated backdrop a at that pixel, in proportion to 1 - matte (the alpha of m).
// out.c = clamp((reference.c - a.c) x (1 - m.A / 65535) + b.c) truncated; out.A = b.A.  A matte of
// 65535 keeps b; a matte of 0 moves it by the whole difference.  All pixels are RGBA; out may be b.
inline void applyLightingPixel16(std::uint16_t* out, const std::uint16_t* a, const std::uint16_t* b,
                                 const std::uint16_t* m, const float* reference) {
    const float k = 1.0f - static_cast<float>(m[3]) / 65535.0f;
    const std::uint16_t alpha = b[3];
    for (int c = 0; c < 3; ++c) {
        const float v = (reference[c] - static_cast<float>(a[c])) * k + static_cast<float>(b[c]);
        out[c] = pixel_maths_detail::clampTruncate16(v);
    }
    out[3] = alpha;
}

// The same for float pixels b and m (a stays 16-bit): out.c = ((reference.c - a.c) / 65535) x
// (1 - m.A) + b.c, raised to 0 when negative and never clamped above; out.A = b.A.
inline void applyLightingPixelFloat(float* out, const std::uint16_t* a, const float* b,
                                    const float* m, const float* reference) {
    const float k = 1.0f - m[3];
    const float alpha = b[3];
    for (int c = 0; c < 3; ++c) {
        const float v = ((reference[c] - static_cast<float>(a[c])) / 65535.0f) * k + b[c];
        out[c] = 0.0f > v ? 0.0f : v;
    }
    out[3] = alpha;
}

// Soft light of blend b over base a, both 0..1: (1 - 2b) a^2 + 2ab when b <= 0.5, else
// sqrt(a) (2b - 1) + 2a (1 - b).
inline float softLightFloat(float a, float b) {
    if (b <= 0.5f) return (1.0f - 2.0f * b) * a * a + 2.0f * a * b;
    return std::sqrt(a) * (2.0f * b - 1.0f) + (1.0f - b) * 2.0f * a;
}

// The same blend in 16-bit units with integer floors; never above 65535.
inline std::uint16_t softLight16(std::uint16_t a, std::uint16_t b) {
    const std::uint64_t A = a;
    const std::uint64_t B = b;
    if (b <= 32767) {
        const std::uint64_t t = (65535 - 2 * B) * A * A / 65535;
        return static_cast<std::uint16_t>((t + 2 * A * B) / 65535);
    }
    const std::uint32_t floorTerm =
        static_cast<std::uint32_t>(2u * std::uint32_t{a} * (65535u - std::uint32_t{b}) / 65535u);
    const float v = std::sqrt(static_cast<float>(a) / 65535.0f) *
                        static_cast<float>(2 * static_cast<int>(b) - 65535) +
                    static_cast<float>(floorTerm);
    return v < 65535.0f ? static_cast<std::uint16_t>(v) : std::uint16_t{65535};
}

// Hue (0..1, red 0, green 1/3, blue 2/3), saturation and lightness of r, g, b in 0..1.  Lightness
// is always written.  A grey (max = min) gives hue 0 and saturation 0; so does any colour whose
// saturation denominator (max + min, or 2 - max - min) is exactly 0, which only inputs outside
// 0..1 reach, so that no NaN or infinity comes out of it.
inline void rgbToHsl(float r, float g, float b, float& hue, float& saturation, float& lightness) {
    const float mx = std::fmax(std::fmax(r, g), b);
    const float mn = std::fmin(std::fmin(r, g), b);
    lightness = (mx + mn) * 0.5f;
    const float d = mx - mn;
    hue = 0.0f;
    saturation = 0.0f;
    if (d == 0.0f) return;
    const float denominator = lightness < 0.5f ? mx + mn : 2.0f - mx - mn;
    saturation = denominator == 0.0f ? 0.0f : d / denominator;
    const float dR = ((mx - r) / 6.0f + d / 2.0f) / d;
    const float dG = ((mx - g) / 6.0f + d / 2.0f) / d;
    const float dB = ((mx - b) / 6.0f + d / 2.0f) / d;
    if (r == mx)
        hue = dB - dG;
    else if (g == mx)
        hue = (1.0f / 3.0f + dR) - dB;
    else if (b == mx)
        hue = (2.0f / 3.0f + dG) - dR;
    if (hue < 0.0f)
        hue += 1.0f;
    else if (hue > 1.0f)
        hue -= 1.0f;
}

// One RGB channel from the HSL helper values m1, m2 and a hue h (wrapped once into 0..1).
inline float hueToRgb(float m1, float m2, float h) {
    if (h < 0.0f)
        h += 1.0f;
    else if (h > 1.0f)
        h -= 1.0f;
    if (6.0f * h < 1.0f) return m1 + (m2 - m1) * 6.0f * h;
    if (2.0f * h < 1.0f) return m2;
    if (3.0f * h < 2.0f) return m1 + (m2 - m1) * (2.0f / 3.0f - h) * 6.0f;
    return m1;
}

}  // namespace vantrelo
