#include "tools/zrfgrab/input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/system/posix_files.h"
#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw UsageError("cannot read '" + path + "': " + why);
}

// An open descriptor on a regular file; a pipe is not waited on.
int OpenRegular(const std::string& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Refuse(path, std::strerror(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Refuse(path, S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    }
    return fd;
}

}  // namespace

void CheckInputFile(const std::string& path) {
    struct stat st {};
    ::close(OpenRegular(path, st));
}

std::vector<std::uint8_t> ReadInputFile(const std::string& path) {
    struct stat st {};
    const int fd = OpenRegular(path, st);
    const std::string tooLarge = "larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB";
    if (static_cast<std::uint64_t>(st.st_size) > kMaxInputBytes) {
        ::close(fd);
        Refuse(path, tooLarge);
    }
    // Some files (under /proc) say they are empty and are not: read to the end, up to the limit.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > kMaxInputBytes) break;
            bytes.resize(std::min<std::size_t>(bytes.size() * 2 + 4096, kMaxInputBytes + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            Refuse(path, std::strerror(error));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (used > kMaxInputBytes) Refuse(path, tooLarge);
    bytes.resize(used);
    return bytes;
}

}  // namespace zrfgrab
