#pragma once
// An 8-bit RGB picture: rows top to bottom, three bytes per pixel, no padding.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vorn::Picture {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

class RgbImage {
  public:
    // Largest side accepted anywhere in this library; keeps width * height * 3 far from
    // overflow and within what PNG allows.
    static constexpr int kMaxSide = 32768;

    RgbImage() = default;
    RgbImage(int width, int height) { Resize(width, height); }

    // Keeps the buffer's capacity, so a picture of the same size reallocates nothing. Sides
    // outside 0..kMaxSide give an empty picture.
    void Resize(int width, int height);
    void Fill(Rgb colour);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    std::size_t RowBytes() const { return static_cast<std::size_t>(width_) * 3; }

    std::uint8_t* Row(int y) { return data_.data() + static_cast<std::size_t>(y) * RowBytes(); }
    const std::uint8_t* Row(int y) const {
        return data_.data() + static_cast<std::size_t>(y) * RowBytes();
    }
    std::uint8_t* Data() { return data_.data(); }
    const std::uint8_t* Data() const { return data_.data(); }
    std::size_t SizeBytes() const { return RowBytes() * static_cast<std::size_t>(height_); }

    // Unchecked, like operator[]: callers stay inside the picture.
    Rgb At(int x, int y) const {
        const std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * 3;
        return {p[0], p[1], p[2]};
    }
    void Set(int x, int y, Rgb colour) {
        std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * 3;
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
    }
    // Clipped to the picture.
    void FillRect(int x, int y, int width, int height, Rgb colour);

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> data_;
};

}  // namespace Vorn::Picture
