// An hour of a camera as one comes from the field, on the test clock: its crystal off the
// programmed rate, samples late, the bus stalling, transfers cut short or damaged. The device
// streams and records it; the camera moves the clock on, so the hour passes in seconds. Every
// frame the camera made is delivered, dropped by the camera or lost by the plug-in, each as the
// camera counted it; the recording reads back whole; every stamp is later than the one before
// and near its arrival both ways; and the recording's frame rate is the camera's own.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "host/recorder/recording_file.h"
#include "sim/video/simulated_time.h"
#include "tests/host/recorder/temp_dir.h"
#include "tools/zrfgrab/recording_rate.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

constexpr double kPpm = 50.0;
constexpr double kProgrammedRate = 30.0;
// A tiny picture (the frame information dominates each image): an hour is 108,000 of them.
constexpr const char* kField = "format-size=16x12;drift=+50;jitter=8;stall=250/60;glitch=1000";

struct Arrival {
    std::int64_t stamp;    // ms since 1970, as the image carries it
    std::int64_t arrival;  // ms since 1970, the test clock's wall time at delivery
};

std::int64_t StampOf(std::span<const std::uint8_t> image) {
    std::uint32_t seconds = 0, milliseconds = 0;
    std::memcpy(&seconds, image.data() + 128 + 900, 4);
    std::memcpy(&milliseconds, image.data() + 128 + 904, 4);
    return std::int64_t{seconds} * 1000 + milliseconds;
}

class DeviceHourTest : public DeviceTest {
  protected:
    // The wall clock at the streaming thread's present (no daylight saving here, so on the
    // stamps' scale).
    std::int64_t WallMs() const {
        const __timeb32 wall = clock_.TimeOfDay();
        return std::int64_t{wall.time} * 1000 + wall.millitm;
    }
};

TEST_F(DeviceHourTest, EveryFrameOfAnHourIsAccountedForStampedAtTheCamerasPaceAndRecorded) {
    zrf::sim::TestClockTime time(clock_);
    Simulation::SimulatedCameraOptions options;
    options.time = &time;
    options.seed = 7;
    options.changes = kField;
    MakeCamera("fw-ir", options, false);

    std::vector<Arrival> arrivals;
    arrivals.reserve(120'000);
    device->Completed().Subscribe([&](const void*, const GrabContinousCompletedEventArgs& e) {
        arrivals.push_back({StampOf(e.Image), WallMs()});
    });
    Connect();
    TempDir dir;
    Entities::XmlUtils::RecorderXml settings;
    settings.SetPath(dir.File("hour.zrec"));
    settings.SetWaitForDisk(true);  // the camera runs as fast as the host goes
    device->Recorder_Setup(settings.XMLData());
    device->Recorder_Start(0);
    device->GrabContinous_Start();
    // The camera moves the clock on; an hour of it, watched in real time.
    const auto hour = clock_.Elapsed() + std::chrono::hours(1);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (clock_.Elapsed() < hour && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(clock_.Elapsed(), hour) << "the camera's hour did not pass in ten minutes";
    device->GrabContinous_Stop();
    device->Recorder_Stop(0);

    // Every frame made is accounted for, each as injected.
    const zrf::sim::CameraTruth truth = camera->Truth();
    const auto lost = static_cast<std::uint64_t>(device->GrabContinous_LostFrames());
    EXPECT_GT(truth.made, 107'000u);
    EXPECT_GT(truth.stalled, 0u);
    EXPECT_GT(truth.cutShort, 0u);
    EXPECT_GT(truth.damaged, 0u);
    EXPECT_EQ(truth.made, arrivals.size() + lost + truth.dropped);
    EXPECT_EQ(lost, truth.cutShort + truth.damaged);
    EXPECT_EQ(truth.dropped, truth.stalled);  // the simulated clock waits for the thread
    EXPECT_EQ(camera->FramesDropped(), truth.dropped);

    // Stamps: later each time, at most two periods ahead of arrival, at most the base's lost
    // second and three periods behind.
    const double period = 1000.0 / kProgrammedRate;
    std::size_t notLater = 0, ahead = 0, behind = 0;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        const Arrival& a = arrivals[i];
        if (i > 0 && a.stamp <= arrivals[i - 1].stamp) ++notLater;
        if (a.stamp > a.arrival + static_cast<std::int64_t>(2 * period) + 1) ++ahead;
        if (a.stamp < a.arrival - 1000 - static_cast<std::int64_t>(3 * period) - 1) ++behind;
    }
    EXPECT_EQ(notLater + ahead + behind, 0u)
        << notLater << " not later, " << ahead << " too far ahead, " << behind
        << " too far behind, of " << arrivals.size();

    // The recording holds every delivered image, whole, and its rate is the camera's true one.
    Recorder::RecordingReader reader(dir.File("hour.zrec"));
    Recorder::RecordedFrame frame;
    std::vector<zrfgrab::StampedFrame> stamped;
    std::size_t damaged = 0;
    while (reader.Next(frame)) {
        if (!frame.checksumOk) ++damaged;
        stamped.push_back({frame.frameNumber, frame.ticks});
    }
    EXPECT_EQ(reader.Ending(), Recorder::RecordingReader::End::Clean);
    EXPECT_EQ(damaged, 0u);
    EXPECT_EQ(stamped.size(), arrivals.size());
    const auto rate = zrfgrab::CameraFrameRate(stamped);
    const double trueRate = kProgrammedRate * (1.0 + kPpm * 1e-6);
    ASSERT_TRUE(rate.has_value());
    EXPECT_NEAR(*rate, trueRate, trueRate * 0.001);
    std::printf(
        "[ hour     ] made %llu, delivered %zu, dropped %llu (stalls), lost %llu (%llu cut short, "
        "%llu damaged); "
        "recorded %zu; rate %.4f fps for %.4f\n",
        static_cast<unsigned long long>(truth.made), arrivals.size(),
        static_cast<unsigned long long>(truth.dropped), static_cast<unsigned long long>(lost),
        static_cast<unsigned long long>(truth.cutShort),
        static_cast<unsigned long long>(truth.damaged), stamped.size(), *rate, trueRate);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
