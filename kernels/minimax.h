#pragma once
// Min/max filters of 16-bit RGBA images: every pixel of an area becomes the per-channel minimum
// (or maximum) over a rectangular window around it; the erosion and dilation of the auto-mask's
// matte.
//
// Window.  For a window of size s along an axis, output position p covers input positions p - a to
// p + b with a = s / 2 and b = s - 1 - a (an even window reaches one further before p than after
// it: s = 4 covers p - 2 to p + 1).  Positions outside the limits are left out: the extreme is
// taken over the pixels that exist, the border is neither padded nor mirrored.
//
// Coordinates are absolute: pixel (x, y) of each of the three images lies at its pixel pointer +
// y x row bytes + x x 8 bytes.  The horizontal pass writes the scratch image over the area's
// columns and every row the vertical pass will read (the area's rows widened by the window, cut
// to the limits); the vertical pass then writes the destination over the area.  Nothing else is
// written.
//
// Cost.  Both passes take the running extreme in blocks of s (van Herk / Gil-Werman): about three
// comparisons per pixel and channel whatever the window, instead of keeping a sorted window.  The
// results are those of the sorted window exactly, since both take the same extreme over the same
// pixels.  Each pass is split into row bands on the fork-join runner; the result does not depend on
// the band count.
//
// Checked on entry (Mav::Exception, nothing written): window sizes of 1 to 2^20, limits and area
// given, the area inside the limits, the pointers given, the scratch distinct from the source and
// the destination.  The images' extents cannot be checked: they must hold the limits.  Exhausted
// memory throws std::bad_alloc ("bad allocation") with the destination possibly partly filtered.

#include <cstddef>
#include <cstdint>

namespace vantrelo {

// Four signed 64-bit bounds, right and bottom exclusive; both x bounds first (unlike Rect).
struct SpanRect {
    std::int64_t x0 = 0;
    std::int64_t x1 = 0;
    std::int64_t y0 = 0;
    std::int64_t y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

// The threading environment of the filters.
struct Quelt_Environ {
    // The caller's processor-feature mask (cpuFeatures); carried, not used by the passes.
    std::uint32_t features = 0;
    // Bands of each pass: 0 one per processor, 1 everything on the calling thread.
    std::uint64_t bandCount = 0;
};

// The filter object, filled by the caller.
struct Quelt_Minimax {
    Quelt_Environ environment;
    const std::uint16_t* source = nullptr;  // pixel (0, 0); may equal destination (in place)
    std::uint16_t* destination = nullptr;   // pixel (0, 0)
    std::uint16_t* scratch = nullptr;       // pixel (0, 0) of a third image, as big as the source
    std::ptrdiff_t sourceRowBytes = 0;
    std::ptrdiff_t destinationRowBytes = 0;
    std::ptrdiff_t scratchRowBytes = 0;  // 0: the smaller of |source| and |destination| row bytes
    const SpanRect* limits = nullptr;    // the source pixels that exist
    const SpanRect* area = nullptr;      // the pixels to compute
    int windowWidth = 1;
    int windowHeight = 1;

    // The minimum filter (erosion).
    static void apply(const Quelt_Minimax& filter);
    // The maximum filter (dilation).
    static void applyMax(const Quelt_Minimax& filter);
};

}  // namespace vantrelo
