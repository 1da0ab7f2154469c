#include "tools/zrfgrab/serve/device_camera.h"

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "tools/zrfgrab/frame_picture.h"
#include "tools/zrfgrab/grab_session.h"
#include "tools/zrfgrab/grab_options.h"

namespace zrfgrab::serve {
namespace {

using namespace Vorn::Zephra::Net::Devices;
using Vorn::Zephra::Simulation::SimulatedCameraHandle;

// A USB camera pulled out leaves the plug-in's device connected, its stream merely silent: a
// camera that sends nothing for this long, outside a correction, is taken for gone.
constexpr auto kSilenceIsGone = std::chrono::seconds(3);

template <class Interface>
Interface& As(IDevice& device) {
    return dynamic_cast<Interface&>(device);
}

}  // namespace

DeviceCamera::DeviceCamera(const LoadedPlugin& plugin, const std::string& formatEntry, const CameraSource& source,
                           const Vorn::Zephra::Simulation::SimulatedCameraOptions& options,
                           std::filesystem::path recordDir, std::filesystem::path scratchDir,
                           std::size_t poolCapacity)
    : LiveCamera(source.replay.empty() ? zrfgrab::CameraLabel(source.preset, source.instance)
                                       : std::filesystem::path(source.replay).filename().string(),
                 poolCapacity, std::move(scratchDir)),
      recordDir_(std::move(recordDir)) {
    Vorn::Zephra::Simulation::SimulatedCameraOptions own = options;
    own.instance = source.instance;
    camera_ = source.replay.empty() ? SimulatedCameraHandle::Start(source.preset, own)
                                    : SimulatedCameraHandle::Replay(source.replay, own);
    identity_ = camera_->Identity(formatEntry);
    identity_.SetSelectedFormatId(formatEntry);
    device_ = plugin.CreateDevice(identity_.Identifier());
    if (!device_)
        throw System::InvalidOperationException("the plug-in serves no identifier '" + identity_.Identifier() + "'");
    ChangeStatus([&](CameraStatus& s) {
        s.model = camera_->Info().modelName;
        s.format = formatEntry.substr(formatEntry.rfind(';') + 1);
        s.canCorrect = true;  // every radiometric camera takes a correction
    });

    As<IGrabContinous>(*device_).Completed().Subscribe([this](const void*, const GrabContinousCompletedEventArgs& e) {
        ZrfPixels pixels;
        const std::uint64_t number = delivered_.fetch_add(1) + 1;
        if (FindZrfPixels(e.Image, pixels)) Feed().Offer(number, pixels.width, pixels.height, pixels.pixels);
    });
    As<IIRCameraControl>(*device_).Calibrating().Subscribe([this](const void*, const CalibratingEventArgs& e) {
        calibrating_ = e.IsCalibrating;
        if (e.IsCalibrating) calibrations_.fetch_add(1);
    });
}

DeviceCamera::~DeviceCamera() {
    StopThread();
    Feed().Stop();
    if (device_) {
        try {
            device_->Dispose();
        } catch (...) {
        }
    }
}

void DeviceCamera::Start() {
    Feed().Start();
    device_->Device_Connect(identity_.XMLData());
    As<IGrabContinous>(*device_).GrabContinous_Start();
    started_ = true;
    lastPoll_ = lastFrameSeen_ = std::chrono::steady_clock::now();
    ChangeStatus([](CameraStatus& s) { s.state = "streaming"; });
    StartThread();
}

void DeviceCamera::ReadRecording(CameraStatus& s) {
    const XElement settings = device_->Device_XMLData().Element("Recorder");
    if (!settings) return;
    s.recordingFile = settings.Attribute("File").value_or("");
    s.recordingFrames = CountAttribute(settings, "RecordedFrames");
    s.recordingDropped = CountAttribute(settings, "DroppedFrames");
    const std::string error = settings.Attribute("Error").value_or("");
    if (!s.recording && wasRecording_) {
        s.recordingEnd = !error.empty() ? error : !endReason_.empty() ? endReason_ : "it stopped";
        // The recorder keeps no file of a recording without frames: its name must not read as kept.
        if (s.recordingFrames == 0)
            s.recordingEnd += s.recordingDropped > 0 ? "; no image was recorded, so no file was kept"
                                                     : "; no frame came, so no file was kept";
    }
}

void DeviceCamera::Poll() {
    if (!started_) return;
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t delivered = delivered_.load();
    const double seconds = std::chrono::duration<double>(now - lastPoll_).count();
    const double fps = seconds > 0 ? static_cast<double>(delivered - lastDelivered_) / seconds : 0.0;
    if (delivered != lastDelivered_ || calibrating_.load()) lastFrameSeen_ = now;
    lastDelivered_ = delivered;
    lastPoll_ = now;

    auto& recorder = As<IRecorder>(*device_);
    const bool connected = device_->Device_IsConnected();
    if (gone_ && connected && now == lastFrameSeen_) gone_ = false;  // it came back
    if (!gone_ && (!connected || now - lastFrameSeen_ >= kSilenceIsGone)) {
        gone_ = true;
        // A recording must not wait for frames that will never come: it ends at its last one.
        closedByDisappearance_ = recorder.Recorder_IsRecording();
        if (closedByDisappearance_) {
            endReason_ = "the camera disappeared";
            recorder.Recorder_Stop(0);
        }
    }
    CameraStatus snapshot = Status();
    snapshot.delivered = delivered;
    snapshot.fps = fps;
    snapshot.lost = static_cast<std::uint64_t>(std::max(As<IGrabContinous>(*device_).GrabContinous_LostFrames(), 0));
    snapshot.cameraDropped = camera_->FramesDropped();
    snapshot.calibrating = calibrating_.load();
    snapshot.calibrations = calibrations_.load();
    if (const ConstFrameRef frame = Feed().Latest()) {
        snapshot.width = frame->width;
        snapshot.height = frame->height;
    }
    snapshot.recording = recorder.Recorder_IsRecording();
    snapshot.recordingClosedByDisappearance = closedByDisappearance_;
    ReadRecording(snapshot);
    if (!snapshot.recording && wasRecording_)
        recordings_.push_back(snapshot.recordingFile + " (" + RecordedCount(snapshot) + "): " + snapshot.recordingEnd);
    wasRecording_ = snapshot.recording;
    if (gone_) {
        snapshot.state = "gone";
        snapshot.message = "the camera disappeared";
    } else if (snapshot.state == "gone") {
        snapshot.state = "streaming";
        snapshot.message.clear();
    }
    ChangeStatus([&](CameraStatus& s) { s = snapshot; });
}

ActionResult DeviceCamera::StopRecording(const std::string& why) {
    auto& recorder = As<IRecorder>(*device_);
    if (!recorder.Recorder_IsRecording()) return Refusal(409, "no recording is running");
    endReason_ = why;
    recorder.Recorder_Stop(0);
    Poll();
    const CameraStatus s = Status();
    const nlohmann::json reply{
        {"file", s.recordingFile}, {"frames", s.recordingFrames}, {"dropped", s.recordingDropped}, {"end", s.recordingEnd}};
    return {200, reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

ActionResult DeviceCamera::Perform(Action action) {
    try {
        auto& recorder = As<IRecorder>(*device_);
        switch (action) {
            case Action::StartRecording: {
                if (gone_) return Refusal(409, "the camera disappeared");
                if (recorder.Recorder_IsRecording()) return Refusal(409, "a recording is running already");
                Vorn::Zephra::Entities::XmlUtils::RecorderXml settings;
                // A folder: the recorder names a new file in it.
                settings.SetPath((recordDir_ / "").string());
                recorder.Recorder_Setup(settings.XMLData());
                recorder.Recorder_Start(0);
                endReason_.clear();
                closedByDisappearance_ = false;  // a camera that came back records anew
                ChangeStatus([](CameraStatus& s) { s.recordingEnd.clear(); });
                Poll();
                const CameraStatus s = Status();
                return {200, nlohmann::json{{"file", s.recordingFile}}.dump(-1, ' ', false,
                                                                           nlohmann::json::error_handler_t::replace)};
            }
            case Action::StopRecording:
                return StopRecording("a client stopped it");
            case Action::Correct:
                if (gone_) return Refusal(409, "the camera disappeared");
                As<IIRCameraControl>(*device_).IRControl_Nuc();
                return {200, "{\"correcting\":true}"};
            case Action::Snapshot:
                break;
        }
        return Refusal(400, "unknown action");
    } catch (const System::Exception& e) {
        return Refusal(500, e.Message());
    }
}

void DeviceCamera::EndRecording(const std::string& why) {
    try {
        if (started_ && As<IRecorder>(*device_).Recorder_IsRecording()) StopRecording(why);
    } catch (const System::Exception&) {
        // Finish says what failed when it stops the stream.
    }
}

std::string DeviceCamera::Finish(const std::string& why) {
    std::string kept;
    try {
        if (started_) {
            auto& recorder = As<IRecorder>(*device_);
            if (recorder.Recorder_IsRecording()) StopRecording(why);
            As<IGrabContinous>(*device_).GrabContinous_Stop();
            Poll();
            device_->Device_Disconnect();
        }
        Feed().Stop();
    } catch (const System::Exception& e) {
        kept = "failed to end cleanly: " + e.Message() + "; ";
    }
    ChangeStatus([&](CameraStatus& s) {
        if (s.state != "gone") s.state = "stopped";
        s.message = why;
    });
    const CameraStatus s = Status();
    kept += std::to_string(s.delivered) + " frames delivered, " + std::to_string(s.lost + s.cameraDropped) + " lost";
    if (s.cameraDropped > 0) kept += " (" + std::to_string(s.cameraDropped) + " dropped by the camera)";
    return kept;
}

}  // namespace zrfgrab::serve
