#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/hash/crc32.h"

namespace {

// Concurrent first constructions must all see the class-wide table complete.
TEST(Crc32Threads, ConcurrentFirstConstructionsSeeACompleteTable) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<std::uint32_t> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (ready.fetch_add(1); ready.load() < kThreads;) std::this_thread::yield();
            results[i] = VORN::CCrc32(VORN::CCrc32::kStandardPolynomial).HashString("123456789");
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto result : results) EXPECT_EQ(result, 0xCBF43926u);
}

}  // namespace
