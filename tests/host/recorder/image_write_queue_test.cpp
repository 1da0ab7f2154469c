// The queue between the thread that adds images and the disk: it takes what fits while the disk
// waits, writes everything it took in order and byte for byte, and counts what it could not.
#include <gtest/gtest.h>

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

// A write that fails loses its image and every image taken after it for that recording; the
// next recording starts clean.
TEST(ImageWriteQueue, AFailedWriteLosesItsImageAndEveryImageAfterItOnly) {
    struct Case {
        std::uint64_t failAt;
        std::uint64_t written, lost;
    };
    for (const Case c : {Case{1, 0, 4}, Case{2, 1, 3}, Case{4, 3, 1}}) {
        ImageWriteQueue queue(kSize, 4);
        Recording r;
        r.log->failAt = c.failAt;
        r.log->Hold();
        queue.Begin(r.Sink());
        for (std::uint64_t n = 1; n <= 4; ++n) ASSERT_EQ(Push(queue, n), Pushed::Taken);
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

// A sink that throws (no memory for an error's text, say) fails the recording like a failed
// write, with the exception's text; the writing thread goes on.
class ThrowingSink final : public ImageSink {
  public:
    bool Append(const FrameRecordHeader&, const std::uint8_t*) override { throw std::bad_alloc(); }
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
