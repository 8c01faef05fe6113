#pragma once
// The generated form of the key geometry: the octahedron around the backdrop colour with each face
// cut into 16 triangles and every vertex pushed out to the unit sphere (66 vertices, 128 faces),
// built at start-up with vertex adjacency and a lookup grid that finds the face crossed by a
// colour's direction with one table read.  A state with KeyFlagGeneratedPolyhedron takes its faces
// from getsegment1 and must have its face data compiled over these faces (compileGeneratedFaces).
//
// Face numbering: face = 16 * octant + position within the octant, the octant bits (1 red, 2 green,
// 4 blue) set for differences <= 0; positions run row by row from the red corner towards the
// green-blue edge.  Vertex numbering is the build's own; radii lists stay in the fixed vertex order
// of polyhedron.h and are matched to generated vertices by direction.

#include <cstdint>

#include "engine/keying/key_state.h"
#include "engine/keying/polyhedron.h"

namespace vantrelo {

// Subdivision count per octant edge.
inline constexpr std::int32_t kGeneratedSubdivision = 4;

// Builds every table once; later calls (and calls from several threads) return at once.  The face
// lookups build on first use too, so no lookup ever reads an empty grid.
void buildGeneratedPolyhedron();

// Face (0..127) crossed by the direction from the state's backdrop colour to the colour.  A cell of
// the grid that no face fills gives 16 * octant - 1 (the last face of the previous octant); in
// octant 0 that is -1, which writes "Vantrelo: internal error at getsegment1" to standard error and
// gives face 0.  The colour equal to the backdrop gives face 111.
std::int32_t getsegment1(std::int32_t r, std::int32_t g, std::int32_t b, const KeyState* state);
std::int32_t getsegment1OfPixel16(const std::uint16_t* pixel, const KeyState* state);
// Each channel truncated toward zero first (limited to the int32 range, NaN gives 0).
std::int32_t getsegment1OfFloats(float r, float g, float b, const KeyState* state);
std::int32_t getsegment1OfVector(const float* colour, const KeyState* state);

// The face-equation step of key compilation over the generated faces: writes the per-face
// equations, reaches and backdrop dots of all three surfaces (radii chosen by KeyFlagMiddleOnly and
// KeyFlagOuterFromMiddle as in compileKey) and nothing else; the caller fills the face table from
// them afterwards.  Returns 1.
std::int32_t compileGeneratedFaces(KeyState* state);

// Grid cell (cr, cg, cb), each 0..3, of three magnitudes below 65536.
void generatedGridCell(std::uint32_t mr, std::uint32_t mg, std::uint32_t mb, std::int32_t* cell);
// Face position 0..15 held by a grid cell, -1 for an empty cell or a cell index outside 0..3.
std::int32_t generatedGridEntry(std::int32_t cr, std::int32_t cg, std::int32_t cb);

// Read access to the built tables.  Indices outside the tables give vertex or face 0.
std::int32_t generatedVertexCount();
std::int32_t generatedFaceCount();
const float* generatedDirection(std::int32_t vertex);
// The fixed vertex (polyhedron.h order) that has the generated vertex's direction.
std::int32_t generatedFixedVertex(std::int32_t vertex);
// Six slots each, -1 for an empty slot.
const std::int32_t* generatedNeighbours(std::int32_t vertex);
const std::int32_t* generatedVertexFaces(std::int32_t vertex);

// Generated twins of the small face operations.  `radii` is a key's radii list (fixed order).
void generatedVertexPosition(const float* radii, std::int32_t vertex, float* point, const float* backdrop);
void generatedFaceIndices(std::int32_t face, std::int32_t* indices);
void generatedFacePositions(float (*points)[3], std::int32_t face, const float* radii, const float* backdrop);
void generatedFacePositions(float (*points)[3], const std::int32_t* vertices, const float* radii,
                            const float* backdrop);

// The vector and face-plane operations the module works with: those of polyhedron.h.
namespace generated {
using vantrelo::faceEquation;
using vantrelo::faceNormal;
using vantrelo::negatedEquationValue;
using vantrelo::vec3Cross;
using vantrelo::vec3Dot;
using vantrelo::vec3Length;
using vantrelo::vec3Normalize;
}  // namespace generated

}  // namespace vantrelo
