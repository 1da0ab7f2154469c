#pragma once
#include <cstdint>
#include <vector>

// An image whose every byte depends on its number, so a mix-up shows.
inline std::vector<std::uint8_t> TestImage(std::size_t size, std::uint64_t n) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + n * 7);
    return image;
}
