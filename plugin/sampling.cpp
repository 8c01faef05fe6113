// Strokes and boxes of the keying tools: collecting the colours, applying them by the current mode,
// the fine-tune pick with its sliders, and the probe that shows what the picked colour keys to.

#include <cmath>
#include <cstddef>

#include "engine/keying/fine_tune.h"
#include "engine/keying/initial_key.h"
#include "host/system/exceptions.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

bool VantreloWrapper::averageSampleColour(std::uint16_t* average) const {
    if (!samples || sampleColumns <= 0 || sampleRows <= 0) return false;
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(sampleColumns) * sampleRows;
    double sum[3] = {0.0, 0.0, 0.0};
    for (std::ptrdiff_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += samples[4 * i + c];
    // Each mean lies within 0..65535, so the truncation is always defined.
    for (int c = 0; c < 3; ++c)
        average[c] = static_cast<std::uint16_t>(sum[c] / static_cast<double>(count));
    return true;
}

void VantreloWrapper::applySample() {
    if (!samples || sampleColumns <= 0 || sampleRows <= 0) return;
    const int columns = sampleColumns;
    const int rows = sampleRows;
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(columns) * rows;
    auto eachSample = [&](void (KeyStateSet::*operation)(Sample16)) {
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const std::uint16_t* s = samples + 4 * i;
            (keyStates.*operation)(Sample16{{s[0], s[1], s[2], s[3]}});
        }
    };
    switch (sampleMode) {
    case SampleCleanBg: keyStates.applyCleanBg(samples, 0, 0, columns - 1, rows - 1); return;
    case SampleCleanFg: keyStates.applyCleanFg(samples, columns, rows); return;
    case SampleSpillSponge: keyStates.applySpillSponge(samples, columns, rows); return;
    case SampleMatteSponge: keyStates.applyMatteSponge(samples, columns, rows); return;
    case SampleMakeTrans: keyStates.applyMakeTrans(samples, columns, rows); return;
    case SampleRestoreDetail: keyStates.applyDetailTool(samples, 0, 0, columns - 1, rows - 1); return;
    case SampleSpillMinus: eachSample(&KeyStateSet::applyPointSpillMinus); return;
    case SamplePointCleanFg: eachSample(&KeyStateSet::applyPointCleanFg); return;
    case SamplePointMakeTrans: eachSample(&KeyStateSet::applyPointMakeTrans); return;
    case SamplePointMatteSponge: eachSample(&KeyStateSet::applyPointMatteSponge); return;
    case SamplePointCleanBg: eachSample(&KeyStateSet::applyPointCleanBg); return;
    case SamplePointRestoreDetail: eachSample(&KeyStateSet::applyPointRestoreDetail); return;
    default: break;
    }
    std::uint16_t average[3];
    averageSampleColour(average);
    if (sampleMode != SampleSelect) return;
    const std::uint16_t colour[4] = {average[0], average[1], average[2], 65535};
    // A key that could not be started from the colour must not be copied over the other two states.
    if (!selectBackdropColour(colour, &keyStates.keyState)) Mav::Host::System::throwBadAllocation();
    keyStates.bodyState = keyStates.keyState;
    keyStates.edgeState = keyStates.keyState;
}

void VantreloWrapper::pickFineTuneColour() {
    std::uint16_t average[3];
    if (!averageSampleColour(average)) return;
    for (int c = 0; c < 3; ++c) {
        averageColour[c] = average[c];
        keyStates.pickColour[c] = average[c];
    }
    beginFineTune(Sample16{{average[0], average[1], average[2], 65535}}, &keyStates.keyState);
}

bool VantreloWrapper::setFineTune(int kind, float value) {
    if (!(value >= -1.0f && value <= 1.0f)) return false;
    const float position = (value + 1.0f) * 0.5f;
    switch (kind) {
    case FineTuneRemoveSpill: keyStates.fineTuneOuterStates(position); return true;
    case FineTuneTransparency: keyStates.fineTuneMiddleStates(position); return true;
    case FineTuneRestoreDetails: keyStates.fineTuneInnerStates(position); return true;
    default: return false;
    }
}

void CVantreloBridge::clearSamples() {
    samplePending = 0;
    sampleColumns = 0;
    sampleRows = 1;
}

void CVantreloBridge::collectSample(int phase, Sample16 colour) {
    samples = &sampleBuffer[0][0];
    switch (phase) {
    case 0:
        clearSamples();
        [[fallthrough]];
    case 1: {
        const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(sampleColumns) * sampleRows;
        if (count < 0 || count >= kSampleCapacity) return;
        for (int c = 0; c < 4; ++c) sampleBuffer[count][c] = colour.rgba[c];
        samplePending = 1;
        sampleColumns = static_cast<int>(count) + 1;
        sampleRows = 1;
        return;
    }
    case 2:
        if (samplePending) {
            // Cleared first, so a stroke whose application throws is not applied again.
            samplePending = 0;
            if (sampleMode == SampleFineTunePick)
                pickFineTuneColour();
            else
                applySample();
        }
        return;
    default:
        return;
    }
}

void CVantreloBridge::applySampleBlock(const std::uint16_t* block, int columns, int rows) {
    // The block is the caller's and may be gone after the call: afterwards the list is the (empty)
    // stroke buffer again, so that no later stroke end reads the block, or the buffer by the block's
    // shape.
    struct BackToBuffer {
        CVantreloBridge& self;
        ~BackToBuffer() {
            self.samples = &self.sampleBuffer[0][0];
            self.sampleColumns = 0;
            self.sampleRows = 1;
        }
    } backToBuffer{*this};
    samples = block;
    sampleColumns = columns;
    sampleRows = rows;
    if (sampleMode == SampleFineTunePick)
        pickFineTuneColour();
    else
        applySample();
}

Sample16 CVantreloBridge::probePixel() {
    const std::uint16_t pixel[4] = {averageColour[0], averageColour[1], averageColour[2], 65535};
    std::uint16_t keyed[4] = {0, 0, 0, 0};
    {
        CompiledKeyGuard compiled(&keyStates);
        keyPixels16(pixel, nullptr, keyed, 1, 1);
    }
    Sample16 out{};
    const std::uint32_t alpha = keyed[3];
    for (int c = 0; c < 3; ++c) out.rgba[c] = static_cast<std::uint16_t>(std::uint32_t{keyed[c]} * alpha / 65535u);
    out.rgba[3] = static_cast<std::uint16_t>(alpha);
    return out;
}

}  // namespace vantrelo
