#include "sim/samples/thermal_scene.h"

#include <algorithm>
#include <cmath>

namespace zrf::sim {
namespace {

constexpr std::uint16_t kBackgroundLow = 7200;  // raw counts of a room-temperature wall
constexpr std::uint16_t kBackgroundSpan = 500;
constexpr int kNoiseAmplitude = 8;  // counts, peak

std::uint32_t Mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

double Unit(std::uint32_t seed, std::uint32_t salt) {
    return (Mix(seed ^ Mix(salt)) & 0xFFFF) / 65535.0;
}

}  // namespace

ThermalScene::ThermalScene(ImageSize size, std::uint32_t seed, int spotCount)
    : size_{std::max(size.width, 0), std::max(size.height, 0)}, seed_(seed) {
    const int w = size_.width;
    const int h = size_.height;
    background_.resize(static_cast<std::size_t>(w) * h);
    // A diagonal gradient, warmer towards the floor, with a slight tilt chosen by the seed.
    const double tilt = 0.3 + 0.4 * Unit(seed, 1);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double t = (tilt * x / std::max(w, 1) + (1 - tilt) * y / std::max(h, 1));
            background_[static_cast<std::size_t>(y) * w + x] =
                static_cast<std::uint16_t>(kBackgroundLow + kBackgroundSpan * t);
        }
    }
    const int shortest = std::max(std::min(w, h), 1);
    for (int i = 0; i < spotCount; ++i) {
        const auto salt = static_cast<std::uint32_t>(10 + 10 * i);
        Spot spot{};
        spot.centreX = w * (0.3 + 0.4 * Unit(seed, salt));
        spot.centreY = h * (0.3 + 0.4 * Unit(seed, salt + 1));
        spot.radiusX = w * (0.1 + 0.2 * Unit(seed, salt + 2));
        spot.radiusY = h * (0.1 + 0.2 * Unit(seed, salt + 3));
        spot.speed = 0.01 + 0.03 * Unit(seed, salt + 4);
        spot.phase = 6.283 * Unit(seed, salt + 5);
        spot.radius =
            std::max(2, static_cast<int>(shortest * (0.04 + 0.06 * Unit(seed, salt + 6))));
        spot.heat = static_cast<std::uint16_t>(600 + 1800 * Unit(seed, salt + 7));
        spots_.push_back(spot);
    }
    // Falloff by squared distance, shared by all spots (scaled to each spot's radius).
    falloff_.resize(257);
    for (int d2 = 0; d2 <= 256; ++d2) {
        falloff_[d2] = static_cast<std::uint16_t>(256.0 * std::exp(-4.0 * d2 / 256.0));
    }
}

void ThermalScene::Render(std::uint64_t frame, std::uint16_t* picture) const {
    const int w = size_.width;
    const int h = size_.height;
    std::copy(background_.begin(), background_.end(), picture);
    for (const Spot& s : spots_) {
        const double t = s.phase + s.speed * static_cast<double>(frame);
        const int cx = static_cast<int>(s.centreX + s.radiusX * std::sin(t));
        const int cy = static_cast<int>(s.centreY + s.radiusY * std::sin(1.7 * t));
        const int r = s.radius;
        for (int y = std::max(cy - r, 0); y < std::min(cy + r + 1, h); ++y) {
            for (int x = std::max(cx - r, 0); x < std::min(cx + r + 1, w); ++x) {
                const int d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) * 256 / (r * r);
                if (d2 > 256) continue;
                std::uint16_t& p = picture[static_cast<std::size_t>(y) * w + x];
                p = static_cast<std::uint16_t>(std::min(65535, p + s.heat * falloff_[d2] / 256));
            }
        }
    }
    // Sensor noise: a cheap hash per pixel, fixed by seed and frame.
    std::uint32_t state = Mix(seed_ ^ Mix(static_cast<std::uint32_t>(frame) * 2654435761u)) | 1;
    const std::size_t count = static_cast<std::size_t>(w) * h;
    for (std::size_t i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int noise = static_cast<int>(state % (2 * kNoiseAmplitude + 1)) - kNoiseAmplitude;
        picture[i] = static_cast<std::uint16_t>(std::clamp(picture[i] + noise, 0, 65535));
    }
}

}  // namespace zrf::sim
