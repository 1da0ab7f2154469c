#pragma once
// Marshals a callable into a plain native entry point without parameters, as the runtime does
// for a delegate handed to native code: each live NativeCallback owns one trampoline of a
// fixed pool, and the trampoline calls the callable.
#include <functional>

namespace System::Runtime::InteropServices {

using NativeEntryPoint = void (*)();

class NativeCallback {
  public:
    static constexpr int kCapacity = 256;

    // Throws System::InvalidOperationException when all trampolines are in use.
    explicit NativeCallback(std::function<void()> target);
    ~NativeCallback();
    NativeCallback(const NativeCallback&) = delete;
    NativeCallback& operator=(const NativeCallback&) = delete;

    NativeEntryPoint EntryPoint() const { return entry_; }

    static int InUse();  // trampolines currently handed out

  private:
    int slot_;
    NativeEntryPoint entry_;
};

}  // namespace System::Runtime::InteropServices
