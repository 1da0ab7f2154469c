#pragma once
// Helpers for tests that find and bind simulated devices.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "sim/video/simulated_video_device.h"

namespace zrf::testing {

using com::ComPtr;

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

}  // namespace zrf::testing
