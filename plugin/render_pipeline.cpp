// The render pipeline: backdrop, foreground warp, keying, softening, light wrap, composite and
// overlays for one output region.  One design in three instances; the Depth records below hold
// everything that differs, chosen once per render, so no step tests the format inside a loop.

#include "plugin/render_pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "kernels/band_job.h"
#include "kernels/matrix3.h"
#include "kernels/recursive_gaussian_blur.h"
#include "kernels/warp.h"
#include "plugin/composite_rows.h"
#include "plugin/keying_pass.h"
#include "plugin/light_wrap.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

namespace {

using Mav::Host::App::Parameters;
using Mav::Host::System::intersectRect;
using Mav::Host::System::unionRect;

using Warp = void (*)(SystemHost&, ImageBuffer&, const ImageBuffer&, const Matrix3&);
using KeyPass = void (*)(VantreloPlugin&, const ImageBuffer&, const ImageBuffer&,
                         const ImageBuffer*, ImageBuffer&, const Rect&, const Rect&, bool, bool,
                         bool, const KeyedRowStep*);
using LightWrapStep = void (*)(SystemHost&, ImageBuffer&, const ImageBuffer*,
                               const std::uint16_t*, float, float, int);

// The members of one render depth; the pairs are (four channels, fewer).
struct Depth {
    std::int32_t keyedBits;
    BandWorker fill[2];
    Warp layerPremultiplied;
    Warp layerStraight;
    Warp foreground[2];
    KeyPass keyPass;
    bool floatKeyed;
    LightWrapStep lightWrap;
    BandWorker copy[2];
    BandWorker over[2];
    BandWorker overColour[2];
    BandWorker overImage[2];
    BandWorker matteGrey[2];
};

constexpr Depth kFloat{32,
                       {fillColorRows4, fillColorRows3},
                       warpLayerPremultipliedFloat,
                       warpLayerStraightFloat,
                       {warpForegroundRgbaFloat, warpForegroundRgbFloat},
                       keyPassFloat,
                       true,
                       lightWrapStepFloat,
                       {copyKeyedRowsFloat4, copyKeyedRowsFloat3},
                       {compositeOverRowsFloat4, compositeOverRowsFloat3},
                       {compositeOverColourRowsFloat4, compositeOverColourRowsFloat3},
                       {compositeOverImageRowsFloat4, compositeOverImageRowsFloat3},
                       {matteGreyRowsFloat4, matteGreyRowsFloat3}};

constexpr Depth k16{16,
                    {fillColorRows16x4, fillColorRows16x3},
                    warpLayerPremultiplied16,
                    warpLayerStraight16,
                    {warpForegroundRgba16, warpForegroundRgb16},
                    keyPass16,
                    false,
                    lightWrapStep16,
                    {copyKeyedRows16x4, copyKeyedRows16x3},
                    {compositeOverRows16x4, compositeOverRows16x3},
                    {compositeOverColourRows16x4, compositeOverColourRows16x3},
                    {compositeOverImageRows16x4, compositeOverImageRows16x3},
                    {matteGreyRows16x4, matteGreyRows16x3}};

constexpr Depth k8{16,
                   {fillColorRows8x4, fillColorRows8x3},
                   warpLayerPremultiplied8,
                   warpLayerStraight8,
                   {warpForegroundRgba8, warpForegroundRgb8},
                   keyPass8,
                   false,
                   lightWrapStep8,
                   {copyKeyedRows8x4, copyKeyedRows8x3},
                   {compositeOverRows8x4, compositeOverRows8x3},
                   {compositeOverColourRows8x4, compositeOverColourRows8x3},
                   {compositeOverImageRows8x4, compositeOverImageRows8x3},
                   {matteGreyRows8x4, matteGreyRows8x3}};

// 0 selects the four-channel member, 1 the one for fewer channels.
int memberFor(const ImageBuffer& image) { return image.channels > 3 ? 0 : 1; }

void runRows(VantreloPlugin& plugin, BandWorker worker, ImageBuffer& destination,
             const void* source, const Rect& area) {
    BandJob job{&plugin, &destination, source, &area};
    runBands(plugin, worker, &job);
}

std::int32_t toInt32(double v) {
    return static_cast<std::int32_t>(
        std::clamp(v, double(std::numeric_limits<std::int32_t>::min()),
                   double(std::numeric_limits<std::int32_t>::max())));
}

// Where the input lands in the output through the foreground transform: its bounds' corners
// mapped and rounded outward by one more pixel.  Corners far outside are held (in floating point)
// a long way beyond any frame, so the box never overflows; a corner that is not finite makes the
// warp draw nothing, and the box is then the domain itself.
Rect foregroundBox(const VantreloPlugin& plugin, const ImageBuffer& input, const Rect& domain) {
    static constexpr double kFar = 1073741824.0;
    const Matrix3 m = plugin.foregroundMatrix(domain);
    const Rect& b = input.bounds;
    const double corners[4][2] = {{double(b.x0), double(b.y0)},
                                  {double(b.x1), double(b.y0)},
                                  {double(b.x0), double(b.y1)},
                                  {double(b.x1), double(b.y1)}};
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    for (const auto& c : corners) {
        const double w = m.at(2, 0) * c[0] + m.at(2, 1) * c[1] + m.at(2, 2);
        const double x = (m.at(0, 0) * c[0] + m.at(0, 1) * c[1] + m.at(0, 2)) / w;
        const double y = (m.at(1, 0) * c[0] + m.at(1, 1) * c[1] + m.at(1, 2)) / w;
        if (!std::isfinite(x) || !std::isfinite(y)) return domain;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const auto hold = [](double v) { return std::clamp(v, -kFar, kFar); };
    return {toInt32(std::floor(hold(minX)) - 1), toInt32(std::floor(hold(minY)) - 1),
            toInt32(std::ceil(hold(maxX)) + 1), toInt32(std::ceil(hold(maxY)) + 1)};
}

// S(s) T(Wd / 2s, Hd / 2s) transform T(-w / 2, -h / 2): a layer scaled by the render scale about
// its centre, centred on the output domain, moved by the stored transform at full resolution.
Matrix3 layerMatrix(const Matrix3& transform, double s, const Rect& domain, const Rect& layer) {
    const double wd = double(domain.x1) - double(domain.x0);
    const double hd = double(domain.y1) - double(domain.y0);
    const double w = double(layer.x1) - double(layer.x0);
    const double h = double(layer.y1) - double(layer.y0);
    Matrix3 m;
    m.at(0, 2) = -w / 2.0;
    m.at(1, 2) = -h / 2.0;
    premultiplyMatrix3(m, transform);
    Matrix3 centre;
    centre.at(0, 2) = wd / (2.0 * s);
    centre.at(1, 2) = hd / (2.0 * s);
    premultiplyMatrix3(m, centre);
    Matrix3 scale;
    scale.at(0, 0) = s;
    scale.at(1, 1) = s;
    premultiplyMatrix3(m, scale);
    return m;
}

// Draws the list's images from the last to the first (so the first ends on top).
void drawLayers(VantreloPlugin& plugin, const Depth& depth, const LayerList& layers,
                const Matrix3& transform, ImageBuffer& destination) {
    const double s = plugin.pixelScale();
    for (auto entry = layers.rbegin(); entry != layers.rend(); ++entry) {
        if (!entry->image) continue;
        const Matrix3 m = layerMatrix(transform, s, destination.domain, entry->image->domain);
        (entry->premultiplied ? depth.layerPremultiplied : depth.layerStraight)(
            plugin, destination, *entry->image, m);
    }
}

// The composite of one keyed row as the keying band hands it over (a KeyedRowStep): the
// composite member run as band 0 of 1 on that row, reading the band's keyed row as a one-row
// image.
struct RowComposite {
    BandWorker worker = nullptr;
    ImageBuffer* output = nullptr;
    const std::uint16_t* colour = nullptr;  // set for the "over colour" members
    const ImageBuffer* backdrop = nullptr;  // set for the "over image" members
    std::int32_t x0 = 0;
    std::int32_t x1 = 0;
    std::int32_t keyedBits = 16;
};

void compositeKeyedRow(const void* context, std::int32_t y, const void* row) {
    const RowComposite& c = *static_cast<const RowComposite*>(context);
    const Rect area{c.x0, y, c.x1, y + 1};
    ImageBuffer keyedRow(nullptr);
    keyedRow.bitsPerChannel = c.keyedBits;
    keyedRow.channels = 4;
    keyedRow.bounds = keyedRow.domain = area;
    keyedRow.rowBytes = std::ptrdiff_t{c.x1 - c.x0} * 4 * (c.keyedBits / 8);
    keyedRow.firstPixel = static_cast<std::uint8_t*>(const_cast<void*>(row));
    const KeyedOverColour overColour{&keyedRow, c.colour};
    const KeyedOverImage overImage{&keyedRow, c.backdrop};
    const void* source = c.colour     ? static_cast<const void*>(&overColour)
                         : c.backdrop ? static_cast<const void*>(&overImage)
                                      : &keyedRow;
    BandJob job{nullptr, c.output, source, &area};
    c.worker(&job, 0, 1, 0);
}

// Whole-region row work in bands (band workers over a BandJob whose area is the rows to touch):
// on the render's own thread, copying a tile's backdrop image into the output took 2.4% of the
// processor time of a render over a backdrop image while seven of eight processors waited.

// ImageBuffer::copyOverlap row by row: the source is an ImageBuffer of the destination's format.
void copyRows(void* jobPointer, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const ImageBuffer& source = *static_cast<const ImageBuffer*>(job.source);
    const Rect& area = *job.area;
    const BandRange rows = bandRange(area.y0, area.y1, index, count);
    const auto length = static_cast<std::size_t>(area.width() * job.destination->bytesPerPixel());
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y) {  // memmove: a view may share the rows
        const auto row = static_cast<std::int32_t>(y);
        std::memmove(job.destination->pixelAddress(area.x0, row), source.pixelAddress(area.x0, row),
                     length);
    }
}

// ImageBuffer::clearRect row by row.
void clearRows(void* jobPointer, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const Rect& area = *job.area;
    const BandRange rows = bandRange(area.y0, area.y1, index, count);
    const auto length = static_cast<std::size_t>(area.width() * job.destination->bytesPerPixel());
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y)
        std::memset(job.destination->pixelAddress(area.x0, static_cast<std::int32_t>(y)), 0, length);
}

// Clears every channel above the diagonal from the domain's top-left to its bottom-right corner.
void clearAboveDiagonalRows(void* jobPointer, std::uint64_t index, std::uint64_t count,
                            std::uint64_t) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    ImageBuffer& output = *job.destination;
    const Rect& d = output.domain;
    const Rect& b = *job.area;
    const std::int64_t height = std::int64_t{d.y1} - d.y0;
    const std::ptrdiff_t pixelBytes = output.bytesPerPixel();
    const BandRange rows = bandRange(b.y0, b.y1, index, count);
    for (std::ptrdiff_t row = rows.begin; row < rows.end; ++row) {
        const auto y = static_cast<std::int32_t>(row);
        const std::int64_t n =
            d.x0 + ((std::int64_t{d.x1} - d.x0) * (std::int64_t{y} - d.y0)) / height;
        const std::int64_t from = std::max<std::int64_t>(b.x0, n);
        if (from >= b.x1) continue;
        std::memset(output.pixelAddress(static_cast<std::int32_t>(from), y), 0,
                    static_cast<std::size_t>((b.x1 - from) * pixelBytes));
    }
}

void copyOverlap(VantreloPlugin& plugin, ImageBuffer& destination, const ImageBuffer& source) {
    const Rect area = intersectRect(destination.bounds, source.bounds);
    if (area.empty() || !destination.firstPixel || !source.firstPixel) return;
    if (source.bitsPerChannel != destination.bitsPerChannel || source.channels != destination.channels)
        return;
    runRows(plugin, copyRows, destination, &source, area);
}

void clearAll(VantreloPlugin& plugin, ImageBuffer& image) {
    if (!image.firstPixel || image.bounds.empty()) return;
    runRows(plugin, clearRows, image, nullptr, image.bounds);
}

void clearAboveDiagonal(VantreloPlugin& plugin, ImageBuffer& output) {
    if (std::int64_t{output.domain.y1} - output.domain.y0 <= 0 || output.bounds.empty()) return;
    runRows(plugin, clearAboveDiagonalRows, output, nullptr, output.bounds);
}

void renderWith(const Depth& depth, VantreloPlugin& plugin, Parameters& set,
                const ImageBuffer& input, ImageBuffer& output) {
    CVantreloBridge& bridge = plugin.bridge;
    const Rect& domain = output.domain;
    const Rect& bounds = output.bounds;

    // 1. Settle rectangles and modes.
    const bool transformed = !bridge.foregroundTransform.isIdentity();
    const Rect clip = transformed ? unionRect(domain, foregroundBox(plugin, input, domain)) : domain;
    const RenderModes modes = settleRenderModes(plugin, set, output);
    const MaskMode v = modes.viewMode;
    Rect keyingRect =
        plugin.computeInputRegion(set, bounds, clip, clip, false, false, false, v);
    if (!transformed) keyingRect = intersectRect(keyingRect, input.bounds);
    Rect backdropRect = plugin.computeInputRegion(set, bounds, clip, domain, true, false, true, v);
    const float sigma = v == kMaskForeground ? plugin.pixelScale() * bridge.lightWrapRadius : 0.0f;
    const bool lighting = set.getBool(kParamAdjustLighting);
    // The keying margin serves the matte softening and the light wrap, which read keyed pixels
    // outside the region, and the engine runs whose result depends on their extent (the lighting
    // correction's and the hybrid key's whole-rectangle runs, the background spill blurred along
    // each row).  Without them every keyed pixel depends on its own subject and backdrop pixels
    // alone and nothing reads past the region, so only the region is keyed: in the batch's
    // 1024-pixel tiles that is 8% fewer pixels, with the same result.
    const KeyStateSet& keys = bridge.keyStates;
    const bool marginRead = keys.softenRadius > 0 || (sigma > 0.0f && bridge.lightWrapOn) ||
                            lighting || keys.hybrid ||
                            !(keys.keyState.flags & (KeyFlagSpillComplement | KeyFlagSpillSolid));
    if (!marginRead) keyingRect = intersectRect(keyingRect, bounds);
    // The backdrop image likewise, when its blur does not read past the region either (over a
    // backdrop image drawn twice enlarged that saves 8% of the layer warp).
    const double domainWidth = double(domain.x1) - double(domain.x0);
    const float backdropBlur = static_cast<float>(set.getDouble(kParamBackdropBlur) * domainWidth *
                                                  static_cast<double>(0.1f) / 100.0);
    const bool blursBackdrop = backdropBlur > 0.0f && !modes.transparent;
    if (!marginRead && !blursBackdrop) backdropRect = intersectRect(backdropRect, bounds);
    const std::uint16_t* replacement = bridge.keyStates.keyState.replacementColour;
    const std::uint16_t solid[4] = {replacement[0], replacement[1], replacement[2], 65535};
    const std::uint16_t none[4] = {0, 0, 0, 0};
    const std::uint16_t* fillColour = modes.plainColour ? solid : none;
    const bool keying = (v == kMaskForeground || v == kMaskMask) && !keyingRect.empty();
    // With nothing between the keying and the composite that reads other rows (the conditions of
    // the unread margin) and the keyed rows those of the region, each row is composited by the
    // band that keyed it while the row is in cache, and no keyed image is kept: that spares the
    // writing and reading back of a keyed image the size of the region.
    const bool compositeByRow = keying && !marginRead && keyingRect == bounds;

    // 2. The keyed image: packed rows, so the keying hands the engine several rows as one run.
    ImageBuffer keyed(&plugin);
    if (keying && !compositeByRow) {
        keyed.rowAligned = false;
        keyed.allocate(keyingRect, depth.keyedBits);
    }

    // 3. Colour fill; not where the backdrop image is copied over the whole region anyway (that
    // saves a pass over the output, 4% of a render over a backdrop image), nor where the keyed
    // image goes over the plain fill: then the composite lays the colour under it in the same pass
    // (or, transparent, copies over every channel), which saves a pass over the output and a
    // read of it (4.5% and part of the composite's 22% of a render over a colour).
    const LayerList& backdropLayers = plugin.backdropLayers;
    const bool drawBackdrop = !backdropLayers.empty() &&
                              (v == kMaskBack || (v == kMaskForeground && !modes.transparent)) &&
                              !backdropRect.empty();
    const bool compositeFills = keying && v == kMaskForeground && !drawBackdrop && !modes.split;
    // Likewise over a backdrop image that covers the region, which then is not copied into the
    // output first.
    const bool compositeReadsBackdrop = keying && v == kMaskForeground && drawBackdrop &&
                                        !modes.split &&
                                        Mav::Host::System::rectContains(backdropRect, bounds);
    if ((v == kMaskForeground || v == kMaskBack) && !compositeFills &&
        !(drawBackdrop && Mav::Host::System::rectContains(backdropRect, bounds)))
        runRows(plugin, depth.fill[memberFor(output)], output, fillColour, bounds);

    // 4. Backdrop layers, drawn once over the region with every margin the later blurs read.
    ImageBuffer backdrop(&plugin);
    if (drawBackdrop) {
        backdrop.allocateLike(output, backdropRect);
        runRows(plugin, depth.fill[memberFor(backdrop)], backdrop, fillColour, backdrop.bounds);
        drawLayers(plugin, depth, backdropLayers, bridge.backdropTransform, backdrop);
    }

    // 5. Backdrop blur; a colour backdrop is never blurred.
    if (backdrop.firstPixel) {
        if (blursBackdrop) {
            RecursiveGaussianBlur gaussian(plugin, backdrop, backdrop, backdropBlur, backdropBlur,
                                           0, 0);
            gaussian.reportProgress = false;
            gaussian.run();
        }
        if (!compositeReadsBackdrop) copyOverlap(plugin, output, backdrop);
    }

    // 6. Split.
    if (modes.split && v == kMaskForeground) clearAboveDiagonal(plugin, output);

    // 7. Foreground warp.  With the lighting correction on, the keying pass draws the corrected
    // subject itself.
    ImageBuffer warped(&plugin);
    if (transformed && (!lighting || v == kMaskFront) && v != kMaskBack &&
        (v == kMaskFront || !keyingRect.empty())) {
        if (v != kMaskFront) {
            if (input.channels > 3)
                warped.allocateLike(input, keyingRect);
            else
                warped.allocate(keyingRect, input.bitsPerChannel);
        }
        ImageBuffer& destination = warped.firstPixel ? warped : output;
        clearAll(plugin, destination);
        depth.foreground[memberFor(input)](plugin, destination, input,
                                           plugin.foregroundMatrix(domain));
    }

    // 8 and 9. Keying and softening, light wrap and the final composite, whose member is chosen
    // by view mode and transparency.
    BandWorker composite = nullptr;
    const void* compositeSource = &keyed;
    const KeyedOverColour overColour{&keyed, fillColour};
    const KeyedOverImage overImage{&keyed, &backdrop};
    if (keying && v == kMaskForeground) {
        if (modes.transparent) {
            composite = depth.copy[memberFor(output)];
        } else if (compositeFills) {
            composite = depth.overColour[memberFor(output)];
            compositeSource = &overColour;
        } else if (compositeReadsBackdrop) {
            composite = depth.overImage[memberFor(output)];
            compositeSource = &overImage;
        } else {
            composite = depth.over[memberFor(output)];
        }
    } else if (keying && v == kMaskMask) {
        composite = depth.matteGrey[memberFor(output)];
    }
    RowComposite rowComposite;
    rowComposite.worker = composite;
    rowComposite.output = &output;
    rowComposite.colour = compositeSource == &overColour ? fillColour : nullptr;
    rowComposite.backdrop = compositeSource == &overImage ? &backdrop : nullptr;
    rowComposite.x0 = bounds.x0;
    rowComposite.x1 = bounds.x1;
    rowComposite.keyedBits = depth.keyedBits;
    const KeyedRowStep rowStep{compositeKeyedRow, &rowComposite};

    if (keying) {
        depth.keyPass(plugin, input, warped, backdrop.firstPixel ? &backdrop : nullptr, keyed,
                      keyingRect, domain, modes.plainColour, transformed, lighting,
                      compositeByRow ? &rowStep : nullptr);
    }
    if (keying && !compositeByRow) {
        if (depth.floatKeyed)
            bridge.defocusMatteFloat(reinterpret_cast<float*>(keyed.firstPixel),
                                     keyingRect.width(), keyingRect.height(), 1.0f);
        else
            bridge.defocusMatte16(reinterpret_cast<std::uint16_t*>(keyed.firstPixel),
                                  keyingRect.width(), keyingRect.height(), 1.0f);
        if (v == kMaskForeground && sigma > 0.0f && bridge.lightWrapOn) {
            const float brightness =
                static_cast<float>(static_cast<double>(bridge.lightWrapBrightness) / 100.0);
            depth.lightWrap(plugin, keyed, backdrop.firstPixel ? &backdrop : nullptr, solid,
                            sigma, brightness, set.getInt(kParamLightWrapBlendMode));
        }
        runRows(plugin, composite, output, compositeSource, bounds);
    }

    // 10. Overlays.
    if (v == kMaskForeground && !plugin.overlayLayers.empty())
        drawLayers(plugin, depth, plugin.overlayLayers, bridge.overlayTransform, output);
}

}  // namespace

RenderModes settleRenderModes(const VantreloPlugin& plugin, const Parameters& set,
                              const ImageBuffer& output) {
    RenderModes modes;
    const int transparency = set.getInt(kParamTransparencyMode);
    if (plugin.isPreviewMode()) {
        modes.viewMode = static_cast<MaskMode>(set.getInt(kParamMaskMode));
        modes.transparent = transparency == kTransparencyTransparent;
        modes.split = transparency == kTransparencySplit;
    } else {
        const bool opaque = set.getBool(kParamRenderAgainstBD) || !output.hasAlpha;
        modes.viewMode =
            !opaque && set.getInt(kParamMaskMode) == kMaskMask ? kMaskMask : kMaskForeground;
        modes.transparent = !opaque;
    }
    modes.plainColour =
        set.getInt(kParamBackgroundMode) == kBackgroundColor && plugin.backdropLayers.empty();
    return modes;
}

void renderFloat(VantreloPlugin& plugin, Parameters& set, const ImageBuffer& input,
                 ImageBuffer& output) {
    renderWith(kFloat, plugin, set, input, output);
}

void render16(VantreloPlugin& plugin, Parameters& set, const ImageBuffer& input,
              ImageBuffer& output) {
    renderWith(k16, plugin, set, input, output);
}

void render8(VantreloPlugin& plugin, Parameters& set, const ImageBuffer& input,
             ImageBuffer& output) {
    renderWith(k8, plugin, set, input, output);
}

}  // namespace vantrelo
