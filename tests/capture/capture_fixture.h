#pragma once
// Helpers for tests of the capture graph: simulated devices, and a record of the platform
// objects a graph creates so a test can see they were let go. A simulated device is shared by
// the capture filters bound to it: its use count tells whether one is still held.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/mtx_graph.h"
#include "platform/com/class_registry.h"
#include "sim/video/simulated_video_device.h"
#include "sim/video/video_presets.h"

namespace CaptureTest {

using zrf::com::ComPtr;

// References held on an object by anyone.
inline ULONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Holds one reference on every object created through CoCreateInstance for the given classes
// while it lives, so a test can tell whether anyone else still holds one.
class CreatedObjects {
  public:
    // Without `hold`, objects are only counted (holding one would keep alive what it holds).
    explicit CreatedObjects(const std::vector<CLSID>& classes, bool hold = true);
    std::size_t Count(REFCLSID clsid) const;
    // The first object of the class created, or null.
    IUnknown* First(REFCLSID clsid) const;
    // Objects of the classes that someone besides this record still holds.
    std::size_t StillHeld() const;
    std::size_t StillHeld(REFCLSID clsid) const;

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
inline DevicePtr AddDevice(zrf::sim::VideoDeviceSettings settings,
                           std::shared_ptr<zrf::sim::SampleSource> source = {}) {
    return zrf::sim::SimulatedVideoDevice::Create(std::move(settings), std::move(source));
}

// A plain device offering the given formats, no properties, under the given path.
zrf::sim::VideoDeviceSettings PlainDevice(std::wstring path,
                                          std::vector<zrf::sim::VideoFormat> formats);

}  // namespace CaptureTest
