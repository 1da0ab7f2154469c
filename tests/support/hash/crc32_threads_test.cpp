#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/hash/crc32.h"

namespace {

// The class-wide table is built by the first construction; concurrent first constructions
// must all see it complete.
TEST(Crc32Threads, ConcurrentFirstConstructionsSeeACompleteTable) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<std::uint32_t> results(kThreads);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
            results[i] = crc.HashString("123456789");
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto result : results) EXPECT_EQ(result, 0xCBF43926u);
}

}  // namespace
