#pragma once
// A fresh folder for a test's files, removed with everything in it when the test ends.
#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <atomic>

#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>

class TempDir {
  public:
    TempDir() {
#ifdef _WIN32
        // The platform has no mkdtemp: a new name, taken by the folder's creation.
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("zrf_test_" + std::to_string(::_getpid()) + "_" +
                                    std::to_string(counter++));
            if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder could be made");
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "zrf_test_XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::size_t Count() const {  // entries in the folder
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(path_), {}));
    }

  private:
    std::string path_;
};
