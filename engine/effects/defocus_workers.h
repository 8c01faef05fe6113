#pragma once
// Band workers of the 16-bit matte defocus.  The horizontal pass is split into bands of padded
// rows and the vertical pass into bands of padded columns, one band per engine worker; lines are
// independent, so the split result is bit-identical to one thread running the whole pass.
//
// `alpha` points at the matte sample of the first padded pixel and `sampleStep` is the number of
// 16-bit values from one pixel to the next (4 in an RGBA buffer, 1 in a plane of alpha alone).

#include <cstddef>
#include <cstdint>

#include "engine/effects/defocus.h"
#include "engine/effects/defocus_lines.h"
#include "engine/keying/vant_thread.h"

namespace vantrelo {

class doDefocusMaskX_VantThread final : public VantThread {
public:
    // Band `index` of `bandCount` over the rows; scratch holds defocusScratchFloats(rowLength)
    // cleared floats and belongs to the launcher.
    doDefocusMaskX_VantThread(int index, int bandCount, std::uint16_t* alpha, std::ptrdiff_t sampleStep,
                              std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius,
                              const DefocusKernel& kernel, float* scratch);
    unsigned run() override;

private:
    DefocusLines<std::uint16_t> lines_;
    int radius_;
    DefocusKernel kernel_;
    float* scratch_;
};

class doDefocusMaskY_VantThread final : public VantThread {
public:
    // Band `index` of `bandCount` over the columns; scratch holds defocusScratchFloats(columnLength)
    // cleared floats.
    doDefocusMaskY_VantThread(int index, int bandCount, std::uint16_t* alpha, std::ptrdiff_t sampleStep,
                              std::ptrdiff_t columnCount, std::ptrdiff_t columnLength, int radius,
                              const DefocusKernel& kernel, float* scratch);
    unsigned run() override;

private:
    DefocusLines<std::uint16_t> lines_;
    int radius_;
    DefocusKernel kernel_;
    float* scratch_;
};

// Run the horizontal (vertical) alpha pass over the engine's worker count of bands and wait for
// all of them.  Return false, having changed nothing, when the workers or their scratch could not
// be allocated; the caller can then run the pass on its own thread.
bool runDefocusXWorker(std::uint16_t* alpha, std::ptrdiff_t sampleStep, std::ptrdiff_t width,
                       std::ptrdiff_t height, std::ptrdiff_t rowLength, std::ptrdiff_t rowCount, int radius);
bool runDefocusYWorker(std::uint16_t* alpha, std::ptrdiff_t sampleStep, std::ptrdiff_t width,
                       std::ptrdiff_t height, std::ptrdiff_t columnCount, std::ptrdiff_t columnLength,
                       int radius);

}  // namespace vantrelo
