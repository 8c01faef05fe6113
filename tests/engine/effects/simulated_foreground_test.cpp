// Simulated foreground: a backdrop lit from one side comes out flat and the subject untouched;
// the grid, its fill order and the pixel weights; one-pixel images and grid numbers that measure
// nothing; threaded and single-threaded passes agree; refused memory is reported.

#include "engine/effects/simulated_foreground.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "engine/effects/simulated_foreground_workers.h"
#include "engine/keying/keyer.h"
#include "tests/engine/effects/auto_key_test_support.h"
#include "tests/engine/effects/matte_test_support.h"

namespace vantrelo {
namespace {

using autokey_test::bluePhoto;
using autokey_test::kBlue;
using autokey_test::kSkin;
using autokey_test::Photo;

constexpr std::uint16_t kSentinel = 0xABCD;

KeyState lightingKey(float scale = 0.9f, int grid = 12) {
    KeyState state = testing_keys::blankState();
    for (int c = 0; c < 3; ++c) state.backdrop[c] = kBlue[c] * scale;
    state.simGridSize = grid;
    return state;
}

class SimulatedForeground : public matte_test::EngineSettings {};

TEST(SimulatedForegroundGridSize, PointsPerAxis) {
    const struct {
        int c, n;
    } cases[] = {{1, 2}, {12, 13}, {98, 99}, {99, 100}, {100, 99}, {5000, 99}, {INT_MAX, 99}, {-1, 0}, {-5, -4}};
    for (const auto& k : cases) EXPECT_EQ(simulatedForegroundPointCount(k.c), k.n) << k.c;
}

// The photograph's backdrop runs from 0.6 to 1.2 of the key's blue, left to right.
TEST_F(SimulatedForeground, FlattensABackdropLitFromOneSide) {
    const int width = 96, height = 64;
    const Photo photo = bluePhoto(width, height, {30, 15, 60, 50}, 0.6f, 1.2f, 300);
    const KeyState state = lightingKey();
    const KeyState untouched = state;
    std::vector<std::uint16_t> corrected(photo.pixels.size(), kSentinel), estimate(photo.pixels.size(), kSentinel);
    ASSERT_TRUE(simulateForegroundMode0(photo.pixels.data(), corrected.data(), width, height, &state, nullptr));
    ASSERT_TRUE(simulateForegroundMode1(photo.pixels.data(), estimate.data(), width, height, &state, nullptr));
    EXPECT_TRUE(autokey_test::sameBytes(state, untouched)) << "the caller's key is only read";

    int lowIn = 65535, highIn = 0, lowOut = 65535, highOut = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t i = 4 * (static_cast<std::size_t>(y) * width + x);
            EXPECT_EQ(corrected[i + 3], 65535);
            EXPECT_EQ(estimate[i + 3], 65535);
            if (photo.subject.contains(x, y)) {
                for (int c = 0; c < 3; ++c) ASSERT_EQ(corrected[i + c], photo.pixels[i + c]) << x << "," << y;
                continue;
            }
            lowIn = std::min<int>(lowIn, photo.pixels[i + 2]);
            highIn = std::max<int>(highIn, photo.pixels[i + 2]);
            lowOut = std::min<int>(lowOut, corrected[i + 2]);
            highOut = std::max<int>(highOut, corrected[i + 2]);
            // The estimate follows the lighting, also where it had to be filled in.
            const float light = 0.6f + 0.6f * x / (width - 1);
            // The first and last grid points sit 5 pixels in, so the edges carry the estimate of 5 pixels
            // further in: up to 1650 units on this slope.
            EXPECT_NEAR(estimate[i + 2], kBlue[2] * light, 2500.0) << x << "," << y;
        }
    EXPECT_GT(highIn - lowIn, 28000);
    EXPECT_LT(highOut - lowOut, (highIn - lowIn) / 2) << "backdrop range " << lowOut << ".." << highOut;
    EXPECT_NEAR((lowOut + highOut) / 2.0, kBlue[2] * 0.9, 3000.0);
    // Behind the subject the estimate is filled from the measured cells around it.
    const float centreLight = 0.6f + 0.6f * 45 / (width - 1);
    EXPECT_NEAR(estimate[4 * (32 * width + 45) + 2], kBlue[2] * centreLight, 2500.0);
}

// The scratch key of the estimate is the operation's own: the engine-wide keyers that tools and
// fine tune drive keep the frame they were compiled with (a black scratch backdrop would turn them
// grey), and two estimates can run side by side.
TEST_F(SimulatedForeground, LeavesTheEngineWideKeyersAlone) {
    // Every record is made first: a fresh record takes the keyers' defaults through them.
    const Photo photo = bluePhoto(48, 32, {16, 8, 32, 26}, 0.7f, 1.1f, 400, 6);
    const KeyState state = lightingKey(0.9f, 6);
    KeyState green = testing_keys::blankState();
    green.backdrop[0] = 9000.0f, green.backdrop[1] = 41000.0f, green.backdrop[2] = 12000.0f;
    VantreloBase* keyers[] = {engineHexagonKeyer(), engineThresholdKeyer()};
    for (VantreloBase* keyer : keyers) {
        ASSERT_NE(keyer, nullptr);
        keyer->initFromState(&green);
        ASSERT_EQ(keyer->mode, KeyerModeChromatic);
    }
    std::vector<std::uint16_t> first(photo.pixels.size()), second(photo.pixels.size()), alone(photo.pixels.size());
    ASSERT_TRUE(simulateForegroundMode0(photo.pixels.data(), alone.data(), 48, 32, &state, nullptr));
    std::thread other([&] { simulateForegroundMode0(photo.pixels.data(), second.data(), 48, 32, &state, nullptr); });
    ASSERT_TRUE(simulateForegroundMode0(photo.pixels.data(), first.data(), 48, 32, &state, nullptr));
    other.join();
    EXPECT_EQ(first, alone);
    EXPECT_EQ(second, alone);
    for (VantreloBase* keyer : keyers) EXPECT_EQ(keyer->mode, KeyerModeChromatic);
}

TEST_F(SimulatedForeground, CellsAreWrittenColumnByColumnWithoutAnOutput) {
    const int width = 96, height = 64;
    const Photo photo = bluePhoto(width, height, {30, 15, 60, 50}, 0.6f, 1.2f, 300);
    const KeyState state = lightingKey();
    std::vector<std::uint16_t> cells(13 * 13 * 4 + 4, kSentinel);
    ASSERT_TRUE(simulateForeground(photo.pixels.data(), nullptr, width, height, 12, 2550, &state, cells.data(), 0));
    const float stepX = 95.0f / 12.0f, stepY = 63.0f / 12.0f;
    for (int gx = 0; gx < 13; ++gx)
        for (int gy = 0; gy < 13; ++gy) {
            int px = static_cast<int>(gx * stepX), py = static_cast<int>(gy * stepY);
            px += gx == 0 ? 5 : gx == 12 ? -5 : 0;
            py += gy == 0 ? 5 : gy == 12 ? -5 : 0;
            const std::uint16_t* cell = cells.data() + 4 * (gx * 13 + gy);
            // Points whose 3 x 3 block lies on the subject are filled, those clear of it measured.
            const bool onSubject = photo.subject.contains(px - 1, py - 1) && photo.subject.contains(px + 1, py + 1);
            const bool clear = !photo.subject.contains(px - 1, py - 1) && !photo.subject.contains(px + 1, py + 1) &&
                               !photo.subject.contains(px - 1, py + 1) && !photo.subject.contains(px + 1, py - 1);
            if (onSubject) {
                EXPECT_EQ(cell[3], 0) << gx << "," << gy;
            }
            if (clear) {
                ASSERT_EQ(cell[3], 65535) << gx << "," << gy;
                std::uint16_t mean[3];
                sampleCellMean3x3(photo.pixels.data(), width, height, px, py, mean);
                for (int c = 0; c < 3; ++c) EXPECT_EQ(cell[c], mean[c]);
            }
        }
    for (int i = 13 * 13 * 4; i < 13 * 13 * 4 + 4; ++i) EXPECT_EQ(cells[i], kSentinel) << "nothing past n x n";
}

TEST_F(SimulatedForeground, ThreadedPassEqualsOnePass) {
    const int width = 64, height = 48;
    const Photo photo = bluePhoto(width, height, {20, 10, 44, 40}, 0.7f, 1.1f, 800, 9);
    const KeyState state = lightingKey(0.9f, 7);
    for (int mode : {0, 1, 2, 5}) {
        SCOPED_TRACE(mode);
        setWorkerThreadCount(1);
        std::vector<std::uint16_t> single(photo.pixels.size(), kSentinel);
        ASSERT_TRUE(
            simulateForeground(photo.pixels.data(), single.data(), width, height, 7, 2550, &state, nullptr, mode));
        if (mode == 5) {
            EXPECT_EQ(single, photo.pixels) << "an unknown mode leaves the copy";
        }
        for (int workers : {2, 3, 7}) {
            setWorkerThreadCount(workers);
            std::vector<std::uint16_t> threaded(photo.pixels.size(), kSentinel);
            ASSERT_TRUE(simulateForeground(photo.pixels.data(), threaded.data(), width, height, 7, 2550, &state,
                                           nullptr, mode));
            EXPECT_EQ(threaded, single) << workers << " workers";
        }
        // In place gives the same result.
        std::vector<std::uint16_t> inPlace = photo.pixels;
        ASSERT_TRUE(simulateForeground(inPlace.data(), inPlace.data(), width, height, 7, 2550, &state, nullptr, mode));
        EXPECT_EQ(inPlace, single);
    }
}

TEST(SimulatedForegroundWorkers, BandsOfRowsWithTheirOwnContext) {
    static SimulatedForegroundGrid grid;
    std::vector<std::uint16_t> in(100 * 50 * 4), out(100 * 50 * 4);
    const KeyState state = lightingKey();
    initSimulatedForegroundGrid(&grid, in.data(), out.data(), 100, 50, 12, 2550, &state);
    const std::ptrdiff_t starts[] = {0, 16, 32}, ends[] = {15, 31, 49};
    for (int i = 0; i < 3; ++i) {
        phase_calculateGenerateSimulatedForeground_VantThread worker(i, 3, grid, 0);
        EXPECT_EQ(worker.grid().rowStart, starts[i]);
        EXPECT_EQ(worker.grid().rowEnd, ends[i]);
        EXPECT_EQ(worker.grid().height, ends[i] - starts[i] + 1);
        EXPECT_EQ(worker.grid().pixels, in.data() + 4 * 100 * starts[i]);
        EXPECT_EQ(worker.grid().output, out.data() + 4 * 100 * starts[i]);
        EXPECT_EQ(worker.grid().stepY, grid.stepY) << "steps stay those of the whole image";
    }
}

// One-pixel rows and columns put every grid point on the same pixel: the inverse step of that
// axis is 0, so no grid position is NaN and every output pixel is written.  The line holds a
// third of subject, so that the histogram has a subject band and the backdrop is measured.
TEST_F(SimulatedForeground, OnePixelImagesAndGridsThatMeasureNothing) {
    const struct {
        int width, height;
        bool measured;
    } sizes[] = {{1, 40, true}, {40, 1, true}, {1, 1, false}, {2, 2, false}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(::testing::Message() << size.width << " x " << size.height);
        const std::size_t n = static_cast<std::size_t>(size.width) * size.height;
        std::vector<std::uint16_t> pixels(4 * n);
        for (std::size_t i = 0; i < n; ++i) {
            const float light =
                0.8f + 0.2f * static_cast<float>(i) / static_cast<float>(std::max<std::size_t>(n - 1, 1));
            const bool subject = i >= n / 3 && i < 2 * n / 3;
            for (int c = 0; c < 3; ++c)
                pixels[4 * i + c] = subject ? kSkin[c] : static_cast<std::uint16_t>(kBlue[c] * light);
            pixels[4 * i + 3] = 1234;
        }
        const KeyState state = lightingKey();
        for (int mode : {0, 1, 2}) {
            std::vector<std::uint16_t> out(4 * n, kSentinel);
            ASSERT_TRUE(simulateForeground(pixels.data(), out.data(), size.width, size.height, 12, 2550, &state,
                                           nullptr, mode));
            // Either nothing was measured and the output is the copy, or every pixel was passed.
            const bool passed = std::all_of(out.begin() + 3, out.end(),
                                            [&, k = 0](std::uint16_t v) mutable { return k++ % 4 != 0 || v == 65535; });
            EXPECT_TRUE(passed || out == pixels);
            if (size.measured) {
                EXPECT_TRUE(passed);
            }
            if (mode == 1 && passed) {
                // The estimate mixes measured backdrop: it stays within the blues of the line.
                for (std::size_t i = 0; i < n; ++i) {
                    EXPECT_GE(out[4 * i + 2], static_cast<int>(kBlue[2] * 0.8f) - 1) << i;
                    EXPECT_LE(out[4 * i + 2], static_cast<int>(kBlue[2] * 1.0f) + 1) << i;
                }
            }
        }
        // Grid number 0 writes nothing at all; a negative one measures nothing and leaves the copy.
        std::vector<std::uint16_t> out(4 * n, kSentinel), cells(64, kSentinel);
        std::vector<float> floats(pixels.begin(), pixels.end()), floatOut(4 * n, -1.0f);
        KeyState none = lightingKey(0.9f, 0);
        EXPECT_TRUE(
            simulateForeground(pixels.data(), out.data(), size.width, size.height, 0, 2550, &none, cells.data(), 0));
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint16_t v) { return v == kSentinel; }));
        EXPECT_TRUE(simulateForegroundMode0(pixels.data(), out.data(), size.width, size.height, &none, nullptr));
        EXPECT_TRUE(simulateForegroundFloatMode1(65535.0f, floats.data(), floatOut.data(), size.width, size.height,
                                                 &none, nullptr));
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint16_t v) { return v == kSentinel; }));
        EXPECT_TRUE(std::all_of(floatOut.begin(), floatOut.end(), [](float v) { return v == -1.0f; }))
            << "no unwritten scratch reaches the float output";
        EXPECT_TRUE(
            simulateForeground(pixels.data(), out.data(), size.width, size.height, -3, 2550, &state, nullptr, 0));
        EXPECT_EQ(out, pixels);
        EXPECT_TRUE(
            simulateForeground(pixels.data(), nullptr, size.width, size.height, -3, 2550, &state, cells.data(), 0));
        EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](std::uint16_t v) { return v == kSentinel; }));
    }
}

TEST_F(SimulatedForeground, AnImageThatIsAllSubjectIsLeftAsItIs) {
    const Photo photo = bluePhoto(40, 30, {0, 0, 40, 30}, 1.0f, 1.0f, 600, 4);
    const KeyState state = lightingKey();
    std::vector<std::uint16_t> out(photo.pixels.size(), kSentinel), cells(13 * 13 * 4, kSentinel);
    EXPECT_TRUE(simulateForegroundMode0(photo.pixels.data(), out.data(), 40, 30, &state, nullptr));
    EXPECT_EQ(out, photo.pixels);
    EXPECT_TRUE(simulateForeground(photo.pixels.data(), nullptr, 40, 30, 12, 2550, &state, cells.data(), 0));
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](std::uint16_t v) { return v == kSentinel; }));
}

TEST_F(SimulatedForeground, FloatVariantsAreTheSixteenBitPassScaled) {
    const int width = 48, height = 32;
    const Photo photo = bluePhoto(width, height, {16, 8, 32, 26}, 0.7f, 1.1f, 400, 6);
    const KeyState state = lightingKey(0.9f, 6);
    const float maximum = 2.0f;
    std::vector<float> floats(photo.pixels.size());
    std::vector<std::uint16_t> converted(photo.pixels.size());
    for (std::size_t i = 0; i < floats.size(); ++i) {
        floats[i] = static_cast<float>(photo.pixels[i]) * (maximum / 65535.0f);
        const float v = floats[i] * (65535.0f / maximum);
        converted[i] = v >= 65535.0f ? 65535 : v > 0.0f ? static_cast<std::uint16_t>(v) : 0;
    }
    for (int mode : {0, 1}) {
        std::vector<std::uint16_t> expected16(photo.pixels.size());
        ASSERT_TRUE(simulateForeground(converted.data(), expected16.data(), width, height, 6, state.simInnerRadius,
                                       &state, nullptr, mode));
        std::vector<float> out(floats.size(), -1.0f);
        std::vector<std::uint16_t> cells(8, kSentinel);
        ASSERT_TRUE((mode == 0 ? simulateForegroundFloatMode0 : simulateForegroundFloatMode1)(
            maximum, floats.data(), out.data(), width, height, &state, cells.data()));
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], static_cast<float>(expected16[i]) * (maximum * 1.5259022e-05f)) << i;
        EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](std::uint16_t v) { return v == kSentinel; }));
    }
    std::vector<float> out(floats.size());
    for (float bad : {0.0f, -2.0f, NAN, INFINITY})
        EXPECT_FALSE(simulateForegroundFloatMode0(bad, floats.data(), out.data(), width, height, &state, nullptr));
    EXPECT_FALSE(simulateForegroundFloatMode0(1.0f, floats.data(), nullptr, width, height, &state, nullptr));
}

// Every block the call needs goes back, and a refusal is reported, never a half-corrected image
// passed off as a result: the output then holds the copy of the input or nothing.
TEST_F(SimulatedForeground, RefusedMemoryIsReported) {
    const int width = 48, height = 32;
    const Photo photo = bluePhoto(width, height, {16, 8, 32, 26}, 0.7f, 1.1f, 400, 6);
    const KeyState state = lightingKey(0.9f, 6);
    std::vector<std::uint16_t> reference(photo.pixels.size());
    ASSERT_TRUE(simulateForegroundMode0(photo.pixels.data(), reference.data(), width, height, &state, nullptr));
    std::vector<float> floats(photo.pixels.begin(), photo.pixels.end()), floatReference(floats.size());
    ASSERT_TRUE(
        simulateForegroundFloatMode0(65535.0f, floats.data(), floatReference.data(), width, height, &state, nullptr));
    int failures = 0;
    for (int index = 0; index < 16; ++index) {
        std::vector<std::uint16_t> out(photo.pixels.size(), kSentinel);
        failAllocation(index);
        const bool ok = simulateForegroundMode0(photo.pixels.data(), out.data(), width, height, &state, nullptr);
        allowAllocations();
        if (ok) {
            EXPECT_EQ(out, reference) << index;
        } else {
            ++failures;
            const bool untouched = std::all_of(out.begin(), out.end(), [](std::uint16_t v) { return v == kSentinel; });
            EXPECT_TRUE(untouched || out == photo.pixels) << index;
        }
        std::vector<float> floatOut(floats.size(), -1.0f);
        failAllocation(index);
        const bool floatOk =
            simulateForegroundFloatMode0(65535.0f, floats.data(), floatOut.data(), width, height, &state, nullptr);
        allowAllocations();
        if (floatOk) {
            EXPECT_EQ(floatOut, floatReference) << index;
        } else {
            EXPECT_TRUE(std::all_of(floatOut.begin(), floatOut.end(), [](float v) { return v == -1.0f; })) << index;
        }
    }
    EXPECT_GE(failures, 4);  // grid record, bins, histogram, derivative
    std::vector<std::uint16_t> out(photo.pixels.size());
    EXPECT_FALSE(simulateForegroundMode0(photo.pixels.data(), out.data(), width, height, nullptr, nullptr));
    EXPECT_FALSE(simulateForeground(nullptr, out.data(), width, height, 6, 2550, &state, nullptr, 0));
    EXPECT_FALSE(simulateForeground(photo.pixels.data(), out.data(), -1, height, 6, 2550, &state, nullptr, 0));
}

// ---- Grid ----

// A 3 x 3 grid measured along its top row: cells are filled most-measured-neighbours first, then by
// score, then in row order, each from its decided neighbours (diagonals weigh 1/sqrt 2).
TEST(SimulatedForegroundFill, OrderAndWeights) {
    static SimulatedForegroundGrid grid;
    grid.pointsX = grid.pointsY = 3;
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) grid.cells[x][y] = GridCell{{0, 0, 0, 65535}, GridCellUndecided, 0};
    grid.cells[0][0] = GridCell{{900, 90, 9, 65535}, GridCellMeasured, 0};
    grid.cells[1][0] = GridCell{{300, 30, 3, 65535}, GridCellMeasured, 0};
    grid.cells[2][0] = GridCell{{600, 60, 6, 65535}, GridCellMeasured, 0};

    EXPECT_EQ(countGridNeighboursInState(grid, 1, 1, GridCellMeasured), 3);
    EXPECT_EQ(countGridNeighboursInState(grid, 0, 1, GridCellMeasured), 2);
    EXPECT_FALSE(gridCellHasState(grid, 3, 0, GridCellUndecided)) << "outside the 3 x 3 cells";
    float sums[3] = {0, 0, 0}, weight = 0;
    EXPECT_FALSE(accumulateGridCell(grid, 1.0f, 1, 1, sums, &weight)) << "undecided cells do not count";
    EXPECT_FALSE(accumulateGridCell(grid, 1.0f, -1, 0, sums, &weight));
    EXPECT_TRUE(accumulateGridCell(grid, 0.5f, 0, 0, sums, &weight));
    EXPECT_EQ(sums[0], 450.0f);
    EXPECT_EQ(weight, 0.5f);

    ASSERT_TRUE(fillSimulatedForegroundGrid(grid));
    EXPECT_TRUE(gridIsComplete(grid));
    EXPECT_EQ(grid.cells[1][1].known, 3);
    EXPECT_EQ(grid.cells[0][1].known, 2);
    // (1, 1) first: its three measured neighbours, one edge and two diagonals.
    const float d = 0.70710677f;
    const float centre = (900.0f * d + 300.0f + 600.0f * d) * (1.0f / (1.0f + 2.0f * d));
    EXPECT_EQ(grid.cells[1][1].rgba[0], static_cast<std::uint16_t>(centre));
    EXPECT_EQ(grid.cells[1][1].rgba[3], 0);
    EXPECT_EQ(grid.cells[1][1].state, GridCellFilled);
    // Then (0, 1) (two measured, ties (2, 1) and wins by row order): edge 900, diagonal 300, edge centre.
    const std::uint16_t c11 = grid.cells[1][1].rgba[0];
    const float left = (900.0f + 300.0f * d + static_cast<float>(c11)) * (1.0f / (2.0f + d));
    EXPECT_EQ(grid.cells[0][1].rgba[0], static_cast<std::uint16_t>(left));
    // The rest follow; every cell ends filled.
    for (int x = 0; x < 3; ++x)
        for (int y = 1; y < 3; ++y) EXPECT_EQ(grid.cells[x][y].state, GridCellFilled);

    // Nothing measured: nothing to fill from.
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) grid.cells[x][y].state = GridCellUndecided;
    EXPECT_FALSE(fillSimulatedForegroundGrid(grid));
}

// The fill order kept in a tree equals the plain scan the operation falls back to without memory
// for the tree, ties included.
TEST_F(SimulatedForeground, FillOrderIsTheSameWithAndWithoutTheTree) {
    static SimulatedForegroundGrid withTree, withScan;
    std::mt19937 rng(17);
    for (int n : {2, 7, 30, 45}) {
        withTree.pointsX = withTree.pointsY = n;
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) {
                const bool measured = rng() % 5 == 0;
                const auto v = static_cast<std::uint16_t>(rng() % 65536);
                withTree.cells[x][y] = GridCell{{v, static_cast<std::uint16_t>(v / 2), 77, 65535},
                                                measured ? GridCellMeasured : GridCellUndecided,
                                                0};
            }
        withTree.cells[n - 1][0].state = GridCellMeasured;
        withScan = withTree;
        ASSERT_TRUE(fillSimulatedForegroundGrid(withTree));
        failAllocation(0);
        ASSERT_TRUE(fillSimulatedForegroundGrid(withScan));
        allowAllocations();
        for (int x = 0; x < n; ++x)
            for (int y = 0; y < n; ++y) {
                ASSERT_EQ(withTree.cells[x][y].state, withScan.cells[x][y].state);
                ASSERT_EQ(std::memcmp(withTree.cells[x][y].rgba, withScan.cells[x][y].rgba, 8), 0) << x << "," << y;
            }
    }
}

TEST(SimulatedForegroundFill, InterpolationBetweenGridPoints) {
    static SimulatedForegroundGrid grid;
    std::vector<std::uint16_t> pixels(11 * 5 * 4);
    const KeyState state = lightingKey();
    initSimulatedForegroundGrid(&grid, pixels.data(), nullptr, 11, 5, 1, 2550, &state);  // 2 x 2 points
    EXPECT_EQ(grid.stepX, 10.0f);
    EXPECT_EQ(grid.stepY, 4.0f);
    grid.cells[0][0] = GridCell{{1000, 0, 0, 0}, 0, 0};
    grid.cells[1][0] = GridCell{{2000, 0, 0, 0}, 0, 0};
    grid.cells[0][1] = GridCell{{3000, 0, 0, 0}, 0, 0};
    grid.cells[1][1] = GridCell{{4000, 0, 0, 0}, 0, 0};
    const struct {
        int x, y, r;
    } cases[] = {{0, 0, 1000}, {10, 0, 2000}, {0, 4, 3000}, {10, 4, 4000}, {5, 2, 2500}, {3, 0, 1300}};
    for (const auto& c : cases) {
        std::int32_t rgb[3];
        interpolateGridColour(grid, c.x, c.y, rgb);
        EXPECT_NEAR(rgb[0], c.r, 1) << c.x << "," << c.y;
    }
    // One pixel wide: the column's grid points all lie on pixel 0.
    initSimulatedForegroundGrid(&grid, pixels.data(), nullptr, 1, 5, 1, 2550, &state);
    EXPECT_EQ(grid.invStepX, 0.0f);
    std::int32_t rgb[3];
    interpolateGridColour(grid, 0, 4, rgb);
    EXPECT_EQ(rgb[0], 3000);
}

// ---- Pixels ----

TEST(SimulatedForegroundPixels, MeanOfThreeByThreeWithClampedEdges) {
    const std::vector<std::uint16_t> pixels = {100, 200, 300, 0, 1000,  2000,  3000,  0,
                                               10,  20,  30,  0, 40000, 50000, 60000, 0};
    std::uint16_t mean[3];
    sampleCellMean3x3(pixels.data(), 2, 2, 0, 0, mean);
    EXPECT_EQ(mean[0], static_cast<std::uint16_t>((4 * 100 + 2 * 1000 + 2 * 10 + 40000) * 0.1111111111111111));
    EXPECT_EQ(mean[2], static_cast<std::uint16_t>((4 * 300 + 2 * 3000 + 2 * 30 + 60000) * 0.1111111111111111));
    // A point far outside is clamped onto the nearest pixel.
    sampleCellMean3x3(pixels.data(), 2, 2, 7, -4, mean);
    EXPECT_NEAR(mean[0], 1000, 1);
    const std::vector<std::uint16_t> white(4 * 9, 65535);
    sampleCellMean3x3(white.data(), 3, 3, 1, 1, mean);
    EXPECT_EQ(mean[0], 65535);
    EXPECT_EQ(mean[1], 65535);
}

TEST(SimulatedForegroundPixels, SimilarityFallsLinearlyWithDistance) {
    // A pixel (0, v, v) has hue 0.25 and chroma sqrt(2) v; against a backdrop of that hue and no
    // chroma the distance is the chroma itself.
    const struct {
        float chroma, weight;
    } cases[] = {{0.05f, 1.0f}, {0.1f, 1.0f},        {1.0f / 6.0f, 1.0f}, {0.5f, 0.5f},
                 {0.7f, 0.2f},  {5.0f / 6.0f, 0.0f}, {0.95f, 0.0f}};
    for (const auto& c : cases) {
        const auto v = static_cast<std::uint16_t>(c.chroma / std::sqrt(2.0f) * 65535.0f);
        const std::uint16_t pixel[4] = {0, v, v, 0};
        float hue, chroma;
        pixelOpponentChroma(pixel, &hue, &chroma);
        EXPECT_NEAR(hue, 0.25f, 1e-4f);
        EXPECT_NEAR(chroma, c.chroma, 1e-4f);
        EXPECT_NEAR(backdropSimilarity(pixel, 0.25f, 0.0f, 0.0f), c.weight, 1e-3f) << c.chroma;
    }
    // With a coloured backdrop the chroma is a ratio: the same hue at any strength is the backdrop.
    const std::uint16_t bright[4] = {8000, 14000, 52000, 0}, dim[4] = {4000, 7000, 26000, 0};
    float hb, cb;
    pixelOpponentChroma(bright, &hb, &cb);
    EXPECT_NEAR(backdropSimilarity(bright, hb, cb, 1.0f / cb), 1.0f, 1e-6f);
    EXPECT_NEAR(backdropSimilarity(dim, hb, cb, 1.0f / cb), 1.0f - (0.5f * 1.5f - 0.25f), 2e-3f);
    // Hues wrap around: a hue just past -0.5 lies next to 0.49.
    const std::uint16_t nearWrap[4] = {30001, 40000, 20000, 0};
    float h, c;
    pixelOpponentChroma(nearWrap, &h, &c);
    EXPECT_LT(h, -0.499f);
    EXPECT_GT(backdropSimilarity(nearWrap, 0.49f, 0.0f, 0.0f), 0.9f);
    EXPECT_GT(backdropSimilarity(nearWrap, -0.49f, 0.0f, 0.0f), 0.9f);
    EXPECT_EQ(backdropSimilarity(nearWrap, 0.0f, 0.0f, 0.0f), 0.0f);
    // Grey has no chroma.
    const std::uint16_t grey[4] = {30000, 30000, 30000, 0};
    pixelOpponentChroma(grey, &h, &c);
    EXPECT_EQ(c, 0.0f);
}

TEST(SimulatedForegroundPixels, CorrectionWithAnEstimateImage) {
    const float backdrop[3] = {8000.9f, 14000.2f, 52000.5f};
    // A backdrop pixel at 0.9 of the backdrop (weight 1) with a matching estimate moves onto the
    // backdrop; one at 0.75 (chroma ratio off by 0.25: weight 0.875) moves most of the way; a skin
    // pixel stays.
    const std::vector<std::uint16_t> pixels = {7200,  12600, 46800,    7,        6000,     10500,
                                               39000, 7,     kSkin[0], kSkin[1], kSkin[2], 9};
    const std::vector<std::uint16_t> estimate = {7200, 12600, 46800, 0, 6000, 10500, 39000, 0, 6000, 10500, 39000, 0};
    std::vector<std::uint16_t> out(12, kSentinel);
    ASSERT_TRUE(correctLightingWithEstimate(pixels.data(), estimate.data(), out.data(), 3, 1, backdrop));
    const std::uint16_t expected[12] = {8000,  14000, 52000,    65535,    7750,     13562,
                                        50375, 65535, kSkin[0], kSkin[1], kSkin[2], 65535};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], expected[i]) << i;
    EXPECT_FALSE(correctLightingWithEstimate(pixels.data(), nullptr, out.data(), 2, 1, backdrop));
}

// The margin moves the first and last grid points of each axis that many pixels inward (limited to
// 0..10): the edge cells hold the 3 x 3 mean there, on a backdrop whose light changes with x.
TEST_F(SimulatedForeground, MarginMovesTheOuterGridPointsInward) {
    const int width = 96, height = 64;
    const Photo photo = bluePhoto(width, height, {30, 15, 60, 50}, 0.6f, 1.2f, 300);
    const KeyState state = lightingKey();
    const float stepX = 95.0f / 12.0f;
    const struct {
        int set, used;
    } margins[] = {{3, 3}, {-4, 0}, {10, 10}, {11, 10}, {0, 0}, {5, 5}};  // 5, the default, last
    for (const auto& m : margins) {
        SCOPED_TRACE(m.set);
        setSimulatedForegroundMargin(m.set);
        EXPECT_EQ(getSimulatedForegroundMargin(), m.used);
        std::vector<std::uint16_t> cells(13 * 13 * 4, kSentinel);
        ASSERT_TRUE(simulateForeground(photo.pixels.data(), nullptr, width, height, 12, 2550, &state, cells.data(), 0));
        const int row = static_cast<int>(6 * (63.0f / 12.0f));  // a middle row: not an edge, no margin
        for (const int gx : {0, 12}) {
            const int column = static_cast<int>(gx * stepX) + (gx == 0 ? m.used : -m.used);
            std::uint16_t mean[3];
            sampleCellMean3x3(photo.pixels.data(), width, height, column, row, mean);
            const std::uint16_t* cell = cells.data() + 4 * (gx * 13 + 6);
            ASSERT_EQ(cell[3], 65535) << "measured";
            for (int c = 0; c < 3; ++c) EXPECT_EQ(cell[c], mean[c]) << gx << " " << c;
        }
    }
}

TEST(SimulatedForegroundSettings, RadiusComparisonLooksAtRadiiOnly) {
    KeyState a = lightingKey(), b = a;
    for (int v = 0; v < kVertexCount; ++v) a.innerRadii[v] = b.innerRadii[v] = 100.0f + v;
    EXPECT_TRUE(sameKeyRadii(&a, &b));
    b.outerRadii[65] += 1.0f;
    EXPECT_FALSE(sameKeyRadii(&a, &b));
    b.outerRadii[65] = NAN;
    EXPECT_TRUE(sameKeyRadii(&a, &b)) << "a comparison with NaN counts as equal";
    b.flags = 7;
    EXPECT_TRUE(sameKeyRadii(&a, &b)) << "only radii are compared";
}

}  // namespace
}  // namespace vantrelo
