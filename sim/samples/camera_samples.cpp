#include "sim/samples/camera_samples.h"

#ifndef ZRF_NO_JPEGLS
#include <charls/charls.h>
#endif

#include <algorithm>
#include <cstring>

#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"

namespace zrf::sim {
namespace {

using namespace Zrf;

constexpr std::int32_t kReservedRegionBytes = 3840;
constexpr std::uint16_t kOpaqueBlockType = 7;

std::size_t PixelBytes(const SampleSettings& s) {
    return static_cast<std::size_t>(std::max(s.size.width, 0)) *
           static_cast<std::size_t>(std::max(s.size.height, 0)) * 2;
}

// Deterministic filler standing for the calibration data a camera carries.
void FillPattern(std::uint8_t* p, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) p[i] = static_cast<std::uint8_t>(i * 37 + 11);
}

void WriteIndexEntry(std::uint8_t* p, std::uint16_t type, std::uint16_t byteOrder,
                     std::uint32_t word4, std::uint32_t offset, std::uint32_t length) {
    ZrfIndexEntry e{};
    e.blockType = type;
    e.byteOrder = byteOrder;
    e.word4 = word4;
    e.dataOffset = offset;
    e.dataLength = length;
    std::memcpy(p, &e, sizeof e);
}

}  // namespace

std::size_t WriteUsbRegion(const SampleSettings& s, std::uint8_t* region) {
    const std::uint32_t entries = s.extraBlockBytes > 0 ? 3 : 2;
    ZrfMainHeader h{};
    std::memcpy(h.magic, "ZRF", 4);
    std::memcpy(h.source, "UVC_CAMERA_7", 13);
    h.word20 = 100;
    h.indexOffset = kIndexOffset;
    h.entryCount = entries;
    h.word32 = 3;
    h.word36 = 7;  // the pipeline zeroes it
    for (int i = 0; i < 7; ++i) h.words38[i] = static_cast<std::uint16_t>(0x0101 * (i + 1));
    h.word52 = 0xA5A5A5A5;
    h.word56 = 0x01020304;
    h.checksum = 0xDEADBEEF;  // the pipeline writes 0
    std::memcpy(region, &h, sizeof h);

    const auto info = BuildFrameInfoBlock(s);
    std::uint32_t at = static_cast<std::uint32_t>(UsbFrameInfoOffset(s));
    const std::uint32_t infoAt = at;
    std::memcpy(region + infoAt, info.data(), info.size());
    at += kFrameInfoSize;
    const std::uint32_t extraAt = at;
    for (std::uint32_t i = 0; i < s.extraBlockBytes; ++i)
        region[extraAt + i] = static_cast<std::uint8_t>(0xC0 + i % 61);
    at += s.extraBlockBytes;

    const auto pixelLength = static_cast<std::uint32_t>(PixelBytes(s) + kGeometrySize);
    std::uint8_t* index = region + kIndexOffset;
    const int pixelSlot = s.pixelEntryFirst ? 0 : 1;
    const int infoSlot = 1 - pixelSlot;
    WriteIndexEntry(index + infoSlot * kIndexEntrySize, kFrameInfoBlock, 0, 106, infoAt,
                    kFrameInfoSize);
    // The pixels themselves travel in front of the region; the entry only announces them.
    WriteIndexEntry(index + pixelSlot * kIndexEntrySize, kPixelBlock, s.pixelByteOrder, 0, 0,
                    pixelLength);
    if (s.extraBlockBytes > 0) {
        WriteIndexEntry(index + 2 * kIndexEntrySize, kOpaqueBlockType, 0, 0, extraAt,
                        s.extraBlockBytes);
    }
    return at;
}

namespace {

void WritePixels(const std::uint16_t* picture, std::size_t count, bool swapped, std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t v = picture[i];
        if (swapped) v = static_cast<std::uint16_t>(v << 8 | v >> 8);
        std::memcpy(out + 2 * i, &v, 2);
    }
}

// Writes the picture stretched to 8 bits at every `step`-th byte of `out`.
void WriteLuma(const std::uint16_t* picture, std::size_t count, std::uint8_t* out, std::size_t step) {
    if (count == 0) return;
    const auto [lo, hi] = std::minmax_element(picture, picture + count);
    const std::uint32_t span = std::max<std::uint32_t>(*hi - *lo, 1);
    for (std::size_t i = 0; i < count; ++i) {
        out[i * step] = static_cast<std::uint8_t>((picture[i] - *lo) * 255u / span);
    }
}

}  // namespace

std::array<std::uint8_t, 2428> BuildFrameInfoBlock(const SampleSettings& s) {
    std::array<std::uint8_t, 2428> b{};
    FillPattern(b.data(), 32, b.size());
    std::uint8_t* p = b.data();
    Store<std::uint16_t>(p + 0, 1);
    Store(p + Info::kGeometryWidth, static_cast<std::uint16_t>(s.size.width));
    Store(p + Info::kGeometryHeight, static_cast<std::uint16_t>(s.size.height));
    for (int i = 6; i < 16; i += 2) Store<std::uint16_t>(p + i, static_cast<std::uint16_t>(i));
    Store(p + Info::kGeometryLastRow, static_cast<std::uint16_t>(s.size.height - 1));
    Store<std::uint16_t>(p + 18, 14);  // bits per pixel
    Store<std::uint16_t>(p + 20, 0);
    Store<std::uint16_t>(p + Info::kGeometryWord22, 1);  // the IEEE-1394 path clears it
    Store<std::uint16_t>(p + 24, 0);
    Store<std::uint16_t>(p + 26, 0);
    Store<std::uint32_t>(p + Info::kGeometryWord28, 0x00C0FFEE);
    Store(p + Info::kSeconds, s.seconds);
    Store(p + Info::kMilliseconds, s.milliseconds);
    Store<std::uint32_t>(p + Info::kTimeZone, static_cast<std::uint16_t>(s.timeZoneMinutes));
    std::memset(p + Info::kText, 0, Info::kTextSize);
    std::memcpy(p + Info::kText, "Camera", 7);
    Store<std::uint16_t>(p + Info::kLiveFlag, 0);
    // Whole frames per second, as the camera reports them (out-of-range rates read as 0).
    const bool inRange = s.frameRate >= 0.0f && s.frameRate < 65536.0f;
    Store(p + Info::kFrameRate, static_cast<std::uint16_t>(inRange ? s.frameRate : 0.0f));
    Store(p + Info::kStatusFlags, s.statusFlags);
    return b;
}

std::size_t UsbFrameInfoOffset(const SampleSettings& s) {
    const std::size_t entries = s.extraBlockBytes > 0 ? 3 : 2;
    return kMainHeaderSize + entries * kIndexEntrySize;
}

void RewriteFrameInfoBlock(const SampleSettings& s, bool bigEndian, std::uint8_t* block) {
    auto info = BuildFrameInfoBlock(s);
    if (bigEndian) SwapFrameInfoBlock(info.data());
    std::memcpy(block, info.data(), info.size());
}

std::int32_t UsbRegionBytes(const SampleSettings& s) {
    const std::int32_t entries = s.extraBlockBytes > 0 ? 3 : 2;
    const auto needed = static_cast<std::int32_t>(kMainHeaderSize + entries * kIndexEntrySize +
                                                  kFrameInfoSize + s.extraBlockBytes);
    return std::max(needed, kReservedRegionBytes);
}

void BuildUsbRawSample(const std::uint16_t* picture, const SampleSettings& s,
                       std::vector<std::uint8_t>& sample) {
    const std::size_t pixels = PixelBytes(s);
    sample.assign(pixels + static_cast<std::size_t>(UsbRegionBytes(s)), 0);
    WritePixels(picture, pixels / 2, s.pixelByteOrder == kPixelsSwapped, sample.data());
    WriteUsbRegion(s, sample.data() + pixels);
}

#ifdef ZRF_NO_JPEGLS
// Without the codec a camera has no JPEG-LS sample to send.
bool BuildUsbJpegLsSample(const std::uint16_t*, const SampleSettings&, std::vector<std::uint8_t>&) {
    return false;
}

std::size_t BuildUsbJpegLsSampleInto(const std::uint16_t*, const SampleSettings&, std::uint8_t*,
                                     std::size_t) {
    return 0;
}
#else
bool BuildUsbJpegLsSample(const std::uint16_t* picture, const SampleSettings& s,
                          std::vector<std::uint8_t>& sample) {
    const std::size_t count = PixelBytes(s) / 2;
    std::vector<std::uint16_t> source(picture, picture + count);
    const int bits = std::clamp(s.jpegLsBitsPerSample, 2, 16);
    if (bits < 16) {
        for (auto& v : source) v = static_cast<std::uint16_t>(v & ((1u << bits) - 1));
    }
    if (s.pixelByteOrder == kPixelsSwapped) {
        // The camera encodes pixels whose bytes the receiver has to swap back.
        for (auto& v : source) v = static_cast<std::uint16_t>(v << 8 | v >> 8);
    }
    charls_jpegls_encoder* encoder = charls_jpegls_encoder_create();
    if (encoder == nullptr) return false;
    const charls_frame_info frame{static_cast<std::uint32_t>(s.size.width),
                                  static_cast<std::uint32_t>(s.size.height), bits, 1};
    std::size_t estimate = 0;
    bool ok =
        charls_jpegls_encoder_set_frame_info(encoder, &frame) == charls::jpegls_errc::success &&
        charls_jpegls_encoder_get_estimated_destination_size(encoder, &estimate) ==
            charls::jpegls_errc::success;
    std::vector<std::uint8_t> code(estimate);
    std::size_t written = 0;
    ok = ok &&
         charls_jpegls_encoder_set_destination_buffer(encoder, code.data(), code.size()) ==
             charls::jpegls_errc::success &&
         charls_jpegls_encoder_encode_from_buffer(encoder, source.data(), count * 2, 0) ==
             charls::jpegls_errc::success &&
         charls_jpegls_encoder_get_bytes_written(encoder, &written) == charls::jpegls_errc::success;
    charls_jpegls_encoder_destroy(encoder);
    if (!ok) return false;

    sample.assign(4 + written + static_cast<std::size_t>(UsbRegionBytes(s)), 0);
    const auto length = static_cast<std::uint32_t>(written);
    const std::uint8_t prefix[4] = {
        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    std::memcpy(sample.data(), prefix, 4);
    std::memcpy(sample.data() + 4, code.data(), written);
    WriteUsbRegion(s, sample.data() + 4 + written);
    return true;
}

std::size_t BuildUsbJpegLsSampleInto(const std::uint16_t* picture, const SampleSettings& s,
                                     std::uint8_t* out, std::size_t capacity) {
    const std::size_t region = static_cast<std::size_t>(UsbRegionBytes(s));
    if (out == nullptr || capacity < 4 + region) return 0;
    charls_jpegls_encoder* encoder = charls_jpegls_encoder_create();
    if (encoder == nullptr) return 0;
    const charls_frame_info frame{static_cast<std::uint32_t>(s.size.width),
                                  static_cast<std::uint32_t>(s.size.height), 16, 1};
    std::size_t written = 0;
    const bool ok =
        charls_jpegls_encoder_set_frame_info(encoder, &frame) == charls::jpegls_errc::success &&
        charls_jpegls_encoder_set_destination_buffer(encoder, out + 4, capacity - 4 - region) ==
            charls::jpegls_errc::success &&
        charls_jpegls_encoder_encode_from_buffer(encoder, picture, PixelBytes(s), 0) ==
            charls::jpegls_errc::success &&
        charls_jpegls_encoder_get_bytes_written(encoder, &written) == charls::jpegls_errc::success;
    charls_jpegls_encoder_destroy(encoder);
    if (!ok) return 0;
    const auto length = static_cast<std::uint32_t>(written);
    out[0] = static_cast<std::uint8_t>(length >> 24);
    out[1] = static_cast<std::uint8_t>(length >> 16);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length);
    std::memset(out + 4 + written, 0, region);
    WriteUsbRegion(s, out + 4 + written);
    return 4 + written + region;
}
#endif

void BuildIeee1394Sample(const std::uint16_t* picture, const SampleSettings& s,
                         std::vector<std::uint8_t>& sample) {
    const std::size_t pixels = PixelBytes(s);
    sample.assign(pixels + kFrameInfoSize, 0);
    WritePixels(picture, pixels / 2, false, sample.data());
    auto info = BuildFrameInfoBlock(s);
    SwapFrameInfoBlock(info.data());
    std::memcpy(sample.data() + pixels, info.data(), info.size());
}

void BuildYuy2Sample(const std::uint16_t* picture, const SampleSettings& s,
                     std::vector<std::uint8_t>& sample) {
    const std::size_t count = PixelBytes(s) / 2;
    sample.assign(count * 2, 128);
    WriteLuma(picture, count, sample.data(), 2);
}

void BuildI420Sample(const std::uint16_t* picture, const SampleSettings& s,
                     std::vector<std::uint8_t>& sample) {
    const std::size_t count = PixelBytes(s) / 2;
    sample.assign(count * 3 / 2, 128);
    WriteLuma(picture, count, sample.data(), 1);
}

}  // namespace zrf::sim
