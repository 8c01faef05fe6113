#include "host/system/thread.h"

#include <array>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
    std::thread thread;  // not joinable for band 0 and for a band that runs on the caller
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
void forkJoinPartEntry(BandRecord* record) noexcept {
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
    std::vector<BandRecord> heapBands;
    BandRecord* bands = stackBands.data();
    if (count > kStackBands) {
        try {
            heapBands.resize(count);
        } catch (const std::bad_alloc&) {
            throwBadAllocation();
        } catch (const std::length_error&) {
            throwBadAllocation();
        }
        bands = heapBands.data();
    }

    // Every band thread is started before the caller does any work of its own.
    for (std::uint64_t i = 0; i < count; ++i) {
        BandRecord& band = bands[i];
        band.task = task;
        band.data = data;
        band.index = i;
        band.count = count;
        if (i == 0) continue;
        try {
            band.thread = std::thread(forkJoinPartEntry, &band);
        } catch (...) {
            // Left without a thread: the caller runs this band after its own.
        }
    }

    bands[0].exitCode = runBand(task, 0, count, data);
    for (std::uint64_t i = 1; i < count; ++i)
        if (!bands[i].thread.joinable()) forkJoinPartEntry(&bands[i]);

    int result = bands[0].exitCode;
    for (std::uint64_t i = 1; i < count; ++i) {
        if (bands[i].thread.joinable()) bands[i].thread.join();
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
