#include "sim/cameras/replay_sample_source.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "imaging/zrf_records.h"
#include "sim/control/resource_tree.h"
#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

constexpr std::int32_t kRegionRowBytes = 3840;
constexpr std::uint16_t kMaxFrameRate = 1000;

// Where the frame information's status flags lie in a sample built by WriteUsbSample.
std::size_t StatusFlagsOffset(const std::uint8_t* sample, ImageSize picture) {
    const std::size_t region = static_cast<std::size_t>(picture.width) * picture.height * 2;
    const std::uint8_t* r = sample + region;
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

// Reads up to the first frame that plays, which decides the camera's format and rate.
HRESULT ReplaySampleSource::Load(const std::string& path, std::string& error) {
    try {
        reader_ = std::make_unique<RecordingReader>(path);
        bool found = false;
        while (!found && NextRecorded(next_)) {
            if (!next_.checksumOk) {
                ++damaged_;
                continue;
            }
            std::string why;
            if (!MeasureUsbSample(next_.image.data(), next_.image.size(), shape_, why)) {
                error = path + ": frame " + std::to_string(next_.frameNumber) + " is " + why +
                        "; only radiometric recordings can be replayed";
                return E_INVALIDARG;
            }
            found = true;
        }
        if (!found) {
            error = path + ": the recording holds no complete frame";
            return E_INVALIDARG;
        }
        std::vector<std::uint8_t> first(shape_.sample_bytes);
        WriteUsbSample(next_.image.data(), shape_, first.data());
        info_offset_ = StatusFlagsOffset(first.data(), shape_.picture);
        // The recorded rate, as the stream wrote it; a camera's whole frames per second.
        const std::size_t rate_at = info_offset_ - Zrf::Info::kStatusFlags + Zrf::Info::kFrameRate;
        const auto rate = info_offset_ != 0 ? Zrf::Load<std::uint16_t>(first.data() + rate_at) : 0;
        interval_ = rate > 0 && rate <= kMaxFrameRate ? 10'000'000 / rate : 333333;
        spare_.image.reserve(next_.image.capacity());
        return S_OK;
    } catch (const std::bad_alloc&) {
        error = path + ": the recording's first frame does not fit in memory";
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return E_FAIL;
    }
}

VideoFormat ReplaySampleSource::Format() const {
    const LONG rows = kRegionRowBytes / (2 * std::max(shape_.picture.width, 1));
    VideoFormat format{kSubtypeF7M0, shape_.picture.width, shape_.picture.height + rows, 16, 0, {interval_}};
    return format;
}

void ReplaySampleSource::SetTree(std::shared_ptr<ResourceTree> tree) {
    tree_ = std::move(tree);
}

std::size_t ReplaySampleSource::Capacity(const AM_MEDIA_TYPE& type) const {
    return std::max(shape_.sample_bytes, ImageSizeOf(type));
}

// The recording's next frame; the frames of damaged stretches the reader passed over to reach
// it count as damaged frames.
bool ReplaySampleSource::NextRecorded(RecordedFrame& frame) {
    const bool more = reader_->Next(frame);
    const auto& ranges = reader_->DamagedRanges();
    for (; rangesCounted_ < ranges.size(); ++rangesCounted_)
        if (firstPass_) damaged_ += ranges[rangesCounted_].framesLost;
    // A damaged or cut end held part of a frame at least.
    const auto end = reader_->Ending();
    if (!more && firstPass_ && !endCounted_ &&
        (end == RecordingReader::End::Damaged || end == RecordingReader::End::CutShort)) {
        endCounted_ = true;
        ++damaged_;
    }
    return more;
}

bool ReplaySampleSource::ReadPlayable(RecordedFrame& frame) {
    while (NextRecorded(frame)) {
        if (!frame.checksumOk) {
            if (firstPass_) ++damaged_;
            continue;
        }
        UsbSampleShape shape;
        std::string why;
        if (!MeasureUsbSample(frame.image.data(), frame.image.size(), shape, why) ||
            !(shape.picture == shape_.picture) || shape.sample_bytes != shape_.sample_bytes) {
            if (firstPass_) ++otherSize_;
            continue;
        }
        return true;
    }
    return false;
}

void ReplaySampleSource::ReadAhead() {
    if (exhausted_) return;
    if (ReadPlayable(spare_)) {
        std::swap(next_, spare_);
        return;
    }
    if (settings_.loop) {
        // The first frame played once, so the recording holds one to play again.
        reader_->Rewind();
        rangesCounted_ = 0;
        firstPass_ = false;
        if (ReadPlayable(spare_)) {
            std::swap(next_, spare_);
            return;
        }
    }
    exhausted_ = true;  // the frame just sent goes again
}

std::size_t ReplaySampleSource::Fill(const AM_MEDIA_TYPE& type, std::uint64_t, BYTE* buffer,
                                     std::size_t capacity) {
    if (type.subtype != kSubtypeF7M0 || buffer == nullptr || capacity < shape_.sample_bytes) return 0;
    WriteUsbSample(next_.image.data(), shape_, buffer);
    if (tree_ && tree_->TakeSampleCalibrating() && info_offset_ != 0) {
        const auto flags = Zrf::Load<std::uint16_t>(buffer + info_offset_);
        Zrf::Store<std::uint16_t>(buffer + info_offset_, static_cast<std::uint16_t>(flags | 1));
    }
    ReadAhead();
    return shape_.sample_bytes;
}

// The camera's own stamp, which the receiver requires: zero, the frame is refused.
bool ReplaySampleSource::Damage(const AM_MEDIA_TYPE&, BYTE* buffer, std::size_t length) {
    if (info_offset_ < Zrf::Info::kStatusFlags || buffer == nullptr) return false;
    const std::size_t at = info_offset_ - Zrf::Info::kStatusFlags + Zrf::Info::kSeconds;
    if (at + 4 > length) return false;
    std::memset(buffer + at, 0, 4);
    return true;
}

}  // namespace zrf::sim
