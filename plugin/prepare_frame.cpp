// Frame preparation: before a frame is analysed and rendered, the adapter (in the batch), the
// source proxy, the layer lists and the scale-to-fit transform are brought in line with the set.

#include <algorithm>
#include <cmath>

#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

void VantreloPlugin::prepareFrame(Parameters& set, const Rect&) {
    // Nothing to prepare for an unreadable or empty input; the batch reports the file itself.
    if (!hasRenderableInput()) return;
    const Rect full = currentBounds();
    const bool preview = isPreviewMode();

    if (!preview) {
        // Every image of the batch gets its own key, auto-mask and fit.
        applyAllParamsToBridge(bridge, set);
        bridge.autoMaskJustEnabled = bridge.autoMaskEnabled;
        bridge.fitJustEnabled = bridge.fitEnabled;
    }

    if (bridge.autoMaskJustEnabled || (preview && bridge.autoMaskEnabled) ||
        set.getBool(kParamAdjustLighting)) {
        // At most 2^20 pixels, and never finer than the render in progress.
        const float pixels = static_cast<float>(full.height()) * static_cast<float>(full.width());
        const float scale = std::min(std::sqrt(kProxyPixels / pixels), pixelScale());
        if (!sourceProxy.firstPixel || sourceProxy.scale != scale) {
            // A file that can no longer be read is reported where the input itself is read (the
            // batch, the viewer), not by every prepare.
            if (!sourceProxy.loadInput(0, full, scale, true)) {
                sourceProxy.reset();
                return;
            }
        }
    }

    const int maskMode = set.getInt(kParamMaskMode);
    const bool againstBackdrop = set.getBool(kParamRenderAgainstBD);
    if (againstBackdrop && (maskMode == kMaskForeground || maskMode == kMaskBack || !preview))
        loadLayerList(this, backdropLayers, set.getString(kParamBackdropFiles));
    else if (!againstBackdrop)
        backdropLayers.clear();
    if (maskMode == kMaskForeground)
        loadLayerList(this, overlayLayers, set.getString(kParamOverlayFiles));

    if (bridge.fitJustEnabled || (preview && bridge.fitEnabled)) {
        float c = 1.0f;
        if (!backdropLayers.empty() && backdropLayers.front().image) {
            bridge.fitJustEnabled = 0;
            const Rect& layer = backdropLayers.front().image->bounds;
            c = std::max(static_cast<float>(full.width()) / static_cast<float>(layer.width()),
                         static_cast<float>(full.height()) / static_cast<float>(layer.height()));
        }
        Matrix3 fit;
        fit.at(0, 0) = c;
        fit.at(1, 1) = c;
        bridge.backdropTransform = fit;
    }
}

}  // namespace vantrelo
