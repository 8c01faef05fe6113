// The render entry: the host calls it once per output region, after prepare and analyse.

#include "host/system/exceptions.h"
#include "host/system/image_buffer.h"
#include "plugin/parameter_schema.h"
#include "plugin/render_pipeline.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

bool VantreloPlugin::render(Parameters& set, ImageBuffer& input, ImageBuffer& output,
                            ImageBuffer&, ImageList*) {
    if (output.bounds.empty() || !output.firstPixel || !input.firstPixel || input.bounds.empty())
        return false;
    if (!hasRenderableInput()) return false;
    // The stages address both images with the output's pixel type.
    if (input.bitsPerChannel != output.bitsPerChannel || input.channels < 3 || output.channels < 3)
        throw Mav::Exception("The keyer cannot render: the input and the output image differ in "
                             "depth or have fewer than three channels.");

    int maskMode = set.getInt(kParamMaskMode);
    // A saved view of the input or the backdrop is a preview matter: the batch renders the result.
    if (!isPreviewMode() && !set.getBool(kParamRenderAgainstBD) && maskMode != kMaskMask)
        maskMode = kMaskForeground;
    if (maskMode == kMaskFront) output.copyOverlap(input);

    switch (output.bitsPerChannel) {
        case 16:
            render16(*this, set, input, output);
            break;
        case 32:
            renderFloat(*this, set, input, output);
            break;
        default:
            render8(*this, set, input, output);
            break;
    }
    return true;
}

}  // namespace vantrelo
