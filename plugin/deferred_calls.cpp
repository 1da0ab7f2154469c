#include "plugin/deferred_calls.h"

#include <algorithm>

#include "plugin/handler_scope.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {

namespace {
thread_local const DeferredCalls* runningOn = nullptr;
}

DeferredCalls::~DeferredCalls() {
    DropAllWaiting();
    JoinFinishedWorker();
}

// Nothing is queued unless all of it succeeded: a call that cannot be deferred (no thread to
// be had) throws to the asker and leaves nothing behind that would wait for ever.
void DeferredCalls::Defer(std::function<void()> call) {
    auto released = std::make_shared<bool>(false);
    HandlerScope::WhenHandlersReturn([shared = shared_, released] {
        std::lock_guard lock(shared->mutex);
        *released = true;
        shared->changed.notify_all();
    });
    std::lock_guard lock(shared_->mutex);
    if (!shared_->workerAlive) {
        // The last worker left its loop on an empty queue and needs nothing of ours to end.
        if (worker_.joinable()) worker_.join();
        worker_ = std::thread([this] { Work(); });
        shared_->workerAlive = true;
    }
    shared_->queue.push_back({std::move(call), std::this_thread::get_id(), released});
}

void DeferredCalls::Work() {
    runningOn = this;
    std::unique_lock lock(shared_->mutex);
    for (;;) {
        shared_->changed.wait(lock, [this] { return shared_->queue.empty() || *shared_->queue.front().released; });
        if (shared_->queue.empty()) break;
        auto call = std::move(shared_->queue.front().call);
        shared_->queue.pop_front();
        shared_->running = true;
        lock.unlock();
        call();  // the owner's calls trace their own failures
        call = nullptr;
        lock.lock();
        shared_->running = false;
        shared_->changed.notify_all();
    }
    shared_->workerAlive = false;
    shared_->changed.notify_all();
}

void DeferredCalls::WaitUntilDone() {
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait(lock, [this] { return shared_->queue.empty() && !shared_->running; });
}

void DeferredCalls::DropThoseOfThisThread() {
    const auto self = std::this_thread::get_id();
    std::lock_guard lock(shared_->mutex);
    auto& q = shared_->queue;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [&](const Entry& e) { return e.askedBy == self && !*e.released; }),
            q.end());
    shared_->changed.notify_all();
}

bool DeferredCalls::DropAllWaiting() {
    std::lock_guard lock(shared_->mutex);
    shared_->queue.clear();
    shared_->changed.notify_all();
    return shared_->running;
}

bool DeferredCalls::OnWorker() const { return runningOn == this; }

void DeferredCalls::JoinFinishedWorker() {
    std::thread finished;
    {
        std::lock_guard lock(shared_->mutex);
        finished = std::move(worker_);
    }
    if (finished.joinable()) finished.join();
}

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
