// What happens on a streaming thread and around it, as the platform does it: the graph's clock
// and the stream start it gives its filters, renderers that hold samples until their time, a
// failed run that leaves the graph running, and the sample grabber's callback swapped without a
// lock and without waiting for a call in progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/dshow/dshow.h"
#include "platform/dshow/media_sample.h"
#include "platform/dshow/renderers.h"
#include "tests/platform/dshow/probe_filters.h"

namespace PlatformTest {
namespace {

using zrf::com::ComPtr;
using zrf::com::MakeCom;

// Guards against a wait that never ends, so a broken platform fails instead of hanging.
constexpr auto kDeadlockGuard = std::chrono::seconds(10);

// Counts its references; each SampleCB says it entered and then waits until it is let go.
class BlockingCallback final : public ISampleGrabberCB {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_ISampleGrabberCB) return E_NOINTERFACE;
        *ppv = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT SampleCB(double, IMediaSample*) override {
        entered.set_value();
        let_go_in_time = let_go.get_future().wait_for(kDeadlockGuard) == std::future_status::ready;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return S_OK; }

    std::atomic<ULONG> refs{1};
    std::promise<void> entered;
    std::promise<void> let_go;
    bool let_go_in_time = false;
};

// SetCallback returns while the callback it replaces is still running, and lets go of it at once.
TEST(SampleGrabberTest, SetCallbackNeitherLocksNorWaitsForACallInProgress) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, filter.ReceiveVoid()));
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(S_OK, filter.As(IID_ISampleGrabber, grabber));
    ComPtr<IPin> input;
    ASSERT_EQ(S_OK, filter->FindPin(L"Input", input.Receive()));
    ComPtr<IMemInputPin> transport;
    ASSERT_EQ(S_OK, input.As(IID_IMemInputPin, transport));

    BlockingCallback callback;
    ASSERT_EQ(S_OK, grabber->SetCallback(&callback, 0));
    EXPECT_EQ(2u, callback.refs.load());
    std::vector<BYTE> buffer(16);
    auto sample = MakeCom<zrf::dshow::MediaSample>(buffer.data(), 16);
    std::thread streaming([&] { transport->Receive(sample.Get()); });
    ASSERT_EQ(std::future_status::ready,
              callback.entered.get_future().wait_for(kDeadlockGuard));
    EXPECT_EQ(S_OK, grabber->SetCallback(nullptr, 0));
    EXPECT_EQ(1u, callback.refs.load());  // released while its call goes on
    callback.let_go.set_value();
    streaming.join();
    EXPECT_TRUE(callback.let_go_in_time);
}

// A clock that moves only when the test says; it tells the test of every advice it is given.
class ManualClock final : public zrf::com::ComObject<IReferenceClock> {
  public:
    explicit ManualClock(REFERENCE_TIME now) : now_(now) {}
    HRESULT GetTime(REFERENCE_TIME* time) override {
        std::lock_guard lock(mutex_);
        *time = now_;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event,
                       DWORD_PTR* cookie) override {
        {
            std::lock_guard lock(mutex_);
            *cookie = ++last_cookie_;
            advice_.push_back({*cookie, base + stream, event});
            ++advised_;
        }
        advised_changed_.notify_all();
        return S_OK;
    }
    HRESULT Unadvise(DWORD_PTR cookie) override {
        std::lock_guard lock(mutex_);
        std::erase_if(advice_, [&](const Advice& a) { return a.cookie == cookie; });
        return S_OK;
    }
    void Set(REFERENCE_TIME now) {
        std::lock_guard lock(mutex_);
        now_ = now;
        for (const Advice& a : advice_) {
            if (a.due <= now_) SetEvent(reinterpret_cast<HANDLE>(a.event));
        }
    }
    // Waits for the given number of advices in all.
    bool WaitForAdvice(int count) {
        std::unique_lock lock(mutex_);
        return advised_changed_.wait_for(lock, kDeadlockGuard, [&] { return advised_ >= count; });
    }
    int Advised() {
        std::lock_guard lock(mutex_);
        return advised_;
    }
    std::size_t Pending() {
        std::lock_guard lock(mutex_);
        return advice_.size();
    }

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_IReferenceClock ? static_cast<IReferenceClock*>(this) : nullptr;
    }

  private:
    struct Advice {
        DWORD_PTR cookie;
        REFERENCE_TIME due;
        HEVENT event;
    };
    std::mutex mutex_;
    std::condition_variable advised_changed_;
    REFERENCE_TIME now_;
    std::vector<Advice> advice_;
    DWORD_PTR last_cookie_ = 0;
    int advised_ = 0;
};

constexpr REFERENCE_TIME kRunStart = 50'000'000;  // the stream's start, in clock time
constexpr REFERENCE_TIME kSecond = 10'000'000;

// A null renderer given the clock, and a sample to send it from a thread of the test.
struct RendererBench {
    RendererBench() {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IBaseFilter, renderer.ReceiveVoid()));
        EXPECT_EQ(S_OK, renderer->SetSyncSource(clock.Get()));
        ComPtr<IPin> pin;
        EXPECT_EQ(S_OK, renderer->FindPin(L"In", pin.Receive()));
        EXPECT_EQ(S_OK, pin.As(IID_IMemInputPin, input));
        sample->SetActualDataLength(16);
    }
    ~RendererBench() { renderer->Stop(); }
    long Rendered() const {
        auto* base = static_cast<zrf::dshow::FilterBase*>(renderer.Get());
        return static_cast<zrf::dshow::RendererFilter*>(base)->SamplesReceived();
    }
    // A sample starting this far into the stream; none for an untimed one.
    void Stamp(std::optional<REFERENCE_TIME> start) {
        if (!start) return sample->SetTime(nullptr, nullptr), void();
        REFERENCE_TIME begin = *start, end = *start + 1;
        sample->SetTime(&begin, &end);
    }
    std::future<HRESULT> Send() {
        return std::async(std::launch::async, [this] { return input->Receive(sample.Get()); });
    }
    HRESULT SendNow() { return input->Receive(sample.Get()); }

    ComPtr<ManualClock> clock = MakeCom<ManualClock>(kRunStart);
    ComPtr<IBaseFilter> renderer;
    ComPtr<IMemInputPin> input;
    std::vector<BYTE> buffer = std::vector<BYTE>(16);
    ComPtr<zrf::dshow::MediaSample> sample = MakeCom<zrf::dshow::MediaSample>(buffer.data(), 16);
};

bool Returns(std::future<HRESULT>& pending) {
    return pending.wait_for(kDeadlockGuard) == std::future_status::ready;
}

// Held until the clock reaches the stream start plus the sample's start; a stop drops it.
TEST(RendererTest, ATimedSampleIsHeldUntilItsTimeAndAStopDropsIt) {
    RendererBench bench;
    ASSERT_EQ(S_OK, bench.renderer->Run(kRunStart));
    bench.Stamp(kSecond);
    auto pending = bench.Send();
    ASSERT_TRUE(bench.clock->WaitForAdvice(1));
    EXPECT_EQ(0, bench.Rendered());
    bench.clock->Set(kRunStart + kSecond - 1);
    EXPECT_EQ(std::future_status::timeout, pending.wait_for(std::chrono::milliseconds(0)));
    bench.clock->Set(kRunStart + kSecond);
    ASSERT_TRUE(Returns(pending));
    EXPECT_EQ(S_OK, pending.get());
    EXPECT_EQ(1, bench.Rendered());

    bench.Stamp(2 * kSecond);
    pending = bench.Send();
    ASSERT_TRUE(bench.clock->WaitForAdvice(2));
    EXPECT_EQ(S_OK, bench.renderer->Stop());
    ASSERT_TRUE(Returns(pending));
    EXPECT_EQ(S_OK, pending.get());
    EXPECT_EQ(1, bench.Rendered());
    EXPECT_EQ(0u, bench.clock->Pending());  // the advice is taken back
}

struct AtOnceRow {
    const char* what;
    std::optional<REFERENCE_TIME> start;  // none: no times
    bool clock;
};

// Nothing to wait for: no times, times the clock has passed or reaches within 1 ms, or no clock.
TEST(RendererTest, SamplesWithoutTimesOrDueAreRenderedAtOnce) {
    const AtOnceRow rows[] = {
        {"no times", std::nullopt, true},
        {"passed", -kSecond, true},
        {"due now", 0, true},
        {"less than 1 ms ahead", 9'999, true},
        {"ahead, no clock", 10 * kSecond, false},
    };
    for (const AtOnceRow& row : rows) {
        SCOPED_TRACE(row.what);
        RendererBench bench;
        if (!row.clock) bench.renderer->SetSyncSource(nullptr);
        ASSERT_EQ(S_OK, bench.renderer->Run(kRunStart));
        bench.Stamp(row.start);
        EXPECT_EQ(S_OK, bench.SendNow());
        EXPECT_EQ(1, bench.Rendered());
        EXPECT_EQ(0, bench.clock->Advised());
    }
}

// A stopped renderer refuses samples; a flushing one turns them away and lets a held one go; a
// paused one shows the first and holds it until it runs.
TEST(RendererTest, StoppedRefusesFlushingDropsAndPausedHoldsUntilRun) {
    RendererBench bench;
    EXPECT_EQ(VFW_E_WRONG_STATE, bench.SendNow());

    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, bench.renderer->FindPin(L"In", pin.Receive()));
    ASSERT_EQ(S_OK, bench.renderer->Run(kRunStart));
    bench.Stamp(kSecond);
    auto held = bench.Send();
    ASSERT_TRUE(bench.clock->WaitForAdvice(1));
    EXPECT_EQ(S_OK, pin->BeginFlush());
    ASSERT_TRUE(Returns(held));
    EXPECT_EQ(S_OK, held.get());
    EXPECT_EQ(S_FALSE, bench.SendNow());
    EXPECT_EQ(S_OK, pin->EndFlush());
    bench.Stamp(std::nullopt);
    EXPECT_EQ(S_OK, bench.SendNow());
    EXPECT_EQ(1, bench.Rendered());

    ASSERT_EQ(S_OK, bench.renderer->Stop());
    ASSERT_EQ(S_OK, bench.renderer->Pause());
    auto paused = bench.Send();
    FILTER_STATE state = State_Stopped;
    // Settled once the sample has arrived; it is held until the renderer runs.
    EXPECT_EQ(S_OK, bench.renderer->GetState(10'000, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(std::future_status::timeout, paused.wait_for(std::chrono::milliseconds(0)));
    ASSERT_EQ(S_OK, bench.renderer->Run(kRunStart));
    ASSERT_TRUE(Returns(paused));
    EXPECT_EQ(S_OK, paused.get());
    EXPECT_EQ(2, bench.Rendered());  // shown once, while paused
}

struct Graph {
    Graph() {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, builder.ReceiveVoid()));
        EXPECT_EQ(S_OK, builder.As(IID_IMediaControl, control));
        EXPECT_EQ(S_OK, builder.As(IID_IMediaFilter, filter));
        builder->AddFilter(first.Get(), L"first");
        builder->AddFilter(second.Get(), L"second");
    }
    OAFilterState GraphState() const {
        OAFilterState state = -1;
        control->GetState(0, &state);
        return state;
    }
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> filter;
    ComPtr<ProbeFilter> first = MakeCom<ProbeFilter>(L"first", false);
    ComPtr<ProbeFilter> second = MakeCom<ProbeFilter>(L"second", false);
};

// The system clock unless the caller chose one (or none); the stream starts ahead of the clock.
TEST(FilterGraphTest, RunGivesEveryFilterTheClockAndAStartAheadOfIt) {
    {
        Graph g;
        ComPtr<IReferenceClock> clock;
        EXPECT_EQ(S_OK, g.filter->GetSyncSource(clock.Receive()));
        EXPECT_FALSE(clock);
        ASSERT_EQ(S_OK, g.control->Run());
        ASSERT_EQ(S_OK, g.filter->GetSyncSource(clock.Receive()));
        ASSERT_TRUE(clock);
        REFERENCE_TIME now = 0;
        ASSERT_TRUE(SUCCEEDED(clock->GetTime(&now)));
        for (ProbeFilter* f : {g.first.Get(), g.second.Get()}) {
            EXPECT_EQ(clock, f->Clock());
            EXPECT_GT(f->StreamStart(), now);
        }
    }
    {
        Graph g;
        auto chosen = MakeCom<ManualClock>(kRunStart);
        ASSERT_EQ(S_OK, g.filter->SetSyncSource(chosen.Get()));
        ASSERT_EQ(S_OK, g.control->Run());
        EXPECT_EQ(static_cast<IReferenceClock*>(chosen.Get()), g.first->Clock().Get());
        EXPECT_GT(g.first->StreamStart(), kRunStart);
    }
    for (bool removed : {false, true}) {
        Graph g;
        std::optional<zrf::com::ScopedClassOverride> noClock;
        if (removed) {
            noClock.emplace(CLSID_SystemClock, zrf::com::ClassFactory{});
        } else {
            ASSERT_EQ(S_OK, g.filter->SetSyncSource(nullptr));
        }
        ASSERT_EQ(S_OK, g.control->Run());
        EXPECT_FALSE(g.first->Clock());
        EXPECT_EQ(0, g.first->StreamStart());
    }
}

// Stopping after a failed run is the caller's job: a filter that cannot run leaves the graph
// and the others running; one that cannot pause leaves the graph stopped.
TEST(FilterGraphTest, AFailedRunLeavesTheGraphRunningUntilTheCallerStopsIt) {
    const HRESULT busy = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    {
        Graph g;
        g.first->fail_run = busy;
        EXPECT_EQ(busy, g.control->Run());
        EXPECT_EQ(State_Running, g.GraphState());
        EXPECT_EQ(State_Paused, g.first->State());
        EXPECT_EQ(State_Running, g.second->State());
        EXPECT_EQ(S_OK, g.control->Stop());
        EXPECT_EQ(State_Stopped, g.GraphState());
        EXPECT_EQ(State_Stopped, g.first->State());
        EXPECT_EQ(State_Stopped, g.second->State());
    }
    {
        Graph g;
        g.second->fail_init = busy;
        EXPECT_EQ(busy, g.control->Run());
        EXPECT_EQ(State_Stopped, g.GraphState());
        EXPECT_EQ(State_Paused, g.first->State());
        EXPECT_EQ(State_Stopped, g.second->State());
    }
}

}  // namespace
}  // namespace PlatformTest
