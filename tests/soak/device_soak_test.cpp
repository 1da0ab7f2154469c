// A simulated camera streams at full speed while this thread keeps changing everything the host
// can change. Nothing may crash or hang, every sample the camera sent is accounted for per grab
// session, and every recording reads back frame by frame.
//
// ZRF_SOAK_ROUNDS sets the number of host operations per camera (default 150, some seconds);
// for a manual soak run, e.g. ZRF_SOAK_ROUNDS=5000 build/default/tests/soak/soak_test.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "host/commands/device_command.h"
#include "host/recorder/recording_file.h"
#include "tests/host/recorder/temp_dir.h"
#include "tests/plugin/device_fixture.h"
#include "tests/soak/sample_ledger.h"
#include "tests/soak/watchdog.h"
#include "sim/video/simulated_time.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

using zrf::soak::SampleLedger;
using zrf::soak::Watchdog;

int SoakRounds() {
    const int rounds =
        std::getenv("ZRF_SOAK_ROUNDS") ? std::atoi(std::getenv("ZRF_SOAK_ROUNDS")) : 0;
    return rounds > 0 ? rounds : 150;
}

// What the device delivered, sample by sample (the handler runs on the streaming thread, right
// after the ledger saw the sample).
struct Deliveries {
    std::uint64_t lastSample = 0;
    std::int32_t expectedImages = 0;
    std::int32_t imagesOfSample = 0;
    std::uint64_t partial = 0;          // samples with more or fewer images than fields
    std::uint64_t fromCalibrating = 0;  // images of samples the camera took while calibrating
    std::set<unsigned long> frameNumbers;
    std::set<std::uint64_t> sampleIds;  // the samples delivered

    void Image(const SampleLedger& ledger, unsigned long frameNumber) {
        if (ledger.CurrentSample() != lastSample) {
            Close();
            lastSample = ledger.CurrentSample();
            expectedImages = ledger.CurrentFields();
            imagesOfSample = 0;
            sampleIds.insert(lastSample);
        }
        if (ledger.CurrentCalibrating()) ++fromCalibrating;
        ++imagesOfSample;
        frameNumbers.insert(frameNumber);
    }
    void Close() {
        if (lastSample != 0 && imagesOfSample != expectedImages) ++partial;
        lastSample = 0;
    }
};

class DeviceSoakTest : public DeviceTest, public ::testing::WithParamInterface<const char*> {
  protected:
    // Lets the camera send a few more samples (real time: they flow on their own thread).
    void LetSamplesFlow() {
        const long target = Simulated().Video().FramesDelivered() + 3;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Simulated().Video().FramesDelivered() < target) {
            ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the camera stopped sending";
            std::this_thread::yield();
        }
    }

    // Runs an operation that may stop and restart the graph, noting the samples sent meanwhile.
    template <typename Operation>
    void Restarting(Operation operation) {
        const std::uint64_t first = ledger->Samples();
        operation();
        windows.emplace_back(first, ledger->Samples() + 1);
    }

    bool InRestartWindow(std::uint64_t id) const {
        for (const auto& [first, last] : windows)
            if (first <= id && id <= last) return true;
        return false;
    }

    void BeginSession() {
        windows.clear();
        firstId = ledger->Samples() + 1;
        sentAtStart = Simulated().Video().FramesDelivered();
        calibratingAtStart = ledger->Calibrating();
        deliveries = Deliveries{};
        device->GrabContinous_Start();
    }

    // Called once no sample callback can run any more (after a stop or a disconnect).
    void EndSession() {
        deliveries.Close();
        const std::uint64_t sent = Simulated().Video().FramesDelivered() - sentAtStart;
        const std::uint64_t calibrating = ledger->Calibrating() - calibratingAtStart;
        const std::uint64_t lost = static_cast<std::uint64_t>(device->GrabContinous_LostFrames());
        // Every sample the device did not account for was sent while it restarted its graph.
        std::uint64_t dropped = 0, unaccounted = 0;
        for (std::uint64_t id = firstId; id <= ledger->Samples(); ++id) {
            if (deliveries.sampleIds.count(id) || ledger->WasCalibrating(id)) continue;
            ++(InRestartWindow(id) ? dropped : unaccounted);
        }
        EXPECT_EQ(ledger->Samples() + 1 - firstId, sent);
        EXPECT_EQ(deliveries.sampleIds.size() + lost + calibrating + dropped, sent)
            << "session " << sessions << ": delivered " << deliveries.sampleIds.size() << ", lost "
            << lost << ", calibrating " << calibrating << ", dropped at restarts " << dropped;
        EXPECT_EQ(unaccounted, lost)
            << "session " << sessions << ": samples that vanished outside graph restarts";
        EXPECT_EQ(deliveries.partial, 0u) << "samples delivered with the wrong number of fields";
        EXPECT_EQ(deliveries.fromCalibrating, 0u) << "images of calibrating samples delivered";
        ++sessions;
        calibratingSamples += calibrating;
        delivered.insert(deliveries.frameNumbers.begin(), deliveries.frameNumbers.end());
    }

    // Ends the grab session by a stop or a disconnect and begins the next.
    void NextSession(bool reconnect) {
        Restarting([&] {
            if (reconnect)
                device->Device_Disconnect();
            else
                device->GrabContinous_Stop();
        });
        EndSession();
        if (reconnect) Connect();
        BeginSession();
    }

    void RunCommand(int id, const char* name) {
        DeviceCommand reply(
            device->Device_ExecuteCommand(DeviceCommand::Create(id, name).XmlData()));
        EXPECT_EQ(reply.Error(), "") << name;
    }

    // One host operation, chosen at random; some of them end the grab session.
    void Operate(std::mt19937& random, int rateCount, int rangeCount) {
        auto pick = [&](int n) { return static_cast<int>(random() % n); };
        auto setRate = [&] { Restarting([&] { device->Control_SetFrameRate(pick(rateCount)); }); };
        // clang-format off
        const std::function<void()> operations[] = {
            setRate, setRate, [&] { device->IRControl_Nuc(); },
            // A camera with the other range set restarts grabbing.
            [&] { Restarting([&] { device->IRControl_SetTemperatureRange(pick(rangeCount)); }); },
            [&] { RunCommand(1, "Nuc"); }, [&] { RunCommand(41, "FrameRate"); },
            [&] { RunCommand(20, "TemperatureRanges"); },
            [&] { device->Recorder_Start(0); }, [&] { device->Recorder_Pause(random() % 2); },
            [&] { device->Recorder_Stop(0); }, [&] { NextSession(false); }, [&] { NextSession(true); },
        };
        // clang-format on
        operations[random() % std::size(operations)]();
    }

    // Every recording reads back whole: good checksums, rising frame numbers, each one an
    // image the device delivered, and a clean end (nothing was cut in this process).
    void VerifyRecordings() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            Recorder::RecordingReader reader(entry.path().string());
            Recorder::RecordedFrame frame;
            std::uint64_t frames = 0, previous = 0;
            while (reader.Next(frame)) {
                ASSERT_TRUE(frame.checksumOk) << entry.path() << " frame " << frames;
                ASSERT_GT(frame.frameNumber, previous) << entry.path();
                ASSERT_TRUE(delivered.count(static_cast<unsigned long>(frame.frameNumber)))
                    << entry.path() << ": frame " << frame.frameNumber << " was never delivered";
                previous = frame.frameNumber;
                ++frames;
            }
            EXPECT_EQ(reader.Ending(), Recorder::RecordingReader::End::Clean) << entry.path();
            recordedFrames += frames;
        }
    }

    void Soak(const std::string& preset) {
        // The field camera keeps its own time on the test clock (its stalls a minute apart come
        // in seconds); the others send as fast as they can.
        Simulation::SimulatedCameraOptions options;
        options.asFastAsPossible = preset != "usb-ir-field";
        if (!options.asFastAsPossible) options.time = &cameraTime;
        MakeCamera(preset, options, true);
        ledger = std::make_shared<SampleLedger>(Simulated().Source(), Simulated().Tree());
        Simulated().VideoDevice()->SetSampleSource(ledger);
        device->Completed().Subscribe([this](const void*,
                                             const GrabContinousCompletedEventArgs& e) {
            deliveries.Image(*ledger, std::stoul(e.Info.Attribute("FrameNumber").value_or("0")));
        });
        device->Failed().Subscribe(
            [this](const void*, const GrabContinousFailedEventArgs& e) { ++failures; });
        Watchdog watchdog(std::chrono::seconds(60));
        Entities::XmlUtils::RecorderXml settings;
        settings.SetPath(dir.Path() + "/");  // a new file for each start
        Connect();
        device->Recorder_Setup(settings.XMLData());
        BeginSession();

        std::atomic<bool> stop{false};
        std::thread queries([&] {  // a second host thread reading all the while
            while (!stop) {
                device->Device_IsConnected();
                device->Device_XMLData();
                device->GrabContinous_LostFrames();
                device->Recorder_IsRecording();
                std::this_thread::yield();
            }
        });
        const int rates =
            static_cast<int>(device->Control_GetFrameRates().Elements("Range").size());
        const int ranges = static_cast<int>(Simulated().Tree()->Ranges().size());
        std::mt19937 random(20261206);
        const int rounds = SoakRounds();
        for (int round = 0; round < rounds && !HasFatalFailure(); ++round) {
            watchdog.Progress("round " + std::to_string(round));
            Operate(random, rates, ranges);
            LetSamplesFlow();
        }
        watchdog.Progress("final stop");
        Restarting([&] { device->GrabContinous_Stop(); });
        EndSession();
        device->Recorder_Stop(0);
        stop = true;
        queries.join();
        watchdog.Progress("verifying recordings");
        VerifyRecordings();

        EXPECT_EQ(ledger->Ambiguous(), 0u);
        EXPECT_EQ(failures.load(), 0);
        EXPECT_GT(calibratingSamples, 0u);
        if (!options.asFastAsPossible) {
            // The field camera's time ran (its settling waits are jumps of it, so most frames it
            // dropped it was late for; the hour test holds its stalls to account).
            const zrf::sim::CameraTruth truth = camera->Truth();
            std::printf("[ field    ] made %llu, sent %llu, dropped %llu (%llu by stalls), %llu cut short, %llu damaged\n",
                        static_cast<unsigned long long>(truth.made), static_cast<unsigned long long>(truth.sent),
                        static_cast<unsigned long long>(truth.dropped), static_cast<unsigned long long>(truth.stalled),
                        static_cast<unsigned long long>(truth.cutShort), static_cast<unsigned long long>(truth.damaged));
            EXPECT_GT(truth.dropped, 0u);
            EXPECT_EQ(truth.made, truth.sent + truth.dropped);
        }
        EXPECT_GT(recordedFrames, 0u);
    }

    TempDir dir;
    zrf::sim::TestClockTime cameraTime{clock_};
    std::shared_ptr<SampleLedger> ledger;
    Deliveries deliveries;
    std::atomic<int> failures{0};
    std::set<unsigned long> delivered;
    std::uint64_t sessions = 0, calibratingSamples = 0, recordedFrames = 0;
    // Samples (first and last ledger number) sent while the device stopped and restarted its
    // graph in the current session: the graph lets go of the device's callback before it stops
    // the camera, so what arrives in between never reaches the device.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> windows;
    std::uint64_t firstId = 1;
    long sentAtStart = 0;
    std::uint64_t calibratingAtStart = 0;
};

TEST_P(DeviceSoakTest, HoldsUpUnderEveryHostOperation) {
    Soak(GetParam());
}

// The IEEE-1394 camera's frame rates include the windowing entries: samples of 2 and 4 fields.
INSTANTIATE_TEST_SUITE_P(Cameras, DeviceSoakTest,
                         ::testing::Values("usb-ir", "usb-ir-field", "usb-ir-jls", "fw-ir"), [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
