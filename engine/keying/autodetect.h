#pragma once
// Keys built without user strokes.
//
// autodetectBackdrop finds the backdrop colour of a photograph from its hue histogram, starts a
// key from it and shapes the key with the histogram-driven automatic key.  autoKeyPipeline chains
// that with one keying pass and two refinement passes that feed image pixels to the sampling tools
// where the softened matte disagrees with the raw one.  autoKeyFromDominantColours keys against a
// white backdrop, shrinking the outer polyhedron away from the image's dominant colours that are
// darker than near-white and from the pixels a first keying pass found opaque.
//
// Images are packed rows of 16-bit RGBA.  Each operation works on the caller's state on the
// calling thread (its keying passes use the band workers), leaves the state shaped and released
// and its flags as they were, and must not overlap a keying pass or a tool on the same state.
//
// Results: 1 done; -1 when both output pointers are null (nothing happens) or, for the
// autodetection, when the image shows no backdrop: then "vantrelo error: autodetection failed"
// and a line feed go to standard output and the state is left as it was; -2 when the operation
// could not be carried out (unusable arguments, memory, a keying pass that failed), after which
// the key may be partly shaped.  Memory refused to the autodetection before the key starts (the
// hue histogram, the starting cloud) is such a -2, never "autodetection failed": nothing is
// printed and the state and outColour are left as they were.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// With outColour (may be null) the key starts from the detected colour (selectBackdropColour when
// `select`, else setBackdropColour) and, once it has, outColour receives its R, G, B.  Without
// outColour the state keeps its backdrop colour and radii, and only `request` being non-null lets
// the call run.  With KeyFlagSimulatedForeground the histogram key reads the lighting-corrected image.
// The inner radii start at 2550; innerWidening, outerWidening, shrinkMiddle, boundaryScale and
// dominance go to the automatic key unchanged.  firstRegion and secondRegion are the lower and
// upper channel bounds of detectBackdropColour (may be null).
int autodetectBackdrop(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                       std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                       float outerWidening, bool select, bool shrinkMiddle, float boundaryScale,
                       const std::int32_t* firstRegion, const std::int32_t* secondRegion, float dominance);

// autodetectBackdrop with select true.
int autodetectSelectBackdrop(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                             std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                             float outerWidening, bool shrinkMiddle, float boundaryScale, float dominance,
                             const std::int32_t* firstRegion, const std::int32_t* secondRegion);

// autodetectBackdrop with select true, boundaryScale 1.0, no regions and dominance 1.02.
int autodetectBackdropSimple(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                             std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                             float outerWidening, bool shrinkMiddle);

// Steps, a bit set: 1 autodetection (its -1 is not an error here: the state keeps its key),
// 2 outer refinement, 4 inner refinement.  One keying pass always runs; with 2 the pixels whose raw
// matte is above `threshold` and below the softened (edge pushed inward) matte shrink the outer
// polyhedron; with 4 the pixels whose raw matte is above 1 - threshold and above the softened
// matte grow the inner one.  The matte shrink is used at most 0.99.
int autoKeyPipeline(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                    std::uint16_t* outColour, const void* request, KeyState* state, float innerWidening,
                    float outerWidening, int matteRadius, float matteShrink, float threshold, int steps);

// Key against white: outColour (when given) receives white; outSample (when given) the last
// dominant colour used to shrink the outer polyhedron (left unwritten when none was darker than
// near-white).  All ten colours of each dominant-colour list that the segmentation filled are
// tested.
int autoKeyFromDominantColours(const std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                               std::uint16_t* outColour, std::uint16_t* outSample, KeyState* state);

}  // namespace vantrelo
