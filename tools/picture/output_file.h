#pragma once
// Files written whole: the bytes go to a temporary file beside the path, which is renamed over
// the path once complete, so a failure leaves neither a partial file nor the temporary behind.
// Only a regular file or nothing is replaced: a folder, a device, a pipe or a symbolic link at
// the path is refused, so no device and nothing a link points at is ever overwritten.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>

#include "tools/picture/picture_status.h"

namespace Vorn::Picture {

// Empty when path may be written (nothing there, or a regular file), else why not.
std::string OutputPathProblem(const std::string& path);
// OutputPathProblem, and whether a file of that name can be made in its folder now (the folder
// takes new files, the name is not too long for it): what a command checks before its work.
std::string OutputProblemBeforeWork(const std::string& path);

// Removes the temporaries of outputs a killed run left in folder: ours by name and by their first
// bytes, and unlocked (a writer holds its temporary locked).
void RemoveAbandonedOutputs(const std::string& folder);

class OutputFile {
  public:
    // Creates the temporary file; Stream() is null when it cannot be made.
    explicit OutputFile(std::string path);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Open for reading as well as writing, positioned at its start.
    std::FILE* Stream() const { return file_; }
    // The name the file takes on commit, when it is decided late (a run of an output split in
    // numbered files): beside the first, in the same folder as the temporary file.
    void SetPath(std::string path) { path_ = std::move(path); }
    const std::string& Path() const { return path_; }
    // Flushes and closes the temporary file and renames it over the path. On failure the
    // message is "cannot write 'PATH': why"; writeError is the errno of a failed write before.
    PictureStatus Commit(int writeError = 0);

  private:
    std::string path_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    int openError_ = 0;
};

PictureStatus WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace Vorn::Picture
