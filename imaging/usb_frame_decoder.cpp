// USB samples, raw or JPEG-LS: the image is rebuilt from the sample's own radiometric region,
// with one field's pixels in its pixel block.
#include <cstring>

#include "imaging/field_geometry.h"
#include "imaging/img_src_stream.h"
#include "imaging/jpegls_codec.h"
#include "imaging/pixel_copy.h"
#include "imaging/usb_region.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"

namespace {

using namespace Zrf;

constexpr std::size_t kSourceTextOffset = 4;
constexpr std::size_t kChecksumOffset = 60;
constexpr std::size_t kWord36Offset = 36;

// Copies the index and every block but the pixels, setting output offsets as it goes.
void CopyIndexAndBlocks(const std::uint8_t* region, const UsbRegionLayout& layout,
                        std::int64_t fieldBytes, std::uint8_t* out) {
    std::int64_t running = kMainHeaderSize + std::int64_t{layout.entryCount} * kIndexEntrySize;
    for (std::int32_t i = 0; i < layout.entryCount; ++i) {
        const std::uint8_t* source = region + kMainHeaderSize + i * kIndexEntrySize;
        std::uint8_t* entry = out + kMainHeaderSize + i * kIndexEntrySize;
        std::memcpy(entry, source, kIndexEntrySize);
        Store(entry + 12, static_cast<std::uint32_t>(running));
        std::int64_t length;
        if (Load<std::uint16_t>(source) == kPixelBlock) {
            length = fieldBytes + kGeometrySize;
            Store(entry + 16, static_cast<std::uint32_t>(length));
            // Only the last pixel block is filled; earlier ones read as zeros.
            if (i != layout.pixelEntry) std::memset(out + running, 0, static_cast<std::size_t>(length));
        } else {
            length = Load<std::uint32_t>(source + 16);
            std::memcpy(out + running, region + Load<std::uint32_t>(source + 12),
                        static_cast<std::size_t>(length));
        }
        running += length;
    }
}

void FinishHeaderAndIndex(std::uint8_t* out, std::int32_t entryCount) {
    Store<std::uint32_t>(out + kChecksumOffset, 0);
    Store<std::uint16_t>(out + kWord36Offset, 0);
    SwapByMap(out, MainHeaderByteOrderMap());
    for (std::int32_t i = 0; i < entryCount; ++i) {
        SwapByMap(out + kMainHeaderSize + i * kIndexEntrySize, IndexEntryByteOrderMap());
    }
}

}  // namespace

DecodeResult ImgSrcStream::DecodeUsbFrame(const std::uint8_t* data, std::int32_t fieldIndex,
                                          std::uint8_t* out) {
    const FieldGeometry g = Geometry();
    UsbRegionLayout layout;
    if (fieldIndex < 0 || fieldIndex >= fieldCount ||
        !MeasureUsbRegion(data, sampleLength.load(std::memory_order_relaxed), IsJpegLs(), g, layout)) {
        return DecodeResult::BadFrame;
    }
    const std::uint8_t* region = data + layout.regionOffset;
    std::memcpy(out, region, kMainHeaderSize);
    CopyIndexAndBlocks(region, layout, g.fieldBytes, out);

    std::uint8_t* pixelBlock = out + layout.pixelOutputOffset;
    return DecodeUsbPixels(data, layout, fieldIndex, pixelBlock);
}

// Everything that can reject the sample is decided before the block is stamped, except the
// JPEG-LS decode itself.
DecodeResult ImgSrcStream::DecodeUsbPixels(const std::uint8_t* data, const UsbRegionLayout& layout,
                                           std::int32_t fieldIndex, std::uint8_t* pixelBlock) {
    const FieldGeometry g = Geometry();
    std::uint8_t* out = pixelBlock - layout.pixelOutputOffset;
    std::uint8_t* block = out + layout.infoOutputOffset;
    std::uint8_t* pixels = pixelBlock + kGeometrySize;
    const auto fieldBytes = static_cast<std::size_t>(g.fieldBytes);

    JlsParameters params{};
    std::int64_t source = 0;
    bool wholePicture = true;
    if (IsJpegLs()) {
        if (!ReadJpegLsHeader(data + 4, layout.codeStreamLength, params)) return DecodeResult::BadFrame;
        const std::int64_t bytesPerRow =
            std::int64_t{params.components} * JpegLsBytesPerSample(params) * params.width;
        wholePicture = bytesPerRow * params.height <= g.fieldBytes;
        // A picture of stacked fields: decode just this field's rows, if they fit.
        const bool rowsFit = params.components == 1 && bytesPerRow * g.fieldHeight <= g.fieldBytes &&
                             g.fieldHeight * (fieldIndex + 1) <= params.height;
        if (!wholePicture && !rowsFit) return DecodeResult::BadFrame;
    } else {
        const std::int64_t rowBytes =
            2 * std::int64_t{Load<std::uint16_t>(block + Info::kGeometryWidth)};
        source = rowBytes * g.fieldHeight * fieldIndex;
        if (source + g.fieldBytes > g.pictureBytes) return DecodeResult::BadFrame;
    }

    const DecodeResult checked = ApplyFrameInfo(block, fieldIndex, static_cast<std::int32_t>(g.fieldHeight));
    if (checked != DecodeResult::Ok) return checked;

    // Over the camera's text, keeping whatever follows the terminator.
    std::memcpy(out + kSourceTextOffset, "UVC_KAVIR", 10);
    Store<std::uint16_t>(out + kMainHeaderSize + layout.pixelEntry * kIndexEntrySize, kPixelBlock);
    Store<std::uint16_t>(out + kMainHeaderSize + layout.pixelEntry * kIndexEntrySize + 2, kPixelsHostOrder);
    std::memcpy(pixelBlock, block, kGeometrySize);

    const bool swapped = layout.pixelByteOrder == kPixelsSwapped;
    if (IsJpegLs()) {
        const std::uint8_t* code = data + 4;
        const std::int64_t bytesPerRow =
            std::int64_t{params.components} * JpegLsBytesPerSample(params) * params.width;
        const std::size_t written = static_cast<std::size_t>(
            wholePicture ? bytesPerRow * params.height : bytesPerRow * g.fieldHeight);
        const bool decoded =
            wholePicture
                ? DecodeJpegLs(pixels, written, code, layout.codeStreamLength, params)
                : DecodeJpegLsRows(pixels, written, code, layout.codeStreamLength, params,
                                   static_cast<std::int32_t>(g.fieldHeight * fieldIndex),
                                   static_cast<std::int32_t>(g.fieldHeight));
        if (!decoded) return DecodeResult::BadFrame;
        // A smaller picture leaves the rest of the field zero, not stale.
        std::memset(pixels + written, 0, fieldBytes - written);
        if (swapped) SwapPixelBytes(pixels, fieldBytes);
    } else {
        CopyPixels(pixels, data + source, fieldBytes, swapped);
    }

    FinishHeaderAndIndex(out, layout.entryCount);
    return DecodeResult::Ok;
}
