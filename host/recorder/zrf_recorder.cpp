#include "host/recorder/zrf_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "host/logging/logger.h"
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
    waitForDisk_ = settings_.WaitForDisk();
    preRecordingEnabled_ = settings_.IsPreRecordingEnabled();
    if (preRecordingEnabled_) usePreRecording_ = true;
    if (settings_.MaxNumberOfFramesInPreRecording() > 0)
        ringCapacity_ = settings_.MaxNumberOfFramesInPreRecording();
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
    std::unique_ptr<RecordingWriter> writer =
        path.back() == '/' || fs::is_directory(path, ec)
            ? RecordingWriter::Numbered(path, nextNumber_, NowTicks(), size)
            : std::make_unique<RecordingWriter>(path, NowTicks(), size);
    writer->UseWrites(writes_);
    return writer;
}

// The queue takes the file Start wrote the ring to. A file system that refuses direct writes is
// written through the page cache: said once, as each recording there would say it again.
void ZRFRecorder::BeginQueue() {
    auto file = std::move(starting_);
    const SinkStart start = queue_->Begin(wrap_ ? wrap_(std::move(file)) : std::move(file));
    writeBlock_ = start.block;
    queueHasLast_ = true;
    if (start.fallback.empty() || fallbackTraced_) return;
    fallbackTraced_ = true;
    ::Vorn::Zephra::Diagnostics::Log::Logger::Trace("recorder: writing '" + lastPath_ +
                                    "' through the page cache: direct writes refused (" +
                                    start.fallback + ")");
}

void ZRFRecorder::SetWrites(const RecordingWrites& writes) {
    std::lock_guard lock(SyncRoot());
    writes_ = writes;
}

std::size_t ZRFRecorder::WriteBlock() {
    std::lock_guard lock(SyncRoot());
    return writeBlock_;
}

// The queue and its thread are made once and live as long as the recorder (a caller may be
// waiting on it with the recorder's lock let go); its buffers follow the image size. Growing
// while recording, they take some room to spare, so a size that creeps up does not empty the
// queue at every image.
void ZRFRecorder::MakeQueue(bool spare) {
    const auto size = static_cast<std::size_t>(imageSize_);
    if (size > kMaxFrameRecordLength)
        throw System::IOException("cannot record images of " + std::to_string(size) +
                                  " bytes: a recording holds images of at most " +
                                  std::to_string(kMaxFrameRecordLength) + " bytes");
    const std::size_t buffer = spare ? std::min<std::size_t>((size + size / 4 + 4095) / 4096 * 4096, kMaxFrameRecordLength)
                                     : size;
    try {
        if (!queue_)
            queue_ = std::make_unique<ImageWriteQueue>(buffer, WriteQueueSlots(buffer));
        else if (queue_->ImageSize() != buffer)
            queue_->Resize(buffer, WriteQueueSlots(buffer));
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
        MakeQueue(true);
    } catch (const System::IOException& e) {
        lastError_ = e.Message();
        StopRecording();
    }
}

void ZRFRecorder::Start(std::uint64_t value) {
    std::unique_lock lock(SyncRoot());
    if (disposed_) throw System::ObjectDisposedException("The recorder is disposed.");
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) return;
    // The last recording's file is closed and its numbers are final before a new one begins.
    WaitForFile(lock);
    if (disposed_) throw System::ObjectDisposedException("The recorder is disposed.");
    if (state_ != RECORDING_STATE::STOPPED) return;  // another caller started one meanwhile
    MakeQueue(false);
    starting_ = OpenWriter();
    const std::uint64_t recording = ++recordings_;
    droppedBefore_ += DroppedNow();
    queueHasLast_ = false;
    lastPath_ = starting_->Path();
    lastFrames_ = ringWritten_ = refused_ = ringLost_ = queueLost_ = taken_ = mostWaiting_ = 0;
    lastError_.clear();
    framesToRecord_ = value;
    ChangeState(RECORDING_STATE::RECORDING);
    FlushRing(recording);
    // A handler may have stopped the recording (and started the next), or the ring ended it.
    if (state_ == RECORDING_STATE::STOPPED || recordings_ != recording || !starting_) return;
    BeginQueue();
    FitQueue();  // a handler of the status may have changed the image size
}

void ZRFRecorder::Flush() {
    std::unique_lock lock(SyncRoot());
    WaitForFile(lock);
}

void ZRFRecorder::WrapFiles(FileWrapper wrap) {
    std::lock_guard lock(SyncRoot());
    wrap_ = std::move(wrap);
}

// Written here, not queued: the ring may hold far more images than the queue. Each image leaves
// the ring as it is written, so a Start a handler makes meanwhile (the count reached) records
// the rest and none twice; what this recording leaves unwritten is let go.
void ZRFRecorder::FlushRing(std::uint64_t recording) {
    while (ringCount_ > 0 && state_ == RECORDING_STATE::RECORDING && starting_) {
        const RingSlot& slot = ring_[(ringNext_ + ring_.size() - ringCount_) % ring_.size()];
        --ringCount_;
        if (!starting_->Append(slot.frameNumber, slot.ticks, slot.image.data(),
                               static_cast<std::uint32_t>(slot.image.size()))) {
            ++ringLost_;
            lastError_ = starting_->Error();
            StopRecording();  // the file ends with its last complete image
            break;
        }
        lastFrames_ = ++ringWritten_;
        Taken();
    }
    if (recordings_ == recording) ringNext_ = ringCount_ = 0;
}

void ZRFRecorder::Queue(const std::uint8_t* image, std::uint64_t frameNumber, std::int64_t ticks) {
    switch (queue_->Push(frameNumber, ticks, image, static_cast<std::size_t>(imageSize_), waitForDisk_)) {
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
// closes it. The file is let go before the status is raised, so a handler may start the next
// (at the same path too).
void ZRFRecorder::StopRecording() {
    starting_.reset();
    if (queueHasLast_) queue_->End();
    ChangeState(RECORDING_STATE::STOPPED);
}

// What the queue did for the running or last recording; a failed write stops it.
void ZRFRecorder::Poll() {
    if (!queueHasLast_) return;
    const ImageWriteQueue::Progress progress = queue_->Look();
    lastFrames_ = ringWritten_ + progress.written;
    queueLost_ = progress.lost;
    mostWaiting_ = progress.mostHeld;
    if (!progress.failed) return;
    if (lastError_.empty()) lastError_ = queue_->Error();  // once: images keep coming
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
}

// Every image taken is in the file and the file is closed. The recorder's lock is let go
// meanwhile (unless the caller holds it too), so the thread adding images is not held up.
void ZRFRecorder::WaitForFile(std::unique_lock<std::recursive_mutex>& lock) {
    if (ImageWriteQueue* queue = queue_.get()) {
        lock.unlock();
        queue->Wait();
        lock.lock();
    }
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
    std::unique_lock lock(SyncRoot());
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
    WaitForFile(lock);
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
    std::unique_lock lock(SyncRoot());
    Settle(lock);
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
        // How near the disk came to losing images: the most waiting to be written at once,
        // the one being written included.
        settings.SetAttribute("MostImagesWaiting", std::to_string(mostWaiting_));
        // How its file is written: whole blocks of this many bytes around the page cache, or
        // 1, through it.
        settings.SetAttribute("WriteBlock", std::to_string(writeBlock_));
        // The memory held for images waiting for the disk: the most it can come to.
        settings.SetAttribute("QueueBytes", std::to_string(queue_ ? queue_->RingBytes() : 0));
    }
    return settings;
}

void ZRFRecorder::Dispose() {
    std::unique_lock lock(SyncRoot());
    if (disposed_) return;
    disposed_ = true;
    Poll();
    if (state_ != RECORDING_STATE::STOPPED) StopRecording();
    WaitForFile(lock);
    ring_.clear();
    ringNext_ = ringCount_ = 0;
}

RECORDING_STATE ZRFRecorder::State() {
    std::lock_guard lock(SyncRoot());
    Poll();
    return state_;
}

// Stopped, the last recording's file is complete before anything is said about it.
void ZRFRecorder::Settle(std::unique_lock<std::recursive_mutex>& lock) {
    if (state_ == RECORDING_STATE::STOPPED)
        WaitForFile(lock);
    else
        Poll();
}

std::string ZRFRecorder::CurrentPath() {
    std::unique_lock lock(SyncRoot());
    Settle(lock);
    return lastPath_;
}

std::uint64_t ZRFRecorder::FramesRecorded() {
    std::unique_lock lock(SyncRoot());
    Settle(lock);
    return lastFrames_;
}

std::uint64_t ZRFRecorder::DroppedByRecorder() {
    std::unique_lock lock(SyncRoot());
    Settle(lock);
    return droppedBefore_ + DroppedNow();
}

std::size_t ZRFRecorder::PreRecordedImages() {
    std::lock_guard lock(SyncRoot());
    return ringCount_;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
