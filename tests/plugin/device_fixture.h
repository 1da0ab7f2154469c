#pragma once
// A device and a simulated camera for device tests. Settling waits run on a test clock, so no
// test sleeps for them; the camera streams as fast as it can. The same in both builds: the
// camera is started through the program's camera handle (on Windows a registered one, in the
// filter DLL), and the test clock drives the platform's time functions as the project's code
// calls them (platform/time).
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/logging/logger.h"
#include "host/xml/documents.h"
#include "platform/time/test_clock.h"
#include "plugin/capture_device.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/process_cameras.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#include "sim/handle/simulated_camera_handle.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

// The JPEG-LS camera exists in the Linux build only: the Windows build has no JPEG-LS codec,
// and its filter DLL registers no such camera.
inline bool CameraOfThisBuild(const std::string& preset) {
#ifdef _WIN32
    return preset != "usb-ir-jls";
#else
    return !preset.empty();
#endif
}

// Reads the device's private state for the tests.
class CaptureDeviceInspector {
  public:
    explicit CaptureDeviceInspector(CaptureDevice& d) : d_(d) {}
    bool HasChannel() const { return d_.commander != nullptr; }
    bool HasGraph() const { return d_.captureGraph != nullptr; }
    bool HasStream() const { return d_.imageStream != nullptr; }
    bool HasRecorder() const { return d_.recorder != nullptr; }
    bool HasIdentity() const { return d_.identity.has_value(); }
    bool HasHandler() const { return d_.newImageHandle != nullptr; }
    int FocusType() const { return d_.focusType; }
    bool FocusAvailable() const { return d_.focusAvailable; }
    int FocusMaxCache() const { return d_.focusMaxCache; }
    bool HasWindowing() const { return d_.hasWindowing; }
    bool WindowingActive() const { return d_.windowingActive; }
    int WindowingFields() const { return d_.windowingFields; }
    bool IsSupported() const { return d_.isSupported; }
    bool Disposed() const { return d_.disposed; }
    Recorder::Recorder* TheRecorder() const { return d_.recorder.get(); }
    CMtxGraph* Graph() const { return d_.captureGraph.get(); }
    ImgSrcStream* Stream() const { return d_.imageStream.get(); }
    // A field count no camera reports, to reach the device's guard against it.
    void ForceWindowingFields(int fields) { d_.windowingFields = fields; }
    // Whether another thread holds the device lock now.
    bool DeviceLockHeldElsewhere() const {
        if (!d_.syncRoot.try_lock()) return true;
        d_.syncRoot.unlock();
        return false;
    }
    std::unique_lock<DeviceLock> HoldDeviceLock() const { return std::unique_lock(d_.syncRoot); }
    DeviceFields Fields() const { return d_.Fields(); }
    DeviceState StateNow() const { return StateOf(d_.Fields()); }

  private:
    CaptureDevice& d_;
};

// Collects what the device raises; waits in real time, as frames flow on their own thread.
class DeviceEvents {
  public:
    explicit DeviceEvents(CaptureDevice& device) {
        device.Completed().Subscribe([this](const void*, const GrabContinousCompletedEventArgs& e) {
            Add([&] {
                images_.emplace_back(e.Image.begin(), e.Image.end());
                frameNumbers_.push_back(std::stoul(e.Info.Attribute("FrameNumber").value_or("0")));
            });
        });
        device.Calibrating().Subscribe([this](const void*, const CalibratingEventArgs& e) {
            Add([&] { calibrating_.push_back(e.IsCalibrating); });
        });
    }
    bool WaitForImages(std::size_t n) { return Wait([&] { return images_.size() >= n; }); }
    bool WaitForCalibrating(std::size_t n) { return Wait([&] { return calibrating_.size() >= n; }); }
    std::size_t ImageCount() const {
        std::lock_guard lock(mutex_);
        return images_.size();
    }
    std::vector<std::vector<std::uint8_t>> Images() const { return Copy(images_); }
    std::vector<unsigned long> FrameNumbers() const { return Copy(frameNumbers_); }
    std::vector<bool> CalibratingChanges() const { return Copy(calibrating_); }

  private:
    template <class F>
    void Add(const F& change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    template <class P>
    bool Wait(const P& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), done);
    }
    template <class T>
    T Copy(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::uint8_t>> images_;
    std::vector<unsigned long> frameNumbers_;
    std::vector<bool> calibrating_;
};

class DeviceTest : public ::testing::Test {
  protected:
    // An hour east of UTC: time stamps carry a zone whose sign matters.
    DeviceTest() : clockScope_(clock_) { clock_.SetTimeZone(-60, false); }

    // A camera of the preset, changed as `changes` says (sim/cameras/preset_changes.h), and a
    // device for its identifier. On Windows the camera is a registered one, started in the
    // filter DLL, which takes the changes there.
    void MakeCamera(const std::string& presetName, const std::string& changes = {}) {
        Simulation::SimulatedCameraOptions options;
        options.asFastAsPossible = true;
        options.changes = changes;
        MakeCamera(presetName, options, true);
    }
    // A camera started with these options and a device for it; `collect`: the device's events
    // gathered (every image kept) in `events`.
    void MakeCamera(const std::string& presetName, const Simulation::SimulatedCameraOptions& options,
                    bool collect) {
        // The old camera leaves its device path before a new one takes it.
        events.reset();
        device.reset();
        camera.reset();
        camera = Simulation::SimulatedCameraHandle::Start(presetName, options);
        const auto xml = camera->Identity();
        identity = {xml.Name(), xml.Hostname(), xml.Identifier(), xml.InterfaceIndex(),
                    xml.SelectedFormatId(), xml.ModelName()};
        device = std::make_unique<CaptureDevice>(identity.identifier);
        if (collect) events = std::make_unique<DeviceEvents>(*device);
    }

#ifndef _WIN32
    // The camera itself, for tests that change what it sends (on Linux it runs in this
    // process; on Windows in the filter DLL, out of reach).
    zrf::sim::SimulatedCamera& Simulated() const {
        auto live = zrf::sim::ProcessCameras::Live(std::wstring(identity.hostname.begin(), identity.hostname.end()));
        if (!live) throw std::logic_error("no simulated camera at " + identity.hostname);
        return *live;
    }
#endif

    std::uint64_t SamplesSent() const { return camera->SamplesSent(); }
    bool CameraStreaming() const { return camera->Streaming(); }
    // The camera's resource tree, as its control channel reaches it.
    std::shared_ptr<zrf::sim::ResourceTree> CameraTree() const {
        return zrf::sim::TreeRegistry::Find(identity.hostname);
    }

    XElement IdentityElement() const {
        Entities::XmlUtils::IdentityXml xml;
        zrf::sim::FillIdentityXml(identity, xml);
        return xml.XMLData();
    }

    void Connect() { device->Device_Connect(IdentityElement()); }

    CaptureDeviceInspector State() { return CaptureDeviceInspector(*device); }
    // A node of the camera's resource tree.
    template <class T>
    T Tree(const std::string& node) {
        return std::get<T>(CameraTree()->Get(node));
    }

    // The settling time that `action` asked for on the test clock.
    template <class F>
    std::chrono::milliseconds SleptDuring(F&& action) {
        const auto before = clock_.SleptFor();
        action();
        return clock_.SleptFor() - before;
    }

    void TearDown() override {
        if (device) device->Dispose();
        device.reset();
        camera.reset();
    }

    Platform::TestClock clock_;
    Platform::TestClockScope clockScope_;
    Diagnostics::Log::LogCapture log;
    std::unique_ptr<Simulation::SimulatedCameraHandle> camera;
    zrf::sim::CameraIdentity identity;
    std::unique_ptr<CaptureDevice> device;
    std::unique_ptr<DeviceEvents> events;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
