#pragma once
// Reading typed values off a fuzz input; past its end every value reads as zero.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz {

class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take() {
        T v{};
        const std::size_t n = sizeof v < size_ - at_ ? sizeof v : size_ - at_;
        std::memcpy(&v, data_ + at_, n);
        at_ += n;
        return v;
    }
    // Up to `max` bytes as text, the length taken from the input first.
    std::string Text(std::size_t max) {
        const std::size_t n = std::min<std::size_t>(Take<std::uint8_t>() % (max + 1), RestSize());
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }
    template <typename T, std::size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Take<std::uint8_t>() % N];
    }
    std::string Rest() {
        std::string s(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return s;
    }
    std::size_t RestSize() const { return size_ - at_; }
    bool Empty() const { return at_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace fuzz
