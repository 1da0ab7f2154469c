#include "sim/cameras/simulated_camera.h"

#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

std::shared_ptr<ResourceTree> MakeTree(const std::optional<TreeSettings>& settings) {
    return settings ? std::make_shared<ResourceTree>(*settings) : nullptr;
}

std::shared_ptr<SampleSource> ThermalSource(const CameraPreset& preset,
                                            std::shared_ptr<ResourceTree> tree) {
    ThermalSourceSettings content = preset.content;
    content.tree = std::move(tree);
    return std::make_shared<ThermalSampleSource>(preset.video.formats, std::move(content));
}

}  // namespace

SimulatedCamera::SimulatedCamera(const CameraPreset& preset)
    : identity_(preset.identity), tree_(MakeTree(preset.tree)) {
    Start(preset.video, ThermalSource(preset, tree_));
}

SimulatedCamera::SimulatedCamera(CameraIdentity identity, std::shared_ptr<ResourceTree> tree,
                                 VideoDeviceSettings video, std::shared_ptr<SampleSource> source)
    : identity_(std::move(identity)), tree_(std::move(tree)) {
    Start(std::move(video), std::move(source));
}

void SimulatedCamera::Start(VideoDeviceSettings video, std::shared_ptr<SampleSource> source) {
    identity_.hostname = NarrowPath(video.device_path);
    device_ = SimulatedVideoDevice::Create(std::move(video), std::move(source));
    if (tree_) TreeRegistry::Register(identity_.hostname, tree_);
}

SimulatedCamera::~SimulatedCamera() {
    if (tree_) TreeRegistry::Unregister(identity_.hostname);
    device_->Disappear();
}

std::unique_ptr<SimulatedCamera> SimulatedCamera::FromPreset(std::string_view name,
                                                             const CameraOptions& options) {
    std::optional<CameraPreset> preset = FindCameraPreset(name, options);
    if (!preset) return nullptr;
    return std::make_unique<SimulatedCamera>(*preset);
}

std::wstring ReplayDevicePath() {
    return L"\\\\?\\usb#vid_2f1e&pid_0aff&mi_00#9&replay&0&0000#"
           L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

CameraIdentity ReplayIdentity(const std::wstring& device_path) {
    const std::wstring path = device_path.empty() ? ReplayDevicePath() : device_path;
    return {"Recording replay",
            NarrowPath(path),
            "NORDA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0",
            0,
            "",
            "Line_K"};
}

HRESULT SimulatedCamera::Replay(const std::string& recording, const ReplayOptions& options,
                                std::unique_ptr<SimulatedCamera>& camera, std::string& error) {
    camera.reset();
    std::shared_ptr<ReplaySampleSource> source;
    const HRESULT hr =
        ReplaySampleSource::Open(recording, ReplaySettings{options.loop}, source, error);
    if (FAILED(hr)) return hr;

    // Controls below the graph as on the USB radiometric camera; format and rate the recording's.
    VideoDeviceSettings video = UsbIrPreset();
    video.device_path = options.device_path.empty() ? ReplayDevicePath() : options.device_path;
    video.friendly_name = L"Recording replay";
    video.formats = {source->Format()};
    video.video_control_frame_intervals = video.formats.front().frame_intervals;
    video.pacing = options.pacing;
    TreeSettings tree_settings;
    tree_settings.name = "Recording replay";
    auto tree = std::make_shared<ResourceTree>(tree_settings);
    source->SetTree(tree);
    camera.reset(new SimulatedCamera(ReplayIdentity(video.device_path), std::move(tree),
                                     std::move(video), std::move(source)));
    return S_OK;
}

}  // namespace zrf::sim
