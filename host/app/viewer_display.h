#pragma once
// Putting the viewer's picture on the screen.
//
// drawImage converts a region of an 8-bit RGB(A) image into a toolkit bitmap through the host's
// working colour profile to sRGB (perceptual or relative colorimetric, as the host says), lays
// transparent pixels over a grey checkerboard of 64 x 64 squares (64 and 192) anchored at the
// image domain's origin, and draws the bitmap one pixel per client pixel.  magnifyImage is the
// viewer's own magnification for zoom above 1; unlike the toolkit's display resample it keeps
// alpha, so transparency shows the checkerboard at every zoom.

#include "host/app/host.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"

class wxBitmap;
class wxGraphicsContext;

namespace Mav::Host::App {

// r := v; draws region n of the image (clipped to the image's bounds) at v's top-left corner.
// `scale` divides the checkerboard anchor offsets (1 from the viewer).  A null gc only converts.
void drawImage(double scale, Host& host, System::Rect& r, System::Rect n, const System::Rect& v,
               const System::ImageBuffer& image, wxGraphicsContext* gc);
// The conversion of drawImage alone: an opaque bitmap of region n (already clipped), or an
// invalid bitmap when the toolkit cannot give raw access.
wxBitmap displayBitmap(double scale, Host& host, const System::Rect& n,
                       const System::ImageBuffer& image);
// Allocates `target` as 8-bit RGBA over `rect` in the source's domain scaled by `factor` and fills
// it by bilinear interpolation of the source (8-bit, 4 channels), alpha included.  Positions
// outside the source's bounds take the nearest pixel inside.
void magnifyImage(System::ImageBuffer& target, const System::ImageBuffer& source,
                  const System::Rect& rect, float factor);

}  // namespace Mav::Host::App
