// Numbered commands against simulated cameras: the error paths every command shares, then each
// command's input, action and return values.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <string>
#include <vector>

#include "capture/mtx_graph.h"
#include "device_fixture.h"
#include "expect_exception.h"
#include "host/commands/device_command.h"
#include "tests/host/recorder/temp_dir.h"

namespace Vorn::Zephra::Net::Devices::Camera::IR {
namespace {

namespace nodes = zrf::sim::nodes;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

constexpr const char* kNoChannel = "The camera has no control channel";

using Param = std::tuple<std::string, std::string, std::string>;  // name, type, value

class CommandsTest : public DeviceTest {
  protected:
    // Runs one command and checks that the reply is the element that went in.
    DeviceCommand Execute(std::int32_t id, const std::vector<Param>& params = {},
                          const std::string& name = "Command") {
        DeviceCommand command = DeviceCommand::Create(id, name);
        for (const auto& [name, type, value] : params) command.AddParameter(name, type, value);
        const XElement in = command.XmlData();
        const XElement reply = device->Device_ExecuteCommand(in);
        EXPECT_TRUE(reply.SameAs(in));
        return DeviceCommand(reply);
    }

    // Runs a command that must fail and returns its recorded error; a failed command adds no
    // return values.
    std::string ExecuteFailing(std::int32_t id, const std::vector<Param>& params = {},
                               const std::string& name = "Command") {
        DeviceCommand reply = Execute(id, params, name);
        EXPECT_TRUE(reply.XmlData().Elements("Return").empty()) << reply.XmlData().ToString();
        return reply.Error();
    }
};

// --- What every command shares -------------------------------------------------------------------

TEST_F(CommandsTest, ADisconnectedDeviceAnswersEveryIdentifierWithNotConnected) {
    MakeCamera("usb-ir");
    for (int round = 0; round < 3; ++round) {
        if (round == 1) Connect(), device->Device_Disconnect();
        if (round == 2) Connect(), CameraTree()->SetOnline(false);  // the channel lost its camera
        for (std::int32_t id : {-1, 1, 3, 21, 41, 82, 90, 100, 121, 9999}) {
            EXPECT_EQ(
                ExecuteFailing(id, {{"Index", "Int32", "1"}, {"Cmd", "String", "Camera.Name"}}),
                "Not connected")
                << id << " in round " << round;
        }
    }
    CameraTree()->SetOnline(true);
}

TEST_F(CommandsTest, OnlyTheTablesIdentifiersAreImplemented) {
    MakeCamera("usb-ir");
    Connect();
    ExpectThrowsMessage<System::ArgumentException>(
        [&] { device->Device_ExecuteCommand(XElement()); }, System::ArgumentException().Message());
    for (std::int32_t id : {0, 4, 22, 83, 122, -7, 1000}) {
        SCOPED_TRACE(id);
        const std::string name = "Name" + std::to_string(id);
        EXPECT_EQ(ExecuteFailing(id, {}, name), "Command not implemented: " + name);
    }
    DeviceCommand command = DeviceCommand::Create(1, "Nuc");
    command.XmlData().SetAttribute("Id", "one");
    device->Device_ExecuteCommand(command.XmlData());
    EXPECT_EQ(command.Error(), "Command Id is not a 32-bit integer: 'one'");
    EXPECT_EQ(Tree<std::int32_t>(nodes::kNucCount), 0);
    // 82 does nothing at all: the document comes back as it went in.
    DeviceCommand nothing = DeviceCommand::Create(82, "Nothing");
    nothing.AddParameter("Index", "Int32", "3");
    const std::string before = nothing.XmlData().ToString();
    EXPECT_EQ(device->Device_ExecuteCommand(nothing.XmlData()).ToString(), before);
}

// --- The table's commands, in order on one camera ----------------------------------------------

TEST_F(CommandsTest, EachCommandActsAndAnswersOnAnInfraredCamera) {
    MakeCamera("usb-ir");  // 30, 15 and 7.5 frames per second; focus type 100: limits 0 and 65535
    Connect();
    struct Step {
        std::int32_t id;
        std::vector<Param> params;
        std::vector<std::pair<std::string, Strings>> returns;  // or, when failing:
        std::string error = {};
        milliseconds slept{0};
    };
    const Step steps[] = {
        {1, {}, {{"Result", {"true"}}}, {}, milliseconds(3000)},
        {2, {{"Enabled", "Boolean", "true"}}, {{"Enabled", {"true"}}}},
        {2, {}, {{"Enabled", {"true"}}}},
        {3, {}, {{"IsSupported", {"true"}}}},
        {20, {}, {{"Range", {"-20.00;120.00", "0.00;500.00"}}}},
        {21, {{"Index", "Int32", "1"}}, {{"Index", {"1"}}}, {}, milliseconds(5000)},
        {21, {}, {{"Index", {"1"}}}},
        {31, {{"Value", "Int32", "-5"}}, {{"Current", {"2000"}}, {"Min", {"0"}}, {"Max", {"65535"}}}},
        {31, {{"Value", "Int32", "0"}}, {{"Current", {"0"}}}},
        {31, {{"Value", "Int32", "1234"}}, {{"Current", {"1234"}}}},
        {31, {}, {{"Current", {"1234"}}}},
        {41, {}, {{"Index", {"2"}}}},
        {41, {{"Index", "Int32", "0"}}, {{"Index", {"0"}}}},
        {41, {}, {{"Index", {"0"}}}},
        {41, {{"Index", "Int32", "3"}}, {}, System::ArgumentOutOfRangeException("SetFrameRate").Message()},
        {41, {{"Index", "Int32", "zero"}}, {}, "Parameter 'Index' is not a 32-bit integer: 'zero'"},
        {50, {}, {{"Formats", {"640;480"}}}},
        {51, {}, {{"Index", {"0"}}}},
        {51, {{"Index", "Int32", "4"}}, {{"Index", {"4"}}}},
        {120, {{"Cmd", "String", nodes::kName}}, {{"Reply", {"NORDA Line K"}}}},
        {120, {{"Cmd", "String", nodes::kShutterClosed}}, {{"Reply", {"true"}}}},
        {120, {{"Cmd", "String", "No.Such.Node"}}, {{"Reply", {"Unknown node: unknown node 'No.Such.Node'"}}}},
        {120, {}, {{"Reply", {}}}},
        {30, {{"FocusMode", "UInt32", "3"}}, {{"Result", {"true"}}}},
        {30, {}, {{"Result", {"true"}}}},  // no mode: near
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.id);
        std::optional<DeviceCommand> reply;
        EXPECT_EQ(SleptDuring([&] { reply = Execute(step.id, step.params); }), step.slept);
        EXPECT_EQ(reply->Error(), step.error);
        for (const auto& [name, values] : step.returns) EXPECT_EQ(reply->ReturnValues(name), values) << name;
        EXPECT_TRUE(step.error.empty() || reply->XmlData().Elements("Return").empty());
    }
    EXPECT_EQ(std::tuple(Tree<std::int32_t>(nodes::kNucCount), Tree<bool>(nodes::kShutterClosed),
                         Tree<std::int32_t>(nodes::kRangeIndex),
                         Tree<std::int32_t>(nodes::kFocusMode)),
              std::tuple(1, true, 1, 0));
    EXPECT_DOUBLE_EQ(State().Graph()->GetFrameRate(), 7.5);
    // Camera information is refreshed into the reply.
    const Strings info = Execute(100).ReturnValues("CameraInfo");
    ASSERT_EQ(info.size(), 1u);
    const XElement record = XElement::Parse(info[0]);
    EXPECT_EQ(std::tuple(record.Name(), record.Attribute("Name"), record.Attribute("SerialNumber"),
                         record.Attribute("Article")),
              std::tuple("CameraInformation", "NORDA Line K", "1234567", "ZRF-USB-640"));

    // A changed lens fails the range change; the camera's read failures fail the command.
    CameraTree()->Set(nodes::kLensId, std::int32_t{7});
    EXPECT_EQ(SleptDuring([&] {
                  EXPECT_EQ(ExecuteFailing(21, {{"Index", "Int32", "0"}}),
                            "lens changed. Temp. ranges invalid");
              }),
              milliseconds(0));
    EXPECT_EQ(Tree<std::int32_t>(nodes::kRangeIndex), 1);
}

TEST_F(CommandsTest, OtherFamiliesAndCamerasAnswerForThemselves) {
    MakeCamera("usb-ir-jls");  // this family is not supported
    Connect();
    EXPECT_EQ(Execute(3).ReturnValues("IsSupported"), Strings{"false"});
    EXPECT_EQ(Execute(50).ReturnValues("Formats"), Strings{"320;240"});

    MakeCamera("usb-ir", "ranges=;focus-supported=0;focus-queries-fail=1");
    Connect();
    DeviceCommand none = Execute(20);
    EXPECT_EQ(std::pair(none.ReturnValues("Range"), none.Error()),
              std::pair(Strings{}, std::string()));
    EXPECT_EQ(Execute(32).ReturnValues("Result"), Strings{"false"});
    EXPECT_FALSE(State().FocusAvailable());
    EXPECT_EQ(Execute(31).ReturnValues("Current"), Strings{"0"});  // no longer asked
    EXPECT_EQ(ExecuteFailing(120, {{"Cmd", "String", nodes::kFocusType}}),
              "The camera failed: focus motor does not answer");
}

// --- Frame rates

// 9 and then 30 frames per second: the host order is the graph's, reversed, then the windowing
// rates. (The plain list of a USB camera is the command line's own end-to-end check.)
TEST_F(CommandsTest, FrameRatesAreListedInHostOrderThenTheWindowingRates) {
    MakeCamera("fw-ir", "rates=1111111,333333");
    Connect();
    EXPECT_EQ(Execute(40).ReturnValues("FrameRates"), (Strings{"30.00", "9.00", "60.00", "120.00"}));
}

// --- The resource tree --------------------------------------------------------------------------

TEST_F(CommandsTest, AScriptFileRunsAgainstTheTree) {
    MakeCamera("usb-ir");
    Connect();
    TempDir dir;
    auto script = [&](const std::string& text) {
        std::ofstream(dir.File("script.txt")) << text;
        return dir.File("script.txt");
    };
    const std::string file = script("# closes the shutter\nset Camera.Shutter.Closed true\nnuc\n");
    DeviceCommand reply = Execute(90, {{"Filename", "String", file}});
    EXPECT_EQ(reply.Error(), "");
    EXPECT_TRUE(reply.XmlData().Elements("Return").empty());
    EXPECT_EQ(std::pair(Tree<bool>(nodes::kShutterClosed), Tree<std::int32_t>(nodes::kNucCount)),
              std::pair(true, 1));

    EXPECT_EQ(ExecuteFailing(
                  90, {{"Filename", "String", script("set Camera.Shutter.Closed false\nbogus\n")}}),
              "script line 2: cannot read 'bogus'");
    EXPECT_FALSE(Tree<bool>(nodes::kShutterClosed));  // lines before the bad one ran

    // Whatever is not a readable regular file of a script's size is refused unread: nothing
    // blocks on a pipe or reads a device without end.
    const std::string folder = dir.Path(), big = dir.File("big");
    std::ofstream(big, std::ios::binary) << std::string(2u << 20, 'x');
    std::vector<std::pair<std::string, std::string>> refused = {
        {file, "No such file or directory"}, {folder, "it is a folder"}, {big, "larger than 1 MiB"}};
#ifndef _WIN32
    // Devices and pipes as POSIX names them.
    const std::string pipe = dir.File("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    refused.insert(refused.end(), {{"/proc/self/mem", "Input/output error"},
                                   {"/dev/zero", "not a regular file"},
                                   {pipe, "not a regular file"}});
#endif
    for (const auto& [name, why] : refused) {
        if (name == file) std::filesystem::remove(file);
        EXPECT_EQ(ExecuteFailing(90, {{"Filename", "String", name}}),
                  "Could not read the script file '" + name + "': " + why + ".");
    }
    EXPECT_EQ(Execute(90).Error(), "");  // no file named: nothing to run
}

TEST_F(CommandsTest, WritingANodeTakesTheFirstValueParameterPresent) {
    MakeCamera("usb-ir");
    Connect();
    // The node, the values, the node's text afterwards, the camera's refusal (answered as Result
    // false) or the command's error.
    const std::string rangeMin = nodes::RangeMin(0);
    using Case = std::tuple<const char*, std::vector<Param>, std::string, const char*, std::string>;
    const Case cases[] = {
        {nodes::kFocusPosition, {{"ResInteger", "Int32", "300"}}, "300", "", ""},
        {rangeMin.c_str(), {{"ResDouble", "Double", "-30.5"}}, "-30.5", "", ""},
        {nodes::kShutterClosed, {{"ResBoolean", "Boolean", "true"}}, "true", "", ""},
        {nodes::kLensId, {{"ResStringA", "String", "3"}}, "3", "", ""},
        // The integer wins; a boolean write to this node would have been refused.
        {nodes::kFocusPosition, {{"ResBoolean", "Boolean", "true"}, {"ResInteger", "Int32", "400"}}, "400", "", ""},
        {nodes::kName, {{"ResStringA", "String", "x"}}, "NORDA Line K", "node 'Camera.Name' is read-only", ""},
        {"No.Such.Node", {{"ResStringA", "String", "x"}}, "", "Unknown node: unknown node 'No.Such.Node'", ""},
        // A value of the wrong kind is not a refusal: the command fails; so does a missing value.
        {nodes::kShutterClosed, {{"ResInteger", "Int32", "1"}}, "true", "", "value of the wrong kind"},
        {nodes::kShutterClosed, {}, "true", "", System::InvalidOperationException().Message()},
    };
    for (const auto& [node, values, written, refusal, error] : cases) {
        SCOPED_TRACE(node);
        std::vector<Param> params = {{"Cmd", "String", node}};
        params.insert(params.end(), values.begin(), values.end());
        DeviceCommand reply = Execute(121, params);
        EXPECT_EQ(reply.Error(), error);
        if (!error.empty()) continue;
        EXPECT_EQ(reply.ReturnValues("Cmd"), Strings{node});
        EXPECT_EQ(reply.ReturnValues("Result"), Strings{*refusal ? "false" : "true"});
        EXPECT_EQ(reply.ReturnValues("Error"), *refusal ? Strings{refusal} : Strings{});
        EXPECT_TRUE(written.empty() || zrf::sim::ToText(CameraTree()->Get(node)) == written);
    }
}

// --- Web camera ----------------------------------------------------------------------------------

TEST_F(CommandsTest, AWebCameraFailsTheCommandsThatNeedTheCameraTree) {
    MakeCamera("webcam");
    Connect();
    using Params = std::vector<Param>;
    for (const auto& [id, params] :
         {std::pair{20, Params{}}, {21, {{"Index", "Int32", "0"}}}, {31, {{"Value", "Int32", "5"}}},
          {90, {{"Filename", "String", "/nonexistent/script.txt"}}},
          {120, {{"Cmd", "String", nodes::kName}}},
          {121, {{"Cmd", "String", nodes::kLensId}, {"ResInteger", "Int32", "2"}}},
          {121, {{"Cmd", "String", nodes::kLensId}}}})
        EXPECT_EQ(ExecuteFailing(id, params), kNoChannel) << id;
    EXPECT_EQ(Execute(2).ReturnValues("Enabled"), Strings{"false"});
    EXPECT_EQ(Execute(21).ReturnValues("Index"), Strings{"0"});
    EXPECT_EQ(Execute(32).ReturnValues("Result"), Strings{"false"});
    EXPECT_TRUE(device->Device_IsConnected());
    // The IR controls are ignored; the graph's rates still work.
    EXPECT_EQ(SleptDuring([&] {
                  device->IRControl_Nuc();
                  device->IRControl_SetShutter(true);
                  for (auto mode : {FocusMode::Near, FocusMode::Far, FocusMode::Stop, FocusMode::Auto})
                      device->Control_Focus(mode);
              }),
              milliseconds(0));
    EXPECT_TRUE(device->IRControl_GetTemperatureRanges().IsNull());
    EXPECT_EQ(device->Control_GetFrameRates().Elements("Range").size(), 2u);
}

}  // namespace
}  // namespace Vorn::Zephra::Net::Devices::Camera::IR
