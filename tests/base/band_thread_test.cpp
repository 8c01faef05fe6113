#include "base/band_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

// Band threads run on stacks kept from one thread to the next; what a band may rely on is a stack
// of its own, as deep as a thread's usual one, for as long as it runs.

namespace vantrelo::base {
namespace {

// Each band fills a large part of its stack with its own number, waits until every band has
// done so, and only then checks its part: two running bands that shared a stack would find each
// other's numbers.
struct Crowd {
    explicit Crowd(int bands) : bands(bands), intact(static_cast<std::size_t>(bands)) {}
    const int bands;
    std::atomic<int> next{0};
    std::atomic<int> filled{0};
    std::vector<std::atomic<bool>> intact;
};

void fillWaitAndCheck(void* data) {
    auto& crowd = *static_cast<Crowd*>(data);
    const int band = crowd.next.fetch_add(1);
    constexpr std::size_t kBytes = 192 * 1024;
    volatile std::uint8_t mine[kBytes];
    const auto mark = static_cast<std::uint8_t>(band * 37 + 11);
    for (std::size_t i = 0; i < kBytes; ++i) mine[i] = mark;
    crowd.filled.fetch_add(1);
    while (crowd.filled.load() < crowd.bands) std::this_thread::yield();
    bool same = true;
    for (std::size_t i = 0; i < kBytes; ++i) same = same && mine[i] == mark;
    crowd.intact[static_cast<std::size_t>(band)] = same;
}

TEST(BandThread, BandsRunningTogetherEachHaveAStackOfTheirOwnEvenPastTheKeptOnes) {
    // More than the cache keeps, twice over: the second round takes kept stacks and new ones.
    const int bands = static_cast<int>(BandThread::keptStacks()) + 9;
    for (int round = 0; round < 2; ++round) {
        Crowd crowd(bands);
        std::unique_ptr<BandThread[]> threads(new BandThread[static_cast<std::size_t>(bands)]);
        int started = 0;
        for (int i = 0; i < bands; ++i) started += threads[i].start(fillWaitAndCheck, &crowd);
        // A band the system refused is run here, as the callers do; it cannot wait for the rest.
        ASSERT_EQ(started, bands) << "the system refused " << bands - started << " threads";
        for (int i = 0; i < bands; ++i) threads[i].join();
        for (int i = 0; i < bands; ++i) EXPECT_TRUE(crowd.intact[i]) << "band " << i;
    }
}

// Uses most of a thread's usual stack, in frames of 64 KiB.
std::uint64_t deep(int frames) {
    volatile std::uint8_t frame[64 * 1024];
    std::memset(const_cast<std::uint8_t*>(frame), frames & 0xff, sizeof frame);
    if (frames == 0) return frame[17];
    return frame[frames] + deep(frames - 1);
}

TEST(BandThread, ABandMayUseAsMuchStackAsAThreadOfItsOwnAndTheStackIsKeptForTheNext) {
    // Three quarters of the usual stack, which a band in a thread of the C library's default size
    // may use too.
    const int frames = static_cast<int>(BandThread::stackBytes() * 3 / 4 / (64 * 1024));
    struct Job {
        int frames;
        std::uint64_t sum = 0;
    };
    for (int repeat = 0; repeat < 3; ++repeat) {
        Job job{frames};
        BandThread thread;
        ASSERT_TRUE(thread.start(
            [](void* data) {
                auto& job = *static_cast<Job*>(data);
                job.sum = deep(job.frames);
            },
            &job));
        EXPECT_TRUE(thread.running());
        thread.join();
        EXPECT_FALSE(thread.running());
        std::uint64_t expected = 0;
        for (int f = 1; f <= frames; ++f) expected += static_cast<std::uint64_t>(f & 0xff);
        EXPECT_EQ(job.sum, expected);
    }
}

TEST(BandThread, JoiningWithoutAThreadReturnsAtOnceAndARunningThreadIsNotStartedTwice) {
    BandThread idle;
    idle.join();
    EXPECT_FALSE(idle.running());

    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    struct Gate {
        std::atomic<bool>* release;
        std::atomic<int>* runs;
    } gate{&release, &runs};
    const auto waitForRelease = [](void* data) {
        auto& gate = *static_cast<Gate*>(data);
        gate.runs->fetch_add(1);
        while (!gate.release->load()) std::this_thread::yield();
    };
    BandThread thread;
    ASSERT_TRUE(thread.start(waitForRelease, &gate));
    EXPECT_FALSE(thread.start(waitForRelease, &gate));
    release = true;
    thread.join();
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
}  // namespace vantrelo::base
