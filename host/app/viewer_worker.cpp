#include "host/app/viewer_worker.h"

#include <wx/app.h>

#include <utility>

#include "host/param/viewer_base.h"
#include "host/system/exceptions.h"

namespace Mav::Host::Param {

// ---- Progress sink.

void BackgroundProgress::wake() {
    if (wakePosted.exchange(true)) return;
    if (wxTheApp) wxTheApp->WakeUpIdle();
}

void BackgroundProgress::tick(std::uint64_t key) {
    if (cancelled) throw Interrupted{};
    if (key != 0 || total != 0) return;
    ++done;
    wake();
}

void BackgroundProgress::report(std::uint64_t key, std::uint64_t doneUnits,
                                std::uint64_t totalUnits) {
    if (cancelled) throw Interrupted{};
    if (key != 0) return;
    done = doneUnits;
    total = totalUnits;
    wake();
}

void BackgroundProgress::clear() {
    cancelled = false;
    wakePosted = false;
    done = 0;
    total = 0;
}

// ---- Requests.

RenderRequest::RenderRequest(const RenderRequest& other)
    : kind(other.kind),
      host(other.host),
      params(other.params && other.host ? other.host->cloneParameters(*other.params) : nullptr),
      rect(other.rect),
      input(other.input),
      output(other.output),
      scratch(other.scratch),
      layerImages(other.layerImages),
      viewIndex(other.viewIndex) {}

RenderRequest& RenderRequest::operator=(const RenderRequest& other) {
    if (this == &other) return *this;
    RenderRequest copy(other);
    kind = copy.kind;
    host = copy.host;
    params = std::move(copy.params);
    rect = copy.rect;
    input = copy.input;
    output = copy.output;
    scratch = copy.scratch;
    layerImages = copy.layerImages;
    viewIndex = copy.viewIndex;
    return *this;
}

// ---- Worker.

RenderWorker::RenderWorker(App::Host& host, ViewerBase& viewer)
    : host(host), viewer(viewer), semaphore(0, 10000) {}

RenderWorker::~RenderWorker() { stop(); }

void RenderWorker::stop() {
    if (thread.running()) {
        stopRequested = true;
        progress.cancelled = true;
        semaphore.release();
        thread.join();
    }
    System::LockGuard lock(viewer.viewerLock);
    queue.clear();
}

void RenderWorker::queueRequest(const RenderRequest& request) {
    System::LockGuard lock(viewer.viewerLock);
    if (request.kind == kRequestAnalyse) {
        App::ProgressLevel& level = host.progressLevel(App::kTileLevel);
        level.total += 1;
        level.step = 1;
    }
    queue.push_back(request);
    queue.back().viewIndex = viewer.currentView;
    semaphore.release();
}

void RenderWorker::requestAnalyse(App::Parameters& set, const System::Rect& rect) {
    if (!thread.running()) {
        progress.clear();
        host.analyse(set, rect);
        return;
    }
    RenderRequest request;
    request.kind = kRequestAnalyse;
    request.host = &host;
    request.params = host.cloneParameters(set);
    request.rect = rect;
    queueRequest(request);
}

void RenderWorker::requestRender(App::Parameters& set, System::ImageBuffer& input,
                                 System::ImageBuffer& output, System::ImageBuffer& scratch,
                                 App::ImageList* layers) {
    if (output.bounds.empty()) return;
    if (!thread.running()) {
        progress.clear();
        host.render(set, input, output, scratch, layers);
        return;
    }
    RenderRequest request;
    request.kind = kRequestRender;
    request.host = &host;
    request.params = host.cloneParameters(set);
    request.rect = output.bounds;
    request.input = &input;
    request.output = &output;
    request.scratch = &scratch;
    request.layerImages = layers;
    queueRequest(request);
}

void RenderWorker::requestRenderRect(App::Parameters& set, System::ImageBuffer& input,
                                     System::ImageBuffer& output, System::ImageBuffer& scratch,
                                     App::ImageList* layers, const System::Rect& rect) {
    if (rect.empty()) return;
    if (!thread.running()) {
        progress.clear();
        System::ImageBuffer view(output.owner);
        view.makeView(output, rect);
        if (view.bounds.empty()) return;
        host.render(set, input, view, scratch, layers);
        return;
    }
    RenderRequest request;
    request.kind = kRequestRender;
    request.host = &host;
    request.params = host.cloneParameters(set);
    request.rect = rect;
    request.input = &input;
    request.output = &output;
    request.scratch = &scratch;
    request.layerImages = layers;
    queueRequest(request);
}

bool RenderWorker::hasPending() {
    if (!thread.running()) return false;
    System::LockGuard lock(viewer.viewerLock);
    return !queue.empty();
}

void RenderWorker::dropPending() {
    if (!thread.running()) return;
    System::LockGuard lock(viewer.viewerLock);
    App::ProgressLevel& level = host.progressLevel(App::kTileLevel);
    level.done = 0;
    level.total = 0;
    progress.cancelled = true;
    if (!queue.empty()) {
        std::deque<RenderRequest>().swap(queue);
        semaphore.release();
    }
}

void RenderWorker::waitIdle() {
    if (!thread.running()) return;
    for (;;) {
        viewer.viewerLock.enter();
        viewer.stateLock.enter();
        const bool empty = queue.empty();
        viewer.stateLock.leave();
        viewer.viewerLock.leave();
        if (empty) return;
    }
}

}  // namespace Mav::Host::Param
