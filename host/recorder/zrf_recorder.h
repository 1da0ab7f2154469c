#pragma once
// The radiometric recorder: counts every image it is given, keeps the last images in a
// pre-recording ring while pre-recording is on, and writes a recording file between Start and
// Stop (the ring first, oldest image first).
//
// Start(n) records n images and then stops by itself (0: until Stop). Pause(nonzero) pauses,
// Pause(0) resumes. Stop's value is not used. The file is the settings' Path; a Path that names
// a directory (or ends with '/') gets a new file "recording_NNNN.zrec" in it. Settings also
// tell what became of the running or last recording: its File, RecordedFrames, the Error that
// stopped it (empty when none did) and its DroppedFrames (images it should have held and does
// not: the one a write failed on, or images that came while the disk was far behind).
//
// Images are written by a thread of the recorder's own through a bounded queue
// (image_write_queue.h), around the page cache where the file system allows (a file system
// that refuses is written through it, and the recorder's trace says so once), so the thread
// that adds them never waits for the disk: an image that
// finds the queue full is left out and counted, unless the settings say WaitForDisk (a source
// that can wait for the disk: a replay, a camera run as fast as it goes). The ring is
// written by Start before it returns. Stop, Dispose, and Settings, CurrentPath and
// FramesRecorded once stopped, wait until every image taken is in the file and the file is
// closed; a recording that stopped by itself (its count reached, a write failed) finishes in the
// background until then. A failed write is seen by the next call (an image added, IsRecording),
// which stops the recording and says so.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/recorder/direct_writes.h"
#include "host/recorder/recorder.h"
#include "host/xml/documents.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

class ImageSink;
class ImageWriteQueue;
class RecordingWriter;

// The most the pre-recording ring holds, whatever the settings ask for: fewer images than
// asked for when they would not fit (always at least one).
inline constexpr std::size_t kMaxPreRecordingBytes = 512u * 1024u * 1024u;
inline constexpr std::size_t kMaxPreRecordingImages = 10'000;

class ZRFRecorder final : public Recorder {
  public:
    ZRFRecorder();
    ~ZRFRecorder() override;

    void SetUsePreRecordingBuffer(bool use) override;
    void SetIsPreRecordingEnabled(bool enabled) override;
    void SetSizeImageBufferPreRecording(std::int32_t images) override;
    void SetFrameCounter(std::uint64_t value) override;
    void SetImageSize(std::int32_t bytes) override;
    std::int32_t GetImageSize() override;
    bool Setup(XElement settings) override;
    // Throws System::IOException when the recording file cannot be created.
    void Start(std::uint64_t value) override;
    void Stop(std::uint64_t value) override;
    void Pause(std::uint64_t value) override;
    bool IsRecording() override;
    std::uint64_t AddImage(std::span<const std::uint8_t> buffer, std::int32_t offset,
                           std::int64_t ticks) override;
    XElement Settings() override;
    void Dispose() override;

    // Each recording's file, once Start wrote the ring to it, is handed to `wrap`; the queue
    // writes to what it returns (a test holds or fails writes through it).
    using FileWrapper = std::function<std::unique_ptr<ImageSink>(std::unique_ptr<ImageSink>)>;
    void WrapFiles(FileWrapper wrap);

    // How the recordings begun from now on are written (by default around the page cache).
    void SetWrites(const RecordingWrites& writes);
    // How the running or last recording is written: its block (1: through the page cache).
    std::size_t WriteBlock();

    // Until every image taken so far is in the file (of a running recording too).
    void Flush();

    RECORDING_STATE State();
    std::string CurrentPath();           // file of the running or last recording
    std::uint64_t FramesRecorded();      // by the running or last recording
    // Images that should have been recorded and were not, over every recording: a write failed,
    // or the queue to the disk was full.
    std::uint64_t DroppedByRecorder();
    std::size_t PreRecordedImages();     // images now in the ring

  private:
    struct RingSlot {
        std::vector<std::uint8_t> image;
        std::uint64_t frameNumber = 0;
        std::int64_t ticks = 0;
    };

    bool PreRecordingActive() const;
    void ResizeRing();
    void Remember(const std::uint8_t* image, std::uint64_t frameNumber, std::int64_t ticks);
    void Queue(const std::uint8_t* image, std::uint64_t frameNumber, std::int64_t ticks);
    void FlushRing(std::uint64_t recording);
    std::unique_ptr<RecordingWriter> OpenWriter();
    void MakeQueue(bool spare);
    void FitQueue();
    void Taken();
    void ChangeState(RECORDING_STATE state);
    void StopRecording();
    void Poll();
    void BeginQueue();
    void WaitForFile(std::unique_lock<std::recursive_mutex>& lock);
    void Settle(std::unique_lock<std::recursive_mutex>& lock);
    std::uint64_t DroppedNow();

    Entities::XmlUtils::RecorderXml settings_;
    bool usePreRecording_ = false;
    bool waitForDisk_ = false;
    bool preRecordingEnabled_ = false;
    std::int32_t ringCapacity_ = 0;
    std::uint64_t frameCounter_ = 0;
    std::int32_t imageSize_ = 0;
    RECORDING_STATE state_ = RECORDING_STATE::STOPPED;
    std::uint64_t framesToRecord_ = 0;  // 0: unlimited
    std::uint64_t taken_ = 0;           // images taken for the running recording
    // Made at the first Start; its thread writes every recording after. Its progress is the
    // running or last recording's once `queueHasLast_`.
    std::unique_ptr<ImageWriteQueue> queue_;
    bool queueHasLast_ = false;
    std::unique_ptr<RecordingWriter> starting_;  // Start writes the ring to it, then queues it
    std::uint64_t recordings_ = 0;               // begun: a handler's Start shows in it
    std::string lastPath_;
    std::uint64_t lastFrames_ = 0;
    std::uint64_t ringWritten_ = 0;  // of the last recording's, by Start
    std::uint64_t refused_ = 0;      // by the last recording: its queue was full
    std::uint64_t ringLost_ = 0;     // by the last recording: the ring's write failed
    std::uint64_t queueLost_ = 0;    // by the last recording: taken, and its write failed
    std::uint64_t mostWaiting_ = 0;  // by the last recording: images waiting at once
    std::uint64_t droppedBefore_ = 0;  // by the recordings before the last
    std::string lastError_;
    FileWrapper wrap_;
    RecordingWrites writes_;
    std::size_t writeBlock_ = 0;
    bool fallbackTraced_ = false;
    int nextNumber_ = 1;  // of the next recording made in a folder
    std::vector<RingSlot> ring_;
    std::size_t ringNext_ = 0;
    std::size_t ringCount_ = 0;
    bool disposed_ = false;
};

// Ticks (100 ns since 0001-01-01) of the current time of day.
std::int64_t NowTicks();

}  // namespace Vorn::Zephra::Net::Devices::Recorder
