// The memory allocator gives what it agreed: every sample's prefix before its buffer, the
// prefix's start on the alignment, no two samples sharing a byte. Alignments the platform
// refuses are refused; a sample asked for without waiting is not waited for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/memory_allocator.h"

namespace {

using zrf::com::ComPtr;
using zrf::com::MakeCom;

struct Request {
    LONG align, prefix;
    HRESULT agreed;  // what SetProperties answers
};

TEST(MemoryAllocator, SamplesHoldTheAgreedPrefixOnTheAgreedAlignment) {
    const Request rows[] = {
        {1, 0, S_OK},      {2, 3, S_OK},           {16, 16, S_OK},       {64, 0, S_OK},
        {64, 100, S_OK},   {4096, 32, S_OK},       {0, 0, VFW_E_BADALIGN}, {3, 0, VFW_E_BADALIGN},
        {48, 0, VFW_E_BADALIGN}, {8192, 0, VFW_E_BADALIGN}, {-4, 0, VFW_E_BADALIGN},
    };
    constexpr LONG kBuffers = 3, kSize = 1001;
    for (const Request& r : rows) {
        SCOPED_TRACE("align " + std::to_string(r.align) + ", prefix " + std::to_string(r.prefix));
        auto allocator = MakeCom<zrf::dshow::MemoryAllocator>();
        ALLOCATOR_PROPERTIES want{kBuffers, kSize, r.align, r.prefix}, got{};
        ASSERT_EQ(allocator->SetProperties(&want, &got), r.agreed);
        if (r.agreed != S_OK) continue;
        EXPECT_EQ(got.cbPrefix, r.prefix);
        EXPECT_EQ(got.cbAlign, r.align);
        ASSERT_EQ(allocator->Commit(), S_OK);
        std::vector<ComPtr<IMediaSample>> samples(kBuffers);
        std::vector<BYTE*> starts;
        for (auto& sample : samples) {
            ASSERT_EQ(allocator->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
            BYTE* data = nullptr;
            ASSERT_EQ(sample->GetPointer(&data), S_OK);
            ASSERT_EQ(sample->GetSize(), kSize);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data - r.prefix) % r.align, 0u);
            starts.push_back(data - r.prefix);
        }
        // Each sample's prefix and buffer written whole, then read back: nothing overlaps
        // (and the sanitizers see any byte outside the allocator's memory).
        for (std::size_t i = 0; i < starts.size(); ++i)
            std::fill(starts[i], starts[i] + r.prefix + kSize, static_cast<BYTE>(i + 1));
        for (std::size_t i = 0; i < starts.size(); ++i)
            for (LONG b = 0; b < r.prefix + kSize; ++b)
                ASSERT_EQ(starts[i][b], static_cast<BYTE>(i + 1)) << "sample " << i << ", byte " << b;
        samples.clear();
        EXPECT_EQ(allocator->Decommit(), S_OK);
    }
}

TEST(MemoryAllocator, ASampleAskedForWithoutWaitingIsNotWaitedFor) {
    auto allocator = MakeCom<zrf::dshow::MemoryAllocator>();
    ALLOCATOR_PROPERTIES want{1, 64, 1, 0}, got{};
    ASSERT_EQ(allocator->SetProperties(&want, &got), S_OK);
    ComPtr<IMediaSample> only, none;
    EXPECT_EQ(allocator->GetBuffer(none.Receive(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(only.Receive(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(allocator->GetBuffer(none.Receive(), nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    EXPECT_FALSE(none);
    // One that waits is woken by the decommit, with nothing.
    auto waiting = std::async(std::launch::async, [&] {
        ComPtr<IMediaSample> next;
        return allocator->GetBuffer(next.Receive(), nullptr, nullptr, 0);
    });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(waiting.get(), VFW_E_NOT_COMMITTED);
}

}  // namespace
