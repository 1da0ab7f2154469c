#pragma once
// A camera served live, connected through the plug-in as the application connects one: a
// simulated camera started by preset or from a recording, its device made by the plug-in, its
// frames streamed into the feed. A recording goes into the record folder under a name the
// recorder chooses; it ends cleanly when a client stops it, when the camera disappears and
// when the run ends.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/devices/device_interfaces.h"
#include "host/loader/plugin_loader.h"
#include "sim/handle/simulated_camera_handle.h"
#include "tools/zrfgrab/serve/live_camera.h"

namespace zrfgrab::serve {

// A preset's name, or a recording to replay (then preset is empty).
struct CameraSource {
    std::string preset;
    std::string replay;
    int instance = 0;  // a preset named again (or a further replay): its further camera, as grab counts them
};

class DeviceCamera final : public LiveCamera {
  public:
    // Starts the simulated camera and makes its device; throws the framework's exceptions.
    DeviceCamera(const Vorn::Zephra::Net::Devices::LoadedPlugin& plugin, const std::string& formatEntry,
                 const CameraSource& source, const Vorn::Zephra::Simulation::SimulatedCameraOptions& options,
                 std::filesystem::path recordDir, std::filesystem::path scratchDir, std::size_t poolCapacity);
    ~DeviceCamera() override;

    // Connects and streams; throws the framework's exceptions.
    void Start();
    // Ends the recording (saying why), the stream and the connection; the camera's thread must
    // be stopped first. Returns what was kept, for the run's summary.
    std::string Finish(const std::string& why);
    // Ends a running recording, saying why; the camera's thread must be stopped first.
    void EndRecording(const std::string& why);
    // The recordings made, each "FILE (N frames): why it ended"; once the thread is stopped.
    const std::vector<std::string>& Recordings() const { return recordings_; }

  protected:
    ActionResult Perform(Action action) override;
    void Poll() override;

  private:
    void ReadRecording(CameraStatus& status);
    ActionResult StopRecording(const std::string& why);

    std::filesystem::path recordDir_;
    std::unique_ptr<Vorn::Zephra::Simulation::SimulatedCameraHandle> camera_;
    Vorn::Zephra::Entities::XmlUtils::IdentityXml identity_;
    std::shared_ptr<Vorn::Zephra::Net::Devices::IDevice> device_;

    // Written by the device's handlers, read by the camera's thread.
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint64_t> calibrations_{0};
    std::atomic<bool> calibrating_{false};

    // The camera's thread's own (or the finishing thread's, once that one stopped).
    bool started_ = false;
    bool gone_ = false;
    bool closedByDisappearance_ = false;  // the last disappearance ended a recording
    bool wasRecording_ = false;
    std::string endReason_;  // why the running recording will have ended
    std::vector<std::string> recordings_;
    std::uint64_t lastDelivered_ = 0;
    std::chrono::steady_clock::time_point lastPoll_{};
    std::chrono::steady_clock::time_point lastFrameSeen_{};
};

}  // namespace zrfgrab::serve
