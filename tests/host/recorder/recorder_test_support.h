#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

// A directory of its own per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("zrf_rec_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

// An image whose every byte depends on its number, so a mix-up shows.
inline std::vector<std::uint8_t> TestImage(std::size_t size, std::uint64_t n) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + n * 7);
    return image;
}
