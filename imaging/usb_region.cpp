#include "imaging/usb_region.h"

#include "imaging/zrf_records.h"

namespace {

constexpr std::int64_t kEntryCountOffset = 28;

bool FitsIn(std::int64_t offset, std::int64_t length, std::int64_t total) {
    return offset >= 0 && length >= 0 && offset <= total && length <= total - offset;
}

// Where the region starts: after the pixels, or after the length-prefixed code stream.
bool LocateRegion(const std::uint8_t* sample, std::int64_t sampleLength, bool jpegLs,
                  const FieldGeometry& geometry, UsbRegionLayout& layout) {
    if (jpegLs) {
        if (sampleLength < 4) return false;
        layout.codeStreamLength = Zrf::LoadBigEndian32(sample);
        layout.regionOffset = 4 + std::int64_t{layout.codeStreamLength};
    } else {
        layout.regionOffset = geometry.pictureBytes;
    }
    return FitsIn(layout.regionOffset, Zrf::kMainHeaderSize, sampleLength) &&
           HasZrfMagic(sample + layout.regionOffset);
}

}  // namespace

bool HasZrfMagic(const std::uint8_t* region) {
    auto lower = [](std::uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return lower(region[0]) == 'z' && lower(region[1]) == 'r' && lower(region[2]) == 'f' &&
           region[3] == 0;
}

bool MeasureUsbRegion(const std::uint8_t* sample, std::int32_t sampleLength, bool jpegLs,
                      const FieldGeometry& geometry, UsbRegionLayout& layout) {
    layout = UsbRegionLayout{};
    if (sample == nullptr || sampleLength <= 0 || !geometry.valid) return false;
    if (!LocateRegion(sample, sampleLength, jpegLs, geometry, layout)) return false;

    const std::uint8_t* region = sample + layout.regionOffset;
    const std::int64_t regionLength = sampleLength - layout.regionOffset;
    const auto count = Zrf::Load<std::int32_t>(region + kEntryCountOffset);
    if (count <= 0 ||
        !FitsIn(Zrf::kMainHeaderSize, std::int64_t{count} * Zrf::kIndexEntrySize, regionLength)) {
        return false;
    }
    layout.entryCount = count;

    std::int64_t running = Zrf::kMainHeaderSize + std::int64_t{count} * Zrf::kIndexEntrySize;
    std::int64_t infoLength = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = region + Zrf::kMainHeaderSize + i * Zrf::kIndexEntrySize;
        const auto type = Zrf::Load<std::uint16_t>(entry);
        std::int64_t length;
        if (type == Zrf::kPixelBlock) {
            layout.pixelEntry = i;
            layout.pixelOutputOffset = running;
            layout.pixelByteOrder = Zrf::Load<std::uint16_t>(entry + 2);
            length = geometry.fieldBytes + Zrf::kGeometrySize;
        } else {
            const std::int64_t offset = Zrf::Load<std::uint32_t>(entry + 12);
            length = Zrf::Load<std::uint32_t>(entry + 16);
            if (!FitsIn(offset, length, regionLength)) return false;
            if (type == Zrf::kFrameInfoBlock) {
                layout.infoEntry = i;
                layout.infoOutputOffset = running;
                layout.infoSourceOffset = layout.regionOffset + offset;
                infoLength = length;
            }
        }
        running += length;
        if (running > kMaxImageBytes) return false;
    }
    if (layout.pixelEntry < 0 || layout.infoEntry < 0) return false;
    // The block must hold every field the checks and updates touch.
    if (infoLength < static_cast<std::int64_t>(Zrf::Info::kInterpretedEnd)) return false;
    layout.imageSize = static_cast<std::int32_t>(running);
    return true;
}
