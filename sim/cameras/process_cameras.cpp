#include "sim/cameras/process_cameras.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <mutex>

#include "sim/cameras/camera_presets.h"
#include "sim/cameras/preset_changes.h"
#include "sim/cameras/replay_sample_source.h"
#include "sim/cameras/simulated_camera.h"

namespace zrf::sim {
namespace {

std::mutex g_mutex;
// Whichever camera has the path now; device paths are matched ignoring case, as device
// selection does.
std::map<std::wstring, std::weak_ptr<SimulatedCamera>> g_live;

std::wstring Key(const std::wstring& path) {
    std::wstring key = path;
    std::transform(key.begin(), key.end(), key.begin(), [](wchar_t c) { return std::towlower(c); });
    return key;
}

HRESULT Make(std::weak_ptr<SimulatedCamera>& slot, const ProcessCameras::Maker& make,
             std::shared_ptr<SimulatedCamera>& camera) {
    const HRESULT hr = make(camera);
    if (FAILED(hr)) {
        camera.reset();
        return hr;
    }
    if (!camera) return E_FAIL;
    slot = camera;
    return S_OK;
}

class StartedCamera final : public ServiceCamera {
  public:
    explicit StartedCamera(std::shared_ptr<SimulatedCamera> camera) : camera_(std::move(camera)) {}
    CameraIdentity Identity() const override { return camera_->Identity(); }
    std::uint64_t SamplesSent() const override {
        return static_cast<std::uint64_t>(camera_->Video().FramesDelivered());
    }
    bool Streaming() const override { return camera_->Video().IsStreaming(); }
    PassedOver FramesPassedOver() const override {
        const auto replay = std::dynamic_pointer_cast<ReplaySampleSource>(camera_->Source());
        if (!replay) return {};
        return {replay->DamagedFrames(), replay->OtherSizeFrames()};
    }
    std::uint64_t FramesDropped() const override { return camera_->Video().FramesSkipped(); }
    CameraTruth Truth() const override {
        const SimulatedVideoDevice::Truth t = camera_->Video().Injected();
        return {t.made, t.sent, t.dropped, t.stalled, t.cutShort, t.damaged};
    }

  private:
    std::shared_ptr<SimulatedCamera> camera_;
};

Pacing PacingOf(const ServiceCameraOptions& options) {
    return options.asFastAsPossible ? Pacing::AsFastAsPossible : Pacing::RealTime;
}

// One started camera, or null with why: the path taken by another camera of this process.
std::unique_ptr<ServiceCamera> StartOn(const std::wstring& path, const std::string& name,
                                       const ProcessCameras::Maker& make, StartError& error) {
    std::shared_ptr<SimulatedCamera> camera;
    const HRESULT hr = ProcessCameras::MakeIfFree(path, make, camera);
    if (hr == S_FALSE) {
        error = {StartRefusal::InUse, "the camera '" + name + "' is already running in this process"};
        return nullptr;
    }
    if (FAILED(hr)) {
        if (error.text.empty()) error = {StartRefusal::CannotPlay, "the camera could not be started"};
        return nullptr;
    }
    return std::make_unique<StartedCamera>(std::move(camera));
}

}  // namespace

HRESULT ProcessCameras::FindOrMake(const std::wstring& devicePath, const Maker& make,
                                   std::shared_ptr<SimulatedCamera>& camera) {
    std::lock_guard lock(g_mutex);
    auto& slot = g_live[Key(devicePath)];
    if ((camera = slot.lock())) return S_OK;
    return Make(slot, make, camera);
}

HRESULT ProcessCameras::MakeIfFree(const std::wstring& devicePath, const Maker& make,
                                   std::shared_ptr<SimulatedCamera>& camera) {
    std::lock_guard lock(g_mutex);
    auto& slot = g_live[Key(devicePath)];
    camera.reset();
    if (!slot.expired()) return S_FALSE;
    return Make(slot, make, camera);
}

std::shared_ptr<SimulatedCamera> ProcessCameras::Live(const std::wstring& devicePath) {
    std::lock_guard lock(g_mutex);
    const auto slot = g_live.find(Key(devicePath));
    return slot == g_live.end() ? nullptr : slot->second.lock();
}

ProcessCameraService::ProcessCameraService(std::vector<std::string> offered, bool listsAnyPath)
    : offered_(std::move(offered)), listsAnyPath_(listsAnyPath) {}

bool ProcessCameraService::Offers(const std::string& preset) const {
    return offered_.empty() || std::find(offered_.begin(), offered_.end(), preset) != offered_.end();
}

std::vector<ServedCamera> ProcessCameraService::Cameras() const {
    std::vector<ServedCamera> out;
    for (const auto& preset : CameraPresets()) {
        if (Offers(preset.name)) out.push_back({preset.name, preset.description, preset.identity});
    }
    return out;
}

std::unique_ptr<ServiceCamera> ProcessCameraService::Start(const std::string& name,
                                                           const ServiceCameraOptions& o,
                                                           StartError& error) {
    CameraOptions options;
    options.seed = o.seed;
    options.pacing = PacingOf(o);
    options.instance = o.instance;
    if (o.instance > 0 && !listsAnyPath_) {
        error = {StartRefusal::InUse, "the registered camera '" + name + "' runs once in a program"};
        return nullptr;
    }
    std::optional<CameraPreset> preset = Offers(name) ? FindCameraPreset(name, options) : std::nullopt;
    if (!preset) {
        error = {StartRefusal::UnknownCamera, "unknown camera '" + name + "'"};
        return nullptr;
    }
    if (!ApplyPresetChanges(o.changes, *preset, error.text)) {
        error.refusal = StartRefusal::BadChanges;
        return nullptr;
    }
    preset->video.time = o.time;
    return StartOn(preset->video.device_path, name, [&](std::shared_ptr<SimulatedCamera>& camera) {
        camera = std::make_shared<SimulatedCamera>(*preset);
        return S_OK;
    }, error);
}

std::unique_ptr<ServiceCamera> ProcessCameraService::Replay(const std::string& recording,
                                                            const ServiceCameraOptions& o,
                                                            StartError& error) {
    if (!listsAnyPath_) {
        // A replay camera would need a registered device of its own.
        error = {StartRefusal::CannotPlay, "the registered cameras play no recordings"};
        return nullptr;
    }
    ReplayOptions options;
    options.pacing = PacingOf(o);
    options.loop = o.loop;
    options.device_path = InstancePath(ReplayDevicePath(), o.instance);
    return StartOn(options.device_path, "replay", [&](std::shared_ptr<SimulatedCamera>& camera) {
        std::unique_ptr<SimulatedCamera> made;
        const HRESULT hr = SimulatedCamera::Replay(recording, options, made, error.text);
        if (FAILED(hr)) error.refusal = StartRefusal::CannotPlay;
        camera = std::move(made);
        return hr;
    }, error);
}

}  // namespace zrf::sim
