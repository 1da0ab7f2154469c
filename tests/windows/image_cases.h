#pragma once
// The images the Windows build must decode exactly as the Linux build does: which camera,
// format and windowing, and how a sample becomes the images compared (every field of the first
// frames, camera time stamps kept). The Linux build writes them (windows_reference_images), the
// Windows suite compares under Wine.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image_types.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "imaging/visual_frame_header.h"

namespace zrf::windows_tests {

struct ImageCase {
    const char* name;    // of the reference file
    const char* camera;  // the preset
    GUID subtype;
    SourceKind kind;
    std::int32_t fields;
    bool radiometricUsb;
    ImageSize size;  // what the stream is told
};

inline constexpr std::uint32_t kImageSeed = 7;
inline constexpr int kImageFrames = 2;

inline const ImageCase kImageCases[] = {
    {"usb-ir-raw", "usb-ir", kSubtypeF7M0, SourceKind::Usb, 1, true, {640, 480}},
    {"fw-ir-2-fields", "fw-ir", kSubtypeF7M2, SourceKind::Ieee1394, 2, false, {640, 480}},
    {"fw-ir-4-fields", "fw-ir", kSubtypeF7M2, SourceKind::Ieee1394, 4, false, {640, 480}},
    {"webcam-yuy2", "webcam", kSubtypeYUY2, SourceKind::Usb, 1, false, {640, 480}},
};

// A JPEG-LS sample of the usb-ir camera (raw, as the Linux camera sends it).
inline constexpr const char* kJpegLsSampleName = "usb-ir-jpegls.sample";

inline void ConfigureStream(ImgSrcStream& stream, const ImageCase& c) {
    stream.SetSourceKind(c.kind);
    stream.SetFieldCount(c.fields);
    stream.SetHostTimeStamps(false);
    stream.SetSubtype(c.subtype);
    stream.SetImageSize(c.size);
    stream.SetFrameRate(30.0f);
}

// From inside the new-image callback: every field, one after the other; empty when a field
// does not decode. A visual frame carries no camera time: the host's stamp in its header
// (time zone, seconds, milliseconds) is the one part that may differ, and is cleared.
inline std::vector<std::uint8_t> DecodeFields(ImgSrcStream& stream, const ImageCase& c) {
    const std::int32_t size = stream.GetImageBufferSize();
    if (size <= 0) return {};
    std::vector<std::uint8_t> images(static_cast<std::size_t>(size) * c.fields);
    for (std::int32_t field = 0; field < c.fields; ++field) {
        if (stream.DecodeImage(field, images.data() + static_cast<std::size_t>(size) * field) !=
            DecodeResult::Ok) {
            return {};
        }
    }
    if (c.subtype == kSubtypeYUY2 && images.size() >= sizeof(VisualFrameHeader)) {
        const std::size_t stamp = offsetof(VisualFrameHeader, timeZoneMinutes);
        std::fill(images.begin() + stamp, images.begin() + sizeof(VisualFrameHeader), 0);
    }
    return images;
}

inline std::string ReferenceName(const ImageCase& c, int frame) {
    return std::string(c.name) + "-frame" + std::to_string(frame) + ".img";
}

}  // namespace zrf::windows_tests
