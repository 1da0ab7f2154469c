#include "tools/picture/output_file.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <cerrno>
#include <cstring>

#include "host/system/abandoned_files.h"
#include "host/system/posix_files.h"

namespace Vorn::Picture {
namespace {

PictureStatus WriteError(const std::string& path, const std::string& why) {
    return PictureStatus::Error("cannot write '" + path + "': " + why);
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\");
#else
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A short name beside the file, whatever the file's own name's length.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    return folder + "/.out-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

// The first bytes of what the outputs write: a TIFF (classic or big, either byte order), a PNG,
// a Matroska video, a ZRF image, a CSV file of counts or the frames' index.
bool StartsAsOurOutput(const unsigned char* first, std::size_t n) {
    const auto starts = [&](std::string_view magic) {
        return n >= magic.size() && std::memcmp(first, magic.data(), magic.size()) == 0;
    };
    using namespace std::string_view_literals;
    return starts("II*\0"sv) || starts("II+\0"sv) || starts("MM\0*"sv) || starts("MM\0+"sv) ||
           starts("\x89PNG\r\n\x1A\n"sv) || starts("\x1A\x45\xDF\xA3"sv) || starts("ZRF\0"sv) ||
           starts("number,time,"sv) || (n > 0 && first[0] >= '0' && first[0] <= '9' &&
                                         std::all_of(first, first + n, [](unsigned char c) {
                                             return (c >= '0' && c <= '9') || c == ',' || c == '\n';
                                         }));
}

}  // namespace

void RemoveAbandonedOutputs(const std::string& folder) {
    System::IO::RemoveAbandonedIn(folder, ".out-", ".tmp", [](const unsigned char* first, std::size_t n, std::uint64_t) {
        return StartsAsOurOutput(first, n);
    });
}

std::string OutputPathProblem(const std::string& path) {
    if (path.empty()) return "no file named";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? std::string() : S_ISDIR(st.st_mode) ? "it is a folder"
                                                                         : "not a regular file";
    if (errno != ENOENT) return std::strerror(errno);
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return "'" + folder + "' is not a folder";
    return {};
}

std::string OutputProblemBeforeWork(const std::string& path) {
    if (std::string problem = OutputPathProblem(path); !problem.empty()) return problem;
    const std::string folder = FolderOf(path);
#ifndef _WIN32
    const std::string name = path.substr(path.find_last_of('/') + 1);  // all of it without a slash
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && name.size() > static_cast<std::size_t>(nameMax))
        return "the name is longer than its folder allows (" + std::to_string(nameMax) + " bytes)";
#endif
    // The only sure test that the folder takes new files is making one.
    const std::string probe = TemporaryName(folder);
    const int fd = ::open(probe.c_str(), O_WRONLY | O_BINARY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return "cannot create files in '" + folder + "': " + std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        temporary_ = TemporaryName(FolderOf(path_));
        // Readable too: a TIFF writer reads back the directory it links the next one to.
        const int fd = ::open(temporary_.c_str(), O_RDWR | O_BINARY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        // Held while written: a temporary found unlocked is one a killed run left.
        if (fd >= 0) System::IO::TryLockFile(fd, true);
        if (fd >= 0 && !(file_ = ::fdopen(fd, "w+b"))) {
            openError_ = errno;
            ::close(fd);
            ::unlink(temporary_.c_str());
        } else if (fd < 0) {
            openError_ = errno;
        }
        break;
    }
    if (!file_) temporary_.clear();
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

PictureStatus OutputFile::Commit(int writeError) {
    if (!file_) return WriteError(path_, std::strerror(openError_ ? openError_ : EEXIST));
    const bool flushed = writeError == 0 && std::fflush(file_) == 0 && !std::ferror(file_);
    int error = writeError ? writeError : errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (flushed && !closed) error = errno;
    if (!flushed || !closed) return WriteError(path_, std::strerror(error ? error : EIO));
    // Checked again just before the rename: the path may have changed since the start.
    if (const std::string problem = OutputPathProblem(path_); !problem.empty())
        return WriteError(path_, problem);
#ifdef _WIN32
    // The runtime's rename refuses to replace a file; the platform's own move replaces it.
    if (!MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
        return WriteError(path_, "cannot replace it (error " + std::to_string(GetLastError()) + ")");
#else
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) return WriteError(path_, std::strerror(errno));
#endif
    temporary_.clear();
    return PictureStatus::Ok();
}

PictureStatus WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (const std::string problem = OutputPathProblem(path); !problem.empty())
        return WriteError(path, problem);
    OutputFile out(path);
    errno = 0;
    const bool written =
        out.Stream() && std::fwrite(bytes.data(), 1, bytes.size(), out.Stream()) == bytes.size();
    return out.Commit(out.Stream() && !written ? (errno ? errno : EIO) : 0);
}

}  // namespace Vorn::Picture
