#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/time/test_clock.h"
#include "platform/time/windows_time.h"

namespace {

TEST(TestClock, OneThreadAdvancesWhileAnotherReads) {
    Platform::TestClock clock;
    Platform::TestClockScope scope(clock);
    clock.SetTimerTicks(0);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        LONGLONG last = 0;
        while (!done.load()) {
            LARGE_INTEGER c{};
            QueryPerformanceCounter(&c);
            EXPECT_GE(c.QuadPart, last);
            last = c.QuadPart;
        }
    });
    for (int i = 0; i < 2000; ++i) clock.AdvanceMilliseconds(1);
    done = true;
    reader.join();
    EXPECT_EQ(timeGetTime(), 2000u);
}

}  // namespace
