#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/config/switch_configuration.h"
#include "support/trace/device_trace.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using ::testing::Each;
using ::testing::Eq;

constexpr int kThreads = 4;

TEST(DeviceTraceThreads, SwitchesAreCreatedOnceWhenFirstUsedFromManyThreads) {
    std::atomic<bool> go{false};
    std::vector<const void*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = &DeviceTrace::stackTraceSwitch();
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_THAT(seen, Each(Eq(static_cast<const void*>(&DeviceTrace::stackTraceSwitch()))));
}

TEST(DeviceTraceThreads, FormattingRunsWhileTheConfigurationChanges) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    std::atomic<int> withoutMessage{0};
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                const auto text = DeviceTrace::FormatTrace(false, "T: ", "m", "f.cpp", 1);
                if (text.find("\r\nT: m\r\n") == std::string::npos) ++withoutMessage;
            }
        });
    }
    for (int round = 0; round < 50; ++round) {
        System::Configuration::ScopedSwitchOverride on("Vorn.Zephra.Diagnostics.Log.StackTraceOn",
                                                       round % 2 ? "1" : "0");
        std::this_thread::yield();
    }
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(withoutMessage.load(), 0);
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
