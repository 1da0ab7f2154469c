// The recorder bridge: the device's recorder is created only for the radiometric format, fed
// every delivered image and kept in step with the stream's image size.
#include <exception>

#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "imaging/img_src_stream.h"
#include "plugin/capture_device.h"
#include "plugin/capture_device_constants.h"
#include "plugin/handler_scope.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

namespace k = constants;
using Recorder::RECORDING_STATE;

// Made outside every lock and stored under stateMutex, so Recorder_Setup needs no device lock.
// When another call stored one first, that one is used; once disposal retired the recorder,
// none is stored again.
std::shared_ptr<Recorder::Recorder> CaptureDevice::CreateRecorder(bool usePreRecordingBuffer) {
    auto created = std::make_shared<Recorder::ZRFRecorder>();
    const SubscriptionId subscription = created->RecorderStatusChanged.Subscribe(
        [this](const void*, const Recorder::RecorderStatusEventArgs& e) { RecorderStatusUpdated(e); });
    created->SetUsePreRecordingBuffer(usePreRecordingBuffer);
    created->SetFrameCounter(frameCount);
    // The ring's size until the host's settings name one; a size update never resets it.
    created->SetSizeImageBufferPreRecording(k::kPreRecordingImages);
    SizeRecorder(*created, StreamImageBufferSize());
    std::lock_guard state(stateMutex);
    if (recorderRetired) throw System::ObjectDisposedException(k::kDisposed);
    if (recorder) return recorder;
    recorder = created;  // from here on the streaming thread feeds it
    recorderSubscription = subscription;
    return recorder;
}

void CaptureDevice::EnsureRecorder() {
    if (!CurrentRecorder() && RecorderAllowed()) CreateRecorder(false);
}

std::shared_ptr<Recorder::Recorder> CaptureDevice::CurrentRecorder() const {
    std::lock_guard state(stateMutex);
    return recorder;
}

std::int32_t CaptureDevice::StreamImageBufferSize() const {
    std::lock_guard state(stateMutex);
    return imageStream ? imageStream->GetImageBufferSize() : 0;
}

void CaptureDevice::CloseRecorder() {
    std::shared_ptr<Recorder::Recorder> closing;
    {
        std::lock_guard state(stateMutex);
        closing.swap(recorder);
        recorderRetired = true;
    }
    if (!closing) return;
    // Under the recorder's lock no status change is being reported, so once unsubscribed the
    // device hears nothing more from it; closing it ends any recording cleanly.
    std::lock_guard recorderLock(closing->SyncRoot());
    closing->RecorderStatusChanged.Unsubscribe(recorderSubscription);
    closing->Dispose();
}

void CaptureDevice::UpdateRecorderImageSize() {
    if (auto r = CurrentRecorder()) SizeRecorder(*r, StreamImageBufferSize());
}

void CaptureDevice::SizeRecorder(Recorder::Recorder& r, std::int32_t imageBytes) {
    std::lock_guard recorderLock(r.SyncRoot());
    r.SetImageSize(imageBytes);
}

// Called under the recorder's lock: the status waits until the lock is released.
void CaptureDevice::RecorderStatusUpdated(const Recorder::RecorderStatusEventArgs& e) {
    Devices::RecordingStatus status;
    if (e.State == RECORDING_STATE::STOPPED)
        status = Devices::RecordingStatus::Stopped;
    else if (e.State == RECORDING_STATE::RECORDING)
        status = Devices::RecordingStatus::Recording;
    else
        return;
    std::lock_guard lock(statusMutex);
    pendingStatuses.push_back(status);
}

bool CaptureDevice::RaiseRecordingStatuses() {
    std::unique_lock lock(statusMutex);
    // The thread raising now raises these too, after the ones before them.
    if (statusRaising || pendingStatuses.empty()) return true;
    statusRaising = true;
    HandlerScope scope(this, HandlerScope::Context::RecorderStatus);
    const auto alive = [&scope] { return !scope.DeviceGone(); };
    // A handler's exception goes to the caller, once every status has been raised: the ones
    // after it are not held back.
    std::exception_ptr failure;
    while (!pendingStatuses.empty()) {
        const Devices::RecordingStatus status = pendingStatuses.front();
        pendingStatuses.erase(pendingStatuses.begin());
        lock.unlock();
        try {
            recordingStatus.RaiseWhile(this, {status}, alive);
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        if (scope.DeviceGone()) {
            if (failure) std::rethrow_exception(failure);
            return false;
        }
        lock.lock();
    }
    statusRaising = false;
    lock.unlock();
    if (failure) std::rethrow_exception(failure);
    return true;
}

void CaptureDevice::Recorder_Setup(XElement element) {
    AwaitDeferred();
    // A disposed device records nothing: a recorder made now would never be closed.
    if (disposed || (asked & kDisposeAsked) != 0) throw System::ObjectDisposedException(k::kDisposed);
    // Setup never fails towards the host: whatever succeeded before an error stays. It takes
    // no device lock, so a handler may set up the next recording.
    try {
        Entities::XmlUtils::RecorderXml settings;
        settings.SetXMLData(element);
        auto r = CurrentRecorder();
        if (!r) {
            if (RecorderAllowed()) r = CreateRecorder(settings.IsPreRecordingEnabled());
        } else {
            r->SetIsPreRecordingEnabled(settings.IsPreRecordingEnabled());
        }
        if (r) r->Setup(element);
    } catch (const System::ObjectDisposedException&) {
        throw;  // disposed while setting up
    } catch (...) {
    }
}

// The recorder as the host may use it now: none once a disposal was asked for, as after one.
std::shared_ptr<Recorder::Recorder> CaptureDevice::UsableRecorder() {
    AwaitDeferred();
    if ((asked & kDisposeAsked) != 0) return nullptr;
    return CurrentRecorder();
}

void CaptureDevice::Recorder_Start(std::uint64_t value) {
    if (auto r = UsableRecorder()) {
        r->Start(value);
        RaiseRecordingStatuses();
    }
}

void CaptureDevice::Recorder_Stop(std::uint64_t value) {
    if (auto r = UsableRecorder()) {
        r->Stop(value);
        RaiseRecordingStatuses();
    }
}

void CaptureDevice::Recorder_Pause(std::uint64_t value) {
    if (auto r = UsableRecorder()) {
        r->Pause(value);
        RaiseRecordingStatuses();
    }
}

bool CaptureDevice::Recorder_IsRecording() {
    auto r = (asked & kDisposeAsked) != 0 ? nullptr : CurrentRecorder();
    return r && r->IsRecording();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
