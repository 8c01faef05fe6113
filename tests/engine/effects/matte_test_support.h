#pragma once
// Shared by the matte-effect tests: engine-wide settings restored after each test, an allocator
// that counts and can refuse, and small deterministic images.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/keying/key_state.h"

namespace vantrelo::matte_test {

struct CountingAllocator {
    static inline int allocations = 0;
    static inline int live = 0;
    // Allocations with an index in [failFrom, failUntil) return null; failFrom -1 fails none.
    static inline int failFrom = -1;
    static inline int failUntil = 0;
    static void* allocate(std::size_t size) {
        const int index = allocations++;
        if (failFrom >= 0 && index >= failFrom && index < failUntil) return nullptr;
        ++live;
        return std::malloc(size);
    }
    static void release(void* block) {
        --live;
        std::free(block);
    }
};

// Restores the allocator and the worker count that a test changes.
class EngineSettings : public ::testing::Test {
protected:
    void SetUp() override {
        CountingAllocator::allocations = 0;
        CountingAllocator::live = 0;
        CountingAllocator::failFrom = -1;
        const AllocatorHooks hooks{CountingAllocator::allocate, CountingAllocator::release};
        setAllocatorHooks(&hooks);
        setWorkerThreadCount(1);
    }
    void TearDown() override {
        EXPECT_EQ(CountingAllocator::live, 0) << "every scratch block goes back";
        setAllocatorHooks(nullptr);
        setWorkerThreadCount(1);
    }
    // Counting restarts: allocation `index` of the next call and every later one fail.
    static void failAllocationsFrom(int index) {
        CountingAllocator::allocations = 0;
        CountingAllocator::failFrom = index;
        CountingAllocator::failUntil = 1 << 30;
    }
    // Only allocation `index` of the next call fails.
    static void failAllocation(int index) {
        CountingAllocator::allocations = 0;
        CountingAllocator::failFrom = index;
        CountingAllocator::failUntil = index + 1;
    }
    static void allowAllocations() { CountingAllocator::failFrom = -1; }
};

template <class T>
std::vector<T> randomSamples(std::size_t count, unsigned seed, T low, T high) {
    std::mt19937 rng(seed);
    std::vector<T> v(count);
    if constexpr (std::is_floating_point_v<T>) {
        std::uniform_real_distribution<T> d(low, high);
        for (T& x : v) x = d(rng);
    } else {
        std::uniform_int_distribution<int> d(low, high);
        for (T& x : v) x = static_cast<T>(d(rng));
    }
    return v;
}

}  // namespace vantrelo::matte_test
