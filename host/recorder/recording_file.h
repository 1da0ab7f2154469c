#pragma once
// Writing and reading recording files (see recording_format.h).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/recorder/recording_format.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

// Appends frame records to a new file. A failed append (a full disk, say) cuts the file back
// to its last complete record and refuses further appends, so the file always reads back.
class RecordingWriter {
  public:
    // Throws System::IOException when the file cannot be created, or when something other
    // than a regular file (a folder, a device, a symbolic link) is at path.
    RecordingWriter(const std::string& path, std::int64_t createdTicks, std::uint32_t imageSize);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    bool Append(std::uint64_t frameNumber, std::int64_t ticks, const std::uint8_t* image,
                std::uint32_t length);
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }  // why the failed append failed
    const std::string& Path() const { return path_; }
    std::uint64_t FramesWritten() const { return frames_; }
    std::uint64_t BytesWritten() const { return bytes_; }

  private:
    bool WriteAll(const void* data, std::size_t size);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    std::string error_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;
};

struct RecordedFrame {
    std::uint64_t frameNumber = 0;
    std::int64_t ticks = 0;
    bool checksumOk = false;
    std::uint64_t fileOffset = 0;
    std::vector<std::uint8_t> image;
};

// Reads a recording frame by frame. Reading ends at the end of the file, at a record cut short
// or at a record whose framing is damaged; a complete record whose checksum does not match is
// returned with checksumOk false.
class RecordingReader {
  public:
    // Throws System::IOException when the file cannot be opened or is not a regular file, and
    // System::FormatException when it is not a recording or one of a version it does not know.
    explicit RecordingReader(const std::string& path);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    const RecordingFileHeader& Header() const { return header_; }
    bool Next(RecordedFrame& frame);  // false when no further complete record follows

    // Why reading ended; meaningful once Next returned false.
    enum class End { None, Clean, CutShort, Damaged };
    End Ending() const { return ending_; }
    std::uint64_t TrailingBytes() const { return trailing_; }  // bytes after the last record

  private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
    RecordingFileHeader header_{};
    End ending_ = End::None;
    std::uint64_t trailing_ = 0;
};

std::uint32_t FrameRecordChecksum(const FrameRecordHeader& header, const std::uint8_t* image,
                                  std::uint32_t length);

}  // namespace Vorn::Zephra::Net::Devices::Recorder
