#pragma once
// The few POSIX file calls the framework and its tools use, on Windows too. There a file must be
// opened in binary mode (O_BINARY, 0 elsewhere) and O_CLOEXEC is O_NOINHERIT; nothing blocks on
// open (O_NONBLOCK is 0); and lstat, which the C runtime lacks, reports a symbolic link or other
// reparse point as neither file nor folder, so it is refused as on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC O_NOINHERIT
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif

inline int lstat(const char* path, struct stat* st) {
    if (::stat(path, st) != 0) return -1;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        st->st_mode = 0;
    }
    return 0;
}
#else
#ifndef O_BINARY
#define O_BINARY 0
#endif
#endif

// Reads up to n bytes at a 64-bit offset without moving the file's position (a Windows C
// runtime's long is 32 bits, so its seeks stop at 2 GiB); the count read, 0 at the end, -1 on
// an error.
inline long long ReadAt(int fd, void* buffer, std::size_t n, std::uint64_t offset) {
#ifdef _WIN32
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD ask = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    if (!ReadFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), buffer, ask, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
#else
    return ::pread(fd, buffer, n, static_cast<off_t>(offset));
#endif
}

// Reads exactly n bytes at offset; false when the file ends first or a read fails.
inline bool ReadFullyAt(int fd, void* buffer, std::size_t n, std::uint64_t offset) {
    auto* at = static_cast<unsigned char*>(buffer);
    while (n > 0) {
        const long long got = ReadAt(fd, at, n, offset);
        if (got <= 0) return false;
        at += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// A regular file's size in 64 bits (the runtime's own stat keeps it in 32 on Windows).
inline bool RegularFileSize(int fd, std::uint64_t& size) {
#ifdef _WIN32
    struct _stati64 st {};
    if (_fstati64(fd, &st) != 0 || !(st.st_mode & _S_IFREG)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
#else
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
#endif
    return true;
}
