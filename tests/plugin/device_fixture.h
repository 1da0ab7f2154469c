#pragma once
// A device and a simulated camera for device tests. Settling waits run on a test clock, so no
// test sleeps for them; the camera streams as fast as it can. On Windows the camera is a
// registered one, started in the filter DLL, and the clock is the platform's: tests that need
// the test clock or a changed preset run on Linux only.
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
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"
#ifdef _WIN32
#include "host/simulation/simulated_cameras.h"
#endif

namespace Vorn::Zephra::Net::Devices::Camera::IR {

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

    // A camera of the preset (changed by `tweak`) and a device for its identifier.
    void MakeCamera(const std::string& presetName,
                    const std::function<void(zrf::sim::CameraPreset&)>& tweak = {}) {
        // The old camera leaves its device path before a new one takes it.
        events.reset();
        device.reset();
        camera.reset();
#ifdef _WIN32
        ASSERT_FALSE(tweak) << "a changed preset needs the Linux build's cameras";
        Simulation::SimulatedCameraOptions options;
        options.asFastAsPossible = true;
        camera = Simulation::SimulatedCameraHandle::Start(presetName, options);
        const auto xml = camera->Identity();
        identity = {xml.Name(), xml.Hostname(), xml.Identifier(), xml.InterfaceIndex(), "", xml.ModelName()};
#else
        zrf::sim::CameraOptions options;
        options.pacing = zrf::sim::Pacing::AsFastAsPossible;
        auto preset = zrf::sim::FindCameraPreset(presetName, options);
        ASSERT_TRUE(preset.has_value()) << presetName;
        if (tweak) tweak(*preset);
        camera = std::make_unique<zrf::sim::SimulatedCamera>(*preset);
        identity = camera->Identity();
#endif
        device = std::make_unique<CaptureDevice>(identity.identifier);
        events = std::make_unique<DeviceEvents>(*device);
    }

    XElement IdentityElement() const {
        Entities::XmlUtils::IdentityXml xml;
        zrf::sim::FillIdentityXml(identity, xml);
        return xml.XMLData();
    }

    void Connect() { device->Device_Connect(IdentityElement()); }

    CaptureDeviceInspector State() { return CaptureDeviceInspector(*device); }
#ifndef _WIN32
    // A node of the camera's resource tree.
    template <class T>
    T Tree(const std::string& node) {
        return std::get<T>(camera->Tree()->Get(node));
    }
#endif

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
#ifdef _WIN32
    std::unique_ptr<Simulation::SimulatedCameraHandle> camera;
#else
    std::unique_ptr<zrf::sim::SimulatedCamera> camera;
#endif
    zrf::sim::CameraIdentity identity;
    std::unique_ptr<CaptureDevice> device;
    std::unique_ptr<DeviceEvents> events;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
