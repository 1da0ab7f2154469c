#include "host/diagnostics/stack_trace.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "host/diagnostics/native_method_name.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <dbghelp.h>
#elif defined(ZRF_BACKTRACE_HEADER)
#include ZRF_BACKTRACE_HEADER
#else
#include <dlfcn.h>
#include <execinfo.h>
#endif

namespace System::Diagnostics {
namespace {

// Deeper stacks are cut; a runaway recursion must not make tracing run away too.
constexpr int kMaxFrames = 256;

using Pcs = std::vector<std::uintptr_t>;

StackFrame FrameFor(const char* function, const char* file, int line) {
    StackFrame frame;
    if (function && *function) frame.Method = MethodFromNativeName(DemangleSymbol(function));
    if (file) frame.FileName = file;
    frame.LineNumber = std::max(line, 0);
    return frame;
}

// Where the program's own frames end: main (kept) and the C library's thread entry
// (dropped with everything outside it).
enum class Boundary { None, Main, ThreadStart };

Boundary BoundaryOf(const char* function) {
    if (!function) return Boundary::None;
    const std::string_view name(function);
    if (name == "main") return Boundary::Main;
    if (name == "start_thread" || name == "clone" || name == "clone3" || name == "__clone" ||
        name == "__clone3" || name == "__tsan_thread_start_func" || name == "asan_thread_start" ||
        // Windows: the threads library's and the system's thread entries.
        name == "pthread_create_wrapper" || name == "BaseThreadInitThunk" ||
        name == "RtlUserThreadStart") {
        return Boundary::ThreadStart;
    }
    return Boundary::None;
}

struct ExpandedFrame {
    StackFrame frame;
    Boundary boundary = Boundary::None;
};

#ifdef _WIN32  // what the platform offers: its own unwinder and DbgHelp's symbols and lines

HANDLE SymbolProcess() {
    static const HANDLE process = [] {
        const HANDLE self = GetCurrentProcess();
        SymSetOptions(SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS);
        SymInitialize(self, nullptr, TRUE);
        return self;
    }();
    return process;
}

[[gnu::noinline]] Pcs CollectPcs(std::uintptr_t& callerReturn) {
    callerReturn = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    // Libraries loaded since the last capture (a plug-in) get their symbols too.
    SymRefreshModuleList(SymbolProcess());
    // The platform captures nothing when asked for 63 frames or more at once (older Windows).
    constexpr ULONG kPlatformMaxFrames = 62;
    void* addresses[kPlatformMaxFrames];
    const USHORT count = RtlCaptureStackBackTrace(0, kPlatformMaxFrames, addresses, nullptr);
    Pcs pcs;
    for (USHORT i = 0; i < count; ++i)
        pcs.push_back(reinterpret_cast<std::uintptr_t>(addresses[i]) - 1);  // inside the call
    return pcs;
}

// DbgHelp reads the platform compiler's decorated names ("?...") itself; this compiler's
// names ("_Z...") are read by FrameFor.
std::string Readable(const char* symbol) {
    char undecorated[1024];
    if (symbol[0] == '?' &&
        UnDecorateSymbolName(symbol, undecorated, sizeof undecorated, UNDNAME_COMPLETE) > 0) {
        return undecorated;
    }
    return symbol;
}

void Expand(std::uintptr_t pc, std::vector<ExpandedFrame>& out) {
    alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + 1024];
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = 1024;
    DWORD64 displacement = 0;
    const bool named = SymFromAddr(SymbolProcess(), pc, &displacement, symbol) && symbol->Name[0];
    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD lineDisplacement = 0;
    const bool lined = SymGetLineFromAddr64(SymbolProcess(), pc, &lineDisplacement, &line);
    const std::string name = named ? Readable(symbol->Name) : std::string();
    out.push_back({FrameFor(named ? name.c_str() : nullptr, lined ? line.FileName : nullptr,
                            lined ? static_cast<int>(line.LineNumber) : 0),
                   BoundaryOf(named ? symbol->Name : nullptr)});
}

constexpr bool kHasSourceInformation = true;

#elif defined(ZRF_BACKTRACE_HEADER)

void IgnoreError(void*, const char*, int) {}

backtrace_state* State() {
    // Created once and kept: libbacktrace has no way to free its state. Single-threaded mode,
    // as every capture holds one lock: its lock-free mode is invisible to ThreadSanitizer.
    static backtrace_state* state = backtrace_create_state(nullptr, 0, &IgnoreError, nullptr);
    return state;
}

int CollectPc(void* data, std::uintptr_t pc) {
    auto& pcs = *static_cast<Pcs*>(data);
    pcs.push_back(pc);
    return pcs.size() >= kMaxFrames ? 1 : 0;
}

// Returns its caller's return address too, to find the capturing frame among the pcs.
[[gnu::noinline]] Pcs CollectPcs(std::uintptr_t& callerReturn) {
    callerReturn = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    Pcs pcs;
    pcs.reserve(64);
    if (State()) backtrace_simple(State(), 0, &CollectPc, &IgnoreError, &pcs);
    return pcs;  // libbacktrace reports return addresses less one (inside the call)
}

struct SymbolName {
    const char* name = nullptr;
};

void OnSymbol(void* data, std::uintptr_t, const char* symbol, std::uintptr_t, std::uintptr_t) {
    static_cast<SymbolName*>(data)->name = symbol;
}

int OnSourceLine(void* data, std::uintptr_t pc, const char* file, int line, const char* function) {
    auto& frames = *static_cast<std::vector<ExpandedFrame>*>(data);
    SymbolName symbol{function};
    if (!function) backtrace_syminfo(State(), pc, &OnSymbol, &IgnoreError, &symbol);
    frames.push_back({FrameFor(symbol.name, file, line), BoundaryOf(symbol.name)});
    return 0;
}

// One pc may stand for several frames when calls were inlined; innermost first.
void Expand(std::uintptr_t pc, std::vector<ExpandedFrame>& out) {
    std::vector<ExpandedFrame> frames;
    backtrace_pcinfo(State(), pc, &OnSourceLine, &IgnoreError, &frames);
    if (frames.empty()) frames.push_back({});
    // Debug information names functions with internal linkage (anonymous namespaces) only
    // by their bare name; the symbol table still has the full one for the function itself,
    // the outermost of the inlined levels.
    SymbolName symbol;
    backtrace_syminfo(State(), pc, &OnSymbol, &IgnoreError, &symbol);
    if (symbol.name && std::string_view(symbol.name).starts_with("_Z")) {
        if (auto method = MethodFromNativeName(DemangleSymbol(symbol.name))) {
            frames.back().frame.Method = std::move(method);
        }
    }
    out.insert(out.end(), frames.begin(), frames.end());
}

constexpr bool kHasSourceInformation = true;

#else  // glibc only: symbols of exported functions, no source lines

[[gnu::noinline]] Pcs CollectPcs(std::uintptr_t& callerReturn) {
    callerReturn = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
    void* addresses[kMaxFrames];
    const int count = ::backtrace(addresses, kMaxFrames);
    Pcs pcs;
    for (int i = 0; i < count; ++i)
        pcs.push_back(reinterpret_cast<std::uintptr_t>(addresses[i]) - 1);
    return pcs;
}

void Expand(std::uintptr_t pc, std::vector<ExpandedFrame>& out) {
    Dl_info info{};
    const char* symbol = dladdr(reinterpret_cast<void*>(pc), &info) != 0 ? info.dli_sname : nullptr;
    out.push_back({FrameFor(symbol, nullptr, 0), BoundaryOf(symbol)});
}

constexpr bool kHasSourceInformation = false;

#endif

std::ptrdiff_t IndexOfReturn(const Pcs& pcs, std::uintptr_t returnAddress) {
    const auto it = std::find_if(pcs.begin(), pcs.end(), [returnAddress](std::uintptr_t pc) {
        return pc + 1 == returnAddress || pc == returnAddress;
    });
    return it == pcs.end() ? -1 : it - pcs.begin();
}

// Start-up code outside main or a thread's entry, and the outermost frames without any
// symbol (the runtime's thread trampolines), are not the program's: they are left out so
// they cannot void the whole stack.
void TrimOuterFrames(std::vector<ExpandedFrame>& frames, std::size_t firstOuter) {
    for (std::size_t i = firstOuter; i < frames.size(); ++i) {
        if (frames[i].boundary == Boundary::Main) {
            frames.resize(i + 1);
            break;
        }
        if (frames[i].boundary == Boundary::ThreadStart) {
            frames.resize(i);
            break;
        }
    }
    while (frames.size() > firstOuter && !frames.back().frame.Method) frames.pop_back();
}

}  // namespace

[[gnu::noinline]] StackTrace StackTrace::Capture(int skipFrames) {
    return CaptureFrom(__builtin_return_address(0), skipFrames);
}

[[gnu::noinline]] StackTrace StackTrace::CaptureFrom(const void* returnAddress, int skipFrames) {
    static std::mutex captureMutex;
    std::lock_guard lock(captureMutex);
    std::uintptr_t self = 0;
    const Pcs pcs = CollectPcs(self);
    const auto selfIndex = IndexOfReturn(pcs, self);
    auto anchor = IndexOfReturn(pcs, reinterpret_cast<std::uintptr_t>(returnAddress));
    if (anchor < 0) anchor = selfIndex + 1;  // unknown caller: start right outside this frame

    std::vector<ExpandedFrame> frames;
    for (auto i = selfIndex + 1; i < anchor; ++i) Expand(pcs[i], frames);
    const auto inner = frames.size();
    for (auto i = std::max<std::ptrdiff_t>(anchor, 0); i < std::ssize(pcs); ++i) {
        Expand(pcs[i], frames);
    }
    TrimOuterFrames(frames, inner);

    const auto first = std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(inner) + skipFrames,
                                                  0, std::ssize(frames));
    StackTrace trace;
    for (auto i = first; i < std::ssize(frames); ++i)
        trace.Frames.push_back(std::move(frames[i].frame));
    return trace;
}

bool StackTrace::HasSourceInformation() {
    return kHasSourceInformation;
}

}  // namespace System::Diagnostics
