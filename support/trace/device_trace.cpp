#include "support/trace/device_trace.h"

#include <chrono>

#include "support/trace/current_stack.h"
#include "support/trace/trace_time_stamp.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using System::Diagnostics::BooleanSwitch;
using System::Diagnostics::TraceSwitch;

struct Switches {
    TraceSwitch trace{"Vorn.CaptureDevice", "Logging from Vorn.CaptureDevice.dll"};
    BooleanSwitch lifetime{"CD_Vorn.CaptureDevice",
                           "Constructor/Destructor logging from Vorn.CaptureDevice.dll"};
    BooleanSwitch stackTrace{
        "Vorn.Zephra.Diagnostics.Log.StackTraceOn",
        "Switch controlling if a stacktrace shall me included on all methods."};
};

const Switches& TheSwitches() {
    static const Switches switches;
    return switches;
}

std::string_view AfterLastBackslash(std::string_view path) {
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FormatTraceFrom(const void* entryReturnAddress, int entryFrames, bool forceStack,
                            std::string_view prefix, std::string_view message,
                            std::string_view file, int line, int skipFrames) {
    std::string text = DeviceTrace::FormatMessage(prefix, message, file, line);
    if (forceStack || TheSwitches().stackTrace.Enabled()) {
        text += CurrentStackFrom(entryReturnAddress, entryFrames, skipFrames);
    }
    return text;
}

}  // namespace

const TraceSwitch& DeviceTrace::traceSwitch() {
    return TheSwitches().trace;
}
const BooleanSwitch& DeviceTrace::lifetimeSwitch() {
    return TheSwitches().lifetime;
}
const BooleanSwitch& DeviceTrace::stackTraceSwitch() {
    return TheSwitches().stackTrace;
}

std::string DeviceTrace::FormatMessage(std::string_view prefix, std::string_view message,
                                       std::string_view file, int line) {
    TheSwitches();
    std::string text = "\r\n";
    text += FormatTraceTimeStamp(std::chrono::system_clock::now());
    text += '\t';
    text += AfterLastBackslash(file);
    text += '(';
    text += std::to_string(line);
    text += ")\r\n";
    text += prefix;
    text += message;
    text += "\r\n";
    return text;
}

// Frames as CurrentStack counts them: CurrentStack(int), FormatTrace(6 arguments)[, overload].
std::string DeviceTrace::FormatTrace(bool forceStack, std::string_view prefix,
                                     std::string_view message, std::string_view file, int line,
                                     int skipFrames) {
    return FormatTraceFrom(__builtin_return_address(0), 2, forceStack, prefix, message, file, line,
                           skipFrames);
}

std::string DeviceTrace::FormatTrace(bool forceStack, std::string_view prefix,
                                     std::string_view message, std::string_view file, int line) {
    return FormatTraceFrom(__builtin_return_address(0), 3, forceStack, prefix, message, file, line,
                           3);
}

// Frames: CurrentStack(int), FormatTrace, Fail; skipping 3 starts at Fail's caller.
void DeviceTrace::Fail(std::string_view prefix, std::string_view message,
                       const System::Exception& inner, std::string_view file, int line) {
    throw System::ApplicationException(
        FormatTraceFrom(__builtin_return_address(0), 3, true, prefix, message, file, line, 3),
        inner);
}

void DeviceTrace::Fail(std::string_view prefix, std::string_view message, std::string_view file,
                       int line) {
    throw System::ApplicationException(
        FormatTraceFrom(__builtin_return_address(0), 3, true, prefix, message, file, line, 3));
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
