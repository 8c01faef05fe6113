#include "host/system/thread.h"

#include <array>
#include <memory>
#include <new>
#include <string>

#include "base/band_thread.h"
#include "host/system/exceptions.h"
#include "host/system/system_info.h"

namespace Mav::Host::System {

namespace {

// How a band ended.  When several bands fail only one kind can be rethrown; the numbering lets
// the caller keep the kind of the highest-numbered failing band.
enum BandExit : int {
    kBandFinished = 0,
    kBandOutOfMemory = 1,
    kBandInterrupted = 2,
    kBandFailed = 3,
};

struct BandRecord {
    vantrelo::base::BandThread thread;  // not running for band 0 and for a band run by the caller
    TaskFunction task = nullptr;
    void* data = nullptr;
    std::uint64_t index = 0;
    std::uint64_t count = 0;
    int exitCode = kBandFinished;
};

int runBand(TaskFunction task, std::uint64_t index, std::uint64_t count, void* data) noexcept {
    try {
        task(index, count, index, data);
        return kBandFinished;
    } catch (const std::bad_alloc&) {
        return kBandOutOfMemory;
    } catch (const Mav::Interrupted&) {
        return kBandInterrupted;
    } catch (...) {
        return kBandFailed;
    }
}

// Thread procedure of bands 1 to n - 1.
void forkJoinPartEntry(void* band) noexcept {
    auto* record = static_cast<BandRecord*>(band);
    record->exitCode = runBand(record->task, record->index, record->count, record->data);
}

// Up to this many band records live on the caller's stack; more go to the heap.
constexpr std::size_t kStackBands = 64;

}  // namespace

std::uint64_t Thread::processorCount() {
    if (processorCount_ == 0) processorCount_ = systemProcessorCount();
    return processorCount_;
}

void Thread::thread(TaskFunction task, void* data, std::uint64_t count) {
    if (count == 0) count = processorCount();
    if (count <= 1) {
        task(0, 1, 0, data);
        return;
    }

    std::array<BandRecord, kStackBands> stackBands;
    std::unique_ptr<BandRecord[]> heapBands;
    BandRecord* bands = stackBands.data();
    if (count > kStackBands) {
        try {
            heapBands.reset(new BandRecord[count]);
        } catch (const std::bad_alloc&) {
            throwBadAllocation();
        }
        bands = heapBands.get();
    }

    // Every band thread is started before the caller does any work of its own.
    for (std::uint64_t i = 0; i < count; ++i) {
        BandRecord& band = bands[i];
        band.task = task;
        band.data = data;
        band.index = i;
        band.count = count;
        // Left without a thread, a band is run by the caller after its own.
        if (i != 0) band.thread.start(forkJoinPartEntry, &band);
    }

    bands[0].exitCode = runBand(task, 0, count, data);
    for (std::uint64_t i = 1; i < count; ++i)
        if (!bands[i].thread.running()) forkJoinPartEntry(&bands[i]);

    int result = bands[0].exitCode;
    for (std::uint64_t i = 1; i < count; ++i) {
        bands[i].thread.join();
        if (bands[i].exitCode != kBandFinished) result = bands[i].exitCode;
    }

    switch (result) {
        case kBandOutOfMemory:
            throwBadAllocation();
        case kBandInterrupted:
            throw Mav::Interrupted();
        case kBandFailed:
            throw Mav::Exception(std::string("Mav::Host::System::Thread::thread") + ": " +
                                 "An unknown error occurred in a thread.");
        default:
            return;
    }
}

}  // namespace Mav::Host::System
