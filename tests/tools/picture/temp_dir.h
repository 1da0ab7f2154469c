#pragma once
// A fresh folder for a test's files, removed with everything in it when the test ends.
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Entries() const;  // names, sorted

  private:
    std::string path_;
};
