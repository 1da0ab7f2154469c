#pragma once
// The few POSIX file calls the framework and its tools use, on Windows too. There a file must be
// opened in binary mode (O_BINARY, 0 elsewhere) and O_CLOEXEC is O_NOINHERIT; nothing blocks on
// open (O_NONBLOCK is 0); and lstat, which the C runtime lacks, reports a symbolic link or other
// reparse point as neither file nor folder, so it is refused as on Linux.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
