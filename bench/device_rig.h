#pragma once
// The plug-in's own device connected to a simulated camera whose samples are prepared once and
// never copied again, so what a frame costs on the streaming thread is the device path: the
// grabber callback, the stream, the decode, the per-image event arguments and info document,
// the recorder and the Completed handlers. The handler here only counts, and waits at a gate
// when the benchmark has the device take turns with a baseline (Gate, Stream).
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/camera_streaming.h"
#include "bench/turns.h"
#include "host/control/rtree_nodes.h"
#include "host/xml/documents.h"
#include "platform/time/test_clock.h"
#include "plugin/capture_device.h"
#include "sim/cameras/camera_identity.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/control/resource_tree.h"

namespace DeviceBench {

using CaptureBench::SampleKind;
namespace IR = Vorn::Zephra::Net::Devices::Camera::IR;
namespace Xml = Vorn::Zephra::Entities::XmlUtils;

struct DeviceFormat {
    const char* name;
    const char* preset;
    const char* formatId;  // empty: the radiometric format
    SampleKind samples;
    ImageSize picture;
    int fields;
    bool radiometric;  // only these get a recorder
};

inline const DeviceFormat kDeviceFormats[] = {
    {"UsbRaw", "usb-ir", "", SampleKind::UsbRaw, {640, 480}, 1, true},
    {"UsbJpegLs", "usb-ir-jls", "", SampleKind::UsbJpegLs, {320, 240}, 1, true},
    {"Ieee1394", "fw-ir", "", SampleKind::Ieee1394, {640, 480}, 1, true},
    {"Ieee1394x2", "fw-ir", "", SampleKind::Ieee1394, {640, 480}, 2, true},
    {"Ieee1394x4", "fw-ir", "", SampleKind::Ieee1394, {640, 480}, 4, true},
    {"Yuy2", "webcam", zrf::sim::kFormatIdYuy2, SampleKind::Yuy2, {640, 480}, 1, false},
    {"Mjpg", "webcam", zrf::sim::kFormatIdJpegPlain, SampleKind::Mjpg, {640, 480}, 1, false},
};

inline double ThreadClockSeconds(clockid_t clock) { return BenchTurns::ClockSeconds(clock); }

// One format's camera and connected device. Streaming runs between Start and Stop; the
// streaming thread's CPU clock is known once the first image arrived.
class DeviceRig {
  public:
    explicit DeviceRig(const DeviceFormat& format, std::string recordFolder = {})
        : format_(format), folder_(std::move(recordFolder)) {
        zrf::sim::CameraOptions options;
        options.pacing = zrf::sim::Pacing::AsFastAsPossible;
        camera_ = zrf::sim::SimulatedCamera::FromPreset(format.preset, options);
        if (!camera_) throw std::runtime_error(std::string("no camera preset ") + format.preset);
        source_ = std::make_shared<CaptureBench::CameraSampleSource>(format.samples, format.picture,
                                                                     1, format.fields);
        camera_->VideoDevice()->SetSampleSource(source_);
        if (format.fields > 1) {
            camera_->Tree()->Set(zrf::sim::nodes::kWindowingFields, std::int32_t{format.fields});
            camera_->Tree()->Set(zrf::sim::nodes::kWindowingActive, true);
        }
        zrf::sim::CameraIdentity identity = camera_->Identity();
        identity.selected_format_id = format.formatId;
        Xml::IdentityXml xml;
        zrf::sim::FillIdentityXml(identity, xml);
        device_ = std::make_unique<IR::CaptureDevice>(identity.identifier);
        device_->Completed().Subscribe(
            [this](const void*, const Vorn::Zephra::Net::Devices::GrabContinousCompletedEventArgs& e) {
                if (!clockKnown_.load(std::memory_order_relaxed)) Learn(e.Image.size());
                AfterImage(delivered_.fetch_add(1, std::memory_order_relaxed) + 1);
            });
        device_->Device_Connect(xml.XMLData());
    }

    ~DeviceRig() {
        Stop();
        // Leaving windowing on disconnect waits for the camera to settle: on a test clock here.
        Platform::TestClock clock;
        Platform::TestClockScope scope(clock);
        device_->Dispose();
        device_.reset();
        camera_.reset();
    }
    DeviceRig(const DeviceRig&) = delete;
    DeviceRig& operator=(const DeviceRig&) = delete;

    const DeviceFormat& Format() const { return format_; }
    IR::CaptureDevice& Device() { return *device_; }

    // Starts streaming (recording into the folder when asked) and waits for the first image.
    bool Start(bool record) {
        recording_ = record;
        clockKnown_ = false;  // each run streams on a thread of its own
        if (record) StartRecording();
        device_->GrabContinous_Start();
        return WaitFor(delivered_.load() + 1) && clockKnown_.load();
    }
    // The gate opened first: stopping waits for the streaming thread.
    void Stop() {
        Ungate();
        if (device_->GrabContinous_IsGrabbing()) device_->GrabContinous_Stop();
        if (recording_) device_->Recorder_Stop(0);
        recording_ = false;
    }
    // A new recording file, the old one removed: keeps what the run writes bounded.
    void RestartRecording() {
        device_->Recorder_Stop(0);
        RemoveRecordings();
        StartRecording();
    }

    long Delivered() const { return delivered_.load(std::memory_order_relaxed); }
    std::size_t ImageBytes() const { return imageBytes_.load(); }
    double StreamingCpuSeconds() const { return ThreadClockSeconds(clock_); }

    // From now on the streaming thread waits in the handler after each image until Stream lets
    // it go on: the device and a baseline on the benchmark's thread can then take turns.
    void Gate() {
        std::lock_guard lock(gateMutex_);
        allowed_ = delivered_.load();
        gated_ = true;
    }
    void Ungate() {
        std::lock_guard lock(gateMutex_);
        gated_ = false;
        gateChanged_.notify_all();
    }
    // Lets `images` more images through the gate and waits until they have passed (or the bound
    // passes: it only keeps a broken build from hanging). Returns how many passed.
    long Stream(long images) {
        std::unique_lock lock(gateMutex_);
        const long before = delivered_.load();
        allowed_ = before + images;
        gateChanged_.notify_all();
        gateChanged_.wait_for(lock, std::chrono::seconds(30), [&] { return delivered_.load() >= allowed_; });
        return delivered_.load() - before;
    }

    // Polls without disturbing the streaming thread; the bound keeps a broken build from hanging.
    bool WaitFor(long count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (delivered_.load(std::memory_order_relaxed) < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return true;
    }

  private:
    // On the streaming thread, after image number `count`. The benchmark is woken only by the
    // last image of a turn.
    void AfterImage(long count) {
        if (!gated_.load(std::memory_order_acquire)) return;
        std::unique_lock lock(gateMutex_);
        if (count == allowed_) gateChanged_.notify_all();
        gateChanged_.wait(lock, [&] { return !gated_.load() || count < allowed_; });
    }
    void Learn(std::size_t bytes) {
        pthread_getcpuclockid(pthread_self(), &clock_);
        imageBytes_ = bytes;
        clockKnown_ = true;
    }
    void StartRecording() {
        Xml::RecorderXml settings;
        settings.SetPath(folder_ + "/");
        settings.SetWaitForDisk(true);  // every image recorded: none left out makes it cheaper
        device_->Recorder_Setup(settings.XMLData());
        device_->Recorder_Start(0);
    }
    void RemoveRecordings() const {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder_, ec))
            std::filesystem::remove(entry.path(), ec);
    }

    const DeviceFormat& format_;
    const std::string folder_;
    std::unique_ptr<zrf::sim::SimulatedCamera> camera_;
    std::shared_ptr<CaptureBench::CameraSampleSource> source_;
    std::unique_ptr<IR::CaptureDevice> device_;
    std::atomic<long> delivered_{0};
    std::atomic<std::size_t> imageBytes_{0};
    std::atomic<bool> clockKnown_{false};
    clockid_t clock_{};
    bool recording_ = false;
    // The gate: allowed_ under gateMutex_; gated_ is also read without it, to pass ungated.
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    long allowed_ = 0;
    std::atomic<bool> gated_{false};
};

}  // namespace DeviceBench
