#include "host/recorder/recording_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <sys/file.h>
#endif

#include "host/system/abandoned_files.h"
#include "host/system/exceptions.h"
#include "host/recorder/direct_writes.h"
#include "host/recorder/record_scan.h"
#include "host/system/posix_files.h"
#include "support/hash/crc32.h"

namespace Vorn::Zephra::Net::Devices::Recorder {

std::uint32_t FrameRecordChecksum(const FrameRecordHeader& header, const std::uint8_t* image,
                                  std::uint32_t length) {
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    crc.Update(&header, offsetof(FrameRecordHeader, crc));
    return crc.Update(image, length);
}

namespace {

using System::IO::TryLockFile;

// A new file, created exclusively (never through a link), that can be renamed while open.
int CreateExclusive(const std::string& path) {
#ifdef _WIN32
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_RDWR);
    if (fd < 0) CloseHandle(h);
    return fd;
#else
    // Readable too: a queue writing around the page cache reads its last partial block back.
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
#endif
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\");
#else
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

constexpr const char* kTemporaryPrefix = ".rec-";
constexpr const char* kTemporarySuffix = ".part";

// A recording's header: a temporary of ours holds one from its first bytes, and a numbered
// recording a killed run left before its first frame holds that alone.
bool StartsAsRecording(const unsigned char* first, std::size_t n) {
    RecordingFileHeader header{};
    if (n < sizeof header) return false;
    std::memcpy(&header, first, sizeof header);
    return std::memcmp(header.magic, kRecordingMagic, sizeof header.magic) == 0 &&
           header.version == kRecordingVersion && header.headerSize == sizeof header;
}

void RemoveAbandonedTemporaries(const std::string& folder) {
    System::IO::RemoveAbandonedIn(folder, kTemporaryPrefix, kTemporarySuffix,
                                  [](const unsigned char* first, std::size_t n, std::uint64_t) {
                                      return StartsAsRecording(first, n);
                                  });
}

// A numbered recording a killed run left before its first frame: its header and nothing else.
bool RemoveIfHeaderOnly(const std::string& path) {
    return System::IO::RemoveIfAbandoned(path, [](const unsigned char* first, std::size_t n, std::uint64_t size) {
        return size == sizeof(RecordingFileHeader) && StartsAsRecording(first, n);
    });
}

[[noreturn]] void CannotRecord(const std::string& path, const std::string& why) {
    throw System::IOException("cannot create the recording '" + path + "': " + why);
}

// Why path cannot be recorded to now, or empty.
std::string TargetProblem(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (RecordingWriter::InUse(path)) return "another run is recording to it";
    return {};
}

}  // namespace

std::optional<RecordingWriter::FileId> RecordingWriter::IdOf(int fd) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info))
        return std::nullopt;
    return FileId{info.dwVolumeSerialNumber,
                  std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
#else
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
#endif
}

bool RecordingWriter::InUse(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = TryLockFile(fd, false);
    ::close(fd);  // lets go of the lock taken to test
    return !free;
}

RecordingWriter::RecordingWriter(const std::string& path, std::int64_t createdTicks,
                                 std::uint32_t imageSize)
    : path_(path) {
    if (const std::string problem = TargetProblem(path); !problem.empty()) CannotRecord(path, problem);
    // A recording another writer makes there from now on is not this one's to replace.
    if (const int there = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        there >= 0) {
        replaces_ = IdOf(there);
        ::close(there);
    }
    const std::string folder = FolderOf(path);
    RemoveAbandonedTemporaries(folder);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = folder + "/" + kTemporaryPrefix + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++) + kTemporarySuffix;
        fd_ = CreateExclusive(temporary_);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        CannotRecord(path, std::strerror(error));
    }
    TryLockFile(fd_, true);  // a file of our own making: nobody else holds it
    WriteHeader(createdTicks, imageSize);
}

RecordingWriter::RecordingWriter(InPlace, std::string path, int fd, std::int64_t createdTicks,
                                 std::uint32_t imageSize)
    : path_(std::move(path)), fd_(fd) {
    TryLockFile(fd_, true);
    WriteHeader(createdTicks, imageSize);
}

std::unique_ptr<RecordingWriter> RecordingWriter::Numbered(const std::string& folder, int& next,
                                                           std::int64_t createdTicks,
                                                           std::uint32_t imageSize) {
    for (next = std::max(next, 1); next <= 9999; ++next) {
        char name[32];
        std::snprintf(name, sizeof name, "recording_%04d.zrec", next);
        const std::string path = (std::filesystem::path(folder) / name).string();
        int fd = CreateExclusive(path);
        int error = errno;
        // A number a killed run took before its first frame (its file holds the header alone)
        // is free again.
        if (fd < 0 && error == EEXIST && RemoveIfHeaderOnly(path)) {
            fd = CreateExclusive(path);
            error = errno;
        }
        if (fd < 0 && error == EEXIST) continue;
        if (fd < 0) CannotRecord(path, std::strerror(error));
        ++next;
        return std::unique_ptr<RecordingWriter>(
            new RecordingWriter(InPlace{}, path, fd, createdTicks, imageSize));
    }
    CannotRecord((std::filesystem::path(folder) / "recording_NNNN.zrec").string(),
                 "every number up to 9999 is taken");
}

void RecordingWriter::WriteHeader(std::int64_t createdTicks, std::uint32_t imageSize) {
    RecordingFileHeader header{};
    std::memcpy(header.magic, kRecordingMagic, sizeof header.magic);
    header.version = kRecordingVersion;
    header.headerSize = sizeof header;
    header.createdTicks = createdTicks;
    header.imageSize = imageSize;
    if (!WriteAll(&header, sizeof header)) {
        const std::string why = error_;
        Abandon();
        throw System::IOException("cannot write the recording '" + path_ + "': " + why);
    }
    bytes_ = sizeof header;
}

RecordingWriter::~RecordingWriter() {
    if (frames_ == 0) Abandon();
    if (fd_ >= 0) ::close(fd_);
}

// Nothing recorded: the file goes, and whatever it was to replace stays.
void RecordingWriter::Abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink((temporary_.empty() ? path_ : temporary_).c_str());
    temporary_.clear();
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

// The recording takes the path: a file there is replaced only while no other writer holds it,
// and stays held (locked) across the rename, so two writers never both take it.
bool RecordingWriter::Publish() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int held = ::open(path_.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (held < 0 && errno == ENOENT) {
#ifdef _WIN32
            if (MoveFileExA(temporary_.c_str(), path_.c_str(), 0)) return true;
            if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) continue;
            error_ = "cannot rename its temporary file (error " + std::to_string(GetLastError()) + ")";
#else
            if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) == 0)
                return true;
            if (errno == EEXIST) continue;
            error_ = std::strerror(errno);
#endif
            return false;
        }
        struct stat st {};
        if (held < 0 || ::fstat(held, &st) != 0 || !S_ISREG(st.st_mode)) {
            error_ = held < 0 && errno != ELOOP ? std::strerror(errno) : "not a regular file";
            if (held >= 0) ::close(held);
            return false;
        }
        if (!TryLockFile(held, true)) {
            ::close(held);
            error_ = "another run is recording to '" + path_ + "'";
            return false;
        }
        if (const auto there = IdOf(held); !there || there != replaces_) {
            ::close(held);
            error_ = "another run recorded to '" + path_ + "' after this one began";
            return false;
        }
#ifdef _WIN32
        ::close(held);  // a file held open cannot be replaced there
        const bool renamed = MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
        if (!renamed) error_ = "cannot replace it (error " + std::to_string(GetLastError()) + ")";
#else
        const bool renamed = ::rename(temporary_.c_str(), path_.c_str()) == 0;
        if (!renamed) error_ = std::strerror(errno);
        ::close(held);
#endif
        return renamed;
    }
    error_ = "its name keeps being taken";
    return false;
}

FrameRecordHeader FrameRecordFor(std::uint64_t frameNumber, std::int64_t ticks, std::uint32_t length) {
    FrameRecordHeader record{};
    record.magic = kFrameRecordMagic;
    record.length = length;
    record.frameNumber = frameNumber;
    record.ticks = ticks;
    return record;
}

bool RecordingWriter::Append(std::uint64_t frameNumber, std::int64_t ticks,
                             const std::uint8_t* image, std::uint32_t length) {
    FrameRecordHeader record = FrameRecordFor(frameNumber, ticks, length);
    record.crc = FrameRecordChecksum(record, image, length);
    return Append(record, image);
}

// The first frame makes it a recording worth keeping: it takes the path then.
bool RecordingWriter::TakesPath() {
    if (frames_ > 0 || temporary_.empty()) return true;
    if (!Publish()) return false;
    temporary_.clear();
    return true;
}

bool RecordingWriter::Append(const FrameRecordHeader& record, const std::uint8_t* image) {
    if (failed_ || fd_ < 0 || started_) return false;
    const std::uint32_t length = record.length;
    if (WriteAll(&record, sizeof record) && WriteAll(image, length) && TakesPath()) {
        ++frames_;
        bytes_ += sizeof record + length;
        return true;
    }
    // Drop the partial record so the file ends with a complete one.
    failed_ = true;
    if (!SetFileSize(fd_, bytes_)) { /* the reader copes with a cut */ }
    return false;
}

SinkStart RecordingWriter::Start(std::uint8_t* tail) {
    started_ = true;
    framesBeforeStart_ = frames_;
    SinkStart start{bytes_, 1, {}};
    if (writes_.direct && fd_ >= 0) {
        direct_ = DirectFile::Open(fd_, writes_, start.fallback);
        if (direct_) start.block = direct_->Block();
    }
    // The partial block the queue writes again with its first records.
    const std::uint64_t from = bytes_ / start.block * start.block;
    if (from < bytes_ && !ReadFullyAt(fd_, tail, static_cast<std::size_t>(bytes_ - from), from)) {
        direct_.reset();
        start.block = 1;
        start.fallback = "its last block cannot be read back";
    }
    return start;
}

bool RecordingWriter::Write(const BlockWrite& write, std::uint64_t& reached) {
    reached = write.offset;
    if (failed_ || fd_ < 0) return false;
    const bool written = direct_ ? direct_->WriteAt(write.pieces, reached, write.dataEnd, error_)
                                 : WritePiecesAt(fd_, write.pieces, reached, error_);
    if (written && (write.records == 0 || TakesPath())) {
        frames_ = framesBeforeStart_ + write.records;
        bytes_ = write.recordsEnd;
        return true;
    }
    if (written) reached = write.offset;  // it could not take its path: none of it counts
    failed_ = true;
    return false;
}

std::uint64_t RecordingWriter::KeepOnly(std::uint64_t end, std::uint64_t records) {
    failed_ = true;
    if (fd_ < 0) return 0;
    const std::string why = error_;  // the failure's, not the path's
    if (records > 0 && !TakesPath()) {
        records = 0;
        end = bytes_;
    }
    error_ = why;
    frames_ = framesBeforeStart_ + records;
    bytes_ = end;
    if (!SetFileSize(fd_, end)) { /* the reader copes with a cut */ }
    return records;
}

bool RecordingWriter::Finish(std::uint64_t end) {
    if (failed_ || fd_ < 0) return false;
    if (SetFileSize(fd_, end)) return true;
    error_ = std::strerror(errno);
    return false;
}

RecordingReader::RecordingReader(const std::string& path) {
    // Opened without blocking, so a pipe is refused rather than waited on.
    fd_ = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw System::IOException("cannot open the recording '" + path +
                                  "': " + std::strerror(errno));
    // A folder, a device or a pipe has no size to read frames against.
    if (!RegularFileSize(fd_, size_)) {
        ::close(fd_);
        throw System::IOException("cannot open the recording '" + path + "': not a regular file");
    }
    try {
        if (!ReadHeaderOrFindRecords(path))
            throw System::FormatException("'" + path + "' is not a recording");
    } catch (...) {
        ::close(fd_);
        throw;
    }
    offset_ = first_;
}

RecordingReader::~RecordingReader() {
    if (fd_ >= 0) ::close(fd_);
}

long long RecordingReader::ReadAt(void* buffer, std::size_t n, std::uint64_t offset) const {
    return ::ReadAt(fd_, buffer, n, offset);
}

// Whether a record whose framing holds and whose checksum verifies starts at offset.
bool RecordingReader::WholeRecordAt(std::uint64_t offset) {
    const std::uint64_t was = offset_;
    offset_ = offset;
    FrameRecordHeader record{};
    bool whole = ReadRecordHeader(record) == Framing::Whole;
    offset_ = was;
    if (!whole) return false;
    std::vector<std::uint8_t> image(record.length);
    whole = ReadFullyAt(fd_, image.data(), image.size(), offset + sizeof record) &&
            FrameRecordChecksum(record, image.data(), record.length) == record.crc;
    return whole;
}

// Whether a whole record starts in [from, before).
bool RecordingReader::WholeRecordWithin(std::uint64_t from, std::uint64_t before) {
    const RecordScan scan = FindWholeRecord(
        [this](void* b, std::size_t n, std::uint64_t at) { return ReadAt(b, n, at); }, from, size_);
    return scan.found && *scan.found < before;
}

// A header whose marker or size is wrong is damage when a whole record follows it; a header
// whose marker holds but whose version is another is a recording this reader does not know. A
// header longer than this version's is taken at its word where a whole record follows it.
bool RecordingReader::ReadHeaderOrFindRecords(const std::string& path) {
    first_ = sizeof header_;
    const bool whole = size_ >= sizeof header_ && ReadFullyAt(fd_, &header_, sizeof header_, 0);
    const bool marked = whole && std::memcmp(header_.magic, kRecordingMagic, sizeof header_.magic) == 0;
    // A version byte damaged, not a version this reader does not know, when this version's
    // records follow.
    if (marked && header_.version != kRecordingVersion &&
        FindWholeRecord([this](void* b, std::size_t n, std::uint64_t at) { return ReadAt(b, n, at); },
                        sizeof header_, size_)
            .found) {
        headerDamaged_ = true;
        return true;
    }
    if (marked && header_.version != kRecordingVersion)
        throw System::FormatException(
            "'" + path + "' is a recording of version " + std::to_string(header_.version) +
            "; only version " + std::to_string(kRecordingVersion) + " can be read");
    if (marked && header_.headerSize == sizeof header_) return true;
    if (marked && header_.headerSize > sizeof header_ && header_.headerSize < size_ &&
        !WholeRecordAt(sizeof header_) && WholeRecordAt(header_.headerSize)) {
        first_ = header_.headerSize;
        return true;
    }
    if (marked) {
        headerDamaged_ = true;
        return true;
    }
    if (!whole) return false;
    const RecordScan scan = FindWholeRecord(
        [this](void* b, std::size_t n, std::uint64_t at) { return ReadAt(b, n, at); },
        sizeof header_, size_);
    if (!scan.found) return false;
    headerDamaged_ = true;
    return true;
}

RecordingReader::Framing RecordingReader::ReadRecordHeader(FrameRecordHeader& record) {
    const std::uint64_t left = size_ - offset_;
    if (left < sizeof record || !ReadFullyAt(fd_, &record, sizeof record, offset_))
        return Framing::CutShort;
    if (record.magic != kFrameRecordMagic || record.length > kMaxFrameRecordLength)
        return Framing::Broken;
    if (left - sizeof record < record.length) return Framing::CutShort;
    return Framing::Whole;
}

// The end of the file or another record's marker after a record: its length was not damaged.
bool RecordingReader::FollowedByRecord(std::uint64_t next) const {
    if (next == size_) return true;
    std::uint32_t magic = 0;
    return size_ - next >= sizeof magic && ReadFullyAt(fd_, &magic, sizeof magic, next) &&
           magic == kFrameRecordMagic;
}

// Goes on at the next whole record after the one at offset_, listing what lies between; false
// (and the ending set) when none follows.
bool RecordingReader::GoOnAfterDamage(Framing why) {
    // Once the recording's image size is known, a record far longer than it is not waited for
    // (a size change is a few times at most).
    const std::uint64_t longest = lastLength_ > 0 ? 4 * std::uint64_t{lastLength_} + 4096 : kMaxFrameRecordLength;
    const RecordScan scan = FindWholeRecord(
        [this](void* b, std::size_t n, std::uint64_t at) { return ReadAt(b, n, at); },
        offset_ + 1, size_, longest);
    passedOver_ += scan.candidatesPassedOver;
    if (!scan.found) {
        ending_ = why == Framing::CutShort || EndsInPadding() ? End::CutShort : End::Damaged;
        trailing_ = size_ - offset_;
        return false;
    }
    FrameRecordHeader next{};
    ReadFullyAt(fd_, &next, sizeof next, *scan.found);
    const std::uint64_t record = sizeof next + (lastLength_ > 0 ? lastLength_ : next.length);
    const std::uint64_t length = *scan.found - offset_;
    DamagedRange range{offset_, length, (length + record / 2) / record, lastNumber_, next.frameNumber};
    // The numbers around it, where they go on, bound what it can have held (a stretch of zeros
    // between consecutive frames held none).
    if (lastNumber_ && next.frameNumber > *lastNumber_)
        range.framesLost = std::min(range.framesLost, next.frameNumber - *lastNumber_ - 1);
    damaged_.push_back(range);
    offset_ = *scan.found;
    return true;
}

// Where the zeros that end the file begin (its size when its last byte is not zero); looked for
// once.
std::uint64_t RecordingReader::ZeroTail() const {
    if (zeroTail_) return *zeroTail_;
    std::uint64_t zeros = size_;
    std::uint8_t chunk[4096];
    while (zeros > 0 && !zeroTail_) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, zeros));
        if (!ReadFullyAt(fd_, chunk, n, zeros - n)) zeroTail_ = size_;
        for (std::size_t i = n; i-- > 0 && !zeroTail_;)
            if (chunk[i] != 0) zeroTail_ = zeros - n + i + 1;
        zeros -= n;
    }
    if (!zeroTail_) zeroTail_ = 0;
    return *zeroTail_;
}

// The padding of the last block a recording killed while it was written leaves: the file is
// whole blocks, and zeros run to its end from the record at offset_ on, or from within it (its
// marker, as far as it came, in place), where its last bytes should be.
bool RecordingReader::EndsInPadding() const {
    if (size_ % kMinDirectBlock != 0) return false;
    const std::uint64_t zeros = ZeroTail();
    if (zeros <= offset_) return true;
    FrameRecordHeader record{};
    const auto came = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof record, zeros - offset_));
    if (!ReadFullyAt(fd_, &record, came, offset_)) return false;
    const auto marker = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof record.magic, came));
    if (std::memcmp(&record.magic, &kFrameRecordMagic, marker) != 0) return false;
    if (came < offsetof(FrameRecordHeader, frameNumber)) return true;  // its length never came
    return record.length <= kMaxFrameRecordLength && zeros < offset_ + sizeof record + record.length;
}

// Whether the file ends where the next record would start (the ending set then clean).
bool RecordingReader::AtCleanEnd() {
    if (offset_ != size_) return false;
    ending_ = End::Clean;
    return true;
}

bool RecordingReader::Next(RecordedFrame& frame) {
    while (ending_ == End::None && !AtCleanEnd()) {
        FrameRecordHeader record{};
        Framing framing = ReadRecordHeader(record);
        if (framing == Framing::Whole) {
            frame.image.resize(record.length);
            if (record.length > 0 &&
                !ReadFullyAt(fd_, frame.image.data(), record.length, offset_ + sizeof record)) {
                ending_ = End::CutShort;
                trailing_ = size_ - offset_;
                break;
            }
            const bool ok = FrameRecordChecksum(record, frame.image.data(), record.length) == record.crc;
            const std::uint64_t next = offset_ + sizeof record + record.length;
            // Its last bytes zeros to the end: a record cut short and padded, not a damaged one.
            if (!ok && EndsInPadding()) {
                ending_ = End::CutShort;
                trailing_ = size_ - offset_;
                break;
            }
            // A record failing its checksum is one frame when the end or a whole record follows
            // it, or a marker does and no whole record starts within it: otherwise its length
            // may be what was damaged.
            if (ok || next == size_ || WholeRecordAt(next) ||
                (FollowedByRecord(next) && !WholeRecordWithin(offset_ + 1, next))) {
                frame.frameNumber = record.frameNumber;
                frame.ticks = record.ticks;
                frame.fileOffset = offset_;
                frame.checksumOk = ok;
                if (ok) {
                    lastLength_ = record.length;
                    lastNumber_ = record.frameNumber;
                }
                offset_ = next;
                return true;
            }
            framing = Framing::Broken;
        }
        if (!GoOnAfterDamage(framing)) break;
    }
    return false;
}

bool RecordingReader::Skip() {
    while (ending_ == End::None && !AtCleanEnd()) {
        FrameRecordHeader record{};
        Framing framing = ReadRecordHeader(record);
        if (framing == Framing::Whole) {
            const std::uint64_t next = offset_ + sizeof record + record.length;
            // A record the end of the file follows may be one cut short and padded: only its
            // checksum tells, as Next reads it.
            if (FollowedByRecord(next) && !(next == size_ && EndsInPadding())) {
                offset_ = next;
                return true;
            }
            // Damage follows: only the checksum tells whether this record is whole.
            RecordedFrame frame;
            return Next(frame);
        }
        if (!GoOnAfterDamage(framing)) break;
    }
    return false;
}

void RecordingReader::Rewind() {
    offset_ = first_;
    ending_ = End::None;
    trailing_ = 0;
    lastLength_ = 0;
    lastNumber_.reset();
    damaged_.clear();
    passedOver_ = 0;
}

}  // namespace Vorn::Zephra::Net::Devices::Recorder
