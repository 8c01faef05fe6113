// The OK path: every input rendered at full resolution, tile by tile, on one worker thread behind
// the modal progress window, and written over its own file.
//
// The inputs go through the batch as a pipeline of three stages: while input n renders on every
// processor, the inputs after it are read and decoded (two at a time while memory holds them)
// and input n - 1 is written, each on a helper thread of its own (StageWorker); at most three
// inputs are held at once.  Every image is decoded once: the render's reduced copies of the
// input (the plug-in's source proxy) are made from the image read for it (holdDecodedInput).
// Only the batch thread talks to the host (selecting inputs, progress, messages); the helpers
// touch only their own files and images.  What the window shows and what the files hold is what
// reading, rendering and writing one input after the other gives: progress counts each input once
// its render is done, messages are queued in input order, and a failed or cancelled input
// leaves its file and every later one untouched while the write already under way is finished.
//
// Memory: no input is held twice over.  The read copies the decoder's rows out and gives them
// back as it goes, the render gives back the source rows no tile still to come asks for, and the
// write gives back the result's rows as it copies them for the encoder; so the three inputs in
// flight take about three images, not six.

#include <wx/frame.h>
#include <wx/intl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/app/batch_memory.h"
#include "host/app/host.h"
#include "host/app/image_io.h"
#include "host/app/message_box.h"
#include "host/app/progress.h"
#include "host/system/exceptions.h"
#include "host/system/memory_pages.h"
#include "host/system/system_info.h"
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

// A helper thread that runs one piece of work at a time.  The work must not throw.
class StageWorker {
public:
    // Starts `work` on the helper thread; false when no thread can be started, and then the
    // caller runs it itself.
    bool start(std::function<void()> work) {
        wait();  // the thread that runs the work before must not see it change
        work_ = std::move(work);
        done_ = false;
        try {
            thread_.start(&StageWorker::entry, this);
            return true;
        } catch (const Mav::Exception&) {
            done_ = true;
            return false;
        }
    }
    // Waits for the work started last; at once when there is none.
    void wait() { thread_.join(); }
    // Whether the work started last has ended (then wait() returns at once).
    bool done() const { return done_.load(std::memory_order_acquire); }

private:
    static void entry(void* self) {
        auto& worker = *static_cast<StageWorker*>(self);
        worker.work_();
        worker.done_.store(true, std::memory_order_release);
    }

    System::WorkerThread thread_;
    std::function<void()> work_;
    std::atomic<bool> done_{true};
};

// One input on its way through the batch.
struct BatchJob {
    std::uint64_t index = 0;
    std::string path;
    std::uint64_t footprint = 0;  // bytes its source and result take together; 0: not known
    std::unique_ptr<ImageBuffer> image;  // the source as read, then the result
    ReadResult read;
    std::string writeMessage;
    std::exception_ptr failure;  // what reading or writing threw, thrown again on the batch thread
};

// The bytes an input whose source is `image` (read or only its header) holds: the source and a
// result of its size, four channels of its depth each.
std::uint64_t footprintBytes(const ImageBuffer& image) {
    return 2 * static_cast<std::uint64_t>(image.bounds.width()) *
           static_cast<std::uint64_t>(image.bounds.height()) *
           static_cast<std::uint64_t>(image.bytesPerPixel());
}

// The decoded image of the current input is held for reads of it while it renders.
struct HeldInput {
    HeldInput(Host& host, const ImageBuffer& image) : host(host) { host.holdDecodedInput(&image); }
    ~HeldInput() { host.holdDecodedInput(nullptr); }
    Host& host;
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

namespace {

class BatchPipeline {
public:
    // Over inputs 0 .. count - 1: none at or past `count` is read ahead.
    BatchPipeline(Host& host, int depth, std::uint64_t count)
        : host_(host),
          depth_(depth),
          count_(count),
          memory_(host.batchMemory() != 0 ? host.batchMemory() : System::availableMemoryBytes()),
          options_(subjectReadOptions(host, host.isPreviewMode())) {}
    // Waits for both helpers (the write under way is finished) and queues the outcome of every
    // input that has one, in input order.
    ~BatchPipeline() {
        for (Ahead& ahead : ahead_) {
            ahead.reader.wait();
            ahead.job.reset();
        }
        try {
            collectWrite(false);
        } catch (...) {
            // Already failing: the first failure is the one reported.
        }
    }
    BatchPipeline(const BatchPipeline&) = delete;
    BatchPipeline& operator=(const BatchPipeline&) = delete;

    // Reads (or takes the read of), renders and hands on for writing the current input, which is
    // input `index`.
    void run(std::uint64_t index, Parameters& set);
    // Waits for the last write and queues its outcome.
    void finish() { collectWrite(true); }

private:
    std::unique_ptr<BatchJob> newJob(std::uint64_t index) {
        auto job = std::make_unique<BatchJob>();
        job->index = index;
        job->path = host_.inputPath(index);
        job->image = std::make_unique<ImageBuffer>(&host_);
        return job;
    }
    // The bytes an input's source and result will take, from its file's header; 0 when the header
    // cannot be read (then neither can the pixels, which costs no memory).
    std::uint64_t footprintOf(const BatchJob& job) {
        if (probed_.first == job.index + 1) return probed_.second;
        ImageBuffer header(&host_);
        ReadOptions probe = options_;
        probe.loadPixels = false;
        std::uint64_t bytes = 0;
        if (readSubjectImage(header, job.path, probe).ok) bytes = footprintBytes(header);
        probed_ = {job.index + 1, bytes};
        return bytes;
    }
    // The footprints of the inputs held now.
    std::vector<std::uint64_t> held() const {
        std::vector<std::uint64_t> footprints;
        for (const Ahead& ahead : ahead_)
            if (ahead.job) footprints.push_back(ahead.job->footprint);
        for (const BatchJob* other : {rendering_.get(), writing_.get()})
            if (other) footprints.push_back(other->footprint);
        return footprints;
    }
    // Whether `job` may join the inputs held now.
    bool admits(const BatchJob& job) {
        const bool admitted = batchMayHold(held(), job.footprint, depth_, memory_);
        if (!admitted) dropEncoderBlock_ = true;
        return admitted;
    }
    static void read(BatchJob& job, const ReadOptions& options) {
        try {
            job.read = readSubjectImage(*job.image, job.path, options);
            if (!job.read.ok) return;
            ImageBuffer& image = *job.image;
            image.domain = image.bounds;
            job.footprint = footprintBytes(image);
        } catch (...) {
            job.failure = std::current_exception();
        }
    }
    static void write(BatchJob& job, EncoderBlock* kept) {
        try {
            // The result is freed once the encoder has its copy: the writing of a large TIFF
            // takes most of the time an input spends in the batch.
            writeConsumedImage(*job.image, job.path, job.writeMessage,
                               [&job] { job.image.reset(); }, kept);
        } catch (...) {
            job.failure = std::current_exception();
        }
        job.image.reset();  // its memory is free as soon as the file is
    }
    // Starts reading inputs ahead, from the first not read yet on, while they may be held now.
    void readAhead();
    // Input `index` read: by the reader when it was read ahead, else here.
    std::unique_ptr<BatchJob> take(std::uint64_t index);
    // Waits for the write under way and settles its input.
    void collectWrite(bool rethrow);
    // While an input renders: once the write before it has ended well, its input is settled and
    // its room goes to the next read.
    void collectEndedWrite();
    void settle(std::uint64_t position, std::string message);
    void render(BatchJob& job, Parameters& set);

    Host& host_;
    const int depth_;
    const std::uint64_t count_;
    const std::uint64_t memory_;  // available when the batch started; 0: not known
    ReadOptions options_;
    // The inputs read ahead, each on a reader of its own: a read (the decoder's process, then
    // the copy of its rows) leaves most processors idle, and for a JPEG it takes longer than the
    // render and the write, so one reader alone would set the pace of the whole batch.
    struct Ahead {
        StageWorker reader;
        std::unique_ptr<BatchJob> job;
    };
    std::array<Ahead, 2> ahead_;
    std::uint64_t nextRead_ = 0;  // the first input not read yet
    StageWorker writer_;
    std::unique_ptr<BatchJob> rendering_;
    std::unique_ptr<BatchJob> writing_;
    // The writer's block for the encoder's copy, kept from one write to the next (only the write
    // under way touches it) until an input is refused for lack of memory: it is about as large as
    // the result it copies, which an input's footprint counts twice over.
    EncoderBlock encoderBlock_;
    bool dropEncoderBlock_ = false;
    // The messages of the inputs run so far, in order; an input is settled once its outcome is
    // known, and messages are queued up to the first input that is not.
    struct Note {
        bool settled = false;
        std::string message;
    };
    std::vector<Note> notes_;
    std::size_t queued_ = 0;
    std::size_t writingNote_ = 0;
    // The last input whose header was read for its footprint (index + 1; 0: none) and the
    // footprint: asked before reading ahead, and again after the render when it was refused then.
    std::pair<std::uint64_t, std::uint64_t> probed_{0, 0};
};

void BatchPipeline::settle(std::uint64_t position, std::string message) {
    notes_[position].settled = true;
    notes_[position].message = std::move(message);
    while (queued_ < notes_.size() && notes_[queued_].settled) {
        if (!notes_[queued_].message.empty()) host_.queueMessage(notes_[queued_].message);
        ++queued_;
    }
}

void BatchPipeline::collectWrite(bool rethrow) {
    writer_.wait();
    if (dropEncoderBlock_) {
        encoderBlock_ = {};
        dropEncoderBlock_ = false;
    }
    if (!writing_) return;
    const std::unique_ptr<BatchJob> job = std::move(writing_);
    settle(writingNote_, job->writeMessage);
    if (job->failure && rethrow) std::rethrow_exception(job->failure);
}

void BatchPipeline::collectEndedWrite() {
    if (!writing_ || !writer_.done() || writing_->failure) return;
    collectWrite(false);
    readAhead();
}

void BatchPipeline::readAhead() {
    // After Cancel nothing new starts: every read begun is one more the batch waits for.
    if (depth_ < 3 || host_.abortRequested()) return;
    for (Ahead& ahead : ahead_) {
        // Inputs are read in order: none is read ahead past one that may not be held yet.
        if (ahead.job) continue;
        if (nextRead_ >= count_ || held().size() >= static_cast<std::size_t>(depth_)) return;
        std::unique_ptr<BatchJob> job = newJob(nextRead_);
        job->footprint = footprintOf(*job);
        if (!admits(*job)) return;
        ++nextRead_;
        BatchJob& started = *job;
        ahead.job = std::move(job);
        if (!ahead.reader.start([&started, options = options_] { read(started, options); }))
            read(started, options_);
    }
}

std::unique_ptr<BatchJob> BatchPipeline::take(std::uint64_t index) {
    std::unique_ptr<BatchJob> taken;
    for (Ahead& ahead : ahead_) {
        if (!ahead.job || ahead.job->index > index) continue;
        ahead.reader.wait();
        // An input passed over (it has no parameter set) is dropped unused.
        if (ahead.job->index == index) taken = std::move(ahead.job);
        ahead.job.reset();
    }
    nextRead_ = std::max(nextRead_, index + 1);
    if (taken) return taken;
    std::unique_ptr<BatchJob> job = newJob(index);
    if (writing_) {
        // Room for it first, when the write under way must end before it may be held.
        job->footprint = footprintOf(*job);
        if (!admits(*job)) collectWrite(true);
    }
    read(*job, options_);
    return job;
}

void BatchPipeline::run(std::uint64_t index, Parameters& set) {
    if (index >= host_.inputCount()) return;  // no file: nothing to read, render or write
    const std::size_t position = notes_.size();
    notes_.emplace_back();
    nextRead_ = std::max(nextRead_, index);  // the inputs passed over are not read
    readAhead();
    rendering_ = take(index);
    readAhead();
    BatchJob& job = *rendering_;
    if (job.failure) std::rethrow_exception(job.failure);
    if (!job.read.ok) {
        std::string message = std::move(job.read.message);
        rendering_.reset();
        settle(position, std::move(message));
        return;
    }
    render(job, set);
    // Cancelled after the last tile: the file is not touched.
    host_.throwIfAborted();
    collectWrite(true);
    host_.throwIfAborted();  // also when Cancel came while the previous file was being written
    writing_ = std::move(rendering_);
    writingNote_ = position;
    BatchJob& written = *writing_;
    if (depth_ < 2 || !writer_.start([this, &written] { write(written, &encoderBlock_); }))
        write(written, &encoderBlock_);
    if (depth_ < 2) collectWrite(true);
    readAhead();
}

void BatchPipeline::render(BatchJob& job, Parameters& set) {
    // Read now, so the host knows the input's size and profile as a read of it tells them.
    if (job.read.profile) host_.setColourProfile(job.read.profile.release());
    ImageBuffer& source = *job.image;
    const Rect bounds = source.bounds;
    host_.recordBounds(bounds, job.index);
    host_.setPixelScale(1.0f);

    auto result = std::make_unique<ImageBuffer>(&host_);
    {
        const HeldInput held(host_, source);
        host_.prepare(set, bounds);
        collectEndedWrite();
        host_.analyse(set, bounds);
        collectEndedWrite();

        std::int32_t tileWidth = 256;
        std::int32_t tileHeight = 256;
        host_.tileSize(bounds, tileWidth, tileHeight);
        // A tile size that is not positive renders the image in one piece.
        const std::int64_t tw =
            tileWidth > 0 ? tileWidth : std::max<std::int64_t>(1, bounds.width());
        const std::int64_t th =
            tileHeight > 0 ? tileHeight : std::max<std::int64_t>(1, bounds.height());

        result->allocateSameAs(source);
        ImageBuffer scratch(&host_);
        const std::int64_t rows = (bounds.height() + th - 1) / th;
        const std::int64_t columns = (bounds.width() + tw - 1) / tw;
        ProgressLevel& tiles = host_.progressLevel(kTileLevel);
        tiles = {0, static_cast<std::uint64_t>(rows * columns), 1};
        const auto tileAt = [&](std::int64_t row, std::int64_t column) {
            const std::int64_t x0 = bounds.x0 + column * tw;
            const std::int64_t y0 = bounds.y0 + row * th;
            return Rect{static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0),
                        static_cast<std::int32_t>(std::min<std::int64_t>(bounds.x1, x0 + tw)),
                        static_cast<std::int32_t>(std::min<std::int64_t>(bounds.y1, y0 + th))};
        };
        // The first source row that the tiles from each row of tiles on ask for.  The source rows
        // above it are read no more once the rows of tiles before it are done; their memory goes
        // back to the system then, so that the source and the result are not both held whole
        // (which keeps the batch, holding up to three inputs at once, within about three images).
        std::vector<std::int64_t> firstNeeded(static_cast<std::size_t>(rows + 1),
                                              source.bounds.y1);
        for (std::int64_t row = rows - 1; row >= 0; --row) {
            std::int64_t first = firstNeeded[static_cast<std::size_t>(row + 1)];
            for (std::int64_t column = 0; column < columns; ++column) {
                InputRequestList extras;
                const Rect region = System::intersectRect(
                    host_.requiredInputRect(set, tileAt(row, column), bounds, extras),
                    source.bounds);
                if (!region.empty()) first = std::min<std::int64_t>(first, region.y0);
            }
            firstNeeded[static_cast<std::size_t>(row)] = first;
        }
        for (std::int64_t row = 0; row < rows; ++row) {
            for (std::int64_t column = 0; column < columns; ++column) {
                ImageBuffer view(&host_);
                view.makeView(*result, tileAt(row, column));
                host_.render(set, source, view, scratch, nullptr);
                completeUnit(host_, tiles);
                // A plug-in that reports no progress of its own is still stopped between tiles.
                host_.throwIfAborted();
            }
            source.discardRows(source.bounds.y0, firstNeeded[static_cast<std::size_t>(row + 1)]);
            collectEndedWrite();
        }
    }
    // The source is done with: only the result stays until it is written.
    job.image = std::move(result);
}

}  // namespace

bool batchMayHold(const std::vector<std::uint64_t>& held, std::uint64_t footprint, int depth,
                  std::uint64_t available) {
    if (held.empty()) return true;
    const auto large = [available](std::uint64_t bytes) {
        return available != 0 && bytes > available / 3;
    };
    if (held.size() >= static_cast<std::size_t>(std::max(depth, 1)) || large(footprint))
        return false;
    return std::none_of(held.begin(), held.end(), large);
}

void Host::setBatchDepth(int depth) { batchDepth_ = std::clamp(depth, 1, 3); }

void Host::holdDecodedInput(const ImageBuffer* image) {
    decodedInput_ = image;
    decodedIndex_ = currentInput_;
}

const ImageBuffer* Host::subjectDecodedImage(std::size_t index) const {
    return decodedInput_ && index == decodedIndex_ ? decodedInput_ : nullptr;
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
        // Held for the whole batch: the helpers read and write while the batch thread works on.
        const QuietLogScope quiet;
        System::returnLargeBlocksWhenFreed();
        BatchPipeline pipeline(*this, batchDepth_, n);
        for (std::uint64_t i = 0; i < n && !abortFlag_; ++i) {
            selectInput(i);
            if (Parameters* set = currentParameters()) pipeline.run(currentInput_, *set);
            flushMessages();
            completeUnit(*this, levels_[kInputLevel]);
        }
        pipeline.finish();
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
    const QuietLogScope quiet;
    BatchPipeline single(*this, 1, currentInput_ + 1);
    single.run(currentInput_, set);
    single.finish();
}

}  // namespace Mav::Host::App
