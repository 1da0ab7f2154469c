#include "sim/windows/process_cameras.h"

#include "sim/cameras/process_cameras.h"
#include "sim/cameras/simulated_camera.h"
#include "sim/windows/camera_bag.h"

namespace zrf::sim {

HRESULT ProcessCameraFor(IPropertyBag* bag, std::shared_ptr<SimulatedCamera>& camera) {
    return ProcessCameras::FindOrMake(
        ReadBagText(bag, L"DevicePath"),
        [&](std::shared_ptr<SimulatedCamera>& made) -> HRESULT {
            std::optional<CameraPreset> preset = PresetFromBag(bag);
            if (!preset) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            made = std::make_shared<SimulatedCamera>(*preset);
            return SetWindowingFromBag(bag, made->Tree().get());
        },
        camera);
}

}  // namespace zrf::sim

extern "C" __declspec(dllexport) zrf::sim::CameraService* ZRF_CAMERA_SERVICE_ENTRY() {
    static zrf::sim::ProcessCameraService service(
        {std::begin(zrf::sim::kRegisteredCameras), std::end(zrf::sim::kRegisteredCameras)}, false);
    return &service;
}
