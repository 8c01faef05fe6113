#pragma once
// The sampling tools that shape a key: each grows or shrinks one of the three nested polyhedra so
// that given colours fall inside it (grow) or outside it (shrink), touching only the three vertices
// of the face that a colour's direction from the backdrop colour crosses.
//
// Sample lists are row-major blocks of 16-bit RGBA pixels (four channels, R, G, B, A; A is never
// read nor written) given as pointer, width and height.  The list tools fit every sample exactly, in
// list order, each against the radii the samples before it left; the step tools scale the crossed
// face of one colour by a fixed step.  When the state selects an alternative keyer
// (KeyFlagUseRTPlus, KeyFlagUseRT) each tool also drives that engine-wide keyer instance with the
// same samples, the hexagon keyer first.
//
// The tools never restore nesting themselves: the caller follows a tool with enforceNesting in the
// mode that suits it.  They change radii (and keyer values) only; the state is compiled again before
// keying.  They run on the calling thread and must not overlap each other or a keying pass.  Nothing
// is reported to the caller: a colour that cannot be used is skipped, and a degenerate face writes
// one of the "Error : Axis mis-definision (n)" lines to standard error.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// One 16-bit RGBA sample passed by value (the colour of a step tool or of a fine-tune pick).
struct Sample16 {
    std::uint16_t rgba[4];
};

// ---- List tools ----
void growInnerToSamples(const std::uint16_t* samples, int width, int height, KeyState* state);
void growMiddleToSamples(const std::uint16_t* samples, int width, int height, KeyState* state);
// Pushes every sample of the list it works on 10% further from the backdrop colour, in place,
// before fitting it: without KeyFlagPrefilterSamples that is the caller's own list, so a second
// call with the same list sees the pushed colours.
void growOuterToSamples(std::uint16_t* samples, int width, int height, KeyState* state);
void shrinkOuterFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state);
void shrinkMiddleFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state);
void shrinkInnerFromSamples(const std::uint16_t* samples, int width, int height, KeyState* state);

// ---- Step tools: the crossed face's radii times 1 + 0.07 w_k (grow) or 1 - 0.0654 w_k (shrink) ----
void growOuterAtColour(Sample16 colour, KeyState* state);
void growMiddleAtColour(Sample16 colour, KeyState* state);
void growInnerAtColour(Sample16 colour, KeyState* state);
void shrinkInnerAtColour(Sample16 colour, KeyState* state);
void shrinkMiddleAtColour(Sample16 colour, KeyState* state);
void shrinkOuterAtColour(Sample16 colour, KeyState* state);

// Restores inner <= middle <= outer at every vertex: mode 0 from the inner radius outward, 1 from the
// middle radius both ways (the middle never moves), 2 from the outer radius inward; other modes do
// nothing.
void enforceNesting(int mode, KeyState* state);

// ---- Building blocks ----
// The list a tool works on.  With KeyFlagPrefilterSamples and a block of at least 3 x 3 samples, a
// new list of the (width - 2) x (height - 2) medians by luma of every interior sample's 3 x 3
// neighbourhood, obtained through engineAllocate (release it with engineRelease); `count` becomes its
// length.  Otherwise the caller's list, `count` unchanged.  Null, with `count` unchanged, when the
// allocation fails.  The caller's block is never written.
const std::uint16_t* gatherSamples(const std::uint16_t* samples, int width, int height, const KeyState* state,
                                   std::ptrdiff_t* count);

// Face of the fixed mesh crossed by the colour's direction (its three vertex indices, written once
// the direction is known; the fixed mesh also under KeyFlagGeneratedPolyhedron) and the barycentric
// weights of the crossing on the flat triangle of the face's unit directions (written only on
// success).  1 on success; -1 within distance 1 of the backdrop colour; -2, -4, -5 for a degenerate
// configuration (with a diagnostic on standard error); -3 when the crossing misses the face's edge.
int intersectFace(const std::uint16_t* colour, int* face, float* weights, const KeyState* state);
// -1 when the sample lies inside the face at the given radii (the face's plane is beyond it along
// its ray from the backdrop colour), else 1.
int faceSideOfSample(const float* radii, const int* face, const std::uint16_t* sample, const KeyState* state);
// Radii of the face, fitted so that the sample falls just inside (outward) or just outside (inward);
// each radius only ever moves that way.  1, or -1 with the radii untouched when the fit needs a
// scale outside its range.
int fitRadiusOutward(const std::uint16_t* sample, const int* face, const float* weights, float* radii,
                     const KeyState* state);
int fitRadiusInward(const std::uint16_t* sample, const int* face, const float* weights, float* radii,
                    const KeyState* state);
// R, G, B := (v - backdrop) * 1.1 + backdrop, limited to 0..65535 and truncated.
void pushSampleOutward(std::uint16_t* sample, const KeyState* state);

// ---- Small geometry operations ----
// out = backdrop + s * d_vertex.
void pointOnDirection(float s, int vertex, float* out, const float* backdrop);
// P_k = backdrop + r_k * d_k for the face's three vertices.
void faceVertexPoints(const float* radii, const int* face, float (*points)[3], const float* backdrop);
// faceSideOfSample with the radii max(s * w_k, r_k).
int faceSideWithGrownRadii(float s, const float* weights, const float* radii, const int* face,
                           const std::uint16_t* sample, const KeyState* state);
// In place: r_k = max(r_k, s * w_k).
void growRadiiToScale(float s, const float* weights, float* radii);
// faceSideOfSample with the radii min(r_k, 65535 / (w_k * s)) where w_k > 0, else r_k.
int faceSideWithShrunkRadii(float s, const float* weights, const float* radii, const int* face,
                            const std::uint16_t* sample, const KeyState* state);
// In place: r_k = min(r_k, 65535 / (w_k * s)) where w_k > 0.
void shrinkRadiiToScale(float s, const float* weights, float* radii);
float max3(float a, float b, float c);
float min3(float a, float b, float c);
// R, G, B of a sample as floats.
void sampleToVector(const std::uint16_t* sample, float* out);
// All 198 radii := 1.0.
void resetRadiiToOne(KeyState* state);

}  // namespace vantrelo
