#include "sim/handle/simulated_camera_handle.h"

#include "host/system/exceptions.h"

namespace Vorn::Zephra::Simulation {
namespace {

using zrf::sim::StartError;
using zrf::sim::StartRefusal;

std::string KnownCameras() {
    std::string known;
    for (const auto& c : zrf::sim::ProgramCameraService().Cameras())
        known += (known.empty() ? "" : ", ") + c.name;
    return known;
}

[[noreturn]] void ThrowStartFailure(const StartError& error, const std::string& what) {
    switch (error.refusal) {
        case StartRefusal::UnknownCamera:
            throw System::ArgumentException(error.text + " (known: " + KnownCameras() + ")", "preset");
        case StartRefusal::BadChanges:
            throw System::ArgumentException(error.text, "changes");
        case StartRefusal::CannotPlay:
            throw System::IOException("cannot replay '" + what + "': " + error.text);
        case StartRefusal::InUse:
            break;
    }
    throw System::InvalidOperationException("cannot start '" + what + "': " + error.text);
}

}  // namespace

SimulatedCameraHandle::SimulatedCameraHandle(std::unique_ptr<zrf::sim::ServiceCamera> camera,
                                             std::string name, std::string description)
    : camera_(std::move(camera)), name_(std::move(name)), description_(std::move(description)) {}

SimulatedCameraHandle::~SimulatedCameraHandle() = default;

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Start(
    const std::string& preset, const SimulatedCameraOptions& options) {
    StartError error;
    auto camera = zrf::sim::ProgramCameraService().Start(preset, options, error);
    if (!camera) ThrowStartFailure(error, preset);
    std::string description;
    for (const auto& c : zrf::sim::ProgramCameraService().Cameras())
        if (c.name == preset) description = c.description;
    return std::unique_ptr<SimulatedCameraHandle>(
        new SimulatedCameraHandle(std::move(camera), preset, description));
}

std::unique_ptr<SimulatedCameraHandle> SimulatedCameraHandle::Replay(
    const std::string& recording, const SimulatedCameraOptions& options) {
    StartError error;
    auto camera = zrf::sim::ProgramCameraService().Replay(recording, options, error);
    if (!camera) {
        // A replay camera the program already runs is a replay all the same.
        if (error.refusal == StartRefusal::InUse) error.refusal = StartRefusal::CannotPlay;
        ThrowStartFailure(error, recording);
    }
    return std::unique_ptr<SimulatedCameraHandle>(
        new SimulatedCameraHandle(std::move(camera), "replay", "plays " + recording));
}

Entities::XmlUtils::IdentityXml SimulatedCameraHandle::Identity(
    const std::string& selectedFormatId) const {
    Entities::XmlUtils::IdentityXml xml;
    zrf::sim::CameraIdentity identity = camera_->Identity();
    if (!selectedFormatId.empty()) identity.selected_format_id = selectedFormatId;
    zrf::sim::FillIdentityXml(identity, xml);
    return xml;
}

SimulatedCameraInfo SimulatedCameraHandle::Info() const {
    const auto id = camera_->Identity();
    return {name_, description_, id.identifier, id.hostname, id.model_name};
}

std::uint64_t SimulatedCameraHandle::SamplesSent() const { return camera_->SamplesSent(); }

bool SimulatedCameraHandle::Streaming() const { return camera_->Streaming(); }

std::uint64_t SimulatedCameraHandle::FramesDropped() const { return camera_->FramesDropped(); }

zrf::sim::CameraTruth SimulatedCameraHandle::Truth() const { return camera_->Truth(); }

zrf::sim::ServiceCamera::PassedOver SimulatedCameraHandle::FramesPassedOver() const {
    return camera_->FramesPassedOver();
}

std::vector<SimulatedCameraInfo> ListSimulatedCameras() {
    std::vector<SimulatedCameraInfo> out;
    for (const auto& c : zrf::sim::ProgramCameraService().Cameras())
        out.push_back({c.name, c.description, c.identity.identifier, c.identity.hostname,
                       c.identity.model_name});
    return out;
}

}  // namespace Vorn::Zephra::Simulation
