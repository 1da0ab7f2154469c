#include "host/recorder/image_write_queue.h"

#include <algorithm>
#include <cstddef>

#include "host/recorder/recording_file.h"
#include "support/copy/pixel_copy.h"
#include "support/hash/crc32.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

std::size_t WriteQueueSlots(std::size_t imageSize) {
    constexpr std::size_t kBytes = 32u * 1024u * 1024u;
    return std::clamp<std::size_t>(kBytes / std::max<std::size_t>(imageSize, 1), 2, 256);
}

ImageWriteQueue::ImageWriteQueue(std::size_t imageSize, std::size_t slots)
    : imageSize_(0) {
    MakeBuffers(imageSize, slots);
    thread_ = std::thread([this] { Run(); });
}

ImageWriteQueue::~ImageWriteQueue() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        quit_ = true;
    }
    work_.notify_one();
    thread_.join();
}

// Left uninitialised: pages a writer that keeps up never reaches are never made resident. The
// old buffers go first, and the new take effect only once all are made.
void ImageWriteQueue::MakeBuffers(std::size_t imageSize, std::size_t slots) {
    slots = std::max<std::size_t>(slots, 1);
    imageSize_ = 0;
    slots_.clear();
    free_.clear();
    pending_.clear();
    head_ = count_ = 0;
    std::vector<Slot> made(slots);
    for (Slot& slot : made) slot.image = std::make_unique_for_overwrite<std::uint8_t[]>(imageSize);
    free_.reserve(slots);
    pending_.assign(slots, 0);
    for (std::size_t i = slots; i-- > 0;) free_.push_back(i);
    slots_ = std::move(made);
    imageSize_ = imageSize;
}

// The record's checksum over its header and the image, taken a piece at a time just before the
// piece is copied, so the copy reads it from the nearest cache.
std::uint32_t ImageWriteQueue::CopyAndCheck(const FrameRecordHeader& record, std::uint8_t* dst,
                                            const std::uint8_t* src, std::size_t length) {
    constexpr std::size_t kPiece = 16 * 1024;
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    std::uint32_t value = crc.Update(&record, offsetof(FrameRecordHeader, crc));
    for (std::size_t at = 0; at < length; at += kPiece) {
        const std::size_t piece = std::min(kPiece, length - at);
        value = crc.Update(src + at, static_cast<std::uint32_t>(piece));
        CopyPixels(dst + at, src + at, piece, false);
    }
    return value;
}

bool ImageWriteQueue::Idle() const { return count_ == 0 && !writing_ && !(ending_ && file_); }

void ImageWriteQueue::Begin(std::unique_ptr<ImageSink> file) {
    std::unique_lock lock(mutex_);
    // A recording not ended gets everything pushed for it first; it closes here.
    done_.wait(lock, [this] { return count_ == 0 && !writing_; });
    file_ = std::move(file);
    ending_ = false;
    progress_.written = 0;
    progress_.lost = 0;
    progress_.failed = false;
    progress_.mostHeld = 0;
    error_.clear();
}

ImageWriteQueue::Pushed ImageWriteQueue::Push(std::uint64_t frameNumber, std::int64_t ticks,
                                              const std::uint8_t* image, std::size_t length,
                                              bool wait) {
    std::unique_lock lock(mutex_);
    if (wait && length <= imageSize_)
        done_.wait(lock, [this] { return !free_.empty() || !file_ || ending_ || progress_.failed; });
    if (!file_ || ending_) return Pushed::NoRecording;
    if (progress_.failed) {
        ++progress_.lost;
        return Pushed::Failed;
    }
    if (free_.empty() || length > imageSize_) return Pushed::Full;
    const std::size_t index = free_.back();
    free_.pop_back();
    progress_.mostHeld = std::max<std::uint64_t>(progress_.mostHeld, slots_.size() - free_.size());
    // The copy runs with the lock let go: the writing thread is never held up by it.
    lock.unlock();
    Slot& slot = slots_[index];
    slot.record = FrameRecordFor(frameNumber, ticks, static_cast<std::uint32_t>(length));
    slot.record.crc = CopyAndCheck(slot.record, slot.image.get(), image, length);
    lock.lock();
    pending_[(head_ + count_) % pending_.size()] = index;
    ++count_;
    lock.unlock();
    work_.notify_one();
    return Pushed::Taken;
}

void ImageWriteQueue::End() {
    {
        std::lock_guard lock(mutex_);
        if (!file_) return;
        ending_ = true;
    }
    work_.notify_one();
}

void ImageWriteQueue::Wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return Idle(); });
}

void ImageWriteQueue::Resize(std::size_t imageSize, std::size_t slots) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return count_ == 0 && !writing_; });
    if (imageSize == imageSize_ && std::max<std::size_t>(slots, 1) == slots_.size()) return;
    MakeBuffers(imageSize, slots);
}

ImageWriteQueue::Progress ImageWriteQueue::Look() {
    std::lock_guard lock(mutex_);
    return progress_;
}

std::string ImageWriteQueue::Error() {
    std::lock_guard lock(mutex_);
    return error_;
}

void ImageWriteQueue::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return count_ > 0 || (ending_ && file_) || quit_; });
        if (count_ > 0)
            WriteFront(lock);
        else if (ending_ && file_)
            CloseFile(lock);
        else
            return;  // quit, with nothing left to write
        done_.notify_all();
    }
}

// The file is written with the lock let go: Push goes on while the disk takes its time. Only
// this thread touches the file and the slot it writes until it says so under the lock.
void ImageWriteQueue::WriteFront(std::unique_lock<std::mutex>& lock) {
    const std::size_t index = pending_[head_];
    head_ = (head_ + 1) % pending_.size();
    --count_;
    const bool failed = progress_.failed;
    ImageSink* file = file_.get();
    writing_ = true;
    lock.unlock();
    const Slot& slot = slots_[index];
    bool written = false;
    std::string why;
    try {
        written = !failed && file && file->Append(slot.record, slot.image.get());
        if (!written && file && !failed) why = file->Error();
    } catch (const std::exception& e) {  // no room for an error's text: the recording fails
        why = e.what();
    }
    lock.lock();
    writing_ = false;
    free_.push_back(index);
    if (written) {
        ++progress_.written;
        return;
    }
    ++progress_.lost;
    if (!progress_.failed) {
        progress_.failed = true;
        error_ = file ? std::move(why) : "the recording was closed";
    }
}

// Closing may remove a file without a frame: done with the lock let go too.
void ImageWriteQueue::CloseFile(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<ImageSink> closing = std::move(file_);
    writing_ = true;
    lock.unlock();
    closing.reset();
    lock.lock();
    writing_ = false;
    ending_ = false;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
