#pragma once
// The records of the ZRF image layout: main header, index entries, the frame-information block
// and its leading image geometry. Delivered images carry the header and index big-endian and
// the frame-information block and pixels little-endian (host order).
#include <cstddef>
#include <cstdint>
#include <cstring>

struct ZrfMainHeader {
    char magic[4];    // "ZRF"
    char source[16];  // NUL-terminated source text
    std::uint32_t word20;
    std::uint32_t indexOffset;  // the pipeline always reads and writes the index at 64
    std::uint32_t entryCount;
    std::uint32_t word32;
    std::uint16_t word36;
    std::uint16_t words38[7];
    std::uint32_t word52;
    std::uint32_t word56;
    std::uint32_t checksum;
};
static_assert(sizeof(ZrfMainHeader) == 64);
static_assert(offsetof(ZrfMainHeader, word36) == 36 && offsetof(ZrfMainHeader, checksum) == 60);

struct ZrfIndexEntry {
    std::uint16_t blockType;
    std::uint16_t byteOrder;  // pixel blocks: 1 = bytes swapped, 2 = host order
    std::uint32_t word4;
    std::uint32_t word8;
    std::uint32_t dataOffset;  // from the start of the image (of the region in a camera's sample)
    std::uint32_t dataLength;
    std::uint32_t words20[3];
};
static_assert(sizeof(ZrfIndexEntry) == 32);
static_assert(offsetof(ZrfIndexEntry, dataOffset) == 12 &&
              offsetof(ZrfIndexEntry, dataLength) == 16);

struct ImageGeometry {
    std::uint16_t word0;
    std::uint16_t width;
    std::uint16_t height;
    std::uint16_t words6[5];
    std::uint16_t lastRow;
    std::uint16_t words18[2];
    std::uint16_t word22;
    std::uint16_t words24[2];
    std::uint32_t word28;
};
static_assert(sizeof(ImageGeometry) == 32);
static_assert(offsetof(ImageGeometry, lastRow) == 16 && offsetof(ImageGeometry, word28) == 28);

namespace Zrf {

constexpr std::uint16_t kPixelBlock = 1;
constexpr std::uint16_t kFrameInfoBlock = 32;
constexpr std::uint16_t kPixelsSwapped = 1;
constexpr std::uint16_t kPixelsHostOrder = 2;

constexpr std::int32_t kMainHeaderSize = 64;
constexpr std::int32_t kIndexEntrySize = 32;
constexpr std::int32_t kIndexOffset = 64;
constexpr std::int32_t kGeometrySize = 32;
constexpr std::int32_t kFrameInfoSize = 2428;
// Header, two entries, frame information and geometry: what precedes the pixels of a
// two-block image.
constexpr std::int32_t kTwoBlockOverhead =
    kMainHeaderSize + 2 * kIndexEntrySize + kFrameInfoSize + kGeometrySize;
static_assert(kTwoBlockOverhead == 2588);

// Offsets within the frame-information block.
namespace Info {
constexpr std::size_t kGeometryWidth = 2;
constexpr std::size_t kGeometryHeight = 4;
constexpr std::size_t kGeometryLastRow = 16;
constexpr std::size_t kGeometryWord22 = 22;
constexpr std::size_t kGeometryWord28 = 28;
constexpr std::size_t kSeconds = 900;
constexpr std::size_t kMilliseconds = 904;
constexpr std::size_t kTimeZone = 908;
constexpr std::size_t kText = 1084;
constexpr std::size_t kTextSize = 16;
constexpr std::size_t kLiveFlag = 1100;
constexpr std::size_t kFrameRate = 1124;
constexpr std::size_t kStatusFlags = 1130;
// Bit 0 or bit 5 of the status flags: the camera is calibrating.
constexpr std::uint16_t kCalibratingMask = 33;
// Everything the pipeline reads or writes lies below this offset; a camera's block must be
// at least this long.
constexpr std::size_t kInterpretedEnd = 1132;
// The part of the block that has a byte-order map; the rest is carried unchanged.
constexpr std::size_t kMappedEnd = 1148;
}  // namespace Info

// Unaligned host-order loads and stores: camera regions sit at any offset of a sample.
template <typename T>
inline T Load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
inline void Store(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}
inline std::uint32_t LoadBigEndian32(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

// The main header of an image the pipeline builds (a frame-information block and a pixel block),
// in host order, naming its source (at most 15 characters).
inline ZrfMainHeader TwoBlockMainHeader(const char* source) {
    ZrfMainHeader header{};
    std::memcpy(header.magic, "ZRF", 4);
    std::strncpy(header.source, source, sizeof header.source - 1);
    header.word20 = 100;
    header.indexOffset = kIndexOffset;
    header.entryCount = 2;
    header.word32 = 3;
    return header;
}

}  // namespace Zrf
