#pragma once
// The radiometric recorder: counts every image it is given, keeps the last images in a
// pre-recording ring while pre-recording is on, and writes a recording file between Start and
// Stop (the ring first, oldest image first).
//
// Start(n) records n images and then stops by itself (0: until Stop). Pause(nonzero) pauses,
// Pause(0) resumes. Stop's value is not used. The file is the settings' Path; a Path that names
// a directory (or ends with '/') gets a new file "recording_NNNN.zrec" in it. Settings also
// tell what became of the running or last recording: its File, RecordedFrames and the Error
// that stopped it (empty when none did).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/recorder/recorder.h"
#include "host/xml/documents.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

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

    RECORDING_STATE State();
    std::string CurrentPath();           // file of the running or last recording
    std::uint64_t FramesRecorded();      // by the running or last recording
    std::uint64_t DroppedByRecorder();   // images that could not be written (write failures)
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
    bool Write(const std::uint8_t* image, std::uint64_t frameNumber, std::int64_t ticks);
    void FlushRing();
    void OpenWriter();
    void ChangeState(RECORDING_STATE state);
    void StopRecording();

    Entities::XmlUtils::RecorderXml settings_;
    bool usePreRecording_ = false;
    bool preRecordingEnabled_ = false;
    std::int32_t ringCapacity_ = 0;
    std::uint64_t frameCounter_ = 0;
    std::int32_t imageSize_ = 0;
    RECORDING_STATE state_ = RECORDING_STATE::STOPPED;
    std::uint64_t framesToRecord_ = 0;  // 0: unlimited
    std::unique_ptr<RecordingWriter> writer_;
    std::string lastPath_;
    std::uint64_t lastFrames_ = 0;
    std::string lastError_;
    std::uint64_t dropped_ = 0;
    int nextNumber_ = 1;  // of the next recording made in a folder
    std::vector<RingSlot> ring_;
    std::size_t ringNext_ = 0;
    std::size_t ringCount_ = 0;
    bool disposed_ = false;
};

// Ticks (100 ns since 0001-01-01) of the current time of day.
std::int64_t NowTicks();

}  // namespace Vorn::Zephra::Net::Devices::Recorder
