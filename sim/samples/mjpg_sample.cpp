// A baseline grey-scale JPEG whose 8 x 8 blocks carry only their average (DC) value: a real,
// decodable picture, small and quick to make.
#include <algorithm>
#include <cstring>

#include "sim/samples/camera_samples.h"

namespace zrf::sim {
namespace {

// The standard luminance DC table.
constexpr std::uint8_t kDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kDcQuantiser = 8;

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void Put(std::uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = static_cast<std::uint8_t>(byte_ << 1 | (bits >> i & 1));
            if (++filled_ == 8) Flush();
        }
    }
    void Finish() {
        while (filled_ != 0) Put(1, 1);
    }

  private:
    void Flush() {
        out_.push_back(byte_);
        if (byte_ == 0xFF) out_.push_back(0x00);  // byte stuffing
        byte_ = 0;
        filled_ = 0;
    }
    std::vector<std::uint8_t>& out_;
    std::uint8_t byte_ = 0;
    int filled_ = 0;
};

void Segment(std::vector<std::uint8_t>& out, std::uint8_t marker,
             std::initializer_list<std::uint8_t> body) {
    const auto length = static_cast<std::uint16_t>(body.size() + 2);
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length)});
    out.insert(out.end(), body);
}

int Category(int v) {
    int magnitude = v < 0 ? -v : v;
    int bits = 0;
    while (magnitude != 0) {
        ++bits;
        magnitude >>= 1;
    }
    return bits;
}

// The picture stretched to 8 bits: value - lo scaled by 255 / span.
struct Stretch {
    std::uint32_t lo = 0;
    std::uint32_t span = 1;
    std::uint8_t operator()(std::uint16_t v) const { return static_cast<std::uint8_t>((v - lo) * 255u / span); }
};

std::uint8_t BlockAverage(const std::uint16_t* picture, const Stretch& stretch, int width,
                          int height, int bx, int by) {
    int sum = 0;
    for (int y = 0; y < 8; ++y) {
        const int row = std::min(by * 8 + y, height - 1);
        for (int x = 0; x < 8; ++x) {
            sum += picture != nullptr ? stretch(picture[row * width + std::min(bx * 8 + x, width - 1)]) : 128;
        }
    }
    return static_cast<std::uint8_t>(sum / 64);
}

void WriteHeaders(std::vector<std::uint8_t>& out, int width, int height) {
    out.insert(out.end(), {0xFF, 0xD8});
    Segment(out, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
    out.insert(out.end(), 64, kDcQuantiser);
    Segment(out, 0xC0, {8, static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height),
                        static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width), 1,
                        1, 0x11, 0});
    out.insert(out.end(), {0xFF, 0xC4, 0x00, 0x1F, 0x00});
    out.insert(out.end(), std::begin(kDcBits), std::end(kDcBits));
    out.insert(out.end(), std::begin(kDcValues), std::end(kDcValues));
    // AC table: one 1-bit code, end of block.
    out.insert(out.end(), {0xFF, 0xC4, 0x00, 0x14, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           0, 0, 0x00});
    Segment(out, 0xDA, {1, 1, 0x00, 0, 63, 0});
}

}  // namespace

void BuildMjpgSample(const std::uint16_t* picture, const SampleSettings& s,
                     std::vector<std::uint8_t>& sample) {
    const int width = std::clamp(s.size.width, 1, 65535);
    const int height = std::clamp(s.size.height, 1, 65535);
    // Works from the picture itself, so a camera reusing `sample` allocates nothing.
    Stretch stretch;
    const bool hasPicture = s.size.width > 0 && s.size.height > 0 && picture != nullptr;
    if (hasPicture) {
        const std::size_t count = static_cast<std::size_t>(width) * height;
        const auto [lo, hi] = std::minmax_element(picture, picture + count);
        stretch.lo = *lo;
        stretch.span = std::max<std::uint32_t>(*hi - *lo, 1);
    }

    // Canonical codes of the DC table.
    std::uint16_t codes[12];
    int lengths[12];
    std::uint16_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int n = 0; n < kDcBits[length - 1]; ++n, ++k) {
            codes[k] = code++;
            lengths[k] = length;
        }
        code = static_cast<std::uint16_t>(code << 1);
    }

    sample.clear();
    WriteHeaders(sample, width, height);
    BitWriter bits(sample);
    int previous = 0;
    for (int by = 0; by < (height + 7) / 8; ++by) {
        for (int bx = 0; bx < (width + 7) / 8; ++bx) {
            const int dc = BlockAverage(hasPicture ? picture : nullptr, stretch, width, height, bx, by) - 128;
            const int diff = dc - previous;
            previous = dc;
            const int category = Category(diff);
            bits.Put(codes[category], lengths[category]);
            if (category > 0) {
                const int value = diff < 0 ? diff - 1 : diff;
                bits.Put(static_cast<std::uint32_t>(value) & ((1u << category) - 1), category);
            }
            bits.Put(0, 1);  // end of block
        }
    }
    bits.Finish();
    sample.insert(sample.end(), {0xFF, 0xD9});
}

}  // namespace zrf::sim
