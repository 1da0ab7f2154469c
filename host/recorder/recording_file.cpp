#include "host/recorder/recording_file.h"

#include <cerrno>
#include <cstring>

#include "host/system/exceptions.h"
#include "host/system/posix_files.h"
#include "support/hash/crc32.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

std::uint32_t FrameRecordChecksum(const FrameRecordHeader& header, const std::uint8_t* image,
                                  std::uint32_t length) {
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    crc.Update(&header, offsetof(FrameRecordHeader, crc));
    return crc.Update(image, length);
}

RecordingWriter::RecordingWriter(const std::string& path, std::int64_t createdTicks,
                                 std::uint32_t imageSize)
    : path_(path) {
    // Only a regular file or nothing is replaced: never a device, a folder or what a symbolic
    // link points at. The open refuses a link that appears in between.
    struct stat st {};
    const bool foreign = ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (!foreign) fd_ = ::open(path.c_str(), O_WRONLY | O_BINARY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw System::IOException("cannot create the recording '" + path +
                                  "': " + (foreign ? "not a regular file" : std::strerror(errno)));
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd_, 0) != 0) {
        ::close(fd_);
        fd_ = -1;
        throw System::IOException("cannot create the recording '" + path + "': not a regular file");
    }
    RecordingFileHeader header{};
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof header;
    header.createdTicks = createdTicks;
    header.imageSize = imageSize;
    if (!WriteAll(&header, sizeof header)) {
        ::close(fd_);
        fd_ = -1;
        throw System::IOException("cannot write the recording '" + path + "': " + error_);
    }
    bytes_ = sizeof header;
}

RecordingWriter::~RecordingWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecordingWriter::WriteAll(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? std::strerror(errno) : "the file takes no more bytes";
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool RecordingWriter::Append(std::uint64_t frameNumber, std::int64_t ticks,
                             const std::uint8_t* image, std::uint32_t length) {
    if (failed_ || fd_ < 0) return false;
    FrameRecordHeader record{};
    record.magic = kFrameRecordMagic;
    record.length = length;
    record.frameNumber = frameNumber;
    record.ticks = ticks;
    record.crc = FrameRecordChecksum(record, image, length);
    if (WriteAll(&record, sizeof record) && WriteAll(image, length)) {
        ++frames_;
        bytes_ += sizeof record + length;
        return true;
    }
    // Drop the partial record so the file ends with a complete one.
    failed_ = true;
    if (::ftruncate(fd_, static_cast<off_t>(bytes_)) != 0) { /* the reader copes with a cut */ }
    return false;
}

RecordingReader::RecordingReader(const std::string& path) {
    // Opened without blocking, so a pipe is refused rather than waited on.
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw System::IOException("cannot open the recording '" + path +
                                  "': " + std::strerror(errno));
    struct stat st {};
    // A folder, a device or a pipe has no size to read frames against.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(file_ = ::fdopen(fd, "rb"))) {
        ::close(fd);
        throw System::IOException("cannot open the recording '" + path + "': not a regular file");
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    std::string problem;
    if (std::fread(&header_, sizeof header_, 1, file_) != 1 ||
        std::memcmp(header_.magic, kRecordingMagic, sizeof header_.magic) != 0)
        problem = "'" + path + "' is not a recording";
    else if (header_.version != kRecordingVersion)
        problem = "'" + path + "' is a recording of version " + std::to_string(header_.version) +
                  "; only version " + std::to_string(kRecordingVersion) + " can be read";
    else if (header_.headerSize < sizeof header_ || header_.headerSize > size_)
        problem = "'" + path + "' is not a recording (its header is damaged)";
    if (!problem.empty()) {
        std::fclose(file_);
        file_ = nullptr;
        throw System::FormatException(problem);
    }
    offset_ = header_.headerSize;
    std::fseek(file_, static_cast<long>(offset_), SEEK_SET);
}

RecordingReader::~RecordingReader() {
    if (file_) std::fclose(file_);
}

bool RecordingReader::Next(RecordedFrame& frame) {
    if (ending_ != End::None) return false;
    const std::uint64_t left = size_ - offset_;
    if (left == 0) {
        ending_ = End::Clean;
        return false;
    }
    FrameRecordHeader record{};
    if (left < sizeof record || std::fread(&record, sizeof record, 1, file_) != 1) {
        ending_ = End::CutShort;
        trailing_ = left;
        return false;
    }
    if (record.magic != kFrameRecordMagic || record.length > kMaxFrameRecordLength) {
        ending_ = End::Damaged;
        trailing_ = left;
        return false;
    }
    if (left - sizeof record < record.length) {
        ending_ = End::CutShort;
        trailing_ = left;
        return false;
    }
    frame.image.resize(record.length);
    if (record.length > 0 && std::fread(frame.image.data(), record.length, 1, file_) != 1) {
        ending_ = End::CutShort;
        trailing_ = left;
        return false;
    }
    frame.frameNumber = record.frameNumber;
    frame.ticks = record.ticks;
    frame.fileOffset = offset_;
    frame.checksumOk = FrameRecordChecksum(record, frame.image.data(), record.length) == record.crc;
    offset_ += sizeof record + record.length;
    return true;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
