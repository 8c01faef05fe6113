#include "engine/effects/simulated_foreground_workers.h"

#include <algorithm>
#include <memory>

#include "engine/keying/keying_workers.h"

namespace vantrelo {
namespace {

std::ptrdiff_t passRows(const SimulatedForegroundGrid& grid) {
    return std::max<std::ptrdiff_t>(grid.rowEnd - grid.rowStart + 1, 0);
}

}  // namespace

phase_calculateGenerateSimulatedForeground_VantThread::phase_calculateGenerateSimulatedForeground_VantThread(
    int index, int bandCount, const SimulatedForegroundGrid& grid, int mode)
    : VantThread(index, bandCount, grid.width, passRows(grid), true), grid_(grid), mode_(mode) {
    grid_.pixels = bandOffset8(grid.pixels);
    grid_.output = bandOffset8(grid.output);
    grid_.height = VantThread::bandCount();
    grid_.rowStart = grid.rowStart + bandStart();
    grid_.rowEnd = grid_.rowStart + VantThread::bandCount() - 1;
}

unsigned phase_calculateGenerateSimulatedForeground_VantThread::run() {
    phase_calculateGenerateSimulatedForeground(&grid_, mode_);
    return 0;
}

bool runSimulatedForegroundWorkers(const SimulatedForegroundGrid& grid, int mode) {
    return launchWorkers(keyingBandCount(), [&](int i, int n) {
        return std::make_unique<phase_calculateGenerateSimulatedForeground_VantThread>(i, n, grid, mode);
    });
}

}  // namespace vantrelo
