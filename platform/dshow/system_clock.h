#pragma once
// The system reference clock (CLSID_SystemClock), which a filter graph takes when nothing in it
// offers a clock: monotonic time in 100 ns units, and a thread of its own, started at the first
// advice, that signals each advised event when its time is due.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"

namespace zrf::dshow {

class SystemClock final : public com::ComObject<IReferenceClock> {
  public:
    SystemClock() = default;
    ~SystemClock() override;

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    struct Advice {
        REFERENCE_TIME due;
        HEVENT event;
    };
    void SignalDue();

    std::mutex mutex_;
    std::condition_variable changed_;
    REFERENCE_TIME last_ = 0;
    std::map<DWORD_PTR, Advice> advice_;
    DWORD_PTR next_cookie_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace zrf::dshow
