#pragma once
// Writes a recording's images on a thread of its own, so a write that waits for the disk (its
// writeback, its journal) holds this queue and not the camera's streaming thread.
//
// Its image buffers are made with it, never per image; taken last-freed first, so a writer that
// keeps up touches only a few of them. An image that finds no free buffer is not taken: the
// caller counts it. Images are written in the order they were pushed. When an append fails
// (a full disk), the file is cut back to its last complete image by the writer, and that image
// and every image pushed after it for the same recording are counted lost, not written.
//
// Thread rules: Push, Begin, End and Resize may be called from any thread but not concurrently
// (the recorder calls them under its own lock); Wait, Look and Error from any thread at any
// time. The writing thread takes only this queue's mutex, never a lock of its caller, so a
// caller may wait for it while holding its own.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/recorder/image_sink.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// How many buffers a queue for images of `imageSize` bytes holds: about 32 MB of them, at
// least 2 and at most 256 (a second or more of a camera at 30 frames a second).
std::size_t WriteQueueSlots(std::size_t imageSize);

class ImageWriteQueue {
  public:
    // Throws std::bad_alloc when the buffers cannot be made, std::system_error when the thread
    // cannot.
    ImageWriteQueue(std::size_t imageSize, std::size_t slots);
    // Writes what was pushed, closes the file, ends the thread.
    ~ImageWriteQueue();
    ImageWriteQueue(const ImageWriteQueue&) = delete;
    ImageWriteQueue& operator=(const ImageWriteQueue&) = delete;

    std::size_t ImageSize() const { return imageSize_; }
    std::size_t Slots() const { return slots_.size(); }

    // The images pushed from now on go to `file`; one not ended before gets what was pushed
    // for it first, and is closed.
    void Begin(std::unique_ptr<ImageSink> file);
    enum class Pushed { Taken, Full, Failed, NoRecording };
    // Copies `length` bytes (at most ImageSize) into a free buffer, making the record's checksum
    // on the way (the image is read once, while the caller has it in cache); with `wait`, waits
    // for a buffer while every one is taken.
    Pushed Push(std::uint64_t frameNumber, std::int64_t ticks, const std::uint8_t* image,
                std::size_t length, bool wait = false);
    // The recording ends once what was pushed is written: its file is closed then.
    void End();
    // Until everything pushed is written and an ended recording's file is closed.
    void Wait();
    // `slots` buffers of `imageSize` bytes from now on; waits for what was pushed to be
    // written. Throws std::bad_alloc when they cannot be made: the queue then holds none and
    // its ImageSize is 0, so the next Resize makes them again.
    void Resize(std::size_t imageSize, std::size_t slots);

    struct Progress {
        std::uint64_t written = 0;  // images of the recording begun last that are in its file
        std::uint64_t lost = 0;     // images pushed for it and not written
        bool failed = false;        // the recording begun last failed
        // The most buffers it held at once (the one being written included): how far the disk
        // fell behind it. Buffers are taken last-freed first, so for buffers made for it this
        // is also how many it touched; a recording after a deeper one touches no fewer.
        std::uint64_t mostHeld = 0;
    };
    // Allocates nothing: the recorder looks at every image.
    Progress Look();
    std::string Error();  // why the recording begun last failed

  private:
    struct Slot {
        std::unique_ptr<std::uint8_t[]> image;
        FrameRecordHeader record{};  // its checksum made as the image was copied in
    };

    static std::uint32_t CopyAndCheck(const FrameRecordHeader& record, std::uint8_t* dst,
                                      const std::uint8_t* src, std::size_t length);
    void Run();
    bool Idle() const;
    void WriteFront(std::unique_lock<std::mutex>& lock);
    void CloseFile(std::unique_lock<std::mutex>& lock);
    void MakeBuffers(std::size_t imageSize, std::size_t slots);

    std::mutex mutex_;
    std::condition_variable work_;  // the writing thread waits here
    std::condition_variable done_;  // callers wait here for it
    std::size_t imageSize_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> free_;     // last freed last, taken from the back
    std::vector<std::size_t> pending_;  // a ring of slot indices, oldest at head_
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool writing_ = false;  // the thread is writing a slot, the mutex let go
    std::unique_ptr<ImageSink> file_;
    bool ending_ = false;
    bool quit_ = false;
    Progress progress_;
    std::string error_;
    std::thread thread_;  // last: starts once the rest is made
};

}  // namespace Vorn::Zephra::Net::Devices::Recorder
