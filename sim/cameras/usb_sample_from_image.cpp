#include "sim/cameras/usb_sample_from_image.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/usb_region.h"
#include "support/copy/pixel_copy.h"
#include "imaging/zrf_byte_order.h"
#include "imaging/zrf_records.h"

namespace zrf::sim {
namespace {

using namespace Zrf;

constexpr std::size_t kEntryCountOffset = 28;
constexpr std::size_t kIndexOffsetField = 24;
constexpr std::int32_t kMaxEntries = 64;
// The rows a camera reserves for its region.
constexpr std::size_t kReservedRegionBytes = 3840;

std::array<std::uint8_t, kMainHeaderSize> HostHeader(const std::uint8_t* image) {
    std::array<std::uint8_t, kMainHeaderSize> header;
    std::memcpy(header.data(), image, header.size());
    SwapByMap(header.data(), MainHeaderByteOrderMap());
    return header;
}

std::array<std::uint8_t, kIndexEntrySize> HostEntry(const std::uint8_t* image, std::int32_t i) {
    std::array<std::uint8_t, kIndexEntrySize> entry;
    std::memcpy(entry.data(), image + kMainHeaderSize + i * kIndexEntrySize, entry.size());
    SwapByMap(entry.data(), IndexEntryByteOrderMap());
    return entry;
}

std::int32_t EntryCount(const std::uint8_t* image) {
    return Load<std::int32_t>(HostHeader(image).data() + kEntryCountOffset);
}

// Bytes of the region: header, index and every block but the pixels.
std::size_t RegionBytes(const std::uint8_t* image) {
    const std::int32_t count = EntryCount(image);
    std::size_t bytes = kMainHeaderSize + static_cast<std::size_t>(count) * kIndexEntrySize;
    for (std::int32_t i = 0; i < count; ++i) {
        const auto entry = HostEntry(image, i);
        if (Load<std::uint16_t>(entry.data()) != kPixelBlock)
            bytes += Load<std::uint32_t>(entry.data() + 16);
    }
    return std::max(bytes, kReservedRegionBytes);
}

}  // namespace

bool MeasureUsbSample(const std::uint8_t* image, std::size_t length, UsbSampleShape& shape,
                      std::string& why) {
    shape = UsbSampleShape{};
    if (image == nullptr || length < static_cast<std::size_t>(kMainHeaderSize) ||
        !HasZrfMagic(image)) {
        why = "not a ZRF image";
        return false;
    }
    const auto header = HostHeader(image);
    const std::int32_t count = Load<std::int32_t>(header.data() + kEntryCountOffset);
    if (Load<std::uint32_t>(header.data() + kIndexOffsetField) !=
            static_cast<std::uint32_t>(kIndexOffset) ||
        count <= 0 || count > kMaxEntries ||
        length < static_cast<std::size_t>(kMainHeaderSize + count * kIndexEntrySize)) {
        why = "ZRF image with a damaged index";
        return false;
    }
    // The blocks must follow one another as the stream lays them out.
    std::uint64_t running = kMainHeaderSize + static_cast<std::uint64_t>(count) * kIndexEntrySize;
    std::int64_t pixel_at = -1;
    std::int64_t pixel_length = 0;
    std::int64_t info_at = -1;
    for (std::int32_t i = 0; i < count; ++i) {
        const auto entry = HostEntry(image, i);
        const std::uint32_t offset = Load<std::uint32_t>(entry.data() + 12);
        const std::uint32_t block = Load<std::uint32_t>(entry.data() + 16);
        if (offset != running || block > length - running) {
            why = "ZRF image whose blocks do not follow its index";
            return false;
        }
        const auto type = Load<std::uint16_t>(entry.data());
        if (type == kPixelBlock) {
            if (pixel_at >= 0 && block != pixel_length) {
                why = "ZRF image with pixel blocks of different sizes";
                return false;
            }
            pixel_at = offset;
            pixel_length = block;
        } else if (type == kFrameInfoBlock && block >= Info::kInterpretedEnd) {
            info_at = offset;
        }
        running += block;
    }
    if (running != length) {
        why = "ZRF image with bytes after its last block";
        return false;
    }
    if (pixel_at < 0 || info_at < 0) {
        why = "ZRF image without pixels and frame information";
        return false;
    }
    const std::uint8_t* info = image + info_at;
    const ImageSize picture{Load<std::uint16_t>(info + Info::kGeometryWidth),
                            Load<std::uint16_t>(info + Info::kGeometryHeight)};
    const std::int64_t pixels = std::int64_t{picture.width} * picture.height * 2;
    if (pixels == 0 || pixel_length != pixels + kGeometrySize) {
        why = "ZRF image whose pixels do not match its geometry";
        return false;
    }
    shape.picture = picture;
    shape.sample_bytes = static_cast<std::size_t>(pixels) + RegionBytes(image);
    return true;
}

void WriteUsbSample(const std::uint8_t* image, const UsbSampleShape& shape, std::uint8_t* out) {
    const std::size_t pixels =
        static_cast<std::size_t>(shape.picture.width) * shape.picture.height * 2;
    std::memset(out, 0, shape.sample_bytes);
    std::uint8_t* region = out + pixels;
    const auto header = HostHeader(image);
    std::memcpy(region, header.data(), header.size());
    const std::int32_t count = EntryCount(image);
    std::uint32_t at = kMainHeaderSize + static_cast<std::uint32_t>(count) * kIndexEntrySize;
    for (std::int32_t i = 0; i < count; ++i) {
        auto entry = HostEntry(image, i);
        const std::uint32_t offset = Load<std::uint32_t>(entry.data() + 12);
        const std::uint32_t length = Load<std::uint32_t>(entry.data() + 16);
        if (Load<std::uint16_t>(entry.data()) == kPixelBlock) {
            // The pixels travel in front of the region; the entry only announces them.
            CopyPixels(out, image + offset + kGeometrySize, pixels, false);
            Store<std::uint32_t>(entry.data() + 12, 0);
        } else {
            std::memcpy(region + at, image + offset, length);
            Store(entry.data() + 12, at);
            at += length;
        }
        std::memcpy(region + kMainHeaderSize + i * kIndexEntrySize, entry.data(), entry.size());
    }
}

}  // namespace zrf::sim
