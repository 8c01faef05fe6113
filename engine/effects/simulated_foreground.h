#pragma once
// Simulated foreground: evens out an unevenly lit backdrop before keying.
//
// A coarse grid of n x n points is laid over the image.  At every grid point the 3 x 3 mean colour
// is keyed with a scratch key shaped automatically from the whole image; points that key as
// backdrop (alpha below 0.3) are measured, the others are filled from their measured or filled
// neighbours.  The pixel pass then moves every backdrop-like pixel by (backdrop colour - local
// grid colour) x its similarity to the backdrop in hue and chroma (mode 0), or writes the grid
// colour itself (mode 1) or the similarity as grey (mode 2).
//
// Images are packed rows of 16-bit RGBA (float variants: float RGBA on 0..maximum).  Only the
// backdrop colour of the caller's state is read; the state is never written, the scratch key is
// the operation's own.
//
// Every operation returns true when its output holds the result, which includes the cases with
// nothing to do (grid number 0: nothing written; no grid point shows backdrop: the output holds a
// copy of the input).  False reports a failure: unusable arguments (null state, null image with
// pixels, negative sizes, a float maximum that is not a positive finite number) or memory the
// engine allocator refused; the output then holds the copy of the input or was not written.
// Nothing throws.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

enum GridCellState : std::int32_t {
    GridCellMeasured = 0,   // measured backdrop
    GridCellFilled = 1,     // filled from its neighbours
    GridCellUndecided = 2,  // covered by the subject, not filled yet
};

struct GridCell {
    std::uint16_t rgba[4];  // A is 65535 for a measured cell, 0 for a filled one
    std::int32_t state;
    std::int32_t known;  // how many of its eight neighbours are measured
};

inline constexpr int kSimulatedForegroundMaxPoints = 100;

// The fill context of one call; each band worker works on its own copy.
struct SimulatedForegroundGrid {
    GridCell cells[kSimulatedForegroundMaxPoints][kSimulatedForegroundMaxPoints];  // [x][y]
    int pointsX, pointsY;             // n points per axis; only n x n cells are used
    std::ptrdiff_t width, height;     // image size (a band's row count in a worker's copy)
    float stepX, stepY;               // (width - 1) / (n - 1), (height - 1) / (n - 1)
    const std::uint16_t* pixels;      // input; for a band, its first row
    std::uint16_t* output;            // result or null; for a band, its first row
    const KeyState* state;            // source of the backdrop colour
    int radius;                       // inner radius of the scratch key
    std::ptrdiff_t rowStart, rowEnd;  // absolute rows of the pixel pass, both inclusive
    float invStepX, invStepY;         // 1 / step, or 0 along an axis one pixel long
};

// ---- Entry points ----

// n for grid number c: c + 1, but 100 for c = 99 and 99 for any larger c.  A c below 1 gives no
// usable grid (c = 0 is handled before; a negative c measures no point).
int simulatedForegroundPointCount(int c);

// With output: the output receives the corrected image (mode 0), the estimated backdrop (mode 1)
// or the similarity as grey (mode 2), alpha 65535; any other mode leaves the copy of the input.
// Without output: the n x n cell colours are written to cellOutput (when given), column by
// column, 4 x 16 bits each.  The pixel pass runs on the engine's workers when there are at least
// two and the image is at least 10 x 10; the result is identical either way.  output may be the
// input buffer itself.
bool simulateForeground(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width, std::ptrdiff_t height,
                        int c, int radius, const KeyState* state, std::uint16_t* cellOutput, int mode);
// simulateForeground with the state's simGridSize and simInnerRadius, mode 0 or 1.
bool simulateForegroundMode0(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width,
                             std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput);
bool simulateForegroundMode1(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width,
                             std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput);
// Whether keying an image of `pixels` pixels with the state reads the lighting-corrected image:
// the state has KeyFlagSimulatedForeground, its grid number is not 0 (which would write nothing)
// and the image has more than one pixel (no lighting to even out).
bool keyUsesSimulatedForeground(const KeyState* state, std::ptrdiff_t pixels);
// Float twins: the input is brought to 16 bits ((int)(v x 65535 / maximum), limited), corrected,
// and brought back (v x maximum / 65535).  With grid number 0 the output is not written, as in the
// 16-bit operations.  cellOutput is never written (the output always receives the result).
bool simulateForegroundFloatMode0(float maximum, const float* pixels, float* output, std::ptrdiff_t width,
                                  std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput);
bool simulateForegroundFloatMode1(float maximum, const float* pixels, float* output, std::ptrdiff_t width,
                                  std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput);

// The mode 0 rule with a per-pixel estimate image in place of the grid and the given backdrop
// colour (truncated to integers); alpha 65535.
bool correctLightingWithEstimate(const std::uint16_t* pixels, const std::uint16_t* estimate, std::uint16_t* output,
                                 std::ptrdiff_t width, std::ptrdiff_t height, const float* backdrop);

// Inset in pixels of the first and last grid points from the image edges, engine-wide, 5 at
// start; the setter limits it to 0..10.  Set it only while no simulated foreground runs.
void setSimulatedForegroundMargin(int margin);
int getSimulatedForegroundMargin();

// True when all 66 inner, middle and outer radii compare equal (a comparison with NaN counts as
// equal).
bool sameKeyRadii(const KeyState* a, const KeyState* b);

// ---- Grid estimate ----

// Fills the record for a call: n from c, steps and inverse steps, pointers, radius, rows 0 to
// height - 1; the cells are left as they are.
void initSimulatedForegroundGrid(SimulatedForegroundGrid* grid, const std::uint16_t* pixels, std::uint16_t* output,
                                 std::ptrdiff_t width, std::ptrdiff_t height, int c, int radius, const KeyState* state);
// Measures every grid point with the scratch key and fills the rest.  False when no grid point
// shows backdrop, or (with *failed set) when the scratch key could not be built or compiled.
bool simulateForegroundGrid(SimulatedForegroundGrid* grid, const std::uint16_t* pixels, std::ptrdiff_t width,
                            std::ptrdiff_t height, bool* failed = nullptr);
// Counts every cell's measured neighbours and fills the undecided cells one at a time: the one
// with the most measured neighbours first, then the most measured or filled neighbours, then the
// first in row order.  False (nothing filled) when no cell is measured.
bool fillSimulatedForegroundGrid(SimulatedForegroundGrid& grid);

// ---- Cell operations (positions outside the n x n grid never count) ----
bool gridCellHasState(const SimulatedForegroundGrid& grid, int x, int y, std::int32_t state);
// 0 when the cell itself is filled; else its neighbours in the grid that are in `state`.
int countGridNeighboursInState(const SimulatedForegroundGrid& grid, int x, int y, std::int32_t state);
// Adds weight x R, G, B and the weight unless the cell is outside or undecided; true when added.
bool accumulateGridCell(const SimulatedForegroundGrid& grid, float weight, int x, int y, float* sums, float* weightSum);
// Weighted mean of the decided neighbours (edges 1, diagonals 1/sqrt 2): A 0, state filled.  A
// cell without decided neighbours becomes black.
void fillGridCellFromNeighbours(SimulatedForegroundGrid& grid, int x, int y);
bool gridIsComplete(const SimulatedForegroundGrid& grid);

// ---- Pixel operations ----
// Mean R, G, B (written to mean[0..2]) of the 3 x 3 pixels around (x, y), rows and columns
// clamped into the image, limited to 0..65535.
void sampleCellMean3x3(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t x,
                       std::ptrdiff_t y, std::uint16_t* mean);
// Bilinear grid colour at pixel (x, y) into rgb[0..2].
void interpolateGridColour(const SimulatedForegroundGrid& grid, std::ptrdiff_t x, std::ptrdiff_t y, std::int32_t* rgb);
// Hue (about -0.5 .. 0.5) and chroma (0..1) of r, g, b on 0..1.
void opponentChroma(float r, float g, float b, float* hue, float* chroma);
void pixelOpponentChroma(const std::uint16_t* pixel, float* hue, float* chroma);
// Weight 1 up to a distance of 1/6 from the backdrop in (6 hue, chroma), 0 from 5/6, linear
// between; with a backdrop chroma of 0.05 or more the chroma is compared as a ratio (factor fb).
float backdropSimilarity(const std::uint16_t* pixel, float backdropHue, float backdropChroma, float chromaFactor);

// The pixel pass over the grid's rows rowStart..rowEnd.  Nothing is written without an output.
bool phase_calculateGenerateSimulatedForeground(const SimulatedForegroundGrid* grid, int mode);

}  // namespace vantrelo
