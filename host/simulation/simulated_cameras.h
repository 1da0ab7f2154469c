#pragma once
// The simulated cameras, as the application stand-in starts them: by preset name or from a
// recording, each with the identity a host passes at connect. While a SimulatedCameraHandle
// lives, its camera is found by the platform's device enumeration and the control channel.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/xml/documents.h"

namespace Vorn::Zephra::Simulation {

struct SimulatedCameraInfo {
    std::string name;
    std::string description;
    std::string identifier;
    std::string hostname;
    std::string modelName;
};

struct SimulatedCameraOptions {
    bool asFastAsPossible = false;
    std::uint32_t seed = 1;
    bool loop = true;  // replay: start again at the end of the recording
};

class SimulatedCameraHandle {
  public:
    ~SimulatedCameraHandle();
    SimulatedCameraHandle(const SimulatedCameraHandle&) = delete;
    SimulatedCameraHandle& operator=(const SimulatedCameraHandle&) = delete;

    // Throws System::ArgumentException naming the known presets for an unknown name.
    static std::unique_ptr<SimulatedCameraHandle> Start(const std::string& preset,
                                                        const SimulatedCameraOptions& options);
    // Throws System::IOException or System::FormatException for a recording it cannot play.
    static std::unique_ptr<SimulatedCameraHandle> Replay(const std::string& recording,
                                                         const SimulatedCameraOptions& options);

    // The identity to connect with; selectedFormatId empty means the radiometric format.
    Entities::XmlUtils::IdentityXml Identity(const std::string& selectedFormatId = {}) const;
    SimulatedCameraInfo Info() const;
    // Samples the camera sent since it started streaming (for checking counts).
    std::uint64_t SamplesSent() const;

  private:
    struct Impl;
    explicit SimulatedCameraHandle(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

std::vector<SimulatedCameraInfo> ListSimulatedCameras();

}  // namespace Vorn::Zephra::Simulation
