#pragma once
// A file with given contents that is removed when the test ends.
#include <string>
#include <vector>

class TempFile {
  public:
    explicit TempFile(const std::vector<unsigned char>& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const char* Path() const { return path_.c_str(); }

  private:
    std::string path_;
};

std::vector<unsigned char> RandomBytes(std::size_t count, unsigned seed);
