#pragma once
// A multicast event as the framework offers it: handlers run synchronously in subscription
// order. Subscribing and unsubscribing are serialised; raising works on a snapshot of the
// handler list, so a handler may (un)subscribe while the event is being raised.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Vorn::Zephra::Net {

using SubscriptionId = std::uint64_t;

template <class Args>
class Event {
  public:
    using Handler = std::function<void(const void* sender, const Args& args)>;

    SubscriptionId Subscribe(Handler handler) {
        std::lock_guard lock(mutex_);
        auto next = std::make_shared<List>(*handlers_);
        const SubscriptionId id = ++lastId_;
        next->push_back({id, std::move(handler)});
        handlers_ = std::move(next);
        return id;
    }

    // Returns whether the subscription existed.
    bool Unsubscribe(SubscriptionId id) {
        std::lock_guard lock(mutex_);
        auto next = std::make_shared<List>();
        for (const auto& entry : *handlers_)
            if (entry.id != id) next->push_back(entry);
        const bool found = next->size() != handlers_->size();
        handlers_ = std::move(next);
        return found;
    }

    void Raise(const void* sender, const Args& args) const {
        RaiseWhile(sender, args, [] { return true; });
    }

    // Raises to each handler in turn while `goOn()` holds before it: a sender that one of its
    // handlers destroyed raises no further.
    template <class GoOn>
    void RaiseWhile(const void* sender, const Args& args, const GoOn& goOn) const {
        std::shared_ptr<const List> snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = handlers_;
        }
        for (const auto& entry : *snapshot) {
            if (!goOn()) return;
            entry.handler(sender, args);
        }
    }

    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return handlers_->size();
    }

  private:
    struct Entry {
        SubscriptionId id;
        Handler handler;
    };
    using List = std::vector<Entry>;

    mutable std::mutex mutex_;
    std::shared_ptr<const List> handlers_ = std::make_shared<List>();
    SubscriptionId lastId_ = 0;
};

}  // namespace Vorn::Zephra::Net
