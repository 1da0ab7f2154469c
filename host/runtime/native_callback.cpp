#include "host/runtime/native_callback.h"

#include <array>
#include <mutex>
#include <utility>

#include "host/system/exceptions.h"

namespace System::Runtime::InteropServices {
namespace {

using Capacity = std::integral_constant<int, NativeCallback::kCapacity>;

// A slot's target is written only while no entry point of that slot is handed out, so the
// trampolines read it without a lock.
std::array<std::function<void()>, Capacity::value> g_targets;
std::array<bool, Capacity::value> g_used{};
std::mutex g_mutex;

template <int N>
void Trampoline() {
    g_targets[N]();
}

template <int... I>
constexpr std::array<NativeEntryPoint, sizeof...(I)> MakeTable(std::integer_sequence<int, I...>) {
    return {&Trampoline<I>...};
}

constexpr auto kTrampolines = MakeTable(std::make_integer_sequence<int, Capacity::value>());

}  // namespace

NativeCallback::NativeCallback(std::function<void()> target) : slot_(-1), entry_(nullptr) {
    std::lock_guard lock(g_mutex);
    for (int i = 0; i < kCapacity; ++i) {
        if (g_used[i]) continue;
        g_used[i] = true;
        g_targets[i] = std::move(target);
        slot_ = i;
        entry_ = kTrampolines[i];
        return;
    }
    throw InvalidOperationException("No native callback entry point is free.");
}

NativeCallback::~NativeCallback() {
    std::lock_guard lock(g_mutex);
    g_targets[slot_] = nullptr;
    g_used[slot_] = false;
}

int NativeCallback::InUse() {
    std::lock_guard lock(g_mutex);
    int n = 0;
    for (bool used : g_used) n += used;
    return n;
}

}  // namespace System::Runtime::InteropServices
