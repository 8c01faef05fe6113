// The plug-in object: construction, the parameter-set slots, the tile size, the about box and the
// release of the work images.

#include "plugin/vantrelo_plugin.h"

#include <cmath>
#include <memory>
#include <string>

#include "engine/keying/key_state.h"
#include "host/app/message_box.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_parameters.h"

namespace vantrelo {

namespace {

constexpr const char* kAboutCaption = "Vantrelo Chromakey";
constexpr const char* kVersion = "1.0";

}  // namespace

VantreloPlugin::VantreloPlugin() : sourceProxy(this), lightingCache(this) {
    // The engine keeps at most 32 workers; it clamps the count itself.
    const std::uint64_t processors = processorCount();
    setWorkerThreadCount(static_cast<std::int32_t>(processors > 32 ? 32 : processors));
}

VantreloPlugin::~VantreloPlugin() = default;

VantreloPluginApp::~VantreloPluginApp() = default;

std::unique_ptr<VantreloPlugin::Parameters> VantreloPlugin::cloneParameters(
    const Parameters& set) {
    if (const auto* keyer = dynamic_cast<const VantreloParameters*>(&set))
        return std::make_unique<VantreloParameters>(*keyer);
    // A set of the framework's own type: the same records, bound to this keyer.
    auto copy = std::make_unique<VantreloParameters>(this, &bridge);
    copy->Mav::Host::Param::Parameters::assign(set);
    return copy;
}

std::unique_ptr<VantreloPlugin::Parameters> VantreloPlugin::createParameters() {
    return std::make_unique<VantreloParameters>(this, &bridge);
}

void VantreloPlugin::describeParameters(Parameters& set) { describeKeyerParameters(set); }

void VantreloPlugin::tileSize(const Rect& rect, std::int32_t& tileWidth,
                              std::int32_t& tileHeight) {
    tileWidth = kTileSize;
    tileHeight = kTileSize;
    Host::tileSize(rect, tileWidth, tileHeight);
}

void VantreloPlugin::appendAboutText(std::string&) {}

void VantreloPlugin::showMessage(const std::string& text, const std::string& caption) {
    Host::showMessage(text, caption, Mav::Host::App::kMessageOk |
                                         Mav::Host::App::kMessageInformation);
}

std::string VantreloPlugin::aboutText() {
    std::string text = std::string(kAboutCaption) + " " + kVersion + "\n";
    text += "\nChroma keying of still photographs.\n";
    text += "\nImages are read and written with FreeImage, colour-managed with Little CMS and "
            "drawn with Anti-Grain Geometry.\n";
    text += "\nThe user interface is built with wxWidgets.\n";
    return text;
}

void VantreloPlugin::showAbout() {
    std::string text = aboutText();
    appendAboutText(text);
    showMessage(text, kAboutCaption);
}

void VantreloPlugin::releaseWorkImages() {
    sourceProxy.reset();
    lightingCache.reset();
    lightingCacheContent = LightingCacheContent::Empty;
    bridge.autoMaskJustEnabled = bridge.autoMaskEnabled;
    bridge.fitJustEnabled = bridge.fitEnabled;
}

bool VantreloPlugin::hasRenderableInput() {
    const float scale = pixelScale();
    if (!(scale > 0.0f) || !std::isfinite(scale)) return false;
    return !currentBounds().empty();
}

void VantreloPlugin::analyse(Parameters& set, const Rect& output) {
    if (!hasRenderableInput()) return;
    updateAutoMask(set, output);
}

VantreloPlugin::Rect VantreloPlugin::inputRegionFor(Parameters& set, const Rect& output,
                                                    const Rect& frame, InputRequestList&) {
    return computeInputRegion(set, output, frame, frame, true, true, false);
}

}  // namespace vantrelo
