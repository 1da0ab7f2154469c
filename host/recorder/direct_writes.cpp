#include "host/recorder/direct_writes.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/system/posix_files.h"

#ifndef _WIN32
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

bool DirectFile::WriteAt(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    const std::uint64_t from = at;
    if (WriteDirect(pieces, at, error)) return true;
    BlockPiece rest[kMostPieces];
    return WritePiecesAt(buffered_, Rest(pieces, at - from, rest), at, error);
}

#ifdef _WIN32

namespace {

bool WriteHandleAt(HANDLE handle, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error,
                   bool once) {
    for (const BlockPiece& piece : pieces) {
        for (std::size_t done = 0; done < piece.length;) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(piece.length - done, 1u << 30));
            DWORD wrote = 0;
            if (!WriteFile(handle, piece.data + done, ask, &wrote, &where) || wrote == 0) {
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
    const std::size_t block = std::max<std::size_t>(writes.block, 4096);
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
    return std::unique_ptr<DirectFile>(new DirectFile(reinterpret_cast<std::intptr_t>(reopened), fd, block));
}

DirectFile::~DirectFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

bool DirectFile::WriteDirect(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    return WriteHandleAt(reinterpret_cast<HANDLE>(handle_), pieces, at, error, true);
}

#else

namespace {

std::uint64_t Total(std::span<const BlockPiece> pieces) {
    std::uint64_t total = 0;
    for (const BlockPiece& piece : pieces) total += piece.length;
    return total;
}

// Writes the pieces from `at` in as few calls as the kernel allows; a short write goes on where
// it stopped, unless `once`.
bool WriteVectorAt(int fd, std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error, bool once) {
    const std::uint64_t total = Total(pieces);
    for (std::uint64_t done = 0; done < total;) {
        BlockPiece rest[kMostPieces];
        const std::span<const BlockPiece> left = Rest(pieces, done, rest);
        iovec io[kMostPieces];
        for (std::size_t i = 0; i < left.size(); ++i) io[i] = {const_cast<std::uint8_t*>(left[i].data), left[i].length};
        const ssize_t wrote = ::pwritev(fd, io, static_cast<int>(left.size()), static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error = wrote < 0 ? std::strerror(errno) : "the file takes no more bytes";
            return false;
        }
        at += static_cast<std::uint64_t>(wrote);
        done += static_cast<std::uint64_t>(wrote);
        if (once && done < total) return false;
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
    const std::size_t block = std::max(writes.block > 0 ? writes.block : preferred, alignment);
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
    return std::unique_ptr<DirectFile>(new DirectFile(direct, fd, block));
}

DirectFile::~DirectFile() { ::close(static_cast<int>(handle_)); }

bool DirectFile::WriteDirect(std::span<const BlockPiece> pieces, std::uint64_t& at, std::string& error) {
    return WriteVectorAt(static_cast<int>(handle_), pieces, at, error, true);
}

#endif

}  // namespace Vorn::Zephra::Net::Devices::Recorder
