#include "support/trace/current_stack.h"
#include "support/trace/device_trace.h"

#include "host/diagnostics/native_method_name.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using System::Diagnostics::MethodInfo;
using System::Diagnostics::StackFrame;

std::string_view AfterLastBackslash(std::string_view path) {
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void AppendMethodName(const MethodInfo& method, std::string& out) {
    if (method.DeclaringType) {
        if (!method.DeclaringType->Namespace.empty()) {
            out += method.DeclaringType->Namespace;
            out += '.';
        }
        out += method.DeclaringType->Name;
        out += '.';
        out += method.Name;
    } else if (method.Name.starts_with('?') || method.Name.starts_with("_Z")) {
        // A decorated native name: its bare function name, or nothing when it cannot be read.
        out += System::Diagnostics::UndecorateFunctionName(method.Name).value_or(std::string{});
    } else {
        out += method.Name;
    }
}

void AppendFrame(const StackFrame& frame, std::string& out) {
    out += " at ";
    AppendMethodName(*frame.Method, out);
    out += '(';
    bool first = true;
    for (const auto& parameter : frame.Method->Parameters) {
        if (!first) out += ", ";
        first = false;
        out += parameter.ParameterType;
        out += ' ';
        out += parameter.Name;
    }
    out += ") ";
    if (!frame.FileName.empty()) out += AfterLastBackslash(frame.FileName);
    if (frame.LineNumber > 0) {
        out += '(';
        out += std::to_string(frame.LineNumber);
        out += ')';
    }
    out += "\r\n";
}

}  // namespace

std::string DeviceTrace::FormatStack(const System::Diagnostics::StackTrace& stack) {
    std::string out;
    out.reserve(512);
    for (const auto& frame : stack.Frames) {
        if (!frame.Method) return {};
        AppendFrame(frame, out);
    }
    out += ' ';
    return out;
}

std::string CurrentStackFrom(const void* entryReturnAddress, int entryFrames, int skipFrames) {
    return DeviceTrace::FormatStack(
        System::Diagnostics::StackTrace::CaptureFrom(entryReturnAddress, skipFrames - entryFrames));
}

std::string DeviceTrace::CurrentStack(int skipFrames) {
    return CurrentStackFrom(__builtin_return_address(0), 1, skipFrames);
}

std::string DeviceTrace::CurrentStack() {
    return CurrentStackFrom(__builtin_return_address(0), 2, 2);
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
