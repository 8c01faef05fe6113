#pragma once
// The keyer as a plug-in of the application host.
//
// VantreloPlugin derives from the application host and overrides the operations through which the
// host creates and describes parameter sets, prepares a frame, analyses it (the auto-mask), renders
// output regions, widens the input region a render needs and chooses the batch tile size.  The
// application makes exactly one VantreloPluginApp and keeps it for the whole run: it is at once the
// host (inputs, parameter sets, progress, messages) and the keyer.
//
// Every render goes prepare, analyse, then render once per output region (a preview strip or a
// batch tile); the viewer asks requiredInputRect first.  The render reads the parameter set, the
// engine adapter `bridge` and the layer lists; it must see neither change while it runs, which the
// host guarantees by rendering on the thread that edits them (preview) or while nothing can be
// edited (batch).
//
// Preview or batch: the host's preview flag (isPreviewMode).  In the preview the view and
// transparency modes come from the parameters and edits keep the adapter current; in the batch
// every prepare pushes the input's whole set into the adapter and re-arms the auto-mask and the
// scale-to-fit, and the render composites against the backdrop when "Render against BD" is on or
// the image has no alpha.
//
// Failures are the host's exceptions (std::bad_alloc, Mav::Interrupted, Mav::Exception) and reach
// the caller of the slot: the viewer shows them as a render error, the batch reports them per
// input.  An input that cannot be read or has no pixels makes prepare, analyse and render return
// at once: the batch reports the unreadable file itself.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/keying/key_state.h"
#include "host/app/host.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "kernels/matrix3.h"
#include "plugin/layer_list.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

// What the lighting cache holds: the whole input with its backdrop corrected (16-bit entry on a
// whole input), or the simulated backdrop of the source proxy (partial and float inputs).  The two
// can have the same size, so the size alone cannot tell them apart.
enum class LightingCacheContent : std::uint8_t { Empty, CorrectedInput, SimulatedBackdrop };

class VantreloPlugin : public Mav::Host::App::Host {
public:
    using ImageBuffer = Mav::Host::System::ImageBuffer;
    using Rect = Mav::Host::System::Rect;
    using Parameters = Mav::Host::App::Parameters;
    using ImageList = Mav::Host::App::ImageList;
    using InputRequestList = Mav::Host::App::InputRequestList;

    static constexpr std::int32_t kTileSize = 1024;
    // The source proxy holds at most this many pixels.
    static constexpr float kProxyPixels = 1048576.0f;

    // The host part, empty work images, the adapter (engine tables, reset key states), no
    // auto-mask history, empty layer lists; then the engine's worker count := processor count.
    VantreloPlugin();
    ~VantreloPlugin() override;

    // ---- Host slots.

    // A VantreloParameters copied from `set` (which is one), same host and adapter.
    std::unique_ptr<Parameters> cloneParameters(const Parameters& set) override;
    // An empty VantreloParameters bound to this host and its adapter.
    std::unique_ptr<Parameters> createParameters() override;
    // The 39 keyer parameters with their defaults.
    void describeParameters(Parameters& set) override;
    void invalidateCaches() override { releaseWorkImages(); }
    void prepare(Parameters& set, const Rect& output) override { prepareFrame(set, output); }
    // The auto-mask, unless there is no input to analyse.
    void analyse(Parameters& set, const Rect& output) override;
    // Settles mask mode 2's input copy and renders the output's bounds at the output's depth.
    bool render(Parameters& set, ImageBuffer& input, ImageBuffer& output, ImageBuffer& scratch,
                ImageList* extraInputs) override;
    Rect requiredInputRect(Parameters& set, const Rect& output, const Rect& domain,
                           InputRequestList& extraInputs) override {
        return inputRegionFor(set, output, domain, extraInputs);
    }
    // One parameter set per input image.
    bool perInputParameters() const override { return true; }
    bool isPreviewMode() const override { return previewFlag(); }
    // 1024 x 1024 tiles.
    void tileSize(const Rect& rect, std::int32_t& tileWidth, std::int32_t& tileHeight) override;

    // Added slots.  appendAboutText may add to the about text (nothing here); showMessage shows an
    // information box with an OK button (queued while a progress window is up); showAbout shows
    // the about box captioned "Vantrelo Chromakey".
    virtual void appendAboutText(std::string& text);
    using Mav::Host::App::Host::showMessage;
    virtual void showMessage(const std::string& text, const std::string& caption);
    virtual void showAbout();
    // The about text: caption and version, then the credit lines.
    std::string aboutText();

    // ---- The keyer's operations behind the slots.

    // Frees the source proxy and the lighting cache and re-arms the auto-mask and scale-to-fit
    // triggers: a new image gets a new proxy, cache, detection and fit.
    void releaseWorkImages();
    // Brings the adapter (batch only), the source proxy, the layer lists and the scale-to-fit
    // transform in line with the set.
    void prepareFrame(Parameters& set, const Rect& output);
    // The automatic key, when switched on and something it depends on changed (auto-mask).
    void updateAutoMask(Parameters& set, const Rect& output);
    // computeInputRegion(set, output, frame, frame, true, true, false).
    Rect inputRegionFor(Parameters& set, const Rect& output, const Rect& frame,
                        InputRequestList& extraInputs);

    // ---- Render geometry.

    // The output rectangle grown by the margins the active settings need: the softening and light
    // wrap margin, and with withBackdropBlur the backdrop blur's (from the width of `limit`).  The
    // narrow region is mapped back through the foreground transform when withForegroundTransform
    // and clipped to `frame`; the wide one is clipped to `limit`.
    //
    // The light-wrap margin counts when the render composites with light wrap, that is in view
    // mode kMaskForeground (render_pipeline.h).  A render passes the view mode it settled; without
    // one it is the preview's "mask mode", and in the batch, where it also depends on the output's
    // alpha, kMaskForeground, the widest.  So every tile of a batch gets the margin its own light
    // wrap reads.
    static constexpr int kViewModeOfSet = -1;
    Rect computeInputRegion(const Parameters& set, const Rect& output, const Rect& frame,
                            const Rect& limit, bool withBackdropBlur, bool withForegroundTransform,
                            bool returnWide, int viewMode = kViewModeOfSet) const;
    // The foreground transform at the render scale: the stored transform works in full-resolution
    // pixels about the image centre, so S(s) T(w/2s, h/2s) F T(-w/2s, -h/2s) S(1/s) with w, h the
    // frame's size and s the pixel scale.
    Matrix3 foregroundMatrix(const Rect& frame) const;

    // True while the current input can be rendered: its file has been read (or probed) with a
    // non-empty size.
    bool hasRenderableInput();

    // ---- State.

    // A reduced copy of the current input (at most 2^20 pixels) for the auto-mask and the lighting
    // correction; empty until a prepare needs it.
    ImageBuffer sourceProxy;
    // The lighting correction's cache: 16-bit RGBA, packed rows; what it holds is
    // lightingCacheContent.
    ImageBuffer lightingCache;
    // The key, body and edge states the cache was computed from (zero records in place of body and
    // edge without hybrid keying).
    std::array<KeyState, 3> lightingStates{};
    LightingCacheContent lightingCacheContent = LightingCacheContent::Empty;
    // The live engine state; every parameter set this object makes points at it.
    CVantreloBridge bridge;
    // The auto-mask inputs of the last detection.
    double lastAutoMaskRadius = 0.0;
    double lastAutoMaskEase = 0.0;
    double lastAutoMaskCorrection = 0.0;
    LayerList backdropLayers;
    LayerList overlayLayers;
};

// The class the application instantiates.
class VantreloPluginApp : public VantreloPlugin {
public:
    VantreloPluginApp() = default;
    ~VantreloPluginApp() override;
};

}  // namespace vantrelo
