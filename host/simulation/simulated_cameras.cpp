#include "host/simulation/simulated_cameras.h"

#include "host/system/exceptions.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/simulated_camera.h"

namespace Vorn::Zephra::Simulation {

struct SimulatedCameraHandle::Impl {
    std::unique_ptr<zrf::sim::SimulatedCamera> camera;
    std::string name;
    std::string description;
};

SimulatedCameraHandle::SimulatedCameraHandle(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SimulatedCameraHandle::~SimulatedCameraHandle() = default;

namespace {

zrf::sim::Pacing PacingOf(const SimulatedCameraOptions& options) {
    return options.asFastAsPossible ? zrf::sim::Pacing::AsFastAsPossible : zrf::sim::Pacing::RealTime;
}

}  // namespace

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Start(
    const std::string& preset, const SimulatedCameraOptions& options) {
    zrf::sim::CameraOptions cameraOptions;
    cameraOptions.pacing = PacingOf(options);
    cameraOptions.seed = options.seed;
    auto found = zrf::sim::FindCameraPreset(preset, cameraOptions);
    if (!found) {
        std::string known;
        for (const auto& name : zrf::sim::CameraPresetNames()) known += (known.empty() ? "" : ", ") + name;
        throw System::ArgumentException("unknown camera '" + preset + "' (known: " + known + ")",
                                        "preset");
    }
    auto impl = std::make_unique<Impl>();
    impl->camera = std::make_unique<zrf::sim::SimulatedCamera>(*found);
    impl->name = found->name;
    impl->description = found->description;
    return std::unique_ptr<SimulatedCameraHandle>(new SimulatedCameraHandle(std::move(impl)));
}

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Replay(
    const std::string& recording, const SimulatedCameraOptions& options) {
    zrf::sim::ReplayOptions replayOptions;
    replayOptions.pacing = PacingOf(options);
    replayOptions.loop = options.loop;
    auto impl = std::make_unique<Impl>();
    std::string error;
    if (FAILED(zrf::sim::SimulatedCamera::Replay(recording, replayOptions, impl->camera, error)) ||
        !impl->camera)
        throw System::IOException("cannot replay '" + recording + "': " + error);
    impl->name = "replay";
    impl->description = "plays " + recording;
    return std::unique_ptr<SimulatedCameraHandle>(new SimulatedCameraHandle(std::move(impl)));
}

Entities::XmlUtils::IdentityXml SimulatedCameraHandle::Identity(
    const std::string& selectedFormatId) const {
    Entities::XmlUtils::IdentityXml xml;
    zrf::sim::CameraIdentity identity = impl_->camera->Identity();
    if (!selectedFormatId.empty()) identity.selected_format_id = selectedFormatId;
    zrf::sim::FillIdentityXml(identity, xml);
    return xml;
}

SimulatedCameraInfo SimulatedCameraHandle::Info() const {
    const auto& id = impl_->camera->Identity();
    return {impl_->name, impl_->description, id.identifier, id.hostname, id.model_name};
}

std::uint64_t SimulatedCameraHandle::SamplesSent() const {
    return static_cast<std::uint64_t>(impl_->camera->Video().FramesDelivered());
}

std::vector<SimulatedCameraInfo> ListSimulatedCameras() {
    std::vector<SimulatedCameraInfo> out;
    for (const auto& p : zrf::sim::CameraPresets())
        out.push_back({p.name, p.description, p.identity.identifier, p.identity.hostname,
                       p.identity.model_name});
    return out;
}

}  // namespace Vorn::Zephra::Simulation
