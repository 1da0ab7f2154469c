#pragma once
// Marks the thread while it runs a device's event handlers: the streaming thread for each
// delivered image, any thread while it raises the recorder's state changes. Scopes nest (a
// handler of one device may make another device raise), so each thread keeps a chain of them.
//
// Operations that would wait for a device's lock, or for a streaming thread, are deferred or
// refused on a thread inside any scope (CaptureDevice::LockDevice). A device destroyed by its
// own handler marks its scopes gone, so the code that raised the handler returns without
// touching it again.
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class HandlerScope {
  public:
    enum class Context { Delivery, RecorderStatus };

    HandlerScope(const void* device, Context context)
        : device_(device), context_(context), outer_(innermost_) {
        innermost_ = this;
    }
    ~HandlerScope() {
        innermost_ = outer_;
        if (outer_ != nullptr || whenReturned_ == nullptr) return;
        std::unique_ptr<std::vector<std::function<void()>>> actions(whenReturned_);
        whenReturned_ = nullptr;
        for (auto& action : *actions) action();
    }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

    // Whether the device this scope raises for was destroyed by one of its handlers.
    bool DeviceGone() const { return gone_; }

    // The thread runs a handler of some device.
    static bool Active() { return innermost_ != nullptr; }

    // The thread is delivering an image of this device: it is the device's streaming thread.
    static bool DeliveringFor(const void* device) {
        for (const HandlerScope* s = innermost_; s != nullptr; s = s->outer_)
            if (s->device_ == device && s->context_ == Context::Delivery) return true;
        return false;
    }

    // Runs `action` once the thread leaves its outermost scope: every handler it runs has
    // returned. Only inside a scope. The action outlives any device, so it holds what it needs
    // itself.
    static void WhenHandlersReturn(std::function<void()> action) {
        if (whenReturned_ == nullptr) whenReturned_ = new std::vector<std::function<void()>>();
        whenReturned_->push_back(std::move(action));
    }

    static void MarkGone(const void* device) {
        for (HandlerScope* s = innermost_; s != nullptr; s = s->outer_)
            if (s->device_ == device) s->gone_ = true;
    }

  private:
    const void* device_;
    Context context_;
    HandlerScope* outer_;
    bool gone_ = false;
    static inline thread_local HandlerScope* innermost_ = nullptr;
    // A plain pointer, owned by the outermost scope: a thread-local with a destructor would
    // run code of this library when a host's thread ends, maybe after the library was unloaded.
    static inline thread_local std::vector<std::function<void()>>* whenReturned_ = nullptr;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
