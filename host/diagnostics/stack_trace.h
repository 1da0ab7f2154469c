#pragma once
// A captured call stack, innermost frame first, as the runtime describes it: per frame the
// method (declaring type, name, parameters), the source file and the line, each possibly
// absent. Native captures cannot know parameter names; they stay empty.
#include <optional>
#include <string>
#include <vector>

namespace System::Diagnostics {

struct ParameterInfo {
    std::string ParameterType;
    std::string Name;
};

struct TypeInfo {
    std::string Namespace;  // empty: the type has no namespace
    std::string Name;
};

struct MethodInfo {
    std::optional<TypeInfo> DeclaringType;
    std::string Name;
    std::vector<ParameterInfo> Parameters;
};

struct StackFrame {
    std::optional<MethodInfo> Method;
    std::string FileName;  // empty: unknown
    int LineNumber = 0;    // 0: unknown
};

struct StackTrace {
    std::vector<StackFrame> Frames;

    // The calling thread's stack from the caller of Capture outwards, after skipping
    // `skipFrames` frames.
    static StackTrace Capture(int skipFrames = 0);
    // The stack from the frame that `returnAddress` returns into (a caller further out,
    // whose callee took __builtin_return_address(0)), after skipping `skipFrames` frames. A
    // negative count also keeps up to that many frames inside that frame. Frames outside
    // main and the thread start-up frames without any symbol are left out.
    static StackTrace CaptureFrom(const void* returnAddress, int skipFrames);
    // Whether captures carry source files and lines (debug information is read).
    static bool HasSourceInformation();
};

}  // namespace System::Diagnostics
