#pragma once
// Automatic key: shapes the three polyhedra of a key from a whole image instead of user strokes.
//
// Every pixel's chroma is projected onto one line through the backdrop colour; a 256-bin histogram
// of the projections shows the band of backdrop pixels, the band of subject pixels and the
// transition between them, and the pixels of those bands drive the list sampling tools
// (growInnerToSamples, shrinkMiddleFromSamples, shrinkOuterFromSamples, growOuterToSamples), each
// followed by enforceNesting.  Only the radii of the state change (and, through the tools, the
// engine-wide keyer instances); the caller compiles the state again before keying with it.
//
// Pixels are packed rows of 16-bit RGBA; R, G and B are read, A is copied with a pixel into the
// sample lists.  The backdrop colour of a call is three 16-bit channels passed apart from the state.
//
// Projection: a pixel with the backdrop's chroma lands in bin 128, a grey pixel in the grey bin G
// (below 128), and bins fall toward 0 as the chroma moves from the backdrop toward grey and
// beyond; a pixel projecting past bin 0 is not counted.  Sums over the image are exact 64-bit
// integer sums, so the mean direction does not drift on large photographs.
//
// Runs on the calling thread and must not overlap a keying pass or a tool on the same state.
// Nothing throws.  A failure (unusable arguments, scratch memory the engine allocator refused) is
// reported through `failed` (or the result, where an operation has no other) with the state left
// exactly as it was: every scratch block is obtained before the first tool runs.

#include <cstddef>
#include <cstdint>

#include "engine/effects/histogram.h"
#include "engine/keying/key_state.h"

namespace vantrelo {

// ---- Core operation and drivers ----

// Runs the steps that the settings select and returns true when at least one pixel was used as a
// sample.  growInner: grow the inner polyhedron to the inner band; shrinkOuter: shrink the outer
// polyhedron from the subject band (and the middle one with shrinkMiddle); growOuter: grow the
// outer polyhedron to the boundary colours of backdrop-like pixels of the transition band;
// innerWidening / outerWidening widen (negative: narrow) the inner and the subject band;
// skipInnerGrowth keeps the inner band for the band tests but grows nothing with it;
// boundaryScale scales the step to a pixel's boundary colour; dominance is the channel-dominance
// factor of isBackdropLike.  No pixels (width x height < 1) is not a failure: nothing runs and the
// result is false.
bool autoKeyFromHistogram(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB,
                          const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, KeyState* state,
                          bool growInner, bool shrinkOuter, bool growOuter, float innerWidening, float outerWidening,
                          bool skipInnerGrowth, bool shrinkMiddle, float boundaryScale, float dominance,
                          bool* failed = nullptr);

// The same over the pixels of columns 0, stepX, 2 stepX, ... of rows 0, stepY, 2 stepY, ...;
// `outer` stands for both shrinkOuter and growOuter, and a middle, outer or boundary list of more
// than 10000 samples is cut to 10000 (entry k := entry k x (number / 10000) for k < 9999, entry
// 9999 keeps its own sample).  Steps below 1 are unusable arguments.
bool autoKeyFromHistogramSampled(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB,
                                 const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                                 KeyState* state, bool growInner, bool outer, float innerWidening, float outerWidening,
                                 bool skipInnerGrowth, bool shrinkMiddle, std::ptrdiff_t stepX, std::ptrdiff_t stepY,
                                 float boundaryScale, float dominance, bool* failed = nullptr);

// Only the outer growth toward boundary colours, with the caller's widenings, boundaryScale and
// dominance.  True when it ran (whether or not a pixel was used); false only on a failure.
bool makeAutoKeyMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::uint16_t backdropR,
                     std::uint16_t backdropG, std::uint16_t backdropB, KeyState* state, float innerWidening,
                     float outerWidening, float boundaryScale, float dominance);

// Middle and outer shrink around the state's own backdrop colour (each channel truncated to
// 0..65535); the subject band is widened by 1.0 when the state has KeyFlagSimulatedForeground.
// Returns the core operation's result.
bool autoKeyMaskFromBackdrop(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, KeyState* state,
                             bool skipInnerGrowth, bool* failed = nullptr);

// The same for float RGBA pixels on 0..maximum: each channel becomes (int)(v x 65535 / maximum)
// limited to 0..65535 in a scratch 16-bit image.  A maximum that is not a positive finite number
// is an unusable argument.
bool autoKeyMaskFromBackdropFloat(float maximum, const float* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                                  KeyState* state, bool skipInnerGrowth, bool* failed = nullptr);

// ---- Operations used inside ----

// Two rows of four floats applied to a pixel as c0 R + c1 G + c2 B + c3: `along` is 0 for the
// backdrop's chroma and 65535 f for grey (f the backdrop's chroma length on 0..1); `across`
// measures the chroma across that direction.  A backdrop of chroma below 1e-5 uses a fixed axis.
void backdropChromaAxes(std::uint16_t backdropR, std::uint16_t backdropG, std::uint16_t backdropB, float along[4],
                        float across[4]);

// Colour sum below 30720: false.  Blue backdrop (B largest): B > x G and B > x R.  Green backdrop:
// when G > 2 B, 1.2 G > R; otherwise G > x B and G > x R.  Any other backdrop (red largest, or
// ties): R is larger than G and B, without the factor.
bool isBackdropLike(const std::uint16_t* colour, const std::uint16_t* backdrop, float dominance);

// Homes in, by 15 halving steps along the ray from the backdrop colour through the pixel, on the
// last place where isBackdropLike changes, and writes pixel + (place - pixel) x boundaryScale
// (limited to 0..65535) into out[0..2].  A pixel equal to the backdrop colour has no ray: out is
// the pixel itself.
void findBackdropBoundary(const std::uint16_t* pixel, const std::uint16_t* backdrop, std::uint16_t* out,
                          float boundaryScale, float dominance);

// ---- Building blocks, exposed for the tests and the backdrop detection ----

// Truncated coordinates of one pixel on the two axes.
struct ChromaCoordinates {
    std::int32_t across;
    std::int32_t along;
};
ChromaCoordinates chromaCoordinates(const std::uint16_t* pixel, const float along[4], const float across[4]);

// Mean coordinates (exact 64-bit sums, truncated toward zero) and the unit direction they give;
// along alone when the mean is shorter than 1e-5.
struct ChromaDirection {
    std::int32_t meanAcross;
    std::int32_t meanAlong;
    float dAlong;
    float dAcross;
};
// Over every stepX-th column of every stepY-th row, on the engine's workers for a large image.
// False for unusable arguments (a null image with pixels, negative sizes, steps below 1) and when
// the workers could not be had; an image without pixels gives the along direction.
bool meanChromaDirection(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t stepX,
                         std::ptrdiff_t stepY, const float along[4], const float across[4], ChromaDirection* out);

// Histogram bin of a pixel's coordinates: projection p onto the direction (0 when not positive),
// bin (1024 - (p >> 6)) >> 3.  128 for the backdrop's chroma; negative (not counted) from p = 65600.
std::int32_t chromaBin(ChromaCoordinates coordinates, float dAlong, float dAcross);

// Bands found in a histogram of bins, and the steps they leave on.
struct AutoKeyBands {
    std::int32_t greyBin;     // G
    std::int32_t innerStart;  // N, where the inner and valley searches start
    std::int32_t firstBin;    // E, first non-empty bin after smoothing
    std::int32_t innerLow;    // V
    std::int32_t innerHigh;   // U
    std::int32_t valley;      // W
    std::int32_t subjectLow;  // Lo
    bool growInner;
    bool shrinkOuter;
    bool growOuter;
};
// Normalises and smooths `counts` (256 bins, changed in place), searches its derivative and
// applies the widenings: steps 5 to 10 of the automatic key.  False when the derivative's storage
// could not be had (then `bands` is not written).
bool findAutoKeyBands(Histogram& counts, std::int32_t greyBin, bool growInner, bool shrinkOuter, bool growOuter,
                      float innerWidening, float outerWidening, AutoKeyBands* bands);

}  // namespace vantrelo
