// A camera served live through the real plug-in and a simulated camera: recordings started and
// stopped as a client would, and a camera that disappears while it records: the recording ends
// at its last frame, whole, and the status says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include <chrono>
#include <stdexcept>
#include <filesystem>
#include <sstream>
#include <thread>

#include "host/recorder/recording_file.h"
#include "host/system/exceptions.h"
#include "tests/host/recorder/file_size_limit.h"
#include "tests/host/recorder/temp_dir.h"
#include "tools/zrfgrab/serve/device_camera.h"
#include "tests/tools/serve/serve_command_line.h"
#include "tools/zrfgrab/serve/serve_options.h"

namespace zrfgrab::serve {
namespace {

using namespace Vorn::Zephra::Net::Devices;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// Frames read back from a recording, and how it ends.
std::pair<std::uint64_t, Recorder::RecordingReader::End> ReadBack(const std::string& path) {
    Recorder::RecordingReader reader(path);
    Recorder::RecordedFrame frame;
    std::uint64_t frames = 0;
    while (reader.Next(frame)) frames += frame.checksumOk ? 1 : 0;
    return {frames, reader.Ending()};
}

class DeviceCameraTest : public ::testing::Test {
  protected:
    std::unique_ptr<DeviceCamera> Open(const std::string& preset, const std::string& changes = "") {
        return Open(CameraSource{preset, {}}, changes);
    }
    std::unique_ptr<DeviceCamera> Open(const CameraSource& source, const std::string& changes = "") {
        Vorn::Zephra::Simulation::SimulatedCameraOptions options;
        options.asFastAsPossible = false;
        options.loop = true;
        options.changes = changes;
        std::string format;
        for (const std::string& entry : plugin_.Plugin().Formats())
            if (entry.ends_with(";ZRF")) format = entry;
        auto camera = std::make_unique<DeviceCamera>(plugin_, format, source, options, dir_.Path(), dir_.Path(), 8);
        camera->Start();
        return camera;
    }
    // A whole recording of a few frames, to replay.
    std::string Recorded(std::uint64_t frames) {
        auto camera = Open("usb-ir");
        EXPECT_TRUE(WaitUntil([&] { return camera->Feed().Latest() != nullptr; }));
        EXPECT_EQ(camera->Run(Action::StartRecording).status, 200);
        EXPECT_TRUE(WaitUntil([&] { return camera->Status().recordingFrames >= frames; }));
        EXPECT_EQ(camera->Run(Action::StopRecording).status, 200);
        camera->StopThread();
        camera->Finish("recorded");
        return camera->Status().recordingFile;
    }
    template <class Condition>
    static bool WaitUntil(Condition condition) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!condition()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    LoadedPlugin plugin_ = PluginLoader::Load(ZRF_PLUGIN_PATH);
    TempDir dir_;
};

TEST_F(DeviceCameraTest, RecordingsStartAndStopAsAClientAsks) {
    auto camera = Open("usb-ir");
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 3 && camera->Feed().Latest(); }));
    EXPECT_EQ(camera->Run(Action::StopRecording).status, 409);  // nothing to stop
    const ActionResult started = camera->Run(Action::StartRecording);
    ASSERT_EQ(started.status, 200) << started.json;
    EXPECT_THAT(started.json, HasSubstr("recording_0001.zrec"));
    EXPECT_EQ(camera->Run(Action::StartRecording).status, 409);  // one at a time
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().recordingFrames >= 10; }));
    const ActionResult stopped = camera->Run(Action::StopRecording);
    ASSERT_EQ(stopped.status, 200) << stopped.json;
    const CameraStatus s = camera->Status();
    EXPECT_FALSE(s.recording);
    EXPECT_EQ(s.recordingEnd, "a client stopped it");
    const auto [frames, ending] = ReadBack(s.recordingFile);
    EXPECT_EQ(frames, s.recordingFrames);
    EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
    EXPECT_EQ(camera->Run(Action::Correct).status, 200);
    EXPECT_TRUE(WaitUntil([&] { return camera->Status().calibrations >= 1; }));

    // The second recording takes a number of its own.
    ASSERT_EQ(camera->Run(Action::StartRecording).status, 200);
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().recordingFrames >= 2; }));
    camera->StopThread();
    camera->EndRecording("the run ended");
    // The plug-in lost none; a camera slowed down (a sanitizer's build) may have dropped some.
    const std::string finished = camera->Finish("the run ended");
    const CameraStatus ended = camera->Status();
    EXPECT_EQ(ended.lost, 0u);
    const std::string lost = std::to_string(ended.cameraDropped) + " lost" +
                             (ended.cameraDropped > 0 ? " (" + std::to_string(ended.cameraDropped) + " dropped by the camera)" : "");
    EXPECT_THAT(finished, HasSubstr("frames delivered, " + lost));
    ASSERT_EQ(camera->Recordings().size(), 2u);
    EXPECT_THAT(camera->Recordings()[1], HasSubstr("recording_0002.zrec"));
    EXPECT_THAT(camera->Recordings()[1], HasSubstr("the run ended"));
    EXPECT_EQ(camera->Status().state, "stopped");
}

TEST_F(DeviceCameraTest, EveryCameraACommandLineNamesRunsAlongsideTheOthers) {
    const std::string a = Recorded(3);
    const std::filesystem::path b = std::filesystem::path(dir_.Path()) / "copy.zrec";
    std::filesystem::copy_file(a, b);
    const std::string lines[] = {
        "--replay " + a + " --replay " + b.string(),
        "--camera usb-ir --replay " + a + " --camera usb-ir --replay " + b.string(),
        "--camera fw-ir --camera fw-ir --camera usb-ir",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        std::vector<std::unique_ptr<DeviceCamera>> cameras;
        for (const CameraSource& source : ParseCommandLine(line).cameras) {
            try {
                cameras.push_back(Open(source));
            } catch (const System::Exception& e) {
                ADD_FAILURE() << (source.replay.empty() ? source.preset : source.replay) << ": " << e.Message();
            }
        }
        for (auto& camera : cameras) {
            EXPECT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 2; })) << camera->Name();
            camera->StopThread();
            camera->Finish("the run ended");
        }
    }
}

// A recording that ended before the camera disappeared is not the one the disappearance closed.
TEST_F(DeviceCameraTest, ADisappearanceAfterARecordingEndedLeavesThatRecordingOutOfItsNote) {
    auto camera = Open("usb-ir", "disappear-after=90");
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 2; }));
    ASSERT_EQ(camera->Run(Action::StartRecording).status, 200);
    ASSERT_EQ(camera->Run(Action::StopRecording).status, 200);
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().state == "gone"; }));
    const CameraStatus s = camera->Status();
    EXPECT_EQ(s.recordingEnd.substr(0, 19), "a client stopped it");
    EXPECT_FALSE(s.recordingClosedByDisappearance);
    EXPECT_EQ(GoneNote(s), "camera usb-ir disappeared");
    camera->StopThread();
    camera->Finish("the run ended");
}

TEST_F(DeviceCameraTest, ACameraThatDisappearsEndsItsRecordingWhole) {
    auto camera = Open("usb-ir", "disappear-after=45");
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 2; }));
    ASSERT_EQ(camera->Run(Action::StartRecording).status, 200);
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().state == "gone"; }));
    const CameraStatus s = camera->Status();
    EXPECT_FALSE(s.recording);
    EXPECT_EQ(s.recordingEnd, "the camera disappeared");
    EXPECT_EQ(s.message, "the camera disappeared");
    EXPECT_TRUE(s.recordingClosedByDisappearance);
    EXPECT_EQ(GoneNote(s), "camera usb-ir disappeared; its recording " + s.recordingFile + " was closed with " +
                               RecordedCount(s));
    const auto [frames, ending] = ReadBack(s.recordingFile);
    EXPECT_GT(frames, 0u);
    EXPECT_EQ(frames, s.recordingFrames);
    EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
    // A camera that is gone takes no more actions, and says so.
    EXPECT_EQ(camera->Run(Action::StartRecording).status, 409);
    EXPECT_EQ(camera->Run(Action::Correct).status, 409);
    camera->StopThread();
    camera->Finish("the run ended");
    EXPECT_EQ(camera->Status().state, "gone");
}

// The recorder keeps no file of a recording that got no frame: what serve reports must not
// name one as kept, however the recording ended.
TEST_F(DeviceCameraTest, ARecordingWithoutFramesIsNotReportedAsAFileKept) {
    struct Case {
        const char* changes;
        bool clientStops;
        const char* end;
    };
    const Case cases[] = {
        {"disappear-after=3", false, "the camera disappeared"},
        {"disappear-after=3", true, "a client stopped it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.changes) + (c.clientStops ? ", stopped" : ", gone"));
        auto camera = Open("usb-ir", c.changes);
        // Silent from here on, but not yet taken for gone: a recording starts and gets nothing.
        ASSERT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 3; }));
        ASSERT_EQ(camera->Run(Action::StartRecording).status, 200);
        std::string reply;
        if (c.clientStops) reply = camera->Run(Action::StopRecording).json;
        ASSERT_TRUE(WaitUntil([&] { return !camera->Status().recording; }));
        const CameraStatus s = camera->Status();
        ASSERT_EQ(s.recordingFrames, 0u);
        EXPECT_FALSE(std::filesystem::exists(s.recordingFile));
        EXPECT_THAT(s.recordingEnd, HasSubstr(c.end));
        EXPECT_THAT(s.recordingEnd, HasSubstr("no file was kept"));
        if (c.clientStops) {
            EXPECT_THAT(reply, HasSubstr("no file was kept"));
        }
        camera->StopThread();
        camera->Finish("the run ended");
        ASSERT_EQ(camera->Recordings().size(), 1u);
        EXPECT_THAT(camera->Recordings()[0], HasSubstr("no file was kept"));
    }
}

TEST_F(DeviceCameraTest, ImagesAFailedWriteLosesAreReportedAsNotRecorded) {
    auto camera = Open("usb-ir");
    ASSERT_TRUE(WaitUntil([&] { return camera->Status().delivered >= 2; }));
    {
        // Room for the header and three images of 618 KB, not a fourth.
        const FileSizeLimit full(2'000'000);
        ASSERT_EQ(camera->Run(Action::StartRecording).status, 200);
        ASSERT_TRUE(WaitUntil([&] { return !camera->Status().recording; }));
    }
    const CameraStatus s = camera->Status();
    EXPECT_EQ(s.recordingFrames, 3u);
    EXPECT_GE(s.recordingDropped, 1u);
    EXPECT_FALSE(s.recordingEnd.empty());
    const auto [frames, ending] = ReadBack(s.recordingFile);
    EXPECT_EQ(frames, s.recordingFrames);
    EXPECT_EQ(ending, Recorder::RecordingReader::End::Clean);
    camera->StopThread();
    camera->Finish("the run ended");
    ASSERT_EQ(camera->Recordings().size(), 1u);
    EXPECT_THAT(camera->Recordings()[0],
                HasSubstr("3 frames, " + std::to_string(s.recordingDropped) + " not recorded"));
}

}  // namespace
}  // namespace zrfgrab::serve
