#include "sim/cameras/thermal_sample_source.h"

#include <algorithm>
#include <cstring>

#include "support/copy/pixel_copy.h"
#include "imaging/zrf_records.h"
#include "sim/control/resource_tree.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/video_presets.h"

namespace zrf::sim {
namespace {

constexpr std::int32_t kRegionRowBytes = 3840;
constexpr std::uint32_t kFirstSecond = 1'700'000'000;
constexpr REFERENCE_TIME kDefaultInterval = 333333;
constexpr GUID kSubtypeI420 = FourCCSubtype("I420");
// Counts below every scene value: a higher range maps the same scene to fewer counts above it.
constexpr std::uint32_t kRangeFloor = 4096;
// Room for the code stream's header and for pictures the codec cannot shrink.
constexpr std::size_t kJpegLsSlack = 4096;

bool IsRadiometric(const GUID& subtype) {
    return subtype != kSubtypeYUY2 && subtype != kSubtypeI420 && subtype != kSubtypeMJPG &&
           subtype != kSubtypeMJLS;
}

REFERENCE_TIME IntervalOf(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return kDefaultInterval;
    }
    const REFERENCE_TIME interval =
        reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
    return interval > 0 ? interval : kDefaultInterval;
}

// The width and height a type's header names, or zeros.
void SizeOf(const AM_MEDIA_TYPE& type, LONG& width, LONG& height) {
    width = height = 0;
    if (type.formattype != FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return;
    }
    const auto* header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    width = header->bmiHeader.biWidth;
    height = header->bmiHeader.biHeight;
}

std::size_t PixelBytes(ImageSize size) {
    return static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 2;
}

}  // namespace

ImageSize ThermalSampleSource::PictureSize(CameraBus bus, const GUID& subtype, LONG width,
                                           LONG height) {
    ImageSize size{std::clamp<LONG>(width, 0, 65535), std::clamp<LONG>(height, 0, 65535)};
    if (bus == CameraBus::Usb && IsRadiometric(subtype) && size.width > 0) {
        size.height -= kRegionRowBytes / (2 * size.width);
        size.height = std::max(size.height, 1);
    }
    if (size.width == 0 || size.height == 0) return {0, 0};
    return size;
}

ThermalSampleSource::ThermalSampleSource(const std::vector<VideoFormat>& formats,
                                         ThermalSourceSettings settings)
    : settings_(std::move(settings)), range_node_(nodes::kRangeIndex) {
    std::size_t largest_picture = 0;
    std::size_t largest_sample = 0;
    for (const VideoFormat& format : formats) {
        Plan plan{format.subtype,
                  format.width,
                  format.height,
                  PictureSize(settings_.bus, format.subtype, format.width, format.height),
                  0,
                  0};
        if (plan.picture.width == 0) continue;
        auto same = std::find_if(scenes_.begin(), scenes_.end(),
                                 [&](const auto& scene) { return scene->Size() == plan.picture; });
        plan.scene = static_cast<std::size_t>(same - scenes_.begin());
        if (same == scenes_.end()) {
            scenes_.push_back(std::make_unique<ThermalScene>(plan.picture, settings_.seed));
        }
        SampleSettings s;
        s.size = plan.picture;
        const std::size_t pixels = PixelBytes(plan.picture);
        const std::size_t region = static_cast<std::size_t>(UsbRegionBytes(s));
        if (format.subtype == kSubtypeMJLS) {
            plan.capacity = 4 + pixels + kJpegLsSlack + region;
        } else if (format.subtype == kSubtypeMJPG) {
            plan.capacity = pixels / 2 + kJpegLsSlack;  // one DC code per 8 x 8 block at most
        } else if (format.subtype == kSubtypeYUY2) {
            plan.capacity = pixels;
        } else if (format.subtype == kSubtypeI420) {
            plan.capacity = pixels * 3 / 4;
        } else if (settings_.bus == CameraBus::Ieee1394) {
            plan.capacity = pixels + Zrf::kFrameInfoSize;
        } else {
            plan.capacity = pixels + region;
        }
        largest_picture = std::max(largest_picture, pixels / 2);
        largest_sample = std::max(largest_sample, plan.capacity);
        plans_.push_back(plan);
    }
    picture_.resize(largest_picture);
    scratch_.reserve(largest_sample);
    largestSample_ = largest_sample;
}

std::uint64_t ThermalSampleSource::PreparedIndex(std::uint64_t frame) {
    constexpr std::uint64_t kPeriod = 2 * kPreparedSamples - 2;
    const std::uint64_t at = frame % kPeriod;
    return at < kPreparedSamples ? at : kPeriod - at;
}

const ThermalSampleSource::Plan* ThermalSampleSource::FindPlan(const AM_MEDIA_TYPE& type) const {
    LONG width = 0;
    LONG height = 0;
    SizeOf(type, width, height);
    for (const Plan& plan : plans_) {
        if (plan.subtype == type.subtype && plan.width == width && plan.height == height)
            return &plan;
    }
    return nullptr;
}

std::size_t ThermalSampleSource::Capacity(const AM_MEDIA_TYPE& type) const {
    const Plan* plan = FindPlan(type);
    return std::max(plan != nullptr ? plan->capacity : 0, ImageSizeOf(type));
}

std::int32_t ThermalSampleSource::RangeIndex() const {
    if (!settings_.tree) return 0;
    try {
        const TreeValue value = settings_.tree->Get(range_node_);
        const auto* index = std::get_if<std::int32_t>(&value);
        return index != nullptr ? std::clamp(*index, 0, 15) : 0;
    } catch (...) {
        return 0;  // a tree without ranges: the scene as it is
    }
}

void ThermalSampleSource::ApplyRange(std::size_t pixels, std::int32_t range) {
    if (range <= 0) return;
    const auto divisor = static_cast<std::uint32_t>(range) + 1;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t v = picture_[i];
        if (v > kRangeFloor)
            picture_[i] = static_cast<std::uint16_t>(kRangeFloor + (v - kRangeFloor) / divisor);
    }
}

std::size_t ThermalSampleSource::Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                                      std::size_t capacity) {
    const Plan* plan = FindPlan(type);
    if (plan == nullptr || buffer == nullptr) return 0;
    // Once per sample, whatever the format: a correction lasts that many samples.
    const bool calibrating = settings_.tree && settings_.tree->TakeSampleCalibrating();
    Key key{plan, RangeIndex(), 1, IntervalOf(type)};
    if (settings_.bus == CameraBus::Ieee1394 && IsRadiometric(plan->subtype)) {
        const int fields = settings_.tree ? settings_.tree->FieldsPerSample() : 1;
        key.fields = std::clamp(fields, 1, std::max(plan->picture.height, 1));
    }
    const SampleSettings sampleSettings = SettingsFor(*plan, key, frame, calibrating);
    const std::uint64_t index = PreparedIndex(frame);
    Prepared& prepared = prepared_[index];
    if (!prepared.built || !(prepared.key == key)) {
        prepared.key = key;
        Build(*plan, sampleSettings, index, prepared);
    } else if (prepared.hasInfo) {
        RewriteFrameInfoBlock(sampleSettings, settings_.bus == CameraBus::Ieee1394,
                              prepared.bytes.get() + prepared.info);
    }
    const std::size_t length = std::min(prepared.length, capacity);
    // At the processor's width, whatever the runtime's memcpy does (Wine's is narrow).
    CopyPixels(buffer, prepared.bytes.get(), length, false);
    lastHasInfo_ = prepared.hasInfo;
    lastInfo_ = prepared.info;
    return length;
}

// The camera's own stamp, which the receiver requires: zero (in either byte order), the frame
// is refused.
bool ThermalSampleSource::Damage(const AM_MEDIA_TYPE&, BYTE* buffer, std::size_t length) {
    const std::size_t at = lastInfo_ + Zrf::Info::kSeconds;
    if (!lastHasInfo_ || buffer == nullptr || at + 4 > length) return false;
    std::memset(buffer + at, 0, 4);
    return true;
}

SampleSettings ThermalSampleSource::SettingsFor(const Plan& plan, const Key& key,
                                                std::uint64_t frame, bool calibrating) const {
    const std::uint64_t elapsed_ms = frame * static_cast<std::uint64_t>(key.interval) / 10000;
    SampleSettings s;
    s.size = plan.picture;
    s.fieldCount = key.fields;
    s.seconds = kFirstSecond + static_cast<std::uint32_t>(elapsed_ms / 1000);
    s.milliseconds = static_cast<std::uint32_t>(elapsed_ms % 1000);
    s.statusFlags = calibrating ? 1 : 0;
    s.frameRate = static_cast<float>(10'000'000.0 / static_cast<double>(key.interval));
    s.pixelByteOrder = settings_.pixel_byte_order;
    return s;
}

void ThermalSampleSource::Build(const Plan& plan, const SampleSettings& s,
                                std::uint64_t sceneFrame, Prepared& prepared) {
    if (!prepared.bytes) prepared.bytes.reset(new std::uint8_t[largestSample_]);
    prepared.built = true;
    prepared.hasInfo = false;
    prepared.length = 0;
    const std::size_t pixels = PixelBytes(plan.picture) / 2;
    scenes_[plan.scene]->Render(sceneFrame, picture_.data());
    ApplyRange(pixels, prepared.key.range);

    if (plan.subtype == kSubtypeMJLS) {
        if (settings_.pixel_byte_order == Zrf::kPixelsSwapped) {
            // The camera encodes pixels whose bytes the receiver swaps back.
            for (std::size_t i = 0; i < pixels; ++i) {
                picture_[i] = static_cast<std::uint16_t>(picture_[i] << 8 | picture_[i] >> 8);
            }
        }
        prepared.length = BuildUsbJpegLsSampleInto(picture_.data(), s, prepared.bytes.get(), plan.capacity);
        const std::size_t region = static_cast<std::size_t>(UsbRegionBytes(s));
        prepared.hasInfo = prepared.length >= region;
        if (prepared.hasInfo) prepared.info = prepared.length - region + UsbFrameInfoOffset(s);
        return;
    }
    if (plan.subtype == kSubtypeYUY2) {
        BuildYuy2Sample(picture_.data(), s, scratch_);
    } else if (plan.subtype == kSubtypeI420) {
        BuildI420Sample(picture_.data(), s, scratch_);
    } else if (plan.subtype == kSubtypeMJPG) {
        BuildMjpgSample(picture_.data(), s, scratch_);
    } else if (settings_.bus == CameraBus::Ieee1394) {
        BuildIeee1394Sample(picture_.data(), s, scratch_);
        prepared.hasInfo = true;
        prepared.info = PixelBytes(plan.picture);
    } else {
        BuildUsbRawSample(picture_.data(), s, scratch_);
        prepared.hasInfo = true;
        prepared.info = PixelBytes(plan.picture) + UsbFrameInfoOffset(s);
    }
    prepared.length = std::min(scratch_.size(), plan.capacity);
    CopyPixels(prepared.bytes.get(), scratch_.data(), prepared.length, false);
}

}  // namespace zrf::sim
