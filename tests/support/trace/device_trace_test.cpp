// The switches and everything that captures the real stack.
#include "support/trace/device_trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/config/switch_configuration.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using System::Configuration::ScopedSwitchOverride;
using System::Diagnostics::StackTrace;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kTraceSwitch = "Vorn.CaptureDevice";
constexpr const char* kStackSwitch = "Vorn.Zephra.Diagnostics.Log.StackTraceOn";

volatile int sideEffect = 0;

// Each helper is a frame of its own: not inlined, and no tail call.
[[gnu::noinline]] std::string StackOfHelper() {
    std::string stack = DeviceTrace::CurrentStack();
    sideEffect = sideEffect + 1;
    return stack;
}

[[gnu::noinline]] std::string StackOfHelperSkipping(int skipFrames) {
    std::string stack = DeviceTrace::CurrentStack(skipFrames);
    sideEffect = sideEffect + 1;
    return stack;
}

[[gnu::noinline]] std::string TraceOfHelper(bool forceStack) {
    std::string text = DeviceTrace::FormatTrace(forceStack, "INFO: ", "traced", "helper.cpp", 11);
    sideEffect = sideEffect + 1;
    return text;
}

[[gnu::noinline]] void FailingHelper() {
    DeviceTrace::Fail("ERROR: ", "it broke", System::IOException("disk gone"), R"(c:\x\y.cpp)", 5);
}

std::string FirstLine(const std::string& stack) {
    return stack.substr(0, stack.find("\r\n"));
}

TEST(DeviceTraceSwitches, HaveTheirNamesAndDescriptions) {
    EXPECT_EQ(DeviceTrace::traceSwitch().DisplayName(), "Vorn.CaptureDevice");
    EXPECT_EQ(DeviceTrace::traceSwitch().Description(), "Logging from Vorn.CaptureDevice.dll");
    EXPECT_EQ(DeviceTrace::lifetimeSwitch().DisplayName(), "CD_Vorn.CaptureDevice");
    EXPECT_EQ(DeviceTrace::lifetimeSwitch().Description(),
              "Constructor/Destructor logging from Vorn.CaptureDevice.dll");
    EXPECT_EQ(DeviceTrace::stackTraceSwitch().DisplayName(), kStackSwitch);
    EXPECT_EQ(DeviceTrace::stackTraceSwitch().Description(),
              "Switch controlling if a stacktrace shall me included on all methods.");
}

TEST(DeviceTraceSwitches, TraceSwitchIsVerboseOnlyAtTheVerboseLevel) {
    EXPECT_FALSE(DeviceTrace::traceSwitch().TraceVerbose());
    {
        ScopedSwitchOverride level(kTraceSwitch, "Info");
        EXPECT_FALSE(DeviceTrace::traceSwitch().TraceVerbose());
        EXPECT_TRUE(DeviceTrace::traceSwitch().TraceInfo());
    }
    {
        ScopedSwitchOverride level(kTraceSwitch, "verbose");
        EXPECT_TRUE(DeviceTrace::traceSwitch().TraceVerbose());
    }
    EXPECT_FALSE(DeviceTrace::traceSwitch().TraceVerbose());
}

TEST(DeviceTraceSwitches, LifetimeSwitchReadsItsOwnName) {
    ScopedSwitchOverride on("CD_Vorn.CaptureDevice", "on");
    EXPECT_TRUE(DeviceTrace::lifetimeSwitch().Enabled());
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

TEST(FormatTrace, WithoutStackEndsWithTheMessage) {
    ScopedSwitchOverride off(kStackSwitch, "0");
    const auto text = TraceOfHelper(false);
    EXPECT_THAT(text, EndsWith("\thelper.cpp(11)\r\nINFO: traced\r\n"));
    EXPECT_THAT(text, Not(HasSubstr(" at ")));
}

TEST(FormatTrace, StackSwitchAddsTheCallersStack) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    ScopedSwitchOverride on(kStackSwitch, "1");
    const auto text = TraceOfHelper(false);
    const std::string message = "INFO: traced\r\n";
    const auto stack = text.substr(text.find(message) + message.size());
    EXPECT_THAT(FirstLine(stack), HasSubstr("TraceOfHelper(bool ) "));
    EXPECT_THAT(FirstLine(stack), HasSubstr("device_trace_test.cpp("));
    EXPECT_THAT(stack, HasSubstr("FormatTrace_StackSwitchAddsTheCallersStack_Test.TestBody() "));
    EXPECT_THAT(stack, EndsWith("\r\n "));
}

TEST(FormatTrace, ForcedStackIgnoresTheSwitch) {
    ScopedSwitchOverride off(kStackSwitch, "off");
    EXPECT_THAT(TraceOfHelper(true), HasSubstr("\r\nINFO: traced\r\n at "));
}

TEST(CurrentStack, NamesTheCallingFunctionAndItsSourceFile) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    const auto stack = StackOfHelper();
    const int callLine = __LINE__ - 1;
    EXPECT_THAT(stack, StartsWith(" at Vorn.Zephra.Net.Devices.Camera.IR.(anonymous namespace)."
                                  "StackOfHelper() "));
    EXPECT_THAT(FirstLine(stack), HasSubstr("device_trace_test.cpp("));
    EXPECT_THAT(stack, HasSubstr("CurrentStack_NamesTheCallingFunctionAndItsSourceFile_Test."
                                 "TestBody() "));
    EXPECT_THAT(stack, HasSubstr("device_trace_test.cpp(" + std::to_string(callLine) + ")\r\n"));
    EXPECT_THAT(stack, HasSubstr(" at main("));
    EXPECT_THAT(stack, EndsWith("\r\n "));
}

TEST(CurrentStack, SkipCountsStartAtCurrentStackItself) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    EXPECT_THAT(
        FirstLine(StackOfHelperSkipping(0)),
        AllOf(HasSubstr("DeviceTrace.CurrentStack(int ) "), HasSubstr("device_trace_stack.cpp(")));
    EXPECT_THAT(FirstLine(StackOfHelperSkipping(1)), HasSubstr("StackOfHelperSkipping(int ) "));
    EXPECT_THAT(FirstLine(StackOfHelperSkipping(2)),
                HasSubstr("CurrentStack_SkipCountsStartAtCurrentStackItself_Test.TestBody() "));
}

TEST(Fail, ThrowsApplicationExceptionWithTraceStackAndInner) {
    try {
        FailingHelper();
        FAIL() << "Fail returned";
    } catch (const System::ApplicationException& error) {
        EXPECT_STREQ(error.TypeName(), "System.ApplicationException");
        EXPECT_THAT(error.Message(), HasSubstr("\ty.cpp(5)\r\nERROR: it broke\r\n at "));
        if (StackTrace::HasSourceInformation()) {
            EXPECT_THAT(error.Message(), HasSubstr("\r\nERROR: it broke\r\n at "
                                                   "Vorn.Zephra.Net.Devices.Camera.IR."
                                                   "(anonymous namespace).FailingHelper() "));
        }
        ASSERT_NE(error.InnerException(), nullptr);
        EXPECT_STREQ(error.InnerException()->TypeName(), "System.IO.IOException");
        EXPECT_EQ(error.InnerException()->Message(), "disk gone");
    }
}

TEST(Fail, WithoutInnerCarriesNone) {
    try {
        DeviceTrace::Fail("", "plain", "f.cpp", 1);
        FAIL() << "Fail returned";
    } catch (const System::ApplicationException& error) {
        EXPECT_THAT(error.Message(), HasSubstr("\tf.cpp(1)\r\nplain\r\n at "));
        EXPECT_EQ(error.InnerException(), nullptr);
    }
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
