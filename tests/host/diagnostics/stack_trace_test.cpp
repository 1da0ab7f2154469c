// Stacks are captured from the caller to main, on any thread, every frame named.
#include "host/diagnostics/stack_trace.h"

#include <gtest/gtest.h>

#include <thread>

namespace System::Diagnostics {
namespace {

volatile int sideEffect = 0;

// Not inlined and not a tail call, so it is a frame of its own.
[[gnu::noinline]] StackTrace CaptureHere(int skipFrames) {
    StackTrace trace = StackTrace::Capture(skipFrames);
    sideEffect = sideEffect + 1;
    return trace;
}

void ExpectEveryFrameNamed(const StackTrace& trace) {
    ASSERT_FALSE(trace.Frames.empty());
    for (const auto& frame : trace.Frames) ASSERT_TRUE(frame.Method);
    if (StackTrace::HasSourceInformation()) {
        EXPECT_EQ(trace.Frames.front().Method->Name, "CaptureHere");
    }
}

TEST(StackTrace, RunsFromTheCallerToMainOrTheThreadsStart) {
    const auto trace = CaptureHere(0);
    ASSERT_FALSE(trace.Frames.empty());
    ExpectEveryFrameNamed(trace);
    EXPECT_EQ(trace.Frames.back().Method->Name, "main");
    EXPECT_EQ(CaptureHere(1).Frames.size(), trace.Frames.size() - 1);
    EXPECT_TRUE(CaptureHere(100000).Frames.empty());
    StackTrace onThread;
    std::thread([&onThread] { onThread = CaptureHere(0); }).join();
    ExpectEveryFrameNamed(onThread);
}

}  // namespace
}  // namespace System::Diagnostics
