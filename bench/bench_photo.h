#pragma once
// The photograph the render and batch benchmarks key: 6000 x 4000, a subject (a disc with a soft
// edge and strands) in front of a noisy green backdrop that grows lighter to the right.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace bench_photo {

constexpr std::int32_t kWidth = 6000;
constexpr std::int32_t kHeight = 4000;
constexpr std::uint16_t kGreen[4] = {9000, 41000, 12000, 65535};

// R, G, B of the photograph at (x, y); `noise` is the state of the backdrop's noise, stepped once
// per pixel.
inline void photoPixel(std::int32_t x, std::int32_t y, std::uint32_t& noise, std::uint16_t* p) {
    noise = noise * 1664525u + 1013904223u;
    const double light = 0.8 + 0.3 * x / kWidth;
    const double cx = x - 3000.0, cy = y - 2300.0;
    const double radius = std::sqrt((cx / 1900) * (cx / 1900) + (cy / 1500) * (cy / 1500));
    double cover = std::clamp((1.0 - radius) * 1500.0 / 4.0 + 0.5, 0.0, 1.0);
    if (radius > 0.9 && radius < 1.3) {
        const double strand = std::sin(std::atan2(cy, cx) * 900.0 + radius * 40.0);
        cover = std::max(cover, std::clamp((strand - 0.85) * 6.0, 0.0, 1.0) * (1.3 - radius) / 0.4);
    }
    const double subject[3] = {50000.0 + 8000.0 * std::sin(x * 0.01), 21000.0, 9000.0};
    const std::uint32_t n[3] = {noise >> 22, noise >> 23 & 511, noise >> 14 & 1023};
    for (int c = 0; c < 3; ++c) {
        const double backdrop = kGreen[c] * light + n[c];
        p[c] = static_cast<std::uint16_t>(std::clamp(backdrop + (subject[c] - backdrop) * cover, 0.0, 65535.0));
    }
}

// Row y of the photograph, R, G, B of each pixel in turn (as FreeImage's 16-bit RGB pixels lie).
inline void photoRow(std::int32_t y, std::uint32_t& noise, std::uint16_t* rgb) {
    for (std::int32_t x = 0; x < kWidth; ++x, rgb += 3) photoPixel(x, y, noise, rgb);
}

}  // namespace bench_photo
