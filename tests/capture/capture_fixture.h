#pragma once
// Helpers for tests of the capture graph: simulated devices, a stream that records what the
// graph tells it, and a record of the platform objects a graph creates so a test can see they
// were let go. A simulated device is shared by the capture filters bound to it: its use count
// tells whether one is still held.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/mtx_graph.h"
#include "imaging/img_src_stream.h"
#include "platform/com/class_registry.h"
#include "sim/video/simulated_video_device.h"
#include "sim/video/video_presets.h"

namespace CaptureTest {

using zrf::com::ComPtr;

// `value` as `change` leaves it.
template <typename T, typename Change>
T With(T value, const Change& change) {
    change(value);
    return value;
}

// References held on an object by anyone.
inline ULONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Holds one reference on every object created through CoCreateInstance for the given classes
// while it lives (without `hold` only counts them: holding would keep alive what they hold).
class CreatedObjects {
  public:
    explicit CreatedObjects(const std::vector<CLSID>& classes, bool hold = true) {
        for (const CLSID& clsid : classes) {
            auto factory = zrf::com::ClassRegistry::Find(clsid);
            if (!factory) continue;
            overrides_.push_back(std::make_unique<zrf::com::ScopedClassOverride>(
                clsid,
                [clsid, factory = *factory, entries = entries_, hold](REFIID riid, void** ppv) {
                    const HRESULT hr = factory(riid, ppv);
                    ComPtr<IUnknown> object;
                    if (SUCCEEDED(hr) && hold) {
                        static_cast<IUnknown*>(*ppv)->QueryInterface(IID_IUnknown,
                                                                     object.ReceiveVoid());
                    }
                    if (SUCCEEDED(hr)) entries->push_back({clsid, object});
                    return hr;
                }));
        }
    }
    std::size_t Count(REFCLSID clsid) const {
        return std::count_if(entries_->begin(), entries_->end(),
                             [&](const Entry& e) { return e.clsid == clsid; });
    }
    IUnknown* First(REFCLSID clsid) const {
        for (const Entry& e : *entries_) {
            if (e.clsid == clsid) return e.object.Get();
        }
        return nullptr;
    }
    // Objects (of the class, or of any) that someone besides this record still holds.
    std::size_t StillHeld(const CLSID* clsid = nullptr) const {
        return std::count_if(entries_->begin(), entries_->end(), [&](const Entry& e) {
            return (!clsid || e.clsid == *clsid) && e.object && ReferencesOf(e.object.Get()) > 1;
        });
    }

  private:
    struct Entry {
        CLSID clsid;
        ComPtr<IUnknown> object;
    };
    std::vector<std::unique_ptr<zrf::com::ScopedClassOverride>> overrides_;
    std::shared_ptr<std::vector<Entry>> entries_ = std::make_shared<std::vector<Entry>>();
};

// A simulated device that leaves the category with the test.
using DevicePtr = std::shared_ptr<zrf::sim::SimulatedVideoDevice>;
inline DevicePtr AddDevice(zrf::sim::VideoDeviceSettings settings) {
    return zrf::sim::SimulatedVideoDevice::Create(std::move(settings));
}

// A plain device offering the given formats, no properties, under the given path.
inline zrf::sim::VideoDeviceSettings PlainDevice(std::wstring path,
                                                 std::vector<zrf::sim::VideoFormat> formats) {
    zrf::sim::VideoDeviceSettings s;
    s.device_path = std::move(path);
    s.friendly_name = L"Test Camera";
    s.formats = std::move(formats);
    return s;
}

// An image stream that records what the graph tells it instead of decoding.
struct RecordingStream final : ImgSrcStream {
    void SetImageSize(ImageSize size) override { ImgSrcStream::SetImageSize(imageSize = size); }
    void SetSubtype(const GUID& value) override { ImgSrcStream::SetSubtype(subtype = value); }
    void OnNewSample(const std::uint8_t* buffer, std::int32_t length, ImageSize) override {
        ++samples;
        lastBuffer = buffer;
        lastLength = length;
    }
    ImageSize imageSize{-1, -1};
    GUID subtype{};
    int samples = 0;
    const std::uint8_t* lastBuffer = nullptr;
    std::int32_t lastLength = -1;
};

}  // namespace CaptureTest
