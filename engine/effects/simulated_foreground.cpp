#include "engine/effects/simulated_foreground.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/effects/auto_key.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/engine_block.h"
#include "engine/effects/simulated_foreground_workers.h"
#include "engine/keying/initial_key.h"
#include "engine/keying/key_compile.h"
#include "engine/keying/numeric.h"

namespace vantrelo {
namespace {

constexpr float kDiagonalWeight = 0.70710677f;
// 0.3 of full scale: a grid point keyed at least this opaque shows the subject.
constexpr std::uint16_t kSubjectAlpha = 19661;

std::atomic<int> g_margin{5};

std::ptrdiff_t truncToIndex(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 9.2e18f) return std::numeric_limits<std::ptrdiff_t>::max();
    return static_cast<std::ptrdiff_t>(v);
}

bool inGrid(const SimulatedForegroundGrid& grid, int x, int y) {
    return x >= 0 && y >= 0 && x < grid.pointsX && y < grid.pointsY && x < kSimulatedForegroundMaxPoints &&
           y < kSimulatedForegroundMaxPoints;
}

constexpr int kNeighbourDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int kNeighbourDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

// The backdrop colour of the pass and its hue, chroma and chroma factor.
struct BackdropReference {
    std::int32_t rgb[3];
    float hue, chroma, factor;
};

BackdropReference backdropReference(const float* backdrop) {
    BackdropReference b{};
    for (int c = 0; c < 3; ++c) b.rgb[c] = truncToInt32(backdrop[c]);
    opponentChroma(static_cast<float>(b.rgb[0]) * kUnit16, static_cast<float>(b.rgb[1]) * kUnit16,
                   static_cast<float>(b.rgb[2]) * kUnit16, &b.hue, &b.chroma);
    b.factor = b.chroma >= 0.05f ? static_cast<float>(1.0 / b.chroma) : 0.0f;
    return b;
}

// Mode 0 for one pixel against the local backdrop colour `local`.
void correctPixel(const std::uint16_t* in, std::uint16_t* out, const std::int32_t* local, float weight,
                  const BackdropReference& b) {
    if (weight == 0.0f) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
    } else {
        for (int c = 0; c < 3; ++c)
            out[c] = truncToUint16(static_cast<float>(in[c]) +
                                   static_cast<float>(static_cast<std::int64_t>(b.rgb[c]) - local[c]) * weight);
    }
    out[3] = 65535;
}

bool usableSize(std::ptrdiff_t width, std::ptrdiff_t height, std::size_t* elements) {
    std::size_t count = 0;
    if (!imageElements(width, height, 4, count)) return false;
    if (elements) *elements = count;
    return true;
}

bool simulateForegroundFloat(int mode, float maximum, const float* pixels, float* output, std::ptrdiff_t width,
                             std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput) {
    std::size_t elements = 0;
    if (!state || !usableImage(pixels, width, height) || !usableImage(output, width, height) ||
        !usableSize(width, height, &elements) || !(maximum > 0.0f) || !std::isfinite(maximum))
        return false;
    // Grid number 0 writes nothing, as in the 16-bit operations: the scratch result would be
    // unwritten memory.
    if (state->simGridSize == 0 || elements == 0) return true;
    EngineBlock first, second;
    if (!first.allocate<std::uint16_t>(elements, false) ||
        !second.allocate<std::uint16_t>(elements, false))
        return false;
    std::uint16_t* in16 = first.as<std::uint16_t>();
    std::uint16_t* out16 = second.as<std::uint16_t>();
    const float toSixteen = 65535.0f / maximum;
    for (std::size_t i = 0; i < elements; ++i) in16[i] = truncToUint16(pixels[i] * toSixteen);
    if (!simulateForeground(in16, out16, width, height, state->simGridSize, state->simInnerRadius, state, cellOutput,
                            mode))
        return false;
    const float toFloat = maximum * kUnit16;
    for (std::size_t i = 0; i < elements; ++i) output[i] = static_cast<float>(out16[i]) * toFloat;
    return true;
}

}  // namespace

int simulatedForegroundPointCount(int c) {
    if (c >= kSimulatedForegroundMaxPoints) return kSimulatedForegroundMaxPoints - 1;
    return c + 1;
}

void setSimulatedForegroundMargin(int margin) { g_margin.store(std::clamp(margin, 0, 10), std::memory_order_relaxed); }

int getSimulatedForegroundMargin() { return g_margin.load(std::memory_order_relaxed); }

bool sameKeyRadii(const KeyState* a, const KeyState* b) {
    if (!a || !b) return false;
    auto same = [](const float* x, const float* y) {
        for (int v = 0; v < kVertexCount; ++v)
            if (x[v] < y[v] || x[v] > y[v]) return false;
        return true;
    };
    return same(a->innerRadii, b->innerRadii) && same(a->middleRadii, b->middleRadii) &&
           same(a->outerRadii, b->outerRadii);
}

// ---- Cell operations ----

bool gridCellHasState(const SimulatedForegroundGrid& grid, int x, int y, std::int32_t state) {
    return inGrid(grid, x, y) && grid.cells[x][y].state == state;
}

int countGridNeighboursInState(const SimulatedForegroundGrid& grid, int x, int y, std::int32_t state) {
    if (gridCellHasState(grid, x, y, GridCellFilled)) return 0;
    int count = 0;
    for (int i = 0; i < 8; ++i) count += gridCellHasState(grid, x + kNeighbourDx[i], y + kNeighbourDy[i], state);
    return count;
}

bool accumulateGridCell(const SimulatedForegroundGrid& grid, float weight, int x, int y, float* sums,
                        float* weightSum) {
    if (!inGrid(grid, x, y) || grid.cells[x][y].state == GridCellUndecided) return false;
    const GridCell& cell = grid.cells[x][y];
    for (int c = 0; c < 3; ++c) sums[c] += weight * static_cast<float>(cell.rgba[c]);
    *weightSum += weight;
    return true;
}

void fillGridCellFromNeighbours(SimulatedForegroundGrid& grid, int x, int y) {
    if (!inGrid(grid, x, y)) return;
    float sums[3] = {0.0f, 0.0f, 0.0f};
    float weightSum = 0.0f;
    for (int i = 0; i < 8; ++i) {
        const bool diagonal = kNeighbourDx[i] != 0 && kNeighbourDy[i] != 0;
        accumulateGridCell(grid, diagonal ? kDiagonalWeight : 1.0f, x + kNeighbourDx[i], y + kNeighbourDy[i], sums,
                           &weightSum);
    }
    GridCell& cell = grid.cells[x][y];
    const float inverse = weightSum > 0.0f ? 1.0f / weightSum : 0.0f;
    for (int c = 0; c < 3; ++c) cell.rgba[c] = truncToUint16(sums[c] * inverse);
    cell.rgba[3] = 0;
    cell.state = GridCellFilled;
}

bool gridIsComplete(const SimulatedForegroundGrid& grid) {
    for (int y = 0; y < grid.pointsY && y < kSimulatedForegroundMaxPoints; ++y)
        for (int x = 0; x < grid.pointsX && x < kSimulatedForegroundMaxPoints; ++x)
            if (grid.cells[x][y].state == GridCellUndecided) return false;
    return true;
}

bool fillSimulatedForegroundGrid(SimulatedForegroundGrid& grid) {
    const int nx = std::clamp(grid.pointsX, 0, kSimulatedForegroundMaxPoints);
    const int ny = std::clamp(grid.pointsY, 0, kSimulatedForegroundMaxPoints);
    bool anyMeasured = false;
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) anyMeasured = anyMeasured || grid.cells[x][y].state == GridCellMeasured;
    if (!anyMeasured) return false;

    // Undecided cells are ranked by measured neighbours, then score (filled + measured), then row
    // order.  A tournament tree over the cells in row order keeps the best one at its root, so
    // each round costs a few leaf updates instead of a scan of every cell: a 100 x 100 grid with
    // one measured cell took 210 ms with the scan and 6 ms with the tree (-O2, one core).  Without
    // memory for the tree the scan gives the same order.
    int filledNeighbours[kSimulatedForegroundMaxPoints][kSimulatedForegroundMaxPoints];
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            grid.cells[x][y].known = countGridNeighboursInState(grid, x, y, GridCellMeasured);
            filledNeighbours[x][y] = countGridNeighboursInState(grid, x, y, GridCellFilled);
        }
    constexpr int kLeaves = 16384;  // >= 100 x 100 cells
    static_assert(kLeaves >= kSimulatedForegroundMaxPoints * kSimulatedForegroundMaxPoints);
    // key = rank x kLeaves + (kLeaves - 1 - index): the largest key is the best rank, first in
    // row order; -1 for a decided cell.
    auto keyOf = [&](int x, int y) -> std::int32_t {
        const GridCell& cell = grid.cells[x][y];
        if (cell.state != GridCellUndecided) return -1;
        const std::int32_t rank = cell.known * 32 + (filledNeighbours[x][y] + cell.known);
        return rank * kLeaves + (kLeaves - 1 - (y * nx + x));
    };
    EngineBlock treeBlock;
    std::int32_t* tree =
        treeBlock.allocate<std::int32_t>(2 * kLeaves, false) ? treeBlock.as<std::int32_t>() : nullptr;
    auto setLeaf = [&](int x, int y) {
        std::size_t node = kLeaves + static_cast<std::size_t>(y * nx + x);
        tree[node] = keyOf(x, y);
        for (node /= 2; node >= 1; node /= 2) tree[node] = std::max(tree[2 * node], tree[2 * node + 1]);
    };
    if (tree) {
        std::fill(tree, tree + 2 * kLeaves, -1);
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) tree[kLeaves + y * nx + x] = keyOf(x, y);
        for (int node = kLeaves - 1; node >= 1; --node) tree[node] = std::max(tree[2 * node], tree[2 * node + 1]);
    }
    for (;;) {
        std::int32_t best = -1;
        if (tree) {
            best = tree[1];
        } else {
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x) best = std::max(best, keyOf(x, y));
        }
        if (best < 0) break;
        const int index = kLeaves - 1 - best % kLeaves;
        const int bestX = index % nx, bestY = index / nx;
        fillGridCellFromNeighbours(grid, bestX, bestY);
        if (tree) setLeaf(bestX, bestY);
        for (int i = 0; i < 8; ++i) {
            const int x = bestX + kNeighbourDx[i], y = bestY + kNeighbourDy[i];
            if (!inGrid(grid, x, y)) continue;
            ++filledNeighbours[x][y];
            if (tree) setLeaf(x, y);
        }
    }
    return true;
}

// ---- Pixel operations ----

void sampleCellMean3x3(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t x,
                       std::ptrdiff_t y, std::uint16_t* mean) {
    if (!pixels || width < 1 || height < 1) return;
    double sums[3] = {0.0, 0.0, 0.0};
    for (std::ptrdiff_t dy = -1; dy <= 1; ++dy) {
        const std::ptrdiff_t row = std::clamp<std::ptrdiff_t>(y + dy, 0, height - 1);
        for (std::ptrdiff_t dx = -1; dx <= 1; ++dx) {
            const std::ptrdiff_t column = std::clamp<std::ptrdiff_t>(x + dx, 0, width - 1);
            const std::uint16_t* p = pixels + 4 * (row * width + column);
            for (int c = 0; c < 3; ++c) sums[c] += p[c];
        }
    }
    for (int c = 0; c < 3; ++c) {
        const double m = sums[c] * 0.1111111111111111;
        mean[c] = m >= 65535.0 ? 65535 : m >= 0.0 ? static_cast<std::uint16_t>(m) : 0;
    }
}

void interpolateGridColour(const SimulatedForegroundGrid& grid, std::ptrdiff_t x, std::ptrdiff_t y, std::int32_t* rgb) {
    const int lastX = std::clamp(grid.pointsX, 1, kSimulatedForegroundMaxPoints) - 1;
    const int lastY = std::clamp(grid.pointsY, 1, kSimulatedForegroundMaxPoints) - 1;
    const float fx = static_cast<float>(x) * grid.invStepX;
    const float fy = static_cast<float>(y) * grid.invStepY;
    const float floorX = std::floor(fx), floorY = std::floor(fy);
    const float dx = fx - floorX, dy = fy - floorY;
    // A neighbour past the last grid point stands for the last point: it carries no weight there.
    const int ix = static_cast<int>(std::clamp(truncToIndex(floorX), std::ptrdiff_t{0}, std::ptrdiff_t{lastX}));
    const int iy = static_cast<int>(std::clamp(truncToIndex(floorY), std::ptrdiff_t{0}, std::ptrdiff_t{lastY}));
    const int ix1 = std::min(ix + 1, lastX), iy1 = std::min(iy + 1, lastY);
    const GridCell& c00 = grid.cells[ix][iy];
    const GridCell& c10 = grid.cells[ix1][iy];
    const GridCell& c01 = grid.cells[ix][iy1];
    const GridCell& c11 = grid.cells[ix1][iy1];
    for (int c = 0; c < 3; ++c)
        rgb[c] = truncToInt32(static_cast<float>(c00.rgba[c]) * (1.0f - dx) * (1.0f - dy) +
                              static_cast<float>(c10.rgba[c]) * dx * (1.0f - dy) +
                              static_cast<float>(c01.rgba[c]) * (1.0f - dx) * dy +
                              static_cast<float>(c11.rgba[c]) * dx * dy);
}

void opponentChroma(float r, float g, float b, float* hue, float* chroma) {
    const float k = kInvSqrt2;
    const float x = (b - g) * k;
    const float y = (g - 2.0f * r + b) * k;
    float c = std::sqrt(x * x + y * y);
    if (!(c >= 0.0f)) c = 0.0f;
    if (c > 1.0f) c = 1.0f;
    *chroma = c;
    *hue = std::atan2(y, x) * 0.15915963f;
}

void pixelOpponentChroma(const std::uint16_t* pixel, float* hue, float* chroma) {
    opponentChroma(static_cast<float>(pixel[0]) * kUnit16, static_cast<float>(pixel[1]) * kUnit16,
                   static_cast<float>(pixel[2]) * kUnit16, hue, chroma);
}

float backdropSimilarity(const std::uint16_t* pixel, float backdropHue, float backdropChroma, float chromaFactor) {
    float h, c;
    pixelOpponentChroma(pixel, &h, &c);
    float cb = backdropChroma;
    if (cb >= 0.05f) {
        c = c * chromaFactor;
        cb = 1.0f;
    }
    if (h - backdropHue > 0.5f)
        h = h - 1.0f;
    else if (backdropHue - h > 0.5f)
        h = h + 1.0f;
    const float dh = h * 6.0f - backdropHue * 6.0f;
    const float dc = c - cb;
    const float d = std::sqrt(dh * dh + dc * dc);
    float t = std::min(d, 1.0f) * 1.5f - 0.25f;
    t = std::clamp(t, 0.0f, 1.0f);
    return 1.0f - t;
}

bool phase_calculateGenerateSimulatedForeground(const SimulatedForegroundGrid* grid, int mode) {
    if (!grid || !grid->state || !grid->pixels) return false;
    if (!grid->output || mode < 0 || mode > 2) return true;
    const BackdropReference b = backdropReference(grid->state->backdrop);
    const std::ptrdiff_t width = grid->width;
    for (std::ptrdiff_t r = grid->rowStart; r <= grid->rowEnd; ++r) {
        const std::ptrdiff_t offset = 4 * (r - grid->rowStart) * width;
        const std::uint16_t* in = grid->pixels + offset;
        std::uint16_t* out = grid->output + offset;
        for (std::ptrdiff_t j = 0; j < width; ++j, in += 4, out += 4) {
            std::int32_t local[3];
            if (mode == 1) {
                interpolateGridColour(*grid, j, r, local);
                for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint16_t>(std::clamp(local[c], 0, 65535));
                out[3] = 65535;
                continue;
            }
            const float w = backdropSimilarity(in, b.hue, b.chroma, b.factor);
            if (mode == 0) {
                if (w != 0.0f) interpolateGridColour(*grid, j, r, local);
                correctPixel(in, out, local, w, b);
            } else {
                const std::uint16_t grey = truncToUint16(w * 65535.0f);
                out[0] = out[1] = out[2] = grey;
                out[3] = 65535;
            }
        }
    }
    return true;
}

bool correctLightingWithEstimate(const std::uint16_t* pixels, const std::uint16_t* estimate, std::uint16_t* output,
                                 std::ptrdiff_t width, std::ptrdiff_t height, const float* backdrop) {
    std::size_t elements = 0;
    if (!backdrop || !usableImage(pixels, width, height) || !usableImage(estimate, width, height) ||
        !usableImage(output, width, height) || !usableSize(width, height, &elements))
        return false;
    const BackdropReference b = backdropReference(backdrop);
    for (std::size_t i = 0; i < elements; i += 4) {
        const std::int32_t local[3] = {estimate[i], estimate[i + 1], estimate[i + 2]};
        correctPixel(pixels + i, output + i, local, backdropSimilarity(pixels + i, b.hue, b.chroma, b.factor), b);
    }
    return true;
}

// ---- Grid estimate ----

void initSimulatedForegroundGrid(SimulatedForegroundGrid* grid, const std::uint16_t* pixels, std::uint16_t* output,
                                 std::ptrdiff_t width, std::ptrdiff_t height, int c, int radius,
                                 const KeyState* state) {
    if (!grid) return;
    const int n = simulatedForegroundPointCount(c);
    grid->pointsX = grid->pointsY = n;
    grid->width = width;
    grid->height = height;
    const bool spaced = n > 1;
    grid->stepX = spaced ? static_cast<float>(width - 1) / static_cast<float>(n - 1) : 0.0f;
    grid->stepY = spaced ? static_cast<float>(height - 1) / static_cast<float>(n - 1) : 0.0f;
    // An axis one pixel long has all its grid points on pixel 0: its inverse step is 0, never the
    // infinity that would turn pixel 0 into a NaN grid position.
    grid->invStepX = grid->stepX > 0.0f ? 1.0f / grid->stepX : 0.0f;
    grid->invStepY = grid->stepY > 0.0f ? 1.0f / grid->stepY : 0.0f;
    grid->pixels = pixels;
    grid->output = output;
    grid->state = state;
    grid->radius = radius;
    grid->rowStart = 0;
    grid->rowEnd = height - 1;
}

bool simulateForegroundGrid(SimulatedForegroundGrid* grid, const std::uint16_t* pixels, std::ptrdiff_t width,
                            std::ptrdiff_t height, bool* failed) {
    if (failed) *failed = false;
    auto fail = [failed] {
        if (failed) *failed = true;
        return false;
    };
    if (!grid || !grid->state || !usableImage(pixels, width, height) || !usableSize(width, height, nullptr))
        return fail();
    const int n = std::min(grid->pointsX, kSimulatedForegroundMaxPoints);
    if (n < 1 || width < 1 || height < 1) return false;

    std::uint16_t backdrop[4] = {0, 0, 0, 0};
    for (int c = 0; c < 3; ++c) backdrop[c] = truncToUint16(grid->state->backdrop[c]);

    // The scratch key: the grid's backdrop colour and inner radius, the middle and outer polyhedra
    // shrunk from the subject band of the whole image.
    // It selects no alternative keyer, so it starts as initKeyState leaves a record but without the
    // engine-wide keyers' defaults, which it never reads: the estimate then changes no engine-wide
    // state (the keyers' compiled frames included) and may run on several threads at once.
    KeyState scratch;
    std::memset(&scratch, 0, sizeof scratch);
    scratch.auxValue2 = 5;
    scratch.simGridSize = 12;
    scratch.simInnerRadius = 2550;
    scratch.flags = KeyFlagSpillComplement;
    if (!setBackdropColourWithRadius(backdrop, &scratch, grid->radius)) return fail();
    bool autoKeyFailed = false;
    autoKeyFromHistogram(backdrop[0], backdrop[1], backdrop[2], pixels, width, height, &scratch, false, true, false,
                         0.0f, 0.0f, false, true, 1.0f, 1.0f, &autoKeyFailed);
    if (autoKeyFailed) return fail();
    if (compileKey(&scratch) != 1 || !scratch.keySpan16Callback) {
        releaseKey(&scratch);
        return fail();
    }

    const int margin = getSimulatedForegroundMargin();
    bool anyMeasured = false;
    for (int y = 0; y < n; ++y) {
        std::ptrdiff_t row = truncToIndex(static_cast<float>(y) * grid->stepY);
        if (y == 0) row += margin;
        if (y == n - 1) row -= margin;
        for (int x = 0; x < n; ++x) {
            std::ptrdiff_t column = truncToIndex(static_cast<float>(x) * grid->stepX);
            if (x == 0) column += margin;
            if (x == n - 1) column -= margin;
            std::uint16_t mean[4] = {0, 0, 0, 65535};
            sampleCellMean3x3(pixels, width, height, column, row, mean);
            std::uint16_t keyed[4] = {0, 0, 0, 0};
            scratch.keySpan16Callback(mean, mean, nullptr, nullptr, keyed, 1, &scratch, scratch.flags);
            GridCell& cell = grid->cells[x][y];
            cell.rgba[0] = mean[0];
            cell.rgba[1] = mean[1];
            cell.rgba[2] = mean[2];
            cell.rgba[3] = 65535;
            cell.state = keyed[3] >= kSubjectAlpha ? GridCellUndecided : GridCellMeasured;
            cell.known = 0;
            anyMeasured = anyMeasured || cell.state == GridCellMeasured;
        }
    }
    releaseKey(&scratch);
    if (!anyMeasured) return false;
    return fillSimulatedForegroundGrid(*grid);
}

bool simulateForeground(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width, std::ptrdiff_t height,
                        int c, int radius, const KeyState* state, std::uint16_t* cellOutput, int mode) {
    std::size_t elements = 0;
    if (!state || !usableImage(pixels, width, height) || !usableSize(width, height, &elements))
        return false;
    if (c == 0 || elements == 0) return true;

    // The record is 160 KB: too large for the stack of a thread that may itself be a band worker.
    EngineBlock gridBlock;
    if (!gridBlock.allocate<SimulatedForegroundGrid>(1, true)) return false;
    SimulatedForegroundGrid* grid = gridBlock.as<SimulatedForegroundGrid>();
    initSimulatedForegroundGrid(grid, pixels, output, width, height, c, radius, state);

    if (output && output != pixels) std::memcpy(output, pixels, elements * sizeof(std::uint16_t));
    bool failed = false;
    if (!simulateForegroundGrid(grid, pixels, width, height, &failed)) return !failed;

    if (output) {
        // Workers that could not run leave their rows to the calling thread; the pass is pure, so
        // running it again gives the same rows.
        const bool threaded = workerThreadCount() >= 2 && width >= 10 && height >= 10;
        if (!threaded || !runSimulatedForegroundWorkers(*grid, mode))
            phase_calculateGenerateSimulatedForeground(grid, mode);
    } else if (cellOutput) {
        const int n = grid->pointsX;
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y)
                std::memcpy(cellOutput + 4 * (static_cast<std::ptrdiff_t>(x) * n + y), grid->cells[x][y].rgba,
                            4 * sizeof(std::uint16_t));
    }
    return true;
}

bool simulateForegroundMode0(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width,
                             std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput) {
    if (!state) return false;
    return simulateForeground(pixels, output, width, height, state->simGridSize, state->simInnerRadius, state,
                              cellOutput, 0);
}

bool simulateForegroundMode1(const std::uint16_t* pixels, std::uint16_t* output, std::ptrdiff_t width,
                             std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput) {
    if (!state) return false;
    return simulateForeground(pixels, output, width, height, state->simGridSize, state->simInnerRadius, state,
                              cellOutput, 1);
}

bool keyUsesSimulatedForeground(const KeyState* state, std::ptrdiff_t pixels) {
    return (state->flags & KeyFlagSimulatedForeground) && state->simGridSize != 0 && pixels > 1;
}

bool simulateForegroundFloatMode0(float maximum, const float* pixels, float* output, std::ptrdiff_t width,
                                  std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput) {
    return simulateForegroundFloat(0, maximum, pixels, output, width, height, state, cellOutput);
}

bool simulateForegroundFloatMode1(float maximum, const float* pixels, float* output, std::ptrdiff_t width,
                                  std::ptrdiff_t height, const KeyState* state, std::uint16_t* cellOutput) {
    return simulateForegroundFloat(1, maximum, pixels, output, width, height, state, cellOutput);
}

}  // namespace vantrelo
