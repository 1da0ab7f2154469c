#include "host/system/abandoned_files.h"

#include <ctime>
#include <filesystem>
#include <string_view>

#ifndef _WIN32
#include <sys/file.h>
#endif

#include "host/system/posix_files.h"

namespace System::IO {
namespace {
constexpr std::time_t kEmptyAgeSeconds = 60;
}  // namespace

bool TryLockFile(int fd, bool exclusive) {
#ifdef _WIN32
    OVERLAPPED beyond{};
    beyond.Offset = 0xFFFFFFFEu;
    beyond.OffsetHigh = 0x7FFFFFFFu;
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)),
                      (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                      0, &beyond) != 0;
#else
    return ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
#endif
}

bool RemoveIfAbandoned(const std::string& path, const ContentTest& ours, bool emptyToo) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint64_t size = 0;
    unsigned char first[64];
    const long long n = RegularFileSize(fd, size) && size > 0 ? ReadAt(fd, first, sizeof first, 0) : 0;
    struct stat st {}, named {};
    // An empty file holds nothing of anyone's, but may be a writer's that has not locked it yet:
    // only one a minute old is taken for abandoned.
    const bool held = ::fstat(fd, &st) == 0;
    const bool empty = emptyToo && held && size == 0 && std::time(nullptr) - st.st_mtime > kEmptyAgeSeconds;
    const bool abandoned = held && (empty || (n > 0 && ours(first, static_cast<std::size_t>(n), size))) &&
                           TryLockFile(fd, true) &&
                           ::lstat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
                           named.st_ino == st.st_ino;
#ifdef _WIN32
    ::close(fd);  // a file held open cannot be removed there
    return abandoned && ::unlink(path.c_str()) == 0;
#else
    const bool removed = abandoned && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
#endif
}

void RemoveAbandonedIn(const std::string& folder, const std::string& prefix, const std::string& suffix,
                       const ContentTest& ours) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
            continue;
        // A writer's name: PROCESS-COUNT between the two, digits both.
        const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        const auto dash = middle.find('-');
        const auto digits = [](std::string_view t) {
            return !t.empty() && t.find_first_not_of("0123456789") == std::string_view::npos;
        };
        if (dash == std::string::npos || !digits(std::string_view(middle).substr(0, dash)) ||
            !digits(std::string_view(middle).substr(dash + 1)))
            continue;
        RemoveIfAbandoned(it->path().string(), ours, true);
    }
}

}  // namespace System::IO
