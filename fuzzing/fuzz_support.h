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
#include <string>
#include <string_view>

#include "fuzzing/byte_reader.h"
#include "host/logging/logger.h"
#include "host/xml/documents.h"
#include "platform/time/test_clock.h"
#include "plugin/capture_device.h"
#include "sim/cameras/camera_identity.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/simulated_camera.h"

namespace fuzz {

// Replaces every occurrence of `token` in text.
inline void ReplaceAll(std::string& text, std::string_view token, const std::string& with) {
    for (std::size_t at = text.find(token); at != std::string::npos;
         at = text.find(token, at + with.size()))
        text.replace(at, token.size(), with);
}

// A scratch file of this process, removed at exit.
class ScratchFile {
  public:
    explicit ScratchFile(const char* stem) {
        path_ = (std::filesystem::temp_directory_path() /
                 (std::string(stem) + "." + std::to_string(::getpid())))
                    .string();
    }
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Path() const { return path_; }
    void Write(const void* data, std::size_t size) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    void Write(const std::string& text) const { Write(text.data(), text.size()); }

  private:
    std::string path_;
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

    // A new, unconnected device for the camera (the caller disposes it).
    std::unique_ptr<CaptureDevice> Fresh() {
        return std::make_unique<CaptureDevice>(Identity().identifier);
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
