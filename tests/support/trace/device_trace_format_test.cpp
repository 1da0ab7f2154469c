// Formatting of messages and of given stacks: no clock or capture involved in the stacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string_view>

#include "support/trace/device_trace.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using System::Diagnostics::MethodInfo;
using System::Diagnostics::StackFrame;
using System::Diagnostics::StackTrace;
using System::Diagnostics::TypeInfo;

StackFrame Frame(std::optional<TypeInfo> type, std::string method,
                 std::vector<System::Diagnostics::ParameterInfo> parameters, std::string file,
                 int line) {
    return {MethodInfo{std::move(type), std::move(method), std::move(parameters)}, std::move(file),
            line};
}

// The time stamp varies; everything else of the layout is fixed. '9' stands for any digit.
std::string WithoutTimeStamp(const std::string& text) {
    constexpr std::string_view kStamp = "\r\n99/99/99 99:99:99.9999999\t";
    bool matches = text.size() >= kStamp.size();
    for (std::size_t i = 0; matches && i < kStamp.size(); ++i) {
        matches = kStamp[i] == '9' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                                   : kStamp[i] == text[i];
    }
    EXPECT_TRUE(matches) << text;
    return matches ? "<stamp>\t" + text.substr(kStamp.size()) : text;
}

TEST(FormatMessage, LaysOutStampLocationPrefixAndMessage) {
    EXPECT_EQ(WithoutTimeStamp(DeviceTrace::FormatMessage("VERBOSE: ", "Hello", "device.cpp", 42)),
              "<stamp>\tdevice.cpp(42)\r\nVERBOSE: Hello\r\n");
}

TEST(FormatMessage, FileKeepsOnlyThePartAfterTheLastBackslash) {
    EXPECT_EQ(WithoutTimeStamp(DeviceTrace::FormatMessage("", "m", R"(C:\src\dir\capture.cpp)", 7)),
              "<stamp>\tcapture.cpp(7)\r\nm\r\n");
    EXPECT_EQ(WithoutTimeStamp(DeviceTrace::FormatMessage("", "m", R"(trailing\)", 7)),
              "<stamp>\t(7)\r\nm\r\n");
    // Forward slashes are not separators: the caller decides what it passes.
    EXPECT_EQ(WithoutTimeStamp(DeviceTrace::FormatMessage("", "m", "src/a.cpp", -1)),
              "<stamp>\tsrc/a.cpp(-1)\r\nm\r\n");
}

TEST(FormatStack, WritesEachFrameWithTypeParametersFileAndLine) {
    StackTrace stack;
    stack.Frames.push_back(Frame(TypeInfo{"Vorn.Zephra", "CaptureDevice"}, "Dispose",
                                 {{"Boolean", "disposing"}, {"Int32", "count"}},
                                 R"(D:\build\capture_device.cpp)", 120));
    stack.Frames.push_back(Frame(TypeInfo{"", "Program"}, "Main", {}, "program.cpp", 9));
    EXPECT_EQ(DeviceTrace::FormatStack(stack),
              " at Vorn.Zephra.CaptureDevice.Dispose(Boolean disposing, Int32 count) "
              "capture_device.cpp(120)\r\n"
              " at Program.Main() program.cpp(9)\r\n"
              " ");
}

TEST(FormatStack, UnknownFileAndLineAreLeftOut) {
    StackTrace stack;
    stack.Frames.push_back(Frame(TypeInfo{"N", "T"}, "M", {}, "", 0));
    stack.Frames.push_back(Frame(TypeInfo{"N", "T"}, "M", {}, R"(x\y.cpp)", 0));
    stack.Frames.push_back(Frame(TypeInfo{"N", "T"}, "M", {}, "", 5));
    EXPECT_EQ(DeviceTrace::FormatStack(stack),
              " at N.T.M() \r\n at N.T.M() y.cpp\r\n at N.T.M() (5)\r\n ");
}

TEST(FormatStack, NativeParametersWithoutNamesKeepTheBlank) {
    StackTrace stack;
    stack.Frames.push_back(
        Frame(TypeInfo{"", "T"}, "M", {{"int", ""}, {"char const*", ""}}, "", 0));
    EXPECT_EQ(DeviceTrace::FormatStack(stack), " at T.M(int , char const* ) \r\n ");
}

TEST(FormatStack, NoFramesGiveASingleBlank) {
    EXPECT_EQ(DeviceTrace::FormatStack(StackTrace{}), " ");
}

TEST(FormatStack, AnyFrameWithoutMethodVoidsTheWholeText) {
    StackTrace stack;
    stack.Frames.push_back(Frame(TypeInfo{"N", "T"}, "M", {}, "a.cpp", 1));
    stack.Frames.push_back(StackFrame{std::nullopt, "b.cpp", 2});
    stack.Frames.push_back(Frame(TypeInfo{"N", "T"}, "M", {}, "c.cpp", 3));
    EXPECT_EQ(DeviceTrace::FormatStack(stack), "");
}

TEST(FormatStack, MethodWithoutTypeIsPrintedUnlessDecorated) {
    const auto format = [](std::string name) {
        StackTrace stack;
        stack.Frames.push_back(Frame(std::nullopt, std::move(name), {}, "f.cpp", 3));
        return DeviceTrace::FormatStack(stack);
    };
    EXPECT_EQ(format("Plain"), " at Plain() f.cpp(3)\r\n ");
    EXPECT_EQ(format("_ZN4Vorn6Zephra11DeviceTrace12CurrentStackEi"),
              " at CurrentStack() f.cpp(3)\r\n ");
    // Decorated in a scheme this platform cannot read, or not decorated properly: no name.
    EXPECT_EQ(format("?Helper@@YAXPBD@Z"), " at () f.cpp(3)\r\n ");
    EXPECT_EQ(format("_Z!!"), " at () f.cpp(3)\r\n ");
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
