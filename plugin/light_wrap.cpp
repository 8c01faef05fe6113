#include "plugin/light_wrap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "host/system/exceptions.h"
#include "kernels/pixel_maths.h"
#include "kernels/recursive_gaussian_blur.h"
#include "plugin/band_rows.h"

namespace vantrelo {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

namespace {

template <class T>
inline const T* rowAt(const T* p, std::ptrdiff_t rowBytes, std::ptrdiff_t y) {
    return reinterpret_cast<const T*>(reinterpret_cast<const std::uint8_t*>(p) + y * rowBytes);
}
template <class T>
inline T* rowAt(T* p, std::ptrdiff_t rowBytes, std::ptrdiff_t y) {
    return reinterpret_cast<T*>(reinterpret_cast<std::uint8_t*>(p) + y * rowBytes);
}

inline std::uint32_t truncTo(float v, std::uint32_t top) {
    if (!(v > 0.0f)) return 0;  // also NaN
    const float limit = static_cast<float>(top);
    return v >= limit ? top : static_cast<std::uint32_t>(v);
}

// ---- How the light L and the weight k of a pixel are formed, per kind of light image ----

struct FloatLight {
    using Base = float;  // F and the output
    using Light = float;  // W and S
    using Value = float;  // L and k
    float brightness;

    void operator()(const float* w, const float* s, float* light, float& k) const {
        const float a = w[3];
        const float h = (a > 0.0f && a >= w[0] && a >= w[1] && a >= w[2]) ? 1.0f / a : 1.0f;
        for (int c = 0; c < 3; ++c) light[c] = h * w[c];
        k = (1.0f - s[3]) * a * brightness;
    }
};

struct Light16 {
    using Base = std::uint16_t;
    using Light = std::uint16_t;
    using Value = std::uint32_t;
    float factor;  // brightness x (1 / 65535)

    explicit Light16(float brightness) : factor(brightness * (1.0f / 65535.0f)) {}
    void operator()(const std::uint16_t* w, const std::uint16_t* s, std::uint32_t* light,
                    std::uint32_t& k) const {
        const std::uint32_t a = w[3];
        const float h = (a > 0 && a >= w[0] && a >= w[1] && a >= w[2]) ? 65535.0f / static_cast<float>(a) : 1.0f;
        for (int c = 0; c < 3; ++c) light[c] = truncTo(static_cast<float>(w[c]) * h, 65535);
        const std::uint32_t x = (65535u - s[3]) * a;
        k = truncTo(static_cast<float>(x) * factor, 65535);
    }
};

struct Light8 {
    using Base = std::uint16_t;
    using Light = std::uint8_t;
    using Value = std::uint32_t;
    float factor;  // brightness x 257 / 255

    explicit Light8(float brightness) : factor(brightness * (257.0f / 255.0f)) {}
    void operator()(const std::uint8_t* w, const std::uint8_t* s, std::uint32_t* light,
                    std::uint32_t& k) const {
        const std::uint32_t a = w[3];
        const float h = (a > 0 && a >= w[0] && a >= w[1] && a >= w[2]) ? 255.0f / static_cast<float>(a) : 1.0f;
        for (int c = 0; c < 3; ++c) light[c] = truncTo(static_cast<float>(w[c]) * h, 255) * 257u;
        const std::uint32_t x = (255u - s[3]) * a;
        k = truncTo(static_cast<float>(x) * factor, 65535);
    }
};

// Walks the rectangle row by row, all four images in step; the pixel of F is read whole before
// the output is written, so the output may be F.
template <class LightOf, class Blend>
void blendRows(const typename LightOf::Base* f, const typename LightOf::Light* w,
               const typename LightOf::Light* s, typename LightOf::Base* out, std::ptrdiff_t fRowBytes,
               std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes,
               std::ptrdiff_t width, std::ptrdiff_t height, const LightOf& lightOf, Blend blend) {
    using Base = typename LightOf::Base;
    using Value = typename LightOf::Value;
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const Base* fp = rowAt(f, fRowBytes, y);
        const auto* wp = rowAt(w, wRowBytes, y);
        const auto* sp = rowAt(s, sRowBytes, y);
        Base* op = rowAt(out, outRowBytes, y);
        for (std::ptrdiff_t x = 0; x < width; ++x, fp += 4, wp += 4, sp += 4, op += 4) {
            Value light[3];
            Value k;
            lightOf(wp, sp, light, k);
            const Base base[4] = {fp[0], fp[1], fp[2], fp[3]};
            blend(op, base, light, k);
        }
    }
}

// ---- Float blends ----

void softLightPixelFloat(float* out, const float* f, const float* light, float k) {
    for (int c = 0; c < 3; ++c) out[c] = (1.0f - k) * f[c] + softLightFloat(f[c], light[c]) * k;
    out[3] = f[3];
}

void addPixelFloat(float* out, const float* f, const float* light, float k) {
    for (int c = 0; c < 3; ++c) out[c] = f[c] + light[c] * k;
    out[3] = f[3] + k;
}

void multiplyPixelFloat(float* out, const float* f, const float* light, float k) {
    for (int c = 0; c < 3; ++c) out[c] = (1.0f - k) * f[c] + light[c] * f[c] * k;
    out[3] = f[3];
}

void screenPixelFloat(float* out, const float* f, const float* light, float k) {
    for (int c = 0; c < 3; ++c) {
        const float m = light[c] * k;
        out[c] = f[c] + m - f[c] * m;
    }
    out[3] = f[3] + k - f[3] * k;
}

// The Color blend's target: the light's hue and saturation at F's lightness, channels 0..1.
void colourAtLightness(float* v, float lightness, const float* light) {
    float hue = 0.0f;
    float saturation = 0.0f;
    float lightLightness = 0.0f;
    rgbToHsl(light[0], light[1], light[2], hue, saturation, lightLightness);
    if (saturation == 0.0f) {
        v[0] = v[1] = v[2] = lightness;
        return;
    }
    const float m2 = lightness < 0.5f ? (saturation + 1.0f) * lightness
                                      : (saturation + lightness) - saturation * lightness;
    const float m1 = 2.0f * lightness - m2;
    v[0] = hueToRgb(m1, m2, hue + 1.0f / 3.0f);
    v[1] = hueToRgb(m1, m2, hue);
    v[2] = hueToRgb(m1, m2, hue - 1.0f / 3.0f);
}

float lightnessOf(const float* f) {
    float hue = 0.0f;
    float saturation = 0.0f;
    float lightness = 0.0f;
    rgbToHsl(f[0], f[1], f[2], hue, saturation, lightness);
    return lightness;
}

// ---- 16-bit blends (also the 8-bit kernels', whose F is 16-bit) ----

void softLightPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<std::uint16_t>(
            (std::uint32_t{softLight16(f[c], static_cast<std::uint16_t>(light[c]))} * k +
             std::uint32_t{f[c]} * (65535u - k)) / 65535u);
    out[3] = f[3];
}

void multiplyPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t product = std::uint32_t{f[c]} * light[c] / 65535u;
        out[c] = static_cast<std::uint16_t>((std::uint32_t{f[c]} * (65535u - k) + product * k) / 65535u);
    }
    out[3] = f[3];
}

void screenPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t m = light[c] * k / 65535u;
        out[c] = static_cast<std::uint16_t>(f[c] + m - m * f[c] / 65535u);
    }
    out[3] = static_cast<std::uint16_t>(f[3] + k - k * f[3] / 65535u);
}

// ---- The kernels, one per mode and depth ----

using FloatKernel = void (*)(const float*, const float*, const float*, float*, std::ptrdiff_t, std::ptrdiff_t,
                             std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, float);
using Kernel16 = void (*)(const std::uint16_t*, const std::uint16_t*, const std::uint16_t*, std::uint16_t*,
                          std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t,
                          std::ptrdiff_t, float);
using Kernel8 = void (*)(const std::uint16_t*, const std::uint8_t*, const std::uint8_t*, std::uint16_t*,
                         std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t, std::ptrdiff_t,
                         std::ptrdiff_t, float);

template <auto blend>
void kernelFloat(const float* f, const float* w, const float* s, float* out, std::ptrdiff_t fRowBytes,
                 std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes,
                 std::ptrdiff_t width, std::ptrdiff_t height, float brightness) {
    blendRows(f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height, FloatLight{brightness},
              blend);
}

template <auto blend>
void kernel16(const std::uint16_t* f, const std::uint16_t* w, const std::uint16_t* s, std::uint16_t* out,
              std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes,
              std::ptrdiff_t outRowBytes, std::ptrdiff_t width, std::ptrdiff_t height, float brightness) {
    blendRows(f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height, Light16{brightness},
              blend);
}

template <auto blend>
void kernel8(const std::uint16_t* f, const std::uint8_t* w, const std::uint8_t* s, std::uint16_t* out,
             std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes,
             std::ptrdiff_t outRowBytes, std::ptrdiff_t width, std::ptrdiff_t height, float brightness) {
    blendRows(f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height, Light8{brightness},
              blend);
}

// Indexed by the blend mode: Soft Light, Overlay, Add, Multiply, Screen, Color.
constexpr FloatKernel kFloatKernels[6] = {
    kernelFloat<softLightPixelFloat>, kernelFloat<overlayPixelFloat>, kernelFloat<addPixelFloat>,
    kernelFloat<multiplyPixelFloat>,  kernelFloat<screenPixelFloat>,  kernelFloat<colorPixelFloat>,
};
constexpr Kernel16 kKernels16[6] = {
    kernel16<softLightPixel16>, kernel16<overlayPixel16>, kernel16<addPixel16>,
    kernel16<multiplyPixel16>,  kernel16<screenPixel16>,  kernel16<colorPixel16>,
};
constexpr Kernel8 kKernels8[6] = {
    kernel8<softLightPixel16>, kernel8<overlayPixel16>, kernel8<addPixel16>,
    kernel8<multiplyPixel16>,  kernel8<screenPixel16>,  kernel8<colorPixel16>,
};

// ---- Source rows ----

template <class BaseT, class BackT, class SourceT, class Pixel>
void sourceRows(const BaseT* f, const BackT* b, SourceT* s, std::ptrdiff_t fRowBytes, std::ptrdiff_t bPixelStep,
                std::ptrdiff_t bRowBytes, std::ptrdiff_t sRowBytes, std::ptrdiff_t width, std::ptrdiff_t height,
                Pixel pixel) {
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        const BaseT* fp = rowAt(f, fRowBytes, y);
        const auto* bp = reinterpret_cast<const std::uint8_t*>(b) + y * bRowBytes;
        SourceT* sp = rowAt(s, sRowBytes, y);
        for (std::ptrdiff_t x = 0; x < width; ++x, fp += 4, sp += 4, bp += bPixelStep)
            pixel(sp, fp, reinterpret_cast<const BackT*>(bp));
    }
}

// ---- The step ----

template <class T>
T* rowPointer(T* first, std::ptrdiff_t rowBytes, std::ptrdiff_t y) {
    using Byte = std::conditional_t<std::is_const_v<T>, const std::uint8_t, std::uint8_t>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(first) + y * rowBytes);
}

template <class T>
constexpr std::int32_t kBits = sizeof(T) * 8;

[[noreturn]] void refuse(const char* step, const char* why) {
    throw Mav::Exception(std::string(step) + ": " + why);
}

// The format checks of a step, made before anything is allocated or touched.
void checkImages(const char* step, const ImageBuffer& keyed, std::int32_t keyedBits, const ImageBuffer* backdrop,
                 std::int32_t backdropBits) {
    if (keyed.bitsPerChannel != keyedBits || keyed.channels != 4)
        refuse(step, "the keyed image is not a four-channel image of the render's depth");
    if (backdrop && backdrop->firstPixel && (backdrop->bitsPerChannel != backdropBits || backdrop->channels < 3))
        refuse(step, "the backdrop image does not have the render's depth and three or more channels");
}

// S from F and the backdrop over R, W = S blurred, then the blend into F over R.  BackT is the
// backdrop's channel type, which is also S's and W's; `colour` is the solid colour in that type.
template <class BaseT, class BackT, class SourceRows, class Blend>
void lightWrapStep(Mav::Host::System::Host& host, ImageBuffer& keyed, const ImageBuffer* backdrop,
                   const BackT* colour, float sigma, float brightness, SourceRows sourceRowsOf, Blend blendOf) {
    const bool withImage = backdrop && backdrop->firstPixel;
    const Rect r = withImage ? intersectRect(keyed.bounds, backdrop->bounds) : keyed.bounds;
    if (r.empty() || !keyed.firstPixel) return;

    ImageBuffer source(&host);
    source.allocate(r, kBits<BackT>);
    const BackT* b = colour;
    std::ptrdiff_t bPixelStep = 0;
    std::ptrdiff_t bRowBytes = 0;
    if (withImage) {
        b = reinterpret_cast<const BackT*>(backdrop->pixelAddress(r.x0, r.y0));
        bPixelStep = backdrop->bytesPerPixel();
        bRowBytes = backdrop->rowBytes;
    }
    auto* f = reinterpret_cast<BaseT*>(keyed.pixelAddress(r.x0, r.y0));
    auto* s = reinterpret_cast<BackT*>(source.firstPixel);
    const std::ptrdiff_t width = r.width();
    inRowBands(host, r.height(), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
        sourceRowsOf(rowPointer(f, keyed.rowBytes, y0), rowPointer(b, bRowBytes, y0),
                     rowPointer(s, source.rowBytes, y0), keyed.rowBytes, bPixelStep, bRowBytes, source.rowBytes,
                     width, y1 - y0);
    });

    ImageBuffer blurred(&host);
    blurred.allocateSameAs(source);
    {
        RecursiveGaussianBlur blur(host, source, blurred, sigma, sigma, 0, 0);
        blur.reportProgress = false;
        blur.run();
    }
    const auto* w = reinterpret_cast<const BackT*>(blurred.firstPixel);
    inRowBands(host, r.height(), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
        BaseT* fy = rowPointer(f, keyed.rowBytes, y0);
        blendOf(fy, rowPointer(w, blurred.rowBytes, y0), rowPointer(s, source.rowBytes, y0), fy, keyed.rowBytes,
                blurred.rowBytes, source.rowBytes, keyed.rowBytes, width, y1 - y0, brightness);
    });
}

bool stepRuns(float sigma, float brightness, int blendMode) {
    return sigma > 0.0f && brightness > 0.0f && blendMode >= 0 && blendMode < 6;
}

}  // namespace

// ---- Per-pixel blends ----

void overlayPixelFloat(float* out, const float* f, const float* light, float k) {
    for (int c = 0; c < 3; ++c) {
        const float v = f[c] <= 0.5f ? 2.0f * f[c] * light[c]
                                     : (f[c] + light[c] - f[c] * light[c]) * 2.0f - 1.0f;
        out[c] = (1.0f - k) * f[c] + v * k;
    }
    out[3] = f[3];
}

void colorPixelFloat(float* out, const float* f, const float* light, float k) {
    float v[3];
    colourAtLightness(v, lightnessOf(f), light);
    for (int c = 0; c < 3; ++c) out[c] = (1.0f - k) * f[c] + k * v[c];
    out[3] = f[3];
}

void overlayPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t base = f[c];
        std::uint32_t v;
        if (base <= 32767u) {
            v = 2u * base * light[c] / 65535u;
        } else {
            const std::uint32_t screen = base + light[c] - base * light[c] / 65535u;
            v = 2u * screen - 65535u;
        }
        out[c] = static_cast<std::uint16_t>((base * (65535u - k) + v * k) / 65535u);
    }
    out[3] = f[3];
}

void addPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    const std::uint32_t alpha = f[3] + k;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t v = f[c] + light[c] * k / 65535u;
        out[c] = static_cast<std::uint16_t>(v > 65535u ? 65535u : v);
    }
    out[3] = static_cast<std::uint16_t>(alpha > 65535u ? 65535u : alpha);
}

void colorPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light, std::uint32_t k) {
    const float base[3] = {static_cast<float>(f[0]) / 65535.0f, static_cast<float>(f[1]) / 65535.0f,
                           static_cast<float>(f[2]) / 65535.0f};
    const float lightUnit[3] = {static_cast<float>(light[0]) / 65535.0f, static_cast<float>(light[1]) / 65535.0f,
                                static_cast<float>(light[2]) / 65535.0f};
    float v[3];
    colourAtLightness(v, lightnessOf(base), lightUnit);
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t target = truncTo(v[c] * 65535.0f, 65535);
        out[c] = static_cast<std::uint16_t>((target * k + std::uint32_t{f[c]} * (65535u - k)) / 65535u);
    }
    out[3] = f[3];
}

// ---- Source rows ----

void lightWrapSourceRowsFloat(const float* f, const float* b, float* s, std::ptrdiff_t fRowBytes,
                              std::ptrdiff_t bPixelStep, std::ptrdiff_t bRowBytes, std::ptrdiff_t sRowBytes,
                              std::ptrdiff_t width, std::ptrdiff_t height) {
    sourceRows<float, float, float>(f, b, s, fRowBytes, bPixelStep, bRowBytes, sRowBytes, width, height,
                                    [](float* sp, const float* fp, const float* bp) {
                                        const float open = 1.0f - fp[3];
                                        for (int c = 0; c < 3; ++c) sp[c] = open * bp[c];
                                        sp[3] = open;
                                    });
}

void lightWrapSourceRows16(const std::uint16_t* f, const std::uint16_t* b, std::uint16_t* s,
                           std::ptrdiff_t fRowBytes, std::ptrdiff_t bPixelStep, std::ptrdiff_t bRowBytes,
                           std::ptrdiff_t sRowBytes, std::ptrdiff_t width, std::ptrdiff_t height) {
    sourceRows<std::uint16_t, std::uint16_t, std::uint16_t>(
        f, b, s, fRowBytes, bPixelStep, bRowBytes, sRowBytes, width, height,
        [](std::uint16_t* sp, const std::uint16_t* fp, const std::uint16_t* bp) {
            const float open = 1.0f - static_cast<float>(fp[3]) / 65535.0f;
            for (int c = 0; c < 3; ++c)
                sp[c] = static_cast<std::uint16_t>(truncTo(static_cast<float>(bp[c]) * open, 65535));
            sp[3] = static_cast<std::uint16_t>(truncTo(open * 65535.0f, 65535));
        });
}

void lightWrapSourceRows8(const std::uint16_t* f, const std::uint8_t* b, std::uint8_t* s, std::ptrdiff_t fRowBytes,
                          std::ptrdiff_t bPixelStep, std::ptrdiff_t bRowBytes, std::ptrdiff_t sRowBytes,
                          std::ptrdiff_t width, std::ptrdiff_t height) {
    sourceRows<std::uint16_t, std::uint8_t, std::uint8_t>(
        f, b, s, fRowBytes, bPixelStep, bRowBytes, sRowBytes, width, height,
        [](std::uint8_t* sp, const std::uint16_t* fp, const std::uint8_t* bp) {
            const float open = 1.0f - static_cast<float>(fp[3]) / 65535.0f;
            for (int c = 0; c < 3; ++c)
                sp[c] = static_cast<std::uint8_t>(truncTo(static_cast<float>(bp[c]) * open, 255));
            sp[3] = static_cast<std::uint8_t>(truncTo(open * 255.0f, 255));
        });
}

// ---- Blend dispatch ----

void lightWrapBlendFloat(const float* f, const float* w, const float* s, float* out, std::ptrdiff_t fRowBytes,
                         std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes,
                         std::ptrdiff_t width, std::ptrdiff_t height, float brightness, int blendMode) {
    if (blendMode < 0 || blendMode >= 6) return;
    kFloatKernels[blendMode](f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height,
                             brightness);
}

void lightWrapBlend16(const std::uint16_t* f, const std::uint16_t* w, const std::uint16_t* s, std::uint16_t* out,
                      std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes,
                      std::ptrdiff_t outRowBytes, std::ptrdiff_t width, std::ptrdiff_t height, float brightness,
                      int blendMode) {
    if (blendMode < 0 || blendMode >= 6) return;
    kKernels16[blendMode](f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height, brightness);
}

void lightWrapBlend8(const std::uint16_t* f, const std::uint8_t* w, const std::uint8_t* s, std::uint16_t* out,
                     std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes, std::ptrdiff_t sRowBytes,
                     std::ptrdiff_t outRowBytes, std::ptrdiff_t width, std::ptrdiff_t height, float brightness,
                     int blendMode) {
    if (blendMode < 0 || blendMode >= 6) return;
    kKernels8[blendMode](f, w, s, out, fRowBytes, wRowBytes, sRowBytes, outRowBytes, width, height, brightness);
}

// ---- Steps ----

void lightWrapStepFloat(Mav::Host::System::Host& host, ImageBuffer& keyed, const ImageBuffer* backdrop,
                        const std::uint16_t solidColour[4], float sigma, float brightness, int blendMode) {
    checkImages("lightWrapStepFloat", keyed, 32, backdrop, 32);
    if (!stepRuns(sigma, brightness, blendMode)) return;
    float colour[4];
    for (int c = 0; c < 4; ++c) colour[c] = static_cast<float>(solidColour[c]) / 65535.0f;
    lightWrapStep<float, float>(host, keyed, backdrop, colour, sigma, brightness, lightWrapSourceRowsFloat,
                                [blendMode](auto... args) { lightWrapBlendFloat(args..., blendMode); });
}

void lightWrapStep16(Mav::Host::System::Host& host, ImageBuffer& keyed, const ImageBuffer* backdrop,
                     const std::uint16_t solidColour[4], float sigma, float brightness, int blendMode) {
    checkImages("lightWrapStep16", keyed, 16, backdrop, 16);
    if (!stepRuns(sigma, brightness, blendMode)) return;
    lightWrapStep<std::uint16_t, std::uint16_t>(host, keyed, backdrop, solidColour, sigma, brightness,
                                                lightWrapSourceRows16,
                                                [blendMode](auto... args) { lightWrapBlend16(args..., blendMode); });
}

void lightWrapStep8(Mav::Host::System::Host& host, ImageBuffer& keyed, const ImageBuffer* backdrop,
                    const std::uint16_t solidColour[4], float sigma, float brightness, int blendMode) {
    checkImages("lightWrapStep8", keyed, 16, backdrop, 8);
    if (!stepRuns(sigma, brightness, blendMode)) return;
    std::uint8_t colour[4];
    for (int c = 0; c < 4; ++c) colour[c] = static_cast<std::uint8_t>(solidColour[c] >> 8);
    lightWrapStep<std::uint16_t, std::uint8_t>(host, keyed, backdrop, colour, sigma, brightness,
                                               lightWrapSourceRows8,
                                               [blendMode](auto... args) { lightWrapBlend8(args..., blendMode); });
}

}  // namespace vantrelo
