#pragma once
// The fixed mesh of the key model: 66 vertex directions around the backdrop colour and 128
// triangular faces between them, shared by the inner, middle and outer polyhedra of every key.
//
// Vertex v points along the lattice vector kVertexLattice[v] (the integer points with
// |i| + |j| + |k| = 4, i.e. the octahedron with each face subdivided twice), normalised.  The order
// is fixed: every radii list and the key data file follow it.
//
// Face codes are 7 bits: bits 0-2 the octant (bit 0 set when the red difference from the backdrop
// is positive, bit 1 green, bit 2 blue; zero counts as not positive), bits 3-4 the sub-face of the
// first subdivision, bits 5-6 that of the second (3 is the centre triangle of its parent, 0-2 the
// corner triangles).
//
// Face lookup.  Within an octant take the magnitudes a = |dR|, b = |dG|, c = |dB| and the point
// p = 4 (a, b, c) / (a + b + c) of the flat octant triangle x + y + z = 4.  The 16 faces of the
// octant are the unit triangles of that triangle's lattice, and each is named by the whole parts
// (gx, gy, gz) of a point inside it: an "up" triangle (corners g + e_i) has gx + gy + gz = 3, a
// "down" triangle (corners g + 1 - e_i) has 2.  Without a division,
//     gx = [3a > b + c] + [a > b + c] + [a > 3 (b + c)]         (x > 1, x > 2, x > 3)
// and likewise for gy, gz.  Spelled out as the two levels of the subdivision:
//   first level:  a > b + c selects the red corner triangle (likewise b, c); else the centre one;
//   second level, inside the red corner triangle (4,0,0) (2,2,0) (2,0,2):
//       a > 3 (b + c) its red corner, 3b > a + c its (2,2,0) corner, 3c > a + b its (2,0,2)
//       corner, else its centre;
//   second level, inside the centre triangle (2,2,0) (0,2,2) (2,0,2):
//       3a <= b + c its (0,2,2) corner, 3b <= a + c its (2,0,2) corner, 3c <= a + b its (2,2,0)
//       corner, else its centre (which holds the grey direction a = b = c).
// The whole parts are strict comparisons, so a point on a shared edge goes to one of the faces
// that contain it; a lattice vertex itself (sum 1) and the zero difference (sum 0) are sent to a
// face that contains the vertex, respectively to the centre face of octant 0 (code 120).  The
// table from (octant, gx, gy, gz) to the face code is derived from kFaceVertices at compile time,
// so the lookup and the face table cannot disagree.

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// Lattice vector of every vertex; direction = vector / length.
inline constexpr std::int8_t kVertexLattice[kVertexCount][3] = {
    {4, 0, 0},   {0, 4, 0},   {0, 0, 4},   {-4, 0, 0},  {0, -4, 0},  {0, 0, -4},   //  0- 5
    {2, 2, 0},   {0, 2, -2},  {-2, 2, 0},  {0, 2, 2},   {2, 0, -2},  {-2, 0, -2},  //  6-11
    {-2, 0, 2},  {2, 0, 2},   {2, -2, 0},  {0, -2, -2}, {-2, -2, 0}, {0, -2, 2},   // 12-17
    {1, 3, 0},   {3, 1, 0},   {0, 3, -1},  {0, 1, -3},  {-1, 3, 0},  {-3, 1, 0},   // 18-23
    {0, 3, 1},   {0, 1, 3},   {3, 0, -1},  {1, 0, -3},  {-1, 0, -3}, {-3, 0, -1},  // 24-29
    {-3, 0, 1},  {-1, 0, 3},  {1, 0, 3},   {3, 0, 1},   {3, -1, 0},  {1, -3, 0},   // 30-35
    {0, -1, -3}, {0, -3, -1}, {-3, -1, 0}, {-1, -3, 0}, {0, -1, 3},  {0, -3, 1},   // 36-41
    {1, 1, -2},  {1, 2, -1},  {2, 1, -1},  {-2, 1, -1}, {-1, 2, -1}, {-1, 1, -2},  // 42-47
    {-1, 1, 2},  {-1, 2, 1},  {-2, 1, 1},  {2, 1, 1},   {1, 2, 1},   {1, 1, 2},    // 48-53
    {2, -1, -1}, {1, -2, -1}, {1, -1, -2}, {-1, -1, -2}, {-1, -2, -1}, {-2, -1, -1},  // 54-59
    {-2, -1, 1}, {-1, -2, 1}, {-1, -1, 2}, {1, -1, 2},  {1, -2, 1},  {2, -1, 1},   // 60-65
};

// The three vertices of every face, by face code, in stored order.  The order fixes the sign of
// the face normal, which cancels in every surface ratio.
inline constexpr std::int32_t kFaceVertices[kFaceCount][3] = {
    {39, 37, 4},  {37, 35, 4},  {1, 20, 22},  {1, 18, 20},  {41, 39, 4},  {35, 41, 4},  {1, 22, 24},  {1, 24, 18},
    {38, 59, 16}, {36, 56, 15}, {7, 21, 47},  {6, 19, 44},  {40, 62, 17}, {34, 65, 14}, {8, 23, 50},  {9, 25, 53},
    {57, 36, 15}, {54, 34, 14}, {8, 45, 23},  {7, 42, 21},  {60, 38, 16}, {63, 40, 17}, {9, 48, 25},  {6, 51, 19},
    {11, 57, 59}, {10, 54, 56}, {45, 47, 11}, {42, 44, 10}, {12, 60, 62}, {13, 63, 65}, {48, 50, 12}, {51, 53, 13},
    {16, 58, 39}, {15, 55, 37}, {20, 7, 46},  {18, 6, 43},  {17, 61, 41}, {14, 64, 35}, {22, 8, 49},  {24, 9, 52},
    {3, 29, 38},  {5, 27, 36},  {21, 5, 28},  {19, 0, 26},  {2, 31, 40},  {0, 33, 34},  {23, 3, 30},  {25, 2, 32},
    {11, 28, 57}, {10, 26, 54}, {45, 11, 29}, {42, 10, 27}, {12, 30, 60}, {13, 32, 63}, {48, 12, 31}, {51, 13, 33},
    {57, 15, 58}, {54, 14, 55}, {8, 46, 45},  {7, 43, 42},  {60, 16, 61}, {63, 17, 64}, {9, 49, 48},  {6, 52, 51},
    {58, 15, 37}, {55, 14, 35}, {22, 46, 8},  {20, 43, 7},  {61, 16, 39}, {64, 17, 41}, {24, 49, 9},  {18, 52, 6},
    {29, 11, 59}, {27, 10, 56}, {47, 28, 11}, {44, 26, 10}, {31, 12, 62}, {33, 13, 65}, {50, 30, 12}, {53, 32, 13},
    {28, 5, 36},  {26, 0, 34},  {23, 29, 3},  {21, 27, 5},  {30, 3, 38},  {32, 2, 40},  {25, 31, 2},  {19, 33, 0},
    {59, 58, 16}, {56, 55, 15}, {46, 7, 47},  {43, 6, 44},  {62, 61, 17}, {65, 64, 14}, {49, 8, 50},  {52, 9, 53},
    {58, 37, 39}, {55, 35, 37}, {22, 20, 46}, {20, 18, 43}, {61, 39, 41}, {64, 41, 35}, {24, 22, 49}, {18, 24, 52},
    {29, 59, 38}, {27, 56, 36}, {47, 21, 28}, {44, 19, 26}, {31, 62, 40}, {33, 65, 34}, {50, 23, 30}, {53, 25, 32},
    {28, 36, 57}, {26, 34, 54}, {23, 45, 29}, {21, 42, 27}, {30, 38, 60}, {32, 40, 63}, {25, 48, 31}, {19, 51, 33},
    {59, 57, 58}, {56, 54, 55}, {46, 47, 45}, {43, 44, 42}, {62, 60, 61}, {65, 63, 64}, {49, 50, 48}, {52, 53, 51},
};

namespace polyhedron_detail {

// Index of the whole parts (gx, gy, gz), each 0..3, within an octant's 64 table entries.
constexpr int cellIndex(int gx, int gy, int gz) { return gx * 16 + gy * 4 + gz; }

// Face code by octant * 64 + cellIndex, built from kFaceVertices: each face's corners, taken as
// magnitudes in its octant, add up to 3g + (1,1,1) (up) or 3g + (2,2,2) (down), so their sum / 3
// is the cell g of the face.  Returns an all-0xff table when the face table is inconsistent
// (a face outside its octant, two faces in one cell), which the static_asserts below reject.
constexpr std::array<std::uint8_t, 512> buildCellLookup() {
    std::array<std::uint8_t, 512> table{};
    for (auto& entry : table) entry = 0xff;
    std::array<std::uint8_t, 512> bad{};
    for (auto& entry : bad) entry = 0xff;
    for (int code = 0; code < kFaceCount; ++code) {
        const int octant = code & 7;
        int sum[3] = {0, 0, 0};
        for (int corner = 0; corner < 3; ++corner) {
            const std::int8_t* lattice = kVertexLattice[kFaceVertices[code][corner]];
            for (int axis = 0; axis < 3; ++axis) {
                const bool positive = (octant >> axis) & 1;
                const int value = lattice[axis];
                if ((positive && value < 0) || (!positive && value > 0)) return bad;
                sum[axis] += value < 0 ? -value : value;
            }
        }
        const int total = sum[0] + sum[1] + sum[2];
        if (total != 12) return bad;
        const int index = octant * 64 + cellIndex(sum[0] / 3, sum[1] / 3, sum[2] / 3);
        if (table[index] != 0xff) return bad;
        table[index] = static_cast<std::uint8_t>(code);
    }
    // Cells no open region reaches: a lattice vertex itself (whole parts adding up to 1) goes to the
    // up triangle g + (1, 1, 0), which has the vertex g + (1, 1, 1) as a corner; the zero
    // difference (0, 0, 0) goes to the centre face (1, 1, 1); other cells cannot occur and get the
    // centre face too, so that every index yields a face.
    for (int octant = 0; octant < 8; ++octant) {
        for (int gx = 0; gx < 4; ++gx)
            for (int gy = 0; gy < 4; ++gy)
                for (int gz = 0; gz < 4; ++gz) {
                    const int index = octant * 64 + cellIndex(gx, gy, gz);
                    if (table[index] != 0xff) continue;
                    int target = cellIndex(1, 1, 1);
                    if (gx + gy + gz == 1) target = cellIndex(gx + 1, gy + 1, gz);
                    table[index] = table[octant * 64 + target];
                }
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 512> kCellLookup = buildCellLookup();

// The same table indexed by the comparison bit masks of a vector face lookup:
// octant | m1 << 3 | m2 << 6 | m3 << 9, where bit i of m1, m2, m3 is [3a_i > s_i], [a_i > s_i],
// [a_i > 3 s_i] for a_i the i-th magnitude and s_i the sum of the other two.  Masks that are not
// nested (only possible with infinities) count their bits, so every index yields a face.
constexpr std::array<std::uint8_t, 4096> buildMaskLookup() {
    std::array<std::uint8_t, 4096> table{};
    for (int index = 0; index < 4096; ++index) {
        const int octant = index & 7;
        int g[3];
        for (int axis = 0; axis < 3; ++axis)
            g[axis] = ((index >> (3 + axis)) & 1) + ((index >> (6 + axis)) & 1) + ((index >> (9 + axis)) & 1);
        table[index] = kCellLookup[octant * 64 + cellIndex(g[0], g[1], g[2])];
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 4096> kMaskLookup = buildMaskLookup();

static_assert(kCellLookup[0] != 0xff, "face table inconsistent with the lattice");
static_assert(kCellLookup[cellIndex(1, 1, 1)] == 120, "zero difference must give face 120");
static_assert(kCellLookup[7 * 64 + cellIndex(1, 1, 1)] == 127, "grey direction must give face 127");

// Face code from signed differences and magnitudes, scalar form.  T is float or a wide integer.
template <class T>
inline int faceFromMagnitudes(int octant, T a, T b, T c) {
    const T sa = b + c, sb = a + c, sc = a + b;
    const int gx = int(a * 3 > sa) + int(a > sa) + int(a > sa * 3);
    const int gy = int(b * 3 > sb) + int(b > sb) + int(b > sb * 3);
    const int gz = int(c * 3 > sc) + int(c > sc) + int(c > sc * 3);
    return kCellLookup[octant * 64 + cellIndex(gx, gy, gz)];
}

}  // namespace polyhedron_detail

// Face code of the direction (dR, dG, dB) on the fixed mesh; float differences.  Branch-free.
inline int faceOfDifference(float dr, float dg, float db) {
    const int octant = int(dr > 0.0f) | int(dg > 0.0f) << 1 | int(db > 0.0f) << 2;
    const float a = dr < 0.0f ? -dr : dr;
    const float b = dg < 0.0f ? -dg : dg;
    const float c = db < 0.0f ? -db : db;
    return polyhedron_detail::faceFromMagnitudes(octant, a, b, c);
}

// The same for integer differences (the 16-bit lookup).
inline int faceOfDifference(std::int64_t dr, std::int64_t dg, std::int64_t db) {
    const int octant = int(dr > 0) | int(dg > 0) << 1 | int(db > 0) << 2;
    return polyhedron_detail::faceFromMagnitudes<std::int64_t>(octant, dr < 0 ? -dr : dr, dg < 0 ? -dg : dg,
                                                               db < 0 ? -db : db);
}

// The three surface ratios of a colour on one face, in the order of the compiled face table:
// inner, outer, middle.  insideMiddle is 1 when the middle ratio is above 1 or its denominator is 0.
struct SurfaceRatios {
    float inner;
    float outer;
    float middle;
    std::int32_t insideMiddle;
};

// Builds the direction table (and the generated polyhedron's tables).  Cheap and idempotent; the
// application calls it once at start-up, before any keying.  Installs malloc/free as the allocator
// hooks when none are set.
void initPolyhedronTables();

// Unit direction of a vertex (three floats R, G, B).
const float* vertexDirection(int vertex);

// Face crossed by the direction from the state's backdrop colour to the colour.  The 16-bit form
// takes the integer differences colour - trunc(backdrop) (a backdrop outside the int32 range is
// clamped, NaN gives 0); the float form the float differences.  Both follow the generated
// polyhedron's lookup when the state has KeyFlagGeneratedPolyhedron.  `colour` is R, G, B (an RGBA
// pixel will do).
int findHitFace(const std::uint16_t* colour, const KeyState* state);
int findHitFaceFloat(const float* colour, const KeyState* state);
// The same with an explicit flag word in place of the state's.
int findHitFaceWithFlags(const std::uint16_t* colour, const KeyState* state, std::uint32_t flags);

// Surface ratios from the state's compiled per-face arrays: t = reach / (n . X - n . K), 0 where
// the denominator is 0.  t > 1: the colour lies inside the surface; 1: on it; below 1: beyond it.
// The face code must come from findHitFace on the same state: a state compiled with
// KeyFlagGeneratedPolyhedron holds the generated mesh's faces in these arrays, so a fixed-mesh code
// (findHitFaceWithFlags without that flag, which the sampling tools use for vertex indices only)
// names a different face there.
SurfaceRatios surfaceRatios16(const std::uint16_t* colour, int face, const KeyState* state);
SurfaceRatios surfaceRatiosMid16(const std::uint16_t* colour, int face, const KeyState* state);
SurfaceRatios surfaceRatiosFloat(const float* colour, int face, const KeyState* state);

// Number of faces containing the vertex (4 for the axis vertices 0-5, else 6); their codes,
// ascending, into `faces` (room for 6).  0 for an index outside 0..65.
int facesOfVertex(int vertex, int* faces);
void faceVertexIndices(int face, int* indices);

// Geometry of one polyhedron: P_v = backdrop + radius_v * direction_v.
void vertexPosition(const float* radii, int vertex, float* point, const float* backdrop);
void vertexTriplePositions(const float* radii, const int* vertices, float (*points)[3], const float* backdrop);
void facePositions(float (*points)[3], int face, const float* radii, const float* backdrop);
// (P2 - P0) x (P1 - P0), not normalised.
void faceNormal(float* normal, const float (*points)[3]);
// {n, -(n . P0)}.
void faceEquation(const float (*points)[3], float* equation);
// -(n . p + d).
float negatedEquationValue(const float* equation, const float* point);

float vec3Length(const float* v);
void vec3Normalize(const float* v, float* out);  // v * (1 / length)
// points[i] := (points[j] - points[k]) * 0.5 + points[k]
void vec3Midpoint(float (*points)[3], int i, int j, int k);
float vec3Dot(const float* a, const float* b);
void vec3Cross(const float* a, const float* b, float* out);

}  // namespace vantrelo
