#include "host/diagnostics/stack_trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace System::Diagnostics {
namespace {

using ::testing::EndsWith;

volatile int sideEffect = 0;

// Not inlined and not a tail call, so it is a frame of its own.
[[gnu::noinline]] StackTrace CaptureHere(int skipFrames) {
    StackTrace trace = StackTrace::Capture(skipFrames);
    sideEffect = sideEffect + 1;
    return trace;
}

[[gnu::noinline]] StackTrace CaptureOneLevelDown(int skipFrames) {
    StackTrace trace = CaptureHere(skipFrames);
    sideEffect = sideEffect + 1;
    return trace;
}

bool AllFramesHaveMethods(const StackTrace& trace) {
    for (const auto& frame : trace.Frames) {
        if (!frame.Method) return false;
    }
    return true;
}

TEST(StackTrace, StartsAtTheCallerWithItsSourceLocation) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    const auto trace = CaptureHere(0);
    ASSERT_FALSE(trace.Frames.empty());
    const auto& first = trace.Frames.front();
    ASSERT_TRUE(first.Method);
    EXPECT_EQ(first.Method->Name, "CaptureHere");
    ASSERT_TRUE(first.Method->DeclaringType);
    EXPECT_EQ(first.Method->DeclaringType->Name, "(anonymous namespace)");
    EXPECT_EQ(first.Method->DeclaringType->Namespace, "System.Diagnostics");
    ASSERT_EQ(first.Method->Parameters.size(), 1u);
    EXPECT_EQ(first.Method->Parameters[0].ParameterType, "int");
    EXPECT_THAT(first.FileName, EndsWith("stack_trace_test.cpp"));
    EXPECT_GT(first.LineNumber, 0);
}

TEST(StackTrace, SkipsTheGivenNumberOfFrames) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    const auto all = CaptureOneLevelDown(0);
    const auto skipped = CaptureOneLevelDown(1);
    ASSERT_GE(all.Frames.size(), 3u);
    ASSERT_EQ(skipped.Frames.size(), all.Frames.size() - 1);
    EXPECT_EQ(all.Frames[1].Method->Name, "CaptureOneLevelDown");
    EXPECT_EQ(skipped.Frames[0].Method->Name, "CaptureOneLevelDown");
}

TEST(StackTrace, EndsAtMainWithEveryFrameKnown) {
    const auto trace = CaptureHere(0);
    ASSERT_FALSE(trace.Frames.empty());
    EXPECT_TRUE(AllFramesHaveMethods(trace));
    ASSERT_TRUE(trace.Frames.back().Method);
    EXPECT_EQ(trace.Frames.back().Method->Name, "main");
}

TEST(StackTrace, ThreadStackLeavesOutTheUnnamedStartFrames) {
    StackTrace trace;
    std::thread([&trace] { trace = CaptureHere(0); }).join();
    ASSERT_FALSE(trace.Frames.empty());
    EXPECT_TRUE(AllFramesHaveMethods(trace));
    if (StackTrace::HasSourceInformation()) {
        EXPECT_EQ(trace.Frames.front().Method->Name, "CaptureHere");
    }
}

TEST(StackTrace, SkippingPastTheOutermostFrameGivesNoFrames) {
    EXPECT_TRUE(CaptureHere(100000).Frames.empty());
}

}  // namespace
}  // namespace System::Diagnostics
