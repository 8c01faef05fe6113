#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "host/system/exceptions.h"
#include "host/system/semaphore.h"
#include "host/system/thread.h"
#include "host/system/worker_thread.h"
#include "tests/unstartable_threads.h"

namespace {

using namespace Mav::Host::System;
using namespace std::chrono_literals;
using test_threads::UnstartableThreads;

const char* const kUnknownFailure =
    "Mav::Host::System::Thread::thread: An unknown error occurred in a thread.";

struct Call {
    std::uint64_t index, count, key;
    std::thread::id thread;
};

// What a band does when it is called.
enum class Act { Finish, BadAlloc, Interrupt, StdError, OwnException, Int, SlowFinish };

struct Job {
    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<Act> acts;  // per band; missing entries finish
    std::atomic<int> finished{0};
};

void recordingTask(std::uint64_t index, std::uint64_t count, std::uint64_t key, void* data) {
    Job& job = *static_cast<Job*>(data);
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.calls.push_back({index, count, key, std::this_thread::get_id()});
    }
    switch (index < job.acts.size() ? job.acts[index] : Act::Finish) {
        case Act::BadAlloc: throw std::bad_alloc();
        case Act::Interrupt: throw Mav::Interrupted();
        case Act::StdError: throw std::out_of_range("own text");
        case Act::OwnException: throw Mav::Exception("own text");
        case Act::Int: throw 7;
        case Act::SlowFinish: std::this_thread::sleep_for(30ms); break;
        case Act::Finish: break;
    }
    ++job.finished;
}

TEST(ForkJoin, FewerThanTwoBandsRunInlineAndPassExceptionsUnchanged) {
    Thread runner;
    Job job;
    runner.thread(recordingTask, &job, 1);
    ASSERT_EQ(job.calls.size(), 1u);
    EXPECT_EQ(job.calls[0].index, 0u);
    EXPECT_EQ(job.calls[0].count, 1u);
    EXPECT_EQ(job.calls[0].key, 0u);
    EXPECT_EQ(job.calls[0].thread, std::this_thread::get_id());

    Job failing;
    failing.acts = {Act::StdError};
    EXPECT_THROW(runner.thread(recordingTask, &failing, 1), std::out_of_range);
}

TEST(ForkJoin, EveryBandRunsOnceWithItsIndexAsKeyAndBandZeroOnTheCaller) {
    Thread runner;
    for (std::uint64_t count : {std::uint64_t{0}, std::uint64_t{4}, std::uint64_t{70}}) {
        const std::uint64_t expected = count == 0 ? runner.processorCount() : count;
        Job job;
        runner.thread(recordingTask, &job, count);
        ASSERT_EQ(job.calls.size(), expected) << "count " << count;
        std::vector<int> seen(expected, 0);
        for (const Call& call : job.calls) {
            ASSERT_LT(call.index, expected);
            ++seen[call.index];
            EXPECT_EQ(call.count, expected == 1 ? 1u : expected);
            EXPECT_EQ(call.key, call.index);
            EXPECT_EQ(call.thread == std::this_thread::get_id(), call.index == 0 || expected == 1)
                << "band " << call.index;
        }
        for (std::uint64_t i = 0; i < expected; ++i) EXPECT_EQ(seen[i], 1) << "band " << i;
    }
}

// The runner must join every band before it throws (the slow band has finished when the caller
// sees the failure), and only the highest-numbered failing band decides the kind.
TEST(ForkJoin, RethrowsTheFailureOfTheHighestNumberedFailingBandAfterJoiningAll) {
    enum class Kind { BadAlloc, Interrupted, Unknown };
    struct Case {
        const char* name;
        std::vector<Act> acts;
        Kind expected;
    } cases[] = {
        {"band 2 out of memory", {Act::Finish, Act::SlowFinish, Act::BadAlloc, Act::SlowFinish},
         Kind::BadAlloc},
        {"band 0 interrupted, band 3 std error",
         {Act::Interrupt, Act::Finish, Act::Finish, Act::StdError}, Kind::Unknown},
        {"band 1 out of memory, band 2 interrupted",
         {Act::Finish, Act::BadAlloc, Act::Interrupt, Act::SlowFinish}, Kind::Interrupted},
        {"band 3 interrupted, band 2 out of memory",
         {Act::Finish, Act::Finish, Act::BadAlloc, Act::Interrupt}, Kind::Interrupted},
        {"only band 0 out of memory", {Act::BadAlloc, Act::SlowFinish}, Kind::BadAlloc},
        {"own Mav::Exception text is replaced", {Act::Finish, Act::Finish, Act::OwnException},
         Kind::Unknown},
        {"non-standard exception", {Act::Finish, Act::Finish, Act::Finish, Act::Int},
         Kind::Unknown},
    };
    Thread runner;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Job job;
        job.acts = c.acts;
        const int failing = static_cast<int>(std::count_if(
            c.acts.begin(), c.acts.end(), [](Act a) { return a != Act::Finish && a != Act::SlowFinish; }));
        const int bands = 4;
        try {
            runner.thread(recordingTask, &job, bands);
            ADD_FAILURE() << "no exception";
        } catch (const std::bad_alloc& e) {
            EXPECT_EQ(c.expected, Kind::BadAlloc);
            EXPECT_STREQ(e.what(), "bad allocation");
        } catch (const Mav::Interrupted&) {
            EXPECT_EQ(c.expected, Kind::Interrupted);
        } catch (const Mav::Exception& e) {
            EXPECT_EQ(c.expected, Kind::Unknown);
            EXPECT_EQ(e.text, kUnknownFailure);
            EXPECT_STREQ(e.what(), kUnknownFailure);
        }
        EXPECT_EQ(job.calls.size(), static_cast<std::size_t>(bands));
        EXPECT_EQ(job.finished.load(), bands - failing);
    }
}

// A band whose thread cannot be started is not skipped: the caller runs it, and its failure still
// crosses the runner like any other band's.
TEST(ForkJoin, BandsWhoseThreadCannotStartRunOnTheCaller) {
    Job job;
    job.acts = {Act::Finish, Act::Finish, Act::Interrupt, Act::Finish};
    bool threadStarted = true;
    {
        UnstartableThreads noThreads;
        if (!noThreads.ok()) GTEST_SKIP() << "the default thread attributes cannot be changed";
        try {
            std::thread probe([] {});
            probe.join();
        } catch (const std::system_error&) {
            threadStarted = false;
        }
        if (!threadStarted) {
            EXPECT_THROW(Thread().thread(recordingTask, &job, 4), Mav::Interrupted);
        }
    }
    if (threadStarted) GTEST_SKIP() << "threads still start with a huge default stack";
    ASSERT_EQ(job.calls.size(), 4u);
    for (std::uint64_t i = 0; i < 4; ++i) {
        EXPECT_EQ(job.calls[i].index, i) << "in order, on the caller";
        EXPECT_EQ(job.calls[i].count, 4u);
        EXPECT_EQ(job.calls[i].key, i);
        EXPECT_EQ(job.calls[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(job.finished.load(), 3);
}

// A band may run the runner again; the inner bands are joined before the outer band returns.
struct NestedJob {
    std::array<std::atomic<int>, 12> cells{};
};

void innerTask(std::uint64_t index, std::uint64_t, std::uint64_t, void* data) {
    auto& cells = *static_cast<std::array<std::atomic<int>, 3>*>(data);
    ++cells[index];
}

void outerTask(std::uint64_t index, std::uint64_t, std::uint64_t, void* data) {
    auto& job = *static_cast<NestedJob*>(data);
    std::array<std::atomic<int>, 3> inner{};
    Thread().thread(innerTask, &inner, 3);
    for (int i = 0; i < 3; ++i) job.cells[index * 3 + i] += inner[i].load();
}

TEST(ForkJoin, BandsMayRunTheRunnerAgain) {
    NestedJob job;
    Thread().thread(outerTask, &job, 4);
    for (const auto& cell : job.cells) EXPECT_EQ(cell.load(), 1);
}

void setFlagSlowly(void* argument) {
    std::this_thread::sleep_for(20ms);
    static_cast<std::atomic<int>*>(argument)->fetch_add(1);
}

void throwFromWorker(void* argument) {
    static_cast<std::atomic<int>*>(argument)->fetch_add(1);
    throw std::runtime_error("dropped");
}

TEST(WorkerThread, RunsTheFunctionOnceAndJoinsSafelyAnyNumberOfTimes) {
    WorkerThread idle;
    EXPECT_FALSE(idle.running());
    idle.join();  // never started: nothing happens
    idle.join();

    std::atomic<int> runs{0};
    WorkerThread worker(setFlagSlowly, &runs);
    EXPECT_TRUE(worker.running());
    EXPECT_NE(worker.id(), 0u);
    worker.join();
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(runs.load(), 1);
    worker.join();
    EXPECT_EQ(runs.load(), 1);
}

TEST(WorkerThread, StartingAgainJoinsThePreviousThreadAndFailuresAreDropped) {
    std::atomic<int> first{0}, second{0};
    WorkerThread worker;
    const std::uint32_t firstId = worker.start(setFlagSlowly, &first);
    const std::uint32_t secondId = worker.start(throwFromWorker, &second);
    EXPECT_EQ(first.load(), 1) << "the first thread was joined before the second started";
    EXPECT_NE(firstId, secondId);
    EXPECT_NO_THROW(worker.join());
    EXPECT_EQ(second.load(), 1);
}

TEST(Semaphore, CountsUpToItsMaximumAndWakesAWaiter) {
    Semaphore semaphore(0, 3);
    EXPECT_FALSE(semaphore.tryAcquire());
    EXPECT_TRUE(semaphore.release(2));
    EXPECT_FALSE(semaphore.release(2)) << "would pass the maximum";
    EXPECT_TRUE(semaphore.release());
    EXPECT_FALSE(semaphore.release());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore.tryAcquire());
    EXPECT_FALSE(semaphore.tryAcquire());

    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        semaphore.acquire();
        woke = true;
    });
    std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(woke.load());
    semaphore.release();
    waiter.join();
    EXPECT_TRUE(woke.load());
}

}  // namespace
