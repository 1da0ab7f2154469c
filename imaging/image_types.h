#pragma once
// Small value types shared by the capture graph, the image stream and the device.
#include <cstdint>

struct ImageSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

inline bool operator==(const ImageSize& a, const ImageSize& b) {
    return a.width == b.width && a.height == b.height;
}

enum class SourceKind : std::int32_t { Usb = 1, Ieee1394 = 2 };

enum class DecodeResult : std::int32_t { Ok = 0, BadFrame = 1, Calibrating = 2 };

const char* DecodeResultName(DecodeResult result);
