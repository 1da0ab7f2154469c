// USB samples, raw or JPEG-LS: the image is rebuilt from the sample's own radiometric region,
// with one field's pixels in its pixel block.
#include <cstring>

#include "imaging/field_geometry.h"
#include "imaging/img_src_stream.h"
#include "imaging/jpegls_codec.h"
#include "imaging/usb_region.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"
#include "support/copy/pixel_copy.h"

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
            if (i != layout.pixelEntry)
                std::memset(out + running, 0, static_cast<std::size_t>(length));
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

// Where one field's pixels come from, decided before anything is written.
struct UsbPixelPlan {
    JlsParameters params{};
    bool wholePicture = true;       // JPEG-LS: the code stream's picture fits one field
    std::int64_t decodedBytes = 0;  // JPEG-LS: bytes the decode writes
    std::int64_t sourceOffset = 0;  // raw: the field's first byte in the sample
};

bool ImgSrcStream::PlanUsbPixels(const std::uint8_t* data, const UsbRegionLayout& layout,
                                 std::int32_t fieldIndex, UsbPixelPlan& plan) const {
    const FieldGeometry g = Geometry();
    if (!IsJpegLs()) {
        // The camera's row length locates the field; it must not reach beyond the pixels.
        const std::int64_t rowBytes =
            2 * std::int64_t{
                    Load<std::uint16_t>(data + layout.infoSourceOffset + Info::kGeometryWidth)};
        plan.sourceOffset = rowBytes * g.fieldHeight * fieldIndex;
        return plan.sourceOffset + g.fieldBytes <= g.pictureBytes;
    }
    if (!ReadJpegLsHeader(data + 4, layout.codeStreamLength, plan.params)) return false;
    const JlsParameters& p = plan.params;
    const std::int64_t bytesPerRow = std::int64_t{p.components} * JpegLsBytesPerSample(p) * p.width;
    plan.wholePicture = bytesPerRow * p.height <= g.fieldBytes;
    if (plan.wholePicture) {
        plan.decodedBytes = bytesPerRow * p.height;
        return true;
    }
    // Otherwise only a picture of the stream's stacked fields is accepted: this field's rows.
    plan.decodedBytes = bytesPerRow * g.fieldHeight;
    return fieldCount > 1 && p.components == 1 && bytesPerRow == 2 * g.width &&
           p.height == g.height;
}

DecodeResult ImgSrcStream::DecodeUsbFrame(const std::uint8_t* data, std::int32_t fieldIndex,
                                          std::uint8_t* out) {
    const FieldGeometry g = Geometry();
    UsbRegionLayout layout;
    UsbPixelPlan plan;
    // Every rejection but a failing JPEG-LS decode happens here, before any write.
    if (fieldIndex < 0 || fieldIndex >= fieldCount ||
        !MeasureUsbRegion(data, sampleLength.load(std::memory_order_relaxed), IsJpegLs(), g,
                          layout) ||
        !PlanUsbPixels(data, layout, fieldIndex, plan)) {
        return DecodeResult::BadFrame;
    }
    const std::uint8_t* region = data + layout.regionOffset;
    std::memcpy(out, region, kMainHeaderSize);
    CopyIndexAndBlocks(region, layout, g.fieldBytes, out);

    std::uint8_t* block = out + layout.infoOutputOffset;
    const DecodeResult checked =
        ApplyFrameInfo(block, fieldIndex, static_cast<std::int32_t>(g.fieldHeight));
    if (checked != DecodeResult::Ok) return checked;

    // Over the camera's text, keeping whatever follows the terminator.
    std::memcpy(out + kSourceTextOffset, "UVC_KAVIR", 10);
    std::uint8_t* pixelEntry = out + kMainHeaderSize + layout.pixelEntry * kIndexEntrySize;
    Store<std::uint16_t>(pixelEntry, kPixelBlock);
    Store<std::uint16_t>(pixelEntry + 2, kPixelsHostOrder);
    std::uint8_t* pixelBlock = out + layout.pixelOutputOffset;
    std::memcpy(pixelBlock, block, kGeometrySize);
    if (!WriteUsbPixels(data, layout, plan, fieldIndex, pixelBlock + kGeometrySize)) {
        return DecodeResult::BadFrame;
    }
    FinishHeaderAndIndex(out, layout.entryCount);
    return DecodeResult::Ok;
}

bool ImgSrcStream::WriteUsbPixels(const std::uint8_t* data, const UsbRegionLayout& layout,
                                  const UsbPixelPlan& plan, std::int32_t fieldIndex,
                                  std::uint8_t* pixels) {
    const FieldGeometry g = Geometry();
    const auto fieldBytes = static_cast<std::size_t>(g.fieldBytes);
    const bool swapped = layout.pixelByteOrder == kPixelsSwapped;
    if (!IsJpegLs()) {
        CopyPixels(pixels, data + plan.sourceOffset, fieldBytes, swapped);
        return true;
    }
    const auto written = static_cast<std::size_t>(plan.decodedBytes);
    const std::uint8_t* code = data + 4;
    const bool decoded =
        plan.wholePicture
            ? DecodeJpegLs(pixels, written, code, layout.codeStreamLength, plan.params)
            : DecodeJpegLsRows(pixels, written, code, layout.codeStreamLength, plan.params,
                               static_cast<std::int32_t>(g.fieldHeight * fieldIndex),
                               static_cast<std::int32_t>(g.fieldHeight));
    if (!decoded) return false;
    // A smaller picture leaves the rest of the field zero, not stale.
    std::memset(pixels + written, 0, fieldBytes - written);
    if (swapped) SwapPixelBytes(pixels, fieldBytes);
    return true;
}
