// The visual paths of the image stream: YUY2 and I420 behind a VisualFrameHeader, MJPG as is.
#include <cstring>

#include "imaging/field_geometry.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"
#include "support/copy/pixel_copy.h"

DecodeResult ImgSrcStream::DecodeVisualFrame(const std::uint8_t* data, std::uint8_t* out) {
    const ImageSize size = CurrentImageSize();
    const std::int64_t length = sampleLength.load(std::memory_order_relaxed);
    const std::int64_t reserved = VisualPictureBytes(size);
    if (reserved < 0) return DecodeResult::BadFrame;

    const bool i420 = subtype == kSubtypeI420;
    // An I420 picture carries width x height x 3/2 bytes; YUY2 fills the reserved region.
    const std::int64_t needed = i420 ? reserved * 3 / 4 : reserved;
    if (length < needed) return DecodeResult::BadFrame;

    // Kept as the stream's stamp too: the recorder takes visual images with their real times.
    const FrameStamp stamp = StampField(0);

    VisualFrameHeader header{};
    std::memcpy(header.fourCc, i420 ? "I420" : "YUY2", 4);
    header.width = size.width;
    header.height = size.height;
    header.stride = size.width * 2;
    header.timeZoneMinutes = stamp.timeZoneMinutes;
    header.seconds = stamp.seconds;
    header.milliseconds = stamp.milliseconds;
    std::memcpy(out, &header, sizeof header);

    // Never read past the sample; whatever the sample does not cover is zero.
    const std::int64_t copied = length < reserved ? length : reserved;
    CopyPixels(out + sizeof header, data, static_cast<std::size_t>(copied), false);
    std::memset(out + sizeof header + copied, 0, static_cast<std::size_t>(reserved - copied));
    return DecodeResult::Ok;
}

DecodeResult ImgSrcStream::DecodeMjpgFrame(const std::uint8_t* data, std::uint8_t* out) {
    const std::int32_t length = sampleLength.load(std::memory_order_relaxed);
    if (length < 0) return DecodeResult::BadFrame;
    // The picture carries no stamp; the recorder still takes the time it arrived.
    StampField(0);
    CopyPixels(out, data, static_cast<std::size_t>(length), false);
    return DecodeResult::Ok;
}
