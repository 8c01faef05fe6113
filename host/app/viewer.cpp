#include "host/app/viewer.h"

#include <wx/dc.h>
#include <wx/graphics.h>
#include <wx/utils.h>

#include "host/param/viewer_panel.h"
#include "host/system/exceptions.h"

namespace Mav::Host::Param {

void ImageSet::clearLayers() {
    layerImages.clear();
    layerKeys.clear();
}

void ImageSet::clear() {
    source.reset();
    aux.reset();
    clearLayers();
}

Viewer::Viewer(App::Host& host, App::Parameters& set, ViewerPanel* panel)
    : ViewerBase(set, panel),
      host(host),
      originalImage(&host),
      scaledResult(&host),
      proxyResult(&host),
      fullSet(&host),
      proxySet(&host),
      worker(host, *this) {
    results.push_back(std::make_unique<ImageBuffer>(&host));
}

Viewer::~Viewer() {
    stop(true);
    worker.stop();
    fullSet.clear();
    proxySet.clear();
}

ViewerPanel* Viewer::stop(bool keepPanelLink) {
    if (host.proxyProgress() == &worker.progress) host.setProxyProgress(nullptr);
    if (worker.running()) worker.stop();
    results.clear();
    if (!keepPanelLink && panel && panel->viewer == this) panel->viewer = nullptr;
    return panel;
}

App::Parameters& Viewer::viewParameters() {
    auto* set = dynamic_cast<App::Parameters*>(views[currentView].params);
    if (!set) throw Exception("The viewer's parameter set does not belong to the host.");
    return *set;
}

const ImageBuffer& Viewer::querySource() { return isBusy() ? proxySet.source : fullSet.source; }

// ---- Coordinates.

std::int64_t Viewer::imageWidth() { return querySource().domain.width(); }

std::int64_t Viewer::imageHeight() { return querySource().domain.height(); }

namespace {

// Client offset from the pan origin to image position: divided by the zoom above 1.  Floor, not
// truncation, so that a position just left of (above) the picture does not read its first column.
std::int64_t clientToImage(std::int64_t offset, float zoom) {
    if (!(zoom > 1.0f)) return offset;
    return System::truncateToInt32(std::floor(static_cast<float>(offset) / zoom));
}

}  // namespace

bool Viewer::pixelAt(float out[4], int x, int y) {
    const ImageBuffer& s = querySource();
    const double c = useContentScale ? contentScale() : 1.0;
    const std::int64_t ix =
        clientToImage(std::int64_t{System::truncateToInt32(x * c)} - panX, zoom) + s.domain.x0;
    const std::int64_t iy =
        clientToImage(std::int64_t{System::truncateToInt32(y * c)} - panY, zoom) + s.domain.y0;
    if (!s.firstPixel || ix < s.bounds.x0 || ix >= s.bounds.x1 || iy < s.bounds.y0 ||
        iy >= s.bounds.y1) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        return false;
    }
    const std::uint8_t* pixel =
        s.pixelAddress(static_cast<std::int32_t>(ix), static_cast<std::int32_t>(iy));
    for (int i = 0; i < 4; ++i) {
        if (i >= s.channels) {
            out[i] = 1.0f;
        } else if (s.bitsPerChannel == 8) {
            out[i] = pixel[i] / 255.0f;
        } else if (s.bitsPerChannel == 16) {
            // Full scale reads 1, as for the other depths.
            out[i] = reinterpret_cast<const std::uint16_t*>(pixel)[i] / 65535.0f;
        } else {
            out[i] = reinterpret_cast<const float*>(pixel)[i];
        }
    }
    return true;
}

void Viewer::viewToImage(int x, int y, int& outX, int& outY, bool toView) {
    const ImageBuffer& s = querySource();
    if (toView) {
        const float k = zoom > 1.0f ? zoom : 1.0f;
        outX = System::truncateToInt32(
            std::trunc(static_cast<float>(std::int64_t{x} - s.domain.x0) * k) + static_cast<double>(panX));
        outY = System::truncateToInt32(
            std::trunc(static_cast<float>(std::int64_t{y} - s.domain.y0) * k) + static_cast<double>(panY));
        return;
    }
    outX = System::truncateToInt32(
        static_cast<double>(clientToImage(std::int64_t{x} - panX, zoom) + s.domain.x0));
    outY = System::truncateToInt32(
        static_cast<double>(clientToImage(std::int64_t{y} - panY, zoom) + s.domain.y0));
}

void Viewer::setPanOffset(int x, int y) {
    const double c = useContentScale ? contentScale() : 1.0;
    const std::int32_t px = System::truncateToInt32(x * c);
    const std::int32_t py = System::truncateToInt32(y * c);
    if (px == panX && py == panY) return;
    panX = px;
    panY = py;
    requestRefresh(true);
}

// ---- Worker and messages.

void Viewer::flushHostMessages() { host.flushMessages(); }

bool Viewer::isThreaded() { return worker.running(); }

bool Viewer::hasPendingRequests() { return worker.hasPending(); }

void Viewer::postRenderRequest() { worker.dropPending(); }

void Viewer::waitIdle() { worker.waitIdle(); }

bool Viewer::pollProgress() {
    worker.progress.wakePosted = false;
    if (isBusy()) {
        const std::uint64_t done = worker.progress.done;
        const std::uint64_t total = worker.progress.total;
        if (done == progressDone && total == progressTotal) return false;
        progressDone = done;
        progressTotal = total;
        return true;
    }
    if (progressDone == 0 && progressTotal == 0) return false;
    progressDone = 0;
    progressTotal = 0;
    return true;
}

void Viewer::updateDisplayCopies(bool busy) {
    if (!worker.running() || busy) return;
    ImageBuffer& result = *results[currentView];
    if (!result.firstPixel) {
        proxyResult.reset();
    } else if (views[currentView].displayStale) {
        proxyResult.allocateSameAs(result);
        proxyResult.copyOverlap(result);
    }
    for (auto [from, to] : {std::pair{&fullSet.source, &proxySet.source},
                            std::pair{&fullSet.aux, &proxySet.aux}}) {
        if (!from->firstPixel) {
            to->reset();
        } else if (!System::rectContains(to->bounds, from->bounds)) {
            to->allocateSameAs(*from);
            to->copyOverlap(*from);
        }
    }
}

}  // namespace Mav::Host::Param

namespace Mav::Host::App {

Viewer::Viewer(Host& host, Parameters& set, Param::ViewerPanel* panel)
    : Param::Viewer(host, set, panel) {}

void Viewer::renderRect(wxRect& rect) {
    System::Rect r{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    int status = 0;
    renderAndDraw(r, 1.0, nullptr, false, status);
    rect = wxRect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
}

void Viewer::drawRect(wxRect& rect, wxDC& dc, int& status) {
    System::Rect r{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::CreateFromUnknownDC(dc));
    renderAndDraw(r, 1.0, gc.get(), true, status);
    rect = wxRect(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
}

void destroyViewer(Viewer* viewer) { delete viewer; }

}  // namespace Mav::Host::App
