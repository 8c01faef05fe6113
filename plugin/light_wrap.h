#pragma once
// Light wrap: the new backdrop's light spilling over the keyed subject's edges.  The backdrop seen
// where the subject is not (the source S, premultiplied, alpha 1 - matte) is blurred into W and
// blended into the keyed image F in place by one of six modes ("lightwrap blend mode": 0 Soft
// Light, 1 Overlay, 2 Add, 3 Multiply, 4 Screen, 5 Color; other values change nothing).
//
// One step per render depth.  F is float in the float render and 16-bit in the 16- and 8-bit
// renders; S and W have the render's depth.  The backdrop is the pipeline's backdrop image (the
// render's depth, three or four channels), or, when there is none, the solid replacement colour
// (four 16-bit values; the float step divides by 65535, the 8-bit step takes the high bytes).
//
// Everything but the blur runs on the calling thread; the blur runs in bands.  Failures: the
// host's exceptions from the allocations and the blur.

#include <cstddef>
#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/system_host.h"

namespace vantrelo {

// The whole step over the bounds of `keyed` (cut to the backdrop image's bounds when there is
// one).  sigma: the blur in pixels at the render scale; brightness: 0..1.
void lightWrapStepFloat(Mav::Host::System::Host& host, Mav::Host::System::ImageBuffer& keyed,
                        const Mav::Host::System::ImageBuffer* backdrop,
                        const std::uint16_t solidColour[4], float sigma, float brightness,
                        int blendMode);
void lightWrapStep16(Mav::Host::System::Host& host, Mav::Host::System::ImageBuffer& keyed,
                     const Mav::Host::System::ImageBuffer* backdrop,
                     const std::uint16_t solidColour[4], float sigma, float brightness,
                     int blendMode);
void lightWrapStep8(Mav::Host::System::Host& host, Mav::Host::System::ImageBuffer& keyed,
                    const Mav::Host::System::ImageBuffer* backdrop,
                    const std::uint16_t solidColour[4], float sigma, float brightness,
                    int blendMode);

// Source rows: S over width x height from F and the backdrop B.  F and S step by four channels,
// B by bPixelStep bytes (0 together with bRowBytes 0 for a single colour).
void lightWrapSourceRowsFloat(const float* f, const float* b, float* s, std::ptrdiff_t fRowBytes,
                              std::ptrdiff_t bPixelStep, std::ptrdiff_t bRowBytes,
                              std::ptrdiff_t sRowBytes, std::ptrdiff_t width,
                              std::ptrdiff_t height);
void lightWrapSourceRows16(const std::uint16_t* f, const std::uint16_t* b, std::uint16_t* s,
                           std::ptrdiff_t fRowBytes, std::ptrdiff_t bPixelStep,
                           std::ptrdiff_t bRowBytes, std::ptrdiff_t sRowBytes,
                           std::ptrdiff_t width, std::ptrdiff_t height);
void lightWrapSourceRows8(const std::uint16_t* f, const std::uint8_t* b, std::uint8_t* s,
                          std::ptrdiff_t fRowBytes, std::ptrdiff_t bPixelStep,
                          std::ptrdiff_t bRowBytes, std::ptrdiff_t sRowBytes,
                          std::ptrdiff_t width, std::ptrdiff_t height);

// Blend dispatch: out := F blended with the light of W by the mode (out may be F).
void lightWrapBlendFloat(const float* f, const float* w, const float* s, float* out,
                         std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes,
                         std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes,
                         std::ptrdiff_t width, std::ptrdiff_t height, float brightness,
                         int blendMode);
void lightWrapBlend16(const std::uint16_t* f, const std::uint16_t* w, const std::uint16_t* s,
                      std::uint16_t* out, std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes,
                      std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes, std::ptrdiff_t width,
                      std::ptrdiff_t height, float brightness, int blendMode);
void lightWrapBlend8(const std::uint16_t* f, const std::uint8_t* w, const std::uint8_t* s,
                     std::uint16_t* out, std::ptrdiff_t fRowBytes, std::ptrdiff_t wRowBytes,
                     std::ptrdiff_t sRowBytes, std::ptrdiff_t outRowBytes, std::ptrdiff_t width,
                     std::ptrdiff_t height, float brightness, int blendMode);

}  // namespace vantrelo
