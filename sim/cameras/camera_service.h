#pragma once
// How a program starts simulated cameras: by preset name or from a recording, with its
// content's seed and pacing. On Linux the service runs in the program; on Windows it runs inside
// the registered filter DLL (which exports ZRF_CAMERA_SERVICE_ENTRY_POINT), where the platform's
// device binds meet the same cameras. While a started camera lives, the platform's device
// enumeration lists it and the host framework's control channel reaches its resource tree.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/cameras/camera_identity.h"
#include "sim/video/simulated_time.h"

namespace zrf::sim {

struct ServedCamera {
    std::string name;
    std::string description;
    CameraIdentity identity;
};

struct ServiceCameraOptions {
    bool asFastAsPossible = false;
    std::uint32_t seed = 1;
    bool loop = true;  // replay: start again at the end of the recording
    // A camera that misbehaves or lists other rates, as text "key=value;..." (the keys of
    // sim/cameras/preset_changes.h); a key the camera does not know fails the start.
    std::string changes;
    // 0: the preset's own camera; n > 0: its n-th further camera, with a device path of its own
    // (where the service can list one).
    int instance = 0;
    // Real-time pacing on this clock instead of the host's (not owned; it outlives the camera):
    // a test's clock, on which the camera's hours pass in seconds.
    SimulatedTime* time = nullptr;
};

// What a camera injected since it was made (SimulatedVideoDevice::Truth).
struct CameraTruth {
    std::uint64_t made = 0;      // frames its sensor made while streaming: sent + dropped
    std::uint64_t sent = 0;      // samples handed downstream, glitched ones included
    std::uint64_t dropped = 0;   // frames it dropped (its thread late, or a stall)
    std::uint64_t stalled = 0;   // of those, the ones stalls took
    std::uint64_t cutShort = 0;  // samples sent cut short
    std::uint64_t damaged = 0;   // samples sent damaged in a byte the receiver checks
};

// Why a start failed, for the caller's own kind of error.
enum class StartRefusal { UnknownCamera, BadChanges, InUse, CannotPlay };

struct StartError {
    StartRefusal refusal = StartRefusal::UnknownCamera;
    std::string text;
};

// A camera started in this process; it stops when this goes.
class ServiceCamera {
  public:
    virtual ~ServiceCamera() = default;
    virtual CameraIdentity Identity() const = 0;
    virtual std::uint64_t SamplesSent() const = 0;  // handed downstream since it was made
    virtual bool Streaming() const = 0;
    // A replay's recorded frames passed over so far: damaged ones (failing their checksum) and
    // ones of another size than the first.
    struct PassedOver {
        std::uint64_t damaged = 0;
        std::uint64_t otherSize = 0;
    };
    virtual PassedOver FramesPassedOver() const = 0;
    // Frames it dropped because its streaming thread came back too late for them, or a stall
    // of its transport took them.
    virtual std::uint64_t FramesDropped() const = 0;
    virtual CameraTruth Truth() const = 0;
};

class CameraService {
  public:
    virtual std::vector<ServedCamera> Cameras() const = 0;
    // Null, with why, for an unknown preset, changes the camera refuses, a recording that
    // cannot be played or a camera of that device path already running in this process.
    virtual std::unique_ptr<ServiceCamera> Start(const std::string& preset,
                                                 const ServiceCameraOptions& options,
                                                 StartError& error) = 0;
    virtual std::unique_ptr<ServiceCamera> Replay(const std::string& recording,
                                                  const ServiceCameraOptions& options,
                                                  StartError& error) = 0;

  protected:
    ~CameraService() = default;
};

}  // namespace zrf::sim

// The classes above cross from the program into the DLL, so the entry point's name carries
// their version: a change to their virtual functions (or their layout, ServiceCameraOptions'
// too) takes the next number, and a program never calls into a DLL built with other classes: it
// finds no entry point. The DLL defines the function under ZRF_CAMERA_SERVICE_ENTRY, the program
// looks it up by ZRF_CAMERA_SERVICE_ENTRY_POINT: one name for both.
#define ZRF_CAMERA_SERVICE_ENTRY ZrfSimulatedCameraService3
#define ZRF_CAMERA_SERVICE_NAME_OF(entry) #entry
#define ZRF_CAMERA_SERVICE_NAME(entry) ZRF_CAMERA_SERVICE_NAME_OF(entry)
#define ZRF_CAMERA_SERVICE_ENTRY_POINT ZRF_CAMERA_SERVICE_NAME(ZRF_CAMERA_SERVICE_ENTRY)
extern "C" {
using ZrfSimulatedCameraServiceFn = zrf::sim::CameraService* (*)();
}
