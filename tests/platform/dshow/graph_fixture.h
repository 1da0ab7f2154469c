#pragma once
// Helpers for tests that build graphs on simulated devices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "sim/video/simulated_video_device.h"

namespace zrf::testing {

using com::ComPtr;
using dshow::MediaType;

template <class T>
ComPtr<T> CreateObject(REFCLSID clsid, REFIID iid) {
    ComPtr<T> object;
    EXPECT_EQ(S_OK,
              CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReceiveVoid()));
    return object;
}

// The monikers of the video-input category, in order (none for an empty category).
inline std::vector<ComPtr<IMoniker>> VideoInputMonikers() {
    std::vector<ComPtr<IMoniker>> result;
    auto devenum = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    if (devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) !=
        S_OK) {
        return result;
    }
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        result.push_back(ComPtr<IMoniker>::Attach(moniker));
    }
    return result;
}

// A string property of a moniker's bag, or nothing.
inline std::optional<std::wstring> ReadProperty(IMoniker* moniker, const wchar_t* name) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid()))) {
        return std::nullopt;
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    if (FAILED(bag->Read(name, &value, nullptr))) return std::nullopt;
    std::wstring text = value.bstrVal;
    VariantClear(&value);
    return text;
}

// The capture filter of a device (bound through its moniker).
inline ComPtr<IBaseFilter> BindDevice(const sim::SimulatedVideoDevice& device) {
    for (const auto& moniker : VideoInputMonikers()) {
        if (ReadProperty(moniker.Get(), L"DevicePath") == device.Settings().device_path) {
            ComPtr<IBaseFilter> filter;
            EXPECT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                  filter.ReceiveVoid()));
            return filter;
        }
    }
    ADD_FAILURE() << "device not listed";
    return nullptr;
}

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(S_OK, filter->EnumPins(pins.Receive()));
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        auto held = ComPtr<IPin>::Attach(pin);
        PIN_DIRECTION dir;
        held->QueryDirection(&dir);
        if (dir == direction) return held;
    }
    return nullptr;
}

// The pin's offered types, in order.
inline std::vector<MediaType> OfferedTypes(IPin* pin) {
    std::vector<MediaType> result;
    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(S_OK, pin->EnumMediaTypes(types.Receive()));
    AM_MEDIA_TYPE* mt = nullptr;
    while (types->Next(1, &mt, nullptr) == S_OK) result.push_back(MediaType::Adopt(mt));
    return result;
}

inline MediaType OfferedType(IPin* pin, const GUID& subtype) {
    for (MediaType& type : OfferedTypes(pin)) {
        if (type->subtype == subtype) return type;
    }
    ADD_FAILURE() << "subtype not offered";
    return MediaType();
}

// Counts samples and remembers the last one's length and first bytes; an optional hook
// runs inside the callback.
class RecordingCallback final : public com::ComObject<ISampleGrabberCB> {
  public:
    HRESULT SampleCB(double, IMediaSample* sample) override {
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        {
            std::lock_guard lock(mutex_);
            ++samples_;
            last_length_ = sample->GetActualDataLength();
            last_pointer_ok_ = SUCCEEDED(hr) && data != nullptr;
            if (last_pointer_ok_ && last_length_ >= 8) std::memcpy(last_head_, data, 8);
        }
        if (hook) hook(sample);
        changed_.notify_all();
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }

    long Samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    LONG LastLength() const {
        std::lock_guard lock(mutex_);
        return last_length_;
    }
    bool LastPointerOk() const {
        std::lock_guard lock(mutex_);
        return last_pointer_ok_;
    }
    std::uint64_t LastFrameNumber() const {
        std::lock_guard lock(mutex_);
        std::uint64_t n = 0;
        std::memcpy(&n, last_head_, 8);
        return n;
    }
    // Waits for at least `count` samples; the bound only keeps a broken build from hanging.
    bool WaitForSamples(long count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return samples_ >= count; });
    }

    std::function<void(IMediaSample*)> hook;

  protected:
    void* FindInterface(REFIID riid) override {
        return riid == IID_ISampleGrabberCB ? static_cast<ISampleGrabberCB*>(this) : nullptr;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    long samples_ = 0;
    LONG last_length_ = -1;
    bool last_pointer_ok_ = false;
    BYTE last_head_[8] = {};
};

// Capture source -> sample grabber -> null renderer, connected with one offered subtype.
struct GrabberGraph {
    ComPtr<IGraphBuilder> graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<IBaseFilter> renderer = CreateObject<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ComPtr<ISampleGrabber> sample_grabber;
    ComPtr<IMediaControl> control;

    HRESULT Build(const sim::SimulatedVideoDevice& device, const GUID& subtype) {
        source = BindDevice(device);
        if (!source) return E_FAIL;
        HRESULT hr = grabber.As(IID_ISampleGrabber, sample_grabber);
        if (FAILED(hr)) return hr;
        hr = graph.As(IID_IMediaControl, control);
        if (FAILED(hr)) return hr;
        graph->AddFilter(source.Get(), device.Settings().device_path.c_str());
        graph->AddFilter(grabber.Get(), L"Grabber");
        graph->AddFilter(renderer.Get(), L"NULLRenderer");
        auto capture = PinOf(source.Get(), PINDIR_OUTPUT);
        MediaType type = OfferedType(capture.Get(), subtype);
        sample_grabber->SetMediaType(&type.Get());
        hr = graph->ConnectDirect(capture.Get(), PinOf(grabber.Get(), PINDIR_INPUT).Get(),
                                  &type.Get());
        if (FAILED(hr)) return hr;
        return graph->ConnectDirect(PinOf(grabber.Get(), PINDIR_OUTPUT).Get(),
                                    PinOf(renderer.Get(), PINDIR_INPUT).Get(), &type.Get());
    }
};

}  // namespace zrf::testing
