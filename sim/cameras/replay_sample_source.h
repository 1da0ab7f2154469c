#pragma once
// Plays a recording back as a USB radiometric camera: every recorded ZRF image becomes the raw
// sample (pixels, then the radiometric region) the camera would have sent for it. The
// recording is read as it plays, a frame ahead of the one sent: the first frame comes at once
// and memory does not grow with the recording. Damaged frames and frames of another size than
// the first are passed over (and counted).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "imaging/image_types.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/video/sample_source.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

class ResourceTree;

struct ReplaySettings {
    bool loop = true;  // false: the last image repeats once the recording has played
};

class ReplaySampleSource final : public SampleSource {
  public:
    // S_OK, or a failure code with the reason: the file cannot be read, holds no complete
    // frame, or its first complete frame is not a delivered ZRF image.
    static HRESULT Open(const std::string& path, const ReplaySettings& settings,
                        std::shared_ptr<ReplaySampleSource>& source, std::string& error);

    // The camera's one format: F7M0 at the recording's size with the region's rows below,
    // at the recorded frame rate.
    VideoFormat Format() const;
    ImageSize PictureSize() const { return shape_.picture; }
    // Calibrating after a correction on this tree (null: never).
    void SetTree(std::shared_ptr<ResourceTree> tree);
    // Frames of the recording passed over so far (each once, however often it loops): damaged
    // (failing their checksum), or of another size.
    std::uint64_t DamagedFrames() const { return damaged_.load(); }
    std::uint64_t OtherSizeFrames() const { return otherSize_.load(); }

    std::size_t Capacity(const AM_MEDIA_TYPE& type) const override;
    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override;
    bool Exhausted() const override { return exhausted_; }
    bool Damage(const AM_MEDIA_TYPE& type, BYTE* buffer, std::size_t length) override;

  private:
    using RecordedFrame = Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
    using RecordingReader = Vorn::Zephra::Net::Devices::Recorder::RecordingReader;

    ReplaySampleSource() = default;
    HRESULT Load(const std::string& path, std::string& error);
    // The next frame that can be played, into `frame`; false at the end of the recording.
    bool NextRecorded(RecordedFrame& frame);
    bool ReadPlayable(RecordedFrame& frame);
    // The frame after the one just sent, from the start again when looping.
    void ReadAhead();

    ReplaySettings settings_;
    std::unique_ptr<RecordingReader> reader_;
    UsbSampleShape shape_;
    REFERENCE_TIME interval_ = 333333;
    std::size_t info_offset_ = 0;  // of the status flags in a sample
    // The frame to send next, and the one read into meanwhile: both keep their capacity.
    RecordedFrame next_;
    RecordedFrame spare_;
    bool exhausted_ = false;
    bool firstPass_ = true;  // frames passed over are counted once  // not looping, and the last frame is being sent again
    std::atomic<std::uint64_t> damaged_{0};  // failing their checksums, or in damaged stretches
    std::size_t rangesCounted_ = 0;          // of the reader's damaged stretches, since its rewind
    bool endCounted_ = false;                // a damaged end counted once
    std::atomic<std::uint64_t> otherSize_{0};
    std::shared_ptr<ResourceTree> tree_;
};

}  // namespace zrf::sim
