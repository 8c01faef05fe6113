#pragma once
// Matte-weighted mixing of 16-bit RGBA images, and the composite that also writes its matte out
// as a grey image.
//
// For a matte value m: 0 copies the second image's pixel (all four channels), 65535 copies the
// first's, and anything between mixes R, G and B as trunc(second x (1 - f) + first x f) with
// f = m x 1.5259022e-05 in single precision, leaving the out pixel's alpha as it was.  All images
// of a call share one layout and one pixel index; out may be the same buffer as an input.
//
// Each returns true when the output holds the result and false, with nothing written, when the
// arguments cannot be used (a null image with a non-empty size, a negative size).

#include <cstddef>
#include <cstdint>

#include "engine/keying/vant_thread.h"

namespace vantrelo {

// Inclusive pixel bounds: columns x0..x1, rows y0..y1; empty when x0 > x1 or y0 > y1.
struct MatteRect {
    std::int32_t x0, y0, x1, y1;
};

// Every pixel of out from first and second, weighted by the alpha of the matte image.
bool mixByMatte16(const std::uint16_t* first, const std::uint16_t* second, std::uint16_t* out,
                  const std::uint16_t* matte, std::ptrdiff_t width, std::ptrdiff_t height);

// The same inside the bounds only, pixel index y x rowLength + x in all four images; the rest of
// out is not touched.  No bounds, or empty ones, mix nothing.  Bounds left of column 0, above
// row 0 or right of the row are clipped; the rows must exist in every image.
bool mixByMatteInRect16(const std::uint16_t* first, const std::uint16_t* second, std::uint16_t* out,
                        const std::uint16_t* matte, std::ptrdiff_t rowLength, const MatteRect* bounds);

// Composite of foreground over background by the foreground's own alpha, over rowCount rows of
// width pixels; matteOut's R, G and B receive that alpha everywhere (its alpha is not touched).
bool doComposite(const std::uint16_t* foreground, const std::uint16_t* background, std::uint16_t* out,
                 std::uint16_t* matteOut, std::ptrdiff_t width, std::ptrdiff_t rowCount);

// doComposite over the whole image, split into row bands over the engine's workers when there
// are at least two and the image is at least 10 x 10; the result is the same either way.
bool compositeWithMatte16(const std::uint16_t* foreground, const std::uint16_t* background,
                          std::uint16_t* out, std::uint16_t* matteOut, std::ptrdiff_t width,
                          std::ptrdiff_t height);

// One band of rows of the composite: band `index` of `bandCount` over `height` rows, the four
// images advanced to the band's first row.
class doComposite_VantThread final : public VantThread {
public:
    doComposite_VantThread(int index, int bandCount, const std::uint16_t* foreground,
                           const std::uint16_t* background, std::uint16_t* out, std::uint16_t* matteOut,
                           std::ptrdiff_t width, std::ptrdiff_t height);
    unsigned run() override;

private:
    const std::uint16_t* foreground_;
    const std::uint16_t* background_;
    std::uint16_t* out_;
    std::uint16_t* matteOut_;
};

// One doComposite_VantThread per engine worker, joined in order.  Returns false, having written
// nothing, when the workers could not be created.
bool runCompositeWorkers(const std::uint16_t* foreground, const std::uint16_t* background, std::uint16_t* out,
                         std::uint16_t* matteOut, std::ptrdiff_t width, std::ptrdiff_t height);

}  // namespace vantrelo
