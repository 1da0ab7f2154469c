// The host's events: a raise calls the handlers subscribed when it began, in order, and
// handlers may change the list meanwhile; the native callbacks' entry-point pool.
#include "host/events/event.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/runtime/native_callback.h"
#include "host/system/exceptions.h"

namespace {

using System::Runtime::InteropServices::NativeCallback;
using Vorn::Zephra::Net::Event;
using Vorn::Zephra::Net::SubscriptionId;

struct Args {
    int value;
};

TEST(Event, ARaiseCallsTheHandlersOfItsStartInOrder) {
    Event<Args> event;
    std::vector<int> calls;
    int sender = 0;
    SubscriptionId self = 0;
    self = event.Subscribe([&](const void* s, const Args& a) {
        EXPECT_EQ(s, &sender);
        calls.push_back(a.value + 1);
        EXPECT_TRUE(event.Unsubscribe(self));  // must not deadlock
        event.Subscribe([&](const void*, const Args& b) { calls.push_back(b.value + 3); });
    });
    event.Subscribe([&](const void*, const Args& a) { calls.push_back(a.value + 2); });
    event.Raise(&sender, {10});
    EXPECT_EQ(calls, (std::vector<int>{11, 12}));  // not yet the handler added meanwhile
    EXPECT_FALSE(event.Unsubscribe(self));
    calls.clear();
    event.Raise(&sender, {20});
    EXPECT_EQ(calls, (std::vector<int>{22, 23}));
}

TEST(NativeCallback, EachHasItsOwnEntryPointUntilThePoolIsExhausted) {
    int a = 0;
    int b = 0;
    NativeCallback first([&] { ++a; });
    NativeCallback second([&] { b += 10; });
    ASSERT_NE(first.EntryPoint(), second.EntryPoint());
    first.EntryPoint()();
    second.EntryPoint()();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 10);
    const int before = NativeCallback::InUse();
    std::vector<std::unique_ptr<NativeCallback>> all;
    for (int i = before; i < NativeCallback::kCapacity; ++i)
        all.push_back(std::make_unique<NativeCallback>([] {}));
    EXPECT_THROW(NativeCallback([] {}), System::InvalidOperationException);
    all.pop_back();  // a freed entry point serves the next callback
    NativeCallback again([&] { a += 100; });
    again.EntryPoint()();
    EXPECT_EQ(a, 101);
    all.clear();
    EXPECT_EQ(NativeCallback::InUse(), before + 1);
}

}  // namespace
