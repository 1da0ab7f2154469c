// The process-wide parts of the support code, first used from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/config/switch_configuration.h"
#include "support/hash/crc32.h"
#include "support/trace/device_trace.h"

namespace {

using Vorn::Zephra::Net::Devices::Camera::IR::DeviceTrace;

// Starts `body(i)` on `count` threads at once and joins them.
template <typename Body>
void RunTogether(int count, Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            for (ready.fetch_add(1); ready.load() < count;) std::this_thread::yield();
            body(i);
        });
    }
    for (auto& thread : threads) thread.join();
}

TEST(SupportThreads, ConcurrentFirstCrc32ConstructionsSeeACompleteTable) {
    std::vector<std::uint32_t> results(8);
    RunTogether(8, [&](int i) {
        results[i] = VORN::CCrc32(VORN::CCrc32::kStandardPolynomial).HashString("123456789");
    });
    for (auto result : results) EXPECT_EQ(result, 0xCBF43926u);
}

// The switches are created once, whichever thread comes first; formatting runs on any thread
// while the configuration changes.
TEST(SupportThreads, TraceSwitchesOnceAndFormattingWhileTheConfigurationChanges) {
    std::atomic<bool> stop{false};
    std::atomic<int> withoutMessage{0};
    std::vector<const void*> seen(4);
    std::thread configuration([&] {
        for (int round = 0; round < 50; ++round) {
            System::Configuration::ScopedSwitchOverride on(
                "Vorn.Zephra.Diagnostics.Log.StackTraceOn", round % 2 ? "1" : "0");
            std::this_thread::yield();
        }
        stop = true;
    });
    RunTogether(4, [&](int i) {
        seen[i] = &DeviceTrace::stackTraceSwitch();
        do {
            const auto text = DeviceTrace::FormatTrace(false, "T: ", "m", "f.cpp", 1);
            if (text.find("\r\nT: m\r\n") == std::string::npos) ++withoutMessage;
        } while (!stop.load());
    });
    configuration.join();
    EXPECT_EQ(withoutMessage.load(), 0);
    for (const void* s : seen) EXPECT_EQ(s, &DeviceTrace::stackTraceSwitch());
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

}  // namespace
