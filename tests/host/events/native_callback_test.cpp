#include "host/runtime/native_callback.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using System::Runtime::InteropServices::NativeCallback;

TEST(NativeCallback, EachCallbackGetsItsOwnEntryPointCallingItsTarget) {
    int a = 0, b = 0;
    NativeCallback first([&] { ++a; });
    NativeCallback second([&] { b += 10; });
    ASSERT_NE(first.EntryPoint(), second.EntryPoint());
    first.EntryPoint()();
    second.EntryPoint()();
    second.EntryPoint()();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 20);
}

TEST(NativeCallback, ExhaustedPoolThrowsAndFreedSlotsAreReused) {
    const int before = NativeCallback::InUse();
    std::vector<std::unique_ptr<NativeCallback>> all;
    for (int i = before; i < NativeCallback::kCapacity; ++i)
        all.push_back(std::make_unique<NativeCallback>([] {}));
    EXPECT_THROW(NativeCallback([] {}), System::InvalidOperationException);
    all.pop_back();
    int called = 0;
    NativeCallback again([&] { ++called; });
    again.EntryPoint()();
    EXPECT_EQ(called, 1);
    all.clear();
    EXPECT_EQ(NativeCallback::InUse(), before + 1);
}
