#pragma once
// Shared by the fuzz targets that drive a device: one process-wide simulated camera with a
// connected device, so each input costs a call, not a connection.
// Settling waits run on a test clock (instant); nothing is logged.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "fuzzing/byte_reader.h"
#include "host/logging/logger.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "platform/time/test_clock.h"
#include "plugin/capture_device.h"
#include "sim/cameras/camera_identity.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/simulated_camera.h"

namespace fuzz {

// Runs f; the framework's exceptions are an answer, anything else escapes to the fuzzer.
template <class F>
void Tolerate(F f) {
    try {
        f();
    } catch (const System::Exception&) {
    }
}

// The document in text, or nothing when it is not one.
inline std::optional<System::Xml::Linq::XElement> Parse(const std::string& text) {
    std::optional<System::Xml::Linq::XElement> element;
    Tolerate([&] { element = System::Xml::Linq::XElement::Parse(text); });
    return element;
}

// A scratch file (or folder) of this process, removed at exit.
struct ScratchFile {
    explicit ScratchFile(const char* stem)
        : path((std::filesystem::temp_directory_path() /
                (std::string(stem) + "." + std::to_string(::getpid())))
                   .string()) {}
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    void Write(const void* data, std::size_t size) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    void Write(const std::string& text) const { Write(text.data(), text.size()); }

    const std::string path;
};

// The process-wide rig: the clock comes first and goes last, the device before its camera.
class DeviceRig {
  public:
    using CaptureDevice = Vorn::Zephra::Net::Devices::Camera::IR::CaptureDevice;

    static DeviceRig& Instance() {
        static DeviceRig rig;
        return rig;
    }

    zrf::sim::SimulatedCamera& Camera() { return *camera_; }
    const zrf::sim::CameraIdentity& Identity() const { return camera_->Identity(); }

    System::Xml::Linq::XElement IdentityElement() const {
        Vorn::Zephra::Entities::XmlUtils::IdentityXml xml;
        zrf::sim::FillIdentityXml(camera_->Identity(), xml);
        return xml.XMLData();
    }

    // A device connected to the camera; reconnected when an input left it disconnected.
    CaptureDevice& Connected() {
        if (!connected_ || !connected_->Device_IsConnected()) {
            if (connected_) connected_->Dispose();
            connected_ = std::make_unique<CaptureDevice>(Identity().identifier);
            connected_->Device_Connect(IdentityElement());
        }
        return *connected_;
    }

    ~DeviceRig() {
        if (connected_) connected_->Dispose();
        connected_.reset();
        camera_.reset();
    }

  private:
    DeviceRig() : clockScope_(clock_) {
        Vorn::Zephra::Diagnostics::Log::Logger::SetSink(nullptr);
        zrf::sim::CameraOptions options;
        options.pacing = zrf::sim::Pacing::AsFastAsPossible;
        auto preset = zrf::sim::FindCameraPreset("usb-ir", options);
        if (!preset) std::abort();
        camera_ = std::make_unique<zrf::sim::SimulatedCamera>(*preset);
    }

    Platform::TestClock clock_;
    Platform::TestClockScope clockScope_;
    std::unique_ptr<zrf::sim::SimulatedCamera> camera_;
    std::unique_ptr<CaptureDevice> connected_;
};

}  // namespace fuzz
