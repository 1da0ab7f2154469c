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

const std::string kThreeListedRates =
    "rates=333333,666666,1333333;format-rates=333333,666666,1333333,2000000";

std::vector<std::string> Attributes(const XElement& element, const char* child, const char* name) {
    std::vector<std::string> values;
    for (const XElement& e : element.Elements(child))
        values.push_back(e.Attribute(name).value_or("?"));
    return values;
}

using ControlsTest = DeviceTest;

// --- Frame rates ---------------------------------------------------------------------------

TEST_F(ControlsTest, FrameRatesAreTheGraphListReversed) {
    MakeCamera("usb-ir", kThreeListedRates);
    Connect();
    ASSERT_EQ(State().Graph()->FrameRates(), (std::vector<float>{30.0f, 15.0f, 7.5f}));
    const XElement rates = device->Control_GetFrameRates();
    EXPECT_EQ(rates.Attribute("IsCameraAsync"), "false");
    EXPECT_EQ(Attributes(rates, "Range", "FramesPerSecond"),
              (std::vector<std::string>{"7.5", "15", "30"}));
    EXPECT_EQ(rates.Attribute("Selected"), "2");  // USB cameras start at the list's first rate
    // Host index i is graph entry N - 1 - i; 5, below every listed rate, falls through to the
    // last index.
    for (const auto& [rate, index] : {std::pair{15.0, 1}, {30.0, 2}, {7.5, 0}, {5.0, 2}}) {
        SCOPED_TRACE(rate);
        State().Graph()->SetFrameRate(rate);
        ASSERT_DOUBLE_EQ(State().Graph()->GetFrameRate(), rate);
        EXPECT_EQ(device->Control_GetFrameRate(), index);
        EXPECT_NEAR(State().Stream()->FrameRate(), rate, 1e-4);  // the exact rate, not cut
    }
    for (const auto& [rate, index] : {std::pair{7.5, 0}, {15.0, 1}, {30.0, 2}}) {
        EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(index); }), milliseconds(0));
        EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), rate);
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
        if (!CameraOfThisBuild(preset)) continue;
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
    CameraTree()->SetOnline(false);
    EXPECT_TRUE(CatchExactly<System::ArgumentOutOfRangeException>([&] {
                    device->Control_SetFrameRate(3);
                }).has_value());
    allRefused();
    CameraTree()->SetOnline(true);
    device->Device_Disconnect();
    allRefused();
    EXPECT_FALSE(State().HasGraph());
}

// --- Windowing -------------------------------------------------------------------------------

TEST_F(ControlsTest, WindowingEntriesSwitchFieldsAndBack) {
    MakeCamera("fw-ir", kThreeListedRates);
    Connect();
    ASSERT_TRUE(State().HasWindowing());
    EXPECT_EQ(Attributes(device->Control_GetFrameRates(), "Range", "FramesPerSecond"),
              (std::vector<std::string>{"7.5", "15", "30", "60", "120"}));
    const int nucs = Tree<std::int32_t>(nodes::kNucCount);
    // On, from 2 to 4 fields, then off again to the slowest listed rate: index, active, fields
    // in the stream, the graph's rate.
    for (const auto& [index, active, fields, graphRate] :
         {std::tuple{3, true, 2, 30.0}, {4, true, 4, 30.0}, {0, false, 1, 7.5}}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(index); }),
                  kWindowingWait + kNucWait);
        EXPECT_EQ(std::pair(State().WindowingActive(), Tree<bool>(nodes::kWindowingActive)),
                  std::pair(active, active));
        EXPECT_EQ(std::pair(CameraTree()->FieldsPerSample(), State().Stream()->FieldCount()),
                  std::pair(fields, fields));
        EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), graphRate);
        EXPECT_EQ(device->Control_GetFrameRate(), index);
        EXPECT_EQ(device->Control_GetFrameRates().Attribute("Selected"), std::to_string(index));
    }
    EXPECT_EQ(Tree<std::int32_t>(nodes::kNucCount), nucs + 3);

    // Without windowing active, a listed rate needs no settling.
    EXPECT_EQ(SleptDuring([&] { device->Control_SetFrameRate(2); }), milliseconds(0));
    auto e =
        CatchExactly<System::ArgumentOutOfRangeException>([&] { device->Control_SetFrameRate(5); });
    EXPECT_EQ(e ? e->ParamName() : "", "SetFrameRate");
}

TEST_F(ControlsTest, ConnectTakesOverTheCamerasWindowingAndUnknownFieldCountsAreRefused) {
    MakeCamera("fw-ir");
    CameraTree()->Set(nodes::kWindowingFields, std::int32_t{4});
    CameraTree()->Set(nodes::kWindowingActive, true);
    Connect();
    EXPECT_TRUE(State().WindowingActive());
    EXPECT_EQ(std::pair(State().WindowingFields(), State().Stream()->FieldCount()),
              std::pair(4, 4));
    EXPECT_EQ(device->Control_GetFrameRate(), 3);  // N + 1 with N = 2
    EXPECT_EQ(SleptDuring([&] { device->Device_Disconnect(); }), kWindowingWait + kNucWait);
    EXPECT_FALSE(Tree<bool>(nodes::kWindowingActive));
    // A field count no camera reports is traced and refused.
    Connect();
    device->Control_SetFrameRate(2);
    State().Graph()->Stop();  // windowing left the graph running; no sample sees the bad count
    State().ForceWindowingFields(3);
    ExpectThrowsMessage<System::NotSupportedException>([&] { device->Control_GetFrameRate(); },
                                                       "Unsupported windowing mode");
    const auto records = log.Records();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const auto& r) {
        return r.kind == Diagnostics::Log::LogKind::TraceError &&
               r.text == "Unsupported windowing mode";
    }));
}

// --- Correction, shutter and temperature ranges ------------------------------------------------

TEST_F(ControlsTest, TemperatureRangesAreListedSelectedAndSettled) {
    using Strings = std::vector<std::string>;  // TULA cameras use their own range set
    for (const auto& [preset, mins, maxs] :
         {std::tuple{"usb-ir", Strings{"-20", "0"}, Strings{"120", "500"}},
          std::tuple{"usb-ir-jls", Strings{"-20", "100"}, Strings{"150", "650"}}}) {
        SCOPED_TRACE(preset);
        if (!CameraOfThisBuild(preset)) continue;
        MakeCamera(preset);
        Connect();
        XElement ranges = device->IRControl_GetTemperatureRanges();
        ASSERT_FALSE(ranges.IsNull());
        EXPECT_EQ(Attributes(ranges, "Range", "Min"), mins);
        EXPECT_EQ(Attributes(ranges, "Range", "Max"), maxs);
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
    for (const bool tula : {true, false}) {
        SCOPED_TRACE(tula);
        const bool restarts = tula;
        // Every sample is too short to decode, so every sample counts as lost.
        MakeCamera("usb-ir", std::string("truncate-samples=1000;tula=") + (tula ? "1" : "0"));
        Connect();
        device->GrabContinous_Start();
        for (int i = 0; i < 5000 && device->GrabContinous_LostFrames() < 5; ++i)
            std::this_thread::sleep_for(milliseconds(1));
        const std::uint64_t deliveredBefore = SamplesSent();
        const int lostBefore = device->GrabContinous_LostFrames();
        ASSERT_GE(lostBefore, 5);

        EXPECT_EQ(SleptDuring([&] { device->IRControl_SetTemperatureRange(1); }), kRangeWait);
        EXPECT_TRUE(device->GrabContinous_IsGrabbing());
        EXPECT_TRUE(CameraStreaming());
        device->GrabContinous_Stop();
        const int lostAfter = device->GrabContinous_LostFrames();
        if (restarts) {
            // Only samples delivered after the call began can have been counted.
            EXPECT_LE(static_cast<std::uint64_t>(lostAfter), SamplesSent() - deliveredBefore);
        } else {
            EXPECT_GE(lostAfter, lostBefore);
        }
        TearDown();
    }
}

TEST_F(ControlsTest, ARangeChangeOnATulaCameraStartsNothingIdleAndAFailedOneKeepsStreaming) {
    MakeCamera("usb-ir", "tula=1");
    Connect();
    device->IRControl_SetTemperatureRange(1);
    EXPECT_FALSE(device->GrabContinous_IsGrabbing());
    EXPECT_FALSE(CameraStreaming());

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
    for (const auto& [focusType, mirrored] :
         {std::pair{100, false}, {0, false}, {200, true}, {250, true}}) {
        SCOPED_TRACE(focusType);
        MakeCamera("usb-ir", "focus-type=" + std::to_string(focusType));
        Connect();
        EXPECT_EQ(State().FocusType(), focusType);
        EXPECT_EQ(std::pair(device->Control_GetFocusMin(), device->Control_GetFocusMax()),
                  std::pair(0, 65535));
        CameraTree()->Set(nodes::kFocusPosition, std::int32_t{2000});
        EXPECT_EQ(device->Control_GetFocusPosition(), mirrored ? 65535 - 2000 : 2000);
        device->Control_SetFocusPosition(mirrored ? 65000 : 535);
        EXPECT_EQ(Tree<std::int32_t>(nodes::kFocusPosition), 535);
        EXPECT_EQ(device->Control_GetFocusPosition(), mirrored ? 65000 : 535);
        TearDown();
    }
}

TEST_F(ControlsTest, FocusModesMoveTheLensAndUnknownModesDoNothing) {
    MakeCamera("usb-ir");
    Connect();
    // The mode, the camera's last mode and position after: from 2000, in steps of 100; auto goes
    // to the middle of 0..4000.
    for (const auto& [mode, lastMode, position] : {std::tuple{FocusMode::Near, 0, 1900},
                                                   {FocusMode::Far, 1, 2000},
                                                   {FocusMode::Stop, 2, 2000},
                                                   {FocusMode::Auto, 3, 2000},
                                                   {static_cast<FocusMode>(7), 3, 2000}}) {
        device->Control_Focus(mode);
        EXPECT_EQ(std::pair(Tree<std::int32_t>(nodes::kFocusMode),
                            Tree<std::int32_t>(nodes::kFocusPosition)),
                  std::pair(lastMode, position))
            << static_cast<int>(mode);
    }
}

TEST_F(ControlsTest, WithoutAFocusTypeTheLimitsComeFromTheCameraAndFailuresAreSwallowed) {
    MakeCamera("fw-ir");  // this family's focus type is never read
    Connect();
    EXPECT_EQ(std::pair(State().FocusType(), State().FocusMaxCache()), std::pair(-1, -1));
    EXPECT_EQ(std::pair(device->Control_GetFocusMin(), device->Control_GetFocusMax()),
              std::pair(0, 4000));
    EXPECT_EQ(State().FocusMaxCache(), 4000);

    MakeCamera("usb-ir", "focus-queries-fail=1");
    Connect();  // the focus type cannot be read: no fixed limits
    EXPECT_EQ(State().FocusType(), -1);
    EXPECT_NO_THROW(device->Control_Focus(FocusMode::Near));
    EXPECT_EQ(device->Control_GetFocusMax(), 0);
    EXPECT_FALSE(State().FocusAvailable());
    EXPECT_EQ(std::pair(device->Control_GetFocusMin(), device->Control_GetFocusPosition()),
              std::pair(0, 0));
    // A failed focus query disables focus across reconnects until focus support is asked.
    MakeCamera("fw-ir");
    Connect();
    CameraTree()->Set(nodes::kFocusPosition, std::int32_t{1500});
    CameraTree()->SetOnline(false);  // the query fails
    EXPECT_EQ(device->Control_GetFocusPosition(), 0);
    CameraTree()->SetOnline(true);
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
