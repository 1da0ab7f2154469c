// The recorder bridge: the device's recorder is created only for the radiometric format, fed
// every delivered image and kept in step with the stream's image size.
#include <algorithm>
#include <cctype>

#include "host/recorder/zrf_recorder.h"
#include "imaging/img_src_stream.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

namespace k = constants;
using Recorder::RECORDING_STATE;

bool CaptureDevice::RecorderAllowed() const {
    const std::string format = identity ? identity->SelectedFormatId() : std::string();
    if (format.empty()) return true;
    const std::string ir = k::kFormatIr;
    return format.size() == ir.size() &&
           std::equal(format.begin(), format.end(), ir.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

void CaptureDevice::CreateRecorder(bool usePreRecordingBuffer) {
    recorder = std::make_unique<Recorder::ZRFRecorder>();
    recorderSubscription = recorder->RecorderStatusChanged.Subscribe(
        [this](const void*, const Recorder::RecorderStatusEventArgs& e) { RecorderStatusUpdated(e); });
    recorder->SetUsePreRecordingBuffer(usePreRecordingBuffer);
    recorder->SetFrameCounter(frameCount);
    recorderView = recorder.get();  // from here on the streaming thread feeds it
    UpdateRecorderImageSize();
}

void CaptureDevice::EnsureRecorder() {
    if (!recorder && RecorderAllowed()) CreateRecorder(false);
}

void CaptureDevice::UpdateRecorderImageSize() {
    Recorder::Recorder* r = recorderView.load();
    if (!r) return;
    std::lock_guard recorderLock(r->SyncRoot());
    r->SetSizeImageBufferPreRecording(k::kPreRecordingImages);
    r->SetImageSize(imageStream ? imageStream->GetImageBufferSize() : 0);
}

void CaptureDevice::RecorderStatusUpdated(const Recorder::RecorderStatusEventArgs& e) {
    if (e.State == RECORDING_STATE::STOPPED)
        recordingStatus.Raise(this, {Devices::RecordingStatus::Stopped});
    else if (e.State == RECORDING_STATE::RECORDING)
        recordingStatus.Raise(this, {Devices::RecordingStatus::Recording});
}

void CaptureDevice::Recorder_Setup(XElement element) {
    // Setup never fails towards the host: whatever succeeded before an error stays.
    try {
        std::lock_guard lock(syncRoot);
        Entities::XmlUtils::RecorderXml settings;
        settings.SetXMLData(element);
        if (!recorder) {
            if (RecorderAllowed()) CreateRecorder(settings.IsPreRecordingEnabled());
        } else {
            recorder->SetIsPreRecordingEnabled(settings.IsPreRecordingEnabled());
        }
        if (recorder) recorder->Setup(element);
    } catch (...) {
    }
}

void CaptureDevice::Recorder_Start(std::uint64_t value) {
    if (Recorder::Recorder* r = recorderView.load()) r->Start(value);
}

void CaptureDevice::Recorder_Stop(std::uint64_t value) {
    if (Recorder::Recorder* r = recorderView.load()) r->Stop(value);
}

void CaptureDevice::Recorder_Pause(std::uint64_t value) {
    if (Recorder::Recorder* r = recorderView.load()) r->Pause(value);
}

bool CaptureDevice::Recorder_IsRecording() {
    Recorder::Recorder* r = recorderView.load();
    return r && r->IsRecording();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
