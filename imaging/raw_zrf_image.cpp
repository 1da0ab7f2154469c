#include "imaging/raw_zrf_image.h"

#include <cstring>

#include "capture/mm_timing.h"
#include "imaging/field_geometry.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "support/copy/pixel_copy.h"

namespace {

using namespace Zrf;

constexpr std::int64_t kInfoOffset = 128;
constexpr std::int64_t kPixelBlockOffset = kInfoOffset + kFrameInfoSize;

std::uint32_t XorOfWords(const std::uint8_t* header) {
    std::uint32_t x = 0;
    for (int i = 0; i < 16; ++i) x ^= Load<std::uint32_t>(header + 4 * i);
    return x;
}

std::uint32_t ReverseBytes(std::uint32_t v) {
    return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

void WriteHeader(std::uint8_t* out) {
    ZrfMainHeader header = TwoBlockMainHeader("R5XX");
    header.word36 = 1;
    std::memcpy(out, &header, sizeof header);
}

void WriteEntry(std::uint8_t* out, std::uint16_t type, std::uint32_t word4, std::int64_t offset,
                std::int64_t length) {
    ZrfIndexEntry entry{};
    entry.blockType = type;
    entry.word4 = word4;
    entry.dataOffset = static_cast<std::uint32_t>(offset);
    entry.dataLength = static_cast<std::uint32_t>(length);
    std::memcpy(out, &entry, sizeof entry);
}

void StampBlock(std::uint8_t* block, std::uint16_t frameRate) {
    MMTiming clock;
    std::int32_t seconds = 0;
    std::int32_t milliseconds = 0;
    std::int16_t timeZone = 0;
    clock.GetTime(seconds, milliseconds, timeZone);
    Store(block + Info::kSeconds, seconds);
    Store(block + Info::kMilliseconds, milliseconds);
    Store(block + Info::kTimeZone, timeZone);
    Store<std::uint16_t>(block + Info::kLiveFlag, 1);
    std::memcpy(block + Info::kText, "Live", 5);
    Store(block + Info::kFrameRate, frameRate);
}

}  // namespace

std::int32_t RawZrfImageSize(ImageSize size) {
    const FieldGeometry g = MakeFieldGeometry(size, 1);
    return g.valid ? static_cast<std::int32_t>(g.pictureBytes + kTwoBlockOverhead) : 0;
}

bool BuildRawZrfImage(std::uint8_t* out, const std::uint8_t* sample, std::int32_t sampleLength,
                      ImageSize size, std::uint16_t frameRate) {
    const FieldGeometry g = MakeFieldGeometry(size, 1);
    if (!g.valid || out == nullptr || sample == nullptr ||
        sampleLength < g.pictureBytes + kFrameInfoSize) {
        return false;
    }
    const auto pixelBytes = static_cast<std::size_t>(g.pictureBytes);
    WriteHeader(out);
    WriteEntry(out + kIndexOffset, kFrameInfoBlock, 106, kInfoOffset, kFrameInfoSize);
    std::uint8_t* block = out + kInfoOffset;
    std::memcpy(block, sample + pixelBytes, kFrameInfoSize);
    SwapFrameInfoBlock(block);
    StampBlock(block, frameRate);

    WriteEntry(out + kIndexOffset + kIndexEntrySize, kPixelBlock, 0, kPixelBlockOffset,
               g.pictureBytes + kGeometrySize);
    std::memcpy(out + kPixelBlockOffset, block, kGeometrySize);
    CopyPixels(out + kPixelBlockOffset + kGeometrySize, sample, pixelBytes, false);

    Store<std::uint16_t>(out + 36, 0);
    SwapByMap(out, MainHeaderByteOrderMap());
    SwapByMap(out + kIndexOffset, IndexEntryByteOrderMap());
    Store(out + 60, ReverseBytes(XorOfWords(out)));
    SwapByMap(out + kIndexOffset + kIndexEntrySize, IndexEntryByteOrderMap());
    return true;
}

std::uint32_t ZrfHeaderChecksumResidue(const std::uint8_t* header) {
    const std::uint32_t stored = Load<std::uint32_t>(header + 60);
    return XorOfWords(header) ^ stored ^ ReverseBytes(stored);
}
