#include "host/system/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/system/posix_files.h"

namespace System::IO {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw FileReadException(path, why);
}

}  // namespace

std::string SizeLimitText(std::uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

int OpenRegularFile(const std::string& path) {
    // Not blocking: a pipe with no writer would hold the open forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) {
        // Windows refuses to open a folder at all: it is still a folder, not a permission.
        const int error = errno;
        Refuse(path, ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? "it is a folder"
                                                                            : std::strerror(error));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Refuse(path, S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    }
    return fd;
}

std::vector<std::uint8_t> ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
    const int fd = OpenRegularFile(path);
    struct stat st {};
    ::fstat(fd, &st);
    const std::string tooLarge = "larger than " + SizeLimitText(maxBytes);
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        Refuse(path, tooLarge);
    }
    // Some files (under /proc) say they are empty and are not: read to the end, up to the bound.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > maxBytes) break;
            bytes.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(bytes.size() * 2 + 4096, maxBytes + 1)));
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
    if (used > maxBytes) Refuse(path, tooLarge);
    bytes.resize(used);
    return bytes;
}

}  // namespace System::IO
