// The recording file, read back whole, cut and damaged, and the recorder that writes it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <numeric>
#include <thread>

#include "host/logging/logger.h"
#include "host/recorder/image_write_queue.h"
#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "tests/host/recorder/gated_sink.h"
#include "tests/host/recorder/recording_helpers.h"
#include "tests/host/recorder/temp_dir.h"

using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

namespace {

// Frames 1, 2, ... of the given sizes, at ticks 1001, 1002, ...
void WriteFrames(const std::string& path, std::initializer_list<std::uint32_t> sizes) {
    RecordingWriter writer(path, 1234, *sizes.begin());
    std::uint64_t n = 0;
    for (std::uint32_t size : sizes) {
        ++n;
        ASSERT_TRUE(writer.Append(n, 1000 + n, TestImage(size, n).data(), size));
    }
}

void Patch(const std::string& path, std::size_t at, std::string_view bytes) {
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(at)
        .write(bytes.data(), bytes.size());
}

constexpr std::size_t kHeader = sizeof(RecordingFileHeader), kRecord = sizeof(FrameRecordHeader);

TEST(RecordingFile, FramesOfAnySizeReadBackByteForByteWithNumbersAndTimes) {
    TempDir dir;
    WriteFrames(dir.File("old.zrec"), {9, 9, 9, 9});
    std::filesystem::copy_file(dir.File("old.zrec"), dir.File("r.zrec"));
    WriteFrames(dir.File("r.zrec"), {1000, 0, 1});  // over a longer recording
    RecordingReader::End ending;
    const auto frames = ReadAll(dir.File("r.zrec"), &ending);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
    for (std::uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::tuple(frames[i].frameNumber, frames[i].ticks, frames[i].checksumOk),
                  std::tuple(i + 1, 1001 + static_cast<std::int64_t>(i), true));
        EXPECT_EQ(frames[i].image, TestImage(i == 0 ? 1000 : i == 1 ? 0 : 1, i + 1));
    }
    EXPECT_EQ(RecordingReader(dir.File("r.zrec")).Header().createdTicks, 1234);

    // A header larger than this version's: its extra bytes are skipped.
    std::ifstream in(dir.File("r.zrec"), std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    bytes.insert(kHeader, 8, '\x77');
    bytes[offsetof(RecordingFileHeader, headerSize)] = static_cast<char>(kHeader + 8);
    std::ofstream(dir.File("long.zrec"), std::ios::binary) << bytes;
    EXPECT_EQ(ReadAll(dir.File("long.zrec"), &ending).size(), 3u);
    EXPECT_EQ(ending, RecordingReader::End::Clean);
}

TEST(RecordingFile, AFileCutAtAnyByteGivesBackEveryCompleteFrame) {
    TempDir dir;
    const std::size_t size = 50, record = kRecord + size;
    WriteFrames(dir.File("full.zrec"), {size, size, size});
    const auto full = std::filesystem::file_size(dir.File("full.zrec"));
    for (std::uintmax_t cut = kHeader; cut <= full; ++cut) {
        std::filesystem::copy_file(dir.File("full.zrec"), dir.File("cut.zrec"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(dir.File("cut.zrec"), cut);
        RecordingReader::End ending;
        const auto frames = ReadAll(dir.File("cut.zrec"), &ending);
        ASSERT_EQ(frames.size(), (cut - kHeader) / record) << "cut at " << cut;
        for (const auto& f : frames) ASSERT_TRUE(f.checksumOk);
        EXPECT_EQ(ending, (cut - kHeader) % record == 0 ? RecordingReader::End::Clean
                                                        : RecordingReader::End::CutShort);
    }
}

TEST(RecordingFile, CorruptionIsReportedPerFrameOrEndsReading) {
    TempDir dir;
    const std::size_t record = kRecord + 64;
    WriteFrames(dir.File("r.zrec"), {64, 64, 64});
    Patch(dir.File("r.zrec"), kHeader + record + kRecord + 10, "\x5A");  // inside frame 2's image
    auto frames = ReadAll(dir.File("r.zrec"));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(std::tuple(frames[0].checksumOk, frames[1].checksumOk, frames[2].checksumOk),
              std::tuple(true, false, true));
    Patch(dir.File("r.zrec"), kHeader + 2 * record + 4, "\xFF\xFF\xFF\x7F");  // frame 3's length
    RecordingReader::End ending;
    EXPECT_EQ(ReadAll(dir.File("r.zrec"), &ending).size(), 2u);
    EXPECT_EQ(ending, RecordingReader::End::Damaged);
}

TEST(RecordingFile, ForeignFilesAndMissingFilesAreRefused) {
    TempDir dir;
    std::ofstream(dir.File("text.zrec")) << "not a recording at all, but long enough to read";
    std::ofstream(dir.File("empty.zrec"));
    // Version 2's records are not version 1's (a header damaged is read past: see
    // damaged_recording_test.cpp).
    WriteFrames(dir.File("v2.zrec"), {10});
    Patch(dir.File("v2.zrec"), offsetof(RecordingFileHeader, version), "\x02");
    Patch(dir.File("v2.zrec"), kHeader + 20, "\x01");
    for (const char* name : {"text.zrec", "empty.zrec", "v2.zrec"})
        EXPECT_THROW(RecordingReader(dir.File(name)), System::FormatException) << name;
    EXPECT_THAT([&] { RecordingReader{dir.File("v2.zrec")}; },
                ::testing::ThrowsMessage<System::FormatException>(
                    "'" + dir.File("v2.zrec") +
                    "' is a recording of version 2; only version 1 can be read"));
    EXPECT_THROW(RecordingReader(dir.File("missing.zrec")), System::IOException);
    EXPECT_THROW(RecordingReader(dir.Path()), System::IOException);
    // Only a regular file is replaced: not a device, nor what a link points at.
    std::ofstream(dir.File("target")) << "kept";
    std::filesystem::create_symlink(dir.File("target"), dir.File("link.zrec"));
    for (const std::string& path :
         {dir.File("no/such/dir/r.zrec"), std::string("/dev/null"), dir.File("link.zrec")})
        EXPECT_THROW(RecordingWriter(path, 0, 10), System::IOException) << path;
    EXPECT_EQ(std::filesystem::file_size(dir.File("target")), 4u);
}

// What is on disk at the path and beside it: the file's frames (-1: no file) and temporaries.
struct OnDisk {
    int frames;
    std::size_t temporaries;
    bool operator==(const OnDisk&) const = default;
};
OnDisk Look(const TempDir& dir, const std::string& path) {
    std::size_t temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        temporaries += e.path().filename().string().ends_with(".part");
    if (!std::filesystem::exists(path)) return {-1, temporaries};
    return {static_cast<int>(ReadAll(path).size()), temporaries};
}

// A recording replaces nothing until it holds a frame, leaves nothing when it gets none, and
// is its path's only writer.
TEST(RecordingFile, ARecordingTakesItsPathExclusivelyAndOnlyWithItsFirstFrame) {
    TempDir dir;
    const std::string old = dir.File("old.zrec"), fresh = dir.File("new.zrec");
    WriteFrames(old, {8, 8, 8});
    const auto image = TestImage(8, 1);
    {
        RecordingWriter writer(old, 0, 8);
        EXPECT_EQ(Look(dir, old), (OnDisk{3, 1}));  // the old recording stands until a frame
    }
    EXPECT_EQ(Look(dir, old), (OnDisk{3, 0}));  // no frame: nothing replaced, nothing left
    { RecordingWriter writer(fresh, 0, 8); }
    EXPECT_EQ(Look(dir, fresh), (OnDisk{-1, 0}));

    RecordingWriter first(old, 0, 8), second(old, 0, 8);  // both start before either has a frame
    ASSERT_TRUE(first.Append(1, 1, image.data(), 8));
    EXPECT_EQ(Look(dir, old), (OnDisk{1, 1}));
    EXPECT_TRUE(RecordingWriter::InUse(old));
    EXPECT_FALSE(second.Append(1, 1, image.data(), 8));  // the path is taken by now
    EXPECT_EQ(second.Error(), "another run is recording to '" + old + "'");
    EXPECT_THAT([&] { RecordingWriter third(old, 0, 8); },
                ::testing::ThrowsMessage<System::IOException>(
                    "cannot create the recording '" + old + "': another run is recording to it"));
    ASSERT_TRUE(first.Append(2, 2, image.data(), 8));
    EXPECT_EQ(Look(dir, old), (OnDisk{2, 1}));  // the second's temporary goes with it
}

// A writer replaces only what was at its path when it began: a recording another writer made
// there meanwhile is never replaced, not even once that writer has ended.
TEST(RecordingFile, AWriterReplacesOnlyWhatWasAtItsPathWhenItBegan) {
    enum class Meanwhile { Nothing, Removed, AnotherRecords };
    struct Case {
        const char* name;
        bool oldRecording;  // three frames at the path before the writer begins
        Meanwhile meanwhile;
        bool taken;   // the writer's first frame takes the path
        int frames;   // then at the path
    };
    const Case cases[] = {
        {"nothing there", false, Meanwhile::Nothing, true, 1},
        {"an old recording", true, Meanwhile::Nothing, true, 1},
        {"an old recording, removed", true, Meanwhile::Removed, true, 1},
        {"nothing there, then another's recording", false, Meanwhile::AnotherRecords, false, 2},
        {"an old recording, then another's recording", true, Meanwhile::AnotherRecords, false, 2},
    };
    const auto image = TestImage(8, 1);
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("r.zrec");
        if (c.oldRecording) WriteFrames(path, {8, 8, 8});
        {
            RecordingWriter late(path, 0, 8);
            if (c.meanwhile == Meanwhile::Removed) std::filesystem::remove(path);
            if (c.meanwhile == Meanwhile::AnotherRecords) WriteFrames(path, {8, 8});  // and ends
            EXPECT_EQ(late.Append(1, 1, image.data(), 8), c.taken) << c.name;
            if (!c.taken) {
                EXPECT_EQ(late.Error(), "another run recorded to '" + path + "' after this one began")
                    << c.name;
            }
        }
        EXPECT_EQ(Look(dir, path), (OnDisk{c.frames, 0})) << c.name;
    }
}

TEST(RecordingFile, NumberedRecordingsNeverShareANameAndAbandonedTemporariesGo) {
    TempDir dir;
    int next = 1, other = 1;
    auto a = RecordingWriter::Numbered(dir.Path(), next, 0, 4);
    auto b = RecordingWriter::Numbered(dir.Path(), other, 0, 4);  // its own count: still a new name
    EXPECT_EQ(std::pair(a->Path(), b->Path()),
              std::pair(dir.File("recording_0001.zrec"), dir.File("recording_0002.zrec")));
    EXPECT_EQ(std::pair(next, other), std::pair(2, 3));
    b.reset();  // no frame: its name is free again
    EXPECT_FALSE(std::filesystem::exists(dir.File("recording_0002.zrec")));

    // A killed writer's temporary (unlocked, a recording's header) goes; a live writer's stays,
    // and so does a file of that name that is not ours.
    WriteFrames(dir.File("killed.zrec"), {4});
    std::filesystem::copy_file(dir.File("killed.zrec"), dir.File(".rec-1-1.part"));
    std::ofstream(dir.File(".rec-1-2.part")) << "a file of someone else's";
    RecordingWriter live(dir.File("live.zrec"), 0, 4);
    RecordingWriter next_one(dir.File("other.zrec"), 0, 4);
    EXPECT_FALSE(std::filesystem::exists(dir.File(".rec-1-1.part")));
    EXPECT_TRUE(std::filesystem::exists(dir.File(".rec-1-2.part")));
    EXPECT_EQ(Look(dir, dir.File("x")).temporaries, 3u);
}

// What a numbered recording finds at its first number: a number a killed run took before its
// first frame (the header alone, unlocked) is taken again; anything else is left as it is.
TEST(RecordingFile, ANumberAKilledRunLeftWithoutAFrameIsTakenAgain) {
    enum class There { HeaderLeft, HeaderAndAFrame, LiveWritersHeader, EmptyFile };
    struct Case {
        const char* name;
        There there;
        std::string taken;  // the new recording's name
        int framesLeft;     // then at recording_0001.zrec (-1: not a recording)
    };
    const Case cases[] = {
        {"the header a killed run left", There::HeaderLeft, "recording_0001.zrec", 1},
        {"a recording with a frame", There::HeaderAndAFrame, "recording_0002.zrec", 1},
        {"a live writer's, still without a frame", There::LiveWritersHeader, "recording_0002.zrec", 0},
        {"an empty file", There::EmptyFile, "recording_0002.zrec", -1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string first = dir.File("recording_0001.zrec");
        std::unique_ptr<RecordingWriter> live;
        int next = 1;
        switch (c.there) {
            case There::HeaderLeft:
                WriteFrames(first, {8});
                std::filesystem::resize_file(first, kHeader);
                break;
            case There::HeaderAndAFrame: WriteFrames(first, {8}); break;
            case There::LiveWritersHeader: live = RecordingWriter::Numbered(dir.Path(), next, 0, 8); break;
            case There::EmptyFile: std::ofstream{first}; break;
        }
        int from = 1;
        auto writer = RecordingWriter::Numbered(dir.Path(), from, 0, 8);
        EXPECT_EQ(writer->Path(), dir.File(c.taken)) << c.name;
        const auto image = TestImage(8, 1);
        ASSERT_TRUE(writer->Append(1, 1, image.data(), 8)) << c.name;
        writer.reset();
        if (c.framesLeft < 0) {
            EXPECT_EQ(std::filesystem::file_size(first), 0u) << c.name;
        } else {
            EXPECT_EQ(ReadAll(first).size(), static_cast<std::size_t>(c.framesLeft)) << c.name;
        }
    }
}

constexpr std::size_t kSize = 256;

// Every recorder test runs on each way a file is written: around the page cache in the file
// system's block, in small and in large blocks (records straddle them, fill them, end a byte
// into them), through the page cache when the file system refuses direct writes, and when
// they are not asked for.
struct WritePath {
    const char* name;
    RecordingWrites writes;
};
const WritePath kWritePaths[] = {
    {"Direct", {}},
    {"Direct512", {true, 512, false}},
    {"Direct64K", {true, 64 * 1024, false}},
    {"Refused", {true, 512, true}},
    {"RefusedWrites", {true, 512, false, true}},
    {"Buffered", {false, 0, false}},
};

class ZRFRecorderTest : public ::testing::TestWithParam<WritePath> {
  protected:
    void SetUp() override {
        recorder.SetWrites(GetParam().writes);
        SetPath(dir.File("rec.zrec"));
        recorder.SetImageSize(kSize);
        recorder.RecorderStatusChanged.Subscribe(
            [this](const void*, const RecorderStatusEventArgs& e) { states.push_back(e.State); });
    }
    void SetPath(const std::string& path) {
        RecorderXml settings;
        settings.SetPath(path);
        ASSERT_TRUE(recorder.Setup(settings.XMLData()));
    }
    // An image made from its time stamp, so that the recording shows which image went where.
    std::uint64_t Add(std::int64_t ticks) {
        return recorder.AddImage(TestImage(kSize, ticks), 0, ticks);
    }
    // Frame numbers of the last recording, each image checked against its time stamp.
    std::vector<std::uint64_t> Recorded() {
        RecordingReader reader(recorder.CurrentPath());
        std::vector<std::uint64_t> numbers;
        for (RecordedFrame f; reader.Next(f); numbers.push_back(f.frameNumber))
            EXPECT_TRUE(f.checksumOk && f.image == TestImage(kSize, f.ticks)) << f.frameNumber;
        return numbers;
    }

    TempDir dir;
    ZRFRecorder recorder;
    std::vector<RECORDING_STATE> states;
};

TEST_P(ZRFRecorderTest, CountsEveryImageAndRecordsOnlyBetweenStartAndStop) {
    recorder.SetFrameCounter(10);
    EXPECT_EQ(Add(100), 11u);
    const std::int64_t kUnixEpoch = 621355968000000000,
                       before = kUnixEpoch + std::time(nullptr) * 10'000'000;
    recorder.Start(0);
    const std::int64_t after = kUnixEpoch + (std::time(nullptr) + 1) * 10'000'000;
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(Add(200), 12u);
    EXPECT_EQ(Add(300), 13u);
    recorder.Stop(0);
    EXPECT_EQ(Add(400), 14u);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{12, 13}));
    const std::int64_t created = RecordingReader(recorder.CurrentPath()).Header().createdTicks;
    EXPECT_TRUE(created >= before && created <= after) << created;
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_P(ZRFRecorderTest, PreRecordingRingIsWrittenFirstOldestImageFirst) {
    RecorderXml settings;
    settings.SetPath(dir.File("rec.zrec"));
    settings.SetMaxNumberOfFramesInPreRecording(3);
    recorder.Setup(settings.XMLData());
    recorder.SetIsPreRecordingEnabled(true);
    for (int i = 1; i <= 5; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 3u);
    settings.SetXMLData(recorder.Settings());
    EXPECT_TRUE(settings.IsPreRecordingEnabled());
    EXPECT_EQ(settings.ImageSize(), static_cast<int>(kSize));
    recorder.Start(0);
    Add(6);
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{3, 4, 5, 6}));
    EXPECT_EQ(recorder.PreRecordedImages(), 0u);
    recorder.SetSizeImageBufferPreRecording(2);
    for (int i = 7; i <= 9; ++i) Add(i);
    EXPECT_EQ(recorder.PreRecordedImages(), 2u);
}

TEST_P(ZRFRecorderTest, StartWithACountStopsByItselfAndPauseSkipsImages) {
    recorder.Start(3);
    Add(1);
    recorder.Pause(1);
    Add(2);  // paused: counted, not recorded
    recorder.Pause(0);
    for (int i = 3; i <= 5; ++i) Add(i);  // the recorder stops after the third image it wrote
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{1, 3, 4}));
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::PAUSED,
                                   RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
}

TEST_P(ZRFRecorderTest, ADirectoryPathGetsANewNumberedFileEachTime) {
    SetPath(dir.Path() + "/");
    for (const char* name : {"recording_0001.zrec", "recording_0002.zrec"}) {
        recorder.Start(0);
        recorder.Stop(0);
        EXPECT_EQ(recorder.CurrentPath(), dir.File(name));
    }
}

TEST_P(ZRFRecorderTest, ImagesThatDoNotFitTheirBufferAreNotRecordedAndDisposeEndsTheRecording) {
    recorder.Start(0);
    std::vector<std::uint8_t> larger(8, 0);
    const auto image = TestImage(kSize, 4);
    larger.insert(larger.end(), image.begin(), image.end());
    EXPECT_EQ(recorder.AddImage(std::span(image).first(kSize - 1), 0, 1), 1u);
    for (const auto& [offset, ticks] : {std::pair{9, 2}, {-1, 3}, {8, 4}})
        EXPECT_EQ(recorder.AddImage(larger, offset, ticks), static_cast<std::uint64_t>(ticks));
    // A size of nothing (a stream that has not sized its images) records nothing, not an
    // empty record.
    recorder.SetImageSize(0);
    EXPECT_EQ(recorder.AddImage(image, 0, 5), 5u);
    // Dispose ends the recording and refuses new ones.
    recorder.Dispose();
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{4});
    EXPECT_THROW(recorder.Start(0), System::ObjectDisposedException);
}

// Each recording's writes go through a gate of its own, logged.
class GatedRecorderTest : public ZRFRecorderTest {
  protected:
    void SetUp() override {
        ZRFRecorderTest::SetUp();
        recorder.WrapFiles([this](std::unique_ptr<ImageSink> file) -> std::unique_ptr<ImageSink> {
            logs.push_back(std::make_shared<SinkLog>());
            logs.back()->held = holdNext;
            logs.back()->failAt = failNext;
            return std::make_unique<GatedSink>(logs.back(), std::move(file));
        });
    }
    // Adds on another thread, so a recorder that waited for the held disk shows as a failure
    // (the disk is let go then, so the adding can end), not as a hung test.
    void AddWithoutWaiting(std::int64_t from, std::int64_t to) {
        auto adding = std::async(std::launch::async, [this, from, to] {
            for (std::int64_t t = from; t <= to; ++t) Add(t);
        });
        if (adding.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            for (const auto& log : logs) log->Release();
            ADD_FAILURE() << "adding images waited for the disk";
        }
    }
    std::string Attribute(const char* name) { return recorder.Settings().Attribute(name).value_or("?"); }

    std::vector<std::shared_ptr<SinkLog>> logs;
    bool holdNext = false;
    std::uint64_t failNext = 0;
};

TEST_P(GatedRecorderTest, ADiskThatFallsBehindCostsTheRecordingImagesNeverTheCaller) {
    const std::size_t slots = WriteQueueSlots(kSize);
    holdNext = true;
    recorder.Start(0);
    Add(1);
    // The first image is at the disk, its buffer still taken: the queue takes `slots` - 1 more.
    logs.at(0)->AwaitWaiter();
    AddWithoutWaiting(2, static_cast<std::int64_t>(slots) + 2);
    EXPECT_TRUE(recorder.IsRecording());
    logs[0]->Release();
    recorder.Stop(0);
    std::vector<std::uint64_t> expected(slots);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(Recorded(), expected);
    EXPECT_EQ(recorder.DroppedByRecorder(), 2u);
    EXPECT_EQ(Attribute("DroppedFrames"), "2");
    EXPECT_EQ(Attribute("MostImagesWaiting"), std::to_string(slots));
    EXPECT_EQ(Attribute("RecordedFrames"), std::to_string(slots));
    EXPECT_EQ(Attribute("Error"), "");
    // A recording that kept up drops nothing, and had one image waiting at most; the count
    // over every recording stays.
    holdNext = false;
    recorder.Start(0);
    Add(100);
    recorder.Stop(0);
    EXPECT_EQ(Attribute("DroppedFrames"), "0");
    EXPECT_EQ(Attribute("MostImagesWaiting"), "1");
    EXPECT_EQ(recorder.DroppedByRecorder(), 2u);
}

// Told that its source can wait, the recorder holds the caller until the disk takes the image.
TEST_P(GatedRecorderTest, ARecorderToldItsSourceCanWaitLeavesNoImageOut) {
    RecorderXml settings;
    settings.SetPath(dir.File("rec.zrec"));
    settings.SetWaitForDisk(true);
    recorder.Setup(settings.XMLData());
    const auto images = static_cast<std::int64_t>(WriteQueueSlots(kSize)) + 5;
    holdNext = true;
    recorder.Start(0);
    Add(1);
    std::thread adding([&] {
        for (std::int64_t t = 2; t <= images; ++t) Add(t);
    });
    logs.at(0)->AwaitWaiter();
    logs[0]->Release();
    adding.join();
    recorder.Stop(0);
    EXPECT_EQ(Recorded().size(), static_cast<std::size_t>(images));
    EXPECT_EQ(Attribute("DroppedFrames"), "0");
}

// Whoever asks after the recording stopped finds the file complete and closed.
TEST_P(GatedRecorderTest, StopAndWhatIsAskedOnceStoppedWaitForEveryImageTaken) {
    using Ask = std::function<void(ZRFRecorder&)>;
    const std::vector<std::pair<const char*, Ask>> asks = {
        {"Stop", [](ZRFRecorder& r) { r.Stop(0); }},
        {"Dispose", [](ZRFRecorder& r) { r.Dispose(); }},
        {"Settings after a counted stop", [](ZRFRecorder& r) { r.Settings(); }},
        {"CurrentPath after a counted stop", [](ZRFRecorder& r) { r.CurrentPath(); }},
        {"FramesRecorded after a counted stop", [](ZRFRecorder& r) { r.FramesRecorded(); }},
    };
    for (const auto& [name, ask] : asks) {
        ZRFRecorder fresh;
        fresh.SetWrites(GetParam().writes);
        fresh.SetImageSize(kSize);
        RecorderXml settings;
        settings.SetPath(dir.File(std::string(name) + ".zrec"));
        fresh.Setup(settings.XMLData());
        auto log = std::make_shared<SinkLog>();
        log->held = true;
        fresh.WrapFiles([log](std::unique_ptr<ImageSink> file) -> std::unique_ptr<ImageSink> {
            return std::make_unique<GatedSink>(log, std::move(file));
        });
        fresh.Start(std::string(name).find("counted") != std::string::npos ? 3 : 0);
        for (std::int64_t t = 1; t <= 3; ++t) fresh.AddImage(TestImage(kSize, t), 0, t);
        std::thread release([log] {
            log->AwaitWaiter();
            log->Release();
        });
        ask(fresh);
        EXPECT_FALSE(log->Open()) << name;
        EXPECT_EQ(ReadAll(dir.File(std::string(name) + ".zrec")).size(), 3u) << name;
        release.join();
    }
}

TEST_P(GatedRecorderTest, AFailedWriteStopsTheRecordingOnceAndSaysWhyAndWhatWasLost) {
    holdNext = true;
    failNext = 2;
    recorder.Start(0);
    Add(1);
    logs.at(0)->AwaitWaiter();  // the first write holds image 1; the second holds the rest
    for (std::int64_t t = 2; t <= 5; ++t) Add(t);
    logs.at(0)->Release();
    // Seen by the next call once the writes are done: the file holds the one before the failure.
    recorder.Flush();
    EXPECT_FALSE(recorder.IsRecording());
    Add(6);  // not recorded, not lost: the recording had stopped
    EXPECT_EQ(Recorded(), (std::vector<std::uint64_t>{1}));
    EXPECT_EQ(Attribute("Error"), "the disk is full");
    EXPECT_EQ(Attribute("RecordedFrames"), "1");
    EXPECT_EQ(Attribute("DroppedFrames"), "4");
    EXPECT_EQ(states, (std::vector{RECORDING_STATE::RECORDING, RECORDING_STATE::STOPPED}));
    // The next recording starts without the error.
    failNext = 0;
    holdNext = false;
    recorder.Start(0);
    Add(7);
    recorder.Stop(0);
    EXPECT_EQ(Attribute("Error"), "");
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{7});
}

// A counted recording ends while the disk still holds its images: the next one starts at once,
// and each file gets exactly its own images.
TEST_P(GatedRecorderTest, ARecordingStartedWhileTheLastIsStillWritingFollowsIt) {
    SetPath(dir.Path() + "/");
    holdNext = true;
    recorder.Start(2);
    Add(1);
    Add(2);
    EXPECT_FALSE(recorder.IsRecording());
    std::thread release([this] {
        logs.at(0)->AwaitWaiter();
        logs[0]->Release();
    });
    holdNext = false;
    recorder.Start(0);
    release.join();
    Add(3);
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{3});
    EXPECT_EQ(recorder.CurrentPath(), dir.File("recording_0002.zrec"));
    std::vector<std::uint64_t> first;
    for (const auto& f : ReadAll(dir.File("recording_0001.zrec"))) first.push_back(f.frameNumber);
    EXPECT_EQ(first, (std::vector<std::uint64_t>{1, 2}));
}

// A handler that starts the next recording from the status of the last one's end.
TEST_P(GatedRecorderTest, AHandlerMayStartTheNextRecordingWhenTheLastStopsByItself) {
    SetPath(dir.Path() + "/");
    int restarts = 0;
    recorder.RecorderStatusChanged.Subscribe([&](const void*, const RecorderStatusEventArgs& e) {
        if (e.State == RECORDING_STATE::STOPPED && restarts++ == 0) recorder.Start(0);
    });
    recorder.Start(1);
    Add(1);  // ends the first; the handler starts the second
    Add(2);
    EXPECT_TRUE(recorder.IsRecording());
    recorder.Stop(0);
    EXPECT_EQ(Recorded(), std::vector<std::uint64_t>{2});
    EXPECT_EQ(ReadAll(dir.File("recording_0001.zrec")).size(), 1u);
}

TEST_P(GatedRecorderTest, ImagesThatGrowWhileRecordingAreRecordedWhole) {
    holdNext = true;
    recorder.Start(0);
    Add(1);
    logs.at(0)->Release();
    recorder.SetImageSize(4 * kSize);
    const auto larger = TestImage(4 * kSize, 2);
    recorder.AddImage(larger, 0, 2);
    recorder.Stop(0);
    const auto frames = ReadAll(recorder.CurrentPath());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].image, TestImage(kSize, 1));
    EXPECT_EQ(frames[1].image, larger);
    EXPECT_TRUE(frames[1].checksumOk);
}

// Each path writes as it was asked to, and a file system's refusal is said once in the trace,
// not at every recording.
TEST_P(ZRFRecorderTest, TheFileIsWrittenAsAskedAndARefusalIsTracedOnce) {
    Vorn::Zephra::Diagnostics::Log::LogCapture capture;
    for (int i = 0; i < 2; ++i) {
        recorder.Start(0);
        Add(10 * i + 1);
        Add(10 * i + 2);
        recorder.Stop(0);
        EXPECT_EQ(Recorded().size(), 2u);
    }
    const RecordingWrites& asked = GetParam().writes;
    const std::size_t block = recorder.WriteBlock();
    if (!asked.direct || asked.refuseDirect) {
        EXPECT_EQ(block, 1u);
    } else {
        EXPECT_GT(block, 1u) << "the file system of " << dir.File("") << " refuses direct writes";
        EXPECT_GE(block, asked.block);
    }
    int refusals = 0, later = 0;
    for (const auto& record : capture.Records()) {
        refusals += record.text.find("direct writes refused") != std::string::npos;
        later += record.text.find("took direct writes at the open and refuses them") != std::string::npos;
    }
    EXPECT_EQ(refusals, asked.direct && asked.refuseDirect ? 1 : 0);
    // Said once in a process: a test run alone sees it, one after another in a process may not.
    EXPECT_LE(later, asked.direct && asked.refuseDirectWrites ? 1 : 0);
}

// Whichever way it is written, a recording's file is the same byte for byte: a ring written by
// Start through the page cache, then the queue's blocks from an offset in the middle of one, a
// size that straddles blocks, flushes that write a padded block again, a count that ends it.
TEST(RecordingWrites, EveryWayOfWritingMakesTheSameFile) {
    constexpr std::size_t kOdd = 1000;
    TempDir dir;
    std::vector<std::string> files;
    for (const WritePath& path : kWritePaths) {
        ZRFRecorder recorder;
        recorder.SetWrites(path.writes);
        recorder.SetImageSize(static_cast<std::int32_t>(kOdd));
        RecorderXml settings;
        settings.SetPath(dir.File(std::string(path.name) + ".zrec"));
        settings.SetWaitForDisk(true);
        recorder.Setup(settings.XMLData());
        recorder.SetSizeImageBufferPreRecording(7);
        recorder.SetIsPreRecordingEnabled(true);
        std::int64_t t = 0;
        for (; t < 10; ++t) recorder.AddImage(TestImage(kOdd, t), 0, t);
        recorder.Start(300);
        for (; t < 400; ++t) {
            recorder.AddImage(TestImage(kOdd, t), 0, t);
            if (t % 37 == 0) recorder.Flush();
        }
        recorder.Stop(0);
        EXPECT_EQ(recorder.FramesRecorded(), 300u) << path.name;
        std::ifstream in(dir.File(std::string(path.name) + ".zrec"), std::ios::binary);
        std::string bytes(std::istreambuf_iterator<char>(in), {});
        // The time the recording began is its own.
        ASSERT_GE(bytes.size(), kHeader) << path.name;
        std::fill_n(bytes.begin() + offsetof(RecordingFileHeader, createdTicks), 8, '\0');
        files.push_back(std::move(bytes));
    }
    EXPECT_EQ(files[0].size(), kHeader + 300 * (kRecord + kOdd));
    for (std::size_t i = 1; i < files.size(); ++i)
        EXPECT_TRUE(files[i] == files[0]) << kWritePaths[i].name << " differs from " << kWritePaths[0].name;
}

std::string PathName(const ::testing::TestParamInfo<WritePath>& info) { return info.param.name; }
INSTANTIATE_TEST_SUITE_P(Writes, ZRFRecorderTest, ::testing::ValuesIn(kWritePaths), PathName);
INSTANTIATE_TEST_SUITE_P(Writes, GatedRecorderTest, ::testing::ValuesIn(kWritePaths), PathName);

}  // namespace
