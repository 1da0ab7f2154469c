#pragma once
// The device lock: re-entrant, and it knows whether the calling thread holds it, so an
// operation can tell the outermost call (which may wait for a deferred one first) from one
// that another operation makes under it.
#include <atomic>
#include <mutex>
#include <thread>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class DeviceLock {
  public:
    void lock() {
        mutex_.lock();
        Entered();
    }
    bool try_lock() {
        if (!mutex_.try_lock()) return false;
        Entered();
        return true;
    }
    void unlock() {
        if (--depth_ == 0) owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }
    // Only the owner can see its own id here, so a relaxed read answers for this thread.
    bool HeldByThisThread() const {
        return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }
    // How deep the holder is; read by the holder only.
    int Depth() const { return depth_; }

  private:
    void Entered() {
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        ++depth_;
    }
    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // guarded by mutex_
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
