#pragma once
// Writes a recording's images on a thread of its own, so a write that waits for the disk holds
// this queue and not the camera's streaming thread.
//
// Records are packed one after the other into one ring of memory made with the queue, never per
// image: the copy Push makes (the record's checksum made in the same pass) is the only copy of
// the image. The writing thread writes whole blocks of the file straight from the ring, around
// the page cache where the file system allows (image_sink.h); the partial block at the end is
// written padded with zeros, and again once it fills, at the latest kTailDelay after its first
// byte came, when a caller waits for the queue, and at the end, when the file's size is set to
// its last record's end. A finished file is byte for byte what writing each record in turn
// makes.
//
// A queue holds at most `slots` images waiting (not yet whole in the file, the one being
// written included); an image that finds no room is not taken: the caller counts it. When a
// write fails (a full disk), the file is cut back to its last complete image by the writer, and
// every image not yet in it and every image pushed after for the same recording are counted
// lost, not written.
//
// Thread rules: Push, Begin, End and Resize may be called from any thread but not concurrently
// (the recorder calls them under its own lock); Wait, Look and Error from any thread at any
// time. The writing thread takes only this queue's mutex, never a lock of its caller, so a
// caller may wait for it while holding its own.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/recorder/image_sink.h"
#include "host/recorder/recording_format.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// How many images a queue for images of `imageSize` bytes holds: about 32 MB of them, at least
// 2 and at most 256 (a second or more of a camera at 30 frames a second).
std::size_t WriteQueueSlots(std::size_t imageSize);

// The longest a record's last bytes wait in the ring before they are written (padded).
inline constexpr std::chrono::milliseconds kTailDelay{100};

class ImageWriteQueue {
  public:
    // Throws std::bad_alloc when the ring cannot be made, std::system_error when the thread
    // cannot.
    ImageWriteQueue(std::size_t imageSize, std::size_t slots);
    // Writes what was pushed, closes the file, ends the thread.
    ~ImageWriteQueue();
    ImageWriteQueue(const ImageWriteQueue&) = delete;
    ImageWriteQueue& operator=(const ImageWriteQueue&) = delete;

    std::size_t ImageSize() const { return imageSize_; }
    std::size_t Slots() const { return ends_.size(); }
    std::size_t RingBytes() const { return capacity_; }  // the memory it holds for images

    // The images pushed from now on go to `file`; one not ended before gets what was pushed
    // for it first, and is closed. Returns how the file is written (its fallback says why
    // direct writes were not taken).
    SinkStart Begin(std::unique_ptr<ImageSink> file);
    enum class Pushed { Taken, Full, Failed, NoRecording };
    // Copies `length` bytes (at most ImageSize) into the ring, making the record's checksum on
    // the way (the image is read once, while the caller has it in cache); with `wait`, waits
    // for room while there is none.
    Pushed Push(std::uint64_t frameNumber, std::int64_t ticks, const std::uint8_t* image,
                std::size_t length, bool wait = false);
    // The recording ends once what was pushed is written: its file is closed then.
    void End();
    // Until everything pushed is in the file (its last block written) and an ended
    // recording's file is closed.
    void Wait();
    // Room for `slots` images of `imageSize` bytes from now on; waits for what was pushed to be
    // written. Throws std::bad_alloc when the ring cannot be made: the queue then holds none
    // and its ImageSize is 0, so the next Resize makes it again.
    void Resize(std::size_t imageSize, std::size_t slots);

    struct Progress {
        std::uint64_t written = 0;  // images of the recording begun last that are in its file
        std::uint64_t lost = 0;     // images pushed for it and not written
        bool failed = false;        // the recording begun last failed
        // The most images waiting at once (the one being written included): how far the disk
        // fell behind it.
        std::uint64_t mostHeld = 0;
    };
    // Allocates nothing: the recorder looks at every image.
    Progress Look();
    std::string Error();  // why the recording begun last failed

  private:
    using Clock = std::chrono::steady_clock;
    struct Span {  // a stretch of the file to write, and what it leaves in it
        std::uint64_t from = 0, wholeTo = 0, dataTo = 0;
        bool padded = false;
    };

    std::size_t RingAt(std::uint64_t offset) const;
    void CopyIn(std::uint64_t at, const std::uint8_t* src, std::size_t length);
    std::uint32_t CopyInAndCheck(std::uint64_t at, const FrameRecordHeader& record,
                                 const std::uint8_t* image, std::size_t length);
    void Rewind();
    bool HasRoom(std::size_t bytes) const;
    bool TailDue() const;
    bool Idle() const;
    void Run();
    Span NextSpan() const;
    void WriteSpan(std::unique_lock<std::mutex>& lock, const Span& span);
    std::size_t Salvage(ImageSink* file, std::uint64_t whole, std::size_t done);
    void Failed(std::string why);
    void CloseFile(std::unique_lock<std::mutex>& lock);
    void MakeRing(std::size_t imageSize, std::size_t slots);

    std::mutex mutex_;
    std::condition_variable work_;  // the writing thread waits here
    std::condition_variable done_;  // callers wait here for it
    std::size_t imageSize_ = 0;
    AlignedBytes ring_;      // capacity_ bytes; file offset f is at (f - base_) % capacity_
    std::size_t capacity_ = 0;
    std::uint64_t base_ = 0;  // a block's start
    AlignedBytes tail_;      // the partial last block, padded, as it is written
    std::size_t block_ = 1;  // of the file begun last
    // Stretches of the file begun last, as offsets: [durable_, committed_) is in the ring and
    // needed there; before durable_ the file holds its final blocks; [durable_, onDisk_) is in
    // it too, in a padded block written again once it fills.
    std::uint64_t durable_ = 0;
    std::uint64_t onDisk_ = 0;
    std::uint64_t committed_ = 0;
    int flushAsked_ = 0;  // callers waiting for the last block
    // The records waiting: where each ends and when it came, a ring whose oldest is at head_.
    // With none waiting, onDisk_ is committed_.
    std::vector<std::uint64_t> ends_;
    std::vector<Clock::time_point> arrivals_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::uint64_t records_ = 0;     // in the file begun last
    std::uint64_t recordsEnd_ = 0;  // where they end
    bool writing_ = false;  // the thread is writing, the mutex let go
    std::unique_ptr<ImageSink> file_;
    bool ending_ = false;
    bool quit_ = false;
    Progress progress_;
    std::string error_;
    std::thread thread_;  // last: starts once the rest is made
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
