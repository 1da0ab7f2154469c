#pragma once
// Marks the thread while it runs a device's event handlers: the streaming thread for each
// delivered image, any thread while the recorder reports its state under its own lock.
// Operations that stop the graph check it, since from there they would wait for themselves.

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class HandlerScope {
  public:
    explicit HandlerScope(const void* device) : previous_(current_) { current_ = device; }
    ~HandlerScope() { current_ = previous_; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

    static bool Inside(const void* device) { return device != nullptr && current_ == device; }

  private:
    static inline thread_local const void* current_ = nullptr;
    const void* previous_;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
