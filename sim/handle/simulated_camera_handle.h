#pragma once
// The simulated cameras, as a program starts them (the application stand-in, zrfgrab, the
// tests): by preset name or from a recording, each with the identity a host passes at connect.
// One class for both builds: it asks the program's camera service, which on Linux runs in the
// program and on Windows inside the registered filter DLL. While a SimulatedCameraHandle lives,
// its camera is found by the platform's device enumeration and the control channel.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/xml/documents.h"
#include "sim/cameras/camera_service.h"

namespace Vorn::Zephra::Simulation {

struct SimulatedCameraInfo {
    std::string name;
    std::string description;
    std::string identifier;
    std::string hostname;
    std::string modelName;
};

using SimulatedCameraOptions = zrf::sim::ServiceCameraOptions;

class SimulatedCameraHandle {
  public:
    ~SimulatedCameraHandle();
    SimulatedCameraHandle(const SimulatedCameraHandle&) = delete;
    SimulatedCameraHandle& operator=(const SimulatedCameraHandle&) = delete;

    // Throws System::ArgumentException naming the known presets for an unknown name, or the
    // change the camera refuses; System::InvalidOperationException when that camera already
    // runs in this program.
    static std::unique_ptr<SimulatedCameraHandle> Start(const std::string& preset,
                                                        const SimulatedCameraOptions& options);
    // Throws System::IOException for a recording it cannot play.
    static std::unique_ptr<SimulatedCameraHandle> Replay(const std::string& recording,
                                                         const SimulatedCameraOptions& options);

    // The identity to connect with; selectedFormatId empty means the radiometric format.
    Entities::XmlUtils::IdentityXml Identity(const std::string& selectedFormatId = {}) const;
    SimulatedCameraInfo Info() const;
    // Samples the camera sent since it started streaming (for checking counts).
    std::uint64_t SamplesSent() const;
    bool Streaming() const;
    // A replay's recorded frames it passed over so far (damaged, or of another size).
    zrf::sim::ServiceCamera::PassedOver FramesPassedOver() const;
    // Frames the camera dropped: its streaming thread came back too late for them, or a stall
    // of its transport took them.
    std::uint64_t FramesDropped() const;
    // What the camera injected (frames made, sent, dropped, glitched), to compare with what a
    // receiver reports.
    zrf::sim::CameraTruth Truth() const;

  private:
    SimulatedCameraHandle(std::unique_ptr<zrf::sim::ServiceCamera> camera, std::string name,
                          std::string description);

    std::unique_ptr<zrf::sim::ServiceCamera> camera_;
    std::string name_;
    std::string description_;
};

std::vector<SimulatedCameraInfo> ListSimulatedCameras();

}  // namespace Vorn::Zephra::Simulation

namespace zrf::sim {
// The camera service of this program (sim/handle/program_camera_service.cpp on Linux,
// registered_camera_service.cpp on Windows). Throws System::InvalidOperationException when
// there is none to be had.
CameraService& ProgramCameraService();
}  // namespace zrf::sim
