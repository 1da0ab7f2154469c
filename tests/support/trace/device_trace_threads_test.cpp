#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/config/switch_configuration.h"
#include "support/trace/device_trace.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

// Switches are created once, whichever thread uses them first; formatting runs on any thread
// while the configuration changes.
TEST(DeviceTraceThreads, SwitchesOnceAndFormattingWhileTheConfigurationChanges) {
    std::atomic<bool> go{false}, stop{false};
    std::atomic<int> withoutMessage{0};
    std::vector<const void*> seen(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            seen[i] = &DeviceTrace::stackTraceSwitch();
            while (!stop.load()) {
                const auto text = DeviceTrace::FormatTrace(false, "T: ", "m", "f.cpp", 1);
                if (text.find("\r\nT: m\r\n") == std::string::npos) ++withoutMessage;
            }
        });
    }
    go = true;
    for (int round = 0; round < 50; ++round) {
        System::Configuration::ScopedSwitchOverride on("Vorn.Zephra.Diagnostics.Log.StackTraceOn",
                                                       round % 2 ? "1" : "0");
        std::this_thread::yield();
    }
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(withoutMessage.load(), 0);
    for (const void* s : seen) EXPECT_EQ(s, &DeviceTrace::stackTraceSwitch());
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
