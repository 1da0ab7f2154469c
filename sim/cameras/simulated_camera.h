#pragma once
// One simulated camera: while it lives, its video side is listed as a video-input device under
// its device path and its control side (resource tree) is found by the same path as host name.
// Both sides share the tree, so controls act on the samples.
#include <memory>
#include <string>

#include "sim/cameras/camera_identity.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/replay_sample_source.h"
#include "sim/video/simulated_video_device.h"

namespace zrf::sim {

struct ReplayOptions {
    Pacing pacing = Pacing::RealTime;
    bool loop = true;
    std::wstring device_path;  // empty: the replay camera's own
};

class SimulatedCamera {
  public:
    explicit SimulatedCamera(const CameraPreset& preset);
    // The camera a preset names, or null for an unknown name.
    static std::unique_ptr<SimulatedCamera> FromPreset(std::string_view name,
                                                       const CameraOptions& options = {});
    // A USB radiometric camera playing a recording; on failure null, a failure code and why.
    static HRESULT Replay(const std::string& recording, const ReplayOptions& options,
                          std::unique_ptr<SimulatedCamera>& camera, std::string& error);
    // Leaves the video-input category and the tree registry, even while a graph still holds
    // the video device.
    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    const CameraIdentity& Identity() const { return identity_; }
    const std::string& HostName() const { return identity_.hostname; }
    const SimulatedVideoDevice& Video() const { return *device_; }
    SimulatedVideoDevicePtr VideoDevice() const { return device_; }
    std::shared_ptr<ResourceTree> Tree() const { return tree_; }  // null: no control side
    std::shared_ptr<SampleSource> Source() const { return device_->Source(); }

  private:
    SimulatedCamera(CameraIdentity identity, std::shared_ptr<ResourceTree> tree,
                    VideoDeviceSettings video, std::shared_ptr<SampleSource> source);
    void Start(VideoDeviceSettings video, std::shared_ptr<SampleSource> source);

    CameraIdentity identity_;
    std::shared_ptr<ResourceTree> tree_;
    SimulatedVideoDevicePtr device_;
};

// The replay camera's identity and device path.
CameraIdentity ReplayIdentity(const std::wstring& device_path = {});
std::wstring ReplayDevicePath();

}  // namespace zrf::sim
