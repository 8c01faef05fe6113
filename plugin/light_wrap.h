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
// A step splits the source rows, the blur and the blend into bands of rows on the host's runner
// (every pixel of the rows and the blend depends on its own pixels alone, so the bands change
// nothing but the time); the row and blend functions below work on the rows they are handed, on
// the calling thread.  Failures: the host's exceptions from the allocations and the blur.

#include <cstddef>
#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/system_host.h"

namespace vantrelo {

// The whole step over R, the bounds of `keyed` cut to the backdrop image's bounds when there is
// one; pixels of `keyed` outside R are not touched.  sigma: the blur in pixels at the render
// scale; brightness: 0..1.  S and W cover R alone, so the blur reads nothing that the source rows
// did not write and R's edges are continued as the image's own edges are; R reaches the light-wrap
// margin beyond the output, far enough that tiles agree with the whole image.  A sigma or a
// brightness that is not above 0, or a mode outside 0..5, leaves `keyed` as it is.  keyed must
// have four channels (float in the float step, 16-bit in the others) and the backdrop image the
// render's depth with three or more channels; anything else throws Mav::Exception before a pixel
// is touched.
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

// Blend dispatch: out := F blended with the light of W by the mode (out may be F); a mode outside
// 0..5 changes nothing.  Per pixel, with the unpremultiply factor h of W (1 / W.A, 65535 / W.A or
// 255 / W.A when W.A > 0 and not below any colour of W, else 1):
//   light  L.c = h W.c (float); trunc(W.c h) (16-bit); trunc(W.c h) x 257 (8-bit W, 16-bit L)
//   weight k = (1 - S.A) W.A brightness (float); in 16 bits trunc((65535 - S.A) W.A x
//          (brightness / 65535)) and with 8-bit light images trunc((255 - S.A) W.A x (brightness
//          x 257 / 255)), each product taken to single precision first; k is 0..65535
// so k is the subject's alpha times the backdrop around it.  The 8-bit dispatch reads W and S as
// 8-bit images and F and out as 16-bit ones; past L and k it computes what the 16-bit one does.
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

// The per-pixel blends of the modes that need more than a line (F, out: RGBA; L: RGB light; k the
// weight).  Float: k 0..1, nothing clamped.  16-bit: L and k 0..65535, truncating integer
// arithmetic; out.A = F.A unless the mode raises it (Add).
void overlayPixelFloat(float* out, const float* f, const float* light, float k);
void colorPixelFloat(float* out, const float* f, const float* light, float k);
void overlayPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light,
                    std::uint32_t k);
void addPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light,
                std::uint32_t k);
void colorPixel16(std::uint16_t* out, const std::uint16_t* f, const std::uint32_t* light,
                  std::uint32_t k);

}  // namespace vantrelo
