#include "sim/video/format_blocks.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zrf::sim {

DWORD ImageSizeOf(const VideoFormat& format) {
    if (format.image_size != 0) return format.image_size;
    long long bytes =
        static_cast<long long>(format.width) * std::abs(format.height) * format.bit_count / 8;
    return static_cast<DWORD>(std::clamp<long long>(bytes, 0, std::numeric_limits<DWORD>::max()));
}

dshow::MediaType MediaTypeFor(const VideoFormat& format, REFERENCE_TIME interval) {
    dshow::MediaType result;
    AM_MEDIA_TYPE& mt = result.Get();
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = format.subtype;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = ImageSizeOf(format);
    mt.formattype = format.format_type;
    VIDEOINFOHEADER vih{};
    vih.rcSource = {0, 0, format.width, format.height};
    vih.rcTarget = vih.rcSource;
    vih.AvgTimePerFrame = interval > 0 ? interval : NearestInterval(format, 0);
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = format.width;
    vih.bmiHeader.biHeight = format.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = format.bit_count;
    vih.bmiHeader.biCompression = format.subtype.Data1;
    vih.bmiHeader.biSizeImage = ImageSizeOf(format);
    if (vih.AvgTimePerFrame > 0) {
        long long bits = static_cast<long long>(vih.bmiHeader.biSizeImage) * 8 * 10000000LL /
                         vih.AvgTimePerFrame;
        vih.dwBitRate = static_cast<DWORD>(std::min<long long>(bits, 0xFFFFFFFFLL));
    }
    mt.cbFormat = format.format_size;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(mt.cbFormat));
    if (mt.pbFormat == nullptr) {
        mt.cbFormat = 0;
        return result;
    }
    std::memset(mt.pbFormat, 0, mt.cbFormat);
    std::memcpy(mt.pbFormat, &vih, std::min<std::size_t>(mt.cbFormat, sizeof vih));
    return result;
}

VIDEO_STREAM_CONFIG_CAPS CapsFor(const VideoFormat& format) {
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = FORMAT_VideoInfo;
    SIZE size{format.width, format.height};
    caps.InputSize = size;
    caps.MinCroppingSize = size;
    caps.MaxCroppingSize = size;
    caps.CropGranularityX = 1;
    caps.CropGranularityY = 1;
    caps.CropAlignX = 1;
    caps.CropAlignY = 1;
    caps.MinOutputSize = size;
    caps.MaxOutputSize = size;
    caps.OutputGranularityX = 1;
    caps.OutputGranularityY = 1;
    if (!format.frame_intervals.empty()) {
        auto [lo, hi] =
            std::minmax_element(format.frame_intervals.begin(), format.frame_intervals.end());
        caps.MinFrameInterval = *lo;
        caps.MaxFrameInterval = *hi;
        long long bits = static_cast<long long>(ImageSizeOf(format)) * 8;
        auto rate = [&](LONGLONG interval) {
            return interval > 0 ? static_cast<LONG>(
                                      std::min<long long>(bits * 10000000LL / interval, 0x7FFFFFFF))
                                : 0;
        };
        caps.MaxBitsPerSecond = rate(*lo);
        caps.MinBitsPerSecond = rate(*hi);
    }
    return caps;
}

const VideoFormat* FindFormat(const std::vector<VideoFormat>& formats, const AM_MEDIA_TYPE& type) {
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo ||
        type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return nullptr;
    }
    const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    for (const VideoFormat& format : formats) {
        if (format.subtype == type.subtype && format.width == bmi.biWidth &&
            format.height == bmi.biHeight && format.format_type == FORMAT_VideoInfo &&
            format.format_size >= sizeof(VIDEOINFOHEADER)) {
            return &format;
        }
    }
    return nullptr;
}

REFERENCE_TIME NearestInterval(const VideoFormat& format, REFERENCE_TIME requested) {
    if (format.frame_intervals.empty()) return 0;
    if (requested <= 0) return format.frame_intervals.front();
    REFERENCE_TIME best = format.frame_intervals.front();
    for (REFERENCE_TIME candidate : format.frame_intervals) {
        if (std::llabs(candidate - requested) < std::llabs(best - requested)) best = candidate;
    }
    return best;
}

}  // namespace zrf::sim
