// The OK path: every input rendered at full resolution, tile by tile, on one worker thread behind
// the modal progress window, and written over its own file.

#include <wx/frame.h>
#include <wx/intl.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "host/app/host.h"
#include "host/app/message_box.h"
#include "host/app/progress.h"
#include "host/system/exceptions.h"
#include "host/system/worker_thread.h"

namespace Mav::Host::App {

using System::LockGuard;

namespace {

std::string translated(const char* text) { return wxGetTranslation(text).utf8_string(); }

constexpr int kBatchErrorFlags = kMessageOk | kMessageError;

// One unit of `level` done: reported, unless the level is transparent, and counted.
void completeUnit(Host& host, ProgressLevel& level) {
    if (level.total <= 1) return;
    host.reportProgress(0, 1, 1);
    ++level.done;
}

// Clears the batch flag however runBatch is left.
struct BatchFlag {
    explicit BatchFlag(std::atomic<bool>& flag) : flag(flag) { flag = true; }
    ~BatchFlag() { flag = false; }
    std::atomic<bool>& flag;
};

}  // namespace

void Host::commit() {
    if (Parameters* set = currentParameters()) {
        set->refreshAll();
        if (registryRoot_) set->saveToRegistry(registryRoot_);
    }
    const std::uint64_t inputs = supportsMultipleInputs() ? inputs_.size() : 1;
    for (std::uint64_t i = 0; i < inputs; ++i) ensureParameters(i);
    runBatch();
}

void Host::batchEntry(void* host) { static_cast<Host*>(host)->processInputs(); }

void Host::runBatch() {
    // Cleared here, before the thread exists, so that a Cancel pressed before the thread gets
    // going is not forgotten.
    abortFlag_ = false;
    BatchFlag running(batchRunning_);
    // The window is a child of the main window, which deletes its children when it goes; that
    // happens in the event loop of the first message box after closeUi, so the window must be
    // gone by then rather than deleted twice from this stack.
    std::optional<ProgressDialog> window;
    window.emplace(this, mainFrame_, wxID_ANY, _("Progress"), wxDefaultPosition, wxDefaultSize,
                   kProgressDialogStyle);
    {
        LockGuard lock(hostLock_);
        progressWindow_ = &*window;
    }
    System::WorkerThread worker;
    bool started = false;
    try {
        worker.start(&Host::batchEntry, this);
        started = true;
    } catch (const std::bad_alloc&) {
        queueMessage(translated("Out of memory"));
    } catch (const std::exception& e) {
        queueMessage(e.what());
    }
    if (started) window->ShowModal();
    {
        LockGuard lock(hostLock_);
        progressWindow_ = nullptr;
    }
    // No refresh can be posted to it any more (the pointer is cleared under the lock the batch
    // posts under); refreshes still queued go with it.
    window.reset();
    closeUi();
    worker.join();
    batchRunning_ = false;
    flushMessages();
}

void Host::processInputs() {
    bool finished = false;
    try {
        invalidateCaches();
        std::uint64_t n = inputs_.size();
        previewFlag_ = false;
        // Inside runBatch the flag was cleared before this thread started and may already have
        // been set by Cancel.
        if (!batchRunning_) abortFlag_ = false;
        if (!supportsMultipleInputs()) n = 1;
        levels_[kInputLevel] = {0, n, 1};
        for (std::uint64_t i = 0; i < n && !abortFlag_; ++i) {
            selectInput(i);
            if (Parameters* set = currentParameters()) renderInTiles(*set);
            flushMessages();
            completeUnit(*this, levels_[kInputLevel]);
        }
        finished = !abortFlag_;
    } catch (const std::bad_alloc&) {
        showMessage(translated("Out of memory"), translated("Error"), kBatchErrorFlags);
    } catch (const Mav::Interrupted&) {
    } catch (const std::string& text) {
        showMessage(text, translated("Error"), kBatchErrorFlags);
    } catch (const std::exception& e) {
        showMessage(e.what(), translated("Error"), kBatchErrorFlags);
    } catch (...) {
        showMessage(translated("Unknown error"), translated("Error"), kBatchErrorFlags);
    }
    {
        LockGuard lock(hostLock_);
        if (progressWindow_) {
            progressWindow_->setResult(finished ? 1 : -1);
            progressWindow_->postRefresh();
            return;
        }
    }
    // Windows belong to the user-interface thread; on the batch thread runBatch closes them.
    if (onUiThread()) closeUi();
}

void Host::renderInTiles(Parameters& set) {
    std::int32_t tileWidth = 256;
    std::int32_t tileHeight = 256;
    Rect bounds = currentBounds();
    const bool hasFile = currentInput_ < inputs_.size();
    // An unreadable file has empty bounds; the batch still reads it, so that the reason is
    // reported.
    if (bounds.empty() && !hasFile) return;
    pixelScale_ = 1.0f;
    if (!bounds.empty()) {
        prepare(set, bounds);
        analyse(set, bounds);
    }

    ImageBuffer source(this);
    ImageBuffer result(this);
    ImageBuffer scratch(this);
    std::string error;
    if (!source.loadInput(0, bounds, 1.0f, true, &error) || !source.firstPixel ||
        source.bounds.empty()) {
        if (!error.empty()) queueMessage(error);
        return;  // nothing rendered, nothing written
    }
    if (source.bounds != bounds) {
        // The file is not what its header said a moment ago (it changed on disk): prepare for
        // what was actually read, so that the tiles cover the whole result.
        bounds = source.bounds;
        prepare(set, bounds);
        analyse(set, bounds);
    }
    tileSize(bounds, tileWidth, tileHeight);
    // A tile size that is not positive renders the image in one piece.
    const std::int64_t tw = tileWidth > 0 ? tileWidth : std::max<std::int64_t>(1, bounds.width());
    const std::int64_t th =
        tileHeight > 0 ? tileHeight : std::max<std::int64_t>(1, bounds.height());

    result.allocateSameAs(source);

    const std::int64_t rows = (bounds.height() + th - 1) / th;
    const std::int64_t columns = (bounds.width() + tw - 1) / tw;
    ProgressLevel& tiles = levels_[kTileLevel];
    tiles = {0, static_cast<std::uint64_t>(rows * columns), 1};
    for (std::int64_t row = 0; row < rows; ++row) {
        for (std::int64_t column = 0; column < columns; ++column) {
            const std::int64_t x0 = bounds.x0 + column * tw;
            const std::int64_t y0 = bounds.y0 + row * th;
            const Rect tile{static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0),
                            static_cast<std::int32_t>(std::min<std::int64_t>(bounds.x1, x0 + tw)),
                            static_cast<std::int32_t>(std::min<std::int64_t>(bounds.y1, y0 + th))};
            ImageBuffer view(this);
            view.makeView(result, tile);
            render(set, source, view, scratch, nullptr);
            completeUnit(*this, tiles);
            // A plug-in that reports no progress of its own is still stopped between tiles.
            throwIfAborted();
        }
    }
    // Cancelled after the last tile: the file is not touched.
    throwIfAborted();
    if (!result.saveResult(&error)) queueMessage(error);
}

}  // namespace Mav::Host::App
