#include "host/recorder/zrf_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "support/copy/pixel_copy.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

Recorder::~Recorder() = default;

std::int64_t NowTicks() {
    using namespace std::chrono;
    constexpr std::int64_t kUnixEpochTicks = 621355968000000000;
    const auto since = duration_cast<microseconds>(system_clock::now().time_since_epoch());
    return kUnixEpochTicks + since.count() * 10;
}

ZRFRecorder::ZRFRecorder() = default;

ZRFRecorder::~ZRFRecorder() { Dispose(); }

void ZRFRecorder::SetUsePreRecordingBuffer(bool use) {
    std::lock_guard lock(SyncRoot());
    usePreRecording_ = use;
    preRecordingEnabled_ = use;
    ResizeRing();
}

void ZRFRecorder::SetIsPreRecordingEnabled(bool enabled) {
    std::lock_guard lock(SyncRoot());
    preRecordingEnabled_ = enabled;
    if (enabled) usePreRecording_ = true;
    ResizeRing();
}

void ZRFRecorder::SetSizeImageBufferPreRecording(std::int32_t images) {
    std::lock_guard lock(SyncRoot());
    ringCapacity_ = images > 0 ? images : 0;
    ResizeRing();
}

void ZRFRecorder::SetFrameCounter(std::uint64_t value) {
    std::lock_guard lock(SyncRoot());
    frameCounter_ = value;
}

void ZRFRecorder::SetImageSize(std::int32_t bytes) {
    std::lock_guard lock(SyncRoot());
    imageSize_ = bytes > 0 ? bytes : 0;
    settings_.SetImageSize(imageSize_);
    ResizeRing();
}

std::int32_t ZRFRecorder::GetImageSize() {
    std::lock_guard lock(SyncRoot());
    return imageSize_;
}

bool ZRFRecorder::Setup(XElement settings) {
    std::lock_guard lock(SyncRoot());
    settings_.SetXMLData(settings.Clone());
    preRecordingEnabled_ = settings_.IsPreRecordingEnabled();
    if (preRecordingEnabled_) usePreRecording_ = true;
    if (settings_.MaxNumberOfFramesInPreRecording() > 0)
        ringCapacity_ = settings_.MaxNumberOfFramesInPreRecording();
    settings_.SetImageSize(imageSize_);
    ResizeRing();
    return true;
}

bool ZRFRecorder::PreRecordingActive() const {
    return usePreRecording_ && preRecordingEnabled_ && ringCapacity_ > 0 && imageSize_ > 0;
}

void ZRFRecorder::ResizeRing() {
    // Buffers are made here, never per image.
    if (!PreRecordingActive()) {
        ring_.clear();
        ringNext_ = ringCount_ = 0;
        return;
    }
    // The ring's memory is bounded whatever the settings ask for: a document asking for
    // billions of images must not take the process down.
    const auto size = static_cast<std::size_t>(imageSize_);
    const std::size_t fit =
        std::max<std::size_t>(kMaxPreRecordingBytes / (size + sizeof(RingSlot)), 1);
    const auto slots =
        std::min({static_cast<std::size_t>(ringCapacity_), kMaxPreRecordingImages, fit});
    if (ring_.size() == slots && !ring_.empty() && ring_.front().image.size() == size) return;
    ring_.assign(slots, RingSlot{});
    for (RingSlot& slot : ring_) slot.image.resize(size);
    ringNext_ = ringCount_ = 0;
}

void ZRFRecorder::Remember(const std::uint8_t* image, std::uint64_t frameNumber,
                           std::int64_t ticks) {
    RingSlot& slot = ring_[ringNext_];
    CopyPixels(slot.image.data(), image, slot.image.size(), false);
    slot.frameNumber = frameNumber;
    slot.ticks = ticks;
    ringNext_ = (ringNext_ + 1) % ring_.size();
    if (ringCount_ < ring_.size()) ++ringCount_;
}

void ZRFRecorder::OpenWriter() {
    namespace fs = std::filesystem;
    std::string path = settings_.Path();
    if (path.empty()) path = "./";
    std::error_code ec;
    const auto size = static_cast<std::uint32_t>(imageSize_);
    if (path.back() == '/' || fs::is_directory(path, ec))
        writer_ = RecordingWriter::Numbered(path, nextNumber_, NowTicks(), size);
    else
        writer_ = std::make_unique<RecordingWriter>(path, NowTicks(), size);
}

void ZRFRecorder::Start(std::uint64_t value) {
    std::lock_guard lock(SyncRoot());
    if (disposed_) throw System::ObjectDisposedException("The recorder is disposed.");
    if (state_ != RECORDING_STATE::STOPPED) return;
    OpenWriter();
    lastPath_ = writer_->Path();
    lastFrames_ = 0;
    lastError_.clear();
    framesToRecord_ = value;
    ChangeState(RECORDING_STATE::RECORDING);
    FlushRing();
}

void ZRFRecorder::FlushRing() {
    const std::size_t oldest = (ringNext_ + ring_.size() - ringCount_) % std::max<std::size_t>(ring_.size(), 1);
    for (std::size_t i = 0; i < ringCount_ && state_ == RECORDING_STATE::RECORDING; ++i) {
        const RingSlot& slot = ring_[(oldest + i) % ring_.size()];
        Write(slot.image.data(), slot.frameNumber, slot.ticks);
    }
    ringNext_ = ringCount_ = 0;
}

bool ZRFRecorder::Write(const std::uint8_t* image, std::uint64_t frameNumber,
                        std::int64_t ticks) {
    if (!writer_->Append(frameNumber, ticks, image, static_cast<std::uint32_t>(imageSize_))) {
        ++dropped_;
        lastError_ = writer_->Error();
        StopRecording();  // the file ends with its last complete image
        return false;
    }
    ++lastFrames_;
    if (framesToRecord_ != 0 && lastFrames_ >= framesToRecord_) StopRecording();
    return true;
}

void ZRFRecorder::StopRecording() {
    writer_.reset();
    ChangeState(RECORDING_STATE::STOPPED);
}

void ZRFRecorder::ChangeState(RECORDING_STATE state) {
    if (state_ == state) return;
    state_ = state;
    RecorderStatusChanged.Raise(this, {state});
}

void ZRFRecorder::Stop(std::uint64_t) {
    std::lock_guard lock(SyncRoot());
    if (state_ == RECORDING_STATE::STOPPED) return;
    StopRecording();
}

void ZRFRecorder::Pause(std::uint64_t value) {
    std::lock_guard lock(SyncRoot());
    if (state_ == RECORDING_STATE::STOPPED) return;
    ChangeState(value != 0 ? RECORDING_STATE::PAUSED : RECORDING_STATE::RECORDING);
}

bool ZRFRecorder::IsRecording() {
    std::lock_guard lock(SyncRoot());
    return state_ != RECORDING_STATE::STOPPED;
}

std::uint64_t ZRFRecorder::AddImage(std::span<const std::uint8_t> buffer, std::int32_t offset,
                                    std::int64_t ticks) {
    std::lock_guard lock(SyncRoot());
    const std::uint64_t frameNumber = ++frameCounter_;
    // An image that does not fit the buffer it is said to be in is not recorded.
    if (offset < 0 || imageSize_ <= 0 ||
        static_cast<std::size_t>(offset) + static_cast<std::size_t>(imageSize_) > buffer.size())
        return frameNumber;
    const std::uint8_t* image = buffer.data() + offset;
    if (state_ == RECORDING_STATE::RECORDING)
        Write(image, frameNumber, ticks);
    else if (state_ == RECORDING_STATE::STOPPED && PreRecordingActive() && !ring_.empty())
        Remember(image, frameNumber, ticks);
    return frameNumber;
}

XElement ZRFRecorder::Settings() {
    std::lock_guard lock(SyncRoot());
    settings_.SetIsPreRecordingEnabled(preRecordingEnabled_);
    settings_.SetImageSize(imageSize_);
    // A copy: the caller reads it while the recorder goes on changing its own.
    XElement settings = settings_.XMLData().Clone();
    // What became of the running or last recording, so a host can report a failure part way.
    if (!lastPath_.empty()) {
        settings.SetAttribute("File", lastPath_);
        settings.SetAttribute("RecordedFrames", std::to_string(lastFrames_));
        settings.SetAttribute("Error", lastError_);
    }
    return settings;
}

void ZRFRecorder::Dispose() {
    std::lock_guard lock(SyncRoot());
    if (disposed_) return;
    disposed_ = true;
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
    ring_.clear();
    ringNext_ = ringCount_ = 0;
}

RECORDING_STATE ZRFRecorder::State() {
    std::lock_guard lock(SyncRoot());
    return state_;
}

std::string ZRFRecorder::CurrentPath() {
    std::lock_guard lock(SyncRoot());
    return lastPath_;
}

std::uint64_t ZRFRecorder::FramesRecorded() {
    std::lock_guard lock(SyncRoot());
    return lastFrames_;
}

std::uint64_t ZRFRecorder::DroppedByRecorder() {
    std::lock_guard lock(SyncRoot());
    return dropped_;
}

std::size_t ZRFRecorder::PreRecordedImages() {
    std::lock_guard lock(SyncRoot());
    return ringCount_;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
