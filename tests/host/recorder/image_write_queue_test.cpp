// The queue between the thread that adds images and the disk: it takes what fits while the disk
// waits, writes everything it took in order and byte for byte, and counts what it could not.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "host/recorder/image_write_queue.h"
#include "tests/host/recorder/gated_sink.h"
#include "tests/host/recorder/recording_helpers.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Pushed = ImageWriteQueue::Pushed;

namespace {

constexpr std::size_t kSize = 64;

struct Recording {
    std::shared_ptr<SinkLog> log = std::make_shared<SinkLog>();
    std::unique_ptr<ImageSink> Sink() { return std::make_unique<GatedSink>(log); }
};

Pushed Push(ImageWriteQueue& queue, std::uint64_t n, std::size_t size = kSize) {
    return queue.Push(n, static_cast<std::int64_t>(n), TestImage(size, n).data(), size);
}

// Every image the sink got is the one pushed with its number.
void ExpectImagesOf(SinkLog& log, std::size_t size = kSize) {
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.badChecksums, 0);
    for (std::size_t i = 0; i < log.numbers.size(); ++i)
        EXPECT_EQ(log.images[i], TestImage(size, log.numbers[i])) << "image " << log.numbers[i];
}

TEST(ImageWriteQueue, ADiskThatWaitsFillsTheSlotsThenImagesAreRefusedAndNoneTakenIsLost) {
    ImageWriteQueue queue(kSize, 3);
    Recording r;
    r.log->Hold();
    queue.Begin(r.Sink());
    EXPECT_EQ(Push(queue, 1), Pushed::Taken);
    r.log->AwaitWaiter();  // the first is being written, its slot still taken
    EXPECT_EQ(Push(queue, 2), Pushed::Taken);
    EXPECT_EQ(Push(queue, 3), Pushed::Taken);
    EXPECT_EQ(Push(queue, 4), Pushed::Full);
    EXPECT_EQ(Push(queue, 5), Pushed::Full);
    EXPECT_EQ(queue.Look().mostHeld, 3u);
    r.log->Release();
    queue.Wait();
    EXPECT_EQ(r.log->Numbers(), (std::vector<std::uint64_t>{1, 2, 3}));
    // The freed slots take new images whole, however often they were used.
    for (std::uint64_t n = 6; n <= 20; ++n) {
        EXPECT_EQ(Push(queue, n), Pushed::Taken) << n;
        if (n % 3 == 2) queue.Wait();
    }
    queue.End();
    queue.Wait();
    EXPECT_FALSE(r.log->Open());
    EXPECT_EQ(r.log->Numbers().size(), 18u);
    ExpectImagesOf(*r.log);
    const auto progress = queue.Look();
    EXPECT_EQ(progress.written, 18u);
    EXPECT_EQ(progress.lost, 0u);
    EXPECT_FALSE(progress.failed);
    EXPECT_EQ(progress.mostHeld, 3u);
}

// The checksum is made piece by piece as the image is copied: every size, across the pieces.
TEST(ImageWriteQueue, EachRecordCarriesTheChecksumOfItsHeaderAndImageWhateverItsSize) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16383}, std::size_t{16384},
                                   std::size_t{16385}, std::size_t{3 * 16384 + 7}, std::size_t{618240}}) {
        ImageWriteQueue queue(size, 2);
        Recording r;
        queue.Begin(r.Sink());
        EXPECT_EQ(Push(queue, 5, size), Pushed::Taken) << size;
        queue.End();
        queue.Wait();
        EXPECT_EQ(r.log->Numbers(), std::vector<std::uint64_t>{5}) << size;
        ExpectImagesOf(*r.log, size);
    }
}

// The stream a record-by-record writer makes of `prefix` and images numbered from 1.
std::vector<std::uint8_t> RecordByRecord(const std::vector<std::uint8_t>& prefix, std::size_t size, int images) {
    std::vector<std::uint8_t> bytes = prefix;
    for (int n = 1; n <= images; ++n) {
        const std::vector<std::uint8_t> image = TestImage(size, static_cast<std::uint64_t>(n));
        FrameRecordHeader record = FrameRecordFor(static_cast<std::uint64_t>(n), n, static_cast<std::uint32_t>(size));
        record.crc = FrameRecordChecksum(record, image.data(), record.length);
        const auto* header = reinterpret_cast<const std::uint8_t*>(&record);
        bytes.insert(bytes.end(), header, header + sizeof record);
        bytes.insert(bytes.end(), image.begin(), image.end());
    }
    return bytes;
}

// Records packed into blocks and written a block at a time make the file a record-by-record
// writer makes, whatever the block, wherever a record ends (straddling blocks, filling one
// exactly, a byte past one), and whether each write waits for the last (a padded block written
// again) or not; every write is whole blocks at a block's start, and the end sets the size.
TEST(ImageWriteQueue, BlocksHoldTheRecordsByteForByteWhateverTheBlockAndWhereARecordEnds) {
    for (const std::size_t block : {std::size_t{1}, std::size_t{512}, std::size_t{4096}, std::size_t{65536}}) {
        const std::size_t exact = block > 32 ? block - 32 : 0;  // a record fills a block
        for (const std::size_t size : {std::size_t{0}, std::size_t{1}, exact, exact + 1, 3 * block + 5, std::size_t{618240}}) {
            for (const std::size_t prefix : {std::size_t{0}, std::size_t{32}, block + 1}) {
                for (const bool waitEach : {false, true}) {
                    const std::string what = "block " + std::to_string(block) + ", image " + std::to_string(size) +
                                             ", prefix " + std::to_string(prefix) + (waitEach ? ", waiting" : "");
                    constexpr int kImages = 5;
                    ImageWriteQueue queue(size, 3);
                    Recording r;
                    r.log->block = block;
                    r.log->prefix.assign(prefix, 0xA5);
                    queue.Begin(r.Sink());
                    for (int n = 1; n <= kImages; ++n) {
                        ASSERT_EQ(queue.Push(n, n, TestImage(size, n).data(), size, true), Pushed::Taken) << what;
                        if (waitEach) queue.Wait();
                    }
                    queue.End();
                    queue.Wait();
                    const std::vector<std::uint8_t> expected = RecordByRecord(r.log->prefix, size, kImages);
                    std::lock_guard lock(r.log->mutex);
                    ASSERT_EQ(r.log->finishedAt, static_cast<std::int64_t>(expected.size())) << what;
                    ASSERT_GE(r.log->bytes.size(), expected.size()) << what;
                    EXPECT_LT(r.log->bytes.size(), expected.size() + std::max<std::size_t>(block, 1)) << what;
                    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.log->bytes.begin())) << what;
                    EXPECT_TRUE(std::all_of(r.log->bytes.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                                            r.log->bytes.end(), [](std::uint8_t b) { return b == 0; }))
                        << what << ": the padding is zeros";
                    EXPECT_EQ(r.log->misaligned, 0) << what;
                    EXPECT_EQ(r.log->numbers.size(), static_cast<std::size_t>(kImages)) << what;
                    EXPECT_EQ(r.log->badChecksums, 0) << what;
                }
            }
        }
    }
}

// Nobody waits and nothing more comes: the last block is written anyway, padded, soon after.
TEST(ImageWriteQueue, ALastPartialBlockIsWrittenWithoutBeingAskedFor) {
    ImageWriteQueue queue(kSize, 2);
    Recording r;
    r.log->block = 4096;
    queue.Begin(r.Sink());
    ASSERT_EQ(Push(queue, 1), Pushed::Taken);
    std::unique_lock lock(r.log->mutex);
    EXPECT_TRUE(r.log->changed.wait_for(lock, std::chrono::seconds(20), [&] { return r.log->numbers.size() == 1; }));
    EXPECT_EQ(r.log->finishedAt, -1);
    lock.unlock();
    EXPECT_EQ(queue.Look().written, 1u);
}

// A source that can wait waits for a buffer instead of being refused; a failure or the end of
// the recording ends the wait.
TEST(ImageWriteQueue, APushThatMayWaitGetsTheNextFreeBufferOrTheReasonThereIsNone) {
    enum class Then { Release, Fail };
    for (const Then then : {Then::Release, Then::Fail}) {
        ImageWriteQueue queue(kSize, 2);
        Recording r;
        r.log->Hold();
        if (then == Then::Fail) r.log->failAt = 1;
        queue.Begin(r.Sink());
        Push(queue, 1);
        r.log->AwaitWaiter();
        Push(queue, 2);
        EXPECT_EQ(Push(queue, 3), Pushed::Full);
        Pushed waited = Pushed::NoRecording;
        std::thread waiting([&] {
            waited = queue.Push(4, 4, TestImage(kSize, 4).data(), kSize, true);
        });
        r.log->Release();
        waiting.join();
        queue.End();
        queue.Wait();
        if (then == Then::Release) {
            EXPECT_EQ(waited, Pushed::Taken);
            EXPECT_EQ(r.log->Numbers(), (std::vector<std::uint64_t>{1, 2, 4}));
        } else {
            EXPECT_NE(waited, Pushed::Taken);
            EXPECT_TRUE(r.log->Numbers().empty());
        }
    }
}

// A write that fails loses the images it held and every image taken after it for that
// recording; the next recording starts clean. Held at the gate, the first write holds image 1
// and the next all the others; written one by one, each write holds one.
TEST(ImageWriteQueue, AFailedWriteLosesItsImagesAndEveryImageAfterItOnly) {
    struct Case {
        std::uint64_t failAt;
        bool oneByOne;
        std::uint64_t written, lost;
    };
    for (const Case c : {Case{1, false, 0, 4}, Case{2, false, 1, 3}, Case{4, true, 3, 1}}) {
        ImageWriteQueue queue(kSize, 4);
        Recording r;
        r.log->failAt = c.failAt;
        if (!c.oneByOne) r.log->Hold();
        queue.Begin(r.Sink());
        for (std::uint64_t n = 1; n <= 4; ++n) {
            ASSERT_EQ(Push(queue, n), Pushed::Taken);
            if (c.oneByOne) queue.Wait();
            if (!c.oneByOne && n == 1) r.log->AwaitWaiter();  // the first write holds image 1 alone
        }
        r.log->Release();
        queue.Wait();
        auto progress = queue.Look();
        EXPECT_EQ(progress.written, c.written) << c.failAt;
        EXPECT_EQ(progress.lost, c.lost) << c.failAt;
        EXPECT_TRUE(progress.failed) << c.failAt;
        EXPECT_EQ(queue.Error(), "the disk is full") << c.failAt;
        EXPECT_EQ(Push(queue, 5), Pushed::Failed) << c.failAt;
        EXPECT_EQ(queue.Look().lost, c.lost + 1) << c.failAt;
        queue.End();
        queue.Wait();
        EXPECT_FALSE(r.log->Open()) << c.failAt;
        EXPECT_EQ(r.log->finishedAt, -1) << "a failed file keeps the size its cut gave it";

        Recording next;
        queue.Begin(next.Sink());
        EXPECT_EQ(Push(queue, 6), Pushed::Taken) << c.failAt;
        queue.End();
        queue.Wait();
        progress = queue.Look();
        EXPECT_EQ(next.log->Numbers(), std::vector<std::uint64_t>{6}) << c.failAt;
        EXPECT_FALSE(progress.failed) << c.failAt;
        EXPECT_EQ(progress.lost, 0u) << c.failAt;
    }
}

// A disk that fills part way through a write keeps every record whose bytes all landed: the
// file is cut after the last of them, and only the rest are lost.
TEST(ImageWriteQueue, AWriteThatFailsPartWayKeepsTheRecordsThatLanded) {
    constexpr std::size_t kRecordBytes = sizeof(FrameRecordHeader) + kSize;  // 96
    struct Case {
        std::size_t block;
        std::uint64_t fullAt;
        std::uint64_t kept;
    };
    for (const Case c : {Case{1, 50, 0}, Case{1, kRecordBytes, 1}, Case{1, 3 * kRecordBytes - 1, 2},
                         Case{512, 2 * kRecordBytes + 10, 2}, Case{512, 512, 5}, Case{4096, 1, 0}}) {
        const std::string what = "block " + std::to_string(c.block) + ", full at " + std::to_string(c.fullAt);
        ImageWriteQueue queue(kSize, 8);
        Recording r;
        r.log->block = c.block;
        r.log->fullAt = c.fullAt;
        r.log->Hold();
        queue.Begin(r.Sink());
        for (std::uint64_t n = 1; n <= 8; ++n) ASSERT_EQ(Push(queue, n), Pushed::Taken) << what;
        r.log->Release();
        queue.End();
        queue.Wait();
        const auto progress = queue.Look();
        EXPECT_TRUE(progress.failed) << what;
        EXPECT_EQ(progress.written, c.kept) << what;
        EXPECT_EQ(progress.lost, 8 - c.kept) << what;
        EXPECT_EQ(queue.Error(), "No space left on device") << what;
        EXPECT_EQ(r.log->keptEnd, static_cast<std::int64_t>(c.kept * kRecordBytes)) << what;
    }
}

// A sink that throws (no memory for an error's text, say) fails the recording like a failed
// write, with the exception's text; the writing thread goes on.
class ThrowingSink final : public ImageSink {
  public:
    SinkStart Start(std::uint8_t*) override { return {}; }
    bool Write(const BlockWrite&, std::uint64_t&) override {
        throw std::bad_alloc();
    }
    std::uint64_t KeepOnly(std::uint64_t, std::uint64_t records) override { return records; }
    bool Finish(std::uint64_t) override { return true; }
    const std::string& Error() const override { return error_; }

  private:
    std::string error_;
};

TEST(ImageWriteQueue, ASinkThatThrowsFailsItsRecordingAndTheQueueGoesOn) {
    ImageWriteQueue queue(kSize, 4);
    queue.Begin(std::make_unique<ThrowingSink>());
    Push(queue, 1);
    Push(queue, 2);
    queue.End();
    queue.Wait();
    auto progress = queue.Look();
    EXPECT_TRUE(progress.failed);
    EXPECT_EQ(progress.written, 0u);
    EXPECT_EQ(progress.lost, 2u);
    EXPECT_EQ(queue.Error(), std::bad_alloc().what());
    Recording next;
    queue.Begin(next.Sink());
    Push(queue, 3);
    queue.End();
    queue.Wait();
    EXPECT_EQ(next.log->Numbers(), std::vector<std::uint64_t>{3});
}

TEST(ImageWriteQueue, ARecordingGetsWhatWasPushedForItBeforeTheNextBeginsAndTheQueueEnds) {
    auto queue = std::make_unique<ImageWriteQueue>(kSize, 8);
    Recording first, second;
    EXPECT_EQ(Push(*queue, 1), Pushed::NoRecording);
    first.log->Hold();
    queue->Begin(first.Sink());
    Push(*queue, 2);
    Push(*queue, 3);
    // Not ended: the next Begin waits for the first to take its images and close.
    std::thread release([&] {
        first.log->AwaitWaiter();
        first.log->Release();
    });
    EXPECT_EQ(queue->Look().mostHeld, 2u);
    queue->Begin(second.Sink());
    release.join();
    EXPECT_EQ(first.log->Numbers(), (std::vector<std::uint64_t>{2, 3}));
    EXPECT_FALSE(first.log->Open());
    Push(*queue, 4);
    queue->End();
    EXPECT_EQ(Push(*queue, 5), Pushed::NoRecording);  // ended: nothing more is taken
    queue->Wait();
    EXPECT_EQ(queue->Look().mostHeld, 1u);  // each recording's own
    Recording third;
    queue->Begin(third.Sink());
    for (std::uint64_t n = 6; n <= 9; ++n) Push(*queue, n);
    queue.reset();  // writes what it took, then closes
    EXPECT_EQ(second.log->Numbers(), std::vector<std::uint64_t>{4});
    EXPECT_EQ(third.log->Numbers(), (std::vector<std::uint64_t>{6, 7, 8, 9}));
    EXPECT_FALSE(third.log->Open());
    ExpectImagesOf(*third.log);
}

// A ring that cannot be made leaves a queue that takes nothing and writes nothing, until a
// Resize makes one.
TEST(ImageWriteQueue, AQueueWithoutItsRingRefusesImagesUntilResized) {
    ImageWriteQueue queue(kSize, 2);
    EXPECT_THROW(queue.Resize(std::numeric_limits<std::size_t>::max() / 4, 8), std::bad_alloc);
    EXPECT_EQ(queue.ImageSize(), 0u);
    Recording r;
    r.log->block = 512;
    r.log->prefix.assign(700, 0x5A);
    queue.Begin(r.Sink());
    EXPECT_EQ(Push(queue, 1), Pushed::Full);
    queue.Resize(kSize, 2);
    EXPECT_EQ(Push(queue, 2), Pushed::Taken);
    queue.End();
    queue.Wait();
    EXPECT_EQ(r.log->Numbers(), std::vector<std::uint64_t>{2});
    std::lock_guard lock(r.log->mutex);
    EXPECT_EQ(r.log->finishedAt, static_cast<std::int64_t>(700 + sizeof(FrameRecordHeader) + kSize));
    EXPECT_TRUE(std::all_of(r.log->bytes.begin(), r.log->bytes.begin() + 700, [](std::uint8_t b) { return b == 0x5A; }))
        << "the partial block before the first image is kept through the resize";
}

TEST(ImageWriteQueue, ResizingWaitsForWhatWasTakenAndThenTakesLargerImages) {
    ImageWriteQueue queue(kSize, 2);
    Recording r;
    queue.Begin(r.Sink());
    EXPECT_EQ(Push(queue, 1, kSize + 1), Pushed::Full);
    r.log->Hold();
    Push(queue, 2);
    Push(queue, 3);
    std::vector<std::uint64_t> writtenWhenResized;
    std::thread resize([&] {
        queue.Resize(4 * kSize, 5);
        writtenWhenResized = r.log->Numbers();
    });
    r.log->AwaitWaiter();
    r.log->Release();
    resize.join();
    EXPECT_EQ(writtenWhenResized, (std::vector<std::uint64_t>{2, 3}));
    EXPECT_EQ(queue.ImageSize(), 4 * kSize);
    EXPECT_EQ(queue.Slots(), 5u);
    r.log->Hold();
    for (std::uint64_t n = 4; n <= 8; ++n) EXPECT_EQ(Push(queue, n, 4 * kSize), Pushed::Taken) << n;
    r.log->Release();
    queue.End();
    queue.Wait();
    EXPECT_EQ(r.log->Numbers().size(), 7u);
    std::lock_guard lock(r.log->mutex);
    EXPECT_EQ(r.log->badChecksums, 0);
    for (std::size_t i = 2; i < r.log->images.size(); ++i)
        EXPECT_EQ(r.log->images[i], TestImage(4 * kSize, r.log->numbers[i]));
}

TEST(ImageWriteQueue, SlotsComeToAboutThirtyTwoMegabytesWithinBounds) {
    struct Case {
        std::size_t imageSize, slots;
    };
    for (const Case c : {Case{0, 256}, Case{1, 256}, Case{256, 256}, Case{640 * 483 * 2, 54},
                         Case{16u << 20, 2}, Case{1u << 30, 2}})
        EXPECT_EQ(WriteQueueSlots(c.imageSize), c.slots) << c.imageSize;
}

}  // namespace
