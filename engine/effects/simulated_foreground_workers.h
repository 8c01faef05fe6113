#pragma once
// Band workers of the simulated-foreground pixel pass.  Each worker copies the whole fill context
// and points its copy at one band of rows; bands only read the cells and the input and write
// their own rows of the output, so the split result equals one pass over all rows.

#include <cstddef>

#include "engine/effects/simulated_foreground.h"
#include "engine/keying/vant_thread.h"

namespace vantrelo {

class phase_calculateGenerateSimulatedForeground_VantThread final : public VantThread {
public:
    // Band `index` of `bandCount` over the rows rowStart..rowEnd of `grid`.
    phase_calculateGenerateSimulatedForeground_VantThread(int index, int bandCount, const SimulatedForegroundGrid& grid,
                                                          int mode);
    unsigned run() override;

    const SimulatedForegroundGrid& grid() const { return grid_; }

private:
    SimulatedForegroundGrid grid_;
    int mode_;
};

// One worker per engine worker (1 to 32), joined in order.  False when the workers could not be
// created or a band failed; the pass then has to be run on the calling thread (it is pure, so
// running it again over the same rows gives the same output).
bool runSimulatedForegroundWorkers(const SimulatedForegroundGrid& grid, int mode);

}  // namespace vantrelo
