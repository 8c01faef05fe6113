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
    : VantThread(bandOf(index, bandCount, passRows(grid)).start, bandOf(index, bandCount, passRows(grid)).count,
                 grid.width, bandOf(index, bandCount, passRows(grid)).count, true, true),
      grid_(grid),
      mode_(mode) {
    const std::ptrdiff_t offset = bandStart() * grid.width * 4;
    if (grid_.pixels) grid_.pixels += offset;
    if (grid_.output) grid_.output += offset;
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
