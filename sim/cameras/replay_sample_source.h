#pragma once
// Plays a recording back as a USB radiometric camera: every recorded ZRF image becomes the raw
// sample (pixels, then the radiometric region) the camera would have sent for it. The
// recording is converted when the source is opened, so a sample is one copy.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image_types.h"
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
    // frame, or holds images that are not delivered ZRF images of one size.
    static HRESULT Open(const std::string& path, const ReplaySettings& settings,
                        std::shared_ptr<ReplaySampleSource>& source, std::string& error);

    // The camera's one format: F7M0 at the recording's size with the region's rows below,
    // at the recorded frame rate.
    VideoFormat Format() const;
    ImageSize PictureSize() const { return picture_; }
    std::size_t FrameCount() const { return frames_; }
    // Calibrating after a correction on this tree (null: never).
    void SetTree(std::shared_ptr<ResourceTree> tree);

    std::size_t Capacity(const AM_MEDIA_TYPE& type) const override;
    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override;

  private:
    ReplaySampleSource() = default;
    HRESULT Load(const std::string& path, std::string& error);

    ReplaySettings settings_;
    ImageSize picture_;
    std::size_t sample_bytes_ = 0;
    std::size_t frames_ = 0;
    REFERENCE_TIME interval_ = 333333;
    std::vector<std::uint8_t> samples_;  // every frame's sample, back to back
    std::size_t info_offset_ = 0;        // of the status flags in a sample
    std::shared_ptr<ResourceTree> tree_;
};

}  // namespace zrf::sim
