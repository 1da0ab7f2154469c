#pragma once
// Frame content for a simulated device: real camera samples built by the sample builders from
// a thermal scene. A few distinct frames are built up front, so filling a sample on the
// streaming thread is one copy; a source of one frame copies it once per run only.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/image_types.h"
#include "sim/samples/camera_samples.h"
#include "sim/samples/thermal_scene.h"
#include "sim/video/sample_source.h"

namespace CaptureTest {

enum class SampleKind { UsbRaw, UsbJpegLs, Ieee1394, Yuy2, Mjpg };

class CameraSampleSource final : public zrf::sim::SampleSource {
  public:
    CameraSampleSource(SampleKind kind, ImageSize picture, int frames = 4) {
        zrf::sim::ThermalScene scene(picture, 7);
        std::vector<std::uint16_t> pixels(static_cast<std::size_t>(picture.width) * picture.height);
        zrf::sim::SampleSettings settings;
        settings.size = picture;
        for (int frame = 0; frame < frames; ++frame) {
            scene.Render(static_cast<std::uint64_t>(frame), pixels.data());
            settings.milliseconds = static_cast<std::uint32_t>(frame * 33 % 1000);
            std::vector<std::uint8_t> sample;
            switch (kind) {
                case SampleKind::UsbRaw:
                    zrf::sim::BuildUsbRawSample(pixels.data(), settings, sample);
                    break;
                case SampleKind::UsbJpegLs:
                    zrf::sim::BuildUsbJpegLsSample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Ieee1394:
                    zrf::sim::BuildIeee1394Sample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Yuy2:
                    zrf::sim::BuildYuy2Sample(pixels.data(), settings, sample);
                    break;
                case SampleKind::Mjpg:
                    zrf::sim::BuildMjpgSample(pixels.data(), settings, sample);
                    break;
            }
            capacity_ = std::max(capacity_, sample.size());
            samples_.push_back(std::move(sample));
        }
    }

    const std::vector<std::vector<std::uint8_t>>& Samples() const { return samples_; }

    std::size_t Capacity(const AM_MEDIA_TYPE&) const override { return capacity_; }

    std::size_t Fill(const AM_MEDIA_TYPE&, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override {
        const std::size_t index = static_cast<std::size_t>(frame % samples_.size());
        const auto& sample = samples_[index];
        const std::size_t length = std::min(sample.size(), capacity);
        // The device reuses its buffer: what is already there need not be written again.
        if (buffer != lastBuffer_ || index != lastIndex_) {
            std::memcpy(buffer, sample.data(), length);
            lastBuffer_ = buffer;
            lastIndex_ = index;
        }
        return length;
    }

  private:
    std::vector<std::vector<std::uint8_t>> samples_;
    std::size_t capacity_ = 0;
    const BYTE* lastBuffer_ = nullptr;
    std::size_t lastIndex_ = static_cast<std::size_t>(-1);
};

}  // namespace CaptureTest
