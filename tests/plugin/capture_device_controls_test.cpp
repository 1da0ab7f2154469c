// Camera and IR controls against simulated cameras: frame rates and windowing, temperature
// ranges, focus, and the web camera without a control channel.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/mtx_graph.h"
#include "device_fixture.h"
#include "expect_exception.h"
#include "host/commands/device_command.h"
#include "host/devices/framework_exceptions.h"
#include "imaging/img_src_stream.h"
#include "sim/video/video_presets.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

namespace nodes = zrf::sim::nodes;
using std::chrono::milliseconds;

constexpr milliseconds kNucWait{3000};
constexpr milliseconds kWindowingWait{3500};
constexpr milliseconds kRangeWait{5000};

// 30, 15 and 7.5 frames per second in the camera's frame-rate list; the formats also take
// 5 frames per second, a rate the list does not hold.
const std::vector<REFERENCE_TIME> kListedIntervals = {333333, 666666, 1333333};
const std::vector<REFERENCE_TIME> kFormatIntervals = {333333, 666666, 1333333, 2000000};

void ThreeListedRates(zrf::sim::CameraPreset& p) {
    p.video.video_control_frame_intervals = kListedIntervals;
    for (auto& format : p.video.formats) format.frame_intervals = kFormatIntervals;
}

std::vector<std::string> Attributes(const XElement& element, const char* child, const char* name) {
    std::vector<std::string> values;
    for (const XElement& e : element.Elements(child))
        values.push_back(e.Attribute(name).value_or("?"));
    return values;
}

using ControlsTest = DeviceTest;

// --- Frame rates ---------------------------------------------------------------------------

TEST_F(ControlsTest, FrameRatesAreTheGraphListReversed) {
    MakeCamera("usb-ir", ThreeListedRates);
    Connect();
    ASSERT_EQ(State().Graph()->FrameRates(), (std::vector<float>{30.0f, 15.0f, 7.5f}));
    const XElement rates = device->Control_GetFrameRates();
    EXPECT_EQ(rates.Attribute("IsCameraAsync"), "false");
    EXPECT_EQ(Attributes(rates, "Range", "FramesPerSecond"),
              (std::vector<std::string>{"7.5", "15", "30"}));
    EXPECT_EQ(rates.Attribute("Selected"), "2");  // USB cameras start at the list's first rate
    struct Case {
        double rate;
        int index;
    };
    // Host index i is graph entry N - 1 - i; 5, below every listed rate, falls through to the
    // last index.
    for (const Case c : {Case{15.0, 1}, Case{30.0, 2}, Case{7.5, 0}, Case{5.0, 2}}) {
        SCOPED_TRACE(c.rate);
        State().Graph()->SetFrameRate(c.rate);
        ASSERT_DOUBLE_EQ(State().Graph()->GetFrameRate(), c.rate);
        EXPECT_EQ(device->Control_GetFrameRate(), c.index);
        EXPECT_FLOAT_EQ(State().Stream()->FrameRate(), static_cast<float>(c.rate));
    }
    for (const Case c : {Case{7.5, 0}, Case{15.0, 1}, Case{30.0, 2}}) {
        EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(c.index); }), milliseconds(0));
        EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), c.rate);
    }
    for (int index : {-1, 3}) {  // 3 would be a windowing entry, which this camera lacks
        SCOPED_TRACE(index);
        auto e = CatchExactly<System::ArgumentOutOfRangeException>(
            [&] { device->Control_SetFrameRate(index); });
        EXPECT_EQ(e ? e->ParamName() : "", "SetFrameRate");
    }
    EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), 30.0);  // untouched by the refusals
}

TEST_F(ControlsTest, EveryIndexSetReadsBackOnEveryCamera) {
    // usb-ir-jls lists 3.75: the graph reads rates back cut to one decimal.
    for (const char* preset : {"usb-ir", "usb-ir-jls", "fw-ir", "webcam"}) {
        MakeCamera(preset);
        Connect();
        const auto count = device->Control_GetFrameRates().Elements("Range").size();
        ASSERT_GT(count, 0u) << preset;
        for (int index = 0; index < static_cast<int>(count); ++index) {
            device->Control_SetFrameRate(index);
            EXPECT_EQ(device->Control_GetFrameRate(), index) << preset;
        }
    }
}

TEST_F(ControlsTest, CallsWithoutAConnection) {
    MakeCamera("usb-ir");
    auto notConnected = [&](const std::function<void()>& call) {
        ExpectThrowsMessage<System::InvalidOperationException>(call, "Not connected");
    };
    auto allRefused = [&] {
        notConnected([&] { device->Control_SetFrameRate(0); });
        notConnected([&] { device->Control_GetFrameRate(); });
        notConnected([&] { device->Control_GetFrameRates(); });
        notConnected([&] { device->IRControl_SetTemperatureRange(0); });
        notConnected([&] { device->IRControl_GetTemperatureRange(); });
        EXPECT_TRUE(device->IRControl_GetTemperatureRanges().IsNull());
    };
    allRefused();
    Connect();
    // Unplugged: with a graph but without the camera, the index is checked first.
    camera->Tree()->SetOnline(false);
    EXPECT_TRUE(CatchExactly<System::ArgumentOutOfRangeException>([&] {
                    device->Control_SetFrameRate(3);
                }).has_value());
    allRefused();
    camera->Tree()->SetOnline(true);
    device->Device_Disconnect();
    allRefused();
    EXPECT_FALSE(State().HasGraph());
}

// --- Windowing -------------------------------------------------------------------------------

TEST_F(ControlsTest, WindowingEntriesSwitchFieldsAndBack) {
    MakeCamera("fw-ir", ThreeListedRates);
    Connect();
    ASSERT_TRUE(State().HasWindowing());
    EXPECT_EQ(Attributes(device->Control_GetFrameRates(), "Range", "FramesPerSecond"),
              (std::vector<std::string>{"7.5", "15", "30", "60", "120"}));
    const int nucs = Tree<std::int32_t>(nodes::kNucCount);

    struct Step {
        int index;
        bool active;
        int fields;  // in the stream
        double graphRate;
    };
    // On, from 2 to 4 fields, then off again to the slowest listed rate.
    for (const Step s : {Step{3, true, 2, 30.0}, Step{4, true, 4, 30.0}, Step{0, false, 1, 7.5}}) {
        SCOPED_TRACE(s.index);
        EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(s.index); }),
                  kWindowingWait + kNucWait);
        EXPECT_EQ(State().WindowingActive(), s.active);
        EXPECT_EQ(Tree<bool>(nodes::kWindowingActive), s.active);
        EXPECT_EQ(camera->Tree()->FieldsPerSample(), s.fields);
        EXPECT_EQ(State().Stream()->FieldCount(), s.fields);
        EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), s.graphRate);
        EXPECT_EQ(device->Control_GetFrameRate(), s.index);
        EXPECT_EQ(device->Control_GetFrameRates().Attribute("Selected"), std::to_string(s.index));
    }
    EXPECT_EQ(Tree<std::int32_t>(nodes::kNucCount), nucs + 3);

    // Without windowing active, a listed rate needs no settling.
    EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(2); }), milliseconds(0));
    auto e =
        CatchExactly<System::ArgumentOutOfRangeException>([&] { device->Control_SetFrameRate(5); });
    EXPECT_EQ(e ? e->ParamName() : "", "SetFrameRate");
}

TEST_F(ControlsTest, ConnectTakesOverTheCamerasWindowingAndDisconnectSwitchesItOff) {
    MakeCamera("fw-ir");
    camera->Tree()->Set(nodes::kWindowingFields, std::int32_t{4});
    camera->Tree()->Set(nodes::kWindowingActive, true);
    Connect();
    EXPECT_TRUE(State().WindowingActive());
    EXPECT_EQ(State().WindowingFields(), 4);
    EXPECT_EQ(State().Stream()->FieldCount(), 4);
    EXPECT_EQ(device->Control_GetFrameRate(), 3);  // N + 1 with N = 2
    EXPECT_EQ(SleptDuring([&] { device->Device_Disconnect(); }), kWindowingWait + kNucWait);
    EXPECT_FALSE(Tree<bool>(nodes::kWindowingActive));
}

TEST_F(ControlsTest, AnUnknownWindowingFieldCountIsTracedAndRefused) {
    MakeCamera("fw-ir");
    Connect();
    device->Control_SetFrameRate(2);
    State().Graph()->Stop();  // windowing left the graph running; no sample sees the bad count
    State().ForceWindowingFields(3);
    ExpectThrowsMessage<System::NotSupportedException>([&] { device->Control_GetFrameRate(); },
                                                       "Unsupported windowing mode");
    bool traced = false;
    for (const auto& r : log.Records())
        traced |= r.kind == Diagnostics::Log::LogKind::TraceError &&
                  r.text == "Unsupported windowing mode";
    EXPECT_TRUE(traced);
}

// --- Correction, shutter and temperature ranges ------------------------------------------------

TEST_F(ControlsTest, TemperatureRangesAreListedSelectedAndSettled) {
    struct Case {
        const char* preset;
        std::vector<std::string> mins, maxs;  // TULA cameras use their own range set
    };
    for (const Case& c : {Case{"usb-ir", {"-20", "0"}, {"120", "500"}},
                          Case{"usb-ir-jls", {"-20", "100"}, {"150", "650"}}}) {
        SCOPED_TRACE(c.preset);
        MakeCamera(c.preset);
        Connect();
        XElement ranges = device->IRControl_GetTemperatureRanges();
        ASSERT_FALSE(ranges.IsNull());
        EXPECT_EQ(Attributes(ranges, "Range", "Min"), c.mins);
        EXPECT_EQ(Attributes(ranges, "Range", "Max"), c.maxs);
        EXPECT_EQ(ranges.Attribute("Selected"), "0");

        EXPECT_EQ(SleptDuring([&] { device->IRControl_SetTemperatureRange(1); }), kRangeWait);
        EXPECT_EQ(Tree<std::int32_t>(nodes::kRangeIndex), 1);
        EXPECT_EQ(device->IRControl_GetTemperatureRange(), 1);
        EXPECT_EQ(device->IRControl_GetTemperatureRanges().Attribute("Selected"), "1");
        // The camera's own refusal passes unchanged.
        ExpectThrowsMessage<System::ArgumentException>(
            [&] { device->IRControl_SetTemperatureRange(2); }, "no temperature range 2");
        TearDown();
    }
}

// A TULA camera must not stream while its range changes: the device stops, changes the range
// and starts again, which clears the counters. Other cameras keep streaming and counting.
TEST_F(ControlsTest, ARangeChangeRestartsStreamingOnlyOnTulaCameras) {
    struct Case {
        const char* preset;
        bool restarts;
    };
    for (const Case c : {Case{"usb-ir-jls", true}, Case{"usb-ir", false}}) {
        SCOPED_TRACE(c.preset);
        // Every sample is too short to decode, so every sample counts as lost.
        MakeCamera(c.preset,
                   [](zrf::sim::CameraPreset& p) { p.video.should_truncate_samples_to = 1000; });
        Connect();
        device->GrabContinous_Start();
        for (int i = 0; i < 5000 && device->GrabContinous_LostFrames() < 5; ++i)
            std::this_thread::sleep_for(milliseconds(1));
        const long deliveredBefore = camera->Video().FramesDelivered();
        const int lostBefore = device->GrabContinous_LostFrames();
        ASSERT_GE(lostBefore, 5);

        EXPECT_EQ(SleptDuring([&] { device->IRControl_SetTemperatureRange(1); }), kRangeWait);
        EXPECT_TRUE(device->GrabContinous_IsGrabbing());
        EXPECT_TRUE(camera->Video().IsStreaming());
        device->GrabContinous_Stop();
        const int lostAfter = device->GrabContinous_LostFrames();
        if (c.restarts) {
            // Only samples delivered after the call began can have been counted.
            EXPECT_LE(lostAfter, camera->Video().FramesDelivered() - deliveredBefore);
        } else {
            EXPECT_GE(lostAfter, lostBefore);
        }
        TearDown();
    }
}

TEST_F(ControlsTest, ARangeChangeOnATulaCameraStartsNothingIdleAndAFailedOneKeepsStreaming) {
    MakeCamera("usb-ir-jls");
    Connect();
    device->IRControl_SetTemperatureRange(1);
    EXPECT_FALSE(device->GrabContinous_IsGrabbing());
    EXPECT_FALSE(camera->Video().IsStreaming());

    device->GrabContinous_Start();
    ASSERT_TRUE(events->WaitForImages(2));
    ExpectThrowsMessage<System::ArgumentException>(
        [&] { device->IRControl_SetTemperatureRange(5); }, "no temperature range 5");
    EXPECT_TRUE(device->GrabContinous_IsGrabbing());
    const std::size_t before = events->ImageCount();
    EXPECT_TRUE(events->WaitForImages(before + 2));
}

// --- Focus ---------------------------------------------------------------------------------------

TEST_F(ControlsTest, FocusTypeFixesTheLimitsAndFromTwoHundredMirrorsThePosition) {
    struct Case {
        int focusType;
        bool mirrored;
    };
    for (const Case c : {Case{100, false}, Case{0, false}, Case{200, true}, Case{250, true}}) {
        SCOPED_TRACE(c.focusType);
        MakeCamera("usb-ir", [&](zrf::sim::CameraPreset& p) { p.tree->focusType = c.focusType; });
        Connect();
        EXPECT_EQ(State().FocusType(), c.focusType);
        EXPECT_EQ(device->Control_GetFocusMin(), 0);
        EXPECT_EQ(device->Control_GetFocusMax(), 65535);
        camera->Tree()->Set(nodes::kFocusPosition, std::int32_t{2000});
        EXPECT_EQ(device->Control_GetFocusPosition(), c.mirrored ? 65535 - 2000 : 2000);
        device->Control_SetFocusPosition(c.mirrored ? 65000 : 535);
        EXPECT_EQ(Tree<std::int32_t>(nodes::kFocusPosition), 535);
        EXPECT_EQ(device->Control_GetFocusPosition(), c.mirrored ? 65000 : 535);
        TearDown();
    }
}

TEST_F(ControlsTest, FocusModesMoveTheLensAndUnknownModesDoNothing) {
    struct Case {
        FocusMode mode;
        int lastMode;
        int position;  // from 2000, in steps of 100; auto goes to the middle of 0..4000
    };
    MakeCamera("usb-ir");
    Connect();
    for (const Case c : {Case{FocusMode::Near, 0, 1900}, Case{FocusMode::Far, 1, 2000},
                         Case{FocusMode::Stop, 2, 2000}, Case{FocusMode::Auto, 3, 2000},
                         Case{static_cast<FocusMode>(7), 3, 2000}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        device->Control_Focus(c.mode);
        EXPECT_EQ(Tree<std::int32_t>(nodes::kFocusMode), c.lastMode);
        EXPECT_EQ(Tree<std::int32_t>(nodes::kFocusPosition), c.position);
    }
}

TEST_F(ControlsTest, WithoutAFocusTypeTheLimitsComeFromTheCameraAndFailuresAreSwallowed) {
    MakeCamera("fw-ir");  // this family's focus type is never read
    Connect();
    EXPECT_EQ(State().FocusType(), -1);
    EXPECT_EQ(State().FocusMaxCache(), -1);
    EXPECT_EQ(device->Control_GetFocusMin(), 0);
    EXPECT_EQ(device->Control_GetFocusMax(), 4000);
    EXPECT_EQ(State().FocusMaxCache(), 4000);

    MakeCamera("usb-ir", [](zrf::sim::CameraPreset& p) { p.tree->focusQueriesFail = true; });
    Connect();  // the focus type cannot be read: no fixed limits
    EXPECT_EQ(State().FocusType(), -1);
    EXPECT_NO_THROW(device->Control_Focus(FocusMode::Near));
    EXPECT_EQ(device->Control_GetFocusMax(), 0);
    EXPECT_FALSE(State().FocusAvailable());
    EXPECT_EQ(device->Control_GetFocusMin(), 0);
    EXPECT_EQ(device->Control_GetFocusPosition(), 0);
}

TEST_F(ControlsTest, AFailedFocusQueryDisablesFocusAcrossReconnectsUntilFocusSupportIsAsked) {
    MakeCamera("fw-ir");
    Connect();
    camera->Tree()->Set(nodes::kFocusPosition, std::int32_t{1500});
    camera->Tree()->SetOnline(false);  // the query fails
    EXPECT_EQ(device->Control_GetFocusPosition(), 0);
    camera->Tree()->SetOnline(true);
    device->Device_Disconnect();
    Connect();
    EXPECT_FALSE(State().FocusAvailable());
    EXPECT_EQ(device->Control_GetFocusPosition(), 0);
    EXPECT_EQ(device->Control_GetFocusMax(), 0);

    auto command = DeviceCommand::Create(32, "FocusSupport");
    device->Device_ExecuteCommand(command.XmlData());
    EXPECT_EQ(command.ReturnValues("Result"), std::vector<std::string>{"true"});
    EXPECT_EQ(device->Control_GetFocusPosition(), 1500);
    device->Device_Disconnect();
    Connect();  // the limits were cached as 0 until this connect
    EXPECT_EQ(device->Control_GetFocusMax(), 4000);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
