#include "plugin/keying_pass.h"

#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "plugin/lighting.h"
#include "plugin/vantrelo_plugin.h"

// The plug-in's entries of the keying pass: its adapter, its lighting cache and its foreground
// matrix handed to the pass.

namespace vantrelo {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

namespace {

KeyPassContext contextOf(VantreloPlugin& plugin, const Rect& domain, LightingContext& lighting,
                         const KeyedRowStep* rowStep) {
    KeyPassContext context;
    context.rowStep = rowStep;
    context.host = &plugin;
    context.adapter = &plugin.bridge;
    context.foreground = plugin.foregroundMatrix(domain);
    context.lighting = &lighting;
    return context;
}

}  // namespace

void keyPassFloat(VantreloPlugin& host, const ImageBuffer& input, const ImageBuffer& warpedForeground,
                  const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, const Rect& domain,
                  bool plainColour, bool transformed, bool lighting, const KeyedRowStep* rowStep) {
    LightingContext lightingOf = lightingContext(host);
    keyPassFloat(contextOf(host, domain, lightingOf, rowStep), input, warpedForeground, backdrop, keyed,
                 keyingRect, plainColour, transformed, lighting);
}

void keyPass16(VantreloPlugin& host, const ImageBuffer& input, const ImageBuffer& warpedForeground,
               const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, const Rect& domain,
               bool plainColour, bool transformed, bool lighting, const KeyedRowStep* rowStep) {
    LightingContext lightingOf = lightingContext(host);
    keyPass16(contextOf(host, domain, lightingOf, rowStep), input, warpedForeground, backdrop, keyed,
              keyingRect, plainColour, transformed, lighting);
}

void keyPass8(VantreloPlugin& host, const ImageBuffer& input, const ImageBuffer& warpedForeground,
              const ImageBuffer* backdrop, ImageBuffer& keyed, const Rect& keyingRect, const Rect& domain,
              bool plainColour, bool transformed, bool lighting, const KeyedRowStep* rowStep) {
    LightingContext lightingOf = lightingContext(host);
    keyPass8(contextOf(host, domain, lightingOf, rowStep), input, warpedForeground, backdrop, keyed,
             keyingRect, plainColour, transformed, lighting);
}

}  // namespace vantrelo
