#include "sim/cameras/replay_sample_source.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "host/recorder/recording_file.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/usb_sample_from_image.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

using Vorn::Zephra::Net::Devices::Recorder::RecordedFrame;
using Vorn::Zephra::Net::Devices::Recorder::RecordingReader;

constexpr std::int32_t kRegionRowBytes = 3840;
constexpr std::uint16_t kMaxFrameRate = 1000;

// Where the frame information's status flags lie in a sample built by WriteUsbSample.
std::size_t StatusFlagsOffset(const std::vector<std::uint8_t>& samples, ImageSize picture) {
    const std::size_t region = static_cast<std::size_t>(picture.width) * picture.height * 2;
    const std::uint8_t* r = samples.data() + region;
    const auto count = Zrf::Load<std::int32_t>(r + 28);
    for (std::int32_t i = count - 1; i >= 0; --i) {
        const std::uint8_t* entry = r + Zrf::kMainHeaderSize + i * Zrf::kIndexEntrySize;
        if (Zrf::Load<std::uint16_t>(entry) == Zrf::kFrameInfoBlock) {
            return region + Zrf::Load<std::uint32_t>(entry + 12) + Zrf::Info::kStatusFlags;
        }
    }
    return 0;
}

}  // namespace

HRESULT ReplaySampleSource::Open(const std::string& path, const ReplaySettings& settings,
                                 std::shared_ptr<ReplaySampleSource>& source, std::string& error) {
    source.reset();
    std::shared_ptr<ReplaySampleSource> made(new ReplaySampleSource());
    made->settings_ = settings;
    const HRESULT hr = made->Load(path, error);
    if (SUCCEEDED(hr)) source = std::move(made);
    return hr;
}

HRESULT ReplaySampleSource::Load(const std::string& path, std::string& error) {
    try {
        RecordingReader reader(path);
        RecordedFrame frame;
        std::uint16_t rate = 0;
        while (reader.Next(frame)) {
            if (!frame.checksumOk) continue;  // a damaged frame is not played
            UsbSampleShape shape;
            std::string why;
            if (!MeasureUsbSample(frame.image.data(), frame.image.size(), shape, why)) {
                error = path + ": frame " + std::to_string(frame.frameNumber) + " is " + why +
                        "; only radiometric recordings can be replayed";
                return E_INVALIDARG;
            }
            if (frames_ == 0) {
                picture_ = shape.picture;
                sample_bytes_ = shape.sample_bytes;
            } else if (!(shape.picture == picture_) || shape.sample_bytes != sample_bytes_) {
                error = path + ": frame " + std::to_string(frame.frameNumber) +
                        " differs in size from the first frame";
                return E_INVALIDARG;
            }
            samples_.resize(samples_.size() + sample_bytes_);
            WriteUsbSample(frame.image.data(), shape, samples_.data() + frames_ * sample_bytes_);
            if (frames_ == 0) {
                info_offset_ = StatusFlagsOffset(samples_, picture_);
                const std::size_t rate_at =
                    info_offset_ - Zrf::Info::kStatusFlags + Zrf::Info::kFrameRate;
                rate = Zrf::Load<std::uint16_t>(samples_.data() + rate_at);
            }
            ++frames_;
        }
        if (frames_ == 0) {
            error = path + ": the recording holds no complete frame";
            return E_INVALIDARG;
        }
        // The recorded rate, as the stream wrote it; a camera's whole frames per second.
        interval_ = rate > 0 && rate <= kMaxFrameRate ? 10'000'000 / rate : 333333;
        return S_OK;
    } catch (const std::bad_alloc&) {
        error = path + ": the recording does not fit in memory";
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return E_FAIL;
    }
}

VideoFormat ReplaySampleSource::Format() const {
    const LONG rows = kRegionRowBytes / (2 * std::max(picture_.width, 1));
    VideoFormat format{kSubtypeF7M0, picture_.width, picture_.height + rows, 16, 0, {interval_}};
    return format;
}

void ReplaySampleSource::SetTree(std::shared_ptr<ResourceTree> tree) {
    tree_ = std::move(tree);
}

std::size_t ReplaySampleSource::Capacity(const AM_MEDIA_TYPE& type) const {
    return std::max(sample_bytes_, ImageSizeOf(type));
}

std::size_t ReplaySampleSource::Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                                     std::size_t capacity) {
    if (type.subtype != kSubtypeF7M0 || buffer == nullptr || capacity < sample_bytes_) return 0;
    const std::uint64_t index =
        settings_.loop ? frame % frames_ : std::min<std::uint64_t>(frame, frames_ - 1);
    std::memcpy(buffer, samples_.data() + index * sample_bytes_, sample_bytes_);
    if (tree_ && tree_->TakeSampleCalibrating() && info_offset_ != 0) {
        const auto flags = Zrf::Load<std::uint16_t>(buffer + info_offset_);
        Zrf::Store<std::uint16_t>(buffer + info_offset_, static_cast<std::uint16_t>(flags | 1));
    }
    return sample_bytes_;
}

}  // namespace zrf::sim
