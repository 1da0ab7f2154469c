#include "platform/dshow/system_clock.h"

#include <algorithm>
#include <chrono>

namespace zrf::dshow {
namespace {

using Clock = std::chrono::steady_clock;

REFERENCE_TIME Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
               .count() /
           100;
}

}  // namespace

SystemClock::~SystemClock() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void* SystemClock::FindInterface(REFIID riid) {
    return riid == IID_IReferenceClock ? static_cast<IReferenceClock*>(this) : nullptr;
}

// S_FALSE when the time has not moved since the last call.
HRESULT SystemClock::GetTime(REFERENCE_TIME* pTime) {
    if (pTime == nullptr) return E_POINTER;
    const REFERENCE_TIME now = Now();
    std::lock_guard lock(mutex_);
    const HRESULT hr = now == last_ ? S_FALSE : S_OK;
    *pTime = last_ = now;
    return hr;
}

HRESULT SystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                DWORD_PTR* pdwAdviseCookie) {
    if (hEvent == 0) return E_INVALIDARG;
    if (baseTime + streamTime <= 0) return E_INVALIDARG;
    if (pdwAdviseCookie == nullptr) return E_POINTER;
    {
        std::lock_guard lock(mutex_);
        *pdwAdviseCookie = next_cookie_++;
        advice_[*pdwAdviseCookie] = {baseTime + streamTime, hEvent};
        if (!thread_.joinable()) thread_ = std::thread([this] { SignalDue(); });
    }
    changed_.notify_all();
    return S_OK;
}

HRESULT SystemClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    std::lock_guard lock(mutex_);
    return advice_.erase(dwAdviseCookie) == 1 ? S_OK : S_FALSE;
}

// The advice thread. Events are signalled under the lock, so once Unadvise returns its event is
// not touched again.
void SystemClock::SignalDue() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const REFERENCE_TIME now = Now();
        REFERENCE_TIME next = 0;
        for (auto it = advice_.begin(); it != advice_.end();) {
            if (it->second.due <= now) {
                SetEvent(reinterpret_cast<HANDLE>(it->second.event));
                it = advice_.erase(it);
            } else {
                next = next == 0 ? it->second.due : std::min(next, it->second.due);
                ++it;
            }
        }
        if (next == 0) {
            changed_.wait(lock);
        } else {
            changed_.wait_for(lock, std::chrono::nanoseconds((next - now) * 100));
        }
    }
}

}  // namespace zrf::dshow
