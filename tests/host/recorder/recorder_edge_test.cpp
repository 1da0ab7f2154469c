// The recorder where its callers are unlucky or odd: memory that runs out while its queue grows,
// a disk that failed (and images that keep coming), handlers that restart or resize a recording
// from inside Start.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "host/recorder/image_write_queue.h"
#include "host/recorder/zrf_recorder.h"
#include "tests/host/recorder/gated_sink.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

// This program's allocations: counted per thread, the largest kept, and the next of at least some size made
// to fail once. (GCC cannot tell that these deletes match these news.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<std::size_t> gFailAtLeastOnce{0};
static thread_local std::uint64_t tAllocations = 0;  // this thread's: the writer's are its own
static std::atomic<std::size_t> gLargest{0};
void* operator new(std::size_t n) {
    ++tAllocations;
    for (std::size_t seen = gLargest.load(); n > seen && !gLargest.compare_exchange_weak(seen, n);) {
    }
    std::size_t limit = gFailAtLeastOnce.load();
    if (limit != 0 && n >= limit && gFailAtLeastOnce.compare_exchange_strong(limit, 0)) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

constexpr std::size_t kSize = 64;

void SetPath(ZRFRecorder& r, const std::string& path) {
    RecorderXml settings;
    settings.SetPath(path);
    r.Setup(settings.XMLData());
}

void Add(ZRFRecorder& r, std::uint64_t n, std::size_t size = kSize) {
    r.AddImage(TestImage(size, n), 0, static_cast<std::int64_t>(n));
}

std::vector<std::uint64_t> Numbers(const std::string& path) {
    std::vector<std::uint64_t> numbers;
    if (!std::filesystem::exists(path)) return numbers;  // a recording without a frame
    for (const auto& f : ReadAll(path)) {
        EXPECT_TRUE(f.checksumOk && f.image == TestImage(f.image.size(), f.frameNumber)) << f.frameNumber;
        numbers.push_back(f.frameNumber);
    }
    return numbers;
}

// Recording to r.zrec in dir, image 1 added.
void RecordingOneImage(ZRFRecorder& recorder, const TempDir& dir) {
    recorder.SetImageSize(kSize);
    SetPath(recorder, dir.File("r.zrec"));
    recorder.Start(0);
    Add(recorder, 1);
}

std::string Dropped(ZRFRecorder& r) { return r.Settings().Attribute("DroppedFrames").value_or("?"); }

// Growing the queue fails for want of memory: that recording ends and says why; the next one,
// memory back, records every image.
TEST(RecorderEdges, AQueueThatCouldNotGrowGrowsAtTheNextRecording) {
    for (const std::size_t grown : {4 * kSize, std::size_t{1} << 20}) {
        TempDir dir;
        ZRFRecorder recorder;
        RecordingOneImage(recorder, dir);
        gFailAtLeastOnce = grown;
        recorder.SetImageSize(static_cast<std::int32_t>(grown));
        gFailAtLeastOnce = 0;
        EXPECT_FALSE(recorder.IsRecording()) << grown;
        EXPECT_NE(recorder.Settings().Attribute("Error").value_or(""), "") << grown;
        EXPECT_EQ(Numbers(dir.File("r.zrec")), std::vector<std::uint64_t>{1}) << grown;
        recorder.Start(0);
        for (std::uint64_t n = 2; n <= 4; ++n) Add(recorder, n, grown);
        recorder.Stop(0);
        EXPECT_EQ(Numbers(dir.File("r.zrec")), (std::vector<std::uint64_t>{2, 3, 4})) << grown;
        EXPECT_EQ(Dropped(recorder), "0") << grown;
    }
}

// The queue could not grow and holds no ring; the next recording starts before the image size
// is known (none yet), and the size comes while it runs.
TEST(RecorderEdges, ARecordingStartedWithoutAnImageSizeAfterAFailedGrowthRecords) {
    TempDir dir;
    ZRFRecorder recorder;
    RecordingOneImage(recorder, dir);
    gFailAtLeastOnce = 4 * kSize;
    recorder.SetImageSize(static_cast<std::int32_t>(4 * kSize));
    gFailAtLeastOnce = 0;
    ASSERT_FALSE(recorder.IsRecording());
    recorder.SetImageSize(0);
    recorder.Start(0);
    recorder.SetImageSize(kSize);
    Add(recorder, 2);
    recorder.Stop(0);
    EXPECT_EQ(Numbers(dir.File("r.zrec")), std::vector<std::uint64_t>{2});
}

// Images keep coming after the disk failed: looking at the queue each time costs no allocation
// (the device's path allocates nothing per image but its event arguments).
TEST(RecorderEdges, ImagesAddedAfterAFailedWriteAllocateNothing) {
    TempDir dir;
    ZRFRecorder recorder;
    recorder.SetImageSize(kSize);
    SetPath(recorder, dir.File("r.zrec"));
    auto log = std::make_shared<SinkLog>();
    log->failAt = 1;  // whichever images the first write holds
    recorder.WrapFiles([log](std::unique_ptr<ImageSink> f) -> std::unique_ptr<ImageSink> {
        return std::make_unique<GatedSink>(log, std::move(f));
    });
    recorder.Start(0);
    const auto image = TestImage(kSize, 1);
    const auto added = [&](int images) {
        const std::uint64_t before = tAllocations;
        for (int i = 0; i < images; ++i) recorder.AddImage(image, 0, i);
        return tAllocations - before;
    };
    EXPECT_EQ(added(1), 0u) << "recording";
    EXPECT_EQ(added(1), 0u) << "its write fails";
    recorder.Flush();
    EXPECT_EQ(added(10), 0u) << "once the failure is seen";
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(recorder.Settings().Attribute("Error").value_or(""), "the disk is full");
}

// The pre-recorded images reach a count's end inside Start; a handler starts the next recording
// then. Each file holds what it should: the first its count, the second the rest of the ring and
// what came after; no image twice.
TEST(RecorderEdges, AHandlerRestartingWhileStartWritesTheRingSplitsTheRingBetweenTheTwo) {
    struct Case {
        std::uint64_t count;
        std::vector<std::uint64_t> first, second;
    };
    for (const Case& c : {Case{1, {1}, {2, 3, 4, 5}}, Case{2, {1, 2}, {3, 4, 5}}, Case{3, {1, 2, 3}, {4, 5}}}) {
        TempDir dir;
        ZRFRecorder recorder;
        recorder.SetImageSize(kSize);
        SetPath(recorder, dir.Path() + "/");
        recorder.SetUsePreRecordingBuffer(true);
        recorder.SetSizeImageBufferPreRecording(5);
        for (std::uint64_t n = 1; n <= 3; ++n) Add(recorder, n);
        int restarts = 0;
        recorder.RecorderStatusChanged.Subscribe([&](const void*, const RecorderStatusEventArgs& e) {
            if (e.State == RECORDING_STATE::STOPPED && restarts++ == 0) recorder.Start(0);
        });
        recorder.Start(c.count);
        Add(recorder, 4);
        Add(recorder, 5);
        recorder.Stop(0);
        EXPECT_EQ(Numbers(dir.File("recording_0001.zrec")), c.first) << c.count;
        EXPECT_EQ(Numbers(dir.File("recording_0002.zrec")), c.second) << c.count;
        EXPECT_EQ(recorder.CurrentPath(), dir.File("recording_0002.zrec")) << c.count;
    }
}

// The same at one path: the first file is let go before the status is raised, so the handler's
// recording may take the path.
TEST(RecorderEdges, AHandlerMayRestartAtTheSamePathWhenTheRingEndsACount) {
    TempDir dir;
    ZRFRecorder recorder;
    recorder.SetImageSize(kSize);
    SetPath(recorder, dir.File("r.zrec"));
    recorder.SetUsePreRecordingBuffer(true);
    recorder.SetSizeImageBufferPreRecording(5);
    for (std::uint64_t n = 1; n <= 3; ++n) Add(recorder, n);
    bool restarted = false;
    recorder.RecorderStatusChanged.Subscribe([&](const void*, const RecorderStatusEventArgs& e) {
        if (e.State == RECORDING_STATE::STOPPED && !restarted) {
            restarted = true;
            recorder.Start(0);
        }
    });
    recorder.Start(1);
    Add(recorder, 4);
    recorder.Stop(0);
    EXPECT_EQ(Numbers(dir.File("r.zrec")), (std::vector<std::uint64_t>{2, 3, 4}));
}

// A handler of the recording's start changes the image size before the first image comes.
TEST(RecorderEdges, ImagesResizedByAHandlerOfTheStartAreRecorded) {
    TempDir dir;
    ZRFRecorder recorder;
    recorder.SetImageSize(kSize);
    SetPath(recorder, dir.File("r.zrec"));
    recorder.RecorderStatusChanged.Subscribe([&](const void*, const RecorderStatusEventArgs& e) {
        if (e.State == RECORDING_STATE::RECORDING) recorder.SetImageSize(2 * kSize);
    });
    recorder.Start(0);
    for (std::uint64_t n = 1; n <= 3; ++n) Add(recorder, n, 2 * kSize);
    recorder.Stop(0);
    EXPECT_EQ(Numbers(dir.File("r.zrec")), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(Dropped(recorder), "0");
}

// An image size no recording can hold ends the recording with the reason, and the queue keeps
// its buffers.
TEST(RecorderEdges, AnImageSizeBeyondWhatARecordingHoldsEndsTheRecordingWithTheReason) {
    TempDir dir;
    ZRFRecorder recorder;
    RecordingOneImage(recorder, dir);
    gLargest = 0;
    recorder.SetImageSize(static_cast<std::int32_t>(kMaxFrameRecordLength + 1));
    EXPECT_LT(gLargest.load(), kMaxFrameRecordLength) << "no buffer of that size is made";
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_NE(recorder.Settings().Attribute("Error").value_or("").find("at most"), std::string::npos);
    EXPECT_EQ(Numbers(dir.File("r.zrec")), std::vector<std::uint64_t>{1});
}

}  // namespace
