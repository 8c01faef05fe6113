#pragma once
// Drawing a source image into a destination through a 3x3 transform (source pixel coordinates to
// destination pixel coordinates; pixel (i, j) is the point (i, j), no half-pixel offset).
//
// Twelve variants: three destination depths (float, 16-bit, 8-bit) by four pixel operations.
//   warpLayerPremultiplied*  an 8-bit RGBA layer with premultiplied alpha, composited over
//   warpLayerStraight*       an 8-bit RGBA layer with straight alpha, composited over
//   warpForegroundRgba*      a 4-channel source of the destination's depth, written
//   warpForegroundRgb*       a 3-channel source of the destination's depth, written with full alpha
// The destination has 3 channels (receives R, G, B) or 4 (also alpha).
//
// Geometry, the same in every variant:
// - An identity matrix (all nine elements exactly those of I; -0 counts as 0, NaN as different)
//   takes every pixel of the overlap of both bounds unresampled.
// - Otherwise the four corners of the source's bounds, (x0, y0) to (x1, y1) with the exclusive
//   edges as corners, are projected through the matrix (in double, rounded to single) and the
//   quadrilateral is scan-converted: on row r the columns from ceil(left X) up to, not including,
//   right X truncated.  Source coordinates are interpolated linearly in destination space along the
//   edges and the rows, so an affine matrix is exact and a projective one is not
//   perspective-correct inside.  The corners are single precision; each row's edge positions and
//   each pixel's source point are formed in double precision from the row and column numbers (never
//   stepped from where a band or tile begins), and the bilinear weights are single precision.
// - A destination pixel whose source point (u, v) lies in [x0, x1 - 1] x [y0, y1 - 1] takes the
//   bilinear sample of the 2 x 2 block at floor(u), floor(v), moved in by one at the last column
//   or row (weight 1 on that column or row); other pixels are left untouched.  A source one pixel
//   wide (or high) is sampled over [x0, x0 + 1] from its one column (row), never past its edge.
// - A quadrilateral with a corner at w = 0, with w of mixed signs or with a non-finite corner
//   draws nothing.  Rows visited are always those of the destination frame (plus one), so huge
//   coordinates cost nothing more.
// - Results do not depend on the number of bands, and a tile of a destination (a destination with
//   other bounds) gets the very pixels the whole destination gets there, the outline's edges
//   included.
//
// Pixel operations (s the source pixel or the sample, d the destination pixel; integer formulas in
// unsigned 32-bit arithmetic, quotients truncated):
// - foreground: d.RGB := s.RGB; d.A := s.A (4-channel source) or the channel maximum (3-channel).
// - layer over, a = s.A, c each of s.R, s.G, s.B (8-bit):
//     16-bit premultiplied  d.c := (d.c (255 - a) + c 65535) / 255
//     16-bit straight       d.c := (c a 257 + d.c (255 - a)) / 255
//     8-bit premultiplied   d.c := (d.c (255 - a) + c 255) / 255
//     8-bit straight        d.c := (c a + d.c (255 - a)) / 255
//     16-bit alpha, both    d.A := (d.A (255 - a) + a 65535) / 255
//     8-bit alpha, both     d.A := (d.A (255 - a) + a 255) / 255
//     float, A = a / 255, k = 1 - A: premultiplied d.c := c / 255 + k d.c, straight
//     d.c := (c / 255) A + k d.c, alpha d.A := k d.A + A.
//   A premultiplied layer must have no colour above its alpha; if one has, the integer result is
//   held at the channel maximum instead of wrapping.  Float results are never clamped.
//
// Launchers: (host, destination, source, matrix).  They run the variant's band worker on every
// processor of the host and return when all bands have finished; the destination's pixels are the
// only thing changed.  Checked on entry (Mav::Exception, nothing drawn): the destination's depth
// is the variant's and it has 3 or 4 channels; the source has the variant's depth and channel
// count (layers: 8-bit, 4 channels) and is not the destination; both bounds lie within +-2^24.
// A source without pixels draws nothing.  Each band ticks the host's progress (its band index as
// the key) after every row whose number is a multiple of 32; Mav::Interrupted from a tick ends the
// warp with the rows already drawn kept, after all bands have stopped.

#include <cstdint>

#include "kernels/band_job.h"
#include "kernels/matrix3.h"

namespace vantrelo {

// The job shared read-only by the bands of one warp.
struct WarpJob {
    SystemHost* host = nullptr;
    ImageBuffer* destination = nullptr;
    const ImageBuffer* source = nullptr;
    const Matrix3* matrix = nullptr;  // source to destination
};

void warpLayerPremultipliedFloat(SystemHost& host, ImageBuffer& destination,
                                 const ImageBuffer& source, const Matrix3& matrix);
void warpLayerStraightFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                            const Matrix3& matrix);
void warpForegroundRgbaFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                             const Matrix3& matrix);
void warpForegroundRgbFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                            const Matrix3& matrix);

void warpLayerPremultiplied16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                              const Matrix3& matrix);
void warpLayerStraight16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix);
void warpForegroundRgba16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                          const Matrix3& matrix);
void warpForegroundRgb16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix);

void warpLayerPremultiplied8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                             const Matrix3& matrix);
void warpLayerStraight8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix);
void warpForegroundRgba8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix);
void warpForegroundRgb8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix);

// The band workers behind the launchers: (WarpJob*, band index, band count, progress key).  Band k
// of n draws destination rows y0 + k(y1 - y0)/n up to y0 + (k + 1)(y1 - y0)/n and nothing else.
// They assume the launcher's checks have passed.
void warpLayerPremultipliedFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                     std::uint64_t key);
void warpLayerStraightFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                std::uint64_t key);
void warpForegroundRgbaFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t key);
void warpForegroundRgbFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                std::uint64_t key);
void warpLayerPremultiplied16Band(void* job, std::uint64_t index, std::uint64_t count,
                                  std::uint64_t key);
void warpLayerStraight16Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
void warpForegroundRgba16Band(void* job, std::uint64_t index, std::uint64_t count,
                              std::uint64_t key);
void warpForegroundRgb16Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
void warpLayerPremultiplied8Band(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t key);
void warpLayerStraight8Band(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void warpForegroundRgba8Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key);
void warpForegroundRgb8Band(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

}  // namespace vantrelo
