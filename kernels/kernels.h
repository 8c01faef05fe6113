#pragma once
// The image kernels: the pixel machinery of the render.  Include this header for all of them.
//
// The kernel contract, which every kernel here follows:
//
// 1. Destination.  A kernel writes only the destination it is given, and of it only the pixels of
//    its region; nothing else of the caller's is changed.  Pixels outside the region keep their
//    values, so any band or tile of a larger image can be handed to a kernel on its own.
// 2. Sources.  Sources are only read, and only inside their bounds (a warp never reads past a
//    source's edge, whatever the transform).  Unless a kernel says otherwise (the blur and the
//    min/max filters may work in place) a source is a different buffer from the destination.
// 3. Parameters.  Matrices, sigmas and window sizes are taken as given; their limits are stated
//    with each kernel.  Images are addressed in their global pixel coordinates: pixel (x, y) of an
//    ImageBuffer lies at firstPixel + (y - bounds.y0) x rowBytes + (x - bounds.x0) x bytes per
//    pixel, offsets in 64 bits; channels are interleaved R, G, B(, A) of 8 bits (0..255), 16 bits
//    (0..65535) or 32-bit float (nominally 0..1).
// 4. Region.  The region is the destination's bounds (or the area given); a kernel never writes
//    outside it.  Empty regions are not an error: nothing is done.
// 5. Runner.  A kernel splits its region into bands of rows (or columns) and runs them on the
//    host's fork-join runner, one band per processor, band 0 on the calling thread; it returns when
//    every band has finished.  Band k of n takes lines first + k(end - first)/n up to
//    first + (k + 1)(end - first)/n.  Results never depend on the number of bands.
//
// Checking and failures.  Kernels check their arguments on entry (formats that do not fit,
// sources that do not cover the region, sigmas that are not numbers) and throw Mav::Exception with
// a text naming the kernel before touching a pixel; band loops assume valid input.  Exhausted
// memory throws std::bad_alloc.  Progress goes to the host (Mav::Host::System::Host::tickProgress
// or reportProgress, the band index as the key), which may throw Mav::Interrupted to abandon the
// work; a failure in any band is rethrown to the caller after all bands have stopped, and rows
// already written keep their new values.
//
// What is here:
//   band_job.h                   BandJob, BoundTask, runBoundTask, runBands, bandRange
//   convert_image.h              convertImageTo16 and its workers, floatPixelToRgba16
//   pixel_maths.h                lighting correction of a pixel, soft light, RGB <-> HSL steps
//   bilinear.h                   bilinear samplers of 8- and 16-bit RGB(A) blocks
//   warp.h                       the twelve warps through a Matrix3 (kernels/matrix3.h)
//   recursive_gaussian_filter.h  RecursiveGaussianFilter and its line functions
//   recursive_gaussian_blur.h    RecursiveGaussianBlur
//   minimax.h                    Quelt_Minimax: min/max filters of 16-bit RGBA images

#include "kernels/band_job.h"
#include "kernels/bilinear.h"
#include "kernels/convert_image.h"
#include "kernels/matrix3.h"
#include "kernels/minimax.h"
#include "kernels/pixel_maths.h"
#include "kernels/recursive_gaussian_blur.h"
#include "kernels/recursive_gaussian_filter.h"
#include "kernels/warp.h"
