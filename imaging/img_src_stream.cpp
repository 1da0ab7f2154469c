#include "imaging/img_src_stream.h"

#include <cstring>

#include "imaging/field_geometry.h"
#include "imaging/jpegls_codec.h"
#include "imaging/media_subtypes.h"
#include "imaging/usb_region.h"
#include "imaging/zrf_records.h"

namespace {

std::int32_t VisualImageSize(ImageSize size) {
    const std::int64_t bytes = VisualPictureBytes(size);
    return bytes >= 0 ? static_cast<std::int32_t>(bytes + 28) : 0;
}

}  // namespace

ImgSrcStream::~ImgSrcStream() {
    clock.Stop();
}

void ImgSrcStream::SetImageSize(ImageSize size) {
    imageSize.store(std::uint64_t{static_cast<std::uint32_t>(size.width)} << 32 |
                        static_cast<std::uint32_t>(size.height),
                    std::memory_order_relaxed);
}

ImageSize ImgSrcStream::CurrentImageSize() const {
    const std::uint64_t packed = imageSize.load(std::memory_order_relaxed);
    return ImageSize{static_cast<std::int32_t>(packed >> 32), static_cast<std::int32_t>(packed)};
}

void ImgSrcStream::OnNewSample(const std::uint8_t* buffer, std::int32_t length, ImageSize size) {
    SetImageSize(size);
    sample = buffer;
    sampleStamped = false;
    sampleInfoConverted = false;
    sampleLength.store(length, std::memory_order_relaxed);
    deliveringThread.store(std::this_thread::get_id(), std::memory_order_release);
    if (newImageCallback != nullptr) newImageCallback();
    deliveringThread.store(std::thread::id{}, std::memory_order_release);
    sample = nullptr;
}

FrameStamp ImgSrcStream::SampleStamp() {
    if (!sampleStamped) {
        sampleStamp = clock.Stamp(
            frameRate, SelectPath() == Path::Visual || SelectPath() == Path::Mjpg ? 1 : fieldCount);
        sampleStamped = true;
    }
    return sampleStamp;
}

FrameStamp ImgSrcStream::StampField(std::int32_t fieldIndex) {
    const FrameStamp stamp = FrameClock::FieldStamp(SampleStamp(), fieldCount, fieldIndex);
    timeZoneMinutes = stamp.timeZoneMinutes;
    timeSeconds = stamp.seconds;
    timeMilliseconds = stamp.milliseconds;
    return stamp;
}

void ImgSrcStream::RestartClock() {
    clock.Stop();
}

void ImgSrcStream::ContinueStampsAfter(std::int64_t milliseconds) {
    clock.ContinueAfter(milliseconds);
}

std::int64_t ImgSrcStream::LastStampMilliseconds() const {
    return clock.LastPublished();
}

void ImgSrcStream::SetSourceKind(SourceKind kind) {
    sourceKind = kind;
}
void ImgSrcStream::SetSubtype(const GUID& value) {
    subtype = value;
}
SourceKind ImgSrcStream::GetSourceKind() {
    return sourceKind;
}

void ImgSrcStream::SetFrameRate(float framesPerSecond) {
    // The next stamped frame starts the clock afresh at a new rate; reading the rate back
    // (the same rate) leaves a running clock alone.
    if (frameRate.exchange(framesPerSecond, std::memory_order_relaxed) != framesPerSecond)
        clock.Stop();
}

void ImgSrcStream::SetFieldCount(std::int32_t count) {
    if (count > 0) fieldCount = count;
}

void ImgSrcStream::SetHostTimeStamps(bool enabled) {
    hostTimeStamps = enabled;
}
void ImgSrcStream::SetNewImageCallback(NewImageCallback callback) {
    newImageCallback = callback;
}

ImgSrcStream::Path ImgSrcStream::SelectPath() const {
    if (subtype == kSubtypeYUY2 || subtype == kSubtypeI420) return Path::Visual;
    if (subtype == kSubtypeMJPG) return Path::Mjpg;
    return sourceKind == SourceKind::Ieee1394 ? Path::Ieee1394 : Path::Usb;
}

// Another thread asking during a delivery sees no sample: the buffer is the graph's and is
// only known to be valid on the delivering thread.
const std::uint8_t* ImgSrcStream::CurrentSample() const {
    if (deliveringThread.load(std::memory_order_acquire) != std::this_thread::get_id()) {
        return nullptr;
    }
    return sample;
}

FieldGeometry ImgSrcStream::Geometry() const {
    return MakeFieldGeometry(CurrentImageSize(), fieldCount);
}

bool ImgSrcStream::IsJpegLs() const {
    return subtype == kSubtypeMJLS;
}

std::int32_t ImgSrcStream::GetImageBufferSize() {
    const Path path = SelectPath();
    if (path == Path::Visual) return VisualImageSize(CurrentImageSize());
    if (path == Path::Mjpg) {
        const std::int32_t length = sampleLength.load(std::memory_order_relaxed);
        return length > 0 ? length : 0;
    }
    const std::uint8_t* data = CurrentSample();
    if (data == nullptr) return 0;
    return path == Path::Ieee1394 ? Ieee1394Size(data) : UsbRadiometricSize(data);
}

std::int32_t ImgSrcStream::Ieee1394Size(const std::uint8_t* data) const {
    const FieldGeometry g = Geometry();
    if (!g.valid ||
        sampleLength.load(std::memory_order_relaxed) < g.pictureBytes + Zrf::kFrameInfoSize) {
        return 0;
    }
    return static_cast<std::int32_t>(g.fieldBytes + Zrf::kTwoBlockOverhead);
}

// The region's index is walked for every sample (it is a few dozen bytes), so the size always
// matches what DecodeImage will write; what the cache saves is the code-stream header check.
std::int32_t ImgSrcStream::UsbRadiometricSize(const std::uint8_t* data) {
    UsbRegionLayout layout;
    const FieldGeometry g = Geometry();
    if (!MeasureUsbRegion(data, sampleLength.load(std::memory_order_relaxed), IsJpegLs(), g,
                          layout)) {
        return 0;
    }
    SizeKey key{subtype, CurrentImageSize(), fieldCount, layout.regionOffset, layout.imageSize};
    if (cachedBufferSize != 0 && key == cachedSizeKey) {
        return cachedBufferSize;
    }
    if (IsJpegLs()) {
        JlsParameters params;
        if (!ReadJpegLsHeader(data + 4, layout.codeStreamLength, params)) return 0;
    }
    cachedSizeKey = key;
    cachedBufferSize = layout.imageSize;
    return cachedBufferSize;
}

DecodeResult ImgSrcStream::DecodeImage(std::int32_t fieldIndex, std::uint8_t* out) {
    const std::uint8_t* data = CurrentSample();
    if (data == nullptr || out == nullptr) return DecodeResult::BadFrame;
    switch (SelectPath()) {
        case Path::Visual:
            return DecodeVisualFrame(data, out);
        case Path::Mjpg:
            return DecodeMjpgFrame(data, out);
        case Path::Ieee1394:
            return DecodeIeee1394Frame(data, fieldIndex, out);
        case Path::Usb:
            return DecodeUsbFrame(data, fieldIndex, out);
    }
    return DecodeResult::BadFrame;
}
