// Process-wide state first used from several threads at once, and the frame rate changed on a
// host thread while the streaming thread stamps frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "host/config/switch_configuration.h"
#include "platform/time/test_clock.h"
#include "support/hash/crc32.h"
#include "support/trace/device_trace.h"
#include "tests/imaging/stream_harness.h"

namespace {

using namespace ImagingTest;
using Vorn::Zephra::Net::Devices::Camera::IR::DeviceTrace;

// The checksum table and the trace switches are made once, whichever thread comes first;
// traces are formatted on any thread while the configuration changes.
TEST(Threads, FirstUsesOfTheChecksumTableAndTheTraceSwitches) {
    constexpr int kThreads = 4;
    std::atomic<int> ready{0}, wrong{0};
    std::atomic<bool> stop{false};
    std::vector<const void*> seen(kThreads);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int round = 0; round < 50; ++round) {
            System::Configuration::ScopedSwitchOverride on(
                "Vorn.Zephra.Diagnostics.Log.StackTraceOn", round % 2 ? "1" : "0");
            std::this_thread::yield();
        }
        stop = true;
    });
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (ready.fetch_add(1); ready.load() < kThreads;) std::this_thread::yield();
            wrong += VORN::CCrc32(VORN::CCrc32::kStandardPolynomial).HashString("123456789") !=
                     0xCBF43926u;
            seen[i] = &DeviceTrace::stackTraceSwitch();
            do {
                const auto text = DeviceTrace::FormatTrace(false, "T: ", "m", "f.cpp", 1);
                wrong += text.find("\r\nT: m\r\n") == std::string::npos;
            } while (!stop.load());
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (const void* s : seen) EXPECT_EQ(s, &DeviceTrace::stackTraceSwitch());
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

struct Streaming {
    ImgSrcStream* stream;
    std::vector<std::uint8_t>* out;
    std::atomic<int> ok{0};
    std::atomic<int> unsound{0};
};
Streaming* g_streaming = nullptr;

void DecodeAndCheck() {
    ImgSrcStream& s = *g_streaming->stream;
    if (s.GetImageBufferSize() <= 0 ||
        s.DecodeImage(0, g_streaming->out->data()) != DecodeResult::Ok)
        return;
    ++g_streaming->ok;
    if (s.TimeMilliseconds() >= 1000) ++g_streaming->unsound;
}

// No stamp leaves its second and a host-thread size query never sees the sample; the last rate
// set while frames flow is the one the clock runs at, and a stopped clock holds no timer period.
TEST(Threads, StampingMeetsNoConcurrentRateChange) {
    for (const Path& path : {kUsbRaw, kYuy2}) {
        zrf::sim::SampleSettings s;
        s.size = {32, 16};
        const Sample sample = BuildSample(path, RampPicture(s.size), s);
        Platform::TestClock clock;
        Platform::TestClockScope scope(clock);
        ImgSrcStream stream;
        Use(stream, path);
        std::vector<std::uint8_t> out(1 << 16);
        Streaming streaming{&stream, &out};
        g_streaming = &streaming;
        stream.SetNewImageCallback(&DecodeAndCheck);
        const int periods = Platform::ActiveTimerPeriods(1);
        std::atomic<bool> done{false};
        std::thread graph([&] {
            while (!done.load()) {
                stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), s.size);
                clock.AdvanceMilliseconds(33);
            }
        });
        const float rates[] = {30.0f, 0.0f, 25.0f, 9.0f, 60.0f};
        for (int i = 0; i < 3000; ++i) {
            stream.SetFrameRate(rates[i % 5]);
            stream.GetImageBufferSize();
        }
        stream.SetFrameRate(25.0f);
        const int seen = streaming.ok.load();
        while (streaming.ok.load() < std::max(seen + 3, 50)) std::this_thread::yield();
        done = true;
        graph.join();
        EXPECT_EQ(stream.ClockFrameRate(), 25.0);
        stream.SetNewImageCallback(nullptr);
        stream.SetFrameRate(30.0f);
        EXPECT_EQ(streaming.unsound.load(), 0);
        EXPECT_EQ(Platform::ActiveTimerPeriods(1), periods);
    }
}

}  // namespace
