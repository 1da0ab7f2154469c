// The trace switches and the texts: messages, stacks and time stamps.
#include "support/trace/device_trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "host/config/switch_configuration.h"
#include "support/trace/trace_time_stamp.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using System::Configuration::ScopedSwitchOverride;
using System::Diagnostics::MethodInfo;
using System::Diagnostics::StackFrame;
using System::Diagnostics::StackTrace;
using System::Diagnostics::TypeInfo;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kStackSwitch = "Vorn.Zephra.Diagnostics.Log.StackTraceOn";

// The time stamp varies; everything else of the layout is fixed.
std::string WithoutTimeStamp(const std::string& text) {
    static const std::regex kStamp(R"(\r\n\d\d/\d\d/\d\d \d\d:\d\d:\d\d\.\d{7}\t)");
    std::smatch stamp;
    const bool matches =
        std::regex_search(text, stamp, kStamp, std::regex_constants::match_continuous);
    EXPECT_TRUE(matches) << text;
    return matches ? stamp.suffix().str() : text;
}

volatile int sideEffect = 0;

// A frame of its own (not inlined, no tail call) that returns the text it got: 0 the current
// stack, 1 the stack from CurrentStack itself, 2 a trace, 3 a failure's message.
[[gnu::noinline]] std::string Helper(int kind) {
    std::string text;
    try {
        if (kind == 0) text = DeviceTrace::CurrentStack();
        if (kind == 1) text = DeviceTrace::CurrentStack(0);
        if (kind == 2) text = DeviceTrace::FormatTrace(false, "", "m", "f.cpp", 1);
        if (kind == 3) DeviceTrace::Fail("", "m", "f.cpp", 1);
    } catch (const System::ApplicationException& error) {
        text = error.Message();
    }
    sideEffect = sideEffect + 1;
    return text;
}

TEST(DeviceTraceSwitches, HaveTheirNamesAndDescriptions) {
    const std::tuple<const System::Diagnostics::Switch&, const char*, const char*> switches[] = {
        {DeviceTrace::traceSwitch(), "Vorn.CaptureDevice", "Logging from Vorn.CaptureDevice.dll"},
        {DeviceTrace::lifetimeSwitch(), "CD_Vorn.CaptureDevice",
         "Constructor/Destructor logging from Vorn.CaptureDevice.dll"},
        {DeviceTrace::stackTraceSwitch(), kStackSwitch,
         "Switch controlling if a stacktrace shall me included on all methods."}};
    for (const auto& [s, name, description] : switches) {
        EXPECT_EQ(s.DisplayName(), name);
        EXPECT_EQ(s.Description(), description);
    }
    ScopedSwitchOverride on("CD_Vorn.CaptureDevice", "on");
    EXPECT_TRUE(DeviceTrace::lifetimeSwitch().Enabled());
    EXPECT_FALSE(DeviceTrace::stackTraceSwitch().Enabled());
}

TEST(FormatMessage, StampFileAfterTheLastBackslashLinePrefixAndMessage) {
    // Forward slashes are not separators.
    for (const auto& [prefix, file, line, expected] :
         {std::tuple{"VERBOSE: ", "device.cpp", 42, "device.cpp(42)\r\nVERBOSE: m\r\n"},
          {"", R"(C:\src\dir\capture.cpp)", 7, "capture.cpp(7)\r\nm\r\n"},
          {"", R"(trailing\)", 7, "(7)\r\nm\r\n"},
          {"", "src/a.cpp", -1, "src/a.cpp(-1)\r\nm\r\n"}})
        EXPECT_EQ(WithoutTimeStamp(DeviceTrace::FormatMessage(prefix, "m", file, line)), expected);
}

StackFrame Frame(std::optional<TypeInfo> type, std::string method, std::string file, int line,
                 std::vector<System::Diagnostics::ParameterInfo> parameters = {}) {
    return {MethodInfo{std::move(type), std::move(method), std::move(parameters)}, std::move(file),
            line};
}

TEST(FormatStack, WritesEachFrameAsTheLayoutSays) {
    const TypeInfo nt{"N", "T"};
    const std::pair<std::vector<StackFrame>, const char*> cases[] = {
        {{Frame(TypeInfo{"Vorn.Zephra", "CaptureDevice"}, "Dispose",
                R"(D:\build\capture_device.cpp)", 120,
                {{"Boolean", "disposing"}, {"Int32", "count"}}),
          Frame(TypeInfo{"", "Program"}, "Main", "program.cpp", 9)},
         " at Vorn.Zephra.CaptureDevice.Dispose(Boolean disposing, Int32 count) "
         "capture_device.cpp(120)\r\n at Program.Main() program.cpp(9)\r\n "},
        // Unknown file and line are left out.
        {{Frame(nt, "M", "", 0), Frame(nt, "M", R"(x\y.cpp)", 0), Frame(nt, "M", "", 5)},
         " at N.T.M() \r\n at N.T.M() y.cpp\r\n at N.T.M() (5)\r\n "},
        // Native parameters have no names.
        {{Frame(TypeInfo{"", "T"}, "M", "", 0, {{"int", ""}, {"char const*", ""}})},
         " at T.M(int , char const* ) \r\n "},
        {{}, " "},
        // Any frame without a method voids the whole text.
        {{Frame(nt, "M", "a.cpp", 1), StackFrame{std::nullopt, "b.cpp", 2}}, ""},
        // A method without a type: a decorated name is reduced to its bare name, or to nothing.
        {{Frame(std::nullopt, "Plain", "f.cpp", 3),
          Frame(std::nullopt, "_ZN4Vorn6Zephra11DeviceTrace12CurrentStackEi", "f.cpp", 3),
          Frame(std::nullopt, "?Helper@@YAXPBD@Z", "f.cpp", 3),
          Frame(std::nullopt, "_Z!!", "f.cpp", 3)},
         " at Plain() f.cpp(3)\r\n at CurrentStack() f.cpp(3)\r\n at () f.cpp(3)\r\n"
         " at () f.cpp(3)\r\n "},
    };
    for (const auto& [frames, expected] : cases)
        EXPECT_EQ(DeviceTrace::FormatStack(StackTrace{frames}), expected);
}

TEST(FormatTrace, StackOnlyWhenForcedOrSwitchedOn) {
    ScopedSwitchOverride off(kStackSwitch, "0");
    const auto text = DeviceTrace::FormatTrace(false, "INFO: ", "traced", "helper.cpp", 11);
    EXPECT_THAT(text, EndsWith("\thelper.cpp(11)\r\nINFO: traced\r\n"));
    EXPECT_THAT(text, Not(HasSubstr(" at ")));
    EXPECT_THAT(DeviceTrace::FormatTrace(true, "INFO: ", "traced", "helper.cpp", 11),
                HasSubstr("\r\nINFO: traced\r\n at "));
}

TEST(DeviceTraceStacks, StartAtTheCaller) {
    if (!StackTrace::HasSourceInformation()) GTEST_SKIP() << "built without libbacktrace";
    ScopedSwitchOverride on(kStackSwitch, "1");
    for (int kind : {0, 2, 3}) {
        const std::string text = Helper(kind);
        const std::string stack = text.substr(std::min(text.find(" at "), text.size()));
        EXPECT_THAT(stack, StartsWith(" at Vorn.Zephra.Net.Devices.Camera.IR.(anonymous "
                                      "namespace).Helper(int ) "))
            << kind;
        EXPECT_THAT(stack, HasSubstr(" at Vorn.Zephra.Net.Devices.Camera.IR.(anonymous namespace)."
                                     "DeviceTraceStacks_StartAtTheCaller_Test.TestBody() "));
        EXPECT_THAT(stack, EndsWith("\r\n "));
    }
    EXPECT_THAT(Helper(1), StartsWith(" at Vorn.Zephra.Net.Devices.Camera.IR.DeviceTrace."
                                      "CurrentStack(int ) "));
}

TEST(Fail, ThrowsApplicationExceptionWithTheTraceAndTheInnerError) {
    try {
        DeviceTrace::Fail("ERROR: ", "it broke", System::IOException("disk gone"), R"(c:\x\y.cpp)",
                          5);
    } catch (const System::ApplicationException& error) {
        EXPECT_STREQ(error.TypeName(), "System.ApplicationException");
        EXPECT_THAT(error.Message(), HasSubstr("\ty.cpp(5)\r\nERROR: it broke\r\n at "));
        ASSERT_NE(error.InnerException(), nullptr);
        EXPECT_EQ(std::string(error.InnerException()->TypeName()) + ": " +
                      error.InnerException()->Message(),
                  "System.IO.IOException: disk gone");
    }
    EXPECT_THAT(Helper(3), HasSubstr("\tf.cpp(1)\r\nm\r\n at "));
}

// In UTC, so the expected texts hold on any machine.
TEST(TraceTimeStamp, ShortDateAndTimeWithSevenFractionDigits) {
    using namespace std::chrono;
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved ? saved : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::pair<system_clock::time_point, const char*> cases[] = {
        {sys_days{2026y / December / 6} + 13h + 5min + 4s + 123456789ns,
         "12/06/26 13:05:04.1234567"},
        {sys_days{2001y / January / 2} + 3h + 4s, "01/02/01 03:00:04.0000000"},
        // Before 1970 the fraction stays positive.
        {sys_days{1970y / January / 1} - 250ms, "12/31/69 23:59:59.7500000"},
    };
    for (const auto& [when, expected] : cases) EXPECT_EQ(FormatTraceTimeStamp(when), expected);
    saved ? ::setenv("TZ", savedTz.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
