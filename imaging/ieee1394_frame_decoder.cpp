// IEEE-1394 samples: the stacked fields' pixels in host order, then a big-endian
// frame-information block. The image is built from scratch around them.
#include <cstring>

#include "imaging/field_geometry.h"
#include "imaging/img_src_stream.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "support/copy/pixel_copy.h"

namespace {

using namespace Zrf;

constexpr std::int64_t kInfoOffset = kMainHeaderSize + 2 * kIndexEntrySize;  // 128
constexpr std::int64_t kPixelBlockOffset = kInfoOffset + kFrameInfoSize;     // 2556

// The header is the same for every image: built and converted to file order once.
void WriteMainHeader(std::uint8_t* out) {
    static const ZrfMainHeader fileOrder = [] {
        ZrfMainHeader header = TwoBlockMainHeader("FW_ZEPHRA");
        SwapByMap(reinterpret_cast<std::uint8_t*>(&header), MainHeaderByteOrderMap());
        return header;
    }();
    std::memcpy(out, &fileOrder, sizeof fileOrder);
}

void WriteEntry(std::uint8_t* out, std::uint16_t type, std::uint16_t byteOrder, std::uint32_t word4,
                std::int64_t offset, std::int64_t length) {
    ZrfIndexEntry entry{};
    entry.blockType = type;
    entry.byteOrder = byteOrder;
    entry.word4 = word4;
    entry.dataOffset = static_cast<std::uint32_t>(offset);
    entry.dataLength = static_cast<std::uint32_t>(length);
    std::memcpy(out, &entry, sizeof entry);
}

}  // namespace

const std::uint8_t* ImgSrcStream::SampleFrameInfo(const std::uint8_t* cameraBlock) {
    if (!sampleInfoConverted) {
        std::memcpy(sampleInfo.data(), cameraBlock, kFrameInfoSize);
        SwapFrameInfoBlock(sampleInfo.data());
        sampleInfoConverted = true;
    }
    return sampleInfo.data();
}

DecodeResult ImgSrcStream::DecodeIeee1394Frame(const std::uint8_t* data, std::int32_t fieldIndex,
                                               std::uint8_t* out) {
    const FieldGeometry g = Geometry();
    if (!g.valid || fieldIndex < 0 || fieldIndex >= fieldCount ||
        sampleLength.load(std::memory_order_relaxed) < g.pictureBytes + kFrameInfoSize) {
        return DecodeResult::BadFrame;
    }

    WriteMainHeader(out);
    WriteEntry(out + kIndexOffset, kFrameInfoBlock, 0, 106, kInfoOffset, kFrameInfoSize);
    std::uint8_t* block = out + kInfoOffset;
    std::memcpy(block, SampleFrameInfo(data + g.pictureBytes), kFrameInfoSize);

    // The camera's row length locates the field; it must not reach beyond the pixels.
    const std::int64_t rowBytes =
        2 * std::int64_t{Load<std::uint16_t>(block + Info::kGeometryWidth)};
    const std::int64_t source = rowBytes * g.fieldHeight * fieldIndex;
    if (source + g.fieldBytes > g.pictureBytes) return DecodeResult::BadFrame;

    const DecodeResult checked =
        ApplyFrameInfo(block, fieldIndex, static_cast<std::int32_t>(g.fieldHeight));
    if (checked != DecodeResult::Ok) return checked;
    Store<std::uint16_t>(block + Info::kGeometryWord22, 0);

    WriteEntry(out + kIndexOffset + kIndexEntrySize, kPixelBlock, kPixelsHostOrder, 0,
               kPixelBlockOffset, g.fieldBytes + kGeometrySize);
    std::memcpy(out + kPixelBlockOffset, block, kGeometrySize);
    CopyPixels(out + kPixelBlockOffset + kGeometrySize, data + source,
               static_cast<std::size_t>(g.fieldBytes), false);

    SwapByMap(out + kIndexOffset, IndexEntryByteOrderMap());
    SwapByMap(out + kIndexOffset + kIndexEntrySize, IndexEntryByteOrderMap());
    return DecodeResult::Ok;
}
