// The viewer's render path: one call per paint (drawing) or per deferred render (not drawing).
//
// The render works at the scale r = min(zoom, 1) on 8-bit proxies of the input.  The result of
// each view is cached with its bounds; a pan renders only the strips of the new request that the
// cache does not cover, and the request is the visible region widened by 256 pixels, so small pans
// render nothing at all.  Above 100% the result is rendered at scale 1 and magnified for display.

#include <wx/utils.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>

#include "host/app/viewer.h"
#include "host/app/viewer_display.h"
#include "host/system/exceptions.h"

namespace Mav::Host::Param {

namespace {

constexpr std::int32_t kRenderMargin = 256;   // around a request, so small pans render nothing
constexpr std::int32_t kMagnifyMargin = 5;    // around a magnified region, for the resample

std::int32_t clampToInt32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

Rect widened(const Rect& r, std::int32_t by) {
    return {clampToInt32(std::int64_t{r.x0} - by), clampToInt32(std::int64_t{r.y0} - by),
            clampToInt32(std::int64_t{r.x1} + by), clampToInt32(std::int64_t{r.y1} + by)};
}

Rect moved(const Rect& r, std::int64_t dx, std::int64_t dy) {
    return {clampToInt32(r.x0 + dx), clampToInt32(r.y0 + dy), clampToInt32(r.x1 + dx),
            clampToInt32(r.y1 + dy)};
}

// A size scaled by the zoom above 1, truncated.
std::int64_t zoomedSize(std::int64_t size, float z) {
    if (!(z > 1.0f)) return size;
    return static_cast<std::int64_t>(static_cast<double>(size) * z);
}

// The pan offset is held so that at least one pixel of the picture stays in view on each side:
// within [1 - picture size, view size - 1].
std::int32_t limitPan(std::int32_t pan, std::int64_t pictureSize, std::int64_t viewSize) {
    std::int64_t p = pan;
    if (p < 1 - pictureSize) p = 1 - pictureSize;
    if (p > viewSize - 1) p = viewSize - 1;
    return clampToInt32(p);
}

}  // namespace

void Viewer::renderAndDraw(Rect& r, double scale, wxGraphicsContext* gc, bool draw, int& status) {
    beforeUpdate();
    if (currentView >= views.size()) currentView = 0;
    while (results.size() < views.size()) results.push_back(std::make_unique<ImageBuffer>(&host));
    status = currentView != 0 ? kDrawOtherView : kDrawResult;
    centreX = static_cast<std::int32_t>((std::int64_t{r.x0} + r.x1) / 2);
    centreY = static_cast<std::int32_t>((std::int64_t{r.y0} + r.y1) / 2);
    originX = r.x0;
    originY = r.y0;
    if (host.inputCount() == 0) {
        // Nothing to read, render or report until an image is opened: an empty preview.
        r = Rect{r.x0, r.y0, r.x0, r.y0};
        status = kDrawNothing;
        return;
    }
    bool noRender = showOriginal;
    const bool entered = viewerLock.tryEnter();
    const bool busy = !entered;
    if (!draw && busy) {
        raiseRenderState(2);
        return;
    }
    rendering = true;

    ViewRecord& view = views[currentView];
    ImageBuffer& res = *results[currentView];
    ImageSet* set = &fullSet;
    ImageBuffer* shown = &res;
    if (busy) {
        set = &proxySet;
        shown = &proxyResult;
    } else {
        proxySet.clear();
    }

    try {
        App::Parameters& params = viewParameters();
        // An edit of the zoom field takes effect now.
        setZoom(static_cast<float>(zoomRecord.value().getDouble() / 100.0));
        float z = zoom;
        if ((showOriginal || busy) && originalSource != lastOriginalSource) {
            cacheValid = false;
            lastOriginalSource = originalSource;
        }
        if (fitPending) {
            z = std::min(host.fitScale(r), static_cast<float>(contentScale()));
            // The fit is clamped like any zoom before the render scale is taken from it: a view
            // too small for the picture would otherwise ask for a render at scale 0.
            const float low = static_cast<float>(zoomRecord.slots[SlotMin].getDouble()) / 100.0f;
            const float high = static_cast<float>(zoomRecord.slots[SlotMax].getDouble()) / 100.0f;
            z = std::isnan(z) ? zoom : std::clamp(z, low, high);
        }
        const float renderScale = std::min(z, 1.0f);

        bool fitted = false;
        if (!(cacheValid && !zoomDirty && !fitPending)) {
            if (!(cacheValid && floatsNearlyEqual(renderScale, set->source.scale))) {
                if (busy) {
                    noRender = true;
                    set = &proxySet;
                    shown = &proxyResult;
                    raiseRenderState(2);
                }
                cacheValid = false;
                if ((zoomDirty || fitPending) && !busy)
                    for (auto& result : results) result->reset();
                set->source.reset();
                shown->reset();
                set->aux.reset();
                originalImage.reset();
                scaledResult.reset();
                set->clearLayers();
                if (busy) {
                    raiseRenderState(3);
                    postRenderRequest();
                }
            }
            setZoom(z);
            fitted = fitPending;
            zoomDirty = false;
            fitPending = false;
        }

        host.setPixelScale(renderScale);
        Rect d = host.currentBounds();
        d.scale(renderScale);
        const std::int64_t wz = zoomedSize(d.width(), z);
        const std::int64_t hz = zoomedSize(d.height(), z);
        const std::int64_t viewWidth = std::int64_t{r.x1} - r.x0;
        const std::int64_t viewHeight = std::int64_t{r.y1} - r.y0;
        if (fitted) {
            panX = clampToInt32((viewWidth - wz) / 2);
            panY = clampToInt32((viewHeight - hz) / 2);
        }
        panX = limitPan(panX, wz, viewWidth);
        panY = limitPan(panY, hz, viewHeight);

        // Where the picture lies in the client area, and the part of it in view.
        const std::int64_t left = std::int64_t{r.x0} + panX;
        const std::int64_t top = std::int64_t{r.y0} + panY;
        const Rect placed{clampToInt32(left), clampToInt32(top), clampToInt32(left + wz),
                          clampToInt32(top + hz)};
        Rect v = System::intersectRect(placed, r);
        if (v.empty()) v = Rect{v.x0, v.y0, v.x0, v.y0};

        // The visible part in picture coordinates (magnified ones above 100%), and the region of
        // the render-scale image it needs.
        Rect e = d;
        if (z > 1.0f) e.scale(z);
        const Rect vi = moved(v, std::int64_t{e.x0} - r.x0 - panX, std::int64_t{e.y0} - r.y0 - panY);
        Rect n = vi;
        if (z > 1.0f) {
            const auto down = [z](std::int32_t c) {
                return System::truncateToInt32(std::trunc(static_cast<float>(c) / z));
            };
            n = System::intersectRect(Rect{clampToInt32(std::int64_t{down(vi.x0)} - kMagnifyMargin),
                                           clampToInt32(std::int64_t{down(vi.y0)} - kMagnifyMargin),
                                           clampToInt32(std::int64_t{down(vi.x1)} + kMagnifyMargin),
                                           clampToInt32(std::int64_t{down(vi.y1)} + kMagnifyMargin)},
                                      d);
        }
        if (vi.empty()) n = Rect{};
        Rect request = n;
        Rect input = n;
        App::InputRequestList extraInputs;

        if (busy && !System::rectContains(proxyResult.bounds, n)) proxyResult.reset();

        if (!noRender) {
            if (res.firstPixel && !view.needsRender && System::rectContains(res.bounds, n)) {
                input = System::intersectRect(host.requiredInputRect(params, request, d, extraInputs), d);
            } else if (busy) {
                noRender = true;
                set = &proxySet;
                shown = &proxyResult;
                if (!view.needsRender && !System::rectContains(res.bounds, n)) {
                    postRenderRequest();
                    view.needsRender = true;
                }
                raiseRenderState(2);
            } else {
                request = System::intersectRect(widened(n, kRenderMargin), d);
                input = System::intersectRect(host.requiredInputRect(params, request, d, extraInputs), d);
            }
        }

        ImageBuffer* source = (showOriginal && originalSource > 0) ? &originalImage : &set->source;

        // Images of extra inputs (the application's host asks for none).
        if (noRender) {
            set->clearLayers();
        } else {
            if (!cacheValid || set->layerImages.size() != extraInputs.size()) set->clearLayers();
            for (std::size_t i = 0; i < extraInputs.size(); ++i) {
                const App::InputRequest& entry = extraInputs[i];
                if (set->layerImages.size() <= i)
                    set->layerImages.push_back(std::make_unique<ImageBuffer>(&host));
                if (set->layerKeys.size() <= i) set->layerKeys.push_back(entry.source);
                ImageBuffer& layer = *set->layerImages[i];
                Rect q = System::intersectRect(entry.rect, d);
                if (set->layerKeys[i] != entry.source) {
                    layer.reset();
                    set->layerKeys[i] = entry.source;
                }
                if (cacheValid && System::rectContains(layer.bounds, q)) continue;
                q = System::intersectRect(widened(q, kRenderMargin), d);
                std::string error;
                if (!layer.loadInput(entry.source, q, renderScale, true, &error))
                    reportLoadError(error);
            }
        }

        if (!(cacheValid && System::rectContains(source->bounds, input))) {
            Rect q = noRender ? input : widened(input, kRenderMargin);
            q = System::intersectRect(q, d);
            std::string error;
            if (source->loadInput(static_cast<std::uint64_t>(std::max(originalSource, 0)), q,
                                  renderScale, true, &error))
                loadErrorShown_.clear();
            else
                reportLoadError(error);
            cacheValid = true;
        }

        bool showSource = false;
        bool fromWorker = false;
        if (renderState() >= 2 && draw && worker.running()) {
            shown = &proxyResult;
            if (!System::rectContains(proxyResult.bounds, n)) proxyResult.reset();
            if (source == &fullSet.source && !System::rectContains(proxySet.source.bounds, n)) {
                proxySet.source.allocateLike(fullSet.source, n);
                proxySet.source.copyOverlap(fullSet.source);
            }
            set = &proxySet;
            showSource = true;
            fromWorker = true;
        }

        if (!fromWorker && !noRender) {
            originalImage.reset();
            const bool cached =
                res.firstPixel && !view.needsRender && System::rectContains(res.bounds, n);
            if (!cached) {
                if (set->source.domain.empty()) {
                    std::string error;
                    if (!set->source.loadInput(0, input, renderScale, true, &error))
                        reportLoadError(error);
                    if (set->source.domain.empty()) noRender = true;  // no picture to render
                }
                const Rect target = request;
                std::optional<wxBusyCursor> hourglass;
                if (busyCursor && !worker.running() && !blankMode) hourglass.emplace();
                App::ImageList* layers = set->layerImages.empty() ? nullptr : &set->layerImages;
                if (noRender) {
                    // Nothing to render: the source is shown.
                } else if (blankMode) {
                    if (!System::rectContains(res.bounds, n)) {
                        if (!res.firstPixel) {
                            res.allocateLike(set->source, target);
                            res.clearRect(target);
                        } else {
                            const Rect old = res.bounds;
                            res.setBounds(target);
                            for (const Rect& strip : exposedStrips(target, old)) res.clearRect(strip);
                        }
                    }
                } else if (res.firstPixel && !view.needsRender) {
                    const Rect old = res.bounds;
                    if (!System::rectContains(old, target)) {
                        updateDisplayCopies(busy);
                        res.setBounds(target);
                        worker.progress.clear();
                        host.prepare(params, set->source.domain);
                        worker.requestAnalyse(params, set->source.domain);
                        for (const Rect& strip : exposedStrips(target, old))
                            worker.requestRenderRect(params, set->source, res, set->aux, layers, strip);
                    }
                } else {
                    updateDisplayCopies(busy);
                    res.allocateLike(set->source, target);
                    worker.progress.clear();
                    host.prepare(params, set->source.domain);
                    worker.requestAnalyse(params, set->source.domain);
                    worker.requestRender(params, set->source, res, set->aux, layers);
                    view.needsRender = false;
                }
            }
        }

        if (!fromWorker) showSource = noRender || !shown->firstPixel;

        if (draw) {
            const ImageBuffer* picture = showSource ? source : shown;
            Rect region = n;
            if (z > 1.0f) {
                try {
                    scaledResult.reset();
                    ImageBuffer part(&host);
                    part.makeView(*picture, n);
                    App::magnifyImage(scaledResult, part, vi, z);
                    picture = &scaledResult;
                    region = vi;
                } catch (...) {
                    // Drawn unmagnified rather than not at all.
                }
            }
            App::drawImage(scale, host, r, region, v, *picture, gc);
        }

        queueViewerError(host.takeMessages());
        if (showSource) status = kDrawSource;
    } catch (const std::string& text) {
        renderFailed(r, status, text);
    } catch (const std::exception& error) {
        renderFailed(r, status, error.what());
    } catch (...) {
        renderFailed(r, status, std::string());
    }
    rendering = false;
    if (entered) viewerLock.leave();
}

std::vector<Rect> Viewer::exposedStrips(const Rect& target, const Rect& old) {
    // Top, left, right, bottom, each held inside the target: when the old region lies apart
    // from the target, the unclipped strips would reach past it.
    std::vector<Rect> strips;
    const auto add = [&](Rect strip) {
        strip = System::intersectRect(strip, target);
        if (!strip.empty()) strips.push_back(strip);
    };
    if (target.y0 < old.y0) add({target.x0, target.y0, target.x1, old.y0});
    if (target.x0 < old.x0) add({target.x0, old.y0, old.x0, old.y1});
    if (target.x1 > old.x1) add({old.x1, old.y0, target.x1, old.y1});
    if (target.y1 > old.y1) add({target.x0, old.y1, target.x1, target.y1});
    return strips;
}

void Viewer::reportLoadError(const std::string& error) {
    // A file that cannot be read is reported once, not at every zoom step that reloads it.
    if (error.empty() || error == loadErrorShown_) return;
    loadErrorShown_ = error;
    queueViewerError(error);
}

void Viewer::renderFailed(Rect& r, int& status, const std::string& text) {
    queueViewerError(text);
    status = kDrawFailed;
    failed = true;
    // The result may hold unrendered strips; it is rendered again in full next time.
    if (currentView < views.size()) views[currentView].needsRender = true;
    r = Rect{r.x0, r.y0, r.x0, r.y0};
}

}  // namespace Mav::Host::Param
