// Every operation in every state a host thread can find the device in: the state after it, the
// exception where it is refused, and the fields an allowed combination afterwards. (The state
// a handler's stop leaves until it runs is the deferred tests' business.)
#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "host/commands/device_command.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

constexpr std::array kStates = {DeviceState::Created, DeviceState::HalfConnected, DeviceState::Connected,
                                DeviceState::Streaming, DeviceState::Disposed};

struct Outcome {
    DeviceState after;
    std::string thrown;  // "Type: message", empty when it returned
};

struct Row {
    const char* operation;
    std::function<void(CaptureDevice&, const XElement& identity)> call;
    std::array<Outcome, kStates.size()> outcomes;  // in the order of kStates
};

using S = DeviceState;
const std::string kNotConnected = "InvalidOperationException: Not connected";
const std::string kNotStarted = "InvalidOperationException: Grabbing not started";
const std::string kDisposed = "ObjectDisposedException: The device is disposed; create a new one.";
const std::string kNoChannel = "InvalidOperationException: The camera has no control channel";

// Leaves every state as it is and throws nothing.
std::array<Outcome, 5> Unchanged() {
    return {Outcome{S::Created, ""}, {S::HalfConnected, ""}, {S::Connected, ""}, {S::Streaming, ""},
            {S::Disposed, ""}};
}
// Refused with `thrown` where there is no connection (created, disposed); unchanged elsewhere.
std::array<Outcome, 5> NeedsConnection(const std::string& thrown = kNotConnected) {
    auto outcomes = Unchanged();
    outcomes[0].thrown = thrown;
    outcomes[4].thrown = thrown;
    return outcomes;
}

std::vector<Row> Rows() {
    using E = const XElement&;
    return {
        {"Device_Connect", [](CaptureDevice& d, E id) { d.Device_Connect(id); },
         {Outcome{S::Connected, ""}, {S::Connected, ""}, {S::Connected, ""}, {S::Connected, ""},
          {S::Disposed, kDisposed}}},
        {"Device_Disconnect", [](CaptureDevice& d, E) { d.Device_Disconnect(); },
         {Outcome{S::Created, kNotConnected}, {S::Created, ""}, {S::Created, ""}, {S::Created, ""},
          {S::Disposed, kNotConnected}}},
        {"Dispose", [](CaptureDevice& d, E) { d.Dispose(); },
         {Outcome{S::Disposed, ""}, {S::Disposed, ""}, {S::Disposed, ""}, {S::Disposed, ""},
          {S::Disposed, ""}}},
        {"GrabContinous_Start", [](CaptureDevice& d, E) { d.GrabContinous_Start(); },
         {Outcome{S::Created, kNotConnected}, {S::HalfConnected, "DeviceConnectionFailedException: Start failed"},
          {S::Streaming, ""}, {S::Streaming, ""}, {S::Disposed, kNotConnected}}},
        {"GrabContinous_Stop", [](CaptureDevice& d, E) { d.GrabContinous_Stop(); },
         {Outcome{S::Created, kNotStarted}, {S::HalfConnected, kNotStarted}, {S::Connected, kNotStarted},
          {S::Connected, ""}, {S::Disposed, kNotStarted}}},
        {"Device_IsConnected", [](CaptureDevice& d, E) { d.Device_IsConnected(); }, Unchanged()},
        {"Device_Heartbeat", [](CaptureDevice& d, E) { d.Device_Heartbeat(); }, Unchanged()},
        {"Device_XMLData", [](CaptureDevice& d, E) { d.Device_XMLData(); }, Unchanged()},
        {"Device_HighPerformance",
         [](CaptureDevice& d, E) { d.Device_HighPerformance(Entities::XmlUtils::HighPerformanceXml().XMLData()); },
         Unchanged()},
        {"Device_Identifier", [](CaptureDevice& d, E) { d.Device_Identifier(); }, Unchanged()},
        {"Device_ExecuteCommand",
         [](CaptureDevice& d, E) { d.Device_ExecuteCommand(DeviceCommand::Create(2, "Shutter").XmlData()); },
         Unchanged()},
        {"Grab_Grab", [](CaptureDevice& d, E) { d.Grab_Grab(); }, Unchanged()},
        {"Grab_EnumImageFormats", [](CaptureDevice& d, E) { d.Grab_EnumImageFormats(); }, Unchanged()},
        {"Grab_SelectImageFormat", [](CaptureDevice& d, E) { d.Grab_SelectImageFormat(0); }, NeedsConnection()},
        {"Grab_GetSelectedImageFormat", [](CaptureDevice& d, E) { d.Grab_GetSelectedImageFormat(); },
         NeedsConnection()},
        {"GrabContinous_IsGrabbing", [](CaptureDevice& d, E) { d.GrabContinous_IsGrabbing(); }, Unchanged()},
        {"GrabContinous_LapTime", [](CaptureDevice& d, E) { d.GrabContinous_LapTime(); }, Unchanged()},
        {"GrabContinous_LostFrames", [](CaptureDevice& d, E) { d.GrabContinous_LostFrames(); }, Unchanged()},
        {"IRControl_Nuc", [](CaptureDevice& d, E) { d.IRControl_Nuc(); }, Unchanged()},
        {"IRControl_GetShutter", [](CaptureDevice& d, E) { d.IRControl_GetShutter(); }, Unchanged()},
        {"IRControl_SetShutter", [](CaptureDevice& d, E) { d.IRControl_SetShutter(true); }, Unchanged()},
        {"IRControl_GetTemperatureRanges", [](CaptureDevice& d, E) { d.IRControl_GetTemperatureRanges(); },
         Unchanged()},
        {"IRControl_SetTemperatureRange", [](CaptureDevice& d, E) { d.IRControl_SetTemperatureRange(0); },
         NeedsConnection()},
        {"IRControl_GetTemperatureRange", [](CaptureDevice& d, E) { d.IRControl_GetTemperatureRange(); },
         NeedsConnection()},
        {"Control_Focus", [](CaptureDevice& d, E) { d.Control_Focus(FocusMode::Auto); }, Unchanged()},
        {"Control_SetFocusPosition", [](CaptureDevice& d, E) { d.Control_SetFocusPosition(5); },
         NeedsConnection(kNoChannel)},
        {"Control_GetFocusPosition", [](CaptureDevice& d, E) { d.Control_GetFocusPosition(); }, Unchanged()},
        {"Control_GetFocusMax", [](CaptureDevice& d, E) { d.Control_GetFocusMax(); }, Unchanged()},
        {"Control_GetFocusMin", [](CaptureDevice& d, E) { d.Control_GetFocusMin(); }, Unchanged()},
        {"Control_GetFrameRates", [](CaptureDevice& d, E) { d.Control_GetFrameRates(); }, NeedsConnection()},
        {"Control_GetFrameRate", [](CaptureDevice& d, E) { d.Control_GetFrameRate(); }, NeedsConnection()},
        {"Control_SetFrameRate", [](CaptureDevice& d, E) { d.Control_SetFrameRate(0); },
         {Outcome{S::Created, kNotConnected}, {S::HalfConnected, "ArgumentOutOfRangeException: SetFrameRate"},
          {S::Connected, ""}, {S::Streaming, ""}, {S::Disposed, kNotConnected}}},
        {"Recorder_Setup",
         [](CaptureDevice& d, E) { d.Recorder_Setup(Entities::XmlUtils::RecorderXml().XMLData()); },
         {Outcome{S::Created, ""}, {S::HalfConnected, ""}, {S::Connected, ""}, {S::Streaming, ""},
          {S::Disposed, kDisposed}}},
        // Recorder_Start follows the rule of these two; it would write a recording here.
        {"Recorder_Pause", [](CaptureDevice& d, E) { d.Recorder_Pause(0); }, Unchanged()},
        {"Recorder_Stop", [](CaptureDevice& d, E) { d.Recorder_Stop(0); }, Unchanged()},
        {"Recorder_IsRecording", [](CaptureDevice& d, E) { d.Recorder_IsRecording(); }, Unchanged()},
    };
}

std::string Text(const Outcome& o) {
    return std::string(NameOf(o.after)) + (o.thrown.empty() ? "" : " / " + o.thrown);
}

class StateTableTest : public DeviceTest {
  protected:
    // A device on the usb-ir camera brought into `state` through host calls.
    void Enter(DeviceState state) {
        MakeCamera("usb-ir");
        valid = IdentityElement();
        switch (state) {
            case S::Created: break;
            case S::HalfConnected: {
                // An identifier naming no transport: the connect stops after opening the channel.
                auto id = identity;
                id.identifier = "NORDA,Line_K,ZRF_XYZ,1.0.0,RTREE,1.0.0";
                Entities::XmlUtils::IdentityXml xml;
                zrf::sim::FillIdentityXml(id, xml);
                try {
                    device->Device_Connect(xml.XMLData());
                } catch (const System::Exception&) {
                }
                break;
            }
            case S::Connected: Connect(); break;
            case S::Streaming:
                Connect();
                device->GrabContinous_Start();
                break;
            case S::Disposed:
                Connect();
                device->Dispose();
                break;
            default: break;
        }
    }
    XElement valid;
};

TEST_F(StateTableTest, EveryOperationInEveryState) {
    std::ostringstream wrong;
    for (const Row& row : Rows()) {
        for (std::size_t i = 0; i < kStates.size(); ++i) {
            Enter(kStates[i]);
            ASSERT_EQ(State().StateNow(), kStates[i]) << "could not enter " << NameOf(kStates[i]);
            Outcome actual{};
            try {
                row.call(*device, valid);
            } catch (const System::ArgumentOutOfRangeException& e) {
                actual.thrown = "ArgumentOutOfRangeException: " + e.ParamName();
            } catch (const System::Exception& e) {
                const std::string type = e.TypeName();
                actual.thrown = type.substr(type.rfind('.') + 1) + ": " + e.Message();
            }
            actual.after = State().StateNow();
            const std::string broken = BrokenRule(State().Fields());
            if (Text(actual) != Text(row.outcomes[i]) || !broken.empty())
                wrong << row.operation << " in " << NameOf(kStates[i]) << ": " << Text(actual)
                      << (broken.empty() ? "" : " (" + broken + ")") << ", expected "
                      << Text(row.outcomes[i]) << "\n";
            TearDown();
        }
    }
    EXPECT_EQ(wrong.str(), "");
}

// The rules themselves: each field combination a past fault left behind is named.
TEST(DeviceStateRules, CombinationsNoOperationMayLeaveAreNamed) {
    DeviceFields connected;
    connected.graph = connected.stream = connected.channel = connected.imageHandler = true;
    connected.connectionBuilt = true;
    DeviceFields streaming = connected;
    streaming.isGrabbing = streaming.graphRunning = true;
    DeviceFields disposed;
    disposed.disposed = disposed.recorderRetired = true;
    DeviceFields afterDisconnect;  // only a stop clears the flag
    afterDisconnect.isGrabbing = true;
    afterDisconnect.recorder = true;
    for (const DeviceFields& allowed : {DeviceFields{}, connected, streaming, disposed, afterDisconnect})
        EXPECT_EQ(BrokenRule(allowed), "");

    struct Case {
        const char* name;
        std::function<void(DeviceFields&)> change;
        DeviceFields from;
    };
    const Case broken[] = {
        {"disposed with a graph", [](auto& f) { f.graph = f.stream = true; }, disposed},
        {"disposed with a recorder", [](auto& f) { f.recorder = true; }, disposed},
        {"disposed, recorder not retired", [](auto& f) { f.recorderRetired = false; }, disposed},
        {"retired recorder, not disposed", [](auto& f) { f.recorderRetired = true; }, connected},
        {"graph without stream", [](auto& f) { f.stream = false; f.imageHandler = false; }, connected},
        {"channel without graph", [](auto& f) { f.channel = true; }, DeviceFields{}},
        {"image handler without stream", [](auto& f) { f.imageHandler = true; }, DeviceFields{}},
        {"built without graph", [](auto& f) { f.connectionBuilt = true; }, DeviceFields{}},
        {"running, not grabbing", [](auto& f) { f.isGrabbing = false; }, streaming},
        {"running, not built", [](auto& f) { f.connectionBuilt = false; }, streaming},
        {"windowing without connection", [](auto& f) { f.hasWindowing = true; }, DeviceFields{}},
        {"windowing active, not available", [](auto& f) { f.windowingActive = true; }, connected},
    };
    for (const Case& c : broken) {
        DeviceFields f = c.from;
        c.change(f);
        EXPECT_NE(BrokenRule(f), "") << c.name;
    }
    EXPECT_EQ(StateOf(streaming), DeviceState::Streaming);
    DeviceFields stopping = streaming;
    stopping.deferredAsked = true;
    EXPECT_EQ(StateOf(stopping), DeviceState::Stopping);
    DeviceFields half = connected;
    half.connectionBuilt = false;
    EXPECT_EQ(StateOf(half), DeviceState::HalfConnected);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
