#pragma once
// What the simulated cameras' filter DLL offers the program that loaded it, besides COM: the
// application stand-in starts a camera of this process through it, with its content's seed and
// pacing, as on Linux. While a started camera lives, every bind of its moniker streams from it
// and the control channel reaches its resource tree (registered with the host framework's tree
// registry). The DLL exports ZrfSimulatedCameraService; a program finds the DLL through the
// registration of the cameras' class.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/cameras/camera_identity.h"

namespace zrf::sim {

struct ServedCamera {
    std::string name;
    std::string description;
    CameraIdentity identity;
};

struct ServiceCameraOptions {
    std::uint32_t seed = 1;
    bool asFastAsPossible = false;
    bool loop = true;  // replay: start again at the end of the recording
};

// A camera started in this process; it stops when this goes.
class ServiceCamera {
  public:
    virtual ~ServiceCamera() = default;
    virtual CameraIdentity Identity() const = 0;
    virtual std::uint64_t SamplesSent() const = 0;
};

class CameraService {
  public:
    virtual std::vector<ServedCamera> Cameras() const = 0;
    // Null, with why, for an unknown preset, a recording that cannot be played or a camera of
    // that device path already running in this process.
    virtual std::unique_ptr<ServiceCamera> Start(const std::string& preset,
                                                 const ServiceCameraOptions& options,
                                                 std::string& error) = 0;
    virtual std::unique_ptr<ServiceCamera> Replay(const std::string& recording,
                                                  const ServiceCameraOptions& options,
                                                  std::string& error) = 0;

  protected:
    ~CameraService() = default;
};

}  // namespace zrf::sim

#define ZRF_CAMERA_SERVICE_ENTRY_POINT "ZrfSimulatedCameraService"
extern "C" {
using ZrfSimulatedCameraServiceFn = zrf::sim::CameraService* (*)();
}
