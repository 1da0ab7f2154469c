#include "host/recorder/direct_writes.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/logging/logger.h"
#include "host/system/posix_files.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#endif

namespace Vorn::Zephra::Net::Devices::Recorder {

AlignedBytes::AlignedBytes(std::size_t size)
    : memory_(std::make_unique_for_overwrite<std::uint8_t[]>(size + kMaxDirectBlock)) {
    const auto at = reinterpret_cast<std::uintptr_t>(memory_.get());
    aligned_ = memory_.get() + (kMaxDirectBlock - at % kMaxDirectBlock) % kMaxDirectBlock;
}

namespace {

// A block the queue can pack to: a power of two its memory alignment covers.
bool UsableBlock(std::size_t block) {
    return block > 0 && block <= kMaxDirectBlock && std::has_single_bit(block);
}

#ifndef _WIN32
// The logical block size of the disk under the file; 4096 (a multiple of every usual one, and
// a page) when the file system has no disk of its own.
std::size_t LogicalBlockSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 4096;
    const std::string device = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                               std::to_string(minor(st.st_dev));
    for (const char* queue : {"/queue/logical_block_size", "/../queue/logical_block_size"}) {
        std::ifstream in(device + queue);
        std::size_t size = 0;
        if (in >> size && UsableBlock(size)) return size;
    }
    return 4096;
}

// What direct writes to the file must be aligned to, in the file and in memory; 0 when the
// file system says it takes none.
std::size_t DirectAlignment(int fd) {
#ifdef STATX_DIOALIGN
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN))
        return std::max<std::size_t>(sx.stx_dio_offset_align, sx.stx_dio_mem_align);
#endif
    return LogicalBlockSize(fd);
}
#endif

}  // namespace

bool SetFileSize(int fd, std::uint64_t size) {
#ifdef _WIN32
    return _chsize_s(fd, static_cast<__int64>(size)) == 0;
#else
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
#endif
}

namespace {

// The pieces after their first `skip` bytes, at most kMostPieces of them.
std::span<const BlockPiece> Rest(std::span<const BlockPiece> pieces, std::uint64_t skip,
                                 BlockPiece (&rest)[kMostPieces]) {
    std::size_t n = 0;
    for (const BlockPiece& piece : pieces) {
        if (skip >= piece.length) {
            skip -= piece.length;
            continue;
        }
        if (n == kMostPieces) break;
        rest[n++] = {piece.data + skip, piece.length - static_cast<std::size_t>(skip)};
        skip = 0;
    }
    return std::span<const BlockPiece>(rest, n);
}

}  // namespace

// The pieces cut to their first `length` bytes.
std::span<const BlockPiece> Cut(std::span<const BlockPiece> pieces, std::uint64_t length,
                                BlockPiece (&cut)[kMostPieces]) {
    std::size_t n = 0;
    for (const BlockPiece& piece : pieces) {
        if (length == 0 || n == kMostPieces) break;
        cut[n] = {piece.data, static_cast<std::size_t>(std::min<std::uint64_t>(piece.length, length))};
        length -= cut[n++].length;
    }
    return std::span<const BlockPiece>(cut, n);
}

bool DirectFile::WriteAt(std::span<const BlockPiece> pieces, std::uint64_t& at, std::uint64_t dataEnd,
                         std::string& error) {
    const std::uint64_t from = at;
    std::uint64_t end = from;
    for (const BlockPiece& piece : pieces) end += piece.length;
    if (!refused_ && WriteDirect(pieces, at, error)) return true;
    if (!refused_ && Refused(end)) {
        refused_ = true;
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            ::Vorn::Zephra::Diagnostics::Log::Logger::Trace(
                "recorder: the file system took direct writes at the open and refuses them (" + error +
                "); writing through the page cache");
    }
    if (at >= dataEnd) return true;  // what is left is padding
    BlockPiece rest[kMostPieces], data[kMostPieces];
    error.clear();
    return WritePiecesAt(buffered_, Cut(Rest(pieces, at - from, rest), dataEnd - at, data), at, error);
}

#ifdef _WIN32

namespace {

bool WriteHandleAt(HANDLE handle, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error,
                   bool once, int* failure = nullptr) {
    for (const BlockPiece& piece : pieces) {
        for (std::size_t done = 0; done < piece.length;) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(piece.length - done, 1u << 30));
            DWORD wrote = 0;
            if (!WriteFile(handle, piece.data + done, ask, &wrote, &where) || wrote == 0) {
                if (failure) *failure = static_cast<int>(GetLastError());
                error = GetLastError() == ERROR_DISK_FULL ? "No space left on device"
                                                          : "write failed (error " + std::to_string(GetLastError()) + ")";
                return false;
            }
            done += wrote;
            at += wrote;
            if (once && wrote < ask) return false;
        }
    }
    return true;
}

}  // namespace

bool WritePiecesAt(int fd, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    return WriteHandleAt(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), pieces, at, error, false);
}

std::unique_ptr<DirectFile> DirectFile::Open(int fd, const RecordingWrites& writes, std::string& why) {
    // Sectors are 512 or 4096 bytes: 4096 covers both.
    const std::size_t block = std::max<std::size_t>(writes.block, 4096);  // >= kMinDirectBlock
    if (writes.refuseDirect || !UsableBlock(block)) {
        why = "the file system refuses unbuffered writes";
        return nullptr;
    }
    const HANDLE reopened = ReOpenFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
    if (reopened == INVALID_HANDLE_VALUE) {
        why = "the file system refuses unbuffered writes (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return std::unique_ptr<DirectFile>(new DirectFile(reinterpret_cast<std::intptr_t>(reopened), fd, block, writes.refuseDirectWrites));
}

DirectFile::~DirectFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

bool DirectFile::WriteDirect(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    failure_ = 0;
    if (refuseWrites_) {
        failure_ = ERROR_INVALID_PARAMETER;
        error = "write failed (error " + std::to_string(failure_) + ")";
        return false;
    }
    return WriteHandleAt(reinterpret_cast<HANDLE>(handle_), pieces, at, error, true, &failure_);
}

bool DirectFile::Refused(std::uint64_t) const { return failure_ == ERROR_INVALID_PARAMETER; }

#else

namespace {

std::uint64_t Total(std::span<const BlockPiece> pieces) {
    std::uint64_t total = 0;
    for (const BlockPiece& piece : pieces) total += piece.length;
    return total;
}

// Writes the pieces from `at` in as few calls as the kernel allows; a short write goes on where
// it stopped, unless `once`.
bool WriteVectorAt(int fd, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error, bool once,
                   int* failure = nullptr) {
    const std::uint64_t total = Total(pieces);
    for (std::uint64_t done = 0; done < total;) {
        BlockPiece rest[kMostPieces];
        const std::span<const BlockPiece> left = Rest(pieces, done, rest);
        iovec io[kMostPieces];
        for (std::size_t i = 0; i < left.size(); ++i) io[i] = {const_cast<std::uint8_t*>(left[i].data), left[i].length};
        const ssize_t wrote = ::pwritev(fd, io, static_cast<int>(left.size()), static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (failure) *failure = wrote < 0 ? errno : 0;
            error = wrote < 0 ? std::strerror(errno) : "the file takes no more bytes";
            return false;
        }
        at += static_cast<std::uint64_t>(wrote);
        done += static_cast<std::uint64_t>(wrote);
        if (once && done < total) {
            error = "the file took part of a write";
            return false;
        }
    }
    return true;
}

}  // namespace

bool WritePiecesAt(int fd, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    return WriteVectorAt(fd, pieces, at, error, false);
}

std::unique_ptr<DirectFile> DirectFile::Open(int fd, const RecordingWrites& writes, std::string& why) {
    const std::size_t alignment = DirectAlignment(fd);
    if (writes.refuseDirect || alignment == 0) {
        why = std::strerror(EINVAL);
        return nullptr;
    }
    // The least the file system takes is not what it takes fast: a disk of 4096-byte sectors
    // that is given 512-byte blocks reads each of its sectors back to write part of it. Its
    // preferred size, unless asked for another.
    struct stat st {};
    const std::size_t preferred = ::fstat(fd, &st) == 0 && st.st_blksize > 0 ? static_cast<std::size_t>(st.st_blksize) : 4096;
    const std::size_t block = std::max({writes.block > 0 ? writes.block : preferred, alignment, kMinDirectBlock});
    if (!UsableBlock(block)) {
        why = "its direct writes must be aligned to " + std::to_string(block) + " bytes";
        return nullptr;
    }
    // Its own open file description: the writer's descriptor stays buffered.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int direct = ::open(self.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (direct < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<DirectFile>(new DirectFile(direct, fd, block, writes.refuseDirectWrites));
}

DirectFile::~DirectFile() { ::close(static_cast<int>(handle_)); }

bool DirectFile::WriteDirect(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    failure_ = 0;
    if (refuseWrites_) {
        failure_ = EINVAL;
        error = std::strerror(EINVAL);
        return false;
    }
    return WriteVectorAt(static_cast<int>(handle_), pieces, at, error, true, &failure_);
}

// A write of whole aligned blocks refused as such, not cut at the process's file-size limit
// (which leaves a length no block's multiple, refused the same way).
bool DirectFile::Refused(std::uint64_t end) const {
    rlimit limit{};
    const bool limited = ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                         end > static_cast<std::uint64_t>(limit.rlim_cur);
    return failure_ == EINVAL && !limited;
}

#endif

}  // namespace Vorn::Zephra::Net::Devices::Recorder
