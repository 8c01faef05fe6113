// The plug-in's analysis step: the auto-mask over the source proxy, run when it is switched on and
// something it depends on changed, its key shared by the edge and body states.

#include <cstdint>

#include "engine/keying/key_state.h"
#include "kernels/convert_image.h"
#include "plugin/auto_mask.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

void VantreloPlugin::updateAutoMask(Parameters& set, const Rect&) {
    const double radiusSetting = static_cast<double>(bridge.autoMaskRadius);
    const double easeSetting = set.getDouble(kParamAutoMaskEaseBleach);
    const double correctionSetting = set.getDouble(kParamAutoMaskColorCorrection);
    // Exact comparisons, and a NaN never equals its last value.
    const bool settingsChanged = !(radiusSetting == lastAutoMaskRadius) ||
                                 !(easeSetting == lastAutoMaskEase) ||
                                 !(correctionSetting == lastAutoMaskCorrection);
    // The batch runs it once per image from the trigger its prepare re-arms; the preview also
    // reruns it while the auto-mask's sliders move.
    if (!bridge.autoMaskJustEnabled &&
        !(isPreviewMode() && bridge.autoMaskEnabled && settingsChanged))
        return;
    // No proxy (the input could not be read again): nothing to analyse, and the trigger stays
    // armed for the prepare that gets one.
    if (!sourceProxy.firstPixel || sourceProxy.bounds.empty()) return;

    bridge.autoMaskJustEnabled = 0;
    lastAutoMaskRadius = radiusSetting;
    lastAutoMaskEase = easeSetting;
    lastAutoMaskCorrection = correctionSetting;

    ImageBuffer work(this);
    work.rowAligned = false;  // the engine and the filters take packed rows
    work.allocate(sourceProxy.bounds, 16);
    convertImageTo16(*this, sourceProxy, work);
    const auto* pixels = reinterpret_cast<const std::uint16_t*>(work.firstPixel);
    const std::ptrdiff_t width = work.bounds.width();
    const std::ptrdiff_t height = work.bounds.height();

    const float radius = static_cast<float>(radiusSetting / 100.0);
    const float ease = static_cast<float>(easeSetting / 100.0);
    const float correction = 2.0f - static_cast<float>(correctionSetting / 100.0);

    // A failure anywhere below leaves all three states as they were.
    KeyStateSet& states = bridge.keyStates;
    KeyState key = states.keyState;
    std::uint16_t colour[4] = {0, 0, 0, 0};
    bool ok = autoMask(pixels, width, height, colour, &key, radius);
    if (ok && ease > 0.0f)
        ok = refineAutoMask(pixels, width, height, colour, &key, 0.0f, 0.0f, ease, correction);
    if (ok) {
        for (int c = 0; c < 3; ++c) key.backdrop[c] = static_cast<float>(colour[c]);
        states.keyState = key;
    }
    // Also after a detection that found nothing: the three states key alike from here on.
    states.edgeState = states.keyState;
    states.bodyState = states.keyState;
}

}  // namespace vantrelo
