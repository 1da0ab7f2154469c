#include "sim/video/sample_source.h"

#include <algorithm>

namespace zrf::sim {

std::size_t ImageSizeOf(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(VIDEOINFOHEADER)) {
        return 0;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biSizeImage;
}

std::size_t SampleSource::Capacity(const AM_MEDIA_TYPE& type) const {
    return ImageSizeOf(type);
}

bool SampleSource::Damage(const AM_MEDIA_TYPE&, BYTE*, std::size_t) {
    return false;
}

std::size_t PatternSampleSource::Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                                      std::size_t capacity) {
    std::size_t length = std::min(ImageSizeOf(type), capacity);
    for (std::size_t i = 0; i < length; ++i) {
        buffer[i] = static_cast<BYTE>(i + frame);
    }
    for (std::size_t i = 0; i < 8 && i < length; ++i) {
        buffer[i] = static_cast<BYTE>(frame >> (8 * i));
    }
    return length;
}

}  // namespace zrf::sim
