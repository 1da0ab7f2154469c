#include "host/recorder/zrf_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "host/recorder/image_write_queue.h"
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
    FitQueue();
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

std::unique_ptr<RecordingWriter> ZRFRecorder::OpenWriter() {
    namespace fs = std::filesystem;
    std::string path = settings_.Path();
    if (path.empty()) path = "./";
    std::error_code ec;
    const auto size = static_cast<std::uint32_t>(imageSize_);
    if (path.back() == '/' || fs::is_directory(path, ec))
        return RecordingWriter::Numbered(path, nextNumber_, NowTicks(), size);
    return std::make_unique<RecordingWriter>(path, NowTicks(), size);
}

// The queue and its thread are made once; its buffers follow the image size.
void ZRFRecorder::MakeQueue() {
    const auto size = static_cast<std::size_t>(imageSize_);
    try {
        if (!queue_)
            queue_ = std::make_unique<ImageWriteQueue>(size, WriteQueueSlots(size));
        else if (queue_->ImageSize() != size)
            queue_->Resize(size, WriteQueueSlots(size));
    } catch (const std::exception& e) {
        throw System::IOException("cannot record: no room for the images waiting for the disk (" +
                                  std::string(e.what()) + ")");
    }
}

// An image larger than the queue's buffers while recording: they grow, once what is queued is
// written; failing that, the recording ends with the reason.
void ZRFRecorder::FitQueue() {
    if (!queue_ || !queueHasLast_ || state_ == RECORDING_STATE::STOPPED) return;
    if (static_cast<std::size_t>(imageSize_) <= queue_->ImageSize()) return;
    try {
        MakeQueue();
    } catch (const System::IOException& e) {
        lastError_ = e.Message();
        StopRecording();
    }
}

void ZRFRecorder::Start(std::uint64_t value) {
    std::lock_guard lock(SyncRoot());
    if (disposed_) throw System::ObjectDisposedException("The recorder is disposed.");
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) return;
    // The last recording's file is closed and its numbers are final before a new one begins.
    Finish();
    MakeQueue();
    std::unique_ptr<RecordingWriter> writer = OpenWriter();
    droppedBefore_ += DroppedNow();
    queueHasLast_ = false;
    lastPath_ = writer->Path();
    lastFrames_ = ringWritten_ = refused_ = ringLost_ = queueLost_ = taken_ = 0;
    lastError_.clear();
    framesToRecord_ = value;
    ChangeState(RECORDING_STATE::RECORDING);
    FlushRing(*writer);
    // A handler may have stopped the recording, or the ring ended it: the writer then closes here.
    if (state_ == RECORDING_STATE::STOPPED) return;
    queue_->Begin(wrap_ ? wrap_(std::move(writer)) : std::move(writer));
    queueHasLast_ = true;
}

void ZRFRecorder::Flush() {
    std::lock_guard lock(SyncRoot());
    Finish();
}

void ZRFRecorder::WrapFiles(FileWrapper wrap) {
    std::lock_guard lock(SyncRoot());
    wrap_ = std::move(wrap);
}

// Written here, not queued: the ring may hold far more images than the queue.
void ZRFRecorder::FlushRing(RecordingWriter& writer) {
    const std::size_t oldest = (ringNext_ + ring_.size() - ringCount_) % std::max<std::size_t>(ring_.size(), 1);
    for (std::size_t i = 0; i < ringCount_ && state_ == RECORDING_STATE::RECORDING; ++i) {
        const RingSlot& slot = ring_[(oldest + i) % ring_.size()];
        if (!writer.Append(slot.frameNumber, slot.ticks, slot.image.data(),
                           static_cast<std::uint32_t>(slot.image.size()))) {
            ++ringLost_;
            lastError_ = writer.Error();
            StopRecording();  // the file ends with its last complete image
            break;
        }
        lastFrames_ = ++ringWritten_;
        Taken();
    }
    ringNext_ = ringCount_ = 0;
}

void ZRFRecorder::Queue(const std::uint8_t* image, std::uint64_t frameNumber, std::int64_t ticks) {
    switch (queue_->Push(frameNumber, ticks, image, static_cast<std::size_t>(imageSize_))) {
        case ImageWriteQueue::Pushed::Taken: Taken(); break;
        case ImageWriteQueue::Pushed::Full: ++refused_; break;
        case ImageWriteQueue::Pushed::Failed: Poll(); break;  // stops the recording
        case ImageWriteQueue::Pushed::NoRecording: break;
    }
}

void ZRFRecorder::Taken() {
    ++taken_;
    if (framesToRecord_ != 0 && taken_ >= framesToRecord_) StopRecording();
}

// Ends the running recording without waiting for its file: the queue writes what it took, then
// closes it. The queue is told before the status is raised, so a handler may start the next.
void ZRFRecorder::StopRecording() {
    if (queueHasLast_) queue_->End();
    ChangeState(RECORDING_STATE::STOPPED);
}

// What the queue did for the running or last recording; a failed write stops it.
void ZRFRecorder::Poll() {
    if (!queueHasLast_) return;
    const ImageWriteQueue::Progress progress = queue_->Look();
    lastFrames_ = ringWritten_ + progress.written;
    queueLost_ = progress.lost;
    if (!progress.failed) return;
    if (lastError_.empty()) lastError_ = progress.error;
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
}

// Every image taken is in the file and the file is closed.
void ZRFRecorder::Finish() {
    if (queue_) queue_->Wait();
    Poll();
}

std::uint64_t ZRFRecorder::DroppedNow() {
    return refused_ + ringLost_ + queueLost_;
}

void ZRFRecorder::ChangeState(RECORDING_STATE state) {
    if (state_ == state) return;
    state_ = state;
    RecorderStatusChanged.Raise(this, {state});
}

void ZRFRecorder::Stop(std::uint64_t) {
    std::lock_guard lock(SyncRoot());
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
    Finish();
}

void ZRFRecorder::Pause(std::uint64_t value) {
    std::lock_guard lock(SyncRoot());
    Poll();
    if (state_ == RECORDING_STATE::STOPPED) return;
    ChangeState(value != 0 ? RECORDING_STATE::PAUSED : RECORDING_STATE::RECORDING);
}

bool ZRFRecorder::IsRecording() {
    std::lock_guard lock(SyncRoot());
    Poll();
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
    Poll();
    if (state_ == RECORDING_STATE::RECORDING)
        Queue(image, frameNumber, ticks);
    else if (state_ == RECORDING_STATE::STOPPED && PreRecordingActive() && !ring_.empty())
        Remember(image, frameNumber, ticks);
    return frameNumber;
}

XElement ZRFRecorder::Settings() {
    std::lock_guard lock(SyncRoot());
    Settle();
    settings_.SetIsPreRecordingEnabled(preRecordingEnabled_);
    settings_.SetImageSize(imageSize_);
    // A copy: the caller reads it while the recorder goes on changing its own.
    XElement settings = settings_.XMLData().Clone();
    // What became of the running or last recording, so a host can report a failure part way.
    if (!lastPath_.empty()) {
        settings.SetAttribute("File", lastPath_);
        settings.SetAttribute("RecordedFrames", std::to_string(lastFrames_));
        settings.SetAttribute("Error", lastError_);
        settings.SetAttribute("DroppedFrames", std::to_string(DroppedNow()));
    }
    return settings;
}

void ZRFRecorder::Dispose() {
    std::lock_guard lock(SyncRoot());
    if (disposed_) return;
    disposed_ = true;
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
    Finish();
    queueHasLast_ = false;  // its numbers stay, as Finish left them
    queue_.reset();
    ring_.clear();
    ringNext_ = ringCount_ = 0;
}

RECORDING_STATE ZRFRecorder::State() {
    std::lock_guard lock(SyncRoot());
    Poll();
    return state_;
}

// Stopped, the last recording's file is complete before anything is said about it.
void ZRFRecorder::Settle() {
    if (state_ == RECORDING_STATE::STOPPED)
        Finish();
    else
        Poll();
}

std::string ZRFRecorder::CurrentPath() {
    std::lock_guard lock(SyncRoot());
    Settle();
    return lastPath_;
}

std::uint64_t ZRFRecorder::FramesRecorded() {
    std::lock_guard lock(SyncRoot());
    Settle();
    return lastFrames_;
}

std::uint64_t ZRFRecorder::DroppedByRecorder() {
    std::lock_guard lock(SyncRoot());
    Settle();
    return droppedBefore_ + DroppedNow();
}

std::size_t ZRFRecorder::PreRecordedImages() {
    std::lock_guard lock(SyncRoot());
    return ringCount_;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
