#include "host/recorder/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/system/exceptions.h"
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
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw System::IOException("Cannot create the recording '" + path +
                                  "': " + std::strerror(errno));
    RecordingFileHeader header{};
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof header;
    header.createdTicks = createdTicks;
    header.imageSize = imageSize;
    if (!WriteAll(&header, sizeof header)) {
        const std::string why = std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        throw System::IOException("Cannot write the recording '" + path + "': " + why);
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
        if (n <= 0) return false;
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
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_)
        throw System::IOException("Cannot open the recording '" + path +
                                  "': " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fileno(file_), &st) == 0) size_ = static_cast<std::uint64_t>(st.st_size);
    if (std::fread(&header_, sizeof header_, 1, file_) != 1 ||
        std::memcmp(header_.magic, kRecordingMagic, sizeof header_.magic) != 0 ||
        header_.headerSize < sizeof header_ || header_.headerSize > size_) {
        std::fclose(file_);
        file_ = nullptr;
        throw System::FormatException("'" + path + "' is not a recording");
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
