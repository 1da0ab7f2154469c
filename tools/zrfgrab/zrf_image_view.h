#pragma once
// Reads a delivered image in place: a ZRF image (header and index big-endian, blocks
// little-endian) or a visual image behind its header. Everything is bounds-checked: the bytes
// are whatever a file held.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace zrfgrab {

class ZrfImageView {
  public:
    explicit ZrfImageView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool Has(std::uint64_t at, std::uint64_t n) const {
        return at <= bytes_.size() && n <= bytes_.size() - at;
    }
    std::uint32_t Be32(std::size_t at) const;
    std::uint16_t Be16(std::size_t at) const;
    template <typename T>
    T Le(std::size_t at) const {
        T value{};
        std::memcpy(&value, bytes_.data() + at, sizeof value);  // the blocks are in host order
        return value;
    }
    // Printable text of at most `capacity` bytes, up to its terminating zero.
    std::string Text(std::size_t at, std::size_t capacity) const;
    std::size_t Size() const { return bytes_.size(); }

    bool IsZrf() const;
    // Where the frame-information block starts, when the index names one that fits.
    std::optional<std::size_t> FrameInfoOffset() const;

  private:
    std::span<const std::uint8_t> bytes_;
};

// The time zone an image carries (minutes west of UTC): a ZRF image's frame information or a
// visual image's header. None for an image that carries no zone (MJPG).
std::optional<int> ImageZoneMinutes(std::span<const std::uint8_t> image);

// "UTC+01:00" for -60 minutes west.
std::string ZoneText(int minutesWest);

}  // namespace zrfgrab
