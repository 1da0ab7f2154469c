#include "host/recorder/image_write_queue.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "host/recorder/recording_file.h"
#include "support/copy/pixel_copy.h"
#include "support/hash/crc32.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

std::size_t WriteQueueSlots(std::size_t imageSize) {
    constexpr std::size_t kBytes = 32u * 1024u * 1024u;
    return std::clamp<std::size_t>(kBytes / std::max<std::size_t>(imageSize, 1), 2, 256);
}

ImageWriteQueue::ImageWriteQueue(std::size_t imageSize, std::size_t slots) {
    tail_ = AlignedBytes(kMaxDirectBlock);
    MakeRing(imageSize, slots);
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

// Room for `slots` whole records, and for the partial block kept before them. Left
// uninitialised: a writer that keeps up uses the ring's start over and over (Push moves the
// partial block back there), so pages it never reaches are never made resident. The old ring
// goes first, and the new takes effect only once it is made.
void ImageWriteQueue::MakeRing(std::size_t imageSize, std::size_t slots) {
    slots = std::max<std::size_t>(slots, 1);
    imageSize_ = 0;
    ring_.reset();
    capacity_ = 0;
    ends_.clear();
    arrivals_.clear();
    head_ = count_ = 0;
    constexpr std::size_t kMost = std::numeric_limits<std::size_t>::max() / 2;
    if (imageSize > kMost / slots) throw std::bad_alloc();  // the sum below would wrap
    const std::size_t bytes = slots * (imageSize + sizeof(FrameRecordHeader)) + 2 * kMaxDirectBlock;
    const std::size_t capacity = (bytes + kMaxDirectBlock - 1) / kMaxDirectBlock * kMaxDirectBlock;
    AlignedBytes ring(capacity);
    ends_.assign(slots, 0);
    arrivals_.assign(slots, {});
    ring_ = std::move(ring);
    capacity_ = capacity;
    imageSize_ = imageSize;
}

std::size_t ImageWriteQueue::RingAt(std::uint64_t offset) const {
    return static_cast<std::size_t>((offset - base_) % capacity_);
}

void ImageWriteQueue::CopyIn(std::uint64_t at, const std::uint8_t* src, std::size_t length) {
    const std::size_t pos = RingAt(at);
    const std::size_t first = std::min(length, capacity_ - pos);
    std::memcpy(ring_.get() + pos, src, first);
    std::memcpy(ring_.get(), src + first, length - first);
}

// The record's checksum over its header and the image, taken a piece at a time just before the
// piece is copied, so the copy reads it from the nearest cache.
std::uint32_t ImageWriteQueue::CopyInAndCheck(std::uint64_t at, const FrameRecordHeader& record,
                                              const std::uint8_t* image, std::size_t length) {
    constexpr std::size_t kPiece = 16 * 1024;
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    std::uint32_t value = crc.Update(&record, offsetof(FrameRecordHeader, crc));
    for (std::size_t done = 0; done < length;) {
        const std::size_t pos = RingAt(at + done);
        const std::size_t piece = std::min({kPiece, length - done, capacity_ - pos});
        value = crc.Update(image + done, static_cast<std::uint32_t>(piece));
        CopyPixels(ring_.get() + pos, image + done, piece, false);
        done += piece;
    }
    return value;
}

// With nothing waiting, the partial block left moves to the ring's start: the next records
// follow it there.
void ImageWriteQueue::Rewind() {
    if (count_ > 0 || writing_ || RingAt(durable_) == 0) return;
    std::memcpy(ring_.get(), ring_.get() + RingAt(durable_), static_cast<std::size_t>(committed_ - durable_));
    base_ = durable_;
}

bool ImageWriteQueue::HasRoom(std::size_t bytes) const {
    return count_ < ends_.size() && committed_ + bytes - durable_ <= capacity_;
}

bool ImageWriteQueue::TailDue() const {
    return count_ > 0 && (flushAsked_ > 0 || ending_ || Clock::now() >= arrivals_[head_] + kTailDelay);
}

bool ImageWriteQueue::Idle() const { return count_ == 0 && !writing_ && !(ending_ && file_); }

SinkStart ImageWriteQueue::Begin(std::unique_ptr<ImageSink> file) {
    std::unique_lock lock(mutex_);
    // A recording not ended gets everything pushed for it first; it closes here.
    ++flushAsked_;
    work_.notify_one();
    done_.wait(lock, [this] { return count_ == 0 && !writing_ && !(ending_ && file_); });
    --flushAsked_;
    if (file_ && !progress_.failed) file_->Finish(committed_);
    file_.reset();
    SinkStart start = file->Start(tail_.get());
    block_ = std::has_single_bit(start.block) && start.block <= kMaxDirectBlock ? start.block : 1;
    const std::uint64_t from = start.end / block_ * block_;
    base_ = durable_ = from;
    onDisk_ = committed_ = start.end;
    // A queue whose ring could not be made takes no image (Push finds it full) and writes none.
    if (capacity_ > 0) CopyIn(from, tail_.get(), static_cast<std::size_t>(start.end - from));
    records_ = 0;
    recordsEnd_ = start.end;
    file_ = std::move(file);
    ending_ = false;
    progress_ = {};
    error_.clear();
    return start;
}

ImageWriteQueue::Pushed ImageWriteQueue::Push(std::uint64_t frameNumber, std::int64_t ticks,
                                              const std::uint8_t* image, std::size_t length,
                                              bool wait) {
    const std::size_t bytes = sizeof(FrameRecordHeader) + length;
    std::unique_lock lock(mutex_);
    if (wait && length <= imageSize_)
        done_.wait(lock, [&] { return HasRoom(bytes) || !file_ || ending_ || progress_.failed; });
    if (!file_ || ending_) return Pushed::NoRecording;
    if (progress_.failed) {
        ++progress_.lost;
        return Pushed::Failed;
    }
    if (length > imageSize_ || !HasRoom(bytes)) return Pushed::Full;
    Rewind();
    const std::uint64_t at = committed_;
    progress_.mostHeld = std::max<std::uint64_t>(progress_.mostHeld, count_ + 1);
    // The copy runs with the lock let go: the writing thread is never held up by it, and
    // writes only what lies before `committed_`.
    lock.unlock();
    FrameRecordHeader record = FrameRecordFor(frameNumber, ticks, static_cast<std::uint32_t>(length));
    record.crc = CopyInAndCheck(at + sizeof record, record, image, length);
    CopyIn(at, reinterpret_cast<const std::uint8_t*>(&record), sizeof record);
    const Clock::time_point now = Clock::now();
    lock.lock();
    const std::size_t slot = (head_ + count_) % ends_.size();
    ends_[slot] = at + bytes;
    arrivals_[slot] = now;
    ++count_;
    committed_ = at + bytes;
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
    ++flushAsked_;
    work_.notify_one();
    done_.wait(lock, [this] { return Idle(); });
    --flushAsked_;
}

// The partial block of a running recording goes with it into the new ring (without a ring, it is
// still in tail_, where the file's Start put it).
void ImageWriteQueue::Resize(std::size_t imageSize, std::size_t slots) {
    std::unique_lock lock(mutex_);
    // Not a moment longer than the disk takes: the caller holds the recorder meanwhile.
    ++flushAsked_;
    work_.notify_one();
    done_.wait(lock, [this] { return count_ == 0 && !writing_; });
    --flushAsked_;
    if (imageSize == imageSize_ && std::max<std::size_t>(slots, 1) == ends_.size()) return;
    const auto kept = static_cast<std::size_t>(committed_ - durable_);
    if (ring_) std::memcpy(tail_.get(), ring_.get() + RingAt(durable_), kept);
    MakeRing(imageSize, slots);
    base_ = durable_;
    std::memcpy(ring_.get(), tail_.get(), kept);
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
        const bool writable = file_ && !progress_.failed;
        if (writable) {
            const Span span = NextSpan();
            if (span.wholeTo > span.from || span.padded) {
                WriteSpan(lock, span);
                done_.notify_all();
                continue;
            }
        }
        if (ending_ && file_ && count_ == 0) {
            CloseFile(lock);
            done_.notify_all();
            continue;
        }
        if (quit_ && !file_) return;
        if (writable && count_ > 0)
            work_.wait_until(lock, arrivals_[head_] + kTailDelay);
        else
            work_.wait(lock);
    }
}

// The whole blocks not yet written, and the partial one after them once it is due.
ImageWriteQueue::Span ImageWriteQueue::NextSpan() const {
    Span span;
    span.from = durable_;
    span.wholeTo = std::max(committed_ / block_ * block_, durable_);
    span.padded = committed_ > span.wholeTo && TailDue();
    span.dataTo = span.padded ? committed_ : span.wholeTo;
    return span;
}

// The file is written with the lock let go: Push goes on while the disk takes its time. Only
// this thread touches the file, and nothing before `committed_` in the ring changes, until it
// says so under the lock.
void ImageWriteQueue::WriteSpan(std::unique_lock<std::mutex>& lock, const Span& span) {
    std::size_t done = 0;  // the records the span completes
    while (done < count_ && ends_[(head_ + done) % ends_.size()] <= span.dataTo) ++done;
    const std::uint64_t recordsEnd = done > 0 ? ends_[(head_ + done - 1) % ends_.size()] : recordsEnd_;
    const std::uint64_t records = records_ + done;
    ImageSink* file = file_.get();
    writing_ = true;
    lock.unlock();
    BlockPiece pieces[3];
    std::size_t n = 0;
    const auto whole = static_cast<std::size_t>(span.wholeTo - span.from);
    if (whole > 0) {
        const std::size_t pos = RingAt(span.from);
        const std::size_t first = std::min(whole, capacity_ - pos);
        pieces[n++] = {ring_.get() + pos, first};
        if (first < whole) pieces[n++] = {ring_.get(), whole - first};
    }
    if (span.padded) {
        const auto tail = static_cast<std::size_t>(span.dataTo - span.wholeTo);
        std::memcpy(tail_.get(), ring_.get() + RingAt(span.wholeTo), tail);
        std::memset(tail_.get() + tail, 0, block_ - tail);
        pieces[n++] = {tail_.get(), block_};
    }
    bool written = false;
    std::string why;
    std::uint64_t reached = span.from;
    try {
        written = file->Write({std::span(pieces, n), span.from, span.dataTo, recordsEnd, records}, reached);
        if (!written) why = file->Error();
    } catch (const std::exception& e) {  // no room for an error's text: the recording fails
        why = e.what();
    }
    const std::size_t kept = written ? done : Salvage(file, std::max(reached, onDisk_), done);
    lock.lock();
    writing_ = false;
    head_ = (head_ + kept) % ends_.size();
    count_ -= kept;
    progress_.written += kept;
    if (!written) return Failed(std::move(why));
    durable_ = span.wholeTo;
    onDisk_ = std::max(onDisk_, span.dataTo);
    records_ = records;
    recordsEnd_ = recordsEnd;
}

// A failed write keeps the records whose bytes all landed before `whole` (a full disk keeps
// what fit), of the `done` the write was to complete; the lock is let go.
std::size_t ImageWriteQueue::Salvage(ImageSink* file, std::uint64_t whole, std::size_t done) {
    std::size_t k = 0;
    while (k < done && ends_[(head_ + k) % ends_.size()] <= whole) ++k;
    const std::uint64_t end = k > 0 ? ends_[(head_ + k - 1) % ends_.size()] : recordsEnd_;
    try {
        const std::uint64_t kept = file->KeepOnly(end, records_ + k);
        return kept >= records_ + k ? k : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

// Every image not yet in the file is lost with it; the ring is free again.
void ImageWriteQueue::Failed(std::string why) {
    progress_.lost += count_;
    count_ = head_ = 0;
    durable_ = onDisk_ = committed_;
    if (!progress_.failed) {
        progress_.failed = true;
        error_ = std::move(why);
    }
}

// Its size set and closed (which may remove a file without a frame), with the lock let go too.
void ImageWriteQueue::CloseFile(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<ImageSink> closing = std::move(file_);
    const bool complete = !progress_.failed;
    const std::uint64_t end = committed_;
    writing_ = true;
    lock.unlock();
    // A size that cannot be set leaves the last block's padding: the file reads back whole.
    if (complete) closing->Finish(end);
    closing.reset();
    lock.lock();
    writing_ = false;
    ending_ = false;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
