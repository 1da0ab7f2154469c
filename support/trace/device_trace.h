#pragma once
// The device's trace formatting: time-stamped messages with the caller's source location
// and, on demand, a call stack. It only formats; whether to trace and where the text goes
// is the caller's business.
#include <string>
#include <string_view>

#include "host/diagnostics/boolean_switch.h"
#include "host/diagnostics/stack_trace.h"
#include "host/diagnostics/trace_switch.h"
#include "host/system/exceptions.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class DeviceTrace {
  public:
    DeviceTrace() = delete;

    // The process-wide switches, all three created together on first use of the class.
    static const System::Diagnostics::TraceSwitch& traceSwitch();
    static const System::Diagnostics::BooleanSwitch& lifetimeSwitch();
    static const System::Diagnostics::BooleanSwitch& stackTraceSwitch();

    static std::string FormatMessage(std::string_view prefix, std::string_view message,
                                     std::string_view file, int line);

    // FormatMessage, followed by the current stack when forced or when stackTraceSwitch is
    // on. Frames are counted from CurrentStack's own frame, as if this called it: 3 skips
    // CurrentStack, FormatTrace and the overload, so the stack starts at the caller.
    static std::string FormatTrace(bool forceStack, std::string_view prefix,
                                   std::string_view message, std::string_view file, int line,
                                   int skipFrames);
    static std::string FormatTrace(bool forceStack, std::string_view prefix,
                                   std::string_view message, std::string_view file, int line);

    static std::string FormatStack(const System::Diagnostics::StackTrace& stack);

    // The current stack, skipping `skipFrames` frames counted from CurrentStack's own frame;
    // the overload skips 2 (itself and CurrentStack(int)), so the stack starts at the caller.
    static std::string CurrentStack(int skipFrames);
    static std::string CurrentStack();

    // Throw System::ApplicationException with FormatTrace(true, ..., 3) as message, so the
    // stack in it starts at Fail's caller.
    [[noreturn]] static void Fail(std::string_view prefix, std::string_view message,
                                  const System::Exception& inner, std::string_view file, int line);
    [[noreturn]] static void Fail(std::string_view prefix, std::string_view message,
                                  std::string_view file, int line);
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
