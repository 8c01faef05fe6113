#pragma once
// Band workers of the 16-bit matte defocus.  The horizontal pass is split into bands of image
// rows and the vertical pass into bands of image columns, one band per engine worker; lines are
// independent, so the split result is bit-identical to one thread running the whole pass.

#include <cstddef>
#include <cstdint>

#include "engine/effects/defocus_matte16.h"
#include "engine/keying/vant_thread.h"

namespace vantrelo {

class doDefocusMaskX_VantThread final : public VantThread {
public:
    // Band `index` of `bandCount` over the image rows; scratch holds matte16ScratchFloats(job)
    // cleared floats and belongs to the launcher.
    doDefocusMaskX_VantThread(int index, int bandCount, const Matte16Defocus& job, float* scratch);
    unsigned run() override;

private:
    Matte16Defocus job_;
    float* scratch_;
};

class doDefocusMaskY_VantThread final : public VantThread {
public:
    // Band `index` of `bandCount` over the image columns; scratch as for the X pass.
    doDefocusMaskY_VantThread(int index, int bandCount, const Matte16Defocus& job, float* scratch);
    unsigned run() override;

private:
    Matte16Defocus job_;
    float* scratch_;
};

// Run the horizontal pass of the image rows (the vertical pass, with the re-level into the image)
// over the engine's worker count of bands and wait for all of them.  Return false, having changed
// nothing, when the workers or their scratch could not be allocated; the caller then runs the
// pass on its own thread.
bool runDefocusXWorker(const Matte16Defocus& job);
bool runDefocusYWorker(const Matte16Defocus& job);

}  // namespace vantrelo
