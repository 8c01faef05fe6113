#pragma once
// The viewer's background render worker: a worker thread, a counting semaphore and a queue of
// render requests, with a progress sink through which a background render reports to the viewer
// (and its gauge) and through which it is cancelled.
//
// Nothing in this program starts the thread.  Every request therefore takes its immediate path:
// the host is called at once on the user-interface thread, the queue stays empty, and
// dropPending and waitIdle do nothing.  The queued paths are kept so that the viewer's render path
// is the same with a worker: requests hold a copy of the parameter values, are guarded by the
// viewer lock and are dropped when a fresh render supersedes them.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "host/app/host.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/semaphore.h"
#include "host/system/worker_thread.h"

namespace Mav::Host::Param {

class ViewerBase;

// Progress of a background render.  The renderer's thread writes, the user-interface thread
// reads (Viewer::pollProgress) after an idle wake-up; at most one wake-up is pending at a time.
class BackgroundProgress : public ProxyProgress {
public:
    // Throw Mav::Interrupted once `cancelled` is set.  tick counts indeterminate work (key 0,
    // while no total is known); report stores the figures of key 0.
    void tick(std::uint64_t key) override;
    void report(std::uint64_t key, std::uint64_t done, std::uint64_t total) override;
    // All four fields back to false and 0 (before every render on the user-interface thread).
    void clear();

    std::atomic<bool> cancelled{false};
    std::atomic<bool> wakePosted{false};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};

private:
    void wake();
};

inline constexpr std::int32_t kRequestAnalyse = 0;
inline constexpr std::int32_t kRequestRender = 1;

struct RenderRequest {
    RenderRequest() = default;
    // Copies every field; the parameter set with the host's copy operation.
    RenderRequest(const RenderRequest& other);
    RenderRequest& operator=(const RenderRequest& other);

    std::int32_t kind = kRequestAnalyse;
    App::Host* host = nullptr;                // makes the copies of params
    std::unique_ptr<App::Parameters> params;  // the values at the time of the request
    System::Rect rect;                        // analyse: the region; render: the output region
    System::ImageBuffer* input = nullptr;     // render only, not owned
    System::ImageBuffer* output = nullptr;
    System::ImageBuffer* scratch = nullptr;
    App::ImageList* layerImages = nullptr;
    std::uint64_t viewIndex = 0;              // the viewer's current view when queued
};

class RenderWorker {
public:
    RenderWorker(App::Host& host, ViewerBase& viewer);
    ~RenderWorker();
    RenderWorker(const RenderWorker&) = delete;
    RenderWorker& operator=(const RenderWorker&) = delete;

    // Teardown: a running thread is told to stop, its render cancelled and joined; queued
    // requests are destroyed.
    void stop();
    // Under the viewer lock: counts an analyse in the host's progress, tags the request with the
    // current view, appends it and wakes the thread.
    void queueRequest(const RenderRequest& request);
    // Immediate path (no thread): clear the progress sink, then Host::analyse.
    void requestAnalyse(App::Parameters& set, const System::Rect& rect);
    // Nothing for an output with empty bounds; immediate path: Host::render into the output.
    void requestRender(App::Parameters& set, System::ImageBuffer& input,
                       System::ImageBuffer& output, System::ImageBuffer& scratch,
                       App::ImageList* layers);
    // Nothing for an empty rectangle (empty strips never reach the plug-in); immediate path:
    // Host::render into a view of the output restricted to the rectangle.
    void requestRenderRect(App::Parameters& set, System::ImageBuffer& input,
                           System::ImageBuffer& output, System::ImageBuffer& scratch,
                           App::ImageList* layers, const System::Rect& rect);

    bool running() const { return thread.running(); }
    // Queue not empty (false without a thread).
    bool hasPending();
    // Makes room for a fresh render: resets the host's tile progress, cancels the running render
    // and drops every queued request (nothing without a thread).
    void dropPending();
    // Waits until the queue is empty (nothing without a thread).
    void waitIdle();

    App::Host& host;
    ViewerBase& viewer;
    System::WorkerThread thread;
    System::Semaphore semaphore;
    std::deque<RenderRequest> queue;
    BackgroundProgress progress;
    std::atomic<bool> stopRequested{false};
};

}  // namespace Mav::Host::Param
