#include "tests/capture/capture_fixture.h"

namespace CaptureTest {

CreatedObjects::CreatedObjects(const std::vector<CLSID>& classes, bool hold) {
    for (const CLSID& clsid : classes) {
        auto previous = zrf::com::ClassRegistry::Find(clsid);
        if (!previous) continue;
        auto entries = entries_;
        auto factory = *previous;
        overrides_.push_back(std::make_unique<zrf::com::ScopedClassOverride>(
            clsid, [clsid, factory, entries, hold](REFIID riid, void** ppv) {
                HRESULT hr = factory(riid, ppv);
                if (SUCCEEDED(hr) && *ppv != nullptr) {
                    ComPtr<IUnknown> object;
                    if (hold) {
                        static_cast<IUnknown*>(*ppv)->QueryInterface(IID_IUnknown,
                                                                     object.ReceiveVoid());
                    }
                    entries->push_back({clsid, object});
                }
                return hr;
            }));
    }
}

std::size_t CreatedObjects::Count(REFCLSID clsid) const {
    std::size_t n = 0;
    for (const Entry& e : *entries_) n += e.clsid == clsid ? 1 : 0;
    return n;
}

std::size_t CreatedObjects::StillHeld(REFCLSID clsid) const {
    std::size_t n = 0;
    for (const Entry& e : *entries_) {
        n += e.clsid == clsid && e.object && ReferencesOf(e.object.Get()) > 1 ? 1 : 0;
    }
    return n;
}

IUnknown* CreatedObjects::First(REFCLSID clsid) const {
    for (const Entry& e : *entries_) {
        if (e.clsid == clsid) return e.object.Get();
    }
    return nullptr;
}

std::size_t CreatedObjects::StillHeld() const {
    std::size_t n = 0;
    for (const Entry& e : *entries_) n += e.object && ReferencesOf(e.object.Get()) > 1 ? 1 : 0;
    return n;
}

zrf::sim::VideoDeviceSettings PlainDevice(std::wstring path,
                                          std::vector<zrf::sim::VideoFormat> formats) {
    zrf::sim::VideoDeviceSettings s;
    s.device_path = std::move(path);
    s.friendly_name = L"Test Camera";
    s.formats = std::move(formats);
    return s;
}

}  // namespace CaptureTest
