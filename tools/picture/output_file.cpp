#include "tools/picture/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/system/posix_files.h"

namespace Vorn::Picture {
namespace {

PictureStatus WriteError(const std::string& path, const std::string& why) {
    return PictureStatus::Error("cannot write '" + path + "': " + why);
}

}  // namespace

std::string OutputPathProblem(const std::string& path) {
    if (path.empty()) return "no file named";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? std::string() : S_ISDIR(st.st_mode) ? "it is a folder"
                                                                         : "not a regular file";
    if (errno != ENOENT) return std::strerror(errno);
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\");
#else
    const auto slash = path.find_last_of('/');
#endif
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return "'" + folder + "' is not a folder";
    return {};
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        temporary_ = path_ + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(temporary_.c_str(), O_WRONLY | O_BINARY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd >= 0 && !(file_ = ::fdopen(fd, "wb"))) {
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
