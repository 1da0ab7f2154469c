#pragma once
// Turns a hang into a failure: when the test makes no progress for too long, it prints what it
// was doing and ends the process (a deadlock would otherwise hold CI until its own timeout).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace zrf::soak {

class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds patience)
        : thread_([this, patience] { Watch(patience); }) {}
    ~Watchdog() {
        Progress("", true);
        thread_.join();
    }

    void Progress(std::string step, bool done = false) {
        std::lock_guard lock(mutex_);
        step_ = std::move(step);
        ++progress_;
        done_ = done;
        changed_.notify_all();
    }

  private:
    void Watch(std::chrono::seconds patience) {
        std::unique_lock lock(mutex_);
        for (std::uint64_t seen = progress_; !done_; seen = progress_) {
            if (!changed_.wait_for(lock, patience, [&] { return progress_ != seen; })) {
                std::fprintf(stderr, "watchdog: no progress for %lld s, stuck at: %s\n",
                             static_cast<long long>(patience.count()), step_.c_str());
                std::fflush(stderr);
                std::_Exit(3);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string step_ = "starting";
    std::uint64_t progress_ = 0;
    bool done_ = false;
    std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace zrf::soak
