// The live view's frames are made once: once each of the pool's frames exists with its buffer,
// taking one, filling it, sharing it with a reader and letting it go allocates nothing, from the
// first time a frame comes back. A program of its own: it counts every allocation.
#include <gtest/gtest.h>

#include <vector>

#include "tests/imaging/counting_new.h"
#include "tools/zrfgrab/serve/live_frame.h"

using namespace zrfgrab::serve;

TEST(LiveFramePool, FramesGoingRoundAllocateNothingOnceTheyExist) {
    constexpr std::size_t kFrames = 3, kCounts = 4096;
    FramePool pool(kFrames);
    std::vector<FrameRef> first;
    for (std::size_t i = 0; i < kFrames; ++i) {
        first.push_back(pool.Acquire());
        first.back()->counts.assign(kCounts, 1);
    }
    const long before = g_allocations.load();
    first.clear();  // the frames' first way back into the pool
    for (std::uint16_t round = 0; round < 50; ++round) {
        FrameRef a = pool.Acquire(), b = pool.Acquire(), c = pool.Acquire();
        ASSERT_TRUE(a && b && c);
        for (const FrameRef& f : {a, b, c}) f->counts.assign(kCounts, round);
        ConstFrameRef reader = a;  // a reader holds it past its writer
        a.reset();
        c.reset();
        reader.reset();
        b.reset();
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
}
