#pragma once
// Files this process writes stop growing at `bytes` while it lives (writes past it fail with
// EFBIG instead of raising SIGXFSZ): a disk that fills up, for this test process alone.
#include <sys/resource.h>

#include <csignal>
#include <stdexcept>
#include <string>

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0 || saved_.rlim_max < bytes)
            throw std::runtime_error("the file-size limit cannot be lowered to " + std::to_string(bytes));
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::signal(SIGXFSZ, signal_);
            throw std::runtime_error("the file-size limit cannot be lowered");
        }
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*signal_)(int) = nullptr;
};
