#pragma once
// Every file the framework and its tools read is a regular file, or refused at once with the
// reason: nothing blocks on a pipe or reads a device without end. Files read whole have a
// size bound, checked before anything is read; files read in chunks need none.
#include <cstdint>
#include <string>
#include <vector>

#include "host/system/exceptions.h"

namespace System::IO {

// "cannot read 'PATH': REASON", with the reason alone for callers that word it their own way.
class FileReadException : public IOException {
  public:
    FileReadException(const std::string& path, std::string reason)
        : IOException("cannot read '" + path + "': " + reason), reason_(std::move(reason)) {}
    const std::string& Reason() const { return reason_; }
    std::shared_ptr<Exception> Clone() const override {
        return std::make_shared<FileReadException>(*this);
    }

  private:
    std::string reason_;
};

// An open descriptor on a regular file, for reading in chunks. Throws FileReadException
// ("it is a folder", "not a regular file", or the system's reason).
int OpenRegularFile(const std::string& path);

// The whole file, at most maxBytes (refused as "larger than ..." otherwise); same errors.
std::vector<std::uint8_t> ReadRegularFile(const std::string& path, std::uint64_t maxBytes);

// "256 MiB", "64 KiB": how a bound is named in the errors.
std::string SizeLimitText(std::uint64_t bytes);

}  // namespace System::IO
