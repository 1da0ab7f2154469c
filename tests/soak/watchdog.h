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
        : patience_(patience), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void Progress(std::string step) {
        std::lock_guard lock(mutex_);
        step_ = std::move(step);
        ++progress_;
        changed_.notify_all();
    }

  private:
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            const std::uint64_t seen = progress_;
            if (!changed_.wait_for(lock, patience_, [&] { return done_ || progress_ != seen; })) {
                std::fprintf(stderr, "watchdog: no progress for %lld s, stuck at: %s\n",
                             static_cast<long long>(patience_.count()), step_.c_str());
                std::fflush(stderr);
                std::_Exit(3);
            }
        }
    }

    const std::chrono::seconds patience_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string step_ = "starting";
    std::uint64_t progress_ = 0;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace zrf::soak
