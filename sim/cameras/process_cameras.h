#pragma once
// The simulated cameras of this process, one per device path, and the camera service that
// starts them. A camera lives while its starter or anything bound to it (a filter) holds it;
// every lookup of its device path meanwhile meets that one camera.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"
#include "sim/cameras/camera_service.h"

namespace zrf::sim {

class SimulatedCamera;

class ProcessCameras {
  public:
    using Maker = std::function<HRESULT(std::shared_ptr<SimulatedCamera>&)>;
    // The camera living under the device path (matched ignoring case), or else the one `make`
    // makes, which then lives there; `make`'s failure is returned as it is.
    static HRESULT FindOrMake(const std::wstring& devicePath, const Maker& make,
                              std::shared_ptr<SimulatedCamera>& camera);
    // The one `make` makes, when no camera lives under the device path (S_FALSE otherwise, and
    // nothing is made).
    static HRESULT MakeIfFree(const std::wstring& devicePath, const Maker& make,
                              std::shared_ptr<SimulatedCamera>& camera);
    // The camera living under the device path, or null.
    static std::shared_ptr<SimulatedCamera> Live(const std::wstring& devicePath);
};

class ProcessCameraService final : public CameraService {
  public:
    // `offered`: the presets it starts (empty: every preset); `listsAnyPath`: whether a camera
    // can have a device path of its own (a replay, a further camera of a preset), which the
    // platform then lists; a registered DLL's cameras have only the paths registered.
    ProcessCameraService(std::vector<std::string> offered, bool listsAnyPath);

    std::vector<ServedCamera> Cameras() const override;
    std::unique_ptr<ServiceCamera> Start(const std::string& preset,
                                         const ServiceCameraOptions& options,
                                         StartError& error) override;
    std::unique_ptr<ServiceCamera> Replay(const std::string& recording,
                                          const ServiceCameraOptions& options,
                                          StartError& error) override;

  private:
    bool Offers(const std::string& preset) const;

    const std::vector<std::string> offered_;
    const bool listsAnyPath_;
};

}  // namespace zrf::sim
