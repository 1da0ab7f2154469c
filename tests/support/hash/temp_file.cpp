#include "temp_file.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

TempFile::TempFile(const std::vector<unsigned char>& contents) {
    static std::atomic<int> counter{0};
    path_ = (std::filesystem::temp_directory_path() /
             ("hash_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
                .string();
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
}

TempFile::~TempFile() {
    std::filesystem::remove(path_);
}

std::vector<unsigned char> RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(count);
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}
