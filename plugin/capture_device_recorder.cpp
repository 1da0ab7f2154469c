// The recorder bridge: the device's recorder is created only for the radiometric format, fed
// every delivered image and kept in step with the stream's image size.
#include <algorithm>
#include <cctype>

#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "imaging/img_src_stream.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"

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
    auto created = std::make_shared<Recorder::ZRFRecorder>();
    recorderSubscription = created->RecorderStatusChanged.Subscribe(
        [this](const void*, const Recorder::RecorderStatusEventArgs& e) { RecorderStatusUpdated(e); });
    created->SetUsePreRecordingBuffer(usePreRecordingBuffer);
    created->SetFrameCounter(frameCount);
    {
        std::lock_guard state(stateMutex);
        recorder = created;  // from here on the streaming thread feeds it
    }
    UpdateRecorderImageSize(*created);
}

void CaptureDevice::EnsureRecorder() {
    if (!recorder && RecorderAllowed()) CreateRecorder(false);
}

std::shared_ptr<Recorder::Recorder> CaptureDevice::CurrentRecorder() const {
    std::lock_guard state(stateMutex);
    return recorder;
}

void CaptureDevice::CloseRecorder() {
    std::shared_ptr<Recorder::Recorder> closing;
    {
        std::lock_guard state(stateMutex);
        closing.swap(recorder);
    }
    if (!closing) return;
    // Under the recorder's lock no status change is being raised, so once unsubscribed the
    // device hears nothing more from it; closing it ends any recording cleanly.
    std::lock_guard recorderLock(closing->SyncRoot());
    closing->RecorderStatusChanged.Unsubscribe(recorderSubscription);
    closing->Dispose();
}

void CaptureDevice::UpdateRecorderImageSize() {
    if (auto r = CurrentRecorder()) UpdateRecorderImageSize(*r);
}

void CaptureDevice::UpdateRecorderImageSize(Recorder::Recorder& r) {
    std::lock_guard recorderLock(r.SyncRoot());
    r.SetSizeImageBufferPreRecording(k::kPreRecordingImages);
    r.SetImageSize(imageStream ? imageStream->GetImageBufferSize() : 0);
}

void CaptureDevice::RecorderStatusUpdated(const Recorder::RecorderStatusEventArgs& e) {
    // Raised under the recorder's lock, which host threads take after the device lock.
    HandlerScope scope(this);
    if (e.State == RECORDING_STATE::STOPPED)
        recordingStatus.Raise(this, {Devices::RecordingStatus::Stopped});
    else if (e.State == RECORDING_STATE::RECORDING)
        recordingStatus.Raise(this, {Devices::RecordingStatus::Recording});
}

void CaptureDevice::Recorder_Setup(XElement element) {
    std::lock_guard lock(syncRoot);
    // A disposed device records nothing: a recorder made now would never be closed.
    if (disposed) throw System::ObjectDisposedException(k::kDisposed);
    // Setup never fails towards the host: whatever succeeded before an error stays.
    try {
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
    if (auto r = CurrentRecorder()) r->Start(value);
}

void CaptureDevice::Recorder_Stop(std::uint64_t value) {
    if (auto r = CurrentRecorder()) r->Stop(value);
}

void CaptureDevice::Recorder_Pause(std::uint64_t value) {
    if (auto r = CurrentRecorder()) r->Pause(value);
}

bool CaptureDevice::Recorder_IsRecording() {
    auto r = CurrentRecorder();
    return r && r->IsRecording();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
