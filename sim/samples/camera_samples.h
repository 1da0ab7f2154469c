#pragma once
// Builds the samples cameras deliver, byte for byte, from a 16-bit picture (all fields stacked,
// row after row, width x height values) and a few settings. Every builder reuses the vector's
// capacity, so a simulated camera can build one sample per frame without growing memory.
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/image_types.h"

namespace zrf::sim {

struct SampleSettings {
    ImageSize size{640, 480};  // the picture, all fields together
    std::int32_t fieldCount = 1;
    std::uint32_t seconds = 1'700'000'000;
    std::uint32_t milliseconds = 0;
    std::int16_t timeZoneMinutes = 0;
    std::uint16_t statusFlags = 0;  // bit 0 or 5: calibrating
    float frameRate = 30.0f;
    std::uint16_t pixelByteOrder = 2;   // USB: 1 = bytes of every pixel swapped, 2 = host order
    bool pixelEntryFirst = false;       // USB index order: pixel entry before frame information
    std::uint32_t extraBlockBytes = 0;  // USB: an opaque block of this many bytes (0: none)
    std::int32_t jpegLsBitsPerSample = 16;
};

// The frame-information block as the camera fills it, in host order.
std::array<std::uint8_t, 2428> BuildFrameInfoBlock(const SampleSettings& settings);

// Pixels, then the radiometric region in host order (at least the 3840 bytes the format
// reserves for it).
void BuildUsbRawSample(const std::uint16_t* picture, const SampleSettings& settings,
                       std::vector<std::uint8_t>& sample);
// Big-endian code-stream length, the JPEG-LS code stream of the picture, the region.
// False when the codec refuses the picture.
bool BuildUsbJpegLsSample(const std::uint16_t* picture, const SampleSettings& settings,
                          std::vector<std::uint8_t>& sample);
// The same into a caller's buffer, for cameras that build samples without growing memory: the
// picture is encoded as given (16 bits). Returns the sample's length, 0 when the codec refuses
// the picture or the buffer is too small.
std::size_t BuildUsbJpegLsSampleInto(const std::uint16_t* picture, const SampleSettings& settings,
                                     std::uint8_t* out, std::size_t capacity);
// Pixels in host order, then the frame-information block big-endian.
void BuildIeee1394Sample(const std::uint16_t* picture, const SampleSettings& settings,
                         std::vector<std::uint8_t>& sample);
// Visual samples: the picture stretched to 8-bit luma, neutral chroma.
void BuildYuy2Sample(const std::uint16_t* picture, const SampleSettings& settings,
                     std::vector<std::uint8_t>& sample);
void BuildI420Sample(const std::uint16_t* picture, const SampleSettings& settings,
                     std::vector<std::uint8_t>& sample);
// A baseline JPEG of the picture (8 x 8 block averages).
void BuildMjpgSample(const std::uint16_t* picture, const SampleSettings& settings,
                     std::vector<std::uint8_t>& sample);

// Writes the USB radiometric region in host order at `region` (UsbRegionBytes long, zeroed by
// the caller) and returns the bytes it filled.
std::size_t WriteUsbRegion(const SampleSettings& settings, std::uint8_t* region);
// Bytes the USB radiometric region occupies behind the pixels of a raw sample.
std::int32_t UsbRegionBytes(const SampleSettings& settings);
// Where WriteUsbRegion puts the frame-information block, from the region's start.
std::size_t UsbFrameInfoOffset(const SampleSettings& settings);
// Writes the frame-information block of these settings over one a builder wrote at `block`
// (an IEEE-1394 sample's is big-endian): a sample built once can carry another frame's time.
void RewriteFrameInfoBlock(const SampleSettings& settings, bool bigEndian, std::uint8_t* block);

}  // namespace zrf::sim
