#include "host/events/event.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using Vorn::Zephra::Net::Event;
using Vorn::Zephra::Net::SubscriptionId;

namespace {

struct Args {
    int value;
};

TEST(Event, RaisesHandlersInSubscriptionOrderWithSenderAndArgs) {
    Event<Args> event;
    std::vector<int> calls;
    int sender = 0;
    event.Subscribe([&](const void* s, const Args& a) {
        EXPECT_EQ(s, &sender);
        calls.push_back(a.value * 10 + 1);
    });
    event.Subscribe([&](const void*, const Args& a) { calls.push_back(a.value * 10 + 2); });
    event.Raise(&sender, {7});
    EXPECT_EQ(calls, (std::vector<int>{71, 72}));
}

TEST(Event, UnsubscribeRemovesOnlyThatHandler) {
    Event<Args> event;
    std::vector<int> calls;
    SubscriptionId first = event.Subscribe([&](const void*, const Args&) { calls.push_back(1); });
    event.Subscribe([&](const void*, const Args&) { calls.push_back(2); });
    EXPECT_TRUE(event.Unsubscribe(first));
    EXPECT_FALSE(event.Unsubscribe(first));
    event.Raise(nullptr, {0});
    EXPECT_EQ(calls, (std::vector<int>{2}));
    EXPECT_EQ(event.Count(), 1u);
}

TEST(Event, RaiseUsesSnapshotSoHandlersMayChangeTheList) {
    Event<Args> event;
    int laterCalls = 0;
    SubscriptionId self = 0;
    self = event.Subscribe([&](const void*, const Args&) {
        event.Unsubscribe(self);
        event.Subscribe([&](const void*, const Args&) { ++laterCalls; });
    });
    event.Raise(nullptr, {0});  // must not deadlock, must not call the new handler yet
    EXPECT_EQ(laterCalls, 0);
    event.Raise(nullptr, {0});
    EXPECT_EQ(laterCalls, 1);
}

TEST(Event, ConcurrentSubscribeAndRaiseAreSafe) {
    Event<Args> event;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread raiser([&] {
        while (!stop) event.Raise(nullptr, {1});
    });
    std::vector<SubscriptionId> ids;
    for (int i = 0; i < 200; ++i)
        ids.push_back(event.Subscribe([&](const void*, const Args&) { ++calls; }));
    for (auto id : ids) event.Unsubscribe(id);
    stop = true;
    raiser.join();
    EXPECT_EQ(event.Count(), 0u);
}

}  // namespace
