#pragma once
// Operations a handler asked of a device that would wait for the device's lock or its streaming
// thread. They queue here and run, in the order asked, on a thread of the device's own once
// every handler on the asking thread has returned: by then the thread that asked waits for
// nothing of the device, so the call runs as a host thread's would.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Vorn::Zephra::Net::Devices::Camera::IR {

class DeferredCalls {
  public:
    DeferredCalls() = default;
    // Joins the worker; the owner has waited for or dropped every call before.
    ~DeferredCalls();
    DeferredCalls(const DeferredCalls&) = delete;
    DeferredCalls& operator=(const DeferredCalls&) = delete;

    // Queues `call`, to run once the calling thread's handlers have all returned. Called only
    // from inside a handler (HandlerScope::Active()).
    void Defer(std::function<void()> call);
    // Waits until nothing is queued or running. Never from the worker or from a handler.
    void WaitUntilDone();
    // Drops the calls this thread asked for and that have not started: they could start only
    // once this thread's handlers return, and whoever drops them does their work instead.
    void DropThoseOfThisThread();
    // Drops every call that has not started. Returns whether one is running.
    bool DropAllWaiting();
    // The calling thread is the worker, running a call.
    bool OnWorker() const;

  private:
    struct Shared;
    struct Entry {
        std::function<void()> call;
        std::thread::id askedBy;
        std::shared_ptr<bool> released;  // set, under Shared::mutex, once the asker's handlers returned
    };
    void Work();
    void JoinFinishedWorker();

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::thread worker_;  // replaced under Shared::mutex
};

// What the worker and the asking threads share: an asking thread releases its calls after the
// owner (the device) may be gone, so it holds this, not the owner.
struct DeferredCalls::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> queue;
    bool running = false;  // a call is running on the worker
    bool workerAlive = false;
};

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
